// Loads arbitrary bytes through every graphic class of the format registry: the first byte
// picks the class (in registration order), the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/Registration.h"

namespace {
std::vector<const TGraphicClass*> gClasses;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitPixels();
    RegisterImageFormats();
    // Take the registry down before static objects are destroyed.
    std::atexit(UnregisterImageFormats);
    for (const TPictureFileFormat& f : TPicture::FileFormats()) {
        bool seen = false;
        for (const TGraphicClass* c : gClasses)
            seen = seen || c == f.GraphicClass;
        if (!seen && f.GraphicClass != nullptr) gClasses.push_back(f.GraphicClass);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    if (size < 1 || gClasses.empty()) return 0;
    const TGraphicClass& cls = *gClasses[data[0] % gClasses.size()];
    std::unique_ptr<TGraphic> graphic = cls.Create();
    try {
        TMemoryStream in(data + 1, static_cast<int64_t>(size - 1));
        if (cls.ProbeStream) {
            cls.ProbeStream(in);
            in.SetPosition(0);
        }
        graphic->LoadFromStream(in);
    } catch (const EImagingError&) {
        return 0;
    }
    if (auto* bmp = dynamic_cast<TBitmap*>(graphic.get())) fuzz::TouchRows(*bmp);
    return 0;
}
