#pragma once
// TMainWindow: the reader's main window. The left pane holds the drive-and-folder combo above the
// file list; the right pane shows the clicked text file in a read-only memo (text mode) or the
// clicked picture in a scroll box (image mode). Every command is reached through the popup
// menus TextMenu (memo), FileMenu (file list) and ImageMenu (picture and the rest of the window).
//
// Every component carries its name as objectName, so the settings store finds it by name.
#include <QStringList>
#include <memory>
#include <string>

#include "browse/FileListView.h"
#include "browse/FolderCombo.h"
#include "display/PictureDialog.h"
#include "display/PicturePresenter.h"
#include "display/PictureView.h"
#include "display/Slideshow.h"
#include "imaging/writers/SafeWrite.h"
#include "settings/FormStorage.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Memo.h"
#include "toolkit/Menus.h"

class QLabel;
class QLineEdit;
class TThumbnailService;

class TMainWindow : public TForm {
    Q_OBJECT

  public:
    // The list's masks in text mode and in image mode. Text mode also lists files without an
    // extension that read as text (TFileListView::SniffText).
    static inline const char* const TextMask =
        "*.txt;*.ini;*.sys;*.bat;*.inf;*.htm;*.css;*.js;*.pas;*.dpr;*.dpk;*.inc;*.rc;*.bpr;*.bpk;"
        "*.hpp;*.cpp;*.h;*.c;*.nfo;*.diz;*.upl;*.log;*.csv;*.1st;*.lst;"
        // Common text types after the classic list.
        "*.md;*.json;*.xml;*.yaml;*.yml;*.toml;*.tsv;*.sh;*.py;*.ts;*.html;*.sql;*.conf;*.cfg";
    static inline const char* const ImageMask =
        "*.jpg;*.jpe;*.png;*.psd;*.tga;*.bmp;*.rle;*.dib;*.pcx;*.pcd;*.sgi;*.tif;*.ico";

    // The list's mask in image mode: ImageMask, then every other extension registered with the
    // picture formats, in registration order and each once, so that every picture the reader
    // can open is listed.
    static QString ImageFilesMask();

    // Starts in a folder or at a file named on the command line: a folder is shown; a file's
    // folder is shown with the file selected and displayed, in image mode for a picture (an
    // extension the format registry knows) and in text mode for any other file. A path that
    // does not exist raises an error and changes nothing.
    void OpenPath(const QString& path);

    // How many files of the folder the list shows in image mode, and in text mode.
    static int CountPictures(const QString& folder);
    static int CountTextFiles(const QString& folder);
    // The line the list offers in text mode over a folder with pictures and no text file.
    static QString PicturesHereText(int count, const QString& command);

    // The font sizes a stored font may have, in points.
    static constexpr int MinFontSize = 1;
    static constexpr int MaxFontSize = 400;

    // The properties the settings store keeps between runs, in the order it reads them.
    static QStringList StoredProps();

    explicit TMainWindow(QWidget* parent = nullptr);
    ~TMainWindow() override;

    // Components.
    TPanel* PanelTop = nullptr;
    TPanel* PanelLeft = nullptr;
    TSplitter* SplitterV = nullptr;
    TFolderCombo* BrowseDrives = nullptr;
    TPanel* PanelDiv = nullptr;
    TFileListView* BrowseFiles = nullptr;
    TPanel* PanelImage = nullptr;
    TScrollBox* ScrollImage = nullptr;
    TPictureView* ViewImage = nullptr;
    TMemo* ReadText = nullptr;
    TFontDialog* FontText = nullptr;
    TFontDialog* FontBrowse = nullptr;
    TColorDialog* ImageBk = nullptr;
    TPictureDialog* AboutImage = nullptr;
    TFormStorage* Storage = nullptr;

    TPopupMenu* TextMenu = nullptr;
    TMenuItem* CopyMenu = nullptr;
    TMenuItem* BrowseMenu = nullptr;
    TMenuItem* TextAutoFocus = nullptr;
    TMenuItem* WrapMenu = nullptr;
    TMenuItem* FontMenu = nullptr;
    TMenuItem* FindMenu = nullptr;
    TMenuItem* HighlightsMenu = nullptr;
    TMenuItem* EncodingMenu = nullptr;
    TMenuItem* HexViewMenu = nullptr;
    TMenuItem* LineNumbersMenu = nullptr;

    TPopupMenu* FileMenu = nullptr;
    TMenuItem* BrowseTextFiles = nullptr;
    TMenuItem* BrowseImageFiles = nullptr;
    TMenuItem* FolderMenu = nullptr;
    TMenuItem* FontMenuB = nullptr;
    TMenuItem* DefaultSettingsItem = nullptr;
    TMenuItem* AboutItem = nullptr;

    TPopupMenu* ImageMenu = nullptr;
    TMenuItem* CopyImage = nullptr;
    TMenuItem* BrowseMenuI = nullptr;
    TMenuItem* FullView = nullptr;
    TMenuItem* TileView = nullptr;
    TMenuItem* FitView = nullptr;
    TMenuItem* ZoomIn = nullptr;
    TMenuItem* ZoomOut = nullptr;
    TMenuItem* ZoomFit = nullptr;
    TMenuItem* ZoomActual = nullptr;
    TMenuItem* RotateRight = nullptr;
    TMenuItem* RotateLeft = nullptr;
    TMenuItem* FlipView = nullptr;
    // "Save Rotation" (Ctrl+S) writes the shown turn into the file; "Save As..." (Ctrl+Shift+S)
    // writes the shown picture as another file.
    TMenuItem* SaveRotation = nullptr;
    TMenuItem* SaveAs = nullptr;
    TMenuItem* NextPicture = nullptr;
    TMenuItem* PreviousPicture = nullptr;
    TMenuItem* FullScreen = nullptr;
    TMenuItem* PauseAnimation = nullptr;
    TMenuItem* NextFrame = nullptr;
    TMenuItem* PreviousFrame = nullptr;
    TMenuItem* NextPage = nullptr;
    TMenuItem* PreviousPage = nullptr;
    TMenuItem* BackgroundColourItem = nullptr;
    // "Picture Properties..." (Alt+Enter in the picture pane): the shown picture's file, format,
    // size, depth and camera metadata; enabled while a picture is shown.
    TMenuItem* PictureProperties = nullptr;

    TPopupMenu* NoPopup = nullptr;

    // "Slideshow" (F5, Image menu): the list's pictures on the whole screen from the shown one,
    // each for the interval the "Slideshow Interval" submenu sets (stored with the settings).
    TSlideshow* Slideshow = nullptr;
    TMenuItem* SlideshowItem = nullptr;
    TMenuItem* SlideshowInterval = nullptr;
    void SlideshowClick();
    // "Open With" in the list's and the picture's menus: the applications registered for the
    // selected or the shown file's type.
    TMenuItem* FileOpenWith = nullptr;
    TMenuItem* ImageOpenWith = nullptr;

    // The file commands at the top of FileMenu, each showing the list's key for it; enabled
    // each time the menu opens (see TFileListView::ActionEnabled).
    TMenuItem* FileOpen = nullptr;
    TMenuItem* FileCut = nullptr;
    TMenuItem* FileCopy = nullptr;
    TMenuItem* FilePaste = nullptr;
    TMenuItem* FileDelete = nullptr;
    TMenuItem* FileDeletePermanently = nullptr;
    TMenuItem* FileNewFolder = nullptr;
    TMenuItem* FileProperties = nullptr;
    // Sets the file commands' enabled states from the list.
    void UpdateFileCommands();
    // The About box's text: the version, the licence line, and the libraries with their
    // versions.
    static QString AboutText();

    // Ctrl+L: a path entry over the folder combo, with completion of the folders and files of
    // the folder typed so far. Enter shows that folder, or opens the file as a click would
    // (OpenPath); Esc or leaving it puts it away. Relative paths start from the list's folder
    // and "~" is the home folder.
    QLineEdit* Location = nullptr;
    void LocationShow();
    void LocationEnter();
    // The completions offered for a text typed in the entry.
    static QStringList LocationCompletions(const QString& typed, const QString& base);

    // "Details" (after "Show Folders"): the list in report style with the Name, Size, Type and
    // Modified columns and their header, instead of the list style. Stored.
    TMenuItem* DetailsMenu = nullptr;
    void DetailsMenuClick();
    // "Thumbnails" (after "Details"): the list as a grid of thumbnails with the names under
    // them; Details and Thumbnails exclude each other. Stored, as is the list's ThumbnailSize.
    TMenuItem* ThumbnailsMenu = nullptr;
    void ThumbnailsMenuClick();
    // Makes the list's thumbnails.
    TThumbnailService* Thumbnails() const { return thumbnails_; }
    // Image menu check: pictures with an embedded colour profile are converted to the screen's
    // colours (stored, on by default).
    TMenuItem* ColorManagement = nullptr;
    void ColorManagementClick();
    // Image menu check (after "Background ..."): transparent parts of pictures are shown over a
    // checkerboard (stored, off by default).
    TMenuItem* Checkerboard = nullptr;
    void CheckerboardClick();

    // Event handlers. Each may throw; the connections run them through the application's
    // standard error box.
    void FormCreate();
    void FormShow() override;
    void FormResize();
    void BrowseDrivesClick();
    void BrowseFilesClick();
    void ReadTextChange();
    void ReadTextMouseDown();
    void CopyMenuClick();
    void BrowseMenuClick();
    void BrowseMenuIClick();
    void TextAutoFocusClick();
    void WrapMenuClick();
    void FindMenuClick();
    void HighlightsMenuClick();
    void HexViewMenuClick();
    void LineNumbersMenuClick();
    // Fills the Encoding submenu; its items override the detected encoding of the shown file.
    void CreateEncodingMenu();
    void MarkEncoding();
    void FontMenuClick();
    void FolderMenuClick();
    void FontMenuBClick();
    void BrowseTextFilesClick();
    void BrowseImageFilesClick();
    void CopyImageClick();
    void FullViewClick();
    void TileViewClick();
    void FitViewClick();
    void ZoomInClick();
    void ZoomOutClick();
    void ZoomFitClick();
    void ZoomActualClick();
    void RotateRightClick();
    void RotateLeftClick();
    void FlipViewClick();
    void SaveRotationClick();
    void SaveAsClick();
    // Save As asks these instead of showing its dialogs when they are set (tests).
    static inline std::function<QString()> SaveAsFileHook;
    static inline std::function<int()> SaveAsQualityHook;
    void NextPictureClick();
    void PreviousPictureClick();
    void FirstPictureClick();
    void LastPictureClick();
    void FullScreenClick();
    void PicturePropertiesClick();
    void PauseAnimationClick();
    void NextFrameClick();
    void PreviousFrameClick();
    void NextPageClick();
    void PreviousPageClick();
    void BackgroundColourClick();
    void DefaultSettingsClick();
    void AboutClick();

    // What the picture pane shows: the presenter decides (see TPicturePresenter).
    TPicturePresenter* Presenter() const { return presenter_; }
    QString LoadProgressText() const { return presenter_->ProgressText(); }
    bool PictureLoading() const { return presenter_->Loading(); }
    TDecodeService* Decoder() const { return presenter_->Decoder(); }
    // The picture pane's status line: size, format and zoom of the shown picture.
    QString StatusText() const { return presenter_->StatusText(); }
    // Ticks Full, Tile or Fit View as what the view shows (none while zoomed, turned or
    // flipped).
    void SyncViewMarks();
    // Whether the picture is shown alone on the whole screen.
    bool InFullScreen() const { return fullScreen_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // Leaves full screen first, so the settings store keeps the window's own colours.
    void FormCloseQuery(bool& canClose) override;

  private:
    void CreateComponents();
    void CreateMenus();
    void CreateFileCommands();
    void CreateDetailsItem();
    // The Thumbnails item and the service that makes the list's thumbnails.
    void CreateThumbnailsItem();
    void CreateColorManagementItem();
    void CreateCheckerboardItem();
    void CreateSlideshowItems();
    void CreateOpenWithItems();
    // Makes the imaging library follow the check; a change decodes the shown picture again.
    void ApplyColorManagement();
    // F1 opens the About box from anywhere in the window; the menu item shows the key.
    void CreateAboutKey();
    void CreateLocationEntry();
    // The list's "N pictures here" line and the presenter's thumbnail look-up
    // (MainWindowPictures.cpp).
    void CreatePictureHelpers();
    // Whether the settings store holds a browse mode (a later run keeps it).
    bool ModeStored() const;
    // The entry's text as an absolute path.
    QString LocationPath(const QString& typed) const;
    // Puts the list in the style the "Details" and "Thumbnails" check marks say.
    void ApplyDetails();
    // Runs a handler when the signal fires, showing any exception in the error box.
    template <class Sender, class Signal>
    void Wire(Sender* sender, Signal signal, void (TMainWindow::*handler)());
    // Hides or shows the browser pane as a "View Browser" item asks; toggles the item.
    void ToggleBrowser(TMenuItem* item);
    // Makes the memo or the file list the active control, as "Text AutoFocus" says.
    void FocusByTextAutoFocus();
    // Checks what the settings store restored and puts back the default of every value that
    // would leave the window unusable (see the definition).
    void CheckRestoredSettings();
    // Puts the list's mask from the mode's check mark.
    void ApplyModeMask();
    // Makes the memo and the image panel fill the right pane.
    void AlignRightPane();
    void SwitchToImageMode();
    void SwitchToTextMode();
    // Empties the picture view.
    void ClearPicture();
    // Has the presenter show a picture file, with the list's pictures next to the selected
    // row as its neighbours. A picture that cannot be read is reported in the picture pane while
    // browsing, and in the error box when it was opened explicitly (the previous picture then
    // stays).
    void LoadPicture(const QByteArray& fileName);
    // Moves the list's selection to the picture row next to the selected one in the direction
    // (+1, -1), or to the first (direction 0 from the top) or last picture row, and shows it.
    void MoveToPicture(int from, int direction);
    // Puts the shown file's name in the title and refreshes the status line.
    void ShowFileName(const QString& path);
    // Another program renamed the file shown: the title and the views follow the new name.
    void ShownFileRenamed(const QString& oldPath, const QString& newPath);
    void UpdateStatus();
    // Enables the animation and page items for the shown file.
    void UpdateFrameItems();
    void LeaveFullScreen();
    // The view's turn and mirror as an orientation value (1 when it shows the file as stored).
    int ShownTurn() const;
    // Shows the file again after its turn was saved into it, unturned.
    void ShowSavedPicture(const QByteArray& path);

    TPicturePresenter* presenter_ = nullptr;
    TThumbnailService* thumbnails_ = nullptr;
    bool openingExplicitly_ = false;  // while OpenPath shows a file
    QLabel* status_ = nullptr;
    QString shownFile_;
    TFileStamp shownStamp_;  // the shown picture's file as it was when shown
    QByteArray shownStampPath_;
    bool fullScreen_ = false;
    TColor colorBeforeFullScreen_ = 0;
    bool browserBeforeFullScreen_ = true;
    bool zoomBeforeFullScreen_ = false;
    QList<QAction*> fullScreenKeys_;  // Right, Left and Esc, active only in full screen
};

// Runs a handler when the signal fires, showing any exception in the error box.
template <class Sender, class Signal>
void TMainWindow::Wire(Sender* sender, Signal signal, void (TMainWindow::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { Application::HandleEvent([this, handler] { (this->*handler)(); }); });
}
