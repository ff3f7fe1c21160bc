#include "checks/manifestimage.h"

#include <string.h>

namespace {

enum { MOST_SECTIONS = 96, MOST_DIRECTORIES = 16, CERTIFICATE_DIRECTORY = 4 };

// 1 when [start, start + length) lies within size bytes.
int Within(size_t start, size_t length, size_t size)
{
    return start <= size && length <= size - start;
}

int Fail(ManifestFault *fault, const char *what)
{
    fault->line = 0;
    fault->what = what;
    return 0;
}

struct Section {
    int named;
    unsigned long virtualSize, virtualAddress, rawSize, rawStart;
};

Section SectionAt(const unsigned char *header)
{
    Section section;
    section.named = memcmp(header, MANIFEST_SECTION, 8) == 0;
    section.virtualSize = ReadLe32(header + 8);
    section.virtualAddress = ReadLe32(header + 12);
    section.rawSize = ReadLe32(header + 16);
    section.rawStart = ReadLe32(header + 20);
    return section;
}

int StartsWithMarker(const PeBytes *image, const Section &section)
{
    size_t start = image->mapped ? section.virtualAddress : section.rawStart;
    size_t length = image->mapped ? section.virtualSize : section.rawSize;
    return length >= MANIFEST_MARKER_BYTES && Within(start, MANIFEST_MARKER_BYTES, image->size) &&
           memcmp(image->bytes + start, MANIFEST_MARKER, MANIFEST_MARKER_BYTES) == 0;
}

// The one section holding the manifest, whole: its text and raw data.
int TakeSection(const PeBytes *image, const Section &section, ManifestPlace *place, ManifestFault *fault)
{
    if (!section.named)
        return Fail(fault, "the manifest is in a section not named .lumiman");
    if (section.virtualSize == 0 || section.virtualSize > section.rawSize)
        return Fail(fault, "the manifest section's sizes do not hold its text");
    // What follows the text in its raw data is never mapped: neither form
    // of the image reads it.
    size_t start = image->mapped ? section.virtualAddress : section.rawStart;
    size_t length = image->mapped ? section.virtualSize : section.rawSize;
    if (!Within(start, length, image->size))
        return Fail(fault, "the image ends inside the manifest");
    place->text = (const char *)image->bytes + start;
    place->length = section.virtualSize;
    place->rawStart = section.rawStart;
    place->rawSize = section.rawSize;
    return 1;
}

void SortRanges(ByteRange *ranges, int count)
{
    for (int i = 1; i < count; i++)
        for (int j = i; j > 0 && ranges[j].start < ranges[j - 1].start; j--) {
            ByteRange kept = ranges[j];
            ranges[j] = ranges[j - 1];
            ranges[j - 1] = kept;
        }
}

} // namespace

unsigned ReadLe16(const unsigned char *p)
{
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

unsigned long ReadLe32(const unsigned char *p)
{
    return (unsigned long)p[0] | (unsigned long)p[1] << 8 | (unsigned long)p[2] << 16 | (unsigned long)p[3] << 24;
}

int ReadPeLayout(const unsigned char *bytes, size_t size, PeLayout *layout)
{
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z')
        return 0;
    size_t pe = ReadLe32(bytes + 0x3C);
    if (!Within(pe, 24, size) || memcmp(bytes + pe, "PE\0\0", 4) != 0)
        return 0;
    layout->sectionCount = ReadLe16(bytes + pe + 6);
    size_t optionalBytes = ReadLe16(bytes + pe + 20);
    layout->optional = pe + 24;
    if (!Within(layout->optional, 2, size))
        return 0;
    unsigned magic = ReadLe16(bytes + layout->optional);
    // PE32 and PE32+ differ in where the directories start.
    size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
    if (directories == 0 || optionalBytes < directories || !Within(layout->optional, optionalBytes, size))
        return 0;
    layout->checksum = layout->optional + 64;
    layout->directories = layout->optional + directories;
    layout->directoryCount = ReadLe32(bytes + layout->directories - 4);
    if (layout->directoryCount > MOST_DIRECTORIES || optionalBytes < directories + 8 * layout->directoryCount)
        return 0;
    layout->sections = layout->optional + optionalBytes;
    return layout->sectionCount <= MOST_SECTIONS &&
           Within(layout->sections, PE_SECTION_HEADER_BYTES * layout->sectionCount, size);
}

ManifestPresence FindManifest(const PeBytes *image, ManifestPlace *place, ManifestFault *fault)
{
    memset(place, 0, sizeof(*place));
    fault->line = 0;
    fault->what = nullptr;
    PeLayout layout;
    if (!ReadPeLayout(image->bytes, image->size, &layout))
        return MANIFEST_ABSENT;
    int found = -1;
    for (unsigned i = 0; i < layout.sectionCount; i++) {
        Section section = SectionAt(image->bytes + layout.sections + PE_SECTION_HEADER_BYTES * i);
        if (!section.named && !StartsWithMarker(image, section))
            continue;
        if (found >= 0) {
            Fail(fault, "the image holds more than one manifest");
            return MANIFEST_DAMAGED;
        }
        found = (int)i;
    }
    if (found < 0)
        return MANIFEST_ABSENT;
    Section section = SectionAt(image->bytes + layout.sections + PE_SECTION_HEADER_BYTES * found);
    return TakeSection(image, section, place, fault) ? MANIFEST_FOUND : MANIFEST_DAMAGED;
}

ManifestPresence ReadImageManifest(const PeBytes *image, const char *scriptName, Manifest *manifest,
                                   ManifestPlace *place, ManifestFault *fault)
{
    memset(manifest, 0, sizeof(*manifest));
    ManifestPresence presence = FindManifest(image, place, fault);
    if (presence != MANIFEST_FOUND)
        return presence;
    return ParseManifest(place->text, place->length, scriptName, manifest, fault) ? MANIFEST_FOUND
                                                                                   : MANIFEST_DAMAGED;
}

int ManifestDigestRanges(const PeBytes *file, const ManifestPlace *place, ByteRange *ranges, int *count)
{
    PeLayout layout;
    *count = 0;
    if (file->mapped || !ReadPeLayout(file->bytes, file->size, &layout))
        return 0;
    ByteRange left[4];
    int leftOut = 0;
    left[leftOut++] = {layout.checksum, layout.checksum + 4};
    left[leftOut++] = {place->rawStart, place->rawStart + place->rawSize};
    if (layout.directoryCount > CERTIFICATE_DIRECTORY) {
        size_t entry = layout.directories + 8 * CERTIFICATE_DIRECTORY;
        left[leftOut++] = {entry, entry + 8};
        // This directory's address is a file offset, not a virtual one.
        size_t table = ReadLe32(file->bytes + entry), tableBytes = ReadLe32(file->bytes + entry + 4);
        if (tableBytes > 0)
            left[leftOut++] = {table, table + tableBytes};
    }
    SortRanges(left, leftOut);
    size_t at = 0;
    for (int i = 0; i < leftOut; i++) {
        if (left[i].start < at || left[i].end < left[i].start || left[i].end > file->size)
            return 0;
        if (left[i].start > at)
            ranges[(*count)++] = {at, left[i].start};
        at = left[i].end;
    }
    if (at < file->size)
        ranges[(*count)++] = {at, file->size};
    return 1;
}
