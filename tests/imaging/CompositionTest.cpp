// The one composition rule of the picture view and velkaro-decode: alpha when in use, the key
// colour of a transparent graphic.
#include <gtest/gtest.h>

#include "imaging/Bitmap.h"
#include "imaging/ScanLineConversion.h"

namespace {

TEST(Composition, AlphaInUseAndKeyColour) {
    TBitmap b32;
    b32.SetPixelFormat(pf32bit);
    b32.SetSize(2, 1);
    uint8_t* p = b32.ScanLine(0);
    p[0] = 10, p[1] = 20, p[2] = 30;  // alpha 0 everywhere: written without alpha
    TBitmap b24;
    b24.SetPixelFormat(pf24bit);
    b24.SetSize(2, 2);
    b24.ScanLine(1)[0] = 255;  // bottom-left pixel blue
    b24.ScanLine(0)[3] = 255;  // and (1, 0)
    struct {
        const char* name;
        const TBitmap& bitmap;
        TColor transparentColor;
        bool keyTransparent;
        bool alpha;
        int32_t key;
    } cases[] = {
        {"32-bit, alpha 0 everywhere", b32, clDefault, false, false, -1},
        {"24-bit, not transparent", b24, clDefault, false, false, -1},
        {"24-bit, bottom-left key", b24, clDefault, true, false, 0xFF0000},
        {"24-bit, given key", b24, 0x00FF00, true, false, 0x00FF00},
        {"24-bit, clNone", b24, clNone, true, false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const_cast<TBitmap&>(c.bitmap).SetTransparentColor(c.transparentColor);
        const TComposition comp = BitmapComposition(c.bitmap, c.keyTransparent);
        EXPECT_EQ(comp.Alpha, c.alpha);
        EXPECT_EQ(comp.Key, c.key);
    }
    // Alpha in use: a transparent bitmap keys nothing automatically; composed rows keep alpha.
    p[7] = 128;
    b32.SetTransparentColor(clDefault);
    TComposition comp = BitmapComposition(b32, true);
    EXPECT_TRUE(comp.Alpha);
    EXPECT_EQ(comp.Key, -1);
    uint8_t row[8];
    ComposeScanLine(b32, 0, comp, row);
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(row[7], 128);
    // A key gives its pixels alpha 0 and the others 255.
    b24.SetTransparentColor(clDefault);
    comp = BitmapComposition(b24, true);
    ComposeScanLine(b24, 0, comp, row);
    EXPECT_EQ(row[3], 255);
    EXPECT_EQ(row[7], 0);
}

}  // namespace
