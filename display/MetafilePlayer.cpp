#include "display/MetafilePlayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/formats/WindowsBitmap.h"

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
    QString FaceName;
};

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
    int MapMode = mmText;
    QPointF WindowOrg{0, 0}, WindowExt{1, 1}, ViewportOrg{0, 0}, ViewportExt{1, 1};
    QTransform World;
    bool HasClip = false;
    QPainterPath Clip;  // device pixels
    QPointF Position;   // current position, logical units
    bool Clockwise = false;
};

// ---------------------------------------------------------------------------------------------

class TPlayer {
  public:
    TPlayer(const TMetafile& metafile, QImage& image);
    void Play();

  private:
    // Transforms.
    QTransform PageTransform() const;
    QTransform Transform() const { return s_.World * PageTransform() * outer_; }
    double DeviceScale() const;
    QPointF Device(const QPointF& logical) const { return Transform().map(logical); }

    // Painting with the state's pen, brush and clip.
    void Prepare(bool fill, bool stroke);
    QPen MakePen() const;
    QBrush MakeBrush() const;
    void DrawPath(const QPainterPath& path, bool fill, bool stroke);
    void Shape(const QPainterPath& path, bool fill, bool stroke);
    void Line(const QPointF& from, const QPointF& to);
    void FillRect(const QRectF& logical, const QBrush& brush);

    // Shapes shared by both formats.
    void ArcShape(int kind, const QRectF& box, const QPointF& start, const QPointF& end);
    void Text(const QPointF& at, const QString& text, const std::vector<double>& dx,
              uint32_t options, const QRectF& rect);
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
    unsigned records_ = 0;
};

TPlayer::TPlayer(const TMetafile& metafile, QImage& image)
    : metafile_(metafile), header_(metafile.Header()), painter_(&image) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Bitmaps are stretched by repeating pixels, as the screen does by default.
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const double w = image.width(), h = image.height();
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

void TPlayer::DrawPath(const QPainterPath& path, bool fill, bool stroke) {
    if (!Transform().isInvertible()) return;
    Prepare(fill, stroke);
    painter_.drawPath(path);
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
    } else {
        path.arcMoveTo(r, a0);
        path.arcTo(r, a0, sweep);
        if (kind == 1) path.closeSubpath();
    }
    Shape(path, kind != 0, true);
}

void TPlayer::Text(const QPointF& at, const QString& text, const std::vector<double>& dx,
                   uint32_t options, const QRectF& rect) {
    const QTransform t = Transform();
    if (!t.isInvertible()) return;
    const double scale = DeviceScale();
    // The font's height is in logical units: negative for the character height, positive for
    // the cell height (character plus internal leading).
    QFont font(s_.Font.FaceName.isEmpty() ? QStringLiteral("Sans Serif") : s_.Font.FaceName);
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

    const bool updateCP = (s_.TextAlign & 1) != 0;
    const QPointF origin = t.map(updateCP ? s_.Position : at);
    // Advances in device pixels: the file's spacing when it gives one.
    std::vector<double> advance(size_t(text.size()));
    double total = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        advance[size_t(i)] =
            size_t(i) < dx.size() ? dx[size_t(i)] * scale : metrics.horizontalAdvance(text[i]);
        total += advance[size_t(i)];
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
    painter_.rotate(-s_.Font.Escapement / 10.0);
    if (s_.BkMode == 2)
        painter_.fillRect(QRectF(x, baseline - metrics.ascent(), total, metrics.height()),
                          s_.BkColor);
    painter_.setFont(font);
    painter_.setPen(s_.TextColor);
    if (dx.empty()) {
        painter_.drawText(QPointF(x, baseline), text);
    } else {
        for (qsizetype i = 0; i < text.size(); ++i) {
            painter_.drawText(QPointF(x, baseline), QString(text[i]));
            x += advance[size_t(i)];
        }
    }
    if (updateCP && scale > 0) {
        const QPointF end = t.inverted().map(origin + QPointF(total, 0));
        s_.Position = QPointF(end.x(), s_.Position.y());
    }
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
    // The info header and the bits may stand apart in the record: join them.
    std::vector<uint8_t> dibData(info, info + infoSize);
    dibData.insert(dibData.end(), bits, bits + bitsSize);
    QImage image = DibImage(dibData.data(), dibData.size(), bits != nullptr ? infoSize : 0);
    if (image.isNull() || !Transform().isInvertible()) return;
    Prepare(false, false);
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
        painter_.drawImage(visible.topLeft(), part);
        return;
    }
    painter_.drawImage(dest.normalized(), image, src);
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
        case 0x005A0049:  // PATINVERT (drawn as a copy)
            if (s_.Brush.Style != 1) FillRect(dest, MakeBrush());
            break;
        default:
            break;
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
        s_.HasClip = true;
        s_.Clip = Transform().map(region->Path);
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
    s_.HasClip = true;
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
    switch (function) {
        case 0x0201:
            s_.BkColor = ColorRef(r.U32(0));
            break;  // SetBkColor
        case 0x0102:
            s_.BkMode = r.U16(0);
            break;  // SetBkMode
        case 0x0103:
            s_.MapMode = std::clamp(int(r.U16(0)), 1, 8);
            break;  // SetMapMode
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
            break;  // SetWindowExt
        case 0x020D:
            s_.ViewportOrg = QPointF(w(1), w(0));
            break;  // SetViewportOrg
        case 0x020E:
            SetExtent(s_.ViewportExt, w(1), w(0));
            break;  // SetViewportExt
        case 0x020F:
            s_.WindowOrg += QPointF(w(1), w(0));
            break;  // OffsetWindowOrg
        case 0x0211:
            s_.ViewportOrg += QPointF(w(1), w(0));
            break;      // OffsetViewportOrg
        case 0x0410:    // ScaleWindowExt
        case 0x0412: {  // ScaleViewportExt
            QPointF& ext = function == 0x0410 ? s_.WindowExt : s_.ViewportExt;
            if (w(0) == 0 || w(2) == 0) break;
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
        case 0x0418: {  // Ellipse
            QPainterPath p;
            p.addEllipse(rectLTRB(0).normalized());
            Shape(p, true, true);
            break;
        }
        case 0x041B: {  // Rectangle
            QPainterPath p;
            p.addRect(rectLTRB(0).normalized());
            Shape(p, true, true);
            break;
        }
        case 0x061C: {  // RoundRect: height, width of the corner ellipse, then the rectangle
            QPainterPath p;
            p.addRoundedRect(rectLTRB(2).normalized(), std::abs(w(1)) / 2, std::abs(w(0)) / 2);
            Shape(p, true, true);
            break;
        }
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
            const QString text =
                QString::fromLatin1(reinterpret_cast<const char*>(r.Data() + 2), qsizetype(n));
            Text(QPointF(r.S16(2 + padded + 2), r.S16(2 + padded)), text, {}, 0, QRectF());
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
            const QString text =
                QString::fromLatin1(reinterpret_cast<const char*>(r.Data() + offset), qsizetype(n));
            offset += (size_t(n) + 1) & ~size_t(1);
            std::vector<double> dx;
            if (r.Has(offset, size_t(n) * 2))
                for (uint32_t i = 0; i < n; ++i)
                    dx.push_back(r.S16(offset + size_t(i) * 2));
            Text(at, text, dx, options, rect);
            break;
        }
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
        case 42: {  // Ellipse
            QPainterPath p;
            p.addEllipse(box(0));
            Shape(p, true, true);
            break;
        }
        case 43: {  // Rectangle
            QPainterPath p;
            p.addRect(box(0));
            Shape(p, true, true);
            break;
        }
        case 44: {  // RoundRect: box, corner size
            QPainterPath p;
            p.addRoundedRect(box(0), std::abs(r.S32(16)) / 2.0, std::abs(r.S32(20)) / 2.0);
            Shape(p, true, true);
            break;
        }
        case 45:    // Arc
        case 46:    // Chord
        case 47:    // Pie
        case 55: {  // ArcTo
            const int kind = type == 46 ? 1 : type == 47 ? 2 : 0;
            ArcShape(kind, box(0), point(16), point(24));
            break;
        }
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
                s_.HasClip = false;
                break;
            }
            const uint32_t count = r.U32(8 + 8);
            if (!r.Has(8 + 32, size_t(count) * 16)) break;
            QPainterPath p;
            for (uint32_t i = 0; i < count; ++i) {
                const size_t o = 8 + 32 + size_t(i) * 16;
                p.addRect(QRectF(point(o), point(o + 8)).normalized());
            }
            IntersectClip(outer_.map(p), int(mode));
            break;
        }
        case 83:    // ExtTextOutA
        case 84: {  // ExtTextOutW: bounds, mode, scales, EMRTEXT
            const QPointF at = point(28);
            const uint32_t n = r.U32(36), offString = r.U32(40), options = r.U32(44);
            const QRectF clipRect = rect(48);
            const uint32_t offDx = r.U32(64);
            const size_t unit = type == 84 ? 2 : 1;
            if (offString < 8 || !r.Has(offString - 8, size_t(n) * unit)) break;
            QString text;
            for (uint32_t i = 0; i < n; ++i)
                text += type == 84 ? QChar(char16_t(r.U16(offString - 8 + size_t(i) * 2)))
                                   : QChar::fromLatin1(char(r.Data()[offString - 8 + i]));
            std::vector<double> dx;
            if (offDx >= 8 && r.Has(offDx - 8, size_t(n) * 4))
                for (uint32_t i = 0; i < n; ++i)
                    dx.push_back(r.S32(offDx - 8 + size_t(i) * 4));
            Text(at, text, dx, options, clipRect);
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

}  // namespace

QImage PlayMetafile(const TMetafile& metafile) {
    if (metafile.Empty()) return QImage();
    // The bitmap's pixel limit holds before the picture is allocated.
    TBitmap::CheckSize(metafile.Width(), metafile.Height());
    QImage image(metafile.Width(), metafile.Height(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    {
        TPlayer player(metafile, image);
        player.Play();
    }
    return image;
}

void InstallMetafilePlayer() {
    TMetafile::SetRenderer([](const TMetafile& metafile, TBitmap& target) {
        const QImage image = PlayMetafile(metafile).convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) return;
        TBitmap::CheckSize(image.width(), image.height());
        target.SetPixelFormat(pf32bit);
        target.SetSize(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(target.ScanLine(y), image.constScanLine(y), size_t(image.width()) * 4);
    });
}
