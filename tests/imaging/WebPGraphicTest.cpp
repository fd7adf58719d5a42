// WebP loader: pictures encoded here with libwebp's encoder (lossless and lossy, with and
// without alpha) checked against their pixels; damaged files; the public corpus against dwebp.
#include <gtest/gtest.h>
#include <webp/encode.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/WebPGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

constexpr int kWidth = 37, kHeight = 21;

// Smooth colours (lossy coding keeps them close) with an alpha ramp.
Bytes SourceRGBA() {
    Bytes rgba;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgba.insert(rgba.end(), {uint8_t(x * 6), uint8_t(y * 11), uint8_t(128 + x * 2 - y * 3),
                                     uint8_t(x * 255 / (kWidth - 1))});
    return rgba;
}

Bytes Encode(bool lossless, bool alpha) {
    Bytes rgba = SourceRGBA();
    Bytes rgb;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), rgba.begin() + std::ptrdiff_t(i),
                   rgba.begin() + std::ptrdiff_t(i + 3));
    uint8_t* out = nullptr;
    size_t size = 0;
    if (lossless)
        size = alpha ? WebPEncodeLosslessRGBA(rgba.data(), kWidth, kHeight, kWidth * 4, &out)
                     : WebPEncodeLosslessRGB(rgb.data(), kWidth, kHeight, kWidth * 3, &out);
    else
        size = alpha ? WebPEncodeRGBA(rgba.data(), kWidth, kHeight, kWidth * 4, 95, &out)
                     : WebPEncodeRGB(rgb.data(), kWidth, kHeight, kWidth * 3, 95, &out);
    Bytes file(out, out + size);
    WebPFree(out);
    return file;
}

TEST(WebPGraphic, StillPicturesDecodeToTheirPixels) {
    struct TCase {
        bool lossless, alpha;
        int tolerance;  // lossy coding at quality 95 moves a smooth sample by a few levels
    } const cases[] = {{true, false, 0}, {true, true, 0}, {false, false, 12}, {false, true, 12}};
    const Bytes source = SourceRGBA();
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.lossless ? "lossless" : "lossy") + (c.alpha ? " alpha" : ""));
        TWebPGraphic webp;
        ASSERT_NO_THROW(testhelp::LoadBytes(webp, Encode(c.lossless, c.alpha)));
        ASSERT_EQ(webp.Width(), kWidth);
        ASSERT_EQ(webp.Height(), kHeight);
        EXPECT_EQ(webp.PixelFormat(), c.alpha ? pf32bit : pf24bit);
        EXPECT_EQ(webp.ImageProperties().HasAlpha, c.alpha);
        const Bytes rgba = testhelp::BitmapRGBA(webp);
        int worst = 0;
        for (size_t i = 0; i < rgba.size(); ++i) {
            // Colours under fully transparent pixels are not kept by the encoder.
            if (c.alpha && i % 4 != 3 && source[i | 3] == 0) continue;
            const int expected = i % 4 == 3 && !c.alpha ? 255 : source[i];
            // Lossy alpha is coded losslessly by default.
            const int tolerance = i % 4 == 3 ? 0 : c.tolerance;
            worst = std::max(worst, std::abs(int(rgba[i]) - expected) - tolerance);
        }
        EXPECT_LE(worst, 0);
    }
}

TEST(WebPGraphic, ProbeDamageAndLimits) {
    const Bytes good = Encode(true, true);
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(TWebPGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TWebPGraphic header;
    ASSERT_TRUE(header.ReadProperties(stream, 0));
    EXPECT_EQ(header.ImageProperties().Width, uint32_t(kWidth));
    EXPECT_EQ(header.ImageProperties().Height, uint32_t(kHeight));
    EXPECT_TRUE(header.ImageProperties().HasAlpha);
    EXPECT_TRUE(header.Empty());
    Bytes other = good;
    other[8] = 'X';
    TMemoryStream otherStream(other.data(), int64_t(other.size()));
    EXPECT_FALSE(TWebPGraphic::ProbeStream(otherStream));
    EXPECT_EQ(testhelp::LoadError<TWebPGraphic>(other),
              "Cannot load image. Invalid or unexpected WebP image format.");

    // Cut anywhere, with the container size left as it was: a clean error or a picture of
    // the full size (rows that did not arrive stay empty).
    for (const Bytes& file : {good, Encode(false, false)}) {
        for (size_t n = 0; n < file.size(); ++n) {
            const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(n));
            TWebPGraphic webp;
            try {
                testhelp::LoadBytes(webp, part);
                EXPECT_EQ(webp.Width(), kWidth) << n;
            } catch (const EImagingError&) {
            }
        }
    }
    // Garbage after the header.
    Bytes broken = good;
    for (size_t i = 30; i < broken.size(); ++i)
        broken[i] = uint8_t(i * 7);
    EXPECT_NE(testhelp::LoadError<TWebPGraphic>(broken), "no error");
    testhelp::TPixelLimit limit(kWidth * kHeight - 1);
    EXPECT_NE(testhelp::LoadError<TWebPGraphic>(good), "no error");
}

TEST(WebPGraphic, ProgressEndsAlsoOnFailure) {
    for (const bool damaged : {false, true}) {
        Bytes file = Encode(false, false);
        if (damaged) file.resize(40);
        TWebPGraphic webp;
        std::vector<TProgressStage> stages;
        webp.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect&,
                              const std::string&) { stages.push_back(stage); };
        try {
            testhelp::LoadBytes(webp, file);
        } catch (const EImagingError&) {
        }
        ASSERT_FALSE(stages.empty());
        EXPECT_EQ(stages.front(), psStarting);
        EXPECT_EQ(stages.back(), psEnding);
    }
}

// The corpus equals dwebp's decoding exactly (the same library decodes both); of an animation
// the first frame, taken out with webpmux, is compared.
TEST(WebPGraphic, CorpusMatchesDwebp) {
    const fs::path root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!testhelp::HaveTool("dwebp") || !testhelp::HaveTool("webpmux"))
        GTEST_SKIP() << "dwebp or webpmux absent";
    const fs::path frame = fs::temp_directory_path() / "velkaro_webp_frame.webp";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path().extension() != ".webp") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TWebPGraphic webp;
        ASSERT_NO_THROW(testhelp::LoadBytes(webp, testhelp::ReadFileBytes(entry.path())));
        const std::string file = testhelp::ShellQuote(entry.path().string());
        bool ok = false;
        std::string input = file;
        if (testhelp::RunCommand("webpmux -info " + file + " | grep -q animation && echo yes", ok)
                .size() > 0) {
            input = testhelp::ShellQuote(frame.string());
            testhelp::RunCommand(
                "webpmux -get frame 1 " + file + " -o " + input + " >/dev/null 2>&1 && echo ok",
                ok);
            ASSERT_TRUE(ok);
        }
        const testhelp::TPnm ref = testhelp::ParsePnm(
            testhelp::RunCommand("dwebp -quiet -pam " + input + " -o - 2>/dev/null", ok));
        ASSERT_TRUE(ok && ref.valid && ref.depth == 4);
        ASSERT_EQ(ref.width, webp.Width());
        ASSERT_EQ(ref.height, webp.Height());
        const Bytes rgba = testhelp::BitmapRGBA(webp);
        EXPECT_EQ(rgba, ref.raster);
        ++compared;
    }
    fs::remove(frame);
    EXPECT_GE(compared, 14);
}

}  // namespace
