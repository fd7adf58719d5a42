#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/writers/ConvertPicture.h"
#include "imaging/writers/PictureWriter.h"

namespace {

namespace fs = std::filesystem;

struct TCase {
    const char* name;
    const char* input;   // written from a 40 x 24 picture
    const char* output;  // the same name: written over the input
    int turn;
    int quality;
    bool lossless;
    const char* error;  // part of the message, or null when it succeeds
};

const TCase kCases[] = {
    {"jpeg_turned_losslessly", "a.jpg", "b.jpg", 6, -1, false, nullptr},
    {"jpeg_over_itself_with_quality", "a.jpg", "a.jpg", 3, 80, false, nullptr},
    {"png_turned_in_place", "a.png", "a.png", 8, -1, false, nullptr},
    {"png_to_jpeg_not_lossless", "a.png", "b.jpg", 1, -1, true, "without loss"},
    {"lossy_webp_not_compressed_again", "a.webp", "a.webp", 6, -1, false, "compress it again"},
    {"unknown_extension", "a.png", "b.xyz", 1, -1, false, "no format"},
    {"deep_png_not_written_over", "deep.png", "deep.png", 6, -1, false, "more than 8 bits"},
};

class ConvertPictureTest : public ::testing::TestWithParam<TCase> {
  protected:
    void SetUp() override { RegisterImageFormats(); }
    void TearDown() override { UnregisterImageFormats(); }
};

TEST_P(ConvertPictureTest, WritesOrRefuses) {
    const TCase& c = GetParam();
    const fs::path dir =
        fs::temp_directory_path() / ("velkaro_convert_" + std::to_string(getpid()) + "_" + c.name);
    fs::create_directories(dir);
    const std::string input = dir / c.input, output = dir / c.output;
    TBitmap picture;
    picture.SetSize(40, 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40 * 3; ++x)
            picture.ScanLine(y)[x] = uint8_t(x * 2 + y * 5);
    SavePicture(picture, input, {});
    // A 16-bit grey PNG of noise (a plainer one would be stored in fewer bits).
    if (std::string(c.input) == "deep.png") {
        bool ok = false;
        const testhelp::Bytes deep =
            testhelp::RunCommand("printf 'P5 40 24 65535\\n' && head -c 1920 /dev/urandom", ok);
        testhelp::WriteFileBytes(dir / "deep.pgm", deep);
        if (!testhelp::HaveTool("pnmtopng")) GTEST_SKIP() << "pnmtopng is needed";
        testhelp::WriteFileBytes(
            input, testhelp::RunCommand("pnmtopng " + testhelp::ShellQuote(dir / "deep.pgm"), ok));
        ASSERT_TRUE(ok);
    }
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, input.c_str(), old, 0);
    const testhelp::Bytes before = testhelp::ReadFileBytes(input);

    TConvertOptions options;
    options.turn = c.turn;
    options.quality = c.quality;
    options.lossless = c.lossless;
    options.keepTime = true;
    if (c.error != nullptr) {
        try {
            ConvertPicture(input, output, options);
            ADD_FAILURE() << "converted";
        } catch (const EImagingError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_EQ(testhelp::ReadFileBytes(input), before);
        EXPECT_EQ(fs::exists(output), input == output);
    } else {
        ConvertPicture(input, output, options);
        const std::unique_ptr<TGraphic> loaded = TPicture::LoadGraphic(output);
        const bool sideways = c.turn >= 5;
        EXPECT_EQ(loaded->Width(), sideways ? 24 : 40);
        EXPECT_EQ(loaded->Height(), sideways ? 40 : 24);
        struct stat st;
        ASSERT_EQ(stat(output.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);  // the input's time kept
        if (c.quality < 0 && IsJpegFile(input)) {
            EXPECT_EQ(testhelp::ReadFileBytes(output), TransformJpeg(before, c.turn));
        }
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertPictureTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
