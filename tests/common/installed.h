// A stand-in for an installed copy of the application, as the updater sees
// one: a folder holding "RT_IDX.DAT" (data version as text at offset 72),
// "MIRO42.DLL" (a real DLL, built from tests/fixtures/miro42_fixture.cpp)
// and "MIRO42.INI", optionally registered under
// HKEY_LOCAL_MACHINE\Software\Kevrani\ルミテル ミルテ版\<subkey> "Path".
//
// A test that makes installed copies must build the DLL first: in its
// .cmake piece, add_dependencies(<test> MIRO42_fixture).
#pragma once

#include <string>

// The registry key under HKEY_LOCAL_MACHINE (code page 932 bytes).
extern const char INSTALLED_KEY[];

// The bytes of a data file: size bytes (0x00 padded) with the magic "RTIX" at
// the start and version at offset 72. A version of 8 bytes or more fills the
// whole field without terminator (longer ones are cut at 8).
std::string DataFileBytes(const std::string &version, size_t size = 128);

// Makes the fresh folder C:\lumitest\NAME\ (MakeTestDir) with the three
// files, the data file holding version. Returns the folder with its trailing
// backslash, or "" when a file could not be written.
std::string MakeInstalledFolder(const std::string &name, const std::string &version);

// Creates (or replaces) the subkey with its string value "Path" = path,
// written as given (no backslash is added). Keys in code page 932.
bool RegisterInstalled(const std::string &subkey, const std::string &path);
// Removes the subkey, then the application's key and its vendor key when
// nothing else is left in them.
void UnregisterInstalled(const std::string &subkey);

// Registers on construction, unregisters on destruction.
class InstalledRegistration {
public:
    InstalledRegistration(const std::string &subkey, const std::string &path);
    ~InstalledRegistration();
    InstalledRegistration(const InstalledRegistration &) = delete;
    InstalledRegistration &operator=(const InstalledRegistration &) = delete;
    bool ok() const { return ok_; }

private:
    std::string subkey_;
    bool ok_;
};
