// A packaged update's plug-ins and programs are loaded and started from
// copies the updater makes as it reads them, in a folder of its own that only
// administrators and the system can write. The update folder stays writable
// by whoever unpacked it: a file held against writing cannot be changed, but
// a new one can still be put beside it, and the search for a plug-in's or a
// program's own libraries looks beside it first. In the copy's folder there is
// nothing but what the manifest lists.
#pragma once

#include <windows.h>

#include <stddef.h>

// Makes the folder, below the system's own Temp folder, for files of
// srcFolder, and clears what earlier runs left there (exec/stagesweep.h).
// 0 when it cannot be made.
int OpenStage(const char *srcFolder);
// Takes root (ending in a backslash), a stage another run made and holds,
// as this run's stage for files of srcFolder: the updater's copy running
// from there stages the package's files beside itself.
int AdoptStage(const char *srcFolder, const char *root);
// The stage's folder (ending in a backslash), or null when there is none.
const char *StageRoot(void);
// 1 when bytes more fit on the stage's drive; *freeBytes tells how many do.
int StageFits(unsigned long long bytes, unsigned long long *freeBytes);
// Writes size bytes as the new file name at the stage's top, held for the
// rest of the run as a copy is; *held is that handle (reading, at the file's
// start), for the caller to read back what is now on disk.
int StageBytes(const char *name, const void *bytes, size_t size, HANDLE *held);
// Copies relative (below srcFolder) from source, read from its start, into the
// folder; 1 when the bytes read were the ones sha256 and size describe, and
// the copy is held against writing for the rest of the run.
int StageFile(const char *relative, HANDLE source, const unsigned char *sha256, unsigned long long size);
// The staged copy of path (a file or a folder ending in a backslash below
// srcFolder), in staged; 0 when nothing of that path was staged.
int StagedPath(const char *path, char *staged, size_t size);
// Lets go of the copies and deletes them and the folders this run made,
// where nothing still uses them; what a program left there stays.
void CloseStage(void);
