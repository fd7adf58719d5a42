// Finds the EXIF block of a picture file by walking its container (JPEG segments, PNG chunks,
// RIFF chunks, ISO boxes; libheif and libavif for their own containers) and turns the entries
// people look for into text. The directories themselves are read by libexif.
#include "imaging/PictureInfo.h"

#include <avif/avif.h>
#include <jxl/decode.h>
#include <libexif/exif-data.h>
#include <libheif/heif.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"
#include "imaging/FormatGraphic.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/Stream.h"
#include "imaging/formats/FileTypeBox.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/TIFFGraphic.h"

namespace {

// Walks end after this many segments, chunks or boxes, whatever the file says.
constexpr int kMaxParts = 100000;
// Longest text taken from an entry.
constexpr size_t kMaxText = 256;

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

bool IsTiffHeader(const uint8_t* p, size_t n) {
    return n >= 8 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
                      (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42));
}

// The block from its TIFF header on, after an optional "Exif\0\0"; empty when no TIFF header
// starts there.
std::vector<uint8_t> FromTiffHeader(const uint8_t* p, size_t n) {
    if (n >= sizeof kExifHeader && std::memcmp(p, kExifHeader, sizeof kExifHeader) == 0) {
        p += sizeof kExifHeader;
        n -= sizeof kExifHeader;
    }
    if (!IsTiffHeader(p, n)) return {};
    return std::vector<uint8_t>(p, p + std::min(n, kMaxExifBytes));
}

// ISO box payloads (HEIF metadata, JPEG XL "Exif" box) start with a 32-bit big-endian offset
// from their fifth byte to the TIFF header.
std::vector<uint8_t> FromOffsetPayload(const uint8_t* p, size_t n) {
    if (n < 4) return {};
    const uint64_t offset = GetU32BE(p);
    if (offset > n - 4) return {};
    return FromTiffHeader(p + 4 + offset, n - 4 - size_t(offset));
}

// Reads a part's payload when it is not too large to be an EXIF block; empty otherwise.
std::vector<uint8_t> ReadPayload(TStream& stream, uint64_t size) {
    // Payloads may carry a prefix before the TIFF header; a little room above libexif's bound.
    if (size > kMaxExifBytes + 64 || int64_t(size) > stream.Remaining()) return {};
    return stream.ReadBytes(int64_t(size));
}

struct TScan {
    std::string format;
    std::vector<uint8_t> exif;
    int jpegPrecision = 0;  // bits per sample of the first frame header
    int jpegComponents = 0;
};

void ScanJPEG(TStream& stream, TScan& scan) {
    stream.SetPosition(2);
    for (int part = 0; part < kMaxParts; ++part) {
        uint8_t head[2];
        if (stream.Read(head, 2) != 2 || head[0] != 0xFF) return;
        uint8_t marker = head[1];
        // Fill bytes before a marker.
        for (int fill = 0; marker == 0xFF && fill < kMaxParts; ++fill)
            marker = stream.ReadU8();
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xDA || marker == 0xD9) return;  // the entropy-coded data follows
        const uint16_t length = stream.ReadU16BE();
        if (length < 2) return;
        const int64_t next = stream.Position() + length - 2;
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader && scan.jpegPrecision == 0 && length >= 8) {
            uint8_t sof[6];
            stream.ReadBuffer(sof, 6);
            scan.jpegPrecision = sof[0];
            scan.jpegComponents = sof[5];
        } else if (marker == 0xE1 && scan.exif.empty()) {
            const std::vector<uint8_t> data = ReadPayload(stream, length - 2u);
            if (data.size() >= sizeof kExifHeader &&
                std::memcmp(data.data(), kExifHeader, sizeof kExifHeader) == 0)
                scan.exif = FromTiffHeader(data.data(), data.size());
        }
        stream.SetPosition(next);
    }
}

void ScanPNG(TStream& stream, TScan& scan) {
    stream.SetPosition(8);
    for (int part = 0; part < kMaxParts && stream.Remaining() >= 12; ++part) {
        const uint32_t length = stream.ReadU32BE();
        char type[4];
        stream.ReadBuffer(type, 4);
        if (length > 0x7FFFFFFFu || std::memcmp(type, "IEND", 4) == 0) return;
        if (std::memcmp(type, "eXIf", 4) == 0) {
            const std::vector<uint8_t> data = ReadPayload(stream, length);
            scan.exif = FromTiffHeader(data.data(), data.size());
            return;
        }
        stream.Seek(int64_t(length) + 4, TSeekOrigin::soCurrent);  // data and CRC
    }
}

void ScanWebP(TStream& stream, TScan& scan) {
    stream.SetPosition(12);
    for (int part = 0; part < kMaxParts && stream.Remaining() >= 8; ++part) {
        char type[4];
        stream.ReadBuffer(type, 4);
        const uint32_t size = stream.ReadU32LE();
        if (std::memcmp(type, "EXIF", 4) == 0) {
            const std::vector<uint8_t> data = ReadPayload(stream, size);
            scan.exif = FromTiffHeader(data.data(), data.size());
            return;
        }
        stream.Seek(int64_t(size) + (size & 1), TSeekOrigin::soCurrent);
    }
}

// The boxes of a JPEG XL container through libjxl, which also undoes the Brotli of a "brob"
// box; the box buffer bounds what a compressed box may grow to.
void ScanJXL(const std::vector<uint8_t>& data, TScan& scan) {
    std::unique_ptr<JxlDecoder, void (*)(JxlDecoder*)> decoder(JxlDecoderCreate(nullptr),
                                                               JxlDecoderDestroy);
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
        JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data.data(), data.size()) != JXL_DEC_SUCCESS)
        return;
    JxlDecoderCloseInput(decoder.get());
    std::vector<uint8_t> box;
    bool inExif = false;
    for (int part = 0; part < kMaxParts; ++part) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (inExif && (status == JXL_DEC_BOX || status == JXL_DEC_SUCCESS)) {
            const size_t unused = JxlDecoderReleaseBoxBuffer(decoder.get());
            box.resize(box.size() - std::min(unused, box.size()));
            scan.exif = FromOffsetPayload(box.data(), box.size());
            return;
        }
        if (status != JXL_DEC_BOX) return;  // the end, an error, or a box too large
        JxlBoxType type;
        if (JxlDecoderGetBoxType(decoder.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) return;
        if (std::memcmp(type, "Exif", 4) == 0) {
            box.assign(kMaxExifBytes + 64, 0);
            if (JxlDecoderSetBoxBuffer(decoder.get(), box.data(), box.size()) != JXL_DEC_SUCCESS)
                return;
            inExif = true;
        }
    }
}

// --- TIFF files whose directories lie beyond the first 64 KiB ----------------------------

// A TIFF's directories are often written after the pixels, where an EXIF reader that takes a
// bounded block cannot reach them. The TIFF loader reads the image's directory and the EXIF and
// GPS directories it points at; the entries shown are copied into a small little-endian block
// of their own.
constexpr uint16_t kExifPointer = 34665;
constexpr uint16_t kGPSPointer = 34853;
constexpr uint64_t kMaxValueBytes = 1024;

struct TBlockEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> bytes;  // little-endian
};

unsigned ElementSize(uint16_t type) {
    switch (type) {
        case 3:
        case 8:
            return 2;
        case 4:
        case 5:  // rationals: two 32-bit halves
        case 9:
        case 10:
        case 11:
        case 13:
            return 4;
        case 12:
            return 8;
        default:
            return 1;
    }
}

// The entries of the directory Directory() holds now whose tag is in tags.
std::vector<TBlockEntry> KeptEntries(const TTIFFGraphic& tiff,
                                     std::initializer_list<uint16_t> tags) {
    std::vector<TBlockEntry> kept;
    for (const TTIFFGraphic::TIFDEntry& entry : tiff.Directory()) {
        if (std::find(tags.begin(), tags.end(), entry.Tag) == tags.end()) continue;
        TBlockEntry e{entry.Tag, entry.Type, entry.Count, {}};
        bool bigEndian = false;
        if (!tiff.EntryBytes(entry, kMaxValueBytes, e.bytes, bigEndian)) continue;
        const unsigned size = ElementSize(entry.Type);
        if (bigEndian && size > 1)
            for (size_t i = 0; i + size <= e.bytes.size(); i += size)
                std::reverse(e.bytes.begin() + std::ptrdiff_t(i),
                             e.bytes.begin() + std::ptrdiff_t(i + size));
        kept.push_back(std::move(e));
    }
    return kept;
}

uint32_t PointerOf(const std::vector<TBlockEntry>& entries, uint16_t tag) {
    for (const TBlockEntry& e : entries)
        if (e.tag == tag && (e.type == 4 || e.type == 13) && e.bytes.size() >= 4)
            return GetU32LE(e.bytes.data());
    return 0;
}

void PutLE(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// Writes the directories one after the other behind the header, their values after them;
// the EXIF and GPS pointers of the first are set to where the others land.
std::vector<uint8_t> WriteBlock(std::vector<std::vector<TBlockEntry>> directories) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::vector<size_t> starts;
    size_t at = 8;
    for (const auto& dir : directories) {
        starts.push_back(at);
        at += 2 + 12 * dir.size() + 4;
    }
    out.resize(at, 0);
    for (size_t d = 0; d < directories.size(); ++d) {
        size_t entry = starts[d];
        PutLE(out, entry, uint32_t(directories[d].size()), 2);
        entry += 2;
        for (TBlockEntry& e : directories[d]) {
            if (e.tag == kExifPointer || e.tag == kGPSPointer) {
                const size_t target = e.tag == kExifPointer ? 1 : 2;
                if (d != 0 || target >= starts.size() || directories[target].empty()) {
                    e.tag = 0xFFFF;  // a pointer to nothing kept: an unknown, ignored tag
                } else {
                    e.type = 4;
                    e.count = 1;
                    e.bytes.assign(4, 0);
                    PutLE(e.bytes, 0, uint32_t(starts[target]), 4);
                }
            }
            PutLE(out, entry, e.tag, 2);
            PutLE(out, entry + 2, e.type, 2);
            PutLE(out, entry + 4, e.count, 4);
            if (e.bytes.size() <= 4) {
                std::copy(e.bytes.begin(), e.bytes.end(), out.begin() + std::ptrdiff_t(entry + 8));
            } else {
                PutLE(out, entry + 8, uint32_t(out.size()), 4);
                out.insert(out.end(), e.bytes.begin(), e.bytes.end());
                if (out.size() & 1) out.push_back(0);
            }
            entry += 12;
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> RebuildTiffExif(TStream& stream) {
    try {
        TTIFFGraphic tiff;
        stream.SetPosition(0);
        if (!tiff.ReadProperties(stream, 0)) return {};
        std::vector<std::vector<TBlockEntry>> dirs(3);
        dirs[0] =
            KeptEntries(tiff, {EXIF_TAG_MAKE, EXIF_TAG_MODEL, EXIF_TAG_ORIENTATION,
                               EXIF_TAG_SOFTWARE, EXIF_TAG_DATE_TIME, kExifPointer, kGPSPointer});
        const uint32_t exif = PointerOf(dirs[0], kExifPointer);
        const uint32_t gps = PointerOf(dirs[0], kGPSPointer);
        if (exif != 0 && tiff.ReadDirectoryAt(exif))
            dirs[1] = KeptEntries(
                tiff,
                {EXIF_TAG_EXPOSURE_TIME, EXIF_TAG_FNUMBER, EXIF_TAG_ISO_SPEED_RATINGS,
                 EXIF_TAG_DATE_TIME_ORIGINAL, EXIF_TAG_DATE_TIME_DIGITIZED, EXIF_TAG_FOCAL_LENGTH,
                 EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM, EXIF_TAG_LENS_MAKE, EXIF_TAG_LENS_MODEL});
        if (gps != 0 && tiff.ReadDirectoryAt(gps))
            dirs[2] = KeptEntries(tiff, {EXIF_TAG_GPS_LATITUDE_REF, EXIF_TAG_GPS_LATITUDE,
                                         EXIF_TAG_GPS_LONGITUDE_REF, EXIF_TAG_GPS_LONGITUDE});
        std::vector<uint8_t> block = WriteBlock(std::move(dirs));
        if (block.size() > kMaxExifBytes) return {};
        return block;
    } catch (const std::exception&) {
        return {};
    }
}

namespace {

struct THeifCloser {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

void ScanHEIF(const std::vector<uint8_t>& data, TScan& scan) {
    std::unique_ptr<heif_context, THeifCloser> context(heif_context_alloc());
    if (!context ||
        heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr)
                .code != heif_error_Ok)
        return;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) return;
    std::unique_ptr<heif_image_handle, THeifCloser> handle(raw);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) != 1) return;
    const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
    if (size < 4 || size > kMaxExifBytes + 64) return;
    std::vector<uint8_t> payload(size);
    if (heif_image_handle_get_metadata(handle.get(), id, payload.data()).code != heif_error_Ok)
        return;
    scan.exif = FromOffsetPayload(payload.data(), payload.size());
}

void ScanAVIF(const std::vector<uint8_t>& data, TScan& scan) {
    std::unique_ptr<avifDecoder, void (*)(avifDecoder*)> decoder(avifDecoderCreate(),
                                                                 avifDecoderDestroy);
    if (!decoder) return;
    decoder->ignoreXMP = AVIF_TRUE;
    if (avifDecoderSetIOMemory(decoder.get(), data.data(), data.size()) != AVIF_RESULT_OK ||
        avifDecoderParse(decoder.get()) != AVIF_RESULT_OK || decoder->image == nullptr)
        return;
    const avifRWData& exif = decoder->image->exif;
    if (exif.data == nullptr || exif.size == 0 || exif.size > kMaxExifBytes + 64) return;
    // libavif hands over the item after its offset field; an item whose offset it kept is
    // read as the box payload it is.
    scan.exif = FromTiffHeader(exif.data, exif.size);
    if (scan.exif.empty()) scan.exif = FromOffsetPayload(exif.data, exif.size);
}

TScan Scan(TStream& stream) {
    TScan scan;
    try {
        const int64_t size = stream.Size();
        stream.SetPosition(0);
        uint8_t head[12] = {};
        if (stream.Read(head, 12) != 12) return scan;
        static const uint8_t kPNG[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        static const uint8_t kJXL[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'};
        if (head[0] == 0xFF && head[1] == 0xD8) {
            scan.format = "JPEG";
            ScanJPEG(stream, scan);
        } else if (IsTiffHeader(head, 12)) {
            // A small file is the block itself; a larger one may keep its directories past what
            // libexif reads of a block.
            scan.format = "TIFF";
            if (size <= int64_t(kMaxExifBytes)) {
                stream.SetPosition(0);
                scan.exif = stream.ReadAvailable(int64_t(kMaxExifBytes));
            } else {
                scan.exif = RebuildTiffExif(stream);
            }
        } else if (std::memcmp(head, kPNG, 8) == 0) {
            scan.format = "PNG";
            ScanPNG(stream, scan);
        } else if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0) {
            scan.format = "WebP";
            ScanWebP(stream, scan);
        } else if (std::memcmp(head, kJXL, 12) == 0) {
            scan.format = "JPEG XL";
            if (size > kMaxContainerBytes) return scan;
            stream.SetPosition(0);
            ScanJXL(stream.ReadBytes(size), scan);
        } else if (head[0] == 0xFF && head[1] == 0x0A) {
            scan.format = "JPEG XL";  // a bare codestream holds no metadata
        } else {
            stream.SetPosition(0);
            const std::string brands = ReadFileTypeBrands(stream);
            if (brands.empty()) return scan;
            const bool avif = HasBrand(brands, "avif") || HasBrand(brands, "avis");
            scan.format = avif ? "AVIF" : "HEIF";
            if (size > kMaxContainerBytes) return scan;
            stream.SetPosition(0);
            const std::vector<uint8_t> data = stream.ReadBytes(size);
            avif ? ScanAVIF(data, scan) : ScanHEIF(data, scan);
        }
    } catch (const std::exception&) {
        // A container cut short or broken: what was found so far stands.
    }
    return scan;
}

// --- Entries -----------------------------------------------------------------------------

struct TExifDataCloser {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

class TEntries {
  public:
    explicit TEntries(ExifData* data) : data_(data), order_(exif_data_get_byte_order(data)) {}

    const ExifEntry* Find(ExifIfd ifd, ExifTag tag) const {
        const ExifEntry* e = exif_content_get_entry(data_->ifd[ifd], tag);
        return e != nullptr && e->data != nullptr && e->size != 0 ? e : nullptr;
    }

    // ASCII text: up to the first NUL, control characters as spaces, outer spaces removed.
    std::string Text(ExifIfd ifd, ExifTag tag) const {
        const ExifEntry* e = Find(ifd, tag);
        if (e == nullptr || e->format != EXIF_FORMAT_ASCII) return {};
        const size_t n = std::min<size_t>(e->size, kMaxText);
        std::string text(reinterpret_cast<const char*>(e->data), n);
        text.resize(std::min(text.find('\0'), text.size()));
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        const size_t first = text.find_first_not_of(' ');
        if (first == std::string::npos) return {};
        return text.substr(first, text.find_last_not_of(' ') - first + 1);
    }

    // Value number index of a SHORT or LONG entry.
    bool Integer(ExifIfd ifd, ExifTag tag, uint32_t& value, unsigned index = 0) const {
        const ExifEntry* e = Find(ifd, tag);
        if (e == nullptr || index >= e->components) return false;
        if (e->format == EXIF_FORMAT_SHORT && e->size >= 2 * (size_t(index) + 1)) {
            value = exif_get_short(e->data + 2 * index, order_);
            return true;
        }
        if (e->format == EXIF_FORMAT_LONG && e->size >= 4 * (size_t(index) + 1)) {
            value = exif_get_long(e->data + 4 * index, order_);
            return true;
        }
        return false;
    }

    // Value number index of a RATIONAL or SRATIONAL entry; false for a zero denominator.
    bool Rational(ExifIfd ifd, ExifTag tag, double& value, unsigned index = 0) const {
        const ExifEntry* e = Find(ifd, tag);
        if (e == nullptr || index >= e->components || e->size < 8 * (size_t(index) + 1))
            return false;
        const unsigned char* p = e->data + 8 * index;
        if (e->format == EXIF_FORMAT_RATIONAL) {
            const ExifRational r = exif_get_rational(p, order_);
            if (r.denominator == 0) return false;
            value = double(r.numerator) / double(r.denominator);
            return true;
        }
        if (e->format == EXIF_FORMAT_SRATIONAL) {
            const ExifSRational r = exif_get_srational(p, order_);
            if (r.denominator == 0) return false;
            value = double(r.numerator) / double(r.denominator);
            return true;
        }
        return false;
    }

    unsigned Components(ExifIfd ifd, ExifTag tag) const {
        const ExifEntry* e = Find(ifd, tag);
        return e != nullptr ? e->components : 0;
    }

  private:
    ExifData* data_;
    ExifByteOrder order_;
};

// A number with at most digits decimals, trailing zeros dropped; the C locale's point
// whatever the program's locale.
std::string Decimal(double value, int digits, bool keepZeros = false) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    if (result.ec != std::errc()) return {};
    std::string text(buffer, result.ptr);
    if (!keepZeros && text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

std::string ExposureText(double seconds) {
    if (!(seconds > 0) || seconds > 1e6) return {};
    if (seconds < 1) {
        const double inverse = 1 / seconds;
        const double whole = std::round(inverse);
        if (whole >= 2 && std::fabs(inverse - whole) <= 0.01 * whole)
            return "1/" + Decimal(whole, 0) + " s";
    }
    return Decimal(seconds, 2) + " s";
}

std::string DateText(std::string text) {
    // "YYYY:MM:DD HH:MM:SS" with the date's colons as dashes; a blank or zero date is none.
    if (text.empty() || text.find_first_not_of("0: ") == std::string::npos) return {};
    if (text.size() >= 19 && text[4] == ':' && text[7] == ':' && text[10] == ' ') {
        text[4] = '-';
        text[7] = '-';
    }
    return text;
}

// Degrees, minutes and seconds as one number; false when the entry is not such a value.
bool Degrees(const TEntries& entries, ExifTag tag, double& degrees) {
    const unsigned count = std::min(entries.Components(EXIF_IFD_GPS, tag), 3u);
    if (count == 0) return false;
    degrees = 0;
    double scale = 1;
    for (unsigned i = 0; i < count; ++i, scale *= 60) {
        double part;
        if (!entries.Rational(EXIF_IFD_GPS, tag, part, i) || !(part >= 0)) return false;
        degrees += part / scale;
    }
    return true;
}

std::string GPSText(const TEntries& entries) {
    double latitude, longitude;
    if (!Degrees(entries, ExifTag(EXIF_TAG_GPS_LATITUDE), latitude) ||
        !Degrees(entries, ExifTag(EXIF_TAG_GPS_LONGITUDE), longitude) || latitude > 90 ||
        longitude > 180)
        return {};
    const std::string latRef = entries.Text(EXIF_IFD_GPS, ExifTag(EXIF_TAG_GPS_LATITUDE_REF));
    const std::string lonRef = entries.Text(EXIF_IFD_GPS, ExifTag(EXIF_TAG_GPS_LONGITUDE_REF));
    const char* degree = "\xC2\xB0";
    return Decimal(latitude, 6, true) + degree + (latRef == "S" ? " S" : " N") + ", " +
           Decimal(longitude, 6, true) + degree + (lonRef == "W" ? " W" : " E");
}

std::string OrientationText(uint32_t value) {
    static const char* const kNames[] = {
        "Normal",
        "Mirrored horizontally",
        "Rotated 180\xC2\xB0",
        "Mirrored vertically",
        "Mirrored horizontally, rotated 270\xC2\xB0 clockwise",
        "Rotated 90\xC2\xB0 clockwise",
        "Mirrored horizontally, rotated 90\xC2\xB0 clockwise",
        "Rotated 270\xC2\xB0 clockwise",
    };
    return value >= 1 && value <= 8 ? kNames[value - 1] : std::string();
}

TExifFields FieldsOf(const TEntries& e) {
    TExifFields f;
    f.Make = e.Text(EXIF_IFD_0, EXIF_TAG_MAKE);
    f.Model = e.Text(EXIF_IFD_0, EXIF_TAG_MODEL);
    f.Software = e.Text(EXIF_IFD_0, EXIF_TAG_SOFTWARE);
    f.Lens = e.Text(EXIF_IFD_EXIF, EXIF_TAG_LENS_MODEL);
    const std::string lensMake = e.Text(EXIF_IFD_EXIF, EXIF_TAG_LENS_MAKE);
    if (!lensMake.empty() && f.Lens.find(lensMake) == std::string::npos)
        f.Lens = f.Lens.empty() ? lensMake : lensMake + ' ' + f.Lens;

    double value;
    if (e.Rational(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, value))
        f.ExposureTime = ExposureText(value);
    if (e.Rational(EXIF_IFD_EXIF, EXIF_TAG_FNUMBER, value) && value > 0 && value < 1000)
        f.FNumber = "f/" + Decimal(value, 1);
    if (e.Rational(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH, value) && value > 0 && value < 1e5) {
        f.FocalLength = Decimal(value, 1) + " mm";
        uint32_t film = 0;
        if (e.Integer(EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM, film) && film > 0)
            f.FocalLength += " (" + std::to_string(film) + " mm in 35 mm film)";
    }
    uint32_t iso = 0;
    if (e.Integer(EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS, iso) && iso > 0)
        f.ISO = std::to_string(iso);

    f.DateTaken = DateText(e.Text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL));
    if (f.DateTaken.empty())
        f.DateTaken = DateText(e.Text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED));
    if (f.DateTaken.empty()) f.DateTaken = DateText(e.Text(EXIF_IFD_0, EXIF_TAG_DATE_TIME));
    f.GPSPosition = GPSText(e);
    uint32_t orientation = 0;
    if (e.Integer(EXIF_IFD_0, EXIF_TAG_ORIENTATION, orientation))
        f.Orientation = OrientationText(orientation);
    return f;
}

// --- The picture -------------------------------------------------------------------------

const char* SchemeName(TColorSchemeKind scheme) {
    switch (scheme) {
        case schemeIndexed:
            return "Indexed";
        case schemeGray:
            return "Grayscale";
        case schemeGrayAlpha:
            return "Grayscale with alpha";
        case schemeRGB:
        case schemeBGR:
            return "RGB";
        case schemeRGBA:
        case schemeBGRA:
            return "RGB with alpha";
        case schemeCMY:
            return "CMY";
        case schemeCMYK:
            return "CMYK";
        case schemeCIELab:
            return "CIE L*a*b*";
        case schemeYCbCr:
            return "YCbCr";
        case schemePhotoYCC:
            return "Photo YCC";
        case schemeUnknown:
            break;
    }
    return "";
}

std::string FormatOf(const TGraphic& graphic) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"TBitmap", "Windows bitmap"},     {"TIcon", "Windows icon"},
        {"TMetafile", "Windows metafile"}, {"TJPEGImage", "JPEG"},
        {"TJPEGXLGraphic", "JPEG XL"},     {"TJPEG2000Graphic", "JPEG 2000"},
        {"TWebPGraphic", "WebP"},          {"TTargaGraphic", "Targa"},
        {"TPSDGraphic", "Photoshop"},      {"TPSPGraphic", "Paint Shop Pro"},
        {"TPCDGraphic", "Photo-CD"},       {"TPPMGraphic", "Portable map"},
        {"TCUTGraphic", "Dr. Halo CUT"},   {"TRLAGraphic", "Alias/Wavefront RLA"},
        {"TEPSGraphic", "EPS preview"}};
    const std::string name = graphic.ClassType().ClassName;
    for (const auto& [className, format] : kNames)
        if (name == className) return format;
    if (const auto* formatGraphic = dynamic_cast<const TFormatGraphic*>(&graphic))
        return formatGraphic->FormatName();
    return name;
}

}  // namespace

std::string GraphicFormatName(const TGraphic& graphic) {
    return FormatOf(graphic);
}

namespace {

// Frames or pages the graphic exposes; 1 for a single picture. Graphics that learn to hold
// several frames or pages report their count here.
int FrameCountOf(const TGraphic& graphic) {
    if (const auto* icon = dynamic_cast<const TIcon*>(&graphic))
        return std::max(1, icon->EntryCount());
    return 1;
}

// The embedded colour profile's description (empty without a profile).
std::string ProfileNameOf(const TGraphic& graphic) {
    return IccProfileDescription(graphic.IccProfile());
}

void DescribeGraphic(const TGraphic& graphic, const TScan& scan, TPictureInfo& info) {
    info.Format = FormatOf(graphic);
    info.Width = graphic.Width();
    info.Height = graphic.Height();
    info.FrameCount = FrameCountOf(graphic);
    info.ProfileName = ProfileNameOf(graphic);
    if (const auto* fg = dynamic_cast<const TFormatGraphic*>(&graphic)) {
        const TImageProperties& p = fg->ImageProperties();
        info.BitDepth = p.BitsPerPixel != 0 ? p.BitsPerPixel : fg->BitsPerPixel();
        info.ColorSpace = SchemeName(p.ColorScheme);
        if (info.ColorSpace.empty() && !fg->Empty())
            info.ColorSpace = fg->Palette().empty() ? "RGB" : "Indexed";
    } else if (dynamic_cast<const TJPEGImage*>(&graphic) != nullptr) {
        if (scan.jpegPrecision > 0 && scan.jpegComponents > 0) {
            info.BitDepth = scan.jpegPrecision * scan.jpegComponents;
            info.ColorSpace = scan.jpegComponents == 1   ? "Grayscale"
                              : scan.jpegComponents == 3 ? "YCbCr"
                              : scan.jpegComponents == 4 ? "CMYK"
                                                         : "";
        }
    } else if (const auto* bmp = dynamic_cast<const TBitmap*>(&graphic)) {
        if (!bmp->Empty()) {
            info.BitDepth = bmp->BitsPerPixel();
            info.ColorSpace = !bmp->Palette().empty()         ? "Indexed"
                              : bmp->PixelFormat() == pf32bit ? "RGB with alpha"
                                                              : "RGB";
        }
    }
}

}  // namespace

bool TExifFields::Empty() const {
    for (const std::string* s : {&Make, &Model, &Lens, &ExposureTime, &FNumber, &ISO, &FocalLength,
                                 &DateTaken, &GPSPosition, &Orientation, &Software})
        if (!s->empty()) return false;
    return true;
}

std::vector<uint8_t> FindExifBlock(TStream& stream) {
    return Scan(stream).exif;
}

namespace {

// The block read by libexif; null when it holds no TIFF header.
std::unique_ptr<ExifData, TExifDataCloser> LoadExif(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 8) return nullptr;
    // libexif wants the APP1 prefix before the TIFF header.
    std::vector<uint8_t> block;
    if (size >= sizeof kExifHeader && std::memcmp(data, kExifHeader, sizeof kExifHeader) == 0) {
        block.assign(data, data + std::min(size, kMaxExifBytes + sizeof kExifHeader));
    } else {
        block.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
        block.insert(block.end(), data, data + std::min(size, kMaxExifBytes));
    }
    if (!IsTiffHeader(block.data() + sizeof kExifHeader, block.size() - sizeof kExifHeader))
        return nullptr;
    std::unique_ptr<ExifData, TExifDataCloser> exif(exif_data_new());
    if (!exif) return nullptr;
    // Read what the file holds: no entries made up to complete the standard's list.
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif.get(), block.data(), unsigned(block.size()));
    return exif;
}

}  // namespace

TExifFields ParseExif(const uint8_t* data, size_t size) {
    const auto exif = LoadExif(data, size);
    return exif ? FieldsOf(TEntries(exif.get())) : TExifFields{};
}

std::vector<uint8_t> ExifThumbnail(const uint8_t* data, size_t size) {
    const auto exif = LoadExif(data, size);
    // libexif keeps the thumbnail only when its offset and length lie inside the block.
    if (!exif || exif->data == nullptr || exif->size < 4) return {};
    const uint8_t* thumb = exif->data;
    if (thumb[0] != 0xFF || thumb[1] != 0xD8) return {};  // only JPEG thumbnails
    return std::vector<uint8_t>(thumb, thumb + exif->size);
}

std::vector<std::pair<std::string, std::string>> TPictureInfo::Fields() const {
    std::vector<std::pair<std::string, std::string>> fields;
    auto add = [&fields](const char* label, const std::string& value) {
        if (!value.empty()) fields.emplace_back(label, value);
    };
    add("File name", FileName);
    add("Size", FileSize >= 0 ? std::to_string(FileSize) + " bytes" : std::string());
    add("Format", Format);
    add("Dimensions", Width > 0 && Height > 0
                          ? std::to_string(Width) + " x " + std::to_string(Height) + " pixels"
                          : std::string());
    add("Bit depth", BitDepth > 0 ? std::to_string(BitDepth) +
                                        (BitDepth == 1 ? " bit per pixel" : " bits per pixel")
                                  : std::string());
    add("Colour space", ColorSpace);
    add("Colour profile", ProfileName);
    add("Frames", FrameCount > 0 ? std::to_string(FrameCount) : std::string());
    add("Camera make", Exif.Make);
    add("Camera model", Exif.Model);
    add("Lens", Exif.Lens);
    add("Exposure time", Exif.ExposureTime);
    add("F-number", Exif.FNumber);
    add("ISO", Exif.ISO);
    add("Focal length", Exif.FocalLength);
    add("Date taken", Exif.DateTaken);
    add("GPS position", Exif.GPSPosition);
    add("Orientation", Exif.Orientation);
    add("Software", Exif.Software);
    return fields;
}

TPictureInfo ReadPictureInfo(const std::string& fileName, const TGraphic* graphic) {
    TPictureInfo info;
    info.FileName = fileName.substr(fileName.find_last_of('/') + 1);
    TScan scan;
    try {
        TFileStream stream(fileName);
        info.FileSize = stream.Size();
        scan = Scan(stream);
    } catch (const std::exception&) {
        // Unreadable: the name (and the loaded picture, if any) is all there is to show.
    }
    info.Format = scan.format;
    if (graphic != nullptr) DescribeGraphic(*graphic, scan, info);
    if (!scan.exif.empty()) info.Exif = ParseExif(scan.exif.data(), scan.exif.size());
    return info;
}
