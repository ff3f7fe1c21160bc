// SHA-256 of a file for the package manifest, from the platform's own
// implementation (libcrypto on the build machine).
#pragma once

#include "checks/manifestimage.h"

#include <stdio.h>

// Reads file from where it stands to its end. 1 with digest and the count
// of bytes read; 0 on a read error.
int Sha256OfFile(FILE *file, unsigned char digest[SHA256_BYTES], unsigned long long *size);
// The digest of the ranges of bytes, one after another.
int Sha256OfRanges(const unsigned char *bytes, const ByteRange *ranges, int count, unsigned char digest[SHA256_BYTES]);
