// The file list: filling by masks and attributes, sorting, navigation, clicks and keys.
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <functional>
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "browse/FileListView.h"
#include "browse/FolderComboLink.h"
#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"

namespace {

using List = TFileListView;
using filelisttest::Captions;
using filelisttest::PressKey;
using filelisttest::RowOf;

class FakeCombo : public QObject, public TFolderComboLink {
  public:
    QObject* LinkObject() override { return this; }
    void SetFileList(TFileListView* list) override { fileList = list; }
    void SelectFolder(const QString& path) override { calls << "SelectFolder " + path; }
    void ReloadTree() override { calls << "ReloadTree"; }
    QString SelectedPath() const override { return selected; }
    bool IsDropDownOpen() const override { return open; }
    void ToggleDropDown() override {
        open = !open;
        calls << "Toggle";
    }
    void CloseDropDown() override {
        open = false;
        calls << "Close";
    }

    TFileListView* fileList = nullptr;
    QStringList calls;
    QString selected = "/sel/";
    bool open = false;
};

class FileListViewTest : public filelisttest::TUserSettingsTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        oldCurrent_ = QDir::currentPath();
        SetMessageHook([this](TMsgKind, const QString& text) {
            messages_ << text;
            return false;
        });
    }
    void TearDown() override {
        SetMessageHook(nullptr);
        QDir::setCurrent(oldCurrent_);
    }

    QString MakeFile(const QString& name, qint64 size = 0) {
        const QString path = root_ + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
        if (size > 0) f.write(QByteArray(static_cast<int>(size), 'x'));
        return path;
    }
    QString MakeFolder(const QString& name) {
        EXPECT_TRUE(QDir().mkpath(root_ + name));
        return AddSlash(root_ + name);
    }

    std::unique_ptr<List> MakeList() {
        auto list = std::make_unique<List>();
        list->resize(700, 500);
        list->show();
        QApplication::processEvents();
        return list;
    }

    static QModelIndex IndexOf(List& list, int row) { return list.View()->model()->index(row, 0); }

    static void Mouse(QWidget* target, QEvent::Type type, QPoint pos) {
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, target->mapToGlobal(pos), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    static void ClickRow(List& list, int row, bool doubleClick = false) {
        QAbstractItemView* view = list.View();
        view->scrollTo(IndexOf(list, row));
        const QPoint pos = view->visualRect(IndexOf(list, row)).center();
        Mouse(view->viewport(), QEvent::MouseButtonPress, pos);
        Mouse(view->viewport(), QEvent::MouseButtonRelease, pos);
        if (!doubleClick) return;
        Mouse(view->viewport(), QEvent::MouseButtonDblClick, pos);
        Mouse(view->viewport(), QEvent::MouseButtonRelease, pos);
    }
    static void SelectRow(List& list, int row) {
        list.View()->selectionModel()->setCurrentIndex(
            IndexOf(list, row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    QTemporaryDir tmp_;
    QString root_;
    QString oldCurrent_;
    QStringList messages_;
};

// --- Filling ---------------------------------------------------------------------------------

TEST_F(FileListViewTest, SniffingListsFilesWithoutExtensionThatReadAsText) {
    const struct {
        const char* name;
        QByteArray bytes;
        bool listed;
    } cases[] = {
        {"README", "plain words\n", true},
        {"Makefile", "all:\n\tcc -o x x.c\n", true},
        {"wide", QByteArray("\xFF\xFEh\0i\0", 6), true},
        {"program",
         QByteArray("\x7F"
                    "ELF\x02\x01\0\0",
                    8),
         false},
        {"noisy", QByteArray(64, '\x01'), false},
        {"notes.md", "# listed by its mask\n", true},
        {".hidden", "text\n", false},
    };
    for (const auto& c : cases) {
        QFile f(root_ + c.name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
    }
    auto list = MakeList();
    list->SetMask("*.md");
    list->SetSniffText(true);
    list->SetDirectory(root_);
    const QStringList shown = Captions(*list);
    for (const auto& c : cases)
        EXPECT_EQ(shown.count(c.name), c.listed ? 1 : 0) << c.name;
    list->SetSniffText(false);
    EXPECT_FALSE(Captions(*list).contains("README"));
}

TEST_F(FileListViewTest, MasksAreCutAtSemicolonsOnlyTrimmedAtTheEnds) {
    for (const char* name : {"a.txt", "b.TXT", "c.ini", " d.txt", "noext", "e.jpg"})
        MakeFile(name);
    MakeFolder("sub");
    auto list = MakeList();
    list->SetDirectory(root_);

    // "*.*" lists every file, also one without a dot, plus folders and the parent row.
    EXPECT_EQ(list->ItemCount(), 8);
    EXPECT_EQ(list->ItemCaption(0), " Parent");
    EXPECT_EQ(list->ItemCaption(1), "sub");

    // Two patterns matching the same files list them twice (letter case ignored).
    list->SetMask("*.txt;*.TXT");
    EXPECT_EQ(list->ItemCount(), 2 + 6);
    EXPECT_EQ(Captions(*list).count("b.TXT"), 2);

    // A blank after ";" belongs to the pattern.
    list->SetMask("*.ini; *.txt");
    QStringList files = Captions(*list).mid(2);
    files.sort();
    EXPECT_EQ(files, QStringList({" d.txt", "c.ini"}));

    list->SetMask("   ");
    EXPECT_EQ(list->ItemCount(), 8);
    list->SetMask("  *.jpg  ");
    EXPECT_EQ(Captions(*list).mid(2), QStringList({"e.jpg"}));
    list->SetMask("?.ini;");
    EXPECT_EQ(Captions(*list).mid(2), QStringList({"c.ini"}));
    list->SetMask(";;");
    EXPECT_EQ(list->ItemCount(), 2);

    // An unchanged mask does not refill; RebuildList does.
    MakeFile("f.ini");
    list->SetMask(";;");
    EXPECT_EQ(list->ItemCount(), 2);
    list->SetMask("*.ini");
    EXPECT_EQ(list->ItemCount(), 4);

    // Without folders there is no parent row either.
    list->SetShowFolders(false);
    EXPECT_EQ(Captions(*list), QStringList({"c.ini", "f.ini"}));
}

TEST_F(FileListViewTest, AttributeFilterHidesHiddenSystemAndReadOnlyEntries) {
    MakeFile("plain.txt", 10);
    MakeFile(".hid");
    MakeFolder(".hdir");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root_ + "pipe").constData(), 0644), 0);
    auto list = MakeList();
    list->SetDirectory(root_);
    ASSERT_NE(RowOf(*list, ".hid"), -1);
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, ".hid"), 3), "AH");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "pipe"), 3), "S");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, ".hdir"), 3), "H");

    list->SetFileType(List::TFileType(List::ftReadOnly | List::ftSystem | List::ftArchive));
    EXPECT_EQ(RowOf(*list, ".hid"), -1);
    EXPECT_EQ(RowOf(*list, ".hdir"), -1);
    EXPECT_EQ(RowOf(*list, " Parent"), 0);  // ".." is not a hidden name
    EXPECT_NE(RowOf(*list, "pipe"), -1);

    list->SetFileType(List::TFileType(List::ftReadOnly | List::ftHidden));
    EXPECT_EQ(RowOf(*list, "pipe"), -1);
    EXPECT_NE(RowOf(*list, "plain.txt"), -1);  // ftArchive filters nothing

    // The settings store sets the filter by its identifiers.
    const QMetaProperty prop =
        list->metaObject()->property(list->metaObject()->indexOfProperty("FileType"));
    ASSERT_TRUE(prop.isFlagType());
    bool ok = false;
    const int value = prop.enumerator().keysToValue("ftHidden|ftSystem", &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(prop.write(list.get(), value));
    EXPECT_EQ(list->FileType(), List::TFileType(List::ftHidden | List::ftSystem));

    if (::geteuid() == 0) GTEST_SKIP() << "root may write every file";
    ::chmod(QFile::encodeName(root_ + "plain.txt").constData(), 0444);
    list->SetFileType(List::TFileType(List::ftReadOnly | List::ftHidden | List::ftSystem));
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "plain.txt"), 3), "AR");
    list->SetFileType(List::TFileType(List::ftHidden | List::ftSystem));
    EXPECT_EQ(RowOf(*list, "plain.txt"), -1);
}

TEST_F(FileListViewTest, RowsCarrySizesPathsKindsAndTimes) {
    for (qint64 size : {0, 1, 1023, 2047})
        MakeFile(QString("s%1").arg(size), size);
    MakeFolder("dir");
    // A sparse file beyond the 32-bit range.
    const QString big = MakeFile("big.bin");
    ASSERT_EQ(::truncate(QFile::encodeName(big).constData(), 3221225472LL), 0);
    QFile stamp(MakeFile("stamp.txt"));
    const QDateTime when(QDate(2020, 1, 2), QTime(12, 30, 45), QTimeZone::utc());
    ASSERT_TRUE(stamp.open(QIODevice::ReadWrite));
    ASSERT_TRUE(stamp.setFileTime(when, QFileDevice::FileModificationTime));
    stamp.close();

    auto list = MakeList();
    list->SetDateFormat(List::df_yyyyMMdd);
    list->SetDirectory(root_);
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s0"), 0), "0 KB");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s1"), 0), "1 KB");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s1023"), 0), "1 KB");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s2047"), 0), "1 KB");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "big.bin"), 0), "3145728 KB");
    const int dir = RowOf(*list, "dir");
    EXPECT_EQ(list->ItemSubItem(dir, 0), " ");
    EXPECT_EQ(list->ItemSubItem(dir, 4), root_ + "dir");
    EXPECT_EQ(list->ItemSubItem(dir, 5), "dir");
    EXPECT_EQ(list->ItemSubItemCount(dir), 7);

    const int s = RowOf(*list, "stamp.txt");
    EXPECT_EQ(list->ItemSubItem(s, 4), root_ + "stamp.txt");
    EXPECT_EQ(list->ItemSubItem(s, 5), "file");
    EXPECT_EQ(list->ItemSubItem(s, 6), QString::number(FileTimeFromDateTime(when)));
    EXPECT_TRUE(list->ItemSubItem(s, 2).startsWith(when.toLocalTime().toString("yyyy-MM-dd ")))
        << list->ItemSubItem(s, 2).toStdString();
    EXPECT_EQ(list->ItemSubItem(s, 3), "A");

    // The parent row: blanks in the visible columns, the folder followed by "..".
    EXPECT_EQ(list->ItemCaption(0), " Parent");
    EXPECT_EQ(list->ItemSubItem(0, 0), " ");
    EXPECT_EQ(list->ItemSubItem(0, 1), " ");
    EXPECT_EQ(list->ItemSubItem(0, 4), root_ + "..");
    EXPECT_EQ(list->ItemSubItem(0, 5), "dir");
    EXPECT_EQ(list->ItemImageIndex(0), list->ParentImageIndex());

    // Byte sizes with fsByte from the next fill on; formats change only with a fill.
    list->SetFileSize(List::fsByte);
    list->SetTimeFormat(List::tfCustomize);
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s1023"), 0), "1 KB");
    list->RebuildList();
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "s1023"), 0), "1023");
    EXPECT_EQ(list->ItemSubItem(RowOf(*list, "big.bin"), 0), "3221225472");
    EXPECT_TRUE(list->TimePattern().endsWith(" AM/PM"));
    const QString modified = list->ItemSubItem(RowOf(*list, "stamp.txt"), 2);
    EXPECT_TRUE(modified.endsWith("AM") || modified.endsWith("PM")) << modified.toStdString();
    list->SelectAll();
    EXPECT_EQ(list->SelectedNumber(), list->ItemCount());
    EXPECT_EQ(list->SelectedSize(), 3221225472LL + 1 + 1023 + 2047);
}

TEST_F(FileListViewTest, HideFileExtShortensCaptionsAndEmptyCaptionsDoNotOpen) {
    MakeFile("a.b.txt");
    MakeFolder(".cfg");
    auto list = MakeList();
    list->SetHideFileExt(true);
    list->SetDirectory(root_);
    EXPECT_NE(RowOf(*list, "a.b"), -1);
    const int empty = RowOf(*list, "");
    ASSERT_NE(empty, -1);
    EXPECT_EQ(list->ItemSubItem(empty, 4), root_ + ".cfg");
    ClickRow(*list, empty, true);
    EXPECT_EQ(list->Directory(), root_);
}

// --- Directory -------------------------------------------------------------------------------

TEST_F(FileListViewTest, DirectorySetterIgnoresNonFoldersAndRepeats) {
    MakeFile("x.txt");
    auto list = MakeList();
    EXPECT_EQ(list->Directory(), "Drives");
    list->SetDirectory(DropSlash(root_));
    EXPECT_EQ(list->Directory(), root_);
    // The process's working folder stays: relative paths keep naming what they named.
    EXPECT_EQ(QDir::currentPath(), oldCurrent_);
    EXPECT_FALSE(list->DriveColumnsInstalled());
    const int rows = list->ItemCount();

    MakeFile("y.txt");
    list->SetDirectory(root_);
    EXPECT_EQ(list->ItemCount(), rows);  // same path: no refill
    list->SetDirectory(root_ + "missing");
    list->SetDirectory(root_ + "x.txt");
    list->SetDirectory("");
    EXPECT_EQ(list->Directory(), root_);
    EXPECT_EQ(list->ItemCount(), rows);

    list->SetDirectory("drives");
    EXPECT_EQ(list->Directory(), "drives");
    EXPECT_TRUE(list->DriveColumnsInstalled());
    list->SetDirectory("DRIVES");
    EXPECT_EQ(list->Directory(), "drives");
}

// A folder that cannot be read says why in the list and keeps the parent row, the way back.
TEST_F(FileListViewTest, UnreadableFolderSaysWhyAndKeepsTheParentRow) {
    const QString gone = MakeFolder("gone");
    MakeFile("gone/file.txt");
    const QString locked = MakeFolder("locked");
    MakeFile("locked/file.txt");
    auto list = MakeList();
    auto message = [&] {
        const auto* label = list->findChild<QLabel*>("ListMessage");
        return label != nullptr && label->isVisible() ? label->text() : QString();
    };
    const struct {
        const char* name;
        QString folder;
        bool locked;
        const char* reason;
    } cases[] = {{"removed", gone, false, "No such file or directory"},
                 {"no permission", locked, true, "Permission denied"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list->SetDirectory("Drives");
        list->SetDirectory(c.folder);
        ASSERT_GT(list->ItemCount(), 1);
        EXPECT_TRUE(message().isEmpty());
        if (c.locked) {
            // The super-user reads every folder: the fill runs as nobody, which also drops the
            // capabilities that override file permissions (for this thread only).
            ASSERT_EQ(::chmod(QFile::encodeName(c.folder).constData(), 0), 0);
            if (::geteuid() == 0) ::setfsuid(65534);
            const int probe =
                ::open(QFile::encodeName(c.folder).constData(), O_RDONLY | O_DIRECTORY);
            const bool deniedAsUser = probe < 0;
            if (probe >= 0) ::close(probe);
            list->RebuildList();
            if (::geteuid() == 0) ::setfsuid(0);
            ::chmod(QFile::encodeName(c.folder).constData(), 0755);
            if (!deniedAsUser) GTEST_SKIP() << "the folder stays readable";
        } else {
            ASSERT_TRUE(QDir(c.folder).removeRecursively());
            list->RebuildList();
        }
        EXPECT_EQ(Captions(*list), QStringList({" Parent"}));
        EXPECT_EQ(message(), c.reason);
        EXPECT_EQ(list->ColumnCaption(1), "Size");
        // The parent row leads back; the message goes with the unreadable folder.
        ClickRow(*list, 0, true);
        EXPECT_EQ(list->Directory(), root_);
        EXPECT_TRUE(message().isEmpty());
    }
}

TEST_F(FileListViewTest, DriveListShowsMountPointsWithDriveColumns) {
    auto list = MakeList();
    list->RebuildList();  // Directory is "Drives" from the start
    ASSERT_TRUE(list->DriveColumnsInstalled());
    EXPECT_FALSE(list->SortingEnabled());
    EXPECT_EQ(list->ColumnCaption(2), "Disk Size");
    EXPECT_EQ(list->ColumnCaption(3), "Free Space");
    EXPECT_EQ(list->ColumnWidth(0), 160);
    int rootRow = -1;
    for (int i = 0; i < list->ItemCount(); ++i) {
        EXPECT_EQ(list->ItemSubItemCount(i), 6);
        EXPECT_EQ(list->ItemSubItem(i, 5), "drv");
        EXPECT_TRUE(list->ItemSubItem(i, 2).endsWith(" Mb"));
        if (list->ItemSubItem(i, 4) == "/") rootRow = i;
    }
    ASSERT_NE(rootRow, -1);
    EXPECT_TRUE(list->ItemCaption(rootRow).startsWith(" (/)  "));

    // Opening the root row shows "/" without a parent row; Backspace returns to the drives.
    SelectRow(*list, rootRow);
    PressKey(*list, Qt::Key_Return);
    EXPECT_EQ(list->Directory(), "/");
    EXPECT_FALSE(list->DriveColumnsInstalled());
    EXPECT_EQ(RowOf(*list, " Parent"), -1);
    PressKey(*list, Qt::Key_Backspace);
    EXPECT_EQ(list->Directory(), "Drives");
    const int rows = list->ItemCount();
    PressKey(*list, Qt::Key_Backspace);
    EXPECT_EQ(list->Directory(), "Drives");
    EXPECT_EQ(list->ItemCount(), rows);
}

// --- Sorting ---------------------------------------------------------------------------------

TEST_F(FileListViewTest, FillSortsByNameAndReverseKeepsParentFirst) {
    const QString one = MakeFolder("one");
    MakeFolder("one/Bdir");
    MakeFolder("one/adir");
    MakeFile("one/b.txt", 5000);
    MakeFile("one/a.txt", 10);
    const QString two = MakeFolder("two");
    MakeFolder("two/x");
    MakeFolder("two/y");
    MakeFile("two/p.txt");
    MakeFile("two/q.txt");

    auto list = MakeList();
    list->SetDirectory(one);
    EXPECT_EQ(Captions(*list), QStringList({" Parent", "adir", "Bdir", "a.txt", "b.txt"}));
    EXPECT_EQ(list->SortColumn(), 0);
    EXPECT_FALSE(list->SortReverse());

    list->ColumnClick(1);  // Size, reversed: files first, largest first, parent still first
    EXPECT_TRUE(list->SortReverse());
    EXPECT_EQ(Captions(*list).first(), " Parent");
    EXPECT_EQ(Captions(*list).mid(1, 2), QStringList({"b.txt", "a.txt"}));
    list->ColumnClick(1);
    EXPECT_FALSE(list->SortReverse());
    EXPECT_EQ(Captions(*list).mid(3), QStringList({"a.txt", "b.txt"}));

    // Another folder after Size twice: by name descending, files before folders.
    list->SetDirectory(two);
    EXPECT_EQ(list->SortColumn(), 0);
    EXPECT_TRUE(list->SortReverse());
    EXPECT_EQ(Captions(*list), QStringList({" Parent", "q.txt", "p.txt", "y", "x"}));
    list->ColumnClick(0);
    EXPECT_EQ(Captions(*list), QStringList({" Parent", "x", "y", "p.txt", "q.txt"}));

    // Selection follows its row through a sort.
    SelectRow(*list, RowOf(*list, "p.txt"));
    list->ColumnClick(0);
    EXPECT_TRUE(list->ItemSelected(RowOf(*list, "p.txt")));
    EXPECT_FALSE(list->ItemSelected(RowOf(*list, "q.txt")));
}

// Names in the order people read them: numbers by value, letters by the locale, letter case
// aside; folders still first.
// Numbers by value and letters beside their accented forms in every locale, also in the C and
// POSIX locales of minimal systems and containers, which have no collation of their own.
TEST_F(FileListViewTest, NamesSortNaturallyInEveryLocale) {
    const QLocale saved;
    const QString folder = MakeFolder("natural");
    MakeFolder("natural/dir10");
    MakeFolder("natural/Dir9");
    const QStringList files = {"1.txt",     "9.txt",     "10.txt", "100.txt", "a.txt",  "apfel.txt",
                               "Äpfel.txt", "Ärger.txt", "b.txt",  "file2",   "File10", "Z.txt"};
    for (const QString& name : files)
        MakeFile("natural/" + name);
    auto list = MakeList();
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale::c(),
                                  QLocale(QStringLiteral("C.UTF-8"))}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        list->SetDirectory(root_);
        list->SetDirectory(folder);
        EXPECT_EQ(Captions(*list), QStringList({" Parent", "Dir9", "dir10"}) + files);
        // Names equal but for letter case keep one order.
        EXPECT_LT(List::CompareNames("A.txt", "a.txt"), 0);
        EXPECT_GT(List::CompareNames("a.txt", "A.txt"), 0);
        EXPECT_LT(List::CompareNames("9.txt", "10.txt"), 0);
        EXPECT_LT(List::CompareNames("Äpfel", "b"), 0);
    }
    QLocale::setDefault(saved);
}

// --- Live list -------------------------------------------------------------------------------

namespace {
// Runs the event loop until done() holds; false after the time-out (generous: this checks
// that changes arrive, not how fast).
bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
}  // namespace

// Entries that another program creates, removes or renames appear and disappear by
// themselves; the selection, the focused row, the scroll position and the order stay.
TEST_F(FileListViewTest, LiveListFollowsOtherProgramsChanges) {
    const QString folder = MakeFolder("live");
    for (int i = 0; i < 200; ++i)
        MakeFile(QStringLiteral("live/f%1.txt").arg(i, 3, 10, QChar(u'0')), i);
    auto list = MakeList();
    list->resize(300, 200);
    list->SetDirectory(folder);
    list->ColumnClick(1);  // by size, largest first
    const int row = RowOf(*list, "f150.txt");
    SelectRow(*list, row);
    list->View()->verticalScrollBar()->setValue(40);
    const int scroll = list->View()->verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);

    // Each step: a change, then the entry that must appear and the one that must go.
    const std::tuple<std::function<void()>, QString, QString> steps[] = {
        {[&] { MakeFile("live/new.txt"); }, "new.txt", ""},
        {[&] { QFile::remove(root_ + "live/f001.txt"); }, "", "f001.txt"},
        {[&] { QFile::rename(root_ + "live/f002.txt", root_ + "live/g002.txt"); }, "g002.txt",
         "f002.txt"},
    };
    for (const auto& [change, appears, goes] : steps) {
        change();
        EXPECT_TRUE(WaitFor([&] {
            return (appears.isEmpty() || RowOf(*list, appears) >= 0) && RowOf(*list, goes) < 0;
        })) << (appears + goes).toStdString();
        const int now = RowOf(*list, "f150.txt");
        EXPECT_TRUE(list->ItemSelected(now) && list->ItemFocused(now));
        EXPECT_EQ(list->View()->verticalScrollBar()->value(), scroll);
        EXPECT_TRUE(list->SortColumn() == 1 && list->SortReverse());
    }

    // A burst of thousands of files: every one arrives, with at most one re-read per interval.
    int refills = 0;
    QObject::connect(list->View()->model(), &QAbstractItemModel::modelReset,
                     [&refills] { ++refills; });
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; i < 3000; ++i) {
        MakeFile(QStringLiteral("live/burst%1").arg(i));
        if (i % 50 == 0) QApplication::processEvents();
    }
    EXPECT_TRUE(WaitFor([&] { return RowOf(*list, "burst2999") >= 0; }));
    EXPECT_LE(refills, burst.elapsed() / List::LiveRefreshIntervalMs + 2);
    EXPECT_EQ(list->WatchedFolder(), DropSlash(folder));
    list->SetDirectory("Drives");
    EXPECT_EQ(list->WatchedFolder(), QString());
}

TEST_F(FileListViewTest, HeaderClicksSortAndShowTheArrowOnTheSortColumn) {
    const QString base = MakeFolder("m");
    int day = 1;
    for (const char* name : {"old", "mid", "new"}) {
        MakeFolder(QString("m/") + name);
        struct timespec times[2] = {{0, UTIME_OMIT}, {1609462800 + 86400 * day++, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(base + name).constData(), times, 0), 0);
    }
    auto list = MakeList();
    list->SetDirectory(base);
    QHeaderView* header = list->Header();
    const QPoint pos(header->sectionViewportPosition(3) + 5, header->height() / 2);
    Mouse(header->viewport(), QEvent::MouseButtonPress, pos);
    Mouse(header->viewport(), QEvent::MouseButtonRelease, pos);
    EXPECT_EQ(list->SortColumn(), 3);
    EXPECT_TRUE(list->SortReverse());
    EXPECT_EQ(header->sortIndicatorSection(), 3);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(Captions(*list), QStringList({" Parent", "new", "mid", "old"}));
    Mouse(header->viewport(), QEvent::MouseButtonPress, pos);
    Mouse(header->viewport(), QEvent::MouseButtonRelease, pos);
    EXPECT_FALSE(list->SortReverse());
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // Unreversed, the parent row takes its place by its own time (the folder was just made).
    EXPECT_EQ(Captions(*list), QStringList({"old", "mid", "new", " Parent"}));

    // No sorting in the drive list.
    list->SetDirectory("Drives");
    list->ColumnClick(1);
    EXPECT_EQ(list->SortColumn(), 3);
    EXPECT_FALSE(header->isSortIndicatorShown());
}

// --- Clicks, keys and navigation -------------------------------------------------------------

TEST_F(FileListViewTest, ClicksReportTheSelectedPath) {
    MakeFile("a.txt");
    MakeFile("b.txt");
    MakeFile("c.txt");
    auto list = MakeList();
    QStringList events;
    QObject::connect(list.get(), &List::OnItemChange, [&](QObject* sender, const QString& path) {
        EXPECT_EQ(sender, list.get());
        events << "change " + path;
    });
    QObject::connect(list.get(), &List::OnClick, [&](QObject*) { events << "click"; });
    list->SetDirectory(root_);

    // After a fill the first row has the focus but is not selected.
    EXPECT_TRUE(list->ItemFocused(0));
    EXPECT_FALSE(list->ItemSelected(0));

    ClickRow(*list, RowOf(*list, "b.txt"));
    EXPECT_EQ(events, QStringList({"change " + root_ + "b.txt", "click"}));
    EXPECT_EQ(list->SelectedItem(), root_ + "b.txt");

    // Releasing Down reports the next row; an auto-repeat release does not.
    events.clear();
    PressKey(*list, Qt::Key_Down);
    EXPECT_EQ(events, QStringList({"change " + root_ + "c.txt", "click"}));
    events.clear();
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(list->View(), &repeat);
    EXPECT_TRUE(events.isEmpty());

    // The parent row reports the folder followed by "..".
    ClickRow(*list, 0);
    EXPECT_EQ(list->SelectedItem(), root_ + "..");

    // Without a selected row nothing is reported; SelectedItem is just stored.
    list->View()->selectionModel()->clearSelection();
    events.clear();
    list->Click();
    PressKey(*list, Qt::Key_Up, Qt::NoModifier, false);
    list->View()->selectionModel()->clearSelection();
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(list->View(), &up);
    EXPECT_TRUE(events.isEmpty());
    list->SetSelectedItem("anything");
    EXPECT_EQ(list->SelectedItem(), "anything");
    EXPECT_EQ(list->SelectedNumber(), list->ItemCount());
}

// Every key that moves the current row reports the row when released, as Up and Down do, so
// that what is shown is what Delete and the other keys act on.
TEST_F(FileListViewTest, KeysThatMoveTheCurrentRowReportIt) {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        MakeFile(name);
    auto list = MakeList();
    list->SetDirectory(root_);
    const struct {
        int key;
        const char* text;
        const char* reported;  // the row reported on release
    } cases[] = {{Qt::Key_End, "", "d.txt"},
                 {Qt::Key_Home, "", " Parent"},
                 {Qt::Key_PageDown, "", "d.txt"},
                 {Qt::Key_PageUp, "", " Parent"},
                 {Qt::Key_C, "c", "c.txt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reported);
        QStringList clicked;
        const auto connection = QObject::connect(list.get(), &List::OnClick, [&](QObject*) {
            clicked << list->ItemCaption(RowOf(*list, LastName(list->SelectedItem())));
        });
        QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier, QString::fromLatin1(c.text));
        QApplication::sendEvent(list->View(), &press);
        QKeyEvent release(QEvent::KeyRelease, c.key, Qt::NoModifier, QString::fromLatin1(c.text));
        QApplication::sendEvent(list->View(), &release);
        QObject::disconnect(connection);
        const int row = RowOf(*list, c.reported);
        EXPECT_TRUE(list->ItemSelected(row));
        EXPECT_EQ(list->SelectedItem(), list->ItemSubItem(row, 4));
        EXPECT_EQ(clicked.size(), 1);
    }
    // A key that moves nothing reports nothing.
    PressKey(*list, Qt::Key_Home);
    QStringList clicked;
    QObject::connect(list.get(), &List::OnClick, [&](QObject*) { clicked << "click"; });
    PressKey(*list, Qt::Key_Home);
    EXPECT_TRUE(clicked.isEmpty());
}

// F3 searches the folder with the desktop's file-search program; without one the message names
// the programs it looks for.
TEST_F(FileListViewTest, F3WithoutASearchProgramNamesTheProgramsItLooksFor) {
    auto list = MakeList();
    list->SetDirectory(root_);
    QStringList verbs;
    SetLaunchHook([&](const QString& verb, const QString&, const QString&, const QString&) {
        verbs << verb;
        return 31;  // nothing to run
    });
    PressKey(*list, Qt::Key_F3);
    SetLaunchHook(nullptr);
    EXPECT_EQ(verbs, QStringList({"Find"}));
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains("catfish")) << messages_[0].toStdString();
    EXPECT_FALSE(messages_[0].contains("Can't")) << messages_[0].toStdString();
}

TEST_F(FileListViewTest, EnterBackspaceAndDoubleClickNavigate) {
    const QString sub = MakeFolder("sub");
    const QString inner = MakeFolder("sub/inner");
    MakeFile("sub/inner/f.txt");
    auto list = MakeList();
    FakeCombo combo;
    list->SetDirTreeCombo(&combo);
    list->SetDirectory(sub);

    SelectRow(*list, RowOf(*list, "inner"));
    PressKey(*list, Qt::Key_Return);
    EXPECT_EQ(list->Directory(), inner);
    EXPECT_EQ(combo.calls.last(), "SelectFolder " + inner);

    // Backspace goes up and selects the folder it came from.
    QStringList changes;
    QObject::connect(list.get(), &List::OnItemChange,
                     [&](QObject*, const QString& path) { changes << path; });
    PressKey(*list, Qt::Key_Backspace);
    EXPECT_EQ(list->Directory(), sub);
    EXPECT_EQ(combo.calls.last(), "SelectFolder " + sub);
    const int innerRow = RowOf(*list, "inner");
    EXPECT_TRUE(list->ItemSelected(innerRow));
    EXPECT_TRUE(list->ItemFocused(innerRow));
    EXPECT_EQ(list->SelectedItem(), root_ + "sub/inner");
    EXPECT_EQ(changes, QStringList({root_ + "sub/inner"}));

    // Double-click opens a folder, and the parent row goes up.
    ClickRow(*list, innerRow, true);
    EXPECT_EQ(list->Directory(), inner);
    ClickRow(*list, 0, true);
    EXPECT_EQ(list->Directory(), sub);

    // Without DblClickToOpen only the parent row navigates; other rows fire OnDblClick.
    list->SetDblClickToOpen(false);
    int dbl = 0;
    QObject::connect(list.get(), &List::OnDblClick, [&](QObject*) { ++dbl; });
    ClickRow(*list, RowOf(*list, "inner"), true);
    EXPECT_EQ(list->Directory(), sub);
    EXPECT_EQ(dbl, 1);
    ClickRow(*list, 0, true);
    EXPECT_EQ(list->Directory(), root_);
    EXPECT_EQ(dbl, 1);

    // Ctrl+O opens like Enter.
    SelectRow(*list, RowOf(*list, "sub"));
    PressKey(*list, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(list->Directory(), sub);
}

TEST_F(FileListViewTest, ComboLinkKeysAndUnlinking) {
    MakeFile("a.txt");
    auto list = MakeList();
    list->SetDirectory(root_);
    QList<int> keys;
    QObject::connect(list.get(), &List::OnKeyDown,
                     [&](QObject*, int key, Qt::KeyboardModifiers) { keys << key; });

    // Without a combo Esc and F4 are swallowed.
    PressKey(*list, Qt::Key_Escape);
    PressKey(*list, Qt::Key_F4);
    EXPECT_TRUE(keys.isEmpty());

    auto combo = std::make_unique<FakeCombo>();
    list->SetDirTreeCombo(combo.get());
    EXPECT_EQ(combo->fileList, list.get());
    PressKey(*list, Qt::Key_F4);
    EXPECT_TRUE(combo->open);
    PressKey(*list, Qt::Key_Escape);
    EXPECT_FALSE(combo->open);
    EXPECT_EQ(keys, QList<int>({Qt::Key_F4, Qt::Key_Escape}));

    combo->calls.clear();
    MakeFile("b.txt");
    const int before = list->ItemCount();
    PressKey(*list, Qt::Key_F5);
    EXPECT_EQ(list->ItemCount(), before + 1);
    EXPECT_EQ(combo->calls, QStringList({"ReloadTree", "SelectFolder /sel/"}));

    // Ctrl+A selects every row of a multi-selection list.
    PressKey(*list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->SelectedNumber(), list->ItemCount());
    EXPECT_TRUE(list->ItemSelected(0));

    // Linking another combo unlinks the first; a destroyed combo unlinks itself.
    FakeCombo other;
    list->SetDirTreeCombo(&other);
    EXPECT_EQ(combo->fileList, nullptr);
    EXPECT_EQ(other.fileList, list.get());
    list->SetDirTreeCombo(combo.get());
    combo.reset();
    EXPECT_EQ(list->DirTreeCombo(), nullptr);
    PressKey(*list, Qt::Key_F5);  // no dangling combo
}

// --- Properties ------------------------------------------------------------------------------

TEST_F(FileListViewTest, PropertiesAndParentIcon) {
    auto list = MakeList();
    EXPECT_EQ(list->property("About").toString(), "Version 2.8.7.9");
    list->setProperty("About", "other");
    EXPECT_EQ(list->About(), "Version 2.8.7.9");

    list->SetParentDirCaption("  Up  ");
    EXPECT_EQ(list->ParentDirCaption(), " Up");
    list->SetParentDirCaption("UP");
    EXPECT_EQ(list->ParentDirCaption(), " Up");

    // The settings store sets published properties by name.
    EXPECT_TRUE(list->setProperty("ShowFolders", false));
    EXPECT_FALSE(list->ShowFolders());
    EXPECT_TRUE(list->setProperty("Directory", root_));
    EXPECT_EQ(list->Directory(), root_);

    // Column widths reach the folder columns when they are next installed.
    list->SetColWidth_Name(150);
    list->SetColWidth_Size(0);
    EXPECT_EQ(list->ColumnWidth(0), 165);
    list->SetDirectory("Drives");
    list->SetDirectory(root_);
    EXPECT_EQ(list->ColumnWidth(0), 150);
    EXPECT_EQ(list->ColumnWidth(1), 0);

    // Captions follow the language.
    list->SetLanguage(lnGerman);
    EXPECT_EQ(list->ColumnCaption(0), "Dateiname");
    EXPECT_EQ(list->ColumnCaption(3), "Geändert am");
    list->SetLanguage(lnEnglish);
    EXPECT_EQ(list->ColumnCaption(0), "Name");

    // A right click on the rows reaches the menu the owner set on the list.
    int menuRequests = 0;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list.get(), &QWidget::customContextMenuRequested,
                     [&](const QPoint&) { ++menuRequests; });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                list->View()->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(list->View()->viewport(), &menuEvent);
    EXPECT_EQ(menuRequests, 1);

    // The parent icon index is kept per user and reused while its picture matches.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Morvath", "KvFileExplorer");
    EXPECT_EQ(settings.value("ParentImgIdx").toInt(), list->ParentImageIndex());
    const int icons = TSystemImageList::Instance().Count();
    List second;
    EXPECT_EQ(second.ParentImageIndex(), list->ParentImageIndex());
    EXPECT_EQ(TSystemImageList::Instance().Count(), icons);
}

TEST_F(FileListViewTest, ListStyleLaysOutNameColumnWideItems) {
    for (int i = 0; i < 50; ++i)
        MakeFile(QString("file%1.txt").arg(i));
    auto list = std::make_unique<List>();
    list->SetViewStyle(List::vsList);
    list->SetShowColumnHeaders(false);
    list->SetMultiSelect(false);
    list->SetColWidth_Name(150);
    list->resize(400, 200);
    list->show();
    QApplication::processEvents();
    list->SetDirectory(root_);
    QApplication::processEvents();
    EXPECT_EQ(list->View()->visualRect(IndexOf(*list, 3)).width(), 150);
    // Rows flow top to bottom, then into the next column.
    const QRect first = list->View()->visualRect(IndexOf(*list, 0));
    const QRect second = list->View()->visualRect(IndexOf(*list, 1));
    EXPECT_EQ(first.x(), second.x());
    EXPECT_GT(second.y(), first.y());

    ClickRow(*list, 5);
    ClickRow(*list, 7);
    EXPECT_EQ(list->SelectedNumber(), 1);
    EXPECT_EQ(list->SelectedItem(), list->ItemSubItem(7, 4));
}

}  // namespace

// --- Refills and names -----------------------------------------------------------------------

TEST_F(FileListViewTest, ARefillOfTheSameFolderKeepsSelectionFocusAndScrollPosition) {
    for (int i = 0; i < 300; ++i)
        MakeFile(QString("f%1.txt").arg(i, 3, 10, QChar('0')));
    for (List::TViewStyle style : {List::vsList, List::vsReport}) {
        SCOPED_TRACE(style);
        auto list = MakeList();
        list->SetMultiSelect(false);
        list->SetViewStyle(style);
        list->resize(300, 200);
        list->SetDirectory(root_);
        const int row = RowOf(*list, "f250.txt");
        ASSERT_GE(row, 0);
        SelectRow(*list, row);
        list->View()->scrollTo(IndexOf(*list, row));
        QScrollBar* bar = style == List::vsList ? list->View()->horizontalScrollBar()
                                                : list->View()->verticalScrollBar();
        const int scrolled = bar->value();
        ASSERT_GT(scrolled, 0);

        MakeFile("a-new-file.txt");  // a new row ahead of the selected one
        list->RebuildList();
        const int moved = RowOf(*list, "f250.txt");
        EXPECT_EQ(moved, row + 1);
        EXPECT_TRUE(list->ItemSelected(moved));
        EXPECT_TRUE(list->ItemFocused(moved));
        EXPECT_EQ(bar->value(), scrolled);
        // The next Down goes on from the kept row, not from the top.
        PressKey(*list, Qt::Key_Down);
        EXPECT_EQ(list->SelectedItem(), root_ + "f251.txt");

        // The selected entry gone: nothing selected, the first row focused as after any fill.
        QFile::remove(root_ + "f251.txt");
        list->RebuildList();
        EXPECT_EQ(list->SelectedNumber(), list->ItemCount());  // none selected
        // Another folder starts at its top.
        list->SetDirectory(MakeFolder("other"));
        EXPECT_TRUE(list->ItemFocused(0));
        EXPECT_EQ(bar->value(), 0);
        QFile::remove(root_ + "a-new-file.txt");
        QDir(root_).rmdir("other");
        MakeFile("f251.txt");
    }
}

TEST_F(FileListViewTest, ANameThatIsNotValidUtf8KeepsItsBytes) {
    const QByteArray native = QFile::encodeName(root_) + "latin1_\xe9.txt";
    const int fd = ::open(native.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    MakeFile("plain.txt");
    auto list = MakeList();
    list->SetDirectory(root_);
    int lossy = -1;
    for (int row = 0; row < list->ItemCount(); ++row)
        if (list->ItemCaption(row).startsWith("latin1_")) lossy = row;
    ASSERT_GE(lossy, 0);
    EXPECT_EQ(list->ItemNativePath(lossy), native);
    ClickRow(*list, lossy);
    EXPECT_EQ(list->SelectedItemNative(), native);
    struct stat st {};
    EXPECT_EQ(::stat(list->SelectedItemNative().constData(), &st), 0);
    // A valid name gives its encoded text; a set SelectedItem drops the bytes of the click.
    ClickRow(*list, RowOf(*list, "plain.txt"));
    EXPECT_EQ(list->SelectedItemNative(), QFile::encodeName(root_ + "plain.txt"));
    ClickRow(*list, lossy);
    list->SetSelectedItem(root_ + "plain.txt");
    EXPECT_EQ(list->SelectedItemNative(), QFile::encodeName(root_ + "plain.txt"));

    // Such a folder cannot be entered (folders go by their text): a clear error, no move.
    ASSERT_EQ(::mkdir((QFile::encodeName(root_) + "dir_\xe9").constData(), 0755), 0);
    list->RebuildList();
    int folder = -1;
    for (int row = 0; row < list->ItemCount(); ++row)
        if (list->ItemCaption(row).startsWith("dir_")) folder = row;
    ASSERT_GE(folder, 0);
    SelectRow(*list, folder);
    messages_.clear();
    list->OpenSelected();
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains("not valid")) << messages_[0].toStdString();
    EXPECT_EQ(list->Directory(), root_);
}

// Typed text narrows the rows to the names holding it in every style, the first match selected;
// Backspace widens, Esc brings every row back in order with the match still selected.
TEST_F(FileListViewTest, TypedTextFiltersTheRowsInEveryStyle) {
    for (const char* name : {"apple.txt", "Banana.txt", "cherry.txt"})
        MakeFile(name);
    MakeFolder("plan");
    const QStringList all = {" Parent", "plan", "apple.txt", "Banana.txt", "cherry.txt"};
    const struct {
        int key;
        const char* text;
        QStringList rows;
        const char* selected;
    } steps[] = {
        {Qt::Key_A, "a", {" Parent", "plan", "apple.txt", "Banana.txt"}, "apple.txt"},
        {Qt::Key_N, "N", {" Parent", "plan", "Banana.txt"}, "plan"},  // none starts with "aN"
        {Qt::Key_Backspace, "", {" Parent", "plan", "apple.txt", "Banana.txt"}, "apple.txt"},
        {Qt::Key_Escape, "", all, "apple.txt"},
    };
    for (const auto style : {List::vsReport, List::vsList, List::vsIcon, List::vsThumbnails}) {
        SCOPED_TRACE(int(style));
        auto list = MakeList();
        list->SetViewStyle(style);
        list->SetDirectory(root_);
        for (const auto& step : steps) {
            SCOPED_TRACE(step.selected);
            QKeyEvent press(QEvent::KeyPress, step.key, Qt::NoModifier, step.text);
            QApplication::sendEvent(list->View(), &press);
            QStringList rows;
            for (int row = 0; row < list->ItemCount(); ++row)
                rows << list->ItemCaption(row);
            EXPECT_EQ(rows, step.rows);
            EXPECT_TRUE(list->ItemSelected(RowOf(*list, step.selected)));
            EXPECT_EQ(LastName(list->SelectedItem()), step.selected);
        }
        EXPECT_FALSE(list->FilterOpen());
        // Ctrl+F opens the box; its text narrows too, and another folder closes it.
        PressKey(*list, Qt::Key_F, Qt::ControlModifier);
        EXPECT_TRUE(list->FilterOpen());
        list->FilterBox()->setText("CHER");
        EXPECT_EQ(list->ItemCount(), 2);
        EXPECT_EQ(LastName(list->SelectedItem()), "cherry.txt");
        list->SetDirectory(root_ + "plan");
        EXPECT_FALSE(list->FilterOpen());
        EXPECT_EQ(list->ItemCount(), 1);
    }
}

// A folder without files shows the owner's offer under its rows; a click on it is reported.
TEST_F(FileListViewTest, AFolderWithoutFilesShowsTheOwnersOffer) {
    MakeFolder("empty");
    MakeFolder("full");
    MakeFile("full/a.txt");
    auto list = MakeList();
    QStringList asked;
    list->EmptyFolderOffer = [&](const QString& folder) {
        asked << LastName(folder);
        return QStringLiteral("3 pictures here");
    };
    int clicks = 0;
    QObject::connect(list.get(), &List::OnOfferClick, [&] { ++clicks; });
    list->SetDirectory(root_ + "full");
    EXPECT_EQ(list->Offer(), "");
    list->SetDirectory(root_ + "empty");
    EXPECT_EQ(list->Offer(), "3 pictures here");
    EXPECT_EQ(asked, QStringList({"empty"}));
    list->OfferButton()->click();
    EXPECT_EQ(clicks, 1);
}
