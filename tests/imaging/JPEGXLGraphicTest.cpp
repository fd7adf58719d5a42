// JPEG XL loader: files made by cjxl at test time (and one by libjxl's encoder, turned by its
// orientation) against djxl; the corpus's damaged files; probe, truncation, limits, progress.
#include <gtest/gtest.h>
#include <jxl/encode.h>

#include <filesystem>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/LibraryGraphicChecks.h"
#include "imaging/formats/JPEGXLGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;
using testhelp::RampSamples;
using testhelp::WriteFileBytes;

const fs::path kDir = fs::temp_directory_path() / "velkaro_jxl_test";

// A lossless RGB picture w x h stored turned by orientation, in the container.
Bytes EncodeOriented(int w, int h, uint32_t orientation) {
    JxlEncoder* enc = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(w);
    info.ysize = uint32_t(h);
    info.bits_per_sample = 8;
    info.uses_original_profile = JXL_TRUE;
    info.orientation = JxlOrientation(orientation);
    JxlEncoderUseContainer(enc, JXL_TRUE);
    JxlEncoderSetBasicInfo(enc, &info);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    JxlEncoderSetColorEncoding(enc, &colour);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const Bytes pixels = RampSamples(w, h, 3, 1);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size());
    JxlEncoderCloseInput(enc);
    Bytes out(1 << 16);
    uint8_t* next = out.data();
    size_t avail = out.size();
    EXPECT_EQ(JxlEncoderProcessOutput(enc, &next, &avail), JXL_ENC_SUCCESS);
    out.resize(out.size() - avail);
    JxlEncoderDestroy(enc);
    return out;
}

// Our picture equals djxl's (its samples scaled to 8 bits with rounding, grey spread).
void ExpectMatchesDjxl(const fs::path& file, int tolerance) {
    SCOPED_TRACE(file.filename().string());
    TJPEGXLGraphic jxl;
    ASSERT_NO_THROW(testhelp::LoadBytes(jxl, testhelp::ReadFileBytes(file)));
    const fs::path ref = kDir / (jxl.ImageProperties().HasAlpha ? "ref.pam" : "ref.ppm");
    fs::remove(ref);
    std::system(("djxl " + testhelp::ShellQuote(file.string()) + " " + ref.string() +
                 " --quiet >/dev/null 2>&1")
                    .c_str());
    const testhelp::TPnm pnm = testhelp::ReadPnm(ref);
    ASSERT_TRUE(pnm.valid);
    ASSERT_EQ(jxl.Width(), pnm.width);
    ASSERT_EQ(jxl.Height(), pnm.height);
    const Bytes ours = testhelp::BitmapRGBA(jxl), ref8 = testhelp::PnmRGBA8(pnm);
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i)
        worst = std::max(worst, std::abs(int(ours[i]) - int(ref8[i])));
    EXPECT_LE(worst, tolerance);
}

TEST(JPEGXLGraphic, EncodedFilesMatchDjxl) {
    if (!testhelp::HaveTool("cjxl") || !testhelp::HaveTool("djxl"))
        GTEST_SKIP() << "cjxl or djxl absent";
    fs::create_directories(kDir);
    WriteFileBytes(kDir / "g.pgm", "P5\n45 29\n255\n", RampSamples(45, 29, 1, 1));
    WriteFileBytes(kDir / "c.ppm", "P6\n45 29\n255\n", RampSamples(45, 29, 3, 1));
    WriteFileBytes(kDir / "c16.ppm", "P6\n45 29\n65535\n", RampSamples(45, 29, 3, 2));
    WriteFileBytes(kDir / "a.pam",
                   "P7\nWIDTH 45\nHEIGHT 29\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                   RampSamples(45, 29, 4, 1));
    struct TCase {
        const char *name, *input, *options;
        int tolerance;  // djxl writes 16 bits for the 16-bit file; we round the same floats
    } const cases[] = {
        {"g.jxl", "g.pgm", "-d 0", 0},       {"c.jxl", "c.ppm", "-d 0", 0},
        {"c_lossy.jxl", "c.ppm", "-d 1", 1}, {"c16.jxl", "c16.ppm", "-d 0", 1},
        {"a.jxl", "a.pam", "-d 0", 0},       {"a_lossy.jxl", "a.pam", "-d 2", 1},
    };
    for (const TCase& c : cases) {
        const std::string command = "cjxl " + (kDir / c.input).string() + " " +
                                    (kDir / c.name).string() + " " + c.options + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        ExpectMatchesDjxl(kDir / c.name, c.tolerance);
    }
    // Every orientation, in the container; 5 to 8 exchange the sides.
    for (uint32_t orientation = 1; orientation <= 8; ++orientation) {
        const Bytes file = EncodeOriented(6, 4, orientation);
        WriteFileBytes(kDir / "o.jxl", "", file);
        ExpectMatchesDjxl(kDir / "o.jxl", 0);
        TJPEGXLGraphic jxl;
        testhelp::LoadBytes(jxl, file);
        EXPECT_EQ(jxl.Width(), orientation >= 5 ? 4 : 6) << orientation;
    }
}

TEST(JPEGXLGraphic, ProbeDamageLimitsAndProgress) {
    const Bytes good = EncodeOriented(6, 4, 1);
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(TJPEGXLGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    Bytes other = good;
    other[5] ^= 1;
    EXPECT_EQ(testhelp::LoadError<TJPEGXLGraphic>(other),
              "Cannot load image. Invalid or unexpected JPEG XL image format.");
    // Cut short, the file still reads its header.
    testhelp::ExpectLibraryLoaderBasics<TJPEGXLGraphic>(good, Bytes(good.begin(), good.end() - 3),
                                                        6, 4, false);
}

}  // namespace
