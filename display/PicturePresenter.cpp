#include "display/PicturePresenter.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "display/ClipboardPicture.h"
#include "display/PictureView.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "render/BitmapToImage.h"
#include "render/ImageToBitmap.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"

TPicturePresenter::TPicturePresenter(TPictureView* view, TScrollBox* scroll, QWidget* pane,
                                     QObject* parent)
    : QObject(parent), view_(view), scroll_(scroll) {
    // A JPEG picture also decodes when it is first painted; its progress is shown the same way.
    view_->OnProgress = [this](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                               const std::string& message) { Progress(stage, percent, message); };
    // Shown over the picture pane while a slow picture decodes.
    progress_ = new QLabel(pane);
    progress_->setAutoFillBackground(true);
    progress_->setFrameShape(QFrame::Box);
    progress_->setMargin(3);
    progress_->move(6, 6);
    progress_->hide();

    decoder_ = new TDecodeService(this);
    connect(decoder_, &TDecodeService::Decoded, this,
            [this](quint64 generation, const TDecodedPtr& picture) {
                Application::HandleEvent([&] { Arrived(generation, picture); });
            });
    connect(decoder_, &TDecodeService::Progress, this,
            [this](quint64, int percent, const QString& message) {
                Progress(psRunning, uint8_t(std::clamp(percent, 0, 100)), message.toStdString());
            });
    frames_ = new TFramePlayer(
        decoder_,
        [this](std::unique_ptr<TGraphic> frame) {
            view_->ShowDecoded(std::move(frame), QSize(), QImage());
        },
        this);
    connect(frames_, &TFramePlayer::Changed, this, &TPicturePresenter::FramesChanged);
    connect(view_, &TPictureView::OnViewChange, this, [this] { DecodeWhatViewNeeds(); });
    waiting_.setSingleShot(true);
    connect(&waiting_, &QTimer::timeout, this, [this] {
        if (loading_ && progress_->isHidden()) ShowProgress(QStringLiteral("Loading..."));
    });
}

TPicturePresenter::~TPicturePresenter() = default;

QImage TPicturePresenter::DecodeFile(const QByteArray& path) {
    TPicture picture;
    picture.LoadFromFile(path.toStdString());
    return picture.Graphic() != nullptr ? GraphicToImage(*picture.Graphic()) : QImage();
}

void TPicturePresenter::Show(const QByteArray& path, bool explicitOpen) {
    explicitOpen_ = explicitOpen;
    loading_ = true;
    timer_.start();
    // A file that is slow to read (a network share, a pipe) reports no progress while the
    // previous picture stays on screen: past the delay, the pane says it is loading.
    waiting_.start(ProgressDelayMs);
    frames_->Stop();
    copyWhenFull_ = false;
    const bool passing =
        lastShow_.isValid() && lastShow_.elapsed() < PassingMs && path != lastAsked_;
    lastShow_.start();
    lastAsked_ = path;
    decoder_->Show(path, ViewWish());
    // Not decoded yet (a picture from the cache has been shown by now).
    if (passing && decoder_->Busy()) ShowThumbnail(path);
}

void TPicturePresenter::ShowThumbnail(const QByteArray& path) {
    if (!ThumbnailLookup || shownPath_ == path) return;
    const QImage image = ThumbnailLookup(path);
    if (image.isNull()) return;
    // The picture's own size as the thumbnail records it, else the thumbnail fitted to the pane.
    QSize full(image.text(QStringLiteral("Thumb::Image::Width")).toInt(),
               image.text(QStringLiteral("Thumb::Image::Height")).toInt());
    if (full.isEmpty()) full = image.size().scaled(ViewWish().pane, Qt::KeepAspectRatio);
    if (full.isEmpty()) full = image.size();
    auto bitmap = std::make_unique<TBitmap>();
    ImageToBitmap(image, *bitmap);
    KeepShown(path);
    view_->SetMessage(QString());
    shownIsPreview_ = true;  // never kept as the picture, never copied
    shownReducedOnly_ = false;
    shownIsThumbnail_ = true;
    view_->ShowDecoded(std::move(bitmap), full, QImage());
    shownPath_ = path;
    emit Shown(path);
}

void TPicturePresenter::Clear() {
    frames_->Stop();
    decoder_->CancelShow();
    EndProgress();
    view_->SetMessage(QString());
    view_->SetPicture(nullptr);
    shownIsPreview_ = false;
    shownReducedOnly_ = false;
    shownIsThumbnail_ = false;
    copyWhenFull_ = false;
    shownPath_.clear();
}

void TPicturePresenter::Renamed(const QByteArray& oldPath, const QByteArray& newPath) {
    if (shownPath_ == oldPath) shownPath_ = newPath;
}

TViewWish TPicturePresenter::ViewWish() const {
    TViewWish wish;
    // The view counts device pixels: on a scaled screen the picture is decoded for all of them.
    const double ratio = view_->DevicePixels() ? view_->devicePixelRatioF() : 1.0;
    wish.pane = scroll_->viewport()->size() * ratio;
    wish.fit = view_->FitMode();
    wish.scale = view_->ZoomMode() ? view_->View().scale : 1.0;
    return wish;
}

void TPicturePresenter::DecodeWhatViewNeeds(bool full) {
    if (!shownReducedOnly_ || shownPath_.isEmpty()) return;
    const TGraphic* graphic = view_->Picture()->Graphic();
    if (graphic == nullptr) return;
    const double scale = full ? 1.0 : view_->ZoomMode() ? view_->View().scale : 1.0;
    // A decode under way is looked at again when it arrives.
    if (!full && decoder_->Busy()) return;
    const QSize size = view_->PictureSize();
    // Within a pixel of the view is enough (the reduced scales round their sizes up).
    if (!full && graphic->Width() + 1 >= size.width() * scale &&
        graphic->Height() + 1 >= size.height() * scale)
        return;
    TViewWish wish = ViewWish();
    wish.fit = false;
    wish.scale = scale;
    wish.larger = true;
    explicitOpen_ = false;
    loading_ = true;
    timer_.start();
    decoder_->Show(shownPath_, wish);
}

void TPicturePresenter::Arrived(quint64 generation, const TDecodedPtr& picture) {
    if (generation != decoder_->Generation()) return;  // an older request
    if (!picture->preview) EndProgress();
    // The picture shown so far stays decoded while it is a neighbour of the new one.
    KeepShown(picture->path);
    if (!picture->graphic) {
        // Nothing of the previous picture stays on screen under the new name.
        frames_->Stop();
        view_->SetPicture(nullptr);
        shownIsPreview_ = false;
        shownReducedOnly_ = false;
        shownIsThumbnail_ = false;
        shownPath_.clear();
        copyWhenFull_ = false;
        emit Failed(picture->path);
        if (explicitOpen_) throw std::runtime_error(picture->error.toStdString());
        // While browsing the message goes in the pane, so the next key press still works; it
        // fills the visible part of the pane, whatever size the last picture had.
        view_->SetMessage(
            QStringLiteral("%1\n\n%2").arg(QFileInfo(picture->path).fileName(), picture->error));
        if (!view_->ZoomMode() && view_->Align() == alNone) {
            scroll_->SetHorzPosition(0);
            scroll_->SetVertPosition(0);
            view_->setGeometry(QRect(QPoint(0, 0), scroll_->viewport()->size()));
        }
        emit StatusChanged();
        return;
    }
    view_->SetMessage(QString());
    const bool larger = shownReducedOnly_ && picture->path == shownPath_;
    shownIsThumbnail_ = false;
    shownIsPreview_ = picture->preview;
    shownReducedOnly_ = picture->reducedOnly;
    view_->ShowDecoded(std::move(picture->graphic), picture->fullSize, picture->reduced);
    shownPath_ = picture->path;
    emit Shown(picture->path);
    if (picture->preview) return;
    // A copy waits for the full picture, which a reduced decode is not.
    if (copyWhenFull_ && shownReducedOnly_)
        DecodeWhatViewNeeds(true);
    else if (std::exchange(copyWhenFull_, false))
        CopyShown();
    // The view may have been zoomed past what this decode covers while it ran.
    DecodeWhatViewNeeds();
    if (!larger) frames_->Open(picture->path);  // the same picture again, only larger
    decoder_->Preload(neighbours_, ViewWish());
}

void TPicturePresenter::KeepShown(const QByteArray& next) {
    QImage reduction = view_->PreparedReduction();
    std::unique_ptr<TGraphic> previous = view_->Picture()->ReleaseGraphic();
    // A frame or page other than the plain load is not what the file shows first: not kept.
    if (previous && !shownIsPreview_ && !frames_->ShowingFrame() && shownPath_ != next)
        decoder_->Keep(shownPath_, std::move(previous), std::move(reduction),
                       shownReducedOnly_ ? view_->PictureSize() : QSize());
}

void TPicturePresenter::Copy() {
    // A reduced first decode or the camera's thumbnail is not the picture: the copy is made when
    // the full decode arrives.
    if (shownIsPreview_) {
        copyWhenFull_ = true;
        return;
    }
    // A reduced decode that covers the view: the full one is made for the copy.
    if (shownReducedOnly_) {
        copyWhenFull_ = true;
        DecodeWhatViewNeeds(true);
        return;
    }
    CopyShown();
}

void TPicturePresenter::CopyShown() {
    const TGraphic* graphic = view_->Picture()->Graphic();
    if (graphic == nullptr) return;  // nothing shown (the text mode cleared the picture)
    QImage image = GraphicToImage(*graphic);
    if (image.isNull()) return;
    auto run = [decoder = decoder_](std::function<void()> task,
                                    std::shared_ptr<std::atomic<bool>> cancel) {
        decoder->Submit(std::move(task), std::move(cancel));
    };
    QApplication::clipboard()->setMimeData(new TClipboardPicture(std::move(image), run));
}

void TPicturePresenter::Progress(TProgressStage stage, uint8_t percent,
                                 const std::string& message) {
    // Decodes also run outside a load: a JPEG picture decodes when it is first painted. Such a
    // decode is timed from its own start and its display ends with it.
    if (!loading_) {
        if (stage == psStarting) timer_.start();
        if (stage == psEnding) EndProgress();
    }
    if (stage == psEnding || !timer_.isValid() || timer_.elapsed() < ProgressDelayMs) return;
    QString text = QString::fromStdString(message).trimmed();
    if (text.isEmpty()) text = QStringLiteral("Loading...");
    ShowProgress(QStringLiteral("%1 %2%").arg(text).arg(qMin<int>(percent, 100)));
}

void TPicturePresenter::ShowProgress(const QString& text) {
    if (!hourglass_) hourglass_ = std::make_unique<THourglass>();
    progress_->setText(text);
    progress_->adjustSize();
    progress_->raise();
    progress_->show();
    // The decode runs on this thread: paint the label now rather than at the next event loop
    // (not while the picture view itself is painting, which is where a first-draw decode runs).
    if (progress_->isVisible() && loading_) progress_->repaint();
}

void TPicturePresenter::EndProgress() {
    loading_ = false;
    waiting_.stop();
    timer_.invalidate();
    progress_->hide();
    progress_->clear();
    hourglass_.reset();
}

QString TPicturePresenter::ProgressText() const {
    return progress_->isHidden() ? QString() : progress_->text();
}

QString TPicturePresenter::StatusText() const {
    const TPicture* picture = view_->Picture();
    const QSize size = view_->PictureSize();
    if (picture->Graphic() == nullptr && !view_->Message().isEmpty())
        return QStringLiteral("No picture");
    if (picture->Graphic() == nullptr || size.isEmpty()) return QString();
    const double scale = view_->ZoomMode() ? view_->View().scale : 1.0;
    // What the content was read as, whatever the name says.
    const QString format = QString::fromStdString(GraphicFormatName(*picture->Graphic()));
    return QStringLiteral("%1 x %2   %3   %4 %")
               .arg(size.width())
               .arg(size.height())
               .arg(format)
               .arg(QString::number(scale * 100, 'f', scale < 0.1 ? 1 : 0)) +
           FrameStatus() + LoadWarningStatus(*picture->Graphic());
}

QString TPicturePresenter::LoadWarningStatus(const TGraphic& graphic) {
    // A picture shown only in part (a damaged or cut file, or frame) says why.
    const std::string& warning = graphic.LoadWarning();
    return warning.empty() ? QString() : QStringLiteral("   ") + QString::fromStdString(warning);
}

QString TPicturePresenter::FrameStatus() const {
    if (!frames_->Active()) return QString();
    const QString text =
        frames_->Pages() ? QStringLiteral("   page %1 of %2") : QStringLiteral("   frame %1 of %2");
    return text.arg(frames_->Index() + 1).arg(frames_->Count()) +
           (frames_->Animation() && frames_->Paused() ? QStringLiteral(" (paused)") : QString());
}
