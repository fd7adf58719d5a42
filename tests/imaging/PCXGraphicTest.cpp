// PCX loader: the probe, every plane and depth layout from files built here (raw and
// run-length, each palette source), the failure messages, short and damaged data, progress,
// and conformance of ImageMagick's files and of the corpus against ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/PCXGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

struct TPcx {
    uint8_t manufacturer = 10, version = 5, encoding = 1, bits = 8, planes = 1;
    uint16_t width = 0, height = 0, bytesPerLine = 0, paletteKind = 1;
    Bytes headerPalette = Bytes(48, 0);
    std::vector<Bytes> rows;  // each row: its planes one after the other
    Bytes trailer;            // appended after the data (the 769-byte palette block)
};

// PCX run-length bytes of one row: runs, and single bytes that do not look like counts.
Bytes PackRow(const Bytes& row) {
    Bytes out;
    for (size_t i = 0; i < row.size();) {
        size_t n = 1;
        while (i + n < row.size() && n < 63 && row[i + n] == row[i])
            ++n;
        if (n > 1 || row[i] >= 192) {
            out.push_back(uint8_t(192 + n));
            out.push_back(row[i]);
        } else {
            out.push_back(row[i]);
        }
        i += n;
    }
    return out;
}

Bytes Build(const TPcx& t) {
    Bytes v{t.manufacturer, t.version, t.encoding, t.bits};
    Put16LE(v, 3);  // x min
    Put16LE(v, 7);  // y min
    Put16LE(v, 3 + t.width - 1);
    Put16LE(v, 7 + t.height - 1);
    Put16LE(v, 72);
    Put16LE(v, 96);
    PutBytes(v, t.headerPalette);
    v.push_back(0);
    v.push_back(t.planes);
    Put16LE(v, t.bytesPerLine);
    Put16LE(v, t.paletteKind);
    v.resize(128, 0);
    for (const Bytes& r : t.rows)
        PutBytes(v, t.encoding == 1 ? PackRow(r) : r);
    PutBytes(v, t.trailer);
    return v;
}

// A picture of w x h pixel values below 2^bitsPerPixel, and the file rows that hold it in the
// given plane layout.
struct TPicture {
    std::vector<std::vector<uint32_t>> values;
};

TPicture Values(uint32_t w, uint32_t h, uint32_t bitsPerPixel) {
    TPicture p;
    const uint64_t top = (uint64_t(1) << bitsPerPixel) - 1;
    for (uint32_t y = 0; y < h; ++y) {
        std::vector<uint32_t> row;
        for (uint32_t x = 0; x < w; ++x)
            row.push_back(
                uint32_t(x < 4 ? top & 0xC0C0C0C0 : (x * 2654435761u + y * 40503u) % (top + 1)));
        p.values.push_back(row);
    }
    return p;
}

std::vector<Bytes> Rows(const TPicture& pic, uint32_t bits, uint32_t planes, uint32_t bpl) {
    std::vector<Bytes> rows;
    for (const auto& values : pic.values) {
        Bytes row(size_t(bpl) * planes, 0);
        for (uint32_t p = 0; p < planes; ++p)
            for (size_t x = 0; x < values.size(); ++x) {
                // Plane p holds bit p (1-bit planes) or byte p (8-bit planes: red, green, blue
                // and alpha).
                const uint32_t v = bits == 8 && planes > 1
                                       ? (values[x] >> (8 * (planes - 1 - p))) & 255
                                   : planes > 1 ? (values[x] >> p) & 1
                                                : values[x];
                const size_t bit = x * bits;
                row[p * bpl + bit / 8] |= uint8_t(v << (8 - bits - bit % 8));
            }
        rows.push_back(row);
    }
    return rows;
}

Bytes PaletteBlock(uint32_t n) {
    Bytes b{12};
    for (uint32_t i = 0; i < 256; ++i)
        PutBytes(b, {uint8_t(i < n ? i * 3 : 0), uint8_t(i < n ? 255 - i : 0), uint8_t(i ^ 0x5A)});
    return b;
}

}  // namespace

TEST(PCXGraphic, ProbeChecksManufacturerVersionEncoding) {
    struct {
        uint8_t m, v, e;
        bool expected;
    } cases[] = {{10, 5, 1, true},  {10, 0, 0, true},  {12, 2, 1, true},  {205, 3, 1, true},
                 {11, 5, 1, false}, {10, 4, 1, false}, {10, 1, 1, false}, {10, 5, 2, false}};
    for (auto& c : cases) {
        TPcx t;
        t.manufacturer = c.m;
        t.version = c.v;
        t.encoding = c.e;
        Bytes file{1, 2, 3};
        PutBytes(file, Build(t));
        file.push_back(0);
        TMemoryStream s(file.data(), int64_t(file.size()));
        s.SetPosition(3);
        EXPECT_EQ(TPCXGraphic::ProbeStream(s), c.expected) << int(c.m) << " " << int(c.v);
        EXPECT_EQ(s.Position(), 3);
    }
    const Bytes exact = Build(TPcx{});  // exactly 128 bytes is too short
    TMemoryStream s(exact.data(), int64_t(exact.size()));
    EXPECT_FALSE(TPCXGraphic::ProbeStream(s));
}

TEST(PCXGraphic, PropertiesFromHeader) {
    TPcx t;
    t.bits = 1;
    t.planes = 4;
    t.width = 300;
    t.height = 2;
    t.encoding = 0;
    const Bytes file = Build(t);
    TMemoryStream s(file.data(), int64_t(file.size()));
    TPCXGraphic g;
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Width, 300u);
    EXPECT_EQ(p.Height, 2u);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerSample, 1);
    EXPECT_EQ(p.BitsPerPixel, 4);
    EXPECT_EQ(p.ColorScheme, schemeIndexed);
    EXPECT_EQ(p.Compression, compNone);
    EXPECT_EQ(p.XResolution, 72.0f);
    EXPECT_EQ(p.YResolution, 96.0f);
}

// Every layout, raw and run-length, with each palette source; the expected colour of every
// pixel is worked out here from the values written.
TEST(PCXGraphic, EveryLayoutAndPaletteDecodes) {
    struct TCase {
        uint8_t bits, planes, version;
        uint16_t kind;
        int block;  // entries of the trailing palette block (-1: none)
        TPixelFormat format;
        const char* palette;  // "ramp", "header", "default", "block", "gray" or "" for direct
    } cases[] = {
        {1, 1, 5, 1, -1, pf1bit, "ramp"},    {1, 1, 3, 1, -1, pf1bit, "ramp"},
        {2, 1, 5, 1, -1, pf4bit, "header"},  {4, 1, 5, 1, -1, pf4bit, "header"},
        {4, 1, 5, 2, -1, pf4bit, "gray"},    {1, 4, 5, 1, -1, pf4bit, "header"},
        {1, 4, 3, 1, -1, pf4bit, "default"}, {8, 1, 5, 1, 256, pf8bit, "block"},
        {8, 1, 5, 1, 100, pf8bit, "block"},  {8, 1, 5, 2, -1, pf8bit, "gray"},
        {8, 1, 5, 1, -1, pf8bit, "gray"},    {8, 1, 3, 1, 256, pf8bit, "block"},
        {8, 3, 5, 1, -1, pf24bit, ""},       {8, 4, 5, 1, -1, pf32bit, ""},
        {1, 2, 5, 1, -1, pf4bit, "header"},  {1, 3, 5, 1, -1, pf4bit, "header"},
        {1, 3, 3, 1, -1, pf4bit, "default"},
    };
    const uint8_t defaults[16][3] = {
        {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const TCase& c : cases)
        for (uint8_t encoding : {0, 1}) {
            SCOPED_TRACE(std::to_string(c.bits) + "x" + std::to_string(c.planes) + " v" +
                         std::to_string(c.version) + " " + c.palette + " enc " +
                         std::to_string(encoding));
            TPcx t;
            t.bits = c.bits;
            t.planes = c.planes;
            t.version = c.version;
            t.paletteKind = c.kind;
            t.encoding = encoding;
            t.width = 21;
            t.height = 4;
            t.bytesPerLine = uint16_t(((t.width * c.bits + 15) / 16) * 2);  // even, as written
            for (int i = 0; i < 48; ++i)
                t.headerPalette[size_t(i)] = uint8_t(i * 5 + 1);
            const uint32_t bpp = c.bits * c.planes;
            const TPicture pic = Values(t.width, t.height, bpp);
            t.rows = Rows(pic, c.bits, c.planes, t.bytesPerLine);
            if (c.block >= 0) t.trailer = PaletteBlock(uint32_t(c.block));
            if (c.format == pf8bit && c.block < 0) t.trailer = Bytes(769, 1);  // not a palette
            TPCXGraphic g;
            LoadBytes(g, Build(t));
            EXPECT_EQ(g.PixelFormat(), c.format);
            ASSERT_EQ(g.Width(), t.width);
            const Bytes rgba = BitmapRGBA(g);
            const std::string pal = c.palette;
            for (uint32_t y = 0; y < t.height; ++y)
                for (uint32_t x = 0; x < t.width; ++x) {
                    const uint32_t v = pic.values[y][x];
                    Bytes want;
                    if (pal.empty()) {
                        want = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255};
                        if (c.planes == 4)
                            want = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8),
                                    uint8_t(v)};
                    } else if (pal == "ramp" || pal == "gray") {
                        const uint8_t level = uint8_t(v * 255 / ((1u << bpp) - 1));
                        want = {level, level, level, 255};
                    } else if (pal == "header") {
                        const uint8_t* e = &t.headerPalette[3 * v];
                        want = {e[0], e[1], e[2], 255};
                    } else if (pal == "default") {
                        want = {defaults[v][0], defaults[v][1], defaults[v][2], 255};
                    } else {
                        const uint8_t* e = &t.trailer[1 + 3 * v];
                        want = {e[0], e[1], e[2], 255};
                    }
                    const size_t at = (size_t(y) * t.width + x) * 4;
                    ASSERT_EQ(Bytes(rgba.begin() + long(at), rgba.begin() + long(at + 4)), want)
                        << x << "," << y << " value " << v;
                }
        }
}

TEST(PCXGraphic, FailureMessagesAndDamagedData) {
    auto file = [](uint8_t bits, uint8_t planes, uint16_t w = 8, uint16_t h = 2) {
        TPcx t;
        t.bits = bits;
        t.planes = planes;
        t.width = w;
        t.height = h;
        t.bytesPerLine = uint16_t((w * bits + 7) / 8);
        t.rows.assign(h, Bytes(size_t(t.bytesPerLine) * planes, 0x11));
        return Build(t);
    };
    const std::string invalid = "Cannot load image. Invalid or unexpected PCX image format.";
    Bytes wrong = file(8, 1);
    wrong[0] = 12;  // accepted by the probe, but not a PCX manufacturer
    EXPECT_EQ(LoadError<TPCXGraphic>(wrong), invalid);
    EXPECT_EQ(LoadError<TPCXGraphic>(file(8, 2)), "Invalid color format in PCX file.");
    for (const auto& [bits, planes] : {std::pair{2, 4}, {4, 2}, {2, 3}, {8, 5}, {16, 1}, {3, 1}})
        EXPECT_EQ(LoadError<TPCXGraphic>(file(uint8_t(bits), uint8_t(planes))),
                  "Invalid color format in PCX file.");
    EXPECT_EQ(LoadError<TPCXGraphic>(file(8, 1, 0, 2)), invalid);
    Bytes screen = file(8, 1);
    screen[0] = 205;  // the screen capture variant loads
    EXPECT_EQ(LoadError<TPCXGraphic>(screen), "no error");
    // Bytes per line too small for the width: refused rather than read past the planes.
    Bytes narrow = file(8, 3, 40, 2);
    narrow[66] = 10;
    narrow[67] = 0;
    EXPECT_EQ(LoadError<TPCXGraphic>(narrow), invalid);
    {
        TPixelLimit limit(1000);
        EXPECT_EQ(LoadError<TPCXGraphic>(file(8, 1, 1000, 2)).substr(0, 6), "Image ");
    }
    // Huge bytes per line for a one-pixel-wide picture whose data ends at once: the rows the
    // data does not reach are not worked through.
    Bytes wide = file(8, 1, 1, 60000);
    wide[66] = wide[67] = 0xFF;
    wide.resize(128 + 1000);
    PutBytes(wide, PaletteBlock(256));
    EXPECT_EQ(LoadError<TPCXGraphic>(wide), "no error");
    EXPECT_NE(LoadError<TPCXGraphic>(file(0, 1)), "no error");

    // Every truncation: the header fails with the stream's error, data ends quietly.
    for (uint8_t encoding : {0, 1}) {
        TPcx t;
        t.encoding = encoding;
        t.bits = 8;
        t.planes = 3;
        t.width = 5;
        t.height = 3;
        t.bytesPerLine = 6;
        t.rows = Rows(Values(5, 3, 24), 8, 3, 6);
        const Bytes full = Build(t);
        for (size_t n = 0; n < full.size(); ++n) {
            const std::string e =
                LoadError<TPCXGraphic>(Bytes(full.begin(), full.begin() + long(n)));
            EXPECT_EQ(e, n < 128 ? "other: Stream read error" : "no error") << n;
        }
        // The rows the data did not reach are black.
        TPCXGraphic g;
        LoadBytes(g, Bytes(full.begin(), full.begin() + 128 + 20));
        const Bytes rgba = BitmapRGBA(g);
        EXPECT_EQ(rgba[rgba.size() - 4], 0);
    }
    // A count byte 192 writes nothing.
    TPcx t;
    t.width = 2;
    t.height = 1;
    t.bytesPerLine = 2;
    Bytes f = Build(t);
    PutBytes(f, {192, 77, 5, 6});
    PutBytes(f, PaletteBlock(256));
    TPCXGraphic g;
    LoadBytes(g, f);
    EXPECT_EQ(g.ScanLine(0)[0], 5);
    EXPECT_EQ(g.ScanLine(0)[1], 6);
}

TEST(PCXGraphic, ProgressMovesRowByRow) {
    TPcx t;
    t.bits = 8;
    t.planes = 3;
    t.width = 2;
    t.height = 2;
    t.bytesPerLine = 2;
    t.rows = Rows(Values(2, 2, 24), 8, 3, 2);
    TPCXGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    LoadBytes(g, Build(t));
    const std::vector<std::string> expected = {"0/0/0/Preparing...", "0/0/0/Transfering...",
                                               "1/0/0/", "1/50/1/", "2/0/2/"};
    EXPECT_EQ(log, expected);
}

// ImageMagick's PCX files of our pixels (1-bit, 16 colours, palette, grey, true colour), and
// every PCX file of the corpus, against ImageMagick.
TEST(PCXGraphic, AgreesWithImageMagick) {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick convert missing";
    const fs::path dir = fs::temp_directory_path() / "velkaro_pcx_im";
    fs::create_directories(dir);
    std::vector<fs::path> files;
    const std::string src = ShellQuote((dir / "src.ppm").string());
    {
        Bytes ppm;
        PutText(ppm, "P6\n61 23\n255\n");
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 61; ++x)
                PutBytes(ppm, {uint8_t(x < 9 ? 40 : x * 4), uint8_t(y * 11), uint8_t(x * y)});
        std::ofstream(dir / "src.ppm", std::ios::binary)
            .write(reinterpret_cast<const char*>(ppm.data()), std::streamsize(ppm.size()));
    }
    const std::vector<std::string> variants = {
        "-monochrome",
        "-colors 16 -type Palette",
        "-colors 200 -type Palette",
        "-type Grayscale",
        "-type TrueColor",
        "-alpha set -channel A -fx 'i/w' +channel -type TrueColorAlpha"};
    bool ok = false;
    for (size_t i = 0; i < variants.size(); ++i) {
        const fs::path out = dir / ("v" + std::to_string(i) + ".pcx");
        RunCommand(
            "convert " + src + " " + variants[i] + " " + ShellQuote(out.string()) + " && echo ok",
            ok);
        if (ok) files.push_back(out);
    }
    EXPECT_EQ(files.size(), variants.size());
    const fs::path root = testdata::corpus("pillow");
    if (!root.empty())
        for (const auto& entry : fs::directory_iterator(root))
            if (entry.path().extension() == ".pcx") files.push_back(entry.path());

    int compared = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        TPCXGraphic g;
        bool loaded = true;
        try {
            g.LoadFromFile(file.string());
        } catch (const EImagingError&) {
            loaded = false;
        }
        const TPnm want = ParsePnm(
            RunCommand("convert " + ShellQuote(file.string()) + " -depth 8 PAM:- 2>/dev/null", ok));
        if (!ok || !want.valid) {
            // 01r_00.pcx: bytes per line below its width; both readers refuse it.
            EXPECT_FALSE(loaded);
            continue;
        }
        ASSERT_TRUE(loaded);
        ASSERT_EQ(g.Width(), want.width);
        ASSERT_EQ(g.Height(), want.height);
        const Bytes got = BitmapRGBA(g);
        for (int y = 0; y < want.height; ++y)
            for (int x = 0; x < want.width; ++x)
                for (int c = 0; c < (want.depth == 4 ? 4 : 3); ++c)
                    ASSERT_EQ(want.Sample(x, y, want.depth >= 3 ? c : 0),
                              got[(size_t(y) * want.width + x) * 4 + c])
                        << x << "," << y;
        ++compared;
    }
    EXPECT_GE(compared, 7);
    fs::remove_all(dir);
}
