#include "imaging/ImagingRoutines.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "imaging/Exceptions.h"

namespace {

std::string VFormat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return length == 0 ? std::string() : std::string(format);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

inline uint8_t Mean(uint8_t a, uint8_t b) {
    return uint8_t((unsigned(a) + b + 1) / 2);
}

}  // namespace

void RaiseInvalidGraphic(const std::string& message) {
    throw EInvalidGraphic(message);
}

void RaiseInvalidGraphicFmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    throw EInvalidGraphic(text);
}

std::string FormatMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}

void SwapWords(void* values, size_t count) {
    auto* p = static_cast<uint8_t*>(values);
    for (size_t i = 0; i < count; ++i, p += 2)
        std::swap(p[0], p[1]);
}

void SwapDWords(void* values, size_t count) {
    auto* p = static_cast<uint8_t*>(values);
    for (size_t i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

// Each sample adds the one a pixel before it. The running sums stay in registers: a loop that
// reads back the byte it has just stored waits for the store on every byte.
void UndoDifferencing1(uint8_t* row, size_t count) {
    uint8_t sum = row[0];
    for (size_t i = 1; i <= count; ++i)
        row[i] = sum = uint8_t(sum + row[i]);
}

void UndoDifferencing3(uint8_t* row, size_t count) {
    uint8_t a = row[0], b = row[1], c = row[2];
    uint8_t* p = row + 3;
    for (size_t i = 0; i < count; ++i, p += 3) {
        a = uint8_t(a + p[0]);
        b = uint8_t(b + p[1]);
        c = uint8_t(c + p[2]);
        p[0] = a;
        p[1] = b;
        p[2] = c;
    }
}

// Four samples at once, added byte by byte inside one 32-bit word (no carry between bytes).
void UndoDifferencing4(uint8_t* row, size_t count) {
    uint32_t sum;
    std::memcpy(&sum, row, 4);
    uint8_t* p = row + 4;
    for (size_t i = 0; i < count; ++i, p += 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        sum = ((sum & 0x7F7F7F7Fu) + (v & 0x7F7F7F7Fu)) ^ ((sum ^ v) & 0x80808080u);
        std::memcpy(p, &sum, 4);
    }
}

namespace {
// The divisor is a constant here, so the compiler multiplies instead of dividing.
template <int Bits>
void ReduceTo8(const uint16_t* source, uint8_t* target, size_t count) {
    constexpr uint32_t max = (1u << Bits) - 1;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = std::min<uint32_t>(source[i], max);
        target[i] = uint8_t((v * 255 + max / 2) / max);
    }
}
}  // namespace

void ReduceSamplesTo8(const uint16_t* source, uint8_t* target, size_t count, int bits) {
    switch (bits) {
        case 9:
            return ReduceTo8<9>(source, target, count);
        case 10:
            return ReduceTo8<10>(source, target, count);
        case 12:
            return ReduceTo8<12>(source, target, count);
        case 16:
            return ReduceTo8<16>(source, target, count);
        default:
            break;
    }
    const uint32_t max = (1u << std::clamp(bits, 1, 16)) - 1;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = std::min<uint32_t>(source[i], max);
        target[i] = uint8_t((v * 255 + max / 2) / max);
    }
}

void DoublePlane(int width, int height, int stride, uint8_t* buffer, size_t bufferSize) {
    if (width <= 0 || height <= 0) return;
    const size_t w = size_t(width), h = size_t(height), s = size_t(stride);
    if (stride < 0 || s < 2 * w || buffer == nullptr || bufferSize / s < 2 * h)
        throw std::invalid_argument("DoublePlane: the enlarged plane does not fit the buffer");

    // 1. Spread every source row over twice its width into row 2r, bottom row first so that no
    // row is overwritten before it is read. Right to left within a row, because row 0 is
    // written over itself.
    for (size_t r = h; r-- > 0;) {
        const uint8_t* in = buffer + r * s;
        uint8_t* out = buffer + 2 * r * s;
        uint8_t last = in[w - 1];
        out[2 * w - 1] = last;
        out[2 * w - 2] = last;
        for (size_t i = w - 1; i-- > 0;) {
            const uint8_t a = in[i], b = in[i + 1];
            out[2 * i + 1] = Mean(a, b);
            out[2 * i] = a;
        }
    }
    // 2. Fill each odd row from the even rows above and below it.
    for (size_t r = 0; r + 1 < h; ++r) {
        const uint8_t* above = buffer + 2 * r * s;
        const uint8_t* below = above + 2 * s;
        uint8_t* out = buffer + (2 * r + 1) * s;
        for (size_t i = 0; i < w; ++i)
            out[2 * i] = Mean(above[2 * i], below[2 * i]);
        for (size_t i = 0; i + 1 < w; ++i)
            out[2 * i + 1] = uint8_t(
                (unsigned(above[2 * i]) + above[2 * i + 2] + below[2 * i] + below[2 * i + 2] + 2) /
                4);
        out[2 * w - 1] = Mean(above[2 * w - 1], below[2 * w - 1]);
    }
    // 3. The last row repeats the one above it.
    const uint8_t* src = buffer + (2 * h - 2) * s;
    uint8_t* last = buffer + (2 * h - 1) * s;
    for (size_t i = 0; i < 2 * w; ++i)
        last[i] = src[i];
}

void ReleaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
