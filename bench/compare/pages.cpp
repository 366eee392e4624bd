#include "pages.h"

#include <algorithm>

#include "../../tests/cleanup/newspaper_page.h"

namespace qil::compare {

namespace {

struct Lcg {
    uint32_t s;
    uint32_t Next() { return (s = s * 1664525u + 1013904223u) >> 8; }
    int32_t Between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Next() % uint32_t(hi - lo + 1)); }
};

constexpr int32_t kBilevelW = 2528, kBilevelH = 3300;
constexpr int32_t kGrayW = 2480, kGrayH = 3508;

// Drop of a 1 degree line over the page width: Round(sin(1 degree) * 2528) = 44 rows.
int32_t Drop(int32_t x) { return x * 44 / kBilevelW; }

class Pen {
public:
    explicit Pen(TDIB& page) : page_(page), black_(page.BlackIndex()) {}
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        x0 = std::max(x0, 0), y0 = std::max(y0, 0);
        x1 = std::min(x1, page_.Width() - 1), y1 = std::min(y1, page_.Height() - 1);
        if (x0 <= x1 && y0 <= y1) page_.PaintRect(TRect{x0, y0, x1, y1}, black_);
    }
    // A horizontal band of the given thickness that falls by 1 degree, drawn in steps.
    void TiltedBar(int32_t x0, int32_t x1, int32_t y, int32_t thickness) {
        for (int32_t x = x0; x <= x1;) {
            const int32_t d = Drop(x);
            int32_t end = x;
            while (end < x1 && Drop(end + 1) == d) ++end;
            Fill(x, y + d, end, y + d + thickness - 1);
            x = end + 1;
        }
    }

private:
    TDIB& page_;
    int32_t black_;
};

void DrawText(Pen& pen, Lcg& rng, int32_t left, int32_t right, int32_t top, int32_t bottom) {
    for (int32_t line = top + 30; line + 12 < bottom; line += 42) {
        int32_t x = left;
        while (x < right) {
            const int32_t base = line + Drop(x);
            const int32_t w = rng.Between(12, 20), kind = rng.Between(0, 9);
            const int32_t top = base - (kind < 3 ? 30 : 20);
            switch (kind) {
                case 0: case 3:  // stem and bowl
                    pen.Fill(x, top, x + 2, base);
                    pen.Fill(x, base - 12, x + w, base - 10);
                    pen.Fill(x + w - 2, base - 12, x + w, base);
                    pen.Fill(x, base - 2, x + w, base);
                    break;
                case 1: case 4:  // two stems and a bar
                    pen.Fill(x, top, x + 2, base);
                    pen.Fill(x + w - 2, top, x + w, base);
                    pen.Fill(x, top, x + w, top + 2);
                    break;
                case 2:  // "i": a stem and a separate dot
                    pen.Fill(x + 4, base - 20, x + 6, base);
                    pen.Fill(x + 4, base - 28, x + 6, base - 25);
                    break;
                case 5:  // ring
                    pen.Fill(x, top, x + w, top + 2);
                    pen.Fill(x, base - 2, x + w, base);
                    pen.Fill(x, top, x + 2, base);
                    pen.Fill(x + w - 2, top, x + w, base);
                    break;
                case 6:  // comma or full stop
                    pen.Fill(x + 3, base - 3, x + 5, base + rng.Between(0, 4));
                    break;
                default:  // diagonal stroke
                    for (int32_t k = 0; k <= 20; ++k) pen.Fill(x + k * w / 20, base - k, x + k * w / 20 + 2, base - k);
                    break;
            }
            x += w + rng.Between(4, 8);
            if (rng.Between(0, 6) == 0) x += 14;  // word gap
        }
    }
}

void DrawSpecks(Pen& pen, Lcg& rng, int32_t count, int32_t w, int32_t h) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x = rng.Between(0, w - 8), y = rng.Between(0, h - 8), s = rng.Between(0, 2);
        pen.Fill(x, y, x + s, y + rng.Between(0, 2));
    }
}

std::unique_ptr<TDIB> WhiteBilevel(int32_t w, int32_t h) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, 300, 300);
    d->FillWhite();
    return d;
}

}  // namespace

std::unique_ptr<TDIB> TextPage(uint32_t seed) {
    auto d = WhiteBilevel(kBilevelW, kBilevelH);
    Pen pen(*d);
    Lcg rng{seed * 2654435761u + 12345};
    DrawText(pen, rng, 150, kBilevelW - 180, 150, kBilevelH - 150);
    DrawSpecks(pen, rng, 8000, kBilevelW, kBilevelH);
    return d;
}

std::unique_ptr<TDIB> NewspaperPage() {
    auto d = std::make_unique<TDIB>();
    testpage::DrawNewspaperPage(*d, kGrayW, kGrayH, 300);
    return d;
}

std::unique_ptr<TDIB> RuledFormPage() {
    auto d = WhiteBilevel(kBilevelW, kBilevelH);
    Pen pen(*d);
    Lcg rng{77};
    const int32_t left = 150, right = kBilevelW - 150, top = 300, bottom = kBilevelH - 300;
    for (int32_t y = top; y <= bottom; y += 120) pen.Fill(left, y, right, y + 2);
    for (int32_t x = left; x <= right; x += 444) pen.Fill(x, top, x + 2, bottom);
    for (int32_t y = top; y + 120 <= bottom; y += 120) {
        for (int32_t x = left; x + 444 <= right; x += 444) {
            // Two short text lines per cell, not tilted.
            for (int32_t line = y + 50; line < y + 110; line += 42) {
                for (int32_t gx = x + 15; gx + 20 < x + 430; gx += rng.Between(18, 28)) {
                    const int32_t w = rng.Between(10, 16);
                    pen.Fill(gx, line - 24, gx + 2, line);
                    pen.Fill(gx, line - 2, gx + w, line);
                    if (rng.Between(0, 1)) pen.Fill(gx + w - 2, line - 16, gx + w, line);
                }
            }
        }
    }
    return d;
}

std::unique_ptr<TDIB> ScanPage(uint32_t seed) {
    auto d = WhiteBilevel(kBilevelW, kBilevelH);
    Pen pen(*d);
    Lcg rng{seed * 2654435761u + 999};
    DrawText(pen, rng, 220, kBilevelW - 200, 300, 1500);
    pen.TiltedBar(220, kBilevelW - 200, 1560, 4);  // a rule between the paragraphs
    DrawText(pen, rng, 220, kBilevelW - 200, 1600, 2700);
    for (int32_t y = 2800; y <= 3100; y += 100) pen.TiltedBar(220, kBilevelW - 200, y, 3);  // form lines
    DrawSpecks(pen, rng, 3000, kBilevelW, kBilevelH);
    pen.Fill(0, 0, 70 + rng.Between(0, 20), kBilevelH - 1);                     // left scanner border
    pen.Fill(0, kBilevelH - 60 - rng.Between(0, 20), kBilevelW - 1, kBilevelH - 1);  // bottom border
    return d;
}

std::unique_ptr<TDIB> GrayScanPage() {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(kGrayW, kGrayH, fmt8Bit, 300, 300);
    Lcg rng{1};
    for (int32_t y = 0; y < kGrayH; ++y) {
        uint8_t* row = d->Rows[y];
        for (int32_t x = 0; x < kGrayW; ++x) {
            int32_t v = 215 - (x + y) / 200 + static_cast<int32_t>(rng.Next() % 17) - 8;
            const bool textLine = (y % 60) >= 20 && (y % 60) < 44 && x > 200 && x < 2280;
            if (textLine && ((x / 7 + y / 5) % 5 == 0 || (x % 37) < 3)) v = 30 + static_cast<int32_t>(rng.Next() % 40);
            if (y > 2000 && y < 2800 && x > 400 && x < 1600)
                v = 40 + (x - 400) * 180 / 1200 + static_cast<int32_t>(rng.Next() % 21) - 10;
            row[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return d;
}

std::unique_ptr<TDIB> ColorScanPage() {
    auto gray = GrayScanPage();
    auto d = std::make_unique<TDIB>();
    d->CreateNew(kGrayW, kGrayH, fmt24Bit, 300, 300);
    for (int32_t y = 0; y < kGrayH; ++y) {
        const uint8_t* g = gray->Rows[y];
        uint8_t* row = d->Rows[y];
        for (int32_t x = 0; x < kGrayW; ++x) {
            int32_t b = g[x] - 6, gr = g[x], r = g[x] + 4;  // slightly warm paper
            const bool stamp = (x - 1900) * (x - 1900) + (y - 600) * (y - 600) < 250 * 250 &&
                               (x - 1900) * (x - 1900) + (y - 600) * (y - 600) > 220 * 220;
            if (stamp) b = 40, gr = 40, r = 200;
            if (y > 3000 && y < 3400 && y % 50 < 3 && x > 200 && x < 2280) b = 200, gr = 90, r = 40;
            row[3 * x] = static_cast<uint8_t>(std::clamp(b, 0, 255));
            row[3 * x + 1] = static_cast<uint8_t>(std::clamp(gr, 0, 255));
            row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
        }
    }
    return d;
}

}  // namespace qil::compare
