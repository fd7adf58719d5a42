#pragma once
// Save As: the picture as shown (a finished bitmap, already turned) written in one of the
// formats we write, through the safe-write step. Colours are written as held; with a profile
// given (the picture's own, its pixels left in its colours) the profile is embedded where the
// format carries one (PNG, JPEG, TIFF, JPEG XL, AVIF, HEIC).
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/writers/SafeWrite.h"

class TBitmap;

enum class TSaveFormat { Png, Jpeg, WebP, Tiff, Bmp, Qoi, JpegXl, Avif, Heic };

struct TSaveFormatInfo {
    TSaveFormat format;
    const char* name;        // "PNG"
    const char* extensions;  // "png" or "jpg jpeg jpe": the first is the one offered
    bool lossy;              // by default (WebP, JPEG XL and AVIF are lossy unless asked otherwise)
    bool profile;            // carries an embedded colour profile
    bool lossless;           // writes without loss (by default, or when asked)
};

// Every format Save As writes, in the order the file dialog offers them.
const std::vector<TSaveFormatInfo>& SaveFormats();
// The format the file name's extension names (case-insensitive), or null.
const TSaveFormatInfo* SaveFormatForFile(const std::string& fileName);

struct TSaveOptions {
    int quality = 90;                 // JPEG and lossy WebP, 1-100
    bool lossless = false;            // WebP: lossless instead of lossy
    bool transparent = false;         // the graphic's transparent colour is keyed out
    std::vector<uint8_t> iccProfile;  // embedded when not empty
};

// The picture encoded in the format. Throws EImagingError.
std::vector<uint8_t> EncodePicture(const TBitmap& picture, TSaveFormat format,
                                   const TSaveOptions& options);

// Encodes the picture in the format its file name names and writes it through SafeWriteFile;
// the written file is decoded once by our loaders (the formats must be registered) and must
// give the picture's size, and for lossless formats without a profile its exact pixels.
void SavePicture(const TBitmap& picture, const std::string& fileName, const TSaveOptions& options,
                 const TSafeWriteOptions& write = {});
