// Windows icon (.ico) reader: an icon directory followed by one image per entry, each either a
// device-independent bitmap (colour rows followed by a 1-bit AND mask, the info header giving
// twice the image height) or a complete PNG file.
#include "imaging/formats/Icon.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/formats/WindowsBitmap.h"

namespace {

constexpr uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

[[noreturn]] void Fail(const std::string& detail) {
    throw EInvalidGraphic("Cannot load icon. " + detail);
}

TIcon::TPNGEntryDecoder& PNGDecoderSlot() {
    static TIcon::TPNGEntryDecoder decoder;
    return decoder;
}

struct TEntry {
    int64_t offset = 0;  // absolute stream position
    int64_t size = 0;
    int64_t width = 0;
    int64_t height = 0;
    int depth = 0;
    bool png = false;
};

// Fills the entry's size and depth from its own header, which is more reliable than the
// directory. Returns false when the entry cannot hold an image.
bool Inspect(TStream& stream, TEntry& e) {
    uint8_t head[26] = {};
    if (e.size < 16) return false;
    stream.SetPosition(e.offset);
    const int64_t n = std::min<int64_t>(e.size, sizeof head);
    stream.ReadBuffer(head, n);
    if (std::memcmp(head, kPNGSignature, 8) == 0) {
        e.png = true;
        if (n >= 26 && std::memcmp(head + 12, "IHDR", 4) == 0) {
            e.width = GetU32BE(head + 16);
            e.height = GetU32BE(head + 20);
            // PNG limits both to 2^31 - 1; larger values are not an image.
            if (e.width > INT32_MAX || e.height > INT32_MAX) return false;
            static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
            const int type = head[25];
            if (type <= 6) e.depth = head[24] * channels[type];
        }
        return true;
    }
    const uint32_t headerSize = GetU32LE(head);
    if (headerSize == 12) {
        e.width = GetU16LE(head + 4);
        e.height = GetU16LE(head + 6) / 2;
        e.depth = GetU16LE(head + 10);
    } else if (headerSize >= 16 && headerSize <= 124) {
        e.width = static_cast<int32_t>(GetU32LE(head + 4));
        e.height = static_cast<int32_t>(GetU32LE(head + 8)) / 2;
        e.depth = GetU16LE(head + 14);
    } else {
        return false;
    }
    return e.width > 0 && e.height > 0;
}

}  // namespace

const TGraphicClass& TIcon::ClassInfo() {
    static const TGraphicClass info{"TIcon", [] { return std::make_unique<TIcon>(); },
                                    [](TStream& s) { return TIcon::ProbeStream(s); },
                                    &TBitmap::ClassInfo()};
    return info;
}

void TIcon::SetPNGEntryDecoder(TPNGEntryDecoder decoder) {
    PNGDecoderSlot() = std::move(decoder);
}
const TIcon::TPNGEntryDecoder& TIcon::PNGEntryDecoder() {
    return PNGDecoderSlot();
}

bool TIcon::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(6);
    return !head.empty() && GetU16LE(head.data()) == 0 &&
           (GetU16LE(head.data() + 2) == 1 || GetU16LE(head.data() + 2) == 2) &&
           GetU16LE(head.data() + 4) != 0;
}

void TIcon::SaveToStream(TStream& stream) {
    TGraphic::SaveToStream(stream);
}

void TIcon::LoadFromStream(TStream& stream) {
    try {
        const int64_t start = stream.Position();
        const int64_t end = stream.Size();
        uint8_t head[6];
        if (end - start < 6) Fail("The file is too short to be an icon.");
        stream.ReadBuffer(head, 6);
        // Type 1 is an icon, 2 a cursor (same layout with a hot spot in place of planes/depth).
        if (GetU16LE(head) != 0 || (GetU16LE(head + 2) != 1 && GetU16LE(head + 2) != 2))
            Fail("The file is not a Windows icon.");
        const int count = GetU16LE(head + 4);
        if (count == 0) Fail("The icon has no images.");
        if (6 + 16 * int64_t(count) > end - start) Fail("The icon directory is truncated.");
        std::vector<uint8_t> dir(16 * static_cast<size_t>(count));
        stream.ReadBuffer(dir.data(), static_cast<int64_t>(dir.size()));

        int best = -1;
        TEntry chosen;
        for (int i = 0; i < count; ++i) {
            const uint8_t* d = dir.data() + 16 * i;
            TEntry e;
            e.offset = start + GetU32LE(d + 12);
            if (e.offset < start + 6 + 16 * int64_t(count) || e.offset >= end) continue;
            // The entry's own header says how much it holds; the directory's byte count is often
            // wrong in cursors (smaller than the header and palette alone), and ImageMagick and
            // Windows read the entry from its offset whatever it says. So the bytes up to the end
            // of the file are the entry's, of which its header takes what it needs.
            e.size = end - e.offset;
            if (!Inspect(stream, e)) continue;
            if (e.depth == 0) e.depth = GetU16LE(d + 6);
            if (requestedEntry_ >= 0) {
                if (i != requestedEntry_) continue;
                best = i;
                chosen = e;
                break;
            }
            const int64_t area = e.width * e.height;
            const int64_t bestArea = chosen.width * chosen.height;
            if (best < 0 || area > bestArea || (area == bestArea && e.depth > chosen.depth)) {
                best = i;
                chosen = e;
            }
        }
        if (best < 0 && requestedEntry_ >= 0)
            Fail("Image " + std::to_string(requestedEntry_ + 1) + " of the icon is not readable.");
        if (best < 0) Fail("No image of the icon directory is readable.");

        entryCount_ = count;
        entryIndex_ = best;
        stream.SetPosition(chosen.offset);
        std::vector<uint8_t> bytes(static_cast<size_t>(chosen.size));
        stream.ReadBuffer(bytes.data(), chosen.size);
        TMemoryStream data(bytes.data(), chosen.size);

        if (chosen.png) {
            const TPNGEntryDecoder& decode = PNGEntryDecoder();
            if (!decode) throw EInvalidGraphic("PNG-compressed icons are not supported yet.");
            TBitmap image;
            decode(data, chosen.size, image);
            TBitmap::Assign(image);
            SetTransparent(BitmapHasAlpha(*this));
            Changed();
            return;
        }

        TDibHeader h = dib::ReadHeader(data, -1);
        if (h.TopDown) Fail("Invalid icon image height.");
        h.Height /= 2;  // colour rows and AND mask rows
        if (h.Height == 0) Fail("Invalid icon image height.");
        // 32-bit icon pixels carry alpha even without bit-field masks.
        if (h.BitCount == 32 && h.Compression == dibRGB) h.Masks[3] = 0xFF000000;

        TBitmap colour;
        const int64_t colourStart = data.Position();
        dib::ReadPixels(data, data.Size() - colourStart, h, colour, this);
        const int width = colour.Width();
        const int height = colour.Height();

        // The AND mask follows uncompressed colour rows: one bit a pixel, 1 = transparent.
        const uint8_t* mask = nullptr;
        const int64_t maskStride = dib::RowBytes(width, 1);
        if (h.Compression == dibRGB || h.Compression == dibBitFields ||
            h.Compression == dibAlphaBitFields) {
            const int64_t maskStart = colourStart + dib::RowBytes(width, h.BitCount) * height;
            if (maskStart + maskStride * height <= chosen.size) mask = bytes.data() + maskStart;
        }
        bool ownAlpha = false;
        if (colour.PixelFormat() == pf32bit) {
            for (int y = 0; y < height && !ownAlpha; ++y) {
                const uint8_t* row = colour.ScanLine(y);
                for (int x = 0; x < width; ++x)
                    if (row[4 * x + 3] != 0) {
                        ownAlpha = true;
                        break;
                    }
            }
        }
        if (!ownAlpha && mask == nullptr) {
            // Opaque colour image without a mask: keep its natural format (32-bit made opaque).
            if (colour.PixelFormat() == pf32bit)
                for (int y = 0; y < height; ++y) {
                    uint8_t* row = colour.ScanLine(y);
                    for (int x = 0; x < width; ++x)
                        row[4 * x + 3] = 255;
                }
            TBitmap::Assign(colour);
            SetTransparent(false);
            Changed();
            return;
        }

        Clear();
        SetPixelFormat(pf32bit);
        SetSize(width, height);
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = ScanLine(y);
            ConvertScanLineToBGRA(colour, y, dst);
            if (ownAlpha) continue;
            const uint8_t* m = mask + maskStride * (height - 1 - y);
            for (int x = 0; x < width; ++x)
                dst[4 * x + 3] = (m[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
        }
        SetTransparent(true);
    } catch (const EReadError&) {
        Fail("The file is truncated.");
    }
    Changed();
}
