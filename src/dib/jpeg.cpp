// JPEG files through libjpeg, with a source and a destination manager over the library's
// streams.
//
// libjpeg reports a fatal error by calling error_exit, which must not return. Ours formats
// libjpeg's own message and jumps back (longjmp) to the call that entered libjpeg, which then
// raises the message as an exception. To keep the jump well defined, every object with a
// destructor is created before the jump target is set, and the callbacks that run inside
// libjpeg hold no such objects when they report an error.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/streams.h"

// Color rows go to and from libjpeg in the image's own byte order (blue, green, red).
#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's color space extensions (JCS_EXT_BGR) are required"
#endif

namespace qil {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
// Working memory libjpeg may use for one image (coefficient buffers of progressive files).
constexpr long kMaxJpegMemory = 1L << 30;
// Scans of a progressive or multi-scan file. Every scan passes over the whole image, so a
// small file of many tiny scans could keep the decoder busy for a very long time; real
// encoders write a few dozen at most.
constexpr int kMaxJpegScans = 256;
// Rows of one block row in raw data mode (sampling factors of up to 4 times 8 rows).
constexpr int kMaxRawLines = 4 * DCTSIZE;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt but decodable data) are not printed.
void OutputMessage(j_common_ptr) {}

// Ends decoding of a file with more scans than kMaxJpegScans. libjpeg calls the monitor
// while it reads the input, so it fires before the extra scans are processed.
void ProgressMonitor(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "The JPEG file has more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

void InitErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    err.message[0] = '\0';
}

// ---- Source manager ----

struct Source {
    jpeg_source_mgr pub;
    TStream* stream;
    JOCTET* buffer;
};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    int64_t n = -1;
    try {
        n = src->stream->Read(src->buffer, kBufferSize);
    } catch (...) {
        n = -1;
    }
    if (n < 0) ERREXIT(cinfo, JERR_FILE_READ);
    if (n == 0) {
        // Premature end: libjpeg's usual answer, a fake end-of-image marker.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<size_t>(n);
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    if (count <= 0) return;
    while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// ---- Destination manager ----

struct Destination {
    jpeg_destination_mgr pub;
    TStream* stream;
    JOCTET* buffer;
};

bool WriteAll(TStream* stream, const void* data, int64_t count) {
    try {
        return stream->Write(data, count) == count;
    } catch (...) {
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    if (!WriteAll(dest->stream, dest->buffer, kBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    int64_t n = static_cast<int64_t>(kBufferSize - dest->pub.free_in_buffer);
    if (n > 0 && !WriteAll(dest->stream, dest->buffer, n)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// The decompressor and everything it uses; destroyed on every path.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    Source src{};
    jpeg_progress_mgr progress{};
    std::vector<JOCTET> buffer = std::vector<JOCTET>(kBufferSize);
    std::vector<JSAMPLE> scratch;  // rows of the last block row below the page (raw data)
    bool created = false;
    ~Decoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

struct Encoder {
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    Destination dest{};
    std::vector<JOCTET> buffer = std::vector<JOCTET>(kBufferSize);
    bool created = false;
    ~Encoder() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

void ReadJpeg(TDIB& image, TStream& stream) {
    auto d = std::make_unique<Decoder>();
    InitErrors(d->err);
    d->cinfo.err = &d->err.pub;
    if (setjmp(d->err.jump)) throw Exception(d->err.message);

    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    d->cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    d->src.stream = &stream;
    d->src.buffer = d->buffer.data();
    d->src.pub.init_source = InitSource;
    d->src.pub.fill_input_buffer = FillInputBuffer;
    d->src.pub.skip_input_data = SkipInputData;
    d->src.pub.resync_to_restart = jpeg_resync_to_restart;
    d->src.pub.term_source = TermSource;
    d->src.pub.bytes_in_buffer = 0;
    d->src.pub.next_input_byte = nullptr;
    d->cinfo.src = &d->src.pub;
    d->progress.progress_monitor = ProgressMonitor;
    d->cinfo.progress = &d->progress;

    jpeg_read_header(&d->cinfo, TRUE);
    const bool gray = d->cinfo.jpeg_color_space == JCS_GRAYSCALE;
    d->cinfo.out_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
    // A gray page of whole 8 x 8 blocks across, one sample per block position: libjpeg's
    // inverse DCT writes its rows straight into the picture rows (raw data), which skips the
    // copy its gray "color conversion" makes of every row. The samples are the same.
    const bool raw = gray && d->cinfo.num_components == 1 && d->cinfo.comp_info[0].h_samp_factor == 1 &&
                     d->cinfo.comp_info[0].v_samp_factor == 1 && d->cinfo.image_width % DCTSIZE == 0;
    d->cinfo.raw_data_out = raw ? TRUE : FALSE;
    // The size limit before libjpeg allocates its buffers for the image.
    CheckImageSize(d->cinfo.image_width, d->cinfo.image_height, gray ? 8 : 24);
    if (raw) d->scratch.resize(d->cinfo.image_width);
    jpeg_start_decompress(&d->cinfo);
    const int components = d->cinfo.output_components;
    if (components != 1 && components != 3) throw Exception(Format("Invalid samples count: %d", components));
    const uint8_t format = components == 1 ? fmt8Bit : fmt24Bit;

    // Densities are unsigned 16-bit values in the file.
    int32_t xdpi = 0, ydpi = 0;
    if (d->cinfo.density_unit == 1) {
        xdpi = d->cinfo.X_density;
        ydpi = d->cinfo.Y_density;
    } else if (d->cinfo.density_unit == 2) {
        xdpi = ClampResolution(d->cinfo.X_density * 2.54L);
        ydpi = ClampResolution(d->cinfo.Y_density * 2.54L);
    }

    // Every row is decoded into (or libjpeg fails the load in jpeg_finish_decompress).
    image.CreateNewForOverwrite(static_cast<int32_t>(d->cinfo.output_width),
                                static_cast<int32_t>(d->cinfo.output_height), format, xdpi, ydpi);
    if (raw) {
        // A block row at a time; the rows of the last one below the page go to a scratch row.
        const JDIMENSION h = d->cinfo.output_height;
        const int lines = d->cinfo.max_v_samp_factor * d->cinfo.min_DCT_scaled_size;
        if (lines <= 0 || lines > kMaxRawLines || d->cinfo.output_width != d->cinfo.image_width)
            throw Exception("JPEG raw data: unexpected block layout");
        JSAMPROW rows[kMaxRawLines];
        JSAMPARRAY planes[1] = {rows};
        while (d->cinfo.output_scanline < h) {
            const JDIMENSION y0 = d->cinfo.output_scanline;
            for (int i = 0; i < lines; ++i)
                rows[i] = y0 + JDIMENSION(i) < h ? image.Rows[y0 + JDIMENSION(i)] : d->scratch.data();
            if (jpeg_read_raw_data(&d->cinfo, planes, JDIMENSION(lines)) == 0) break;
        }
    } else {
        // Straight into the picture rows (Rows holds them top to bottom), as many per call as
        // libjpeg has ready.
        while (d->cinfo.output_scanline < d->cinfo.output_height) {
            JSAMPARRAY rows = image.Rows.data() + d->cinfo.output_scanline;
            if (jpeg_read_scanlines(&d->cinfo, rows, d->cinfo.output_height - d->cinfo.output_scanline) == 0) break;
        }
    }
    jpeg_finish_decompress(&d->cinfo);
}

void WriteJpeg(TDIB& image, TStream& stream, bool progressive, uint8_t quality) {
    int components;
    J_COLOR_SPACE space;
    if (image.ImageFormat == fmt8Bit) {
        components = 1;
        space = JCS_GRAYSCALE;
    } else if (image.ImageFormat == fmt24Bit) {
        components = 3;
        space = JCS_EXT_BGR;
    } else {
        throw Exception("Invalid bit depth !");
    }

    auto e = std::make_unique<Encoder>();
    InitErrors(e->err);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->err.jump)) throw Exception(e->err.message);

    jpeg_create_compress(&e->cinfo);
    e->created = true;
    e->dest.stream = &stream;
    e->dest.buffer = e->buffer.data();
    e->dest.pub.init_destination = InitDestination;
    e->dest.pub.empty_output_buffer = EmptyOutputBuffer;
    e->dest.pub.term_destination = TermDestination;
    e->cinfo.dest = &e->dest.pub;

    e->cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    e->cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    e->cinfo.input_components = components;
    e->cinfo.in_color_space = space;
    jpeg_set_defaults(&e->cinfo);
    e->cinfo.density_unit = 1;
    e->cinfo.X_density = static_cast<UINT16>(ClampResolution(image.XResolution()));
    e->cinfo.Y_density = static_cast<UINT16>(ClampResolution(image.YResolution()));
    jpeg_set_quality(&e->cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&e->cinfo);
    e->cinfo.optimize_coding = FALSE;

    // A gray page of whole 8 x 8 blocks across goes to the forward DCT as it is (raw data),
    // skipping the copies libjpeg's gray "color conversion" and downsampling make of every
    // row; the last block row is filled up with the last row, as libjpeg does itself.
    const bool raw = components == 1 && image.Width() % DCTSIZE == 0 && e->cinfo.comp_info[0].h_samp_factor == 1 &&
                     e->cinfo.comp_info[0].v_samp_factor == 1;
    e->cinfo.raw_data_in = raw ? TRUE : FALSE;
    jpeg_start_compress(&e->cinfo, TRUE);
    if (raw) {
        const JDIMENSION h = e->cinfo.image_height;
        const int lines = e->cinfo.max_v_samp_factor * DCTSIZE;
        if (lines <= 0 || lines > kMaxRawLines) throw Exception("JPEG raw data: unexpected block layout");
        JSAMPROW rows[kMaxRawLines];
        JSAMPARRAY planes[1] = {rows};
        while (e->cinfo.next_scanline < h) {
            const JDIMENSION y0 = e->cinfo.next_scanline;
            for (int i = 0; i < lines; ++i) rows[i] = image.Rows[std::min(y0 + JDIMENSION(i), h - 1)];
            if (jpeg_write_raw_data(&e->cinfo, planes, JDIMENSION(lines)) == 0) break;
        }
    } else {
        // libjpeg only reads the rows it is handed, so they go from the image as they are.
        while (e->cinfo.next_scanline < e->cinfo.image_height) {
            JSAMPARRAY rows = image.Rows.data() + e->cinfo.next_scanline;
            if (jpeg_write_scanlines(&e->cinfo, rows, e->cinfo.image_height - e->cinfo.next_scanline) == 0) break;
        }
    }
    jpeg_finish_compress(&e->cinfo);
}

}  // namespace

void TDIB::LoadFromJpegStream(TStream& stream) {
    Clear();
    try {
        ReadJpeg(*this, stream);
    } catch (...) {
        DiscardFailedLoad(*this);
        throw;
    }
}

void TDIB::SaveToJpegStream(TStream& stream, bool progressive, uint8_t quality) {
    RequireImage(*this);
    WriteJpeg(*this, stream, progressive, quality);
}

void TDIB::SaveToJpegFile(const std::string& fileName, bool progressive, uint8_t quality) {
    RequireImage(*this);
    if (ImageFormat != fmt8Bit && ImageFormat != fmt24Bit) throw Exception("Invalid bit depth !");
    WriteFileAtomically(fileName, false, [&](TFileStream& stream) { SaveToJpegStream(stream, progressive, quality); });
}

}  // namespace qil
