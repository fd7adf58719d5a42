// RLA loader: files written here (bottom-up and top-down, with and without matte, 8 and 16 bits,
// with gamma) decode exactly, decode like ImageMagick where it reads them, and damaged files
// fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/RLAGraphic.h"

using namespace testhelp;

namespace {

struct TRlaFile {
    int Width = 0, Height = 0;
    bool BottomUp = true;
    int Channels = 3;
    int Matte = 0;
    int Bits = 8;
    std::string Gamma = "1.0";
    std::string Kind = "rgb";
    int Seed = 0;

    // Sample of channel c (matte last) at image pixel (x, y), y counted from the top; samples
    // of more than 16 bits (which the loader refuses) are written as 16-bit values.
    uint32_t Sample(int c, int x, int y) const {
        const uint32_t top = (1u << std::min(Bits, 16)) - 1;
        if (x < Width / 3) return uint32_t(c * 60 + y * 9 + Seed) % (top + 1);  // runs
        return uint32_t(x * 37 + y * 11 + c * 71 + Seed * 5 + x * x * (Bits > 8 ? 313 : 1)) %
               (top + 1);
    }

    static Bytes Encode(const Bytes& raw) {
        Bytes out;
        size_t i = 0;
        while (i < raw.size()) {
            size_t run = 1;
            while (i + run < raw.size() && raw[i + run] == raw[i] && run < 128)
                ++run;
            if (run >= 2) {
                Put8(out, uint32_t(run - 1));
                Put8(out, raw[i]);
                i += run;
                continue;
            }
            size_t n = 0;
            while (i + n < raw.size() && n < 128 &&
                   !(i + n + 1 < raw.size() && raw[i + n] == raw[i + n + 1]))
                ++n;
            Put8(out, uint32_t(256 - n));
            out.insert(out.end(), raw.begin() + long(i), raw.begin() + long(i + n));
            i += n;
        }
        return out;
    }

    Bytes Write() const {
        Bytes h(740, 0);
        auto put16 = [&](size_t at, int v) {
            h[at] = uint8_t(v >> 8);
            h[at + 1] = uint8_t(v);
        };
        auto text = [&](size_t at, const std::string& s) {
            std::copy(s.begin(), s.end(), h.begin() + long(at));
        };
        const int bottom = BottomUp ? 0 : Height - 1, top = BottomUp ? Height - 1 : 0;
        for (size_t window : {0, 8}) {
            put16(window, 0);
            put16(window + 2, Width - 1);
            put16(window + 4, bottom);
            put16(window + 6, top);
        }
        put16(16, 1);
        put16(20, Channels);
        put16(22, Matte);
        put16(26, 0xFFFE);
        text(28, Gamma);
        text(44, "0.670 0.330");
        text(144, "test");
        text(580, Kind);
        put16(658, Bits);
        put16(662, Bits);

        const int channels = Channels + (Matte > 0 ? 1 : 0);
        std::vector<Bytes> records;
        for (int i = 0; i < Height; ++i) {
            const int y = BottomUp ? Height - 1 - i : i;
            Bytes record;
            for (int c = 0; c < channels; ++c) {
                Bytes raw;
                if (Bits <= 8) {
                    for (int x = 0; x < Width; ++x)
                        raw.push_back(uint8_t(Sample(c, x, y)));
                } else {
                    for (int x = 0; x < Width; ++x)
                        raw.push_back(uint8_t(Sample(c, x, y) >> 8));
                    for (int x = 0; x < Width; ++x)
                        raw.push_back(uint8_t(Sample(c, x, y)));
                }
                const Bytes packed = Encode(raw);
                Put16BE(record, uint32_t(packed.size()));
                PutBytes(record, packed);
            }
            records.push_back(record);
        }
        Bytes f = h;
        uint32_t offset = uint32_t(740 + 4 * Height);
        for (const Bytes& r : records) {
            Put32BE(f, offset);
            offset += uint32_t(r.size());
        }
        for (const Bytes& r : records)
            PutBytes(f, r);
        return f;
    }

    // RGBA of the picture; colour samples pass table (256 entries) after reduction to 8 bits.
    Bytes Expected(const std::vector<uint8_t>& table) const {
        Bytes rgba;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                for (int c = 0; c < 4; ++c) {
                    if (c == 3 && Matte == 0) {
                        rgba.push_back(255);
                        continue;
                    }
                    uint32_t v = Sample(c, x, y);
                    if (Bits > 8) v = v * 255 / 65535;
                    rgba.push_back(c == 3 ? uint8_t(v) : table[v]);
                }
        return rgba;
    }
};

std::vector<uint8_t> Identity() {
    std::vector<uint8_t> t(256);
    for (int i = 0; i < 256; ++i)
        t[size_t(i)] = uint8_t(i);
    return t;
}

std::string Load(TRLAGraphic& g, const Bytes& bytes) {
    try {
        LoadBytes(g, bytes);
    } catch (const EImagingError& e) {
        return e.what();
    }
    return "";
}

TRlaFile File(int w, int h, int matte = 0, bool bottomUp = true, int bits = 8, int seed = 0) {
    TRlaFile f;
    f.Width = w;
    f.Height = h;
    f.Matte = matte;
    f.BottomUp = bottomUp;
    f.Bits = bits;
    f.Seed = seed;
    return f;
}

}  // namespace

TEST(RLAGraphic, FilesRoundTripExactly) {
    struct TCase {
        const char* Name;
        TRlaFile File;
        TPixelFormat Format;
    } cases[] = {
        {"rgb bottom-up", File(17, 6), pf24bit},
        {"rgb top-down", File(17, 6, 0, false), pf24bit},
        {"matte", File(9, 5, 1), pf32bit},
        {"matte top-down", File(9, 5, 1, false), pf32bit},
        {"16-bit", File(11, 4, 0, true, 16), pf24bit},
        {"16-bit matte", File(11, 4, 1, true, 16, 3), pf32bit},
        {"one pixel", File(1, 1, 0, false), pf24bit},
        {"long runs", File(600, 2), pf24bit},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRLAGraphic g;
        ASSERT_EQ(Load(g, c.File.Write()), "");
        EXPECT_EQ(g.PixelFormat(), c.Format);
        ASSERT_EQ(g.Width(), c.File.Width);
        ASSERT_EQ(g.Height(), c.File.Height);
        EXPECT_EQ(BitmapRGBA(g), c.File.Expected(Identity()));
        EXPECT_EQ(g.ImageProperties().RLABottomUp, c.File.BottomUp);
    }
}

TEST(RLAGraphic, PropertiesAndProbe) {
    TRlaFile f = File(7, 3, 1);
    f.Gamma = " 2.2 ";
    f.Kind = "RGB";
    Bytes bytes = f.Write();
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    EXPECT_TRUE(TRLAGraphic::ProbeStream(s));
    EXPECT_EQ(s.Position(), 0);
    TRLAGraphic g;
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Width, 7u);
    EXPECT_EQ(p.Height, 3u);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.BitsPerPixel, 32);
    EXPECT_EQ(p.ColorScheme, schemeRGBA);
    EXPECT_EQ(p.Compression, compRLE);
    EXPECT_EQ(p.Options, optBigEndian);
    EXPECT_FLOAT_EQ(p.Gamma, 2.2f);
    EXPECT_TRUE(p.RLABottomUp);

    struct {
        const char* Gamma;
        float Value;
    } gammas[] = {{"1.8", 1.8f},  {"", 1.0f},    {"abc", 1.0f},
                  {"2.2x", 1.0f}, {"nan", 1.0f}, {"0.45", 0.45f}};
    for (const auto& c : gammas) {
        TRlaFile gf = File(2, 2);
        gf.Gamma = c.Gamma;
        const Bytes b = gf.Write();
        TMemoryStream gs(b.data(), int64_t(b.size()));
        ASSERT_TRUE(g.ReadProperties(gs, 0));
        EXPECT_FLOAT_EQ(g.ImageProperties().Gamma, c.Value) << c.Gamma;
    }

    TRlaFile xyz = File(2, 2);
    xyz.Kind = "xyz";
    TRlaFile other = File(2, 2);
    other.Kind = "rgba";
    Bytes revision = File(2, 2).Write();
    revision[27] = 0xFD;
    struct {
        Bytes Data;
        bool Probe;
    } probes[] = {{xyz.Write(), true},
                  {other.Write(), false},
                  {revision, false},
                  {Bytes(bytes.begin(), bytes.begin() + 740), false}};
    for (auto& probe : probes) {
        TMemoryStream ps(probe.Data.data(), int64_t(probe.Data.size()));
        EXPECT_EQ(TRLAGraphic::ProbeStream(ps), probe.Probe);
        EXPECT_EQ(ps.Position(), 0);
    }
}

TEST(RLAGraphic, GammaOtherThanOneIsApplied) {
    for (const char* text : {"2.2", "0.8"}) {
        SCOPED_TRACE(text);
        TRlaFile f = File(16, 3);
        f.Gamma = text;
        TRLAGraphic g;
        ASSERT_EQ(Load(g, f.Write()), "");
        // The display gamma 2.2 and the file's gamma together: v' = 255 (v / 255)^(1 / (2.2 g)).
        const double exponent = 1.0 / (2.2 * std::stod(text));
        std::vector<uint8_t> table(256);
        for (int i = 0; i < 256; ++i)
            table[size_t(i)] = uint8_t(std::lround(std::pow(i / 255.0, exponent) * 255.0));
        EXPECT_EQ(BitmapRGBA(g), f.Expected(table));
        EXPECT_TRUE(g.ImageProperties().Options & optGammaGiven);

        // The same graphic loading a file without gamma shows it uncorrected.
        TRlaFile plain = File(16, 3);
        plain.Gamma = "unreadable";
        ASSERT_EQ(Load(g, plain.Write()), "");
        EXPECT_EQ(BitmapRGBA(g), plain.Expected(Identity()));
        EXPECT_FALSE(g.ImageProperties().Options & optGammaGiven);
    }
}

TEST(RLAGraphic, DamagedFilesFailCleanly) {
    const Bytes good = File(9, 4).Write();
    auto with = [](Bytes b, size_t at, std::initializer_list<uint8_t> values) {
        for (uint8_t v : values)
            b[at++] = v;
        return b;
    };
    TRlaFile xyz = File(4, 2);
    xyz.Kind = "xyz";
    TRlaFile grey = File(4, 2);
    grey.Channels = 1;
    TRlaFile twoMattes = File(4, 2);
    twoMattes.Matte = 2;
    TRlaFile deep = File(4, 2);
    deep.Bits = 32;
    struct {
        const char* Name;
        Bytes Data;
        std::string Message;
    } cases[] = {
        {"other channel kind", with(good, 580, {'c', 'm', 'y'}),
         "Cannot load image. Invalid or unexpected RLA image format."},
        {"xyz", xyz.Write(), "Color conversion failed. Could not find a proper method."},
        {"one channel", grey.Write(),
         "Sample count per pixel does not correspond to the given color scheme."},
        {"two mattes", twoMattes.Write(),
         "Sample count per pixel does not correspond to the given color scheme."},
        {"32 bits", deep.Write(),
         "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
        {"right before left", with(good, 10, {0xFF, 0xF0}),
         "Cannot load image. Invalid or unexpected RLA image format."},
        {"offset past the end", with(good, 740, {0x7F, 0xFF, 0xFF, 0xFF}), "Stream read error"},
        {"offset at the last byte",
         with(good, 744, {0, 0, uint8_t((good.size() - 1) >> 8), uint8_t(good.size() - 1)}),
         "Stream read error"},
        {"record length past the end", with(good, 740 + 16, {0xFF, 0xFF}), "Stream read error"},
        {"short header", Bytes(good.begin(), good.begin() + 700), "Stream read error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRLAGraphic g;
        EXPECT_EQ(Load(g, c.Data), c.Message);
    }
    for (size_t n = 0; n < good.size(); ++n) {
        TRLAGraphic g;
        const std::string message = Load(g, Bytes(good.begin(), good.begin() + long(n)));
        EXPECT_FALSE(message.empty()) << n;
    }
    TPixelLimit limit(1000);
    TRLAGraphic g;
    EXPECT_EQ(Load(g, File(100, 11).Write()).rfind("Image too large", 0), 0u);
}

TEST(RLAGraphic, ProgressMovesRowByRow) {
    TRLAGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    ASSERT_EQ(Load(g, File(3, 4).Write()), "");
    const std::vector<std::string> expected = {
        "0/0/0/Transfering...", "1/0/0/", "1/25/1/", "1/50/2/", "1/75/3/", "2/0/4/"};
    EXPECT_EQ(log, expected);
}

// GraphicsMagick and ImageMagick read 8-bit bottom-up RLA files (and ignore the gamma); where
// they read a file, its pixels must be the same here, exactly. GraphicsMagick must read every
// one. ImageMagick 6.9 refuses multi-row files as corrupt and gives no image for one-row files,
// so it is compared only where it does give one.
TEST(RLAGraphic, DecodesLikeGraphicsMagickAndImageMagick) {
    struct TTool {
        const char* Program;
        const char* Command;
        bool Required;
    };
    std::vector<TTool> tools;
    if (HaveTool("gm")) tools.push_back({"gm", "gm convert ", true});
    if (HaveTool("convert")) tools.push_back({"convert", "convert ", false});
    if (tools.empty()) GTEST_SKIP() << "neither GraphicsMagick nor ImageMagick present";
    const auto dir = std::filesystem::temp_directory_path() / "velkaro_rla_conformance";
    std::filesystem::create_directories(dir);
    TRlaFile noGamma = File(23, 9, 0, true, 8, 4);
    noGamma.Gamma = "";
    const TRlaFile files[] = {File(17, 6),
                              File(9, 5, 1),
                              File(300, 3, 0, true, 8, 2),
                              File(1, 1, 1),
                              File(64, 64, 1, true, 8, 9),
                              File(5, 1),
                              noGamma};
    int n = 0;
    for (const TRlaFile& f : files) {
        const auto path = dir / ("f" + std::to_string(n++) + ".rla");
        SCOPED_TRACE(path.string());
        const Bytes bytes = f.Write();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        TRLAGraphic g;
        ASSERT_EQ(Load(g, bytes), "");
        for (const TTool& tool : tools) {
            SCOPED_TRACE(tool.Program);
            bool ok = false;
            const TPnm pnm = ParsePnm(
                RunCommand(tool.Command + ShellQuote(path.string()) + " pam:- 2>/dev/null", ok));
            if (!ok || !pnm.valid) {
                EXPECT_FALSE(tool.Required) << "the reference did not read the file";
                continue;
            }
            ASSERT_EQ(pnm.width, g.Width());
            ASSERT_EQ(pnm.height, g.Height());
            Bytes reference;
            for (int y = 0; y < pnm.height; ++y)
                for (int x = 0; x < pnm.width; ++x)
                    for (int c = 0; c < 4; ++c)
                        reference.push_back(c < 3 || pnm.depth == 4
                                                ? uint8_t(pnm.Sample(x, y, c) * 255 / pnm.maxval)
                                                : 255);
            EXPECT_EQ(BitmapRGBA(g), reference);
        }
    }
    std::filesystem::remove_all(dir);
}
