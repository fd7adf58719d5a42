#pragma once
// What a picture file holds beyond its pixels: the file's name and size, the format, size and
// depth of the picture, and the camera metadata people look for (make and model, lens,
// exposure, date taken, GPS position, ...), read from the file's EXIF block with libexif.
//
// The EXIF block is found in JPEG (APP1 "Exif"), TIFF (the file itself), PNG (eXIf), WebP
// (EXIF chunk), HEIF (libheif's "Exif" metadata), AVIF (libavif's Exif) and JPEG XL (the
// "Exif" box, also Brotli-compressed in a "brob" box, through libjxl). Every size, offset and count
// taken from the file is checked before use: a damaged block gives no fields, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TGraphic;
class TStream;

// The metadata fields of an EXIF block, already written for people ("1/250 s", "f/2.8",
// "48.856667° N, 2.350000° E"); empty when the block does not hold the field.
struct TExifFields {
    std::string Make;
    std::string Model;
    std::string Lens;
    std::string ExposureTime;
    std::string FNumber;
    std::string ISO;
    std::string FocalLength;
    std::string DateTaken;
    std::string GPSPosition;
    std::string Orientation;
    std::string Software;

    bool Empty() const;
};

// The most bytes an EXIF block may have (libexif reads no more of one either).
constexpr size_t kMaxExifBytes = 0xFFFE;
// The largest file whose whole content is read to find the block in a HEIF, AVIF or JPEG XL
// container (their metadata can lie anywhere in the file).
constexpr int64_t kMaxContainerBytes = int64_t(64) << 20;

// The EXIF block of the picture file at the stream's position: the bytes from the TIFF header
// ("II*\0" or "MM\0*") on, at most kMaxExifBytes; empty when the file has none or its
// container is damaged. The stream's position is left anywhere.
std::vector<uint8_t> FindExifBlock(TStream& stream);

// The camera metadata of the TIFF file at the stream's start as a small EXIF block of its own:
// the entries shown of the image's directory and of the EXIF and GPS directories it points at,
// read through the TIFF loader wherever they lie in the file. FindExifBlock uses it for TIFF
// files larger than kMaxExifBytes. Empty when the file is not such a TIFF.
std::vector<uint8_t> RebuildTiffExif(TStream& stream);

// Parses an EXIF block (TIFF header first, as FindExifBlock gives it, or with the "Exif\0\0"
// prefix of a JPEG APP1 segment).
TExifFields ParseExif(const uint8_t* data, size_t size);

// The JPEG thumbnail an EXIF block carries (IFD1's JPEGInterchangeFormat and its length), as
// its own JPEG file; empty when there is none or its offset or length lies outside the block.
std::vector<uint8_t> ExifThumbnail(const uint8_t* data, size_t size);

// Everything the properties of a picture show.
struct TPictureInfo {
    std::string FileName;   // the name without its folder
    int64_t FileSize = -1;  // bytes; -1 when unknown
    std::string Format;     // "JPEG", "PNG", ...
    int Width = 0;          // as shown (after the EXIF orientation)
    int Height = 0;
    int BitDepth = 0;        // bits per pixel as stored in the file (0: unknown)
    std::string ColorSpace;  // "RGB", "Grayscale", "CMYK", ...
    // The embedded colour profile's description; empty when there is none (or it cannot be
    // read yet).
    std::string ProfileName;
    // Frames or pages of the file; 1 unless the graphic says otherwise.
    int FrameCount = 1;
    TExifFields Exif;

    // The fields as label and value, in the order they are shown; empty values left out.
    std::vector<std::pair<std::string, std::string>> Fields() const;
};

// The properties of the picture file fileName; graphic, when given, is the picture as loaded
// (its dimensions, depth and colour space are taken from it rather than read again). Never
// throws for a damaged or unreadable file: what could not be read stays empty.
TPictureInfo ReadPictureInfo(const std::string& fileName, const TGraphic* graphic);

// The format a graphic was read as ("JPEG", "PNG", "Windows bitmap", ...): what its content
// is, whatever the file's name says.
std::string GraphicFormatName(const TGraphic& graphic);
