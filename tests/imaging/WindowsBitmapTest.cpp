// Windows bitmap reader and writer: the public BMP suite (good files against each other and
// against pixel checksums cross-checked with ImageMagick, bad files refused), and hand-made
// files for run-length corner cases, bit fields, row order, truncation and the pixel limit.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/DibBuilder.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/WindowsBitmap.h"

using namespace dibtest;
namespace fs = std::filesystem;

namespace {

TBmp LoadFile(const fs::path& p) {
    TBmp bmp;
    bmp.LoadFromFile(p.string());
    return bmp;
}

uint32_t Crc(const std::vector<uint8_t>& v) {
    return uint32_t(crc32(0, v.data(), uInt(v.size())));
}

using testhelp::TPixelLimit;

TDibLayout Gray8(int w, int h, std::vector<uint8_t> rows) {
    TDibLayout s;
    s.width = w;
    s.height = h;
    s.bitCount = 8;
    for (int i = 0; i < 256; ++i)
        s.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i), 0});
    s.pixels = std::move(rows);
    return s;
}

}  // namespace

// ---- Public suite ---------------------------------------------------------------------------

// Checksums of the RGBA pixels of every good file; each was cross-checked against ImageMagick's
// decoding of the same file. Files that hold the same picture share a checksum, so the suite's
// variants (RLE, top-down, OS/2, V4/V5 headers, palettes on true-colour files, bit fields)
// are also checked against each other.
TEST(WindowsBitmapSuite, GoodFilesDecodeToReferencePixels) {
    const fs::path dir = testdata::corpus("pillow/bmp/g");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus not present";
    const std::map<std::string, std::pair<uint32_t, TPixelFormat>> expected = {
        {"pal1.bmp", {0xeb74525f, pf1bit}},        {"pal1bg.bmp", {0x4f8022c6, pf1bit}},
        {"pal1wb.bmp", {0xeb74525f, pf1bit}},      {"pal4.bmp", {0xd9b99f86, pf4bit}},
        {"pal4rle.bmp", {0xd9b99f86, pf4bit}},     {"pal8-0.bmp", {0x0dc3db86, pf8bit}},
        {"pal8.bmp", {0x0dc3db86, pf8bit}},        {"pal8nonsquare.bmp", {0x66818af4, pf8bit}},
        {"pal8os2.bmp", {0x0dc3db86, pf8bit}},     {"pal8rle.bmp", {0x0dc3db86, pf8bit}},
        {"pal8topdown.bmp", {0x0dc3db86, pf8bit}}, {"pal8v4.bmp", {0x0dc3db86, pf8bit}},
        {"pal8v5.bmp", {0x0dc3db86, pf8bit}},      {"pal8w124.bmp", {0xf52eb0ab, pf8bit}},
        {"pal8w125.bmp", {0x9e94cfa9, pf8bit}},    {"pal8w126.bmp", {0x91d0d12b, pf8bit}},
        {"rgb16-565.bmp", {0xe14168e5, pf16bit}},  {"rgb16-565pal.bmp", {0xe14168e5, pf16bit}},
        {"rgb16.bmp", {0x08e8a152, pf15bit}},      {"rgb24.bmp", {0xdc14976d, pf24bit}},
        {"rgb24pal.bmp", {0xdc14976d, pf24bit}},   {"rgb32.bmp", {0xdc14976d, pf32bit}},
        {"rgb32bf.bmp", {0xdc14976d, pf24bit}},
    };
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        TBmp bmp = LoadFile(entry.path());
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << "no reference for this file";
        EXPECT_EQ(Crc(RGBA(bmp)), it->second.first);
        EXPECT_EQ(bmp.PixelFormat(), it->second.second);
        ++seen;
    }
    EXPECT_EQ(seen, int(expected.size()));

    // pal1bg has other colours than pal1 but the same indices.
    const TBmp a = LoadFile(dir / "pal1.bmp");
    const TBmp b = LoadFile(dir / "pal1bg.bmp");
    ASSERT_EQ(a.RowStride() * a.Height(), b.RowStride() * b.Height());
    EXPECT_EQ(0, std::memcmp(a.Bits(), b.Bits(), size_t(a.RowStride()) * a.Height()));
}

// Every file of the suite's bad set is refused with a clear message, except four whose only
// faults are header fields the reader does not need (the file size, the image size of an
// uncompressed image, the density): those load and show the same picture as pal1.bmp.
TEST(WindowsBitmapSuite, BadFilesFailCleanly) {
    const fs::path dir = testdata::corpus("pillow/bmp/b");
    const fs::path good = testdata::corpus("pillow/bmp/g");
    if (dir.empty() || good.empty()) GTEST_SKIP() << "conformance corpus not present";
    const std::set<std::string> unusedFieldsOnly = {"badbitssize.bmp", "baddens1.bmp",
                                                    "baddens2.bmp", "badfilesize.bmp"};
    const std::vector<uint8_t> pal1 = RGBA(LoadFile(good / "pal1.bmp"));
    int refused = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        if (unusedFieldsOnly.count(name)) {
            EXPECT_EQ(RGBA(LoadFile(entry.path())), pal1);
            continue;
        }
        try {
            LoadFile(entry.path());
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_FALSE(std::string(e.what()).empty());
            ++refused;
        }
    }
    EXPECT_GE(refused, 10);
}

// The reference decodings of the PNG suite are 24- and 32-bit bitmaps with V5 headers and bit
// fields; all of them must load.
TEST(WindowsBitmapSuite, PngSuiteReferenceBitmapsLoad) {
    const fs::path dir = testdata::corpus("pngsuite/bmp");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus not present";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().filename().string());
        TBmp bmp = LoadFile(entry.path());
        EXPECT_TRUE(bmp.PixelFormat() == pf24bit || bmp.PixelFormat() == pf32bit);
        EXPECT_FALSE(bmp.Empty());
        ++count;
    }
    EXPECT_GT(count, 100);
}

TEST(WindowsBitmapSuite, OtherLibraryFiles) {
    const fs::path dir = testdata::corpus("pillow");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus not present";
    EXPECT_EQ(Crc(RGBA(LoadFile(dir / "hopper.bmp"))), 0x562899b0u);
    EXPECT_EQ(Crc(RGBA(LoadFile(dir / "hopper_rle8.bmp"))), 0x306240d3u);
    EXPECT_EQ(Crc(RGBA(LoadFile(dir / "hopper_rle8_grayscale.bmp"))), 0x5971c803u);
    EXPECT_EQ(Crc(RGBA(LoadFile(dir / "rgb32bf-abgr.bmp"))), 0x61c7e114u);
    // Runs past the end of a row are cut there: the picture is the same as without them (as
    // ImageMagick and Pillow show it).
    EXPECT_EQ(Crc(RGBA(LoadFile(dir / "hopper_rle8_row_overflow.bmp"))), 0x306240d3u);
    // A file without a palette.
    EXPECT_THROW(LoadFile(dir / "mmap_error.bmp"), EInvalidGraphic);
}

// ---- Run-length encoding ---------------------------------------------------------------------

TEST(WindowsBitmapRLE, Rle8RunsDeltaAndEndOfBitmap) {
    // 4 x 3, bottom-up: bottom row "3 x 7" + "1 x 9", end of line; delta (1, 1) skips to x = 1
    // of the top row; absolute run 5 6 8 (padded to a 16-bit boundary); end of bitmap.
    TDibLayout s = Gray8(4, 3, {3, 7, 1, 9, 0, 0, 0, 2, 1, 1, 0, 3, 5, 6, 8, 0, 0, 1});
    s.compression = 1;
    TBmp bmp = Load(s.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf8bit);
    const uint8_t top[4] = {0, 5, 6, 8};
    const uint8_t middle[4] = {0, 0, 0, 0};
    const uint8_t bottom[4] = {7, 7, 7, 9};
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), top, 4));
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(1), middle, 4));
    EXPECT_EQ(0, std::memcmp(bmp.ScanLine(2), bottom, 4));
}

TEST(WindowsBitmapRLE, Rle4AlternatesNibbles) {
    TDibLayout s;
    s.width = 5;
    s.height = 1;
    s.bitCount = 4;
    s.compression = 2;
    for (int i = 0; i < 16; ++i)
        s.palette.push_back({uint8_t(i * 16), 0, 0, 0});
    s.pixels = {5, 0x12, 0, 0, 0, 1};
    TBmp bmp = Load(s.Build());
    ASSERT_EQ(bmp.PixelFormat(), pf4bit);
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x12);
    EXPECT_EQ(bmp.ScanLine(0)[1], 0x12);
    EXPECT_EQ(bmp.ScanLine(0)[2] & 0xF0, 0x10);
}

TEST(WindowsBitmapRLE, RunsPastTheRowEndAreCut) {
    // 4 x 2: an encoded run of 5 and an absolute run crossing the row end; the next row goes
    // on normally after the end of line.
    for (const std::vector<uint8_t>& data :
         {std::vector<uint8_t>{5, 1, 0, 0, 4, 2, 0, 1},
          {2, 1, 0, 3, 1, 2, 3, 0, 0, 0, 4, 2, 0, 1},
          std::vector<uint8_t>{2, 1, 0, 3, 1, 2, 3, 0, 3, 9, 0, 0, 4, 2, 0, 1}}) {
        TDibLayout s = Gray8(4, 2, data);
        s.compression = 1;
        TBmp bmp = Load(s.Build());
        const uint8_t top[4] = {2, 2, 2, 2};
        EXPECT_EQ(0, std::memcmp(bmp.ScanLine(0), top, 4));
        EXPECT_EQ(bmp.ScanLine(1)[0], 1);
        EXPECT_EQ(bmp.ScanLine(1)[3], data[0] == 5 ? 1 : 2);
    }
}

TEST(WindowsBitmapRLE, WritesOutsideTheBitmapAreRefused) {
    const std::vector<std::vector<uint8_t>> streams = {
        {0, 2, 5, 0, 1, 1, 0, 1},  // delta past the right edge
        {0, 2, 0, 3, 1, 1, 0, 1},  // delta above the top row, then a pixel
        {2, 1},                    // data ends without end of line or bitmap
        {0, 3, 1, 2},              // absolute run cut short
        {0, 2, 1},                 // delta cut short
    };
    for (size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(i);
        TDibLayout s = Gray8(4, 2, streams[i]);
        s.compression = 1;
        EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    }
}

// Moving past the last row ends the picture: what follows cannot be written and is ignored.
TEST(WindowsBitmapRLE, DataAfterTheTopRowIsIgnored) {
    for (const std::vector<uint8_t>& data : {std::vector<uint8_t>{0, 2, 0, 2, 1, 1, 0, 1},
                                             std::vector<uint8_t>{0, 0, 0, 0, 9, 9, 0, 1}}) {
        TDibLayout s = Gray8(4, 2, data);
        s.compression = 1;
        const TBmp bmp = Load(s.Build());
        EXPECT_EQ(RGBA(bmp), RGBA(Load(Gray8(4, 2, std::vector<uint8_t>(8, 0)).Build())));
    }
}

TEST(WindowsBitmapRLE, CompressionMustMatchBitCountAndRowOrder) {
    TDibLayout s = Gray8(2, 1, {0, 1});
    s.compression = 2;  // RLE4 on 8 bits
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    s.compression = 1;
    s.height = -1;  // top-down RLE
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
}

// ---- Uncompressed layouts --------------------------------------------------------------------

TEST(WindowsBitmapLayout, TopDownAndBottomUpGiveTheSamePicture) {
    // 2 x 2, 24 bits: rows padded to 8 bytes.
    const std::vector<uint8_t> topRow = {1, 2, 3, 4, 5, 6, 0, 0};
    const std::vector<uint8_t> bottomRow = {7, 8, 9, 10, 11, 12, 0, 0};
    TDibLayout up;
    up.width = 2;
    up.height = 2;
    up.pixels = bottomRow;
    up.pixels.insert(up.pixels.end(), topRow.begin(), topRow.end());
    TDibLayout down = up;
    down.height = -2;
    down.pixels = topRow;
    down.pixels.insert(down.pixels.end(), bottomRow.begin(), bottomRow.end());
    const TBmp a = Load(up.Build());
    const TBmp b = Load(down.Build());
    EXPECT_EQ(RGBA(a), RGBA(b));
    EXPECT_EQ(Pixel(a, 0, 0), 0xFF030201u);
    EXPECT_EQ(Pixel(a, 1, 1), 0xFF0C0B0Au);
}

TEST(WindowsBitmapLayout, SixteenBitMasksChooseTheFormat) {
    TDibLayout s;
    s.width = 1;
    s.height = 1;
    s.bitCount = 16;
    s.compression = 3;
    s.pixels = {0xFF, 0xFF, 0, 0};
    s.masks = {0xF800, 0x07E0, 0x001F};
    EXPECT_EQ(Load(s.Build()).PixelFormat(), pf16bit);
    s.masks = {0x7C00, 0x03E0, 0x001F};
    EXPECT_EQ(Load(s.Build()).PixelFormat(), pf15bit);

    // 4-4-4-4 with alpha expands to 32 bits, each 4-bit value repeated into 8 bits.
    s.compression = 6;
    s.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    s.pixels = {0x5A, 0x3C, 0, 0};  // a=3 r=C g=5 b=A
    TBmp bmp = Load(s.Build());
    EXPECT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0x33CC55AAu);

    // Masks inside a V3 header; green only, no alpha: expanded to 24 bits.
    TDibLayout v3 = s;
    v3.headerSize = 56;
    v3.compression = 3;
    v3.masks = {0, 0x0FF0, 0, 0};
    v3.pixels = {0xB0, 0x0A, 0, 0};
    bmp = Load(v3.Build());
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0xFF00AB00u);
}

TEST(WindowsBitmapLayout, ThirtyTwoBitAlpha) {
    TDibLayout s;
    s.width = 1;
    s.height = 1;
    s.bitCount = 32;
    s.pixels = {0x10, 0x20, 0x30, 0x40};
    // BI_RGB: the fourth byte is not alpha.
    TBmp bmp = Load(s.Build());
    EXPECT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0xFF302010u);
    // Bit fields with an alpha mask keep it.
    s.headerSize = 108;
    s.compression = 3;
    s.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    EXPECT_EQ(Pixel(Load(s.Build()), 0, 0), 0x40302010u);
    // Red and blue swapped, alpha in the low byte: expanded.
    s.masks = {0xFF00, 0xFF0000, 0xFF000000, 0xFF};
    EXPECT_EQ(Pixel(Load(s.Build()), 0, 0), 0x10203040u);
}

TEST(WindowsBitmapLayout, InvalidMasksAreRefused) {
    TDibLayout s;
    s.bitCount = 16;
    s.compression = 3;
    s.pixels = {0, 0, 0, 0};
    s.masks = {0xF0F0, 0x0700, 0x000F};  // red not contiguous
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    s.masks = {0x1F0000, 0xFF00, 0xFF};  // beyond 16 bits
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    s.masks = {0, 0, 0};
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    s.bitCount = 24;  // bit fields need 16 or 32 bits
    s.masks = {0xFF0000, 0xFF00, 0xFF};
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
}

TEST(WindowsBitmapLayout, ShortPalettesAndIndices) {
    // Three palette entries for 8 bits: indices 0..2 are fine, 3 is refused.
    TDibLayout s = Gray8(4, 1, {0, 1, 2, 2});
    s.palette.resize(3);
    s.colorsUsed = 3;
    TBmp bmp = Load(s.Build());
    EXPECT_EQ(bmp.Palette().size(), 3u);
    s.pixels = {0, 1, 3, 2};
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    // More colours than the bit count allows.
    s.colorsUsed = 257;
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
}

TEST(WindowsBitmapLayout, CoreHeaderAndPackedDib) {
    TDibLayout s;
    s.headerSize = 12;
    s.width = 9;
    s.height = 1;
    s.bitCount = 1;
    s.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    s.pixels = {0xAA, 0x80, 0, 0};
    TBmp bmp = Load(s.Build());
    EXPECT_EQ(bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Pixel(bmp, 1, 0), 0xFF000000u);
    EXPECT_EQ(Pixel(bmp, 8, 0), 0xFFFFFFFFu);

    // The same picture as a packed DIB (no file header) with a 40-byte header.
    s.headerSize = 40;
    s.fileHeader = false;
    EXPECT_EQ(RGBA(Load(s.Build())), RGBA(bmp));
}

TEST(WindowsBitmapLayout, EveryTruncationFailsCleanly) {
    TDibLayout s = Gray8(3, 2, {1, 2, 3, 0, 4, 5, 6, 0});
    const std::vector<uint8_t> full = s.Build();
    ASSERT_NO_THROW(Load(full));
    for (size_t n = 0; n < full.size(); ++n) {
        const std::vector<uint8_t> part(full.begin(), full.begin() + long(n));
        EXPECT_THROW(Load(part), EInvalidGraphic) << n;
    }
}

TEST(WindowsBitmapLayout, HeaderFieldsAreChecked) {
    TDibLayout base = Gray8(2, 2, {0, 0, 0, 0, 0, 0, 0, 0});
    auto refused = [&](auto change) {
        TDibLayout s = base;
        change(s);
        EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
    };
    refused([](TDibLayout& s) { s.planes = 2; });
    refused([](TDibLayout& s) { s.width = 0; });
    refused([](TDibLayout& s) { s.width = -2; });
    refused([](TDibLayout& s) { s.height = 0; });
    refused([](TDibLayout& s) { s.bitCount = 7; });
    refused([](TDibLayout& s) { s.compression = 4; });   // JPEG
    refused([](TDibLayout& s) { s.compression = 99; });  // unknown
    refused([](TDibLayout& s) { s.headerSize = 66; });
    // A data offset beyond the end of the file.
    std::vector<uint8_t> bytes = base.Build();
    bytes[10] = 0xFF;
    bytes[11] = 0xFF;
    EXPECT_THROW(Load(bytes), EInvalidGraphic);
    // Not a bitmap at all.
    EXPECT_THROW(Load(std::vector<uint8_t>(40, 'x')), EInvalidGraphic);
}

TEST(WindowsBitmapLayout, PixelLimitIsCheckedBeforeReadingData) {
    TPixelLimit limit(1000);
    TDibLayout s = Gray8(100, 11, {});  // 1100 pixels, no data at all
    EXPECT_THROW(
        {
            try {
                Load(s.Build());
            } catch (const EInvalidGraphic& e) {
                EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos);
                throw;
            }
        },
        EInvalidGraphic);
}

// ---- Writing ---------------------------------------------------------------------------------

TEST(WindowsBitmapWriter, RoundTripKeepsFormatPaletteAndPixels) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        SCOPED_TRACE(int(format));
        TBitmap src;
        src.SetPixelFormat(format);
        src.SetSize(13, 5);
        if (PixelFormatBits(format) <= 8) {
            std::vector<TRGBQuad> pal;
            for (int i = 0; i < (1 << PixelFormatBits(format)); ++i)
                pal.push_back({uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3), 0});
            src.SetPalette(pal);
        }
        const int used = PixelFormatBits(format) * 13;  // bits of a row that hold pixels
        for (int y = 0; y < 5; ++y)
            for (int i = 0; i < (used + 7) / 8; ++i) {
                uint8_t v = uint8_t(y * 31 + i * 17 + 1);
                if (i == used / 8 && used % 8) v &= uint8_t(0xFF << (8 - used % 8));
                src.ScanLine(y)[i] = v;
            }
        TMemoryStream out;
        src.SaveToStream(out);
        out.SetPosition(0);
        TBitmap back;
        back.LoadFromStream(out);
        EXPECT_EQ(back.PixelFormat(), format);
        EXPECT_EQ(back.Palette(), src.Palette());
        EXPECT_EQ(RGBA(back), RGBA(src));
    }
}
