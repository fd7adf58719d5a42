#pragma once
// TFolderTree: the folder combo's drop-down tree, rooted at the computer folder ("Drives") with
// one node per mounted file system; folder nodes load their sub-folders on first expansion.
// Also the sub-folder listing the tree and the combo's change checks read folders with.
#include <QHash>
#include <QSet>
#include <QString>
#include <QTreeWidget>
#include <vector>

class TFolderCombo;

// One sub-folder as the tree lists it.
struct TSubFolder {
    QString Name;
    bool HasChildren = false;
};

// The sub-folders of a folder (hidden ones included, "." and ".." left out, symbolic links to
// folders counted as folders), in no particular order. With checkChildren each entry also tells
// whether it holds at least one sub-folder (the check stops at the first one). An unreadable or
// missing folder gives an empty list.
std::vector<TSubFolder> ReadSubFolders(const QString& folder, bool checkChildren);
// Sorts sub-folders by name in case-insensitive order (ties broken by exact order).
void SortSubFolders(std::vector<TSubFolder>& folders);

// The names of sub-folders, as a set (what the tree loaded, what a change check compares).
QSet<QString> SubFolderNames(const std::vector<TSubFolder>& folders);

// The drop-down folder tree: a top-level, top-most tool window with a single border, owned by
// the combo, hidden and disabled while closed.
class TFolderTree : public QTreeWidget {
    Q_OBJECT

  public:
    enum TNodeKind { nkRoot, nkDrive, nkFolder };
    // Item data roles.
    enum {
        PathRole = Qt::UserRole,  // "Drives", a drive root with "/", a folder without "/"
        KindRole,
        SmallIconRole,
        OpenIconRole,
        LoadedRole,
        DriveKindRole
    };

    explicit TFolderTree(TFolderCombo* combo);

    // Removes every node (and the selection).
    void ClearNodes();
    // Adds the root and one node per mounted file system, each marked as having children. The
    // root is left collapsed.
    void BuildRoot();
    QTreeWidgetItem* Root() const;

    static TNodeKind NodeKind(const QTreeWidgetItem* node);
    // "Drives" for the root, the mount point with "/" for a drive, else the folder path
    // without a trailing "/".
    static QString NodePath(const QTreeWidgetItem* node);
    static bool IsLoaded(const QTreeWidgetItem* node);
    // Collapses the node and every expanded node below it.
    static void CollapseBelow(QTreeWidgetItem* node);

    // Lazy loading: adds the node's sub-folders, sorted by caption, unless it was loaded.
    void LoadChildren(QTreeWidgetItem* node);
    // Finds the node of an absolute path ending in "/": collapses the tree, then walks from the
    // root (drive first, then one folder name at a time), selecting and expanding each node it
    // matches. Stops where no child matches. Returns the last node matched (or null).
    QTreeWidgetItem* SelectPath(const QString& path);
    QString ChosenPath() const { return chosenPath_; }
    void SetChosenPath(const QString& value) { chosenPath_ = value; }

    bool ExpandRoot() const { return expandRoot_; }
    void SetExpandRoot(bool value);
    // Whether the selected node shows only while the tree has the focus.
    bool HideSelection() const { return hideSelection_; }
    void SetHideSelection(bool value);

    // Paths of the folders whose children are loaded, and the sub-folder names loaded there.
    const QHash<QString, QSet<QString>>& LoadedFolders() const { return loaded_; }

  signals:
    // A folder's children were loaded.
    void FolderLoaded(const QString& folder);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void UpdateNodeIcons(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    bool OnNodeCaption(const QPoint& viewportPos) const;

    TFolderCombo* combo_;
    QString chosenPath_;
    bool expandRoot_ = true;
    bool hideSelection_ = false;
    QHash<QString, QSet<QString>> loaded_;
    int folderIcon_ = -1;
    int folderOpenIcon_ = -1;
};
