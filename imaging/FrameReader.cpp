// Frame readers. Each format reads its frame table from the bytes without decoding pixels, then
// decodes frames one at a time: GIF frames through giflib (its reader positioned at each frame's
// image descriptor), APNG frames by handing the PNG loader a small PNG made of the file's header
// chunks and the frame's data, animated WebP through libwebp's animation decoder (which composes
// itself), AVIF sequences through libavif. TIFF directories and icon entries are loaded by their
// own loaders with the page chosen.
#include "imaging/FrameReader.h"

#include <avif/avif.h>
#include <gif_lib.h>
#include <webp/demux.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_set>

#include "imaging/Exceptions.h"
#include "imaging/ImagingRoutines.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/Stream.h"
#include "imaging/formats/FileTypeBox.h"
#include "imaging/formats/GIFGraphic.h"
#include "imaging/formats/Icon.h"
#include "imaging/formats/PNGGraphic.h"
#include "imaging/formats/TIFFGraphic.h"

using TBytes = std::shared_ptr<const std::vector<uint8_t>>;

int TFrameReader::ShownDelay(int64_t ms) {
    if (ms < kFastestDelay) return kSlowDelay;
    return int(std::min<int64_t>(ms, 600000));  // ten minutes at most
}

int TFrameReader::DelayMs(int index) const {
    return index >= 0 && index < Count() ? delays_[size_t(index)] : 0;
}

void TFrameReader::CheckCancel() const {
    if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) throw EAbort();
}

std::unique_ptr<TBitmap> TFrameReader::Frame(int index) {
    if (index < 0 || index >= Count())
        throw EInvalidGraphic("The file has no frame " + std::to_string(index + 1) + " (it has " +
                              std::to_string(Count()) + ").");
    CheckCancel();
    return Decode(index);
}

namespace {

// The canvas of an animation: blue, green, red, alpha rows without padding, and the copy kept
// for a frame whose disposal restores what was there before it.
struct TCanvas {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels, saved;

    void Reset() {
        pixels.assign(size_t(width) * size_t(height) * 4, 0);
        std::vector<uint8_t>().swap(saved);
    }
    uint8_t* Row(int y) { return pixels.data() + size_t(y) * size_t(width) * 4; }
    // Clears the part of the rectangle inside the canvas to transparent.
    void Clear(int left, int top, int w, int h) {
        const int x0 = std::clamp(left, 0, width),
                  x1 = int(std::clamp<int64_t>(int64_t(left) + w, 0, width));
        const int y0 = std::clamp(top, 0, height),
                  y1 = int(std::clamp<int64_t>(int64_t(top) + h, 0, height));
        for (int y = y0; y < y1; ++y)
            std::memset(Row(y) + 4 * size_t(x0), 0, 4 * size_t(x1 - x0));
    }
    void Save() { saved = pixels; }
    void Restore() {
        if (saved.size() == pixels.size()) pixels.swap(saved);
        std::vector<uint8_t>().swap(saved);
    }
    std::unique_ptr<TBitmap> Snapshot() const {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPixelFormat(pf32bit);
        bitmap->SetSize(width, height);
        for (int y = 0; y < height; ++y)
            std::memcpy(bitmap->ScanLine(y), pixels.data() + size_t(y) * size_t(width) * 4,
                        size_t(width) * 4);
        bitmap->SetTransparentColor(clNone);
        bitmap->SetTransparent(true);
        return bitmap;
    }
};

// Puts count source pixels (blue, green, red, alpha, not premultiplied) over target.
void BlendOver(const uint8_t* source, uint8_t* target, int count) {
    for (int i = 0; i < count; ++i, source += 4, target += 4) {
        const uint32_t sa = source[3];
        if (sa == 255) {
            std::memcpy(target, source, 4);
            continue;
        }
        if (sa == 0) continue;
        const uint32_t da = target[3] * (255 - sa);  // scaled by 255
        const uint32_t a = sa * 255 + da;            // scaled by 255
        for (int c = 0; c < 3; ++c)
            target[c] = uint8_t((source[c] * sa * 255 + target[c] * da + a / 2) / a);
        target[3] = uint8_t((a + 127) / 255);
    }
}

// ---------------------------------------------------------------------------------------------
// GIF

struct TGifFrame {
    size_t offset = 0;  // of the image descriptor
    int left = 0, top = 0, width = 0, height = 0;
    int disposal = 0;
    int transparent = -1;
};

struct TGifMemory {
    const uint8_t* data = nullptr;
    size_t size = 0, position = 0;
};

int ReadGifMemory(GifFileType* gif, GifByteType* buffer, int count) {
    auto* source = static_cast<TGifMemory*>(gif->UserData);
    if (count <= 0 || source->position >= source->size) return 0;
    const size_t n = std::min(size_t(count), source->size - source->position);
    std::memcpy(buffer, source->data + source->position, n);
    source->position += n;
    return int(n);
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Skips the data sub-blocks from position; false when the file ends inside them.
bool SkipSubBlocks(const std::vector<uint8_t>& b, size_t& position) {
    while (position < b.size()) {
        const size_t length = b[position++];
        if (length == 0) return true;
        position += length;
    }
    return false;
}

class TGIFFrames : public TFrameReader {
  public:
    explicit TGIFFrames(TBytes bytes) : TFrameReader(TFrameKind::Animation, "GIF"), bytes_(bytes) {}

    // Walks the blocks of the file; false when it holds fewer than two frames.
    bool Scan() {
        const std::vector<uint8_t>& b = *bytes_;
        if (b.size() < 13) return false;
        size_t p = 13;
        if ((b[10] & 0x80) != 0) p += 3 * (size_t(2) << (b[10] & 7));
        int disposal = 0, transparent = -1, delay = 0;
        int maxRight = GetU16LE(b.data() + 6), maxBottom = GetU16LE(b.data() + 8);
        bool looping = false;
        while (p < b.size() && frames_.size() < size_t(kMaxFrames)) {
            const uint8_t kind = b[p];
            if (kind == 0x21 && p + 2 < b.size()) {
                const uint8_t label = b[p + 1];
                p += 2;
                const size_t length = b[p];
                if (label == 0xF9 && length >= 4 && p + 5 < b.size()) {
                    disposal = (b[p + 1] >> 2) & 7;
                    transparent = (b[p + 1] & 1) != 0 ? b[p + 4] : -1;
                    delay = GetU16LE(b.data() + p + 2) * 10;
                } else if (label == 0xFF && length == 11 && p + 12 < b.size() &&
                           (std::memcmp(b.data() + p + 1, "NETSCAPE2.0", 11) == 0 ||
                            std::memcmp(b.data() + p + 1, "ANIMEXTS1.0", 11) == 0)) {
                    const size_t q = p + 12;
                    if (q + 3 < b.size() && b[q] >= 3 && b[q + 1] == 1) {
                        const int count = GetU16LE(b.data() + q + 2);
                        loopCount_ = count == 0 ? 0 : std::min(count + 1, 65536);
                        looping = true;
                    }
                }
                if (!SkipSubBlocks(b, p)) break;
            } else if (kind == 0x2C && p + 10 <= b.size()) {
                TGifFrame f;
                f.offset = p;
                f.left = GetU16LE(b.data() + p + 1);
                f.top = GetU16LE(b.data() + p + 3);
                f.width = GetU16LE(b.data() + p + 5);
                f.height = GetU16LE(b.data() + p + 7);
                f.disposal = disposal;
                f.transparent = transparent;
                const uint8_t flags = b[p + 9];
                p += 10;
                if ((flags & 0x80) != 0) p += 3 * (size_t(2) << (flags & 7));
                p += 1;  // the code size
                if (f.width > 0 && f.height > 0) {
                    frames_.push_back(f);
                    delays_.push_back(ShownDelay(delay));
                    if (frames_.size() == 1) {
                        maxRight = std::max(maxRight, f.left + f.width);
                        maxBottom = std::max(maxBottom, f.top + f.height);
                    }
                }
                disposal = 0;
                transparent = -1;
                delay = 0;
                if (p > b.size() || !SkipSubBlocks(b, p)) break;
            } else {
                break;  // the trailer, or bytes that are no block
            }
        }
        // The walk stops at the trailer, or earlier when the file is cut or holds bytes that are
        // no block.
        fileCut_ = p >= b.size() || b[p] != 0x3B;
        if (!looping) loopCount_ = 1;
        if (frames_.size() < 2 || maxRight == 0 || maxBottom == 0) return false;
        // The canvas is the logical screen, grown to the first frame as a plain load shows it.
        TBitmap::CheckSize(maxRight, maxBottom);
        canvas_.width = maxRight;
        canvas_.height = maxBottom;
        return true;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        if (index + 1 < drawn_ || drawn_ == 0) Restart();
        while (drawn_ <= index) {
            CheckCancel();
            Draw(drawn_);
            ++drawn_;
        }
        std::unique_ptr<TBitmap> frame = canvas_.Snapshot();
        // A damaged frame is shown as far as it was read, and says so.
        std::string warning = warning_;
        if (warning.empty() && fileCut_ && index + 1 == Count())
            warning = "The GIF file ends after frame " + std::to_string(Count()) + ".";
        if (!warning.empty())
            frame->SetLoadWarning("Frame " + std::to_string(index + 1) + ": " + warning);
        return frame;
    }

  private:
    void Restart() {
        gif_.reset();
        memory_ = TGifMemory{bytes_->data(), bytes_->size(), 0};
        int error = 0;
        gif_.reset(DGifOpen(&memory_, &ReadGifMemory, &error));
        if (!gif_) throw EInvalidGraphic("The GIF file cannot be read.");
        canvas_.Reset();
        drawn_ = 0;
    }

    void Draw(int index) {
        if (index > 0) {
            const TGifFrame& previous = frames_[size_t(index - 1)];
            if (previous.disposal == 2)
                canvas_.Clear(previous.left, previous.top, previous.width, previous.height);
            else if (previous.disposal == 3)
                canvas_.Restore();
        }
        const TGifFrame& f = frames_[size_t(index)];
        if (f.disposal == 3) canvas_.Save();
        memory_.position = f.offset;
        warning_.clear();
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR || type != IMAGE_DESC_RECORD_TYPE ||
            DGifGetImageDesc(gif_.get()) == GIF_ERROR) {
            // A frame that cannot be read leaves the canvas as it is.
            warning_ = "The GIF frame cannot be read.";
            return;
        }
        const GifImageDesc& desc = gif_->Image;
        const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif_->SColorMap;
        uint8_t colours[256][4] = {};
        for (int i = 0; i < 256; ++i) {
            if (map != nullptr && map->Colors != nullptr && i < map->ColorCount) {
                colours[i][0] = map->Colors[i].Blue;
                colours[i][1] = map->Colors[i].Green;
                colours[i][2] = map->Colors[i].Red;
            }
            colours[i][3] = 255;
        }
        std::vector<uint8_t> line(size_t(desc.Width));
        for (int n = 0; n < desc.Height; ++n) {
            // The rows before damaged or missing data are shown; the rest of the frame leaves the
            // canvas as it was.
            if (!ReadGifRow(gif_.get(), line.data(), desc.Width, n + 1 == desc.Height)) {
                warning_ = DamagedGifWarning(gif_->Error, n, desc.Height);
                break;
            }
            const int64_t y =
                int64_t(desc.Top) + (desc.Interlace ? GifInterlacedRow(n, desc.Height) : n);
            if (y < 0 || y >= canvas_.height) continue;
            uint8_t* row = canvas_.Row(int(y));
            for (int x = 0; x < desc.Width; ++x) {
                const int64_t cx = int64_t(desc.Left) + x;
                if (cx >= canvas_.width) break;
                const uint8_t i = line[size_t(x)];
                if (i == f.transparent) continue;
                std::memcpy(row + 4 * cx, colours[i], 4);
            }
        }
    }

    TBytes bytes_;
    std::vector<TGifFrame> frames_;
    TCanvas canvas_;
    TGifMemory memory_;
    std::unique_ptr<GifFileType, TGifCloser> gif_;
    int drawn_ = 0;         // frames drawn on the canvas since the start
    std::string warning_;   // what went wrong in the frame drawn last
    bool fileCut_ = false;  // the file ends before its trailer
};

// ---------------------------------------------------------------------------------------------
// APNG

constexpr uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TSpan {
    size_t offset = 0, size = 0;
};

struct TPNGFrame {
    uint32_t width = 0, height = 0, left = 0, top = 0;
    int dispose = 0, blend = 0;
    std::vector<TSpan> data;
};

void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    PutU32BE(out, uint32_t(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0) out.insert(out.end(), data, data + size);
    uLong crc = crc32(0, out.data() + start, uInt(4));
    if (size > 0) crc = crc32(crc, data, uInt(size));
    PutU32BE(out, uint32_t(crc));
}

class TAPNGFrames : public TFrameReader {
  public:
    explicit TAPNGFrames(TBytes bytes)
        : TFrameReader(TFrameKind::Animation, "APNG"), bytes_(bytes) {}

    bool Scan() {
        const std::vector<uint8_t>& b = *bytes_;
        if (b.size() < 8 + 25 || std::memcmp(b.data(), kPNGSignature, 8) != 0) return false;
        size_t p = 8;
        bool animated = false, idat = false, broken = false;
        uint32_t declared = 0;
        std::vector<TPNGFrame> frames;
        while (p + 12 <= b.size() && !broken) {
            const uint32_t length = GetU32BE(b.data() + p);
            const uint8_t* type = b.data() + p + 4;
            const size_t data = p + 8;
            // Cut short (with its CRC): what came before stands.
            if (length > b.size() - data || b.size() - data - length < 4) break;
            const auto is = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
            if (p == 8) {
                if (!is("IHDR") || length != 13) return false;
                ihdr_.assign(b.data() + data, b.data() + data + 13);
                width_ = GetU32BE(b.data() + data);
                height_ = GetU32BE(b.data() + data + 4);
            } else if (is("acTL") && length == 8 && !idat) {
                animated = true;
                declared = GetU32BE(b.data() + data);
                loopCount_ = int(std::min<uint32_t>(GetU32BE(b.data() + data + 4), 65536));
            } else if (is("fcTL") && length == 26) {
                if (frames.size() >= std::min<uint32_t>(declared, kMaxFrames)) break;
                TPNGFrame f;
                f.width = GetU32BE(b.data() + data + 4);
                f.height = GetU32BE(b.data() + data + 8);
                f.left = GetU32BE(b.data() + data + 12);
                f.top = GetU32BE(b.data() + data + 16);
                const uint32_t num = GetU16BE(b.data() + data + 20);
                uint32_t den = GetU16BE(b.data() + data + 22);
                if (den == 0) den = 100;
                f.dispose = b[data + 24];
                f.blend = b[data + 25];
                if (f.width == 0 || f.height == 0 || uint64_t(f.left) + f.width > width_ ||
                    uint64_t(f.top) + f.height > height_ || f.dispose > 2 || f.blend > 1) {
                    broken = true;
                    break;
                }
                frames.push_back(f);
                delays_.push_back(ShownDelay(int64_t(num) * 1000 / den));
            } else if (is("IDAT")) {
                // The image data is the first frame when a frame control comes before it.
                if (!idat) fcTLBeforeData_ = frames.size() == 1;
                idat = true;
                if (fcTLBeforeData_ && frames.size() == 1) frames[0].data.push_back({data, length});
            } else if (is("fdAT")) {
                if (!frames.empty() && length > 4 && !(fcTLBeforeData_ && frames.size() == 1))
                    frames.back().data.push_back({data + 4, length - 4});
            } else if (is("IEND")) {
                break;
            } else if (!idat && !is("acTL") && !is("fcTL")) {
                header_.insert(header_.end(), b.data() + p, b.data() + data + length + 4);
            }
            p = data + size_t(length) + 4;
        }
        if (!animated || width_ == 0 || height_ == 0) return false;
        // Frames without data end the animation.
        size_t usable = 0;
        while (usable < frames.size() && !frames[usable].data.empty())
            ++usable;
        frames.resize(usable);
        delays_.resize(usable);
        if (frames.size() < 2) return false;
        if (frames[0].dispose == 2) frames[0].dispose = 1;
        frames_ = std::move(frames);
        TBitmap::CheckSize(width_, height_);
        canvas_.width = int(width_);
        canvas_.height = int(height_);
        return true;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        if (index + 1 < drawn_ || drawn_ == 0) {
            canvas_.Reset();
            drawn_ = 0;
        }
        if (index + 1 == drawn_) return canvas_.Snapshot();
        while (drawn_ <= index) {
            CheckCancel();
            Draw(drawn_);
            ++drawn_;
        }
        return canvas_.Snapshot();
    }

  private:
    void Draw(int index) {
        if (index > 0) {
            const TPNGFrame& previous = frames_[size_t(index - 1)];
            if (previous.dispose == 1)
                canvas_.Clear(int(previous.left), int(previous.top), int(previous.width),
                              int(previous.height));
            else if (previous.dispose == 2)
                canvas_.Restore();
        }
        const TPNGFrame& f = frames_[size_t(index)];
        if (f.dispose == 2) canvas_.Save();

        // The frame as a PNG file of its own: the header chunks with the frame's size, its data.
        const std::vector<uint8_t>& b = *bytes_;
        std::vector<uint8_t> png(kPNGSignature, kPNGSignature + 8);
        uint8_t ihdr[13];
        std::memcpy(ihdr, ihdr_.data(), 13);
        PutU32BE32(ihdr, f.width);
        PutU32BE32(ihdr + 4, f.height);
        PutChunk(png, "IHDR", ihdr, 13);
        png.insert(png.end(), header_.begin(), header_.end());
        for (const TSpan& s : f.data)
            PutChunk(png, "IDAT", b.data() + s.offset, s.size);
        PutChunk(png, "IEND", nullptr, 0);

        TPNGGraphic picture;
        picture.SetCancelFlag(cancel_);
        try {
            TMemoryStream stream(std::move(png));
            picture.LoadFromStream(stream);
        } catch (const EAbort&) {
            throw;
        } catch (const EImagingError&) {
            return;  // a frame that cannot be read leaves the canvas as it is
        }
        if (picture.Width() != int(f.width) || picture.Height() != int(f.height)) return;
        const TComposition composition = BitmapComposition(picture, picture.Transparent());
        std::vector<uint8_t> row(size_t(f.width) * 4);
        for (int y = 0; y < int(f.height); ++y) {
            ComposeScanLine(picture, y, composition, row.data());
            uint8_t* target = canvas_.Row(int(f.top) + y) + 4 * size_t(f.left);
            if (f.blend == 0)
                std::memcpy(target, row.data(), row.size());
            else
                BlendOver(row.data(), target, int(f.width));
        }
    }

    static void PutU32BE32(uint8_t* p, uint32_t v) {
        p[0] = uint8_t(v >> 24);
        p[1] = uint8_t(v >> 16);
        p[2] = uint8_t(v >> 8);
        p[3] = uint8_t(v);
    }

    TBytes bytes_;
    std::vector<uint8_t> ihdr_, header_;
    uint32_t width_ = 0, height_ = 0;
    bool fcTLBeforeData_ = false;
    std::vector<TPNGFrame> frames_;
    TCanvas canvas_;
    int drawn_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Animated WebP

struct TAnimDecoderCloser {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

class TWebPFrames : public TFrameReader {
  public:
    explicit TWebPFrames(TBytes bytes)
        : TFrameReader(TFrameKind::Animation, "WebP"), bytes_(bytes) {}

    bool Scan() {
        const WebPData data{bytes_->data(), bytes_->size()};
        WebPDemuxer* demux = WebPDemux(&data);
        if (demux == nullptr) return false;
        const uint32_t flags = WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS);
        width_ = int(std::min<uint32_t>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH), INT32_MAX));
        height_ = int(std::min<uint32_t>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT), INT32_MAX));
        loopCount_ = int(std::min<uint32_t>(WebPDemuxGetI(demux, WEBP_FF_LOOP_COUNT), 65536));
        WebPIterator it;
        if ((flags & ANIMATION_FLAG) != 0 && WebPDemuxGetFrame(demux, 1, &it)) {
            do {
                delays_.push_back(ShownDelay(it.duration));
            } while (delays_.size() < size_t(kMaxFrames) && WebPDemuxNextFrame(&it));
            WebPDemuxReleaseIterator(&it);
        }
        WebPDemuxDelete(demux);
        if (delays_.size() < 2) return false;
        TBitmap::CheckSize(width_, height_);
        return true;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        if (!decoder_) {
            WebPAnimDecoderOptions options;
            if (!WebPAnimDecoderOptionsInit(&options))
                throw EInvalidGraphic("libwebp is unusable.");
            options.color_mode = MODE_BGRA;
            options.use_threads = 0;
            const WebPData data{bytes_->data(), bytes_->size()};
            decoder_.reset(WebPAnimDecoderNew(&data, &options));
            if (!decoder_) throw EInvalidGraphic("The animated WebP file cannot be read.");
            drawn_ = 0;
        }
        if (index + 1 < drawn_) {
            WebPAnimDecoderReset(decoder_.get());
            drawn_ = 0;
        }
        while (drawn_ <= index) {
            CheckCancel();
            int timestamp = 0;
            if (!WebPAnimDecoderGetNext(decoder_.get(), &last_, &timestamp)) {
                WebPAnimDecoderReset(decoder_.get());
                drawn_ = 0;
                throw EInvalidGraphic("Frame " + std::to_string(index + 1) +
                                      " of the WebP file cannot be decoded.");
            }
            ++drawn_;
        }
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPixelFormat(pf32bit);
        bitmap->SetSize(width_, height_);
        for (int y = 0; y < height_; ++y)
            std::memcpy(bitmap->ScanLine(y), last_ + size_t(y) * size_t(width_) * 4,
                        size_t(width_) * 4);
        bitmap->SetTransparentColor(clNone);
        bitmap->SetTransparent(true);
        return bitmap;
    }

  private:
    TBytes bytes_;
    int width_ = 0, height_ = 0;
    std::unique_ptr<WebPAnimDecoder, TAnimDecoderCloser> decoder_;
    uint8_t* last_ = nullptr;
    int drawn_ = 0;
};

// ---------------------------------------------------------------------------------------------
// AVIF sequences

struct TAvifCloser {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

class TAVIFFrames : public TFrameReader {
  public:
    explicit TAVIFFrames(TBytes bytes)
        : TFrameReader(TFrameKind::Animation, "AVIF"), bytes_(bytes) {}

    bool Scan() {
        decoder_.reset(avifDecoderCreate());
        if (!decoder_) return false;
        decoder_->maxThreads = 1;
        decoder_->imageSizeLimit = uint32_t(std::min<uint64_t>(TBitmap::MaxPixels(), UINT32_MAX));
        decoder_->strictFlags = AVIF_STRICT_DISABLED;
        decoder_->ignoreExif = AVIF_TRUE;
        decoder_->ignoreXMP = AVIF_TRUE;
        if (avifDecoderSetIOMemory(decoder_.get(), bytes_->data(), bytes_->size()) !=
                AVIF_RESULT_OK ||
            avifDecoderParse(decoder_.get()) != AVIF_RESULT_OK)
            return false;
        const int count = std::min(decoder_->imageCount, kMaxFrames);
        if (count < 2) return false;
        for (int i = 0; i < count; ++i) {
            avifImageTiming timing;
            const double seconds =
                avifDecoderNthImageTiming(decoder_.get(), uint32_t(i), &timing) == AVIF_RESULT_OK
                    ? timing.duration
                    : 0.0;
            delays_.push_back(ShownDelay(int64_t(std::clamp(seconds, 0.0, 600.0) * 1000 + 0.5)));
        }
        return true;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        if (avifDecoderNthImage(decoder_.get(), uint32_t(index)) != AVIF_RESULT_OK)
            throw EInvalidGraphic("Frame " + std::to_string(index + 1) +
                                  " of the AVIF file cannot be decoded.");
        const avifImage& image = *decoder_->image;
        if (image.width == 0 || image.height == 0 || image.width > uint32_t(INT32_MAX) ||
            image.height > uint32_t(INT32_MAX))
            throw EInvalidGraphic("The AVIF frame is empty.");
        TBitmap::CheckSize(image.width, image.height);
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetPixelFormat(pf32bit);
        bitmap->SetSize(int(image.width), int(image.height));
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, &image);
        rgb.format = AVIF_RGB_FORMAT_BGRA;
        rgb.depth = 8;
        rgb.pixels = bitmap->ScanLine(0);
        rgb.rowBytes = uint32_t(bitmap->RowStride());
        if (avifImageYUVToRGB(&image, &rgb) != AVIF_RESULT_OK)
            throw EInvalidGraphic("The AVIF frame cannot be converted.");
        bitmap->SetTransparentColor(clNone);
        bitmap->SetTransparent(image.alphaPlane != nullptr);
        return bitmap;
    }

  private:
    TBytes bytes_;
    std::unique_ptr<avifDecoder, TAvifCloser> decoder_;
};

// ---------------------------------------------------------------------------------------------
// Pages

class TTIFFPages : public TFrameReader {
  public:
    explicit TTIFFPages(TBytes bytes) : TFrameReader(TFrameKind::Pages, "TIFF"), bytes_(bytes) {}

    // Walks the directory chain; a directory seen twice or outside the file ends it.
    bool Scan() {
        const std::vector<uint8_t>& b = *bytes_;
        if (b.size() < 8) return false;
        const bool big = b[0] == 'M';
        if (!((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')) ||
            GetU16(b.data() + 2, big) != 42)
            return false;
        uint64_t offset = GetU32(b.data() + 4, big);
        std::unordered_set<uint64_t> seen;
        while (offset >= 8 && offset + 2 <= b.size() && delays_.size() < size_t(kMaxFrames) &&
               seen.insert(offset).second) {
            const uint64_t next = offset + 2 + uint64_t(GetU16(b.data() + offset, big)) * 12;
            if (next + 4 > b.size()) break;
            delays_.push_back(0);
            offset = GetU32(b.data() + next, big);
        }
        return delays_.size() >= 2;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        auto page = std::make_unique<TTIFFGraphic>();
        page->SetCancelFlag(cancel_);
        page->SetPageIndex(uint32_t(index));
        TMemoryStream stream(bytes_->data(), int64_t(bytes_->size()));
        page->LoadFromStream(stream);
        page->SetCancelFlag(nullptr);
        return page;
    }

  private:
    TBytes bytes_;
};

class TIconPages : public TFrameReader {
  public:
    explicit TIconPages(TBytes bytes) : TFrameReader(TFrameKind::Pages, "icon"), bytes_(bytes) {}

    bool Scan() {
        const std::vector<uint8_t>& b = *bytes_;
        if (b.size() < 6 || GetU16LE(b.data()) != 0 ||
            (GetU16LE(b.data() + 2) != 1 && GetU16LE(b.data() + 2) != 2))
            return false;
        const int count = std::min<int>(GetU16LE(b.data() + 4), kMaxFrames);
        if (count < 2 || 6 + 16 * size_t(count) > b.size()) return false;
        delays_.assign(size_t(count), 0);
        // The page a plain load shows.
        TIcon icon;
        TMemoryStream stream(b.data(), int64_t(b.size()));
        try {
            icon.LoadFromStream(stream);
            defaultIndex_ = std::clamp(icon.EntryIndex(), 0, count - 1);
        } catch (const EImagingError&) {
        }
        return true;
    }

  protected:
    std::unique_ptr<TBitmap> Decode(int index) override {
        auto page = std::make_unique<TIcon>();
        page->SetEntry(index);
        TMemoryStream stream(bytes_->data(), int64_t(bytes_->size()));
        page->LoadFromStream(stream);
        return page;
    }

  private:
    TBytes bytes_;
};

template <class R>
std::unique_ptr<TFrameReader> Try(const TBytes& bytes) {
    auto reader = std::make_unique<R>(bytes);
    if (!reader->Scan()) return nullptr;
    return reader;
}

}  // namespace

std::unique_ptr<TFrameReader> OpenFrameReader(TBytes bytes) {
    if (!bytes) return nullptr;
    const std::vector<uint8_t>& b = *bytes;
    try {
        if (b.size() >= 6 && std::memcmp(b.data(), "GIF8", 4) == 0) return Try<TGIFFrames>(bytes);
        if (b.size() >= 8 && std::memcmp(b.data(), kPNGSignature, 8) == 0)
            return Try<TAPNGFrames>(bytes);
        if (b.size() >= 12 && std::memcmp(b.data(), "RIFF", 4) == 0 &&
            std::memcmp(b.data() + 8, "WEBP", 4) == 0)
            return Try<TWebPFrames>(bytes);
        if (b.size() >= 4 && ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')))
            return Try<TTIFFPages>(bytes);
        if (b.size() >= 6 && b[0] == 0 && b[1] == 0 && (b[2] == 1 || b[2] == 2) && b[3] == 0)
            return Try<TIconPages>(bytes);
        TMemoryStream stream(b.data(), int64_t(b.size()));
        const std::string brands = ReadFileTypeBrands(stream);
        if (HasBrand(brands, "avis") || HasBrand(brands, "avif")) return Try<TAVIFFrames>(bytes);
    } catch (const EImagingError&) {
    }
    return nullptr;
}

namespace {

// Whether the file may hold frames, from its first bytes (and for PNG its chunks before the image
// data), so that single pictures are not read a second time.
bool MayHoldFrames(TStream& file) {
    uint8_t head[16] = {};
    const int64_t got = file.Read(head, sizeof head);
    file.SetPosition(0);
    if (got < 8) return false;
    if (std::memcmp(head, kPNGSignature, 8) == 0) {
        // acTL comes before the first IDAT.
        int64_t p = 8;
        for (int chunks = 0; chunks < 10000 && p + 8 <= file.Size(); ++chunks) {
            uint8_t chunk[8];
            file.SetPosition(p);
            if (file.Read(chunk, 8) != 8) break;
            if (std::memcmp(chunk + 4, "acTL", 4) == 0) {
                file.SetPosition(0);
                return true;
            }
            if (std::memcmp(chunk + 4, "IDAT", 4) == 0) break;
            p += 12 + int64_t(GetU32BE(chunk));
        }
        file.SetPosition(0);
        return false;
    }
    return std::memcmp(head, "GIF8", 4) == 0 ||
           (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0) ||
           std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0 ||
           (head[0] == 0 && head[1] == 0 && (head[2] == 1 || head[2] == 2) && head[3] == 0) ||
           std::memcmp(head + 4, "ftyp", 4) == 0;
}

}  // namespace

std::unique_ptr<TFrameReader> OpenFrameReader(const std::string& fileName, int64_t maxBytes) {
    try {
        TFileStream file(fileName);
        if (file.Size() > maxBytes || !MayHoldFrames(file)) return nullptr;
        auto bytes = std::make_shared<std::vector<uint8_t>>(file.ReadBytes(file.Size()));
        return OpenFrameReader(TBytes(std::move(bytes)));
    } catch (const EImagingError&) {
        return nullptr;
    }
}
