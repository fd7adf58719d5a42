#pragma once
// TThumbnailService: makes thumbnails on worker threads so that the window never waits for them.
// The view says which files it shows now and which lie around them (Request, again on every
// scroll); the workers take the shown ones first, in order, then the ones around them; a file no
// longer asked for is dropped from the queue. Clear (a new folder) cancels everything that is not
// made yet. Each file is looked up in the freedesktop cache first; what is made is written there.
// Finished thumbnails come back on the window's thread through Ready and are kept in memory up to
// MemoryBound bytes, the least recently shown dropped first.
#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <functional>
#include <list>
#include <memory>

#include "render/WorkerThreads.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailMaker.h"

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

    // What makes a thumbnail (MakeThumbnail unless replaced, as tests and benchmarks do); called
    // on the worker threads.
    using TMaker = std::function<TThumbnail(const std::string& path, int size,
                                            const std::atomic<bool>* cancel)>;
    void SetMaker(TMaker maker);
    // How long destroying the service waits for workers to notice the cancel before it leaves
    // the ones inside a call that cannot be cancelled to finish on their own.
    static constexpr int kStopWaitMs = 100;

  signals:
    // A thumbnail made or read for path at the current size; a null image when none can be made.
    void Ready(QByteArray path, QImage image);

  private:
    struct TJob;
    // What the workers share with the service; it outlives the service while a detached worker
    // still runs.
    struct TState;
    static void Work(std::shared_ptr<TState> state);
    static QImage Run(TState& state, const TJob& job, const TMaker& maker);
    // Takes a finished thumbnail on the window's thread.
    void Arrived(const TJob& job, QImage image);
    void Remember(const QByteArray& path, QImage image);
    void Trim();
    void DropMemory();

    std::shared_ptr<TState> state_;
    TWorkerThreads workers_;

    // Window thread only.
    int size_ = 256;
    quint64 generation_ = 1;  // raised by Clear and SetSize: older results are dropped
    size_t bound_ = kDefaultMemoryBound;
    size_t bytes_ = 0;
    struct TEntry {
        QImage image;
        std::list<QByteArray>::iterator shown;  // its place in lru_
    };
    QHash<QByteArray, TEntry> memory_;
    std::list<QByteArray> lru_;  // most recently shown first
    QSet<QByteArray> failed_;    // no thumbnail at this size
};
