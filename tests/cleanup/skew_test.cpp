#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>

#include "dib/dib.h"
#include "platform/numeric.h"

using namespace qil;

namespace {

// A white 1-bit page with black text-like lines: line i starts at row top + i * pitch at the
// left edge and drops Drop rows over the width (negative Drop rises).
std::unique_ptr<TDIB> LinedPage(int32_t w, int32_t h, int32_t drop, int32_t pitch, int32_t thickness, int32_t dpi = 300) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, dpi, dpi);
    d->Fill(0xFF);
    for (int32_t top = 40; top + 40 < h; top += pitch)
        for (int32_t x = 0; x < w; ++x) {
            int32_t y0 = top + static_cast<int32_t>(static_cast<int64_t>(drop) * x / w);
            for (int32_t k = 0; k < thickness; ++k)
                if (y0 + k >= 0 && y0 + k < h && (x / 7) % 5 != 4) d->SetPixel(x, y0 + k, 0);
        }
    return d;
}

// The estimator one segment at a time through CountSetBits, as the algorithm is described.
double ReferenceSkew1(TDIB& d, int32_t step, double angle, double accuracy) {
    const long double pi = std::numbers::pi_v<long double>;
    int32_t w = d.Width(), h = d.Height();
    if (std::fabs(angle) < 0.1) return 0;
    int64_t maxShift = Round(std::sin(angle * pi / 180) * w);
    if (maxShift >= h) maxShift = h;
    if (accuracy < 0) accuracy = 0.1;
    int64_t shiftStep = maxShift / Round(angle / static_cast<long double>(accuracy));
    if (shiftStep == 0) shiftStep = 1;
    int64_t band = step > 0 ? step : Round(d.YResolution() / 2.54L / 20);
    if (band < 2) band = 2;
    std::vector<int32_t> left(h), right(h);
    double best = 0;
    int64_t bestShift = 0;
    for (int64_t s = 0; s <= maxShift; s += shiftStep) {
        int32_t seg = static_cast<int32_t>(w / (s + 1));
        int64_t lines = (h - s) / band;
        if (lines <= 0) continue;
        for (int64_t i = 0; i < lines; ++i) {
            int32_t l = 0, r = 0;
            for (int64_t k = 0; k <= s; ++k) {
                l += d.CountSetBits(static_cast<int32_t>(k * seg), static_cast<int32_t>(i * band + k), seg);
                r += d.CountSetBits(static_cast<int32_t>(w - k * seg - seg), static_cast<int32_t>(i * band + k), seg);
            }
            if (d.BlackIndex() == 0) {
                l = w - l;
                r = w - r;
            }
            left[i] = l;
            right[i] = r;
        }
        int64_t sl = TDIB::SumSquaredDeviation(left, static_cast<int32_t>(lines));
        if (sl > best) best = static_cast<double>(sl), bestShift = -s;
        int64_t sr = TDIB::SumSquaredDeviation(right, static_cast<int32_t>(lines));
        if (sr > best) best = static_cast<double>(sr), bestShift = s;
    }
    long double q = static_cast<long double>(bestShift) / w;
    return static_cast<double>(std::atan(q / std::sqrt(1 - q * q)) * 180 / pi);
}

std::unique_ptr<TDIB> As8(TDIB& page1) {
    std::unique_ptr<TDIB> d(page1.Duplicate());
    d->ConvertToFormat(fmt8Bit);
    return d;
}

}  // namespace

TEST(SkewCounting, CountSetBitsMatchesPixelCount) {
    TDIB d;
    d.CreateNew(77, 2, fmt1Bit, 300, 300);
    std::mt19937 rng(4);
    for (int32_t i = 0; i < d.Stride; ++i) d.Rows[1][i] = static_cast<uint8_t>(rng());
    for (int32_t x = 0; x < 77; ++x)
        for (int32_t c = 0; x + c <= 77; ++c) {
            int32_t n = 0;
            for (int32_t k = x; k < x + c; ++k) n += d.GetPixel(k, 1);
            ASSERT_EQ(d.CountSetBits(x, 1, c), n) << x << " " << c;
        }
}

TEST(SkewCounting, CountAboveAndDeviation) {
    TDIB g;
    g.CreateNew(6, 1, fmt8Bit, 300, 300);
    const uint8_t v[6] = {10, 100, 101, 200, 100, 255};
    for (int i = 0; i < 6; ++i) g.Rows[0][i] = v[i];
    EXPECT_EQ(g.CountAbove8(0, 0, 100, 6), 3);
    EXPECT_EQ(g.CountAbove8(1, 0, 100, 2), 1);
    TDIB c;
    c.CreateNew(3, 1, fmt24Bit, 300, 300);
    // Blue first: (B, G, R) = (255, 0, 0) weighs 76.5 -> 76; (0, 0, 255) weighs 28.05 -> 28.
    const uint8_t p[9] = {255, 0, 0, 0, 0, 255, 100, 100, 100};
    std::memcpy(c.Rows[0], p, 9);
    EXPECT_EQ(c.CountAbove24(0, 0, 75, 3), 2);
    EXPECT_EQ(c.CountAbove24(0, 0, 76, 3), 1);
    EXPECT_EQ(c.CountAbove24(1, 0, 27, 1), 1);
    EXPECT_EQ(c.CountAbove24(1, 0, 28, 1), 0);
    // m = 10 div 4 = 2: (1-2)^2 + (2-2)^2 + (3-2)^2 + (4-2)^2 = 6.
    EXPECT_EQ(TDIB::SumSquaredDeviation({1, 2, 3, 4, 99}, 4), 6);
    // Sums past 32 bits stay exact.
    std::vector<int32_t> big(1000, 0);
    for (int i = 0; i < 1000; i += 2) big[i] = 100000;
    EXPECT_EQ(TDIB::SumSquaredDeviation(big, 1000), int64_t(1000) * 50000 * 50000);
}

TEST(SkewEstimate, SmallRangeAndFourBitsAnswerZero) {
    auto d = LinedPage(400, 300, 12, 30, 3);
    EXPECT_EQ(d->EstimateSkew(15, 0.05, 0.1), 0.0);
    EXPECT_EQ(d->EstimateSkew(15, -5, 0.1), 0.0);
    TDIB four;
    four.CreateNew(40, 40, fmt4Bit, 300, 300);
    EXPECT_EQ(four.EstimateSkew(15, 5, 0.1), 0.0);
}

TEST(SkewEstimate, HorizontalLinesGiveZero) {
    auto d = LinedPage(600, 500, 0, 24, 4);
    EXPECT_EQ(d->EstimateSkew(0, 5, 0.1), 0.0);
}

TEST(SkewEstimate, FallingLinesOn1000WidePage) {
    auto d = LinedPage(1000, 800, 17, 30, 3);
    double a = d->EstimateSkew(1, 5, 0.1);
    EXPECT_EQ(a, ReferenceSkew1(*d, 1, 5, 0.1));
    // The staircase of the drawn lines is found within a row or two of its 17-row drop.
    EXPECT_NEAR(a, -0.974, 0.12);
    long double shift = std::sin(static_cast<long double>(a) * std::numbers::pi_v<long double> / 180) * 1000;
    EXPECT_NEAR(static_cast<double>(shift), std::round(static_cast<double>(shift)), 1e-9);  // arcsin of a whole shift
    EXPECT_EQ(d->EstimateSkew(1, 5, -1), a);  // Accuracy -1 behaves like 0.1
    auto up = LinedPage(1000, 800, -17, 30, 3);
    EXPECT_DOUBLE_EQ(up->EstimateSkew(1, 5, 0.1), -a);
}

TEST(SkewEstimate, MatchesSegmentBySegmentSearch) {
    struct Case {
        int32_t w, h, drop, pitch, step, dpi;
        double angle, accuracy;
    } cases[] = {
        {700, 500, 23, 28, 15, 300, 5, 0.1}, {700, 500, -40, 35, 0, 200, 10, 0.1}, {523, 411, 9, 19, 3, 300, 3, 0.25},
        {300, 900, 5, 40, 0, 72, 45, 0.5},   {150, 60, 40, 15, 2, 300, 45, 0.1},
        // Widths of whole 32-bit words: segments end on the last byte of a row.
        {640, 400, 17, 25, 4, 300, 5, 0.1},  {256, 300, -12, 21, 3, 300, 8, 0.2},
        // Every drop from 0 to 212 rows: more slopes than one pass over the rows takes.
        {300, 900, 7, 30, 3, 300, 45, 0.2},
    };
    for (const auto& c : cases) {
        auto d = LinedPage(c.w, c.h, c.drop, c.pitch, 3, c.dpi);
        EXPECT_EQ(d->EstimateSkew(c.step, c.angle, c.accuracy), ReferenceSkew1(*d, c.step, c.angle, c.accuracy)) << c.w << " " << c.drop;
    }
}

TEST(SkewEstimate, WhiteFirstTableAndOtherFormatsAgree) {
    auto d = LinedPage(640, 480, -21, 26, 3);
    double a = d->EstimateSkew(5, 5, 0.1);
    EXPECT_LT(a, 0.0 + 10);
    EXPECT_NE(a, 0.0);
    // The same picture with a (white, black) table: set bits are now the dark pixels.
    std::unique_ptr<TDIB> swapped(d->Duplicate());
    swapped->Invert();
    swapped->SetPaletteEntry(0, 0x00FFFFFF);
    swapped->SetPaletteEntry(1, 0);
    EXPECT_EQ(swapped->BlackIndex(), 1);
    EXPECT_EQ(swapped->EstimateSkew(5, 5, 0.1), a);
    auto gray = As8(*d);
    EXPECT_EQ(gray->EstimateSkew(5, 5, 0.1), a);
    std::unique_ptr<TDIB> color(gray->Duplicate());
    color->ConvertToFormat(fmt24Bit);
    EXPECT_EQ(color->EstimateSkew(5, 5, 0.1), a);
}

TEST(SkewEstimate, BandFollowsResolution) {
    // Step 0 at 200 dpi is Band 4, Step 1 is Band 2: both equal the explicit bands.
    auto d = LinedPage(500, 400, 11, 22, 2, 200);
    EXPECT_EQ(d->EstimateSkew(0, 5, 0.1), d->EstimateSkew(4, 5, 0.1));
    EXPECT_EQ(d->EstimateSkew(1, 5, 0.1), d->EstimateSkew(2, 5, 0.1));
}

TEST(SkewEstimate, DegenerateAccuracies) {
    auto d = LinedPage(800, 600, 30, 25, 3);
    // Accuracy 0: the finest search (every row of drop) -> the same as a tiny accuracy.
    EXPECT_EQ(d->EstimateSkew(3, 5, 0.0), d->EstimateSkew(3, 5, 1e-6));
    EXPECT_EQ(d->EstimateSkew(3, 5, 0.0), ReferenceSkew1(*d, 3, 5, 0.01));
    // An accuracy beyond twice the range leaves one candidate per side: MaxShift.
    long double full = std::asin(static_cast<long double>(Round(std::sin(5 * std::numbers::pi_v<long double> / 180) * 800)) / 800) * 180 /
                       std::numbers::pi_v<long double>;
    double coarse = d->EstimateSkew(3, 5, 20);
    EXPECT_TRUE(coarse == 0.0 || std::fabs(coarse) == static_cast<double>(full)) << coarse;
    // Empty images answer 0.
    TDIB empty;
    empty.CreateNew(0, 0, fmt1Bit, 300, 300);
    EXPECT_EQ(empty.EstimateSkew(0, 5, 0.1), 0.0);
}
