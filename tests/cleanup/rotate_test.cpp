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

constexpr long double kPi = std::numbers::pi_v<long double>;

std::unique_ptr<TDIB> RandomPage(int32_t w, int32_t h, uint8_t fmt, uint32_t seed) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt, 300, 300);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < d->Stride; ++i) d->Rows[y][i] = static_cast<uint8_t>(rng());
    return d;
}

bool SameBlock(TDIB& a, TDIB& b) {
    return a.DIBSize == b.DIBSize && std::memcmp(a.Memory, b.Memory, static_cast<size_t>(a.DIBSize)) == 0;
}

long double RowFactor(double angle, int32_t h) {
    long double t = angle * kPi / 180;
    return std::fabs(static_cast<long double>(Round(std::cos(t - kPi / 2) * h))) / h;
}
long double ColFactor(double angle, int32_t w) {
    long double t = angle * kPi / 180;
    return std::fabs(static_cast<long double>(Round(std::sin(t) * w))) / w;
}

// The whole-pixel shear one pixel at a time, as the algorithm is described.
void ReferenceShear(TDIB& d, bool white, double angle) {
    if (std::fabs(angle) < 0.1) return;
    int32_t w = d.Width(), h = d.Height();
    long double rf = RowFactor(angle, h), cf = ColFactor(angle, w);
    int32_t fill = white ? d.WhiteIndex() : d.BlackIndex();
    for (int32_t t = 0; t < h; ++t) {
        int32_t n = static_cast<int32_t>(std::llabs(Round(rf * t)));
        if (angle >= 0) {
            for (int32_t k = 0; k <= w - n - 1; ++k) d.SetPixel(k, t, d.GetPixel(k + n, t));
            for (int32_t k = std::max(0, w - n); k < w; ++k) d.SetPixel(k, t, fill);
        } else {
            for (int32_t k = w - 1; k >= n; --k) d.SetPixel(k, t, d.GetPixel(k - n, t));
            for (int32_t k = 0; k < std::min(n, w); ++k) d.SetPixel(k, t, fill);
        }
    }
    for (int32_t t = 0; t < w; ++t) {
        int32_t n = static_cast<int32_t>(std::llabs(Round(cf * t)));
        if (angle >= 0) {
            for (int32_t k = h - 1; k >= n; --k) d.SetPixel(t, k, d.GetPixel(t, k - n));
            for (int32_t k = 0; k < std::min(n, h); ++k) d.SetPixel(t, k, fill);
        } else {
            for (int32_t k = 0; k <= h - n - 1; ++k) d.SetPixel(t, k, d.GetPixel(t, k + n));
            for (int32_t k = std::max(0, h - n); k < h; ++k) d.SetPixel(t, k, fill);
        }
    }
}

int32_t RefBlend(TDIB& d, int32_t a, int32_t b, long double f) {
    if (d.ImageFormat == fmt24Bit) return TDIB::BlendColors(a, b, static_cast<double>(f), static_cast<double>(1 - f));
    return static_cast<int32_t>(Round(f * a + (1 - f) * b));
}

void ReferenceInterpolated(TDIB& d, bool white, double rowAngle, double colAngle) {
    if (std::fabs(colAngle) < 0.1 && std::fabs(rowAngle) < 0.1) return;
    int32_t w = d.Width(), h = d.Height();
    long double rf = RowFactor(rowAngle, h), cf = ColFactor(colAngle, w);
    int32_t fill = white ? d.WhiteIndex() : d.BlackIndex();
    auto split = [](long double s, int32_t& j, long double& f) {
        j = static_cast<int32_t>(std::llabs(Trunc(s)));
        f = std::fabs(Frac(s));
    };
    int32_t j;
    long double f;
    if (rowAngle < 0)
        for (int32_t t = 0; t < h; ++t) {
            split(rf * t, j, f);
            if (j == 0) continue;
            for (int32_t x = w - 1; x >= j; --x) d.SetPixel(x, t, RefBlend(d, d.GetPixel(x - j, t), d.GetPixel(x - j + 1, t), f));
            for (int32_t x = 0; x < std::min(j, w); ++x) d.SetPixel(x, t, fill);
        }
    if (colAngle < 0)
        for (int32_t t = 0; t < w; ++t) {
            split(cf * t, j, f);
            if (j == 0) continue;
            for (int32_t y = 0; y <= h - j - 1; ++y) d.SetPixel(t, y, RefBlend(d, d.GetPixel(t, y + j), d.GetPixel(t, y + j - 1), f));
            for (int32_t y = std::max(0, h - j); y < h; ++y) d.SetPixel(t, y, fill);
        }
    if (rowAngle > 0)
        for (int32_t t = 0; t < h; ++t) {
            split(rf * t, j, f);
            if (j == 0) continue;
            for (int32_t x = 0; x <= w - j - 1; ++x) d.SetPixel(x, t, RefBlend(d, d.GetPixel(x + j, t), d.GetPixel(x + j - 1, t), f));
            for (int32_t x = std::max(0, w - j); x < w; ++x) d.SetPixel(x, t, fill);
        }
    if (colAngle > 0)
        for (int32_t t = 0; t < w; ++t) {
            split(cf * t, j, f);
            if (j == 0) continue;
            for (int32_t y = h - 1; y >= j; --y) d.SetPixel(t, y, RefBlend(d, d.GetPixel(t, y - j), d.GetPixel(t, y - j + 1), f));
            for (int32_t y = 0; y < std::min(j, h); ++y) d.SetPixel(t, y, fill);
        }
}

}  // namespace

TEST(Rotation, SmallAnglesLeaveThePageUntouched) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit})
        for (bool interp : {false, true}) {
            auto d = RandomPage(37, 23, fmt, 5);
            std::unique_ptr<TDIB> before(d->Duplicate());
            d->Rotate(true, interp, 0.05, 0.05);
            EXPECT_TRUE(SameBlock(*d, *before)) << int(fmt) << interp;
        }
}

TEST(Rotation, WholePixelShearMatchesPixelByPixelShear) {
    struct Case {
        uint8_t fmt;
        int32_t w, h;
        double angle;
        bool white;
    } cases[] = {
        {fmt1Bit, 301, 211, 1.0, true},  {fmt1Bit, 301, 211, -2.5, false}, {fmt1Bit, 64, 50, 30, true},
        {fmt1Bit, 13, 90, -44, true},    {fmt4Bit, 121, 77, 3.0, true},    {fmt4Bit, 121, 77, -3.0, false},
        {fmt8Bit, 257, 190, 1.0, true},  {fmt8Bit, 257, 190, -1.7, true},  {fmt8Bit, 20, 30, 80, false},
        {fmt24Bit, 133, 101, 2.2, true}, {fmt24Bit, 133, 101, -0.4, false},
        // 1-bit rows moved a word at a time: runs of columns wider than a word, rows of whole
        // words, the last word of a row starting before its run.
        {fmt1Bit, 1000, 60, 0.3, true},  {fmt1Bit, 1000, 60, -0.3, false}, {fmt1Bit, 72, 40, -1.5, false},
        {fmt1Bit, 2528, 90, 1.0, true},
    };
    for (const auto& c : cases) {
        auto d = RandomPage(c.w, c.h, c.fmt, 11);
        std::unique_ptr<TDIB> ref(d->Duplicate());
        d->Rotate(c.white, false, c.angle, c.angle);
        ReferenceShear(*ref, c.white, c.angle);
        EXPECT_TRUE(SameBlock(*d, *ref)) << int(c.fmt) << " " << c.angle;
    }
}

TEST(Rotation, OneDegreeOnA1000Page) {
    TDIB d;
    d.CreateNew(1000, 1000, fmt8Bit, 300, 300);
    for (int32_t y = 0; y < 1000; ++y)
        for (int32_t x = 0; x < 1000; ++x) d.SetPixel(x, y, (x + 3 * y) % 250);
    std::unique_ptr<TDIB> orig(d.Duplicate());
    d.Rotate(true, false, 1.0, 1.0);
    // Row 100 moves left by 2 (before the column pass, column 0 stays in place).
    EXPECT_EQ(d.GetPixel(0, 100), orig->GetPixel(2, 100));
    // Bottom row moves left by 17, the right column then down by 17; uncovered strips white.
    EXPECT_EQ(d.GetPixel(0, 999), orig->GetPixel(17, 999));
    // The right column moves down by Round(16.983) = 17 and its top is white.
    EXPECT_EQ(d.GetPixel(999, 16), 255);
    EXPECT_EQ(d.GetPixel(999, 17), orig->GetPixel(999, 0));
}

TEST(Rotation, NegativeAngleMovesRowsRightAndColumnsUp) {
    TDIB d;
    d.CreateNew(1000, 1000, fmt8Bit, 300, 300);
    for (int32_t y = 0; y < 1000; ++y)
        for (int32_t x = 0; x < 1000; ++x) d.SetPixel(x, y, (x + 7 * y) % 200);
    std::unique_ptr<TDIB> orig(d.Duplicate());
    d.Rotate(false, false, -1.0, -1.0);
    // Column 0 does not move vertically; row 999 moved right by 17 with black fill.
    EXPECT_EQ(d.GetPixel(0, 999), 0);
    EXPECT_EQ(d.GetPixel(17, 999), orig->GetPixel(0, 999));
    // Column 999 moved up by 17: its last 17 pixels are black.
    EXPECT_EQ(d.GetPixel(999, 983), 0);
    EXPECT_EQ(d.GetPixel(999, 982), orig->GetPixel(982, 999));
}

TEST(Rotation, InterpolatedShearsMatchPixelByPixelShears) {
    struct Case {
        uint8_t fmt;
        double row, col;
        bool white;
    } cases[] = {
        {fmt1Bit, 1.3, 1.3, true},   {fmt1Bit, -2.0, -2.0, false}, {fmt1Bit, 2.0, -1.0, true},
        {fmt8Bit, 1.3, 1.3, true},   {fmt8Bit, -2.7, -2.7, true},  {fmt8Bit, 0.05, 3.0, false},
        {fmt24Bit, 1.1, 1.1, true},  {fmt24Bit, -1.9, 2.4, false}, {fmt8Bit, 60, -60, true},
    };
    for (const auto& c : cases) {
        auto d = RandomPage(173, 141, c.fmt, 3);
        std::unique_ptr<TDIB> ref(d->Duplicate());
        d->Rotate(c.white, true, c.row, c.col);
        ReferenceInterpolated(*ref, c.white, c.row, c.col);
        EXPECT_TRUE(SameBlock(*d, *ref)) << int(c.fmt) << " " << c.row << " " << c.col;
    }
}

TEST(Rotation, InterpolationLeavesRowsWithoutWholeShiftAlone) {
    auto d = RandomPage(200, 100, fmt24Bit, 9);
    std::unique_ptr<TDIB> orig(d->Duplicate());
    d->ShearInterpolated24(true, 1.0, 0.0);  // rows only; RowFactor = 2 / 100
    for (int32_t y = 0; y < 50; ++y)  // s = 0.02 y < 1: j = 0
        EXPECT_EQ(std::memcmp(d->Rows[y], orig->Rows[y], 600), 0) << y;
    EXPECT_NE(std::memcmp(d->Rows[60], orig->Rows[60], 600), 0);
}

TEST(Rotation, BlendsRoundHalfToEven) {
    EXPECT_EQ(TDIB::BlendColors(0x000003, 0x000004, 0.5, 0.5), 0x000004);  // 3.5 -> 4
    EXPECT_EQ(TDIB::BlendColors(0x050000, 0x040000, 0.5, 0.5), 0x040000);  // 4.5 -> 4
    EXPECT_EQ(TDIB::BlendColors(0x00FF00, 0x000000, 0.25, 0.75), 0x004000);  // 63.75 -> 64
    // A black/white pair blended at f = 0.5 gives 0 on a 1-bit page: row 50 of 100 rows with
    // RowFactor 32/64 = 0.5 at 30 degrees, so row 3 has s = 1.5.
    TDIB d;
    d.CreateNew(16, 64, fmt1Bit, 300, 300);
    d.Rows[3][0] = 0xAA;  // 1010...
    d.ShearInterpolated1(true, 30.0, 0.0);
    // x takes blend(pixel x + 1 with f = 0.5, pixel x with 0.5): mixed pairs give 0.
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(d.GetPixel(x, 3), 0) << x;
}

TEST(Rotation, FillValues) {
    TDIB d;
    d.CreateNew(100, 100, fmt8Bit, 300, 300);
    d.Fill(128);
    d.Rotate(false, false, 2.0, 2.0);
    EXPECT_EQ(d.GetPixel(50, 99), 128);
    EXPECT_EQ(d.GetPixel(99, 0), 0);  // the right column moved down: black fill
    TDIB four;
    four.CreateNew(40, 40, fmt4Bit, 300, 300);
    four.Fill(0x77);
    std::unique_ptr<TDIB> orig(four.Duplicate());
    four.Rotate(true, true, 5, 5);
    EXPECT_TRUE(SameBlock(four, *orig));
    four.Rotate(true, false, 5, 5);
    EXPECT_FALSE(SameBlock(four, *orig));
    EXPECT_EQ(four.GetPixel(39, 0), 0);  // the gray ramp has no white: WhiteIndex 0
}
