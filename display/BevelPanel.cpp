#include "display/BevelPanel.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

TCustomBevelPanel::TCustomBevelPanel(const QString& name, QWidget* parent) : TPanel(name, parent) {
    UpdateMargins();
}

void TCustomBevelPanel::SetBevelCtl3D(bool value) {
    if (!ChangeValue(bevelCtl3D_, value)) return;
    bevelWidth_ = value ? 2 : 1;
    UpdateMargins();
    update();
}

void TCustomBevelPanel::SetBevelWidth(int value) {
    if (value < 1) value = 1;
    ChangeSetting(bevelWidth_, value, true);
}

void TCustomBevelPanel::SetBorderWidth(int value) {
    if (value < 0) value = 0;
    ChangeSetting(borderWidth_, value, true);
}

void TCustomBevelPanel::SetBorderStyle(TBorderStyle value) {
    if (!ChangeValue(borderStyle_, value)) return;
    if (value == bsSingle) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    UpdateMargins();
    update();
}

void TCustomBevelPanel::UpdateMargins() {
    // Children are laid out inside both 1-pixel rings of the 3-D look.
    if (bevelCtl3D_) bevelWidth_ = 2;
    int inset = borderWidth_;
    if (bevelOuter_ != bvNone) inset += bevelWidth_;
    if (bevelInner_ != bvNone) inset += bevelWidth_;
    setContentsMargins(inset, inset, inset, inset);
    TAlignLayout::Realign(this);
}

QRect TCustomBevelPanel::DrawRing(QPainter& painter, QRect rect, int width, const QColor& top,
                                  const QColor& bottom, TSides sides) {
    // Edges as left/top inclusive, right/bottom exclusive.
    int left = rect.x(), topEdge = rect.y();
    int right = rect.x() + rect.width(), bottomEdge = rect.y() + rect.height();
    for (int i = 0; i < width; ++i) {
        if (right <= left || bottomEdge <= topEdge) break;
        if (sides & sdLeft) painter.fillRect(QRect(left, topEdge, 1, bottomEdge - topEdge), top);
        if (sides & sdTop) painter.fillRect(QRect(left, topEdge, right - left, 1), top);
        if (sides & sdRight)
            painter.fillRect(QRect(right - 1, topEdge, 1, bottomEdge - topEdge), bottom);
        if (sides & sdBottom)
            painter.fillRect(QRect(left, bottomEdge - 1, right - left, 1), bottom);
        if (sides & sdLeft) ++left;
        if (sides & sdTop) ++topEdge;
        if (sides & sdRight) --right;
        if (sides & sdBottom) --bottomEdge;
    }
    return QRect(left, topEdge, std::max(right - left, 0), std::max(bottomEdge - topEdge, 0));
}

QRect TCustomBevelPanel::DrawBevel(QPainter& painter, QRect rect, TPanelBevel bevel) {
    if (bevel == bvNone) return rect;
    const QPalette& pal = palette();
    QColor c1, c2, c3, c4;
    switch (bevel) {
        case bvLowered:
            c1 = ColorToQColor(clBtnShadow, pal);
            c2 = ColorToQColor(clBtnHighlight, pal);
            c3 = ColorToQColor(clBtnText, pal);
            c4 = ColorToQColor(cl3DLight, pal);
            break;
        case bvRaised:
            c1 = ColorToQColor(clBtnHighlight, pal);
            c2 = ColorToQColor(bevelCtl3D_ ? clBtnText : clBtnShadow, pal);
            c3 = ColorToQColor(cl3DLight, pal);
            c4 = ColorToQColor(clBtnShadow, pal);
            break;
        default:
            // A "space" bevel is a ring in the panel's own colour.
            c1 = c2 = c3 = c4 = ColorToQColor(Color(), pal);
            break;
    }
    if (bevelCtl3D_) {
        rect = DrawRing(painter, rect, 1, c1, c2, bevelSides_);
        return DrawRing(painter, rect, 1, c3, c4, bevelSides_);
    }
    return DrawRing(painter, rect, bevelWidth_, c1, c2, bevelSides_);
}

void TCustomBevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (borderStyle_ == bsSingle) drawFrame(&painter);
    const int frame = frameWidth();
    QRect r = rect().adjusted(frame, frame, -frame, -frame);
    r = DrawBevel(painter, r, bevelOuter_);
    const QColor border = ColorToQColor(borderColor_, palette());
    r = DrawRing(painter, r, borderWidth_, border, border, bevelSides_);
    r = DrawBevel(painter, r, bevelInner_);
    painter.fillRect(r, ColorToQColor(Color(), palette()));
    if (caption_.isEmpty()) return;

    painter.setFont(font());
    painter.setPen(ColorToQColor(Font().Color(), palette()));
    painter.setBrush(Qt::NoBrush);
    int flags = Qt::TextWordWrap | Qt::TextExpandTabs | Qt::AlignTop;
    switch (alignment_) {
        case taLeftJustify:
            flags |= Qt::AlignLeft;
            break;
        case taRightJustify:
            flags |= Qt::AlignRight;
            break;
        case taCenter:
            flags |= Qt::AlignHCenter;
            break;
    }
    if (verticalAlignment_ != vaTop) {
        const int textHeight = painter.fontMetrics().boundingRect(r, flags, caption_).height();
        const int difference = r.height() - textHeight;  // negative when the caption is taller
        r.setHeight(textHeight);
        r.translate(0, verticalAlignment_ == vaCenter ? difference / 2 : difference);
    }
    painter.drawText(r, flags, caption_);
}

void TCustomBevelPanel::enterEvent(QEnterEvent* event) {
    TPanel::enterEvent(event);
    emit OnMouseEnter();
}

void TCustomBevelPanel::leaveEvent(QEvent* event) {
    TPanel::leaveEvent(event);
    emit OnMouseLeave();
}
