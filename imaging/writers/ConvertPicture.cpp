#include "imaging/writers/ConvertPicture.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/formats/JPEGImage.h"
#include "imaging/writers/PictureWriter.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in) throw EFOpenError("Cannot open file \"" + fileName + "\".");
    std::vector<uint8_t> data(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size())))
        throw EReadError("Cannot read file \"" + fileName + "\".");
    return data;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// Written over itself, a picture keeps only what we write: 8 bits a sample, one frame, RGB, no
// profile. Anything more is refused (Save As writes it to another file).
void RefuseLosingWhatIsShown(const std::string& fileName, const TPictureInfo& info,
                             const TBitmap& bitmap, bool profileKept) {
    const bool gray = info.ColorSpace == "Grayscale";
    const bool deep =
        info.BitDepth > 32 || (gray && info.BitDepth > (BitmapAlphaInUse(bitmap) ? 16 : 8));
    std::string what;
    if (info.FrameCount > 1)
        what = "its other " + std::to_string(info.FrameCount - 1) + " frames or pages";
    else if (deep)
        what = "its samples of more than 8 bits";
    else if (info.ColorSpace == "CMYK")
        what = "its CMYK colours";
    else if (!info.ProfileName.empty() && !profileKept)
        what = "its colour profile";
    if (!what.empty())
        throw EImagingError("Saving the turn into \"" + fileName + "\" would lose " + what +
                            ". Save it under another name instead.");
}

}  // namespace

bool IsJpegFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    unsigned char head[3] = {};
    return in.read(reinterpret_cast<char*>(head), 3) && head[0] == 0xFF && head[1] == 0xD8 &&
           head[2] == 0xFF;
}

void ConvertPicture(const std::string& input, const std::string& output,
                    const TConvertOptions& options) {
    const TSaveFormatInfo* format = SaveFormatForFile(output);
    if (format == nullptr)
        throw EImagingError("Cannot save \"" + output +
                            "\": the extension names no format that can be written.");
    const bool sameFile = SameFile(input, output);
    const TFileStamp stamp = FileStamp(input);
    TSafeWriteOptions write;
    write.keepTime = options.keepTime;
    write.timeFrom = input;
    if (sameFile) write.expected = options.shown != nullptr ? options.shown : &stamp;

    const bool jpegToJpeg = format->format == TSaveFormat::Jpeg && IsJpegFile(input);
    if (jpegToJpeg && (options.quality < 0 || options.lossless)) {
        const std::vector<uint8_t> file = ReadFile(input);
        const std::vector<uint8_t> data =
            options.orientationOnly
                ? SetJpegOrientation(file,
                                     ComposeOrientation(JpegStoredOrientation(file), options.turn))
                : TransformJpeg(file, options.turn, options.partial);
        write.check = [](const std::string& temp) {
            const std::unique_ptr<TGraphic> loaded = TPicture::LoadGraphic(temp);
            if (!loaded || loaded->Empty()) throw EInvalidGraphic("it holds no picture");
        };
        SafeWriteFile(output, data, write);
        return;
    }
    const bool lossyOut = format->lossy && !(format->lossless && options.lossless);
    if (options.lossless && lossyOut)
        throw EImagingError("A " + std::string(format->name) +
                            " file cannot be written without loss from this picture.");
    // Writing a lossy file over itself loses quality each time: only with a quality given.
    if (sameFile && lossyOut && options.quality < 0)
        throw EImagingError("Saving \"" + output +
                            "\" would compress it again with loss; give a "
                            "quality to accept that.");

    const std::unique_ptr<TGraphic> graphic = TPicture::LoadGraphic(input);
    if (!graphic || graphic->Empty()) throw EInvalidGraphic("Nothing was loaded.");
    TBitmap bitmap;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic.get()))
        bitmap.Assign(jpeg->Bitmap());
    else
        bitmap.Assign(*graphic);
    if (sameFile)
        RefuseLosingWhatIsShown(output, ReadPictureInfo(input, graphic.get()), bitmap,
                                options.keepProfile && format->profile);
    bitmap.Orient(options.turn);
    TSaveOptions save;
    save.quality = options.quality < 0 ? 90 : options.quality;
    save.lossless = options.lossless;
    save.transparent = graphic->Transparent();
    if (options.keepProfile) save.iccProfile = graphic->IccProfile();
    SavePicture(bitmap, output, save, write);
}
