// TEMPORARY: what the merge with the link and in-place work provides, until it lands.
#pragma once
#include "exec/filereplace.h"
#include "exec/leftover.h"
#include <windows.h>
struct AtomicUpdate;
struct NewBytes {
    HANDLE file;
    const char *bytes;
    unsigned long long size;
};
int OverwriteInPlace(HANDLE target, const NewBytes *from, LPPROGRESS_ROUTINE routine, void *data);
int NewFileOfKind(NewFile *file, const char *path, DWORD extraAccess, LeftoverKind kind, int isPrivate);
DWORD ReplaceError(const char *dst);
int RenameWaiting(HANDLE handle, const char *path);
HANDLE OpenForInPlace(const char *dst);
int IsOwnFile(HANDLE file, const char *folder);
int StageCopy(const char *src, const char *beside, const FILETIME *write, LPPROGRESS_ROUTINE routine, void *data,
              NewFile *file, DWORD *carried, int isPrivate);
int StageCopyFrom(HANDLE source, const char *beside, NewFile *file, int isPrivate);
int GiveBasicInfo(HANDLE file, const FILE_BASIC_INFO *basic);
int WriteCopyOver(HANDLE target, HANDLE copy);
int StageTextFor(HANDLE target, const char *path, const char *text, unsigned long length, NewFile *staged);
int SealNewFile(NewFile *file, const FILETIME *write);
int RenameNewFile(NewFile *file, const char *path, DWORD attributes);
HANDLE OpenNamedFile(const char *path, DWORD access, DWORD share);
int CarrySecurity(HANDLE from, HANDLE to);
int LogPrepared(AtomicUpdate *update, const char *folder, const char *comment, const char *id);
int PrepareInstalledId(AtomicUpdate *update, const char *folder, const char *id);
