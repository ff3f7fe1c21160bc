// PNG pictures of what the screen shows, for a person to look at after a run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// rgb: height rows of width pixels, top row first, 3 bytes each.
bool WritePng(const std::string &path, int width, int height, const std::vector<unsigned char> &rgb);
// What the screen shows, as for WritePng (a BMP at scratch + ".bmp" is made
// on the way and removed).
bool ReadScreen(const std::string &scratch, int *width, int *height, std::vector<unsigned char> *rgb);
// The window's rectangle of the screen (its frame and caption included).
bool SaveWindowPng(HWND window, const std::string &path);
// The folder for pictures of a test run: <build>\artifacts\ (made when missing).
std::string ArtifactDir();
