// Paste against another clipboard owner (xclip) on an X server: what this program cut counts
// only while the clipboard holds it, and only a list that says "cut" is moved.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "browse/FileClipboard.h"
#include "browse/FileListView.h"
#include "browse/ShellHelpers.h"

TEST(ClipboardOwners, OnlyTheClipboardSaysCut) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "no X server";
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "no xclip";
    SetMessageHook([](TMsgKind, const QString&) { return true; });
    FileOpPrompts().ShowProgress = false;
    const struct {
        const char* name;
        bool pasteOurCut;  // our cut is pasted before the other program copies
        const char* mime;  // what the other program offers, and its first line
        const char* mode;
        bool otherMoves;
    } cases[] = {
        {"plain list after our cut", false, UriListMime, "", false},
        {"plain list after our cut was pasted", true, UriListMime, "", false},
        {"another program's cut", false, GnomeCopiedFilesMime, "cut\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp;
        const QString root = AddSlash(tmp.path());
        for (const char* folder : {"src", "other", "mid", "dst"})
            QDir().mkpath(root + folder);
        for (const char* file : {"src/a.txt", "other/b.txt"}) {
            QFile f(root + file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        TFileListView list;
        list.SetDirectory(root + "src");
        list.SetItemSelected(list.ItemCount() - 1, true);  // a.txt, after the parent row
        list.CutSelected();
        if (c.pasteOurCut) {
            list.SetDirectory(root + "mid");
            list.PasteFiles();
        }
        const QByteArray offer =
            QByteArray(c.mode) + "file://" + QFile::encodeName(root + "other/b.txt");
        QProcess other;
        other.start("xclip", {"-quiet", "-selection", "clipboard", "-t", c.mime, "-i"});
        ASSERT_TRUE(other.waitForStarted());
        other.write(offer);
        other.closeWriteChannel();
        // Until the other program owns the clipboard.
        QElapsedTimer timer;
        timer.start();
        while (QApplication::clipboard()->mimeData()->data(c.mime) != offer) {
            ASSERT_LT(timer.elapsed(), 10000);
            QApplication::processEvents();
        }
        list.SetDirectory(root + "dst");
        list.PasteFiles();
        EXPECT_EQ(QDir(root + "dst").entryList(QDir::Files), QStringList({"b.txt"}));
        EXPECT_EQ(QFile::exists(root + "other/b.txt"), !c.otherMoves);
        EXPECT_EQ(QFile::exists(root + "mid/a.txt"), c.pasteOurCut);
        other.kill();
        other.waitForFinished();
    }
    SetMessageHook(nullptr);
    ResetFileOpPrompts();
}
