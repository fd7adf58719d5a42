#pragma once
// TRecordPlayer plays one metafile's records through QPainter. Its members are defined by job:
// MetafilePlayer.cpp sets it up, MetafileDeviceContext.cpp keeps the device context (mapping,
// objects, saved states, clipping), MetafileDrawing.cpp draws (pens, brushes, shapes, bitmaps,
// raster operations), MetafileText.cpp draws text, and WmfRecords.cpp, EmfRecords.cpp and
// EmfPlusRecords.cpp play the records of each kind.
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/formats/Metafile.h"
#include "render/EmfPlusObjects.h"
#include "render/MetafileDeviceContext.h"
#include "render/MetafileRecord.h"
#include "render/MetafileText.h"

namespace metafile {

class TRecordPlayer {
  public:
    // toImage maps the picture at its natural size onto the image (a scale and an offset).
    TRecordPlayer(const TMetafile& metafile, QImage& image, const QTransform& toImage);
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
    static bool OnDevice(const QPainterPath& path, const QTransform& transform);
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

}  // namespace metafile
