// Deflate decoding over zlib's inflate.
#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/decoders/Decoder.h"

TLZ77Decoder::TLZ77Decoder(int FlushMode, bool AutoReset)
    : flushMode_(FlushMode), autoReset_(AutoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (initialized_) inflateEnd(&stream_);
}

void TLZ77Decoder::BeginDecoding() {
    if (initialized_) inflateEnd(&stream_);
    stream_ = z_stream{};
    zLibResult_ = Z_OK;
    if (inflateInit(&stream_) < 0) throw EGraphicCompression(imsg::LZ77Error);
    initialized_ = true;
}

void TLZ77Decoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                               int32_t UnpackedSize) {
    if (!initialized_) return;
    stream_.next_in = Source;
    stream_.avail_in = PackedSize > 0 ? static_cast<uInt>(PackedSize) : 0;
    if (autoReset_) zLibResult_ = inflateReset(&stream_);
    // An earlier error or the end of the stream stops decoding. "No progress possible" is
    // not an error: the next block may bring the input that was missing.
    if (zLibResult_ != Z_OK && zLibResult_ != Z_BUF_ERROR) return;
    stream_.next_out = Dest;
    stream_.avail_out = UnpackedSize > 0 ? static_cast<uInt>(UnpackedSize) : 0;
    zLibResult_ = inflate(&stream_, flushMode_);
    Source = stream_.next_in;
    Dest = stream_.next_out;
}

void TLZ77Decoder::EndDecoding() {
    if (!initialized_) return;
    initialized_ = false;
    if (inflateEnd(&stream_) < 0) throw EGraphicCompression(imsg::LZ77Error);
}
