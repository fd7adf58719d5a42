// The picture presenter: what an older request delivers is never shown, and the neighbours of
// the shown picture are decoded ahead, so that moving to one shows it at once; a file that is
// slow to read says it is loading; pictures passed quickly show their stored thumbnails first.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include "common/DecodeTestHelpers.h"
#include "display/PicturePresenter.h"
#include "display/PictureView.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "toolkit/Controls.h"

namespace {

class PicturePresenterTest : public testing::Test {
  protected:
    void SetUp() override { TPicture::RegisterFileFormat("bmp", "Bitmap", &TBitmap::ClassInfo()); }
    void TearDown() override { TPicture::UnregisterGraphicClass(&TBitmap::ClassInfo()); }

    QByteArray Bitmap(const char* name, int width, int height) {
        return testhelp::SaveBlankBitmap(dir_.path(), name, width, height);
    }
    static void Wait(const std::function<bool()>& done) { testhelp::WaitUntil(done); }

    QTemporaryDir dir_;
    QWidget pane_;
    TScrollBox* scroll_ = new TScrollBox(QStringLiteral("ScrollImage"), &pane_);
    TPictureView* view_ = new TPictureView(QStringLiteral("ViewImage"), scroll_->Contents());
    TPicturePresenter presenter_{view_, scroll_, &pane_};
};

TEST_F(PicturePresenterTest, AResultOfAnOlderRequestIsNotShown) {
    const QByteArray first = Bitmap("first.bmp", 30, 20);
    const QByteArray last = Bitmap("last.bmp", 40, 30);
    presenter_.Show(first);
    const quint64 older = presenter_.Decoder()->Generation();
    presenter_.Show(last);
    Wait([&] { return !presenter_.Loading(); });
    ASSERT_EQ(presenter_.ShownPath(), last);

    // The older request's picture arrives late.
    auto stale = std::make_shared<TDecodedPicture>();
    stale->path = first;
    stale->graphic = std::make_unique<TBitmap>();
    stale->graphic->LoadFromFile(first.toStdString());
    stale->fullSize = QSize(30, 20);
    emit presenter_.Decoder()->Decoded(older, stale);
    EXPECT_EQ(presenter_.ShownPath(), last);
    EXPECT_EQ(view_->PictureSize(), QSize(40, 30));
}

TEST_F(PicturePresenterTest, TheNeighboursDecodeAheadOnceThePictureIsShown) {
    const QByteArray shown = Bitmap("b.bmp", 30, 20);
    const QByteArray next = Bitmap("c.bmp", 40, 30);
    const QByteArray previous = Bitmap("a.bmp", 50, 40);
    presenter_.SetNeighbours({next, previous});
    presenter_.Show(shown);
    TDecodeService* decoder = presenter_.Decoder();
    Wait([&] { return decoder->Cached(next) && decoder->Cached(previous); });
    EXPECT_TRUE(decoder->Cached(next));
    EXPECT_TRUE(decoder->Cached(previous));

    // Moving to a neighbour shows it before Show returns.
    presenter_.Show(next);
    EXPECT_EQ(presenter_.ShownPath(), next);
    EXPECT_FALSE(presenter_.Loading());
}

// A file whose reading blocks reports no progress: past the delay the pane says it is loading,
// over the previous picture, until the read ends.
TEST_F(PicturePresenterTest, AFileSlowToReadSaysItIsLoading) {
    const QByteArray shown = Bitmap("a.bmp", 30, 20);
    presenter_.Show(shown);
    Wait([&] { return !presenter_.Loading(); });
    const QByteArray pipe = QFile::encodeName(dir_.filePath("slow.bmp"));
    ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
    presenter_.Show(pipe);
    EXPECT_TRUE(presenter_.ProgressText().isEmpty());
    Wait([&] { return !presenter_.ProgressText().isEmpty(); });
    EXPECT_EQ(presenter_.ProgressText(), "Loading...");
    EXPECT_EQ(view_->PictureSize(), QSize(30, 20));
    // A writer comes and goes without a byte (at every open of the pipe): the read ends, and the
    // message replaces the previous picture.
    Wait([&] {
        const int writer = open(pipe.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        return !presenter_.Loading();
    });
    EXPECT_TRUE(presenter_.ProgressText().isEmpty());
    EXPECT_EQ(view_->Picture()->Graphic(), nullptr);
}

// Pictures passed quickly show the looked-up thumbnail at once, at the picture's size, until the
// decode arrives; never over what is shown of the same file, never for another file.
TEST_F(PicturePresenterTest, PicturesPassedQuicklyShowTheirThumbnailsFirst) {
    const int passing = std::exchange(TPicturePresenter::PassingMs, 1000000);
    const QByteArray a = Bitmap("a.bmp", 30, 20), b = Bitmap("b.bmp", 40, 30),
                     c = Bitmap("c.bmp", 50, 40);
    presenter_.SetNeighbours({a});  // kept decoded while the others show
    QList<QByteArray> asked;
    presenter_.ThumbnailLookup = [&](const QByteArray& path) {
        asked << path;
        if (path == c) return QImage();
        QImage thumb(8, 6, QImage::Format_RGB32);
        thumb.fill(Qt::red);
        thumb.setText("Thumb::Image::Width", path == a ? "30" : "40");
        thumb.setText("Thumb::Image::Height", path == a ? "20" : "30");
        return thumb;
    };
    const struct {
        const char* what;
        QByteArray path;
        QByteArray shownAtOnce;  // what the view shows when Show returns
        bool thumbnail;
        QList<QByteArray> asked;
        bool wait;
    } steps[] = {
        {"the first picture decodes", a, {}, false, {}, true},
        {"the next one shows its thumbnail", b, b, true, {b}, true},
        {"no thumbnail: the last picture stays", c, b, false, {b, c}, false},
        {"never over the picture itself", b, b, false, {b, c}, true},
        {"a decoded picture needs none", a, a, false, {b, c}, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        presenter_.Show(step.path);
        EXPECT_EQ(presenter_.ShownPath(), step.shownAtOnce);
        EXPECT_EQ(presenter_.ShowingThumbnail(), step.thumbnail);
        EXPECT_EQ(asked, step.asked);
        if (step.thumbnail) {
            EXPECT_EQ(view_->Picture()->Width(), 8);
            EXPECT_EQ(view_->PictureSize(), QSize(40, 30));
        }
        if (!step.wait) continue;
        Wait([&] { return !presenter_.Loading(); });
        EXPECT_FALSE(presenter_.ShowingThumbnail());
        EXPECT_EQ(presenter_.ShownPath(), step.path);
        EXPECT_EQ(view_->Picture()->Width(), view_->PictureSize().width());
    }
    TPicturePresenter::PassingMs = passing;
}

}  // namespace
