// The checker's file system on Linux: paths come in code page 932 with
// backslashes, and are looked up the way Windows would find them (either
// separator, letter case ignored) among file names in UTF-8.
#include "checkfs.h"
#include "manifest.h"
#include "utf8out.h"

#include "base/mbcs.h"
#include "base/ptrlist.h"
#include "base/strutil.h"

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

enum { UNIX_PATH_BYTES = 4 * MAX_PATH_BYTES };

// Backslashes as slashes; a trail byte 0x5C stays a character's second half.
void ToSlashes(char *path)
{
    for (unsigned char *p = (unsigned char *)path; *p; p++) {
        if (MbIsLeadByte(*p) && p[1])
            p++;
        else if (*p == '\\')
            *p = '/';
    }
}

// The entry of folder named like name in another letter case; 0 when none.
int FindInOtherCase(const char *folder, const char *name, char *found, size_t size)
{
    DIR *dir = opendir(folder[0] ? folder : ".");
    if (!dir)
        return 0;
    int matched = 0;
    for (struct dirent *entry = readdir(dir); entry && !matched; entry = readdir(dir))
        matched = strcasecmp(entry->d_name, name) == 0 && StrCopy(found, size, entry->d_name);
    closedir(dir);
    return matched;
}

// out = path (UTF-8, slashes) with each missing component replaced by an
// existing one of another letter case where there is one.
int ResolvePath(const char *path, char *out, size_t size)
{
    char wanted[UNIX_PATH_BYTES];
    if (!Cp932ToUtf8(path, wanted, sizeof(wanted)))
        return 0;
    ToSlashes(wanted);
    out[0] = '\0';
    if (wanted[0] == '/' && !StrCopy(out, size, "/"))
        return 0;
    char *save = nullptr;
    for (char *part = strtok_r(wanted, "/", &save); part; part = strtok_r(nullptr, "/", &save)) {
        char folder[UNIX_PATH_BYTES], name[256];
        struct stat info;
        StrCopy(folder, sizeof(folder), out);
        if (out[0] && out[strlen(out) - 1] != '/' && !StrAppend(out, size, "/"))
            return 0;
        size_t base = strlen(out);
        if (!StrAppend(out, size, part))
            return 0;
        if (lstat(out, &info) != 0 && FindInOtherCase(folder, part, name, sizeof(name))) {
            out[base] = '\0';
            StrAppend(out, size, name);
        }
    }
    return 1;
}

struct Walk {
    FolderFileVisitor visit;
    FolderLinkVisitor skipped;
    void *context;
};

int WalkLevel(const char *unixFolder, const char *folder, const char *relative, const Walk *walk);

int CompareNames(const void *a, const void *b)
{
    return strcasecmp(*(char *const *)a, *(char *const *)b);
}

// One entry of a folder: a file is told, a folder walked.
void VisitEntry(const char *unixFolder, const char *folder, const char *relative, const char *entryName,
                const Walk *walk)
{
    char unixPath[UNIX_PATH_BYTES], name[MAX_PATH_BYTES], path[MAX_PATH_BYTES], inner[MAX_PATH_BYTES];
    struct stat info, own;
    if (!Utf8ToCp932(entryName, name, sizeof(name)) || !JoinPath(path, sizeof(path), folder, name) ||
        !JoinPath(inner, sizeof(inner), relative, name) ||
        snprintf(unixPath, sizeof(unixPath), "%s/%s", unixFolder, entryName) >= (int)sizeof(unixPath) ||
        stat(unixPath, &info) != 0 || lstat(unixPath, &own) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        walk->visit(inner, (unsigned long long)info.st_size, walk->context);
    } else if (S_ISLNK(own.st_mode)) {
        // What Windows shows as a folder link; a link to a file reads as
        // the file there too.
        if (walk->skipped)
            walk->skipped(inner, walk->context);
    } else if (AddBackslash(path, sizeof(path)) && AddBackslash(inner, sizeof(inner))) {
        WalkLevel(unixPath, path, inner, walk);
    }
}

// Entries in the order of an NTFS listing (letter case ignored).
int WalkLevel(const char *unixFolder, const char *folder, const char *relative, const Walk *walk)
{
    DIR *dir = opendir(unixFolder);
    if (!dir)
        return 0;
    PtrList *names = PtrListCreate();
    for (struct dirent *entry = readdir(dir); entry && names; entry = readdir(dir)) {
        char *copy = strcmp(entry->d_name, ".") && strcmp(entry->d_name, "..") ? StrDup(entry->d_name) : nullptr;
        if (copy && !PtrListAppend(names, copy))
            free(copy);
    }
    closedir(dir);
    size_t count = 0;
    for (PtrNode *node = PtrListFirst(names); node; node = node->next)
        count++;
    char **sorted = (char **)calloc(count ? count : 1, sizeof(char *));
    size_t i = 0;
    for (PtrNode *node = PtrListFirst(names); node && sorted; node = node->next)
        sorted[i++] = (char *)node->data;
    if (sorted)
        qsort(sorted, count, sizeof(char *), CompareNames);
    for (i = 0; sorted && i < count; i++)
        VisitEntry(unixFolder, folder, relative, sorted[i], walk);
    free(sorted);
    if (names)
        PtrListFreeStrings(names);
    return 1;
}

// The Windows runtime's text mode: CR LF is read as LF, a 0x1A byte ends the
// file; a CR on its own stays.
FILE *TextModeCopy(FILE *raw)
{
    FILE *text = tmpfile();
    if (!text)
        return nullptr;
    int c;
    while ((c = fgetc(raw)) != EOF && c != 0x1A) {
        if (c == '\r') {
            int next = fgetc(raw);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                ungetc(next, raw);
        }
        fputc(c, text);
    }
    rewind(text);
    return text;
}

} // namespace

PathKind KindOfPath(const char *path)
{
    char unixPath[UNIX_PATH_BYTES];
    struct stat info;
    if (!ResolvePath(path, unixPath, sizeof(unixPath)) || stat(unixPath, &info) != 0)
        return PATH_MISSING;
    return S_ISDIR(info.st_mode) ? PATH_FOLDER : PATH_FILE;
}

FILE *OpenCheckedFile(const char *path, const char *mode)
{
    char unixPath[UNIX_PATH_BYTES];
    if (KindOfPath(path) != PATH_FILE || !ResolvePath(path, unixPath, sizeof(unixPath)))
        return nullptr;
    FILE *raw = fopen(unixPath, strcmp(mode, "r+b") == 0 ? "r+b" : "rb");
    if (!raw || strcmp(mode, "rt") != 0)
        return raw;
    FILE *text = TextModeCopy(raw);
    fclose(raw);
    return text;
}

void ShownPath(char *out, size_t size, const char *folder, const char *file)
{
    snprintf(out, size, "%s%s", folder, file);
    ToSlashes(out);
}

int WalkFolderFiles(const char *folder, FolderFileVisitor visit, void *context)
{
    return WalkFolderFilesEx(folder, visit, nullptr, context);
}

int WalkFolderFilesEx(const char *folder, FolderFileVisitor visit, FolderLinkVisitor skipped, void *context)
{
    char unixFolder[UNIX_PATH_BYTES];
    if (!ResolvePath(folder, unixFolder, sizeof(unixFolder)))
        return 0;
    Walk walk = {visit, skipped, context};
    return WalkLevel(unixFolder, folder, "", &walk);
}

int FileModifiedTime(const char *path, long long *seconds)
{
    char unixPath[UNIX_PATH_BYTES];
    struct stat info;
    if (!ResolvePath(path, unixPath, sizeof(unixPath)) || stat(unixPath, &info) != 0)
        return 0;
    *seconds = (long long)info.st_mtime;
    return 1;
}
