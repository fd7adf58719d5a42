#pragma once
// Panels, splitter, scroll box and form: thin wrappers of Qt widgets with the property names
// the settings store reads and writes (Visible, Width, Height, Font, Color, Align), and the
// alignment layout that places aligned children the way the window designs expect.
//
// Alignment: a container with a TAlignLayout arranges its visible child widgets by their
// "Align" property (a declared Q_PROPERTY or a dynamic property holding the TAlign as int):
// first every alTop child in creation order from the top edge down, then alBottom from the
// bottom up, then alLeft from the left, then alRight from the right, and last alClient children
// fill what is left. Top/bottom children keep their height, left/right children their width;
// alNone children keep their geometry. Setters of the toolkit controls re-arrange at once.
#include <QFrame>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include "toolkit/Colors.h"
#include "toolkit/Font.h"
#include "toolkit/Types.h"

class TPopupMenu;

class TAlignLayout : public QObject {
    Q_OBJECT

  public:
    // Makes the container arrange its children by alignment (idempotent).
    static TAlignLayout* Install(QWidget* container);
    // The layout installed on the container, or null.
    static TAlignLayout* Of(const QWidget* container);
    // Re-arranges the container's children now (nothing when it has no layout).
    static void Realign(QWidget* container);

    // A widget's alignment: its "Align" property, alNone when it has none.
    static TAlign AlignOf(const QWidget* widget);
    // Sets a widget's alignment (a dynamic property for widgets that declare none) and
    // re-arranges its parent.
    static void SetAlign(QWidget* widget, TAlign align);

    // Arranges the children inside the container's contents rectangle.
    void Arrange();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit TAlignLayout(QWidget* container);
    QWidget* container_;
    bool arranging_ = false;
};

// Shared property implementation of the toolkit's controls; the concrete classes declare the
// Q_PROPERTYs. Colour is applied to the palette role given by ColorRole.
template <class Base>
class TControl : public Base {
  public:
    using Base::Base;

    bool Visible() const { return !this->isHidden(); }
    void SetVisible(bool value) {
        if (value == Visible()) return;
        this->setVisible(value);
        RealignParent();
    }
    int Width() const { return this->width(); }
    void SetWidth(int value) { ResizeTo(value, Height()); }
    int Height() const { return this->height(); }
    void SetHeight(int value) { ResizeTo(Width(), value); }
    int Left() const { return this->x(); }
    void SetLeft(int value) { MoveTo(value, Top()); }
    int Top() const { return this->y(); }
    void SetTop(int value) { MoveTo(Left(), value); }
    TAlign Align() const { return align_; }
    void SetAlign(TAlign value) {
        if (value == align_) return;
        align_ = value;
        RealignParent();
    }
    TFont Font() const { return font_; }
    void SetFont(const TFont& value) {
        if (value == font_ && fontApplied_) return;
        font_ = value;
        fontApplied_ = true;
        this->setFont(font_.ToQFont());
        QPalette p = this->palette();
        p.setColor(QPalette::WindowText, ColorToQColor(font_.Color()));
        p.setColor(QPalette::Text, ColorToQColor(font_.Color()));
        this->setPalette(p);
    }
    TColor Color() const { return color_; }
    void SetColor(TColor value) {
        if (value == color_ && colorApplied_) return;
        color_ = value;
        colorApplied_ = true;
        ApplyColor();
    }

  protected:
    void RealignParent() {
        if (QWidget* parent = this->parentWidget()) TAlignLayout::Realign(parent);
    }
    // Resize / move when the size / position changes, then re-arrange the parent.
    void ResizeTo(int width, int height) {
        if (QSize(width, height) == this->size()) return;
        this->resize(width, height);
        RealignParent();
    }
    void MoveTo(int left, int top) {
        if (QPoint(left, top) == this->pos()) return;
        this->move(left, top);
        RealignParent();
    }
    virtual QPalette::ColorRole ColorRole() const { return QPalette::Window; }
    virtual void ApplyColor() {
        QPalette p = this->palette();
        p.setColor(ColorRole(), ColorToQColor(color_));
        this->setPalette(p);
        this->setAutoFillBackground(true);
    }

    TAlign align_ = alNone;
    TFont font_;
    TColor color_ = clBtnFace;
    bool fontApplied_ = false;
    bool colorApplied_ = false;
};

// The published visibility, size and alignment of a control built on TControl, for its Q_OBJECT
// class to declare (the class template cannot carry properties itself; moc expands the macro).
#define TCONTROL_ALIGN_PROPERTIES                          \
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible) \
    Q_PROPERTY(int Width READ Width WRITE SetWidth)        \
    Q_PROPERTY(int Height READ Height WRITE SetHeight)     \
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)

// A panel: a frame that arranges its own aligned children. No bevel.
class TPanel : public TControl<QFrame> {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)

  public:
    explicit TPanel(const QString& name, QWidget* parent = nullptr);

  signals:
    void OnColorChange();

  protected:
    void ApplyColor() override;
};

// A splitter: a thin bar that, dragged, resizes the visible control it sits next to (for a left
// aligned splitter, the left aligned control whose right edge touches it). Neither that control
// nor what remains for the others gets narrower than MinSize.
class TSplitter : public TControl<QFrame> {
    Q_OBJECT
    TCONTROL_ALIGN_PROPERTIES
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(int MinSize READ MinSize WRITE SetMinSize)

  public:
    explicit TSplitter(const QString& name, QWidget* parent = nullptr);

    int MinSize() const { return minSize_; }
    void SetMinSize(int value) { minSize_ = value; }

    // The control the splitter resizes, or null.
    QWidget* ResizedControl() const;
    // Moves the splitter by delta pixels as a drag would; returns the resized control's width.
    int MoveBy(int delta);

  signals:
    void OnMoved();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int minSize_ = 30;
    QPointer<QWidget> dragged_;
    int dragStartX_ = 0;
    int dragStartSize_ = 0;
};

// A scroll box. Its children are created on Contents(); alNone children keep their geometry and
// the scroll range grows to hold them, alClient children fill the visible area. AutoScroll
// switches the automatic scroll bars on and off. The colour follows the parent's unless set.
class TScrollBox : public TControl<QScrollArea> {
    Q_OBJECT
    TCONTROL_ALIGN_PROPERTIES
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool AutoScroll READ AutoScroll WRITE SetAutoScroll)
    Q_PROPERTY(int HorzScrollBarPosition READ HorzPosition WRITE SetHorzPosition)
    Q_PROPERTY(int VertScrollBarPosition READ VertPosition WRITE SetVertPosition)

  public:
    explicit TScrollBox(const QString& name, QWidget* parent = nullptr);

    // The widget that holds the scrolled children.
    QWidget* Contents() const { return contents_; }

    TColor Color() const;
    void SetColor(TColor value);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    bool AutoScroll() const { return autoScroll_; }
    void SetAutoScroll(bool value);
    int HorzPosition() const;
    void SetHorzPosition(int value);
    int VertPosition() const;
    void SetVertPosition(int value);

    // Recomputes the scroll range and places alClient children.
    void UpdateContents();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* contents_;
    bool parentColor_ = true;
    bool autoScroll_ = true;
    bool updating_ = false;
};

// A top-level window that arranges its aligned children. Subclasses put their creation work in
// the constructor and override FormShow / FormCloseQuery / FormDestroy for the window's own
// handlers. Components that must run before them (the settings store) connect to BeforeShow,
// AfterCloseQuery and Destroying.
//
// Left, Top, Width and Height are the window's outer bounds: its frame where the window system
// reports one, else its client area. A window system reports the frame only once the window is
// on screen; bounds set before that are applied to the client area at once and corrected when
// the frame becomes known.
class TForm : public TControl<QWidget> {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)

  public:
    explicit TForm(const QString& name, QWidget* parent = nullptr);
    ~TForm() override;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& value) { setWindowTitle(value); }

    // Outer bounds (see the class comment).
    QRect OuterBounds() const;
    void SetOuterBounds(const QRect& bounds);
    int Left() const { return OuterBounds().x(); }
    void SetLeft(int value);
    int Top() const { return OuterBounds().y(); }
    void SetTop(int value);
    int Width() const { return OuterBounds().width(); }
    void SetWidth(int value);
    int Height() const { return OuterBounds().height(); }
    void SetHeight(int value);

    // The outer bounds of any top-level window, and setting them.
    static QRect OuterBoundsOf(const QWidget* window);
    static void SetOuterBoundsOf(QWidget* window, const QRect& bounds);
    // The frame's widths around the client area (all 0 while the window system reports none).
    static QMargins FrameMarginsOf(const QWidget* window);
    // Outer bounds moved and shrunk as little as needed to lie wholly on one screen's available
    // area: the screen they lie on most, or the nearest one (FitToScreens over the screens).
    static QRect FitToDesktop(const QRect& bounds);
    static QRect FitToScreens(const QRect& bounds, const QList<QRect>& screens);
    // Puts the window's outer bounds through FitToDesktop.
    void KeepOnDesktop();

    // The control that has (or, before the window is shown, will get) the keyboard focus.
    QWidget* ActiveControl() const;
    void SetActiveControl(QWidget* control);

    // The menu for right clicks anywhere without a menu of its own.
    void SetPopupMenu(TPopupMenu* menu);
    TPopupMenu* PopupMenu() const { return popupMenu_; }

  signals:
    // Emitted on every show, before FormShow.
    void BeforeShow();
    // Emitted when the window may close, after FormCloseQuery allowed it.
    void AfterCloseQuery();
    // Emitted while the window is being destroyed, before FormDestroy; the components still exist.
    void Destroying();

  protected:
    virtual void FormShow() {}
    virtual void FormCloseQuery(bool& canClose) { (void)canClose; }
    virtual void FormDestroy() {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // Applies outer bounds set before the frame was known, once it is.
    void ApplyPendingBounds();

    QRect pendingBounds_;
    qint64 pendingSince_ = -1;   // ms since the epoch when the window was first seen on screen
    bool pendingCheck_ = false;  // a look at the frame is scheduled
    QPointer<QWidget> activeControl_;
    TPopupMenu* popupMenu_ = nullptr;
    bool destroyed_ = false;

  public:
    // Emits Destroying and runs FormDestroy, once. A subclass that overrides FormDestroy calls
    // this from its own destructor (the base destructor can no longer reach the override).
    void RunDestroyHandlers();
};
