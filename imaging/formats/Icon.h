#pragma once
// TIcon: a Windows icon (.ico). The largest, then deepest, entry of the icon directory is
// decoded into the bitmap; the AND mask and 32-bit alpha become the alpha channel of a pf32bit
// bitmap, so an icon paints like any other bitmap.
#include <cstdint>
#include <functional>

#include "imaging/Bitmap.h"

class TIcon : public TBitmap {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // Whether the stream, at its position, starts with an icon directory; keeps the position.
    static bool ProbeStream(TStream& stream);

    // Decodes the best entry of the icon file that starts at the stream's position.
    void LoadFromStream(TStream& stream) override;
    // Icons are not written; raises EInvalidGraphic.
    void SaveToStream(TStream& stream) override;

    // Number of entries in the directory of the last loaded icon and the index of the entry
    // that was decoded.
    int EntryCount() const { return entryCount_; }
    int EntryIndex() const { return entryIndex_; }
    // The entry the next load decodes (in directory order); -1, the default, picks the largest
    // and deepest. A chosen entry that cannot be read fails the load.
    void SetEntry(int index) { requestedEntry_ = index; }

    // Decoder for PNG-compressed entries (Windows Vista icons): reads the PNG image of the
    // given byte count at the stream's position into the bitmap. Not set by default; while it
    // is unset such entries raise EInvalidGraphic "PNG-compressed icons are not supported yet."
    using TPNGEntryDecoder = std::function<void(TStream& stream, int64_t size, TBitmap& target)>;
    static void SetPNGEntryDecoder(TPNGEntryDecoder decoder);
    static const TPNGEntryDecoder& PNGEntryDecoder();

  private:
    int entryCount_ = 0;
    int entryIndex_ = -1;
    int requestedEntry_ = -1;
};
