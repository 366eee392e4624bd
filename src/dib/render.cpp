// Rendering: drawing a TDIB onto a raster device and the reduced gray rendering of bilevel
// pages that the viewer shows below its antialiasing threshold.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/raster.h"

namespace qil {

// Draw(DC, X, Y, Width, Height, Mode)
// Stretches the whole image, through its color table, onto the destination rectangle.
// Notes:
//  - Mode 0 color on color, 1 black on white, 2 white on black, 3 halftone (with the brush
//    origin set to 0, 0); any other value draws with the device's current stretch mode.
//  - The stretch mode and the brush origin are restored afterwards, also when drawing fails.
//  - An empty image draws nothing.
void TDIB::Draw(TRasterDevice* dc, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode) {
    if (!Header || !dc) return;
    struct Restore {
        TRasterDevice* Dc;
        int32_t Mode;
        bool Brush = false;
        TPoint Origin{};
        ~Restore() {
            if (Brush) SetBrushOrgEx(Dc, Origin.X, Origin.Y, nullptr);
            SetStretchBltMode(Dc, Mode);
        }
    } restore{dc, GetStretchBltMode(dc)};
    switch (mode) {
        case 0: SetStretchBltMode(dc, COLORONCOLOR); break;
        case 1: SetStretchBltMode(dc, BLACKONWHITE); break;
        case 2: SetStretchBltMode(dc, WHITEONBLACK); break;
        case 3:
            SetStretchBltMode(dc, HALFTONE);
            restore.Brush = SetBrushOrgEx(dc, 0, 0, &restore.Origin);
            break;
        default: break;
    }
    StretchDIBits(dc, x, y, width, height, 0, 0, Width(), Height(), Bits, Header, DIB_RGB_COLORS, SRCCOPY);
}

// ScaleToGray(Levels, ZoomPercent)
// A reduced rendering of a 1-bit image in which each output pixel is a gray level
// proportional to the number of source pixels with bit 1 in its box.
// Notes:
//  - ZoomPercent is clamped to 1..100 and Levels to 4..256; Step = 100 / ZoomPercent, Box =
//    Trunc(Step + 0.5) at most 8, output size Round(ZoomPercent * (size / 100)).
//  - Output column x covers source columns Round(x * Step) .. + Box - 1 (rows likewise),
//    each limited to the last column; beyond 12.5 % the boxes skip source pixels.
//  - A count c maps to the first level i with c <= (i + 1) * Box^2 / Levels. The result is
//    8-bit for more than 16 levels, else 4-bit; entry i of its table is the gray
//    (256 div (Levels - 1)) * i (low 8 bits), complemented when entry 0 of the source's
//    table has a non-zero red (index 0 is not black).
//  - The caller owns the result; nullptr when building it failed after it was created.
TDIB* TDIB::ScaleToGray(int32_t levels, int32_t zoomPercent) {
    if (ImageFormat != fmt1Bit) throw Exception("This operation requires 1 bit per pixel bitmap !");
    zoomPercent = std::clamp(zoomPercent, 1, 100);
    levels = std::clamp(levels, 4, 256);
    const int32_t w = Width(), h = Height();
    const long double step = 100.0L / zoomPercent;
    const int32_t box = static_cast<int32_t>(std::min<int64_t>(Trunc(step + 0.5L), 8));
    const auto outW = static_cast<int32_t>(Round(zoomPercent * (static_cast<long double>(w) / 100)));
    const auto outH = static_cast<int32_t>(Round(zoomPercent * (static_cast<long double>(h) / 100)));

    auto result = std::make_unique<TDIB>();
    result->CreateNew(outW, outH, levels > 16 ? fmt8Bit : fmt4Bit, XResolution(), YResolution());
    try {
        // Box limits of every output column and row.
        auto limits = [&](int32_t count, int32_t size, std::vector<int32_t>& first, std::vector<int32_t>& last) {
            first.resize(static_cast<size_t>(count));
            last.resize(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i) {
                int64_t a = Round(i * step), b = a + box - 1;
                if (a >= size) a = size - 1;
                if (b >= size) b = size - 1;
                first[static_cast<size_t>(i)] = static_cast<int32_t>(a);
                last[static_cast<size_t>(i)] = static_cast<int32_t>(b);
            }
        };
        std::vector<int32_t> x0, x1, y0, y1;
        limits(outW, w, x0, x1);
        limits(outH, h, y0, y1);
        // Count -> level.
        const int32_t cells = box * box;
        std::vector<uint8_t> level(static_cast<size_t>(cells) + 1);
        for (int32_t c = 0, i = 0; c <= cells; ++c) {
            while (i < levels - 1 && !(c <= static_cast<long double>(i + 1) * cells / levels)) ++i;
            level[static_cast<size_t>(c)] = static_cast<uint8_t>(i);
        }
        const bool inverted = Palette[0].rgbRed != 0;
        for (int32_t i = 0; i < result->PaletteSize; ++i) {
            auto v = static_cast<uint8_t>((256 / (levels - 1)) * i);
            if (inverted) v ^= 0xFF;
            result->Palette[i] = RGBQUAD{v, v, v, 0};
        }
        // The span of an output column lies in at most two bytes of a source row (a box is
        // at most 8 pixels wide): a 16-bit window and a mask count it.
        struct Column {
            int32_t Byte0, Byte1;
            uint32_t Mask;
        };
        std::vector<Column> columns(static_cast<size_t>(outW));
        for (int32_t x = 0; x < outW; ++x) {
            int32_t a = x0[static_cast<size_t>(x)], b = x1[static_cast<size_t>(x)];
            if (a < 0) {  // an image without columns
                columns[static_cast<size_t>(x)] = Column{0, 0, 0};
                continue;
            }
            int32_t byte0 = a >> 3, off = a & 7, len = b - a + 1;
            bool two = off + len > 8;
            uint32_t mask = ((0xFFFFu << (16 - len)) & 0xFFFFu) >> off;  // no low-byte bits unless two
            columns[static_cast<size_t>(x)] = Column{byte0, two ? byte0 + 1 : byte0, mask};
        }
        const bool eightBit = result->ImageFormat == fmt8Bit;
        // At 25 % (Step exactly 4) every output column x covers the nibble 4x .. 4x + 3, so
        // one source byte feeds two columns: a table gives both nibbles' counts in one 16-bit
        // value (high nibble's count in the high byte), and summing up to four rows keeps
        // each count within its byte. The columns whose box reaches past the last source
        // column take the general path.
        const bool quarter = zoomPercent == 25 && box == 4;
        const int32_t pairs = quarter ? std::min(outW, w / 4) / 2 : 0;  // output pairs on the fast path
        static const std::array<uint16_t, 256> kNibbleCounts = [] {
            std::array<uint16_t, 256> t{};
            for (int32_t b = 0; b < 256; ++b)
                t[static_cast<size_t>(b)] = static_cast<uint16_t>((std::popcount(static_cast<unsigned>(b >> 4)) << 8) |
                                                                  std::popcount(static_cast<unsigned>(b & 15)));
            return t;
        }();
        static const std::array<uint8_t, 256> kByteCounts = [] {
            std::array<uint8_t, 256> t{};
            for (int32_t b = 0; b < 256; ++b) t[static_cast<size_t>(b)] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(b)));
            return t;
        }();
        std::vector<uint16_t> pairCounts(static_cast<size_t>(pairs));
        std::vector<int32_t> counts(static_cast<size_t>(outW));
        for (int32_t y = outH - 1; y >= 0; --y) {  // storage order: bottom rows first
            uint8_t* out = result->Rows[y];
            std::fill(counts.begin(), counts.end(), 0);
            std::fill(pairCounts.begin(), pairCounts.end(), uint16_t{0});
            int32_t ya = y0[static_cast<size_t>(y)], yb = y1[static_cast<size_t>(y)];
            for (int32_t sy = yb; sy >= std::max(ya, 0); --sy) {
                const uint8_t* row = Rows[sy];
                uint16_t* p = pairCounts.data();
                for (int32_t j = 0; j < pairs; ++j) p[j] = static_cast<uint16_t>(p[j] + kNibbleCounts[row[j]]);
                const Column* c = columns.data();
                int32_t* n = counts.data();
                for (int32_t x = 2 * pairs; x < outW; ++x) {
                    const uint32_t window = ((uint32_t(row[c[x].Byte0]) << 8) | row[c[x].Byte1]) & c[x].Mask;
                    n[x] += kByteCounts[window >> 8] + kByteCounts[window & 0xFF];
                }
            }
            for (int32_t j = 0; j < pairs; ++j) {
                counts[static_cast<size_t>(2 * j)] = pairCounts[static_cast<size_t>(j)] >> 8;
                counts[static_cast<size_t>(2 * j + 1)] = pairCounts[static_cast<size_t>(j)] & 0xFF;
            }
            if (eightBit) {
                for (int32_t x = 0; x < outW; ++x) out[x] = level[static_cast<size_t>(counts[static_cast<size_t>(x)])];
            } else {
                for (int32_t x = 0; x + 1 < outW; x += 2)
                    out[x >> 1] = static_cast<uint8_t>((level[static_cast<size_t>(counts[static_cast<size_t>(x)])] << 4) |
                                                       level[static_cast<size_t>(counts[static_cast<size_t>(x + 1)])]);
                if (outW & 1)
                    out[outW >> 1] = static_cast<uint8_t>((out[outW >> 1] & 0x0F) |
                                                          (level[static_cast<size_t>(counts[static_cast<size_t>(outW - 1)])] << 4));
            }
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    return result.release();
}

}  // namespace qil
