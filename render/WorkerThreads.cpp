#include "render/WorkerThreads.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {
std::atomic<int> detachedWorkers{0};
}  // namespace

int TWorkerThreads::Detached() {
    return detachedWorkers.load();
}

TWorkerThreads::~TWorkerThreads() {
    Stop(0);
}

void TWorkerThreads::Start(int count, std::function<void(int)> work) {
    count = std::max(1, count);
    shared_ = std::make_shared<TShared>();
    shared_->ended.assign(size_t(count), false);
    shared_->detached.assign(size_t(count), false);
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([shared = shared_, work, i] {
            work(i);
            std::lock_guard lock(shared->mutex);
            shared->ended[size_t(i)] = true;
            if (shared->detached[size_t(i)]) --detachedWorkers;
            shared->endedWake.notify_all();
        });
}

void TWorkerThreads::Stop(int waitMs) {
    if (!shared_) return;
    std::unique_lock lock(shared_->mutex);
    const auto allEnded = [this] {
        return std::all_of(shared_->ended.begin(), shared_->ended.end(), [](bool e) { return e; });
    };
    shared_->endedWake.wait_for(lock, std::chrono::milliseconds(waitMs), allEnded);
    for (size_t i = 0; i < threads_.size(); ++i) {
        if (shared_->ended[i] || !threads_[i].joinable()) continue;
        shared_->detached[i] = true;
        ++detachedWorkers;
        threads_[i].detach();
    }
    lock.unlock();
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
    shared_.reset();
}
