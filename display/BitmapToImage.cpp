#include "display/BitmapToImage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/Metafile.h"
#include "toolkit/Colors.h"

namespace {

std::vector<TBitmapLookup>& Lookups() {
    static std::vector<TBitmapLookup> lookups;
    return lookups;
}

// The colour table of an indexed bitmap with `count` entries. Entries the palette lacks paint
// black, so every index a pixel can hold has a colour (Qt does not check indices when painting);
// without any palette the entries are grey levels.
QList<QRgb> ColorTable(const TBitmap& bitmap, int count) {
    QList<QRgb> table(count, qRgb(0, 0, 0));
    const std::vector<TRGBQuad>& palette = bitmap.Palette();
    if (palette.empty()) {
        for (int i = 0; i < count; ++i) {
            const int level = count > 1 ? i * 255 / (count - 1) : 0;
            table[i] = qRgb(level, level, level);
        }
        return table;
    }
    const int n = std::min<int>(count, static_cast<int>(palette.size()));
    for (int i = 0; i < n; ++i)
        table[i] = qRgb(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
    return table;
}

// Copies the rows as they are (the QImage has the same bits per pixel and 4-byte row alignment).
void CopyRows(const TBitmap& bitmap, QImage& image) {
    const size_t bytes =
        std::min<size_t>(static_cast<size_t>(bitmap.RowStride()), image.bytesPerLine());
    if (static_cast<qsizetype>(bitmap.RowStride()) == image.bytesPerLine()) {
        std::memcpy(image.bits(), bitmap.Bits(), bytes * static_cast<size_t>(bitmap.Height()));
        return;
    }
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(image.scanLine(y), bitmap.ScanLine(y), bytes);
}

// Eight bits from a channel value of `max` levels, rounded.
inline int Scale(uint32_t value, uint32_t max) {
    if (max == 0) return 0;
    if (max == 255) return static_cast<int>(value);
    return static_cast<int>((static_cast<uint64_t>(value) * 255 + max / 2) / max);
}

// 5-bit and 6-bit channels widened by repeating their top bits, so full scale stays full.
inline int Expand5(uint32_t v) {
    return static_cast<int>((v << 3) | (v >> 2));
}
inline int Expand6(uint32_t v) {
    return static_cast<int>((v << 2) | (v >> 4));
}

QImage Convert4Bit(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    QImage image(w, h, QImage::Format_Indexed8);
    if (image.isNull()) return image;
    image.setColorTable(ColorTable(bitmap, 16));
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        uchar* dst = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const uint8_t byte = src[x >> 1];
            dst[x] = (x & 1) ? (byte & 0x0F) : (byte >> 4);
        }
    }
    return image;
}

QImage Convert16Bit(const TBitmap& bitmap, bool sixBitGreen) {
    const int w = bitmap.Width(), h = bitmap.Height();
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint32_t p = src[2 * x] | (uint32_t(src[2 * x + 1]) << 8);
            if (sixBitGreen)
                dst[x] = qRgb(Expand5((p >> 11) & 31), Expand6((p >> 5) & 63), Expand5(p & 31));
            else
                dst[x] = qRgb(Expand5((p >> 10) & 31), Expand5((p >> 5) & 31), Expand5(p & 31));
        }
    }
    return image;
}

QImage Convert32Bit(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    bool anyAlpha = false;
    for (int y = 0; y < h && !anyAlpha; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x)
            if (src[4 * x + 3] != 0) {
                anyAlpha = true;
                break;
            }
    }
    QImage image(w, h, anyAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = src + 4 * x;
            dst[x] = qRgba(p[2], p[1], p[0], anyAlpha ? p[3] : 255);
        }
    }
    return image;
}

struct TChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit TChannel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    int Get(uint32_t pixel) const { return Scale((pixel & mask) >> shift, max); }
};

// Bit-field pixels: whole bytes are read little-endian (as the DIB's 16- and 32-bit fields are
// stored), smaller or odd sizes as a bit stream with the first pixel in the high bits.
QImage ConvertCustom(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const int bpp = bitmap.BitsPerPixel();
    uint32_t r = bitmap.RedMask(), g = bitmap.GreenMask(), b = bitmap.BlueMask();
    if (r == 0 && g == 0 && b == 0) {
        // No masks given: the usual layouts of the sizes that have one.
        if (bpp == 16) {
            r = 0x7C00, g = 0x03E0, b = 0x001F;
        } else if (bpp == 24 || bpp == 32) {
            r = 0xFF0000, g = 0x00FF00, b = 0x0000FF;
        }
    }
    const TChannel red(r), green(g), blue(b), alpha(bitmap.AlphaMask());
    const bool hasAlpha = alpha.mask != 0;
    QImage image(w, h, hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull() || bpp < 1 || bpp > 32) return image;
    const int bytesPerPixel = bpp / 8;
    const uint32_t valueMask = bpp == 32 ? 0xFFFFFFFFu : ((1u << bpp) - 1);
    bool anyAlpha = false;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            uint32_t p = 0;
            if (bpp % 8 == 0) {
                const uint8_t* q = src + static_cast<size_t>(x) * bytesPerPixel;
                for (int i = bytesPerPixel - 1; i >= 0; --i)
                    p = (p << 8) | q[i];
            } else {
                const uint64_t bit = static_cast<uint64_t>(x) * bpp;
                const size_t first = bit / 8;
                const int lastBit = static_cast<int>(bit % 8) + bpp;  // bits up to the pixel's end
                const int bytes = (lastBit + 7) / 8;
                uint64_t window = 0;
                for (int i = 0; i < bytes; ++i)
                    window = (window << 8) | src[first + i];
                p = static_cast<uint32_t>(window >> (bytes * 8 - lastBit)) & valueMask;
            }
            const int a = hasAlpha ? alpha.Get(p) : 255;
            anyAlpha = anyAlpha || a != 0;
            dst[x] = qRgba(red.Get(p), green.Get(p), blue.Get(p), a);
        }
    }
    if (hasAlpha && !anyAlpha) {
        // An alpha field that is zero everywhere carries no alpha: show the pixels opaque.
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                row[x] |= 0xFF000000u;
        }
        image.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return image;
}

// A QImage over the bitmap's own rows (read-only; the rows are not copied).
QImage Share(const TBitmap& bitmap, QImage::Format format) {
    return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowStride(), format);
}

// share: 1-, 8- and 24-bit rows are shown where they are instead of being copied.
QImage Convert(const TBitmap& bitmap, bool share) {
    const int w = bitmap.Width(), h = bitmap.Height();
    switch (bitmap.PixelFormat()) {
        case pf1bit: {
            QImage image =
                share ? Share(bitmap, QImage::Format_Mono) : QImage(w, h, QImage::Format_Mono);
            if (image.isNull()) return image;
            image.setColorTable(ColorTable(bitmap, 2));
            if (!share) CopyRows(bitmap, image);
            return image;
        }
        case pf4bit:
            return Convert4Bit(bitmap);
        case pf8bit: {
            QImage image = share ? Share(bitmap, QImage::Format_Indexed8)
                                 : QImage(w, h, QImage::Format_Indexed8);
            if (image.isNull()) return image;
            image.setColorTable(ColorTable(bitmap, 256));
            if (!share) CopyRows(bitmap, image);
            return image;
        }
        case pf15bit:
            return Convert16Bit(bitmap, false);
        case pf16bit:
            return Convert16Bit(bitmap, true);
        case pfDevice:
        case pf24bit: {
            if (share) return Share(bitmap, QImage::Format_BGR888);
            QImage image(w, h, QImage::Format_BGR888);
            if (image.isNull()) return image;
            CopyRows(bitmap, image);
            return image;
        }
        case pf32bit:
            return Convert32Bit(bitmap);
        case pfCustom:
            return ConvertCustom(bitmap);
    }
    return {};
}

// Gives pixels of the key colour alpha 0: in the colour table of indexed images, else in the
// pixels themselves (after widening the image to 32 bits with alpha).
void ApplyKey(QImage& image, int32_t key) {
    const QRgb keyRgb = qRgb(key & 0xFF, (key >> 8) & 0xFF, (key >> 16) & 0xFF) & 0x00FFFFFFu;
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono) {
        QList<QRgb> table = image.colorTable();
        for (QRgb& entry : table)
            if ((entry & 0x00FFFFFFu) == keyRgb) entry &= 0x00FFFFFFu;
        image.setColorTable(table);
        return;
    }
    if (image.format() != QImage::Format_ARGB32) image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((row[x] & 0x00FFFFFFu) == keyRgb) row[x] &= 0x00FFFFFFu;
    }
}

}  // namespace

void RegisterBitmapLookup(TBitmapLookup lookup) {
    if (lookup) Lookups().push_back(std::move(lookup));
}

void ClearBitmapLookups() {
    Lookups().clear();
}

const TBitmap* GraphicBitmap(const TGraphic& graphic) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) return bitmap;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic)) return &jpeg->Bitmap();
    if (const auto* metafile = dynamic_cast<const TMetafile*>(&graphic))
        return metafile->Bitmap().Empty() ? nullptr : &metafile->Bitmap();
    for (const TBitmapLookup& lookup : Lookups())
        if (const TBitmap* bitmap = lookup(graphic)) return bitmap;
    return nullptr;
}

int32_t KeyColor(const TBitmap& bitmap) {
    const TColor color = bitmap.TransparentColor();
    if (color == clNone) return -1;
    if (color == clDefault) {
        if (bitmap.Empty()) return -1;
        const QImage image = Convert(bitmap, true);
        if (image.isNull()) return -1;
        const QRgb p = image.pixel(0, image.height() - 1);
        return qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16);
    }
    if (IsSystemColor(color)) return ColorToRGB(color) & 0x00FFFFFF;
    return color & 0x00FFFFFF;
}

namespace {

QImage MakeImage(const TBitmap& bitmap, bool keyTransparent, bool share) {
    if (bitmap.Empty()) return {};
    QImage image = Convert(bitmap, share);
    if (image.isNull() || !keyTransparent) return image;
    int32_t key = -1;
    if (bitmap.TransparentColor() == clDefault) {
        const QRgb p = image.pixel(0, image.height() - 1);
        key = qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16);
    } else {
        key = KeyColor(bitmap);
    }
    if (key >= 0) ApplyKey(image, key);
    return image;
}

}  // namespace

QImage BitmapToImage(const TBitmap& bitmap, bool keyTransparent) {
    return MakeImage(bitmap, keyTransparent, false);
}

QImage BitmapToSharedImage(const TBitmap& bitmap, bool keyTransparent) {
    return MakeImage(bitmap, keyTransparent, true);
}

bool SharesBitmap(const QImage& image, const TBitmap& bitmap) {
    return !image.isNull() && image.constBits() == bitmap.Bits() &&
           image.width() == bitmap.Width() && image.height() == bitmap.Height() &&
           image.bytesPerLine() == bitmap.RowStride() && image.depth() == bitmap.BitsPerPixel();
}

bool BitmapMayHaveAlpha(const TBitmap& bitmap) {
    return bitmap.PixelFormat() == pf32bit ||
           (bitmap.PixelFormat() == pfCustom && bitmap.AlphaMask() != 0);
}

QImage GraphicToImage(const TGraphic& graphic) {
    const TBitmap* bitmap = GraphicBitmap(graphic);
    if (bitmap == nullptr) return {};
    return BitmapToImage(*bitmap, graphic.Transparent());
}
