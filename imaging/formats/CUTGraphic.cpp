// Dr. Halo CUT loader. The whole encoded part of the file is read at once and decoded row by
// row into the bitmap; the palette comes from the palette file beside the image.
#include "imaging/formats/CUTGraphic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"
#include "imaging/decoders/Decoder.h"

namespace {

constexpr const char* kShortName = "CUT";
constexpr int64_t kHeaderSize = 6;
// Palette files are read in blocks of 512 bytes; an entry (three 16-bit values) never
// crosses a block end.
constexpr size_t kPaletteBlock = 512;
constexpr size_t kPaletteHeader = 40;
constexpr size_t kPaletteEntry = 6;

}  // namespace

bool TCUTGraphic::ProbeStream(TStream&) {
    return false;
}

bool TCUTGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    if (stream.Remaining() < 4) return false;
    uint8_t header[4];
    stream.ReadBuffer(header, 4);
    TImageProperties& p = imageProperties_;
    p.Width = GetU16LE(header);
    p.Height = GetU16LE(header + 2);
    p.ColorScheme = schemeIndexed;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = compRLE;
    // A picture without pixels is no picture.
    return p.Width != 0 && p.Height != 0;
}

std::string TCUTGraphic::PaletteFileFor(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExtension ? fileName.substr(0, dot) : fileName;
    std::error_code error;
    for (const char* extension : {".pal", ".PAL"}) {
        const std::string candidate = base + extension;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

void TCUTGraphic::LoadFromFile(const std::string& fileName) {
    paletteFile_ = PaletteFileFor(fileName);
    // The name belongs to this load only: a later load from a stream gets no palette file.
    struct TForget {
        std::string& name;
        ~TForget() { name.clear(); }
    } forget{paletteFile_};
    TFormatGraphic::LoadFromFile(fileName);
}

TPaletteEntries TCUTGraphic::ReadPaletteFile(const std::string& fileName) const {
    TFileStream file(fileName);
    uint8_t block[kPaletteBlock];
    // The first block holds the header and must be complete.
    file.ReadBuffer(block, kPaletteBlock);
    // The header gives the highest index; a bitmap palette holds at most 256 entries.
    const size_t count = std::min<size_t>(size_t(GetU16LE(block + 12)) + 1, 256);
    TPaletteEntries palette(count);
    size_t offset = kPaletteHeader;
    for (size_t i = 0; i < count; ++i) {
        if (offset > kPaletteBlock - kPaletteEntry) {
            // Later blocks may be short at the end of the file: what is missing reads as 0.
            std::memset(block, 0, sizeof block);
            file.Read(block, int64_t(kPaletteBlock));
            offset = 0;
        }
        // Red, green and blue are 16-bit values of which the low byte is used.
        palette[i].rgbRed = block[offset];
        palette[i].rgbGreen = block[offset + 2];
        palette[i].rgbBlue = block[offset + 4];
        offset += kPaletteEntry;
    }
    return palette;
}

void TCUTGraphic::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this, stream, kShortName);
    const uint32_t width = imageProperties_.Width;
    const uint32_t height = imageProperties_.Height;

    stream.SetPosition(startPosition_ + kHeaderSize);
    StartRowProgress(width, imsg::Transfering);
    TProgressGuard progress(*this);

    SetPixelFormat(pf8bit);
    CheckSize(width, height);
    if (!paletteFile_.empty()) {
        SetPalette(ReadPaletteFile(paletteFile_));
    } else {
        TPaletteEntries gray(256);
        for (size_t i = 0; i < gray.size(); ++i)
            gray[i] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        SetPalette(std::move(gray));
    }
    SetSize(int(width), int(height));
    if (int64_t(width) > RowStride()) RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);

    std::vector<uint8_t> data = stream.ReadAvailable(stream.Remaining());
    uint8_t* source = data.data();
    uint8_t* const end = data.data() + data.size();
    TCUTRLEDecoder decoder;
    for (uint32_t y = 0; y < height; ++y) {
        // Rows that the data does not reach stay at index 0.
        if (source < end) {
            uint8_t* dest = ScanLine(int(y));
            const int32_t packed = int32_t(std::min<int64_t>(end - source, INT32_MAX));
            decoder.DecodeBlock(source, dest, packed, int32_t(width));
        }
        RowProgress(y, height);
    }
    progress.End();
    Changed();
}
