// Image mode lists every picture the reader can open: its mask holds every extension the
// picture formats are registered for.
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <memory>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "imaging/Registration.h"
#include "toolkit/Application.h"

namespace {

class MainWindowImageMaskTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(config_.isValid());
        folder_ = QDir(dir_.path()).canonicalPath();
        previous_ = QDir::currentPath();
        QDir::setCurrent(folder_);
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        Application::SetErrorBoxHook([this](const QString& text) { errors_ << text; });
        RegisterImageFormats();
    }
    void TearDown() override {
        UnregisterImageFormats();
        Application::SetErrorBoxHook(nullptr);
        QDir::setCurrent(previous_);
        qputenv("XDG_CONFIG_HOME", previousConfig_);
    }

    // Every extension of the registry, in registration order.
    static QStringList Registered() {
        QStringList extensions;
        const TFileFormatList* formats = FileFormatList();
        for (int i = 0; i < formats->ExtensionCount(); ++i)
            extensions << QString::fromStdString(formats->ExtensionRecord(i).Extension);
        return extensions;
    }

    QTemporaryDir dir_;
    QTemporaryDir config_;
    QString folder_;
    QString previous_;
    QByteArray previousConfig_;
    QStringList errors_;
};

TEST_F(MainWindowImageMaskTest, TheMaskHoldsEveryRegisteredExtensionOnceAfterTheFixedList) {
    const QStringList fixed = QString::fromLatin1(TMainWindow::ImageMask).split(';');
    const QStringList mask = TMainWindow::ImageFilesMask().split(';');
    ASSERT_GE(mask.size(), fixed.size());
    EXPECT_EQ(mask.mid(0, fixed.size()), fixed);
    // Each piece once, and nothing but registered extensions beyond the fixed list.
    EXPECT_EQ(QSet<QString>(mask.begin(), mask.end()).size(), mask.size());
    QStringList expectedRest;
    for (const QString& extension : Registered()) {
        const QString piece = "*." + extension.toLower();
        EXPECT_TRUE(mask.contains(piece)) << piece.toStdString();
        if (!fixed.contains(piece) && !expectedRest.contains(piece)) expectedRest << piece;
    }
    EXPECT_EQ(mask.mid(fixed.size()), expectedRest);  // in registration order
    for (const char* wanted :
         {"*.tiff", "*.jpeg", "*.jfif", "*.vda", "*.icb", "*.vst", "*.win", "*.pdd",
          "*.rgb",  "*.rgba", "*.bw",   "*.ppm", "*.pgm", "*.pbm", "*.psp", "*.cut",
          "*.rla",  "*.rpf",  "*.cel",  "*.pic", "*.eps", "*.wmf", "*.emf"})
        EXPECT_TRUE(mask.contains(wanted)) << wanted;
    // Without a registry only the fixed list is left.
    UnregisterImageFormats();
    EXPECT_EQ(TMainWindow::ImageFilesMask(), TMainWindow::ImageMask);
}

TEST_F(MainWindowImageMaskTest, ImageModeListsAFileOfEveryRegisteredExtension) {
    QStringList names;
    for (const QString& extension : Registered()) {
        // Upper-case names are listed as well.
        const QString name = "PHOTO." + extension.toUpper();
        QFile file(folder_ + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        names << name;
    }
    QFile(folder_ + "/notes.txt").open(QIODevice::WriteOnly);
    auto form = std::make_unique<TMainWindow>();
    TMainWindow& f = *form;
    f.show();
    auto captions = [&] {
        QStringList list;
        for (int row = 0; row < f.BrowseFiles->ItemCount(); ++row)
            list << f.BrowseFiles->ItemCaption(row);
        return list;
    };
    f.BrowseImageFiles->Click();
    for (const QString& name : names)
        EXPECT_TRUE(captions().contains(name)) << name.toStdString();
    EXPECT_FALSE(captions().contains("notes.txt"));
    // The default settings and a restart in image mode keep the same mask.
    f.DefaultSettingsItem->Click();
    EXPECT_EQ(f.BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    f.close();
    form = std::make_unique<TMainWindow>();
    form->show();
    EXPECT_EQ(form->BrowseFiles->Mask(), TMainWindow::ImageFilesMask());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

}  // namespace
