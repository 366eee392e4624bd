// A drawn newspaper-like bilevel page for the block detection tests and benchmark: columns of
// text lines made of simple glyphs (stems and bars, letter gaps and word gaps) and halftone
// pictures (dots of varying size on a regular screen). Everything is deterministic.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dib/dib.h"

namespace qil::testpage {

struct Rect {
    int32_t Left, Top, Right, Bottom;  // inclusive
};

class Painter {
public:
    explicit Painter(TDIB& page, uint32_t seed) : page_(page), state_(seed * 2654435761u + 1) {}

    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int32_t Between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Next() % uint32_t(hi - lo + 1)); }

    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        const int32_t black = page_.BlackIndex();
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, page_.Width() - 1);
        y1 = std::min(y1, page_.Height() - 1);
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) page_.SetPixel(x, y, black);
    }

    // One glyph: two stems and a bar (top, middle or bottom), some with an ascender.
    void Glyph(int32_t x, int32_t baseline, int32_t w, int32_t xHeight, int32_t stroke) {
        int32_t top = baseline - xHeight + 1;
        if (Next() % 4 == 0) top -= xHeight / 3;
        Fill(x, top, x + stroke - 1, baseline);
        Fill(x + w - stroke, baseline - xHeight + 1, x + w - 1, baseline);
        int32_t bar;
        switch (Next() % 3) {
            case 0: bar = baseline - xHeight + 1; break;
            case 1: bar = baseline - xHeight / 2; break;
            default: bar = baseline - stroke + 1; break;
        }
        Fill(x, bar, x + w - 1, bar + stroke - 1);
    }

    // Lines of words within the box, one line every `period` rows.
    void TextColumn(const Rect& box, int32_t period, int32_t xHeight, int32_t stroke) {
        for (int32_t baseline = box.Top + period - period / 4; baseline <= box.Bottom; baseline += period) {
            int32_t x = box.Left;
            if (Next() % 8 == 0) x += 4 * xHeight / 3;  // paragraph indent
            int32_t end = box.Right;
            if (Next() % 10 == 0) end = box.Left + (box.Right - box.Left) / 2;  // last line of a paragraph
            for (;;) {
                int32_t letters = Between(2, 8);
                int32_t need = letters * (xHeight * 2 / 3 + xHeight / 8);
                if (x + need > end) break;
                for (int32_t l = 0; l < letters; ++l) {
                    int32_t w = Between(xHeight / 2, xHeight * 5 / 6);
                    Glyph(x, baseline, w, xHeight, stroke);
                    x += w + Between(xHeight / 10, xHeight / 6);  // letter gap
                }
                x += Between(xHeight / 2, xHeight * 3 / 4);  // word gap
            }
        }
    }

    // A halftone picture: round-ish dots on a screen of `cell` pixels, their size following a
    // smooth gray pattern.
    void Halftone(const Rect& box, int32_t cell) {
        const int32_t black = page_.BlackIndex();
        const int32_t w = box.Right - box.Left + 1, h = box.Bottom - box.Top + 1;
        for (int32_t cy = 0; cy < h; cy += cell) {
            for (int32_t cx = 0; cx < w; cx += cell) {
                // Gray 0.15 ... 0.85 varying over the picture.
                double g = 0.5 + 0.35 * ((cx * 7 % w) / double(w) - 0.5) + 0.3 * ((cy * 3 % h) / double(h) - 0.5);
                double r2 = g * cell * cell / 3.14159;
                for (int32_t dy = 0; dy < cell && cy + dy < h; ++dy)
                    for (int32_t dx = 0; dx < cell && cx + dx < w; ++dx) {
                        double ex = dx - cell / 2.0 + 0.5, ey = dy - cell / 2.0 + 0.5;
                        if (ex * ex + ey * ey <= r2) page_.SetPixel(box.Left + cx + dx, box.Top + cy + dy, black);
                    }
            }
        }
    }

private:
    TDIB& page_;
    uint32_t state_;
};

struct PageLayout {
    std::vector<Rect> Text;
    std::vector<Rect> Pictures;
};

// A page of Width x Height at `dpi`: a headline, three text columns and two pictures (one in a
// column, one across two columns). Returns where the text and the pictures were drawn.
inline PageLayout DrawNewspaperPage(TDIB& page, int32_t width, int32_t height, int32_t dpi, uint32_t seed = 1) {
    page.CreateNew(width, height, fmt1Bit, dpi, dpi);
    page.FillWhite();
    Painter p(page, seed);
    const double s = dpi / 300.0;
    auto px = [&](double v) { return static_cast<int32_t>(v * s); };
    const int32_t margin = px(150), gutter = px(60);
    const int32_t colW = (width - 2 * margin - 2 * gutter) / 3;
    PageLayout layout;
    // Headline.
    Rect head{margin, margin, width - margin - 1, margin + px(110)};
    p.TextColumn(head, px(110), px(70), px(12));
    layout.Text.push_back(head);
    const int32_t bodyTop = head.Bottom + px(60), bodyBottom = height - margin - 1;
    const int32_t pic1Bottom = bodyTop + (bodyBottom - bodyTop) / 3;
    const int32_t pic2Top = bodyTop + (bodyBottom - bodyTop) * 2 / 3;
    for (int32_t c = 0; c < 3; ++c) {
        const int32_t l = margin + c * (colW + gutter), r = l + colW - 1;
        if (c == 1) {
            Rect pic{l, bodyTop, r, pic1Bottom};
            p.Halftone(pic, px(8) < 3 ? 3 : px(8));
            layout.Pictures.push_back(pic);
            Rect t{l, pic1Bottom + px(40), r, pic2Top - px(40)};
            p.TextColumn(t, px(50), px(24), px(3) < 1 ? 1 : px(3));
            layout.Text.push_back(t);
        } else if (c == 2) {
            Rect t{l, bodyTop, r, pic2Top - px(40)};
            p.TextColumn(t, px(50), px(24), px(3) < 1 ? 1 : px(3));
            layout.Text.push_back(t);
        } else {
            Rect t{l, bodyTop, r, bodyBottom};
            p.TextColumn(t, px(50), px(24), px(3) < 1 ? 1 : px(3));
            layout.Text.push_back(t);
        }
    }
    // The second picture spans columns 2 and 3 at the bottom.
    Rect pic2{margin + colW + gutter, pic2Top, width - margin - 1, bodyBottom};
    p.Halftone(pic2, px(8) < 3 ? 3 : px(8));
    layout.Pictures.push_back(pic2);
    return layout;
}

}  // namespace qil::testpage
