#pragma once
// TTextDocument: a text file of any size read in pieces on demand, with its encoding and its lines
// indexed by a background thread. Free of Qt, so that the text view, the benchmarks and the
// fuzzer share one engine.
//
// Lines end at LF, CR LF or CR, in any mix. A line longer than MaxLine bytes is broken there (on
// a character boundary), so that every line the view lays out is bounded whatever the file
// holds; the pieces are lines of the index, while FileLineAt counts the file's own lines.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "text/TextEncoding.h"
#include "text/TextSource.h"

struct TTextLine {
    uint64_t start = 0;
    uint64_t contentEnd = 0;  // before the line end
    uint64_t next = 0;        // the next line's start
    bool last = false;        // the document's last line
};

// A line to go to as typed: a line number counted from 1, or a percentage of the text ("50%").
struct TLineTarget {
    uint64_t value = 0;
    bool percent = false;
};
// False for anything else: empty, signs, letters, a percentage above 100, a number too large.
bool ParseLineTarget(std::string_view text, TLineTarget& target);

class TTextDocument {
  public:
    static constexpr uint32_t MaxLine = 16384;
    // Documents up to this size are indexed before the constructor returns.
    static constexpr uint64_t SyncIndexSize = 1 << 20;

    TTextDocument(std::shared_ptr<const TTextSource> source, const TEncodingChoice& encoding);
    ~TTextDocument();
    TTextDocument(const TTextDocument&) = delete;
    TTextDocument& operator=(const TTextDocument&) = delete;

    const TTextSource& Source() const { return *source_; }
    const TEncodingChoice& Encoding() const { return encoding_; }
    uint64_t Size() const { return size_.load(); }
    int Unit() const { return unit_; }
    uint64_t TextStart() const { return static_cast<uint64_t>(encoding_.bomSize); }

    // The line starting at `start` (a line start), found by reading at most MaxLine bytes.
    TTextLine LineAt(uint64_t start) const;
    // The start of the line before the one starting at `start` (TextStart() stays).
    uint64_t PreviousLineStart(uint64_t start) const;
    // The start of the line holding `offset`: exact inside the indexed part, else the byte after
    // the nearest line end found before it.
    uint64_t LineStartAt(uint64_t offset) const;

    // The index. Lines counts a last line after a final line end, as editors show it.
    bool IndexComplete() const { return indexComplete_.load(); }
    uint64_t IndexedBytes() const { return indexedEnd_.load(); }
    // Lines known so far (all of them once the index is complete).
    uint64_t IndexedLines() const;
    uint64_t LineCount() const { return IndexedLines(); }
    // Start of line `n` (counted from 0) if it is indexed, else the end of the indexed part.
    uint64_t LineStart(uint64_t n) const;
    // Number of the line holding `offset` if that part is indexed, else -1.
    int64_t LineNumberAt(uint64_t offset) const;
    // The file's own line number (from 0, as grep -n counts from 1) of the line holding
    // `offset`, where the pieces of a line broken at MaxLine count once; -1 when that part is
    // not indexed. `continues` tells whether the indexed line there goes on a longer one.
    int64_t FileLineAt(uint64_t offset, bool* continues = nullptr) const;

    // The start of the line `target` names, in `start`: a line number past the end goes to the
    // last line, a percentage to the line holding that share of the bytes. False while the index
    // has not reached the line yet.
    bool TargetLineStart(const TLineTarget& target, uint64_t& start) const;

    // The file grew to `newSize`: the index goes on from its last line.
    void Grow(uint64_t newSize);

  private:
    // The first CR or LF in [from, to), or SIZE_MAX.
    uint64_t FindLineEnd(const uint8_t* data, size_t from, size_t to) const;
    uint64_t FindUnit(const uint8_t* data, size_t from, size_t to, uint8_t value) const;
    bool UnitIs(const uint8_t* data, size_t at, uint8_t value) const;
    bool LittleEndianUnits() const;
    // Bytes of the line end at `at` (LF, CR LF or CR) in data of `size` bytes; 0 for a CR at
    // the end of the data when more may follow.
    size_t LineEndSize(const uint8_t* data, size_t at, size_t size, bool atEof) const;
    int64_t LineIndex(uint64_t offset) const;  // LineNumberAt with the lock held
    // Splits a buffer read at `bufferOffset` (a line start) into lines; returns the offset of the
    // first line not complete in the buffer.
    uint64_t ScanLines(const uint8_t* data, size_t size, uint64_t bufferOffset, bool atEof,
                       std::vector<uint16_t>& lengths) const;
    // Where a piece of a line in data of `size` bytes ends at `end` or just before, so that no
    // character is cut.
    size_t CharBoundary(const uint8_t* data, size_t begin, size_t end, size_t size) const;
    void IndexFrom(uint64_t start);
    void StartIndexer();
    void StopIndexer();
    void Append(const std::vector<uint16_t>& lengths);

    std::shared_ptr<const TTextSource> source_;
    TEncodingChoice encoding_;
    int unit_ = 1;
    std::atomic<uint64_t> size_{0};

    // Index: the length of every complete line (at most MaxLine + 8, so 15 bits; the top bit
    // marks a piece of a longer line) and the start of every 64th line, with the pieces before
    // it.
    static constexpr uint16_t kContinues = 0x8000;
    static constexpr uint16_t kLengthMask = 0x7FFF;
    mutable std::mutex mutex_;
    // A deque: growing it never moves what is there, so readers never wait for a copy.
    std::deque<uint16_t> lengths_;
    std::vector<uint64_t> checkpoints_;
    std::vector<uint64_t> splitCheckpoints_;
    uint64_t splitsTotal_ = 0;
    uint64_t lastStart_ = 0;  // start of the line after the last complete one
    std::atomic<uint64_t> indexedEnd_{0};
    std::atomic<bool> indexComplete_{false};
    std::atomic<bool> cancel_{false};
    std::thread indexer_;
};
