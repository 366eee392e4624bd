#include "cleanup/span_fill.h"

#include <algorithm>
#include <cstring>

namespace qil::detail {

void FillSpan1(uint8_t* row, int32_t x0, int32_t x1, bool bit) {
    const int32_t b0 = x0 >> 3, b1 = x1 >> 3;
    // Bits of pixels x0 ... within their bytes; the most significant bit is the leftmost pixel.
    const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (x0 & 7));
    const uint8_t tailMask = static_cast<uint8_t>(0xFFu << (7 - (x1 & 7)));
    auto apply = [bit](uint8_t& b, uint8_t mask) {
        b = bit ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
    };
    if (b0 == b1) {
        apply(row[b0], static_cast<uint8_t>(headMask & tailMask));
        return;
    }
    apply(row[b0], headMask);
    if (b1 - b0 > 1) std::memset(row + b0 + 1, bit ? 0xFF : 0x00, static_cast<size_t>(b1 - b0 - 1));
    apply(row[b1], tailMask);
}

void FillSpan(TDIB& dib, int32_t y, int32_t x0, int32_t x1, int32_t value) {
    uint8_t* row = dib.Rows[static_cast<size_t>(y)];
    switch (dib.ImageFormat) {
        case fmt1Bit: FillSpan1(row, x0, x1, value > 0); break;
        case fmt8Bit: std::memset(row + x0, value & 255, static_cast<size_t>(x1 - x0 + 1)); break;
        case fmt24Bit: {
            const uint8_t b = static_cast<uint8_t>(value >> 16), g = static_cast<uint8_t>(value >> 8),
                          r = static_cast<uint8_t>(value);
            uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x0);
            if (b == g && g == r) {
                std::memset(p, b, 3 * static_cast<size_t>(x1 - x0 + 1));
            } else {
                for (int32_t x = x0; x <= x1; ++x, p += 3) {
                    p[0] = b;
                    p[1] = g;
                    p[2] = r;
                }
            }
            break;
        }
        default:
            for (int32_t x = x0; x <= x1; ++x) dib.SetPixel(x, y, value);
            break;
    }
}

void FillRectClipped(TDIB& dib, TRect rect, int32_t value) {
    const int32_t x0 = std::max(std::min(rect.Left, rect.Right), 0);
    const int32_t x1 = std::min(std::max(rect.Left, rect.Right), dib.Width() - 1);
    const int32_t y0 = std::max(std::min(rect.Top, rect.Bottom), 0);
    const int32_t y1 = std::min(std::max(rect.Top, rect.Bottom), dib.Height() - 1);
    if (x0 > x1 || y0 > y1) return;
    for (int32_t y = y0; y <= y1; ++y) FillSpan(dib, y, x0, x1, value);
}

}  // namespace qil::detail
