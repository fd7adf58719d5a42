#include "app/MainWindow.h"

#include <sys/stat.h>

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QShortcut>
#include <QStringListModel>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <utility>

#include "browse/FileClipboard.h"
#include "display/ClipboardPicture.h"
#include "display/DisplayProfile.h"
#include "display/PictureInfoDialog.h"
#include "imaging/ColorProfile.h"
#include "imaging/Libraries.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"
#include "render/BitmapToImage.h"
#include "toolkit/Application.h"

namespace {

// The program icon (resources/desktop/velkaro.svg, rendered to the theme's sizes): a page
// with a picture laid over it.
QIcon WindowIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1/velkaro.png").arg(size), QSize(size, size));
    return icon;
}

// The combo's 16 x 16 button picture: a small arrow pointing down.
QPixmap ComboGlyph() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    p.drawPolygon(QPolygon({QPoint(4, 6), QPoint(12, 6), QPoint(8, 10)}));
    return pixmap;
}

}  // namespace

QStringList TMainWindow::StoredProps() {
    return {"ReadText.Visible",        "PanelImage.Visible",      "BrowseFiles.Directory",
            "PanelLeft.Width",         "ReadText.Font",           "BrowseDrives.Font",
            "BrowseFiles.Font",        "FontText.Font",           "FontBrowse.Font",
            "WrapMenu.Checked",        "FolderMenu.Checked",      "TextAutoFocus.Checked",
            "BrowseFiles.ShowFolders", "BrowseTextFiles.Checked", "BrowseImageFiles.Checked",
            "ViewImage.Align",         "ViewImage.AutoSize",      "ViewImage.Stretch",
            "ViewImage.Tiled",         "FullView.Checked",        "TileView.Checked",
            "FitView.Checked",         "PanelImage.Color",        "ImageBk.Color",
            "DetailsMenu.Checked",     "LineNumbersMenu.Checked", "ColorManagement.Checked",
            "Checkerboard.Checked",    "ThumbnailsMenu.Checked",  "BrowseFiles.ThumbnailSize",
            "Slideshow.Interval",      "ReadText.FilterHeight",   "ReadText.Highlights"};
}

QString TMainWindow::ImageFilesMask() {
    QString mask = QString::fromLatin1(ImageMask);
    const TFileFormatList* formats = FileFormatList();
    if (formats == nullptr) return mask;
    QSet<QString> listed;
    for (const QString& piece : mask.split(u';', Qt::SkipEmptyParts))
        listed.insert(piece.mid(2).toLower());  // after "*."
    for (int i = 0; i < formats->ExtensionCount(); ++i) {
        const QString extension =
            QString::fromStdString(formats->ExtensionRecord(i).Extension).toLower();
        if (extension.isEmpty() || listed.contains(extension)) continue;
        listed.insert(extension);
        mask += QStringLiteral(";*.") + extension;
    }
    return mask;
}

namespace {

// The About picture: a baseline JPEG kept in the program's resources (resources/about.jpg,
// drawn by resources/make_about_picture.py), held undecoded until the box is shown.
void LoadAboutPicture(TPicture& picture) {
    QFile file(QStringLiteral(":/about.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.readAll();
    TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->LoadFromStream(stream);
    picture.AdoptGraphic(std::move(jpeg));
}

}  // namespace

TMainWindow::TMainWindow(QWidget* parent) : TForm(QStringLiteral("Form1"), parent) {
    // The resources live in a static library; registering them here keeps the linker from
    // dropping them.
    Q_INIT_RESOURCE(resources);
    SetCaption(QStringLiteral("Velkaro"));
    SetOuterBounds(QRect(20, 20, 600, 400));
    SetColor(clBtnFace);
    SetFont(TFont());
    setWindowIcon(WindowIcon());
    CreateComponents();
    CreateMenus();
    TForm::SetPopupMenu(ImageMenu);
    // Every component exists: the settings store resolves its property list and hooks the
    // window's show, close and destroy handling before the window's own creation handler runs.
    Storage->Loaded();
    FormCreate();
}

TMainWindow::~TMainWindow() {
    RunDestroyHandlers();
}

void TMainWindow::CreateComponents() {
    PanelTop = new TPanel(QStringLiteral("PanelTop"), this);
    PanelTop->SetHeight(2);
    PanelTop->SetAlign(alTop);

    PanelLeft = new TPanel(QStringLiteral("PanelLeft"), this);
    PanelLeft->SetWidth(240);
    PanelLeft->SetAlign(alLeft);
    PanelLeft->SetFont(Font());

    SplitterV = new TSplitter(QStringLiteral("SplitterV"), this);
    SplitterV->SetWidth(2);
    SplitterV->SetMinSize(30);
    SplitterV->setCursor(Qt::SplitHCursor);
    SplitterV->SetAlign(alLeft);

    BrowseDrives = new TFolderCombo(QStringLiteral("BrowseDrives"), PanelLeft);
    BrowseDrives->SetHeight(21);
    BrowseDrives->SetAlign(alTop);
    BrowseDrives->setReadOnly(true);
    BrowseDrives->setFocusPolicy(Qt::ClickFocus);  // not reached by Tab
    BrowseDrives->setCursor(Qt::ArrowCursor);
    BrowseDrives->setToolTip(QString());
    BrowseDrives->SetFont(Font());
    BrowseDrives->SetSelectedPath(QStringLiteral("Drives"));
    BrowseDrives->SetTreeHeight(240);
    BrowseDrives->SetLanguage(lnEnglish);
    BrowseDrives->SetGlyph(ComboGlyph());

    PanelDiv = new TPanel(QStringLiteral("PanelDiv"), PanelLeft);
    PanelDiv->SetHeight(2);
    PanelDiv->SetAlign(alTop);

    BrowseFiles = new TFileListView(PanelLeft);
    BrowseFiles->setObjectName(QStringLiteral("BrowseFiles"));
    BrowseFiles->SetViewStyle(TFileListView::vsList);
    BrowseFiles->SetShowColumnHeaders(false);
    BrowseFiles->SetMultiSelect(false);
    BrowseFiles->SetReadOnly(true);
    BrowseFiles->SetTabStop(true);
    BrowseFiles->SetColor(clWindow);
    BrowseFiles->SetFont(TFont());
    BrowseFiles->SetMask(QStringLiteral("*.*"));
    BrowseFiles->SetFileType(
        TFileListView::TFileType(TFileListView::ftReadOnly | TFileListView::ftHidden |
                                 TFileListView::ftSystem | TFileListView::ftArchive));
    BrowseFiles->SetParentDirCaption(QStringLiteral(" Parent"));
    BrowseFiles->SetPopUpMenuEnabled(false);
    BrowseFiles->SetTimeFormat(TFileListView::tfShortFormat);
    BrowseFiles->SetColWidth_Name(150);
    BrowseFiles->SetColWidth_Size(0);
    BrowseFiles->SetColWidth_Type(0);
    BrowseFiles->SetColWidth_Mod(0);
    BrowseFiles->SetColWidth_Attr(0);
    BrowseFiles->SetHotTrack(false);
    BrowseFiles->SetAlign(alClient);
    // Linking points the list at the combo's folder ("Drives") and the list back at the combo.
    BrowseDrives->SetFileList(BrowseFiles);

    PanelImage = new TPanel(QStringLiteral("PanelImage"), this);
    PanelImage->setFrameShape(QFrame::NoFrame);
    PanelImage->SetVisible(false);

    ScrollImage = new TScrollBox(QStringLiteral("ScrollImage"), PanelImage);
    ScrollImage->SetAlign(alClient);

    ViewImage = new TPictureView(QStringLiteral("ViewImage"), ScrollImage->Contents());
    ViewImage->move(0, 0);
    ViewImage->SetAutoSize(true);
    ViewImage->SetAlign(alNone);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    ViewImage->SetCenter(false);
    ViewImage->SetTransparent(false);
    ViewImage->SetDevicePixels(true);

    // Pictures are converted into the screen's colours when the desktop publishes its profile.
    SetDisplayProfile(ReadDisplayProfile());
    presenter_ = new TPicturePresenter(ViewImage, ScrollImage, PanelImage, this);
    connect(presenter_, &TPicturePresenter::Shown, this, [this](const QByteArray& path) {
        CopyImage->SetEnabled(true);
        PictureProperties->SetEnabled(true);
        ReadText->Clear();
        ShowFileName(QFile::decodeName(path));
        // Save Rotation refuses a file that another program changed after this.
        if (path != shownStampPath_) shownStamp_ = FileStamp(path.toStdString());
        shownStampPath_ = path;
    });
    connect(presenter_, &TPicturePresenter::Failed, this, [this](const QByteArray& path) {
        CopyImage->SetEnabled(false);
        PictureProperties->SetEnabled(false);
        ShowFileName(QString::fromUtf8(path));
    });
    connect(presenter_, &TPicturePresenter::StatusChanged, this, &TMainWindow::UpdateStatus);
    connect(presenter_, &TPicturePresenter::FramesChanged, this, [this] {
        UpdateFrameItems();
        UpdateStatus();
    });

    // The picture pane's status line: size, format and zoom.
    status_ = new QLabel(PanelImage);
    status_->setObjectName(QStringLiteral("StatusImage"));
    status_->setContentsMargins(4, 1, 4, 1);
    TAlignLayout::SetAlign(status_, alBottom);
    connect(ViewImage, &TPictureView::OnViewChange, this, &TMainWindow::UpdateStatus);
    connect(ViewImage, &TPictureView::OnViewChange, this, &TMainWindow::SyncViewMarks);
    connect(ViewImage, &TPictureView::OnPictureChange, this, &TMainWindow::UpdateStatus);

    ReadText = new TMemo(QStringLiteral("ReadText"), this);
    ReadText->SetReadOnly(true);
    ReadText->SetWordWrap(true);
    ReadText->SetScrollBars(ssNone);
    ReadText->SetColor(clWindow);

    FontText = new TFontDialog(QStringLiteral("FontText"), this);
    FontText->SetFont(Font());
    FontBrowse = new TFontDialog(QStringLiteral("FontBrowse"), this);
    FontBrowse->SetFont(Font());
    ImageBk = new TColorDialog(QStringLiteral("ImageBk"), this);
    AboutImage = new TPictureDialog(QStringLiteral("AboutImage"), this);
    AboutImage->SetBorderStyle(bsSingle);
    AboutImage->SetCaption(QStringLiteral("About ..."));
    AboutImage->SetText(AboutText());
    LoadAboutPicture(*AboutImage->Picture());
    // "Clipboard as Contents" of pictures reads them with the program's own decoders.
    SetPictureLoader(&TPicturePresenter::DecodeFile);
    Storage = new TFormStorage(QStringLiteral("FormStorage1"), this);
    Storage->SetIniFileName(QStringLiteral("Velkaro.ini"));
    Storage->SetIniSection(QStringLiteral("User"));
    Storage->SetStoredProps(StoredProps());
    Wire(Storage, &TFormPlacement::OnRestorePlacement, &TMainWindow::CheckRestoredSettings);

    Wire(BrowseDrives, &TFolderCombo::OnClick, &TMainWindow::BrowseDrivesClick);
    Wire(BrowseFiles, &TFileListView::OnClick, &TMainWindow::BrowseFilesClick);
    connect(BrowseFiles, &TFileListView::OnItemRenamed, this,
            [this](QObject*, const QString& oldPath, const QString& newPath) {
                ShownFileRenamed(oldPath, newPath);
            });
    Wire(ReadText, &TMemo::OnChange, &TMainWindow::ReadTextChange);
    Wire(ReadText, &TMemo::OnMouseDown, &TMainWindow::ReadTextMouseDown);
}

QString TMainWindow::AboutText() {
    QString libraries = QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion()));
    for (const auto& [name, version] : ImagingLibraryVersions())
        libraries += QStringLiteral(", %1 %2").arg(QString::fromStdString(name),
                                                   QString::fromStdString(version));
    return QStringLiteral(
               "<p><b>Velkaro %1</b><br>A reader for text files and pictures.</p>"
               "<p>%2</p><p>Uses %3.</p>")
        .arg(QStringLiteral(VELKARO_VERSION), QStringLiteral(VELKARO_LICENSE),
             libraries.toHtmlEscaped());
}

void TMainWindow::CreateAboutKey() {
    AboutItem->setText(AboutItem->Caption() + QStringLiteral("\tF1"));
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), this);
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, this,
            [this] { Application::HandleEvent([this] { AboutClick(); }); });
}

namespace {

// The location entry: Esc and leaving it (not for its completion list) put it away.
class TLocationEdit : public QLineEdit {
  public:
    TLocationEdit(QWidget* parent, std::function<void()> done)
        : QLineEdit(parent), done_(std::move(done)) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            done_();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (event->reason() != Qt::PopupFocusReason && isVisible()) done_();
    }

  private:
    std::function<void()> done_;
};

QString ExpandHome(const QString& typed) {
    if (typed == u"~") return QDir::homePath();
    if (typed.startsWith(QLatin1String("~/"))) return QDir::homePath() + typed.mid(1);
    return typed;
}

}  // namespace

void TMainWindow::CreateLocationEntry() {
    auto* edit = new TLocationEdit(PanelLeft, [this] {
        Location->hide();
        SetActiveControl(BrowseFiles);
    });
    Location = edit;
    Location->setObjectName(QStringLiteral("Location"));
    Location->setPlaceholderText(QStringLiteral("Folder or file"));
    Location->hide();
    auto* completions = new QStringListModel(Location);
    auto* completer = new QCompleter(completions, Location);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    Location->setCompleter(completer);
    connect(Location, &QLineEdit::textEdited, this, [this, completions](const QString& text) {
        completions->setStringList(LocationCompletions(text, BrowseFiles->Directory()));
    });
    connect(Location, &QLineEdit::returnPressed, this,
            [this] { Application::HandleEvent([this] { LocationEnter(); }); });
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, this, &TMainWindow::LocationShow);
}

QString TMainWindow::LocationPath(const QString& typed) const {
    const QString path = ExpandHome(typed.trimmed());
    if (path.isEmpty() || QDir::isAbsolutePath(path)) return path;
    const QString base =
        BrowseFiles->Directory().compare(QLatin1String(TFileListView::DrivesDirectory),
                                         Qt::CaseInsensitive) == 0
            ? QDir::homePath()
            : BrowseFiles->Directory();
    return QDir(base).absoluteFilePath(path);
}

QStringList TMainWindow::LocationCompletions(const QString& typed, const QString& base) {
    QString path = ExpandHome(typed);
    if (!QDir::isAbsolutePath(path)) path = QDir(base).absoluteFilePath(path);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = path.left(slash + 1);
    const QString start = path.mid(slash + 1);
    // What was typed stays as typed; only the last name is completed.
    const QString shown = typed.left(typed.lastIndexOf(u'/') + 1);
    QStringList result;
    const QFileInfoList entries =
        QDir(folder.isEmpty() ? QStringLiteral("/") : folder)
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                           QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& entry : entries) {
        if (!entry.fileName().startsWith(start)) continue;
        // Hidden entries only when a "." was typed.
        if (entry.fileName().startsWith(u'.') && !start.startsWith(u'.')) continue;
        result << shown + entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString());
        if (result.size() >= 500) break;
    }
    return result;
}

void TMainWindow::LocationShow() {
    // The entry sits in the browser pane: a hidden pane is shown as "View Browser" would.
    TMenuItem* paneItem = !BrowseMenu->Checked() ? BrowseMenu : BrowseMenuI;
    if (!PanelLeft->isVisible() && !paneItem->Checked()) ToggleBrowser(paneItem);
    const QString folder = BrowseFiles->Directory();
    Location->setText(
        folder.compare(QLatin1String(TFileListView::DrivesDirectory), Qt::CaseInsensitive) == 0
            ? QStringLiteral("/")
            : folder);
    Location->setGeometry(BrowseDrives->geometry());
    Location->raise();
    Location->show();
    Location->setFocus(Qt::ShortcutFocusReason);
    Location->selectAll();
}

void TMainWindow::LocationEnter() {
    const QString path = LocationPath(Location->text());
    if (path.isEmpty()) return;
    // A path that does not exist leaves the entry open to be corrected (OpenPath says why).
    OpenPath(path);
    Location->hide();
    if (QFileInfo(path).isDir()) SetActiveControl(BrowseFiles);
}

void TMainWindow::CreateDetailsItem() {
    DetailsMenu = FileMenu->Insert(static_cast<int>(FileMenu->Items().indexOf(FolderMenu)) + 1,
                                   QStringLiteral("DetailsMenu"), QStringLiteral("Details"));
    Wire(DetailsMenu, &TMenuItem::OnClick, &TMainWindow::DetailsMenuClick);
}

void TMainWindow::DetailsMenuClick() {
    DetailsMenu->SetChecked(!DetailsMenu->Checked());
    if (DetailsMenu->Checked()) ThumbnailsMenu->SetChecked(false);
    ApplyDetails();
}

void TMainWindow::ApplyDetails() {
    // A settings file may check both: Details then.
    if (DetailsMenu->Checked()) ThumbnailsMenu->SetChecked(false);
    const bool details = DetailsMenu->Checked();
    BrowseFiles->SetColWidth_Name(details ? 200 : 150);
    BrowseFiles->SetColWidth_Size(details ? 75 : 0);
    BrowseFiles->SetColWidth_Type(details ? 130 : 0);
    BrowseFiles->SetColWidth_Mod(details ? 125 : 0);
    BrowseFiles->SetColWidth_Attr(0);
    BrowseFiles->ResetColumnWidths();
    BrowseFiles->SetShowColumnHeaders(details);
    BrowseFiles->SetViewStyle(details                     ? TFileListView::vsReport
                              : ThumbnailsMenu->Checked() ? TFileListView::vsThumbnails
                                                          : TFileListView::vsList);
}

// --- Creation and showing ----------------------------------------------------------------------

void TMainWindow::AlignRightPane() {
    ReadText->SetAlign(alClient);
    PanelImage->SetAlign(alClient);
    TAlignLayout::Realign(this);
}

void TMainWindow::ApplyModeMask() {
    BrowseFiles->SetMask(BrowseTextFiles->Checked() ? QString::fromLatin1(TextMask)
                                                    : ImageFilesMask());
    BrowseFiles->SetSniffText(BrowseTextFiles->Checked());
}

void TMainWindow::FocusByTextAutoFocus() {
    SetActiveControl(TextAutoFocus->Checked() ? static_cast<QWidget*>(ReadText)
                                              : static_cast<QWidget*>(BrowseFiles));
}

void TMainWindow::CreateColorManagementItem() {
    ColorManagement =
        ImageMenu->Insert(static_cast<int>(ImageMenu->Items().indexOf(BackgroundColourItem) - 1),
                          QStringLiteral("ColorManagement"), QStringLiteral("Colour Management"));
    ColorManagement->SetChecked(true);
    Wire(ColorManagement, &TMenuItem::OnClick, &TMainWindow::ColorManagementClick);
}

void TMainWindow::CreateCheckerboardItem() {
    Checkerboard = ImageMenu->Insert(
        static_cast<int>(ImageMenu->Items().indexOf(BackgroundColourItem) + 1),
        QStringLiteral("Checkerboard"), QStringLiteral("Transparency Checkerboard"));
    Wire(Checkerboard, &TMenuItem::OnClick, &TMainWindow::CheckerboardClick);
}

void TMainWindow::CheckerboardClick() {
    Checkerboard->SetChecked(!Checkerboard->Checked());
    ViewImage->SetCheckerboard(Checkerboard->Checked());
}

void TMainWindow::ColorManagementClick() {
    ColorManagement->SetChecked(!ColorManagement->Checked());
    ApplyColorManagement();
}

void TMainWindow::ApplyColorManagement() {
    const bool on = ColorManagement->Checked();
    if (on == ColorManagementEnabled()) return;
    SetColorManagementEnabled(on);
    // Decoded pictures hold the old colours: the shown one is decoded again, the cached and
    // preloaded ones are forgotten.
    presenter_->DropCache();
    const QByteArray shown = presenter_->ShownPath();
    if (shown.isEmpty() || !BrowseImageFiles->Checked()) return;
    ClearPicture();
    LoadPicture(shown);
}

void TMainWindow::FormCreate() {
    AlignRightPane();
    BrowseFiles->SetDirectory(QDir::currentPath());
    BrowseFiles->RebuildList();
    BrowseDrives->GoToFolder(BrowseFiles->Directory());
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
    ApplyModeMask();
    FocusByTextAutoFocus();
    BrowseFiles->SetShowFolders(FolderMenu->Checked());
    ImageBk->SetColor(PanelImage->Color());
}

namespace {

// The font with every sub-value that cannot paint put back to the default's.
TFont SaneFont(TFont font, const TFont& defaults) {
    const int points = std::abs(font.Size());
    if (font.Height() == 0 || points < TMainWindow::MinFontSize ||
        points > TMainWindow::MaxFontSize)
        font.SetHeight(defaults.Height());
    if (font.Name().trimmed().isEmpty()) font.SetName(defaults.Name());
    if (!IsValidColor(font.Color())) font.SetColor(defaults.Color());
    if (font.Charset() < 0 || font.Charset() > 255) font.SetCharset(defaults.Charset());
    return font;
}

}  // namespace

void TMainWindow::CheckRestoredSettings() {
    // A settings file may hold anything; each value that would leave the window unusable goes
    // back to its default, the others stay as stored.
    // Fonts: a size from MinFontSize to MaxFontSize points, a name, a colour.
    const TFont defaults;
    ReadText->SetFont(SaneFont(ReadText->Font(), defaults));
    BrowseDrives->SetFont(SaneFont(BrowseDrives->Font(), defaults));
    BrowseFiles->SetFont(SaneFont(BrowseFiles->Font(), defaults));
    FontText->SetFont(SaneFont(FontText->Font(), defaults));
    FontBrowse->SetFont(SaneFont(FontBrowse->Font(), defaults));
    // Colours.
    if (!IsValidColor(PanelImage->Color())) PanelImage->SetColor(clBtnFace);
    if (!IsValidColor(ImageBk->Color())) ImageBk->SetColor(clBtnFace);
    // The browser pane inside the window, as the splitter could have made it: at least the
    // splitter's minimum pane size, leaving the splitter and the right pane their room. (The
    // panel cannot hold a negative width; a stored one arrives here as 0.)
    const int widest = std::max(0, width() - SplitterV->Width() - SplitterV->MinSize());
    if (PanelLeft->Width() < SplitterV->MinSize() || PanelLeft->Width() > widest)
        PanelLeft->SetWidth(std::min(240, widest));
    // Exactly one mode, and the right pane shows what the mode shows: never both panels, never
    // neither. The browser pane is not stored and always starts visible.
    if (BrowseTextFiles->Checked() == BrowseImageFiles->Checked()) {
        BrowseTextFiles->SetChecked(true);
        BrowseImageFiles->SetChecked(false);
    }
    const bool textMode = BrowseTextFiles->Checked();
    ReadText->SetVisible(textMode);
    PanelImage->SetVisible(!textMode);
    PanelLeft->SetVisible(true);
    SplitterV->SetVisible(true);
    // Exactly one picture view, in one of the alignments the views use.
    if (int(FullView->Checked()) + int(TileView->Checked()) + int(FitView->Checked()) != 1)
        FullViewClick();
    if (FitView->Checked()) {
        ViewImage->SetStretch(false);
        ViewImage->SetTiled(false);
        ViewImage->ZoomToFit();
    } else if (ViewImage->Align() != alNone && ViewImage->Align() != alClient) {
        ViewImage->SetAlign(TileView->Checked() ? alClient : alNone);
    } else if (FullView->Checked() && ViewImage->Align() == alClient && !ViewImage->Stretch()) {
        // Zoomed in the full view when the window closed: the full view scrolls again.
        ViewImage->SetAlign(alNone);
    }
    ViewImage->SetCheckerboard(Checkerboard->Checked());
    ApplyColorManagement();
}

void TMainWindow::FormShow() {
    BrowseDrives->GoToFolder(BrowseFiles->Directory());
    AlignRightPane();
    ApplyModeMask();
    ApplyDetails();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    Application::HandleEvent([this] { FormResize(); });
}

// The drop-down tree is as tall as the file list.
void TMainWindow::FormResize() {
    if (BrowseDrives == nullptr || BrowseFiles == nullptr) return;  // still being created
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
}

void TMainWindow::BrowseDrivesClick() {
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
}

// --- File list -----------------------------------------------------------------------------------

void TMainWindow::BrowseFilesClick() {
    const QString item = BrowseFiles->SelectedItem();
    // The file is reached by the bytes its name has on disk, which a name that is not valid in
    // the locale's encoding does not keep in its text.
    const QByteArray native = BrowseFiles->SelectedItemNative();
    struct stat st {};
    const bool isFile =
        !item.isEmpty() && ::stat(native.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
    // No item: the file shown was deleted.
    if (item.isEmpty()) {
        ReadText->Clear();
        ClearPicture();
        ShowFileName(QString());
        CopyImage->SetEnabled(false);
        PictureProperties->SetEnabled(false);
        return;
    }
    if (BrowseTextFiles->Checked() && isFile) {
        ReadText->LoadFromNativeFile(native, item);
        ReadText->SetScrollBars(WrapMenu->Checked() ? ssVertical : ssBoth);
        ReadText->SetLineNumbers(LineNumbersMenu->Checked());
        MarkEncoding();
        ReadText->update();
        ClearPicture();
        ShowFileName(item);
        FocusByTextAutoFocus();
    }
    if (BrowseImageFiles->Checked() && isFile) {
        ScrollImage->SetAutoScroll(true);
        ScrollImage->SetHorzPosition(0);
        ScrollImage->SetVertPosition(0);
        LoadPicture(native);
    }
}

// --- Picture loading -----------------------------------------------------------------------------

namespace {

// The first selected row of the list, or -1.
int SelectedRow(const TFileListView& list) {
    for (int row = 0; row < list.ItemCount(); ++row)
        if (list.ItemSelected(row)) return row;
    return -1;
}

}  // namespace

void TMainWindow::ClearPicture() {
    presenter_->Clear();
    PictureProperties->SetEnabled(false);
}

void TMainWindow::LoadPicture(const QByteArray& fileName) {
    const int selected = SelectedRow(*BrowseFiles);
    presenter_->SetNeighbours(selected < 0 ? QList<QByteArray>()
                                           : BrowseFiles->NeighbourPictures(selected));
    presenter_->Show(fileName, openingExplicitly_);
}

// --- Text menu -----------------------------------------------------------------------------------

void TMainWindow::ReadTextChange() {
    CopyMenu->SetEnabled(ReadText->SelLength() > 0);
}

void TMainWindow::ReadTextMouseDown() {
    CopyMenu->SetEnabled(ReadText->SelLength() > 0);
}

void TMainWindow::CopyMenuClick() {
    ReadText->CopyToClipboard();
}

void TMainWindow::ToggleBrowser(TMenuItem* item) {
    if (item->Checked()) {
        SplitterV->SetAlign(alNone);
        SplitterV->SetVisible(false);
        PanelLeft->SetVisible(false);
        item->SetChecked(false);
    } else {
        PanelLeft->SetAlign(alLeft);
        PanelLeft->SetVisible(true);
        SplitterV->SetVisible(true);
        SplitterV->SetAlign(alLeft);
        item->SetChecked(true);
    }
}

void TMainWindow::BrowseMenuClick() {
    ToggleBrowser(BrowseMenu);
}

void TMainWindow::BrowseMenuIClick() {
    ToggleBrowser(BrowseMenuI);
}

void TMainWindow::TextAutoFocusClick() {
    if (TextAutoFocus->Checked()) {
        SetActiveControl(BrowseFiles);
        TextAutoFocus->SetChecked(false);
    } else {
        SetActiveControl(ReadText);
        TextAutoFocus->SetChecked(true);
    }
}

void TMainWindow::WrapMenuClick() {
    const bool wrap = !WrapMenu->Checked();
    ReadText->SetWordWrap(wrap);
    ReadText->SetScrollBars(wrap ? ssVertical : ssBoth);
    WrapMenu->SetChecked(wrap);
    ReadText->SetAlign(alClient);
    TAlignLayout::Realign(this);
    ReadText->update();
}

void TMainWindow::FindMenuClick() {
    if (!ReadText->Visible()) return;
    ReadText->ShowFindBar();
}

void TMainWindow::HighlightsMenuClick() {
    ReadText->EditHighlights();
}

void TMainWindow::HexViewMenuClick() {
    HexViewMenu->SetChecked(!HexViewMenu->Checked());
    ReadText->SetHexForced(HexViewMenu->Checked());
}

void TMainWindow::LineNumbersMenuClick() {
    LineNumbersMenu->SetChecked(!LineNumbersMenu->Checked());
    ReadText->SetLineNumbers(LineNumbersMenu->Checked());
}

void TMainWindow::FontMenuClick() {
    if (FontText->Execute(this)) ReadText->SetFont(FontText->Font());
    SetActiveControl(ReadText);
}

// --- File menu -----------------------------------------------------------------------------------

void TMainWindow::FolderMenuClick() {
    const bool show = !FolderMenu->Checked();
    BrowseFiles->SetShowFolders(show);
    FolderMenu->SetChecked(show);
    BrowseFiles->update();
}

void TMainWindow::FontMenuBClick() {
    if (FontBrowse->Execute(this)) BrowseDrives->SetFont(FontBrowse->Font());
    // The combo's font may have changed the list's height; the tree follows either way.
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
    BrowseFiles->SetFont(FontBrowse->Font());
}

void TMainWindow::SwitchToImageMode() {
    ShowFileName(QString());
    ReadText->SetVisible(false);
    ReadText->Clear();
    BrowseTextFiles->SetChecked(false);
    PanelImage->SetVisible(true);
    BrowseImageFiles->SetChecked(true);
    BrowseFiles->SetSniffText(false);
    BrowseFiles->SetMask(ImageFilesMask());
    CopyImage->SetEnabled(false);
    PictureProperties->SetEnabled(false);
}

void TMainWindow::SwitchToTextMode() {
    LeaveFullScreen();
    ShowFileName(QString());
    ReadText->SetVisible(true);
    BrowseTextFiles->SetChecked(true);
    PanelImage->SetVisible(false);
    ClearPicture();
    BrowseImageFiles->SetChecked(false);
    ScrollImage->SetAutoScroll(false);
    BrowseFiles->SetSniffText(true);
    BrowseFiles->SetMask(QString::fromLatin1(TextMask));
}

// Each mode item flips the mode: the checked one switches to the other mode, the unchecked one
// to its own.
void TMainWindow::OpenPath(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw std::runtime_error(
            QStringLiteral("Cannot open \"%1\". It does not exist").arg(path).toStdString());
    if (info.isDir()) {
        const QString folder = info.absoluteFilePath() + QLatin1Char('/');
        // Until a mode is stored, a folder of pictures without text files opens in image mode.
        if (BrowseTextFiles->Checked() && !ModeStored() && CountTextFiles(folder) == 0 &&
            CountPictures(folder) > 0)
            SwitchToImageMode();
        BrowseDrives->GoToFolder(folder);
        return;
    }
    const std::string extension = info.suffix().toStdString();
    const TFileFormatList* formats = FileFormatList();
    // A name without a picture extension is a picture when its content is one.
    const bool picture =
        (!extension.empty() && formats != nullptr && formats->FindExtension(extension) >= 0) ||
        TPicture::RecognisedClass(info.absoluteFilePath().toStdString()) != nullptr;
    if (picture && !BrowseImageFiles->Checked()) SwitchToImageMode();
    if (!picture && !BrowseTextFiles->Checked()) SwitchToTextMode();
    BrowseDrives->GoToFolder(info.absolutePath() + QLatin1Char('/'));
    const QString file = info.absoluteFilePath();
    // An explicit open: a picture that cannot be read is reported in the error box.
    openingExplicitly_ = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{openingExplicitly_};
    for (int row = 0; row < BrowseFiles->ItemCount(); ++row) {
        if (BrowseFiles->ItemSubItem(row, 4) == file) {
            BrowseFiles->SetItemSelected(row, true);
            BrowseFiles->SetItemFocused(row);
            BrowseFiles->Click();
            return;
        }
    }
    // A file the mode's masks do not list is shown all the same.
    BrowseFiles->SetSelectedItem(file);
    BrowseFilesClick();
}

void TMainWindow::BrowseTextFilesClick() {
    if (BrowseTextFiles->Checked())
        SwitchToImageMode();
    else
        SwitchToTextMode();
}

void TMainWindow::BrowseImageFilesClick() {
    if (BrowseImageFiles->Checked())
        SwitchToTextMode();
    else
        SwitchToImageMode();
}

void TMainWindow::DefaultSettingsClick() {
    // 1. Window size and state; the position stays.
    setWindowState(windowState() &
                   ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    SetWidth(600);
    SetHeight(400);
    // A window restored off the desktop comes back where it can be reached.
    KeepOnDesktop();
    // 2. The browser pane and its splitter.
    PanelLeft->SetWidth(240);
    PanelLeft->SetAlign(alLeft);
    PanelLeft->SetVisible(true);
    SplitterV->SetVisible(true);
    SplitterV->SetAlign(alLeft);
    // 3., 4. Focus and the text menu's marks.
    SetActiveControl(BrowseFiles);
    TextAutoFocus->SetChecked(false);
    BrowseMenu->SetChecked(true);
    // 5. Word wrap; no line numbers, no forced hex view.
    ReadText->SetWordWrap(true);
    ReadText->SetScrollBars(ssVertical);
    WrapMenu->SetChecked(true);
    LineNumbersMenu->SetChecked(false);
    ReadText->SetLineNumbers(false);
    HexViewMenu->SetChecked(false);
    ReadText->SetHexForced(false);
    // 6. Fonts: the browser pane's, which is the window's.
    const TFont font = PanelLeft->Font();
    BrowseDrives->SetFont(font);
    BrowseFiles->SetFont(font);
    ReadText->SetFont(font);
    FontBrowse->SetFont(font);
    FontText->SetFont(font);
    // 7. The drop-down tree as tall as the list.
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
    // 8. Folders in the list.
    BrowseFiles->SetShowFolders(true);
    FolderMenu->SetChecked(true);
    // 9. Full view.
    LeaveFullScreen();
    FullViewClick();
    BrowseMenuI->SetChecked(true);
    // 10. Picture background.
    PanelImage->SetColor(clBtnFace);
    ImageBk->SetColor(PanelImage->Color());
    // The list style.
    DetailsMenu->SetChecked(false);
    ThumbnailsMenu->SetChecked(false);
    BrowseFiles->SetThumbnailSize(TFileListView::DefaultThumbnailSize);
    ApplyDetails();
    // Pictures in the screen's colours.
    ColorManagement->SetChecked(true);
    ApplyColorManagement();
    // Transparent parts over the background colour.
    Checkerboard->SetChecked(false);
    ViewImage->SetCheckerboard(false);
    Slideshow->SetInterval(TSlideshow::DefaultInterval);
}

void TMainWindow::AboutClick() {
    AboutImage->ShowPicture();
}

// --- Image menu ----------------------------------------------------------------------------------

void TMainWindow::CopyImageClick() {
    presenter_->Copy();
}

void TMainWindow::FullViewClick() {
    ViewImage->SetZoomMode(false);
    FitView->SetChecked(false);
    ViewImage->SetAlign(alNone);
    ViewImage->SetAutoSize(true);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    FullView->SetChecked(true);
    TileView->SetChecked(false);
}

void TMainWindow::TileViewClick() {
    ViewImage->SetZoomMode(false);
    FitView->SetChecked(false);
    ViewImage->SetAlign(alClient);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(true);
    FullView->SetChecked(false);
    TileView->SetChecked(true);
}

void TMainWindow::BackgroundColourClick() {
    if (!ImageBk->Execute(this)) return;
    PanelImage->SetColor(ImageBk->Color());
    // Chosen in full screen: the colour the window comes back with.
    if (fullScreen_) colorBeforeFullScreen_ = ImageBk->Color();
}

void TMainWindow::FormCloseQuery(bool& canClose) {
    (void)canClose;
    LeaveFullScreen();
}

void TMainWindow::FitViewClick() {
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    ViewImage->ZoomToFit();
    FullView->SetChecked(false);
    TileView->SetChecked(false);
    FitView->SetChecked(true);
}

// --- Zoom, turn, full screen
// ----------------------------------------------------------------------

void TMainWindow::ZoomInClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomStep(1);
}

void TMainWindow::ZoomOutClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomStep(-1);
}

void TMainWindow::ZoomFitClick() {
    // The same as choosing Fit View: ticked, and stored with the settings.
    if (BrowseImageFiles->Checked()) FitViewClick();
}

void TMainWindow::ZoomActualClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomTo(1.0);
}

void TMainWindow::RotateRightClick() {
    if (BrowseImageFiles->Checked()) ViewImage->TurnView(1);
}

void TMainWindow::RotateLeftClick() {
    if (BrowseImageFiles->Checked()) ViewImage->TurnView(-1);
}

void TMainWindow::FlipViewClick() {
    if (BrowseImageFiles->Checked()) ViewImage->FlipView();
}

void TMainWindow::PicturePropertiesClick() {
    const QByteArray& shown = presenter_->ShownPath();
    if (shown.isEmpty() || ViewImage->Picture()->Graphic() == nullptr) return;
    // A reduced decode holds fewer pixels than the picture: its size is the picture's.
    ShowPictureProperties(this, shown, ViewImage->Picture()->Graphic(),
                          presenter_->Frames()->Count(), ViewImage->PictureSize());
}

void TMainWindow::FullScreenClick() {
    if (fullScreen_) {
        LeaveFullScreen();
        return;
    }
    if (!BrowseImageFiles->Checked()) return;
    fullScreen_ = true;
    browserBeforeFullScreen_ = PanelLeft->isVisibleTo(this);
    // The picture alone on black: the browser, the top strip, the frame and the status line
    // go; the picture fits the screen unless it was already zoomed.
    colorBeforeFullScreen_ = PanelImage->Color();
    PanelImage->SetColor(0x000000);
    PanelTop->setVisible(false);
    PanelLeft->setVisible(false);
    SplitterV->setVisible(false);
    status_->setVisible(false);
    ScrollImage->setFrameShape(QFrame::NoFrame);
    zoomBeforeFullScreen_ = ViewImage->ZoomMode();
    if (!zoomBeforeFullScreen_) ViewImage->ZoomToFit();
    for (QAction* action : fullScreenKeys_)
        action->setEnabled(true);
    showFullScreen();
    ScrollImage->setFocus();
}

void TMainWindow::LeaveFullScreen() {
    if (!fullScreen_) return;
    fullScreen_ = false;
    for (QAction* action : fullScreenKeys_)
        action->setEnabled(false);
    showNormal();
    PanelImage->SetColor(colorBeforeFullScreen_);
    PanelTop->setVisible(true);
    PanelLeft->setVisible(browserBeforeFullScreen_);
    SplitterV->setVisible(PanelLeft->isVisibleTo(this));
    status_->setVisible(true);
    ScrollImage->setFrameShape(QFrame::StyledPanel);
    // Back to the view the menu shows.
    if (!zoomBeforeFullScreen_) {
        if (FullView->Checked()) FullViewClick();
        if (TileView->Checked()) TileViewClick();
    }
    SyncViewMarks();
    TAlignLayout::Realign(this);
}

// --- Moving between pictures --------------------------------------------------------------------

void TMainWindow::MoveToPicture(int from, int direction) {
    if (!BrowseImageFiles->Checked()) return;
    const int count = BrowseFiles->ItemCount();
    for (int row = from + direction; row >= 0 && row < count; row += direction) {
        if (BrowseFiles->ItemSubItem(row, 5) != QLatin1String(TFileListView::KindFile)) continue;
        BrowseFiles->SetItemSelected(row, true);
        BrowseFiles->SetItemFocused(row);
        BrowseFiles->Click();
        return;
    }
}

void TMainWindow::NextPictureClick() {
    MoveToPicture(SelectedRow(*BrowseFiles), 1);
}

void TMainWindow::PreviousPictureClick() {
    const int row = SelectedRow(*BrowseFiles);
    MoveToPicture(row < 0 ? BrowseFiles->ItemCount() : row, -1);
}

void TMainWindow::FirstPictureClick() {
    MoveToPicture(-1, 1);
}

void TMainWindow::LastPictureClick() {
    MoveToPicture(BrowseFiles->ItemCount(), -1);
}

// --- Title and status line ----------------------------------------------------------------------

void TMainWindow::ShownFileRenamed(const QString& oldPath, const QString& newPath) {
    if (oldPath != shownFile_) return;
    const QByteArray native = BrowseFiles->SelectedItemNative();
    if (ReadText->NativeFileName() == QFile::encodeName(oldPath))
        ReadText->FileRenamed(native, newPath);
    presenter_->Renamed(QFile::encodeName(oldPath), native);
    ShowFileName(newPath);
}

void TMainWindow::ShowFileName(const QString& path) {
    shownFile_ = path;
    const QString name = QFileInfo(path).fileName();
    SetCaption(name.isEmpty() ? QStringLiteral("Velkaro") : name + QStringLiteral(" - Velkaro"));
    UpdateStatus();
}

void TMainWindow::SyncViewMarks() {
    // Full and Tile View are the menu's own choices; a zoomed, turned or flipped picture is
    // neither, and Fit View is ticked only while the picture is fitted. Full screen keeps the
    // window's marks, which it comes back to.
    if (fullScreen_ || !ViewImage->ZoomMode()) return;
    FitView->SetChecked(ViewImage->FitMode());
    FullView->SetChecked(false);
    TileView->SetChecked(false);
}

void TMainWindow::UpdateStatus() {
    if (status_ == nullptr || presenter_ == nullptr) return;
    status_->setText(StatusText());
}

void TMainWindow::UpdateFrameItems() {
    const TFramePlayer* frames = presenter_->Frames();
    const bool animation = frames->Animation();
    PauseAnimation->SetEnabled(animation);
    PauseAnimation->SetCaption(animation && frames->Paused() ? QStringLiteral("Resume Animation")
                                                             : QStringLiteral("Pause Animation"));
    NextFrame->SetEnabled(animation && frames->Paused());
    PreviousFrame->SetEnabled(animation && frames->Paused());
    NextPage->SetEnabled(frames->Pages() && frames->Index() + 1 < frames->Count());
    PreviousPage->SetEnabled(frames->Pages() && frames->Index() > 0);
}

void TMainWindow::PauseAnimationClick() {
    presenter_->Frames()->SetPaused(!presenter_->Frames()->Paused());
}

void TMainWindow::NextFrameClick() {
    presenter_->Frames()->Step(1);
}

void TMainWindow::PreviousFrameClick() {
    presenter_->Frames()->Step(-1);
}

void TMainWindow::NextPageClick() {
    presenter_->Frames()->Step(1);
}

void TMainWindow::PreviousPageClick() {
    presenter_->Frames()->Step(-1);
}
