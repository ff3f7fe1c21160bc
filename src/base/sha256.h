// SHA-256 through the system's own hashing (CNG, bcrypt.dll, loaded by full
// path in the system folder the first time it is needed).
#pragma once

#include <windows.h>

#include <stddef.h>

enum { SHA256_DIGEST_BYTES = 32 };

// The digest of what file holds from its current position to its end, and
// how many bytes that was. 0 when the file cannot be read or the system's
// hashing cannot be had.
int HashFileSha256(HANDLE file, unsigned char digest[SHA256_DIGEST_BYTES], unsigned long long *size);
// The same, writing each piece to copy as well: a file read once for both.
int CopyHashSha256(HANDLE file, HANDLE copy, unsigned char digest[SHA256_DIGEST_BYTES], unsigned long long *size);

// A piece of memory to hash.
struct HashPart {
    const void *bytes;
    size_t size;
};
// The digest of the parts, one after another.
int HashPartsSha256(const HashPart *parts, int count, unsigned char digest[SHA256_DIGEST_BYTES]);
