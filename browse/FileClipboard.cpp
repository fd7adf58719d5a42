#include "browse/FileClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

TTransferMode& FileTransferMode() {
    static TTransferMode mode = tmCopy;
    return mode;
}

namespace {

// A URL as file managers write it: percent-encoded bytes of the path as stored on the disk.
QByteArray FileUrl(const QString& path) {
    return QByteArray("file://") + QFile::encodeName(path).toPercentEncoding("/");
}

// The local path of one URL line; empty for anything that is no local file.
QString LocalPath(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (text.isEmpty() || text.startsWith('#')) return {};
    if (text.startsWith('/')) return QFile::decodeName(text);
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
    return QFile::decodeName(bytes);
}

QStringList PathsOf(const QList<QByteArray>& lines) {
    QStringList paths;
    for (const QByteArray& line : lines) {
        const QString path = LocalPath(line);
        if (!path.isEmpty()) paths.append(path);
    }
    return paths;
}

}  // namespace

QMimeData* MakeFileListMimeData(const QStringList& paths, bool cut) {
    auto* data = new QMimeData;
    QByteArray uris, gnome(cut ? "cut" : "copy");
    QString text;
    for (const QString& path : paths) {
        const QByteArray url = FileUrl(path);
        uris += url + "\r\n";
        gnome += '\n' + url;
        if (!text.isEmpty()) text += u'\n';
        text += path;
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
            list.Paths = PathsOf(lines);
        }
    }
    if (list.Paths.isEmpty() && data->hasFormat(QLatin1String(UriListMime))) {
        list.Paths = PathsOf(data->data(QLatin1String(UriListMime)).split('\n'));
        list.HasMode = false;
        if (data->hasFormat(QLatin1String(KdeCutSelectionMime))) {
            list.HasMode = true;
            list.Cut = data->data(QLatin1String(KdeCutSelectionMime)).trimmed() == "1";
        }
    }
    if (list.Paths.isEmpty()) list.HasMode = false;
    return list;
}

void PutFileListOnClipboard(const QStringList& paths, bool cut) {
    if (paths.isEmpty()) return;
    QApplication::clipboard()->setMimeData(MakeFileListMimeData(paths, cut));
}

TFileList ClipboardFileList() {
    return ReadFileList(QApplication::clipboard()->mimeData());
}

bool ClipboardHasFileList() {
    return !ClipboardFileList().Paths.isEmpty();
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
    if (PictureLoader()) return PictureLoader()(path);
    QImageReader reader(path);
    return reader.read();
}
