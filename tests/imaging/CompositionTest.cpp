// The one composition rule of the picture view and velkaro-decode: alpha when in use, the key
// colour of a transparent graphic.
#include <gtest/gtest.h>

#include "imaging/Bitmap.h"
#include "imaging/ScanLineConversion.h"

TEST(Composition, AlphaInUseAndKeyColour) {
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(2, 1);
    uint8_t* p = b.ScanLine(0);
    p[0] = 255;  // pixel 0 blue, pixel 1 black; alpha 0 everywhere: written without alpha
    EXPECT_FALSE(BitmapComposition(b, true).Alpha);
    EXPECT_EQ(BitmapComposition(b, true).Key, 0xFF0000);  // bottom-left pixel
    EXPECT_EQ(BitmapComposition(b, false).Key, -1);
    b.SetTransparentColor(0);
    uint8_t row[8];
    ComposeScanLine(b, 0, BitmapComposition(b, true), row);
    EXPECT_EQ(row[3], 255);
    EXPECT_EQ(row[7], 0);  // black keyed
    // Alpha in use: it alone says what shows through when the key is automatic.
    p[7] = 128;
    b.SetTransparentColor(clDefault);
    const TComposition c = BitmapComposition(b, true);
    EXPECT_TRUE(c.Alpha);
    EXPECT_EQ(c.Key, -1);
    ComposeScanLine(b, 0, c, row);
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(row[7], 128);
}
