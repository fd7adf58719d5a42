#include "browse/FolderCombo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "browse/FileListView.h"
#include "browse/MessageCatalogue.h"
#include "browse/ShellHelpers.h"
#include "toolkit/Application.h"

namespace {

constexpr int kButtonSize = 17;
constexpr int kIconSize = 16;

QString& mountTablePath() {
    static QString path;
    return path;
}

QString effectiveMountTablePath() {
    return mountTablePath().isEmpty() ? QStringLiteral("/proc/self/mountinfo") : mountTablePath();
}

bool isDrivesPath(const QString& path) {
    return path.compare(QLatin1String(TFolderCombo::DrivesPath), Qt::CaseInsensitive) == 0;
}

// Paths are compared exactly (the file systems are case-sensitive); only the "Drives"
// pseudo-path ignores letter case.
bool samePath(const QString& a, const QString& b) {
    if (isDrivesPath(a) || isDrivesPath(b)) return isDrivesPath(a) && isDrivesPath(b);
    return a == b;
}

// An absolute, clean form of a folder path with a trailing "/".
QString absoluteFolder(const QString& path) {
    return AddSlash(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

bool isFolder(const QString& path) {
    return !path.isEmpty() && !isDrivesPath(path) && QFileInfo(path).isDir();
}

// The folder itself when it exists, else its nearest existing parent (with a trailing "/").
QString nearestExistingFolder(const QString& path) {
    QString folder = QDir::cleanPath(path);
    while (!folder.isEmpty() && folder != QLatin1String("/") && !QFileInfo(folder).isDir()) {
        const qsizetype slash = folder.lastIndexOf(u'/');
        folder = slash <= 0 ? QStringLiteral("/") : folder.left(slash);
    }
    return AddSlash(folder.isEmpty() ? QStringLiteral("/") : folder);
}

}  // namespace

// --- TFolderCombo -------------------------------------------------------------------------

void TFolderCombo::SetMountTablePath(const QString& path) {
    mountTablePath() = path;
}

TFolderCombo::TFolderCombo(QWidget* parent) : TControl<QLineEdit>(parent) {
    resize(216, 21);
    setReadOnly(true);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    // Change notification: the folders the tree loads and the list shows, and the mount table.
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TFolderCombo::FolderChanged);
    changeTimer_ = new QTimer(this);
    changeTimer_->setSingleShot(true);
    changeTimer_->setInterval(ChangeDelayMs);
    connect(changeTimer_, &QTimer::timeout, this, &TFolderCombo::CheckChanges);

    button_ = new TComboButton(this);
    button_->setArrowType(Qt::DownArrow);
    button_->setGeometry(width() - kButtonSize - 4, 2, kButtonSize, kButtonSize);
    connect(button_, &QToolButton::clicked, this, [this] { ToggleDropDown(); });

    tree_ = new TFolderTree(this);
    tree_->BuildRoot();
    tree_->SetExpandRoot(true);
    tree_->SetHideSelection(hideSelection_);
    tree_->setEnabled(false);
    // The combo sets the hints of the whole program: the tooltip colour and quick pauses.
    Application::SetHintSettings({clInfoBk, 500, 25, 10000});
    tree_->hide();
    connect(tree_, &TFolderTree::FolderLoaded, this, [this](const QString& folder) {
        WatchFolder(folder, tree_->LoadedFolders().value(folder));
    });
    if (tree_->currentItem() == nullptr) {
        QTreeWidgetItem* root = tree_->Root();
        iconIndex_ = root->data(0, TFolderTree::SmallIconRole).toInt();
        setText(root->text(0));
        tree_->SetChosenPath(QString::fromLatin1(DrivesPath));
    }
    UpdateTextMargins();

    mountFd_ =
        ::open(QFile::encodeName(effectiveMountTablePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (mountFd_ < 0) throw std::runtime_error(RegisterFailedText);
    mountSignature_ = ReadMountSignature();
    // The kernel flags the mount table with POLLPRI when a file system is mounted or unmounted.
    mountNotifier_ = new QSocketNotifier(mountFd_, QSocketNotifier::Exception, this);
    connect(mountNotifier_, &QSocketNotifier::activated, this, &TFolderCombo::MountTableChanged);
    // A slow look at the table's content as well, for files that do not report changes.
    mountPoll_ = new QTimer(this);
    mountPoll_->setInterval(2000);
    connect(mountPoll_, &QTimer::timeout, this, &TFolderCombo::MountTableChanged);
    mountPoll_->start();
    for (auto it = tree_->LoadedFolders().cbegin(); it != tree_->LoadedFolders().cend(); ++it)
        WatchFolder(it.key(), it.value());

    focusChanged_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            // Focus moving to another control closes the tree; focus
            // moving into the tree (opening it) does not.
            if (!IsDropDownOpen() || now == nullptr) return;
            if (now == this || IsInsideTree(now)) return;
            HideTree(false);
        });
    // Another program taking over closes the tree. Activation moving from the main window to
    // the tree's own window can pass through a short inactive moment, so look again shortly.
    appState_ = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                        [this](Qt::ApplicationState state) {
                            if (state == Qt::ApplicationActive || !IsDropDownOpen()) return;
                            QTimer::singleShot(100, this, [this] {
                                if (QGuiApplication::applicationState() != Qt::ApplicationActive &&
                                    IsDropDownOpen())
                                    HideTree(false);
                            });
                        });

    SetLanguage(lnSysDefault);
    constructed_ = true;
}

TFolderCombo::TFolderCombo(const QString& name, QWidget* parent) : TFolderCombo(parent) {
    setObjectName(name);
}

TFolderCombo::~TFolderCombo() {
    disconnect(focusChanged_);
    disconnect(appState_);
    if (filterInstalled_) qApp->removeEventFilter(this);
    filterInstalled_ = false;
    if (fileList_ != nullptr) {
        TFileListView* list = fileList_;
        fileList_ = nullptr;
        disconnect(listDestroyed_);
        if (list->DirTreeCombo() == this) list->SetDirTreeCombo(nullptr);
    }
    delete mountNotifier_;
    mountNotifier_ = nullptr;
    if (mountFd_ >= 0) ::close(mountFd_);
    delete tree_;
    tree_ = nullptr;
}

// --- Properties --------------------------------------------------------------------------------

QString TFolderCombo::SelectedPath() const {
    return tree_->ChosenPath();
}

void TFolderCombo::SetSelectedPath(const QString& value) {
    if (!samePath(tree_->ChosenPath(), value)) tree_->SetChosenPath(value);
    if (fileList_ != nullptr) {
        fileList_->SetDirectory(tree_->ChosenPath());
        WatchListFolder();
    }
}

void TFolderCombo::SetFileList(TFileListView* list) {
    if (list == fileList_) return;
    if (TFileListView* old = fileList_) {
        fileList_ = nullptr;
        disconnect(listDestroyed_);
        if (old->DirTreeCombo() == this) old->SetDirTreeCombo(nullptr);
    }
    fileList_ = list;
    if (list != nullptr) {
        listDestroyed_ = connect(list, &QObject::destroyed, this, [this] {
            fileList_ = nullptr;
            disconnect(listDestroyed_);
        });
        if (list->DirTreeCombo() != this) list->SetDirTreeCombo(this);
    }
    if (fileList_ != nullptr && !tree_->ChosenPath().isEmpty()) {
        fileList_->SetDirectory(tree_->ChosenPath());
        fileList_->RebuildList();
    }
    WatchListFolder();
}

bool TFolderCombo::ExpandRoot() const {
    return tree_->ExpandRoot();
}

void TFolderCombo::SetHideSelection(bool value) {
    hideSelection_ = value;
    tree_->SetHideSelection(value);
}

void TFolderCombo::SetExpandRoot(bool value) {
    tree_->SetExpandRoot(value);
}

void TFolderCombo::SetLanguage(TLanguage value) {
    // Pending messages run after a change, but not while the combo is still being built.
    if (ApplyComponentLanguage(mwDirCombo, language_, value) && constructed_)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

int TFolderCombo::TreeHeight() const {
    return tree_->height();
}

void TFolderCombo::SetTreeHeight(int value) {
    if (value == tree_->height() || value < 0) return;
    tree_->resize(tree_->width(), value);
}

void TFolderCombo::SetGlyph(const QPixmap& value) {
    if (value.isNull()) return;
    glyph_ = value;
    button_->setArrowType(Qt::NoArrow);
    button_->setIcon(QIcon(glyph_));
    button_->setIconSize(glyph_.size().boundedTo(QSize(kIconSize, kIconSize)));
}

// --- Operations --------------------------------------------------------------------------------

void TFolderCombo::GoToFolder(const QString& path) {
    if (path.isEmpty() || path == lastGoTo_) return;
    const QString folder = AddSlash(path);
    if (!isFolder(folder)) return;
    lastGoTo_ = folder;
    SelectFolder(folder);
    if (fileList_ != nullptr) {
        fileList_->SetDirectory(folder);
        WatchListFolder();
    }
}

void TFolderCombo::SelectFolder(const QString& path) {
    // "/" is the root file system's folder and is accepted although it is one character long.
    if (path.isEmpty() || (path.size() == 1 && path != QLatin1String("/"))) return;
    if (!isFolder(path)) return;
    const QString folder = absoluteFolder(path);
    tree_->SelectPath(folder);
    ShowSelectedNode();
    if (!samePath(tree_->ChosenPath(), folder)) tree_->SetChosenPath(folder);
    WatchListFolder();
    emit OnPathChange(this, tree_->ChosenPath());
}

void TFolderCombo::ReloadTree() {
    const bool updates = tree_->updatesEnabled();
    tree_->setUpdatesEnabled(false);
    ForgetTreeWatches();
    tree_->ClearNodes();
    tree_->BuildRoot();
    tree_->setUpdatesEnabled(updates);
}

bool TFolderCombo::IsDropDownOpen() const {
    return tree_->isEnabled();
}

void TFolderCombo::ToggleDropDown() {
    setFocus();
    QPoint at = mapToGlobal(QPoint(0, height()));
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (shown != nullptr) {
        const QRect area = shown->geometry();
        // Near the bottom of the screen the tree opens upwards.
        if (at.y() + TreeHeight() > area.y() + area.height())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - TreeHeight());
    }
    tree_->setGeometry(at.x(), at.y(), width(), TreeHeight());
    if (IsDropDownOpen()) {
        CloseDropDown();
        return;
    }
    tree_->setEnabled(true);
    tree_->show();
    tree_->activateWindow();
    if (!filterInstalled_) {
        qApp->installEventFilter(this);
        filterInstalled_ = true;
    }
    if (!tree_->hasFocus()) tree_->setFocus(Qt::PopupFocusReason);
}

void TFolderCombo::CloseDropDown() {
    HideTree(true);
}

void TFolderCombo::HideTree(bool giveFocusBack) {
    if (filterInstalled_) {
        qApp->removeEventFilter(this);
        filterInstalled_ = false;
    }
    if (giveFocusBack && tree_->isEnabled()) {
        if (QWidget* w = window(); w != nullptr && w != tree_) w->activateWindow();
        setFocus(Qt::PopupFocusReason);
    }
    tree_->setEnabled(false);
    tree_->hide();
}

bool TFolderCombo::IsInsideTree(const QObject* object) const {
    for (const QObject* o = object; o != nullptr; o = o->parent())
        if (o == tree_) return true;
    return false;
}

void TFolderCombo::MakeChoice() {
    QTreeWidgetItem* node = tree_->currentItem();
    if (node == nullptr) return;
    const QString previous = tree_->ChosenPath();
    // The previous path keeps "Drives" as it is; a folder gets its trailing "/".
    const QString back =
        isDrivesPath(previous) || previous.isEmpty() ? previous : AddSlash(previous);
    const TFolderTree::TNodeKind kind = TFolderTree::NodeKind(node);
    QString chosen =
        kind == TFolderTree::nkRoot ? QString::fromLatin1(DrivesPath) : TFolderTree::NodePath(node);
    if (kind == TFolderTree::nkDrive) {
        const int driveKind = node->data(0, TFolderTree::DriveKindRole).toInt();
        if ((driveKind == dkRemovable || driveKind == dkCDRom) && !DiskReady(chosen, true)) {
            if (isDrivesPath(back) || back.isEmpty())
                tree_->setCurrentItem(tree_->Root());
            else
                tree_->SelectPath(back);
            chosen = back;
        }
    }
    tree_->SetChosenPath(chosen);
}

void TFolderCombo::ChooseByMouse() {
    MakeChoice();
    SetSelectedPath(tree_->ChosenPath());
    ShowSelectedNode();
    emit OnPathChange(tree_, tree_->ChosenPath());
    CloseDropDown();
}

void TFolderCombo::ShowSelectedNode() {
    QTreeWidgetItem* node = tree_->currentItem();
    if (node == nullptr) return;
    iconIndex_ = node->data(0, TFolderTree::SmallIconRole).toInt();
    setText(node->text(0));
    setCursorPosition(0);
    UpdateTextMargins();
    update();
}

QStringList TFolderCombo::WatchedFolders() const {
    return watcher_->directories();
}

// --- Keys and mouse ----------------------------------------------------------------------------

bool TFolderCombo::HandleKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    int reported = key;
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            MakeChoice();
            SetSelectedPath(tree_->ChosenPath());
            emit OnPathChange(this, tree_->ChosenPath());
            HideTree(tree_->isVisible());
            ShowSelectedNode();
            break;
        }
        case Qt::Key_Escape:
            if (IsDropDownOpen()) HideTree(true);
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_Right:
        case Qt::Key_Down: {
            QTreeWidgetItem* root = tree_->Root();
            if (root == nullptr) return false;
            if (tree_->currentItem() == nullptr) {
                tree_->setCurrentItem(root);
                root->setExpanded(true);
            }
            QTreeWidgetItem* node = tree_->currentItem();
            if (key == Qt::Key_Right) {
                node->setExpanded(true);
            } else if (key == Qt::Key_Left) {
                if (node->isExpanded()) TFolderTree::CollapseBelow(node);
                QTreeWidgetItem* above = tree_->itemAbove(node);
                if (node == root || above == nullptr || above == root) return false;
                tree_->setCurrentItem(above);
            } else if (key == Qt::Key_Down) {
                if (IsDropDownOpen()) {
                    QTreeWidgetItem* below = tree_->itemBelow(node);
                    if (below == nullptr) return false;
                    tree_->setCurrentItem(below);
                } else {
                    ToggleDropDown();
                    reported = Qt::Key_F4;
                }
            } else {  // Up
                if (node == root) return false;
                QTreeWidgetItem* above = tree_->itemAbove(node);
                if (above == nullptr) return false;
                tree_->setCurrentItem(above);
            }
            break;
        }
        case Qt::Key_F4:
            ToggleDropDown();
            if (tree_->isVisible()) tree_->setFocus();
            break;
        case Qt::Key_F5: {
            const QString chosen = tree_->ChosenPath();
            ReloadTree();
            SelectFolder(chosen);
            if (fileList_ != nullptr) fileList_->RebuildList();
            break;
        }
        default:
            break;
    }
    emit OnKeyDown(this, reported, modifiers);
    return true;
}

bool TFolderCombo::IsDropDownKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
           key == Qt::Key_F4 || key == Qt::Key_F5;
}

void TFolderCombo::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (IsDropDownKey(key) || key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right ||
        key == Qt::Key_Down) {
        HandleKeyDown(key, event->modifiers());
        event->accept();
        return;
    }
    // Other keys keep the read-only edit's own handling (copying the text).
    emit OnKeyDown(this, key, event->modifiers());
    TControl<QLineEdit>::keyPressEvent(event);
}

void TFolderCombo::wheelEvent(QWheelEvent* event) {
    // A turn away from the user is an Up key, towards the user a Down key.
    const int delta = event->angleDelta().y();
    if (delta != 0) HandleKeyDown(delta > 0 ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier);
    event->accept();
}

void TFolderCombo::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    TControl<QLineEdit>::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick(this);
}

void TFolderCombo::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void TFolderCombo::enterEvent(QEnterEvent* event) {
    TControl<QLineEdit>::enterEvent(event);
    if (tree_->isVisible()) {
        setToolTip(QString());
        return;
    }
    if (tree_->currentItem() == nullptr)
        setToolTip(QStringLiteral("Selected = nil"));
    else
        setToolTip(QStringLiteral("SelectedPath =\n") + tree_->ChosenPath());
}

void TFolderCombo::leaveEvent(QEvent* event) {
    TControl<QLineEdit>::leaveEvent(event);
    setToolTip(QString());
}

bool TFolderCombo::eventFilter(QObject* watched, QEvent* event) {
    // While the tree is open, a press anywhere outside it closes it without a choice and is
    // not passed on; the combo's own button keeps its press so that it toggles the tree.
    if (event->type() == QEvent::MouseButtonPress && IsDropDownOpen() && watched->isWidgetType()) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const QPoint global = press->globalPosition().toPoint();
        if (IsInsideTree(watched) || tree_->frameGeometry().contains(global)) return false;
        if (watched == button_) return false;
        HideTree(true);
        return true;
    }
    return false;
}

// --- Layout and painting -----------------------------------------------------------------------

void TFolderCombo::UpdateTextMargins() {
    const bool icon = iconIndex_ >= 0 && iconIndex_ < TSystemImageList::Instance().Count();
    setTextMargins(icon ? 23 : 0, 0, button_->width() + 2, 0);
}

void TFolderCombo::resizeEvent(QResizeEvent* event) {
    TControl<QLineEdit>::resizeEvent(event);
    button_->setGeometry(width() - kButtonSize - 4, 2, kButtonSize, std::max(0, height() - 4));
    UpdateTextMargins();
}

void TFolderCombo::paintEvent(QPaintEvent* event) {
    TControl<QLineEdit>::paintEvent(event);
    TSystemImageList& icons = TSystemImageList::Instance();
    if (iconIndex_ < 0 || iconIndex_ >= icons.Count()) return;
    QPainter painter(this);
    icons.Icon(iconIndex_).paint(&painter, QRect(5, height() / 2 - 8, kIconSize, kIconSize));
}

// --- Change notification -----------------------------------------------------------------------

void TFolderCombo::WatchFolder(const QString& folder, const QSet<QString>& subFolders) {
    const QString path = DropSlash(folder).isEmpty() ? folder : DropSlash(folder);
    snapshots_.insert(path, subFolders);
    if (!watcher_->directories().contains(path)) watcher_->addPath(path);
}

void TFolderCombo::WatchListFolder() {
    const QString wanted =
        fileList_ == nullptr || !isFolder(fileList_->Directory())
            ? QString()
            : (DropSlash(fileList_->Directory()).isEmpty() ? QStringLiteral("/")
                                                           : DropSlash(fileList_->Directory()));
    if (wanted == listFolder_) return;
    // Stop watching the previous list folder unless the tree still needs it.
    if (!listFolder_.isEmpty() && !tree_->LoadedFolders().contains(AddSlash(listFolder_))) {
        watcher_->removePath(listFolder_);
        snapshots_.remove(listFolder_);
    }
    listFolder_ = wanted;
    if (!wanted.isEmpty() && !snapshots_.contains(wanted))
        WatchFolder(wanted, SubFolderNames(ReadSubFolders(wanted, false)));
}

void TFolderCombo::ForgetTreeWatches() {
    const QStringList watched = watcher_->directories();
    QStringList drop;
    for (const QString& path : watched)
        if (path != listFolder_) drop.append(path);
    if (!drop.isEmpty()) watcher_->removePaths(drop);
    for (const QString& path : drop)
        snapshots_.remove(path);
    // The list's folder stays watched; its snapshot is taken afresh.
    if (!listFolder_.isEmpty())
        snapshots_.insert(listFolder_, SubFolderNames(ReadSubFolders(listFolder_, false)));
}

void TFolderCombo::FolderChanged(const QString& folder) {
    // Collect and check later: a flood of changes (a large checkout) costs one rebuild per
    // interval, never one per event.
    pending_.insert(folder);
    if (!changeTimer_->isActive()) changeTimer_->start();
}

void TFolderCombo::MountTableChanged() {
    const QString signature = ReadMountSignature();
    if (signature == mountSignature_) return;
    mountSignature_ = signature;
    mountPending_ = true;
    if (!changeTimer_->isActive()) changeTimer_->start();
}

QString TFolderCombo::ReadMountSignature() const {
    QFile f(effectiveMountTablePath());
    if (!f.open(QIODevice::ReadOnly)) return QString();
    QString signature;
    for (const TDriveInfo& d : ParseMountInfo(QString::fromUtf8(f.readAll())))
        signature += d.Root + u'\n' + d.Caption + u'\n';
    return signature;
}

void TFolderCombo::CheckChanges() {
    bool changed = mountPending_;
    mountPending_ = false;
    const QSet<QString> folders = std::exchange(pending_, {});
    for (const QString& folder : folders) {
        if (changed) break;
        const auto it = snapshots_.constFind(folder);
        if (it == snapshots_.constEnd()) continue;
        // Only folders coming, going or being renamed count; files do not.
        if (!QFileInfo(folder).isDir() ||
            SubFolderNames(ReadSubFolders(folder, false)) != it.value())
            changed = true;
    }
    if (changed) RefreshAfterChange();
}

void TFolderCombo::RefreshAfterChange() {
    QString remembered = tree_->ChosenPath();
    // A chosen folder that is gone gives way to its nearest existing parent, in the combo and
    // in the list alike.
    if (!remembered.isEmpty() && !isDrivesPath(remembered) && !isFolder(remembered))
        remembered = nearestExistingFolder(remembered);
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    const bool treeUpdates = tree_->updatesEnabled();
    tree_->setUpdatesEnabled(false);
    ReloadTree();
    if (tree_->Root() != nullptr && !tree_->Root()->isExpanded()) tree_->Root()->setExpanded(true);
    if (!remembered.isEmpty()) SelectFolder(remembered);
    if (fileList_ != nullptr) {
        // A list that stays in its folder follows that folder's changes by itself, keeping its
        // order; it is re-read here only when it moves.
        const QString shown = fileList_->Directory();
        fileList_->SetDirectory(remembered);
        if (fileList_->Directory() == shown && fileList_->WatchedFolder().isEmpty())
            fileList_->RebuildList();
        // The list's folder may be gone; watch again what it shows now.
        listFolder_.clear();
        WatchListFolder();
    }
    // A folder that is gone (the list's, or the chosen one) leaves no stale watch behind.
    for (const QString& path : watcher_->directories())
        if (!QFileInfo(path).isDir()) {
            watcher_->removePath(path);
            snapshots_.remove(path);
        }
    tree_->setUpdatesEnabled(treeUpdates);
    setUpdatesEnabled(updates);
    emit TreeRebuilt();
}
