#pragma once
// Small routines shared by the loaders and decoders: raising load errors, reading multi-byte
// values in either byte order, byte swapping, undoing horizontal differencing and doubling a
// plane in size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Raises EInvalidGraphic with the message.
[[noreturn]] void RaiseInvalidGraphic(const std::string& message);
// Raises EInvalidGraphic with the printf-style formatted message, for example
// RaiseInvalidGraphicFmt(imsg::InvalidImage, "PNG").
[[noreturn]] void RaiseInvalidGraphicFmt(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
// The printf-style formatted text (for the other exception classes).
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Multi-byte values read from a byte buffer that holds at least 2 (or 4) bytes at p; no
// alignment needed. LE: least significant byte first; BE: most significant byte first.
constexpr uint16_t GetU16LE(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint16_t GetU16BE(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
constexpr uint32_t GetU32LE(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
constexpr uint32_t GetU32BE(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
// The same in the byte order given by bigEndian.
constexpr uint16_t GetU16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? GetU16BE(p) : GetU16LE(p);
}
constexpr uint32_t GetU32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? GetU32BE(p) : GetU32LE(p);
}

// Appends a 16-bit (32-bit) value to out, least significant byte first.
inline void PutU16LE(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void PutU32LE(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Reverses the two bytes of each of count consecutive 16-bit values in place. The buffer needs
// no particular alignment. A count of 0 does nothing.
void SwapWords(void* values, size_t count);
// Reverses the four bytes of each of count consecutive 32-bit values in place.
void SwapDWords(void* values, size_t count);
// The value with its four bytes reversed.
constexpr uint32_t SwapDWord(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) |
           (value << 24);
}

// Undo horizontal differencing of a row of count + 1 pixels of one, three or four 8-bit
// samples: every sample after the first pixel gets the same sample of the pixel before it added
// (modulo 256). count is the number of pixels that follow the first one (width - 1); the row
// must hold (count + 1) x samples bytes. A count of 0 leaves the row as it is.
void UndoDifferencing1(uint8_t* row, size_t count);
void UndoDifferencing3(uint8_t* row, size_t count);
void UndoDifferencing4(uint8_t* row, size_t count);

// Scales count samples holding bits (1-16) significant bits to 8 bits, rounded to the nearest
// (value x 255 / (2^bits - 1)); values above 2^bits - 1 count as that maximum.
void ReduceSamplesTo8(const uint16_t* source, uint8_t* target, size_t count, int bits);

// Hands the memory a decoding library has freed back to the system. The C library keeps freed
// blocks below its mapping threshold for reuse, so a loader that frees a decoder's working
// memory and then allocates its bitmap would otherwise hold both at its peak.
void ReleaseFreedMemory();

// Enlarges a plane of width x height one-byte samples to 2 width x 2 height in place. The
// plane's rows start stride bytes apart in buffer, which holds bufferSize bytes; the result
// needs 2 height rows with stride >= 2 width. New samples are the rounded means of their
// neighbours (half rounds up); the last column and the last row repeat their neighbour.
// Throws std::invalid_argument when the enlarged plane does not fit the buffer.
void DoublePlane(int width, int height, int stride, uint8_t* buffer, size_t bufferSize);
