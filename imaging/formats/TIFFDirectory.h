#pragma once
// The parts of the TIFF loader that read a directory and the values of its entries, shared by
// the directory reading (TIFFDirectory.cpp) and the loader (TIFFGraphic.cpp).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/ImagingRoutines.h"
#include "imaging/formats/TIFFGraphic.h"

// Field types: 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 6 SBYTE, 7 UNDEFINED, 8 SSHORT,
// 9 SLONG, 10 SRATIONAL, 11 FLOAT, 12 DOUBLE, 13 IFD. Other types have no size and are
// treated as absent.
inline unsigned TIFFTypeSize(uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

// Values of one entry: their bytes, whether multi-byte values are big-endian, type and count.
struct TTIFFGraphic::TValues {
    std::vector<uint8_t> Bytes;
    bool BigEndian = false;
    uint16_t Type = 0;
    uint32_t Count = 0;

    uint32_t Integer(size_t i) const {
        const uint8_t* p = Bytes.data() + i * TIFFTypeSize(Type);
        switch (Type) {
            case 1:
            case 2:
            case 7:
                return p[0];
            case 6:
                return uint32_t(int32_t(int8_t(p[0])));
            case 3:
                return GetU16(p, BigEndian);
            case 8:
                return uint32_t(int32_t(int16_t(GetU16(p, BigEndian))));
            case 4:
            case 9:
            case 13:
                return GetU32(p, BigEndian);
            default: {
                const double f = Float(i);
                return f <= 0 ? 0 : f >= 4294967295.0 ? UINT32_MAX : uint32_t(f);
            }
        }
    }
    double Float(size_t i) const {
        const uint8_t* p = Bytes.data() + i * TIFFTypeSize(Type);
        switch (Type) {
            case 5: {
                const uint32_t n = GetU32(p, BigEndian), d = GetU32(p + 4, BigEndian);
                return d == 0 ? 0.0 : double(n) / double(d);
            }
            case 10: {
                const int32_t n = int32_t(GetU32(p, BigEndian));
                const int32_t d = int32_t(GetU32(p + 4, BigEndian));
                return d == 0 ? 0.0 : double(n) / double(d);
            }
            case 11: {
                const uint32_t bits = GetU32(p, BigEndian);
                float f;
                std::memcpy(&f, &bits, 4);
                return std::isfinite(f) ? double(f) : 0.0;
            }
            case 12: {
                const uint64_t bits = (uint64_t(GetU32(p, BigEndian)) << (BigEndian ? 32 : 0)) |
                                      (uint64_t(GetU32(p + 4, BigEndian)) << (BigEndian ? 0 : 32));
                double f;
                std::memcpy(&f, &bits, 8);
                return std::isfinite(f) ? f : 0.0;
            }
            case 6:
                return double(int8_t(p[0]));
            case 8:
                return double(int16_t(GetU16(p, BigEndian)));
            case 9:
                return double(int32_t(GetU32(p, BigEndian)));
            default:
                return double(Integer(i));
        }
    }
};
