#pragma once
#include <QImage>
#include <QSize>

// The image reduced to size without aliasing: resampled with a three-lobe Lanczos filter
// stretched over the source pixels each output pixel covers (one pass along the rows, one along
// the columns), so fine patterns neither turn into ghost patterns nor blur more than they must.
// The result is 32-bit (premultiplied when the image has alpha).
QImage ReducedImage(const QImage& image, QSize size);
