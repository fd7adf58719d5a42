// Copy, move and delete under injected faults: an unwritable target, a disk that fills up (a
// real small tmpfs where it can be mounted), a source that vanishes or changes mid-copy, links,
// same-named entries of another kind, another program writing the target, a second operation
// started during the first, unreadable folders, a move across file systems. After each, every
// file that existed before is unchanged or present where the user asked, and no partial target
// is left.
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"

namespace {

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

class FileOpSafetyTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        TFileOpPrompts& p = FileOpPrompts();
        p.ShowProgress = false;
        p.Conflict = [this](const QString&, const QString&, bool) {
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
        ASSERT_TRUE(filelisttest::WriteFile(path(rel), data)) << rel.toStdString();
    }
    QByteArray read(const QString& rel) const { return filelisttest::ReadFile(path(rel)); }
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

    // Every file below the root (links not followed) and a hash of its bytes.
    std::map<QString, QByteArray> snapshot() const {
        std::map<QString, QByteArray> files;
        QDirIterator it(root_, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            QFile f(p);
            if (f.open(QIODevice::ReadOnly))
                files[p.mid(root_.size())] =
                    QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5);
        }
        return files;
    }
    // Every file of `before` is still at its place with its bytes, or at the place the user
    // sent it (a prefix of `from` replaced by `to`), and nothing is left half-made.
    void expectNothingLost(const std::map<QString, QByteArray>& before, const QString& from,
                           const QString& to) const {
        const std::map<QString, QByteArray> after = snapshot();
        for (const auto& [file, hash] : before) {
            const auto here = after.find(file);
            QString sent = file;
            if (!from.isEmpty() && file.startsWith(from)) sent = to + file.mid(from.size());
            const auto there = after.find(sent);
            EXPECT_TRUE((here != after.end() && here->second == hash) ||
                        (there != after.end() && there->second == hash))
                << "lost or changed: " << file.toStdString();
        }
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    }
    bool errorsMention(const QString& text) const {
        return std::any_of(errors_.begin(), errors_.end(),
                           [&](const QString& e) { return e.contains(text); });
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

TEST_F(FileOpSafetyTest, NamesAtTheLengthLimitCopy) {
    const QString name = QString(250, u'n') + ".txt";  // 254 bytes, the limit is 255
    write("src/" + name, "long");
    QDir().mkpath(path("dst"));
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/" + name), path("dst/")));
    EXPECT_EQ(read("dst/" + name), "long");
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
}

namespace {

// File access as an ordinary user for the calling thread: root reads and writes past every
// permission, so unreadable folders and unwritable trashes are tried under uid 65534 (which
// drops root's file capabilities too). Does nothing for an ordinary user.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser() {
        if (::geteuid() != 0) return;
        ::setfsgid(65534);
        ::setfsuid(65534);
        active_ = true;
    }
    ~AsOrdinaryUser() {
        if (!active_) return;
        ::setfsuid(0);
        ::setfsgid(0);
    }

  private:
    bool active_ = false;
};

// A tmpfs of a given size at a folder, for a disk that fills up and a real move across file
// systems; unmounted when done. Mounting needs privileges: mounted() says whether it worked.
class SmallDisk {
  public:
    SmallDisk(const QString& folder, const char* size) : folder_(QFile::encodeName(folder)) {
        QDir().mkpath(folder);
        const QByteArray options = QByteArray("size=") + size + ",mode=0777";
        mounted_ = ::mount("tmpfs", folder_.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

  private:
    QByteArray folder_;
    bool mounted_ = false;
};

}  // namespace

// Entries never replace one of another kind, nor themselves: each such entry is refused with a
// message that names it, without a question, and the rest of the paste goes on.
TEST_F(FileOpSafetyTest, RefusesToReplaceAcrossKindsOrOntoItself) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        TFileOp op;
        const char* message;
    };
    const Case cases[] = {
        {"file onto a same-named folder",
         [&] {
             write("src/x", "file x");
             write("dst/x/inside.txt", "inside");
         },
         foCopy, "A folder named \"x\" already exists here."},
        {"file moved onto a same-named folder",
         [&] {
             write("src/x", "file x");
             write("dst/x/inside.txt", "inside");
         },
         foMove, "A folder named \"x\" already exists here."},
        {"link onto a same-named folder",
         [&] {
             write("elsewhere.txt", "e");
             QFile::link(path("elsewhere.txt"), path("src/x"));
             write("dst/x/inside.txt", "inside");
         },
         foCopy, "A folder named \"x\" already exists here."},
        {"folder onto a same-named file",
         [&] {
             write("src/x/inside.txt", "inside");
             write("dst/x", "file x");
         },
         foMove, "A file named \"x\" already exists here."},
        {"folder onto a link to a folder",
         [&] {
             write("src/x/inside.txt", "inside");
             write("real/kept.txt", "kept");
             QFile::link(path("real"), path("dst/x"));
         },
         foCopy, "A folder named \"x\" already exists here."},
        {"link onto the file it points to",
         [&] {
             write("dst/x", "the only copy");
             QFile::link(path("dst/x"), path("src/x"));
         },
         foCopy, "is the same file as its target."},
        {"link moved onto the folder it points to",
         [&] {
             write("dst/x/inside.txt", "inside");
             QFile::link(path("dst/x"), path("src/x"));
         },
         foMove, "is the same file as its target."},
        {"hard link moved onto its twin",
         [&] {
             write("dst/x", "one file, two names");
             ASSERT_EQ(::link(QFile::encodeName(path("dst/x")).constData(),
                              QFile::encodeName(path("src/x")).constData()),
                       0);
         },
         foMove, "is the same file as its target."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* folder : {"src", "dst", "real"})
            QDir(path(folder)).removeRecursively();
        QFile::remove(path("elsewhere.txt"));
        QDir().mkpath(path("src"));
        QDir().mkpath(path("dst"));
        errors_.clear();
        c.arrange();
        write("src/other.txt", "other");
        const auto before = snapshot();
        int asked = 0;
        FileOpPrompts().Conflict = [&](const QString&, const QString&, bool) {
            ++asked;
            return caReplaceAll;  // what one Enter used to answer
        };
        EXPECT_FALSE(
            ShellFileOp(c.op, MakePathList({path("src/x"), path("src/other.txt")}), path("dst/")));
        EXPECT_EQ(asked, 0);
        ASSERT_EQ(errors_.size(), 1) << errors_.join('|').toStdString();
        EXPECT_TRUE(errors_[0].contains(QLatin1String(c.message))) << errors_[0].toStdString();
        // The other entry of the same paste went through.
        EXPECT_EQ(read("dst/other.txt"), "other");
        expectNothingLost(before, "src/other.txt", "dst/other.txt");
        EXPECT_TRUE(exists("src/x"));
        EXPECT_TRUE(exists("dst/x"));
    }
}

// Another program writes the target while the copy runs: the copy never replaces it unasked.
TEST_F(FileOpSafetyTest, TargetsThatAppearDuringACopyAreAskedAboutAgain) {
    struct Case {
        const char* name;
        TConflictAnswer answer;
        QByteArray expected;
    };
    const Case cases[] = {
        {"kept when the user says no", caSkip, "theirs"},
        {"replaced when the user says yes", caReplace, big('c')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path("src")).removeRecursively();
        QDir(path("dst")).removeRecursively();
        write("src/big.bin", big('c'));
        QDir().mkpath(path("dst"));
        // Another program writes the target half way through the copy.
        SetCopyFaultHook([&](const QString&, const QString& target, qint64 step) {
            if (step == 1024 * 1024) {
                QFile theirs(target);
                if (theirs.open(QIODevice::WriteOnly)) theirs.write("theirs");
            }
            return 0;
        });
        QStringList asked;
        FileOpPrompts().Conflict = [&](const QString&, const QString& target, bool merge) {
            asked << LastName(target) + (merge ? " merge" : " replace");
            return c.answer;
        };
        ShellFileOp(foCopy, path("src/big.bin"), path("dst/"));
        EXPECT_EQ(asked, QStringList({"big.bin replace"}));
        EXPECT_EQ(read("dst/big.bin"), c.expected);
        EXPECT_EQ(read("src/big.bin"), big('c'));
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    }
}

// A second paste started from the first one's progress box is refused, not run inside it.
TEST_F(FileOpSafetyTest, ASecondOperationWaitsForTheFirst) {
    write("src/a.bin", big('a'));
    write("other/a.bin", "the second paste's a.bin");
    QDir().mkpath(path("dst"));
    const auto before = snapshot();
    bool secondResult = true;
    SetCopyFaultHook([&](const QString&, const QString&, qint64 step) {
        if (step == 1024 * 1024)
            secondResult = ShellFileOp(foCopy, path("other/a.bin"), path("dst/"));
        return 0;
    });
    EXPECT_TRUE(ShellFileOp(foCopy, path("src/a.bin"), path("dst/")));
    EXPECT_FALSE(secondResult);
    EXPECT_TRUE(errorsMention("Another file operation is still running"));
    EXPECT_EQ(read("dst/a.bin"), big('a'));
    expectNothingLost(before, "src/", "dst/");
    // Once the first is done, the next one runs (and asks about the clash it meets).
    errors_.clear();
    answers_ = {caSkip};
    SetCopyFaultHook(nullptr);
    EXPECT_FALSE(ShellFileOp(foCopy, path("other/a.bin"), path("dst/")));
    EXPECT_TRUE(errors_.isEmpty());
}

// A folder that cannot be read is reported, and neither a copy nor a move (also to another
// file system) leaves a part of it behind as if it were complete.
TEST_F(FileOpSafetyTest, UnreadableFoldersAreReportedAndMovesKeepTheirSource) {
    SmallDisk other(path("other"), "16m");
    struct Case {
        const char* name;
        TFileOp op;
        QString target;
        bool needsMount;
    };
    // (A move on one file system renames the folder whole and reads nothing.)
    const Case cases[] = {
        {"copy", foCopy, "dst/", false},
        {"move to another file system", foMove, "other/", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsMount && !other.mounted()) continue;
        QDir(path("src")).removeRecursively();
        QDir(path("dst")).removeRecursively();
        write("src/tree/a.txt", "alpha");
        write("src/tree/locked/b.txt", "beta");
        QDir().mkpath(path("dst"));
        for (const char* folder : {"", "src", "src/tree", "dst", "other"})
            ::chmod(QFile::encodeName(path(folder)).constData(), 0777);
        ::chmod(QFile::encodeName(path("src/tree/locked")).constData(), 0);
        const auto before = snapshot();
        errors_.clear();
        bool ok;
        {
            AsOrdinaryUser user;
            if (::faccessat(AT_FDCWD, QFile::encodeName(path("src/tree/locked")).constData(), R_OK,
                            AT_EACCESS) == 0)
                GTEST_SKIP() << "folder permissions are not enforced here";
            ok = ShellFileOp(c.op, path("src/tree"), path(c.target));
        }
        ::chmod(QFile::encodeName(path("src/tree/locked")).constData(), 0755);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(errorsMention("Cannot read folder")) << errors_.join('|').toStdString();
        EXPECT_TRUE(errorsMention("locked"));
        if (c.op == foMove && c.needsMount) {
            // The whole source stays and the target has no part of it.
            EXPECT_EQ(read("src/tree/a.txt"), "alpha");
            EXPECT_FALSE(exists(c.target + "tree"));
        }
        if (c.op == foCopy) {
            EXPECT_FALSE(exists("dst/tree"));
        }
        expectNothingLost(before, "src/tree/", c.target + "tree/");
        QDir(path(c.target + "tree")).removeRecursively();
    }
}

// A real small disk: the error names the user's file and the system's reason, the target keeps
// its old contents and no hidden temporary file is left.
TEST_F(FileOpSafetyTest, AFullDiskIsReportedByNameAndReason) {
    SmallDisk disk(path("small"), "1m");
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    write("src/a.txt", "alpha");
    write("src/big.bin", big('f'));
    write("small/old.bin", "old");
    write("src/old.bin", big('o'));
    const auto before = snapshot();
    answers_ = {caReplace};
    EXPECT_FALSE(ShellFileOp(
        foCopy, MakePathList({path("src/a.txt"), path("src/big.bin"), path("src/old.bin")}),
        path("small/")));
    EXPECT_EQ(read("small/a.txt"), "alpha");
    EXPECT_FALSE(exists("small/big.bin"));
    EXPECT_EQ(read("small/old.bin"), "old");
    ASSERT_EQ(errors_.size(), 2) << errors_.join('|').toStdString();
    for (const QString& error : errors_) {
        EXPECT_TRUE(error.contains(errorText(ENOSPC))) << error.toStdString();
        EXPECT_FALSE(error.contains(QLatin1String(".velkaro-"))) << error.toStdString();
    }
    EXPECT_TRUE(errors_[0].contains(QLatin1String("small/big.bin")));
    EXPECT_TRUE(errors_[1].contains(QLatin1String("small/old.bin")));
    expectNothingLost(before, "src/a.txt", "small/a.txt");
}

// A move to another file system removes only what it copied and read back, each entry only
// while it is as it was copied; a folder that gained entries stays with them; extended
// attributes travel with the files.
TEST_F(FileOpSafetyTest, MoveAcrossFileSystemsLeavesWhatChangedMeanwhile) {
    SmallDisk other(path("other"), "64m");
    if (!other.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    write("src/tree/a.txt", "alpha");
    write("src/tree/b.txt", "beta");
    write("src/tree/sub/c.bin", big('c'));
    const bool withAttributes = ::setxattr(QFile::encodeName(path("src/tree/b.txt")).constData(),
                                           "user.note", "kept", 4, 0) == 0;
    const auto before = snapshot();
    QString firstCopied;
    SetCopyFaultHook([&](const QString& source, const QString&, qint64 step) {
        if (step != -1) return 0;
        if (firstCopied.isEmpty()) {
            firstCopied = source;
        } else if (!exists("src/tree/new.txt")) {
            // Another program changes a file already copied and adds one to the folder.
            QFile changed(firstCopied);
            if (changed.open(QIODevice::Append)) changed.write(" and more");
            QFile added(path("src/tree/new.txt"));
            if (added.open(QIODevice::WriteOnly)) added.write("new");
        }
        return 0;
    });
    EXPECT_FALSE(ShellFileOp(foMove, path("src/tree"), path("other/")));
    SetCopyFaultHook(nullptr);
    ASSERT_FALSE(firstCopied.isEmpty());
    const QString changed = firstCopied.mid(root_.size());
    // The changed file stays with its change; the copy holds it as it was.
    QFile original(firstCopied);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_TRUE(original.readAll().endsWith(" and more"));
    EXPECT_TRUE(exists("other/tree/" + changed.mid(QStringLiteral("src/tree/").size())));
    EXPECT_EQ(read("src/tree/new.txt"), "new");
    EXPECT_TRUE(errorsMention("was changed while it was moved")) << errors_.join('|').toStdString();
    EXPECT_TRUE(errorsMention("entries were added to it while it was moved"));
    // Whatever did not change moved.
    for (const char* file : {"src/tree/a.txt", "src/tree/b.txt", "src/tree/sub/c.bin"})
        if (path(file) != firstCopied) {
            EXPECT_FALSE(exists(file)) << file;
        }
    if (!changed.startsWith(QLatin1String("src/tree/sub/"))) {
        EXPECT_FALSE(exists("src/tree/sub"));
    }
    expectNothingLost(before, "src/tree/", "other/tree/");
    if (withAttributes) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(QFile::encodeName(path("other/tree/b.txt")).constData(), "user.note",
                             value, sizeof value),
                  4);
        EXPECT_STREQ(value, "kept");
    }
}

// The trash writer takes every name: names at the length limit, with spaces, "%" and
// non-ASCII letters (escaped in the record); when the trash cannot be written the question
// to delete for good says why, and No keeps the file.
TEST_F(FileOpSafetyTest, DeleteUsesTheTrashForEveryNameAndSaysWhyNot) {
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
    QDir().mkpath(path("data"));
    QStringList reasons;
    FileOpPrompts().ConfirmDelete = [](const QStringList&) { return true; };
    FileOpPrompts().ConfirmPermanentDelete = [&](const QString&, const QString& reason) {
        reasons << reason;
        return false;
    };
    const QString longName = QString(246, u'l') + ".txt";  // 250 bytes
    const QString spaced = QStringLiteral("Grüße 100% fertig.txt");
    write("work/" + longName, "long");
    write("work/" + spaced, "spaced");
    EXPECT_TRUE(ShellFileOp(foDelete,
                            MakePathList({path("work/" + longName), path("work/" + spaced)}), {}));
    EXPECT_TRUE(reasons.isEmpty()) << reasons.join('|').toStdString();
    EXPECT_FALSE(exists("work/" + longName));
    const QStringList info = QDir(path("data/Trash/info")).entryList(QDir::Files);
    ASSERT_EQ(info.size(), 2);
    QByteArray records;
    for (const QString& name : info) {
        EXPECT_LE(QFile::encodeName(name).size(), 255);
        QFile record(path("data/Trash/info/" + name));
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        records += record.readAll();
        EXPECT_TRUE(exists("data/Trash/files/" + name.chopped(10)));
    }
    EXPECT_TRUE(records.contains("Gr%C3%BC%C3%9Fe%20100%25%20fertig.txt")) << records.data();
    EXPECT_TRUE(records.contains(QFile::encodeName(longName)));

    // A trash whose records cannot be written: asked, with the reason, and the file stays.
    write("work/keep.txt", "keep");
    for (const char* folder : {"", "work", "data", "data/Trash", "data/Trash/files"})
        ::chmod(QFile::encodeName(path(folder)).constData(), 0777);
    ::chmod(QFile::encodeName(path("data/Trash/info")).constData(), 0555);
    bool ok;
    {
        AsOrdinaryUser user;
        if (::faccessat(AT_FDCWD, QFile::encodeName(path("data/Trash/info")).constData(), W_OK,
                        AT_EACCESS) == 0)
            GTEST_SKIP() << "folder permissions are not enforced here";
        ok = ShellFileOp(foDelete, path("work/keep.txt"), {});
    }
    ::chmod(QFile::encodeName(path("data/Trash/info")).constData(), 0755);
    EXPECT_FALSE(ok);
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_TRUE(reasons[0].contains(errorText(EACCES))) << reasons[0].toStdString();
    EXPECT_EQ(read("work/keep.txt"), "keep");
    if (savedData.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedData);
}

// Messages say what happened: a target folder removed during the copy is named as such, not
// as a copy that does not match.
TEST_F(FileOpSafetyTest, ATargetFolderThatDisappearsIsSaidSo) {
    write("src/big.bin", big('d'));
    QDir().mkpath(path("dst"));
    SetCopyFaultHook([&](const QString&, const QString&, qint64 step) {
        if (step == 1024 * 1024) QDir(path("dst")).removeRecursively();
        return 0;
    });
    EXPECT_FALSE(ShellFileOp(foCopy, path("src/big.bin"), path("dst/")));
    ASSERT_EQ(errors_.size(), 1) << errors_.join('|').toStdString();
    EXPECT_TRUE(errors_[0].contains("the target folder disappeared")) << errors_[0].toStdString();
    EXPECT_EQ(read("src/big.bin"), big('d'));
}

// Entries on another drive go to that drive's own trash (.Trash-<uid> at its top), not to a
// copy in the home trash.
TEST_F(FileOpSafetyTest, EntriesOnAnotherDriveGoToItsOwnTrash) {
    SmallDisk drive(path("drive"), "4m");
    if (!drive.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
    FileOpPrompts().ConfirmDelete = [](const QStringList&) { return true; };
    write("drive/photos/a.jpg", "a");
    EXPECT_TRUE(ShellFileOp(foDelete, path("drive/photos/a.jpg"), {}));
    const QString trash = path("drive/.Trash-" + QString::number(::getuid()));
    EXPECT_EQ(read("drive/.Trash-" + QString::number(::getuid()) + "/files/a.jpg"), "a");
    QFile record(trash + "/info/a.jpg.trashinfo");
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_TRUE(record.readAll().contains("\nPath=photos/a.jpg\n"));
    EXPECT_FALSE(exists("data/Trash/files/a.jpg"));
    if (savedData.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", savedData);
}

// "No" answers for its own entry only: a later folder of the same move across file systems
// still moves, instead of being taken back without a word.
TEST_F(FileOpSafetyTest, ASkipAnswersOnlyItsOwnEntry) {
    write("src/a.txt", "new a");
    write("dst/a.txt", "old a");
    write("src/tree/x.txt", "x");
    answers_ = {caSkip};
    SetCopyFaultHook(
        [](const QString&, const QString&, qint64 step) { return step == -2 ? EXDEV : 0; });
    EXPECT_FALSE(
        ShellFileOp(foMove, MakePathList({path("src/a.txt"), path("src/tree")}), path("dst/")));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('|').toStdString();
    EXPECT_EQ(read("dst/a.txt"), "old a");
    EXPECT_EQ(read("src/a.txt"), "new a");
    EXPECT_EQ(read("dst/tree/x.txt"), "x");
    EXPECT_FALSE(exists("src/tree"));
}
