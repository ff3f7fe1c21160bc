// Writing the manifest into an updater: the folder's files hashed and
// listed, the text put into a section of its own added to the image, and
// the digest of the image so made written into its updater= line.
#include "manifest.h"
#include "manifestpackage.h"
#include "pesection.h"

#include "checker.h"
#include "checkfs.h"
#include "sha256.h"

#include "base/ptrlist.h"
#include "script/parser.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char FirstLine[] = "LUMIUPD-MANIFEST 2";
enum { HEX_DIGEST = 2 * SHA256_BYTES };

// The text as it grows (heap).
struct Text {
    char *bytes;
    size_t length, capacity;
};

int Append(Text *text, const char *bytes, size_t length)
{
    if (text->length + length > text->capacity) {
        size_t capacity = (text->length + length) * 2;
        char *grown = (char *)realloc(text->bytes, capacity);
        if (!grown)
            return 0;
        text->bytes = grown;
        text->capacity = capacity;
    }
    memcpy(text->bytes + text->length, bytes, length);
    text->length += length;
    return 1;
}

int AppendLine(Text *text, const char *line)
{
    return Append(text, line, strlen(line)) && Append(text, "\n", 1);
}

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

// One "file=" line of relative into text; newest is the latest time seen.
int ListFile(Package *package, const char *relative, Text *text, long long *newest)
{
    char path[MAX_PATH_BYTES], line[WHAT_BUFFER], hex[HEX_DIGEST + 1];
    unsigned char digest[SHA256_BYTES];
    unsigned long long size = 0;
    long long modified = 0;
    if (HoldsControlByte(relative)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "a control character in the name: no manifest line can hold it",
                      relative);
        return 0;
    }
    if (!HashFolderFile(package->folder, relative, digest, &size) ||
        !JoinPath(path, sizeof(path), package->folder, relative) || !FileModifiedTime(path, &modified)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", relative);
        return 0;
    }
    if (modified > *newest)
        *newest = modified;
    DigestHex(digest, hex);
    snprintf(line, sizeof(line), "file=%s %llu %s", hex, size, relative);
    return AppendLine(text, line);
}

// Every file but the updater, its script and SHA256SUMS, in byte order.
char **SortedNames(Package *package, const Updater *updater, PtrList **list, int *count)
{
    FileWalk walk = {updater, PtrListCreate(), 0};
    *list = walk.names;
    *count = 0;
    if (!walk.names || !WalkFolderFiles(package->folder, VisitPackagedFile, &walk) || walk.failed)
        return nullptr;
    *count = PtrListCount(walk.names);
    char **names = (char **)calloc((size_t)*count + 1, sizeof(char *));
    int i = 0;
    for (PtrNode *node = PtrListFirst(walk.names); node && names; node = node->next)
        names[i++] = (char *)node->data;
    if (names)
        qsort(names, (size_t)*count, sizeof(char *), CompareBytes);
    return names;
}

// The manifest's text for one updater, its updater= digest still zeros;
// 0 after a finding.
int ComposeManifest(Package *package, const Updater *updater, Text *text)
{
    char line[WHAT_BUFFER], id[WHAT_BUFFER], scriptPath[MAX_PATH_BYTES], stamp[40];
    if (!JoinPath(scriptPath, sizeof(scriptPath), package->folder, updater->script) ||
        !ReadScriptId(scriptPath, updater->script, id, sizeof(id))) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the updater refuses this script", updater->script);
        return 0;
    }
    if (HoldsControlByte(id) || strlen(id) > MANIFEST_ID_MOST) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the script's id holds a control character or is over 259 bytes",
                      updater->script);
        return 0;
    }
    PtrList *list = nullptr;
    int count = 0;
    char **names = SortedNames(package, updater, &list, &count);
    Text files = {nullptr, 0, 0};
    long long newest = -1;
    int ok = names != nullptr;
    if (!ok)
        FolderFinding(&package->log, SEVERITY_ERROR, "the folder cannot be listed", "");
    ok = ok && ListFile(package, updater->script, &files, &newest);
    for (int i = 0; ok && i < count; i++)
        ok = ListFile(package, names[i], &files, &newest);
    long long created = SourceDateEpoch();
    FormatUtc(created >= 0 ? created : newest, stamp, sizeof(stamp));
    if (ok) {
        // The digest is written once the image it covers is whole.
        char zeros[HEX_DIGEST + 1];
        memset(zeros, '0', HEX_DIGEST);
        zeros[HEX_DIGEST] = '\0';
        snprintf(line, sizeof(line), "id=%s", id);
        ok = AppendLine(text, FirstLine) && AppendLine(text, line);
        snprintf(line, sizeof(line), "created=%s", stamp);
        ok = ok && AppendLine(text, line);
        snprintf(line, sizeof(line), "updater=%s", zeros);
        ok = ok && AppendLine(text, line) && Append(text, files.bytes, files.length);
        if (!ok)
            FolderFinding(&package->log, SEVERITY_ERROR, "out of memory", updater->exe);
    }
    free(files.bytes);
    free(names);
    if (list)
        PtrListFreeStrings(list);
    return ok;
}

// The digest of the image (file form) into the manifest's updater= line.
int SealImage(unsigned char *image, size_t size)
{
    PeBytes file = {image, size, 0};
    ManifestPlace place;
    ManifestFault fault;
    ByteRange ranges[DIGEST_RANGES_MOST];
    unsigned char digest[SHA256_BYTES];
    char hex[HEX_DIGEST + 1];
    int count = 0;
    if (FindManifest(&file, &place, &fault) != MANIFEST_FOUND || !ManifestDigestRanges(&file, &place, ranges, &count) ||
        !Sha256OfRanges(image, ranges, count, digest))
        return 0;
    const char *line = strstr(place.text, "\nupdater=");
    if (!line)
        return 0;
    DigestHex(digest, hex);
    memcpy(image + place.rawStart + (size_t)(line + 9 - place.text), hex, HEX_DIGEST);
    return 1;
}

int WriteImage(const char *path, const unsigned char *image, size_t size)
{
    FILE *file = OpenCheckedFile(path, "wb");
    if (!file)
        return 0;
    int ok = fwrite(image, 1, size, file) == size;
    return (fclose(file) == 0) && ok;
}

} // namespace

int WriteOneManifest(Package *package, const Updater *updater)
{
    char exePath[MAX_PATH_BYTES], what[WHAT_BUFFER];
    unsigned char *image = nullptr, *sealed = nullptr;
    size_t size = 0, sealedSize = 0;
    if (!ReadUpdaterImage(package, updater, exePath, &image, &size))
        return 0;
    Text text = {nullptr, 0, 0};
    const char *why = "it holds a manifest already";
    int ok = 0;
    if (updater->marked || !ComposeManifest(package, updater, &text)) {
        // ComposeManifest tells its own findings.
        if (updater->marked)
            FolderFinding(&package->log, SEVERITY_ERROR, "no manifest can be added: it holds one already", updater->exe);
    } else if (!(sealed = AddManifestSection(image, size, text.bytes, text.length, &sealedSize, &why)) ||
               !SealImage(sealed, sealedSize)) {
        snprintf(what, sizeof(what), "no manifest can be added: %s", sealed ? "it cannot be read back" : why);
        FolderFinding(&package->log, SEVERITY_ERROR, what, updater->exe);
    } else if (!WriteImage(exePath, sealed, sealedSize)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the manifest could not be written into it", updater->exe);
    } else {
        snprintf(what, sizeof(what), "manifest written (%lu bytes)", (unsigned long)text.length);
        FolderFinding(&package->log, SEVERITY_INFO, what, updater->exe);
        ok = 1;
    }
    free(text.bytes);
    free(sealed);
    free(image);
    return ok;
}
