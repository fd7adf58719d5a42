// The frame player: an animation's frames reach the view in order at their delays, a play count
// ends the animation on its last frame, and a paused animation steps both ways.
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

class FramePlayerTest : public testing::Test {
  protected:
    QByteArray Write(const QByteArray& bytes) {
        const QString path = dir_.path() + "/anim.gif";
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
    TFramePlayer player_{&service_, [this](std::unique_ptr<TGraphic> frame) {
                             const auto* bitmap = dynamic_cast<const TBitmap*>(frame.get());
                             ASSERT_NE(bitmap, nullptr);
                             shown_.push_back(bitmap->ScanLine(0)[0] == 255 ? 1 : 0);
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
