#include "imaging/writers/JpegTransform.h"

#include <turbojpeg.h>

#include <array>
#include <cstring>
#include <memory>

#include "imaging/ImagingRoutines.h"
#include "imaging/formats/ExifOrientation.h"

namespace {

// Each orientation as the 2x2 matrix it applies to (x, y) about the centre, y pointing down.
using TMatrix = std::array<int, 4>;
constexpr TMatrix kMatrices[9] = {
    {1, 0, 0, 1}, {1, 0, 0, 1},  {-1, 0, 0, 1},  {-1, 0, 0, -1}, {1, 0, 0, -1},
    {0, 1, 1, 0}, {0, -1, 1, 0}, {0, -1, -1, 0}, {0, 1, -1, 0},
};

int OrientationOf(const TMatrix& m) {
    for (int o = 1; o <= 8; ++o)
        if (kMatrices[o] == m) return o;
    return 1;
}

int Valid(int orientation) {
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

constexpr TJXOP kOperations[9] = {TJXOP_NONE,   TJXOP_NONE,       TJXOP_HFLIP,
                                  TJXOP_ROT180, TJXOP_VFLIP,      TJXOP_TRANSPOSE,
                                  TJXOP_ROT90,  TJXOP_TRANSVERSE, TJXOP_ROT270};

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 274;

bool IsExif(const std::vector<uint8_t>& file, const TJpegSegment& s) {
    return s.marker == 0xE1 && s.size >= 14 &&
           std::memcmp(file.data() + s.offset, kExifHeader, sizeof kExifHeader) == 0;
}

void PutU16(uint8_t* p, uint32_t v, bool bigEndian) {
    p[bigEndian ? 0 : 1] = uint8_t(v >> 8);
    p[bigEndian ? 1 : 0] = uint8_t(v);
}
void PutU32(uint8_t* p, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i)
        p[bigEndian ? i : 3 - i] = uint8_t(v >> (24 - 8 * i));
}

// A TIFF block (the EXIF segment's data after "Exif\0\0") with checked access to its IFDs.
struct TTiffBlock {
    uint8_t* data;
    size_t size;
    bool bigEndian = false;
    bool valid = false;

    TTiffBlock(uint8_t* d, size_t n) : data(d), size(n) {
        if (size < 8 || !((d[0] == 'I' && d[1] == 'I') || (d[0] == 'M' && d[1] == 'M'))) return;
        bigEndian = d[0] == 'M';
        valid = GetU16(d + 2, bigEndian) == 42;
    }
    // Offset of the IFD's entry count, or 0 when the directory leaves the block.
    uint64_t Directory(uint64_t offset) const {
        if (offset < 8 || offset + 2 > size) return 0;
        const uint64_t count = GetU16(data + offset, bigEndian);
        return offset + 2 + count * 12 + 4 <= size ? offset : 0;
    }
    uint64_t First() const { return valid ? Directory(GetU32(data + 4, bigEndian)) : 0; }
    uint64_t Next(uint64_t ifd) const {
        const uint64_t count = GetU16(data + ifd, bigEndian);
        return Directory(GetU32(data + ifd + 2 + count * 12, bigEndian));
    }
    // The entry with tag in the directory, or null.
    uint8_t* Entry(uint64_t ifd, uint16_t tag) const {
        const uint64_t count = GetU16(data + ifd, bigEndian);
        for (uint64_t i = 0; i < count; ++i) {
            uint8_t* entry = data + ifd + 2 + i * 12;
            if (GetU16(entry, bigEndian) == tag) return entry;
        }
        return nullptr;
    }
    // A LONG or SHORT single value.
    uint32_t Value(const uint8_t* entry) const {
        return GetU16(entry + 2, bigEndian) == 3 ? GetU16(entry + 8, bigEndian)
                                                 : GetU32(entry + 8, bigEndian);
    }
};

struct TTurboHandle {
    tjhandle handle = tjInitTransform();
    ~TTurboHandle() {
        if (handle != nullptr) tjDestroy(handle);
    }
};

// The file's blocks turned by operation; options as tjTransform takes them.
std::vector<uint8_t> TurnBlocks(const std::vector<uint8_t>& file, TJXOP operation, int options) {
    TTurboHandle turbo;
    if (turbo.handle == nullptr) throw EJPEG("The JPEG transformer cannot be started.");
    tjtransform transform{};
    transform.op = operation;
    transform.options = options;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int rc =
        tjTransform(turbo.handle, file.data(), file.size(), 1, &out, &outSize, &transform, 0);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
    if (rc != 0 || out == nullptr)
        throw EJPEG(std::string("The JPEG picture cannot be turned: ") +
                    tjGetErrorStr2(turbo.handle));
    return std::vector<uint8_t>(out, out + outSize);
}

bool Progressive(const std::vector<uint8_t>& file) {
    // The frame header follows the segments JpegSegments returns.
    for (const TJpegSegment& s : JpegSegments(file))
        if (s.marker == 0xC2 || s.marker == 0xC6 || s.marker == 0xCA || s.marker == 0xCE)
            return true;
    return false;
}

// Whether the turn moves a partial block row or column to where it would no longer be last.
bool NeedsWholeBlocks(const std::vector<uint8_t>& file, TJXOP operation) {
    TTurboHandle turbo;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (turbo.handle == nullptr ||
        tjDecompressHeader3(turbo.handle, file.data(), file.size(), &width, &height, &subsampling,
                            &colorspace) != 0 ||
        subsampling < 0 || subsampling >= TJ_NUMSAMP)
        return false;  // the transform itself decides then
    const bool partialRight = width % tjMCUWidth[subsampling] != 0;
    const bool partialBottom = height % tjMCUHeight[subsampling] != 0;
    switch (operation) {
        case TJXOP_HFLIP:
        case TJXOP_ROT270:
            return partialRight;
        case TJXOP_VFLIP:
        case TJXOP_ROT90:
            return partialBottom;
        case TJXOP_ROT180:
        case TJXOP_TRANSVERSE:
            return partialRight || partialBottom;
        default:
            return false;
    }
}

// Turns the EXIF thumbnail (a JPEG at the end of the block, as cameras write it) in the segment
// at index; leaves it as it is when it lies elsewhere or cannot be turned.
void TurnExifThumbnail(std::vector<uint8_t>& file, const TJpegSegment& segment, TJXOP operation) {
    TTiffBlock tiff(file.data() + segment.offset + 6, segment.size - 6);
    const uint64_t ifd0 = tiff.First();
    const uint64_t ifd1 = ifd0 ? tiff.Next(ifd0) : 0;
    if (ifd1 == 0) return;
    uint8_t* offsetEntry = tiff.Entry(ifd1, 0x201);
    uint8_t* lengthEntry = tiff.Entry(ifd1, 0x202);
    if (offsetEntry == nullptr || lengthEntry == nullptr ||
        GetU16(lengthEntry + 2, tiff.bigEndian) != 4)
        return;
    const uint64_t start = tiff.Value(offsetEntry), length = tiff.Value(lengthEntry);
    // The thumbnail ends the block and lies past the directory that points at it.
    const uint64_t directoryEnd = ifd1 + 2 + GetU16(tiff.data + ifd1, tiff.bigEndian) * 12 + 4;
    if (start + length != tiff.size || length == 0 || start < directoryEnd) return;
    std::vector<uint8_t> thumbnail(tiff.data + start, tiff.data + start + length);
    try {
        thumbnail = TurnBlocks(thumbnail, operation, TJXOPT_TRIM);
    } catch (const EJPEG&) {
        return;
    }
    const size_t segmentSize = segment.size - length + thumbnail.size();
    if (segmentSize + 2 > 0xFFFF) return;
    PutU32(lengthEntry + 8, uint32_t(thumbnail.size()), tiff.bigEndian);
    const size_t at = segment.offset + 6 + start;
    file.erase(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + length));
    file.insert(file.begin() + std::ptrdiff_t(at), thumbnail.begin(), thumbnail.end());
    file[segment.offset - 2] = uint8_t((segmentSize + 2) >> 8);
    file[segment.offset - 1] = uint8_t(segmentSize + 2);
}

// Sets the orientation entry of the first EXIF segment; false when there is none to set.
bool PatchOrientation(std::vector<uint8_t>& file, int orientation) {
    for (const TJpegSegment& s : JpegSegments(file)) {
        if (!IsExif(file, s)) continue;
        TTiffBlock tiff(file.data() + s.offset + 6, s.size - 6);
        const uint64_t ifd0 = tiff.First();
        uint8_t* entry = ifd0 ? tiff.Entry(ifd0, kOrientationTag) : nullptr;
        if (entry == nullptr || GetU16(entry + 2, tiff.bigEndian) != 3 ||
            GetU32(entry + 4, tiff.bigEndian) != 1)
            return false;
        PutU16(entry + 8, uint32_t(orientation), tiff.bigEndian);
        return true;
    }
    return false;
}

}  // namespace

int ComposeOrientation(int first, int second) {
    const TMatrix& a = kMatrices[Valid(second)];
    const TMatrix& b = kMatrices[Valid(first)];
    return OrientationOf({a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3],
                          a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3]});
}

int InverseOrientation(int turn) {
    for (int o = 1; o <= 8; ++o)
        if (ComposeOrientation(turn, o) == 1) return o;
    return 1;
}

std::vector<TJpegSegment> JpegSegments(const std::vector<uint8_t>& file) {
    std::vector<TJpegSegment> segments;
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return segments;
    size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const uint8_t marker = file[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        const size_t length = GetU16BE(file.data() + pos + 2);
        if (length < 2 || pos + 2 + length > file.size()) break;
        segments.push_back({marker, pos + 4, length - 2});
        if (marker == 0xDA) break;
        pos += 2 + length;
    }
    return segments;
}

int JpegStoredOrientation(const std::vector<uint8_t>& file) {
    for (const TJpegSegment& s : JpegSegments(file))
        if (IsExif(file, s)) return Valid(ExifOrientation(file.data() + s.offset, s.size));
    return 1;
}

std::vector<uint8_t> TransformJpeg(const std::vector<uint8_t>& file, int turn,
                                   TPartialBlocks partial) {
    const int stored = JpegStoredOrientation(file);
    const int total = ComposeOrientation(stored, Valid(turn));
    const TJXOP operation = kOperations[total];
    if (partial == TPartialBlocks::Refuse && NeedsWholeBlocks(file, operation))
        throw EJpegPartialBlocks(
            "The picture's width or height is not a multiple of its JPEG block size, so this "
            "turn cannot be exact: the partial blocks at the edge can be trimmed off (less "
            "than one block), or the turn can be stored as the EXIF orientation instead.");
    int options = partial == TPartialBlocks::Trim ? TJXOPT_TRIM : TJXOPT_PERFECT;
    if (Progressive(file)) options |= TJXOPT_PROGRESSIVE;
    std::vector<uint8_t> out = TurnBlocks(file, operation, options);
    if (stored != 1) PatchOrientation(out, 1);
    if (operation != TJXOP_NONE)
        for (const TJpegSegment& s : JpegSegments(out))
            if (IsExif(out, s)) {
                TurnExifThumbnail(out, s, operation);
                break;
            }
    return out;
}

std::vector<uint8_t> SetJpegOrientation(const std::vector<uint8_t>& file, int orientation) {
    std::vector<uint8_t> out = file;
    if (PatchOrientation(out, Valid(orientation))) return out;
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) throw EJPEG("Not a JPEG file.");
    const std::vector<TJpegSegment> segments = JpegSegments(file);
    for (const TJpegSegment& s : segments)
        if (IsExif(file, s))
            throw EJPEG("The picture's EXIF block has no orientation entry that can be set.");
    // A minimal EXIF block holding only the orientation, after SOI and a JFIF APP0.
    const uint8_t block[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                             'M',  'M',  0, 42, 0,   0,   0,   8,   0, 1,
                             1,    18,   0, 3,  0,   0,   0,   1,   0, uint8_t(Valid(orientation)),
                             0,    0,    0, 0,  0,   0};
    size_t at = 2;
    if (!segments.empty() && segments[0].marker == 0xE0) at = segments[0].offset + segments[0].size;
    out.insert(out.begin() + std::ptrdiff_t(at), std::begin(block), std::end(block));
    return out;
}
