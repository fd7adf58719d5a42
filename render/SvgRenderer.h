#pragma once
// Draws SVG documents (TSVGGraphic) through Qt Svg.
//
// The imaging library reads the document and its root's size; this side parses it with
// QSvgRenderer and draws it: the viewBox (or, without one, the picture's own pixels) placed in
// the picture as the root's preserveAspectRatio asks and clipped to the picture. Qt Svg reads
// no other files and runs no scripts; the imaging library has already blanked links of images
// that point outside the document.
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QSvgRenderer>

#include "imaging/formats/SVGGraphic.h"

class QPainter;

class TSvgDocument {
  public:
    // Parses the document; raises EInvalidGraphic when Qt Svg cannot read it.
    explicit TSvgDocument(const TSVGGraphic& svg);
    TSvgDocument(const TSvgDocument&) = delete;
    TSvgDocument& operator=(const TSvgDocument&) = delete;

    // Draws the picture with its natural-size rectangle mapped onto target.
    void Draw(QPainter& painter, const QRectF& target);
    // The part area (pixels) of the picture stretched to scaled, as a transparent image of
    // area's size. Raises EInvalidGraphic when area is beyond the bitmap's pixel limit.
    QImage Render(QSizeF scaled, const QRect& area);

  private:
    TSVGRoot root_;
    QSvgRenderer renderer_;
};

// Installs the SVG drawing as TSVGGraphic's renderer (a natural-size bitmap at load). Call once
// at program start, after the QGuiApplication exists.
void InstallSvgRenderer();
