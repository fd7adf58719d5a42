#pragma once
// TComboButton: the folder combo's drop-down button, an ordinary tool button that swallows
// right-button releases.
#include <QToolButton>

class TComboButton : public QToolButton {
    Q_OBJECT

  public:
    explicit TComboButton(QWidget* parent = nullptr);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
