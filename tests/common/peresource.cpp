#include "peresource.h"

#include <string.h>

namespace {

const uint32_t kSubdirectory = 0x80000000u;

uint32_t Read32(const std::string &b, uint32_t off)
{
    uint32_t v = 0;
    if (off + 4 <= b.size())
        memcpy(&v, b.data() + off, 4);
    return v;
}

uint16_t Read16(const std::string &b, uint32_t off)
{
    uint16_t v = 0;
    if (off + 2 <= b.size())
        memcpy(&v, b.data() + off, 2);
    return v;
}

struct Entry {
    uint32_t id;
    uint32_t target;  // offset from the directory's start
    bool subdirectory;
};

std::vector<Entry> Entries(const std::string &b, uint32_t root, uint32_t dir)
{
    std::vector<Entry> entries;
    uint32_t at = root + dir;
    uint32_t count = (uint32_t)Read16(b, at + 12) + Read16(b, at + 14);
    for (uint32_t i = 0; i < count && i < 4096; i++) {
        uint32_t name = Read32(b, at + 16 + i * 8), target = Read32(b, at + 20 + i * 8);
        entries.push_back({(name & kSubdirectory) ? 0 : name, target & ~kSubdirectory, (target & kSubdirectory) != 0});
    }
    return entries;
}

} // namespace

std::vector<PeResource> PeResources(const PeImage &image)
{
    std::vector<PeResource> found;
    uint32_t root = image.Offset(image.DataDirectoryRva(2));
    if (!root)
        return found;
    const std::string &b = image.bytes;
    for (const Entry &type : Entries(b, root, 0)) {
        if (!type.subdirectory)
            continue;
        for (const Entry &name : Entries(b, root, type.target)) {
            if (!name.subdirectory)
                continue;
            for (const Entry &lang : Entries(b, root, name.target)) {
                if (lang.subdirectory)
                    continue;
                uint32_t leaf = root + lang.target;
                uint32_t offset = image.Offset(Read32(b, leaf)), size = Read32(b, leaf + 4);
                PeResource r{type.id, name.id, lang.id, ""};
                if (offset && offset + size <= b.size())
                    r.data = b.substr(offset, size);
                found.push_back(r);
            }
        }
    }
    return found;
}

bool FindPeResource(const PeImage &image, uint32_t type, uint32_t name, uint32_t language, std::string *data)
{
    for (const PeResource &r : PeResources(image)) {
        if (r.type == type && r.name == name && r.language == language) {
            *data = r.data;
            return true;
        }
    }
    return false;
}
