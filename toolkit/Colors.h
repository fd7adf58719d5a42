#pragma once
// Colour values and their mapping onto the Qt palette.
//
// A TColor is a 32-bit value: 0x00BBGGRR for a direct colour, or 0x80000000 + n for the system
// colour with index n (the Windows COLOR_* indices), which follows the desktop's palette. The
// alias is the same type as the imaging library's TColor, so both headers can be included together.
#include <QColor>
#include <QPalette>
#include <cstdint>

using TColor = int32_t;

// System colours (0x80000000 + index).
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

// A few direct colours.
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;

// Whether the value names a system colour.
constexpr bool IsSystemColor(TColor color) {
    return (color & clSystemColor) != 0;
}

// The palette group and role that stand for a system colour index; false for an unknown index.
bool SystemColorRole(int index, QPalette::ColorGroup& group, QPalette::ColorRole& role);

// Whether the value is a colour at all: a direct colour (0x00BBGGRR) or a known system colour.
bool IsValidColor(TColor color);

// The colour as Qt paints it: system colours through the given palette (the application's when
// none is given), direct colours from their 0x00BBGGRR value. clNone (0x1FFFFFFF) is transparent.
QColor ColorToQColor(TColor color);
QColor ColorToQColor(TColor color, const QPalette& palette);

// A direct colour value (0x00BBGGRR) for a Qt colour; the alpha channel is dropped.
TColor QColorToColor(const QColor& color);

// The direct colour value (0x00BBGGRR) that a colour currently shows as.
TColor ColorToRGB(TColor color);
