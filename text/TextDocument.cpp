#include "text/TextDocument.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kIndexChunk = 4 << 20;

}  // namespace

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
    return LittleEndian(encoding_.encoding);
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

size_t TTextDocument::CharBoundary(const uint8_t* data, size_t begin, size_t end,
                                   size_t size) const {
    if (unit_ == 1 && encoding_.encoding == TTextEncoding::Utf8) {
        if (end >= size && end > begin + 1) {
            // Nothing is known past the data: a character whose lead byte asks for more bytes
            // than are left before `end` goes whole to the next piece.
            size_t lead = end - 1;
            for (int k = 0; k < 3 && lead > begin + 1 && (data[lead] & 0xC0) == 0x80; ++k)
                --lead;
            const uint8_t c = data[lead];
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return lead + length > end ? lead : end;
        }
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
            const size_t cut = CharBoundary(data, pos, pos + MaxLine, size);
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
        const size_t cut = CharBoundary(buffer, 0, MaxLine, n);
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

bool TTextDocument::TargetLineStart(const TLineTarget& target, uint64_t& start) const {
    if (target.percent) {
        const uint64_t text = Size() - std::min(Size(), TextStart());
        const uint64_t share = text / 100 * target.value + text % 100 * target.value / 100;
        start = LineStartAt(TextStart() + share);
        return true;
    }
    // The file's own lines, as the gutter and the status line count them: the first piece of a
    // line broken at MaxLine.
    uint64_t line = target.value > 0 ? target.value - 1 : 0;
    const bool complete = IndexComplete();  // read before the index, which may grow meanwhile
    std::lock_guard lock(mutex_);
    const uint64_t known = lengths_.size() - splitsTotal_;  // the file line at lastStart_
    if (line > known && !complete) return false;
    line = std::min(line, known);
    // File line of index line n: n less the pieces before it; it never decreases with n. The
    // last checkpoint before the line, then the first index line that reaches it.
    size_t low = 0, high = checkpoints_.size();
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (mid * 64 - splitCheckpoints_[mid] < line)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == 0) {
        start = lengths_.empty() ? lastStart_ : checkpoints_[0];
        return true;
    }
    const size_t c = low - 1;
    uint64_t n = c * 64, file = n - splitCheckpoints_[c];
    start = checkpoints_[c];
    for (; n < lengths_.size() && file < line; ++n) {
        start += lengths_[n] & kLengthMask;
        if (!(lengths_[n] & kContinues)) ++file;
    }
    return true;
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

bool ParseLineTarget(std::string_view text, TLineTarget& target) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    TLineTarget t;
    t.percent = !text.empty() && text.back() == '%';
    if (t.percent) text.remove_suffix(1);
    if (text.empty() || text.size() > 18) return false;  // 18 digits cannot overflow
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        t.value = t.value * 10 + uint64_t(c - '0');
    }
    if (t.percent && t.value > 100) return false;
    target = t;
    return true;
}
