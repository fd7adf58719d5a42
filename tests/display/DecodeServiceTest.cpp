// The decode service: the cache stays within its bound, a cached picture is delivered at once,
// and a JPEG picture shown reduced arrives first as a reduced decode.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <vector>

#include <gtest/gtest.h>

#include "display/DecodeService.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/formats/JPEGImage.h"

namespace {

class DecodeServiceTest : public testing::Test {
  protected:
    void SetUp() override {
        TPicture::RegisterFileFormat("bmp", "Bitmap", &TBitmap::ClassInfo());
        RegisterJPEGImage();
    }
    void TearDown() override {
        TPicture::UnregisterGraphicClass(&TBitmap::ClassInfo());
        UnregisterJPEGImage();
    }

    QByteArray Bitmap(const char* name, int width, int height) {
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(width, height);
        const QByteArray path = (dir_.path() + "/" + name).toUtf8();
        bitmap.SaveToFile(path.toStdString());
        return path;
    }

    static void Wait(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    QTemporaryDir dir_;
};

TEST_F(DecodeServiceTest, TheCacheStaysWithinItsBound) {
    // 100 x 100 at 24 bits: 30,000 bytes of rows each; the bound holds two.
    const QList<QByteArray> paths = {Bitmap("a.bmp", 100, 100), Bitmap("b.bmp", 100, 100),
                                     Bitmap("c.bmp", 100, 100)};
    TDecodeService service;
    service.SetCacheBound(70000);
    service.Preload(paths, TViewWish{});
    Wait([&] { return service.PendingPreloads() == 0; });
    EXPECT_LE(service.CacheBytes(), 70000u);
    EXPECT_LE(service.PeakCacheBytes(), 70000u);
    EXPECT_EQ(int(service.Cached(paths[0])) + service.Cached(paths[1]) + service.Cached(paths[2]),
              2);

    // A cached picture is delivered before Show returns, and leaves the cache for the view.
    const QByteArray cached = service.Cached(paths[0]) ? paths[0] : paths[1];
    std::vector<quint64> delivered;
    QObject::connect(
        &service, &TDecodeService::Decoded,
        [&](quint64 generation, const TDecodedPtr&) { delivered.push_back(generation); });
    const quint64 generation = service.Show(cached, TViewWish{});
    EXPECT_EQ(delivered, std::vector<quint64>({generation}));
    EXPECT_FALSE(service.Cached(cached));
    EXPECT_FALSE(service.Busy());
}

TEST_F(DecodeServiceTest, AJpegShownReducedArrivesReducedFirst) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(800, 600);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    const QByteArray path = (dir_.path() + "/photo.jpg").toUtf8();
    jpeg.SaveToFile(path.toStdString());

    TDecodeService service;
    std::vector<std::pair<bool, QSize>> arrived;  // preview, graphic size
    QObject::connect(&service, &TDecodeService::Decoded, [&](quint64, const TDecodedPtr& p) {
        ASSERT_TRUE(p->graphic) << p->error.toStdString();
        EXPECT_EQ(p->fullSize, QSize(800, 600));
        arrived.emplace_back(p->preview, QSize(p->graphic->Width(), p->graphic->Height()));
    });
    // Fitted into 200 x 150: a quarter of the picture's size.
    service.Show(path, TViewWish{QSize(200, 150), true, 1.0});
    Wait([&] { return !service.Busy(); });
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(arrived[0], std::make_pair(true, QSize(200, 150)));
    EXPECT_EQ(arrived[1], std::make_pair(false, QSize(800, 600)));
}

}  // namespace
