// The packer's side of the manifest's place: a section of its own appended
// to the updater's PE image (src/checks/manifestimage.h), initialized
// read-only data that the loader maps and a signature covers.
#pragma once

#include <stddef.h>

// A new image (heap, *newSize bytes): image with the section MANIFEST_SECTION
// holding text (length bytes) after its last one, the headers' counts and
// sizes updated. Null with *why when image is no PE image, is signed, has
// no room for one more section header, or has bytes after its sections.
unsigned char *AddManifestSection(const unsigned char *image, size_t size, const char *text, size_t length,
                                  size_t *newSize, const char **why);
