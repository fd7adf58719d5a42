#pragma once
// TKvDirTreeCombo28: the one-line drive-and-folder chooser above the file list. A read-only edit
// shows the chosen folder's name and small icon; its button (or F4, or Down) drops down a folder
// tree rooted at the computer folder ("Drives") with one node per mounted file system. Folder
// nodes are loaded on first expansion. A choice in the tree points the linked file list at the
// folder; the list, when it moves on its own, has the combo show its folder. The combo watches
// the folders its tree has loaded, the folder the list shows and the mount table, and rebuilds
// its tree when folders or drives come and go.
#include <QHash>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>
#include <vector>

#include "browse/DirTreeComboLink.h"
#include "browse/KvFilelistView28.h"
#include "browse/Language.h"
#include "toolkit/Controls.h"

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;
class TKvDirTreeCombo28;

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

// The combo's button: an ordinary tool button that swallows right-button releases.
class TKvSpeedButton : public QToolButton {
    Q_OBJECT

  public:
    explicit TKvSpeedButton(QWidget* parent = nullptr);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// The drop-down folder tree: a top-level, top-most tool window with a single border, owned by
// the combo, hidden and disabled while closed.
class TKvDirTreeView : public QTreeWidget {
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

    explicit TKvDirTreeView(TKvDirTreeCombo28* combo);

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

    TKvDirTreeCombo28* combo_;
    QString chosenPath_;
    bool expandRoot_ = true;
    bool hideSelection_ = false;
    QHash<QString, QSet<QString>> loaded_;
    int folderIcon_ = -1;
    int folderOpenIcon_ = -1;
};

class TKvDirTreeCombo28 : public TControl<QLineEdit>, public DirTreeComboLink {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(QString About READ About WRITE SetAbout)
    Q_PROPERTY(QString SelectedPath READ SelectedPath WRITE SetSelectedPath)
    Q_PROPERTY(bool ExpandRoot READ ExpandRoot WRITE SetExpandRoot)
    Q_PROPERTY(bool HideSelection READ HideSelection WRITE SetHideSelection)
    Q_PROPERTY(VelkaroBrowse::TLanguage Language READ Language WRITE SetLanguage)
    Q_PROPERTY(int TreeHeight READ TreeHeight WRITE SetTreeHeight)

  public:
    static inline const char* const AboutText = "Version 2.8.7.9";
    static inline const char* const DrivesPath = "Drives";
    static inline const char* const RegisterFailedText = "Unable to register SHChangeNotify";
    // How long folder changes are collected before the tree is rebuilt once for all of them.
    static constexpr int ChangeDelayMs = 250;

    // Throws std::runtime_error("Unable to register SHChangeNotify") when change notification
    // cannot be set up.
    explicit TKvDirTreeCombo28(QWidget* parent = nullptr);
    // The same with the instance name (the object name the settings store finds it by).
    TKvDirTreeCombo28(const QString& name, QWidget* parent);
    ~TKvDirTreeCombo28() override;

    // Tests point the mount-table watch at another file (an unreadable one makes construction
    // fail). An empty path restores /proc/self/mountinfo.
    static void SetMountTablePath(const QString& path);

    // --- Properties --------------------------------------------------------------------------
    QString About() const { return QString::fromLatin1(AboutText); }
    void SetAbout(const QString&) {}

    QString SelectedPath() const override;
    void SetSelectedPath(const QString& value);

    TKvFilelistView28* FileList() const { return fileList_; }
    void SetFileList(TKvFilelistView28* list) override;

    bool ExpandRoot() const;
    void SetExpandRoot(bool value);

    bool HideSelection() const { return hideSelection_; }
    // Passed to the drop-down tree.
    void SetHideSelection(bool value);

    TLanguage Language() const { return language_; }
    void SetLanguage(TLanguage value);

    int TreeHeight() const;
    void SetTreeHeight(int value);

    QPixmap Glyph() const { return glyph_; }
    void SetGlyph(const QPixmap& value);

    // --- Operations --------------------------------------------------------------------------
    // Synchronises the combo with the file list: shows the folder and points the list there.
    void GoToFolder(const QString& path);
    // Shows a folder without touching the list.
    void SelectFolder(const QString& path) override;
    // Rebuilds the root and the drive nodes; the root is not expanded.
    void ReloadTree() override;
    // Opens the drop-down tree when closed, closes it when open.
    void ToggleDropDown() override;
    bool IsDropDownOpen() const override;
    void CloseDropDown() override;
    QObject* LinkObject() override { return this; }

    // The key table; returns false when a Left, Up or Down step ended early (the key is then
    // not reported through OnKeyDown).
    bool HandleKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // A choice by mouse in the tree: choose the selected node, point the list there, close.
    void ChooseByMouse();

    TKvDirTreeView* Tree() const { return tree_; }
    TKvSpeedButton* Button() const { return button_; }
    // Icon index shown in the edit (negative: none).
    int IconIndex() const { return iconIndex_; }
    // Folders watched for changes (tree folders and the list's folder).
    QStringList WatchedFolders() const;

  signals:
    void OnPathChange(QObject* Sender, const QString& SelectedPath);
    void OnKeyDown(QObject* Sender, int Key, Qt::KeyboardModifiers Shift);
    void OnClick(QObject* Sender);
    // The tree was rebuilt after a folder or drive change.
    void TreeRebuilt();

  protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Steps 1 to 3 of a choice: the chosen path from the selected node, with the readiness
    // check of removable and CD-ROM drives.
    void MakeChoice();
    void ShowSelectedNode();
    void HideTree(bool giveFocusBack);
    bool IsInsideTree(const QObject* object) const;
    void UpdateTextMargins();

    void FolderChanged(const QString& folder);
    void MountTableChanged();
    void CheckChanges();
    void RefreshAfterChange();
    void WatchFolder(const QString& folder, const QSet<QString>& subFolders);
    void WatchListFolder();
    void ForgetTreeWatches();
    QString ReadMountSignature() const;

    TKvDirTreeView* tree_ = nullptr;
    TKvSpeedButton* button_ = nullptr;
    QPointer<TKvFilelistView28> fileList_;
    QMetaObject::Connection listDestroyed_;
    QMetaObject::Connection focusChanged_;
    QMetaObject::Connection appState_;

    QString lastGoTo_;
    int iconIndex_ = -1;
    bool hideSelection_ = true;
    TLanguage language_ = lnSysDefault;
    QPixmap glyph_;
    bool filterInstalled_ = false;
    bool constructed_ = false;

    // Change notification.
    QFileSystemWatcher* watcher_ = nullptr;
    QSocketNotifier* mountNotifier_ = nullptr;
    QTimer* mountPoll_ = nullptr;
    QTimer* changeTimer_ = nullptr;
    int mountFd_ = -1;
    QString mountSignature_;
    QHash<QString, QSet<QString>> snapshots_;  // watched folder -> its sub-folder names
    QString listFolder_;                       // the list's folder as watched
    QSet<QString> pending_;                    // folders reported changed, not yet checked
    bool mountPending_ = false;
};
