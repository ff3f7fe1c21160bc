// What the checker asks of the file system (checkfs_win.cpp on Windows,
// checkfs_native.cpp for the native Linux build). Paths are in the script's
// code page, with backslashes after the folder given on the command line.
#pragma once

#include <stddef.h>
#include <stdio.h>

enum PathKind { PATH_MISSING, PATH_FILE, PATH_FOLDER };

PathKind KindOfPath(const char *path);

// Opens a file the way the updater's runtime does: mode "rt" (text: CR LF
// read as LF, a 0x1A byte ends the file) or "rb"; "r+b" to change it.
FILE *OpenCheckedFile(const char *path, const char *mode);

// folder followed by file, as the platform shows a path (folder ends with a
// backslash). Cut to fit size.
void ShownPath(char *out, size_t size, const char *folder, const char *file);

// Told of every file under the walked folder: its path relative to that
// folder ("data\NEW.DAT") and its size in bytes.
typedef void (*FolderFileVisitor)(const char *relative, unsigned long long size, void *context);

// Told of every link to a folder (a junction or a symbolic link) the walk
// passes over, by its path relative to the walked folder.
typedef void (*FolderLinkVisitor)(const char *relative, void *context);

// Walks folder (ending with a backslash) and every folder below it. Returns
// 0 when folder itself cannot be listed; entries whose path would not fit in
// 260 bytes are passed over, as the updater's own walk cannot reach them.
// Links to folders are never entered, as the updater's disk-space walk does
// not enter them: a loop would never end, and a link to another user's
// folder would show what is in it.
int WalkFolderFiles(const char *folder, FolderFileVisitor visit, void *context);
// The same, telling skipped (when not null) of each link passed over.
int WalkFolderFilesEx(const char *folder, FolderFileVisitor visit, FolderLinkVisitor skipped, void *context);
