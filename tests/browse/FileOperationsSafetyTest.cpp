// Copy and move under injected failures: an unwritable target, a disk that fills up, a source
// that vanishes mid-copy, a cancelled or refused replace, a move across file systems. After
// each, every source byte must still exist somewhere and no partial target may be left.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>

#include <gtest/gtest.h>

#include "browse/ShellHelpers.h"

namespace {

class FileOpSafetyTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        TFileOpPrompts& p = FileOpPrompts();
        p.ShowProgress = false;
        p.Conflict = [this](const QString&, const QString&) {
            return answers_.isEmpty() ? caCancel : answers_.takeFirst();
        };
        p.Error = [this](const QString& message) { errors_ << message; };
    }
    void TearDown() override {
        SetCopyFaultHook(nullptr);
        ResetFileOpPrompts();
    }

    QString path(const QString& rel) const { return root_ + rel; }
    void write(const QString& rel, const QByteArray& data) {
        QDir().mkpath(QFileInfo(path(rel)).absolutePath());
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray read(const QString& rel) const {
        QFile f(path(rel));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool exists(const QString& rel) const {
        return QFileInfo::exists(path(rel)) || QFileInfo(path(rel)).isSymLink();
    }
    // Names of leftover temporary files anywhere below the root.
    QStringList leftovers() const {
        QStringList found;
        QDirIterator it(root_,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            if (p.contains(QLatin1String(".velkaro-"))) found << p;
        }
        return found;
    }

    // Three megabytes: the copy writes it in several blocks.
    static QByteArray big(char fill) {
        QByteArray data(3 * 1024 * 1024 + 11, fill);
        for (int i = 0; i < data.size(); i += 4099)
            data[i] = static_cast<char>(i);
        return data;
    }

    QTemporaryDir tmp_;
    QString root_;
    QList<TConflictAnswer> answers_;
    QStringList errors_;
};

}  // namespace

TEST_F(FileOpSafetyTest, FailedCopiesLeaveSourcesAndNoPartialTarget) {
    struct Case {
        const char* name;
        int errorCode;
        qint64 failAt;  // step of the fault hook
    };
    const Case cases[] = {
        {"unwritable target", EACCES, -1},
        {"disk fills up mid-file", ENOSPC, 1024 * 1024},
        {"disk full at the first block", ENOSPC, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path("src")).removeRecursively();
        QDir(path("dst")).removeRecursively();
        errors_.clear();
        write("src/tree/a.txt", "alpha");
        write("src/tree/sub/big.bin", big('b'));
        write("src/tree/z.txt", "zulu");
        QDir().mkpath(path("dst"));
        SetCopyFaultHook([&](const QString& source, const QString&, qint64 step) {
            return source.endsWith(QLatin1String("big.bin")) && step == c.failAt ? c.errorCode : 0;
        });
        EXPECT_FALSE(ShellFileOp(foCopy, path("src/tree"), path("dst/")));
        EXPECT_EQ(errors_.size(), 1);
        // The half-made folder is taken back as a whole.
        EXPECT_FALSE(exists("dst/tree"));
        EXPECT_EQ(read("src/tree/sub/big.bin"), big('b'));
        EXPECT_EQ(read("src/tree/a.txt"), "alpha");
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    }
}

TEST_F(FileOpSafetyTest, ReplacedTargetSurvivesAFailedCopy) {
    write("src/data.bin", big('n'));
    write("dst/data.bin", "old contents");
    answers_ = {caReplace};
    SetCopyFaultHook(
        [](const QString&, const QString&, qint64 step) { return step > 0 ? ENOSPC : 0; });
    EXPECT_FALSE(ShellFileOp(foCopy, path("src/data.bin"), path("dst/")));
    EXPECT_EQ(read("dst/data.bin"), "old contents");
    EXPECT_EQ(read("src/data.bin"), big('n'));
    EXPECT_TRUE(leftovers().isEmpty());
    // Without the fault the replace goes through.
    SetCopyFaultHook(nullptr);
    answers_ = {caReplace};
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/data.bin"), path("dst/")));
    EXPECT_EQ(read("dst/data.bin"), big('n'));
}

TEST_F(FileOpSafetyTest, SourceVanishingMidCopyLosesNothing) {
    write("src/big.bin", big('v'));
    QDir().mkpath(path("dst"));
    // The source is removed after the first block; the open file still delivers every byte.
    SetCopyFaultHook([&](const QString& source, const QString&, qint64 step) {
        if (step == 1024 * 1024) QFile::remove(source);
        return 0;
    });
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/big.bin"), path("dst/")));
    EXPECT_EQ(read("dst/big.bin"), big('v'));
    EXPECT_FALSE(exists("src/big.bin"));

    // A source that is gone before its turn fails alone; the others are copied.
    write("src/a.txt", "a");
    write("src/b.txt", "b");
    SetCopyFaultHook([&](const QString& source, const QString&, qint64 step) {
        if (source.endsWith(QLatin1String("a.txt")) && step == -1) QFile::remove(path("src/b.txt"));
        return 0;
    });
    errors_.clear();
    EXPECT_FALSE(
        ShellFileOp(foCopy, MakePathList({path("src/a.txt"), path("src/b.txt")}), path("dst/")));
    EXPECT_EQ(read("dst/a.txt"), "a");
    EXPECT_FALSE(exists("dst/b.txt"));
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FileOpSafetyTest, MoveAcrossFileSystemsRemovesSourcesOnlyAfterACheckedCopy) {
    auto crossDevice = [](const QString&, const QString&, qint64 step) {
        return step == -2 ? EXDEV : 0;
    };
    // Success: the tree arrives whole and the sources go.
    write("src/tree/a.txt", "alpha");
    write("src/tree/sub/big.bin", big('m'));
    QDir().mkpath(path("dst"));
    SetCopyFaultHook(crossDevice);
    EXPECT_TRUE(ShellFileOp(foMove, path("src/tree"), path("dst/")));
    EXPECT_EQ(read("dst/tree/sub/big.bin"), big('m'));
    EXPECT_EQ(read("dst/tree/a.txt"), "alpha");
    EXPECT_FALSE(exists("src/tree"));

    // The disk fills up half way: every source stays, nothing is left at the target.
    write("src/tree2/a.txt", "alpha");
    write("src/tree2/sub/big.bin", big('k'));
    SetCopyFaultHook([](const QString& source, const QString&, qint64 step) {
        if (step == -2) return EXDEV;
        return source.endsWith(QLatin1String("big.bin")) && step > 0 ? ENOSPC : 0;
    });
    errors_.clear();
    EXPECT_FALSE(ShellFileOp(foMove, path("src/tree2"), path("dst/")));
    EXPECT_EQ(read("src/tree2/sub/big.bin"), big('k'));
    EXPECT_EQ(read("src/tree2/a.txt"), "alpha");
    EXPECT_FALSE(exists("dst/tree2"));
    EXPECT_TRUE(leftovers().isEmpty());

    // A replaced file keeps its old contents when the move fails.
    write("src/c.txt", QByteArray(2 * 1024 * 1024, 'c'));
    write("dst/c.txt", "old");
    answers_ = {caReplace};
    SetCopyFaultHook([](const QString&, const QString&, qint64 step) {
        return step == -2 ? EXDEV : step > 0 ? ENOSPC : 0;
    });
    EXPECT_FALSE(ShellFileOp(foMove, path("src/c.txt"), path("dst/")));
    EXPECT_EQ(read("dst/c.txt"), "old");
    EXPECT_EQ(read("src/c.txt"), QByteArray(2 * 1024 * 1024, 'c'));
}

TEST_F(FileOpSafetyTest, CancelledCopyTakesBackWhatItMade) {
    write("src/tree/a.txt", "new a");
    write("src/tree/b.txt", "new b");
    write("dst/tree/b.txt", "old b");
    // Merge into the existing folder, then cancel at the clash on b.txt.
    answers_ = {caReplace, caCancel};
    EXPECT_FALSE(ShellFileOp(foCopy, path("src/tree"), path("dst/")));
    EXPECT_FALSE(exists("dst/tree/a.txt"));
    EXPECT_EQ(read("dst/tree/b.txt"), "old b");
    EXPECT_EQ(read("src/tree/a.txt"), "new a");
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FileOpSafetyTest, MoveReplacingAFolderWithAFileKeepsTheFolderOnFailure) {
    write("src/x", "file x");
    write("dst/x/inside.txt", "inside");
    answers_ = {caReplace};
    SetCopyFaultHook([](const QString&, const QString&, qint64 step) {
        return step == -2 ? EXDEV : step >= 0 ? ENOSPC : 0;
    });
    EXPECT_FALSE(ShellFileOp(foMove, path("src/x"), path("dst/")));
    EXPECT_EQ(read("dst/x/inside.txt"), "inside");
    EXPECT_EQ(read("src/x"), "file x");
    // Same file system, no fault: the folder gives way only once the file is in place.
    SetCopyFaultHook(nullptr);
    answers_ = {caReplace};
    EXPECT_TRUE(ShellFileOp(foMove, path("src/x"), path("dst/")));
    EXPECT_EQ(read("dst/x"), "file x");
    EXPECT_FALSE(exists("src/x"));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FileOpSafetyTest, NamesAtTheLengthLimitCopy) {
    const QString name = QString(250, u'n') + ".txt";  // 254 bytes, the limit is 255
    write("src/" + name, "long");
    QDir().mkpath(path("dst"));
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/" + name), path("dst/")));
    EXPECT_EQ(read("dst/" + name), "long");
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
}
