#pragma once
// TBitmap: a device-independent bitmap. Rows are 4-byte aligned, ScanLine(0) is the top row,
// pixels are stored as in a Windows DIB (blue, green, red byte order; 15 bit = 5-5-5,
// 16 bit = 5-6-5; 32 bit = blue, green, red, alpha).
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "imaging/Graphic.h"

enum TPixelFormat : uint8_t {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};

// Pixel memory comes zero-filled from the system (no second pass over a fresh bitmap); large
// blocks are mapped directly and offered huge pages, which keeps page faults of big pictures
// down.
void* AllocatePixelMemory(size_t bytes);
void FreePixelMemory(void* memory, size_t bytes);

template <class T>
struct TPixelAllocator {
    using value_type = T;
    TPixelAllocator() = default;
    template <class U>
    TPixelAllocator(const TPixelAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(AllocatePixelMemory(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { FreePixelMemory(p, n * sizeof(T)); }
    // Default-initialising construction leaves the zeros of the fresh memory in place.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
    template <class U>
    bool operator==(const TPixelAllocator<U>&) const {
        return true;
    }
};

struct TRGBQuad {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

// Bits per pixel of a pixel format (pfDevice counts as 24, pfCustom as 0: see CustomBits).
int PixelFormatBits(TPixelFormat format);

class TBitmap : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    TBitmap();
    ~TBitmap() override;

    // The largest number of pixels a bitmap may hold; larger sizes are refused before any
    // allocation with EInvalidGraphic. Defaults to 2^28.
    static uint64_t MaxPixels();
    static void SetMaxPixels(uint64_t pixels);
    // Throws EInvalidGraphic when width x height is negative or exceeds MaxPixels().
    static void CheckSize(int64_t width, int64_t height);

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    bool Empty() const override { return width_ == 0 || height_ == 0; }

    TPixelFormat PixelFormat() const { return format_; }
    // Changing the format reallocates the rows (cleared to zero) when the size is not empty.
    void SetPixelFormat(TPixelFormat format);
    // pfCustom: bits per pixel (1..32) and channel masks of a bit-field layout.
    void SetCustomFormat(int bitsPerPixel, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                         uint32_t alphaMask = 0);
    int BitsPerPixel() const;
    uint32_t RedMask() const { return masks_[0]; }
    uint32_t GreenMask() const { return masks_[1]; }
    uint32_t BlueMask() const { return masks_[2]; }
    uint32_t AlphaMask() const { return masks_[3]; }

    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Reallocates the rows (cleared to zero); checks the size first.
    void SetSize(int width, int height);

    // Bytes of one row, 4-byte aligned.
    int RowStride() const { return stride_; }
    static int64_t RowStrideFor(int width, int bitsPerPixel);
    // Row y counted from the top; y must be inside [0, Height()).
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }

    // Palette of the indexed formats (up to 256 entries).
    const std::vector<TRGBQuad>& Palette() const { return palette_; }
    void SetPalette(std::vector<TRGBQuad> palette);

    TColor TransparentColor() const { return transparentColor_; }
    void SetTransparentColor(TColor color);

    // Reads a Windows bitmap (BMP/DIB/RLE) from the stream.
    void LoadFromStream(TStream& stream) override;
    // Writes a Windows bitmap file.
    void SaveToStream(TStream& stream) override;
    void Assign(const TGraphic& source) override;

    // Drops the pixels and the palette; keeps the pixel format.
    void Clear();

    // Turns and mirrors the rows from a stored orientation (the TIFF and EXIF Orientation
    // value: 1 as stored, 2 mirrored, 3 turned half, 4 flipped, 5 transposed, 6 stored a
    // quarter turn anticlockwise, 7 transversed, 8 stored a quarter turn clockwise) into the
    // way the picture is meant to be seen. Values outside 2-8 leave the bitmap as it is.
    void Orient(int orientation);
    // Whether loaders apply a stored orientation (true by default; velkaro-decode --no-orient
    // turns it off to keep the stored layout).
    static bool AutoOrient();
    static void SetAutoOrient(bool apply);

  private:
    void Reallocate();

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    int customBits_ = 0;
    TPixelFormat format_ = pf24bit;
    std::array<uint32_t, 4> masks_{};
    std::vector<uint8_t, TPixelAllocator<uint8_t>> bits_;
    std::vector<TRGBQuad> palette_;
    TColor transparentColor_ = clDefault;
};
