// JPEG-in-TIFF decoding. libjpeg reports fatal errors through error_exit, which must not
// return; it jumps back to the guard around the library call, which raises EJPEG. Only
// libjpeg's frames and trivially destructible lambdas lie between the two.
#include "imaging/decoders/TIFFJPEGDecoder.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>

#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"

namespace {

const char* const kWarningCaption = "Warning";
const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

struct TErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct TSourceManager {
    jpeg_source_mgr pub;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

void ShowWarning(const char* text) {
    try {
        DecoderWarning(kWarningCaption, text);
    } catch (...) {
        // A failing handler must not unwind through libjpeg.
    }
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, 1);
}

void OutputMessage(j_common_ptr cinfo) {
    char buffer[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, buffer);
    ShowWarning(buffer);
}

void InitSource(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<TSourceManager*>(cinfo->src);
    src->pub.next_input_byte = src->data;
    src->pub.bytes_in_buffer = src->size;
}

// The strip ended before the library was done: finish the image with an end-of-image marker.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    ShowWarning(imsg::JPEGEOI);
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
        FillInputBuffer(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

}  // namespace

struct TTIFFJPEGDecoder::TLibrary {
    jpeg_decompress_struct cinfo{};
    TErrorManager error{};
    TSourceManager source{};
    bool created = false;

    // Runs one library call; a fatal library error comes back here and is raised as EJPEG.
    template <class F>
    auto Guard(F call) -> decltype(call()) {
        if (setjmp(error.jump) != 0) Fail();
        return call();
    }
    [[noreturn]] void Fail() {
        const int code = error.pub.msg_code;
        // Leave the object usable for the next strip (or for destruction).
        jpeg_abort_decompress(&cinfo);
        throw EJPEG("JPEG error #" + std::to_string(code));
    }
    void SetData(const uint8_t* data, size_t size) {
        source.data = data;
        source.size = size;
        // Data is handed over at the next header read (init_source); clear what is pending.
        source.pub.next_input_byte = nullptr;
        source.pub.bytes_in_buffer = 0;
    }
};

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties& Properties)
    : library_(std::make_unique<TLibrary>()),
      properties_(Properties),
      tables_(Properties.JPEGTables) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
    if (library_->created) jpeg_destroy_decompress(&library_->cinfo);
}

void TTIFFJPEGDecoder::BeginDecoding() {
    TLibrary& lib = *library_;
    if (lib.created) {
        jpeg_destroy_decompress(&lib.cinfo);
        lib.created = false;
    }
    lib.cinfo = jpeg_decompress_struct{};
    lib.cinfo.err = jpeg_std_error(&lib.error.pub);
    lib.error.pub.error_exit = ErrorExit;
    lib.error.pub.output_message = OutputMessage;
    if (setjmp(lib.error.jump) != 0)
        throw EJPEG("JPEG error #" + std::to_string(lib.error.pub.msg_code));
    jpeg_create_decompress(&lib.cinfo);
    lib.created = true;

    lib.source.pub.init_source = InitSource;
    lib.source.pub.fill_input_buffer = FillInputBuffer;
    lib.source.pub.skip_input_data = SkipInputData;
    lib.source.pub.resync_to_restart = jpeg_resync_to_restart;
    lib.source.pub.term_source = TermSource;
    lib.cinfo.src = &lib.source.pub;

    // Subsampling only applies to YCbCr data; other colour schemes are stored at full size.
    hSubSampling_ = vSubSampling_ = 1;
    const TByteArray& sub = properties_.YCbCrSubsampling;
    if (properties_.ColorScheme == schemeYCbCr && sub.size() >= 2) {
        hSubSampling_ = sub[0];
        vSubSampling_ = sub[1];
    }

    if (!tables_.empty()) {
        lib.SetData(tables_.data(), tables_.size());
        const int result = lib.Guard([&] { return jpeg_read_header(&lib.cinfo, FALSE); });
        if (result != JPEG_HEADER_TABLES_ONLY) {
            jpeg_abort_decompress(&lib.cinfo);
            throw EGraphicCompression(imsg::JPEGBogusTableField);
        }
    }
}

void TTIFFJPEGDecoder::DecodeBlock(uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize,
                                   int32_t UnpackedSize) {
    TLibrary& lib = *library_;
    if (!lib.created) return;
    jpeg_decompress_struct& cinfo = lib.cinfo;
    jpeg_abort_decompress(&cinfo);  // keeps the tables
    lib.SetData(Source, PackedSize > 0 ? static_cast<size_t>(PackedSize) : 0);
    lib.Guard([&] { return jpeg_read_header(&cinfo, TRUE); });

    auto reject = [&](const char* message) {
        jpeg_abort_decompress(&cinfo);
        throw EGraphicCompression(message);
    };

    const TImageProperties& p = properties_;
    // A strip is image wide and ends with the image; a tile always has the full tile size
    // (edge tiles carry padding).
    uint32_t segmentWidth = p.Width;
    uint32_t segmentHeight = p.Height > p.CurrentRow ? p.Height - p.CurrentRow : 0;
    if (!p.RowsPerStrip.empty()) segmentHeight = std::min(segmentHeight, p.RowsPerStrip[0]);
    if (p.Options & optTiled) {
        segmentWidth = p.TileWidth;
        segmentHeight = p.TileLength;
    }
    if (cinfo.image_width != segmentWidth || cinfo.image_height != segmentHeight)
        reject(imsg::JPEGStripSize);
    const bool interleaved = p.PlanarConfiguration == 1;
    if (cinfo.num_components != (interleaved ? int{p.SamplesPerPixel} : 1))
        reject(imsg::JPEGComponentCount);
    if (cinfo.data_precision != p.BitsPerSample) reject(imsg::JPEGDataPrecision);
    const jpeg_component_info* comp = cinfo.comp_info;
    if (interleaved) {
        bool ok = comp[0].h_samp_factor == hSubSampling_ && comp[0].v_samp_factor == vSubSampling_;
        for (int i = 1; i < cinfo.num_components; ++i)
            ok = ok && comp[i].h_samp_factor == 1 && comp[i].v_samp_factor == 1;
        if (!ok) reject(imsg::JPEGSamplingFactors);
    } else if (comp[0].h_samp_factor != 1 || comp[0].v_samp_factor != 1) {
        reject(imsg::JPEGSamplingFactors);
    }

    // Three-component colour comes out as blue, green, red; anything else as stored.
    if (cinfo.num_components == 3) {
        cinfo.jpeg_color_space = p.ColorScheme == schemeYCbCr ? JCS_YCbCr : JCS_RGB;
        cinfo.out_color_space = JCS_EXT_BGR;
    } else {
        cinfo.jpeg_color_space = JCS_UNKNOWN;
        cinfo.out_color_space = JCS_UNKNOWN;
    }
    lib.Guard([&] { return jpeg_start_decompress(&cinfo); });

    const uint32_t rowBytes = p.BytesPerLine;
    const uint32_t unpacked = UnpackedSize > 0 ? static_cast<uint32_t>(UnpackedSize) : 0;
    if (rowBytes == 0 || unpacked % rowBytes != 0) reject(imsg::JPEGFractionalLine);

    // Rows are decoded into a buffer of the library's row size and copied, so a row never
    // reaches past BytesPerLine whatever the properties say.
    const size_t libraryRow = size_t{cinfo.output_width} * size_t(cinfo.output_components);
    row_.resize(std::max<size_t>(libraryRow, 1));
    const uint32_t rows = unpacked / rowBytes;
    uint8_t* dest = Dest;
    for (uint32_t y = 0; y < rows; ++y) {
        JSAMPROW row = row_.data();
        if (lib.Guard([&] { return jpeg_read_scanlines(&cinfo, &row, 1); }) != 1) break;
        std::memcpy(dest, row_.data(), std::min<size_t>(libraryRow, rowBytes));
        dest += rowBytes;
    }
    // Finishing with rows left unread is an error for the library; abort instead.
    if (cinfo.output_scanline >= cinfo.output_height)
        lib.Guard([&] { return jpeg_finish_decompress(&cinfo); });
    else
        jpeg_abort_decompress(&cinfo);
}

void TTIFFJPEGDecoder::EndDecoding() {
    if (!library_->created) return;
    jpeg_destroy_decompress(&library_->cinfo);
    library_->created = false;
}
