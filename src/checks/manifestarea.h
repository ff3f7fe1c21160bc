// The package manifest's place in the updater's own image: a fixed area that
// the packer fills in the packaged executable before it is signed, so that
// the signature covers it. Read from the image in memory, never from the
// file on disk, which another process could rename and replace while the
// updater runs.
//
// Layout (MANIFEST_AREA_BYTES in all): a 16-byte marker the packer finds the
// area by, a 32-bit little-endian length (0: no manifest, the executable as
// built), then that many bytes of manifest text, then zeros.
#pragma once

#include <stddef.h>

enum { MANIFEST_AREA_BYTES = 16384, MANIFEST_HEADER_BYTES = 20 };

// A copy of the manifest text (heap, free; terminated) and its length; null
// when the executable carries none (or its length is beyond the area).
char *ManifestCopy(size_t *length);
// 1 when text (length bytes) starts with the area's marker: the manifest's
// first line names its format with it.
int ManifestMarkerIs(const char *text, size_t length);
