// GIF loader: files written here with giflib's encoder (global and local maps, interlaced,
// transparent, frames smaller than the screen, no map) checked pixel by pixel; damaged files;
// the public corpus against giftopnm.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/FrameReader.h"
#include "imaging/formats/GIFGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

struct TGifSpec {
    const char* name;
    int screenWidth = 23, screenHeight = 17;
    int left = 0, top = 0, width = 23, height = 17;
    bool interlaced = false;
    bool globalMap = true;
    bool localMap = false;
    int transparent = -1;  // index of the graphic control extension, -1 for none
    int background = 0;
};

// Index of pixel (x, y) of the frame: a pattern that uses all 16 colours in every row.
uint8_t IndexAt(int x, int y) {
    return uint8_t((x * 3 + y * 5 + x / 4) & 15);
}

// Colour i of the global (local = false) or local map.
GifColorType MapColor(int i, bool local) {
    return GifColorType{uint8_t(i * 17), uint8_t(local ? 255 - i * 13 : i * 7), uint8_t(i * 29)};
}

int WriteToVector(GifFileType* gif, const GifByteType* data, int size) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

Bytes MakeGif(const TGifSpec& s) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &WriteToVector, &error);
    EXPECT_NE(gif, nullptr);
    std::vector<GifColorType> global(16), local(16);
    for (int i = 0; i < 16; ++i) {
        global[size_t(i)] = MapColor(i, false);
        local[size_t(i)] = MapColor(i, true);
    }
    // giflib writes no image without a map: a file without any gets one that is cut out below.
    const bool noMap = !s.globalMap && !s.localMap;
    ColorMapObject* globalMap =
        s.globalMap || noMap ? GifMakeMapObject(16, global.data()) : nullptr;
    ColorMapObject* localMap = s.localMap ? GifMakeMapObject(16, local.data()) : nullptr;
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, s.screenWidth, s.screenHeight, 4, s.background, globalMap);
    if (s.transparent >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, s.transparent};
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
    }
    EGifPutImageDesc(gif, s.left, s.top, s.width, s.height, s.interlaced, localMap);
    // giflib writes the rows in the order given: interlaced frames need pass order.
    std::vector<int> order;
    if (s.interlaced) {
        for (int y = 0; y < s.height; y += 8)
            order.push_back(y);
        for (int y = 4; y < s.height; y += 8)
            order.push_back(y);
        for (int y = 2; y < s.height; y += 4)
            order.push_back(y);
        for (int y = 1; y < s.height; y += 2)
            order.push_back(y);
    } else {
        for (int y = 0; y < s.height; ++y)
            order.push_back(y);
    }
    std::vector<GifPixelType> row(size_t(s.width));
    for (int y : order) {
        for (int x = 0; x < s.width; ++x)
            row[size_t(x)] = IndexAt(x, y);
        EGifPutLine(gif, row.data(), s.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(globalMap);
    GifFreeMapObject(localMap);
    if (noMap) {
        out[10] &= 0x7F;
        out.erase(out.begin() + 13, out.begin() + 13 + 48);
    }
    return out;
}

TRGBQuad Quad(const GifColorType& c) {
    return TRGBQuad{c.Blue, c.Green, c.Red, 0};
}

TEST(GIFGraphic, FramesDecodeOnTheScreen) {
    const TGifSpec specs[] = {
        {"global map"},
        {"local map", 23, 17, 0, 0, 23, 17, false, true, true},
        {"interlaced", 23, 17, 0, 0, 23, 17, true},
        {"interlaced, 9 rows", 30, 9, 0, 0, 30, 9, true},
        {"transparent", 23, 17, 0, 0, 23, 17, false, true, false, 6},
        {"frame inside the screen", 40, 30, 5, 7, 23, 17, false, true, false, -1, 9},
        {"transparent frame inside", 40, 30, 5, 7, 23, 17, true, true, false, 12, 9},
        {"frame past the screen", 10, 10, 4, 2, 23, 17},
        {"no colour map", 23, 17, 0, 0, 23, 17, false, false},
    };
    for (const TGifSpec& s : specs) {
        SCOPED_TRACE(s.name);
        TGIFGraphic gif;
        const Bytes bytes = MakeGif(s);
        ASSERT_NO_THROW(testhelp::LoadBytes(gif, bytes));
        const int width = std::max(s.screenWidth, s.left + s.width);
        const int height = std::max(s.screenHeight, s.top + s.height);
        ASSERT_EQ(gif.Width(), width);
        ASSERT_EQ(gif.Height(), height);
        // A transparent index gives 32 bits with alpha; other pictures keep their indices.
        EXPECT_EQ(gif.PixelFormat(), s.transparent >= 0 ? pf32bit : pf8bit);
        EXPECT_EQ(gif.ImageProperties().Interlaced, s.interlaced);
        // The palette is the map used, 16 entries; without any map a grey ramp.
        const auto& palette = gif.Palette();
        if (s.transparent >= 0) {
            EXPECT_TRUE(palette.empty());
        } else if (!s.globalMap && !s.localMap) {
            ASSERT_EQ(palette.size(), 256u);
            EXPECT_EQ(palette[200], (TRGBQuad{200, 200, 200, 0}));
        } else {
            ASSERT_EQ(palette.size(), 16u);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(palette[size_t(i)], Quad(MapColor(i, s.localMap)));
        }
        const int fill = s.transparent >= 0 ? s.transparent : s.background;
        const Bytes rgba = testhelp::BitmapRGBA(gif);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool inside =
                    x >= s.left && x < s.left + s.width && y >= s.top && y < s.top + s.height;
                const int index = inside ? IndexAt(x - s.left, y - s.top) : fill;
                const GifColorType c =
                    s.globalMap || s.localMap
                        ? MapColor(index, s.localMap)
                        : GifColorType{uint8_t(index), uint8_t(index), uint8_t(index)};
                const Bytes want{c.Red, c.Green, c.Blue, uint8_t(index == s.transparent ? 0 : 255)};
                const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 4;
                ASSERT_EQ(Bytes(rgba.begin() + long(at), rgba.begin() + long(at + 4)), want)
                    << x << "," << y;
            }
        EXPECT_EQ(gif.Transparent(), s.transparent >= 0);
    }
}

TEST(GIFGraphic, ProbeAndDamagedFiles) {
    const Bytes good = MakeGif({"probe"});
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(TGIFGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TGIFGraphic header;
    ASSERT_TRUE(header.ReadProperties(stream, 0));
    EXPECT_EQ(header.ImageProperties().Width, 23u);
    EXPECT_EQ(header.ImageProperties().Version, 89u);
    Bytes other = good;
    other[4] = '8';  // "GIF88a"
    TMemoryStream otherStream(other.data(), int64_t(other.size()));
    EXPECT_FALSE(TGIFGraphic::ProbeStream(otherStream));
    EXPECT_EQ(testhelp::LoadError<TGIFGraphic>(other),
              "Cannot load image. Invalid or unexpected GIF image format.");

    // Cut anywhere: a clean error before any image data, else the pixels that arrived (the
    // rest is the background), as browsers show them. The whole picture needs only the data
    // blocks, not their terminator or the trailer.
    // The first data byte: after the screen, its map, the image descriptor, the code size and
    // the first block's length.
    const size_t data = 13 + 48 + 10 + 2;
    ASSERT_EQ(good[13 + 48], 0x2C);
    size_t previous = 0;
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes part(good.begin(), good.begin() + std::ptrdiff_t(n));
        TGIFGraphic gif;
        try {
            testhelp::LoadBytes(gif, part);
        } catch (const EImagingError&) {
            EXPECT_LE(n, data) << "cut at " << n;
            continue;
        }
        EXPECT_GT(n, data) << "cut at " << n;
        // Pixels of the pattern that arrived: never fewer with more data, all of them once the
        // data is complete.
        size_t right = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 23; ++x)
                right += gif.ScanLine(y)[x] == IndexAt(x, y);
        EXPECT_GE(right, previous) << "cut at " << n;
        previous = right;
        // A picture shown only in part says so; one that lacks only the end of the data
        // blocks (or at most its last pixel's code) is whole.
        if (n >= good.size() - 2) {
            EXPECT_EQ(right, 23u * 17u) << "cut at " << n;
            EXPECT_EQ(gif.LoadWarning(), "") << "cut at " << n;
        }
        if (right < 23u * 17u - 1) {
            EXPECT_TRUE(gif.LoadWarning().starts_with("The GIF data ends after "))
                << "cut at " << n << ": " << gif.LoadWarning();
        }
    }
    EXPECT_GT(previous, 23u * 17u / 2);
    // A screen without any image, and the pixel limit before any row.
    Bytes noImage(good.begin(), good.begin() + 13 + 48);
    noImage.push_back(0x3B);
    EXPECT_EQ(testhelp::LoadError<TGIFGraphic>(noImage),
              "Cannot load image. Invalid or unexpected GIF image format.");
    testhelp::TPixelLimit limit(23 * 17 - 1);
    EXPECT_NE(testhelp::LoadError<TGIFGraphic>(good), "no error");
}

// Data that turns bad after some rows, and animations cut inside or between frames: the rows
// and frames before the damage are shown, and the load warning (the graphic's, or the frame's)
// says where it stopped, for the status line.
TEST(GIFGraphic, DamagedDataIsShownAsFarAsItGoesWithAWarning) {
    const Bytes good = MakeGif({"damaged"});
    TGIFGraphic whole;
    testhelp::LoadBytes(whole, good);
    EXPECT_EQ(whole.LoadWarning(), "");
    // An LZW code beyond the table in the middle of the data.
    Bytes bad = good;
    const size_t middle = 13 + 48 + 10 + 2 + 60;
    for (size_t i = middle; i < middle + 8; ++i)
        bad[i] = 0xFF;
    TGIFGraphic gif;
    testhelp::LoadBytes(gif, bad);
    EXPECT_TRUE(gif.LoadWarning().starts_with("The GIF data is damaged after "))
        << gif.LoadWarning();
    EXPECT_TRUE(gif.LoadWarning().ends_with(" of 17 rows; the rest is not shown."));
    for (int x = 0; x < 23; ++x)
        EXPECT_EQ(gif.ScanLine(0)[x], IndexAt(x, 0));
    // A later load of a whole file has nothing to say.
    testhelp::LoadBytes(gif, good);
    EXPECT_EQ(gif.LoadWarning(), "");

    // Three frames: the screen with its map, the frame three times, the trailer.
    const size_t frameStart = 13 + 48;
    const Bytes frame(good.begin() + std::ptrdiff_t(frameStart), good.end() - 1);
    Bytes three(good.begin(), good.begin() + std::ptrdiff_t(frameStart));
    for (int i = 0; i < 3; ++i)
        three.insert(three.end(), frame.begin(), frame.end());
    three.push_back(0x3B);
    auto warnings = [](const Bytes& file) {
        std::vector<std::string> out;
        auto reader = OpenFrameReader(std::make_shared<const std::vector<uint8_t>>(file));
        if (!reader) return out;
        for (int i = 0; i < reader->Count(); ++i)
            out.push_back(reader->Frame(i)->LoadWarning());
        return out;
    };
    EXPECT_EQ(warnings(three), std::vector<std::string>(3, ""));
    const Bytes cutInThird(three.begin(), three.end() - 1 - std::ptrdiff_t(frame.size() / 2));
    const std::vector<std::string> third = warnings(cutInThird);
    ASSERT_EQ(third.size(), 3u);
    EXPECT_EQ(third[0], "");
    EXPECT_TRUE(third[2].starts_with("Frame 3: The GIF data ends after ")) << third[2];
    const Bytes cutBeforeThird(three.begin(), three.end() - 1 - std::ptrdiff_t(frame.size()) + 4);
    EXPECT_EQ(warnings(cutBeforeThird),
              (std::vector<std::string>{"", "Frame 2: The GIF file ends after frame 2."}));
}

TEST(GIFGraphic, ProgressRunsOverTheFrameRows) {
    TGIFGraphic gif;
    std::vector<std::pair<TProgressStage, int>> events;
    gif.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                         const std::string&) { events.emplace_back(stage, percent); };
    testhelp::LoadBytes(gif, MakeGif({"progress", 40, 30, 5, 7, 23, 10}));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().first, psStarting);
    EXPECT_EQ(events.back().first, psEnding);
    int running = 0;
    for (const auto& e : events)
        running += e.first == psRunning;
    EXPECT_EQ(running, 10);
}

// The corpus: the first frame equals giftopnm's picture of it inside the frame; the screen
// around it holds one colour. Files giftopnm refuses are only loaded or refused cleanly.
TEST(GIFGraphic, CorpusMatchesGiftopnm) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!testhelp::HaveTool("giftopnm")) GTEST_SKIP() << "giftopnm absent";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path().extension() != ".gif") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const Bytes bytes = testhelp::ReadFileBytes(entry.path());
        TGIFGraphic gif;
        try {
            testhelp::LoadBytes(gif, bytes);
        } catch (const EImagingError& e) {
            // Only the file whose first frame claims 65535 rows of almost no data may fail.
            EXPECT_EQ(name, "decompression_bomb.gif") << e.what();
            continue;
        }
        bool ok = false;
        const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
            "giftopnm " + testhelp::ShellQuote(entry.path().string()) + " 2>/dev/null", ok));
        if (!ok || !ref.valid) continue;
        // Where the frame lies: the first image descriptor.
        size_t p = 13 + ((bytes[10] & 0x80) ? 3u << ((bytes[10] & 7) + 1) : 0u);
        while (p < bytes.size() && bytes[p] == 0x21) {
            p += 2;
            while (p < bytes.size() && bytes[p] != 0)
                p += bytes[p] + 1u;
            ++p;
        }
        ASSERT_LT(p + 9, bytes.size());
        ASSERT_EQ(bytes[p], 0x2C);
        const int left = bytes[p + 1] | bytes[p + 2] << 8, top = bytes[p + 3] | bytes[p + 4] << 8;
        ASSERT_TRUE(ref.depth == 3 || ref.depth == 1);  // PPM, or PBM/PGM for grey pictures
        ASSERT_LE(left + ref.width, gif.Width());
        ASSERT_LE(top + ref.height, gif.Height());
        const Bytes rgba = testhelp::BitmapRGBA(gif);
        const int scale = 255 / ref.maxval;
        for (int y = 0; y < ref.height; ++y)
            for (int x = 0; x < ref.width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(rgba[(size_t(y + top) * size_t(gif.Width()) + size_t(x + left)) * 4 +
                                   size_t(c)],
                              ref.Sample(x, y, ref.depth == 3 ? c : 0) * uint32_t(scale))
                        << x << "," << y;
        ++compared;
    }
    EXPECT_GE(compared, 14);
}

}  // namespace
