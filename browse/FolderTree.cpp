#include "browse/FolderTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCollator>
#include <QFile>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "browse/FileListView.h"
#include "browse/FolderCombo.h"
#include "browse/ShellHelpers.h"
#include "toolkit/Application.h"

namespace {

constexpr int kIconSize = 16;

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
    const QCollator collator = TFileListView::NameCollator();
    std::sort(folders.begin(), folders.end(),
              [&collator](const TSubFolder& a, const TSubFolder& b) {
                  const int c = collator.compare(a.Name, b.Name);
                  return c != 0 ? c < 0 : a.Name < b.Name;
              });
}

QSet<QString> SubFolderNames(const std::vector<TSubFolder>& folders) {
    QSet<QString> names;
    names.reserve(static_cast<qsizetype>(folders.size()));
    for (const TSubFolder& f : folders)
        names.insert(f.Name);
    return names;
}

// --- TFolderTree ----------------------------------------------------------------------------

void TFolderTree::CollapseBelow(QTreeWidgetItem* node) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (child->isExpanded()) CollapseBelow(child);
    }
    node->setExpanded(false);
}

TFolderTree::TFolderTree(TFolderCombo* combo) : QTreeWidget(combo), combo_(combo) {
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
    connect(this, &QTreeWidget::currentItemChanged, this, &TFolderTree::UpdateNodeIcons);
}

void TFolderTree::ClearNodes() {
    setCurrentItem(nullptr);
    clear();
    loaded_.clear();
}

void TFolderTree::BuildRoot() {
    TSystemImageList& icons = TSystemImageList::Instance();
    auto* root = new QTreeWidgetItem();
    const int rootIcon = computerIconIndex();
    root->setText(0, QStringLiteral("Computer"));
    root->setData(0, PathRole, QString::fromLatin1(TFolderCombo::DrivesPath));
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

QTreeWidgetItem* TFolderTree::Root() const {
    return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

TFolderTree::TNodeKind TFolderTree::NodeKind(const QTreeWidgetItem* node) {
    return node == nullptr ? nkRoot : static_cast<TNodeKind>(node->data(0, KindRole).toInt());
}

QString TFolderTree::NodePath(const QTreeWidgetItem* node) {
    return node == nullptr ? QString() : node->data(0, PathRole).toString();
}

bool TFolderTree::IsLoaded(const QTreeWidgetItem* node) {
    return node != nullptr && node->data(0, LoadedRole).toBool();
}

void TFolderTree::LoadChildren(QTreeWidgetItem* node) {
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
    loaded_.insert(folder, SubFolderNames(subs));
    emit FolderLoaded(folder);
}

QTreeWidgetItem* TFolderTree::SelectPath(const QString& path) {
    QTreeWidgetItem* root = Root();
    if (root == nullptr || !path.startsWith(PathDelim)) return nullptr;
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    CollapseBelow(root);

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

void TFolderTree::SetExpandRoot(bool value) {
    expandRoot_ = value;
    if (value && Root() != nullptr) Root()->setExpanded(true);
}

void TFolderTree::SetHideSelection(bool value) {
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

void TFolderTree::UpdateNodeIcons(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    TSystemImageList& icons = TSystemImageList::Instance();
    if (previous != nullptr)
        previous->setIcon(0, icons.Icon(previous->data(0, SmallIconRole).toInt()));
    if (current != nullptr) current->setIcon(0, icons.Icon(current->data(0, OpenIconRole).toInt()));
}

bool TFolderTree::OnNodeCaption(const QPoint& viewportPos) const {
    QTreeWidgetItem* node = itemAt(viewportPos);
    // The item rectangle of the first column leaves out the indentation and expand button.
    return node != nullptr && visualItemRect(node).contains(viewportPos);
}

void TFolderTree::mouseMoveEvent(QMouseEvent* event) {
    QTreeWidget::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    if (viewport()->rect().contains(pos) && OnNodeCaption(pos)) setCurrentItem(itemAt(pos));
}

void TFolderTree::mousePressEvent(QMouseEvent* event) {
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

void TFolderTree::keyPressEvent(QKeyEvent* event) {
    if (!TFolderCombo::IsDropDownKey(event->key())) {
        QTreeWidget::keyPressEvent(event);
        return;
    }
    combo_->HandleKeyDown(event->key(), event->modifiers());
    event->accept();
}
