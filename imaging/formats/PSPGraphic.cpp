// Paint Shop Pro loader. Every block, chunk and channel is read inside the bounds of the block
// that holds it: a length that points past its block makes the file invalid, and every block
// the loader does not use is skipped by its length. Channel planes are sized by the image, not
// by the lengths the file gives, so a channel can never write past its plane.
#include "imaging/formats/PSPGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <span>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr int kSignatureLength = 25;
constexpr int kFileHeaderSize = 36;
constexpr int kAttributesSize = 42;

// Block ids (the general attributes block, id 0, is the first of the file).
constexpr uint16_t kPaletteBlock = 2;
constexpr uint16_t kLayerBankBlock = 3;
constexpr uint16_t kLayerBlock = 4;
constexpr uint16_t kChannelBlock = 5;

// Compression methods of the attributes block.
constexpr uint16_t kNoCompression = 0;
constexpr uint16_t kRunLength = 1;
constexpr uint16_t kDeflate = 2;
constexpr uint16_t kJPEG = 3;

constexpr const char* kShortName = "PSP";

[[noreturn]] void Invalid() {
    RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
}

// Fails unless count more bytes from the position stay inside the block ending at end.
void Need(TStream& stream, int64_t count, int64_t end) {
    if (stream.Position() + count > end) Invalid();
}

// Leaves the stream at the fieldBytes bytes of fields that open the block from start to end and
// returns where the block's data starts. Files of version 4 and later (chunked) put a chunk
// length before the fields, counting itself and them, and the data after the chunk; older files
// put the data right after the fields.
int64_t ChunkFields(TStream& stream, int64_t start, int64_t end, int64_t fieldBytes, bool chunked) {
    stream.SetPosition(start);
    if (!chunked) {
        Need(stream, fieldBytes, end);
        return start + fieldBytes;
    }
    Need(stream, fieldBytes + 4, end);
    const uint32_t chunkLength = stream.ReadU32LE();
    if (chunkLength < fieldBytes + 4 || start + int64_t(chunkLength) > end) Invalid();
    return start + chunkLength;
}

bool SignatureMatches(const uint8_t* head) {
    for (int i = 0; i < kSignatureLength; ++i)
        if (std::tolower(head[i]) != std::tolower(uint8_t(kSignature[i]))) return false;
    return true;
}

double GetDoubleLE(const uint8_t* p) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | p[i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

bool TPSPGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(kFileHeaderSize, kFileHeaderSize + 1);
    return !head.empty() && SignatureMatches(head.data()) && GetU16LE(head.data() + 32) >= 3;
}

bool TPSPGraphic::ReadBlockHeader(TStream& stream, int64_t limit, TBlock& block) const {
    // Identifier, id, (version 3: initial data length), total length.
    const int size = major_ == 3 ? 14 : 10;
    if (stream.Position() + size > limit) return false;
    uint8_t header[14];
    stream.ReadBuffer(header, size);
    if (header[0] != '~') return false;
    block.Id = GetU16LE(header + 4);
    block.Start = stream.Position();
    block.End = block.Start + int64_t(GetU32LE(header + size - 4));
    return true;
}

bool TPSPGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    uint8_t head[kFileHeaderSize];
    if (stream.Read(head, kFileHeaderSize) != kFileHeaderSize || !SignatureMatches(head))
        return false;
    major_ = GetU16LE(head + 32);
    if (major_ < 3) return false;
    TBlock block;
    if (!ReadBlockHeader(stream, stream.Size(), block)) return false;
    if (major_ >= 4) stream.ReadU32LE();  // chunk length
    uint8_t a[kAttributesSize];
    stream.ReadBuffer(a, kAttributesSize);
    stream.SetPosition(block.End);
    firstBlockEnd_ = block.End;

    width_ = GetU32LE(a);
    height_ = GetU32LE(a + 4);
    compression_ = GetU16LE(a + 17);
    bitDepth_ = GetU16LE(a + 19);
    greyscale_ = a[27] != 0;

    TImageProperties& p = imageProperties_;
    p.Version = major_;
    if (bitDepth_ == 24) {
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.ColorScheme = schemeRGB;
    } else {
        p.BitsPerSample = uint8_t(bitDepth_);
        p.SamplesPerPixel = 1;
        p.ColorScheme = greyscale_ ? schemeGray : schemeIndexed;
    }
    p.BitsPerPixel = uint8_t(p.BitsPerSample * p.SamplesPerPixel);
    p.Width = width_;
    p.Height = height_;
    switch (compression_) {
        case kNoCompression:
            p.Compression = compNone;
            break;
        case kRunLength:
            p.Compression = compRLE;
            break;
        case kDeflate:
            p.Compression = compLZ77;
            break;
        case kJPEG:
            p.Compression = compJPEG;
            break;
        default:
            p.Compression = compUnknown;
            break;
    }
    const double resolution = GetDoubleLE(a + 8);
    p.XResolution = float(a[16] == 2 ? resolution * 2.54 : resolution);
    p.YResolution = p.XResolution;
    // A picture without pixels is no picture; the bitmap's sides are ints.
    return width_ != 0 && height_ != 0 && width_ <= uint32_t(INT32_MAX) &&
           height_ <= uint32_t(INT32_MAX);
}

void TPSPGraphic::ReadPalette(TStream& stream, const TBlock& block) {
    // The entry count; the entries follow.
    const int64_t data = ChunkFields(stream, block.Start, block.End, 4, major_ >= 4);
    const uint32_t entries = stream.ReadU32LE();
    // At most 256 colours, and only those that the block holds.
    const int64_t held = std::max<int64_t>(block.End - data, 0) / 4;
    const int count = int(std::min<int64_t>({int64_t(entries), 256, held}));
    if (count == 0 || colour_) return;
    stream.SetPosition(data);
    const std::vector<uint8_t> map = stream.ReadBytes(int64_t(count) * 4);
    SetPalette(ColorManager().PaletteFromColorMap(map, cmf8BitQuadruplets, true, count));
}

void TPSPGraphic::DecodeChannel(const std::vector<uint8_t>& packed, std::vector<uint8_t>& plane,
                                uint32_t unpacked) {
    uint8_t* source = const_cast<uint8_t*>(packed.data());
    uint8_t* dest = plane.data();
    if (compression_ == kRunLength) {
        TPSPRLEDecoder decoder;
        decoder.DecodeBlock(source, dest, int32_t(packed.size()), int32_t(unpacked));
        return;
    }
    TLZ77Decoder decoder(Z_FINISH, false);
    decoder.BeginDecoding();
    decoder.DecodeBlock(source, dest, int32_t(packed.size()), int32_t(unpacked));
    const int result = decoder.ZLibResult();
    decoder.EndDecoding();
    // A stream cut short leaves the rest of the plane empty; damaged data is an error.
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
        RaiseInvalidGraphicFmt(imsg::CompressionError, kShortName);
}

void TPSPGraphic::ReadChannel(TStream& stream, const TBlock& block) {
    // The packed and unpacked lengths, the bitmap and channel kinds; the data follows.
    const int64_t data = ChunkFields(stream, block.Start, block.End, 12, major_ >= 4);
    uint8_t fields[12];
    stream.ReadBuffer(fields, 12);
    const uint32_t compressedLength = GetU32LE(fields);
    const uint32_t uncompressedLength = GetU32LE(fields + 4);
    const uint16_t channelType = GetU16LE(fields + 10);  // fields + 8: the bitmap type
    // Channels of other types, and planes this image does not show, are skipped.
    if (channelType > kBlue || planes_[channelType].empty()) return;
    if (data + int64_t(compressedLength) > block.End) Invalid();
    std::vector<uint8_t>& plane = planes_[channelType];
    const uint32_t unpacked = uint32_t(std::min<uint64_t>(uncompressedLength, plane.size()));
    stream.SetPosition(data);
    if (compression_ == kNoCompression) {
        stream.ReadBuffer(plane.data(), std::min(compressedLength, unpacked));
        return;
    }
    if (compressedLength > uint32_t(INT32_MAX)) Invalid();
    DecodeChannel(stream.ReadBytes(compressedLength), plane, unpacked);
}

void TPSPGraphic::TransferRows(bool withAlpha) {
    TColorManager& cm = ColorManager();
    StartRowProgress(width_, imsg::Transfering);
    if (cm.TargetRowBytes(width_) > uint64_t(RowStride())) Invalid();
    for (uint32_t y = 0; y < height_; ++y) {
        const size_t offset = size_t(y) * size_t(rowSize_);
        if (colour_) {
            const void* source[4] = {planes_[kRed].data() + offset, planes_[kGreen].data() + offset,
                                     planes_[kBlue].data() + offset, nullptr};
            if (withAlpha) source[3] = planes_[kComposite].data() + offset;
            cm.ConvertScanline(std::span<const void* const>(source, withAlpha ? 4 : 3),
                               ScanLine(int(y)), width_);
        } else {
            cm.ConvertScanline(planes_[kComposite].data() + offset, ScanLine(int(y)), width_);
        }
        RowProgress(y, height_);
    }
}

bool TPSPGraphic::ReadLayerBank(TStream& stream, const TBlock& bank) {
    stream.SetPosition(bank.Start);
    TBlock layer;
    while (stream.Position() < bank.End && ReadBlockHeader(stream, bank.End, layer)) {
        // Anything but a layer ends the bank.
        if (layer.Id != kLayerBlock) return false;
        if (layer.End > bank.End) Invalid();
        StartRowProgress(width_, imsg::LoadingData);
        uint8_t type;
        if (major_ == 3) {
            // A 256-byte name, then the layer attributes (the type first).
            Need(stream, 256 + 115, layer.End);
            stream.Seek(256, TSeekOrigin::soCurrent);
            type = stream.ReadU8();
            stream.Seek(114, TSeekOrigin::soCurrent);
        } else {
            // The layer chunk: its length, the name with its length, the attributes.
            const int64_t chunk = stream.Position();
            Need(stream, 6, layer.End);
            const uint32_t chunkLength = stream.ReadU32LE();
            const uint16_t nameLength = stream.ReadU16LE();
            Need(stream, int64_t(nameLength) + 115, layer.End);
            stream.Seek(nameLength, TSeekOrigin::soCurrent);
            type = stream.ReadU8();
            if (int64_t(chunkLength) < 6 + int64_t(nameLength) + 115 ||
                chunk + int64_t(chunkLength) > layer.End)
                Invalid();
            stream.SetPosition(chunk + chunkLength);
        }
        // The first raster layer is shown; other layers (vector, adjustment...) are skipped.
        if (major_ == 3 ? type != 0 : type > 1) {
            EndProgress();
            stream.SetPosition(layer.End);
            continue;
        }
        uint16_t channels;
        if (major_ == 3) {
            Need(stream, 4, layer.End);
            stream.ReadU16LE();  // bitmap count
            channels = stream.ReadU16LE();
        } else {
            const int64_t chunk = stream.Position();
            Need(stream, 8, layer.End);
            const uint32_t chunkLength = stream.ReadU32LE();
            stream.ReadU16LE();  // bitmap count
            channels = stream.ReadU16LE();
            if (chunkLength < 8 || chunk + int64_t(chunkLength) > layer.End) Invalid();
            stream.SetPosition(chunk + chunkLength);
        }

        // A colour layer with a fourth channel (transparency) becomes a 32-bit bitmap whose
        // alpha is that channel.
        const bool withAlpha = colour_ && channels > 3;
        TColorManager& cm = ColorManager();
        if (withAlpha) {
            cm.SetSourceScheme(schemeRGBA);
            cm.SetTargetScheme(schemeBGRA);
            cm.SetSourceSampleCount(4);
            cm.SetTargetSampleCount(4);
            SetPixelFormat(cm.BitmapPixelFormat(1));
            imageProperties_.HasAlpha = true;
        }
        // Planes are sized by the image and start empty (the alpha plane opaque), so that
        // missing or short channels show as black.
        const size_t planeSize = size_t(rowSize_) * height_;
        if (colour_) {
            for (int c : {kRed, kGreen, kBlue})
                planes_[c].assign(planeSize, 0);
            if (withAlpha) planes_[kComposite].assign(planeSize, 255);
        } else {
            planes_[kComposite].assign(planeSize, 0);
        }

        int read = 0;
        TBlock channel;
        while (read < channels && stream.Position() < layer.End &&
               ReadBlockHeader(stream, layer.End, channel)) {
            if (channel.End > layer.End) Invalid();
            if (channel.Id == kChannelBlock) {
                ReadChannel(stream, channel);
                ++read;
            }
            stream.SetPosition(channel.End);
        }
        EndProgress();
        TransferRows(withAlpha);
        return true;
    }
    return false;
}

void TPSPGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    // The planes are released when the load ends, also when it fails.
    struct TReleasePlanes {
        std::vector<uint8_t> (&planes)[4];
        ~TReleasePlanes() {
            for (auto& plane : planes)
                plane = std::vector<uint8_t>();
        }
    } release{planes_};
    colour_ = false;
    if (!ReadProperties(stream, 0)) Invalid();
    stream.SetPosition(firstBlockEnd_);
    StartRowProgress(width_, imsg::Preparing);
    TProgressGuard progress(*this);

    if (bitDepth_ != 1 && bitDepth_ != 4 && bitDepth_ != 8 && bitDepth_ != 24)
        RaiseInvalidGraphicFmt(imsg::InvalidColorFormat, kShortName);
    if (compression_ != kNoCompression && compression_ != kRunLength && compression_ != kDeflate)
        RaiseInvalidGraphicFmt(imsg::UnsupportedFeature, imsg::CompressionScheme, kShortName);
    CheckSize(width_, height_);

    const TImageProperties& p = imageProperties_;
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(cm.TargetFlags() - TConversionOptions(convApplyGamma));
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample);
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceScheme(p.ColorScheme);
    cm.SetTargetScheme(p.ColorScheme == schemeRGB ? schemeBGR : p.ColorScheme);
    SetPixelFormat(cm.BitmapPixelFormat(1));
    colour_ = bitDepth_ == 24;
    switch (bitDepth_) {
        case 1:
            rowSize_ = (uint64_t(width_) + 7) / 8;
            break;
        case 4:
            rowSize_ = uint64_t(width_) / 2 + 1;
            break;
        default:
            rowSize_ = width_;
            break;
    }
    // Until a palette block says otherwise, indexed and grey images show a grey ramp.
    if (!colour_) SetPalette(cm.GrayRampPalette(false));
    SetSize(int(width_), int(height_));
    EndProgress();

    const int64_t end = stream.Size();
    bool shown = false;
    TBlock block;
    while (stream.Position() < end && ReadBlockHeader(stream, end, block)) {
        if (block.Id == kPaletteBlock)
            ReadPalette(stream, block);
        else if (block.Id == kLayerBankBlock && !shown)
            shown = ReadLayerBank(stream, block);
        stream.SetPosition(block.End);
    }
    // A file without a raster layer holds no picture.
    if (!shown) Invalid();
    progress.End();
    Changed();
}
