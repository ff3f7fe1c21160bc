// Byte-level rules of script text that the checker looks at: CP932 validity,
// the "%DSTPATH%" placeholder, file names relative to the update folder.
#pragma once

#include <stddef.h>

// Validity of CP932 bytes over one physical line that may come in pieces:
// lead bytes 0x81-0x9F and 0xE0-0xFC take a trail byte 0x40-0x7E or
// 0x80-0xFC; 0x80, 0xA0 and 0xFD-0xFF are no character at all.
struct Cp932Scan {
    int pendingLead;  // the last piece ended in this lead byte (0: none)
};

enum Cp932Fault { CP932_VALID, CP932_BAD_BYTE, CP932_BAD_TRAIL };

// Scans bytes (length of them) on from scan's state. The first fault's kind;
// *at is the offset in bytes of the offending byte (for CP932_BAD_TRAIL the
// byte after the lead, which may be offset 0 when the lead ended the last
// piece) and *lead the lead byte of a bad pair.
Cp932Fault ScanCp932(Cp932Scan *scan, const unsigned char *bytes, size_t length, size_t *at,
                     unsigned char *lead);

// 1 when text holds "%DSTPATH%" in some other letter case (which is not
// replaced); the exact spelling alone gives 0.
int HasMiscasedDstPath(const char *text);
// 1 when text holds "%DSTPATH%" exactly.
int HasDstPath(const char *text);

// How often byte c (below 0x40) occurs in text.
int CountByte(const char *text, char c);

// 1 unless path starts with a backslash or a drive ("X:"), as the system's
// PathIsRelative decides.
int IsRelativeScriptPath(const char *path);

// A relative file name made comparable: "/" as "\", empty and "." segments
// dropped, ".." taking the segment before it away. 0 when it leaves the
// folder or does not fit in size bytes.
int NormalizeRelativePath(const char *path, char *out, size_t size);

// 1 when bytes are well-formed UTF-8 holding at least one character of three
// bytes (as Japanese text in UTF-8 does); CP932 Japanese text hardly ever is.
int LooksLikeUtf8(const unsigned char *bytes, size_t length);
