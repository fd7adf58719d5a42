#include "imaging/FormatGraphic.h"

#include <algorithm>
#include <climits>

#include "imaging/ColorManager.h"
#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

const TGraphicClass& TFormatGraphic::ClassInfo() {
    static const TGraphicClass info{"TFormatGraphic",
                                    [] { return std::make_unique<TFormatGraphic>(); },
                                    &TFormatGraphic::ProbeStream, &TBitmap::ClassInfo()};
    return info;
}

TFormatGraphic::TFormatGraphic() : colorManager_(std::make_unique<TColorManager>()) {}

TFormatGraphic::~TFormatGraphic() = default;

void TFormatGraphic::Assign(const TGraphic& source) {
    if (&source == this) return;
    if (const auto* other = dynamic_cast<const TFormatGraphic*>(&source))
        imageProperties_ = other->imageProperties_;
    TBitmap::Assign(source);
}

void TFormatGraphic::SaveToStream(TStream&) {
    RaiseInvalidGraphicFmt(imsg::SaveNotSupported, FormatName().c_str());
}

std::string TFormatGraphic::FormatName() const {
    std::string name = ClassType().ClassName;
    if (name.starts_with('T')) name.erase(0, 1);
    if (name.ends_with("Graphic") && name.size() > 7) name.resize(name.size() - 7);
    return name;
}

bool TFormatGraphic::ProbeFile(const std::string& fileName, const TGraphicClass& graphicClass) {
    TFileStream stream(fileName);  // closed by its destructor, also when the probe throws
    return graphicClass.ProbeStream ? graphicClass.ProbeStream(stream) : false;
}

bool TFormatGraphic::ProbeStream(TStream&) {
    return false;
}

bool TFormatGraphic::ReadProperties(TStream&, uint32_t) {
    imageProperties_ = TImageProperties{};
    return false;
}

void TFormatGraphic::UseInkProfile() {
    ColorManager().SetInkProfile(ColorManagementEnabled() && !IccProfile().empty()
                                     ? CmykConverterFromProfile(IccProfile())
                                     : TCmykConverter{});
}

void TFormatGraphic::PrepareEightBitColorRows(bool alpha, bool blueFirst, uint32_t width,
                                              uint32_t height, const char* formatName) {
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(TConversionOptions());
    cm.SetTargetFlags(TConversionOptions());
    cm.SetSourceScheme(alpha ? (blueFirst ? schemeBGRA : schemeRGBA)
                             : (blueFirst ? schemeBGR : schemeRGB));
    cm.SetTargetScheme(alpha ? schemeBGRA : schemeBGR);
    cm.SetSourceSampleBits(8);
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(alpha ? 4 : 3);
    cm.SetTargetSampleCount(alpha ? 4 : 3);
    SetPixelFormat(alpha ? pf32bit : pf24bit);
    CheckSize(width, height);
    if (width > uint32_t(INT32_MAX) || height > uint32_t(INT32_MAX))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, formatName);
    SetSize(int(width), int(height));
    if (cm.TargetRowBytes(width) > uint64_t(RowStride()))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, formatName);
}

void TFormatGraphic::StartRowProgress(uint32_t width, const std::string& msg) {
    progressArea_ = TRect{0, 0, int32_t(std::min<uint32_t>(width, INT32_MAX)), 1};
    ProgressInArea(psStarting, 0, false, msg);
}

void TFormatGraphic::RowProgress(uint32_t row, uint32_t height) {
    const uint64_t percent = height == 0 ? 100 : uint64_t(row) * 100 / height;
    ProgressInArea(psRunning, uint8_t(std::min<uint64_t>(percent, 100)), true, {});
    progressArea_.Top += 1;
    progressArea_.Bottom += 1;
}

TFormatGraphic::TLoadScope::TLoadScope(TFormatGraphic& graphic, TStream& stream)
    : graphic_(graphic) {
    graphic_.startPosition_ = stream.Position();
    graphic_.stream_ = &stream;
    // A profile or a warning of an earlier load does not belong to this one.
    graphic_.SetIccProfile({});
    graphic_.SetLoadWarning({});
}

// Delegating keeps the destructor's unbinding also when reading the properties fails.
TFormatGraphic::TLoadScope::TLoadScope(TFormatGraphic& graphic, TStream& stream,
                                       const char* formatName, uint32_t imageIndex)
    : TLoadScope(Cleared(graphic), stream) {
    if (!graphic_.ReadProperties(stream, imageIndex))
        RaiseInvalidGraphicFmt(imsg::InvalidImage, formatName);
}

TFormatGraphic& TFormatGraphic::TLoadScope::Cleared(TFormatGraphic& graphic) {
    graphic.Clear();
    return graphic;
}

TFormatGraphic::TLoadScope::~TLoadScope() {
    graphic_.stream_ = nullptr;
}
