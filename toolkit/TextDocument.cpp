#include "toolkit/TextDocument.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <fcntl.h>
#include <pcre2.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t kSample = 64 * 1024;
constexpr size_t kBinarySample = 4096;
constexpr size_t kIndexChunk = 4 << 20;
constexpr size_t kSearchChunk = 4 << 20;
// Bytes a match may reach past a chunk without being missed (the expression overlap).
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
    std::string name = GuessCodePage(p, n);
    for (char& ch : name)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (name.empty() || name == "ASCII" || name == "UTF-8" || name == "WINDOWS-1252" ||
        name == "ISO-8859-1")
        return c;
    c.encoding = TTextEncoding::Legacy;
    c.legacyName = name;
    return c;
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
    // A file with CR but no LF in its first part ends its lines with CR.
    std::vector<uint8_t> sample(kSample);
    const size_t n = source_->Read(TextStart(), sample.data(), sample.size());
    newline_ = '\n';
    if (FindLineEnd(sample.data(), 0, n) == SIZE_MAX) {
        newline_ = '\r';
        if (FindLineEnd(sample.data(), 0, n) == SIZE_MAX) newline_ = '\n';
    }
    if (size_ <= SyncIndexSize)
        IndexFrom(TextStart());
    else
        StartIndexer();
}

TTextDocument::~TTextDocument() {
    StopIndexer();
}

uint64_t TTextDocument::FindLineEnd(const uint8_t* data, size_t from, size_t to) const {
    if (unit_ == 1) {
        if (from >= to) return SIZE_MAX;
        const void* hit = std::memchr(data + from, newline_, to - from);
        return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - data) : SIZE_MAX;
    }
    const bool little = encoding_.encoding == TTextEncoding::Utf16LE ||
                        encoding_.encoding == TTextEncoding::Utf32LE;
    const size_t u = static_cast<size_t>(unit_);
    const size_t lead = little ? 0 : u - 1;  // where the significant byte sits in a unit
    size_t at = from;
    while (at + u <= to) {
        const void* hit = std::memchr(data + at + lead, newline_, to - at - lead);
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
    for (;;) {
        const size_t limit = std::min<size_t>(size, pos + MaxLine);
        const size_t end = FindLineEnd(data, pos, limit);
        if (end != SIZE_MAX) {
            lengths.push_back(static_cast<uint16_t>(end + unit_ - pos));
            pos = end + unit_;
            continue;
        }
        if (pos + MaxLine <= size) {
            // A readable character needs data past the cut; a line this long has no end here.
            const size_t cut = CharBoundary(data, pos, pos + MaxLine);
            lengths.push_back(static_cast<uint16_t>(cut - pos));
            pos = cut;
            continue;
        }
        (void)atEof;
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
    uint8_t buffer[MaxLine + 8];
    size_t want = std::min<uint64_t>(4096, size - start);
    size_t n = source_->Read(start, buffer, want);
    size_t end = FindLineEnd(buffer, 0, std::min<size_t>(n, MaxLine));
    if (end == SIZE_MAX && n == want && start + n < size) {
        want = std::min<uint64_t>(MaxLine + 4, size - start);
        n = source_->Read(start, buffer, want);
        end = FindLineEnd(buffer, 0, std::min<size_t>(n, MaxLine));
    }
    n -= n % static_cast<size_t>(unit_);
    if (end != SIZE_MAX) {
        size_t content = end;
        if (newline_ == '\n' && end >= static_cast<size_t>(unit_)) {
            // CR LF: the CR belongs to the line end.
            const bool little = encoding_.encoding != TTextEncoding::Utf16BE &&
                                encoding_.encoding != TTextEncoding::Utf32BE;
            const size_t u = static_cast<size_t>(unit_);
            const size_t c = end - u;
            bool cr = buffer[c + (little ? 0 : u - 1)] == '\r';
            for (size_t k = 0; k < u && cr; ++k)
                if (k != (little ? 0 : u - 1) && buffer[c + k] != 0) cr = false;
            if (cr) content = c;
        }
        return {start, start + content, start + end + unit_, false};
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
    uint8_t buffer[MaxLine + 16];
    const size_t n = source_->Read(
        from, buffer, static_cast<size_t>(std::min<uint64_t>(offset - from, sizeof buffer)));
    uint64_t candidate = from;
    for (size_t at = 0;;) {
        const size_t end = FindLineEnd(buffer, at, n);
        if (end == SIZE_MAX) break;
        candidate = from + end + u;
        at = end + static_cast<size_t>(u);
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
        s += lengths_[i];
    return s;
}

int64_t TTextDocument::LineNumberAt(uint64_t offset) const {
    std::lock_guard lock(mutex_);
    if (offset >= lastStart_) {
        if (offset == lastStart_ || indexComplete_) return static_cast<int64_t>(lengths_.size());
        return -1;
    }
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset);
    if (it == checkpoints_.begin()) return 0;
    const size_t c = static_cast<size_t>(it - checkpoints_.begin()) - 1;
    uint64_t s = checkpoints_[c];
    size_t i = c * 64;
    while (i < lengths_.size() && s + lengths_[i] <= offset)
        s += lengths_[i++];
    return static_cast<int64_t>(i);
}

void TTextDocument::Append(const std::vector<uint16_t>& lengths) {
    std::lock_guard lock(mutex_);
    for (uint16_t length : lengths) {
        if (lengths_.size() % 64 == 0) checkpoints_.push_back(lastStart_);
        lengths_.push_back(length);
        lastStart_ += length;
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

TTextSearch::TTextSearch(std::shared_ptr<const TTextDocument> document, const TSearchQuery& query)
    : document_(std::move(document)), query_(query) {
    if (query_.pattern.empty()) {
        error_ = "Nothing to find";
        return;
    }
    const bool wide = document_->Unit() > 1;
    literal_ = !query_.regex && query_.matchCase;
    if (literal_) return;
    if (wide) {
        error_ = "Case-insensitive and expression search need an 8-bit or UTF-8 text";
        return;
    }
    uint32_t options = query_.regex ? PCRE2_MULTILINE : PCRE2_LITERAL;
    if (!query_.matchCase) options |= PCRE2_CASELESS;
    if (document_->Encoding().encoding == TTextEncoding::Utf8) {
        options |= PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
        if (query_.regex) options |= PCRE2_UCP;
    }
    int code = 0;
    PCRE2_SIZE where = 0;
    pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(query_.pattern.data()),
                                         query_.pattern.size(), options, &code, &where, nullptr);
    if (!compiled) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(code, message, sizeof message);
        error_ =
            std::string(reinterpret_cast<const char*>(message)) + " at " + std::to_string(where);
        return;
    }
    pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);  // falls back to the interpreter
    code_ = compiled;
}

TTextSearch::~TTextSearch() {
    Cancel();
    if (code_) pcre2_code_free(static_cast<pcre2_code*>(code_));
}

bool TTextSearch::IsWordAt(const uint8_t* data, size_t size, size_t at, size_t length) const {
    const size_t u = static_cast<size_t>(document_->Unit());
    const bool little = document_->Encoding().encoding != TTextEncoding::Utf16BE &&
                        document_->Encoding().encoding != TTextEncoding::Utf32BE;
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

bool TTextSearch::MatchIn(const uint8_t* data, size_t size, size_t from, size_t& at, size_t& length,
                          void* match) const {
    const size_t u = static_cast<size_t>(document_->Unit());
    if (literal_) {
        const std::string& p = query_.pattern;
        while (from < size) {
            const void* hit = memmem(data + from, size - from, p.data(), p.size());
            if (!hit) return false;
            at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
            length = p.size();
            if (at % u == 0) return true;
            from = at + 1;
        }
        return false;
    }
    if (!code_ || !match) return false;
    auto* data8 = static_cast<pcre2_match_data*>(match);
    const int rc =
        pcre2_match(static_cast<pcre2_code*>(code_), data, size, from, 0, data8, nullptr);
    if (rc <= 0) return false;
    const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data8);
    at = v[0];
    length = v[1] > v[0] ? v[1] - v[0] : 0;
    return true;
}

// Chunks overlap by what a hit may span; a hit counts in the chunk it starts in.
bool TTextSearch::Scan(uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                       const std::function<void(double)>& progress,
                       const std::function<bool(const TSearchHit&)>& onHit) const {
    if (!error_.empty() || from >= to) return false;
    const size_t overlap = literal_ ? query_.pattern.size() : kRegexOverlap;
    const uint64_t begin = from;
    std::vector<uint8_t> buffer(
        static_cast<size_t>(std::min<uint64_t>(kSearchChunk, to - from) + overlap));
    struct TMatch {
        pcre2_match_data* data;
        ~TMatch() {
            if (data) pcre2_match_data_free(data);
        }
    } match{code_ ? pcre2_match_data_create_from_pattern(static_cast<pcre2_code*>(code_), nullptr)
                  : nullptr};
    const uint64_t size = document_->Size();
    const size_t u = static_cast<size_t>(document_->Unit());
    while (from < to && from < size) {
        if (cancel && *cancel) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - from));
        const size_t n = document_->Source().Read(from, buffer.data(), want);
        if (n == 0) return false;
        uint64_t limit = n > overlap && from + n < size ? n - overlap : n;
        limit = std::min<uint64_t>(limit, to - from);
        limit -= limit % u;
        if (limit == 0) limit = std::min<uint64_t>(n, to - from);
        size_t at = 0, length = 0, start = 0;
        while (start < limit && MatchIn(buffer.data(), n, start, at, length, match.data) &&
               at < limit) {
            if (!query_.wholeWords || IsWordAt(buffer.data(), n, at, length))
                if (!onHit({from + at, length})) return true;
            start = at + std::max<size_t>(length, u);
            start += (u - start % u) % u;
        }
        from += limit;
        if (progress) progress(double(from - begin) / double(std::max<uint64_t>(to - begin, 1)));
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

std::vector<TSearchHit> TTextSearch::FindAll(uint64_t from, uint64_t to, size_t limit) const {
    std::vector<TSearchHit> hits;
    if (limit == 0) return hits;
    Scan(from, to, nullptr, {}, [&](const TSearchHit& h) {
        hits.push_back(h);
        return hits.size() < limit;
    });
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
