#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "imaging/ColorProfile.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/writers/PictureWriter.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

struct TCase {
    const char* file;
    bool alpha;  // a 32-bit picture with alpha, else 24-bit
    int quality;
    bool lossless;
    // Lossless formats: no sample may differ. Lossy ones: the mean difference of a sample.
    double tolerance;
    const char* tool;  // a reference decoder writing PAM to standard output, or null
};

const TCase kCases[] = {
    {"rgb.png", false, 0, false, 0, "convert %s pam:-"},
    {"rgba.png", true, 0, false, 0, "convert %s pam:-"},
    {"q95.jpg", false, 95, false, 1.0, "djpeg -pnm %s"},
    {"q60.jpeg", false, 60, false, 4.0, "djpeg -pnm %s"},
    {"lossy.webp", false, 90, false, 2.5, "dwebp -quiet -pam %s -o -"},
    {"lossless.webp", true, 0, true, 0, "dwebp -quiet -pam %s -o -"},
    {"rgb.tif", false, 0, false, 0, "convert %s pam:-"},
    {"rgba.tiff", true, 0, false, 0, "convert %s pam:-"},
    {"rgb.bmp", false, 0, false, 0, "convert %s pam:-"},
    {"rgba.bmp", true, 0, false, 0, nullptr},
    {"rgb.qoi", false, 0, false, 0, nullptr},
    {"rgba.qoi", true, 0, false, 0, nullptr},
    {"lossless.jxl", true, 0, true, 0,
     "djxl %s ${TMPDIR:-/tmp}/velkaro_writer_ref.pam >/dev/null 2>&1 && "
     "cat ${TMPDIR:-/tmp}/velkaro_writer_ref.pam"},
    {"q90.jxl", false, 90, false, 2.5, nullptr},
    {"q80.heic", false, 80, false, 2.5,
     "heif-convert %s ${TMPDIR:-/tmp}/velkaro_writer_ref.png >/dev/null && "
     "convert ${TMPDIR:-/tmp}/velkaro_writer_ref.png -depth 8 pam:-"},
    {"lossless.avif", true, 0, true, 0,
     "avifdec %s ${TMPDIR:-/tmp}/velkaro_writer_ref.png >/dev/null && "
     "convert ${TMPDIR:-/tmp}/velkaro_writer_ref.png -depth 8 pam:-"},
    {"q80.avif", false, 80, false, 2.5,
     "avifdec %s ${TMPDIR:-/tmp}/velkaro_writer_ref.png >/dev/null && "
     "convert ${TMPDIR:-/tmp}/velkaro_writer_ref.png -depth 8 pam:-"},
};

// A picture of sharp edges (for lossless formats: every pixel differs from its neighbours) or
// a smooth one (for lossy formats); with alpha, every level of transparency but none.
void MakeTestPicture(TBitmap& bitmap, bool alpha, bool smooth) {
    bitmap.SetPixelFormat(alpha ? pf32bit : pf24bit);
    bitmap.SetSize(67, 41);
    const Bytes samples = testhelp::RampSamples(67, 41, 4, 1);
    const int bytes = alpha ? 4 : 3;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 67; ++x)
            for (int c = 0; c < bytes; ++c) {
                const uint8_t v = smooth ? uint8_t(x * 2 + y * 3 + c * 30)
                                         : samples[(size_t(y) * 67 + size_t(x)) * 4 + size_t(c)];
                bitmap.ScanLine(y)[x * bytes + c] = c == 3 ? uint8_t(1 + v % 255) : v;
            }
}

// The largest difference of a sample when none may differ, else the mean difference.
double Difference(const Bytes& a, const Bytes& b, double tolerance) {
    if (tolerance == 0 || a.size() != b.size()) return testhelp::MaxDifference(a, b);
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

class PictureWriterTest : public ::testing::TestWithParam<TCase> {
  protected:
    void SetUp() override { RegisterImageFormats(); }
    void TearDown() override { UnregisterImageFormats(); }
};

TEST_P(PictureWriterTest, DecodesBackToThePicture) {
    const TCase& c = GetParam();
    const fs::path dir = fs::temp_directory_path() / ("velkaro_writer_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / c.file;
    TBitmap picture;
    MakeTestPicture(picture, c.alpha, c.tolerance > 0);
    TSaveOptions options;
    options.quality = c.quality;
    options.lossless = c.lossless;
    SavePicture(picture, file, options);

    std::unique_ptr<TGraphic> loaded = TPicture::LoadGraphic(file);
    ASSERT_TRUE(loaded);
    TBitmap copy;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(loaded.get()))
        copy.Assign(jpeg->Bitmap());
    else
        copy.Assign(*loaded);
    const Bytes expected = testhelp::BitmapRGBA(picture);
    EXPECT_LE(Difference(testhelp::BitmapRGBA(copy), expected, c.tolerance), c.tolerance);
    if (c.tool != nullptr) {
        const std::string tool = c.tool;
        if (!testhelp::HaveTool(tool.substr(0, tool.find(' ')))) return;
        char command[512];
        std::snprintf(command, sizeof command, c.tool, testhelp::ShellQuote(file).c_str());
        bool ok = false;
        const testhelp::TPnm pnm = testhelp::ParsePnm(testhelp::RunCommand(command, ok));
        ASSERT_TRUE(ok && pnm.valid) << command;
        Bytes reference = testhelp::PnmRGBA8(pnm);
        if (!c.alpha)
            for (size_t i = 3; i < reference.size(); i += 4)
                reference[i] = 255;
        EXPECT_LE(Difference(reference, expected, c.tolerance), c.tolerance) << command;
    }
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureWriterTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             name[name.find('.')] = '_';
                             return name;
                         });

}  // namespace

namespace {

// Every format that carries a colour profile gives it back as embedded; the others refuse one.
TEST(PictureWriterProfileTest, EmbeddedWhereTheFormatCarriesOne) {
    RegisterImageFormats();
    const std::vector<uint8_t> profile = IccProfileForCicp(12, 13);  // Display P3
    ASSERT_FALSE(profile.empty());
    TBitmap picture;
    MakeTestPicture(picture, false, true);
    TSaveOptions options;
    options.iccProfile = profile;
    const fs::path dir =
        fs::temp_directory_path() / ("velkaro_writer_profile_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const TSaveFormatInfo& format : SaveFormats()) {
        SCOPED_TRACE(format.name);
        const std::string extension = format.extensions;
        const fs::path file = dir / ("p." + extension.substr(0, extension.find(' ')));
        if (!format.profile) {
            EXPECT_THROW(SavePicture(picture, file, options), EImagingError);
            EXPECT_FALSE(fs::exists(file));
            continue;
        }
        SavePicture(picture, file, options);
        const std::unique_ptr<TGraphic> loaded = TPicture::LoadGraphic(file);
        EXPECT_TRUE(loaded->IccProfile() == profile);
    }
    fs::remove_all(dir);
    UnregisterImageFormats();
}

}  // namespace
