// libFuzzer harness for the shared decompressors. The first byte chooses the decoder (in the
// combined target, modulo 16; the per-decoder targets fix it, see CMakeLists.txt), the second gives
// its parameter (pixel size, width...); the rest is the packed data. Source and destination are
// heap blocks of exactly their size, so AddressSanitizer sees any access past them.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/decoders/Decoder.h"
#include "imaging/decoders/TIFFJPEGDecoder.h"

namespace {

constexpr int32_t kDestSize = 4096;

void Run(TDecoder& decoder, const uint8_t* data, size_t size, int32_t unpackedSize,
         size_t destBytes) {
    std::unique_ptr<uint8_t[]> source(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(source.get(), data, size);
    std::unique_ptr<uint8_t[]> dest(new uint8_t[destBytes ? destBytes : 1]);
    uint8_t* src = source.get();
    uint8_t* dst = dest.get();
    decoder.DecodeBlock(src, dst, static_cast<int32_t>(size), unpackedSize);
    if (src < source.get() || src > source.get() + size) std::abort();
    if (dst < dest.get() || dst > dest.get() + destBytes) std::abort();
}

void TargaRoundTrip(int bits, const uint8_t* data, size_t size) {
    const size_t p = (bits + 1) / 8;
    const uint32_t count = static_cast<uint32_t>(size / p);
    std::vector<uint8_t> packed(size_t{count} * (p + 1) + 1);
    uint32_t stored = 0;
    TTargaRLEDecoder encoder(bits);
    encoder.EncodeBlock(data, packed.data(), count, stored);
    if (stored > packed.size()) std::abort();
    TTargaRLEDecoder decoder(bits);
    std::vector<uint8_t> out(size_t{count} * p + 1);
    uint8_t* src = packed.data();
    uint8_t* dst = out.data();
    decoder.DecodeBlock(src, dst, static_cast<int32_t>(stored), static_cast<int32_t>(count));
    if (std::memcmp(out.data(), data, size_t{count} * p) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t kind = data[0];
    const uint8_t param = data[1];
    data += 2;
    size -= 2;
    static const int kTargaBits[5] = {8, 15, 16, 24, 32};
    try {
#ifdef VELKARO_FUZZ_DECODER
        // A target of its own for one decoder; the two pairs that share a decoder (9/10 and
        // 11/12) take their variant from the low bit of the first byte.
        int choice = VELKARO_FUZZ_DECODER;
        if ((choice == 9 || choice == 11) && (kind & 1)) ++choice;
#else
        const int choice = kind % 16;
#endif
        switch (choice) {
            case 0: {
                const int bits = kTargaBits[param % 5];
                TTargaRLEDecoder d(bits);
                Run(d, data, size, kDestSize / 4, size_t(kDestSize / 4) * ((bits + 1) / 8));
                TargaRoundTrip(bits, data, std::min<size_t>(size, 2048));
                break;
            }
            case 1: {
                TPackbitsRLEDecoder d;
                Run(d, data, size, kDestSize, kDestSize);
                break;
            }
            case 2: {
                TPCXRLEDecoder d;
                Run(d, data, size, kDestSize, kDestSize);
                break;
            }
            case 3: {
                TSGIRLEDecoder d(param & 1 ? 16 : 8);
                Run(d, data, size, kDestSize - (param & 1), kDestSize - (param & 1));
                break;
            }
            case 4: {
                TCUTRLEDecoder d;
                Run(d, data, size, kDestSize, kDestSize);
                break;
            }
            case 5: {
                TPSPRLEDecoder d;
                Run(d, data, size, kDestSize, kDestSize);
                break;
            }
            case 6: {
                TRLADecoder d;
                Run(d, data, size, kDestSize, kDestSize);
                break;
            }
            case 7:
            case 8: {
                const uint32_t width = 1 + param * 13u;
                const bool swap = kind & 16, aligned = kind & 32;
                const int32_t bytes = kDestSize - (kind >> 6);
                if (choice == 7) {
                    // Bit 5 also selects two-dimensional Group 3 rows (T4Options bit 0).
                    TCCITTFax3Decoder d(aligned ? 1 : 0, swap, aligned, width);
                    Run(d, data, size, bytes, bytes);
                } else {
                    TCCITTMHDecoder d(0, swap, aligned, width);
                    Run(d, data, size, bytes, bytes);
                }
                break;
            }
            case 9:
            case 10: {
                TLZ77Decoder d(param & 1 ? Z_FINISH : Z_PARTIAL_FLUSH, param & 2);
                d.BeginDecoding();
                // Two blocks, so that continuing and resetting streams are both exercised.
                const size_t half = choice == 9 ? size / 2 : size;
                Run(d, data, half, kDestSize, kDestSize);
                Run(d, data + half, size - half, kDestSize / 2, kDestSize / 2);
                d.EndDecoding();
                break;
            }
            case 11:
            case 12: {
                // JPEG in TIFF: the first `tables` bytes are the JPEGTables field.
                TImageProperties p;
                p.Width = 1 + (param & 31);
                p.Height = 1 + (param >> 3);
                p.BitsPerSample = 8;
                p.SamplesPerPixel = kind & 16 ? 3 : 1;
                p.PlanarConfiguration = 1;
                p.ColorScheme = kind & 32 ? schemeYCbCr : schemeRGB;
                p.YCbCrSubsampling = {uint8_t(1 + (kind >> 6 & 1)), 1};
                p.RowsPerStrip = {p.Height};
                p.BytesPerLine = p.Width * p.SamplesPerPixel - (kind >> 7);
                size_t tables = 0;
                if (choice == 12 && size > 2) {
                    tables = std::min<size_t>(data[0] * 4u, size - 1);
                    ++data;
                    --size;
                    p.JPEGTables.assign(data, data + tables);
                }
                TTIFFJPEGDecoder d(p);
                try {
                    d.BeginDecoding();
                    const int32_t bytes = int32_t(p.Height * (p.BytesPerLine ? p.BytesPerLine : 1));
                    Run(d, data + tables, size - tables, bytes, bytes);
                } catch (const EImagingError&) {
                }
                d.EndDecoding();
                break;
            }
            case 13: {
                TThunderDecoder d(param);
                Run(d, data, size, kDestSize - 1, kDestSize - 1);
                break;
            }
            case 14: {
                // LZW: a destination of 16 to 4096 bytes; the data once whole and once from its
                // second half with the same decoder (each block a stream of its own).
                const int32_t bytes = kDestSize - param * 16;
                TTIFFLZWDecoder d;
                Run(d, data, size, bytes, bytes);
                if (d.Written() > uint32_t(bytes)) std::abort();
                Run(d, data + size / 2, size - size / 2, bytes / 3, bytes / 3);
                if (d.Written() > uint32_t(bytes / 3)) std::abort();
                break;
            }
            default: {
                const uint32_t width = 1 + param * 13u;
                const int32_t bytes = kDestSize - (kind >> 6);
                TCCITTFax4Decoder d(0, kind & 16, false, width);
                Run(d, data, size, bytes, bytes);
                break;
            }
        }
    } catch (const EImagingError&) {
    }
    return 0;
}
