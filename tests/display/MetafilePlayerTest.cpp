// Windows metafiles built record by record and played through the Qt painter: the natural size,
// then one family of records at a time with the pixels it must give.
#include <QImage>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ImagingTestHelpers.h"
#include "display/MetafilePlayer.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/Metafile.h"

namespace {

using testhelp::Bytes;
using testhelp::Put16LE;
using testhelp::Put32LE;

// ---- WMF ------------------------------------------------------------------------------------

// A placeable WMF of width x height logical units at unitsPerInch, with the records given.
struct TWmf {
    Bytes records;
    void Rec(uint16_t function, std::vector<int> words, const Bytes& tail = {}) {
        const size_t size = 3 + words.size() + (tail.size() + 1) / 2;
        maxRecord = std::max(maxRecord, size);
        Put32LE(records, uint32_t(size));
        Put16LE(records, function);
        for (int w : words)
            Put16LE(records, uint32_t(w));
        testhelp::PutBytes(records, tail);
        if (tail.size() % 2) records.push_back(0);
    }
    Bytes Build(int width, int height, int unitsPerInch = 96, bool placeable = true) const {
        Bytes v;
        if (placeable) {
            Put32LE(v, 0x9AC6CDD7);
            Put16LE(v, 0);
            for (int x : {0, 0, width, height})
                Put16LE(v, uint32_t(x));
            Put16LE(v, uint32_t(unitsPerInch));
            Put32LE(v, 0);
            Put16LE(v, 0);  // checksum (not checked)
        }
        for (int x : {1, 9, 0x300})
            Put16LE(v, uint32_t(x));
        Put32LE(v, uint32_t((18 + records.size() + 6) / 2));  // size in words
        Put16LE(v, uint32_t(objects));
        Put32LE(v, uint32_t(maxRecord));
        Put16LE(v, 0);
        testhelp::PutBytes(v, records);
        Put32LE(v, 3);
        Put16LE(v, 0);
        return v;
    }
    // Brush (style, colour) and pen (style, width, colour) objects, selected at once.
    void Brush(int style, uint32_t color, int hatch = 0) {
        Rec(0x02FC, {style, int(color & 0xFFFF), int(color >> 16), hatch});
        Rec(0x012D, {objects++});
    }
    void Pen(int style, int width, uint32_t color) {
        Rec(0x02FA, {style, width, 0, int(color & 0xFFFF), int(color >> 16)});
        Rec(0x012D, {objects++});
    }
    void Rectangle(int l, int t, int r, int b) { Rec(0x041B, {b, r, t, l}); }
    int objects = 0;
    size_t maxRecord = 3;
};

// ---- EMF ------------------------------------------------------------------------------------

struct TEmf {
    Bytes records;
    void Rec(uint32_t type, const std::vector<int32_t>& values, const Bytes& tail = {}) {
        const size_t size = 8 + values.size() * 4 + ((tail.size() + 3) & ~size_t(3));
        Put32LE(records, type);
        Put32LE(records, uint32_t(size));
        for (int32_t x : values)
            Put32LE(records, uint32_t(x));
        testhelp::PutBytes(records, tail);
        while (records.size() % 4)
            records.push_back(0);
    }
    // A reference device of 100 pixels per 25.4 mm... kept simple: 96 dpi, frame in 0.01 mm.
    Bytes Build(int width, int height) const {
        Bytes v;
        Put32LE(v, 1);
        Put32LE(v, 88);
        for (int x : {0, 0, width - 1, height - 1})  // bounds, inclusive
            Put32LE(v, uint32_t(x));
        for (int x : {0, 0, width * 2540 / 96 - 1, height * 2540 / 96 - 1})  // frame
            Put32LE(v, uint32_t(x));
        Put32LE(v, 0x464D4520);
        Put32LE(v, 0x10000);
        Put32LE(v, 0);  // size (not used)
        Put32LE(v, 0);  // records
        Put16LE(v, 8);  // handles
        Put16LE(v, 0);
        Put32LE(v, 0);
        Put32LE(v, 0);
        Put32LE(v, 0);
        for (int x : {960, 960, 254, 254})  // device pixels and millimetres: 96 dpi
            Put32LE(v, uint32_t(x));
        testhelp::PutBytes(v, records);
        Put32LE(v, 14);
        Put32LE(v, 20);
        for (int i = 0; i < 3; ++i)
            Put32LE(v, 0);
        return v;
    }
    void Brush(int index, int style, uint32_t color, int hatch = 0) {
        Rec(39, {index, style, int32_t(color), hatch});
        Rec(37, {index});
    }
    void Pen(int index, int style, int width, uint32_t color) {
        Rec(38, {index, style, width, 0, int32_t(color)});
        Rec(37, {index});
    }
};

constexpr uint32_t kRed = 0x0000FF;  // COLORREF: 0x00BBGGRR
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kNullPen = 0x80000008;

std::unique_ptr<TMetafile> Load(const Bytes& bytes) {
    auto metafile = std::make_unique<TMetafile>();
    testhelp::LoadBytes(*metafile, bytes);
    return metafile;
}

// The drawn picture of a metafile.
QImage Play(const Bytes& bytes) {
    return PlayMetafile(*Load(bytes)).convertToFormat(QImage::Format_ARGB32);
}

const QRgb kClear = qRgba(0, 0, 0, 0);

class MetafilePlayer : public testing::Test {
  protected:
    void SetUp() override { InstallMetafilePlayer(); }
    void TearDown() override { TMetafile::SetRenderer(nullptr); }
};

}  // namespace

TEST_F(MetafilePlayer, NaturalSizeAndHeaderChecks) {
    // Placeable: 1440 units an inch, 2 x 1 inch: 192 x 96 pixels at 96 dpi.
    EXPECT_EQ(Load(TWmf{}.Build(2880, 1440, 1440))->Width(), 192);
    EXPECT_EQ(Load(TWmf{}.Build(2880, 1440, 1440))->Height(), 96);
    // Plain WMF: the first window extent.
    TWmf plain;
    plain.Rec(0x020C, {30, 40});
    const auto p = Load(plain.Build(0, 0, 0, false));
    EXPECT_EQ(p->Width(), 40);
    EXPECT_EQ(p->Height(), 30);
    // EMF: the frame at 96 dpi.
    const auto e = Load(TEmf{}.Build(50, 20));
    EXPECT_TRUE(e->Enhanced());
    EXPECT_EQ(e->Width(), 50);
    EXPECT_EQ(e->Height(), 20);
    EXPECT_EQ(e->Bitmap().Width(), 50);
    // Not a metafile, or an inconsistent header.
    const std::string invalid = "Cannot load image. Invalid or unexpected WMF/EMF image format.";
    EXPECT_EQ(testhelp::LoadError<TMetafile>(Bytes(10, 0)), invalid);
    Bytes noUnits = TWmf{}.Build(100, 100, 96);
    noUnits[14] = noUnits[15] = 0;
    EXPECT_EQ(testhelp::LoadError<TMetafile>(noUnits), invalid);
    // A huge frame is scaled down to the side limit, its aspect kept.
    const auto huge = Load(TWmf{}.Build(30000, 15000, 1));
    EXPECT_EQ(huge->Width(), TMetafile::kMaxSide);
    EXPECT_EQ(huge->Height(), TMetafile::kMaxSide / 2);
}

TEST_F(MetafilePlayer, RectanglesEllipsesAndPensInBothFormats) {
    TWmf w;
    w.Pen(5, 0, 0);  // null pen
    w.Brush(0, kRed);
    w.Rectangle(10, 10, 30, 20);
    w.Rec(0x0418, {50, 90, 10, 50});  // ellipse 50,10 - 90,50
    w.Pen(0, 0, kBlue);
    w.Rec(0x0214, {70, 0});   // MoveTo 0,70
    w.Rec(0x0213, {70, 99});  // LineTo 99,70
    const QImage a = Play(w.Build(100, 100));
    ASSERT_EQ(a.size(), QSize(100, 100));
    EXPECT_EQ(a.pixel(20, 15), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(9, 15), kClear);
    EXPECT_EQ(a.pixel(30, 15), kClear);  // the right edge is not part of the rectangle
    EXPECT_EQ(a.pixel(70, 30), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(52, 12), kClear);  // outside the ellipse, inside its box
    EXPECT_EQ(a.pixel(40, 70), qRgb(0, 0, 255));
    EXPECT_EQ(a.pixel(40, 72), kClear);

    TEmf e;
    e.Rec(37, {int32_t(kNullPen)});
    e.Brush(1, 0, kBlue);
    e.Rec(43, {5, 5, 15, 15});  // Rectangle
    e.Pen(2, 0, 0, kRed);
    e.Rec(44, {20, 20, 40, 30, 6, 6});  // RoundRect
    const QImage b = Play(e.Build(50, 50));
    EXPECT_EQ(b.pixel(10, 10), qRgb(0, 0, 255));
    EXPECT_EQ(b.pixel(30, 20), qRgb(255, 0, 0));  // the pen on the top edge
    EXPECT_EQ(b.pixel(20, 20), kClear);           // the rounded corner
}

TEST_F(MetafilePlayer, PolygonFillModesAndPolyPolygons) {
    // Two squares, one inside the other: alternate leaves a hole, winding fills it.
    for (int mode : {1, 2}) {
        TWmf w;
        w.Pen(5, 0, 0);
        w.Brush(0, kRed);
        w.Rec(0x0106, {mode});
        w.Rec(0x0538, {2, 4, 4, 0, 0, 40, 0, 40, 40, 0, 40, 10, 10, 30, 10, 30, 30, 10, 30});
        const QImage a = Play(w.Build(40, 40));
        EXPECT_EQ(a.pixel(5, 5), qRgb(255, 0, 0));
        EXPECT_EQ(a.pixel(20, 20), mode == 1 ? kClear : qRgb(255, 0, 0)) << mode;
    }
    TEmf e;
    e.Rec(37, {int32_t(kNullPen)});
    e.Brush(1, 0, kBlue);
    e.Rec(86, {0, 0, 0, 0, 3, 0 | (0 << 16), 20 | (0 << 16), 0 | (20 << 16)});  // Polygon16
    const QImage b = Play(e.Build(20, 20));
    EXPECT_EQ(b.pixel(3, 3), qRgb(0, 0, 255));
    EXPECT_EQ(b.pixel(17, 17), kClear);
}

TEST_F(MetafilePlayer, MappingModesOriginsExtentsAndWorldTransform) {
    // Window 200 x 200 from (100, 100) onto the 50 x 50 picture: logical (100..200) fills the
    // top-left quarter.
    TWmf w;
    w.Rec(0x0103, {8});
    w.Rec(0x020B, {100, 100});
    w.Rec(0x020C, {200, 200});
    w.Pen(5, 0, 0);
    w.Brush(0, kRed);
    w.Rectangle(100, 100, 200, 200);
    const QImage a = Play(w.Build(50, 50));
    EXPECT_EQ(a.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(30, 30), kClear);

    // EMF in MM_LOMETRIC (0.1 mm, y up) with the world moved 10 pixels right.
    TEmf e;
    e.Rec(37, {int32_t(kNullPen)});
    e.Brush(1, 0, kBlue);
    e.Rec(17, {2});
    e.Rec(12, {0, 40});                         // viewport origin: y = 0 at the bottom row
    const float move[6] = {1, 0, 0, 1, 40, 0};  // 40 x 0.1 mm: about 15 pixels
    std::vector<int32_t> xf;
    for (float f : move) {
        int32_t bits;
        std::memcpy(&bits, &f, 4);
        xf.push_back(bits);
    }
    e.Rec(35, xf);
    e.Rec(43, {0, 53, 53, 0});  // 5.3 mm = 20 pixels up from the bottom
    const QImage b = Play(e.Build(40, 40));
    EXPECT_EQ(b.pixel(20, 35), qRgb(0, 0, 255));
    EXPECT_EQ(b.pixel(10, 35), kClear);  // moved right by the world transform
    EXPECT_EQ(b.pixel(20, 10), kClear);  // y grows upwards
}

TEST_F(MetafilePlayer, ClippingSavedStatesAndObjectTable) {
    TWmf w;
    w.Pen(5, 0, 0);
    w.Brush(0, kRed);                 // object 1
    w.Rec(0x001E, {});                // SaveDC
    w.Rec(0x0416, {20, 20, 10, 10});  // IntersectClipRect 10,10 - 20,20
    w.Brush(0, kBlue);                // object 2
    w.Rectangle(0, 0, 40, 40);
    w.Rec(0x0127, {-1});  // RestoreDC: red brush, no clip
    w.Rectangle(30, 30, 40, 40);
    w.Rec(0x01F0, {1});        // delete the red brush
    w.Rec(0x012D, {1});        // selecting it again does nothing
    w.Rec(0x012D, {77});       // nor does an index beyond the table
    w.Rec(0x7777, {1, 2, 3});  // an unknown record is skipped
    w.Rectangle(0, 30, 10, 40);
    const QImage a = Play(w.Build(40, 40));
    EXPECT_EQ(a.pixel(15, 15), qRgb(0, 0, 255));
    EXPECT_EQ(a.pixel(5, 5), kClear);
    EXPECT_EQ(a.pixel(35, 35), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(5, 35), qRgb(255, 0, 0));  // still the red brush in the state
}

TEST_F(MetafilePlayer, HatchedBrushesAndBackgroundMode) {
    for (int bkMode : {1, 2}) {
        TEmf e;
        e.Rec(37, {int32_t(kNullPen)});
        e.Rec(18, {bkMode});
        e.Rec(25, {int32_t(0x00FF00)});  // green background
        e.Brush(1, 2, kRed, 0);          // horizontal hatch
        e.Rec(43, {0, 0, 16, 16});
        const QImage b = Play(e.Build(16, 16));
        int red = 0, green = 0, clear = 0;
        for (int y = 0; y < 16; ++y) {
            const QRgb p = b.pixel(8, y);
            red += p == qRgb(255, 0, 0);
            green += p == qRgb(0, 255, 0);
            clear += p == kClear;
        }
        EXPECT_GT(red, 0);
        EXPECT_GT(bkMode == 2 ? green : clear, 8) << bkMode;
    }
}

TEST_F(MetafilePlayer, DeviceIndependentBitmaps) {
    // A 2 x 2, 24-bit bottom-up DIB: bottom row red, blue; top row green, white.
    Bytes dib;
    for (int x : {40, 2, 2})
        Put32LE(dib, uint32_t(x));
    Put16LE(dib, 1);
    Put16LE(dib, 24);
    for (int i = 0; i < 6; ++i)
        Put32LE(dib, 0);
    const Bytes bits = {0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0};
    Bytes all = dib;
    testhelp::PutBytes(all, bits);

    // WMF StretchDib to 20 x 20 at (10, 10).
    TWmf w;
    std::vector<int> words = {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 20, 10, 10};
    w.Rec(0x0F43, words, all);
    const QImage a = Play(w.Build(40, 40));
    EXPECT_EQ(a.pixel(12, 12), qRgb(0, 255, 0));
    EXPECT_EQ(a.pixel(27, 12), qRgb(255, 255, 255));
    EXPECT_EQ(a.pixel(12, 27), qRgb(255, 0, 0));
    EXPECT_EQ(a.pixel(27, 27), qRgb(0, 0, 255));
    EXPECT_EQ(a.pixel(5, 5), kClear);
    // Stretched by repeating pixels, not blended.
    EXPECT_EQ(a.pixel(19, 12), qRgb(0, 255, 0));
    EXPECT_EQ(a.pixel(20, 12), qRgb(255, 255, 255));

    // EMF StretchDIBits: header and bits at their offsets from the record's start.
    TEmf e;
    const int32_t offBmi = 8 + 72, offBits = offBmi + int32_t(dib.size());
    e.Rec(81,
          {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, offBmi, int32_t(dib.size()), offBits, int32_t(bits.size()),
           0, 0x00CC0020, 10, 10},
          all);
    const QImage b = Play(e.Build(10, 10));
    EXPECT_EQ(b.pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(b.pixel(8, 8), qRgb(0, 0, 255));
}

TEST_F(MetafilePlayer, TextIsDrawnInTheTextColourWithItsAlignment) {
    auto textPixels = [](const QImage& image, const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += qRed(image.pixel(x, y)) > 128 && qAlpha(image.pixel(x, y)) > 128;
        return n;
    };
    TWmf w;
    w.Rec(0x02FB, {-20, 0, 0, 0, 700, 0, 0, 0, 0});  // a 20-pixel bold font
    w.Rec(0x012D, {0});
    w.Rec(0x0209, {int(kRed), 0});
    w.Rec(0x0102, {1});                               // transparent background
    w.Rec(0x0521, {3, 'W' | ('M' << 8), 'F', 5, 5});  // TextOut "WMF" at (5, 5)
    const QImage a = Play(w.Build(100, 40));
    EXPECT_GT(textPixels(a, QRect(5, 5, 60, 22)), 20);
    EXPECT_EQ(textPixels(a, QRect(0, 30, 100, 10)), 0);

    // EMF ExtTextOutW, right-aligned at x = 95 (TA_RIGHT), opaque rectangle in blue.
    TEmf e;
    e.Rec(82,
          {1, -20, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
           0, 0,   0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
           0, 0,   0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    e.Rec(37, {1});
    e.Rec(24, {int32_t(kRed)});
    e.Rec(22, {2});
    e.Rec(25, {int32_t(kBlue)});
    Bytes chars;
    for (char c : std::string("EMF"))
        Put16LE(chars, uint32_t(c));
    // bounds, mode, scales, reference, count, offString, options (ETO_OPAQUE), rect, offDx
    e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 95, 5, 3, 8 + 68, 2, 0, 30, 100, 40, 0}, chars);
    const QImage b = Play(e.Build(100, 40));
    EXPECT_GT(textPixels(b, QRect(40, 5, 56, 22)), 20);
    EXPECT_EQ(textPixels(b, QRect(0, 5, 30, 22)), 0);
    EXPECT_EQ(b.pixel(50, 35), qRgb(0, 0, 255));  // the opaque rectangle
}

TEST_F(MetafilePlayer, DamagedFilesShowWhatIsValid) {
    TWmf w;
    w.Pen(5, 0, 0);
    w.Brush(0, kRed);
    w.Rectangle(0, 0, 10, 10);
    w.Rec(0x0324, {5000, 1, 1});  // a polygon with more points than its record holds
    Bytes file = w.Build(20, 20);
    // A record whose size runs past the file ends the picture there.
    const size_t end = file.size() - 6;
    file[end] = 0xFF;
    file[end + 1] = 0xFF;
    const QImage a = Play(file);
    EXPECT_EQ(a.pixel(5, 5), qRgb(255, 0, 0));

    // Mutated files never crash the player.
    std::mt19937 rng(7);
    TEmf e;
    e.Brush(1, 2, kRed, 3);
    e.Rec(43, {0, 0, 16, 16});
    e.Rec(75, {48, 1, 32, 1, 1, 16, 0, 0, 8, 8, 0, 0, 8, 8});
    e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 5, 5, 100000, 76, 0, 0, 0, 0, 0, 1000});
    for (const Bytes& base : {w.Build(30, 30), e.Build(30, 30)}) {
        for (int i = 0; i < 200; ++i) {
            Bytes m = base;
            for (int k = 0; k < 4; ++k)
                m[rng() % m.size()] = uint8_t(rng());
            try {
                Play(m);
            } catch (const EImagingError&) {
            }
        }
    }
}

// A raised cancel flag ends the play of a long metafile of either kind with EAbort; without it
// the same files load.
TEST_F(MetafilePlayer, ACancelFlagEndsTheLoad) {
    TWmf wmf;
    TEmf emf;
    for (int i = 0; i < 2000; ++i) {
        wmf.Rectangle(0, 0, 5, 5);
        emf.Rec(43, {0, 0, 5, 5});  // EMR_RECTANGLE
    }
    for (const Bytes& file : {wmf.Build(10, 10), emf.Build(10, 10)})
        for (const bool cancelled : {false, true}) {
            SCOPED_TRACE(cancelled);
            std::atomic<bool> cancel{cancelled};
            TMetafile metafile;
            metafile.SetCancelFlag(&cancel);
            if (cancelled)
                EXPECT_THROW(testhelp::LoadBytes(metafile, file), EAbort);
            else
                EXPECT_NO_THROW(testhelp::LoadBytes(metafile, file));
        }
}

TEST_F(MetafilePlayer, PictureHolderDrawsMetafilesWhenARendererIsInstalled) {
    RegisterImageFormats();
    const std::string path = testing::TempDir() + "velkaro_test.emf";
    TEmf e;
    e.Brush(1, 0, kRed);
    e.Rec(43, {0, 0, 8, 8});
    const Bytes file = e.Build(8, 8);
    {
        TFileStream out(path, TFileStream::fmCreate);
        out.WriteBuffer(file.data(), int64_t(file.size()));
    }
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_NE(picture.Graphic(), nullptr);
    TBitmap copy;
    copy.Assign(*picture.Graphic());
    EXPECT_EQ(copy.Width(), 8);
    EXPECT_EQ(testhelp::BitmapRGBA(copy)[4 * (8 * 4 + 4)], 255);
    UnregisterImageFormats();
}

// libwmf (Debian's wmf2gd) draws the same filled shapes: pixels agree but for the edges, where
// the two rasterisers round diagonals differently.
TEST_F(MetafilePlayer, FilledShapesAgreeWithLibwmf) {
    if (!testhelp::HaveTool("wmf2gd")) GTEST_SKIP() << "wmf2gd (libwmf-bin) not installed";
    TWmf w;
    w.Pen(5, 0, 0);
    w.Brush(0, 0xC0C0C0);
    w.Rectangle(0, 0, 80, 80);  // the whole picture, so both agree on its bounds
    w.Brush(0, kRed);
    w.Rectangle(4, 4, 40, 30);
    // (Ellipses are left out: libwmf's gd output draws their outline only.)
    w.Brush(0, kBlue);
    w.Rectangle(50, 40, 76, 60);
    w.Brush(0, 0x00C000);
    w.Rec(0x0324, {3, 10, 50, 40, 70, 5, 78});  // triangle
    const Bytes file = w.Build(80, 80);
    const std::string path = testing::TempDir() + "velkaro_libwmf.wmf";
    const std::string png = testing::TempDir() + "velkaro_libwmf.png";
    {
        TFileStream out(path, TFileStream::fmCreate);
        out.WriteBuffer(file.data(), int64_t(file.size()));
    }
    bool ok = false;
    testhelp::RunCommand("wmf2gd --maxwidth=80 --maxheight=80 --maxsize -t png -o " +
                             testhelp::ShellQuote(png) + " " + testhelp::ShellQuote(path) +
                             " 2>/dev/null; echo done",
                         ok);
    QImage reference(QString::fromStdString(png));
    ASSERT_FALSE(reference.isNull());
    ASSERT_EQ(reference.size(), QSize(80, 80));
    reference = reference.convertToFormat(QImage::Format_ARGB32);
    const QImage ours = Play(file);
    int differ = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
            // Unpainted pixels are see-through here and white there.
            const QRgb a = qAlpha(ours.pixel(x, y)) == 0 ? qRgb(255, 255, 255) : ours.pixel(x, y);
            const QRgb b =
                qAlpha(reference.pixel(x, y)) == 0 ? qRgb(255, 255, 255) : reference.pixel(x, y);
            differ += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b)) >
                      96;
        }
    // The shapes' outlines are about 280 pixels long; allow one pixel of rounding along them.
    EXPECT_LT(differ, 280) << differ << " of 6400 pixels differ";
}
