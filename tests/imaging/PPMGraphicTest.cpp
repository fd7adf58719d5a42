// Portable map loader: the header tokenizer, each type, 16-bit samples, buffer boundaries,
// truncation, refused headers, progress, and conformance with netpbm's own reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/formats/PPMGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A string literal with the zero bytes it holds.
template <size_t N>
std::string Raw(const char (&s)[N]) {
    return std::string(s, N - 1);
}

// The decoded picture as RGB triples, row by row.
Bytes RGB(const TBitmap& bmp) {
    const Bytes rgba = BitmapRGBA(bmp);
    Bytes rgb;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return rgb;
}

Bytes Gray3(std::initializer_list<uint8_t> levels) {
    Bytes rgb;
    for (uint8_t v : levels)
        rgb.insert(rgb.end(), {v, v, v});
    return rgb;
}

struct TCase {
    const char* name;
    std::string file;
    int width, height;
    TPixelFormat format;
    Bytes rgb;  // expected pixels, empty: the expected message below
    const char* error;
};

const char* kInvalid = "Cannot load image. Invalid or unexpected PPM image format.";
const char* kReadError = "Stream read error in PPM file.";

TEST(PPMGraphic, HeaderSamplesAndRefusals) {
    const TCase cases[] = {
        {"bitmap text", "P1\n3 2\n1 0 1\n0 1 0\n", 3, 2, pf1bit, Gray3({0, 255, 0, 255, 0, 255}),
         nullptr},
        // netpbm's plain bitmaps need no separators between pixels.
        {"bitmap text packed", "P1\n4 1\n0101", 4, 1, pf1bit, Gray3({255, 0, 255, 0}), nullptr},
        {"bitmap binary, padded row", std::string("P4\n3 2\n") + Raw("\xA0\x40"), 3, 2, pf1bit,
         Gray3({0, 255, 0, 255, 0, 255}), nullptr},
        {"gray text, comments everywhere",
         "P2 # type\n# size follows\n2 # width\n1\n#max\n255\n7 # a\n200\n", 2, 1, pf8bit,
         Gray3({7, 200}), nullptr},
        // Maximum values below 255 scale to 0..255 as netpbm shows them; values beyond the
        // maximum show as white, beyond 255 with the maximum 255 keep their low byte.
        {"gray text, maxval 15", "P2\n4 1\n15\n0 8 15 300\n", 4, 1, pf8bit,
         Gray3({0, 136, 255, 255}), nullptr},
        {"gray text, maxval 255", "P2\n2 1\n255\n8 300\n", 2, 1, pf8bit, Gray3({8, 44}), nullptr},
        {"pixel text, maxval 1", "P3\n1 1\n1\n1 0 1\n", 1, 1, pf24bit, {255, 0, 255}, nullptr},
        {"gray text 16-bit", "P2\n3 1\n65535\n0 32896 65535\n", 3, 1, pf8bit, Gray3({0, 128, 255}),
         nullptr},
        {"gray text 10-bit, value above maxval", "P2\n3 1\n1023\n511 1023 4000\n", 3, 1, pf8bit,
         Gray3({127, 255, 255}), nullptr},
        {"pixel text, CR LF",
         "P3\r\n2 1\r\n255\r\n1 2 3\r\n4 5 6\r\n",
         2,
         1,
         pf24bit,
         {1, 2, 3, 4, 5, 6},
         nullptr},
        // The numbers may share the type's line.
        {"pixel binary, one-line header",
         std::string("P6 2 1 255\n") + Raw("\x01\x02\x03\xFA\xFB\xFC"),
         2,
         1,
         pf24bit,
         {1, 2, 3, 250, 251, 252},
         nullptr},
        {"pixel binary 16-bit",
         std::string("P6\n1 1\n65535\n") + Raw("\xFF\xFF\x80\x80\x01\x01"),
         1,
         1,
         pf24bit,
         {255, 128, 1},
         nullptr},
        {"gray binary, maxval 100", std::string("P5\n3 1\n100\n") + Raw("\x32\x64\xC8"), 3, 1,
         pf8bit, Gray3({128, 255, 255}), nullptr},
        {"gray binary 16-bit above maxval", std::string("P5\n2 1\n300\n") + Raw("\x00\x96\x01\x2D"),
         2, 1, pf8bit, Gray3({128, 255}), nullptr},
        {"comment reaching the end", "P1\n1 1\n1 # last", 1, 1, pf1bit, Gray3({0}), nullptr},
        {"maxval 0", "P2\n1 1\n0\n0\n", 0, 0, pf8bit, {}, kInvalid},
        {"maxval 65536", "P2\n1 1\n65536\n0\n", 0, 0, pf8bit, {}, kInvalid},
        {"width 0", "P3\n0 1\n255\n", 0, 0, pf8bit, {}, kInvalid},
        {"height 0", "P4\n8 0\n", 0, 0, pf8bit, {}, kInvalid},
        {"huge width", "P5\n99999999999 1\n255\n", 0, 0, pf8bit, {}, nullptr},
        {"type 7", "P7\nWIDTH 1\nHEIGHT 1\n", 0, 0, pf8bit, {}, kInvalid},
        {"not a portable map", "Q6\n1 1\n255\nabc", 0, 0, pf8bit, {}, kInvalid},
        {"empty", "", 0, 0, pf8bit, {}, kInvalid},
        {"pixels missing", "P6\n2 2\n255\nabcdefghi", 0, 0, pf8bit, {}, kReadError},
        {"text pixels missing", "P2\n2 2\n255\n1 2 3", 0, 0, pf8bit, {}, kReadError},
        {"header cut", "P3\n2", 0, 0, pf8bit, {}, kReadError},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = Text(c.file);
        if (c.rgb.empty()) {
            const std::string message = LoadError<TPPMGraphic>(bytes);
            if (c.error != nullptr)
                EXPECT_EQ(message, c.error);
            else
                EXPECT_NE(message, "no error");
            continue;
        }
        TPPMGraphic g;
        ASSERT_NO_THROW(LoadBytes(g, bytes));
        EXPECT_EQ(g.Width(), c.width);
        EXPECT_EQ(g.Height(), c.height);
        EXPECT_EQ(g.PixelFormat(), c.format);
        EXPECT_EQ(RGB(g), c.rgb);
    }
}

TEST(PPMGraphic, ProbeAndProperties) {
    const struct {
        std::string head;
        bool probe;
    } probes[] = {{"P1 2 2 0 1 1 0", true},
                  {"P6\n1 1\n255\nabc", true},
                  {"P6\n1 1\n255", false},
                  {"P7\n1 1\n255\nabc", false},
                  {"p6\n1 1\n255\nabc", false}};
    for (const auto& p : probes) {
        const Bytes b = Text(p.head);
        TMemoryStream s(b.data(), int64_t(b.size()));
        s.SetPosition(0);
        EXPECT_EQ(TPPMGraphic::ProbeStream(s), p.probe) << p.head;
        EXPECT_EQ(s.Position(), 0);
    }
    const Bytes b = Text("P6\n3 2\n65535\n");
    TMemoryStream s(b.data(), int64_t(b.size()));
    TPPMGraphic g;
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Width, 3u);
    EXPECT_EQ(p.Height, 2u);
    EXPECT_EQ(p.ColorScheme, schemeRGB);
    EXPECT_EQ(p.SamplesPerPixel, 3);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.Compression, compNone);
}

// Files larger than the read buffer: numbers and rows that cross buffer ends, the direct
// path for long rows, and a cut at every length near the end of a fill.
TEST(PPMGraphic, BufferBoundariesAndTruncation) {
    const int w = 1500, h = 7;
    Bytes pixels(size_t(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 37 + i / 11);
    std::string text = "P2\n# big enough for several buffer fills\n1500 7\n255\n";
    for (uint8_t v : pixels)
        text += std::to_string(v) + (v % 3 ? " " : "\n");
    Bytes binary = Text("P5\n1500 7\n255\n");
    PutBytes(binary, pixels);
    Bytes wide = Text("P5\n5000 2\n255\n");  // rows longer than the buffer
    Bytes widePixels(10000);
    for (size_t i = 0; i < widePixels.size(); ++i)
        widePixels[i] = uint8_t(i ^ (i >> 8));
    PutBytes(wide, widePixels);

    for (const Bytes& file : {Text(text), binary}) {
        TPPMGraphic g;
        LoadBytes(g, file);
        ASSERT_EQ(g.Width(), w);
        for (int y = 0; y < h; ++y)
            ASSERT_EQ(Bytes(g.ScanLine(y), g.ScanLine(y) + w),
                      Bytes(pixels.begin() + y * w, pixels.begin() + (y + 1) * w))
                << "row " << y << " of " << (file == binary ? "P5" : "P2");
    }
    TPPMGraphic g;
    LoadBytes(g, wide);
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 5000),
              Bytes(widePixels.begin() + 5000, widePixels.end()));

    // Every cut of the binary file and the cuts of the text file around the buffer ends fail
    // with the read error (or, inside the header, as not a portable map); stale bytes of an
    // earlier buffer fill are never taken for pixels.
    for (size_t n = 0; n < binary.size(); ++n) {
        const std::string m = LoadError<TPPMGraphic>(Bytes(binary.begin(), binary.begin() + n));
        ASSERT_TRUE(m == kReadError || m == kInvalid) << n << ": " << m;
    }
    const Bytes textBytes = Text(text);
    for (size_t n : {4095, 4096, 4097, 8191, 8192, 8193, 12000}) {
        // A cut inside the last number still makes a number; the pixels after it are missing.
        EXPECT_EQ(LoadError<TPPMGraphic>(Bytes(textBytes.begin(), textBytes.begin() + n)),
                  kReadError)
            << n;
    }
}

TEST(PPMGraphic, PixelLimitProgressAndReload) {
    {
        TPixelLimit limit(100);
        EXPECT_NE(LoadError<TPPMGraphic>(Text("P5\n11 10\n255\n")), "no error");
    }
    TPPMGraphic g;
    std::vector<std::string> events;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        events.push_back(std::to_string(stage) + ":" + std::to_string(percent) + ":" +
                         std::to_string(r.Top) + "-" + std::to_string(r.Bottom) + ":" + msg);
    };
    LoadBytes(g, Text("P2\n2 3\n255\n1 2 3 4 5 6\n"));
    const std::vector<std::string> expected = {"0:0:0-1:Transfering...",
                                               "1:0:0-1:", "1:33:1-2:", "1:66:2-3:", "2:0:3-4:"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(g.Palette().size(), 256u);

    // A second load into the same graphic takes its own format and palette.
    events.clear();
    LoadBytes(g, Text("P1\n2 1\n1 0\n"));
    EXPECT_EQ(g.PixelFormat(), pf1bit);
    EXPECT_EQ(RGB(g), Gray3({0, 255}));
    EXPECT_EQ(events.back().substr(0, 2), "2:");
    EXPECT_EQ(LoadError<TPPMGraphic>(Text("P6\n2 2\n255\nabc")), kReadError);
}

// ---- netpbm ----

// netpbm's own reading of a file, as the samples we show: every maximum value scaled to 255
// (pamdepth). Every file becomes a pixel map (ppmtoppm).
TPnm NetpbmReading(const fs::path& file) {
    std::string command = "ppmtoppm < " + ShellQuote(file.string()) + " | pamdepth 255";
    bool ok = false;
    const Bytes out = RunCommand(command + " 2>/dev/null", ok);
    return ok ? ParsePnm(out) : TPnm{};
}

void ExpectLikeNetpbm(const fs::path& file, const Bytes& bytes) {
    TPPMGraphic g;
    ASSERT_NO_THROW(LoadBytes(g, bytes));
    const TPnm ref = NetpbmReading(file);
    ASSERT_TRUE(ref.valid);
    ASSERT_EQ(g.Width(), ref.width);
    ASSERT_EQ(g.Height(), ref.height);
    const Bytes rgb = RGB(g);
    if (g.PixelFormat() == pf1bit) {
        // Bitmaps read by netpbm are 0 (black) and 1 (white), shown as 0 and 255.
        for (size_t i = 0; i < rgb.size(); ++i)
            ASSERT_EQ(rgb[i], ref.samples[i] ? 255 : 0) << "sample " << i;
        return;
    }
    for (size_t i = 0; i < rgb.size(); ++i)
        ASSERT_EQ(rgb[i], ref.samples[i]) << "sample " << i;
}

// The public corpus: every portable map decodes exactly like netpbm reads it (no tolerance).
TEST(PPMGraphic, CorpusLikeNetpbm) {
    const fs::path dir = testdata::corpus("pillow");
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    if (!HaveTool("ppmtoppm") || !HaveTool("pamdepth")) GTEST_SKIP() << "netpbm missing";
    int checked = 0;
    for (const char* name :
         {"hopper.pnm", "hopper.ppm", "hopper_16bit.pgm", "hopper_16bit_plain.pgm",
          "hopper_1bit.pbm", "hopper_1bit_plain.pbm", "hopper_8bit.pgm", "hopper_8bit.ppm",
          "hopper_8bit_plain.pgm", "hopper_8bit_plain.ppm", "hopper_webp_bits.ppm",
          "hopper_webp_write.ppm"}) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        if (!fs::exists(file)) continue;
        ExpectLikeNetpbm(file, ReadFileBytes(file));
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// Files that netpbm's tools write from our own pixels: plain and raw, every type, odd maximum
// values, 16-bit samples.
TEST(PPMGraphic, NetpbmWrittenLikeNetpbm) {
    if (!HaveTool("ppmtoppm") || !HaveTool("pamdepth") || !HaveTool("pnmtoplainpnm") ||
        !HaveTool("ppmtopgm") || !HaveTool("pgmtopbm"))
        GTEST_SKIP() << "netpbm missing";
    const int w = 37, h = 23;
    Bytes base = Text("P6\n37 23\n255\n");
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            base.insert(base.end(), {uint8_t(x * 7 + y), uint8_t(y * 11), uint8_t(x * y)});
    const fs::path dir = fs::temp_directory_path() / "velkaro_ppm_netpbm";
    fs::create_directories(dir);
    const fs::path source = dir / "base.ppm";
    {
        std::ofstream(source, std::ios::binary)
            .write(reinterpret_cast<const char*>(base.data()), std::streamsize(base.size()));
    }
    const struct {
        const char* name;
        const char* pipeline;  // reads base.ppm on standard input
    } cases[] = {
        {"raw pixel map", "ppmtoppm"},
        {"plain pixel map", "pnmtoplainpnm"},
        {"raw gray map", "ppmtopgm"},
        {"plain gray map", "ppmtopgm | pnmtoplainpnm"},
        {"raw bitmap", "ppmtopgm | pgmtopbm -threshold"},
        {"plain bitmap", "ppmtopgm | pgmtopbm -threshold | pnmtoplainpnm"},
        {"maxval 100", "pamdepth 100"},
        {"plain gray map, maxval 15", "ppmtopgm | pamdepth 15 | pnmtoplainpnm"},
        {"maxval 1023", "pamdepth 1023"},
        {"16-bit pixel map", "pamdepth 65535"},
        {"16-bit gray map", "ppmtopgm | pamdepth 65535"},
        {"plain 16-bit", "pamdepth 4095 | pnmtoplainpnm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = false;
        const Bytes file = RunCommand(
            "cat " + ShellQuote(source.string()) + " | " + c.pipeline + " 2>/dev/null", ok);
        ASSERT_TRUE(ok);
        const fs::path path = dir / "case.pnm";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        ExpectLikeNetpbm(path, file);
    }
    fs::remove_all(dir);
}

}  // namespace
