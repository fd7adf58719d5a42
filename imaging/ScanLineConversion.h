#pragma once
// Turning bitmap rows of any pixel format into 32-bit blue, green, red, alpha pixels, for
// writers and painters that need one layout. Bit-field channels scale to 8 bits by bit replication.
#include <cstdint>

#include <cstddef>

#include "imaging/Bitmap.h"

// Scales a value of bits (1..7) bits to 8 bits by repeating its bit pattern, as the usual
// readers do (5 bits: v << 3 | v >> 2), so full scale maps to 255.
inline uint8_t Replicate(uint32_t v, int bits) {
    uint32_t out = 0;
    for (int s = 8 - bits; s > -bits; s -= bits)
        out |= s >= 0 ? v << s : v >> -s;
    return static_cast<uint8_t>(out);
}

// One channel of a bit-field pixel layout (a contiguous mask).
struct TBitFieldChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    // Builds the channel from a mask; returns false when the set bits are not contiguous.
    bool Init(uint32_t mask);
    // The channel of the pixel scaled to 0..255 (fallback when the mask is empty).
    uint8_t Scale(uint32_t pixel, uint8_t fallback = 0) const {
        if (Bits == 0) return fallback;
        const uint32_t v = (pixel & Mask) >> Shift;
        if (Bits >= 8) return static_cast<uint8_t>(v >> (Bits - 8));
        return Replicate(v, Bits);
    }
};

// Writes row y of the bitmap as Width() pixels of blue, green, red, alpha to target (4 bytes a
// pixel). Formats without alpha give 255; palette indices beyond the palette give opaque black.
void ConvertScanLineToBGRA(const TBitmap& bitmap, int y, uint8_t* target);

// Whether the bitmap's pixel format carries an alpha channel (pf32bit, or pfCustom with an
// alpha mask).
bool BitmapHasAlpha(const TBitmap& bitmap);
// Whether the alpha channel counts when the bitmap is shown: it has one and some pixel's alpha
// is not 0 (a bitmap whose alpha is 0 everywhere was written without alpha: it shows opaque).
bool BitmapAlphaInUse(const TBitmap& bitmap);

// How a bitmap is composed over what lies behind it, the one rule of the picture view and of
// velkaro-decode: the alpha channel when it is in use, and, for a transparent graphic, its
// transparent colour keyed out.
struct TComposition {
    int32_t Key = -1;    // colour (0x00BBGGRR) whose pixels get alpha 0, -1 for none
    bool Alpha = false;  // the pixels' own alpha counts
    bool SeeThrough() const { return Key >= 0 || Alpha; }
};
// Turns a system colour (0x80000000 + n) into 0x00BBGGRR; the imaging library has none.
using TSystemColorResolver = int32_t (*)(TColor color);
// The composition of a bitmap. keyTransparent: whether its TransparentColor is keyed out (the
// graphic's Transparent flag). clNone keys nothing; clDefault keys the colour of the bottom-left
// pixel, unless the alpha channel is in use (it already says what shows through); system colours
// are keyed through resolve (nothing without one).
TComposition BitmapComposition(const TBitmap& bitmap, bool keyTransparent,
                               TSystemColorResolver resolve = nullptr);
// Row y as composed: blue, green, red, alpha; alpha 255 where the composition has no alpha, 0
// on pixels of the key colour.
void ComposeScanLine(const TBitmap& bitmap, int y, const TComposition& composition,
                     uint8_t* target);
// Applies the composition to count pixels of blue, green, red, alpha already converted (a row, or
// the colour table of an indexed picture).
void ApplyComposition(uint8_t* bgra, size_t count, const TComposition& composition);

// Exchanges the first and third byte of each of count 3-byte pixels (blue-green-red to
// red-green-blue and back). source and target may be the same row, but must not otherwise
// overlap.
void SwapRedBlue24(const uint8_t* source, uint8_t* target, size_t count);
// The same for 4-byte pixels; the fourth byte is kept.
void SwapRedBlue32(const uint8_t* source, uint8_t* target, size_t count);
// 4-byte pixels to 3-byte pixels with the first and third byte exchanged and the fourth dropped.
void SwapRedBlue32To24(const uint8_t* source, uint8_t* target, size_t count);
