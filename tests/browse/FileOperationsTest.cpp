#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"

namespace {

// A temporary tree with the interactive prompts replaced by scripted answers.
class FileOpTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        TFileOpPrompts& p = FileOpPrompts();
        p.ShowProgress = false;
        p.ConfirmDelete = [this](const QStringList& items) {
            deleteAsked_ += items.size();
            return confirmDelete_;
        };
        p.Conflict = [this](const QString&, const QString& target, bool) {
            conflicts_ << LastName(target);
            return conflictAnswer_;
        };
        p.ConfirmPermanentDelete = [this](const QString&, const QString&) {
            ++permanentAsked_;
            return true;
        };
        p.Error = [this](const QString& message) { errors_ << message; };
    }
    void TearDown() override { ResetFileOpPrompts(); }

    QString path(const QString& rel) const { return root_ + rel; }
    void write(const QString& rel, const QByteArray& data) {
        ASSERT_TRUE(filelisttest::WriteFile(path(rel), data)) << rel.toStdString();
    }
    QByteArray read(const QString& rel) const { return filelisttest::ReadFile(path(rel)); }
    bool exists(const QString& rel) const { return QFileInfo::exists(path(rel)); }
    QString list(const QStringList& rels) const {
        QStringList full;
        for (const QString& r : rels)
            full << path(r);
        return MakePathList(full);
    }

    QTemporaryDir tmp_;
    QString root_;
    bool confirmDelete_ = true;
    TConflictAnswer conflictAnswer_ = caReplace;
    int deleteAsked_ = 0;
    int permanentAsked_ = 0;
    QStringList conflicts_;
    QStringList errors_;
};

}  // namespace

TEST_F(FileOpTest, CopyFilesAndTreesIntoAFolder) {
    write("src/a.txt", "alpha");
    write("src/tree/.hidden", "h");
    write("src/tree/deep/b.bin", QByteArray(3 * 1024 * 1024 + 7, 'b'));
    QFile::link("deep/b.bin", path("src/tree/link"));
    QDir().mkpath(path("dst"));
    {
        QFile f(path("src/a.txt"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)),
                      QFileDevice::FileModificationTime);
    }

    EXPECT_TRUE(ShellFileOp(foCopy, list({"src/a.txt", "src/tree"}), path("dst/")));
    EXPECT_EQ(read("dst/a.txt"), "alpha");
    EXPECT_EQ(read("dst/tree/.hidden"), "h");
    EXPECT_EQ(read("dst/tree/deep/b.bin").size(), 3 * 1024 * 1024 + 7);
    EXPECT_EQ(QFileInfo(path("dst/tree/link")).symLinkTarget(), path("dst/tree/deep/b.bin"));
    EXPECT_EQ(QFileInfo(path("dst/a.txt")).lastModified(),
              QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
    EXPECT_EQ(read("src/a.txt"), "alpha");  // the source stays
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(conflicts_.isEmpty());
}

TEST_F(FileOpTest, CopyToAFullTargetPathAndOntoItself) {
    write("src/a.txt", "alpha");
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/a.txt"), path("other.txt")));
    EXPECT_EQ(read("other.txt"), "alpha");
    // Pasting into the same folder makes a copy beside the original.
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/a.txt"), path("src/")));
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/a.txt"), path("src/")));
    EXPECT_EQ(read("src/a (copy).txt"), "alpha");
    EXPECT_EQ(read("src/a (copy 2).txt"), "alpha");
    // A folder copied to "<folder>/<its name>" merges instead of nesting.
    write("tree/x.txt", "x");
    write("dst/tree/y.txt", "y");
    conflictAnswer_ = caReplace;
    EXPECT_TRUE(ShellFileOp(foCopy, path("tree"), path("dst/tree")));
    EXPECT_EQ(read("dst/tree/x.txt"), "x");
    EXPECT_EQ(read("dst/tree/y.txt"), "y");
    EXPECT_FALSE(exists("dst/tree/tree"));
}

TEST_F(FileOpTest, ConflictsAreAsked) {
    write("src/a.txt", "new");
    write("src/b.txt", "new");
    write("dst/a.txt", "old");
    write("dst/b.txt", "old");
    conflictAnswer_ = caSkip;
    EXPECT_FALSE(ShellFileOp(foCopy, list({"src/a.txt"}), path("dst/")));
    EXPECT_EQ(read("dst/a.txt"), "old");
    EXPECT_EQ(conflicts_, QStringList({"a.txt"}));

    conflicts_.clear();
    conflictAnswer_ = caReplaceAll;
    EXPECT_TRUE(ShellFileOp(foCopy, list({"src/a.txt", "src/b.txt"}), path("dst/")));
    EXPECT_EQ(read("dst/a.txt"), "new");
    EXPECT_EQ(read("dst/b.txt"), "new");
    EXPECT_EQ(conflicts_.size(), 1);  // "all" answers the rest

    write("src/c.txt", "new");
    write("dst/c.txt", "old");
    conflictAnswer_ = caCancel;
    EXPECT_FALSE(ShellFileOp(foMove, list({"src/c.txt"}), path("dst/")));
    EXPECT_TRUE(exists("src/c.txt"));
    EXPECT_EQ(read("dst/c.txt"), "old");
}

TEST_F(FileOpTest, MoveAndMerge) {
    write("src/a.txt", "a");
    write("src/dir/inner.txt", "i");
    write("dst/dir/existing.txt", "e");
    EXPECT_TRUE(ShellFileOp(foMove, list({"src/a.txt", "src/dir"}), path("dst")));
    EXPECT_FALSE(exists("src/a.txt"));
    EXPECT_FALSE(exists("src/dir"));
    EXPECT_EQ(read("dst/a.txt"), "a");
    EXPECT_EQ(read("dst/dir/inner.txt"), "i");
    EXPECT_EQ(read("dst/dir/existing.txt"), "e");
    // Moving onto itself changes nothing and is no failure.
    EXPECT_TRUE(ShellFileOp(foMove, path("dst/a.txt"), path("dst/")));
    EXPECT_EQ(read("dst/a.txt"), "a");
}

TEST_F(FileOpTest, NoFolderIntoItself) {
    write("tree/sub/x.txt", "x");
    EXPECT_FALSE(ShellFileOp(foCopy, path("tree"), path("tree/sub/")));
    EXPECT_FALSE(ShellFileOp(foMove, path("tree"), path("tree/sub/")));
    EXPECT_EQ(errors_.size(), 2);
    EXPECT_FALSE(exists("tree/sub/tree"));
    EXPECT_EQ(read("tree/sub/x.txt"), "x");
}

TEST_F(FileOpTest, RenameRefusesExistingTargets) {
    write("a.txt", "a");
    write("b.txt", "b");
    EXPECT_TRUE(ShellFileOp(foRename, path("a.txt"), path("c.txt")));
    EXPECT_EQ(read("c.txt"), "a");
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_FALSE(ShellFileOp(foRename, path("c.txt"), path("b.txt")));
    EXPECT_EQ(read("b.txt"), "b");
    EXPECT_EQ(read("c.txt"), "a");
    EXPECT_EQ(errors_.size(), 1);
    // A bare new name stays in the source's folder.
    QDir().mkpath(path("folder"));
    EXPECT_TRUE(ShellFileOp(foRename, path("folder/"), "renamed"));
    EXPECT_TRUE(QFileInfo(path("renamed")).isDir());
}

TEST_F(FileOpTest, MissingSourcesFail) {
    EXPECT_FALSE(ShellFileOp(foCopy, path("nothing.txt"), path("dst/")));
    EXPECT_FALSE(ShellFileOp(foCopy, QString(), path("dst/")));
    EXPECT_EQ(errors_.size(), 1);
}

TEST_F(FileOpTest, DeleteGoesToTheTrashAfterConfirmation) {
    // Keep the trash inside the temporary folder.
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(path("home")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path("home/.local/share")));
    QDir().mkpath(path("home/.local/share"));

    write("work/a.txt", "a");
    write("work/dir/b.txt", "b");
    confirmDelete_ = false;
    EXPECT_FALSE(ShellFileOp(foDelete, list({"work/a.txt", "work/dir"}), QString()));
    EXPECT_TRUE(exists("work/a.txt"));
    EXPECT_EQ(deleteAsked_, 2);

    confirmDelete_ = true;
    const bool ok = ShellFileOp(foDelete, list({"work/a.txt", "work/dir"}), QString());
    EXPECT_TRUE(ok);
    EXPECT_FALSE(exists("work/a.txt"));
    EXPECT_FALSE(exists("work/dir"));
    EXPECT_EQ(permanentAsked_, 0);  // the trash beside the files is usable
    {
        QStringList trashed;
        QDirIterator it(path("home/.local/share/Trash/files"),
                        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        while (it.hasNext())
            trashed << QFileInfo(it.next()).fileName();
        trashed.sort();
        EXPECT_EQ(trashed, QStringList({"a.txt", "dir"}));
    }
    qputenv("HOME", savedHome);
    if (savedData.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedData);
}

// The replace question comes while no modal progress box is open (one would take its keys),
// and Cancel in the progress box leaves the old file and no partial copy.
TEST_F(FileOpTest, ReplaceIsAskedWithoutProgressAndCancelLeavesNoPartialFile) {
    write("src/big.bin", QByteArray(3 * 1024 * 1024, 'n'));
    write("dst/big.bin", "old");
    FileOpPrompts().ShowProgress = true;
    auto progressBox = []() -> QProgressDialog* {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QProgressDialog*>(w)) return box;
        return nullptr;
    };
    bool boxWhileAsked = true;
    FileOpPrompts().Conflict = [&](const QString&, const QString&, bool) {
        boxWhileAsked = progressBox() != nullptr;
        return caReplace;
    };
    SetCopyFaultHook([&](const QString&, const QString&, qint64 step) {
        if (step > 0 && progressBox() != nullptr) progressBox()->cancel();
        return 0;
    });
    EXPECT_FALSE(ShellFileOp(foCopy, path("src/big.bin"), path("dst/")));
    SetCopyFaultHook(nullptr);
    EXPECT_FALSE(boxWhileAsked);
    EXPECT_EQ(read("dst/big.bin"), "old");
    EXPECT_EQ(QDir(path("dst")).entryList(QDir::Files | QDir::Hidden), QStringList({"big.bin"}));
}
