// The byte-oriented run-length decoders and the Targa encoder. Runs and literal stretches are
// written with memset/memcpy; every count is cut to what is left of the source and of the
// destination before it is used.
#include <algorithm>
#include <cstring>

#include "imaging/decoders/Decoder.h"

namespace {

uint32_t Clamp(int32_t size) {
    return size > 0 ? static_cast<uint32_t>(size) : 0;
}

// Bytes per pixel of a Targa pixel size in bits, 0 for sizes the format does not have.
uint32_t TargaPixelBytes(int pixelSize) {
    switch (pixelSize) {
        case 8:
            return 1;
        case 15:
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

// Writes count copies of the pixel of p bytes.
void FillPixels(uint8_t* dest, const uint8_t* pixel, uint32_t p, uint32_t count) {
    switch (p) {
        case 1:
            std::memset(dest, pixel[0], count);
            break;
        case 2:
            if (pixel[0] == pixel[1]) {
                std::memset(dest, pixel[0], size_t{count} * 2);
                break;
            }
            for (uint32_t i = 0; i < count; ++i, dest += 2)
                std::memcpy(dest, pixel, 2);
            break;
        case 3:
            for (uint32_t i = 0; i < count; ++i, dest += 3)
                std::memcpy(dest, pixel, 3);
            break;
        default:
            for (uint32_t i = 0; i < count; ++i, dest += 4)
                std::memcpy(dest, pixel, 4);
            break;
    }
}

// What one control byte of a byte-oriented run-length scheme asks for: copy the next count
// bytes of the source (a literal run), write the next source byte count times (a repeat run),
// nothing, or the end of the data.
struct TRunPacket {
    enum TKind : uint8_t { Literal, Repeat, Skip, Stop };
    TKind kind;
    uint32_t count;
};

// The run-length loop that PackBits, SGI (8-bit), Paint Shop Pro and RLA share: classify maps
// each control byte to a TRunPacket. Runs stop when the source or the destination is used up; a
// literal run is cut to what is left of both, a repeat run to the destination, and a repeat run
// whose value byte is missing ends the data.
template <typename Classify>
void ExpandByteRuns(const uint8_t* src, int32_t packedSize, uint8_t* dst, int32_t unpackedSize,
                    Classify classify) {
    uint32_t packed = Clamp(packedSize);
    uint32_t unpacked = Clamp(unpackedSize);
    while (packed > 0 && unpacked > 0) {
        const TRunPacket run = classify(*src++);
        --packed;
        if (run.kind == TRunPacket::Literal) {
            const uint32_t todo = std::min({run.count, packed, unpacked});
            std::memcpy(dst, src, todo);
            src += todo;
            packed -= todo;
            dst += todo;
            unpacked -= todo;
        } else if (run.kind == TRunPacket::Repeat) {
            if (packed == 0) break;
            const uint32_t todo = std::min(run.count, unpacked);
            std::memset(dst, *src++, todo);
            --packed;
            dst += todo;
            unpacked -= todo;
        } else if (run.kind == TRunPacket::Stop) {
            break;
        }
    }
}

}  // namespace

// ---- Targa ----

TTargaRLEDecoder::TTargaRLEDecoder(int PixelSize) : pixelSize_(PixelSize) {}

void TTargaRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                   int32_t UnpackedSize) {
    const uint32_t p = TargaPixelBytes(pixelSize_);
    if (p == 0) return;
    const uint8_t* src = Source;
    uint32_t packed = Clamp(PackedSize);
    uint8_t* dst = Dest;
    uint32_t count = Clamp(UnpackedSize);

    while (count > 0) {
        uint32_t n;
        bool raw;
        if (pendingCount_ > 0) {
            n = pendingCount_;
            raw = pendingRaw_;
            pendingCount_ = 0;
        } else {
            if (packed == 0) break;
            const uint8_t header = *src++;
            --packed;
            n = (header & 127u) + 1;
            raw = header < 128;
            if (!raw) {
                if (packed < p) {
                    packed = 0;  // a run packet without its pixel
                    break;
                }
                std::memcpy(pendingPixel_, src, p);
                src += p;
                packed -= p;
            }
        }
        uint32_t todo = std::min(n, count);
        if (raw) {
            todo = std::min(todo, packed / p);
            std::memcpy(dst, src, size_t{todo} * p);
            src += size_t{todo} * p;
            packed -= todo * p;
        } else {
            FillPixels(dst, pendingPixel_, p, todo);
        }
        dst += size_t{todo} * p;
        count -= todo;
        if (todo < n && count == 0) {
            // The destination is full in the middle of a packet: keep the rest for later.
            pendingCount_ = n - todo;
            pendingRaw_ = raw;
        } else if (todo < n) {
            break;  // source exhausted inside a raw packet
        }
    }
    Source = const_cast<uint8_t*>(src);
}

void TTargaRLEDecoder::EncodeBlock(const uint8_t* Source, uint8_t* Dest, uint32_t Count,
                                   uint32_t& BytesStored) {
    BytesStored = 0;
    const uint32_t p = TargaPixelBytes(pixelSize_);
    if (p == 0) return;
    while (Count > 0) {
        // Length of the stretch of differing pixels before the first pair of equal ones.
        // (Only the first 128 pairs matter: a raw packet holds at most 128 pixels.)
        uint32_t different = Count;
        if (Count > 1) {
            for (uint32_t i = 0; i + 1 < Count && i < 128; ++i) {
                if (std::memcmp(Source + size_t{i} * p, Source + size_t{i + 1} * p, p) == 0) {
                    different = i;
                    break;
                }
            }
        }
        // Length of the run of pixels equal to the first.
        uint32_t same = 1;
        while (same < Count && same < 128 && std::memcmp(Source, Source + size_t{same} * p, p) == 0)
            ++same;
        different = std::min(different, 128u);

        if (different > 0) {
            *Dest++ = static_cast<uint8_t>(different - 1);
            std::memcpy(Dest, Source, size_t{different} * p);
            Dest += size_t{different} * p;
            Source += size_t{different} * p;
            BytesStored += different * p + 1;
            Count -= different;
        }
        if (same > 1) {
            *Dest++ = static_cast<uint8_t>((same - 1) | 128);
            std::memcpy(Dest, Source, p);
            Dest += p;
            Source += size_t{same} * p;
            BytesStored += p + 1;
            Count -= same;
        }
    }
}

// ---- PackBits ----

void TPackbitsRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                      int32_t UnpackedSize) {
    // 0 to 127: that many plus one literal bytes; -1 to -127: the next byte 1 - n times; -128
    // is no operation.
    ExpandByteRuns(Source, PackedSize, Dest, UnpackedSize, [](uint8_t control) {
        const int n = static_cast<int8_t>(control);
        if (n >= 0) return TRunPacket{TRunPacket::Literal, uint32_t(n) + 1};
        if (n == -128) return TRunPacket{TRunPacket::Skip, 0};
        return TRunPacket{TRunPacket::Repeat, uint32_t(1 - n)};
    });
}

// ---- PCX ----

void TPCXRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                 int32_t UnpackedSize) {
    const uint8_t* src = Source;
    uint8_t* dst = Dest;
    uint32_t packed = Clamp(PackedSize);
    uint32_t unpacked = Clamp(UnpackedSize);
    if (pendingCount_ > 0 && unpacked > 0) {
        // The rest of a run that the previous call cut at the end of its destination.
        const uint32_t n = std::min(pendingCount_, unpacked);
        std::memset(dst, pendingValue_, n);
        dst += n;
        unpacked -= n;
        pendingCount_ -= n;
    }
    while (unpacked > 0 && packed > 0) {
        const uint8_t b = *src;
        if (b >= 192) {
            if (packed < 2) break;  // a count whose value has not arrived: left unread
            const uint32_t count = b & 63u;
            const uint32_t n = std::min(count, unpacked);
            std::memset(dst, src[1], n);
            if (n < count) {
                pendingCount_ = count - n;
                pendingValue_ = src[1];
            }
            src += 2;
            packed -= 2;
            dst += n;
            unpacked -= n;
        } else {
            *dst++ = b;
            ++src;
            --packed;
            --unpacked;
        }
    }
    Source = const_cast<uint8_t*>(src);
    Dest = dst;
}

// ---- SGI ----

TSGIRLEDecoder::TSGIRLEDecoder(int SampleSize) : sampleSize_(SampleSize) {}

void TSGIRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                 int32_t UnpackedSize) {
    if (sampleSize_ != 16) {
        // The low seven bits count, the top bit marks a literal run; a zero count ends the row.
        ExpandByteRuns(Source, PackedSize, Dest, UnpackedSize, [](uint8_t control) {
            const uint32_t n = control & 127u;
            if (n == 0) return TRunPacket{TRunPacket::Stop, 0};
            return TRunPacket{control & 128 ? TRunPacket::Literal : TRunPacket::Repeat, n};
        });
        return;
    }
    // The same with 16-bit control words and samples.
    const uint8_t* src = Source;
    uint8_t* dst = Dest;
    uint32_t packed = Clamp(PackedSize);
    uint32_t unpacked = Clamp(UnpackedSize);
    while (packed >= 2 && unpacked >= 2) {
        const uint32_t header = (uint32_t{src[0]} << 8) | src[1];
        src += 2;
        packed -= 2;
        const uint32_t n = header & 127;
        if (n == 0) break;
        const uint32_t room = unpacked / 2;
        if (header & 128) {
            const uint32_t todo = std::min({n, room, packed / 2});
            std::memcpy(dst, src, size_t{todo} * 2);
            src += size_t{todo} * 2;
            packed -= todo * 2;
            dst += size_t{todo} * 2;
            unpacked -= todo * 2;
            if (todo < n) break;
        } else {
            if (packed < 2) break;
            FillPixels(dst, src, 2, std::min(n, room));
            dst += size_t{std::min(n, room)} * 2;
            unpacked -= std::min(n, room) * 2;
            src += 2;
            packed -= 2;
        }
    }
}

// ---- Dr. Halo CUT ----

void TCUTRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                 int32_t UnpackedSize) {
    const uint8_t* src = Source;
    uint8_t* dst = Dest;
    uint32_t packed = Clamp(PackedSize);
    uint32_t unpacked = Clamp(UnpackedSize);
    // The row's byte count is not needed.
    const uint32_t skip = std::min(packed, 2u);
    src += skip;
    packed -= skip;
    // The whole row is walked even when the destination is full, so that Source ends up at
    // the next row.
    while (packed > 0) {
        const uint8_t header = *src++;
        --packed;
        if (header == 0) break;
        const uint32_t n = header & 127u;
        if (header & 128) {
            if (packed == 0) break;
            const uint32_t todo = std::min(n, unpacked);
            std::memset(dst, *src++, todo);
            --packed;
            dst += todo;
            unpacked -= todo;
        } else {
            const uint32_t available = std::min(n, packed);
            const uint32_t todo = std::min(available, unpacked);
            std::memcpy(dst, src, todo);
            src += available;
            packed -= available;
            dst += todo;
            unpacked -= todo;
        }
    }
    Source = const_cast<uint8_t*>(src);
}

// ---- Paint Shop Pro ----

void TPSPRLEDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                 int32_t UnpackedSize) {
    // Below 128: that many literal bytes; from 128: the next byte n - 128 times.
    ExpandByteRuns(Source, PackedSize, Dest, UnpackedSize, [](uint8_t control) {
        if (control < 128) return TRunPacket{TRunPacket::Literal, control};
        return TRunPacket{TRunPacket::Repeat, uint32_t(control - 128u)};
    });
}

// ---- Alias/Wavefront RLA ----

void TRLADecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                              int32_t UnpackedSize) {
    // 0 to 127: the next byte n + 1 times; -1 to -128: -n literal bytes.
    ExpandByteRuns(Source, PackedSize, Dest, UnpackedSize, [](uint8_t control) {
        const int n = static_cast<int8_t>(control);
        if (n >= 0) return TRunPacket{TRunPacket::Repeat, uint32_t(n) + 1};
        return TRunPacket{TRunPacket::Literal, uint32_t(-n)};
    });
}
