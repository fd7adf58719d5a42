#pragma once
// TWorkerThreads: the worker threads of a background service (picture decodes, thumbnails) that
// its owner never waits for long. Stop gives the workers a short time to notice that they should
// end; a worker still inside a library call that cannot be cancelled is then left to finish on its
// own (detached). Whatever a worker uses must therefore be shared with it (held by the worker's
// function), not borrowed from the owner. No Qt: standard threads only.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerThreads {
  public:
    TWorkerThreads() = default;
    TWorkerThreads(const TWorkerThreads&) = delete;
    TWorkerThreads& operator=(const TWorkerThreads&) = delete;
    // Stops within no time at all: a worker that has not returned is detached at once.
    ~TWorkerThreads();

    // Starts count threads (at least one), each running work(index) once.
    void Start(int count, std::function<void(int)> work);
    // Waits up to waitMs for every worker to return from its function (the caller has told them to
    // end), then detaches those that have not.
    void Stop(int waitMs);
    // Workers detached by any Stop and still running: a program ending with some skips its static
    // teardown, which they may still use.
    static int Detached();

  private:
    struct TShared {
        std::mutex mutex;
        std::condition_variable endedWake;
        std::vector<bool> ended;     // per worker: returned from its function
        std::vector<bool> detached;  // per worker: left running by Stop
    };
    std::shared_ptr<TShared> shared_;
    std::vector<std::thread> threads_;
};
