// Targa loader and writer: the probe, every image type and pixel size from files built here
// (both row orders, run-length packets across rows, short colour maps), the failure paths,
// progress, saving and reading back, and conformance against reference PNGs and ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/PillowReference.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/PNGGraphic.h"
#include "imaging/formats/TargaGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

struct TTga {
    uint8_t imageType = 2;
    uint8_t pixelSize = 24;
    uint8_t mapType = 0;
    uint8_t mapEntrySize = 0;
    uint16_t width = 0, height = 0;
    bool topDown = false;
    Bytes id;
    Bytes map;                // raw colour map bytes
    uint16_t mapLength = 0;   // entries announced
    std::vector<Bytes> rows;  // pixel rows in file order
};

uint32_t PixelBytes(uint8_t bits) {
    return (bits + 7u) / 8u;
}

// Run-length packets of one stretch of pixels: runs of equal pixels as run packets, the rest
// as raw packets of at most 128 pixels.
Bytes Pack(const Bytes& pixels, uint32_t p) {
    Bytes out;
    const size_t n = pixels.size() / p;
    auto same = [&](size_t a, size_t b) {
        return std::equal(pixels.begin() + long(a * p), pixels.begin() + long(a * p + p),
                          pixels.begin() + long(b * p));
    };
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run))
            ++run;
        if (run > 1) {
            out.push_back(uint8_t(127 + run));
            out.insert(out.end(), pixels.begin() + long(i * p), pixels.begin() + long(i * p + p));
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1)))
            ++raw;
        out.push_back(uint8_t(raw - 1));
        out.insert(out.end(), pixels.begin() + long(i * p), pixels.begin() + long((i + raw) * p));
        i += raw;
    }
    return out;
}

// The file; run-length types pack row by row, or the whole image at once (packets then run
// across rows) when acrossRows is set.
Bytes Build(const TTga& t, bool acrossRows = false) {
    Bytes v{uint8_t(t.id.size()), t.mapType, t.imageType};
    Put16LE(v, 0);
    Put16LE(v, t.mapLength);
    v.push_back(t.mapEntrySize);
    Put16LE(v, 0);
    Put16LE(v, 0);
    Put16LE(v, t.width);
    Put16LE(v, t.height);
    v.push_back(t.pixelSize);
    v.push_back(t.topDown ? 0x20 : 0);
    PutBytes(v, t.id);
    PutBytes(v, t.map);
    const bool rle = t.imageType >= 9;
    Bytes all;
    for (const Bytes& r : t.rows) {
        if (!rle)
            PutBytes(v, r);
        else if (acrossRows)
            PutBytes(all, r);
        else
            PutBytes(v, Pack(r, PixelBytes(t.pixelSize)));
    }
    if (rle && acrossRows) PutBytes(v, Pack(all, PixelBytes(t.pixelSize)));
    return v;
}

// Pixel (x, y) of row data in the file's layout, as RGBA, for the given palette (RGBA entries).
struct TExpect {
    const TTga& t;
    std::vector<Bytes> palette;

    Bytes Pixel(const Bytes& row, size_t x) const {
        const uint32_t p = PixelBytes(t.pixelSize);
        const uint8_t* s = row.data() + x * p;
        auto five = [](uint32_t v) { return uint8_t((v << 3) | (v >> 2)); };
        if (t.pixelSize == 8) {
            if (t.imageType == 3 || t.imageType == 11) return {s[0], s[0], s[0], 255};
            return s[0] < palette.size() ? palette[s[0]] : Bytes{0, 0, 0, 255};
        }
        if (p == 2) {
            if (t.imageType == 3 || t.imageType == 11) return {s[0], s[0], s[0], 255};
            const uint32_t v = s[0] | s[1] << 8;
            return {five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31), 255};
        }
        return {s[2], s[1], s[0], uint8_t(p == 4 ? s[3] : 255)};
    }
};

Bytes Pattern(uint32_t w, uint32_t h, uint32_t p, uint32_t y) {
    Bytes r(size_t(w) * p);
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = uint8_t(((i / p) / 3 * 7 + (i % p) * 50 + y * 29) & 0xFF);
    (void)h;
    return r;
}

// Compares the loaded bitmap with what the rows and palette stand for.
void ExpectPixels(const TBitmap& b, const TTga& t, const std::vector<Bytes>& palette) {
    ASSERT_EQ(b.Width(), t.width);
    ASSERT_EQ(b.Height(), t.height);
    const Bytes rgba = BitmapRGBA(b);
    const TExpect e{t, palette};
    for (uint32_t i = 0; i < t.height; ++i) {
        const uint32_t y = t.topDown ? i : t.height - 1 - i;
        for (uint32_t x = 0; x < t.width; ++x) {
            const Bytes want = e.Pixel(t.rows[i], x);
            const Bytes got(rgba.begin() + long((size_t(y) * t.width + x) * 4),
                            rgba.begin() + long((size_t(y) * t.width + x) * 4 + 4));
            ASSERT_EQ(got, want) << "row " << i << " x " << x;
        }
    }
}

Bytes Header(uint8_t mapType, uint8_t imageType, uint8_t entrySize, uint8_t pixelSize,
             uint16_t w = 1, uint16_t h = 1) {
    TTga t;
    t.mapType = mapType;
    t.imageType = imageType;
    t.mapEntrySize = entrySize;
    t.pixelSize = pixelSize;
    t.width = w;
    t.height = h;
    return Build(t);
}

}  // namespace

TEST(TargaGraphic, ProbeChecksHeaderFieldsAndKeepsPosition) {
    struct {
        Bytes header;
        bool expected;
    } cases[] = {
        {Header(0, 2, 24, 24), true},
        {Header(1, 1, 15, 8), true},
        {Header(0, 11, 32, 8), true},
        {Header(0, 2, 0, 24), false},  // entry size checked also without a map
        {Header(2, 2, 24, 24), false},
        {Header(0, 4, 24, 24), false},
        {Header(0, 12, 24, 24), false},
        {Header(0, 2, 24, 12), false},
        {Header(0, 0, 16, 16), true},
    };
    for (auto& c : cases) {
        Bytes file = {7, 7};
        PutBytes(file, c.header);
        file.push_back(0);  // more than 18 bytes must remain
        TMemoryStream s(file.data(), int64_t(file.size()));
        s.SetPosition(2);
        EXPECT_EQ(TTargaGraphic::ProbeStream(s), c.expected);
        EXPECT_EQ(s.Position(), 2);
    }
    const Bytes exact = Header(0, 2, 24, 24);  // exactly 18 bytes: too short
    TMemoryStream s(exact.data(), int64_t(exact.size()));
    EXPECT_FALSE(TTargaGraphic::ProbeStream(s));
}

TEST(TargaGraphic, PropertiesFollowPixelSize) {
    struct {
        uint8_t type, size;
        TColorSchemeKind scheme;
        uint8_t bits, samples;
    } cases[] = {
        {3, 8, schemeGray, 8, 1},   {11, 8, schemeGray, 8, 1},    {1, 8, schemeIndexed, 8, 1},
        {2, 15, schemeRGB, 5, 3},   {10, 16, schemeRGB, 5, 3},    {2, 24, schemeRGB, 8, 3},
        {10, 32, schemeRGBA, 8, 4}, {2, 12, schemeUnknown, 8, 0}, {3, 16, schemeGrayAlpha, 8, 2}};
    for (auto& c : cases) {
        const Bytes h = Header(0, c.type, 0, c.size, 300, 200);
        TMemoryStream s(h.data(), int64_t(h.size()));
        TTargaGraphic g;
        EXPECT_TRUE(g.ReadProperties(s, 0));
        const TImageProperties& p = g.ImageProperties();
        EXPECT_EQ(p.ColorScheme, c.scheme) << int(c.size);
        EXPECT_EQ(p.BitsPerSample, c.bits);
        EXPECT_EQ(p.SamplesPerPixel, c.samples);
        EXPECT_EQ(p.BitsPerPixel, c.bits * c.samples);
        EXPECT_EQ(p.Width, 300u);
        EXPECT_EQ(p.Height, 200u);
        EXPECT_EQ(p.Compression, c.type >= 9 ? compRLE : compNone);
    }
}

// Every image type and pixel size, both row orders, colour maps of every entry size and of
// fewer than 256 entries, an image ID, and packets that run from one row into the next.
TEST(TargaGraphic, EveryTypeAndPixelSizeDecodes) {
    struct TCase {
        uint8_t type, size, mapEntry;
        uint16_t mapLength;
        TPixelFormat format;
    } cases[] = {
        {1, 8, 24, 256, pf8bit}, {9, 8, 24, 7, pf8bit},   {1, 8, 32, 20, pf8bit},
        {9, 8, 15, 256, pf8bit}, {1, 8, 16, 300, pf8bit}, {2, 15, 0, 0, pf15bit},
        {10, 16, 0, 0, pf15bit}, {2, 24, 0, 0, pf24bit},  {10, 24, 0, 0, pf24bit},
        {2, 32, 0, 0, pf32bit},  {10, 32, 0, 0, pf32bit}, {3, 8, 0, 0, pf8bit},
        {11, 8, 24, 4, pf8bit},  {3, 16, 0, 0, pf8bit},   {11, 16, 0, 0, pf8bit},
    };
    for (const TCase& c : cases)
        for (int order = 0; order < 2; ++order)
            for (int across = 0; across < 2; ++across) {
                SCOPED_TRACE("type " + std::to_string(c.type) + " size " + std::to_string(c.size) +
                             " map " + std::to_string(c.mapEntry) + " topDown " +
                             std::to_string(order) + " across " + std::to_string(across));
                TTga t;
                t.imageType = c.type;
                t.pixelSize = c.size;
                t.width = 37;
                t.height = 5;
                t.topDown = order == 1;
                t.id = {'i', 'd'};
                std::vector<Bytes> palette;
                if (c.mapEntry) {
                    t.mapType = 1;
                    t.mapEntrySize = c.mapEntry;
                    t.mapLength = c.mapLength;
                    const uint32_t eb = PixelBytes(c.mapEntry);
                    for (uint32_t i = 0; i < c.mapLength; ++i) {
                        const uint8_t r = uint8_t(i * 3), g = uint8_t(255 - i), b = uint8_t(i * 7);
                        if (eb == 2) {
                            const uint32_t v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3) | 0x8000;
                            Put16LE(t.map, v);
                            // 5 bits widened by repeating the top bits (31 gives 255).
                            const auto wide = [](uint8_t c) {
                                return uint8_t((c & 0xF8) | c >> 5);
                            };
                            palette.push_back({wide(r), wide(g), wide(b), 255});
                        } else {
                            PutBytes(t.map, {b, g, r});
                            if (eb == 4) t.map.push_back(0x55);
                            palette.push_back({r, g, b, 255});
                        }
                    }
                    if (palette.size() > 256) palette.resize(256);
                }
                for (uint32_t y = 0; y < t.height; ++y)
                    t.rows.push_back(Pattern(t.width, t.height, PixelBytes(c.size), y));
                // Runs long enough to cross the end of the rows.
                if (c.type >= 9)
                    for (uint32_t y = 0; y + 1 < t.height; y += 2) {
                        std::fill(t.rows[y].end() - long(PixelBytes(c.size)) * 5, t.rows[y].end(),
                                  0x42);
                        std::fill(t.rows[y + 1].begin(),
                                  t.rows[y + 1].begin() + long(PixelBytes(c.size)) * 6, 0x42);
                    }
                TTargaGraphic g;
                LoadBytes(g, Build(t, across == 1));
                EXPECT_EQ(g.PixelFormat(), c.format);
                if (c.type == 3 || c.type == 11) {
                    EXPECT_EQ(g.Palette().size(), 256u);
                }
                ExpectPixels(g, t, palette);
            }
}

TEST(TargaGraphic, BadAndShortInputFailsCleanly) {
    TTga t;
    t.imageType = 10;
    t.pixelSize = 24;
    t.width = 9;
    t.height = 4;
    for (uint32_t y = 0; y < t.height; ++y)
        t.rows.push_back(Pattern(t.width, t.height, 3, y));
    const Bytes rle = Build(t);
    t.imageType = 2;
    const Bytes raw = Build(t);

    // Run-length data that ends early decodes what is there; a short uncompressed row or a
    // short header fails with the stream's error.
    for (size_t n = 0; n < rle.size(); ++n) {
        const Bytes cut(rle.begin(), rle.begin() + long(n));
        const std::string e = LoadError<TTargaGraphic>(cut);
        EXPECT_EQ(e, n < 18 ? "other: Stream read error" : "no error") << n;
    }
    for (size_t n = 18; n < raw.size(); ++n)
        EXPECT_EQ(LoadError<TTargaGraphic>(Bytes(raw.begin(), raw.begin() + long(n))),
                  "other: Stream read error");
    // The start of a row whose data ended stays black: the rest of the image is zero.
    {
        TTargaGraphic g;
        LoadBytes(g, Bytes(rle.begin(), rle.begin() + 18 + 10));
        EXPECT_EQ(BitmapRGBA(g)[0], 0);
    }

    // Zero sizes are refused; sizes above the pixel limit before anything is allocated; an
    // unknown pixel size is not a colour layout.
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(0, 2, 0, 24, 0, 5)),
              "Cannot load image. Invalid or unexpected Targa image format.");
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(0, 2, 0, 24, 5, 0)),
              "Cannot load image. Invalid or unexpected Targa image format.");
    {
        TPixelLimit limit(1000);
        EXPECT_EQ(LoadError<TTargaGraphic>(Header(0, 2, 0, 24, 1000, 2)).substr(0, 6), "Image ");
    }
    EXPECT_NE(LoadError<TTargaGraphic>(Header(0, 2, 0, 12, 2, 2)), "no error");

    // A colour map longer than the file fails before it is allocated.
    Bytes map = Header(1, 1, 24, 8, 2, 2);
    map[5] = 0xFF;
    map[6] = 0xFF;
    EXPECT_EQ(LoadError<TTargaGraphic>(map), "other: Stream read error");

    // Type 0 holds no pixels: the picture is black.
    TTargaGraphic g;
    LoadBytes(g, Header(0, 0, 0, 24, 3, 2));
    EXPECT_EQ(g.Width(), 3);
    Bytes black;
    for (int i = 0; i < 6; ++i)
        PutBytes(black, {0, 0, 0, 255});
    EXPECT_EQ(BitmapRGBA(g), black);
}

TEST(TargaGraphic, LoadFromPositionAndStreamEndsAfterLastPacket) {
    TTga t;
    t.imageType = 9;
    t.pixelSize = 8;
    t.width = 4;
    t.height = 2;
    t.rows = {{1, 1, 1, 1}, {2, 3, 4, 5}};
    Bytes file = {9, 9, 9};
    PutBytes(file, Build(t));
    const size_t end = file.size();
    file.insert(file.end(), 40, 0xEE);  // whatever follows the image
    TMemoryStream s(file.data(), int64_t(file.size()));
    s.SetPosition(3);
    TTargaGraphic g;
    g.LoadFromStream(s);
    EXPECT_EQ(s.Position(), int64_t(end));
    EXPECT_EQ(g.Width(), 4);
}

TEST(TargaGraphic, ProgressMovesRowByRow) {
    TTga t;
    t.width = 2;
    t.height = 4;
    for (uint32_t y = 0; y < t.height; ++y)
        t.rows.push_back(Pattern(t.width, t.height, 3, y));
    TTargaGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    LoadBytes(g, Build(t));
    const std::vector<std::string> expected = {"0/0/0/Preparing...",
                                               "0/0/0/Transfering...",
                                               "1/0/0/",
                                               "1/25/1/",
                                               "1/50/2/",
                                               "1/75/3/",
                                               "2/0/4/"};
    EXPECT_EQ(log, expected);
    log.clear();
    const Bytes file = Build(t);
    EXPECT_THROW(LoadBytes(g, Bytes(file.begin(), file.end() - 1)), EReadError);
    EXPECT_EQ(log.back(), "2/0/3/");  // the ending stage also after a failure
}

// Saving writes the header the loader expects; every pixel format reads back unchanged (1-
// and 4-bit as 8-bit indices, 16-bit 5-6-5 as 15-bit with green cut to 5 bits).
TEST(TargaGraphic, SavedFilesReadBack) {
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
        for (bool compressed : {true, false}) {
            SCOPED_TRACE(std::to_string(int(format)) + (compressed ? " rle" : " raw"));
            TTargaGraphic source;
            source.SetPixelFormat(format);
            if (format <= pf8bit) {
                TPaletteEntries pal(format == pf1bit ? 2 : format == pf4bit ? 16 : 256);
                for (size_t i = 0; i < pal.size(); ++i)
                    pal[i] = TRGBQuad{uint8_t(i * 5), uint8_t(i), uint8_t(255 - i), 0};
                source.SetPalette(pal);
            }
            source.SetSize(150, 3);
            for (int y = 0; y < 3; ++y) {
                uint8_t* row = source.ScanLine(y);
                for (int i = 0; i < source.RowStride(); ++i)
                    row[i] = uint8_t(i < 60 ? 0x33 : i * 7 + y);  // runs and raw stretches
            }
            TMemoryStream out;
            source.SaveToStream(out, compressed);
            const Bytes file(out.Memory(), out.Memory() + out.Size());
            ASSERT_GE(file.size(), 18u);
            EXPECT_EQ(file[2], (compressed ? 8 : 0) + (format <= pf8bit ? 1 : 2));
            EXPECT_EQ(file[17], 0x20);
            TTargaGraphic back;
            LoadBytes(back, file);
            if (format == pf16bit) {
                const Bytes a = BitmapRGBA(source), b = BitmapRGBA(back);
                for (size_t i = 0; i < a.size(); ++i)
                    ASSERT_LE(std::abs(int(a[i]) - int(b[i])), 4) << i;
            } else {
                EXPECT_EQ(BitmapRGBA(back), BitmapRGBA(source));
            }
        }
    TTargaGraphic empty;
    TMemoryStream out;
    empty.SaveToStream(out);
    EXPECT_EQ(out.Size(), 0);
}

// Our files read by ImageMagick, and ImageMagick's files read by us: both row orders, every
// type ImageMagick writes.
TEST(TargaGraphic, ImageMagickAgrees) {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick convert missing";
    const fs::path dir = fs::temp_directory_path() / "velkaro_tga_im";
    fs::create_directories(dir);
    // A picture of our own pixels: 64 x 40 RGBA with runs and noise.
    TTargaGraphic source;
    source.SetPixelFormat(pf32bit);
    source.SetSize(64, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = source.ScanLine(y) + 4 * x;
            const bool run = x < 20;
            p[0] = uint8_t(run ? 10 : x * 4);
            p[1] = uint8_t(run ? 200 : y * 6);
            p[2] = uint8_t(run ? 90 : (x * y) & 0xFF);
            p[3] = uint8_t(255 - y);
        }
    const fs::path ours = dir / "ours.tga";
    source.SaveToFile(ours.string());
    bool ok = false;
    const Bytes pam = RunCommand(
        "convert " + ShellQuote(ours.string()) + " -auto-orient -depth 8 PAM:- 2>/dev/null", ok);
    ASSERT_TRUE(ok);
    const TPnm ref = ParsePnm(pam);
    ASSERT_TRUE(ref.valid);
    const Bytes rgba = BitmapRGBA(source);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(ref.Sample(x, y, c), rgba[(size_t(y) * 64 + x) * 4 + c]) << x << "," << y;

    // ImageMagick's own files: true colour, grey, palette (not 256 colours), 15-bit, RLE or not,
    // bottom-up and top-down.
    const std::string image = ShellQuote((dir / "src.pam").string());
    RunCommand("convert " + ShellQuote(ours.string()) + " " + image + " 2>/dev/null", ok);
    ASSERT_TRUE(fs::exists(dir / "src.pam"));
    const std::vector<std::string> variants = {
        "-type TrueColor", "-type TrueColorAlpha", "-type Grayscale", "-colors 13 -type Palette",
        "-depth 5 -define tga:bits-per-pixel=16 -type TrueColor"};
    int checked = 0;
    for (const std::string& v : variants)
        for (int rle = 0; rle < 2; ++rle) {
            // Run-length files bottom-up, uncompressed ones top-down (and the other way round
            // for the palette variant).
            const char* compress = rle ? "-compress RLE" : "-compress None";
            const bool flip = v.find("Palette") != std::string::npos;
            const char* orient = (rle != 0) != flip ? "-orient bottom-left" : "-orient top-left";
            {
                const std::string tga = (dir / "im.tga").string();
                RunCommand("convert " + image + " " + v + " " + std::string(compress) + " " +
                               orient + " " + ShellQuote(tga) + " && echo made",
                           ok);
                bool ok2 = false;
                const TPnm want =
                    ParsePnm(RunCommand("convert " + ShellQuote(tga) +
                                            " -auto-orient -alpha off -depth 8 PAM:- 2>/dev/null",
                                        ok2));
                if (!ok || !ok2 || !want.valid) continue;
                SCOPED_TRACE(v + " " + std::string(compress) + " " + orient);
                TTargaGraphic g;
                g.LoadFromFile(tga);
                const Bytes got = BitmapRGBA(g);
                ASSERT_EQ(g.Width(), want.width);
                ASSERT_EQ(g.Height(), want.height);
                int worst = 0;
                for (int y = 0; y < want.height; ++y)
                    for (int x = 0; x < want.width; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const int w = int(want.Sample(x, y, want.depth >= 3 ? c : 0));
                            worst = std::max(
                                worst, std::abs(w - got[(size_t(y) * want.width + x) * 4 + c]));
                        }
                // 5-bit components: ImageMagick scales by 255/31, we repeat the top bits.
                EXPECT_LE(worst, v.find("-depth 5") != std::string::npos ? 4 : 0);
                ++checked;
            }
        }
    EXPECT_EQ(checked, 10);
    fs::remove_all(dir);
}

// Pillow's Targa files: each against the PNG beside it (decoded by our PNG loader).
TEST(TargaGraphic, PillowCommonFilesEqualReferencePngs) {
    const fs::path root = testdata::corpus("pillow/tga/common");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        const fs::path file = entry.path();
        if (file.extension() != ".tga") continue;
        SCOPED_TRACE(file.filename().string());
        const std::string stem = file.stem().string();
        const std::string base = stem.substr(0, stem.find('_', stem.find('_') + 1));
        TTargaGraphic g;
        ASSERT_NO_THROW(g.LoadFromFile(file.string()));
        TPNGGraphic ref;
        ref.LoadFromFile((root / (base + ".png")).string());
        ASSERT_EQ(g.Width(), ref.Width());
        ASSERT_EQ(g.Height(), ref.Height());
        Bytes a = BitmapRGBA(g), b = BitmapRGBA(ref);
        // Grey with alpha is shown without its alpha, as our PNG loader shows it.
        if (stem.find("_la_") != std::string::npos)
            for (size_t i = 3; i < a.size(); i += 4)
                a[i] = b[i] = 255;
        EXPECT_EQ(a, b);
        ++compared;
    }
    EXPECT_EQ(compared, 24);
}

// The other Targa files of the corpus against Pillow (ImageMagick reads grey with alpha as
// 16-bit grey); damaged ones fail cleanly or show what they hold.
TEST(TargaGraphic, PillowOtherFilesMatchPillow) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!HavePillow()) GTEST_SKIP() << "Pillow missing";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        const fs::path file = entry.path();
        if (file.extension() != ".tga") continue;
        SCOPED_TRACE(file.filename().string());
        TTargaGraphic g;
        try {
            g.LoadFromFile(file.string());
        } catch (const EImagingError&) {
            continue;  // p_8.tga: a header without its colour map
        }
        bool ok = false;
        const TPnm want = PillowRGBA(file.string(), ok);
        if (!ok) continue;  // Pillow refuses truncated files; we show what they hold
        ASSERT_EQ(g.Width(), want.width);
        ASSERT_EQ(g.Height(), want.height);
        const Bytes got = BitmapRGBA(g);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], want.raster[i]) << i;
        ++compared;
    }
    EXPECT_EQ(compared, 4);
}
