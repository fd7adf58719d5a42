// Stored orientations turned into the picture as seen, in every pixel width.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace {

// The stored picture is 3 x 2 pixels "abc/def"; each row of the table is what is seen.
struct TOrientCase {
    int orientation;
    int width, height;
    const char* seen;  // rows one after the other
};
const TOrientCase kCases[] = {
    {1, 3, 2, "abcdef"}, {2, 3, 2, "cbafed"}, {3, 3, 2, "fedcba"}, {4, 3, 2, "defabc"},
    {5, 2, 3, "adbecf"}, {6, 2, 3, "daebfc"}, {7, 2, 3, "fcebda"}, {8, 2, 3, "cfbead"},
    {0, 3, 2, "abcdef"}, {9, 3, 2, "abcdef"},
};

// A pixel value for letter c that uses every bit of a pixel of the given width.
uint32_t ValueOf(char c, int bits) {
    const uint32_t n = static_cast<uint32_t>(c - 'a' + 1);
    const uint32_t value = n * 0x01010101u ^ (n << 5);
    return bits >= 32 ? value : value & ((1u << bits) - 1);
}

uint32_t Pixel(const TBitmap& bmp, int x, int y) {
    const int bits = bmp.BitsPerPixel();
    const uint8_t* row = bmp.ScanLine(y);
    uint32_t value = 0;
    if (bits >= 8) {
        for (int i = 0; i < bits / 8; ++i)
            value |= uint32_t(row[x * bits / 8 + i]) << (8 * i);
    } else {
        for (int i = 0; i < bits; ++i) {
            const int bit = x * bits + i;
            value = (value << 1) | ((row[bit / 8] >> (7 - bit % 8)) & 1u);
        }
    }
    return value;
}

void SetPixel(TBitmap& bmp, int x, int y, uint32_t value) {
    const int bits = bmp.BitsPerPixel();
    uint8_t* row = bmp.ScanLine(y);
    if (bits >= 8) {
        for (int i = 0; i < bits / 8; ++i)
            row[x * bits / 8 + i] = uint8_t(value >> (8 * i));
    } else {
        for (int i = 0; i < bits; ++i) {
            const int bit = x * bits + i;
            if ((value >> (bits - 1 - i)) & 1u) row[bit / 8] |= uint8_t(0x80 >> (bit % 8));
        }
    }
}

TEST(BitmapOrient, EveryOrientationInEveryPixelWidth) {
    const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit};
    for (TPixelFormat format : formats) {
        for (const TOrientCase& c : kCases) {
            SCOPED_TRACE("format " + std::to_string(format) + ", orientation " +
                         std::to_string(c.orientation));
            TBitmap bmp;
            bmp.SetPixelFormat(format);
            bmp.SetSize(3, 2);
            const int bits = bmp.BitsPerPixel();
            const char* stored = "abcdef";
            for (int i = 0; i < 6; ++i)
                SetPixel(bmp, i % 3, i / 3, ValueOf(stored[i], bits));
            bmp.Orient(c.orientation);
            ASSERT_EQ(bmp.Width(), c.width);
            ASSERT_EQ(bmp.Height(), c.height);
            ASSERT_EQ(bmp.RowStride(), TBitmap::RowStrideFor(c.width, bits));
            ASSERT_EQ(bmp.PixelFormat(), format);
            std::string seen;
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const uint32_t v = Pixel(bmp, x, y);
                    char letter = '?';
                    for (char l = 'a'; l <= 'f'; ++l)
                        if (ValueOf(l, bits) == v) letter = l;
                    // One-bit pixels only tell odd from even letters.
                    if (bits == 1)
                        letter = v == ValueOf(c.seen[y * c.width + x], 1) ? c.seen[y * c.width + x]
                                                                          : '?';
                    seen += letter;
                }
            }
            EXPECT_EQ(seen, c.seen);
        }
    }
}

TEST(BitmapOrient, PaletteAndWideRowsSurvive) {
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    bmp.SetPalette({TRGBQuad{1, 2, 3, 0}, TRGBQuad{4, 5, 6, 0}});
    bmp.SetSize(1001, 3);
    bmp.ScanLine(0)[1000] = 1;  // top right corner
    bmp.Orient(6);  // stored a quarter turn anticlockwise: top right goes to bottom right
    ASSERT_EQ(bmp.Width(), 3);
    ASSERT_EQ(bmp.Height(), 1001);
    EXPECT_EQ(bmp.ScanLine(1000)[2], 1);
    EXPECT_EQ(bmp.Palette().size(), 2u);
    bmp.Orient(8);
    EXPECT_EQ(bmp.Width(), 1001);
    EXPECT_EQ(bmp.ScanLine(0)[1000], 1);
}

}  // namespace
