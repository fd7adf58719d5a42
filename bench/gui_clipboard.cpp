// Times a picture copied to the clipboard and pasted into another program, against the window
// as it was (QClipboard::setImage: Qt encodes the PNG on the window's thread when asked):
//
//  - the copy: the click's time on the window's thread, and until the formats are offered;
//  - the paste: `xclip -o -selection clipboard -t image/png` run as the other program, its wall
//    time and the bytes it got, and the largest gap between 5 ms timer ticks of the window's
//    event loop while it runs (target 50 ms).
//
// The picture is a 4000 x 3000 (12 megapixel) photo-like JPEG made here. Needs an X server
// (xvfb-run) and xclip.
//
// Usage: xvfb-run -a bench_gui_clipboard [runs]
#include <time.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "bench/BenchClock.h"
#include "display/ClipboardPicture.h"
#include "imaging/Bitmap.h"
#include "imaging/Registration.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"

namespace {

using namespace bench;

// Smooth gradients with fine noise, as a photo has: PNG gets no easy runs.
void WritePhoto(const QString& path, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    std::mt19937 random(42);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int noise = int(random() % 24);
            row[3 * x] = uint8_t((x * 255 / width + noise) & 255);
            row[3 * x + 1] = uint8_t((y * 255 / height + noise) & 255);
            row[3 * x + 2] = uint8_t(((x + y) * 127 / (width + height) + 64 + noise) & 255);
        }
    }
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    TFileStream stream(QFile::encodeName(path).toStdString(), TFileStream::fmCreate);
    jpeg.SaveToStream(stream);
}

void Spin(const std::function<bool()>& done, int timeoutMs = 60000) {
    QTimer tick;
    tick.start(2);
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

struct TPaste {
    double wallMs = 0;
    double stallMs = 0;
    qint64 bytes = 0;
};

// Runs xclip as the other program and watches the window's event loop meanwhile.
TPaste Paste(const QString& out) {
    TPaste result;
    QFile::remove(out);
    QProcess xclip;
    xclip.setStandardOutputFile(out);
    xclip.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer gap;
    QTimer tick;
    gap.start();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        result.stallMs = std::max(result.stallMs, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    tick.start(5);
    const auto start = Clock::now();
    xclip.start("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"});
    Spin([&] { return xclip.state() == QProcess::NotRunning; });
    result.wallMs = Ms(start);
    result.bytes = QFileInfo(out).size();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    RegisterImageFormats();
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != "xcb") {
        std::fprintf(stderr, "needs an X server: run under xvfb-run\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString photo = QDir(dir.path()).filePath("photo.jpg");
    WritePhoto(photo, 4000, 3000);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    TMainWindow form;
    form.resize(1000, 700);
    form.show();
    form.OpenPath(photo);
    Spin([&] { return form.CopyImage->Enabled() && !form.PictureLoading(); });
    const QString out = QDir(dir.path()).filePath("pasted.png");
    const QImage picture(photo);  // what the old window put on the clipboard

    std::printf("CPU: %s, %d runs, 4000 x 3000 JPEG copied, pasted as image/png by xclip\n",
                CpuModel().c_str(), runs);
    for (const bool baseline : {true, false}) {
        std::vector<double> clickMs, clickCpu, readyMs, wall, stall;
        qint64 bytes = 0;
        for (int run = 0; run < runs; ++run) {
            QApplication::clipboard()->clear();
            Spin([] { return false; }, 100);
            const auto start = Clock::now();
            const double cpu0 = CpuMs(CLOCK_THREAD_CPUTIME_ID);
            if (baseline)
                QApplication::clipboard()->setImage(picture);
            else
                form.CopyImage->Click();
            clickMs.push_back(Ms(start));
            clickCpu.push_back(CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpu0);
            Spin([baseline] {
                const QMimeData* data = QApplication::clipboard()->mimeData();
                return baseline || (data != nullptr && data->formats().contains("image/png"));
            });
            readyMs.push_back(Ms(start));
            const TPaste paste = Paste(out);
            wall.push_back(paste.wallMs);
            stall.push_back(paste.stallMs);
            bytes = paste.bytes;
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf(
            "%-9s copy click %6.0f ms (thread cpu %5.0f ms), offered after %6.0f ms; "
            "paste %6.0f ms wall, %9lld bytes, window's longest stall %6.0f ms "
            "(worst %6.0f)\n",
            baseline ? "baseline" : "Velkaro", median(clickMs), median(clickCpu), median(readyMs),
            median(wall), (long long)bytes, median(stall),
            *std::max_element(stall.begin(), stall.end()));
    }
    UnregisterImageFormats();
    return 0;
}
