#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "imaging/writers/JpegTransform.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

struct TCase {
    const char* name;
    int width, height;
    const char* cjpeg;  // sampling, progression and restart options
    int stored;         // EXIF orientation written into the file (0: no EXIF block)
    int turn;           // the turn as shown
    TPartialBlocks partial;
    bool refused;  // the turn cannot be exact
};

const TCase kCases[] = {
    {"baseline_420_quarter", 64, 48, "-sample 2x2", 0, 6, TPartialBlocks::Refuse, false},
    {"progressive_444_restart_half", 64, 48, "-sample 1x1 -progressive -restart 1", 6, 3,
     TPartialBlocks::Refuse, false},
    {"progressive_420_mirror_stored8", 64, 48, "-sample 2x2 -progressive", 8, 2,
     TPartialBlocks::Refuse, false},
    {"baseline_420_restart_trim", 61, 45, "-sample 2x2 -restart 1", 0, 8, TPartialBlocks::Trim,
     false},
    {"progressive_444_trim_stored3", 61, 45, "-sample 1x1 -progressive", 3, 7, TPartialBlocks::Trim,
     false},
    {"partial_blocks_refused", 61, 45, "-sample 2x2", 0, 6, TPartialBlocks::Refuse, true},
    {"transpose_always_exact", 61, 45, "-sample 2x2", 0, 5, TPartialBlocks::Refuse, false},
};

const char* const kJpegtranOps[9] = {
    "",           "",           "-flip horizontal", "-rotate 180", "-flip vertical",
    "-transpose", "-rotate 90", "-transverse",      "-rotate 270"};

Bytes Decode(const Bytes& jpeg, int& width, int& height) {
    tjhandle h = tjInitDecompress();
    int sub = 0, cs = 0;
    Bytes rgb;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &width, &height, &sub, &cs) == 0) {
        rgb.resize(size_t(width) * size_t(height) * 3);
        if (tjDecompress2(h, jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB, 0) !=
            0)
            rgb.clear();
    }
    tjDestroy(h);
    return rgb;
}

// The metadata segments (APPn and COM), each as its marker and bytes.
std::vector<Bytes> Metadata(const Bytes& file) {
    std::vector<Bytes> out;
    for (const TJpegSegment& s : JpegSegments(file))
        if ((s.marker >= 0xE1 && s.marker <= 0xEF) || s.marker == 0xFE) {
            Bytes segment{s.marker};
            segment.insert(segment.end(), file.begin() + std::ptrdiff_t(s.offset),
                           file.begin() + std::ptrdiff_t(s.offset + s.size));
            out.push_back(segment);
        }
    return out;
}

class JpegTransformTest : public ::testing::TestWithParam<TCase> {};

TEST_P(JpegTransformTest, EqualsJpegtranAndKeepsMetadata) {
    const TCase& c = GetParam();
    if (!testhelp::HaveTool("cjpeg") || !testhelp::HaveTool("jpegtran"))
        GTEST_SKIP() << "cjpeg and jpegtran are needed";
    const fs::path dir =
        fs::temp_directory_path() / ("velkaro_jpegturn_" + std::to_string(getpid()) + "_" + c.name);
    fs::create_directories(dir);
    testhelp::WriteFileBytes(
        dir / "in.ppm",
        "P6\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n",
        testhelp::RampSamples(c.width, c.height, 3, 1));
    bool ok = false;
    Bytes file = testhelp::RunCommand(
        std::string("cjpeg -quality 90 ") + c.cjpeg + " " + testhelp::ShellQuote(dir / "in.ppm"),
        ok);
    ASSERT_TRUE(ok);
    if (c.stored != 0) file = SetJpegOrientation(file, c.stored);
    // An ICC-like APP2 and a comment before the scan: copied whatever they hold.
    const Bytes app2 = {0xFF, 0xE2, 0,    8, 'I', 'C', 'C', 0,   1,
                        2,    0xFF, 0xFE, 0, 6,   'k', 'e', 'p', 't'};
    file.insert(file.begin() + std::ptrdiff_t(JpegSegments(file).back().offset - 4), app2.begin(),
                app2.end());
    testhelp::WriteFileBytes(dir / "in.jpg", file);

    if (c.refused) {
        EXPECT_THROW(TransformJpeg(file, c.turn, c.partial), EJpegPartialBlocks);
        fs::remove_all(dir);
        return;
    }
    const Bytes turned = TransformJpeg(file, c.turn, c.partial);
    const int total = ComposeOrientation(c.stored == 0 ? 1 : c.stored, c.turn);
    const Bytes reference =
        testhelp::RunCommand(std::string("jpegtran -copy none ") + kJpegtranOps[total] +
                                 (c.partial == TPartialBlocks::Trim ? " -trim " : " -perfect ") +
                                 testhelp::ShellQuote(dir / "in.jpg"),
                             ok);
    ASSERT_TRUE(ok);
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    const Bytes ours = Decode(turned, w1, h1), theirs = Decode(reference, w2, h2);
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(w1, w2);
    EXPECT_EQ(h1, h2);
    EXPECT_TRUE(ours == theirs);
    // Every metadata segment kept byte for byte; the orientation now says upright.
    EXPECT_EQ(JpegStoredOrientation(turned), 1);
    EXPECT_EQ(Metadata(turned), Metadata(c.stored != 0 ? SetJpegOrientation(file, 1) : file));
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Turns, JpegTransformTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegTransformTest, OrientationsComposeAsTheyTurn) {
    EXPECT_EQ(ComposeOrientation(6, 6), 3);  // two quarter turns
    EXPECT_EQ(ComposeOrientation(6, 8), 1);
    EXPECT_EQ(ComposeOrientation(2, 6), 7);  // mirrored, then turned clockwise: transversed
    EXPECT_EQ(ComposeOrientation(6, 2), 5);
    for (int o = 1; o <= 8; ++o)
        EXPECT_EQ(ComposeOrientation(o, InverseOrientation(o)), 1) << o;
}

}  // namespace

namespace {

// A cjpeg picture of w x h in the folder.
Bytes MakeJpeg(const fs::path& dir, int w, int h) {
    const fs::path ppm = dir / "thumb.ppm";
    testhelp::WriteFileBytes(ppm, "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n",
                             testhelp::RampSamples(w, h, 3, 1));
    bool ok = false;
    return testhelp::RunCommand("cjpeg -sample 1x1 " + testhelp::ShellQuote(ppm), ok);
}

// The EXIF thumbnail (a JPEG ending the block, as cameras write it) turns with the picture.
TEST(JpegTransformTest, ExifThumbnailTurnsWithThePicture) {
    if (!testhelp::HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg is needed";
    const fs::path dir =
        fs::temp_directory_path() / ("velkaro_jpegthumb_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const Bytes thumbnail = MakeJpeg(dir, 16, 8);
    Bytes file = MakeJpeg(dir, 64, 48);
    ASSERT_FALSE(thumbnail.empty() || file.empty());
    // "Exif\0\0", a big-endian TIFF header, IFD0 (orientation 1) and IFD1 (the thumbnail).
    Bytes exif = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8};
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        testhelp::Put16BE(exif, tag);
        testhelp::Put16BE(exif, type);
        testhelp::Put32BE(exif, 1);
        if (type == 3) {
            testhelp::Put16BE(exif, value);
            testhelp::Put16BE(exif, 0);
        } else {
            testhelp::Put32BE(exif, value);
        }
    };
    testhelp::Put16BE(exif, 1);
    entry(274, 3, 1);
    testhelp::Put32BE(exif, 26);  // IFD1 right after IFD0 (offsets count from the TIFF header)
    testhelp::Put16BE(exif, 2);
    entry(0x201, 4, 26 + 2 + 24 + 4);
    entry(0x202, 4, uint32_t(thumbnail.size()));
    testhelp::Put32BE(exif, 0);
    exif.insert(exif.end(), thumbnail.begin(), thumbnail.end());
    Bytes segment = {0xFF, 0xE1};
    testhelp::Put16BE(segment, uint32_t(exif.size() + 2));
    segment.insert(segment.end(), exif.begin(), exif.end());
    file.insert(file.begin() + 2, segment.begin(), segment.end());

    const Bytes turned = TransformJpeg(file, 6);
    const std::vector<TJpegSegment> segments = JpegSegments(turned);
    auto app1 = std::find_if(segments.begin(), segments.end(),
                             [](const TJpegSegment& s) { return s.marker == 0xE1; });
    ASSERT_NE(app1, segments.end());
    const size_t at = app1->offset + 6 + 26 + 2 + 24 + 4;
    ASSERT_LT(at, app1->offset + app1->size);
    const Bytes newThumbnail(turned.begin() + std::ptrdiff_t(at),
                             turned.begin() + std::ptrdiff_t(app1->offset + app1->size));
    int w = 0, h = 0;
    EXPECT_FALSE(Decode(newThumbnail, w, h).empty());
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 16);
    fs::remove_all(dir);
}

}  // namespace
