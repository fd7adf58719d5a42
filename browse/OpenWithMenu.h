#pragma once
// The "Open With" submenu: the desktop applications registered for a file's type, the default
// one first, then "Other Application..." which asks for a command. It is filled each time it
// opens, for the file the window names then.
#include <QString>
#include <functional>

class QMenu;
class QPoint;
class QWidget;

// A submenu owned by parent; file() names the file it is for (empty: the menu offers nothing).
QMenu* CreateOpenWithMenu(QWidget* parent, std::function<QString()> file);
// Fills menu with the choices for file.
void FillOpenWithMenu(QMenu* menu, const QString& file);
// Offers the choices for file as a menu of its own at the screen position (Enter on a file whose
// type has no default application). The menu deletes itself when closed.
void PopupOpenWithMenu(QWidget* parent, const QString& file, const QPoint& at);
// Whether the desktop sets a default application for the file's type.
bool HasDefaultApplication(const QString& file);
