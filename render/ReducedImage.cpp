#include "render/ReducedImage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Weights in fixed point: 14 fraction bits keep every weight within 16 bits (the processor
// multiplies 16-bit pairs) and sums of 8-bit samples within 32 bits, negative lobes included.
constexpr int kWeightBits = 14;

// The three-lobe Lanczos window.
double Lanczos3(double x) {
    x = std::abs(x);
    if (x >= 3.0) return 0.0;
    if (x < 1e-9) return 1.0;
    const double px = M_PI * x;
    return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

// The source pixels each output pixel along one side is made of: from its first one on, count
// weights (stride apart, an even number with zeros after the count), summing to
// 1 << kWeightBits.
struct TTaps {
    std::vector<int> first, count;
    std::vector<int16_t> weights;
    int stride = 0;
};

TTaps MakeTaps(int from, int to) {
    const double ratio = double(from) / to;
    const double widen = std::max(1.0, ratio);  // the filter stretched over the source pixels
    const double support = 3.0 * widen;
    TTaps taps;
    taps.stride = (int(std::ceil(support)) + 2) * 2;
    taps.first.resize(size_t(to));
    taps.count.resize(size_t(to));
    taps.weights.assign(size_t(to) * size_t(taps.stride), 0);
    std::vector<double> w(size_t(taps.stride));
    for (int i = 0; i < to; ++i) {
        // Pixel centres at half steps; pixels beyond the edges are left out (the weights of the
        // rest renormalised), so edges keep their brightness.
        const double centre = (i + 0.5) * ratio;
        const int lo = std::max(0, int(std::floor(centre - support)));
        const int hi = std::min(from, int(std::ceil(centre + support)));
        int n = 0;
        double sum = 0;
        for (int j = lo; j < hi && n < taps.stride; ++j, ++n) {
            w[size_t(n)] = Lanczos3((j + 0.5 - centre) / widen);
            sum += w[size_t(n)];
        }
        int16_t* out = taps.weights.data() + size_t(i) * size_t(taps.stride);
        int32_t total = 0;
        int largest = 0;
        for (int k = 0; k < n; ++k) {
            out[k] = int16_t(std::lround(w[size_t(k)] / sum * (1 << kWeightBits)));
            total += out[k];
            if (out[k] > out[largest]) largest = k;
        }
        // Exactly one in sum: flat areas stay flat.
        out[largest] = int16_t(out[largest] + (1 << kWeightBits) - total);
        taps.first[size_t(i)] = lo;
        taps.count[size_t(i)] = n;
    }
    return taps;
}

// Runs work(from, to) over bands of the rows 0..rows, on several threads when each row costs
// about rowCost multiplications and there are enough of them to be worth a thread.
template <typename TWork>
void InBands(int rows, size_t rowCost, const TWork& work) {
    const size_t total = size_t(rows) * rowCost;
    const int threads = int(std::clamp<size_t>(total / (size_t(8) << 20), 1,
                                               std::max(1u, std::thread::hardware_concurrency())));
    const int bands = std::min({threads, 4, rows});
    if (bands <= 1) {
        work(0, rows);
        return;
    }
    std::vector<std::thread> helpers;
    for (int b = 1; b < bands; ++b)
        helpers.emplace_back(work, rows * b / bands, rows * (b + 1) / bands);
    work(0, rows / bands);
    for (std::thread& t : helpers)
        t.join();
}

inline uint8_t Clamped(int32_t sum) {
    return uint8_t(std::clamp(sum >> kWeightBits, 0, 255));
}

// Stores four summed channels (blue, green, red, alpha); premultiplied colour never exceeds its
// alpha, which the negative lobes could otherwise make it do.
inline void StorePixel(uint8_t* q, const int32_t* sum, bool premultiplied) {
    q[3] = Clamped(sum[3]);
    const uint8_t most = premultiplied ? q[3] : 255;
    q[0] = std::min(Clamped(sum[0]), most);
    q[1] = std::min(Clamped(sum[1]), most);
    q[2] = std::min(Clamped(sum[2]), most);
}

// Rows of 4-byte pixels resampled along the row to the taps' output width.
QImage ResampleRows(const QImage& source, const TTaps& taps, int width) {
    QImage out(width, source.height(), source.format());
    if (out.isNull()) return out;
    const bool premultiplied = source.format() == QImage::Format_ARGB32_Premultiplied;
    InBands(source.height(), size_t(width) * size_t(taps.stride), [&](int from, int to) {
        for (int y = from; y < to; ++y) {
            const uint8_t* s = source.constScanLine(y);
            uint8_t* d = out.scanLine(y);
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = s + 4 * size_t(taps.first[size_t(x)]);
                const int16_t* w = taps.weights.data() + size_t(x) * size_t(taps.stride);
                const int n = taps.count[size_t(x)];
                int32_t sum[4];
#if defined(__SSE2__)
                // Two pixels a step: their channels side by side times the two weights.
                const __m128i zero = _mm_setzero_si128();
                __m128i acc = _mm_set1_epi32(1 << (kWeightBits - 1));
                int k = 0;
                for (; k + 1 < n; k += 2) {
                    const __m128i pair = _mm_unpacklo_epi8(
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4 * k)),
                        zero);  // 8 samples, 16 bits each
                    const __m128i sides = _mm_unpacklo_epi16(pair, _mm_srli_si128(pair, 8));
                    const __m128i weight =
                        _mm_set1_epi32(int32_t(uint16_t(w[k])) | (int32_t(w[k + 1]) << 16));
                    acc = _mm_add_epi32(acc, _mm_madd_epi16(sides, weight));
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sum), acc);
                for (; k < n; ++k)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += p[4 * k + c] * w[k];
#else
            for (int32_t& c : sum)
                c = 1 << (kWeightBits - 1);
            for (int k = 0; k < n; ++k)
                for (int c = 0; c < 4; ++c)
                    sum[c] += p[4 * k + c] * w[k];
#endif
                StorePixel(d + 4 * size_t(x), sum, premultiplied);
            }
        }
    });
    return out;
}

// Columns resampled to the taps' output height: each output row sums whole source rows, two at
// a time, sixteen samples at once kept in registers over all the rows.
QImage ResampleColumns(const QImage& source, const TTaps& taps, int height) {
    QImage out(source.width(), height, source.format());
    if (out.isNull()) return out;
    const bool premultiplied = source.format() == QImage::Format_ARGB32_Premultiplied;
    const size_t samples = 4 * size_t(source.width());
    const std::vector<uint8_t> none(samples, 0);  // the partner of an odd last row
    InBands(height, samples * size_t(taps.stride), [&](int from, int to) {
        std::vector<const uint8_t*> rows;
        std::vector<int16_t> weights;
        for (int y = from; y < to; ++y) {
            const int16_t* w = taps.weights.data() + size_t(y) * size_t(taps.stride);
            const int n = taps.count[size_t(y)];
            rows.clear();
            weights.clear();
            for (int k = 0; k < n; ++k) {
                rows.push_back(source.constScanLine(taps.first[size_t(y)] + k));
                weights.push_back(w[k]);
            }
            if (n % 2 != 0) {
                rows.push_back(none.data());
                weights.push_back(0);
            }
            const size_t pairs = rows.size() / 2;
            uint8_t* d = out.scanLine(y);
            size_t i = 0;
#if defined(__SSE2__)
            std::vector<int32_t> pairWeights(pairs);
            for (size_t k = 0; k < pairs; ++k)
                pairWeights[k] =
                    int32_t(uint16_t(weights[2 * k])) | (int32_t(weights[2 * k + 1]) << 16);
            const __m128i zero = _mm_setzero_si128();
            for (; i + 16 <= samples; i += 16) {
                __m128i acc[4];
                for (__m128i& a : acc)
                    a = _mm_set1_epi32(1 << (kWeightBits - 1));
                for (size_t k = 0; k < pairs; ++k) {
                    const __m128i va =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * k] + i));
                    const __m128i vb =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * k + 1] + i));
                    const __m128i low = _mm_unpacklo_epi8(va, vb), high = _mm_unpackhi_epi8(va, vb);
                    const __m128i weight = _mm_set1_epi32(pairWeights[k]);
                    acc[0] =
                        _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), weight));
                    acc[1] =
                        _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), weight));
                    acc[2] = _mm_add_epi32(acc[2],
                                           _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), weight));
                    acc[3] = _mm_add_epi32(acc[3],
                                           _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), weight));
                }
                int32_t sum[16];
                for (int j = 0; j < 4; ++j)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + 4 * j), acc[j]);
                for (int j = 0; j < 16; j += 4)
                    StorePixel(d + i + size_t(j), sum + j, premultiplied);
            }
#endif
            for (; i < samples; i += 4) {
                int32_t sum[4];
                for (int c = 0; c < 4; ++c) {
                    sum[c] = 1 << (kWeightBits - 1);
                    for (size_t k = 0; k < rows.size(); ++k)
                        sum[c] += rows[k][i + size_t(c)] * weights[k];
                }
                StorePixel(d + i, sum, premultiplied);
            }
        }
    });
    return out;
}

}  // namespace

QImage ReducedImage(const QImage& image, QSize size) {
    if (image.isNull() || size.isEmpty()) return {};
    if (image.size() == size) return image;
    // Premultiplied, so that transparent pixels lend no colour to their neighbours.
    const QImage::Format format =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage result = image.format() == format ? image : image.convertToFormat(format);
    // Columns first: that pass sums whole rows, which the processor does many samples at a
    // time, and it leaves fewer rows for the pass along them.
    const bool rowsFirst = false;
    for (int pass = 0; pass < 2 && !result.isNull(); ++pass) {
        if ((pass == 0) == rowsFirst) {
            if (result.width() != size.width())
                result = ResampleRows(result, MakeTaps(result.width(), size.width()), size.width());
        } else if (result.height() != size.height()) {
            result =
                ResampleColumns(result, MakeTaps(result.height(), size.height()), size.height());
        }
    }
    return result;
}
