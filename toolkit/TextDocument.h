#pragma once
// TTextDocument: a text file of any size read in pieces on demand, with its encoding, its lines
// indexed by a background thread and a search that runs off the caller's thread. Free of Qt, so
// that the text view, the benchmarks and the fuzzer share one engine.
//
// Lines end at LF, CR LF or CR, in any mix. A line longer than MaxLine bytes is broken there (on
// a character boundary), so that every line the view lays out is bounded whatever the file
// holds; the pieces are lines of the index, while FileLineAt counts the file's own lines.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class TTextEncoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE, Windows1252, Legacy };

struct TEncodingChoice {
    TTextEncoding encoding = TTextEncoding::Utf8;
    int bomSize = 0;         // bytes of the byte-order mark the text starts after
    std::string legacyName;  // the code page's name for Legacy (as uchardet names it)
    bool binary = false;     // NUL bytes that no wide encoding explains
};

// Bytes per code unit of an encoding (1, 2 or 4).
int UnitSize(TTextEncoding encoding);

// The encoding of a file from its first bytes: a byte-order mark; else UTF-16 recognised by its
// zero bytes; else valid UTF-8 (a character cut at the end of the sample counts as valid unless
// the sample is the whole file); else the code page uchardet guesses from enough non-ASCII bytes;
// else Windows-1252. `binary` is set for NUL bytes in the first 4 KiB of a file that is not UTF-16
// or UTF-32.
TEncodingChoice DetectEncoding(const uint8_t* data, size_t size, bool wholeFile);

// The code page to read bytes in from the detector's guess: empty for Windows-1252 (the guess
// names it, Latin-1 or plain ASCII, or a DOS code page where Windows-1252 reads every byte just
// as well), else the guess in upper case.
std::string PreferredCodePage(std::string guess, const uint8_t* data, size_t size);

// Where the bytes come from: an open regular file read with pread, or bytes held in memory.
class TTextSource {
  public:
    virtual ~TTextSource() = default;
    // Copies up to `size` bytes at `offset` (fewer at the end); thread-safe.
    virtual size_t Read(uint64_t offset, void* out, size_t size) const = 0;
    // The current size (a file may grow or shrink while shown).
    virtual uint64_t CurrentSize() const = 0;
};

class TFileSource : public TTextSource {
  public:
    // Opens a regular file without waiting on it. Throws std::runtime_error with "Cannot open
    // file \"shown\". reason" (a pipe, device or socket: "It is not a regular file").
    TFileSource(const std::string& nativeName, const std::string& shownName);
    ~TFileSource() override;
    size_t Read(uint64_t offset, void* out, size_t size) const override;
    uint64_t CurrentSize() const override;
    // Device and inode of the open file, to tell a replaced file from a grown one.
    uint64_t Device() const { return device_; }
    uint64_t Inode() const { return inode_; }

  private:
    int fd_ = -1;
    uint64_t device_ = 0, inode_ = 0;
};

class TMemorySource : public TTextSource {
  public:
    explicit TMemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    size_t Read(uint64_t offset, void* out, size_t size) const override;
    uint64_t CurrentSize() const override { return bytes_.size(); }

  private:
    std::string bytes_;
};

struct TTextLine {
    uint64_t start = 0;
    uint64_t contentEnd = 0;  // before the line end
    uint64_t next = 0;        // the next line's start
    bool last = false;        // the document's last line
};

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
    size_t CharBoundary(const uint8_t* data, size_t begin, size_t end) const;
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
    std::vector<uint16_t> lengths_;
    std::vector<uint64_t> checkpoints_;
    std::vector<uint64_t> splitCheckpoints_;
    uint64_t splitsTotal_ = 0;
    uint64_t lastStart_ = 0;  // start of the line after the last complete one
    std::atomic<uint64_t> indexedEnd_{0};
    std::atomic<bool> indexComplete_{false};
    std::atomic<bool> cancel_{false};
    std::thread indexer_;
};

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
