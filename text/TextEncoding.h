#pragma once
// The encodings a text is read in and how one is chosen for a file from its first bytes.
#include <cstddef>
#include <cstdint>
#include <string>

enum class TTextEncoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE, Windows1252, Legacy };

struct TEncodingChoice {
    TTextEncoding encoding = TTextEncoding::Utf8;
    int bomSize = 0;         // bytes of the byte-order mark the text starts after
    std::string legacyName;  // the code page's name for Legacy (as uchardet names it)
    bool binary = false;     // NUL bytes that no wide encoding explains
};

// Bytes per code unit of an encoding (1, 2 or 4).
int UnitSize(TTextEncoding encoding);

// The encoding of a file from its first bytes: a byte-order mark; else UTF-16 recognised by its
// zero bytes; else valid UTF-8 (a character cut at the end of the sample counts as valid unless
// the sample is the whole file); else the code page uchardet guesses from enough non-ASCII bytes;
// else Windows-1252. `binary` is set for NUL bytes in the first 4 KiB of a file that is not UTF-16
// or UTF-32.
TEncodingChoice DetectEncoding(const uint8_t* data, size_t size, bool wholeFile);

// The code page to read bytes in from the detector's guess: empty for Windows-1252 (the guess
// names it, Latin-1 or plain ASCII, or a DOS code page where Windows-1252 reads every byte just
// as well), else the guess in upper case.
std::string PreferredCodePage(std::string guess, const uint8_t* data, size_t size);

// Whether code units of the encoding are stored least significant byte first (also true for the
// 8-bit encodings, whose units are single bytes).
bool LittleEndian(TTextEncoding encoding);
