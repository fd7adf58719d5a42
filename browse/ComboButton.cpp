#include "browse/ComboButton.h"

#include <QContextMenuEvent>
#include <QMouseEvent>

TComboButton::TComboButton(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(false);
    setCursor(Qt::ArrowCursor);
}

void TComboButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QToolButton::mouseReleaseEvent(event);
}

void TComboButton::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}
