// QOI loader: each chunk kind decoded from hand-made files; damaged and oversized files; the
// public corpus against Pillow's reading of the same pictures saved as PNG.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/PillowReference.h"
#include "common/TestData.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/QOIGraphic.h"

namespace {

using testhelp::Bytes;

Bytes Qoi(uint32_t width, uint32_t height, uint8_t channels, const Bytes& chunks) {
    Bytes file{'q', 'o', 'i', 'f'};
    testhelp::Put32BE(file, width);
    testhelp::Put32BE(file, height);
    file.insert(file.end(), {channels, 0});
    testhelp::PutBytes(file, chunks);
    testhelp::PutBytes(file, Bytes{0, 0, 0, 0, 0, 0, 0, 1});
    return file;
}

TEST(QOIGraphic, EachChunkKindGivesItsPixels) {
    struct TCase {
        const char* name;
        uint32_t width, height;
        uint8_t channels;
        Bytes chunks;
        Bytes rgba;  // expected, row by row
    } const cases[] = {
        {"rgb and rgba",
         2,
         1,
         4,
         {0xFE, 10, 20, 30, 0xFF, 1, 2, 3, 4},
         {10, 20, 30, 255, 1, 2, 3, 4}},
        // Differences wrap around: 0 - 2 is 254.
        {"diff",
         2,
         1,
         3,
         {0xFE, 1, 100, 200, 0x40 | 0 << 4 | 3 << 2 | 2},
         {1, 100, 200, 255, 255, 101, 200, 255}},
        // Green +5, red and blue relative to it: +5-8+15 and +5-8+0.
        {"luma", 1, 1, 3, {0x80 | 37, 0xF0}, {12, 5, 253, 255}},
        // A run continues over the row end; the table holds each colour at its hash.
        {"run and index",
         3,
         2,
         4,
         {0xFF, 9, 8, 7, 6, 0xC0 | 2, 0xFE, 1, 1, 1, (9 * 3 + 8 * 5 + 7 * 7 + 6 * 11) % 64},
         {9, 8, 7, 6, 9, 8, 7, 6, 9, 8, 7, 6, 9, 8, 7, 6, 1, 1, 1, 6, 9, 8, 7, 6}},
        // The table starts empty: its entries are transparent black.
        {"index first", 1, 1, 4, {53}, {0, 0, 0, 0}},
        // Three channels: alpha chunks still decode, the picture has none.
        {"rgb ignores alpha", 1, 1, 3, {0xFF, 4, 5, 6, 7}, {4, 5, 6, 255}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TQOIGraphic qoi;
        testhelp::LoadBytes(qoi, Qoi(c.width, c.height, c.channels, c.chunks));
        EXPECT_EQ(qoi.PixelFormat(), c.channels == 4 ? pf32bit : pf24bit);
        EXPECT_EQ(testhelp::BitmapRGBA(qoi), c.rgba);
    }
}

TEST(QOIGraphic, ProbeDamageAndLimits) {
    const Bytes good = Qoi(3, 2, 3, {0xFE, 1, 2, 3, 0xC0 | 4});
    TMemoryStream stream(good.data(), int64_t(good.size()));
    EXPECT_TRUE(TQOIGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    const std::string invalid = "Cannot load image. Invalid or unexpected QOI image format.";
    const std::string broken = "Cannot load image. Compression error found in QOI file.";
    struct TCase {
        const char* name;
        Bytes file;
        std::string error;
    } const cases[] = {
        {"zero width", Qoi(0, 2, 3, {}), invalid},
        {"two channels", Qoi(1, 1, 2, {0xC0}), invalid},
        {"colour space 2",
         [] {
             Bytes b = Qoi(1, 1, 3, {0xC0});
             b[13] = 2;
             return b;
         }(),
         invalid},
        // 16 million pixels announced by a few bytes are refused before any allocation.
        {"more pixels than bytes can hold", Qoi(4000, 4000, 4, {0xC0}), invalid},
        {"nothing decoded", Bytes(good.begin(), good.begin() + 16), broken},
        // A file broken off in the second row keeps the first.
        {"second row missing", Qoi(1, 2, 3, {0xFE, 1, 2, 3}), "no error"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(testhelp::LoadError<TQOIGraphic>(c.file), c.error) << c.name;
    // Every truncation loads or fails cleanly.
    for (size_t n = 0; n < good.size(); ++n)
        testhelp::LoadError<TQOIGraphic>(Bytes(good.begin(), good.begin() + std::ptrdiff_t(n)));
    testhelp::TPixelLimit limit(5);
    EXPECT_EQ(testhelp::LoadError<TQOIGraphic>(good).find("no error"), std::string::npos);
}

TEST(QOIGraphic, CorpusMatchesPillowReadingThePNG) {
    const auto root = testdata::corpus("pillow");
    if (root.empty()) GTEST_SKIP() << "Pillow corpus absent";
    if (!testhelp::HavePillow()) GTEST_SKIP() << "Pillow absent";
    for (const char* name : {"hopper", "pil123rgba"}) {
        SCOPED_TRACE(name);
        TQOIGraphic qoi;
        testhelp::LoadBytes(qoi, testhelp::ReadFileBytes(root / (std::string(name) + ".qoi")));
        bool ok = false;
        const auto ref = testhelp::PillowRGBA((root / (std::string(name) + ".png")).string(), ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(qoi.Width(), ref.width);
        ASSERT_EQ(qoi.Height(), ref.height);
        EXPECT_TRUE(testhelp::BitmapRGBA(qoi) == ref.raster);
    }
    TQOIGraphic index;
    testhelp::LoadBytes(index, testhelp::ReadFileBytes(root / "op_index.qoi"));
    EXPECT_EQ(testhelp::BitmapRGBA(index), (Bytes{0, 0, 0, 0}));
}

}  // namespace
