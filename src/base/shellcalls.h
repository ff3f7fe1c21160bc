// The shell and COM calls of the updater, reached through libraries that are
// loaded the first time one of their calls is made: most runs never browse,
// make a shortcut, expand a folder macro or start a program, and loading the
// two libraries at start-up would cost every run their memory and time.
// Each call fails as the system's would when its library cannot be loaded.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

HRESULT ShellGetMalloc(IMalloc **allocator);
HRESULT ShellGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST *idList);
BOOL ShellGetPathFromIDList(LPCITEMIDLIST idList, char *path);
LPITEMIDLIST ShellBrowseForFolder(BROWSEINFOA *info);
BOOL ShellExecuteExAnsi(SHELLEXECUTEINFOA *info);

HRESULT ComInitialize(void);
void ComUninitialize(void);
HRESULT ComCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object);
// A stream in memory that frees its memory when released.
HRESULT ComCreateMemoryStream(IStream **stream);
HRESULT ComMemoryOfStream(IStream *stream, HGLOBAL *memory);
