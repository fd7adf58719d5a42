// Dr. Halo CUT loader: run-length rows written here, the palette file beside the image (found
// or not, large and small), cut data, and conformance with ImageMagick's reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/CUTGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

// One row: runs of three or more equal bytes as run packets, the rest as literal packets, a
// 0 at the end, all after the row's byte count.
Bytes EncodeRow(const Bytes& row) {
    Bytes packets;
    size_t i = 0;
    while (i < row.size()) {
        size_t j = i;
        while (j < row.size() && row[j] == row[i] && j - i < 127)
            ++j;
        if (j - i >= 3) {
            packets.insert(packets.end(), {uint8_t(0x80 | (j - i)), row[i]});
            i = j;
            continue;
        }
        j = i;
        while (j < row.size() && j - i < 127 &&
               !(j + 2 < row.size() && row[j] == row[j + 1] && row[j] == row[j + 2]))
            ++j;
        packets.push_back(uint8_t(j - i));
        packets.insert(packets.end(), row.begin() + i, row.begin() + j);
        i = j;
    }
    packets.push_back(0);
    Bytes out;
    Put16LE(out, uint32_t(packets.size()));
    PutBytes(out, packets);
    return out;
}

using TPattern = std::function<uint8_t(int x, int y)>;

Bytes CutFile(int w, int h, const TPattern& pattern) {
    Bytes file;
    Put16LE(file, uint32_t(w));
    Put16LE(file, uint32_t(h));
    Put16LE(file, 0);
    for (int y = 0; y < h; ++y) {
        Bytes row;
        for (int x = 0; x < w; ++x)
            row.push_back(pattern(x, y));
        PutBytes(file, EncodeRow(row));
    }
    return file;
}

struct TRGB {
    uint8_t r, g, b;
};

TRGB PaletteColour(size_t i) {
    return {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)};
}

// A Dr. Halo palette file: "AH" header with the highest index at offset 12 and the largest
// component values 255, then the entries (three 16-bit values each) in 512-byte blocks that
// no entry crosses. highestIndex may exceed 255; the colours repeat. With noise the high
// bytes of red and green are set; only the low bytes count.
Bytes PaletteFile(uint32_t highestIndex, bool pad = true, bool noise = true) {
    Bytes file = {'A', 'H'};
    Put16LE(file, 0x0A);  // version
    Put16LE(file, 0);     // size
    file.insert(file.end(), {0x21, 0});
    Put16LE(file, 0);  // board
    Put16LE(file, 0);  // graphics mode
    Put16LE(file, highestIndex);
    for (int i = 0; i < 3; ++i)
        Put16LE(file, 255);
    std::string id = "Dr. Halo";
    id.resize(20, '\0');
    PutText(file, id);
    for (uint32_t i = 0; i <= highestIndex; ++i) {
        if (file.size() % 512 > 506) file.resize(file.size() + 512 - file.size() % 512);
        const TRGB c = PaletteColour(i % 256);
        // The high bytes are noise that must be ignored.
        Put16LE(file, c.r | (noise ? 0x1100 : 0));
        Put16LE(file, c.g | (noise ? 0x2200 : 0));
        Put16LE(file, c.b);
    }
    if (pad) file.resize((file.size() + 511) / 512 * 512);
    return file;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class CUTGraphic : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / "velkaro_cut_test";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

const TPattern kPattern = [](int x, int y) { return uint8_t((x / 4) * 40 + y * 3 + (x % 3)); };

TEST_F(CUTGraphic, PalettesBesideTheImage) {
    const int w = 29, h = 6;
    const Bytes cut = CutFile(w, h, kPattern);
    const struct {
        const char* name;
        const char* image;
        const char* palette;  // null: none
        uint32_t highest;
        bool pad;
        size_t entries;  // 0: gray ramp
    } cases[] = {
        {"no palette file: gray", "a.cut", nullptr, 0, true, 0},
        {"full palette over four blocks", "b.cut", "b.pal", 255, true, 256},
        {"upper-case names", "C.CUT", "C.PAL", 255, true, 256},
        {"small palette", "d.cut", "d.pal", 15, true, 16},
        {"highest index above 255 is cut", "e.cut", "e.pal", 700, true, 256},
        {"last block not padded", "f.cut", "f.pal", 200, false, 201},
        {"image without extension", "g", "g.pal", 255, true, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir_ / c.image, cut);
        if (c.palette != nullptr) WriteFile(dir_ / c.palette, PaletteFile(c.highest, c.pad));
        TCUTGraphic g;
        ASSERT_NO_THROW(g.LoadFromFile((dir_ / c.image).string()));
        ASSERT_EQ(g.Width(), w);
        ASSERT_EQ(g.Height(), h);
        EXPECT_EQ(g.PixelFormat(), pf8bit);
        EXPECT_EQ(g.Palette().size(), c.entries ? c.entries : 256);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t index = kPattern(x, y);
                ASSERT_EQ(g.ScanLine(y)[x], index);
            }
        for (size_t i = 0; i < g.Palette().size(); ++i) {
            const TRGBQuad& e = g.Palette()[i];
            const TRGB want =
                c.entries ? PaletteColour(i) : TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
            ASSERT_EQ(e.rgbRed, want.r) << i;
            ASSERT_EQ(e.rgbGreen, want.g) << i;
            ASSERT_EQ(e.rgbBlue, want.b) << i;
        }
        // The same object loading from a stream knows no palette file.
        TMemoryStream stream(cut.data(), int64_t(cut.size()));
        g.LoadFromStream(stream);
        EXPECT_EQ(g.Palette()[200].rgbRed, 200);
        EXPECT_EQ(g.Palette()[200].rgbBlue, 200);
    }

    // A palette file shorter than its first block fails the load with the stream's error.
    WriteFile(dir_ / "h.cut", cut);
    const Bytes small = PaletteFile(3);
    WriteFile(dir_ / "h.pal", Bytes(small.begin(), small.begin() + 100));
    TCUTGraphic g;
    try {
        g.LoadFromFile((dir_ / "h.cut").string());
        ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST_F(CUTGraphic, ThroughThePictureHolder) {
    RegisterImageFormats();
    WriteFile(dir_ / "p.cut", CutFile(5, 4, kPattern));
    WriteFile(dir_ / "p.pal", PaletteFile(255));
    TPicture picture;
    picture.LoadFromFile((dir_ / "p.cut").string());
    const auto* bmp = dynamic_cast<const TCUTGraphic*>(picture.Graphic());
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Palette()[kPattern(1, 1)].rgbGreen, PaletteColour(kPattern(1, 1)).g);
    UnregisterImageFormats();
}

TEST_F(CUTGraphic, CutDataAndBadHeaders) {
    const int w = 23, h = 9;
    const Bytes cut = CutFile(w, h, kPattern);
    TCUTGraphic full;
    LoadBytes(full, cut);
    // Every cut of the file loads the rows it reaches (or refuses a header that is missing)
    // and never reads past the data.
    for (size_t n = 0; n < cut.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes part(cut.begin(), cut.begin() + n);
        TCUTGraphic g;
        if (n < 4) {
            EXPECT_EQ(LoadError<TCUTGraphic>(part),
                      "Cannot load image. Invalid or unexpected CUT image format.");
            continue;
        }
        ASSERT_NO_THROW(LoadBytes(g, part));
        ASSERT_EQ(g.Height(), h);
        // Rows before the one the cut falls into are complete.
        size_t offset = 6;
        for (int y = 0; y < h; ++y) {
            offset += 2 + GetU16LE(cut.data() + offset);
            if (offset > n) break;
            ASSERT_EQ(Bytes(g.ScanLine(y), g.ScanLine(y) + w),
                      Bytes(full.ScanLine(y), full.ScanLine(y) + w))
                << "row " << y;
        }
    }
    // Zero sizes, runs longer than the row and rows missing their end.
    Bytes zero = cut;
    zero[0] = zero[1] = 0;
    EXPECT_EQ(LoadError<TCUTGraphic>(zero),
              "Cannot load image. Invalid or unexpected CUT image format.");
    Bytes longRuns = {4, 0, 2, 0, 0, 0, 4, 0, 0xFF, 9, 0x7F, 1};
    TCUTGraphic g;
    LoadBytes(g, longRuns);
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 4), Bytes(4, 9));
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 4), Bytes(4, 0));
    TPixelLimit limit(1000);
    EXPECT_NE(LoadError<TCUTGraphic>({200, 0, 200, 0, 0, 0}), "no error");
}

// ImageMagick reads CUT files and their palette files; its pixels must equal ours.
TEST_F(CUTGraphic, LikeImageMagick) {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    const TPattern noise = [](int x, int y) { return uint8_t(x * 73 + y * 151 + (x * y) % 7); };
    const struct {
        const char* name;
        int w, h;
        const TPattern* pattern;
        int highest;  // -1: no palette file
    } cases[] = {
        {"gray", 29, 6, &kPattern, -1},
        {"palette", 29, 6, &kPattern, 255},
        {"noise with palette", 64, 33, &noise, 255},
        {"noise gray", 300, 5, &noise, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path image = dir_ / (std::string(c.name) + ".cut");
        WriteFile(image, CutFile(c.w, c.h, *c.pattern));
        if (c.highest >= 0) {
            fs::path pal = image;
            // ImageMagick scales the whole 16-bit values by the largest value of the header (255
            // here), so the palette has no high bytes.
            WriteFile(pal.replace_extension(".pal"), PaletteFile(uint32_t(c.highest), true, false));
        }
        TCUTGraphic g;
        g.LoadFromFile(image.string());
        bool ok = false;
        const Bytes out =
            RunCommand("convert " + ShellQuote(image.string()) + " -depth 8 ppm:- 2>/dev/null", ok);
        ASSERT_TRUE(ok);
        const TPnm ref = ParsePnm(out);
        ASSERT_TRUE(ref.valid);
        ASSERT_EQ(ref.width, c.w);
        ASSERT_EQ(ref.height, c.h);
        const Bytes rgba = BitmapRGBA(g);
        for (size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3)
            for (size_t k = 0; k < 3; ++k)
                ASSERT_EQ(rgba[i + k], ref.samples[j + k]) << "pixel " << i / 4;
    }
}

}  // namespace
