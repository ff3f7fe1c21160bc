// An all-or-nothing update of one destination folder ("atomic=1"). The file
// commands are prepared first: every new file written whole and put on disk
// under a new name (beside its destination, or in the nearest folder that
// is there when its own is still to be made), every file to be replaced or
// removed checked and held, the history's and the settings file's new texts
// made. Nothing the application could see has changed then, and a failure
// only drops what was prepared. Then the changes are made in one burst,
// after the journal (exec/journalfile.h) lists them on disk: each replaced
// or removed file moves to a backup name, each new file to its name. A
// plug-in or program runs once the file commands before it are in place.
// A failure at any point after undoes every change made in the folder; once
// the settings file holds the id, the journal says the update is complete
// and the backups go.
#pragma once

#include <windows.h>

struct AtomicUpdate;

// The update of folder (ending with a backslash); null when out of memory.
AtomicUpdate *StartAtomic(const char *folder);
// Ends it: an update neither finished nor undone is undone first.
void EndAtomic(AtomicUpdate *update);

// 1 when a prepared change already names path: what it does to path must be
// made before path is prepared again.
int IsPrepared(const AtomicUpdate *update, const char *path);

// Prepares one change of the file commands; 1 when prepared (or when there
// is nothing to change), else 0 with the last error set (what the plain
// command would meet, for its question). write: the new file's times.
int PrepareCopy(AtomicUpdate *update, const char *src, const char *dst, const FILETIME *write,
                LPPROGRESS_ROUTINE routine, void *data);
int PrepareRemove(AtomicUpdate *update, const char *path);
// The error of a folder that cannot be made; 0 when it will be (or is there).
DWORD PrepareFolder(AtomicUpdate *update, const char *path);
// The history's line (length bytes) added to what the history will hold.
int PrepareHistoryLine(AtomicUpdate *update, const char *line, size_t length);
// The settings file with its new text (length bytes), read from path.
int PrepareSettings(AtomicUpdate *update, const char *path, const char *text, unsigned long length);

// Makes what is prepared: written to the journal and put on disk first, then
// done. 0 (last error set) when it could not be made whole: the caller undoes.
int MakePrepared(AtomicUpdate *update);
// The update is complete: the journal says so, then the backups go.
int FinishAtomic(AtomicUpdate *update);
// Every change made undone, every prepared one dropped. 1 when the folder is
// as it was; else the journal stays for the next run to finish (traced).
int UndoAtomic(AtomicUpdate *update);
