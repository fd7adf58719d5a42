#pragma once
// TLineFilter: the lines of a document that a search matches, each with the file's own line
// number (counted as `grep -n` does), found on a thread of its own and readable while it runs.
// A document that grows is followed: Start again and the filter goes on from its last line.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "text/TextSearch.h"

struct TFilterLine {
    uint64_t start = 0;   // the offset the line starts at
    uint64_t number = 0;  // the file's line number, from 1
    bool operator==(const TFilterLine&) const = default;
};

class TLineFilter {
  public:
    // Lines kept at most (16 bytes each); past it the filter stops and Truncated() tells.
    static constexpr size_t MaxLines = 8'000'000;

    TLineFilter(std::shared_ptr<const TTextDocument> document,
                std::shared_ptr<const TTextSearch> search);
    ~TLineFilter();
    TLineFilter(const TLineFilter&) = delete;
    TLineFilter& operator=(const TLineFilter&) = delete;

    // Filters up to the document's current size on the worker thread: the first time from the
    // start, afterwards from the line the last pass ended in. A pass still running is waited for.
    void Start();
    // Stops a running pass (Start goes on from where it stopped).
    void Cancel();
    void Wait();
    bool Running() const { return running_.load(); }
    // The offset the filter has read to: the document's size once a pass has ended.
    uint64_t FilteredTo() const { return filteredTo_.load(); }
    bool Truncated() const { return truncated_.load(); }

    size_t Count() const;
    TFilterLine At(size_t index) const;
    // The index of the first line starting at or after `offset` (Count() for none).
    size_t LowerBound(uint64_t offset) const;

    // The same pass synchronously, for callers that want the whole result at once.
    void Run();

  private:
    static constexpr size_t kBlock = 1 << 16;

    // Counts the line ends in [countedTo_, to), moving the current line on.
    void CountTo(uint64_t to);
    void CountUnits(const uint8_t* data, size_t size, uint64_t at);
    // One code unit, `next` the offset after it.
    void CountUnit(uint32_t unit, uint64_t next);
    uint32_t UnitAt(uint64_t offset) const;
    void Flush(std::vector<TFilterLine>& batch);

    std::shared_ptr<const TTextDocument> document_;
    std::shared_ptr<const TTextSearch> search_;

    // The worker's position: line ends are counted up to countedTo_, which lies in line number
    // line_ (from 0) starting at lineStart_.
    uint64_t countedTo_ = 0;
    uint64_t line_ = 0;
    uint64_t lineStart_ = 0;
    uint64_t previousLineStart_ = 0;  // kept while the last unit counted is a CR
    bool lastWasCR_ = false;
    int64_t lastEmitted_ = -1;
    std::vector<uint8_t> buffer_;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TFilterLine[]>> blocks_;
    size_t count_ = 0;

    std::atomic<bool> running_{false};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> truncated_{false};
    std::atomic<uint64_t> filteredTo_{0};
    std::thread worker_;
};
