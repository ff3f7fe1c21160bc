#include "sha256.h"

#include <openssl/evp.h>

int Sha256OfFile(FILE *file, unsigned char digest[SHA256_BYTES], unsigned long long *size)
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (!context)
        return 0;
    int ok = EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    unsigned long long total = 0;
    unsigned char buffer[65536];
    size_t got;
    while (ok && (got = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        ok = EVP_DigestUpdate(context, buffer, got);
        total += got;
    }
    unsigned int length = 0;
    ok = ok && !ferror(file) && EVP_DigestFinal_ex(context, digest, &length) && length == SHA256_BYTES;
    EVP_MD_CTX_free(context);
    *size = total;
    return ok;
}

int Sha256OfRanges(const unsigned char *bytes, const ByteRange *ranges, int count, unsigned char digest[SHA256_BYTES])
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (!context)
        return 0;
    int ok = EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    for (int i = 0; ok && i < count; i++)
        ok = EVP_DigestUpdate(context, bytes + ranges[i].start, ranges[i].end - ranges[i].start);
    unsigned int length = 0;
    ok = ok && EVP_DigestFinal_ex(context, digest, &length) && length == SHA256_BYTES;
    EVP_MD_CTX_free(context);
    return ok;
}
