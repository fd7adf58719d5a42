#pragma once
// TFormatGraphic: the base of every format loader. It is a TBitmap that also owns a colour
// manager, the image properties a loader reads from the file header, the stream being loaded
// and the rectangle reported with progress events.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ColorManager.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"

// Flags of TImageProperties::Options (bit values).
enum TImageOption : uint8_t {
    optTiled = 1,             // TIFF with both tile width and tile length
    optBigEndian = 2,         // multi-byte values in the file are big-endian
    optMinIsWhite = 4,        // TIFF photometric interpretation 0
    optReversedBitOrder = 8,  // TIFF fill order 2
    optGammaGiven = 16        // the file gives a gamma and it is applied to the colour manager
};
// A set of TImageOption held in one byte.
using TImageOptions = uint8_t;

// Compression of the pixel data (TIFF tag values in the comments).
enum TCompressionKind : uint8_t {
    compUnknown = 0,                   // any other
    compNone = 1,                      // 1
    compRLE = 2,                       // format-specific run-length (SGI, Targa, PCX, CUT)
    compPackBits = 3,                  // 32773
    compLZW = 4,                       // 5
    compCCITTFax3 = 5,                 // 3
    compCCITTModifiedHuffman = 6,      // 2
    compCCITTFax4 = 7,                 // 4
    compCCITTModifiedHuffmanWord = 8,  // 32771
    compLZ77 = 9,                      // 8 and 32946
    compJPEG = 10,                     // 7
    compOldJPEG = 11,                  // 6
    compThunderscan = 12,              // 32809
    compNeXT = 13,                     // 32766
    compIT8CTPad = 14,                 // 32895
    compIT8LW = 15,                    // 32896
    compIT8MP = 16,                    // 32897
    compIT8BL = 17,                    // 32898
    compPixarFilm = 18,                // 32908
    compPixarLog = 19,                 // 32909
    compKodakDCS = 20,                 // 32947
    compJBIG = 21,                     // 34661
    compPCDHuffman = 22                // Photo-CD base x 4 and larger resolutions
};

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;

// What a loader learns from the file header. A value-initialised record is the reset state:
// every field zero, false or empty, and Gamma 1.0.
struct TImageProperties {
    uint32_t Version = 0;  // format version (TIFF: 42)
    TImageOptions Options = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    TColorSchemeKind ColorScheme = schemeUnknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;  // BitsPerSample x SamplesPerPixel
    TCompressionKind Compression = compUnknown;
    float Gamma = 1.0f;
    float XResolution = 0;  // dots per inch
    float YResolution = 0;
    bool Interlaced = false;
    bool HasAlpha = false;
    uint32_t FirstIFDOffset = 0;
    uint32_t PlanarConfiguration = 0;  // 1 interleaved samples, 2 separate planes
    uint32_t CurrentRow = 0;           // row at which decoding of the current strip begins
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    uint32_t BytesPerLine = 0;  // bytes of one decoded row of a strip
    TCardinalArray RowsPerStrip;
    TByteArray YCbCrSubsampling;
    TByteArray JPEGTables;
    uint32_t JPEGColorMode = 0;
    uint32_t JPEGTablesMode = 0;
    uint32_t CurrentStrip = 0;
    uint32_t StripCount = 0;
    uint32_t Predictor = 0;
    bool PCDOverview = false;
    uint8_t PCDRotation = 0;
    uint16_t PCDImageCount = 0;
    bool RLABottomUp = false;
    uint8_t PSDChannels = 0;
    uint8_t PNGFilterMode = 0;

    bool operator==(const TImageProperties&) const = default;
};

class TFormatGraphic : public TBitmap {
  public:
    // Descriptor of the base; its Parent is TBitmap's. Format classes give their own, with
    // this one as Parent and their ProbeStream.
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // Creates the colour manager with its defaults.
    TFormatGraphic();
    ~TFormatGraphic() override;

    // From another format graphic the image properties are taken first; then the bitmap is
    // copied as by TBitmap (which refuses graphics that are not bitmaps).
    void Assign(const TGraphic& source) override;
    // Refuses with SaveNotSupported: a loader does not write its format (nor a Windows bitmap
    // in its place). Formats that write override it.
    void SaveToStream(TStream& stream) override;
    // The format's short name in messages: the class name without its "T" and "Graphic"
    // ("TPCXGraphic" gives "PCX").
    std::string FormatName() const;

    // Opens the file for reading and returns the probe of graphicClass (false when the class
    // has no probe). The file is closed again also when the probe throws.
    static bool ProbeFile(const std::string& fileName,
                          const TGraphicClass& graphicClass = ClassInfo());
    // Whether the stream starts with this format's signature; false in the base. Format
    // classes hide it with their own and put theirs in their descriptor.
    static bool ProbeStream(TStream& stream);
    // Reads the header of image imageIndex into ImageProperties and returns whether the stream
    // holds an image of this format. The base resets the record and returns false; formats
    // call it first.
    virtual bool ReadProperties(TStream& stream, uint32_t imageIndex);

    TColorManager& ColorManager() const { return *colorManager_; }
    // Hands the picture's ink profile (when it has one and colour management is on) to the colour
    // manager, for CMYK pictures: called once the profile is read.
    void UseInkProfile();
    // The shape of pictures that a library decodes to 8-bit samples: readies the colour manager
    // for rows of red, green, blue (blue, green, red when blueFirst), with alpha when alpha, into
    // the bitmap's blue-green-red(-alpha) rows, and makes the 24- or 32-bit bitmap of that size.
    // A size no bitmap holds raises the invalid-picture error with the format's name.
    void PrepareEightBitColorRows(bool alpha, bool blueFirst, uint32_t width, uint32_t height,
                                  const char* formatName);
    const TImageProperties& ImageProperties() const { return imageProperties_; }
    TImageProperties& ImageProperties() { return imageProperties_; }
    // Stream position at which the image begins; loaders seek relative to it.
    int64_t StartPosition() const { return startPosition_; }
    void SetStartPosition(int64_t value) { startPosition_ = value; }
    // The stream being loaded (not owned), or null outside a load.
    TStream* Stream() const { return stream_; }
    void SetStream(TStream* value) { stream_ = value; }
    // Part of the image that the next progress event concerns.
    const TRect& ProgressArea() const { return progressArea_; }
    void SetProgressArea(const TRect& value) { progressArea_ = value; }

  protected:
    // Binds the stream for the length of a load: remembers its position in StartPosition and
    // the stream in Stream, and clears Stream again when the load ends (also on failure), so
    // it never points at a stream that is gone. The colour profile of an earlier load is dropped.
    class TLoadScope {
      public:
        TLoadScope(TFormatGraphic& graphic, TStream& stream);
        // The start of most loads: clears the bitmap, binds the stream as above and reads the
        // properties of image imageIndex, raising the invalid-format error with formatName when
        // the stream holds no such image.
        TLoadScope(TFormatGraphic& graphic, TStream& stream, const char* formatName,
                   uint32_t imageIndex = 0);
        ~TLoadScope();
        TLoadScope(const TLoadScope&) = delete;
        TLoadScope& operator=(const TLoadScope&) = delete;

      private:
        static TFormatGraphic& Cleared(TFormatGraphic& graphic);

        TFormatGraphic& graphic_;
    };

    // Reports progress with ProgressArea as the rectangle.
    void ProgressInArea(TProgressStage stage, uint8_t percent, bool redrawNow,
                        const std::string& msg) {
        Progress(stage, percent, redrawNow, progressArea_, msg);
    }

    // Row progress of a load that fills the bitmap row by row. StartRowProgress makes the
    // progress area the first row (width pixels wide, one row high) and reports the start
    // with msg; RowProgress reports row (0-based) of height as done, in percent
    // row * 100 / height with the area on that row, and then moves the area one row down;
    // EndProgress reports the end.
    void StartRowProgress(uint32_t width, const std::string& msg);
    void RowProgress(uint32_t row, uint32_t height);
    void EndProgress() { ProgressInArea(psEnding, 0, false, {}); }

    // Reports the end of progress when it goes out of scope, so that a load that fails still
    // sends the ending stage. A load that succeeds calls End() before Changed(), so the ending
    // stage comes before the change; Dismiss() only forgets it.
    class TProgressGuard {
      public:
        explicit TProgressGuard(TFormatGraphic& graphic) : graphic_(&graphic) {}
        ~TProgressGuard() {
            if (graphic_ != nullptr) graphic_->EndProgress();
        }
        TProgressGuard(const TProgressGuard&) = delete;
        TProgressGuard& operator=(const TProgressGuard&) = delete;
        void Dismiss() { graphic_ = nullptr; }
        void End() {
            if (graphic_ != nullptr) std::exchange(graphic_, nullptr)->EndProgress();
        }

      private:
        TFormatGraphic* graphic_;
    };

    // Frees a buffer when the load ends, also on failure: the whole file that loaders backed by
    // a decoding library keep between ReadProperties and the decode.
    class TReleaseBytes {
      public:
        explicit TReleaseBytes(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
        ~TReleaseBytes() { std::vector<uint8_t>().swap(bytes_); }
        TReleaseBytes(const TReleaseBytes&) = delete;
        TReleaseBytes& operator=(const TReleaseBytes&) = delete;

      private:
        std::vector<uint8_t>& bytes_;
    };

    std::unique_ptr<TColorManager> colorManager_;
    TImageProperties imageProperties_;
    int64_t startPosition_ = 0;
    TStream* stream_ = nullptr;
    TRect progressArea_;
};
