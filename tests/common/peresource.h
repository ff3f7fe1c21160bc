// The resources of a PE image read from disk: checks on what the build put
// into the executable, independent of the resource script.
#pragma once

#include "peimage.h"

#include <stdint.h>
#include <string>
#include <vector>

struct PeResource {
    uint32_t type;  // numeric ids only; named entries are reported as 0
    uint32_t name;
    uint32_t language;
    std::string data;
};

// Every resource of the image, in directory order.
std::vector<PeResource> PeResources(const PeImage &image);
// The data of one resource; false when the image has none by that key.
bool FindPeResource(const PeImage &image, uint32_t type, uint32_t name, uint32_t language, std::string *data);
