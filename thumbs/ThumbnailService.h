#pragma once
// TThumbnailService: makes thumbnails on worker threads so that the window never waits for them.
// The view says which files it shows now and which lie around them (Request, again on every
// scroll); the workers take the shown ones first, in order, then the ones around them; a file no
// longer asked for is dropped from the queue. Clear (a new folder) cancels everything that is not
// made yet. Each file is looked up in the freedesktop cache first; what is made is written there.
// Finished thumbnails come back on the window's thread through Ready and are kept in memory up to
// MemoryBound bytes, the least recently shown dropped first.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <memory>

#include "thumbs/ThumbnailCache.h"

class TThumbnailService : public QObject {
    Q_OBJECT

  public:
    static constexpr size_t kDefaultMemoryBound = size_t(64) << 20;

    explicit TThumbnailService(QObject* parent = nullptr, int threads = 2,
                               TThumbnailCache cache = TThumbnailCache());
    ~TThumbnailService() override;

    // The thumbnail size in device pixels (the longer side); a change drops what is queued.
    void SetSize(int pixels);
    int Size() const;
    // Asks for thumbnails: visible first (in order), then around; replaces the previous request.
    void Request(const QList<QByteArray>& visible, const QList<QByteArray>& around);
    // Cancels every thumbnail not made yet (the folder changed).
    void Clear();
    // The thumbnail in memory at the current size, or a null image; counts as shown.
    QImage Cached(const QByteArray& path);

    size_t MemoryBound() const;
    void SetMemoryBound(size_t bytes);
    size_t MemoryBytes() const;

  signals:
    // A thumbnail made or read for path at the current size; a null image when none can be made.
    void Ready(QByteArray path, QImage image);

  private:
    struct TState;
    std::shared_ptr<TState> state_;
};
