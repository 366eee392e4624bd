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
#include <functional>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/rect.h"

namespace qil {

class TStream;
enum TTiffCompression : uint8_t;  // dib/image_file.h
class TBlobList;
class TRasterDevice;

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
    // CreateNew for a file reader that writes all RowBytes of every row itself: the rows are
    // not cleared first, only the padding bytes past RowBytes are. A reader that fails before
    // every row is written must discard the image.
    void CreateNewForOverwrite(int32_t width, int32_t height, uint8_t format, int32_t xResolution, int32_t yResolution);
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

    // By signature: bitmap, TIFF (page Page, counted from 0), PNG, otherwise JPEG.
    void LoadFromFile(const std::string& fileName, int32_t page);
    void LoadFromStream(TStream& stream, int32_t page);
    // 1 for every file that is not a TIFF; the directories of a TIFF.
    static int32_t GetPageCount(const std::string& fileName);
    static int32_t CountTiffPages(TStream& stream);

    // TIFF through libtiff over the stream (dib/tiff.cpp). A page number that is not in the
    // file is refused.
    void LoadFromTiffStream(TStream& stream, int32_t page);
    // Append adds a page to an existing file (on a copy that replaces it when complete);
    // RowsPerStrip <= 0 means 16.
    void SaveToTiffFile(const std::string& fileName, bool append, TTiffCompression compression, int32_t rowsPerStrip);
    void SaveToTiffStream(TStream& stream, bool append, TTiffCompression compression, int32_t rowsPerStrip);

    // JPEG through libjpeg (dib/jpeg.cpp); libjpeg's errors raise exceptions with its message.
    void LoadFromJpegStream(TStream& stream);
    void SaveToJpegFile(const std::string& fileName, bool progressive, uint8_t quality);
    void SaveToJpegStream(TStream& stream, bool progressive, uint8_t quality);

    // ==== Image files: PNG through the PNG codec (dib/png.cpp, dib/png_codec.*) ====
    // Reads a PNG (every color type and depth, interlaced or not) through the codec. The
    // resolution comes from the pHYs chunk (0 without one). A failed load leaves the image empty.
    void LoadFromPngStream(TStream& stream);
    // Writes the image as PNG: 1, 4 and 8 bits as palette images carrying the color table,
    // 24 bits as RGB; a pHYs chunk holds the resolution (none when both resolutions are 0).
    void SaveToPngStream(TStream& stream);
    // As SaveToPngStream, into a temporary file beside FileName that replaces FileName only
    // once it is complete; on failure the temporary file is removed and FileName is untouched.
    void SaveToPngFile(const std::string& fileName);

    // ==== Rendering and geometry (dib/render.cpp, dib/geometry.cpp) ====
    // Stretches the whole image onto the rectangle X, Y, Width, Height of the device. Mode: 0
    // color on color, 1 black on white, 2 white on black, 3 halftone (brush origin 0, 0); any
    // other value keeps the device's stretch mode. The device's state is restored afterwards.
    void Draw(TRasterDevice* dc, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode);
    // A reduced gray rendering of a 1-bit image (Levels 4..256, ZoomPercent 1..100); the
    // caller owns the result. Answers nullptr when building the result fails.
    TDIB* ScaleToGray(int32_t levels, int32_t zoomPercent);
    // A new image holding the inclusive rectangle, which must lie inside the image with
    // Left <= Right and Top <= Bottom ("Invalid rect !" otherwise). The caller owns the result.
    TDIB* CopyRect(const TRect& rect);
    // Changes the canvas size keeping the top-left part; new pixels take the Fill byte.
    void SetSize(int32_t newWidth, int32_t newHeight, uint8_t fill);
    // Shifts the whole stored row (padding included) by Count pixels, positive toward higher X.
    void ShiftLine(int32_t row, int32_t count);
    void ShiftColumns(int32_t count);
    // Moves every row by Count rows, positive toward the bottom; vacated rows are white.
    void ShiftRows(int32_t count);
    void CropToRect(const TRect& rect);
    void Rotate90();
    void Rotate180();
    void Rotate270();
    void RotateByAngle(bool expandCanvas, int32_t fill, double angle);
    double Deskew(bool fillWithWhite, bool interpolate, double range);
    // The byte that holds white in every pixel position (from WhiteIndex).
    uint8_t WhiteFillByte() const;

    // ==== Global thresholding (cleanup/threshold.cpp) ====
    // Fixed global threshold of an 8-bit image: every byte of every row becomes HighValue when
    // it is above Level, LowValue otherwise; then the image goes to 1 bit if ToBinary.
    void Threshold(uint8_t level, bool toBinary, uint8_t lowValue, uint8_t highValue);
    // Computes a level with algorithm 0 Otsu, 1 Lloyd, 2 Ridler and Calvard, 3 Uniform Error or
    // 4 Standard Deviation (any other number: 127), thresholds with it and returns it. The
    // level is the algorithm's result taken modulo 256.
    uint8_t AutoThreshold(uint8_t algorithm, bool toBinary, uint8_t lowValue, uint8_t highValue);
    // The level algorithms. Each returns a gray level (LloydThreshold returns -1 for an empty
    // histogram); see cleanup/threshold.cpp for their exact arithmetic and edge rules.
    static int32_t OtsuThreshold(const THistogram& histogram);
    static int32_t LloydThreshold(const THistogram& histogram);
    static int32_t RidlerCalvardThreshold(const THistogram& histogram);
    int32_t UniformErrorThreshold();
    static int32_t StdDevThreshold(const THistogram& histogram, double k);
    // Error-diffusion binarization of an 8-bit image, the error taken against the page's own
    // darkest and brightest levels.
    void FloydSteinbergDither(bool toBinary, uint8_t lowValue, uint8_t highValue);
    // Bytewise OR of Other's row bytes into this image (same format, RowBytes and Height).
    void OrImage(const TDIB& other);

    // ==== Local thresholding (cleanup/local_threshold.cpp) ====
    // HighValue where a pixel is above its window mean lowered by Contrast, else LowValue.
    void LocalAverageThreshold(int32_t areaW, int32_t areaH, int32_t contrast, bool toBinary, uint8_t lowValue,
                               uint8_t highValue);
    // Window min/max threshold with Level as the fallback where the window's contrast is low.
    void LocalMinMaxThreshold(uint8_t contrast, int32_t areaW, int32_t areaH, uint8_t level, bool toBinary,
                              uint8_t lowValue, uint8_t highValue);
    // Mean + K x deviation threshold of Source written as 0 / 255 into Target (8-bit, same size).
    static void AdvancedDynamicThreshold(int32_t window, const TDIB& source, TDIB& target, double k);
    // Window filters of this 8-bit image into Target (8-bit, same width and height).
    void LocalMeanImage(TDIB& target, int32_t areaW, int32_t areaH);
    void LocalMinImage(TDIB& target, int32_t areaW, int32_t areaH);
    void LocalMaxImage(TDIB& target, int32_t areaW, int32_t areaH);

    // ==== Skew estimation (cleanup/skew.cpp) ====
    // Skew angle in degrees (positive: text lines rise toward the right); 0 for 4-bit images.
    double EstimateSkew(int32_t step, double angle, double accuracy);
    double EstimateSkew1(int32_t step, double angle, double accuracy);
    double EstimateSkew8(int32_t step, double angle, double accuracy);
    double EstimateSkew24(int32_t step, double angle, double accuracy);
    // Set bits among pixels X .. X + Count - 1 of row Y (1-bit images; no bounds checks).
    int32_t CountSetBits(int32_t x, int32_t y, int32_t count) const;
    // Pixels of the span brighter than Level (8-bit values; 24-bit weighted gray, blue first).
    int32_t CountAbove8(int32_t x, int32_t y, int32_t level, int32_t count) const;
    int32_t CountAbove24(int32_t x, int32_t y, int32_t level, int32_t count) const;
    // m = (sum of profile[0..N-1]) div N; answers the sum of (profile[i] - m)^2.
    static int64_t SumSquaredDeviation(const std::vector<int32_t>& profile, int32_t n);

    // ==== Rotation (cleanup/rotate.cpp) ====
    // Straightens by two in-place shears (rows, then columns); see cleanup/rotate.cpp.
    void Rotate(bool fillWithWhite, bool interpolate, double rowAngle, double colAngle);
    void ShearImage(bool fillWithWhite, double angle);
    void ShearInterpolated1(bool fillWithWhite, double rowAngle, double colAngle);
    void ShearInterpolated8(bool fillWithWhite, double rowAngle, double colAngle);
    void ShearInterpolated24(bool fillWithWhite, double rowAngle, double colAngle);
    // Per channel Round(WeightA * a + WeightB * b) of two raw 24-bit values.
    static int32_t BlendColors(int32_t a, int32_t b, double weightA, double weightB);

    // ==== Connected components (cleanup/blobs.cpp) ====
    // Connected-component tracers of a 1-bit image (any other format raises "This operation
    // requires 1 bit per pixel bitmap !" before anything is traced). A pixel is black when its
    // raw value equals BlackIndex. Components are reported in the order of their seeds, found
    // by a column-major scan (columns outer, rows inner): by leftmost column, then by the
    // topmost pixel of that column. Each accepted component appends one record to List
    // (never cleared); a null List traces nothing. Centroids are round(sum / N), ties to even.
    // FindBlobs: FindBlobs8 when EightConnected, else FindBlobs4.
    void FindBlobs(bool EightConnected, int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List);
    // 8-connected; accepts N >= max(0, MinPixels), width >= MinWidth, height >= MinHeight;
    // appends AddBlob(bounding rectangle, N, centroid X, centroid Y).
    void FindBlobs8(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List);
    // The same with 4-connectivity (edge neighbours only).
    void FindBlobs4(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List);
    // 8-connected; accepts max(0, MinPixels) <= N <= MaxPixels, MinWidth <= width <= MaxWidth,
    // MinHeight <= height <= MaxHeight; appends AddBlob(rectangle, N, 0, 0).
    void FindBlobsInRange(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, int32_t MaxWidth,
                          int32_t MaxHeight, int32_t MaxPixels, TBlobList* List);
    // Sets the pixels of a straight line to the raw value Index, walking from (X2, Y2) toward
    // (X1, Y1); any format. Points outside the image are skipped.
    void DrawLine(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Index);
    // Sets every pixel of the inclusive rectangle (coordinates in either order) to the raw value
    // Index; any format. The part outside the image is skipped.
    void PaintRect(const TRect& Rect, int32_t Index);

    // ==== Despeckle (cleanup/despeckle.cpp) ====
    // Speck removal on a 1-bit page, in place (other formats raise "This operation requires
    // 1 bit per pixel bitmap !" before anything changes). Erasing paints the whole bounding
    // rectangle of what is removed with WhiteIndex. Limits <= 0 take defaults from the
    // resolution (see cleanup/despeckle.cpp).
    // Erases every 8-connected component with width <= MaxWidth and height <= MaxHeight
    // (pixel sizes); returns how many.
    int32_t Despeckle(int32_t MaxWidth, int32_t MaxHeight);
    // Line-aware speck removal: components are clustered into horizontal lines and a line is
    // erased only when all its members are small (extent Right - Left <= MaxWidth and
    // Bottom - Top <= MaxHeight); with PruneRuns, long runs of small marks above or below the
    // middle of a mixed line are thinned. Returns the number of rectangles painted.
    int32_t SmartDespeckle(int32_t MaxWidth, int32_t MaxHeight, bool PruneRuns);
    // PaintRect(List[i], Index) for i = First ... Last; returns Last - First + 1.
    int32_t PaintBlobs(TBlobList& List, int32_t First, int32_t Last, int32_t Index);

    // ==== Line removal (cleanup/lines.cpp) ====
    // Ruling lines of a 1-bit page. Black is BlackIndex, erasing writes WhiteIndex; the finders
    // and the Remove methods raise "This operation requires 1 bit per pixel bitmap !" on other
    // formats. How runs are found and grouped into lines: cleanup/line_runs.h.
    //
    // A run starts at a black pixel X of a row and bridges white pixels, one hole each, while the
    // holes so far do not exceed both MaxHoles and (K - X + 1) div 64 (K just after the latest
    // hole); it ends at the last black pixel at or before the point where the allowance was
    // exceeded or the row ended, and the scan resumes two pixels after its last pixel. Runs of
    // at least MinLength pixels are appended with AddRect, rows top to bottom and left to right
    // (vertical: columns left to right, each top to bottom). Returns Runs.Count.
    int32_t FindHorizontalRuns(int32_t MinLength, int32_t MaxHoles, TBlobList& Runs);
    int32_t FindVerticalRuns(int32_t MinLength, int32_t MaxHoles, TBlobList& Runs);
    // Groups the runs into Lines: a run grows the first line (by index) it touches when the line
    // is grown by one row above and below (vertical: one column left and right), else starts a
    // new one (AddBlob(rect, 0, 0, 0)). Then every line whose length / thickness, in floating
    // point, is not >= MinRatio is deleted. Returns Lines.Count.
    int32_t FindHorizontalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, TBlobList& Lines);
    int32_t FindVerticalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, TBlobList& Lines);
    // Whitens, for X1 ... X2, pixel (X, Y - 1) when it is black and (X, Y - 2) is not (nothing when
    // Y - 2 < 0). CleanBelow: Y + 1 against Y + 2 (nothing when Y + 2 >= Height). CleanLeft and
    // CleanRight: the column mirror for Y1 ... Y2. Positions outside the image are skipped.
    void CleanAbove(int32_t X1, int32_t Y, int32_t X2);
    void CleanBelow(int32_t X1, int32_t Y, int32_t X2);
    void CleanLeft(int32_t X, int32_t Y1, int32_t Y2);
    void CleanRight(int32_t X, int32_t Y1, int32_t Y2);
    // Redraws black the columns L.Left ... L.Right of rows L.Top ... L.Bottom where the two pixels
    // above and the two below the line are black (nothing when they are not all inside the
    // image). ReconnectVertical: the rows of a vertical line, two pixels on either side.
    void ReconnectHorizontal(const TRect& L);
    void ReconnectVertical(const TRect& L);
    // Finds the lines and, one after another, paints each white, then with CleanBorders cleans
    // its two long sides and with Reconnect redraws the crossing strokes. Return the number of
    // lines. RemoveLines runs both searches on the unchanged page before painting anything,
    // horizontal lines first, and returns the sum.
    int32_t RemoveHorizontalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, bool CleanBorders, bool Reconnect);
    int32_t RemoveVerticalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, bool CleanBorders, bool Reconnect);
    int32_t RemoveLines(int32_t MinHorzLength, int32_t MaxHorzHoles, double MinHorzRatio, int32_t MinVertLength,
                        int32_t MaxVertHoles, double MinVertRatio, bool CleanBorders, bool Reconnect);

    // ==== Black border removal (cleanup/border.cpp) ====
    // Finds the page inside dark bands along the edges. Rect := the inclusive content
    // rectangle: each side is the first column (row) met from its edge that begins a stretch of
    // R + 1 consecutive content lines (R = MinRun, or round(resolution / 25) when MinRun < 0);
    // a line is content when its light pixels number more than round(length * Percent / 100).
    // Light: the white bit for 1 bit; 128 ... 255 for 8 bits (0 ... 128 unless WhiteIndex is
    // 255); gray Trunc(0.3 B + 0.59 G + 0.11 R) >= 128 for 24 bits. No content line on a side
    // leaves that side on the image edge; other formats give the whole image. Never raises.
    void FindBlackBorder(int32_t MinRun, TRect& Rect, double Percent);
    // Paints every pixel outside Rect with BackgroundIndex (parts outside the image skipped).
    void ClearOutsideRect(const TRect& Rect);
    // WhiteIndex for 1 bit; otherwise the most frequent histogram level of 128 ... 255 (0 ... 128
    // when WhiteIndex is 0), level 255 winning unless exceeded, as an index (8 bits) or as the
    // raw gray value B | B << 8 | B << 16 (24 bits). Raises for 4 bits (from the histogram).
    int32_t BackgroundIndex();
    // Number of 1 bits among the Width pixels of row Y / column X. 1-bit images only.
    int32_t CountRowOnes(int32_t Y);
    int32_t CountColumnOnes(int32_t X);

    // ==== Color dropout, repair, dither removal (cleanup/filters.cpp) ====
    // On a 24-bit page (anything else is left alone, silently) every pixel becomes gray: a
    // pixel whose selected channel(s) dominate the others by more than 255 - Threshold (as a
    // byte) takes that channel's value (the larger of two), every other pixel its luminance
    // 0.3 B + 0.59 G + 0.11 R.
    void DropColoredInk(bool Red, bool Green, bool Blue, int32_t Threshold);
    // Flips every inner pixel of a 1-bit page whose four edge neighbours all differ from it and
    // at most Aggressivity (0 ... 4) of whose corner neighbours equal it, judged on the page as
    // it was before the call; returns how many. Raises on other formats.
    int32_t Repair(int32_t Aggressivity);
    // Whitens every non-white pixel (raw value <> WhiteIndex) whose left and right, or upper
    // and lower, neighbours are both white in the original page; any format.
    void RemoveDither();

    // ==== Projection profiles (cleanup/profiles.cpp) ====
    // Per-column / per-row black counts. 1-bit: the rectangle must lie inside the image
    // ("Invalid rect !") and entry i belongs to its i-th column or row. 8 and 24-bit: dark
    // pixels, indexed by absolute column (RowBytes entries) or row (Height entries), the
    // rectangle restricting only the other direction. 4-bit: an empty array.
    std::vector<int32_t> ColumnProfile(const TRect& rect);
    std::vector<int32_t> RowProfile(const TRect& rect);
    // Set bits among rows y ... y + count - 1 of column x of a 1-bit image.
    int32_t CountSetBitsInColumn(int32_t x, int32_t y, int32_t count);
    static void FreeProfile(std::vector<int32_t>& values);
    // The integer-array toolkit; these touch no image.
    static void SmoothProfile(std::vector<int32_t>& values, int32_t window);
    static void SmoothProfileWeighted(std::vector<int32_t>& values);
    static int32_t ProfileMean(const std::vector<int32_t>& values);
    static int32_t ProfileMax(const std::vector<int32_t>& values);
    static int32_t ProfileMin(const std::vector<int32_t>& values);
    static void BinarizeProfile(std::vector<int32_t>& values, int32_t threshold, int32_t low, int32_t high);
    // marks[i]: 1 at a maximum, -1 at a minimum, 0 elsewhere.
    static void FindExtrema(const std::vector<int32_t>& values, std::vector<int32_t>& marks, bool useMean);
    static void ProfileHistogram(const std::vector<int32_t>& values, std::vector<int32_t>& histo, int32_t& size);
    static void RunLengths(const std::vector<int32_t>& values, std::vector<int32_t>& runs, int32_t& runCount);

    // ==== Image and text blocks (cleanup/blocks.cpp) ====
    // The page reduced to half its size: an output pixel is black when any pixel of its 2 x 2
    // source block is not white; an odd last column or row is dropped. 1-bit images only.
    // The caller owns the result.
    TDIB* HalfSize();
    // Rect shrunk past its nearly empty border rows and columns (see cleanup/blocks.cpp);
    // (0, 0, 0, 0) when it holds no black pixel. 1-bit images; Rect must lie inside the image.
    TRect TrimBlock(const TRect& rect, int32_t toleranceX, int32_t toleranceY);
    // The text-texture test of a region: two typical gap widths between ink columns and a
    // black density strictly between 15 and 70 percent.
    bool IsTextRegion(const TRect& rect);
    // The line period of a row profile: the step in minPeriod ... maxPeriod (only steps that
    // divide the profile nearly evenly) whose samples have the smallest sum; 0 when none.
    static int32_t FindPeriod(const std::vector<int32_t>& values, int32_t minPeriod, int32_t maxPeriod);
    // The pixel sizes block detection derives from the resolution (dpi), each rounded ties to
    // even: tolerances of TrimBlock (resolution / 100), the smallest block examined
    // (resolution / 50) and the range of text line periods tried (0.08 ... 0.3 x YResolution).
    // Negative resolutions give 0.
    struct TBlockSizes {
        int32_t ToleranceX, ToleranceY, MinBlockWidth, MinBlockHeight, MinPeriod, MaxPeriod;
    };
    static TBlockSizes BlockSizes(int32_t xResolution, int32_t yResolution);
    // Called with the index of the candidate about to be examined (counting down per level).
    using TProgressEvent = std::function<void(int32_t index)>;
    // Segments this 1-bit page into text blocks and image blocks (full-resolution rectangles
    // in reading order); both lists are cleared first. The image is not changed. Other
    // formats raise "This operation requires 1 bit per pixel bitmap !".
    void FindImagesAndText(TBlobList& textBlocks, TBlobList& imageBlocks, const TProgressEvent& onProgress = {});
    // A one-pixel frame of palette index `index` along the four edges of the rectangle.
    void DrawBlobFrame(const TRect& rect, int32_t index);
    // DrawBlobFrame for every record of the list, in order.
    void DrawBlobFrames(TBlobList& list, int32_t index);

private:
    void Allocate(int32_t width, int32_t height, uint8_t format, int32_t xResolution, int32_t yResolution,
                  bool clearRows);
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
