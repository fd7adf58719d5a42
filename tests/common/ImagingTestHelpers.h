#pragma once
// Helpers shared by the imaging tests: byte builders in either byte order, loading a graphic
// from bytes, the message of a failed load, a guard for the pixel limit, a reader for the
// binary portable maps (PBM, PGM, PPM, PAM) that reference tools write, running such a tool,
// and a bitmap's pixels as plain RGBA.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"

namespace testhelp {

using Bytes = std::vector<uint8_t>;

// Appends values to a byte vector in the byte order the file format wants.
inline void Put8(Bytes& v, uint32_t x) {
    v.push_back(uint8_t(x));
}
inline void Put16LE(Bytes& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
inline void Put16BE(Bytes& v, uint32_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
inline void Put32LE(Bytes& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}
inline void Put32BE(Bytes& v, uint32_t x) {
    for (int i = 3; i >= 0; --i)
        v.push_back(uint8_t(x >> (8 * i)));
}
inline void Put16(Bytes& v, uint32_t x, bool bigEndian) {
    bigEndian ? Put16BE(v, x) : Put16LE(v, x);
}
inline void Put32(Bytes& v, uint32_t x, bool bigEndian) {
    bigEndian ? Put32BE(v, x) : Put32LE(v, x);
}
inline void PutBytes(Bytes& v, const Bytes& more) {
    v.insert(v.end(), more.begin(), more.end());
}
inline void PutText(Bytes& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
}

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The file with its last count bytes (at most all) set to zero: for containers that keep the
// coded picture at the end, a header that reads with data that does not decode.
inline Bytes ZeroTail(Bytes file, size_t count) {
    std::fill(file.end() - std::ptrdiff_t(std::min(count, file.size())), file.end(), 0);
    return file;
}

inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Loads graphic from the bytes through LoadFromStream.
template <class G>
void LoadBytes(G& graphic, const Bytes& bytes) {
    TMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    graphic.LoadFromStream(stream);
}

// The message of the imaging error that loading the bytes raises: "no error" when the load
// succeeds, the message prefixed "other: " when the error is not an EInvalidGraphic.
template <class G>
std::string LoadError(const Bytes& bytes) {
    G graphic;
    try {
        LoadBytes(graphic, bytes);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    } catch (const EImagingError& e) {
        return std::string("other: ") + e.what();
    }
    return "no error";
}

// Lowers the pixel limit for one test and restores it afterwards.
struct TPixelLimit {
    uint64_t saved = TBitmap::MaxPixels();
    explicit TPixelLimit(uint64_t limit) { TBitmap::SetMaxPixels(limit); }
    ~TPixelLimit() { TBitmap::SetMaxPixels(saved); }
    TPixelLimit(const TPixelLimit&) = delete;
    TPixelLimit& operator=(const TPixelLimit&) = delete;
};

// A binary portable map: P4 (bits), P5 (gray), P6 (RGB) or P7 (PAM, any depth). Samples of
// maxval 256 and more are two bytes, most significant first. A P4 file is held as depth 1,
// maxval 1 with 1 for white (the file's 0 bits), like a gray map.
struct TPnm {
    int width = 0, height = 0, depth = 0, maxval = 0;
    std::vector<uint32_t> samples;  // row by row, depth samples a pixel
    Bytes raster;                   // the pixel data exactly as the file stores it
    bool valid = false;

    uint32_t Sample(int x, int y, int c) const {
        return samples[(size_t(y) * size_t(width) + size_t(x)) * size_t(depth) + size_t(c)];
    }
};

// Parses a binary portable map; valid is false when the bytes are not one.
inline TPnm ParsePnm(const Bytes& bytes) {
    TPnm pnm;
    if (bytes.size() < 3 || bytes[0] != 'P' || bytes[1] < '4' || bytes[1] > '7') return pnm;
    const char kind = char(bytes[1]);
    size_t pos = 2;
    auto skipSpace = [&] {
        for (;;) {
            while (pos < bytes.size() && std::isspace(bytes[pos]))
                ++pos;
            if (pos < bytes.size() && bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            } else {
                return;
            }
        }
    };
    auto word = [&] {
        skipSpace();
        std::string w;
        while (pos < bytes.size() && !std::isspace(bytes[pos]))
            w += char(bytes[pos++]);
        return w;
    };
    auto number = [&] {
        const std::string w = word();
        return w.empty() || !std::isdigit(uint8_t(w[0])) ? -1 : std::stoi(w);
    };
    if (kind == '7') {
        for (std::string key = word(); key != "ENDHDR"; key = word()) {
            if (key.empty()) return pnm;
            if (key == "WIDTH")
                pnm.width = number();
            else if (key == "HEIGHT")
                pnm.height = number();
            else if (key == "DEPTH")
                pnm.depth = number();
            else if (key == "MAXVAL")
                pnm.maxval = number();
            else if (key == "TUPLTYPE")
                word();
        }
    } else {
        pnm.width = number();
        pnm.height = number();
        pnm.depth = kind == '6' ? 3 : 1;
        pnm.maxval = kind == '4' ? 1 : number();
    }
    ++pos;  // the single white-space character after the header
    if (pnm.width <= 0 || pnm.height <= 0 || pnm.depth <= 0 || pnm.maxval <= 0 ||
        pnm.maxval > 65535)
        return pnm;
    const size_t count = size_t(pnm.width) * size_t(pnm.height) * size_t(pnm.depth);
    pnm.samples.reserve(count);
    pnm.raster.assign(bytes.begin() + std::ptrdiff_t(std::min(pos, bytes.size())), bytes.end());
    if (kind == '4') {
        const size_t rowBytes = (size_t(pnm.width) + 7) / 8;
        if (bytes.size() < pos + rowBytes * size_t(pnm.height)) return pnm;
        for (int y = 0; y < pnm.height; ++y)
            for (int x = 0; x < pnm.width; ++x) {
                const uint8_t b = bytes[pos + size_t(y) * rowBytes + size_t(x) / 8];
                pnm.samples.push_back(((b >> (7 - x % 8)) & 1) ? 0 : 1);
            }
    } else {
        const size_t size = pnm.maxval > 255 ? 2 : 1;
        if (bytes.size() < pos + count * size) return pnm;
        for (size_t i = 0; i < count; ++i, pos += size)
            pnm.samples.push_back(size == 2 ? uint32_t(bytes[pos] << 8 | bytes[pos + 1])
                                            : bytes[pos]);
    }
    pnm.valid = true;
    return pnm;
}

// A reference decoder's RGB or RGBA map as 8-bit RGBA (opaque without alpha). Samples above 8
// bits hold bits significant bits at their top (as 16-bit PNG writers shift them) and are
// rounded to 8 bits.
inline Bytes ReferenceRGBA(const TPnm& ref, int bits) {
    const uint32_t max = (1u << bits) - 1;
    Bytes rgba;
    for (size_t i = 0; i < ref.samples.size(); ++i) {
        const uint32_t v = ref.maxval > 255 ? ref.samples[i] >> (16 - bits) : ref.samples[i];
        rgba.push_back(ref.maxval > 255 ? uint8_t((v * 255 + max / 2) / max) : uint8_t(v));
        if (ref.depth == 3 && i % 3 == 2) rgba.push_back(255);
    }
    return rgba;
}

inline TPnm ReadPnm(const std::filesystem::path& path) {
    return ParsePnm(ReadFileBytes(path));
}

// A portable map's pixels as 8-bit red, green, blue, alpha: samples scaled to 255 with
// rounding, grey spread over the three colours, alpha 255 where the map has none.
inline Bytes PnmRGBA8(const TPnm& pnm) {
    Bytes rgba;
    const uint64_t max = uint64_t(std::max(pnm.maxval, 1));
    for (int y = 0; y < pnm.height; ++y)
        for (int x = 0; x < pnm.width; ++x)
            for (int c = 0; c < 4; ++c) {
                const bool alpha = c == 3;
                if (alpha && pnm.depth != 2 && pnm.depth != 4) {
                    rgba.push_back(255);
                    continue;
                }
                const int s = alpha ? pnm.depth - 1 : pnm.depth >= 3 ? c : 0;
                rgba.push_back(uint8_t((pnm.Sample(x, y, s) * 255 + max / 2) / max));
            }
    return rgba;
}

// Writes head and then body to a file.
inline void WriteFileBytes(const std::filesystem::path& path, const std::string& head,
                           const Bytes& body) {
    std::ofstream out(path, std::ios::binary);
    out << head;
    out.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

// Samples of a smooth w x h test picture, one or two bytes (most significant first) each.
inline Bytes RampSamples(int w, int h, int samples, int bytes) {
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) {
                const unsigned v =
                    unsigned(x * 37 + y * 91 + c * 61 + x * y) * (bytes == 2 ? 97 : 1);
                if (bytes == 2) b.push_back(uint8_t(v >> 8));
                b.push_back(uint8_t(v));
            }
    return b;
}

// Runs a shell command and returns what it wrote to standard output; ok is false when it
// failed (a non-zero exit status or no output).
inline Bytes RunCommand(const std::string& command, bool& ok) {
    Bytes out;
    ok = false;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    ok = pclose(pipe) == 0 && !out.empty();
    return out;
}

// Whether a program of that name is on the PATH (reference tools are optional).
inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Quotes a path for the shell.
inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The bitmap's pixels as red, green, blue, alpha bytes, row by row (palettes expanded; alpha
// 255 where the pixel format has none).
inline Bytes BitmapRGBA(const TBitmap& bitmap) {
    Bytes rgba(size_t(bitmap.Width()) * size_t(bitmap.Height()) * 4);
    Bytes row(size_t(bitmap.Width()) * 4);
    for (int y = 0; y < bitmap.Height(); ++y) {
        ConvertScanLineToBGRA(bitmap, y, row.data());
        uint8_t* out = rgba.data() + size_t(y) * row.size();
        for (size_t i = 0; i < row.size(); i += 4) {
            out[i] = row[i + 2];
            out[i + 1] = row[i + 1];
            out[i + 2] = row[i];
            out[i + 3] = row[i + 3];
        }
    }
    return rgba;
}

// The largest difference of two byte strings of one length; 256 when the lengths differ.
inline int MaxDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 256;
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i)
        most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    return most;
}

}  // namespace testhelp
