#pragma once
// Shared by the text engine's tests and the text view's: documents over bytes in memory, and
// Unicode text in each encoding the engine reads, made and read back without Qt.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "text/TextDocument.h"

namespace texttest {

// A document over `bytes`, its index complete (or after 10 s).
inline std::shared_ptr<TTextDocument> Doc(const std::string& bytes, TEncodingChoice encoding = {}) {
    auto document =
        std::make_shared<TTextDocument>(std::make_shared<TMemorySource>(bytes), encoding);
    for (int i = 0; i < 2000 && !document->IndexComplete(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return document;
}

// `text` (UTF-16, surrogate pairs for astral characters) in a Unicode encoding, no byte-order mark.
inline std::string Encode(const std::u16string& text, TTextEncoding encoding) {
    std::string out;
    auto put = [&](uint32_t v, int unit) {
        const bool little = LittleEndian(encoding);
        for (int k = 0; k < unit; ++k)
            out += static_cast<char>(v >> (8 * (little ? k : unit - 1 - k)));
    };
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size())
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (encoding == TTextEncoding::Utf16LE || encoding == TTextEncoding::Utf16BE) {
            if (cp >= 0x10000) {
                put(0xD800 + ((cp - 0x10000) >> 10), 2);
                cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
            }
            put(cp, 2);
        } else if (encoding != TTextEncoding::Utf8) {
            put(cp, 4);
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else {
            const int tail = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
            const uint8_t lead[] = {0, 0xC0, 0xE0, 0xF0};
            out += static_cast<char>(lead[tail] | (cp >> (6 * tail)));
            for (int k = tail - 1; k >= 0; --k)
                out += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
        }
    }
    return out;
}

// Bytes of a Unicode encoding as UTF-16; a character cut short or malformed reads as U+FFFD.
inline std::u16string Decode(const std::string& bytes, TTextEncoding encoding) {
    std::u16string out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t n = bytes.size(), unit = static_cast<size_t>(UnitSize(encoding));
    auto unitAt = [&](size_t at) {
        uint32_t v = 0;
        for (size_t k = 0; k < unit; ++k)
            v |= uint32_t(p[at + k]) << (8 * (LittleEndian(encoding) ? k : unit - 1 - k));
        return v;
    };
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0xFFFD;
        size_t len = unit;
        if (i + unit > n) {
            len = n - i;
        } else if (unit == 1 && p[i] >= 0x80) {
            const size_t tail = p[i] >= 0xF0 ? 3 : p[i] >= 0xE0 ? 2 : p[i] >= 0xC0 ? 1 : 0;
            len = 1;
            if (tail > 0 && i + tail < n) {
                uint32_t v = p[i] & (0x3F >> tail);
                size_t k = 1;
                for (; k <= tail && (p[i + k] & 0xC0) == 0x80; ++k)
                    v = v << 6 | (p[i + k] & 0x3F);
                if (k > tail) cp = v, len = tail + 1;
            }
        } else {
            cp = unitAt(i);
            if (unit == 2 && cp >= 0xD800 && cp < 0xDC00 && i + 4 <= n) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
                len = 4;
            }
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
        }
        out += static_cast<char16_t>(cp);
        i += len;
    }
    return out;
}

// The byte-order mark of a Unicode encoding.
inline std::string Bom(TTextEncoding encoding) {
    const std::string marks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF",
                                 std::string("\xFF\xFE\0\0", 4), std::string("\0\0\xFE\xFF", 4)};
    return marks[static_cast<int>(encoding)];
}

}  // namespace texttest
