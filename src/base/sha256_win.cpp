#include "base/sha256.h"

#include "base/dllsearch.h"

#include <bcrypt.h>
#include <stdlib.h>

namespace {

typedef NTSTATUS(WINAPI *OpenFn)(BCRYPT_ALG_HANDLE *, LPCWSTR, LPCWSTR, ULONG);
typedef NTSTATUS(WINAPI *CreateFn)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE *, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI *DataFn)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI *FinishFn)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI *DestroyFn)(BCRYPT_HASH_HANDLE);
typedef NTSTATUS(WINAPI *PropertyFn)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG *, ULONG);

struct Cng {
    OpenFn open;
    CreateFn create;
    DataFn data;
    FinishFn finish;
    DestroyFn destroy;
    PropertyFn property;
    BCRYPT_ALG_HANDLE sha256;
    ULONG objectBytes;
    // One hash at a time (the run has one thread): its object and the
    // buffer files are read through, kept for the run. A megabyte taken and
    // given back for each of thousands of small files cost a millisecond
    // apiece under Wine.
    unsigned char *object;
    unsigned char *buffer;
};

enum { CHUNK = 1u << 20 };

// Looked up once and kept for the run, with the algorithm opened.
Cng *TheCng(void)
{
    static Cng cng;
    static int tried;
    if (tried)
        return cng.sha256 ? &cng : nullptr;
    tried = 1;
    HMODULE bcrypt = (HMODULE)LoadSystemLibrary("bcrypt.dll");
    if (!bcrypt)
        return nullptr;
    cng.open = (OpenFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptOpenAlgorithmProvider");
    cng.create = (CreateFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptCreateHash");
    cng.data = (DataFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptHashData");
    cng.finish = (FinishFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptFinishHash");
    cng.destroy = (DestroyFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptDestroyHash");
    cng.property = (PropertyFn)(void (*)(void))GetProcAddress(bcrypt, "BCryptGetProperty");
    ULONG got = 0;
    if (!cng.open || !cng.create || !cng.data || !cng.finish || !cng.destroy || !cng.property ||
        cng.open(&cng.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        cng.property(cng.sha256, BCRYPT_OBJECT_LENGTH, (PUCHAR)&cng.objectBytes, sizeof(cng.objectBytes), &got, 0) <
            0)
        cng.sha256 = nullptr;
    cng.object = cng.sha256 ? (unsigned char *)malloc(cng.objectBytes) : nullptr;
    cng.buffer = cng.object ? (unsigned char *)malloc(CHUNK) : nullptr;
    if (!cng.buffer)
        cng.sha256 = nullptr;
    return cng.sha256 ? &cng : nullptr;
}

} // namespace

int CopyHashSha256(HANDLE file, HANDLE copy, unsigned char digest[SHA256_DIGEST_BYTES], unsigned long long *size)
{
    Cng *cng = TheCng();
    if (!cng)
        return 0;
    unsigned char *buffer = cng->buffer;
    BCRYPT_HASH_HANDLE hash = nullptr;
    int done = cng->create(cng->sha256, &hash, cng->object, cng->objectBytes, nullptr, 0, 0) >= 0;
    *size = 0;
    for (DWORD got = 0; done; *size += got) {
        done = ReadFile(file, buffer, CHUNK, &got, nullptr);
        if (!done || got == 0)
            break;
        done = cng->data(hash, buffer, got, 0) >= 0;
        DWORD put = 0;
        if (done && copy != INVALID_HANDLE_VALUE)
            done = WriteFile(copy, buffer, got, &put, nullptr) && put == got;
    }
    done = done && cng->finish(hash, digest, SHA256_DIGEST_BYTES, 0) >= 0;
    if (hash)
        cng->destroy(hash);
    return done;
}

int HashFileSha256(HANDLE file, unsigned char digest[SHA256_DIGEST_BYTES], unsigned long long *size)
{
    return CopyHashSha256(file, INVALID_HANDLE_VALUE, digest, size);
}

int HashPartsSha256(const HashPart *parts, int count, unsigned char digest[SHA256_DIGEST_BYTES])
{
    Cng *cng = TheCng();
    if (!cng)
        return 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    int done = cng->create(cng->sha256, &hash, cng->object, cng->objectBytes, nullptr, 0, 0) >= 0;
    for (int i = 0; done && i < count; i++)
        done = cng->data(hash, (PUCHAR)parts[i].bytes, (ULONG)parts[i].size, 0) >= 0;
    done = done && cng->finish(hash, digest, SHA256_DIGEST_BYTES, 0) >= 0;
    if (hash)
        cng->destroy(hash);
    return done;
}
