#pragma once
// TPacketWindow: hands packed image data from a stream to a decoder row by row. It holds a
// buffer over the stream that is refilled whenever fewer bytes than one row can need are left
// in it, so that a file is read once, in large blocks, whatever its size. At the end the
// stream is put back right after the last byte the rows used.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/Stream.h"

class TPacketWindow {
  public:
    // rowNeed: the most packed bytes one row can take; limit: how many bytes from the stream's
    // position belong to the image data (the window never reads past them).
    TPacketWindow(TStream& stream, size_t rowNeed, int64_t limit)
        : stream_(stream),
          need_(rowNeed),
          left_(std::max<int64_t>(0, std::min(limit, stream.Remaining()))),
          buffer_(std::max<size_t>(rowNeed, size_t(std::clamp<int64_t>(left_, 1, 1 << 18)))) {}

    // Makes at least rowNeed bytes available (fewer only at the end of the data); returns
    // where they start and sets available.
    uint8_t* Fill(size_t& available) {
        if (end_ - begin_ < need_ && left_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
            while (end_ < buffer_.size() && left_ > 0) {
                const int64_t want = std::min<int64_t>(int64_t(buffer_.size() - end_), left_);
                const int64_t got = stream_.Read(buffer_.data() + end_, want);
                if (got <= 0) {
                    left_ = 0;
                    break;
                }
                end_ += size_t(got);
                left_ -= got;
            }
        }
        available = end_ - begin_;
        return buffer_.data() + begin_;
    }
    void Consume(size_t count) { begin_ += std::min(count, end_ - begin_); }
    // Returns the bytes read but not used to the stream.
    void Finish() { stream_.Seek(-int64_t(end_ - begin_), TSeekOrigin::soCurrent); }

  private:
    TStream& stream_;
    size_t need_;
    int64_t left_;  // bytes of the image data not yet read from the stream
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
};
