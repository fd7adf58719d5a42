// Conversion of every TBitmap pixel format into a QImage, with known pixels.
#include <QImage>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "imaging/Stream.h"
#include "imaging/formats/GIFGraphic.h"
#include "imaging/formats/JPEGImage.h"
#include "render/BitmapToImage.h"

namespace {

QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

std::unique_ptr<TBitmap> Make(TPixelFormat format, int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    return b;
}

void Put16(TBitmap& b, int x, int y, uint16_t v) {
    b.ScanLine(y)[2 * x] = v & 0xFF;
    b.ScanLine(y)[2 * x + 1] = v >> 8;
}

}  // namespace

TEST(BitmapToImage, OneBitUsesPaletteMostSignificantBitFirst) {
    auto b = Make(pf1bit, 10, 2);
    b->SetPalette({{0, 0, 255, 0}, {255, 0, 0, 0}});  // 0 = red, 1 = blue
    b->ScanLine(0)[0] = 0x80;                         // pixel 0 set
    b->ScanLine(0)[1] = 0x40;                         // pixel 9 set
    const QImage image = BitmapToImage(*b, false);
    ASSERT_EQ(image.size(), QSize(10, 2));
    EXPECT_EQ(At(image, 0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(At(image, 1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(At(image, 8, 0), qRgb(255, 0, 0));
    EXPECT_EQ(At(image, 9, 0), qRgb(0, 0, 255));
    EXPECT_EQ(At(image, 9, 1), qRgb(255, 0, 0));
}

TEST(BitmapToImage, FourBitHighNibbleFirstAndOddWidth) {
    auto b = Make(pf4bit, 3, 1);
    std::vector<TRGBQuad> palette(16);
    for (int i = 0; i < 16; ++i)
        palette[i] = {uint8_t(i), uint8_t(i * 2), uint8_t(i * 3), 0};
    b->SetPalette(palette);
    b->ScanLine(0)[0] = 0x5A;
    b->ScanLine(0)[1] = 0xF0;
    const QImage image = BitmapToImage(*b, false);
    EXPECT_EQ(At(image, 0, 0), qRgb(15, 10, 5));
    EXPECT_EQ(At(image, 1, 0), qRgb(30, 20, 10));
    EXPECT_EQ(At(image, 2, 0), qRgb(45, 30, 15));
}

TEST(BitmapToImage, EightBitShortOrMissingPalette) {
    auto b = Make(pf8bit, 3, 1);
    b->ScanLine(0)[0] = 1;
    b->ScanLine(0)[1] = 200;  // beyond the palette below
    b->ScanLine(0)[2] = 0;
    b->SetPalette({{10, 20, 30, 0}, {40, 50, 60, 0}});
    QImage image = BitmapToImage(*b, false);
    EXPECT_EQ(image.colorCount(), 256);
    EXPECT_EQ(At(image, 0, 0), qRgb(60, 50, 40));
    EXPECT_EQ(At(image, 1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(At(image, 2, 0), qRgb(30, 20, 10));

    b->SetPalette({});
    image = BitmapToImage(*b, false);
    EXPECT_EQ(At(image, 1, 0), qRgb(200, 200, 200));  // grey levels without a palette
}

TEST(BitmapToImage, FifteenAndSixteenBitExpandToFullScale) {
    auto b15 = Make(pf15bit, 2, 1);
    Put16(*b15, 0, 0, 0x7C00);            // red 31
    Put16(*b15, 1, 0, (16 << 5) | 0x1F);  // green 16, blue 31
    QImage image = BitmapToImage(*b15, false);
    EXPECT_EQ(At(image, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(At(image, 1, 0), qRgb(0, 132, 255));

    auto b16 = Make(pf16bit, 2, 1);
    Put16(*b16, 0, 0, 0x07E0);  // green 63
    Put16(*b16, 1, 0, 0xF81F);  // magenta
    image = BitmapToImage(*b16, false);
    EXPECT_EQ(At(image, 0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(At(image, 1, 0), qRgb(255, 0, 255));
}

TEST(BitmapToImage, TwentyFourBitBlueGreenRedRows) {
    auto b = Make(pf24bit, 3, 2);  // stride 12: one padding byte per row... and more
    uint8_t* row = b->ScanLine(1);
    row[0] = 1, row[1] = 2, row[2] = 3;     // blue, green, red
    row[6] = 30, row[7] = 20, row[8] = 10;  // third pixel
    const QImage image = BitmapToImage(*b, false);
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(At(image, 0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(At(image, 2, 1), qRgb(10, 20, 30));
    EXPECT_EQ(At(image, 2, 0), qRgb(0, 0, 0));
}

TEST(BitmapToImage, ThirtyTwoBitStraightAlphaOrNoneWhenAllZero) {
    auto b = Make(pf32bit, 2, 1);
    uint8_t* p = b->ScanLine(0);
    p[0] = 10, p[1] = 20, p[2] = 30, p[3] = 0;
    p[4] = 40, p[5] = 50, p[6] = 60, p[7] = 128;
    QImage image = BitmapToImage(*b, false);
    ASSERT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(At(image, 0, 0), qRgba(30, 20, 10, 0));
    EXPECT_EQ(At(image, 1, 0), qRgba(60, 50, 40, 128));

    p[7] = 0;  // every alpha byte 0: an opaque picture
    image = BitmapToImage(*b, false);
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(At(image, 1, 0), qRgb(60, 50, 40));
}

TEST(BitmapToImage, CustomMasks) {
    auto b = std::make_unique<TBitmap>();
    b->SetCustomFormat(16, 0x0F00, 0x00F0, 0x000F, 0xF000);  // 4-4-4-4 with alpha
    b->SetSize(2, 1);
    Put16(*b, 0, 0, 0xF00F);  // opaque blue
    Put16(*b, 1, 0, 0x8F80);  // half alpha, red 15, green 8
    QImage image = BitmapToImage(*b, false);
    EXPECT_EQ(At(image, 0, 0), qRgba(0, 0, 255, 255));
    EXPECT_EQ(At(image, 1, 0), qRgba(255, 136, 0, 136));

    TBitmap swapped;
    swapped.SetCustomFormat(32, 0x000000FF, 0x0000FF00, 0x00FF0000);
    swapped.SetSize(1, 1);
    uint8_t* p = swapped.ScanLine(0);
    p[0] = 200, p[1] = 100, p[2] = 50;  // red in the low byte
    image = BitmapToImage(swapped, false);
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(At(image, 0, 0), qRgb(200, 100, 50));

    TBitmap packed;  // 2 bits per pixel, first pixel in the high bits
    packed.SetCustomFormat(2, 0x2, 0x1, 0x0);
    packed.SetSize(3, 1);
    packed.ScanLine(0)[0] = 0b10'01'11'00;
    image = BitmapToImage(packed, false);
    EXPECT_EQ(At(image, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(At(image, 1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(At(image, 2, 0), qRgb(255, 255, 0));
}

TEST(BitmapToImage, TransparentColourKeyedOnlyWhenAsked) {
    // 24-bit: automatic key from the bottom-left pixel.
    auto b = Make(pf24bit, 2, 2);
    uint8_t* bottom = b->ScanLine(1);
    bottom[0] = 255, bottom[1] = 0, bottom[2] = 255;   // magenta at (0, 1)
    b->ScanLine(0)[3] = 255, b->ScanLine(0)[5] = 255;  // magenta at (1, 0)
    EXPECT_EQ(KeyColor(*b), 0x00FF00FF);
    QImage image = BitmapToImage(*b, false);
    EXPECT_EQ(qAlpha(At(image, 1, 0)), 255);
    image = BitmapToImage(*b, true);
    EXPECT_EQ(qAlpha(At(image, 1, 0)), 0);
    EXPECT_EQ(qAlpha(At(image, 0, 1)), 0);
    EXPECT_EQ(At(image, 0, 0), qRgb(0, 0, 0));

    // 8-bit: an explicit colour keys every palette entry of that colour.
    auto indexed = Make(pf8bit, 2, 1);
    indexed->SetPalette({{0, 255, 0, 0}, {0, 0, 255, 0}});
    indexed->ScanLine(0)[1] = 1;
    indexed->SetTransparentColor(0x0000FF);  // red
    image = BitmapToImage(*indexed, true);
    EXPECT_EQ(At(image, 0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(At(image, 1, 0)), 0);

    indexed->SetTransparentColor(clNone);
    EXPECT_EQ(KeyColor(*indexed), -1);
    EXPECT_FALSE(BitmapToImage(*indexed, true).hasAlphaChannel());
}

TEST(BitmapToImage, SharedImagesReadTheBitmapRowsInPlace) {
    auto b = Make(pf24bit, 3, 2);
    QImage shared = BitmapToSharedImage(*b, false);
    EXPECT_TRUE(SharesBitmap(shared, *b));
    EXPECT_FALSE(SharesBitmap(BitmapToImage(*b, false), *b));
    b->ScanLine(1)[2] = 99;
    EXPECT_EQ(shared.pixel(0, 1), qRgb(99, 0, 0));
    b->SetSize(4, 2);
    EXPECT_FALSE(SharesBitmap(shared, *b));

    auto indexed = Make(pf8bit, 5, 1);
    indexed->SetPalette({{0, 0, 0, 0}, {0, 0, 200, 0}});
    indexed->ScanLine(0)[4] = 1;
    indexed->SetTransparentColor(0);  // black keyed through the colour table
    shared = BitmapToSharedImage(*indexed, true);
    EXPECT_TRUE(SharesBitmap(shared, *indexed));
    EXPECT_EQ(qAlpha(shared.pixel(0, 0)), 0);
    EXPECT_EQ(shared.pixel(4, 0), qRgb(200, 0, 0));

    // Formats Qt cannot paint as they are are copied.
    auto b16 = Make(pf16bit, 2, 2);
    EXPECT_FALSE(SharesBitmap(BitmapToSharedImage(*b16, false), *b16));
}

TEST(BitmapToImage, EmptyBitmapGivesNullImage) {
    auto b = Make(pf24bit, 0, 5);
    EXPECT_TRUE(BitmapToImage(*b, true).isNull());
    EXPECT_EQ(KeyColor(*b), -1);
}

namespace {

// A graphic that is not a bitmap but keeps one, as vector or compressed formats do.
class TWrappedGraphic : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo() {
        static const TGraphicClass info{"TWrappedGraphic", nullptr, nullptr, nullptr};
        return info;
    }
    const TGraphicClass& ClassType() const override { return ClassInfo(); }
    int Width() const override { return inner.Width(); }
    int Height() const override { return inner.Height(); }
    bool Empty() const override { return inner.Empty(); }
    void LoadFromStream(TStream&) override {}
    TBitmap inner;
};

}  // namespace

TEST(BitmapToImage, GraphicsReachTheirPixelsThroughJpegOrALookup) {
    auto b = Make(pf24bit, 1, 1);
    b->ScanLine(0)[2] = 77;
    TJPEGImage jpeg;
    jpeg.Assign(*b);
    EXPECT_EQ(GraphicToImage(jpeg).pixel(0, 0), qRgb(77, 0, 0));

    TWrappedGraphic wrapped;
    wrapped.inner.Assign(*b);
    EXPECT_EQ(GraphicBitmap(wrapped), nullptr);
    EXPECT_TRUE(GraphicToImage(wrapped).isNull());
    RegisterBitmapLookup([](const TGraphic& g) -> const TBitmap* {
        const auto* w = dynamic_cast<const TWrappedGraphic*>(&g);
        return w ? &w->inner : nullptr;
    });
    EXPECT_EQ(GraphicBitmap(wrapped), &wrapped.inner);
    EXPECT_EQ(GraphicToImage(wrapped).pixel(0, 0), qRgb(77, 0, 0));
    ClearBitmapLookups();
}

// A GIF's transparent index shows through in the view, which turns the graphic's Transparent
// flag off (keying only applies to transparent graphics): the file's transparency is alpha.
TEST(BitmapToImage, GifTransparentIndexShowsThroughWithoutKeying) {
    // 2 x 1: index 0 (black) transparent, index 1 red.
    const uint8_t file[] = {'G',  'I',  'F',  '8',  '9', 'a', 2, 0, 1, 0, 0x80, 0, 0,  // screen
                            0,    0,    0,    255,  0,   0,                            // map
                            0x21, 0xF9, 4,    1,    0,   0,   0, 0,        // index 0 clear
                            0x2C, 0,    0,    0,    0,   2,   0, 1, 0, 0,  // image
                            2,    2,    0x44, 0x0A, 0,   ';'};
    TMemoryStream stream(file, sizeof file);
    TGIFGraphic gif;
    gif.LoadFromStream(stream);
    gif.SetTransparent(false);
    const QImage image = GraphicToImage(gif);
    EXPECT_EQ(qAlpha(At(image, 0, 0)), 0);
    EXPECT_EQ(At(image, 1, 0), qRgb(255, 0, 0));
}
