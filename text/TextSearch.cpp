#include "text/TextSearch.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "text/SearchExpression.h"

namespace {

constexpr size_t kSearchChunk = 4 << 20;
// Bytes an expression search reads past its range, so that most matches starting in it are seen
// whole at the first reading.
constexpr size_t kRegexOverlap = 4096;

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

// How common a byte is in text and logs, roughly: the rarest byte of a literal is looked for
// first, with memchr, which runs several times faster than memmem over text where it is rare.
int ByteRank(uint8_t b) {
    static const char kLetters[] = "etaoinsrhldcumfpgwybvkxjqz";  // the most common first
    if (b == 0 || b == ' ' || b == '\n' || b == '\t') return 100;
    if (const char* at = std::strchr(kLetters, std::tolower(b)); at)
        return 90 - int(at - kLetters) - (std::isupper(b) ? 20 : 0);
    if (b >= '0' && b <= '9') return 80;
    if (b < 0x20) return 5;
    if (b >= 0x80) return 40;
    return 50;  // punctuation
}

// The position of the rarest byte of `needle`.
size_t RareByte(const std::string& needle) {
    size_t best = 0;
    for (size_t i = 1; i < needle.size(); ++i)
        if (ByteRank(uint8_t(needle[i])) < ByteRank(uint8_t(needle[best]))) best = i;
    return best;
}

// The first occurrence of `needle` in [data, data + size), as memmem finds it: candidates at the
// needle's rare byte, and memmem for the rest of the data when that byte turns out common there.
const uint8_t* FindLiteral(const uint8_t* data, size_t size, const std::string& needle,
                           size_t rare) {
    const size_t m = needle.size();
    if (m == 0 || size < m) return nullptr;
    const auto c = uint8_t(needle[rare]);
    const uint8_t* q = data + rare;
    const uint8_t* const end = data + size - m + rare + 1;  // past the last place for the byte
    size_t misses = 0;
    while (q < end) {
        q = static_cast<const uint8_t*>(std::memchr(q, c, size_t(end - q)));
        if (!q) return nullptr;
        if (std::memcmp(q - rare, needle.data(), m) == 0) return q - rare;
        ++q;
        if (++misses > 4096 && misses > size_t(q - data) / 64) {
            const uint8_t* from = q - rare;
            return static_cast<const uint8_t*>(
                memmem(from, size_t(data + size - from), needle.data(), m));
        }
    }
    return nullptr;
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
    expression_ = CompileSearchExpression(units, encoding, query_.regex, query_.matchCase, error_);
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
    const size_t rare = RareByte(p);
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
            const uint8_t* found = FindLiteral(buffer.data() + start, n - start, p, rare);
            if (!found) break;
            const auto at = static_cast<size_t>(found - buffer.data());
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
