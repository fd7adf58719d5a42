#pragma once
// Helpers shared by the tests of decoding off the window's thread: waiting for a condition while
// the event loop runs, and small picture files to decode (JPEG files with an EXIF thumbnail).
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Stream.h"
#include "imaging/formats/JPEGImage.h"

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

// A JPEG file of the size, its top-left quarter white (to tell how it was turned), the rest of
// grey level rest.
inline std::vector<uint8_t> Jpeg(int width, int height, uint8_t rest = 0) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::fill_n(bitmap.ScanLine(y), width * 3, rest);
    for (int y = 0; y < height / 2; ++y)
        std::fill_n(bitmap.ScanLine(y), width / 2 * 3, uint8_t(255));
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    TMemoryStream out;
    jpeg.SaveToStream(out);
    out.SetPosition(0);
    return out.ReadBytes(out.Size());
}

// A JPEG file with an APP1 EXIF block after its start marker: IFD0 with the orientation, IFD1
// pointing at the thumbnail (its offset moved by thumbShift from where the bytes lie).
inline std::vector<uint8_t> WithThumbnail(std::vector<uint8_t> jpeg, uint16_t orientation,
                                          const std::vector<uint8_t>& thumb,
                                          uint32_t thumbShift = 0) {
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&t](uint32_t v) { t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        u16(tag), u16(type), u32(1), type == 3 ? (u16(value), u16(0)) : u32(value);
    };
    u16(1), entry(0x0112, 3, orientation), u32(26);  // IFD0 at 8, IFD1 at 26
    u16(2), entry(0x0201, 4, 56 + thumbShift), entry(0x0202, 4, uint32_t(thumb.size())), u32(0);
    t.insert(t.end(), thumb.begin(), thumb.end());  // at 56
    std::vector<uint8_t> app1 = {
        0xFF, 0xE1, uint8_t((t.size() + 8) >> 8), uint8_t(t.size() + 8), 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), t.begin(), t.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

}  // namespace testhelp
