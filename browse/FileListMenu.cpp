#include "browse/FileListMenu.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QStyle>

#include "browse/FileListView.h"
#include "browse/MessageCatalogue.h"
#include "browse/ShellHelpers.h"

namespace {

// The menu's pictures: the desktop's icon theme, with the style's standard pictures where the
// theme has none.
QIcon MenuIcon(const char* resource) {
    struct Entry {
        const char* resource;
        const char* theme;
        QStyle::StandardPixmap fallback;
    };
    static const Entry entries[] = {
        {"Open28", "document-open", QStyle::SP_DialogOpenButton},
        {"View28", "document-preview", QStyle::SP_FileDialogContentsView},
        {"SendTo28", "document-send", QStyle::SP_ArrowForward},
        {"Cut28", "edit-cut", QStyle::SP_DialogDiscardButton},
        {"Copy28", "edit-copy", QStyle::SP_FileIcon},
        {"Paste28", "edit-paste", QStyle::SP_DialogSaveButton},
        {"ReName28", "edit-rename", QStyle::SP_FileDialogDetailedView},
        {"Delete28", "edit-delete", QStyle::SP_TrashIcon},
        {"Attributes28", "document-properties", QStyle::SP_FileDialogInfoView},
        {"NewFolder28", "folder-new", QStyle::SP_FileDialogNewFolder},
        {"AnyFolder28", "folder", QStyle::SP_DirIcon},
        {"ClipBoard28", "edit-paste", QStyle::SP_FileIcon},
        {"DeskTop28", "user-desktop", QStyle::SP_DesktopIcon},
    };
    for (const Entry& e : entries) {
        if (qstrcmp(e.resource, resource) != 0) continue;
        const QIcon themed = QIcon::fromTheme(QLatin1String(e.theme));
        if (!themed.isNull()) return themed;
        if (QStyle* style = QApplication::style()) return style->standardIcon(e.fallback);
    }
    return {};
}

bool IsDesktopFile(const QString& path) {
    return path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive);
}

// One key of a desktop entry's [Desktop Entry] group.
QString DesktopValue(const QString& path, const char* key) {
    QSettings entry(path, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const QVariant value = entry.value(QLatin1String(key));
    // QSettings splits unquoted values at commas into lists.
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(u',');
    return value.toString();
}

}  // namespace

TFileListMenu::TFileListMenu(TFileListView* list, TLanguage language)
    : TPopupMenu(QStringLiteral("FilelistPopUp"), list), list_(list), language_(language) {
    ItemOpen = AddItem(this, QStringLiteral("ItemOpen"), crMenuOpen, "Open28", 1);
    ItemView = AddItem(this, QStringLiteral("ItemView"), crMenuView, "View28", 2);
    Add(QString(), QStringLiteral("-"));
    SubMenuSend = AddItem(this, QStringLiteral("SubMenuSend"), crMenuSendTo, "SendTo28", 3);
    Add(QString(), QStringLiteral("-"));
    ItemOpCut = AddItem(this, QStringLiteral("ItemOpCut"), crMenuCut, "Cut28", 4);
    ItemOpCopy = AddItem(this, QStringLiteral("ItemOpCopy"), crMenuCopy, "Copy28", 5);
    ItemOpPaste = AddItem(this, QStringLiteral("ItemOpPaste"), crMenuPaste, "Paste28", 6);
    Add(QString(), QStringLiteral("-"));
    ItemRename = AddItem(this, QStringLiteral("ItemRename"), crMenuRename, "ReName28", 7);
    ItemDelete = AddItem(this, QStringLiteral("ItemDelete"), crMenuDelete, "Delete28", 8);
    Add(QString(), QStringLiteral("-"));
    ItemProperty =
        AddItem(this, QStringLiteral("ItemProperty"), crMenuProperties, "Attributes28", 9);
    Add(QString(), QStringLiteral("-"));
    ItemFolder = AddItem(this, QStringLiteral("ItemFolder"), crMenuNewFolder, "NewFolder28", 10);

    SendMenu = new TPopupMenu(QStringLiteral("SendMenu"), this);
    SubMenuSend->setMenu(SendMenu);
    AddItem(SendMenu, QStringLiteral("Send_To0"), crSendAnyFolder, "AnyFolder28", 30);
    AddItem(SendMenu, QStringLiteral("Send_To1"), crSendClipContents, "ClipBoard28", 31);
    AddItem(SendMenu, QStringLiteral("Send_To2"), crSendClipFileName, "ClipBoard28", 32);
    AddItem(SendMenu, QStringLiteral("Send_To3"), crSendDesktopShortcut, "DeskTop28", 33);
    const QString sendTo = SpecialFolder(sfSendTo);
    if (!sendTo.isEmpty()) {
        for (const QString& path : SendToEntries(sendTo)) {
            const int position = 4 + static_cast<int>(shortcutPaths_.size());
            TMenuItem* item =
                SendMenu->Add(QStringLiteral("Send_To%1").arg(position), SendToCaption(path));
            item->SetTag(position + 30);
            const QString icon = IsDesktopFile(path) ? DesktopValue(path, "Icon") : QString();
            item->setIcon(icon.isEmpty() ? TSystemImageList::Instance().Icon(SmallIconIndex(path))
                                         : QIcon::fromTheme(icon));
            connect(item, &TMenuItem::OnClick, this, [this, item] { ItemClick(item); });
            shortcutPaths_.append(path);
        }
    }
}

TMenuItem* TFileListMenu::AddItem(TPopupMenu* menu, const QString& name, int row, const char* icon,
                                  int tag) {
    TMenuItem* item = menu->Add(name, CatalogueText(language_, row));
    item->SetTag(tag);
    item->setIcon(MenuIcon(icon));
    connect(item, &TMenuItem::OnClick, this, [this, item] { ItemClick(item); });
    return item;
}

QStringList TFileListMenu::SendToEntries(const QString& folder) {
    QStringList entries;
    const QDir dir(folder);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (IsDesktopFile(info.fileName()) || info.isSymLink())
            entries.append(info.absoluteFilePath());
    }
    return entries;
}

QString TFileListMenu::SendToCaption(const QString& path) {
    if (IsDesktopFile(path)) {
        const QString name = DesktopValue(path, "Name");
        if (!name.isEmpty()) return name;
        return NameWithoutExt(path);
    }
    return LastName(path);
}

bool TFileListMenu::HasContentsExtension(const QString& path) {
    static const QStringList extensions = {".C",   ".CPP", ".DPK", ".DPR", ".H",
                                           ".INF", ".INI", ".PAS", ".PRG", ".TXT",
                                           ".DOC", ".RTF", ".WRI", ".BMP", ".WMF"};
    const QString name = LastName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && extensions.contains(name.mid(dot).toUpper());
}

void TFileListMenu::UpdateEnabled() {
    int selected = 0;
    QString first;
    for (int row = 0; row < list_->ItemCount(); ++row) {
        if (!list_->ItemSelected(row)) continue;
        if (selected++ == 0) first = list_->ItemSubItem(row, 4);
    }
    const bool any = selected > 0;
    ItemOpen->SetEnabled(any);
    ItemView->SetEnabled(any && TFileListView::HasViewer(first));
    SubMenuSend->SetEnabled(any);
    ItemOpCut->SetEnabled(any);
    ItemOpCopy->SetEnabled(any);
    ItemOpPaste->SetEnabled(list_->CanPaste());
    ItemRename->SetEnabled(selected == 1);
    ItemDelete->SetEnabled(any);
    ItemProperty->SetEnabled(any);
    ItemFolder->SetEnabled(
        list_->Directory().compare(QLatin1String("DRIVES"), Qt::CaseInsensitive) != 0);
    const QList<TMenuItem*>& send = SendMenu->Items();
    for (TMenuItem* item : send) {
        const int tag = item->Tag();
        if (tag == 31)
            item->SetEnabled(selected == 1 && HasContentsExtension(first));
        else if (tag >= 30 && tag <= 33)
            item->SetEnabled(any);
        else
            item->SetEnabled(true);
    }
}

void TFileListMenu::Popup(const QPoint& globalPos) {
    UpdateEnabled();
    TPopupMenu::Popup(globalPos + QPoint(10, 10));
}

void TFileListMenu::ItemClick(TMenuItem* item) {
    if (item == nullptr || item->objectName().isEmpty() || item->Tag() == 0) return;
    const QString name = item->objectName();
    if (name.startsWith(QLatin1String("Send_To"))) {
        bool ok = false;
        const int n = name.mid(7, 2).toInt(&ok);
        if (!ok || n < 0) return;
        switch (n) {
            case 0:
                list_->SendToAnyFolder();
                return;
            case 1:
                list_->CopyContentsToClipboard();
                return;
            case 2:
                list_->CopyNamesToClipboard();
                return;
            case 3:
                list_->CreateDesktopShortcut();
                return;
            default:
                if (n - 4 < shortcutPaths_.size()) list_->SendToShortcut(shortcutPaths_[n - 4]);
                return;
        }
    }
    switch (item->Tag()) {
        case 1:
            list_->OpenSelected();
            break;
        case 2:
            list_->ViewSelected();
            break;
        case 4:
            list_->CutSelected();
            break;
        case 5:
            list_->CopySelected();
            break;
        case 6:
            list_->PasteFiles();
            break;
        case 7:
            list_->RenameSelected();
            break;
        case 8:
            list_->DeleteSelected();
            break;
        case 9:
            list_->ShowSelectedProperties();
            break;
        case 10:
            list_->CreateFolder();
            break;
        default:  // 3: the submenu opens by itself
            break;
    }
}
