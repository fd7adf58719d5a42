// The JPEG picture's reduced decodes: for a viewer that shows it smaller than it is, the camera's
// thumbnail first, then the library's DCT scaling, or the DC scans alone for a progressive file
// shown at 1/8.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"
#include "imaging/PictureInfo.h"
#include "imaging/Stream.h"
#include "imaging/decoders/JpegDcDecoder.h"
#include "imaging/formats/JPEGImage.h"

// A progressive colour file shown at 1/8 is made from its DC scans (TJpegDcDecoder), pixel for
// pixel as the library makes it but without the library's memory for every coefficient of the
// picture. False: the library decodes the file (also when a scan turns out damaged).
bool TJPEGImage::DecodeFromDcScans() {
    if (options_.ScalePower != 3 || options_.ShowScans || options_.GrayOutput ||
        options_.EightBitOutput || data_->grayscale || data_->bytes.empty())
        return false;
    TJpegDcDecoder dc;
    if (!dc.Open(data_->bytes.data(), data_->bytes.size()) || dc.Channels() != 3) return false;
    bitmap_ = std::make_unique<TBitmap>();
    TBitmap& bmp = *bitmap_;
    std::exception_ptr failure;
    bool started = false;
    TJpegDcDecoder::TResult result = TJpegDcDecoder::TResult::NotHandled;
    decoding_ = true;
    try {
        TBitmap::CheckSize(data_->width, data_->height);
        bmp.SetPixelFormat(pf24bit);
        bmp.SetSize(dc.Width(), dc.Height());
        palette_.reset();
        Progress(psStarting, 0, false, TRect{}, std::string());
        started = true;
        result = dc.Decode([&](int y) { return bmp.ScanLine(y); }, [&] { return Cancelled(); });
        if (result == TJpegDcDecoder::TResult::Cancelled)
            failure = std::make_exception_ptr(EAbort());
    } catch (...) {
        failure = std::current_exception();
    }
    if (result == TJpegDcDecoder::TResult::NotHandled && !failure) {
        decoding_ = false;
        return false;
    }
    EndDecode(bmp, ShownOrientation(), false, started, false, failure);
    return true;
}

namespace {

// The EXIF thumbnail of a JPEG picture, decoded and turned like the picture, when it is large
// enough to stand in for it (at least 120 pixels on its long side, the picture's aspect within
// 3 %); null otherwise. A damaged thumbnail is no error: the decodes that follow show the picture.
// Colour management is skipped here, as the reduced decode replaces this in milliseconds.
std::unique_ptr<TBitmap> ExifThumbnailBitmap(const TJPEGImage& jpeg, int fullWidth, int fullHeight,
                                             const std::atomic<bool>* cancel) {
    constexpr int kMinSide = 120;
    constexpr int kMaxSide = 1024;  // bounds what a thumbnail's header may ask for
    if (!jpeg.HasData() || fullWidth < 1 || fullHeight < 1) return nullptr;
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    try {
        TMemoryStream file(jpeg.Data().data(), int64_t(jpeg.Data().size()));
        const std::vector<uint8_t> block = FindExifBlock(file);
        const std::vector<uint8_t> bytes = ExifThumbnail(block.data(), block.size());
        if (bytes.empty() || cancelled()) return nullptr;
        TMemoryStream stream(bytes.data(), int64_t(bytes.size()));
        TJPEGImage thumb;
        thumb.LoadFromStream(stream);
        // A thumbnail turned by EXIF of its own would be turned twice.
        if (thumb.Orientation() > 1) return nullptr;
        const int side = std::max(thumb.Width(), thumb.Height());
        if (side < kMinSide || side > kMaxSide || std::min(thumb.Width(), thumb.Height()) < 1)
            return nullptr;
        thumb.SetCancelFlag(cancel);
        thumb.SetFastDecode(true);
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(thumb);
        const int orientation = jpeg.Orientation();
        if (TBitmap::AutoOrient() && orientation >= 2 && orientation <= 8)
            bitmap->Orient(orientation);
        const double aspect = double(bitmap->Width()) / std::max(1, bitmap->Height());
        const double wanted = double(fullWidth) / fullHeight;
        if (std::abs(aspect / wanted - 1.0) > 0.03) return nullptr;
        return bitmap;
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

bool TJPEGImage::DecodeReduced(const TReducedDecode& wish) {
    const int fullWidth = Width();
    const int fullHeight = Height();
    const double scale = wish.Scale ? wish.Scale(fullWidth, fullHeight) : 1.0;
    if (!(scale <= 0.5) || HasBitmap()) return false;
    // The camera's thumbnail paints first, at once; it is all there is to do when it is large
    // enough for the caller.
    if (wish.OnPreview) {
        if (auto thumb = ExifThumbnailBitmap(*this, fullWidth, fullHeight, cancel_)) {
            if (Cancelled()) throw EAbort();
            const bool enough =
                wish.EnoughSide > 0 && std::max(thumb->Width(), thumb->Height()) >= wish.EnoughSide;
            wish.OnPreview(std::move(thumb));
            if (enough) return true;
        }
    }
    SetScalePower(uint8_t(ReducedDecodePower(scale, 3)));  // libjpeg scales down to 1/8
    // A progressive file paints its first scan while the others are read (a caller that only
    // takes a preview large enough to stand in for the picture does not want it).
    auto firstScan = std::move(OnFirstScan);
    if (wish.OnPreview && wish.EnoughSide == 0)
        OnFirstScan = [this, &wish](std::unique_ptr<TBitmap> first) {
            if (!Cancelled()) wish.OnPreview(std::move(first));
        };
    struct TRestore {
        TJPEGImage& image;
        std::function<void(std::unique_ptr<TBitmap>)> firstScan;
        ~TRestore() { image.OnFirstScan = std::move(firstScan); }
    } restore{*this, std::move(firstScan)};
    DIBNeeded();
    return true;
}
