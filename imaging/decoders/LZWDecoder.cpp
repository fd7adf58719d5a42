// TIFF LZW decoding (compression 5), in the layout of TIFF 6.0 and in the older one some early
// writers used.
//
// Every table entry past the 256 single bytes is the string of an earlier code followed by one
// byte, and that string already stands in the output: where the earlier code was written,
// followed by the first byte of the code written after it. An entry is therefore kept as the
// output position and length of its string, and a code is decoded by copying those bytes
// forward, without following prefix chains.
#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/ImagingRoutines.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEndOfInformation = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMaxWidth = 12;

}  // namespace

TTIFFLZWDecoder::TTIFFLZWDecoder() : table_(kTableSize) {}

bool TTIFFLZWDecoder::IsOldStyle(const uint8_t* Source, int32_t PackedSize) {
    // A stream of TIFF 6.0 starts with a Clear code: its first byte is 0x80. The older layout
    // stores the 9-bit Clear code least significant bit first: 0x00, then a byte with bit 0
    // set (libtiff tests the same bits).
    return PackedSize >= 2 && Source[0] == 0 && (Source[1] & 1) != 0;
}

void TTIFFLZWDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                  int32_t UnpackedSize) {
    if (PackedSize <= 0 || UnpackedSize <= 0) {
        written_ = 0;
        return;
    }
    if (IsOldStyle(Source, PackedSize))
        Decode<true>(Source, uint32_t(PackedSize), Dest, uint32_t(UnpackedSize));
    else
        Decode<false>(Source, uint32_t(PackedSize), Dest, uint32_t(UnpackedSize));
}

template <bool OldStyle>
void TTIFFLZWDecoder::Decode(const uint8_t* in, uint32_t packed, uint8_t* out, uint32_t size) {
    const uint8_t* const inEnd = in + packed;
    TEntry* const table = table_.data();
    // Bit reader: TIFF 6.0 codes are most significant bit first and kept at the top of bits;
    // old-style codes are least significant bit first and kept at the bottom.
    uint64_t bits = 0;
    uint32_t have = 0;
    uint32_t width = 9;
    uint32_t next = kFirstFree;
    // The code written last: its output position and length (none right after a Clear).
    bool previous = false;
    uint32_t prevPos = 0, prevLen = 0;
    uint32_t pos = 0;
#if defined(__SSE2__)
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
#endif

    for (;;) {
        if (have < width) {
            if (inEnd - in >= 4 && have <= 32) {
                // Four bytes at once while the data lasts.
                if constexpr (OldStyle)
                    bits |= uint64_t(GetU32LE(in)) << have;
                else
                    bits |= uint64_t(GetU32BE(in)) << (32 - have);
                in += 4;
                have += 32;
            } else {
                while (have <= 56 && in < inEnd) {
                    if constexpr (OldStyle)
                        bits |= uint64_t(*in) << have;
                    else
                        bits |= uint64_t(*in) << (56 - have);
                    ++in;
                    have += 8;
                }
                if (have < width) break;  // the data ends without an end-of-information code
            }
        }
        uint32_t code;
        if constexpr (OldStyle) {
            code = uint32_t(bits) & ((1u << width) - 1);
            bits >>= width;
        } else {
            code = uint32_t(bits >> (64 - width));
            bits <<= width;
        }
        have -= width;

        if (code < 256) {
            if (previous && next < kTableSize) {
                table[next] = {prevPos, prevLen + 1};
                ++next;
                if (next + (OldStyle ? 0 : 1) == (1u << width) && width < kMaxWidth) ++width;
            }
            out[pos] = uint8_t(code);
            previous = true;
            prevPos = pos;
            prevLen = 1;
            if (++pos == size) break;
            continue;
        }
        if (code == kClear) {
            width = 9;
            next = kFirstFree;
            previous = false;
            continue;
        }
        if (code == kEndOfInformation) break;
        // A code not yet in the table, or the code being defined right after a Clear: the data
        // is damaged and decoding ends here.
        if (code > next || !previous) break;
        if (next < kTableSize) {
            table[next] = {prevPos, prevLen + 1};
            ++next;
            if (next + (OldStyle ? 0 : 1) == (1u << width) && width < kMaxWidth) ++width;
        }
        const TEntry entry = table[code];
        const uint32_t n = std::min(entry.Length, size - pos);
        const uint8_t* from = out + entry.Position;
        uint8_t* to = out + pos;
        if (entry.Position + entry.Length > pos) {
            // The code just defined (its last byte is its own first byte): byte by byte.
            for (uint32_t i = 0; i < n; ++i)
                to[i] = from[i];
#if defined(__SSE2__)
        } else if (n <= 16 && size - pos >= 16) {
            // Most strings are short: one 16-byte load and store instead of a loop whose length
            // the processor mispredicts. The bytes behind the string keep what the output held
            // there, so nothing past the string changes.
            const __m128i string = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            const __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to));
            const __m128i inside = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)), lanes);
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(to),
                _mm_or_si128(_mm_and_si128(inside, string), _mm_andnot_si128(inside, held)));
#endif
        } else if (n <= 16) {
            for (uint32_t i = 0; i < n; ++i)
                to[i] = from[i];
        } else {
            std::memcpy(to, from, n);
        }
        prevPos = pos;
        prevLen = entry.Length;
        pos += n;
        if (pos >= size) break;
    }
    written_ = pos;
}

template void TTIFFLZWDecoder::Decode<true>(const uint8_t*, uint32_t, uint8_t*, uint32_t);
template void TTIFFLZWDecoder::Decode<false>(const uint8_t*, uint32_t, uint8_t*, uint32_t);
