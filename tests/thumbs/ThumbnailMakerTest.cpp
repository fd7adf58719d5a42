#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include "imaging/Registration.h"
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
