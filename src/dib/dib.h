// TDIB: the one raster image class.
//
// A TDIB holds one image as a packed device-independent bitmap in one movable memory block:
// a 40-byte BITMAPINFOHEADER, a color table of PaletteSize entries (blue, green, red,
// reserved) and the pixel rows, stored bottom-up and padded to four bytes each. Rows[y]
// addresses picture row y with row 0 at the top. Every algorithm of the library is a method
// of this class; the methods are declared here by topic and defined in the file of their
// topic (conversions in dib/convert.cpp, thresholds in cleanup/threshold.cpp, ...).
//
// Ownership: the block is released by Clear only while OwnsHandle is set. No TDIB operation
// changes OwnsHandle; clients that hand the block on clear it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/rect.h"

namespace qil {

class TStream;
enum TTiffCompression : uint8_t;  // dib/image_file.h

// One-byte pixel-format codes (the graphics library's pixel-format enumeration). Only
// fmt1Bit, fmt4Bit, fmt8Bit and fmt24Bit exist as images; the others are refused.
enum TImageFormat : uint8_t {
    fmtDevice = 0,
    fmt1Bit = 1,
    fmt4Bit = 2,
    fmt8Bit = 3,
    fmt15Bit = 4,
    fmt16Bit = 5,
    fmt24Bit = 6,
    fmt32Bit = 7,
};

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

// A logical palette record: version, entry count, then 256 entries of red, green, blue, flags.
struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};
struct TLogPalette {
    uint16_t palVersion = 0x300;
    uint16_t palNumEntries = 0;
    PALETTEENTRY palPalEntry[256] = {};
};

// 256 bins of a gray image, bin g for gray level g.
using THistogram = std::array<uint64_t, 256>;

// Stride, RowBytes and total block size of an image of the given size and format:
// Stride = ((Width * bits + 31) div 32) * 4, RowBytes = (Width * bits + 7) div 8, total =
// Height * Stride + 48, 104, 1064 or 40. An unknown format leaves the outputs untouched.
void CalcLayout(int32_t width, int32_t height, uint8_t format, int32_t& stride, int32_t& rowBytes, int32_t& totalSize);

class TDIB {
public:
    using TGetPixelProc = int32_t (TDIB::*)(int32_t x, int32_t y);
    using TSetPixelProc = void (TDIB::*)(int32_t x, int32_t y, int32_t value);

    // ---- Fields ----
    std::vector<uint8_t*> Rows;  // Rows[y]: picture row y, 0 at the top; empty when no image
    HGLOBAL Handle = 0;
    uint8_t* Memory = nullptr;  // where the block is locked
    bool OwnsHandle = true;
    int32_t DIBSize = 0;
    uint8_t ImageFormat = fmt8Bit;
    int32_t LockCount = 0;
    BITMAPFILEHEADER FileHeader{};
    BITMAPINFOHEADER* Header = nullptr;
    RGBQUAD* Palette = nullptr;
    uint8_t* Bits = nullptr;  // first stored (bottom) row
    int32_t PaletteSize = 0;
    int32_t Stride = 0;
    int32_t RowBytes = 0;
    TSetPixelProc SetPixelProc = nullptr;
    TGetPixelProc GetPixelProc = nullptr;

    // ==== Object life and the block ====
    TDIB() = default;
    ~TDIB();
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;

    uint8_t* Lock();
    void Unlock();
    void UnlockAll();
    void Clear();
    // Allocates a blank image (every pixel palette index 0). Refuses negative sizes and sizes
    // whose block would not fit a signed 32-bit size.
    void CreateNew(int32_t width, int32_t height, uint8_t format, int32_t xResolution, int32_t yResolution);
    // Adopts a block. The block is checked against its real size first: a block whose header,
    // color table, pixel offset or rows do not fit inside it, or that is not a 40-byte,
    // uncompressed, bottom-up header with a supported bit count, is refused with an exception
    // and not adopted (the image stays empty and owns nothing).
    void SetHandle(HGLOBAL block);
    HGLOBAL GetHandle() const;
    void LoadHeaderInfo();
    void BuildRowTable();

    // ==== Queries and simple setters ====
    int32_t Width() const { return Header ? Header->biWidth : 0; }
    int32_t Height() const { return Header ? Header->biHeight : 0; }
    int32_t BitCount() const { return Header->biBitCount; }
    int32_t XResolution() const;
    int32_t YResolution() const;
    void SetXResolution(int32_t value);
    void SetYResolution(int32_t value);
    uint32_t GetPaletteEntry(int32_t index) const;
    void SetPaletteEntry(int32_t index, uint32_t value);
    void SetPaletteFromLogPalette(const TLogPalette& palette);
    void Fill(uint8_t value);
    void FillWhite() { Fill(255); }
    int32_t WhiteIndex() const;
    int32_t BlackIndex() const;

    // ==== Pixel access (no bounds checks) ====
    int32_t GetPixel(int32_t x, int32_t y) { return (this->*GetPixelProc)(x, y); }
    void SetPixel(int32_t x, int32_t y, int32_t value) { (this->*SetPixelProc)(x, y, value); }
    uint32_t GetPixelColor(int32_t x, int32_t y);
    void SetPixelColor(int32_t x, int32_t y, uint32_t color);
    int32_t GetPixel1(int32_t x, int32_t y);
    int32_t GetPixel4(int32_t x, int32_t y);
    int32_t GetPixel8(int32_t x, int32_t y);
    int32_t GetPixel24(int32_t x, int32_t y);
    void SetPixel1(int32_t x, int32_t y, int32_t value);
    void SetPixel4(int32_t x, int32_t y, int32_t value);
    void SetPixel8(int32_t x, int32_t y, int32_t value);
    void SetPixel24(int32_t x, int32_t y, int32_t value);

    // ==== Whole-image operations ====
    void Invert();
    // A deep copy with a block of its own (OwnsHandle true). The caller owns the result.
    TDIB* Duplicate();

    // ==== Pixel-format conversion and histograms (dib/convert.cpp) ====
    void ConvertToFormat(uint8_t target);
    void RGBToGray(bool weighted, bool red, bool green, bool blue);
    void GetHistogram(THistogram& histogram);
    bool IsGrayPalette() const;

    // ==== Image files: format detection, bitmap, TIFF, JPEG (dib/image_file.cpp, dib/bmp.cpp, dib/tiff.cpp, dib/jpeg.cpp) ====
    // Every load starts with Clear; a failed load leaves the image empty (a block the load
    // allocated is freed whatever OwnsHandle says, since nobody else can hold it). Every file
    // save writes a temporary file beside the target and renames it over the target only once
    // it is complete, so a failed save leaves the old file (or none) in place.

    // Signature tests: each reads from the stream's position and restores it.
    static bool IsBitmapStream(TStream& stream);  // "BM"
    static bool IsTiffStream(TStream& stream);    // "II" or "MM"
    static bool IsPngStream(TStream& stream);     // the 8-byte PNG signature

    // Bitmap files (dib/bmp.cpp). The reader accepts 1, 4, 8 and 24 bits, uncompressed, with
    // a 40, 52, 56, 108 or 124-byte info header, bottom-up or top-down rows and a short color
    // table, and brings them into the image's own layout; it refuses everything else.
    void LoadFromBitmapStream(TStream& stream);
    void SaveToBitmapFile(const std::string& fileName);
    void SaveToBitmapStream(TStream& stream);

    // ==== Image files: PNG through the PNG codec (dib/png.cpp, dib/png_codec.*) ====
    void LoadFromPngStream(TStream& stream);

    // ==== Rendering and geometry (dib/render.cpp, dib/geometry.cpp) ====

    // ==== Global thresholding (cleanup/threshold.cpp) ====

    // ==== Local thresholding (cleanup/local_threshold.cpp) ====

    // ==== Skew estimation (cleanup/skew.cpp) ====

    // ==== Rotation (cleanup/rotate.cpp) ====

    // ==== Connected components (cleanup/blobs.cpp) ====

    // ==== Despeckle (cleanup/despeckle.cpp) ====

    // ==== Line removal (cleanup/lines.cpp) ====

    // ==== Black border removal (cleanup/border.cpp) ====

    // ==== Color dropout, repair, dither removal (cleanup/filters.cpp) ====

    // ==== Projection profiles (cleanup/profiles.cpp) ====

    // ==== Image and text blocks (cleanup/blocks.cpp) ====

private:
    void Convert8To1();
    void Convert4To1();
    void Convert8To4();
    void Convert1To8();
    void Convert1To4();
    void Convert4To8();
    void Convert8To24();
    void Convert4To24();
    void GetHistogramDirect(THistogram& histogram);
    void GetHistogramByPalette(THistogram& histogram);
    // Rewrites the pixel rows into NewFormat through RowFn(source row, destination row) and
    // reallocates the block; see dib/convert.cpp.
    template <class RowFn>
    void ConvertRows(uint8_t newFormat, RowFn rowFn);
    void WriteConversionPalette(uint8_t format);
};

// Dots per inch <-> pixels per metre, in extended precision, rounded ties to even.
int32_t DpiToPelsPerMeter(int32_t dpi);
int32_t PelsPerMeterToDpi(int32_t pelsPerMeter);

// Bits per pixel of a format code (0 for an unknown code).
int32_t FormatBitCount(uint8_t format);

}  // namespace qil
