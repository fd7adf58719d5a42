#pragma once
// TLibraryGraphic: the base of the loaders that hand the whole file to a decoding library (AVIF,
// HEIF, JPEG XL). It owns what their loads share: the file held in memory from ReadProperties to
// the end of the load, the start and end of progress, and the cancel flag between the library's
// steps. A format gives its properties from the file's bytes and its decode.
#include <cstdint>
#include <vector>

#include "imaging/FormatGraphic.h"

class TLibraryGraphic : public TFormatGraphic {
  public:
    // Reads all of the stream from its position when the class's probe accepts it, and the
    // picture's properties through ReadFileProperties. The bytes are kept only for the load that
    // asked (the stream being loaded), not for a look at the header alone.
    bool ReadProperties(TStream& stream, uint32_t imageIndex) override;
    // Clears the bitmap, reads the properties (the invalid-format error when there are none),
    // reports the start, decodes through Decode and signals the change. The ending stage of
    // progress is reported also when the decode fails, and the file's bytes are freed.
    void LoadFromStream(TStream& stream) override;

  protected:
    // formatName: the format's name in messages.
    explicit TLibraryGraphic(const char* formatName) : formatName_(formatName) {}

    // Fills imageProperties_ from the file's bytes; false when the library does not read them
    // as this format.
    virtual bool ReadFileProperties(const std::vector<uint8_t>& data) = 0;
    // Decodes data_ into the bitmap, with the progress of its rows.
    virtual void Decode() = 0;

    // Raises EAbort when the cancel flag is up: polled between the library's steps, which report
    // no progress of their own.
    void CheckCancelled() const;
    // Raises the invalid-format error with text and the format's name.
    [[noreturn]] void Fail(const char* text) const;

    const char* formatName_;
    std::vector<uint8_t> data_;  // the file's bytes during a load
};
