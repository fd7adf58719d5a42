#pragma once
// TFrameReader: the frames of an animation (GIF, APNG, animated WebP, AVIF sequences) or the pages
// of a multi-image file (TIFF directories, icon entries), read from the file's bytes held in
// memory. A plain load of the picture is untouched by it: the viewer and velkaro-decode open a
// reader beside the loaded picture when they want more than its first image.
//
// Opening reads only the frame or page table (no pixels). Frame(i) decodes one frame at a time:
// animation frames are composed on the canvas as shown on screen (each frame's disposal and
// blending over the canvas left by the frames before it), so the reader keeps the canvas (and
// the one saved for a "restore previous" disposal) and nothing else. Going forward costs one
// frame; going back starts again from the first frame. Every frame is a pf32bit bitmap with
// alpha the size of the canvas; a page is the bitmap its format's loader makes of it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

enum class TFrameKind : uint8_t { Animation, Pages };

class TFrameReader {
  public:
    // Most frames or pages a reader takes from one file; the rest are left out.
    static constexpr int kMaxFrames = 10000;
    // Browsers show frames that ask for less than this many milliseconds for kSlowDelay.
    static constexpr int kFastestDelay = 20;
    static constexpr int kSlowDelay = 100;

    virtual ~TFrameReader() = default;
    TFrameReader(const TFrameReader&) = delete;
    TFrameReader& operator=(const TFrameReader&) = delete;

    TFrameKind Kind() const { return kind_; }
    // Frames or pages: at least 2 (a file of one image gets no reader).
    int Count() const { return int(delays_.size()); }
    // The page a plain load shows (an icon's largest entry), else 0.
    int DefaultIndex() const { return defaultIndex_; }
    // How long frame index stays on screen, in milliseconds (0 for pages).
    int DelayMs(int index) const;
    // How many times the animation plays; 0 for ever.
    int LoopCount() const { return loopCount_; }
    // Format name for messages ("GIF", "APNG", ...).
    const char* FormatName() const { return format_; }

    // Frame or page index (0-based) as shown; throws EInvalidGraphic when index is out of
    // range or the frame cannot be decoded, EAbort when the cancel flag is raised.
    std::unique_ptr<TBitmap> Frame(int index);

    // A flag another thread may raise to end a Frame call early (null: never). It must outlive
    // the calls it cancels.
    void SetCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

    // The milliseconds a frame of stored delay ms is shown for.
    static int ShownDelay(int64_t ms);

  protected:
    TFrameReader(TFrameKind kind, const char* format) : kind_(kind), format_(format) {}
    virtual std::unique_ptr<TBitmap> Decode(int index) = 0;
    // Throws EAbort when the cancel flag is raised.
    void CheckCancel() const;

    TFrameKind kind_;
    const char* format_;
    std::vector<int> delays_;  // one a frame, as shown (ms); the count of frames
    int loopCount_ = 0;
    int defaultIndex_ = 0;
    const std::atomic<bool>* cancel_ = nullptr;
};

// The reader of the file held in bytes, or null when it holds a single image or a format
// without frames. Malformed frame tables give null or fewer frames, never an error.
std::unique_ptr<TFrameReader> OpenFrameReader(std::shared_ptr<const std::vector<uint8_t>> bytes);
// The same for a file on disk (read whole, when not larger than maxBytes); null when it cannot
// be read.
std::unique_ptr<TFrameReader> OpenFrameReader(const std::string& fileName,
                                              int64_t maxBytes = int64_t(1) << 30);
