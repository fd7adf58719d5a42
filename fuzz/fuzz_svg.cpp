// Loads arbitrary bytes as an SVG document (plain or gzip-compressed) and draws it through
// Qt Svg. The probe keeps the position; only imaging errors escape; a document that loads has
// drawn a consistent bitmap of its own size, and drawing a part of it at another scale works.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_painter.h"
#include "imaging/Exceptions.h"
#include "imaging/formats/SVGGraphic.h"
#include "render/SvgRenderer.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::StartPainting(argc, argv);
    InstallSvgRenderer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LimitPixels(size);
    TMemoryStream in(data, static_cast<int64_t>(size));
    TSVGGraphic::ProbeStream(in);
    if (in.Position() != 0) std::abort();
    TSVGGraphic svg;
    try {
        svg.LoadFromStream(in);
        const TBitmap& bitmap = svg.Bitmap();
        if (bitmap.Width() != svg.Width() || bitmap.Height() != svg.Height()) std::abort();
        fuzz::TouchRows(bitmap);
        // A part of the picture at three times its size, as the zoomed view draws it.
        TSvgDocument document(svg);
        document.Render(QSizeF(svg.Width() * 3.0, svg.Height() * 3.0), QRect(5, 7, 40, 30));
    } catch (const EImagingError&) {
        return 0;
    }
    return 0;
}
