#pragma once
// TFileListView: the file list of the browser pane. It shows either the mounted file systems
// ("Drives") or the entries of one folder: sub-folders, a parent-folder row and the files that
// match a ";"-separated list of wildcard masks and an attribute filter. Every row keeps its full
// path and kind, so a click reports the full path (SelectedItem), a double-click or Enter opens
// it, and the rows can be sorted by any column.
//
// The control is a frame holding two views on one model and one selection: a tree view for the
// report style (columns with a header) and a list view for the list and icon styles
// (FileListItemViews.h). The rows are TFileListModel's (FileListModel.*), read by
// DirectoryReader.*; the file commands are in FileListCommands.cpp, the live list in
// FileListLiveRefresh.cpp and the context menu is TFileListMenu. The Thumbnails style
// (FileListThumbnails.cpp) shows the list view as a grid of pictures that its owner delivers.
#include <QElapsedTimer>
#include <QFrame>
#include <QHash>
#include <QImage>
#include <QKeySequence>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

#include "browse/Language.h"
#include "toolkit/Controls.h"

class QAbstractItemView;
class QFileSystemWatcher;
class QTimer;
class QCollator;
class QHeaderView;
class QItemSelectionModel;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;
class TFolderComboLink;
class TFileListMenu;
class TFileListModel;
class TFileListTreeView;
class TFileListListView;
class TThumbnailDelegate;

class TFileListView : public TControl<QFrame> {
    Q_OBJECT

  public:
    // Attribute filter members; the values are the attribute bits they stand for.
    enum TFileAttr {
        ftReadOnly = 0x01,
        ftHidden = 0x02,
        ftSystem = 0x04,
        ftArchive = 0x20,
        ftNormal = 0x80
    };
    Q_DECLARE_FLAGS(TFileType, TFileAttr)
    Q_FLAG(TFileType)

    enum TFileSize { fsKB, fsByte };
    Q_ENUM(TFileSize)

    enum TDtFormat {
        df_MMddyyyy,
        df_MMddyy,
        df_ddMMyyyy,
        df_ddMMyy_GB,
        df_ddMMyy_DE,
        df_ddMMyy_IT,
        df_yyyyMMdd,
        df_yyMMdd,
        df_Customize
    };
    Q_ENUM(TDtFormat)

    enum TTmFormat { tfLongFormat, tfShortFormat, tfCustomize };
    Q_ENUM(TTmFormat)

    // vsThumbnails: a grid of thumbnails with the names under them (see ThumbnailSize).
    enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport, vsThumbnails };
    Q_ENUM(TViewStyle)

  private:
    Q_PROPERTY(QString About READ About WRITE SetAbout)
    Q_PROPERTY(int ColWidth_Name READ ColWidth_Name WRITE SetColWidth_Name)
    Q_PROPERTY(int ColWidth_Size READ ColWidth_Size WRITE SetColWidth_Size)
    Q_PROPERTY(int ColWidth_Type READ ColWidth_Type WRITE SetColWidth_Type)
    Q_PROPERTY(int ColWidth_Mod READ ColWidth_Mod WRITE SetColWidth_Mod)
    Q_PROPERTY(int ColWidth_Attr READ ColWidth_Attr WRITE SetColWidth_Attr)
    Q_PROPERTY(TDtFormat DateFormat READ DateFormat WRITE SetDateFormat)
    Q_PROPERTY(QString Directory READ Directory WRITE SetDirectory)
    Q_PROPERTY(qint64 DriveFreeSpace READ DriveFreeSpace)
    Q_PROPERTY(bool DblClickToOpen READ DblClickToOpen WRITE SetDblClickToOpen)
    Q_PROPERTY(TFileType FileType READ FileType WRITE SetFileType)
    Q_PROPERTY(TFileSize FileSize READ FileSize WRITE SetFileSize)
    Q_PROPERTY(bool HideFileExt READ HideFileExt WRITE SetHideFileExt)
    Q_PROPERTY(VelkaroBrowse::TLanguage Language READ Language WRITE SetLanguage)
    Q_PROPERTY(QString Mask READ Mask WRITE SetMask)
    Q_PROPERTY(bool ParentDirEnabled READ ParentDirEnabled WRITE SetParentDirEnabled)
    Q_PROPERTY(QString ParentDirCaption READ ParentDirCaption WRITE SetParentDirCaption)
    Q_PROPERTY(bool PopUpMenuEnabled READ PopUpMenuEnabled WRITE SetPopUpMenuEnabled)
    Q_PROPERTY(QString SelectedItem READ SelectedItem WRITE SetSelectedItem)
    Q_PROPERTY(int SelectedNumber READ SelectedNumber)
    Q_PROPERTY(qint64 SelectedSize READ SelectedSize)
    Q_PROPERTY(bool ShowFolders READ ShowFolders WRITE SetShowFolders)
    Q_PROPERTY(TTmFormat TimeFormat READ TimeFormat WRITE SetTimeFormat)
    Q_PROPERTY(bool MultiSelect READ MultiSelect WRITE SetMultiSelect)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(bool HideSelection READ HideSelection WRITE SetHideSelection)
    Q_PROPERTY(bool HotTrack READ HotTrack WRITE SetHotTrack)
    Q_PROPERTY(TViewStyle ViewStyle READ ViewStyle WRITE SetViewStyle)
    Q_PROPERTY(bool ShowColumnHeaders READ ShowColumnHeaders WRITE SetShowColumnHeaders)
    Q_PROPERTY(int ThumbnailSize READ ThumbnailSize WRITE SetThumbnailSize)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    TCONTROL_ALIGN_PROPERTIES
    Q_PROPERTY(TFont Font READ Font WRITE SetFont)
    Q_PROPERTY(int Color READ Color WRITE SetColor)

  public:
    static inline const char* const AboutText = "Version 2.8.7.9";
    static inline const char* const DrivesDirectory = "Drives";

    explicit TFileListView(QWidget* parent = nullptr);
    ~TFileListView() override;

    // --- Published properties --------------------------------------------------------------
    QString About() const { return QString::fromLatin1(AboutText); }
    void SetAbout(const QString&) {}

    int ColWidth_Name() const { return colWidth_[0]; }
    void SetColWidth_Name(int value) { colWidth_[0] = value; }
    int ColWidth_Size() const { return colWidth_[1]; }
    void SetColWidth_Size(int value) { colWidth_[1] = value; }
    int ColWidth_Type() const { return colWidth_[2]; }
    void SetColWidth_Type(int value) { colWidth_[2] = value; }
    int ColWidth_Mod() const { return colWidth_[3]; }
    void SetColWidth_Mod(int value) { colWidth_[3] = value; }
    int ColWidth_Attr() const { return colWidth_[4]; }
    void SetColWidth_Attr(int value) { colWidth_[4] = value; }

    TDtFormat DateFormat() const { return dateFormat_; }
    void SetDateFormat(TDtFormat value);
    TTmFormat TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TTmFormat value);

    QString Directory() const { return directory_; }
    void SetDirectory(const QString& value);

    // Free space, in units of 1024 bytes, of the file system that holds Directory (0 for the
    // drive list or an unreadable folder).
    qint64 DriveFreeSpace() const;

    bool DblClickToOpen() const { return dblClickToOpen_; }
    void SetDblClickToOpen(bool value) { dblClickToOpen_ = value; }

    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType value);

    TFileSize FileSize() const { return fileSize_; }
    void SetFileSize(TFileSize value) { fileSize_ = value; }

    bool HideFileExt() const { return hideFileExt_; }
    void SetHideFileExt(bool value) { hideFileExt_ = value; }

    TLanguage Language() const { return language_; }
    void SetLanguage(TLanguage value);

    QString Mask() const { return mask_; }
    void SetMask(const QString& value);

    bool ParentDirEnabled() const { return parentDirEnabled_; }
    void SetParentDirEnabled(bool value) { parentDirEnabled_ = value; }
    QString ParentDirCaption() const { return parentDirCaption_; }
    void SetParentDirCaption(const QString& value);

    bool PopUpMenuEnabled() const { return popUpMenuEnabled_; }
    void SetPopUpMenuEnabled(bool value);

    QString SelectedItem() const { return selectedItem_; }
    void SetSelectedItem(const QString& value) {
        selectedItem_ = value;
        selectedNative_.clear();
        selectedDevice_ = selectedInode_ = 0;
    }
    // SelectedItem as the file system names it: the clicked row's original bytes, which differ
    // from the encoded text when the name is not valid in the locale's encoding.
    QByteArray SelectedItemNative() const;
    // Number of selected rows, or of all rows when none is selected.
    int SelectedNumber() const;
    // Sum of the byte sizes of the selected rows.
    qint64 SelectedSize() const;

    bool ShowFolders() const { return showFolders_; }
    void SetShowFolders(bool value);

    // After the masks, files without an extension whose first 4 KiB read as text. Only the first
    // MaxSniffed such files of a folder are read, so that a large folder lists at once.
    static constexpr int MaxSniffed = 256;
    bool SniffText() const { return sniffText_; }
    void SetSniffText(bool value);
    // Whether bytes from a file's start read as text: no NUL (unless UTF-16 by its mark) and
    // almost no other control characters.
    static bool LooksLikeText(const char* data, qsizetype size);

    bool MultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    bool HideSelection() const { return hideSelection_; }
    void SetHideSelection(bool value) { hideSelection_ = value; }
    bool HotTrack() const { return hotTrack_; }
    void SetHotTrack(bool value);
    TViewStyle ViewStyle() const { return viewStyle_; }
    void SetViewStyle(TViewStyle value);
    bool ShowColumnHeaders() const { return showColumnHeaders_; }
    void SetShowColumnHeaders(bool value);
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool value);

    // --- Thumbnails style ------------------------------------------------------------------
    // The list does not make thumbnails: it says which rows it shows (ThumbnailsWanted), and its
    // owner delivers them (SetThumbnail) or finds them in memory (ThumbnailLookup). Rows without
    // one, and folders, show their type icon.
    //
    // The side of a thumbnail's cell in logical pixels: one of ThumbnailSizes (other values go
    // to the nearest). Thumbnails are made at ThumbnailPixels, the side in device pixels, so
    // that they are painted pixel for pixel on a high-density screen.
    static constexpr int ThumbnailSizes[] = {128, 256, 512};
    static constexpr int DefaultThumbnailSize = 256;
    int ThumbnailSize() const { return thumbnailSize_; }
    void SetThumbnailSize(int value);
    // Goes steps sizes up (positive) or down (Ctrl+wheel, Ctrl+Plus, Ctrl+Minus).
    void StepThumbnailSize(int steps);
    // The size step a key asks for in the Thumbnails style (+1, -1), else 0.
    int ThumbnailSizeKey(int key, Qt::KeyboardModifiers modifiers) const;
    int ThumbnailPixels() const;
    // The grid cell of a row in logical pixels: the square and the name under it.
    QSize ThumbnailCell() const;
    // A thumbnail made for the row whose native path is path, at ThumbnailPixels; a null image
    // says that none can be made. Thumbnails of rows far from the shown ones are not kept.
    void SetThumbnail(const QByteArray& path, const QImage& image);
    // What the row shows: its thumbnail, or a null image (the type icon then).
    QImage Thumbnail(int row) const;
    // Finds a thumbnail already made at ThumbnailPixels, or returns a null image.
    std::function<QImage(const QByteArray& path)> ThumbnailLookup;
    // The rows shown now, as [first, last).
    std::pair<int, int> ShownRows() const;

    // The linked drive-and-folder combo (not owned). Linking unlinks the previous combo and
    // sets the new combo's FileList to this list; a destroyed combo unlinks itself.
    TFolderComboLink* DirTreeCombo() const { return dirTreeCombo_; }
    void SetDirTreeCombo(TFolderComboLink* combo);

    // --- Operations ------------------------------------------------------------------------
    // Re-reads Directory and refills the rows.
    void RebuildList();
    // Live list: the folder shown is watched, and entries that other programs create, remove
    // or rename appear and disappear by themselves, keeping the selection, the focused row,
    // the scroll position and the order. A change is shown after LiveRefreshDelayMs, and a
    // folder that keeps changing is re-read at most once per LiveRefreshIntervalMs.
    static inline int LiveRefreshDelayMs = 100;
    static inline int LiveRefreshIntervalMs = 500;
    // The folder being watched ("" in the drive list).
    QString WatchedFolder() const;
    // Opens the first selected row: enters a folder or drive, goes up from the parent row,
    // launches a file with the desktop's default application.
    void OpenSelected();
    // Shows the containing folder ("Drives" from the root folder) and selects the folder that
    // was shown.
    void GoToParent();
    // The click action: reports the first selected row's path through SelectedItem,
    // OnItemChange and OnClick. Does nothing when no row is selected.
    void Click();
    // A key moved the current row (Home, End, Page Up, Page Down, type-ahead, ...): the click
    // action follows when the key is released, as it does for Up and Down, so that the row the
    // keys act on is the one shown.
    void NoteKeyMove() { keyMoved_ = true; }
    // What the list says in place of rows it could not read ("Permission denied"); empty when
    // the folder was read.
    QString ListMessage() const { return listMessage_; }
    // The column-click rule: toggles the order on the sort column, or sorts by a new column in
    // reversed order; then sorts. Nothing while the drives are shown.
    void ColumnClick(int column);
    // The Name order of two captions: numbers by value, letters by the user's locale, letter
    // case aside (then by character code, so that no two different names compare equal).
    static int CompareNames(const QString& a, const QString& b);
    // The collator of that order, for sorting many names with one.
    static QCollator NameCollator();

    // --- File operations (menu and keys) ---------------------------------------------------
    // Each does nothing without a selected row where it needs one; the parent row is never
    // part of a transfer (it is unselected first).
    //
    // Copy and cut put the selected paths into the transfer list and on the clipboard.
    void CopySelected();
    void CutSelected();
    // Copies the clipboard's file list into Directory, or moves it when the clipboard says the
    // files were cut (the clipboard is emptied then).
    void PasteFiles();
    // Files dropped on the window: pasted into Directory as copies.
    void DropFiles(const QStringList& paths);
    void DropFiles(const QList<QByteArray>& paths);
    // Moves the selection to the trash (after the trash confirmation).
    void DeleteSelected();
    // Deletes the selected files for good, each after a confirmation; stops at the first
    // folder. Returns true when it went through every selected row.
    bool DeleteSelectedPermanently();
    // Starts editing the first selected row's caption; the edit's end renames the entry.
    void RenameSelected();
    // Creates "New Folder" (or "New Folder(2)", ...) in Directory and starts editing its name.
    void CreateFolder();
    // Opens the first selected file when its extension is in the viewer table.
    void ViewSelected();
    void ShowSelectedProperties();
    // Asks for a folder ("Send to any folder") and copies the selection into it.
    void SendToAnyFolder();
    void CopyToFolder(const QString& folder);
    void CopyContentsToClipboard();
    void CopyNamesToClipboard();
    // A link to the first selected entry on the desktop.
    void CreateDesktopShortcut();
    // Sends the selection to a send-to entry: a folder gets copies, a program is run with the
    // first selected file.
    void SendToShortcut(const QString& shortcutPath);

    // The file commands a window's own menu offers for the list, each with the key the list
    // answers to.
    enum TListAction {
        laOpen,
        laCut,
        laCopy,
        laPaste,
        laDelete,
        laDeletePermanently,
        laNewFolder,
        laProperties
    };
    // Whether the command can act now: Open and Properties need a selected row (Properties not
    // the parent row); cut, copy and delete need a selected row other than the parent row in a
    // folder; Delete Permanently needs a selected file; Paste something to paste and New Folder
    // a folder that can be written to (never the drive list).
    bool ActionEnabled(TListAction action) const;
    // Runs the command (as its key does).
    void RunAction(TListAction action);
    static QKeySequence ActionKey(TListAction action);

    // The last copied or cut paths (full paths; emptied by paste, delete and copy to folder).
    QStringList TransferList() const;
    // The list's own context menu (rebuilt on every language change).
    TFileListMenu* PopUp() const { return popUp_; }
    // Whether the viewer table holds the extension of the path.
    static bool HasViewer(const QString& path);
    // Whether a paste has something to paste.
    bool CanPaste() const;

    // In-place editing of a caption.
    void BeginEditCaption(int row);
    // Ends the edit: accept renames the entry to the edited caption.
    void EndEditCaption(bool accept);
    bool EditingCaption() const;
    QLineEdit* CaptionEditor() const;
    // The path of the row whose caption is (or was last) being edited.
    QString OldPath() const { return oldPath_; }

    // --- Filter box and offer (FileListFilter.cpp) -------------------------------------------
    // Typing a name in the list, or Ctrl+F, opens a box under the rows that narrows them to the
    // names holding its text, letter case aside, in every style; the parent row stays. Each
    // change of the text selects and reports the first name that starts with it (else the first
    // that holds it). Esc clears and closes the box and brings every row back, the selected ones
    // still selected; another folder closes it too.
    QString FilterText() const;
    void SetFilterText(const QString& text);
    // Shows the box and puts the focus in it.
    void OpenFilter();
    void CloseFilter();
    bool FilterOpen() const;
    QLineEdit* FilterBox() const { return filterBox_; }
    // Asked after every fill of a folder whose rows hold no file: a line offered under the rows
    // (the main window's "12 pictures here: Browse Image Files"), empty for none. A click on it,
    // or Enter on it (Down from the last row reaches it), emits OnOfferClick.
    std::function<QString(const QString& folder)> EmptyFolderOffer;
    QString Offer() const;
    QPushButton* OfferButton() const { return offerButton_; }

    // --- Rows --------------------------------------------------------------------------------
    // Row kind tags.
    static inline const char* const KindDir = "dir";
    static inline const char* const KindFile = "file";
    static inline const char* const KindDrive = "drv";

    int ItemCount() const;
    QString ItemCaption(int row) const;
    int ItemImageIndex(int row) const;
    // Sub-items: 0 to 3 the visible columns 2 to 5, 4 the full path, 5 the kind tag, 6 the
    // modification sort key (folder rows only).
    int ItemSubItemCount(int row) const;
    QString ItemSubItem(int row, int index) const;
    // The row's full path as the file system names it (see SelectedItemNative).
    QByteArray ItemNativePath(int row) const;
    // The pictures next to the row in image mode: the native paths of the nearest file rows
    // after it and before it (folders, drives and the parent entry skipped), the next first.
    QList<QByteArray> NeighbourPictures(int row) const;
    // Whether the row is shown dimmed: its entry is on the clipboard as cut, not yet pasted.
    bool ItemDimmed(int row) const;
    // Reads which entries the clipboard holds as cut (on every clipboard change).
    void UpdateCutMarks();
    bool ItemSelected(int row) const;
    void SetItemSelected(int row, bool selected);
    bool ItemFocused(int row) const;
    void SetItemFocused(int row);
    void SelectAll();

    // --- State (read-only) -------------------------------------------------------------------
    int SortColumn() const { return sortColumn_; }
    bool SortReverse() const { return sortReverse_; }
    bool SortingEnabled() const { return sortingEnabled_; }
    bool DriveColumnsInstalled() const { return driveColumns_; }
    // Puts the ColWidth_ widths on the folder columns now (a fill keeps the widths the user
    // dragged).
    void ResetColumnWidths();
    int ColumnCount() const;
    QString ColumnCaption(int column) const;
    int ColumnWidth(int column) const;
    QString DatePattern() const { return datePattern_; }
    QString TimePattern() const { return timePattern_; }
    // Index of the parent-folder icon in the process-wide icon list.
    int ParentImageIndex() const { return parentImgIdx_; }

    // The view that shows the rows in the present style, and the report view's header.
    QAbstractItemView* View() const;
    QHeaderView* Header() const;

    // Key handling shared by both views; returns true when the key must not reach the view's
    // ordinary handling.
    bool HandleKeyDown(QKeyEvent* event);
    // Asked first for every key pressed in the list; true when the owner handled it (the main
    // window's picture keys), so that the list does nothing more with it.
    std::function<bool(int key, Qt::KeyboardModifiers modifiers)> KeyDownFilter;
    void HandleKeyUp(QKeyEvent* event);
    void HandleDblClick();
    // The file-operation keys; returns 0 when the key is none of them, 1 when handled, 2 when
    // handled and not to be passed on. mods: Shift, Ctrl, Alt and Meta of the key.
    int HandleFileKey(int key, Qt::KeyboardModifiers mods);

    // The per-user settings location of the parent icon index.
    static inline const char* const ParentIconOrganization = "Morvath";
    static inline const char* const ParentIconApplication = "KvFileExplorer";
    static inline const char* const ParentIconValue = "ParentImgIdx";

  signals:
    void OnItemChange(QObject* Sender, const QString& SelectedItem);
    void OnClick(QObject* Sender);
    void OnDblClick(QObject* Sender);
    void OnKeyDown(QObject* Sender, int Key, Qt::KeyboardModifiers Shift);
    // The entry last reported by a click was renamed by another program: SelectedItem names it
    // by its new path now.
    void OnItemRenamed(QObject* Sender, const QString& OldItem, const QString& NewItem);
    // Thumbnails style: the native paths of the file rows shown now that have no thumbnail yet,
    // in order, and of those about two screens before and after them, nearest first. Sent
    // (once per turn of the event loop) whenever the shown rows change.
    void ThumbnailsWanted(QList<QByteArray> visible, QList<QByteArray> around);
    // Thumbnails are wanted at another size in device pixels from now on.
    void ThumbnailSizeChanged(int pixels);
    // The rows changed to another folder (or the Thumbnails style was left): nothing asked for
    // before is wanted any more.
    void ThumbnailsCleared();
    void OnOfferClick(QObject* Sender);

  protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The live list (FileListLiveRefresh.cpp).
    // What a refill of the same folder keeps: the selected and focused rows (by path) and the
    // scroll position.
    struct TKeptView {
        bool valid = false;
        QStringList selected;
        QString current;
        int horizontal = 0;
        int vertical = 0;
    };
    TKeptView KeepView() const;
    void RestoreView(const TKeptView& kept);
    QString RowKey(int row) const;

    // The fill behind RebuildList; keepOrder keeps the sort column and direction (a live
    // refresh) instead of going back to the name order.
    void Refill(bool keepOrder);
    // Watches the folder shown (none in the drive list).
    void WatchDirectory();
    void DirectoryChanged();
    void LiveRefresh();

    // Puts up the columns of a folder, or of the drive list.
    void InstallColumns(bool drives);
    void ApplyColumnWidths();
    void FillDrives();
    void FillFolder();
    void SortRows();
    void UpdateSortIndicator();
    void UpdateDatePattern();
    void UpdateTimePattern();
    void UpdateListGrid();
    // Shows listMessage_ over the rows (hidden when empty).
    void PlaceListMessage();
    void EnsureParentIcon();
    int FirstSelectedRow() const;
    QList<int> SelectedRows() const;
    bool IsDrivesDirectory(const QString& path) const;
    // File operations (FileListCommands.cpp).
    // Rebuilds the own context menu in the list's language.
    void RebuildPopUp();
    // Watches the owner window for dropped files.
    void HookOwnerForDrops();
    // Collects the selected rows' paths, unselecting the parent row.
    QList<QByteArray> TakeSelectedPaths();
    // Copies or moves the paths into Directory and refills the list.
    void TransferInto(const QList<QByteArray>& paths, bool move);
    // The path of the row that takes the selected rows' place when they are deleted: the next
    // row not selected, else the one before them.
    QString SuccessorOfSelection() const;
    // After a delete: when the shown entry is gone, shows the successor row (as a click
    // would), or reports an empty selection when there is none.
    void ShowSuccessorIfDeleted(const QString& successor);
    // Whether the list shows a folder that pastes, drops and deletes can work in.
    bool CanTransferHere() const;
    // After a delete: when the entry last reported by a click is gone, reports an empty
    // selection (OnItemChange, OnClick) so that nothing goes on showing it.
    void ForgetDeletedItem();
    // Refills the list and has the linked combo reload and show a folder.
    void RefreshAfterChange(const QString& comboFolder);
    bool RowIsParent(int row) const;
    // Thumbnails style (FileListThumbnails.cpp).
    void SetUpThumbnails();
    // Puts the list view's grid and painting for the present style.
    void ApplyThumbnailStyle();
    void ScheduleThumbnails();
    void RequestThumbnails();
    // Forgets every thumbnail held and tells the owner so.
    void DropThumbnails();
    bool IsThumbnailRow(int row) const;
    // A held thumbnail, or one the lookup finds (then held); null when there is none.
    const QImage* HeldThumbnail(const QByteArray& path) const;
    // The caption's place in a Thumbnails cell.
    QRect ThumbnailCaptionRect(const QRect& cell) const;
    // The filter box and the offer (FileListFilter.cpp).
    void CreateFilterBox(QVBoxLayout* column);
    // The keys of the box while the list has the focus: typed text, Ctrl+F, Backspace, Esc and
    // Down onto the offer. True when taken.
    bool HandleFilterKey(QKeyEvent* event, Qt::KeyboardModifiers mods);
    // Narrows the rows to the box's text; selectFirst selects and reports the first match.
    void ApplyFilter(bool selectFirst);
    // After a fill: the filter again (closed for another folder) and the offer.
    void AfterFill(bool sameFolder);
    void PlaceOffer();

    std::unique_ptr<TFileListModel> model_;
    QItemSelectionModel* selection_ = nullptr;
    TFileListTreeView* tree_ = nullptr;
    TFileListListView* list_ = nullptr;
    QStackedLayout* stack_ = nullptr;

    int colWidth_[5] = {165, 75, 95, 125, 40};
    TDtFormat dateFormat_ = df_Customize;
    TTmFormat timeFormat_ = tfShortFormat;
    QString datePattern_;
    QString timePattern_;
    QString directory_ = QString::fromLatin1(DrivesDirectory);
    QString filledDirectory_;  // the Directory the rows were last filled from
    bool dblClickToOpen_ = true;
    TFileType fileType_ = TFileType(ftReadOnly | ftHidden | ftSystem | ftArchive);
    TFileSize fileSize_ = fsKB;
    bool hideFileExt_ = false;
    TLanguage language_ = lnEnglish;
    QString mask_ = QStringLiteral("*.*");
    bool parentDirEnabled_ = true;
    QString parentDirCaption_ = QStringLiteral(" Parent");
    bool popUpMenuEnabled_ = true;
    QString selectedItem_;
    QByteArray selectedNative_;
    // Device and inode of the entry last reported by a click, to find it again after a rename.
    quint64 selectedDevice_ = 0, selectedInode_ = 0;
    bool keyMoved_ = false;
    QString listMessage_;
    QLabel* messageLabel_ = nullptr;
    QLineEdit* filterBox_ = nullptr;
    QPushButton* offerButton_ = nullptr;
    bool filtering_ = false;  // the rows are being narrowed
    bool showFolders_ = true;
    bool sniffText_ = false;
    bool multiSelect_ = true;
    bool readOnly_ = false;
    bool hideSelection_ = false;
    bool hotTrack_ = false;
    TViewStyle viewStyle_ = vsReport;
    bool showColumnHeaders_ = true;
    bool tabStop_ = true;

    QList<QByteArray> transfer_;
    QString oldPath_;
    QByteArray oldNative_;  // the same as the file system names it
    TFileListMenu* popUp_ = nullptr;
    QPointer<QLineEdit> editor_;
    int editRow_ = -1;
    QObject* dropHook_ = nullptr;

    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* liveTimer_ = nullptr;
    QElapsedTimer lastLive_;  // when the last live refresh ran

    TFolderComboLink* dirTreeCombo_ = nullptr;
    QMetaObject::Connection comboDestroyed_;

    int thumbnailSize_ = DefaultThumbnailSize;
    int thumbnailPixels_ = 0;  // the device size last announced (0: none yet)
    // Thumbnails of the rows shown and around them, by native path; a null image: none.
    mutable QHash<QByteArray, QImage> thumbnails_;
    QSet<QByteArray> thumbnailWindow_;  // paths of the rows shown and around them
    QSet<QByteArray> thumbnailShown_;   // paths of the rows shown
    QList<QByteArray> lastWanted_[2];   // the last request, to send no repeats
    QTimer* thumbnailTimer_ = nullptr;
    TThumbnailDelegate* thumbnailDelegate_ = nullptr;

    int sortColumn_ = 0;
    bool sortReverse_ = true;
    bool sortingEnabled_ = false;
    bool driveColumns_ = false;
    bool columnsInstalled_ = false;
    int parentImgIdx_ = -1;
    bool filling_ = false;
    bool windowCreated_ = false;
    bool constructed_ = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFileListView::TFileType)
