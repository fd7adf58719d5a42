// The JPEG XL, HEIF and AVIF libraries are opened the first time a picture of theirs is read,
// not when the program starts. Linked directly, they and the codecs they pull in (about thirty
// libraries: x265, libde265, dav1d, aom, rav1e, SVT-AV1, abseil, highway) are mapped, relocated
// and initialised by every process, which costs about 15 ms of processor time before main, on
// every start of the reader and of velkaro-decode, whatever the picture. The GIF, WebP, JPEG 2000,
// EXIF and Little CMS libraries are opened the same way: each costs a tenth of a millisecond or
// so at start-up, together more than the whole decode of a small picture, and most pictures need
// none of them.
//
// Each function the imaging library calls is defined here under its own name and forwards to the
// library's, found with dlsym. A creating function (JxlDecoderCreate, heif_context_alloc,
// avifDecoderCreate, JxlResizableParallelRunnerCreate) returns null when the library cannot be
// opened, which the loaders already report as a picture that cannot be read; every other
// function is reached only through what a creating function returned, except the few that
// stand alone (a version number, a default setting, an error handler), which do nothing or
// answer "none" then. A call of one of these
// libraries that is not listed here fails to link: add its forwarder here.
#include <avif/avif.h>
#include <dlfcn.h>
#include <gif_lib.h>
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>
#include <lcms2.h>
#include <libexif/exif-content.h>
#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>
#include <libheif/heif.h>
#include <openjpeg.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>

namespace {

// One library: its file name (the soname found when the project was configured), the names of
// the functions used, and their addresses once opened.
template <size_t N>
struct TDeferredLibrary {
    TDeferredLibrary(const char* fileName, const char* const (&functionNames)[N])
        : file(fileName), names(functionNames) {}
    const char* file;
    const char* const (&names)[N];
    void* functions[N] = {};
    bool open = false;
    std::once_flag once;

    // Opens the library once; false when it or one of its functions is missing.
    bool Open() {
        std::call_once(once, [this] {
            void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) return;
            for (size_t i = 0; i < N; ++i) {
                functions[i] = dlsym(handle, names[i]);
                if (functions[i] == nullptr) return;
            }
            open = true;
        });
        return open;
    }
    // The function at index i of an opened library; a call that no creating function led to
    // is a fault of the caller.
    template <class F>
    F Function(size_t i) {
        if (!Open()) {
            std::fprintf(stderr, "velkaro: %s cannot be opened (%s)\n", file, names[i]);
            std::abort();
        }
        return reinterpret_cast<F>(functions[i]);
    }
};

#define VELKARO_NAME(name) #name,
#define VELKARO_INDEX(name) k_##name,

// clang-format off
#define VELKARO_JXL(X) \
    X(JxlDecoderCloseInput) \
    X(JxlDecoderCreate) \
    X(JxlDecoderDestroy) \
    X(JxlDecoderGetBasicInfo) \
    X(JxlDecoderImageOutBufferSize) \
    X(JxlDecoderProcessInput) \
    X(JxlDecoderSetImageOutBuffer) \
    X(JxlDecoderSetInput) \
    X(JxlDecoderSetKeepOrientation) \
    X(JxlDecoderSetParallelRunner) \
    X(JxlDecoderSubscribeEvents) \
    X(JxlDecoderGetBoxType) \
    X(JxlDecoderReleaseBoxBuffer) \
    X(JxlDecoderSetBoxBuffer) \
    X(JxlDecoderSetDecompressBoxes) \
    X(JxlDecoderGetColorAsEncodedProfile) \
    X(JxlDecoderGetColorAsICCProfile) \
    X(JxlDecoderGetICCProfileSize) \
    X(JxlDecoderSetPreferredColorProfile) \
    X(JxlColorEncodingSetToSRGB) \
    X(JxlEncoderAddImageFrame) \
    X(JxlEncoderCloseInput) \
    X(JxlEncoderCreate) \
    X(JxlEncoderDestroy) \
    X(JxlEncoderFrameSettingsCreate) \
    X(JxlEncoderInitBasicInfo) \
    X(JxlEncoderProcessOutput) \
    X(JxlEncoderSetBasicInfo) \
    X(JxlEncoderSetColorEncoding) \
    X(JxlEncoderSetFrameDistance) \
    X(JxlEncoderSetFrameLossless) \
    X(JxlEncoderSetICCProfile)
#define VELKARO_JXL_THREADS(X) \
    X(JxlResizableParallelRunner) \
    X(JxlResizableParallelRunnerCreate) \
    X(JxlResizableParallelRunnerDestroy) \
    X(JxlResizableParallelRunnerSetThreads)
#define VELKARO_HEIF(X) \
    X(heif_context_alloc) \
    X(heif_context_free) \
    X(heif_context_get_primary_image_handle) \
    X(heif_context_read_from_memory_without_copy) \
    X(heif_context_set_max_decoding_threads) \
    X(heif_context_set_maximum_image_size_limit) \
    X(heif_decode_image) \
    X(heif_decoding_options_alloc) \
    X(heif_decoding_options_free) \
    X(heif_image_get_bits_per_pixel_range) \
    X(heif_image_get_height) \
    X(heif_image_get_plane_readonly) \
    X(heif_image_get_width) \
    X(heif_image_handle_get_height) \
    X(heif_image_handle_get_ispe_height) \
    X(heif_image_handle_get_ispe_width) \
    X(heif_image_handle_get_luma_bits_per_pixel) \
    X(heif_image_handle_get_width) \
    X(heif_image_handle_has_alpha_channel) \
    X(heif_image_handle_release) \
    X(heif_image_release) \
    X(heif_image_handle_get_metadata) \
    X(heif_image_handle_get_metadata_size) \
    X(heif_image_handle_get_list_of_metadata_block_IDs) \
    X(heif_image_handle_get_list_of_thumbnail_IDs) \
    X(heif_image_handle_get_number_of_thumbnails) \
    X(heif_image_handle_get_thumbnail) \
    X(heif_image_handle_get_nclx_color_profile) \
    X(heif_image_handle_get_raw_color_profile) \
    X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_nclx_color_profile_free) \
    X(heif_context_encode_image) \
    X(heif_context_get_encoder_for_format) \
    X(heif_context_write) \
    X(heif_encoder_release) \
    X(heif_encoder_set_lossy_quality) \
    X(heif_image_add_plane) \
    X(heif_image_create) \
    X(heif_image_get_plane) \
    X(heif_image_set_raw_color_profile)
#define VELKARO_AVIF(X) \
    X(avifDecoderCreate) \
    X(avifDecoderDestroy) \
    X(avifDecoderNextImage) \
    X(avifDecoderParse) \
    X(avifDecoderSetIOMemory) \
    X(avifImageYUVToRGB) \
    X(avifRGBImageSetDefaults) \
    X(avifDecoderNthImage) \
    X(avifDecoderNthImageTiming) \
    X(avifCropRectConvertCleanApertureBox) \
    X(avifEncoderCreate) \
    X(avifEncoderDestroy) \
    X(avifEncoderWrite) \
    X(avifImageCreate) \
    X(avifImageDestroy) \
    X(avifImageRGBToYUV) \
    X(avifImageSetProfileICC) \
    X(avifRWDataFree)
#define VELKARO_GIF(X) \
    X(DGifCloseFile) \
    X(DGifGetExtension) \
    X(DGifGetExtensionNext) \
    X(DGifGetImageDesc) \
    X(DGifGetLine) \
    X(DGifGetRecordType) \
    X(DGifOpen)
#define VELKARO_WEBP(X) \
    X(WebPEncodeBGRA) \
    X(WebPEncodeLosslessBGRA) \
    X(WebPFree) \
    X(WebPGetDecoderVersion) \
    X(WebPGetFeaturesInternal) \
    X(WebPIDecode) \
    X(WebPIDecodedArea) \
    X(WebPIDelete) \
    X(WebPIUpdate) \
    X(WebPInitDecoderConfigInternal)
#define VELKARO_WEBP_DEMUX(X) \
    X(WebPAnimDecoderDelete) \
    X(WebPAnimDecoderGetNext) \
    X(WebPAnimDecoderNewInternal) \
    X(WebPAnimDecoderOptionsInitInternal) \
    X(WebPAnimDecoderReset) \
    X(WebPDemuxDelete) \
    X(WebPDemuxGetChunk) \
    X(WebPDemuxGetFrame) \
    X(WebPDemuxGetI) \
    X(WebPDemuxInternal) \
    X(WebPDemuxNextFrame) \
    X(WebPDemuxReleaseChunkIterator) \
    X(WebPDemuxReleaseIterator)
#define VELKARO_OPENJPEG(X) \
    X(opj_codec_set_threads) \
    X(opj_create_decompress) \
    X(opj_decode) \
    X(opj_destroy_codec) \
    X(opj_destroy_cstr_info) \
    X(opj_end_decompress) \
    X(opj_get_cstr_info) \
    X(opj_has_thread_support) \
    X(opj_image_destroy) \
    X(opj_read_header) \
    X(opj_set_decoded_resolution_factor) \
    X(opj_set_default_decoder_parameters) \
    X(opj_set_error_handler) \
    X(opj_set_info_handler) \
    X(opj_set_warning_handler) \
    X(opj_setup_decoder) \
    X(opj_stream_create) \
    X(opj_stream_destroy) \
    X(opj_stream_set_read_function) \
    X(opj_stream_set_seek_function) \
    X(opj_stream_set_skip_function) \
    X(opj_stream_set_user_data) \
    X(opj_stream_set_user_data_length)
#define VELKARO_EXIF(X) \
    X(exif_content_get_entry) \
    X(exif_data_get_byte_order) \
    X(exif_data_load_data) \
    X(exif_data_new) \
    X(exif_data_unref) \
    X(exif_data_unset_option) \
    X(exif_get_long) \
    X(exif_get_rational) \
    X(exif_get_short) \
    X(exif_get_srational)
#define VELKARO_LCMS(X) \
    X(cmsBuildParametricToneCurve) \
    X(cmsBuildTabulatedToneCurveFloat) \
    X(cmsCloseProfile) \
    X(cmsCreateRGBProfile) \
    X(cmsCreateTransform) \
    X(cmsCreate_sRGBProfile) \
    X(cmsDeleteTransform) \
    X(cmsDoTransform) \
    X(cmsFreeToneCurve) \
    X(cmsGetColorSpace) \
    X(cmsGetProfileInfoASCII) \
    X(cmsIsIntentSupported) \
    X(cmsOpenProfileFromMem) \
    X(cmsSaveProfileToMem) \
    X(cmsSetLogErrorHandler)
// clang-format on

const char* const kJxlNames[] = {VELKARO_JXL(VELKARO_NAME)};
const char* const kJxlThreadsNames[] = {VELKARO_JXL_THREADS(VELKARO_NAME)};
const char* const kHeifNames[] = {VELKARO_HEIF(VELKARO_NAME)};
const char* const kAvifNames[] = {VELKARO_AVIF(VELKARO_NAME)};
enum : size_t { VELKARO_JXL(VELKARO_INDEX) };
enum : size_t { VELKARO_JXL_THREADS(VELKARO_INDEX) };
enum : size_t { VELKARO_HEIF(VELKARO_INDEX) };
enum : size_t { VELKARO_AVIF(VELKARO_INDEX) };
const char* const kGifNames[] = {VELKARO_GIF(VELKARO_NAME)};
const char* const kWebPNames[] = {VELKARO_WEBP(VELKARO_NAME)};
const char* const kWebPDemuxNames[] = {VELKARO_WEBP_DEMUX(VELKARO_NAME)};
const char* const kOpenJpegNames[] = {VELKARO_OPENJPEG(VELKARO_NAME)};
const char* const kExifNames[] = {VELKARO_EXIF(VELKARO_NAME)};
const char* const kLcmsNames[] = {VELKARO_LCMS(VELKARO_NAME)};
enum : size_t { VELKARO_GIF(VELKARO_INDEX) };
enum : size_t { VELKARO_WEBP(VELKARO_INDEX) };
enum : size_t { VELKARO_WEBP_DEMUX(VELKARO_INDEX) };
enum : size_t { VELKARO_OPENJPEG(VELKARO_INDEX) };
enum : size_t { VELKARO_EXIF(VELKARO_INDEX) };
enum : size_t { VELKARO_LCMS(VELKARO_INDEX) };

TDeferredLibrary<std::size(kJxlNames)> gJxl{VELKARO_SONAME_JXL, kJxlNames};
TDeferredLibrary<std::size(kJxlThreadsNames)> gJxlThreads{VELKARO_SONAME_JXL_THREADS,
                                                          kJxlThreadsNames};
TDeferredLibrary<std::size(kHeifNames)> gHeif{VELKARO_SONAME_HEIF, kHeifNames};
TDeferredLibrary<std::size(kAvifNames)> gAvif{VELKARO_SONAME_AVIF, kAvifNames};
TDeferredLibrary<std::size(kGifNames)> gGif{VELKARO_SONAME_GIF, kGifNames};
TDeferredLibrary<std::size(kWebPNames)> gWebP{VELKARO_SONAME_WEBP, kWebPNames};
TDeferredLibrary<std::size(kWebPDemuxNames)> gWebPDemux{VELKARO_SONAME_WEBP_DEMUX, kWebPDemuxNames};
TDeferredLibrary<std::size(kOpenJpegNames)> gOpenJpeg{VELKARO_SONAME_OPENJPEG, kOpenJpegNames};
TDeferredLibrary<std::size(kExifNames)> gExif{VELKARO_SONAME_EXIF, kExifNames};
TDeferredLibrary<std::size(kLcmsNames)> gLcms{VELKARO_SONAME_LCMS, kLcmsNames};

}  // namespace

// Forwards a call: the library, the function and the arguments passed on.
#define VELKARO_FORWARD(library, name, args) \
    return library.Function<decltype(&::name)>(k_##name) args

extern "C" {

// ---- JPEG XL ----

JxlDecoder* JxlDecoderCreate(const JxlMemoryManager* manager) {
    if (!gJxl.Open()) return nullptr;
    VELKARO_FORWARD(gJxl, JxlDecoderCreate, (manager));
}
void JxlDecoderDestroy(JxlDecoder* dec) {
    VELKARO_FORWARD(gJxl, JxlDecoderDestroy, (dec));
}
void JxlDecoderCloseInput(JxlDecoder* dec) {
    VELKARO_FORWARD(gJxl, JxlDecoderCloseInput, (dec));
}
JxlDecoderStatus JxlDecoderGetBasicInfo(const JxlDecoder* dec, JxlBasicInfo* info) {
    VELKARO_FORWARD(gJxl, JxlDecoderGetBasicInfo, (dec, info));
}
JxlDecoderStatus JxlDecoderImageOutBufferSize(const JxlDecoder* dec, const JxlPixelFormat* format,
                                              size_t* size) {
    VELKARO_FORWARD(gJxl, JxlDecoderImageOutBufferSize, (dec, format, size));
}
JxlDecoderStatus JxlDecoderProcessInput(JxlDecoder* dec) {
    VELKARO_FORWARD(gJxl, JxlDecoderProcessInput, (dec));
}
JxlDecoderStatus JxlDecoderSetImageOutBuffer(JxlDecoder* dec, const JxlPixelFormat* format,
                                             void* buffer, size_t size) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetImageOutBuffer, (dec, format, buffer, size));
}
JxlDecoderStatus JxlDecoderSetInput(JxlDecoder* dec, const uint8_t* data, size_t size) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetInput, (dec, data, size));
}
JxlDecoderStatus JxlDecoderSetKeepOrientation(JxlDecoder* dec, JXL_BOOL keep) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetKeepOrientation, (dec, keep));
}
JxlDecoderStatus JxlDecoderSetParallelRunner(JxlDecoder* dec, JxlParallelRunner runner,
                                             void* opaque) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetParallelRunner, (dec, runner, opaque));
}
JxlDecoderStatus JxlDecoderSubscribeEvents(JxlDecoder* dec, int events) {
    VELKARO_FORWARD(gJxl, JxlDecoderSubscribeEvents, (dec, events));
}

JxlDecoderStatus JxlDecoderGetBoxType(JxlDecoder* dec, JxlBoxType type, JXL_BOOL decompressed) {
    VELKARO_FORWARD(gJxl, JxlDecoderGetBoxType, (dec, type, decompressed));
}
size_t JxlDecoderReleaseBoxBuffer(JxlDecoder* dec) {
    VELKARO_FORWARD(gJxl, JxlDecoderReleaseBoxBuffer, (dec));
}
JxlDecoderStatus JxlDecoderSetBoxBuffer(JxlDecoder* dec, uint8_t* data, size_t size) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetBoxBuffer, (dec, data, size));
}
JxlDecoderStatus JxlDecoderSetDecompressBoxes(JxlDecoder* dec, JXL_BOOL decompress) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetDecompressBoxes, (dec, decompress));
}
JxlDecoderStatus JxlDecoderGetColorAsEncodedProfile(const JxlDecoder* dec,
                                                    const JxlPixelFormat* format,
                                                    JxlColorProfileTarget target,
                                                    JxlColorEncoding* encoding) {
    VELKARO_FORWARD(gJxl, JxlDecoderGetColorAsEncodedProfile, (dec, format, target, encoding));
}
JxlDecoderStatus JxlDecoderGetColorAsICCProfile(const JxlDecoder* dec, const JxlPixelFormat* format,
                                                JxlColorProfileTarget target, uint8_t* profile,
                                                size_t size) {
    VELKARO_FORWARD(gJxl, JxlDecoderGetColorAsICCProfile, (dec, format, target, profile, size));
}
JxlDecoderStatus JxlDecoderGetICCProfileSize(const JxlDecoder* dec, const JxlPixelFormat* format,
                                             JxlColorProfileTarget target, size_t* size) {
    VELKARO_FORWARD(gJxl, JxlDecoderGetICCProfileSize, (dec, format, target, size));
}
JxlDecoderStatus JxlDecoderSetPreferredColorProfile(JxlDecoder* dec,
                                                    const JxlColorEncoding* encoding) {
    VELKARO_FORWARD(gJxl, JxlDecoderSetPreferredColorProfile, (dec, encoding));
}

JxlParallelRetCode JxlResizableParallelRunner(void* runner, void* opaque, JxlParallelRunInit init,
                                              JxlParallelRunFunction func, uint32_t start,
                                              uint32_t end) {
    VELKARO_FORWARD(gJxlThreads, JxlResizableParallelRunner,
                    (runner, opaque, init, func, start, end));
}
void* JxlResizableParallelRunnerCreate(const JxlMemoryManager* manager) {
    if (!gJxlThreads.Open()) return nullptr;
    VELKARO_FORWARD(gJxlThreads, JxlResizableParallelRunnerCreate, (manager));
}
void JxlResizableParallelRunnerDestroy(void* runner) {
    VELKARO_FORWARD(gJxlThreads, JxlResizableParallelRunnerDestroy, (runner));
}
void JxlResizableParallelRunnerSetThreads(void* runner, size_t threads) {
    VELKARO_FORWARD(gJxlThreads, JxlResizableParallelRunnerSetThreads, (runner, threads));
}

// The JPEG XL encoder: everything is reached through the encoder JxlEncoderCreate made.
JxlEncoder* JxlEncoderCreate(const JxlMemoryManager* manager) {
    if (!gJxl.Open()) return nullptr;
    VELKARO_FORWARD(gJxl, JxlEncoderCreate, (manager));
}
void JxlEncoderDestroy(JxlEncoder* enc) {
    VELKARO_FORWARD(gJxl, JxlEncoderDestroy, (enc));
}
void JxlEncoderInitBasicInfo(JxlBasicInfo* info) {
    VELKARO_FORWARD(gJxl, JxlEncoderInitBasicInfo, (info));
}
void JxlColorEncodingSetToSRGB(JxlColorEncoding* encoding, JXL_BOOL gray) {
    VELKARO_FORWARD(gJxl, JxlColorEncodingSetToSRGB, (encoding, gray));
}
JxlEncoderStatus JxlEncoderSetBasicInfo(JxlEncoder* enc, const JxlBasicInfo* info) {
    VELKARO_FORWARD(gJxl, JxlEncoderSetBasicInfo, (enc, info));
}
JxlEncoderStatus JxlEncoderSetColorEncoding(JxlEncoder* enc, const JxlColorEncoding* color) {
    VELKARO_FORWARD(gJxl, JxlEncoderSetColorEncoding, (enc, color));
}
JxlEncoderStatus JxlEncoderSetICCProfile(JxlEncoder* enc, const uint8_t* profile, size_t size) {
    VELKARO_FORWARD(gJxl, JxlEncoderSetICCProfile, (enc, profile, size));
}
JxlEncoderFrameSettings* JxlEncoderFrameSettingsCreate(JxlEncoder* enc,
                                                       const JxlEncoderFrameSettings* source) {
    VELKARO_FORWARD(gJxl, JxlEncoderFrameSettingsCreate, (enc, source));
}
JxlEncoderStatus JxlEncoderSetFrameLossless(JxlEncoderFrameSettings* settings, JXL_BOOL lossless) {
    VELKARO_FORWARD(gJxl, JxlEncoderSetFrameLossless, (settings, lossless));
}
JxlEncoderStatus JxlEncoderSetFrameDistance(JxlEncoderFrameSettings* settings, float distance) {
    VELKARO_FORWARD(gJxl, JxlEncoderSetFrameDistance, (settings, distance));
}
JxlEncoderStatus JxlEncoderAddImageFrame(const JxlEncoderFrameSettings* settings,
                                         const JxlPixelFormat* format, const void* buffer,
                                         size_t size) {
    VELKARO_FORWARD(gJxl, JxlEncoderAddImageFrame, (settings, format, buffer, size));
}
void JxlEncoderCloseInput(JxlEncoder* enc) {
    VELKARO_FORWARD(gJxl, JxlEncoderCloseInput, (enc));
}
JxlEncoderStatus JxlEncoderProcessOutput(JxlEncoder* enc, uint8_t** next, size_t* available) {
    VELKARO_FORWARD(gJxl, JxlEncoderProcessOutput, (enc, next, available));
}

// ---- HEIF ----

heif_context* heif_context_alloc(void) {
    if (!gHeif.Open()) return nullptr;
    VELKARO_FORWARD(gHeif, heif_context_alloc, ());
}
void heif_context_free(heif_context* ctx) {
    VELKARO_FORWARD(gHeif, heif_context_free, (ctx));
}
heif_error heif_context_get_primary_image_handle(heif_context* ctx, heif_image_handle** handle) {
    VELKARO_FORWARD(gHeif, heif_context_get_primary_image_handle, (ctx, handle));
}
heif_error heif_context_read_from_memory_without_copy(heif_context* ctx, const void* mem,
                                                      size_t size,
                                                      const heif_reading_options* options) {
    VELKARO_FORWARD(gHeif, heif_context_read_from_memory_without_copy, (ctx, mem, size, options));
}
void heif_context_set_max_decoding_threads(heif_context* ctx, int threads) {
    VELKARO_FORWARD(gHeif, heif_context_set_max_decoding_threads, (ctx, threads));
}
void heif_context_set_maximum_image_size_limit(heif_context* ctx, int width) {
    VELKARO_FORWARD(gHeif, heif_context_set_maximum_image_size_limit, (ctx, width));
}
heif_error heif_decode_image(const heif_image_handle* handle, heif_image** image,
                             heif_colorspace colorspace, heif_chroma chroma,
                             const heif_decoding_options* options) {
    VELKARO_FORWARD(gHeif, heif_decode_image, (handle, image, colorspace, chroma, options));
}
heif_decoding_options* heif_decoding_options_alloc() {
    VELKARO_FORWARD(gHeif, heif_decoding_options_alloc, ());
}
void heif_decoding_options_free(heif_decoding_options* options) {
    VELKARO_FORWARD(gHeif, heif_decoding_options_free, (options));
}
int heif_image_get_bits_per_pixel_range(const heif_image* image, heif_channel channel) {
    VELKARO_FORWARD(gHeif, heif_image_get_bits_per_pixel_range, (image, channel));
}
int heif_image_get_height(const heif_image* image, heif_channel channel) {
    VELKARO_FORWARD(gHeif, heif_image_get_height, (image, channel));
}
int heif_image_get_width(const heif_image* image, heif_channel channel) {
    VELKARO_FORWARD(gHeif, heif_image_get_width, (image, channel));
}
const uint8_t* heif_image_get_plane_readonly(const heif_image* image, heif_channel channel,
                                             int* stride) {
    VELKARO_FORWARD(gHeif, heif_image_get_plane_readonly, (image, channel, stride));
}
int heif_image_handle_get_height(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_height, (handle));
}
int heif_image_handle_get_width(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_width, (handle));
}
int heif_image_handle_get_ispe_height(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_ispe_height, (handle));
}
int heif_image_handle_get_ispe_width(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_ispe_width, (handle));
}
int heif_image_handle_get_luma_bits_per_pixel(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_luma_bits_per_pixel, (handle));
}
int heif_image_handle_has_alpha_channel(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_has_alpha_channel, (handle));
}
void heif_image_handle_release(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_release, (handle));
}
void heif_image_release(const heif_image* image) {
    VELKARO_FORWARD(gHeif, heif_image_release, (image));
}

heif_error heif_image_handle_get_metadata(const heif_image_handle* handle, heif_item_id id,
                                          void* data) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_metadata, (handle, id, data));
}
size_t heif_image_handle_get_metadata_size(const heif_image_handle* handle, heif_item_id id) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_metadata_size, (handle, id));
}
heif_error heif_image_handle_get_nclx_color_profile(const heif_image_handle* handle,
                                                    heif_color_profile_nclx** profile) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_nclx_color_profile, (handle, profile));
}
heif_error heif_image_handle_get_raw_color_profile(const heif_image_handle* handle, void* data) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_raw_color_profile, (handle, data));
}
size_t heif_image_handle_get_raw_color_profile_size(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_raw_color_profile_size, (handle));
}
void heif_nclx_color_profile_free(heif_color_profile_nclx* profile) {
    VELKARO_FORWARD(gHeif, heif_nclx_color_profile_free, (profile));
}
int heif_image_handle_get_list_of_metadata_block_IDs(const heif_image_handle* handle,
                                                     const char* type, heif_item_id* ids,
                                                     int count) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_list_of_metadata_block_IDs,
                    (handle, type, ids, count));
}
int heif_image_handle_get_number_of_thumbnails(const heif_image_handle* handle) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_number_of_thumbnails, (handle));
}
int heif_image_handle_get_list_of_thumbnail_IDs(const heif_image_handle* handle, heif_item_id* ids,
                                                int count) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_list_of_thumbnail_IDs, (handle, ids, count));
}
heif_error heif_image_handle_get_thumbnail(const heif_image_handle* handle, heif_item_id id,
                                           heif_image_handle** thumbnail) {
    VELKARO_FORWARD(gHeif, heif_image_handle_get_thumbnail, (handle, id, thumbnail));
}

// The HEIF encoder: reached through a context heif_context_alloc made.
heif_error heif_context_get_encoder_for_format(heif_context* context,
                                               heif_compression_format format,
                                               heif_encoder** encoder) {
    VELKARO_FORWARD(gHeif, heif_context_get_encoder_for_format, (context, format, encoder));
}
void heif_encoder_release(heif_encoder* encoder) {
    VELKARO_FORWARD(gHeif, heif_encoder_release, (encoder));
}
heif_error heif_encoder_set_lossy_quality(heif_encoder* encoder, int quality) {
    VELKARO_FORWARD(gHeif, heif_encoder_set_lossy_quality, (encoder, quality));
}
heif_error heif_image_create(int width, int height, heif_colorspace colorspace, heif_chroma chroma,
                             heif_image** image) {
    VELKARO_FORWARD(gHeif, heif_image_create, (width, height, colorspace, chroma, image));
}
heif_error heif_image_add_plane(heif_image* image, heif_channel channel, int width, int height,
                                int depth) {
    VELKARO_FORWARD(gHeif, heif_image_add_plane, (image, channel, width, height, depth));
}
uint8_t* heif_image_get_plane(heif_image* image, heif_channel channel, int* stride) {
    VELKARO_FORWARD(gHeif, heif_image_get_plane, (image, channel, stride));
}
heif_error heif_image_set_raw_color_profile(heif_image* image, const char* type, const void* data,
                                            const size_t size) {
    VELKARO_FORWARD(gHeif, heif_image_set_raw_color_profile, (image, type, data, size));
}
heif_error heif_context_encode_image(heif_context* context, const heif_image* image,
                                     heif_encoder* encoder, const heif_encoding_options* options,
                                     heif_image_handle** handle) {
    VELKARO_FORWARD(gHeif, heif_context_encode_image, (context, image, encoder, options, handle));
}
heif_error heif_context_write(heif_context* context, heif_writer* writer, void* userdata) {
    VELKARO_FORWARD(gHeif, heif_context_write, (context, writer, userdata));
}

// ---- AVIF ----

avifDecoder* avifDecoderCreate(void) {
    if (!gAvif.Open()) return nullptr;
    VELKARO_FORWARD(gAvif, avifDecoderCreate, ());
}
void avifDecoderDestroy(avifDecoder* decoder) {
    VELKARO_FORWARD(gAvif, avifDecoderDestroy, (decoder));
}
avifResult avifDecoderNextImage(avifDecoder* decoder) {
    VELKARO_FORWARD(gAvif, avifDecoderNextImage, (decoder));
}
avifResult avifDecoderParse(avifDecoder* decoder) {
    VELKARO_FORWARD(gAvif, avifDecoderParse, (decoder));
}
avifResult avifDecoderSetIOMemory(avifDecoder* decoder, const uint8_t* data, size_t size) {
    VELKARO_FORWARD(gAvif, avifDecoderSetIOMemory, (decoder, data, size));
}
avifResult avifImageYUVToRGB(const avifImage* image, avifRGBImage* rgb) {
    VELKARO_FORWARD(gAvif, avifImageYUVToRGB, (image, rgb));
}
void avifRGBImageSetDefaults(avifRGBImage* rgb, const avifImage* image) {
    VELKARO_FORWARD(gAvif, avifRGBImageSetDefaults, (rgb, image));
}
avifResult avifDecoderNthImage(avifDecoder* decoder, uint32_t index) {
    VELKARO_FORWARD(gAvif, avifDecoderNthImage, (decoder, index));
}
avifResult avifDecoderNthImageTiming(const avifDecoder* decoder, uint32_t index,
                                     avifImageTiming* timing) {
    VELKARO_FORWARD(gAvif, avifDecoderNthImageTiming, (decoder, index, timing));
}
avifBool avifCropRectConvertCleanApertureBox(avifCropRect* rect, const avifCleanApertureBox* clap,
                                             uint32_t width, uint32_t height,
                                             avifPixelFormat format, avifDiagnostics* diag) {
    VELKARO_FORWARD(gAvif, avifCropRectConvertCleanApertureBox,
                    (rect, clap, width, height, format, diag));
}

// The AVIF encoder: an image and an encoder are created first; without the library, neither is.
avifImage* avifImageCreate(uint32_t width, uint32_t height, uint32_t depth,
                           avifPixelFormat format) {
    if (!gAvif.Open()) return nullptr;
    VELKARO_FORWARD(gAvif, avifImageCreate, (width, height, depth, format));
}
void avifImageDestroy(avifImage* image) {
    VELKARO_FORWARD(gAvif, avifImageDestroy, (image));
}
void avifImageSetProfileICC(avifImage* image, const uint8_t* icc, size_t size) {
    VELKARO_FORWARD(gAvif, avifImageSetProfileICC, (image, icc, size));
}
avifResult avifImageRGBToYUV(avifImage* image, const avifRGBImage* rgb) {
    VELKARO_FORWARD(gAvif, avifImageRGBToYUV, (image, rgb));
}
avifEncoder* avifEncoderCreate(void) {
    if (!gAvif.Open()) return nullptr;
    VELKARO_FORWARD(gAvif, avifEncoderCreate, ());
}
void avifEncoderDestroy(avifEncoder* encoder) {
    VELKARO_FORWARD(gAvif, avifEncoderDestroy, (encoder));
}
avifResult avifEncoderWrite(avifEncoder* encoder, const avifImage* image, avifRWData* output) {
    VELKARO_FORWARD(gAvif, avifEncoderWrite, (encoder, image, output));
}
void avifRWDataFree(avifRWData* raw) {
    VELKARO_FORWARD(gAvif, avifRWDataFree, (raw));
}

// ---- GIF ----

GifFileType* DGifOpen(void* userPtr, InputFunc readFunc, int* error) {
    if (!gGif.Open()) {
        if (error != nullptr) *error = D_GIF_ERR_OPEN_FAILED;
        return nullptr;
    }
    VELKARO_FORWARD(gGif, DGifOpen, (userPtr, readFunc, error));
}
int DGifCloseFile(GifFileType* gif, int* error) {
    VELKARO_FORWARD(gGif, DGifCloseFile, (gif, error));
}
int DGifGetExtension(GifFileType* gif, int* code, GifByteType** extension) {
    VELKARO_FORWARD(gGif, DGifGetExtension, (gif, code, extension));
}
int DGifGetExtensionNext(GifFileType* gif, GifByteType** extension) {
    VELKARO_FORWARD(gGif, DGifGetExtensionNext, (gif, extension));
}
int DGifGetImageDesc(GifFileType* gif) {
    VELKARO_FORWARD(gGif, DGifGetImageDesc, (gif));
}
int DGifGetLine(GifFileType* gif, GifPixelType* line, int length) {
    VELKARO_FORWARD(gGif, DGifGetLine, (gif, line, length));
}
int DGifGetRecordType(GifFileType* gif, GifRecordType* type) {
    VELKARO_FORWARD(gGif, DGifGetRecordType, (gif, type));
}

// ---- WebP ----

int WebPGetDecoderVersion(void) {
    if (!gWebP.Open()) return 0;
    VELKARO_FORWARD(gWebP, WebPGetDecoderVersion, ());
}
VP8StatusCode WebPGetFeaturesInternal(const uint8_t* data, size_t size,
                                      WebPBitstreamFeatures* features, int version) {
    if (!gWebP.Open()) return VP8_STATUS_UNSUPPORTED_FEATURE;
    VELKARO_FORWARD(gWebP, WebPGetFeaturesInternal, (data, size, features, version));
}
int WebPInitDecoderConfigInternal(WebPDecoderConfig* config, int version) {
    if (!gWebP.Open()) return 0;
    VELKARO_FORWARD(gWebP, WebPInitDecoderConfigInternal, (config, version));
}
WebPIDecoder* WebPIDecode(const uint8_t* data, size_t size, WebPDecoderConfig* config) {
    if (!gWebP.Open()) return nullptr;
    VELKARO_FORWARD(gWebP, WebPIDecode, (data, size, config));
}
const WebPDecBuffer* WebPIDecodedArea(const WebPIDecoder* decoder, int* left, int* top, int* width,
                                      int* height) {
    VELKARO_FORWARD(gWebP, WebPIDecodedArea, (decoder, left, top, width, height));
}
void WebPIDelete(WebPIDecoder* decoder) {
    VELKARO_FORWARD(gWebP, WebPIDelete, (decoder));
}
VP8StatusCode WebPIUpdate(WebPIDecoder* decoder, const uint8_t* data, size_t size) {
    VELKARO_FORWARD(gWebP, WebPIUpdate, (decoder, data, size));
}
// The encoders create their output: without the library they write nothing (size 0).
size_t WebPEncodeBGRA(const uint8_t* bgra, int width, int height, int stride, float quality,
                      uint8_t** output) {
    if (!gWebP.Open()) return 0;
    VELKARO_FORWARD(gWebP, WebPEncodeBGRA, (bgra, width, height, stride, quality, output));
}
size_t WebPEncodeLosslessBGRA(const uint8_t* bgra, int width, int height, int stride,
                              uint8_t** output) {
    if (!gWebP.Open()) return 0;
    VELKARO_FORWARD(gWebP, WebPEncodeLosslessBGRA, (bgra, width, height, stride, output));
}
void WebPFree(void* memory) {
    VELKARO_FORWARD(gWebP, WebPFree, (memory));
}

WebPDemuxer* WebPDemuxInternal(const WebPData* data, int partial, WebPDemuxState* state,
                               int version) {
    if (!gWebPDemux.Open()) {
        if (state != nullptr) *state = WEBP_DEMUX_PARSE_ERROR;
        return nullptr;
    }
    VELKARO_FORWARD(gWebPDemux, WebPDemuxInternal, (data, partial, state, version));
}
void WebPDemuxDelete(WebPDemuxer* demux) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxDelete, (demux));
}
int WebPDemuxGetChunk(const WebPDemuxer* demux, const char fourcc[4], int number,
                      WebPChunkIterator* iterator) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxGetChunk, (demux, fourcc, number, iterator));
}
int WebPDemuxGetFrame(const WebPDemuxer* demux, int number, WebPIterator* iterator) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxGetFrame, (demux, number, iterator));
}
uint32_t WebPDemuxGetI(const WebPDemuxer* demux, WebPFormatFeature feature) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxGetI, (demux, feature));
}
int WebPDemuxNextFrame(WebPIterator* iterator) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxNextFrame, (iterator));
}
void WebPDemuxReleaseChunkIterator(WebPChunkIterator* iterator) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxReleaseChunkIterator, (iterator));
}
void WebPDemuxReleaseIterator(WebPIterator* iterator) {
    VELKARO_FORWARD(gWebPDemux, WebPDemuxReleaseIterator, (iterator));
}
int WebPAnimDecoderOptionsInitInternal(WebPAnimDecoderOptions* options, int version) {
    if (!gWebPDemux.Open()) return 0;
    VELKARO_FORWARD(gWebPDemux, WebPAnimDecoderOptionsInitInternal, (options, version));
}
WebPAnimDecoder* WebPAnimDecoderNewInternal(const WebPData* data,
                                            const WebPAnimDecoderOptions* options, int version) {
    if (!gWebPDemux.Open()) return nullptr;
    VELKARO_FORWARD(gWebPDemux, WebPAnimDecoderNewInternal, (data, options, version));
}
void WebPAnimDecoderDelete(WebPAnimDecoder* decoder) {
    VELKARO_FORWARD(gWebPDemux, WebPAnimDecoderDelete, (decoder));
}
int WebPAnimDecoderGetNext(WebPAnimDecoder* decoder, uint8_t** buffer, int* timestamp) {
    VELKARO_FORWARD(gWebPDemux, WebPAnimDecoderGetNext, (decoder, buffer, timestamp));
}
void WebPAnimDecoderReset(WebPAnimDecoder* decoder) {
    VELKARO_FORWARD(gWebPDemux, WebPAnimDecoderReset, (decoder));
}

// ---- JPEG 2000 ----

opj_codec_t* opj_create_decompress(OPJ_CODEC_FORMAT format) {
    if (!gOpenJpeg.Open()) return nullptr;
    VELKARO_FORWARD(gOpenJpeg, opj_create_decompress, (format));
}
opj_stream_t* opj_stream_create(OPJ_SIZE_T size, OPJ_BOOL input) {
    if (!gOpenJpeg.Open()) return nullptr;
    VELKARO_FORWARD(gOpenJpeg, opj_stream_create, (size, input));
}
OPJ_BOOL opj_has_thread_support(void) {
    if (!gOpenJpeg.Open()) return OPJ_FALSE;
    VELKARO_FORWARD(gOpenJpeg, opj_has_thread_support, ());
}
void opj_set_default_decoder_parameters(opj_dparameters_t* parameters) {
    if (!gOpenJpeg.Open()) return;
    VELKARO_FORWARD(gOpenJpeg, opj_set_default_decoder_parameters, (parameters));
}
OPJ_BOOL opj_codec_set_threads(opj_codec_t* codec, int threads) {
    VELKARO_FORWARD(gOpenJpeg, opj_codec_set_threads, (codec, threads));
}
OPJ_BOOL opj_decode(opj_codec_t* codec, opj_stream_t* stream, opj_image_t* image) {
    VELKARO_FORWARD(gOpenJpeg, opj_decode, (codec, stream, image));
}
void opj_destroy_codec(opj_codec_t* codec) {
    VELKARO_FORWARD(gOpenJpeg, opj_destroy_codec, (codec));
}
void opj_destroy_cstr_info(opj_codestream_info_v2_t** info) {
    VELKARO_FORWARD(gOpenJpeg, opj_destroy_cstr_info, (info));
}
OPJ_BOOL opj_end_decompress(opj_codec_t* codec, opj_stream_t* stream) {
    VELKARO_FORWARD(gOpenJpeg, opj_end_decompress, (codec, stream));
}
opj_codestream_info_v2_t* opj_get_cstr_info(opj_codec_t* codec) {
    VELKARO_FORWARD(gOpenJpeg, opj_get_cstr_info, (codec));
}
void opj_image_destroy(opj_image_t* image) {
    VELKARO_FORWARD(gOpenJpeg, opj_image_destroy, (image));
}
OPJ_BOOL opj_read_header(opj_stream_t* stream, opj_codec_t* codec, opj_image_t** image) {
    VELKARO_FORWARD(gOpenJpeg, opj_read_header, (stream, codec, image));
}
OPJ_BOOL opj_set_decoded_resolution_factor(opj_codec_t* codec, OPJ_UINT32 factor) {
    VELKARO_FORWARD(gOpenJpeg, opj_set_decoded_resolution_factor, (codec, factor));
}
OPJ_BOOL opj_set_error_handler(opj_codec_t* codec, opj_msg_callback callback, void* user) {
    VELKARO_FORWARD(gOpenJpeg, opj_set_error_handler, (codec, callback, user));
}
OPJ_BOOL opj_set_info_handler(opj_codec_t* codec, opj_msg_callback callback, void* user) {
    VELKARO_FORWARD(gOpenJpeg, opj_set_info_handler, (codec, callback, user));
}
OPJ_BOOL opj_set_warning_handler(opj_codec_t* codec, opj_msg_callback callback, void* user) {
    VELKARO_FORWARD(gOpenJpeg, opj_set_warning_handler, (codec, callback, user));
}
OPJ_BOOL opj_setup_decoder(opj_codec_t* codec, opj_dparameters_t* parameters) {
    VELKARO_FORWARD(gOpenJpeg, opj_setup_decoder, (codec, parameters));
}
void opj_stream_destroy(opj_stream_t* stream) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_destroy, (stream));
}
void opj_stream_set_read_function(opj_stream_t* stream, opj_stream_read_fn function) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_set_read_function, (stream, function));
}
void opj_stream_set_seek_function(opj_stream_t* stream, opj_stream_seek_fn function) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_set_seek_function, (stream, function));
}
void opj_stream_set_skip_function(opj_stream_t* stream, opj_stream_skip_fn function) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_set_skip_function, (stream, function));
}
void opj_stream_set_user_data(opj_stream_t* stream, void* data,
                              opj_stream_free_user_data_fn function) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_set_user_data, (stream, data, function));
}
void opj_stream_set_user_data_length(opj_stream_t* stream, OPJ_UINT64 length) {
    VELKARO_FORWARD(gOpenJpeg, opj_stream_set_user_data_length, (stream, length));
}

// ---- EXIF ----

ExifData* exif_data_new(void) {
    if (!gExif.Open()) return nullptr;
    VELKARO_FORWARD(gExif, exif_data_new, ());
}
ExifEntry* exif_content_get_entry(ExifContent* content, ExifTag tag) {
    VELKARO_FORWARD(gExif, exif_content_get_entry, (content, tag));
}
ExifByteOrder exif_data_get_byte_order(ExifData* data) {
    VELKARO_FORWARD(gExif, exif_data_get_byte_order, (data));
}
void exif_data_load_data(ExifData* data, const unsigned char* bytes, unsigned int size) {
    VELKARO_FORWARD(gExif, exif_data_load_data, (data, bytes, size));
}
void exif_data_unref(ExifData* data) {
    VELKARO_FORWARD(gExif, exif_data_unref, (data));
}
void exif_data_unset_option(ExifData* data, ExifDataOption option) {
    VELKARO_FORWARD(gExif, exif_data_unset_option, (data, option));
}
ExifLong exif_get_long(const unsigned char* bytes, ExifByteOrder order) {
    VELKARO_FORWARD(gExif, exif_get_long, (bytes, order));
}
ExifRational exif_get_rational(const unsigned char* bytes, ExifByteOrder order) {
    VELKARO_FORWARD(gExif, exif_get_rational, (bytes, order));
}
ExifShort exif_get_short(const unsigned char* bytes, ExifByteOrder order) {
    VELKARO_FORWARD(gExif, exif_get_short, (bytes, order));
}
ExifSRational exif_get_srational(const unsigned char* bytes, ExifByteOrder order) {
    VELKARO_FORWARD(gExif, exif_get_srational, (bytes, order));
}

// ---- Little CMS ----

void cmsSetLogErrorHandler(cmsLogErrorHandlerFunction handler) {
    if (!gLcms.Open()) return;
    VELKARO_FORWARD(gLcms, cmsSetLogErrorHandler, (handler));
}
cmsHPROFILE cmsOpenProfileFromMem(const void* data, cmsUInt32Number size) {
    if (!gLcms.Open()) return nullptr;
    VELKARO_FORWARD(gLcms, cmsOpenProfileFromMem, (data, size));
}
cmsHPROFILE cmsCreate_sRGBProfile(void) {
    if (!gLcms.Open()) return nullptr;
    VELKARO_FORWARD(gLcms, cmsCreate_sRGBProfile, ());
}
cmsHPROFILE cmsCreateRGBProfile(const cmsCIExyY* white, const cmsCIExyYTRIPLE* primaries,
                                cmsToneCurve* const curves[3]) {
    if (!gLcms.Open()) return nullptr;
    VELKARO_FORWARD(gLcms, cmsCreateRGBProfile, (white, primaries, curves));
}
cmsToneCurve* cmsBuildParametricToneCurve(cmsContext context, cmsInt32Number type,
                                          const cmsFloat64Number parameters[]) {
    if (!gLcms.Open()) return nullptr;
    VELKARO_FORWARD(gLcms, cmsBuildParametricToneCurve, (context, type, parameters));
}
cmsToneCurve* cmsBuildTabulatedToneCurveFloat(cmsContext context, cmsUInt32Number count,
                                              const cmsFloat32Number values[]) {
    if (!gLcms.Open()) return nullptr;
    VELKARO_FORWARD(gLcms, cmsBuildTabulatedToneCurveFloat, (context, count, values));
}
cmsBool cmsCloseProfile(cmsHPROFILE profile) {
    VELKARO_FORWARD(gLcms, cmsCloseProfile, (profile));
}
cmsHTRANSFORM cmsCreateTransform(cmsHPROFILE input, cmsUInt32Number inputFormat, cmsHPROFILE output,
                                 cmsUInt32Number outputFormat, cmsUInt32Number intent,
                                 cmsUInt32Number flags) {
    VELKARO_FORWARD(gLcms, cmsCreateTransform,
                    (input, inputFormat, output, outputFormat, intent, flags));
}
void cmsDeleteTransform(cmsHTRANSFORM transform) {
    VELKARO_FORWARD(gLcms, cmsDeleteTransform, (transform));
}
void cmsDoTransform(cmsHTRANSFORM transform, const void* input, void* output,
                    cmsUInt32Number size) {
    VELKARO_FORWARD(gLcms, cmsDoTransform, (transform, input, output, size));
}
void cmsFreeToneCurve(cmsToneCurve* curve) {
    VELKARO_FORWARD(gLcms, cmsFreeToneCurve, (curve));
}
cmsColorSpaceSignature cmsGetColorSpace(cmsHPROFILE profile) {
    VELKARO_FORWARD(gLcms, cmsGetColorSpace, (profile));
}
cmsUInt32Number cmsGetProfileInfoASCII(cmsHPROFILE profile, cmsInfoType info,
                                       const char language[3], const char country[3], char* buffer,
                                       cmsUInt32Number size) {
    VELKARO_FORWARD(gLcms, cmsGetProfileInfoASCII,
                    (profile, info, language, country, buffer, size));
}
cmsBool cmsIsIntentSupported(cmsHPROFILE profile, cmsUInt32Number intent,
                             cmsUInt32Number direction) {
    VELKARO_FORWARD(gLcms, cmsIsIntentSupported, (profile, intent, direction));
}
cmsBool cmsSaveProfileToMem(cmsHPROFILE profile, void* data, cmsUInt32Number* size) {
    VELKARO_FORWARD(gLcms, cmsSaveProfileToMem, (profile, data, size));
}

}  // extern "C"
