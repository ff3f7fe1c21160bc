#include "packager.h"

#include "pesection.h"
#include "testutil.h"

#include "base/sha256.h"
#include "checks/ownimage.h"

#include <windows.h>

#include <stdlib.h>

namespace {

std::string Hex(const unsigned char *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// The image's digest into its updater= line, as the packer seals it.
bool Seal(std::string &image)
{
    ManifestPlace place;
    unsigned char digest[SHA256_DIGEST_BYTES];
    if (!ImageFileDigest((const unsigned char *)image.data(), image.size(), &place, digest))
        return false;
    std::string text(place.text, place.length);
    size_t line = text.find("\nupdater=");
    if (line == std::string::npos)
        return false;
    image.replace(place.rawStart + line + 9, 2 * SHA256_DIGEST_BYTES, Hex(digest, SHA256_DIGEST_BYTES));
    return true;
}

} // namespace

std::string ManifestText(const std::string &upd, const std::vector<std::string> &names, const std::string &id)
{
    std::string text = "LUMIUPD-MANIFEST 2\nid=" + id + "\ncreated=2026-12-07T00:00:00Z\nupdater=" +
                       std::string(2 * SHA256_DIGEST_BYTES, '0') + "\n";
    for (const std::string &name : names) {
        HANDLE file = CreateFileA((upd + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        unsigned char digest[SHA256_DIGEST_BYTES] = {};
        unsigned long long size = 0;
        if (file != INVALID_HANDLE_VALUE) {
            HashFileSha256(file, digest, &size);
            CloseHandle(file);
        }
        text += "file=" + Hex(digest, sizeof(digest)) + " " + std::to_string(size) + " " + name + "\n";
    }
    return text;
}

bool WriteManifest(const std::string &exe, const std::string &text, bool seal)
{
    std::string image = ReadFileBytes(exe);
    size_t size = 0;
    const char *why = nullptr;
    unsigned char *added = AddManifestSection((const unsigned char *)image.data(), image.size(), text.data(),
                                              text.size(), &size, &why);
    if (!added)
        return false;
    std::string sealed((const char *)added, size);
    free(added);
    return (!seal || Seal(sealed)) && WriteFileBytes(exe, sealed);
}

size_t ManifestSectionHeader(const std::string &image)
{
    PeLayout layout;
    const unsigned char *bytes = (const unsigned char *)image.data();
    if (!ReadPeLayout(bytes, image.size(), &layout))
        return 0;
    for (unsigned i = 0; i < layout.sectionCount; i++) {
        size_t header = layout.sections + PE_SECTION_HEADER_BYTES * i;
        if (image.compare(header, 8, MANIFEST_SECTION) == 0)
            return header;
    }
    return 0;
}

std::string RunNatively(const std::string &command)
{
    // Wine starts a Linux program but cannot wait for it: its report is
    // renamed into place once complete.
    static int runs = 0;
    std::string base = "/tmp/lumitest_native_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(runs++);
    std::string report = "Z:" + base + ".txt";
    for (char &c : report)
        c = c == '/' ? '\\' : c;
    std::string quoted;
    for (char c : command)
        quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    std::string line = "/bin/sh -c \"(" + quoted + ") >" + base + ".part 2>&1; echo \\\"exit $?\\\" >>" + base +
                       ".part; mv " + base + ".part " + base + ".txt\"";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return "";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 1200 && !FileExists(report); i++)
        Sleep(50);
    std::string output = ReadFileBytes(report);
    DeleteFileA(report.c_str());
    return output;
}

CheckerVerdict VerifyNatively(const std::string &folder)
{
    CheckerVerdict verdict;
    verdict.output = RunNatively("'" + UnixPath(BinDir() + "lumiupd-check") + "' --verify '" + UnixPath(folder) + "'");
    size_t at = verdict.output.rfind("exit ");
    if (at != std::string::npos)
        verdict.exitCode = atoi(verdict.output.c_str() + at + 5);
    return verdict;
}
