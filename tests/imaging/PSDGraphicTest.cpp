// Photoshop loader: files built here in every colour mode, depth and compression, checked
// against the colours their samples stand for; damaged files; the public corpus against
// Pillow or ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/PSDGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;
using testhelp::Put16BE;
using testhelp::Put32BE;

// PackBits with repeats for runs of three or more bytes, literals otherwise.
Bytes PackBits(const uint8_t* p, size_t n) {
    Bytes out;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && p[i + run] == p[i])
            ++run;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(p[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < n && lit < 128 &&
               !(i + lit + 2 < n && p[i + lit] == p[i + lit + 1] && p[i + lit] == p[i + lit + 2]))
            ++lit;
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), p + i, p + i + lit);
        i += lit;
    }
    return out;
}

struct TPsd {
    uint16_t mode = 3, channels = 3, bits = 8;
    uint32_t width = 13, height = 5;
    bool packBits = false;
    bool layers = false;  // a layer section before the merged image
    Bytes colorData;
    std::vector<Bytes> planes;  // one per channel, rows of (width * bits + 7) / 8 bytes

    size_t RowBytes() const { return (size_t(width) * bits + 7) / 8; }
};

// Samples with runs and edges: sample x of row y in channel c.
uint32_t SampleValue(const TPsd& f, uint32_t x, uint32_t y, uint32_t c) {
    const uint32_t v = ((x / 3) * 37 + y * 53 + c * 71 + (x == 0 ? 255 : 0)) & 0xFF;
    return f.bits == 16 ? v * 257 ^ (x * 13) : v;
}

void FillPlanes(TPsd& f) {
    f.planes.assign(f.channels, Bytes(f.RowBytes() * f.height, 0));
    for (uint32_t c = 0; c < f.channels; ++c)
        for (uint32_t y = 0; y < f.height; ++y)
            for (uint32_t x = 0; x < f.width; ++x) {
                uint8_t* row = f.planes[c].data() + y * f.RowBytes();
                const uint32_t v = SampleValue(f, x, y, c);
                if (f.bits == 1) {
                    if (v & 1) row[x / 8] |= uint8_t(0x80 >> (x % 8));
                } else if (f.bits == 8) {
                    row[x] = uint8_t(v);
                } else {
                    row[2 * x] = uint8_t(v >> 8);
                    row[2 * x + 1] = uint8_t(v);
                }
            }
}

Bytes MakePsd(const TPsd& f) {
    Bytes b;
    testhelp::PutText(b, "8BPS");
    Put16BE(b, 1);
    b.insert(b.end(), 6, 0);
    Put16BE(b, f.channels);
    Put32BE(b, f.height);
    Put32BE(b, f.width);
    Put16BE(b, f.bits);
    Put16BE(b, f.mode);
    Put32BE(b, uint32_t(f.colorData.size()));
    testhelp::PutBytes(b, f.colorData);
    Put32BE(b, 12);  // image resources: one empty resource block
    testhelp::PutText(b, "8BIM");
    Put16BE(b, 0x03ED);
    b.insert(b.end(), {0, 0, 0, 0, 0, 0});
    if (f.layers) {
        // One layer record (whose pixels are junk for the merged image) and a mask block.
        Bytes layer(40, 0xAB);
        Put32BE(b, uint32_t(layer.size() + 4));
        Put32BE(b, uint32_t(layer.size()));
        testhelp::PutBytes(b, layer);
    } else {
        Put32BE(b, 0);
    }
    Put16BE(b, f.packBits ? 1 : 0);
    if (!f.packBits) {
        for (const Bytes& p : f.planes)
            testhelp::PutBytes(b, p);
        return b;
    }
    std::vector<Bytes> rows;
    for (const Bytes& p : f.planes)
        for (uint32_t y = 0; y < f.height; ++y)
            rows.push_back(PackBits(p.data() + y * f.RowBytes(), f.RowBytes()));
    for (const Bytes& r : rows)
        Put16BE(b, uint32_t(r.size()));
    for (const Bytes& r : rows)
        testhelp::PutBytes(b, r);
    return b;
}

uint8_t To8(const TPsd& f, uint32_t v) {
    return f.bits == 16 ? uint8_t(v * 255 / 65535) : uint8_t(v);
}

uint8_t Clamp(double v) {
    return uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
}

// The colour the samples of pixel (x, y) stand for, red, green, blue, alpha.
std::array<uint8_t, 4> ExpectedPixel(const TPsd& f, uint32_t x, uint32_t y) {
    auto s = [&](uint32_t c) { return SampleValue(f, x, y, c); };
    switch (f.mode) {
        case 0: {  // a set bit is black
            const uint8_t g = (s(0) & 1) ? 0 : 255;
            return {g, g, g, 255};
        }
        case 1:
        case 8: {
            const uint8_t g = To8(f, s(0));
            return {g, g, g, 255};
        }
        case 2: {
            const uint8_t i = uint8_t(s(0));
            return {f.colorData[i], f.colorData[256 + i], f.colorData[512 + i], 255};
        }
        case 3:
        case 7:
            return {To8(f, s(0)), To8(f, s(1)), To8(f, s(2)),
                    f.channels > 3 ? To8(f, s(3)) : uint8_t(255)};
        case 4: {  // stored as the part of white left: 255 (65535) is no ink
            const double m = f.bits == 16 ? 65535.0 : 255.0;
            const double k = s(3) / m;
            return {Clamp(255 * k * s(0) / m), Clamp(255 * k * s(1) / m), Clamp(255 * k * s(2) / m),
                    255};
        }
        default: {  // L* 0..255 for 0..100, a* and b* offset by 128 (16-bit: reduced to 8)
            const double l = To8(f, s(0)) / 2.55, a = To8(f, s(1)) - 128.0,
                         b = To8(f, s(2)) - 128.0;
            double X, Y, Z;
            if (l < 7.9996) {
                Y = l / 903.3;
                X = Y + a / 3893.5;
                Z = Y - b / 1557.4;
            } else {
                const double fy = (l + 16) / 116;
                X = std::pow(fy + a / 500, 3);
                Y = fy * fy * fy;
                Z = std::pow(fy - b / 200, 3);
            }
            return {Clamp(255 * (2.998 * X - 1.458 * Y - 0.541 * Z)),
                    Clamp(255 * (-0.952 * X + 1.893 * Y + 0.059 * Z)),
                    Clamp(255 * (0.099 * X - 0.198 * Y + 1.099 * Z)), 255};
        }
    }
}

Bytes IndexedColorData(size_t planeSize) {
    Bytes d(3 * planeSize);
    for (size_t i = 0; i < planeSize; ++i) {
        d[i] = uint8_t(i);
        d[planeSize + i] = uint8_t(255 - i);
        d[2 * planeSize + i] = uint8_t(i * 7);
    }
    return d;
}

TPsd Fixture(uint16_t mode, uint16_t channels, uint16_t bits, bool packBits, bool layers) {
    TPsd f;
    f.mode = mode;
    f.channels = channels;
    f.bits = bits;
    f.packBits = packBits;
    f.layers = layers;
    if (mode == 2) f.colorData = IndexedColorData(256);
    if (mode == 8) f.colorData = Bytes(24, 0x55);  // duotone data: not used
    FillPlanes(f);
    return f;
}

struct TModeCase {
    const char* name;
    uint16_t mode, channels, bits;
    bool packBits, layers;
    int tolerance;  // per component: CMYK and L*a*b* are computed here in double precision
};

const TModeCase kModes[] = {
    {"bitmap raw", 0, 1, 1, false, false, 0},
    {"bitmap packbits", 0, 1, 1, true, true, 0},
    {"gray 8 raw", 1, 1, 8, false, false, 0},
    {"gray 8 packbits layers", 1, 1, 8, true, true, 0},
    {"gray 16 raw", 1, 1, 16, false, true, 0},
    {"gray 16 packbits", 1, 1, 16, true, false, 0},
    {"gray with alpha channel", 1, 2, 8, true, false, 0},
    {"duotone", 8, 1, 8, false, false, 0},
    {"indexed raw", 2, 1, 8, false, false, 0},
    {"indexed packbits layers", 2, 1, 8, true, true, 0},
    {"rgb 8 raw", 3, 3, 8, false, false, 0},
    {"rgb 8 packbits layers", 3, 3, 8, true, true, 0},
    {"rgb 16 raw", 3, 3, 16, false, false, 0},
    {"rgb 16 packbits", 3, 3, 16, true, true, 0},
    {"rgba 8 packbits", 3, 4, 8, true, false, 0},
    {"rgba 16 raw", 3, 4, 16, false, true, 0},
    {"rgb 5 channels", 3, 5, 8, true, false, 0},
    {"multichannel 3", 7, 3, 8, false, false, 0},
    {"multichannel 4", 7, 4, 8, true, false, 0},
    {"cmyk 8 raw", 4, 4, 8, false, false, 1},
    {"cmyk 8 packbits layers", 4, 4, 8, true, true, 1},
    {"cmyk 16 packbits", 4, 4, 16, true, false, 1},
    {"cmyk with alpha", 4, 5, 8, false, false, 1},
    {"lab 8 raw", 9, 3, 8, false, false, 1},
    {"lab 8 packbits", 9, 3, 8, true, true, 1},
    {"lab 16 raw", 9, 3, 16, false, false, 1},
    {"lab with alpha 16 packbits", 9, 4, 16, true, false, 1},
};

TEST(PSDGraphic, EveryModeDepthAndCompression) {
    for (const TModeCase& c : kModes) {
        SCOPED_TRACE(c.name);
        const TPsd f = Fixture(c.mode, c.channels, c.bits, c.packBits, c.layers);
        TPSDGraphic g;
        testhelp::LoadBytes(g, MakePsd(f));
        ASSERT_EQ(g.Width(), int(f.width));
        ASSERT_EQ(g.Height(), int(f.height));
        const bool alpha = (c.mode == 3 || c.mode == 7) && c.channels > 3;
        EXPECT_EQ(g.PixelFormat() == pf32bit, alpha);
        const Bytes rgba = testhelp::BitmapRGBA(g);
        int worst = 0;
        for (uint32_t y = 0; y < f.height; ++y)
            for (uint32_t x = 0; x < f.width; ++x) {
                const auto want = ExpectedPixel(f, x, y);
                for (int k = 0; k < 4; ++k) {
                    const int got = rgba[(size_t(y) * f.width + x) * 4 + size_t(k)];
                    worst = std::max(worst, std::abs(got - int(want[size_t(k)])));
                    if (std::abs(got - int(want[size_t(k)])) > c.tolerance)
                        ADD_FAILURE() << "pixel " << x << "," << y << " component " << k << ": "
                                      << got << " expected " << int(want[size_t(k)]);
                }
            }
        EXPECT_LE(worst, c.tolerance);
    }
}

TEST(PSDGraphic, ProbeAndHeader) {
    const Bytes good = MakePsd(Fixture(3, 3, 8, false, false));
    auto probe = [](const Bytes& b) {
        TMemoryStream s(b.data(), int64_t(b.size()));
        s.SetPosition(0);
        const bool r = TPSDGraphic::ProbeStream(s);
        EXPECT_EQ(s.Position(), 0);
        return r;
    };
    EXPECT_TRUE(probe(good));
    EXPECT_FALSE(probe(Bytes(good.begin(), good.begin() + 26)));
    Bytes lower = good;
    lower[1] = 'b';
    lower[2] = 'p';
    lower[3] = 's';
    EXPECT_TRUE(probe(lower));
    EXPECT_EQ(testhelp::LoadError<TPSDGraphic>(lower),
              "Cannot load image. Invalid or unexpected PSD image format.");
    Bytes version2 = good;
    version2[5] = 2;
    EXPECT_FALSE(probe(version2));

    TPSDGraphic g;
    TMemoryStream s(good.data(), int64_t(good.size()));
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Options, optBigEndian);
    EXPECT_EQ(p.Width, 13u);
    EXPECT_EQ(p.Height, 5u);
    EXPECT_EQ(p.ColorScheme, schemeRGB);
    EXPECT_EQ(p.BitsPerPixel, 24);
    EXPECT_EQ(p.Compression, compNone);
    EXPECT_EQ(s.Position(), int64_t(good.size() - 3 * 13 * 5));
}

// Damaged headers and sections: each refused with its message, never read out of bounds.
TEST(PSDGraphic, DamagedFilesFailCleanly) {
    const std::string invalid = "Cannot load image. Invalid or unexpected PSD image format.";
    const std::string color = "Invalid color format in PSD file.";
    const std::string read = "other: Stream read error";
    struct TCase {
        const char* name;
        TPsd file;
        size_t patchAt;  // 0: none
        std::vector<uint8_t> patch;
        std::string message;
    };
    const TPsd rgb = Fixture(3, 3, 8, true, false);
    const TCase cases[] = {
        {"no channel", Fixture(1, 1, 8, false, false), 12, {0, 0}, invalid},
        {"57 channels", Fixture(1, 1, 8, false, false), 12, {0, 57}, invalid},
        {"32 bits", Fixture(1, 1, 8, false, false), 22, {0, 32}, invalid},
        {"zero width", Fixture(1, 1, 8, false, false), 18, {0, 0, 0, 0}, invalid},
        {"rgb of two channels", Fixture(3, 2, 8, false, false), 0, {}, color},
        {"cmyk of three channels", Fixture(4, 3, 8, false, false), 0, {}, color},
        {"1-bit rgb", Fixture(3, 3, 1, false, false), 0, {}, color},
        {"hsl mode", Fixture(5, 3, 8, false, false), 0, {}, color},
        {"colour mode data beyond the file", rgb, 26, {0x7F, 0, 0, 0}, read},
        {"resources beyond the file", rgb, 30, {0xFF, 0xFF, 0xFF, 0xF0}, read},
        {"packed rows beyond the file", rgb, 48, {0xFF, 0xFF}, read},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = MakePsd(c.file);
        for (size_t i = 0; i < c.patch.size(); ++i)
            b[c.patchAt + i] = c.patch[i];
        EXPECT_EQ(testhelp::LoadError<TPSDGraphic>(b), c.message);
    }

    {
        SCOPED_TRACE("pixel limit");
        testhelp::TPixelLimit limit(64);
        EXPECT_EQ(testhelp::LoadError<TPSDGraphic>(MakePsd(rgb)).rfind("Image too large", 0), 0u);
    }
    // Every truncation of a compressed colour file and a raw 1-bit file fails with an error.
    for (const TPsd& f : {rgb, Fixture(0, 1, 1, false, true)}) {
        const Bytes full = MakePsd(f);
        for (size_t n = 0; n < full.size(); ++n) {
            const std::string e =
                testhelp::LoadError<TPSDGraphic>(Bytes(full.begin(), full.begin() + n));
            EXPECT_NE(e, "no error") << "length " << n;
        }
    }
}

TEST(PSDGraphic, LongIndexedColorDataIsCut) {
    // 300 colours a plane: the planes start 300 bytes apart, only 256 colours are kept.
    TPsd f = Fixture(2, 1, 8, false, false);
    f.colorData = IndexedColorData(300);
    TPSDGraphic g;
    testhelp::LoadBytes(g, MakePsd(f));
    ASSERT_EQ(g.Palette().size(), 256u);
    EXPECT_EQ(g.Palette()[200].rgbRed, 200);
    EXPECT_EQ(g.Palette()[200].rgbGreen, 55);
    EXPECT_EQ(g.Palette()[200].rgbBlue, uint8_t(200 * 7));
}

TEST(PSDGraphic, ProgressStages) {
    TPsd f = Fixture(3, 3, 8, true, false);
    f.height = 2;
    FillPlanes(f);
    TPSDGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    testhelp::LoadBytes(g, MakePsd(f));
    const std::vector<std::string> expected = {"0/0/0/Preparing...",
                                               "0/0/0/Loading data...",
                                               "0/0/0/Transfering...",
                                               "1/0/0/",
                                               "1/50/1/",
                                               "2/0/2/"};
    EXPECT_EQ(log, expected);
    // A failed load also ends the progress.
    log.clear();
    Bytes cut = MakePsd(f);
    cut.resize(cut.size() - 1);
    EXPECT_THROW(testhelp::LoadBytes(g, cut), EReadError);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().substr(0, 2), "2/");
}

// The reference's pixels as red, green, blue, alpha (alpha 255 for three components).
Bytes ReferenceRGBA(const std::string& tool, const fs::path& file, int& width, int& height) {
    std::string command;
    if (tool == "pillow")
        command =
            "/usr/bin/python3 -c \"import sys; from PIL import Image; im = "
            "Image.open(sys.argv[1]).convert('RGBA'); sys.stdout.buffer.write(b'P7\\nWIDTH %d\\n"
            "HEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nTUPLTYPE RGB_ALPHA\\nENDHDR\\n' % im.size + "
            "im.tobytes())\" " +
            testhelp::ShellQuote(file.string()) + " 2>/dev/null";
    else
        command = "convert " + testhelp::ShellQuote(file.string() + "[0]") +
                  " -depth 8 pam:- 2>/dev/null";
    bool ok = false;
    const testhelp::TPnm pnm = testhelp::ParsePnm(testhelp::RunCommand(command, ok));
    if (!ok || !pnm.valid || pnm.maxval != 255) return {};
    width = pnm.width;
    height = pnm.height;
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 4; ++k)
                rgba.push_back(uint8_t(k < 3 ? pnm.Sample(x, y, pnm.depth >= 3 ? k : 0)
                                       : pnm.depth == 4 || pnm.depth == 2
                                           ? pnm.Sample(x, y, pnm.depth - 1)
                                           : 255));
    return rgba;
}

// The corpus: merged images of 8-bit RGB and RGBA files equal the references exactly (no
// conversion is involved); files made by fuzzers load or fail with an imaging error.
TEST(PSDGraphic, CorpusConformance) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    struct TCase {
        const char* file;
        const char* reference;  // "pillow", "convert", "fails" or "any" (load or fail)
    };
    const TCase cases[] = {
        {"hopper.psd", "pillow"},
        {"hopper_merged.psd", "pillow"},
        {"rgba.psd", "pillow"},
        // Pillow refuses its layer records; ImageMagick reads the merged image.
        {"negative_top_left_layer.psd", "convert"},
        // The layer section claims more than the file holds.
        {"combined_larger_than_size.psd", "fails"},
        {"timeout-598843abc37fc080ec36a2699ebbd44f795d3a6f.psd", "any"},
        {"timeout-c8efc3fded6426986ba867a399791bae544f59bc.psd", "any"},
        {"timeout-dedc7a4ebd856d79b4359bbcc79e8ef231ce38f6.psd", "any"},
    };
    const bool havePillow = testhelp::HaveTool("/usr/bin/python3");
    const bool haveConvert = testhelp::HaveTool("convert");
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path path = root / c.file;
        if (!fs::exists(path)) continue;
        const std::string reference = c.reference;
        TPSDGraphic g;
        std::string error;
        try {
            g.LoadFromFile(path.string());
        } catch (const EImagingError& e) {
            error = e.what();
        }
        if (reference == "fails") {
            EXPECT_FALSE(error.empty());
            continue;
        }
        if (reference == "any") {
            if (error.empty()) testhelp::BitmapRGBA(g);
            continue;
        }
        ASSERT_EQ(error, "");
        if ((reference == "pillow" && !havePillow) || (reference == "convert" && !haveConvert))
            continue;
        int width = 0, height = 0;
        const Bytes want = ReferenceRGBA(reference, path, width, height);
        if (want.empty()) {
            std::printf("%s: reference %s unavailable, not compared\n", c.file, c.reference);
            continue;
        }
        ASSERT_EQ(g.Width(), width);
        ASSERT_EQ(g.Height(), height);
        EXPECT_TRUE(testhelp::BitmapRGBA(g) == want);
    }
}

}  // namespace
