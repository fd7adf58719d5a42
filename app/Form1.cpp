#include "app/Form1.h"

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
#include "display/BitmapToImage.h"
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

QStringList TForm1::StoredProps() {
    return {"ReadText.Visible",        "PanelImage.Visible",      "BrowseFiles.Directory",
            "PanelLeft.Width",         "ReadText.Font",           "BrowseDrives.Font",
            "BrowseFiles.Font",        "FontText.Font",           "FontBrowse.Font",
            "WrapMenu.Checked",        "FolderMenu.Checked",      "TextAutoFocus.Checked",
            "BrowseFiles.ShowFolders", "BrowseTextFiles.Checked", "BrowseImageFiles.Checked",
            "ViewImage.Align",         "ViewImage.AutoSize",      "ViewImage.Stretch",
            "ViewImage.Tiled",         "FullView.Checked",        "TileView.Checked",
            "FitView.Checked",         "PanelImage.Color",        "ImageBk.Color",
            "DetailsMenu.Checked",     "LineNumbersMenu.Checked", "ColorManagement.Checked",
            "Checkerboard.Checked"};
}

QString TForm1::ImageFilesMask() {
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

TForm1::TForm1(QWidget* parent) : TForm(QStringLiteral("Form1"), parent) {
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
    FormStorage1->Loaded();
    FormCreate();
}

TForm1::~TForm1() {
    RunDestroyHandlers();
}

template <class Sender, class Signal>
void TForm1::Wire(Sender* sender, Signal signal, void (TForm1::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { Application::HandleEvent([this, handler] { (this->*handler)(); }); });
}

void TForm1::CreateComponents() {
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

    ViewImage = new TProImage(QStringLiteral("ViewImage"), ScrollImage->Contents());
    ViewImage->move(0, 0);
    ViewImage->SetAutoSize(true);
    ViewImage->SetAlign(alNone);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    ViewImage->SetCenter(false);
    ViewImage->SetTransparent(false);
    ViewImage->SetDevicePixels(true);
    ViewImage->OnProgress = [this](TGraphic*, TProgressStage stage, uint8_t percent, bool,
                                   const TRect&, const std::string& message) {
        PictureProgress(stage, percent, message);
    };

    // Shown over the picture pane while a slow picture decodes.
    loadProgress_ = new QLabel(PanelImage);
    loadProgress_->setAutoFillBackground(true);
    loadProgress_->setFrameShape(QFrame::Box);
    loadProgress_->setMargin(3);
    loadProgress_->move(6, 6);
    loadProgress_->hide();

    // Pictures are converted into the screen's colours when the desktop publishes its profile.
    SetDisplayProfile(ReadDisplayProfile());
    decoder_ = new TDecodeService(this);
    connect(decoder_, &TDecodeService::Decoded, this,
            [this](quint64 generation, const TDecodedPtr& picture) {
                Application::HandleEvent([&] { PictureArrived(generation, picture); });
            });
    frames_ = new TFramePlayer(
        decoder_,
        [this](std::unique_ptr<TGraphic> frame) {
            ViewImage->ShowDecoded(std::move(frame), QSize(), QImage());
        },
        this);
    connect(frames_, &TFramePlayer::Changed, this, [this] {
        UpdateFrameItems();
        UpdateStatus();
    });
    connect(decoder_, &TDecodeService::Progress, this,
            [this](quint64, int percent, const QString& message) {
                PictureProgress(psRunning, uint8_t(std::clamp(percent, 0, 100)),
                                message.toStdString());
            });

    // The picture pane's status line: size, format and zoom.
    status_ = new QLabel(PanelImage);
    status_->setObjectName(QStringLiteral("StatusImage"));
    status_->setContentsMargins(4, 1, 4, 1);
    TAlignLayout::SetAlign(status_, alBottom);
    connect(ViewImage, &TProImage::OnViewChange, this, &TForm1::UpdateStatus);
    connect(ViewImage, &TProImage::OnViewChange, this, &TForm1::SyncViewMarks);
    connect(ViewImage, &TProImage::OnViewChange, this, [this] { DecodeWhatViewNeeds(); });
    connect(ViewImage, &TProImage::OnPictureChange, this, &TForm1::UpdateStatus);

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
    AboutImage = new TProImageViewDialog(QStringLiteral("AboutImage"), this);
    AboutImage->SetBorderStyle(bsSingle);
    AboutImage->SetCaption(QStringLiteral("About ..."));
    AboutImage->SetText(AboutText());
    LoadAboutPicture(*AboutImage->Picture());
    // "Clipboard as Contents" of pictures reads them with the program's own decoders.
    SetPictureLoader([](const QByteArray& path) {
        TPicture picture;
        picture.LoadFromFile(path.toStdString());
        return picture.Graphic() != nullptr ? GraphicToImage(*picture.Graphic()) : QImage();
    });
    FormStorage1 = new TFormStorage(QStringLiteral("FormStorage1"), this);
    FormStorage1->SetIniFileName(QStringLiteral("Velkaro.ini"));
    FormStorage1->SetIniSection(QStringLiteral("User"));
    FormStorage1->SetStoredProps(StoredProps());
    Wire(FormStorage1, &TFormPlacement::OnRestorePlacement, &TForm1::CheckRestoredSettings);

    Wire(BrowseDrives, &TFolderCombo::OnClick, &TForm1::BrowseDrivesClick);
    Wire(BrowseFiles, &TFileListView::OnClick, &TForm1::BrowseFilesClick);
    connect(BrowseFiles, &TFileListView::OnItemRenamed, this,
            [this](QObject*, const QString& oldPath, const QString& newPath) {
                ShownFileRenamed(oldPath, newPath);
            });
    Wire(ReadText, &TMemo::OnChange, &TForm1::ReadTextChange);
    Wire(ReadText, &TMemo::OnMouseDown, &TForm1::ReadTextMouseDown);
}

void TForm1::CreateMenus() {
    TextMenu = new TPopupMenu(QStringLiteral("TextMenu"), this);
    CopyMenu = TextMenu->Add(QStringLiteral("CopyMenu"), QStringLiteral("Copy To Clipboard"));
    N1 = TextMenu->Add(QStringLiteral("N1"), QStringLiteral("-"));
    BrowseMenu = TextMenu->Add(QStringLiteral("BrowseMenu"), QStringLiteral("View Browser"));
    TextAutoFocus =
        TextMenu->Add(QStringLiteral("TextAutoFocus"), QStringLiteral("Text AutoFocus"));
    N2 = TextMenu->Add(QStringLiteral("N2"), QStringLiteral("-"));
    WrapMenu = TextMenu->Add(QStringLiteral("WrapMenu"), QStringLiteral("Word Wrap"));
    FontMenu = TextMenu->Add(QStringLiteral("FontMenu"), QStringLiteral("Reader Font  ..."));
    N12 = TextMenu->Add(QStringLiteral("N12"), QStringLiteral("-"));
    FindMenu = TextMenu->Add(QStringLiteral("FindMenu"), QStringLiteral("Find ..."));
    EncodingMenu = TextMenu->Add(QStringLiteral("EncodingMenu"), QStringLiteral("Encoding"));
    HexViewMenu = TextMenu->Add(QStringLiteral("HexViewMenu"), QStringLiteral("Hex View"));
    LineNumbersMenu =
        TextMenu->Add(QStringLiteral("LineNumbersMenu"), QStringLiteral("Line Numbers"));
    CopyMenu->SetEnabled(false);
    BrowseMenu->SetChecked(true);
    WrapMenu->SetChecked(true);

    FileMenu = new TPopupMenu(QStringLiteral("FileMenu"), this);
    BrowseTextFiles =
        FileMenu->Add(QStringLiteral("BrowseTextFiles"), QStringLiteral("Browse Text Files"));
    BrowseImageFiles =
        FileMenu->Add(QStringLiteral("BrowseImageFiles"), QStringLiteral("Browse Image Files"));
    N4 = FileMenu->Add(QStringLiteral("N4"), QStringLiteral("-"));
    FolderMenu = FileMenu->Add(QStringLiteral("FolderMenu"), QStringLiteral("Show Folders"));
    FontMenuB = FileMenu->Add(QStringLiteral("FontMenuB"), QStringLiteral("Browser Font ..."));
    N3 = FileMenu->Add(QStringLiteral("N3"), QStringLiteral("-"));
    DefaultSettings1 =
        FileMenu->Add(QStringLiteral("DefaultSettings1"), QStringLiteral("Default Settings"));
    N5 = FileMenu->Add(QStringLiteral("N5"), QStringLiteral("-"));
    AboutVelkaro1 =
        FileMenu->Add(QStringLiteral("AboutVelkaro1"), QStringLiteral("About Velkaro ..."));
    BrowseTextFiles->SetChecked(true);
    FolderMenu->SetChecked(true);

    ImageMenu = new TPopupMenu(QStringLiteral("ImageMenu"), this);
    CopyImage = ImageMenu->Add(QStringLiteral("CopyImage"), QStringLiteral("Copy To Clipboard"));
    N6 = ImageMenu->Add(QStringLiteral("N6"), QStringLiteral("-"));
    BrowseMenuI = ImageMenu->Add(QStringLiteral("BrowseMenuI"), QStringLiteral("View Browser"));
    N7 = ImageMenu->Add(QStringLiteral("N7"), QStringLiteral("-"));
    FullView = ImageMenu->Add(QStringLiteral("FullView"), QStringLiteral("Full View"));
    TileView = ImageMenu->Add(QStringLiteral("TileView"), QStringLiteral("Tile View"));
    FitView = ImageMenu->Add(QStringLiteral("FitView"), QStringLiteral("Fit View"));
    N9 = ImageMenu->Add(QStringLiteral("N9"), QStringLiteral("-"));
    ZoomIn = ImageMenu->Add(QStringLiteral("ZoomIn"), QStringLiteral("Zoom In"));
    ZoomOut = ImageMenu->Add(QStringLiteral("ZoomOut"), QStringLiteral("Zoom Out"));
    ZoomFit = ImageMenu->Add(QStringLiteral("ZoomFit"), QStringLiteral("Zoom To Fit"));
    ZoomActual = ImageMenu->Add(QStringLiteral("ZoomActual"), QStringLiteral("Actual Size"));
    N10 = ImageMenu->Add(QStringLiteral("N10"), QStringLiteral("-"));
    RotateRight = ImageMenu->Add(QStringLiteral("RotateRight"), QStringLiteral("Rotate Right"));
    RotateLeft = ImageMenu->Add(QStringLiteral("RotateLeft"), QStringLiteral("Rotate Left"));
    FlipView = ImageMenu->Add(QStringLiteral("FlipView"), QStringLiteral("Flip Horizontally"));
    N11 = ImageMenu->Add(QStringLiteral("N11"), QStringLiteral("-"));
    NextPicture = ImageMenu->Add(QStringLiteral("NextPicture"), QStringLiteral("Next Picture"));
    PreviousPicture =
        ImageMenu->Add(QStringLiteral("PreviousPicture"), QStringLiteral("Previous Picture"));
    FullScreen = ImageMenu->Add(QStringLiteral("FullScreen"), QStringLiteral("Full Screen"));
    N14 = ImageMenu->Add(QStringLiteral("N14"), QStringLiteral("-"));
    PauseAnimation =
        ImageMenu->Add(QStringLiteral("PauseAnimation"), QStringLiteral("Pause Animation"));
    NextFrame = ImageMenu->Add(QStringLiteral("NextFrame"), QStringLiteral("Next Frame"));
    PreviousFrame =
        ImageMenu->Add(QStringLiteral("PreviousFrame"), QStringLiteral("Previous Frame"));
    NextPage = ImageMenu->Add(QStringLiteral("NextPage"), QStringLiteral("Next Page"));
    PreviousPage = ImageMenu->Add(QStringLiteral("PreviousPage"), QStringLiteral("Previous Page"));
    N8 = ImageMenu->Add(QStringLiteral("N8"), QStringLiteral("-"));
    BackgroundColour1 =
        ImageMenu->Add(QStringLiteral("BackgroundColour1"), QStringLiteral("Background  ..."));
    N13 = ImageMenu->Add(QStringLiteral("N13"), QStringLiteral("-"));
    PictureProperties = ImageMenu->Add(QStringLiteral("PictureProperties"),
                                       QStringLiteral("Picture Properties..."));
    CopyImage->SetEnabled(false);
    PictureProperties->SetEnabled(false);
    BrowseMenuI->SetChecked(true);
    FullView->SetChecked(true);

    NoPopup = new TPopupMenu(QStringLiteral("NoPopup"), this);

    Wire(CopyMenu, &TMenuItem::OnClick, &TForm1::CopyMenuClick);
    Wire(BrowseMenu, &TMenuItem::OnClick, &TForm1::BrowseMenuClick);
    Wire(TextAutoFocus, &TMenuItem::OnClick, &TForm1::TextAutoFocusClick);
    Wire(WrapMenu, &TMenuItem::OnClick, &TForm1::WrapMenuClick);
    Wire(FontMenu, &TMenuItem::OnClick, &TForm1::FontMenuClick);
    Wire(FindMenu, &TMenuItem::OnClick, &TForm1::FindMenuClick);
    Wire(HexViewMenu, &TMenuItem::OnClick, &TForm1::HexViewMenuClick);
    Wire(LineNumbersMenu, &TMenuItem::OnClick, &TForm1::LineNumbersMenuClick);
    CreateEncodingMenu();
    Wire(BrowseTextFiles, &TMenuItem::OnClick, &TForm1::BrowseTextFilesClick);
    Wire(BrowseImageFiles, &TMenuItem::OnClick, &TForm1::BrowseImageFilesClick);
    Wire(FolderMenu, &TMenuItem::OnClick, &TForm1::FolderMenuClick);
    Wire(FontMenuB, &TMenuItem::OnClick, &TForm1::FontMenuBClick);
    Wire(DefaultSettings1, &TMenuItem::OnClick, &TForm1::DefaultSettings1Click);
    Wire(AboutVelkaro1, &TMenuItem::OnClick, &TForm1::AboutVelkaro1Click);
    Wire(CopyImage, &TMenuItem::OnClick, &TForm1::CopyImageClick);
    Wire(BrowseMenuI, &TMenuItem::OnClick, &TForm1::BrowseMenuIClick);
    Wire(FullView, &TMenuItem::OnClick, &TForm1::FullViewClick);
    Wire(TileView, &TMenuItem::OnClick, &TForm1::TileViewClick);
    Wire(BackgroundColour1, &TMenuItem::OnClick, &TForm1::BackgroundColour1Click);
    Wire(FitView, &TMenuItem::OnClick, &TForm1::FitViewClick);
    Wire(ZoomIn, &TMenuItem::OnClick, &TForm1::ZoomInClick);
    Wire(ZoomOut, &TMenuItem::OnClick, &TForm1::ZoomOutClick);
    Wire(ZoomFit, &TMenuItem::OnClick, &TForm1::ZoomFitClick);
    Wire(ZoomActual, &TMenuItem::OnClick, &TForm1::ZoomActualClick);
    Wire(RotateRight, &TMenuItem::OnClick, &TForm1::RotateRightClick);
    Wire(RotateLeft, &TMenuItem::OnClick, &TForm1::RotateLeftClick);
    Wire(FlipView, &TMenuItem::OnClick, &TForm1::FlipViewClick);
    Wire(NextPicture, &TMenuItem::OnClick, &TForm1::NextPictureClick);
    Wire(PreviousPicture, &TMenuItem::OnClick, &TForm1::PreviousPictureClick);
    Wire(FullScreen, &TMenuItem::OnClick, &TForm1::FullScreenClick);
    Wire(PictureProperties, &TMenuItem::OnClick, &TForm1::PicturePropertiesClick);
    Wire(PauseAnimation, &TMenuItem::OnClick, &TForm1::PauseAnimationClick);
    Wire(NextFrame, &TMenuItem::OnClick, &TForm1::NextFrameClick);
    Wire(PreviousFrame, &TMenuItem::OnClick, &TForm1::PreviousFrameClick);
    Wire(NextPage, &TMenuItem::OnClick, &TForm1::NextPageClick);
    Wire(PreviousPage, &TMenuItem::OnClick, &TForm1::PreviousPageClick);

    // Keys. Zoom, turn and full screen work anywhere in the window (in image mode); moving
    // between pictures belongs to the picture pane, so the list keeps its own Space, Home and
    // End. The menu items show their keys.
    auto keys = [](TMenuItem* item, std::initializer_list<QKeySequence> sequences) {
        item->setShortcuts(QList<QKeySequence>(sequences));
    };
    keys(ZoomIn, {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    keys(ZoomOut, {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    keys(ZoomFit, {QKeySequence(Qt::CTRL | Qt::Key_0)});
    keys(ZoomActual, {QKeySequence(Qt::CTRL | Qt::Key_1)});
    keys(RotateRight, {QKeySequence(Qt::CTRL | Qt::Key_R)});
    keys(RotateLeft, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)});
    keys(FlipView, {QKeySequence(Qt::CTRL | Qt::Key_H)});
    keys(FullScreen, {QKeySequence(Qt::Key_F11)});
    // Find belongs to the text pane: the file list keeps its own Ctrl+F.
    keys(FindMenu, {QKeySequence(QKeySequence::Find)});
    FindMenu->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ReadText->addAction(FindMenu);
    for (TMenuItem* item :
         {ZoomIn, ZoomOut, ZoomFit, ZoomActual, RotateRight, RotateLeft, FlipView, FullScreen}) {
        item->setShortcutContext(Qt::WindowShortcut);
        addAction(item);
    }
    keys(NextPicture, {QKeySequence(Qt::Key_Space)});
    keys(PreviousPicture, {QKeySequence(Qt::SHIFT | Qt::Key_Space)});
    // Alt+Enter in the picture pane; in the file list it opens the list's own properties.
    keys(PictureProperties,
         {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
    // Frames and pages: Page Up and Page Down alone scroll the view.
    keys(PauseAnimation, {QKeySequence(Qt::Key_P)});
    keys(NextFrame, {QKeySequence(Qt::Key_Period)});
    keys(PreviousFrame, {QKeySequence(Qt::Key_Comma)});
    keys(NextPage, {QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    keys(PreviousPage, {QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    for (TMenuItem* item : {NextPicture, PreviousPicture, PauseAnimation, NextFrame, PreviousFrame,
                            NextPage, PreviousPage, PictureProperties}) {
        item->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        PanelImage->addAction(item);
    }
    UpdateFrameItems();
    auto paneKey = [this](QWidget* owner, QKeySequence key, Qt::ShortcutContext context,
                          void (TForm1::*handler)()) {
        auto* action = new QAction(owner);
        action->setShortcut(key);
        action->setShortcutContext(context);
        owner->addAction(action);
        connect(action, &QAction::triggered, this, [this, handler] {
            Application::HandleEvent([this, handler] { (this->*handler)(); });
        });
        return action;
    };
    paneKey(PanelImage, QKeySequence(Qt::Key_Home), Qt::WidgetWithChildrenShortcut,
            &TForm1::FirstPictureClick);
    paneKey(PanelImage, QKeySequence(Qt::Key_End), Qt::WidgetWithChildrenShortcut,
            &TForm1::LastPictureClick);
    fullScreenKeys_ = {
        paneKey(this, QKeySequence(Qt::Key_Right), Qt::WindowShortcut, &TForm1::NextPictureClick),
        paneKey(this, QKeySequence(Qt::Key_Left), Qt::WindowShortcut,
                &TForm1::PreviousPictureClick),
        paneKey(this, QKeySequence(Qt::Key_Escape), Qt::WindowShortcut, &TForm1::LeaveFullScreen)};
    for (QAction* action : fullScreenKeys_)
        action->setEnabled(false);

    // In the list, the picture keys agree with the picture pane: Space and Shift+Space move to the
    // next and previous picture in image mode, and Ctrl+Page Down / Up turn the shown picture's
    // pages (never moving the list's highlight away from the shown file).
    BrowseFiles->KeyDownFilter = [this](int key, Qt::KeyboardModifiers mods) {
        const bool image = BrowseImageFiles->Checked();
        if (key == Qt::Key_Space && image &&
            (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
            Application::HandleEvent([this, mods] {
                mods == Qt::NoModifier ? NextPictureClick() : PreviousPictureClick();
            });
            return true;
        }
        if ((key == Qt::Key_PageDown || key == Qt::Key_PageUp) && mods == Qt::ControlModifier) {
            TMenuItem* item = key == Qt::Key_PageDown ? NextPage : PreviousPage;
            if (image && item->Enabled()) item->Click();
            return true;
        }
        return false;
    };

    CreateFileCommands();
    CreateDetailsItem();
    CreateColorManagementItem();
    CreateCheckerboardItem();
    CreateAboutKey();
    CreateLocationEntry();

    ::SetPopupMenu(ReadText, TextMenu);
    ::SetPopupMenu(BrowseFiles, FileMenu);
    ::SetPopupMenu(ViewImage, ImageMenu);
    ::SetPopupMenu(BrowseDrives, NoPopup);
}

// The list's file commands, put before the menu's own items.
void TForm1::CreateFileCommands() {
    struct TCommand {
        TMenuItem** item;
        const char* name;
        const char* caption;
        TFileListView::TListAction action;
    };
    const TCommand commands[] = {
        {&FileOpen, "FileOpen", "Open", TFileListView::laOpen},
        {&FileCut, "FileCut", "Cut", TFileListView::laCut},
        {&FileCopy, "FileCopy", "Copy", TFileListView::laCopy},
        {&FilePaste, "FilePaste", "Paste", TFileListView::laPaste},
        {&FileDelete, "FileDelete", "Delete", TFileListView::laDelete},
        {&FileDeletePermanently, "FileDeletePermanently", "Delete Permanently",
         TFileListView::laDeletePermanently},
        {&FileNewFolder, "FileNewFolder", "New Folder", TFileListView::laNewFolder},
        {&FileProperties, "FileProperties", "Properties", TFileListView::laProperties},
    };
    int at = 0;
    for (const TCommand& c : commands) {
        TMenuItem* item = FileMenu->Insert(at++, QLatin1String(c.name), QLatin1String(c.caption));
        // The key is shown beside the caption, not bound: the list answers to it itself while
        // it has the focus, and a bound Enter would fire Open from any highlighted item.
        item->setText(item->Caption() + u'\t' +
                      TFileListView::ActionKey(c.action).toString(QKeySequence::NativeText));
        item->setProperty("listAction", static_cast<int>(c.action));
        const TFileListView::TListAction action = c.action;
        connect(item, &TMenuItem::OnClick, this, [this, action] {
            Application::HandleEvent([this, action] { BrowseFiles->RunAction(action); });
        });
        *c.item = item;
    }
    NFileCommands = FileMenu->Insert(at, QStringLiteral("NFileCommands"), QStringLiteral("-"));
    connect(FileMenu, &QMenu::aboutToShow, this, &TForm1::UpdateFileCommands);
}

void TForm1::UpdateFileCommands() {
    for (TMenuItem* item : {FileOpen, FileCut, FileCopy, FilePaste, FileDelete,
                            FileDeletePermanently, FileNewFolder, FileProperties})
        item->SetEnabled(BrowseFiles->ActionEnabled(
            static_cast<TFileListView::TListAction>(item->property("listAction").toInt())));
}

QString TForm1::AboutText() {
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

void TForm1::CreateAboutKey() {
    AboutVelkaro1->setText(AboutVelkaro1->Caption() + QStringLiteral("\tF1"));
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), this);
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, this,
            [this] { Application::HandleEvent([this] { AboutVelkaro1Click(); }); });
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

void TForm1::CreateLocationEntry() {
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
    connect(key, &QShortcut::activated, this, &TForm1::LocationShow);
}

QString TForm1::LocationPath(const QString& typed) const {
    const QString path = ExpandHome(typed.trimmed());
    if (path.isEmpty() || QDir::isAbsolutePath(path)) return path;
    const QString base =
        BrowseFiles->Directory().compare(QLatin1String(TFileListView::DrivesDirectory),
                                         Qt::CaseInsensitive) == 0
            ? QDir::homePath()
            : BrowseFiles->Directory();
    return QDir(base).absoluteFilePath(path);
}

QStringList TForm1::LocationCompletions(const QString& typed, const QString& base) {
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

void TForm1::LocationShow() {
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

void TForm1::LocationEnter() {
    const QString path = LocationPath(Location->text());
    if (path.isEmpty()) return;
    // A path that does not exist leaves the entry open to be corrected (OpenPath says why).
    OpenPath(path);
    Location->hide();
    if (QFileInfo(path).isDir()) SetActiveControl(BrowseFiles);
}

void TForm1::CreateDetailsItem() {
    DetailsMenu = FileMenu->Insert(static_cast<int>(FileMenu->Items().indexOf(FolderMenu)) + 1,
                                   QStringLiteral("DetailsMenu"), QStringLiteral("Details"));
    Wire(DetailsMenu, &TMenuItem::OnClick, &TForm1::DetailsMenuClick);
}

void TForm1::DetailsMenuClick() {
    DetailsMenu->SetChecked(!DetailsMenu->Checked());
    ApplyDetails();
}

void TForm1::ApplyDetails() {
    const bool details = DetailsMenu->Checked();
    BrowseFiles->SetColWidth_Name(details ? 200 : 150);
    BrowseFiles->SetColWidth_Size(details ? 75 : 0);
    BrowseFiles->SetColWidth_Type(details ? 130 : 0);
    BrowseFiles->SetColWidth_Mod(details ? 125 : 0);
    BrowseFiles->SetColWidth_Attr(0);
    BrowseFiles->ResetColumnWidths();
    BrowseFiles->SetShowColumnHeaders(details);
    BrowseFiles->SetViewStyle(details ? TFileListView::vsReport : TFileListView::vsList);
}

// --- Creation and showing ----------------------------------------------------------------------

void TForm1::AlignRightPane() {
    ReadText->SetAlign(alClient);
    PanelImage->SetAlign(alClient);
    TAlignLayout::Realign(this);
}

void TForm1::ApplyModeMask() {
    BrowseFiles->SetMask(BrowseTextFiles->Checked() ? QString::fromLatin1(TextMask)
                                                    : ImageFilesMask());
    BrowseFiles->SetSniffText(BrowseTextFiles->Checked());
}

void TForm1::FocusByTextAutoFocus() {
    SetActiveControl(TextAutoFocus->Checked() ? static_cast<QWidget*>(ReadText)
                                              : static_cast<QWidget*>(BrowseFiles));
}

void TForm1::CreateColorManagementItem() {
    ColorManagement =
        ImageMenu->Insert(static_cast<int>(ImageMenu->Items().indexOf(N8)),
                          QStringLiteral("ColorManagement"), QStringLiteral("Colour Management"));
    ColorManagement->SetChecked(true);
    Wire(ColorManagement, &TMenuItem::OnClick, &TForm1::ColorManagementClick);
}

void TForm1::CreateCheckerboardItem() {
    Checkerboard = ImageMenu->Insert(static_cast<int>(ImageMenu->Items().indexOf(N13)),
                                     QStringLiteral("Checkerboard"),
                                     QStringLiteral("Transparency Checkerboard"));
    Wire(Checkerboard, &TMenuItem::OnClick, &TForm1::CheckerboardClick);
}

void TForm1::CheckerboardClick() {
    Checkerboard->SetChecked(!Checkerboard->Checked());
    ViewImage->SetCheckerboard(Checkerboard->Checked());
}

void TForm1::ColorManagementClick() {
    ColorManagement->SetChecked(!ColorManagement->Checked());
    ApplyColorManagement();
}

void TForm1::ApplyColorManagement() {
    const bool on = ColorManagement->Checked();
    if (on == ColorManagementEnabled()) return;
    SetColorManagementEnabled(on);
    // Decoded pictures hold the old colours: the shown one is decoded again, the cached and
    // preloaded ones are forgotten.
    decoder_->DropCache();
    const QByteArray shown = shownNative_;
    if (shown.isEmpty() || !BrowseImageFiles->Checked()) return;
    ClearPicture();
    LoadPicture(shown);
}

void TForm1::FormCreate() {
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
    if (font.Height() == 0 || points < TForm1::MinFontSize || points > TForm1::MaxFontSize)
        font.SetHeight(defaults.Height());
    if (font.Name().trimmed().isEmpty()) font.SetName(defaults.Name());
    if (!IsValidColor(font.Color())) font.SetColor(defaults.Color());
    if (font.Charset() < 0 || font.Charset() > 255) font.SetCharset(defaults.Charset());
    return font;
}

}  // namespace

void TForm1::CheckRestoredSettings() {
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
    if (int(FullView->Checked()) + int(TileView->Checked()) + int(FitView->Checked()) != 1) {
        ViewImage->SetAlign(alNone);
        ViewImage->SetAutoSize(true);
        ViewImage->SetStretch(false);
        ViewImage->SetTiled(false);
        FullView->SetChecked(true);
        TileView->SetChecked(false);
        FitView->SetChecked(false);
    }
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

void TForm1::FormShow() {
    BrowseDrives->GoToFolder(BrowseFiles->Directory());
    AlignRightPane();
    ApplyModeMask();
    ApplyDetails();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    Application::HandleEvent([this] { FormResize(); });
}

// The drop-down tree is as tall as the file list.
void TForm1::FormResize() {
    if (BrowseDrives == nullptr || BrowseFiles == nullptr) return;  // still being created
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
}

void TForm1::BrowseDrivesClick() {
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
}

// --- File list -----------------------------------------------------------------------------------

void TForm1::BrowseFilesClick() {
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

void TForm1::ClearPicture() {
    frames_->Stop();
    decoder_->CancelShow();
    EndLoadProgress();
    ViewImage->SetMessage(QString());
    ViewImage->SetPicture(nullptr);
    shownIsPreview_ = false;
    shownReducedOnly_ = false;
    copyWhenFull_ = false;
    shownNative_.clear();
    PictureProperties->SetEnabled(false);
}

TViewWish TForm1::ViewWish() const {
    TViewWish wish;
    // The view counts device pixels: on a scaled screen the picture is decoded for all of them.
    const double ratio = ViewImage->DevicePixels() ? ViewImage->devicePixelRatioF() : 1.0;
    wish.pane = ScrollImage->viewport()->size() * ratio;
    wish.fit = ViewImage->FitMode();
    wish.scale = ViewImage->ZoomMode() ? ViewImage->View().scale : 1.0;
    return wish;
}

void TForm1::DecodeWhatViewNeeds(bool full) {
    if (!shownReducedOnly_ || shownNative_.isEmpty()) return;
    const TGraphic* graphic = ViewImage->Picture()->Graphic();
    if (graphic == nullptr) return;
    const double scale = full ? 1.0 : ViewImage->ZoomMode() ? ViewImage->View().scale : 1.0;
    // A decode under way is looked at again when it arrives.
    if (!full && decoder_->Busy()) return;
    const QSize size = ViewImage->PictureSize();
    // Within a pixel of the view is enough (the reduced scales round their sizes up).
    if (!full && graphic->Width() + 1 >= size.width() * scale &&
        graphic->Height() + 1 >= size.height() * scale)
        return;
    TViewWish wish = ViewWish();
    wish.fit = false;
    wish.scale = scale;
    wish.larger = true;
    explicitOpen_ = false;
    loading_ = true;
    loadTimer_.start();
    decoder_->Show(shownNative_, wish);
}

void TForm1::LoadPicture(const QByteArray& fileName) {
    explicitOpen_ = openingExplicitly_;
    loading_ = true;
    loadTimer_.start();
    frames_->Stop();
    copyWhenFull_ = false;
    decoder_->Show(fileName, ViewWish());
}

void TForm1::PictureArrived(quint64 generation, const TDecodedPtr& picture) {
    if (generation != decoder_->Generation()) return;  // an older request
    if (!picture->preview) EndLoadProgress();
    // The picture shown so far stays decoded while it is a neighbour of the new one.
    KeepShownPicture(picture->path);
    if (!picture->graphic) {
        // Nothing of the previous picture stays on screen under the new name.
        frames_->Stop();
        ViewImage->SetPicture(nullptr);
        shownIsPreview_ = false;
        shownReducedOnly_ = false;
        shownNative_.clear();
        CopyImage->SetEnabled(false);
        PictureProperties->SetEnabled(false);
        copyWhenFull_ = false;
        ShowFileName(picture->path);
        if (explicitOpen_) throw std::runtime_error(picture->error.toStdString());
        // While browsing the message goes in the pane, so the next key press still works; it
        // fills the visible part of the pane, whatever size the last picture had.
        ViewImage->SetMessage(
            QStringLiteral("%1\n\n%2").arg(QFileInfo(picture->path).fileName(), picture->error));
        if (!ViewImage->ZoomMode() && ViewImage->Align() == alNone) {
            ScrollImage->SetHorzPosition(0);
            ScrollImage->SetVertPosition(0);
            ViewImage->setGeometry(QRect(QPoint(0, 0), ScrollImage->viewport()->size()));
        }
        UpdateStatus();
        return;
    }
    ViewImage->SetMessage(QString());
    const bool larger = shownReducedOnly_ && picture->path == shownNative_;
    shownIsPreview_ = picture->preview;
    shownReducedOnly_ = picture->reducedOnly;
    ViewImage->ShowDecoded(std::move(picture->graphic), picture->fullSize, picture->reduced);
    shownNative_ = picture->path;
    CopyImage->SetEnabled(true);
    PictureProperties->SetEnabled(true);
    ReadText->Clear();
    ShowFileName(QFile::decodeName(picture->path));
    if (!picture->preview) {
        // A copy waits for the full picture, which a reduced decode is not.
        if (copyWhenFull_ && shownReducedOnly_)
            DecodeWhatViewNeeds(true);
        else if (std::exchange(copyWhenFull_, false))
            CopyShownPicture();
        // The view may have been zoomed past what this decode covers while it ran.
        DecodeWhatViewNeeds();
        if (!larger) frames_->Open(picture->path);  // the same picture again, only larger
        PreloadNeighbours();
    }
}

void TForm1::KeepShownPicture(const QByteArray& next) {
    QImage reduction = ViewImage->PreparedReduction();
    std::unique_ptr<TGraphic> previous = ViewImage->Picture()->ReleaseGraphic();
    // A frame or page other than the plain load is not what the file shows first: not kept.
    if (previous && !shownIsPreview_ && !frames_->ShowingFrame() && shownNative_ != next)
        decoder_->Keep(shownNative_, std::move(previous), std::move(reduction),
                       shownReducedOnly_ ? ViewImage->PictureSize() : QSize());
}

void TForm1::PreloadNeighbours() {
    int selected = -1;
    for (int row = 0; row < BrowseFiles->ItemCount() && selected < 0; ++row)
        if (BrowseFiles->ItemSelected(row)) selected = row;
    if (selected < 0) return;
    QList<QByteArray> paths;
    for (int direction : {1, -1}) {
        for (int row = selected + direction; row >= 0 && row < BrowseFiles->ItemCount();
             row += direction) {
            if (!IsFileRow(row)) continue;
            paths << BrowseFiles->ItemNativePath(row);
            break;
        }
    }
    decoder_->Preload(paths, ViewWish());
}

void TForm1::PictureProgress(TProgressStage stage, uint8_t percent, const std::string& message) {
    // Decodes also run outside a load: a JPEG picture decodes when it is first painted. Such a
    // decode is timed from its own start and its display ends with it.
    if (!loading_) {
        if (stage == psStarting) loadTimer_.start();
        if (stage == psEnding) EndLoadProgress();
    }
    if (stage == psEnding || !loadTimer_.isValid() || loadTimer_.elapsed() < ProgressDelayMs)
        return;
    if (!loadHourglass_) loadHourglass_ = std::make_unique<THourglass>();
    QString text = QString::fromStdString(message).trimmed();
    if (text.isEmpty()) text = QStringLiteral("Loading...");
    loadProgress_->setText(QStringLiteral("%1 %2%").arg(text).arg(qMin<int>(percent, 100)));
    loadProgress_->adjustSize();
    loadProgress_->raise();
    loadProgress_->show();
    // The decode runs on this thread: paint the label now rather than at the next event loop
    // (not while the picture view itself is painting, which is where a first-draw decode runs).
    if (loadProgress_->isVisible() && loading_) loadProgress_->repaint();
}

void TForm1::EndLoadProgress() {
    loading_ = false;
    loadTimer_.invalidate();
    loadProgress_->hide();
    loadProgress_->clear();
    loadHourglass_.reset();
}

QString TForm1::LoadProgressText() const {
    return loadProgress_->isHidden() ? QString() : loadProgress_->text();
}

// --- Text menu -----------------------------------------------------------------------------------

void TForm1::ReadTextChange() {
    CopyMenu->SetEnabled(ReadText->SelLength() > 0);
}

void TForm1::ReadTextMouseDown() {
    CopyMenu->SetEnabled(ReadText->SelLength() > 0);
}

void TForm1::CopyMenuClick() {
    ReadText->CopyToClipboard();
}

void TForm1::ToggleBrowser(TMenuItem* item) {
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

void TForm1::BrowseMenuClick() {
    ToggleBrowser(BrowseMenu);
}

void TForm1::BrowseMenuIClick() {
    ToggleBrowser(BrowseMenuI);
}

void TForm1::TextAutoFocusClick() {
    if (TextAutoFocus->Checked()) {
        SetActiveControl(BrowseFiles);
        TextAutoFocus->SetChecked(false);
    } else {
        SetActiveControl(ReadText);
        TextAutoFocus->SetChecked(true);
    }
}

void TForm1::WrapMenuClick() {
    const bool wrap = !WrapMenu->Checked();
    ReadText->SetWordWrap(wrap);
    ReadText->SetScrollBars(wrap ? ssVertical : ssBoth);
    WrapMenu->SetChecked(wrap);
    ReadText->SetAlign(alClient);
    TAlignLayout::Realign(this);
    ReadText->update();
}

void TForm1::FindMenuClick() {
    if (!ReadText->Visible()) return;
    ReadText->ShowFindBar();
}

void TForm1::HexViewMenuClick() {
    HexViewMenu->SetChecked(!HexViewMenu->Checked());
    ReadText->SetHexForced(HexViewMenu->Checked());
}

void TForm1::LineNumbersMenuClick() {
    LineNumbersMenu->SetChecked(!LineNumbersMenu->Checked());
    ReadText->SetLineNumbers(LineNumbersMenu->Checked());
}

namespace {

struct TEncodingEntry {
    const char* caption;
    TTextEncoding encoding;
    const char* name;  // a code page's name, for Legacy
};

// "Automatic" first: the detected encoding.
constexpr TEncodingEntry kEncodings[] = {
    {"Automatic", TTextEncoding::Utf8, nullptr},
    {"UTF-8", TTextEncoding::Utf8, nullptr},
    {"UTF-16 LE", TTextEncoding::Utf16LE, nullptr},
    {"UTF-16 BE", TTextEncoding::Utf16BE, nullptr},
    {"UTF-32 LE", TTextEncoding::Utf32LE, nullptr},
    {"UTF-32 BE", TTextEncoding::Utf32BE, nullptr},
    {"Western (Windows-1252)", TTextEncoding::Windows1252, nullptr},
    {"Central European (Windows-1250)", TTextEncoding::Legacy, "windows-1250"},
    {"Central European (ISO-8859-2)", TTextEncoding::Legacy, "ISO-8859-2"},
    {"Cyrillic (Windows-1251)", TTextEncoding::Legacy, "windows-1251"},
    {"Cyrillic (KOI8-R)", TTextEncoding::Legacy, "KOI8-R"},
    {"Greek (Windows-1253)", TTextEncoding::Legacy, "windows-1253"},
    {"Turkish (Windows-1254)", TTextEncoding::Legacy, "windows-1254"},
    {"Hebrew (Windows-1255)", TTextEncoding::Legacy, "windows-1255"},
    {"Arabic (Windows-1256)", TTextEncoding::Legacy, "windows-1256"},
    {"Japanese (Shift_JIS)", TTextEncoding::Legacy, "Shift_JIS"},
    {"Japanese (EUC-JP)", TTextEncoding::Legacy, "EUC-JP"},
    {"Chinese Simplified (GB18030)", TTextEncoding::Legacy, "GB18030"},
    {"Chinese Traditional (Big5)", TTextEncoding::Legacy, "Big5"},
    {"Korean (EUC-KR)", TTextEncoding::Legacy, "EUC-KR"},
};

}  // namespace

void TForm1::CreateEncodingMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("EncodingSubmenu"));
    auto* group = new QActionGroup(menu);
    for (const TEncodingEntry& entry : kEncodings) {
        QAction* action = menu->addAction(QString::fromLatin1(entry.caption));
        action->setCheckable(true);
        group->addAction(action);
        if (entry.name == nullptr && &entry == &kEncodings[0]) menu->addSeparator();
        connect(action, &QAction::triggered, this, [this, &entry] {
            Application::HandleEvent([this, &entry] {
                // Each item reads the file shown again, whatever row the list has selected since.
                if (&entry == &kEncodings[0]) {
                    // Detected again from the file itself.
                    ReadText->DetectEncodingAgain();
                } else {
                    TEncodingChoice choice;
                    choice.encoding = entry.encoding;
                    if (entry.name) choice.legacyName = entry.name;
                    // A byte-order mark of the chosen form is still skipped.
                    const TEncodingChoice detected = ReadText->Encoding();
                    if (detected.encoding == entry.encoding) choice.bomSize = detected.bomSize;
                    ReadText->SetEncoding(choice);
                    return;
                }
                MarkEncoding();
            });
        });
    }
    menu->actions().first()->setChecked(true);
    EncodingMenu->setMenu(menu);
}

// The Encoding submenu marks "Automatic" for a file shown as detected.
void TForm1::MarkEncoding() {
    QMenu* menu = EncodingMenu->menu();
    if (!menu) return;
    QList<QAction*> actions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) actions << action;
    if (!actions.isEmpty()) actions.first()->setChecked(true);
}

void TForm1::FontMenuClick() {
    if (FontText->Execute(this)) ReadText->SetFont(FontText->Font());
    SetActiveControl(ReadText);
}

// --- File menu -----------------------------------------------------------------------------------

void TForm1::FolderMenuClick() {
    const bool show = !FolderMenu->Checked();
    BrowseFiles->SetShowFolders(show);
    FolderMenu->SetChecked(show);
    BrowseFiles->update();
}

void TForm1::FontMenuBClick() {
    if (FontBrowse->Execute(this)) BrowseDrives->SetFont(FontBrowse->Font());
    // The combo's font may have changed the list's height; the tree follows either way.
    BrowseDrives->SetTreeHeight(BrowseFiles->Height());
    BrowseFiles->SetFont(FontBrowse->Font());
}

void TForm1::SwitchToImageMode() {
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

void TForm1::SwitchToTextMode() {
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
void TForm1::OpenPath(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw std::runtime_error(
            QStringLiteral("Cannot open \"%1\". It does not exist").arg(path).toStdString());
    if (info.isDir()) {
        BrowseDrives->GoToFolder(info.absoluteFilePath() + QLatin1Char('/'));
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

void TForm1::BrowseTextFilesClick() {
    if (BrowseTextFiles->Checked())
        SwitchToImageMode();
    else
        SwitchToTextMode();
}

void TForm1::BrowseImageFilesClick() {
    if (BrowseImageFiles->Checked())
        SwitchToTextMode();
    else
        SwitchToImageMode();
}

void TForm1::DefaultSettings1Click() {
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
    ViewImage->SetZoomMode(false);
    FitView->SetChecked(false);
    ViewImage->SetAlign(alNone);
    ViewImage->SetAutoSize(true);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    BrowseMenuI->SetChecked(true);
    FullView->SetChecked(true);
    TileView->SetChecked(false);
    // 10. Picture background.
    PanelImage->SetColor(clBtnFace);
    ImageBk->SetColor(PanelImage->Color());
    // The list style.
    DetailsMenu->SetChecked(false);
    ApplyDetails();
    // Pictures in the screen's colours.
    ColorManagement->SetChecked(true);
    ApplyColorManagement();
    // Transparent parts over the background colour.
    Checkerboard->SetChecked(false);
    ViewImage->SetCheckerboard(false);
}

void TForm1::AboutVelkaro1Click() {
    AboutImage->ShowPicture();
}

// --- Image menu ----------------------------------------------------------------------------------

void TForm1::CopyImageClick() {
    // A reduced first decode or the camera's thumbnail is not the picture: the copy is made when
    // the full decode arrives.
    if (shownIsPreview_) {
        copyWhenFull_ = true;
        return;
    }
    // A reduced decode that covers the view: the full one is made for the copy.
    if (shownReducedOnly_) {
        copyWhenFull_ = true;
        DecodeWhatViewNeeds(true);
        return;
    }
    CopyShownPicture();
}

void TForm1::CopyShownPicture() {
    const TGraphic* graphic = ViewImage->Picture()->Graphic();
    if (graphic == nullptr) return;  // nothing shown (the text mode cleared the picture)
    QImage image = GraphicToImage(*graphic);
    if (image.isNull()) return;
    auto run = [decoder = decoder_](std::function<void()> task,
                                    std::shared_ptr<std::atomic<bool>> cancel) {
        decoder->Submit(std::move(task), std::move(cancel));
    };
    QApplication::clipboard()->setMimeData(new TClipboardPicture(std::move(image), run));
}

void TForm1::FullViewClick() {
    ViewImage->SetZoomMode(false);
    FitView->SetChecked(false);
    ViewImage->SetAlign(alNone);
    ViewImage->SetAutoSize(true);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    FullView->SetChecked(true);
    TileView->SetChecked(false);
}

void TForm1::TileViewClick() {
    ViewImage->SetZoomMode(false);
    FitView->SetChecked(false);
    ViewImage->SetAlign(alClient);
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(true);
    FullView->SetChecked(false);
    TileView->SetChecked(true);
}

void TForm1::BackgroundColour1Click() {
    if (!ImageBk->Execute(this)) return;
    PanelImage->SetColor(ImageBk->Color());
    // Chosen in full screen: the colour the window comes back with.
    if (fullScreen_) colorBeforeFullScreen_ = ImageBk->Color();
}

void TForm1::FormCloseQuery(bool& canClose) {
    (void)canClose;
    LeaveFullScreen();
}

void TForm1::FitViewClick() {
    ViewImage->SetStretch(false);
    ViewImage->SetTiled(false);
    ViewImage->ZoomToFit();
    FullView->SetChecked(false);
    TileView->SetChecked(false);
    FitView->SetChecked(true);
}

// --- Zoom, turn, full screen
// ----------------------------------------------------------------------

void TForm1::ZoomInClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomStep(1);
}

void TForm1::ZoomOutClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomStep(-1);
}

void TForm1::ZoomFitClick() {
    // The same as choosing Fit View: ticked, and stored with the settings.
    if (BrowseImageFiles->Checked()) FitViewClick();
}

void TForm1::ZoomActualClick() {
    if (BrowseImageFiles->Checked()) ViewImage->ZoomTo(1.0);
}

void TForm1::RotateRightClick() {
    if (BrowseImageFiles->Checked()) ViewImage->TurnView(1);
}

void TForm1::RotateLeftClick() {
    if (BrowseImageFiles->Checked()) ViewImage->TurnView(-1);
}

void TForm1::FlipViewClick() {
    if (BrowseImageFiles->Checked()) ViewImage->FlipView();
}

void TForm1::PicturePropertiesClick() {
    if (shownNative_.isEmpty() || ViewImage->Picture()->Graphic() == nullptr) return;
    // A reduced decode holds fewer pixels than the picture: its size is the picture's.
    ShowPictureProperties(this, shownNative_, ViewImage->Picture()->Graphic(), frames_->Count(),
                          ViewImage->PictureSize());
}

void TForm1::FullScreenClick() {
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

void TForm1::LeaveFullScreen() {
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

bool TForm1::IsFileRow(int row) const {
    return BrowseFiles->ItemSubItem(row, 5) == QLatin1String(TFileListView::KindFile);
}

void TForm1::MoveToPicture(int from, int direction) {
    if (!BrowseImageFiles->Checked()) return;
    const int count = BrowseFiles->ItemCount();
    for (int row = from + direction; row >= 0 && row < count; row += direction) {
        if (!IsFileRow(row)) continue;
        BrowseFiles->SetItemSelected(row, true);
        BrowseFiles->SetItemFocused(row);
        BrowseFiles->Click();
        return;
    }
}

namespace {

// The first selected row of the list, or -1.
int SelectedRow(const TFileListView& list) {
    for (int row = 0; row < list.ItemCount(); ++row)
        if (list.ItemSelected(row)) return row;
    return -1;
}

}  // namespace

void TForm1::NextPictureClick() {
    MoveToPicture(SelectedRow(*BrowseFiles), 1);
}

void TForm1::PreviousPictureClick() {
    const int row = SelectedRow(*BrowseFiles);
    MoveToPicture(row < 0 ? BrowseFiles->ItemCount() : row, -1);
}

void TForm1::FirstPictureClick() {
    MoveToPicture(-1, 1);
}

void TForm1::LastPictureClick() {
    MoveToPicture(BrowseFiles->ItemCount(), -1);
}

// --- Title and status line ----------------------------------------------------------------------

void TForm1::ShownFileRenamed(const QString& oldPath, const QString& newPath) {
    if (oldPath != shownFile_) return;
    const QByteArray native = BrowseFiles->SelectedItemNative();
    if (ReadText->NativeFileName() == QFile::encodeName(oldPath))
        ReadText->FileRenamed(native, newPath);
    if (shownNative_ == QFile::encodeName(oldPath)) shownNative_ = native;
    ShowFileName(newPath);
}

void TForm1::ShowFileName(const QString& path) {
    shownFile_ = path;
    const QString name = QFileInfo(path).fileName();
    SetCaption(name.isEmpty() ? QStringLiteral("Velkaro") : name + QStringLiteral(" - Velkaro"));
    UpdateStatus();
}

void TForm1::SyncViewMarks() {
    // Full and Tile View are the menu's own choices; a zoomed, turned or flipped picture is
    // neither, and Fit View is ticked only while the picture is fitted. Full screen keeps the
    // window's marks, which it comes back to.
    if (fullScreen_ || !ViewImage->ZoomMode()) return;
    FitView->SetChecked(ViewImage->FitMode());
    FullView->SetChecked(false);
    TileView->SetChecked(false);
}

void TForm1::UpdateStatus() {
    if (status_ == nullptr) return;
    status_->setText(StatusText());
}

QString TForm1::StatusText() const {
    const TPicture* picture = ViewImage->Picture();
    const QSize size = ViewImage->PictureSize();
    if (picture->Graphic() == nullptr && !ViewImage->Message().isEmpty())
        return QStringLiteral("No picture");
    if (picture->Graphic() == nullptr || size.isEmpty()) return QString();
    const double scale = ViewImage->ZoomMode() ? ViewImage->View().scale : 1.0;
    // What the content was read as, whatever the name says.
    const QString format = QString::fromStdString(GraphicFormatName(*picture->Graphic()));
    return QStringLiteral("%1 x %2   %3   %4 %")
               .arg(size.width())
               .arg(size.height())
               .arg(format)
               .arg(QString::number(scale * 100, 'f', scale < 0.1 ? 1 : 0)) +
           FrameStatus() + LoadWarningStatus(*picture->Graphic());
}

QString TForm1::LoadWarningStatus(const TGraphic& graphic) {
    // A picture shown only in part (a damaged or cut file, or frame) says why.
    const std::string& warning = graphic.LoadWarning();
    return warning.empty() ? QString() : QStringLiteral("   ") + QString::fromStdString(warning);
}

QString TForm1::FrameStatus() const {
    if (!frames_->Active()) return QString();
    const QString text =
        frames_->Pages() ? QStringLiteral("   page %1 of %2") : QStringLiteral("   frame %1 of %2");
    return text.arg(frames_->Index() + 1).arg(frames_->Count()) +
           (frames_->Animation() && frames_->Paused() ? QStringLiteral(" (paused)") : QString());
}

void TForm1::UpdateFrameItems() {
    const bool animation = frames_->Animation();
    PauseAnimation->SetEnabled(animation);
    PauseAnimation->SetCaption(animation && frames_->Paused() ? QStringLiteral("Resume Animation")
                                                              : QStringLiteral("Pause Animation"));
    NextFrame->SetEnabled(animation && frames_->Paused());
    PreviousFrame->SetEnabled(animation && frames_->Paused());
    NextPage->SetEnabled(frames_->Pages() && frames_->Index() + 1 < frames_->Count());
    PreviousPage->SetEnabled(frames_->Pages() && frames_->Index() > 0);
}

void TForm1::PauseAnimationClick() {
    frames_->SetPaused(!frames_->Paused());
}

void TForm1::NextFrameClick() {
    frames_->Step(1);
}

void TForm1::PreviousFrameClick() {
    frames_->Step(-1);
}

void TForm1::NextPageClick() {
    frames_->Step(1);
}

void TForm1::PreviousPageClick() {
    frames_->Step(-1);
}
