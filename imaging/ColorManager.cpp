#include "imaging/ColorManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ScanLineConversion.h"

namespace {

// The unsigned product of two 16-bit values divided by a 16-bit divisor, truncating (the
// product of two values up to 65535 fits 32 bits).
inline uint32_t MulDiv(uint32_t value, uint32_t factor, uint32_t divisor) {
    return value * factor / divisor;
}

inline uint16_t Swap16(uint16_t v) {
    return static_cast<uint16_t>((v << 8) | (v >> 8));
}

inline uint8_t Clamp255(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Sample loads and stores in host byte order; 16-bit samples may sit at odd addresses.
template <typename T>
inline T Load(const uint8_t* p) {
    if constexpr (sizeof(T) == 1) {
        return *p;
    } else {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
}

inline void Store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

// Calls pixel(sourceIndex, targetPixel) for every target pixel whose mask bit is set. The mask
// starts at bit 7 and wraps from bit 0 to bit 7; the target advances for every pixel, the source
// only for produced ones.
template <class F>
inline void ForEachPixel(uint8_t* target, uint32_t count, uint8_t mask, size_t targetStep,
                         F&& pixel) {
    if (mask == 0xFF) {
        for (uint32_t i = 0; i < count; ++i, target += targetStep)
            pixel(i, target);
        return;
    }
    uint32_t k = 0;
    unsigned bit = 0x80;
    for (uint32_t i = 0; i < count; ++i, target += targetStep) {
        if (mask & bit) pixel(k++, target);
        bit = bit == 1 ? 0x80 : bit >> 1;
    }
}

// Reads a sample of width bits (1..16) at the given bit position, most significant bit first.
inline uint32_t ReadBits(const uint8_t* row, uint64_t bitPos, unsigned width) {
    const uint8_t* p = row + (bitPos >> 3);
    const unsigned end = static_cast<unsigned>(bitPos & 7) + width;
    const uint32_t valueMask = (1u << width) - 1;
    if (end <= 8) return (uint32_t(p[0]) >> (8 - end)) & valueMask;
    const unsigned bytes = (end + 7) / 8;
    uint32_t acc = 0;
    for (unsigned i = 0; i < bytes; ++i)
        acc = (acc << 8) | p[i];
    return (acc >> (bytes * 8 - end)) & valueMask;
}

// Writes a sample of width bits (1..16) at the given bit position; other bits stay as they were.
inline void WriteBits(uint8_t* row, uint64_t bitPos, unsigned width, uint32_t value) {
    uint8_t* p = row + (bitPos >> 3);
    const unsigned end = static_cast<unsigned>(bitPos & 7) + width;
    const uint32_t valueMask = (1u << width) - 1;
    value &= valueMask;
    if (end <= 8) {
        const unsigned shift = 8 - end;
        const uint32_t m = valueMask << shift;
        p[0] = static_cast<uint8_t>((p[0] & ~m) | (value << shift));
        return;
    }
    const unsigned bytes = (end + 7) / 8;
    const unsigned shift = bytes * 8 - end;
    uint32_t acc = 0;
    for (unsigned i = 0; i < bytes; ++i)
        acc = (acc << 8) | p[i];
    acc = (acc & ~(valueMask << shift)) | (value << shift);
    for (unsigned i = bytes; i-- > 0;) {
        p[i] = static_cast<uint8_t>(acc);
        acc >>= 8;
    }
}

bool HasAlpha(TColorSchemeKind scheme) {
    return scheme == schemeGrayAlpha || scheme == schemeRGBA || scheme == schemeBGRA;
}

// Bytes of one colour target pixel: 3 samples, 4 with alpha.
size_t ColorTargetStep(TColorSchemeKind target, unsigned bits) {
    return size_t(HasAlpha(target) ? 4 : 3) * (bits / 8);
}

bool IsColorTarget(TColorSchemeKind scheme) {
    return scheme >= schemeRGB && scheme <= schemeBGRA;
}

const std::array<uint8_t, 256>& IdentityTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<uint8_t>(i);
        return t;
    }();
    return table;
}

// Where the samples of one source pixel are: plane c starts at p[c] and successive pixels are
// step bytes apart (interleaved data is a set of planes that share one buffer).
struct SourceLayout {
    const uint8_t* p[4] = {nullptr, nullptr, nullptr, nullptr};
    size_t step = 0;
    unsigned planes = 0;  // number of valid entries of p
};

// Builds the layout of `samples` samples per pixel: planes when at least `minPlanes` pointers are
// given (exactly `minPlanes` when exactPlanes; a missing last plane, such as alpha, counts as
// absent), else interleaved from the first pointer with `pixelSamples` samples per pixel.
SourceLayout MakeLayout(std::span<const void* const> source, unsigned samples,
                        unsigned pixelSamples, unsigned sampleBytes, unsigned minPlanes,
                        bool exactPlanes) {
    SourceLayout layout;
    const bool planar = exactPlanes ? source.size() == minPlanes : source.size() >= minPlanes;
    if (planar) {
        layout.planes = static_cast<unsigned>(std::min<size_t>(source.size(), samples));
        for (unsigned c = 0; c < layout.planes; ++c)
            layout.p[c] = static_cast<const uint8_t*>(source[c]);
        layout.step = sampleBytes;
    } else {
        const uint8_t* base = static_cast<const uint8_t*>(source[0]);
        layout.planes = samples;
        for (unsigned c = 0; c < samples; ++c)
            layout.p[c] = base + c * sampleBytes;
        layout.step = size_t(pixelSamples) * sampleBytes;
    }
    for (unsigned c = 0; c < layout.planes; ++c)
        if (layout.p[c] == nullptr) layout.planes = std::min(layout.planes, c);
    return layout;
}

// Byte offsets of red, green and blue in a target pixel of the given scheme, in samples.
struct TargetOrder {
    unsigned r, g, b;
};

TargetOrder OrderOf(TColorSchemeKind target) {
    if (target == schemeRGB || target == schemeRGBA) return {0, 1, 2};
    return {2, 1, 0};
}

// Stores an 8-bit colour result into an 8- or 16-bit target pixel.
template <bool Target16>
inline void StoreRGB(uint8_t* d, TargetOrder o, uint8_t r, uint8_t g, uint8_t b) {
    if constexpr (Target16) {
        // 8 to 16 bits: v * 257, whose two bytes are equal, so byte order does not matter.
        Store16(d + 2 * o.r, static_cast<uint16_t>(r * 257));
        Store16(d + 2 * o.g, static_cast<uint16_t>(g * 257));
        Store16(d + 2 * o.b, static_cast<uint16_t>(b * 257));
    } else {
        d[o.r] = r;
        d[o.g] = g;
        d[o.b] = b;
    }
}

// Reads sample c of source pixel k reduced to 8 bits (16-bit samples by the scale converter,
// byte-swapped first when swap).
template <bool Source16>
inline uint8_t Sample8(const SourceLayout& s, unsigned c, size_t k, bool swap) {
    if constexpr (Source16) {
        uint16_t v = Load<uint16_t>(s.p[c] + k * s.step);
        if (swap) v = Swap16(v);
        return static_cast<uint8_t>(v / 257);
    } else {
        return s.p[c][k * s.step];
    }
}

float LabCube(float v) {
    return v * v * v;
}

}  // namespace

unsigned SchemeSamples(TColorSchemeKind scheme) {
    switch (scheme) {
        case schemeIndexed:
        case schemeGray:
            return 1;
        case schemeGrayAlpha:
            return 2;
        case schemeRGB:
        case schemeBGR:
        case schemeCMY:
        case schemeCIELab:
        case schemeYCbCr:
        case schemePhotoYCC:
            return 3;
        case schemeRGBA:
        case schemeBGRA:
        case schemeCMYK:
            return 4;
        default:
            return 0;
    }
}

TColorManager::TColorManager() {
    BuildGammaTable(1.0f, 2.2f);
}

void TColorManager::SetSourceSampleBits(uint8_t value) {
    if (value == 0 || value > 16) throw EColorConversionError(imsg::InvalidSampleDepth);
    Update(sourceBPS_, value);
}

void TColorManager::SetTargetSampleBits(uint8_t value) {
    if (value == 0 || value > 16) throw EColorConversionError(imsg::InvalidSampleDepth);
    Update(targetBPS_, value);
}

void TColorManager::SetSourceSampleCount(uint8_t value) {
    if (value == 0 || value > 4) throw EColorConversionError(imsg::InvalidPixelDepth);
    Update(sourceSPP_, value);
}

void TColorManager::SetTargetSampleCount(uint8_t value) {
    if (value == 0 || value > 4) throw EColorConversionError(imsg::InvalidPixelDepth);
    Update(targetSPP_, value);
}

void TColorManager::SetSourceScheme(TColorSchemeKind value) {
    Update(sourceScheme_, value);
}

void TColorManager::SetTargetScheme(TColorSchemeKind value) {
    Update(targetScheme_, value);
}

// The routines step by the scheme's samples; a scheme without a fixed count uses the
// side's samples per pixel.
uint64_t TColorManager::SourceRowBytes(uint32_t count) const {
    unsigned samples = SchemeSamples(sourceScheme_);
    if (samples == 0) samples = sourceSPP_;
    return (uint64_t(count) * sourceBPS_ * samples + 7) / 8;
}

uint64_t TColorManager::TargetRowBytes(uint32_t count) const {
    unsigned samples = SchemeSamples(targetScheme_);
    if (samples == 0) samples = targetSPP_;
    return (uint64_t(count) * targetBPS_ * samples + 7) / 8;
}

// ---------------------------------------------------------------------------------------------
// Routine selection

void TColorManager::SelectRoutine() {
    routine_ = nullptr;
    const TColorSchemeKind s = sourceScheme_;
    const TColorSchemeKind t = targetScheme_;
    const bool sourceIndexed = s == schemeIndexed || s == schemeGray || s == schemeGrayAlpha;
    const bool targetIndexed = t == schemeIndexed || t == schemeGray;
    // The changed flag stays set, so every later row raises this again.
    if (sourceIndexed != targetIndexed) throw EColorConversionError(imsg::IndexedNotSupported);

    if (HasAlpha(s))
        sourceOptions_ += convAlpha;
    else
        sourceOptions_ -= convAlpha;
    if (HasAlpha(t))
        targetOptions_ += convAlpha;
    else
        targetOptions_ -= convAlpha;

    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    const bool colorTarget = IsColorTarget(t);
    switch (s) {
        case schemeIndexed:
            if (bs == 16 && bt == 16)
                routine_ = &TColorManager::RowIndex16Copy;
            else if (bs == 16)
                routine_ = &TColorManager::RowIndex16ToPacked;
            else if (bt == 16)
                routine_ = &TColorManager::RowPackedToIndex16;
            else
                routine_ = &TColorManager::RowPackedCopy;
            break;
        case schemeGray:
            if (bs != 16 && bt != 16)
                routine_ = &TColorManager::RowPackedCopy;
            else if (bs >= 8 && bt >= 8)
                routine_ = &TColorManager::RowGrayCopy;
            break;
        case schemeGrayAlpha:
            if ((bs == 8 || bs == 16) && (bt == 8 || bt == 16))
                routine_ = &TColorManager::RowGrayCopy;
            break;
        case schemeRGB:
        case schemeRGBA:
        case schemeBGR:
        case schemeBGRA:
            if (colorTarget) routine_ = &TColorManager::RowColorCopy;
            break;
        case schemeCMYK:
            if (colorTarget) routine_ = &TColorManager::RowCMYKToRGB;
            break;
        case schemeCIELab:
            if (colorTarget) routine_ = &TColorManager::RowLabToRGB;
            break;
        case schemeYCbCr:
            if (colorTarget) {
                BuildYCbCrLookup(128, 128);
                routine_ = &TColorManager::RowYCbCrToRGB;
            }
            break;
        case schemePhotoYCC:
            if (colorTarget) {
                BuildYCbCrLookup(137, 156);
                routine_ = &TColorManager::RowYCbCrToRGB;
            }
            break;
        default:
            break;
    }

    // Scale table of the packed routines for sources of up to 8 bits.
    if (bs <= 8) {
        const uint32_t ms = (1u << bs) - 1;
        const uint32_t mt = (1u << bt) - 1;
        for (uint32_t v = 0; v <= ms; ++v)
            packedScale_[v] = static_cast<uint16_t>(MulDiv(v, mt, ms));
    }
    changed_ = false;
}

void TColorManager::ConvertScanline(std::span<const void* const> source, void* target,
                                    uint32_t count, uint8_t mask) {
    if (changed_) SelectRoutine();
    if (routine_ == nullptr) throw EColorConversionError(imsg::ConversionUnsupported);
    if (source.empty() || source[0] == nullptr || target == nullptr || count == 0) return;
    (this->*routine_)(source, static_cast<uint8_t*>(target), count, mask);
}

void TColorManager::ConvertScanline(std::initializer_list<const void*> source, void* target,
                                    uint32_t count, uint8_t mask) {
    ConvertScanline(std::span<const void* const>(source.begin(), source.size()), target, count,
                    mask);
}

void TColorManager::ConvertScanline(const void* source, void* target, uint32_t count,
                                    uint8_t mask) {
    const void* const one[1] = {source};
    ConvertScanline(std::span<const void* const>(one, 1), target, count, mask);
}

// ---------------------------------------------------------------------------------------------
// Indexed and gray routines

void TColorManager::RowPackedCopy(std::span<const void* const> source, uint8_t* target,
                                  uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if (bs == bt && mask == 0xFF) {
        std::memcpy(target, src, (uint64_t(count) * bs + 7) / 8);
        return;
    }
    if (bs == 8 && bt == 8) {
        ForEachPixel(target, count, mask, 1, [&](uint32_t k, uint8_t* d) { *d = src[k]; });
        return;
    }
    const uint32_t ms = (1u << bs) - 1;
    const uint32_t mt = (1u << bt) - 1;
    const bool table = bs <= 8;
    uint32_t k = 0;
    unsigned bit = 0x80;
    for (uint32_t i = 0; i < count; ++i) {
        if (mask & bit) {
            const uint32_t v = ReadBits(src, uint64_t(k) * bs, bs);
            const uint32_t out = table ? packedScale_[v] : MulDiv(v, mt, ms);
            if (bt == 8)
                target[i] = static_cast<uint8_t>(out);
            else
                WriteBits(target, uint64_t(i) * bt, bt, out);
            ++k;
        }
        bit = bit == 1 ? 0x80 : bit >> 1;
    }
}

void TColorManager::RowIndex16Copy(std::span<const void* const> source, uint8_t* target,
                                   uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    if (sourceOptions_.Contains(convSwapBytes)) {
        ForEachPixel(target, count, mask, 2, [&](uint32_t k, uint8_t* d) {
            Store16(d, Swap16(Load<uint16_t>(src + 2 * size_t(k))));
        });
    } else if (mask == 0xFF) {
        std::memcpy(target, src, size_t(count) * 2);
    } else {
        ForEachPixel(target, count, mask, 2,
                     [&](uint32_t k, uint8_t* d) { std::memcpy(d, src + 2 * size_t(k), 2); });
    }
}

void TColorManager::RowIndex16ToPacked(std::span<const void* const> source, uint8_t* target,
                                       uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const unsigned bt = targetBPS_;
    const uint32_t mt = (1u << bt) - 1;
    uint32_t k = 0;
    unsigned bit = 0x80;
    for (uint32_t i = 0; i < count; ++i) {
        if (mask & bit) {
            uint16_t v = Load<uint16_t>(src + 2 * size_t(k));
            if (swap) v = Swap16(v);
            WriteBits(target, uint64_t(i) * bt, bt, MulDiv(v, mt, 65535));
            ++k;
        }
        bit = bit == 1 ? 0x80 : bit >> 1;
    }
}

void TColorManager::RowPackedToIndex16(std::span<const void* const> source, uint8_t* target,
                                       uint32_t count, uint8_t mask) {
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const unsigned bs = sourceBPS_;
    const uint32_t ms = (1u << bs) - 1;
    const bool table = bs <= 8;
    ForEachPixel(target, count, mask, 2, [&](uint32_t k, uint8_t* d) {
        const uint32_t v = ReadBits(src, uint64_t(k) * bs, bs);
        uint16_t out = static_cast<uint16_t>(table ? packedScale_[v] : MulDiv(v, 65535, ms));
        if (swap) out = Swap16(out);
        Store16(d, out);
    });
}

void TColorManager::RowGrayCopy(std::span<const void* const> source, uint8_t* target,
                                uint32_t count, uint8_t mask) {
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if ((bs != 8 && bs != 16) || (bt != 8 && bt != 16)) return;
    const uint8_t* src = static_cast<const uint8_t*>(source[0]);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const unsigned samples = sourceScheme_ == schemeGrayAlpha ? 2 : 1;
    const size_t step = size_t(samples) * (bs / 8);
    if (bs == 8 && bt == 8) {
        ForEachPixel(target, count, mask, 1, [&](uint32_t k, uint8_t* d) { *d = src[k * step]; });
    } else if (bs == 8) {
        ForEachPixel(target, count, mask, 2, [&](uint32_t k, uint8_t* d) {
            Store16(d, static_cast<uint16_t>(src[k * step] * 257));
        });
    } else if (bt == 8) {
        ForEachPixel(target, count, mask, 1, [&](uint32_t k, uint8_t* d) {
            uint16_t v = Load<uint16_t>(src + k * step);
            if (swap) v = Swap16(v);
            *d = static_cast<uint8_t>(v / 257);
        });
    } else {
        ForEachPixel(target, count, mask, 2, [&](uint32_t k, uint8_t* d) {
            uint16_t v = Load<uint16_t>(src + k * step);
            Store16(d, swap ? Swap16(v) : v);
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Colour routines

namespace {

// The colour copy for one combination of sample widths. lut is the 8-bit converter (gamma or
// identity) applied to 8-bit target colour components.
template <typename S, typename T>
void ColorCopyRow(const SourceLayout& s, unsigned ri, unsigned gi, unsigned bi, bool srcAlpha,
                  uint8_t* target, uint32_t count, uint8_t mask, TargetOrder o, bool dstAlpha,
                  size_t targetStep, const uint8_t* lut, bool swap) {
    const uint8_t* rp = s.p[ri];
    const uint8_t* gp = s.p[gi];
    const uint8_t* bp = s.p[bi];
    const uint8_t* ap = s.p[3];
    const size_t step = s.step;
    const bool alpha = srcAlpha && dstAlpha && ap != nullptr && s.planes >= 4;

    auto colour = [&](const uint8_t* p) -> T {
        const S v = Load<S>(p);
        if constexpr (sizeof(S) == 1 && sizeof(T) == 1) {
            return lut[v];
        } else if constexpr (sizeof(S) == 2 && sizeof(T) == 1) {
            return lut[(swap ? Swap16(v) : v) / 257];
        } else if constexpr (sizeof(S) == 1) {
            return static_cast<T>(v * 257);
        } else {
            return swap ? Swap16(v) : v;
        }
    };
    auto alphaValue = [&](const uint8_t* p) -> T {
        const S v = Load<S>(p);
        if constexpr (sizeof(S) == 1 && sizeof(T) == 1) {
            return v;
        } else if constexpr (sizeof(S) == 2 && sizeof(T) == 1) {
            return static_cast<T>((swap ? Swap16(v) : v) / 257);
        } else if constexpr (sizeof(S) == 1) {
            return static_cast<T>(v * 257);
        } else {
            return swap ? Swap16(v) : v;
        }
    };
    auto store = [](uint8_t* d, unsigned index, T v) {
        if constexpr (sizeof(T) == 1)
            d[index] = v;
        else
            Store16(d + 2 * index, v);
    };

    if (alpha) {
        ForEachPixel(target, count, mask, targetStep, [=](uint32_t k, uint8_t* d) {
            const size_t off = size_t(k) * step;
            store(d, o.r, colour(rp + off));
            store(d, o.g, colour(gp + off));
            store(d, o.b, colour(bp + off));
            store(d, 3, alphaValue(ap + off));
        });
    } else {
        ForEachPixel(target, count, mask, targetStep, [=](uint32_t k, uint8_t* d) {
            const size_t off = size_t(k) * step;
            store(d, o.r, colour(rp + off));
            store(d, o.g, colour(gp + off));
            store(d, o.b, colour(bp + off));
        });
    }
}

void InterleavePlanes(const uint8_t* __restrict r, const uint8_t* __restrict g,
                      const uint8_t* __restrict b, const uint8_t* __restrict a,
                      uint8_t* __restrict target, uint32_t count, TargetOrder o, size_t step) {
    if (a != nullptr) {
        for (uint32_t i = 0; i < count; ++i, target += step) {
            target[o.r] = r[i];
            target[o.g] = g[i];
            target[o.b] = b[i];
            target[3] = a[i];
        }
    } else if (o.r == 2 && o.g == 1 && o.b == 0 && step == 3) {
        for (uint32_t i = 0; i < count; ++i, target += 3) {
            target[0] = b[i];
            target[1] = g[i];
            target[2] = r[i];
        }
    } else {
        for (uint32_t i = 0; i < count; ++i, target += step) {
            target[o.r] = r[i];
            target[o.g] = g[i];
            target[o.b] = b[i];
        }
    }
}

// Calls run.operator()<Source16, Target16>() for the source and target sample widths (8 or 16
// bits), so that a row routine is compiled once per pair of widths.
template <class Run>
void ForSampleWidths(unsigned sourceBits, unsigned targetBits, const Run& run) {
    if (sourceBits == 8 && targetBits == 8)
        run.template operator()<false, false>();
    else if (sourceBits == 8)
        run.template operator()<false, true>();
    else if (targetBits == 8)
        run.template operator()<true, false>();
    else
        run.template operator()<true, true>();
}

}  // namespace

void TColorManager::RowColorCopy(std::span<const void* const> source, uint8_t* target,
                                 uint32_t count, uint8_t mask) {
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if ((bs != 8 && bs != 16) || (bt != 8 && bt != 16)) return;
    const bool srcAlpha = HasAlpha(sourceScheme_);
    const unsigned samples = srcAlpha ? 4 : 3;
    const SourceLayout s = MakeLayout(source, samples, samples, bs / 8, 3, false);
    if (s.planes < 3) return;
    const bool sourceRGB = sourceScheme_ == schemeRGB || sourceScheme_ == schemeRGBA;
    const unsigned ri = sourceRGB ? 0 : 2, gi = 1, bi = sourceRGB ? 2 : 0;
    const TargetOrder o = OrderOf(targetScheme_);
    const bool dstAlpha = HasAlpha(targetScheme_);
    const size_t targetStep = ColorTargetStep(targetScheme_, bt);
    const uint8_t* lut =
        targetOptions_.Contains(convApplyGamma) ? gammaTable_.data() : IdentityTable().data();
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    // Whole rows of interleaved 8-bit samples without gamma only change their byte order.
    if (bs == 8 && bt == 8 && mask == 0xFF && source.size() == 1 && o.r != ri &&
        !targetOptions_.Contains(convApplyGamma)) {
        const uint8_t* src = static_cast<const uint8_t*>(source[0]);
        if (!srcAlpha && !dstAlpha) return SwapRedBlue24(src, target, count);
        if (srcAlpha && dstAlpha) return SwapRedBlue32(src, target, count);
        if (srcAlpha) return SwapRedBlue32To24(src, target, count);
    }
    // Whole rows of separate 8-bit planes without gamma (Photoshop, planar TIFF, SGI) are
    // interleaved in one straight pass.
    if (bs == 8 && bt == 8 && mask == 0xFF && s.step == 1 &&
        !targetOptions_.Contains(convApplyGamma))
        return InterleavePlanes(s.p[ri], s.p[gi], s.p[bi],
                                srcAlpha && dstAlpha && s.planes >= 4 ? s.p[3] : nullptr, target,
                                count, o, targetStep);
    if (bs == 8 && bt == 8)
        ColorCopyRow<uint8_t, uint8_t>(s, ri, gi, bi, srcAlpha, target, count, mask, o, dstAlpha,
                                       targetStep, lut, swap);
    else if (bs == 16 && bt == 8)
        ColorCopyRow<uint16_t, uint8_t>(s, ri, gi, bi, srcAlpha, target, count, mask, o, dstAlpha,
                                        targetStep, lut, swap);
    else if (bs == 8)
        ColorCopyRow<uint8_t, uint16_t>(s, ri, gi, bi, srcAlpha, target, count, mask, o, dstAlpha,
                                        targetStep, lut, swap);
    else
        ColorCopyRow<uint16_t, uint16_t>(s, ri, gi, bi, srcAlpha, target, count, mask, o, dstAlpha,
                                         targetStep, lut, swap);
}

void TColorManager::RowCMYKToRGB(std::span<const void* const> source, uint8_t* target,
                                 uint32_t count, uint8_t mask) {
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if ((bs != 8 && bs != 16) || (bt != 8 && bt != 16)) return;
    const SourceLayout s = MakeLayout(source, 4, 4, bs / 8, 4, true);
    if (s.planes < 4) return;
    const TargetOrder o = OrderOf(targetScheme_);
    const size_t targetStep = ColorTargetStep(targetScheme_, bt);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const bool interleaved =
        s.step == 4 && s.p[1] == s.p[0] + 1 && s.p[2] == s.p[0] + 2 && s.p[3] == s.p[0] + 3;

    // A profile of the file's own turns 8-bit inks into colours; 16-bit inks are rounded to 8
    // bits on the way, as the bitmap keeps 8 bits a colour.
    if (inkProfile_ && bt == 8 && mask == 0xFF && targetStep == 3 && o.r == 2) {
        const uint8_t* inks = s.p[0];
        if (bs == 16) {
            inkRow_.resize(size_t(count) * 4);
            for (uint32_t i = 0; i < count; ++i)
                for (unsigned c = 0; c < 4; ++c) {
                    uint16_t v = Load<uint16_t>(s.p[c] + size_t(i) * s.step);
                    if (swap) v = Swap16(v);
                    inkRow_[size_t(i) * 4 + c] = static_cast<uint8_t>((uint32_t(v) + 128) / 257);
                }
            inks = inkRow_.data();
        } else if (!interleaved) {
            inkRow_.resize(size_t(count) * 4);
            for (uint32_t i = 0; i < count; ++i)
                for (unsigned c = 0; c < 4; ++c)
                    inkRow_[size_t(i) * 4 + c] = s.p[c][size_t(i) * s.step];
            inks = inkRow_.data();
        }
        inkProfile_(inks, target, count);
        return;
    }

    // The common row (interleaved bytes into three-byte pixels, every pixel) in one tight loop.
    // MulDiv(C, K, 255) - C - K + 255 is (255 - C)(255 - K) / 255 truncated, always 0..255; the
    // division by 255 is exact as (x + 1 + (x >> 8)) >> 8 for every product up to 255 * 255.
    if (bs == 8 && bt == 8 && mask == 0xFF && targetStep == 3 && interleaved) {
        auto fast = [&]<unsigned R, unsigned B>() {
            const uint8_t* p = s.p[0];
            uint8_t* d = target;
            for (uint32_t i = 0; i < count; ++i, p += 4, d += 3) {
                const uint32_t white = 255u - p[3];
                auto ink = [white](uint32_t v) {
                    const uint32_t x = (255u - v) * white;
                    return static_cast<uint8_t>((x + 1 + (x >> 8)) >> 8);
                };
                d[R] = ink(p[0]);
                d[1] = ink(p[1]);
                d[B] = ink(p[2]);
            }
        };
        if (o.r == 2)
            fast.operator()<2, 0>();
        else
            fast.operator()<0, 2>();
        return;
    }

    auto run = [&]<bool Source16, bool Target16>() {
        ForEachPixel(target, count, mask, targetStep, [=](uint32_t k, uint8_t* d) {
            uint8_t rgb[3];
            if constexpr (Source16) {
                auto load = [&](unsigned c) {
                    uint16_t v = Load<uint16_t>(s.p[c] + size_t(k) * s.step);
                    return uint32_t(swap ? Swap16(v) : v);
                };
                const uint32_t key = load(3);
                for (unsigned c = 0; c < 3; ++c) {
                    const uint32_t v = load(c);
                    const uint32_t x = (v + key - MulDiv(v, key, 65535)) & 0xFFFF;
                    rgb[c] = static_cast<uint8_t>(255 - x / 257);
                }
            } else {
                const int key = s.p[3][size_t(k) * s.step];
                for (unsigned c = 0; c < 3; ++c) {
                    const int v = s.p[c][size_t(k) * s.step];
                    rgb[c] = Clamp255(int(MulDiv(v, key, 255)) - v - key + 255);
                }
            }
            StoreRGB<Target16>(d, o, rgb[0], rgb[1], rgb[2]);
        });
    };
    ForSampleWidths(bs, bt, run);
}

void TColorManager::RowLabToRGB(std::span<const void* const> source, uint8_t* target,
                                uint32_t count, uint8_t mask) {
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if ((bs != 8 && bs != 16) || (bt != 8 && bt != 16)) return;
    const SourceLayout s = MakeLayout(source, 3, 3, bs / 8, 3, false);
    if (s.planes < 3) return;
    const TargetOrder o = OrderOf(targetScheme_);
    const size_t targetStep = ColorTargetStep(targetScheme_, bt);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const bool byteLightness = sourceOptions_.Contains(convLabByteLightness);
    const bool offsetChroma = sourceOptions_.Contains(convLabOffsetChroma);

    auto component = [](float v) { return Clamp255(static_cast<int>(std::nearbyint(v * 255))); };
    auto run = [&]<bool Source16, bool Target16>() {
        ForEachPixel(target, count, mask, targetStep, [=](uint32_t k, uint8_t* d) {
            const uint8_t l8 = Sample8<Source16>(s, 0, k, swap);
            const uint8_t a8 = Sample8<Source16>(s, 1, k, swap);
            const uint8_t b8 = Sample8<Source16>(s, 2, k, swap);
            const float l = byteLightness ? l8 / 2.55f : float(l8);
            const float a = offsetChroma ? float(int(a8) - 128) : float(int8_t(a8));
            const float b = offsetChroma ? float(int(b8) - 128) : float(int8_t(b8));
            float x, y, z;
            if (l < 7.9996f) {
                y = l / 903.3f;
                x = y + a / 3893.5f;
                z = y - b / 1557.4f;
            } else {
                const float f = (l + 16) / 116;
                x = LabCube(f + a / 500);
                y = LabCube(f);
                z = LabCube(f - b / 200);
            }
            StoreRGB<Target16>(d, o, component(2.998f * x - 1.458f * y - 0.541f * z),
                               component(-0.952f * x + 1.893f * y + 0.059f * z),
                               component(0.099f * x - 0.198f * y + 1.099f * z));
        });
    };
    ForSampleWidths(bs, bt, run);
}

void TColorManager::RowYCbCrToRGB(std::span<const void* const> source, uint8_t* target,
                                  uint32_t count, uint8_t mask) {
    const unsigned bs = sourceBPS_;
    const unsigned bt = targetBPS_;
    if ((bs != 8 && bs != 16) || (bt != 8 && bt != 16)) return;
    if (yCbCrTablesStale_) BuildYCbCrLookup(yCbCrCrOffset_, yCbCrCbOffset_);
    const SourceLayout s = MakeLayout(source, 3, 3, bs / 8, 3, false);
    if (s.planes < 3) return;
    const TargetOrder o = OrderOf(targetScheme_);
    const size_t targetStep = ColorTargetStep(targetScheme_, bt);
    const bool swap = sourceOptions_.Contains(convSwapBytes);
    const int32_t* crToRed = crToRed_.data();
    const int32_t* cbToBlue = cbToBlue_.data();
    const int32_t* crToGreen = crToGreen_.data();
    const int32_t* cbToGreen = cbToGreen_.data();

    auto run = [&]<bool Source16, bool Target16>() {
        ForEachPixel(target, count, mask, targetStep, [=](uint32_t k, uint8_t* d) {
            const int y = Sample8<Source16>(s, 0, k, swap);
            const uint8_t cb = Sample8<Source16>(s, 1, k, swap);
            const uint8_t cr = Sample8<Source16>(s, 2, k, swap);
            StoreRGB<Target16>(d, o, Clamp255(y + crToRed[cr]),
                               Clamp255(y + cbToGreen[cb] + crToGreen[cr]),
                               Clamp255(y + cbToBlue[cb]));
        });
    };
    ForSampleWidths(bs, bt, run);
}

// ---------------------------------------------------------------------------------------------
// Tables

void TColorManager::BuildYCbCrLookup(int crOffset, int cbOffset) {
    const float kr = yCbCrCoefficients_[0];
    const float kg = yCbCrCoefficients_[1];
    const float kb = yCbCrCoefficients_[2];
    const float cr = 2 - 2 * kr;
    const float cb = 2 - 2 * kb;
    const float gr = kr * cr / kg;
    const float gb = kb * cb / kg;
    // The products are rounded to single precision first, then to the nearest integer with
    // ties to even (nearbyint in the default rounding mode): a product such as 1.772 x -125
    // is exactly -221.5 in single precision and gives -222, where double precision would give
    // -221.
    auto round = [](float factor, int e) {
        const float v = factor * float(e);
        if (!std::isfinite(v)) return 0;
        return static_cast<int32_t>(std::clamp(std::nearbyint(v), -1.0e6f, 1.0e6f));
    };
    for (int i = 0; i < 256; ++i) {
        const int er = i - crOffset;
        const int eb = i - cbOffset;
        crToRed_[i] = round(cr, er);
        cbToBlue_[i] = round(cb, eb);
        crToGreen_[i] = -round(gr, er);
        cbToGreen_[i] = -round(gb, eb);
    }
    yCbCrCrOffset_ = crOffset;
    yCbCrCbOffset_ = cbOffset;
    yCbCrTablesStale_ = false;
}

void TColorManager::SetupYCbCrTables(std::span<const float> coefficients, uint8_t horizontal,
                                     uint8_t vertical) {
    const size_t n = std::min<size_t>(coefficients.size(), 3);
    for (size_t i = 0; i < n; ++i)
        yCbCrCoefficients_[i] = coefficients[i];
    // New weights take effect at the next row even when the description stays the same.
    if (n > 0) yCbCrTablesStale_ = true;
    auto valid = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
    if (!valid(horizontal) || !valid(vertical))
        throw EColorConversionError(imsg::InvalidSubSampling);
    if (horizontal < vertical) throw EColorConversionError(imsg::VerticalSubSamplingError);
    hSubsampling_ = horizontal;
    vSubsampling_ = vertical;
}

void TColorManager::SetupYCbCrTables(std::initializer_list<float> coefficients, uint8_t horizontal,
                                     uint8_t vertical) {
    SetupYCbCrTables(std::span<const float>(coefficients.begin(), coefficients.size()), horizontal,
                     vertical);
}

void TColorManager::BuildGammaTable(float fileGamma, float displayGamma) {
    if (!(fileGamma > 0)) fileGamma = 1.0f;
    if (!(displayGamma > 0)) displayGamma = 2.2f;
    fileGamma_ = fileGamma;
    displayGamma_ = displayGamma;
    const double exponent = 1.0 / (double(fileGamma) * double(displayGamma));
    const unsigned targetMax = (1u << targetBPS_) - 1;
    // The table has 256 entries: a wide target with a narrow source is limited to them.
    const unsigned inMax = sourceBPS_ >= 8 ? 255 : std::min(targetMax, 255u);
    const unsigned outMax = targetBPS_ >= 8 ? 255 : targetMax;
    for (unsigned i = 0; i <= inMax; ++i) {
        const double v = std::pow(double(i) / inMax, exponent) * outMax;
        gammaTable_[i] = static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
    }
}

// ---------------------------------------------------------------------------------------------
// Palettes and pixel formats

TPaletteEntries TColorManager::PaletteFromColorMap(std::span<const uint8_t> data,
                                                   TColorMapFormat format, bool blueFirst,
                                                   int colorCount) const {
    if (format > cmf16BitPlanesAlt) return {};
    const size_t count = static_cast<size_t>(std::clamp(colorCount, 0, 65536));
    const bool wide = format >= cmf16BitTriplets;
    const unsigned sampleBytes = wide ? 2 : 1;
    const bool planar = format == cmf8BitPlanes || format == cmf8BitPlanesAlt ||
                        format == cmf16BitPlanes || format == cmf16BitPlanesAlt;
    const unsigned entryValues =
        (format == cmf8BitQuadruplets || format == cmf16BitQuadruplets) ? 4 : 3;
    const bool gamma = targetOptions_.Contains(convApplyGamma);
    const bool swap = sourceOptions_.Contains(convSwapBytes);

    // Bytes beyond the data read as zero.
    auto byteAt = [&](size_t offset) -> uint32_t {
        return offset < data.size() ? data[offset] : 0;
    };
    auto component = [&](size_t offset) -> uint8_t {
        uint32_t v;
        if (wide) {
            uint16_t w = static_cast<uint16_t>(byteAt(offset) | (byteAt(offset + 1) << 8));
            if (swap) w = Swap16(w);
            v = w / 257;
        } else {
            v = byteAt(offset);
        }
        return gamma ? gammaTable_[v] : static_cast<uint8_t>(v);
    };

    // The whole map first: resampling may pick entries beyond the first 256.
    std::vector<TRGBQuad> entries(std::max<size_t>(count, 256));
    for (size_t i = 0; i < count; ++i) {
        uint8_t c[3];
        for (unsigned j = 0; j < 3; ++j) {
            const size_t offset =
                planar ? (j * count + i) * sampleBytes : (i * entryValues + j) * sampleBytes;
            c[j] = component(offset);
        }
        TRGBQuad& e = entries[i];
        if (!planar && blueFirst) {
            e.rgbBlue = c[0];
            e.rgbGreen = c[1];
            e.rgbRed = c[2];
        } else {
            e.rgbRed = c[0];
            e.rgbGreen = c[1];
            e.rgbBlue = c[2];
        }
    }

    size_t entryCount = count;
    const uint32_t ms = (1u << sourceBPS_) - 1;
    const uint32_t mt = (1u << targetBPS_) - 1;
    if (targetBPS_ <= 8 && ms != mt) {
        // Index i of the target stands for source index MulDiv(i, ms, mt); an index beyond the
        // map gives black.
        const std::vector<TRGBQuad> original = entries;
        for (uint32_t i = 0; i <= mt; ++i) {
            const uint32_t from = MulDiv(i, ms, mt);
            entries[i] = from < original.size() ? original[from] : TRGBQuad{};
        }
        entryCount = mt + 1;
    }
    entryCount = std::min<size_t>(entryCount, 256);
    return TPaletteEntries(entries.begin(), entries.begin() + entryCount);
}

TPaletteEntries TColorManager::GrayRampPalette(bool minimumIsWhite) const {
    const unsigned bits = std::min<unsigned>(unsigned(targetBPS_) * targetSPP_, 8);
    const unsigned n = 1u << bits;
    const unsigned step = 255 / (n - 1);
    const bool gamma = targetOptions_.Contains(convApplyGamma);
    TPaletteEntries palette(n);
    for (unsigned k = 0; k < n; ++k) {
        unsigned g = (minimumIsWhite ? n - 1 - k : k) * step;
        if (gamma) g = gammaTable_[g];
        palette[k].rgbRed = palette[k].rgbGreen = palette[k].rgbBlue = static_cast<uint8_t>(g);
    }
    return palette;
}

uint8_t TColorManager::BitmapSampleBits(uint8_t sourceBits) {
    if (sourceBits <= 1) return 1;
    return sourceBits <= 4 ? 4 : 8;
}

TPixelFormat TColorManager::BitmapPixelFormat(int side) const {
    const unsigned b = side == 0 ? sourceBPS_ : targetBPS_;
    const unsigned p = side == 0 ? sourceSPP_ : targetSPP_;
    switch (p) {
        case 1:
            if (b == 1) return pf1bit;
            if (b >= 2 && b <= 4) return pf4bit;
            if (b >= 8 && b <= 16) return pf8bit;
            return pfCustom;
        case 3:
            return b >= 1 && b <= 5 ? pf15bit : pf24bit;
        case 4:
            return b >= 8 ? pf32bit : pfCustom;
        default:
            return pfCustom;
    }
}
