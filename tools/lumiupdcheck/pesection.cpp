#include "pesection.h"

#include "checks/manifestimage.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Initialized data, readable, nothing else.
const unsigned long SECTION_CHARACTERISTICS = 0x40000040ul;

void WriteLe16(unsigned char *p, unsigned value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
}

void WriteLe32(unsigned char *p, unsigned long value)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(value >> (8 * i));
}

size_t AlignUp(size_t value, size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

struct Ends {
    size_t raw, virtualEnd;
};

// Where the sections' data end in the file and in memory.
Ends SectionEnds(const unsigned char *image, const PeLayout &layout, size_t sectionAlignment)
{
    Ends ends = {0, 0};
    for (unsigned i = 0; i < layout.sectionCount; i++) {
        const unsigned char *header = image + layout.sections + PE_SECTION_HEADER_BYTES * i;
        size_t raw = ReadLe32(header + 20) + (size_t)ReadLe32(header + 16);
        size_t virtualEnd = ReadLe32(header + 12) + AlignUp(ReadLe32(header + 8), sectionAlignment);
        if (raw > ends.raw)
            ends.raw = raw;
        if (virtualEnd > ends.virtualEnd)
            ends.virtualEnd = virtualEnd;
    }
    return ends;
}

const char *Unfit(const unsigned char *image, size_t size, const PeLayout &layout, const Ends &ends)
{
    size_t header = layout.sections + PE_SECTION_HEADER_BYTES * layout.sectionCount;
    size_t headersEnd = ReadLe32(image + layout.optional + 60);
    if (layout.directoryCount > 4 && ReadLe32(image + layout.directories + 4 * 8 + 4) != 0)
        return "it is signed: its signature would not cover the manifest";
    if (header + PE_SECTION_HEADER_BYTES > headersEnd || headersEnd > size)
        return "its headers have no room for one more section";
    for (size_t i = header; i < header + PE_SECTION_HEADER_BYTES; i++)
        if (image[i] != 0)
            return "its headers have no room for one more section";
    if (ends.raw > size)
        return "the file ends inside its sections";
    for (size_t i = ends.raw; i < size; i++)
        if (image[i] != 0)
            return "it holds bytes after its sections";
    return nullptr;
}

} // namespace

unsigned char *AddManifestSection(const unsigned char *image, size_t size, const char *text, size_t length,
                                  size_t *newSize, const char **why)
{
    PeLayout layout;
    *why = "it is no PE image";
    if (!ReadPeLayout(image, size, &layout))
        return nullptr;
    size_t sectionAlignment = ReadLe32(image + layout.optional + 32);
    size_t fileAlignment = ReadLe32(image + layout.optional + 36);
    if (sectionAlignment == 0 || fileAlignment == 0 || length == 0)
        return nullptr;
    Ends ends = SectionEnds(image, layout, sectionAlignment);
    if ((*why = Unfit(image, size, layout, ends)) != nullptr)
        return nullptr;
    size_t rawStart = AlignUp(ends.raw, fileAlignment), rawSize = AlignUp(length, fileAlignment);
    size_t virtualStart = AlignUp(ends.virtualEnd, sectionAlignment);
    *newSize = rawStart + rawSize;
    unsigned char *out = (unsigned char *)calloc(1, *newSize);
    if (!out) {
        *why = "out of memory";
        return nullptr;
    }
    memcpy(out, image, ends.raw);
    memcpy(out + rawStart, text, length);
    unsigned char *header = out + layout.sections + PE_SECTION_HEADER_BYTES * layout.sectionCount;
    memcpy(header, MANIFEST_SECTION, 8);
    WriteLe32(header + 8, (unsigned long)length);
    WriteLe32(header + 12, (unsigned long)virtualStart);
    WriteLe32(header + 16, (unsigned long)rawSize);
    WriteLe32(header + 20, (unsigned long)rawStart);
    WriteLe32(header + 36, SECTION_CHARACTERISTICS);
    size_t pe = ReadLe32(out + 0x3C);
    WriteLe16(out + pe + 6, layout.sectionCount + 1);
    WriteLe32(out + layout.optional + 8, ReadLe32(out + layout.optional + 8) + (unsigned long)rawSize);
    WriteLe32(out + layout.optional + 56, (unsigned long)AlignUp(virtualStart + length, sectionAlignment));
    return out;
}
