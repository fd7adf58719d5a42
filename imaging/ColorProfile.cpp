#include "imaging/ColorProfile.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/Bitmap.h"

namespace {

std::atomic<bool> gEnabled{true};

struct TProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using TProfile = std::unique_ptr<void, TProfileCloser>;

struct TTransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using TTransformPtr = std::unique_ptr<void, TTransformDeleter>;

// Little CMS reports damaged profiles through its log handler; they are expected input here.
void SilenceLittleCms() {
    static std::once_flag once;
    std::call_once(once, [] { cmsSetLogErrorHandler(nullptr); });
}

TProfile OpenProfile(const uint8_t* data, size_t size) {
    SilenceLittleCms();
    if (data == nullptr || size < 132 || size > kMaxIccProfileBytes) return nullptr;
    return TProfile(cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size)));
}

uint64_t Fnv1a(const uint8_t* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

// What a cached transform turns pixels into. Gray profiles give a tone curve applied to each
// channel (a gray picture's samples and palette are R = G = B); RGB profiles give a transform of
// blue-green-red triples, with or without a fourth byte that is copied; CMYK profiles give a
// transform of ink amounts into blue-green-red, used while a CMYK picture is decoded.
struct TConversion {
    bool gray = false;
    std::array<uint8_t, 256> curve{};
    TTransformPtr bgr;   // TYPE_BGR_8 in place
    TTransformPtr bgra;  // TYPE_BGRA_8 in place, alpha copied
    TTransformPtr cmyk;  // TYPE_CMYK_8 to TYPE_BGR_8
};

struct TCacheEntry {
    uint64_t hash = 0;
    size_t size = 0;
    std::shared_ptr<const TConversion> conversion;  // null: the profile is not usable
};

struct TState {
    std::mutex lock;
    std::vector<uint8_t> display;
    uint64_t displayGeneration = 0;
    uint64_t cacheGeneration = 0;
    std::list<TCacheEntry> cache;  // most recently used first
};

TState& State() {
    static TState* state = new TState;  // never destroyed: decodes may run during exit
    return *state;
}

constexpr size_t kCachedTransforms = 16;

TProfile OutputProfile(const std::vector<uint8_t>& display) {
    if (!display.empty()) {
        TProfile p = OpenProfile(display.data(), display.size());
        if (p && uint32_t(cmsGetColorSpace(p.get())) == cmsSigRgbData &&
            cmsIsIntentSupported(p.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT))
            return p;
    }
    return TProfile(cmsCreate_sRGBProfile());
}

std::shared_ptr<const TConversion> BuildConversion(const uint8_t* data, size_t size,
                                                   const std::vector<uint8_t>& display) {
    TProfile input = OpenProfile(data, size);
    if (!input) return nullptr;
    // Held as a number: a damaged header gives values outside the enumeration.
    const uint32_t space = cmsGetColorSpace(input.get());
    if (space != cmsSigRgbData && space != cmsSigGrayData && space != cmsSigCmykData)
        return nullptr;
    TProfile output = OutputProfile(display);
    if (!output) return nullptr;
    // One pixel cache per transform would be shared between decoding threads: switched off.
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE;
    auto conversion = std::make_shared<TConversion>();
    if (space == cmsSigCmykData) {
        conversion->cmyk.reset(cmsCreateTransform(input.get(), TYPE_CMYK_8, output.get(),
                                                  TYPE_BGR_8, INTENT_PERCEPTUAL, flags));
        if (!conversion->cmyk) return nullptr;
        return conversion;
    }
    if (space == cmsSigGrayData) {
        TTransformPtr t(cmsCreateTransform(input.get(), TYPE_GRAY_8, output.get(), TYPE_RGB_8,
                                           INTENT_PERCEPTUAL, flags));
        if (!t) return nullptr;
        std::array<uint8_t, 256> in{};
        std::array<uint8_t, 3 * 256> out{};
        for (int i = 0; i < 256; ++i)
            in[i] = uint8_t(i);
        cmsDoTransform(t.get(), in.data(), out.data(), 256);
        for (int i = 0; i < 256; ++i)
            conversion->curve[i] = out[3 * i + 1];
        conversion->gray = true;
        return conversion;
    }
    conversion->bgr.reset(cmsCreateTransform(input.get(), TYPE_BGR_8, output.get(), TYPE_BGR_8,
                                             INTENT_PERCEPTUAL, flags));
    conversion->bgra.reset(cmsCreateTransform(input.get(), TYPE_BGRA_8, output.get(), TYPE_BGRA_8,
                                              INTENT_PERCEPTUAL, flags | cmsFLAGS_COPY_ALPHA));
    if (!conversion->bgr || !conversion->bgra) return nullptr;
    return conversion;
}

std::shared_ptr<const TConversion> ConversionFor(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0 || size > kMaxIccProfileBytes) return nullptr;
    const uint64_t hash = Fnv1a(data, size);
    TState& s = State();
    std::vector<uint8_t> display;
    uint64_t generation = 0;
    {
        std::lock_guard guard(s.lock);
        if (s.cacheGeneration != s.displayGeneration) {
            s.cache.clear();
            s.cacheGeneration = s.displayGeneration;
        }
        for (auto it = s.cache.begin(); it != s.cache.end(); ++it) {
            if (it->hash == hash && it->size == size) {
                s.cache.splice(s.cache.begin(), s.cache, it);
                return s.cache.front().conversion;
            }
        }
        display = s.display;
        generation = s.displayGeneration;
    }
    // Built outside the lock: another thread may build the same one meanwhile, which costs only
    // time.
    std::shared_ptr<const TConversion> conversion = BuildConversion(data, size, display);
    std::lock_guard guard(s.lock);
    if (generation == s.displayGeneration) {
        s.cache.push_front({hash, size, conversion});
        if (s.cache.size() > kCachedTransforms) s.cache.pop_back();
    }
    return conversion;
}

// Runs body(first, last) over the rows, split between a few threads for big pictures.
template <class Body>
void ForRows(int height, int64_t pixels, const Body& body) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int parts = static_cast<int>(
        std::min<int64_t>({int64_t(cores), int64_t(8), std::max<int64_t>(1, pixels >> 20)}));
    if (parts <= 1 || height < parts) {
        body(0, height);
        return;
    }
    std::vector<std::thread> threads;
    const int step = (height + parts - 1) / parts;
    for (int first = step; first < height; first += step)
        threads.emplace_back(
            [&body, first, last = std::min(height, first + step)] { body(first, last); });
    body(0, std::min(height, step));
    for (std::thread& t : threads)
        t.join();
}

// Light in units of the reference white (203 cd/m2, where graphics white sits in both HDR
// systems) for a PQ (16) or HLG (18) signal, rolled off above 0.75 so that highlights up to the
// format's peak keep some of their gradation instead of clipping, then held within 0..1 as a
// profile's curve must be.
float HighDynamicRangeToShown(int transfer, float signal) {
    constexpr double kReferenceWhite = 203.0;
    const double e = std::clamp(double(signal), 0.0, 1.0);
    double nits = 0;
    if (transfer == 16) {
        // SMPTE ST 2084: the signal to absolute luminance, 10,000 cd/m2 at full signal.
        constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
        constexpr double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
        const double p = std::pow(e, 1 / m2);
        nits = 10000.0 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
    } else {
        // ARIB STD-B67 / BT.2100 HLG: the inverse of the camera curve, then the display's
        // system gamma 1.2 of a 1,000 cd/m2 display (applied per channel, which keeps gray gray).
        constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
        const double scene = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
        nits = 1000.0 * std::pow(scene, 1.2);
    }
    const double light = nits / kReferenceWhite;
    constexpr double knee = 0.75;
    if (light <= knee) return float(light);
    const double over = light - knee;
    return float(knee + (1 - knee) * over / (over + (1 - knee)));
}

}  // namespace

bool ColorManagementEnabled() {
    return gEnabled.load(std::memory_order_relaxed);
}

void SetColorManagementEnabled(bool enabled) {
    gEnabled.store(enabled, std::memory_order_relaxed);
}

void SetDisplayProfile(std::vector<uint8_t> profile) {
    if (profile.size() > kMaxIccProfileBytes) profile.clear();
    TState& s = State();
    std::lock_guard guard(s.lock);
    if (profile == s.display) return;
    s.display = std::move(profile);
    ++s.displayGeneration;
}

std::vector<uint8_t> DisplayProfile() {
    TState& s = State();
    std::lock_guard guard(s.lock);
    return s.display;
}

std::string IccProfileDescription(const uint8_t* data, size_t size) {
    TProfile profile = OpenProfile(data, size);
    if (!profile) return {};
    const cmsUInt32Number n =
        cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", nullptr, 0);
    if (n == 0 || n > 4096) return {};
    std::string text(n, '\0');
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text.data(), n);
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool ConvertBitmapFromProfile(TBitmap& bitmap, const uint8_t* profile, size_t size) {
    const TPixelFormat format = bitmap.PixelFormat();
    const bool indexed = format == pf1bit || format == pf4bit || format == pf8bit;
    if (!indexed && format != pf24bit && format != pf32bit) return false;
    if (bitmap.Empty() && !indexed) return false;
    std::shared_ptr<const TConversion> c = ConversionFor(profile, size);
    if (!c || c->cmyk) return false;  // ink profiles do not describe RGB samples

    if (indexed) {
        std::vector<TRGBQuad> palette = bitmap.Palette();
        if (palette.empty()) return false;
        if (c->gray) {
            for (TRGBQuad& q : palette) {
                q.rgbBlue = c->curve[q.rgbBlue];
                q.rgbGreen = c->curve[q.rgbGreen];
                q.rgbRed = c->curve[q.rgbRed];
            }
        } else {
            static_assert(sizeof(TRGBQuad) == 4);
            cmsDoTransform(c->bgra.get(), palette.data(), palette.data(),
                           static_cast<cmsUInt32Number>(palette.size()));
        }
        bitmap.SetPalette(std::move(palette));
        return true;
    }

    const int width = bitmap.Width();
    const int bytesPerPixel = format == pf24bit ? 3 : 4;
    ForRows(bitmap.Height(), int64_t(width) * bitmap.Height(), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            if (c->gray) {
                for (int x = 0; x < width; ++x) {
                    uint8_t* p = row + size_t(x) * bytesPerPixel;
                    p[0] = c->curve[p[0]];
                    p[1] = c->curve[p[1]];
                    p[2] = c->curve[p[2]];
                }
            } else {
                cmsDoTransform(format == pf24bit ? c->bgr.get() : c->bgra.get(), row, row,
                               static_cast<cmsUInt32Number>(width));
            }
        }
    });
    return true;
}

TCmykConverter CmykConverterFromProfile(const std::vector<uint8_t>& profile) {
    std::shared_ptr<const TConversion> c = ConversionFor(profile.data(), profile.size());
    if (!c || !c->cmyk) return {};
    return [c](const uint8_t* cmyk, uint8_t* bgr, size_t count) {
        // In pieces that the library's pixel count holds.
        while (count > 0) {
            const size_t n = std::min<size_t>(count, size_t(1) << 30);
            cmsDoTransform(c->cmyk.get(), cmyk, bgr, static_cast<cmsUInt32Number>(n));
            cmyk += 4 * n;
            bgr += 3 * n;
            count -= n;
        }
    };
}

void ApplyEmbeddedProfile(TGraphic& graphic) {
    if (!ColorManagementEnabled() || graphic.ProfileApplied() || graphic.IccProfile().empty())
        return;
    auto* bitmap = dynamic_cast<TBitmap*>(&graphic);
    if (bitmap == nullptr) return;
    const std::vector<uint8_t>& profile = graphic.IccProfile();
    ConvertBitmapFromProfile(*bitmap, profile.data(), profile.size());
    // Also when nothing was converted: an unusable profile is not tried again.
    graphic.SetProfileApplied(true);
}

std::vector<uint8_t> IccProfileForCicp(int primaries, int transfer) {
    // Chromaticities x, y of red, green and blue, and the white point.
    struct TPrimaries {
        int code;
        double rx, ry, gx, gy, bx, by, wx, wy;
    };
    static constexpr TPrimaries kPrimaries[] = {
        {1, 0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290},
        {4, 0.670, 0.330, 0.210, 0.710, 0.140, 0.080, 0.3100, 0.3160},
        {5, 0.640, 0.330, 0.290, 0.600, 0.150, 0.060, 0.3127, 0.3290},
        {6, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290},
        {7, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290},
        {9, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290},
        {10, 1.0, 0.0, 0.0, 1.0, 0.0, 0.0, 1.0 / 3, 1.0 / 3},
        {11, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351},
        {12, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290},
    };
    if (primaries == 2) primaries = 1;  // unspecified
    if (transfer == 2) transfer = 13;
    const TPrimaries* p = nullptr;
    for (const TPrimaries& candidate : kPrimaries)
        if (candidate.code == primaries) p = &candidate;
    if (p == nullptr) return {};

    // Parametric curve type 4: Y = (aX + b)^g for X >= d, Y = cX below.
    std::array<double, 5> curve{};
    switch (transfer) {
        case 13:
            curve = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
            break;
        case 1:
        case 6:
        case 14:
        case 15:
            curve = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
            break;
        case 4:
            curve = {2.2, 1, 0, 0, 0};
            break;
        case 5:
            curve = {2.8, 1, 0, 0, 0};
            break;
        case 8:
            curve = {1, 1, 0, 0, 0};
            break;
        case 16:
        case 18:
            break;  // a table, below
        default:
            return {};
    }
    if (primaries == 1 && transfer == 13) return {};

    SilenceLittleCms();
    const cmsCIExyY white{p->wx, p->wy, 1.0};
    const cmsCIExyYTRIPLE rgb{{p->rx, p->ry, 1.0}, {p->gx, p->gy, 1.0}, {p->bx, p->by, 1.0}};
    std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)> tone(nullptr, &cmsFreeToneCurve);
    if (transfer == 16 || transfer == 18) {
        std::vector<float> table(4096);
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = HighDynamicRangeToShown(transfer, float(i) / float(table.size() - 1));
        tone.reset(cmsBuildTabulatedToneCurveFloat(
            nullptr, static_cast<cmsUInt32Number>(table.size()), table.data()));
    } else {
        tone.reset(cmsBuildParametricToneCurve(nullptr, 4, curve.data()));
    }
    if (!tone) return {};
    cmsToneCurve* curves[3] = {tone.get(), tone.get(), tone.get()};
    TProfile profile(cmsCreateRGBProfile(&white, &rgb, curves));
    if (!profile) return {};
    cmsUInt32Number bytes = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &bytes) || bytes == 0 ||
        bytes > kMaxIccProfileBytes)
        return {};
    std::vector<uint8_t> out(bytes);
    if (!cmsSaveProfileToMem(profile.get(), out.data(), &bytes)) return {};
    out.resize(bytes);
    return out;
}

std::vector<uint8_t> AssembleJpegIccProfile(const std::vector<std::vector<uint8_t>>& segments) {
    static constexpr char kTag[] = "ICC_PROFILE";  // 11 letters and the terminating zero
    constexpr size_t kHeader = sizeof(kTag) + 2;   // tag, sequence number, count
    std::vector<const std::vector<uint8_t>*> parts;
    int count = 0;
    for (const std::vector<uint8_t>& s : segments) {
        if (s.size() < kHeader || std::memcmp(s.data(), kTag, sizeof(kTag)) != 0) continue;
        const int number = s[sizeof(kTag)];
        const int total = s[sizeof(kTag) + 1];
        if (total == 0 || number == 0 || number > total) return {};
        if (count == 0) {
            count = total;
            parts.assign(size_t(count), nullptr);
        } else if (total != count) {
            return {};
        }
        if (parts[size_t(number - 1)] != nullptr) return {};
        parts[size_t(number - 1)] = &s;
    }
    std::vector<uint8_t> profile;
    for (const std::vector<uint8_t>* part : parts) {
        if (part == nullptr) return {};
        if (profile.size() + part->size() - kHeader > kMaxIccProfileBytes) return {};
        profile.insert(profile.end(), part->begin() + kHeader, part->end());
    }
    return profile;
}

std::vector<uint8_t> IccProfileFromPngChunk(const uint8_t* data, size_t size) {
    // Keyword of 1 to 79 bytes, its terminating zero, compression method 0.
    const size_t nameEnd = std::find(data, data + std::min<size_t>(size, 80), 0) - data;
    if (nameEnd == 0 || nameEnd >= std::min<size_t>(size, 80) || nameEnd + 2 > size ||
        data[nameEnd + 1] != 0)
        return {};
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    z.next_in = const_cast<Bytef*>(data + nameEnd + 2);
    z.avail_in = static_cast<uInt>(std::min<size_t>(size - nameEnd - 2, UINT32_MAX));
    std::vector<uint8_t> out;
    int status = Z_OK;
    while (status == Z_OK) {
        // Grows in steps, so a small profile never reserves the limit.
        const size_t done = out.size();
        if (done >= kMaxIccProfileBytes) break;
        out.resize(std::min(kMaxIccProfileBytes, std::max<size_t>(done * 2, 4096)));
        z.next_out = out.data() + done;
        z.avail_out = static_cast<uInt>(out.size() - done);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in > 0) status = Z_OK;
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) return {};
    return out;
}
