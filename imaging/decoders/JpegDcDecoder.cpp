#include "imaging/decoders/JpegDcDecoder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "imaging/ImagingRoutines.h"

namespace {

constexpr int kMaxScans = 1000;            // the JPEG loader refuses more
constexpr int kMaxDimension = 65500;       // libjpeg's largest width or height
constexpr int kMaxBlocksInMcu = 10;        // libjpeg's bound for an interleaved MCU
constexpr int kSmoothedCoefficients = 10;  // the coefficients libjpeg's block smoothing watches

// Zigzag position to row-major index. The entries past 63 take the over-run of a damaged run
// length, as libjpeg's table does.
const std::array<uint8_t, 80> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// A Huffman table ready for decoding, with libjpeg's checks of its definition.
struct THuffman {
    std::array<int32_t, 18> maxCode{};
    std::array<int32_t, 18> valueOffset{};
    std::array<uint8_t, 256> values{};
    std::array<uint16_t, 256> lookup{};  // (length << 8) | symbol for codes of up to 8 bits
};

// The table as a DHT marker defines it; Derive builds the decoding form.
struct TTableDefinition {
    std::array<uint8_t, 17> counts{};
    std::array<uint8_t, 256> values{};
};

bool Derive(const TTableDefinition& def, bool dc, THuffman& out) {
    std::array<uint8_t, 257> sizes{};
    std::array<uint32_t, 257> codes{};
    int symbols = 0;
    for (int length = 1; length <= 16; ++length) {
        const int n = def.counts[size_t(length)];
        if (symbols + n > 256) return false;
        for (int i = 0; i < n; ++i)
            sizes[size_t(symbols++)] = static_cast<uint8_t>(length);
    }
    uint32_t code = 0;
    int size = sizes[0];
    for (int p = 0; sizes[size_t(p)] != 0;) {
        while (sizes[size_t(p)] == size)
            codes[size_t(p++)] = code++;
        if (code >= (uint32_t(1) << size)) return false;
        code <<= 1;
        ++size;
    }
    out = THuffman{};
    out.values = def.values;
    for (int p = 0, length = 1; length <= 16; ++length) {
        const int n = def.counts[size_t(length)];
        if (n == 0) {
            out.maxCode[size_t(length)] = -1;
            continue;
        }
        out.valueOffset[size_t(length)] = p - static_cast<int32_t>(codes[size_t(p)]);
        p += n;
        out.maxCode[size_t(length)] = static_cast<int32_t>(codes[size_t(p - 1)]);
    }
    out.maxCode[17] = 0xFFFFF;  // ends the search of a code that is too long
    for (int p = 0, length = 1; length <= 8; ++length)
        for (int i = 0; i < def.counts[size_t(length)]; ++i, ++p) {
            const uint32_t first = codes[size_t(p)] << (8 - length);
            for (uint32_t k = 0; k < (uint32_t(1) << (8 - length)); ++k)
                out.lookup[first + k] =
                    static_cast<uint16_t>((length << 8) | def.values[size_t(p)]);
        }
    if (dc)
        for (int i = 0; i < symbols; ++i)
            if (def.values[size_t(i)] > 15) return false;
    return true;
}

// The bits of one scan's entropy-coded data, which ends before a marker: a stuffed 0xFF 0x00
// is one 0xFF byte, and nothing is read past a marker or the end.
struct TBits {
    const uint8_t* data = nullptr;
    size_t pos = 0;
    size_t end = 0;
    uint64_t acc = 0;  // bits from the top
    int count = 0;

    void Fill() {
        while (count <= 56 && pos < end) {
            uint8_t byte = data[pos];
            if (byte == 0xFF) {
                size_t next = pos + 1;
                while (next < end && data[next] == 0xFF)
                    ++next;
                if (next >= end || data[next] != 0) return;  // a marker: stay before it
                pos = next + 1;
            } else {
                ++pos;
            }
            acc |= uint64_t(byte) << (56 - count);
            count += 8;
        }
    }
    // n = 1..16; false when the data ends first (libjpeg would go on with zeros).
    bool Get(int n, int& value) {
        if (count < n) {
            Fill();
            if (count < n) return false;
        }
        value = static_cast<int>(acc >> (64 - n));
        acc <<= n;
        count -= n;
        return true;
    }
    // A symbol; false for missing data or a code the table does not have.
    bool Decode(const THuffman& table, int& symbol) {
        if (count < 8) Fill();
        if (count >= 8) {
            const uint16_t entry = table.lookup[size_t(acc >> 56)];
            if (entry != 0) {
                const int length = entry >> 8;
                acc <<= length;
                count -= length;
                symbol = entry & 0xFF;
                return true;
            }
        }
        int code = 0;
        int length = 0;
        do {
            int bit = 0;
            if (!Get(1, bit)) return false;
            code = (code << 1) | bit;
            ++length;
        } while (code > table.maxCode[size_t(length)]);
        if (length > 16) return false;
        const int index = code + table.valueOffset[size_t(length)];
        if (index < 0 || index > 255) return false;
        symbol = table.values[size_t(index)];
        return true;
    }
};

int Extend(int value, int bits) {
    return value < (1 << (bits - 1)) ? value - (1 << bits) + 1 : value;
}

// libjpeg's sample limit after its inverse DCT: the value is taken modulo 1024 around 0, then
// clamped, and 128 added.
uint8_t Limit(int64_t value) {
    const int wrapped = static_cast<int>(((value + 512) & 1023) - 512) + 128;
    return static_cast<uint8_t>(std::clamp(wrapped, 0, 255));
}

// libjpeg's 2 x 2 inverse DCT (columns and rows 0, 1, 3, 5 and 7 of the block). The library
// has it in C and in SIMD code, which agree unless a value leaves 16 bits (dequantized
// coefficients, odd terms between the passes), a sum leaves 32 bits or a sample lies far outside
// 0..255 (C wraps it, SIMD saturates): false then, for such damaged blocks are left to the library.
bool InverseDct2x2(const int16_t* block, const int16_t* quant, uint8_t* out0, uint8_t* out1) {
    constexpr int64_t k0720959822 = 5906, k0850430095 = 6967, k1272758580 = 10426,
                      k3624509785 = 29692;
    constexpr int kUsed[5] = {0, 1, 3, 5, 7};
    auto fits = [](int64_t value, int bits) {
        return value >= -(int64_t(1) << (bits - 1)) && value < (int64_t(1) << (bits - 1));
    };
    int64_t work[2][8] = {};
    for (int col : kUsed) {
        int64_t coef[8] = {};
        for (int row : kUsed) {
            coef[row] = int64_t(block[row * 8 + col]) * quant[row * 8 + col];
            if (!fits(coef[row], 16)) return false;
        }
        const int64_t even = coef[0] * (int64_t(1) << 15);
        const int64_t odd = coef[7] * -k0720959822 + coef[5] * k0850430095 +
                            coef[3] * -k1272758580 + coef[1] * k3624509785;
        if (!fits(even + odd, 32) || !fits(even - odd, 32)) return false;
        work[0][col] = (even + odd + (int64_t(1) << 12)) >> 13;
        work[1][col] = (even - odd + (int64_t(1) << 12)) >> 13;
    }
    uint8_t* outs[2] = {out0, out1};
    for (int row = 0; row < 2; ++row) {
        const int64_t* w = work[row];
        if (!fits(w[0], 17) || !fits(w[1], 16) || !fits(w[3], 16) || !fits(w[5], 16) ||
            !fits(w[7], 16))
            return false;
        const int64_t even = w[0] * (int64_t(1) << 15);
        const int64_t odd =
            w[7] * -k0720959822 + w[5] * k0850430095 + w[3] * -k1272758580 + w[1] * k3624509785;
        for (int i = 0; i < 2; ++i) {
            const int64_t sum = i == 0 ? even + odd : even - odd;
            const int64_t value = (sum + (int64_t(1) << 19)) >> 20;
            if (!fits(sum, 32) || !fits(value, 10)) return false;
            outs[row][i] = Limit(value);
        }
    }
    return true;
}

// libjpeg's fixed-point YCbCr to RGB tables.
struct TColorTables {
    std::array<int, 256> crR{}, cbB{};
    std::array<int32_t, 256> crG{}, cbG{};
    TColorTables() {
        constexpr int32_t half = 1 << 15;
        for (int i = 0; i < 256; ++i) {
            const int32_t x = i - 128;
            crR[size_t(i)] = (91881 * x + half) >> 16;
            cbB[size_t(i)] = (116130 * x + half) >> 16;
            crG[size_t(i)] = -46802 * x;
            cbG[size_t(i)] = -22554 * x + half;
        }
    }
};

}  // namespace

struct TJpegDcDecoder::TState {
    struct TComponent {
        int id = 0, h = 1, v = 1, quantTable = 0;
        int scale = 1;                 // samples per block side at 1/8 (1 or 2)
        int hRepeat = 1, vRepeat = 1;  // output pixels per sample
        int widthBlocks = 0, heightBlocks = 0;
        bool latched = false;
        std::array<int16_t, 64> quant{};
        std::array<int, 64> coefBits{};  // libjpeg's progression record (-1: not seen)
        // One row of MCUs: v rows of blocks (DC only, or all 64 coefficients for scale 2),
        // and its samples.
        int bandColumns = 0;
        int coefficients = 1;
        std::vector<int16_t> band;
        std::vector<uint8_t> samples;
        std::vector<uint32_t> columns;  // the sample of each output column
        int16_t* Block(int row, int column) {
            return band.data() +
                   (size_t(row) * size_t(bandColumns) + size_t(column)) * size_t(coefficients);
        }
    };
    struct TScan {
        int count = 0;
        std::array<int, 4> components{};
        std::array<int, 4> dcTable{};  // indices into tables
        int acTable = -1;
        int ss = 0, se = 0, ah = 0, al = 0;
        int restartInterval = 0;
        TBits bits;
        int eobRun = 0;
        std::array<int, 4> lastDc{};
        int restartsToGo = 0;
        int nextRestart = 0;
    };

    const uint8_t* data = nullptr;
    size_t size = 0;
    int width = 0, height = 0;
    int maxH = 1, maxV = 1;
    int mcusPerRow = 0, mcuRows = 0;
    std::vector<TComponent> components;
    std::vector<TScan> scans;  // the scans that are decoded, in file order
    std::vector<THuffman> tables;

    bool ReadMarkers();
    bool ReadFrame(size_t pos, int length);
    bool ReadScan(size_t pos, int length, size_t& dataEnd, int restartInterval,
                  const std::array<int, 8>& defined, std::vector<TTableDefinition>& definitions,
                  const std::array<std::array<int16_t, 64>, 4>& quant,
                  const std::array<bool, 4>& quantDefined);
    size_t ScanEnd(size_t pos) const;
    bool NextMarker(size_t& pos, int& marker) const;

    bool StartMcu(TScan& scan);
    bool DecodeBlock(TScan& scan, int index, int16_t* block);
    bool DecodeBand(TScan& scan, int band);
    bool Output(int band, const std::function<uint8_t*(int)>& rowAt);
};

// Finds the next marker from pos as libjpeg does (bytes before it are skipped); pos ends behind
// the marker code. False at the end of the data (where libjpeg sees an end of image).
bool TJpegDcDecoder::TState::NextMarker(size_t& pos, int& marker) const {
    for (;;) {
        while (pos < size && data[pos] != 0xFF)
            ++pos;
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos >= size) return false;
        const uint8_t code = data[pos++];
        if (code != 0) {
            marker = code;
            return true;
        }
    }
}

// Where the entropy-coded data that starts at pos ends: at the first marker that is not a
// restart marker (the 0xFF bytes before it included).
size_t TJpegDcDecoder::TState::ScanEnd(size_t pos) const {
    while (pos < size) {
        const uint8_t* hit = static_cast<const uint8_t*>(std::memchr(data + pos, 0xFF, size - pos));
        if (hit == nullptr) return size;
        const size_t at = size_t(hit - data);
        size_t next = at + 1;
        while (next < size && data[next] == 0xFF)
            ++next;
        if (next >= size) return at;
        const uint8_t code = data[next];
        if (code != 0 && (code < 0xD0 || code > 0xD7)) return at;
        pos = next + 1;
    }
    return size;
}

bool TJpegDcDecoder::TState::ReadFrame(size_t pos, int length) {
    if (!components.empty() || length < 6) return false;
    const int count = data[pos + 5];
    if (data[pos] != 8 || length != 6 + 3 * count || (count != 1 && count != 3)) return false;
    height = GetU16BE(data + pos + 1);
    width = GetU16BE(data + pos + 3);
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
    components.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = data + pos + 6 + 3 * i;
        TComponent& c = components[size_t(i)];
        c.id = p[0];
        c.h = p[1] >> 4;
        c.v = p[1] & 15;
        c.quantTable = p[2];
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quantTable > 3) return false;
        for (int j = 0; j < i; ++j)
            if (components[size_t(j)].id == c.id) return false;
        c.coefBits.fill(-1);
        maxH = std::max(maxH, c.h);
        maxV = std::max(maxV, c.v);
    }
    // A file without JFIF marker whose components are named R, G, B holds RGB.
    if (count == 3 && components[0].id == 'R' && components[1].id == 'G' && components[2].id == 'B')
        return false;
    mcusPerRow = (width + 8 * maxH - 1) / (8 * maxH);
    mcuRows = (height + 8 * maxV - 1) / (8 * maxV);
    for (TComponent& c : components) {
        c.widthBlocks = static_cast<int>((int64_t(width) * c.h + 8 * maxH - 1) / (8 * maxH));
        c.heightBlocks = static_cast<int>((int64_t(height) * c.v + 8 * maxV - 1) / (8 * maxV));
        // libjpeg makes chroma larger by its inverse DCT rather than by repeating samples
        // when it is reduced in both directions.
        while (c.scale < 8 && maxH % (c.h * c.scale * 2) == 0 && maxV % (c.v * c.scale * 2) == 0)
            c.scale *= 2;
        if (c.scale > 2 || maxH % (c.h * c.scale) != 0 || maxV % (c.v * c.scale) != 0) return false;
        c.hRepeat = maxH / (c.h * c.scale);
        c.vRepeat = maxV / (c.v * c.scale);
        c.bandColumns = mcusPerRow * c.h;
        c.coefficients = c.scale == 1 ? 1 : 64;
    }
    return true;
}

bool TJpegDcDecoder::TState::ReadScan(size_t pos, int length, size_t& dataEnd, int restartInterval,
                                      const std::array<int, 8>& defined,
                                      std::vector<TTableDefinition>& definitions,
                                      const std::array<std::array<int16_t, 64>, 4>& quant,
                                      const std::array<bool, 4>& quantDefined) {
    if (components.empty() || length < 1) return false;
    TScan scan;
    scan.count = data[pos];
    if (scan.count < 1 || scan.count > 4 || length != 4 + 2 * scan.count) return false;
    int blocksInMcu = 0;
    for (int i = 0; i < scan.count; ++i) {
        const int id = data[pos + 1 + 2 * i];
        const auto found = std::find_if(components.begin(), components.end(),
                                        [&](const TComponent& c) { return c.id == id; });
        if (found == components.end()) return false;
        // libjpeg takes a component for the i-th place only from index i on.
        const int index = static_cast<int>(found - components.begin());
        if (index < i) return false;
        for (int j = 0; j < i; ++j)
            if (scan.components[size_t(j)] == index) return false;
        scan.components[size_t(i)] = index;
        scan.dcTable[size_t(i)] = data[pos + 2 + 2 * i] >> 4;
        scan.acTable = data[pos + 2 + 2 * i] & 15;
        blocksInMcu += found->h * found->v;
    }
    const uint8_t* p = data + pos + 1 + 2 * scan.count;
    scan.ss = p[0];
    scan.se = p[1];
    scan.ah = p[2] >> 4;
    scan.al = p[2] & 15;
    // libjpeg's checks of the scan; its warnings about the order of scans are refusals here.
    const bool dcScan = scan.ss == 0;
    if (dcScan ? scan.se != 0 : (scan.ss > scan.se || scan.se > 63 || scan.count != 1))
        return false;
    if ((scan.ah != 0 && scan.al != scan.ah - 1) || scan.al > 13) return false;
    if (scan.count > 1 && blocksInMcu > kMaxBlocksInMcu) return false;
    for (int i = 0; i < scan.count; ++i) {
        TComponent& c = components[size_t(scan.components[size_t(i)])];
        if (!dcScan && c.coefBits[0] < 0) return false;
        for (int k = scan.ss; k <= scan.se; ++k) {
            if (scan.ah != std::max(c.coefBits[size_t(k)], 0)) return false;
            c.coefBits[size_t(k)] = scan.al;
        }
        if (!c.latched) {
            if (!quantDefined[size_t(c.quantTable)]) return false;
            c.quant = quant[size_t(c.quantTable)];
            c.latched = true;
        }
        // The tables the scan uses must be defined and sound (libjpeg fails otherwise).
        const bool dcFirst = dcScan && scan.ah == 0;
        if (dcFirst || !dcScan) {
            const int slot = dcFirst ? scan.dcTable[size_t(i)] : scan.acTable;
            if (slot > 3) return false;
            const int definition = defined[size_t(dcFirst ? slot : 4 + slot)];
            if (definition < 0) return false;
            THuffman table;
            if (!Derive(definitions[size_t(definition)], dcFirst, table)) return false;
            if (dcFirst)
                scan.dcTable[size_t(i)] = static_cast<int>(tables.size());
            else
                scan.acTable = static_cast<int>(tables.size());
            // Only the tables of decoded scans are kept.
            if (dcScan || c.scale == 2) tables.push_back(table);
        }
    }
    const size_t start = pos + size_t(length);
    dataEnd = ScanEnd(start);
    // AC scans of components shown by their DC alone are skipped.
    if (!dcScan && components[size_t(scan.components[0])].scale == 1) return true;
    scan.restartInterval = restartInterval;
    scan.restartsToGo = restartInterval;
    scan.bits.data = data;
    scan.bits.pos = start;
    scan.bits.end = dataEnd;
    scans.push_back(scan);
    return true;
}

bool TJpegDcDecoder::TState::ReadMarkers() {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t pos = 2;
    int restartInterval = 0;
    std::array<int, 8> defined;  // DC tables 0-3, AC tables 0-3: index into definitions
    defined.fill(-1);
    std::vector<TTableDefinition> definitions;
    std::array<std::array<int16_t, 64>, 4> quant{};
    std::array<bool, 4> quantDefined{};
    int scanCount = 0;
    for (;;) {
        int marker = 0;
        if (!NextMarker(pos, marker) || marker == 0xD9) break;               // end of image
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no parameters
        if (pos + 2 > size) return false;
        const int length = GetU16BE(data + pos);
        if (length < 2 || pos + size_t(length) > size) return false;
        const size_t body = pos + 2;
        const int bodyLength = length - 2;
        pos += size_t(length);
        if (marker == 0xC2) {
            if (!ReadFrame(body, bodyLength)) return false;
        } else if (marker == 0xC4) {
            for (size_t at = body, stop = body + size_t(bodyLength); at < stop;) {
                if (stop - at < 17) return false;
                const int index = data[at];
                TTableDefinition def;
                int count = 0;
                for (int i = 1; i <= 16; ++i)
                    count += def.counts[size_t(i)] = data[at + size_t(i)];
                at += 17;
                if (count > 256 || size_t(count) > stop - at) return false;
                std::copy(data + at, data + at + count, def.values.begin());
                at += size_t(count);
                const int slot = (index & 0x10 ? 4 : 0) + (index & ~0x10);
                if ((index & ~0x10) > 3) return false;
                defined[size_t(slot)] = static_cast<int>(definitions.size());
                definitions.push_back(def);
            }
        } else if (marker == 0xDB) {
            for (size_t at = body, stop = body + size_t(bodyLength); at < stop;) {
                const int precision = data[at] >> 4, index = data[at] & 15;
                const size_t bytes = precision ? 128 : 64;
                if (index > 3 || precision > 1 || stop - at - 1 < bytes) return false;
                for (size_t i = 0; i < 64; ++i) {
                    const int value =
                        precision ? GetU16BE(data + at + 1 + 2 * i) : data[at + 1 + i];
                    // (the library's arithmetic holds quantizers in 16 signed bits)
                    if (value > 32767) return false;
                    quant[size_t(index)][kNaturalOrder[i]] = static_cast<int16_t>(value);
                }
                quantDefined[size_t(index)] = true;
                at += 1 + bytes;
            }
        } else if (marker == 0xDD) {
            if (bodyLength != 2) return false;
            restartInterval = GetU16BE(data + body);
        } else if (marker == 0xDA) {
            size_t end = 0;
            if (++scanCount > kMaxScans) return false;
            if (!ReadScan(body, bodyLength, end, restartInterval, defined, definitions, quant,
                          quantDefined))
                return false;
            pos = end;
        } else if (marker >= 0xE0 && marker <= 0xEF) {
            // Adobe's marker may say RGB or YCCK: libjpeg decides those.
            if (marker == 0xEE && bodyLength >= 5 && std::memcmp(data + body, "Adobe", 5) == 0)
                return false;
        } else if (marker != 0xFE) {
            return false;  // other frame types, arithmetic coding, anything unknown
        }
    }
    if (components.empty() || scanCount == 0) return false;
    // libjpeg smooths blocks (DC too, when a component has no AC yet) while the low
    // coefficients are not all known in full: a file cut short is left to it.
    for (const TComponent& c : components) {
        if (c.coefBits[0] < 0) return false;  // a component without DC
        for (int k = 1; k < kSmoothedCoefficients; ++k)
            if (c.coefBits[size_t(k)] != 0) return false;
    }
    return true;
}

bool TJpegDcDecoder::TState::StartMcu(TScan& scan) {
    if (scan.restartInterval == 0) return true;
    if (scan.restartsToGo == 0) {
        // libjpeg drops the bits left, skips to the marker, which must be the next restart.
        TBits& bits = scan.bits;
        bits.acc = 0;
        bits.count = 0;
        while (bits.pos < bits.end && data[bits.pos] != 0xFF)
            ++bits.pos;
        for (;;) {
            while (bits.pos < bits.end && data[bits.pos] == 0xFF)
                ++bits.pos;
            if (bits.pos >= bits.end) return false;
            const uint8_t code = data[bits.pos++];
            if (code == 0xD0 + scan.nextRestart) break;
            if (code != 0) return false;
            while (bits.pos < bits.end && data[bits.pos] != 0xFF)
                ++bits.pos;
        }
        scan.nextRestart = (scan.nextRestart + 1) & 7;
        scan.lastDc.fill(0);
        scan.eobRun = 0;
        scan.restartsToGo = scan.restartInterval;
    }
    --scan.restartsToGo;
    return true;
}

// One block of the scan's component index, as libjpeg's progressive decoder does it.
bool TJpegDcDecoder::TState::DecodeBlock(TScan& scan, int index, int16_t* block) {
    TBits& bits = scan.bits;
    int value = 0;
    if (scan.ss == 0 && scan.ah != 0) {  // DC refinement: one more bit
        if (!bits.Get(1, value)) return false;
        if (value) block[0] = static_cast<int16_t>(block[0] | (1 << scan.al));
        return true;
    }
    if (scan.ss == 0) {  // first DC scan: a difference to the last value
        int s = 0;
        if (!bits.Decode(tables[size_t(scan.dcTable[size_t(index)])], s)) return false;
        if (s != 0) {
            if (!bits.Get(s, value)) return false;
            s = Extend(value, s);
        }
        const int64_t dc = int64_t(scan.lastDc[size_t(index)]) + s;
        if (dc > INT_MAX || dc < INT_MIN) return false;
        scan.lastDc[size_t(index)] = static_cast<int>(dc);
        block[0] = static_cast<int16_t>(static_cast<uint32_t>(dc) << scan.al);
        return true;
    }
    const THuffman& table = tables[size_t(scan.acTable)];
    if (scan.ah == 0) {  // first AC scan of a band
        if (scan.eobRun > 0) {
            --scan.eobRun;
            return true;
        }
        for (int k = scan.ss; k <= scan.se; ++k) {
            int s = 0;
            if (!bits.Decode(table, s)) return false;
            int r = s >> 4;
            s &= 15;
            if (s != 0) {
                k += r;
                if (!bits.Get(s, value)) return false;
                block[kNaturalOrder[size_t(k)]] =
                    static_cast<int16_t>(static_cast<uint32_t>(Extend(value, s)) << scan.al);
            } else if (r == 15) {
                k += 15;
            } else {
                scan.eobRun = 1 << r;
                if (r != 0) {
                    if (!bits.Get(r, value)) return false;
                    scan.eobRun += value;
                }
                --scan.eobRun;
                break;
            }
        }
        return true;
    }
    // AC refinement: new coefficients of +-1 << al, and a correction bit for each nonzero one.
    const int p1 = 1 << scan.al, m1 = -p1;
    auto refine = [&](int16_t& coef) {
        int bit = 0;
        if (!bits.Get(1, bit)) return false;
        if (bit && (coef & p1) == 0) coef = static_cast<int16_t>(coef + (coef >= 0 ? p1 : m1));
        return true;
    };
    int k = scan.ss;
    if (scan.eobRun == 0) {
        for (; k <= scan.se; ++k) {
            int s = 0;
            if (!bits.Decode(table, s)) return false;
            int r = s >> 4;
            s &= 15;
            if (s != 0) {
                if (!bits.Get(1, value)) return false;
                s = value ? p1 : m1;
            } else if (r != 15) {
                scan.eobRun = 1 << r;
                if (r != 0) {
                    if (!bits.Get(r, value)) return false;
                    scan.eobRun += value;
                }
                break;
            }
            do {
                int16_t& coef = block[kNaturalOrder[size_t(k)]];
                if (coef != 0) {
                    if (!refine(coef)) return false;
                } else if (--r < 0) {
                    break;
                }
                ++k;
            } while (k <= scan.se);
            if (s != 0) block[kNaturalOrder[size_t(k)]] = static_cast<int16_t>(s);
        }
    }
    if (scan.eobRun > 0) {
        for (; k <= scan.se; ++k) {
            int16_t& coef = block[kNaturalOrder[size_t(k)]];
            if (coef != 0 && !refine(coef)) return false;
        }
        --scan.eobRun;
    }
    return true;
}

// The scan's MCUs (or blocks, for one component) that fall in one row of MCUs.
bool TJpegDcDecoder::TState::DecodeBand(TScan& scan, int band) {
    if (scan.count > 1) {
        for (int mcu = 0; mcu < mcusPerRow; ++mcu) {
            if (!StartMcu(scan)) return false;
            for (int i = 0; i < scan.count; ++i) {
                TComponent& c = components[size_t(scan.components[size_t(i)])];
                for (int y = 0; y < c.v; ++y)
                    for (int x = 0; x < c.h; ++x)
                        if (!DecodeBlock(scan, i, c.Block(y, mcu * c.h + x))) return false;
            }
        }
        return true;
    }
    TComponent& c = components[size_t(scan.components[0])];
    const int last = std::min((band + 1) * c.v, c.heightBlocks);
    for (int row = band * c.v; row < last; ++row)
        for (int x = 0; x < c.widthBlocks; ++x) {
            if (!StartMcu(scan)) return false;
            if (!DecodeBlock(scan, 0, c.Block(row - band * c.v, x))) return false;
        }
    return true;
}

bool TJpegDcDecoder::TState::Output(int band, const std::function<uint8_t*(int)>& rowAt) {
    for (TComponent& c : components) {
        const size_t across = size_t(c.bandColumns) * size_t(c.scale);
        // Only the picture's blocks, as the library (not those that pad the last MCUs).
        const int rows = std::min(c.v, c.heightBlocks - band * c.v);
        for (int row = 0; row < rows; ++row)
            for (int x = 0; x < c.widthBlocks; ++x) {
                const int16_t* block = c.Block(row, x);
                uint8_t* out = c.samples.data() + size_t(row) * size_t(c.scale) * across +
                               size_t(x) * size_t(c.scale);
                if (c.scale == 1)
                    out[0] = Limit((int(block[0]) * c.quant[0] + 4) >> 3);
                else if (!InverseDct2x2(block, c.quant.data(), out, out + across))
                    return false;
            }
    }
    static const TColorTables colors;
    const int first = band * maxV, last = std::min(first + maxV, (height + 7) / 8);
    const int outWidth = (width + 7) / 8;
    for (int y = first; y < last; ++y) {
        uint8_t* dest = rowAt(y);
        const uint8_t* planes[3] = {};
        for (size_t i = 0; i < components.size(); ++i) {
            const TComponent& c = components[i];
            const int sampleRow = y / c.vRepeat - band * c.v * c.scale;
            planes[i] =
                c.samples.data() + size_t(sampleRow) * size_t(c.bandColumns) * size_t(c.scale);
        }
        const uint32_t* c0 = components[0].columns.data();
        if (components.size() == 1) {
            for (int x = 0; x < outWidth; ++x)
                dest[x] = planes[0][c0[x]];
            continue;
        }
        const uint32_t *c1 = components[1].columns.data(), *c2 = components[2].columns.data();
        for (int x = 0; x < outWidth; ++x) {
            const int luma = planes[0][c0[x]];
            const size_t cb = planes[1][c1[x]], cr = planes[2][c2[x]];
            dest[3 * x] = static_cast<uint8_t>(std::clamp(luma + colors.cbB[cb], 0, 255));
            dest[3 * x + 1] = static_cast<uint8_t>(
                std::clamp(luma + ((colors.cbG[cb] + colors.crG[cr]) >> 16), 0, 255));
            dest[3 * x + 2] = static_cast<uint8_t>(std::clamp(luma + colors.crR[cr], 0, 255));
        }
    }
    return true;
}

TJpegDcDecoder::TJpegDcDecoder() = default;
TJpegDcDecoder::~TJpegDcDecoder() = default;

bool TJpegDcDecoder::Open(const uint8_t* data, size_t size) {
    state_ = std::make_unique<TState>();
    state_->data = data;
    state_->size = size;
    if (state_->ReadMarkers()) return true;
    state_.reset();
    return false;
}

int TJpegDcDecoder::Width() const {
    return state_ ? (state_->width + 7) / 8 : 0;
}
int TJpegDcDecoder::Height() const {
    return state_ ? (state_->height + 7) / 8 : 0;
}
int TJpegDcDecoder::Channels() const {
    return state_ ? static_cast<int>(state_->components.size()) : 0;
}

TJpegDcDecoder::TResult TJpegDcDecoder::Decode(const std::function<uint8_t*(int)>& rowAt,
                                               const std::function<bool()>& cancelled) {
    if (!state_) return TResult::NotHandled;
    TState& s = *state_;
    for (TState::TComponent& c : s.components) {
        c.band.assign(size_t(c.bandColumns) * size_t(c.v) * size_t(c.coefficients), 0);
        c.samples.assign(size_t(c.bandColumns) * size_t(c.v) * size_t(c.scale * c.scale), 0);
        c.columns.resize(size_t((s.width + 7) / 8));
        for (size_t x = 0; x < c.columns.size(); ++x)
            c.columns[x] = uint32_t(x) / uint32_t(c.hRepeat);
    }
    for (int band = 0; band < s.mcuRows; ++band) {
        if (cancelled && cancelled()) return TResult::Cancelled;
        for (TState::TComponent& c : s.components)
            std::fill(c.band.begin(), c.band.end(), int16_t(0));
        for (TState::TScan& scan : s.scans)
            if (!s.DecodeBand(scan, band)) return TResult::NotHandled;
        if (!s.Output(band, rowAt)) return TResult::NotHandled;
    }
    return TResult::Decoded;
}
