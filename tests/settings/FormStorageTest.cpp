#include "settings/FormStorage.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#include "TestWindow.h"
#include "settings/IniFile.h"
#include "toolkit/Application.h"

namespace {

const QString kUser = QStringLiteral("User");

class FormStorageTest : public testing::Test {
  protected:
    void SetUp() override {
        Application::SetErrorBoxHook([this](const QString& text) { errors_.append(text); });
    }
    void TearDown() override {
        window_.reset();
        for (const QString& e : errors_)
            ADD_FAILURE() << "error box: " << e.toStdString();
        Application::SetErrorBoxHook(nullptr);
    }

    QString Path() const { return dir_.filePath("Velkaro.ini"); }

    TTestWindow* NewWindow() {
        window_ = std::make_unique<TTestWindow>(Path());
        return window_.get();
    }
    // A window shown (settings read) and closed (settings written).
    void ShowAndClose(TTestWindow* w) {
        w->show();
        w->close();
    }
    void WriteFile(const QByteArray& text) {
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QString Value(const QString& key) const {
        return TIniFile(Path()).ReadString(kUser, key, QStringLiteral("<missing>"));
    }

    QTemporaryDir dir_;
    std::unique_ptr<TTestWindow> window_;
    QStringList errors_;
};

TEST_F(FormStorageTest, FirstSaveWritesEveryKeyInOrderOnce) {
    TTestWindow* w = NewWindow();
    w->show();
    EXPECT_EQ(w->Log, QStringList({"read", "show"}));  // restore runs before the window's own
    w->close();
    window_.reset();  // the destroy hook finds the save done
    ASSERT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();

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
            expected.append(QString(font) + sub);
    expected += QStringList{"WrapMenu_Checked",        "FolderMenu_Checked",
                            "TextAutoFocus_Checked",   "BrowseFiles_ShowFolders",
                            "BrowseTextFiles_Checked", "BrowseImageFiles_Checked",
                            "ViewImage_Align",         "ViewImage_AutoSize",
                            "ViewImage_Stretch",       "ViewImage_Tiled",
                            "FullView_Checked",        "TileView_Checked",
                            "PanelImage_Color",        "ImageBk_Color"};
    EXPECT_EQ(TIniFile(Path()).ReadSection(kUser), expected);
    EXPECT_EQ(expected.size(), 62);

    EXPECT_EQ(Value("FormVersion"), "0");
    EXPECT_EQ(Value("ShowCmd"), "1");
    EXPECT_EQ(Value("Visible"), "0");
    EXPECT_EQ(Value("NormPos"), Value(TFormPlacement::ScreenKey("NormPos")));
    EXPECT_EQ(Value("ReadText_Visible"), "True");
    EXPECT_EQ(Value("PanelImage_Visible"), "False");
    EXPECT_EQ(Value("BrowseFiles_Directory"), "/home/user/");
    EXPECT_EQ(Value("PanelLeft_Width"), "240");
    EXPECT_EQ(Value("ReadText_FontCharset"), "1");
    EXPECT_EQ(Value("ReadText_FontColor"), "-2147483640");
    EXPECT_EQ(Value("ReadText_FontHeight"), "-11");
    EXPECT_EQ(Value("ReadText_FontName"), "MS Sans Serif");
    EXPECT_EQ(Value("ReadText_FontPitch"), "fpDefault");
    EXPECT_EQ(Value("ReadText_FontSize"), "8");
    EXPECT_EQ(Value("ReadText_FontStyle"), "[]");
    EXPECT_EQ(Value("ViewImage_Align"), "alNone");
    EXPECT_EQ(Value("PanelImage_Color"), "-2147483633");
    EXPECT_EQ(Value("ImageBk_Color"), "-2147483633");
}

TEST_F(FormStorageTest, ValuesRoundTripAndRewriteInPlace) {
    TTestWindow* w = NewWindow();
    w->show();
    w->PanelLeft->SetWidth(300);
    TFont font(QStringLiteral("DejaVu Sans Mono"), 12, TFontStyles(fsBold | fsItalic));
    font.SetPitch(fpFixed);
    font.SetColor(clRed);
    w->ReadText->SetFont(font);
    w->BrowseFiles->SetDirectory(QStringLiteral("\"quoted\""));
    w->ViewImage->SetAlign(alClient);
    w->WrapMenu->SetChecked(false);
    w->ImageBk->SetColor(0x123456);
    w->PanelImage->SetColor(clWindow);
    w->close();
    const QStringList order = TIniFile(Path()).ReadSection(kUser);
    EXPECT_EQ(Value("BrowseFiles_Directory"), "\"quoted\"");
    EXPECT_TRUE(TIniFile(Path()).Text().contains("\nBrowseFiles_Directory=\"\"quoted\"\"\n"));
    EXPECT_EQ(Value("ReadText_FontStyle"), "[fsBold,fsItalic]");

    // Another run reads everything back; its save rewrites the keys where they are.
    TTestWindow* v = NewWindow();
    v->show();
    EXPECT_EQ(v->PanelLeft->Width(), 300);
    EXPECT_EQ(v->ReadText->Font(), font);
    EXPECT_EQ(v->BrowseFiles->Directory(), "\"quoted\"");
    EXPECT_EQ(v->ViewImage->Align(), alClient);
    EXPECT_FALSE(v->WrapMenu->Checked());
    EXPECT_EQ(v->ImageBk->Color(), 0x123456);
    EXPECT_EQ(v->PanelImage->Color(), clWindow);
    EXPECT_EQ(v->BrowseDrives->Font(), TFont());
    v->PanelLeft->SetWidth(100);
    v->close();
    EXPECT_EQ(TIniFile(Path()).ReadSection(kUser), order);
    EXPECT_EQ(Value("PanelLeft_Width"), "100");
}

TEST_F(FormStorageTest, NoFileOrMissingKeysKeepTheCreatedValues) {
    WriteFile("[User]\nPanelLeft_Width=250\n");
    TTestWindow* w = NewWindow();
    const QRect geometry = w->geometry();
    w->show();
    EXPECT_EQ(w->PanelLeft->Width(), 250);
    EXPECT_EQ(w->BrowseFiles->Directory(), "/home/user/");
    EXPECT_TRUE(w->WrapMenu->Checked());
    EXPECT_EQ(w->ReadText->Font(), TFont());
    EXPECT_EQ(w->size(), geometry.size());
    EXPECT_FALSE(w->isMaximized());
}

TEST_F(FormStorageTest, UnreadableValuesFollowTheirKind) {
    WriteFile(
        "[User]\n"
        "PanelLeft_Width=abc\n"
        "ViewImage_Align=xyz\n"
        "ReadText_Visible=maybe\n"
        "PanelImage_Visible=TRUE\n"
        "ImageBk_Color=\n"
        "ReadText_FontStyle=[fsBold, bogus fsItalic]\n"
        "BrowseDrives_FontStyle=fsUnderline fsStrikeOut\n"
        "BrowseFiles_FontPitch=FPFIXED\n"
        "FontText_FontHeight=-20\n"
        "FontText_FontSize=10\n");
    TTestWindow* w = NewWindow();
    w->ViewImage->SetAlign(alTop);
    w->show();
    EXPECT_EQ(w->PanelLeft->Width(), 0);      // not a number: 0
    EXPECT_EQ(w->ViewImage->Align(), alTop);  // unknown identifier: unchanged
    EXPECT_TRUE(w->ReadText->Visible());      // unchanged, and the next one is still read
    EXPECT_TRUE(w->PanelImage->Visible());    // identifiers ignore letter case
    EXPECT_EQ(w->ImageBk->Color(), 0);        // present but empty integer: 0
    EXPECT_EQ(w->ReadText->Font().Style(), TFontStyles(fsBold | fsItalic));
    EXPECT_EQ(w->BrowseDrives->Font().Style(), TFontStyles(fsUnderline | fsStrikeOut));
    EXPECT_EQ(w->BrowseFiles->Font().Pitch(), fpFixed);
    EXPECT_EQ(w->FontText->Font().Size(), 10);  // Size comes after Height and wins
    EXPECT_EQ(w->FontText->Font().Height(), -13);
    window_.reset();

    WriteFile("[User]\nViewImage_Align=ALCLIENT\n");
    NewWindow()->show();
    EXPECT_EQ(window_->ViewImage->Align(), alClient);
}

TEST_F(FormStorageTest, NamesAreFoundWithoutRegardToCase) {
    TTestWindow* w = NewWindow();
    w->FormStorage1->SetStoredProps({"readtext.VISIBLE", " panelleft . width ", "NoDot",
                                     "Missing.Width", ".Width", "PanelLeft.", "Kinds.Bogus",
                                     "PANELIMAGE.color"});
    EXPECT_EQ(w->FormStorage1->StoredProps(),
              QStringList(
                  {"readtext.VISIBLE", " panelleft . width ", "Kinds.Bogus", "PANELIMAGE.color"}));
    EXPECT_EQ(w->FormStorage1->EntryComponent(1), w->PanelLeft);
    WriteFile("[User]\nreadtext_visible=False\nPANELLEFT_WIDTH=123\n");
    w->show();
    EXPECT_FALSE(w->ReadText->Visible());
    EXPECT_EQ(w->PanelLeft->Width(), 123);
    // Keys carry the components' and properties' own names.
    delete w->Kinds;
    w->close();
    const QStringList keys = TIniFile(Path()).ReadSection(kUser);
    EXPECT_EQ(keys.indexOf("ReadText_Visible"), 0);  // rewritten in place
    EXPECT_EQ(keys.indexOf("PANELLEFT_WIDTH"), -1);
    EXPECT_TRUE(keys.contains("PanelLeft_Width"));
    EXPECT_TRUE(keys.contains("PanelImage_Color"));
    EXPECT_EQ(w->FormStorage1->StoredProps(),
              QStringList({"readtext.VISIBLE", " panelleft . width ", "PANELIMAGE.color"}));
}

TEST_F(FormStorageTest, NormPosWithTwoNumbersTakesRightAndBottomFromTheWindow) {
    TTestWindow* w = NewWindow();  // at 20,20, 600 x 400: right 620, bottom 420
    WriteFile("[User]\nNormPos=50,60\n");
    w->show();
    EXPECT_EQ(w->geometry(), QRect(50, 60, 570, 360));
}

TEST_F(FormStorageTest, TheKeyForThisScreenSizeComesFirst) {
    const QByteArray here = TFormPlacement::ScreenKey("NormPos").toUtf8();
    WriteFile("[User]\nNormPos(1x1)=1,1,101,101\nNormPos=30,40,330,240\n");
    TTestWindow* w = NewWindow();
    w->show();
    EXPECT_EQ(w->geometry(), QRect(30, 40, 300, 200));
    window_.reset();

    WriteFile("[User]\nNormPos=30,40,330,240\n" + here + "=70,80,470,380\n");
    w = NewWindow();
    w->show();
    EXPECT_EQ(w->geometry(), QRect(70, 80, 400, 300));
    window_.reset();

    // Another pixel density skips the position, not the properties.
    WriteFile("[User]\nPixelsPerInch=1000\nNormPos=70,80,470,380\nPanelLeft_Width=111\n");
    w = NewWindow();
    const QRect created = w->geometry();
    w->show();
    EXPECT_EQ(w->geometry(), created);
    EXPECT_EQ(w->PanelLeft->Width(), 111);
}

TEST_F(FormStorageTest, OlderFormVersionIsIgnored) {
    WriteFile("[User]\nFormVersion=1\nNormPos=70,80,470,380\nPanelLeft_Width=111\nShowCmd=3\n");
    TTestWindow* w = NewWindow();
    w->FormStorage1->SetVersion(2);
    const QRect created = w->geometry();
    w->show();
    EXPECT_EQ(w->geometry(), created);
    EXPECT_EQ(w->PanelLeft->Width(), 240);
    EXPECT_FALSE(w->isMaximized());
    EXPECT_EQ(w->Log, QStringList({"show"}));
    w->close();
    EXPECT_EQ(Value("FormVersion"), "2");

    w = NewWindow();
    w->FormStorage1->SetVersion(2);
    w->show();
    EXPECT_EQ(w->PanelLeft->Width(), 240);
    EXPECT_EQ(w->Log, QStringList({"read", "show"}));
}

TEST_F(FormStorageTest, OtherKindsRoundTrip) {
    TTestWindow* w = NewWindow();
    w->FormStorage1->SetStoredProps({"Kinds.Big", "Kinds.Ratio", "Kinds.Letter", "Kinds.Any",
                                     "Kinds.Lines", "Kinds.Text", "Kinds.Link"});
    w->show();
    w->Kinds->Big = -1234567890123LL;
    w->Kinds->Ratio = 2.5;
    w->Kinds->Letter = QLatin1Char('Z');
    w->Kinds->Any = QStringLiteral("anything");
    w->Kinds->Lines = QStringList({"one", " two ", "'three'"});
    w->Kinds->Text = QStringLiteral("  ");  // trims to empty: a string is written all the same
    w->Kinds->Link = w->PanelTop;
    w->close();
    EXPECT_EQ(Value("Kinds_Big"), "-1234567890123");
    EXPECT_EQ(Value("Kinds_Ratio"), "2.5");
    EXPECT_EQ(Value("Kinds_Link"), "PanelTop");
    EXPECT_EQ(Value("Kinds_Text"), "");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadSection("User.Kinds_Lines"),
              QStringList({"Count", "Item0", "Item1", "Item2"}));

    const QStringList props = w->FormStorage1->StoredProps();
    TTestWindow* v = NewWindow();
    v->FormStorage1->SetStoredProps(props);
    v->show();
    EXPECT_EQ(v->Kinds->Big, -1234567890123LL);
    EXPECT_DOUBLE_EQ(v->Kinds->Ratio, 2.5);
    EXPECT_EQ(v->Kinds->Letter, QLatin1Char('Z'));
    EXPECT_EQ(v->Kinds->Any.toString(), "anything");
    EXPECT_EQ(v->Kinds->Lines, QStringList({"one", "two", "'three'"}));
    EXPECT_EQ(v->Kinds->Link, v->PanelTop);
    // An empty list writes nothing and erases the old section; "(null)" for no component.
    v->Kinds->Lines.clear();
    v->Kinds->Link = nullptr;
    v->close();
    EXPECT_FALSE(TIniFile(Path()).SectionExists("User.Kinds_Lines"));
    EXPECT_EQ(Value("Kinds_Link"), "(null)");
}

TEST_F(FormStorageTest, CloseRefusedSavesNothingAndDestroyWithoutCloseSaves) {
    TTestWindow* w = NewWindow();
    w->show();
    w->AllowClose = false;
    w->close();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(QFile::exists(Path()));
    window_.reset();
    EXPECT_EQ(Value("Visible"), "1");

    // A window never shown has restored nothing and saves nothing.
    QFile::remove(Path());
    NewWindow();
    window_.reset();
    EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(FormStorageTest, StateAndWriteErrorsAreReported) {
    WriteFile("[User]\nShowCmd=3\n");
    TTestWindow* w = NewWindow();
    w->show();
    EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
    w->setWindowState(Qt::WindowNoState);
    // The settings file's place is taken by a folder: the save fails with the message.
    QFile::remove(Path());
    ASSERT_TRUE(QDir(dir_.path()).mkdir("Velkaro.ini"));
    w->close();
    EXPECT_FALSE(w->isVisible());  // the window still closes
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Unable to write to " + Path() + ".");
    // No save completed, so destroying the window tries once more.
    window_.reset();
    EXPECT_EQ(errors_.size(), 2);
    errors_.clear();
}

}  // namespace

namespace {

TEST(FormStoragePlainWindowTest, HooksWorkOnAnyWidgetWindow) {
    QTemporaryDir dir;
    const QString path = dir.filePath("plain.ini");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[QWidget]\nPanel_Width=77\n");
    }
    auto* window = new QWidget;
    auto* panel = new TPanel(QStringLiteral("Panel"), window);
    auto* storage = new TFormStorage(QStringLiteral("Storage"), window);
    storage->SetIniFileName(path);  // section: the window's class name
    storage->SetStoredProps({"Panel.Width"});
    int widthAtShow = -1;
    QObject::connect(storage, &TFormPlacement::OnWindowShow, [&] { widthAtShow = panel->Width(); });
    window->show();
    EXPECT_EQ(widthAtShow, 77);
    panel->SetWidth(88);
    delete window;  // destroyed without a close: the destroy hook saves
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("QWidget", "Panel_Width", ""), "88");
    EXPECT_EQ(ini.ReadString("QWidget", "Visible", ""), "1");
}

}  // namespace
