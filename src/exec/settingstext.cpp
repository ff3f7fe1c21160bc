#include "exec/settingstext.h"

#include "exec/profilecode.h"
#include "exec/profiletext.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char UTF8_MARK[] = "\xEF\xBB\xBF";
const char UTF16_MARK[] = "\xFF\xFE";

// UTF-16 of text in code page from (heap, terminated; *units without the
// terminator); null when it does not convert.
WCHAR *Widened(UINT from, const char *text, int *units)
{
    int n = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    WCHAR *wide = n > 0 ? (WCHAR *)malloc((size_t)n * sizeof(WCHAR)) : nullptr;
    if (wide && MultiByteToWideChar(from, 0, text, -1, wide, n) == n) {
        *units = n - 1;
        return wide;
    }
    free(wide);
    return nullptr;
}

char *Narrowed(UINT to, const WCHAR *wide)
{
    int n = WideCharToMultiByte(to, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char *out = n > 0 ? (char *)malloc((size_t)n) : nullptr;
    if (out && WideCharToMultiByte(to, 0, wide, -1, out, n, nullptr, nullptr) == n)
        return out;
    free(out);
    return nullptr;
}

char *Copied(const char *text, size_t length)
{
    char *out = (char *)malloc(length + 1);
    if (out) {
        memcpy(out, text, length);
        out[length] = '\0';
    }
    return out;
}

// The wide text of a value in the file's encoding.
WCHAR *WideOfValue(const SettingsText *text, const char *value)
{
    int units = 0;
    if (text->encoding == PROFILE_UTF8)
        return Widened(CP_UTF8, value, &units);
    size_t n = 0;
    // Room for the terminator is always there: two bytes for each byte, and two more.
    WCHAR *wide = (WCHAR *)EightToUtf16(value, strlen(value), &n);
    if (wide)
        wide[n / sizeof(WCHAR)] = 0;
    return wide;
}

} // namespace

int DecodeSettings(SettingsText *text, const char *bytes, size_t length)
{
    size_t mark = 0;
    text->encoding = ProfileEncodingOf(bytes, length, &mark);
    text->body = nullptr;
    text->length = 0;
    text->mark = text->encoding == PROFILE_UTF8 ? UTF8_MARK : UTF16_MARK;
    text->markLength = mark;
    if (text->encoding == PROFILE_UTF16BE || (text->encoding == PROFILE_UTF16LE && (length - mark) % 2)) {
        SetLastError(ERROR_BAD_FORMAT);
        return 0;
    }
    if (text->encoding == PROFILE_UTF16LE)
        text->body = Utf16ToEight(bytes + mark, length - mark, &text->length);
    else if ((text->body = Copied(bytes + mark, length - mark)) != nullptr)
        text->length = length - mark;
    if (!text->body)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return text->body != nullptr;
}

void FreeSettingsText(SettingsText *text)
{
    free(text->body);
    text->body = nullptr;
}

char *SettingsValueOf(const SettingsText *text, const char *section, const char *key)
{
    size_t at = 0, len = 0;
    if (!ProfileFindValue(text->body, text->length, text->encoding == PROFILE_ANSI, section, key, &at, &len))
        len = 0;
    return Copied(text->body + at, len);
}

char *SettingsFromAnsi(const SettingsText *text, const char *ansi)
{
    if (text->encoding == PROFILE_ANSI)
        return Copied(ansi, strlen(ansi));
    int units = 0;
    WCHAR *wide = Widened(CP_ACP, ansi, &units);
    char *out = nullptr;
    size_t n = 0;
    if (wide)
        out = text->encoding == PROFILE_UTF8 ? Narrowed(CP_UTF8, wide)
                                             : Utf16ToEight((const char *)wide, (size_t)units * sizeof(WCHAR), &n);
    free(wide);
    return out;
}

char *SettingsToAnsi(const SettingsText *text, const char *value)
{
    if (text->encoding == PROFILE_ANSI)
        return Copied(value, strlen(value));
    WCHAR *wide = WideOfValue(text, value);
    char *out = wide ? Narrowed(CP_ACP, wide) : nullptr;
    free(wide);
    return out;
}

char *SettingsWithValue(const SettingsText *text, const char *section, const char *key, const char *value,
                        size_t *length)
{
    size_t n = 0;
    char *body = ProfileSetValue(text->body, text->length, text->encoding == PROFILE_ANSI, section, key, value, &n);
    char *encoded = body;
    if (body && text->encoding == PROFILE_UTF16LE) {
        encoded = EightToUtf16(body, n, &n);
        free(body);
    }
    char *out = encoded ? (char *)malloc(text->markLength + n + 1) : nullptr;
    if (out) {
        memcpy(out, text->mark, text->markLength);
        memcpy(out + text->markLength, encoded, n);
        out[text->markLength + n] = '\0';
        *length = text->markLength + n;
    }
    free(encoded);
    return out;
}
