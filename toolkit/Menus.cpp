#include "toolkit/Menus.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QVariant>

namespace {
const char* const kPopupProperty = "_velkaro_popup";

// Shift+F10 opens the context menu of the focused control, as the Menu key does: a keyboard
// context-menu event at the control's text cursor or current item.
class TMenuKeyFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() &
            (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (key->key() != Qt::Key_F10 || mods != Qt::ShiftModifier) return false;
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr) target = static_cast<QWidget*>(watched);
        if (!target->isEnabled()) return true;
        QPoint pos = target->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        if (!target->rect().contains(pos)) pos = target->rect().center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, pos, target->mapToGlobal(pos),
                                    key->modifiers());
        QApplication::sendEvent(target, &menuEvent);
        return true;
    }
};

void InstallMenuKeyFilter() {
    static QPointer<TMenuKeyFilter> filter;
    if (filter != nullptr || qApp == nullptr) return;
    filter = new TMenuKeyFilter(qApp);
    qApp->installEventFilter(filter);
}

}  // namespace

TMenuItem::TMenuItem(const QString& name, const QString& caption, QObject* parent)
    : QAction(parent) {
    setObjectName(name);
    SetCaption(caption);
    // Connected first, so the state is put back before any handler sees the click.
    connect(this, &QAction::triggered, this, &TMenuItem::Triggered);
}

void TMenuItem::SetCaption(const QString& value) {
    if (value == caption_ && !caption_.isNull()) return;
    caption_ = value;
    // A separator line shows no text of its own.
    const bool separator = value == QLatin1String("-");
    setText(separator ? QString() : value);
    setSeparator(separator);
}

void TMenuItem::SetChecked(bool value) {
    if (value == checked_ && isCheckable() == value) return;
    checked_ = value;
    // Only a checked item is checkable, so an unchecked one shows no empty box.
    setCheckable(value);
    QAction::setChecked(value);
}

void TMenuItem::SetEnabled(bool value) {
    if (value == isEnabled()) return;
    setEnabled(value);
}

void TMenuItem::Click() {
    if (isEnabled() && !isSeparator()) trigger();
}

void TMenuItem::Triggered() {
    // QAction toggles a checkable action before emitting triggered; put the mark back.
    if (QAction::isChecked() != checked_) QAction::setChecked(checked_);
    emit OnClick();
}

TPopupMenu::TPopupMenu(const QString& name, QWidget* parent) : QMenu(parent) {
    setObjectName(name);
}

TMenuItem* TPopupMenu::Add(const QString& name, const QString& caption) {
    auto* item = new TMenuItem(name, caption, this);
    addAction(item);
    items_.append(item);
    return item;
}

TMenuItem* TPopupMenu::Insert(int index, const QString& name, const QString& caption) {
    if (index < 0 || index >= items_.size()) return Add(name, caption);
    auto* item = new TMenuItem(name, caption, this);
    insertAction(items_.at(index), item);
    items_.insert(index, item);
    return item;
}

TMenuItem* TPopupMenu::FindItem(const QString& name) const {
    for (TMenuItem* item : items_)
        if (item->objectName() == name) return item;
    return nullptr;
}

void TPopupMenu::Popup(const QPoint& globalPos) {
    if (items_.isEmpty()) return;
    popup(globalPos);
}

void SetPopupMenu(QWidget* widget, TPopupMenu* menu) {
    if (widget == nullptr) return;
    QObject::disconnect(widget, &QWidget::customContextMenuRequested, nullptr, nullptr);
    widget->setProperty(kPopupProperty, QVariant::fromValue(static_cast<QObject*>(menu)));
    if (menu == nullptr) {
        widget->setContextMenuPolicy(Qt::DefaultContextMenu);
        return;
    }
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    InstallMenuKeyFilter();
    QObject::connect(widget, &QWidget::customContextMenuRequested, menu,
                     [widget, menu](const QPoint& pos) {
                         // Scroll areas report the position in their viewport's coordinates.
                         const QWidget* origin = widget;
                         if (auto* area = qobject_cast<QAbstractScrollArea*>(widget))
                             origin = area->viewport();
                         menu->Popup(origin->mapToGlobal(pos));
                     });
}

TPopupMenu* PopupMenuOf(const QWidget* widget) {
    if (widget == nullptr) return nullptr;
    return qobject_cast<TPopupMenu*>(widget->property(kPopupProperty).value<QObject*>());
}
