// The main window's settings: what its first close writes to Velkaro.ini and what a later start
// reads back.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "imaging/ColorProfile.h"
#include "settings/IniFile.h"
#include "thumbs/ThumbnailService.h"
#include "toolkit/Application.h"

namespace {

class MainWindowSettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(config_.isValid());
        folder_ = QDir(dir_.path()).canonicalPath();
        ASSERT_TRUE(QDir(folder_).mkdir("pictures"));
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_);
        hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
    }

    void TearDown() override {
        Application::SetErrorBoxHook(nullptr);
        TColorDialog::ExecuteHook = nullptr;
        QDir::setCurrent(previous_);
        if (!hadConfig_)
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    QString IniPath() const { return config_.path() + "/Velkaro.ini"; }

    // Starts the program's window as main() does and shows it (which restores the settings).
    static std::unique_ptr<TMainWindow> Start() {
        auto form = std::make_unique<TMainWindow>();
        form->show();
        return form;
    }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QString folder_;
    QString previous_;
    QByteArray previousConfig_;
    bool hadConfig_ = false;
    QStringList errors_;
};

}  // namespace

TEST_F(MainWindowSettingsTest, FirstCloseWritesEveryKeyInOrder) {
    auto form = Start();
    EXPECT_FALSE(QFile::exists(IniPath()));
    form->close();
    ASSERT_TRUE(QFile::exists(IniPath()));
    form.reset();  // the close saved already; destroying the window writes nothing more

    QStringList expected = {"FormVersion",
                            "Flags",
                            "ShowCmd",
                            "PixelsPerInch",
                            TFormPlacement::ScreenKey("MinMaxPos"),
                            "MinMaxPos",
                            TFormPlacement::ScreenKey("NormPos"),
                            "NormPos",
                            "Visible",
                            "ReadText_Visible",
                            "PanelImage_Visible",
                            "BrowseFiles_Directory",
                            "PanelLeft_Width"};
    for (const char* font : {"ReadText_Font", "BrowseDrives_Font", "BrowseFiles_Font",
                             "FontText_Font", "FontBrowse_Font"})
        for (const char* sub : {"Charset", "Color", "Height", "Name", "Pitch", "Size", "Style"})
            expected << QString(font) + sub;
    expected << "WrapMenu_Checked"
             << "FolderMenu_Checked"
             << "TextAutoFocus_Checked"
             << "BrowseFiles_ShowFolders"
             << "BrowseTextFiles_Checked"
             << "BrowseImageFiles_Checked"
             << "ViewImage_Align"
             << "ViewImage_AutoSize"
             << "ViewImage_Stretch"
             << "ViewImage_Tiled"
             << "FullView_Checked"
             << "TileView_Checked"
             << "FitView_Checked"
             << "PanelImage_Color"
             << "ImageBk_Color"
             << "DetailsMenu_Checked"
             << "LineNumbersMenu_Checked"
             << "ColorManagement_Checked"
             << "Checkerboard_Checked"
             << "ThumbnailsMenu_Checked"
             << "BrowseFiles_ThumbnailSize"
             << "Slideshow_Interval"
             << "ReadText_FilterHeight";
    ASSERT_EQ(expected.size(), 71);

    TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadSection("User"), expected);
    auto value = [&](const char* key) { return ini.ReadString("User", key, "<missing>"); };
    EXPECT_EQ(value("FormVersion"), "0");
    EXPECT_EQ(value("ShowCmd"), "1");
    EXPECT_EQ(value("Visible"), "0");
    EXPECT_EQ(value("ReadText_Visible"), "True");
    EXPECT_EQ(value("PanelImage_Visible"), "False");
    EXPECT_EQ(QDir::cleanPath(value("BrowseFiles_Directory")), folder_);
    EXPECT_EQ(value("PanelLeft_Width"), "240");
    EXPECT_EQ(value("ReadText_FontCharset"), "1");
    EXPECT_EQ(value("ReadText_FontColor"), "-2147483640");
    EXPECT_EQ(value("ReadText_FontHeight"), "-11");
    EXPECT_EQ(value("BrowseDrives_FontName"), "MS Sans Serif");
    EXPECT_EQ(value("FontBrowse_FontPitch"), "fpDefault");
    EXPECT_EQ(value("FontText_FontSize"), "8");
    EXPECT_EQ(value("BrowseFiles_FontStyle"), "[]");
    EXPECT_EQ(value("BrowseImageFiles_Checked"), "False");
    EXPECT_EQ(value("ViewImage_Align"), "alNone");
    EXPECT_EQ(value("ViewImage_AutoSize"), "True");
    EXPECT_EQ(value("FullView_Checked"), "True");
    EXPECT_EQ(value("FitView_Checked"), "False");
    EXPECT_EQ(value("PanelImage_Color"), "-2147483633");
    EXPECT_EQ(value("ImageBk_Color"), "-2147483633");
    EXPECT_EQ(value("DetailsMenu_Checked"), "False");
    EXPECT_EQ(value("ColorManagement_Checked"), "True");
    EXPECT_EQ(value("Checkerboard_Checked"), "False");
    EXPECT_EQ(value("ThumbnailsMenu_Checked"), "False");
    EXPECT_EQ(value("BrowseFiles_ThumbnailSize"), "256");
    EXPECT_EQ(value("Slideshow_Interval"), "5");
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

TEST_F(MainWindowSettingsTest, RestartRestoresWhatTheUserChose) {
    const TFont reader("DejaVu Serif", 12, fsBold);
    const TFont browser("DejaVu Sans Mono", 10, fsItalic);
    const TColor background = 0x00336699;
    {
        auto form = Start();
        TMainWindow& f = *form;
        f.move(50, 60);
        f.resize(700, 500);
        f.ReadText->SetFont(reader);
        f.FontText->SetFont(reader);
        f.BrowseDrives->SetFont(browser);
        f.BrowseFiles->SetFont(browser);
        f.FontBrowse->SetFont(browser);
        f.WrapMenu->Click();
        f.FolderMenu->Click();
        f.TextAutoFocus->Click();
        f.BrowseImageFiles->Click();
        f.TileView->Click();
        f.DetailsMenu->Click();
        f.LineNumbersMenu->Click();
        TColorDialog::ExecuteHook = [&](TColorDialog& dialog) {
            dialog.SetColor(background);
            return true;
        };
        f.BackgroundColourItem->Click();
        f.PanelLeft->SetWidth(300);
        f.BrowseFiles->SetDirectory(folder_ + "/pictures");
        f.close();
    }

    // The new window starts in the working folder, then the stored settings take over.
    auto form = Start();
    TMainWindow& f = *form;
    EXPECT_EQ(f.pos(), QPoint(50, 60));
    EXPECT_EQ(f.size(), QSize(700, 500));
    EXPECT_EQ(f.ReadText->Font(), reader);
    EXPECT_EQ(f.FontText->Font(), reader);
    EXPECT_EQ(f.BrowseDrives->Font(), browser);
    EXPECT_EQ(f.BrowseFiles->Font(), browser);
    EXPECT_EQ(f.FontBrowse->Font(), browser);
    EXPECT_FALSE(f.WrapMenu->Checked());
    EXPECT_TRUE(f.ReadText->WordWrap());  // the memo's own setting is not stored
    EXPECT_TRUE(f.LineNumbersMenu->Checked());
    EXPECT_FALSE(f.FolderMenu->Checked());
    EXPECT_FALSE(f.BrowseFiles->ShowFolders());
    EXPECT_TRUE(f.TextAutoFocus->Checked());
    // Image mode with its mask, chosen by the window's show handler from the check mark.
    EXPECT_FALSE(f.BrowseTextFiles->Checked());
    EXPECT_TRUE(f.BrowseImageFiles->Checked());
    EXPECT_FALSE(f.ReadText->Visible());
    EXPECT_TRUE(f.PanelImage->Visible());
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    EXPECT_EQ(f.ViewImage->Align(), alClient);
    EXPECT_TRUE(f.ViewImage->Tiled());
    EXPECT_FALSE(f.FullView->Checked());
    EXPECT_TRUE(f.TileView->Checked());
    EXPECT_EQ(f.PanelImage->Color(), background);
    EXPECT_EQ(f.ImageBk->Color(), background);
    EXPECT_EQ(f.PanelLeft->Width(), 300);
    // Details: the report style with the Name, Size, Type and Modified columns.
    EXPECT_TRUE(f.DetailsMenu->Checked());
    EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsReport);
    EXPECT_TRUE(f.BrowseFiles->ShowColumnHeaders());
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(f.BrowseFiles->ColumnWidth(column) > 0, column < 4) << column;
    f.DetailsMenu->Click();
    EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsList);
    EXPECT_EQ(f.BrowseFiles->ColumnWidth(1), 0);
    EXPECT_EQ(QDir::cleanPath(f.BrowseFiles->Directory()), folder_ + "/pictures");
    // The show handler brought the combo to the restored folder.
    EXPECT_EQ(QDir::cleanPath(f.BrowseDrives->SelectedPath()), folder_ + "/pictures");
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// The fit view's check mark survives a restart and puts the view back in fit mode; the
// default settings return to the full view.
TEST_F(MainWindowSettingsTest, FitViewRoundTrips) {
    {
        auto form = Start();
        form->BrowseImageFiles->Click();
        form->FitView->Click();
        form->close();
    }
    auto form = Start();
    TMainWindow& f = *form;
    EXPECT_TRUE(f.FitView->Checked());
    EXPECT_FALSE(f.FullView->Checked());
    EXPECT_FALSE(f.TileView->Checked());
    EXPECT_TRUE(f.ViewImage->FitMode());
    EXPECT_EQ(f.ViewImage->Align(), alClient);

    f.DefaultSettingsItem->Click();
    EXPECT_TRUE(f.FullView->Checked());
    EXPECT_FALSE(f.FitView->Checked());
    EXPECT_FALSE(f.ViewImage->ZoomMode());
    EXPECT_EQ(f.ViewImage->Align(), alNone);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// Colour management switched off survives a restart and reaches the imaging library; the
// default settings switch it on again.
TEST_F(MainWindowSettingsTest, ColorManagementRoundTrips) {
    {
        auto form = Start();
        EXPECT_TRUE(form->ColorManagement->Checked());
        form->ColorManagement->Click();
        EXPECT_FALSE(ColorManagementEnabled());
        form->close();
    }
    SetColorManagementEnabled(true);
    auto form = Start();
    TMainWindow& f = *form;
    EXPECT_FALSE(f.ColorManagement->Checked());
    EXPECT_FALSE(ColorManagementEnabled());
    f.DefaultSettingsItem->Click();
    EXPECT_TRUE(f.ColorManagement->Checked());
    EXPECT_TRUE(ColorManagementEnabled());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// The checkerboard under transparent parts: off at first, kept over a restart, off again after
// Default Settings; the picture view follows the item.
TEST_F(MainWindowSettingsTest, CheckerboardRoundTrips) {
    {
        auto form = Start();
        EXPECT_FALSE(form->Checkerboard->Checked());
        EXPECT_FALSE(form->ViewImage->Checkerboard());
        form->Checkerboard->Click();
        EXPECT_TRUE(form->ViewImage->Checkerboard());
        form->close();
    }
    auto form = Start();
    EXPECT_TRUE(form->Checkerboard->Checked());
    EXPECT_TRUE(form->ViewImage->Checkerboard());
    form->DefaultSettingsItem->Click();
    EXPECT_FALSE(form->Checkerboard->Checked());
    EXPECT_FALSE(form->ViewImage->Checkerboard());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// Thumbnails: off at first, one view with Details (checking one unchecks the other), kept with
// its size over a restart, off again after Default Settings; the size reaches the thumbnail
// service in device pixels.
TEST_F(MainWindowSettingsTest, ThumbnailsRoundTrip) {
    {
        auto form = Start();
        TMainWindow& f = *form;
        EXPECT_FALSE(f.ThumbnailsMenu->Checked());
        f.DetailsMenu->Click();
        f.ThumbnailsMenu->Click();
        EXPECT_FALSE(f.DetailsMenu->Checked());
        EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsThumbnails);
        f.DetailsMenu->Click();
        EXPECT_FALSE(f.ThumbnailsMenu->Checked());
        EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsReport);
        f.ThumbnailsMenu->Click();
        f.BrowseFiles->StepThumbnailSize(-1);
        QApplication::processEvents();
        EXPECT_EQ(f.Thumbnails()->Size(), f.BrowseFiles->ThumbnailPixels());
        f.close();
    }
    auto form = Start();
    TMainWindow& f = *form;
    EXPECT_TRUE(f.ThumbnailsMenu->Checked());
    EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsThumbnails);
    EXPECT_EQ(f.BrowseFiles->ThumbnailSize(), 128);
    f.DefaultSettingsItem->Click();
    EXPECT_FALSE(f.ThumbnailsMenu->Checked());
    EXPECT_EQ(f.BrowseFiles->ViewStyle(), TFileListView::vsList);
    EXPECT_EQ(f.BrowseFiles->ThumbnailSize(), TFileListView::DefaultThumbnailSize);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// A settings file written before a change of the program's code is read back and written out
// unchanged to the byte: every key, its order and its spelling are part of the stored format.
// The folder the list shows is machine-specific and stands as @FOLDER@ in the stored file.
TEST_F(MainWindowSettingsTest, StoredSettingsFileIsWrittenBackUnchanged) {
    QFile stored(QStringLiteral(VELKARO_FIXTURES_DIR "/settings/Velkaro.ini"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray before = stored.readAll().replace("@FOLDER@", QFile::encodeName(folder_));
    auto readIni = [&] {
        QFile file(IniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    // The same choices made by hand write the same file.
    {
        auto form = Start();
        TMainWindow& f = *form;
        f.move(40, 30);
        f.resize(720, 520);
        f.ReadText->SetFont(TFont("DejaVu Serif", 12, fsBold));
        f.BrowseFiles->SetFont(TFont("DejaVu Sans Mono", 10, fsItalic));
        f.WrapMenu->Click();
        f.FolderMenu->Click();
        f.BrowseImageFiles->Click();
        f.FitView->Click();
        f.DetailsMenu->Click();
        f.LineNumbersMenu->Click();
        f.ColorManagement->Click();
        f.Checkerboard->Click();
        f.BrowseFiles->SetThumbnailSize(512);
        for (QAction* interval : f.SlideshowInterval->menu()->actions())
            if (interval->text() == "3 s") interval->trigger();
        f.PanelLeft->SetWidth(310);
        f.BrowseFiles->SetDirectory(folder_ + "/pictures");
        f.close();
    }
    SetColorManagementEnabled(true);
    EXPECT_EQ(readIni(), before) << readIni().toStdString();

    // The stored file is read and written back as it was.
    ASSERT_TRUE(QFile::remove(IniPath()));
    {
        QFile file(IniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    {
        auto form = Start();
        EXPECT_EQ(form->Slideshow->Interval(), 3);
        form->close();
    }
    SetColorManagementEnabled(true);
    EXPECT_EQ(readIni(), before);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// The text's highlight patterns survive a restart, whatever characters they hold.
TEST_F(MainWindowSettingsTest, HighlightsRoundTrip) {
    const QStringList highlights = HighlightsToList({
        {"a, \"b\" = c; d ", QColor(0x102030), true, false},
        {"'q'", QColor(0xffeedd), false, true},
        {"%20\t", QColor(0xaabbcc), false, false},
    });
    {
        auto form = Start();
        EXPECT_TRUE(form->ReadText->Highlights().isEmpty());
        form->ReadText->SetHighlights(highlights);
        form->close();
    }
    auto form = Start();
    EXPECT_EQ(form->ReadText->Highlights(), highlights);
    EXPECT_EQ(form->ReadText->PatternHighlights().size(), 3u);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}
