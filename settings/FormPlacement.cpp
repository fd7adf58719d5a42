#include "settings/FormPlacement.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "settings/IniFile.h"
#include "settings/PropertyCodec.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"

namespace {

struct TNormRect {
    int left, top, right, bottom;
};

QScreen* Screen() {
    return QGuiApplication::primaryScreen();
}

int CurrentPixelsPerInch() {
    QScreen* screen = Screen();
    return screen != nullptr ? qRound(screen->logicalDotsPerInch()) : 96;
}

bool SpecialState(const QWidget* w) {
    return (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

TNormRect FromRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

bool Sizeable(const QWidget* w) {
    return w->minimumSize() != w->maximumSize() &&
           !(w->windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
}

QStringList Words(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

int Word(const QStringList& words, int index, int def) {
    return index < words.size() ? PropertyCodec::ParseInteger(words[index]) : def;
}

// The smallest restored size taken from a file; anything smaller keeps the window's own size.
constexpr int kMinRestoredWidth = 120;
constexpr int kMinRestoredHeight = 60;

}  // namespace

TFormPlacement::TFormPlacement(const QString& name, QObject* owner)
    : QObject(owner), owner_(owner) {
    setObjectName(name);
    QWidget* window = qobject_cast<QWidget*>(owner);
    if (window == nullptr || !window->isWindow()) options_ = {};
    if (window == nullptr) return;
    window->installEventFilter(this);
    if (TForm* form = qobject_cast<TForm*>(window))
        connect(form, &TForm::Destroying, this, &TFormPlacement::WindowDestroy);
    else
        connect(window, &QObject::destroyed, this, &TFormPlacement::WindowDestroy);
}

TFormPlacement::~TFormPlacement() {
    if (owner_ != nullptr) owner_->removeEventFilter(this);
}

QWidget* TFormPlacement::Form() const {
    return qobject_cast<QWidget*>(owner_.data());
}

void TFormPlacement::SetMinMaxInfo(const TWinMinMaxInfo& value) {
    if (value == minMaxInfo_) return;
    minMaxInfo_ = value;
    AdjustMaxPosition();
}

QString TFormPlacement::EffectiveIniFileName() const {
    if (!iniFileName_.isEmpty()) return iniFileName_;
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
           QStringLiteral(".INI");
}

QString TFormPlacement::EffectiveIniSection() const {
    if (!iniSection_.isEmpty()) return iniSection_;
    return owner_ != nullptr ? QString::fromLatin1(owner_->metaObject()->className()) : QString();
}

QString TFormPlacement::ScreenKey(const QString& key) {
    QScreen* screen = Screen();
    const QSize size = screen != nullptr ? screen->size() : QSize();
    return QStringLiteral("%1(%2x%3)").arg(key).arg(size.width()).arg(size.height());
}

void TFormPlacement::Loaded() {
    loaded_ = true;
}

bool TFormPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched != owner_) return false;
    switch (event->type()) {
        case QEvent::Show:
            // Un-minimizing sends spontaneous show events; the window is shown only once.
            if (!event->spontaneous()) WindowShow();
            TrackNormalBounds(event->type());
            return false;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            TrackNormalBounds(event->type());
            return false;
        case QEvent::Close: {
            if (inClose_) return false;
            // The window's own close handling decides first; the settings are saved only when
            // it lets the window close.
            inClose_ = true;
            static_cast<QObject*>(watched)->event(event);
            inClose_ = false;
            QWidget* window = Form();
            if (event->isAccepted() && active_ && window != nullptr &&
                window->testAttribute(Qt::WA_WState_Created))
                Application::HandleEvent([this] { WriteSettings(); });
            return true;
        }
        default:
            return false;
    }
}

void TFormPlacement::WindowShow() {
    if (!loaded_) Loaded();
    if (active_) Application::HandleEvent([this] { ReadSettings(); });
    emit OnWindowShow();
}

void TFormPlacement::WindowDestroy() {
    if (active_ && !saved_) {
        destroying_ = true;
        Application::HandleEvent([this] { WriteSettings(); });
        destroying_ = false;
    }
    emit OnWindowDestroy();
}

int TFormPlacement::ReadPlacementInt(const QString& key, int def) const {
    const QString text = ini_->ReadString(EffectiveIniSection(), key, QString());
    return PropertyCodec::ParseInteger(text, def, true);
}

void TFormPlacement::ReadSettings() {
    if (!loaded_) Loaded();
    saved_ = false;
    ini_ = std::make_unique<TIniFile>(EffectiveIniFileName());
    struct Closer {
        std::unique_ptr<TIniFile>& ini;
        ~Closer() { ini.reset(); }
    } closer{ini_};

    if (ReadPlacementInt(QStringLiteral("FormVersion"), 0) >= version_) {
        ReadPlacement();
        restored_ = true;
        RestoreProperties();
        emit OnRestorePlacement();
        QWidget* window = Form();
        if ((options_ & fpActiveControl) && window != nullptr) {
            const QString name =
                ini_->ReadString(EffectiveIniSection(), QStringLiteral("ActiveControl"), QString());
            QWidget* control =
                qobject_cast<QWidget*>(PropertyCodec::FindComponent(window, name.trimmed()));
            if (control != nullptr && control->isEnabled() &&
                control->focusPolicy() != Qt::NoFocus) {
                if (TForm* form = qobject_cast<TForm*>(window))
                    form->SetActiveControl(control);
                else
                    control->setFocus(Qt::OtherFocusReason);
            }
        }
    }
    restored_ = true;
    ini_.reset();
    AdjustMaxPosition();
}

void TFormPlacement::ReadPlacement() {
    QWidget* window = Form();
    if (window == nullptr || ini_ == nullptr) return;
    if (!(options_ & (fpPosition | fpState))) return;
    const QString section = EffectiveIniSection();
    auto read = [&](const QString& key) {
        return ini_->ReadString(section, key, QString()).trimmed();
    };
    // The key for this screen size first, then the plain key.
    auto readPosition = [&](const QString& key) {
        const QString text = read(ScreenKey(key));
        return text.isEmpty() ? read(key) : text;
    };

    if (options_ & fpPosition) {
        flags_ = ReadPlacementInt(QStringLiteral("Flags"), flags_);
        bool found = false;
        const QString minMax = readPosition(QStringLiteral("MinMaxPos"));
        if (!minMax.isEmpty()) {
            const QStringList words = Words(minMax);
            minX_ = Word(words, 0, minX_);
            minY_ = Word(words, 1, minY_);
            maxX_ = Word(words, 2, maxX_);
            maxY_ = Word(words, 3, maxY_);
            found = true;
        }
        const TNormRect current = FromRect(NormalBounds());
        TNormRect rect = current;
        const QString norm = readPosition(QStringLiteral("NormPos"));
        if (!norm.isEmpty()) {
            const QStringList words = Words(norm);
            rect.left = Word(words, 0, current.left);
            rect.top = Word(words, 1, current.top);
            rect.right = Word(words, 2, current.right);
            rect.bottom = Word(words, 3, current.bottom);
            found = true;
        }
        const int ppi = CurrentPixelsPerInch();
        if (found && ReadPlacementInt(QStringLiteral("PixelsPerInch"), ppi) == ppi) {
            if (!Sizeable(window)) {
                rect.right = rect.left + (current.right - current.left);
                rect.bottom = rect.top + (current.bottom - current.top);
            }
            if (rect.left < rect.right) {
                // Computed in 64 bits: the four numbers may be anything.
                const qint64 width = qint64(rect.right) - rect.left;
                const qint64 height = qint64(rect.bottom) - rect.top;
                constexpr qint64 kLargest = qint64(1) << 20;
                QSize size(int(std::min(width, kLargest)),
                           int(std::clamp<qint64>(height, 0, kLargest)));
                // A size too small to use is not taken; the window keeps its own.
                if (size.width() < kMinRestoredWidth || size.height() < kMinRestoredHeight)
                    size = QSize(current.right - current.left, current.bottom - current.top);
                // The window lands on the desktop with its title bar reachable, no larger
                // than the desktop.
                const QRect bounds = TForm::FitToDesktop(QRect(QPoint(rect.left, rect.top), size));
                if (SpecialState(window))
                    window->setWindowState(
                        window->windowState() &
                        ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
                TForm::SetOuterBoundsOf(window, bounds);
                normalBounds_ = {bounds};
            }
        }
    }

    if ((options_ & fpState) && !read(QStringLiteral("ShowCmd")).isEmpty()) {
        const int showCmd = ReadPlacementInt(QStringLiteral("ShowCmd"), 0);
        Qt::WindowStates state =
            window->windowState() &
            ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
        switch (showCmd) {
            case 2:
            case 6:
            case 7:
                // A minimized main window comes up normal and then minimizes itself.
                if (window->parentWidget() == nullptr)
                    QMetaObject::invokeMethod(window, "showMinimized", Qt::QueuedConnection);
                else
                    state |= Qt::WindowMinimized;
                break;
            case 3:
                state |= Qt::WindowMaximized;
                break;
            default:
                break;  // 1, 5, 9 and anything else: normal
        }
        window->setWindowState(state);
    }
    window->update();
}

QRect TFormPlacement::NormalBounds() const {
    const QWidget* w = Form();
    if (w == nullptr) return {};
    if (!SpecialState(w)) return TForm::OuterBoundsOf(w);
    if (!normalBounds_.isEmpty()) return normalBounds_.last();
    // Not seen in the normal state since the restore: the window system's own record.
    const QRect normal = w->normalGeometry();
    if (!normal.isValid()) return TForm::OuterBoundsOf(w);
    return normal.marginsAdded(TForm::FrameMarginsOf(w));
}

void TFormPlacement::TrackNormalBounds(QEvent::Type type) {
    QWidget* w = Form();
    if (w == nullptr || !w->isVisible()) return;
    if (type == QEvent::WindowStateChange) {
        if (!SpecialState(w)) return;
        // A window manager may report the maximized bounds a moment before the state: bounds
        // recorded as normal that already cover the desktop are not the normal ones.
        const QScreen* screen = w->screen();
        if (screen == nullptr) return;
        const QRect covered = screen->availableGeometry().adjusted(8, 8, -8, -8);
        while (normalBounds_.size() > 1 && normalBounds_.last().contains(covered))
            normalBounds_.removeLast();
        return;
    }
    if (SpecialState(w)) return;
    const QRect bounds = TForm::OuterBoundsOf(w);
    if (!normalBounds_.isEmpty() && normalBounds_.last() == bounds) return;
    normalBounds_.append(bounds);
    while (normalBounds_.size() > 3)
        normalBounds_.removeFirst();
}

void TFormPlacement::AdjustMaxPosition() {
    QWidget* window = Form();
    if (window == nullptr || !window->testAttribute(Qt::WA_WState_Created) || preventResize_ ||
        !minMaxInfo_.DefaultMinMaxInfo())
        return;
    // A maximized window's frame lies just outside the screen.
    const QPoint frame = window->geometry().topLeft() - window->frameGeometry().topLeft();
    maxX_ = -frame.x();
    maxY_ = -frame.y();
}

void TFormPlacement::WritePlacement() {
    QWidget* window = Form();
    if (window == nullptr || ini_ == nullptr) return;
    const QString section = EffectiveIniSection();
    auto write = [&](const QString& key, const QString& value) {
        ini_->WriteString(section, key, value);
    };
    if (options_ & (fpState | fpPosition)) {
        const int showCmd = window->isMinimized() ? 2 : window->isMaximized() ? 3 : 1;
        const TNormRect rect = FromRect(NormalBounds());
        const QString minMax =
            QStringLiteral("%1,%2,%3,%4").arg(minX_).arg(minY_).arg(maxX_).arg(maxY_);
        const QString norm = QStringLiteral("%1,%2,%3,%4")
                                 .arg(rect.left)
                                 .arg(rect.top)
                                 .arg(rect.right)
                                 .arg(rect.bottom);
        write(QStringLiteral("Flags"), QString::number(flags_));
        write(QStringLiteral("ShowCmd"), QString::number(showCmd));
        write(QStringLiteral("PixelsPerInch"), QString::number(CurrentPixelsPerInch()));
        write(ScreenKey(QStringLiteral("MinMaxPos")), minMax);
        write(QStringLiteral("MinMaxPos"), minMax);
        write(ScreenKey(QStringLiteral("NormPos")), norm);
        write(QStringLiteral("NormPos"), norm);
        write(QStringLiteral("Visible"), destroying_ ? QStringLiteral("1") : QStringLiteral("0"));
    }
    if (options_ & fpActiveControl) {
        const TForm* form = qobject_cast<const TForm*>(window);
        const QWidget* control = form != nullptr ? form->ActiveControl() : window->focusWidget();
        if (control != nullptr && !control->objectName().isEmpty())
            write(QStringLiteral("ActiveControl"), control->objectName());
    }
}

void TFormPlacement::WriteSettings() {
    if (active_ && !restored_) return;
    if (!loaded_) Loaded();
    ini_ = std::make_unique<TIniFile>(EffectiveIniFileName());
    struct Closer {
        std::unique_ptr<TIniFile>& ini;
        ~Closer() { ini.reset(); }
    } closer{ini_};

    ini_->WriteString(EffectiveIniSection(), QStringLiteral("FormVersion"),
                      QString::number(version_));
    WritePlacement();
    SaveProperties();
    // The whole save reaches the disk at once or not at all.
    ini_->UpdateFile();
    emit OnSavePlacement();
    saved_ = true;
}
