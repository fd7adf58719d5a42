// The main window's list keeps its file keys and takes dropped files although its own menu is
// off: a drop anywhere on the window copies into the shown folder; renaming is refused because
// the list is read-only.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QShortcut>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "browse/FileClipboard.h"
#include "browse/ShellHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "toolkit/Application.h"

TEST(MainWindowFileOps, DropsAndKeysReachTheList) {
    QTemporaryDir dir, config;
    ASSERT_TRUE(dir.isValid() && config.isValid());
    const QString root = AddSlash(QDir(dir.path()).canonicalPath());
    QDir().mkpath(root + "shown");
    QDir().mkpath(root + "outside");
    QFile source(root + "outside/dropped.txt");
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("dropped");
    source.close();

    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(root + "shown");
    QStringList messages;
    SetMessageHook([&](TMsgKind, const QString& text) {
        messages << text;
        return false;
    });
    FileOpPrompts().ShowProgress = false;
    {
        auto form = std::make_unique<TMainWindow>();
        form->show();
        QApplication::processEvents();
        TFileListView* list = form->BrowseFiles;
        ASSERT_EQ(list->Directory(), root + "shown/");
        EXPECT_FALSE(list->PopUpMenuEnabled());
        EXPECT_TRUE(form->acceptDrops());

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(root + "outside/dropped.txt")});
        QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        // Over the text view, which refuses files itself.
        QWidget* memo = form->ReadText->viewport();
        QApplication::sendEvent(memo, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(memo, &drop);
        EXPECT_TRUE(QFile::exists(root + "shown/dropped.txt"));
        EXPECT_TRUE(QFile::exists(root + "outside/dropped.txt"));

        // F2 on the read-only list.
        int row = -1;
        for (int i = 0; i < list->ItemCount(); ++i)
            if (list->ItemCaption(i) == "dropped.txt") row = i;
        ASSERT_GE(row, 0);
        list->SetItemSelected(row, true);
        QKeyEvent f2(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
        QApplication::sendEvent(list->View(), &f2);
        EXPECT_EQ(messages,
                  QStringList({"Files cannot be renamed in this list: it is read-only."}));
        EXPECT_FALSE(list->EditingCaption());

        // The menu's file commands show their keys and follow the list: with the read-only
        // list's file selected, all but Paste (nothing on the clipboard); Open With after Open.
        QApplication::clipboard()->clear();
        emit form->FileMenu->aboutToShow();
        QString enabled;
        for (TMenuItem* item : form->FileMenu->Items().mid(0, 9))
            enabled += item->Enabled() ? '1' : '0';
        EXPECT_EQ(enabled, "111101111");
        EXPECT_EQ(form->FileDeletePermanently->text(), "Delete Permanently\tShift+Del");
        form->BrowseFiles->SetDirectory("Drives");
        emit form->FileMenu->aboutToShow();
        EXPECT_FALSE(form->FileNewFolder->Enabled());
        EXPECT_FALSE(form->FileOpenWith->Enabled());

        // "Clipboard as Contents" reads pictures with the program's decoders.
        RegisterImageFormats();
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(5, 4);
        {
            TFileStream stream(QFile::encodeName(root + "p.bmp").toStdString(),
                               TFileStream::fmCreate);
            bitmap.SaveToStream(stream);
        }
        EXPECT_EQ(LoadPictureForClipboard(root + "p.bmp").size(), QSize(5, 4));
        UnregisterImageFormats();
    }
    SetPictureLoader(nullptr);
    SetMessageHook(nullptr);
    ResetFileOpPrompts();
    QDir::setCurrent(previous);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}

// Ctrl+L: a path entry with completion; Enter shows a folder or opens a file.
TEST(MainWindowFileOps, LocationEntryShowsFoldersAndOpensFiles) {
    QTemporaryDir dir, config;
    ASSERT_TRUE(dir.isValid() && config.isValid());
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString root = AddSlash(QDir(dir.path()).canonicalPath());
    for (const char* folder : {"sub/deeper", "subway", ".hidden"})
        QDir().mkpath(root + folder);
    QFile note(root + "sub/note.txt");
    ASSERT_TRUE(note.open(QIODevice::WriteOnly) && note.write("hello") == 5);
    note.close();
    const std::pair<const char*, QStringList> cases[] = {
        {"su", {"sub/", "subway/"}},
        {"sub/", {"sub/deeper/", "sub/note.txt"}},
        {".h", {".hidden/"}},  // hidden entries only when a "." is typed
        {"nothing", {}},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(TMainWindow::LocationCompletions(typed, root), expected) << typed;

    const QString previous = QDir::currentPath();
    QDir::setCurrent(root);
    auto form = std::make_unique<TMainWindow>();
    form->show();
    for (QShortcut* key : form->findChildren<QShortcut*>())
        if (key->key() == QKeySequence(Qt::CTRL | Qt::Key_L)) emit key->activated();
    ASSERT_TRUE(form->Location->isVisible());
    form->Location->setText("sub");
    emit form->Location->returnPressed();
    EXPECT_EQ(form->BrowseFiles->Directory(), root + "sub/");
    EXPECT_FALSE(form->Location->isVisible());
    form->LocationShow();
    form->Location->setText("note.txt");
    emit form->Location->returnPressed();
    EXPECT_EQ(form->ReadText->Text().trimmed(), "hello");
    form.reset();
    QDir::setCurrent(previous);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}
