#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "failure_of.h"

using namespace qil;

namespace {

// An 8-bit gray page filled row by row from Values (row 0 at the top).
std::unique_ptr<TDIB> page8(int w, int h, const std::vector<int>& values) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt8Bit, 300, 300);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) d->Rows[y][x] = static_cast<uint8_t>(values[size_t(y * w + x)]);
    return d;
}

std::unique_ptr<TDIB> uniform8(int w, int h, int v) { return page8(w, h, std::vector<int>(size_t(w * h), v)); }

std::vector<int> pixels(TDIB& d) {
    std::vector<int> out;
    for (int y = 0; y < d.Height(); ++y)
        for (int x = 0; x < d.Width(); ++x) out.push_back(d.GetPixel(x, y));
    return out;
}

THistogram histogramOf(std::initializer_list<std::pair<int, uint64_t>> bins) {
    THistogram h{};
    for (auto [level, count] : bins) h[size_t(level)] = count;
    return h;
}

void expectMessage(const std::function<void()>& fn, const char* message) {
    EXPECT_EQ(qil::testing::failureOf(fn), message);
}

constexpr const char* kNeeds8 = "This operation requires 8 bit per pixel bitmap !";
constexpr const char* kNeedsSame = "This operation requires same bit per pixel bitmap !";

}  // namespace

TEST(GlobalThreshold, FixedLevelAndInvertedRoles) {
    auto d = page8(4, 1, {0, 127, 128, 255});
    d->Threshold(127, false, 0, 255);
    EXPECT_EQ(pixels(*d), (std::vector<int>{0, 0, 255, 255}));

    auto e = page8(4, 1, {0, 127, 128, 255});
    e->Threshold(127, false, 255, 0);
    EXPECT_EQ(pixels(*e), (std::vector<int>{255, 255, 0, 0}));
}

TEST(GlobalThreshold, ToBinaryGivesStandardOneBitPage) {
    auto d = page8(9, 2, {10, 200, 10, 200, 10, 200, 10, 200, 10, 0, 255, 0, 255, 0, 255, 0, 255, 0});
    d->Threshold(100, true, 0, 255);
    ASSERT_EQ(d->ImageFormat, fmt1Bit);
    EXPECT_EQ(d->Width(), 9);
    EXPECT_EQ(pixels(*d), (std::vector<int>{0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(GlobalThreshold, RefusesOtherFormatsUnchanged) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt24Bit}) {
        TDIB d;
        d.CreateNew(5, 3, fmt, 0, 0);
        d.SetPixel(1, 1, 1);
        expectMessage([&] { d.Threshold(0, true, 0, 255); }, kNeeds8);
        EXPECT_EQ(d.ImageFormat, fmt);
        EXPECT_EQ(d.GetPixel(1, 1), 1);
        expectMessage([&] { d.FloydSteinbergDither(true, 0, 255); }, kNeeds8);
        EXPECT_EQ(d.ImageFormat, fmt);
        // Every algorithm, also Uniform Error (which reads the pixels itself) and an unknown number.
        for (uint8_t alg : {0, 1, 2, 3, 4, 9}) expectMessage([&] { d.AutoThreshold(alg, true, 0, 255); }, kNeeds8);
        EXPECT_EQ(d.ImageFormat, fmt);
        EXPECT_EQ(d.GetPixel(1, 1), 1);
    }
}

// Results of the level algorithms on hand-made histograms.
struct LevelCase {
    const char* name;
    THistogram histogram;
    int otsu, lloyd, ridler, stdDev;
};

TEST(GlobalThreshold, LevelAlgorithmsOnHistograms) {
    const LevelCase cases[] = {
        // One occupied level: Otsu has no split, the others give the level itself.
        {"all 200", histogramOf({{200, 1000}}), 127, 200, 200, 200},
        // Two equal ends: Otsu's first maximum is 0, Lloyd Round(127.5) = 128 (ties to even),
        // Ridler and Calvard starts at 128 and stays, the standard deviation rule truncates.
        {"0 and 255", histogramOf({{0, 50}, {255, 50}}), 0, 128, 128, 127},
        // Every split between 20 and 199 separates the same classes: the first one wins.
        {"10/20/200", histogramOf({{10, 10}, {20, 10}, {200, 10}}), 20, 77, 108, 76},
        // Ties of the mean: 126.5 rounds to 126, 127.5 to 128.
        {"mean 126.5", histogramOf({{126, 1}, {127, 1}}), 126, 126, 126, 126},
        {"empty", THistogram{}, 127, -1, 127, 127},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TDIB::OtsuThreshold(c.histogram), c.otsu);
        EXPECT_EQ(TDIB::LloydThreshold(c.histogram), c.lloyd);
        EXPECT_EQ(TDIB::RidlerCalvardThreshold(c.histogram), c.ridler);
        EXPECT_EQ(TDIB::StdDevThreshold(c.histogram, 0.0), c.stdDev);
    }
}

TEST(GlobalThreshold, RidlerCalvardIterates) {
    // Start at Round(510 / 12) = Round(42.5) = 42; the class means 0 and 255 give
    // Round(127.5) = 128, which splits the same way and is returned.
    EXPECT_EQ(TDIB::RidlerCalvardThreshold(histogramOf({{0, 10}, {255, 2}})), 128);
    // Start at Round(885 / 12) = 74; the class means 20 and 235 give Round(127.5) = 128.
    EXPECT_EQ(TDIB::RidlerCalvardThreshold(histogramOf({{0, 6}, {60, 3}, {235, 3}})), 128);
    // Start at Round(1035 / 9) = 115; the class means 45 and 255 give 150, which splits the same way.
    EXPECT_EQ(TDIB::RidlerCalvardThreshold(histogramOf({{0, 3}, {90, 3}, {255, 3}})), 150);
}

TEST(GlobalThreshold, StdDevAddsKSigma) {
    const THistogram h = histogramOf({{0, 50}, {255, 50}});  // mean 127.5, sigma 127.5
    EXPECT_EQ(TDIB::StdDevThreshold(h, 1.0), 255);
    EXPECT_EQ(TDIB::StdDevThreshold(h, -1.0), 0);
    EXPECT_EQ(TDIB::StdDevThreshold(h, 0.5), 191);  // Trunc(191.25)
    EXPECT_EQ(TDIB::StdDevThreshold(h, -0.5), 63);  // Trunc(63.75)
}

TEST(GlobalThreshold, UniformErrorOnBlocks) {
    // 2 x 2 blocks that are all 0 or all 255: above every t < 255 the fractions of pixels, pairs
    // and blocks are all 1/2, the ratio is 1, so the bisection always keeps the upper half and
    // its last probe is 254. The last odd column and row (value 77) take no part.
    auto d = page8(5, 3, {0, 0, 255, 255, 77, 0, 0, 255, 255, 77, 77, 77, 77, 77, 77});
    EXPECT_EQ(d->UniformErrorThreshold(), 254);
    // Every block uniform at one level: a = b = c = 1 or 0, a^2 - b is 0, the upper bound always
    // moves down and the last probe is 1.
    EXPECT_EQ(uniform8(4, 4, 90)->UniformErrorThreshold(), 1);
    // No 2 x 2 block at all.
    EXPECT_EQ(uniform8(7, 1, 90)->UniformErrorThreshold(), 127);
    EXPECT_EQ(uniform8(1, 7, 90)->UniformErrorThreshold(), 127);
}

TEST(GlobalThreshold, UniformErrorMixedBlocks) {
    // A dark stroke on a light background (200 ... 202). The fractions above t stay "uniform"
    // up to the background, so the bisection climbs to it: 200 (worked out independently).
    std::vector<int> v;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) v.push_back((x == 2 || x == 3) ? 20 + x + y : 200 + ((x + y) % 3));
    auto d = page8(8, 8, v);
    EXPECT_EQ(d->UniformErrorThreshold(), 200);
}

TEST(GlobalThreshold, AutoThresholdUsesAndReturnsLevel) {
    struct Case {
        uint8_t algorithm;
        int pixel, level, result;
    };
    // A page all 200: Otsu gives 127 (page becomes HighValue), Lloyd, Ridler and Calvard and the
    // standard deviation rule give 200 (page becomes LowValue); an unknown algorithm uses 127.
    for (const Case& c : {Case{0, 200, 127, 255}, Case{1, 200, 200, 0}, Case{2, 200, 200, 0},
                          Case{4, 200, 200, 0}, Case{7, 200, 127, 255}, Case{7, 127, 127, 0},
                          Case{255, 128, 127, 255}}) {
        auto d = uniform8(6, 4, c.pixel);
        EXPECT_EQ(d->AutoThreshold(c.algorithm, false, 0, 255), c.level) << int(c.algorithm);
        EXPECT_EQ(pixels(*d), std::vector<int>(24, c.result)) << int(c.algorithm);
    }
    auto d = uniform8(6, 4, 200);
    EXPECT_EQ(d->AutoThreshold(3, true, 0, 255), 1);
    EXPECT_EQ(d->ImageFormat, fmt1Bit);
}

TEST(GlobalThreshold, AutoThresholdLloydOnEmptyPageUses255) {
    TDIB d;
    d.CreateNew(0, 0, fmt8Bit, 0, 0);
    EXPECT_EQ(d.AutoThreshold(1, false, 0, 255), 255);
}

TEST(FloydSteinberg, UniformPageAllLow) {
    auto d = uniform8(5, 4, 128);
    d->FloydSteinbergDither(false, 0, 255);
    EXPECT_EQ(pixels(*d), std::vector<int>(20, 0));
}

TEST(FloydSteinberg, SharesTruncatedTowardZero) {
    // min 0, max 250, mid 125. (1,0) = 180 -> High, e = -70: (2,0) gets -30 -> 220, the row below
    // -13, -21, -4. (2,0) = 220 -> High, e = -30: (3,0) gets -13 (clamped to 0), the row below
    // -5, -9 and -1 (not -2), so (3,1) = 126 stays above mid.
    auto d = page8(4, 2, {0, 180, 250, 0, 130, 130, 130, 127});
    d->FloydSteinbergDither(false, 10, 240);
    EXPECT_EQ(pixels(*d), (std::vector<int>{10, 240, 240, 10, 10, 10, 10, 240}));
}

TEST(FloydSteinberg, NarrowPagesThresholdWithoutDiffusion) {
    // One and two pixels wide: nothing is spread, every pixel is compared with mid = 100 once,
    // also with the roles inverted.
    for (int w : {1, 2}) {
        std::vector<int> v;
        for (int i = 0; i < 5 * w; ++i) v.push_back(i % 2 ? 200 : 0);
        auto d = page8(w, 5, v);
        d->FloydSteinbergDither(false, 255, 0);
        std::vector<int> expected;
        for (int x : v) expected.push_back(x > 100 ? 0 : 255);
        EXPECT_EQ(pixels(*d), expected) << w;
    }
}

// Straightforward model of the diffusion over a matrix of ints.
std::vector<int> modelDither(int w, int h, std::vector<int> p, int lowV, int highV) {
    int lo = 255, hi = 0;
    for (int v : p) lo = std::min(lo, v), hi = std::max(hi, v);
    const int mid = (lo + hi) / 2;
    auto at = [&](int x, int y) -> int& { return p[size_t(y * w + x)]; };
    auto add = [&](int x, int y, int e, int wgt) { at(x, y) = std::clamp(at(x, y) + e * wgt / 16, 0, 255); };
    for (int y = 0; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            int v = at(x, y);
            int e = v > mid ? v - hi : v - lo;
            at(x, y) = v > mid ? highV : lowV;
            add(x + 1, y, e, 7);
            add(x - 1, y + 1, e, 3);
            add(x, y + 1, e, 5);
            add(x + 1, y + 1, e, 1);
        }
        at(0, y) = at(0, y) > mid ? highV : lowV;
        at(w - 1, y) = at(w - 1, y) > mid ? highV : lowV;
    }
    for (int x = 0; x < w; ++x) at(x, h - 1) = at(x, h - 1) > mid ? highV : lowV;
    return p;
}

TEST(FloydSteinberg, MatchesModelOnRandomPages) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 20; ++trial) {
        const int w = 3 + int(rng() % 40), h = 2 + int(rng() % 30);
        const int base = int(rng() % 100), span = 1 + int(rng() % 155);
        std::vector<int> v;
        for (int i = 0; i < w * h; ++i) v.push_back(base + int(rng() % unsigned(span)));
        auto d = page8(w, h, v);
        d->FloydSteinbergDither(false, 0, 255);
        EXPECT_EQ(pixels(*d), modelDither(w, h, v, 0, 255)) << trial;
    }
}

TEST(FloydSteinberg, ToBinary) {
    auto d = page8(3, 2, {0, 255, 0, 255, 0, 255});
    d->FloydSteinbergDither(true, 0, 255);
    ASSERT_EQ(d->ImageFormat, fmt1Bit);
    EXPECT_EQ(pixels(*d), (std::vector<int>{0, 1, 0, 1, 0, 1}));
}

TEST(OrImage, MergesBlackOnlyWhereBothBlack) {
    // 1-bit pages 9 and 16 pixels wide share RowBytes 2 and are accepted.
    TDIB a, b;
    a.CreateNew(9, 2, fmt1Bit, 0, 0);
    b.CreateNew(16, 2, fmt1Bit, 0, 0);
    a.SetPixel(0, 0, 1);
    a.SetPixel(8, 1, 1);
    b.SetPixel(1, 0, 1);
    b.SetPixel(15, 1, 1);
    a.OrImage(b);
    EXPECT_EQ(a.Rows[0][0], 0xC0);
    EXPECT_EQ(a.Rows[0][1], 0x00);
    EXPECT_EQ(a.Rows[1][0], 0x00);
    EXPECT_EQ(a.Rows[1][1], 0x81);
    EXPECT_EQ(b.Rows[0][0], 0x40);  // Other unchanged
}

TEST(OrImage, RefusesDifferentLayouts) {
    TDIB a, b8, taller, wider;
    a.CreateNew(9, 2, fmt1Bit, 0, 0);
    b8.CreateNew(9, 2, fmt8Bit, 0, 0);
    taller.CreateNew(9, 3, fmt1Bit, 0, 0);
    wider.CreateNew(17, 2, fmt1Bit, 0, 0);
    a.SetPixel(3, 1, 1);
    b8.Fill(255);
    for (TDIB* other : {&b8, &taller, &wider}) expectMessage([&] { a.OrImage(*other); }, kNeedsSame);
    EXPECT_EQ(a.Rows[1][0], 0x10);
    EXPECT_EQ(a.Rows[0][0], 0x00);
}
