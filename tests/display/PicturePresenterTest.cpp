// The picture presenter: what an older request delivers is never shown, and the neighbours of
// the shown picture are decoded ahead, so that moving to one shows it at once; a file that is
// slow to read says it is loading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

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

}  // namespace
