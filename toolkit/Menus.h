#pragma once
// Popup menus and their items, thin wrappers of QMenu and QAction.
//
// An item's objectName is its component name. The caption "-" makes a separator line. Items
// never check themselves: a click leaves Checked as it was and emits OnClick; the handler sets
// whatever check marks it owns.
#include <QAction>
#include <QList>
#include <QMenu>
#include <QPoint>
#include <QString>

class TMenuItem : public QAction {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

  public:
    TMenuItem(const QString& name, const QString& caption, QObject* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& value);
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value);
    int Tag() const { return tag_; }
    void SetTag(int value) { tag_ = value; }

    // Runs the item's command as a click would (only when enabled).
    void Click();

  signals:
    void OnClick();

  private:
    void Triggered();

    QString caption_;
    bool checked_ = false;
    int tag_ = 0;
};

class TPopupMenu : public QMenu {
    Q_OBJECT

  public:
    explicit TPopupMenu(const QString& name, QWidget* parent = nullptr);

    // Appends an item (owned by the menu); a caption "-" gives a separator.
    TMenuItem* Add(const QString& name, const QString& caption);
    // Inserts an item (owned by the menu) before the item at index; past the end it appends.
    TMenuItem* Insert(int index, const QString& name, const QString& caption);
    // Appends an item and connects its click to a handler.
    template <class Receiver, class Slot>
    TMenuItem* Add(const QString& name, const QString& caption, Receiver* receiver, Slot slot) {
        TMenuItem* item = Add(name, caption);
        connect(item, &TMenuItem::OnClick, receiver, slot);
        return item;
    }

    const QList<TMenuItem*>& Items() const { return items_; }
    // The item of that component name, or null.
    TMenuItem* FindItem(const QString& name) const;

    // Shows the menu at a global screen position; an empty menu shows nothing.
    void Popup(const QPoint& globalPos);

  private:
    QList<TMenuItem*> items_;
};

// Makes a right click on the widget open the menu (nothing at all for an empty menu, so the
// click does not reach the parent's menu either). The Menu key and Shift+F10 open it too while
// the widget has the focus. A null menu restores the default, which
// passes the click on to the parent widget.
void SetPopupMenu(QWidget* widget, TPopupMenu* menu);
// The menu set on the widget, or null.
TPopupMenu* PopupMenuOf(const QWidget* widget);
