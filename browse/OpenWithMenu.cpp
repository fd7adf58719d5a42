#include "browse/OpenWithMenu.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QInputDialog>
#include <QMenu>

#include "browse/OpenWith.h"
#include "browse/ShellHelpers.h"

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("OpenWith", text);
}

void Run(QWidget* owner, const QString& exec, const QString& file) {
    if (OpenWith::Launch(exec, file)) return;
    ShowBrowseMessage(
        mkError, Tr("Cannot start \"%1\" to open \"%2\".").arg(exec, QFileInfo(file).fileName()),
        owner);
}

QIcon ApplicationIcon(const QString& icon) {
    if (icon.isEmpty()) return {};
    return icon.startsWith(u'/') ? QIcon(icon) : QIcon::fromTheme(icon);
}

}  // namespace

void FillOpenWithMenu(QMenu* menu, const QString& file) {
    menu->clear();
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        menu->addAction(Tr("(no file)"))->setEnabled(false);
        return;
    }
    QWidget* owner = menu->parentWidget();
    const QList<TDesktopApplication> apps = OpenWith::ApplicationsForFile(file);
    for (const TDesktopApplication& app : apps) {
        QString caption = app.name;
        caption.replace(u'&', QStringLiteral("&&"));
        if (app.isDefault) caption += Tr(" (default)");
        QAction* action = menu->addAction(ApplicationIcon(app.icon), caption);
        const QString exec = app.exec;
        QObject::connect(action, &QAction::triggered, menu,
                         [owner, exec, file] { Run(owner, exec, file); });
    }
    if (!apps.isEmpty()) menu->addSeparator();
    QAction* other = menu->addAction(Tr("Other Application..."));
    QObject::connect(other, &QAction::triggered, menu, [owner, file] {
        bool ok = false;
        const QString command = QInputDialog::getText(
            owner, Tr("Open With"),
            Tr("Command to open \"%1\" with:").arg(QFileInfo(file).fileName()), QLineEdit::Normal,
            QString(), &ok);
        if (ok && !command.trimmed().isEmpty()) Run(owner, command.trimmed(), file);
    });
}

QMenu* CreateOpenWithMenu(QWidget* parent, std::function<QString()> file) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("OpenWithSubmenu"));
    QObject::connect(menu, &QMenu::aboutToShow, menu,
                     [menu, file = std::move(file)] { FillOpenWithMenu(menu, file()); });
    return menu;
}

void PopupOpenWithMenu(QWidget* parent, const QString& file, const QPoint& at) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("OpenWithPopup"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    FillOpenWithMenu(menu, file);
    menu->popup(at);
}

bool HasDefaultApplication(const QString& file) {
    const QList<TDesktopApplication> apps = OpenWith::ApplicationsForFile(file);
    return !apps.isEmpty() && apps.first().isDefault;
}
