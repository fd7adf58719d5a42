// JPEG 2000 loader: files made by opj_compress at test time and the public corpus, each against
// opj_decompress (its samples scaled to 8 bits with rounding); probe, damage, limits, progress.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEG2000Graphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

const fs::path kDir = fs::temp_directory_path() / "velkaro_j2k_test";

void WriteFile(const fs::path& path, const std::string& head, const Bytes& body) {
    std::ofstream out(path, std::ios::binary);
    out << head;
    out.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

// opj_decompress's picture as 8-bit RGBA (grey spread, alpha 255 where absent); a picture of
// two components comes as two grey maps. Empty when it writes none.
Bytes Reference(const fs::path& file, unsigned reduce, int& width, int& height) {
    fs::remove_all(kDir / "ref");
    fs::create_directories(kDir / "ref");
    const std::string out = (kDir / "ref" / "r.pnm").string();
    std::system(("opj_decompress -r " + std::to_string(reduce) + " -i " +
                 testhelp::ShellQuote(file.string()) + " -o " + out + " >/dev/null 2>&1")
                    .c_str());
    std::vector<testhelp::TPnm> maps;
    if (fs::exists(out))
        maps.push_back(testhelp::ReadPnm(out));
    else
        for (const char* part : {"r_0.pgm", "r_1.pgm"})
            if (fs::exists(kDir / "ref" / part))
                maps.push_back(testhelp::ReadPnm(kDir / "ref" / part));
    if (maps.empty() || !maps[0].valid) return {};
    width = maps[0].width;
    height = maps[0].height;
    Bytes rgba;
    auto scale = [](const testhelp::TPnm& m, int x, int y, int c) {
        return uint8_t((uint64_t(m.Sample(x, y, c)) * 255 + uint64_t(m.maxval) / 2) /
                       uint64_t(m.maxval));
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const testhelp::TPnm& m = maps[0];
            for (int c = 0; c < 3; ++c)
                rgba.push_back(scale(m, x, y, m.depth >= 3 ? c : 0));
            rgba.push_back(m.depth == 4 || m.depth == 2 ? scale(m, x, y, m.depth - 1)
                           : maps.size() == 2           ? scale(maps[1], x, y, 0)
                                                        : 255);
        }
    return rgba;
}

void ExpectMatchesReference(const fs::path& file, uint8_t reduce) {
    SCOPED_TRACE(file.filename().string() + " reduced " + std::to_string(reduce));
    int width = 0, height = 0;
    const Bytes ref = Reference(file, reduce, width, height);
    ASSERT_FALSE(ref.empty());
    TJPEG2000Graphic j2k;
    j2k.SetReducePower(reduce);
    ASSERT_NO_THROW(testhelp::LoadBytes(j2k, testhelp::ReadFileBytes(file)));
    ASSERT_EQ(j2k.Width(), width);
    ASSERT_EQ(j2k.Height(), height);
    EXPECT_EQ(testhelp::BitmapRGBA(j2k), ref);
}

Bytes Ramp(int w, int h, int samples, int bytes) {
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) {
                const unsigned v = unsigned(x * 37 + y * 91 + c * 61 + x * y) * (bytes == 2 ? 97 : 1);
                if (bytes == 2) b.push_back(uint8_t(v >> 8));
                b.push_back(uint8_t(v));
            }
    return b;
}

// Encoder-made pictures: each layout, depth over 8 bits, subsampled YCC, tiles, reductions.
TEST(JPEG2000Graphic, EncodedFilesMatchOpjDecompress) {
    if (!testhelp::HaveTool("opj_compress") || !testhelp::HaveTool("opj_decompress"))
        GTEST_SKIP() << "opj_compress or opj_decompress absent";
    fs::create_directories(kDir);
    constexpr int w = 45, h = 29;
    WriteFile(kDir / "g.pgm", "P5\n45 29\n255\n", Ramp(w, h, 1, 1));
    WriteFile(kDir / "g16.pgm", "P5\n45 29\n4095\n", [] {
        Bytes b = Ramp(w, h, 1, 2);
        for (size_t i = 0; i < b.size(); i += 2) b[i] &= 0x0F;  // 12 bits
        return b;
    }());
    WriteFile(kDir / "c.ppm", "P6\n45 29\n255\n", Ramp(w, h, 3, 1));
    WriteFile(kDir / "a.pam",
              "P7\nWIDTH 45\nHEIGHT 29\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
              Ramp(w, h, 4, 1));
    // Planar Y, Cb, Cr with chroma at half size both ways (4:2:0) and half width (4:2:2).
    WriteFile(kDir / "y420.raw", "", Ramp(w * h + 2 * 23 * 15, 1, 1, 1));
    WriteFile(kDir / "y422.raw", "", Ramp(w * h + 2 * 23 * h, 1, 1, 1));
    struct TCase {
        const char *name, *input, *options;
        std::vector<uint8_t> reductions;
    } const cases[] = {
        {"g.j2k", "g.pgm", "-n 4", {0, 1}},
        {"g16.jp2", "g16.pgm", "-n 4", {0}},
        {"c.jp2", "c.ppm", "-n 3", {0, 1, 2}},
        {"c_lossy_tiled.jp2", "c.ppm", "-r 20 -t 16,16 -n 2", {0, 1}},
        {"a.jp2", "a.pam", "-n 4", {0}},
        {"y420.j2k", "y420.raw", "-n 3 -mct 0 -F 45,29,3,8,u@1x1:2x2:2x2", {0, 1}},
        {"y422.j2k", "y422.raw", "-n 3 -mct 0 -F 45,29,3,8,u@1x1:2x1:2x1", {0}},
    };
    for (const TCase& c : cases) {
        const fs::path out = kDir / c.name;
        const std::string command = "opj_compress -i " + (kDir / c.input).string() + " -o " +
                                    out.string() + " " + c.options + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        for (uint8_t r : c.reductions) ExpectMatchesReference(out, r);
    }
}

// The corpus: readable files equal opj_decompress; damaged ones fail with an imaging error.
TEST(JPEG2000Graphic, CorpusMatchesOpjDecompress) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!testhelp::HaveTool("opj_decompress")) GTEST_SKIP() << "opj_decompress absent";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".jp2" && ext != ".j2k" && ext != ".jpf") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const Bytes file = testhelp::ReadFileBytes(entry.path());
        if (name.rfind("crash-", 0) == 0 || name == "not_enough_data.jp2" ||
            name == "expected_to_read.jp2" || name == "unknown_mode.j2k" ||
            name == "00r1_graya_la.jp2") {  // its grey is 129 times subsampled
            TJPEG2000Graphic j2k;
            try {
                testhelp::LoadBytes(j2k, file);
            } catch (const EImagingError&) {
            }
            continue;
        }
        ExpectMatchesReference(entry.path(), 0);
        ++compared;
    }
    EXPECT_GE(compared, 9);
}

TEST(JPEG2000Graphic, ProbeDamageLimitsAndProgress) {
    if (!testhelp::HaveTool("opj_compress")) GTEST_SKIP() << "opj_compress absent";
    fs::create_directories(kDir);
    WriteFile(kDir / "p.ppm", "P6\n20 10\n255\n", Ramp(20, 10, 3, 1));
    for (const char* name : {"p.jp2", "p.j2k"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(std::system(("opj_compress -i " + (kDir / "p.ppm").string() + " -o " +
                               (kDir / name).string() + " -n 3 >/dev/null 2>&1")
                                  .c_str()),
                  0);
        const Bytes good = testhelp::ReadFileBytes(kDir / name);
        TMemoryStream stream(good.data(), int64_t(good.size()));
        EXPECT_TRUE(TJPEG2000Graphic::ProbeStream(stream));
        EXPECT_EQ(stream.Position(), 0);
        TJPEG2000Graphic header;
        ASSERT_TRUE(header.ReadProperties(stream, 0));
        EXPECT_EQ(header.ImageProperties().Width, 20u);
        EXPECT_EQ(header.ImageProperties().Height, 10u);
        EXPECT_EQ(stream.Position(), 0);
        Bytes other = good;
        other[3] ^= 1;
        EXPECT_EQ(testhelp::LoadError<TJPEG2000Graphic>(other),
                  "Cannot load image. Invalid or unexpected JPEG 2000 image format.");
        // Cut anywhere: a clean error or a picture of the full size.
        for (size_t n = 0; n < good.size(); ++n) {
            TJPEG2000Graphic j2k;
            try {
                testhelp::LoadBytes(j2k, Bytes(good.begin(), good.begin() + std::ptrdiff_t(n)));
                EXPECT_EQ(j2k.Width(), 20) << n;
            } catch (const EImagingError&) {
            }
        }
        {
            testhelp::TPixelLimit limit(199);
            EXPECT_EQ(testhelp::LoadError<TJPEG2000Graphic>(good).rfind("no error", 0),
                      std::string::npos);
        }
        std::vector<TProgressStage> stages;
        TJPEG2000Graphic j2k;
        j2k.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect&,
                             const std::string&) { stages.push_back(stage); };
        try {
            testhelp::LoadBytes(j2k, Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)));
        } catch (const EImagingError&) {
        }
        ASSERT_FALSE(stages.empty());
        EXPECT_EQ(stages.front(), psStarting);
        EXPECT_EQ(stages.back(), psEnding);
    }
}

}  // namespace
