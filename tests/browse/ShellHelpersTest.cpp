#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>
#include <vector>

#include <gtest/gtest.h>

#include "browse/ShellHelpers.h"

namespace {

// Collects the message boxes the helpers show while alive.
struct MessageCapture {
    struct Shown {
        TMsgKind kind;
        QString text;
    };
    std::vector<Shown> shown;
    MessageCapture() {
        SetMessageHook([this](TMsgKind kind, const QString& text) {
            shown.push_back({kind, text});
            return true;
        });
    }
    ~MessageCapture() { SetMessageHook(nullptr); }
};

void writeFile(const QString& path, const QByteArray& data = "x") {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

}  // namespace

TEST(PathStrings, AddSlashDropSlashJoin) {
    EXPECT_EQ(AddSlash(""), "");
    EXPECT_EQ(AddSlash("/home/a"), "/home/a/");
    EXPECT_EQ(AddSlash("/home/a/"), "/home/a/");
    EXPECT_EQ(AddSlash("/"), "/");
    EXPECT_EQ(DropSlash("/home/a/"), "/home/a");
    EXPECT_EQ(DropSlash("/home/a"), "/home/a");
    EXPECT_EQ(DropSlash(""), "");
    EXPECT_EQ(JoinPath("/home/a", "b.txt"), "/home/a/b.txt");
    EXPECT_EQ(JoinPath("/home/a/", "b.txt"), "/home/a/b.txt");
    EXPECT_EQ(JoinPath("/", "etc"), "/etc");
    EXPECT_EQ(JoinPath("", "b.txt"), "");
    EXPECT_EQ(JoinPath("/home", ""), "");
}

TEST(PathStrings, NameWithoutExtUsesLastDotOfTheNameOnly) {
    EXPECT_EQ(NameWithoutExt("/x/archive.tar.gz"), "archive.tar");
    EXPECT_EQ(NameWithoutExt("/x/.bashrc"), "");
    EXPECT_EQ(NameWithoutExt("/x.d/README"), "README");
    EXPECT_EQ(NameWithoutExt("plain"), "plain");
    EXPECT_EQ(NameWithoutExt("/x/trailing."), "trailing");
}

TEST(PathStrings, PathListsAreNulTerminatedOnce) {
    const QString nul(QChar(u'\0'));
    EXPECT_EQ(TerminateList("/a"), "/a" + nul);
    EXPECT_EQ(TerminateList("/a" + nul), "/a" + nul);
    EXPECT_EQ(TerminateList(""), nul);
    const QString list = MakePathList({"/a b", "/c"});
    EXPECT_EQ(list, "/a b" + nul + "/c" + nul);
    EXPECT_EQ(SplitPathList(TerminateList(list)), QStringList({"/a b", "/c"}));
    EXPECT_TRUE(SplitPathList(TerminateList("")).isEmpty());
}

TEST(PathStrings, LastNameAndFolder) {
    EXPECT_EQ(LastName("/a/b/"), "b");
    EXPECT_EQ(LastName("/a/b.txt"), "b.txt");
    EXPECT_EQ(FolderOf("/a/b.txt"), "/a/");
    EXPECT_EQ(FolderOf("/a/b/"), "/a/");
    EXPECT_EQ(FolderOf("/a"), "/");
}

TEST(PathStrings, WildcardsIgnoreCase) {
    EXPECT_TRUE(WildcardMatch("Photo.PNG", "*.png"));
    EXPECT_TRUE(WildcardMatch("README", "*.*"));
    EXPECT_TRUE(WildcardMatch("a1.txt", "a?.TXT"));
    EXPECT_FALSE(WildcardMatch("a12.txt", "a?.txt"));
    EXPECT_FALSE(WildcardMatch("png", "*.png"));
    EXPECT_FALSE(WildcardMatch("x.png", " *.png"));  // a leading blank is part of the pattern
    EXPECT_TRUE(WildcardMatch("ab", "*a*b*"));
}

TEST(Formatting, SizeTextKBRoundsSmallFilesUpAndKeepsLargeSizes) {
    EXPECT_EQ(SizeTextKB("dir", 5000), " ");
    EXPECT_EQ(SizeTextKB("DiR", 0), " ");
    EXPECT_EQ(SizeTextKB("file", 0), "0 KB");
    EXPECT_EQ(SizeTextKB("file", 1), "1 KB");
    EXPECT_EQ(SizeTextKB("file", 1023), "1 KB");
    EXPECT_EQ(SizeTextKB("file", 2047), "1 KB");
    EXPECT_EQ(SizeTextKB("file", 2048), "2 KB");
    EXPECT_EQ(SizeTextKB("file", 2147483648LL), "2097152 KB");
    EXPECT_EQ(SizeTextKB("file", 5LL * 1024 * 1024 * 1024 + 1), "5242880 KB");
}

TEST(Formatting, SizeOfARealFileBeyondTwoGiB) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.filePath("big.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    if (!f.resize(3LL * 1024 * 1024 * 1024)) GTEST_SKIP() << "no sparse files here";
    f.close();
    EXPECT_EQ(SizeTextKB("file", QFileInfo(f.fileName()).size()), "3145728 KB");
}

TEST(Formatting, DriveSizeTextGroupsMegabytes) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DriveSizeText(0), "0 Mb");
    EXPECT_EQ(DriveSizeText(-5), "0 Mb");
    EXPECT_EQ(DriveSizeText(999), " Mb");
    EXPECT_EQ(DriveSizeText(1234567), "1,234 Mb");
    EXPECT_EQ(DriveSizeText(5000000000LL), "5,000,000 Mb");  // beyond 32 bits
    QLocale::setDefault(saved);
}

TEST(Formatting, DateTimePatterns) {
    const QDateTime t(QDate(2024, 3, 5), QTime(14, 7, 9, 45));
    EXPECT_EQ(FormatDateTimePattern(t, "dd/MM/yyyy", u'.', u':'), "05.03.2024");
    EXPECT_EQ(FormatDateTimePattern(t, "d/M/yy", u'-', u':'), "5-3-24");
    EXPECT_EQ(FormatDateTimePattern(t, "yyyy-MM-dd", u'/', u':'), "2024-03-05");
    EXPECT_EQ(FormatDateTimePattern(t, "hh:mm:ss", u'/', u'.'), "14.07.09");
    EXPECT_EQ(FormatDateTimePattern(t, "hh:nn", u'/', u':'), "14:07");
    EXPECT_EQ(FormatDateTimePattern(t, "h:mm AM/PM", u'/', u':'), "2:07 PM");
    EXPECT_EQ(FormatDateTimePattern(t, "HH:mm AP", u'/', u':'), "14:07 PM");
    EXPECT_EQ(FormatDateTimePattern(t, "mm", u'/', u':'), "03");  // month unless after an hour
    EXPECT_EQ(FormatDateTimePattern(t, "'at' hh", u'/', u':'), "at 14");
    EXPECT_EQ(FormatDateTimePattern(t, "zzz", u'/', u':'), "045");
    const QDateTime midnight(QDate(2024, 3, 5), QTime(0, 0));
    EXPECT_EQ(FormatDateTimePattern(midnight, "h:mm am/pm", u'/', u':'), "12:00 am");
}

TEST(Formatting, FileTimesAndFormatModified) {
    const QDateTime epoch(QDate(1970, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_EQ(FileTimeFromDateTime(epoch), 116444736000000000LL);
    const QDateTime t(QDate(2031, 7, 9), QTime(23, 59, 30), QTimeZone::utc());
    EXPECT_EQ(DateTimeFromFileTime(FileTimeFromDateTime(t)), t);
    const QDateTime old(QDate(1960, 1, 1), QTime(12, 0, 0, 1), QTimeZone::utc());
    EXPECT_EQ(DateTimeFromFileTime(FileTimeFromDateTime(old)), old);
    // Local time, date pattern, one blank, time pattern.
    const QDateTime local = t.toLocalTime();
    EXPECT_EQ(FormatModified(FileTimeFromDateTime(t), "yyyy-MM-dd", "hh:nn"),
              local.toString("yyyy-MM-dd") + " " + local.toString("hh") + LocaleTimeSeparator() +
                  local.toString("mm"));
}

TEST(Attributes, MappedFromTypeNameAndPermissions) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = AddSlash(dir.path());
    writeFile(root + "a.txt");
    writeFile(root + ".hidden");
    QDir(root).mkdir("sub");
    QDir(root).mkdir(".cache");
    writeFile(root + "ro.txt");
    QFile::setPermissions(root + "ro.txt", QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "pipe").constData(), 0644), 0);
    QFile::link(root + "missing", root + "dangling");

    EXPECT_EQ(FileAttributes(root + "a.txt"), quint32(faArchive));
    EXPECT_EQ(FileAttributes(root + ".hidden"), quint32(faArchive | faHidden));
    EXPECT_EQ(FileAttributes(root + "sub"), quint32(faDirectory));
    EXPECT_EQ(FileAttributes(root + "sub/"), quint32(faDirectory));
    EXPECT_EQ(FileAttributes(root + ".cache"), quint32(faDirectory | faHidden));
    EXPECT_EQ(FileAttributes(root + "ro.txt"), quint32(faArchive | faReadOnly));
    EXPECT_EQ(FileAttributes(root + "pipe"), quint32(faSysFile));
    EXPECT_EQ(FileAttributes(root + "dangling"), quint32(faArchive));
    EXPECT_EQ(FileAttributes(root + "sub/.."), quint32(faDirectory));  // ".." is not hidden
    EXPECT_EQ(FileAttributes(root + "nothing"), 0u);
    EXPECT_EQ(FileAttributes(QFileInfo(root + ".hidden")), quint32(faArchive | faHidden));
    EXPECT_EQ(AttributeLetters(faArchive | faReadOnly | faHidden | faSysFile), "ARHS");
    EXPECT_EQ(AttributeLetters(faDirectory), "");
}

TEST(Shell, ReportIfExistsNamesTheLastPart) {
    QTemporaryDir dir;
    writeFile(dir.filePath("taken.txt"));
    QDir(dir.path()).mkdir("folder");
    MessageCapture capture;
    EXPECT_TRUE(ReportIfExists(dir.filePath("taken.txt")));
    EXPECT_TRUE(ReportIfExists(dir.filePath("folder") + "/"));
    EXPECT_FALSE(ReportIfExists(dir.filePath("free.txt")));
    ASSERT_EQ(capture.shown.size(), 2u);
    EXPECT_EQ(capture.shown[0].kind, mkError);
    EXPECT_EQ(capture.shown[0].text, "\"taken.txt\" already exists !");
    EXPECT_EQ(capture.shown[1].text, "\"folder\" already exists !");
}

TEST(Shell, LaunchFailureShowsVerbAndFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath("doc.txt");
    writeFile(file);
    MessageCapture capture;
    EXPECT_LE(ShellLaunch("Frobnicate", file), 32);
    EXPECT_LE(ShellLaunch("Open", dir.filePath("gone.txt")), 32);
    EXPECT_LE(ShellLaunch("Find", file), 32);  // "Find" needs a folder
    ASSERT_EQ(capture.shown.size(), 3u);
    EXPECT_EQ(capture.shown[0].kind, mkError);
    EXPECT_EQ(capture.shown[0].text, "ERROR - Can't Frobnicate file " + file);
    EXPECT_EQ(capture.shown[1].text, "ERROR - Can't Open file " + dir.filePath("gone.txt"));
    // The message is read from the shared table when it is shown.
    LoadMessages(mwFileList, lnGerman);
    ShellLaunch("Frobnicate", file);
    ResetMessageTable();
    EXPECT_EQ(capture.shown.back().text, "FEHLER - Kann nicht Frobnicate Datei " + file);
}

TEST(Shell, PropertiesOfMissingPaths) {
    QTemporaryDir dir;
    writeFile(dir.filePath("here.txt"));
    QStringList shown;
    SetPropertiesHook([&shown](const QByteArray& path) { shown << QFile::decodeName(path); });
    MessageCapture capture;
    EXPECT_TRUE(ShowProperties(dir.filePath("here.txt")));
    EXPECT_FALSE(ShowProperties(dir.filePath("gone.txt")));
    EXPECT_FALSE(ShowProperties(dir.filePath("no/such/file.txt")));
    SetPropertiesHook(nullptr);
    EXPECT_EQ(shown, QStringList({dir.filePath("here.txt")}));
    ASSERT_EQ(capture.shown.size(), 2u);
    EXPECT_EQ(capture.shown[0].kind, mkPlain);
    EXPECT_EQ(capture.shown[0].text, "The specified file was not found.");
    EXPECT_EQ(capture.shown[1].text, "The specified path was not found.");
}

TEST(Shell, SpecialFolders) {
    QStandardPaths::setTestModeEnabled(true);
    const QString sendTo = SpecialFolder(sfSendTo);
    EXPECT_TRUE(sendTo.endsWith("/velkaro/SendTo/")) << sendTo.toStdString();
    EXPECT_TRUE(QFileInfo(sendTo).isDir());
    EXPECT_EQ(SpecialFolder(sfFavorites), "");
    EXPECT_EQ(SpecialFolder(sfWindows), "/usr/bin/");
    EXPECT_EQ(SpecialFolder(42), "");
    for (int kind = 0; kind <= 9; ++kind) {
        const QString p = SpecialFolder(kind);
        EXPECT_TRUE(p.isEmpty() || p.endsWith('/')) << kind;
    }
    QDir(sendTo + "..").removeRecursively();  // the test-mode velkaro data folder
    QStandardPaths::setTestModeEnabled(false);
}

TEST(Icons, SharedPerTypeAndByNameOnly) {
    QTemporaryDir dir;
    writeFile(dir.filePath("a.png"), "this is not a picture");
    writeFile(dir.filePath("b.PNG"), "neither is this");
    writeFile(dir.filePath("c.txt"));
    QDir(dir.path()).mkdir("sub");
    const int png = SmallIconIndex(dir.filePath("a.png"));
    EXPECT_EQ(SmallIconIndex(dir.filePath("b.PNG")), png);
    EXPECT_NE(SmallIconIndex(dir.filePath("c.txt")), png);
    const int folder = SmallIconIndex(dir.filePath("sub"));
    EXPECT_NE(folder, png);
    EXPECT_NE(OpenIconIndex(dir.filePath("sub")), folder);
    EXPECT_EQ(OpenIconIndex(dir.filePath("a.png")), png);
    EXPECT_LT(png, TSystemImageList::Instance().Count());
    EXPECT_TRUE(TSystemImageList::Instance().Icon(-1).isNull());
    // Type names come from the name: a text file called .png is still a PNG image.
    EXPECT_EQ(ShellTypeName(dir.filePath("a.png")),
              QMimeDatabase().mimeTypeForName("image/png").comment());
    EXPECT_EQ(ShellTypeName(dir.filePath("sub") + "/"),
              QMimeDatabase().mimeTypeForName("inode/directory").comment());
    EXPECT_LE(ShellTypeName(dir.filePath("c.txt")).size(), 79);
}

// Without an icon theme, each kind of file still shows its own icon from the bundled set.
TEST(Icons, BundledSetStandsInForAMissingTheme) {
    const QString theme = QIcon::themeName();
    const QStringList paths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths({});
    QIcon::setThemeName("velkaro-no-such-theme");
    struct Case {
        const char* file;
        const char* generic;
    };
    const Case cases[] = {{"clip.webm", "video-x-generic"},
                          {"song.ogg", "audio-x-generic"},
                          {"bundle.tar.xz", "package-x-generic"}};
    for (const Case& c : cases) {
        const QIcon bundled = BundledTypeIcon(c.generic);
        ASSERT_FALSE(bundled.isNull()) << c.generic;
        const QIcon shown = TSystemImageList::Instance().Icon(SmallIconIndex(c.file));
        EXPECT_EQ(shown.pixmap(16, 16).toImage(), bundled.pixmap(16, 16).toImage()) << c.file;
    }
    EXPECT_TRUE(BundledTypeIcon("no-such-kind").isNull());
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
}

TEST(Shell, HooksStandInForLaunchingAndPicking) {
    QStringList calls;
    SetLaunchHook([&calls](const QString& verb, const QString& file, const QString& params,
                           const QString& folder) {
        calls << verb + "|" + file + "|" + params + "|" + folder;
        return file.endsWith(".bad") ? 31 : 42;
    });
    MessageCapture capture;
    EXPECT_EQ(ShellLaunch("Open", "a.txt", "-x", swShowNormal, "/tmp/"), 42);
    EXPECT_EQ(ShellLaunch("Open", "b.bad"), 31);
    SetLaunchHook(nullptr);
    EXPECT_EQ(calls, QStringList({"Open|a.txt|-x|/tmp/", "Open|b.bad||"}));
    ASSERT_EQ(capture.shown.size(), 1u);
    EXPECT_EQ(capture.shown[0].text, "ERROR - Can't Open file b.bad");

    QString folder = "unchanged";
    SetPickFolderHook([](const QString&) { return QString(); });
    EXPECT_FALSE(PickFolder(nullptr, false, folder));
    EXPECT_EQ(folder, "unchanged");
    SetPickFolderHook([](const QString&) { return QStringLiteral("/srv/data"); });
    EXPECT_TRUE(PickFolder(nullptr, true, folder));
    EXPECT_EQ(folder, "/srv/data/");
    SetPickFolderHook(nullptr);
}
