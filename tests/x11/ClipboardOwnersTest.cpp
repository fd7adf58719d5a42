// Paste against another clipboard owner (xclip) on a private X server: whatever this program
// cut before counts only while the clipboard holds it, and only a list that says "cut" moves.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#include "browse/FileClipboard.h"
#include "browse/KvFilelistView28.h"
#include "browse/ShellHelpers.h"

bool X11TestServerRunning();

namespace {

// Processes events until the clipboard offers the data (another owner took it over).
bool WaitForClipboard(const char* mime, const QByteArray& data) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        QApplication::processEvents();
        const QMimeData* now = QApplication::clipboard()->mimeData();
        if (now != nullptr && now->data(mime) == data) return true;
    }
    return false;
}

}  // namespace

TEST(ClipboardOwners, OnlyTheClipboardSaysCut) {
    if (!X11TestServerRunning()) GTEST_SKIP() << "no Xvfb";
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "no xclip";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    SetMessageHook([](TMsgKind, const QString&) { return true; });
    FileOpPrompts().ShowProgress = false;
    const struct {
        const char* name;
        bool pasteOurCut;  // our cut is pasted before the other program copies
        const char* mime;  // what the other program offers
        const char* mode;  // its first line, if any
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
            f.write(file);
        }
        TKvFilelistView28 list;
        list.SetDirectory(root + "src");
        list.SetItemSelected(list.ItemCount() - 1, true);  // a.txt, after the parent row
        list.CutSelected();
        if (c.pasteOurCut) {
            list.SetDirectory(root + "mid");
            list.PasteFiles();
            EXPECT_TRUE(QFile::exists(root + "mid/a.txt"));
        }
        const QByteArray offer =
            c.mode + QByteArray("file://") + QFile::encodeName(root + "other/b.txt");
        QProcess other;
        other.start("xclip", {"-quiet", "-selection", "clipboard", "-t", c.mime, "-i"});
        ASSERT_TRUE(other.waitForStarted());
        other.write(offer);
        other.closeWriteChannel();
        ASSERT_TRUE(WaitForClipboard(c.mime, offer));

        list.SetDirectory(root + "dst");
        list.PasteFiles();
        EXPECT_EQ(QDir(root + "dst").entryList(QDir::Files), QStringList({"b.txt"}));
        EXPECT_EQ(QFile::exists(root + "other/b.txt"), !c.otherMoves);
        EXPECT_EQ(QFile::exists(root + "src/a.txt"), !c.pasteOurCut);
        other.kill();
        other.waitForFinished();
    }
    SetMessageHook(nullptr);
    ResetFileOpPrompts();
}
