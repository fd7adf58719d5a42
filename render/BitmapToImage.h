#pragma once
// Turning the imaging library's graphics into QImages for painting.
//
// BitmapToImage copies a TBitmap of any pixel format into a QImage once; the picture view keeps
// the result and paints only the exposed part of it. Formats that Qt paints directly keep their
// layout (8-bit indexed, 1-bit, 24-bit blue-green-red rows are copied as they are); the others
// are expanded: 4-bit to 8-bit indexed, 15/16-bit and bit-field (pfCustom) pixels to 32-bit by
// the imaging library's ConvertScanLineToBGRA.
//
// Graphics that are not TBitmaps reach their pixels through GraphicBitmap: a TJPEGImage gives its
// decoded bitmap, a TMetafile or a TSVGGraphic the picture its renderer drew, and other classes
// can register a lookup (RegisterBitmapLookup) that returns the TBitmap behind them.
#include <QImage>
#include <functional>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"
#include "imaging/ScanLineConversion.h"

// Sets how a system colour (a TColor with a high byte) turns into the direct colour it shows as
// on this desktop, so that a bitmap keyed by a system colour keys that; the window's toolkit sets
// it once. Without it such a bitmap keys nothing.
void SetSystemColorResolver(TSystemColorResolver resolver);

// Returns the bitmap that holds a graphic's pixels, or null when the graphic is not of the
// lookup's kind. The bitmap must live as long as the graphic.
using TBitmapLookup = std::function<const TBitmap*(const TGraphic& graphic)>;

// Adds a lookup tried (in registration order) for graphics that are neither TBitmaps nor
// TJPEGImages.
void RegisterBitmapLookup(TBitmapLookup lookup);
// Removes every registered lookup (for tests).
void ClearBitmapLookups();

// The bitmap holding the graphic's pixels: the graphic itself when it is a TBitmap, the decoded
// picture of a TJPEGImage (decoding it now if needed; a decoding error is thrown), else the
// first registered lookup's answer; null when nobody knows the graphic.
const TBitmap* GraphicBitmap(const TGraphic& graphic);

// The colour that is keyed out of a transparent bitmap: its TransparentColor as 0x00BBGGRR,
// with clDefault meaning the colour of the bottom-left pixel (automatic transparency). -1 when
// nothing is keyed (clNone, or clDefault on an empty bitmap or one whose alpha is in use). The
// rule is the imaging library's BitmapComposition, which velkaro-decode follows too.
int32_t KeyColor(const TBitmap& bitmap);

// Copies the bitmap into a QImage. When keyTransparent is true, pixels of KeyColor(bitmap) get
// alpha 0. Alpha of 32-bit and bit-field bitmaps is straight (not premultiplied) alpha; a 32-bit
// bitmap whose alpha bytes are all 0 has no alpha and is shown opaque. Missing palette entries
// paint black; an indexed bitmap without a palette is shown as grey levels. An empty bitmap
// gives a null image.
QImage BitmapToImage(const TBitmap& bitmap, bool keyTransparent);

// As BitmapToImage, but 1-, 8- and 24-bit bitmaps are not copied: the image reads the bitmap's
// own rows (read-only), so changes to the pixels show at once. Such an image is only valid while
// the bitmap keeps that buffer: check SharesBitmap before painting it, and drop it when the
// bitmap is resized, reformatted or destroyed. Other formats, and 24-bit bitmaps keyed by a
// transparent colour, are copied as by BitmapToImage.
QImage BitmapToSharedImage(const TBitmap& bitmap, bool keyTransparent);
// Whether the image reads the bitmap's current buffer with the bitmap's current layout.
bool SharesBitmap(const QImage& image, const TBitmap& bitmap);

// Whether a bitmap may paint partly see-through on its own (alpha in its pixels), without any
// transparent colour.
bool BitmapMayHaveAlpha(const TBitmap& bitmap);

// The image of any graphic whose pixels GraphicBitmap finds, keyed when the graphic is
// transparent. A null image when there are none. Passes on decoding errors of the graphic.
QImage GraphicToImage(const TGraphic& graphic);
