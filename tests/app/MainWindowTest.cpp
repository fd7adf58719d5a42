#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCursor>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "browse/ShellHelpers.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "toolkit/Application.h"

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A 24-bit Windows bitmap of one colour (blue, green, red bytes).
void WriteBmp(const QString& path, int width, int height, uint8_t b, uint8_t g, uint8_t r) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    TFileStream stream(QFile::encodeName(path).toStdString(), TFileStream::fmCreate);
    bitmap.SaveToStream(stream);
}

// A folder with text files, a picture name, a sub-folder and an entry that exists but cannot
// be opened (a socket, which not even the super-user can read), set as the working folder
// while the window is created.
class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = QDir(dir_.path()).canonicalPath();
        WriteFile(Path("utf8.txt"), "caf\xC3\xA9\nline two\n");
        WriteFile(Path("latin.txt"), "caf\xE9 \x80\r\nsecond\r\nthird");
        WriteFile(Path("long.log"), QByteArray(3000, 'w'));
        WriteFile(Path("picture.png"), "not really");
        QDir(folder_).mkdir("sub");
        QDir(folder_).mkdir("folder.txt");
        MakeSocket(Path("socket.txt"));
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_);
        // The settings file goes to a folder of the test's own, never the user's.
        ASSERT_TRUE(config_.isValid());
        hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        errors_.clear();
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
        RegisterImageFormats();  // as the program does before creating the window
        form_ = std::make_unique<TMainWindow>();
    }

    void TearDown() override {
        form_.reset();
        UnregisterImageFormats();
        Application::SetErrorBoxHook(nullptr);
        TFontDialog::ExecuteHook = nullptr;
        TColorDialog::ExecuteHook = nullptr;
        QDir::setCurrent(previous_);
        if (!hadConfig_)
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    QString Path(const QString& name) const { return folder_ + "/" + name; }

    static void MakeSocket(const QString& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        ASSERT_LT(native.size(), static_cast<qsizetype>(sizeof(addr.sun_path)));
        std::memcpy(addr.sun_path, native.constData(), native.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        ::close(fd);
    }

    // Clicks a row of the file list by its full path, as the user would; returns whether the
    // row was listed.
    bool ClickFile(const QString& path) {
        TFileListView* list = form_->BrowseFiles;
        for (int row = 0; row < list->ItemCount(); ++row) {
            if (QDir::cleanPath(list->ItemSubItem(row, 4)) == QDir::cleanPath(path)) {
                list->SetItemSelected(row, true);
                list->Click();
                WaitForPicture();
                return true;
            }
        }
        // Not listed (filtered by the mask): report it the way a click would.
        list->SetSelectedItem(path);
        form_->BrowseFilesClick();
        WaitForPicture();
        return false;
    }

    // Pictures decode on worker threads: lets the event loop run until the asked one arrived.
    void WaitForPicture() {
        QElapsedTimer timer;
        timer.start();
        while (form_->PictureLoading() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    QStringList Captions() const {
        QStringList names;
        for (int row = 0; row < form_->BrowseFiles->ItemCount(); ++row)
            names << form_->BrowseFiles->ItemCaption(row).trimmed();
        return names;
    }

    // Selects characters [from, to) of the text shown (the view selects bytes of the file).
    void SelectText(int from, int to) {
        const QString text = form_->ReadText->Text();
        form_->ReadText->Select(text.left(from).toUtf8().size(), text.left(to).toUtf8().size());
    }

    void RightMouseDownOnMemo() {
        QWidget* viewport = form_->ReadText->viewport();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5),
                          viewport->mapToGlobal(QPointF(5, 5)), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
    }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QByteArray previousConfig_;
    bool hadConfig_ = false;
    QString folder_;
    QString previous_;
    QStringList errors_;
    std::unique_ptr<TMainWindow> form_;
};

}  // namespace

TEST_F(MainWindowTest, FirstRunStartsInTextModeInTheCurrentFolder) {
    TMainWindow& f = *form_;
    EXPECT_EQ(f.objectName(), "Form1");
    EXPECT_EQ(f.Caption(), "Velkaro");
    EXPECT_TRUE(f.ReadText->Visible());
    EXPECT_FALSE(f.PanelImage->Visible());
    EXPECT_TRUE(f.BrowseTextFiles->Checked());
    EXPECT_FALSE(f.BrowseImageFiles->Checked());
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::TextMask);
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), folder_);
    EXPECT_TRUE(f.WrapMenu->Checked());
    EXPECT_TRUE(f.ReadText->WordWrap());
    EXPECT_EQ(f.ReadText->ScrollBars(), ssNone);
    EXPECT_TRUE(f.ReadText->ReadOnly());
    EXPECT_TRUE(f.FolderMenu->Checked());
    EXPECT_TRUE(f.BrowseFiles->ShowFolders());
    EXPECT_FALSE(f.TextAutoFocus->Checked());
    EXPECT_EQ(f.ActiveControl(), f.BrowseFiles);
    EXPECT_FALSE(f.CopyMenu->Enabled());
    EXPECT_FALSE(f.CopyImage->Enabled());
    EXPECT_TRUE(f.FullView->Checked());
    EXPECT_FALSE(f.TileView->Checked());
    EXPECT_TRUE(f.BrowseMenu->Checked());
    EXPECT_TRUE(f.BrowseMenuI->Checked());
    EXPECT_EQ(f.PanelImage->Color(), clBtnFace);
    EXPECT_EQ(f.ImageBk->Color(), clBtnFace);
    EXPECT_EQ(f.ReadText->Color(), clWindow);
    EXPECT_EQ(f.ReadText->Font(), TFont());
    EXPECT_EQ(f.PanelLeft->Width(), 240);

    // The text mask lists text files and folders, not the picture.
    const QStringList rows = Captions();
    EXPECT_TRUE(rows.contains("utf8.txt"));
    EXPECT_TRUE(rows.contains("long.log"));
    EXPECT_TRUE(rows.contains("sub"));
    EXPECT_FALSE(rows.contains("picture.png"));
}

TEST_F(MainWindowTest, WindowLayoutFollowsTheAlignments) {
    TMainWindow& f = *form_;
    f.show();
    f.resize(600, 400);
    TAlignLayout::Realign(&f);
    EXPECT_EQ(f.PanelTop->geometry(), QRect(0, 0, 600, 2));
    EXPECT_EQ(f.PanelLeft->geometry(), QRect(0, 2, 240, 398));
    EXPECT_EQ(f.SplitterV->geometry(), QRect(240, 2, 2, f.height() - 2));
    EXPECT_EQ(f.ReadText->geometry(), QRect(242, 2, 358, 398));
    EXPECT_EQ(f.BrowseDrives->geometry(), QRect(0, 0, 240, 21));
    EXPECT_EQ(f.PanelDiv->geometry(), QRect(0, 21, 240, 2));
    EXPECT_EQ(f.BrowseFiles->geometry(), QRect(0, 23, 240, 375));
    EXPECT_EQ(f.ScrollImage->parentWidget(), f.PanelImage);
    EXPECT_EQ(f.ViewImage->parentWidget(), f.ScrollImage->Contents());
    EXPECT_EQ(f.ViewImage->pos(), QPoint(0, 0));
}

TEST_F(MainWindowTest, MenusHoldEveryItemWithItsExactCaption) {
    auto items = [](TPopupMenu* menu) {
        QStringList list;
        for (TMenuItem* item : menu->Items())
            list << item->objectName() + "=" + item->Caption();
        return list;
    };
    EXPECT_EQ(items(form_->TextMenu),
              QStringList({"CopyMenu=Copy To Clipboard", "N1=-", "BrowseMenu=View Browser",
                           "TextAutoFocus=Text AutoFocus", "N2=-", "WrapMenu=Word Wrap",
                           "FontMenu=Reader Font  ...", "N12=-", "FindMenu=Find ...",
                           "HighlightsMenu=Highlights ...", "EncodingMenu=Encoding",
                           "HexViewMenu=Hex View", "LineNumbersMenu=Line Numbers", "N15=-",
                           "FilterMenu=Matching Lines", "GoToLineMenu=Go To Line ...",
                           "MarkMenu=Mark Line", "NextMarkMenu=Next Mark",
                           "PreviousMarkMenu=Previous Mark"}));
    EXPECT_EQ(items(form_->FileMenu), QStringList({"FileOpen=Open",
                                                   "FileOpenWith=Open With",
                                                   "FileCut=Cut",
                                                   "FileCopy=Copy",
                                                   "FilePaste=Paste",
                                                   "FileDelete=Delete",
                                                   "FileDeletePermanently=Delete Permanently",
                                                   "FileNewFolder=New Folder",
                                                   "FileProperties=Properties",
                                                   "NFileCommands=-",
                                                   "BrowseTextFiles=Browse Text Files",
                                                   "BrowseImageFiles=Browse Image Files",
                                                   "N4=-",
                                                   "FolderMenu=Show Folders",
                                                   "DetailsMenu=Details",
                                                   "ThumbnailsMenu=Thumbnails",
                                                   "FontMenuB=Browser Font ...",
                                                   "N3=-",
                                                   "DefaultSettings1=Default Settings",
                                                   "N5=-",
                                                   "AboutVelkaro1=About Velkaro ..."}));
    EXPECT_EQ(items(form_->ImageMenu), QStringList({"CopyImage=Copy To Clipboard",
                                                    "N6=-",
                                                    "BrowseMenuI=View Browser",
                                                    "N7=-",
                                                    "FullView=Full View",
                                                    "TileView=Tile View",
                                                    "FitView=Fit View",
                                                    "N9=-",
                                                    "ZoomIn=Zoom In",
                                                    "ZoomOut=Zoom Out",
                                                    "ZoomFit=Zoom To Fit",
                                                    "ZoomActual=Actual Size",
                                                    "N10=-",
                                                    "RotateRight=Rotate Right",
                                                    "RotateLeft=Rotate Left",
                                                    "FlipView=Flip Horizontally",
                                                    "SaveRotation=Save Rotation",
                                                    "SaveAs=Save As...",
                                                    "N11=-",
                                                    "NextPicture=Next Picture",
                                                    "PreviousPicture=Previous Picture",
                                                    "FullScreen=Full Screen",
                                                    "SlideshowItem=Slideshow",
                                                    "SlideshowInterval=Slideshow Interval",
                                                    "N14=-",
                                                    "PauseAnimation=Pause Animation",
                                                    "NextFrame=Next Frame",
                                                    "PreviousFrame=Previous Frame",
                                                    "NextPage=Next Page",
                                                    "PreviousPage=Previous Page",
                                                    "ColorManagement=Colour Management",
                                                    "N8=-",
                                                    "BackgroundColour1=Background  ...",
                                                    "Checkerboard=Transparency Checkerboard",
                                                    "N13=-",
                                                    "ImageOpenWith=Open With",
                                                    "PictureProperties=Picture Properties..."}));
    EXPECT_TRUE(form_->NoPopup->Items().isEmpty());

    EXPECT_EQ(PopupMenuOf(form_->ReadText), form_->TextMenu);
    EXPECT_EQ(PopupMenuOf(form_->BrowseFiles), form_->FileMenu);
    EXPECT_EQ(PopupMenuOf(form_->ViewImage), form_->ImageMenu);
    EXPECT_EQ(PopupMenuOf(form_->BrowseDrives), form_->NoPopup);
    EXPECT_EQ(form_->PopupMenu(), form_->ImageMenu);
    EXPECT_EQ(PopupMenuOf(form_->PanelImage), nullptr);  // passes right clicks to the window
}

TEST_F(MainWindowTest, EveryStoredPropertyNamesAComponentProperty) {
    const QStringList props = TMainWindow::StoredProps();
    ASSERT_EQ(props.size(), 33);
    for (const QString& entry : props) {
        const QString component = entry.section('.', 0, 0);
        const QString property = entry.section('.', 1);
        QObject* object = form_->findChild<QObject*>(component);
        ASSERT_NE(object, nullptr) << entry.toStdString();
        EXPECT_GE(object->metaObject()->indexOfProperty(property.toLatin1()), 0)
            << entry.toStdString();
    }
    for (const char* name : {"FormStorage1", "AboutImage", "NoPopup", "ScrollImage", "PanelDiv",
                             "PanelTop", "SplitterV", "FontMenuB", "N8"})
        EXPECT_NE(form_->findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(form_->Storage->IniFileName(), "Velkaro.ini");
    EXPECT_EQ(form_->Storage->IniSection(), "User");
}

TEST_F(MainWindowTest, ViewBrowserItemsKeepTheirOwnCheckMarks) {
    TMainWindow& f = *form_;
    f.resize(600, 400);
    TAlignLayout::Realign(&f);

    f.BrowseMenu->Click();  // hide from the text menu
    EXPECT_FALSE(f.PanelLeft->Visible());
    EXPECT_FALSE(f.SplitterV->Visible());
    EXPECT_FALSE(f.BrowseMenu->Checked());
    EXPECT_TRUE(f.BrowseMenuI->Checked());
    EXPECT_EQ(f.ReadText->geometry(), QRect(0, 2, 600, 398));

    f.BrowseMenuI->Click();  // looks at its own mark: hides the hidden pane again
    EXPECT_FALSE(f.PanelLeft->Visible());
    EXPECT_FALSE(f.BrowseMenuI->Checked());

    f.BrowseMenuI->Click();  // shows it
    EXPECT_TRUE(f.PanelLeft->Visible());
    EXPECT_TRUE(f.SplitterV->Visible());
    EXPECT_TRUE(f.BrowseMenuI->Checked());
    EXPECT_FALSE(f.BrowseMenu->Checked());
    EXPECT_EQ(f.SplitterV->Align(), alLeft);
    EXPECT_EQ(f.SplitterV->geometry(), QRect(240, 2, 2, f.height() - 2));
    EXPECT_EQ(f.ReadText->geometry(), QRect(242, 2, 358, 398));
}

TEST_F(MainWindowTest, WordWrapTogglesWrappingAndScrollBars) {
    TMainWindow& f = *form_;
    f.WrapMenu->Click();
    EXPECT_FALSE(f.WrapMenu->Checked());
    EXPECT_FALSE(f.ReadText->WordWrap());
    EXPECT_EQ(f.ReadText->ScrollBars(), ssBoth);
    EXPECT_FALSE(f.ReadText->Wrapping());
    f.WrapMenu->Click();
    EXPECT_TRUE(f.WrapMenu->Checked());
    EXPECT_TRUE(f.ReadText->WordWrap());
    EXPECT_EQ(f.ReadText->ScrollBars(), ssVertical);
    EXPECT_TRUE(f.ReadText->Wrapping());
}

TEST_F(MainWindowTest, RestoredWordWrapOffMeetsAWrappingMemo) {
    TMainWindow& f = *form_;
    f.WrapMenu->SetChecked(false);  // as the settings store restores it; the memo is not stored
    EXPECT_TRUE(f.ReadText->WordWrap());
    ClickFile(Path("long.log"));
    EXPECT_EQ(f.ReadText->ScrollBars(), ssBoth);
    EXPECT_FALSE(f.ReadText->Wrapping());
    f.WrapMenu->Click();
    EXPECT_TRUE(f.WrapMenu->Checked());
    EXPECT_TRUE(f.ReadText->WordWrap());
    EXPECT_EQ(f.ReadText->ScrollBars(), ssVertical);
}

TEST_F(MainWindowTest, ShowFoldersTogglesTheListsFolders) {
    TMainWindow& f = *form_;
    f.FolderMenu->Click();
    EXPECT_FALSE(f.FolderMenu->Checked());
    EXPECT_FALSE(f.BrowseFiles->ShowFolders());
    EXPECT_FALSE(Captions().contains("sub"));
    EXPECT_TRUE(Captions().contains("utf8.txt"));
    f.FolderMenu->Click();
    EXPECT_TRUE(f.FolderMenu->Checked());
    EXPECT_TRUE(f.BrowseFiles->ShowFolders());
    EXPECT_TRUE(Captions().contains("sub"));
}

TEST_F(MainWindowTest, TextAutoFocusChoosesWhereFocusGoes) {
    TMainWindow& f = *form_;
    f.TextAutoFocus->Click();
    EXPECT_TRUE(f.TextAutoFocus->Checked());
    EXPECT_EQ(f.ActiveControl(), f.ReadText);
    f.SetActiveControl(f.BrowseFiles);
    ClickFile(Path("utf8.txt"));
    EXPECT_EQ(f.ActiveControl(), f.ReadText);
    f.TextAutoFocus->Click();
    EXPECT_FALSE(f.TextAutoFocus->Checked());
    EXPECT_EQ(f.ActiveControl(), f.BrowseFiles);
    ClickFile(Path("latin.txt"));
    EXPECT_EQ(f.ActiveControl(), f.BrowseFiles);
}

TEST_F(MainWindowTest, LoadsUtf8AndWindows1252Text) {
    TMainWindow& f = *form_;
    EXPECT_TRUE(ClickFile(Path("utf8.txt")));
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café\nline two\n"));
    EXPECT_EQ(f.ReadText->ScrollBars(), ssVertical);
    ClickFile(Path("latin.txt"));
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café €\nsecond\nthird"));
    EXPECT_EQ(f.ReadText->LineCount(), 3);
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(MainWindowTest, EntriesThatAreNotFilesAreIgnored) {
    TMainWindow& f = *form_;
    ClickFile(Path("utf8.txt"));
    const QString shown = f.ReadText->Text();
    ClickFile(Path("folder.txt"));
    ClickFile(Path("sub"));
    f.BrowseFiles->SetSelectedItem(Path("missing.txt"));
    f.BrowseFilesClick();
    EXPECT_EQ(f.ReadText->Text(), shown);
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(MainWindowTest, UnreadableFileShowsTheErrorBoxAndKeepsTheText) {
    TMainWindow& f = *form_;
    ClickFile(Path("utf8.txt"));
    const QString shown = f.ReadText->Text();
    EXPECT_TRUE(ClickFile(Path("socket.txt")));  // through the list's click signal
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith("Cannot open file \"" + Path("socket.txt") + "\". "))
        << errors_[0].toStdString();
    EXPECT_TRUE(errors_[0].endsWith('.'));
    EXPECT_EQ(f.ReadText->Text(), shown);
}

TEST_F(MainWindowTest, ImageModeReadsTextFilesAsPictures) {
    TMainWindow& f = *form_;
    f.BrowseTextFiles->SetChecked(false);
    f.BrowseImageFiles->SetChecked(true);
    f.BrowseFiles->SetSelectedItem(Path("utf8.txt"));
    f.BrowseFilesClick();
    WaitForPicture();
    // Browsing: the message shows in the picture pane, not in the error box.
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(f.ViewImage->Message(), "utf8.txt\n\nUnknown picture file extension (.txt)");
    EXPECT_TRUE(f.ReadText->Text().isEmpty());
    EXPECT_FALSE(f.CopyImage->Enabled());
}

TEST_F(MainWindowTest, CopyIsEnabledOnlyWithASelection) {
    TMainWindow& f = *form_;
    ClickFile(Path("utf8.txt"));
    EXPECT_FALSE(f.CopyMenu->Enabled());
    SelectText(0, 4);
    EXPECT_FALSE(f.CopyMenu->Enabled());  // re-evaluated only on text change and mouse down
    RightMouseDownOnMemo();
    EXPECT_TRUE(f.CopyMenu->Enabled());
    f.CopyMenu->Click();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("café"));
    ClickFile(Path("latin.txt"));  // new text, no selection
    EXPECT_FALSE(f.CopyMenu->Enabled());
}

TEST_F(MainWindowTest, ReaderFontAppliesOnlyWhenConfirmed) {
    TMainWindow& f = *form_;
    TFont chosen("DejaVu Serif", 12, fsBold);
    bool confirm = false;
    TFontDialog::ExecuteHook = [&](TFontDialog& dialog) {
        if (confirm) dialog.SetFont(chosen);
        return confirm;
    };
    f.FontMenu->Click();
    EXPECT_EQ(f.ReadText->Font(), TFont());
    EXPECT_EQ(f.ActiveControl(), f.ReadText);
    confirm = true;
    f.FontMenu->Click();
    EXPECT_EQ(f.ReadText->Font(), chosen);
    EXPECT_TRUE(f.ReadText->font().bold());
}

TEST_F(MainWindowTest, BrowserFontReachesTheListEvenWhenCancelled) {
    TMainWindow& f = *form_;
    TFont chosen("DejaVu Sans Mono", 10);
    // A font left in the dialog from before is applied to the list even on cancel.
    f.FontBrowse->SetFont(chosen);
    TFontDialog::ExecuteHook = [](TFontDialog&) { return false; };
    f.FontMenuB->Click();
    EXPECT_EQ(f.BrowseFiles->Font(), chosen);
    EXPECT_EQ(f.BrowseDrives->Font(), TFont());

    TFont other("DejaVu Serif", 14);
    TFontDialog::ExecuteHook = [&](TFontDialog& dialog) {
        dialog.SetFont(other);
        return true;
    };
    f.FontMenuB->Click();
    EXPECT_EQ(f.BrowseFiles->Font(), other);
    EXPECT_EQ(f.BrowseDrives->Font(), other);
}

TEST_F(MainWindowTest, ShowReappliesTheStoredModesMask) {
    TMainWindow& f = *form_;
    // As if the settings store restored image mode before the window is shown.
    f.BrowseTextFiles->SetChecked(false);
    f.BrowseImageFiles->SetChecked(true);
    f.show();
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    EXPECT_EQ(f.ReadText->Align(), alClient);
    EXPECT_EQ(f.PanelImage->Align(), alClient);
    EXPECT_TRUE(Captions().contains("picture.png"));
    EXPECT_FALSE(Captions().contains("utf8.txt"));
}

TEST_F(MainWindowTest, RightClicksOpenTheMenuOfTheClickedPlace) {
    TMainWindow& f = *form_;
    f.show();
    auto rightClick = [](QWidget* target) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(1, 1),
                                target->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(target, &event);
    };
    auto openMenus = [&] {
        QStringList open;
        for (TPopupMenu* menu : {f.TextMenu, f.FileMenu, f.ImageMenu, f.NoPopup})
            if (menu->isVisible()) open << menu->objectName();
        for (TPopupMenu* menu : {f.TextMenu, f.FileMenu, f.ImageMenu, f.NoPopup})
            menu->hide();
        return open;
    };
    rightClick(f.PanelTop);
    EXPECT_EQ(openMenus(), QStringList({"ImageMenu"}));
    rightClick(f.SplitterV);
    EXPECT_EQ(openMenus(), QStringList({"ImageMenu"}));
    rightClick(f.ReadText->viewport());
    EXPECT_EQ(openMenus(), QStringList({"TextMenu"}));
    rightClick(f.BrowseFiles->View()->viewport());
    EXPECT_EQ(openMenus(), QStringList({"FileMenu"}));
    rightClick(f.BrowseDrives);
    EXPECT_EQ(openMenus(), QStringList());
}

// --- Image mode ----------------------------------------------------------------------------------

TEST_F(MainWindowTest, ModeItemsFlipBetweenTextAndImageMode) {
    TMainWindow& f = *form_;
    WriteBmp(Path("small.bmp"), 4, 3, 0, 0, 255);
    f.BrowseFiles->RebuildList();
    ClickFile(Path("utf8.txt"));
    ASSERT_FALSE(f.ReadText->Text().isEmpty());

    f.BrowseTextFiles->Click();  // the checked item switches to the other mode
    EXPECT_FALSE(f.ReadText->Visible());
    EXPECT_TRUE(f.ReadText->Text().isEmpty());
    EXPECT_TRUE(f.PanelImage->Visible());
    EXPECT_FALSE(f.BrowseTextFiles->Checked());
    EXPECT_TRUE(f.BrowseImageFiles->Checked());
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    EXPECT_TRUE(Captions().contains("small.bmp"));
    EXPECT_FALSE(Captions().contains("utf8.txt"));
    EXPECT_TRUE(ClickFile(Path("small.bmp")));
    EXPECT_TRUE(f.CopyImage->Enabled());
    ASSERT_NE(f.ViewImage->Picture()->Graphic(), nullptr);

    f.BrowseImageFiles->Click();  // checked: back to text mode, the picture goes
    EXPECT_TRUE(f.ReadText->Visible());
    EXPECT_FALSE(f.PanelImage->Visible());
    EXPECT_TRUE(f.BrowseTextFiles->Checked());
    EXPECT_FALSE(f.BrowseImageFiles->Checked());
    EXPECT_EQ(f.ViewImage->Picture()->Graphic(), nullptr);
    EXPECT_FALSE(f.ScrollImage->AutoScroll());
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::TextMask);

    f.BrowseImageFiles->Click();  // unchecked: to its own mode
    EXPECT_TRUE(f.BrowseImageFiles->Checked());
    EXPECT_FALSE(f.CopyImage->Enabled());  // switching to image mode disables the copy
    f.BrowseTextFiles->Click();            // unchecked: to its own mode
    EXPECT_TRUE(f.BrowseTextFiles->Checked());
    EXPECT_TRUE(f.ReadText->Visible());
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(MainWindowTest, PictureClickLoadsResetsScrollingAndClearsTheMemo) {
    TMainWindow& f = *form_;
    WriteBmp(Path("big.bmp"), 900, 700, 0x20, 0x40, 0x80);
    f.show();
    f.BrowseTextFiles->Click();
    f.ReadText->SetText("left over");
    f.CopyMenu->SetEnabled(true);

    ASSERT_TRUE(ClickFile(Path("big.bmp")));
    ASSERT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
    EXPECT_EQ(f.ViewImage->size(), QSize(900, 700));  // full view takes the picture's size
    EXPECT_TRUE(f.CopyImage->Enabled());
    EXPECT_TRUE(f.ReadText->Text().isEmpty());
    EXPECT_FALSE(f.CopyMenu->Enabled());  // the memo's text changed without a selection
    EXPECT_TRUE(f.ScrollImage->AutoScroll());

    f.ScrollImage->SetHorzPosition(120);
    f.ScrollImage->SetVertPosition(80);
    ASSERT_EQ(f.ScrollImage->HorzPosition(), 120);
    ClickFile(Path("big.bmp"));
    EXPECT_EQ(f.ScrollImage->HorzPosition(), 0);
    EXPECT_EQ(f.ScrollImage->VertPosition(), 0);

    QApplication::clipboard()->clear();
    f.CopyImage->Click();
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(900, 700));
    EXPECT_EQ(copied.pixelColor(450, 350), QColor(0x80, 0x40, 0x20));
}

// Fit view, zoom keys, moving between pictures, the title and the status line.
TEST_F(MainWindowTest, FitViewZoomsAndMovesBetweenPictures) {
    TMainWindow& f = *form_;
    WriteBmp(Path("a1.bmp"), 1600, 1200, 0, 0, 255);
    WriteBmp(Path("a2.bmp"), 40, 30, 0, 255, 0);
    f.BrowseFiles->RebuildList();
    f.show();
    f.resize(800, 600);
    f.BrowseTextFiles->Click();
    f.FitView->Click();
    ASSERT_TRUE(ClickFile(Path("a1.bmp")));
    const QSize pane = f.ViewImage->size();
    EXPECT_EQ(pane, f.ScrollImage->viewport()->size());
    EXPECT_NEAR(f.ViewImage->View().scale, std::min(pane.width() / 1600.0, pane.height() / 1200.0),
                1e-9);
    EXPECT_EQ(f.Caption(), "a1.bmp - Velkaro");
    EXPECT_TRUE(f.StatusText().startsWith("1600 x 1200   Windows bitmap"))
        << f.StatusText().toStdString();

    f.ZoomActual->Click();
    EXPECT_DOUBLE_EQ(f.ViewImage->View().scale, 1.0);
    EXPECT_TRUE(f.StatusText().endsWith(" 100 %")) << f.StatusText().toStdString();
    f.ZoomIn->Click();
    EXPECT_DOUBLE_EQ(f.ViewImage->View().scale, 1.5);
    f.ZoomFit->Click();
    EXPECT_TRUE(f.ViewImage->FitMode());

    f.NextPicture->Click();  // the next picture row, never enlarged past 1:1
    WaitForPicture();
    EXPECT_EQ(f.BrowseFiles->SelectedItem(), Path("a2.bmp"));
    EXPECT_DOUBLE_EQ(f.ViewImage->View().scale, 1.0);
    EXPECT_EQ(f.Caption(), "a2.bmp - Velkaro");
    f.PreviousPicture->Click();  // preloaded: shown at once
    EXPECT_FALSE(f.PictureLoading());
    EXPECT_EQ(f.BrowseFiles->SelectedItem(), Path("a1.bmp"));

    f.FullView->Click();  // back to the scrolled natural size
    EXPECT_FALSE(f.ViewImage->ZoomMode());
    EXPECT_EQ(f.ViewImage->size(), QSize(1600, 1200));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// A picture that cannot be read never leaves the previous one on screen under its name: the
// pane shows the message whole in its visible part and the status line says there is no
// picture.
TEST_F(MainWindowTest, DamagedPictureReplacesThePreviousOneByItsMessage) {
    TMainWindow& f = *form_;
    WriteBmp(Path("good.bmp"), 640, 480, 0, 255, 0);
    WriteFile(Path("bad.bmp"), QByteArray("BM") + QByteArray(60, '\xFF'));
    f.show();
    f.BrowseTextFiles->Click();
    ASSERT_TRUE(ClickFile(Path("good.bmp")));
    const TGraphic* shown = f.ViewImage->Picture()->Graphic();
    ASSERT_NE(shown, nullptr);
    f.CopyImage->SetEnabled(false);
    f.ReadText->SetText("kept");
    f.ScrollImage->SetHorzPosition(50);

    EXPECT_TRUE(ClickFile(Path("bad.bmp")));  // browsing: the message goes in the pane
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(f.ViewImage->Message().startsWith("bad.bmp\n\n"));
    EXPECT_EQ(f.ViewImage->Picture()->Graphic(), nullptr);
    EXPECT_EQ(f.ViewImage->pos(), QPoint(0, 0));
    EXPECT_TRUE(f.ScrollImage->viewport()->rect().contains(f.ViewImage->geometry()));
    EXPECT_GT(f.ViewImage->width(), 100);
    EXPECT_EQ(f.Caption(), "bad.bmp - Velkaro");
    EXPECT_EQ(f.StatusText(), "No picture");
    EXPECT_FALSE(f.CopyImage->Enabled());
    EXPECT_EQ(f.ReadText->Text(), "kept");
    EXPECT_EQ(f.ScrollImage->HorzPosition(), 0);  // reset before the load failed
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(f.LoadProgressText().isEmpty());

    // Opened explicitly, the same file is reported in the error box.
    EXPECT_TRUE(Application::HandleEvent([&] { f.OpenPath(Path("bad.bmp")); }));
    WaitForPicture();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].endsWith('.')) << errors_[0].toStdString();
    EXPECT_EQ(f.ViewImage->Picture()->Graphic(), nullptr);

    // The next good picture shows as usual.
    ASSERT_TRUE(ClickFile(Path("good.bmp")));
    EXPECT_TRUE(f.ViewImage->Message().isEmpty());
    EXPECT_TRUE(f.StatusText().startsWith("640 x 480")) << f.StatusText().toStdString();
}

// The status line names the format the content was read as, not the name's extension, and
// says why a picture read in part is cut short.
TEST_F(MainWindowTest, StatusNamesTheFormatOfTheContent) {
    TMainWindow& f = *form_;
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(Path("photo.png"), "JPEG"));
    WriteBmp(Path("plain.bmp"), 4, 3, 1, 2, 3);
    // An 8 x 8 four-colour GIF whose image data stops after 8 of its 19 bytes.
    WriteFile(Path("cut.gif"),
              QByteArray::fromHex("47494638396108000800f10300000000555555aaaaaaffffff2c00000000"
                                  "08000800000213c42612016ca8943b"));
    f.show();
    f.BrowseTextFiles->Click();
    f.BrowseFiles->RebuildList();
    ASSERT_TRUE(ClickFile(Path("photo.png")));
    EXPECT_TRUE(f.StatusText().startsWith("8 x 6   JPEG ")) << f.StatusText().toStdString();
    ASSERT_TRUE(ClickFile(Path("plain.bmp")));
    EXPECT_TRUE(f.StatusText().startsWith("4 x 3   Windows bitmap "))
        << f.StatusText().toStdString();
    EXPECT_FALSE(f.StatusText().contains("GIF"));
    ASSERT_TRUE(ClickFile(Path("cut.gif")));
    EXPECT_TRUE(
        f.StatusText().endsWith(" %   The GIF data ends after 2 of 8 rows; the rest is not shown."))
        << f.StatusText().toStdString();
}

// Ctrl+0 is Fit View (ticked and stored); zooming, 1:1, turning and flipping leave the marks
// saying what is shown; full screen gives back the pane, the marks and a colour chosen in it.
TEST_F(MainWindowTest, ViewMarksSayWhatIsShown) {
    TMainWindow& f = *form_;
    WriteBmp(Path("big.bmp"), 1600, 1200, 0, 0, 255);
    f.show();
    f.resize(800, 600);
    f.BrowseTextFiles->Click();
    ASSERT_TRUE(ClickFile(Path("big.bmp")));
    auto marks = [&] {
        return QString("%1%2%3")
            .arg(f.FullView->Checked() ? "F" : "-")
            .arg(f.TileView->Checked() ? "T" : "-")
            .arg(f.FitView->Checked() ? "Z" : "-");
    };
    struct Step {
        const char* name;
        std::function<void()> act;
        const char* marks;
    };
    const Step steps[] = {
        {"Ctrl+0", [&] { f.ZoomFit->Click(); }, "--Z"},
        {"turned while fitted", [&] { f.RotateRight->Click(); }, "--Z"},
        {"Ctrl+1", [&] { f.ZoomActual->Click(); }, "---"},
        {"Tile View", [&] { f.TileView->Click(); }, "-T-"},
        {"zoomed over the tiles", [&] { f.ZoomIn->Click(); }, "---"},
        {"Full View", [&] { f.FullView->Click(); }, "F--"},
        {"flipped", [&] { f.FlipView->Click(); }, "---"},
        {"Ctrl+0 again", [&] { f.ZoomFit->Click(); }, "--Z"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(marks(), step.marks);
    }
    // Full screen: the browser pane comes back as it was (hidden here by the picture menu's
    // item while the text menu's stays ticked), with a colour chosen in it and marks that say
    // what is shown (zoomed there, so none).
    f.BrowseMenuI->Click();
    ASSERT_FALSE(f.PanelLeft->isVisibleTo(&f));
    f.FullScreen->Click();
    ASSERT_TRUE(f.InFullScreen());
    TColorDialog::ExecuteHook = [](TColorDialog& dialog) {
        dialog.SetColor(0x00336699);
        return true;
    };
    f.BackgroundColourItem->Click();
    f.ZoomIn->Click();
    f.FullScreen->Click();
    EXPECT_FALSE(f.InFullScreen());
    EXPECT_FALSE(f.PanelLeft->isVisibleTo(&f));
    EXPECT_EQ(f.PanelImage->Color(), 0x00336699);
    EXPECT_EQ(marks(), "---");

    // Fit View from Ctrl+0 is what the settings keep for the next start.
    f.FullView->Click();
    f.ZoomFit->Click();
    f.close();
    form_ = std::make_unique<TMainWindow>();
    form_->show();  // which restores the settings
    EXPECT_TRUE(form_->FitView->Checked());
    EXPECT_FALSE(form_->FullView->Checked());
}

TEST_F(MainWindowTest, FullAndTileViewSetTheViewAndTheirMarks) {
    TMainWindow& f = *form_;
    WriteBmp(Path("tile.bmp"), 16, 16, 9, 9, 9);
    f.show();
    f.BrowseTextFiles->Click();
    ClickFile(Path("tile.bmp"));

    f.TileView->Click();
    EXPECT_EQ(f.ViewImage->Align(), alClient);
    EXPECT_TRUE(f.ViewImage->Tiled());
    EXPECT_FALSE(f.ViewImage->Stretch());
    EXPECT_TRUE(f.ViewImage->AutoSize());  // unchanged by the tile view
    EXPECT_FALSE(f.FullView->Checked());
    EXPECT_TRUE(f.TileView->Checked());
    EXPECT_GT(f.ViewImage->width(), 16);  // fills the scroll box

    f.ViewImage->SetStretch(true);  // as a stored value may set it
    f.FullView->Click();
    EXPECT_EQ(f.ViewImage->Align(), alNone);
    EXPECT_FALSE(f.ViewImage->Tiled());
    EXPECT_FALSE(f.ViewImage->Stretch());
    EXPECT_TRUE(f.ViewImage->AutoSize());
    EXPECT_TRUE(f.FullView->Checked());
    EXPECT_FALSE(f.TileView->Checked());
    EXPECT_EQ(f.ViewImage->size(), QSize(16, 16));
}

TEST_F(MainWindowTest, BackgroundChangesOnlyWhenConfirmed) {
    TMainWindow& f = *form_;
    TColorDialog::ExecuteHook = [](TColorDialog& dialog) {
        dialog.SetColor(0x000000FF);
        return false;
    };
    f.BackgroundColourItem->Click();
    EXPECT_EQ(f.PanelImage->Color(), clBtnFace);
    TColorDialog::ExecuteHook = [](TColorDialog& dialog) {
        EXPECT_EQ(dialog.Color(), 0x000000FF);  // the dialog keeps its last colour
        dialog.SetColor(0x00112233);
        return true;
    };
    f.BackgroundColourItem->Click();
    EXPECT_EQ(f.PanelImage->Color(), 0x00112233);
    EXPECT_EQ(f.ScrollImage->Color(), 0x00112233);  // the scroll box takes its parent's colour
}

TEST_F(MainWindowTest, DefaultSettingsResetBothSidesButKeepTheMode) {
    TMainWindow& f = *form_;
    f.show();
    f.BrowseTextFiles->Click();  // image mode
    const QString folder = f.BrowseFiles->Directory();
    const QPoint position = f.pos();
    const TFont odd("DejaVu Serif", 14, fsBold);
    f.resize(800, 500);
    f.PanelLeft->SetWidth(320);
    f.BrowseMenu->Click();
    f.BrowseMenuI->Click();
    f.TextAutoFocus->Click();
    f.WrapMenu->Click();
    f.FolderMenu->Click();
    f.TileView->Click();
    f.ViewImage->SetStretch(true);
    f.ReadText->SetFont(odd);
    f.BrowseFiles->SetFont(odd);
    f.BrowseDrives->SetFont(odd);
    f.FontText->SetFont(odd);
    f.FontBrowse->SetFont(odd);
    f.PanelImage->SetColor(0x00445566);
    f.ImageBk->SetColor(0x00445566);

    f.DefaultSettingsItem->Click();
    TAlignLayout::Realign(&f);
    // 600 x 400 are the outer bounds; the frame around the client area is the window system's.
    EXPECT_EQ(f.frameGeometry().size(), QSize(600, 400));
    EXPECT_EQ(f.pos(), position);
    EXPECT_TRUE(f.PanelLeft->Visible());
    EXPECT_EQ(f.PanelLeft->Width(), 240);
    EXPECT_TRUE(f.SplitterV->Visible());
    EXPECT_EQ(f.SplitterV->geometry(), QRect(240, 2, 2, f.height() - 2));
    // A shown window reports the focused widget inside the list.
    EXPECT_TRUE(f.ActiveControl() == f.BrowseFiles ||
                f.BrowseFiles->isAncestorOf(f.ActiveControl()));
    EXPECT_FALSE(f.TextAutoFocus->Checked());
    EXPECT_TRUE(f.BrowseMenu->Checked());
    EXPECT_TRUE(f.ReadText->WordWrap());
    EXPECT_EQ(f.ReadText->ScrollBars(), ssVertical);
    EXPECT_TRUE(f.WrapMenu->Checked());
    for (const TFont& font : {f.ReadText->Font(), f.BrowseFiles->Font(), f.BrowseDrives->Font(),
                              f.FontText->Font(), f.FontBrowse->Font()})
        EXPECT_EQ(font, TFont());
    EXPECT_EQ(f.BrowseDrives->TreeHeight(), f.BrowseFiles->Height());
    EXPECT_TRUE(f.BrowseFiles->ShowFolders());
    EXPECT_TRUE(f.FolderMenu->Checked());
    EXPECT_EQ(f.ViewImage->Align(), alNone);
    EXPECT_TRUE(f.ViewImage->AutoSize());
    EXPECT_FALSE(f.ViewImage->Stretch());
    EXPECT_FALSE(f.ViewImage->Tiled());
    EXPECT_TRUE(f.BrowseMenuI->Checked());
    EXPECT_TRUE(f.FullView->Checked());
    EXPECT_FALSE(f.TileView->Checked());
    EXPECT_EQ(f.PanelImage->Color(), clBtnFace);
    EXPECT_EQ(f.ImageBk->Color(), clBtnFace);
    // Left alone: the mode, its mask and the folder.
    EXPECT_TRUE(f.BrowseImageFiles->Checked());
    EXPECT_TRUE(f.PanelImage->Visible());
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    EXPECT_EQ(f.BrowseFiles->Directory(), folder);
}

namespace {

// A graphic whose decode reports 40 % and then waits until the test lets it finish or the
// decode is cancelled; counts the instances alive.
struct TSlowGate {
    static inline std::atomic<bool> open{true};
    static inline std::atomic<int> alive{0};
};

class TSlowGraphic : public TBitmap {
  public:
    static const TGraphicClass& Info() {
        static const TGraphicClass info{"TSlowGraphic",
                                        [] { return std::make_unique<TSlowGraphic>(); }, nullptr,
                                        &TBitmap::ClassInfo()};
        return info;
    }
    TSlowGraphic() { ++TSlowGate::alive; }
    ~TSlowGraphic() override { --TSlowGate::alive; }
    const TGraphicClass& ClassType() const override { return Info(); }
    void LoadFromStream(TStream&) override {
        Progress(psStarting, 0, false, TRect{}, "Loading data...");
        SetSize(8, 8);
        do {  // a cancelled decode ends here with EAbort
            Progress(psRunning, 40, true, TRect{0, 0, 8, 4}, "Loading data...");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (!TSlowGate::open);
        Progress(psEnding, 100, true, TRect{0, 0, 8, 8}, "");
    }
};

}  // namespace

// The decode runs on a worker: the window shows the hourglass and the percentage while it
// takes longer than the delay; a new selection cancels it half-way, and the cancelled
// picture is neither shown nor kept.
TEST_F(MainWindowTest, SlowDecodeShowsHourglassAndPercentage) {
    TMainWindow& f = *form_;
    TPicture::RegisterFileFormat("slowpic", "Slow picture", &TSlowGraphic::Info());
    WriteFile(Path("a.slowpic"), "x");
    WriteBmp(Path("b.bmp"), 5, 4, 1, 2, 3);
    f.show();
    f.BrowseTextFiles->Click();
    f.BrowseFiles->RebuildList();

    const int saved = TPicturePresenter::ProgressDelayMs;
    TPicturePresenter::ProgressDelayMs = 0;
    TSlowGate::open = false;
    auto select = [&](const QString& path) {
        for (int row = 0; row < f.BrowseFiles->ItemCount(); ++row)
            if (QDir::cleanPath(f.BrowseFiles->ItemSubItem(row, 4)) == QDir::cleanPath(path)) {
                f.BrowseFiles->SetItemSelected(row, true);
                f.BrowseFiles->Click();
            }
    };
    f.BrowseFiles->SetSelectedItem(Path("a.slowpic"));  // not listed by the mask
    f.BrowseFilesClick();
    QElapsedTimer timer;
    timer.start();
    while (f.LoadProgressText() != "Loading data... 40%" && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    TPicturePresenter::ProgressDelayMs = saved;
    EXPECT_EQ(f.LoadProgressText(), "Loading data... 40%");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_TRUE(f.PictureLoading());  // the window went on while the decode waits

    select(Path("b.bmp"));  // cancels the slow decode half-way
    WaitForPicture();
    EXPECT_EQ(f.ViewImage->Picture()->Width(), 5);
    while (TSlowGate::alive > 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(TSlowGate::alive, 0);  // freed on the worker, never delivered
    QCoreApplication::processEvents();
    EXPECT_EQ(f.ViewImage->Picture()->Width(), 5);
    EXPECT_TRUE(f.LoadProgressText().isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    TSlowGate::open = true;
    TPicture::UnregisterGraphicClass(&TSlowGraphic::Info());
    ASSERT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();

    // A decode outside a load (a JPEG decodes when first painted) shows them too, timed from
    // its own start, and clears them when it ends.
    TGraphic* held = f.ViewImage->Picture()->Graphic();
    ASSERT_NE(held, nullptr);
    TPicturePresenter::ProgressDelayMs = 0;
    held->Progress(psStarting, 0, false, TRect{}, "Loading data...");
    held->Progress(psRunning, 60, false, TRect{}, "Loading data...");
    TPicturePresenter::ProgressDelayMs = saved;
    EXPECT_EQ(f.LoadProgressText(), "Loading data... 60%");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    held->Progress(psEnding, 100, false, TRect{}, "");
    EXPECT_TRUE(f.LoadProgressText().isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- The drive-and-folder combo
// --------------------------------------------------------------------

TEST_F(MainWindowTest, ComboFollowsTheListAndMeasuresItsTree) {
    TMainWindow& f = *form_;
    EXPECT_EQ(f.BrowseDrives->FileList(), f.BrowseFiles);
    EXPECT_EQ(f.BrowseFiles->DirTreeCombo(), f.BrowseDrives);
    // Creation showed the working folder in the combo and sized the tree to the list.
    EXPECT_EQ(QDir::cleanPath(f.BrowseDrives->SelectedPath()), folder_);
    EXPECT_EQ(f.BrowseDrives->TreeHeight(), f.BrowseFiles->Height());

    f.show();
    f.resize(640, 520);
    TAlignLayout::Realign(&f);
    TAlignLayout::Realign(f.PanelLeft);
    EXPECT_EQ(f.BrowseFiles->Height(), 520 - 2 - 23);
    EXPECT_EQ(f.BrowseDrives->TreeHeight(), f.BrowseFiles->Height());

    // A click on the combo measures again.
    f.BrowseDrives->SetTreeHeight(50);
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, f.BrowseDrives->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, f.BrowseDrives->mapToGlobal(at),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(f.BrowseDrives, &press);
    QApplication::sendEvent(f.BrowseDrives, &release);
    EXPECT_EQ(f.BrowseDrives->TreeHeight(), f.BrowseFiles->Height());

    // So does "Browser Font ...", even when cancelled.
    f.BrowseDrives->SetTreeHeight(50);
    TFontDialog::ExecuteHook = [](TFontDialog&) { return false; };
    f.FontMenuB->Click();
    EXPECT_EQ(f.BrowseDrives->TreeHeight(), f.BrowseFiles->Height());

    // A folder chosen in the combo is shown by the list.
    f.BrowseDrives->SetSelectedPath(Path("sub"));
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), Path("sub"));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// The path given on the command line: a folder, a picture, a text file, a missing path.
TEST_F(MainWindowTest, APathFromTheCommandLineIsShownInItsMode) {
    TMainWindow& f = *form_;
    f.show();
    f.OpenPath(Path("sub"));
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), Path("sub"));
    EXPECT_TRUE(f.BrowseTextFiles->Checked());

    WriteBmp(Path("sub/photo.bmp"), 3, 2, 255, 0, 0);
    f.OpenPath(Path("sub/photo.bmp"));
    WaitForPicture();
    EXPECT_TRUE(f.BrowseImageFiles->Checked());
    ASSERT_NE(f.ViewImage->Picture()->Graphic(), nullptr);
    EXPECT_EQ(f.ViewImage->Picture()->Width(), 3);
    EXPECT_EQ(f.BrowseFiles->SelectedItem(), Path("sub/photo.bmp"));

    f.OpenPath(Path("utf8.txt"));
    EXPECT_TRUE(f.BrowseTextFiles->Checked());
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), folder_);
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café\nline two\n"));

    // A missing path is an error that leaves the window as it was.
    EXPECT_FALSE(Application::HandleEvent([&] { f.OpenPath(Path("missing.png")); }));
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("does not exist")) << errors_[0].toStdString();
    EXPECT_TRUE(f.BrowseTextFiles->Checked());
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), folder_);
}

// Deleting the file on show, to the trash or for good, in either mode, leaves nothing of it on
// the right.
TEST_F(MainWindowTest, DeletingTheShownFileShowsTheNextOne) {
    TMainWindow& f = *form_;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(Path("share")));
    SetMessageHook([](TMsgKind, const QString&) { return true; });
    FileOpPrompts().ShowProgress = false;
    FileOpPrompts().ConfirmDelete = [](const QStringList&) { return true; };
    const struct {
        bool image;
        Qt::KeyboardModifiers mods;
    } cases[] = {{false, Qt::NoModifier},
                 {false, Qt::ShiftModifier},
                 {true, Qt::NoModifier},
                 {true, Qt::ShiftModifier}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "image " << c.image << " shift " << (c.mods != 0));
        const QString gone = Path(c.image ? "gone.bmp" : "gone.txt");
        WriteBmp(gone, 3, 2, 10, 20, 30);
        if (f.BrowseImageFiles->Checked() != c.image) f.BrowseImageFiles->Click();
        f.BrowseFiles->RebuildList();
        ASSERT_TRUE(ClickFile(gone));
        ASSERT_TRUE(c.image ? f.ViewImage->Picture()->Graphic() != nullptr
                            : !f.ReadText->Text().isEmpty());
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, c.mods);
        QApplication::sendEvent(f.BrowseFiles->View(), &del);
        WaitForPicture();
        EXPECT_FALSE(QFile::exists(gone));
        // Delete and Shift+Delete move on to the row that took the file's place.
        const QString next = f.BrowseFiles->SelectedItem();
        EXPECT_NE(next, gone);
        EXPECT_FALSE(f.Caption().contains("gone")) << f.Caption().toStdString();
        if (QFileInfo(next).isFile()) {
            EXPECT_EQ(f.Caption(), QFileInfo(next).fileName() + " - Velkaro");
        }
    }
    SetMessageHook(nullptr);
    ResetFileOpPrompts();
    qputenv("XDG_DATA_HOME", savedData);
}

namespace {

// Runs the event loop until done() holds or five seconds passed.
bool WaitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QAction* EncodingItem(TMainWindow& f, const QString& caption) {
    for (QAction* action : f.EncodingMenu->menu()->actions())
        if (action->text() == caption) return action;
    return nullptr;
}

}  // namespace

// A relative path names a file of the folder the program started in, wherever the list has
// been since: the list never moves the process's working folder.
TEST_F(MainWindowTest, ARelativePathNamesAFileOfTheStartFolder) {
    TMainWindow& f = *form_;
    WriteFile(Path("sub/utf8.txt"), "the other one\n");
    // The settings restored another folder.
    f.BrowseFiles->SetDirectory(Path("sub"));
    f.show();
    EXPECT_EQ(QDir::currentPath(), folder_);
    f.OpenPath(QFileInfo("utf8.txt").absoluteFilePath());
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café\nline two\n"));
    EXPECT_EQ(QDir::currentPath(), folder_);
}

// Every item of the Encoding submenu reads the file shown, also after the list's selection
// moved to a folder.
TEST_F(MainWindowTest, EncodingItemsReadTheShownFileNotTheSelectedRow) {
    TMainWindow& f = *form_;
    ASSERT_TRUE(ClickFile(Path("latin.txt")));
    const QString shown = f.ReadText->Text();
    ASSERT_TRUE(shown.startsWith(QString::fromUtf8("café")));
    ASSERT_TRUE(ClickFile(Path("sub")));
    for (const char* caption : {"UTF-8", "Automatic", "Western (Windows-1252)", "Automatic"}) {
        SCOPED_TRACE(caption);
        QAction* item = EncodingItem(f, caption);
        ASSERT_NE(item, nullptr);
        item->trigger();
        EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
        EXPECT_EQ(f.ReadText->FileName(), Path("latin.txt"));
    }
    EXPECT_EQ(f.ReadText->Text(), shown);
}

// The title names the file shown: it follows a rename by another program and goes with the
// file's deletion.
TEST_F(MainWindowTest, TheTitleFollowsTheShownFilesRenameAndDeletion) {
    TMainWindow& f = *form_;
    f.show();
    ASSERT_TRUE(ClickFile(Path("utf8.txt")));
    EXPECT_EQ(f.Caption(), "utf8.txt - Velkaro");
    ASSERT_TRUE(QFile::rename(Path("utf8.txt"), Path("renamed.txt")));
    EXPECT_TRUE(WaitUntil([&] { return f.Caption() == "renamed.txt - Velkaro"; }))
        << f.Caption().toStdString();
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café\nline two\n"));
    EXPECT_EQ(f.BrowseFiles->SelectedItem(), Path("renamed.txt"));
    ASSERT_TRUE(QFile::remove(Path("renamed.txt")));
    EXPECT_TRUE(WaitUntil([&] { return f.Caption() == "Velkaro"; })) << f.Caption().toStdString();
    EXPECT_TRUE(f.ReadText->Text().isEmpty());
}

// In image mode the list's Space and Shift+Space move between pictures as in the picture pane,
// and Ctrl+Page Down / Up never move the list's highlight away from the shown file.
TEST_F(MainWindowTest, PictureKeysInTheListAgreeWithThePane) {
    TMainWindow& f = *form_;
    WriteBmp(Path("p1.bmp"), 4, 3, 1, 1, 1);
    WriteBmp(Path("p2.bmp"), 4, 3, 2, 2, 2);
    f.show();
    f.BrowseTextFiles->Click();
    ASSERT_TRUE(ClickFile(Path("p1.bmp")));
    f.BrowseFiles->View()->setFocus();
    auto press = [&](int key, Qt::KeyboardModifiers mods) {
        QKeyEvent event(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(f.BrowseFiles->View(), &event);
        QKeyEvent release(QEvent::KeyRelease, key, mods);
        QApplication::sendEvent(f.BrowseFiles->View(), &release);
        WaitForPicture();
    };
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        const char* shown;
    } steps[] = {
        {"Space", Qt::Key_Space, Qt::NoModifier, "p2.bmp"},
        {"Ctrl+Page Up", Qt::Key_PageUp, Qt::ControlModifier, "p2.bmp"},
        {"Shift+Space", Qt::Key_Space, Qt::ShiftModifier, "p1.bmp"},
        {"Ctrl+Page Down", Qt::Key_PageDown, Qt::ControlModifier, "p1.bmp"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        press(step.key, step.mods);
        EXPECT_EQ(f.BrowseFiles->SelectedItem(), Path(step.shown));
        EXPECT_EQ(f.Caption(), QString(step.shown) + " - Velkaro");
        const int current = f.BrowseFiles->View()->currentIndex().row();
        EXPECT_EQ(f.BrowseFiles->ItemSubItem(current, 4), Path(step.shown));
    }
}

// A folder named at the start opens in image mode when it holds pictures and no text files,
// unless a mode is stored; in text mode such a folder offers its pictures under its rows, and
// the offer switches to image mode.
TEST_F(MainWindowTest, AFolderOfPicturesStartsInImageModeUntilAModeIsStored) {
    QDir(folder_).mkpath("pics");
    QDir(folder_).mkpath("mixed");
    WriteBmp(Path("pics/a.bmp"), 3, 2, 255, 0, 0);
    WriteBmp(Path("pics/b.bmp"), 3, 2, 0, 255, 0);
    WriteBmp(Path("mixed/c.bmp"), 3, 2, 0, 0, 255);
    WriteFile(Path("mixed/c.txt"), "c");
    const struct {
        const char* path;
        const char* storedText;  // the stored text mode check, none when null
        bool image;
        const char* offer;
    } cases[] = {
        {"pics", nullptr, true, ""}, {"mixed", nullptr, false, ""},
        {"sub", nullptr, false, ""}, {"pics/a.bmp", nullptr, true, ""},
        {"pics", "False", true, ""}, {"pics", "True", false, "2 pictures here: Browse Image Files"},
    };
    const QString ini = config_.path() + "/Velkaro.ini";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + (c.storedText ? c.storedText : "-"));
        form_.reset();
        QFile::remove(ini);
        if (c.storedText)
            WriteFile(ini, QByteArray("[User]\nBrowseTextFiles_Checked=") + c.storedText +
                               "\nBrowseImageFiles_Checked=" +
                               (QByteArray(c.storedText) == "True" ? "False" : "True") + "\n");
        form_ = std::make_unique<TMainWindow>();
        form_->show();
        form_->OpenPath(Path(c.path));
        WaitForPicture();
        EXPECT_EQ(form_->BrowseImageFiles->Checked(), c.image);
        EXPECT_EQ(form_->BrowseFiles->Offer(), c.offer);
    }
    form_->BrowseFiles->OfferButton()->click();
    EXPECT_TRUE(form_->BrowseImageFiles->Checked());
    EXPECT_EQ(form_->BrowseFiles->Offer(), "");
    EXPECT_EQ(Captions(), QStringList({"Parent", "a.bmp", "b.bmp"}));
}
