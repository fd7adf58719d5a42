#include "display/DecodeService.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "display/ViewTransform.h"
#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Picture.h"
#include "render/BitmapToImage.h"
#include "render/PostToOwner.h"
#include "render/ReducedImage.h"

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// The scale the picture will be shown at.
double WantedScale(const TViewWish& wish, QSize picture) {
    return wish.fit ? TViewTransform::FitScale(picture, 0, wish.pane) : wish.scale;
}

// Memory a decoded graphic holds: its bitmap's rows, and what it keeps besides (a JPEG picture's
// compressed bytes).
size_t PixelBytes(const TGraphic& graphic) {
    const size_t extra = graphic.EncodedBytes();
    const TBitmap* bitmap = nullptr;
    try {
        bitmap = GraphicBitmap(graphic);
    } catch (const std::exception&) {
        bitmap = nullptr;
    }
    if (bitmap == nullptr)
        return extra +
               size_t(std::max(0, graphic.Width())) * size_t(std::max(0, graphic.Height())) * 4;
    return extra + size_t(std::max(0, bitmap->RowStride())) * size_t(std::max(0, bitmap->Height()));
}

// A reduced first picture for the view to scale to the pane until the full decode follows.
TDecodedPtr PreviewPicture(const QByteArray& path, QSize fullSize,
                           std::unique_ptr<TGraphic> graphic) {
    auto first = std::make_shared<TDecodedPicture>();
    first->path = path;
    first->fullSize = fullSize;
    first->preview = true;
    graphic->SetCancelFlag(nullptr);
    graphic->OnProgress = nullptr;
    first->bytes = PixelBytes(*graphic);
    first->graphic = std::move(graphic);
    return first;
}

}  // namespace

size_t TDecodeService::DefaultCacheBound() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const size_t quarter = pages > 0 && pageSize > 0 ? size_t(pages) * size_t(pageSize) / 4 : 0;
    return quarter == 0 ? 512 * kMiB : std::min(512 * kMiB, quarter);
}

struct TDecodeService::TPool {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<TJob> queue;
    std::vector<TJob> running;
    bool stopping = false;
    TDecodeService* owner = nullptr;  // null once the service has gone

    // Runs fn on the service's thread, unless the service has gone.
    void Post(std::function<void(TDecodeService&)> fn) { PostToOwner(mutex, owner, std::move(fn)); }
};

int TDecodeService::DetachedWorkers() {
    return TWorkerThreads::Detached();
}

TDecodeService::TDecodeService(QObject* parent, int threads)
    : QObject(parent), pool_(std::make_shared<TPool>()), cacheBound_(DefaultCacheBound()) {
    pool_->owner = this;
    workers_.Start(threads, [pool = pool_](int) { Work(pool); });
}

TDecodeService::~TDecodeService() {
    std::unique_lock lock(pool_->mutex);
    pool_->stopping = true;
    pool_->owner = nullptr;
    for (TJob& job : pool_->queue)
        job.cancel->store(true);
    for (TJob& job : pool_->running)
        job.cancel->store(true);
    pool_->queue.clear();
    pool_->wake.notify_all();
    lock.unlock();
    // Decoders poll their cancel flag often; one that does not notice in time is inside a library
    // call that cannot be cancelled, and the window does not wait for it.
    workers_.Stop(kStopWaitMs);
}

std::function<void(std::function<void()>)> TDecodeService::Poster() const {
    return [pool = pool_](std::function<void()> fn) {
        pool->Post([fn = std::move(fn)](TDecodeService&) { fn(); });
    };
}

quint64 TDecodeService::Show(const QByteArray& path, const TViewWish& wish) {
    CancelShow();
    // The shown picture comes first: preloads still running give up their threads (the next
    // Preload asks again for the neighbours of this picture); one of this picture is taken over.
    for (auto it = preloadCancel_.begin(); it != preloadCancel_.end();) {
        if (it->first == path) {
            ++it;
            continue;
        }
        it->second->store(true);
        it = preloadCancel_.erase(it);
    }
    const quint64 generation = ++generation_;
    shownPath_ = path;
    busy_ = true;
    // Shown now, so it is no longer a neighbour in the cache: it belongs to the view.
    if (auto it = cache_.find(path); it != cache_.end()) {
        TDecodedPtr picture = it->second;
        cacheBytes_ -= picture->bytes;
        cache_.erase(it);
        busy_ = false;
        emit Decoded(generation, picture);
        return generation;
    }
    // A preload of this picture under way becomes the shown picture's decode.
    if (auto it = preloadCancel_.find(path); it != preloadCancel_.end()) {
        showCancel_ = it->second;
        return generation;
    }
    TJob job{path, wish, generation, std::make_shared<std::atomic<bool>>(false), {}};
    showCancel_ = job.cancel;
    {
        std::lock_guard lock(pool_->mutex);
        pool_->queue.push_front(job);  // before any preload
    }
    pool_->wake.notify_one();
    return generation;
}

void TDecodeService::CancelShow() {
    if (showCancel_) showCancel_->store(true);
    showCancel_.reset();
    if (busy_) preloadCancel_.erase(shownPath_);
    busy_ = false;
}

void TDecodeService::Submit(std::function<void()> task, std::shared_ptr<std::atomic<bool>> cancel) {
    TJob job;
    job.cancel = std::move(cancel);
    job.task = std::move(task);
    {
        std::lock_guard lock(pool_->mutex);
        // After the shown picture's decode and other submitted work, before any preload.
        auto at = std::find_if(pool_->queue.begin(), pool_->queue.end(),
                               [](const TJob& j) { return j.generation == 0 && !j.task; });
        pool_->queue.insert(at, std::move(job));
    }
    pool_->wake.notify_one();
}

void TDecodeService::DropCache() {
    for (auto& entry : preloadCancel_)
        entry.second->store(true);
    preloadCancel_.clear();
    cache_.clear();
    cacheBytes_ = 0;
}

void TDecodeService::Preload(const QList<QByteArray>& paths, const TViewWish& wish) {
    wanted_ = paths;
    Trim(true);
    // Preloads of pictures no longer next to the shown one stop; cached ones are dropped.
    for (auto it = preloadCancel_.begin(); it != preloadCancel_.end();) {
        if (!paths.contains(it->first) && !(busy_ && it->first == shownPath_)) {
            it->second->store(true);
            it = preloadCancel_.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<TJob> jobs;
    for (const QByteArray& path : paths) {
        if (path.isEmpty() || path == shownPath_ || cache_.count(path) != 0 ||
            preloadCancel_.count(path) != 0)
            continue;
        TJob job{path, wish, 0, std::make_shared<std::atomic<bool>>(false), {}};
        preloadCancel_[path] = job.cancel;
        jobs.push_back(job);
    }
    if (jobs.empty()) return;
    {
        std::lock_guard lock(pool_->mutex);
        for (TJob& job : jobs)
            pool_->queue.push_back(job);
    }
    pool_->wake.notify_all();
}

void TDecodeService::Keep(const QByteArray& path, std::unique_ptr<TGraphic> graphic, QImage reduced,
                          QSize fullSize) {
    if (!graphic || path.isEmpty() || cache_.count(path) != 0) return;
    auto picture = std::make_shared<TDecodedPicture>();
    picture->path = path;
    const QSize size(graphic->Width(), graphic->Height());
    picture->fullSize = fullSize.isEmpty() ? size : fullSize;
    picture->reducedOnly = picture->fullSize != size;
    picture->bytes = PixelBytes(*graphic) + size_t(reduced.sizeInBytes());
    picture->graphic = std::move(graphic);
    picture->reduced = std::move(reduced);
    Store(picture);
}

void TDecodeService::Store(TDecodedPtr picture) {
    cache_[picture->path] = picture;
    cacheBytes_ += picture->bytes;
    Trim(false);
    peakCacheBytes_ = std::max(peakCacheBytes_, cacheBytes_);
}

void TDecodeService::Trim(bool dropUnwanted) {
    // Pictures no longer wanted go first; while the rest does not fit, the largest goes.
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (dropUnwanted && !wanted_.contains(it->first)) {
            cacheBytes_ -= it->second->bytes;
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
    while (cacheBytes_ > cacheBound_ && !cache_.empty()) {
        auto largest = std::max_element(cache_.begin(), cache_.end(), [](auto& a, auto& b) {
            return a.second->bytes < b.second->bytes;
        });
        cacheBytes_ -= largest->second->bytes;
        cache_.erase(largest);
    }
}

void TDecodeService::Work(std::shared_ptr<TPool> pool) {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(pool->mutex);
            pool->wake.wait(lock, [&pool] { return pool->stopping || !pool->queue.empty(); });
            if (pool->stopping) break;
            job = pool->queue.front();
            pool->queue.pop_front();
            if (job.cancel->load()) continue;
            pool->running.push_back(job);
        }
        if (job.task)
            job.task();
        else
            Run(*pool, job);
        std::lock_guard lock(pool->mutex);
        pool->running.erase(std::find_if(pool->running.begin(), pool->running.end(),
                                         [&](const TJob& j) { return j.cancel == job.cancel; }));
    }
}

void TDecodeService::Run(TPool& pool, const TJob& job) {
    const std::atomic<bool>& cancel = *job.cancel;
    auto deliver = [&pool, job](TDecodedPtr picture) {
        pool.Post([job, picture](TDecodeService& service) { service.Arrived(job, picture); });
    };
    auto picture = std::make_shared<TDecodedPicture>();
    picture->path = job.path;
    try {
        const std::string file = job.path.toStdString();
        // Progress reaches the window only when the percentage changes.
        auto lastPercent = std::make_shared<int>(-1);
        // The graphic decodes as small as the view allows (its class knows how): a quick reduced
        // load first (the preview, with the full load after it), and previews on the way.
        TReducedDecode reduce;
        reduce.Scale = [&job](int width, int height) {
            return WantedScale(job.wish, QSize(width, height));
        };
        bool reduceFirst = job.generation != 0;
        bool reducedLoad = false;
        QSize loadFullSize;
        auto prepare = [&](TGraphic& g) {
            g.SetCancelFlag(&cancel);
            int width = 0;
            int height = 0;
            reducedLoad = reduceFirst && g.PrepareReducedLoad(file, reduce, width, height);
            if (reducedLoad) loadFullSize = QSize(width, height);
            g.OnProgress = [&pool, job, lastPercent](TGraphic*, TProgressStage stage,
                                                     uint8_t percent, bool, const TRect&,
                                                     const std::string& message) {
                if (stage == psEnding || percent == *lastPercent) return;
                *lastPercent = percent;
                const QString text = QString::fromStdString(message);
                pool.Post([cancel = job.cancel, percent, text](TDecodeService& service) {
                    // Only the shown picture's decode (its own or a preload taken over) reports.
                    if (service.busy_ && cancel == service.showCancel_)
                        emit service.Progress(service.generation_, percent, text);
                });
            };
        };
        std::unique_ptr<TGraphic> graphic = TPicture::LoadGraphic(file, prepare);
        if (cancel) return;
        if (reducedLoad) {
            deliver(PreviewPicture(job.path, loadFullSize, std::move(graphic)));
            reduceFirst = false;
            graphic = TPicture::LoadGraphic(file, prepare);
            if (cancel) return;
        }
        picture->fullSize = QSize(graphic->Width(), graphic->Height());
        const double scale = WantedScale(job.wish, picture->fullSize);

        // Previews paint at once, unless the view shows a smaller decode already.
        if (job.generation != 0 && !job.wish.larger)
            reduce.OnPreview = [&](std::unique_ptr<TGraphic> preview) {
                deliver(PreviewPicture(job.path, picture->fullSize, std::move(preview)));
            };
        picture->reducedOnly = graphic->DecodeReduced(reduce);
        if (cancel) return;

        const TBitmap* bitmap = GraphicBitmap(*graphic);  // decodes a JPEG picture now
        if (cancel) return;
        if (bitmap != nullptr && scale < 1.0) {
            const QSize size(std::max(1, int(std::lround(picture->fullSize.width() * scale))),
                             std::max(1, int(std::lround(picture->fullSize.height() * scale))));
            if (size.width() < bitmap->Width() && size.height() < bitmap->Height())
                picture->reduced =
                    ReducedImage(BitmapToSharedImage(*bitmap, graphic->Transparent()), size);
        }
        if (cancel) return;
        graphic->SetCancelFlag(nullptr);
        graphic->OnProgress = nullptr;
        picture->bytes = PixelBytes(*graphic) + size_t(picture->reduced.sizeInBytes());
        picture->graphic = std::move(graphic);
    } catch (const EAbort&) {
        return;
    } catch (const std::exception& error) {
        if (cancel) return;
        picture->error = QString::fromStdString(error.what());
        picture->graphic.reset();
    }
    deliver(picture);
}

void TDecodeService::Arrived(const TJob& job, TDecodedPtr picture) {
    if (job.generation == 0) {
        // A preload: taken by a Show of the same picture, kept in the cache, or dropped.
        auto it = preloadCancel_.find(job.path);
        if (it == preloadCancel_.end() || it->second != job.cancel) return;
        if (busy_ && job.path == shownPath_ && showCancel_ == job.cancel) {
            if (!picture->preview) {
                busy_ = false;
                preloadCancel_.erase(it);
            }
            emit Decoded(generation_, picture);
            return;
        }
        if (picture->preview) return;
        preloadCancel_.erase(it);
        if (picture->error.isEmpty() && picture->graphic && wanted_.contains(job.path))
            Store(picture);
        return;
    }
    if (job.generation != generation_ || job.cancel->load()) return;  // stale
    if (!picture->preview) busy_ = false;
    emit Decoded(generation_, picture);
}
