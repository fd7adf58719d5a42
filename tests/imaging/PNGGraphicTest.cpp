// PNG loader: chunk walk and CRCs, colour types and depths, filters, Adam7, split image data,
// gamma, transparency, the failure messages, and conformance against PngSuite references.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/PNGGraphic.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void Put32BE(Bytes& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(uint8_t(x >> s));
}

Bytes Chunk(const char* type, const Bytes& data, bool badCrc = false) {
    Bytes v;
    Put32BE(v, uint32_t(data.size()));
    v.insert(v.end(), type, type + 4);
    v.insert(v.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
    Put32BE(v, uint32_t(crc) ^ (badCrc ? 1u : 0u));
    return v;
}

Bytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
           uint8_t compression = 0) {
    Bytes d;
    Put32BE(d, w);
    Put32BE(d, h);
    d.insert(d.end(), {depth, colorType, compression, 0, interlace});
    return d;
}

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), uLong(raw.size())), Z_OK);
    out.resize(size);
    return out;
}

// Bytes of one packed row of w pixels.
size_t RowBytes(uint32_t w, int depth, int channels) {
    return (size_t(w) * depth * channels + 7) / 8;
}

// Applies filter type (0..4) to a row given the previous (unfiltered) row.
Bytes FilterRow(uint8_t type, const Bytes& row, const Bytes& prev, size_t bpp) {
    Bytes out{type};
    for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = prev.empty() ? 0 : prev[i],
                  c = (i >= bpp && !prev.empty()) ? prev[i - bpp] : 0;
        int pred = 0;
        if (type == 1) pred = a;
        if (type == 2) pred = b;
        if (type == 3) pred = (a + b) / 2;
        if (type == 4) {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - c);
            pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        }
        out.push_back(uint8_t(row[i] - pred));
    }
    return out;
}

// An image as rows of packed bytes (unfiltered) plus how to write it.
struct TImage {
    uint32_t w = 0, h = 0;
    uint8_t depth = 8, colorType = 2;
    std::vector<Bytes> rows;
    int channels() const {
        return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    }
    size_t bpp() const { return std::max<size_t>(1, size_t(depth) * channels() / 8); }
};

// Copies pixel bits (any depth: sub-byte pixels bit by bit, wider ones byte by byte).
void CopyPixel(const Bytes& from, size_t fromPixel, Bytes& to, size_t toPixel, int bits) {
    if (bits >= 8) {
        const size_t n = size_t(bits) / 8;
        std::memcpy(&to[toPixel * n], &from[fromPixel * n], n);
        return;
    }
    for (int i = 0; i < bits; ++i) {
        const size_t a = fromPixel * bits + i, b = toPixel * bits + i;
        if ((from[a / 8] >> (7 - a % 8)) & 1) to[b / 8] |= uint8_t(0x80 >> (b % 8));
    }
}

// The filtered scanline stream (filter per row chosen by filterOf(rowIndex)).
Bytes Scanlines(const TImage& img, bool interlace, const std::function<uint8_t(int)>& filterOf) {
    Bytes raw;
    int rowIndex = 0;
    auto emit = [&](const std::vector<Bytes>& rows) {
        Bytes prev;
        for (const Bytes& r : rows) {
            const Bytes f = FilterRow(filterOf(rowIndex++), r, prev, img.bpp());
            raw.insert(raw.end(), f.begin(), f.end());
            prev = r;
        }
    };
    if (!interlace) {
        emit(img.rows);
        return raw;
    }
    const int pixelBits = img.depth * img.channels();
    const uint32_t starts[7][4] = {{0, 8, 0, 8}, {0, 8, 4, 8}, {4, 8, 0, 4}, {0, 4, 2, 4},
                                   {2, 4, 0, 2}, {0, 2, 1, 2}, {1, 2, 0, 1}};
    for (const auto& p : starts) {
        if (p[2] >= img.w || p[0] >= img.h) continue;
        const uint32_t pw = (img.w - p[2] + p[3] - 1) / p[3];
        std::vector<Bytes> rows;
        for (uint32_t y = p[0]; y < img.h; y += p[1]) {
            Bytes r(RowBytes(pw, img.depth, img.channels()), 0);
            for (uint32_t i = 0; i < pw; ++i)
                CopyPixel(img.rows[y], p[2] + i * p[3], r, i, pixelBits);
            rows.push_back(r);
        }
        emit(rows);
    }
    return raw;
}

struct TPngOptions {
    bool interlace = false;
    size_t idatSplit = 0;  // 0: one IDAT chunk
    std::vector<Bytes> beforeIdat;
    std::vector<Bytes> afterIdat;
    std::function<uint8_t(int)> filterOf = [](int) { return uint8_t(0); };
    const char* idatName = "IDAT";
};

Bytes MakePng(const TImage& img, const TPngOptions& o = {}) {
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes png(sig, sig + 8);
    auto add = [&](const Bytes& c) { png.insert(png.end(), c.begin(), c.end()); };
    add(Chunk("IHDR", Ihdr(img.w, img.h, img.depth, img.colorType, o.interlace ? 1 : 0)));
    for (const Bytes& c : o.beforeIdat)
        add(c);
    const Bytes z = Deflate(Scanlines(img, o.interlace, o.filterOf));
    const size_t step = o.idatSplit ? o.idatSplit : z.size();
    for (size_t i = 0; i < z.size(); i += step)
        add(Chunk(o.idatName, Bytes(z.begin() + i, z.begin() + std::min(z.size(), i + step))));
    for (const Bytes& c : o.afterIdat)
        add(c);
    add(Chunk("IEND", {}));
    return png;
}

// A w x h RGB (or other type) test pattern with some variation in every byte.
TImage Pattern(uint32_t w, uint32_t h, uint8_t colorType = 2, uint8_t depth = 8) {
    TImage img{w, h, depth, colorType, {}};
    for (uint32_t y = 0; y < h; ++y) {
        Bytes r(RowBytes(w, depth, img.channels()));
        for (size_t i = 0; i < r.size(); ++i)
            r[i] = uint8_t((i * 37 + y * 91 + (i * y) % 13) & 0xFF);
        img.rows.push_back(r);
    }
    return img;
}

void Load(TPNGGraphic& g, const Bytes& png) {
    TMemoryStream s(png.data(), int64_t(png.size()));
    g.LoadFromStream(s);
}

// Rows of the bitmap as blue, green, red, alpha.
std::vector<Bytes> Pixels(const TBitmap& b) {
    std::vector<Bytes> rows;
    for (int y = 0; y < b.Height(); ++y) {
        Bytes r(size_t(b.Width()) * 4);
        ConvertScanLineToBGRA(b, y, r.data());
        rows.push_back(r);
    }
    return rows;
}

std::string LoadError(const Bytes& png) {
    return testhelp::LoadError<TPNGGraphic>(png);
}

}  // namespace

TEST(PNGGraphic, ProbeNeedsNineBytesAndKeepsPosition) {
    Bytes sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    TMemoryStream eight(sig.data(), 8);
    EXPECT_FALSE(TPNGGraphic::ProbeStream(eight));
    sig.push_back(0);
    TMemoryStream nine(sig.data(), 9);
    EXPECT_TRUE(TPNGGraphic::ProbeStream(nine));
    EXPECT_EQ(nine.Position(), 0);
    sig[1] = 'p';
    TMemoryStream wrong(sig.data(), 9);
    EXPECT_FALSE(TPNGGraphic::ProbeStream(wrong));
}

TEST(PNGGraphic, ReadPropertiesFromHeaderAndGamma) {
    TImage img = Pattern(5, 3, 6, 16);
    TPngOptions o;
    o.interlace = true;
    Bytes gama;
    Put32BE(gama, 45455);
    o.beforeIdat = {Chunk("tEXt", {'a', 0, 'b'}), Chunk("gAMA", gama)};
    const Bytes png = MakePng(img, o);
    TPNGGraphic g;
    TMemoryStream s(png.data(), int64_t(png.size()));
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Width, 5u);
    EXPECT_EQ(p.Height, 3u);
    EXPECT_EQ(p.ColorScheme, schemeRGBA);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.BitsPerPixel, 64);
    EXPECT_EQ(p.Compression, compLZ77);
    EXPECT_TRUE(p.Interlaced);
    EXPECT_TRUE(p.HasAlpha);
    EXPECT_TRUE(p.Options & optBigEndian);
    EXPECT_FLOAT_EQ(p.Gamma, 0.45455f);
}

TEST(PNGGraphic, GrayTwoBitUsesSixteenLevelRamp) {
    TImage img{4, 1, 2, 0, {{0x1B}}};  // 0, 1, 2, 3
    TPNGGraphic g;
    Load(g, MakePng(img));
    ASSERT_EQ(g.PixelFormat(), pf4bit);
    ASSERT_EQ(g.Palette().size(), 16u);
    EXPECT_EQ(g.ScanLine(0)[0], 0x05);
    EXPECT_EQ(g.ScanLine(0)[1], 0xAF);
    EXPECT_EQ(g.Palette()[5].rgbRed, 85);
    EXPECT_EQ(g.Palette()[15].rgbGreen, 255);
}

TEST(PNGGraphic, SixteenBitSamplesAreReducedAfterSwapping) {
    TImage rgb{3,
               1,
               16,
               2,
               {{0xFF, 0xFF, 0x80, 0x80, 0x01, 0x01,  // 255, 128, 1
                 0x00, 0xFF, 0xFE, 0xFF, 0x12, 0x34,  // 0, 254, 0x1234/257
                 0, 0, 0, 0, 0, 0}}};
    TPNGGraphic g;
    Load(g, MakePng(rgb));
    ASSERT_EQ(g.PixelFormat(), pf24bit);
    const uint8_t* p = g.ScanLine(0);
    EXPECT_EQ(p[2], 255);  // red
    EXPECT_EQ(p[1], 128);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[5], 0);
    EXPECT_EQ(p[4], 0xFEFF * 255 / 65535);
    EXPECT_EQ(p[3], 0x1234 * 255 / 65535);

    TImage gray{2, 1, 16, 0, {{0x80, 0x00, 0xFF, 0xFF}}};
    Load(g, MakePng(gray));
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    EXPECT_EQ(g.ScanLine(0)[0], 0x8000 * 255 / 65535);
    EXPECT_EQ(g.ScanLine(0)[1], 255);
}

TEST(PNGGraphic, EveryColourTypeAndDepthMatchesItsBitmapFormat) {
    struct Case {
        uint8_t type, depth;
        TPixelFormat format;
        size_t palette;
    } cases[] = {{0, 1, pf1bit, 2},    {0, 2, pf4bit, 16}, {0, 4, pf4bit, 16},  {0, 8, pf8bit, 256},
                 {0, 16, pf8bit, 256}, {2, 8, pf24bit, 0}, {2, 16, pf24bit, 0}, {3, 1, pf1bit, 2},
                 {3, 2, pf4bit, 16},   {3, 4, pf4bit, 16}, {3, 8, pf8bit, 256}, {4, 8, pf8bit, 256},
                 {4, 16, pf8bit, 256}, {6, 8, pf32bit, 0}, {6, 16, pf32bit, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " depth " << int(c.depth));
        TImage img = Pattern(11, 9, c.type, c.depth);
        TPngOptions o;
        if (c.type == 3) {
            Bytes plte;
            for (int i = 0; i < (1 << c.depth); ++i)
                plte.insert(plte.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
            o.beforeIdat = {Chunk("PLTE", plte)};
        }
        TPNGGraphic plain, laced;
        Load(plain, MakePng(img, o));
        EXPECT_EQ(plain.PixelFormat(), c.format);
        if (c.palette) {
            EXPECT_EQ(plain.Palette().size(), c.palette);
        }
        // The interlaced file and one with every filter give the same pixels.
        o.interlace = true;
        o.filterOf = [](int row) { return uint8_t(row % 5); };
        Load(laced, MakePng(img, o));
        EXPECT_EQ(Pixels(laced), Pixels(plain));
        o.interlace = false;
        TPNGGraphic filtered;
        Load(filtered, MakePng(img, o));
        EXPECT_EQ(Pixels(filtered), Pixels(plain));
    }
}

TEST(PNGGraphic, RgbaKeepsAlpha) {
    TImage img{2, 1, 8, 6, {{10, 20, 30, 40, 50, 60, 70, 255}}};
    TPNGGraphic g;
    Load(g, MakePng(img));
    const Bytes expected = {30, 20, 10, 40, 70, 60, 50, 255};
    EXPECT_EQ(Pixels(g)[0], expected);
}

TEST(PNGGraphic, InterlacedOneByOneComesFromPassOne) {
    TImage img{1, 1, 8, 2, {{1, 2, 3}}};
    TPngOptions o;
    o.interlace = true;
    const Bytes png = MakePng(img, o);
    TPNGGraphic g;
    Load(g, png);
    const Bytes expected = {3, 2, 1, 255};
    EXPECT_EQ(Pixels(g)[0], expected);
}

TEST(PNGGraphic, ImageDataSplitAtAnySize) {
    const TImage img = Pattern(13, 7, 2, 8);
    TPNGGraphic whole;
    Load(whole, MakePng(img));
    for (size_t split : {1, 2, 3, 5, 64, 1000}) {
        TPngOptions o;
        o.idatSplit = split;
        TPNGGraphic g;
        Load(g, MakePng(img, o));
        EXPECT_EQ(Pixels(g), Pixels(whole)) << "split " << split;
    }
    // Empty IDAT chunks in between are allowed.
    TPngOptions o;
    o.beforeIdat = {Chunk("IDAT", {})};
    TPNGGraphic g;
    Load(g, MakePng(img, o));
    EXPECT_EQ(Pixels(g), Pixels(whole));
}

TEST(PNGGraphic, ChunkNamesAndCriticalRule) {
    const TImage img = Pattern(4, 4);
    TPNGGraphic reference;
    Load(reference, MakePng(img));

    TPngOptions lower;
    lower.idatName = "idat";
    TPNGGraphic g;
    Load(g, MakePng(img, lower));
    EXPECT_EQ(Pixels(g), Pixels(reference));

    // An unknown ancillary chunk is skipped without looking at its CRC.
    TPngOptions ancillary;
    ancillary.beforeIdat = {Chunk("vpAg", {1, 2, 3}, true)};
    ancillary.afterIdat = {Chunk("zzZZ", {}, true)};
    Load(g, MakePng(img, ancillary));
    EXPECT_EQ(Pixels(g), Pixels(reference));

    // Chunks after the image data are not read: a late tRNS has no effect, and a late
    // palette or image data chunk is refused like any unexpected critical chunk.
    TPngOptions late;
    late.afterIdat = {Chunk("tRNS", {0, 1, 0, 2, 0, 3})};
    Load(g, MakePng(img, late));
    EXPECT_EQ(Pixels(g), Pixels(reference));
    EXPECT_FALSE(g.Transparent());
    for (const char* type : {"PLTE", "IDAT"}) {
        late.afterIdat = {Chunk("tEXt", {'a'}), Chunk(type, {})};
        EXPECT_EQ(LoadError(MakePng(img, late)),
                  "Cannot load PNG image. Unexpected but critical chunk detected.");
    }

    TPngOptions critical;
    critical.beforeIdat = {Chunk("VPAG", {1})};
    EXPECT_EQ(LoadError(MakePng(img, critical)),
              "Cannot load PNG image. Unexpected but critical chunk detected.");
    // A known chunk that is read has its CRC checked.
    TPngOptions badGamma;
    badGamma.beforeIdat = {Chunk("gAMA", {0, 1, 0x86, 0xA0}, true)};
    EXPECT_EQ(LoadError(MakePng(img, badGamma)), "Cannot load image. CRC error found in PNG file.");
}

TEST(PNGGraphic, FailureMessages) {
    const TImage img = Pattern(4, 4);
    const Bytes good = MakePng(img);
    const std::string invalid = "Cannot load image. Invalid or unexpected PNG image format.";

    Bytes badSig = good;
    badSig[0] = 0x88;
    EXPECT_EQ(LoadError(badSig), invalid);
    EXPECT_EQ(LoadError(Bytes(good.begin(), good.begin() + 5)), invalid);

    Bytes zero = good;
    const Bytes ihdr = Chunk("IHDR", Ihdr(0, 4, 8, 2));
    std::copy(ihdr.begin(), ihdr.end(), zero.begin() + 8);
    EXPECT_EQ(LoadError(zero), invalid);

    Bytes noIhdr(good.begin(), good.begin() + 8);
    const Bytes text = Chunk("tEXt", {'a'});
    noIhdr.insert(noIhdr.end(), text.begin(), text.end());
    noIhdr.insert(noIhdr.end(), good.begin() + 8, good.end());
    EXPECT_EQ(LoadError(noIhdr), invalid);

    auto withIhdr = [&](const Bytes& header) {
        Bytes v = good;
        const Bytes c = Chunk("IHDR", header);
        std::copy(c.begin(), c.end(), v.begin() + 8);
        return v;
    };
    EXPECT_EQ(LoadError(withIhdr(Ihdr(0x80000000u, 1, 8, 2))), invalid);  // beyond 2^31 - 1
    EXPECT_EQ(LoadError(withIhdr(Ihdr(4, 4, 8, 2, 0, 1))),
              "Cannot load image. The compression scheme is not supported for PNG files.");
    EXPECT_EQ(LoadError(withIhdr(Ihdr(4, 4, 8, 1))), "Invalid color format in PNG file.");
    EXPECT_EQ(LoadError(withIhdr(Ihdr(4, 4, 4, 2))), "Invalid color format in PNG file.");
    EXPECT_EQ(LoadError(withIhdr(Ihdr(4, 4, 16, 3))), "Invalid color format in PNG file.");

    Bytes badCrc = good;
    badCrc[good.size() - 13] ^= 1;  // last byte of the IDAT CRC
    EXPECT_EQ(LoadError(badCrc), "Cannot load image. CRC error found in PNG file.");

    TPngOptions palette;
    palette.beforeIdat = {Chunk("PLTE", {1, 2, 3, 4})};
    EXPECT_EQ(LoadError(MakePng(img, palette)),
              "Cannot load image. Palette in PNG file is invalid.");
    // An indexed image needs its palette.
    EXPECT_EQ(LoadError(MakePng(Pattern(4, 4, 3, 8))),
              "Cannot load image. Palette in PNG file is invalid.");

    // Image data that is not a zlib stream, and a stream that ends inside a row.
    Bytes garbage(good.begin(), good.begin() + 33);
    const Bytes idat = Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
    const Bytes iend = Chunk("IEND", {});
    Bytes broken = garbage;
    broken.insert(broken.end(), idat.begin(), idat.end());
    broken.insert(broken.end(), iend.begin(), iend.end());
    EXPECT_EQ(LoadError(broken), "Cannot load image. Compression error found in PNG file.");
    Bytes shortStream = garbage;
    const Bytes few = Chunk("IDAT", Deflate({0, 1, 2, 3}));
    shortStream.insert(shortStream.end(), few.begin(), few.end());
    shortStream.insert(shortStream.end(), iend.begin(), iend.end());
    EXPECT_EQ(LoadError(shortStream),
              "Cannot load image. Extra compressed data found in PNG file.");

    // No image data at all.
    Bytes noData = garbage;
    noData.insert(noData.end(), iend.begin(), iend.end());
    EXPECT_EQ(LoadError(noData), invalid);

    // The file ends before IEND: the stream's read error.
    EXPECT_EQ(LoadError(Bytes(good.begin(), good.end() - 12)), "other: Stream read error");
    // A chunk length far beyond the file fails without allocating for it.
    Bytes huge = good;
    huge[33] = 0x7F;
    EXPECT_EQ(LoadError(huge), "other: Stream read error");
}

TEST(PNGGraphic, PixelLimitIsCheckedBeforeAllocating) {
    const uint64_t saved = TBitmap::MaxPixels();
    TBitmap::SetMaxPixels(1000);
    TImage img = Pattern(1, 1);
    Bytes png = MakePng(img);
    const Bytes ihdr = Chunk("IHDR", Ihdr(100000, 100000, 8, 2));
    std::copy(ihdr.begin(), ihdr.end(), png.begin() + 8);
    const std::string error = LoadError(png);
    TBitmap::SetMaxPixels(saved);
    EXPECT_EQ(error.rfind("other", 0), std::string::npos) << error;
    EXPECT_NE(error, "no error");
}

TEST(PNGGraphic, TruncatedImageDataShowsBackgroundBelow) {
    const TImage img = Pattern(8, 8, 2, 8);
    Bytes raw = Scanlines(img, false, [](int) { return uint8_t(0); });
    raw.resize(raw.size() / 2);  // rows 0..3 complete
    const Bytes good = MakePng(img);
    Bytes png(good.begin(), good.begin() + 33);
    const Bytes idat = Chunk("IDAT", Deflate(raw)), iend = Chunk("IEND", {});
    // A complete zlib stream of half the rows: the rows it has, white below.
    Bytes full = png;
    full.insert(full.end(), idat.begin(), idat.end());
    full.insert(full.end(), iend.begin(), iend.end());
    TPNGGraphic half;
    Load(half, full);
    EXPECT_EQ(Pixels(half)[3][2], img.rows[3][0]);
    EXPECT_EQ(Pixels(half)[4], Bytes(32, 255));

    // A stream cut short (no end) decodes what it has; the rest is the background.
    Bytes z = Deflate(Scanlines(img, false, [](int) { return uint8_t(0); }));
    z.resize(z.size() / 2);
    Bytes cut = png;
    const Bytes bkgd = Chunk("bKGD", {0, 10, 0, 20, 0, 30});
    cut.insert(cut.end(), bkgd.begin(), bkgd.end());
    const Bytes part = Chunk("IDAT", z);
    cut.insert(cut.end(), part.begin(), part.end());
    cut.insert(cut.end(), iend.begin(), iend.end());
    TPNGGraphic g;
    Load(g, cut);
    const Bytes last = Pixels(g)[7];
    EXPECT_EQ(last[0], 30);
    EXPECT_EQ(last[1], 20);
    EXPECT_EQ(last[2], 10);
    EXPECT_EQ(Pixels(g)[0][2], img.rows[0][0]);
}

TEST(PNGGraphic, GammaFromFileWithDisplayGamma) {
    const TImage img = Pattern(16, 4);
    TPNGGraphic plain;
    Load(plain, MakePng(img));

    TPngOptions o;
    Bytes g45;
    Put32BE(g45, 45455);
    o.beforeIdat = {Chunk("gAMA", g45)};
    TPNGGraphic g;
    Load(g, MakePng(img, o));
    EXPECT_TRUE(g.ImageProperties().Options & optGammaGiven);
    EXPECT_FLOAT_EQ(g.ImageProperties().Gamma, 0.45455f);
    // 1 / (0.45455 x 2.2) is practically 1: the pixels stay.
    const auto a = Pixels(g), b = Pixels(plain);
    for (size_t y = 0; y < a.size(); ++y)
        for (size_t i = 0; i < a[y].size(); ++i)
            EXPECT_NEAR(a[y][i], b[y][i], 1);

    Bytes g100;
    Put32BE(g100, 100000);
    o.beforeIdat = {Chunk("gAMA", g100)};
    Load(g, MakePng(img, o));
    const uint8_t in = img.rows[0][0];
    EXPECT_EQ(g.ScanLine(0)[2], uint8_t(std::lround(std::pow(in / 255.0, 1 / 2.2) * 255)));
    // A later file without gAMA is not corrected with the earlier file's gamma.
    Load(g, MakePng(img));
    EXPECT_EQ(Pixels(g), Pixels(plain));
}

// tRNS becomes alpha, decided on the stored samples: 0 on the key (or the palette's alpha).
TEST(PNGGraphic, TransparencyBecomesAlpha) {
    TPNGGraphic g;
    auto alphas = [&] {
        std::vector<int> a;
        if (g.PixelFormat() != pf32bit || g.TransparentColor() != clNone) return a;
        const Bytes rgba = testhelp::BitmapRGBA(g);
        for (size_t i = 3; i < rgba.size(); i += 4)
            a.push_back(rgba[i]);
        return a;
    };
    TPngOptions o;
    TImage rgb{3, 1, 8, 2, {{1, 2, 3, 1, 2, 4, 1, 2, 3}}};
    o.beforeIdat = {Chunk("tRNS", {0, 1, 0, 2, 0, 3})};
    Load(g, MakePng(rgb, o));
    EXPECT_TRUE(g.Transparent());
    EXPECT_EQ(alphas(), (std::vector<int>{0, 255, 0}));

    TImage gray{4, 1, 2, 0, {{0x1B}}};  // samples 0, 1, 2, 3
    o.beforeIdat = {Chunk("tRNS", {0, 2})};
    Load(g, MakePng(gray, o));
    EXPECT_EQ(alphas(), (std::vector<int>{255, 255, 0, 255}));

    // 16-bit samples are compared whole: 0x0102 is not the key 0x0101, though both show as 1.
    TImage deep{2, 1, 16, 0, {{1, 1, 1, 2}}};
    o.beforeIdat = {Chunk("tRNS", {1, 1})};
    Load(g, MakePng(deep, o));
    EXPECT_EQ(alphas(), (std::vector<int>{0, 255}));

    // Palette: each entry's alpha, the rest opaque.
    TImage indexed{4, 1, 2, 3, {{0x1B}}};
    const Bytes plte = Chunk("PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120});
    o.beforeIdat = {plte, Chunk("tRNS", {255, 128, 0})};
    Load(g, MakePng(indexed, o));
    EXPECT_EQ(alphas(), (std::vector<int>{255, 128, 0, 255}));

    Load(g, MakePng(rgb));
    EXPECT_FALSE(g.Transparent());
    EXPECT_NE(g.PixelFormat(), pf32bit);
}

TEST(PNGGraphic, ProgressMovesRowByRow) {
    const TImage img = Pattern(3, 4);
    TPNGGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "-" + std::to_string(r.Bottom) + "/" + msg);
    };
    Load(g, MakePng(img));
    const std::vector<std::string> expected = {"0/0/0-1/Preparing...",
                                               "2/0/0-1/",
                                               "0/0/0-1/Transfering...",
                                               "1/0/0-1/",
                                               "1/25/1-2/",
                                               "1/50/2-3/",
                                               "1/75/3-4/",
                                               "2/0/4-5/"};
    EXPECT_EQ(log, expected);
}

TEST(PNGGraphic, DecodesPngIconEntries) {
    const TImage img{2, 2, 8, 6, {{1, 2, 3, 255, 4, 5, 6, 128}, {7, 8, 9, 0, 10, 11, 12, 255}}};
    const Bytes png = MakePng(img);
    Bytes ico = {0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 32, 0};
    for (uint32_t v : {uint32_t(png.size()), 22u})
        for (int s = 0; s < 32; s += 8)
            ico.push_back(uint8_t(v >> s));
    ico.insert(ico.end(), png.begin(), png.end());
    TIcon::SetPNGEntryDecoder(&TPNGGraphic::DecodeIconEntry);
    TIcon icon;
    TMemoryStream s(ico.data(), int64_t(ico.size()));
    icon.LoadFromStream(s);
    TIcon::SetPNGEntryDecoder(nullptr);
    ASSERT_EQ(icon.Width(), 2);
    const Bytes expected = {3, 2, 1, 255, 6, 5, 4, 128};
    EXPECT_EQ(Pixels(icon)[0], expected);
}

// PngSuite: every valid file against the reference decoder's BMP, every corrupt one refused.
TEST(PNGGraphic, PngSuiteConformance) {
    const fs::path root = testdata::corpus("pngsuite");
    if (root.empty()) GTEST_SKIP() << "PngSuite corpus absent";
    int exact = 0, compared = 0, refused = 0;
    for (const auto& entry : fs::directory_iterator(root / "png")) {
        const fs::path file = entry.path();
        if (file.extension() != ".png") continue;
        const std::string name = file.stem().string();
        SCOPED_TRACE(name);
        TPNGGraphic g;
        if (name[0] == 'x') {
            EXPECT_THROW(g.LoadFromFile(file.string()), EInvalidGraphic);
            ++refused;
            continue;
        }
        ASSERT_NO_THROW(g.LoadFromFile(file.string()));
        const fs::path ref = root / "bmp" / (name + ".bmp");
        if (!fs::exists(ref)) continue;
        TBitmap reference;
        reference.LoadFromFile(ref.string());
        ASSERT_EQ(g.Width(), reference.Width());
        ASSERT_EQ(g.Height(), reference.Height());
        const auto ours = Pixels(g), theirs = Pixels(reference);
        const TImageProperties& p = g.ImageProperties();
        // The reference does not apply gAMA; our pixels follow (v / 255)^(1 / (gamma x 2.2)),
        // so the reference value is put through that curve first.
        const bool gamma = (p.Options & optGammaGiven) && std::fabs(p.Gamma * 2.2 - 1) > 0.01;
        const bool alpha = g.PixelFormat() == pf32bit;
        // Reducing 16 to 8 bits truncates here and may round in the reference.
        const int input = p.BitsPerSample == 16 ? 1 : 0;
        auto curve = [&](int v) {
            v = std::clamp(v, 0, 255);
            if (!gamma) return v;
            return int(std::lround(std::pow(v / 255.0, 1.0 / (double(p.Gamma) * 2.2)) * 255));
        };
        int worst = 0;
        for (int y = 0; y < g.Height(); ++y)
            for (int x = 0; x < g.Width(); ++x) {
                const uint8_t* a = &ours[size_t(y)][size_t(x) * 4];
                const uint8_t* b = &theirs[size_t(y)][size_t(x) * 4];
                if (alpha) worst = std::max(worst, std::abs(int(a[3]) - int(b[3])) - input);
                if (b[3] == 0) {
                    // Fully transparent: the reference's colour is arbitrary. Without an
                    // alpha channel (tRNS) our pixel must be transparent too.
                    if (!p.HasAlpha) {
                        EXPECT_TRUE(g.Transparent());
                        EXPECT_EQ(a[3], 0) << x << "," << y;
                    }
                    continue;
                }
                for (int c = 0; c < 3; ++c) {
                    const int lo = curve(b[c] - input) - (gamma ? 1 : 0);
                    const int hi = curve(b[c] + input) + (gamma ? 1 : 0);
                    worst = std::max(worst, std::max(lo - int(a[c]), int(a[c]) - hi));
                }
            }
        EXPECT_LE(worst, 0);
        ++compared;
        if (!gamma && input == 0 && worst == 0) ++exact;
    }
    EXPECT_EQ(refused, 14);
    EXPECT_GE(compared, 150);
    RecordProperty("exact", exact);
}

TEST(PNGGraphic, PillowPngsLoadOrFailCleanly) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    int loaded = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".png") continue;
        TPNGGraphic g;
        try {
            g.LoadFromFile(entry.path().string());
            Pixels(g);
            ++loaded;
        } catch (const EImagingError&) {
        }
    }
    EXPECT_GT(loaded, 0);
}

namespace {

// The outcome of one load: the error text ("no error" when it loaded) and the pixels shown.
struct TOutcome {
    std::string error;
    std::vector<Bytes> pixels;
    bool operator==(const TOutcome&) const = default;
};

TOutcome LoadOutcome(const Bytes& png) {
    TOutcome outcome{"no error", {}};
    TPNGGraphic g;
    try {
        Load(g, png);
    } catch (const EImagingError& e) {
        outcome.error = e.what();
    }
    outcome.pixels = Pixels(g);
    return outcome;
}

// Sets how much image data is inflated in one piece for the loads of one scope.
struct TWholeInflateLimit {
    uint64_t saved = TPNGGraphic::WholeInflateLimit();
    explicit TWholeInflateLimit(uint64_t bytes) { TPNGGraphic::SetWholeInflateLimit(bytes); }
    ~TWholeInflateLimit() { TPNGGraphic::SetWholeInflateLimit(saved); }
};

TOutcome LoadRowByRow(const Bytes& png) {
    TWholeInflateLimit rows(0);
    return LoadOutcome(png);
}

TOutcome LoadWhole(const Bytes& png) {
    TWholeInflateLimit whole(uint64_t(1) << 30);
    return LoadOutcome(png);
}

// Rows whose neighbouring samples are often equal, so that the Paeth predictor meets ties.
TImage FlatPattern(uint32_t w, uint32_t h, uint8_t colorType, uint8_t depth) {
    TImage img = Pattern(w, h, colorType, depth);
    for (uint32_t y = 0; y < h; ++y)
        for (size_t i = 0; i < img.rows[y].size(); ++i)
            img.rows[y][i] = uint8_t(((i / 5 + y / 3) % 3) * 120 + (i % 2) * 7);
    return img;
}

// The blue-green-red-alpha pixel that 8- and 16-bit RGB and RGBA rows give (16-bit samples are
// reduced to 8 bits by dividing by 257).
Bytes ExpectedRow(const TImage& img, uint32_t y) {
    const size_t sampleBytes = img.depth / 8, channels = size_t(img.channels());
    Bytes out;
    for (uint32_t x = 0; x < img.w; ++x) {
        uint8_t c[4] = {0, 0, 0, 255};
        for (size_t k = 0; k < channels; ++k) {
            const uint8_t* s = &img.rows[y][(x * channels + k) * sampleBytes];
            c[k] = sampleBytes == 1 ? s[0] : uint8_t(((s[0] << 8) | s[1]) / 257);
        }
        out.insert(out.end(), {c[2], c[1], c[0], c[3]});
    }
    return out;
}

}  // namespace

// Every filter type on 3, 4, 6 and 8 bytes a pixel, plain and interlaced: the rows come out as
// they went in, whether the image data is inflated in one piece or row by row.
TEST(PNGGraphic, FiltersGiveTheSamePixelsInflatedWholeOrByRow) {
    struct TCase {
        uint8_t colorType, depth;
        bool interlace, flat;
    };
    const TCase cases[] = {{2, 8, false, false},  {2, 8, false, true},  {2, 8, true, false},
                           {6, 8, false, false},  {6, 8, false, true},  {6, 8, true, true},
                           {2, 16, false, false}, {2, 16, false, true}, {2, 16, true, false},
                           {6, 16, false, true},  {6, 16, true, false}};
    for (const TCase& c : cases) {
        for (int filter = 0; filter <= 5; ++filter) {  // 5: each row a different filter
            SCOPED_TRACE(testing::Message() << "type " << int(c.colorType) << " depth "
                                            << int(c.depth) << " interlace " << c.interlace
                                            << " flat " << c.flat << " filter " << filter);
            const TImage img = c.flat ? FlatPattern(13, 11, c.colorType, c.depth)
                                      : Pattern(13, 11, c.colorType, c.depth);
            TPngOptions o;
            o.interlace = c.interlace;
            o.idatSplit = 37;
            o.filterOf = [filter](int row) { return uint8_t(filter < 5 ? filter : row % 5); };
            const Bytes png = MakePng(img, o);
            const TOutcome whole = LoadWhole(png);
            ASSERT_EQ(whole.error, "no error");
            ASSERT_EQ(whole.pixels.size(), size_t(img.h));
            for (uint32_t y = 0; y < img.h; ++y)
                ASSERT_EQ(whole.pixels[y], ExpectedRow(img, y)) << "row " << y;
            EXPECT_EQ(LoadRowByRow(png), whole);
        }
    }
}

// Damaged image data is taken row by row, so what shows and what is reported stay as they
// were: a stream cut short, a bad CRC in a later chunk, data after the stream's end, a stream
// longer than the image, a bad checksum, a small window, a truncated file, megabytes of data
// after a small image's stream.
TEST(PNGGraphic, DamagedImageDataLoadsAsRowByRow) {
    const TImage img = Pattern(16, 12, 2, 8);
    const Bytes raw = Scanlines(img, false, [](int row) { return uint8_t(row % 5); });
    const Bytes z = Deflate(raw);
    Bytes head = MakePng(img);
    head.resize(33);  // signature and IHDR
    const Bytes iend = Chunk("IEND", {});
    auto file = [&](const std::vector<Bytes>& chunks) {
        Bytes png = head;
        for (const Bytes& c : chunks)
            png.insert(png.end(), c.begin(), c.end());
        return png;
    };
    auto part = [&](const Bytes& data, size_t from, size_t to) {
        return Bytes(data.begin() + from, data.begin() + std::min(to, data.size()));
    };
    Bytes badAdler = z;
    badAdler.back() ^= 1;
    Bytes longer = raw;
    longer.insert(longer.end(), 100, 0);
    Bytes small(compressBound(uLong(raw.size())));
    {
        z_stream s{};
        ASSERT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 9, 8, Z_DEFAULT_STRATEGY), Z_OK);
        s.next_in = const_cast<Bytes::value_type*>(raw.data());
        s.avail_in = uInt(raw.size());
        s.next_out = small.data();
        s.avail_out = uInt(small.size());
        ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
        small.resize(s.total_out);
        deflateEnd(&s);
    }
    const Bytes good = file({Chunk("IDAT", z), iend});
    Bytes truncatedFile = good;
    truncatedFile.resize(good.size() - iend.size() - 3);

    const std::vector<std::pair<const char*, Bytes>> damaged = {
        {"cut stream", file({Chunk("IDAT", part(z, 0, z.size() / 2)), iend})},
        {"bad CRC later",
         file({Chunk("IDAT", part(z, 0, 20)), Chunk("IDAT", part(z, 20, z.size()), true), iend})},
        {"after the end", file({Chunk("IDAT", z), Chunk("IDAT", {1, 2, 3}), iend})},
        {"longer stream", file({Chunk("IDAT", Deflate(longer)), iend})},
        {"bad checksum", file({Chunk("IDAT", badAdler), iend})},
        {"small window", file({Chunk("IDAT", small), iend})},
        {"file cut in the data", truncatedFile},
        {"no chunk after the data", file({Chunk("IDAT", z)})},
        {"far more data than the rows",
         file({Chunk("IDAT", z), Chunk("IDAT", Bytes(size_t(3) << 20, 0)), iend})},
    };
    const TOutcome reference = LoadOutcome(good);
    EXPECT_EQ(reference.error, "no error");
    for (const auto& [name, png] : damaged) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LoadWhole(png), LoadRowByRow(png));
    }
}

// Data after the image, inside the zlib stream or after its end, in the last image data chunk or
// in chunks of its own: libpng warns, pngtopam, ImageMagick and browsers show the picture, and so
// does the loader, inflating in one piece or row by row.
TEST(PNGGraphic, DataAfterTheImageIsPassedOver) {
    for (const bool interlace : {false, true}) {
        const TImage img = Pattern(13, 9);
        const Bytes raw = Scanlines(img, interlace, [](int row) { return uint8_t(row % 5); });
        TPngOptions plain;
        plain.interlace = interlace;
        const Bytes good = MakePng(img, plain);
        Bytes head = good;
        head.resize(33);  // signature and IHDR
        auto file = [&](const std::vector<Bytes>& data) {
            Bytes png = head;
            for (const Bytes& d : data) {
                const Bytes c = Chunk("IDAT", d);
                png.insert(png.end(), c.begin(), c.end());
            }
            const Bytes iend = Chunk("IEND", {});
            png.insert(png.end(), iend.begin(), iend.end());
            return png;
        };
        auto plus = [](Bytes a, const Bytes& b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        };
        const Bytes z = Deflate(raw);
        const Bytes longer = Deflate(plus(raw, Bytes(300, 7)));
        const std::vector<std::pair<const char*, Bytes>> cases = {
            {"one byte after the stream", file({plus(z, {0})})},
            {"bytes after the stream", file({plus(z, {'g', 'a', 'r', 'b', 'a', 'g', 'e'})})},
            {"a second stream after it", file({plus(z, Deflate(Bytes(50, 1)))})},
            {"after the stream, split over chunks",
             file(
                 {Bytes(z.begin(), z.begin() + 20), plus(Bytes(z.begin() + 20, z.end()), {1, 2})})},
            {"the stream inflates to more than the rows", file({longer})},
            {"another image data chunk", file({z, {1, 2, 3}})},
        };
        const TOutcome expected = LoadOutcome(good);
        ASSERT_EQ(expected.error, "no error");
        for (const auto& [name, png] : cases) {
            SCOPED_TRACE(std::string(name) + (interlace ? ", interlaced" : ""));
            for (const TOutcome& outcome : {LoadWhole(png), LoadRowByRow(png)}) {
                EXPECT_EQ(outcome.error, "no error");
                EXPECT_TRUE(outcome.pixels == expected.pixels);
            }
        }
    }
}

// While a picture loads, the rows not yet decoded are blank, whether the image data was
// inflated in one piece or (damaged) row by row: the compressed bytes may wait in the bitmap.
TEST(PNGGraphic, RowsNotYetDecodedStayBlankWhileLoading) {
    const TImage img = Pattern(32, 24);
    const Bytes z = Deflate(Scanlines(img, false, [](int) { return uint8_t(1); }));
    Bytes head = MakePng(img);
    head.resize(33);  // signature and IHDR
    const Bytes iend = Chunk("IEND", {});
    const std::vector<std::pair<const char*, std::vector<Bytes>>> files = {
        {"whole", {Chunk("IDAT", z), iend}},
        {"bad CRC later",
         {Chunk("IDAT", Bytes(z.begin(), z.begin() + 40)),
          Chunk("IDAT", Bytes(z.begin() + 40, z.end()), true), iend}},
    };
    for (const auto& [name, chunks] : files) {
        SCOPED_TRACE(name);
        Bytes png = head;
        for (const Bytes& c : chunks)
            png.insert(png.end(), c.begin(), c.end());
        TWholeInflateLimit whole(uint64_t(1) << 30);
        TPNGGraphic g;
        int checked = 0;
        g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect& r,
                           const std::string&) {
            if (stage != psRunning || r.Top != 0 || checked++ > 0) return;
            for (int y = 1; y < g.Height(); ++y) {
                const uint8_t* row = g.ScanLine(y);
                ASSERT_TRUE(std::all_of(row, row + g.RowStride(), [](uint8_t b) { return b == 0; }))
                    << "row " << y;
            }
        };
        try {
            Load(g, png);
        } catch (const EImagingError&) {
        }
        EXPECT_EQ(checked, 1);
    }
}

// Rows of 3- and 4-byte pixels with red and blue exchanged, in place or into another row, for
// lengths around the widths the fast paths work in.
TEST(ScanLineConversion, SwapRedBlueMatchesBytewiseSwap) {
    for (size_t count : {0, 1, 4, 5, 6, 7, 11, 16, 17, 31, 64, 333}) {
        SCOPED_TRACE(count);
        Bytes three(3 * count), four(4 * count);
        for (size_t i = 0; i < three.size(); ++i)
            three[i] = uint8_t(i * 7 + 3);
        for (size_t i = 0; i < four.size(); ++i)
            four[i] = uint8_t(i * 11 + 5);
        Bytes swapped3 = three, swapped4 = four, dropped(3 * count);
        for (size_t i = 0; i < count; ++i) {
            std::swap(swapped3[3 * i], swapped3[3 * i + 2]);
            std::swap(swapped4[4 * i], swapped4[4 * i + 2]);
            dropped[3 * i] = four[4 * i + 2];
            dropped[3 * i + 1] = four[4 * i + 1];
            dropped[3 * i + 2] = four[4 * i];
        }
        // One guard byte behind each target shows a write past its end.
        Bytes out3(3 * count + 1, 0xA5), out4(4 * count + 1, 0xA5), out43(3 * count + 1, 0xA5);
        SwapRedBlue24(three.data(), out3.data(), count);
        SwapRedBlue32(four.data(), out4.data(), count);
        SwapRedBlue32To24(four.data(), out43.data(), count);
        EXPECT_EQ(Bytes(out3.begin(), out3.end() - 1), swapped3);
        EXPECT_EQ(Bytes(out4.begin(), out4.end() - 1), swapped4);
        EXPECT_EQ(Bytes(out43.begin(), out43.end() - 1), dropped);
        EXPECT_EQ(out3.back(), 0xA5);
        EXPECT_EQ(out4.back(), 0xA5);
        EXPECT_EQ(out43.back(), 0xA5);
        Bytes inPlace3 = three, inPlace4 = four;
        SwapRedBlue24(inPlace3.data(), inPlace3.data(), count);
        SwapRedBlue32(inPlace4.data(), inPlace4.data(), count);
        EXPECT_EQ(inPlace3, swapped3);
        EXPECT_EQ(inPlace4, swapped4);
    }
}
