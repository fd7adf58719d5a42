#include "imaging/Libraries.h"

#include <cstddef>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <gif_lib.h>
#include <jpeglib.h>
#include <libdeflate.h>
#include <webp/decode.h>
#include <zlib.h>

namespace {

#define VELKARO_STRINGIFY2(x) #x
#define VELKARO_STRINGIFY(x) VELKARO_STRINGIFY2(x)

// A version packed as 0xMMmmpp.
std::string PackedVersion(int packed) {
    return std::to_string((packed >> 16) & 0xFF) + '.' + std::to_string((packed >> 8) & 0xFF) +
           '.' + std::to_string(packed & 0xFF);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ImagingLibraryVersions() {
    std::vector<std::pair<std::string, std::string>> versions;
    versions.emplace_back("zlib", zlibVersion());
#ifdef LIBJPEG_TURBO_VERSION
    versions.emplace_back("libjpeg-turbo", VELKARO_STRINGIFY(LIBJPEG_TURBO_VERSION));
#else
    versions.emplace_back("libjpeg", std::to_string(JPEG_LIB_VERSION));
#endif
    versions.emplace_back("libdeflate", LIBDEFLATE_VERSION_STRING);
    versions.emplace_back("giflib", std::to_string(GIFLIB_MAJOR) + '.' +
                                        std::to_string(GIFLIB_MINOR) + '.' +
                                        std::to_string(GIFLIB_RELEASE));
    versions.emplace_back("libwebp", PackedVersion(WebPGetDecoderVersion()));
    return versions;
}
