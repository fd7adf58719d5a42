#pragma once
// TFolderCombo: the one-line drive-and-folder chooser above the file list. A read-only edit
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
#include <memory>
#include <vector>

#include "browse/ComboButton.h"
#include "browse/FileListView.h"
#include "browse/FolderComboLink.h"
#include "browse/FolderTree.h"
#include "browse/Language.h"
#include "toolkit/Controls.h"

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;
class TFolderCombo;

class TFolderCombo : public TControl<QLineEdit>, public TFolderComboLink {
    Q_OBJECT
    TCONTROL_ALIGN_PROPERTIES
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
    explicit TFolderCombo(QWidget* parent = nullptr);
    // The same with the instance name (the object name the settings store finds it by).
    TFolderCombo(const QString& name, QWidget* parent);
    ~TFolderCombo() override;

    // Tests point the mount-table watch at another file (an unreadable one makes construction
    // fail). An empty path restores /proc/self/mountinfo.
    static void SetMountTablePath(const QString& path);

    // --- Properties --------------------------------------------------------------------------
    QString About() const { return QString::fromLatin1(AboutText); }
    void SetAbout(const QString&) {}

    QString SelectedPath() const override;
    void SetSelectedPath(const QString& value);

    TFileListView* FileList() const { return fileList_; }
    void SetFileList(TFileListView* list) override;

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
    // Keys that open, close or commit the drop-down wherever the focus is (the combo or its
    // tree): Return, Enter, Escape, F4, F5. The combo itself also takes the arrow keys.
    static bool IsDropDownKey(int key);
    // A choice by mouse in the tree: choose the selected node, point the list there, close.
    void ChooseByMouse();

    TFolderTree* Tree() const { return tree_; }
    TComboButton* Button() const { return button_; }
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

    TFolderTree* tree_ = nullptr;
    TComboButton* button_ = nullptr;
    QPointer<TFileListView> fileList_;
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
