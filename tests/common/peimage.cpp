#include "peimage.h"

#include "testutil.h"

#include <string.h>

namespace {

template <typename T> T At(const std::string &b, uint32_t off)
{
    T v{};
    if (off + sizeof(T) <= b.size())
        memcpy(&v, b.data() + off, sizeof(T));
    return v;
}

} // namespace

bool PeImage::Load(const std::string &path)
{
    bytes = ReadFileBytes(path);
    if (bytes.size() < 0x40)
        return false;
    peOffset = At<uint32_t>(bytes, 0x3C);
    if (bytes.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    machine = At<uint16_t>(bytes, peOffset + 4);
    magic = At<uint16_t>(bytes, peOffset + 24);
    subsystem = At<uint16_t>(bytes, peOffset + 24 + 68);
    return true;
}

uint32_t PeImage::Offset(uint32_t rva) const
{
    uint16_t sections = At<uint16_t>(bytes, peOffset + 6);
    uint16_t optSize = At<uint16_t>(bytes, peOffset + 20);
    uint32_t table = peOffset + 24 + optSize;
    for (uint16_t i = 0; i < sections; i++) {
        uint32_t s = table + i * 40;
        uint32_t va = At<uint32_t>(bytes, s + 12);
        uint32_t size = At<uint32_t>(bytes, s + 16);
        uint32_t raw = At<uint32_t>(bytes, s + 20);
        if (rva >= va && rva < va + size)
            return raw + (rva - va);
    }
    return 0;
}

uint32_t PeImage::DataDirectoryRva(int index) const
{
    return At<uint32_t>(bytes, peOffset + 24 + 96 + index * 8);
}

std::vector<std::string> PeImage::ImportedDlls() const
{
    std::vector<std::string> dlls;
    uint32_t desc = Offset(DataDirectoryRva(1));
    for (; desc && At<uint32_t>(bytes, desc + 12); desc += 20) {
        uint32_t name = Offset(At<uint32_t>(bytes, desc + 12));
        dlls.push_back(name ? bytes.c_str() + name : "?");
    }
    return dlls;
}
