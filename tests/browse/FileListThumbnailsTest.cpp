// The list's Thumbnails style: which rows it asks thumbnails for, painting what it is given, and
// the size keys. A fake source answers through the list's hooks.
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <memory>

#include <gtest/gtest.h>

#include "browse/FileListView.h"
#include "browse/ShellHelpers.h"
#include "common/FileListTestHelpers.h"

namespace {

using List = TFileListView;
using filelisttest::PressKey;

class FileListThumbnailsTest : public filelisttest::TUserSettingsTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = AddSlash(tmp_.path());
        for (int i = 0; i < 60; ++i)
            QFile(root_ + QString("p%1.jpg").arg(i, 2, 10, QChar('0'))).open(QIODevice::WriteOnly);
        list_ = std::make_unique<List>();
        list_->SetViewStyle(List::vsThumbnails);
        list_->SetThumbnailSize(128);
        list_->resize(420, 330);
        QObject::connect(list_.get(), &List::ThumbnailsWanted, list_.get(),
                         [this](const QList<QByteArray>& visible, const QList<QByteArray>& around) {
                             requests_.append({visible, around});
                         });
        QObject::connect(list_.get(), &List::ThumbnailSizeChanged, list_.get(),
                         [this](int pixels) { sizes_ << pixels; });
        list_->show();
        list_->SetDirectory(root_);
        QApplication::processEvents();
    }

    QByteArray Path(int row) const { return list_->ItemNativePath(row); }
    QImage Grab() const { return list_->View()->viewport()->grab().toImage(); }
    // The middle of the row's picture square.
    QPoint PictureCentre(int row) const {
        const QRect cell = list_->View()->visualRect(list_->View()->model()->index(row, 0));
        return {cell.center().x(), cell.top() + 4 + list_->ThumbnailSize() / 2};
    }

    QTemporaryDir tmp_;
    QString root_;
    std::unique_ptr<List> list_;
    QList<std::pair<QList<QByteArray>, QList<QByteArray>>> requests_;
    QList<int> sizes_;
};

TEST_F(FileListThumbnailsTest, AsksForTheShownRowsFirstThenTheRowsAroundAndAgainOnScroll) {
    ASSERT_EQ(sizes_, QList<int>{128});
    ASSERT_EQ(requests_.size(), 1);
    const auto [first, last] = list_->ShownRows();
    EXPECT_EQ(first, 0);
    ASSERT_GT(last, 4);
    // The parent row has no thumbnail; the files follow in the list's order.
    QList<QByteArray> shown;
    for (int row = 1; row < last; ++row)
        shown << Path(row);
    EXPECT_EQ(requests_[0].first, shown);
    ASSERT_EQ(requests_[0].second.size(), 2 * (last - first));
    EXPECT_EQ(requests_[0].second.first(), Path(last));

    list_->View()->verticalScrollBar()->setValue(list_->View()->verticalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_EQ(requests_.size(), 2);
    EXPECT_EQ(requests_[1].first.last(), Path(list_->ItemCount() - 1));
    // Around the last screen lie only rows before it, the nearest first.
    const int top = list_->ShownRows().first;
    EXPECT_EQ(requests_[1].second.first(), Path(top - 1));
    // Nothing new is shown: nothing is asked again.
    list_->View()->viewport()->update();
    QApplication::processEvents();
    EXPECT_EQ(requests_.size(), 2);
}

TEST_F(FileListThumbnailsTest, PaintsWhatItIsGivenOrFindsAndAsksNoMore) {
    struct TCase {
        int row;
        bool byLookup;
        QRgb colour;
    };
    const TCase cases[] = {{1, false, qRgb(255, 0, 0)}, {2, true, qRgb(0, 0, 255)}};
    const QImage before = Grab();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.row);
        QImage image(100, 70, QImage::Format_RGB32);
        image.fill(c.colour);
        const QByteArray path = Path(c.row);
        if (c.byLookup)
            list_->ThumbnailLookup = [=](const QByteArray& p) {
                return p == path ? image : QImage();
            };
        else
            list_->SetThumbnail(path, image);
        // A scroll makes the list look at what it lacks again.
        QScrollBar* bar = list_->View()->verticalScrollBar();
        bar->setValue(bar->value() + 1);
        QApplication::processEvents();
        const QPoint centre = PictureCentre(c.row);
        EXPECT_NE(before.pixel(centre), c.colour);
        EXPECT_EQ(Grab().pixel(centre), c.colour);
        EXPECT_FALSE(requests_.last().first.contains(path));
    }
    // A thumbnail larger than the size asked for is from another size and is not shown.
    QImage large(200, 200, QImage::Format_RGB32);
    large.fill(Qt::green);
    list_->SetThumbnail(Path(3), large);
    QApplication::processEvents();
    EXPECT_TRUE(list_->Thumbnail(3).isNull());
    EXPECT_NE(Grab().pixel(PictureCentre(3)), qRgb(0, 255, 0));
}

TEST_F(FileListThumbnailsTest, CtrlPlusMinusAndWheelStepThroughTheSizes) {
    struct TStep {
        int key;  // 0: a turn of the wheel instead
        Qt::KeyboardModifiers mods;
        int wheel;  // the wheel's turn (120 a notch)
        int size;
    };
    const TStep steps[] = {
        {Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, 0, 256},
        {Qt::Key_Equal, Qt::ControlModifier, 0, 512},
        {Qt::Key_Plus, Qt::ControlModifier, 0, 512},
        {Qt::Key_Minus, Qt::ControlModifier, 0, 256},
        {Qt::Key_Minus, Qt::NoModifier, 0, 256},
        {0, Qt::ControlModifier, -120, 128},
        {0, Qt::ControlModifier, -120, 128},
        {0, Qt::ControlModifier, 120, 256},
        {0, Qt::NoModifier, 120, 256},
    };
    for (const TStep& step : steps) {
        if (step.key != 0) {
            PressKey(*list_, step.key, step.mods);
        } else {
            const QPointF at(10, 10);
            QWheelEvent wheel(at, list_->View()->viewport()->mapToGlobal(at), {}, {0, step.wheel},
                              Qt::NoButton, step.mods, Qt::NoScrollPhase, false);
            QApplication::sendEvent(list_->View()->viewport(), &wheel);
        }
        QApplication::processEvents();
        EXPECT_EQ(list_->ThumbnailSize(), step.size) << step.key << " " << step.wheel;
        EXPECT_EQ(sizes_.last(), step.size);  // announced in device pixels (ratio 1 here)
        EXPECT_EQ(list_->View()->visualRect(list_->View()->model()->index(0, 0)).width(),
                  step.size + 8);
    }
    list_->SetThumbnailSize(300);
    EXPECT_EQ(list_->ThumbnailSize(), 256);
    // Only the Thumbnails style takes the keys.
    list_->SetViewStyle(List::vsList);
    EXPECT_EQ(list_->ThumbnailSizeKey(Qt::Key_Plus, Qt::ControlModifier), 0);
    PressKey(*list_, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(list_->ThumbnailSize(), 256);
}

}  // namespace
