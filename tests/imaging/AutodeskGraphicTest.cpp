// Autodesk Animator cel/picture loader: files written here in the Animator layout round-trip
// exactly; the probe, the 6-bit palette, cut files and refused headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/ImagingTestHelpers.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/AutodeskGraphic.h"

namespace fs = std::filesystem;
using namespace testhelp;

namespace {

uint8_t Index(int x, int y) {
    return uint8_t(x * 5 + y * 11 + (x ^ y));
}
uint8_t Component(size_t entry, size_t c) {
    return uint8_t((entry * 3 + c * 17) % 64);
}

// 32-byte header (magic, size, offsets, bits, compression, image size, reserved), 256 palette
// entries of 6-bit red, green, blue, then the rows from the top.
Bytes CelFile(int w, int h, uint8_t bits = 8, uint8_t compression = 0) {
    Bytes f;
    Put16LE(f, 0x9119);
    Put16LE(f, uint32_t(w));
    Put16LE(f, uint32_t(h));
    Put16LE(f, 12);  // x offset
    Put16LE(f, 34);  // y offset
    f.insert(f.end(), {bits, compression});
    Put32LE(f, uint32_t(w * h));
    f.resize(32);
    for (size_t i = 0; i < 256; ++i)
        for (size_t c = 0; c < 3; ++c)
            f.push_back(Component(i, c));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.push_back(Index(x, y));
    return f;
}

// present: how many pixels (row by row) the file holds; the rest must be index 0.
void ExpectPicture(const TBitmap& g, int w, int h, int present) {
    ASSERT_EQ(g.Width(), w);
    ASSERT_EQ(g.Height(), h);
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    ASSERT_EQ(g.Palette().size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        // 6-bit components times four: 63 becomes 252.
        ASSERT_EQ(g.Palette()[i].rgbRed, Component(i, 0) * 4) << i;
        ASSERT_EQ(g.Palette()[i].rgbGreen, Component(i, 1) * 4) << i;
        ASSERT_EQ(g.Palette()[i].rgbBlue, Component(i, 2) * 4) << i;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(g.ScanLine(y)[x], y * w + x < present ? Index(x, y) : 0) << x << "," << y;
}

TEST(AutodeskGraphic, RoundTripAndHeaders) {
    const struct {
        const char* name;
        int w, h;
        uint8_t bits, compression;
        bool probe;
    } cases[] = {
        {"small", 7, 5, 8, 0, true},
        {"one row", 321, 1, 8, 0, true},
        {"one column", 1, 40, 8, 0, true},
        // Chosen by its extension, a file with other header values still reads as 8-bit.
        {"bits 4", 6, 6, 4, 0, false},
        {"compression 1", 6, 6, 8, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = CelFile(c.w, c.h, c.bits, c.compression);
        TMemoryStream s(file.data(), int64_t(file.size()));
        EXPECT_EQ(TAutodeskGraphic::ProbeStream(s), c.probe);
        EXPECT_EQ(s.Position(), 0);
        TAutodeskGraphic g;
        ASSERT_NO_THROW(LoadBytes(g, file));
        ExpectPicture(g, c.w, c.h, c.w * c.h);
        EXPECT_EQ(g.ImageProperties().Compression, compNone);
        EXPECT_EQ(g.ImageProperties().ColorScheme, schemeIndexed);
    }
    // The probe needs more than the header.
    Bytes exact = CelFile(2, 2);
    exact.resize(32);
    TMemoryStream s(exact.data(), 32);
    EXPECT_FALSE(TAutodeskGraphic::ProbeStream(s));

    const std::string invalid = "Cannot load image. Invalid or unexpected Autodesk image format.";
    Bytes magic = CelFile(3, 3);
    magic[1] = 0x92;
    EXPECT_EQ(LoadError<TAutodeskGraphic>(magic), invalid);
    EXPECT_EQ(LoadError<TAutodeskGraphic>(Bytes{}), invalid);
    Bytes zero = CelFile(3, 3);
    zero[2] = zero[3] = 0;
    EXPECT_EQ(LoadError<TAutodeskGraphic>(zero), invalid);
    TPixelLimit limit(100);
    EXPECT_NE(LoadError<TAutodeskGraphic>(CelFile(11, 10)), "no error");
}

TEST(AutodeskGraphic, CutFiles) {
    const int w = 13, h = 6;
    const Bytes file = CelFile(w, h);
    for (size_t n = 0; n < file.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(n));
        const std::string message = LoadError<TAutodeskGraphic>(part);
        if (n < 32) {
            EXPECT_EQ(message, "Cannot load image. Invalid or unexpected Autodesk image format.");
        } else if (n < 800) {
            // The palette is incomplete.
            EXPECT_EQ(message, "other: Stream read error");
        } else {
            // Rows the file does not reach stay at index 0; a partial row keeps what arrived.
            TAutodeskGraphic g;
            ASSERT_NO_THROW(LoadBytes(g, part));
            ExpectPicture(g, w, h, int(n - 800));
        }
    }
}

TEST(AutodeskGraphic, BothExtensionsThroughThePictureHolder) {
    RegisterImageFormats();
    const fs::path dir = fs::temp_directory_path() / "velkaro_autodesk_test";
    fs::create_directories(dir);
    for (const char* name : {"a.cel", "b.pic"}) {
        SCOPED_TRACE(name);
        const Bytes file = CelFile(9, 4);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        TPicture picture;
        picture.LoadFromFile((dir / name).string());
        const auto* g = dynamic_cast<const TAutodeskGraphic*>(picture.Graphic());
        ASSERT_NE(g, nullptr);
        ExpectPicture(*g, 9, 4, 36);
    }
    fs::remove_all(dir);
    UnregisterImageFormats();
}

}  // namespace
