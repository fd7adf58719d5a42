// The ITU-T fax decoders: code trees, bit reader, run filler, the Group 3 (T.4, one- and
// two-dimensional) and Modified Huffman row rules, and Group 4 (T.6).
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "imaging/decoders/Decoder.h"

namespace {

struct TCode {
    uint16_t Code;
    uint8_t Length;
};

// ITU-T T.4 Tables 1, 2 and 3: terminating codes (runs 0..63) and make-up codes (runs 64..1728
// in steps of 64, then the extended make-up codes 1792..2560 shared by both colours).
constexpr TCode kWhiteTerminating[64] = {
    {0x035, 8}, {0x007, 6}, {0x007, 4}, {0x008, 4}, {0x00B, 4}, {0x00C, 4}, {0x00E, 4}, {0x00F, 4},
    {0x013, 5}, {0x014, 5}, {0x007, 5}, {0x008, 5}, {0x008, 6}, {0x003, 6}, {0x034, 6}, {0x035, 6},
    {0x02A, 6}, {0x02B, 6}, {0x027, 7}, {0x00C, 7}, {0x008, 7}, {0x017, 7}, {0x003, 7}, {0x004, 7},
    {0x028, 7}, {0x02B, 7}, {0x013, 7}, {0x024, 7}, {0x018, 7}, {0x002, 8}, {0x003, 8}, {0x01A, 8},
    {0x01B, 8}, {0x012, 8}, {0x013, 8}, {0x014, 8}, {0x015, 8}, {0x016, 8}, {0x017, 8}, {0x028, 8},
    {0x029, 8}, {0x02A, 8}, {0x02B, 8}, {0x02C, 8}, {0x02D, 8}, {0x004, 8}, {0x005, 8}, {0x00A, 8},
    {0x00B, 8}, {0x052, 8}, {0x053, 8}, {0x054, 8}, {0x055, 8}, {0x024, 8}, {0x025, 8}, {0x058, 8},
    {0x059, 8}, {0x05A, 8}, {0x05B, 8}, {0x04A, 8}, {0x04B, 8}, {0x032, 8}, {0x033, 8}, {0x034, 8},
};
constexpr TCode kWhiteMakeUp[40] = {
    {0x01B, 5},  {0x012, 5},  {0x017, 6},  {0x037, 7},  {0x036, 8},  {0x037, 8},  {0x064, 8},
    {0x065, 8},  {0x068, 8},  {0x067, 8},  {0x0CC, 9},  {0x0CD, 9},  {0x0D2, 9},  {0x0D3, 9},
    {0x0D4, 9},  {0x0D5, 9},  {0x0D6, 9},  {0x0D7, 9},  {0x0D8, 9},  {0x0D9, 9},  {0x0DA, 9},
    {0x0DB, 9},  {0x098, 9},  {0x099, 9},  {0x09A, 9},  {0x018, 6},  {0x09B, 9},  {0x008, 11},
    {0x00C, 11}, {0x00D, 11}, {0x012, 12}, {0x013, 12}, {0x014, 12}, {0x015, 12}, {0x016, 12},
    {0x017, 12}, {0x01C, 12}, {0x01D, 12}, {0x01E, 12}, {0x01F, 12},
};
constexpr TCode kBlackTerminating[64] = {
    {0x037, 10}, {0x002, 3},  {0x003, 2},  {0x002, 2},  {0x003, 3},  {0x003, 4},  {0x002, 4},
    {0x003, 5},  {0x005, 6},  {0x004, 6},  {0x004, 7},  {0x005, 7},  {0x007, 7},  {0x004, 8},
    {0x007, 8},  {0x018, 9},  {0x017, 10}, {0x018, 10}, {0x008, 10}, {0x067, 11}, {0x068, 11},
    {0x06C, 11}, {0x037, 11}, {0x028, 11}, {0x017, 11}, {0x018, 11}, {0x0CA, 12}, {0x0CB, 12},
    {0x0CC, 12}, {0x0CD, 12}, {0x068, 12}, {0x069, 12}, {0x06A, 12}, {0x06B, 12}, {0x0D2, 12},
    {0x0D3, 12}, {0x0D4, 12}, {0x0D5, 12}, {0x0D6, 12}, {0x0D7, 12}, {0x06C, 12}, {0x06D, 12},
    {0x0DA, 12}, {0x0DB, 12}, {0x054, 12}, {0x055, 12}, {0x056, 12}, {0x057, 12}, {0x064, 12},
    {0x065, 12}, {0x052, 12}, {0x053, 12}, {0x024, 12}, {0x037, 12}, {0x038, 12}, {0x027, 12},
    {0x028, 12}, {0x058, 12}, {0x059, 12}, {0x02B, 12}, {0x02C, 12}, {0x05A, 12}, {0x066, 12},
    {0x067, 12},
};
constexpr TCode kBlackMakeUp[40] = {
    {0x00F, 10}, {0x0C8, 12}, {0x0C9, 12}, {0x05B, 12}, {0x033, 12}, {0x034, 12}, {0x035, 12},
    {0x06C, 13}, {0x06D, 13}, {0x04A, 13}, {0x04B, 13}, {0x04C, 13}, {0x04D, 13}, {0x072, 13},
    {0x073, 13}, {0x074, 13}, {0x075, 13}, {0x076, 13}, {0x077, 13}, {0x052, 13}, {0x053, 13},
    {0x054, 13}, {0x055, 13}, {0x05A, 13}, {0x05B, 13}, {0x064, 13}, {0x065, 13}, {0x008, 11},
    {0x00C, 11}, {0x00D, 11}, {0x012, 12}, {0x013, 12}, {0x014, 12}, {0x015, 12}, {0x016, 12},
    {0x017, 12}, {0x01C, 12}, {0x01D, 12}, {0x01E, 12}, {0x01F, 12},
};

// Codes that both trees carry besides the runs: end of line and four invalid patterns.
constexpr int32_t kEndOfLine = -1;
constexpr int32_t kInvalidCode = -2;
constexpr TCode kExtraCodes[5] = {{0x001, 12}, {0x001, 9}, {0x001, 10}, {0x001, 11}, {0x000, 12}};
constexpr int32_t kExtraValues[5] = {kEndOfLine, kInvalidCode, kInvalidCode, kInvalidCode,
                                     kInvalidCode};

constexpr std::array<uint8_t, 256> MakeReverseTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (i & (1u << bit)) r |= 0x80u >> bit;
        table[i] = static_cast<uint8_t>(r);
    }
    return table;
}
constexpr std::array<uint8_t, 256> kReverseBits = MakeReverseTable();

void AddCode(std::vector<TCCITTDecoder::TTreeNode>& tree, TCode code, int32_t value) {
    uint32_t node = 0;
    for (int bit = code.Length - 1; bit >= 0; --bit) {
        const unsigned b = (code.Code >> bit) & 1u;
        if (tree[node].Child[b] == 0) {
            tree[node].Child[b] = static_cast<uint32_t>(tree.size());
            tree.emplace_back();
        }
        node = tree[node].Child[b];
    }
    tree[node].Value = value;
}

void BuildTree(std::vector<TCCITTDecoder::TTreeNode>& tree, const TCode (&terminating)[64],
               const TCode (&makeUp)[40]) {
    tree.assign(1, {});
    for (int32_t i = 0; i < 64; ++i)
        AddCode(tree, terminating[i], i);
    for (int32_t i = 0; i < 40; ++i)
        AddCode(tree, makeUp[i], (i + 1) * 64);
    for (int i = 0; i < 5; ++i)
        AddCode(tree, kExtraCodes[i], kExtraValues[i]);
}

}  // namespace

TCCITTDecoder::TCCITTDecoder(uint32_t Options, bool SwapBits, bool WordAligned, uint32_t Width)
    : options_(Options), swapBits_(SwapBits), wordAligned_(WordAligned), width_(Width) {
    BuildTree(whiteTree_, kWhiteTerminating, kWhiteMakeUp);
    BuildTree(blackTree_, kBlackTerminating, kBlackMakeUp);
}

bool TCCITTDecoder::Prepare(uint8_t* source, uint8_t* dest, int32_t packedSize,
                            int32_t unpackedSize) {
    const uint32_t packed = packedSize > 0 ? static_cast<uint32_t>(packedSize) : 0;
    const uint32_t unpacked = unpackedSize > 0 ? static_cast<uint32_t>(unpackedSize) : 0;
    if (unpacked > 0) std::memset(dest, 0, unpacked);
    if (swapBits_)
        for (uint32_t i = 0; i < packed; ++i)
            source[i] = kReverseBits[source[i]];
    sourceStart_ = source;
    source_ = source;
    packedLeft_ = packed;
    bits_ = 0;
    mask_ = 0;
    bitsLeft_ = 0;
    dest_ = dest;
    target_ = 0;
    targetSize_ = unpacked;
    freeTargetBits_ = 8;
    restWidth_ = width_;
    isWhite_ = true;
    return packed > 0 && unpacked > 0;
}

bool TCCITTDecoder::ReadBit() {
    if (bitsLeft_ == 0) {
        if (packedLeft_ == 0) return false;
        LoadByte();
    }
    const bool bit = (bits_ & mask_) != 0;
    mask_ >>= 1;
    --bitsLeft_;
    return bit;
}

int32_t TCCITTDecoder::FindCode(const std::vector<TTreeNode>& tree) {
    uint32_t node = 0;
    int64_t sum = 0;
    for (;;) {
        if (!HasBits()) {
            // The data ends right after a code: it counts as complete.
            sum += tree[node].Value;
            break;
        }
        if (bitsLeft_ == 0) LoadByte();
        const unsigned bit = (bits_ & mask_) != 0 ? 1 : 0;
        uint32_t child = tree[node].Child[bit];
        if (child == 0) {
            // The current node ends a code; the bit belongs to the next one.
            const int32_t value = tree[node].Value;
            sum += value;
            if (value < 64) break;
            child = tree[0].Child[bit];  // a make-up code: its terminating code follows
        }
        mask_ >>= 1;
        --bitsLeft_;
        node = child;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

bool TCCITTDecoder::FillRun(uint32_t run) {
    // A run never reaches past the end of its row.
    const uint32_t r = std::min(run, restWidth_);
    const bool black = !isWhite_;
    uint32_t rest = r;
    if (freeTargetBits_ < 8 && r > 0) {
        const uint32_t k = std::min(r, freeTargetBits_);
        freeTargetBits_ -= k;
        if (black && target_ < targetSize_)
            dest_[target_] |= static_cast<uint8_t>(((1u << k) - 1) << freeTargetBits_);
        if (freeTargetBits_ == 0) {
            ++target_;
            freeTargetBits_ = 8;
        }
        rest = r - k;
    }
    const uint32_t whole = rest / 8;
    if (black && target_ < targetSize_)
        std::memset(dest_ + target_, 255, std::min(whole, targetSize_ - target_));
    target_ += whole;
    rest %= 8;
    if (rest > 0) {
        freeTargetBits_ = 8 - rest;
        if (black && target_ < targetSize_) dest_[target_] |= static_cast<uint8_t>(0xFF00u >> rest);
    }
    restWidth_ -= r;
    return restWidth_ == 0;
}

void TCCITTDecoder::EndRow() {
    if (freeTargetBits_ < 8) ++target_;
    freeTargetBits_ = 8;
    restWidth_ = width_;
}

// ---- Two-dimensional coding (T.4 2-D rows, T.6) ----

namespace {

// Modes of two-dimensional coding besides the vertical ones (which give a1 - b1, -3..3).
constexpr int kModePass = 100;
constexpr int kModeHorizontal = 101;
constexpr int kModeEndOfLine = 102;
constexpr int kModeInvalid = 103;
constexpr int kModeEndOfData = 104;

}  // namespace

void TCCITTDecoder::ResetReferenceRow() {
    // No change at all: the row is white. Width three times closes every list, so that b1 and
    // b2 are always found.
    referenceRow_.assign(3, width_);
    codingRow_.clear();
}

int64_t TCCITTDecoder::ReadRunLength(bool white) {
    const std::vector<TTreeNode>& tree = white ? whiteTree_ : blackTree_;
    int64_t total = 0;
    for (;;) {
        // Codes end in leaves (the code sets are prefix free).
        uint32_t node = 0;
        while (tree[node].Child[0] != 0 || tree[node].Child[1] != 0) {
            const int bit = NextBit();
            if (bit < 0) return -3;
            node = tree[node].Child[bit];
            if (node == 0) return -2;  // a bit pattern no code starts with
        }
        const int32_t value = tree[node].Value;
        if (value < 0) return value;
        total += value;
        if (value < 64) return total;  // a terminating code ends the run
    }
}

namespace {

// Reads the mode code of T.4 Table 4 / T.6 Table 1 through the reader `bit` (0, 1 or -1).
template <class TBitReader>
int ReadMode(TBitReader bit) {
    int b = bit();
    if (b != 0) return b < 0 ? kModeEndOfData : 0;  // 1: V0
    if ((b = bit()) < 0) return kModeEndOfData;
    if (b == 1) {  // 01x: VR1 / VL1
        if ((b = bit()) < 0) return kModeEndOfData;
        return b ? 1 : -1;
    }
    if ((b = bit()) < 0) return kModeEndOfData;
    if (b == 1) return kModeHorizontal;  // 001
    if ((b = bit()) < 0) return kModeEndOfData;
    if (b == 1) return kModePass;               // 0001
    for (int delta = 2; delta <= 3; ++delta) {  // 00001x: VR2 / VL2, 000001x: VR3 / VL3
        if ((b = bit()) < 0) return kModeEndOfData;
        if (b == 1) {
            if ((b = bit()) < 0) return kModeEndOfData;
            return b ? delta : -delta;
        }
    }
    // 0000001 starts an extension code (uncompressed mode and others), not read here.
    if ((b = bit()) < 0) return kModeEndOfData;
    if (b == 1) return kModeInvalid;
    // Seven zeros so far: only an end-of-line code (eleven zeros and a one) is valid.
    for (int zeros = 7; zeros < 11; ++zeros) {
        if ((b = bit()) < 0) return kModeEndOfData;
        if (b == 1) return kModeInvalid;
    }
    if ((b = bit()) < 0) return kModeEndOfData;
    return b == 1 ? kModeEndOfLine : kModeInvalid;
}

}  // namespace

TCCITTDecoder::TRowEnd TCCITTDecoder::DecodeRow2D() {
    codingRow_.clear();
    const uint32_t* ref = referenceRow_.data();
    const int64_t width = width_;
    uint32_t a0 = 0;
    bool start = true;  // a0 is the imaginary white element before the row
    bool white = true;  // colour of a0
    size_t k = 0;
    TRowEnd end = rowComplete;
    // Zero-length runs let a row hold more changes than pixels; a row with more than twice as
    // many is taken as damaged rather than grown without bound.
    const size_t maxChanges = 2 * size_t(width_) + 4;
    while (a0 < width_) {
        if (codingRow_.size() > maxChanges) {
            end = rowInvalid;
            break;
        }
        // b1: the first change of the reference row right of a0 (at the row start: from 0
        // on) to the colour opposite a0's; b2 the change after it. The lists never decrease
        // and a0 only grows, so the search goes on from two elements back.
        const uint32_t from = start ? a0 : a0 + 1;
        k = k >= 2 ? k - 2 : 0;
        while (ref[k] < from || (k & 1) != (white ? 0u : 1u))
            ++k;
        const uint32_t b1 = ref[k], b2 = ref[k + 1];
        const int mode = ReadMode([this] { return NextBit(); });
        if (mode >= -3 && mode <= 3) {
            const int64_t a1 = int64_t(b1) + mode;
            if (a1 < int64_t(a0)) {
                end = rowInvalid;  // a change left of a0
                break;
            }
            a0 = uint32_t(std::min(a1, width));  // a change past the row end is cut there
            codingRow_.push_back(a0);
            white = !white;
        } else if (mode == kModePass) {
            a0 = b2;
        } else if (mode == kModeHorizontal) {
            const int64_t r1 = ReadRunLength(white);
            const int64_t r2 = r1 < 0 ? r1 : ReadRunLength(!white);
            if (r2 < 0) {
                end = r2 == -1 ? rowEndOfLine : r2 == -2 ? rowInvalid : rowEndOfData;
                break;
            }
            const uint32_t a1 = uint32_t(std::min(int64_t(a0) + r1, width));
            a0 = uint32_t(std::min(int64_t(a1) + r2, width));
            codingRow_.push_back(a1);
            codingRow_.push_back(a0);
        } else {
            end = mode == kModeEndOfLine   ? rowEndOfLine
                  : mode == kModeEndOfData ? rowEndOfData
                                           : rowInvalid;
            break;
        }
        start = false;
    }
    // What a damaged row leaves undecoded is white.
    if (end != rowComplete && (codingRow_.size() & 1)) codingRow_.push_back(a0);
    FinishRow2D();
    return end;
}

TCCITTDecoder::TRowEnd TCCITTDecoder::DecodeRow1D() {
    codingRow_.clear();
    uint32_t a0 = 0;
    bool white = true;
    TRowEnd end = rowComplete;
    const size_t maxChanges = 2 * size_t(width_) + 4;
    while (a0 < width_) {
        if (codingRow_.size() > maxChanges) {
            end = rowInvalid;
            break;
        }
        const int64_t run = ReadRunLength(white);
        if (run < 0) {
            end = run == -1 ? rowEndOfLine : run == -2 ? rowInvalid : rowEndOfData;
            break;
        }
        a0 = uint32_t(std::min<int64_t>(int64_t(a0) + run, width_));
        codingRow_.push_back(a0);
        white = !white;
    }
    if (end != rowComplete && (codingRow_.size() & 1)) codingRow_.push_back(a0);
    FinishRow2D();
    return end;
}

void TCCITTDecoder::FinishRow2D() {
    isWhite_ = true;
    uint32_t previous = 0;
    for (const uint32_t change : codingRow_) {
        FillRun(change - previous);
        isWhite_ = !isWhite_;
        previous = change;
    }
    FillRun(width_ - previous);
    EndRow();
    isWhite_ = true;
    referenceRow_.swap(codingRow_);
    referenceRow_.insert(referenceRow_.end(), 3, width_);
}

// ---- Group 3, one-dimensional ----

void TCCITTFax3Decoder::SynchroniseOnEOL(bool lookForZeros) {
    if (lookForZeros) {
        int zeros = 0;
        while (zeros < 11 && HasBits())
            zeros = ReadBit() ? 0 : zeros + 1;
    }
    while (HasBits() && !ReadBit()) {
    }
}

void TCCITTFax3Decoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                    int32_t UnpackedSize) {
    if (!Prepare(Source, Dest, PackedSize, UnpackedSize)) return;
    if (options_ & 1) {
        DecodeTwoDimensional();
        return;
    }
    uint32_t endOfLines = 0;
    do {
        SynchroniseOnEOL(endOfLines == 0);
        endOfLines = 0;
        isWhite_ = true;
        while (HasBits()) {
            const int32_t value = NextCode();
            if (value >= 0) {
                if (FillRun(static_cast<uint32_t>(value))) break;
                isWhite_ = !isWhite_;
            } else {
                if (value == kEndOfLine) ++endOfLines;
                break;
            }
        }
        EndRow();
    } while (HasBits() && !TargetFull());
}

// ---- Group 3, two-dimensional ----

void TCCITTFax3Decoder::DecodeTwoDimensional() {
    if (width_ == 0) return;
    ResetReferenceRow();
    bool endOfLineRead = false;
    while (HasBits() && !TargetFull()) {
        // Every row follows an end-of-line code (with any fill bits before it) and its tag
        // bit: 1 for a one-dimensional row, 0 for one coded against the row above. A damaged
        // row is kept as far as it was decoded and the next end-of-line code resynchronises.
        if (!endOfLineRead) SynchroniseOnEOL(true);
        const int tag = NextBit();
        if (tag < 0) break;
        const TRowEnd end = tag ? DecodeRow1D() : DecodeRow2D();
        endOfLineRead = end == rowEndOfLine;
    }
}

// ---- Group 4 ----

void TCCITTFax4Decoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                    int32_t UnpackedSize) {
    if (!Prepare(Source, Dest, PackedSize, UnpackedSize) || width_ == 0) return;
    ResetReferenceRow();
    // Rows follow each other without end-of-line codes; the end-of-facsimile-block code (two
    // end-of-line codes), damaged data or the end of the data end the block.
    while (!TargetFull())
        if (DecodeRow2D() != rowComplete) break;
}

// ---- Modified Huffman ----

void TCCITTMHDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                  int32_t UnpackedSize) {
    if (!Prepare(Source, Dest, PackedSize, UnpackedSize)) return;
    while (HasBits() && !TargetFull()) {
        const int32_t value = NextCode();
        if (value > 0 && FillRun(static_cast<uint32_t>(value))) {
            EndRow();
            // Coded rows start on a byte boundary (on a 16-bit boundary when word aligned).
            if (bitsLeft_ == 8) {
                // The byte was only looked at: give it back.
                --source_;
                ++packedLeft_;
                bitsLeft_ = 0;
            }
            bitsLeft_ = 0;
            if (wordAligned_ && ((source_ - sourceStart_) & 1) && packedLeft_ > 0) {
                ++source_;
                --packedLeft_;
            }
            isWhite_ = false;  // flipped to white below
        }
        isWhite_ = !isWhite_;
    }
}
