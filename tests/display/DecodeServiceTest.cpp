// The decode service: the cache stays within its bound, a cached picture is delivered at once,
// a JPEG picture shown reduced arrives first as its EXIF thumbnail (when it carries a usable
// one), then as a reduced decode no larger than the view needs, and a JPEG 2000 picture shown
// reduced arrives first at a lower resolution level.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <future>
#include <vector>

#include <gtest/gtest.h>

#include "common/DecodeTestHelpers.h"
#include "common/ImagingTestHelpers.h"
#include "display/DecodeService.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEG2000Graphic.h"
#include "imaging/formats/JPEGImage.h"
#include "render/BitmapToImage.h"

namespace {

class DecodeServiceTest : public testing::Test {
  protected:
    void SetUp() override {
        TPicture::RegisterFileFormat("bmp", "Bitmap", &TBitmap::ClassInfo());
        RegisterJPEGImage();
        TPicture::RegisterFileFormat("jp2", "JPEG 2000", &TJPEG2000Graphic::ClassInfo());
    }
    void TearDown() override {
        TPicture::UnregisterGraphicClass(&TJPEG2000Graphic::ClassInfo());
        TPicture::UnregisterGraphicClass(&TBitmap::ClassInfo());
        UnregisterJPEGImage();
    }

    QByteArray Bitmap(const char* name, int width, int height) {
        return testhelp::SaveBlankBitmap(dir_.path(), name, width, height);
    }
    static void Wait(const std::function<bool()>& done) { testhelp::WaitUntil(done); }

    QTemporaryDir dir_;
};

using testhelp::Jpeg;
using testhelp::WithThumbnail;

TEST_F(DecodeServiceTest, AnExifThumbnailArrivesFirstTurnedLikeThePicture) {
    struct TCase {
        uint16_t orientation;
        uint32_t thumbShift;  // a damaged offset when not 0
        QSize pane;
        std::vector<QSize> previews;  // sizes of the previews before the reduced decode
        bool whiteTopRight;           // of the first preview
    };
    const TCase cases[] = {
        {1, 0, QSize(200, 150), {QSize(160, 120)}, false},
        {6, 0, QSize(150, 200), {QSize(120, 160)}, true},
        {1, 40000, QSize(200, 150), {}, false},
    };
    const std::vector<uint8_t> thumb = Jpeg(160, 120);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.thumbShift);
        const std::vector<uint8_t> file =
            WithThumbnail(Jpeg(800, 600), c.orientation, thumb, c.thumbShift);
        const QByteArray path = (dir_.path() + "/thumb.jpg").toUtf8();
        QFile out(QString::fromUtf8(path));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(reinterpret_cast<const char*>(file.data()), qint64(file.size()));
        out.close();

        TDecodeService service;
        std::vector<QSize> previews;
        QSize last, full;
        bool whiteTopRight = false;
        QObject::connect(&service, &TDecodeService::Decoded, [&](quint64, const TDecodedPtr& p) {
            ASSERT_TRUE(p->graphic) << p->error.toStdString();
            const QSize size(p->graphic->Width(), p->graphic->Height());
            if (!p->preview) {
                last = size;
                full = p->fullSize;
                return;
            }
            if (previews.empty()) {
                const TBitmap* bitmap = GraphicBitmap(*p->graphic);
                ASSERT_NE(bitmap, nullptr);
                const int x = bitmap->Width() - 1;
                whiteTopRight = bitmap->ScanLine(0)[x * bitmap->BitsPerPixel() / 8] > 128;
            }
            previews.push_back(size);
        });
        service.Show(path, TViewWish{c.pane, true, 1.0, false});
        Wait([&] { return !service.Busy(); });
        EXPECT_EQ(previews, c.previews);
        EXPECT_EQ(whiteTopRight, c.whiteTopRight);
        EXPECT_EQ(last, c.pane);  // a quarter of the picture covers the pane: nothing more
        EXPECT_EQ(full, c.orientation == 6 ? QSize(600, 800) : QSize(800, 600));
    }
}

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

// A JPEG picture is decoded at the smallest of libjpeg's scales that covers the view, and no
// larger; the view's reduction comes with it when the decode is larger than the view.
TEST_F(DecodeServiceTest, AJpegIsDecodedNoLargerThanTheViewNeeds) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(800, 600);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    const QByteArray path = (dir_.path() + "/photo.jpg").toUtf8();
    jpeg.SaveToFile(path.toStdString());
    TJPEGImage progressiveJpeg;
    progressiveJpeg.Assign(bitmap);
    progressiveJpeg.SetProgressiveSave(true);
    const QByteArray progressive = (dir_.path() + "/progressive.jpg").toUtf8();
    progressiveJpeg.SaveToFile(progressive.toStdString());

    struct TCase {
        TViewWish wish;
        bool progressive;
        QSize decoded;  // the decode delivered last
        bool reducedOnly;
        QSize reduced;      // the prepared reduction (empty: none)
        size_t firstScans;  // previews of the first scan before it, at its size
    };
    const TCase cases[] = {
        {{QSize(200, 150), true, 1.0, false}, false, QSize(200, 150), true, QSize(), 0},
        {{QSize(50, 40), true, 1.0, false}, false, QSize(100, 75), true, QSize(50, 38), 0},
        {{QSize(), false, 0.3, true}, false, QSize(400, 300), true, QSize(240, 180), 0},
        {{QSize(), false, 0.5, true}, false, QSize(400, 300), true, QSize(), 0},
        {{QSize(), false, 0.6, true}, false, QSize(800, 600), false, QSize(480, 360), 0},
        {{QSize(), false, 1.0, false}, false, QSize(800, 600), false, QSize(), 0},
        {{QSize(200, 150), true, 1.0, false}, true, QSize(200, 150), true, QSize(), 1},
        // Asked for a larger decode, or at full size: no first scan.
        {{QSize(), false, 0.5, true}, true, QSize(400, 300), true, QSize(), 0},
        {{QSize(), false, 1.0, false}, true, QSize(800, 600), false, QSize(), 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.wish.scale);
        TDecodeService service;
        std::vector<TDecodedPtr> arrived;
        QObject::connect(&service, &TDecodeService::Decoded,
                         [&](quint64, const TDecodedPtr& p) { arrived.push_back(p); });
        service.Show(c.progressive ? progressive : path, c.wish);
        Wait([&] { return !service.Busy(); });
        ASSERT_EQ(arrived.size(), c.firstScans + 1);
        for (size_t i = 0; i < c.firstScans; ++i) {
            EXPECT_TRUE(arrived[i]->preview);
            ASSERT_TRUE(arrived[i]->graphic);
            EXPECT_EQ(QSize(arrived[i]->graphic->Width(), arrived[i]->graphic->Height()),
                      c.decoded);
        }
        const TDecodedPicture& p = *arrived.back();
        ASSERT_TRUE(p.graphic) << p.error.toStdString();
        EXPECT_FALSE(p.preview);
        EXPECT_EQ(p.fullSize, QSize(800, 600));
        EXPECT_EQ(QSize(p.graphic->Width(), p.graphic->Height()), c.decoded);
        EXPECT_EQ(p.reducedOnly, c.reducedOnly);
        EXPECT_EQ(p.reduced.isNull() ? QSize() : p.reduced.size(), c.reduced);
    }

    // A neighbour is preloaded as small, and keeps its full size in the cache.
    TDecodeService service;
    service.Preload({path}, TViewWish{QSize(200, 150), true, 1.0, false});
    Wait([&] { return service.PendingPreloads() == 0; });
    EXPECT_LT(service.CacheBytes(), 800u * 600u * 3u);
    TDecodedPtr shown;
    QObject::connect(&service, &TDecodeService::Decoded,
                     [&](quint64, const TDecodedPtr& p) { shown = p; });
    service.Show(path, TViewWish{QSize(200, 150), true, 1.0, false});
    ASSERT_TRUE(shown && shown->graphic);
    EXPECT_TRUE(shown->reducedOnly);
    EXPECT_EQ(shown->fullSize, QSize(800, 600));
    EXPECT_EQ(shown->graphic->Width(), 200);
}

// A JPEG 2000 file with levels resolutions made by opj_compress from bmp; empty without it.
QByteArray Jpeg2000(const QByteArray& bmp, int levels) {
    const QByteArray path = bmp + QByteArray::number(levels) + ".jp2";
    const std::string command = "opj_compress -i " + bmp.toStdString() + " -o " +
                                path.toStdString() + " -n " + std::to_string(levels) +
                                " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? path : QByteArray();
}

TEST_F(DecodeServiceTest, AJpeg2000ShownReducedArrivesAtALowerLevelFirst) {
    struct TCase {
        int levels;
        QSize pane;
        std::vector<QSize> arrivals;  // previews, then the full picture
    } const cases[] = {
        {4, QSize(200, 150), {QSize(200, 150), QSize(800, 600)}},  // a quarter: two levels down
        {4, QSize(300, 225), {QSize(400, 300), QSize(800, 600)}},  // not below the view
        {3, QSize(100, 75), {QSize(200, 150), QSize(800, 600)}},   // as far as the levels go
        {4, QSize(600, 450), {QSize(800, 600)}},                   // above half size
        {1, QSize(200, 150), {QSize(800, 600)}},                   // a single level
    };
    if (!testhelp::HaveTool("opj_compress")) GTEST_SKIP() << "opj_compress absent";
    const QByteArray bmp = Bitmap("photo.bmp", 800, 600);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.pane.width());
        TDecodeService service;
        std::vector<QSize> arrivals;
        QObject::connect(&service, &TDecodeService::Decoded, [&](quint64, const TDecodedPtr& p) {
            ASSERT_TRUE(p->graphic) << p->error.toStdString();
            EXPECT_EQ(p->fullSize, QSize(800, 600));
            EXPECT_EQ(p->preview, arrivals.size() + 1 < c.arrivals.size());
            arrivals.emplace_back(p->graphic->Width(), p->graphic->Height());
        });
        service.Show(Jpeg2000(bmp, c.levels), TViewWish{c.pane, true, 1.0, false});
        Wait([&] { return !service.Busy(); });
        EXPECT_EQ(arrivals, c.arrivals);
    }
}

// Another picture shown at once, or once the preview is there: nothing more of the first
// arrives.
TEST_F(DecodeServiceTest, AJpeg2000ReplacedHalfWayDeliversNothingStale) {
    if (!testhelp::HaveTool("opj_compress")) GTEST_SKIP() << "opj_compress absent";
    const QByteArray path = Jpeg2000(Bitmap("photo.bmp", 800, 600), 4);
    const QByteArray other = Bitmap("other.bmp", 10, 10);
    using TArrivals = std::vector<std::pair<quint64, bool>>;  // generation, preview
    for (const bool atOnce : {true, false}) {
        SCOPED_TRACE(atOnce);
        TDecodeService service(nullptr, 1);  // the bitmap's decode waits for the first one's end
        TArrivals arrived;
        QObject::connect(&service, &TDecodeService::Decoded, [&](quint64 g, const TDecodedPtr& p) {
            arrived.emplace_back(g, p->preview);
            if (p->preview) service.Show(other, TViewWish{});
        });
        const quint64 first = service.Show(path, TViewWish{QSize(200, 150), true, 1.0, false});
        if (atOnce) service.Show(other, TViewWish{});
        Wait([&] { return !arrived.empty() && !arrived.back().second && !service.Busy(); });
        const TArrivals expected =
            atOnce ? TArrivals{{first + 1, false}} : TArrivals{{first, true}, {first + 1, false}};
        EXPECT_EQ(arrived, expected);
    }
}

// A task stuck in a call that cannot be cancelled does not hold up the service's end: the
// destructor returns while the task still runs (detached), the task ends later on its own, and
// what it posts to the window after the service has gone is dropped.
TEST_F(DecodeServiceTest, EndingDoesNotWaitForAnUncancellableCall) {
    auto release = std::make_shared<std::promise<void>>();
    auto started = std::make_shared<std::promise<void>>();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::function<void(std::function<void()>)> post;
    {
        TDecodeService service(nullptr, 1);
        post = service.Poster();
        std::shared_future<void> go = release->get_future().share();
        service.Submit(
            [go, started, finished] {
                started->set_value();
                go.wait_for(std::chrono::seconds(5));  // ignores the cancel flag
                finished->store(true);
            },
            std::make_shared<std::atomic<bool>>(false));
        started->get_future().wait();
    }
    EXPECT_FALSE(finished->load());
    EXPECT_EQ(TDecodeService::DetachedWorkers(), 1);
    bool ran = false;
    post([&ran] { ran = true; });
    release->set_value();
    Wait([] { return TDecodeService::DetachedWorkers() == 0; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(finished->load());
    EXPECT_EQ(TDecodeService::DetachedWorkers(), 0);
    EXPECT_FALSE(ran);
}

}  // namespace
