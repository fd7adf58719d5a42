#pragma once
// The texts that the imaging library reports: progress messages and the messages of the
// exceptions raised by the loaders, the colour manager, the decoders and the format registry.
// A "%s" stands for the short name of the format (for example "PNG") unless noted otherwise.

namespace imsg {

// Progress messages.
inline constexpr const char* Preparing = "Preparing...";
inline constexpr const char* LoadingData = "Loading data...";
inline constexpr const char* Upsampling = "Upsampling...";
inline constexpr const char* Transfering = "Transfering...";

// Decoders.
inline constexpr const char* LZ77Error = "LZ77 decompression error.";
inline constexpr const char* JPEGEOI = "JPEG decompression error. Unexpected end of input.";
inline constexpr const char* JPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* JPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* JPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* JPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* JPEGBogusTableField = "Bogus JPEG tables field.";
inline constexpr const char* JPEGFractionalLine = "Fractional JPEG scanline unsupported.";

// Loaders.
inline constexpr const char* InvalidImage =
    "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* InvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* StreamReadError = "Stream read error in %s file.";
// First %s: what is not supported (see CompressionScheme), second %s: the format.
inline constexpr const char* UnsupportedFeature =
    "Cannot load image. %s not supported for %s files.";
inline constexpr const char* CompressionScheme = "The compression scheme is";
inline constexpr const char* InvalidCRC = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* CompressionError =
    "Cannot load image. Compression error found in %s file.";
inline constexpr const char* ExtraCompressedData =
    "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* InvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* UnknownCriticalChunk =
    "Cannot load PNG image. Unexpected but critical chunk detected.";
// Saving through a loader that cannot write its own format.
inline constexpr const char* SaveNotSupported =
    "Cannot save image. Writing %s files is not supported.";

// Colour manager.
inline constexpr const char* InvalidSampleDepth =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* InvalidPixelDepth =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* InvalidSubSampling =
    "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* VerticalSubSamplingError =
    "Vertical subsampling value must be <= horizontal subsampling value.";
inline constexpr const char* IndexedNotSupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* ConversionUnsupported =
    "Color conversion failed. Could not find a proper method.";

// Format registry and picture holder. %s is the extension (without the dot).
inline constexpr const char* RegistrationError = "Attempt to register %s twice.";
inline constexpr const char* UnknownExtension = "Unknown picture file extension (.%s)";

// Formats that are bound to an extension but cannot be read yet; %s is the format's common
// description (for example "Truevision images").
inline constexpr const char* FormatNotSupportedYet = "%s are not supported yet.";

}  // namespace imsg
