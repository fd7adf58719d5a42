#pragma once
// The checks that the loaders backed by a decoding library (AVIF, HEIF, JPEG XL) share: damaged
// files, the pixel limit, progress and the cancel flag.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/ImagingTestHelpers.h"
#include "imaging/Exceptions.h"

namespace testhelp {

// The progress stages of a load of file (a failed load included).
template <class G>
std::vector<TProgressStage> LoadStages(const Bytes& file) {
    G graphic;
    std::vector<TProgressStage> stages;
    graphic.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect&,
                             const std::string&) { stages.push_back(stage); };
    try {
        LoadBytes(graphic, file);
    } catch (const EImagingError&) {
    }
    return stages;
}

// good, a picture of width x height, loads; cut at every length (and, with overwrite, with each
// byte overwritten in turn) it gives a picture of that width or an imaging error; a pixel limit
// below its size refuses it; the load of damaged (a header that reads, data that does not)
// starts and ends its progress and reports no rows, that of good a row each; a cancel flag
// raised as the load starts ends it with EAbort before the bitmap is made.
template <class G>
void ExpectLibraryLoaderBasics(const Bytes& good, const Bytes& damaged, int width, int height,
                               bool overwrite) {
    for (size_t n = 0; n < good.size(); ++n) {
        G graphic;
        try {
            LoadBytes(graphic, Bytes(good.begin(), good.begin() + std::ptrdiff_t(n)));
            EXPECT_EQ(graphic.Width(), width) << n;
        } catch (const EImagingError&) {
        }
        if (!overwrite) continue;
        Bytes broken = good;
        broken[n] ^= 0x5A;
        try {
            LoadBytes(graphic, broken);
        } catch (const EImagingError&) {
        }
    }
    {
        TPixelLimit limit(uint64_t(width) * uint64_t(height) - 1);
        EXPECT_NE(LoadError<G>(good), "no error");
    }
    for (const bool broken : {false, true}) {
        const std::vector<TProgressStage> stages = LoadStages<G>(broken ? damaged : good);
        ASSERT_FALSE(stages.empty());
        EXPECT_EQ(stages.front(), psStarting);
        EXPECT_EQ(stages.back(), psEnding);
        EXPECT_EQ(stages.size() > size_t(height), !broken);  // a row each when it decodes
    }
    G cancelled;
    std::atomic<bool> cancel{false};
    cancelled.SetCancelFlag(&cancel);
    cancelled.OnProgress = [&](TGraphic*, TProgressStage, uint8_t, bool, const TRect&,
                               const std::string&) { cancel = true; };
    EXPECT_THROW(LoadBytes(cancelled, good), EAbort);
    EXPECT_TRUE(cancelled.Empty());
}

}  // namespace testhelp
