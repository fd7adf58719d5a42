// Frames and pages: animations that Pillow writes (every GIF disposal, APNG dispose and blend
// op, lossless WebP) composed frame by frame against Pillow, ImageMagick's -coalesce and
// apngdis; TIFF pages against tiffsplit and icon entries against ImageMagick; damaged frame
// tables.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/PillowReference.h"
#include "imaging/Exceptions.h"
#include "imaging/FrameReader.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/PNGGraphic.h"

namespace {

namespace fs = std::filesystem;
using testhelp::Bytes;

// Pillow writes the animations and the pages; frames differ in place, colour and alpha.
const char* const kMakeFiles = R"(
import sys
from PIL import Image, ImageDraw
d = sys.argv[1]
def frame(i, mode, w=40, h=30):
    im = Image.new(mode, (w, h), (0, 0, 0, 0) if mode == 'RGBA' else 0)
    dr = ImageDraw.Draw(im)
    dr.rectangle([i * 5, i * 3, i * 5 + 14, i * 3 + 10], fill=(200 - i * 40, 50 + i * 50, 90, 255))
    dr.ellipse([20 - i * 3, 5, 34 - i * 3, 19], fill=(30, 160, 220 - i * 30, 128 + i * 30))
    return im
g = [frame(i, 'RGBA').convert('RGB').quantize(16) for i in range(5)]
g[0].save(d + '/anim.gif', save_all=True, append_images=g[1:], duration=[10, 50, 70, 0, 200],
          disposal=[0, 1, 2, 3, 1], loop=1, transparency=0, optimize=False)
a = [frame(i, 'RGBA') for i in range(5)]
a[0].save(d + '/anim.png', save_all=True, append_images=a[1:], duration=[40, 60, 80, 100, 120],
          disposal=[0, 1, 2, 0, 1], blend=[0, 1, 1, 0, 1], loop=3)
a[0].save(d + '/anim.webp', save_all=True, append_images=a[1:], duration=[40, 60, 80, 100, 120],
          lossless=True, loop=0)
for i in range(3):
    frame(i, 'RGBA', 24, 16).convert('RGB').save(d + '/still%d.png' % i)
t = [frame(i, 'RGBA', 20 + 7 * i, 15 + 3 * i).convert('RGB') for i in range(3)]
t[0].save(d + '/pages.tif', save_all=True, append_images=t[1:], compression='tiff_lzw')
)";

// Frame index of the file as Pillow composes it, as RGBA.
testhelp::TPnm PillowFrame(const fs::path& file, int index, bool& ok) {
    const std::string script =
        "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
        "im.seek(int(sys.argv[2]))\nim = im.convert('RGBA')\nout = sys.stdout.buffer\n"
        "out.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n' % im.size)\n"
        "out.write(im.tobytes())\n";
    const testhelp::TPnm pnm = testhelp::ParsePnm(testhelp::RunCommand(
        "/usr/bin/python3 -c " + testhelp::ShellQuote(script) + " " +
            testhelp::ShellQuote(file.string()) + " " + std::to_string(index) + " 2>/dev/null",
        ok));
    ok = ok && pnm.valid;
    return pnm;
}

// Largest difference of two RGBA pictures of the same size; pixels transparent in both count
// as equal whatever their colour.
int Difference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        if (a[i + 3] == 0 && b[i + 3] == 0) continue;
        for (size_t c = 0; c < 4; ++c)
            worst = std::max(worst, std::abs(int(a[i + c]) - int(b[i + c])));
    }
    return worst;
}

class FrameReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("velkaro_frames_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        made_ = testhelp::HavePillow() &&
                std::system(("/usr/bin/python3 -c " + testhelp::ShellQuote(kMakeFiles) + " " +
                             testhelp::ShellQuote(dir_.string()))
                                .c_str()) == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "Pillow is not installed";
    }
    static inline fs::path dir_;
    static inline bool made_ = false;
};

// Where the references differ from the format's own reader they are left out: Pillow pastes an
// APNG frame that blends over the canvas with its alpha as the mask (a half-transparent pixel
// over a transparent one comes out more transparent than it was), and ImageMagick 6 blends
// every WebP frame over the canvas, also those marked to replace it. APNG frames are checked
// against apngdis, WebP against Pillow, which decodes through libwebp's animation decoder.
struct TAnimationCase {
    const char* file;
    int frames, loops;
    std::vector<int> delays;
    bool pillow, coalesce, apngdis;
    int tolerance;  // apngdis truncates where blending rounds: one step apart at most
};

// Frame i of each reference, read from the files the reference tools wrote; ok false when the
// tool is missing.
std::vector<testhelp::TPnm> References(const fs::path& file, const TAnimationCase& c, int index) {
    std::vector<testhelp::TPnm> refs;
    bool ok = false;
    if (c.pillow) {
        refs.push_back(PillowFrame(file, index, ok));
        EXPECT_TRUE(ok);
    }
    const fs::path dir = file.parent_path();
    if (c.coalesce && testhelp::HaveTool("convert")) {
        refs.push_back(testhelp::ReadPnm(dir / ("coalesced-" + std::to_string(index) + ".pam")));
        EXPECT_TRUE(refs.back().valid);
    }
    if (c.apngdis && testhelp::HaveTool("apngdis")) {
        refs.push_back(testhelp::ParsePnm(testhelp::RunCommand(
            "pngtopam -alphapam " +
                testhelp::ShellQuote(
                    (dir / ("apngdis" + std::to_string(index + 1) + ".png")).string()) +
                " 2>/dev/null",
            ok)));
        EXPECT_TRUE(ok && refs.back().valid);
    }
    return refs;
}

TEST_F(FrameReaderTest, AnimationsAreComposedAsTheReferenceReadersShowThem) {
    const TAnimationCase cases[] = {
        // GIF: the 10 ms and 0 ms frames are shown for 100 ms; one repeat is two plays.
        {"anim.gif", 5, 2, {100, 50, 70, 100, 200}, true, true, false, 0},
        {"anim.png", 5, 3, {40, 60, 80, 100, 120}, false, false, true, 1},
        {"anim.webp", 5, 0, {40, 60, 80, 100, 120}, true, false, false, 0},
    };
    for (const TAnimationCase& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path file = dir_ / c.file;
        auto reader = OpenFrameReader(file.string());
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->Kind(), TFrameKind::Animation);
        ASSERT_EQ(reader->Count(), c.frames);
        EXPECT_EQ(reader->LoopCount(), c.loops);
        for (int i = 0; i < c.frames; ++i)
            EXPECT_EQ(reader->DelayMs(i), c.delays[size_t(i)]) << "frame " << i;
        const std::string quoted = testhelp::ShellQuote(file.string());
        if (c.coalesce && testhelp::HaveTool("convert"))
            std::system(("convert " + quoted + " -coalesce " +
                         testhelp::ShellQuote((dir_ / "coalesced-%d.pam").string()))
                            .c_str());
        if (c.apngdis && testhelp::HaveTool("apngdis"))
            std::system(("cd " + testhelp::ShellQuote(dir_.string()) + " && apngdis " + quoted +
                         " apngdis >/dev/null")
                            .c_str());
        // Forward, then back to the start and a jump, which start again from the first frame.
        for (int i : {0, 1, 2, 3, 4, 1, 4, 3}) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const Bytes ours = testhelp::BitmapRGBA(*reader->Frame(i));
            for (const testhelp::TPnm& ref : References(file, c, i)) {
                ASSERT_TRUE(ref.valid);
                EXPECT_LE(Difference(ours, testhelp::PnmRGBA8(ref)), c.tolerance);
            }
        }
        EXPECT_THROW(reader->Frame(c.frames), EInvalidGraphic);
    }
}

TEST_F(FrameReaderTest, AvifSequenceFramesMatchAvifdec) {
    if (!testhelp::HaveTool("avifenc") || !testhelp::HaveTool("avifdec"))
        GTEST_SKIP() << "libavif tools are not installed";
    // Lossless frames of 1, 3 and 2 tenths of a second.
    const fs::path file = dir_ / "sequence.avif";
    const auto still = [&](int i) {
        return testhelp::ShellQuote((dir_ / ("still" + std::to_string(i) + ".png")).string());
    };
    ASSERT_EQ(std::system(("avifenc -l --timescale 10 --duration 1 " + still(0) + " --duration 3 " +
                           still(1) + " --duration 2 " + still(2) + " " +
                           testhelp::ShellQuote(file.string()) + " >/dev/null 2>&1")
                              .c_str()),
              0);
    auto reader = OpenFrameReader(file.string());
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->Count(), 3);
    const int delays[] = {100, 300, 200};
    for (int i : {1, 2, 0}) {
        EXPECT_EQ(reader->DelayMs(i), delays[i]);
        const fs::path out = dir_ / ("avifdec" + std::to_string(i) + ".png");
        ASSERT_EQ(std::system(("avifdec --index " + std::to_string(i) + " " +
                               testhelp::ShellQuote(file.string()) + " " +
                               testhelp::ShellQuote(out.string()) + " >/dev/null 2>&1")
                                  .c_str()),
                  0);
        bool ok = false;
        const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
            "pngtopam -alphapam " + testhelp::ShellQuote(out.string()) + " 2>/dev/null", ok));
        ASSERT_TRUE(ok && ref.valid);
        EXPECT_EQ(testhelp::BitmapRGBA(*reader->Frame(i)), testhelp::PnmRGBA8(ref)) << i;
    }
}

TEST_F(FrameReaderTest, TiffPagesMatchTiffsplit) {
    if (!testhelp::HaveTool("tiffsplit") || !testhelp::HaveTool("tifftopnm"))
        GTEST_SKIP() << "libtiff tools are not installed";
    const fs::path file = dir_ / "pages.tif";
    auto reader = OpenFrameReader(file.string());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), TFrameKind::Pages);
    ASSERT_EQ(reader->Count(), 3);
    const std::string prefix = (dir_ / "page-").string();
    ASSERT_EQ(std::system(("tiffsplit " + testhelp::ShellQuote(file.string()) + " " +
                           testhelp::ShellQuote(prefix))
                              .c_str()),
              0);
    const char* const parts[] = {"aaa", "aab", "aac"};
    for (int i : {2, 0, 1}) {
        bool ok = false;
        const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
            "tifftopnm " + testhelp::ShellQuote(prefix + parts[i] + ".tif") + " 2>/dev/null", ok));
        ASSERT_TRUE(ok && ref.valid);
        EXPECT_EQ(testhelp::BitmapRGBA(*reader->Frame(i)), testhelp::PnmRGBA8(ref)) << i;
    }
}

TEST_F(FrameReaderTest, IconEntriesMatchImageMagick) {
    if (!testhelp::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    // Entries of three sizes and depths; the largest is the one a plain load shows.
    const fs::path file = dir_ / "sizes.ico";
    const std::string make =
        "convert -size 16x16 gradient:red-blue -size 48x48 xc:none -fill '#30a0f0' -draw "
        "'circle 24,24 24,8' -size 32x32 plasma:fractal -seed 3 " +
        testhelp::ShellQuote(file.string());
    ASSERT_EQ(std::system((make + " 2>/dev/null").c_str()), 0);
    auto reader = OpenFrameReader(file.string());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->Kind(), TFrameKind::Pages);
    ASSERT_EQ(reader->Count(), 3);
    EXPECT_EQ(reader->DefaultIndex(), 1);
    for (int i : {0, 1, 2}) {
        bool ok = false;
        const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
            "convert " + testhelp::ShellQuote(file.string() + "[" + std::to_string(i) + "]") +
                " PAM:- 2>/dev/null",
            ok));
        ASSERT_TRUE(ok && ref.valid);
        EXPECT_EQ(Difference(testhelp::BitmapRGBA(*reader->Frame(i)), testhelp::PnmRGBA8(ref)), 0)
            << i;
    }
}

// Damaged frame tables: fewer frames or none, never a read outside the file.
TEST_F(FrameReaderTest, DamagedFramesAreBounded) {
    const Bytes gif = testhelp::ReadFileBytes(dir_ / "anim.gif");
    const Bytes png = testhelp::ReadFileBytes(dir_ / "anim.png");
    struct TCase {
        const char* what;
        Bytes bytes;
        int frames;  // 0: no reader
    } cases[] = {
        {"GIF cut in its second frame", Bytes(gif.begin(), gif.begin() + 1400), 2},
        {"GIF of one frame", Bytes(gif.begin(), gif.begin() + 800), 0},
        {"APNG cut after its header", Bytes(png.begin(), png.begin() + 60), 0},
        {"empty", {}, 0},
    };
    // An APNG whose second frame lies outside the canvas keeps only the frame before it.
    Bytes outside = png;
    for (size_t p = 8, seen = 0; p + 12 < outside.size(); p += 12 + GetU32BE(&outside[p])) {
        if (std::memcmp(&outside[p + 4], "fcTL", 4) == 0 && ++seen == 2) {
            outside[p + 8 + 12] = 0x7F;  // x offset far to the right
            break;
        }
    }
    for (TCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto reader = OpenFrameReader(std::make_shared<const Bytes>(c.bytes));
        if (c.frames == 0) {
            EXPECT_EQ(reader, nullptr);
            continue;
        }
        ASSERT_NE(reader, nullptr);
        ASSERT_EQ(reader->Count(), c.frames);
        for (int i = 0; i < c.frames; ++i)
            EXPECT_EQ(reader->Frame(i)->Width(), 40);
    }
    EXPECT_EQ(OpenFrameReader(std::make_shared<const Bytes>(outside)), nullptr);
}

}  // namespace
