// SHA-256 of a file for the package manifest, from the platform's own
// implementation (libcrypto on the build machine).
#pragma once

#include <stdio.h>

enum { SHA256_BYTES = 32 };

// Reads file from where it stands to its end. 1 with digest and the count
// of bytes read; 0 on a read error.
int Sha256OfFile(FILE *file, unsigned char digest[SHA256_BYTES], unsigned long long *size);
