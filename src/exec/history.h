// The destination's update history ("update.log") and installed list
// (INSTALLED of [MAIN] in "MIRO42.INI").
#pragma once

// Appends one dated line "id <tab> first part <tab> second part" of the
// comment; a history that cannot be opened is skipped. Always 1.
int Log(const char *folder, const char *comment, const char *id);
// Adds id to INSTALLED. The settings write's result (non-zero on success);
// 0 without writing when the old value cannot be read whole.
int AddInstalledId(const char *folder, const char *id);
// The same in a destination updated all or nothing (exec/atomic.h): the
// history's line and the settings file's new text prepared, made with the
// other changes. PrepareInstalledId is 0 (traced) when the text cannot be
// had: the update is then undone.
struct AtomicUpdate;
int LogPrepared(AtomicUpdate *update, const char *folder, const char *comment, const char *id);
int PrepareInstalledId(AtomicUpdate *update, const char *folder, const char *id);

// For a dry run, nothing written: the line Log would append for comment
// today, without its CR LF (heap, free; null when out of memory).
char *HistoryLineOf(const char *comment, const char *id);
// The INSTALLED value now (*oldValue) and the one AddInstalledId would write
// (*newValue), both heap (free). 0, both null, when the settings file cannot
// be read whole; the last error tells why.
int InstalledValues(const char *folder, const char *id, char **oldValue, char **newValue);
// Whether the folder's INSTALLED already lists id (0 when it cannot be read).
int InstalledListsId(const char *folder, const char *id);
