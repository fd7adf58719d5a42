#pragma once
// TJPEGImage: a JPEG (JFIF) picture. It keeps the file's compressed bytes (shared between
// copies), reads only the header when loaded and decodes the picture through libjpeg into an
// internal TBitmap the first time its pixels are needed. A picture assigned from a bitmap is
// encoded when it is saved. CMYK and YCCK files are converted by the colour manager; the EXIF
// orientation of a photo turns the decoded bitmap.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"

// The compressed bytes of a JPEG file (pixel memory: no zero pass before they are read in).
using TJPEGBytes = std::vector<uint8_t, TPixelAllocator<uint8_t>>;

// Options of a JPEG picture; every new TJPEGImage starts with a copy of DefaultJpegOptions.
struct TJPEGOptions {
    uint8_t SaveQuality = 90;      // quality given to the encoder (1..100)
    bool GrayOutput = false;       // decode (and encode) as grayscale
    bool FastDecode = false;       // fast integer IDCT, one-pass quantization, ordered dither
    bool EightBitOutput = false;   // decode to an 8-bit bitmap quantized to 236 colours (not
                                   // CMYK files, which always give 24 bits)
    bool ShowScans = false;        // show a progressive file scan by scan while it decodes
    bool ProgressiveSave = false;  // encode progressively; set from the file when loaded
    uint8_t ScalePower = 0;        // decode at 1/2^n of full size, n = 0..3
    bool BlockSmoothing = true;    // libjpeg's block smoothing of multi-scan files

    bool operator==(const TJPEGOptions&) const = default;
};

// Program-wide defaults copied into every new TJPEGImage.
extern TJPEGOptions DefaultJpegOptions;

// Tells the JPEG support the depth of the screen (bits per pixel times planes): at 8 bits or
// fewer, DefaultJpegOptions.EightBitOutput is switched on and 24-bit pictures offer a halftone
// palette. Called once at program start.
void SetJpegScreenDepth(int bitsPerPixel);

// Binds "jpeg" and "jpg" to TJPEGImage in the picture holder's table ("JPEG Image File"), and
// removes the class from it again.
void RegisterJPEGImage();
void UnregisterJPEGImage();

class TJPEGImage : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }
    // Whether the stream, at its position, starts with a JPEG start-of-image marker; keeps the
    // position.
    static bool ProbeStream(TStream& stream);

    TJPEGImage();
    ~TJPEGImage() override;

    // The size the picture is shown at: the decoded bitmap's if there is one (and its decode
    // has ended); otherwise the header's, reduced by the scale when ScalePower is not 0, with
    // width and height exchanged when the EXIF orientation turns the picture a quarter (and
    // TBitmap::AutoOrient() is on).
    int Width() const override;
    int Height() const override;
    // Always throw EInvalidGraphic "Cannot change the size of a JPEG image".
    void SetWidth(int width);
    void SetHeight(int height);
    // False as soon as bytes are held (even none); otherwise whether a decoded bitmap is absent
    // or empty.
    bool Empty() const override;

    // Takes every byte from the stream's position to its end and reads the JPEG header.
    // Throws EJPEG "JPEG error #n" when the bytes are not a JPEG file.
    void LoadFromStream(TStream& stream) override;
    // Writes the JPEG bytes, encoding the bitmap first when no bytes are held.
    void SaveToStream(TStream& stream) override;
    // Streamed form: a 32-bit little-endian byte count, then the bytes of the JPEG file.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;

    // From another TJPEGImage: share its bytes (and copy its decoded bitmap). From a bitmap:
    // hold a copy of it (encoded when saved).
    void Assign(const TGraphic& source) override;
    // Gives a TBitmap the decoded picture.
    bool AssignTo(TGraphic& dest) const override;
    // Whether other is a TJPEGImage sharing the same bytes.
    bool Equals(const TGraphic& other) const;

    // The decoded picture; decodes on first need. A decoding error is thrown once, by the call
    // that started decoding; the bitmap made then stays and later calls return it as it is.
    const TBitmap& Bitmap() const;
    // Decodes now when no bitmap exists yet (same error rule as Bitmap()).
    void DIBNeeded();
    bool HasBitmap() const { return bitmap_ != nullptr; }
    // Encodes the bitmap into new JPEG bytes (a held byte set is replaced).
    void Compress();

    // The bytes held (none when the picture was assigned from a bitmap and not saved yet).
    bool HasData() const;
    const TJPEGBytes& Data() const;
    // Header values of the held bytes.
    bool Grayscale() const;
    // The EXIF orientation of the held bytes (1-8; 0 when the file has none or a broken one).
    // Decoding turns the bitmap by it when TBitmap::AutoOrient() is on.
    int Orientation() const;

    const TJPEGOptions& Options() const { return options_; }
    // Changing a decoding option drops a decoded bitmap (when bytes are held to decode again).
    void SetOptions(const TJPEGOptions& options);
    void SetScalePower(uint8_t value);
    void SetGrayOutput(bool value);
    void SetFastDecode(bool value);
    void SetEightBitOutput(bool value);
    void SetShowScans(bool value);
    void SetBlockSmoothing(bool value);
    void SetSaveQuality(uint8_t value);
    void SetProgressiveSave(bool value);

    // The decoded bitmap's palette; else the palette set with SetPalette; else, for 24-bit
    // output on a screen of 8 bits or fewer, a halftone palette (kept); else none.
    std::vector<TRGBQuad> Palette() const;
    // A palette to quantize 8-bit output to (empty: none). A different palette drops the decoded
    // bitmap and marks the palette modified.
    void SetPalette(const std::vector<TRGBQuad>& palette);
    bool PaletteModified() const { return paletteModified_; }
    void SetPaletteModified(bool value) { paletteModified_ = value; }

    // Called once while a multi-scan (progressive) file decodes, with the picture as its first
    // scan shows it (turned and in the screen's colours as the finished one will be), before the
    // other scans are read; for 24-bit colour output only. Null (the default): not called, and
    // the file decodes in one pass.
    std::function<void(std::unique_ptr<TBitmap> firstScan)> OnFirstScan;

    // A picture shown at half size or less decodes at libjpeg's reduced scale (1/2, 1/4 or 1/8)
    // that still covers the view, and nothing more. Previews, when wanted: the camera's EXIF
    // thumbnail (when it is large enough to stand in for the picture), then a progressive file's
    // first scan.
    bool DecodeReduced(const TReducedDecode& wish) override;
    size_t EncodedBytes() const override;

    // The millisecond clock used to pace progress reports (tests replace it; null restores the
    // steady clock).
    using TTickSource = uint64_t (*)();
    static void SetTickSource(TTickSource source);

  private:
    // Sets one field of the options through SetOptions (which drops a decoded bitmap it affects).
    template <class T>
    void SetOption(T TJPEGOptions::*field, T value);

    // The file's bytes and what its header says, shared between copies of the picture.
    struct TData {
        bool hasBytes = false;
        TJPEGBytes bytes;
        int width = 0;
        int height = 0;
        bool grayscale = false;
        int orientation = 0;  // EXIF orientation 1-8, 0 for none
    };
    struct TDecoder;
    friend struct TJPEGProgress;

    void ReadStream(int64_t size, TStream& stream);
    void NewData();
    void DropBitmap();
    void Decode();
    bool DecodeFromDcScans();
    // Turns the decoded bitmap, applies the colour profile, reports the end and raises a
    // failure (not a cancel).
    void EndDecode(TBitmap& bmp, int orientation, bool inksConverted, bool started,
                   bool paletteBuilt, std::exception_ptr failure);
    void SetupDecoder(TDecoder& decoder, bool withProgress);
    void ComputeScaledSize() const;
    // The output size in the stored layout (the header's, or the reduced scale's).
    int StoredWidth() const;
    int StoredHeight() const;
    // The orientation decoding applies (2-8), or 1 when the picture is shown as stored.
    int ShownOrientation() const;
    bool SwapsSides() const { return ShownOrientation() >= 5; }

    std::shared_ptr<const TData> data_;
    std::unique_ptr<TBitmap> bitmap_;
    TJPEGOptions options_;
    mutable std::optional<std::vector<TRGBQuad>> palette_;
    mutable int scaledWidth_ = -1;
    mutable int scaledHeight_ = -1;
    bool paletteModified_ = false;
    // While a decode fills the bitmap (in the stored layout, turned once it is finished).
    bool decoding_ = false;
};
