#pragma once
// TMetafile: Windows metafiles, the 16-bit Windows Metafile (.wmf, plain or with the
// placeable header) and the Enhanced Metafile (.emf). The imaging library reads and checks the
// header and keeps the records; drawing them needs a painter, which lives on the window side:
// it installs a renderer (SetRenderer) that plays the records into a 32-bit bitmap of the
// picture's natural size. Without a renderer a metafile loads its size but has no pixels.
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"

// What the header of a metafile says.
struct TMetafileHeader {
    bool Enhanced = false;
    bool Placeable = false;  // a WMF with the 22-byte placeable header
    int32_t Left = 0;        // bounds in logical units (placeable WMF) or in device units of
    int32_t Top = 0;         // the reference device (EMF: rclBounds)
    int32_t Right = 0;
    int32_t Bottom = 0;
    uint32_t UnitsPerInch = 0;  // placeable WMF
    int32_t FrameLeft = 0;      // EMF picture frame in 0.01 mm
    int32_t FrameTop = 0;
    int32_t FrameRight = 0;
    int32_t FrameBottom = 0;
    int32_t DevicePixelsX = 0;  // EMF reference device size in pixels and in millimetres
    int32_t DevicePixelsY = 0;
    int32_t DeviceMillimetersX = 0;
    int32_t DeviceMillimetersY = 0;
    uint32_t RecordsOffset = 0;  // where the records start in the data
    int Width = 0;               // natural size in pixels at 96 dots per inch
    int Height = 0;
};

class TMetafile : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // Plays the metafile's records into target, which the renderer sizes to the natural size
    // as a 32-bit bitmap (straight alpha, transparent where nothing is drawn).
    using TRenderer = std::function<void(const TMetafile& metafile, TBitmap& target)>;
    static void SetRenderer(TRenderer renderer);
    static bool HasRenderer();

    // Files larger than this are refused before they are read.
    static constexpr int64_t kMaxFileSize = int64_t(256) << 20;
    // Natural sizes are limited to this many pixels a side (a huge frame is scaled down, its
    // aspect kept).
    static constexpr int kMaxSide = 4096;

    int Width() const override { return header_.Width; }
    int Height() const override { return header_.Height; }
    bool Empty() const override { return header_.Width == 0 || header_.Height == 0; }

    // Reads the whole metafile from the stream's position, checks its header and, when a
    // renderer is installed, draws it. Raises EInvalidGraphic for a file that is not a
    // metafile or whose header is inconsistent.
    void LoadFromStream(TStream& stream) override;
    // Copies the drawn picture into a TBitmap.
    bool AssignTo(TGraphic& dest) const override;

    // Parses the header of the metafile data; raises EInvalidGraphic when it is not one.
    static TMetafileHeader ReadHeader(const uint8_t* data, size_t size);
    // Whether the stream at its position starts with a metafile header; keeps the position.
    static bool ProbeStream(TStream& stream);

    // True for an enhanced metafile (.emf).
    bool Enhanced() const { return header_.Enhanced; }
    const TMetafileHeader& Header() const { return header_; }
    const std::vector<uint8_t>& Data() const { return data_; }
    // The drawn picture (empty without a renderer).
    const TBitmap& Bitmap() const { return bitmap_; }
    // With a wish that draws vectors itself, the load reads the document without drawing it.
    bool PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish, int& fullWidth,
                            int& fullHeight) override;

  private:
    TMetafileHeader header_;
    std::vector<uint8_t> data_;
    TBitmap bitmap_;
    bool drawn_ = true;  // whether the load draws the natural size
};
