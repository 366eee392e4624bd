#include "platform/raster.h"

#include <algorithm>
#include <cstring>

namespace qil {

TRasterDevice::TRasterDevice(int32_t width, int32_t height, uint32_t background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
    Pixels.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), background & 0x00FFFFFF);
}

void TRasterDevice::Clear(uint32_t color) { std::fill(Pixels.begin(), Pixels.end(), color & 0x00FFFFFF); }

int32_t SetStretchBltMode(TRasterDevice* dc, int32_t mode) {
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    int32_t old = dc->StretchMode;
    dc->StretchMode = mode;
    return old;
}

int32_t GetStretchBltMode(const TRasterDevice* dc) { return dc ? dc->StretchMode : 0; }

bool SetBrushOrgEx(TRasterDevice* dc, int32_t x, int32_t y, TPoint* old) {
    if (!dc) return false;
    if (old) *old = dc->BrushOrigin;
    dc->BrushOrigin = TPoint{x, y};
    return true;
}

bool SetViewportOrgEx(TRasterDevice* dc, int32_t x, int32_t y, TPoint* old) {
    if (!dc) return false;
    if (old) *old = dc->ViewportOrigin;
    dc->ViewportOrigin = TPoint{x, y};
    return true;
}

namespace {

template <class T>
T ReadAt(const uint8_t* p, size_t offset) {
    T v;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

// The source box of each destination position along one axis.
struct Span {
    int64_t First, End;
};

std::vector<Span> Boxes(int64_t destSize, int64_t src0, int64_t srcSize) {
    std::vector<Span> boxes(static_cast<size_t>(destSize));
    for (int64_t d = 0; d < destSize; ++d) {
        int64_t a = d * srcSize / destSize, b = (d + 1) * srcSize / destSize;
        if (b <= a) b = a + 1;
        boxes[static_cast<size_t>(d)] = Span{src0 + a, src0 + b};
    }
    return boxes;
}

}  // namespace

int32_t StretchDIBits(TRasterDevice* dc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                      int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits, const void* info, uint32_t usage,
                      uint32_t rop) {
    if (!dc || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
    if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
    const auto* hdr = static_cast<const uint8_t*>(info);
    const uint32_t headerSize = ReadAt<uint32_t>(hdr, 0);
    const int64_t w = ReadAt<int32_t>(hdr, 4);
    const int64_t rawHeight = ReadAt<int32_t>(hdr, 8);
    const int bitCount = ReadAt<uint16_t>(hdr, 14);
    if (headerSize < 40 || ReadAt<uint32_t>(hdr, 16) != 0 || w <= 0 || rawHeight == 0) return 0;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) return 0;
    const bool bottomUp = rawHeight > 0;
    const int64_t h = bottomUp ? rawHeight : -rawHeight;
    if (xSrc < 0 || ySrc < 0 || xSrc + int64_t(srcWidth) > w || ySrc + int64_t(srcHeight) > h) return 0;

    uint32_t table[256] = {};
    if (bitCount <= 8)
        for (int i = 0; i < (1 << bitCount); ++i) table[i] = ReadAt<uint32_t>(hdr, headerSize + 4 * size_t(i)) & 0x00FFFFFF;
    const int64_t stride = ((w * bitCount + 31) / 32) * 4;
    const auto* pixels = static_cast<const uint8_t*>(bits);
    // Picture row 0 is the top row; the source rectangle's top row in picture terms:
    const int64_t top = bottomUp ? h - ySrc - srcHeight : ySrc;
    auto rowAddress = [&](int64_t pictureRow) { return pixels + (bottomUp ? h - 1 - pictureRow : pictureRow) * stride; };
    auto colorAt = [&](const uint8_t* row, int64_t x) -> uint32_t {
        switch (bitCount) {
            case 1: return table[(row[x >> 3] >> (7 - (x & 7))) & 1];
            case 4: return table[(x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4)];
            case 8: return table[row[x]];
            default: {
                const uint8_t* p = row + 3 * x;
                return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
            }
        }
    };

    const std::vector<Span> cols = Boxes(destWidth, xSrc, srcWidth);
    const std::vector<Span> rows = Boxes(destHeight, top, srcHeight);
    const int64_t ox = int64_t(xDest) + dc->ViewportOrigin.X, oy = int64_t(yDest) + dc->ViewportOrigin.Y;
    // Only the destination columns on the surface are computed.
    const int64_t dx0 = std::max<int64_t>(0, -ox), dx1 = std::min<int64_t>(destWidth, dc->Width() - ox);
    if (dx1 <= dx0) return srcHeight;
    const int mode = dc->StretchMode;
    std::vector<uint32_t> acc(static_cast<size_t>(dx1 - dx0));
    std::vector<uint64_t> sums(mode == HALFTONE ? static_cast<size_t>(3 * (dx1 - dx0)) : 0);

    for (int64_t dy = 0; dy < destHeight; ++dy) {
        int64_t y = oy + dy;
        if (y < 0 || y >= dc->Height()) continue;
        uint32_t* line = dc->ScanLine(static_cast<int32_t>(y));
        auto out = [&](int64_t dx) -> uint32_t& { return line[ox + dx]; };
        const Span& rs = rows[static_cast<size_t>(dy)];
        if (mode == COLORONCOLOR) {
            const uint8_t* row = rowAddress(rs.First);
            for (int64_t dx = dx0; dx < dx1; ++dx) out(dx) = colorAt(row, cols[static_cast<size_t>(dx)].First);
            continue;
        }
        if (mode == HALFTONE) std::fill(sums.begin(), sums.end(), 0);
        else std::fill(acc.begin(), acc.end(), mode == BLACKONWHITE ? 0x00FFFFFFu : 0u);
        for (int64_t sy = rs.First; sy < rs.End; ++sy) {
            const uint8_t* row = rowAddress(sy);
            for (int64_t dx = dx0; dx < dx1; ++dx) {
                const Span& cs = cols[static_cast<size_t>(dx)];
                size_t k = static_cast<size_t>(dx - dx0);
                for (int64_t sx = cs.First; sx < cs.End; ++sx) {
                    uint32_t c = colorAt(row, sx);
                    if (mode == BLACKONWHITE) acc[k] &= c;
                    else if (mode == WHITEONBLACK) acc[k] |= c;
                    else {
                        sums[3 * k] += c & 255;
                        sums[3 * k + 1] += (c >> 8) & 255;
                        sums[3 * k + 2] += (c >> 16) & 255;
                    }
                }
            }
        }
        for (int64_t dx = dx0; dx < dx1; ++dx) {
            size_t k = static_cast<size_t>(dx - dx0);
            if (mode != HALFTONE) {
                out(dx) = acc[k];
                continue;
            }
            const Span& cs = cols[static_cast<size_t>(dx)];
            uint64_t n = uint64_t(cs.End - cs.First) * uint64_t(rs.End - rs.First);
            auto avg = [&](uint64_t s) { return static_cast<uint32_t>((s + n / 2) / n); };
            out(dx) = avg(sums[3 * k]) | (avg(sums[3 * k + 1]) << 8) | (avg(sums[3 * k + 2]) << 16);
        }
    }
    return srcHeight;
}

}  // namespace qil
