#pragma once
// The frame and page reader over the same input as a loader harness: the frame table is read,
// and a few frames are decoded (the first ones in order, a step back, the last), each with a
// readable bitmap of the canvas size. Only imaging errors may escape.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "imaging/FrameReader.h"

namespace fuzz {

inline void TouchFrames(const uint8_t* data, size_t size) {
    auto reader = OpenFrameReader(std::make_shared<const std::vector<uint8_t>>(data, data + size));
    if (!reader) return;
    if (reader->Count() < 2 || reader->Count() > TFrameReader::kMaxFrames) std::abort();
    for (int i = 0; i < reader->Count(); ++i)
        if (reader->Kind() == TFrameKind::Animation && reader->DelayMs(i) < 20) std::abort();
    const int last = reader->Count() - 1;
    int width = -1, height = -1;
    for (int index : {0, 1, 2, 1, last}) {
        if (index > last) continue;
        try {
            const std::unique_ptr<TBitmap> frame = reader->Frame(index);
            if (!frame || frame->Width() <= 0 || frame->Height() <= 0) std::abort();
            // Animation frames all have the canvas's size.
            if (reader->Kind() == TFrameKind::Animation && reader->FormatName()[0] != 'A' &&
                width >= 0 && (frame->Width() != width || frame->Height() != height))
                std::abort();
            width = frame->Width();
            height = frame->Height();
            TouchRows(*frame);
        } catch (const EImagingError&) {
        }
    }
}

}  // namespace fuzz
