#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cleanup/blobs.h"
#include "cleanup/newspaper_page.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "failure_of.h"

using namespace qil;
using qil::testing::failureOf;

namespace {

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
        for (auto [w, h] : {std::pair{37, 21}, std::pair{64, 8}, std::pair{17, 5}, std::pair{150, 6}, std::pair{201, 4}}) {
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
    EXPECT_EQ(failureOf([&] { delete g.HalfSize(); }), "This operation requires 1 bit per pixel bitmap !");
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
        EXPECT_EQ(failureOf([&] { d.TrimBlock(r, 0, 0); }), "Invalid rect !");
        EXPECT_EQ(failureOf([&] { d.IsTextRegion(r); }), "Invalid rect !");
    }
    TDIB g;
    g.CreateNew(4, 4, fmt8Bit, 300, 300);
    EXPECT_EQ(failureOf([&] { g.TrimBlock(TRect{0, 0, 3, 3}, 0, 0); }), "This operation requires 1 bit per pixel bitmap !");
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

TEST(BlockSizes, DerivedFromTheResolution) {
    struct Case {
        int32_t x, y;
        TDIB::TBlockSizes want;
    } cases[] = {
        {300, 300, {3, 3, 6, 6, 24, 90}},
        {150, 250, {2, 2, 3, 5, 20, 75}},  // ties to even: 1.5 -> 2, 2.5 -> 2
        {72, 72, {1, 1, 1, 1, 6, 22}},
        {5, 5, {0, 0, 0, 0, 0, 2}},
        {0, 0, {0, 0, 0, 0, 0, 0}},
        {-300, -300, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TDIB::TBlockSizes s = TDIB::BlockSizes(c.x, c.y);
        EXPECT_EQ(s.ToleranceX, c.want.ToleranceX) << c.x;
        EXPECT_EQ(s.ToleranceY, c.want.ToleranceY) << c.y;
        EXPECT_EQ(s.MinBlockWidth, c.want.MinBlockWidth) << c.x;
        EXPECT_EQ(s.MinBlockHeight, c.want.MinBlockHeight) << c.y;
        EXPECT_EQ(s.MinPeriod, c.want.MinPeriod) << c.y;
        EXPECT_EQ(s.MaxPeriod, c.want.MaxPeriod) << c.y;
    }
}

// ---- Block detection ----


namespace {

bool SameBytes(TDIB& a, TDIB& b) {
    if (a.DIBSize != b.DIBSize) return false;
    return std::memcmp(a.Memory, b.Memory, static_cast<size_t>(a.DIBSize)) == 0;
}

int64_t Area(int32_t l, int32_t t, int32_t r, int32_t b) { return int64_t(r - l + 1) * (b - t + 1); }

// Pixels of box a covered by rectangle b.
int64_t Covered(const testpage::Rect& a, const TRect& b) {
    int32_t l = std::max(a.Left, b.Left), t = std::max(a.Top, b.Top), r = std::min(a.Right, b.Right),
            btm = std::min(a.Bottom, b.Bottom);
    return l > r || t > btm ? 0 : Area(l, t, r, btm);
}

// The progress indices form one run Count - 1, ..., 0 per traced level; returns the runs.
int32_t ProgressRuns(const std::vector<int32_t>& calls) {
    int32_t runs = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i > 0 && calls[i - 1] != 0) {
            EXPECT_EQ(calls[i], calls[i - 1] - 1) << "at call " << i;
        }
        if (calls[i] == 0) ++runs;
    }
    if (!calls.empty()) {
        EXPECT_EQ(calls.back(), 0);
    }
    return runs;
}

}  // namespace

TEST(FindImagesAndText, SmallPageHasNoCandidates) {
    for (auto [w, h] : {std::pair{100, 400}, std::pair{400, 100}, std::pair{60, 60}}) {
        TDIB d;
        MakeWhitePage(d, w, h);
        Black(d, 10, 10, 50, 50);
        TBlobList text, images;
        text.AddBlob(TRect{1, 1, 2, 2}, 0, 0, 0);
        images.AddBlob(TRect{1, 1, 2, 2}, 0, 0, 0);
        int32_t calls = 0;
        d.FindImagesAndText(text, images, [&](int32_t) { ++calls; });
        EXPECT_EQ(text.Count(), 0);
        EXPECT_EQ(images.Count(), 0);
        EXPECT_EQ(calls, 0);
    }
}

TEST(FindImagesAndText, RefusesOtherFormats) {
    TDIB g;
    g.CreateNew(300, 300, fmt8Bit, 300, 300);
    TBlobList text, images;
    text.AddBlob(TRect{1, 1, 2, 2}, 0, 0, 0);
    EXPECT_EQ(failureOf([&] { g.FindImagesAndText(text, images); }), "This operation requires 1 bit per pixel bitmap !");
    EXPECT_EQ(text.Count(), 1);
}

TEST(FindImagesAndText, SolidSquareIsAnImageAndAShortBarIsText) {
    // 400 x 400 halves twice (levels 0, 1, 2). The square fails the text test at both levels
    // and ends as an undecided level-1 candidate, an image; the bar (15 rows, below the
    // smallest period 24) is one strip high and so is text.
    TBlobList text, images;
    for (bool whiteFirst : {false, true}) {
        TDIB d;
        MakeWhitePage(d, 400, 400);
        if (whiteFirst) {
            d.SetPaletteEntry(0, 0xFFFFFF);
            d.SetPaletteEntry(1, 0x000000);
            d.Fill(0);
        }
        Black(d, 100, 120, 199, 219);
        std::unique_ptr<TDIB> before(d.Duplicate());
        d.FindImagesAndText(text, images);
        EXPECT_TRUE(SameBytes(d, *before));
        EXPECT_EQ(text.Count(), 0);
        ASSERT_EQ(images.Count(), 1);
        EXPECT_EQ(images[0].AsRect(), (TRect{100, 120, 199, 219}));
        EXPECT_EQ(images[0].CenterX, 149);
        EXPECT_EQ(images[0].CenterY, 169);
    }

    TDIB e;
    MakeWhitePage(e, 400, 400);
    Black(e, 50, 50, 249, 64);
    std::vector<int32_t> calls;
    e.FindImagesAndText(text, images, [&](int32_t q) { calls.push_back(q); });
    EXPECT_EQ(images.Count(), 0);
    ASSERT_EQ(text.Count(), 1);
    EXPECT_EQ(text[0].AsRect(), (TRect{50, 50, 249, 64}));
    // Accepted at the top level, so the finer level is never traced.
    EXPECT_EQ(calls, std::vector<int32_t>{0});
}

TEST(FindImagesAndText, CandidateWithoutBlackPixelsIsNotExamined) {
    // A table whose two entries are both black: non-white (bit 1) pixels make candidates, but
    // black is bit 0, so the candidate trims to nothing. At 50 dpi the smallest block is one
    // pixel, and such a candidate would otherwise be examined as the 1 x 1 block at (0, 0).
    TDIB d;
    d.CreateNew(400, 400, fmt1Bit, 50, 50);
    d.SetPaletteEntry(1, 0x000000);
    d.Fill(0);
    for (int32_t y = 100; y < 200; ++y)
        for (int32_t x = 100; x < 200; ++x) d.SetPixel(x, y, 1);
    ASSERT_EQ(d.WhiteIndex(), 0);
    ASSERT_EQ(d.BlackIndex(), 0);
    TBlobList text, images;
    int32_t calls = 0;
    d.FindImagesAndText(text, images, [&](int32_t) { ++calls; });
    EXPECT_GT(calls, 0);
    EXPECT_EQ(text.Count(), 0);
    EXPECT_EQ(images.Count(), 0);
}

TEST(FindImagesAndText, NewspaperPage) {
    // At 150 dpi 1240 x 1754 halves four times (to 77 x 109); the pictures are rejected as
    // text at every level, so candidates are examined at levels 4 down to 1.
    TDIB page;
    const testpage::PageLayout layout = testpage::DrawNewspaperPage(page, 1240, 1754, 150);
    std::unique_ptr<TDIB> before(page.Duplicate());
    TBlobList text, images;
    std::vector<int32_t> calls;
    page.FindImagesAndText(text, images, [&](int32_t q) { calls.push_back(q); });
    EXPECT_TRUE(SameBytes(page, *before));
    EXPECT_EQ(ProgressRuns(calls), 4);

    // Each picture is one image block, trimmed to its dots.
    ASSERT_EQ(images.Count(), int32_t(layout.Pictures.size()));
    for (size_t i = 0; i < layout.Pictures.size(); ++i) {
        const auto& p = layout.Pictures[i];
        const TBlob& b = images[int32_t(i)];
        EXPECT_NEAR(b.Left, p.Left, 4);
        EXPECT_NEAR(b.Top, p.Top, 4);
        EXPECT_NEAR(b.Right, p.Right, 4);
        EXPECT_NEAR(b.Bottom, p.Bottom, 4);
    }
    // The black pixels of every text area lie in text blocks (all but a few), and no image
    // block reaches into text.
    for (const auto& t : layout.Text) {
        int64_t ink = 0, inText = 0;
        for (int32_t y = t.Top; y <= t.Bottom; ++y)
            for (int32_t x = t.Left; x <= t.Right; ++x) {
                if (page.GetPixel(x, y) != page.BlackIndex()) continue;
                ++ink;
                for (int32_t i = 0; i < text.Count(); ++i)
                    if (Covered(testpage::Rect{x, y, x, y}, text[i])) {
                        ++inText;
                        break;
                    }
            }
        EXPECT_GT(ink, 0);
        EXPECT_GT(inText * 100, ink * 97) << t.Left << "," << t.Top;
        for (int32_t i = 0; i < images.Count(); ++i) EXPECT_EQ(Covered(t, images[i]), 0);
    }
    // Reading order: by centre row, then centre column; centres are the rectangle centres.
    for (TBlobList* list : {&text, &images}) {
        for (int32_t i = 0; i < list->Count(); ++i) {
            const TBlob& b = (*list)[i];
            EXPECT_EQ(b.CenterX, (b.Left + b.Right) / 2);
            EXPECT_EQ(b.CenterY, (b.Top + b.Bottom) / 2);
            EXPECT_EQ(b.Tag, 0);
            if (i > 0) {
                const TBlob& a = (*list)[i - 1];
                EXPECT_TRUE(a.CenterY < b.CenterY || (a.CenterY == b.CenterY && a.CenterX <= b.CenterX));
            }
        }
    }
}

TEST(FindImagesAndText, A4PageHasSixLevels) {
    TDIB page;
    testpage::DrawNewspaperPage(page, 2480, 3508, 300);
    TBlobList text, images;
    std::vector<int32_t> calls;
    page.FindImagesAndText(text, images, [&](int32_t q) { calls.push_back(q); });
    EXPECT_EQ(ProgressRuns(calls), 5);  // levels 5 down to 1
    EXPECT_EQ(images.Count(), 2);
    EXPECT_GT(text.Count(), 3);
}

TEST(DrawBlobFrame, SetsExactlyTheFourEdges) {
    TDIB d;
    MakeWhitePage(d, 40, 30);
    d.DrawBlobFrame(TRect{10, 10, 20, 15}, d.BlackIndex());
    int32_t n = 0;
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            bool edge = ((y == 10 || y == 15) && x >= 10 && x <= 20) || ((x == 10 || x == 20) && y >= 10 && y <= 15);
            EXPECT_EQ(d.GetPixel(x, y) == d.BlackIndex(), edge) << x << "," << y;
            n += edge;
        }
    EXPECT_EQ(n, 2 * 11 + 2 * 6 - 4);
}

TEST(DrawBlobFrame, FramesReachingOutsideAreClipped) {
    TDIB d;
    MakeWhitePage(d, 20, 20);
    TBlobList list;
    list.AddBlob(TRect{-2, -2, 5, 5}, 0, 0, 0);
    list.AddBlob(TRect{15, 3, 21, 25}, 0, 0, 0);
    d.DrawBlobFrames(list, d.BlackIndex());
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            bool first = ((y == 5) && x <= 5) || ((x == 5) && y <= 5);
            bool second = (y == 3 && x >= 15) || (x == 15 && y >= 3);
            EXPECT_EQ(d.GetPixel(x, y) == d.BlackIndex(), first || second) << x << "," << y;
        }
}
