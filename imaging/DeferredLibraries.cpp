// The JPEG XL, HEIF and AVIF libraries are opened the first time a picture of theirs is read,
// not when the program starts. Linked directly, they and the codecs they pull in (about thirty
// libraries: x265, libde265, dav1d, aom, rav1e, SVT-AV1, abseil, highway) are mapped, relocated
// and initialised by every process, which costs about 15 ms of processor time before main, on
// every start of the reader and of velkaro-decode, whatever the picture.
//
// Each function the imaging library calls is defined here under its own name and forwards to the
// library's, found with dlsym. A creating function (JxlDecoderCreate, heif_context_alloc,
// avifDecoderCreate, JxlResizableParallelRunnerCreate) returns null when the library cannot be
// opened, which the loaders already report as a picture that cannot be read; every other
// function is reached only through what a creating function returned. A call of one of these
// libraries that is not listed here fails to link: add its forwarder here.
#include <avif/avif.h>
#include <dlfcn.h>
#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>
#include <libheif/heif.h>

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
    X(JxlDecoderSetPreferredColorProfile)
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
    X(heif_image_handle_get_nclx_color_profile) \
    X(heif_image_handle_get_raw_color_profile) \
    X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_nclx_color_profile_free)
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
    X(avifCropRectConvertCleanApertureBox)
// clang-format on

const char* const kJxlNames[] = {VELKARO_JXL(VELKARO_NAME)};
const char* const kJxlThreadsNames[] = {VELKARO_JXL_THREADS(VELKARO_NAME)};
const char* const kHeifNames[] = {VELKARO_HEIF(VELKARO_NAME)};
const char* const kAvifNames[] = {VELKARO_AVIF(VELKARO_NAME)};
enum : size_t { VELKARO_JXL(VELKARO_INDEX) };
enum : size_t { VELKARO_JXL_THREADS(VELKARO_INDEX) };
enum : size_t { VELKARO_HEIF(VELKARO_INDEX) };
enum : size_t { VELKARO_AVIF(VELKARO_INDEX) };

TDeferredLibrary<std::size(kJxlNames)> gJxl{VELKARO_SONAME_JXL, kJxlNames};
TDeferredLibrary<std::size(kJxlThreadsNames)> gJxlThreads{VELKARO_SONAME_JXL_THREADS,
                                                          kJxlThreadsNames};
TDeferredLibrary<std::size(kHeifNames)> gHeif{VELKARO_SONAME_HEIF, kHeifNames};
TDeferredLibrary<std::size(kAvifNames)> gAvif{VELKARO_SONAME_AVIF, kAvifNames};

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

}  // extern "C"
