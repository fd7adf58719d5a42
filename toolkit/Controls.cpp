#include "toolkit/Controls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVariant>
#include <QWindow>
#include <algorithm>

#include "toolkit/Menus.h"

namespace {
const char* const kLayoutProperty = "_velkaro_align_layout";
}

// ---------------------------------------------------------------------------------------------
// TAlignLayout

TAlignLayout::TAlignLayout(QWidget* container) : QObject(container), container_(container) {
    container->setProperty(kLayoutProperty, QVariant::fromValue(static_cast<QObject*>(this)));
    container->installEventFilter(this);
}

TAlignLayout* TAlignLayout::Install(QWidget* container) {
    if (TAlignLayout* existing = Of(container)) return existing;
    return new TAlignLayout(container);
}

TAlignLayout* TAlignLayout::Of(const QWidget* container) {
    if (container == nullptr) return nullptr;
    return qobject_cast<TAlignLayout*>(container->property(kLayoutProperty).value<QObject*>());
}

void TAlignLayout::Realign(QWidget* container) {
    if (TAlignLayout* layout = Of(container)) layout->Arrange();
}

TAlign TAlignLayout::AlignOf(const QWidget* widget) {
    const QVariant value = widget->property("Align");
    if (!value.isValid()) return alNone;
    bool ok = false;
    const int align = value.toInt(&ok);
    if (!ok || align < alNone || align > alClient) return alNone;
    return static_cast<TAlign>(align);
}

void TAlignLayout::SetAlign(QWidget* widget, TAlign align) {
    const int index = widget->metaObject()->indexOfProperty("Align");
    if (index >= 0) {
        widget->metaObject()->property(index).write(widget, QVariant::fromValue(align));
    } else {
        if (AlignOf(widget) == align && widget->property("Align").isValid()) return;
        widget->setProperty("Align", static_cast<int>(align));
    }
    if (QWidget* parent = widget->parentWidget()) Realign(parent);
}

void TAlignLayout::Arrange() {
    if (arranging_) return;
    arranging_ = true;
    QRect rest = container_->contentsRect();
    QList<QWidget*> children;
    for (QObject* object : container_->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child != nullptr && !child->isWindow() && !child->isHidden()) children.append(child);
    }
    for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
        for (QWidget* child : children) {
            if (AlignOf(child) != pass) continue;
            switch (pass) {
                case alTop: {
                    const int h = std::min(child->height(), std::max(rest.height(), 0));
                    child->setGeometry(rest.left(), rest.top(), std::max(rest.width(), 0),
                                       child->height());
                    rest.setTop(rest.top() + h);
                    break;
                }
                case alBottom: {
                    const int h = std::min(child->height(), std::max(rest.height(), 0));
                    child->setGeometry(rest.left(), rest.bottom() + 1 - child->height(),
                                       std::max(rest.width(), 0), child->height());
                    rest.setBottom(rest.bottom() - h);
                    break;
                }
                case alLeft: {
                    const int w = std::min(child->width(), std::max(rest.width(), 0));
                    child->setGeometry(rest.left(), rest.top(), child->width(),
                                       std::max(rest.height(), 0));
                    rest.setLeft(rest.left() + w);
                    break;
                }
                case alRight: {
                    const int w = std::min(child->width(), std::max(rest.width(), 0));
                    child->setGeometry(rest.right() + 1 - child->width(), rest.top(),
                                       child->width(), std::max(rest.height(), 0));
                    rest.setRight(rest.right() - w);
                    break;
                }
                case alClient:
                    child->setGeometry(rest.left(), rest.top(), std::max(rest.width(), 0),
                                       std::max(rest.height(), 0));
                    break;
                case alNone:
                    break;
            }
            // A hidden window gets no resize events; keep nested containers in step directly.
            if (TAlignLayout* nested = Of(child)) nested->Arrange();
        }
    }
    arranging_ = false;
}

bool TAlignLayout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == container_) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::LayoutRequest:
                Arrange();
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// TPanel

TPanel::TPanel(const QString& name, QWidget* parent) : TControl<QFrame>(parent) {
    setObjectName(name);
    setFrameShape(QFrame::NoFrame);
    TAlignLayout::Install(this);
    SetFont(TFont());
    SetColor(clBtnFace);
}

void TPanel::ApplyColor() {
    TControl<QFrame>::ApplyColor();
    emit OnColorChange();
}

// ---------------------------------------------------------------------------------------------
// TSplitter

TSplitter::TSplitter(const QString& name, QWidget* parent) : TControl<QFrame>(parent) {
    setObjectName(name);
    setFrameShape(QFrame::NoFrame);
    setCursor(Qt::SplitHCursor);
    resize(3, height());
}

QWidget* TSplitter::ResizedControl() const {
    QWidget* parent = parentWidget();
    if (parent == nullptr) return nullptr;
    const TAlign align = Align();
    if (align == alNone || align == alClient) return nullptr;
    const QRect me = geometry();
    for (QObject* object : parent->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child == this || child->isWindow() || child->isHidden()) continue;
        if (TAlignLayout::AlignOf(child) != align) continue;
        const QRect g = child->geometry();
        const bool touches = (align == alLeft && g.right() + 1 == me.left()) ||
                             (align == alRight && g.left() == me.right() + 1) ||
                             (align == alTop && g.bottom() + 1 == me.top()) ||
                             (align == alBottom && g.top() == me.bottom() + 1);
        if (touches) return child;
    }
    return nullptr;
}

int TSplitter::MoveBy(int delta) {
    QWidget* control = dragged_ ? dragged_.data() : ResizedControl();
    if (control == nullptr) return 0;
    const bool horizontal = Align() == alLeft || Align() == alRight;
    const int start =
        dragged_ ? dragStartSize_ : (horizontal ? control->width() : control->height());
    // Room: the controlled size plus what the client area has, less the client's minimum.
    int room = start;
    if (QWidget* parent = parentWidget()) {
        for (QObject* object : parent->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child != nullptr && !child->isHidden() && !child->isWindow() &&
                TAlignLayout::AlignOf(child) == alClient) {
                room += horizontal ? child->width() : child->height();
                break;
            }
        }
    }
    const int sign = (Align() == alLeft || Align() == alTop) ? 1 : -1;
    int size = start + sign * delta;
    size = std::min(size, room - minSize_);
    size = std::max(size, minSize_);
    const char* property = horizontal ? "Width" : "Height";
    if (control->metaObject()->indexOfProperty(property) >= 0)
        control->setProperty(property, size);
    else if (horizontal)
        control->resize(size, control->height());
    else
        control->resize(control->width(), size);
    if (QWidget* parent = parentWidget()) TAlignLayout::Realign(parent);
    emit OnMoved();
    return size;
}

void TSplitter::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QFrame::mousePressEvent(event);
    dragged_ = ResizedControl();
    if (dragged_ == nullptr) return;
    const bool horizontal = Align() == alLeft || Align() == alRight;
    dragStartX_ =
        horizontal ? event->globalPosition().toPoint().x() : event->globalPosition().toPoint().y();
    dragStartSize_ = horizontal ? dragged_->width() : dragged_->height();
}

void TSplitter::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ == nullptr) return QFrame::mouseMoveEvent(event);
    const bool horizontal = Align() == alLeft || Align() == alRight;
    const int now =
        horizontal ? event->globalPosition().toPoint().x() : event->globalPosition().toPoint().y();
    MoveBy(now - dragStartX_);
}

void TSplitter::mouseReleaseEvent(QMouseEvent* event) {
    if (dragged_ == nullptr) return QFrame::mouseReleaseEvent(event);
    dragged_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TScrollBox

TScrollBox::TScrollBox(const QString& name, QWidget* parent) : TControl<QScrollArea>(parent) {
    setObjectName(name);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    contents_ = new QWidget;
    contents_->setObjectName(name + QLatin1String("Contents"));
    contents_->setAutoFillBackground(false);
    setWidget(contents_);
    setWidgetResizable(false);
    viewport()->setAutoFillBackground(false);
    contents_->installEventFilter(this);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

TColor TScrollBox::Color() const {
    if (parentColor_) {
        if (QWidget* parent = parentWidget()) {
            const QVariant value = parent->property("Color");
            if (value.isValid()) return static_cast<TColor>(value.toInt());
        }
    }
    return color_;
}

void TScrollBox::SetColor(TColor value) {
    if (value == color_ && !parentColor_ && colorApplied_) return;
    color_ = value;
    colorApplied_ = true;
    parentColor_ = false;
    QPalette p = palette();
    p.setColor(QPalette::Window, ColorToQColor(value));
    setPalette(p);
    setAutoFillBackground(true);
}

void TScrollBox::SetParentColor(bool value) {
    if (!ChangeValue(parentColor_, value)) return;
    if (value) {
        // Let the palette's window colour be inherited from the parent again.
        setPalette(QPalette());
        setAutoFillBackground(false);
        colorApplied_ = false;
    } else {
        SetColor(color_);
    }
}

void TScrollBox::SetAutoScroll(bool value) {
    if (!ChangeValue(autoScroll_, value)) return;
    const Qt::ScrollBarPolicy policy = value ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
    UpdateContents();
}

int TScrollBox::HorzPosition() const {
    return horizontalScrollBar()->value();
}
void TScrollBox::SetHorzPosition(int value) {
    horizontalScrollBar()->setValue(value);
}
int TScrollBox::VertPosition() const {
    return verticalScrollBar()->value();
}
void TScrollBox::SetVertPosition(int value) {
    verticalScrollBar()->setValue(value);
}

void TScrollBox::UpdateContents() {
    if (updating_) return;
    updating_ = true;
    const QSize view = viewport()->size();
    int right = 0, bottom = 0;
    for (QObject* object : contents_->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow() || child->isHidden()) continue;
        if (TAlignLayout::AlignOf(child) == alClient) continue;
        right = std::max(right, child->geometry().right() + 1);
        bottom = std::max(bottom, child->geometry().bottom() + 1);
    }
    QSize size = view;
    if (autoScroll_) size = size.expandedTo(QSize(right, bottom));
    contents_->resize(size);
    for (QObject* object : contents_->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow() || child->isHidden()) continue;
        if (TAlignLayout::AlignOf(child) == alClient) child->setGeometry(QRect(QPoint(0, 0), view));
    }
    updating_ = false;
}

void TScrollBox::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    UpdateContents();
}

bool TScrollBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == contents_) {
        if (event->type() == QEvent::ChildAdded) {
            auto* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType()) child->installEventFilter(this);
        }
    } else if (watched->parent() == contents_) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::Move:
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::DynamicPropertyChange:
                UpdateContents();
                break;
            default:
                break;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// TForm

TForm::TForm(const QString& name, QWidget* parent) : TControl<QWidget>(parent) {
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose, false);
    TAlignLayout::Install(this);
    SetFont(TFont());
    SetColor(clBtnFace);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && now->window() == this && now != this) activeControl_ = now;
    });
}

TForm::~TForm() {
    RunDestroyHandlers();
}

void TForm::RunDestroyHandlers() {
    if (destroyed_) return;
    destroyed_ = true;
    emit Destroying();
    FormDestroy();
}

QWidget* TForm::ActiveControl() const {
    return activeControl_.data();
}

void TForm::SetActiveControl(QWidget* control) {
    activeControl_ = control;
    if (control != nullptr && isVisible()) control->setFocus(Qt::OtherFocusReason);
}

void TForm::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    ::SetPopupMenu(this, menu);
}

QMargins TForm::FrameMarginsOf(const QWidget* window) {
    // The window system's own record: the widget's copy is refreshed only when the window
    // moves, and a window manager reports the frame after the window has appeared.
    if (const QWindow* handle = window->windowHandle())
        return window->isVisible() ? handle->frameMargins() : QMargins();
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                    frame.right() - client.right(), frame.bottom() - client.bottom());
}

QRect TForm::OuterBoundsOf(const QWidget* window) {
    if (const auto* form = qobject_cast<const TForm*>(window)) return form->OuterBounds();
    return window->geometry().marginsAdded(FrameMarginsOf(window));
}

void TForm::SetOuterBoundsOf(QWidget* window, const QRect& bounds) {
    if (auto* form = qobject_cast<TForm*>(window))
        form->SetOuterBounds(bounds);
    else
        window->setGeometry(bounds.marginsRemoved(FrameMarginsOf(window)));
}

QRect TForm::OuterBounds() const {
    const bool normal =
        !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    return pendingBounds_.isValid() && normal ? pendingBounds_
                                              : geometry().marginsAdded(FrameMarginsOf(this));
}

void TForm::SetOuterBounds(const QRect& bounds) {
    const QMargins margins = FrameMarginsOf(this);
    // Without a frame reported yet the bounds are taken as the client area for now, and kept
    // to be applied again once the frame is known.
    pendingBounds_ = margins.isNull() ? bounds : QRect();
    const QRect client = bounds.marginsRemoved(margins);
    if (client != geometry()) setGeometry(client);
}

void TForm::SetLeft(int value) {
    if (value == Left()) return;
    SetOuterBounds(OuterBounds().translated(value - Left(), 0));
}

void TForm::SetTop(int value) {
    if (value == Top()) return;
    SetOuterBounds(OuterBounds().translated(0, value - Top()));
}

void TForm::SetWidth(int value) {
    if (value == Width()) return;
    QRect bounds = OuterBounds();
    bounds.setWidth(value);
    SetOuterBounds(bounds);
}

void TForm::SetHeight(int value) {
    if (value == Height()) return;
    QRect bounds = OuterBounds();
    bounds.setHeight(value);
    SetOuterBounds(bounds);
}

QRect TForm::FitToDesktop(const QRect& bounds) {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    return FitToScreens(bounds, screens);
}

QRect TForm::FitToScreens(const QRect& bounds, const QList<QRect>& screens) {
    // The screen the window lies on most, else the one nearest to it; a window wholly on one
    // stays where it is.
    const QRect* best = nullptr;
    qint64 bestArea = -1, bestDistance = 0;
    for (const QRect& screen : screens) {
        if (screen.isEmpty()) continue;
        if (screen.contains(bounds)) return bounds;
        const QRect common = screen.intersected(bounds);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        const QPoint d = screen.center() - bounds.center();
        const qint64 distance = qint64(d.x()) * d.x() + qint64(d.y()) * d.y();
        if (area > bestArea || (area == bestArea && distance < bestDistance)) {
            best = &screen;
            bestArea = area;
            bestDistance = distance;
        }
    }
    if (best == nullptr) return bounds;
    const QRect desktop = *best;
    QRect fitted(bounds.topLeft(), bounds.size().boundedTo(desktop.size()));
    // The whole frame on that screen: a window partly or wholly off the screens (restored from
    // another screen layout) comes back wholly visible, moved as little as that takes.
    fitted.moveLeft(
        std::clamp(fitted.left(), desktop.left(), desktop.right() + 1 - fitted.width()));
    fitted.moveTop(std::clamp(fitted.top(), desktop.top(), desktop.bottom() + 1 - fitted.height()));
    return fitted;
}

void TForm::KeepOnDesktop() {
    const QRect bounds = OuterBounds();
    const QRect fitted = FitToDesktop(bounds);
    if (fitted != bounds) SetOuterBounds(fitted);
}

bool TForm::event(QEvent* event) {
    const bool result = TControl<QWidget>::event(event);
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
            if (pendingBounds_.isValid()) ApplyPendingBounds();
            break;
        default:
            break;
    }
    return result;
}

void TForm::ApplyPendingBounds() {
    if (!pendingBounds_.isValid() || !isVisible()) return;
    // The bounds are the normal ones: a window shown maximized or minimized takes them when it
    // returns to the normal state.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    const QMargins margins = FrameMarginsOf(this);
    if (margins.isNull()) {
        // The frame may be reported a moment after the window appears, without any event of
        // its own: look again shortly. A window without a frame reports none for good, so the
        // looking stops after a while.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (pendingSince_ < 0) pendingSince_ = now;
        if (now - pendingSince_ > 1500) {
            pendingBounds_ = QRect();
            return;
        }
        if (!pendingCheck_) {
            pendingCheck_ = true;
            QTimer::singleShot(50, this, [this] {
                pendingCheck_ = false;
                ApplyPendingBounds();
            });
        }
        return;
    }
    const QRect client = pendingBounds_.marginsRemoved(margins);
    pendingBounds_ = QRect();
    if (client != geometry()) setGeometry(client);
}

void TForm::showEvent(QShowEvent* event) {
    TControl<QWidget>::showEvent(event);
    if (event->spontaneous()) return;
    emit BeforeShow();
    FormShow();
    TAlignLayout::Realign(this);
    if (activeControl_ != nullptr) activeControl_->setFocus(Qt::OtherFocusReason);
}

void TForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    emit AfterCloseQuery();
    event->accept();
}
