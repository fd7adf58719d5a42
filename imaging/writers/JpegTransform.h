#pragma once
// Lossless turns and mirrors of JPEG files: the compressed blocks are rearranged (libjpeg-turbo's
// transform, as jpegtran does) instead of decoding and compressing again. A turn is named by an
// orientation value as TBitmap::Orient takes it (1 as is, 2 mirrored left to right, 3 turned
// half, 4 mirrored top to bottom, 5 transposed, 6 turned a quarter clockwise, 7 transversed,
// 8 turned a quarter anticlockwise).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"

// The turn that shows the result of applying first then second.
int ComposeOrientation(int first, int second);
// The turn that undoes turn.
int InverseOrientation(int turn);

// Raised when an exact turn would have to move partial blocks at the right or bottom edge.
class EJpegPartialBlocks : public EImagingError {
  public:
    using EImagingError::EImagingError;
};

// One marker segment of a JPEG file before its first scan: the marker byte (0xE1 for APP1) and
// where its data (after the length field) lies in the file.
struct TJpegSegment {
    uint8_t marker = 0;
    size_t offset = 0;
    size_t size = 0;
};
// The segments from the start of the file up to the first scan; stops early at anything that is
// not a well-formed segment.
std::vector<TJpegSegment> JpegSegments(const std::vector<uint8_t>& file);

// The EXIF orientation stored in the file (1 when there is none).
int JpegStoredOrientation(const std::vector<uint8_t>& file);

enum class TPartialBlocks {
    Refuse,  // throw EJpegPartialBlocks when the turn cannot be exact
    Trim,    // drop the partial edge blocks (a few pixels at most) as jpegtran -trim does
};

// The file turned by turn as it is shown (the stored EXIF orientation already applied): the
// blocks are turned by the shown turn composed with the stored orientation, the orientation is
// set to 1 and the EXIF thumbnail is turned with them; every other segment is kept byte for
// byte. Throws EJpegPartialBlocks (with partial Refuse) or EJPEG.
std::vector<uint8_t> TransformJpeg(const std::vector<uint8_t>& file, int turn,
                                   TPartialBlocks partial = TPartialBlocks::Refuse);

// The file with its EXIF orientation set to orientation (an EXIF block is added when there is
// none); the compressed picture is not touched.
std::vector<uint8_t> SetJpegOrientation(const std::vector<uint8_t>& file, int orientation);
