#include "toolkit/Colors.h"

#include <QGuiApplication>

namespace {

struct SystemColorEntry {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// Windows system colour index -> palette entry, 0..30.
constexpr SystemColorEntry kSystemColors[] = {
    {QPalette::Active, QPalette::Button},             // 0 scroll bar
    {QPalette::Active, QPalette::Dark},               // 1 desktop background
    {QPalette::Active, QPalette::Highlight},          // 2 active caption
    {QPalette::Inactive, QPalette::Highlight},        // 3 inactive caption
    {QPalette::Active, QPalette::Window},             // 4 menu
    {QPalette::Active, QPalette::Base},               // 5 window background
    {QPalette::Active, QPalette::Shadow},             // 6 window frame
    {QPalette::Active, QPalette::WindowText},         // 7 menu text
    {QPalette::Active, QPalette::WindowText},         // 8 window text
    {QPalette::Active, QPalette::HighlightedText},    // 9 caption text
    {QPalette::Active, QPalette::Window},             // 10 active border
    {QPalette::Inactive, QPalette::Window},           // 11 inactive border
    {QPalette::Active, QPalette::Mid},                // 12 application work space
    {QPalette::Active, QPalette::Highlight},          // 13 highlight
    {QPalette::Active, QPalette::HighlightedText},    // 14 highlighted text
    {QPalette::Active, QPalette::Window},             // 15 button face
    {QPalette::Active, QPalette::Dark},               // 16 button shadow
    {QPalette::Disabled, QPalette::Text},             // 17 grey text
    {QPalette::Active, QPalette::ButtonText},         // 18 button text
    {QPalette::Inactive, QPalette::HighlightedText},  // 19 inactive caption text
    {QPalette::Active, QPalette::Light},              // 20 button highlight
    {QPalette::Active, QPalette::Shadow},             // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},           // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},        // 23 tooltip text
    {QPalette::Active, QPalette::ToolTipBase},        // 24 tooltip background
    {QPalette::Active, QPalette::Window},             // 25 (unused index)
    {QPalette::Active, QPalette::Link},               // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},          // 27 active caption gradient
    {QPalette::Inactive, QPalette::Highlight},        // 28 inactive caption gradient
    {QPalette::Active, QPalette::Highlight},          // 29 menu highlight
    {QPalette::Active, QPalette::Window},             // 30 menu bar
};

constexpr TColor kNone = 0x1FFFFFFF;

}  // namespace

bool IsValidColor(TColor color) {
    if (!IsSystemColor(color)) return color >= 0 && color <= 0xFFFFFF;
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    return (color & 0x7FFFFF00) == 0 && SystemColorRole(color & 0xFF, group, role);
}

bool SystemColorRole(int index, QPalette::ColorGroup& group, QPalette::ColorRole& role) {
    if (index < 0 || index >= static_cast<int>(std::size(kSystemColors))) return false;
    group = kSystemColors[index].group;
    role = kSystemColors[index].role;
    return true;
}

QColor ColorToQColor(TColor color, const QPalette& palette) {
    if (color == kNone) return QColor(Qt::transparent);
    if (IsSystemColor(color)) {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
        if (!SystemColorRole(color & 0xFF, group, role)) return QColor(Qt::black);
        return palette.color(group, role);
    }
    const auto value = static_cast<uint32_t>(color);
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

QColor ColorToQColor(TColor color) {
    return ColorToQColor(color, QGuiApplication::palette());
}

TColor QColorToColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<TColor>(static_cast<uint32_t>(rgb.red()) |
                               (static_cast<uint32_t>(rgb.green()) << 8) |
                               (static_cast<uint32_t>(rgb.blue()) << 16));
}

TColor ColorToRGB(TColor color) {
    if (!IsSystemColor(color)) return color & 0x00FFFFFF;
    return QColorToColor(ColorToQColor(color));
}
