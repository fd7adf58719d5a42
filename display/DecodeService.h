#pragma once
// TDecodeService: decodes picture files on worker threads so that the window never waits for a
// decoder. The window asks for the picture to show (Show) and for its neighbours (Preload);
// results come back on the window's thread through the Decoded signal, tagged with the
// generation number Show returned, and a result of an older generation is never delivered as
// shown. A new Show cancels the decode it replaces at once (the graphic's cancel flag, polled
// where the decoders report progress), and destroying the service cancels everything and waits
// only briefly for the decoders to notice: a worker still inside a library call that cannot be
// cancelled is left to finish it on its own (detached), and what it delivers then is dropped.
//
// Decoded neighbours are kept in a cache bounded in bytes (CacheBound): the shown picture and
// the pictures Preload named last; a picture that would not fit is not kept.
//
// A picture shown at half size or less is decoded as small as its graphic class allows
// (TGraphic::PrepareReducedLoad and DecodeReduced: a JPEG picture at libjpeg's reduced scale that
// still covers the view, with its EXIF thumbnail and a progressive file's first scan as previews;
// a JPEG 2000 picture first at a lower resolution level, then at full size). A reduced decode
// that covers the view is all that is made: a larger one only when the window asks for it (Show
// again with the scale it now needs), so a large photo in a small pane never holds its full-size
// pixels.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/Graphic.h"
#include "render/WorkerThreads.h"

// A decoded picture (or the reason there is none).
struct TDecodedPicture {
    QByteArray path;                    // the file's name as the file system spells it
    std::unique_ptr<TGraphic> graphic;  // decoded: its pixels are ready to paint
    QSize fullSize;                     // the picture's size (a preview's graphic is smaller)
    bool preview = false;               // a reduced first decode; the full one follows
    // A reduced decode that covers the wished view; nothing follows it (a larger view asks again).
    bool reducedOnly = false;
    QImage reduced;    // the picture scaled to the wanted view, when smaller
    QString error;     // set when the file could not be read
    size_t bytes = 0;  // memory held by graphic and reduced
};
using TDecodedPtr = std::shared_ptr<TDecodedPicture>;

// How a picture will be shown: at scale (fit: fitted to pane, never enlarged).
struct TViewWish {
    QSize pane;
    bool fit = false;
    double scale = 1.0;
    // The view already shows a smaller decode of the picture: no thumbnail or reduced preview
    // is delivered before the decode the wish needs.
    bool larger = false;
};

class TDecodeService : public QObject {
    Q_OBJECT

  public:
    // The default cache bound: 512 MiB or a quarter of the machine's memory, whichever is less.
    static size_t DefaultCacheBound();

    explicit TDecodeService(QObject* parent = nullptr, int threads = 2);
    ~TDecodeService() override;

    // Asks for the picture to show; cancels the previous request. Returns the new generation. A
    // cached picture is delivered before Show returns.
    quint64 Show(const QByteArray& path, const TViewWish& wish);
    // The generation of the last Show.
    quint64 Generation() const { return generation_; }
    // Whether the last Show's picture (the full decode) has not arrived yet.
    bool Busy() const { return busy_; }
    // Decodes these pictures in the background into the cache; cancels preloads of others.
    void Preload(const QList<QByteArray>& paths, const TViewWish& wish);
    // Hands back a picture that is no longer shown; kept (within the bound) until the next
    // Preload leaves it out. fullSize is the picture's size when the graphic is a reduced decode.
    void Keep(const QByteArray& path, std::unique_ptr<TGraphic> graphic, QImage reduced,
              QSize fullSize = QSize());
    // Cancels the shown picture's decode (nothing is delivered for it).
    void CancelShow();
    // Runs other decoding work (an animation's next frames) on the same worker threads, after
    // the shown picture's decode and before preloads. The task polls cancel itself; one whose
    // flag is raised before it starts is dropped.
    void Submit(std::function<void()> task, std::shared_ptr<std::atomic<bool>> cancel);
    // Hands a function to the window's thread from any thread; dropped once the service has
    // gone. The poster may outlive the service (work that delivers through it may be detached).
    std::function<void(std::function<void()>)> Poster() const;
    // Workers left running by destroyed services (still inside a call that could not be
    // cancelled); a program ending with some skips its static teardown, which they may still use.
    static int DetachedWorkers();
    // How long a destroyed service waits for its workers to notice the cancel before it detaches
    // the ones that do not.
    static constexpr int kStopWaitMs = 100;

    // Forgets every cached picture and stops the preloads, so that pictures decode afresh after
    // a change to how they are decoded (colour management switched).
    void DropCache();

    size_t CacheBound() const { return cacheBound_; }
    void SetCacheBound(size_t bytes) { cacheBound_ = bytes; }
    // Bytes held by the cache, and the most it held since the service started.
    size_t CacheBytes() const { return cacheBytes_; }
    size_t PeakCacheBytes() const { return peakCacheBytes_; }
    bool Cached(const QByteArray& path) const { return cache_.count(path) != 0; }
    // Preloads not finished yet.
    int PendingPreloads() const { return int(preloadCancel_.size()); }

  signals:
    // The picture of a Show (generation as returned), a preview first for reduced JPEG and
    // JPEG 2000 decodes.
    void Decoded(quint64 generation, TDecodedPtr picture);
    // Progress of the shown picture's decode.
    void Progress(quint64 generation, int percent, QString message);

  private:
    struct TJob {
        QByteArray path;
        TViewWish wish;
        quint64 generation = 0;  // 0 for a preload
        std::shared_ptr<std::atomic<bool>> cancel;
        std::function<void()> task;  // set for work given to Submit
    };
    // What the workers share with the service; it outlives the service while a detached worker
    // still runs.
    struct TPool;
    static void Work(std::shared_ptr<TPool> pool);
    static void Run(TPool& pool, const TJob& job);
    // Takes a finished result on the window's thread.
    void Arrived(const TJob& job, TDecodedPtr picture);
    void Store(TDecodedPtr picture);
    void Trim(bool dropUnwanted);

    std::shared_ptr<TPool> pool_;
    TWorkerThreads workers_;

    // Window thread only.
    quint64 generation_ = 0;
    bool busy_ = false;
    std::shared_ptr<std::atomic<bool>> showCancel_;
    QByteArray shownPath_;
    QList<QByteArray> wanted_;
    std::map<QByteArray, std::shared_ptr<std::atomic<bool>>> preloadCancel_;
    std::map<QByteArray, TDecodedPtr> cache_;
    size_t cacheBound_;
    size_t cacheBytes_ = 0;
    size_t peakCacheBytes_ = 0;
};
