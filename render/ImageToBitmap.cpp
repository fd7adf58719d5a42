#include "render/ImageToBitmap.h"

#include <cstring>

#include "imaging/ScanLineConversion.h"

void ImageToBitmap(const QImage& image, TBitmap& target) {
    if (image.isNull()) return;
    TBitmap::CheckSize(image.width(), image.height());
    // QRgb words are blue, green, red, alpha in memory, as the bitmap's 32-bit rows.
    const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    target.SetPixelFormat(pf32bit);
    target.SetSize(straight.width(), straight.height());
    for (int y = 0; y < straight.height(); ++y)
        std::memcpy(target.ScanLine(y), straight.constScanLine(y), size_t(straight.width()) * 4);
}

void PaintIntoBitmap(TBitmap& target, QSize size, const std::function<void(QImage&)>& draw) {
    TBitmap::CheckSize(size.width(), size.height());
    target.SetPixelFormat(pf32bit);
    target.SetSize(size.width(), size.height());
    if (target.Empty()) return;
    // A fresh bitmap is zero-filled: transparent in premultiplied form as well.
    {
        QImage image(target.Bits(), target.Width(), target.Height(), target.RowStride(),
                     QImage::Format_ARGB32_Premultiplied);
        draw(image);
    }
    for (int y = 0; y < target.Height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(target.ScanLine(y));
        for (int x = 0; x < target.Width(); ++x)
            if (qAlpha(row[x]) != 255) row[x] = qUnpremultiply(row[x]);
    }
}

QImage BitmapToQImage(const TBitmap& bitmap) {
    QImage image(bitmap.Width(), bitmap.Height(),
                 BitmapHasAlpha(bitmap) ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < bitmap.Height() && !image.isNull(); ++y)
        ConvertScanLineToBGRA(bitmap, y, image.scanLine(y));
    return image;
}
