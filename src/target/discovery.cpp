#include "target/discovery.h"

#include "base/dryrun.h"
#include "base/messages.h"
#include "base/shellcalls.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/filecmd.h"
#include "exec/recover.h"
#include "target/destlist.h"
#include "target/versiongate.h"

#include <string.h>

const char INSTALLED_COPIES_KEY[] = "Software\\Kevrani\\ルミテル ミルテ版";

namespace {

enum { SUBKEY_NAME_BYTES = 1024, MESSAGE_BYTES = 1024 };

const char kAskText[] = "自分で指定しますか？";
const char kBrowseTitle[] = "ルミテルがインストールされているフォルダを選択してください。";
const char kRefusedText[] = "\nこのフォルダには適用できません。";
const char kMainLibrary[] = "MIRO42.DLL";

// Reads the subkey's "Path" into path (MAX_PATH_BYTES). 0 when it cannot be
// read, or fills the buffer without a terminator.
int ReadInstalledPath(HKEY parent, const char *subkey, char *path)
{
    HKEY key;
    if (RegOpenKeyExA(parent, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    TracePrintf("\t\t\t RegOpenKeyEx == ERROR_SUCCESS\n");
    memset(path, 0, MAX_PATH_BYTES);
    DWORD size = MAX_PATH_BYTES;
    // The value's type is not examined; the zeroed buffer and the check of
    // the returned size make any content a terminated string or a refusal.
    LONG status = RegQueryValueExA(key, "Path", nullptr, nullptr, (BYTE *)path, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && TerminateValue(path, MAX_PATH_BYTES, size);
}

// The install folder as the search compares it (with its backslash), and
// whether a registered copy in that same folder was refused by the gate.
struct InstallFolder {
    char path[MAX_PATH_BYTES];
    int refused;
};

void TakeInstalledCopy(HKEY parent, const char *subkey, const PtrList *targets, PtrList *dsts,
                       InstallFolder *install)
{
    char path[MAX_PATH_BYTES];
    if (!ReadInstalledPath(parent, subkey, path))
        return;
    TracePrintf("\t\t\t RegQueryValueEx == ERROR_SUCCESS\n");
    TracePrintf("\t\t\t szPath = %s\n", path);
    // An empty value names no folder (it would stand for the current one),
    // and a 259-byte one leaves no room for the backslash.
    if (!path[0] || !AddBackslash(path, sizeof(path)))
        return;
    FinishCutShort(path);
    int versionRead = 0;
    if (VersionGateEx(path, targets, &versionRead)) {
        TracePrintf("\t\t\t\t szPath is Targets\n");
        AppendFolderOnce(dsts, path);
    } else if (versionRead && !PtrListIsEmpty(targets) && install->path[0] &&
               AsciiStricmp(path, install->path) == 0) {
        // Only data of a version the update is not for holds the install
        // folder back. A script without patterns can reach nothing but the
        // install folder, and a registration whose folder or data file is
        // gone (an uninstall leaves it) is no copy to protect: the install
        // folder is then made and installed into as ever.
        install->refused = 1;
    }
}

void SearchRegistry(const PtrList *targets, PtrList *dsts, InstallFolder *install)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, INSTALLED_COPIES_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    TracePrintf("\t\t RegOpenKeyEx() == ERROR_SUCCESS\n");
    DWORD dwIndex = 0;
    TracePrintf("\t\t\t dwIndex = %d\n", (int)dwIndex);
    for (;;) {
        char name[SUBKEY_NAME_BYTES];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, dwIndex, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        TracePrintf("\t\t\t RegEnumKeyEx == ERROR_SUCCESS\n");
        TakeInstalledCopy(key, name, targets, dsts, install);
        dwIndex++;
        TracePrintf("\t\t\t dwIndex = %d\n", (int)dwIndex);
    }
    RegCloseKey(key);
}

// An empty path when the script names no usable install folder.
void PrepareInstallFolder(const char *install, InstallFolder *folder)
{
    folder->refused = 0;
    if (!install || !install[0] || !StrCopy(folder->path, sizeof(folder->path), install) ||
        !AddBackslash(folder->path, sizeof(folder->path)))
        folder->path[0] = '\0';
}

// The install folder is made when missing and is not put to the gate, but a
// registered copy there whose data the gate has just read and refused stays
// refused: its data is of a version the update is not for (or already
// updated by it). A dry run takes the folder as the real run would make
// it, without making it.
void TakeInstallFolder(const InstallFolder *install, PtrList *dsts)
{
    if (!install->path[0] || install->refused)
        return;
    if (IsDryRun() || CreateDirectoryAll(install->path)) {
        FinishCutShort(install->path);
        AppendFolderOnce(dsts, install->path);
    }
}

int AskToBrowse(void)
{
    char text[MESSAGE_BYTES];
    StrCopy(text, sizeof(text), MessageTable[RESULT_NO_DESTINATION]);
    StrAppend(text, sizeof(text), kAskText);
    return UserBox(nullptr, text, CAPTION_CONFIRM, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
           IDYES;
}

void ShowRefusal(const char *folder)
{
    char text[MESSAGE_BYTES];
    StrCopy(text, sizeof(text), folder);
    StrAppend(text, sizeof(text), kRefusedText);
    UserBox(nullptr, text, CAPTION_ERROR, MB_OK | MB_ICONERROR);
}

void FreeItem(LPITEMIDLIST item)
{
    IMalloc *shellMalloc = nullptr;
    if (SUCCEEDED(ShellGetMalloc(&shellMalloc)) && shellMalloc) {
        shellMalloc->Free(item);
        shellMalloc->Release();
    }
}

// One pass of the dialog. 1 when the search is over (cancelled or accepted).
int BrowseOnce(const PtrList *targets, PtrList *dsts)
{
    BROWSEINFOA info;
    memset(&info, 0, sizeof(info));
    info.lpszTitle = kBrowseTitle;
    info.lpfn = BrowseFolderCallback;
    LPITEMIDLIST item = ShellBrowseForFolder(&info);
    if (!item)
        return 1;
    char folder[MAX_PATH_BYTES];
    memset(folder, 0, sizeof(folder));
    int done = 0;
    if (ShellGetPathFromIDList(item, folder)) {
        // A 259-byte folder has no room for its backslash: refused like a
        // folder of the wrong version.
        int named = AddBackslash(folder, sizeof(folder));
        if (named)
            FinishCutShort(folder);
        if (named && VersionGate(folder, targets)) {
            AppendFolderOnce(dsts, folder);
            done = 1;
        } else {
            ShowRefusal(folder);
        }
    }
    FreeItem(item);
    return done;
}

} // namespace

int CALLBACK BrowseFolderCallback(HWND dialog, UINT msg, LPARAM param, LPARAM data)
{
    (void)data;
    if (msg != BFFM_SELCHANGED)
        return 0;
    char folder[MAX_PATH_BYTES];
    memset(folder, 0, sizeof(folder));
    int enable = 0;
    char library[MAX_PATH_BYTES];
    // A virtual folder has no path; a path without room for the name cannot
    // hold the file either.
    if (ShellGetPathFromIDList((LPCITEMIDLIST)param, folder) &&
        JoinPath(library, sizeof(library), folder, kMainLibrary)) {
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA(library, &fd);
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
            enable = 1;
        }
    }
    EnableWindow(GetDlgItem(dialog, IDOK), enable);
    return 0;
}

int GetDstPath(const PtrList *targets, PtrList *dst, const char *install)
{
    TracePrintf("\t[%s]>>\n", "GetDstPath");
    InstallFolder installFolder;
    PrepareInstallFolder(install, &installFolder);
    SearchRegistry(targets, dst, &installFolder);
    if (PtrListIsEmpty(dst))
        TakeInstallFolder(&installFolder, dst);
    if (PtrListIsEmpty(dst) && AskToBrowse()) {
        while (!BrowseOnce(targets, dst)) {
        }
    }
    TracePrintf("\t[%s]<<\n", "GetDstPath");
    return 1;
}
