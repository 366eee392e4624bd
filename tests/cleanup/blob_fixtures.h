// Small bilevel pages drawn in code, and a literal breadth-first tracer to compare the
// component labelling against.
#pragma once

#include <cstdint>
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cleanup/blobs.h"
#include "dib/dib.h"
#include "platform/numeric.h"

namespace qil::test {

// A 1-bit page from text rows: '#' is black, anything else white. The color table is the
// standard (black, white) one unless whiteBlack is set, which makes it (white, black).
inline std::unique_ptr<TDIB> MakePage(const std::vector<std::string>& rows, bool whiteBlack = false,
                                      int32_t dpi = 300) {
    auto d = std::make_unique<TDIB>();
    const int32_t h = static_cast<int32_t>(rows.size());
    const int32_t w = h ? static_cast<int32_t>(rows[0].size()) : 0;
    d->CreateNew(w, h, fmt1Bit, dpi, dpi);
    if (whiteBlack) {
        d->SetPaletteEntry(0, 0x00FFFFFF);
        d->SetPaletteEntry(1, 0x00000000);
    }
    const int32_t black = d->BlackIndex(), white = d->WhiteIndex();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) d->SetPixel(x, y, rows[size_t(y)][size_t(x)] == '#' ? black : white);
    return d;
}

// A blank (all white) 1-bit page.
inline std::unique_ptr<TDIB> BlankPage(int32_t w, int32_t h, int32_t dpi = 300) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, dpi, dpi);
    const int32_t white = d->WhiteIndex();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) d->SetPixel(x, y, white);
    return d;
}

inline void Blacken(TDIB& d, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    d.PaintRect(TRect{x0, y0, x1, y1}, d.BlackIndex());
}

// The page as text rows ('#' black, '.' white).
inline std::vector<std::string> Dump(TDIB& d) {
    std::vector<std::string> out;
    const int32_t black = d.BlackIndex();
    for (int32_t y = 0; y < d.Height(); ++y) {
        std::string row;
        for (int32_t x = 0; x < d.Width(); ++x) row += d.GetPixel(x, y) == black ? '#' : '.';
        out.push_back(row);
    }
    return out;
}

// A random page with the given black probability.
inline std::unique_ptr<TDIB> RandomPage(int32_t w, int32_t h, double p, uint32_t seed) {
    auto d = BlankPage(w, h);
    std::mt19937 rng(seed);
    std::bernoulli_distribution bit(p);
    const int32_t black = d->BlackIndex();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (bit(rng)) d->SetPixel(x, y, black);
    return d;
}

// The tracer exactly as first described: column-major seeds, a point queue grown
// breadth-first, a visited mask image. Appends (rect, N, centroid) per component with no
// filtering.
inline void ReferenceTrace(TDIB& img, bool eight, TBlobList& list) {
    const int32_t w = img.Width(), h = img.Height(), black = img.BlackIndex();
    TDIB mask;
    mask.CreateNew(w, h, fmt1Bit, img.XResolution(), img.YResolution());
    mask.Fill(0);
    for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) {
            if (mask.GetPixel(x, y) != 0 || img.GetPixel(x, y) != black) continue;
            TPointList pts;
            pts.Add(x, y, 0);
            mask.SetPixel(x, y, 1);
            auto visit = [&](int32_t i, int32_t j) {
                if (mask.GetPixel(i, j) == 0 && img.GetPixel(i, j) == black) {
                    pts.Add(i, j, 0);
                    mask.SetPixel(i, j, 1);
                }
            };
            for (int32_t r = 0; r < pts.Count(); ++r) {
                TTracePoint& p = pts.Items(r);
                if (p.Expanded) continue;
                p.Expanded = 1;
                const int32_t px = p.X, py = p.Y;
                if (eight) {
                    for (int32_t i = std::max(0, px - 1); i <= std::min(px + 1, w - 1); ++i)
                        for (int32_t j = std::max(0, py - 1); j <= std::min(py + 1, h - 1); ++j) visit(i, j);
                } else {
                    visit(px, py);
                    visit(std::max(0, px - 1), py);
                    visit(std::min(px + 1, w - 1), py);
                    visit(px, std::max(0, py - 1));
                    visit(px, std::min(py + 1, h - 1));
                }
            }
            const int32_t n = pts.Count();
            TRect r{2147483647, 2147483647, 0, 0};
            int64_t sx = 0, sy = 0;
            for (int32_t k = 0; k < n; ++k) {
                const TTracePoint& p = pts.Items(k);
                r.Left = std::min(r.Left, p.X);
                r.Top = std::min(r.Top, p.Y);
                r.Right = std::max(r.Right, p.X);
                r.Bottom = std::max(r.Bottom, p.Y);
                sx += p.X;
                sy += p.Y;
            }
            list.AddBlob(r, n, static_cast<int32_t>(Round(static_cast<long double>(sx) / n)),
                         static_cast<int32_t>(Round(static_cast<long double>(sy) / n)));
        }
}

inline std::vector<TBlob> Records(const TBlobList& list) {
    std::vector<TBlob> out;
    for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Items(i));
    return out;
}

}  // namespace qil::test
