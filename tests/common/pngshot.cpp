#include "pngshot.h"

#include "screenshot.h"
#include "testutil.h"

#include <stdint.h>
#include <stdio.h>

namespace {

uint32_t Crc32(const unsigned char *data, size_t size, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutBE32(std::string &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += (char)((v >> shift) & 0xFF);
}

void PutChunk(std::string &out, const char *type, const std::string &data)
{
    PutBE32(out, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    PutBE32(out, Crc32((const unsigned char *)body.data(), body.size()));
}

// A zlib stream of stored (uncompressed) blocks: no compressor needed.
std::string StoredZlib(const std::string &raw)
{
    std::string out = "\x78\x01";
    size_t at = 0;
    do {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        bool last = at + n == raw.size();
        out += (char)(last ? 1 : 0);
        out += (char)(n & 0xFF);
        out += (char)(n >> 8);
        out += (char)(~n & 0xFF);
        out += (char)((~n >> 8) & 0xFF);
        out.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(out, (b << 16) | a);
    return out;
}

// The pixels of a 24-bit bottom-up BMP file, top row first, as RGB.
bool ReadBmp(const std::string &path, int *width, int *height, std::vector<unsigned char> *rgb)
{
    std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    int32_t w, h;
    uint32_t offset;
    uint16_t bits;
    memcpy(&offset, &bytes[10], 4);
    memcpy(&w, &bytes[18], 4);
    memcpy(&h, &bytes[22], 4);
    memcpy(&bits, &bytes[28], 2);
    size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    if (bits != 24 || w <= 0 || h <= 0 || offset + stride * h > bytes.size())
        return false;
    rgb->resize((size_t)w * h * 3);
    for (int y = 0; y < h; y++) {
        const unsigned char *row = (const unsigned char *)bytes.data() + offset + stride * (h - 1 - y);
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++)
                (*rgb)[((size_t)y * w + x) * 3 + c] = row[x * 3 + 2 - c];
    }
    *width = w;
    *height = h;
    return true;
}

} // namespace

bool WritePng(const std::string &path, int width, int height, const std::vector<unsigned char> &rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() != (size_t)width * height * 3)
        return false;
    std::string raw;
    for (int y = 0; y < height; y++) {
        raw += '\0';  // no filter
        raw.append((const char *)rgb.data() + (size_t)y * width * 3, (size_t)width * 3);
    }
    std::string header;
    PutBE32(header, (uint32_t)width);
    PutBE32(header, (uint32_t)height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(raw));
    PutChunk(png, "IEND", "");
    return WriteFileBytes(path, png);
}

bool ReadScreen(const std::string &scratch, int *width, int *height, std::vector<unsigned char> *rgb)
{
    std::string bmp = scratch + ".bmp";
    bool read = SaveScreenBmp(bmp) && ReadBmp(bmp, width, height, rgb);
    DeleteFileA(bmp.c_str());
    return read;
}

bool SaveWindowPng(HWND window, const std::string &path)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    int w = 0, h = 0;
    std::vector<unsigned char> screen;
    if (!ReadScreen(path, &w, &h, &screen))
        return false;
    int left = r.left < 0 ? 0 : r.left, top = r.top < 0 ? 0 : r.top;
    int right = r.right > w ? w : r.right, bottom = r.bottom > h ? h : r.bottom;
    if (right <= left || bottom <= top)
        return false;
    std::vector<unsigned char> part;
    for (int y = top; y < bottom; y++)
        part.insert(part.end(), screen.begin() + ((size_t)y * w + left) * 3, screen.begin() + ((size_t)y * w + right) * 3);
    return WritePng(path, right - left, bottom - top, part);
}

std::string ArtifactDir()
{
    std::string dir = BinDir() + "..\\artifacts\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}
