#include "exec/shortcut.h"

#include "base/messages.h"
#include "base/safefile.h"
#include "base/shellcalls.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/filecmd.h"
#include "exec/filereplace.h"
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

// Writes the link's bytes in place, through a handle on a plain file at
// linkPath: where no leftover name fits beside it.
void WriteInPlace(const char *linkPath, const void *bytes, DWORD size)
{
    HANDLE file = OpenPlainFile(linkPath, GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    if (SetEndOfFile(file))
        WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
}

// The link's bytes are written by the updater itself, under a leftover name
// that is renamed over the old link when whole: the shell would write them
// by name, following whatever link is planted there.
void WriteLinkBytes(const char *linkPath, const void *bytes, DWORD size)
{
    NewFile temp;
    if (NewFileBeside(&temp, linkPath, 0)) {
        if (NewFileWrite(&temp, bytes, size))
            CommitNewFile(&temp, linkPath, nullptr, 0);
        else
            DiscardNewFile(&temp);
    } else if (GetLastError() == ERROR_FILENAME_EXCED_RANGE) {
        WriteInPlace(linkPath, bytes, size);
    }
}

// The link as the shell-link object saves it, in memory.
void SaveLinkTo(const char *linkPath, IShellLinkA *link)
{
    IPersistStream *persist = nullptr;
    IStream *stream = nullptr;
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistStream, (void **)&persist)) &&
        SUCCEEDED(ComCreateMemoryStream(&stream)) && SUCCEEDED(persist->Save(stream, TRUE)) &&
        SUCCEEDED(ComMemoryOfStream(stream, &memory))) {
        ULARGE_INTEGER size;
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        // The memory may be larger than what was written.
        const void *bytes = GlobalLock(memory);
        if (bytes && SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &size)))
            WriteLinkBytes(linkPath, bytes, (DWORD)size.QuadPart);
        if (bytes)
            GlobalUnlock(memory);
    }
    if (stream)
        stream->Release();
    if (persist)
        persist->Release();
}

// Writes the link through the shell-link object. 0 only when the object
// lacks the file interface; an object that cannot be had is no failure.
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
    SaveLinkTo(linkPath, link);
    file->Release();
    link->Release();
    return 1;
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
    // A link folder is no destination: what a killed run left there goes now.
    ClearLeftovers(parent);
    // A thread whose COM is set up otherwise keeps it; only a successful
    // initialisation is undone.
    HRESULT com = ComInitialize();
    int result = SaveLink(linkPath, target);
    if (SUCCEEDED(com))
        ComUninitialize();
    return Finish(result);
}
