#pragma once
// Plays Windows metafiles (16-bit WMF, plain or placeable, and enhanced EMF) through QPainter.
//
// The imaging library reads a metafile's header and keeps its records (TMetafile); this player
// draws them at the picture's natural size into a 32-bit bitmap with a transparent background.
// It keeps the device context a metafile expects: pens, brushes (solid, hatched, pattern),
// fonts, text colour and background mode, text alignment, polygon fill mode, the mapping mode
// with window and viewport origin and extent, the world transform (EMF), clipping, paths (EMF),
// the current position, the object table and the saved states. Records it does not know are
// skipped by their size; records that are cut short or that name objects that do not exist are
// ignored, so a damaged file shows what it validly holds.
#include <QImage>
#include <QTransform>

#include "imaging/formats/Metafile.h"

// Installs the player as TMetafile's renderer. Call once at program start, after the
// QGuiApplication exists (text needs its fonts). The player needs Qt's painting only, not the
// widgets, so command-line tools and fuzzers can use it as well.
void InstallMetafilePlayer();

// Draws the metafile at its natural size; a null image for an empty metafile. Raises
// EInvalidGraphic when the size is beyond the bitmap's pixel limit.
QImage PlayMetafile(const TMetafile& metafile);
// Draws the metafile onto image (adding to what it holds) with the picture at its natural size
// mapped by toImage, a scale and an offset: the view draws the part it shows at the scale it
// shows it, and the command line at any resolution.
void PlayMetafile(const TMetafile& metafile, QImage& image, const QTransform& toImage);
