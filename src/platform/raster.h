// The raster device: a 32-bit surface that packed device-independent bitmaps are stretched
// onto, standing in for the device contexts the drawing code was written against. The GUI
// shows such a surface by blitting it; the printer back end draws the same way.
//
// Pixels are 0x00RRGGBB (a color table entry read as a little-endian integer; the top byte is
// always 0), rows top to bottom, Width pixels each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/rect.h"

namespace qil {

// Stretch modes (the values of the windowing system).
constexpr int32_t BLACKONWHITE = 1;  // shrinking ANDs the colors that fall together: black wins
constexpr int32_t WHITEONBLACK = 2;  // shrinking ORs them: white wins
constexpr int32_t COLORONCOLOR = 3;  // shrinking drops rows and columns
constexpr int32_t HALFTONE = 4;      // shrinking averages the colors of each box
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t SRCCOPY = 0x00CC0020;

class TRasterDevice {
public:
    // A surface of Width x Height pixels, all Background; negative sizes count as 0.
    TRasterDevice(int32_t width, int32_t height, uint32_t background = 0x00FFFFFF);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    uint32_t Pixel(int32_t x, int32_t y) const { return Pixels[static_cast<size_t>(y) * width_ + x]; }
    uint32_t* ScanLine(int32_t y) { return &Pixels[static_cast<size_t>(y) * width_]; }
    void Clear(uint32_t color);

    std::vector<uint32_t> Pixels;
    int32_t StretchMode = BLACKONWHITE;  // the default of a fresh device context
    TPoint BrushOrigin{};
    TPoint ViewportOrigin{};  // added to every destination coordinate

private:
    int32_t width_;
    int32_t height_;
};

// Sets the stretch mode; answers the previous one, or 0 (nothing changed) for an unknown mode.
int32_t SetStretchBltMode(TRasterDevice* dc, int32_t mode);
int32_t GetStretchBltMode(const TRasterDevice* dc);
// Sets the brush origin (used by HALFTONE); the previous one goes to Old when given.
bool SetBrushOrgEx(TRasterDevice* dc, int32_t x, int32_t y, TPoint* old);
// Sets the viewport origin; the previous one goes to Old when given.
bool SetViewportOrgEx(TRasterDevice* dc, int32_t x, int32_t y, TPoint* old);

// Stretches the source rectangle of a packed DIB onto the destination rectangle of the
// device with its current stretch mode, clipped to the surface.
//  - Info: a 40-byte BITMAPINFOHEADER followed by the color table (1, 4 and 8 bits, whose
//    table has 2^bits entries); Bits: the pixel rows, each padded to 4 bytes, bottom-up for
//    a positive height and top-down for a negative one. Only uncompressed 1, 4, 8 and
//    24-bit DIBs, DIB_RGB_COLORS and SRCCOPY are supported.
//  - As on the windowing system, YSrc of a bottom-up DIB counts from its bottom row.
//  - Destination pixel (dx, dy) covers the source box of columns [dx * sw / dw, (dx + 1) *
//    sw / dw) and the rows likewise (at least one pixel when enlarging). COLORONCOLOR takes
//    the first pixel of the box, BLACKONWHITE the AND of its colors, WHITEONBLACK their OR,
//    HALFTONE their rounded average per channel.
// Answers the number of source rows, or 0 when nothing could be drawn (no device, a
// non-positive size, a source rectangle outside the DIB, or an unsupported DIB).
int32_t StretchDIBits(TRasterDevice* dc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                      int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits, const void* info, uint32_t usage,
                      uint32_t rop);

}  // namespace qil
