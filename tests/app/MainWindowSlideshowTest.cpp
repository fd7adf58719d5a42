// The window's slideshow: it starts at the shown picture with the list's pictures, and ending it
// leaves the window showing what it showed.
#include <QFile>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "common/PictureWindowFixture.h"
#include "display/PicturePresenter.h"

namespace {

class MainWindowSlideshowTest : public testhelp::TPictureWindowFixture {};

TEST_F(MainWindowSlideshowTest, StartsAtTheShownPictureAndEndsBackInTheWindow) {
    TMainWindow& f = *form_;
    const QString first = Jpeg("a.jpg", 40, 30);
    const QString shown = Jpeg("b.jpg", 40, 30);
    Jpeg("c.jpg", 40, 30);
    f.OpenPath(shown);
    Wait([&] { return f.Presenter()->ShownPath() == QFile::encodeName(shown); });

    f.SlideshowItem->Click();
    ASSERT_TRUE(f.Slideshow->Running());
    EXPECT_EQ(f.Slideshow->Index(), 1);
    EXPECT_EQ(f.Slideshow->Current(), QFile::encodeName(shown));
    f.Slideshow->Step(-1);
    Wait([&] { return f.Slideshow->Presenter()->ShownPath() == QFile::encodeName(first); });
    f.Slideshow->End();
    EXPECT_FALSE(f.Slideshow->Running());
    EXPECT_EQ(f.Presenter()->ShownPath(), QFile::encodeName(shown));
    EXPECT_FALSE(f.InFullScreen());

    // Not in text mode.
    f.BrowseTextFiles->Click();
    f.SlideshowItem->Click();
    EXPECT_FALSE(f.Slideshow->Running());
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n').toStdString();
}

}  // namespace
