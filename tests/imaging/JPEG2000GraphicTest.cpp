// JPEG 2000 loader: files made by opj_compress at test time and the public corpus, each against
// opj_decompress (its samples scaled to 8 bits with rounding); probe, damage, limits, progress.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/JPEG2000Graphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;
using testhelp::RampSamples;
using testhelp::WriteFileBytes;

const fs::path kDir = fs::temp_directory_path() / "velkaro_j2k_test";

// opj_decompress's picture as 8-bit RGBA; empty when it writes none.
Bytes Reference(const fs::path& file, unsigned reduce, int& width, int& height) {
    const fs::path out = kDir / "ref.pnm";
    fs::remove(out);
    std::system(("opj_decompress -r " + std::to_string(reduce) + " -i " +
                 testhelp::ShellQuote(file.string()) + " -o " + out.string() + " >/dev/null 2>&1")
                    .c_str());
    const testhelp::TPnm pnm = testhelp::ReadPnm(out);
    width = pnm.width;
    height = pnm.height;
    return pnm.valid ? testhelp::PnmRGBA8(pnm) : Bytes();
}

// A reduction past the file's levels decodes its smallest picture: levels - 1.
void ExpectMatchesReference(const fs::path& file, uint8_t reduce, unsigned levels = 8) {
    SCOPED_TRACE(file.filename().string() + " reduced " + std::to_string(reduce));
    int width = 0, height = 0;
    const Bytes ref = Reference(file, std::min<unsigned>(reduce, levels - 1), width, height);
    ASSERT_FALSE(ref.empty());
    TJPEG2000Graphic j2k;
    j2k.SetReducePower(reduce);
    ASSERT_NO_THROW(testhelp::LoadBytes(j2k, testhelp::ReadFileBytes(file)));
    ASSERT_EQ(j2k.Width(), width);
    ASSERT_EQ(j2k.Height(), height);
    EXPECT_EQ(testhelp::BitmapRGBA(j2k), ref);
}

// Encoder-made pictures: each layout, depth over 8 bits, subsampled YCC, tiles, the picture's
// origin off the grid's, reductions at every level and past the last.
TEST(JPEG2000Graphic, EncodedFilesMatchOpjDecompress) {
    if (!testhelp::HaveTool("opj_compress") || !testhelp::HaveTool("opj_decompress"))
        GTEST_SKIP() << "opj_compress or opj_decompress absent";
    fs::create_directories(kDir);
    constexpr int w = 45, h = 29;
    WriteFileBytes(kDir / "g.pgm", "P5\n45 29\n255\n", RampSamples(w, h, 1, 1));
    WriteFileBytes(kDir / "g16.pgm", "P5\n45 29\n4095\n", [] {
        Bytes b = RampSamples(w, h, 1, 2);
        for (size_t i = 0; i < b.size(); i += 2)
            b[i] &= 0x0F;  // 12 bits
        return b;
    }());
    WriteFileBytes(kDir / "c.ppm", "P6\n45 29\n255\n", RampSamples(w, h, 3, 1));
    WriteFileBytes(kDir / "a.pam",
                   "P7\nWIDTH 45\nHEIGHT 29\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                   RampSamples(w, h, 4, 1));
    // Planar Y, Cb, Cr with chroma at half size both ways (4:2:0) and half width (4:2:2).
    WriteFileBytes(kDir / "y420.raw", "", RampSamples(w * h + 2 * 23 * 15, 1, 1, 1));
    WriteFileBytes(kDir / "y422.raw", "", RampSamples(w * h + 2 * 23 * h, 1, 1, 1));
    WriteFileBytes(kDir / "m.ppm", "P6\n300 200\n255\n", RampSamples(300, 200, 3, 1));
    struct TCase {
        const char *name, *input, *options;
        std::vector<uint8_t> reductions;
    } const cases[] = {
        {"g.j2k", "g.pgm", "-n 4", {0, 1, 2, 3, 4}},
        {"g16.jp2", "g16.pgm", "-n 4", {0}},
        {"c.jp2", "c.ppm", "-n 3", {0, 1, 2, 7}},
        {"c_lossy_tiled.jp2", "c.ppm", "-r 20 -t 16,16 -n 2", {0, 1}},
        {"a.jp2", "a.pam", "-n 4", {0}},
        {"y420.j2k", "y420.raw", "-n 3 -mct 0 -F 45,29,3,8,u@1x1:2x2:2x2", {0, 1}},
        {"y422.j2k", "y422.raw", "-n 3 -mct 0 -F 45,29,3,8,u@1x1:2x1:2x1", {0}},
        {"m_lossy.jp2", "m.ppm", "-n 5 -r 20", {0, 1, 4, 5}},
        {"m_tiled_offset.j2k", "m.ppm", "-n 3 -t 64,64 -d 3,5", {0, 1}},
    };
    for (const TCase& c : cases) {
        const fs::path out = kDir / c.name;
        const std::string command = "opj_compress -i " + (kDir / c.input).string() + " -o " +
                                    out.string() + " " + c.options + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string options = c.options;
        const unsigned levels = unsigned(std::stoi(options.substr(options.find("-n ") + 3)));
        for (uint8_t r : c.reductions)
            ExpectMatchesReference(out, r, levels);
    }
    // Four components the colour box calls inks (enumeration 12), without an alpha channel.
    Bytes inks = testhelp::ReadFileBytes(kDir / "a.jp2");
    const std::string text(inks.begin(), inks.end());
    const size_t colr = text.find("colr"), cdef = text.find("cdef");
    ASSERT_NE(colr, std::string::npos);
    inks[colr + 10] = 12;
    if (cdef != std::string::npos) inks[cdef] = 'x';  // channel definitions nobody reads
    WriteFileBytes(kDir / "cmyk.jp2", "", inks);
    ExpectMatchesReference(kDir / "cmyk.jp2", 0);
    // Three components the colour box calls extended-gamut YCC (enumeration 24): OpenJPEG's
    // reader computes in single precision, so a level may differ by one.
    Bytes eycc = testhelp::ReadFileBytes(kDir / "c.jp2");
    const size_t box = std::string(eycc.begin(), eycc.end()).find("colr");
    ASSERT_NE(box, std::string::npos);
    eycc[box + 10] = 24;
    WriteFileBytes(kDir / "eycc.jp2", "", eycc);
    int width = 0, height = 0;
    const Bytes ref = Reference(kDir / "eycc.jp2", 0, width, height);
    TJPEG2000Graphic j2k;
    ASSERT_NO_THROW(testhelp::LoadBytes(j2k, eycc));
    ASSERT_EQ(j2k.Width(), width);
    EXPECT_LE(testhelp::MaxDifference(testhelp::BitmapRGBA(j2k), ref), 1);
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
    WriteFileBytes(kDir / "p.ppm", "P6\n20 10\n255\n", RampSamples(20, 10, 3, 1));
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
            testhelp::LoadBytes(
                j2k, Bytes(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)));
        } catch (const EImagingError&) {
        }
        ASSERT_FALSE(stages.empty());
        EXPECT_EQ(stages.front(), psStarting);
        EXPECT_EQ(stages.back(), psEnding);
    }
}

}  // namespace
