#include "TestWindow.h"

TTestFileList::TTestFileList(const QString& name, QWidget* parent) : TControl<QFrame>(parent) {
    setObjectName(name);
    SetFont(TFont());
}

TTestPictureView::TTestPictureView(const QString& name, QWidget* parent)
    : TControl<QWidget>(parent) {
    setObjectName(name);
}

QStringList TTestWindow::MainStoredProps() {
    return {"ReadText.Visible",
            "PanelImage.Visible",
            "BrowseFiles.Directory",
            "PanelLeft.Width",
            "ReadText.Font",
            "BrowseDrives.Font",
            "BrowseFiles.Font",
            "FontText.Font",
            "FontBrowse.Font",
            "WrapMenu.Checked",
            "FolderMenu.Checked",
            "TextAutoFocus.Checked",
            "BrowseFiles.ShowFolders",
            "BrowseTextFiles.Checked",
            "BrowseImageFiles.Checked",
            "ViewImage.Align",
            "ViewImage.AutoSize",
            "ViewImage.Stretch",
            "ViewImage.Tiled",
            "FullView.Checked",
            "TileView.Checked",
            "PanelImage.Color",
            "ImageBk.Color"};
}

TTestWindow::TTestWindow(const QString& iniPath, QWidget* parent)
    : TForm(QStringLiteral("Form1"), parent) {
    // No frame, so that the outer position equals the geometry's.
    setWindowFlag(Qt::FramelessWindowHint);
    setGeometry(20, 20, 600, 400);
    PanelTop = new TPanel(QStringLiteral("PanelTop"), this);
    PanelTop->SetAlign(alTop);
    PanelTop->SetHeight(2);
    PanelLeft = new TPanel(QStringLiteral("PanelLeft"), this);
    PanelLeft->SetAlign(alLeft);
    PanelLeft->SetWidth(240);
    BrowseDrives = new TTestFileList(QStringLiteral("BrowseDrives"), PanelLeft);
    BrowseFiles = new TTestFileList(QStringLiteral("BrowseFiles"), PanelLeft);
    BrowseFiles->SetDirectory(QStringLiteral("/home/user/"));
    PanelImage = new TPanel(QStringLiteral("PanelImage"), this);
    PanelImage->SetVisible(false);
    ViewImage = new TTestPictureView(QStringLiteral("ViewImage"), PanelImage);
    ReadText = new TMemo(QStringLiteral("ReadText"), this);
    ReadText->SetAlign(alClient);
    FontText = new TFontDialog(QStringLiteral("FontText"), this);
    FontBrowse = new TFontDialog(QStringLiteral("FontBrowse"), this);
    ImageBk = new TColorDialog(QStringLiteral("ImageBk"), this);
    ImageBk->SetColor(clBtnFace);

    TextMenu = new TPopupMenu(QStringLiteral("TextMenu"), this);
    TextAutoFocus =
        TextMenu->Add(QStringLiteral("TextAutoFocus"), QStringLiteral("Text AutoFocus"));
    WrapMenu = TextMenu->Add(QStringLiteral("WrapMenu"), QStringLiteral("Word Wrap"));
    WrapMenu->SetChecked(true);
    FileMenu = new TPopupMenu(QStringLiteral("FileMenu"), this);
    BrowseTextFiles =
        FileMenu->Add(QStringLiteral("BrowseTextFiles"), QStringLiteral("Browse Text Files"));
    BrowseImageFiles =
        FileMenu->Add(QStringLiteral("BrowseImageFiles"), QStringLiteral("Browse Image Files"));
    FolderMenu = FileMenu->Add(QStringLiteral("FolderMenu"), QStringLiteral("Show Folders"));
    BrowseTextFiles->SetChecked(true);
    FolderMenu->SetChecked(true);
    ImageMenu = new TPopupMenu(QStringLiteral("ImageMenu"), this);
    FullView = ImageMenu->Add(QStringLiteral("FullView"), QStringLiteral("Full View"));
    TileView = ImageMenu->Add(QStringLiteral("TileView"), QStringLiteral("Tile View"));
    FullView->SetChecked(true);
    Kinds = new TTestKinds(QStringLiteral("Kinds"), this);

    FormStorage1 = new TFormStorage(QStringLiteral("FormStorage1"), this);
    FormStorage1->SetIniFileName(iniPath);
    FormStorage1->SetIniSection(QStringLiteral("User"));
    FormStorage1->SetStoredProps(MainStoredProps());
    FormStorage1->Loaded();
    connect(FormStorage1, &TFormPlacement::OnRestorePlacement, this,
            [this] { Log.append(QStringLiteral("read")); });
    connect(FormStorage1, &TFormPlacement::OnSavePlacement, this,
            [this] { Log.append(QStringLiteral("save")); });
}

TTestWindow::~TTestWindow() {
    RunDestroyHandlers();
}

void TTestWindow::FormShow() {
    Log.append(QStringLiteral("show"));
}

void TTestWindow::FormCloseQuery(bool& canClose) {
    canClose = AllowClose;
}
