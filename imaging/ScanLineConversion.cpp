#include "imaging/ScanLineConversion.h"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

bool TBitFieldChannel::Init(uint32_t mask) {
    Mask = mask;
    if (mask == 0) {
        Shift = Bits = 0;
        return true;
    }
    Shift = std::countr_zero(mask);
    const uint32_t m = mask >> Shift;
    Bits = std::popcount(m);
    // Contiguous when m + 1 is a power of two (m = 2^Bits - 1).
    return Bits == 32 || m == (1u << Bits) - 1;
}

namespace {

// 5- and 6-bit channel values scaled to 8 bits.
struct TScaleTables {
    std::array<uint8_t, 32> five{};
    std::array<uint8_t, 64> six{};
    TScaleTables() {
        for (uint32_t v = 0; v < 32; ++v)
            five[v] = Replicate(v, 5);
        for (uint32_t v = 0; v < 64; ++v)
            six[v] = Replicate(v, 6);
    }
};

const TScaleTables& Tables() {
    static const TScaleTables tables;
    return tables;
}

void Indexed(const TBitmap& bitmap, const uint8_t* src, uint8_t* dst, int bits) {
    const auto& pal = bitmap.Palette();
    const int width = bitmap.Width();
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (src[x / perByte] >> shift) & mask;
        uint8_t* d = dst + 4 * x;
        if (index < pal.size()) {
            d[0] = pal[index].rgbBlue;
            d[1] = pal[index].rgbGreen;
            d[2] = pal[index].rgbRed;
        } else {
            d[0] = d[1] = d[2] = 0;
        }
        d[3] = 255;
    }
}

// 16-bit little-endian pixels (blue in the low five bits, then green of greenBits bits, then
// red of five) to blue, green, red, 255.
void WordPixels(const uint8_t* src, uint8_t* dst, int width, unsigned greenBits) {
    const auto& t = Tables();
    const uint8_t* green = greenBits == 6 ? t.six.data() : t.five.data();
    const unsigned greenMask = (1u << greenBits) - 1;
    for (int x = 0; x < width; ++x) {
        const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
        dst[4 * x] = t.five[v & 31];
        dst[4 * x + 1] = green[(v >> 5) & greenMask];
        dst[4 * x + 2] = t.five[(v >> (5 + greenBits)) & 31];
        dst[4 * x + 3] = 255;
    }
}

}  // namespace

bool BitmapHasAlpha(const TBitmap& bitmap) {
    return bitmap.PixelFormat() == pf32bit ||
           (bitmap.PixelFormat() == pfCustom && bitmap.AlphaMask() != 0);
}

bool BitmapAlphaInUse(const TBitmap& bitmap) {
    if (!BitmapHasAlpha(bitmap) || bitmap.Empty()) return false;
    std::vector<uint8_t> row(size_t(bitmap.Width()) * 4);
    for (int y = 0; y < bitmap.Height(); ++y) {
        if (bitmap.PixelFormat() == pf32bit) {
            const uint8_t* p = bitmap.ScanLine(y);
            for (int x = 0; x < bitmap.Width(); ++x)
                if (p[4 * x + 3] != 0) return true;
            continue;
        }
        ConvertScanLineToBGRA(bitmap, y, row.data());
        for (size_t i = 3; i < row.size(); i += 4)
            if (row[i] != 0) return true;
    }
    return false;
}

TComposition BitmapComposition(const TBitmap& bitmap, bool keyTransparent,
                               TSystemColorResolver resolve) {
    TComposition c;
    c.Alpha = BitmapAlphaInUse(bitmap);
    const TColor color = bitmap.TransparentColor();
    if (!keyTransparent || color == clNone || bitmap.Empty()) return c;
    if (color == clDefault) {
        if (c.Alpha) return c;
        std::vector<uint8_t> row(size_t(bitmap.Width()) * 4);
        ConvertScanLineToBGRA(bitmap, bitmap.Height() - 1, row.data());
        c.Key = row[2] | row[1] << 8 | row[0] << 16;
    } else if (color < 0) {
        c.Key = resolve != nullptr ? resolve(color) & 0x00FFFFFF : -1;
    } else {
        c.Key = color & 0x00FFFFFF;
    }
    return c;
}

void ApplyComposition(uint8_t* bgra, size_t count, const TComposition& composition) {
    if (!composition.Alpha)
        for (size_t i = 0; i < count; ++i)
            bgra[4 * i + 3] = 255;
    if (composition.Key < 0) return;
    const uint32_t key = uint32_t(composition.Key);
    for (size_t i = 0; i < count; ++i, bgra += 4)
        if ((bgra[2] | bgra[1] << 8 | uint32_t(bgra[0]) << 16) == key) bgra[3] = 0;
}

void ComposeScanLine(const TBitmap& bitmap, int y, const TComposition& composition,
                     uint8_t* target) {
    ConvertScanLineToBGRA(bitmap, y, target);
    ApplyComposition(target, size_t(bitmap.Width()), composition);
}

void ConvertScanLineToBGRA(const TBitmap& bitmap, int y, uint8_t* dst) {
    const uint8_t* src = bitmap.ScanLine(y);
    const int width = bitmap.Width();
    const TPixelFormat format = bitmap.PixelFormat();
    switch (format) {
        case pf1bit:
        case pf4bit:
        case pf8bit:
            Indexed(bitmap, src, dst, PixelFormatBits(format));
            return;
        case pf15bit:
        case pf16bit:
            // Five or six bits of green.
            WordPixels(src, dst, width, format == pf15bit ? 5u : 6u);
            return;
        case pfDevice:
        case pf24bit:
            for (int x = 0; x < width; ++x) {
                dst[4 * x] = src[3 * x];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x + 2];
                dst[4 * x + 3] = 255;
            }
            return;
        case pf32bit:
            std::memcpy(dst, src, static_cast<size_t>(width) * 4);
            return;
        case pfCustom: {
            const int bpp = bitmap.BitsPerPixel();
            uint32_t r = bitmap.RedMask(), g = bitmap.GreenMask(), b = bitmap.BlueMask();
            if (r == 0 && g == 0 && b == 0) {
                // No masks: indices through the palette, or the usual layout of the size.
                if (bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8) {
                    Indexed(bitmap, src, dst, bpp);
                    return;
                }
                if (bpp == 16) {
                    r = 0x7C00, g = 0x03E0, b = 0x001F;
                } else if (bpp == 24 || bpp == 32) {
                    r = 0xFF0000, g = 0x00FF00, b = 0x0000FF;
                }
            }
            TBitFieldChannel rc, gc, bc, ac;
            if (bpp < 1 || bpp > 32 || !rc.Init(r) || !gc.Init(g) || !bc.Init(b) ||
                !ac.Init(bitmap.AlphaMask())) {
                std::memset(dst, 0, static_cast<size_t>(width) * 4);
                return;
            }
            const uint32_t valueMask = bpp == 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
            for (int x = 0; x < width; ++x) {
                // Whole bytes little-endian (as the 16- and 32-bit fields of a DIB); other
                // sizes as a bit stream with the first pixel in the high bits.
                uint32_t pixel = 0;
                if (bpp % 8 == 0) {
                    const uint8_t* q = src + static_cast<size_t>(x) * (bpp / 8);
                    for (int i = bpp / 8 - 1; i >= 0; --i)
                        pixel = pixel << 8 | q[i];
                } else {
                    const uint64_t bit = static_cast<uint64_t>(x) * bpp;
                    const int last = static_cast<int>(bit % 8) + bpp;  // bits to the pixel's end
                    const int bytes = (last + 7) / 8;
                    uint64_t window = 0;
                    for (int i = 0; i < bytes; ++i)
                        window = window << 8 | src[bit / 8 + size_t(i)];
                    pixel = static_cast<uint32_t>(window >> (bytes * 8 - last)) & valueMask;
                }
                dst[4 * x] = bc.Scale(pixel);
                dst[4 * x + 1] = gc.Scale(pixel);
                dst[4 * x + 2] = rc.Scale(pixel);
                dst[4 * x + 3] = ac.Scale(pixel, 255);
            }
            return;
        }
    }
}

// ---- red and blue exchange ----
//
// These run over every pixel of large pictures (decoded rows into the bitmap, bitmap rows into
// files), so they work on several pixels at a time: 32-bit words for 4-byte pixels, which the
// compiler vectorises, and a byte shuffle for 3-byte pixels where the processor has one.

namespace {

void SwapRedBlue24Scalar(const uint8_t* s, uint8_t* d, size_t count) {
    for (size_t i = 0; i < count; ++i, s += 3, d += 3) {
        const uint8_t first = s[0];
        d[0] = s[2];
        d[1] = s[1];
        d[2] = first;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels (15 bytes) per step from 16-byte loads; the 16th byte is written back unchanged,
// so the step also works in place, and the next step (or the tail) writes it properly.
__attribute__((target("ssse3"))) void SwapRedBlue24Ssse3(const uint8_t* s, uint8_t* d,
                                                         size_t count) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    size_t i = 0;
    for (; i + 6 <= count; i += 5, s += 15, d += 15) {  // 6 pixels = 18 bytes >= 16 readable
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_shuffle_epi8(v, order));
    }
    SwapRedBlue24Scalar(s, d, count - i);
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

}  // namespace

void SwapRedBlue24(const uint8_t* source, uint8_t* target, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (HasSsse3()) return SwapRedBlue24Ssse3(source, target, count);
#endif
    SwapRedBlue24Scalar(source, target, count);
}

void SwapRedBlue32(const uint8_t* source, uint8_t* target, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    // Four pixels per step: red and blue trade places by shifts within each 32-bit lane.
    const __m128i keep = _mm_set1_epi32(int(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * i));
        const __m128i swapped = _mm_or_si128(
            _mm_and_si128(v, keep), _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                                 _mm_slli_epi32(_mm_and_si128(v, low), 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 4 * i), swapped);
    }
#endif
    for (; i < count; ++i) {
        uint32_t v;
        std::memcpy(&v, source + 4 * i, 4);
        if constexpr (std::endian::native == std::endian::little)
            v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
        else
            v = (v & 0x00FF00FFu) | ((v >> 16) & 0xFF00u) | ((v & 0xFF00u) << 16);
        std::memcpy(target + 4 * i, &v, 4);
    }
}

void SwapRedBlue32To24(const uint8_t* s, uint8_t* d, size_t count) {
    for (size_t i = 0; i < count; ++i, s += 4, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    }
}
