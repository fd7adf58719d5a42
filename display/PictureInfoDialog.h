#pragma once
// The "Picture Properties" dialog: the shown picture's file, format, size and depth and the
// camera metadata its EXIF block holds, one label and value a row, the values selectable so
// they can be copied. Close or Esc ends it.
#include <QByteArray>
#include <QSize>

class QWidget;
class TGraphic;

// Shows the properties of the picture file nativePath (as the file system names it) modally;
// graphic is the picture as loaded, or null. The file is read only for its metadata, a few
// small reads (a whole HEIF, AVIF or JPEG XL container up to a bounded size).
// frameCount: the frames or pages the view knows the file to hold (0 when it does not know);
// size: the picture's size when graphic is a reduced decode of it (empty: the graphic's).
void ShowPictureProperties(QWidget* parent, const QByteArray& nativePath, const TGraphic* graphic,
                           int frameCount = 0, QSize size = QSize());
