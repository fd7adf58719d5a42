// The drive-and-folder combo: its tree, choices, keys, the link with the file list and the
// rebuild after folder and drive changes.
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QEventLoop>
#include <QFile>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <memory>

#include <gtest/gtest.h>

#include "browse/FileListView.h"
#include "browse/FolderCombo.h"
#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"
#include "toolkit/Application.h"

namespace {

using Combo = TFolderCombo;
using Tree = TFolderTree;

// Records the arguments of every emission of a signal.
template <class Sender, class... Args>
struct Recorder {
    QList<QVariantList> calls;
    Recorder(Sender* sender, void (Sender::*signal)(Args...)) {
        QObject::connect(sender, signal, &context, [this](Args... args) {
            calls.append(QVariantList{QVariant::fromValue(args)...});
        });
    }
    qsizetype count() const { return calls.size(); }
    const QVariantList& operator[](qsizetype i) const { return calls[i]; }
    void clear() { calls.clear(); }
    // Runs the event loop until one more emission arrives or the time is up.
    bool wait(int ms) {
        const qsizetype before = calls.size();
        QElapsedTimer clock;
        clock.start();
        while (calls.size() == before && clock.elapsed() < ms) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return calls.size() > before;
    }
    QObject context;
};

void Wait(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void Click(QWidget* widget, QPoint pos = QPoint(-1, -1)) {
    if (pos.x() < 0) pos = widget->rect().center();
    const QPointF local(pos);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

class FolderComboTest : public filelisttest::TUserSettingsTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        root_ = AddSlash(QDir(dir_.path()).canonicalPath());
        SetMessageHook([this](TMsgKind, const QString& text) {
            messages_ << text;
            return true;
        });
        host_ = std::make_unique<QWidget>();
        host_->resize(1000, 300);
        combo_ = new Combo(host_.get());
        // Wide, so that the deep nodes of a temporary folder stay inside the drop-down tree.
        combo_->setGeometry(0, 0, 900, 21);
        list_ = new TFileListView(host_.get());
        list_->setGeometry(0, 30, 400, 260);
        host_->show();
    }
    void TearDown() override {
        host_.reset();
        SetMessageHook(nullptr);
    }

    void MakeDir(const QString& relative) { ASSERT_TRUE(QDir().mkpath(root_ + relative)); }

    QStringList ChildCaptions(QTreeWidgetItem* node) const {
        QStringList captions;
        for (int i = 0; i < node->childCount(); ++i)
            captions << node->child(i)->text(0);
        return captions;
    }

    QTreeWidgetItem* Current() const { return combo_->Tree()->currentItem(); }

    void Key(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    }

    QTemporaryDir dir_;
    QString root_;
    QStringList messages_;
    std::unique_ptr<QWidget> host_;
    Combo* combo_ = nullptr;
    TFileListView* list_ = nullptr;
};

TEST_F(FolderComboTest, StartsAtTheComputerFolderWithOneNodePerMountedFileSystem) {
    Tree* tree = combo_->Tree();
    QTreeWidgetItem* root = tree->Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(combo_->SelectedPath(), "Drives");
    EXPECT_EQ(combo_->text(), root->text(0));
    EXPECT_GE(combo_->IconIndex(), 0);
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(combo_->TreeHeight(), 240);
    EXPECT_FALSE(combo_->IsDropDownOpen());
    EXPECT_FALSE(tree->isVisible());
    EXPECT_TRUE(tree->isWindow());
    const QList<TDriveInfo> drives = EnumerateDrives();
    ASSERT_EQ(root->childCount(), drives.size());
    for (int i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(root->child(i)->text(0), drives[i].Caption);
        EXPECT_EQ(Tree::NodePath(root->child(i)), drives[i].Root);
        // Drives are marked as having children without being read.
        EXPECT_EQ(root->child(i)->childCount(), 0);
        EXPECT_EQ(root->child(i)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    }
}

TEST_F(FolderComboTest, FolderNodesLoadLazilySortedWithHiddenFoldersAndChildMarks) {
    MakeDir("top/b");
    MakeDir("top/A/inner");
    MakeDir("top/.hidden");
    MakeDir("top/C");
    QFile(root_ + "top/file.txt").open(QIODevice::WriteOnly);
    combo_->SelectFolder(root_ + "top/");
    QTreeWidgetItem* top = Current();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(Tree::NodePath(top), root_ + "top");
    EXPECT_EQ(combo_->text(), "top");
    EXPECT_EQ(ChildCaptions(top), QStringList({".hidden", "A", "b", "C"}));
    EXPECT_EQ(top->child(1)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(top->child(1)->childCount(), 0);  // not loaded yet
    EXPECT_EQ(top->child(2)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    top->child(1)->setExpanded(true);
    EXPECT_EQ(ChildCaptions(top->child(1)), QStringList({"inner"}));
    EXPECT_EQ(Tree::NodePath(top->child(1)->child(0)), root_ + "top/A/inner");
}

TEST_F(FolderComboTest, ChoosingTheRootGivesDrivesAndPointsTheListThere) {
    MakeDir("x");
    combo_->SetFileList(list_);
    combo_->GoToFolder(root_ + "x");
    EXPECT_EQ(list_->Directory(), root_ + "x/");
    Recorder changes(combo_, &Combo::OnPathChange);
    combo_->ToggleDropDown();
    ASSERT_TRUE(combo_->IsDropDownOpen());
    Tree* tree = combo_->Tree();
    tree->scrollToItem(tree->Root());
    const QRect rect = tree->visualItemRect(tree->Root());
    Click(tree->viewport(), rect.center());
    EXPECT_FALSE(combo_->IsDropDownOpen());
    EXPECT_FALSE(tree->isVisible());
    EXPECT_EQ(combo_->SelectedPath(), "Drives");
    EXPECT_EQ(list_->Directory(), "Drives");
    EXPECT_EQ(combo_->text(), tree->Root()->text(0));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<QObject*>(), tree);
    EXPECT_EQ(changes[0][1].toString(), "Drives");
}

TEST_F(FolderComboTest, ChoosingAFolderGivesItsPathWithoutSlashAndExpandButtonsKeepTheTreeOpen) {
    MakeDir("p/q/r");
    combo_->SetFileList(list_);
    combo_->SelectFolder(root_ + "p/");
    combo_->ToggleDropDown();
    Tree* tree = combo_->Tree();
    QTreeWidgetItem* p = Current();
    ASSERT_NE(p, nullptr);
    QTreeWidgetItem* q = p->child(0);
    tree->scrollToItem(q);
    // A press on the expand button (left of the caption) expands without a choice.
    const QRect rect = tree->visualItemRect(q);
    Click(tree->viewport(), QPoint(rect.left() - tree->indentation() / 2, rect.center().y()));
    EXPECT_TRUE(combo_->IsDropDownOpen());
    EXPECT_TRUE(q->isExpanded());
    Click(tree->viewport(), rect.center());
    EXPECT_FALSE(combo_->IsDropDownOpen());
    EXPECT_EQ(combo_->SelectedPath(), root_ + "p/q");
    EXPECT_EQ(list_->Directory(), root_ + "p/q/");
    EXPECT_EQ(combo_->text(), "q");
}

TEST_F(FolderComboTest, GoToFolderIgnoresRepeatsNonFoldersAndKeepsLetterCase) {
    MakeDir("abc");
    MakeDir("ABC");
    combo_->SetFileList(list_);
    Recorder changes(combo_, &Combo::OnPathChange);
    combo_->GoToFolder(root_ + "abc/");
    EXPECT_EQ(changes.count(), 1);
    combo_->ReloadTree();
    combo_->GoToFolder(root_ + "abc/");  // same as the last accepted path: nothing
    EXPECT_EQ(changes.count(), 1);
    combo_->GoToFolder(root_ + "abc");  // without the final slash: handled each time
    combo_->GoToFolder(root_ + "abc");
    EXPECT_EQ(changes.count(), 3);
    // Folder names are case-sensitive: another letter case is another folder.
    combo_->GoToFolder(root_ + "ABC/");
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(combo_->SelectedPath(), root_ + "ABC/");
    EXPECT_EQ(list_->Directory(), root_ + "ABC/");
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "ABC");
    // No folder: nothing changes.
    for (const QString& path : {QString(), QString("Drives"), root_ + "missing", QString("x")})
        combo_->GoToFolder(path);
    combo_->SelectFolder(root_ + "missing/");
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(list_->Directory(), root_ + "ABC/");
}

TEST_F(FolderComboTest, AFolderThatVanishesBeforeExpandingGetsNoChildren) {
    MakeDir("v/gone/sub");
    combo_->SelectFolder(root_ + "v/");
    QTreeWidgetItem* gone = Current()->child(0);
    ASSERT_EQ(gone->text(0), "gone");
    ASSERT_TRUE(QDir(root_ + "v/gone").removeRecursively());
    gone->setExpanded(true);
    EXPECT_EQ(gone->childCount(), 0);
    EXPECT_TRUE(ReadSubFolders(root_ + "v/gone", true).empty());
    EXPECT_TRUE(ReadSubFolders(QString(), true).empty());
}

TEST_F(FolderComboTest, CreatingOrRenamingAFolderRebuildsButCreatingAFileDoesNot) {
    MakeDir("w");
    combo_->SetFileList(list_);
    combo_->GoToFolder(root_ + "w/");
    Recorder rebuilt(combo_, &Combo::TreeRebuilt);
    // The creation of "w" itself may still be on its way from the kernel; let it settle.
    Wait(3 * Combo::ChangeDelayMs);
    rebuilt.clear();

    QFile(root_ + "w/new.txt").open(QIODevice::WriteOnly);
    EXPECT_FALSE(rebuilt.wait(4 * Combo::ChangeDelayMs));

    MakeDir("w/made");
    ASSERT_TRUE(rebuilt.wait(3000));
    QTreeWidgetItem* w = Current();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Tree::NodePath(w), root_ + "w");
    EXPECT_EQ(ChildCaptions(w), QStringList({"made"}));
    EXPECT_EQ(combo_->SelectedPath(), root_ + "w/");
    // The list reads the folder again on its own notification, which may come a little later.
    auto listed = [&] {
        for (int row = 0; row < list_->ItemCount(); ++row)
            if (list_->ItemCaption(row) == "made") return true;
        return false;
    };
    for (int waited = 0; !listed() && waited < 3000; waited += 50)
        Wait(50);
    EXPECT_TRUE(listed());

    ASSERT_TRUE(QDir(root_ + "w").rename("made", "renamed"));
    ASSERT_TRUE(rebuilt.wait(3000));
    EXPECT_EQ(ChildCaptions(Current()), QStringList({"renamed"}));

    // A folder created deeper in a loaded folder is seen too.
    MakeDir("w/renamed/deeper");
    combo_->SelectFolder(root_ + "w/renamed/");
    rebuilt.clear();
    ASSERT_TRUE(QDir(root_ + "w/renamed").rmdir("deeper"));
    EXPECT_TRUE(rebuilt.wait(3000));
}

TEST_F(FolderComboTest, AFloodOfChangesRebuildsOnlyAFewTimesASecond) {
    MakeDir("flood");
    combo_->GoToFolder(root_ + "flood/");
    Recorder rebuilt(combo_, &Combo::TreeRebuilt);
    QElapsedTimer clock;
    clock.start();
    int made = 0;
    while (clock.elapsed() < 1000) {
        for (int i = 0; i < 10; ++i)
            MakeDir(QString("flood/d%1").arg(made++));
        Wait(10);
    }
    const qint64 elapsed = clock.elapsed();
    Wait(3 * Combo::ChangeDelayMs);
    EXPECT_GE(rebuilt.count(), 1);
    EXPECT_LE(rebuilt.count(), elapsed / Combo::ChangeDelayMs + 3) << made << " folders";
    EXPECT_EQ(Current()->childCount(), made);
}

TEST_F(FolderComboTest, TheTreeOpensUpwardsNearTheBottomOfTheScreen) {
    const QRect screen = host_->screen()->geometry();
    combo_->SetTreeHeight(200);
    host_->move(screen.x() + 10, screen.y() + 10);
    QApplication::processEvents();
    combo_->ToggleDropDown();
    const QPoint comboTop = combo_->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(combo_->Tree()->geometry().top(), comboTop.y() + combo_->height());
    EXPECT_EQ(combo_->Tree()->width(), combo_->width());
    combo_->ToggleDropDown();
    EXPECT_FALSE(combo_->IsDropDownOpen());

    host_->move(screen.x() + 10, screen.y() + screen.height() - 100);
    QApplication::processEvents();
    combo_->ToggleDropDown();
    const QPoint lowTop = combo_->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(combo_->Tree()->geometry().top(), lowTop.y() - 200);
    EXPECT_EQ(combo_->Tree()->height(), 200);
}

TEST_F(FolderComboTest, KeysFollowTheKeyTable) {
    Recorder keys(combo_, &Combo::OnKeyDown);
    combo_->ReloadTree();  // nothing selected
    ASSERT_EQ(Current(), nullptr);
    // Down while closed selects the root, opens the tree and is reported as F4.
    Key(combo_, Qt::Key_Down);
    EXPECT_TRUE(combo_->IsDropDownOpen());
    EXPECT_EQ(Current(), combo_->Tree()->Root());
    ASSERT_EQ(keys.count(), 1);
    EXPECT_EQ(keys[0][1].toInt(), int(Qt::Key_F4));
    // Up on the root ends early: not reported.
    Key(combo_, Qt::Key_Up);
    EXPECT_EQ(keys.count(), 1);
    // Down moves to the first drive, Left there stays (the node above is the root).
    Key(combo_, Qt::Key_Down);
    EXPECT_EQ(Current(), combo_->Tree()->Root()->child(0));
    EXPECT_EQ(keys.count(), 2);
    Key(combo_, Qt::Key_Left);
    EXPECT_EQ(Current(), combo_->Tree()->Root()->child(0));
    EXPECT_EQ(keys.count(), 2);
    // Esc closes; F4 opens and the tree takes the focus; Esc on the tree closes again.
    Key(combo_, Qt::Key_Escape);
    EXPECT_FALSE(combo_->IsDropDownOpen());
    Key(combo_, Qt::Key_F4);
    EXPECT_TRUE(combo_->IsDropDownOpen());
    Key(combo_->Tree(), Qt::Key_Escape);
    EXPECT_FALSE(combo_->IsDropDownOpen());
    // Enter chooses the selected node.
    Recorder changes(combo_, &Combo::OnPathChange);
    Key(combo_, Qt::Key_Return);
    EXPECT_EQ(combo_->SelectedPath(), Tree::NodePath(combo_->Tree()->Root()->child(0)));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<QObject*>(), combo_);
}

TEST_F(FolderComboTest, WheelTurnsAreUpAndDownKeysAndF5KeepsTheFolder) {
    MakeDir("k/a");
    MakeDir("k/b");
    combo_->SelectFolder(root_ + "k/b/");
    QWheelEvent away(QPointF(5, 5), combo_->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(combo_, &away);
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "k/a");
    QWheelEvent toward(QPointF(5, 5), combo_->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(combo_, &toward);
    // Down while the tree is closed opens it; once open it moves the selection.
    EXPECT_TRUE(combo_->IsDropDownOpen());
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "k/a");
    QApplication::sendEvent(combo_, &toward);
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "k/b");

    MakeDir("k/b/late");
    Key(combo_, Qt::Key_F5);
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "k/b");
    EXPECT_EQ(ChildCaptions(Current()), QStringList({"late"}));
}

TEST_F(FolderComboTest, AClickOutsideClosesTheTreeWithoutAChoice) {
    combo_->ToggleDropDown();
    ASSERT_TRUE(combo_->IsDropDownOpen());
    const QString before = combo_->SelectedPath();
    // Right of the tree, which hangs over the list.
    Click(list_, QPoint(combo_->width() + 50, 100));
    EXPECT_FALSE(combo_->IsDropDownOpen());
    EXPECT_EQ(combo_->SelectedPath(), before);
    // The button toggles.
    Click(combo_->Button());
    EXPECT_TRUE(combo_->IsDropDownOpen());
    Click(combo_->Button());
    EXPECT_FALSE(combo_->IsDropDownOpen());
}

TEST_F(FolderComboTest, HintShowsTheChosenPathOnTwoLines) {
    MakeDir("h");
    combo_->SelectFolder(root_ + "h");
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), combo_->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(combo_, &enter);
    EXPECT_EQ(combo_->toolTip(), "SelectedPath =\n" + root_ + "h/");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(combo_, &leave);
    EXPECT_TRUE(combo_->toolTip().isEmpty());
}

TEST_F(FolderComboTest, LinkWorksBothWaysAndSurvivesTheDestructionOfEitherSide) {
    MakeDir("l/sub");
    combo_->SetFileList(list_);
    EXPECT_EQ(list_->DirTreeCombo(), static_cast<TFolderComboLink*>(combo_));
    // The list moving on its own has the combo show its folder.
    list_->SetDirectory(root_ + "l/sub/");
    list_->GoToParent();
    EXPECT_EQ(combo_->SelectedPath(), root_ + "l/");
    EXPECT_EQ(combo_->text(), "l");

    // Linking from the list's side moves the link to another combo.
    auto other = std::make_unique<Combo>(host_.get());
    list_->SetDirTreeCombo(other.get());
    EXPECT_EQ(combo_->FileList(), nullptr);
    EXPECT_EQ(other->FileList(), list_);
    other.reset();
    EXPECT_EQ(list_->DirTreeCombo(), nullptr);

    combo_->SetFileList(list_);
    combo_->GoToFolder(root_ + "l/sub");
    EXPECT_TRUE(combo_->WatchedFolders().contains(root_ + "l/sub"));
    delete list_;
    list_ = nullptr;
    EXPECT_EQ(combo_->FileList(), nullptr);
    combo_->GoToFolder(root_ + "l/");  // no list to point: no crash
    EXPECT_EQ(combo_->SelectedPath(), root_ + "l/");
}

TEST_F(FolderComboTest, ARemovableDriveThatIsNotReadyKeepsThePreviousChoice) {
    // No removable drive is needed: an unreadable choice is simulated through the tree's data.
    MakeDir("prev");
    combo_->SelectFolder(root_ + "prev/");
    QTreeWidgetItem* fake = new QTreeWidgetItem();
    fake->setText(0, " (/nowhere)  cd");
    fake->setData(0, Tree::PathRole, root_ + "no-such-mount/");
    fake->setData(0, Tree::KindRole, Tree::nkDrive);
    fake->setData(0, Tree::DriveKindRole, int(dkCDRom));
    fake->setData(0, Tree::SmallIconRole, -1);
    fake->setData(0, Tree::OpenIconRole, -1);
    fake->setData(0, Tree::LoadedRole, true);
    combo_->Tree()->Root()->addChild(fake);
    combo_->Tree()->setCurrentItem(fake);
    combo_->ChooseByMouse();
    EXPECT_TRUE(messages_.contains("There is no disk in Drive or Drive is not ready"));
    EXPECT_EQ(combo_->SelectedPath(), root_ + "prev/");
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "prev");
}

TEST_F(FolderComboTest, RightButtonReleasesAreSwallowedAndLanguageFillsTheComboRows) {
    Recorder clicks(combo_, &Combo::OnClick);
    const QPointF at(20, 10);
    QMouseEvent right(QEvent::MouseButtonRelease, at, combo_->mapToGlobal(at), Qt::RightButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(combo_, &right);
    EXPECT_EQ(clicks.count(), 0);
    Click(combo_, at.toPoint());
    EXPECT_EQ(clicks.count(), 1);

    combo_->SetLanguage(lnGerman);
    EXPECT_EQ(combo_->Language(), lnGerman);
    EXPECT_EQ(MessageText(msgDriveNotReady), CatalogueText(lnGerman, msgDriveNotReady));
    EXPECT_EQ(MessageText(msgTreeSize), CatalogueText(lnGerman, msgTreeSize));
    combo_->SetLanguage(lnEnglish);
    EXPECT_EQ(MessageText(msgDriveNotReady), "There is no disk in Drive or Drive is not ready");
}

TEST_F(FolderComboTest, ConstructionFailsWhenChangesCannotBeWatched) {
    Combo::SetMountTablePath(root_ + "no-mount-table");
    try {
        Combo broken;
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unable to register SHChangeNotify");
    }
    Combo::SetMountTablePath(QString());
}

TEST_F(FolderComboTest, MountingAFileSystemRebuildsTheDriveNodes) {
    MakeDir("mnt");
    const QByteArray target = QFile::encodeName(root_ + "mnt");
    if (::mount("velkaro-test", target.constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting needs privileges";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount(path.constData()); }
    } unmount{target};
    Recorder rebuilt(combo_, &Combo::TreeRebuilt);
    ASSERT_TRUE(rebuilt.wait(3000));
    bool found = false;
    QTreeWidgetItem* root = combo_->Tree()->Root();
    for (int i = 0; i < root->childCount(); ++i)
        found = found || Tree::NodePath(root->child(i)) == root_ + "mnt/";
    EXPECT_TRUE(found);
}

}  // namespace

TEST_F(FolderComboTest, AShownFolderThatIsDeletedGivesWayToItsNearestParent) {
    MakeDir("keep/gone/deeper");
    combo_->SetFileList(list_);
    combo_->GoToFolder(root_ + "keep/gone/deeper/");
    ASSERT_EQ(list_->Directory(), root_ + "keep/gone/deeper/");
    Recorder rebuilt(combo_, &Combo::TreeRebuilt);
    Wait(3 * Combo::ChangeDelayMs);
    rebuilt.clear();

    ASSERT_TRUE(QDir(root_ + "keep/gone").removeRecursively());
    ASSERT_TRUE(rebuilt.wait(3000));
    EXPECT_EQ(list_->Directory(), root_ + "keep/");
    EXPECT_EQ(combo_->SelectedPath(), root_ + "keep/");
    EXPECT_EQ(combo_->text(), "keep");
    ASSERT_NE(Current(), nullptr);
    EXPECT_EQ(Tree::NodePath(Current()), root_ + "keep");
}

TEST_F(FolderComboTest, SetsTheProgramsHintsAndPassesHideSelectionToTheTree) {
    const Application::THintSettings hints = Application::HintSettings();
    EXPECT_EQ(hints.Color, clInfoBk);
    EXPECT_EQ(hints.ShortPause, 25);
    EXPECT_EQ(hints.Pause, 500);
    EXPECT_EQ(hints.HidePause, 10000);

    TFolderTree* tree = combo_->Tree();
    EXPECT_TRUE(combo_->HideSelection());
    EXPECT_TRUE(tree->HideSelection());
    const QPalette defaults = QApplication::palette(tree);
    EXPECT_EQ(tree->palette().color(QPalette::Inactive, QPalette::Highlight),
              defaults.color(QPalette::Inactive, QPalette::Base));
    combo_->SetHideSelection(false);
    EXPECT_FALSE(tree->HideSelection());
    EXPECT_EQ(tree->palette().color(QPalette::Inactive, QPalette::Highlight),
              defaults.color(QPalette::Inactive, QPalette::Highlight));
}
