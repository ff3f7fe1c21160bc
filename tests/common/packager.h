// Packages made by the tests themselves: a manifest put into an updater as
// `make package` puts it (the packer's own section writer), and the native
// checker's verdict on a folder.
#pragma once

#include <string>
#include <vector>

// The manifest text the packer writes for the files of upd (relative names,
// the script first), with an updater= line of zeros for WriteManifest to seal.
std::string ManifestText(const std::string &upd, const std::vector<std::string> &names, const std::string &id);
// Adds a manifest section holding text to the updater at exe. With seal, the
// digest of the image so made goes into its updater= line, as the packer
// writes it; without, text stays as given.
bool WriteManifest(const std::string &exe, const std::string &text, bool seal = true);
// The section header of the manifest in the image bytes (its offset), or 0.
size_t ManifestSectionHeader(const std::string &image);

// Runs a shell command natively (Linux, as the test's user), waits for it
// and returns what it wrote and "exit N" on a last line: what a Windows
// program cannot do, such as naming files in other letter case apart.
std::string RunNatively(const std::string &command);

struct CheckerVerdict {
    int exitCode = -1;
    std::string output;  // UTF-8
};
// build/bin/lumiupd-check --verify on folder (a Windows path), run natively.
CheckerVerdict VerifyNatively(const std::string &folder);
