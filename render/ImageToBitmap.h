#pragma once
// The way back from Qt's painting to the imaging library: pictures that the window side draws
// (metafiles, SVG) become 32-bit TBitmaps with straight alpha; and the way there for bitmaps that
// such a picture holds. Needs Qt's painting only, so the command-line tools and the fuzzers use
// it as well.
#include <QImage>
#include <QSize>
#include <functional>

#include "imaging/Bitmap.h"

// Copies the image into target as a 32-bit bitmap (blue, green, red, straight alpha); a null
// image leaves target as it is. Raises EInvalidGraphic when the size is beyond the bitmap's
// pixel limit.
void ImageToBitmap(const QImage& image, TBitmap& target);

// Sizes target as a 32-bit bitmap and has draw paint on a transparent image that uses the
// bitmap's own rows (nothing is copied: a large picture needs its memory once), whose
// premultiplied pixels are then made straight alpha in place. Raises EInvalidGraphic when the
// size is beyond the bitmap's pixel limit.
void PaintIntoBitmap(TBitmap& target, QSize size, const std::function<void(QImage&)>& draw);

// The bitmap's pixels as a 32-bit image: with straight alpha when the bitmap's alpha is in use,
// else opaque. A null image when the bitmap is empty or the image cannot be allocated.
QImage BitmapToQImage(const TBitmap& bitmap);
