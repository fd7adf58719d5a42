#pragma once
// TSVGGraphic: Scalable Vector Graphics documents (.svg) and their gzip-compressed form (.svgz).
//
// The imaging library reads the file (inflating a compressed one, within a bound), checks that
// its root element is <svg> and works out the natural size from the root's width, height and
// viewBox at 96 dots per inch. Drawing needs a painter, which lives on the window side: it
// installs a renderer (SetRenderer) that draws the document into a 32-bit bitmap of the natural
// size, as the metafile player does for TMetafile. Without a renderer an SVG loads its size but
// has no pixels.
#include <cstdint>
#include <functional>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"

// What the root <svg> element says about the picture's size.
struct TSVGRoot {
    // The size the picture is shown at, in pixels at 96 dots per inch, before the side limit.
    double Width = 0;
    double Height = 0;
    // The viewBox (user units); absent means user units are pixels from (0, 0).
    bool HasViewBox = false;
    double ViewBoxX = 0, ViewBoxY = 0, ViewBoxWidth = 0, ViewBoxHeight = 0;
    // preserveAspectRatio: alignment of the viewBox in the viewport on each axis (0 min, 1 mid,
    // 2 max) or none (stretched), and whether it covers the viewport (slice) or fits (meet).
    bool AlignNone = false;
    int AlignX = 1, AlignY = 1;
    bool Slice = false;
};

class TSVGGraphic : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // Draws the document into target, which the renderer sizes to the natural size as a 32-bit
    // bitmap (straight alpha, transparent where nothing is drawn). Raises EInvalidGraphic when
    // the document cannot be drawn.
    using TRenderer = std::function<void(const TSVGGraphic& svg, TBitmap& target)>;
    static void SetRenderer(TRenderer renderer);
    static bool HasRenderer();

    // Files larger than this are refused before they are read.
    static constexpr int64_t kMaxFileSize = int64_t(64) << 20;
    // A compressed document that inflates to more than this is refused.
    static constexpr size_t kMaxDocumentSize = size_t(64) << 20;
    // A document that draws this many elements or more, counting each <use> with all that its
    // target draws, is refused: nested references can multiply a small file into billions.
    static constexpr uint64_t kMaxDrawnElements = 1000000;
    // Natural sizes are limited to this many pixels a side (a larger picture is scaled down,
    // its aspect kept; the view still draws it at any zoom).
    static constexpr int kMaxSide = 8192;
    // The size of a picture that names neither a size nor a viewBox (as web pages show one).
    static constexpr int kDefaultWidth = 300;
    static constexpr int kDefaultHeight = 150;
    // How much of a file's start the signature check looks at (inflated, for a compressed
    // file) to find the root element behind the XML declaration, comments and doctype.
    static constexpr size_t kProbeSize = 16384;

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    bool Empty() const override { return width_ == 0 || height_ == 0; }

    // Reads the document from the stream's position, inflating a gzip-compressed one, and, when
    // a renderer is installed, draws it. Raises EInvalidGraphic for a file that is not an SVG
    // document, whose root names an unusable size, or that inflates beyond kMaxDocumentSize.
    void LoadFromStream(TStream& stream) override;
    // Copies another SVG.
    void Assign(const TGraphic& source) override;
    // Copies the drawn picture into a TBitmap, or the document into another TSVGGraphic.
    bool AssignTo(TGraphic& dest) const override;

    // Whether the stream at its position holds an SVG document (plain or gzip-compressed) whose
    // root element starts within kProbeSize bytes; keeps the position.
    static bool ProbeStream(TStream& stream);
    // Finds the root element of the XML text (after a byte-order mark, the XML declaration,
    // processing instructions, comments and a doctype) and, when it is <svg>, reads its size
    // attributes into root. False when the root is not <svg> or is not within the text.
    static bool ReadRoot(const char* text, size_t size, TSVGRoot& root);
    // A length attribute ("12", "3.5in", "10mm") in pixels at 96 dots per inch; false for
    // percentages, units it does not know and text that is not a number.
    static bool ParseLength(const std::string& text, double& pixels);
    // Inflates gzip data, failing (false) beyond limit bytes or on damaged or cut data. With
    // allowPartial, a cut stream or the limit gives what was inflated so far.
    static bool Inflate(const uint8_t* data, size_t size, size_t limit, std::string& out,
                        bool allowPartial = false);

    // The document's text (inflated) and what its root says.
    const std::string& Document() const { return document_; }
    const TSVGRoot& Root() const { return root_; }
    // The drawn picture (empty without a renderer).
    const TBitmap& Bitmap() const { return bitmap_; }
    // With a wish that draws vectors itself, the load reads the document without drawing it.
    bool PrepareReducedLoad(const std::string& fileName, const TReducedDecode& wish, int& fullWidth,
                            int& fullHeight) override;

  private:
    std::string document_;
    TSVGRoot root_;
    int width_ = 0;
    int height_ = 0;
    TBitmap bitmap_;
    bool drawn_ = true;  // whether the load draws the natural size
};
