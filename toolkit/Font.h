#pragma once
// TFont: the font value that controls carry as their Font property. A value type with seven
// sub-properties (Charset, Color, Height, Name, Pitch, Size, Style) readable and writable through
// QMetaObject, converted to QFont where painted.
//
// Height is the character height in pixels at 96 pixels per inch (negative: height without the
// internal leading, as fonts are usually given); Size is the point size. Setting one sets the
// other: Height = -round(Size * 96 / 72), Size = -round(Height * 72 / 96).
#include <QFont>
#include <QMetaType>
#include <QString>

#include "toolkit/Colors.h"
#include "toolkit/Types.h"

class TFont {
    Q_GADGET
    Q_PROPERTY(int Charset READ Charset WRITE SetCharset)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(Toolkit::TFontPitch Pitch READ Pitch WRITE SetPitch)
    Q_PROPERTY(int Size READ Size WRITE SetSize)
    Q_PROPERTY(Toolkit::TFontStyles Style READ Style WRITE SetStyle)

  public:
    static constexpr int PixelsPerInch = 96;
    static constexpr int DefaultCharset = 1;
    static inline const char* const DefaultName = "MS Sans Serif";
    static constexpr int DefaultHeight = -11;

    // The window's default font: "MS Sans Serif", height -11 (8 pt), window-text colour,
    // default character set, variable pitch default, no style.
    TFont() = default;
    TFont(const QString& name, int size, TFontStyles style = {});

    int Charset() const { return charset_; }
    void SetCharset(int value) { charset_ = value; }
    TColor Color() const { return color_; }
    void SetColor(TColor value) { color_ = value; }
    int Height() const { return height_; }
    void SetHeight(int value) { height_ = value; }
    QString Name() const { return name_; }
    void SetName(const QString& value) { name_ = value; }
    TFontPitch Pitch() const { return pitch_; }
    void SetPitch(TFontPitch value) { pitch_ = value; }
    int Size() const;
    void SetSize(int value);
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles value) { style_ = value; }

    // The Qt font that paints this font. "MS Sans Serif" (not found on Linux desktops) becomes
    // the desktop's default sans-serif family at the font's point size.
    QFont ToQFont() const;
    // Takes name, size, style and pitch from a Qt font (for example one chosen in a font
    // dialog); keeps Color and Charset. A family that is just what this font's name maps to
    // keeps the stored name, so confirming an unchanged dialog changes nothing.
    void AssignQFont(const QFont& font);
    static TFont FromQFont(const QFont& font, TColor color = clWindowText);

    // The family that a font name paints with.
    static QString FamilyFor(const QString& name);

    bool operator==(const TFont&) const = default;

  private:
    int charset_ = DefaultCharset;
    TColor color_ = clWindowText;
    int height_ = DefaultHeight;
    QString name_ = DefaultName;
    TFontPitch pitch_ = fpDefault;
    TFontStyles style_;
};

Q_DECLARE_METATYPE(TFont)

// Rounded a * b / c, halves away from zero (the Windows MulDiv rule).
int MulDiv(int a, int b, int c);
