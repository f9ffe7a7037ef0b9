// Row strides, box fitting, the orientation transform, the RAW-candidate test and text conversion.
#include "vizoruv/io/image_geometry.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

uint32_t rowStride(uint32_t width, uint32_t bitsPerPixel) {
    return (width * (bitsPerPixel / 8) + 3) & ~3u;
}

uint32_t rotatableByteLength(uint32_t width, uint32_t height, uint32_t bitsPerPixel) {
    const uint64_t r = rowStride(width, bitsPerPixel), u = rowStride(height, bitsPerPixel);
    const uint64_t length = u * width > r * height ? u * (uint64_t(width) + 1) : r * (uint64_t(height) + 1);
    return length > uint64_t(INT32_MAX) ? 0 : uint32_t(length);
}

FitBox aspectFitRect(const FitBox& box, float imageWidth, float imageHeight) {
    const double imageRatio = double(imageWidth) / imageHeight;
    const double boxRatio = double(box.width) / box.height;
    if (imageRatio == boxRatio)
        return box;
    FitBox fit;
    if (imageRatio > boxRatio) {
        fit.x = 0;
        fit.height = float(int(box.width / imageWidth * imageHeight));
        fit.y = float(int((box.height - fit.height) * 0.5));
        fit.width = float(int(box.width));
    } else {
        fit.y = 0;
        fit.width = float(int(box.height / imageHeight * imageWidth));
        fit.x = float(int((box.width - fit.width) * 0.5));
        fit.height = float(int(box.height));
    }
    return fit;
}

bool orientImageBuffer(int orientation, ImageBuffer* buffer) {
    if (orientation < 2 || orientation > 8)
        return true;
    if (!buffer->pixels || buffer->width <= 0 || buffer->height <= 0)
        return false;
    const uint32_t w = uint32_t(buffer->width), h = uint32_t(buffer->height);
    const uint32_t bytesPerPixel = uint32_t(buffer->channels) * buffer->bitsPerChannel / 8;
    const bool swaps = orientation >= 5;
    const uint32_t newWidth = swaps ? h : w, newHeight = swaps ? w : h;
    const uint32_t newRowBytes = swaps ? rowStride(newWidth, bytesPerPixel * 8) : uint32_t(buffer->rowBytes);
    if (uint64_t(newRowBytes) * newHeight > uint64_t(buffer->size) || uint64_t(buffer->rowBytes) * h > uint64_t(buffer->size))
        return false;
    std::vector<uint8_t> old;
    try {
        old.assign(buffer->pixels, buffer->pixels + size_t(buffer->rowBytes) * h);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const uint32_t oldRowBytes = uint32_t(buffer->rowBytes);
    for (uint32_t y = 0; y < newHeight; ++y) {
        uint8_t* out = buffer->pixels + size_t(y) * newRowBytes;
        for (uint32_t x = 0; x < newWidth; ++x) {
            uint32_t sx, sy;
            switch (orientation) {
            case 2: sx = w - 1 - x; sy = y; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sx = x; sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;                  // transpose
            case 6: sx = y; sy = h - 1 - x; break;          // 90° clockwise
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;  // transverse
            default: sx = w - 1 - y; sy = x; break;         // 8: 270° clockwise
            }
            std::memcpy(out + size_t(x) * bytesPerPixel, &old[size_t(sy) * oldRowBytes + size_t(sx) * bytesPerPixel],
                        bytesPerPixel);
        }
    }
    buffer->width = int32_t(newWidth);
    buffer->height = int32_t(newHeight);
    buffer->rowBytes = int32_t(newRowBytes);
    return true;
}

int orientBuffer(int orientation, ImageBuffer* buffer) {
    if (orientation == 1)
        return 1;
    return orientImageBuffer(orientation, buffer) ? 1 : orientation;
}

std::string lowerExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    // ASCII only: a multi-byte UTF-8 character is never part of an extension we compare with.
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension;
}

bool isRawCandidate(const std::string& path) {
    const std::string extension = lowerExtension(path);
    static const char* const kPictureExtensions[] = {".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".png", ".gif"};
    for (const char* known : kPictureExtensions)
        if (extension == known)
            return false;
    return true;
}

std::u16string utf8ToWide(const char* text) {
    std::u16string wide;
    if (!text)
        return wide;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        uint32_t c = *s, need = 0, min = 0;
        if (c < 0x80) {
            need = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F; need = 1; min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F; need = 2; min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07; need = 3; min = 0x10000;
        } else {
            wide.push_back(0xFFFD);
            ++s;
            continue;
        }
        ++s;
        uint32_t got = 0;
        while (got < need && (*s & 0xC0) == 0x80) {
            c = (c << 6) | (*s & 0x3F);
            ++s;
            ++got;
        }
        if (got < need || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            wide.push_back(0xFFFD);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            wide.push_back(char16_t(0xD800 + (c >> 10)));
            wide.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            wide.push_back(char16_t(c));
        }
    }
    return wide;
}

std::string wideToUtf8(const std::u16string& wide) {
    std::string text;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            text.push_back(char(c));
        } else if (c < 0x800) {
            text.push_back(char(0xC0 | (c >> 6)));
            text.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            text.push_back(char(0xE0 | (c >> 12)));
            text.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(char(0x80 | (c & 0x3F)));
        } else {
            text.push_back(char(0xF0 | (c >> 18)));
            text.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            text.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            text.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return text;
}
