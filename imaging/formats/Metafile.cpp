#include "imaging/formats/Metafile.h"

#include <algorithm>
#include <cmath>

#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

[[noreturn]] void Fail() {
    RaiseInvalidGraphicFmt(imsg::InvalidImage, "WMF/EMF");
}

TMetafile::TRenderer& RendererSlot() {
    static TMetafile::TRenderer renderer;
    return renderer;
}

int32_t S32(const uint8_t* p) {
    return static_cast<int32_t>(GetU32LE(p));
}
int16_t S16(const uint8_t* p) {
    return static_cast<int16_t>(GetU16LE(p));
}

// Pixels at 96 dots per inch for a length in units of which perInch make an inch.
double Pixels(double length, double perInch) {
    return std::abs(length) * 96.0 / perInch;
}

// Rounds a natural size and keeps it within the side limit, scaling both sides alike.
void SetNaturalSize(TMetafileHeader& h, double w, double ht) {
    if (!std::isfinite(w) || !std::isfinite(ht)) Fail();
    const double largest = std::max(w, ht);
    if (largest > TMetafile::kMaxSide) {
        w = w * TMetafile::kMaxSide / largest;
        ht = ht * TMetafile::kMaxSide / largest;
    }
    h.Width = std::max(1, int(std::lround(w)));
    h.Height = std::max(1, int(std::lround(ht)));
}

// The 18-byte WMF header at p: type 1 (memory) or 2 (disk), header size 9 words, a version of
// 0x0100 or 0x0300.
bool IsWmfHeader(const uint8_t* p, size_t size) {
    if (size < 18) return false;
    const uint16_t type = GetU16LE(p);
    const uint16_t words = GetU16LE(p + 2);
    const uint16_t version = GetU16LE(p + 4);
    return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

// A plain WMF has no size of its own: take the first window extent (and origin) of its
// records, as the picture is usually drawn in that window; otherwise a default square.
void PlainWmfSize(const uint8_t* data, size_t size, TMetafileHeader& h) {
    size_t pos = h.RecordsOffset;
    int count = 0;
    while (pos + 6 <= size && count++ < 10000) {
        const uint32_t words = GetU32LE(data + pos);
        const uint16_t function = GetU16LE(data + pos + 4);
        if (words < 3 || words > (size - pos) / 2 || function == 0) break;
        if (function == 0x020C && words >= 5) {  // SetWindowExt: y, x
            const int ext_y = S16(data + pos + 6), ext_x = S16(data + pos + 8);
            if (ext_x != 0 && ext_y != 0) {
                h.Right = h.Left + ext_x;
                h.Bottom = h.Top + ext_y;
                SetNaturalSize(h, std::abs(ext_x), std::abs(ext_y));
                return;
            }
        } else if (function == 0x020B && words >= 5) {  // SetWindowOrg: y, x
            h.Top = S16(data + pos + 6);
            h.Left = S16(data + pos + 8);
        }
        pos += size_t(words) * 2;
    }
    h.Right = h.Left + 256;
    h.Bottom = h.Top + 256;
    SetNaturalSize(h, 256, 256);
}

}  // namespace

const TGraphicClass& TMetafile::ClassInfo() {
    static const TGraphicClass info{"TMetafile", [] { return std::make_unique<TMetafile>(); },
                                    &TMetafile::ProbeStream, nullptr};
    return info;
}

void TMetafile::SetRenderer(TRenderer renderer) {
    RendererSlot() = std::move(renderer);
}

bool TMetafile::HasRenderer() {
    return bool(RendererSlot());
}

TMetafileHeader TMetafile::ReadHeader(const uint8_t* data, size_t size) {
    TMetafileHeader h;
    if (size >= 22 + 18 && GetU32LE(data) == kPlaceableKey) {
        // Placeable header: key, handle, left, top, right, bottom, units per inch, reserved,
        // checksum; then the ordinary header.
        h.Placeable = true;
        h.Left = S16(data + 6);
        h.Top = S16(data + 8);
        h.Right = S16(data + 10);
        h.Bottom = S16(data + 12);
        h.UnitsPerInch = GetU16LE(data + 14);
        h.RecordsOffset = 22;
        if (!IsWmfHeader(data + 22, size - 22)) Fail();
        h.RecordsOffset = 22 + 18;
        if (h.UnitsPerInch == 0 || h.Right == h.Left || h.Bottom == h.Top) Fail();
        SetNaturalSize(h, Pixels(double(h.Right) - h.Left, h.UnitsPerInch),
                       Pixels(double(h.Bottom) - h.Top, h.UnitsPerInch));
        return h;
    }
    if (IsWmfHeader(data, size)) {
        h.RecordsOffset = 18;
        PlainWmfSize(data, size, h);
        return h;
    }
    // EMF: the header record (type 1) with the signature at offset 40.
    if (size < 88 || GetU32LE(data) != 1 || GetU32LE(data + 40) != kEmfSignature) Fail();
    const uint32_t headerSize = GetU32LE(data + 4);
    if (headerSize < 88 || headerSize > size || headerSize % 4 != 0) Fail();
    h.Enhanced = true;
    h.Left = S32(data + 8);
    h.Top = S32(data + 12);
    h.Right = S32(data + 16);
    h.Bottom = S32(data + 20);
    h.FrameLeft = S32(data + 24);
    h.FrameTop = S32(data + 28);
    h.FrameRight = S32(data + 32);
    h.FrameBottom = S32(data + 36);
    h.DevicePixelsX = S32(data + 72);
    h.DevicePixelsY = S32(data + 76);
    h.DeviceMillimetersX = S32(data + 80);
    h.DeviceMillimetersY = S32(data + 84);
    h.RecordsOffset = headerSize;
    if (h.DevicePixelsX <= 0 || h.DevicePixelsY <= 0 || h.DeviceMillimetersX <= 0 ||
        h.DeviceMillimetersY <= 0)
        Fail();
    // The frame is inclusive, in 0.01 mm; a file without one falls back to its bounds, which
    // are in pixels of the reference device.
    const double frameW = double(h.FrameRight) - h.FrameLeft;
    const double frameH = double(h.FrameBottom) - h.FrameTop;
    if (frameW > 0 && frameH > 0) {
        SetNaturalSize(h, Pixels(frameW, 2540), Pixels(frameH, 2540));
    } else {
        const double w = double(h.Right) - h.Left + 1, ht = double(h.Bottom) - h.Top + 1;
        if (w <= 0 || ht <= 0) Fail();
        SetNaturalSize(h, w * 96.0 * h.DeviceMillimetersX / (25.4 * h.DevicePixelsX),
                       ht * 96.0 * h.DeviceMillimetersY / (25.4 * h.DevicePixelsY));
    }
    return h;
}

bool TMetafile::ProbeStream(TStream& stream) {
    const int64_t pos = stream.Position();
    uint8_t head[44] = {};
    const int64_t got = stream.Read(head, sizeof head);
    stream.SetPosition(pos);
    if (got >= 4 && GetU32LE(head) == kPlaceableKey) return true;
    if (got >= 18 && IsWmfHeader(head, size_t(got))) return true;
    return got == 44 && GetU32LE(head) == 1 && GetU32LE(head + 40) == kEmfSignature;
}

void TMetafile::LoadFromStream(TStream& stream) {
    if (stream.Remaining() > kMaxFileSize) Fail();
    std::vector<uint8_t> data = stream.ReadAvailable(stream.Remaining());
    const TMetafileHeader header = ReadHeader(data.data(), data.size());
    TBitmap picture;
    header_ = header;
    data_ = std::move(data);
    if (const TRenderer& render = RendererSlot(); render && drawn_) render(*this, picture);
    bitmap_.Assign(picture);
    Changed();
}

bool TMetafile::PrepareReducedLoad(const std::string&, const TReducedDecode& wish, int&, int&) {
    drawn_ = !wish.DrawsVectors;
    return false;
}

bool TMetafile::AssignTo(TGraphic& dest) const {
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (bitmap == nullptr) return false;
    bitmap->Assign(bitmap_);
    return true;
}
