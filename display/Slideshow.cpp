#include "display/Slideshow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <functional>
#include <utility>

#include "display/PicturePresenter.h"
#include "display/PictureView.h"
#include "toolkit/Controls.h"

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("Slideshow", text);
}

QString NameOf(const QByteArray& path) {
    return QFileInfo(QFile::decodeName(path)).fileName();
}

// The show's window: black, the picture fitted to it; closing it (the window manager's close
// included) ends the show.
class TSlideshowWindow : public TPanel {
  public:
    TSlideshowWindow(QWidget* parent, std::function<void()> closed)
        : TPanel(QStringLiteral("SlideshowWindow"), parent), closed_(std::move(closed)) {
        setWindowFlag(Qt::Window);
        setWindowTitle(Tr("Slideshow"));
        SetColor(0x000000);
    }
    void Forget() { closed_ = nullptr; }

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (closed_) {
            auto closed = std::move(closed_);
            closed_ = nullptr;
            closed();
        }
        TPanel::closeEvent(event);
    }

  private:
    std::function<void()> closed_;
};

}  // namespace

TSlideshow::TSlideshow(const QString& name, QWidget* parent) : QObject(parent), owner_(parent) {
    setObjectName(name);
    timer_.setSingleShot(true);
    timer_.setInterval(interval_ * 1000);
    connect(&timer_, &QTimer::timeout, this, [this] { Step(1); });
}

TSlideshow::~TSlideshow() {
    delete window_;
}

void TSlideshow::SetInterval(int seconds) {
    interval_ = seconds >= 1 && seconds <= MaxInterval ? seconds : DefaultInterval;
    timer_.setInterval(interval_ * 1000);
}

void TSlideshow::Start(const QList<QByteArray>& paths, int first) {
    End();
    if (paths.isEmpty()) return;
    paths_ = paths;
    index_ = first >= 0 && first < paths.size() ? first : 0;
    direction_ = 1;
    paused_ = false;
    failedInRow_ = 0;
    skipped_.clear();

    auto* window = new TSlideshowWindow(owner_, [this] { End(); });
    window_ = window;
    auto* scroll = new TScrollBox(QStringLiteral("SlideshowScroll"), window);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->SetColor(0x000000);
    scroll->SetAlign(alClient);
    view_ = new TPictureView(QStringLiteral("SlideshowView"), scroll->Contents());
    view_->SetDevicePixels(true);
    status_ = new QLabel(window);
    status_->setObjectName(QStringLiteral("SlideshowStatus"));
    status_->setContentsMargins(6, 2, 6, 2);
    status_->setStyleSheet(QStringLiteral("color: #c0c0c0; background: black;"));
    TAlignLayout::SetAlign(status_, alBottom);
    presenter_ = new TPicturePresenter(view_, scroll, window, window);
    connect(presenter_, &TPicturePresenter::Shown, this, &TSlideshow::PictureShown);
    connect(presenter_, &TPicturePresenter::Failed, this, &TSlideshow::PictureFailed);

    // The keys belong to the whole window, whichever of its parts has the focus.
    auto key = [this, window](QKeySequence sequence, std::function<void()> run) {
        auto* action = new QAction(window);
        action->setShortcut(sequence);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
        connect(action, &QAction::triggered, this, std::move(run));
    };
    key(QKeySequence(Qt::Key_Space), [this] { SetPaused(!paused_); });
    key(QKeySequence(Qt::Key_Right), [this] { Step(1); });
    key(QKeySequence(Qt::Key_Left), [this] { Step(-1); });
    key(QKeySequence(Qt::Key_Escape), [this] { End(); });

    // The screen the window is on, also where no window manager makes full-screen windows so.
    if (QScreen* screen = owner_ != nullptr ? owner_->screen() : QGuiApplication::primaryScreen())
        window->setGeometry(screen->geometry());
    window->showFullScreen();
    window->raise();
    window->activateWindow();
    scroll->setFocus();
    view_->ZoomToFit();
    ShowCurrent();
}

void TSlideshow::End() {
    timer_.stop();
    if (window_ == nullptr) return;
    auto* window = static_cast<TSlideshowWindow*>(window_);
    window_ = nullptr;
    presenter_ = nullptr;
    view_ = nullptr;
    status_ = nullptr;
    window->Forget();
    window->hide();
    // The key or the close that ends the show is still running inside the window.
    window->deleteLater();
    if (owner_ != nullptr) owner_->activateWindow();
    emit Ended();
}

void TSlideshow::SetPaused(bool paused) {
    paused_ = paused;
    if (paused_)
        timer_.stop();
    else if (shown_ && window_ != nullptr)
        timer_.start(interval_ * 1000);
    UpdateStatus();
}

void TSlideshow::Step(int direction) {
    if (window_ == nullptr || paths_.isEmpty()) return;
    direction_ = direction < 0 ? -1 : 1;
    const qsizetype count = paths_.size();
    index_ = int((index_ + direction_ + count) % count);
    skipped_.clear();
    failedInRow_ = 0;
    ShowCurrent();
}

void TSlideshow::ShowCurrent() {
    timer_.stop();
    shown_ = false;
    const qsizetype count = paths_.size();
    // The picture the show moves to next is decoded ahead, then the one behind.
    QList<QByteArray> neighbours;
    for (int d : {direction_, -direction_}) {
        const QByteArray& path = paths_[(index_ + d + count) % count];
        if (path != Current() && !neighbours.contains(path)) neighbours << path;
    }
    presenter_->SetNeighbours(neighbours);
    presenter_->Show(Current());
    UpdateStatus();
}

void TSlideshow::PictureShown(const QByteArray& path) {
    if (window_ == nullptr || path != Current()) return;
    failedInRow_ = 0;
    // A preview comes before the picture: the interval counts from the first.
    if (!shown_) {
        shown_ = true;
        if (!paused_) timer_.start(interval_ * 1000);
    }
    UpdateStatus();
}

void TSlideshow::PictureFailed(const QByteArray& path) {
    if (window_ == nullptr || path != Current()) return;
    skipped_ << NameOf(path);
    if (++failedInRow_ >= paths_.size()) {
        // Nothing in the list can be shown: the show waits rather than spinning.
        paused_ = true;
        UpdateStatus();
        return;
    }
    // On to the next one in the same direction, once the presenter has finished reporting.
    QTimer::singleShot(0, this, [this, path] {
        if (window_ == nullptr || path != Current()) return;
        const qsizetype count = paths_.size();
        index_ = int((index_ + direction_ + count) % count);
        ShowCurrent();
    });
}

QString TSlideshow::StatusText() const {
    if (paths_.isEmpty()) return {};
    QString text = Tr("%1 of %2: %3").arg(index_ + 1).arg(paths_.size()).arg(NameOf(Current()));
    if (failedInRow_ >= paths_.size()) return Tr("No picture of the list can be shown.");
    if (paused_) text += Tr(" (paused)");
    if (!skipped_.isEmpty())
        text += Tr("; skipped, cannot be shown: %1").arg(skipped_.join(QStringLiteral(", ")));
    return text;
}

void TSlideshow::UpdateStatus() {
    if (status_ != nullptr) status_->setText(StatusText());
}
