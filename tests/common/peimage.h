// Reads a PE image from disk for checks on the built executable.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

struct PeImage {
    std::string bytes;
    uint32_t peOffset = 0;
    uint16_t machine = 0;
    uint16_t magic = 0;
    uint16_t subsystem = 0;
    bool Load(const std::string &path);
    // File offset of a relative virtual address, or 0 when outside every section.
    uint32_t Offset(uint32_t rva) const;
    uint32_t DataDirectoryRva(int index) const;
    std::vector<std::string> ImportedDlls() const;
};
