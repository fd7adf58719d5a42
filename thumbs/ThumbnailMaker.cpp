#include "thumbs/ThumbnailMaker.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "render/BitmapToImage.h"
#include "render/ReducedImage.h"

TThumbnail MakeThumbnail(const std::string& path, int size, const std::atomic<bool>* cancel) {
    TThumbnail result;
    try {
        // The scale that fits the picture into size; a graphic that can decode smaller decodes
        // only that far.
        TReducedDecode reduce;
        reduce.Scale = [size](int width, int height) {
            const int longer = std::max(width, height);
            return longer > size ? double(size) / longer : 1.0;
        };
        std::unique_ptr<TGraphic> graphic =
            TPicture::LoadGraphic(path, [&](TGraphic& g) { g.SetCancelFlag(cancel); });
        if (cancel != nullptr && cancel->load()) return result;
        result.fullSize = QSize(graphic->Width(), graphic->Height());
        graphic->DecodeReduced(reduce);
        QImage image = GraphicToImage(*graphic);
        if (cancel != nullptr && cancel->load()) return {};
        if (image.isNull()) {
            result.error = QStringLiteral("The picture has no pixels");
            return result;
        }
        const double scale = reduce.Scale(result.fullSize.width(), result.fullSize.height());
        const QSize target(std::max(1, int(std::lround(result.fullSize.width() * scale))),
                           std::max(1, int(std::lround(result.fullSize.height() * scale))));
        result.image = image.width() > target.width() || image.height() > target.height()
                           ? ReducedImage(image, target)
                           : image;
    } catch (const EAbort&) {
        return {};
    } catch (const std::exception& error) {
        result.error = QString::fromStdString(error.what());
    }
    return result;
}
