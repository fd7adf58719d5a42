// velkaro-decode: decodes a picture through the reader's format table and writes it as PAM,
// prints what the loader found, or dumps the bitmap exactly as held.
//
//   velkaro-decode FILE -o OUT.pam     decode and write a PAM (RGB, or RGB_ALPHA when the
//                                      picture shows through: alpha or a transparent colour)
//   velkaro-decode --info FILE         print class, pixel format, palette and image properties
//                                      (JSON), then the picture's properties and camera
//                                      metadata, one "Name: value" line each
//   velkaro-decode FILE --raw OUT      write the bitmap as held (format, palette, rows)
//   velkaro-decode FILE --frame N -o OUT.pam   frame or page N (from 1) of a multi-image file,
//                                      an animation's frame as composed on screen
//   velkaro-decode --list-formats      print every registered extension and its description
//   --no-color-management              keep the stored colours of profiled pictures
//
// velkaro-render is the same program with Qt's painting: it also draws Windows metafiles and SVG
// documents, at their natural size (96 dpi) or, with --dpi N, at N dots per inch.
//
// Exit status 0 on success, 1 with the error message on standard error, 2 for bad usage.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/FileFormatList.h"
#include "imaging/FormatGraphic.h"
#include "imaging/FrameReader.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "imaging/Registration.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/formats/Metafile.h"
#include "imaging/formats/SVGGraphic.h"

#ifdef VELKARO_RENDER_METAFILES
#include <QGuiApplication>
#include <cstdlib>

#include <QLoggingCategory>

#include "render/MetafilePlayer.h"
#include "render/SvgRenderer.h"
#include "render/VectorPicture.h"
#endif

namespace {

const char* PixelFormatName(TPixelFormat format) {
    switch (format) {
        case pfDevice:
            return "pfDevice";
        case pf1bit:
            return "pf1bit";
        case pf4bit:
            return "pf4bit";
        case pf8bit:
            return "pf8bit";
        case pf15bit:
            return "pf15bit";
        case pf16bit:
            return "pf16bit";
        case pf24bit:
            return "pf24bit";
        case pf32bit:
            return "pf32bit";
        case pfCustom:
            return "pfCustom";
    }
    return "unknown";
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

template <typename T>
std::string JsonArray(const std::vector<T>& values) {
    std::ostringstream s;
    s << '[';
    for (size_t i = 0; i < values.size(); ++i)
        s << (i ? "," : "") << +values[i];
    s << ']';
    return s.str();
}

// Writer that turns write failures into exceptions.
class TOutFile {
  public:
    explicit TOutFile(const std::string& name) : name_(name) {
        file_ = std::fopen(name.c_str(), "wb");
        if (file_ == nullptr)
            throw EFOpenError("Cannot create file \"" + name + "\". " + std::strerror(errno));
    }
    ~TOutFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    void Write(const void* data, size_t size) {
        if (size != 0 && std::fwrite(data, 1, size, file_) != size)
            throw EImagingError("Cannot write file \"" + name_ + "\".");
    }
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    void Close() {
        const int rc = std::fclose(file_);
        file_ = nullptr;
        if (rc != 0) throw EImagingError("Cannot write file \"" + name_ + "\".");
    }

  private:
    std::string name_;
    std::FILE* file_ = nullptr;
};

// The picture as the view composes it: RGB_ALPHA when anything shows through (alpha in use, or
// the transparent colour of a transparent graphic), else RGB.
void WritePAM(const TBitmap& bmp, bool transparent, const std::string& fileName) {
    const TComposition composition = BitmapComposition(bmp, transparent);
    const bool alpha = composition.SeeThrough();
    const int width = bmp.Width();
    const int height = bmp.Height();
    const int depth = alpha ? 4 : 3;
    TOutFile out(fileName);
    out.Write("P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
              "\nDEPTH " + std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " +
              (alpha ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n");
    // Rows are gathered in blocks so the file sees few large writes.
    const size_t rowBytes = static_cast<size_t>(width) * depth;
    const int rowsPerBlock = static_cast<int>(std::max<size_t>(1, (1u << 16) / (rowBytes + 1)));
    // Four bytes of slack: 8-bit rows are written four bytes per pixel.
    std::vector<uint8_t> block(rowBytes * static_cast<size_t>(rowsPerBlock) + 4);
    std::vector<uint8_t> bgra(static_cast<size_t>(width) * 4);
    // 8-bit rows go through a table of the palette's red, green and blue (entries past the
    // palette are black, as everywhere a palette is looked up).
    std::array<std::array<uint8_t, 4>, 256> rgb{};
    const bool indexed = bmp.PixelFormat() == pf8bit && !alpha;
    if (indexed) {
        const std::vector<TRGBQuad>& palette = bmp.Palette();
        for (size_t i = 0; i < std::min<size_t>(palette.size(), 256); ++i)
            rgb[i] = {palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue, 0};
    }
    for (int y0 = 0; y0 < height; y0 += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, height - y0);
        for (int r = 0; r < rows; ++r) {
            const int y = y0 + r;
            uint8_t* d = block.data() + rowBytes * static_cast<size_t>(r);
            const uint8_t* s = bmp.ScanLine(y);
            if (bmp.PixelFormat() == pf24bit && !alpha) {
                SwapRedBlue24(s, d, static_cast<size_t>(width));
                continue;
            }
            if (indexed) {
                // Four bytes a pixel: the fourth is overwritten by the next pixel (or lands in
                // the next row's first byte, or in the slack).
                for (int x = 0; x < width; ++x)
                    std::memcpy(d + 3 * size_t(x), rgb[s[x]].data(), 4);
                continue;
            }
            if (alpha) {
                ComposeScanLine(bmp, y, composition, bgra.data());
                s = bgra.data();
            } else if (bmp.PixelFormat() != pf32bit) {
                ConvertScanLineToBGRA(bmp, y, bgra.data());
                s = bgra.data();
            }
            if (alpha)
                SwapRedBlue32(s, d, static_cast<size_t>(width));
            else
                SwapRedBlue32To24(s, d, static_cast<size_t>(width));
        }
        out.Write(block.data(), rowBytes * static_cast<size_t>(rows));
    }
    out.Close();
}

// Raw dump: a text header, the palette as blue-green-red-reserved quads, then the rows top
// down exactly as held (RowStride bytes each).
void WriteRaw(const TBitmap& bmp, const std::string& fileName) {
    TOutFile out(fileName);
    std::ostringstream head;
    head << "VELKARO-RAW 1\nWIDTH " << bmp.Width() << "\nHEIGHT " << bmp.Height() << "\nFORMAT "
         << PixelFormatName(bmp.PixelFormat()) << "\nBITS " << bmp.BitsPerPixel() << "\nMASKS "
         << bmp.RedMask() << ' ' << bmp.GreenMask() << ' ' << bmp.BlueMask() << ' '
         << bmp.AlphaMask() << "\nSTRIDE " << bmp.RowStride() << "\nPALETTE "
         << bmp.Palette().size() << "\nENDHDR\n";
    out.Write(head.str());
    for (const TRGBQuad& q : bmp.Palette()) {
        const uint8_t e[4] = {q.rgbBlue, q.rgbGreen, q.rgbRed, q.rgbReserved};
        out.Write(e, 4);
    }
    if (!bmp.Empty())
        out.Write(bmp.Bits(),
                  static_cast<size_t>(bmp.RowStride()) * static_cast<size_t>(bmp.Height()));
    out.Close();
}

std::string Info(const TGraphic& g, const TBitmap* bmp) {
    std::ostringstream s;
    s << "{\"class\":" << JsonString(g.ClassType().ClassName) << ",\"width\":" << g.Width()
      << ",\"height\":" << g.Height() << ",\"transparent\":" << (g.Transparent() ? "true" : "false")
      << ",\"colorProfile\":" << JsonString(IccProfileDescription(g.IccProfile()));
    if (bmp != nullptr) {
        s << ",\"pixelFormat\":" << JsonString(PixelFormatName(bmp->PixelFormat()))
          << ",\"bitsPerPixel\":" << bmp->BitsPerPixel()
          << ",\"paletteSize\":" << bmp->Palette().size();
    }
    if (const auto* icon = dynamic_cast<const TIcon*>(&g)) {
        s << ",\"iconEntries\":" << icon->EntryCount() << ",\"iconEntry\":" << icon->EntryIndex();
    }
    if (const auto* fg = dynamic_cast<const TFormatGraphic*>(&g)) {
        const TImageProperties& p = fg->ImageProperties();
        s << ",\"imageProperties\":{"
          << "\"Version\":" << p.Version << ",\"Options\":" << +p.Options
          << ",\"Width\":" << p.Width << ",\"Height\":" << p.Height
          << ",\"ColorScheme\":" << +p.ColorScheme << ",\"BitsPerSample\":" << +p.BitsPerSample
          << ",\"SamplesPerPixel\":" << +p.SamplesPerPixel
          << ",\"BitsPerPixel\":" << +p.BitsPerPixel << ",\"Compression\":" << +p.Compression
          << ",\"Gamma\":" << p.Gamma << ",\"XResolution\":" << p.XResolution
          << ",\"YResolution\":" << p.YResolution
          << ",\"Interlaced\":" << (p.Interlaced ? "true" : "false")
          << ",\"HasAlpha\":" << (p.HasAlpha ? "true" : "false")
          << ",\"FirstIFDOffset\":" << p.FirstIFDOffset
          << ",\"PlanarConfiguration\":" << p.PlanarConfiguration
          << ",\"CurrentRow\":" << p.CurrentRow << ",\"TileWidth\":" << p.TileWidth
          << ",\"TileLength\":" << p.TileLength << ",\"BytesPerLine\":" << p.BytesPerLine
          << ",\"RowsPerStrip\":" << JsonArray(p.RowsPerStrip)
          << ",\"YCbCrSubsampling\":" << JsonArray(p.YCbCrSubsampling)
          << ",\"JPEGTables\":" << JsonArray(p.JPEGTables)
          << ",\"JPEGColorMode\":" << p.JPEGColorMode << ",\"JPEGTablesMode\":" << p.JPEGTablesMode
          << ",\"CurrentStrip\":" << p.CurrentStrip << ",\"StripCount\":" << p.StripCount
          << ",\"Predictor\":" << p.Predictor
          << ",\"PCDOverview\":" << (p.PCDOverview ? "true" : "false")
          << ",\"PCDRotation\":" << +p.PCDRotation << ",\"PCDImageCount\":" << p.PCDImageCount
          << ",\"RLABottomUp\":" << (p.RLABottomUp ? "true" : "false")
          << ",\"PSDChannels\":" << +p.PSDChannels << ",\"PNGFilterMode\":" << +p.PNGFilterMode
          << '}';
    }
    s << '}';
    return s.str();
}

// The picture's properties as people read them, one "Name: value" line each (absent ones left
// out), after the JSON line of --info.
void PrintPictureInfo(const std::string& fileName, const TGraphic& graphic, int frameCount) {
    TPictureInfo info = ReadPictureInfo(fileName, &graphic);
    if (frameCount > 1) info.FrameCount = frameCount;
    for (const auto& [label, value] : info.Fields())
        std::printf("%s: %s\n", label.c_str(), value.c_str());
}

// The frames or pages of the file as JSON members: their count, and for an animation its loop
// count and each frame's delay in milliseconds.
std::string FramesInfo(const TFrameReader* frames) {
    std::ostringstream s;
    if (frames == nullptr) {
        s << ",\"frameCount\":1";
        return s.str();
    }
    const bool animation = frames->Kind() == TFrameKind::Animation;
    s << ",\"frameCount\":" << frames->Count() << ",\"frameKind\":\""
      << (animation ? "animation" : "pages") << '"';
    if (animation) {
        std::vector<int> delays;
        for (int i = 0; i < frames->Count(); ++i)
            delays.push_back(frames->DelayMs(i));
        s << ",\"loopCount\":" << frames->LoopCount() << ",\"frameDelays\":" << JsonArray(delays);
    } else {
        s << ",\"defaultPage\":" << frames->DefaultIndex() + 1;
    }
    return s.str();
}

#ifdef VELKARO_RENDER_METAFILES
const char* const kUsage =
    "usage: velkaro-render FILE -o OUT.pam [--raw OUT] [--frame N] [--no-orient] [--dpi N]\n"
    "                     [--no-color-management]\n"
    "       velkaro-render FILE --raw OUT [--no-orient] [--no-color-management] [--dpi N]\n"
    "       velkaro-render --info FILE\n"
    "       velkaro-render --list-formats | --help | --version\n";
const char* const kDpiHelp =
    "  --dpi N          draw metafiles and SVG at N dots per inch (default 96)\n";
#else
const char* const kUsage =
    "usage: velkaro-decode FILE -o OUT.pam [--raw OUT] [--frame N] [--no-orient]\n"
    "                      [--no-color-management]\n"
    "       velkaro-decode FILE --raw OUT [--no-orient] [--no-color-management]\n"
    "       velkaro-decode --info FILE\n"
    "       velkaro-decode --list-formats | --help | --version\n";
const char* const kDpiHelp = "";
#endif

#ifdef VELKARO_RENDER_METAFILES
// The resolution vector pictures are drawn at, in dots per inch.
constexpr double kNaturalDpi = 96;
constexpr double kMaxDpi = 9600;
#endif

int Usage() {
    std::fprintf(stderr, "%s", kUsage);
    std::fprintf(stderr, "Try 'velkaro-decode --help' for more information.\n");
    return 2;
}

int Help() {
    std::printf("%s\n%s%s%s", kUsage,
                "Decodes FILE through the reader's format table (chosen by the extension, or by\n"
                "the content when the extension is unknown or its format refuses the file).\n"
                "\n"
                "  -o OUT.pam       write the picture as PAM (RGB, or RGB_ALPHA with\n"
                "                   transparency: alpha, or a transparent colour)\n"
                "  --raw OUT        write the bitmap exactly as held\n"
                "  --frame N        take frame or page N (from 1) of an animation or a\n"
                "                   multi-page file; animation frames as composed on screen\n"
                "  --info           print class, pixel format and image properties as JSON,\n"
                "                   then the picture's properties and camera metadata\n"
                "                   (EXIF), one \"Name: value\" line each\n"
                "  --no-orient      keep the stored orientation of JPEG and TIFF pictures\n"
                "  --no-color-management\n"
                "                   keep the stored colours of pictures with an embedded\n"
                "                   colour profile (by default they are converted to sRGB)\n",
                kDpiHelp,
                "  --list-formats   print every registered extension and its description\n"
                "  --help           print this help and exit\n"
                "  --version        print the version and exit\n"
                "\n"
                "Exit status: 0 on success, 1 when loading or writing fails, 2 for bad usage.\n");
    return 0;
}

// Every registered extension with its description (the individual one, else the class's).
int ListFormats() {
    RegisterImageFormats();
    if (const TFileFormatList* list = FileFormatList()) {
        for (int i = 0; i < list->ExtensionCount(); ++i) {
            const TFileFormatList::TExtensionRecord& r = list->ExtensionRecord(i);
            const std::string& description =
                r.Description.empty() && r.ClassRecord ? r.ClassRecord->Description : r.Description;
            std::printf("%s\t%s\n", r.Extension.c_str(), description.c_str());
        }
    }
    UnregisterImageFormats();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input, pamOut, rawOut;
    bool info = false;
    long frame = 0;  // 0: the picture as a plain load gives it
#ifdef VELKARO_RENDER_METAFILES
    double dpi = kNaturalDpi;
#endif
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-o" || arg == "--raw") && i + 1 < argc) {
            (arg == "-o" ? pamOut : rawOut) = argv[++i];
        } else if (arg == "--frame" && i + 1 < argc) {
            char* end = nullptr;
            frame = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || frame < 1) {
                std::fprintf(stderr, "--frame takes a frame number from 1.\n");
                return 2;
            }
        } else if (arg == "--info") {
            info = true;
#ifdef VELKARO_RENDER_METAFILES
        } else if (arg == "--dpi" && i + 1 < argc) {
            char* end = nullptr;
            dpi = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(dpi >= 1) || dpi > kMaxDpi) {
                std::fprintf(stderr, "--dpi takes a resolution from 1 to %g.\n", kMaxDpi);
                return 2;
            }
#endif
        } else if (arg == "--no-orient") {
            TBitmap::SetAutoOrient(false);
        } else if (arg == "--no-color-management") {
            SetColorManagementEnabled(false);
        } else if (arg == "--help" || arg == "-h") {
            return Help();
        } else if (arg == "--version") {
            std::printf("velkaro-decode %s\n", VELKARO_VERSION);
            return 0;
        } else if (arg == "--list-formats") {
            return ListFormats();
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else if (input.empty()) {
            input = arg;
        } else {
            return Usage();
        }
    }
    if (input.empty() || (!info && pamOut.empty() && rawOut.empty())) return Usage();

#ifdef VELKARO_RENDER_METAFILES
    // Metafiles are drawn with Qt's painter; without a display it paints off screen.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    // Qt Svg's notes about features it leaves out are not errors of ours.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.svg*=false"));
    InstallMetafilePlayer();
    InstallSvgRenderer();
#endif

    // The registry is taken down before leaving main, also after a failure.
    struct TRegistryScope {
        TRegistryScope() { RegisterImageFormats(); }
        ~TRegistryScope() { UnregisterImageFormats(); }
    } registry;
    try {
        TPicture picture;
        picture.LoadFromFile(input);
        const TGraphic* graphic = picture.Graphic();
        if (graphic == nullptr) throw EInvalidGraphic("Nothing was loaded.");
        const auto* bmp = dynamic_cast<const TBitmap*>(graphic);
        // A JPEG picture decodes into a bitmap of its own; use it without a copy.
        if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic)) bmp = &jpeg->Bitmap();
        // So does a drawn vector picture.
        if (const auto* svg = dynamic_cast<const TSVGGraphic*>(graphic);
            svg && !svg->Bitmap().Empty())
            bmp = &svg->Bitmap();
        std::unique_ptr<TFrameReader> frames;
        if (info || frame > 0) frames = OpenFrameReader(input);
        if (info) {
            std::string text = Info(*graphic, bmp);
            text.insert(text.size() - 1, FramesInfo(frames.get()));
            std::printf("%s\n", text.c_str());
            PrintPictureInfo(input, *graphic, frames ? frames->Count() : 1);
        }
        std::unique_ptr<TBitmap> chosen;
        bool chosenTransparent = false;
        if (frame > 0) {
            const int count = frames ? frames->Count() : 1;
            if (frame > count)
                throw EInvalidGraphic("Frame " + std::to_string(frame) + " is out of range: \"" +
                                      input + "\" has " + std::to_string(count) +
                                      (count == 1 ? " frame." : " frames."));
            if (frames) {
                chosen = frames->Frame(int(frame - 1));
                chosenTransparent = chosen->Transparent();
                bmp = chosen.get();
            }
        }
        // A damaged file read in part: what the viewer's status line says, on standard error.
        const std::string& warning = chosen ? chosen->LoadWarning() : graphic->LoadWarning();
        if (!warning.empty()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
        const bool transparent = chosen ? chosenTransparent : graphic->Transparent();
        if (!pamOut.empty() || !rawOut.empty()) {
            // Graphics that are not bitmaps are copied into one when they can be.
            std::unique_ptr<TBitmap> copy;
            if (dynamic_cast<const TMetafile*>(graphic) != nullptr && !TMetafile::HasRenderer())
                throw EInvalidGraphic("Metafiles are drawn by velkaro-render.");
            if (dynamic_cast<const TSVGGraphic*>(graphic) != nullptr && !TSVGGraphic::HasRenderer())
                throw EInvalidGraphic("SVG pictures are drawn by velkaro-render.");
#ifdef VELKARO_RENDER_METAFILES
            // Vector pictures at another resolution are drawn again at that size.
            if (dpi != kNaturalDpi) {
                auto drawn = std::make_unique<TBitmap>();
                if (RenderVectorBitmap(*graphic, dpi / kNaturalDpi, *drawn)) {
                    copy = std::move(drawn);
                    bmp = copy.get();
                }
            }
#endif
            if (bmp == nullptr && !chosen) {
                copy = std::make_unique<TBitmap>();
                copy->Assign(*graphic);
                bmp = copy.get();
            }
            if (!pamOut.empty()) WritePAM(*bmp, transparent, pamOut);
            if (!rawOut.empty()) WriteRaw(*bmp, rawOut);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
