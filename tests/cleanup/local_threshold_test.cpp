#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "cleanup/local_threshold.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "failure_of.h"

using namespace qil;

namespace {

using Pixels = std::vector<std::vector<int>>;  // [y][x]

std::unique_ptr<TDIB> page8(const Pixels& p) {
    auto d = std::make_unique<TDIB>();
    const int h = int(p.size()), w = h ? int(p[0].size()) : 0;
    d->CreateNew(w, h, fmt8Bit, 300, 300);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) d->Rows[y][x] = static_cast<uint8_t>(p[size_t(y)][size_t(x)]);
    return d;
}

Pixels uniform(int w, int h, int v) { return Pixels(size_t(h), std::vector<int>(size_t(w), v)); }

Pixels randomPixels(std::mt19937& rng, int w, int h, int lo = 0, int hi = 255) {
    Pixels p(static_cast<size_t>(h), std::vector<int>(static_cast<size_t>(w)));
    for (auto& row : p)
        for (int& v : row) v = lo + int(rng() % unsigned(hi - lo + 1));
    return p;
}

Pixels pixelsOf(TDIB& d) {
    Pixels p(static_cast<size_t>(d.Height()), std::vector<int>(static_cast<size_t>(d.Width())));
    for (int y = 0; y < d.Height(); ++y)
        for (int x = 0; x < d.Width(); ++x) p[size_t(y)][size_t(x)] = d.GetPixel(x, y);
    return p;
}

std::unique_ptr<TDIB> blank8(int w, int h) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt8Bit, 1, 1);
    return d;
}

void expectMessage(const std::function<void()>& fn, const char* message) {
    EXPECT_EQ(qil::testing::failureOf(fn), message);
}

constexpr const char* kNeeds8 = "This operation requires 8 bit per pixel bitmap !";

// ---- straightforward models ----

Pixels modelMean(const Pixels& p, int areaW, int areaH) {
    const int h = int(p.size()), w = int(p[0].size());
    const int hw = std::max(1, (areaW + 1) / 2), hh = std::max(1, (areaH + 1) / 2);
    Pixels out = p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            long long s = 0, n = 0;
            for (int yy = std::max(0, y - hh); yy <= std::min(h - 1, y + hh); ++yy)
                for (int xx = std::max(0, x - hw); xx <= std::min(w - 1, x + hw); ++xx) s += p[size_t(yy)][size_t(xx)], ++n;
            out[size_t(y)][size_t(x)] = int(std::nearbyint(static_cast<long double>(s) / n));
        }
    return out;
}

// The windows of the extreme filters: moved inside, the last two columns from column W - 3.
Pixels modelExtreme(const Pixels& p, int areaW, int areaH, bool isMax) {
    const int h = int(p.size()), w = int(p[0].size());
    auto half = [](int area, int size) {
        int a = area <= 1 ? 2 : area;
        if (a >= size) a = size - 1;
        return a / 2;
    };
    const int hw = half(areaW, w), hh = half(areaH, h);
    auto start = [](int i, int hlf, int size) {
        if (i <= hlf) return 0;
        if (i >= size - 1 - hlf) return size - 1 - 2 * hlf;
        return i - hlf;
    };
    auto ext = [isMax](int a, int b) { return isMax ? std::max(a, b) : std::min(a, b); };
    Pixels r = p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int m = isMax ? 0 : 255;
            for (int i = start(x, hw, w); i <= start(x, hw, w) + 2 * hw; ++i) m = ext(m, p[size_t(y)][size_t(i)]);
            r[size_t(y)][size_t(x)] = m;
        }
    Pixels out = r;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x >= w - 2) {
                // Column W - 3 of the row; on pages narrower than 3 the first window.
                int m = isMax ? 0 : 255;
                const int s = w >= 3 ? start(w - 3, hw, w) : 0;
                for (int i = s; i <= s + 2 * hw; ++i) m = ext(m, p[size_t(y)][size_t(i)]);
                out[size_t(y)][size_t(x)] = m;
                continue;
            }
            int m = isMax ? 0 : 255;
            for (int j = start(y, hh, h); j <= start(y, hh, h) + 2 * hh; ++j) m = ext(m, r[size_t(j)][size_t(x)]);
            out[size_t(y)][size_t(x)] = m;
        }
    return out;
}

// The index ranges of the three phases: for each output index, the first and last index summed.
std::vector<std::pair<int, int>> phaseRanges(int size, int win) {
    std::vector<std::pair<int, int>> out;
    int oldest = 0, count = 0;
    for (int i = 0; i < win; ++i)
        if (++count % 2 == 1) out.push_back({oldest, i});
    for (int i = win; i < size; ++i) out.push_back({++oldest, i});
    while (count > 0) {
        ++oldest;
        if (--count % 2 == 1) out.push_back({oldest, size - 1});
    }
    return out;
}

Pixels modelAdvanced(const Pixels& p, int window, double k) {
    const int h = int(p.size()), w = int(p[0].size());
    int v = window > h ? h - 1 : window;
    int hz = window >= w ? w - 1 : window;
    if (hz % 2 == 0) ++hz;
    const auto rows = phaseRanges(h, v), cols = phaseRanges(w, hz);
    const int ks = int(std::trunc(k * 256));
    Pixels out = p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            long long s = 0, ss = 0, n = 0;
            for (int yy = rows[size_t(y)].first; yy <= rows[size_t(y)].second; ++yy)
                for (int xx = cols[size_t(x)].first; xx <= cols[size_t(x)].second; ++xx) {
                    const int q = p[size_t(yy)][size_t(xx)];
                    s += q, ss += q * q, ++n;
                }
            const long long mean = s / n;
            const long long var = (ss - s * mean) / n;
            const int dev = int(std::floor(std::sqrt(double(var))));
            const long double t = p[size_t(y)][size_t(x)] - static_cast<long double>(dev * ks) / 256 - mean;
            out[size_t(y)][size_t(x)] = std::trunc(t) < 0 ? 0 : 255;
        }
    return out;
}

}  // namespace

TEST(SqrtTable, FloorOfSquareRoot) {
    for (int v = 0; v < kSqrtTableSize; ++v) ASSERT_EQ(SqrtTable[size_t(v)], int(std::floor(std::sqrt(double(v))))) << v;
    EXPECT_EQ(SqrtTable[16511], 128);
}

TEST(LocalMean, SmallAreasUseThreeByThreeAndClipAtCorners) {
    // AreaW = AreaH = 0: hw = hh = 1; the corner (0, 0) averages the 2 x 2 pixels inside.
    auto d = page8({{10, 20, 90}, {30, 41, 90}, {90, 90, 90}});
    auto t = blank8(3, 3);
    d->LocalMeanImage(*t, 0, 0);
    EXPECT_EQ(t->GetPixel(0, 0), 25);  // 101 / 4 = 25.25
    EXPECT_EQ(t->GetPixel(1, 1), 61);  // 551 / 9 = 61.2
    // Ties go to even: (1 + 2) / 2 = 1.5 -> 2, (0 + 1) / 2 = 0.5 -> 0.
    auto a = page8({{1, 2}});
    auto ta = blank8(2, 1);
    a->LocalMeanImage(*ta, 1, 1);
    EXPECT_EQ(pixelsOf(*ta), (Pixels{{2, 2}}));
    auto b = page8({{0, 1}});
    b->LocalMeanImage(*ta, 1, 1);
    EXPECT_EQ(pixelsOf(*ta), (Pixels{{0, 0}}));
}

TEST(LocalMean, MatchesModel) {
    std::mt19937 rng(11);
    struct Case {
        int w, h, areaW, areaH;
    };
    // Small and large windows (the large ones divide without the quotient table), windows wider
    // than the page, one-pixel pages.
    // Odd window counts up to 1024 and beyond (31 x 31 = 961, 33 x 33 = 1089), fixed windows of 3
    // to 15 columns and wider ones.
    for (const Case& c : {Case{17, 13, 7, 7}, Case{40, 9, 3, 5}, Case{30, 30, 40, 2}, Case{64, 48, 33, 31},
                          Case{1, 9, 7, 7}, Case{9, 1, 7, 7}, Case{5, 5, -3, 100}, Case{100, 80, 29, 29},
                          Case{100, 80, 31, 31}, Case{90, 40, 13, 1}, Case{90, 40, 21, 9}}) {
        const Pixels p = randomPixels(rng, c.w, c.h);
        auto d = page8(p);
        auto t = blank8(c.w, c.h);
        d->LocalMeanImage(*t, c.areaW, c.areaH);
        EXPECT_EQ(pixelsOf(*t), modelMean(p, c.areaW, c.areaH)) << c.w << "x" << c.h << " " << c.areaW << "x" << c.areaH;
        d->LocalMeanImage(*d, c.areaW, c.areaH);  // into itself
        EXPECT_EQ(pixelsOf(*d), modelMean(p, c.areaW, c.areaH));
    }
}

TEST(LocalWindowFilters, RefuseOtherFormatsAndSizes) {
    auto d = page8(uniform(6, 5, 9));
    TDIB one, small;
    one.CreateNew(6, 5, fmt1Bit, 0, 0);
    small.CreateNew(6, 4, fmt8Bit, 0, 0);
    for (TDIB* t : {&one, &small}) {
        expectMessage([&] { d->LocalMeanImage(*t, 3, 3); }, kNeeds8);
        expectMessage([&] { d->LocalMinImage(*t, 3, 3); }, kNeeds8);
        expectMessage([&] { d->LocalMaxImage(*t, 3, 3); }, kNeeds8);
        expectMessage([&] { TDIB::AdvancedDynamicThreshold(9, *d, *t, -0.2); }, kNeeds8);
    }
    auto t = blank8(6, 5);
    expectMessage([&] { one.LocalMeanImage(*t, 3, 3); }, kNeeds8);
    expectMessage([&] { one.LocalMinImage(*t, 3, 3); }, kNeeds8);
    expectMessage([&] { TDIB::AdvancedDynamicThreshold(9, one, *t, -0.2); }, kNeeds8);
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt24Bit}) {
        TDIB x;
        x.CreateNew(6, 5, fmt, 0, 0);
        x.SetPixel(2, 2, 1);
        expectMessage([&] { x.LocalAverageThreshold(7, 7, 16, true, 0, 255); }, kNeeds8);
        expectMessage([&] { x.LocalMinMaxThreshold(16, 3, 3, 127, true, 0, 255); }, kNeeds8);
        EXPECT_EQ(x.ImageFormat, fmt);
        EXPECT_EQ(x.GetPixel(2, 2), 1);
    }
}

TEST(LocalAverage, UniformPageAndContrast) {
    struct Case {
        int contrast, expected;
    };
    // 200 > 200 - 16 everywhere; 200 > 200 - 0 nowhere; negative margins too.
    for (const Case& c : {Case{16, 255}, Case{0, 0}, Case{1, 255}, Case{-5, 0}, Case{1000, 255}, Case{-1000, 0}}) {
        auto d = page8(uniform(8, 6, 200));
        d->LocalAverageThreshold(7, 7, c.contrast, false, 0, 255);
        EXPECT_EQ(pixelsOf(*d), uniform(8, 6, c.expected)) << c.contrast;
    }
    // A margin larger than the mean compares with a negative value: every pixel is above it.
    auto z = page8(uniform(4, 4, 0));
    z->LocalAverageThreshold(3, 3, 1, false, 7, 9);
    EXPECT_EQ(pixelsOf(*z), uniform(4, 4, 9));
}

TEST(LocalAverage, MatchesModelAndConvertsToOneBit) {
    std::mt19937 rng(5);
    const Pixels p = randomPixels(rng, 23, 19, 60, 200);
    const Pixels m = modelMean(p, 7, 5);
    auto d = page8(p);
    d->LocalAverageThreshold(7, 5, 10, true, 0, 255);
    ASSERT_EQ(d->ImageFormat, fmt1Bit);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 23; ++x)
            ASSERT_EQ(d->GetPixel(x, y), p[size_t(y)][size_t(x)] > m[size_t(y)][size_t(x)] - 10 ? 1 : 0) << x << "," << y;
}

TEST(LocalExtreme, BrightPixelMarksItsBlock) {
    Pixels p = uniform(20, 20, 0);
    p[10][10] = 200;
    auto d = page8(p);
    auto t = blank8(20, 20);
    d->LocalMaxImage(*t, 3, 3);
    Pixels expected = uniform(20, 20, 0);
    for (int y = 9; y <= 11; ++y)
        for (int x = 9; x <= 11; ++x) expected[size_t(y)][size_t(x)] = 200;
    EXPECT_EQ(pixelsOf(*t), expected);
}

TEST(LocalExtreme, MatchesModel) {
    std::mt19937 rng(3);
    struct Case {
        int w, h, areaW, areaH;
    };
    // Odd and even sizes, edges moved inside, the last two columns, windows as wide as the page,
    // pages narrower than 3 pixels, and windows of 256 and more (the block scheme).
    for (const Case& c : {Case{20, 15, 7, 7}, Case{20, 15, 8, 2}, Case{20, 15, 1, 0}, Case{9, 9, 9, 9},
                          Case{9, 9, 100, 4}, Case{3, 5, 3, 3}, Case{2, 5, 3, 3}, Case{1, 5, 7, 7},
                          Case{5, 1, 7, 7}, Case{5, 2, 7, 7}, Case{300, 3, 260, 3}, Case{4, 300, 3, 257},
                          Case{600, 20, 513, 13}, Case{11, 40, 5, 15}}) {
        const Pixels p = randomPixels(rng, c.w, c.h);
        auto d = page8(p);
        auto lo = blank8(c.w, c.h), hi = blank8(c.w, c.h);
        d->LocalMinImage(*lo, c.areaW, c.areaH);
        d->LocalMaxImage(*hi, c.areaW, c.areaH);
        EXPECT_EQ(pixelsOf(*lo), modelExtreme(p, c.areaW, c.areaH, false))
            << c.w << "x" << c.h << " " << c.areaW << "x" << c.areaH;
        EXPECT_EQ(pixelsOf(*hi), modelExtreme(p, c.areaW, c.areaH, true))
            << c.w << "x" << c.h << " " << c.areaW << "x" << c.areaH;
        d->LocalMinImage(*d, c.areaW, c.areaH);  // into itself
        EXPECT_EQ(pixelsOf(*d), modelExtreme(p, c.areaW, c.areaH, false));
    }
}

TEST(LocalMinMax, AreaLimits) {
    auto d = page8(uniform(10, 8, 50));
    for (auto [aw, ah] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{11, 3}, std::pair{3, 9}, std::pair{-1, -1}})
        expectMessage([&] { d->LocalMinMaxThreshold(16, aw, ah, 127, true, 0, 255); }, "Bad AreaW or AreaH value");
    EXPECT_EQ(d->ImageFormat, fmt8Bit);
    EXPECT_EQ(pixelsOf(*d), uniform(10, 8, 50));
    d->LocalMinMaxThreshold(16, 10, 8, 50, false, 0, 255);  // the whole page is accepted
    EXPECT_EQ(pixelsOf(*d), uniform(10, 8, 255));
}

TEST(LocalMinMax, FallbackLevelAndMidpoint) {
    // No contrast: a global comparison with Level, pixels >= Level high.
    auto d = page8({{10, 10, 10, 10}, {10, 10, 10, 10}, {10, 10, 10, 10}});
    d->LocalMinMaxThreshold(16, 3, 3, 10, false, 0, 255);
    EXPECT_EQ(pixelsOf(*d), uniform(4, 3, 255));
    auto e = page8(uniform(4, 3, 10));
    e->LocalMinMaxThreshold(16, 3, 3, 11, false, 0, 255);
    EXPECT_EQ(pixelsOf(*e), uniform(4, 3, 0));
    // A 3 x 3 page: column 0 takes the whole page (min 0, max 101, mid 50); the last two
    // columns take their row's extremes only (mids 25, 60 and 80). Pixels equal to the mid
    // (60, 80) are high.
    auto f = page8({{0, 50, 49}, {101, 60, 20}, {70, 80, 90}});
    f->LocalMinMaxThreshold(16, 3, 3, 200, false, 1, 2);
    EXPECT_EQ(pixelsOf(*f), (Pixels{{1, 2, 2}, {2, 2, 1}, {2, 2, 2}}));
}

TEST(LocalMinMax, MatchesModelWithOneBitResult) {
    std::mt19937 rng(9);
    const Pixels p = randomPixels(rng, 31, 17);
    const Pixels lo = modelExtreme(p, 7, 5, false), hi = modelExtreme(p, 7, 5, true);
    auto d = page8(p);
    d->LocalMinMaxThreshold(40, 7, 5, 120, true, 0, 255);
    ASSERT_EQ(d->ImageFormat, fmt1Bit);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) {
            const int l = lo[size_t(y)][size_t(x)], u = hi[size_t(y)][size_t(x)], v = p[size_t(y)][size_t(x)];
            const int cmp = u - l < 40 ? 120 : (u + l) >> 1;
            ASSERT_EQ(d->GetPixel(x, y), v < cmp ? 0 : 1) << x << "," << y;
        }
}

TEST(AdvancedDynamic, UniformPageIsWhite) {
    auto d = page8(uniform(12, 10, 77));
    auto t = blank8(12, 10);
    TDIB::AdvancedDynamicThreshold(9, *d, *t, -0.2);
    EXPECT_EQ(pixelsOf(*t), uniform(12, 10, 255));
}

TEST(AdvancedDynamic, DarkStrokeOnLightGround) {
    Pixels p = uniform(15, 15, 200);
    for (int y = 0; y < 15; ++y) p[size_t(y)][7] = 40;
    auto d = page8(p);
    auto t = blank8(15, 15);
    TDIB::AdvancedDynamicThreshold(9, *d, *t, -0.2);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x) EXPECT_EQ(t->GetPixel(x, y), x == 7 ? 0 : 255) << x << "," << y;
}

TEST(AdvancedDynamic, MatchesModel) {
    std::mt19937 rng(21);
    struct Case {
        int w, h, window;
        double k;
    };
    // The command's 9 and -0.2; pages 5 rows high (vertical size 4) and 9 or 10 columns wide
    // (horizontal size 9), an even window, positive K, a window larger than the page.
    for (const Case& c : {Case{30, 25, 9, -0.2}, Case{12, 5, 9, -0.2}, Case{9, 12, 9, -0.2}, Case{10, 12, 9, -0.2},
                          Case{20, 20, 4, 0.5}, Case{7, 6, 40, -1.0}, Case{2, 3, 9, -0.2}, Case{25, 30, 1, 0.3}}) {
        const Pixels p = randomPixels(rng, c.w, c.h);
        auto d = page8(p);
        auto t = blank8(c.w, c.h);
        TDIB::AdvancedDynamicThreshold(c.window, *d, *t, c.k);
        EXPECT_EQ(pixelsOf(*t), modelAdvanced(p, c.window, c.k)) << c.w << "x" << c.h << " w" << c.window;
        TDIB::AdvancedDynamicThreshold(c.window, *d, *d, c.k);  // into the source itself
        EXPECT_EQ(pixelsOf(*d), modelAdvanced(p, c.window, c.k));
    }
}

TEST(AdvancedDynamic, DegenerateWindowsDoNotDivideByZero) {
    // One row (the vertical size would be 0) and windows below 1 use windows of one row or
    // column: a uniform page stays white, a lone dark pixel in a light row is found.
    auto one = page8({{200, 200, 10, 200, 200}});
    auto t = blank8(5, 1);
    TDIB::AdvancedDynamicThreshold(9, *one, *t, -0.2);
    EXPECT_EQ(pixelsOf(*t), (Pixels{{255, 255, 0, 255, 255}}));
    for (int window : {0, -1, -2}) {
        auto d = page8(uniform(6, 4, 30));
        auto u = blank8(6, 4);
        TDIB::AdvancedDynamicThreshold(window, *d, *u, -0.2);
        EXPECT_EQ(pixelsOf(*u), uniform(6, 4, 255)) << window;
    }
}
