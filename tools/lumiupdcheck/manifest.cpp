// Writing and verifying the package manifest. The verdict must be the
// updater's own: a file is as the manifest lists it (same size, same
// SHA-256) or the folder is refused, and so is a folder whose script takes a
// file the manifest leaves out.
#include "manifest.h"

#include "checker.h"
#include "checkfs.h"
#include "sha256.h"

#include "base/ptrlist.h"
#include "base/strutil.h"
#include "script/parser.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char Marker[] = "LUMIUPD-MANIFEST";
const char FirstLine[] = "LUMIUPD-MANIFEST 1";
// An updater is a few hundred kilobytes; anything far larger is not one.
const size_t ImageMost = 64u << 20;

enum { WHAT_BUFFER = 700, HEX_DIGEST = 2 * SHA256_BYTES };

struct ListedFile {
    char path[MAX_PATH_BYTES];
    unsigned long long size;
    char hex[HEX_DIGEST + 1];
};

// One updater of a folder: NAME.exe and the NAME.INF it reads.
struct Updater {
    char script[MAX_PATH_BYTES];
    char exe[MAX_PATH_BYTES];
    int marked;  // its image holds the marker
};

struct Package {
    const char *folder;  // ends with a backslash
    FindingLog log;
    Updater updaters[8];  // every NAME.exe beside a NAME.INF, marker or not
    int updaterCount;
    int marked;
};

int EndsWithInf(const char *name)
{
    size_t length = strlen(name);
    return length > 4 && AsciiStricmp(name + length - 4, ".INF") == 0;
}

int ReadImage(const char *path, unsigned char **image, size_t *size)
{
    *image = nullptr;
    *size = 0;
    FILE *file = OpenCheckedFile(path, "rb");
    if (!file)
        return 0;
    long length = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    unsigned char *bytes = length >= 0 && (size_t)length <= ImageMost && fseek(file, 0, SEEK_SET) == 0
                               ? (unsigned char *)malloc((size_t)length + 1)
                               : nullptr;
    int ok = bytes && fread(bytes, 1, (size_t)length, file) == (size_t)length;
    fclose(file);
    if (!ok) {
        free(bytes);
        return 0;
    }
    *image = bytes;
    *size = (size_t)length;
    return 1;
}

int HoldsMarker(const char *path)
{
    unsigned char *image;
    size_t size, offset = 0;
    if (!ReadImage(path, &image, &size))
        return 0;
    AreaSearch found = FindManifestArea(image, size, &offset);
    free(image);
    return found != AREA_MISSING;
}

void VisitTopFile(const char *relative, unsigned long long, void *context)
{
    Package *package = (Package *)context;
    if (MbsChr(relative, '\\') || !EndsWithInf(relative))
        return;
    Updater updater;
    char exePath[MAX_PATH_BYTES];
    size_t base = strlen(relative) - 4;
    if (!StrCopy(updater.script, sizeof(updater.script), relative) || base + 5 > sizeof(updater.exe))
        return;
    memcpy(updater.exe, relative, base);
    memcpy(updater.exe + base, ".exe", 5);
    if (!JoinPath(exePath, sizeof(exePath), package->folder, updater.exe) || KindOfPath(exePath) != PATH_FILE)
        return;
    updater.marked = HoldsMarker(exePath);
    if (package->updaterCount < (int)(sizeof(package->updaters) / sizeof(Updater))) {
        package->updaters[package->updaterCount++] = updater;
        package->marked += updater.marked;
    }
}

// Why an image's area cannot be used, for a finding; null when it can.
const char *AreaFault(AreaSearch found)
{
    switch (found) {
    case AREA_FOUND:
        return nullptr;
    case AREA_MISSING:
        return "holds no manifest area: it is not an updater that verifies its folder";
    case AREA_REPEATED:
        return "holds the manifest marker more than once: which area is the manifest cannot be told";
    case AREA_CUT:
        break;
    }
    return "the file ends inside the manifest area";
}

// CHECK_ACCEPTED when the folder has at least one updater to work on.
int FindUpdaters(Package *package, char *folder, size_t folderSize, const char *given, FILE *out)
{
    memset(package, 0, sizeof(*package));
    if (!StrCopy(folder, folderSize, given) || !AddBackslash(folder, folderSize) || KindOfPath(folder) != PATH_FOLDER) {
        PathFinding(out, given, "not a folder");
        return CHECK_UNREADABLE;
    }
    package->folder = folder;
    InitFindingLog(&package->log, out, "", folder);
    if (!WalkFolderFiles(folder, VisitTopFile, package)) {
        PathFinding(out, given, "the folder cannot be listed");
        return CHECK_UNREADABLE;
    }
    if (package->updaterCount == 0) {
        PathFinding(out, given, "no updater: no NAME.exe beside a NAME.INF");
        return CHECK_UNREADABLE;
    }
    // A data file that happens to share a script's name is no updater; an
    // updater without the marker is one that cannot verify its folder.
    for (int i = 0; package->marked == 0 && i < package->updaterCount; i++)
        FolderFinding(&package->log, SEVERITY_ERROR, AreaFault(AREA_MISSING), package->updaters[i].exe);
    return package->marked ? CHECK_ACCEPTED : CHECK_REFUSED;
}

unsigned long ReadLength(const unsigned char *bytes)
{
    return (unsigned long)bytes[0] | (unsigned long)bytes[1] << 8 | (unsigned long)bytes[2] << 16 |
           (unsigned long)bytes[3] << 24;
}

int HashListedFile(const char *folder, ListedFile *file)
{
    char path[MAX_PATH_BYTES];
    FILE *handle = JoinPath(path, sizeof(path), folder, file->path) ? OpenCheckedFile(path, "rb") : nullptr;
    if (!handle)
        return 0;
    unsigned char digest[SHA256_BYTES];
    int ok = Sha256OfFile(handle, digest, &file->size);
    fclose(handle);
    for (int i = 0; ok && i < SHA256_BYTES; i++)
        snprintf(file->hex + 2 * i, 3, "%02x", digest[i]);
    return ok;
}

// ---- Writing ----

struct FileWalk {
    const Updater *updater;
    PtrList *names;  // relative paths other than the script (heap strings)
    int failed;
};

void VisitPackagedFile(const char *relative, unsigned long long, void *context)
{
    FileWalk *walk = (FileWalk *)context;
    if (AsciiStricmp(relative, walk->updater->script) == 0 || AsciiStricmp(relative, walk->updater->exe) == 0 ||
        AsciiStricmp(relative, "SHA256SUMS") == 0)
        return;
    char *copy = StrDup(relative);
    if (!copy || !PtrListAppend(walk->names, copy)) {
        free(copy);
        walk->failed = 1;
    }
}

int CompareBytes(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

int HoldsControlByte(const char *text)
{
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p < 0x20 || *p == 0x7F)
            return 1;
    }
    return 0;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without the
// C library's time zone.
void CivilFromDays(long long days, int *year, int *month, int *day)
{
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long shifted = (5 * dayOfYear + 2) / 153;
    *day = (int)(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = (int)(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = (int)(yearOfEra + era * 400 + (*month <= 2));
}

void FormatUtc(long long seconds, char *out, size_t size)
{
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, (int)(rest / 3600),
             (int)(rest / 60 % 60), (int)(rest % 60));
}

// SOURCE_DATE_EPOCH when it is a number of seconds, else -1.
long long SourceDateEpoch()
{
    const char *text = getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text || strlen(text) > 15)
        return -1;
    long long seconds = 0;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9')
            return -1;
        seconds = seconds * 10 + (*p - '0');
    }
    return seconds;
}

// The script's id as the updater reads it; its file name when it has none.
int ReadScriptId(const char *path, const char *name, char *id, size_t size)
{
    FILE *file = OpenCheckedFile(path, "rt");
    if (!file)
        return 0;
    UpdateScript script;
    int ok = InitUpdateScript(&script) && ReadScriptStream(file, &script);
    ok = ok && StrCopy(id, size, script.id && script.id[0] ? script.id : name);
    FreeUpdateScript(&script);
    fclose(file);
    return ok;
}

int AppendLine(char *text, size_t size, size_t *length, const char *line)
{
    size_t add = strlen(line);
    if (*length + add + 1 > size)
        return 0;
    memcpy(text + *length, line, add);
    text[*length + add] = '\n';
    *length += add + 1;
    return 1;
}

// The manifest's text for one updater into text; 0 after a finding.
int ComposeManifest(Package *package, const Updater *updater, char *text, size_t size, size_t *length)
{
    char what[WHAT_BUFFER], line[WHAT_BUFFER], id[WHAT_BUFFER], scriptPath[MAX_PATH_BYTES];
    if (!JoinPath(scriptPath, sizeof(scriptPath), package->folder, updater->script) ||
        !ReadScriptId(scriptPath, updater->script, id, sizeof(id))) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the updater refuses this script", updater->script);
        return 0;
    }
    FileWalk walk = {updater, PtrListCreate(), 0};
    int ok = walk.names && WalkFolderFiles(package->folder, VisitPackagedFile, &walk) && !walk.failed;
    int count = ok ? PtrListCount(walk.names) : 0;
    ListedFile *files = ok ? (ListedFile *)calloc((size_t)count + 1, sizeof(ListedFile)) : nullptr;
    char **names = ok ? (char **)calloc((size_t)count + 1, sizeof(char *)) : nullptr;
    if (!files || !names) {
        FolderFinding(&package->log, SEVERITY_ERROR, "out of memory", "");
        ok = 0;
    }
    int i = 0;
    for (PtrNode *node = ok ? PtrListFirst(walk.names) : nullptr; node; node = node->next)
        names[i++] = (char *)node->data;
    if (ok)
        qsort(names, (size_t)count, sizeof(char *), CompareBytes);
    long long newest = -1;
    for (i = 0; ok && i <= count; i++) {
        ListedFile *file = &files[i];
        char path[MAX_PATH_BYTES];
        long long modified;
        StrCopy(file->path, sizeof(file->path), i == 0 ? updater->script : names[i - 1]);
        if (HoldsControlByte(file->path)) {
            FolderFinding(&package->log, SEVERITY_ERROR, "a control character in the name: no manifest line can hold it",
                          file->path);
            ok = 0;
        } else if (!HashListedFile(package->folder, file) || !JoinPath(path, sizeof(path), package->folder, file->path) ||
                   !FileModifiedTime(path, &modified)) {
            FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", file->path);
            ok = 0;
        } else if (modified > newest) {
            newest = modified;
        }
    }
    if (ok && HoldsControlByte(id)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the script's id holds a control character", updater->script);
        ok = 0;
    }
    long long created = SourceDateEpoch();
    char stamp[40];
    FormatUtc(created >= 0 ? created : newest, stamp, sizeof(stamp));
    *length = 0;
    if (ok) {
        snprintf(line, sizeof(line), "id=%s", id);
        ok = AppendLine(text, size, length, FirstLine) && AppendLine(text, size, length, line);
        snprintf(line, sizeof(line), "created=%s", stamp);
        ok = ok && AppendLine(text, size, length, line);
        for (i = 0; ok && i <= count; i++) {
            snprintf(line, sizeof(line), "file=%s %llu %s", files[i].hex, files[i].size, files[i].path);
            ok = AppendLine(text, size, length, line);
        }
        if (!ok) {
            snprintf(what, sizeof(what), "the manifest of %d files does not fit in the updater's %d bytes for it",
                     count + 1, MANIFEST_TEXT_MOST);
            FolderFinding(&package->log, SEVERITY_ERROR, what, updater->exe);
        }
    }
    free(names);
    free(files);
    if (walk.names)
        PtrListFreeStrings(walk.names);
    return ok;
}

int WriteArea(const char *path, size_t offset, const char *text, size_t length)
{
    unsigned char *area = (unsigned char *)calloc(1, MANIFEST_AREA_BYTES);
    FILE *file = area ? OpenCheckedFile(path, "r+b") : nullptr;
    int ok = file != nullptr;
    if (ok) {
        memcpy(area, Marker, MANIFEST_MARKER_BYTES);
        for (int i = 0; i < 4; i++)
            area[MANIFEST_MARKER_BYTES + i] = (unsigned char)(length >> (8 * i));
        memcpy(area + MANIFEST_MARKER_BYTES + 4, text, length);
        ok = fseek(file, (long)offset, SEEK_SET) == 0 && fwrite(area, 1, MANIFEST_AREA_BYTES, file) == MANIFEST_AREA_BYTES;
        ok = (fclose(file) == 0) && ok;
    }
    free(area);
    return ok;
}

// The updater's path and image, with the offset of its manifest's area; 0
// (reported) when it cannot be read or holds no usable area. On success
// the image is the caller's to free.
int ReadUpdaterArea(Package *package, const Updater *updater, char *exePath, unsigned char **image, size_t *offset)
{
    size_t size = 0;
    *offset = 0;
    if (!JoinPath(exePath, MAX_PATH_BYTES, package->folder, updater->exe) || !ReadImage(exePath, image, &size)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", updater->exe);
        return 0;
    }
    const char *fault = AreaFault(FindManifestArea(*image, size, offset));
    if (!fault)
        return 1;
    FolderFinding(&package->log, SEVERITY_ERROR, fault, updater->exe);
    free(*image);
    return 0;
}

int WriteOneManifest(Package *package, const Updater *updater)
{
    char exePath[MAX_PATH_BYTES], what[WHAT_BUFFER];
    unsigned char *image;
    size_t offset = 0;
    if (!ReadUpdaterArea(package, updater, exePath, &image, &offset))
        return 0;
    free(image);
    char *text = (char *)malloc(MANIFEST_TEXT_MOST);
    size_t length = 0;
    int ok = text && ComposeManifest(package, updater, text, MANIFEST_TEXT_MOST, &length);
    if (ok && !WriteArea(exePath, offset, text, length)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the manifest could not be written into it", updater->exe);
        ok = 0;
    }
    free(text);
    if (ok) {
        snprintf(what, sizeof(what), "manifest written (%lu bytes)", (unsigned long)length);
        FolderFinding(&package->log, SEVERITY_INFO, what, updater->exe);
    }
    return ok;
}

// ---- Verifying ----

int IsLowerHex(const char *text, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return 0;
    }
    return 1;
}

int IsUtcStamp(const char *text)
{
    const char *shape = "dddd-dd-ddTdd:dd:ddZ";
    if (strlen(text) != strlen(shape))
        return 0;
    for (size_t i = 0; shape[i]; i++) {
        if (shape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i])
            return 0;
    }
    return 1;
}

// "file=HEX SIZE PATH" into file; 0 when the line has another shape or the
// path is not a plain path inside the folder.
int ParseFileLine(char *line, ListedFile *file)
{
    if (strncmp(line, "file=", 5) != 0 || strlen(line) < 5 + HEX_DIGEST + 4 || !IsLowerHex(line + 5, HEX_DIGEST) ||
        line[5 + HEX_DIGEST] != ' ')
        return 0;
    memcpy(file->hex, line + 5, HEX_DIGEST);
    file->hex[HEX_DIGEST] = '\0';
    const char *p = line + 6 + HEX_DIGEST;
    unsigned long long size = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 19; p++, digits++)
        size = size * 10 + (unsigned long long)(*p - '0');
    if (digits == 0 || *p != ' ' || !p[1])
        return 0;
    file->size = size;
    char normal[MAX_PATH_BYTES];
    return StrCopy(file->path, sizeof(file->path), p + 1) && IsRelativeScriptPath(file->path) &&
           !HoldsControlByte(file->path) && NormalizeRelativePath(file->path, normal, sizeof(normal)) &&
           strcmp(normal, file->path) == 0;
}

// The text's lines into files (count at most capacity); 0 with the number
// of the first bad line.
int ParseManifest(char *text, const Updater *updater, ListedFile *files, int capacity, int *count, int *badLine)
{
    *count = 0;
    int number = 0;
    char *line = text;
    while (*line) {
        char *end = strchr(line, '\n');
        number++;
        *badLine = number;
        if (!end)
            return 0;
        *end = '\0';
        if (number == 1) {
            if (strcmp(line, FirstLine) != 0)
                return 0;
        } else if (number == 2) {
            if (strncmp(line, "id=", 3) != 0)
                return 0;
        } else if (number == 3) {
            if (strncmp(line, "created=", 8) != 0 || !IsUtcStamp(line + 8))
                return 0;
        } else {
            if (*count >= capacity || !ParseFileLine(line, &files[*count]))
                return 0;
            for (int i = 0; i < *count; i++) {
                if (AsciiStricmp(files[i].path, files[*count].path) == 0)
                    return 0;
            }
            // The script comes first, named as the updater names it.
            if (*count == 0 && AsciiStricmp(files[0].path, updater->script) != 0)
                return 0;
            (*count)++;
        }
        line = end + 1;
    }
    *badLine = number + 1;
    return *count > 0;
}

int IsListed(const ListedFile *files, int count, const char *name)
{
    char normal[MAX_PATH_BYTES];
    for (int i = 0; i < count; i++) {
        if (NormalizeRelativePath(files[i].path, normal, sizeof(normal)) && AsciiStricmp(normal, name) == 0)
            return 1;
    }
    return 0;
}

void CheckListedFile(Package *package, const ListedFile *listed)
{
    char what[WHAT_BUFFER], path[MAX_PATH_BYTES];
    ListedFile found = *listed;
    int kind = JoinPath(path, sizeof(path), package->folder, listed->path) ? KindOfPath(path) : PATH_MISSING;
    if (kind != PATH_FILE) {
        snprintf(what, sizeof(what), "%s (the manifest lists %llu bytes)",
                 kind == PATH_FOLDER ? "a folder where the manifest lists a file" : "missing", listed->size);
        FolderFinding(&package->log, SEVERITY_ERROR, what, listed->path);
    } else if (!HashListedFile(package->folder, &found)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", listed->path);
    } else if (found.size != listed->size) {
        snprintf(what, sizeof(what), "%llu bytes where the manifest lists %llu: cut short, or another file", found.size,
                 listed->size);
        FolderFinding(&package->log, SEVERITY_ERROR, what, listed->path);
    } else if (strcmp(found.hex, listed->hex) != 0) {
        FolderFinding(&package->log, SEVERITY_ERROR,
                      "its SHA-256 is not the manifest's: changed, or taken from another package", listed->path);
    }
}

// The script's files the manifest leaves out: the updater would take them
// unchecked.
void CheckTakenFiles(Package *package, const Updater *updater, const ListedFile *files, int count)
{
    char scriptPath[MAX_PATH_BYTES];
    PtrList *taken = PtrListCreate();
    if (!taken || !JoinPath(scriptPath, sizeof(scriptPath), package->folder, updater->script) ||
        !ListTakenFiles(scriptPath, package->folder, taken)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the script cannot be read", updater->script);
    } else {
        for (PtrNode *node = PtrListFirst(taken); node; node = node->next) {
            if (!IsListed(files, count, (const char *)node->data))
                FolderFinding(&package->log, SEVERITY_ERROR,
                              "the script takes this file but the manifest does not list it",
                              (const char *)node->data);
        }
    }
    if (taken)
        PtrListFreeStrings(taken);
}

int VerifyOneUpdater(Package *package, const Updater *updater)
{
    char exePath[MAX_PATH_BYTES], what[WHAT_BUFFER];
    unsigned char *image;
    size_t offset = 0;
    if (!ReadUpdaterArea(package, updater, exePath, &image, &offset))
        return 0;
    int errors = package->log.errors;
    unsigned long length = ReadLength(image + offset + MANIFEST_MARKER_BYTES);
    char *text = nullptr;
    if (length == 0) {
        FolderFinding(&package->log, SEVERITY_ERROR,
                      "the updater holds no manifest: the folder was not put together by make package", updater->exe);
    } else if (length > MANIFEST_TEXT_MOST) {
        snprintf(what, sizeof(what), "the manifest's length (%lu bytes) does not fit in its area", length);
        FolderFinding(&package->log, SEVERITY_ERROR, what, updater->exe);
    } else if ((text = (char *)malloc(length + 1)) != nullptr) {
        memcpy(text, image + offset + MANIFEST_MARKER_BYTES + 4, length);
        text[length] = '\0';
    }
    free(image);
    if (!text)
        return package->log.errors == errors;
    // A manifest line is at least 70 bytes: this many cannot fit in the area.
    const int capacity = MANIFEST_TEXT_MOST / 70 + 1;
    ListedFile *files = (ListedFile *)calloc(capacity, sizeof(ListedFile));
    int count = 0, badLine = 0;
    if (!files) {
        FolderFinding(&package->log, SEVERITY_ERROR, "out of memory", updater->exe);
    } else if (strlen(text) != length || !ParseManifest(text, updater, files, capacity, &count, &badLine)) {
        snprintf(what, sizeof(what), "the manifest in the updater is malformed at its line %d", badLine);
        FolderFinding(&package->log, SEVERITY_ERROR, what, updater->exe);
    } else {
        for (int i = 0; i < count; i++)
            CheckListedFile(package, &files[i]);
        CheckTakenFiles(package, updater, files, count);
        if (package->log.errors == errors) {
            snprintf(what, sizeof(what), "the folder matches the manifest (%d files)", count);
            FolderFinding(&package->log, SEVERITY_INFO, what, updater->exe);
        }
    }
    free(files);
    free(text);
    return package->log.errors == errors;
}

} // namespace

AreaSearch FindManifestArea(const unsigned char *image, size_t size, size_t *offset)
{
    // The manifest's first line starts with the marker as well: once written,
    // the marker recurs inside the area, and only there.
    int found = 0;
    for (size_t i = 0; i + MANIFEST_MARKER_BYTES <= size; i++) {
        if (image[i] != (unsigned char)Marker[0] || memcmp(image + i, Marker, MANIFEST_MARKER_BYTES) != 0)
            continue;
        if (!found)
            *offset = i;
        else if (i - *offset < MANIFEST_AREA_BYTES)
            continue;
        else
            return AREA_REPEATED;
        found = 1;
    }
    if (!found)
        return AREA_MISSING;
    return size - *offset < MANIFEST_AREA_BYTES ? AREA_CUT : AREA_FOUND;
}

int WritePackageManifest(const char *given, FILE *out)
{
    Package package;
    char folder[MAX_PATH_BYTES];
    int result = FindUpdaters(&package, folder, sizeof(folder), given, out);
    for (int i = 0; result == CHECK_ACCEPTED && i < package.updaterCount; i++) {
        if (package.updaters[i].marked && !WriteOneManifest(&package, &package.updaters[i]))
            result = CHECK_REFUSED;
    }
    return result;
}

int VerifyPackage(const char *given, FILE *out)
{
    Package package;
    char folder[MAX_PATH_BYTES];
    int result = FindUpdaters(&package, folder, sizeof(folder), given, out);
    if (result != CHECK_ACCEPTED) {
        if (result == CHECK_REFUSED)
            fprintf(out, "RESULT: refused (%d error%s)\n", package.log.errors, package.log.errors == 1 ? "" : "s");
        return result;
    }
    for (int i = 0; i < package.updaterCount; i++) {
        if (package.updaters[i].marked && !VerifyOneUpdater(&package, &package.updaters[i]))
            result = CHECK_REFUSED;
    }
    if (result == CHECK_ACCEPTED)
        fprintf(out, "RESULT: verified\n");
    else
        fprintf(out, "RESULT: refused (%d error%s)\n", package.log.errors, package.log.errors == 1 ? "" : "s");
    return result;
}
