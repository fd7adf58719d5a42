#include "text/TextEncoding.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>

namespace {

constexpr size_t kSample = 64 * 1024;
constexpr size_t kBinarySample = 4096;
// uchardet is asked only when the sample has this many non-ASCII bytes: on a handful of accented
// letters its guesses are noise, and Windows-1252 is the better default.
constexpr size_t kGuessMinimum = 32;

bool ValidUtf8(const uint8_t* p, size_t n, bool wholeFile) {
    size_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t min;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) {
            // A character cut by the end of the sample is judged by the bytes it has.
            if (wholeFile) return false;
            for (size_t k = i + 1; k < n; ++k)
                if ((p[k] & 0xC0) != 0x80) return false;
            return true;
        }
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::string GuessCodePage(const uint8_t* p, size_t n) {
    uchardet_t detector = uchardet_new();
    if (!detector) return {};
    std::string name;
    if (uchardet_handle_data(detector, reinterpret_cast<const char*>(p), n) == 0) {
        uchardet_data_end(detector);
        if (const char* charset = uchardet_get_charset(detector)) name = charset;
    }
    uchardet_delete(detector);
    return name;
}

}  // namespace

int UnitSize(TTextEncoding encoding) {
    switch (encoding) {
        case TTextEncoding::Utf16LE:
        case TTextEncoding::Utf16BE:
            return 2;
        case TTextEncoding::Utf32LE:
        case TTextEncoding::Utf32BE:
            return 4;
        default:
            return 1;
    }
}

TEncodingChoice DetectEncoding(const uint8_t* p, size_t size, bool wholeFile) {
    TEncodingChoice c;
    auto starts = [&](std::initializer_list<uint8_t> bom) {
        return size >= bom.size() && std::equal(bom.begin(), bom.end(), p);
    };
    if (starts({0xEF, 0xBB, 0xBF})) return {TTextEncoding::Utf8, 3, {}, false};
    if (starts({0xFF, 0xFE, 0x00, 0x00})) return {TTextEncoding::Utf32LE, 4, {}, false};
    if (starts({0x00, 0x00, 0xFE, 0xFF})) return {TTextEncoding::Utf32BE, 4, {}, false};
    if (starts({0xFF, 0xFE})) return {TTextEncoding::Utf16LE, 2, {}, false};
    if (starts({0xFE, 0xFF})) return {TTextEncoding::Utf16BE, 2, {}, false};

    const size_t n = std::min(size, kSample);
    // UTF-16 without a mark: text in Latin script has a zero in nearly every other byte.
    size_t zeroEven = 0, zeroOdd = 0;
    for (size_t i = 0; i + 1 < n; i += 2) {
        zeroEven += p[i] == 0;
        zeroOdd += p[i + 1] == 0;
    }
    const size_t pairs = n / 2;
    if (pairs >= 2) {
        if (zeroOdd * 10 >= pairs * 3 && zeroEven * 20 <= pairs)
            return {TTextEncoding::Utf16LE, 0, {}, false};
        if (zeroEven * 10 >= pairs * 3 && zeroOdd * 20 <= pairs)
            return {TTextEncoding::Utf16BE, 0, {}, false};
    }
    c.binary = std::memchr(p, 0, std::min(size, kBinarySample)) != nullptr;
    const bool whole = wholeFile && n == size;
    if (ValidUtf8(p, n, whole)) {
        c.encoding = TTextEncoding::Utf8;
        return c;
    }
    c.encoding = TTextEncoding::Windows1252;
    if (c.binary) return c;
    size_t high = 0;
    for (size_t i = 0; i < n; ++i)
        high += p[i] >= 0x80;
    if (high < kGuessMinimum) return c;
    const std::string name = PreferredCodePage(GuessCodePage(p, n), p, n);
    if (name.empty()) return c;
    c.encoding = TTextEncoding::Legacy;
    c.legacyName = name;
    return c;
}

std::string PreferredCodePage(std::string guess, const uint8_t* data, size_t size) {
    for (char& ch : guess)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (guess.empty() || guess == "ASCII" || guess == "UTF-8" || guess == "WINDOWS-1252" ||
        guess == "ISO-8859-1")
        return {};
    // A DOS code page (IBM437, IBM850, CP852, ...) is rarely what a file of today holds: West
    // European prose in Latin-1 or Windows-1252 is often taken for one. Windows-1252 wins
    // whenever it can read every byte (it leaves five of them undefined).
    const bool dos = guess.rfind("IBM", 0) == 0 ||
                     (guess.rfind("CP", 0) == 0 && guess.size() <= 5 && guess.size() > 2 &&
                      std::all_of(guess.begin() + 2, guess.end(),
                                  [](char ch) { return ch >= '0' && ch <= '9'; }));
    if (dos && std::none_of(data, data + size, [](uint8_t b) {
            return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        }))
        return {};
    return guess;
}

bool LittleEndian(TTextEncoding encoding) {
    return encoding != TTextEncoding::Utf16BE && encoding != TTextEncoding::Utf32BE;
}
