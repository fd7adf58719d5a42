// Photo-CD loader. The base image is 256 groups of two luminance rows (768 bytes each) and one
// row (384 bytes) of each chrominance plane, from sector 96 of an image file or sector 5 of an
// overview file. The loader gathers the three planes, enlarges the chrominance planes to full
// size and converts each row, writing it as a column when the picture is turned a quarter.
#include "imaging/formats/PCDGraphic.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

namespace {

constexpr const char* kShortName = "PCD";
constexpr int64_t kSectorSize = 2048;
constexpr int64_t kHeaderBytes = 3 * kSectorSize;
constexpr int64_t kRotationOffset = 3586;
constexpr int64_t kImageCountOffset = 10;
constexpr int64_t kOverviewDataSector = 5;
constexpr int64_t kImageDataSector = 96;
constexpr uint32_t kBaseWidth = 768;
constexpr uint32_t kBaseHeight = 512;
constexpr uint32_t kBaseResolution = 2;
constexpr uint32_t kMaxResolution = 5;

bool IsOverview(const uint8_t* head) {
    return std::memcmp(head, "PCD_OPA", 7) == 0;
}
bool IsImage(const uint8_t* head) {
    return std::memcmp(head + kSectorSize, "PCD", 3) == 0;
}

}  // namespace

bool TPCDGraphic::ProbeStream(TStream& stream) {
    const std::vector<uint8_t> head = stream.PeekBytes(kSectorSize + 3, kHeaderBytes + 1);
    return !head.empty() && (IsOverview(head.data()) || IsImage(head.data()));
}

bool TPCDGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    std::vector<uint8_t> head(kHeaderBytes);
    stream.ReadBuffer(head.data(), kHeaderBytes);
    const bool overview = IsOverview(head.data());
    if (!overview && !IsImage(head.data())) return false;

    TImageProperties& p = imageProperties_;
    const uint32_t resolution = overview ? 0 : std::min(imageIndex, kMaxResolution);
    p.PCDOverview = overview;
    p.PCDRotation = head[kRotationOffset] & 3;
    p.Width = 192u << resolution;
    p.Height = 128u << resolution;
    if (p.PCDRotation == 1 || p.PCDRotation == 3) std::swap(p.Width, p.Height);
    p.ColorScheme = schemePhotoYCC;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerPixel = 24;
    p.Compression = resolution > 2 ? compPCDHuffman : compNone;
    p.PCDImageCount = GetU16BE(head.data() + kImageCountOffset);
    return true;
}

void TPCDGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    // A file that is not a Photo-CD file holds no picture to show: that is reported, not
    // answered with an empty bitmap.
    if (!ReadProperties(stream, kBaseResolution))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, kShortName);
    TImageProperties& p = imageProperties_;

    stream.SetPosition(startPosition_);
    StartRowProgress(kBaseWidth, imsg::Preparing);
    TProgressGuard progress(*this);
    const uint8_t rotation = p.PCDRotation;
    const bool quarterTurn = rotation == 1 || rotation == 3;
    p.Width = kBaseWidth;
    p.Height = kBaseHeight;

    const int64_t dataStart =
        startPosition_ + (p.PCDOverview ? kOverviewDataSector : kImageDataSector) * kSectorSize;
    const size_t planeSize = size_t(kBaseWidth) * kBaseHeight;
    // Nothing is allocated for a file that cannot hold the base image.
    constexpr int64_t kDataBytes = int64_t(kBaseHeight) * (kBaseWidth + kBaseWidth / 2);
    if (stream.Size() - dataStart < kDataBytes) throw EReadError();
    stream.SetPosition(dataStart);

    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(TConversionOptions());
    cm.SetSourceScheme(schemePhotoYCC);
    cm.SetSourceSampleBits(8);
    cm.SetSourceSampleCount(3);
    cm.SetTargetScheme(schemeBGR);
    cm.SetTargetSampleBits(8);
    cm.SetTargetSampleCount(3);
    cm.SetupYCbCrTables({0.2125f, 0.7154f, 0.0721f}, 2, 2);
    SetPixelFormat(pf24bit);
    const int bitmapWidth = quarterTurn ? int(kBaseHeight) : int(kBaseWidth);
    const int bitmapHeight = quarterTurn ? int(kBaseWidth) : int(kBaseHeight);
    CheckSize(bitmapWidth, bitmapHeight);

    std::vector<uint8_t> luma(planeSize), chroma1(planeSize), chroma2(planeSize);
    ProgressInArea(psStarting, 0, false, imsg::LoadingData);
    for (uint32_t group = 0; group < kBaseHeight / 2; ++group) {
        const uint32_t row = 2 * group;
        ProgressInArea(psRunning, uint8_t(row * 100 / kBaseHeight), false, {});
        stream.ReadBuffer(luma.data() + size_t(row) * kBaseWidth, 2 * kBaseWidth);
        stream.ReadBuffer(chroma1.data() + size_t(group) * kBaseWidth, kBaseWidth / 2);
        stream.ReadBuffer(chroma2.data() + size_t(group) * kBaseWidth, kBaseWidth / 2);
    }

    ProgressInArea(psStarting, 0, false, imsg::Upsampling);
    ProgressInArea(psRunning, 80, false, {});
    DoublePlane(kBaseWidth / 2, kBaseHeight / 2, kBaseWidth, chroma1.data(), planeSize);
    ProgressInArea(psRunning, 100, false, {});
    DoublePlane(kBaseWidth / 2, kBaseHeight / 2, kBaseWidth, chroma2.data(), planeSize);

    SetSize(bitmapWidth, bitmapHeight);
    StartRowProgress(kBaseWidth, imsg::Transfering);
    std::vector<uint8_t> converted(quarterTurn ? size_t(kBaseWidth) * 3 : 0);
    for (uint32_t y = 0; y < kBaseHeight; ++y) {
        const size_t offset = size_t(y) * kBaseWidth;
        const auto source = {static_cast<const void*>(luma.data() + offset),
                             static_cast<const void*>(chroma1.data() + offset),
                             static_cast<const void*>(chroma2.data() + offset)};
        if (!quarterTurn) {
            cm.ConvertScanline(source, ScanLine(int(y)), kBaseWidth);
        } else {
            cm.ConvertScanline(source, converted.data(), kBaseWidth);
            // A quarter turn to the left (code 1) puts pixel x of row y at column y of row
            // 767 - x; to the right (code 3) at column 511 - y of row x.
            const size_t column = rotation == 1 ? y : kBaseHeight - 1 - y;
            for (uint32_t x = 0; x < kBaseWidth; ++x) {
                const int target = rotation == 1 ? int(kBaseWidth - 1 - x) : int(x);
                std::memcpy(ScanLine(target) + 3 * column, converted.data() + 3 * size_t(x), 3);
            }
        }
        RowProgress(y, kBaseHeight);
    }
    progress.End();
    Changed();
}
