// EPS loader: the binary header of an Encapsulated PostScript file points at a TIFF preview,
// which the TIFF loader reads.
#include "imaging/formats/EPSGraphic.h"

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {
constexpr uint32_t kEPSMagic = 0xC6D3D0C5;
constexpr int64_t kEPSHeaderSize = 30;
constexpr const char* kEPS = "EPS";
}  // namespace

bool TEPSGraphic::ProbeStream(TStream& stream) {
    // The preview's offset counts from the start of the header; it may follow the header right
    // away.
    const int64_t size = stream.Remaining();
    const std::vector<uint8_t> head = stream.PeekBytes(kEPSHeaderSize, kEPSHeaderSize + 1);
    if (head.empty()) return false;
    const int64_t offset = GetU32LE(head.data() + 20);
    return GetU32LE(head.data()) == kEPSMagic && offset >= kEPSHeaderSize && offset < size &&
           GetU32LE(head.data() + 24) > 0;
}

bool TEPSGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    const int64_t start = stream.Position();
    uint8_t head[kEPSHeaderSize];
    if (stream.Read(head, kEPSHeaderSize) != kEPSHeaderSize || GetU32LE(head) != kEPSMagic ||
        int64_t(GetU32LE(head + 20)) > stream.Size() - start) {
        TFormatGraphic::ReadProperties(stream, imageIndex);
        return false;
    }
    // The preview's offsets count from its own start.
    stream.SetPosition(start + int64_t(GetU32LE(head + 20)));
    return TTIFFGraphic::ReadProperties(stream, imageIndex);
}

void TEPSGraphic::LoadFromStream(TStream& stream) {
    // A file with the binary header is loaded as its preview; a preview that is no TIFF image
    // gets the TIFF loader's message.
    const int64_t start = stream.Position();
    uint8_t head[kEPSHeaderSize];
    if (stream.Read(head, kEPSHeaderSize) != kEPSHeaderSize || GetU32LE(head) != kEPSMagic) {
        Clear();
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kEPS);
    }
    stream.SetPosition(start);
    TTIFFGraphic::LoadFromStream(stream);
}
