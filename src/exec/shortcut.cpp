#include "exec/shortcut.h"

#include "base/messages.h"
#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/shellcalls.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/filecmd.h"
#include "exec/filereplace.h"
#include "exec/inplace.h"
#include "exec/shortcutname.h"

#include <stdio.h>
#include <string.h>

namespace {

const char LINK_EXTENSION[] = ".lnk";

int Finish(int result)
{
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Shortcut");
    return result;
}

void ShowError(const char *text)
{
    UserBox(nullptr, text, CAPTION_ERROR, MB_ICONERROR);
}

// The name test, and the path as a whole: it must name a folder to put the
// link in and leave room for ".lnk". The trace line of a refusal, or null.
const char *RefusalOf(const char *path)
{
    const char *name = ShortcutNameOf(path);
    if (!name)
        return "\t\t\tショートカットのパスにフォルダがありません.\n";
    if (!IsValidShortcutName(name))
        return "\t\t\tショートカット名に(\\,/,:,*,\",<,>,.,|,?)が含まれています.\n";
    if (strlen(path) + sizeof(LINK_EXTENSION) > MAX_PATH_BYTES)
        return "\t\t\tショートカットのパスが長すぎます.\n";
    return nullptr;
}

// Builds the target path into target (MAX_PATH_BYTES) and tells whether it opens.
int TargetExists(char *target, const char *folder, const char *file)
{
    // A target beyond the path limit cannot be opened any more than a missing one.
    int fits = snprintf(target, MAX_PATH_BYTES, "%s\\%s", folder, file) < MAX_PATH_BYTES;
    FILE *probe = fits ? fopen(target, "rb") : nullptr;
    if (!probe) {
        TracePrintf("\t\t\tfopen(file_path, \"rb\" ) = NULL\n");
        TracePrintf("\t\t\tショートカットは作成しません.\n");
        return 0;
    }
    fclose(probe);
    return 1;
}

// The attributes an existing link keeps when it is written anew (0 when
// there is none). A read-only link is refused, as the shell's own save is.
int KeptAttributes(const char *linkPath, DWORD *kept)
{
    DWORD attrs = GetFileAttributesA(linkPath);
    *kept = 0;
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return 1;
    if (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    *kept = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return 1;
}

// Writes the link's bytes over the file at linkPath (made new when there is
// none), through a checked handle: what the shell's save does, where the
// link cannot be replaced (a program holds it sharing writing) or no
// leftover name fits beside it.
int WriteInPlace(const char *linkPath, const void *bytes, DWORD size)
{
    HANDLE file = OpenPlainFile(linkPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    NewBytes from;
    from.file = INVALID_HANDLE_VALUE;
    from.bytes = (const char *)bytes;
    from.size = size;
    int done = OverwriteInPlace(file, &from, nullptr, nullptr);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return done;
}

// The link's bytes are written by the updater itself, under a leftover name
// that is renamed over the old link when whole: the shell would write them
// by name, following whatever link is planted there. 0 with the last error
// set when the link cannot be written.
int WriteLinkBytes(const char *linkPath, const void *bytes, DWORD size)
{
    DWORD kept = 0;
    NewFile temp;
    if (!KeptAttributes(linkPath, &kept))
        return 0;
    if (!NewFileBeside(&temp, linkPath, 0))
        return GetLastError() == ERROR_FILENAME_EXCED_RANGE ? WriteInPlace(linkPath, bytes, size) : 0;
    if (NewFileWrite(&temp, bytes, size) && SealNewFile(&temp, nullptr) && RenameNewFile(&temp, linkPath, kept))
        return 1;
    DWORD error = GetLastError();
    DiscardNewFile(&temp);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
        return WriteInPlace(linkPath, bytes, size);
    SetLastError(error);
    return 0;
}

// The system error a failed COM call stands for.
DWORD ErrorOf(HRESULT hr)
{
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        return HRESULT_CODE(hr);
    return hr == E_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE;
}

// The link as the shell-link object saves it, in memory, then written.
int SaveLinkTo(const char *linkPath, IShellLinkA *link)
{
    IPersistStream *persist = nullptr;
    IStream *stream = nullptr;
    HGLOBAL memory = nullptr;
    HRESULT hr = link->QueryInterface(IID_IPersistStream, (void **)&persist);
    if (SUCCEEDED(hr))
        hr = ComCreateMemoryStream(&stream);
    if (SUCCEEDED(hr))
        hr = persist->Save(stream, TRUE);
    if (SUCCEEDED(hr))
        hr = ComMemoryOfStream(stream, &memory);
    // The memory may be larger than what was written.
    const void *bytes = SUCCEEDED(hr) ? GlobalLock(memory) : nullptr;
    ULARGE_INTEGER size;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (SUCCEEDED(hr))
        hr = bytes ? stream->Seek(zero, STREAM_SEEK_CUR, &size) : E_OUTOFMEMORY;
    int saved = SUCCEEDED(hr) && WriteLinkBytes(linkPath, bytes, (DWORD)size.QuadPart);
    // Unlocking and releasing say nothing of the write: its error is kept.
    DWORD error = FAILED(hr) ? ErrorOf(hr) : GetLastError();
    if (bytes)
        GlobalUnlock(memory);
    if (stream)
        stream->Release();
    if (persist)
        persist->Release();
    SetLastError(error);
    return saved;
}

// Writes the link through the shell-link object. 0 when the object lacks the
// file interface or the link cannot be written (traced); an object that
// cannot be had is no failure.
int SaveLink(const char *linkPath, const char *target)
{
    IShellLinkA *link = nullptr;
    if (FAILED(ComCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void **)&link)))
        return 1;
    IPersistFile *file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
        TracePrintf("\t\t\tIID_IPersistFileインターフェイスの取得に失敗しました.\n");
        link->Release();
        return 0;
    }
    link->SetPath(target);
    int saved = SaveLinkTo(linkPath, link);
    if (!saved) {
        // Never success without a link: the trace and the result say why.
        DWORD error = GetLastError();
        char *text = GetLastErrorText();
        TracePrintf("\t\t\tショートカットを書き込めません - %s", text);
        LocalFree(text);
        RecordError(error);
    }
    file->Release();
    link->Release();
    return saved;
}

} // namespace

int Shortcut(const char *path, const char *folder, const char *file)
{
    TracePrintf("\t\t[%s]>>\n", "Shortcut");
    TracePrintf("\t\t\tpath   = %s\n", path);
    TracePrintf("\t\t\tfolder = %s\n", folder);
    TracePrintf("\t\t\tfile   = %s\n", file);
    const char *refusal = RefusalOf(path);
    if (refusal) {
        ShowError("ショートカット名が不正です");
        TracePrintf("%s", refusal);
        return Finish(0);
    }
    char linkPath[MAX_PATH_BYTES];
    StrCopy(linkPath, sizeof(linkPath), path);
    StrAppend(linkPath, sizeof(linkPath), LINK_EXTENSION);
    char parent[MAX_PATH_BYTES];
    StrCopy(parent, sizeof(parent), linkPath);
    *MbsRChr(parent, '\\') = '\0';
    if (!CreateDirectoryAll(parent)) {
        ShowError("ショートカット作成のためのフォルダ作成に失敗しました");
        TracePrintf("\t\t\tCreateDirectoryAll(%s) = FALSE\n", parent);
        return Finish(0);
    }
    char target[MAX_PATH_BYTES];
    if (!TargetExists(target, folder, file))
        return Finish(1);
    // The link's folder may be reached through a link of its own (the
    // Desktop moved elsewhere): where it leads is taken once and held.
    FolderHold hold;
    HoldFolder(&hold, parent);
    // A link folder is no destination: what a killed run left there goes now.
    ClearLeftovers(parent);
    // A thread whose COM is set up otherwise keeps it; only a successful
    // initialisation is undone.
    HRESULT com = ComInitialize();
    int result = SaveLink(linkPath, target);
    if (SUCCEEDED(com))
        ComUninitialize();
    ReleaseFolder(&hold);
    return Finish(result);
}
