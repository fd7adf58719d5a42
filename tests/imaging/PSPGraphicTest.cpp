// Paint Shop Pro loader: files written here block by block (versions 3 to 5, every depth, the
// three compressions, layers, palettes, transparency) must give back exactly the pixels they
// were made from; damaged files fail with the loader's messages and never crash.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/PSPGraphic.h"

using namespace testhelp;

namespace {

// One channel of a layer: its channel type and its plane (rows of the loader's row size).
struct TChannel {
    uint16_t Type;
    Bytes Plane;
    uint16_t BlockId = 5;
};

struct TLayer {
    uint8_t Type;
    std::vector<TChannel> Channels;
};

// What a test file holds; Write() lays it out as the format does.
struct TPspFile {
    uint16_t Major = 5;
    uint32_t Width = 0, Height = 0;
    uint16_t Depth = 24;
    uint16_t Compression = 0;
    bool Grey = false;
    Bytes Palette;  // blue, green, red, reserved per entry
    bool PaletteAfterLayers = false;
    std::vector<TLayer> Layers;
    bool UnknownBlock = false;  // an extra block of an unknown id before the layer bank

    Bytes Header(uint16_t id, const Bytes& contents) const {
        Bytes b;
        PutText(b, "~BK");
        Put8(b, 0);
        Put16LE(b, id);
        if (Major == 3) Put32LE(b, uint32_t(contents.size()));
        Put32LE(b, uint32_t(contents.size()));
        PutBytes(b, contents);
        return b;
    }

    Bytes Compress(const Bytes& plane) const {
        if (Compression == 0) return plane;
        if (Compression == 2) {
            uLongf size = compressBound(uLong(plane.size()));
            Bytes out(size);
            compress(out.data(), &size, plane.data(), uLong(plane.size()));
            out.resize(size);
            return out;
        }
        // Run-length: runs of 3 or more equal bytes as fills, the rest as copies.
        Bytes out;
        size_t i = 0;
        while (i < plane.size()) {
            size_t run = 1;
            while (i + run < plane.size() && plane[i + run] == plane[i] && run < 127)
                ++run;
            if (run >= 3) {
                Put8(out, 128 + uint32_t(run));
                Put8(out, plane[i]);
                i += run;
                continue;
            }
            size_t n = 0;
            while (i + n < plane.size() && n < 127 &&
                   !(i + n + 2 < plane.size() && plane[i + n] == plane[i + n + 1] &&
                     plane[i + n] == plane[i + n + 2]))
                ++n;
            Put8(out, uint32_t(n));
            out.insert(out.end(), plane.begin() + long(i), plane.begin() + long(i + n));
            i += n;
        }
        return out;
    }

    Bytes Write() const {
        Bytes f;
        PutText(f, "Paint Shop Pro Image File\n\x1a");
        f.resize(32, 0);
        Put16LE(f, Major);
        Put16LE(f, 0);

        Bytes a;
        if (Major >= 4) Put32LE(a, 46);
        Put32LE(a, Width);
        Put32LE(a, Height);
        Bytes resolution(8, 0);  // 72.0 as a little-endian double
        resolution[6] = 0x52;
        resolution[7] = 0x40;
        PutBytes(a, resolution);
        Put8(a, 1);
        Put16LE(a, Compression);
        Put16LE(a, Depth);
        Put16LE(a, 1);
        Put32LE(a, Depth == 24 ? 1u << 24 : 1u << Depth);
        Put8(a, Grey);
        Put32LE(a, 0);
        Put32LE(a, 0);
        Put16LE(a, uint32_t(Layers.size()));
        Put32LE(a, 0);
        PutBytes(f, Header(0, a));

        Bytes palette;
        if (!Palette.empty()) {
            Bytes p;
            if (Major >= 4) Put32LE(p, 8);
            Put32LE(p, uint32_t(Palette.size() / 4));
            PutBytes(p, Palette);
            palette = Header(2, p);
        }
        if (!PaletteAfterLayers) PutBytes(f, palette);
        if (UnknownBlock) PutBytes(f, Header(9, Bytes(33, 0xAB)));

        Bytes bank;
        for (const TLayer& layer : Layers) {
            Bytes l;
            if (Major == 3) {
                Bytes name(256, 0);
                PutText(name, "");
                PutBytes(l, name);
                Bytes attributes(115, 0);
                attributes[0] = layer.Type;
                PutBytes(l, attributes);
                Put16LE(l, 1);
                Put16LE(l, uint32_t(layer.Channels.size()));
            } else {
                const std::string name = "Background";
                Put32LE(l, uint32_t(4 + 2 + name.size() + 115 + 3));
                Put16LE(l, uint32_t(name.size()));
                PutText(l, name);
                Bytes attributes(115 + 3, 0);  // three bytes of later fields
                attributes[0] = layer.Type;
                PutBytes(l, attributes);
                Put32LE(l, 8);
                Put16LE(l, 1);
                Put16LE(l, uint32_t(layer.Channels.size()));
            }
            for (const TChannel& ch : layer.Channels) {
                const Bytes packed = Compress(ch.Plane);
                Bytes c;
                if (Major >= 4) Put32LE(c, 16);
                Put32LE(c, uint32_t(packed.size()));
                Put32LE(c, uint32_t(ch.Plane.size()));
                Put16LE(c, ch.Type == 0 && layer.Channels.size() > 3 ? 1 : 0);
                Put16LE(c, ch.Type);
                PutBytes(c, packed);
                PutBytes(l, Header(ch.BlockId, c));
            }
            PutBytes(bank, Header(4, l));
        }
        PutBytes(f, Header(3, bank));
        if (PaletteAfterLayers) PutBytes(f, palette);
        return f;
    }
};

uint32_t RowSize(uint32_t width, uint16_t depth) {
    return depth == 1 ? (width + 7) / 8 : depth == 4 ? width / 2 + 1 : width;
}

// A plane of the loader's row size whose pixels (of depth bits) follow a pattern; seed varies it.
Bytes Plane(uint32_t w, uint32_t h, uint16_t depth, int seed) {
    const uint32_t rowSize = RowSize(w, depth);
    Bytes plane(size_t(rowSize) * h, 0);
    const uint32_t top = depth >= 8 ? 255 : (1u << depth) - 1;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            // Long runs in the left half, noise in the right half.
            const uint32_t v =
                (x < w / 2 ? (y * 7 + uint32_t(seed)) : (x * 13 + y * 5 + uint32_t(seed) * 31)) %
                (top + 1);
            uint8_t& b = plane[size_t(y) * rowSize + (depth >= 8 ? x : x * depth / 8)];
            if (depth >= 8)
                b = uint8_t(v);
            else
                b = uint8_t(b | v << (8 - depth - (x * depth) % 8));
        }
    return plane;
}

uint32_t PixelValue(const Bytes& plane, uint32_t w, uint16_t depth, uint32_t x, uint32_t y) {
    const uint8_t b = plane[size_t(y) * RowSize(w, depth) + (depth >= 8 ? x : x * depth / 8)];
    if (depth >= 8) return b;
    return (b >> (8 - depth - (x * depth) % 8)) & ((1u << depth) - 1);
}

Bytes PaletteOf(int entries) {
    Bytes p;
    for (int i = 0; i < entries; ++i) {
        Put8(p, uint32_t(i * 3));        // blue
        Put8(p, uint32_t(255 - i));      // green
        Put8(p, uint32_t(i * 7 % 256));  // red
        Put8(p, 0);
    }
    return p;
}

// The RGBA pixels the file should show: the first usable layer's planes through the palette,
// a grey ramp, or straight.
Bytes Expected(const TPspFile& file) {
    const TLayer* shown = nullptr;
    for (const TLayer& l : file.Layers)
        if (!shown && (file.Major == 3 ? l.Type == 0 : l.Type <= 1)) shown = &l;
    const Bytes* planes[4] = {};
    for (const TChannel& c : shown->Channels)
        if (c.Type < 4 && c.BlockId == 5) planes[c.Type] = &c.Plane;
    const bool alpha = file.Depth == 24 && shown->Channels.size() > 3;
    Bytes rgba;
    for (uint32_t y = 0; y < file.Height; ++y)
        for (uint32_t x = 0; x < file.Width; ++x) {
            if (file.Depth == 24) {
                for (int c : {1, 2, 3})
                    rgba.push_back(planes[c] ? PixelValue(*planes[c], file.Width, 24, x, y) : 0);
                rgba.push_back(alpha && planes[0] ? PixelValue(*planes[0], file.Width, 24, x, y)
                                                  : 255);
                continue;
            }
            const uint32_t v = PixelValue(*planes[0], file.Width, file.Depth, x, y);
            if (file.Palette.empty()) {
                const uint32_t level = v * 255 / ((1u << file.Depth) - 1);
                rgba.insert(rgba.end(), {uint8_t(level), uint8_t(level), uint8_t(level), 255});
            } else {
                rgba.insert(rgba.end(), {file.Palette[4 * v + 2], file.Palette[4 * v + 1],
                                         file.Palette[4 * v], 255});
            }
        }
    return rgba;
}

TLayer ColourLayer(uint32_t w, uint32_t h, bool alpha, uint8_t type = 1, int seed = 0) {
    TLayer l{type,
             {{1, Plane(w, h, 24, seed + 1)},
              {2, Plane(w, h, 24, seed + 2)},
              {3, Plane(w, h, 24, seed + 3)}}};
    if (alpha) l.Channels.push_back({0, Plane(w, h, 24, seed + 4)});
    return l;
}

TPspFile Colour(uint16_t major, uint16_t compression, bool alpha, uint32_t w = 13, uint32_t h = 5) {
    TPspFile f;
    f.Major = major;
    f.Width = w;
    f.Height = h;
    f.Compression = compression;
    f.Layers = {ColourLayer(w, h, alpha, major == 3 ? 0 : 1)};
    return f;
}

TPspFile Indexed(uint16_t major, uint16_t depth, uint16_t compression, uint32_t w, bool grey) {
    TPspFile f;
    f.Major = major;
    f.Width = w;
    f.Height = 4;
    f.Depth = depth;
    f.Grey = grey;
    f.Compression = compression;
    if (!grey) f.Palette = PaletteOf(1 << depth);
    f.Layers = {TLayer{uint8_t(major == 3 ? 0 : 1), {{0, Plane(w, 4, depth, 5)}}}};
    return f;
}

std::string Load(TPSPGraphic& g, const Bytes& bytes) {
    try {
        LoadBytes(g, bytes);
    } catch (const EImagingError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(PSPGraphic, FilesRoundTripExactly) {
    struct TCase {
        const char* Name;
        TPspFile File;
        TPixelFormat Format;
    };
    std::vector<TCase> cases;
    for (uint16_t major : {3, 4, 5})
        for (uint16_t compression : {0, 1, 2}) {
            const std::string tag =
                "v" + std::to_string(major) + " c" + std::to_string(compression);
            cases.push_back({"rgb", Colour(major, compression, false), pf24bit});
            cases.push_back({"rgb with transparency", Colour(major, compression, true), pf32bit});
            cases.push_back({"8-bit palette", Indexed(major, 8, compression, 9, false), pf8bit});
            cases.push_back({"8-bit grey", Indexed(major, 8, compression, 9, true), pf8bit});
            cases.push_back({"4-bit odd width", Indexed(major, 4, compression, 7, false), pf4bit});
            cases.push_back({"4-bit even width", Indexed(major, 4, compression, 8, false), pf4bit});
            cases.push_back({"1-bit", Indexed(major, 1, compression, 19, false), pf1bit});
        }
    {
        // Layers before the first raster layer are skipped; later ones are not shown.
        TPspFile f = Colour(5, 2, false);
        f.Layers.insert(f.Layers.begin(), ColourLayer(13, 5, false, 3, 40));
        f.Layers.insert(f.Layers.begin(), ColourLayer(13, 5, false, 2, 50));
        f.Layers.push_back(ColourLayer(13, 5, true, 1, 60));
        cases.push_back({"several layers", f, pf24bit});
        TPspFile v3 = Colour(3, 1, false);
        v3.Layers.insert(v3.Layers.begin(), ColourLayer(13, 5, false, 1, 40));
        cases.push_back({"version 3 floating selection first", v3, pf24bit});
    }
    {
        // Unknown blocks, channel blocks of other ids and channels of other types are skipped.
        TPspFile f = Colour(5, 1, true);
        f.UnknownBlock = true;
        auto& channels = f.Layers[0].Channels;
        channels.insert(channels.begin() + 1, TChannel{9, Plane(13, 5, 24, 70)});
        channels.insert(channels.begin(), TChannel{1, Plane(13, 5, 24, 80), 7});
        cases.push_back({"unknown blocks and channels", f, pf32bit});
        TPspFile p = Indexed(4, 8, 2, 9, false);
        p.PaletteAfterLayers = true;
        cases.push_back({"palette after the layers", p, pf8bit});
        TPspFile big = Colour(5, 1, false, 300, 3);
        cases.push_back({"runs longer than a packet", big, pf24bit});
    }
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " v" + std::to_string(c.File.Major) + " compression " +
                     std::to_string(c.File.Compression));
        TPSPGraphic g;
        ASSERT_EQ(Load(g, c.File.Write()), "");
        EXPECT_EQ(g.PixelFormat(), c.Format);
        ASSERT_EQ(g.Width(), int(c.File.Width));
        ASSERT_EQ(g.Height(), int(c.File.Height));
        EXPECT_EQ(BitmapRGBA(g), Expected(c.File));
    }
}

TEST(PSPGraphic, PropertiesAndProbe) {
    TPspFile f = Colour(4, 2, false);
    Bytes bytes = f.Write();
    bytes[36 + 10 + 4 + 16] = 2;  // resolution metric: per centimetre
    TPSPGraphic g;
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    EXPECT_TRUE(TPSPGraphic::ProbeStream(s));
    EXPECT_EQ(s.Position(), 0);
    ASSERT_TRUE(g.ReadProperties(s, 0));
    const TImageProperties& p = g.ImageProperties();
    EXPECT_EQ(p.Version, 4u);
    EXPECT_EQ(p.Width, 13u);
    EXPECT_EQ(p.Height, 5u);
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.SamplesPerPixel, 3);
    EXPECT_EQ(p.BitsPerPixel, 24);
    EXPECT_EQ(p.ColorScheme, schemeRGB);
    EXPECT_EQ(p.Compression, compLZ77);
    EXPECT_FLOAT_EQ(p.XResolution, 72.0f * 2.54f);
    EXPECT_FLOAT_EQ(p.YResolution, p.XResolution);

    const TPspFile grey = Indexed(3, 8, 1, 9, true);
    Bytes gb = grey.Write();
    TMemoryStream gs(gb.data(), int64_t(gb.size()));
    ASSERT_TRUE(g.ReadProperties(gs, 0));
    EXPECT_EQ(g.ImageProperties().ColorScheme, schemeGray);
    EXPECT_EQ(g.ImageProperties().Compression, compRLE);

    // The signature is compared without regard to case over its 25 characters; version 3 on.
    Bytes lower = bytes;
    for (int i = 0; i < 25; ++i)
        lower[size_t(i)] = uint8_t(std::tolower(lower[size_t(i)]));
    Bytes v2 = bytes;
    v2[32] = 2;
    struct {
        Bytes Data;
        bool Probe;
    } probes[] = {{lower, true},
                  {v2, false},
                  {Bytes(bytes.begin(), bytes.begin() + 36), false},
                  {Bytes(bytes.begin(), bytes.begin() + 37), true},
                  {Bytes(40, 'P'), false}};
    for (auto& probe : probes) {
        TMemoryStream ps(probe.Data.data(), int64_t(probe.Data.size()));
        EXPECT_EQ(TPSPGraphic::ProbeStream(ps), probe.Probe);
        EXPECT_EQ(ps.Position(), 0);
    }
}

TEST(PSPGraphic, DamagedFilesFailWithMessages) {
    const std::string invalid = "Cannot load image. Invalid or unexpected PSP image format.";
    const std::string colour = "Invalid color format in PSP file.";
    const std::string scheme =
        "Cannot load image. The compression scheme is not supported for PSP files.";
    const std::string compressionError = "Cannot load image. Compression error found in PSP file.";
    const Bytes good = Colour(5, 2, false).Write();
    // Offsets in the version 5 file: attributes at 36 + 10 + 4, the layer bank block header
    // after the 46-byte attributes block.
    const size_t attributes = 36 + 10 + 4;
    const size_t bank = 36 + 10 + 46;
    const size_t layer = bank + 10;
    const size_t layerChunk = layer + 10;
    const size_t firstChannel = layerChunk + 4 + 2 + 10 + 118 + 8;
    auto with = [&](size_t at, std::initializer_list<uint8_t> values, Bytes base) {
        for (uint8_t v : values)
            base[at++] = v;
        return base;
    };
    struct {
        const char* Name;
        Bytes Data;
        std::string Message;
    } cases[] = {
        {"signature", with(0, {'Q'}, good), invalid},
        {"version 2", with(32, {2}, good), invalid},
        {"first block identifier", with(36, {'!'}, good), invalid},
        {"depth 16", with(attributes + 19, {16}, good), colour},
        {"depth 32", with(attributes + 19, {32}, good), colour},
        {"jpeg", with(attributes + 17, {3}, good), scheme},
        {"unknown compression", with(attributes + 17, {9}, good), scheme},
        {"zero width", with(attributes, {0}, good), invalid},
        {"no layer bank", with(bank + 4, {7}, good), invalid},
        {"layer longer than the bank", with(layer + 6, {0xFF, 0xFF, 0, 0}, good), invalid},
        {"layer chunk too short", with(layerChunk, {20, 0, 0, 0}, good), invalid},
        {"layer chunk past the layer", with(layerChunk, {0xFF, 0xFF, 0, 0}, good), invalid},
        {"channel past the layer", with(firstChannel + 6, {0xFF, 0xFF, 0, 0}, good), invalid},
        {"channel chunk too short", with(firstChannel + 10, {12, 0, 0, 0}, good), invalid},
        {"compressed length past the channel",
         with(firstChannel + 14, {0xFF, 0xFF, 0xFF, 0x7F}, good), invalid},
        {"damaged deflate", with(firstChannel + 26, {0x00, 0x00}, good), compressionError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPSPGraphic g;
        EXPECT_EQ(Load(g, c.Data), c.Message);
    }

    // Cut anywhere, a file fails with an imaging error or shows what it holds; a vector layer
    // alone is no picture.
    for (size_t n = 0; n < good.size(); ++n) {
        TPSPGraphic g;
        Load(g, Bytes(good.begin(), good.begin() + long(n)));
    }
    TPspFile vector = Colour(5, 0, false);
    vector.Layers[0].Type = 3;
    TPSPGraphic g;
    EXPECT_EQ(Load(g, vector.Write()), invalid);
}

TEST(PSPGraphic, PixelLimitComesBeforeAllocation) {
    TPspFile f = Colour(5, 1, false);
    Bytes bytes = f.Write();
    bytes[36 + 14 + 2] = 0x10;  // width 13 + 2^20
    bytes[36 + 14 + 6] = 0x10;  // height 5 + 2^20
    TPixelLimit limit(1u << 20);
    TPSPGraphic g;
    EXPECT_EQ(Load(g, bytes).rfind("Image too large", 0), 0u);
}

TEST(PSPGraphic, ProgressReportsEachStage) {
    TPSPGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    TPspFile f = Colour(5, 0, false, 3, 4);
    f.Layers.insert(f.Layers.begin(), ColourLayer(3, 4, false, 3));
    ASSERT_EQ(Load(g, f.Write()), "");
    const std::vector<std::string> expected = {"0/0/0/Preparing...",
                                               "2/0/0/",
                                               "0/0/0/Loading data...",
                                               "2/0/0/",
                                               "0/0/0/Loading data...",
                                               "2/0/0/",
                                               "0/0/0/Transfering...",
                                               "1/0/0/",
                                               "1/25/1/",
                                               "1/50/2/",
                                               "1/75/3/",
                                               "2/0/4/"};
    EXPECT_EQ(log, expected);
}
