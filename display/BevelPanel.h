#pragma once
// TCustomBevelPanel / TBevelPanel: a panel whose bevels can be drawn on chosen sides only, in a
// flat or a two-tone 3-D style, with a coloured border ring between the outer and the inner bevel,
// and a word-wrapped caption aligned horizontally and vertically.
//
// Painting from the outside in: the outer bevel ring (BevelWidth pixels, or two 1-pixel rings of
// two colours each with BevelCtl3D), the border ring (BorderWidth pixels of BorderColor), the
// inner bevel ring, then the rest is filled with Color and the caption is drawn. A ring of width
// n is n one-pixel frames; each frame is drawn only on the sides in BevelSides (left and top in
// the ring's top colour, right and bottom in its bottom colour), and only the drawn sides move
// inwards for the next frame.
#include <QObject>
#include <QRect>
#include <QString>

#include "toolkit/Controls.h"

namespace ProCtrls {
Q_NAMESPACE

// Sides of a panel that carry its bevels (a set).
enum TSide { sdLeft = 1, sdTop = 2, sdRight = 4, sdBottom = 8 };
Q_DECLARE_FLAGS(TSides, TSide)
Q_FLAG_NS(TSides)

enum TVerticalAlignment { vaTop, vaCenter, vaBottom };
Q_ENUM_NS(TVerticalAlignment)

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
Q_ENUM_NS(TPanelBevel)

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
Q_ENUM_NS(TAlignment)

enum TBorderStyle { bsNone, bsSingle };
Q_ENUM_NS(TBorderStyle)

}  // namespace ProCtrls

Q_DECLARE_OPERATORS_FOR_FLAGS(ProCtrls::TSides)

using ProCtrls::TAlignment;
using ProCtrls::TBorderStyle;
using ProCtrls::TPanelBevel;
using ProCtrls::TSide;
using ProCtrls::TSides;
using ProCtrls::TVerticalAlignment;
using enum ProCtrls::TSide;
using enum ProCtrls::TVerticalAlignment;
using enum ProCtrls::TPanelBevel;
using enum ProCtrls::TAlignment;
using enum ProCtrls::TBorderStyle;

class TCustomBevelPanel : public TPanel {
    Q_OBJECT

  public:
    // Caption empty, all four sides, flat bevels, button-face border, caption centred.
    explicit TCustomBevelPanel(const QString& name = QString(), QWidget* parent = nullptr);

    bool BevelCtl3D() const { return bevelCtl3D_; }
    // Also sets BevelWidth: 2 when switched on, 1 when switched off.
    void SetBevelCtl3D(bool value);
    TSides BevelSides() const { return bevelSides_; }
    void SetBevelSides(TSides value) { ChangeSetting(bevelSides_, value, false); }
    TColor BorderColor() const { return borderColor_; }
    void SetBorderColor(TColor value) { ChangeSetting(borderColor_, value, false); }
    TVerticalAlignment VerticalAlignment() const { return verticalAlignment_; }
    void SetVerticalAlignment(TVerticalAlignment value) {
        ChangeSetting(verticalAlignment_, value, false);
    }

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value) { ChangeSetting(alignment_, value, false); }
    TPanelBevel BevelInner() const { return bevelInner_; }
    void SetBevelInner(TPanelBevel value) { ChangeSetting(bevelInner_, value, true); }
    TPanelBevel BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TPanelBevel value) { ChangeSetting(bevelOuter_, value, true); }
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(int value);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    // bsSingle gives the panel a plain one-pixel line border around its client area.
    void SetBorderStyle(TBorderStyle value);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value) { ChangeSetting(caption_, value, false); }
    bool FullRepaint() const { return fullRepaint_; }
    void SetFullRepaint(bool value) { fullRepaint_ = value; }
    bool Locked() const { return locked_; }
    void SetLocked(bool value) { locked_ = value; }

    // Draws a ring `width` pixels wide inside rect on the given sides and returns the rectangle
    // left inside it (only drawn sides move inwards).
    static QRect DrawRing(QPainter& painter, QRect rect, int width, const QColor& top,
                          const QColor& bottom, TSides sides);

  signals:
    void OnMouseEnter();
    void OnMouseLeave();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    // Keeps aligned children inside the rings (every side, as the client area shrinks).
    void UpdateMargins();
    // Stores a setting that changed and repaints, first re-placing the children inside the rings
    // when the setting moves them; nothing when the value is the stored one.
    template <class T>
    void ChangeSetting(T& field, const T& value, bool movesChildren) {
        if (!ChangeValue(field, value)) return;
        if (movesChildren) UpdateMargins();
        update();
    }
    QRect DrawBevel(QPainter& painter, QRect rect, TPanelBevel bevel);

    bool bevelCtl3D_ = false;
    TSides bevelSides_ = TSides(sdLeft | sdTop | sdRight | sdBottom);
    TColor borderColor_ = clBtnFace;
    TVerticalAlignment verticalAlignment_ = vaCenter;
    TAlignment alignment_ = taCenter;
    TPanelBevel bevelInner_ = bvNone;
    TPanelBevel bevelOuter_ = bvRaised;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TBorderStyle borderStyle_ = bsNone;
    QString caption_;
    bool fullRepaint_ = true;
    bool locked_ = false;
};

// The published panel: the properties above under their names for the settings store.
class TBevelPanel : public TCustomBevelPanel {
    Q_OBJECT
    Q_PROPERTY(ProCtrls::TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(bool BevelCtl3D READ BevelCtl3D WRITE SetBevelCtl3D)
    Q_PROPERTY(ProCtrls::TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(ProCtrls::TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(ProCtrls::TSides BevelSides READ BevelSides WRITE SetBevelSides)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderColor READ BorderColor WRITE SetBorderColor)
    Q_PROPERTY(ProCtrls::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool FullRepaint READ FullRepaint WRITE SetFullRepaint)
    Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)
    Q_PROPERTY(ProCtrls::TVerticalAlignment VerticalAlignment READ VerticalAlignment WRITE
                   SetVerticalAlignment)

  public:
    using TCustomBevelPanel::TCustomBevelPanel;
};
