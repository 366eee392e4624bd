#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

// A white 1-bit page with the standard table (black 0, white 1).
void MakeWhitePage(TDIB& d, int32_t w, int32_t h, int32_t dpi = 300) {
    d.CreateNew(w, h, fmt1Bit, dpi, dpi);
    d.FillWhite();
}

void Black(TDIB& d, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) d.SetPixel(x, y, d.BlackIndex());
}

// One line of "text" in rows top ... bottom from column x: words of four letters letterWidth
// columns wide, letters 2 columns apart, words 6 columns apart, and one 12-column gap after
// the fourth word. Returns the column after the last letter.
int32_t DrawTextLine(TDIB& d, int32_t x, int32_t top, int32_t bottom, int32_t words, int32_t letterWidth) {
    for (int32_t w = 0; w < words; ++w) {
        if (w > 0) x += w == 4 ? 12 : 6;
        for (int32_t l = 0; l < 4; ++l) {
            if (l > 0) x += 2;
            Black(d, x, top, x + letterWidth - 1, bottom);
            x += letterWidth;
        }
    }
    return x;
}

}  // namespace

TEST(HalfSize, ReducesByTwoByTwoBlocks) {
    for (bool whiteFirst : {false, true}) {
        for (auto [w, h] : {std::pair{37, 21}, std::pair{64, 8}, std::pair{17, 5}}) {
            TDIB d;
            d.CreateNew(w, h, fmt1Bit, 301, 199);
            if (whiteFirst) {
                d.SetPaletteEntry(0, 0xFFFFFF);
                d.SetPaletteEntry(1, 0x000000);
            }
            std::mt19937 rng(w * 31 + h);
            // Sparse non-white pixels and garbage padding.
            for (int32_t y = 0; y < h; ++y)
                for (int32_t i = 0; i < d.Stride; ++i) d.Rows[y][i] = static_cast<uint8_t>(rng());
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) d.SetPixel(x, y, rng() % 7 == 0 ? 1 - d.WhiteIndex() : d.WhiteIndex());
            std::unique_ptr<TDIB> half(d.HalfSize());
            ASSERT_EQ(half->Width(), w / 2);
            ASSERT_EQ(half->Height(), h / 2);
            EXPECT_EQ(half->ImageFormat, fmt1Bit);
            EXPECT_EQ(half->XResolution(), 150);
            EXPECT_EQ(half->YResolution(), 99);
            for (int32_t y = 0; y < h / 2; ++y) {
                for (int32_t x = 0; x < w / 2; ++x) {
                    bool ink = d.GetPixel(2 * x, 2 * y) != d.WhiteIndex() || d.GetPixel(2 * x + 1, 2 * y) != d.WhiteIndex() ||
                               d.GetPixel(2 * x, 2 * y + 1) != d.WhiteIndex() ||
                               d.GetPixel(2 * x + 1, 2 * y + 1) != d.WhiteIndex();
                    EXPECT_EQ(half->GetPixel(x, y), ink ? half->BlackIndex() : half->WhiteIndex()) << x << "," << y;
                }
                // Padding stays as filled.
                for (int32_t x = w / 2; x < half->Stride * 8; ++x) EXPECT_EQ(half->GetPixel1(x, y), 1);
            }
        }
    }
}

TEST(HalfSize, PyramidOfAnA4Page) {
    TDIB page;
    MakeWhitePage(page, 2480, 3508);
    const std::pair<int32_t, int32_t> sizes[] = {{1240, 1754}, {620, 877}, {310, 438}, {155, 219}, {77, 109}};
    std::vector<std::unique_ptr<TDIB>> levels;
    TDIB* src = &page;
    for (auto [w, h] : sizes) {
        levels.emplace_back(src->HalfSize());
        src = levels.back().get();
        EXPECT_EQ(src->Width(), w);
        EXPECT_EQ(src->Height(), h);
        EXPECT_EQ(src->XResolution(), 300 >> levels.size());
    }
}

TEST(HalfSize, RefusesOtherFormats) {
    TDIB g;
    g.CreateNew(4, 4, fmt8Bit, 300, 300);
    EXPECT_EQ(Message([&] { delete g.HalfSize(); }), "This operation requires 1 bit per pixel bitmap !");
}

TEST(TrimBlock, ZeroTolerancesGiveTheTightBox) {
    TDIB d;
    MakeWhitePage(d, 50, 30);
    d.SetPixel(7, 12, d.BlackIndex());
    d.SetPixel(33, 4, d.BlackIndex());
    d.SetPixel(20, 25, d.BlackIndex());
    EXPECT_EQ(d.TrimBlock(TRect{0, 0, 49, 29}, 0, 0), (TRect{7, 4, 33, 25}));
    EXPECT_EQ(d.TrimBlock(TRect{8, 0, 49, 29}, 0, 0), (TRect{20, 4, 33, 25}));
    EXPECT_EQ(d.TrimBlock(TRect{7, 12, 7, 12}, 0, 0), (TRect{7, 12, 7, 12}));
    // Nothing black: (0, 0, 0, 0).
    EXPECT_EQ(d.TrimBlock(TRect{10, 10, 19, 20}, 0, 0), (TRect{0, 0, 0, 0}));
    EXPECT_EQ(d.TrimBlock(TRect{10, 10, 19, 20}, 3, 3), (TRect{0, 0, 0, 0}));
}

TEST(TrimBlock, TolerancesDropSparseBordersAndStopAtStretches) {
    for (bool whiteFirst : {false, true}) {
        TDIB d;
        MakeWhitePage(d, 40, 40);
        if (whiteFirst) {
            d.SetPaletteEntry(0, 0xFFFFFF);
            d.SetPaletteEntry(1, 0x000000);
            d.Fill(0);
        }
        Black(d, 20, 1, 21, 1);    // a lone sparse row: dropped
        Black(d, 20, 5, 21, 9);    // five sparse rows in a row: the top stops at row 5
        Black(d, 10, 15, 30, 25);  // the body
        Black(d, 3, 12, 3, 13);    // a sparse column on the left: dropped
        Black(d, 31, 20, 35, 20);  // five sparse columns on the right: the right stops at 35
        EXPECT_EQ(d.TrimBlock(TRect{0, 0, 39, 39}, 3, 3), (TRect{10, 5, 35, 25})) << whiteFirst;
        // Negative tolerances act as 0.
        EXPECT_EQ(d.TrimBlock(TRect{0, 0, 39, 39}, -4, -4), d.TrimBlock(TRect{0, 0, 39, 39}, 0, 0));
    }
}

TEST(TrimBlock, RefusesBadArguments) {
    TDIB d;
    MakeWhitePage(d, 10, 10);
    for (const TRect& r : {TRect{-1, 0, 5, 5}, TRect{0, 0, 10, 5}, TRect{0, 0, 5, 10}, TRect{6, 0, 5, 5}, TRect{0, 12, 5, 5}}) {
        EXPECT_EQ(Message([&] { d.TrimBlock(r, 0, 0); }), "Invalid rect !");
        EXPECT_EQ(Message([&] { d.IsTextRegion(r); }), "Invalid rect !");
    }
    TDIB g;
    g.CreateNew(4, 4, fmt8Bit, 300, 300);
    EXPECT_EQ(Message([&] { g.TrimBlock(TRect{0, 0, 3, 3}, 0, 0); }), "This operation requires 1 bit per pixel bitmap !");
}

TEST(IsTextRegion, TwoGapWidthsAndModerateDensity) {
    struct Case {
        const char* what;
        int32_t words, letterWidth;
        bool text;
    } cases[] = {
        {"letter and word gaps, density 50 %", 6, 3, true},
        {"letter gaps only", 1, 3, false},
        {"dense letters (density over 70 %)", 6, 20, false},
    };
    for (const auto& c : cases) {
        TDIB d;
        MakeWhitePage(d, 600, 20);
        DrawTextLine(d, 5, 4, 13, c.words, c.letterWidth);
        EXPECT_EQ(d.IsTextRegion(TRect{0, 0, 599, 19}), c.text) << c.what;
    }
    TDIB d;
    MakeWhitePage(d, 60, 20);
    EXPECT_FALSE(d.IsTextRegion(TRect{0, 0, 59, 19}));  // empty
    Black(d, 0, 0, 59, 19);
    EXPECT_FALSE(d.IsTextRegion(TRect{0, 0, 59, 19}));  // all black
}

TEST(FindPeriod, TriesOnlyNearlyDividingStepsAndPrefersTheSmaller) {
    // Zero rows at 0, 90 and 180: step 90 would score 0, but 250 mod 90 = 70 > 9 skips it.
    // Steps 83, 82 and 81 all score 30; the smallest of them wins.
    std::vector<int32_t> v(250, 10);
    v[0] = v[90] = v[180] = 0;
    EXPECT_EQ(TDIB::FindPeriod(v, 24, 90), 81);
    // Period 0 is never tried.
    std::vector<int32_t> five{3, 1, 4, 1, 5};
    EXPECT_EQ(TDIB::FindPeriod(five, 0, 3), 1);
    EXPECT_EQ(TDIB::FindPeriod(five, 0, 0), 0);
    // Steps above the count are skipped.
    std::vector<int32_t> ten{0, 9, 9, 9, 9, 0, 9, 9, 9, 9};
    EXPECT_EQ(TDIB::FindPeriod(ten, 5, 50), 5);
    // None qualifies.
    EXPECT_EQ(TDIB::FindPeriod(std::vector<int32_t>(7, 1), 4, 6), 0);
    EXPECT_EQ(TDIB::FindPeriod({}, 1, 6), 0);
}
