// The BMP suite's own reference renderings (PNG files) against our decoding of the bitmaps
// they show. The renderings round some palette levels differently (0x2A where the bitmaps'
// palettes hold 0x2B), so each channel may differ by one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/TestData.h"
#include "imaging/DibBuilder.h"
#include "imaging/formats/PNGGraphic.h"

namespace fs = std::filesystem;

namespace {

// Blue, green, red of every pixel, alpha dropped: the references are opaque.
std::vector<uint8_t> Colours(const TBitmap& bmp) {
    std::vector<uint8_t> rgba = dibtest::RGBA(bmp);
    std::vector<uint8_t> out;
    out.reserve(rgba.size() / 4 * 3);
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        out.insert(out.end(), &rgba[i], &rgba[i + 3]);
    return out;
}

}  // namespace

TEST(WindowsBitmapSuite, GoodFilesMatchTheSuiteReferenceImages) {
    const fs::path good = testdata::corpus("pillow/bmp/g");
    const fs::path html = testdata::corpus("pillow/bmp/html");
    if (good.empty() || html.empty()) GTEST_SKIP() << "conformance corpus not present";
    const std::vector<std::pair<const char*, std::vector<const char*>>> pairs = {
        {"pal4.png", {"pal4.bmp", "pal4rle.bmp"}},
        {"pal8.png",
         {"pal8.bmp", "pal8-0.bmp", "pal8os2.bmp", "pal8rle.bmp", "pal8topdown.bmp", "pal8v4.bmp",
          "pal8v5.bmp"}},
        {"pal8w124.png", {"pal8w124.bmp"}},
        {"pal8w125.png", {"pal8w125.bmp"}},
    };
    for (const auto& [reference, bitmaps] : pairs) {
        TPNGGraphic png;
        png.LoadFromFile((html / reference).string());
        const std::vector<uint8_t> expected = Colours(png);
        for (const char* name : bitmaps) {
            SCOPED_TRACE(std::string(reference) + " ~ " + name);
            dibtest::TBmp bmp;
            bmp.LoadFromFile((good / name).string());
            ASSERT_EQ(bmp.Width(), png.Width());
            ASSERT_EQ(bmp.Height(), png.Height());
            const std::vector<uint8_t> actual = Colours(bmp);
            ASSERT_EQ(actual.size(), expected.size());
            size_t off = 0;
            for (size_t i = 0; i < actual.size(); ++i)
                if (std::abs(int(actual[i]) - int(expected[i])) > 1) ++off;
            EXPECT_EQ(off, 0u);
        }
    }
}
