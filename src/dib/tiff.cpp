// TIFF files through libtiff, opened over the library's own streams.
//
// Reading maps a page's BitsPerSample, PhotometricInterpretation and compression onto the four
// pixel formats; pages libtiff can only deliver as RGBA rasters (JPEG-compressed, tiled, planar,
// YCbCr, CMYK, more than 8 bits per sample) go through its RGBA reader, which already applies
// the photometric interpretation and the color map. Writing puts one page per call, new or
// appended, with the tags the rest of the system expects.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>
#include <memory>
#include <vector>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/streams.h"

namespace qil {

namespace {

// ---- The access layer: libtiff over a TStream ----

TStream* StreamOf(thandle_t h) { return static_cast<TStream*>(h); }

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size) {
    try {
        return static_cast<tmsize_t>(StreamOf(h)->Read(buffer, static_cast<int64_t>(size)));
    } catch (...) {
        return -1;
    }
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t size) {
    try {
        return static_cast<tmsize_t>(StreamOf(h)->Write(buffer, static_cast<int64_t>(size)));
    } catch (...) {
        return -1;
    }
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    try {
        TSeekOrigin origin = whence == SEEK_SET ? TSeekOrigin::soBeginning
                             : whence == SEEK_CUR ? TSeekOrigin::soCurrent
                                                  : TSeekOrigin::soEnd;
        int64_t r = StreamOf(h)->Seek(static_cast<int64_t>(offset), origin);
        return r < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(r);
    } catch (...) {
        return static_cast<toff_t>(-1);
    }
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t h) {
    try {
        int64_t n = StreamOf(h)->Size();
        return n < 0 ? 0 : static_cast<toff_t>(n);
    } catch (...) {
        return 0;
    }
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages are not printed; the failing call raises its own exception. The last
// error is kept for the messages that add it.
thread_local std::string lastTiffError;

int ErrorHandler(TIFF*, void*, const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    lastTiffError = module && *module ? std::string(module) + ": " + text : std::string(text);
    return 1;
}

int WarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

[[noreturn]] void RaiseRgbaError(const char* message) {
    std::string detail = message && *message ? message : lastTiffError;
    throw Exception(detail.empty() ? std::string("TIFFReadRGBAImage") : "TIFFReadRGBAImage: " + detail);
}

// The largest single buffer libtiff may allocate for one file.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t(1) << 30;

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr OpenTiff(TStream& stream, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, ErrorHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, WarningHandler, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
    TIFF* tif = TIFFClientOpenExt("", mode, static_cast<thandle_t>(&stream), ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return TiffPtr(tif);
}

template <class T>
T GetTag(TIFF* tif, uint32_t tag) {
    T value{};
    if (!TIFFGetField(tif, tag, &value)) throw Exception(Format("TIFFGetField: Tag = %u", tag));
    return value;
}

template <class T>
T GetTagOr(TIFF* tif, uint32_t tag, T fallback) {
    T value{};
    return TIFFGetField(tif, tag, &value) ? value : fallback;
}

bool IsCcitt(uint16_t compression) {
    return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
           compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
}

// Gray level of an RGBA raster value: Rec. 601 luminance 0.299 R + 0.587 G + 0.114 B,
// rounded to nearest (the weights add up to 1, so a gray pixel keeps its level exactly).
inline int32_t Luminance(uint32_t v) {
    uint32_t r = v & 255, g = (v >> 8) & 255, b = (v >> 16) & 255;
    return static_cast<int32_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

// One RGBA raster row into picture row Y. 24 bits keep the channels; 8-bit gray pages keep
// the red byte; palette pages take the nearest color table entry (the reader produced the
// entry's own color, so this finds the index back); 1-bit and 4-bit gray pages are reduced by
// luminance: 1 bit = luminance >= 128 (white, index 1 of the black/white table), 4 bits =
// (luminance + 8) div 17, the nearest level of the table i * 17.
void StoreRasterRow(TDIB& image, int32_t y, const uint32_t* raster, bool palette) {
    const int32_t w = image.Width();
    uint8_t* row = image.Rows[static_cast<size_t>(y)];
    if (palette) {
        uint32_t lastValue = 0;
        int32_t lastIndex = -1;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = raster[x] & 0x00FFFFFF;
            if (lastIndex < 0 || v != lastValue) {
                uint32_t color = ((v & 255) << 16) | (v & 0xFF00) | ((v >> 16) & 255);
                image.SetPixelColor(x, y, color);
                lastIndex = image.GetPixel(x, y);
                lastValue = v;
            } else {
                image.SetPixel(x, y, lastIndex);
            }
        }
        return;
    }
    switch (image.ImageFormat) {
        case fmt24Bit:
            for (int32_t x = 0; x < w; ++x) {
                uint32_t v = raster[x];
                row[3 * x] = static_cast<uint8_t>(v >> 16);
                row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(v);
            }
            break;
        case fmt8Bit:
            for (int32_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(raster[x]);
            break;
        case fmt4Bit:
            for (int32_t x = 0; x < w; ++x) image.SetPixel4(x, y, (Luminance(raster[x]) + 8) / 17);
            break;
        default:
            for (int32_t x = 0; x < w; ++x) image.SetPixel1(x, y, Luminance(raster[x]) >= 128 ? 1 : 0);
            break;
    }
}

struct RgbaImageEnd {
    TIFFRGBAImage* img;
    ~RgbaImageEnd() { TIFFRGBAImageEnd(img); }
};

// The whole page through libtiff's RGBA reader, a band of whole strips or one row of tiles at
// a time, so that the raster never needs to hold the page at once. Tiled pages are read tile
// by tile (libtiff's whole-image reader refuses tiled pages whose width is not a multiple of
// the tile width).
void ReadRgbaPage(TIFF* tif, TDIB& image, bool palette) {
    char message[1024] = {};
    lastTiffError.clear();
    if (!TIFFRGBAImageOK(tif, message)) RaiseRgbaError(message);
    const int32_t w = image.Width(), h = image.Height();

    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0 || uint64_t(tw) * th > (uint64_t(1) << 26)) RaiseRgbaError("invalid tile size");
        // The tile and a band of the page's width, both of 32-bit values.
        CheckImageSize(tw, th, 32);
        CheckImageSize(uint64_t(w), th, 32);
        std::vector<uint32_t> tile(size_t(tw) * th);
        std::vector<uint32_t> band(size_t(th) * size_t(w));
        for (int64_t row = 0; row < h; row += th) {
            const int64_t rows = std::min<int64_t>(th, h - row);
            for (int64_t col = 0; col < w; col += tw) {
                if (!TIFFReadRGBATile(tif, uint32_t(col), uint32_t(row), tile.data())) RaiseRgbaError(nullptr);
                const int64_t cols = std::min<int64_t>(tw, w - col);
                // The tile raster is bottom-up: its last row is the tile's top row.
                for (int64_t k = 0; k < rows; ++k)
                    std::memcpy(&band[size_t(k * w + col)], &tile[size_t((th - 1 - k) * tw)], size_t(cols) * 4);
            }
            for (int64_t k = 0; k < rows; ++k)
                StoreRasterRow(image, static_cast<int32_t>(row + k), band.data() + k * w, palette);
        }
        return;
    }

    TIFFRGBAImage img;
    std::memset(&img, 0, sizeof img);
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) RaiseRgbaError(message);
    RgbaImageEnd end{&img};
    img.req_orientation = ORIENTATION_TOPLEFT;
    uint32_t unit = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    if (unit == 0 || unit > uint32_t(h)) unit = static_cast<uint32_t>(h);
    // About 16 MiB of raster per band (less under a smaller size limit), whole strips only.
    const int64_t budget = static_cast<int64_t>(std::min<uint64_t>(uint64_t(16) << 20, MaxImageBytes()));
    int64_t rowsWanted = std::max<int64_t>(1, budget / (int64_t(w) * 4));
    int64_t band = std::max<int64_t>(1, rowsWanted / unit) * unit;
    band = std::min<int64_t>(band, h);
    CheckImageSize(uint64_t(w), uint64_t(band), 32);

    std::vector<uint32_t> raster(static_cast<size_t>(band) * static_cast<size_t>(w));
    for (int64_t row0 = 0; row0 < h; row0 += band) {
        int64_t n = std::min<int64_t>(band, h - row0);
        img.row_offset = static_cast<int>(row0);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, raster.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(n)))
            RaiseRgbaError(nullptr);
        for (int64_t r = 0; r < n; ++r)
            StoreRasterRow(image, static_cast<int32_t>(row0 + r), raster.data() + r * w, palette);
    }
}

// Dst = not Src over Count bytes, eight at a time (Dst may be Src).
void InvertBytes(uint8_t* dst, const uint8_t* src, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t v;
        std::memcpy(&v, src + i, 8);
        v = ~v;
        std::memcpy(dst + i, &v, 8);
    }
    for (; i < count; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
}

// Bits past the last pixel of 1-bit and 4-bit rows come from the file or from the inversion;
// clear them so that whole-byte work on the rows sees only pixels.
void ClearRowPadding(TDIB& image) {
    const int32_t usedBits = static_cast<int32_t>((int64_t(image.Width()) * image.BitCount()) % 8);
    if (usedBits == 0) return;
    const auto mask = static_cast<uint8_t>(0xFF << (8 - usedBits));
    for (uint8_t* row : image.Rows) row[image.RowBytes - 1] &= mask;
}

void ReadTiff(TDIB& image, TStream& stream, int32_t page) {
    TiffPtr handle = OpenTiff(stream, "r");
    if (!handle) {
        stream.Seek(0, TSeekOrigin::soBeginning);
        handle = OpenTiff(stream, "r");
    }
    if (!handle) throw Exception("TIFFOpen");
    TIFF* tif = handle.get();

    // Opening has read the first page's directory already.
    if (page < 0 || (page > 0 && !TIFFSetDirectory(tif, static_cast<tdir_t>(page))))
        throw Exception(Format("TIFFSetDirectory: Page = %d (the file has %u pages)", page,
                               static_cast<unsigned>(TIFFNumberOfDirectories(tif))));

    const uint32_t width = GetTag<uint32_t>(tif, TIFFTAG_IMAGEWIDTH);
    const uint32_t length = GetTag<uint32_t>(tif, TIFFTAG_IMAGELENGTH);
    const uint16_t compression = GetTag<uint16_t>(tif, TIFFTAG_COMPRESSION);
    const uint16_t planar = GetTag<uint16_t>(tif, TIFFTAG_PLANARCONFIG);
    const uint16_t photometric = GetTagOr<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0);
    const bool ccitt = IsCcitt(compression);
    // BitsPerSample defaults to 1 by the TIFF standard (Pillow leaves it out of bilevel pages).
    const uint16_t bps = GetTagOr<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
    uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const uint16_t unit = GetTagOr<uint16_t>(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    const float xres = GetTagOr<float>(tif, TIFFTAG_XRESOLUTION, 0.0f);
    const float yres = GetTagOr<float>(tif, TIFFTAG_YRESOLUTION, 0.0f);
    const int32_t xdpi = unit == RESUNIT_INCH ? ClampResolution(xres) : ClampResolution(xres * 2.54L);
    const int32_t ydpi = unit == RESUNIT_INCH ? ClampResolution(yres) : ClampResolution(yres * 2.54L);

    if (width == 0 || length == 0 || width > INT32_MAX || length > INT32_MAX)
        throw Exception(Format("Invalid TIFF image size: %u x %u", width, length));

    const bool rgba = compression == COMPRESSION_JPEG || TIFFIsTiled(tif) || photometric == PHOTOMETRIC_SEPARATED ||
                      photometric == PHOTOMETRIC_YCBCR || bps > 8 || planar > PLANARCONFIG_CONTIG;

    // Format, color table and inversion. The RGBA reader applies the photometric
    // interpretation itself, so its pages are never inverted afterwards.
    uint8_t format = fmt24Bit;
    TLogPalette table;
    bool invert = false;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    if (palette) {
        if (bps > 8) throw Exception(Format("Unsupported bit count: %d", int(bps)));
        format = bps == 1 ? fmt1Bit : bps <= 4 ? fmt4Bit : fmt8Bit;
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            throw Exception(Format("TIFFGetField: Tag = %u", unsigned(TIFFTAG_COLORMAP)));
        const int32_t n = 1 << bps;
        bool sixteenBit = false;
        for (int32_t i = 0; i < n; ++i)
            if (red[i] >= 256 || green[i] >= 256 || blue[i] >= 256) sixteenBit = true;
        auto scale = [sixteenBit](uint16_t v) {
            return static_cast<uint8_t>(sixteenBit ? uint32_t(v) * 255 / 65535 : (v & 255));
        };
        table.palNumEntries = static_cast<uint16_t>(n);
        for (int32_t i = 0; i < n; ++i) table.palPalEntry[i] = PALETTEENTRY{scale(red[i]), scale(green[i]), scale(blue[i]), 0};
    } else if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
               (bps == 1 || bps == 4 || bps == 8)) {
        format = bps == 1 ? fmt1Bit : bps == 4 ? fmt4Bit : fmt8Bit;
        if (bps == 1) {
            table.palNumEntries = 2;
            table.palPalEntry[1] = PALETTEENTRY{255, 255, 255, 0};
        } else {
            int32_t n = 1 << bps, step = bps == 4 ? 17 : 1;
            table.palNumEntries = static_cast<uint16_t>(n);
            for (int32_t i = 0; i < n; ++i) {
                auto v = static_cast<uint8_t>(i * step);
                table.palPalEntry[i] = PALETTEENTRY{v, v, v, 0};
            }
        }
        invert = photometric == PHOTOMETRIC_MINISWHITE && !rgba;
    }

    // Pages read from the file's own rows must match the format byte for byte.
    int64_t scanlineBytes = 0;
    int32_t samples = 1;
    if (!rgba) {
        scanlineBytes = TIFFScanlineSize64(tif);
        samples = std::max<int32_t>(1, static_cast<int32_t>(Round(static_cast<long double>(scanlineBytes) / width)));
        int32_t bitCount = std::min<int32_t>(bps * samples, 24);
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
            throw Exception(Format("Unsupported bit count: %d", bitCount));
        bool perPixel = !ccitt && (samples == 3 || samples == 4);
        int32_t formatBits = FormatBitCount(format);
        bool consistent = perPixel ? bps == 8 && spp == samples && scanlineBytes >= int64_t(width) * samples
                                   : bps * spp == formatBits && scanlineBytes == (int64_t(width) * formatBits + 7) / 8;
        if (!consistent) throw Exception(Format("Unsupported bit count: %d", int(bps) * int(spp)));
        // Uncompressed rows must be in the file before anything is allocated for them.
        if (compression == COMPRESSION_NONE) {
            if (uint64_t(length) * uint64_t(scanlineBytes) > uint64_t(std::max<int64_t>(stream.Size(), 0)))
                throw Exception("TIFFReadEncodedStrip");
            uint64_t* counts = nullptr;
            uint64_t total = 0;
            if (TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts)
                for (uint32_t i = 0, n = TIFFNumberOfStrips(tif); i < n; ++i) total += counts[i];
            if (total < uint64_t(length) * uint64_t(scanlineBytes)) throw Exception("TIFFReadEncodedStrip");
        }
    }

    // The page must fit the size limit before anything is allocated for it: the RGBA reader
    // needs at least one row of 32-bit values besides the image.
    CheckImageSize(width, length, FormatBitCount(format));
    if (rgba) CheckImageSize(width, 1, 32);

    // The file's own rows below write every row byte, or the load fails; the RGBA reader
    // sets pixels one by one and gets cleared rows.
    if (rgba)
        image.CreateNew(static_cast<int32_t>(width), static_cast<int32_t>(length), format, xdpi, ydpi);
    else
        image.CreateNewForOverwrite(static_cast<int32_t>(width), static_cast<int32_t>(length), format, xdpi, ydpi);
    if (format != fmt24Bit) image.SetPaletteFromLogPalette(table);
    const int32_t h = static_cast<int32_t>(length);

    if (rgba) {
        ReadRgbaPage(tif, image, palette);
    } else if (ccitt) {
        // A scanline is exactly RowBytes here (checked above), so it decodes straight into the
        // picture row and is inverted there while it is in the cache.
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = image.Rows[static_cast<size_t>(y)];
            if (TIFFReadScanline(tif, row, static_cast<uint32_t>(y), 0) < 0) throw Exception("TIFFReadScanline");
            if (invert) InvertBytes(row, row, static_cast<size_t>(scanlineBytes));
        }
        invert = false;
    } else {
        // RowsPerStrip as libtiff reports it: absent means one strip for the whole page.
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (rowsPerStrip == 0 || rowsPerStrip > length) rowsPerStrip = length;
        int64_t stripSize = TIFFStripSize64(tif);
        if (stripSize <= 0) throw Exception("TIFFReadEncodedStrip");
        std::vector<uint8_t> buffer(static_cast<size_t>(stripSize));
        for (int64_t row0 = 0; row0 < h; row0 += rowsPerStrip) {
            int64_t n = std::min<int64_t>(rowsPerStrip, h - row0);
            int64_t wanted = n * scanlineBytes;
            if (wanted > stripSize) throw Exception("TIFFReadEncodedStrip");
            std::memset(buffer.data(), 0, static_cast<size_t>(wanted));
            uint32_t strip = TIFFComputeStrip(tif, static_cast<uint32_t>(row0), 0);
            if (TIFFReadEncodedStrip(tif, strip, buffer.data(), static_cast<tmsize_t>(wanted)) < 0)
                throw Exception("TIFFReadEncodedStrip");
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t* src = buffer.data() + i * scanlineBytes;
                uint8_t* dst = image.Rows[static_cast<size_t>(row0 + i)];
                if (samples == 3 || samples == 4) {
                    if (format == fmt24Bit) {
                        for (uint32_t x = 0; x < width; ++x) {
                            dst[3 * x] = src[x * samples + 2];
                            dst[3 * x + 1] = src[x * samples + 1];
                            dst[3 * x + 2] = src[x * samples];
                        }
                    } else {
                        for (uint32_t x = 0; x < width; ++x) {
                            const uint8_t* p = src + x * samples;
                            image.SetPixel(static_cast<int32_t>(x), static_cast<int32_t>(row0 + i), p[0] | (p[1] << 8) | (p[2] << 16));
                        }
                    }
                } else if (invert) {
                    InvertBytes(dst, src, static_cast<size_t>(scanlineBytes));
                } else {
                    std::memcpy(dst, src, static_cast<size_t>(scanlineBytes));
                }
            }
        }
        // Single-sample rows were inverted as they were copied.
        if (samples != 3 && samples != 4) invert = false;
    }

    if (invert) image.Invert();
    ClearRowPadding(image);
}

// ---- Writing ----

TTiffCompression Resolve(TTiffCompression compression, uint8_t format) {
    if (compression != tcAuto) return compression;
    switch (format) {
        case fmt1Bit: return tcGroup4;
        case fmt4Bit: return tcPackBits;
        case fmt8Bit:
        case fmt24Bit: return tcJpeg;
        default: return tcNone;
    }
}

uint16_t CompressionTag(TTiffCompression compression) {
    switch (compression) {
        case tcNone: return COMPRESSION_NONE;
        case tcPackBits: return COMPRESSION_PACKBITS;
        case tcGroup3:
        case tcGroup3TwoD: return COMPRESSION_CCITTFAX3;
        case tcGroup4: return COMPRESSION_CCITTFAX4;
        case tcDeflate: return COMPRESSION_DEFLATE;
        case tcJpeg: return COMPRESSION_JPEG;
        case tcLzw: return COMPRESSION_LZW;
        default: return COMPRESSION_NONE;
    }
}

int32_t PaletteLuminance(const RGBQUAD& q) { return 299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue; }

void WriteTiff(TDIB& image, TStream& stream, bool append, TTiffCompression requested, int32_t rowsPerStrip) {
    const TTiffCompression compression = Resolve(requested, image.ImageFormat);
    if (append) stream.Seek(0, TSeekOrigin::soBeginning);
    TiffPtr handle = OpenTiff(stream, append ? "a" : "w");
    if (!handle) throw Exception("TIFFOpen");
    TIFF* tif = handle.get();

    const bool ccitt = compression == tcGroup3 || compression == tcGroup3TwoD || compression == tcGroup4;
    if (compression == tcGroup3 || compression == tcGroup3TwoD) {
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, compression == tcGroup3TwoD ? 1u : 0u);
    }
    uint32_t strip = compression == tcJpeg ? 8u : rowsPerStrip > 0 ? uint32_t(rowsPerStrip) : 16u;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, strip);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, CompressionTag(compression));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Quorvane Image Library");
    char dateTime[32] = {};
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(dateTime, sizeof dateTime, "%Y:%m:%d %H:%M:%S", &local);
    TIFFSetField(tif, TIFFTAG_DATETIME, dateTime);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(image.XResolution()));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(image.YResolution()));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height()));

    const int32_t bits = image.BitCount();
    // Bilevel pages keep black black whichever index the color table makes black: with the
    // usual table (index 0 black) a CCITT page is written inverted under MinIsWhite and any
    // other page as stored under MinIsBlack; with the table the other way round the bytes
    // already say 1 = black, so they go out as stored under MinIsWhite.
    const bool zeroIsBlack = bits != 1 || PaletteLuminance(image.Palette[0]) <= PaletteLuminance(image.Palette[1]);
    bool invertBytes = false;
    switch (bits) {
        case 1:
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            if (ccitt) {
                TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
                invertBytes = zeroIsBlack;
            } else {
                TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, zeroIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
            }
            break;
        case 4:
        case 8:
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            break;
        default:
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            break;
    }

    // Rows that need changing (blue and red swapped for color rows, inverted for CCITT
    // bilevel rows) go through one row buffer; the others go from the image as they are. The
    // buffer starts on an 8-byte boundary, which the CCITT encoder's run search favours.
    // (Whole strips handed to libtiff at once gain nothing here, and Deflate would compress
    // them into other bytes.)
    const int32_t h = image.Height(), w = image.Width();
    const size_t rowBytes = static_cast<size_t>(image.RowBytes);
    std::vector<uint8_t> buffer(static_cast<size_t>(image.Stride));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = image.Rows[static_cast<size_t>(y)];
        if (bits == 24) {
            uint8_t* dst = buffer.data();
            for (int32_t x = 0; x < w; ++x) {
                dst[3 * x] = row[3 * x + 2];
                dst[3 * x + 1] = row[3 * x + 1];
                dst[3 * x + 2] = row[3 * x];
            }
            row = dst;
        } else if (invertBytes) {
            InvertBytes(buffer.data(), row, rowBytes);
            row = buffer.data();
        }
        if (TIFFWriteScanline(tif, row, static_cast<uint32_t>(y), 0) < 0) throw Exception("TIFFWriteScanLine");
    }
    if (!TIFFWriteDirectory(tif)) throw Exception("TIFFWriteDirectory");
}

}  // namespace

void TDIB::LoadFromTiffStream(TStream& stream, int32_t page) {
    Clear();
    try {
        ReadTiff(*this, stream, page);
    } catch (...) {
        DiscardFailedLoad(*this);
        throw;
    }
}

int32_t TDIB::CountTiffPages(TStream& stream) {
    TiffPtr handle = OpenTiff(stream, "r");
    if (!handle) throw Exception("TIFFOpen");
    TIFF* tif = handle.get();
    TIFFSetDirectory(tif, 0);
    int32_t count = 1;
    while (TIFFReadDirectory(tif)) ++count;
    return count;
}

void TDIB::SaveToTiffStream(TStream& stream, bool append, TTiffCompression compression, int32_t rowsPerStrip) {
    RequireImage(*this);
    WriteTiff(*this, stream, append, compression, rowsPerStrip);
}

void TDIB::SaveToTiffFile(const std::string& fileName, bool append, TTiffCompression compression, int32_t rowsPerStrip) {
    RequireImage(*this);
    const bool appending = append && FileExists(fileName);
    WriteFileAtomically(fileName, appending, [&](TFileStream& stream) {
        SaveToTiffStream(stream, appending, compression, rowsPerStrip);
    });
}

}  // namespace qil
