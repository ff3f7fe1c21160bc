// The running updater's own image as the loader mapped it: where its
// manifest is read, never from the file on disk, which another process
// could rename and replace while it runs.
#pragma once

#include "checks/manifestimage.h"

// The executable's image in memory (headers and sections at their virtual
// addresses), SizeOfImage bytes. 0 when its headers cannot be read.
int OwnImage(PeBytes *image);

// The digest that the updater= line of an image's file (size bytes) must
// hold (ManifestDigestRanges, the system's SHA-256), and where its manifest
// is. 0 when the file holds no whole manifest or cannot be hashed.
int ImageFileDigest(const unsigned char *bytes, size_t size, ManifestPlace *place, unsigned char *digest);
