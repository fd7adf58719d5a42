#include "render/BitmapToImage.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <vector>

#include "imaging/ScanLineConversion.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/SVGGraphic.h"

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

// A 32-bit image of the bitmap's size, with an alpha channel when alpha says so; null when it
// cannot be allocated.
QImage New32BitImage(const TBitmap& bitmap, bool alpha) {
    return QImage(bitmap.Width(), bitmap.Height(),
                  alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

// 15/16-bit and bit-field pixels through the imaging library's conversion (the one velkaro-decode
// uses), so both show the same colours: 32 bits, with alpha where the bitmap's alpha is in use.
QImage ConvertWide(const TBitmap& bitmap) {
    const bool alpha = BitmapAlphaInUse(bitmap);
    QImage image = New32BitImage(bitmap, alpha);
    if (image.isNull()) return image;
    const TComposition composition{-1, alpha};
    // QRgb words are blue, green, red, alpha in memory on little-endian machines.
    static_assert(std::endian::native == std::endian::little);
    for (int y = 0; y < image.height(); ++y)
        ComposeScanLine(bitmap, y, composition, image.scanLine(y));
    return image;
}

QImage Convert32Bit(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const bool alpha = BitmapAlphaInUse(bitmap);
    QImage image = New32BitImage(bitmap, alpha);
    if (image.isNull()) return image;
    for (int y = 0; y < h; ++y) {
        std::memcpy(image.scanLine(y), bitmap.ScanLine(y), static_cast<size_t>(w) * 4);
        if (!alpha) ApplyComposition(image.scanLine(y), static_cast<size_t>(w), {});
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
        case pf16bit:
            return ConvertWide(bitmap);
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
            return ConvertWide(bitmap);
    }
    return {};
}

// Gives pixels of the key colour alpha 0, by the imaging library's rule: in the colour table of
// indexed images, else in the pixels themselves (after widening the image to 32 bits with alpha).
void ApplyKey(QImage& image, int32_t key) {
    const TComposition composition{key, true};
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono) {
        QList<QRgb> table = image.colorTable();
        ApplyComposition(reinterpret_cast<uint8_t*>(table.data()), size_t(table.size()),
                         composition);
        image.setColorTable(table);
        return;
    }
    if (image.format() != QImage::Format_ARGB32) image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        ApplyComposition(image.scanLine(y), size_t(image.width()), composition);
}

// System colours are the desktop's; the window's toolkit says what they are. Without one (the
// command-line tools, the thumbnailer) a bitmap keyed by a system colour keys nothing.
std::atomic<TSystemColorResolver> systemColorResolver{nullptr};

}  // namespace

void SetSystemColorResolver(TSystemColorResolver resolver) {
    systemColorResolver = resolver;
}

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
    if (const auto* svg = dynamic_cast<const TSVGGraphic*>(&graphic))
        return svg->Bitmap().Empty() ? nullptr : &svg->Bitmap();
    for (const TBitmapLookup& lookup : Lookups())
        if (const TBitmap* bitmap = lookup(graphic)) return bitmap;
    return nullptr;
}

int32_t KeyColor(const TBitmap& bitmap) {
    return BitmapComposition(bitmap, true, systemColorResolver.load()).Key;
}

namespace {

QImage MakeImage(const TBitmap& bitmap, bool keyTransparent, bool share) {
    if (bitmap.Empty()) return {};
    QImage image = Convert(bitmap, share);
    if (image.isNull() || !keyTransparent) return image;
    const int32_t key = KeyColor(bitmap);
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
    return BitmapHasAlpha(bitmap);
}

QImage GraphicToImage(const TGraphic& graphic) {
    const TBitmap* bitmap = GraphicBitmap(graphic);
    if (bitmap == nullptr) return {};
    return BitmapToImage(*bitmap, graphic.Transparent());
}
