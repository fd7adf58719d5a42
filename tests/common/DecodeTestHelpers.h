#pragma once
// Helpers shared by the tests of decoding off the window's thread: waiting for a condition while
// the event loop runs, and small picture files to decode.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <functional>

#include "imaging/Bitmap.h"

namespace testhelp {

// Runs the event loop until done() holds or timeoutMs have passed.
inline void WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Saves a black 24-bit bitmap of the size as folder/name; returns its path.
inline QByteArray SaveBlankBitmap(const QString& folder, const char* name, int width, int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    const QByteArray path = (folder + "/" + name).toUtf8();
    bitmap.SaveToFile(path.toStdString());
    return path;
}

}  // namespace testhelp
