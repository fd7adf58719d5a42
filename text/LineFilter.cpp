#include "text/LineFilter.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr size_t kCountChunk = 1 << 20;
// Lines found are handed to readers at least this often, and in batches of at most kBatch.
constexpr auto kFlushInterval = std::chrono::milliseconds(20);
constexpr size_t kBatch = 4096;

// The number of `value` bytes in [data, data + size).
uint64_t CountByte(const uint8_t* data, size_t size, uint8_t value) {
    uint64_t count = 0;
    size_t i = 0;
#ifdef __SSE2__
    // Sixteen byte counters at a time, summed before any of them can overflow.
    const __m128i needle = _mm_set1_epi8(char(value));
    while (i + 16 <= size) {
        __m128i counters = _mm_setzero_si128();
        for (int k = 0; k < 255 && i + 16 <= size; ++k, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, needle));
        }
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += uint64_t(_mm_cvtsi128_si64(sums)) +
                 uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; i < size; ++i)
        count += data[i] == value;
    return count;
}

// The number of 16-bit units equal to `value` (as loaded on this machine) in `units` units.
uint64_t CountUnit16(const uint8_t* data, size_t units, uint16_t value) {
    uint64_t count = 0;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi16(short(value));
    const __m128i ones = _mm_set1_epi16(1);
    while (i + 8 <= units) {
        __m128i counters = _mm_setzero_si128();
        for (int k = 0; k < 32767 && i + 8 <= units; ++k, i += 8) {
            const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * i));
            counters = _mm_sub_epi16(counters, _mm_cmpeq_epi16(words, needle));
        }
        alignas(16) int32_t sums[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(counters, ones));
        count += uint64_t(sums[0]) + uint64_t(sums[1]) + uint64_t(sums[2]) + uint64_t(sums[3]);
    }
#endif
    for (; i < units; ++i) {
        uint16_t v;
        std::memcpy(&v, data + 2 * i, 2);
        count += v == value;
    }
    return count;
}

}  // namespace

TLineFilter::TLineFilter(std::shared_ptr<const TTextDocument> document,
                         std::shared_ptr<const TTextSearch> search)
    : document_(std::move(document)), search_(std::move(search)) {
    countedTo_ = lineStart_ = document_->TextStart();
    filteredTo_ = countedTo_;
}

TLineFilter::~TLineFilter() {
    Cancel();
}

void TLineFilter::Start() {
    Cancel();
    cancel_ = false;
    running_ = true;
    worker_ = std::thread([this] {
        Run();
        running_ = false;
    });
}

void TLineFilter::Cancel() {
    cancel_ = true;
    Wait();
}

void TLineFilter::Wait() {
    if (worker_.joinable()) worker_.join();
}

size_t TLineFilter::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

TFilterLine TLineFilter::At(size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= count_) return {};
    return blocks_[index / kBlock][index % kBlock];
}

size_t TLineFilter::LowerBound(uint64_t offset) const {
    std::lock_guard lock(mutex_);
    size_t low = 0, high = count_;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (blocks_[mid / kBlock][mid % kBlock].start < offset)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void TLineFilter::Flush(std::vector<TFilterLine>& batch) {
    if (batch.empty()) return;
    std::lock_guard lock(mutex_);
    for (const TFilterLine& line : batch) {
        if (count_ % kBlock == 0) blocks_.push_back(std::make_unique<TFilterLine[]>(kBlock));
        blocks_[count_ / kBlock][count_ % kBlock] = line;
        ++count_;
    }
    batch.clear();
}

void TLineFilter::Run() {
    if (truncated_) return;
    const uint64_t to = document_->Size();
    const uint64_t from = lineStart_;
    std::vector<TFilterLine> batch;
    batch.reserve(kBatch);
    size_t total = Count();
    auto flushed = std::chrono::steady_clock::now();
    auto onHit = [&](const TSearchHit& hit) {
        if (cancel_) return false;
        // A hit before countedTo_ lies in the line the last pass ended in.
        if (hit.offset > countedTo_) CountTo(hit.offset);
        uint64_t number = line_, start = lineStart_;
        // A hit at the LF of a CR LF is in the line that the pair ends.
        if (lastWasCR_ && hit.offset == countedTo_ && line_ > 0 && UnitAt(hit.offset) == '\n') {
            number = line_ - 1;
            start = previousLineStart_;
        }
        if (int64_t(number) > lastEmitted_) {
            lastEmitted_ = int64_t(number);
            batch.push_back({start, number + 1});
            if (++total >= MaxLines) {
                truncated_ = true;
                return false;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (batch.size() >= kBatch || now - flushed >= kFlushInterval) {
            Flush(batch);
            flushed = now;
        }
        return true;
    };
    auto progress = [&](double share) {
        filteredTo_ = from + uint64_t(share * double(to - from));
        Flush(batch);  // a hit found long before the next one is not held back
        flushed = std::chrono::steady_clock::now();
    };
    search_->Scan(from, to, &cancel_, progress, onHit);
    Flush(batch);
    if (cancel_ || truncated_) return;
    // The rest of the text: the next pass starts in the line this one ended in.
    CountTo(to);
    filteredTo_ = to;
}

void TLineFilter::CountTo(uint64_t to) {
    const size_t u = size_t(document_->Unit());
    while (countedTo_ < to) {
        const size_t want = size_t(std::min<uint64_t>(kCountChunk, to - countedTo_));
        if (buffer_.size() < want) buffer_.resize(want);
        const size_t n = document_->Source().Read(countedTo_, buffer_.data(), want) / u * u;
        if (n == 0) return;  // the file shrank under us
        CountUnits(buffer_.data(), n, countedTo_);
        countedTo_ += n;
    }
}

uint32_t TLineFilter::UnitAt(uint64_t offset) const {
    const size_t u = size_t(document_->Unit());
    uint8_t bytes[4] = {};
    if (document_->Source().Read(offset, bytes, u) < u) return 0;
    const bool little = LittleEndian(document_->Encoding().encoding);
    uint32_t v = 0;
    for (size_t k = 0; k < u; ++k)
        v |= uint32_t(bytes[k]) << (8 * (little ? k : u - 1 - k));
    return v;
}

// LF, CR LF and a lone CR each end a line.
void TLineFilter::CountUnits(const uint8_t* data, size_t size, uint64_t at) {
    const size_t u = size_t(document_->Unit());
    if (u == 1) {
        size_t i = 0;
        if (lastWasCR_ && size > 0 && data[0] == '\n') {
            lineStart_ = at + 1;
            i = 1;
        }
        lastWasCR_ = false;
        if (!std::memchr(data + i, '\r', size - i)) {
            // The usual text: LF alone.
            line_ += CountByte(data + i, size - i, '\n');
            if (const void* last = memrchr(data + i, '\n', size - i))
                lineStart_ = at + uint64_t(static_cast<const uint8_t*>(last) - data) + 1;
            return;
        }
        for (; i < size; ++i)
            CountUnit(data[i], at + i + 1);
        return;
    }
    const bool little = LittleEndian(document_->Encoding().encoding);
    if (u == 2 && std::endian::native == std::endian::little && !lastWasCR_) {
        // UTF-16 with LF alone, counted eight units at a time.
        const uint16_t lf = little ? 0x000A : 0x0A00, cr = little ? 0x000D : 0x0D00;
        const size_t units = size / 2;
        if (CountUnit16(data, units, cr) == 0) {
            line_ += CountUnit16(data, units, lf);
            for (size_t k = units; k-- > 0;) {
                uint16_t v;
                std::memcpy(&v, data + 2 * k, 2);
                if (v == lf) {
                    lineStart_ = at + 2 * k + 2;
                    break;
                }
            }
            return;
        }
    }
    for (size_t i = 0; i + u <= size; i += u) {
        uint32_t v = 0;
        for (size_t k = 0; k < u; ++k)
            v |= uint32_t(data[i + k]) << (8 * (little ? k : u - 1 - k));
        CountUnit(v, at + i + u);
    }
}

void TLineFilter::CountUnit(uint32_t unit, uint64_t next) {
    if (unit == '\r' || (unit == '\n' && !lastWasCR_)) {
        ++line_;
        previousLineStart_ = lineStart_;
    }
    if (unit == '\r' || unit == '\n') lineStart_ = next;
    lastWasCR_ = unit == '\r';
}
