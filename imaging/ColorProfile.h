#pragma once
// Colour profiles: the ICC profile a picture file embeds, and the step that turns a decoded
// bitmap from that profile's colours into sRGB (or into the display's profile when one is set),
// built on Little CMS 2.
//
// Loaders only hand over the profile bytes they find (TGraphic::SetIccProfile); the conversion
// runs once per decode, where every load goes through (TPicture::LoadGraphic for the bitmap
// loaders, the JPEG picture's own decode for JPEG). A profile Little CMS cannot read, or one whose
// colour space does not fit the pixels (a CMYK or Lab profile on RGB samples), leaves the pixels
// as they are; CMYK pictures are converted through their profile while they are decoded.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TBitmap;
class TGraphic;

// Largest profile a loader keeps; bigger ones are ignored (real profiles are a few kilobytes,
// device-link and print profiles rarely more than a few megabytes).
constexpr size_t kMaxIccProfileBytes = size_t(16) << 20;

// Whether decoded pictures are converted (on by default). Thread-safe.
bool ColorManagementEnabled();
void SetColorManagementEnabled(bool enabled);

// The profile of the screen the pictures are shown on; empty (the default) means sRGB. A profile
// that cannot be used as an RGB output profile counts as empty. Thread-safe.
void SetDisplayProfile(std::vector<uint8_t> profile);
std::vector<uint8_t> DisplayProfile();

// The profile's description (its "desc" tag, English when there is a choice), or an empty string
// when the bytes are no readable profile.
std::string IccProfileDescription(const uint8_t* data, size_t size);
inline std::string IccProfileDescription(const std::vector<uint8_t>& profile) {
    return IccProfileDescription(profile.data(), profile.size());
}

// Converts the bitmap's pixels (24- and 32-bit rows, the palette of 1-, 4- and 8-bit bitmaps; the
// alpha of 32-bit rows stays) from the profile into the display's colours. Returns whether it
// changed anything; false for an empty, unreadable or unsuitable profile and for other pixel
// formats. Does not look at ColorManagementEnabled().
bool ConvertBitmapFromProfile(TBitmap& bitmap, const uint8_t* profile, size_t size);

// Turns ink amounts (four bytes a pixel: cyan, magenta, yellow, black, 0 no ink to 255 full ink)
// into the display's blue, green and red through a CMYK profile. Empty when the profile is no
// usable CMYK profile. Loaders of CMYK pictures use it in place of their own ink formula when
// colour management is on; the returned function may be called from any thread.
using TCmykConverter = std::function<void(const uint8_t* cmyk, uint8_t* bgr, size_t count)>;
TCmykConverter CmykConverterFromProfile(const std::vector<uint8_t>& profile);

// Applies the graphic's embedded profile to its pixels once, when colour management is on and
// the graphic is a bitmap: the step every load path ends with. Graphics that decode later (the
// JPEG picture) convert when they decode.
void ApplyEmbeddedProfile(TGraphic& graphic);

// An RGB profile for the colour primaries and transfer characteristics of the codes that video
// formats use (ITU-T H.273, as in HEIF's nclx box and AV1): primaries 1 (BT.709/sRGB), 4, 5, 6, 7
// (BT.470/BT.601), 9 (BT.2020), 10 (XYZ), 11 (DCI-P3), 12 (Display P3); transfer 1, 6, 14, 15
// (BT.709), 4 (gamma 2.2), 5 (gamma 2.8), 8 (linear), 13 (sRGB), and the HDR transfers 16 (PQ)
// and 18 (HLG), whose reference white (203 cd/m2) shows a little below the screen's white and
// brighter light is rolled off into the room left above it; unspecified values count as sRGB's.
// Empty when the pair means sRGB already (nothing to convert) or is not known.
std::vector<uint8_t> IccProfileForCicp(int primaries, int transfer);

// Reassembles a profile split over JPEG APP2 "ICC_PROFILE" segments. Each segment's payload
// (after the marker length) is given; the segments carry their sequence number (1-based) and
// the count. Returns empty when a number is missing, repeated, out of range, or the counts
// disagree.
std::vector<uint8_t> AssembleJpegIccProfile(const std::vector<std::vector<uint8_t>>& segments);

// The profile of a PNG iCCP chunk's data (name, zero, method 0, zlib stream), inflated up to
// kMaxIccProfileBytes; empty when the chunk is malformed, the stream broken or too large.
std::vector<uint8_t> IccProfileFromPngChunk(const uint8_t* data, size_t size);
