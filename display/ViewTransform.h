#pragma once
// TViewTransform: how the picture view maps a picture onto its pane when it zooms, turns or
// fits the picture: one scale, a turn by quarters, a left-right flip and the offset of the
// shown picture's top-left corner in the pane. Full, fit and 1:1 views are presets of it.
//
// "Shown" coordinates are those of the turned and flipped picture before scaling; the pane's
// are the view's pixels.
#include <QImage>
#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QTransform>

struct TViewTransform {
    static constexpr double MinScale = 0.01;  // 1 %
    static constexpr double MaxScale = 32.0;  // 3200 %

    QSize picture;         // the picture's natural size
    double scale = 1.0;    // pane pixels per picture pixel
    int quarterTurns = 0;  // clockwise turns, 0..3
    bool flipped = false;  // mirrored left to right after turning
    QPointF offset;        // the shown picture's top-left corner in the pane

    // The picture's size after turning (unscaled) and after scaling.
    QSize TurnedSize() const;
    QSizeF ShownSize() const;
    // Maps picture pixels to pane pixels. The translation is rounded to whole pixels so that
    // unscaled pictures paint sharp.
    QTransform ToPane() const;
    // As ToPane, for an image that is already the turned picture scaled to ShownSize() rounded.
    QTransform ShownToPane() const;

    // The scale that shows the turned picture whole in the pane, never above 1.
    static double FitScale(QSize picture, int quarterTurns, QSize pane);
    // The next zoom step above (direction > 0) or below (direction < 0) the scale, within
    // MinScale..MaxScale.
    static double Step(double scale, int direction);

    // Fits the picture into the pane, centred.
    void Fit(QSize pane);
    // Shows the picture at the scale with the pane point anchor over the same picture point as
    // before (as far as Clamp allows).
    void ZoomAround(double newScale, QPointF anchor, QSize pane);
    // Moves the picture by delta pane pixels (as far as Clamp allows).
    void PanBy(QPointF delta, QSize pane);
    // Turns by quarter turns (negative: anticlockwise) or flips, keeping the pane's centre over
    // the same picture point.
    void Turn(int quarters, QSize pane);
    void Flip(QSize pane);
    // Centres the picture along each side where it is smaller than the pane; elsewhere keeps
    // the pane covered (no gap between a picture edge and the pane's).
    void Clamp(QSize pane);
};
