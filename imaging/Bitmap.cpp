#include "imaging/Bitmap.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "imaging/Exceptions.h"

namespace {
std::atomic<uint64_t> gMaxPixels{uint64_t(1) << 28};
std::atomic<bool> gAutoOrient{true};

#if defined(__SANITIZE_ADDRESS__)
#define VELKARO_PLAIN_PIXEL_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKARO_PLAIN_PIXEL_MEMORY 1
#endif
#endif

#ifndef VELKARO_PLAIN_PIXEL_MEMORY
// Blocks from this size on are mapped directly (the sanitizer build keeps them on the heap, where
// overruns are caught).
constexpr size_t kMappedPixelBytes = size_t(4) << 20;
// Mapped blocks are whole large pages on a large-page boundary: a block that begins or ends
// inside a large page gets small pages there, and every small page costs a fault of its own.
constexpr size_t kLargePage = size_t(2) << 20;
size_t PageRounded(size_t bytes) {
    return (bytes + kLargePage - 1) / kLargePage * kLargePage;
}
#endif
}  // namespace

void* AllocatePixelMemory(size_t bytes) {
#ifndef VELKARO_PLAIN_PIXEL_MEMORY
    if (bytes >= kMappedPixelBytes) {
        // Map one large page more and give back what lies before and after the aligned block.
        const size_t size = PageRounded(bytes);
        void* mapped = mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
        const uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
        if (aligned > start) munmap(mapped, aligned - start);
        const size_t after = start + kLargePage - aligned;
        if (after > 0) munmap(reinterpret_cast<void*>(aligned + size), after);
        void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
        madvise(p, size, MADV_HUGEPAGE);
#endif
        return p;
    }
#endif
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void FreePixelMemory(void* memory, [[maybe_unused]] size_t bytes) {
    if (memory == nullptr) return;
#ifndef VELKARO_PLAIN_PIXEL_MEMORY
    if (bytes >= kMappedPixelBytes) {
        munmap(memory, PageRounded(bytes));
        return;
    }
#endif
    std::free(memory);
}

int PixelFormatBits(TPixelFormat format) {
    switch (format) {
        case pf1bit:
            return 1;
        case pf4bit:
            return 4;
        case pf8bit:
            return 8;
        case pf15bit:
        case pf16bit:
            return 16;
        case pfDevice:
        case pf24bit:
            return 24;
        case pf32bit:
            return 32;
        case pfCustom:
            return 0;
    }
    return 0;
}

const TGraphicClass& TBitmap::ClassInfo() {
    static const TGraphicClass info{"TBitmap", [] { return std::make_unique<TBitmap>(); }, nullptr,
                                    nullptr};
    return info;
}

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

uint64_t TBitmap::MaxPixels() {
    return gMaxPixels.load();
}
void TBitmap::SetMaxPixels(uint64_t pixels) {
    gMaxPixels.store(pixels);
}
bool TBitmap::AutoOrient() {
    return gAutoOrient.load();
}
void TBitmap::SetAutoOrient(bool apply) {
    gAutoOrient.store(apply);
}

void TBitmap::CheckSize(int64_t width, int64_t height) {
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid image size " + std::to_string(width) + " x " +
                              std::to_string(height) + ".");
    if (width > INT32_MAX || height > INT32_MAX ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > MaxPixels())
        throw EInvalidGraphic("Image too large: " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels exceeds the limit of " +
                              std::to_string(MaxPixels()) + " pixels.");
}

int TBitmap::BitsPerPixel() const {
    return format_ == pfCustom ? customBits_ : PixelFormatBits(format_);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_ && format != pfCustom) return;
    format_ = format == pfDevice ? pf24bit : format;
    if (format_ == pfCustom && customBits_ == 0) customBits_ = 32;
    Reallocate();
    Changed();
}

void TBitmap::SetCustomFormat(int bitsPerPixel, uint32_t redMask, uint32_t greenMask,
                              uint32_t blueMask, uint32_t alphaMask) {
    if (bitsPerPixel < 1 || bitsPerPixel > 32)
        throw EInvalidGraphic("Invalid bits per pixel " + std::to_string(bitsPerPixel) + ".");
    customBits_ = bitsPerPixel;
    masks_ = {redMask, greenMask, blueMask, alphaMask};
    format_ = pfCustom;
    Reallocate();
    Changed();
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_ && !bits_.empty()) return;
    CheckSize(width, height);
    width_ = width;
    height_ = height;
    Reallocate();
    Changed();
}

int64_t TBitmap::RowStrideFor(int width, int bitsPerPixel) {
    return ((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

void TBitmap::Reallocate() {
    const int64_t stride = RowStrideFor(width_, BitsPerPixel());
    const int64_t total = stride * height_;
    stride_ = static_cast<int>(stride);
    // A fresh block: zero-filled by the allocator, the old one released.
    decltype(bits_) fresh;
    fresh.resize(static_cast<size_t>(total));
    bits_.swap(fresh);
}

uint8_t* TBitmap::ScanLine(int y) {
    return bits_.data() + static_cast<size_t>(y) * static_cast<size_t>(stride_);
}

const uint8_t* TBitmap::ScanLine(int y) const {
    return bits_.data() + static_cast<size_t>(y) * static_cast<size_t>(stride_);
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
    if (palette.size() > 256) palette.resize(256);
    palette_ = std::move(palette);
    Changed();
}

void TBitmap::SetTransparentColor(TColor color) {
    if (color == transparentColor_) return;
    transparentColor_ = color;
    Changed();
}

void TBitmap::Clear() {
    width_ = height_ = stride_ = 0;
    bits_.clear();
    bits_.shrink_to_fit();
    palette_.clear();
    Changed();
}

void TBitmap::Assign(const TGraphic& source) {
    if (&source == this) return;
    const auto* bmp = dynamic_cast<const TBitmap*>(&source);
    if (bmp == nullptr) {
        if (source.AssignTo(*this)) return;
        TGraphic::Assign(source);
        return;
    }
    width_ = bmp->width_;
    height_ = bmp->height_;
    stride_ = bmp->stride_;
    customBits_ = bmp->customBits_;
    format_ = bmp->format_;
    masks_ = bmp->masks_;
    bits_ = bmp->bits_;
    palette_ = bmp->palette_;
    transparentColor_ = bmp->transparentColor_;
    transparent_ = bmp->transparent_;
    iccProfile_ = bmp->iccProfile_;
    profileApplied_ = bmp->profileApplied_;
    Changed();
}

namespace {
// Where the pixel shown at (x, y) of the turned picture is stored, for a stored picture of
// width w and height h.
struct TOrientMap {
    int orientation, w, h;
    void Source(int x, int y, int& sx, int& sy) const {
        switch (orientation) {
            case 2:
                sx = w - 1 - x, sy = y;
                break;
            case 3:
                sx = w - 1 - x, sy = h - 1 - y;
                break;
            case 4:
                sx = x, sy = h - 1 - y;
                break;
            case 5:
                sx = y, sy = x;
                break;
            case 6:
                sx = y, sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y, sy = h - 1 - x;
                break;
            case 8:
                sx = w - 1 - y, sy = x;
                break;
            default:
                sx = x, sy = y;
                break;
        }
    }
};

template <size_t N>
void OrientBytes(const TOrientMap& map, const uint8_t* src, size_t srcStride, uint8_t* dst,
                 size_t dstStride, int width, int height) {
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
        int sx0, sy0, sx1, sy1;
        map.Source(0, y, sx0, sy0);
        if (width > 1) {
            map.Source(1, y, sx1, sy1);
        } else {
            sx1 = sx0, sy1 = sy0;
        }
        // Along a target row the source moves by a fixed step.
        const ptrdiff_t step =
            static_cast<ptrdiff_t>(sy1 - sy0) * static_cast<ptrdiff_t>(srcStride) +
            static_cast<ptrdiff_t>(sx1 - sx0) * static_cast<ptrdiff_t>(N);
        const uint8_t* in =
            src + static_cast<size_t>(sy0) * srcStride + static_cast<size_t>(sx0) * N;
        for (int x = 0; x < width; ++x, out += N, in += step)
            std::memcpy(out, in, N);
    }
}

// Pixels narrower than a byte (or of an odd width), most significant bit first.
uint32_t GetBits(const uint8_t* row, uint64_t bit, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++bit)
        value = (value << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1u);
    return value;
}
void PutBits(uint8_t* row, uint64_t bit, int count, uint32_t value) {
    for (int i = count - 1; i >= 0; --i, ++bit) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit & 7));
        if ((value >> i) & 1u)
            row[bit >> 3] |= mask;
        else
            row[bit >> 3] &= static_cast<uint8_t>(~mask);
    }
}
}  // namespace

void TBitmap::Orient(int orientation) {
    if (orientation < 2 || orientation > 8 || Empty()) return;
    const bool swap = orientation >= 5;
    const int newWidth = swap ? height_ : width_;
    const int newHeight = swap ? width_ : height_;
    const int bpp = BitsPerPixel();
    const int64_t newStride = RowStrideFor(newWidth, bpp);
    decltype(bits_) turned;
    turned.resize(static_cast<size_t>(newStride) * static_cast<size_t>(newHeight));
    const TOrientMap map{orientation, width_, height_};
    const size_t srcStride = static_cast<size_t>(stride_);
    const size_t dstStride = static_cast<size_t>(newStride);
    // Pixels of one to four whole bytes move as bytes, smaller ones bit by bit.
    using TOrientRoutine = decltype(&OrientBytes<1>);
    static constexpr TOrientRoutine kByteRoutines[] = {OrientBytes<1>, OrientBytes<2>,
                                                       OrientBytes<3>, OrientBytes<4>};
    if (bpp % 8 == 0 && bpp >= 8 && bpp <= 32) {
        kByteRoutines[bpp / 8 - 1](map, bits_.data(), srcStride, turned.data(), dstStride, newWidth,
                                   newHeight);
    } else {
        for (int y = 0; y < newHeight; ++y) {
            uint8_t* out = turned.data() + static_cast<size_t>(y) * dstStride;
            for (int x = 0; x < newWidth; ++x) {
                int sx, sy;
                map.Source(x, y, sx, sy);
                const uint8_t* in = bits_.data() + static_cast<size_t>(sy) * srcStride;
                PutBits(out, static_cast<uint64_t>(x) * bpp, bpp,
                        GetBits(in, static_cast<uint64_t>(sx) * bpp, bpp));
            }
        }
    }
    bits_.swap(turned);
    width_ = newWidth;
    height_ = newHeight;
    stride_ = static_cast<int>(newStride);
    Changed();
}
