#include "thumbs/ThumbnailService.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "render/PostToOwner.h"
#include "render/ReducedImage.h"

struct TThumbnailService::TJob {
    QByteArray path;
    int size = 0;
    quint64 generation = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
};

struct TThumbnailService::TState {
    explicit TState(TThumbnailCache c) : cache(std::move(c)) {}

    const TThumbnailCache cache;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<TJob> queue;  // in the order of the last Request
    std::vector<TJob> running;
    bool stopping = false;
    TMaker maker = [](const std::string& path, int size, const std::atomic<bool>* cancel) {
        return MakeThumbnail(path, size, cancel);
    };
    TThumbnailService* owner = nullptr;  // null once the service has gone

    // Runs fn on the service's thread, unless the service has gone.
    void Post(std::function<void(TThumbnailService&)> fn) {
        PostToOwner(mutex, owner, std::move(fn));
    }

    void Finished(const TJob& job) {
        std::lock_guard lock(mutex);
        std::erase_if(running, [&](const TJob& j) { return j.cancel == job.cancel; });
    }

    // Window thread: cancels every job queued or running.
    void CancelAll() {
        std::lock_guard lock(mutex);
        for (TJob& job : queue)
            job.cancel->store(true);
        for (TJob& job : running)
            job.cancel->store(true);
        queue.clear();
    }
};

TThumbnailService::TThumbnailService(QObject* parent, int threads, TThumbnailCache cache)
    : QObject(parent), state_(std::make_shared<TState>(std::move(cache))) {
    state_->owner = this;
    workers_.Start(threads, [state = state_](int) { Work(state); });
}

TThumbnailService::~TThumbnailService() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->owner = nullptr;
    }
    state_->CancelAll();
    state_->wake.notify_all();
    workers_.Stop(kStopWaitMs);
}

void TThumbnailService::SetMaker(TMaker maker) {
    std::lock_guard lock(state_->mutex);
    state_->maker = std::move(maker);
}

void TThumbnailService::SetSize(int pixels) {
    if (pixels == size_ || pixels <= 0) return;
    size_ = pixels;
    Clear();
    DropMemory();
}

int TThumbnailService::Size() const {
    return size_;
}

void TThumbnailService::Request(const QList<QByteArray>& visible, const QList<QByteArray>& around) {
    std::deque<TJob> jobs;
    QSet<QByteArray> asked;
    for (const QList<QByteArray>* list : {&visible, &around})
        for (const QByteArray& path : *list) {
            if (path.isEmpty() || memory_.contains(path) || failed_.contains(path) ||
                asked.contains(path))
                continue;
            asked.insert(path);
            jobs.push_back({path, size_, generation_, std::make_shared<std::atomic<bool>>(false)});
        }
    {
        std::lock_guard lock(state_->mutex);
        // A file being made now is not made twice (one no longer asked for is finished anyway).
        QSet<QByteArray> running;
        for (const TJob& job : state_->running)
            if (job.generation == generation_) running.insert(job.path);
        std::erase_if(jobs, [&](const TJob& job) { return running.contains(job.path); });
        state_->queue = std::move(jobs);
    }
    state_->wake.notify_all();
}

void TThumbnailService::Clear() {
    ++generation_;
    failed_.clear();
    state_->CancelAll();
}

QImage TThumbnailService::Cached(const QByteArray& path) {
    auto it = memory_.find(path);
    if (it == memory_.end()) return {};
    lru_.splice(lru_.begin(), lru_, it->shown);
    return it->image;
}

size_t TThumbnailService::MemoryBound() const {
    return bound_;
}

void TThumbnailService::SetMemoryBound(size_t bytes) {
    bound_ = bytes;
    Trim();
}

size_t TThumbnailService::MemoryBytes() const {
    return bytes_;
}

void TThumbnailService::Work(std::shared_ptr<TState> state) {
    for (;;) {
        TJob job;
        TMaker maker;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&state] { return state->stopping || !state->queue.empty(); });
            if (state->stopping) break;
            job = state->queue.front();
            state->queue.pop_front();
            if (job.cancel->load()) continue;
            state->running.push_back(job);
            maker = state->maker;
        }
        const QImage image = Run(*state, job, maker);
        // A delivered job counts as running until the window has it, so that a request in
        // between does not ask for it again.
        if (!job.cancel->load())
            state->Post([job, image](TThumbnailService& service) {
                service.state_->Finished(job);
                service.Arrived(job, image);
            });
        else
            state->Finished(job);
    }
}

QImage TThumbnailService::Run(TState& state, const TJob& job, const TMaker& maker) {
    const TThumbnailCache& cache = state.cache;
    if (cache.Inside(job.path)) return {};
    QImage image = cache.Read(job.path, job.size);
    if (image.isNull()) {
        if (cache.Failed(job.path)) return {};
        // Made at the standard size, so that the stored thumbnail serves every program.
        const int standard = TThumbnailCache::StandardSize(job.size);
        const int making = job.size <= standard ? standard : job.size;
        const TThumbnail made = maker(job.path.toStdString(), making, job.cancel.get());
        if (job.cancel->load()) return {};
        if (made.image.isNull()) {
            if (!made.error.isEmpty()) cache.RecordFailure(job.path);
            return {};
        }
        cache.Write(job.path, making, made.image, made.fullSize);
        image = made.image;
    }
    const int longer = std::max(image.width(), image.height());
    if (longer <= job.size) return image;
    const double scale = double(job.size) / longer;
    return ReducedImage(image, QSize(std::max(1, int(std::lround(image.width() * scale))),
                                     std::max(1, int(std::lround(image.height() * scale)))));
}

void TThumbnailService::Arrived(const TJob& job, QImage image) {
    if (job.generation != generation_) return;  // the folder or the size changed since
    if (image.isNull())
        failed_.insert(job.path);
    else
        Remember(job.path, image);
    emit Ready(job.path, image);
}

void TThumbnailService::Remember(const QByteArray& path, QImage image) {
    auto it = memory_.find(path);
    if (it != memory_.end()) {
        bytes_ -= size_t(it->image.sizeInBytes());
        lru_.erase(it->shown);
        memory_.erase(it);
    }
    lru_.push_front(path);
    bytes_ += size_t(image.sizeInBytes());
    memory_.insert(path, {std::move(image), lru_.begin()});
    Trim();
}

void TThumbnailService::Trim() {
    while (bytes_ > bound_ && !lru_.empty()) {
        auto it = memory_.find(lru_.back());
        bytes_ -= size_t(it->image.sizeInBytes());
        memory_.erase(it);
        lru_.pop_back();
    }
}

void TThumbnailService::DropMemory() {
    memory_.clear();
    lru_.clear();
    bytes_ = 0;
}
