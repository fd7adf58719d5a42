// The file list's file operations and its own menu: copy, cut and paste through the clipboard
// in the file managers' formats, drops, delete, rename in place, new folders, send-to, and the
// menu's enabling rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "browse/FileClipboard.h"
#include "browse/FileListMenu.h"
#include "browse/FileListView.h"
#include "browse/MessageCatalogue.h"
#include "browse/SendToDialog.h"
#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"

namespace {

using List = TFileListView;
using filelisttest::RowOf;

class FileListCommandsTest : public filelisttest::TUserSettingsTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        oldCurrent_ = QDir::currentPath();
        // Desktop, trash and send-to folder inside the temporary folder.
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            saved_.append({name, qgetenv(name)});
        qputenv("HOME", QFile::encodeName(root_ + "home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root_ + "home/.local/share"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root_ + "home/.config"));
        QDir().mkpath(root_ + "home/.local/share");
        SetMessageHook([this](TMsgKind kind, const QString& text) {
            messages_ << text;
            return kind == mkConfirmation ? confirm_ : true;
        });
        TFileOpPrompts& p = FileOpPrompts();
        p.ShowProgress = false;
        p.ConfirmDelete = [](const QStringList&) { return true; };
        p.Conflict = [](const QString&, const QString&, bool) { return caSkip; };
        p.Error = [this](const QString& message) { errors_ << message; };
        SetLaunchHook([this](const QString& verb, const QString& file, const QString& params,
                             const QString& work) {
            launches_ << verb + "|" + file + "|" + params + "|" + work;
            return 42;
        });
        FileTransferMode() = tmCopy;
        QApplication::clipboard()->clear();
    }
    void TearDown() override {
        SetMessageHook(nullptr);
        SetLaunchHook(nullptr);
        SetPickFolderHook(nullptr);
        TSendToDialog::ExecHook = nullptr;
        ResetFileOpPrompts();
        ResetMessageTable();
        QDir::setCurrent(oldCurrent_);
        for (const auto& [name, value] : saved_)
            qputenv(name, value);
    }

    QString Write(const QString& rel, const QByteArray& data = "x") {
        EXPECT_TRUE(filelisttest::WriteFile(root_ + rel, data)) << rel.toStdString();
        return root_ + rel;
    }
    QByteArray Read(const QString& rel) const { return filelisttest::ReadFile(root_ + rel); }
    bool Exists(const QString& rel) const { return QFileInfo::exists(root_ + rel); }

    std::unique_ptr<List> MakeList(const QString& folder) {
        auto list = std::make_unique<List>();
        list->resize(600, 400);
        list->show();
        QApplication::processEvents();
        list->SetDirectory(root_ + folder);
        return list;
    }
    static void Select(List& list, const QStringList& captions) {
        list.View()->selectionModel()->clearSelection();
        for (const QString& c : captions) {
            ASSERT_GE(RowOf(list, c), 0) << c.toStdString();
            list.SetItemSelected(RowOf(list, c), true);
        }
    }
    // A key press without its release.
    static void Key(List& list, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        filelisttest::PressKey(list, key, mods, false);
    }

    QTemporaryDir tmp_;
    QString root_;
    QString oldCurrent_;
    QList<std::pair<const char*, QByteArray>> saved_;
    QStringList messages_;
    QStringList errors_;
    QStringList launches_;
    bool confirm_ = true;
};

}  // namespace

TEST_F(FileListCommandsTest, ClipboardFormatsRoundTrip) {
    const QStringList paths = {"/tmp/a b.txt", "/tmp/ünï/c#d.txt"};
    std::unique_ptr<QMimeData> cut(MakeFileListMimeData(paths, true));
    EXPECT_EQ(cut->data(GnomeCopiedFilesMime),
              "cut\nfile:///tmp/a%20b.txt\nfile:///tmp/%C3%BCn%C3%AF/c%23d.txt");
    EXPECT_EQ(cut->data(UriListMime),
              "file:///tmp/a%20b.txt\r\nfile:///tmp/%C3%BCn%C3%AF/c%23d.txt\r\n");
    EXPECT_EQ(cut->data(KdeCutSelectionMime), "1");
    TFileList back = ReadFileList(cut.get());
    EXPECT_EQ(back.Paths, paths);
    EXPECT_TRUE(back.HasMode && back.Cut && back.Own);

    // What file managers write: a copy list, and a bare URL list from a drag.
    QMimeData nautilus;
    nautilus.setData(GnomeCopiedFilesMime, "copy\nfile:///srv/x.txt\nfile://localhost/srv/y");
    back = ReadFileList(&nautilus);
    EXPECT_EQ(back.Paths, QStringList({"/srv/x.txt", "/srv/y"}));
    EXPECT_TRUE(back.HasMode);
    EXPECT_FALSE(back.Cut || back.Own);
    QMimeData drag;
    drag.setData(UriListMime,
                 "# comment\r\nfile:///srv/z\r\nhttp://example.org/w\r\n"
                 "file://otherhost/v\r\n");
    back = ReadFileList(&drag);
    EXPECT_EQ(back.Paths, QStringList({"/srv/z"}));
    EXPECT_FALSE(back.HasMode);
    QMimeData kde;
    kde.setData(UriListMime, "file:///k\n");
    kde.setData(KdeCutSelectionMime, "1");
    EXPECT_TRUE(ReadFileList(&kde).Cut);
    EXPECT_TRUE(ReadFileList(nullptr).Paths.isEmpty());
}

TEST_F(FileListCommandsTest, CopyAndPasteThroughTheClipboard) {
    Write("src/a.txt", "alpha");
    Write("src/sub/inner.txt", "inner");
    QDir().mkpath(root_ + "dst");
    auto list = MakeList("src");
    Select(*list, {" Parent", "a.txt", "sub"});
    Key(*list, Qt::Key_C, Qt::ControlModifier);
    // The parent row is never part of a transfer.
    EXPECT_FALSE(list->ItemSelected(RowOf(*list, " Parent")));
    // In row order: folders before files.
    EXPECT_EQ(list->TransferList(), QStringList({root_ + "src/sub", root_ + "src/a.txt"}));
    const TFileList clip = ClipboardFileList();
    EXPECT_EQ(clip.Paths, list->TransferList());
    EXPECT_FALSE(clip.Cut);

    list->SetDirectory(root_ + "dst");
    Key(*list, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Read("dst/a.txt"), "alpha");
    EXPECT_EQ(Read("dst/sub/inner.txt"), "inner");
    EXPECT_EQ(Read("src/a.txt"), "alpha");
    EXPECT_TRUE(list->TransferList().isEmpty());
    EXPECT_GE(RowOf(*list, "a.txt"), 0);

    // Pasting into the folder the files are in is refused; nothing is overwritten.
    messages_.clear();
    Select(*list, {"a.txt"});
    list->CopySelected();
    list->PasteFiles();
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains("already in this folder"));
    EXPECT_EQ(QDir(root_ + "dst").entryList(QDir::Files), QStringList({"a.txt"}));

    // A folder into itself is refused too.
    errors_.clear();
    list->SetDirectory(root_ + "src");
    Select(*list, {"sub"});
    list->CopySelected();
    list->SetDirectory(root_ + "src/sub");
    list->PasteFiles();
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_FALSE(Exists("src/sub/sub"));
}

TEST_F(FileListCommandsTest, CutPastesAsAMoveAndTheSecondPasteLosesNothing) {
    Write("src/a.txt", "alpha");
    Write("src/b.txt", "beta");
    QDir().mkpath(root_ + "dst");
    auto list = MakeList("src");
    Select(*list, {"a.txt"});
    Key(*list, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(FileTransferMode(), tmMove);
    EXPECT_TRUE(ClipboardFileList().Cut);  // a file manager pasting this moves the file
    // The cut file is dimmed until it is pasted; a copy dims nothing.
    EXPECT_TRUE(list->ItemDimmed(RowOf(*list, "a.txt")));
    EXPECT_FALSE(list->ItemDimmed(RowOf(*list, "b.txt")));
    EXPECT_TRUE(
        list->View()->model()->index(RowOf(*list, "a.txt"), 0).data(Qt::ForegroundRole).isValid());
    Select(*list, {"b.txt"});
    list->CopySelected();
    EXPECT_FALSE(list->ItemDimmed(RowOf(*list, "a.txt")));
    Select(*list, {"a.txt"});
    list->CutSelected();
    list->SetDirectory(root_ + "dst");
    list->PasteFiles();
    EXPECT_FALSE(Exists("src/a.txt"));
    EXPECT_EQ(Read("dst/a.txt"), "alpha");

    // The cut ends with its paste: a second paste has nothing to move.
    EXPECT_EQ(FileTransferMode(), tmCopy);
    list->SetDirectory(root_);
    messages_.clear();
    list->PasteFiles();
    EXPECT_EQ(messages_, QStringList({"No file(s) selected"}));
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(Read("dst/a.txt"), "alpha");
    EXPECT_FALSE(Exists("a.txt"));
}

TEST_F(FileListCommandsTest, FilesFromAFileManagerPasteWithTheirMode) {
    Write("outside/copied.txt", "c");
    Write("outside/cut.txt", "m");
    QDir().mkpath(root_ + "dst");
    auto list = MakeList("dst");
    auto* copied = new QMimeData;
    copied->setData(GnomeCopiedFilesMime,
                    "copy\n" + QUrl::fromLocalFile(root_ + "outside/copied.txt").toEncoded());
    QApplication::clipboard()->setMimeData(copied);
    EXPECT_TRUE(list->CanPaste());
    list->PasteFiles();
    EXPECT_EQ(Read("dst/copied.txt"), "c");
    EXPECT_TRUE(Exists("outside/copied.txt"));

    auto* cut = new QMimeData;
    cut->setData(GnomeCopiedFilesMime,
                 "cut\n" + QUrl::fromLocalFile(root_ + "outside/cut.txt").toEncoded());
    QApplication::clipboard()->setMimeData(cut);
    list->PasteFiles();
    EXPECT_EQ(Read("dst/cut.txt"), "m");
    EXPECT_FALSE(Exists("outside/cut.txt"));

    // Nothing to paste.
    QApplication::clipboard()->clear();
    messages_.clear();
    EXPECT_FALSE(list->CanPaste());
    list->PasteFiles();
    EXPECT_EQ(messages_, QStringList({"No file(s) selected"}));
}

TEST_F(FileListCommandsTest, DroppedFilesAreCopiedIntoTheShownFolder) {
    Write("outside/dropped.txt", "d");
    QDir().mkpath(root_ + "dst");
    QWidget window;
    auto* list = new List(&window);
    window.resize(400, 300);
    list->resize(400, 300);
    window.show();
    QApplication::processEvents();
    list->SetDirectory(root_ + "dst");
    FileTransferMode() = tmMove;
    EXPECT_TRUE(window.acceptDrops());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(root_ + "outside/dropped.txt")});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(Read("dst/dropped.txt"), "d");
    EXPECT_TRUE(Exists("outside/dropped.txt"));  // a drop copies
    EXPECT_EQ(FileTransferMode(), tmCopy);
    EXPECT_GE(RowOf(*list, "dropped.txt"), 0);
}

TEST_F(FileListCommandsTest, DeleteToTheTrashAndForGood) {
    Write("work/a.txt");
    Write("work/b.txt");
    Write("work/c.txt");
    Write("work/dir/inner.txt");
    auto list = MakeList("work");
    Select(*list, {"a.txt"});
    Key(*list, Qt::Key_Delete);
    EXPECT_FALSE(Exists("work/a.txt"));
    EXPECT_EQ(QDir(root_ + "home/.local/share/Trash/files").entryList(QDir::Files),
              QStringList({"a.txt"}));

    // Shift+Delete asks for each file; a No keeps it; a folder stops the loop.
    int passedOn = 0;
    QObject::connect(list.get(), &List::OnKeyDown, [&](QObject*, int key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Delete) ++passedOn;
    });
    messages_.clear();
    confirm_ = false;
    Select(*list, {"b.txt"});
    Key(*list, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(Exists("work/b.txt"));
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_EQ(messages_[0], "Are you sure you want to permanently delete file\n  \"b.txt\"?");
    EXPECT_EQ(passedOn, 1);
    confirm_ = true;
    Select(*list, {"dir", "b.txt", "c.txt"});
    Key(*list, Qt::Key_Delete, Qt::ShiftModifier);  // the folder comes first: nothing happens
    EXPECT_TRUE(Exists("work/b.txt"));
    EXPECT_EQ(passedOn, 1);
    Select(*list, {"b.txt", "c.txt"});
    Key(*list, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_FALSE(Exists("work/b.txt"));
    EXPECT_FALSE(Exists("work/c.txt"));
    EXPECT_EQ(QDir(root_ + "home/.local/share/Trash/files").entryList(QDir::Files).size(), 1);
    EXPECT_EQ(passedOn, 2);
    EXPECT_TRUE(Exists("work/dir/inner.txt"));
}

TEST_F(FileListCommandsTest, RenameInPlace) {
    Write("work/a.txt", "a");
    Write("work/b.txt", "b");
    auto list = MakeList("work");
    Select(*list, {"a.txt"});
    Key(*list, Qt::Key_F2);
    ASSERT_TRUE(list->EditingCaption());
    EXPECT_EQ(list->OldPath(), root_ + "work/a.txt");
    EXPECT_EQ(list->CaptionEditor()->selectedText(), "a");
    list->CaptionEditor()->setText("renamed.txt");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list->CaptionEditor(), &enter);
    EXPECT_FALSE(list->EditingCaption());
    EXPECT_EQ(Read("work/renamed.txt"), "a");
    EXPECT_FALSE(Exists("work/a.txt"));
    EXPECT_GE(RowOf(*list, "renamed.txt"), 0);

    // To an existing name: the message, and nothing changes.
    Select(*list, {"renamed.txt"});
    list->RenameSelected();
    list->CaptionEditor()->setText("b.txt");
    list->EndEditCaption(true);
    EXPECT_EQ(messages_, QStringList({"\"b.txt\" already exists !"}));
    EXPECT_EQ(Read("work/b.txt"), "b");
    EXPECT_EQ(Read("work/renamed.txt"), "a");

    // Esc keeps the name; a change of letter case is a rename here.
    Select(*list, {"b.txt"});
    list->RenameSelected();
    list->CaptionEditor()->setText("zzz");
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(list->CaptionEditor(), &esc);
    EXPECT_TRUE(Exists("work/b.txt"));
    Select(*list, {"b.txt"});
    list->RenameSelected();
    list->CaptionEditor()->setText("B.txt");
    list->EndEditCaption(true);
    EXPECT_EQ(Read("work/B.txt"), "b");

    // A read-only list refuses.
    messages_.clear();
    list->SetReadOnly(true);
    Select(*list, {"B.txt"});
    Key(*list, Qt::Key_F2);
    EXPECT_FALSE(list->EditingCaption());
    EXPECT_EQ(messages_, QStringList({"Files cannot be renamed in this list: it is read-only."}));
}

TEST_F(FileListCommandsTest, NewFoldersAreNumberedAndEditedAtOnce) {
    QDir().mkpath(root_ + "work/New Folder");
    QDir().mkpath(root_ + "work/New Folder(2)");
    auto list = MakeList("work");
    Key(*list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(QFileInfo(root_ + "work/New Folder(3)").isDir());
    ASSERT_TRUE(list->EditingCaption());
    EXPECT_EQ(list->OldPath(), root_ + "work/New Folder(3)");
    EXPECT_TRUE(list->ItemSelected(RowOf(*list, "New Folder(3)")));
    list->CaptionEditor()->setText("Photos");
    list->EndEditCaption(true);
    EXPECT_TRUE(QFileInfo(root_ + "work/Photos").isDir());
    // Nothing in the drive list.
    list->SetDirectory("Drives");
    list->CreateFolder();
    EXPECT_FALSE(list->EditingCaption());
}

TEST_F(FileListCommandsTest, MenuEnablingRules) {
    Write("work/a.txt");
    Write("work/b.xyz");
    Write("work/c.bmp");
    auto list = MakeList("work");
    TFileListMenu* menu = list->PopUp();
    ASSERT_NE(menu, nullptr);
    auto state = [&] {
        QString s;
        for (TMenuItem* item : {menu->ItemOpen, menu->ItemView, menu->SubMenuSend, menu->ItemOpCut,
                                menu->ItemOpCopy, menu->ItemOpPaste, menu->ItemRename,
                                menu->ItemDelete, menu->ItemProperty, menu->ItemFolder})
            s += item->Enabled() ? '1' : '0';
        s += ' ';
        for (TMenuItem* item : menu->SendMenu->Items())
            s += item->Enabled() ? '1' : '0';
        return s;
    };
    struct Case {
        QStringList selected;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "0000000001 0000"},
        {{"a.txt"}, "1111101111 1111"},
        {{"b.xyz"}, "1011101111 1011"},
        {{"a.txt", "c.bmp"}, "1111100111 1011"},
    };
    for (const Case& c : cases) {
        Select(*list, c.selected);
        menu->UpdateEnabled();
        EXPECT_EQ(state(), QString(c.expected)) << c.selected.join(',').toStdString();
    }
    // Paste follows the transfer list; New Folder is off in the drive list.
    Select(*list, {"a.txt"});
    list->CopySelected();
    menu->UpdateEnabled();
    EXPECT_TRUE(menu->ItemOpPaste->Enabled());
    list->SetDirectory("drives");
    menu->UpdateEnabled();
    EXPECT_FALSE(menu->ItemFolder->Enabled());

    // Items and tags in order, captions from the catalogue.
    QStringList names;
    for (TMenuItem* item : menu->Items())
        names << item->objectName() + "=" + QString::number(item->Tag());
    EXPECT_EQ(names.join(' '),
              "ItemOpen=1 ItemView=2 =0 SubMenuSend=3 =0 ItemOpCut=4 ItemOpCopy=5 ItemOpPaste=6 "
              "=0 ItemRename=7 ItemDelete=8 =0 ItemProperty=9 =0 ItemFolder=10");
    EXPECT_EQ(menu->ItemFolder->Caption(), "&New Folder...");
    list->SetLanguage(lnGerman);
    EXPECT_NE(list->PopUp()->ItemOpen->Caption(), "&Open");
}

// The commands a window's menu offers (Open, Cut, Copy, Paste, Delete, Delete Permanently, New
// Folder, Properties), as "1" enabled and "0" disabled.
TEST_F(FileListCommandsTest, WindowMenuCommandRules) {
    Write("work/a.txt");
    QDir().mkpath(root_ + "work/sub");
    QDir().mkpath(root_ + "locked");
    auto list = MakeList("work");
    auto state = [&] {
        QString s;
        for (int a = List::laOpen; a <= List::laProperties; ++a)
            s += list->ActionEnabled(List::TListAction(a)) ? '1' : '0';
        return s;
    };
    struct Case {
        const char* folder;
        QStringList selected;
        bool clipboard;
        const char* expected;
    };
    const Case cases[] = {
        {"work", {}, false, "00000010"},           {"work", {"a.txt"}, false, "11101111"},
        {"work", {"sub"}, true, "11111011"},        // a folder is never deleted for good
        {"work", {" Parent"}, false, "10000010"},   // the parent row is never transferred
        {"locked", {" Parent"}, true, "10000000"},  // nothing is made in an unwritable folder
        {"Drives", {}, true, "00000000"},
    };
    QFile::setPermissions(root_ + "locked", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    for (const Case& c : cases) {
        QApplication::clipboard()->clear();
        list->SetDirectory(QString(c.folder) == "Drives" ? QString("Drives") : root_ + c.folder);
        Select(*list, c.selected);
        if (c.clipboard) PutFileListOnClipboard({QFile::encodeName(root_ + "work/a.txt")}, false);
        if (geteuid() == 0 && QString(c.folder) == "locked") continue;  // root writes anywhere
        EXPECT_EQ(state(), QString(c.expected)) << c.folder << c.selected.join(',').toStdString();
    }
    QFile::setPermissions(root_ + "locked",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // A disabled command does nothing; Alt+Enter is the Properties key.
    list->SetDirectory(root_ + "work");
    Select(*list, {"a.txt"});
    QApplication::clipboard()->clear();
    list->RunAction(List::laPaste);
    EXPECT_TRUE(messages_.isEmpty());
    EXPECT_EQ(List::ActionKey(List::laProperties), QKeySequence(Qt::ALT | Qt::Key_Return));
}

TEST_F(FileListCommandsTest, RightClickOpensTheOwnMenuOnlyInAFolder) {
    auto list = MakeList("");
    EXPECT_TRUE(list->PopUpMenuEnabled());
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(100, 100));
    QApplication::sendEvent(list->View()->viewport(), &event);
    EXPECT_TRUE(list->PopUp()->isVisible());
    EXPECT_EQ(list->PopUp()->pos(), QPoint(110, 110));
    list->PopUp()->hide();
    list->SetDirectory("Drives");
    QContextMenuEvent again(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(100, 100));
    QApplication::sendEvent(list->View()->viewport(), &again);
    EXPECT_FALSE(list->PopUp()->isVisible());
}

TEST_F(FileListCommandsTest, SendToActions) {
    Write("work/a.txt", "alpha");
    Write("work/b.txt", "beta");
    Write("work/c.txt", "gamma");
    QDir().mkpath(root_ + "target");
    auto list = MakeList("work");

    // Clipboard as file names: one line per selected row.
    Select(*list, {"a.txt", "b.txt", "c.txt"});
    list->PopUp()->ItemClick(list->PopUp()->SendMenu->FindItem("Send_To2"));
    EXPECT_EQ(QApplication::clipboard()->text(),
              root_ + "work/a.txt\r\n" + root_ + "work/b.txt\r\n" + root_ + "work/c.txt");
    // Clipboard as contents.
    Select(*list, {"b.txt"});
    list->CopyContentsToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), "beta");

    // Any folder: the dialog's path, then Browse with a picked folder.
    TSendToDialog::ExecHook = [&](TSendToDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Send to any folder");
        EXPECT_EQ(dialog.Label->text(), "Please enter the send_to path");
        EXPECT_EQ(dialog.size(), QSize(333, 135));
        dialog.Edit->setText(root_ + "target");
        return int(QDialog::Accepted);
    };
    list->SendToAnyFolder();
    EXPECT_EQ(Read("target/b.txt"), "beta");
    QStringList shown;
    SetPickFolderHook([&](const QString&) { return root_ + "target/picked"; });
    QDir().mkpath(root_ + "target/picked");
    TSendToDialog::ExecHook = [&](TSendToDialog& dialog) {
        shown << dialog.Edit->text();
        return shown.size() == 1 ? TSendToDialog::BrowseResult : int(QDialog::Accepted);
    };
    list->SendToAnyFolder();
    EXPECT_EQ(shown, QStringList({"", root_ + "target/picked/"}));
    EXPECT_EQ(Read("target/picked/b.txt"), "beta");

    // Desktop shortcut: a link entry on the desktop folder.
    list->CreateDesktopShortcut();
    QFile link(root_ + "home/Desktop/b.desktop");
    ASSERT_TRUE(link.open(QIODevice::ReadOnly));
    const QByteArray text = link.readAll();
    EXPECT_TRUE(text.contains("Type=Link\n"));
    EXPECT_TRUE(text.contains("URL=" + QUrl::fromLocalFile(root_ + "work/b.txt").toEncoded()));

    // Send-to entries: a link to a folder gets copies, a program gets the file.
    const QString sendTo = SpecialFolder(sfSendTo);
    ASSERT_TRUE(sendTo.startsWith(root_ + "home/.local/share/"));
    QFile folderEntry(sendTo + "Backup.desktop");
    ASSERT_TRUE(folderEntry.open(QIODevice::WriteOnly));
    folderEntry.write("[Desktop Entry]\nType=Link\nName=Backup folder\nURL=" +
                      QUrl::fromLocalFile(root_ + "target/backup").toEncoded() + "\n");
    folderEntry.close();
    QDir().mkpath(root_ + "target/backup");
    QFile program(sendTo + "Editor.desktop");
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.write("[Desktop Entry]\nType=Application\nName=Editor\nExec=/bin/true %F\n");
    program.close();
    list->SetLanguage(lnGerman);  // rebuilds the menu, which reads the send-to folder
    TFileListMenu* menu = list->PopUp();
    ASSERT_EQ(menu->ShortcutPaths().size(), 2);
    EXPECT_EQ(menu->SendMenu->FindItem("Send_To4")->Caption(), "Backup folder");
    EXPECT_EQ(menu->SendMenu->FindItem("Send_To5")->Tag(), 35);
    Select(*list, {"a.txt"});
    menu->ItemClick(menu->SendMenu->FindItem("Send_To4"));
    EXPECT_EQ(Read("target/backup/a.txt"), "alpha");
    menu->ItemClick(menu->SendMenu->FindItem("Send_To5"));
    EXPECT_EQ(launches_, QStringList({"Open|/bin/true|\"a.txt\"|" + root_ + "work/"}));

    // View: only extensions of the viewer table.
    launches_.clear();
    list->ViewSelected();
    Write("work/d.xyz");
    list->RebuildList();
    Select(*list, {"d.xyz"});
    list->ViewSelected();
    EXPECT_EQ(launches_, QStringList({"Open|" + root_ + "work/a.txt||" + root_ + "work/"}));
}

TEST_F(FileListCommandsTest, ASlowSecondClickOnTheSelectedRowEditsItsCaption) {
    Write("work/a.txt");
    auto list = MakeList("work");
    const int row = RowOf(*list, "a.txt");
    QAbstractItemView* view = list->View();
    const QPoint pos = view->visualRect(view->model()->index(row, 0)).center();
    auto click = [&](QEvent::Type type) {
        QMouseEvent event(type, pos, view->viewport()->mapToGlobal(pos), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &event);
    };
    auto wait = [] {
        QEventLoop loop;
        QTimer::singleShot(QApplication::doubleClickInterval() + 100, &loop, &QEventLoop::quit);
        loop.exec();
    };
    // The first click only selects; a double-click opens instead of editing.
    click(QEvent::MouseButtonPress);
    click(QEvent::MouseButtonRelease);
    wait();
    EXPECT_FALSE(list->EditingCaption());
    click(QEvent::MouseButtonPress);
    click(QEvent::MouseButtonRelease);
    click(QEvent::MouseButtonDblClick);
    click(QEvent::MouseButtonRelease);
    wait();
    EXPECT_FALSE(list->EditingCaption());
    // A second, slow click.
    click(QEvent::MouseButtonPress);
    click(QEvent::MouseButtonRelease);
    wait();
    ASSERT_TRUE(list->EditingCaption());
    EXPECT_EQ(list->OldPath(), root_ + "work/a.txt");
    list->EndEditCaption(false);
    // Never in a read-only list.
    list->SetReadOnly(true);
    click(QEvent::MouseButtonPress);
    click(QEvent::MouseButtonRelease);
    wait();
    EXPECT_FALSE(list->EditingCaption());
}

TEST_F(FileListCommandsTest, PicturesGoToTheClipboardThroughTheProgramsDecoders) {
    Write("work/p.bmp", "not read by Qt");
    Write("work/bad.wmf", "damaged");
    auto list = MakeList("work");
    SetPictureLoader([](const QByteArray& path) -> QImage {
        if (path.endsWith("bad.wmf")) throw std::runtime_error("Invalid metafile");
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    });
    Select(*list, {"p.bmp"});
    list->CopyContentsToClipboard();
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(3, 2));
    Select(*list, {"bad.wmf"});
    list->CopyContentsToClipboard();
    EXPECT_EQ(messages_, QStringList({"Invalid metafile"}));
    SetPictureLoader(nullptr);
}

// Every operation acts on the selected row's own bytes. "x_\xe9.txt" is no UTF-8: as text it
// reads "x_\ufffd.txt", whose bytes name the sibling "x_\xef\xbf\xbd.txt".
TEST_F(FileListCommandsTest, NamesThatAreNotUtf8KeepTheirBytes) {
    const QByteArray raw = "x_\xe9.txt", sibling = "x_\xef\xbf\xbd.txt";
    // The names in a folder, their bytes percent-encoded, sorted.
    auto listing = [this](const QString& rel) {
        QList<QByteArray> names;
        if (DIR* dir = ::opendir(QFile::encodeName(root_ + rel).constData())) {
            while (const dirent* e = ::readdir(dir))
                if (e->d_name[0] != '.') names << QByteArray(e->d_name).toPercentEncoding();
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names.join(' ').toStdString();
    };
    const char *both = "x_%E9.txt x_%EF%BF%BD.txt", *rawOnly = "x_%E9.txt",
               *siblingOnly = "x_%EF%BF%BD.txt";
    auto run = [](std::function<void(List&)> act) {
        return [act](List& list) {
            act(list);
            return QByteArray();
        };
    };
    auto paste = [&](Qt::Key key) {
        return run([=, this](List& list) {
            Key(list, key, Qt::ControlModifier);
            list.SetDirectory(root_ + "dst");
            Key(list, Qt::Key_V, Qt::ControlModifier);
        });
    };
    auto drop = run([this](List& list) {
        QMimeData data;
        data.setData(UriListMime, "file://" + QFile::encodeName(root_).toPercentEncoding("/") +
                                      "work/x_%E9.txt\r\n");
        list.SetDirectory(root_ + "dst");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&list, &enter);
        QApplication::sendEvent(&list, &drop);
    });
    auto properties = [](List& list) {
        QByteArray shown;
        SetPropertiesHook([&](const QByteArray& path) { shown = path; });
        list.ShowSelectedProperties();
        SetPropertiesHook(nullptr);
        return shown.mid(shown.lastIndexOf('/') + 1);
    };
    auto contents = [](List& list) {
        list.CopyContentsToClipboard();
        return QApplication::clipboard()->text().toLatin1();
    };
    // A send-to program gets the name in its working folder: this one copies what it got.
    auto program = [this](List& list) {
        const QByteArray out = QFile::encodeName(root_ + "out");
        QFile script(root_ + "prog");
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ncat -- \"$1\" > '" + out + ".tmp' && mv '" + out + ".tmp' '" +
                     out + "'\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile::link(root_ + "prog", root_ + "link");
        SetLaunchHook(nullptr);
        list.SendToShortcut(root_ + "link");
        for (int wait = 0; wait < 500 && !QFile::exists(root_ + "out"); ++wait)
            QThread::msleep(20);
        QFile f(root_ + "out");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    auto rename = run([](List& list) {
        list.RenameSelected();
        list.CaptionEditor()->setText("new.txt");
        list.EndEditCaption(true);
    });
    const struct {
        const char* name;
        std::function<QByteArray(List&)> act;  // returns what the operation reported
        QString other;                         // the second folder looked at
        const char *work, *otherListing;
        QByteArray reported;
    } cases[] = {
        {"trash",
         run([](List& l) { Key(l, Qt::Key_Delete); }),
         "../home/.local/share/Trash/files",
         siblingOnly,
         rawOnly,
         {}},
        {"for good",
         run([](List& l) { Key(l, Qt::Key_Delete, Qt::ShiftModifier); }),
         "dst",
         siblingOnly,
         "",
         {}},
        {"copy", paste(Qt::Key_C), "dst", both, rawOnly, {}},
        {"cut", paste(Qt::Key_X), "dst", siblingOnly, rawOnly, {}},
        {"drop", drop, "dst", both, rawOnly, {}},
        {"send to",
         run([this](List& l) { l.CopyToFolder(root_ + "dst"); }),
         "dst",
         both,
         rawOnly,
         {}},
        {"send to program", program, "dst", both, "", "latin"},
        {"properties", properties, "dst", both, "", raw},
        {"contents", contents, "dst", both, "", "latin"},
        {"rename", rename, "dst", "new.txt x_%EF%BF%BD.txt", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Qt cannot remove these names: every case has new folders.
        root_ = AddSlash(tmp_.path()) + c.name + '/';
        QDir().mkpath(root_ + "dst");
        Write("work/" + QFile::decodeName(sibling), "sibling");
        QFile f;
        const int fd = ::open(QFile::encodeName(root_ + "work/") + raw, O_WRONLY | O_CREAT, 0644);
        ASSERT_TRUE(f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        f.write("latin");
        f.close();
        QApplication::clipboard()->clear();
        auto list = MakeList("work");
        for (int row = 0; row < list->ItemCount(); ++row)
            list->SetItemSelected(row, list->ItemNativePath(row).endsWith("/" + raw));
        EXPECT_EQ(c.act(*list), c.reported);
        EXPECT_EQ(listing("work"), c.work);
        EXPECT_EQ(listing(c.other), c.otherListing);
    }
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// Enter in the question of Shift+Delete keeps the file: No is the default button.
TEST_F(FileListCommandsTest, PermanentDeleteDefaultsToNo) {
    Write("work/keep.txt");
    auto list = MakeList("work");
    Select(*list, {"keep.txt"});
    SetMessageHook(nullptr);
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(box, &enter);
            }
    });
    Key(*list, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(Exists("work/keep.txt"));
}

// A paste, a drop or a send of several entries is one operation: "No to All" and "Cancel"
// answer for all of them. A cut whose move was refused stays on the clipboard for what did not
// move.
TEST_F(FileListCommandsTest, OneAnswerHoldsForTheWholePaste) {
    struct Case {
        const char* name;
        TConflictAnswer answer;
        bool cut;
        int asked;
    };
    const Case cases[] = {
        {"No to All", caSkipAll, false, 1},
        {"Cancel", caCancel, false, 1},
        {"No to All on a cut", caSkipAll, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root_ + "src").removeRecursively();
        QDir(root_ + "dst").removeRecursively();
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            Write(QStringLiteral("src/") + name, "new");
            Write(QStringLiteral("dst/") + name, "old");
        }
        auto list = MakeList("src");
        Select(*list, {"a.txt", "b.txt", "c.txt"});
        if (c.cut)
            list->CutSelected();
        else
            list->CopySelected();
        int asked = 0;
        FileOpPrompts().Conflict = [&](const QString&, const QString&, bool) {
            ++asked;
            return c.answer;
        };
        list->SetDirectory(root_ + "dst");
        list->PasteFiles();
        EXPECT_EQ(asked, c.asked);
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            EXPECT_EQ(Read(QStringLiteral("dst/") + name), "old");
            EXPECT_EQ(Read(QStringLiteral("src/") + name), "new");
        }
        if (c.cut) {
            const TFileList clip = ClipboardFileList();
            EXPECT_TRUE(clip.Cut);
            EXPECT_EQ(clip.Paths.size(), 3);
        }
    }
    // A refused move (a file onto a folder of its name) keeps the cut, and the next paste
    // elsewhere moves it.
    Write("src/x", "file x");
    Write("dst/x/inside.txt", "inside");
    auto list = MakeList("src");
    Select(*list, {"x"});
    list->CutSelected();
    list->SetDirectory(root_ + "dst");
    list->PasteFiles();
    EXPECT_EQ(Read("dst/x/inside.txt"), "inside");
    EXPECT_EQ(ClipboardFileList().Native, QList<QByteArray>({QFile::encodeName(root_ + "src/x")}));
    QDir().mkpath(root_ + "other");
    list->SetDirectory(root_ + "other");
    list->PasteFiles();
    EXPECT_EQ(Read("other/x"), "file x");
    EXPECT_FALSE(Exists("src/x"));
}

// A desktop shortcut never replaces an entry already on the desktop; a permanent delete that
// fails says so.
TEST_F(FileListCommandsTest, ShortcutsTakeAFreeNameAndFailedDeletesSaySo) {
    Write("work/b.txt", "beta");
    Write("home/Desktop/b.desktop", "the user's own entry");
    auto list = MakeList("work");
    Select(*list, {"b.txt"});
    list->CreateDesktopShortcut();
    EXPECT_EQ(Read("home/Desktop/b.desktop"), "the user's own entry");
    EXPECT_TRUE(Read("home/Desktop/b (2).desktop").contains("Type=Link\n"));
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join('|').toStdString();

    // A file that is a mount point cannot be removed (EBUSY).
    const QString busy = Write("work/busy.txt", "busy");
    const QString other = Write("elsewhere.txt", "e");
    if (::mount(QFile::encodeName(other).constData(), QFile::encodeName(busy).constData(), nullptr,
                MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount can be made here";
    list->RebuildList();
    Select(*list, {"busy.txt"});
    confirm_ = true;
    messages_.clear();
    list->DeleteSelectedPermanently();
    ::umount2(QFile::encodeName(busy).constData(), MNT_DETACH);
    ASSERT_EQ(messages_.size(), 2) << messages_.join('|').toStdString();
    EXPECT_TRUE(messages_[1].contains("Cannot delete \"busy.txt\"")) << messages_[1].toStdString();
    EXPECT_EQ(Read("work/busy.txt"), "busy");
}
