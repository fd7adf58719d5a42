#include "thumbs/ThumbnailMaker.h"

#include <QRect>
#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "render/BitmapToImage.h"
#include "render/ReducedImage.h"
#include "render/VectorPicture.h"

namespace {

// The scale that fits a picture of this size into size pixels, never above 1.
double FitScale(int width, int height, int size) {
    const int longer = std::max(width, height);
    return longer > size ? double(size) / longer : 1.0;
}

QSize Scaled(QSize full, double scale) {
    return QSize(std::max(1, int(std::lround(full.width() * scale))),
                 std::max(1, int(std::lround(full.height() * scale))));
}

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

}  // namespace

TThumbnail MakeThumbnail(const std::string& path, int size, const std::atomic<bool>* cancel) {
    TThumbnail result;
    if (size < 1) {
        result.error = QStringLiteral("The thumbnail size must be at least one pixel");
        return result;
    }
    try {
        // The graphic decodes only as far as the size needs (its class knows how): a quick
        // reduced load (a resolution level, an embedded thumbnail), a preview that is large
        // enough (a camera's thumbnail), or a scaled decode.
        TReducedDecode reduce;
        reduce.Scale = [size](int width, int height) { return FitScale(width, height, size); };
        reduce.EnoughSide = size;
        reduce.DrawsVectors = true;
        std::unique_ptr<TGraphic> preview;
        reduce.OnPreview = [&preview, size](std::unique_ptr<TGraphic> offered) {
            if (offered && std::max(offered->Width(), offered->Height()) >= size)
                preview = std::move(offered);
        };
        QSize preparedFull;
        std::unique_ptr<TGraphic> graphic = TPicture::LoadGraphic(path, [&](TGraphic& g) {
            g.SetCancelFlag(cancel);
            int width = 0, height = 0;
            if (g.PrepareReducedLoad(path, reduce, width, height))
                preparedFull = QSize(width, height);
            else
                preparedFull = QSize();
        });
        if (Cancelled(cancel)) return {};
        result.fullSize =
            preparedFull.isValid() ? preparedFull : QSize(graphic->Width(), graphic->Height());
        if (result.fullSize.isEmpty()) {
            result.error = QStringLiteral("The picture has no pixels");
            return result;
        }
        const double scale = FitScale(result.fullSize.width(), result.fullSize.height(), size);
        const QSize target = Scaled(result.fullSize, scale);

        QImage image;
        if (std::unique_ptr<TVectorPicture> vector = TVectorPicture::For(*graphic)) {
            // Drawn at the size itself, sharp, instead of reduced from its natural size.
            image = vector->Render(QSizeF(target), QRect(QPoint(0, 0), target));
        } else {
            const bool reduced = graphic->DecodeReduced(reduce);
            if (Cancelled(cancel)) return {};
            image = reduced && preview ? GraphicToImage(*preview) : GraphicToImage(*graphic);
        }
        if (Cancelled(cancel)) return {};
        if (image.isNull()) {
            result.error = QStringLiteral("The picture has no pixels");
            return result;
        }
        // A reduced decode keeps the picture's shape within a pixel of rounding; a camera's
        // thumbnail within a few per cent, and it may fall short of the size on its shorter
        // side: it is fitted to the picture's shape.
        if (image.size() == target)
            result.image = image;
        else if (image.width() >= target.width() && image.height() >= target.height())
            result.image = ReducedImage(image, target);
        else
            result.image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } catch (const EAbort&) {
        return {};
    } catch (const std::exception& error) {
        result.error = QString::fromStdString(error.what());
    }
    return result;
}
