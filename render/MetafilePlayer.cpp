#include "render/MetafilePlayer.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QStringDecoder>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/formats/GIFGraphic.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/PNGGraphic.h"
#include "imaging/formats/WindowsBitmap.h"
#include "render/ImageToBitmap.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Bounded access to one record's bytes: reads outside the record give 0.

class TRecordData {
  public:
    TRecordData(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }
    bool Has(size_t offset, size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint16_t U16(size_t o) const { return Has(o, 2) ? GetU16LE(data_ + o) : 0; }
    int16_t S16(size_t o) const { return static_cast<int16_t>(U16(o)); }
    uint32_t U32(size_t o) const { return Has(o, 4) ? GetU32LE(data_ + o) : 0; }
    int32_t S32(size_t o) const { return static_cast<int32_t>(U32(o)); }
    float F32(size_t o) const {
        const uint32_t bits = U32(o);
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0f;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

QColor ColorRef(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// ---------------------------------------------------------------------------------------------
// Objects of the device context.

struct TPenObject {
    uint32_t Style = 0;  // PS_* with end cap and join bits
    double Width = 0;    // logical units; 0 is one device pixel
    QColor Color = Qt::black;
};

struct TBrushObject {
    uint32_t Style = 0;  // BS_SOLID 0, BS_NULL 1, BS_HATCHED 2, BS_PATTERN 3, BS_DIBPATTERN 5/6
    QColor Color = Qt::white;
    uint32_t Hatch = 0;
    QImage Pattern;
};

struct TFontObject {
    int32_t Height = -12;
    int32_t Escapement = 0;  // tenths of a degree, counter-clockwise
    int32_t Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    uint8_t CharSet = 1;  // DEFAULT_CHARSET
    QString FaceName;
};

// ---------------------------------------------------------------------------------------------
// Text encodings. An 8-bit string is in the code page of its font's character set; symbol fonts
// (Symbol, Wingdings) put their own glyphs on the byte values and are mapped to the Unicode
// characters that look the same.

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

enum class TSymbolFont { None, Symbol, Wingdings };

TSymbolFont SymbolFontOf(const TFontObject& font) {
    const QString face = font.FaceName.trimmed().toLower();
    if (face.startsWith(QLatin1String("wingdings"))) return TSymbolFont::Wingdings;
    if (face == QLatin1String("symbol") || font.CharSet == 2) return TSymbolFont::Symbol;
    return TSymbolFont::None;
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

struct TRegionObject {
    QPainterPath Path;  // logical units
};

using TObject = std::variant<std::monostate, TPenObject, TBrushObject, TFontObject, TRegionObject>;

// Stock objects of enhanced metafiles (index 0x80000000 + n).
std::optional<TObject> StockObject(uint32_t index) {
    switch (index & 0x7FFFFFFF) {
        case 0:
            return TBrushObject{0, Qt::white, 0, {}};
        case 1:
            return TBrushObject{0, QColor(192, 192, 192), 0, {}};
        case 2:
            return TBrushObject{0, QColor(128, 128, 128), 0, {}};
        case 3:
            return TBrushObject{0, QColor(64, 64, 64), 0, {}};
        case 4:
            return TBrushObject{0, Qt::black, 0, {}};
        case 5:
            return TBrushObject{1, Qt::black, 0, {}};
        case 6:
            return TPenObject{0, 0, Qt::white};
        case 7:
            return TPenObject{0, 0, Qt::black};
        case 8:
            return TPenObject{5, 0, Qt::black};
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 16:
        case 17:
            return TFontObject{};
        default:
            return std::nullopt;
    }
}

// ---------------------------------------------------------------------------------------------
// The device context's state, saved and restored as a whole.

enum TMapMode {
    mmText = 1,
    mmLoMetric,
    mmHiMetric,
    mmLoEnglish,
    mmHiEnglish,
    mmTwips,
    mmIsotropic,
    mmAnisotropic
};

struct TState {
    TPenObject Pen{0, 0, Qt::black};
    TBrushObject Brush{0, Qt::white, 0, {}};
    TFontObject Font;
    QColor TextColor = Qt::black;
    QColor BkColor = Qt::white;
    int BkMode = 2;  // TRANSPARENT 1, OPAQUE 2
    uint32_t TextAlign = 0;
    int PolyFillMode = 1;  // ALTERNATE 1, WINDING 2
    int Rop2 = 13;         // R2_COPYPEN
    int MapMode = mmText;
    QPointF WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    QTransform World;
    bool HasClip = false;
    QPainterPath Clip;  // device pixels
    bool HasMeta = false;
    QPainterPath Meta;  // the meta region (device pixels): every clip lies inside it
    QPointF Position;   // current position, logical units
    bool Clockwise = false;
    double CharExtra = 0;  // logical units added to every character's advance
    int BreakCount = 0;    // justification: BreakExtra logical units over BreakCount breaks
    double BreakExtra = 0;
};

// ---------------------------------------------------------------------------------------------

// ---- EMF+ -----------------------------------------------------------------------------------
// GDI+ writes its drawing as EMF+ records inside comment records. Once a file's EMF+ header is
// read, the EMF+ records draw and the plain records (GDI+'s fallback for older readers) are
// skipped, but for those that follow a GetDC record, which GDI+ drew through the device context.

// Sequential bounded reading of one EMF+ record or object; a read past the end fails the
// reader and gives 0.
class TPlusReader {
  public:
    explicit TPlusReader(const TRecordData& r, size_t at = 0) : r_(r), at_(at) {}
    bool Ok() const { return ok_; }
    size_t Remaining() const { return ok_ && at_ <= r_.Size() ? r_.Size() - at_ : 0; }
    bool Need(size_t n) {
        if (ok_ && !r_.Has(at_, n)) ok_ = false;
        return ok_;
    }
    uint32_t U32() { return Need(4) ? (at_ += 4, r_.U32(at_ - 4)) : 0; }
    int32_t S32() { return int32_t(U32()); }
    int16_t S16() { return Need(2) ? (at_ += 2, r_.S16(at_ - 2)) : 0; }
    uint16_t U16() { return uint16_t(S16()); }
    uint8_t U8() { return Need(1) ? r_.Data()[at_++] : 0; }
    // Coordinates beyond a million units show nothing more and are kept from Qt's integers.
    double F32() {
        return Need(4) ? (at_ += 4, std::clamp(double(r_.F32(at_ - 4)), -1e6, 1e6)) : 0;
    }
    const uint8_t* Bytes(size_t n) { return Need(n) ? (at_ += n, r_.Data() + at_ - n) : nullptr; }
    void Skip(size_t n) { Bytes(n); }
    // A count of items of at least `each` bytes that the data can still hold, else 0 and failed.
    uint32_t Count(size_t each) {
        const uint32_t n = U32();
        if (each != 0 && n > Remaining() / each) {
            ok_ = false;
            return 0;
        }
        return n;
    }

  private:
    const TRecordData& r_;
    size_t at_;
    bool ok_ = true;
};

QColor Argb(uint32_t v) {
    return QColor::fromRgba(QRgb(v));
}

QTransform ReadMatrix(TPlusReader& in) {
    const double m11 = in.F32(), m12 = in.F32(), m21 = in.F32(), m22 = in.F32();
    const double dx = in.F32(), dy = in.F32();
    return QTransform(m11, m12, m21, m22, dx, dy);
}

// A coordinate of a relative point: 7 bits in one byte or 15 bits in two (big-endian).
double RelativeValue(TPlusReader& in) {
    const uint8_t first = in.U8();
    if (!(first & 0x80)) return (first & 0x40) ? int(first) - 128 : int(first);
    const int value = ((first & 0x7F) << 8) | in.U8();
    return (value & 0x4000) ? value - 0x8000 : value;
}

// Points of a record or path: floats, 16-bit integers (flag C) or offsets from the previous
// point (flag P).
std::vector<QPointF> ReadPlusPoints(TPlusReader& in, uint32_t count, uint32_t flags) {
    std::vector<QPointF> points;
    const bool relative = (flags & 0x0800) != 0, compressed = (flags & 0x4000) != 0;
    const size_t each = relative ? 2 : compressed ? 4 : 8;
    if (count > in.Remaining() / each) return points;
    points.reserve(count);
    QPointF at;
    for (uint32_t i = 0; i < count && in.Ok(); ++i) {
        if (relative) {
            const double x = RelativeValue(in);
            at += QPointF(x, RelativeValue(in));
            points.push_back(at);
        } else if (compressed) {
            const double x = in.S16();
            points.emplace_back(x, in.S16());
        } else {
            const double x = in.F32();
            points.emplace_back(x, in.F32());
        }
    }
    if (!in.Ok()) points.clear();
    return points;
}

QRectF ReadPlusRect(TPlusReader& in, bool compressed) {
    double v[4];
    for (double& x : v)
        x = compressed ? double(in.S16()) : in.F32();
    return QRectF(v[0], v[1], v[2], v[3]);
}

QPainterPath ReadPlusPath(TPlusReader& in) {
    QPainterPath path;
    in.U32();  // version
    const uint32_t count = in.U32();
    const uint32_t flags = in.U32();
    const std::vector<QPointF> points = ReadPlusPoints(in, count, flags);
    if (points.size() != count) return path;
    std::vector<uint8_t> types;
    types.reserve(count);
    while (types.size() < count && in.Ok()) {
        if (flags & 0x1000) {  // run-length coded types
            const uint8_t run = in.U8() & 0x3F;
            const uint8_t type = in.U8();
            for (uint8_t k = 0; k < run && types.size() < count; ++k)
                types.push_back(type);
        } else {
            types.push_back(in.U8());
        }
    }
    if (types.size() != count) return path;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t kind = types[i] & 0x07;
        if (kind == 0 || path.elementCount() == 0) {
            path.moveTo(points[i]);
        } else if (kind == 3 && i + 2 < count) {
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
        } else {
            path.lineTo(points[i]);
        }
        if (types[i] & 0x80) path.closeSubpath();
    }
    return path;
}

QImage BitmapToImage(const TBitmap& bitmap) {
    QImage image(bitmap.Width(), bitmap.Height(),
                 BitmapHasAlpha(bitmap) ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < bitmap.Height() && !image.isNull(); ++y)
        ConvertScanLineToBGRA(bitmap, y, image.scanLine(y));
    return image;
}

// A compressed picture embedded in the file, read by the imaging library's own loaders.
QImage DecodeEmbeddedPicture(const uint8_t* p, size_t n) {
    std::unique_ptr<TGraphic> graphic;
    if (n >= 8 && std::memcmp(p, "\x89PNG", 4) == 0)
        graphic = std::make_unique<TPNGGraphic>();
    else if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8)
        graphic = std::make_unique<TJPEGImage>();
    else if (n >= 6 && std::memcmp(p, "GIF8", 4) == 0)
        graphic = std::make_unique<TGIFGraphic>();
    if (graphic == nullptr) return QImage();
    try {
        TMemoryStream stream(p, int64_t(n));
        graphic->LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(*graphic);
        TBitmap::CheckSize(bitmap.Width(), bitmap.Height());
        return BitmapToImage(bitmap);
    } catch (const std::exception&) {
        return QImage();  // a damaged picture is left out
    }
}

QImage ReadPlusImage(TPlusReader& in) {
    in.U32();                            // version
    if (in.U32() != 1) return QImage();  // only bitmaps; embedded metafiles are left out
    const int32_t width = in.S32(), height = in.S32(), stride = in.S32();
    const uint32_t format = in.U32(), kind = in.U32();
    if (!in.Ok()) return QImage();
    if (kind == 1) {
        const size_t n = in.Remaining();
        return DecodeEmbeddedPicture(in.Bytes(n), n);
    }
    if (width <= 0 || height <= 0 || width > TMetafile::kMaxSide || height > TMetafile::kMaxSide)
        return QImage();
    std::vector<QRgb> palette;
    if (format & 0x10000) {  // indexed: a palette comes first
        in.U32();
        const uint32_t colours = in.Count(4);
        for (uint32_t i = 0; i < colours && i < 256; ++i)
            palette.push_back(in.U32());
        in.Skip(size_t(colours > 256 ? colours - 256 : 0) * 4);
    }
    const int bits = int((format >> 8) & 0xFF);
    if (stride <= 0 || int64_t(stride) * 8 < int64_t(width) * bits) return QImage();
    const uint8_t* pixels = in.Bytes(size_t(stride) * size_t(height));
    if (pixels == nullptr) return QImage();
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(stride);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            switch (format) {
                case 0x0026200A:  // 32 bits ARGB
                    out[x] = GetU32LE(row + 4 * x);
                    break;
                case 0x000E200B: {  // 32 bits premultiplied ARGB
                    const QRgb p = GetU32LE(row + 4 * x);
                    out[x] = qUnpremultiply(p);
                    break;
                }
                case 0x00022009:  // 32 bits RGB
                    out[x] = GetU32LE(row + 4 * x) | 0xFF000000u;
                    break;
                case 0x00021808:  // 24 bits RGB
                    out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                    break;
                case 0x00030803:
                case 0x00030402:
                case 0x00030101: {  // indexed
                    const int shift = 8 - bits - (x * bits) % 8;
                    const size_t index =
                        (row[size_t(x) * size_t(bits) / 8] >> shift) & ((1u << bits) - 1);
                    out[x] = index < palette.size() ? palette[index] : 0xFF000000u;
                    break;
                }
                default:
                    return QImage();
            }
        }
    }
    return image;
}

struct TPlusBrush {
    QBrush Brush;
    QColor Back;  // a hatch's background
    bool HasBack = false;
};

void SetGradientStops(QGradient& g, const std::vector<double>& positions,
                      const std::vector<QColor>& colors) {
    QGradientStops stops;
    for (size_t i = 0; i < positions.size() && i < colors.size(); ++i)
        stops.append({std::clamp(positions[i], 0.0, 1.0), colors[i]});
    std::stable_sort(
        stops.begin(), stops.end(),
        [](const QGradientStop& a, const QGradientStop& b) { return a.first < b.first; });
    if (stops.size() >= 2) g.setStops(stops);
}

QColor Mix(const QColor& a, const QColor& b, double f) {
    f = std::clamp(f, 0.0, 1.0);
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * f),
                            float(a.greenF() + (b.greenF() - a.greenF()) * f),
                            float(a.blueF() + (b.blueF() - a.blueF()) * f),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * f));
}

TPlusBrush ReadPlusBrush(TPlusReader& in) {
    TPlusBrush b;
    in.U32();  // version
    const uint32_t type = in.U32();
    switch (type) {
        case 0:  // solid
            b.Brush = QBrush(Argb(in.U32()));
            break;
        case 1: {  // hatch: style, fore and back colours
            static const Qt::BrushStyle kHatch[] = {Qt::HorPattern,   Qt::VerPattern,
                                                    Qt::BDiagPattern, Qt::FDiagPattern,
                                                    Qt::CrossPattern, Qt::DiagCrossPattern};
            const uint32_t style = in.U32();
            const QColor fore = Argb(in.U32());
            b.Back = Argb(in.U32());
            b.HasBack = true;
            // The percentage and other patterns: the dense pattern of a similar coverage.
            b.Brush = QBrush(fore, style < 6 ? kHatch[style] : Qt::Dense5Pattern);
            break;
        }
        case 2: {  // texture: flags, wrap, [transform], image
            const uint32_t flags = in.U32();
            in.S32();
            const QTransform t = (flags & 0x02) ? ReadMatrix(in) : QTransform();
            const QImage image = ReadPlusImage(in);
            if (image.isNull()) return b;
            b.Brush = QBrush(image);
            b.Brush.setTransform(t);
            break;
        }
        case 3: {  // path gradient: flags, wrap, centre colour and point, surround, boundary
            const uint32_t flags = in.U32();
            in.S32();
            const QColor centre = Argb(in.U32());
            const double cx = in.F32();
            const QPointF c(cx, in.F32());
            const uint32_t surrounding = in.Count(4);
            QColor outer = centre;
            for (uint32_t i = 0; i < surrounding; ++i) {
                const QColor s = Argb(in.U32());
                if (i == 0) outer = s;
            }
            std::vector<QPointF> boundary;
            if (flags & 0x01) {
                const uint32_t size = in.Count(1);
                const uint8_t* bytes = in.Bytes(size);
                if (bytes != nullptr) {
                    const TRecordData pathData(bytes, size);
                    TPlusReader pathIn(pathData);
                    const QPainterPath p = ReadPlusPath(pathIn);
                    for (int i = 0; i < p.elementCount(); ++i)
                        boundary.push_back(p.elementAt(i));
                }
            } else {
                boundary = ReadPlusPoints(in, in.Count(8), 0);
            }
            double radius = 0;
            for (const QPointF& p : boundary)
                radius = std::max(radius, std::hypot(p.x() - c.x(), p.y() - c.y()));
            // Approximated by a radial gradient from the centre to the farthest boundary point.
            QRadialGradient g(c, std::max(radius, 1e-3));
            g.setColorAt(0, centre);
            g.setColorAt(1, outer);
            b.Brush = QBrush(g);
            if (flags & 0x02) b.Brush.setTransform(ReadMatrix(in));
            break;
        }
        case 4: {  // linear gradient: flags, wrap, rectangle, colours, [transform], [blend]
            const uint32_t flags = in.U32();
            const int32_t wrap = in.S32();
            const QRectF rect = ReadPlusRect(in, false);
            const QColor start = Argb(in.U32()), end = Argb(in.U32());
            in.U32();
            in.U32();
            const QTransform t = (flags & 0x02) ? ReadMatrix(in) : QTransform();
            QLinearGradient g(rect.topLeft(), rect.topRight());
            g.setColorAt(0, start);
            g.setColorAt(1, end);
            g.setSpread(wrap == 0   ? QGradient::RepeatSpread
                        : wrap <= 3 ? QGradient::ReflectSpread
                                    : QGradient::PadSpread);
            if (flags & 0x0C) {  // preset colours (0x04) or horizontal blend factors (0x08)
                const uint32_t n = in.Count(8);
                std::vector<double> positions;
                for (uint32_t i = 0; i < n; ++i)
                    positions.push_back(in.F32());
                std::vector<QColor> colors;
                for (uint32_t i = 0; i < n; ++i)
                    colors.push_back((flags & 0x04) ? Argb(in.U32()) : Mix(start, end, in.F32()));
                if (in.Ok()) SetGradientStops(g, positions, colors);
            }
            b.Brush = QBrush(g);
            b.Brush.setTransform(t);
            break;
        }
        default:
            b.Brush = QBrush(Qt::NoBrush);
            break;
    }
    if (!in.Ok()) b.Brush = QBrush(Qt::NoBrush);
    return b;
}

QPen ReadPlusPen(TPlusReader& in) {
    in.U32();  // version
    in.U32();  // type
    const uint32_t flags = in.U32();
    in.U32();  // unit: widths are taken in world units
    const double width = in.F32();
    if (flags & 0x01) ReadMatrix(in);
    const int32_t startCap = (flags & 0x02) ? in.S32() : 0;
    if (flags & 0x04) in.S32();  // end cap: Qt has one cap for both ends
    const uint32_t join = (flags & 0x08) ? in.U32() : 0;
    const double miter = (flags & 0x10) ? in.F32() : 10.0;
    const int32_t lineStyle = (flags & 0x20) ? in.S32() : 0;
    if (flags & 0x40) in.S32();  // dash cap
    const double dashOffset = (flags & 0x80) ? in.F32() : 0.0;
    QList<qreal> dashes;
    if (flags & 0x100) {
        const uint32_t n = in.Count(4);
        for (uint32_t i = 0; i < n && i < 64; ++i)
            dashes.push_back(std::max(in.F32(), 1e-3));
        in.Skip(size_t(n > 64 ? n - 64 : 0) * 4);
    }
    if (flags & 0x200) in.S32();  // alignment
    if (flags & 0x400) in.Skip(size_t(in.Count(4)) * 4);
    if (flags & 0x800) in.Skip(in.Count(1));  // custom caps
    if (flags & 0x1000) in.Skip(in.Count(1));
    const TPlusBrush brush = ReadPlusBrush(in);
    if (!in.Ok()) return QPen(Qt::NoPen);
    QPen pen(brush.Brush, width);  // width 0: one device pixel
    switch (startCap) {
        case 1:
            pen.setCapStyle(Qt::SquareCap);
            break;
        case 2:
            pen.setCapStyle(Qt::RoundCap);
            break;
        default:
            pen.setCapStyle(Qt::FlatCap);
            break;
    }
    pen.setJoinStyle(join == 1   ? Qt::BevelJoin
                     : join == 2 ? Qt::RoundJoin
                     : join == 3 ? Qt::SvgMiterJoin
                                 : Qt::MiterJoin);
    pen.setMiterLimit(std::clamp(miter, 1.0, 100.0));
    switch (lineStyle) {
        case 1:
            pen.setDashPattern({3, 1});
            break;
        case 2:
            pen.setDashPattern({1, 1});
            break;
        case 3:
            pen.setDashPattern({3, 1, 1, 1});
            break;
        case 4:
            pen.setDashPattern({3, 1, 1, 1, 1, 1});
            break;
        case 5:
            if (dashes.size() % 2) dashes.append(dashes);
            if (!dashes.isEmpty()) pen.setDashPattern(dashes);
            break;
        default:
            break;
    }
    if (lineStyle != 0) pen.setDashOffset(dashOffset);
    return pen;
}

struct TPlusFont {
    QString Family;
    double EmSize = 12;
    uint32_t Unit = 3;
    int32_t Style = 0;  // bold 1, italic 2, underline 4, strike-out 8
};

struct TPlusFormat {
    uint32_t Align = 0, LineAlign = 0;  // near 0, centre 1, far 2
};

struct TPlusRegion {
    QPainterPath Path;
};

using TPlusObject = std::variant<std::monostate, TPlusBrush, QPen, QPainterPath, QImage, TPlusFont,
                                 TPlusFormat, TPlusRegion>;

// A region: a tree of rectangles, paths and combinations, node after node.
QPainterPath ReadRegionNode(TPlusReader& in, int depth, int& budget) {
    QPainterPath all;
    all.addRect(QRectF(-1e6, -1e6, 2e6, 2e6));
    if (depth > 32 || --budget < 0) return QPainterPath();
    const uint32_t type = in.U32();
    switch (type) {
        case 0x10000000: {
            QPainterPath p;
            p.addRect(ReadPlusRect(in, false).normalized());
            return p;
        }
        case 0x10000001: {
            const uint32_t size = in.Count(1);
            const uint8_t* bytes = in.Bytes(size);
            if (bytes == nullptr) return QPainterPath();
            const TRecordData data(bytes, size);
            TPlusReader pathIn(data);
            return ReadPlusPath(pathIn);
        }
        case 0x10000002:
            return QPainterPath();
        case 0x10000003:
            return all;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {
            const QPainterPath left = ReadRegionNode(in, depth + 1, budget);
            const QPainterPath right = ReadRegionNode(in, depth + 1, budget);
            // Combining shapes costs the square of their points: very large ones keep the first.
            if (left.elementCount() + right.elementCount() > 20000) return left;
            switch (type) {
                case 1:
                    return left.intersected(right);
                case 2:
                    return left.united(right);
                case 3:
                    return left.united(right).subtracted(left.intersected(right));
                case 4:
                    return left.subtracted(right);
                default:
                    return right.subtracted(left);
            }
        }
        default:
            return QPainterPath();
    }
}

TPlusObject ReadPlusObject(uint32_t type, const TRecordData& data) {
    TPlusReader in(data);
    switch (type) {
        case 1:
            return ReadPlusBrush(in);
        case 2:
            return ReadPlusPen(in);
        case 3:
            return ReadPlusPath(in);
        case 4: {
            in.U32();
            in.U32();  // node count
            int budget = 4096;
            return TPlusRegion{ReadRegionNode(in, 0, budget)};
        }
        case 5:
            return ReadPlusImage(in);
        case 6: {
            TPlusFont f;
            in.U32();
            f.EmSize = in.F32();
            f.Unit = in.U32();
            f.Style = in.S32();
            in.U32();
            const uint32_t n = in.Count(2);
            for (uint32_t i = 0; i < n && i < 64; ++i)
                f.Family += QChar(char16_t(in.U16()));
            return f;
        }
        case 7: {
            TPlusFormat f;
            in.U32();
            in.U32();  // flags
            in.U32();  // language
            f.Align = in.U32();
            f.LineAlign = in.U32();
            return f;
        }
        default:
            return std::monostate{};
    }
}

// Cardinal spline through the points as Bézier segments (GDI+'s tension scale of 0.3).
QPainterPath CurvePath(const std::vector<QPointF>& p, double tension, bool closed, size_t first,
                       size_t segments) {
    QPainterPath path;
    const size_t n = p.size();
    if (n < 2) return path;
    const double t = tension * 0.3;
    auto at = [&](int64_t i) {
        if (closed) return p[size_t(((i % int64_t(n)) + int64_t(n)) % int64_t(n))];
        return p[size_t(std::clamp<int64_t>(i, 0, int64_t(n) - 1))];
    };
    const size_t count = closed ? n : std::min(segments, n - 1 - std::min(first, n - 1));
    const size_t start = closed ? 0 : std::min(first, n - 1);
    path.moveTo(at(int64_t(start)));
    for (size_t k = 0; k < count; ++k) {
        const int64_t i = int64_t(start + k);
        const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) * t;
        const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) * t;
        path.cubicTo(c1, c2, at(i + 1));
    }
    if (closed) path.closeSubpath();
    return path;
}

// ---------------------------------------------------------------------------------------------

// Raster operations. A ternary operation's code (bits 16-23 of the blit's operation) is the
// truth table over pattern, source and destination bits; a binary one (R2_*, 1-16) less one is
// the table over pattern and destination.
uint32_t Ternary(uint8_t rop3, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t result = 0;
    for (int index = 0; index < 8; ++index) {
        if (!((rop3 >> index) & 1)) continue;
        result |= ((index & 4) ? p : ~p) & ((index & 2) ? s : ~s) & ((index & 1) ? d : ~d);
    }
    return result;
}

uint8_t Rop2ToRop3(int rop2) {
    const int table = std::clamp(rop2, 1, 16) - 1;
    uint8_t rop3 = 0;
    for (int index = 0; index < 8; ++index) {
        const int p = (index >> 2) & 1, d = index & 1;
        if ((table >> ((p << 1) | d)) & 1) rop3 |= uint8_t(1 << index);
    }
    return rop3;
}

class TPlayer {
  public:
    // toImage maps the picture at its natural size onto the image (a scale and an offset).
    TPlayer(const TMetafile& metafile, QImage& image, const QTransform& toImage);
    void Play();
    // While the records play, the device rectangle that what they draw reaches (as far as their
    // clip lets it show) is added to reach.
    void MeasureInto(QRectF* reach) { reach_ = reach; }

  private:
    void Reach(const QRectF& device);
    QRectF* reach_ = nullptr;
    // Transforms.
    QTransform PageTransform() const;
    QTransform Transform() const { return s_.World * PageTransform() * outer_; }
    double DeviceScale() const;
    bool GlyphsFit() const;
    QPointF Device(const QPointF& logical) const { return Transform().map(logical); }

    // Painting with the state's pen, brush and clip.
    void Prepare(bool fill, bool stroke);
    void RopLayer(uint8_t rop3, const QRectF& deviceBounds,
                  const std::function<void(QPainter&)>& draw);
    QColor PatternColor() const;
    QPen MakePen() const;
    QBrush MakeBrush() const;
    void DrawPath(const QPainterPath& path, bool fill, bool stroke);
    void Shape(const QPainterPath& path, bool fill, bool stroke);
    void Line(const QPointF& from, const QPointF& to);
    void FillRect(const QRectF& logical, const QBrush& brush);

    // Shapes shared by both formats.
    void ArcShape(int kind, const QRectF& box, const QPointF& start, const QPointF& end);
    void BoxShape(int kind, const QRectF& box, const QSizeF& corner = QSizeF());
    void AngleArc(const QPointF& centre, double radius, double start, double sweep);
    void PolyDraw(const std::vector<QPointF>& points, const TRecordData& r, size_t typesAt);
    void Text(const QPointF& at, const QString& text, const std::vector<double>& dx,
              const std::vector<double>& dy, uint32_t options, const QRectF& rect);
    void EmfText(const TRecordData& r, size_t emrText, bool wide);
    QString TextOf(const uint8_t* bytes, size_t length) const {
        return DecodeText(bytes, length, s_.Font);
    }
    void BlitImage(QImage image, const QRectF& dest, const QRectF& source, uint8_t rop3,
                   bool sourceFromBottom);
    QImage RecordDib(const TRecordData& r, size_t offsets) const;
    void GradientFill(const TRecordData& r);
    void DrawDib(const QRectF& dest, const QRectF& source, const uint8_t* info, size_t infoSize,
                 const uint8_t* bits, size_t bitsSize, uint32_t rop, bool sourceFromBottom);
    void PatternBlit(const QRectF& dest, uint32_t rop);

    // Objects and states.
    int AddObject(TObject object, int index = -1);
    void SelectObject(uint32_t index);
    void DeleteObject(uint32_t index);
    void SaveDC() { saved_.push_back(s_); }
    void RestoreDC(int which);
    void IntersectClip(const QPainterPath& devicePath, int mode);
    void ResetClip();
    void RegionDraw(const QPainterPath& logical, int kind, std::optional<uint32_t> brush,
                    double frameWidth = 0, double frameHeight = 0);
    QPainterPath RegionData(const TRecordData& r, size_t offset, uint32_t size) const;
    const QPainterPath* RegionObject(uint32_t index) const {
        const auto* region =
            index < objects_.size() ? std::get_if<TRegionObject>(&objects_[index]) : nullptr;
        return region != nullptr ? &region->Path : nullptr;
    }
    void SetExtent(QPointF& ext, double x, double y);

    // Every kCancelRecords records a raised cancel flag of the metafile ends the play (EAbort),
    // so a huge metafile's load can be given up half-way.
    static constexpr unsigned kCancelRecords = 256;
    void CountRecord() {
        if (++records_ % kCancelRecords == 0 && metafile_.Cancelled()) throw EAbort();
    }

    void PlayWmf();
    void Wmf(uint16_t function, const TRecordData& r);
    void PlayEmf();
    void Emf(uint32_t type, const TRecordData& r);
    QImage DibImage(const uint8_t* data, size_t size, size_t bitsOffset);
    std::vector<QPointF> Points(const TRecordData& r, size_t offset, uint32_t count,
                                bool small) const;

    const TMetafile& metafile_;
    const TMetafileHeader& header_;
    QPainter painter_;
    QTransform outer_;      // reference device to the picture
    double perMillimeter_;  // reference device pixels in a millimetre (x; y)
    double perMillimeterY_;
    TState s_;
    std::vector<TState> saved_;
    std::vector<TObject> objects_;
    bool inPath_ = false;
    QPainterPath path_;  // logical units of the path bracket

    // EMF+: the graphics state, its saved copies, the object table and an object coming in
    // parts.
    struct TPlusState {
        QTransform World;
        uint32_t PageUnit = 2;  // pixels
        double PageScale = 1;
        bool HasClip = false;
        QPainterPath Clip;  // reference device pixels
    };
    QTransform PlusPage() const;
    QTransform PlusTransform() const { return plus_.World * PlusPage() * outer_; }
    bool PlusPrepare();
    const TPlusObject* PlusObject(uint32_t id) const;
    std::optional<TPlusBrush> PlusBrush(uint16_t flags, uint32_t value) const;
    std::optional<std::pair<QFont, double>> PlusFont(uint32_t id) const;
    void PlusFill(const QPainterPath& path, const std::optional<TPlusBrush>& brush);
    void PlusStroke(const QPainterPath& path, uint32_t penId);
    void PlusClip(const QPainterPath& world, uint32_t mode);
    void PlusComment(const TRecordData& r);
    void EmfPlus(uint16_t type, uint16_t flags, const TRecordData& r);
    bool plusActive_ = false;  // an EMF+ header was read: plain records are GDI+'s fallback
    bool getDC_ = false;       // plain records after GetDC draw
    double plusDpiX_ = 96, plusDpiY_ = 96;
    TPlusState plus_;
    std::vector<std::pair<uint32_t, TPlusState>> plusSaved_;
    std::vector<TPlusObject> plusObjects_ = std::vector<TPlusObject>(64);
    uint32_t pendingId_ = 0xFFFFFFFF;
    std::vector<uint8_t> pending_;
    unsigned records_ = 0;
};

TPlayer::TPlayer(const TMetafile& metafile, QImage& image, const QTransform& toImage)
    : metafile_(metafile), header_(metafile.Header()), painter_(&image) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Bitmaps are stretched by repeating pixels, as the screen does by default.
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double w = metafile.Width(), h = metafile.Height();
    if (header_.Enhanced) {
        perMillimeter_ = double(header_.DevicePixelsX) / header_.DeviceMillimetersX;
        perMillimeterY_ = double(header_.DevicePixelsY) / header_.DeviceMillimetersY;
        // The frame (0.01 mm, inclusive) in reference device pixels is mapped onto the picture;
        // without a frame the bounds are.
        double left, top, right, bottom;
        if (header_.FrameRight > header_.FrameLeft && header_.FrameBottom > header_.FrameTop) {
            left = header_.FrameLeft * perMillimeter_ / 100;
            top = header_.FrameTop * perMillimeterY_ / 100;
            right = header_.FrameRight * perMillimeter_ / 100;
            bottom = header_.FrameBottom * perMillimeterY_ / 100;
        } else {
            left = header_.Left;
            top = header_.Top;
            right = header_.Right + 1.0;
            bottom = header_.Bottom + 1.0;
        }
        outer_ = QTransform::fromTranslate(-left, -top) *
                 QTransform::fromScale(w / std::max(right - left, 1e-9),
                                       h / std::max(bottom - top, 1e-9));
    } else {
        // A WMF draws its window (the placeable bounds unless its records set another) onto
        // the picture in device pixels at 96 dots per inch.
        perMillimeter_ = perMillimeterY_ = 96.0 / 25.4;
        s_.MapMode = mmAnisotropic;
        s_.WindowOrg = QPointF(header_.Left, header_.Top);
        s_.WindowExt =
            QPointF(double(header_.Right) - header_.Left, double(header_.Bottom) - header_.Top);
        s_.ViewportExt = QPointF(w, h);
    }
    outer_ *= toImage;
}

void TPlayer::Play() {
    if (header_.Enhanced)
        PlayEmf();
    else
        PlayWmf();
}

// ---- Transforms -----------------------------------------------------------------------------

QTransform TPlayer::PageTransform() const {
    double sx = 1, sy = 1;
    switch (s_.MapMode) {
        case mmLoMetric:
            sx = perMillimeter_ / 10;
            sy = -perMillimeterY_ / 10;
            break;
        case mmHiMetric:
            sx = perMillimeter_ / 100;
            sy = -perMillimeterY_ / 100;
            break;
        case mmLoEnglish:
            sx = perMillimeter_ * 0.254;
            sy = -perMillimeterY_ * 0.254;
            break;
        case mmHiEnglish:
            sx = perMillimeter_ * 0.0254;
            sy = -perMillimeterY_ * 0.0254;
            break;
        case mmTwips:
            sx = perMillimeter_ * 25.4 / 1440;
            sy = -perMillimeterY_ * 25.4 / 1440;
            break;
        case mmIsotropic:
        case mmAnisotropic:
            if (s_.WindowExt.x() == 0 || s_.WindowExt.y() == 0) break;
            sx = s_.ViewportExt.x() / s_.WindowExt.x();
            sy = s_.ViewportExt.y() / s_.WindowExt.y();
            if (s_.MapMode == mmIsotropic) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default:
            break;
    }
    if (!std::isfinite(sx) || !std::isfinite(sy)) sx = sy = 1;
    return QTransform::fromTranslate(-s_.WindowOrg.x(), -s_.WindowOrg.y()) *
           QTransform::fromScale(sx, sy) *
           QTransform::fromTranslate(s_.ViewportOrg.x(), s_.ViewportOrg.y());
}

// Device pixels of one logical unit (the mean of both axes), for pen widths and font sizes.
// EMF+ text is drawn from a 100-pixel font scaled by the painter. A glyph far larger than the
// picture shows nothing more, and rasterising it can fail inside the font engine (FreeType's
// bitmap is refused and Qt copies from nothing), so such text is left out. So is a glyph that a
// nearly singular transform squeezes to a sliver (under 4 pixels across, or 64 times longer than
// it is wide): it shows nothing legible, and FreeType's rasteriser overflows on it the same way.
bool TPlayer::GlyphsFit() const {
    const QTransform& m = painter_.worldTransform();
    // The largest and smallest stretch of the transform's linear part.
    const double squares =
        m.m11() * m.m11() + m.m12() * m.m12() + m.m21() * m.m21() + m.m22() * m.m22();
    const double determinant = std::abs(m.m11() * m.m22() - m.m12() * m.m21());
    const double spread =
        std::sqrt(std::max(0.0, squares * squares - 4 * determinant * determinant));
    const double largest = std::sqrt((squares + spread) / 2);
    const double smallest = largest > 0 ? determinant / largest : 0;
    const QPaintDevice* device = painter_.device();
    const double side = device != nullptr ? std::max(device->width(), device->height()) : 4000;
    return std::isfinite(largest) && 100 * largest <= std::max(4000.0, 2 * side) &&
           100 * smallest >= 4 && largest <= 64 * smallest;
}

double TPlayer::DeviceScale() const {
    const QTransform t = Transform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

// ---- Painting -------------------------------------------------------------------------------

QPen TPlayer::MakePen() const {
    const TPenObject& p = s_.Pen;
    const uint32_t style = p.Style & 0x0F;
    if (style == 5) return QPen(Qt::NoPen);
    QPen pen(p.Color);
    const double width = p.Width * DeviceScale();
    // Pens narrower than a device pixel draw one pixel wide, as on the screen.
    if (width <= 1.0) {
        pen.setWidthF(1.0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(p.Width);
    }
    switch (style) {
        case 1:
            pen.setStyle(Qt::DashLine);
            break;
        case 2:
            pen.setStyle(Qt::DotLine);
            break;
        case 3:
            pen.setStyle(Qt::DashDotLine);
            break;
        case 4:
            pen.setStyle(Qt::DashDotDotLine);
            break;
        default:
            pen.setStyle(Qt::SolidLine);
            break;
    }
    switch (p.Style & 0x0F00) {
        case 0x100:
            pen.setCapStyle(Qt::SquareCap);
            break;
        case 0x200:
            pen.setCapStyle(Qt::FlatCap);
            break;
        default:
            pen.setCapStyle(Qt::RoundCap);
            break;
    }
    switch (p.Style & 0xF000) {
        case 0x1000:
            pen.setJoinStyle(Qt::BevelJoin);
            break;
        case 0x2000:
            pen.setJoinStyle(Qt::MiterJoin);
            break;
        default:
            pen.setJoinStyle(Qt::RoundJoin);
            break;
    }
    return pen;
}

QBrush TPlayer::MakeBrush() const {
    const TBrushObject& b = s_.Brush;
    switch (b.Style) {
        case 0:
            return QBrush(b.Color);
        case 2: {
            static const Qt::BrushStyle kHatch[] = {Qt::HorPattern,   Qt::VerPattern,
                                                    Qt::FDiagPattern, Qt::BDiagPattern,
                                                    Qt::CrossPattern, Qt::DiagCrossPattern};
            return QBrush(b.Color, b.Hatch < 6 ? kHatch[b.Hatch] : Qt::SolidPattern);
        }
        case 3:
        case 5:
        case 6:
            if (!b.Pattern.isNull()) return QBrush(b.Pattern);
            return QBrush(b.Color);
        default:
            return QBrush(Qt::NoBrush);
    }
}

void TPlayer::Prepare(bool fill, bool stroke) {
    painter_.setTransform(QTransform());
    if (s_.HasClip)
        painter_.setClipPath(s_.Clip);
    else
        painter_.setClipping(false);
    painter_.setTransform(Transform());
    painter_.setPen(stroke ? MakePen() : QPen(Qt::NoPen));
    painter_.setBrush(fill ? MakeBrush() : QBrush(Qt::NoBrush));
    painter_.setBackgroundMode(s_.BkMode == 2 ? Qt::OpaqueMode : Qt::TransparentMode);
    painter_.setBackground(QBrush(s_.BkColor));
}

void TPlayer::Reach(const QRectF& device) {
    if (reach_ == nullptr) return;
    QRectF r = device.normalized();
    if (s_.HasClip) r = r.intersected(s_.Clip.boundingRect());
    if (!(r.width() > 0) && !(r.height() > 0)) return;
    if (!std::isfinite(r.left()) || !std::isfinite(r.top()) || !std::isfinite(r.right()) ||
        !std::isfinite(r.bottom()))
        return;
    *reach_ = reach_->isNull() ? r : reach_->united(r);
}

void TPlayer::DrawPath(const QPainterPath& path, bool fill, bool stroke) {
    if (!Transform().isInvertible()) return;
    Prepare(fill, stroke);
    if (reach_ != nullptr) {
        const double pen = painter_.pen().style() == Qt::NoPen
                               ? 0
                               : std::max(0.5, painter_.pen().widthF() * DeviceScale() / 2);
        Reach(Transform().mapRect(path.controlPointRect()).adjusted(-pen, -pen, pen, pen));
    }
    if (s_.Rop2 == 13) {
        painter_.drawPath(path);
        return;
    }
    // Another binary raster operation: the pen or brush is the pattern, the source is unused.
    const uint8_t rop3 = Rop2ToRop3(s_.Rop2);
    const double grow = painter_.pen().style() == Qt::NoPen ? 1 : painter_.pen().widthF() + 2;
    const QRectF bounds = Transform()
                              .mapRect(path.controlPointRect())
                              .adjusted(-grow * DeviceScale() - 2, -grow * DeviceScale() - 2,
                                        grow * DeviceScale() + 2, grow * DeviceScale() + 2);
    RopLayer(rop3, bounds, [&](QPainter& p) { p.drawPath(path); });
}

// Draws through a layer of the device rectangle, then combines each covered pixel with the
// picture by the ternary raster operation: the layer's colour is the source and, for shapes,
// the pattern (the pen or brush); the picture counts as white paper where nothing is drawn yet.
void TPlayer::RopLayer(uint8_t rop3, const QRectF& deviceBounds,
                       const std::function<void(QPainter&)>& draw) {
    QPaintDevice* device = painter_.device();
    if (device == nullptr || device->devType() != QInternal::Image) return;
    const QRectF fit = deviceBounds.intersected(QRectF(0, 0, device->width(), device->height()));
    if (!(fit.width() > 0) || !(fit.height() > 0)) return;
    const QRect area =
        fit.toAlignedRect().intersected(QRect(0, 0, device->width(), device->height()));
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHints(painter_.renderHints());
        lp.translate(-area.topLeft());
        if (painter_.hasClipping()) {
            lp.setClipPath(painter_.clipPath() * painter_.transform());
        }
        lp.setTransform(painter_.transform() *
                        QTransform::fromTranslate(-area.left(), -area.top()));
        lp.setPen(painter_.pen());
        lp.setBrush(painter_.brush());
        lp.setBackground(painter_.background());
        lp.setBackgroundMode(painter_.backgroundMode());
        draw(lp);
    }
    auto* image = static_cast<QImage*>(device);
    const QRgb pattern = PatternColor().rgb();
    for (int y = 0; y < area.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(image->scanLine(area.top() + y)) + area.left();
        for (int x = 0; x < area.width(); ++x) {
            if (qAlpha(in[x]) == 0) continue;
            // The picture over white paper, premultiplied colours made whole.
            const QRgb d = out[x];
            const uint32_t paper = 255 - qAlpha(d);
            const uint32_t dest =
                ((qRed(d) + paper) << 16) | ((qGreen(d) + paper) << 8) | (qBlue(d) + paper);
            const uint32_t source = qUnpremultiply(in[x]) & 0xFFFFFF;
            out[x] = 0xFF000000u | (Ternary(rop3, pattern & 0xFFFFFF, source, dest) & 0xFFFFFF);
        }
    }
}

// The brush's colour as a raster operation's pattern.
QColor TPlayer::PatternColor() const {
    return s_.Brush.Style == 1 ? QColor(Qt::white) : s_.Brush.Color;
}

// A shape either joins the open path bracket or is drawn at once.
void TPlayer::Shape(const QPainterPath& path, bool fill, bool stroke) {
    if (inPath_) {
        path_.addPath(path);
        return;
    }
    QPainterPath p = path;
    p.setFillRule(s_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    DrawPath(p, fill, stroke);
}

void TPlayer::Line(const QPointF& from, const QPointF& to) {
    if (inPath_) {
        if (path_.isEmpty() || path_.currentPosition() != from) path_.moveTo(from);
        path_.lineTo(to);
        return;
    }
    QPainterPath p(from);
    p.lineTo(to);
    DrawPath(p, false, true);
}

void TPlayer::FillRect(const QRectF& logical, const QBrush& brush) {
    if (!Transform().isInvertible()) return;
    Prepare(false, false);
    Reach(Transform().mapRect(logical));
    painter_.fillRect(logical, brush);
}

// Arc (kind 0), chord (1) or pie (2) of the ellipse in box, from the direction of start to the
// direction of end, counter-clockwise unless the arc direction says otherwise.
void TPlayer::ArcShape(int kind, const QRectF& box, const QPointF& start, const QPointF& end) {
    const QRectF r = box.normalized();
    if (r.width() <= 0 || r.height() <= 0) return;
    const QPointF c = r.center();
    auto angle = [&](const QPointF& p) {
        return std::atan2(-(p.y() - c.y()) / r.height(), (p.x() - c.x()) / r.width()) * 180 / M_PI;
    };
    const double a0 = angle(start), a1 = angle(end);
    double sweep = a1 - a0;
    if (s_.Clockwise) {
        while (sweep >= 0)
            sweep -= 360;
    } else {
        while (sweep <= 0)
            sweep += 360;
    }
    QPainterPath path;
    if (kind == 2) {
        path.moveTo(c);
        path.arcTo(r, a0, sweep);
        path.closeSubpath();
    } else if (kind == 3) {
        path.moveTo(s_.Position);
        path.arcTo(r, a0, sweep);
        s_.Position = path.currentPosition();
        if (inPath_) {
            path_.connectPath(path);
            return;
        }
        DrawPath(path, false, true);
        return;
    } else {
        path.arcMoveTo(r, a0);
        path.arcTo(r, a0, sweep);
        if (kind == 1) path.closeSubpath();
    }
    Shape(path, kind != 0, true);
}

// Rectangles, ellipses and rounded rectangles as GDI draws them: the right and bottom edges are
// not part of the shape, and the pen runs along the centres of its outermost pixels.
void TPlayer::BoxShape(int kind, const QRectF& box, const QSizeF& corner) {
    const QRectF logical = box.normalized();
    const auto shape = [&](const QRectF& rect, double rx, double ry) {
        QPainterPath p;
        if (kind == 0)
            p.addRect(rect);
        else if (kind == 1)
            p.addEllipse(rect);
        else
            p.addRoundedRect(rect, rx, ry);
        return p;
    };
    const double rx = std::abs(corner.width()) / 2, ry = std::abs(corner.height()) / 2;
    const QTransform t = Transform();
    if (inPath_ || t.type() > QTransform::TxScale || !t.isInvertible()) {
        Shape(shape(logical, rx, ry), true, true);
        return;
    }
    // The outline half a pixel inside on every side, in device pixels.
    const QRectF device = t.mapRect(logical);
    const QRectF inner =
        device.width() > 1 && device.height() > 1 ? device.adjusted(0.5, 0.5, -0.5, -0.5) : device;
    const QRectF outline = t.inverted().mapRect(inner);
    Shape(shape(logical, rx, ry), true, false);
    Shape(shape(outline, rx * outline.width() / std::max(logical.width(), 1e-9),
                ry * outline.height() / std::max(logical.height(), 1e-9)),
          false, true);
}

// A line from the current position to the start of an arc of the circle, then the arc
// (counter-clockwise degrees); the current position moves to its end.
void TPlayer::AngleArc(const QPointF& centre, double radius, double start, double sweep) {
    if (radius > 1e6) return;
    const QRectF r(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(s_.Position);
    path.arcTo(r, std::fmod(start, 360.0), std::clamp(sweep, -3600.0, 3600.0));
    s_.Position = path.currentPosition();
    if (inPath_) {
        path_.connectPath(path);
        return;
    }
    DrawPath(path, false, true);
}

// Lines and Béziers from the current position: PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, each
// with PT_CLOSEFIGURE 1.
void TPlayer::PolyDraw(const std::vector<QPointF>& points, const TRecordData& r, size_t typesAt) {
    QPainterPath path(s_.Position);
    for (size_t i = 0; i < points.size(); ++i) {
        const uint8_t type = r.Data()[typesAt + i];
        switch (type & 6) {
            case 6:
                path.moveTo(points[i]);
                break;
            case 4:
                if (i + 2 >= points.size()) return;
                path.cubicTo(points[i], points[i + 1], points[i + 2]);
                i += 2;
                break;
            default:
                path.lineTo(points[i]);
                break;
        }
        if ((r.Data()[typesAt + i] & 1)) path.closeSubpath();
    }
    s_.Position = path.currentPosition();
    if (inPath_) {
        path_.connectPath(path);
        return;
    }
    DrawPath(path, false, true);
}

// Draws a string at a logical point. dx and dy are the advances from each character to the
// next (logical units) when the file gives them; with ETO_GLYPH_INDEX the characters are the
// font's glyph numbers.
void TPlayer::Text(const QPointF& at, const QString& text, const std::vector<double>& dx,
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
void TPlayer::EmfText(const TRecordData& r, size_t emrText, bool wide) {
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

QImage TPlayer::DibImage(const uint8_t* data, size_t size, size_t bitsOffset) {
    try {
        TMemoryStream stream(data, int64_t(size));
        const TDibHeader header = dib::ReadHeader(stream, bitsOffset ? int64_t(bitsOffset) : -1);
        if (bitsOffset) stream.SetPosition(int64_t(bitsOffset));
        TBitmap bitmap;
        TBitmap::CheckSize(header.Width, header.Height);
        dib::ReadPixels(stream, stream.Remaining(), header, bitmap);
        QImage image(bitmap.Width(), bitmap.Height(),
                     BitmapHasAlpha(bitmap) ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        for (int y = 0; y < bitmap.Height() && !image.isNull(); ++y)
            ConvertScanLineToBGRA(bitmap, y, image.scanLine(y));
        return image;
    } catch (const EImagingError&) {
        return QImage();  // a damaged bitmap is left out of the picture
    }
}

void TPlayer::DrawDib(const QRectF& dest, const QRectF& source, const uint8_t* info,
                      size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t rop,
                      bool sourceFromBottom) {
    if (rop == 0x00AA0029) return;  // leaves the destination as it is
    // SRCCOPY copies; SRCAND, SRCPAINT, SRCINVERT and the others combine through a layer.
    const uint8_t rop3 = uint8_t(rop >> 16);
    if (rop3 == 0xAA) return;
    // The info header and the bits may stand apart in the record: join them.
    std::vector<uint8_t> dibData(info, info + infoSize);
    dibData.insert(dibData.end(), bits, bits + bitsSize);
    BlitImage(DibImage(dibData.data(), dibData.size(), bits != nullptr ? infoSize : 0), dest,
              source, rop3, sourceFromBottom);
}

// Draws the source rectangle of an image onto the logical destination by the raster operation.
void TPlayer::BlitImage(QImage image, const QRectF& dest, const QRectF& source, uint8_t rop3,
                        bool sourceFromBottom) {
    if (image.isNull() || !Transform().isInvertible()) return;
    Prepare(false, false);
    Reach(Transform().mapRect(dest.normalized()));
    QRectF src = source.normalized();
    if (src.isEmpty()) src = QRectF(0, 0, image.width(), image.height());
    // The device-independent bitmap calls count the source rectangle from the bottom row.
    if (sourceFromBottom) src.moveTop(image.height() - src.top() - src.height());
    // A negative width or height mirrors the picture.
    if (dest.width() < 0 || dest.height() < 0)
        image = image.mirrored(dest.width() < 0, dest.height() < 0);
    const QTransform t = Transform();
    if (t.type() <= QTransform::TxScale) {
        // Stretched by repeating pixels, as the screen does by default. Only the part of the
        // target that lies on the picture is sampled, so huge targets cost nothing. The target
        // stays in doubles: a file's extreme coordinates would overflow Qt's integer rectangles.
        const QRectF mapped = t.mapRect(dest.normalized());
        const double left = std::floor(mapped.left()), top = std::floor(mapped.top());
        const double width = std::ceil(mapped.right()) - left;
        const double height = std::ceil(mapped.bottom()) - top;
        const QRectF from = src.intersected(QRectF(image.rect()));
        if (painter_.device() == nullptr || !(width > 0) || !(height > 0) || from.isEmpty()) return;
        const double deviceWidth = painter_.device()->width();
        const double deviceHeight = painter_.device()->height();
        const double x0 = std::max(left, 0.0), y0 = std::max(top, 0.0);
        const double x1 = std::min(left + width, deviceWidth);
        const double y1 = std::min(top + height, deviceHeight);
        if (!(x1 > x0) || !(y1 > y0)) return;
        const QRect visible(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
        const QImage source = image.convertToFormat(QImage::Format_ARGB32);
        QImage part(visible.size(), QImage::Format_ARGB32);
        if (part.isNull()) return;
        const double sx = src.width() / width, sy = src.height() / height;
        // The source pixel of a target position, or -1 when it lies outside the picture.
        const auto sample = [](double origin, double offset, double scale, int limit) {
            const double at = std::floor(origin + (offset + 0.5) * scale);
            return at >= 0 && at < limit ? int(at) : -1;
        };
        for (int y = 0; y < visible.height(); ++y) {
            const int row = sample(src.top(), visible.top() + y - top, sy, image.height());
            auto* out = reinterpret_cast<QRgb*>(part.scanLine(y));
            for (int x = 0; x < visible.width(); ++x) {
                const int col = sample(src.left(), visible.left() + x - left, sx, image.width());
                out[x] = row >= 0 && col >= 0
                             ? reinterpret_cast<const QRgb*>(source.constScanLine(row))[col]
                             : 0;
            }
        }
        painter_.setTransform(QTransform());
        if (rop3 == 0xCC)
            painter_.drawImage(visible.topLeft(), part);
        else
            RopLayer(rop3, QRectF(visible), [&](QPainter& p) {
                p.setTransform(QTransform());
                p.drawImage(0, 0, part);
            });
        return;
    }
    if (rop3 == 0xCC)
        painter_.drawImage(dest.normalized(), image, src);
    else
        RopLayer(rop3, t.mapRect(dest.normalized()),
                 [&](QPainter& p) { p.drawImage(dest.normalized(), image, src); });
}

// The bitmap of a blit record whose usage, header offset and size, bits offset and size stand
// at offsets - 4 .. offsets + 12 (offsets count from the record's start).
QImage TPlayer::RecordDib(const TRecordData& r, size_t offsets) const {
    const uint32_t usage = r.U32(offsets - 4);
    const uint32_t offBmi = r.U32(offsets), cbBmi = r.U32(offsets + 4);
    const uint32_t offBits = r.U32(offsets + 8), cbBits = r.U32(offsets + 12);
    if (usage != 0 || cbBmi == 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
        !r.Has(offBits - 8, cbBits))
        return QImage();
    std::vector<uint8_t> dib(r.Data() + offBmi - 8, r.Data() + offBmi - 8 + cbBmi);
    dib.insert(dib.end(), r.Data() + offBits - 8, r.Data() + offBits - 8 + cbBits);
    return const_cast<TPlayer*>(this)->DibImage(dib.data(), dib.size(), cbBmi);
}

// Gradient fills: bounds, vertex count, shape count, mode (0 horizontal and 1 vertical
// rectangles, 2 triangles), vertices (x, y, 16-bit red, green, blue, alpha), then the shapes.
void TPlayer::GradientFill(const TRecordData& r) {
    const uint32_t vertices = r.U32(16), shapes = r.U32(20), mode = r.U32(24);
    if (mode > 2 || !r.Has(28, size_t(vertices) * 16)) return;
    const size_t shapeSize = mode == 2 ? 12 : 8;
    const size_t shapesAt = 28 + size_t(vertices) * 16;
    if (!r.Has(shapesAt, size_t(shapes) * shapeSize)) return;
    auto vertex = [&](uint32_t i) {
        return QPointF(r.S32(28 + size_t(i) * 16), r.S32(32 + size_t(i) * 16));
    };
    auto colour = [&](uint32_t i) {
        const size_t o = 36 + size_t(i) * 16;
        return QColor(r.U16(o) >> 8, r.U16(o + 2) >> 8, r.U16(o + 4) >> 8);
    };
    const QTransform t = Transform();
    if (!t.isInvertible()) return;
    Prepare(false, false);
    if (painter_.device() == nullptr || painter_.device()->devType() != QInternal::Image) return;
    auto* image = static_cast<QImage*>(painter_.device());
    // Triangles are shaded pixel by pixel; a budget keeps huge or many triangles affordable.
    int64_t budget = int64_t(image->width()) * image->height() * 4;
    for (uint32_t k = 0; k < shapes; ++k) {
        const size_t o = shapesAt + size_t(k) * shapeSize;
        const uint32_t a = r.U32(o), b = r.U32(o + 4), c = mode == 2 ? r.U32(o + 8) : 0;
        if (a >= vertices || b >= vertices || c >= vertices) continue;
        if (mode != 2) {
            // In device pixels, cut to the picture before Qt sees it.
            const QRectF box = t.mapRect(QRectF(vertex(a), vertex(b)).normalized());
            const QRectF shown = box.intersected(QRectF(0, 0, image->width(), image->height()));
            if (!(shown.width() > 0) || !(shown.height() > 0)) continue;
            QLinearGradient g(box.topLeft(), mode == 0 ? box.topRight() : box.bottomLeft());
            g.setColorAt(0, colour(a));
            g.setColorAt(1, colour(b));
            painter_.setTransform(QTransform());
            painter_.fillRect(shown, QBrush(g));
            painter_.setTransform(t);
            continue;
        }
        const QPointF p[3] = {t.map(vertex(a)), t.map(vertex(b)), t.map(vertex(c))};
        const QColor q[3] = {colour(a), colour(b), colour(c)};
        const double area = (p[1].x() - p[0].x()) * (p[2].y() - p[0].y()) -
                            (p[2].x() - p[0].x()) * (p[1].y() - p[0].y());
        if (area == 0) continue;
        // Pixel bounds of the triangle on the picture, clamped in doubles before they become
        // integers (NaN fails every comparison and leaves the triangle out).
        const auto span = [](double lo, double hi, int limit, int& from, int& to) {
            if (!(lo <= hi) || !(hi >= 0) || !(lo < limit)) return false;
            from = int(std::max(0.0, std::floor(lo)));
            to = int(std::min(double(limit - 1), std::ceil(hi)));
            return true;
        };
        int x0, x1, y0, y1;
        if (!span(std::min({p[0].x(), p[1].x(), p[2].x()}),
                  std::max({p[0].x(), p[1].x(), p[2].x()}), image->width(), x0, x1) ||
            !span(std::min({p[0].y(), p[1].y(), p[2].y()}),
                  std::max({p[0].y(), p[1].y(), p[2].y()}), image->height(), y0, y1))
            continue;
        if (x1 < x0 || y1 < y0) continue;
        budget -= int64_t(x1 - x0 + 1) * (y1 - y0 + 1);
        if (budget < 0) return;
        for (int y = y0; y <= y1; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image->scanLine(y));
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double w0 =
                    ((p[1].x() - px) * (p[2].y() - py) - (p[2].x() - px) * (p[1].y() - py)) / area;
                const double w1 =
                    ((p[2].x() - px) * (p[0].y() - py) - (p[0].x() - px) * (p[2].y() - py)) / area;
                const double w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                if (s_.HasClip && !s_.Clip.contains(QPointF(px, py))) continue;
                line[x] = qRgb(int(w0 * q[0].red() + w1 * q[1].red() + w2 * q[2].red() + 0.5),
                               int(w0 * q[0].green() + w1 * q[1].green() + w2 * q[2].green() + 0.5),
                               int(w0 * q[0].blue() + w1 * q[1].blue() + w2 * q[2].blue() + 0.5));
            }
        }
    }
}

void TPlayer::PatternBlit(const QRectF& dest, uint32_t rop) {
    switch (rop) {
        case 0x00000042:
            FillRect(dest, Qt::black);
            break;  // BLACKNESS
        case 0x00FF0062:
            FillRect(dest, Qt::white);
            break;        // WHITENESS
        case 0x00F00021:  // PATCOPY
            if (s_.Brush.Style != 1) FillRect(dest, MakeBrush());
            break;
        default: {  // PATINVERT, DSTINVERT and the rest, through their truth table
            const uint8_t rop3 = uint8_t(rop >> 16);
            if (rop3 == 0xAA || !Transform().isInvertible()) break;
            Prepare(false, false);
            Reach(Transform().mapRect(dest.normalized()));
            RopLayer(rop3, Transform().mapRect(dest.normalized()),
                     [&](QPainter& p) { p.fillRect(dest.normalized(), Qt::white); });
            break;
        }
    }
}

// ---- Objects and states ---------------------------------------------------------------------

// Puts the object at index (EMF) or in the lowest free slot (WMF, index -1).
int TPlayer::AddObject(TObject object, int index) {
    constexpr size_t kMaxObjects = 65536;
    if (index < 0) {
        for (size_t i = 0; i < objects_.size(); ++i)
            if (std::holds_alternative<std::monostate>(objects_[i])) {
                objects_[i] = std::move(object);
                return int(i);
            }
        if (objects_.size() >= kMaxObjects) return -1;
        objects_.push_back(std::move(object));
        return int(objects_.size() - 1);
    }
    if (size_t(index) >= kMaxObjects) return -1;
    if (size_t(index) >= objects_.size()) objects_.resize(size_t(index) + 1);
    objects_[size_t(index)] = std::move(object);
    return index;
}

void TPlayer::SelectObject(uint32_t index) {
    std::optional<TObject> stock;
    const TObject* object = nullptr;
    if (header_.Enhanced && (index & 0x80000000u)) {
        stock = StockObject(index);
        if (stock) object = &*stock;
    } else if (index < objects_.size()) {
        object = &objects_[index];
    }
    if (object == nullptr) return;
    if (const auto* pen = std::get_if<TPenObject>(object)) s_.Pen = *pen;
    if (const auto* brush = std::get_if<TBrushObject>(object)) s_.Brush = *brush;
    if (const auto* font = std::get_if<TFontObject>(object)) s_.Font = *font;
    if (const auto* region = std::get_if<TRegionObject>(object)) {
        // Selecting a region makes it the clipping region.
        IntersectClip(Transform().map(region->Path), 5);
    }
}

void TPlayer::DeleteObject(uint32_t index) {
    if (index < objects_.size()) objects_[index] = std::monostate{};
}

void TPlayer::RestoreDC(int which) {
    // Negative: that many states back; positive: the state saved as number which (1-based).
    size_t keep;
    if (which < 0) {
        if (size_t(-int64_t(which)) > saved_.size()) return;
        keep = saved_.size() - size_t(-int64_t(which));
    } else {
        if (which == 0 || size_t(which) > saved_.size()) return;
        keep = size_t(which) - 1;
    }
    s_ = saved_[keep];
    saved_.resize(keep);
}

// Combines a clip with the current one: 1 and, 2 or, 3 xor, 4 difference, 5 copy.
void TPlayer::IntersectClip(const QPainterPath& devicePath, int mode) {
    QPainterPath all;
    all.addRect(QRectF(-1e6, -1e6, 2e6, 2e6));
    const QPainterPath current = s_.HasClip ? s_.Clip : all;
    switch (mode) {
        case 1:
            s_.Clip = current.intersected(devicePath);
            break;
        case 2:
            s_.Clip = current.united(devicePath);
            break;
        case 3:
            s_.Clip = current.united(devicePath).subtracted(current.intersected(devicePath));
            break;
        case 4:
            s_.Clip = current.subtracted(devicePath);
            break;
        case 5:
            s_.Clip = devicePath;
            break;
        default:
            return;
    }
    if (s_.HasMeta) s_.Clip = s_.Clip.intersected(s_.Meta);
    s_.HasClip = true;
}

// No clip but the meta region.
void TPlayer::ResetClip() {
    s_.HasClip = s_.HasMeta;
    s_.Clip = s_.Meta;
}

// A region record's shape: the brush of an object index (EMF stock objects too) fills it, or
// the current brush; a frame is the region's inner border; an inversion inverts the pixels.
void TPlayer::RegionDraw(const QPainterPath& logical, int kind, std::optional<uint32_t> brush,
                         double frameWidth, double frameHeight) {
    const QTransform t = Transform();
    if (!t.isInvertible() || logical.isEmpty()) return;
    const TBrushObject saved = s_.Brush;
    if (brush) {
        std::optional<TObject> stock;
        const TObject* object = nullptr;
        if (header_.Enhanced && (*brush & 0x80000000u)) {
            stock = StockObject(*brush);
            if (stock) object = &*stock;
        } else if (*brush < objects_.size()) {
            object = &objects_[*brush];
        }
        const auto* b = object != nullptr ? std::get_if<TBrushObject>(object) : nullptr;
        if (b == nullptr) return;
        s_.Brush = *b;
    }
    QPainterPath area = logical;
    area.setFillRule(Qt::WindingFill);
    if (kind == 1) {  // frame
        QPainterPathStroker stroker;
        stroker.setWidth(
            2 * std::clamp(std::max(std::abs(frameWidth), std::abs(frameHeight)), 1.0, 1e4));
        stroker.setJoinStyle(Qt::MiterJoin);
        area = stroker.createStroke(area).intersected(area);
    }
    Prepare(kind != 2, false);
    Reach(t.mapRect(area.boundingRect()));
    if (kind == 2) {  // invert
        RopLayer(0x55, t.mapRect(area.boundingRect()).adjusted(-1, -1, 1, 1),
                 [&](QPainter& p) { p.fillPath(area, Qt::white); });
    } else {
        painter_.drawPath(area);
    }
    s_.Brush = saved;
}

// RGNDATA at offset within size bytes: a 32-byte header (size, type, count, bytes, bounds),
// then count rectangles.
QPainterPath TPlayer::RegionData(const TRecordData& r, size_t offset, uint32_t size) const {
    QPainterPath path;
    const uint32_t count = r.U32(offset + 8);
    if (size < 32 || !r.Has(offset, size) || count > (size - 32) / 16) return path;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = offset + 32 + size_t(i) * 16;
        path.addRect(QRectF(QPointF(r.S32(o), r.S32(o + 4)), QPointF(r.S32(o + 8), r.S32(o + 12)))
                         .normalized());
    }
    return path;
}

void TPlayer::SetExtent(QPointF& ext, double x, double y) {
    // Extents only count in the scalable mapping modes; a zero extent is refused as GDI does.
    if (s_.MapMode != mmIsotropic && s_.MapMode != mmAnisotropic) return;
    if (x == 0 || y == 0) return;
    ext = QPointF(x, y);
}

std::vector<QPointF> TPlayer::Points(const TRecordData& r, size_t offset, uint32_t count,
                                     bool small) const {
    std::vector<QPointF> points;
    const size_t each = small ? 4 : 8;
    if (!r.Has(offset, size_t(count) * each)) return points;
    points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t o = offset + i * each;
        if (small)
            points.emplace_back(r.S16(o), r.S16(o + 2));
        else
            points.emplace_back(r.S32(o), r.S32(o + 4));
    }
    return points;
}

// ---- WMF ------------------------------------------------------------------------------------

void TPlayer::PlayWmf() {
    const std::vector<uint8_t>& data = metafile_.Data();
    size_t pos = header_.RecordsOffset;
    while (pos + 6 <= data.size()) {
        const uint32_t words = GetU32LE(data.data() + pos);
        const uint16_t function = GetU16LE(data.data() + pos + 4);
        if (function == 0) break;                                 // end of file
        if (words < 3 || words > (data.size() - pos) / 2) break;  // cut short: show the rest
        const size_t bytes = size_t(words) * 2;
        CountRecord();
        Wmf(function, TRecordData(data.data() + pos + 6, bytes - 6));
        pos += bytes;
    }
}

void TPlayer::Wmf(uint16_t function, const TRecordData& r) {
    // Parameters are 16-bit words, often in reverse order (y before x).
    auto w = [&](int i) { return double(r.S16(size_t(i) * 2)); };
    auto rectLTRB = [&](int first) {  // bottom, right, top, left from word `first`
        return QRectF(QPointF(w(first + 3), w(first + 2)), QPointF(w(first + 1), w(first)));
    };
    // A placeable file is shown through its window onto the whole picture: the player owns the
    // viewport and keeps the scalable mapping, so the file's viewport and fixed mapping modes
    // (written for the device it was recorded on) do not move or cut the picture.
    const bool ownViewport = header_.Placeable;
    switch (function) {
        case 0x0201:
            s_.BkColor = ColorRef(r.U32(0));
            break;  // SetBkColor
        case 0x0102:
            s_.BkMode = r.U16(0);
            break;      // SetBkMode
        case 0x0103: {  // SetMapMode
            const int mode = std::clamp(int(r.U16(0)), 1, 8);
            if (!ownViewport || mode == mmIsotropic || mode == mmAnisotropic) s_.MapMode = mode;
            break;
        }
        case 0x0106:
            s_.PolyFillMode = r.U16(0);
            break;  // SetPolyFillMode
        case 0x0209:
            s_.TextColor = ColorRef(r.U32(0));
            break;  // SetTextColor
        case 0x012E:
            s_.TextAlign = r.U16(0);
            break;  // SetTextAlign
        case 0x020B:
            s_.WindowOrg = QPointF(w(1), w(0));
            break;  // SetWindowOrg
        case 0x020C:
            SetExtent(s_.WindowExt, w(1), w(0));
            break;    // SetWindowExt
        case 0x020D:  // SetViewportOrg
            if (!ownViewport) s_.ViewportOrg = QPointF(w(1), w(0));
            break;
        case 0x020E:  // SetViewportExt
            if (!ownViewport) SetExtent(s_.ViewportExt, w(1), w(0));
            break;
        case 0x020F:
            s_.WindowOrg += QPointF(w(1), w(0));
            break;    // OffsetWindowOrg
        case 0x0211:  // OffsetViewportOrg
            if (!ownViewport) s_.ViewportOrg += QPointF(w(1), w(0));
            break;
        case 0x0410:    // ScaleWindowExt
        case 0x0412: {  // ScaleViewportExt
            QPointF& ext = function == 0x0410 ? s_.WindowExt : s_.ViewportExt;
            if (w(0) == 0 || w(2) == 0 || (function == 0x0412 && ownViewport)) break;
            SetExtent(ext, ext.x() * w(3) / w(2), ext.y() * w(1) / w(0));
            break;
        }
        case 0x0214:
            s_.Position = QPointF(w(1), w(0));
            break;      // MoveTo
        case 0x0213: {  // LineTo
            const QPointF to(w(1), w(0));
            Line(s_.Position, to);
            s_.Position = to;
            break;
        }
        case 0x0415:    // ExcludeClipRect
        case 0x0416: {  // IntersectClipRect
            QPainterPath p;
            p.addRect(rectLTRB(0).normalized());
            IntersectClip(Transform().map(p), function == 0x0415 ? 4 : 1);
            break;
        }
        case 0x0220: {  // OffsetClipRgn
            if (!s_.HasClip) break;
            const QTransform t = Transform();
            const QPointF d = t.map(QPointF(w(1), w(0))) - t.map(QPointF(0, 0));
            s_.Clip.translate(d);
            break;
        }
        case 0x0418:  // Ellipse
            BoxShape(1, rectLTRB(0));
            break;
        case 0x041B:  // Rectangle
            BoxShape(0, rectLTRB(0));
            break;
        case 0x061C:  // RoundRect: height, width of the corner ellipse, then the rectangle
            BoxShape(2, rectLTRB(2), QSizeF(w(1), w(0)));
            break;
        case 0x0817:    // Arc
        case 0x0830:    // Chord
        case 0x081A: {  // Pie
            const int kind = function == 0x0817 ? 0 : function == 0x0830 ? 1 : 2;
            ArcShape(kind, rectLTRB(4), QPointF(w(3), w(2)), QPointF(w(1), w(0)));
            break;
        }
        case 0x041F: {  // SetPixel: colour, y, x
            const QPointF p(w(3), w(2));
            FillRect(QRectF(p, QSizeF(1, 1)), ColorRef(r.U32(0)));
            break;
        }
        case 0x061D: {  // PatBlt: rop, height, width, y, x
            PatternBlit(QRectF(w(5), w(4), w(3), w(2)), r.U32(0));
            break;
        }
        case 0x0324:    // Polygon
        case 0x0325: {  // Polyline
            const uint32_t n = r.U16(0);
            const std::vector<QPointF> pts = Points(r, 2, n, true);
            if (pts.size() < 2) break;
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
            if (function == 0x0324) {
                p.closeSubpath();
                Shape(p, true, true);
            } else if (inPath_) {
                path_.addPath(p);
            } else {
                DrawPath(p, false, true);
            }
            break;
        }
        case 0x0538: {  // PolyPolygon: count, counts, points
            const uint32_t polys = r.U16(0);
            if (!r.Has(2, size_t(polys) * 2)) break;
            size_t offset = 2 + size_t(polys) * 2;
            QPainterPath p;
            for (uint32_t i = 0; i < polys; ++i) {
                const uint32_t n = r.U16(2 + size_t(i) * 2);
                const std::vector<QPointF> pts = Points(r, offset, n, true);
                if (pts.size() != n) break;
                offset += size_t(n) * 4;
                if (n < 2) continue;
                p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
                p.closeSubpath();
            }
            Shape(p, true, true);
            break;
        }
        case 0x0521: {  // TextOut: length, string (padded to words), y, x
            const uint32_t n = r.U16(0);
            const size_t padded = (size_t(n) + 1) & ~size_t(1);
            if (!r.Has(2, padded + 4)) break;
            Text(QPointF(r.S16(2 + padded + 2), r.S16(2 + padded)), TextOf(r.Data() + 2, n), {}, {},
                 0, QRectF());
            break;
        }
        case 0x0A32: {  // ExtTextOut: y, x, length, options, [rectangle], string, [dx]
            const QPointF at(w(1), w(0));
            const uint32_t n = r.U16(4);
            const uint32_t options = r.U16(6);
            size_t offset = 8;
            QRectF rect;
            if (options & 0x6) {
                rect = QRectF(QPointF(w(4), w(5)), QPointF(w(6), w(7)));
                offset += 8;
            }
            if (!r.Has(offset, n)) break;
            const QString text = TextOf(r.Data() + offset, n);
            offset += (size_t(n) + 1) & ~size_t(1);
            // Spacing per byte: it fits the characters of single-byte code pages only.
            std::vector<double> dx;
            if (r.Has(offset, size_t(n) * 2) && size_t(text.size()) == n)
                for (uint32_t i = 0; i < n; ++i)
                    dx.push_back(r.S16(offset + size_t(i) * 2));
            Text(at, text, dx, {}, options, rect);
            break;
        }
        case 0x012C:  // SelectClipRegion
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                IntersectClip(Transform().map(*region), 5);
            else
                ResetClip();
            break;
        case 0x0228:  // FillRegion: region, brush
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, 0, r.U16(2));
            break;
        case 0x0429:  // FrameRegion: region, brush, height, width
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, 1, r.U16(2), r.S16(6), r.S16(4));
            break;
        case 0x012B:  // PaintRegion
        case 0x012A:  // InvertRegion
            if (const QPainterPath* region = RegionObject(r.U16(0)))
                RegionDraw(*region, function == 0x012A ? 2 : 0, std::nullopt);
            break;
        case 0x0104:  // SetROP2
            s_.Rop2 = std::clamp(int(r.U16(0)), 1, 16);
            break;
        case 0x0108:  // SetTextCharExtra
            s_.CharExtra = r.S16(0);
            break;
        case 0x020A:  // SetTextJustification: break count, extra space
            s_.BreakCount = std::max(0, int(r.S16(0)));
            s_.BreakExtra = r.S16(2);
            break;
        case 0x001E:
            SaveDC();
            break;
        case 0x0127:
            RestoreDC(r.S16(0));
            break;
        case 0x012D:
            SelectObject(r.U16(0));
            break;
        case 0x01F0:
            DeleteObject(r.U16(0));
            break;
        case 0x02FA: {  // CreatePenIndirect: style, width (x, y), colour
            AddObject(TPenObject{r.U16(0), double(r.S16(2)), ColorRef(r.U32(6))});
            break;
        }
        case 0x02FC: {  // CreateBrushIndirect: style, colour, hatch
            AddObject(TBrushObject{r.U16(0), ColorRef(r.U32(2)), r.U16(6), {}});
            break;
        }
        case 0x0142: {  // DibCreatePatternBrush: style, usage, DIB
            TBrushObject brush{5, Qt::black, 0, {}};
            if (r.Size() > 4) brush.Pattern = DibImage(r.Data() + 4, r.Size() - 4, 0);
            AddObject(brush);
            break;
        }
        case 0x02FB: {  // CreateFontIndirect: LOGFONT with a 16-bit layout
            TFontObject font;
            font.Height = r.S16(0);
            font.Escapement = r.S16(4);
            font.Weight = r.S16(8);
            font.Italic = r.Has(10, 1) && r.Data()[10] != 0;
            font.Underline = r.Has(11, 1) && r.Data()[11] != 0;
            font.StrikeOut = r.Has(12, 1) && r.Data()[12] != 0;
            if (r.Has(13, 1)) font.CharSet = r.Data()[13];
            if (r.Size() > 18) {
                const char* face = reinterpret_cast<const char*>(r.Data() + 18);
                const size_t max = std::min<size_t>(32, r.Size() - 18);
                font.FaceName = QString::fromLatin1(face, qsizetype(strnlen(face, max)));
            }
            AddObject(font);
            break;
        }
        case 0x06FF: {  // CreateRegion: a header, then scans of x pairs between top and bottom
            TRegionObject region;
            const uint32_t scans = r.U16(10);
            size_t offset = 22;
            for (uint32_t i = 0; i < scans; ++i) {
                const uint32_t count = r.U16(offset);
                if (!r.Has(offset, 6 + size_t(count) * 2 + 2)) break;
                const double top = r.S16(offset + 2), bottom = r.S16(offset + 4);
                for (uint32_t k = 0; k + 1 < count; k += 2)
                    region.Path.addRect(QRectF(QPointF(r.S16(offset + 6 + size_t(k) * 2), top),
                                               QPointF(r.S16(offset + 8 + size_t(k) * 2), bottom)));
                offset += 6 + size_t(count) * 2 + 2;
            }
            AddObject(region);
            break;
        }
        case 0x00F7:  // CreatePalette
        case 0x01F9:  // CreatePatternBrush (device-dependent)
            AddObject(TBrushObject{1, Qt::black, 0, {}});
            break;
        case 0x0940: {  // DibBitBlt: rop, ySrc, xSrc, [reserved,] height, width, yDest, xDest
            const bool hasBitmap = r.Size() > 18;
            if (!hasBitmap) {
                PatternBlit(QRectF(w(8), w(7), w(6), w(5)), r.U32(0));
                break;
            }
            const QRectF dest(w(7), w(6), w(5), w(4));
            const QRectF src(w(3), w(2), w(5), w(4));
            DrawDib(dest, src, r.Data() + 16, r.Size() - 16, nullptr, 0, r.U32(0), false);
            break;
        }
        case 0x0B41: {  // DibStretchBlt: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest
            const bool hasBitmap = r.Size() > 20;
            if (!hasBitmap) {
                PatternBlit(QRectF(w(10), w(9), w(8), w(7)), r.U32(0));
                break;
            }
            const QRectF dest(w(9), w(8), w(7), w(6));
            const QRectF src(w(5), w(4), w(3), w(2));
            DrawDib(dest, src, r.Data() + 20, r.Size() - 20, nullptr, 0, r.U32(0), false);
            break;
        }
        case 0x0F43: {  // StretchDib: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, y, x
            const QRectF dest(w(10), w(9), w(8), w(7));
            const QRectF src(w(6), w(5), w(4), w(3));
            if (r.U16(4) == 0 && r.Size() > 22)
                DrawDib(dest, src, r.Data() + 22, r.Size() - 22, nullptr, 0, r.U32(0), true);
            break;
        }
        case 0x0D33: {  // SetDibToDev: usage, scans, start, yDib, xDib, h, w, yDest, xDest
            const QRectF dest(w(8), w(7), w(6), w(5));
            const QRectF src(w(4), w(3), w(6), w(5));
            if (r.U16(0) == 0 && r.Size() > 18)
                DrawDib(dest, src, r.Data() + 18, r.Size() - 18, nullptr, 0, 0x00CC0020, true);
            break;
        }
        default:
            break;  // records that draw nothing here are skipped by their size
    }
}

// ---- EMF ------------------------------------------------------------------------------------

void TPlayer::PlayEmf() {
    const std::vector<uint8_t>& data = metafile_.Data();
    size_t pos = header_.RecordsOffset;
    while (pos + 8 <= data.size()) {
        const uint32_t type = GetU32LE(data.data() + pos);
        const uint32_t size = GetU32LE(data.data() + pos + 4);
        if (size < 8 || size % 4 != 0 || size > data.size() - pos) break;
        if (type == 14) break;  // EMR_EOF
        CountRecord();
        Emf(type, TRecordData(data.data() + pos + 8, size - 8));
        pos += size;
    }
}

void TPlayer::Emf(uint32_t type, const TRecordData& r) {
    if (type == 70) {  // Comment: EMF+ records live in them
        PlusComment(r);
        return;
    }
    if (plusActive_ && !getDC_) return;  // GDI+'s fallback for readers without EMF+
    auto point = [&](size_t o) { return QPointF(r.S32(o), r.S32(o + 4)); };
    auto rect = [&](size_t o) { return QRectF(point(o), point(o + 8)); };
    // Shapes drawn with a bounding rectangle in records that come first: inclusive corners.
    auto box = [&](size_t o) { return rect(o).normalized(); };
    switch (type) {
        case 9:
            SetExtent(s_.WindowExt, r.S32(0), r.S32(4));
            break;  // SetWindowExtEx
        case 10:
            s_.WindowOrg = point(0);
            break;  // SetWindowOrgEx
        case 11:
            SetExtent(s_.ViewportExt, r.S32(0), r.S32(4));
            break;  // SetViewportExtEx
        case 12:
            s_.ViewportOrg = point(0);
            break;  // SetViewportOrgEx
        case 17:
            s_.MapMode = std::clamp(int(r.U32(0)), 1, 8);
            break;  // SetMapMode
        case 18:
            s_.BkMode = int(r.U32(0));
            break;  // SetBkMode
        case 19:
            s_.PolyFillMode = int(r.U32(0));
            break;  // SetPolyFillMode
        case 22:
            s_.TextAlign = r.U32(0);
            break;  // SetTextAlign
        case 24:
            s_.TextColor = ColorRef(r.U32(0));
            break;  // SetTextColor
        case 25:
            s_.BkColor = ColorRef(r.U32(0));
            break;  // SetBkColor
        case 20:    // SetROP2
            s_.Rop2 = int(std::clamp<uint32_t>(r.U32(0), 1, 16));
            break;
        case 57:
            s_.Clockwise = r.U32(0) == 2;
            break;  // SetArcDirection
        case 31:    // ScaleViewportExtEx: xNum, xDenom, yNum, yDenom
        case 32: {  // ScaleWindowExtEx
            QPointF& ext = type == 32 ? s_.WindowExt : s_.ViewportExt;
            if (r.S32(4) == 0 || r.S32(12) == 0) break;
            SetExtent(ext, ext.x() * r.S32(0) / r.S32(4), ext.y() * r.S32(8) / r.S32(12));
            break;
        }
        case 26: {  // OffsetClipRgn (logical units)
            if (!s_.HasClip) break;
            const QTransform t = Transform();
            s_.Clip.translate(t.map(point(0)) - t.map(QPointF(0, 0)));
            break;
        }
        case 27:
            s_.Position = point(0);
            break;  // MoveToEx
        case 54: {  // LineTo
            Line(s_.Position, point(0));
            s_.Position = point(0);
            break;
        }
        case 29:    // ExcludeClipRect
        case 30: {  // IntersectClipRect
            QPainterPath p;
            p.addRect(box(0));
            IntersectClip(Transform().map(p), type == 29 ? 4 : 1);
            break;
        }
        case 33:
            SaveDC();
            break;
        case 34:
            RestoreDC(r.S32(0));
            break;
        case 35: {  // SetWorldTransform
            s_.World = QTransform(r.F32(0), r.F32(4), r.F32(8), r.F32(12), r.F32(16), r.F32(20));
            break;
        }
        case 36: {  // ModifyWorldTransform: xform, mode
            const QTransform x(r.F32(0), r.F32(4), r.F32(8), r.F32(12), r.F32(16), r.F32(20));
            switch (r.U32(24)) {
                case 1:
                    s_.World = QTransform();
                    break;  // MWT_IDENTITY
                case 2:
                    s_.World = x * s_.World;
                    break;  // MWT_LEFTMULTIPLY
                case 3:
                    s_.World = s_.World * x;
                    break;  // MWT_RIGHTMULTIPLY
                case 4:
                    s_.World = x;
                    break;  // MWT_SET
                default:
                    break;
            }
            break;
        }
        case 37:
            SelectObject(r.U32(0));
            break;
        case 40:
            DeleteObject(r.U32(0));
            break;
        case 38: {  // CreatePen: index, style, width (x, y), colour
            AddObject(TPenObject{r.U32(4), double(r.S32(8)), ColorRef(r.U32(16))},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 95: {  // ExtCreatePen: index, offBmi, cbBmi, offBits, cbBits, style, width, ...
            AddObject(TPenObject{r.U32(20), double(r.U32(24)), ColorRef(r.U32(32))},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 39: {  // CreateBrushIndirect: index, style, colour, hatch
            AddObject(TBrushObject{r.U32(4), ColorRef(r.U32(8)), r.U32(12), {}},
                      int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 93:    // CreateMonoBrush
        case 94: {  // CreateDibPatternBrushPt: index, usage, offBmi, cbBmi, offBits, cbBits
            TBrushObject brush{5, Qt::black, 0, {}};
            const uint32_t offBmi = r.U32(8), cbBmi = r.U32(12);
            const uint32_t offBits = r.U32(16), cbBits = r.U32(20);
            // Offsets count from the record's start, 8 bytes before the data here.
            if (offBmi >= 8 && offBits >= 8 && r.Has(offBmi - 8, cbBmi) &&
                r.Has(offBits - 8, cbBits)) {
                std::vector<uint8_t> dib(r.Data() + offBmi - 8, r.Data() + offBmi - 8 + cbBmi);
                dib.insert(dib.end(), r.Data() + offBits - 8, r.Data() + offBits - 8 + cbBits);
                brush.Pattern = DibImage(dib.data(), dib.size(), cbBmi);
            }
            AddObject(brush, int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 82: {  // ExtCreateFontIndirectW: index, LOGFONTW
            TFontObject font;
            font.Height = r.S32(4);
            font.Escapement = r.S32(12);
            font.Weight = r.S32(20);
            font.Italic = r.Has(24, 1) && r.Data()[24] != 0;
            font.Underline = r.Has(25, 1) && r.Data()[25] != 0;
            font.StrikeOut = r.Has(26, 1) && r.Data()[26] != 0;
            if (r.Has(27, 1)) font.CharSet = r.Data()[27];
            QString face;
            for (size_t i = 0; i < 32 && r.Has(32 + i * 2, 2); ++i) {
                const char16_t c = r.U16(32 + i * 2);
                if (c == 0) break;
                face += QChar(c);
            }
            font.FaceName = face;
            AddObject(font, int(std::min<uint32_t>(r.U32(0), 0x7FFFFFFF)));
            break;
        }
        case 42:  // Ellipse
            BoxShape(1, box(0));
            break;
        case 43:  // Rectangle
            BoxShape(0, box(0));
            break;
        case 44:  // RoundRect: box, corner size
            BoxShape(2, box(0), QSizeF(r.S32(16), r.S32(20)));
            break;
        case 45:    // Arc
        case 46:    // Chord
        case 47:    // Pie
        case 55: {  // ArcTo: a line from the current position to the arc, which it moves to
            const int kind = type == 46 ? 1 : type == 47 ? 2 : type == 55 ? 3 : 0;
            ArcShape(kind, box(0), point(16), point(24));
            break;
        }
        case 41:  // AngleArc: centre, radius, start and sweep angles
            AngleArc(point(0), r.U32(8), r.F32(12), r.F32(16));
            break;
        case 56:    // PolyDraw: bounds, count, points, types
        case 92: {  // PolyDraw16
            const uint32_t n = r.U32(16);
            const bool small = type == 92;
            const std::vector<QPointF> pts = Points(r, 20, n, small);
            if (pts.size() != n || !r.Has(20 + size_t(n) * (small ? 4 : 8), n)) break;
            PolyDraw(pts, r, 20 + size_t(n) * (small ? 4 : 8));
            break;
        }
        case 65:  // FlattenPath: curves become lines
            if (!path_.isEmpty()) {
                QPainterPath flat;
                for (const QPolygonF& polygon : path_.toSubpathPolygons())
                    flat.addPolygon(polygon);
                path_ = flat;
            }
            break;
        case 66:  // WidenPath: the outline the pen would draw
            if (!path_.isEmpty() && s_.Pen.Style % 16 != 5) {
                QPainterPathStroker stroker(MakePen());
                stroker.setWidth(std::max(s_.Pen.Width, 1.0));
                path_ = stroker.createStroke(path_).simplified();
            }
            break;
        case 15: {  // SetPixelV
            FillRect(QRectF(point(0), QSizeF(1, 1)), ColorRef(r.U32(8)));
            break;
        }
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 85:
        case 86:
        case 87:
        case 88:
        case 89: {
            // PolyBezier, Polygon, Polyline, PolyBezierTo, PolylineTo and their 16-bit forms:
            // bounds, count, points.
            const bool small = type >= 85;
            const uint32_t kind = small ? type - 83 : type;
            const uint32_t n = r.U32(16);
            const std::vector<QPointF> pts = Points(r, 20, n, small);
            if (pts.size() != n || n == 0) break;
            QPainterPath p;
            const bool to = kind == 5 || kind == 6;
            size_t i = 0;
            if (to) {
                p.moveTo(s_.Position);
            } else {
                p.moveTo(pts[0]);
                i = 1;
            }
            if (kind == 2 || kind == 5) {
                for (; i + 2 < pts.size(); i += 3)
                    p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            } else {
                for (; i < pts.size(); ++i)
                    p.lineTo(pts[i]);
            }
            if (to) s_.Position = pts.back();
            if (kind == 3) {
                p.closeSubpath();
                Shape(p, true, true);
            } else if (inPath_) {
                if (to && !path_.isEmpty()) {
                    path_.connectPath(p);
                } else {
                    path_.addPath(p);
                }
            } else {
                DrawPath(p, false, true);
            }
            break;
        }
        case 7:
        case 8:
        case 90:
        case 91: {
            // PolyPolyline, PolyPolygon and their 16-bit forms: bounds, polygons, total points,
            // counts, points.
            const bool small = type >= 90;
            const bool polygon = type == 8 || type == 91;
            const uint32_t polys = r.U32(16), total = r.U32(20);
            if (!r.Has(24, size_t(polys) * 4)) break;
            size_t offset = 24 + size_t(polys) * 4;
            const std::vector<QPointF> pts = Points(r, offset, total, small);
            if (pts.size() != total) break;
            QPainterPath p;
            size_t at = 0;
            for (uint32_t k = 0; k < polys; ++k) {
                const uint32_t n = r.U32(24 + size_t(k) * 4);
                if (n > pts.size() - at) break;
                if (n >= 2) {
                    p.moveTo(pts[at]);
                    for (uint32_t j = 1; j < n; ++j)
                        p.lineTo(pts[at + j]);
                    if (polygon) p.closeSubpath();
                }
                at += n;
            }
            Shape(p, polygon, true);
            break;
        }
        case 59:
            inPath_ = true;
            path_ = QPainterPath();
            break;  // BeginPath
        case 60:
            inPath_ = false;
            break;  // EndPath
        case 61:
            if (inPath_) path_.closeSubpath();
            break;  // CloseFigure
        case 68:
            inPath_ = false;
            path_ = QPainterPath();
            break;  // AbortPath
        case 62:    // FillPath
        case 63:    // StrokeAndFillPath
        case 64: {  // StrokePath
            inPath_ = false;
            QPainterPath p = path_;
            p.setFillRule(s_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
            DrawPath(p, type != 64, type != 62);
            path_ = QPainterPath();
            break;
        }
        case 67: {  // SelectClipPath: mode
            inPath_ = false;
            IntersectClip(Transform().map(path_), int(r.U32(0)));
            path_ = QPainterPath();
            break;
        }
        case 75: {  // ExtSelectClipRgn: size, mode, RGNDATA in device units
            const uint32_t size = r.U32(0), mode = r.U32(4);
            if (mode == 5 && size == 0) {
                ResetClip();
                break;
            }
            if (size < 32 || !r.Has(8, size)) break;
            IntersectClip(outer_.map(RegionData(r, 8, size)), int(mode));
            break;
        }
        case 28:  // SetMetaRgn: the clip becomes the meta region
            if (s_.HasClip) {
                s_.Meta = s_.Clip;
                s_.HasMeta = true;
            }
            break;
        case 71:    // FillRgn: bounds, size, brush, RGNDATA
        case 72:    // FrameRgn: bounds, size, brush, width, height, RGNDATA
        case 73:    // InvertRgn: bounds, size, RGNDATA
        case 74: {  // PaintRgn
            const uint32_t size = r.U32(16);
            const size_t at = type == 71 ? 24 : type == 72 ? 32 : 20;
            const QPainterPath region = RegionData(r, at, size);
            if (type == 71)
                RegionDraw(region, 0, r.U32(20));
            else if (type == 72)
                RegionDraw(region, 1, r.U32(20), r.S32(24), r.S32(28));
            else
                RegionDraw(region, type == 73 ? 2 : 0, std::nullopt);
            break;
        }
        case 83:  // ExtTextOutA: bounds, mode, scales, EMRTEXT
        case 84:  // ExtTextOutW
            EmfText(r, 28, type == 84);
            break;
        case 96:    // PolyTextOutA: bounds, mode, scales, count, EMRTEXT each
        case 97: {  // PolyTextOutW
            const uint32_t strings = r.U32(28);
            if (!r.Has(32, size_t(strings) * 40)) break;
            for (uint32_t i = 0; i < strings; ++i)
                EmfText(r, 32 + size_t(i) * 40, type == 97);
            break;
        }
        case 108: {  // SmallTextOut: x, y, count, options, mode, scales, [bounds], characters
            const QPointF at = point(0);
            const uint32_t n = r.U32(8), options = r.U32(12);
            const size_t offset = (options & 0x100) ? 28 : 44;  // ETO_NO_RECT
            const bool small = (options & 0x200) != 0;          // ETO_SMALL_CHARS
            if (!r.Has(offset, size_t(n) * (small ? 1 : 2))) break;
            QString text;
            if (small) {
                text = TextOf(r.Data() + offset, n);
            } else {
                for (uint32_t i = 0; i < n; ++i)
                    text += QChar(char16_t(r.U16(offset + size_t(i) * 2)));
                if (!(options & 0x10)) text = MapSymbolText(text, SymbolFontOf(s_.Font));
            }
            Text(at, text, {}, {}, options, (options & 0x100) ? QRectF() : rect(28));
            break;
        }
        case 76:    // BitBlt
        case 77: {  // StretchBlt: bounds, dest, rop, src, xform, bk, usage, bmi/bits, [src size]
            const QRectF dest(r.S32(16), r.S32(20), r.S32(24), r.S32(28));
            const uint32_t rop = r.U32(32);
            const uint32_t offBmi = r.U32(76), cbBmi = r.U32(80);
            const uint32_t offBits = r.U32(84), cbBits = r.U32(88);
            if (cbBmi == 0) {
                PatternBlit(dest, rop);
                break;
            }
            QRectF src(r.S32(36), r.S32(40), dest.width(), dest.height());
            if (type == 77) src.setSize(QSizeF(r.S32(92), r.S32(96)));
            if (r.U32(72) != 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
                !r.Has(offBits - 8, cbBits))
                break;
            DrawDib(dest, src, r.Data() + offBmi - 8, cbBmi, r.Data() + offBits - 8, cbBits, rop,
                    false);
            break;
        }
        case 114:   // AlphaBlend: bounds, dest, blend function, source, ..., source size
        case 116:   // TransparentBlt: the same with the transparent colour
        case 78: {  // MaskBlt: the same with the operation, then the mask
            const QRectF dest(r.S32(16), r.S32(20), r.S32(24), r.S32(28));
            QImage image = RecordDib(r, 76);
            QRectF src(r.S32(36), r.S32(40), dest.width(), dest.height());
            if (type != 78) src.setSize(QSizeF(r.S32(92), r.S32(96)));
            if (image.isNull()) {
                if (type == 78) PatternBlit(dest, r.U32(32));
                break;
            }
            image = image.convertToFormat(QImage::Format_ARGB32);
            if (type == 116) {  // the transparent colour's pixels are left out
                const QRgb key = ColorRef(r.U32(32)).rgb() & 0xFFFFFF;
                for (int y = 0; y < image.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                    for (int x = 0; x < image.width(); ++x)
                        if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
                }
                BlitImage(image, dest, src, 0xCC, false);
                break;
            }
            if (type == 114) {  // constant alpha, and per-pixel premultiplied alpha (AC_SRC_ALPHA)
                const uint32_t blend = r.U32(32);
                const double constant = ((blend >> 16) & 0xFF) / 255.0;
                if (((blend >> 24) & 0xFF) == 1 && image.hasAlphaChannel()) {
                    image = image.convertToFormat(QImage::Format_ARGB32);
                    image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
                    image = image.convertToFormat(QImage::Format_ARGB32);
                }
                painter_.setOpacity(constant);
                BlitImage(image, dest, src, 0xCC, false);
                painter_.setOpacity(1.0);
                break;
            }
            // MaskBlt: the foreground operation where the mask is 1, the background one where
            // it is 0; without a mask the foreground operation everywhere.
            const uint32_t rop = r.U32(32);
            const QImage mask = RecordDib(r, 104);
            if (mask.isNull()) {
                BlitImage(image, dest, src, uint8_t(rop >> 16), false);
                break;
            }
            const QPoint maskAt(r.S32(92), r.S32(96));
            for (const bool fore : {true, false}) {
                QImage part = image;
                for (int y = 0; y < part.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
                    for (int x = 0; x < part.width(); ++x) {
                        const QPoint m = QPoint(x, y) - src.topLeft().toPoint() + maskAt;
                        const bool set = mask.valid(m) && (mask.pixel(m) & 0xFFFFFF) != 0;
                        if (set != fore) line[x] = 0;
                    }
                }
                BlitImage(part, dest, src, uint8_t(rop >> (fore ? 16 : 24)), false);
            }
            break;
        }
        case 79: {  // PlgBlt: bounds, 3 destination corners, source rectangle, ..., mask
            QImage image = RecordDib(r, 88);
            const QRectF src(r.S32(40), r.S32(44), r.S32(48), r.S32(52));
            if (image.isNull() || src.width() == 0 || src.height() == 0) break;
            image = image.convertToFormat(QImage::Format_ARGB32);
            const QImage mask = RecordDib(r, 116);
            if (!mask.isNull()) {  // the mask's 0 bits leave the picture as it is
                const QPoint maskAt(r.S32(104), r.S32(108));
                for (int y = 0; y < image.height(); ++y) {
                    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                    for (int x = 0; x < image.width(); ++x) {
                        const QPoint m = QPoint(x, y) - src.topLeft().toPoint() + maskAt;
                        if (!mask.valid(m) || (mask.pixel(m) & 0xFFFFFF) == 0) line[x] = 0;
                    }
                }
            }
            // Upper-left, upper-right and lower-left corners of the destination.
            const QPointF p0 = point(16), p1 = point(24), p2 = point(32);
            const QPointF ux = (p1 - p0) / src.width(), uy = (p2 - p0) / src.height();
            const QTransform place(ux.x(), ux.y(), uy.x(), uy.y(), p0.x(), p0.y());
            const QTransform t =
                QTransform::fromTranslate(-src.x(), -src.y()) * place * Transform();
            if (!t.isInvertible()) break;
            Prepare(false, false);
            painter_.setTransform(t);
            painter_.drawImage(src.topLeft(), image, src);
            break;
        }
        case 118:  // GradientFill
            GradientFill(r);
            break;
        case 80:    // SetDIBitsToDevice
        case 81: {  // StretchDIBits
            const uint32_t offBmi = r.U32(40), cbBmi = r.U32(44);
            const uint32_t offBits = r.U32(48), cbBits = r.U32(52), usage = r.U32(56);
            const QRectF src(r.S32(24), r.S32(28), r.S32(32), r.S32(36));
            QRectF dest(r.S32(16), r.S32(20), src.width(), src.height());
            uint32_t rop = 0x00CC0020;
            if (type == 81) {
                rop = r.U32(60);
                dest.setSize(QSizeF(r.S32(64), r.S32(68)));
            }
            if (usage != 0 || offBmi < 8 || offBits < 8 || !r.Has(offBmi - 8, cbBmi) ||
                !r.Has(offBits - 8, cbBits))
                break;
            DrawDib(dest, src, r.Data() + offBmi - 8, cbBmi, r.Data() + offBits - 8, cbBits, rop,
                    true);
            break;
        }
        default:
            break;  // records that draw nothing here are skipped by their size
    }
}

// ---- EMF+ drawing ---------------------------------------------------------------------------

// Device units of one page unit: world and display count as pixels of the reference device.
QTransform TPlayer::PlusPage() const {
    auto unit = [&](double dpi) {
        switch (plus_.PageUnit) {
            case 3:
                return dpi / 72;
            case 4:
                return dpi;
            case 5:
                return dpi / 300;
            case 6:
                return dpi / 25.4;
            default:
                return 1.0;
        }
    };
    return QTransform::fromScale(plus_.PageScale * unit(plusDpiX_),
                                 plus_.PageScale * unit(plusDpiY_));
}

bool TPlayer::PlusPrepare() {
    const QTransform t = PlusTransform();
    if (!t.isInvertible()) return false;
    // A transform that throws the drawing millions of pixels away shows nothing.
    for (double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!(std::abs(v) < 1e7)) return false;
    painter_.setTransform(QTransform());
    if (plus_.HasClip)
        painter_.setClipPath(plus_.Clip);
    else
        painter_.setClipping(false);
    painter_.setTransform(t);
    painter_.setBackgroundMode(Qt::TransparentMode);
    return true;
}

const TPlusObject* TPlayer::PlusObject(uint32_t id) const {
    return id < plusObjects_.size() ? &plusObjects_[id] : nullptr;
}

// The brush of a fill record: an ARGB colour when flag S is set, else an object.
std::optional<TPlusBrush> TPlayer::PlusBrush(uint16_t flags, uint32_t value) const {
    if (flags & 0x8000) return TPlusBrush{QBrush(Argb(value)), {}, false};
    if (const auto* b = std::get_if<TPlusBrush>(PlusObject(value))) return *b;
    return std::nullopt;
}

void TPlayer::PlusFill(const QPainterPath& path, const std::optional<TPlusBrush>& brush) {
    if (!brush || !PlusPrepare()) return;
    if (brush->HasBack) painter_.fillPath(path, brush->Back);
    painter_.fillPath(path, brush->Brush);
}

void TPlayer::PlusStroke(const QPainterPath& path, uint32_t penId) {
    const auto* pen = std::get_if<QPen>(PlusObject(penId));
    if (pen == nullptr || !PlusPrepare()) return;
    painter_.strokePath(path, *pen);
}

void TPlayer::PlusClip(const QPainterPath& world, uint32_t mode) {
    const QPainterPath device = PlusTransform().map(world);
    QPainterPath all;
    all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
    const QPainterPath current = plus_.HasClip ? plus_.Clip : all;
    switch (mode) {
        case 0:
            plus_.Clip = device;
            break;
        case 1:
            plus_.Clip = current.intersected(device);
            break;
        case 2:
            plus_.Clip = current.united(device);
            break;
        case 3:
            plus_.Clip = current.united(device).subtracted(current.intersected(device));
            break;
        case 4:
            plus_.Clip = current.subtracted(device);
            break;
        case 5:
            plus_.Clip = device.subtracted(current);
            break;
        default:
            return;
    }
    plus_.HasClip = true;
}

// A font of the object table at 100 pixels, and the world units of its em.
std::optional<std::pair<QFont, double>> TPlayer::PlusFont(uint32_t id) const {
    const auto* f = std::get_if<TPlusFont>(PlusObject(id));
    if (f == nullptr || !(f->EmSize > 0)) return std::nullopt;
    QFont font(f->Family.isEmpty() ? QStringLiteral("Sans Serif") : f->Family);
    font.setPixelSize(100);
    font.setBold(f->Style & 1);
    font.setItalic(f->Style & 2);
    font.setUnderline(f->Style & 4);
    font.setStrikeOut(f->Style & 8);
    double em = f->EmSize;
    if (f->Unit != 0) {  // not world units: through the page's units
        const double page = PlusPage().m11();
        const double device = f->Unit == 3   ? plusDpiX_ / 72
                              : f->Unit == 4 ? plusDpiX_
                              : f->Unit == 5 ? plusDpiX_ / 300
                              : f->Unit == 6 ? plusDpiX_ / 25.4
                                             : 1.0;
        if (page > 0) em = em * device / page;
    }
    return std::make_pair(font, em);
}

void TPlayer::PlusComment(const TRecordData& r) {
    // Data size, "EMF+", then the records: type, flags, size (with this 12-byte head), data size.
    if (r.U32(4) != 0x2B464D45) return;
    size_t pos = 8;
    while (r.Has(pos, 12)) {
        const uint16_t type = r.U16(pos), flags = r.U16(pos + 2);
        const uint32_t size = r.U32(pos + 4), dataSize = r.U32(pos + 8);
        if (size < 12 || !r.Has(pos, size) || dataSize > size - 12) break;
        EmfPlus(type, flags, TRecordData(r.Data() + pos + 12, dataSize));
        pos += size;
    }
}

void TPlayer::EmfPlus(uint16_t type, uint16_t flags, const TRecordData& r) {
    TPlusReader in(r);
    const bool compressed = (flags & 0x4000) != 0;
    const uint32_t objectId = flags & 0xFF;
    if (type != 0x4004) getDC_ = false;
    switch (type) {
        case 0x4001: {  // header: version, flags, dpi
            in.U32();
            in.U32();
            const double dx = in.U32(), dy = in.U32();
            if (dx >= 1 && dx <= 10000) plusDpiX_ = dx;
            if (dy >= 1 && dy <= 10000) plusDpiY_ = dy;
            plusActive_ = true;
            break;
        }
        case 0x4004:  // GetDC: the next plain records draw
            getDC_ = true;
            break;
        case 0x4008: {  // object: id and type in the flags; big objects come in parts
            if (objectId >= 64) break;
            const uint32_t kind = (flags >> 8) & 0x7F;
            constexpr size_t kMaxObject = size_t(64) << 20;
            if (flags & 0x8000) {  // a part, after the whole object's size
                if (pendingId_ != objectId) {
                    pending_.clear();
                    pendingId_ = objectId;
                }
                if (r.Size() < 4 || pending_.size() + r.Size() > kMaxObject) break;
                pending_.insert(pending_.end(), r.Data() + 4, r.Data() + r.Size());
                break;
            }
            if (pendingId_ == objectId && !pending_.empty()) {
                if (pending_.size() + r.Size() <= kMaxObject)
                    pending_.insert(pending_.end(), r.Data(), r.Data() + r.Size());
                plusObjects_[objectId] =
                    ReadPlusObject(kind, TRecordData(pending_.data(), pending_.size()));
                pending_.clear();
                pendingId_ = 0xFFFFFFFF;
                break;
            }
            plusObjects_[objectId] = ReadPlusObject(kind, r);
            break;
        }
        case 0x4009: {  // Clear
            const QColor c = Argb(in.U32());
            if (!PlusPrepare()) break;
            painter_.setTransform(QTransform());
            painter_.setCompositionMode(QPainter::CompositionMode_Source);
            painter_.fillRect(QRectF(0, 0, painter_.device()->width(), painter_.device()->height()),
                              c);
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
            break;
        }
        case 0x400A:    // FillRects: brush, count, rectangles
        case 0x400B: {  // DrawRects: count, rectangles (pen in the flags)
            const uint32_t brush = type == 0x400A ? in.U32() : 0;
            const uint32_t n = in.Count(compressed ? 8 : 16);
            QPainterPath p;
            for (uint32_t i = 0; i < n; ++i)
                p.addRect(ReadPlusRect(in, compressed));
            if (!in.Ok()) break;
            if (type == 0x400A)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x400C:    // FillPolygon: brush, count, points
        case 0x400D: {  // DrawLines: count, points; flag L closes the figure
            const uint32_t brush = type == 0x400C ? in.U32() : 0;
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            if (pts.size() < 2) break;
            QPainterPath p;
            p.addPolygon(QPolygonF(QList<QPointF>(pts.begin(), pts.end())));
            if (type == 0x400C || (flags & 0x2000)) p.closeSubpath();
            if (type == 0x400C)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x400E:    // FillEllipse: brush, rectangle
        case 0x400F: {  // DrawEllipse
            const uint32_t brush = type == 0x400E ? in.U32() : 0;
            const QRectF rect = ReadPlusRect(in, compressed);
            if (!in.Ok()) break;
            QPainterPath p;
            p.addEllipse(rect);
            if (type == 0x400E)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x4010:    // FillPie: brush, start, sweep, rectangle
        case 0x4011:    // DrawPie
        case 0x4012: {  // DrawArc
            const uint32_t brush = type == 0x4010 ? in.U32() : 0;
            const double start = in.F32(), sweep = in.F32();
            const QRectF rect = ReadPlusRect(in, compressed);
            if (!in.Ok()) break;
            // Clockwise degrees here, counter-clockwise in Qt.
            QPainterPath p;
            if (type == 0x4012) {
                p.arcMoveTo(rect, -start);
                p.arcTo(rect, -start, -sweep);
                PlusStroke(p, objectId);
                break;
            }
            p.moveTo(rect.center());
            p.arcTo(rect, -start, -sweep);
            p.closeSubpath();
            if (type == 0x4010)
                PlusFill(p, PlusBrush(flags, brush));
            else
                PlusStroke(p, objectId);
            break;
        }
        case 0x4013: {  // FillRegion: brush; region in the flags
            const uint32_t brush = in.U32();
            if (const auto* region = std::get_if<TPlusRegion>(PlusObject(objectId)))
                PlusFill(region->Path, PlusBrush(flags, brush));
            break;
        }
        case 0x4014:    // FillPath: brush; path in the flags
        case 0x4015: {  // DrawPath: pen; path in the flags
            const uint32_t value = in.U32();
            const auto* path = std::get_if<QPainterPath>(PlusObject(objectId));
            if (path == nullptr || !in.Ok()) break;
            if (type == 0x4014)
                PlusFill(*path, PlusBrush(flags, value));
            else
                PlusStroke(*path, value);
            break;
        }
        case 0x4016:    // FillClosedCurve: brush, tension, count, points (flag W: winding)
        case 0x4017: {  // DrawClosedCurve: tension, count, points
            const uint32_t brush = type == 0x4016 ? in.U32() : 0;
            const double tension = in.F32();
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            QPainterPath p = CurvePath(pts, tension, true, 0, 0);
            if (type == 0x4016) {
                p.setFillRule((flags & 0x2000) ? Qt::WindingFill : Qt::OddEvenFill);
                PlusFill(p, PlusBrush(flags, brush));
            } else {
                PlusStroke(p, objectId);
            }
            break;
        }
        case 0x4018: {  // DrawCurve: tension, first segment, segments, count, points
            const double tension = in.F32();
            const uint32_t first = in.U32(), segments = in.U32();
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            PlusStroke(CurvePath(pts, tension, false, first, segments), objectId);
            break;
        }
        case 0x4019: {  // DrawBeziers: count, points
            const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
            if (pts.size() < 4) break;
            QPainterPath p(pts[0]);
            for (size_t i = 1; i + 2 < pts.size(); i += 3)
                p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            PlusStroke(p, objectId);
            break;
        }
        case 0x401A:    // DrawImage: attributes, unit, source, destination rectangle
        case 0x401B: {  // DrawImagePoints: attributes, unit, source, 3 points
            const auto* image = std::get_if<QImage>(PlusObject(objectId));
            in.U32();
            in.S32();
            const QRectF src = ReadPlusRect(in, false);
            QTransform place;
            if (type == 0x401A) {
                const QRectF dest = ReadPlusRect(in, compressed);
                if (src.width() == 0 || src.height() == 0) break;
                place = QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                                   dest.x(), dest.y());
            } else {
                const std::vector<QPointF> pts = ReadPlusPoints(in, in.U32(), flags);
                if (pts.size() != 3 || src.width() == 0 || src.height() == 0) break;
                // Upper-left, upper-right and lower-left corners of the destination.
                const QPointF ux = (pts[1] - pts[0]) / src.width();
                const QPointF uy = (pts[2] - pts[0]) / src.height();
                place = QTransform(ux.x(), ux.y(), uy.x(), uy.y(), pts[0].x(), pts[0].y());
            }
            if (image == nullptr || image->isNull() || !in.Ok()) break;
            const QTransform t = place * PlusTransform();
            if (!t.isInvertible()) break;
            PlusPrepare();
            painter_.setTransform(t);
            painter_.drawImage(QRectF(0, 0, src.width(), src.height()), *image, src);
            break;
        }
        case 0x401C: {  // DrawString: brush, format, length, layout rectangle, characters
            const uint32_t brush = in.U32(), formatId = in.U32();
            const uint32_t n = in.Count(2);
            const QRectF layout = ReadPlusRect(in, false);
            QString text;
            for (uint32_t i = 0; i < n; ++i)
                text += QChar(char16_t(in.U16()));
            const auto font = PlusFont(objectId);
            const auto b = PlusBrush(flags, brush);
            if (!font || !b || !in.Ok() || !PlusPrepare()) break;
            TPlusFormat format;
            if (const auto* f = std::get_if<TPlusFormat>(PlusObject(formatId))) format = *f;
            const double k = font->second / 100;
            if (!(k >= 1e-4 && k <= 1e4)) break;
            painter_.scale(k, k);
            if (!GlyphsFit()) break;
            painter_.setFont(font->first);
            painter_.setPen(QPen(b->Brush, 0));
            const Qt::Alignment h = format.Align == 1   ? Qt::AlignHCenter
                                    : format.Align == 2 ? Qt::AlignRight
                                                        : Qt::AlignLeft;
            const Qt::Alignment v = format.LineAlign == 1   ? Qt::AlignVCenter
                                    : format.LineAlign == 2 ? Qt::AlignBottom
                                                            : Qt::AlignTop;
            const QRectF box(layout.x() / k, layout.y() / k, layout.width() / k,
                             layout.height() / k);
            painter_.drawText(
                box, int(h | v) | Qt::TextDontClip | (box.width() > 0 ? Qt::TextWordWrap : 0),
                text);
            break;
        }
        case 0x4036: {  // DrawDriverString: brush, options, matrix?, count, glyphs, positions
            const uint32_t brush = in.U32(), options = in.U32(), hasMatrix = in.U32();
            const uint32_t n = in.Count(10);
            std::vector<char16_t> glyphs;
            for (uint32_t i = 0; i < n; ++i)
                glyphs.push_back(char16_t(in.U16()));
            const std::vector<QPointF> positions = ReadPlusPoints(in, n, 0);
            const QTransform matrix = hasMatrix ? ReadMatrix(in) : QTransform();
            const auto font = PlusFont(objectId);
            const auto b = PlusBrush(flags, brush);
            if (!font || !b || !in.Ok() || positions.size() != n || n == 0) break;
            const QTransform t = matrix * PlusTransform();
            if (!t.isInvertible() || !PlusPrepare()) break;
            const double k = font->second / 100;
            if (!(k >= 1e-4 && k <= 1e4)) break;
            painter_.setTransform(t);
            painter_.setPen(QPen(b->Brush, 0));
            painter_.setFont(font->first);
            const QRawFont raw = QRawFont::fromFont(font->first);
            QList<quint32> indexes;
            if (options & 1) {  // characters, looked up in the font
                QString s;
                for (char16_t c : glyphs)
                    s += QChar(c);
                indexes = raw.glyphIndexesForString(s);
            } else {
                for (char16_t g : glyphs)
                    indexes.push_back(g);
            }
            if (!raw.isValid() || indexes.size() != qsizetype(n)) break;
            // Realized advance: only the first position is given, the font advances the rest.
            QList<QPointF> at;
            const QList<QPointF> advances = raw.advancesForGlyphIndexes(indexes);
            QPointF pen = positions[0] / k;
            for (uint32_t i = 0; i < n; ++i) {
                at.push_back((options & 4) ? pen : positions[i] / k);
                pen += advances[qsizetype(i)];
            }
            QGlyphRun run;
            run.setRawFont(raw);
            run.setGlyphIndexes(indexes);
            run.setPositions(at);
            painter_.scale(k, k);
            if (!GlyphsFit()) break;
            painter_.drawGlyphRun(QPointF(0, 0), run);
            break;
        }
        case 0x4025:    // Save
        case 0x4028:    // BeginContainerNoParams
        case 0x4027: {  // BeginContainer: destination, source, index
            QTransform container;
            uint32_t index;
            if (type == 0x4027) {
                const QRectF dest = ReadPlusRect(in, false), src = ReadPlusRect(in, false);
                index = in.U32();
                if (src.width() != 0 && src.height() != 0)
                    container =
                        QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                                   dest.x() - src.x() * dest.width() / src.width(),
                                   dest.y() - src.y() * dest.height() / src.height());
            } else {
                index = in.U32();
            }
            if (plusSaved_.size() >= 4096) break;
            plusSaved_.emplace_back(index, plus_);
            plus_.World = container * plus_.World;
            break;
        }
        case 0x4026:    // Restore
        case 0x4029: {  // EndContainer
            const uint32_t index = in.U32();
            for (size_t i = plusSaved_.size(); i-- > 0;)
                if (plusSaved_[i].first == index) {
                    plus_ = plusSaved_[i].second;
                    plusSaved_.resize(i);
                    break;
                }
            break;
        }
        case 0x402A:  // SetWorldTransform
            plus_.World = ReadMatrix(in);
            break;
        case 0x402B:  // ResetWorldTransform
            plus_.World = QTransform();
            break;
        case 0x402C:    // MultiplyWorldTransform (flag A: after the current one)
        case 0x402D:    // TranslateWorldTransform
        case 0x402E:    // ScaleWorldTransform
        case 0x402F: {  // RotateWorldTransform
            QTransform m;
            if (type == 0x402C) {
                m = ReadMatrix(in);
            } else if (type == 0x402D) {
                const double dx = in.F32();
                m.translate(dx, in.F32());
            } else if (type == 0x402E) {
                const double sx = in.F32();
                m.scale(sx, in.F32());
            } else {
                m.rotate(in.F32());
            }
            if (!in.Ok()) break;
            plus_.World = (flags & 0x2000) ? plus_.World * m : m * plus_.World;
            break;
        }
        case 0x4030: {  // SetPageTransform: scale; unit in the flags
            const double scale = in.F32();
            if (!(scale > 0)) break;
            plus_.PageUnit = flags & 0xFF;
            plus_.PageScale = scale;
            break;
        }
        case 0x4031:  // ResetClip
            plus_.HasClip = false;
            break;
        case 0x4032: {  // SetClipRect: mode in the flags, rectangle
            QPainterPath p;
            p.addRect(ReadPlusRect(in, false).normalized());
            if (in.Ok()) PlusClip(p, (flags >> 8) & 0xF);
            break;
        }
        case 0x4033:  // SetClipPath
            if (const auto* path = std::get_if<QPainterPath>(PlusObject(objectId)))
                PlusClip(*path, (flags >> 8) & 0xF);
            break;
        case 0x4034:  // SetClipRegion
            if (const auto* region = std::get_if<TPlusRegion>(PlusObject(objectId)))
                PlusClip(region->Path, (flags >> 8) & 0xF);
            break;
        case 0x4035: {  // OffsetClip (world units)
            const double dx = in.F32(), dy = in.F32();
            if (!plus_.HasClip || !in.Ok()) break;
            const QTransform t = PlusTransform();
            plus_.Clip.translate(t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0)));
            break;
        }
        default:
            break;  // rendering hints and the like change nothing here
    }
}

}  // namespace

QImage PlayMetafile(const TMetafile& metafile) {
    if (metafile.Empty()) return QImage();
    // The bitmap's pixel limit holds before the picture is allocated.
    TBitmap::CheckSize(metafile.Width(), metafile.Height());
    QImage image(metafile.Width(), metafile.Height(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    PlayMetafile(metafile, image, QTransform());
    return image;
}

namespace {

// A Windows metafile names the window its picture shows, but what it draws may leave that
// window. Then the picture shows the whole drawing, its bounding box stretched over the picture,
// as libwmf and the system's own conversion to an enhanced metafile show it; a drawing inside
// its window keeps it. The result maps the picture's own frame onto the one to show.
QTransform DrawingFrame(const TMetafile& metafile) {
    if (metafile.Header().Enhanced) return {};
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    if (scratch.isNull()) return {};
    QRectF reach;
    TPlayer measure(metafile, scratch, QTransform());
    measure.MeasureInto(&reach);
    measure.Play();
    const double w = metafile.Width(), h = metafile.Height();
    // A pixel's slack for strokes along the edges and rounding.
    if (reach.isNull() || QRectF(-1, -1, w + 2, h + 2).contains(reach)) return {};
    if (!(reach.width() > 1e-6) || !(reach.height() > 1e-6)) return {};
    return QTransform::fromTranslate(-reach.left(), -reach.top()) *
           QTransform::fromScale(w / reach.width(), h / reach.height());
}

}  // namespace

void PlayMetafile(const TMetafile& metafile, QImage& image, const QTransform& toImage) {
    if (metafile.Empty() || image.isNull()) return;
    TPlayer player(metafile, image, DrawingFrame(metafile) * toImage);
    player.Play();
}

void InstallMetafilePlayer() {
    TMetafile::SetRenderer([](const TMetafile& metafile, TBitmap& target) {
        ImageToBitmap(PlayMetafile(metafile), target);
    });
}
