#include "exec/history.h"

#include "base/safefile.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "exec/atomic.h"
#include "exec/historytext.h"
#include "exec/settingstext.h"
#include "exec/settingswrite.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

const char HISTORY_FILE[] = "update.log";
const char SETTINGS_FILE[] = "MIRO42.INI";

// Three numbers of up to 11 characters each, three tabs, CR LF, terminator.
const size_t LINE_FIXED_BYTES = 3 * 11 + 3 + 2 + 1;

int HistoryPath(char *path, const char *folder)
{
    // PathCombineA wants a MAX_PATH buffer and nothing longer to produce. The
    // folder's own backslash is the separator: a 249-byte folder fits.
    char joined[MAX_PATH_BYTES];
    if (!JoinPath(joined, sizeof(joined), folder, HISTORY_FILE))
        return 0;
    return PathCombineA(path, folder, HISTORY_FILE) != nullptr;
}

struct tm LocalNow(void)
{
    struct tm now;
    memset(&now, 0, sizeof(now));
    __time64_t clock = _time64(nullptr);
    const struct tm *local = _localtime64(&clock);
    if (local)
        now = *local;
    return now;
}

// The dated line, sized from the texts it carries so that no id or comment
// is cut; n is the comment's length. Heap (free), null when out of memory.
char *FormatLine(const char *id, const char *first, const char *second, size_t n, int *len)
{
    const char *idText = id ? id : "(null)";
    size_t size = n + strlen(idText) + LINE_FIXED_BYTES;
    char *line = (char *)malloc(size);
    if (!line) {
        TracePrintf("\t\t\tfor write:malloc(%d)\t\t= NULL\n", (int)size);
        return nullptr;
    }
    struct tm now = LocalNow();
    *len = snprintf(line, size, "%4d%02d%02d\t%s\t%s\t%s\r\n", now.tm_year + 1900, now.tm_mon + 1,
                    now.tm_mday, idText, first, second);
    if (*len <= 0 || (size_t)*len >= size)
        *len = 0;
    return line;
}

// The history gets a new file, its old text and the line, as the settings
// file does: a cut at any instant leaves the old text or the new one (its
// size could survive without its bytes, in place), and a second name is
// never written through. One held so that it can only be written is
// written in place, so that the next run finishes a cut write. One that
// cannot be read so is skipped.
void AppendByReplacing(const char *path, const char *line, int len)
{
    SettingsFile file;
    char *text = nullptr;
    if (len > 0 && ReadSettingsFile(&file, path) && (text = (char *)malloc(file.length + len)) != nullptr) {
        memcpy(text, file.text, file.length);
        memcpy(text + file.length, line, (size_t)len);
        WriteSettingsFile(&file, path, text, file.length + (DWORD)len);
    }
    free(text);
    CloseSettingsFile(&file);
}

// The line written, or prepared in an update made all or nothing.
void WriteHistory(AtomicUpdate *update, const char *folder, const char *id, const char *first,
                  const char *second, size_t n)
{
    int len = 0;
    char path[MAX_PATH_BYTES];
    char *line = FormatLine(id, first, second, n, &len);
    if (line && len > 0 && update)
        PrepareHistoryLine(update, line, (size_t)len);
    else if (line && HistoryPath(path, folder))
        AppendByReplacing(path, line, len);
    free(line);
}

// The INSTALLED value now and with id added, both in the file's encoding
// (heap, free). 0, both null, when out of memory.
int MergedValues(const SettingsText &text, const char *id, char **oldValue, char **newValue)
{
    char *idText = SettingsFromAnsi(&text, id);
    *oldValue = SettingsValueOf(&text, "MAIN", "INSTALLED");
    *newValue = idText && *oldValue ? MergeInstalledIds(*oldValue, idText) : nullptr;
    free(idText);
    if (*newValue)
        return 1;
    free(*oldValue);
    *oldValue = nullptr;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// The settings file's text with id added (heap, free; *length bytes); null
// with the last error set when it cannot be made.
char *WithId(const SettingsFile *file, const char *id, size_t *length)
{
    SettingsText text;
    if (!DecodeSettings(&text, file->text, file->length))
        return nullptr;
    char *oldValue = nullptr;
    char *newValue = nullptr;
    char *bytes = MergedValues(text, id, &oldValue, &newValue)
                      ? SettingsWithValue(&text, "MAIN", "INSTALLED", newValue, length)
                      : nullptr;
    if (!bytes)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    free(oldValue);
    free(newValue);
    FreeSettingsText(&text);
    return bytes;
}

int AddToSettings(SettingsFile *file, const char *iniPath, const char *id)
{
    size_t length = 0;
    char *bytes = WithId(file, id, &length);
    int result = bytes && WriteSettingsFile(file, iniPath, bytes, (DWORD)length);
    free(bytes);
    return result;
}

void TraceNotWritten(void)
{
    // The update is in place but will be offered again: support must see why.
    char *text = GetLastErrorText();
    TracePrintf("\t\tINSTALLED not written - %s", text);
    LocalFree(text);
}

int LogWith(AtomicUpdate *update, const char *folder, const char *comment, const char *id)
{
    TracePrintf("\t\t[%s]>>\n", "Log");
    TracePrintf("\t\t\tpath    = %s\n", folder);
    TracePrintf("\t\t\tcomment = %s\n", comment);
    size_t n = strlen(comment);
    char *copy = (char *)malloc(n + 1);
    if (!copy) {
        TracePrintf("\t\t\tfor comment:malloc(%d)\t\t= NULL\n", (int)(n + 1));
    } else {
        memcpy(copy, comment, n + 1);
        char *first;
        char *second;
        SplitComment(copy, &first, &second);
        WriteHistory(update, folder, id, first, second, n);
        free(copy);
    }
    TracePrintf("\t\tbResult = %d\n", 1);
    TracePrintf("\t\t[%s]<<\n", "Log");
    return 1;
}

} // namespace

int Log(const char *folder, const char *comment, const char *id)
{
    return LogWith(nullptr, folder, comment, id);
}

int LogPrepared(AtomicUpdate *update, const char *folder, const char *comment, const char *id)
{
    return LogWith(update, folder, comment, id);
}

int AddInstalledId(const char *folder, const char *id)
{
    char iniPath[MAX_PATH_BYTES];
    if (!id || !id[0] || !JoinPath(iniPath, sizeof(iniPath), folder, SETTINGS_FILE))
        return 0;
    SettingsFile file;
    int result = ReadSettingsFile(&file, iniPath) && AddToSettings(&file, iniPath, id);
    if (!result)
        TraceNotWritten();
    CloseSettingsFile(&file);
    return result;
}

int PrepareInstalledId(AtomicUpdate *update, const char *folder, const char *id)
{
    char iniPath[MAX_PATH_BYTES];
    SettingsFile file;
    size_t length = 0;
    char *bytes = nullptr;
    int read = JoinPath(iniPath, sizeof(iniPath), folder, SETTINGS_FILE) && ReadSettingsFile(&file, iniPath) &&
               (bytes = WithId(&file, id, &length)) != nullptr;
    // The file is let go of before the change is prepared: that holds it.
    CloseSettingsFile(&file);
    int result = read && PrepareSettings(update, iniPath, bytes, (unsigned long)length);
    if (!result)
        TraceNotWritten();
    free(bytes);
    return result;
}

char *HistoryLineOf(const char *comment, const char *id)
{
    size_t n = strlen(comment);
    char *copy = StrDup(comment);
    if (!copy)
        return nullptr;
    char *first;
    char *second;
    SplitComment(copy, &first, &second);
    int len = 0;
    char *line = FormatLine(id, first, second, n, &len);
    if (line)
        line[len >= 2 ? len - 2 : 0] = '\0';
    free(copy);
    return line;
}

int InstalledValues(const char *folder, const char *id, char **oldValue, char **newValue)
{
    *oldValue = *newValue = nullptr;
    char iniPath[MAX_PATH_BYTES];
    SettingsFile file;
    SettingsText text;
    char *oldText = nullptr;
    char *newText = nullptr;
    if (!JoinPath(iniPath, sizeof(iniPath), folder, SETTINGS_FILE))
        return 0;
    int read = ReadSettingsFile(&file, iniPath) && DecodeSettings(&text, file.text, file.length);
    if (read && MergedValues(text, id, &oldText, &newText)) {
        *oldValue = SettingsToAnsi(&text, oldText);
        *newValue = SettingsToAnsi(&text, newText);
        if (!*oldValue || !*newValue)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD error = GetLastError();
    free(oldText);
    free(newText);
    if (read)
        FreeSettingsText(&text);
    CloseSettingsFile(&file);
    if (!*oldValue || !*newValue) {
        free(*oldValue);
        free(*newValue);
        *oldValue = *newValue = nullptr;
        SetLastError(error);
        return 0;
    }
    return 1;
}

int InstalledListsId(const char *folder, const char *id)
{
    char *oldValue = nullptr;
    char *newValue = nullptr;
    int listed = id && id[0] && InstalledValues(folder, id, &oldValue, &newValue) && InstalledHasId(oldValue, id);
    free(oldValue);
    free(newValue);
    return listed;
}
