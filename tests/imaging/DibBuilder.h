#pragma once
// Builds small Windows bitmaps and icons byte by byte for the reader tests, and turns decoded
// bitmaps into plain RGBA for comparisons.
#include <cstdint>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

namespace dibtest {

// Bitmaps are little-endian.
inline constexpr auto Put16 = &testhelp::Put16LE;
inline constexpr auto Put32 = &testhelp::Put32LE;

// A device-independent bitmap described field by field; Build() lays it out.
struct TDibLayout {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> masks;  // after a 40-byte header, or inside a larger one
    std::vector<TRGBQuad> palette;
    std::vector<uint8_t> pixels;  // stored rows or compressed data
    bool fileHeader = true;

    // Info header, masks, palette and pixel data (no file header).
    std::vector<uint8_t> Dib() const {
        std::vector<uint8_t> v;
        Put32(v, headerSize);
        if (headerSize == 12) {
            Put16(v, uint32_t(width));
            Put16(v, uint32_t(height));
            Put16(v, planes);
            Put16(v, bitCount);
        } else {
            Put32(v, uint32_t(width));
            Put32(v, uint32_t(height));
            Put16(v, planes);
            Put16(v, bitCount);
            Put32(v, compression);
            Put32(v, imageSize);
            Put32(v, 2835);
            Put32(v, 2835);
            Put32(v, colorsUsed);
            Put32(v, 0);
            for (size_t i = 0; i < masks.size() && headerSize > 40; ++i)
                Put32(v, masks[i]);
            v.resize(headerSize, 0);
            if (headerSize == 40)
                for (uint32_t m : masks)
                    Put32(v, m);
        }
        for (const TRGBQuad& q : palette) {
            v.push_back(q.rgbBlue);
            v.push_back(q.rgbGreen);
            v.push_back(q.rgbRed);
            if (headerSize != 12) v.push_back(0);
        }
        v.insert(v.end(), pixels.begin(), pixels.end());
        return v;
    }

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> dib = Dib();
        if (!fileHeader) return dib;
        std::vector<uint8_t> v = {'B', 'M'};
        Put32(v, uint32_t(14 + dib.size()));
        Put32(v, 0);
        Put32(v, uint32_t(14 + dib.size() - pixels.size()));
        v.insert(v.end(), dib.begin(), dib.end());
        return v;
    }
};

// A bitmap that tests can return by value (graphics are not copyable).
struct TBmp : TBitmap {
    TBmp() = default;
    TBmp(TBmp&& other) { Assign(other); }
    TBmp& operator=(TBmp&& other) {
        Assign(other);
        return *this;
    }
};

inline TBmp Load(const std::vector<uint8_t>& bytes) {
    TBmp bmp;
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    bmp.LoadFromStream(s);
    return bmp;
}

// Every pixel as red, green, blue, alpha bytes, top row first.
inline std::vector<uint8_t> RGBA(const TBitmap& bmp) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> row(size_t(bmp.Width()) * 4);
    for (int y = 0; y < bmp.Height(); ++y) {
        ConvertScanLineToBGRA(bmp, y, row.data());
        for (int x = 0; x < bmp.Width(); ++x) {
            const uint8_t* p = row.data() + 4 * x;
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    return out;
}

// One pixel as 0xAARRGGBB.
inline uint32_t Pixel(const TBitmap& bmp, int x, int y) {
    std::vector<uint8_t> row(size_t(bmp.Width()) * 4);
    ConvertScanLineToBGRA(bmp, y, row.data());
    const uint8_t* p = row.data() + 4 * x;
    return (uint32_t(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
}

}  // namespace dibtest
