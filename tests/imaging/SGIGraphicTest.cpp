// SGI loader: the probe, every channel count and sample size, verbatim and run-length, from
// files built here; offsets and lengths beyond the file, truncation, the pixel limit,
// progress; and conformance of netpbm's and ImageMagick's files and of the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/PillowReference.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/formats/SGIGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

// Channel rows of a picture: rows[c][y] holds Width samples of channel c, bottom row first.
struct TSgi {
    uint8_t storage = 0, bpc = 1;
    uint16_t dimension = 3, width = 0, height = 0, channels = 3;
    std::vector<std::vector<std::vector<uint16_t>>> rows;
};

// SGI run-length packets of one channel row, ended by a zero header.
Bytes PackRow(const std::vector<uint16_t>& row, uint8_t bpc) {
    Bytes out;
    auto put = [&](uint32_t v) { bpc == 2 ? Put16BE(out, v) : Put8(out, v); };
    for (size_t i = 0; i < row.size();) {
        size_t n = 1;
        while (i + n < row.size() && n < 127 && row[i + n] == row[i])
            ++n;
        if (n > 2) {
            put(uint32_t(n));
            put(row[i]);
        } else {
            size_t m = 0;
            while (i + m < row.size() && m < 127 &&
                   !(i + m + 2 < row.size() && row[i + m] == row[i + m + 1] &&
                     row[i + m] == row[i + m + 2]))
                ++m;
            m = std::max<size_t>(m, 1);
            put(uint32_t(0x80 | m));
            for (size_t k = 0; k < m; ++k)
                put(row[i + k]);
            n = m;
        }
        i += n;
    }
    put(0);
    return out;
}

Bytes Build(const TSgi& t) {
    Bytes v;
    Put16BE(v, 474);
    v.push_back(t.storage);
    v.push_back(t.bpc);
    Put16BE(v, t.dimension);
    Put16BE(v, t.width);
    Put16BE(v, t.height);
    Put16BE(v, t.channels);
    v.resize(512, 0);
    if (t.storage == 1) {
        std::vector<Bytes> packed;
        for (const auto& channel : t.rows)
            for (const auto& row : channel)
                packed.push_back(PackRow(row, t.bpc));
        uint32_t offset = uint32_t(512 + 8 * packed.size());
        Bytes starts, lengths;
        for (const Bytes& p : packed) {
            Put32BE(starts, offset);
            Put32BE(lengths, uint32_t(p.size()));
            offset += uint32_t(p.size());
        }
        PutBytes(v, starts);
        PutBytes(v, lengths);
        for (const Bytes& p : packed)
            PutBytes(v, p);
    } else {
        for (const auto& channel : t.rows)
            for (const auto& row : channel)
                for (uint16_t s : row)
                    t.bpc == 2 ? Put16BE(v, s) : Put8(v, s);
    }
    return v;
}

TSgi Picture(uint16_t w, uint16_t h, uint16_t channels, uint8_t bpc, uint8_t storage) {
    TSgi t;
    t.width = w;
    t.height = h;
    t.channels = channels;
    t.bpc = bpc;
    t.storage = storage;
    t.dimension = channels == 1 ? 2 : 3;
    const uint32_t top = bpc == 2 ? 65535 : 255;
    t.rows.resize(channels);
    for (uint16_t c = 0; c < channels; ++c)
        for (uint16_t y = 0; y < h; ++y) {
            std::vector<uint16_t> row;
            for (uint16_t x = 0; x < w; ++x)
                row.push_back(
                    uint16_t(x < 6 ? top / 3 : (x * 977u + y * 131u + c * 51u) % (top + 1)));
            t.rows[c].push_back(row);
        }
    return t;
}

}  // namespace

TEST(SGIGraphic, ProbeChecksMagicDepthAndDimension) {
    struct {
        uint16_t magic;
        uint8_t bpc;
        uint16_t dimension;
        bool expected;
    } cases[] = {{474, 1, 3, true},  {474, 2, 1, true},  {474, 1, 2, true},  {475, 1, 3, false},
                 {474, 3, 3, false}, {474, 0, 3, false}, {474, 1, 0, false}, {474, 1, 4, false}};
    for (auto& c : cases) {
        TSgi t = Picture(1, 1, 1, 1, 0);
        t.bpc = c.bpc;
        t.dimension = c.dimension;
        Bytes file{9};
        PutBytes(file, Build(t));
        file[1] = uint8_t(c.magic >> 8);
        file[2] = uint8_t(c.magic);
        TMemoryStream s(file.data(), int64_t(file.size()));
        s.SetPosition(1);
        EXPECT_EQ(TSGIGraphic::ProbeStream(s), c.expected) << c.magic << " " << int(c.bpc);
        EXPECT_EQ(s.Position(), 1);
    }
}

// Grey, grey with alpha, RGB, RGBA and a five-channel file; 8 and 16 bits; verbatim and
// run-length. The first stored row is the bottom of the picture.
TEST(SGIGraphic, EveryLayoutDecodes) {
    for (uint16_t channels : {1, 2, 3, 4, 5})
        for (uint8_t bpc : {1, 2})
            for (uint8_t storage : {0, 1}) {
                SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bpc) +
                             " bytes, storage " + std::to_string(storage));
                const TSgi t = Picture(19, 5, channels, bpc, storage);
                TSGIGraphic g;
                LoadBytes(g, Build(t));
                const TImageProperties& p = g.ImageProperties();
                EXPECT_EQ(p.Compression, storage ? compRLE : compNone);
                EXPECT_EQ(p.BitsPerSample, bpc * 8);
                EXPECT_EQ(g.PixelFormat(), channels == 3   ? pf24bit
                                           : channels == 4 ? pf32bit
                                                           : pf8bit);
                ASSERT_EQ(g.Width(), 19);
                ASSERT_EQ(g.Height(), 5);
                const Bytes rgba = BitmapRGBA(g);
                for (uint16_t y = 0; y < 5; ++y)
                    for (uint16_t x = 0; x < 19; ++x) {
                        // 16-bit samples are reduced to 8 bits by v / 257.
                        auto sample = [&](int c) {
                            const uint16_t s = t.rows[size_t(c)][y][x];
                            return uint8_t(bpc == 2 ? s / 257 : s);
                        };
                        Bytes want;
                        if (channels == 3 || channels == 4)
                            want = {sample(0), sample(1), sample(2),
                                    uint8_t(channels == 4 ? sample(3) : 255)};
                        else
                            want = {sample(0), sample(0), sample(0), 255};
                        const size_t at = (size_t(4 - y) * 19 + x) * 4;
                        ASSERT_EQ(Bytes(rgba.begin() + long(at), rgba.begin() + long(at + 4)), want)
                            << x << "," << y;
                    }
            }
}

TEST(SGIGraphic, DamagedFilesStayInsideTheFile) {
    const std::string invalid = "Cannot load image. Invalid or unexpected SGI image format.";
    Bytes bad = Build(Picture(2, 2, 3, 1, 0));
    bad[1] = 0;
    EXPECT_EQ(LoadError<TSGIGraphic>(bad), invalid);
    TSgi t = Picture(2, 2, 3, 1, 0);
    t.bpc = 3;
    EXPECT_EQ(LoadError<TSGIGraphic>(Build(t)), invalid);
    for (uint16_t w : {0, 2}) {
        TSgi z = Picture(2, 2, 3, 1, 0);
        z.width = w;
        z.height = uint16_t(2 - w);
        z.rows.clear();
        EXPECT_EQ(LoadError<TSGIGraphic>(Build(z)), invalid);
    }
    TSgi none = Picture(2, 2, 1, 1, 0);
    none.channels = 0;
    EXPECT_EQ(LoadError<TSGIGraphic>(Build(none)), invalid);
    {
        TPixelLimit limit(100);
        EXPECT_EQ(LoadError<TSGIGraphic>(Build(Picture(20, 20, 3, 1, 0))).substr(0, 6), "Image ");
    }

    // Offsets and lengths pointing beyond the file, or lengths far longer than the row: the
    // rows read what the file holds, the rest stays black.
    const TSgi rle = Picture(8, 3, 3, 1, 1);
    Bytes file = Build(rle);
    for (int i = 0; i < 4; ++i)
        file[512 + 4 * 0 + i] = 0xFF;  // row 0 of red far beyond the end
    for (int i = 0; i < 4; ++i)
        file[512 + 4 * 9 + 4 * 1 + i] = 0xFF;  // row 1 of red claims 4 GiB
    TSGIGraphic g;
    LoadBytes(g, file);
    const Bytes rgba = BitmapRGBA(g);
    EXPECT_EQ(rgba[(2 * 8) * 4], 0);                      // bottom row: no red
    EXPECT_EQ(rgba[(2 * 8) * 4 + 1], rle.rows[1][0][0]);  // but its green
    EXPECT_EQ(rgba[(1 * 8) * 4], rle.rows[0][1][0]);      // row 1 decodes up to its end mark

    // Every truncation: the header and tables fail with the stream's error, rows are short.
    for (uint8_t storage : {0, 1}) {
        const Bytes full = Build(Picture(6, 3, 4, 2, storage));
        const size_t tables = storage ? 512 + 2 * 4 * 12 : 512;
        for (size_t n = 0; n < full.size(); n += 1) {
            const std::string e =
                LoadError<TSGIGraphic>(Bytes(full.begin(), full.begin() + long(n)));
            EXPECT_EQ(e, n < tables ? "other: Stream read error" : "no error") << n;
        }
    }
}

TEST(SGIGraphic, ProgressEndsAroundTheRows) {
    TSGIGraphic g;
    std::vector<std::string> log;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                       const std::string& msg) {
        log.push_back(std::to_string(stage) + "/" + std::to_string(percent) + "/" +
                      std::to_string(r.Top) + "/" + msg);
    };
    LoadBytes(g, Build(Picture(3, 2, 3, 1, 1)));
    const std::vector<std::string> expected = {
        "0/0/0/Preparing...", "2/0/0/", "0/0/0/Transfering...", "1/0/0/", "1/50/1/", "2/0/2/"};
    EXPECT_EQ(log, expected);
}

// netpbm's and ImageMagick's SGI files of our pixels, and the corpus's (Pillow as the
// reference for those; the crash samples load what they hold or fail cleanly).
TEST(SGIGraphic, AgreesWithReferenceReaders) {
    if (!HaveTool("convert") || !HaveTool("pnmtosgi")) GTEST_SKIP() << "reference tools missing";
    const fs::path dir = fs::temp_directory_path() / "velkaro_sgi_ref";
    fs::create_directories(dir);
    Bytes ppm;
    PutText(ppm, "P6\n45 17\n255\n");
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 45; ++x)
            PutBytes(ppm, {uint8_t(x < 9 ? 40 : x * 5), uint8_t(y * 13), uint8_t(x ^ y)});
    std::ofstream(dir / "src.ppm", std::ios::binary)
        .write(reinterpret_cast<const char*>(ppm.data()), std::streamsize(ppm.size()));
    const std::string src = ShellQuote((dir / "src.ppm").string());
    const std::vector<std::string> commands = {
        "pnmtosgi -rle " + src,
        "pnmtosgi -verbatim " + src,
        "ppmtopgm " + src + " | pnmtosgi -rle",
        "convert " + src + " -compress RLE SGI:-",
        "convert " + src + " -compress None SGI:-",
        "convert " + src + " -alpha set -channel A -fx 0.5 -compress RLE SGI:-",
        "convert " + src + " -depth 16 -compress RLE SGI:-",
        "convert " + src + " -type Grayscale -depth 16 -compress None SGI:-"};
    int compared = 0;
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        bool ok = false;
        const Bytes file = RunCommand(command + " 2>/dev/null", ok);
        ASSERT_TRUE(ok);
        const fs::path path = dir / "x.sgi";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        const TPnm want = ParsePnm(
            RunCommand("convert " + ShellQuote(path.string()) + " -depth 8 PAM:- 2>/dev/null", ok));
        ASSERT_TRUE(ok && want.valid);
        TSGIGraphic g;
        g.LoadFromFile(path.string());
        ASSERT_EQ(g.Width(), want.width);
        ASSERT_EQ(g.Height(), want.height);
        const Bytes got = BitmapRGBA(g);
        int worst = 0;
        for (int y = 0; y < want.height; ++y)
            for (int x = 0; x < want.width; ++x)
                for (int c = 0; c < std::min(want.depth, 4); ++c)
                    worst = std::max(
                        worst,
                        std::abs(
                            int(want.Sample(x, y, c)) -
                            got[(size_t(y) * want.width + x) * 4 + (want.depth <= 2 ? 0 : c)]));
        // 16-bit samples: ImageMagick rounds to 8 bits, we truncate v / 257.
        EXPECT_LE(worst, command.find("depth 16") != std::string::npos ? 1 : 0);
        ++compared;
    }
    EXPECT_EQ(compared, int(commands.size()));
    fs::remove_all(dir);

    const fs::path root = testdata::corpus("pillow");
    if (root.empty() || !HavePillow()) return;
    int corpus = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".sgi" && ext != ".rgb" && ext != ".bw") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TSGIGraphic g;
        try {
            g.LoadFromFile(entry.path().string());
        } catch (const EImagingError&) {
            continue;
        }
        bool ok = false;
        const TPnm want = PillowRGBA(entry.path().string(), ok);
        if (!ok) continue;  // the crash samples: Pillow refuses, we show what they hold
        ASSERT_EQ(g.Width(), want.width);
        EXPECT_EQ(BitmapRGBA(g), want.raster);
        ++corpus;
    }
    EXPECT_EQ(corpus, 4);
}
