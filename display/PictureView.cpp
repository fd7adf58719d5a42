#include "display/PictureView.h"

#include <QCoreApplication>
#include <QDynamicPropertyChangeEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>
#include <exception>
#include <utility>

#include "imaging/formats/JPEGImage.h"
#include "render/BitmapToImage.h"
#include "render/ReducedImage.h"
#include "toolkit/Application.h"
#include "toolkit/Colors.h"

namespace {

// Whether the graphic may let the background show through its own pixels. Graphics whose pixels
// are not known here count as see-through, so the control never claims to paint what it cannot.
bool MayShowThrough(const TGraphic& graphic) {
    if (graphic.Transparent()) return true;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic))
        return BitmapMayHaveAlpha(*bitmap);
    return dynamic_cast<const TJPEGImage*>(&graphic) == nullptr;
}

// Restores a flag when the scope ends, also when it is left by an exception.
class TFlagRestore {
  public:
    TFlagRestore(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
    ~TFlagRestore() { flag_ = saved_; }
    TFlagRestore(const TFlagRestore&) = delete;
    TFlagRestore& operator=(const TFlagRestore&) = delete;

  private:
    bool& flag_;
    bool saved_;
};

}  // namespace

TPictureView::TPictureView(const QString& name, QWidget* parent)
    : TControl<QWidget>(parent), picture_(std::make_unique<TPicture>()) {
    setObjectName(name);
    resize(105, 105);
    // A bitmap keyed by a system colour keys the colour this desktop shows for it.
    SetSystemColorResolver([](TColor color) { return int32_t(ColorToRGB(color)); });
    picture_->OnChange = [this](TPicture*) { HolderChanged(); };
    picture_->OnProgress = [this](TGraphic* sender, TProgressStage stage, uint8_t percent,
                                  bool redrawNow, const TRect& rect, const std::string& msg) {
        Progress(sender, stage, percent, redrawNow, rect, msg);
    };
}

TPictureView::~TPictureView() {
    picture_->OnChange = nullptr;
    picture_->OnProgress = nullptr;
}

void TPictureView::SetPicture(const TPicture* value) {
    if (value == nullptr)
        picture_->SetGraphic(nullptr);
    else
        picture_->Assign(*value);
}

void TPictureView::SetAutoSize(bool value) {
    autoSize_ = value;
    PictureChanged();
}

void TPictureView::SetStretch(bool value) {
    if (ChangeValue(stretch_, value)) PictureChanged();
}

void TPictureView::SetCenter(bool value) {
    if (ChangeValue(center_, value)) PictureChanged();
}

void TPictureView::SetTiled(bool value) {
    if (ChangeValue(tiled_, value)) PictureChanged();
}

void TPictureView::SetTransparent(bool value) {
    if (ChangeValue(transparent_, value)) PictureChanged();
}

void TPictureView::SetCheckerboard(bool value) {
    if (ChangeValue(checkerboard_, value)) update();
}

void TPictureView::SetAlign(TAlign value) {
    if (value == Align()) return;
    TControl<QWidget>::SetAlign(value);
    // A scroll box keeps aligned children in step when they report a property change.
    QDynamicPropertyChangeEvent changed("Align");
    QCoreApplication::sendEvent(this, &changed);
}

QRect TPictureView::PictureRect() const {
    if (stretch_) return rect();
    const QSize shown = ShownPictureSize();
    const int pw = shown.width(), ph = shown.height();
    if (center_) return QRect((width() - pw) / 2, (height() - ph) / 2, pw, ph);
    return QRect(0, 0, pw, ph);
}

void TPictureView::SetDevicePixels(bool value) {
    if (ChangeValue(devicePixels_, value)) PictureChanged();
}

double TPictureView::PixelRatio() const {
    if (!devicePixels_) return 1.0;
    const double ratio = devicePixelRatioF();
    return ratio > 0 ? ratio : 1.0;
}

QSize TPictureView::DevicePane() const {
    const double ratio = PixelRatio();
    return QSize(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
}

QSize TPictureView::ShownPictureSize() const {
    // One picture pixel per screen pixel: on a scaled screen the picture takes fewer of the
    // control's (logical) pixels.
    const int pw = picture_->Width(), ph = picture_->Height();
    const double ratio = PixelRatio();
    if (ratio == 1.0) return QSize(pw, ph);
    return QSize(int(std::ceil(pw / ratio - 1e-9)), int(std::ceil(ph / ratio - 1e-9)));
}

std::vector<TRGBQuad> TPictureView::GetPalette() const {
    const TGraphic* graphic = picture_->Graphic();
    if (graphic == nullptr) return {};
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic)) return bitmap->Palette();
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic)) return jpeg->Palette();
    return {};
}

void TPictureView::HolderChanged() {
    // Another picture starts unturned; a changed one keeps the view.
    sizeOverride_ = std::exchange(nextSizeOverride_, QSize());
    seeded_ = std::exchange(nextSeeded_, QImage());
    const QSize size = PictureSize();
    if (size != view_.picture) {
        view_.picture = size;
        view_.quarterTurns = 0;
        view_.flipped = false;
    }
    imageValid_ = false;
    imageShared_ = false;
    image_ = QImage();
    tileImage_ = QImage();
    vector_.reset();
    vectorChecked_ = false;
    vectorImage_ = QImage();
    PictureChanged();
    emit OnPictureChange();
}

void TPictureView::PictureChanged() {
    const QSize shown = ShownPictureSize();
    const int pw = shown.width(), ph = shown.height();
    if (zoomMode_) UpdateView();
    if (autoSize_ && !zoomMode_ && pw > 0 && ph > 0 && (pw != width() || ph != height())) {
        setGeometry(x(), y(), pw, ph);
        RealignParent();
    }
    if (TGraphic* graphic = picture_->Graphic()) {
        // May report a change of the graphic, which runs this handling once more.
        graphic->SetTransparent(transparent_);
        UpdateOpaque();
        if (DoPaletteChange() && drawing_) update();
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent, false);
    }
    if (!drawing_) update();
}

void TPictureView::UpdateOpaque() {
    const TGraphic* graphic = picture_->Graphic();
    bool opaque = false;
    if (graphic != nullptr && !zoomMode_ && !MayShowThrough(*graphic)) {
        const QSize shown = ShownPictureSize();
        const int pw = shown.width(), ph = shown.height();
        opaque = (stretch_ && pw > 0 && ph > 0) || (pw >= width() && ph >= height());
    }
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

bool TPictureView::DoPaletteChange() {
    if (!Visible()) return false;
    auto* jpeg = dynamic_cast<TJPEGImage*>(picture_->Graphic());
    // Only JPEG pictures keep a palette-modified flag; bitmaps paint in their own colours.
    if (jpeg == nullptr || !jpeg->PaletteModified()) return false;
    if (jpeg->Palette().empty()) {
        jpeg->SetPaletteModified(false);
        return false;
    }
    const QWidget* form = window();
    if (form == nullptr || !form->isActiveWindow()) return false;
    // Qt maps colours itself; there is no palette to realise, only the flag to clear.
    jpeg->SetPaletteModified(false);
    return true;
}

void TPictureView::Progress(TGraphic* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                            const TRect& rect, const std::string& msg) {
    // A held graphic that re-decodes writes its rows in place.
    if (sender != nullptr && sender == picture_->Graphic() && (redrawNow || stage == psEnding))
        imageValid_ = false;
    if (redrawNow && incrementalDisplay_ && !drawing_ && isVisible()) {
        DoPaletteChange();
        repaint();
    }
    if (OnProgress) OnProgress(sender, stage, percent, redrawNow, rect, msg);
}

namespace {

// The image of the graphic, sharing the rows of its bitmap where the format allows.
QImage SharedImage(const TGraphic& graphic) {
    const TBitmap* bitmap = GraphicBitmap(graphic);
    if (bitmap == nullptr) return {};
    return BitmapToSharedImage(*bitmap, graphic.Transparent());
}

}  // namespace

const QImage& TPictureView::Image() {
    const TGraphic* graphic = picture_->Graphic();
    if (imageValid_ && imageShared_) {
        // The image reads the bitmap's rows: make sure the bitmap still has that buffer.
        const TBitmap* bitmap = nullptr;
        try {
            bitmap = graphic != nullptr ? GraphicBitmap(*graphic) : nullptr;
        } catch (const std::exception&) {
            bitmap = nullptr;
        }
        if (bitmap == nullptr || !SharesBitmap(image_, *bitmap)) imageValid_ = false;
    }
    if (imageValid_) return image_;
    tileImage_ = QImage();
    image_ = QImage();
    imageShared_ = false;
    if (graphic != nullptr) {
        try {
            image_ = SharedImage(*graphic);
        } catch (const std::exception& error) {
            // A graphic that fails to decode keeps what it decoded; show that, and report the
            // failure once, outside the paint.
            const QString message = QString::fromStdString(error.what());
            QTimer::singleShot(0, [message] { Application::ShowException(message); });
            try {
                image_ = SharedImage(*graphic);
            } catch (const std::exception&) {
                image_ = QImage();
            }
        }
        try {
            const TBitmap* bitmap = GraphicBitmap(*graphic);
            imageShared_ = bitmap != nullptr && SharesBitmap(image_, *bitmap);
        } catch (const std::exception&) {
            imageShared_ = false;
        }
    }
    imageValid_ = true;
    return image_;
}

void TPictureView::paintEvent(QPaintEvent* event) {
    TFlagRestore drawing(drawing_, true);
    QPainter painter(this);
    const QRect exposed = event->rect() & rect();
    if (exposed.isEmpty()) return;
    if (!message_.isEmpty()) {
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                         message_);
        return;
    }
    // The view's transform and the picture's pixels are in device pixels.
    const double ratio = PixelRatio();
    const QTransform deviceToControl = QTransform::fromScale(1.0 / ratio, 1.0 / ratio);
    PaintCheckerboard(painter, exposed, deviceToControl);
    if (zoomMode_ && !view_.picture.isEmpty()) {
        const QTransform scaledToControl =
            QTransform::fromScale(1.0 / view_.scale, 1.0 / view_.scale) * view_.ToPane() *
            deviceToControl;
        painter.setClipRect(exposed);
        if (PaintVector(painter, QSizeF(view_.picture) * view_.scale, scaledToControl, exposed))
            return;
    }
    const QImage& image = Image();
    if (zoomMode_) {
        painter.setClipRect(exposed);
        if (!image.isNull()) PaintZoomed(painter, image, deviceToControl);
        return;
    }
    if (!tiled_ && (stretch_ || image.isNull())) {
        // A vector picture stretched to the control is drawn at that size.
        const QRect target = PictureRect();
        if (!target.isEmpty() &&
            PaintVector(painter, QSizeF(target.size()) * ratio,
                        deviceToControl * QTransform::fromTranslate(target.left(), target.top()),
                        exposed))
            return;
    }
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        // Marked opaque but nothing to show (the graphic failed to give pixels): do not leave
        // the area undefined.
        if (Opaque()) painter.fillRect(exposed, palette().color(backgroundRole()));
        return;
    }

    if (!tiled_) {
        const QRect target = PictureRect();
        if (!stretch_ && picture_->Width() == image.width() &&
            picture_->Height() == image.height()) {
            // Unscaled, one picture pixel per device pixel: copy just the exposed part.
            const QSize pane = DevicePane();
            const QPoint origin = center_ ? QPoint((pane.width() - image.width()) / 2,
                                                   (pane.height() - image.height()) / 2)
                                          : QPoint();
            const QRect device(origin, image.size());
            const QRect part =
                device & deviceToControl.inverted().mapRect(QRectF(exposed)).toAlignedRect();
            if (!part.isEmpty()) {
                painter.save();
                painter.setTransform(deviceToControl);
                painter.drawImage(part.topLeft(), image, part.translated(-origin));
                painter.restore();
            }
        } else if (!target.isEmpty()) {
            painter.setClipRect(exposed);
            painter.drawImage(target, image);
        }
        if (Opaque()) {
            // The picture covers the control; a stretched picture of a changed size may not.
            const QRegion rest = QRegion(exposed) - QRegion(target);
            for (const QRect& r : rest)
                painter.fillRect(r, palette().color(backgroundRole()));
        }
        return;
    }

    // Tiled: tiles start at the control's top-left corner and repeat every picture width and
    // height, unscaled; the last column and row are cut at the control's edges. The tiles are
    // filled with a texture brush straight into the widget's paint buffer (Qt composes every
    // paint off-screen and shows it at once), and only over the exposed area.
    if (tileImage_.isNull()) {
        tileImage_ = image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }
    if (tileImage_.isNull()) return;
    painter.setTransform(deviceToControl);
    painter.setBrushOrigin(0, 0);
    painter.fillRect(deviceToControl.inverted().mapRect(QRectF(exposed)), QBrush(tileImage_));
}

QRectF TPictureView::PictureArea(const QTransform& deviceToControl) const {
    if (zoomMode_)
        return (view_.ToPane() * deviceToControl).mapRect(QRectF(QPointF(), QSizeF(view_.picture)));
    if (tiled_) return rect();
    return PictureRect();
}

void TPictureView::PaintCheckerboard(QPainter& painter, const QRect& exposed,
                                     const QTransform& deviceToControl) {
    const TGraphic* graphic = picture_->Graphic();
    if (!checkerboard_ || graphic == nullptr || !MayShowThrough(*graphic)) return;
    const QRectF area = PictureArea(deviceToControl) & QRectF(exposed);
    if (area.isEmpty()) return;
    // Light and lighter grey squares of 8 pixels, starting at the picture's corner.
    constexpr int kSquare = 8;
    static const QImage tile = [] {
        QImage image(2 * kSquare, 2 * kSquare, QImage::Format_RGB32);
        image.fill(QColor(0xFF, 0xFF, 0xFF));
        for (int y = 0; y < 2 * kSquare; ++y)
            for (int x = 0; x < 2 * kSquare; ++x)
                if ((x / kSquare + y / kSquare) % 2 != 0)
                    image.setPixel(x, y, qRgb(0xCC, 0xCC, 0xCC));
        return image;
    }();
    painter.save();
    painter.setBrushOrigin(PictureArea(deviceToControl).topLeft());
    painter.fillRect(area, QBrush(tile));
    painter.restore();
}

void TPictureView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (zoomMode_) {
        // A fitted picture is shown at another scale in a pane of another size.
        const double scale = view_.scale;
        UpdateView();
        if (view_.scale != scale) emit OnViewChange();
    }
    if (picture_->Graphic() != nullptr) UpdateOpaque();
}

// ---- Zoom mode ----

void TPictureView::SetZoomMode(bool value) {
    if (!ChangeValue(zoomMode_, value)) return;
    fit_ = false;
    view_.scale = 1.0;
    view_.offset = QPointF();
    view_.quarterTurns = 0;
    view_.flipped = false;
    if (value)
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
    if (value) SetAlign(alClient);
    PictureChanged();
    emit OnViewChange();
}

void TPictureView::UpdateView() {
    view_.picture = PictureSize();
    if (fit_)
        view_.Fit(DevicePane());
    else
        view_.Clamp(DevicePane());
}

void TPictureView::ZoomToFit() {
    SetZoomMode(true);
    fit_ = true;
    UpdateView();
    update();
    emit OnViewChange();
}

void TPictureView::ZoomTo(double scale, const QPointF* anchor) {
    SetZoomMode(true);
    fit_ = false;
    view_.picture = PictureSize();
    const QSize pane = DevicePane();
    view_.ZoomAround(
        scale, anchor != nullptr ? *anchor * PixelRatio() : QRectF(QPoint(), pane).center(), pane);
    update();
    emit OnViewChange();
}

void TPictureView::ZoomStep(int direction, const QPointF* anchor) {
    ZoomTo(TViewTransform::Step(view_.scale, direction), anchor);
}

void TPictureView::TurnView(int quarters) {
    SetZoomMode(true);
    view_.Turn(quarters, DevicePane());
    if (fit_) view_.Fit(DevicePane());
    update();
    emit OnViewChange();
}

void TPictureView::FlipView() {
    SetZoomMode(true);
    view_.Flip(DevicePane());
    update();
    emit OnViewChange();
}

void TPictureView::SetMessage(const QString& text) {
    if (text == message_) return;
    message_ = text;
    update();
}

const QImage& TPictureView::Reduced(const QImage& image, QSize size) {
    if (!seeded_.isNull() && seeded_.size() == size) return seeded_;
    if (reducedOf_ == image.cacheKey() && reduced_.size() == size) return reduced_;
    reduced_ = ReducedImage(image, size);
    reducedOf_ = image.cacheKey();
    return reduced_;
}

void TPictureView::ShowDecoded(std::unique_ptr<TGraphic> graphic, QSize size, QImage reduced) {
    nextSizeOverride_ =
        graphic && size != QSize(graphic->Width(), graphic->Height()) ? size : QSize();
    nextSeeded_ = std::move(reduced);
    picture_->AdoptGraphic(std::move(graphic));
}

QSize TPictureView::PictureSize() const {
    if (!sizeOverride_.isEmpty()) return sizeOverride_;
    return QSize(picture_->Width(), picture_->Height());
}

void TPictureView::PaintZoomed(QPainter& painter, const QImage& image,
                               const QTransform& deviceToControl) {
    if (view_.picture.isEmpty()) return;
    // The image may be smaller than the picture (a reduced decode shown first).
    const double imageScale = view_.scale * view_.picture.width() / image.width();
    if (imageScale < 1.0) {
        const QSize size(std::max(1, int(std::lround(image.width() * imageScale))),
                         std::max(1, int(std::lround(image.height() * imageScale))));
        TViewTransform reduced = view_;
        reduced.picture = size;
        reduced.scale = 1.0;
        painter.setTransform(reduced.ToPane() * deviceToControl);
        painter.drawImage(0, 0, Reduced(image, size));
        return;
    }
    painter.setTransform(QTransform::fromScale(double(view_.picture.width()) / image.width(),
                                               double(view_.picture.height()) / image.height()) *
                         view_.ToPane() * deviceToControl);
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          imageScale > 1.0 + 1e-9 && view_.scale <= 2.0 + 1e-9);
    painter.drawImage(0, 0, image);
}

bool TPictureView::PaintVector(QPainter& painter, QSizeF scaled, const QTransform& scaledToControl,
                               const QRect& exposed) {
    const TGraphic* graphic = picture_->Graphic();
    if (graphic == nullptr || !TVectorPicture::IsVector(*graphic)) return false;
    if (!vectorChecked_) {
        vectorChecked_ = true;
        try {
            vector_ = TVectorPicture::For(*graphic);
        } catch (const std::exception&) {
            vector_.reset();  // unreadable here: its bitmap, if any, is shown instead
        }
    }
    if (!vector_) return false;
    bool invertible = false;
    const QTransform toScaled = scaledToControl.inverted(&invertible);
    if (!invertible || !(scaled.width() > 0) || !(scaled.height() > 0)) return false;
    const QRect bounds(0, 0, int(std::ceil(scaled.width())), int(std::ceil(scaled.height())));
    const QRect wanted = toScaled.mapRect(QRectF(exposed)).toAlignedRect() & bounds;
    if (wanted.isEmpty()) return true;
    if (vectorImage_.isNull() || vectorScaled_ != scaled || !vectorArea_.contains(wanted)) {
        // Draw what the control shows and a margin around it, so small moves reuse it.
        constexpr int margin = 256;
        const QRect shown = toScaled.mapRect(QRectF(rect())).toAlignedRect();
        const QRect area = shown.adjusted(-margin, -margin, margin, margin) & bounds;
        try {
            vectorImage_ = vector_->Render(scaled, area | wanted);
        } catch (const std::exception&) {
            vectorImage_ = QImage();
        }
        vectorScaled_ = scaled;
        vectorArea_ = vectorImage_.isNull() ? QRect() : (area | wanted);
        if (vectorImage_.isNull()) return false;
    }
    painter.save();
    painter.setTransform(scaledToControl);
    painter.drawImage(vectorArea_.topLeft(), vectorImage_);
    painter.restore();
    return true;
}

void TPictureView::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    if (!zoomMode_ || !pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPointF at = event->position();
    if (!dragged_ && (at - dragFrom_).manhattanLength() < 3) return;
    dragged_ = true;
    setCursor(Qt::ClosedHandCursor);
    view_.PanBy((at - dragFrom_) * PixelRatio(), DevicePane());
    dragFrom_ = at;
    update();
}

void TPictureView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        if (delta.y() == 0) return;
        const QPointF at = event->position();
        ZoomStep(delta.y() > 0 ? 1 : -1, &at);
        event->accept();
        return;
    }
    if (!zoomMode_) {
        event->ignore();  // the scroll box scrolls
        return;
    }
    // A wheel notch moves the picture by a fifth of the control's height.
    QPointF move(delta.x(), delta.y());
    if (event->modifiers() & Qt::ShiftModifier) move = QPointF(move.y(), move.x());
    view_.PanBy(move / 120.0 * (DevicePane().height() / 5.0), DevicePane());
    update();
    event->accept();
}

void TPictureView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit OnMouseEnter();
}

void TPictureView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit OnMouseLeave();
}

void TPictureView::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    dragged_ = false;
    dragFrom_ = event->position();
}

void TPictureView::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !pressed_) return;
    pressed_ = false;
    if (zoomMode_) setCursor(Qt::OpenHandCursor);
    if (dragged_) return;
    if (rect().contains(event->position().toPoint())) emit OnClick();
}

void TPictureView::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) emit OnDblClick();
}
