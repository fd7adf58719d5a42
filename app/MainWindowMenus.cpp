// The main window's popup menus: their items, keys and the handlers they run.
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

#include <functional>

#include "app/MainWindow.h"
#include "toolkit/Application.h"

void TMainWindow::CreateMenus() {
    TextMenu = new TPopupMenu(QStringLiteral("TextMenu"), this);
    CopyMenu = TextMenu->Add(QStringLiteral("CopyMenu"), QStringLiteral("Copy To Clipboard"));
    TextMenu->Add(QStringLiteral("N1"), QStringLiteral("-"));
    BrowseMenu = TextMenu->Add(QStringLiteral("BrowseMenu"), QStringLiteral("View Browser"));
    TextAutoFocus =
        TextMenu->Add(QStringLiteral("TextAutoFocus"), QStringLiteral("Text AutoFocus"));
    TextMenu->Add(QStringLiteral("N2"), QStringLiteral("-"));
    WrapMenu = TextMenu->Add(QStringLiteral("WrapMenu"), QStringLiteral("Word Wrap"));
    FontMenu = TextMenu->Add(QStringLiteral("FontMenu"), QStringLiteral("Reader Font  ..."));
    TextMenu->Add(QStringLiteral("N12"), QStringLiteral("-"));
    FindMenu = TextMenu->Add(QStringLiteral("FindMenu"), QStringLiteral("Find ..."));
    HighlightsMenu =
        TextMenu->Add(QStringLiteral("HighlightsMenu"), QStringLiteral("Highlights ..."));
    EncodingMenu = TextMenu->Add(QStringLiteral("EncodingMenu"), QStringLiteral("Encoding"));
    HexViewMenu = TextMenu->Add(QStringLiteral("HexViewMenu"), QStringLiteral("Hex View"));
    LineNumbersMenu =
        TextMenu->Add(QStringLiteral("LineNumbersMenu"), QStringLiteral("Line Numbers"));
    // Reading logs: the list of matching lines, going to a line, and marked lines.
    TextMenu->Add(QStringLiteral("N15"), QStringLiteral("-"));
    const struct {
        const char* name;
        const char* caption;
        QKeySequence key;
        std::function<void(TMemo*)> run;
    } logItems[] = {
        {"FilterMenu", "Matching Lines", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
         [](TMemo* memo) { memo->ShowFilterPane(); }},
        {"GoToLineMenu", "Go To Line ...", QKeySequence(Qt::CTRL | Qt::Key_G),
         [](TMemo* memo) { memo->AskGoToLine(); }},
        {"MarkMenu", "Mark Line", QKeySequence(Qt::CTRL | Qt::Key_M),
         [](TMemo* memo) { memo->ToggleMark(memo->Caret()); }},
        {"NextMarkMenu", "Next Mark", QKeySequence(Qt::Key_F9),
         [](TMemo* memo) { memo->GoToMark(true); }},
        {"PreviousMarkMenu", "Previous Mark", QKeySequence(Qt::CTRL | Qt::Key_F9),
         [](TMemo* memo) { memo->GoToMark(false); }},
    };
    for (const auto& entry : logItems) {
        TMenuItem* item =
            TextMenu->Add(QString::fromLatin1(entry.name), QString::fromLatin1(entry.caption));
        item->setShortcut(entry.key);
        item->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        ReadText->addAction(item);
        connect(item, &TMenuItem::OnClick, this, [this, run = entry.run] {
            Application::HandleEvent([this, &run] {
                if (ReadText->Visible()) run(ReadText);
            });
        });
    }
    CopyMenu->SetEnabled(false);
    BrowseMenu->SetChecked(true);
    WrapMenu->SetChecked(true);

    FileMenu = new TPopupMenu(QStringLiteral("FileMenu"), this);
    BrowseTextFiles =
        FileMenu->Add(QStringLiteral("BrowseTextFiles"), QStringLiteral("Browse Text Files"));
    BrowseImageFiles =
        FileMenu->Add(QStringLiteral("BrowseImageFiles"), QStringLiteral("Browse Image Files"));
    FileMenu->Add(QStringLiteral("N4"), QStringLiteral("-"));
    FolderMenu = FileMenu->Add(QStringLiteral("FolderMenu"), QStringLiteral("Show Folders"));
    FontMenuB = FileMenu->Add(QStringLiteral("FontMenuB"), QStringLiteral("Browser Font ..."));
    FileMenu->Add(QStringLiteral("N3"), QStringLiteral("-"));
    DefaultSettingsItem =
        FileMenu->Add(QStringLiteral("DefaultSettings1"), QStringLiteral("Default Settings"));
    FileMenu->Add(QStringLiteral("N5"), QStringLiteral("-"));
    AboutItem = FileMenu->Add(QStringLiteral("AboutVelkaro1"), QStringLiteral("About Velkaro ..."));
    BrowseTextFiles->SetChecked(true);
    FolderMenu->SetChecked(true);

    ImageMenu = new TPopupMenu(QStringLiteral("ImageMenu"), this);
    CopyImage = ImageMenu->Add(QStringLiteral("CopyImage"), QStringLiteral("Copy To Clipboard"));
    ImageMenu->Add(QStringLiteral("N6"), QStringLiteral("-"));
    BrowseMenuI = ImageMenu->Add(QStringLiteral("BrowseMenuI"), QStringLiteral("View Browser"));
    ImageMenu->Add(QStringLiteral("N7"), QStringLiteral("-"));
    FullView = ImageMenu->Add(QStringLiteral("FullView"), QStringLiteral("Full View"));
    TileView = ImageMenu->Add(QStringLiteral("TileView"), QStringLiteral("Tile View"));
    FitView = ImageMenu->Add(QStringLiteral("FitView"), QStringLiteral("Fit View"));
    ImageMenu->Add(QStringLiteral("N9"), QStringLiteral("-"));
    ZoomIn = ImageMenu->Add(QStringLiteral("ZoomIn"), QStringLiteral("Zoom In"));
    ZoomOut = ImageMenu->Add(QStringLiteral("ZoomOut"), QStringLiteral("Zoom Out"));
    ZoomFit = ImageMenu->Add(QStringLiteral("ZoomFit"), QStringLiteral("Zoom To Fit"));
    ZoomActual = ImageMenu->Add(QStringLiteral("ZoomActual"), QStringLiteral("Actual Size"));
    ImageMenu->Add(QStringLiteral("N10"), QStringLiteral("-"));
    RotateRight = ImageMenu->Add(QStringLiteral("RotateRight"), QStringLiteral("Rotate Right"));
    RotateLeft = ImageMenu->Add(QStringLiteral("RotateLeft"), QStringLiteral("Rotate Left"));
    FlipView = ImageMenu->Add(QStringLiteral("FlipView"), QStringLiteral("Flip Horizontally"));
    SaveRotation = ImageMenu->Add(QStringLiteral("SaveRotation"), QStringLiteral("Save Rotation"));
    SaveAs = ImageMenu->Add(QStringLiteral("SaveAs"), QStringLiteral("Save As..."));
    ImageMenu->Add(QStringLiteral("N11"), QStringLiteral("-"));
    NextPicture = ImageMenu->Add(QStringLiteral("NextPicture"), QStringLiteral("Next Picture"));
    PreviousPicture =
        ImageMenu->Add(QStringLiteral("PreviousPicture"), QStringLiteral("Previous Picture"));
    FullScreen = ImageMenu->Add(QStringLiteral("FullScreen"), QStringLiteral("Full Screen"));
    ImageMenu->Add(QStringLiteral("N14"), QStringLiteral("-"));
    PauseAnimation =
        ImageMenu->Add(QStringLiteral("PauseAnimation"), QStringLiteral("Pause Animation"));
    NextFrame = ImageMenu->Add(QStringLiteral("NextFrame"), QStringLiteral("Next Frame"));
    PreviousFrame =
        ImageMenu->Add(QStringLiteral("PreviousFrame"), QStringLiteral("Previous Frame"));
    NextPage = ImageMenu->Add(QStringLiteral("NextPage"), QStringLiteral("Next Page"));
    PreviousPage = ImageMenu->Add(QStringLiteral("PreviousPage"), QStringLiteral("Previous Page"));
    ImageMenu->Add(QStringLiteral("N8"), QStringLiteral("-"));
    BackgroundColourItem =
        ImageMenu->Add(QStringLiteral("BackgroundColour1"), QStringLiteral("Background  ..."));
    ImageMenu->Add(QStringLiteral("N13"), QStringLiteral("-"));
    PictureProperties = ImageMenu->Add(QStringLiteral("PictureProperties"),
                                       QStringLiteral("Picture Properties..."));
    CopyImage->SetEnabled(false);
    PictureProperties->SetEnabled(false);
    BrowseMenuI->SetChecked(true);
    FullView->SetChecked(true);

    NoPopup = new TPopupMenu(QStringLiteral("NoPopup"), this);

    Wire(CopyMenu, &TMenuItem::OnClick, &TMainWindow::CopyMenuClick);
    Wire(BrowseMenu, &TMenuItem::OnClick, &TMainWindow::BrowseMenuClick);
    Wire(TextAutoFocus, &TMenuItem::OnClick, &TMainWindow::TextAutoFocusClick);
    Wire(WrapMenu, &TMenuItem::OnClick, &TMainWindow::WrapMenuClick);
    Wire(FontMenu, &TMenuItem::OnClick, &TMainWindow::FontMenuClick);
    Wire(FindMenu, &TMenuItem::OnClick, &TMainWindow::FindMenuClick);
    Wire(HighlightsMenu, &TMenuItem::OnClick, &TMainWindow::HighlightsMenuClick);
    Wire(HexViewMenu, &TMenuItem::OnClick, &TMainWindow::HexViewMenuClick);
    Wire(LineNumbersMenu, &TMenuItem::OnClick, &TMainWindow::LineNumbersMenuClick);
    CreateEncodingMenu();
    Wire(BrowseTextFiles, &TMenuItem::OnClick, &TMainWindow::BrowseTextFilesClick);
    Wire(BrowseImageFiles, &TMenuItem::OnClick, &TMainWindow::BrowseImageFilesClick);
    Wire(FolderMenu, &TMenuItem::OnClick, &TMainWindow::FolderMenuClick);
    Wire(FontMenuB, &TMenuItem::OnClick, &TMainWindow::FontMenuBClick);
    Wire(DefaultSettingsItem, &TMenuItem::OnClick, &TMainWindow::DefaultSettingsClick);
    Wire(AboutItem, &TMenuItem::OnClick, &TMainWindow::AboutClick);
    Wire(CopyImage, &TMenuItem::OnClick, &TMainWindow::CopyImageClick);
    Wire(BrowseMenuI, &TMenuItem::OnClick, &TMainWindow::BrowseMenuIClick);
    Wire(FullView, &TMenuItem::OnClick, &TMainWindow::FullViewClick);
    Wire(TileView, &TMenuItem::OnClick, &TMainWindow::TileViewClick);
    Wire(BackgroundColourItem, &TMenuItem::OnClick, &TMainWindow::BackgroundColourClick);
    Wire(FitView, &TMenuItem::OnClick, &TMainWindow::FitViewClick);
    Wire(ZoomIn, &TMenuItem::OnClick, &TMainWindow::ZoomInClick);
    Wire(ZoomOut, &TMenuItem::OnClick, &TMainWindow::ZoomOutClick);
    Wire(ZoomFit, &TMenuItem::OnClick, &TMainWindow::ZoomFitClick);
    Wire(ZoomActual, &TMenuItem::OnClick, &TMainWindow::ZoomActualClick);
    Wire(RotateRight, &TMenuItem::OnClick, &TMainWindow::RotateRightClick);
    Wire(RotateLeft, &TMenuItem::OnClick, &TMainWindow::RotateLeftClick);
    Wire(FlipView, &TMenuItem::OnClick, &TMainWindow::FlipViewClick);
    Wire(SaveRotation, &TMenuItem::OnClick, &TMainWindow::SaveRotationClick);
    Wire(SaveAs, &TMenuItem::OnClick, &TMainWindow::SaveAsClick);
    Wire(NextPicture, &TMenuItem::OnClick, &TMainWindow::NextPictureClick);
    Wire(PreviousPicture, &TMenuItem::OnClick, &TMainWindow::PreviousPictureClick);
    Wire(FullScreen, &TMenuItem::OnClick, &TMainWindow::FullScreenClick);
    Wire(PictureProperties, &TMenuItem::OnClick, &TMainWindow::PicturePropertiesClick);
    Wire(PauseAnimation, &TMenuItem::OnClick, &TMainWindow::PauseAnimationClick);
    Wire(NextFrame, &TMenuItem::OnClick, &TMainWindow::NextFrameClick);
    Wire(PreviousFrame, &TMenuItem::OnClick, &TMainWindow::PreviousFrameClick);
    Wire(NextPage, &TMenuItem::OnClick, &TMainWindow::NextPageClick);
    Wire(PreviousPage, &TMenuItem::OnClick, &TMainWindow::PreviousPageClick);

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
    keys(SaveRotation, {QKeySequence(Qt::CTRL | Qt::Key_S)});
    keys(SaveAs, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    keys(FullScreen, {QKeySequence(Qt::Key_F11)});
    // Find belongs to the text pane: the file list keeps its own Ctrl+F.
    keys(FindMenu, {QKeySequence(QKeySequence::Find)});
    FindMenu->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ReadText->addAction(FindMenu);

    for (TMenuItem* item : {ZoomIn, ZoomOut, ZoomFit, ZoomActual, RotateRight, RotateLeft, FlipView,
                            SaveRotation, SaveAs, FullScreen}) {
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
                          void (TMainWindow::*handler)()) {
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
            &TMainWindow::FirstPictureClick);
    paneKey(PanelImage, QKeySequence(Qt::Key_End), Qt::WidgetWithChildrenShortcut,
            &TMainWindow::LastPictureClick);
    fullScreenKeys_ = {paneKey(this, QKeySequence(Qt::Key_Right), Qt::WindowShortcut,
                               &TMainWindow::NextPictureClick),
                       paneKey(this, QKeySequence(Qt::Key_Left), Qt::WindowShortcut,
                               &TMainWindow::PreviousPictureClick),
                       paneKey(this, QKeySequence(Qt::Key_Escape), Qt::WindowShortcut,
                               &TMainWindow::LeaveFullScreen)};
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
    CreatePictureHelpers();
    CreateDetailsItem();
    CreateThumbnailsItem();
    CreateColorManagementItem();
    CreateCheckerboardItem();
    CreateSlideshowItems();
    CreateOpenWithItems();
    CreateAboutKey();
    CreateLocationEntry();

    ::SetPopupMenu(ReadText, TextMenu);
    ::SetPopupMenu(BrowseFiles, FileMenu);
    ::SetPopupMenu(ViewImage, ImageMenu);
    ::SetPopupMenu(BrowseDrives, NoPopup);
}

// The list's file commands, put before the menu's own items.
void TMainWindow::CreateFileCommands() {
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
    FileMenu->Insert(at, QStringLiteral("NFileCommands"), QStringLiteral("-"));
    connect(FileMenu, &QMenu::aboutToShow, this, &TMainWindow::UpdateFileCommands);
}

void TMainWindow::UpdateFileCommands() {
    for (TMenuItem* item : {FileOpen, FileCut, FileCopy, FilePaste, FileDelete,
                            FileDeletePermanently, FileNewFolder, FileProperties})
        item->SetEnabled(BrowseFiles->ActionEnabled(
            static_cast<TFileListView::TListAction>(item->property("listAction").toInt())));
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

void TMainWindow::CreateEncodingMenu() {
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
void TMainWindow::MarkEncoding() {
    QMenu* menu = EncodingMenu->menu();
    if (!menu) return;
    QList<QAction*> actions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) actions << action;
    if (!actions.isEmpty()) actions.first()->setChecked(true);
}
