// The load that the loaders backed by a decoding library share.
#include "imaging/formats/LibraryGraphic.h"

#include "imaging/Exceptions.h"
#include "imaging/Stream.h"

bool TLibraryGraphic::ReadProperties(TStream& stream, uint32_t imageIndex) {
    TFormatGraphic::ReadProperties(stream, imageIndex);
    data_.clear();
    const TGraphicClass& type = ClassType();
    if (!type.ProbeStream || !type.ProbeStream(stream)) return false;
    std::vector<uint8_t> data = stream.ReadBytes(stream.Remaining());
    if (!ReadFileProperties(data)) return false;
    // A load decodes the bytes next; a look at the header alone does not keep them.
    if (stream_ == &stream) data_ = std::move(data);
    return true;
}

void TLibraryGraphic::LoadFromStream(TStream& stream) {
    Clear();
    TLoadScope scope(*this, stream);
    TReleaseBytes release(data_);
    if (!ReadProperties(stream, 0)) Fail(imsg::InvalidImage);
    StartRowProgress(imageProperties_.Width, imsg::Preparing);
    TProgressGuard guard(*this);
    Decode();
    Changed();
}

void TLibraryGraphic::CheckCancelled() const {
    if (Cancelled()) throw EAbort();
}

void TLibraryGraphic::Fail(const char* text) const {
    RaiseInvalidGraphicFmt(text, formatName_);
}
