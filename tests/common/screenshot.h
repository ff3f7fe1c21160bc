// Saves what the (virtual) screen shows as a 24-bit BMP file.
#pragma once

#include <string>

bool SaveScreenBmp(const std::string &path);
