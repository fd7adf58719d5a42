#include "browse/KvDirTreeCombo28.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCollator>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
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

#include "browse/KvFilelistView28.h"
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
    return path.compare(QLatin1String(TKvDirTreeCombo28::DrivesPath), Qt::CaseInsensitive) == 0;
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

bool isDotName(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether the entry of an open folder is a folder (symbolic links followed).
bool entryIsFolder(int dirFd, const struct dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Whether the folder `name` inside the open folder holds a sub-folder; stops at the first.
bool hasSubFolder(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    bool found = false;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (isDotName(entry->d_name)) continue;
        if (entryIsFolder(fd, entry)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

int computerIconIndex() {
    return TSystemImageList::Instance().IndexFor(QStringLiteral("computer"), [] {
        static QFileIconProvider provider;
        return provider.icon(QFileIconProvider::Computer);
    });
}

QSet<QString> subFolderNames(const std::vector<TSubFolder>& folders) {
    QSet<QString> names;
    names.reserve(static_cast<qsizetype>(folders.size()));
    for (const TSubFolder& f : folders)
        names.insert(f.Name);
    return names;
}

void collapseBelow(QTreeWidgetItem* node) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (child->isExpanded()) collapseBelow(child);
    }
    node->setExpanded(false);
}

}  // namespace

// --- Sub-folder listing ----------------------------------------------------------------------

std::vector<TSubFolder> ReadSubFolders(const QString& folder, bool checkChildren) {
    std::vector<TSubFolder> result;
    if (folder.isEmpty()) return result;
    const QByteArray encoded = QFile::encodeName(folder);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return result;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return result;
    }
    while (const struct dirent* entry = ::readdir(dir)) {
        if (isDotName(entry->d_name) || !entryIsFolder(fd, entry)) continue;
        TSubFolder sub;
        sub.Name = QFile::decodeName(entry->d_name);
        if (checkChildren) sub.HasChildren = hasSubFolder(fd, entry->d_name);
        result.push_back(std::move(sub));
    }
    ::closedir(dir);
    return result;
}

// In the file list's name order: numbers by value, letters by the user's locale.
void SortSubFolders(std::vector<TSubFolder>& folders) {
    const QCollator collator = TKvFilelistView28::NameCollator();
    std::sort(folders.begin(), folders.end(),
              [&collator](const TSubFolder& a, const TSubFolder& b) {
                  const int c = collator.compare(a.Name, b.Name);
                  return c != 0 ? c < 0 : a.Name < b.Name;
              });
}

// --- TKvSpeedButton ----------------------------------------------------------------------------

TKvSpeedButton::TKvSpeedButton(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(false);
    setCursor(Qt::ArrowCursor);
}

void TKvSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QToolButton::mouseReleaseEvent(event);
}

void TKvSpeedButton::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

// --- TKvDirTreeView ----------------------------------------------------------------------------

TKvDirTreeView::TKvDirTreeView(TKvDirTreeCombo28* combo) : QTreeWidget(combo), combo_(combo) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_WindowPropagation);  // follow the combo's font
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setHeaderHidden(true);
    setColumnCount(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setIconSize(QSize(kIconSize, kIconSize));
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setGeometry(0, 0, 0, 240);
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* node) { LoadChildren(node); });
    connect(this, &QTreeWidget::currentItemChanged, this, &TKvDirTreeView::UpdateNodeIcons);
}

void TKvDirTreeView::ClearNodes() {
    setCurrentItem(nullptr);
    clear();
    loaded_.clear();
}

void TKvDirTreeView::BuildRoot() {
    TSystemImageList& icons = TSystemImageList::Instance();
    auto* root = new QTreeWidgetItem();
    const int rootIcon = computerIconIndex();
    root->setText(0, QStringLiteral("Computer"));
    root->setData(0, PathRole, QString::fromLatin1(TKvDirTreeCombo28::DrivesPath));
    root->setData(0, KindRole, nkRoot);
    root->setData(0, SmallIconRole, rootIcon);
    root->setData(0, OpenIconRole, rootIcon);
    root->setData(0, LoadedRole, true);
    root->setIcon(0, icons.Icon(rootIcon));
    QList<QTreeWidgetItem*> drives;
    for (const TDriveInfo& d : EnumerateDrives()) {
        auto* node = new QTreeWidgetItem();
        const int icon = DriveIconIndex(d.Kind);
        node->setText(0, d.Caption);
        node->setData(0, PathRole, d.Root);
        node->setData(0, KindRole, nkDrive);
        node->setData(0, DriveKindRole, static_cast<int>(d.Kind));
        node->setData(0, SmallIconRole, icon);
        node->setData(0, OpenIconRole, icon);
        node->setData(0, LoadedRole, false);
        node->setIcon(0, icons.Icon(icon));
        // Drives are marked as having children without touching them.
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        drives.append(node);
    }
    root->addChildren(drives);
    addTopLevelItem(root);
}

QTreeWidgetItem* TKvDirTreeView::Root() const {
    return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

TKvDirTreeView::TNodeKind TKvDirTreeView::NodeKind(const QTreeWidgetItem* node) {
    return node == nullptr ? nkRoot : static_cast<TNodeKind>(node->data(0, KindRole).toInt());
}

QString TKvDirTreeView::NodePath(const QTreeWidgetItem* node) {
    return node == nullptr ? QString() : node->data(0, PathRole).toString();
}

bool TKvDirTreeView::IsLoaded(const QTreeWidgetItem* node) {
    return node != nullptr && node->data(0, LoadedRole).toBool();
}

void TKvDirTreeView::LoadChildren(QTreeWidgetItem* node) {
    if (node == nullptr || IsLoaded(node)) return;
    THourglass hourglass;
    const QString folder = AddSlash(NodePath(node));
    node->setData(0, LoadedRole, true);
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    std::vector<TSubFolder> subs = ReadSubFolders(folder, true);
    SortSubFolders(subs);

    TSystemImageList& icons = TSystemImageList::Instance();
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(subs.size()));
    for (const TSubFolder& sub : subs) {
        const QString path = folder + sub.Name;
        int small = -1;
        int open = -1;
        const int mounted = MountedDriveKind(path);
        if (mounted >= 0) {
            small = open = DriveIconIndex(static_cast<TDriveKind>(mounted));
        } else {
            // Every plain folder has the same pictures; look them up once.
            if (folderIcon_ < 0) {
                folderIcon_ = SmallIconIndex(path);
                folderOpenIcon_ = OpenIconIndex(path);
            }
            small = folderIcon_;
            open = folderOpenIcon_;
        }
        auto* child = new QTreeWidgetItem();
        child->setText(0, sub.Name);
        child->setData(0, PathRole, path);
        child->setData(0, KindRole, nkFolder);
        child->setData(0, SmallIconRole, small);
        child->setData(0, OpenIconRole, open);
        child->setData(0, LoadedRole, false);
        child->setIcon(0, icons.Icon(small));
        child->setChildIndicatorPolicy(sub.HasChildren ? QTreeWidgetItem::ShowIndicator
                                                       : QTreeWidgetItem::DontShowIndicator);
        children.append(child);
    }
    node->addChildren(children);
    loaded_.insert(folder, subFolderNames(subs));
    emit FolderLoaded(folder);
}

QTreeWidgetItem* TKvDirTreeView::SelectPath(const QString& path) {
    QTreeWidgetItem* root = Root();
    if (root == nullptr || !path.startsWith(PathDelim)) return nullptr;
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    collapseBelow(root);

    // The drive part: the mounted file system with the longest mount point holding the path
    // (exact letter case preferred).
    QTreeWidgetItem* node = nullptr;
    for (int pass = 0; pass < 2 && node == nullptr; ++pass) {
        const Qt::CaseSensitivity cs = pass == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
        qsizetype best = -1;
        for (int i = 0; i < root->childCount(); ++i) {
            QTreeWidgetItem* drive = root->child(i);
            const QString driveRoot = NodePath(drive);
            if (path.startsWith(driveRoot, cs) && driveRoot.size() > best) {
                best = driveRoot.size();
                node = drive;
            }
        }
    }
    if (node != nullptr) {
        root->setExpanded(true);
        setCurrentItem(node);
        LoadChildren(node);
        node->setExpanded(true);
        // Then one folder name at a time; a piece without a final "/" is left unsearched.
        qsizetype pos = NodePath(node).size();
        while (pos < path.size()) {
            const qsizetype slash = path.indexOf(PathDelim, pos);
            if (slash < 0) break;
            const QString piece = path.mid(pos, slash - pos);
            pos = slash + 1;
            if (piece.isEmpty()) continue;
            QTreeWidgetItem* match = nullptr;
            for (int pass = 0; pass < 2 && match == nullptr; ++pass) {
                const Qt::CaseSensitivity cs = pass == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
                for (int i = 0; i < node->childCount(); ++i) {
                    if (node->child(i)->text(0).compare(piece, cs) == 0) {
                        match = node->child(i);
                        break;
                    }
                }
            }
            if (match == nullptr) break;
            node = match;
            setCurrentItem(node);
            LoadChildren(node);
            node->setExpanded(true);
        }
        scrollToItem(node);
    }
    setUpdatesEnabled(updates);
    return node;
}

void TKvDirTreeView::SetExpandRoot(bool value) {
    expandRoot_ = value;
    if (value && Root() != nullptr) Root()->setExpanded(true);
}

void TKvDirTreeView::SetHideSelection(bool value) {
    hideSelection_ = value;
    // Without the focus the selection is painted in the background colour, that is not at all.
    QPalette p = palette();
    const QPalette defaults = QApplication::palette(this);
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        const QPalette::ColorRole plain =
            role == QPalette::Highlight ? QPalette::Base : QPalette::Text;
        p.setColor(QPalette::Inactive, role,
                   value ? defaults.color(QPalette::Inactive, plain)
                         : defaults.color(QPalette::Inactive, role));
    }
    setPalette(p);
}

void TKvDirTreeView::UpdateNodeIcons(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    TSystemImageList& icons = TSystemImageList::Instance();
    if (previous != nullptr)
        previous->setIcon(0, icons.Icon(previous->data(0, SmallIconRole).toInt()));
    if (current != nullptr) current->setIcon(0, icons.Icon(current->data(0, OpenIconRole).toInt()));
}

bool TKvDirTreeView::OnNodeCaption(const QPoint& viewportPos) const {
    QTreeWidgetItem* node = itemAt(viewportPos);
    // The item rectangle of the first column leaves out the indentation and expand button.
    return node != nullptr && visualItemRect(node).contains(viewportPos);
}

void TKvDirTreeView::mouseMoveEvent(QMouseEvent* event) {
    QTreeWidget::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    if (viewport()->rect().contains(pos) && OnNodeCaption(pos)) setCurrentItem(itemAt(pos));
}

void TKvDirTreeView::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    if (!viewport()->rect().contains(pos)) {
        combo_->CloseDropDown();
        return;
    }
    if (OnNodeCaption(pos)) {
        setCurrentItem(itemAt(pos));
        combo_->ChooseByMouse();
    }
    // A press elsewhere inside (an expand button, empty space) leaves the tree open.
}

void TKvDirTreeView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_F4:
        case Qt::Key_F5:
            combo_->HandleKeyDown(event->key(), event->modifiers());
            event->accept();
            return;
        default:
            QTreeWidget::keyPressEvent(event);
    }
}

// --- TKvDirTreeCombo28 -------------------------------------------------------------------------

void TKvDirTreeCombo28::SetMountTablePath(const QString& path) {
    mountTablePath() = path;
}

TKvDirTreeCombo28::TKvDirTreeCombo28(QWidget* parent) : TControl<QLineEdit>(parent) {
    resize(216, 21);
    setReadOnly(true);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    // Change notification: the folders the tree loads and the list shows, and the mount table.
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
            &TKvDirTreeCombo28::FolderChanged);
    changeTimer_ = new QTimer(this);
    changeTimer_->setSingleShot(true);
    changeTimer_->setInterval(ChangeDelayMs);
    connect(changeTimer_, &QTimer::timeout, this, &TKvDirTreeCombo28::CheckChanges);

    button_ = new TKvSpeedButton(this);
    button_->setArrowType(Qt::DownArrow);
    button_->setGeometry(width() - kButtonSize - 4, 2, kButtonSize, kButtonSize);
    connect(button_, &QToolButton::clicked, this, [this] { ToggleDropDown(); });

    tree_ = new TKvDirTreeView(this);
    tree_->BuildRoot();
    tree_->SetExpandRoot(true);
    tree_->SetHideSelection(hideSelection_);
    tree_->setEnabled(false);
    // The combo sets the hints of the whole program: the tooltip colour and quick pauses.
    Application::SetHintSettings({clInfoBk, 500, 25, 10000});
    tree_->hide();
    connect(tree_, &TKvDirTreeView::FolderLoaded, this, [this](const QString& folder) {
        WatchFolder(folder, tree_->LoadedFolders().value(folder));
    });
    if (tree_->currentItem() == nullptr) {
        QTreeWidgetItem* root = tree_->Root();
        iconIndex_ = root->data(0, TKvDirTreeView::SmallIconRole).toInt();
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
    connect(mountNotifier_, &QSocketNotifier::activated, this,
            &TKvDirTreeCombo28::MountTableChanged);
    // A slow look at the table's content as well, for files that do not report changes.
    mountPoll_ = new QTimer(this);
    mountPoll_->setInterval(2000);
    connect(mountPoll_, &QTimer::timeout, this, &TKvDirTreeCombo28::MountTableChanged);
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

TKvDirTreeCombo28::TKvDirTreeCombo28(const QString& name, QWidget* parent)
    : TKvDirTreeCombo28(parent) {
    setObjectName(name);
}

TKvDirTreeCombo28::~TKvDirTreeCombo28() {
    disconnect(focusChanged_);
    disconnect(appState_);
    if (filterInstalled_) qApp->removeEventFilter(this);
    filterInstalled_ = false;
    if (fileList_ != nullptr) {
        TKvFilelistView28* list = fileList_;
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

QString TKvDirTreeCombo28::SelectedPath() const {
    return tree_->ChosenPath();
}

void TKvDirTreeCombo28::SetSelectedPath(const QString& value) {
    if (!samePath(tree_->ChosenPath(), value)) tree_->SetChosenPath(value);
    if (fileList_ != nullptr) {
        fileList_->SetDirectory(tree_->ChosenPath());
        WatchListFolder();
    }
}

void TKvDirTreeCombo28::SetFileList(TKvFilelistView28* list) {
    if (list == fileList_) return;
    if (TKvFilelistView28* old = fileList_) {
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

bool TKvDirTreeCombo28::ExpandRoot() const {
    return tree_->ExpandRoot();
}

void TKvDirTreeCombo28::SetHideSelection(bool value) {
    hideSelection_ = value;
    tree_->SetHideSelection(value);
}

void TKvDirTreeCombo28::SetExpandRoot(bool value) {
    tree_->SetExpandRoot(value);
}

void TKvDirTreeCombo28::SetLanguage(TLanguage value) {
    // Pending messages run after a change, but not while the combo is still being built.
    if (ApplyComponentLanguage(mwDirCombo, language_, value) && constructed_)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

int TKvDirTreeCombo28::TreeHeight() const {
    return tree_->height();
}

void TKvDirTreeCombo28::SetTreeHeight(int value) {
    if (value == tree_->height() || value < 0) return;
    tree_->resize(tree_->width(), value);
}

void TKvDirTreeCombo28::SetGlyph(const QPixmap& value) {
    if (value.isNull()) return;
    glyph_ = value;
    button_->setArrowType(Qt::NoArrow);
    button_->setIcon(QIcon(glyph_));
    button_->setIconSize(glyph_.size().boundedTo(QSize(kIconSize, kIconSize)));
}

// --- Operations --------------------------------------------------------------------------------

void TKvDirTreeCombo28::GoToFolder(const QString& path) {
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

void TKvDirTreeCombo28::SelectFolder(const QString& path) {
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

void TKvDirTreeCombo28::ReloadTree() {
    const bool updates = tree_->updatesEnabled();
    tree_->setUpdatesEnabled(false);
    ForgetTreeWatches();
    tree_->ClearNodes();
    tree_->BuildRoot();
    tree_->setUpdatesEnabled(updates);
}

bool TKvDirTreeCombo28::IsDropDownOpen() const {
    return tree_->isEnabled();
}

void TKvDirTreeCombo28::ToggleDropDown() {
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

void TKvDirTreeCombo28::CloseDropDown() {
    HideTree(true);
}

void TKvDirTreeCombo28::HideTree(bool giveFocusBack) {
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

bool TKvDirTreeCombo28::IsInsideTree(const QObject* object) const {
    for (const QObject* o = object; o != nullptr; o = o->parent())
        if (o == tree_) return true;
    return false;
}

void TKvDirTreeCombo28::MakeChoice() {
    QTreeWidgetItem* node = tree_->currentItem();
    if (node == nullptr) return;
    const QString previous = tree_->ChosenPath();
    // The previous path keeps "Drives" as it is; a folder gets its trailing "/".
    const QString back =
        isDrivesPath(previous) || previous.isEmpty() ? previous : AddSlash(previous);
    const TKvDirTreeView::TNodeKind kind = TKvDirTreeView::NodeKind(node);
    QString chosen = kind == TKvDirTreeView::nkRoot ? QString::fromLatin1(DrivesPath)
                                                    : TKvDirTreeView::NodePath(node);
    if (kind == TKvDirTreeView::nkDrive) {
        const int driveKind = node->data(0, TKvDirTreeView::DriveKindRole).toInt();
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

void TKvDirTreeCombo28::ChooseByMouse() {
    MakeChoice();
    SetSelectedPath(tree_->ChosenPath());
    ShowSelectedNode();
    emit OnPathChange(tree_, tree_->ChosenPath());
    CloseDropDown();
}

void TKvDirTreeCombo28::ShowSelectedNode() {
    QTreeWidgetItem* node = tree_->currentItem();
    if (node == nullptr) return;
    iconIndex_ = node->data(0, TKvDirTreeView::SmallIconRole).toInt();
    setText(node->text(0));
    setCursorPosition(0);
    UpdateTextMargins();
    update();
}

QStringList TKvDirTreeCombo28::WatchedFolders() const {
    return watcher_->directories();
}

// --- Keys and mouse ----------------------------------------------------------------------------

bool TKvDirTreeCombo28::HandleKeyDown(int key, Qt::KeyboardModifiers modifiers) {
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
                if (node->isExpanded()) collapseBelow(node);
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

void TKvDirTreeCombo28::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_Right:
        case Qt::Key_Down:
        case Qt::Key_F4:
        case Qt::Key_F5:
            HandleKeyDown(event->key(), event->modifiers());
            event->accept();
            return;
        default:
            // Other keys keep the read-only edit's own handling (copying the text).
            emit OnKeyDown(this, event->key(), event->modifiers());
            TControl<QLineEdit>::keyPressEvent(event);
    }
}

void TKvDirTreeCombo28::wheelEvent(QWheelEvent* event) {
    // A turn away from the user is an Up key, towards the user a Down key.
    const int delta = event->angleDelta().y();
    if (delta != 0) HandleKeyDown(delta > 0 ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier);
    event->accept();
}

void TKvDirTreeCombo28::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    TControl<QLineEdit>::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick(this);
}

void TKvDirTreeCombo28::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void TKvDirTreeCombo28::enterEvent(QEnterEvent* event) {
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

void TKvDirTreeCombo28::leaveEvent(QEvent* event) {
    TControl<QLineEdit>::leaveEvent(event);
    setToolTip(QString());
}

bool TKvDirTreeCombo28::eventFilter(QObject* watched, QEvent* event) {
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

void TKvDirTreeCombo28::UpdateTextMargins() {
    const bool icon = iconIndex_ >= 0 && iconIndex_ < TSystemImageList::Instance().Count();
    setTextMargins(icon ? 23 : 0, 0, button_->width() + 2, 0);
}

void TKvDirTreeCombo28::resizeEvent(QResizeEvent* event) {
    TControl<QLineEdit>::resizeEvent(event);
    button_->setGeometry(width() - kButtonSize - 4, 2, kButtonSize, std::max(0, height() - 4));
    UpdateTextMargins();
}

void TKvDirTreeCombo28::paintEvent(QPaintEvent* event) {
    TControl<QLineEdit>::paintEvent(event);
    TSystemImageList& icons = TSystemImageList::Instance();
    if (iconIndex_ < 0 || iconIndex_ >= icons.Count()) return;
    QPainter painter(this);
    icons.Icon(iconIndex_).paint(&painter, QRect(5, height() / 2 - 8, kIconSize, kIconSize));
}

// --- Change notification -----------------------------------------------------------------------

void TKvDirTreeCombo28::WatchFolder(const QString& folder, const QSet<QString>& subFolders) {
    const QString path = DropSlash(folder).isEmpty() ? folder : DropSlash(folder);
    snapshots_.insert(path, subFolders);
    if (!watcher_->directories().contains(path)) watcher_->addPath(path);
}

void TKvDirTreeCombo28::WatchListFolder() {
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
        WatchFolder(wanted, subFolderNames(ReadSubFolders(wanted, false)));
}

void TKvDirTreeCombo28::ForgetTreeWatches() {
    const QStringList watched = watcher_->directories();
    QStringList drop;
    for (const QString& path : watched)
        if (path != listFolder_) drop.append(path);
    if (!drop.isEmpty()) watcher_->removePaths(drop);
    for (const QString& path : drop)
        snapshots_.remove(path);
    // The list's folder stays watched; its snapshot is taken afresh.
    if (!listFolder_.isEmpty())
        snapshots_.insert(listFolder_, subFolderNames(ReadSubFolders(listFolder_, false)));
}

void TKvDirTreeCombo28::FolderChanged(const QString& folder) {
    // Collect and check later: a flood of changes (a large checkout) costs one rebuild per
    // interval, never one per event.
    pending_.insert(folder);
    if (!changeTimer_->isActive()) changeTimer_->start();
}

void TKvDirTreeCombo28::MountTableChanged() {
    const QString signature = ReadMountSignature();
    if (signature == mountSignature_) return;
    mountSignature_ = signature;
    mountPending_ = true;
    if (!changeTimer_->isActive()) changeTimer_->start();
}

QString TKvDirTreeCombo28::ReadMountSignature() const {
    QFile f(effectiveMountTablePath());
    if (!f.open(QIODevice::ReadOnly)) return QString();
    QString signature;
    for (const TDriveInfo& d : ParseMountInfo(QString::fromUtf8(f.readAll())))
        signature += d.Root + u'\n' + d.Caption + u'\n';
    return signature;
}

void TKvDirTreeCombo28::CheckChanges() {
    bool changed = mountPending_;
    mountPending_ = false;
    const QSet<QString> folders = std::exchange(pending_, {});
    for (const QString& folder : folders) {
        if (changed) break;
        const auto it = snapshots_.constFind(folder);
        if (it == snapshots_.constEnd()) continue;
        // Only folders coming, going or being renamed count; files do not.
        if (!QFileInfo(folder).isDir() ||
            subFolderNames(ReadSubFolders(folder, false)) != it.value())
            changed = true;
    }
    if (changed) RefreshAfterChange();
}

void TKvDirTreeCombo28::RefreshAfterChange() {
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
