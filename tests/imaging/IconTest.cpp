// Icon reader: entry choice, AND mask and alpha, PNG entries, malformed directories; metafile
// placeholder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/DibBuilder.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/Metafile.h"

using namespace dibtest;
namespace fs = std::filesystem;

namespace {

struct TIconEntry {
    uint8_t dirWidth = 0, dirHeight = 0;
    uint16_t dirBitCount = 0;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> BuildIcon(const std::vector<TIconEntry>& entries) {
    std::vector<uint8_t> v;
    Put16(v, 0);
    Put16(v, 1);
    Put16(v, uint32_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (const TIconEntry& e : entries) {
        v.push_back(e.dirWidth);
        v.push_back(e.dirHeight);
        v.push_back(0);
        v.push_back(0);
        Put16(v, 1);
        Put16(v, e.dirBitCount);
        Put32(v, uint32_t(e.data.size()));
        Put32(v, offset);
        offset += uint32_t(e.data.size());
    }
    for (const TIconEntry& e : entries)
        v.insert(v.end(), e.data.begin(), e.data.end());
    return v;
}

// A square icon image of the given size and depth, every pixel the same index or colour, with
// an AND mask whose first pixel (top left) is transparent when maskTopLeft is set.
TIconEntry Square(int size, int bitCount, bool maskTopLeft, uint8_t fill = 1) {
    TDibLayout s;
    s.fileHeader = false;
    s.width = size;
    s.height = 2 * size;
    s.bitCount = uint16_t(bitCount);
    if (bitCount <= 8)
        for (int i = 0; i < (1 << bitCount); ++i)
            s.palette.push_back({uint8_t(i * 10), uint8_t(i * 20), uint8_t(i * 30), 0});
    const int64_t stride = ((int64_t(size) * bitCount + 31) / 32) * 4;
    for (int y = 0; y < size; ++y)
        for (int64_t i = 0; i < stride; ++i)
            s.pixels.push_back(bitCount == 1 ? 0xFF : bitCount == 4 ? uint8_t(fill * 0x11) : fill);
    const int64_t maskStride = ((int64_t(size) + 31) / 32) * 4;
    for (int y = 0; y < size; ++y)
        for (int64_t i = 0; i < maskStride; ++i)
            // Rows are bottom-up: the last stored row is the top row.
            s.pixels.push_back((maskTopLeft && y == size - 1 && i == 0) ? 0x80 : 0x00);
    return {uint8_t(size == 256 ? 0 : size), uint8_t(size == 256 ? 0 : size), uint16_t(bitCount),
            s.Dib()};
}

TBmp LoadIconBytes(const std::vector<uint8_t>& bytes, TIcon& icon) {
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    icon.LoadFromStream(s);
    TBmp copy;
    copy.Assign(icon);
    return copy;
}

}  // namespace

TEST(Icon, PicksTheLargestThenDeepestEntry) {
    TIcon icon;
    TBmp bmp = LoadIconBytes(BuildIcon({Square(16, 32, false), Square(32, 4, false),
                                        Square(32, 8, false), Square(24, 32, false)}),
                             icon);
    EXPECT_EQ(icon.EntryCount(), 4);
    EXPECT_EQ(icon.EntryIndex(), 2);
    EXPECT_EQ(bmp.Width(), 32);
    EXPECT_EQ(bmp.Height(), 32);
}

TEST(Icon, EntryHeadersOverruleTheDirectory) {
    // The directory claims 64 x 64 for the small entry; its own header says 16 x 16.
    TIconEntry lying = Square(16, 8, false);
    lying.dirWidth = lying.dirHeight = 64;
    TIcon icon;
    LoadIconBytes(BuildIcon({lying, Square(32, 8, false)}), icon);
    EXPECT_EQ(icon.EntryIndex(), 1);
}

TEST(Icon, AndMaskBecomesAlpha) {
    for (int bits : {1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        TIcon icon;
        TBmp bmp = LoadIconBytes(BuildIcon({Square(8, bits, true)}), icon);
        ASSERT_EQ(bmp.PixelFormat(), pf32bit);
        EXPECT_TRUE(icon.Transparent());
        EXPECT_EQ(Pixel(bmp, 0, 0) >> 24, 0u);
        EXPECT_EQ(Pixel(bmp, 1, 0) >> 24, 255u);
        EXPECT_EQ(Pixel(bmp, 0, 7) >> 24, 255u);
    }
    // Colours come from the palette.
    TIcon icon;
    TBmp bmp = LoadIconBytes(BuildIcon({Square(4, 8, false, 3)}), icon);
    EXPECT_EQ(Pixel(bmp, 2, 2), 0xFF5A3C1Eu);
}

TEST(Icon, ThirtyTwoBitAlphaWinsOverTheMask) {
    TIconEntry e = Square(2, 32, true, 0x80);  // every byte 0x80, alpha included
    TIcon icon;
    TBmp bmp = LoadIconBytes(BuildIcon({e}), icon);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0x80808080u);

    // All-zero alpha: the mask decides.
    e = Square(2, 32, true, 0x00);
    bmp = LoadIconBytes(BuildIcon({e}), icon);
    EXPECT_EQ(Pixel(bmp, 0, 0), 0x00000000u);
    EXPECT_EQ(Pixel(bmp, 1, 0), 0xFF000000u);
}

TEST(Icon, MissingMaskKeepsTheImageOpaque) {
    TIconEntry e = Square(4, 8, true);
    e.data.erase(e.data.end() - 16, e.data.end());  // drop the AND mask
    TIcon icon;
    TBmp bmp = LoadIconBytes(BuildIcon({e}), icon);
    EXPECT_EQ(bmp.PixelFormat(), pf8bit);
    EXPECT_FALSE(icon.Transparent());
}

TEST(Icon, PngEntries) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0,   0,   13,  'I',
                                'H',  'D', 'R', 0,   0,    0,    48,   0,    0, 0,   48,  8,   6,
                                0,    0,   0,   0,   0,    0,    0,    0,    0, 'I', 'E', 'N', 'D'};
    const std::vector<uint8_t> bytes = BuildIcon({Square(16, 8, false), {48, 48, 32, png}});
    TIcon icon;
    try {
        LoadIconBytes(bytes, icon);
        ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "PNG-compressed icons are not supported yet.");
    }

    // With a PNG decoder plugged in, the entry goes through it.
    int64_t seenSize = 0;
    TIcon::SetPNGEntryDecoder([&](TStream& s, int64_t size, TBitmap& target) {
        seenSize = size;
        uint8_t sig[8];
        s.ReadBuffer(sig, 8);
        EXPECT_EQ(sig[1], 'P');
        target.SetPixelFormat(pf32bit);
        target.SetSize(48, 48);
    });
    TBmp bmp = LoadIconBytes(bytes, icon);
    TIcon::SetPNGEntryDecoder(nullptr);
    EXPECT_EQ(seenSize, int64_t(png.size()));
    EXPECT_EQ(bmp.Width(), 48);
    EXPECT_EQ(icon.EntryIndex(), 1);
}

TEST(Icon, MalformedFilesFailCleanly) {
    const std::vector<uint8_t> good = BuildIcon({Square(8, 8, true), Square(16, 4, true)});
    TIcon icon;
    ASSERT_NO_THROW(LoadIconBytes(good, icon));
    // Every truncation either fails with EInvalidGraphic or falls back to an entry that is
    // still complete; none may crash or read past the end (the sanitizer build checks that).
    for (size_t n = 0; n < good.size(); ++n) {
        const std::vector<uint8_t> part(good.begin(), good.begin() + long(n));
        try {
            LoadIconBytes(part, icon);
        } catch (const EInvalidGraphic&) {
        }
    }
    std::vector<uint8_t> bad = good;
    bad[2] = 3;  // neither icon nor cursor
    EXPECT_THROW(LoadIconBytes(bad, icon), EInvalidGraphic);
    bad = good;
    bad[4] = bad[5] = 0;  // no entries
    EXPECT_THROW(LoadIconBytes(bad, icon), EInvalidGraphic);
    bad = good;
    bad[4] = 0xFF;  // more entries than the file holds
    EXPECT_THROW(LoadIconBytes(bad, icon), EInvalidGraphic);
    bad = good;
    for (int i = 0; i < 2; ++i)
        bad[6 + 16 * i + 15] = 0x7F;  // offsets far beyond the end
    EXPECT_THROW(LoadIconBytes(bad, icon), EInvalidGraphic);
}

TEST(Icon, ProbeAndClass) {
    const std::vector<uint8_t> bytes = BuildIcon({Square(8, 8, false)});
    TMemoryStream s(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    EXPECT_TRUE(TIcon::ProbeStream(s));
    EXPECT_EQ(s.Position(), 0);
    TMemoryStream other(bytes.data() + 1, int64_t(bytes.size()) - 1);
    EXPECT_FALSE(TIcon::ProbeStream(other));
    EXPECT_TRUE(TIcon::ClassInfo().InheritsFrom(&TBitmap::ClassInfo()));
    EXPECT_NE(dynamic_cast<TBitmap*>(TIcon::ClassInfo().Create().get()), nullptr);
}

// Cursors of 1-bit colour with their AND mask, narrow and flat, with the directory's byte count
// right or far too small (as cursor writers leave it): read as ImageMagick reads them, every
// pixel's colour and alpha equal (compared with `convert` itself when it is installed).
TEST(Icon, CursorsReadAsImageMagickReadsThem) {
    struct TCase {
        int width, height;
        uint32_t directoryBytes;  // 0: the entry's real size
    };
    const TCase cases[] = {{1, 1, 0},  {1, 5, 0}, {5, 1, 0}, {1, 32, 0},
                           {33, 2, 0}, {1, 4, 8}, {7, 3, 8}, {2, 33, 40}};
    const bool haveConvert = testhelp::HaveTool("convert");
    const TRGBQuad palette[2] = {{30, 10, 200, 0}, {250, 100, 20, 0}};  // blue, green, red
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " directory " +
                     std::to_string(c.directoryBytes));
        auto colourBit = [](int x, int y) { return (x * 7 + y * 3) % 5 < 2; };
        auto maskBit = [](int x, int y) { return (x + 2 * y) % 3 == 0; };
        TDibLayout s;
        s.fileHeader = false;
        s.width = c.width;
        s.height = 2 * c.height;
        s.bitCount = 1;
        s.palette.assign(palette, palette + 2);
        const size_t stride = size_t((c.width + 31) / 32) * 4;
        for (int pass = 0; pass < 2; ++pass)  // colour rows, then mask rows, bottom-up
            for (int y = c.height - 1; y >= 0; --y)
                for (size_t i = 0; i < stride; ++i) {
                    uint8_t byte = 0;
                    for (int b = 0; b < 8; ++b) {
                        const int x = int(i) * 8 + b;
                        if (x < c.width && (pass == 0 ? colourBit(x, y) : maskBit(x, y)))
                            byte |= uint8_t(0x80 >> b);
                    }
                    s.pixels.push_back(byte);
                }
        const std::vector<uint8_t> dib = s.Dib();
        std::vector<uint8_t> file;
        for (uint32_t v : {0u, 2u, 1u})
            Put16(file, v);
        file.push_back(uint8_t(c.width));
        file.push_back(uint8_t(c.height));
        file.push_back(2);
        file.push_back(0);
        Put16(file, 0);  // hot spot
        Put16(file, 0);
        Put32(file, c.directoryBytes != 0 ? c.directoryBytes : uint32_t(dib.size()));
        Put32(file, 22);
        file.insert(file.end(), dib.begin(), dib.end());

        std::vector<uint8_t> expected;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const TRGBQuad& q = palette[colourBit(x, y) ? 1 : 0];
                expected.insert(expected.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue,
                                                 uint8_t(maskBit(x, y) ? 0 : 255)});
            }
        TIcon icon;
        ASSERT_NO_THROW(LoadIconBytes(file, icon));
        EXPECT_EQ(RGBA(icon), expected);
        if (!haveConvert) continue;
        const fs::path path = fs::temp_directory_path() / "velkaro_cursor.cur";
        testhelp::WriteFileBytes(path, file);
        bool ok = false;
        const testhelp::TPnm ref = testhelp::ParsePnm(testhelp::RunCommand(
            "convert " + testhelp::ShellQuote(path.string()) + " -depth 8 PAM:- 2>/dev/null", ok));
        fs::remove(path);
        ASSERT_TRUE(ok && ref.valid);
        EXPECT_EQ(testhelp::PnmRGBA8(ref), expected);
    }
}

TEST(Icon, LibraryIconsMatchReferencePixels) {
    const fs::path dir = testdata::corpus("pillow");
    if (dir.empty()) GTEST_SKIP() << "conformance corpus not present";
    // Checksums of the RGBA pixels, cross-checked against ImageMagick's decoding of the
    // largest entry.
    const std::vector<std::pair<std::string, uint32_t>> expected = {
        {"black_and_white.ico", 0x97ffdcef},
        {"hopper.ico", 0xbbb2f497},
        {"hopper_256x256.ico", 0xe94f8341},
        {"hopper_mask.ico", 0xd5e39435},
        {"hopper_unexpected.ico", 0xbbb2f497},
        {"mask_L.cur", 0xa6c6310d}};  // 1 x 4, the directory's byte count far too small
    for (const auto& [name, crc] : expected) {
        SCOPED_TRACE(name);
        TIcon icon;
        icon.LoadFromFile((dir / name).string());
        const std::vector<uint8_t> rgba = RGBA(icon);
        EXPECT_EQ(uint32_t(crc32(0, rgba.data(), uInt(rgba.size()))), crc);
    }
    TIcon icon;
    EXPECT_THROW(icon.LoadFromFile((dir / "decompression_bomb.ico").string()), EInvalidGraphic);
}

// Bitmaps and icons report their rows a band at a time, so a cancel flag raised when the first
// band has arrived ends the load there with EAbort, however the rows are stored; left alone,
// the same loads report up to 100 %. Either way the ending stage is reported.
TEST(BitmapAndIcon, ACancelFlagEndsTheLoadAtTheNextBand) {
    constexpr int kSide = 300;  // several bands of rows
    auto bitmap = [](uint16_t bits, uint32_t compression, int32_t height,
                     std::vector<uint32_t> masks, std::vector<uint8_t> pixels) {
        TDibLayout b;
        b.width = kSide;
        b.height = height;
        b.bitCount = bits;
        b.compression = compression;
        b.masks = std::move(masks);
        if (bits == 8) b.palette.assign(256, TRGBQuad{1, 2, 3, 0});
        if (pixels.empty()) pixels.assign(size_t(((kSide * bits + 31) / 32) * 4) * kSide, 7);
        b.pixels = std::move(pixels);
        return b.Build();
    };
    std::vector<uint8_t> rle;
    for (int y = 0; y < kSide; ++y)
        rle.insert(rle.end(), {255, 1, kSide - 255, 2, 0, 0});
    rle.insert(rle.end(), {0, 1});
    const auto bmp = [] { return std::unique_ptr<TGraphic>(new TBitmap); };
    const auto ico = [] { return std::unique_ptr<TGraphic>(new TIcon); };
    struct TCase {
        const char* name;
        std::function<std::unique_ptr<TGraphic>()> make;
        std::vector<uint8_t> file;
    } const cases[] = {
        {"24-bit bottom-up", bmp, bitmap(24, 0, kSide, {}, {})},
        {"24-bit top-down", bmp, bitmap(24, 0, -kSide, {}, {})},
        {"RLE8", bmp, bitmap(8, 1, kSide, {}, rle)},
        {"16-bit fields", bmp, bitmap(16, 3, kSide, {0xF00, 0xF0, 0xF}, {})},
        {"32-bit icon", ico, BuildIcon({Square(kSide, 32, false)})},
        {"8-bit icon", ico, BuildIcon({Square(kSide, 8, true)})},
    };
    for (const TCase& c : cases)
        for (const bool cancelled : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (cancelled ? " cancelled" : ""));
            std::atomic<bool> cancel{false};
            std::unique_ptr<TGraphic> graphic = c.make();
            graphic->SetCancelFlag(&cancel);
            int bands = 0, last = -1;
            bool ended = false;
            graphic->OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool,
                                      const TRect&, const std::string&) {
                if (stage == psRunning) ++bands, last = percent, cancel = cancelled;
                if (stage == psEnding) ended = true;
            };
            TMemoryStream s(c.file.data(), int64_t(c.file.size()));
            if (cancelled) {
                EXPECT_THROW(graphic->LoadFromStream(s), EAbort);
                EXPECT_EQ(bands, 1);
                EXPECT_LT(last, 100);
            } else {
                EXPECT_NO_THROW(graphic->LoadFromStream(s));
                EXPECT_GT(bands, 2);
                EXPECT_EQ(last, 100);
            }
            EXPECT_TRUE(ended);
        }
}

TEST(Metafile, WithoutARendererOnlyTheHeaderIsRead) {
    // Drawing needs the window side's player; the imaging library alone reads the size.
    const uint8_t emf[] = {1,   0, 0, 0, 88,  0,   0,   0,   0,   0, 0, 0, 0,   0, 0, 0, 9, 0,
                           0,   0, 4, 0, 0,   0,   0,   0,   0,   0, 0, 0, 0,   0, 0, 0, 0, 0,
                           0,   0, 0, 0, ' ', 'E', 'M', 'F', 0,   0, 1, 0, 0,   0, 0, 0, 0, 0,
                           0,   0, 0, 0, 0,   0,   0,   0,   0,   0, 0, 0, 0,   0, 0, 0, 0, 0,
                           192, 3, 0, 0, 192, 3,   0,   0,   254, 0, 0, 0, 254, 0, 0, 0};
    TMetafile::SetRenderer(nullptr);
    TMetafile mf;
    TMemoryStream s(emf, sizeof emf);
    EXPECT_TRUE(TMetafile::ProbeStream(s));
    mf.LoadFromStream(s);
    // No frame: the bounds 0..9 x 0..4 in pixels of a 96-dpi reference device.
    EXPECT_EQ(mf.Width(), 10);
    EXPECT_EQ(mf.Height(), 5);
    EXPECT_TRUE(mf.Bitmap().Empty());
    TMemoryStream empty;
    EXPECT_THROW(mf.LoadFromStream(empty), EInvalidGraphic);
    EXPECT_STREQ(TMetafile::ClassInfo().ClassName, "TMetafile");
}
