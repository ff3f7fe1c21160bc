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
    FILE *raw = fopen(unixPath, strcmp(mode, "r+b") == 0 ? "r+b" : strcmp(mode, "wb") == 0 ? "wb" : "rb");
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

namespace {

// The names of a folder, sorted ignoring ASCII letter case; each folder
// asked about is listed once (a package has few folders, many files).
struct FolderNames {
    char folder[UNIX_PATH_BYTES];
    char **names;
    size_t count;
};
PtrList *g_listed = nullptr;

FolderNames *ReadNames(const char *folder)
{
    FolderNames *listed = (FolderNames *)calloc(1, sizeof(FolderNames));
    DIR *dir = listed && StrCopy(listed->folder, sizeof(listed->folder), folder) ? opendir(folder) : nullptr;
    if (!dir) {
        free(listed);
        return nullptr;
    }
    size_t capacity = 0;
    int ok = 1;
    for (struct dirent *entry = readdir(dir); entry && ok; entry = readdir(dir)) {
        if (listed->count == capacity) {
            capacity = capacity ? 2 * capacity : 64;
            char **grown = (char **)realloc(listed->names, capacity * sizeof(char *));
            ok = grown != nullptr;
            listed->names = ok ? grown : listed->names;
        }
        if (ok && (listed->names[listed->count] = StrDup(entry->d_name)) != nullptr)
            listed->count++;
    }
    closedir(dir);
    if (ok && listed->names) {
        qsort(listed->names, listed->count, sizeof(char *), CompareNames);
        return listed;
    }
    for (size_t i = 0; i < listed->count; i++)
        free(listed->names[i]);
    free(listed->names);
    free(listed);
    return nullptr;
}

const FolderNames *ListNames(const char *folder)
{
    for (PtrNode *node = PtrListFirst(g_listed); node; node = node->next)
        if (strcmp(((const FolderNames *)node->data)->folder, folder) == 0)
            return (const FolderNames *)node->data;
    FolderNames *listed = ReadNames(folder);
    if (listed && ((!g_listed && !(g_listed = PtrListCreate())) || !PtrListAppend(g_listed, listed))) {
        for (size_t i = 0; i < listed->count; i++)
            free(listed->names[i]);
        free(listed->names);
        free(listed);
        return nullptr;
    }
    return listed;
}

// How many entries of folder are named name, ASCII letter case ignored, and
// one of them in found.
int CountInAnyCase(const char *folder, const char *name, char *found, size_t size)
{
    const FolderNames *listed = ListNames(folder);
    const char *key = name;
    char **hit = listed ? (char **)bsearch(&key, listed->names, listed->count, sizeof(char *), CompareNames) : nullptr;
    if (!hit)
        return 0;
    StrCopy(found, size, *hit);
    int count = 1;
    for (char **p = hit; p > listed->names && strcasecmp(p[-1], name) == 0; p--)
        count++;
    for (char **p = hit + 1; p < listed->names + listed->count && strcasecmp(*p, name) == 0; p++)
        count++;
    return count;
}

} // namespace

const char *PathAmbiguity(const char *folder, const char *relative)
{
    char at[UNIX_PATH_BYTES], wanted[UNIX_PATH_BYTES];
    if (!ResolvePath(folder, at, sizeof(at)) || !Cp932ToUtf8(relative, wanted, sizeof(wanted)))
        return nullptr;
    ToSlashes(wanted);
    char *save = nullptr;
    struct stat info;
    memset(&info, 0, sizeof(info));
    for (char *part = strtok_r(wanted, "/", &save); part; part = strtok_r(nullptr, "/", &save)) {
        char name[256];
        int alike = CountInAnyCase(at, part, name, sizeof(name));
        if (alike > 1)
            return "another entry has this name in other letter case: which one a program takes cannot be told";
        if (alike == 0)
            return nullptr;
        if (!StrAppend(at, sizeof(at), "/") || !StrAppend(at, sizeof(at), name) || lstat(at, &info) != 0)
            return nullptr;
        if (S_ISLNK(info.st_mode))
            return "a link on the way to the file: the updater takes only the file its path names";
    }
    return info.st_nlink > 1 ? "a file with more than one name (a hard link): the updater refuses it" : nullptr;
}
