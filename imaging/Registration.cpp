#include "imaging/Registration.h"

#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/formats/AVIFGraphic.h"
#include "imaging/formats/AutodeskGraphic.h"
#include "imaging/formats/CUTGraphic.h"
#include "imaging/formats/EPSGraphic.h"
#include "imaging/formats/GIFGraphic.h"
#include "imaging/formats/HEIFGraphic.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/JPEG2000Graphic.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/JPEGXLGraphic.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/PCDGraphic.h"
#include "imaging/formats/PCXGraphic.h"
#include "imaging/formats/PNGGraphic.h"
#include "imaging/formats/PPMGraphic.h"
#include "imaging/formats/PSDGraphic.h"
#include "imaging/formats/PSPGraphic.h"
#include "imaging/formats/QOIGraphic.h"
#include "imaging/formats/RLAGraphic.h"
#include "imaging/formats/SGIGraphic.h"
#include "imaging/formats/SVGGraphic.h"
#include "imaging/formats/TIFFGraphic.h"
#include "imaging/formats/TargaGraphic.h"
#include "imaging/formats/WebPGraphic.h"
#include "imaging/formats/WindowsBitmap.h"

namespace {

std::unique_ptr<TFileFormatList> gRegistry;

// The graphic class behind each format.
const TGraphicClass* BitmapClass() {
    return &TBitmap::ClassInfo();
}
const TGraphicClass* IconClass() {
    return &TIcon::ClassInfo();
}
const TGraphicClass* MetafileClass() {
    return &TMetafile::ClassInfo();
}
const TGraphicClass* SVGClass() {
    return &TSVGGraphic::ClassInfo();
}
const TGraphicClass* JPEGClass() {
    return &TJPEGImage::ClassInfo();
}
const TGraphicClass* TargaClass() {
    return &TTargaGraphic::ClassInfo();
}
const TGraphicClass* TIFFClass() {
    return &TTIFFGraphic::ClassInfo();
}
const TGraphicClass* EPSClass() {
    return &TEPSGraphic::ClassInfo();
}
const TGraphicClass* PCXClass() {
    return &TPCXGraphic::ClassInfo();
}
const TGraphicClass* RLAClass() {
    return &TRLAGraphic::ClassInfo();
}
const TGraphicClass* SGIClass() {
    return &TSGIGraphic::ClassInfo();
}
const TGraphicClass* PSDClass() {
    return &TPSDGraphic::ClassInfo();
}
const TGraphicClass* PPMClass() {
    return &TPPMGraphic::ClassInfo();
}
const TGraphicClass* AutodeskClass() {
    return &TAutodeskGraphic::ClassInfo();
}
const TGraphicClass* PCDClass() {
    return &TPCDGraphic::ClassInfo();
}
const TGraphicClass* CUTClass() {
    return &TCUTGraphic::ClassInfo();
}
const TGraphicClass* PSPClass() {
    return &TPSPGraphic::ClassInfo();
}
const TGraphicClass* PNGClass() {
    return &TPNGGraphic::ClassInfo();
}
const TGraphicClass* GIFClass() {
    return &TGIFGraphic::ClassInfo();
}
const TGraphicClass* WebPClass() {
    return &TWebPGraphic::ClassInfo();
}
const TGraphicClass* QOIClass() {
    return &TQOIGraphic::ClassInfo();
}
const TGraphicClass* JPEG2000Class() {
    return &TJPEG2000Graphic::ClassInfo();
}
const TGraphicClass* JPEGXLClass() {
    return &TJPEGXLGraphic::ClassInfo();
}
const TGraphicClass* HEIFClass() {
    return &THEIFGraphic::ClassInfo();
}
const TGraphicClass* AVIFClass() {
    return &TAVIFGraphic::ClassInfo();
}

// Decodes the JPEG file that a bitmap holds as its pixel data into target.
void DecodeEmbeddedJPEG(TStream& stream, int64_t, TBitmap& target) {
    TJPEGImage image;
    image.LoadFromStream(stream);
    target.Assign(image.Bitmap());
}

struct Registration {
    const char* extension;
    const char* commonDescription;
    const char* individualDescription;
    TFormatTypes types;
    const TGraphicClass* (*graphicClass)();
};

constexpr TFormatTypes kRaster = fmtRaster;
constexpr TFormatTypes kVector = fmtVector;
constexpr TFormatTypes kMultiRaster = fmtMultiImage | fmtRaster;
constexpr TFormatTypes kLayeredRaster = fmtLayered | fmtRaster;
constexpr TFormatTypes kRasterVector = fmtRaster | fmtVector;

// Registered in this order at start; the descriptions are the texts the file dialogs and the
// picture holder show.
const Registration kRegistrations[] = {
    {"bmp", "Windows bitmaps", "", kRaster, BitmapClass},
    {"ico", "Windows icons", "", kRaster, IconClass},
    {"wmf", "Windows metafiles", "", kVector, MetafileClass},
    {"emf", "Windows metafiles", "Windows enhanced meta files", kVector, MetafileClass},
    {"jfif", "JPG images", "JFIF images", kRaster, JPEGClass},
    {"jpg", "", "JPG images", kRaster, JPEGClass},
    {"jpe", "", "JPE images", kRaster, JPEGClass},
    {"jpeg", "", "JPEG images", kRaster, JPEGClass},
    {"rle", "Windows bitmaps", "Run length encoded Windows bitmaps", kRaster, BitmapClass},
    {"dib", "", "Device independant Windows bitmaps", kRaster, BitmapClass},
    {"win", "Truevision images", "", kRaster, TargaClass},
    {"vst", "", "", kRaster, TargaClass},
    {"vda", "", "", kRaster, TargaClass},
    {"tga", "", "", kRaster, TargaClass},
    {"icb", "", "", kRaster, TargaClass},
    {"tiff", "Tagged image file format images", "Macintosh TIFF images", kMultiRaster, TIFFClass},
    {"tif", "", "PC TIF images", kMultiRaster, TIFFClass},
    {"fax", "", "GFI fax images", kMultiRaster, TIFFClass},
    {"eps", "Encapsulated Postscript images", "", kRaster, EPSClass},
    {"pcx", "ZSoft Paintbrush images", "", kRaster, PCXClass},
    {"pcc", "", "", kRaster, PCXClass},
    {"scr", "", "Word 5.x screen capture images", kRaster, PCXClass},
    {"rpf", "Alias/Wavefront images", "", kRaster, RLAClass},
    {"rla", "", "", kRaster, RLAClass},
    {"sgi", "SGI images", "SGI true color images", kRaster, SGIClass},
    {"rgba", "", "SGI true color images with alpha", kRaster, SGIClass},
    {"rgb", "", "SGI true color images", kRaster, SGIClass},
    {"bw", "", "SGI black/white images", kRaster, SGIClass},
    {"psd", "Photoshop images", "", kLayeredRaster, PSDClass},
    {"pdd", "", "", kLayeredRaster, PSDClass},
    {"ppm", "Portable map images", "Portable pixel map images", kRaster, PPMClass},
    {"pgm", "", "Portable gray map images", kRaster, PPMClass},
    {"pbm", "", "Portable bitmap images", kRaster, PPMClass},
    {"cel", "Autodesk images", "", kRaster, AutodeskClass},
    {"pic", "Autodesk images", "", kRaster, AutodeskClass},
    {"pcd", "Kodak Photo-CD images", "", kRaster, PCDClass},
    {"cut", "Dr. Halo images", "", kRaster, CUTClass},
    {"psp", "Paintshop Pro images", "", kRasterVector, PSPClass},
    {"png", "Portable network graphic images", "", kRaster, PNGClass},
    {"gif", "CompuServe GIF images", "", kRaster, GIFClass},
    {"webp", "WebP images", "", kRaster, WebPClass},
    {"qoi", "Quite OK images", "", kRaster, QOIClass},
    {"jp2", "JPEG 2000 images", "", kRaster, JPEG2000Class},
    {"j2k", "", "JPEG 2000 codestreams", kRaster, JPEG2000Class},
    {"jpf", "", "", kRaster, JPEG2000Class},
    {"jxl", "JPEG XL images", "", kRaster, JPEGXLClass},
    {"heic", "HEIF images", "HEIC images", kRaster, HEIFClass},
    {"heif", "", "HEIF images", kRaster, HEIFClass},
    {"hif", "", "HEIF images", kRaster, HEIFClass},
    {"avif", "AVIF images", "", kRaster, AVIFClass},
    {"avifs", "", "AVIF image sequences", kRaster, AVIFClass},
    {"svg", "Scalable vector graphics", "", kVector, SVGClass},
    {"svgz", "", "Compressed scalable vector graphics", kVector, SVGClass},
    {"cur", "Windows cursors", "", kRaster, IconClass},
};

}  // namespace

TFileFormatList* FileFormatList() {
    return gRegistry.get();
}

void RegisterImageFormats() {
    if (gRegistry) return;
    gRegistry = std::make_unique<TFileFormatList>();
    // The JPEG class binds its own two extensions first; the registry's bindings below then
    // take them over with their descriptions, as a later registration does.
    RegisterJPEGImage();
    // PNG-compressed icon entries decode through the PNG loader.
    TIcon::SetPNGEntryDecoder(&TPNGGraphic::DecodeIconEntry);
    // So do bitmaps whose pixel data is a PNG file; those holding a JPEG file use the JPEG
    // class.
    dib::SetEmbeddedDecoder(dibPNG, &TPNGGraphic::DecodeIconEntry);
    dib::SetEmbeddedDecoder(dibJPEG, &DecodeEmbeddedJPEG);
    for (const Registration& r : kRegistrations)
        gRegistry->RegisterFileFormat(r.extension, r.commonDescription, r.individualDescription,
                                      r.types, false, r.graphicClass());
}

void UnregisterImageFormats() {
    if (!gRegistry) return;
    for (auto graphicClass :
         {PSPClass, PSDClass, TargaClass, TIFFClass, SGIClass, PCXClass, AutodeskClass, PCDClass,
          PPMClass, CUTClass, RLAClass, GIFClass, WebPClass, QOIClass, JPEG2000Class, JPEGXLClass,
          HEIFClass, AVIFClass})
        gRegistry->UnregisterFileFormat("", graphicClass());
    gRegistry->UnregisterFileFormat("rle", nullptr);
    gRegistry->UnregisterFileFormat("dib", nullptr);
    gRegistry->UnregisterFileFormat("", PNGClass());
    TIcon::SetPNGEntryDecoder(nullptr);
    dib::SetEmbeddedDecoder(dibPNG, nullptr);
    dib::SetEmbeddedDecoder(dibJPEG, nullptr);
    gRegistry.reset();  // its clean-up unregisters the classes still listed
    UnregisterJPEGImage();
}
