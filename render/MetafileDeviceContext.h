#pragma once
// The device context that a metafile's records draw through: its objects (pens, brushes, fonts,
// regions), the stock objects of enhanced metafiles, and the state saved and restored as a whole.
// The player's members that keep it (mapping, object table, saved states, clipping) are in
// MetafileDeviceContext.cpp.
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QTransform>
#include <cstdint>
#include <optional>
#include <variant>

namespace metafile {

// Two paths combined by EMF+ combine mode (clips and regions): 0 the second, 1 intersection,
// 2 union, 3 xor, 4 the first less the second, 5 the second less the first; none for another mode.
std::optional<QPainterPath> CombinePaths(const QPainterPath& first, const QPainterPath& second,
                                         int mode);

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

struct TRegionObject {
    QPainterPath Path;  // logical units
};

using TObject = std::variant<std::monostate, TPenObject, TBrushObject, TFontObject, TRegionObject>;

// Stock objects of enhanced metafiles (index 0x80000000 + n).
std::optional<TObject> StockObject(uint32_t index);

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

}  // namespace metafile
