#pragma once
// The Orientation value (TIFF tag 274) of a JPEG file's EXIF block: which way up the camera
// held the picture, as TBitmap::Orient takes it.
#include <cstddef>
#include <cstdint>

// Reads an APP1 segment's data (the bytes after the marker's length field): "Exif\0\0", a TIFF
// header in either byte order, then IFD0. Returns tag 274 when IFD0 holds it as one SHORT of
// 1 to 8; 0 for anything else (no EXIF, another APP1 such as XMP, an offset or count that leaves
// the segment, a wrong type or count, a value outside 1-8). Only IFD0 is read, so chains of
// directories cannot loop.
int ExifOrientation(const uint8_t* data, size_t size);
