// velkaro-convert: writes a picture in another format, or turned, through the same code as the
// reader's Save Rotation and Save As.
//
//   velkaro-convert IN OUT [--quality N] [--rotate 90|180|270] [--flip h|v] [--lossless]
//                   [--keep-time] [--trim] [--exif-orientation] [--keep-profile]
//
// A JPEG written as JPEG (without --quality) is turned losslessly; every other picture is
// decoded, turned as asked and encoded in the format OUT's extension names. OUT may be IN.
// Exit status 0 on success, 1 with the error message on standard error, 2 for bad usage.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "imaging/ColorProfile.h"
#include "imaging/Registration.h"
#include "imaging/writers/ConvertPicture.h"
#include "imaging/writers/PictureWriter.h"

namespace {

const char* const kUsage =
    "usage: velkaro-convert IN OUT [--quality N] [--rotate 90|180|270] [--flip h|v]\n"
    "                       [--lossless] [--keep-time] [--trim] [--exif-orientation]\n"
    "                       [--keep-profile]\n"
    "       velkaro-convert --help | --version\n";

int Usage() {
    std::fprintf(stderr, "%s", kUsage);
    std::fprintf(stderr, "Try 'velkaro-convert --help' for more information.\n");
    return 2;
}

int Help() {
    std::string formats;
    for (const TSaveFormatInfo& f : SaveFormats())
        formats += std::string("  ") + f.name + " (" + f.extensions + ")\n";
    std::printf(
        "%s\n"
        "Writes IN as OUT in the format OUT's extension names:\n%s"
        "OUT may be IN. The file is written beside OUT, read back and only then renamed over\n"
        "it; on any failure OUT is left as it was.\n"
        "\n"
        "  --quality N         quality of the lossy formats, 1-100 (default 90); a\n"
        "                      JPEG written as JPEG is compressed again only when given\n"
        "  --rotate 90|180|270 turn the picture clockwise\n"
        "  --flip h|v          mirror left to right (h) or top to bottom (v), after the turn\n"
        "  --lossless          nothing lossy: JPEG turned losslessly; WebP, JPEG XL and\n"
        "                      AVIF written lossless\n"
        "  --keep-time         OUT keeps IN's modification time\n"
        "  --trim              a JPEG turn that is not on whole blocks drops the partial\n"
        "                      edge blocks (as jpegtran -trim) instead of failing\n"
        "  --exif-orientation  a JPEG's turn is stored as its EXIF orientation\n"
        "  --keep-profile      keep the picture's colours and embed its colour profile\n"
        "                      (PNG, JPEG, TIFF, JPEG XL, AVIF, HEIC) instead of\n"
        "                      converting them to sRGB\n"
        "  --help              print this help and exit\n"
        "  --version           print the version and exit\n"
        "\n"
        "Exit status: 0 on success, 1 when loading or writing fails, 2 for bad usage.\n",
        kUsage, formats.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input, output;
    TConvertOptions options;
    int rotate = 1, flip = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quality" && hasValue) {
            char* end = nullptr;
            const long quality = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || quality < 1 || quality > 100) {
                std::fprintf(stderr, "--quality takes a number from 1 to 100.\n");
                return 2;
            }
            options.quality = int(quality);
        } else if (arg == "--rotate" && hasValue) {
            const std::string v = argv[++i];
            rotate = v == "90" ? 6 : v == "180" ? 3 : v == "270" ? 8 : 0;
            if (rotate == 0) {
                std::fprintf(stderr, "--rotate takes 90, 180 or 270.\n");
                return 2;
            }
        } else if (arg == "--flip" && hasValue) {
            const std::string v = argv[++i];
            flip = v == "h" ? 2 : v == "v" ? 4 : 0;
            if (flip == 0) {
                std::fprintf(stderr, "--flip takes h or v.\n");
                return 2;
            }
        } else if (arg == "--lossless") {
            options.lossless = true;
        } else if (arg == "--keep-time") {
            options.keepTime = true;
        } else if (arg == "--trim") {
            options.partial = TPartialBlocks::Trim;
        } else if (arg == "--exif-orientation") {
            options.orientationOnly = true;
        } else if (arg == "--keep-profile") {
            options.keepProfile = true;
            SetColorManagementEnabled(false);
        } else if (arg == "--help" || arg == "-h") {
            return Help();
        } else if (arg == "--version") {
            std::printf("velkaro-convert %s\n", VELKARO_VERSION);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else if (input.empty()) {
            input = arg;
        } else if (output.empty()) {
            output = arg;
        } else {
            return Usage();
        }
    }
    if (input.empty() || output.empty()) return Usage();
    options.turn = ComposeOrientation(rotate, flip);

    struct TRegistryScope {
        TRegistryScope() { RegisterImageFormats(); }
        ~TRegistryScope() { UnregisterImageFormats(); }
    } registry;
    try {
        ConvertPicture(input, output, options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
