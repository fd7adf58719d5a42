#pragma once
// Text of metafile records. An 8-bit string is in the code page of its font's character set;
// symbol fonts (Symbol, Wingdings) put their own glyphs on the byte values and are mapped to the
// Unicode characters that look the same. The player's text drawing is in MetafileText.cpp.
#include <QString>
#include <cstddef>
#include <cstdint>

#include "render/MetafileDeviceContext.h"

namespace metafile {

enum class TSymbolFont { None, Symbol, Wingdings };

// The symbol font that a font object names, if any.
TSymbolFont SymbolFontOf(const TFontObject& font);

// Text in a symbol font: its characters (the byte values, or the same values moved to
// U+F020..U+F0FF as Unicode strings carry them) become the Unicode characters they show.
QString MapSymbolText(const QString& text, TSymbolFont kind);

// An 8-bit string in the font's code page.
QString DecodeText(const uint8_t* bytes, size_t length, const TFontObject& font);

}  // namespace metafile
