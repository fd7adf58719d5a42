#include "browse/FileClipboard.h"

#include <fcntl.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImageReader>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

#include "browse/ShellHelpers.h"

TTransferMode& FileTransferMode() {
    static TTransferMode mode = tmCopy;
    return mode;
}

namespace {

// A URL as file managers write it: percent-encoded bytes of the path as stored on the disk
// (QUrl cannot carry bytes that are no UTF-8).
QByteArray FileUrl(const QByteArray& path) {
    return QByteArray("file://") + path.toPercentEncoding("/");
}

// The local path of one URL line; empty for anything that is no local file.
QByteArray LocalPath(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (text.isEmpty() || text.startsWith('#')) return {};
    if (text.startsWith('/')) return text;
    if (!text.startsWith("file:")) return {};
    QByteArray rest = text.mid(5);
    if (rest.startsWith("//")) {
        rest = rest.mid(2);
        const qsizetype slash = rest.indexOf('/');
        if (slash < 0) return {};
        const QByteArray host = rest.left(slash);
        if (!host.isEmpty() && host != "localhost") return {};
        rest = rest.mid(slash);
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(rest);
    if (!bytes.startsWith('/') || bytes.contains('\0')) return {};
    return bytes;
}

QList<QByteArray> PathsOf(const QList<QByteArray>& lines) {
    QList<QByteArray> paths;
    for (const QByteArray& line : lines) {
        const QByteArray path = LocalPath(line);
        if (!path.isEmpty()) paths.append(path);
    }
    return paths;
}

// The list this program put on the clipboard last, while the clipboard holds it.
QPointer<QMimeData>& ownList() {
    static QPointer<QMimeData> list;
    return list;
}

// Our cut ends when another program takes the clipboard.
void watchClipboard() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    QClipboard* clipboard = QApplication::clipboard();
    QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, [clipboard] {
        if (ownList().isNull() || clipboard->mimeData() != ownList().data()) {
            ownList().clear();
            FileTransferMode() = tmCopy;
        }
    });
}

}  // namespace

QMimeData* MakeFileListMimeData(const QStringList& paths, bool cut) {
    QList<QByteArray> native;
    for (const QString& path : paths)
        native.append(QFile::encodeName(path));
    return MakeFileListMimeData(native, cut);
}

QMimeData* MakeFileListMimeData(const QList<QByteArray>& paths, bool cut) {
    auto* data = new QMimeData;
    QByteArray uris, gnome(cut ? "cut" : "copy");
    QString text;
    for (const QByteArray& path : paths) {
        const QByteArray url = FileUrl(path);
        uris += url + "\r\n";
        gnome += '\n' + url;
        if (!text.isEmpty()) text += u'\n';
        text += QFile::decodeName(path);
    }
    data->setData(QLatin1String(UriListMime), uris);
    data->setData(QLatin1String(GnomeCopiedFilesMime), gnome);
    data->setData(QLatin1String(KdeCutSelectionMime), cut ? "1" : "0");
    data->setData(QLatin1String(OwnFileListMime), cut ? "cut" : "copy");
    data->setText(text);
    return data;
}

TFileList ReadFileList(const QMimeData* data) {
    TFileList list;
    if (data == nullptr) return list;
    list.Own = data->hasFormat(QLatin1String(OwnFileListMime));
    if (data->hasFormat(QLatin1String(GnomeCopiedFilesMime))) {
        QList<QByteArray> lines = data->data(QLatin1String(GnomeCopiedFilesMime)).split('\n');
        if (!lines.isEmpty()) {
            const QByteArray mode = lines.takeFirst().trimmed();
            if (mode == "cut" || mode == "copy") {
                list.HasMode = true;
                list.Cut = mode == "cut";
            } else {
                lines.prepend(mode);
            }
            list.Native = PathsOf(lines);
        }
    }
    if (list.Native.isEmpty() && data->hasFormat(QLatin1String(UriListMime))) {
        list.Native = PathsOf(data->data(QLatin1String(UriListMime)).split('\n'));
        list.HasMode = false;
        if (data->hasFormat(QLatin1String(KdeCutSelectionMime))) {
            list.HasMode = true;
            list.Cut = data->data(QLatin1String(KdeCutSelectionMime)).trimmed() == "1";
        }
    }
    if (list.Native.isEmpty()) list.HasMode = false;
    for (const QByteArray& path : list.Native)
        list.Paths.append(QFile::decodeName(path));
    return list;
}

void PutFileListOnClipboard(const QList<QByteArray>& paths, bool cut) {
    if (paths.isEmpty()) return;
    watchClipboard();
    QMimeData* data = MakeFileListMimeData(paths, cut);
    QApplication::clipboard()->setMimeData(data);
    ownList() = data;
    FileTransferMode() = cut ? tmMove : tmCopy;
}

TFileList ClipboardFileList() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    TFileList list = ReadFileList(data);
    // The marker counts only on the list still held; a list another program copied from us
    // and offers again is that program's.
    list.Own = list.Own && !ownList().isNull() && data == ownList().data();
    return list;
}

bool ClipboardHasFileList() {
    return !ClipboardFileList().Native.isEmpty();
}

void ClearClipboardFileList() {
    ownList().clear();
    FileTransferMode() = tmCopy;
    QApplication::clipboard()->clear();
}

namespace {

TPictureLoader& PictureLoader() {
    static TPictureLoader loader;
    return loader;
}

}  // namespace

void SetPictureLoader(TPictureLoader loader) {
    PictureLoader() = std::move(loader);
}

QImage LoadPictureForClipboard(const QString& path) {
    return LoadPictureForClipboard(QFile::encodeName(path));
}

QImage LoadPictureForClipboard(const QByteArray& path) {
    if (PictureLoader()) return PictureLoader()(path);
    QFile file;
    if (!OpenNativeFile(file, path, O_RDONLY, QIODevice::ReadOnly)) return {};
    QImageReader reader(&file);
    return reader.read();
}
