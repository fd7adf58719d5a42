#pragma once
// TVectorPicture: a picture drawn from vectors (a Windows metafile, an SVG document) drawn
// again at the scale it is shown at, so it stays sharp at any zoom; the bitmap its class makes
// at load time is only its natural-size (96 dpi) picture. The picture view draws only the part
// of the pane it shows through it, and velkaro-render a whole picture at any resolution.
#include <QImage>
#include <QRect>
#include <QSizeF>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"

class TVectorPicture {
  public:
    // Largest area drawn at once, in pixels: far more than any pane, far less than memory.
    static constexpr int64_t kMaxArea = int64_t(1) << 26;

    // Whether the graphic is drawn from vectors.
    static bool IsVector(const TGraphic& graphic);
    // The drawing of the graphic, which must outlive it; null when the graphic is not drawn
    // from vectors or is empty. Raises EInvalidGraphic when its document cannot be read.
    static std::unique_ptr<TVectorPicture> For(const TGraphic& graphic);

    virtual ~TVectorPicture() = default;
    // The part area (pixels, within the picture stretched to scaled) as a transparent image of
    // area's size. Raises EInvalidGraphic when area holds more than kMaxArea pixels or the
    // bitmap's pixel limit.
    QImage Render(QSizeF scaled, const QRect& area);

  protected:
    // Render for a non-empty area of an allowed size.
    virtual QImage Draw(QSizeF scaled, const QRect& area) = 0;
};

// Draws the whole vector graphic at scale times its natural size into target as a 32-bit
// bitmap (straight alpha). Returns false, leaving target alone, for other graphics.
bool RenderVectorBitmap(const TGraphic& graphic, double scale, TBitmap& target);
