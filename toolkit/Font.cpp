#include "toolkit/Font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <cmath>

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const long long product = static_cast<long long>(a) * b;
    const double q = static_cast<double>(product) / c;
    return static_cast<int>(q < 0 ? -std::floor(-q + 0.5) : std::floor(q + 0.5));
}

TFont::TFont(const QString& name, int size, TFontStyles style) : name_(name), style_(style) {
    SetSize(size);
}

int TFont::Size() const {
    return -MulDiv(height_, 72, PixelsPerInch);
}

void TFont::SetSize(int value) {
    height_ = -MulDiv(value, PixelsPerInch, 72);
}

QString TFont::FamilyFor(const QString& name) {
    // The bitmap fonts of the old desktop do not exist here; they paint with the desktop's
    // default sans-serif family.
    if (name.compare(QLatin1String(DefaultName), Qt::CaseInsensitive) == 0 ||
        name.compare(QLatin1String("MS Shell Dlg"), Qt::CaseInsensitive) == 0 ||
        name.compare(QLatin1String("MS Shell Dlg 2"), Qt::CaseInsensitive) == 0 || name.isEmpty())
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    return name;
}

QFont TFont::ToQFont() const {
    const QString family = FamilyFor(name_);
    QFont font(family);
    if (height_ < 0) {
        // A stand-in family takes the whole point size the old font was designed for.
        if (family != name_)
            font.setPointSize(Size());
        else
            font.setPointSizeF(-height_ * 72.0 / PixelsPerInch);
    } else if (height_ > 0) {
        font.setPixelSize(height_);
    }
    font.setBold(style_.testFlag(fsBold));
    font.setItalic(style_.testFlag(fsItalic));
    font.setUnderline(style_.testFlag(fsUnderline));
    font.setStrikeOut(style_.testFlag(fsStrikeOut));
    if (pitch_ == fpFixed) {
        font.setFixedPitch(true);
        font.setStyleHint(QFont::Monospace);
    }
    return font;
}

void TFont::AssignQFont(const QFont& font) {
    const QString family = font.family();
    if (family != FamilyFor(name_)) name_ = family;
    if (font.pointSizeF() > 0)
        height_ = -static_cast<int>(std::lround(font.pointSizeF() * PixelsPerInch / 72.0));
    else if (font.pixelSize() > 0)
        height_ = -font.pixelSize();
    TFontStyles style;
    if (font.bold()) style |= fsBold;
    if (font.italic()) style |= fsItalic;
    if (font.underline()) style |= fsUnderline;
    if (font.strikeOut()) style |= fsStrikeOut;
    style_ = style;
    if (font.fixedPitch())
        pitch_ = fpFixed;
    else if (pitch_ == fpFixed)
        pitch_ = fpDefault;
}

TFont TFont::FromQFont(const QFont& font, TColor color) {
    TFont result;
    result.AssignQFont(font);
    result.name_ = font.family();
    result.color_ = color;
    return result;
}
