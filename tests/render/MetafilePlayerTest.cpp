// Windows metafiles built record by record and played through the Qt painter: the natural size,
// then one family of records at a time with the pixels it must give.
#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QRawFont>
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
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/Metafile.h"
#include "render/MetafilePlayer.h"

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
// the two rasterisers round diagonals differently. Each row sets up the file's own mapping first;
// a placeable file shows its window on the whole picture whatever viewport or fixed mapping mode
// its records ask for, and the whole drawing when that leaves the window.
TEST_F(MetafilePlayer, FilledShapesAgreeWithLibwmf) {
    if (!testhelp::HaveTool("wmf2gd")) GTEST_SKIP() << "wmf2gd (libwmf-bin) not installed";
    struct TRow {
        const char* name;
        std::vector<std::pair<uint16_t, std::vector<int>>> setup;
        int scale, offset;  // shape coordinates: x * scale + offset
        int bounds, inch;   // placeable bounds 0..bounds at inch units an inch
    };
    const TRow rows[] = {
        {"plain", {}, 1, 0, 80, 96},
        {"window moved by the file", {{0x020B, {-40, -40}}}, 1, -40, 80, 96},
        {"viewport set by the file",
         {{0x0103, {8}}, {0x020C, {160, 160}}, {0x020D, {10, 10}}, {0x020E, {40, 40}}},
         2,
         0,
         80,
         96},
        {"fixed mapping mode", {{0x0103, {1}}}, 2, 0, 160, 192},
        // Drawings that leave their window are shown whole, their bounding box on the picture.
        {"drawing beyond its window", {{0x0103, {8}}, {0x020C, {60, 60}}}, 1, 0, 80, 96},
        {"drawing past the window's far side",
         {{0x0103, {8}}, {0x020C, {1369, 1369}}},
         16,
         263,
         1360,
         1632},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto c = [&](int v) { return v * row.scale + row.offset; };
        TWmf w;
        for (const auto& [function, words] : row.setup)
            w.Rec(function, words);
        w.Pen(5, 0, 0);
        w.Brush(0, 0xC0C0C0);
        w.Rectangle(c(0), c(0), c(80), c(80));  // the whole picture
        w.Brush(0, kRed);
        w.Rectangle(c(4), c(4), c(40), c(30));
        // (Ellipses are left out: libwmf's gd output draws their outline only.)
        w.Brush(0, kBlue);
        w.Rectangle(c(50), c(40), c(76), c(60));
        w.Brush(0, 0x00C000);
        w.Rec(0x0324, {3, c(10), c(50), c(40), c(70), c(5), c(78)});  // triangle
        const Bytes file = w.Build(row.bounds, row.bounds, row.inch);
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
        ASSERT_EQ(ours.size(), QSize(80, 80));
        int differ = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                // Unpainted pixels are see-through here and white there.
                const QRgb a =
                    qAlpha(ours.pixel(x, y)) == 0 ? qRgb(255, 255, 255) : ours.pixel(x, y);
                const QRgb b = qAlpha(reference.pixel(x, y)) == 0 ? qRgb(255, 255, 255)
                                                                  : reference.pixel(x, y);
                differ += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                              std::abs(qBlue(a) - qBlue(b)) >
                          96;
            }
        // The shapes' outlines are about 280 pixels long; allow one pixel of rounding along them.
        EXPECT_LT(differ, 280) << differ << " of 6400 pixels differ";
    }
}

namespace {

// An EMF font (LOGFONTW: height, weight, character set, face), selected at once.
void EmfFont(TEmf& e, int index, int height, int charSet, const std::u16string& face) {
    Bytes f;
    for (int v : {index, height, 0, 0, 0, 400})
        Put32LE(f, uint32_t(v));
    for (int v : {0, 0, 0, charSet, 0, 0, 0, 0})
        f.push_back(uint8_t(v));
    for (size_t i = 0; i < 32; ++i)
        Put16LE(f, i < face.size() ? face[i] : 0);
    e.Rec(82, {}, f);
    e.Rec(37, {index});
}

// ExtTextOutA/W at (2, 2) with the characters, options and spacing given.
void EmfText(TEmf& e, bool wide, const std::u16string& chars, uint32_t options = 0,
             const std::vector<int32_t>& dx = {}) {
    Bytes tail;
    for (char16_t c : chars)
        wide ? Put16LE(tail, c) : tail.push_back(uint8_t(c));
    while (tail.size() % 4)
        tail.push_back(0);
    const int32_t offDx = dx.empty() ? 0 : 76 + int32_t(tail.size());
    for (int32_t v : dx)
        Put32LE(tail, uint32_t(v));
    e.Rec(
        wide ? 84 : 83,
        {0, 0, 0, 0, 1, 0, 0, 2, 2, int32_t(chars.size()), 76, int32_t(options), 0, 0, 0, 0, offDx},
        tail);
}

QImage TextPicture(int charSet, const std::u16string& face,
                   const std::function<void(TEmf&)>& text) {
    TEmf e;
    e.Rec(18, {1});  // transparent background
    EmfFont(e, 1, -24, charSet, face);
    text(e);
    return Play(e.Build(120, 40));
}

int Ink(const QImage& image, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += qAlpha(image.pixel(x, y)) > 128;
    return n;
}

}  // namespace

// 8-bit text is read in its font's code page, symbol fonts show the characters they stand
// for: each row draws the same picture as the Unicode string.
TEST_F(MetafilePlayer, EightBitTextFollowsTheFontsCharacterSet) {
    struct TRow {
        int charSet;
        const char16_t* face;
        std::u16string bytes, unicode;
    } rows[] = {
        {0, u"DejaVu Sans", {0x80, 0x93, 0x94}, u"€“”"},
        {204, u"DejaVu Sans", {0xC0, 0xC1, 0xE6}, u"АБж"},
        {238, u"DejaVu Sans", {0x8A, 0x9A, 0xE8}, u"Ššč"},
        {161, u"DejaVu Sans", {0xC1, 0xD3, 0xE1}, u"ΑΣα"},
        {2, u"Symbol", {'a', 'b', 0xB3}, u"αβ≥"},
        {2, u"Wingdings", {0xFC, 0x6C, 0xE8}, u"✓●➔"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.charSet);
        const QImage bytes =
            TextPicture(row.charSet, row.face, [&](TEmf& e) { EmfText(e, false, row.bytes); });
        const QImage unicode =
            TextPicture(row.charSet, row.face, [&](TEmf& e) { EmfText(e, true, row.unicode); });
        EXPECT_GT(Ink(unicode, unicode.rect()), 20);
        EXPECT_EQ(bytes, unicode);
    }
}

// Glyph numbers, pairs of x and y advances, and justification place the characters.
TEST_F(MetafilePlayer, GlyphIndicesSpacingPairsAndJustification) {
    const std::u16string face = u"DejaVu Sans";
    QFont font(QString::fromStdU16String(face));
    font.setPixelSize(24);
    const quint32 glyphW = QRawFont::fromFont(font).glyphIndexesForString(QStringLiteral("W"))[0];
    const QImage byIndex = TextPicture(0, face, [&](TEmf& e) {
        EmfText(e, true, {char16_t(glyphW)}, 0x10);  // ETO_GLYPH_INDEX
    });
    const QImage byChar = TextPicture(0, face, [&](TEmf& e) { EmfText(e, true, u"W"); });
    EXPECT_GT(Ink(byChar, byChar.rect()), 20);
    EXPECT_EQ(byIndex, byChar);
    // No glyphs at all: the opaque rectangle only.
    const QImage none = TextPicture(0, face, [&](TEmf& e) { EmfText(e, true, u"", 0x12); });
    EXPECT_EQ(Ink(none, none.rect()), 0);

    // ETO_PDY: the second character 60 right and 14 up (y grows downwards).
    const QImage pairs = TextPicture(0, face, [&](TEmf& e) {
        EmfText(e, true, u"ll", 0x2000, {60, -14, 0, 0});
    });
    EXPECT_GT(Ink(pairs, QRect(60, 0, 20, 8)), 0);
    EXPECT_EQ(Ink(pairs, QRect(60, 16, 20, 24)), 0);
    EXPECT_EQ(Ink(pairs, QRect(20, 0, 40, 40)), 0);

    // Justification: 60 extra units over the one space push the second word right.
    for (int extra : {0, 60}) {
        TWmf w;
        w.Rec(0x02FB, {-24, 0, 0, 0, 400, 0, 0, 0, 0});
        w.Rec(0x012D, {0});
        w.Rec(0x0102, {1});
        w.Rec(0x020A, {1, extra});
        w.Rec(0x0521, {3, 'l' | (' ' << 8), 'l', 2, 2});  // TextOut "l l"
        const QImage a = Play(w.Build(120, 40));
        EXPECT_EQ(Ink(a, QRect(50, 0, 70, 40)) > 0, extra > 0) << extra;
    }
}

namespace {

// EMF+ records written one by one into the comment records of an EMF.
struct TPlus {
    Bytes records;
    TPlus() { Rec(0x4001, 1, U({0xDBC01002, 0, 96, 96})); }  // header: dual, 96 dpi
    void Rec(uint16_t type, uint16_t flags, Bytes data) {
        while (data.size() % 4)
            data.push_back(0);
        Put16LE(records, type);
        Put16LE(records, flags);
        Put32LE(records, uint32_t(12 + data.size()));
        Put32LE(records, uint32_t(data.size()));
        testhelp::PutBytes(records, data);
    }
    static Bytes U(std::initializer_list<uint32_t> values) {
        Bytes b;
        for (uint32_t v : values)
            Put32LE(b, v);
        return b;
    }
    static Bytes F(std::initializer_list<float> values) {
        Bytes b;
        for (float f : values) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            Put32LE(b, bits);
        }
        return b;
    }
    // Puts the EMF+ records so far into a comment of the EMF.
    void Flush(TEmf& e) {
        Bytes tail = {'E', 'M', 'F', '+'};
        testhelp::PutBytes(tail, records);
        e.Rec(70, {int32_t(tail.size())}, tail);
        records.clear();
    }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        testhelp::PutBytes(all, p);
    return all;
}

const Bytes kSolidBlue = TPlus::U({0xDBC01002, 0, 0xFF0000FF});
const Bytes kFillAll = Cat({TPlus::U({0xFFFF0000, 1}), TPlus::F({0, 0, 40, 40})});

Bytes PngBytes() {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(1, 0, qRgb(0, 0, 255));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(data.begin(), data.end());
}

}  // namespace

// Each row writes EMF+ records (after the header) and probes the picture: EMF+ objects,
// drawing records, transforms, clipping and states, and the GDI fallback of a dual file.
TEST_F(MetafilePlayer, EmfPlusRecords) {
    using P = TPlus;
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), green = qRgb(0, 255, 0);
    const auto is = [](QRgb c) { return [c](QRgb p) { return p == c; }; };
    const auto ink = [](QRgb p) { return qAlpha(p) > 128; };
    const auto clear = [](QRgb p) { return qAlpha(p) == 0; };
    const auto reddish = [](QRgb p) { return qRed(p) > 180 && qBlue(p) < 75; };
    const auto bluish = [](QRgb p) { return qBlue(p) > 180 && qRed(p) < 75; };
    struct TProbe {
        int x, y;
        std::function<bool(QRgb)> ok;
    };
    struct TRow {
        const char* name;
        std::function<void(P&, TEmf&)> records;
        std::vector<TProbe> probes;
    };
    const std::u16string family = u"DejaVu Sans";
    Bytes font = Cat({P::U({0xDBC01002}), P::F({24}), P::U({2, 0, 0, uint32_t(family.size())})});
    for (char16_t c : family)
        Put16LE(font, c);
    const TRow rows[] = {
        {"colour fill of rectangles",
         [&](P& p, TEmf&) {
             p.Rec(0x400A, 0x8000, Cat({P::U({0xFFFF0000, 1}), P::F({5, 5, 20, 20})}));
         },
         {{10, 10, is(red)}, {30, 30, clear}}},
        {"brush object, ellipse",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0100, kSolidBlue);
             p.Rec(0x400E, 0, Cat({P::U({0}), P::F({0, 0, 40, 40})}));
         },
         {{20, 20, is(blue)}, {1, 1, clear}}},
        {"pen object, lines",
         [&](P& p, TEmf&) {
             p.Rec(
                 0x4008, 0x0201,
                 Cat({P::U({0xDBC01002, 0, 0, 2}), P::F({4}), P::U({0xDBC01002, 0, 0xFF00FF00})}));
             p.Rec(0x400D, 0x0001, Cat({P::U({2}), P::F({0, 20, 40, 20})}));
         },
         {{20, 20, is(green)}, {20, 10, clear}}},
        {"path object, compressed points",
         [&](P& p, TEmf&) {
             Bytes path = P::U({0xDBC01002, 3, 0x4000});
             for (int v : {0, 0, 40, 0, 0, 40})
                 Put16LE(path, uint32_t(v));
             testhelp::PutBytes(path, {0, 1, 0x81});
             p.Rec(0x4008, 0x0302, path);
             p.Rec(0x4014, 0x8002, P::U({0xFFFF0000}));
         },
         {{5, 5, is(red)}, {35, 35, clear}}},
        {"world transform",
         [&](P& p, TEmf&) {
             p.Rec(0x402D, 0, P::F({20, 0}));
             p.Rec(0x400A, 0x8000, Cat({P::U({0xFFFF0000, 1}), P::F({0, 0, 10, 10})}));
         },
         {{25, 5, is(red)}, {5, 5, clear}}},
        {"page in inches",
         [&](P& p, TEmf&) {
             p.Rec(0x4030, 4, P::F({0.1f}));  // a unit is 9.6 pixels
             p.Rec(0x400A, 0x8000, Cat({P::U({0xFFFF0000, 1}), P::F({0, 0, 2, 2})}));
         },
         {{17, 17, is(red)}, {21, 21, clear}}},
        {"clip rectangle, then saved state",
         [&](P& p, TEmf&) {
             p.Rec(0x4025, 0, P::U({7}));
             p.Rec(0x4032, 0, P::F({0, 0, 20, 40}));
             p.Rec(0x402D, 0, P::F({100, 0}));
             p.Rec(0x4026, 0, P::U({7}));
             p.Rec(0x4032, 0x0100, P::F({0, 0, 20, 40}));
             p.Rec(0x400A, 0x8000, kFillAll);
         },
         {{10, 10, is(red)}, {30, 10, clear}}},
        {"linear gradient",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0100,
                   Cat({P::U({0xDBC01002, 4, 0, 4}), P::F({0, 0, 40, 40}),
                        P::U({0xFFFF0000, 0xFF0000FF, 0, 0})}));
             p.Rec(0x400A, 0, Cat({P::U({0, 1}), P::F({0, 0, 40, 40})}));
         },
         {{1, 20, reddish}, {38, 20, bluish}}},
        {"bitmap drawn stretched",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0503,
                   P::U({0xDBC01002, 1, 2, 1, 8, 0x0026200A, 0, 0xFFFF0000, 0xFF0000FF}));
             p.Rec(0x401A, 3, Cat({P::U({0, 2}), P::F({0, 0, 2, 1, 0, 0, 40, 40})}));
         },
         {{10, 20, is(red)}, {30, 20, is(blue)}}},
        {"PNG through the imaging library, drawn on points",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0503, Cat({P::U({0xDBC01002, 1, 2, 1, 0, 0, 1}), PngBytes()}));
             // Upper-left, upper-right, lower-left: mirrored left to right.
             p.Rec(0x401B, 3,
                   Cat({P::U({0, 2}), P::F({0, 0, 2, 1}), P::U({3}), P::F({40, 0, 0, 0, 40, 40})}));
         },
         {{10, 20, is(blue)}, {30, 20, is(red)}}},
        {"string in a font",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0604, font);
             p.Rec(0x401C, 0x8004,
                   Cat({P::U({0xFF000000, 0xFFFFFFFF, 2}), P::F({2, 2, 0, 0}),
                        P::U({'W' | ('W' << 16)})}));
         },
         {{3, 30, clear}, {-1, -1, ink}}},
        {"string squeezed flat by a nearly singular transform: nothing, and no crash",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0604, font);
             p.Rec(0x402A, 0, P::F({133, 0, -76.8f, 0.01f, 20, 20}));
             p.Rec(0x401C, 0x8004,
                   Cat({P::U({0xFF000000, 0xFFFFFFFF, 3}), P::F({2, 2, 0, 0}),
                        P::U({'W' | ('W' << 16), 'W'})}));
         },
         {{20, 20, clear}, {2, 2, clear}}},
        {"driver string at glyph positions",
         [&](P& p, TEmf&) {
             p.Rec(0x4008, 0x0604, font);
             Bytes data = P::U({0xFF000000, 1, 0, 1});
             Put16LE(data, 'W');
             p.Rec(0x4036, 0x8004, Cat({data, P::F({2, 38})}));
         },
         {{3, 2, clear}, {-1, -1, ink}}},
        {"dual file: the fallback is skipped but after GetDC",
         [&](P& p, TEmf& e) {
             p.Rec(0x4004, 0, {});
             p.Flush(e);
             e.Brush(1, 0, kBlue);
             e.Rec(43, {20, 0, 40, 40});
             p.Rec(0x401E, 0, {});  // any EMF+ record ends what GetDC began
             p.Flush(e);
             e.Rec(43, {0, 0, 20, 40});
         },
         {{10, 10, clear}, {30, 10, is(blue)}}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TEmf e;
        e.Rec(37, {int32_t(kNullPen)});
        P p;
        row.records(p, e);
        p.Flush(e);
        const QImage image = Play(e.Build(40, 40));
        for (const TProbe& probe : row.probes) {
            if (probe.x < 0) {  // anywhere
                bool found = false;
                for (int y = 0; y < 40 && !found; ++y)
                    for (int x = 0; x < 40 && !found; ++x)
                        found = probe.ok(image.pixel(x, y));
                EXPECT_TRUE(found);
                continue;
            }
            EXPECT_TRUE(probe.ok(image.pixel(probe.x, probe.y)))
                << probe.x << "," << probe.y << " " << std::hex << image.pixel(probe.x, probe.y);
        }
    }
}

namespace {

// A 24-bit DIB (header, then bottom-up rows) of width x height colours given top row first.
std::pair<Bytes, Bytes> Dib24(int width, int height, const std::vector<uint32_t>& rgb) {
    Bytes header;
    for (int x : {40, width, height})
        Put32LE(header, uint32_t(x));
    Put16LE(header, 1);
    Put16LE(header, 24);
    for (int i = 0; i < 6; ++i)
        Put32LE(header, 0);
    Bytes bits;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = rgb[size_t(y * width + x)];
            testhelp::PutBytes(bits, {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
        while (bits.size() % 4)
            bits.push_back(0);
    }
    return {header, bits};
}

// StretchDIBits of the whole DIB onto (x, y, w, h) by the raster operation.
void StretchDib(TEmf& e, int x, int y, int w, int h, const std::pair<Bytes, Bytes>& dib, int width,
                int height, uint32_t rop) {
    Bytes tail = dib.first;
    testhelp::PutBytes(tail, dib.second);
    const int32_t offBmi = 8 + 72, offBits = offBmi + int32_t(dib.first.size());
    e.Rec(81,
          {0, 0, 0, 0, x, y, 0, 0, width, height, offBmi, int32_t(dib.first.size()), offBits,
           int32_t(dib.second.size()), 0, int32_t(rop), w, h},
          tail);
}

}  // namespace

// Binary raster operations of pens and brushes, and blits through their ternary operations
// (the picture counts as white paper where nothing is drawn).
TEST_F(MetafilePlayer, RasterOperations) {
    const QRgb red = qRgb(255, 0, 0), magenta = qRgb(255, 0, 255), yellow = qRgb(255, 255, 0);
    const QRgb cyan = qRgb(0, 255, 255), black = qRgb(0, 0, 0), green = qRgb(0, 255, 0);
    const auto redSquare = [](TEmf& e) {
        e.Brush(1, 0, kRed);
        e.Rec(43, {0, 0, 20, 40});
    };
    const auto greenDib = Dib24(1, 1, {0x00FF00});
    struct TRow {
        const char* name;
        std::function<void(TEmf&)> records;
        QRgb left, right;  // at (10, 10) over red and (30, 10) over paper
    } rows[] = {
        {"R2_XORPEN",
         [&](TEmf& e) {
             redSquare(e);
             e.Rec(20, {7});
             e.Brush(2, 0, kBlue);
             e.Rec(43, {0, 0, 40, 40});
         },
         magenta, yellow},
        {"R2_NOT",
         [&](TEmf& e) {
             redSquare(e);
             e.Rec(20, {6});
             e.Rec(43, {0, 0, 40, 40});
         },
         cyan, black},
        {"SRCAND",
         [&](TEmf& e) {
             redSquare(e);
             StretchDib(e, 0, 0, 40, 40, greenDib, 1, 1, 0x008800C6);
         },
         black, green},
        {"SRCPAINT",
         [&](TEmf& e) {
             redSquare(e);
             StretchDib(e, 0, 0, 40, 40, greenDib, 1, 1, 0x00EE0086);
         },
         yellow, qRgb(255, 255, 255)},
        {"SRCINVERT",
         [&](TEmf& e) {
             redSquare(e);
             StretchDib(e, 0, 0, 40, 40, greenDib, 1, 1, 0x00660046);
         },
         yellow, magenta},
        {"mask sequence: invert, and with the mask, invert",
         [&](TEmf& e) {
             redSquare(e);
             // The picture is green on the right half only; the mask is white where the
             // picture is to be transparent.
             const auto image = Dib24(2, 1, {0x000000, 0x00FF00});
             const auto mask = Dib24(2, 1, {0xFFFFFF, 0x000000});
             StretchDib(e, 0, 0, 40, 40, image, 2, 1, 0x00660046);
             StretchDib(e, 0, 0, 40, 40, mask, 2, 1, 0x008800C6);
             StretchDib(e, 0, 0, 40, 40, image, 2, 1, 0x00660046);
         },
         red, green},
        {"PATINVERT",
         [&](TEmf& e) {
             redSquare(e);
             e.Brush(2, 0, kBlue);
             e.Rec(76, {0, 0, 0,          0, 0, 0, 40, 40, 0x005A0049, 0, 0, 0x3F800000,
                        0, 0, 0x3F800000, 0, 0, 0, 0,  0,  0,          0, 0, 0});
         },
         magenta, yellow},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TEmf e;
        e.Rec(37, {int32_t(kNullPen)});
        row.records(e);
        const QImage image = Play(e.Build(40, 40));
        EXPECT_EQ(image.pixel(10, 10), row.left) << std::hex << image.pixel(10, 10);
        EXPECT_EQ(image.pixel(30, 10), row.right) << std::hex << image.pixel(30, 10);
    }
}

// TransparentBlt leaves out its colour; GradientFill shades rectangles and triangles.
TEST_F(MetafilePlayer, TransparentBlitAndGradientFill) {
    TEmf e;
    const auto dib = Dib24(2, 1, {0xFF0000, 0x00FF00});
    Bytes tail = dib.first;
    testhelp::PutBytes(tail, dib.second);
    const int32_t offBmi = 8 + 100, offBits = offBmi + int32_t(dib.first.size());
    e.Rec(116,
          {0,
           0,
           0,
           0,
           0,
           0,
           40,
           20,
           0x00FF00,
           0,
           0,
           0x3F800000,
           0,
           0,
           0x3F800000,
           0,
           0,
           0,
           0,
           offBmi,
           int32_t(dib.first.size()),
           offBits,
           int32_t(dib.second.size()),
           2,
           1},
          tail);
    // Horizontal rectangle from red to blue in the lower half, 16-bit colour channels.
    Bytes vertices;
    for (const std::vector<uint32_t>& v :
         std::vector<std::vector<uint32_t>>{{0, 20, 0xFF00, 0, 0, 0}, {40, 40, 0, 0, 0xFF00, 0}}) {
        Put32LE(vertices, v[0]);
        Put32LE(vertices, v[1]);
        for (size_t i = 2; i < 6; ++i)
            Put16LE(vertices, v[i]);
    }
    Put32LE(vertices, 0);
    Put32LE(vertices, 1);
    e.Rec(118, {0, 0, 0, 0, 2, 1, 0}, vertices);
    const QImage image = Play(e.Build(40, 40));
    EXPECT_EQ(image.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(30, 10), kClear);
    EXPECT_GT(qRed(image.pixel(2, 30)), 200);
    EXPECT_GT(qBlue(image.pixel(37, 30)), 200);
    EXPECT_LT(qRed(image.pixel(37, 30)), 50);
}

// Regions: WMF region objects filled, painted, framed, inverted and selected as the clip; EMF
// region fills and the meta region.
TEST_F(MetafilePlayer, Regions) {
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), black = qRgb(0, 0, 0);
    // The region 10,10 - 30,30 as one scan; it is object `index`.
    const auto region = [](TWmf& w) {
        w.Rec(0x06FF, {0, 6, 0, 0, 0, 1, 0, 10, 10, 30, 30, 2, 10, 30, 10, 30, 2});
        return w.objects++;
    };
    struct TRow {
        const char* name;
        std::function<void(TWmf&)> records;
        QRgb inside, border;  // at (20, 20) and (11, 20); outside (5, 5) stays clear
    } rows[] = {
        {"FillRegion",
         [&](TWmf& w) {
             const int brush = w.objects;
             w.Brush(0, kRed);
             w.Brush(0, kBlue);
             w.Rec(0x0228, {region(w), brush});
         },
         red, red},
        {"PaintRegion",
         [&](TWmf& w) {
             w.Brush(0, kBlue);
             w.Rec(0x012B, {region(w)});
         },
         blue, blue},
        {"FrameRegion",
         [&](TWmf& w) {
             const int brush = w.objects;
             w.Brush(0, kRed);
             w.Rec(0x0429, {region(w), brush, 2, 2});
         },
         kClear, red},
        {"InvertRegion", [&](TWmf& w) { w.Rec(0x012A, {region(w)}); }, black, black},
        {"SelectClipRegion",
         [&](TWmf& w) {
             w.Rec(0x012C, {region(w)});
             w.Brush(0, kBlue);
             w.Rectangle(0, 0, 40, 40);
         },
         blue, blue},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TWmf w;
        w.Pen(5, 0, 0);
        row.records(w);
        const QImage image = Play(w.Build(40, 40));
        EXPECT_EQ(image.pixel(20, 20), row.inside) << std::hex << image.pixel(20, 20);
        EXPECT_EQ(image.pixel(11, 20), row.border) << std::hex << image.pixel(11, 20);
        EXPECT_EQ(image.pixel(5, 5), kClear);
    }

    // EMF: FillRgn with a stock black brush; the meta region keeps a later fill on the left.
    TEmf e;
    e.Rec(37, {int32_t(kNullPen)});
    e.Rec(71, {0, 0, 0, 0, 48, int32_t(0x80000004), 32, 1, 1, 16, 0, 0, 0, 0, 30, 0, 40, 10});
    e.Rec(30, {0, 0, 20, 40});  // IntersectClipRect
    e.Rec(28, {});              // SetMetaRgn
    e.Rec(75, {0, 5});          // the clip reset: back to the meta region
    e.Brush(1, 0, kBlue);
    e.Rec(43, {0, 20, 40, 40});
    const QImage b = Play(e.Build(40, 40));
    EXPECT_EQ(b.pixel(35, 5), black);
    EXPECT_EQ(b.pixel(25, 5), kClear);
    EXPECT_EQ(b.pixel(10, 30), blue);
    EXPECT_EQ(b.pixel(30, 30), kClear);
}

// Geometry as GDI draws it: the box's right and bottom edges are outside the shape and the
// outline runs on its outermost pixels; ArcTo and AngleArc draw their lines; PolyDraw; path
// widening.
TEST_F(MetafilePlayer, GeometryAsGdiDrawsIt) {
    const QRgb black = qRgb(0, 0, 0), red = qRgb(255, 0, 0);
    const auto blackAround = [](const QImage& image, int x, int y) {
        for (int dy = -2; dy <= 2; ++dy)
            if (image.pixel(x, y + dy) == qRgb(0, 0, 0)) return true;
        return false;
    };
    TEmf a;
    a.Pen(1, 0, 0, 0);
    a.Brush(2, 0, kRed);
    a.Rec(43, {10, 10, 30, 30});  // Rectangle
    const QImage rect = Play(a.Build(40, 40));
    struct TProbe {
        int x, y;
        QRgb color;
    } probes[] = {{10, 20, black},  {29, 20, black}, {30, 20, kClear}, {20, 29, black},
                  {20, 30, kClear}, {20, 20, red},   {28, 28, red}};
    for (const TProbe& p : probes)
        EXPECT_EQ(rect.pixel(p.x, p.y), p.color) << p.x << "," << p.y;

    TEmf b;
    b.Rec(37, {int32_t(kNullPen)});
    b.Brush(2, 0, kRed);
    b.Rec(42, {10, 10, 30, 30});  // Ellipse
    const QImage ellipse = Play(b.Build(40, 40));
    EXPECT_EQ(ellipse.pixel(29, 20), red);
    EXPECT_EQ(ellipse.pixel(30, 20), kClear);
    EXPECT_EQ(ellipse.pixel(10, 20), red);

    TEmf c;
    c.Pen(1, 0, 0, 0);
    c.Rec(27, {0, 5});                               // MoveTo
    c.Rec(55, {20, 0, 40, 20, 40, 10, 30, 0});       // ArcTo: line to (40, 10) first
    c.Rec(27, {0, 30});                              // MoveTo
    c.Rec(41, {20, 30, 8, 0, int32_t(0x43340000)});  // AngleArc 0..180 degrees
    const QImage arcs = Play(c.Build(40, 40));
    EXPECT_TRUE(blackAround(arcs, 10, 6));   // ArcTo's line
    EXPECT_TRUE(blackAround(arcs, 5, 30));   // AngleArc's line
    EXPECT_TRUE(blackAround(arcs, 20, 22));  // the top of its half circle
    EXPECT_FALSE(blackAround(arcs, 20, 36));

    TEmf d;
    d.Pen(1, 0, 0, 0);
    // PolyDraw16: move to (0, 0), line to (39, 0), line to (39, 39) and close the figure.
    d.Rec(92, {0, 0, 0, 0, 3, 0, 39, 39 << 16 | 39}, Bytes{6, 2, 3});
    const QImage poly = Play(d.Build(40, 40));
    EXPECT_TRUE(blackAround(poly, 20, 20));  // the closing diagonal
    EXPECT_TRUE(blackAround(poly, 20, 2));

    TEmf e;
    e.Pen(1, 0, 10, 0);
    e.Brush(2, 0, kRed);
    e.Rec(59, {});            // BeginPath
    e.Rec(27, {0, 20});       // MoveTo
    e.Rec(54, {40, 20});      // LineTo
    e.Rec(60, {});            // EndPath
    e.Rec(66, {});            // WidenPath
    e.Rec(62, {0, 0, 0, 0});  // FillPath
    const QImage wide = Play(e.Build(40, 40));
    EXPECT_EQ(wide.pixel(20, 17), red);
    EXPECT_EQ(wide.pixel(20, 30), kClear);
}
