#include "imaging/FormatGraphic.h"

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

TFormatGraphic::TLoadScope::TLoadScope(TFormatGraphic& graphic, TStream& stream)
    : graphic_(graphic) {
    graphic_.startPosition_ = stream.Position();
    graphic_.stream_ = &stream;
}

TFormatGraphic::TLoadScope::~TLoadScope() {
    graphic_.stream_ = nullptr;
}
