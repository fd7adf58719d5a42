#include "imaging/Graphic.h"

#include <algorithm>
#include <cmath>

#include "imaging/Exceptions.h"

void TGraphic::SetTransparent(bool value) {
    if (value == transparent_) return;
    transparent_ = value;
    Changed();
}

void TGraphic::SaveToStream(TStream&) {
    throw EInvalidGraphic(std::string("Saving is not supported for ") + ClassType().ClassName +
                          ".");
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    // Written to memory first: a graphic that refuses to save, or fails part-way, leaves an
    // existing file as it was and creates none.
    TMemoryStream memory;
    SaveToStream(memory);
    TFileStream stream(fileName, TFileStream::fmCreate);
    stream.WriteBuffer(memory.Memory(), memory.Size());
}

void TGraphic::Assign(const TGraphic& source) {
    throw EInvalidGraphic(std::string("Cannot assign a ") + source.ClassType().ClassName +
                          " to a " + ClassType().ClassName + ".");
}

void TGraphic::Changed() {
    if (OnChange) OnChange(this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                        const std::string& msg) {
    if (stage != psEnding && Cancelled()) throw EAbort();
    if (OnProgress) OnProgress(this, stage, percent, redrawNow, rect, msg);
}

int ReducedDecodePower(double scale, int most) {
    return std::clamp(int(std::floor(std::log2(1.0 / scale))), 1, std::max(1, most));
}
