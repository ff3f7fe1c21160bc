// What a run cut short left in a destination folder, finished before
// anything there is read or changed: an all-or-nothing update that was
// complete has what it kept for its undo cleared, any other has every
// change undone, and a write in place is made whole (exec/journal.h).
#pragma once

// 1 when nothing is left pending in folder (ending with a backslash): done
// now (traced) or nothing was. 0 when a journal could not be finished: a
// program holds a file it needs, or a running updater holds the journal;
// it stays for the next run, and CutShortLeft() tells so from then on. In
// a dry run nothing is done: what is pending is only traced.
int FinishCutShort(const char *folder);
// 1 when some folder's journal could not be finished in this run.
int CutShortLeft(void);
// 1 when a journal of the updater's lies in folder: what FinishCutShort
// would act on.
int IsCutShort(const char *folder);
