#include "display/ViewTransform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Zoom steps in percent: close together near 100 %, wider apart toward both ends.
constexpr std::array<double, 25> kSteps = {1,   2,     3,    4,     5,    6.25, 8.33, 12.5, 16.67,
                                           25,  33.33, 50,   66.67, 100,  150,  200,  300,  400,
                                           600, 800,   1200, 1600,  2000, 2400, 3200};

// Picture pixels to shown (turned, flipped, unscaled) coordinates.
QTransform Orientation(QSize picture, int quarterTurns, bool flipped) {
    const double w = picture.width(), h = picture.height();
    QTransform turn;
    switch (quarterTurns & 3) {
        case 1:
            turn = QTransform(0, 1, -1, 0, h, 0);
            break;  // (x, y) -> (h - y, x)
        case 2:
            turn = QTransform(-1, 0, 0, -1, w, h);
            break;  // (x, y) -> (w - x, h - y)
        case 3:
            turn = QTransform(0, -1, 1, 0, 0, w);
            break;  // (x, y) -> (y, w - x)
        default:
            break;
    }
    if (!flipped) return turn;
    const double turnedWidth = (quarterTurns & 1) != 0 ? h : w;
    return turn * QTransform(-1, 0, 0, 1, turnedWidth, 0);
}

// Keeps one side of the shown picture centred (smaller than the pane) or covering the pane.
double ClampSide(double offset, double shown, int pane) {
    if (shown <= pane) return std::floor((pane - shown) / 2);
    return std::clamp(offset, pane - shown, 0.0);
}

}  // namespace

QSize TViewTransform::TurnedSize() const {
    return (quarterTurns & 1) != 0 ? picture.transposed() : picture;
}

QSizeF TViewTransform::ShownSize() const {
    return QSizeF(TurnedSize()) * scale;
}

QTransform TViewTransform::ToPane() const {
    return Orientation(picture, quarterTurns, flipped) * QTransform::fromScale(scale, scale) *
           QTransform::fromTranslate(std::round(offset.x()), std::round(offset.y()));
}

QTransform TViewTransform::ShownToPane() const {
    return QTransform::fromTranslate(std::round(offset.x()), std::round(offset.y()));
}

double TViewTransform::FitScale(QSize picture, int quarterTurns, QSize pane) {
    if (picture.isEmpty() || pane.isEmpty()) return 1.0;
    const QSize turned = (quarterTurns & 1) != 0 ? picture.transposed() : picture;
    const double fit =
        std::min(double(pane.width()) / turned.width(), double(pane.height()) / turned.height());
    return std::clamp(fit, MinScale, 1.0);
}

double TViewTransform::Step(double scale, int direction) {
    const double percent = scale * 100;
    if (direction > 0) {
        for (double step : kSteps)
            if (step > percent * 1.001) return step / 100;
        return MaxScale;
    }
    for (auto it = kSteps.rbegin(); it != kSteps.rend(); ++it)
        if (*it < percent / 1.001) return *it / 100;
    return MinScale;
}

void TViewTransform::Fit(QSize pane) {
    scale = FitScale(picture, quarterTurns, pane);
    Clamp(pane);
}

void TViewTransform::ZoomAround(double newScale, QPointF anchor, QSize pane) {
    newScale = std::clamp(newScale, MinScale, MaxScale);
    // The shown point under the anchor stays under it.
    const QPointF shown = (anchor - offset) / scale;
    scale = newScale;
    offset = anchor - shown * scale;
    Clamp(pane);
}

void TViewTransform::PanBy(QPointF delta, QSize pane) {
    offset += delta;
    Clamp(pane);
}

void TViewTransform::Turn(int quarters, QSize pane) {
    const QPointF centre(pane.width() / 2.0, pane.height() / 2.0);
    const QTransform before = Orientation(picture, quarterTurns, flipped);
    const QPointF point = before.inverted().map((centre - offset) / scale);
    // A flipped picture turns the other way on screen.
    quarterTurns = ((quarterTurns + (flipped ? -quarters : quarters)) % 4 + 4) % 4;
    offset = centre - Orientation(picture, quarterTurns, flipped).map(point) * scale;
    Clamp(pane);
}

void TViewTransform::Flip(QSize pane) {
    const QPointF centre(pane.width() / 2.0, pane.height() / 2.0);
    const QPointF point =
        Orientation(picture, quarterTurns, flipped).inverted().map((centre - offset) / scale);
    flipped = !flipped;
    offset = centre - Orientation(picture, quarterTurns, flipped).map(point) * scale;
    Clamp(pane);
}

void TViewTransform::Clamp(QSize pane) {
    const QSizeF shown = ShownSize();
    offset.setX(ClampSide(offset.x(), shown.width(), pane.width()));
    offset.setY(ClampSide(offset.y(), shown.height(), pane.height()));
}
