#include "render/VectorPicture.h"

#include <algorithm>
#include <cmath>

#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/SVGGraphic.h"
#include "render/ImageToBitmap.h"
#include "render/MetafilePlayer.h"
#include "render/SvgRenderer.h"

namespace {

void CheckArea(const QRect& area) {
    if (int64_t(area.width()) * area.height() > TVectorPicture::kMaxArea)
        RaiseInvalidGraphic("The picture is too large to draw at this size.");
    TBitmap::CheckSize(area.width(), area.height());
}

class TMetafilePicture : public TVectorPicture {
  public:
    explicit TMetafilePicture(const TMetafile& metafile) : metafile_(metafile) {}

  protected:
    QImage Draw(QSizeF scaled, const QRect& area) override {
        QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) RaiseInvalidGraphicFmt(imsg::InvalidImage, "WMF/EMF");
        image.fill(Qt::transparent);
        const QTransform toImage = QTransform::fromScale(scaled.width() / metafile_.Width(),
                                                         scaled.height() / metafile_.Height()) *
                                   QTransform::fromTranslate(-area.left(), -area.top());
        PlayMetafile(metafile_, image, toImage);
        return image;
    }

  private:
    const TMetafile& metafile_;
};

class TSvgPicture : public TVectorPicture {
  public:
    explicit TSvgPicture(const TSVGGraphic& svg) : document_(svg) {}

  protected:
    QImage Draw(QSizeF scaled, const QRect& area) override {
        return document_.Render(scaled, area);
    }

  private:
    TSvgDocument document_;
};

}  // namespace

QImage TVectorPicture::Render(QSizeF scaled, const QRect& area) {
    if (area.isEmpty()) return QImage();
    CheckArea(area);
    return Draw(scaled, area);
}

bool TVectorPicture::IsVector(const TGraphic& graphic) {
    return dynamic_cast<const TMetafile*>(&graphic) != nullptr ||
           dynamic_cast<const TSVGGraphic*>(&graphic) != nullptr;
}

std::unique_ptr<TVectorPicture> TVectorPicture::For(const TGraphic& graphic) {
    if (graphic.Empty()) return nullptr;
    if (const auto* metafile = dynamic_cast<const TMetafile*>(&graphic))
        return std::make_unique<TMetafilePicture>(*metafile);
    if (const auto* svg = dynamic_cast<const TSVGGraphic*>(&graphic))
        return std::make_unique<TSvgPicture>(*svg);
    return nullptr;
}

bool RenderVectorBitmap(const TGraphic& graphic, double scale, TBitmap& target) {
    std::unique_ptr<TVectorPicture> picture = TVectorPicture::For(graphic);
    if (!picture) return false;
    const double w = graphic.Width() * scale, h = graphic.Height() * scale;
    if (!std::isfinite(w) || !std::isfinite(h) || w > 1e6 || h > 1e6)
        RaiseInvalidGraphic("The picture is too large to draw at this size.");
    const QSize size(std::max(1, int(std::lround(w))), std::max(1, int(std::lround(h))));
    ImageToBitmap(picture->Render(QSizeF(size), QRect(QPoint(0, 0), size)), target);
    return true;
}
