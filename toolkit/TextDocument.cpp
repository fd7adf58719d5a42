#include "toolkit/TextDocument.h"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <fcntl.h>
#include <pcre2.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t kSample = 64 * 1024;
constexpr size_t kBinarySample = 4096;
constexpr size_t kIndexChunk = 4 << 20;
constexpr size_t kSearchChunk = 4 << 20;
// Bytes an expression search reads past its range, so that most matches starting in it are seen
// whole at the first reading.
constexpr size_t kRegexOverlap = 4096;
// uchardet is asked only when the sample has this many non-ASCII bytes: on a handful of accented
// letters its guesses are noise, and Windows-1252 is the better default.
constexpr size_t kGuessMinimum = 32;

bool ValidUtf8(const uint8_t* p, size_t n, bool wholeFile) {
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t min;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) {
            // A character cut by the end of the sample is judged by the bytes it has.
            if (wholeFile) return false;
            for (size_t k = i + 1; k < n; ++k)
                if ((p[k] & 0xC0) != 0x80) return false;
            return true;
        }
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::string GuessCodePage(const uint8_t* p, size_t n) {
    uchardet_t detector = uchardet_new();
    if (!detector) return {};
    std::string name;
    if (uchardet_handle_data(detector, reinterpret_cast<const char*>(p), n) == 0) {
        uchardet_data_end(detector);
        if (const char* charset = uchardet_get_charset(detector)) name = charset;
    }
    uchardet_delete(detector);
    return name;
}

}  // namespace

int UnitSize(TTextEncoding encoding) {
    switch (encoding) {
        case TTextEncoding::Utf16LE:
        case TTextEncoding::Utf16BE:
            return 2;
        case TTextEncoding::Utf32LE:
        case TTextEncoding::Utf32BE:
            return 4;
        default:
            return 1;
    }
}

TEncodingChoice DetectEncoding(const uint8_t* p, size_t size, bool wholeFile) {
    TEncodingChoice c;
    auto starts = [&](std::initializer_list<uint8_t> bom) {
        return size >= bom.size() && std::equal(bom.begin(), bom.end(), p);
    };
    if (starts({0xEF, 0xBB, 0xBF})) return {TTextEncoding::Utf8, 3, {}, false};
    if (starts({0xFF, 0xFE, 0x00, 0x00})) return {TTextEncoding::Utf32LE, 4, {}, false};
    if (starts({0x00, 0x00, 0xFE, 0xFF})) return {TTextEncoding::Utf32BE, 4, {}, false};
    if (starts({0xFF, 0xFE})) return {TTextEncoding::Utf16LE, 2, {}, false};
    if (starts({0xFE, 0xFF})) return {TTextEncoding::Utf16BE, 2, {}, false};

    const size_t n = std::min(size, kSample);
    // UTF-16 without a mark: text in Latin script has a zero in nearly every other byte.
    size_t zeroEven = 0, zeroOdd = 0;
    for (size_t i = 0; i + 1 < n; i += 2) {
        zeroEven += p[i] == 0;
        zeroOdd += p[i + 1] == 0;
    }
    const size_t pairs = n / 2;
    if (pairs >= 2) {
        if (zeroOdd * 10 >= pairs * 3 && zeroEven * 20 <= pairs)
            return {TTextEncoding::Utf16LE, 0, {}, false};
        if (zeroEven * 10 >= pairs * 3 && zeroOdd * 20 <= pairs)
            return {TTextEncoding::Utf16BE, 0, {}, false};
    }
    c.binary = std::memchr(p, 0, std::min(size, kBinarySample)) != nullptr;
    const bool whole = wholeFile && n == size;
    if (ValidUtf8(p, n, whole)) {
        c.encoding = TTextEncoding::Utf8;
        return c;
    }
    c.encoding = TTextEncoding::Windows1252;
    if (c.binary) return c;
    size_t high = 0;
    for (size_t i = 0; i < n; ++i)
        high += p[i] >= 0x80;
    if (high < kGuessMinimum) return c;
    const std::string name = PreferredCodePage(GuessCodePage(p, n), p, n);
    if (name.empty()) return c;
    c.encoding = TTextEncoding::Legacy;
    c.legacyName = name;
    return c;
}

std::string PreferredCodePage(std::string guess, const uint8_t* data, size_t size) {
    for (char& ch : guess)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (guess.empty() || guess == "ASCII" || guess == "UTF-8" || guess == "WINDOWS-1252" ||
        guess == "ISO-8859-1")
        return {};
    // A DOS code page (IBM437, IBM850, CP852, ...) is rarely what a file of today holds: West
    // European prose in Latin-1 or Windows-1252 is often taken for one. Windows-1252 wins
    // whenever it can read every byte (it leaves five of them undefined).
    const bool dos = guess.rfind("IBM", 0) == 0 ||
                     (guess.rfind("CP", 0) == 0 && guess.size() <= 5 && guess.size() > 2 &&
                      std::all_of(guess.begin() + 2, guess.end(),
                                  [](char ch) { return ch >= '0' && ch <= '9'; }));
    if (dos && std::none_of(data, data + size, [](uint8_t b) {
            return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        }))
        return {};
    return guess;
}

// --- Sources -------------------------------------------------------------------------------------

TFileSource::TFileSource(const std::string& nativeName, const std::string& shownName) {
    auto fail = [&](const std::string& reason) {
        throw std::runtime_error("Cannot open file \"" + shownName + "\". " + reason);
    };
    // Non-blocking, so that a pipe nobody writes to cannot hold the window; the type is checked
    // on the descriptor that is read, so the name cannot be swapped in between.
    fd_ = ::open(nativeName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        const int error = errno;
        struct stat st {};
        if (::stat(nativeName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            fail("It is not a regular file");
        fail(std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool regular = S_ISREG(st.st_mode);
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        fail(regular ? std::strerror(error) : "It is not a regular file");
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

TFileSource::~TFileSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t TFileSource::Read(uint64_t offset, void* out, size_t size) const {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd_, static_cast<char*>(out) + done, size - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

uint64_t TFileSource::CurrentSize() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

size_t TMemorySource::Read(uint64_t offset, void* out, size_t size) const {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(size, bytes_.size() - offset);
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

// --- Document ------------------------------------------------------------------------------------

TTextDocument::TTextDocument(std::shared_ptr<const TTextSource> source,
                             const TEncodingChoice& encoding)
    : source_(std::move(source)), encoding_(encoding), unit_(UnitSize(encoding.encoding)) {
    size_ = source_->CurrentSize();
    if (static_cast<uint64_t>(encoding_.bomSize) > size_) encoding_.bomSize = 0;
    lastStart_ = TextStart();
    indexedEnd_ = lastStart_;
    if (size_ <= SyncIndexSize)
        IndexFrom(TextStart());
    else
        StartIndexer();
}

TTextDocument::~TTextDocument() {
    StopIndexer();
}

uint64_t TTextDocument::FindLineEnd(const uint8_t* data, size_t from, size_t to) const {
    const uint64_t lf = FindUnit(data, from, to, '\n');
    const uint64_t cr = FindUnit(data, from, lf == SIZE_MAX ? to : static_cast<size_t>(lf), '\r');
    return std::min(lf, cr);
}

bool TTextDocument::UnitIs(const uint8_t* data, size_t at, uint8_t value) const {
    const size_t u = static_cast<size_t>(unit_);
    const size_t lead = LittleEndianUnits() ? 0 : u - 1;
    for (size_t k = 0; k < u; ++k)
        if (data[at + k] != (k == lead ? value : 0)) return false;
    return true;
}

size_t TTextDocument::LineEndSize(const uint8_t* data, size_t at, size_t size, bool atEof) const {
    const size_t u = static_cast<size_t>(unit_);
    if (!UnitIs(data, at, '\r')) return u;  // LF
    if (at + 2 * u <= size) return UnitIs(data, at + u, '\n') ? 2 * u : u;
    // A CR at the end of the data: CR LF or a lone CR, as the next bytes say.
    return atEof ? u : 0;
}

bool TTextDocument::LittleEndianUnits() const {
    return encoding_.encoding != TTextEncoding::Utf16BE &&
           encoding_.encoding != TTextEncoding::Utf32BE;
}

uint64_t TTextDocument::FindUnit(const uint8_t* data, size_t from, size_t to, uint8_t value) const {
    if (unit_ == 1) {
        if (from >= to) return SIZE_MAX;
        const void* hit = std::memchr(data + from, value, to - from);
        return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - data) : SIZE_MAX;
    }
    const size_t u = static_cast<size_t>(unit_);
    // Where the significant byte sits in a unit.
    const size_t lead = LittleEndianUnits() ? 0 : u - 1;
    size_t at = from;
    while (at + u <= to) {
        const void* hit = std::memchr(data + at + lead, value, to - at - lead);
        if (!hit) return SIZE_MAX;
        const size_t p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data) - lead;
        if ((p - from) % u == 0 && p + u <= to) {
            bool zeros = true;
            for (size_t k = 0; k < u; ++k)
                if (k != lead && data[p + k] != 0) zeros = false;
            if (zeros) return p;
        }
        at = p + u - (p - from) % u;
        if ((p - from) % u == 0) at = p + u;
    }
    return SIZE_MAX;
}

size_t TTextDocument::CharBoundary(const uint8_t* data, size_t begin, size_t end) const {
    if (unit_ == 1 && encoding_.encoding == TTextEncoding::Utf8) {
        size_t cut = end;
        for (int k = 0; k < 3 && cut > begin + 1 && (data[cut] & 0xC0) == 0x80; ++k)
            --cut;
        return cut;
    }
    if (unit_ == 2 && end >= begin + 4) {
        const bool little = encoding_.encoding == TTextEncoding::Utf16LE;
        const uint16_t last = little ? uint16_t(data[end - 2] | data[end - 1] << 8)
                                     : uint16_t(data[end - 2] << 8 | data[end - 1]);
        if (last >= 0xD800 && last <= 0xDBFF) return end - 2;  // keep a surrogate pair whole
    }
    return end;
}

uint64_t TTextDocument::ScanLines(const uint8_t* data, size_t size, uint64_t bufferOffset,
                                  bool atEof, std::vector<uint16_t>& lengths) const {
    size_t pos = 0;
    // The next LF and the next CR at or after pos, each searched once per occurrence, so that
    // the buffer is read twice at most whatever mix of line ends it holds.
    uint64_t nextLf = 0, nextCr = 0;
    bool lfKnown = false, crKnown = false;
    for (;;) {
        const size_t limit = std::min<size_t>(size, pos + MaxLine);
        if (!lfKnown || (nextLf != SIZE_MAX && nextLf < pos)) {
            nextLf = FindUnit(data, pos, size, '\n');
            lfKnown = true;
        }
        if (!crKnown || (nextCr != SIZE_MAX && nextCr < pos)) {
            nextCr = FindUnit(data, pos, size, '\r');
            crKnown = true;
        }
        const uint64_t end = std::min(nextLf, nextCr);
        if (end < limit) {
            const size_t endSize = LineEndSize(data, static_cast<size_t>(end), size, atEof);
            if (endSize == 0) return bufferOffset + pos;  // read on from this line
            lengths.push_back(static_cast<uint16_t>(end + endSize - pos));
            pos = static_cast<size_t>(end) + endSize;
            continue;
        }
        if (pos + MaxLine <= size) {
            // A readable character needs data past the cut; a line this long has no end here.
            const size_t cut = CharBoundary(data, pos, pos + MaxLine);
            lengths.push_back(static_cast<uint16_t>((cut - pos) | kContinues));
            pos = cut;
            continue;
        }
        return bufferOffset + pos;
    }
}

TTextLine TTextDocument::LineAt(uint64_t start) const {
    const uint64_t size = Size();
    TTextLine line{start, start, start, true};
    if (start >= size) {
        line.start = line.contentEnd = line.next = size;
        return line;
    }
    uint8_t buffer[MaxLine + 16];
    size_t want = std::min<uint64_t>(4096, size - start);
    size_t n = source_->Read(start, buffer, want);
    size_t end = FindLineEnd(buffer, 0, std::min<size_t>(n, MaxLine));
    size_t endSize = end == SIZE_MAX ? 0 : LineEndSize(buffer, end, n, start + n >= size);
    if (endSize == 0 && n == want && start + n < size) {
        want = std::min<uint64_t>(MaxLine + 8, size - start);
        n = source_->Read(start, buffer, want);
        end = FindLineEnd(buffer, 0, std::min<size_t>(n, MaxLine));
        endSize = end == SIZE_MAX ? 0 : LineEndSize(buffer, end, n, start + n >= size);
    }
    n -= n % static_cast<size_t>(unit_);
    if (end != SIZE_MAX) {
        if (endSize == 0) endSize = static_cast<size_t>(unit_);  // the file ends in between
        return {start, start + end, start + end + endSize, false};
    }
    if (n >= MaxLine) {
        const size_t cut = CharBoundary(buffer, 0, MaxLine);
        return {start, start + cut, start + cut, false};
    }
    return {start, start + n, start + n, true};
}

uint64_t TTextDocument::LineStartAt(uint64_t offset) const {
    const uint64_t size = Size();
    offset = std::min(offset, size);
    if (offset <= TextStart()) return TextStart();
    const int64_t number = LineNumberAt(offset);
    if (number >= 0) return LineStart(static_cast<uint64_t>(number));
    // Not indexed yet: the byte after the nearest line end before `offset`, then forward.
    const uint64_t u = static_cast<uint64_t>(unit_);
    uint64_t from = offset > MaxLine + 8 ? offset - (MaxLine + 8) : 0;
    from = std::max<uint64_t>(from, TextStart());
    from -= (from - TextStart()) % u;
    // The index may have passed `offset` meanwhile; else its end is a known line start.
    const uint64_t lastIndexed = indexedEnd_.load();
    if (lastIndexed >= offset) {
        const int64_t again = LineNumberAt(offset);
        if (again >= 0) return LineStart(static_cast<uint64_t>(again));
    }
    if (from < lastIndexed) from = std::min(lastIndexed, offset);
    uint8_t buffer[MaxLine + 32];
    // A unit past `offset` tells a CR LF from a lone CR just before it.
    const size_t before = static_cast<size_t>(std::min<uint64_t>(offset - from, MaxLine + 16));
    const size_t n = source_->Read(from, buffer, before + static_cast<size_t>(u));
    const bool atEof = from + n >= size;
    uint64_t candidate = from;
    for (size_t at = 0;;) {
        const size_t end = FindLineEnd(buffer, at, std::min(n, before));
        if (end == SIZE_MAX) break;
        size_t endSize = LineEndSize(buffer, end, n, atEof);
        if (endSize == 0) endSize = static_cast<size_t>(u);
        if (from + end + endSize <= offset) candidate = from + end + endSize;
        at = end + endSize;
    }
    for (int guard = 0; guard < 1 << 16; ++guard) {
        const TTextLine line = LineAt(candidate);
        if (line.last || line.next > offset || line.next <= candidate) break;
        candidate = line.next;
    }
    return candidate;
}

uint64_t TTextDocument::PreviousLineStart(uint64_t start) const {
    if (start <= TextStart()) return TextStart();
    return LineStartAt(start - 1);
}

uint64_t TTextDocument::IndexedLines() const {
    std::lock_guard lock(mutex_);
    return lengths_.size() + 1;
}

uint64_t TTextDocument::LineStart(uint64_t n) const {
    std::lock_guard lock(mutex_);
    if (n >= lengths_.size()) return lastStart_;
    uint64_t s = checkpoints_[n / 64];
    for (uint64_t i = n / 64 * 64; i < n; ++i)
        s += lengths_[i] & kLengthMask;
    return s;
}

int64_t TTextDocument::LineNumberAt(uint64_t offset) const {
    std::lock_guard lock(mutex_);
    return LineIndex(offset);
}

int64_t TTextDocument::FileLineAt(uint64_t offset, bool* continues) const {
    std::lock_guard lock(mutex_);
    const int64_t line = LineIndex(offset);
    if (continues) *continues = false;
    if (line < 0) return -1;
    const size_t n = static_cast<size_t>(line);
    if (continues && n > 0) *continues = (lengths_[n - 1] & kContinues) != 0;
    // Display lines less the pieces of long lines before line n.
    uint64_t pieces = splitsTotal_;
    if (n < lengths_.size()) {
        pieces = splitCheckpoints_[n / 64];
        for (size_t i = n / 64 * 64; i < n; ++i)
            pieces += (lengths_[i] & kContinues) != 0;
    }
    return line - static_cast<int64_t>(pieces);
}

int64_t TTextDocument::LineIndex(uint64_t offset) const {
    if (offset >= lastStart_) {
        if (offset == lastStart_ || indexComplete_) return static_cast<int64_t>(lengths_.size());
        return -1;
    }
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset);
    if (it == checkpoints_.begin()) return 0;
    const size_t c = static_cast<size_t>(it - checkpoints_.begin()) - 1;
    uint64_t s = checkpoints_[c];
    size_t i = c * 64;
    while (i < lengths_.size() && s + (lengths_[i] & kLengthMask) <= offset)
        s += lengths_[i++] & kLengthMask;
    return static_cast<int64_t>(i);
}

void TTextDocument::Append(const std::vector<uint16_t>& lengths) {
    std::lock_guard lock(mutex_);
    for (uint16_t length : lengths) {
        if (lengths_.size() % 64 == 0) {
            checkpoints_.push_back(lastStart_);
            splitCheckpoints_.push_back(splitsTotal_);
        }
        lengths_.push_back(length);
        lastStart_ += length & kLengthMask;
        splitsTotal_ += (length & kContinues) != 0;
    }
    indexedEnd_ = lastStart_;
}

void TTextDocument::IndexFrom(uint64_t start) {
    std::vector<uint8_t> buffer(std::min<uint64_t>(kIndexChunk, std::max<uint64_t>(Size(), 16)));
    std::vector<uint16_t> lengths;
    uint64_t pos = start;
    while (!cancel_) {
        const uint64_t size = Size();
        if (pos >= size) break;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - pos));
        const size_t n = source_->Read(pos, buffer.data(), want);
        if (n == 0) break;  // the file shrank under the index
        lengths.clear();
        const bool atEof = pos + n >= size;
        const uint64_t next = ScanLines(buffer.data(), n, pos, atEof, lengths);
        Append(lengths);
        if (next == pos || atEof) break;
        pos = next;
    }
    if (!cancel_) indexComplete_ = true;
}

void TTextDocument::StartIndexer() {
    cancel_ = false;
    indexComplete_ = false;
    uint64_t from;
    {
        std::lock_guard lock(mutex_);
        from = lastStart_;
    }
    indexer_ = std::thread([this, from] { IndexFrom(from); });
}

void TTextDocument::StopIndexer() {
    cancel_ = true;
    if (indexer_.joinable()) indexer_.join();
    cancel_ = false;
}

void TTextDocument::Grow(uint64_t newSize) {
    if (newSize <= Size()) return;
    StopIndexer();
    size_ = newSize;
    indexComplete_ = false;
    if (newSize - indexedEnd_.load() <= SyncIndexSize) {
        uint64_t from;
        {
            std::lock_guard lock(mutex_);
            from = lastStart_;
        }
        IndexFrom(from);
    } else {
        StartIndexer();
    }
}

// --- Search --------------------------------------------------------------------------------------

namespace {

// Bytes read before a buffer's first possible hit, for look-behind, \b and ^ at its start.
constexpr size_t kMinContext = 64;
constexpr size_t kMaxContext = 64 * 1024;

// The most stack a compiled expression may use on one match (PCRE2's own is 32 KiB, which long
// matches of repeated groups outgrow).
constexpr size_t kJitStack = 8 << 20;
// A match that outgrows it runs again in the interpreter, on at most this much memory.
constexpr size_t kInterpreterHeap = 64 << 20;

enum class TMatchResult { None, Full, Partial };

// Unicode scalar values of UTF-8 text; malformed bytes become U+FFFD each.
std::u32string DecodeUtf8(const std::string& text) {
    std::u32string out;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const uint8_t c = p[i];
        size_t len = 1;
        uint32_t cp = c, min = 0;
        if (c >= 0xF0 && c < 0xF8) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else if (c >= 0xE0 && c < 0xF0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if (c >= 0xC0 && c < 0xE0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if (c >= 0x80) {
            len = 0;
        }
        for (size_t k = 1; k < len; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                len = 0;
                break;
            }
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (len == 0 || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

// The pattern as code units of `unit` bytes (UTF-16 with surrogate pairs, or UTF-32).
std::vector<uint32_t> WideUnits(const std::string& utf8, int unit) {
    std::vector<uint32_t> units;
    for (const char32_t cp : DecodeUtf8(utf8)) {
        if (unit == 2 && cp >= 0x10000) {
            units.push_back(0xD800 + ((cp - 0x10000) >> 10));
            units.push_back(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units.push_back(cp);
        }
    }
    return units;
}

bool LittleEndian(TTextEncoding encoding) {
    return encoding != TTextEncoding::Utf16BE && encoding != TTextEncoding::Utf32BE;
}

// One set of PCRE2 entry points per code unit width.
#define VELKARO_PCRE2_WIDTH(W)                                                              \
    struct TPcre##W {                                                                       \
        using Unit = uint##W##_t;                                                           \
        using Code = pcre2_code_##W;                                                        \
        using Data = pcre2_match_data_##W;                                                  \
        static Code* Compile(const Unit* p, size_t n, uint32_t options, int* error,         \
                             PCRE2_SIZE* at) {                                              \
            /* "^" and "$" at the line ends the document knows: LF, CR LF and CR. */        \
            pcre2_compile_context_##W* context = pcre2_compile_context_create_##W(nullptr); \
            if (context) pcre2_set_newline_##W(context, PCRE2_NEWLINE_ANYCRLF);             \
            Code* code = pcre2_compile_##W(p, n, options, error, at, context);              \
            pcre2_compile_context_free_##W(context);                                        \
            return code;                                                                    \
        }                                                                                   \
        static void Jit(Code* code) {                                                       \
            pcre2_jit_compile_##W(code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);       \
        }                                                                                   \
        static void Free(Code* code) { pcre2_code_free_##W(code); }                         \
        static Data* NewData(const Code* code) {                                            \
            return pcre2_match_data_create_from_pattern_##W(code, nullptr);                 \
        }                                                                                   \
        static void FreeData(Data* data) { pcre2_match_data_free_##W(data); }               \
        static int Match(const Code* code, const Unit* s, size_t n, size_t start,           \
                         uint32_t options, Data* data, pcre2_match_context_##W* context) {  \
            return pcre2_match_##W(code, s, n, start, options, data, context);              \
        }                                                                                   \
        using Context = pcre2_match_context_##W;                                            \
        using Stack = pcre2_jit_stack_##W;                                                  \
        static Context* NewContext() { return pcre2_match_context_create_##W(nullptr); }    \
        static void FreeContext(Context* c) { pcre2_match_context_free_##W(c); }            \
        static Stack* NewStack(size_t max) {                                                \
            return pcre2_jit_stack_create_##W(32 * 1024, max, nullptr);                     \
        }                                                                                   \
        static void FreeStack(Stack* stack) { pcre2_jit_stack_free_##W(stack); }            \
        static void Assign(Context* c, Stack* stack) {                                      \
            pcre2_jit_stack_assign_##W(c, nullptr, stack);                                  \
            pcre2_set_heap_limit_##W(c, kInterpreterHeap >> 10);                            \
        }                                                                                   \
        static const PCRE2_SIZE* Ovector(Data* data) {                                      \
            return pcre2_get_ovector_pointer_##W(data);                                     \
        }                                                                                   \
        static std::string Message(int error) {                                             \
            PCRE2_UCHAR##W text[256];                                                       \
            const int n = pcre2_get_error_message_##W(error, text, 256);                    \
            std::string out;                                                                \
            for (int i = 0; i < n; ++i)                                                     \
                out += static_cast<char>(text[i] < 0x80 ? text[i] : '?');                   \
            return out;                                                                     \
        }                                                                                   \
        static uint32_t MaxLookbehind(const Code* code) {                                   \
            uint32_t v = 0;                                                                 \
            pcre2_pattern_info_##W(code, PCRE2_INFO_MAXLOOKBEHIND, &v);                     \
            return v;                                                                       \
        }                                                                                   \
    };
VELKARO_PCRE2_WIDTH(8)
VELKARO_PCRE2_WIDTH(16)
VELKARO_PCRE2_WIDTH(32)
#undef VELKARO_PCRE2_WIDTH

}  // namespace

// One search's matching state: the match data and the buffer's code units in native order.
class TExpressionRun {
  public:
    virtual ~TExpressionRun() = default;
    // Takes the bytes of a buffer whose start is on the code unit grid.
    virtual void Load(const uint8_t* bytes, size_t size) = 0;
    // The leftmost match from code unit `start`; with `partial`, one that runs into the buffer's
    // end is reported as Partial (its start in `at`). `at` and `end` count code units.
    virtual TMatchResult Match(size_t start, bool partial, size_t& at, size_t& end) = 0;
    // The first character start after `at`.
    virtual size_t NextCharacter(size_t at) const = 0;
};

class TSearchExpression {
  public:
    virtual ~TSearchExpression() = default;
    virtual std::unique_ptr<TExpressionRun> Run() const = 0;
    // Bytes before a buffer that a match may look back on.
    virtual size_t Context() const = 0;
};

namespace {

template <typename P>
class TPcreExpression final : public TSearchExpression {
  public:
    using Unit = typename P::Unit;

    TPcreExpression(typename P::Code* code, bool swap, bool utf)
        : code_(code), swap_(swap), utf_(utf) {
        P::Jit(code_);  // falls back to the interpreter
    }
    ~TPcreExpression() override { P::Free(code_); }

    size_t Context() const override {
        const size_t characters = P::MaxLookbehind(code_) + 1;
        const size_t bytes = characters * (utf_ ? 4 : sizeof(Unit));
        return std::clamp(bytes, kMinContext, kMaxContext);
    }

    class TRun final : public TExpressionRun {
      public:
        explicit TRun(const TPcreExpression& e)
            : e_(e),
              data_(P::NewData(e.code_)),
              context_(P::NewContext()),
              stack_(P::NewStack(kJitStack)) {
            if (context_ && stack_) P::Assign(context_, stack_);
        }
        ~TRun() override {
            if (stack_) P::FreeStack(stack_);
            if (context_) P::FreeContext(context_);
            if (data_) P::FreeData(data_);
        }
        void Load(const uint8_t* bytes, size_t size) override {
            units_ = size / sizeof(Unit);
            static const Unit none = 0;
            if (units_ == 0) {
                subject_ = &none;  // a part of a code unit at the end: nothing to match
                return;
            }
            const bool aligned = reinterpret_cast<uintptr_t>(bytes) % alignof(Unit) == 0;
            if (!e_.swap_ && aligned) {
                subject_ = reinterpret_cast<const Unit*>(bytes);
                return;
            }
            scratch_.resize(units_);
            std::memcpy(scratch_.data(), bytes, units_ * sizeof(Unit));
            if (e_.swap_)
                for (Unit& v : scratch_)
                    v = Swap(v);
            subject_ = scratch_.data();
        }
        TMatchResult Match(size_t start, bool partial, size_t& at, size_t& end) override {
            if (!data_ || start > units_) return TMatchResult::None;
            const uint32_t options = partial ? PCRE2_PARTIAL_HARD : 0;
            int rc = P::Match(e_.code_, subject_, units_, start, options, data_, context_);
            if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
                rc = P::Match(e_.code_, subject_, units_, start, options | PCRE2_NO_JIT, data_,
                              context_);
            if (rc != PCRE2_ERROR_PARTIAL && rc <= 0) return TMatchResult::None;
            const PCRE2_SIZE* v = P::Ovector(data_);
            at = v[0];
            end = std::max(v[0], v[1]);
            if (at < start || end > units_) return TMatchResult::None;
            return rc == PCRE2_ERROR_PARTIAL ? TMatchResult::Partial : TMatchResult::Full;
        }
        size_t NextCharacter(size_t at) const override {
            ++at;
            if (!e_.utf_) return at;
            // Past UTF-8 continuation bytes or the low half of a surrogate pair.
            while (at < units_ && (sizeof(Unit) == 1   ? (subject_[at] & 0xC0) == 0x80
                                   : sizeof(Unit) == 2 ? (subject_[at] & 0xFC00) == 0xDC00
                                                       : false))
                ++at;
            return at;
        }

      private:
        static Unit Swap(Unit v) {
            if constexpr (sizeof(Unit) == 2) return static_cast<Unit>(__builtin_bswap16(v));
            if constexpr (sizeof(Unit) == 4) return static_cast<Unit>(__builtin_bswap32(v));
            return v;
        }
        const TPcreExpression& e_;
        typename P::Data* data_;
        typename P::Context* context_;
        typename P::Stack* stack_;
        const Unit* subject_ = nullptr;
        size_t units_ = 0;
        std::vector<Unit> scratch_;
    };

    std::unique_ptr<TExpressionRun> Run() const override { return std::make_unique<TRun>(*this); }

  private:
    typename P::Code* code_;
    bool swap_;  // the document's code units are in the other byte order
    bool utf_;
};

// Compiles `units` (the pattern in code units of P) or sets `error`.
template <typename P>
std::unique_ptr<const TSearchExpression> CompileExpression(const std::vector<uint32_t>& units,
                                                           uint32_t options, bool swap, bool utf,
                                                           std::string& error) {
    std::vector<typename P::Unit> pattern(units.begin(), units.end());
    int code = 0;
    PCRE2_SIZE where = 0;
    typename P::Code* compiled = P::Compile(pattern.data(), pattern.size(), options, &code, &where);
    if (!compiled) {
        error = P::Message(code) + " at " + std::to_string(where);
        return nullptr;
    }
    return std::make_unique<TPcreExpression<P>>(compiled, swap, utf);
}

}  // namespace

TTextSearch::TTextSearch(std::shared_ptr<const TTextDocument> document, const TSearchQuery& query)
    : document_(std::move(document)), query_(query) {
    if (query_.pattern.empty()) {
        error_ = "Nothing to find";
        return;
    }
    const int unit = document_->Unit();
    const TTextEncoding encoding = document_->Encoding().encoding;
    // Wide documents are searched in their own code units: the pattern is converted from UTF-8.
    std::vector<uint32_t> units;
    if (unit > 1)
        units = WideUnits(query_.pattern, unit);
    else
        units.assign(query_.pattern.begin(), query_.pattern.end());
    for (uint32_t& v : units)
        v &= unit == 1 ? 0xFFu : 0xFFFFFFFFu;
    if (!query_.regex && query_.matchCase) {
        const bool little = LittleEndian(encoding);
        for (const uint32_t v : units)
            for (int k = 0; k < unit; ++k)
                needle_ += static_cast<char>(v >> (8 * (little ? k : unit - 1 - k)));
        return;
    }
    uint32_t options = query_.regex ? PCRE2_MULTILINE : PCRE2_LITERAL;
    if (!query_.matchCase) options |= PCRE2_CASELESS;
    const bool utf = unit > 1 || encoding == TTextEncoding::Utf8;
    if (utf) {
        options |= PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
        if (query_.regex) options |= PCRE2_UCP;
    }
    const bool swap =
        unit > 1 && LittleEndian(encoding) != (std::endian::native == std::endian::little);
    if (unit == 1)
        expression_ = CompileExpression<TPcre8>(units, options, false, utf, error_);
    else if (unit == 2)
        expression_ = CompileExpression<TPcre16>(units, options, swap, utf, error_);
    else
        expression_ = CompileExpression<TPcre32>(units, options, swap, utf, error_);
}

TTextSearch::~TTextSearch() {
    Cancel();
}

bool TTextSearch::IsWordAt(const uint8_t* data, size_t size, size_t at, size_t length) const {
    const size_t u = static_cast<size_t>(document_->Unit());
    const bool little = LittleEndian(document_->Encoding().encoding);
    auto wordUnit = [&](size_t p) {
        uint32_t v = 0;
        for (size_t k = 0; k < u; ++k)
            v |= uint32_t(data[p + k]) << (8 * (little ? k : u - 1 - k));
        return v >= 0x80 || std::isalnum(static_cast<int>(v)) || v == '_';
    };
    if (at >= u && wordUnit(at - u)) return false;
    if (at + length + u <= size && wordUnit(at + length)) return false;
    return true;
}

// Hits count on the code unit grid that starts after the byte-order mark.
bool TTextSearch::Scan(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                       const std::function<void(double)>& progress,
                       const std::function<bool(const TSearchHit&)>& onHit,
                       uint64_t maxMatch) const {
    if (!error_.empty()) return false;
    const uint64_t u = static_cast<uint64_t>(document_->Unit());
    const uint64_t textStart = document_->TextStart();
    from = std::max(from, textStart);
    from += (u - (from - textStart) % u) % u;
    if (from >= to) return false;
    return expression_ ? ScanExpression(from, to, cancel, progress, onHit, maxMatch)
                       : ScanLiteral(from, to, cancel, progress, onHit);
}

// Chunks overlap by the needle's length; a hit counts in the chunk it starts in.
bool TTextSearch::ScanLiteral(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                              const std::function<void(double)>& progress,
                              const std::function<bool(const TSearchHit&)>& onHit) const {
    const std::string& p = needle_;
    const size_t overlap = p.size();
    const uint64_t begin = from;
    std::vector<uint8_t> buffer(
        static_cast<size_t>(std::min<uint64_t>(kSearchChunk, to - from) + overlap));
    const uint64_t size = document_->Size();
    const size_t u = static_cast<size_t>(document_->Unit());
    uint64_t resume = from;
    while (from < to && from < size) {
        if (cancel && *cancel) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - from));
        const size_t n = document_->Source().Read(from, buffer.data(), want);
        if (n == 0) return false;
        uint64_t limit = n > overlap && from + n < size ? n - overlap : n;
        limit = std::min<uint64_t>(limit, to - from);
        limit -= limit % u;
        if (limit == 0) limit = std::min<uint64_t>(n, to - from);
        // Past a hit that ran into this chunk: hits do not overlap.
        size_t start =
            static_cast<size_t>(resume > from ? std::min<uint64_t>(resume - from, limit) : 0);
        while (start < limit) {
            const void* found = memmem(buffer.data() + start, n - start, p.data(), p.size());
            if (!found) break;
            const size_t at =
                static_cast<size_t>(static_cast<const uint8_t*>(found) - buffer.data());
            if (at >= limit) break;
            if (at % u != 0) {
                start = at + 1;
                continue;
            }
            if (!query_.wholeWords || IsWordAt(buffer.data(), n, at, p.size()))
                if (!onHit({from + at, p.size()})) return true;
            start = at + std::max(p.size(), u);
            start += (u - start % u) % u;
            resume = from + start;
        }
        from += limit;
        if (progress) progress(double(from - begin) / double(std::max<uint64_t>(to - begin, 1)));
    }
    return false;
}

// Each buffer holds some context before its first possible hit and reaches a little past `to`.
// A match that runs into the buffer's end (a partial match) is read again from its start, in a
// buffer twice as long each time it still does not fit, up to `maxMatch`; beyond it the match is
// cut at the buffer's end.
bool TTextSearch::ScanExpression(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                                 const std::function<void(double)>& progress,
                                 const std::function<bool(const TSearchHit&)>& onHit,
                                 uint64_t maxMatch) const {
    const uint64_t u = static_cast<uint64_t>(document_->Unit());
    const uint64_t base = document_->TextStart();
    const uint64_t maxContext = expression_->Context() / u * u;
    const std::unique_ptr<TExpressionRun> run = expression_->Run();
    std::vector<uint8_t> buffer;
    const uint64_t begin = from;
    uint64_t pos = from;  // the first offset a hit may start at
    uint64_t window = 0;  // bytes read from `pos` on; 0 for the usual size
    while (pos < to) {
        if (cancel && *cancel) return false;
        const uint64_t size = document_->Size();
        if (pos >= size) return false;
        if (window == 0)
            window = std::min<uint64_t>(to - pos, kSearchChunk - kRegexOverlap) + kRegexOverlap;
        const uint64_t context = std::min(maxContext, pos - base);
        const uint64_t start = pos - context;
        uint64_t want = std::min(context + window, size - start);
        if (start + want < size) want -= want % u;  // the next buffer starts on the grid
        buffer.resize(static_cast<size_t>(want));
        const size_t n = document_->Source().Read(start, buffer.data(), buffer.size());
        if (n <= context) return false;
        const uint64_t end = start + n;
        const bool more = n == want && end < size;  // a short read: the file shrank
        run->Load(buffer.data(), n);
        bool partial = more;
        // Without partial matching (a match longer than `maxMatch`), hits from here on are left to
        // the next buffer, where the text after them is seen.
        uint64_t cutoff = to;
        size_t s = static_cast<size_t>(context / u);
        const uint64_t bufferPos = pos;
        bool again = false;  // read again from `pos` with `window`
        while (!again) {
            size_t at = 0, stop = 0;
            const TMatchResult result = run->Match(s, partial, at, stop);
            if (result == TMatchResult::None) {
                if (!more) return false;
                pos = partial ? end : std::max(cutoff, start + s * u);
                window = 0;
                break;
            }
            const uint64_t hitStart = start + at * u;
            if (hitStart >= to) return false;
            if (result == TMatchResult::Partial) {
                if (hitStart > bufferPos) {
                    pos = hitStart;
                } else if (window < maxMatch) {
                    window = std::min<uint64_t>(window * 2, maxMatch);
                } else {
                    partial = false;
                    cutoff = std::max(bufferPos + u, end - std::min(end, window / 4));
                    continue;
                }
                again = true;
                continue;
            }
            if (!partial && more && hitStart >= cutoff) {
                pos = hitStart;
                window = 0;
                break;
            }
            const uint64_t length = (stop - at) * u;
            if (!query_.wholeWords || IsWordAt(buffer.data(), n, at * u, length))
                if (!onHit({hitStart, length})) return true;
            s = stop > at ? stop : run->NextCharacter(at);
            if (start + s * u >= to) return false;
        }
        if (progress)
            progress(double(std::min(pos, to) - begin) / double(std::max<uint64_t>(to - begin, 1)));
    }
    return false;
}

bool TTextSearch::FindFirst(uint64_t from, uint64_t to, TSearchHit& hit,
                            const std::atomic<bool>* cancel,
                            const std::function<void(double)>& progress) const {
    return Scan(from, to, cancel, progress, [&](const TSearchHit& h) {
        hit = h;
        return false;
    });
}

std::vector<TSearchHit> TTextSearch::FindAll(uint64_t from, uint64_t to, size_t limit,
                                             uint64_t maxMatch) const {
    std::vector<TSearchHit> hits;
    if (limit == 0) return hits;
    Scan(
        from, to, nullptr, {},
        [&](const TSearchHit& h) {
            hits.push_back(h);
            return hits.size() < limit;
        },
        maxMatch);
    return hits;
}

void TTextSearch::Start(uint64_t from, bool forward, std::function<void(bool, TSearchHit)> done,
                        std::function<void(double)> progress) {
    Cancel();
    cancel_ = false;
    worker_ =
        std::thread([this, from, forward, done = std::move(done), progress = std::move(progress)] {
            TSearchHit hit;
            bool found = false;
            const uint64_t size = document_->Size();
            const uint64_t textStart = document_->TextStart();
            if (forward) {
                found = FindFirst(from, size, hit, &cancel_, progress);
            } else {
                // Backwards a chunk at a time; the last hit in the nearest chunk wins.
                uint64_t end = std::min(from, size);
                while (!found && end > textStart && !cancel_) {
                    uint64_t begin =
                        end > textStart + kSearchChunk ? end - kSearchChunk : textStart;
                    begin -= (begin - textStart) % static_cast<uint64_t>(document_->Unit());
                    Scan(begin, end, &cancel_, {}, [&](const TSearchHit& h) {
                        hit = h;
                        found = true;
                        return true;
                    });
                    if (progress && size) progress(double(size - begin) / double(size));
                    end = begin;
                }
            }
            if (cancel_) found = false;
            done(found, hit);
        });
}

void TTextSearch::Cancel() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void TTextSearch::Wait() {
    if (worker_.joinable()) worker_.join();
}
