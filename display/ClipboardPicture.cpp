#include "display/ClipboardPicture.h"

#include <QBuffer>
#include <QImageWriter>

namespace {

const QString kPng = QStringLiteral("image/png");
const QString kBmp = QStringLiteral("image/bmp");
const QString kQtImage = QStringLiteral("application/x-qt-image");

QByteArray Encode(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) return {};
    return bytes;
}

}  // namespace

QStringList TClipboardPicture::EncodedFormats() {
    return {kBmp, kPng};
}

TClipboardPicture::TClipboardPicture(QImage image, const TRunner& run)
    : image_(std::move(image)),
      encoded_(std::make_shared<TEncoded>()),
      cancel_(std::make_shared<std::atomic<bool>>(false)) {
    if (image_.isNull()) return;
    // The worker reads its own reference of the pixels; the image is never written.
    run(
        [image = image_, encoded = encoded_, cancel = cancel_] {
            // BMP is quick to write and comes first; PNG at a fast compression level after it.
            QByteArray bmp = Encode(image, "bmp", -1);
            if (cancel->load()) return;
            {
                std::lock_guard lock(encoded->mutex);
                encoded->bmp = std::move(bmp);
            }
            QByteArray png = Encode(image, "png", 80);
            std::lock_guard lock(encoded->mutex);
            encoded->png = std::move(png);
        },
        cancel_);
}

TClipboardPicture::~TClipboardPicture() {
    cancel_->store(true);
}

bool TClipboardPicture::Ready() const {
    std::lock_guard lock(encoded_->mutex);
    return !encoded_->png.isEmpty() && !encoded_->bmp.isEmpty();
}

QStringList TClipboardPicture::formats() const {
    // The Qt image format stays unlisted: Qt would answer other programs' requests for any image
    // type by encoding on the window's thread.
    QStringList list;
    std::lock_guard lock(encoded_->mutex);
    if (!encoded_->png.isEmpty()) list << kPng;
    if (!encoded_->bmp.isEmpty()) list << kBmp;
    return list;
}

bool TClipboardPicture::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

QVariant TClipboardPicture::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == kQtImage) {
        if (type.id() == QMetaType::QImage || !type.isValid()) return image_;
        return {};
    }
    std::lock_guard lock(encoded_->mutex);
    if (mimeType == kPng) return encoded_->png;
    if (mimeType == kBmp) return encoded_->bmp;
    return {};
}
