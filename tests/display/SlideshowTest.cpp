// The slideshow: it steps through the list around its ends, pauses and resumes, skips what
// cannot be read, decodes the next picture ahead, and ends leaving no window behind.
#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>

#include <gtest/gtest.h>

#include "common/DecodeTestHelpers.h"
#include "display/PicturePresenter.h"
#include "display/Slideshow.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"

namespace {

class SlideshowTest : public testing::Test {
  protected:
    void SetUp() override { TPicture::RegisterFileFormat("bmp", "Bitmap", &TBitmap::ClassInfo()); }
    void TearDown() override { TPicture::UnregisterGraphicClass(&TBitmap::ClassInfo()); }

    QByteArray Bitmap(const char* name) {
        return testhelp::SaveBlankBitmap(dir_.path(), name, 30, 20);
    }
    QByteArray Broken(const char* name) {
        const QString path = dir_.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("BM not a bitmap at all");
        return QFile::encodeName(path);
    }
    // Waits until the show has the picture at index on the screen.
    void WaitShown(int index) {
        testhelp::WaitUntil([&] {
            return show_.Index() == index && show_.Presenter() != nullptr &&
                   show_.Presenter()->ShownPath() == show_.Current() && show_.Timer()->isActive();
        });
        ASSERT_EQ(show_.Index(), index);
        ASSERT_EQ(show_.Presenter()->ShownPath(), show_.Current());
    }
    // Runs the window's key for the sequence, as pressing it would.
    void Key(Qt::Key key) {
        for (QAction* action : show_.Window()->actions())
            if (action->shortcut() == QKeySequence(key)) return action->trigger();
        FAIL() << "no key " << key;
    }

    QTemporaryDir dir_;
    QWidget owner_;
    TSlideshow show_{QStringLiteral("Slideshow"), &owner_};
};

TEST_F(SlideshowTest, StepsPausesAndEnds) {
    const QList<QByteArray> list{Bitmap("a.bmp"), Bitmap("b.bmp"), Bitmap("c.bmp")};
    int ended = 0;
    QObject::connect(&show_, &TSlideshow::Ended, [&] { ++ended; });
    show_.Start(list, 1);
    ASSERT_TRUE(show_.Running());
    WaitShown(1);
    // The picture after the shown one is decoded ahead.
    testhelp::WaitUntil([&] { return show_.Presenter()->Decoder()->Cached(list[2]); });
    EXPECT_TRUE(show_.Presenter()->Decoder()->Cached(list[2]));

    const struct {
        const char* what;
        std::function<void()> act;
        int index;
        bool paused;
    } steps[] = {
        {"interval", [&] { show_.Timer()->start(0); }, 2, false},
        {"interval wraps", [&] { show_.Timer()->start(0); }, 0, false},
        {"Left wraps", [&] { Key(Qt::Key_Left); }, 2, false},
        {"Space pauses", [&] { Key(Qt::Key_Space); }, 2, true},
        {"Right while paused", [&] { Key(Qt::Key_Right); }, 0, true},
        {"Space resumes", [&] { Key(Qt::Key_Space); }, 0, false},
    };
    for (const auto& step : steps) {
        step.act();
        if (step.paused) {
            testhelp::WaitUntil([&] { return show_.Presenter()->ShownPath() == show_.Current(); });
            EXPECT_FALSE(show_.Timer()->isActive()) << step.what;
            EXPECT_TRUE(show_.StatusText().contains("paused")) << step.what;
        } else {
            WaitShown(step.index);
        }
        EXPECT_EQ(show_.Index(), step.index) << step.what;
        EXPECT_EQ(show_.Paused(), step.paused) << step.what;
    }
    EXPECT_EQ(show_.StatusText(), "1 of 3: a.bmp");

    Key(Qt::Key_Escape);
    EXPECT_FALSE(show_.Running());
    EXPECT_FALSE(show_.Timer()->isActive());
    EXPECT_EQ(ended, 1);
}

TEST_F(SlideshowTest, APictureThatCannotBeReadIsSkipped) {
    const QList<QByteArray> list{Bitmap("a.bmp"), Broken("broken.bmp"), Bitmap("c.bmp")};
    show_.Start(list, 0);
    WaitShown(0);
    show_.Step(1);
    WaitShown(2);
    EXPECT_TRUE(show_.StatusText().contains("skipped, cannot be shown: broken.bmp"))
        << show_.StatusText().toStdString();
    // Backwards too, and a step of one's own forgets what was skipped before.
    show_.Step(-1);
    WaitShown(0);
    EXPECT_EQ(show_.StatusText().count("broken.bmp"), 1) << show_.StatusText().toStdString();

    // Nothing readable: the show waits and says so.
    show_.Start({Broken("x.bmp"), Broken("y.bmp")}, 0);
    testhelp::WaitUntil([&] { return show_.Paused(); });
    EXPECT_TRUE(show_.Paused());
    EXPECT_EQ(show_.StatusText(), "No picture of the list can be shown.");
    show_.End();
}

TEST_F(SlideshowTest, IntervalStaysInItsRange) {
    const struct {
        int set, expected;
    } cases[] = {{2, 2}, {10, 10}, {0, 5}, {-3, 5}, {3600, 3600}, {3601, 5}};
    for (const auto& c : cases) {
        show_.SetInterval(c.set);
        EXPECT_EQ(show_.Interval(), c.expected) << c.set;
        EXPECT_EQ(show_.Timer()->interval(), c.expected * 1000) << c.set;
    }
}

}  // namespace
