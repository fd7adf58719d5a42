// Windows bitmaps beyond the plain layouts: pixel data that is a whole PNG or JPEG file
// (decoded by the registered loaders), and true-colour bitmaps with colour tables of any size.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/DibBuilder.h"
#include "imaging/Exceptions.h"
#include "imaging/Registration.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/WindowsBitmap.h"

using namespace dibtest;

namespace {

constexpr int kWidth = 19, kHeight = 7;

uint8_t Sample(int x, int y, int c) {
    return uint8_t(x * 13 + y * 31 + c * 80);
}

// An 8-bit RGB PNG of the sample pattern, filter 0 on every row.
std::vector<uint8_t> MakePng() {
    std::vector<uint8_t> raw;
    for (int y = 0; y < kHeight; ++y) {
        raw.push_back(0);
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                raw.push_back(Sample(x, y, c));
    }
    std::vector<uint8_t> packed(compressBound(uLong(raw.size())));
    uLongf packedSize = uLongf(packed.size());
    compress(packed.data(), &packedSize, raw.data(), uLong(raw.size()));
    packed.resize(packedSize);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        testhelp::Put32BE(png, uint32_t(data.size()));
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        testhelp::Put32BE(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
    };
    std::vector<uint8_t> ihdr;
    testhelp::Put32BE(ihdr, kWidth);
    testhelp::Put32BE(ihdr, kHeight);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

std::vector<uint8_t> MakeJpeg() {
    TBitmap source;
    source.SetPixelFormat(pf24bit);
    source.SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                source.ScanLine(y)[3 * x + c] = Sample(x, y, 2 - c);
    TJPEGImage jpeg;
    jpeg.Assign(source);
    TMemoryStream out;
    jpeg.SaveToStream(out);
    return std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size());
}

TDibLayout Embedded(uint32_t compression, std::vector<uint8_t> file, bool withSize) {
    TDibLayout s;
    s.width = kWidth;
    s.height = kHeight;
    s.bitCount = 0;
    s.compression = compression;
    s.imageSize = withSize ? uint32_t(file.size()) : 0;
    s.pixels = std::move(file);
    return s;
}

struct TRegistry {
    TRegistry() { RegisterImageFormats(); }
    ~TRegistry() { UnregisterImageFormats(); }
};

}  // namespace

TEST(WindowsBitmapEmbedded, PngAndJpegPixelDataIsShown) {
    TRegistry registry;
    const std::vector<uint8_t> png = MakePng(), jpeg = MakeJpeg();
    // The JPEG reference: the same bytes through the JPEG class.
    TJPEGImage direct;
    testhelp::LoadBytes(direct, jpeg);
    const std::vector<uint8_t> jpegPixels = RGBA(direct.Bitmap());
    std::vector<uint8_t> pngPixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            pngPixels.insert(pngPixels.end(),
                             {Sample(x, y, 0), Sample(x, y, 1), Sample(x, y, 2), 255});

    struct TCase {
        const char* name;
        TDibLayout layout;
        const std::vector<uint8_t>& expected;
    } const cases[] = {
        {"png", Embedded(dibPNG, png, true), pngPixels},
        {"png without image size", Embedded(dibPNG, png, false), pngPixels},
        {"jpeg", Embedded(dibJPEG, jpeg, true), jpegPixels},
        {"jpeg, bit count 24", Embedded(dibJPEG, jpeg, false), jpegPixels},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TDibLayout layout = c.layout;
        if (std::string(c.name).find("24") != std::string::npos) layout.bitCount = 24;
        TBmp bmp = Load(layout.Build());
        ASSERT_EQ(bmp.Width(), kWidth);
        ASSERT_EQ(bmp.Height(), kHeight);
        EXPECT_EQ(RGBA(bmp), c.expected);
    }

    // Damaged embedded files fail as bitmaps, at every length.
    for (const auto& file : {png, jpeg}) {
        const uint32_t compression = file == png ? dibPNG : dibJPEG;
        for (size_t n = 0; n < file.size(); n += 3) {
            const std::vector<uint8_t> part(file.begin(), file.begin() + std::ptrdiff_t(n));
            try {
                Load(Embedded(compression, part, false).Build());
            } catch (const EInvalidGraphic&) {
            }
        }
    }
    EXPECT_THROW(Load(Embedded(dibPNG, jpeg, false).Build()), EInvalidGraphic);
    EXPECT_THROW(Load(Embedded(dibJPEG, png, false).Build()), EInvalidGraphic);
    // A bit count of 0 is only for embedded files.
    TDibLayout zero = Embedded(dibRGB, png, false);
    EXPECT_THROW(Load(zero.Build()), EInvalidGraphic);
}

TEST(WindowsBitmapEmbedded, WithoutDecodersTheyAreRefused) {
    dib::SetEmbeddedDecoder(dibPNG, nullptr);
    try {
        Load(Embedded(dibPNG, MakePng(), true).Build());
        FAIL() << "loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(),
                     "Cannot load bitmap. JPEG and PNG compressed bitmaps are not supported.");
    }
}

// True-colour bitmaps may carry a colour table for palette devices; it is skipped whatever its
// size, with a file header and in a packed DIB.
TEST(WindowsBitmapEmbedded, TrueColourIgnoresItsColourTable) {
    for (const int bits : {16, 24, 32})
        for (const uint32_t colours : {0u, 256u, 300u, 1000u})
            for (const bool fileHeader : {true, false}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(colours) +
                             " colours" + (fileHeader ? "" : ", packed"));
                TDibLayout s;
                s.width = 3;
                s.height = 2;
                s.bitCount = uint16_t(bits);
                s.colorsUsed = colours;
                s.fileHeader = fileHeader;
                s.palette.assign(colours, TRGBQuad{1, 2, 3, 0});
                const int rowBytes = int(dib::RowBytes(3, bits));
                for (int i = 0; i < rowBytes * 2; ++i)
                    s.pixels.push_back(uint8_t(i * 37));
                TBmp bmp = Load(s.Build());
                EXPECT_EQ(bmp.Width(), 3);
                // The same pixels as without a table.
                TDibLayout plain = s;
                plain.colorsUsed = 0;
                plain.palette.clear();
                EXPECT_EQ(RGBA(bmp), RGBA(Load(plain.Build())));
            }
    // A packed DIB whose table runs past the end of the data is truncated.
    TDibLayout s;
    s.width = 1;
    s.height = 1;
    s.colorsUsed = 0x40000000;
    s.fileHeader = false;
    s.pixels = {1, 2, 3, 0};
    EXPECT_THROW(Load(s.Build()), EInvalidGraphic);
}
