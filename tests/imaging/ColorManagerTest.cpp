#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "imaging/ColorManager.h"
#include "imaging/Exceptions.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A manager with the given description (bits per sample and scheme for both sides).
TColorManager Make(TColorSchemeKind source, uint8_t sourceBits, TColorSchemeKind target,
                   uint8_t targetBits) {
    TColorManager cm;
    cm.SetSourceScheme(source);
    cm.SetSourceSampleBits(sourceBits);
    cm.SetTargetScheme(target);
    cm.SetTargetSampleBits(targetBits);
    return cm;
}

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EColorConversionError& e) {
        return e.what();
    }
    return "no exception";
}

const char* kIndexed = "Conversion between indexed and non-indexed pixel formats is not supported.";
const char* kNoMethod = "Color conversion failed. Could not find a proper method.";

}  // namespace

TEST(ColorManager, DefaultsAndPropertyChecks) {
    TColorManager cm;
    EXPECT_TRUE(cm.Changed());
    EXPECT_EQ(cm.SourceSampleBits(), 8);
    EXPECT_EQ(cm.TargetSampleCount(), 3);
    EXPECT_EQ(cm.SourceScheme(), schemeRGB);
    EXPECT_EQ(cm.TargetScheme(), schemeBGR);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(cm.GammaTable()[128], 186);  // (128/255)^(1/2.2) * 255 = 186.4

    EXPECT_EQ(MessageOf([&] { cm.SetSourceSampleBits(0); }),
              "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    EXPECT_THROW(cm.SetTargetSampleBits(17), EColorConversionError);
    EXPECT_EQ(cm.SourceSampleBits(), 8);
    EXPECT_NO_THROW(cm.SetSourceSampleBits(3));  // only 0 and above 16 are refused
    EXPECT_EQ(MessageOf([&] { cm.SetTargetSampleCount(5); }),
              "Sample count per pixel does not correspond to the given color scheme.");
    EXPECT_THROW(cm.SetSourceSampleCount(0), EColorConversionError);
    EXPECT_EQ(cm.TargetSampleCount(), 3);
}

TEST(ColorManager, ChangedFlagRules) {
    TColorManager cm;
    uint8_t src[3] = {1, 2, 3}, dst[3];
    cm.ConvertScanline(src, dst, 1);
    EXPECT_FALSE(cm.Changed());
    cm.SetSourceSampleBits(8);  // same value
    cm.SetTargetScheme(schemeBGR);
    cm.SetSourceFlags(convSwapBytes);  // options never mark a change
    EXPECT_FALSE(cm.Changed());
    cm.SetSourceScheme(schemeRGBA);
    EXPECT_TRUE(cm.Changed());
    cm.ConvertScanline(src, dst, 0);
    EXPECT_TRUE(cm.SourceFlags().Contains(convAlpha));
    EXPECT_TRUE(cm.SourceFlags().Contains(convSwapBytes));
    cm.SetSourceScheme(schemeRGB);
    cm.ConvertScanline(src, dst, 0);
    EXPECT_FALSE(cm.SourceFlags().Contains(convAlpha));
}

TEST(ColorManager, IndexedMismatchRaisesUntilDescriptionChanges) {
    TColorManager cm = Make(schemeGrayAlpha, 8, schemeBGR, 8);
    uint8_t src[4] = {}, dst[6] = {};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(MessageOf([&] { cm.ConvertScanline(src, dst, 1); }), kIndexed);
        EXPECT_TRUE(cm.Changed());
    }
    cm.SetTargetScheme(schemeGray);
    src[0] = 77;
    cm.ConvertScanline(src, dst, 1);
    EXPECT_EQ(dst[0], 77);

    TColorManager rgb = Make(schemeRGB, 8, schemeIndexed, 8);
    EXPECT_EQ(MessageOf([&] { rgb.ConvertScanline(src, dst, 1); }), kIndexed);
}

TEST(ColorManager, NoRoutineRaisesAndClearsChangedFlag) {
    TColorManager cm = Make(schemeCMY, 8, schemeBGR, 8);
    uint8_t src[3] = {}, dst[3] = {};
    EXPECT_EQ(MessageOf([&] { cm.ConvertScanline(src, dst, 1); }), kNoMethod);
    EXPECT_FALSE(cm.Changed());
    EXPECT_EQ(MessageOf([&] { cm.ConvertScanline(src, dst, 1); }), kNoMethod);
    // Gray of 16 bits into a packed target has no routine either.
    TColorManager gray = Make(schemeGray, 16, schemeGray, 4);
    EXPECT_EQ(MessageOf([&] { gray.ConvertScanline(src, dst, 1); }), kNoMethod);
}

TEST(ColorManager, ColourCopyByteOrdersAndAlpha) {
    Bytes dst(8, 0xEE);
    TColorManager cm;  // RGB 8 -> BGR 8
    const uint8_t rgb[6] = {10, 20, 30, 40, 50, 60};
    cm.ConvertScanline(rgb, dst.data(), 2);
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 7), (Bytes{30, 20, 10, 60, 50, 40, 0xEE}));

    cm.SetSourceScheme(schemeRGBA);  // alpha skipped: source step 4, target step 3
    const uint8_t rgba[8] = {1, 2, 3, 99, 4, 5, 6, 98};
    cm.ConvertScanline(rgba, dst.data(), 2);
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 7), (Bytes{3, 2, 1, 6, 5, 4, 0xEE}));

    cm.SetTargetScheme(schemeBGRA);
    cm.ConvertScanline(rgba, dst.data(), 2);
    EXPECT_EQ(dst, (Bytes{3, 2, 1, 99, 6, 5, 4, 98}));

    dst.assign(8, 0xEE);
    cm.SetSourceScheme(schemeBGR);  // no source alpha: target alpha untouched
    cm.ConvertScanline(rgb, dst.data(), 2);
    EXPECT_EQ(dst, (Bytes{10, 20, 30, 0xEE, 40, 50, 60, 0xEE}));

    cm.SetTargetScheme(schemeRGB);  // BGR source into an RGB target
    cm.ConvertScanline(rgb, dst.data(), 1);
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 3), (Bytes{30, 20, 10}));

    // Planes: one pointer per sample, alpha last.
    const uint8_t r[2] = {1, 4}, g[2] = {2, 5}, b[2] = {3, 6}, a[2] = {200, 201};
    TColorManager planes = Make(schemeRGBA, 8, schemeBGRA, 8);
    planes.ConvertScanline({r, g, b, a}, dst.data(), 2);
    EXPECT_EQ(dst, (Bytes{3, 2, 1, 200, 6, 5, 4, 201}));
}

TEST(ColorManager, SixteenBitColourSwapGammaAndAlpha) {
    TColorManager cm = Make(schemeRGBA, 16, schemeBGRA, 8);
    // Big-endian red 0x8000, green 0xFFFF, blue 0x0101, alpha 0x1234.
    const uint8_t src[8] = {0x80, 0x00, 0xFF, 0xFF, 0x01, 0x01, 0x12, 0x34};
    uint8_t dst[4];
    cm.SetSourceFlags(convSwapBytes);
    cm.ConvertScanline(src, dst, 1);
    // 32768 / 257 = 127, 65535 / 257 = 255, 257 / 257 = 1, 4660 / 257 = 18.
    EXPECT_EQ(Bytes(dst, dst + 4), (Bytes{1, 255, 127, 18}));

    cm.SetSourceFlags({});  // read as little-endian: red 0x0080 -> 0, alpha 0x3412 -> 51
    cm.ConvertScanline(src, dst, 1);
    EXPECT_EQ(Bytes(dst, dst + 4), (Bytes{1, 255, 0, 51}));

    cm.BuildGammaTable(0.5f, 1.0f);  // exponent 2: 128 -> 64, 16 -> 1
    cm.SetSourceFlags(convSwapBytes);
    cm.SetTargetFlags(convApplyGamma);
    const uint8_t grayish[8] = {0x80, 0x80, 0x10, 0x10, 0xFF, 0xFF, 0xFF, 0xFF};
    cm.ConvertScanline(grayish, dst, 1);
    EXPECT_EQ(Bytes(dst, dst + 4), (Bytes{255, 1, 64, 255}));  // alpha without gamma

    TColorManager wide = Make(schemeRGB, 8, schemeRGB, 16);
    const uint8_t rgb[3] = {0x12, 0x34, 0x56};
    uint8_t out[6];
    wide.ConvertScanline(rgb, out, 1);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0x12, 0x12, 0x34, 0x34, 0x56, 0x56}));
}

TEST(ColorManager, MaskSelectsTargetPixels) {
    TColorManager cm = Make(schemeGray, 8, schemeGray, 8);
    const uint8_t src[4] = {1, 2, 3, 4};
    Bytes dst(10, 0);
    cm.ConvertScanline(src, dst.data(), 8, 0xAA);
    EXPECT_EQ(dst, (Bytes{1, 0, 2, 0, 3, 0, 4, 0, 0, 0}));

    dst.assign(10, 0);
    cm.ConvertScanline(src, dst.data(), 10, 0x81);  // bit 0 then wraps to bit 7
    EXPECT_EQ(dst, (Bytes{1, 0, 0, 0, 0, 0, 0, 2, 3, 0}));

    TColorManager rgb;  // mask 0x80, count 3: one pixel from one source pixel
    const uint8_t px[3] = {7, 8, 9};
    dst.assign(9, 0xEE);
    rgb.ConvertScanline(px, dst.data(), 3, 0x80);
    EXPECT_EQ(dst, (Bytes{9, 8, 7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(ColorManager, PackedSampleCopy) {
    uint8_t out[4] = {};
    TColorManager cm = Make(schemeGray, 1, schemeGray, 8);
    const uint8_t bits = 0b10100000;
    cm.ConvertScanline(&bits, out, 3);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{255, 0, 255, 0}));

    // Same depth: whole bytes copied.
    TColorManager same = Make(schemeIndexed, 1, schemeIndexed, 1);
    const uint8_t two[2] = {0x5A, 0xC3};
    same.ConvertScanline(two, out, 9);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x5A, 0xC3}));

    // 2 -> 4 bits: v * 15 / 3.
    TColorManager up = Make(schemeIndexed, 2, schemeIndexed, 4);
    const uint8_t q = 0b00011011;
    up.ConvertScanline(&q, out, 4);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x05, 0xAF}));

    // Writing a packed sample keeps the neighbouring bits.
    TColorManager ones = Make(schemeGray, 1, schemeGray, 1);
    const uint8_t zero = 0;
    out[0] = 0xFF;
    ones.ConvertScanline(&zero, out, 8, 0xAA);
    EXPECT_EQ(out[0], 0x55);

    // 3-bit samples straddle bytes: 7 1 2 3 4 5 6 0 = E5 39 70.
    const uint8_t packed3[3] = {0xE5, 0x39, 0x70};
    TColorManager from3 = Make(schemeGray, 3, schemeGray, 8);
    uint8_t wide[8];
    from3.ConvertScanline(packed3, wide, 8);
    EXPECT_EQ(Bytes(wide, wide + 8), (Bytes{255, 36, 72, 109, 145, 182, 218, 0}));
    TColorManager to3 = Make(schemeGray, 8, schemeGray, 3);
    const uint8_t levels[8] = {255, 37, 73, 110, 146, 183, 219, 0};
    uint8_t narrow[3] = {};
    to3.ConvertScanline(levels, narrow, 8);
    EXPECT_EQ(Bytes(narrow, narrow + 3), Bytes(packed3, packed3 + 3));
}

TEST(ColorManager, SixteenBitIndexAndGray) {
    const uint8_t be[4] = {0x80, 0x00, 0xFF, 0xFF};
    uint8_t out[8] = {};
    TColorManager copy = Make(schemeIndexed, 16, schemeIndexed, 16);
    copy.SetSourceFlags(convSwapBytes);
    copy.ConvertScanline(be, out, 2);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x00, 0x80, 0xFF, 0xFF}));

    TColorManager down = Make(schemeIndexed, 16, schemeIndexed, 4);
    down.SetSourceFlags(convSwapBytes);
    down.ConvertScanline(be, out, 2);
    EXPECT_EQ(out[0], 0x7F);  // 32768 * 15 / 65535 = 7, 65535 -> 15

    TColorManager up = Make(schemeIndexed, 3, schemeIndexed, 16);
    const uint8_t one = 0b00100000;  // 3-bit value 1 -> 65535 / 7 = 9362 = 0x2492
    up.ConvertScanline(&one, out, 1);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x92, 0x24}));
    up.SetSourceFlags(convSwapBytes);
    up.ConvertScanline(&one, out, 1);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x24, 0x92}));

    // Gray with alpha: the alpha sample is skipped.
    TColorManager ga = Make(schemeGrayAlpha, 16, schemeGray, 8);
    ga.SetSourceFlags(convSwapBytes);
    const uint8_t gaSrc[8] = {0x80, 0x00, 0x12, 0x34, 0xFF, 0xFF, 0x00, 0x00};
    ga.ConvertScanline(gaSrc, out, 2);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{127, 255}));

    TColorManager g16 = Make(schemeGray, 8, schemeGray, 16);
    const uint8_t g = 0x12;
    g16.ConvertScanline(&g, out, 1);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x12}));
}

TEST(ColorManager, CMYKToRGB) {
    TColorManager cm = Make(schemeCMYK, 8, schemeBGR, 8);
    const uint8_t src[16] = {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 128, 0, 0, 128};
    uint8_t dst[12];
    cm.ConvertScanline(src, dst, 4);
    // White; black; cyan removes red; C = K = 128: 16384 / 255 = 64, 64 - 256 + 255 = 63.
    EXPECT_EQ(Bytes(dst, dst + 12), (Bytes{255, 255, 255, 0, 0, 0, 255, 255, 0, 127, 127, 63}));

    const uint8_t c[1] = {0}, m[1] = {255}, y[1] = {0}, k[1] = {0};
    cm.ConvertScanline({c, m, y, k}, dst, 1);
    EXPECT_EQ(Bytes(dst, dst + 3), (Bytes{255, 0, 255}));

    TColorManager wide = Make(schemeCMYK, 16, schemeRGB, 8);
    wide.SetSourceFlags(convSwapBytes);
    // C = 0x8000, M = 0, Y = 0xFFFF, K = 0: x = 32768 -> 255 - 127.
    const uint8_t src16[8] = {0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
    wide.ConvertScanline(src16, dst, 1);
    EXPECT_EQ(Bytes(dst, dst + 3), (Bytes{128, 255, 0}));
}

TEST(ColorManager, YCbCrAndPhotoYCC) {
    TColorManager cm = Make(schemeYCbCr, 8, schemeBGR, 8);
    // Gray; then Cb 28, Cr 228: red 100 + round(1.402 * 100), green 100 + 34 - 71,
    // blue 100 - 177 clamped.
    const uint8_t src[6] = {100, 128, 128, 100, 28, 228};
    uint8_t dst[6];
    cm.ConvertScanline(src, dst, 2);
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{100, 100, 100, 0, 63, 240}));

    // New weights apply at once; Cr 138: round(1.5748 * 10) = 16 instead of 14.
    const uint8_t tenth[3] = {100, 128, 138};
    cm.ConvertScanline(tenth, dst, 1);
    EXPECT_EQ(dst[2], 114);
    cm.SetupYCbCrTables({0.2126f, 0.7152f, 0.0722f}, 2, 2);
    cm.ConvertScanline(tenth, dst, 1);
    EXPECT_EQ(dst[2], 116);

    // The tables are built in single precision: 1.772 x +-125 is exactly +-221.5 there and
    // rounds to the even 222 (double precision would give 221).
    TColorManager bt601 = Make(schemeYCbCr, 8, schemeBGR, 8);
    const uint8_t ties[6] = {230, 3, 128, 10, 253, 128};
    bt601.ConvertScanline(ties, dst, 2);
    EXPECT_EQ(dst[0], 230 - 222);
    EXPECT_EQ(dst[3], 10 + 222);

    TColorManager ycc = Make(schemePhotoYCC, 8, schemeRGB, 8);
    const uint8_t yccSrc[6] = {100, 156, 137, 100, 156, 237};
    ycc.ConvertScanline(yccSrc, dst, 2);
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{100, 100, 100, 240, 29, 100}));
}

TEST(ColorManager, SetupYCbCrTablesChecks) {
    TColorManager cm;
    EXPECT_EQ(MessageOf([&] { cm.SetupYCbCrTables({0.3f}, 1, 2); }),
              "Vertical subsampling value must be <= horizontal subsampling value.");
    EXPECT_FLOAT_EQ(cm.YCbCrCoefficients()[0], 0.3f);  // weights are stored before the checks
    EXPECT_EQ(MessageOf([&] { cm.SetupYCbCrTables({}, 3, 1); }),
              "Subsampling value is invalid. Allowed are 1, 2 and 4.");
    EXPECT_EQ(cm.HorizontalSubsampling(), 1);
    cm.SetupYCbCrTables({}, 4, 2);
    EXPECT_EQ(cm.HorizontalSubsampling(), 4);
    EXPECT_EQ(cm.VerticalSubsampling(), 2);
}

TEST(ColorManager, LabToRGB) {
    TColorManager cm = Make(schemeCIELab, 8, schemeRGB, 8);
    // L 100 white, L 0 black, L 50 gray 47, L 5 (linear branch) 1, L 50 a 50: (135, 19, 50).
    const uint8_t src[15] = {100, 0, 0, 0, 0, 0, 50, 0, 0, 5, 0, 0, 50, 50, 0};
    uint8_t dst[15];
    cm.ConvertScanline(src, dst, 5);
    EXPECT_EQ(Bytes(dst, dst + 15),
              (Bytes{255, 255, 255, 0, 0, 0, 47, 47, 47, 1, 1, 1, 135, 19, 50}));

    cm.SetSourceFlags(convLabByteLightness | convLabOffsetChroma);
    const uint8_t bytes[6] = {255, 128, 128, 0, 128, 128};
    cm.ConvertScanline(bytes, dst, 2);
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{255, 255, 255, 0, 0, 0}));
}

TEST(ColorManager, GammaTable) {
    TColorManager cm;
    cm.BuildGammaTable(0.5f, 1.0f);  // exponent 2
    EXPECT_EQ(cm.GammaTable()[128], 64);
    EXPECT_EQ(cm.GammaTable()[16], 1);
    EXPECT_EQ(cm.GammaTable()[255], 255);
    cm.BuildGammaTable(0, -1);
    EXPECT_FLOAT_EQ(cm.FileGamma(), 1.0f);
    EXPECT_FLOAT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(cm.GammaTable()[1], 21);
    EXPECT_EQ(cm.GammaTable()[64], 136);

    // 4-bit sides use 0..15; the entries above keep their values.
    cm.BuildGammaTable(0.5f, 1.0f);
    cm.SetSourceSampleBits(4);
    cm.SetTargetSampleBits(4);
    cm.BuildGammaTable(0.5f, 1.0f);
    EXPECT_EQ(cm.GammaTable()[8], 4);  // 64 / 15 = 4.27
    EXPECT_EQ(cm.GammaTable()[15], 15);
    EXPECT_EQ(cm.GammaTable()[128], 64);

    // A narrow source with a 16-bit target stays inside the table.
    cm.SetTargetSampleBits(16);
    cm.BuildGammaTable(1.0f, 1.0f);
    EXPECT_EQ(cm.GammaTable()[255], 255);
}

TEST(ColorManager, PaletteFromColorMap) {
    TColorManager cm;
    const Bytes triplets = {10, 20, 30, 40, 50, 60};
    auto p = cm.PaletteFromColorMap(triplets, cmf8BitTriplets, false, 2);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1], (TRGBQuad{60, 50, 40, 0}));  // blue, green, red, flags
    p = cm.PaletteFromColorMap(triplets, cmf8BitTriplets, true, 2);
    EXPECT_EQ(p[0], (TRGBQuad{10, 20, 30, 0}));
    p = cm.PaletteFromColorMap(Bytes{1, 2, 3, 9, 4, 5, 6, 9}, cmf8BitQuadruplets, false, 2);
    EXPECT_EQ(p[1], (TRGBQuad{6, 5, 4, 0}));
    p = cm.PaletteFromColorMap(triplets, cmf8BitPlanes, true, 2);  // planes are always R, G, B
    EXPECT_EQ(p[0], (TRGBQuad{50, 30, 10, 0}));
    EXPECT_EQ(p[1], (TRGBQuad{60, 40, 20, 0}));

    cm.SetSourceFlags(convSwapBytes);
    p = cm.PaletteFromColorMap(Bytes{0xFF, 0xFF, 0x80, 0x00, 0x01, 0x01}, cmf16BitTriplets, false,
                               1);
    EXPECT_EQ(p[0], (TRGBQuad{1, 127, 255, 0}));
    cm.SetSourceFlags({});
    cm.SetTargetFlags(convApplyGamma);
    cm.BuildGammaTable(0.5f, 1.0f);
    p = cm.PaletteFromColorMap(Bytes{128, 16, 255}, cmf8BitTriplets, false, 1);
    EXPECT_EQ(p[0], (TRGBQuad{255, 1, 64, 0}));

    // Short data reads as zero; the count is limited to 256.
    p = cm.PaletteFromColorMap(Bytes{255}, 0, false, 1000);
    EXPECT_EQ(p.size(), 256u);
    EXPECT_EQ(p[0], (TRGBQuad{0, 0, 255, 0}));
}

TEST(ColorManager, PaletteResampledToTargetIndexRange) {
    TColorManager cm;
    cm.SetSourceSampleBits(1);
    auto p = cm.PaletteFromColorMap(Bytes{0, 0, 0, 255, 255, 255}, 0, false, 2);
    ASSERT_EQ(p.size(), 256u);  // index 1 becomes 255, as the packed copy scales it
    EXPECT_EQ(p[254].rgbRed, 0);
    EXPECT_EQ(p[255].rgbRed, 255);

    Bytes ramp;
    for (int i = 0; i < 256; ++i)
        ramp.insert(ramp.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    cm.SetSourceSampleBits(8);
    cm.SetTargetSampleBits(4);
    p = cm.PaletteFromColorMap(ramp, 0, false, 256);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(p[1].rgbRed, 17);
    EXPECT_EQ(p[15].rgbRed, 255);

    // 16-bit indices map 0..255 onto source entries 0, 257, ...: beyond the 256 entries black.
    cm.SetSourceSampleBits(16);
    cm.SetTargetSampleBits(8);
    p = cm.PaletteFromColorMap(ramp, 0, false, 256);
    ASSERT_EQ(p.size(), 256u);
    EXPECT_EQ(p[1], TRGBQuad{});
}

TEST(ColorManager, GrayRampPalette) {
    TColorManager cm = Make(schemeGray, 1, schemeGray, 1);
    cm.SetTargetSampleCount(1);
    auto p = cm.GrayRampPalette(true);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], (TRGBQuad{255, 255, 255, 0}));
    EXPECT_EQ(p[1], (TRGBQuad{0, 0, 0, 0}));
    cm.SetTargetSampleBits(4);
    p = cm.GrayRampPalette(false);
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(p[1].rgbGreen, 17);
    EXPECT_EQ(p[15].rgbGreen, 255);
    cm.SetTargetSampleBits(8);
    cm.BuildGammaTable(0.5f, 1.0f);
    cm.SetTargetFlags(convApplyGamma);
    p = cm.GrayRampPalette(false);
    ASSERT_EQ(p.size(), 256u);
    EXPECT_EQ(p[128].rgbBlue, 64);
}

TEST(ColorManager, BitmapPixelFormatAndRowBytes) {
    TColorManager cm;
    auto format = [&](uint8_t bits, uint8_t samples) {
        cm.SetTargetSampleBits(bits);
        cm.SetTargetSampleCount(samples);
        return cm.BitmapPixelFormat(1);
    };
    EXPECT_EQ(format(1, 1), pf1bit);
    EXPECT_EQ(format(2, 1), pf4bit);
    EXPECT_EQ(format(16, 1), pf8bit);
    EXPECT_EQ(format(5, 1), pfCustom);
    EXPECT_EQ(format(5, 3), pf15bit);
    EXPECT_EQ(format(8, 3), pf24bit);
    EXPECT_EQ(format(8, 4), pf32bit);
    EXPECT_EQ(format(4, 4), pfCustom);
    EXPECT_EQ(format(8, 2), pfCustom);
    EXPECT_EQ(cm.BitmapPixelFormat(0), pf24bit);  // the source side keeps 8 x 3

    cm.SetSourceScheme(schemeRGBA);
    cm.SetSourceSampleBits(16);
    EXPECT_EQ(cm.SourceRowBytes(3), 24u);
    cm.SetSourceScheme(schemeIndexed);
    cm.SetSourceSampleBits(1);
    EXPECT_EQ(cm.SourceRowBytes(9), 2u);
}

// A 16-bit index picks from the whole colour map: index i of the 8-bit target is entry 257 i.
TEST(ColorManager, SixteenBitColorMapResampledBeforeItIsCut) {
    TColorManager cm;
    cm.SetSourceSampleBits(16);
    cm.SetTargetSampleBits(8);
    Bytes planes(65536 * 3 * 2);
    for (uint32_t i = 0; i < 65536; ++i)
        for (uint32_t plane = 0; plane < 3; ++plane) {
            const uint32_t v = plane == 0 ? i : plane == 1 ? 65535 - i : 0x8080;
            planes[(plane * 65536 + i) * 2] = uint8_t(v);
            planes[(plane * 65536 + i) * 2 + 1] = uint8_t(v >> 8);
        }
    const auto p = cm.PaletteFromColorMap(planes, cmf16BitPlanes, false, 65536);
    ASSERT_EQ(p.size(), 256u);
    for (uint32_t i : {0u, 1u, 128u, 255u}) {
        EXPECT_EQ(p[i].rgbRed, i) << i;  // (257 i) / 257
        EXPECT_EQ(p[i].rgbGreen, 255 - i) << i;
        EXPECT_EQ(p[i].rgbBlue, 128) << i;
    }
}

// Depths a bitmap cannot hold as they are: the sample bits chosen for them and the rows they
// give stay inside the target row and show the scaled levels.
TEST(ColorManager, OddDepthsScaledToABitmapDepth) {
    struct TCase {
        uint8_t bits;
        uint8_t expectedTarget;
        TPixelFormat format;
    };
    for (const TCase c : {TCase{1, 1, pf1bit}, TCase{2, 4, pf4bit}, TCase{3, 4, pf4bit},
                          TCase{4, 4, pf4bit}, TCase{5, 8, pf8bit}, TCase{8, 8, pf8bit},
                          TCase{9, 8, pf8bit}, TCase{12, 8, pf8bit}, TCase{15, 8, pf8bit}}) {
        SCOPED_TRACE(int(c.bits));
        EXPECT_EQ(TColorManager::BitmapSampleBits(c.bits), c.expectedTarget);
        TColorManager cm = Make(schemeGray, c.bits, schemeGray, c.expectedTarget);
        cm.SetSourceSampleCount(1);
        cm.SetTargetSampleCount(1);
        EXPECT_EQ(cm.BitmapPixelFormat(1), c.format);
        // Four pixels: 0, max, max/2 (rounded down), 1, packed most significant bit first.
        const uint32_t max = (1u << c.bits) - 1;
        const uint32_t values[4] = {0, max, max / 2, 1};
        Bytes source(8, 0);
        for (uint32_t k = 0; k < 4; ++k)
            for (uint32_t b = 0; b < c.bits; ++b)
                if (values[k] >> (c.bits - 1 - b) & 1) {
                    const uint32_t bit = k * c.bits + b;
                    source[bit / 8] |= uint8_t(0x80 >> (bit % 8));
                }
        Bytes target(8, 0xEE);  // the row of four target pixels, and a guard after it
        const uint64_t rowBytes = cm.TargetRowBytes(4);
        cm.ConvertScanline(source.data(), target.data(), 4);
        for (size_t i = rowBytes; i < target.size(); ++i)
            EXPECT_EQ(target[i], 0xEE) << "written past the row at " << i;
        const uint32_t tmax = (1u << c.expectedTarget) - 1;
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t bit = k * c.expectedTarget;
            const uint32_t got = (((target[bit / 8] << 8) | target[bit / 8 + 1]) >>
                                  (16 - bit % 8 - c.expectedTarget)) &
                                 tmax;
            EXPECT_EQ(got, values[k] * tmax / max) << k;
        }
    }
}
