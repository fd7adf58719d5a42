#pragma once
// The file-type box ("ftyp") that opens HEIF and AVIF files (ISO base media file format): its
// brands tell which codec the pictures use.
#include <string>

#include "imaging/Stream.h"

// The brands of the file-type box at the stream's position, four characters each, the major
// brand first and then the compatible ones; empty when the stream does not start with such a
// box. At most 64 brands are read. The position is restored either way.
std::string ReadFileTypeBrands(TStream& stream);
// Whether brands (as returned above) hold brand (four characters) at a brand boundary.
bool HasBrand(const std::string& brands, const char* brand);
