#include "sandbox/screenshot.h"

#include <cstdio>
#include <vector>

namespace {

unsigned long Crc32(const unsigned char* data, size_t size, unsigned long crc = 0)
{
    static unsigned long table[256];
    static bool ready = false;
    if (!ready) {
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc & 0xFFFFFFFFUL;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc & 0xFFFFFFFFUL;
}

void PutBig32(std::vector<unsigned char>* out, unsigned long value)
{
    out->push_back(static_cast<unsigned char>(value >> 24));
    out->push_back(static_cast<unsigned char>(value >> 16));
    out->push_back(static_cast<unsigned char>(value >> 8));
    out->push_back(static_cast<unsigned char>(value));
}

void PutChunk(std::vector<unsigned char>* out, const char* type, const std::vector<unsigned char>& data)
{
    PutBig32(out, static_cast<unsigned long>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out->insert(out->end(), body.begin(), body.end());
    PutBig32(out, Crc32(body.data(), body.size()));
}

// A zlib stream of stored (uncompressed) blocks: simple, and a screenshot stays small enough.
std::vector<unsigned char> ZlibStored(const std::vector<unsigned char>& raw)
{
    std::vector<unsigned char> out;
    out.push_back(0x78);
    out.push_back(0x01);
    size_t pos = 0;
    do {
        size_t n = raw.size() - pos;
        if (n > 65535)
            n = 65535;
        out.push_back(pos + n == raw.size() ? 1 : 0);
        out.push_back(static_cast<unsigned char>(n));
        out.push_back(static_cast<unsigned char>(n >> 8));
        out.push_back(static_cast<unsigned char>(~n));
        out.push_back(static_cast<unsigned char>(~n >> 8));
        out.insert(out.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    unsigned long a = 1, b = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        a = (a + raw[i]) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(&out, (b << 16) | a);
    return out;
}

}  // namespace

bool SaveWindowPng(HWND window, const char* path)
{
    // The client area: without a window manager nobody draws the frame around it.
    RECT rect;
    if (!GetClientRect(window, &rect))
        return false;
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return false;

    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = false;
    if (memory && bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    std::vector<unsigned char> raw;
    if (ok) {
        raw.reserve(static_cast<size_t>(height) * (1 + width * 3));
        const unsigned char* pixels = static_cast<const unsigned char*>(bits);
        for (int y = 0; y < height; ++y) {
            raw.push_back(0);  // no filter
            const unsigned char* row = pixels + static_cast<size_t>(y) * width * 4;
            for (int x = 0; x < width; ++x) {
                raw.push_back(row[x * 4 + 2]);
                raw.push_back(row[x * 4 + 1]);
                raw.push_back(row[x * 4 + 0]);
            }
        }
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (!ok)
        return false;

    std::vector<unsigned char> png;
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.insert(png.end(), signature, signature + 8);
    std::vector<unsigned char> header;
    PutBig32(&header, static_cast<unsigned long>(width));
    PutBig32(&header, static_cast<unsigned long>(height));
    header.push_back(8);  // bits per sample
    header.push_back(2);  // RGB
    header.push_back(0);
    header.push_back(0);
    header.push_back(0);
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", ZlibStored(raw));
    PutChunk(&png, "IEND", std::vector<unsigned char>());

    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}
