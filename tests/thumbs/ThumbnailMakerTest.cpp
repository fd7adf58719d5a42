#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <utility>

#include "common/DecodeTestHelpers.h"
#include "common/ImagingTestHelpers.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"
#include "imaging/formats/SVGGraphic.h"
#include "thumbs/ThumbnailMaker.h"

// A picture larger than the size is reduced to fit it, keeping its shape; a smaller one is
// never enlarged; a file that is no picture says why.
TEST(ThumbnailMakerTest, FitsThePictureIntoTheSize) {
    RegisterImageFormats();
    QTemporaryDir dir;
    struct {
        QSize picture;
        int size;
        QSize thumbnail;
    } const cases[] = {
        {{400, 300}, 128, {128, 96}}, {{300, 400}, 256, {192, 256}}, {{100, 50}, 256, {100, 50}}};
    for (const auto& c : cases) {
        const QString path = dir.filePath("p.bmp");
        QImage picture(c.picture, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(path, "BMP"));
        const TThumbnail thumbnail = MakeThumbnail(path.toStdString(), c.size);
        EXPECT_EQ(thumbnail.image.size(), c.thumbnail) << c.size;
        EXPECT_EQ(thumbnail.fullSize, c.picture);
        EXPECT_EQ(thumbnail.image.pixelColor(5, 5).name(), QColor(Qt::darkCyan).name());
    }
    const QString text = dir.filePath("t.bmp");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    const TThumbnail none = MakeThumbnail(text.toStdString(), 128);
    EXPECT_TRUE(none.image.isNull());
    EXPECT_FALSE(none.error.isEmpty());
}

// Each picture decodes only as far as the size needs and comes out upright: a JPEG's EXIF
// thumbnail when it covers the size (grey where the picture is black), else its DCT-scaled
// decode, turned by the EXIF orientation either way.
TEST(ThumbnailMakerTest, AJpegUsesItsCameraThumbnailWhenLargeEnough) {
    RegisterImageFormats();
    QTemporaryDir dir;
    struct {
        uint16_t orientation;
        int size;
        QSize thumbnail;
        bool fromCamera;
    } const cases[] = {{1, 128, {128, 96}, true},
                       {6, 128, {96, 128}, true},
                       {1, 256, {256, 192}, false},
                       {6, 256, {192, 256}, false}};
    const std::vector<uint8_t> camera = testhelp::Jpeg(160, 120, 128);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size * 10 + c.orientation);
        const std::vector<uint8_t> bytes =
            testhelp::WithThumbnail(testhelp::Jpeg(800, 600), c.orientation, camera);
        const std::string path = dir.filePath("photo.jpg").toStdString();
        testhelp::WriteFileBytes(path, bytes);
        const TThumbnail thumbnail = MakeThumbnail(path, c.size);
        ASSERT_EQ(thumbnail.image.size(), c.thumbnail) << thumbnail.error.toStdString();
        EXPECT_EQ(thumbnail.fullSize, c.orientation == 6 ? QSize(600, 800) : QSize(800, 600));
        const QImage& image = thumbnail.image;
        // The white quarter lies top-left in the file, top-right once turned.
        const QPoint white = c.orientation == 6 ? QPoint(image.width() - 5, 5) : QPoint(5, 5);
        EXPECT_GT(qGray(image.pixel(white)), 200);
        const int rest = qGray(image.pixel(image.width() / 2 + 10, image.height() - 5));
        EXPECT_EQ(rest > 64, c.fromCamera) << rest;
    }
}

// Other ways to decode less: a JPEG 2000 resolution level, a HEIF file's own thumbnail, a
// vector picture drawn at the size only (never enlarged, never at its natural size first).
TEST(ThumbnailMakerTest, ReducedLoadsKeepThePicturesFullSize) {
    RegisterImageFormats();
    int naturalDrawings = 0;
    TSVGGraphic::SetRenderer([&](const TSVGGraphic&, TBitmap&) { ++naturalDrawings; });
    QTemporaryDir dir;
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString png = dir.filePath("p.png");
    ASSERT_TRUE(picture.save(png, "PNG"));
    const QString svg = dir.filePath("d.svg");
    QFile drawing(svg);
    ASSERT_TRUE(drawing.open(QIODevice::WriteOnly));
    drawing.write(
        "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100'>"
        "<rect width='200' height='100' fill='red'/></svg>");
    drawing.close();
    struct {
        const char* command;  // makes the file from p.png; empty: none needed
        QString file;
        int size;
        QSize thumbnail, full;
    } const cases[] = {
        {"opj_compress -n 4 -i p.png -o p.jp2", dir.filePath("p.jp2"), 128, {128, 96}, {800, 600}},
        {"heif-enc -t 200 -o p.heic p.png", dir.filePath("p.heic"), 128, {128, 96}, {800, 600}},
        {"", svg, 128, {128, 64}, {200, 100}},
        {"", svg, 512, {200, 100}, {200, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        if (*c.command != '\0') {
            const QString command = "cd '" + dir.path() + "' && " + c.command + " >/dev/null 2>&1";
            if (std::system(command.toLocal8Bit().constData()) != 0) continue;  // tool absent
        }
        const TThumbnail thumbnail = MakeThumbnail(c.file.toStdString(), c.size);
        ASSERT_EQ(thumbnail.image.size(), c.thumbnail) << thumbnail.error.toStdString();
        EXPECT_EQ(thumbnail.fullSize, c.full);
    }
    TSVGGraphic::SetRenderer(nullptr);
    EXPECT_EQ(naturalDrawings, 0);
    // The HEIF file's thumbnail stands in for it when it covers the size, not otherwise.
    const std::string heic = dir.filePath("p.heic").toStdString();
    if (!QFile::exists(dir.filePath("p.heic"))) GTEST_SKIP() << "heif-enc absent";
    for (const auto& [size, loaded] : {std::pair{128, 200}, std::pair{300, 800}}) {
        TReducedDecode wish;
        wish.Scale = [size](int width, int height) {
            return double(size) / std::max(width, height);
        };
        int width = 0, height = 0;
        std::unique_ptr<TGraphic> graphic = TPicture::LoadGraphic(
            heic, [&](TGraphic& g) { g.PrepareReducedLoad(heic, wish, width, height); });
        EXPECT_EQ(graphic->Width(), loaded) << size;
    }
}
