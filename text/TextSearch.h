#pragma once
// TTextSearch: literal and expression search over a document's bytes, synchronously over a range
// or on a thread of its own.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "text/TextDocument.h"

// A search over a document's bytes on a thread of its own.
struct TSearchQuery {
    // UTF-8, except in a document of an 8-bit code page, where it holds that code page's bytes.
    std::string pattern;
    bool matchCase = true;
    bool wholeWords = false;
    bool regex = false;
};

struct TSearchHit {
    uint64_t offset = 0;
    uint64_t length = 0;
    bool operator==(const TSearchHit&) const = default;
};

class TSearchExpression;

class TTextSearch {
  public:
    // Compiles the query; Error() tells why it cannot run.
    TTextSearch(std::shared_ptr<const TTextDocument> document, const TSearchQuery& query);
    ~TTextSearch();
    const std::string& Error() const { return error_; }

    // The first hit at or after `from` (forward) or before `from` (backward), searched on a
    // worker thread; `done` runs there with the hit (none when not found or cancelled).
    // `progress` receives the share searched (0..1).
    void Start(uint64_t from, bool forward, std::function<void(bool found, TSearchHit)> done,
               std::function<void(double)> progress = {});
    void Cancel();
    void Wait();

    // Expression matches are found whole up to this length; longer ones are cut.
    static constexpr uint64_t MaxMatch = 16 << 20;

    // The same search synchronously over [from, to): every hit, at most `limit`; matches longer
    // than `maxMatch` are cut (so that a caller on the window's thread reads little).
    std::vector<TSearchHit> FindAll(uint64_t from, uint64_t to, size_t limit,
                                    uint64_t maxMatch = MaxMatch) const;
    // The first hit in [from, to), or none; `cancel` is polled between chunks.
    bool FindFirst(uint64_t from, uint64_t to, TSearchHit& hit, const std::atomic<bool>* cancel,
                   const std::function<void(double)>& progress) const;

    // Calls `onHit` for every hit starting in [from, to) in order until it returns false; returns
    // false when cancelled or the data ends.
    bool Scan(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
              const std::function<void(double)>& progress,
              const std::function<bool(const TSearchHit&)>& onHit,
              uint64_t maxMatch = MaxMatch) const;

  private:
    bool ScanLiteral(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                     const std::function<void(double)>& progress,
                     const std::function<bool(const TSearchHit&)>& onHit) const;
    bool ScanExpression(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                        const std::function<void(double)>& progress,
                        const std::function<bool(const TSearchHit&)>& onHit,
                        uint64_t maxMatch) const;
    bool IsWordAt(const uint8_t* data, size_t size, size_t at, size_t length) const;

    std::shared_ptr<const TTextDocument> document_;
    TSearchQuery query_;
    std::string error_;
    std::string needle_;  // a case-sensitive literal in the document's bytes
    // Case-insensitive literals and expressions, through PCRE2 at the document's code unit width.
    std::unique_ptr<const TSearchExpression> expression_;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};
