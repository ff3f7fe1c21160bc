// What the checker asks of the file system about an update folder
// (checkfs_win.cpp on Windows).
#pragma once

enum PathKind { PATH_MISSING, PATH_FILE, PATH_FOLDER };

PathKind KindOfPath(const char *path);

// Told of every file under the walked folder: its path relative to that
// folder ("data\NEW.DAT") and its size in bytes.
typedef void (*FolderFileVisitor)(const char *relative, unsigned long long size, void *context);

// Walks folder (ending with a backslash) and every folder below it. Returns
// 0 when folder itself cannot be listed; entries whose path would not fit in
// 260 bytes are passed over, as the updater's own walk cannot reach them.
int WalkFolderFiles(const char *folder, FolderFileVisitor visit, void *context);
