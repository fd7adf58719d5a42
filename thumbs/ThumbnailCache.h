#pragma once
// TThumbnailCache: the thumbnail cache shared by the desktop's programs (the freedesktop Thumbnail
// Managing Standard): $XDG_CACHE_HOME/thumbnails (~/.cache/thumbnails) with one folder per size
// (normal 128, large 256, x-large 512, xx-large 1024 pixels), each thumbnail a PNG named by the MD5
// of the file's URI and carrying Thumb::URI and Thumb::MTime, which must match the file for the
// thumbnail to count. Thumbnails that file managers and other viewers made are read; the ones
// made here are written atomically (a temporary name renamed), folders 0700, files 0600. A file
// no thumbnail can be made of is recorded under fail/velkaro-<version>/ so it is not tried again
// until it changes. Files inside the cache itself are never thumbnailed. Safe on any thread.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class TThumbnailCache {
  public:
    // The cache in root (DefaultRoot when empty).
    explicit TThumbnailCache(QString root = QString());
    // $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails.
    static QString DefaultRoot();
    const QString& Root() const { return root_; }

    // The standard's folder for thumbnails of size pixels: the smallest of normal (128), large
    // (256), x-large (512) and xx-large (1024) that holds size; xx-large beyond.
    static int StandardSize(int size);
    static QString FolderName(int standardSize);
    // The file:// URI of an absolute path, escaped from the name's own bytes (names that are not
    // UTF-8 included), as other programs write it.
    static QByteArray Uri(const QByteArray& path);
    // The thumbnail's file name: the MD5 of the URI in lower-case hex, then ".png".
    static QByteArray FileName(const QByteArray& uri);
    // Where the thumbnail of path at the standard size lies.
    QString ThumbnailPath(const QByteArray& path, int standardSize) const;

    // The file's thumbnail for size when one is stored and still valid (its URI and its
    // modification time match the file as it is now), from the smallest standard folder that
    // holds size; a null image otherwise. The image is as stored (the caller scales it).
    QImage Read(const QByteArray& path, int size) const;
    // Stores a thumbnail of the file made for size, with the picture's full size. False when it
    // could not be written (the cache is then left as it was).
    bool Write(const QByteArray& path, int size, const QImage& image, QSize fullSize) const;
    // Records that no thumbnail can be made of the file as it is now, and whether that was
    // recorded for the file as it is now.
    bool RecordFailure(const QByteArray& path) const;
    bool Failed(const QByteArray& path) const;
    // Whether path lies inside the cache (such files are never thumbnailed).
    bool Inside(const QByteArray& path) const;

  private:
    QString root_;
};
