#pragma once
// TFileListMenu: the file list's own context menu. Open, view, a send-to submenu,
// cut, copy, paste, rename, delete, properties and new folder, acting on the selected rows of
// the owning list. Each item's Tag names its action; the enabled states are set each time the
// menu opens.
//
// The send-to submenu ends with one item per entry of the user's send-to folder
// (<data dir>/velkaro/SendTo): a ".desktop" file (a link to a folder, or a program that is
// run with the selected file) or a symbolic link to a folder or program. Those items are made
// when the menu is built.
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "browse/Language.h"
#include "toolkit/Menus.h"

class TFileListView;

class TFileListMenu : public TPopupMenu {
    Q_OBJECT

  public:
    TFileListMenu(TFileListView* list, TLanguage language);

    TMenuItem* ItemOpen = nullptr;
    TMenuItem* ItemView = nullptr;
    TMenuItem* SubMenuSend = nullptr;
    TMenuItem* ItemOpCut = nullptr;
    TMenuItem* ItemOpCopy = nullptr;
    TMenuItem* ItemOpPaste = nullptr;
    TMenuItem* ItemRename = nullptr;
    TMenuItem* ItemDelete = nullptr;
    TMenuItem* ItemProperty = nullptr;
    TMenuItem* ItemFolder = nullptr;
    // The send-to submenu: Send_To0 .. Send_To3, then Send_To4, ... for the shortcuts.
    TPopupMenu* SendMenu = nullptr;

    // Full paths of the send-to shortcuts, in menu order (item Send_To(n) uses entry n - 4).
    const QStringList& ShortcutPaths() const { return shortcutPaths_; }

    // Sets the enabled state of every item from the list's state.
    void UpdateEnabled();
    // Sets the enabled states, then shows the menu at x + 10, y + 10 (global coordinates).
    void Popup(const QPoint& globalPos);
    // Runs an item's action by its tag and name.
    void ItemClick(TMenuItem* item);

    // The send-to entries of a folder, in name order: ".desktop" files and symbolic links.
    static QStringList SendToEntries(const QString& folder);
    // The caption of a send-to entry: a desktop file's Name, else the file name.
    static QString SendToCaption(const QString& path);

    // The extensions "Clipboard as Contents" accepts.
    static bool HasContentsExtension(const QString& path);

  private:
    TMenuItem* AddItem(TPopupMenu* menu, const QString& name, int row, const char* icon, int tag);

    TFileListView* list_;
    TLanguage language_;
    QStringList shortcutPaths_;
};
