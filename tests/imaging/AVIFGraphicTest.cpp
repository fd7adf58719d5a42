// AVIF loader: pictures encoded here with avifenc (8, 10 and 12 bits, alpha, 4:2:0 and 4:4:4,
// rotation and mirroring, a two-frame sequence) and the public corpus, compared with avifdec's
// decoding turned and mirrored as the file asks (avifdec leaves the file's layout); the probe,
// damaged files, the pixel limit and progress.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/LibraryGraphicChecks.h"
#include "imaging/formats/AVIFGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;
using testhelp::ShellQuote;

const fs::path kDir = fs::temp_directory_path();

// A 37 x 21 picture with an alpha ramp written as PNG of the given depth; phase varies it.
std::string WritePng(int phase, bool deep) {
    Bytes pam;
    testhelp::PutText(pam,
                      "P7\nWIDTH 37\nHEIGHT 21\nDEPTH 4\nMAXVAL 255\nTUPLTYPE "
                      "RGB_ALPHA\nENDHDR\n");
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
            pam.insert(pam.end(), {uint8_t(x * 7 + phase), uint8_t(y * 12), uint8_t(90 + phase),
                                   uint8_t(40 + x * 5)});
    const std::string name = (kDir / ("velkaro_avif_" + std::to_string(phase))).string();
    testhelp::WriteFileBytes(name + ".pam", pam);
    bool ok = false;
    testhelp::RunCommand(
        "convert " + name + ".pam -depth " + (deep ? "16 " : "8 ") + name + ".png && echo ok", ok);
    EXPECT_TRUE(ok);
    return name + ".png";
}

// Our decoding of the file against avifdec's, which the transformations avifdec --info lists
// are applied to with ImageMagick, after the clean aperture crop (ImageMagick's geometry).
void ExpectLikeAvifdec(const fs::path& file, const std::string& crop = "") {
    TAVIFGraphic avif;
    ASSERT_NO_THROW(testhelp::LoadBytes(avif, testhelp::ReadFileBytes(file)));
    bool ok = false;
    const std::string name = ShellQuote(file.string());
    const Bytes info = testhelp::RunCommand("avifdec --info " + name, ok);
    const std::string text(info.begin(), info.end());
    std::string turn = crop.empty() ? "" : " -crop " + crop + " +repage";
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(irot \(Rotation\)\s*: (\d))")))
        turn += " -rotate -" + std::to_string(90 * std::stoi(m[1]));
    if (std::regex_search(text, m, std::regex(R"(imir \(Mirror\)\s*: Mode (\d))")))
        turn += m[1] == "0" ? " -flip" : " -flop";
    const std::string png = ShellQuote((kDir / "velkaro_avif_ref.png").string());
    const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
        "avifdec " + name + " " + png + " >/dev/null && convert " + png + turn + " pam:-", ok));
    ASSERT_TRUE(ok && ref.valid);
    ASSERT_EQ(ref.width, avif.Width());
    ASSERT_EQ(ref.height, avif.Height());
    EXPECT_EQ(avif.PixelFormat(), ref.depth == 4 ? pf32bit : pf24bit);
    EXPECT_EQ(testhelp::BitmapRGBA(avif), testhelp::ReferenceRGBA(ref, 16));
}

bool HaveTools() {
    return testhelp::HaveTool("avifenc") && testhelp::HaveTool("avifdec") &&
           testhelp::HaveTool("convert");
}

Bytes Encode(const std::string& options, bool deep = false) {
    const std::string out = (kDir / "velkaro_avif_test.avif").string();
    bool ok = false;
    testhelp::RunCommand(
        "avifenc -s 9 " + options + " " + WritePng(0, deep) + " " + out + " >/dev/null && echo ok",
        ok);
    EXPECT_TRUE(ok) << options;
    return testhelp::ReadFileBytes(out);
}

TEST(AVIFGraphic, MatchesAvifdec) {
    if (!HaveTools()) GTEST_SKIP() << "avifenc, avifdec or ImageMagick absent";
    struct TCase {
        const char* options;
        bool deep;
        const char* crop;
    } const cases[] = {{"-y 420", false, ""},
                       {"-y 444 --irot 1", false, ""},
                       {"-y 420 --irot 3 --imir 0", false, ""},
                       {"-y 444 --imir 1", false, ""},
                       {"-d 10 -y 420 --irot 2", true, ""},
                       {"-d 12 -y 444 --irot 1 --imir 1", true, ""},
                       {"-y 444 --crop 3,5,21,11", false, "21x11+3+5"},
                       {"-y 420 --crop 6,4,24,12 --irot 1 --imir 0", false, "24x12+6+4"},
                       {"-d 10 -y 420 --crop 2,2,30,16", true, "30x16+2+2"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.options);
        const Bytes file = Encode(c.options, c.deep);
        const fs::path path = kDir / "velkaro_avif_case.avif";
        testhelp::WriteFileBytes(path, file);
        ExpectLikeAvifdec(path, c.crop);
    }
    // A sequence shows its first frame.
    const std::string seq = (kDir / "velkaro_avif_seq.avifs").string();
    bool ok = false;
    testhelp::RunCommand("avifenc -s 9 " + WritePng(0, false) + " " + WritePng(60, false) + " " +
                             seq + " >/dev/null && echo ok",
                         ok);
    ASSERT_TRUE(ok);
    ExpectLikeAvifdec(seq);
    TAVIFGraphic avif;
    testhelp::LoadBytes(avif, testhelp::ReadFileBytes(seq));
    EXPECT_EQ(avif.ImageProperties().Version, 2u);
}

TEST(AVIFGraphic, CorpusMatchesAvifdec) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!HaveTools()) GTEST_SKIP() << "avifdec or ImageMagick absent";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root / "avif")) {
        if (entry.path().extension() != ".avif" && entry.path().extension() != ".avifs") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ExpectLikeAvifdec(entry.path());
        ++compared;
    }
    EXPECT_GE(compared, 9);
}

TEST(AVIFGraphic, ProbeDamageLimitAndProgress) {
    if (!HaveTools()) GTEST_SKIP() << "avifenc or ImageMagick absent";
    const Bytes good = Encode("-y 420");
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(TAVIFGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    Bytes heic = good;  // the same file naming only HEIF brands is not ours
    for (size_t i = 8; i + 4 <= 32; i += 4)
        if (std::string(heic.begin() + long(i), heic.begin() + long(i) + 4) == "avif")
            std::copy_n("heic", 4, heic.begin() + long(i));
    EXPECT_EQ(testhelp::LoadError<TAVIFGraphic>(heic),
              "Cannot load image. Invalid or unexpected AVIF image format.");

    testhelp::ExpectLibraryLoaderBasics<TAVIFGraphic>(good, testhelp::ZeroTail(good, 200), 37, 21,
                                                      true);
}

}  // namespace
