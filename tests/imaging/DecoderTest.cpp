#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "common/TestData.h"
#include "imaging/CodeWriters.h"
#include "imaging/Exceptions.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/decoders/TIFFJPEGDecoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kCanary = 0xA5;
constexpr size_t kGuard = 64;

// Result of one DecodeBlock call: the destination and how far the positions moved.
struct Decoded {
    Bytes out;
    ptrdiff_t sourceMoved = 0;
    ptrdiff_t destMoved = 0;
};

// Decodes packed (held in a buffer of exactly its size, so that reading past it is caught by
// the sanitizer build) into a destination of destBytes bytes followed by guard bytes that must
// stay untouched. unpackedSize is in the decoder's unit.
Decoded Decode(TDecoder& decoder, const Bytes& packed, size_t destBytes, int32_t unpackedSize,
               uint8_t fill = 0) {
    auto source = std::make_unique<uint8_t[]>(std::max<size_t>(packed.size(), 1));
    if (!packed.empty()) std::memcpy(source.get(), packed.data(), packed.size());
    Bytes dest(destBytes + kGuard, kCanary);
    std::fill(dest.begin(), dest.begin() + destBytes, fill);
    uint8_t* src = source.get();
    uint8_t* dst = dest.data();
    decoder.DecodeBlock(src, dst, static_cast<int32_t>(packed.size()), unpackedSize);
    for (size_t i = destBytes; i < dest.size(); ++i)
        EXPECT_EQ(dest[i], kCanary) << "write past the destination at " << i;
    Decoded result;
    result.sourceMoved = src - source.get();
    result.destMoved = dst - dest.data();
    result.out.assign(dest.begin(), dest.begin() + destBytes);
    return result;
}

Decoded Decode(TDecoder& decoder, const Bytes& packed, int32_t unpackedSize) {
    return Decode(decoder, packed, static_cast<size_t>(unpackedSize), unpackedSize);
}

Bytes ReadFixture(const std::string& name) {
    std::ifstream in(testdata::fixtures() / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Pixel bytes of a binary PNM (P4 or P6) fixture, with its width and height.
Bytes ReadPnmPixels(const std::string& name, int& width, int& height) {
    const testhelp::TPnm pnm = testhelp::ReadPnm(testdata::fixtures() / name);
    EXPECT_TRUE(pnm.valid) << name;
    width = pnm.width;
    height = pnm.height;
    return pnm.raster;
}

Bytes Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& v : b)
        v = static_cast<uint8_t>(rng());
    return b;
}

// Runs a decoder over garbage and over every prefix of valid-looking data; the guard bytes of
// Decode report any write past the destination.
void ExpectBounded(const std::function<std::unique_ptr<TDecoder>()>& make, const Bytes& valid,
                   int32_t unpackedSize, size_t destBytes) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        auto decoder = make();
        Decode(*decoder, Random(1 + seed * 37 % 700, seed), destBytes, unpackedSize);
    }
    for (size_t n = 0; n <= valid.size(); n += std::max<size_t>(1, valid.size() / 50)) {
        auto decoder = make();
        Decode(*decoder, Bytes(valid.begin(), valid.begin() + n), destBytes, unpackedSize);
    }
}

}  // namespace

// ---- PackBits ----

TEST(PackbitsDecoder, LiteralsRunsAndNoOp) {
    TPackbitsRLEDecoder d;
    // literal of 3, -128 (no-op), run of 4 x 9, literal of 1
    const auto r = Decode(d, {2, 1, 2, 3, 0x80, 0xFD, 9, 0, 7}, 8);
    EXPECT_EQ(r.out, (Bytes{1, 2, 3, 9, 9, 9, 9, 7}));
    EXPECT_EQ(r.sourceMoved, 0);
    EXPECT_EQ(r.destMoved, 0);
}

TEST(PackbitsDecoder, CutsToPackedAndUnpackedRest) {
    TPackbitsRLEDecoder d;
    // A literal announcing 5 bytes with only 2 present copies 2.
    EXPECT_EQ(Decode(d, {4, 1, 2}, 4, 4, 0xEE).out, (Bytes{1, 2, 0xEE, 0xEE}));
    // A run of 128 into 5 bytes of room.
    EXPECT_EQ(Decode(d, {0x81, 6}, 5).out, Bytes(5, 6));
    // A run header without its value byte writes nothing.
    EXPECT_EQ(Decode(d, {0xFE}, 3, 3, 0xEE).out, Bytes(3, 0xEE));
}

// ---- PCX ----

TEST(PCXDecoder, RunsLiteralsAndEmptyRun) {
    TPCXRLEDecoder d;
    // 192 is a run of 0 and swallows the next byte; 0xC3 is a run of 3.
    EXPECT_EQ(Decode(d, {0xC0, 0x55, 0xC3, 7, 1, 0xC1, 0xC5}, 5).out, (Bytes{7, 7, 7, 1, 0xC5}));
    // A run longer than the room is cut; data after the end is ignored.
    EXPECT_EQ(Decode(d, {0xFF, 4, 9, 9}, 10).out, Bytes(10, 4));
}

// ---- Targa ----

TEST(TargaDecoder, RawAndRunPacketsMoveTheSource) {
    TTargaRLEDecoder d8(8);
    const auto r = Decode(d8, {0x01, 5, 6, 0x82, 9, 0xFF}, 5);
    EXPECT_EQ(r.out, (Bytes{5, 6, 9, 9, 9}));
    EXPECT_EQ(r.sourceMoved, 5);
    EXPECT_EQ(r.destMoved, 0);

    TTargaRLEDecoder d32(32);
    const auto r32 = Decode(d32, {0x81, 1, 2, 3, 4}, 8, 2);
    EXPECT_EQ(r32.out, (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));

    TTargaRLEDecoder d24(24);
    EXPECT_EQ(Decode(d24, {0x01, 1, 2, 3, 4, 5, 6}, 6, 2).out, (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(TargaDecoder, UnknownPixelSizeDecodesNothing) {
    TTargaRLEDecoder d(4);
    const auto r = Decode(d, {0x81, 1, 2}, 4, 4, 0xEE);
    EXPECT_EQ(r.out, Bytes(4, 0xEE));
    EXPECT_EQ(r.sourceMoved, 0);
}

TEST(TargaDecoder, PacketSpanningTwoRowsContinues) {
    // Rows of 3 pixels; a run of 4 and a raw packet of 2 cross the row boundary.
    TTargaRLEDecoder d(16);
    const Bytes packed = {0x83, 0xAB, 0xCD, 0x01, 1, 2, 3, 4};
    Bytes image(12 + kGuard, kCanary);
    uint8_t* src = const_cast<uint8_t*>(packed.data());
    for (int row = 0; row < 2; ++row) {
        uint8_t* dst = image.data() + row * 6;
        const uint8_t* before = src;
        d.DecodeBlock(src, dst, static_cast<int32_t>(packed.data() + packed.size() - src), 3);
        EXPECT_LE(src - before, static_cast<ptrdiff_t>(packed.size()));
    }
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 12),
              (Bytes{0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD, 1, 2, 3, 4}));
    EXPECT_EQ(image[12], kCanary);
    EXPECT_EQ(src, packed.data() + packed.size());
}

TEST(TargaEncoder, SinglePixelRunsAndRoundTrip) {
    TTargaRLEDecoder enc(24);
    uint8_t out[1024];
    uint32_t stored = 99;
    const uint8_t one[3] = {1, 2, 3};
    enc.EncodeBlock(one, out, 1, stored);
    EXPECT_EQ(Bytes(out, out + stored), (Bytes{0, 1, 2, 3}));

    TTargaRLEDecoder enc8(8);
    const Bytes same(200, 7);
    enc8.EncodeBlock(same.data(), out, 200, stored);
    EXPECT_EQ(Bytes(out, out + stored), (Bytes{0xFF, 7, 0xC7, 7}));

    // Mixed data survives encoding and decoding, in every pixel size.
    for (int bits : {8, 15, 24, 32}) {
        const int p = (bits + 1) / 8;
        Bytes pixels = Random(300 * p, bits);
        for (int i = 40 * p; i < 200 * p; ++i)
            pixels[i] = pixels[i % p];  // a long run
        Bytes packed(pixels.size() * 2);
        TTargaRLEDecoder codec(bits);
        codec.EncodeBlock(pixels.data(), packed.data(), 300, stored);
        packed.resize(stored);
        TTargaRLEDecoder decoder(bits);
        EXPECT_EQ(Decode(decoder, packed, pixels.size(), 300).out, pixels) << bits;
    }
}

// ---- SGI, CUT, Paint Shop Pro, RLA ----

TEST(SGIDecoder, EightAndSixteenBitRows) {
    TSGIRLEDecoder d8(8);
    // copy 2, fill 3 x 4, zero header ends although room is left
    EXPECT_EQ(Decode(d8, {0x82, 1, 2, 0x03, 4, 0x00, 0x81, 9}, 8, 8, 0xEE).out,
              (Bytes{1, 2, 4, 4, 4, 0xEE, 0xEE, 0xEE}));
    TSGIRLEDecoder d16(16);
    // fill 2 samples of 0x1234 (file order kept), copy 1 sample, then the end
    EXPECT_EQ(Decode(d16, {0, 2, 0x12, 0x34, 0, 0x81, 0xAB, 0xCD, 0, 0}, 8, 8, 0xEE).out,
              (Bytes{0x12, 0x34, 0x12, 0x34, 0xAB, 0xCD, 0xEE, 0xEE}));
}

TEST(CUTDecoder, RowsEndAtZeroAndSourceWalksOn) {
    TCUTRLEDecoder d;
    // row 1: length word, fill 3 x 5, copy 1, end; row 2: length word, fill 2 x 8, end
    const Bytes packed = {9, 0, 0x83, 5, 0x01, 6, 0, 9, 0, 0x82, 8, 0};
    auto r = Decode(d, packed, 6, 6, 0xEE);
    EXPECT_EQ(r.out, (Bytes{5, 5, 5, 6, 0xEE, 0xEE}));
    EXPECT_EQ(r.sourceMoved, 7);
    // A row wider than the destination is still walked to its end.
    r = Decode(d, packed, 2);
    EXPECT_EQ(r.out, (Bytes{5, 5}));
    EXPECT_EQ(r.sourceMoved, 7);
    r = Decode(d, Bytes(packed.begin() + 7, packed.end()), 3, 3, 0xEE);
    EXPECT_EQ(r.out, (Bytes{8, 8, 0xEE}));
    EXPECT_EQ(r.sourceMoved, 5);
}

TEST(PSPAndRLADecoders, RunsAndLiterals) {
    TPSPRLEDecoder psp;
    EXPECT_EQ(Decode(psp, {2, 1, 2, 0x83, 7}, 5).out, (Bytes{1, 2, 7, 7, 7}));
    TRLADecoder rla;
    EXPECT_EQ(Decode(rla, {0xFE, 1, 2, 0x02, 7}, 5).out, (Bytes{1, 2, 7, 7, 7}));
    // Both stop at the end of the destination.
    EXPECT_EQ(Decode(psp, {0xFF, 7}, 4).out, Bytes(4, 7));
    EXPECT_EQ(Decode(rla, {0x7F, 7}, 4).out, Bytes(4, 7));
}

// ---- CCITT ----

class FaxFixture : public testing::Test {
  protected:
    void SetUp() override {
        expected = ReadPnmPixels("fax_rows.pbm", width, height);
        stride = (width + 7) / 8;
        ASSERT_EQ(expected.size(), size_t(stride * height));
    }
    void ExpectImage(const Bytes& out) {
        for (int y = 0; y < height; ++y)
            EXPECT_TRUE(std::equal(out.begin() + y * stride, out.begin() + (y + 1) * stride,
                                   expected.begin() + y * stride))
                << "row " << y;
    }
    Bytes expected;
    int width = 0, height = 0, stride = 0;
};

TEST_F(FaxFixture, Group3RowsFromImageMagick) {
    TCCITTFax3Decoder d(4, false, false, width);
    ExpectImage(Decode(d, ReadFixture("fax_g3.bin"), stride * height).out);
}

TEST_F(FaxFixture, Group3ReversedBitsFromPbmtog3) {
    const Bytes packed = ReadFixture("fax_g3_reversed.bin");
    Bytes buffer = packed;
    TCCITTFax3Decoder d(0, true, false, width);
    Bytes out(stride * height);
    uint8_t* src = buffer.data();
    uint8_t* dst = out.data();
    d.DecodeBlock(src, dst, static_cast<int32_t>(buffer.size()), static_cast<int32_t>(out.size()));
    ExpectImage(out);
    // The packed buffer itself is left in reversed bit order.
    for (size_t i = 0; i < packed.size(); ++i) {
        uint8_t r = 0;
        for (int b = 0; b < 8; ++b)
            if (packed[i] & (1 << b)) r |= 0x80 >> b;
        ASSERT_EQ(buffer[i], r) << i;
    }
}

TEST_F(FaxFixture, ModifiedHuffmanFromLibtiff) {
    TCCITTMHDecoder d(0, false, false, width);
    ExpectImage(Decode(d, ReadFixture("fax_mh.bin"), stride * height).out);
    TCCITTMHDecoder w(0, false, true, width);
    ExpectImage(Decode(w, ReadFixture("fax_mhw.bin"), stride * height).out);
}

TEST(CCITTDecoder, HandMadeRowsWithoutEndOfLine) {
    // Width 10, Modified Huffman: row 1 = white 3 (1000), black 7 (00011): "1000 0001 1"
    // padded to 2 bytes; row 2 = white 0 (00110101), black 10 (0000100): 00110101 0000100.
    TCCITTMHDecoder d(0, false, false, 10);
    const auto r = Decode(d, {0x81, 0x80, 0x35, 0x08}, 4);
    EXPECT_EQ(r.out, (Bytes{0x1F, 0xC0, 0xFF, 0xC0}));
    // Group 3: EOL, white 2 (0111), black 8 (000101): the row ends with its width and the
    // next EOL introduces row 2, white 10 (00111).
    TCCITTFax3Decoder g3(0, false, false, 10);
    EXPECT_EQ(Decode(g3, {0x00, 0x17, 0x14, 0x00, 0x4E}, 4, 4, 0xEE).out,
              (Bytes{0x3F, 0xC0, 0, 0}));
}

TEST(CCITTDecoder, HostileDataStaysInBounds) {
    const Bytes valid = ReadFixture("fax_g3.bin");
    for (uint32_t width : {1u, 7u, 100u, 2600u, 70000u}) {
        // Destinations smaller than the image, including sizes that cut a row.
        for (int32_t size : {0, 1, 5, 333}) {
            ExpectBounded(
                [&] { return std::make_unique<TCCITTFax3Decoder>(0, false, false, width); }, valid,
                size, size);
            ExpectBounded([&] { return std::make_unique<TCCITTMHDecoder>(0, true, true, width); },
                          valid, size, size);
        }
    }
    // Nothing is reversed or written for empty input.
    TCCITTFax3Decoder d(0, true, false, 8);
    EXPECT_EQ(Decode(d, {}, 2).out, Bytes(2, 0));
}

// ---- LZ77 ----

namespace {
Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    compress(out.data(), &size, data.data(), data.size());
    out.resize(size);
    return out;
}
}  // namespace

TEST(LZ77Decoder, AutoResetDecodesEachBlockAsItsOwnStream) {
    const Bytes a = Random(3000, 1), b(5000, 42);
    const Bytes pa = Deflate(a), pb = Deflate(b);
    TLZ77Decoder d(Z_PARTIAL_FLUSH, true);
    d.BeginDecoding();
    auto ra = Decode(d, pa, static_cast<int32_t>(a.size()));
    EXPECT_EQ(ra.out, a);
    EXPECT_EQ(ra.sourceMoved, static_cast<ptrdiff_t>(pa.size()));
    EXPECT_EQ(ra.destMoved, static_cast<ptrdiff_t>(a.size()));
    EXPECT_EQ(d.ZLibResult(), Z_STREAM_END);
    EXPECT_EQ(Decode(d, pb, static_cast<int32_t>(b.size())).out, b);
    d.EndDecoding();
}

TEST(LZ77Decoder, WithoutResetBlocksContinueOneStream) {
    const Bytes data = Random(4000, 3);
    const Bytes packed = Deflate(data);
    TLZ77Decoder d(Z_PARTIAL_FLUSH, false);
    d.BeginDecoding();
    Bytes out(data.size());
    uint8_t* dst = out.data();
    const size_t half = packed.size() / 2;
    Bytes first(packed.begin(), packed.begin() + half), second(packed.begin() + half, packed.end());
    uint8_t* src = first.data();
    d.DecodeBlock(src, dst, static_cast<int32_t>(first.size()), static_cast<int32_t>(out.size()));
    EXPECT_EQ(d.AvailableInput(), 0u);
    src = second.data();
    d.DecodeBlock(src, dst, static_cast<int32_t>(second.size()),
                  static_cast<int32_t>(out.data() + out.size() - dst));
    EXPECT_EQ(out, data);
    EXPECT_EQ(d.AvailableOutput(), 0u);
    EXPECT_EQ(d.ZLibResult(), Z_STREAM_END);
    // After the end of the stream further blocks do nothing.
    const Bytes more = Deflate(data);
    auto r = Decode(d, more, 10);
    EXPECT_EQ(r.sourceMoved, 0);
    d.EndDecoding();
}

TEST(LZ77Decoder, ErrorIsStoredUntilReset) {
    TLZ77Decoder sticky(Z_FINISH, false);
    sticky.BeginDecoding();
    Decode(sticky, {1, 2, 3, 4}, 16);
    EXPECT_LT(sticky.ZLibResult(), 0);
    const Bytes good = Deflate(Bytes(16, 5));
    EXPECT_EQ(Decode(sticky, good, 16, 16, 0xEE).out, Bytes(16, 0xEE));
    sticky.EndDecoding();

    TLZ77Decoder reset(Z_PARTIAL_FLUSH, true);
    reset.BeginDecoding();
    Decode(reset, {1, 2, 3, 4}, 16);
    EXPECT_EQ(Decode(reset, good, 16).out, Bytes(16, 5));
    reset.EndDecoding();
    // Truncated and garbage streams stay inside both buffers.
    ExpectBounded(
        [] {
            auto d = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, true);
            d->BeginDecoding();
            return d;
        },
        Deflate(Random(2000, 9)), 500, 500);
}

// ---- ThunderScan ----

TEST(ThunderDecoder, CodesAndPasses) {
    // Width 2: each pass is 4 pixels (2 bytes). Raw 5; deltas +1, (skip), -1; run of 1.
    TThunderDecoder d(2);
    // Second pass: the last pixel restarts at 0: 3-bit deltas +3, -1 -> 3, 2; run of 2 -> 2, 2.
    const auto r = Decode(d, {0xC5, 0x5B, 0x01, 0x9F, 0x02}, 4);
    EXPECT_EQ(r.out, (Bytes{0x56, 0x55, 0x32, 0x22}));

    // Odd width 3: six pixels per pass, no padding nibble between the two image rows.
    TThunderDecoder odd(3);
    EXPECT_EQ(Decode(odd, {0xC1, 0x05, 0xC7, 0x05}, 6).out,
              (Bytes{0x11, 0x11, 0x11, 0x77, 0x77, 0x77}));
    // A run longer than the pass and the destination is cut.
    TThunderDecoder cut(3);
    EXPECT_EQ(Decode(cut, {0xC9, 0x3F}, 2).out, (Bytes{0x99, 0x99}));
    ExpectBounded([] { return std::make_unique<TThunderDecoder>(5); }, {0xC1, 0x3F, 0x3F}, 7, 7);
}

// ---- JPEG in TIFF ----

class TIFFJPEGFixture : public testing::Test {
  protected:
    void SetUp() override {
        expected = ReadPnmPixels("tiffjpeg.ppm", width, height);
        props.Width = width;
        props.Height = height;
        props.ColorScheme = schemeYCbCr;
        props.BitsPerSample = 8;
        props.SamplesPerPixel = 3;
        props.PlanarConfiguration = 1;
        props.RowsPerStrip = {16};
        props.YCbCrSubsampling = {2, 2};
        props.JPEGTables = ReadFixture("tiffjpeg_tables.bin");
        props.BytesPerLine = width * 3;
        for (int i = 0; i < 3; ++i)
            strips.push_back(ReadFixture("tiffjpeg_strip" + std::to_string(i) + ".bin"));
        SetDecoderWarningHandler([this](const std::string& caption, const std::string& text) {
            warnings.push_back(caption + ": " + text);
        });
    }
    void TearDown() override { SetDecoderWarningHandler(nullptr); }
    int32_t StripBytes(int strip) const { return std::min(16, height - strip * 16) * width * 3; }
    TImageProperties props;
    Bytes expected;
    std::vector<Bytes> strips;
    std::vector<std::string> warnings;
    int width = 0, height = 0;
};

TEST_F(TIFFJPEGFixture, DecodesStripsWithSharedTablesToBGR) {
    TTIFFJPEGDecoder d(props);
    d.BeginDecoding();
    Bytes image;
    for (int s = 0; s < 3; ++s) {
        props.CurrentRow = s * 16;
        const Bytes out = Decode(d, strips[s], StripBytes(s)).out;
        image.insert(image.end(), out.begin(), out.end());
    }
    d.EndDecoding();
    // libtiff's decoding of the same file is the reference; ours comes out blue, green, red.
    int w = 0, h = 0;
    const Bytes reference = ReadPnmPixels("tiffjpeg_libtiff.ppm", w, h);
    ASSERT_EQ(image.size(), reference.size());
    int worst = 0;
    double error = 0;
    for (size_t i = 0; i < image.size(); i += 3) {
        for (int c = 0; c < 3; ++c) {
            worst = std::max(worst, std::abs(image[i + c] - reference[i + 2 - c]));
            error += std::abs(image[i + c] - expected[i + 2 - c]);
        }
    }
    EXPECT_LE(worst, 1);
    EXPECT_LT(error / image.size(), 10.0);  // and close to the picture that was encoded
    EXPECT_TRUE(warnings.empty());
}

TEST_F(TIFFJPEGFixture, ChecksRaiseTheirMessages) {
    auto expectMessage = [&](const TImageProperties& p, int strip, int32_t size,
                             const std::string& message) {
        TTIFFJPEGDecoder d(p);
        d.BeginDecoding();
        try {
            Decode(d, strips[strip], size);
            ADD_FAILURE() << "no exception for " << message;
        } catch (const EGraphicCompression& e) {
            EXPECT_EQ(e.what(), message);
        }
        d.EndDecoding();
    };
    // The last strip has 8 rows; pretending it is the first one expects 16.
    expectMessage(props, 2, StripBytes(2), "Improper JPEG strip/tile size.");
    TImageProperties p = props;
    p.SamplesPerPixel = 4;
    expectMessage(p, 0, StripBytes(0), "Improper JPEG component count.");
    p = props;
    p.BitsPerSample = 12;
    expectMessage(p, 0, StripBytes(0), "Improper JPEG data precision.");
    p = props;
    p.YCbCrSubsampling = {1, 1};
    expectMessage(p, 0, StripBytes(0), "Improper JPEG sampling factors.");
    expectMessage(props, 0, StripBytes(0) - 1, "Fractional JPEG scanline unsupported.");

    p = props;
    p.JPEGTables = strips[0];  // an image, not tables
    TTIFFJPEGDecoder bogus(p);
    try {
        bogus.BeginDecoding();
        ADD_FAILURE();
    } catch (const EGraphicCompression& e) {
        EXPECT_STREQ(e.what(), "Bogus JPEG tables field.");
    }
}

TEST_F(TIFFJPEGFixture, TruncatedStripWarnsAndGarbageRaises) {
    TTIFFJPEGDecoder d(props);
    d.BeginDecoding();
    props.CurrentRow = 0;
    Bytes half(strips[0].begin(), strips[0].begin() + strips[0].size() / 2);
    EXPECT_NO_THROW(Decode(d, half, StripBytes(0)));
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.front(), "Warning: JPEG decompression error. Unexpected end of input.");
    // The decoder stays usable for the next strip.
    EXPECT_NO_THROW(Decode(d, strips[0], StripBytes(0)));
    EXPECT_THROW(Decode(d, Random(300, 5), StripBytes(0)), EJPEG);
    // A destination row narrower than the decoded row is never overrun.
    props.BytesPerLine = 10;
    EXPECT_NO_THROW(Decode(d, strips[0], 160));
    for (size_t n = 0; n < strips[1].size(); n += 7) {
        props.BytesPerLine = width * 3;
        try {
            Decode(d, Bytes(strips[1].begin(), strips[1].begin() + n), StripBytes(0));
        } catch (const EImagingError&) {
        }
    }
    d.EndDecoding();
}

// ---- Bounds of the run-length decoders ----

TEST(RunLengthDecoders, HostileDataStaysInBounds) {
    const Bytes longRuns = {0x81, 1, 0xFF, 2, 0x7F, 3, 0, 0, 0, 0};
    for (int32_t size : {0, 1, 3, 100, 1000}) {
        ExpectBounded([] { return std::make_unique<TPackbitsRLEDecoder>(); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TPCXRLEDecoder>(); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TSGIRLEDecoder>(8); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TSGIRLEDecoder>(16); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TCUTRLEDecoder>(); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TPSPRLEDecoder>(); }, longRuns, size, size);
        ExpectBounded([] { return std::make_unique<TRLADecoder>(); }, longRuns, size, size);
        for (int bits : {8, 15, 24, 32})
            ExpectBounded([bits] { return std::make_unique<TTargaRLEDecoder>(bits); }, longRuns,
                          size, size_t(size) * ((bits + 1) / 8));
    }
}

// The PCX decoder unpacks an image in pieces: the positions move by what was used, a run cut
// at the end of one piece goes on in the next, and a count without its value waits.
TEST(PCXDecoder, PiecesContinueRunsAcrossCalls) {
    TPCXRLEDecoder d;
    Bytes packed = {0xC5, 9, 1, 2, 0xC2, 7};  // the value 7 arrives with the third call
    Bytes out(8, 0);
    uint8_t* src = packed.data();
    uint8_t* dst = out.data();
    d.DecodeBlock(src, dst, int32_t(packed.size()), 3);  // a run of 5 cut after 3
    EXPECT_EQ(src - packed.data(), 2);
    EXPECT_EQ(dst - out.data(), 3);
    d.DecodeBlock(src, dst, 3, 5);
    EXPECT_EQ(out, (Bytes{9, 9, 9, 9, 9, 1, 2, 0}));
    EXPECT_EQ(src - packed.data(), 4);  // the lone count byte is left for the next call
    d.DecodeBlock(src, dst, 2, 1);
    EXPECT_EQ(out.back(), 7);
    EXPECT_EQ(src - packed.data(), 6);
}

// ---- Group 4 and two-dimensional Group 3 ----

namespace {

using lzwtest::BitString;

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

// T.6 codes used below. Modes: V0 1, VR1 011, VL1 010, VR3 0000011, VL3 0000010, H 001, P 0001;
// white runs 0 00110101, 2 0111, 3 1000, 4 1011; black runs 2 11, 3 10, 8 000101, 10 0000100;
// EOL 000000000001.
const std::string kEOFB = "000000000001 000000000001";

}  // namespace

TEST(CCITTDecoder, Group4RowsAndDamage) {
    struct TCase {
        const char* name;
        std::string bits;
        Bytes rows;  // one byte a row, width 8, four rows
    };
    const std::string row1 = "001 0111 10 1";  // H white 2 black 3, V0 to the row end: 00111000
    const TCase cases[] = {
        // Row 2: V0 (b1 = 2), VR1 (b1 = 5), V0: 00111100. Row 3: pass to b2 = 6, V0: white.
        {"modes", row1 + "1 011 1" + "0001 1" + kEOFB, {0x38, 0x3C, 0x00, 0x00}},
        // Runs past the row end are cut there: H white 3 black 10, then the row below copied.
        {"runs past the row",
         "001 1000 0000100" + std::string("1 1") + kEOFB,
         {0x1F, 0x1F, 0x00, 0x00}},
        // VR3 from b1 = 8 stays at 8; the rows after it still decode (H white 0 black 8).
        {"vertical past the row",
         "0000011" + std::string("1") + "001 00110101 000101" + kEOFB,
         {0x00, 0x00, 0xFF, 0x00}},
        // An extension code is not read: decoding ends, the rest stays white.
        {"invalid mode", row1 + "0000001111" + "001 00110101 000101", {0x38, 0x00, 0x00, 0x00}},
        // A change left of a0 (H white 4 black 2 to a0 = 6, then VL3 from b1 = 8 to 5).
        {"change left of a0",
         "001 1011 11 0000010" + std::string("001 00110101 000101"),
         {0x0C, 0x00, 0x00, 0x00}},
        // End of facsimile block: what follows is not decoded.
        {"end of block", row1 + kEOFB + "001 00110101 000101", {0x38, 0x00, 0x00, 0x00}},
        // Data that ends inside a row (after V0 opened a black run): the rows before it stay,
        // the cut row is white.
        {"truncated", row1 + "1", {0x38, 0x00, 0x00, 0x00}},
        {"empty", "", {0x00, 0x00, 0x00, 0x00}},
        // Endless zero-length runs (H white 0 black 0) do not grow a row without bound: the
        // row is taken as damaged.
        {"endless zero runs",
         Repeat("001 00110101 0000110111", 30) + row1 + row1,
         {0x00, 0x00, 0x00, 0x00}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TCCITTFax4Decoder d(0, false, false, 8);
        EXPECT_EQ(Decode(d, BitString(c.bits), 4, 4, 0xEE).out, c.rows);
        // The same bits stored least significant bit first (fill order 2).
        Bytes swapped = BitString(c.bits);
        for (uint8_t& b : swapped) {
            uint8_t r = 0;
            for (int i = 0; i < 8; ++i)
                if (b & (1 << i)) r |= uint8_t(0x80 >> i);
            b = r;
        }
        TCCITTFax4Decoder s(0, true, false, 8);
        EXPECT_EQ(Decode(s, swapped, 4, 4, 0xEE).out, c.rows);
    }
    // Hostile data and every prefix of a valid block stay in bounds.
    const Bytes valid = BitString(row1 + "1 011 1" + "0001 1" + kEOFB);
    for (uint32_t width : {1u, 8u, 100u, 2600u, 70000u})
        for (int32_t size : {0, 1, 5, 333})
            ExpectBounded(
                [&] { return std::make_unique<TCCITTFax4Decoder>(0, false, false, width); }, valid,
                size, size);
}

TEST(CCITTDecoder, Group3TwoDimensionalRows) {
    // T4Options bit 0: EOL, tag 1 and a one-dimensional row (white 2, black 3, white 3), then
    // EOL, tag 0 and a row coded against it (V0, VR1, V0), fill bits before the third EOL,
    // whose one-dimensional row is damaged (an invalid code) and is resynchronised on the
    // fourth EOL.
    const std::string eol = "000000000001";
    const Bytes bits = BitString(eol + "1 0111 10 1000" + eol + "0 1 011 1" + "0000" + eol +
                                 "1 000000001" + eol + "1 00110101 000101");
    TCCITTFax3Decoder d(1, false, false, 8);
    EXPECT_EQ(Decode(d, bits, 4, 4, 0xEE).out, (Bytes{0x38, 0x3C, 0x00, 0xFF}));
    for (int32_t size : {0, 1, 5, 333})
        ExpectBounded([&] { return std::make_unique<TCCITTFax3Decoder>(1, false, false, 21); },
                      bits, size, size);
}

// ---- LZW ----

TEST(LZWDecoder, RoundTripsBothLayoutsAndFullTables) {
    Bytes smooth(60000);
    for (size_t i = 0; i < smooth.size(); ++i)
        smooth[i] = uint8_t((i / 7) % 13 + (i % 1000 < 300 ? 40 : 0));
    const Bytes noise = Random(30000, 7);  // fills the table many times
    struct TCase {
        const char* name;
        const Bytes& data;
        bool oldStyle, clearWhenFull;
    };
    const TCase cases[] = {
        {"smooth", smooth, false, true},
        {"noise", noise, false, true},
        {"old-style smooth", smooth, true, true},
        {"old-style noise", noise, true, true},
        // A full table without Clear stays full; the codes it has still decode.
        {"full table", noise, false, false},
        {"old-style full table", noise, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes packed = lzwtest::Encode(c.data, c.oldStyle, c.clearWhenFull);
        EXPECT_EQ(TTIFFLZWDecoder::IsOldStyle(packed.data(), int32_t(packed.size())), c.oldStyle);
        TTIFFLZWDecoder d;
        const auto r = Decode(d, packed, int32_t(c.data.size()));
        EXPECT_EQ(r.out, c.data);
        EXPECT_EQ(d.Written(), c.data.size());
        EXPECT_EQ(r.sourceMoved, 0);
        // A smaller destination gets the start of the data; strings crossing its end are cut.
        for (int32_t size : {1, 2, 333, 4097}) {
            const auto part = Decode(d, packed, size_t(size) + 5, size, 0x11);
            EXPECT_TRUE(std::equal(part.out.begin(), part.out.begin() + size, c.data.begin()));
            EXPECT_EQ(part.out[size_t(size)], 0x11) << size;
        }
        // A truncated stream gives a correct start of the data.
        const Bytes cut(packed.begin(), packed.begin() + long(packed.size() / 3));
        const auto t = Decode(d, cut, int32_t(c.data.size()), int32_t(c.data.size()), 0x11);
        EXPECT_GT(d.Written(), 0u);
        EXPECT_TRUE(std::equal(t.out.begin(), t.out.begin() + d.Written(), c.data.begin()));
        EXPECT_EQ(t.out[d.Written()], 0x11);
    }
}

TEST(LZWDecoder, DamagedCodesEndDecoding) {
    struct TCase {
        const char* name;
        std::vector<uint32_t> codes;
        Bytes expected;
    };
    const TCase cases[] = {
        // 258 = "AB", 259 = "BA"; 261 is past the next free entry (260).
        {"code past the table", {256, 'A', 'B', 258, 261, 'C', 257}, {'A', 'B', 'A', 'B'}},
        // The code being defined is valid only with a code before it (KwKwK: 258 = "AA").
        {"KwKwK", {256, 'A', 258, 257}, {'A', 'A', 'A'}},
        {"KwKwK after Clear", {256, 'A', 256, 258, 'B', 257}, {'A'}},
        {"string code first", {300, 'A'}, {}},
        // Without a Clear code first the stream still decodes (libtiff reads such strips).
        {"no Clear", {'x', 'y', 258, 257}, {'x', 'y', 'x', 'y'}},
        // No end-of-information code: the data's end ends decoding.
        {"no end", {256, 'A', 'B'}, {'A', 'B'}},
        {"Clear only", {256, 256, 257}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTIFFLZWDecoder d;
        const auto r = Decode(d, lzwtest::Codes(c.codes), 16, 16, 0x11);
        EXPECT_EQ(d.Written(), c.expected.size());
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), r.out.begin()));
        EXPECT_EQ(r.out[c.expected.size()], 0x11);
    }
    // Garbage and every prefix of a valid stream, in both layouts, stay in bounds.
    const Bytes data = Random(5000, 3);
    for (bool oldStyle : {false, true})
        for (int32_t size : {0, 1, 5, 4999, 70000})
            ExpectBounded([] { return std::make_unique<TTIFFLZWDecoder>(); },
                          lzwtest::Encode(data, oldStyle), size, size_t(std::max(size, 0)));
}
