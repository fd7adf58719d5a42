#include "imaging/formats/Metafile.h"

#include "imaging/Exceptions.h"

const TGraphicClass& TMetafile::ClassInfo() {
    static const TGraphicClass info{"TMetafile", [] { return std::make_unique<TMetafile>(); },
                                    nullptr, nullptr};
    return info;
}

void TMetafile::LoadFromStream(TStream&) {
    throw EInvalidGraphic("Windows metafiles are not supported yet.");
}
