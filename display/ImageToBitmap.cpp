#include "display/ImageToBitmap.h"

#include <cstring>

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
