#pragma once
// TGraphic: the abstract picture that a TPicture holds, and TGraphicClass, the descriptor that
// lets registries bind file extensions to graphic classes.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Stream.h"

// Colour value: 0x00BBGGRR for a direct colour, 0x80000000 + n for system colour n.
using TColor = int32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const TRect&) const = default;
};

enum TProgressStage : uint8_t { psStarting = 0, psRunning = 1, psEnding = 2 };

class TGraphic;
class TStream;

// Progress notification: sender, stage, percent done (0..100), redraw-now flag, the rectangle
// of rows that changed and a message ("Preparing...", "Loading data...", ...).
using TProgressEvent =
    std::function<void(TGraphic* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                       const TRect& rect, const std::string& msg)>;
using TNotifyEvent = std::function<void(TGraphic* sender)>;

// What a viewer wants of a reduced decode (see TGraphic::PrepareReducedLoad and DecodeReduced).
struct TReducedDecode {
    // The scale the picture will be shown at, for its full size (a fitted view depends on it).
    std::function<double(int width, int height)> Scale;
    // Receives smaller pictures to show until the decode ends (an embedded thumbnail, a
    // progressive file's first scan), on the decoding thread. Null: none are wanted.
    std::function<void(std::unique_ptr<TGraphic> preview)> OnPreview;
    // The longer side a preview needs to stand in for the picture (a thumbnail's size): a
    // preview at least this large ends the decode once offered, DecodeReduced returning true
    // without pixels of its own. 0: previews never end the decode.
    int EnoughSide = 0;
    // The caller draws a picture made of vectors (a metafile, an SVG document) from its
    // document at the size it wants: the load need not draw it at its natural size.
    bool DrawsVectors = false;
};

// The power of two a picture shown at scale (half size or less) is reduced by: the largest whose
// picture is not smaller than the view, from 1 to most.
int ReducedDecodePower(double scale, int most);

// Describes one graphic class: its name, how to create an instance and how to recognise its
// files. Classes are identified by the address of their descriptor.
struct TGraphicClass {
    const char* ClassName;
    std::function<std::unique_ptr<TGraphic>()> Create;
    // Whether the stream, at its current position, starts with the class's signature; leaves
    // the position where it was. Null for classes that cannot tell.
    std::function<bool(TStream&)> ProbeStream;
    // The class this one derives from (for "is a" checks), or null.
    const TGraphicClass* Parent = nullptr;

    bool InheritsFrom(const TGraphicClass* other) const {
        for (const TGraphicClass* c = this; c != nullptr; c = c->Parent)
            if (c == other) return true;
        return false;
    }
};

class TGraphic {
  public:
    TGraphic() = default;
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual const TGraphicClass& ClassType() const = 0;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const = 0;
    virtual bool Transparent() const { return transparent_; }
    virtual void SetTransparent(bool value);

    // Loads the graphic from the stream's current position; throws on failure.
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream);
    // Opens the file and loads it through LoadFromStream. Virtual for formats that also read
    // files beside the image (a palette file of the same name, say).
    virtual void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

    // Copies another graphic into this one; throws EInvalidGraphic when it cannot.
    virtual void Assign(const TGraphic& source);
    // Copies this graphic into dest when this class knows how; Assign of a class that does not
    // know the source's class asks the source this way. Returns false when it cannot.
    virtual bool AssignTo(TGraphic& dest) const {
        (void)dest;
        return false;
    }

    // Reduced decoding: a class that can decode its picture smaller than full size for less
    // work (DCT scaling, resolution levels, an embedded thumbnail) overrides these two; the
    // defaults decode the whole picture.
    // Called before LoadFromStream with the file about to be loaded: true when the load will
    // read a quick reduced picture only (the caller shows it, then loads the file again at full
    // size), with the picture's full size.
    virtual bool PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish,
                                    int& fullWidth, int& fullHeight) {
        (void)fileName, (void)wish, (void)fullWidth, (void)fullHeight;
        return false;
    }
    // Called after the load: decodes the pixels now, as small as the view allows, offering
    // previews on the way. True when the result is smaller than the picture and nothing larger
    // follows (a larger view asks for a new decode).
    virtual bool DecodeReduced(const TReducedDecode& wish) {
        (void)wish;
        return false;
    }
    // Memory held besides the pixels (a compressed picture's bytes kept for its decode).
    virtual size_t EncodedBytes() const { return 0; }

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

    // Signals a change to OnChange.
    virtual void Changed();
    // Forwards a progress notification to OnProgress. While a load or decode runs (any stage
    // but the ending), a raised cancel flag ends it here with EAbort.
    void Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                  const std::string& msg);

    // A flag another thread may raise to cancel this graphic's load or decode; it is polled
    // wherever progress is reported. Null (the default) means never cancelled. The flag must
    // outlive the work it cancels.
    void SetCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }
    bool Cancelled() const {
        return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed);
    }

    // The ICC colour profile the file embeds (empty when it has none), kept by the loader for
    // the colour conversion and for showing the profile's name. Setting it marks it as not yet
    // applied to the pixels.
    const std::vector<uint8_t>& IccProfile() const { return iccProfile_; }
    void SetIccProfile(std::vector<uint8_t> profile) {
        iccProfile_ = std::move(profile);
        profileApplied_ = false;
    }
    // Whether the pixels have been converted from IccProfile() already.
    bool ProfileApplied() const { return profileApplied_; }
    void SetProfileApplied(bool value) { profileApplied_ = value; }

    // What a load that succeeded has to say about the file: empty when it read the whole
    // picture, else one sentence for the status line (a damaged file shown as far as it could
    // be read). Every load replaces it.
    const std::string& LoadWarning() const { return loadWarning_; }
    void SetLoadWarning(std::string text) { loadWarning_ = std::move(text); }

  protected:
    std::string loadWarning_;
    bool transparent_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
    std::vector<uint8_t> iccProfile_;
    bool profileApplied_ = false;
};
