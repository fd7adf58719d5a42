// Text: the character sets' code pages, the symbol fonts' characters, and text drawn by the
// player (plain and glyph-index strings, spacing, alignment, opaque and clipped rectangles).
#include "render/MetafileText.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <vector>

#include "render/MetafileRecordPlayer.h"

namespace metafile {

namespace {

const char* CodePageOfCharSet(uint8_t charSet) {
    switch (charSet) {
        case 128:
            return "Shift_JIS";
        case 129:
            return "windows-949";  // HANGUL
        case 134:
            return "GBK";  // GB2312
        case 136:
            return "Big5";
        case 161:
            return "windows-1253";
        case 162:
            return "windows-1254";
        case 163:
            return "windows-1258";
        case 177:
            return "windows-1255";
        case 178:
            return "windows-1256";
        case 186:
            return "windows-1257";
        case 204:
            return "windows-1251";
        case 222:
            return "windows-874";
        case 238:
            return "windows-1250";
        default:
            return "windows-1252";  // ANSI, DEFAULT and what has no code page of its own
    }
}

// The Symbol font's byte values 0x20..0xFF as Unicode; 0 where it keeps the ASCII character.
char16_t SymbolChar(uint8_t c) {
    static const char16_t kUpper[26] = {u'Α', u'Β', u'Χ', u'Δ', u'Ε', u'Φ', u'Γ', u'Η', u'Ι',
                                        u'ϑ', u'Κ', u'Λ', u'Μ', u'Ν', u'Ο', u'Π', u'Θ', u'Ρ',
                                        u'Σ', u'Τ', u'Υ', u'ς', u'Ω', u'Ξ', u'Ψ', u'Ζ'};
    static const char16_t kLower[26] = {u'α', u'β', u'χ', u'δ', u'ε', u'φ', u'γ', u'η', u'ι',
                                        u'ϕ', u'κ', u'λ', u'μ', u'ν', u'ο', u'π', u'θ', u'ρ',
                                        u'σ', u'τ', u'υ', u'ϖ', u'ω', u'ξ', u'ψ', u'ζ'};
    // 0xA0..0xFF
    static const char16_t kHigh[96] = {
        u'€', u'ϒ', u'′', u'≤', u'⁄', u'∞', u'ƒ', u'♣', u'♦', u'♥',  u'♠', u'↔',  u'←', u'↑',
        u'→', u'↓', u'°', u'±', u'″', u'≥', u'×', u'∝', u'∂', u'•',  u'÷', u'≠',  u'≡', u'≈',
        u'…', u'⏐', u'⎯', u'↵', u'ℵ', u'ℑ', u'ℜ', u'℘', u'⊗', u'⊕',  u'∅', u'∩',  u'∪', u'⊃',
        u'⊇', u'⊄', u'⊂', u'⊆', u'∈', u'∉', u'∠', u'∇', u'®', u'©',  u'™', u'∏',  u'√', u'⋅',
        u'¬', u'∧', u'∨', u'⇔', u'⇐', u'⇑', u'⇒', u'⇓', u'◊', u'〈', u'®', u'©',  u'™', u'∑',
        u'⎛', u'⎜', u'⎝', u'⎡', u'⎢', u'⎣', u'⎧', u'⎨', u'⎩', u'⎪',  u' ', u'〉', u'∫', u'⌠',
        u'⎮', u'⌡', u'⎞', u'⎟', u'⎠', u'⎤', u'⎥', u'⎦', u'⎫', u'⎬',  u'⎭', u' '};
    if (c >= 'A' && c <= 'Z') return kUpper[c - 'A'];
    if (c >= 'a' && c <= 'z') return kLower[c - 'a'];
    if (c >= 0xA0) return kHigh[c - 0xA0];
    switch (c) {
        case 0x22:
            return u'∀';
        case 0x24:
            return u'∃';
        case 0x27:
            return u'∋';
        case 0x2A:
            return u'∗';
        case 0x2D:
            return u'−';
        case 0x40:
            return u'≅';
        case 0x5C:
            return u'∴';
        case 0x5E:
            return u'⊥';
        case 0x60:
            return u'‾';
        case 0x7E:
            return u'∼';
        default:
            return 0;
    }
}

// The Wingdings glyphs that documents use most (bullets, boxes, ticks, arrows, pointing hands).
char16_t WingdingsChar(uint8_t c) {
    switch (c) {
        case 0x21:
            return u'✏';
        case 0x22:
            return u'✂';
        case 0x28:
            return u'☎';
        case 0x2A:
            return u'✉';
        case 0x3F:
            return u'✍';
        case 0x41:
            return u'✌';
        case 0x45:
            return u'☜';
        case 0x46:
            return u'☞';
        case 0x4A:
            return u'☺';
        case 0x4C:
            return u'☹';
        case 0x4E:
            return u'☠';
        case 0x52:
            return u'☼';
        case 0x54:
            return u'❄';
        case 0x58:
            return u'✠';
        case 0x5B:
            return u'☯';
        case 0x6C:
            return u'●';
        case 0x6D:
            return u'❍';
        case 0x6E:
            return u'■';
        case 0x6F:
            return u'□';
        case 0x70:
            return u'◻';
        case 0x71:
            return u'❑';
        case 0x72:
            return u'❒';
        case 0x73:
        case 0x74:
            return u'⬧';
        case 0x75:
            return u'◆';
        case 0x76:
            return u'❖';
        case 0x77:
            return u'⬥';
        case 0x9F:
            return u'•';
        case 0xA1:
            return u'○';
        case 0xA7:
            return u'▪';
        case 0xA8:
            return u'◻';
        case 0xAB:
            return u'★';
        case 0xD8:
            return u'➢';
        case 0xDF:
            return u'⇦';
        case 0xE0:
            return u'⇨';
        case 0xE1:
            return u'⇧';
        case 0xE2:
            return u'⇩';
        case 0xE8:
            return u'➔';
        case 0xF0:
            return u'⇨';
        case 0xFB:
            return u'✗';
        case 0xFC:
            return u'✓';
        case 0xFD:
            return u'☒';
        case 0xFE:
            return u'☑';
        default:
            return 0;
    }
}

}  // namespace

TSymbolFont SymbolFontOf(const TFontObject& font) {
    const QString face = font.FaceName.trimmed().toLower();
    if (face.startsWith(QLatin1String("wingdings"))) return TSymbolFont::Wingdings;
    if (face == QLatin1String("symbol") || font.CharSet == 2) return TSymbolFont::Symbol;
    return TSymbolFont::None;
}

// Text in a symbol font: its characters (the byte values, or the same values moved to
// U+F020..U+F0FF as Unicode strings carry them) become the Unicode characters they show.
QString MapSymbolText(const QString& text, TSymbolFont kind) {
    if (kind == TSymbolFont::None) return text;
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        char16_t u = ch.unicode();
        if (u >= 0xF000 && u <= 0xF0FF) u = char16_t(u - 0xF000);
        char16_t mapped = 0;
        if (u >= 0x20 && u <= 0xFF)
            mapped =
                kind == TSymbolFont::Symbol ? SymbolChar(uint8_t(u)) : WingdingsChar(uint8_t(u));
        out += mapped != 0 ? QChar(mapped) : QChar(u);
    }
    return out;
}

// An 8-bit string in the font's code page.
QString DecodeText(const uint8_t* bytes, size_t length, const TFontObject& font) {
    const QByteArrayView view(reinterpret_cast<const char*>(bytes), qsizetype(length));
    const TSymbolFont symbol = SymbolFontOf(font);
    if (symbol != TSymbolFont::None) return MapSymbolText(QString::fromLatin1(view), symbol);
    QStringDecoder decoder(CodePageOfCharSet(font.CharSet));
    if (!decoder.isValid()) return QString::fromLatin1(view);
    return decoder.decode(view);
}

// Draws a string at a logical point. dx and dy are the advances from each character to the
// next (logical units) when the file gives them; with ETO_GLYPH_INDEX the characters are the
// font's glyph numbers.
void TRecordPlayer::Text(const QPointF& at, const QString& text, const std::vector<double>& dx,
                         const std::vector<double>& dy, uint32_t options, const QRectF& rect) {
    const QTransform t = Transform();
    if (!t.isInvertible()) return;
    const double scale = DeviceScale();
    // The font's height is in logical units: negative for the character height, positive for
    // the cell height (character plus internal leading).
    // Symbol fonts' text is mapped to the Unicode characters it shows, drawn in a text font.
    const bool faceless = s_.Font.FaceName.isEmpty() ||
                          (SymbolFontOf(s_.Font) != TSymbolFont::None && !(options & 0x10));
    QFont font(faceless ? QStringLiteral("Sans Serif") : s_.Font.FaceName);
    double pixels = std::abs(double(s_.Font.Height)) * scale;
    if (pixels < 1) pixels = 12 * scale < 1 ? 12 : 12 * scale;
    // Glyphs larger than the picture show nothing more.
    const QPaintDevice* device = painter_.device();
    const double largest = device != nullptr ? std::max(device->width(), device->height()) : 4000;
    pixels = std::min({pixels, 4000.0, 2 * largest});
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    if (s_.Font.Height > 0) {
        const QFontMetricsF m(font);
        if (m.height() > 0)
            font.setPixelSize(std::max(1, int(std::lround(pixels * pixels / m.height()))));
    }
    font.setWeight(QFont::Weight(std::clamp(int(s_.Font.Weight), 100, 900)));
    font.setItalic(s_.Font.Italic);
    font.setUnderline(s_.Font.Underline);
    font.setStrikeOut(s_.Font.StrikeOut);
    const QFontMetricsF metrics(font);

    const bool glyphIndices = (options & 0x10) != 0;  // ETO_GLYPH_INDEX
    QRawFont raw;
    QList<quint32> glyphs;
    QList<QPointF> glyphAdvances;
    if (glyphIndices) {
        raw = QRawFont::fromFont(font);
        if (!raw.isValid()) return;
        for (QChar c : text)
            glyphs.push_back(c.unicode());
        glyphAdvances = raw.advancesForGlyphIndexes(glyphs);
    }

    const bool updateCP = (s_.TextAlign & 1) != 0;
    const QPointF origin = t.map(updateCP ? s_.Position : at);
    // Advances in device pixels: the file's spacing when it gives one, else the font's with
    // the extra character spacing and the justification's share on each break character.
    const size_t n = size_t(text.size());
    std::vector<double> advance(n), rise(n, 0.0);
    const double yDirection = t.m22() < 0 ? -1 : 1;
    double total = 0;
    bool spaced = !dx.empty() || glyphIndices;
    for (size_t i = 0; i < n; ++i) {
        if (i < dx.size()) {
            advance[i] = dx[i] * scale;
            if (i < dy.size()) rise[i] = dy[i] * scale * yDirection;
        } else {
            advance[i] =
                glyphIndices
                    ? (qsizetype(i) < glyphAdvances.size() ? glyphAdvances[qsizetype(i)].x() : 0)
                    : metrics.horizontalAdvance(text[qsizetype(i)]);
            double extra = s_.CharExtra;
            if (s_.BreakCount > 0 && text[qsizetype(i)] == QLatin1Char(' '))
                extra += double(s_.BreakExtra) / s_.BreakCount;
            if (extra != 0) {
                advance[i] += extra * scale;
                spaced = true;
            }
        }
        total += advance[i];
    }
    double x = 0;
    switch (s_.TextAlign & 6) {
        case 2:
            x = -total;
            break;  // TA_RIGHT
        case 6:
            x = -total / 2;
            break;  // TA_CENTER
        default:
            break;
    }
    double baseline = 0;
    switch (s_.TextAlign & 24) {
        case 8:
            baseline = -metrics.descent();
            break;  // TA_BOTTOM
        case 24:
            baseline = 0;
            break;  // TA_BASELINE
        default:
            baseline = metrics.ascent();
            break;  // TA_TOP
    }

    painter_.setTransform(QTransform());
    if (s_.HasClip)
        painter_.setClipPath(s_.Clip);
    else
        painter_.setClipping(false);
    if ((options & 0x6) && !rect.isNull()) {
        const QRectF deviceRect = t.mapRect(rect.normalized());
        if (options & 0x2) painter_.fillRect(deviceRect, s_.BkColor);            // ETO_OPAQUE
        if (options & 0x4) painter_.setClipRect(deviceRect, Qt::IntersectClip);  // ETO_CLIPPED
    }
    painter_.translate(origin);
    painter_.rotate(-double(s_.Font.Escapement) / 10.0);
    Reach(painter_.worldTransform().mapRect(
        QRectF(x, baseline - metrics.ascent(), total, metrics.height())));
    if (s_.BkMode == 2)
        painter_.fillRect(QRectF(x, baseline - metrics.ascent(), total, metrics.height()),
                          s_.BkColor);
    painter_.setFont(font);
    painter_.setPen(s_.TextColor);
    if (glyphIndices) {
        if (glyphs.isEmpty()) return;  // Qt cannot draw an empty glyph run
        QList<QPointF> positions;
        double y = baseline;
        for (size_t i = 0; i < n; ++i) {
            positions.push_back(QPointF(x, y));
            x += advance[i];
            y += rise[i];
        }
        QGlyphRun run;
        run.setRawFont(raw);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        run.setUnderline(s_.Font.Underline);
        run.setStrikeOut(s_.Font.StrikeOut);
        painter_.drawGlyphRun(QPointF(0, 0), run);
    } else if (!spaced) {
        painter_.drawText(QPointF(x, baseline), text);
    } else {
        double y = baseline;
        for (size_t i = 0; i < n; ++i) {
            painter_.drawText(QPointF(x, y), QString(text[qsizetype(i)]));
            x += advance[i];
            y += rise[i];
        }
    }
    if (updateCP && scale > 0) {
        const QPointF end = t.inverted().map(origin + QPointF(total, 0));
        s_.Position = QPointF(end.x(), s_.Position.y());
    }
}

// One EMRTEXT at offset in the record: reference point, count, string offset, options,
// rectangle, spacing offset (offsets count from the record's start, 8 bytes before the data).
void TRecordPlayer::EmfText(const TRecordData& r, size_t emrText, bool wide) {
    auto point = [&](size_t o) { return QPointF(r.S32(o), r.S32(o + 4)); };
    const QPointF at = point(emrText);
    const uint32_t n = r.U32(emrText + 8), offString = r.U32(emrText + 12);
    const uint32_t options = r.U32(emrText + 16);
    const QRectF clipRect(point(emrText + 20), point(emrText + 28));
    const uint32_t offDx = r.U32(emrText + 36);
    if (offString < 8 || !r.Has(offString - 8, size_t(n) * (wide ? 2 : 1))) return;
    QString text;
    if (wide) {
        for (uint32_t i = 0; i < n; ++i)
            text += QChar(char16_t(r.U16(offString - 8 + size_t(i) * 2)));
        if (!(options & 0x10)) text = MapSymbolText(text, SymbolFontOf(s_.Font));
    } else {
        text = TextOf(r.Data() + offString - 8, n);
    }
    // ETO_PDY: the spacing holds an x and a y advance for each character.
    const bool pairs = (options & 0x2000) != 0;
    std::vector<double> dx, dy;
    if (offDx >= 8 && r.Has(offDx - 8, size_t(n) * (pairs ? 8 : 4)) && size_t(text.size()) == n)
        for (uint32_t i = 0; i < n; ++i) {
            const size_t o = offDx - 8 + size_t(i) * (pairs ? 8 : 4);
            dx.push_back(r.S32(o));
            if (pairs) dy.push_back(r.S32(o + 4));
        }
    Text(at, text, dx, dy, options, clipRect);
}

}  // namespace metafile
