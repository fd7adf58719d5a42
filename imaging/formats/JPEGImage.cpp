// JPEG pictures through libjpeg (version-6 interface, libjpeg-turbo for blue-green-red rows).
//
// libjpeg reports a fatal error by calling error_exit, which must not return. Ours jumps back
// with longjmp to the setjmp in Guarded(), which then reports failure to its caller, and the
// caller raises the C++ exception. Between the setjmp and any longjmp lie only libjpeg's C
// frames, our callbacks and lambdas whose objects are trivially destructible, so the jump skips
// no destructor. Callbacks that run C++ code (the progress handler, the output buffer) catch
// everything themselves and turn a failure into a jump.
#include "imaging/formats/JPEGImage.h"

// clang-format off
#include <sys/mman.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "imaging/ColorManager.h"
#include "imaging/ColorProfile.h"
#include "imaging/Exceptions.h"
#include "imaging/Picture.h"
#include "imaging/PictureInfo.h"
#include "imaging/ScanLineConversion.h"
#include "imaging/formats/ExifOrientation.h"

TJPEGOptions DefaultJpegOptions;

namespace {

constexpr size_t kSourceChunk = 4096;        // bytes handed to the library per fill
constexpr int kQuantizedColors = 236;        // colours of 8-bit output
constexpr int kMaxScans = 1000;              // more scans than any real file has; guards the time
constexpr int kMaxRowsPerCall = 16;          // bound for the library's recommended rows per call
constexpr uint64_t kProgressInterval = 500;  // milliseconds between progress reports
constexpr unsigned kMaxMarkerData = 0xFFFF;  // saved bytes of an APP1 marker (all it can hold)
const JOCTET kEndOfImage[2] = {0xFF, 0xD9};
const char* const kCannotResize = "Cannot change the size of a JPEG image";

int gScreenBits = 24;

uint64_t SteadyTicks() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
TJPEGImage::TTickSource gTickSource = nullptr;
uint64_t Ticks() {
    return gTickSource ? gTickSource() : SteadyTicks();
}

// ---- error manager ----

struct TErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, 1);
}
// Warnings and trace messages are neither printed nor stored.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void ResetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

jpeg_error_mgr* InitErrorManager(TErrorManager& manager) {
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = ErrorExit;
    manager.pub.emit_message = EmitMessage;
    manager.pub.output_message = OutputMessage;
    manager.pub.reset_error_mgr = ResetErrorManager;
    return &manager.pub;
}

// Runs call under a setjmp; false when libjpeg's error_exit jumped back.
template <class F>
bool Guarded(std::jmp_buf& jump, F&& call) {
    if (setjmp(jump) != 0) return false;
    call();
    return true;
}

std::string ErrorText(int code) {
    char text[32];
    std::snprintf(text, sizeof text, "JPEG error #%d", code);
    return text;
}

// The error of a decode. Bytes that are no JPEG file at all are said in words with the bytes
// they start with (libjpeg's own text), so that a file named .jpg that is no picture is not
// reported by a number; errors inside JPEG data keep their number.
std::string DecodeErrorText(j_common_ptr cinfo) {
    const int code = cinfo->err->msg_code;
    if (code != JERR_NO_SOI && code != JERR_INPUT_EMPTY) return ErrorText(code);
    char text[JMSG_LENGTH_MAX] = {};
    cinfo->err->format_message(cinfo, text);
    return text;
}

// ---- data source: the held bytes in pieces of up to 4,096 bytes ----

struct TSource {
    jpeg_source_mgr pub;
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool startOfFile;
};

void InitSource(j_decompress_ptr cinfo) {
    reinterpret_cast<TSource*>(cinfo->src)->startOfFile = true;
}

// When the bytes run out, a file that gave nothing is an error; otherwise the library is told
// (a warning, ignored) and gets an end-of-image marker, so a truncated file shows what it holds.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<TSource*>(cinfo->src);
    if (src->pos < src->size) {
        const size_t n = std::min(kSourceChunk, src->size - src->pos);
        src->pub.next_input_byte = src->data + src->pos;
        src->pub.bytes_in_buffer = n;
        src->pos += n;
    } else {
        if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->pub.next_input_byte = kEndOfImage;
        src->pub.bytes_in_buffer = 2;
    }
    src->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    auto* src = reinterpret_cast<TSource*>(cinfo->src);
    size_t n = static_cast<size_t>(count);
    if (n <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += n;
        src->pub.bytes_in_buffer -= n;
        return;
    }
    n -= src->pub.bytes_in_buffer;
    src->pub.next_input_byte = nullptr;
    src->pub.bytes_in_buffer = 0;
    // The next fill continues behind the skipped bytes (or supplies the end-of-image marker).
    src->pos += std::min(n, src->size - src->pos);
}

void TermSource(j_decompress_ptr) {}

void AttachSource(TSource& src, const TJPEGBytes& bytes) {
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    src.pub.next_input_byte = nullptr;
    src.pub.bytes_in_buffer = 0;
    src.data = bytes.data();
    src.size = bytes.size();
    src.pos = 0;
    src.startOfFile = true;
}

// ---- destination for encoding: a growing byte vector ----

struct TDestination {
    jpeg_destination_mgr pub;
    TJPEGBytes* out;
    std::array<JOCTET, 65536> buffer;
};

bool AppendBytes(TJPEGBytes& out, const JOCTET* bytes, size_t count) noexcept {
    try {
        out.insert(out.end(), bytes, bytes + count);
        return true;
    } catch (...) {
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer.data();
    dest->pub.free_in_buffer = dest->buffer.size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TDestination*>(cinfo->dest);
    if (!AppendBytes(*dest->out, dest->buffer.data(), dest->buffer.size()))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = dest->buffer.data();
    dest->pub.free_in_buffer = dest->buffer.size();
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<TDestination*>(cinfo->dest);
    const size_t used = dest->buffer.size() - dest->pub.free_in_buffer;
    if (!AppendBytes(*dest->out, dest->buffer.data(), used)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

std::vector<TRGBQuad> HalftonePalette() {
    // A 6 x 6 x 6 colour cube; what the picture is drawn with on an 8-bit screen.
    std::vector<TRGBQuad> palette;
    palette.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.push_back(TRGBQuad{static_cast<uint8_t>(b * 51),
                                           static_cast<uint8_t>(g * 51),
                                           static_cast<uint8_t>(r * 51), 0});
    return palette;
}

// 256 grey levels, for the gray output of four-component files.
std::vector<TRGBQuad> GrayPalette() {
    std::vector<TRGBQuad> palette(256);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        palette[size_t(i)] = TRGBQuad{v, v, v, 0};
    }
    return palette;
}

}  // namespace

// ---- coefficient memory ----

namespace {

// A multi-scan (progressive) file keeps every coefficient of the picture in memory, tens of
// megabytes that the library zeroes row by row as the first scan reaches them. Offered large
// pages, that memory costs a few dozen page faults instead of one per 4 KiB; the advice is
// given on the first access of each coefficient array, before most of it is touched. It is
// only advice: the library's memory and its contents are not changed.
using TAccessBlocks = JBLOCKARRAY (*)(j_common_ptr, jvirt_barray_ptr, JDIMENSION, JDIMENSION,
                                      boolean);
std::atomic<TAccessBlocks> gLibraryAccessBlocks{nullptr};
thread_local std::array<jvirt_barray_ptr, MAX_COMPONENTS> gAdvisedArrays{};

JBLOCKARRAY AccessBlocks(j_common_ptr common, jvirt_barray_ptr array, JDIMENSION startRow,
                         JDIMENSION rows, boolean writable) {
    JBLOCKARRAY blocks = gLibraryAccessBlocks.load()(common, array, startRow, rows, writable);
#ifdef MADV_HUGEPAGE
    if (startRow != 0 || !common->is_decompressor || blocks == nullptr) return blocks;
    for (jvirt_barray_ptr& seen : gAdvisedArrays) {
        if (seen == array) return blocks;
        if (seen != nullptr) continue;
        seen = array;
        // The array's rows lie one after the other from its first row on; its size is at most
        // that of the largest component.
        const auto* d = reinterpret_cast<j_decompress_ptr>(common);
        size_t bytes = 0;
        for (int c = 0; c < d->num_components; ++c) {
            const jpeg_component_info& info = d->comp_info[c];
            const size_t across = size_t(info.width_in_blocks) + size_t(info.h_samp_factor);
            const size_t down = size_t(info.height_in_blocks) + size_t(info.v_samp_factor);
            bytes = std::max(bytes, across * down * sizeof(JBLOCK));
        }
        const uintptr_t page = 4096;
        const uintptr_t first = reinterpret_cast<uintptr_t>(blocks[0]);
        const uintptr_t start = (first + page - 1) & ~(page - 1);
        if (bytes >= (size_t(4) << 20) && first + bytes > start)
            madvise(reinterpret_cast<void*>(start), first + bytes - start, MADV_HUGEPAGE);
        break;
    }
#endif
    return blocks;
}

// Puts AccessBlocks between the decompressor and its memory manager.
void AdviseCoefficientMemory(j_decompress_ptr cinfo) {
    if (cinfo->mem == nullptr || cinfo->mem->access_virt_barray == AccessBlocks) return;
    gLibraryAccessBlocks.store(cinfo->mem->access_virt_barray);
    cinfo->mem->access_virt_barray = AccessBlocks;
    gAdvisedArrays.fill(nullptr);
}

}  // namespace

// ---- progress monitor ----

struct TJPEGProgress {
    jpeg_progress_mgr pub;
    TJPEGImage* owner;
    uint64_t lastTick;
    bool clockStarted;
    int lastPercent;
    JDIMENSION lastRow;
    // Whether the rows decoded so far may be shown; not when the picture is turned once it is
    // finished (the stored layout would flash up first).
    bool showRows;
    std::exception_ptr failure;  // what the progress handler threw

    void Init(TJPEGImage* image) {
        pub.progress_monitor = Monitor;
        owner = image;
        lastTick = 0;
        clockStarted = false;
        lastPercent = 0;
        lastRow = 0;
        showRows = true;
        failure = nullptr;
    }

    // Returns false when the handler threw (kept in failure).
    bool Report(j_common_ptr cinfo) noexcept {
        const uint64_t now = Ticks();
        if (clockStarted && now - lastTick < kProgressInterval) return true;
        const bool first = !clockStarted;
        clockStarted = true;
        lastTick = now;
        if (first || pub.total_passes <= 0) return true;
        double done = pub.completed_passes;
        if (pub.pass_limit > 0)
            done += static_cast<double>(pub.pass_counter) / static_cast<double>(pub.pass_limit);
        const int percent = std::clamp(static_cast<int>(100.0 * done / pub.total_passes), 0, 100);
        if (percent == lastPercent) return true;
        lastPercent = percent;
        TRect rect;
        if (cinfo->is_decompressor && showRows) {
            const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
            rect.Top = static_cast<int32_t>(lastRow);
            rect.Right = static_cast<int32_t>(d->output_width);
            rect.Bottom = static_cast<int32_t>(d->output_scanline);
            // A new output pass began: the rows changed from the last report to the bottom.
            if (d->output_scanline < lastRow) rect.Bottom = static_cast<int32_t>(d->output_height);
            lastRow = d->output_scanline;
        }
        try {
            owner->Progress(psRunning, static_cast<uint8_t>(percent), rect.Bottom - rect.Top >= 4,
                            rect, std::string());
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
        return true;
    }

    static void Monitor(j_common_ptr cinfo) {
        auto* self = reinterpret_cast<TJPEGProgress*>(cinfo->progress);
        // Each scan of a multi-scan file costs a pass over the image; a file with thousands of
        // scans is hostile and would keep the reader busy for minutes.
        if (cinfo->is_decompressor &&
            reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
            ERREXIT(cinfo, JERR_NOTIMPL);
        // A cancelled decode stops at once, not at the next paced report.
        if (self->owner->Cancelled()) {
            self->failure = std::make_exception_ptr(EAbort());
            std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, 1);
        }
        if (!self->Report(cinfo))
            std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, 1);
    }
};

// ---- shared data ----

// One libjpeg decompressor with its error manager, data source and progress monitor; the
// settings that the last output pass of buffered-image mode returns to.
struct TJPEGImage::TDecoder {
    jpeg_decompress_struct cinfo{};
    TErrorManager error{};
    TSource source{};
    TJPEGProgress progress{};
    bool created = false;
    J_DCT_METHOD finalDct = JDCT_ISLOW;
    boolean finalTwoPass = TRUE;
    J_DITHER_MODE finalDither = JDITHER_FS;
    // Four-component files come out of the library as CMYK and are converted here.
    bool cmyk = false;
    bool cmykInverted = false;
    bool cmykGray = false;

    TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    ~TDecoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }

    // Runs a library call; a library error or a throwing progress handler is raised here.
    template <class F>
    void Call(F&& call) {
        if (!Guarded(error.jump, call)) Fail();
    }
    [[noreturn]] void Fail() {
        if (progress.failure) std::rethrow_exception(std::exchange(progress.failure, nullptr));
        throw EJPEG(DecodeErrorText(reinterpret_cast<j_common_ptr>(&cinfo)));
    }
};

// ---- module-level functions ----

void SetJpegScreenDepth(int bitsPerPixel) {
    gScreenBits = bitsPerPixel;
    DefaultJpegOptions.EightBitOutput = bitsPerPixel <= 8;
}

void RegisterJPEGImage() {
    TPicture::RegisterFileFormat("jpeg", "JPEG Image File", &TJPEGImage::ClassInfo());
    TPicture::RegisterFileFormat("jpg", "JPEG Image File", &TJPEGImage::ClassInfo());
}

void UnregisterJPEGImage() {
    TPicture::UnregisterGraphicClass(&TJPEGImage::ClassInfo());
}

const TGraphicClass& TJPEGImage::ClassInfo() {
    static const TGraphicClass info{"TJPEGImage", [] { return std::make_unique<TJPEGImage>(); },
                                    [](TStream& s) { return TJPEGImage::ProbeStream(s); }, nullptr};
    return info;
}

bool TJPEGImage::ProbeStream(TStream& stream) {
    const int64_t pos = stream.Position();
    uint8_t head[3] = {};
    const int64_t got = stream.Read(head, 3);
    stream.SetPosition(pos);
    return got == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

void TJPEGImage::SetTickSource(TTickSource source) {
    gTickSource = source;
}

// ---- TJPEGImage ----

TJPEGImage::TJPEGImage() : data_(std::make_shared<TData>()), options_(DefaultJpegOptions) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::NewData() {
    data_ = std::make_shared<TData>();
    scaledWidth_ = scaledHeight_ = -1;
}

void TJPEGImage::DropBitmap() {
    bitmap_.reset();
}

bool TJPEGImage::HasData() const {
    return data_->hasBytes;
}
const TJPEGBytes& TJPEGImage::Data() const {
    return data_->bytes;
}
bool TJPEGImage::Grayscale() const {
    return data_->grayscale;
}
int TJPEGImage::Orientation() const {
    return data_->orientation;
}
int TJPEGImage::ShownOrientation() const {
    const int value = data_->orientation;
    return TBitmap::AutoOrient() && value >= 2 && value <= 8 ? value : 1;
}

// While a decode runs, the bitmap is still empty or in the stored layout: the size it will
// have is reported instead.
int TJPEGImage::Width() const {
    if (bitmap_ && !decoding_) return bitmap_->Width();
    if (SwapsSides()) return StoredHeight();
    return StoredWidth();
}

int TJPEGImage::Height() const {
    if (bitmap_ && !decoding_) return bitmap_->Height();
    if (SwapsSides()) return StoredWidth();
    return StoredHeight();
}

int TJPEGImage::StoredWidth() const {
    if (options_.ScalePower == 0) return data_->width;
    ComputeScaledSize();
    return scaledWidth_;
}

int TJPEGImage::StoredHeight() const {
    if (options_.ScalePower == 0) return data_->height;
    ComputeScaledSize();
    return scaledHeight_;
}

void TJPEGImage::SetWidth(int) {
    throw EInvalidGraphic(kCannotResize);
}
void TJPEGImage::SetHeight(int) {
    throw EInvalidGraphic(kCannotResize);
}

bool TJPEGImage::Empty() const {
    if (data_->hasBytes) return false;
    return bitmap_ == nullptr || bitmap_->Empty();
}

void TJPEGImage::ComputeScaledSize() const {
    if (scaledWidth_ >= 0) return;
    // The library's own arithmetic for the reduced size; without a readable header the size is
    // the header's (zero for no bytes).
    scaledWidth_ = data_->width;
    scaledHeight_ = data_->height;
    if (data_->bytes.empty()) return;
    try {
        TDecoder decoder;
        auto* self = const_cast<TJPEGImage*>(this);
        self->SetupDecoder(decoder, false);
        decoder.Call([&] { jpeg_calc_output_dimensions(&decoder.cinfo); });
        scaledWidth_ = static_cast<int>(decoder.cinfo.output_width);
        scaledHeight_ = static_cast<int>(decoder.cinfo.output_height);
    } catch (const std::exception&) {
        // Keep the header's size; decoding reports the error.
    }
}

// ---- loading ----

void TJPEGImage::LoadFromStream(TStream& stream) {
    ReadStream(stream.Remaining(), stream);
}

void TJPEGImage::ReadData(TStream& stream) {
    const uint32_t size = stream.ReadU32LE();
    // The count must be backed by bytes; a bogus count never becomes an allocation.
    if (static_cast<int64_t>(size) > stream.Remaining()) throw EReadError();
    ReadStream(size, stream);
}

void TJPEGImage::ReadStream(int64_t size, TStream& stream) {
    auto data = std::make_shared<TData>();
    data_ = data;
    scaledWidth_ = scaledHeight_ = -1;
    DropBitmap();
    SetIccProfile({});
    // Compressed bytes far beyond what the pixel limit can use are refused before reading.
    const int64_t limit =
        std::max<int64_t>(int64_t(64) << 20, static_cast<int64_t>(TBitmap::MaxPixels()) * 8);
    if (size < 0 || size > limit)
        throw EInvalidGraphic("JPEG file too large: " + std::to_string(size) + " bytes.");
    data->bytes.resize(static_cast<size_t>(size));
    stream.ReadBuffer(data->bytes.data(), size);
    data->hasBytes = true;
    if (size > 0) {
        TDecoder decoder;
        decoder.cinfo.err = InitErrorManager(decoder.error);
        decoder.Call([&] { jpeg_create_decompress(&decoder.cinfo); });
        decoder.created = true;
        AttachSource(decoder.source, data->bytes);
        decoder.cinfo.src = &decoder.source.pub;
        // APP1 segments are kept for the EXIF orientation and APP2 ones for the colour profile;
        // decoding later skips them.
        decoder.Call([&] {
            jpeg_save_markers(&decoder.cinfo, JPEG_APP0 + 1, kMaxMarkerData);
            jpeg_save_markers(&decoder.cinfo, JPEG_APP0 + 2, kMaxMarkerData);
            jpeg_read_header(&decoder.cinfo, TRUE);
        });
        data->width = static_cast<int>(decoder.cinfo.image_width);
        data->height = static_cast<int>(decoder.cinfo.image_height);
        data->grayscale = decoder.cinfo.jpeg_color_space == JCS_GRAYSCALE;
        // The first EXIF segment counts; a broken one leaves the picture as stored.
        for (jpeg_saved_marker_ptr m = decoder.cinfo.marker_list; m != nullptr; m = m->next) {
            if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 ||
                std::memcmp(m->data, "Exif\0\0", 6) != 0)
                continue;
            data->orientation = ExifOrientation(m->data, m->data_length);
            break;
        }
        std::vector<std::vector<uint8_t>> iccSegments;
        for (jpeg_saved_marker_ptr m = decoder.cinfo.marker_list; m != nullptr; m = m->next)
            if (m->marker == JPEG_APP0 + 2)
                iccSegments.emplace_back(m->data, m->data + m->data_length);
        SetIccProfile(AssembleJpegIccProfile(iccSegments));
        options_.ProgressiveSave = jpeg_has_multiple_scans(&decoder.cinfo) != FALSE;
        TBitmap::CheckSize(data->width, data->height);
    }
    paletteModified_ = true;
    Changed();
}

// ---- decoding ----

void TJPEGImage::SetupDecoder(TDecoder& decoder, bool withProgress) {
    jpeg_decompress_struct& c = decoder.cinfo;
    c.err = InitErrorManager(decoder.error);
    decoder.Call([&] { jpeg_create_decompress(&c); });
    decoder.created = true;
    AdviseCoefficientMemory(&c);
    if (withProgress) {
        decoder.progress.Init(this);
        c.progress = &decoder.progress.pub;
    }
    AttachSource(decoder.source, data_->bytes);
    c.src = &decoder.source.pub;
    decoder.Call([&] { jpeg_read_header(&c, TRUE); });

    c.scale_num = 1;
    c.scale_denom = 1u << std::min<int>(options_.ScalePower, 3);
    c.do_block_smoothing = options_.BlockSmoothing ? TRUE : FALSE;
    // Gray files and gray output give gray samples; colour comes in the bitmap's own byte order.
    // The library cannot turn four-component (CMYK or YCCK) files into either: they come out as
    // CMYK, and the ink-to-RGB conversion of the colour manager makes the bitmap's rows. Their
    // gray output is computed from those rows; 8-bit output does not apply to them (the
    // library quantizes only in the output colour space), so they give 24-bit rows.
    decoder.cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    if (decoder.cmyk) {
        c.out_color_space = JCS_CMYK;
        // Four-component JPEG files are written the way Adobe's applications write them: a
        // stored 255 means no ink and 0 full ink (the YCCK transform carries the inverted
        // values too). Each sample becomes 255 - stored before the conversion. The APP14
        // "Adobe" marker usually says so, but files without it are read the same way, as
        // libjpeg's own converter, Pillow and ImageMagick read them.
        decoder.cmykInverted = true;
        decoder.cmykGray = options_.GrayOutput;
    } else if (options_.GrayOutput || c.jpeg_color_space == JCS_GRAYSCALE) {
        c.out_color_space = JCS_GRAYSCALE;
    } else {
        c.out_color_space = JCS_EXT_BGR;
    }
    if (!decoder.cmyk && (options_.EightBitOutput || c.out_color_space == JCS_GRAYSCALE)) {
        c.quantize_colors = TRUE;
        c.desired_number_of_colors = kQuantizedColors;
    }
    if (options_.FastDecode) {
        c.dct_method = JDCT_IFAST;
        c.two_pass_quantize = FALSE;
        c.dither_mode = JDITHER_ORDERED;
    }
    decoder.finalDct = c.dct_method;
    decoder.finalTwoPass = c.two_pass_quantize;
    decoder.finalDither = c.dither_mode;
    // The first scan is shown alone only in 24-bit colour (no palette to build before it).
    const bool firstScan = OnFirstScan && !options_.ShowScans && !decoder.cmyk &&
                           c.out_color_space == JCS_EXT_BGR && !c.quantize_colors;
    if ((options_.ShowScans || firstScan) && jpeg_has_multiple_scans(&c)) {
        c.buffered_image = TRUE;
        c.enable_2pass_quant = c.two_pass_quantize;
        // Early scans are previews: quick and one-pass.
        c.dct_method = JDCT_IFAST;
        c.two_pass_quantize = FALSE;
        c.dither_mode = JDITHER_ORDERED;
    }
}

const TBitmap& TJPEGImage::Bitmap() const {
    if (!bitmap_) const_cast<TJPEGImage*>(this)->Decode();
    return *bitmap_;
}

void TJPEGImage::DIBNeeded() {
    if (!bitmap_) Decode();
}

void TJPEGImage::Decode() {
    if (DecodeFromDcScans()) return;
    // The bitmap stays attached when decoding fails, so the failure is reported once and later
    // draws show what was decoded.
    bitmap_ = std::make_unique<TBitmap>();
    TBitmap& bmp = *bitmap_;
    bool paletteBuilt = false;
    std::exception_ptr failure;
    bool started = false;
    TCmykConverter inkProfile;  // set when a CMYK file's own profile turns its inks into colours
    // The EXIF orientation turns the finished bitmap once; rows are decoded as stored.
    const int orientation = ShownOrientation();
    decoding_ = true;
    try {
        TDecoder decoder;
        SetupDecoder(decoder, true);
        decoder.progress.showRows = orientation == 1;
        jpeg_decompress_struct& c = decoder.cinfo;
        // Full-size buffers (the coefficients of a multi-scan file) come before the output.
        TBitmap::CheckSize(c.image_width, c.image_height);
        const bool eightBit = c.quantize_colors != FALSE || decoder.cmykGray;
        bmp.SetPixelFormat(eightBit ? pf8bit : pf24bit);

        Progress(psStarting, 0, false, TRect{}, std::string());
        started = true;

        // A palette given beforehand is what 8-bit colour output is quantized to; the library
        // makes its own map for gray output, so the palette is not used there.
        bool paletteGiven = false;
        if (palette_) {
            if (options_.EightBitOutput && c.out_color_space != JCS_GRAYSCALE && !decoder.cmyk &&
                !palette_->empty()) {
                const std::vector<TRGBQuad> entries = *palette_;
                const int count = static_cast<int>(std::min<size_t>(entries.size(), 256));
                decoder.Call([&] {
                    c.colormap = (*c.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c),
                                                        JPOOL_IMAGE, count, 3);
                    for (int i = 0; i < count; ++i) {
                        c.colormap[2][i] = entries[i].rgbRed;
                        c.colormap[1][i] = entries[i].rgbGreen;
                        c.colormap[0][i] = entries[i].rgbBlue;
                    }
                    c.actual_number_of_colors = count;
                });
                bmp.SetPalette(std::vector<TRGBQuad>(entries.begin(), entries.begin() + count));
                paletteGiven = true;
            } else if (!options_.EightBitOutput) {
                palette_.reset();
            }
        }

        decoder.Call([&] { jpeg_start_decompress(&c); });
        TBitmap::CheckSize(c.output_width, c.output_height);
        bmp.SetSize(static_cast<int>(c.output_width), static_cast<int>(c.output_height));

        auto buildPalette = [&] {
            if (c.colormap == nullptr || paletteGiven || !eightBit) return;
            const int count = std::clamp(c.actual_number_of_colors, 0, 256);
            std::vector<TRGBQuad> palette(static_cast<size_t>(count));
            const bool gray = c.out_color_components == 1;
            for (int i = 0; i < count; ++i) {
                TRGBQuad& q = palette[static_cast<size_t>(i)];
                if (gray) {
                    q.rgbRed = q.rgbGreen = q.rgbBlue = c.colormap[0][i];
                } else {
                    q.rgbRed = c.colormap[2][i];
                    q.rgbGreen = c.colormap[1][i];
                    q.rgbBlue = c.colormap[0][i];
                }
            }
            bmp.SetPalette(std::move(palette));
            paletteBuilt = true;
            paletteModified_ = true;
        };

        // Rows go straight into the bitmap, several per call when its rows are evenly spaced.
        const int64_t step =
            bmp.Height() > 1 ? static_cast<int64_t>(bmp.ScanLine(1) - bmp.ScanLine(0)) : 0;
        const bool multiRow = step > 0 && step % 4 == 0;
        const int perCall = multiRow ? std::clamp(c.rec_outbuf_height, 1, kMaxRowsPerCall) : 1;
        const int height = bmp.Height();
        // Four-component files: CMYK rows from the library, a few at a time, turned into the
        // bitmap's rows by the colour manager (and to gray for gray output).
        std::vector<uint8_t> cmykRows, rgbRow;
        std::unique_ptr<TColorManager> colors;
        size_t cmykRowBytes = 0;
        if (decoder.cmyk && ColorManagementEnabled() && !IccProfile().empty()) {
            // The file's own ink profile says what its inks look like; the plain formula is for
            // files without one.
            inkProfile = CmykConverterFromProfile(IccProfile());
        }
        if (decoder.cmyk) {
            cmykRowBytes = size_t(c.output_width) * 4;
            cmykRows.resize(cmykRowBytes *
                            size_t(std::clamp(c.rec_outbuf_height, 1, kMaxRowsPerCall)));
            colors = std::make_unique<TColorManager>();
            colors->SetSourceScheme(schemeCMYK);
            colors->SetSourceSampleBits(8);
            colors->SetSourceSampleCount(4);
            colors->SetSourceFlags({});
            colors->SetTargetScheme(schemeBGR);
            colors->SetTargetSampleBits(8);
            colors->SetTargetSampleCount(3);
            colors->SetTargetFlags({});
            colors->SetInkProfile(inkProfile);
            if (decoder.cmykGray) {
                rgbRow.resize(size_t(c.output_width) * 3);
                bmp.SetPalette(GrayPalette());
                paletteBuilt = true;
                paletteModified_ = true;
            }
        }
        auto convertCMYK = [&](uint8_t* samples, uint8_t* dest) {
            if (decoder.cmykInverted)
                for (size_t i = 0; i < cmykRowBytes; ++i)
                    samples[i] = static_cast<uint8_t>(~samples[i]);
            const uint32_t width = c.output_width;
            if (!decoder.cmykGray) {
                colors->ConvertScanline(samples, dest, width);
                return;
            }
            colors->ConvertScanline(samples, rgbRow.data(), width);
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = &rgbRow[size_t(x) * 3];  // blue, green, red
                dest[x] = static_cast<uint8_t>((p[2] * 299 + p[1] * 587 + p[0] * 114 + 500) / 1000);
            }
        };
        auto readCMYKRows = [&] {
            const int perCMYKCall = static_cast<int>(cmykRows.size() / cmykRowBytes);
            while (c.output_scanline < c.output_height) {
                const int y = static_cast<int>(c.output_scanline);
                const int n = std::min(perCMYKCall, height - y);
                JDIMENSION got = 0;
                decoder.Call([&] {
                    JSAMPROW rows[kMaxRowsPerCall];
                    for (int i = 0; i < n; ++i)
                        rows[i] = cmykRows.data() + size_t(i) * cmykRowBytes;
                    got = jpeg_read_scanlines(&c, rows, static_cast<JDIMENSION>(n));
                });
                if (got == 0) break;
                for (int i = 0; i < static_cast<int>(got) && y + i < height; ++i)
                    convertCMYK(cmykRows.data() + size_t(i) * cmykRowBytes, bmp.ScanLine(y + i));
            }
        };
        auto readRows = [&] {
            if (decoder.cmyk) {
                readCMYKRows();
                return;
            }
            decoder.Call([&] {
                JSAMPROW rows[kMaxRowsPerCall];
                while (c.output_scanline < c.output_height) {
                    const int y = static_cast<int>(c.output_scanline);
                    const int n = std::min(perCall, height - y);
                    for (int i = 0; i < n; ++i)
                        rows[i] = bmp.ScanLine(y + i);
                    if (jpeg_read_scanlines(&c, rows, static_cast<JDIMENSION>(n)) == 0) break;
                }
            });
        };

        // Takes in the file's data up to the end of a scan (until JPEG_SCAN_COMPLETED) or of
        // the file (JPEG_REACHED_EOI), polling for a cancel and a hostile count of scans.
        auto consume = [&](int until) {
            int status = JPEG_SUSPENDED;
            do {
                decoder.Call([&] {
                    if (c.progress != nullptr)
                        c.progress->progress_monitor(reinterpret_cast<j_common_ptr>(&c));
                    status = jpeg_consume_input(&c);
                });
            } while (status != until && status != JPEG_REACHED_EOI && status != JPEG_SUSPENDED);
        };

        if (c.buffered_image && !options_.ShowScans) {
            // The first scan is decoded and handed out, then the picture is finished from all.
            consume(JPEG_SCAN_COMPLETED);
            decoder.Call([&] { jpeg_start_output(&c, c.input_scan_number); });
            readRows();
            decoder.Call([&] { jpeg_finish_output(&c); });
            auto first = std::make_unique<TBitmap>();
            first->Assign(bmp);
            if (orientation != 1) first->Orient(orientation);
            if (!IccProfile().empty()) {
                first->SetIccProfile(IccProfile());
                first->SetProfileApplied(!ColorManagementEnabled());
                ApplyEmbeddedProfile(*first);
            }
            OnFirstScan(std::move(first));
            consume(JPEG_REACHED_EOI);
            c.dct_method = decoder.finalDct;
            c.dither_mode = decoder.finalDither;
            decoder.Call([&] { jpeg_start_output(&c, c.input_scan_number); });
            readRows();
            decoder.Call([&] { jpeg_finish_output(&c); });
        } else if (c.buffered_image) {
            bool firstPass = true;
            for (int passes = 0;; ++passes) {
                boolean complete = FALSE;
                decoder.Call([&] { complete = jpeg_input_complete(&c); });
                if (complete || passes > kMaxScans) break;
                decoder.Call([&] { jpeg_start_output(&c, c.input_scan_number); });
                if (firstPass) {
                    buildPalette();
                    firstPass = false;
                }
                readRows();
                decoder.Call([&] { jpeg_finish_output(&c); });
            }
            c.dct_method = decoder.finalDct;
            c.dither_mode = decoder.finalDither;
            // Re-quantize the final picture with two passes when that was chosen, unless the
            // indices must stay those of a given palette.
            const bool requantize =
                decoder.finalTwoPass && c.quantize_colors && eightBit && !paletteGiven;
            if (requantize) {
                c.two_pass_quantize = TRUE;
                c.colormap = nullptr;
            }
            decoder.Call([&] { jpeg_start_output(&c, c.input_scan_number); });
            if (requantize || !paletteBuilt) buildPalette();
            readRows();
            decoder.Call([&] { jpeg_finish_output(&c); });
        } else {
            buildPalette();
            readRows();
        }
        decoder.Call([&] { jpeg_finish_decompress(&c); });
    } catch (...) {
        failure = std::current_exception();
    }

    EndDecode(bmp, orientation, inkProfile != nullptr, started, paletteBuilt, failure);
}

void TJPEGImage::EndDecode(TBitmap& bmp, int orientation, bool inksConverted, bool started,
                           bool paletteBuilt, std::exception_ptr failure) {
    // What was decoded is shown the right way up, also after a failure, and in the colours of
    // the screen when the file carries a profile.
    if (orientation != 1) {
        try {
            bmp.Orient(orientation);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (!IccProfile().empty()) {
        bmp.SetIccProfile(IccProfile());
        bmp.SetProfileApplied(!ColorManagementEnabled() || inksConverted);
        ApplyEmbeddedProfile(bmp);
    }
    decoding_ = false;

    if (started) {
        const bool modified = paletteBuilt || paletteModified_;
        Progress(psEnding, failure ? 0 : 100, modified, TRect{}, std::string());
        if (modified) Changed();
    }
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const EAbort&) {
            // The user stopped decoding; what was decoded stays.
        }
    }
}

// ---- encoding ----

void TJPEGImage::Compress() {
    if (!bitmap_) return;
    NewData();
    auto data = std::make_shared<TData>();
    const TBitmap& source = *bitmap_;

    // The encoder takes 24-bit blue-green-red rows; other formats are converted in a copy.
    std::unique_ptr<TBitmap> converted;
    const TBitmap* rowsFrom = &source;
    if (source.PixelFormat() != pf24bit && !source.Empty()) {
        converted = std::make_unique<TBitmap>();
        converted->SetPixelFormat(pf24bit);
        converted->SetSize(source.Width(), source.Height());
        std::vector<uint8_t> bgra(static_cast<size_t>(source.Width()) * 4);
        for (int y = 0; y < source.Height(); ++y) {
            ConvertScanLineToBGRA(source, y, bgra.data());
            uint8_t* d = converted->ScanLine(y);
            for (int x = 0; x < source.Width(); ++x) {
                d[3 * x] = bgra[4 * size_t(x)];
                d[3 * x + 1] = bgra[4 * size_t(x) + 1];
                d[3 * x + 2] = bgra[4 * size_t(x) + 2];
            }
        }
        rowsFrom = converted.get();
    }
    const TBitmap& bmp = *rowsFrom;
    std::vector<JSAMPROW> rows(static_cast<size_t>(std::max(bmp.Height(), 0)));
    for (int y = 0; y < bmp.Height(); ++y)
        rows[static_cast<size_t>(y)] = const_cast<JSAMPROW>(bmp.ScanLine(y));
    const int64_t step =
        bmp.Height() > 1 ? static_cast<int64_t>(bmp.ScanLine(1) - bmp.ScanLine(0)) : 0;
    const bool allRows = bmp.Height() <= 1 || (step > 0 && step % 4 == 0);

    struct TEncoder {
        jpeg_compress_struct cinfo{};
        TErrorManager error{};
        TDestination dest{};
        TJPEGProgress progress{};
        bool created = false;
        ~TEncoder() {
            if (created) jpeg_destroy_compress(&cinfo);
        }
    };
    auto encoder = std::make_unique<TEncoder>();
    jpeg_compress_struct& c = encoder->cinfo;
    auto call = [&](auto&& f) {
        if (Guarded(encoder->error.jump, f)) return;
        if (encoder->progress.failure)
            std::rethrow_exception(std::exchange(encoder->progress.failure, nullptr));
        throw EJPEG(ErrorText(encoder->error.pub.msg_code));
    };

    Progress(psStarting, 0, false, TRect{}, std::string());
    std::exception_ptr failure;
    try {
        c.err = InitErrorManager(encoder->error);
        call([&] { jpeg_create_compress(&c); });
        encoder->created = true;
        encoder->progress.Init(this);
        c.progress = &encoder->progress.pub;
        encoder->dest.out = &data->bytes;
        encoder->dest.pub.init_destination = InitDestination;
        encoder->dest.pub.empty_output_buffer = EmptyOutputBuffer;
        encoder->dest.pub.term_destination = TermDestination;
        c.dest = &encoder->dest.pub;
        c.image_width = static_cast<JDIMENSION>(bmp.Width());
        c.image_height = static_cast<JDIMENSION>(bmp.Height());
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
        const int quality = std::clamp<int>(options_.SaveQuality, 1, 100);
        const bool gray = options_.GrayOutput;
        const bool progressive = options_.ProgressiveSave;
        call([&] {
            jpeg_set_defaults(&c);
            jpeg_set_quality(&c, quality, TRUE);
            if (gray) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
            if (progressive) jpeg_simple_progression(&c);
            jpeg_start_compress(&c, TRUE);
        });
        JSAMPROW* rowPtrs = rows.data();
        const JDIMENSION height = c.image_height;
        call([&] {
            if (allRows) {
                while (c.next_scanline < height)
                    if (jpeg_write_scanlines(&c, rowPtrs + c.next_scanline,
                                             height - c.next_scanline) == 0)
                        break;
            } else {
                while (c.next_scanline < height)
                    if (jpeg_write_scanlines(&c, rowPtrs + c.next_scanline, 1) == 0) break;
            }
            jpeg_finish_compress(&c);
        });
        data->hasBytes = true;
        data->width = bmp.Width();
        data->height = bmp.Height();
        data->grayscale = gray;
        data_ = data;
    } catch (...) {
        failure = std::current_exception();
    }
    encoder.reset();
    Progress(psEnding, failure ? 0 : 100, false, TRect{}, std::string());
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const EAbort&) {
            // A cancelled encoding leaves no bytes.
        }
    }
}

// ---- saving ----

void TJPEGImage::SaveToStream(TStream& stream) {
    if (!data_->hasBytes) Compress();
    if (data_->hasBytes && !data_->bytes.empty())
        stream.WriteBuffer(data_->bytes.data(), static_cast<int64_t>(data_->bytes.size()));
}

void TJPEGImage::WriteData(TStream& stream) const {
    const TJPEGBytes& bytes = data_->bytes;
    const uint32_t size = data_->hasBytes ? static_cast<uint32_t>(bytes.size()) : 0;
    const uint8_t count[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                              static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    stream.WriteBuffer(count, 4);
    if (size > 0) stream.WriteBuffer(bytes.data(), size);
}

// ---- assignment ----

void TJPEGImage::Assign(const TGraphic& source) {
    if (&source == this) return;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
        data_ = jpeg->data_;
        iccProfile_ = jpeg->iccProfile_;
        scaledWidth_ = scaledHeight_ = -1;
        DropBitmap();
        if (jpeg->bitmap_) {
            bitmap_ = std::make_unique<TBitmap>();
            bitmap_->Assign(*jpeg->bitmap_);
        }
        Changed();
        return;
    }
    if (const auto* bmp = dynamic_cast<const TBitmap*>(&source)) {
        NewData();
        SetIccProfile({});
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(*bmp);
        bitmap_ = std::move(copy);
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TJPEGImage::AssignTo(TGraphic& dest) const {
    auto* bmp = dynamic_cast<TBitmap*>(&dest);
    if (bmp == nullptr) return false;
    bmp->Assign(Bitmap());
    return true;
}

bool TJPEGImage::Equals(const TGraphic& other) const {
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(&other);
    return jpeg != nullptr && jpeg->data_ == data_;
}

// ---- options and palette ----

void TJPEGImage::SetOptions(const TJPEGOptions& options) {
    const bool decodingChanged = options.ScalePower != options_.ScalePower ||
                                 options.GrayOutput != options_.GrayOutput ||
                                 options.FastDecode != options_.FastDecode ||
                                 options.EightBitOutput != options_.EightBitOutput ||
                                 options.ShowScans != options_.ShowScans ||
                                 options.BlockSmoothing != options_.BlockSmoothing;
    const bool scaleChanged = options.ScalePower != options_.ScalePower;
    options_ = options;
    options_.ScalePower = std::min<uint8_t>(options_.ScalePower, 3);
    if (scaleChanged) scaledWidth_ = scaledHeight_ = -1;
    // A bitmap that came from assignment has no bytes to be decoded again; it stays.
    if (decodingChanged && data_->hasBytes && bitmap_) {
        DropBitmap();
        Changed();
    }
}

template <class T>
void TJPEGImage::SetOption(T TJPEGOptions::*field, T value) {
    TJPEGOptions o = options_;
    o.*field = value;
    SetOptions(o);
}

void TJPEGImage::SetScalePower(uint8_t value) {
    SetOption(&TJPEGOptions::ScalePower, value);
}
void TJPEGImage::SetGrayOutput(bool value) {
    SetOption(&TJPEGOptions::GrayOutput, value);
}
void TJPEGImage::SetFastDecode(bool value) {
    SetOption(&TJPEGOptions::FastDecode, value);
}
void TJPEGImage::SetEightBitOutput(bool value) {
    SetOption(&TJPEGOptions::EightBitOutput, value);
}
void TJPEGImage::SetShowScans(bool value) {
    SetOption(&TJPEGOptions::ShowScans, value);
}
void TJPEGImage::SetBlockSmoothing(bool value) {
    SetOption(&TJPEGOptions::BlockSmoothing, value);
}
void TJPEGImage::SetSaveQuality(uint8_t value) {
    options_.SaveQuality = value;
}
void TJPEGImage::SetProgressiveSave(bool value) {
    options_.ProgressiveSave = value;
}

std::vector<TRGBQuad> TJPEGImage::Palette() const {
    if (bitmap_ && !bitmap_->Palette().empty()) return bitmap_->Palette();
    if (palette_) return *palette_;
    const bool output24 = !options_.EightBitOutput && !options_.GrayOutput && !data_->grayscale;
    if (output24 && gScreenBits <= 8) {
        palette_ = HalftonePalette();
        return *palette_;
    }
    return {};
}

void TJPEGImage::SetPalette(const std::vector<TRGBQuad>& palette) {
    std::optional<std::vector<TRGBQuad>> value;
    if (!palette.empty()) value = palette;
    if (value == palette_) return;
    if (data_->hasBytes) DropBitmap();
    palette_ = std::move(value);
    paletteModified_ = true;
    Changed();
}

size_t TJPEGImage::EncodedBytes() const {
    return HasData() ? Data().size() : 0;
}
