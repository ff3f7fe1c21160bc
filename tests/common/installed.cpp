#include "installed.h"

#include "testutil.h"

#include <windows.h>

#include <algorithm>

const char INSTALLED_KEY[] = "Software\\Kevrani\\ルミテル ミルテ版";

namespace {

const char VENDOR_KEY[] = "Software\\Kevrani";
const size_t DATA_VERSION_OFFSET = 72;
const size_t DATA_VERSION_SIZE = 8;

// Deletes key when it has neither subkeys nor values left.
void DeleteKeyIfEmpty(const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0, values = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
}

} // namespace

std::string DataFileBytes(const std::string &version, size_t size)
{
    std::string bytes(std::max(size, DATA_VERSION_OFFSET + DATA_VERSION_SIZE), '\0');
    bytes.replace(0, 4, "RTIX");
    bytes.replace(DATA_VERSION_OFFSET, std::min(version.size(), DATA_VERSION_SIZE),
                  version.substr(0, DATA_VERSION_SIZE));
    bytes.resize(size);
    return bytes;
}

std::string MakeInstalledFolder(const std::string &name, const std::string &version)
{
    std::string dir = MakeTestDir(name);
    if (!WriteFileBytes(dir + "RT_IDX.DAT", DataFileBytes(version)) ||
        !CopyFileA((BinDir() + "MIRO42_fixture.dll").c_str(), (dir + "MIRO42.DLL").c_str(), FALSE) ||
        !WriteFileBytes(dir + "MIRO42.INI", "[MAIN]\r\nINSTALLED=\r\n"))
        return "";
    return dir;
}

bool RegisterInstalled(const std::string &subkey, const std::string &path)
{
    std::string keyPath = std::string(INSTALLED_KEY) + "\\" + subkey;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE *)path.c_str(), (DWORD)path.size() + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void UnregisterInstalled(const std::string &subkey)
{
    std::string keyPath = std::string(INSTALLED_KEY) + "\\" + subkey;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    DeleteKeyIfEmpty(INSTALLED_KEY);
    DeleteKeyIfEmpty(VENDOR_KEY);
}

InstalledRegistration::InstalledRegistration(const std::string &subkey, const std::string &path)
    : subkey_(subkey), ok_(RegisterInstalled(subkey, path))
{
}

InstalledRegistration::~InstalledRegistration()
{
    UnregisterInstalled(subkey_);
}
