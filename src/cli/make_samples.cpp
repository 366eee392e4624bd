// Draws the bundled sample pages with the library itself:
//   letter-bilevel.tif  1 bit, CCITT G4: text columns, a ruled table, a halftone picture,
//                       specks, a slight skew and a dark scanner border
//   report-gray.tif     8-bit gray: text, a continuous-tone picture, a slight skew, a dark border
//   invoice-color.tif   24-bit color: text, a table and a red stamp
// Usage: qil-make-samples DIRECTORY
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <string>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

constexpr int32_t kDpi = 150;
constexpr int32_t kWidth = 1240;   // A4 at 150 dpi
constexpr int32_t kHeight = 1754;

// A small deterministic generator, so the samples are the same on every machine.
struct TLcg {
    uint32_t State;
    uint32_t Next() { return State = State * 1664525u + 1013904223u; }
    int32_t Below(int32_t n) { return static_cast<int32_t>((Next() >> 8) % static_cast<uint32_t>(n)); }
};

using TInk = std::function<void(int32_t x, int32_t y)>;

void Box(int32_t l, int32_t t, int32_t r, int32_t b, const TInk& ink) {
    for (int32_t y = std::max(t, 0); y <= std::min(b, kHeight - 1); ++y)
        for (int32_t x = std::max(l, 0); x <= std::min(r, kWidth - 1); ++x) ink(x, y);
}

// Lines of glyph-like blocks: stems, bowls and gaps of a 10-pixel x-height, words of 2-9 glyphs.
void TextColumn(int32_t left, int32_t top, int32_t right, int32_t lines, TLcg& rng, const TInk& ink) {
    for (int32_t line = 0; line < lines; ++line) {
        int32_t base = top + line * 22;
        int32_t x = left;
        while (x < right - 40) {
            int32_t glyphs = 2 + rng.Below(8);
            for (int32_t g = 0; g < glyphs && x < right - 10; ++g) {
                int32_t w = 6 + rng.Below(4);
                bool ascender = rng.Below(4) == 0, descender = rng.Below(6) == 0;
                int32_t t = base + (ascender ? -4 : 0), b = base + 11 + (descender ? 4 : 0);
                Box(x, t, x + 1, b, ink);                          // stem
                Box(x, base, x + w, base + 1, ink);                // top of the bowl
                Box(x, base + 10, x + w, base + 11, ink);          // bottom of the bowl
                if (rng.Below(2)) Box(x + w - 1, base, x + w, base + 11, ink);
                x += w + 3;
            }
            x += 9;
        }
    }
}

void Table(int32_t l, int32_t t, int32_t r, int32_t b, int32_t rows, int32_t cols, TLcg& rng, const TInk& ink) {
    for (int32_t i = 0; i <= rows; ++i) {
        int32_t y = t + (b - t) * i / rows;
        Box(l, y, r, y + 1, ink);
    }
    for (int32_t j = 0; j <= cols; ++j) {
        int32_t x = l + (r - l) * j / cols;
        Box(x, t, x + 1, b, ink);
    }
    for (int32_t i = 0; i < rows; ++i)
        for (int32_t j = 0; j < cols; ++j) {
            int32_t cl = l + (r - l) * j / cols + 8, ct = t + (b - t) * i / rows + 10;
            TextColumn(cl, ct, cl + (r - l) / cols - 30, 1, rng, ink);
        }
}

// A picture: a lit sphere over a gradient, as a gray level 0 (black) ... 255 (white).
int32_t PictureLevel(int32_t x, int32_t y, int32_t w, int32_t h) {
    double cx = w * 0.55, cy = h * 0.45, rad = std::min(w, h) * 0.35;
    double dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
    double level = 60 + 150.0 * x / w;
    if (d < rad) level = 40 + 200 * (1 - d / rad) * (0.6 + 0.4 * (-dx - dy) / (2 * rad) + 0.4);
    return std::clamp(static_cast<int32_t>(level), 0, 255);
}

void Specks(int32_t count, TLcg& rng, const TInk& ink) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t x = 60 + rng.Below(kWidth - 120), y = 60 + rng.Below(kHeight - 120), s = rng.Below(2);
        Box(x, y, x + s, y + s, ink);
    }
}

void DarkBorder(const TInk& ink) {
    Box(0, 0, 24, kHeight - 1, ink);                 // left edge of the scanner lid
    Box(0, kHeight - 30, kWidth - 1, kHeight - 1, ink);  // bottom edge
}

void MakeBilevel(const std::string& path) {
    TDIB page;
    page.CreateNew(kWidth, kHeight, fmt1Bit, kDpi, kDpi);
    page.Fill(0xFF);
    int32_t black = page.BlackIndex();
    TInk ink = [&](int32_t x, int32_t y) { page.SetPixel(x, y, black); };
    TLcg rng{7};
    Box(120, 110, 700, 134, ink);  // a heading
    TextColumn(120, 180, 600, 20, rng, ink);
    TextColumn(650, 180, 1120, 20, rng, ink);
    // A halftone picture: the picture through an ordered 4 x 4 dither.
    static const int32_t bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    for (int32_t y = 0; y < 320; ++y)
        for (int32_t x = 0; x < 420; ++x)
            if (PictureLevel(x, y, 420, 320) < (bayer[y & 3][x & 3] * 16 + 8)) ink(650 + x, 660 + y);
    TextColumn(120, 660, 600, 14, rng, ink);
    Table(120, 1060, 1120, 1500, 6, 4, rng, ink);
    TextColumn(120, 1540, 1120, 5, rng, ink);
    Specks(900, rng, ink);
    page.Rotate(true, false, 1.2, 1.2);
    DarkBorder(ink);
    page.SaveToTiffFile(path, false, tcGroup4, 16);
}

void MakeGray(const std::string& path) {
    TDIB page;
    page.CreateNew(kWidth, kHeight, fmt8Bit, kDpi, kDpi);
    page.Fill(238);  // slightly grayish paper
    TLcg rng{11};
    TInk ink = [&](int32_t x, int32_t y) { page.SetPixel(x, y, 30 + rng.Below(40)); };
    Box(120, 110, 800, 136, ink);
    TextColumn(120, 180, 1120, 18, rng, ink);
    for (int32_t y = 0; y < 400; ++y)
        for (int32_t x = 0; x < 560; ++x) page.SetPixel(340 + x, 620 + y, PictureLevel(x, y, 560, 400));
    TextColumn(120, 1080, 1120, 24, rng, ink);
    // Uneven lighting: a little darker toward the right edge.
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = kWidth - 200; x < kWidth; ++x) {
            int32_t v = page.GetPixel(x, y) - (x - (kWidth - 200)) / 8;
            page.SetPixel(x, y, std::max(v, 0));
        }
    page.Rotate(true, true, -0.8, -0.8);
    TInk dark = [&](int32_t x, int32_t y) { page.SetPixel(x, y, 12 + rng.Below(20)); };
    DarkBorder(dark);
    page.SaveToTiffFile(path, false, tcDeflate, 16);
}

void MakeColor(const std::string& path) {
    TDIB page;
    page.CreateNew(kWidth, kHeight, fmt24Bit, kDpi, kDpi);
    page.Fill(0xFF);
    TLcg rng{13};
    TInk ink = [&](int32_t x, int32_t y) { page.SetPixelColor(x, y, 0x202028); };
    Box(120, 110, 640, 136, ink);
    TextColumn(120, 180, 1120, 12, rng, ink);
    Table(120, 520, 1120, 980, 5, 3, rng, ink);
    TextColumn(120, 1020, 1120, 10, rng, ink);
    // The red stamp: a ring with a line of text inside, over the table's corner.
    double cx = 900, cy = 900, r1 = 150, r2 = 138;
    TInk red = [&](int32_t x, int32_t y) { page.SetPixelColor(x, y, 0xD82020); };
    for (int32_t y = static_cast<int32_t>(cy - r1); y <= cy + r1; ++y)
        for (int32_t x = static_cast<int32_t>(cx - r1); x <= cx + r1; ++x) {
            double d = std::hypot(x - cx, y - cy);
            if (d <= r1 && d >= r2) red(x, y);
        }
    TextColumn(790, 880, 1010, 2, rng, red);
    page.SaveToTiffFile(path, false, tcJpeg, 16);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: qil-make-samples DIRECTORY\n");
        return 2;
    }
    std::string dir = argv[1];
    try {
        MakeBilevel(dir + "/letter-bilevel.tif");
        MakeGray(dir + "/report-gray.tif");
        MakeColor(dir + "/invoice-color.tif");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qil-make-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
