// Fast rectangle and span painting for the cleanup algorithms.
//
// These write one raw pixel value (a palette index, or red | green << 8 | blue << 16 for
// 24 bits) into a horizontal span or a rectangle, touching whole bytes where they can. They
// give exactly what SetPixel would give pixel by pixel: the bits and bytes of pixels outside
// the span, including the padding bits and bytes after the last pixel of a row, are left as
// they were.
#pragma once

#include <cstdint>

#include "dib/dib.h"

namespace qil::detail {

// Pixels x0 ... x1 (inclusive, 0 <= x0 <= x1 < width) of a 1-bit row set to bit value `bit`.
void FillSpan1(uint8_t* row, int32_t x0, int32_t x1, bool bit);

// Pixels x0 ... x1 of one row of `dib` set to the raw value `value`, any format.
void FillSpan(TDIB& dib, int32_t y, int32_t x0, int32_t x1, int32_t value);

// Every pixel of the inclusive rectangle, corners in any order, set to the raw value `value`.
// Pixels of the rectangle that lie outside the image are skipped.
void FillRectClipped(TDIB& dib, TRect rect, int32_t value);

}  // namespace qil::detail
