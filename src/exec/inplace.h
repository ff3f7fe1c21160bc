// Writing new bytes over a file's own bytes, through a handle that holds it:
// what the updater does only where a file cannot be replaced but may be
// written (another program holds it sharing reading and writing, not its
// name), as the system's own copy and the profile functions would. Every
// write in place goes through OverwriteInPlace, so that what makes one
// survive a cut-off run is done in one place: the old bytes are the file's
// [0, old size) until it starts, the new ones come whole from a file already
// on disk or from memory, and it ends with the size set and the file flushed.
#pragma once

#include <windows.h>

// The new bytes: the whole of file (size bytes from its start) when it is
// not INVALID_HANDLE_VALUE, else size bytes at bytes.
struct NewBytes {
    HANDLE file;
    const char *bytes;
    unsigned long long size;
};

// Writes from over the whole of target (opened for reading and writing).
// Room for the longer of the old and the new bytes is taken first, by
// writing the part of the new bytes beyond the old size: a full disk fails
// there with the file cut back to its old bytes. Then the rest is written
// over the old bytes, the size set to the new one and the file flushed.
// routine, when not null, is told after each piece with data. 0 with the
// last error set on failure; only a failure after the first old byte
// changed leaves the file partial.
int OverwriteInPlace(HANDLE target, const NewBytes *from, LPPROGRESS_ROUTINE routine, void *data);

struct NewFile;

// Gives file the times and attributes of basic (zero times: left as they
// are; the change time is the system's).
int GiveBasicInfo(HANDLE file, const FILE_BASIC_INFO *basic);
// The whole of copy (a file of the updater's) written over target, which
// then gets copy's times and attributes too, and is flushed.
int WriteCopyOver(HANDLE target, HANDLE copy, LPPROGRESS_ROUTINE routine, void *data);
// text (length bytes) whole and flushed in a new private file beside path
// (held as target), with target's creation time and attributes and the
// time of now: what a write in place of that text leaves.
int StageTextFor(HANDLE target, const char *path, const char *text, unsigned long length, NewFile *staged);
// WriteCopyOver of staged (a private new file whole on disk, beside path,
// the file target holds) so that a cut at any instant is finished by the
// next run: a journal beside it names both, on disk before the first byte
// changes, and goes once the write is whole, together with staged. On
// failure both go (what a failed write left in target stays, as without).
int OverwriteSurely(HANDLE target, const char *path, NewFile *staged, LPPROGRESS_ROUTINE routine, void *data);
