#pragma once
// TColorManager: turns rows of pixel samples as stored in an image file into rows of a TBitmap.
//
// A loader describes the file's pixels (source side: colour scheme, bits per sample, samples
// per pixel, options such as byte order) and the bitmap's pixels (target side), then calls
// ConvertScanline once per row. The conversion routine is chosen on the first call after the
// description changed and kept until it changes again. The manager also builds the palettes
// of indexed and gray bitmaps, the gamma table and the YCbCr lookup tables, and tells which
// bitmap pixel format matches a side.
//
// Row protocol:
// - One source pointer means interleaved samples (all samples of a pixel together, in the
//   scheme's order; a pixel holds exactly the scheme's samples, e.g. 4 for RGBA). Several pointers
//   mean planes: pointer i addresses sample i of every pixel, the alpha plane last. The routines
//   for indexed and gray sources read the first pointer only; CMYK uses planes only when exactly
//   four pointers are given; the other colour schemes use planes when at least three are given (a
//   fourth is the alpha plane).
// - The mask starts at bit 7. For every target pixel: a set bit produces the pixel from the
//   next source pixel; a clear bit leaves the target pixel untouched and consumes no source
//   pixel. The bit moves right and wraps from bit 0 to bit 7.
// - Samples of fewer than 8 bits are packed from the most significant bit of each byte down;
//   writing one replaces only its own bits.
// - 8-bit colour targets are written blue, green, red for BGR/BGRA and red, green, blue for
//   RGB/RGBA; a target with alpha takes 4 samples per pixel and its alpha is written only when
//   the source has alpha too.
// The caller guarantees that the source holds enough pixels (SourceRowBytes helps) and that the
// target row holds count pixels (TargetRowBytes).
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"

// Colour scheme of one side; the stored order of the samples is given for each.
enum TColorSchemeKind : uint8_t {
    schemeUnknown = 0,
    schemeIndexed = 1,    // palette index
    schemeGray = 2,       // gray
    schemeGrayAlpha = 3,  // gray, alpha
    schemeRGB = 4,        // red, green, blue
    schemeRGBA = 5,       // red, green, blue, alpha
    schemeBGR = 6,        // blue, green, red
    schemeBGRA = 7,       // blue, green, red, alpha
    schemeCMY = 8,        // cyan, magenta, yellow
    schemeCMYK = 9,       // cyan, magenta, yellow, black
    schemeCIELab = 10,    // L*, a*, b*
    schemeYCbCr = 11,     // Y, Cb, Cr
    schemePhotoYCC = 12   // Y, C1 (blue difference), C2 (red difference), Photo-CD encoding
};

// Samples per pixel that a scheme stores (0 for schemeUnknown).
unsigned SchemeSamples(TColorSchemeKind scheme);

enum TConversionOption : uint8_t {
    // The side's scheme carries alpha; set or cleared by the manager when it selects a routine.
    convAlpha = 1,
    // Target side: 8-bit colour components and palette entries pass the gamma table.
    convApplyGamma = 2,
    // Source side: 16-bit samples are big-endian and are byte-swapped before use.
    convSwapBytes = 4,
    // Source side: L* is stored as 0..255 and divided by 2.55.
    convLabByteLightness = 8,
    // Source side: a* and b* are stored unsigned with an offset of 128 (else signed bytes).
    convLabOffsetChroma = 16
};

// A set of TConversionOption held in one byte.
struct TConversionOptions {
    uint8_t Bits = 0;

    constexpr TConversionOptions() = default;
    constexpr TConversionOptions(TConversionOption option) : Bits(option) {}
    constexpr explicit TConversionOptions(uint8_t bits) : Bits(bits) {}

    constexpr bool Contains(TConversionOption option) const { return (Bits & option) != 0; }
    constexpr bool Empty() const { return Bits == 0; }
    constexpr TConversionOptions& operator+=(TConversionOptions other) {
        Bits |= other.Bits;
        return *this;
    }
    constexpr TConversionOptions& operator-=(TConversionOptions other) {
        Bits &= static_cast<uint8_t>(~other.Bits);
        return *this;
    }
    friend constexpr TConversionOptions operator|(TConversionOptions a, TConversionOptions b) {
        return TConversionOptions(static_cast<uint8_t>(a.Bits | b.Bits));
    }
    friend constexpr TConversionOptions operator-(TConversionOptions a, TConversionOptions b) {
        return TConversionOptions(static_cast<uint8_t>(a.Bits & ~b.Bits));
    }
    friend constexpr bool operator==(TConversionOptions a, TConversionOptions b) {
        return a.Bits == b.Bits;
    }
};

constexpr TConversionOptions operator|(TConversionOption a, TConversionOption b) {
    return TConversionOptions(static_cast<uint8_t>(uint8_t(a) | uint8_t(b)));
}

// Layout of the colour data given to PaletteFromColorMap.
enum TColorMapFormat : uint8_t {
    cmf8BitTriplets = 0,      // interleaved 8-bit triplets
    cmf8BitQuadruplets = 1,   // interleaved 8-bit quadruplets, the fourth byte skipped
    cmf8BitPlanes = 2,        // three 8-bit planes (red, green, blue)
    cmf8BitPlanesAlt = 3,     // the same as cmf8BitPlanes
    cmf16BitTriplets = 4,     // interleaved 16-bit triplets
    cmf16BitQuadruplets = 5,  // interleaved 16-bit quadruplets, the fourth value skipped
    cmf16BitPlanes = 6,       // three 16-bit planes (red, green, blue)
    cmf16BitPlanesAlt = 7     // the same as cmf16BitPlanes
};

// A palette as handed to TBitmap::SetPalette (up to 256 entries).
using TPaletteEntries = std::vector<TRGBQuad>;

class TColorManager {
  public:
    TColorManager();

    // Bits per sample; 0 or above 16 raises EColorConversionError. A different value sets the
    // changed flag.
    uint8_t SourceSampleBits() const { return sourceBPS_; }
    void SetSourceSampleBits(uint8_t value);
    uint8_t TargetSampleBits() const { return targetBPS_; }
    void SetTargetSampleBits(uint8_t value);

    // Samples per pixel; 0 or above 4 raises EColorConversionError.
    uint8_t SourceSampleCount() const { return sourceSPP_; }
    void SetSourceSampleCount(uint8_t value);
    uint8_t TargetSampleCount() const { return targetSPP_; }
    void SetTargetSampleCount(uint8_t value);

    TColorSchemeKind SourceScheme() const { return sourceScheme_; }
    void SetSourceScheme(TColorSchemeKind value);
    TColorSchemeKind TargetScheme() const { return targetScheme_; }
    void SetTargetScheme(TColorSchemeKind value);

    // Options; writing them does not set the changed flag. They are read at every row.
    TConversionOptions SourceFlags() const { return sourceOptions_; }
    void SetSourceFlags(TConversionOptions value) { sourceOptions_ = value; }
    TConversionOptions TargetFlags() const { return targetOptions_; }
    void SetTargetFlags(TConversionOptions value) { targetOptions_ = value; }

    // The picture's own ink profile: 8-bit CMYK rows into 8-bit blue-green-red rows (every pixel)
    // go through it instead of the plain ink formula. Empty (the default) for none.
    void SetInkProfile(TCmykConverter converter) { inkProfile_ = std::move(converter); }

    // Whether the description changed since the last routine selection.
    bool Changed() const { return changed_; }

    // Converts one row: source holds one pointer (interleaved) or one per sample (planes);
    // target is the first byte of the bitmap row; count is the number of target pixels; mask
    // selects the target pixels to produce (255: all). Selects the routine first when the
    // description changed. Raises EColorConversionError when the description cannot be
    // converted.
    void ConvertScanline(std::span<const void* const> source, void* target, uint32_t count,
                         uint8_t mask = 0xFF);
    void ConvertScanline(std::initializer_list<const void*> source, void* target, uint32_t count,
                         uint8_t mask = 0xFF);
    void ConvertScanline(const void* source, void* target, uint32_t count, uint8_t mask = 0xFF);

    // Bytes of count interleaved source pixels (SourceSampleBits x SourceSampleCount per pixel,
    // rounded up to whole bytes) and of count target pixels.
    uint64_t SourceRowBytes(uint32_t count) const;
    uint64_t TargetRowBytes(uint32_t count) const;

    // Stores the gammas (a file gamma not above 0 becomes 1.0, a display gamma not above 0
    // becomes 2.2) and rebuilds the gamma table for the current sample bits.
    void BuildGammaTable(float fileGamma, float displayGamma);
    float FileGamma() const { return fileGamma_; }
    float DisplayGamma() const { return displayGamma_; }
    const std::array<uint8_t, 256>& GammaTable() const { return gammaTable_; }

    // Replaces the first one to three YCbCr weights (red, green, blue) and checks and stores
    // the subsampling (1, 2 or 4 each, horizontal not below vertical).
    void SetupYCbCrTables(std::span<const float> coefficients, uint8_t horizontal,
                          uint8_t vertical);
    void SetupYCbCrTables(std::initializer_list<float> coefficients, uint8_t horizontal,
                          uint8_t vertical);
    const std::array<float, 3>& YCbCrCoefficients() const { return yCbCrCoefficients_; }
    uint8_t HorizontalSubsampling() const { return hSubsampling_; }
    uint8_t VerticalSubsampling() const { return vSubsampling_; }

    // Builds a palette from colour data (see TColorMapFormat) of colorCount entries (up to
    // 65536, so that 16-bit indices have their whole map). Missing data (a buffer shorter
    // than the entries need) reads as zero. Entries are resampled to the target's index range
    // as the packed sample copy scales indices; the palette is then cut to 256 entries.
    TPaletteEntries PaletteFromColorMap(std::span<const uint8_t> data, TColorMapFormat format,
                                        bool blueFirst, int colorCount) const;
    TPaletteEntries PaletteFromColorMap(std::span<const uint8_t> data, int format, bool blueFirst,
                                        int colorCount) const {
        return PaletteFromColorMap(data, static_cast<TColorMapFormat>(format), blueFirst,
                                   colorCount);
    }

    // A gray ramp of 2^min(TargetSampleBits x TargetSampleCount, 8) entries, black to white
    // (white to black when minimumIsWhite).
    TPaletteEntries GrayRampPalette(bool minimumIsWhite) const;

    // The bitmap pixel format for the source side (side 0) or the target side (other values).
    TPixelFormat BitmapPixelFormat(int side) const;

    // The target sample bits for one-sample (indexed or gray) pixels of the given source depth
    // that a bitmap pixel format holds as they are: 1 stays 1, 2 to 4 become 4, 5 to 16
    // become 8. Loaders whose files have other depths than 1, 4 and 8 set this as
    // TargetSampleBits, so that the packed copy scales the samples instead of copying them
    // into a row of another depth.
    static uint8_t BitmapSampleBits(uint8_t sourceBits);

  private:
    using TRowRoutine = void (TColorManager::*)(std::span<const void* const> source,
                                                uint8_t* target, uint32_t count, uint8_t mask);

    void SetChanged() { changed_ = true; }
    // Stores value in field and marks the routine for reselection when it differs.
    template <class T>
    void Update(T& field, T value) {
        if (value != field) {
            field = value;
            SetChanged();
        }
    }
    void SelectRoutine();
    void BuildYCbCrLookup(int crOffset, int cbOffset);

    void RowPackedCopy(std::span<const void* const> source, uint8_t* target, uint32_t count,
                       uint8_t mask);
    void RowIndex16Copy(std::span<const void* const> source, uint8_t* target, uint32_t count,
                        uint8_t mask);
    void RowIndex16ToPacked(std::span<const void* const> source, uint8_t* target, uint32_t count,
                            uint8_t mask);
    void RowPackedToIndex16(std::span<const void* const> source, uint8_t* target, uint32_t count,
                            uint8_t mask);
    void RowGrayCopy(std::span<const void* const> source, uint8_t* target, uint32_t count,
                     uint8_t mask);
    void RowColorCopy(std::span<const void* const> source, uint8_t* target, uint32_t count,
                      uint8_t mask);
    void RowCMYKToRGB(std::span<const void* const> source, uint8_t* target, uint32_t count,
                      uint8_t mask);
    void RowLabToRGB(std::span<const void* const> source, uint8_t* target, uint32_t count,
                     uint8_t mask);
    void RowYCbCrToRGB(std::span<const void* const> source, uint8_t* target, uint32_t count,
                       uint8_t mask);

    bool changed_ = true;
    TCmykConverter inkProfile_;
    std::vector<uint8_t> inkRow_;  // planar CMYK samples gathered for the ink profile
    uint8_t sourceBPS_ = 8;
    uint8_t targetBPS_ = 8;
    uint8_t sourceSPP_ = 3;
    uint8_t targetSPP_ = 3;
    float fileGamma_ = 1.0f;
    float displayGamma_ = 2.2f;
    std::array<uint8_t, 256> gammaTable_{};
    std::array<float, 3> yCbCrCoefficients_{0.299f, 0.587f, 0.114f};
    uint8_t hSubsampling_ = 1;
    uint8_t vSubsampling_ = 1;
    // Cr to red, Cb to blue, Cr to green, Cb to green.
    std::array<int32_t, 256> crToRed_{};
    std::array<int32_t, 256> cbToBlue_{};
    std::array<int32_t, 256> crToGreen_{};
    std::array<int32_t, 256> cbToGreen_{};
    bool yCbCrTablesStale_ = true;
    int yCbCrCrOffset_ = 128;
    int yCbCrCbOffset_ = 128;
    TColorSchemeKind sourceScheme_ = schemeRGB;
    TColorSchemeKind targetScheme_ = schemeBGR;
    TRowRoutine routine_ = nullptr;
    TConversionOptions sourceOptions_;
    TConversionOptions targetOptions_;
    // Source sample value -> target sample value for the packed routines (sources up to 8 bits).
    std::array<uint16_t, 256> packedScale_{};
};
