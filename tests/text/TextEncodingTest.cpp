// Choosing a file's encoding from its first bytes.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "text/TextEncoding.h"
#include "text/TextTestHelpers.h"

using texttest::Encode;

TEST(TextEncoding, EachDecision) {
    std::string cyrillic;  // Windows-1251 Russian text, enough for a guess
    for (int i = 0; i < 20; ++i)
        cyrillic += "\xcf\xf0\xe8\xe2\xe5\xf2, \xea\xe0\xea \xe4\xe5\xeb\xe0? ";
    // West European prose in Latin-1 and Windows-1252, with enough accents for a guess.
    std::string german, french;
    for (int i = 0; i < 4; ++i) {
        german +=
            "Gr\xF6\xDF"
            "ere \xC4pfel schmecken s\xFC\xDF, w\xE4hrend die B\xE4ume im "
            "Fr\xFChling bl\xFChen. \xDC"
            "ber den Fl\xFCssen liegt Nebel. ";
        french +=
            "L\x92\xE9t\xE9 dernier, nous sommes all\xE9s \xE0 la mer. Le gar\xE7on a "
            "mang\xE9 des cr\xEApes pr\xE8s de l\x92h\xF4tel. ";
    }
    std::string cut(64 * 1024 - 1, 'a');
    cut += "\xc3";  // the first byte of a two-byte character at the sample's end
    const struct {
        const char* name;
        std::string bytes;
        bool whole;
        TTextEncoding encoding;
        int bom;
        bool binary;
    } cases[] = {
        {"utf-8 mark", "\xEF\xBB\xBFhi", true, TTextEncoding::Utf8, 3, false},
        {"utf-16le mark", std::string("\xFF\xFEh\0i\0", 6), true, TTextEncoding::Utf16LE, 2, false},
        {"utf-16be mark", std::string("\xFE\xFF\0h\0i", 6), true, TTextEncoding::Utf16BE, 2, false},
        {"utf-32le mark", std::string("\xFF\xFE\0\0h\0\0\0", 8), true, TTextEncoding::Utf32LE, 4,
         false},
        {"utf-32be mark", std::string("\0\0\xFE\xFF\0\0\0h", 8), true, TTextEncoding::Utf32BE, 4,
         false},
        {"utf-16le zeros", Encode(u"plain text\r\n", TTextEncoding::Utf16LE), true,
         TTextEncoding::Utf16LE, 0, false},
        {"utf-16be zeros", std::string("\0p\0l\0a\0i\0n", 10), true, TTextEncoding::Utf16BE, 0,
         false},
        {"valid utf-8", "caf\xC3\xA9", true, TTextEncoding::Utf8, 0, false},
        {"cut at the sample's end", cut, false, TTextEncoding::Utf8, 0, false},
        {"cut at the file's end", "ab\xC3", true, TTextEncoding::Windows1252, 0, false},
        {"few accents", "caf\xE9", true, TTextEncoding::Windows1252, 0, false},
        {"guessed code page", cyrillic, true, TTextEncoding::Legacy, 0, false},
        {"german latin-1 prose", german, true, TTextEncoding::Windows1252, 0, false},
        {"french windows-1252 prose", french, true, TTextEncoding::Windows1252, 0, false},
        {"binary",
         std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                     20),
         true, TTextEncoding::Utf8, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TEncodingChoice e = DetectEncoding(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                                 c.bytes.size(), c.whole);
        EXPECT_EQ(e.encoding, c.encoding);
        EXPECT_EQ(e.bomSize, c.bom);
        EXPECT_EQ(e.binary, c.binary);
    }
    EXPECT_EQ(
        DetectEncoding(reinterpret_cast<const uint8_t*>(cyrillic.data()), cyrillic.size(), true)
            .legacyName,
        "WINDOWS-1251");
}

// A DOS code page guessed for bytes that Windows-1252 reads as well gives way to it.
TEST(TextEncoding, WindowsCodePageBeforeADosGuess) {
    const std::string prose =
        "Gr\xFC\xDF"
        "e aus K\xF6ln, sch\xF6ne Gr\xFC\xDF"
        "e";
    const std::string undefined = prose + "\x81";  // no character in Windows-1252
    const struct {
        const char* guess;
        std::string bytes;
        const char* chosen;  // "" for Windows-1252
    } cases[] = {
        {"IBM850", prose, ""},
        {"ibm852", prose, ""},
        {"CP437", prose, ""},
        {"IBM850", undefined, "IBM850"},
        {"ISO-8859-1", prose, ""},
        {"WINDOWS-1252", prose, ""},
        {"windows-1251", prose, "WINDOWS-1251"},
        {"KOI8-R", prose, "KOI8-R"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.guess);
        EXPECT_EQ(PreferredCodePage(c.guess, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                    c.bytes.size()),
                  c.chosen);
    }
}
