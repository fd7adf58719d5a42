// The main window against what disks and settings files may hold: files that are no regular
// files, names that are not valid UTF-8, hostile settings, and the window's placement.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextCursor>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "settings/IniFile.h"
#include "toolkit/Application.h"

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

QRect Desktop() {
    return QGuiApplication::primaryScreen()->availableVirtualGeometry();
}

class MainWindowRobustnessTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(config_.isValid());
        folder_ = QDir(dir_.path()).canonicalPath();
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_);
        hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
        RegisterImageFormats();
    }

    void TearDown() override {
        UnregisterImageFormats();
        Application::SetErrorBoxHook(nullptr);
        QDir::setCurrent(previous_);
        if (!hadConfig_)
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    QString Path(const QString& name) const { return folder_ + "/" + name; }
    QString IniPath() const { return config_.path() + "/Velkaro.ini"; }

    static void Write(const QByteArray& nativePath, const QByteArray& bytes) {
        const int fd = ::open(nativePath.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
        ::close(fd);
    }

    static std::unique_ptr<TMainWindow> Start() {
        auto form = std::make_unique<TMainWindow>();
        form->show();
        Settle();
        return form;
    }

    // Clicks the list row whose full path is the given one; false when it is not listed.
    static bool ClickRow(TMainWindow& f, const QByteArray& nativePath) {
        TFileListView* list = f.BrowseFiles;
        for (int row = 0; row < list->ItemCount(); ++row) {
            if (list->ItemNativePath(row) != nativePath) continue;
            list->SetItemSelected(row, true);
            list->Click();
            // Pictures decode on worker threads: wait for the one asked for.
            QElapsedTimer timer;
            timer.start();
            while (f.PictureLoading() && timer.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return true;
        }
        return false;
    }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QString folder_;
    QString previous_;
    QByteArray previousConfig_;
    bool hadConfig_ = false;
    QStringList errors_;
};

// --- Files that are not regular files ------------------------------------------------------------

TEST_F(MainWindowRobustnessTest, OnlyRegularFilesAreReadAtAnySizeAndNothingBlocks) {
    Write(QFile::encodeName(Path("shown.txt")), "kept text");
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.txt")).constData(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(Path("zero.txt")).constData()), 0);
    {
        // Larger than memory would hold comfortably, without using the disk space.
        QFile huge(Path("huge.log"));
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.write("first line\n") > 0);
        ASSERT_TRUE(huge.resize(qint64(3) << 30));
    }
    // Should the window ever wait for the pipe again, a writer appears after three seconds,
    // so that the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread unblock([&] {
        for (int i = 0; i < 300 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done) return;
        const int fd =
            ::open(QFile::encodeName(Path("pipe.txt")).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });

    auto form = Start();
    TMainWindow& f = *form;
    ASSERT_TRUE(ClickRow(f, QFile::encodeName(Path("shown.txt"))));
    ASSERT_EQ(f.ReadText->Text(), "kept text");
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"pipe.txt", "It is not a regular file."},
        {"zero.txt", "It is not a regular file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        errors_.clear();
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(ClickRow(f, QFile::encodeName(Path(c.name))));
        EXPECT_LT(clock.elapsed(), 2000);
        ASSERT_EQ(errors_.size(), 1);
        EXPECT_EQ(errors_[0],
                  "Cannot open file \"" + Path(c.name) + "\". " + QString::fromLatin1(c.reason));
        EXPECT_EQ(f.ReadText->Text(), "kept text");
    }
    // Any size opens at once: the first screen is read, the rest indexed in the background.
    QElapsedTimer clock;
    clock.start();
    errors_.clear();
    ASSERT_TRUE(ClickRow(f, QFile::encodeName(Path("huge.log"))));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(f.ReadText->Document()->Size(), quint64(3) << 30);
    EXPECT_EQ(f.ReadText->TextOf(0, 10, 100), "first line");
    done = true;
    unblock.join();
}

TEST_F(MainWindowRobustnessTest, NamesThatAreNotValidUtf8OpenByTheirBytes) {
    const QByteArray text = QFile::encodeName(folder_) + "/latin1_\xe9.txt";
    const QByteArray picture = QFile::encodeName(folder_) + "/bild_\xe9.bmp";
    Write(text, "caf\xc3\xa9");
    {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(3, 2);
        TFileStream stream(picture.toStdString(), TFileStream::fmCreate);
        bitmap.SaveToStream(stream);
    }
    auto form = Start();
    TMainWindow& f = *form;
    ASSERT_TRUE(ClickRow(f, text));
    EXPECT_EQ(f.ReadText->Text(), QString::fromUtf8("café"));
    f.BrowseImageFiles->Click();
    ASSERT_TRUE(ClickRow(f, picture));
    ASSERT_NE(f.ViewImage->Picture()->Graphic(), nullptr);
    EXPECT_EQ(f.ViewImage->Picture()->Width(), 3);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// --- Keyboard
// --------------------------------------------------------------------------------------

TEST_F(MainWindowRobustnessTest, TheReaderSelectsByKeyboardAndShiftF10OpensTheMenus) {
    Write(QFile::encodeName(Path("a.txt")), "abcdef");
    auto form = Start();
    TMainWindow& f = *form;
    f.activateWindow();
    ASSERT_TRUE(ClickRow(f, QFile::encodeName(Path("a.txt"))));
    EXPECT_TRUE(f.ReadText->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    f.ReadText->setFocus();
    f.ReadText->Select(0, 0);
    for (int i = 0; i < 3; ++i) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Right, Qt::ShiftModifier);
        QApplication::sendEvent(f.ReadText, &key);
    }
    EXPECT_EQ(f.ReadText->SelLength(), 3);

    auto shiftF10 = [&](QWidget* target) {
        target->setFocus();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
        QApplication::sendEvent(target, &key);
        QStringList open;
        for (TPopupMenu* menu : {f.TextMenu, f.FileMenu, f.ImageMenu, f.NoPopup}) {
            if (menu->isVisible()) open << menu->objectName();
            menu->hide();
        }
        return open;
    };
    EXPECT_EQ(shiftF10(f.ReadText), QStringList({"TextMenu"}));
    EXPECT_EQ(shiftF10(f.BrowseFiles->View()), QStringList({"FileMenu"}));
}

// --- Hostile settings
// ------------------------------------------------------------------------------

TEST_F(MainWindowRobustnessTest, AbsurdStoredValuesFallBackToTheirDefaultsOneByOne) {
    const QString ppi =
        QString::number(qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch()));
    const TFont defaults;
    struct Case {
        const char* name;
        QList<QPair<QString, QString>> keys;
        std::function<void(TMainWindow&)> check;
    };
    const Case cases[] = {
        {"a huge window far off the desktop",
         {{"PixelsPerInch", ppi}, {"NormPos", "-1994,-2339,30773,30428"}},
         [](TMainWindow& f) {
             EXPECT_TRUE(Desktop().contains(f.frameGeometry())) << f.frameGeometry().x();
             EXPECT_LE(f.Width(), Desktop().width());
         }},
        {"a window whose bottom lies below the desktop",
         {{"PixelsPerInch", ppi},
          {"NormPos", QStringLiteral("%1,%2,%3,%4")
                          .arg(Desktop().left() + 40)
                          .arg(Desktop().bottom() + 1 - 400 + 15)
                          .arg(Desktop().left() + 640)
                          .arg(Desktop().bottom() + 1 + 15)}},
         [](TMainWindow& f) {
             EXPECT_TRUE(Desktop().contains(f.frameGeometry())) << f.frameGeometry().y();
             EXPECT_EQ(f.Left(), Desktop().left() + 40);
         }},
        {"a window too small to use",
         {{"PixelsPerInch", ppi}, {"NormPos", "30,40,35,42"}},
         [](TMainWindow& f) {
             EXPECT_EQ(QPoint(f.Left(), f.Top()), QPoint(30, 40));
             EXPECT_EQ(QSize(f.Width(), f.Height()), QSize(600, 400));
         }},
        {"a negative pane, both modes, both panes hidden",
         {{"PanelLeft_Width", "-500"},
          {"BrowseTextFiles_Checked", "True"},
          {"BrowseImageFiles_Checked", "True"},
          {"ReadText_Visible", "False"},
          {"PanelImage_Visible", "False"}},
         [](TMainWindow& f) {
             EXPECT_EQ(f.PanelLeft->Width(), 240);
             EXPECT_TRUE(f.BrowseTextFiles->Checked());
             EXPECT_FALSE(f.BrowseImageFiles->Checked());
             EXPECT_TRUE(f.ReadText->Visible());
             EXPECT_FALSE(f.PanelImage->Visible());
             EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::TextMask);
         }},
        {"no mode and the picture pane shown",
         {{"BrowseTextFiles_Checked", "False"},
          {"BrowseImageFiles_Checked", "False"},
          {"PanelImage_Visible", "True"}},
         [](TMainWindow& f) {
             EXPECT_TRUE(f.BrowseTextFiles->Checked());
             EXPECT_TRUE(f.ReadText->Visible());
             EXPECT_FALSE(f.PanelImage->Visible());
         }},
        {"image mode with the text pane shown",
         {{"BrowseTextFiles_Checked", "False"},
          {"BrowseImageFiles_Checked", "True"},
          {"ReadText_Visible", "True"},
          {"PanelImage_Visible", "False"},
          {"PanelLeft_Width", "300"}},
         [](TMainWindow& f) {
             EXPECT_TRUE(f.BrowseImageFiles->Checked());
             EXPECT_FALSE(f.ReadText->Visible());
             EXPECT_TRUE(f.PanelImage->Visible());
             EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
             EXPECT_EQ(f.PanelLeft->Width(), 300);  // a sound value stays
         }},
        {"a pane wider than the window",
         {{"PanelLeft_Width", "5000"}},
         [](TMainWindow& f) { EXPECT_EQ(f.PanelLeft->Width(), 240); }},
        {"fonts out of range",
         {{"ReadText_FontSize", "5000"},
          {"ReadText_FontName", "DejaVu Serif"},
          {"BrowseFiles_FontHeight", "0"},
          {"BrowseFiles_FontSize", "0"},
          {"BrowseDrives_FontColor", "-5"},
          {"BrowseDrives_FontSize", "12"},
          {"FontText_FontName", ""},
          {"FontBrowse_FontCharset", "70000"}},
         [&](TMainWindow& f) {
             EXPECT_EQ(f.ReadText->Font().Height(), defaults.Height());
             EXPECT_EQ(f.ReadText->Font().Name(), "DejaVu Serif");  // the sound part stays
             EXPECT_EQ(f.BrowseFiles->Font().Height(), defaults.Height());
             EXPECT_EQ(f.BrowseDrives->Font().Color(), defaults.Color());
             EXPECT_EQ(f.BrowseDrives->Font().Size(), 12);
             EXPECT_EQ(f.FontText->Font().Name(), defaults.Name());
             EXPECT_EQ(f.FontBrowse->Font().Charset(), defaults.Charset());
         }},
        {"colours that are none",
         {{"PanelImage_Color", "-1"}, {"ImageBk_Color", "268435456"}},
         [](TMainWindow& f) {
             EXPECT_EQ(f.PanelImage->Color(), clBtnFace);
             EXPECT_EQ(f.ImageBk->Color(), clBtnFace);
         }},
        {"both picture views",
         {{"FullView_Checked", "True"},
          {"TileView_Checked", "True"},
          {"ViewImage_Align", "alTop"},
          {"ViewImage_Tiled", "True"}},
         [](TMainWindow& f) {
             EXPECT_TRUE(f.FullView->Checked());
             EXPECT_FALSE(f.TileView->Checked());
             EXPECT_EQ(f.ViewImage->Align(), alNone);
             EXPECT_FALSE(f.ViewImage->Tiled());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(IniPath());
        {
            TIniFile ini(IniPath());
            for (const auto& [key, value] : c.keys)
                ini.WriteString("User", key, value);
            ini.UpdateFile();
        }
        auto form = Start();
        c.check(*form);
        // Neither pane of the window is left blank.
        EXPECT_TRUE(form->PanelLeft->Visible());
        EXPECT_NE(form->ReadText->Visible(), form->PanelImage->Visible());
        form->close();
    }
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

// --- Placement
// -------------------------------------------------------------------------------------

TEST_F(MainWindowRobustnessTest, OuterBoundsAreStoredAndRestoredAsTheyWere) {
    {
        auto form = Start();
        TMainWindow& f = *form;
        // The first run's window is 600 x 400 outside, at 20, 20.
        EXPECT_EQ(f.frameGeometry(), QRect(20, 20, 600, 400));
        f.move(100, 120);
        Settle();
        form->close();
    }
    auto form = Start();
    EXPECT_EQ(form->frameGeometry(), QRect(100, 120, 600, 400));
}

TEST_F(MainWindowRobustnessTest, AMaximizedWindowComesBackMaximizedWithItsNormalSize) {
    QRect normal;
    {
        auto form = Start();
        TMainWindow& f = *form;
        f.SetOuterBounds(QRect(40, 50, 700, 500));
        Settle();
        normal = f.geometry();
        f.showMaximized();
        Settle();
        ASSERT_TRUE(f.isMaximized());
        f.close();
    }
    {
        TIniFile ini(IniPath());
        EXPECT_EQ(ini.ReadString("User", "ShowCmd", ""), "3");
        EXPECT_EQ(ini.ReadString("User", "NormPos", ""), "40,50,740,550");
    }
    auto form = Start();
    TMainWindow& f = *form;
    EXPECT_TRUE(f.isMaximized());
    f.showNormal();
    Settle();
    EXPECT_EQ(f.geometry(), normal);
    EXPECT_EQ(QRect(f.Left(), f.Top(), f.Width(), f.Height()), QRect(40, 50, 700, 500));
}

TEST_F(MainWindowRobustnessTest, DefaultSettingsBringTheWindowBackOnTheDesktop) {
    auto form = Start();
    TMainWindow& f = *form;
    f.setGeometry(-5000, -4000, 2000, 1500);
    Settle();
    f.DefaultSettingsClick();
    Settle();
    EXPECT_EQ(f.frameGeometry().size(), QSize(600, 400));
    EXPECT_TRUE(Desktop().contains(f.frameGeometry()));
}

}  // namespace
