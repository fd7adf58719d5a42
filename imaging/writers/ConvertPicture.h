#pragma once
// The one path from a picture file to a written one, shared by the window (Save Rotation, Save
// As) and velkaro-convert: a JPEG written as JPEG is turned losslessly; everything else is
// decoded, turned and encoded in the format the output's extension names. Every write goes
// through the safe-write step.
#include <string>

#include "imaging/writers/JpegTransform.h"
#include "imaging/writers/SafeWrite.h"

struct TConvertOptions {
    int turn = 1;           // orientation value applied to the picture as shown
    int quality = -1;       // JPEG and lossy WebP; -1: not given (90, and no re-encoding
                            // of a JPEG written as JPEG)
    bool lossless = false;  // nothing lossy: JPEG turned losslessly, WebP lossless
    bool keepTime = false;  // the written file keeps the input's modification time
    TPartialBlocks partial = TPartialBlocks::Refuse;  // JPEG turns not on whole blocks
    bool orientationOnly = false;       // a JPEG's turn stored as its EXIF orientation instead
    const TFileStamp* shown = nullptr;  // the input as it was shown (writing over it)
    // The picture's own colour profile embedded and its colours kept, instead of converted to
    // sRGB. Loaders convert unless colour management is off (SetColorManagementEnabled), which
    // the caller turns off for the conversion.
    bool keepProfile = false;
};

// Whether the file starts as a JPEG file does.
bool IsJpegFile(const std::string& fileName);

// Converts input into output (they may be the same file). The image formats must be
// registered. Throws EImagingError (EJpegPartialBlocks, ESafeWrite among them).
void ConvertPicture(const std::string& input, const std::string& output,
                    const TConvertOptions& options);
