#include "checkfs.h"

#include "base/strutil.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

namespace {

struct FindCloser {
    HANDLE handle;
    ~FindCloser()
    {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};

int IsDotEntry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// folder ends with a backslash; relative is the path of folder below the
// walked root ("" at the root, else ending with a backslash).
struct Walk {
    FolderFileVisitor visit;
    FolderLinkVisitor skipped;
    void *context;
};

int WalkLevel(const char *folder, const char *relative, const Walk *walk)
{
    char pattern[MAX_PATH_BYTES];
    if (!JoinPath(pattern, sizeof(pattern), folder, "*"))
        return 0;
    WIN32_FIND_DATAA entry;
    FindCloser search = {FindFirstFileA(pattern, &entry)};
    if (search.handle == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (IsDotEntry(entry.cFileName))
            continue;
        char path[MAX_PATH_BYTES], name[MAX_PATH_BYTES];
        if (!JoinPath(path, sizeof(path), folder, entry.cFileName) ||
            !JoinPath(name, sizeof(name), relative, entry.cFileName))
            continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (walk->skipped)
                walk->skipped(name, walk->context);
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (AddBackslash(path, sizeof(path)) && AddBackslash(name, sizeof(name)))
                WalkLevel(path, name, walk);
            continue;
        }
        walk->visit(name, ((unsigned long long)entry.nFileSizeHigh << 32) | entry.nFileSizeLow, walk->context);
    } while (FindNextFileA(search.handle, &entry));
    return 1;
}

} // namespace

PathKind KindOfPath(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_FOLDER : PATH_FILE;
}

FILE *OpenCheckedFile(const char *path, const char *mode)
{
    return fopen(path, mode);
}

void ShownPath(char *out, size_t size, const char *folder, const char *file)
{
    snprintf(out, size, "%s%s", folder, file);
}

int WalkFolderFiles(const char *folder, FolderFileVisitor visit, void *context)
{
    return WalkFolderFilesEx(folder, visit, nullptr, context);
}

int WalkFolderFilesEx(const char *folder, FolderFileVisitor visit, FolderLinkVisitor skipped, void *context)
{
    Walk walk = {visit, skipped, context};
    return WalkLevel(folder, "", &walk);
}
