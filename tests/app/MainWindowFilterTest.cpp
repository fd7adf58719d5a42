// Narrowing the list in the window: the picture shown follows the row the filter selects.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/PictureWindowFixture.h"
#include "display/PicturePresenter.h"

namespace {

class MainWindowFilterTest : public testhelp::TPictureWindowFixture {};

// Typing narrows the rows; the first match is shown even when the picture shown before was
// narrowed away.
TEST_F(MainWindowFilterTest, TheFirstMatchIsShown) {
    TMainWindow& f = *form_;
    Jpeg("grad.jpg", 40, 30);
    const QString plasma = Jpeg("plasma.jpg", 40, 30);
    const QString rose = Jpeg("rose.jpg", 40, 30);
    f.OpenPath(plasma);
    Wait([&] { return f.Presenter()->ShownPath() == QFile::encodeName(plasma); });
    f.BrowseFiles->View()->setFocus();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, "r");
    QApplication::sendEvent(f.BrowseFiles->View(), &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_R, Qt::NoModifier, "r");
    QApplication::sendEvent(f.BrowseFiles->View(), &release);
    EXPECT_EQ(f.BrowseFiles->FilterText(), "r");
    EXPECT_EQ(f.BrowseFiles->SelectedItem(), rose);
    Wait([&] { return f.Presenter()->ShownPath() == QFile::encodeName(rose); });
    EXPECT_EQ(f.Presenter()->ShownPath(), QFile::encodeName(rose));
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

}  // namespace
