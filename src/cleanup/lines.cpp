// Ruling-line removal: long black runs along rows (columns) that may bridge a few white
// pixels are grouped into line rectangles, the long and thin ones are painted white, and the
// surroundings are optionally repaired (one-pixel bumps whitened, crossed strokes redrawn).
// The finding lives in cleanup/line_runs.cpp; this file paints and repairs.
#include <algorithm>
#include <vector>

#include "cleanup/line_runs.h"
#include "cleanup/span_fill.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

namespace qil {

namespace {

constexpr const char* kNeeds1 = "This operation requires 1 bit per pixel bitmap !";

inline bool BitAt(const uint8_t* row, int32_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void PutBit(uint8_t* row, int32_t x, bool bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
    row[x >> 3] = bit ? static_cast<uint8_t>(row[x >> 3] | mask) : static_cast<uint8_t>(row[x >> 3] & ~mask);
}

// Mask of the pixels x0 ... x1 inside byte `i`.
inline uint8_t SpanMask(int32_t i, int32_t x0, int32_t x1) {
    uint8_t m = 0xFF;
    if (i == (x0 >> 3)) m &= static_cast<uint8_t>(0xFFu >> (x0 & 7));
    if (i == (x1 >> 3)) m &= static_cast<uint8_t>(0xFFu << (7 - (x1 & 7)));
    return m;
}

// Whitens the pixels x0 ... x1 of row `near` that are black while the pixel of row `far` in the
// same column is not. Each column is decided on its own pixels, so whole bytes at a time give
// the same result as one pixel after another.
void CleanRowAgainst(TDIB& dib, int32_t near, int32_t far, int32_t x0, int32_t x1) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, dib.Width() - 1);
    if (x0 > x1) return;
    const uint8_t flip = dib.BlackIndex() > 0 ? 0x00 : 0xFF;  // xor that makes black bits 1
    const bool white = dib.WhiteIndex() > 0;
    uint8_t* a = dib.Rows[static_cast<size_t>(near)];
    const uint8_t* b = dib.Rows[static_cast<size_t>(far)];
    for (int32_t i = x0 >> 3; i <= (x1 >> 3); ++i) {
        const uint8_t m = static_cast<uint8_t>((a[i] ^ flip) & ~(b[i] ^ flip) & SpanMask(i, x0, x1));
        a[i] = white ? static_cast<uint8_t>(a[i] | m) : static_cast<uint8_t>(a[i] & ~m);
    }
}

// Column X - 1 (or X + 1) against X - 2 (X + 2) for rows y0 ... y1.
void CleanColumnAgainst(TDIB& dib, int32_t near, int32_t far, int32_t y0, int32_t y1) {
    y0 = std::max(y0, 0);
    y1 = std::min(y1, dib.Height() - 1);
    const bool black = dib.BlackIndex() > 0, white = dib.WhiteIndex() > 0;
    for (int32_t y = y0; y <= y1; ++y) {
        uint8_t* row = dib.Rows[static_cast<size_t>(y)];
        if (BitAt(row, near) == black && BitAt(row, far) != black) PutBit(row, near, white);
    }
}

void PaintLines(TDIB& dib, const std::vector<detail::LineSeg>& lines, bool horizontal, bool cleanBorders, bool reconnect) {
    const int32_t white = dib.WhiteIndex();
    for (const detail::LineSeg& s : lines) {
        const TRect l = detail::ToRect(s, horizontal);
        detail::FillRectClipped(dib, l, white);
        if (horizontal) {
            if (cleanBorders) {
                dib.CleanAbove(l.Left, l.Top, l.Right);
                dib.CleanBelow(l.Left, l.Bottom, l.Right);
            }
            if (reconnect) dib.ReconnectHorizontal(l);
        } else {
            if (cleanBorders) {
                dib.CleanLeft(l.Left, l.Top, l.Bottom);
                dib.CleanRight(l.Right, l.Top, l.Bottom);
            }
            if (reconnect) dib.ReconnectVertical(l);
        }
    }
}

}  // namespace

void TDIB::CleanAbove(int32_t X1, int32_t Y, int32_t X2) {
    if (Y - 2 >= 0 && Y - 1 < Height()) CleanRowAgainst(*this, Y - 1, Y - 2, X1, X2);
}

void TDIB::CleanBelow(int32_t X1, int32_t Y, int32_t X2) {
    if (Y + 2 < Height() && Y + 1 >= 0) CleanRowAgainst(*this, Y + 1, Y + 2, X1, X2);
}

void TDIB::CleanLeft(int32_t X, int32_t Y1, int32_t Y2) {
    if (X - 2 >= 0 && X - 1 < Width()) CleanColumnAgainst(*this, X - 1, X - 2, Y1, Y2);
}

void TDIB::CleanRight(int32_t X, int32_t Y1, int32_t Y2) {
    if (X + 2 < Width() && X + 1 >= 0) CleanColumnAgainst(*this, X + 1, X + 2, Y1, Y2);
}

void TDIB::ReconnectHorizontal(const TRect& L) {
    if (L.Bottom + 2 >= Height() || L.Top - 2 < 0) return;
    const int32_t x0 = std::max(L.Left, 0), x1 = std::min(L.Right, Width() - 1);
    if (x0 > x1) return;
    const uint8_t flip = BlackIndex() > 0 ? 0x00 : 0xFF;
    const bool black = BlackIndex() > 0;
    const uint8_t* a2 = Rows[static_cast<size_t>(L.Top - 2)];
    const uint8_t* a1 = Rows[static_cast<size_t>(L.Top - 1)];
    const uint8_t* b1 = Rows[static_cast<size_t>(L.Bottom + 1)];
    const uint8_t* b2 = Rows[static_cast<size_t>(L.Bottom + 2)];
    // The rows tested lie outside the rows redrawn, so every column can be decided first.
    std::vector<uint8_t> mask(static_cast<size_t>((x1 >> 3) + 1), 0);
    bool any = false;
    for (int32_t i = x0 >> 3; i <= (x1 >> 3); ++i) {
        mask[static_cast<size_t>(i)] = static_cast<uint8_t>((a2[i] ^ flip) & (a1[i] ^ flip) & (b1[i] ^ flip) &
                                                            (b2[i] ^ flip) & SpanMask(i, x0, x1));
        any |= mask[static_cast<size_t>(i)] != 0;
    }
    if (!any) return;
    for (int32_t y = std::max(L.Top, 0); y <= L.Bottom; ++y) {
        uint8_t* row = Rows[static_cast<size_t>(y)];
        for (int32_t i = x0 >> 3; i <= (x1 >> 3); ++i) {
            const uint8_t m = mask[static_cast<size_t>(i)];
            row[i] = black ? static_cast<uint8_t>(row[i] | m) : static_cast<uint8_t>(row[i] & ~m);
        }
    }
}

void TDIB::ReconnectVertical(const TRect& L) {
    if (L.Right + 2 >= Width() || L.Left - 2 < 0 || L.Bottom < L.Top) return;
    if (L.Left > L.Right) return;
    const bool black = BlackIndex() > 0;
    const int32_t y0 = std::max(L.Top, 0), y1 = std::min(L.Bottom, Height() - 1);
    for (int32_t y = y0; y <= y1; ++y) {
        uint8_t* row = Rows[static_cast<size_t>(y)];
        if (BitAt(row, L.Left - 1) == black && BitAt(row, L.Right + 1) == black && BitAt(row, L.Left - 2) == black &&
            BitAt(row, L.Right + 2) == black)
            detail::FillSpan1(row, L.Left, L.Right, black);
    }
}

int32_t TDIB::RemoveHorizontalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, bool CleanBorders,
                                    bool Reconnect) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    const std::vector<detail::LineSeg> lines = detail::FindLineSegs(*this, true, MinLength, MaxHoles, MinRatio);
    PaintLines(*this, lines, true, CleanBorders, Reconnect);
    return static_cast<int32_t>(lines.size());
}

int32_t TDIB::RemoveVerticalLines(int32_t MinLength, int32_t MaxHoles, double MinRatio, bool CleanBorders,
                                  bool Reconnect) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    const std::vector<detail::LineSeg> lines = detail::FindLineSegs(*this, false, MinLength, MaxHoles, MinRatio);
    PaintLines(*this, lines, false, CleanBorders, Reconnect);
    return static_cast<int32_t>(lines.size());
}

int32_t TDIB::RemoveLines(int32_t MinHorzLength, int32_t MaxHorzHoles, double MinHorzRatio, int32_t MinVertLength,
                          int32_t MaxVertHoles, double MinVertRatio, bool CleanBorders, bool Reconnect) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1);
    // Both searches on the unchanged page, then the painting.
    const std::vector<detail::LineSeg> h = detail::FindLineSegs(*this, true, MinHorzLength, MaxHorzHoles, MinHorzRatio);
    const std::vector<detail::LineSeg> v = detail::FindLineSegs(*this, false, MinVertLength, MaxVertHoles, MinVertRatio);
    PaintLines(*this, h, true, CleanBorders, Reconnect);
    PaintLines(*this, v, false, CleanBorders, Reconnect);
    return static_cast<int32_t>(v.size() + h.size());
}

}  // namespace qil
