// The frame player: an animation's frames reach the view in order at their delays, a play count
// ends the animation on its last frame, a paused animation steps both ways, and pages turn from
// the page a plain load shows to the first and last.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "display/DecodeService.h"
#include "display/FramePlayer.h"
#include "imaging/Bitmap.h"

namespace {

// A 2 x 1 GIF of black and white whose frame i shows its left pixel white when i is odd; with
// plays > 0 it asks for that many plays.
QByteArray Gif(int frames, int plays) {
    std::string b = "GIF89a";
    b += std::string("\x02\x00\x01\x00\x80\x00\x00", 7);
    b += std::string("\x00\x00\x00\xFF\xFF\xFF", 6);
    if (plays > 0) {
        b += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        b += char(plays - 1);
        b += std::string("\x00\x00", 2);
    }
    for (int i = 0; i < frames; ++i) {
        b += std::string("\x21\xF9\x04\x00\x02\x00\x00\x00", 8);  // 20 ms
        b += std::string("\x2C\x00\x00\x00\x00\x02\x00\x01\x00\x00\x02\x02", 12);
        // Clear, the two pixels, end: 3-bit codes, least significant first.
        const int left = i % 2, right = 1 - left;
        const int bits = 4 | left << 3 | right << 6 | 5 << 9;
        b += char(bits & 0xFF);
        b += char(bits >> 8);
        b += '\0';
    }
    b += ';';
    return QByteArray(b.data(), qsizetype(b.size()));
}

// An icon of square 32-bit entries of the given sizes (no mask bits set).
QByteArray Icon(const std::vector<int>& sizes) {
    std::string dir, images;
    const auto put = [](std::string& s, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            s += char(v >> (8 * i));
    };
    put(dir, 0, 2);
    put(dir, 1, 2);
    put(dir, uint32_t(sizes.size()), 2);
    for (int size : sizes) {
        std::string image;
        put(image, 40, 4);
        put(image, uint32_t(size), 4);
        put(image, uint32_t(size * 2), 4);
        put(image, 1, 2);
        put(image, 32, 2);
        image += std::string(24, '\0');
        for (int i = 0; i < size * size; ++i)
            image += std::string("\x10\x20\x30\xFF", 4);                  // opaque dark blue
        image += std::string(size_t((size + 31) / 32 * 4 * size), '\0');  // the AND mask
        const size_t offset = 6 + 16 * sizes.size() + images.size();
        dir += char(size);
        dir += char(size);
        put(dir, 0, 2);
        put(dir, 1, 2);
        put(dir, 32, 2);
        put(dir, uint32_t(image.size()), 4);
        put(dir, uint32_t(offset), 4);
        images += image;
    }
    const std::string all = dir + images;
    return QByteArray(all.data(), qsizetype(all.size()));
}

class FramePlayerTest : public testing::Test {
  protected:
    QByteArray Write(const QByteArray& bytes, const char* name = "anim.gif") {
        const QString path = dir_.path() + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path.toUtf8();
    }
    static void Wait(const std::function<bool()>& done, int ms = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    QTemporaryDir dir_;
    TDecodeService service_;
    std::vector<int> shown_;  // the left pixel of each frame shown: 1 white, 0 black
    std::vector<int> widths_;
    TFramePlayer player_{&service_, [this](std::unique_ptr<TGraphic> frame) {
                             const auto* bitmap = dynamic_cast<const TBitmap*>(frame.get());
                             ASSERT_NE(bitmap, nullptr);
                             shown_.push_back(bitmap->ScanLine(0)[0] == 255 ? 1 : 0);
                             widths_.push_back(bitmap->Width());
                         }};
};

TEST_F(FramePlayerTest, FramesPlayInOrderForTheirPlaysThenStepWhilePaused) {
    player_.Open(Write(Gif(3, 2)));
    // The view shows frame 0 already; then 1, 2 and the second play's 0, 1, 2.
    Wait([&] { return shown_.size() >= 5; });
    EXPECT_TRUE(player_.Animation());
    EXPECT_EQ(player_.Count(), 3);
    EXPECT_EQ(shown_, std::vector<int>({1, 0, 0, 1, 0}));
    Wait([&] { return false; }, 300);  // nothing after the last play's last frame
    EXPECT_EQ(shown_.size(), 5u);
    EXPECT_EQ(player_.Index(), 2);

    player_.SetPaused(true);
    for (int direction : {-1, -1, -1, 1}) {
        const size_t before = shown_.size();
        player_.Step(direction);
        Wait([&] { return shown_.size() > before; });
    }
    EXPECT_EQ(shown_, std::vector<int>({1, 0, 0, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(player_.Index(), 0);
}

TEST_F(FramePlayerTest, PagesTurnFromTheDefaultPageAndStopAtTheEnds) {
    player_.Open(Write(Icon({16, 48, 32}), "sizes.ico"));
    Wait([&] { return player_.Active(); });
    ASSERT_TRUE(player_.Pages());
    EXPECT_EQ(player_.Index(), 1);  // the largest entry, as a plain load shows it
    for (int direction : {1, 1, -1, -1, -1, -1}) {
        const size_t before = widths_.size();
        player_.Step(direction);
        Wait([&] { return widths_.size() > before; }, 500);
    }
    EXPECT_EQ(widths_, std::vector<int>({32, 48, 16}));
    EXPECT_EQ(player_.Index(), 0);
}

TEST_F(FramePlayerTest, SinglePicturesAndStoppedPlayersShowNothing) {
    player_.Open(Write(Gif(1, 0)));
    Wait([&] { return false; }, 200);
    EXPECT_FALSE(player_.Active());
    player_.Open(Write(Gif(3, 0)));
    player_.Stop();
    Wait([&] { return false; }, 200);
    EXPECT_FALSE(player_.Active());
    EXPECT_TRUE(shown_.empty());
}

}  // namespace
