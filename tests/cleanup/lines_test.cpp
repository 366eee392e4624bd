#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cleanup/line_runs.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

// A white bilevel page. The default color table (black, white) makes black bit 0; with
// `whiteFirst` the table is (white, black) and black is bit 1.
std::unique_ptr<TDIB> Page(int32_t w, int32_t h, bool whiteFirst = false) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, 300, 300);
    if (whiteFirst) {
        d->SetPaletteEntry(0, 0x00FFFFFF);
        d->SetPaletteEntry(1, 0);
    }
    d->Fill(whiteFirst ? 0x00 : 0xFF);
    return d;
}

void Box(TDIB& d, int32_t l, int32_t t, int32_t r, int32_t b, bool black = true) {
    const int32_t v = black ? d.BlackIndex() : d.WhiteIndex();
    for (int32_t y = t; y <= b; ++y)
        for (int32_t x = l; x <= r; ++x) d.SetPixel(x, y, v);
}

bool IsBlack(TDIB& d, int32_t x, int32_t y) { return d.GetPixel(x, y) == d.BlackIndex(); }

std::vector<TRect> Rects(const std::vector<detail::LineSeg>& segs, bool horizontal) {
    std::vector<TRect> out;
    for (const detail::LineSeg& s : segs) out.push_back(detail::ToRect(s, horizontal));
    return out;
}

// The run finder exactly as its steps read, one pixel at a time, for comparison.
std::vector<TRect> ReferenceRuns(TDIB& d, bool horizontal, int32_t minLength, int32_t maxHoles) {
    std::vector<TRect> runs;
    const int32_t black = d.BlackIndex();
    const int32_t outer = horizontal ? d.Height() : d.Width(), n = horizontal ? d.Width() : d.Height();
    for (int32_t o = 0; o < outer; ++o) {
        auto px = [&](int32_t i) { return horizontal ? d.GetPixel(i, o) : d.GetPixel(o, i); };
        int32_t x = 0;
        while (x < n) {
            if (px(x) == black) {
                int32_t k = x + 1, holes = 0;
                for (;;) {
                    if (holes > maxHoles && holes > (k - x + 1) / 64) break;
                    while (k < n && px(k) == black) ++k;
                    if (k >= n) break;
                    ++holes;
                    ++k;
                }
                if (k >= n) k = n - 1;
                while (k >= x && px(k) != black) --k;
                if (k - x + 1 >= minLength) runs.push_back(horizontal ? TRect{x, o, k, o} : TRect{o, x, o, k});
                x = k + 1;
            }
            ++x;
        }
    }
    return runs;
}

bool Intersect(const TRect& a, const TRect& b) {
    return a.Left <= b.Right && b.Left <= a.Right && a.Top <= b.Bottom && b.Top <= a.Bottom;
}

// Grouping and ratio filter as written: every run against every line, first touching line wins.
std::vector<TRect> ReferenceLines(TDIB& d, bool horizontal, int32_t minLength, int32_t maxHoles, double minRatio) {
    std::vector<TRect> lines;
    for (const TRect& r : ReferenceRuns(d, horizontal, minLength, maxHoles)) {
        bool joined = false;
        for (TRect& l : lines) {
            TRect g = l;
            if (horizontal) {
                --g.Top;
                ++g.Bottom;
            } else {
                --g.Left;
                ++g.Right;
            }
            if (Intersect(g, r)) {
                l = TRect{std::min(l.Left, r.Left), std::min(l.Top, r.Top), std::max(l.Right, r.Right),
                          std::max(l.Bottom, r.Bottom)};
                joined = true;
                break;
            }
        }
        if (!joined) lines.push_back(r);
    }
    std::vector<TRect> kept;
    for (const TRect& l : lines) {
        const long double len = horizontal ? l.Right - l.Left + 1 : l.Bottom - l.Top + 1;
        const long double thick = horizontal ? l.Bottom - l.Top + 1 : l.Right - l.Left + 1;
        if (len / thick >= minRatio) kept.push_back(l);
    }
    return kept;
}

// A one-row page from a pattern of 'B' and 'W'.
std::unique_ptr<TDIB> RowPage(const std::string& pattern, bool vertical) {
    const int32_t n = static_cast<int32_t>(pattern.size());
    auto d = vertical ? Page(1, n) : Page(n, 1);
    for (int32_t i = 0; i < n; ++i)
        if (pattern[static_cast<size_t>(i)] == 'B') d->SetPixel(vertical ? 0 : i, vertical ? i : 0, d->BlackIndex());
    return d;
}

struct RunCase {
    std::string row;
    int32_t maxHoles;
    std::vector<std::pair<int32_t, int32_t>> runs;
};

TEST(LineRuns, TableOfRows) {
    const std::vector<RunCase> cases = {
        {"BBBWBB", 0, {{0, 4}}},
        {"BWB", 0, {{0, 2}}},
        {"BWWB", 0, {{0, 0}, {3, 3}}},
        {"BBBBWWBBBB", 2, {{0, 9}}},
        {"BBWBBWBWBBB", 2, {{0, 8}, {10, 10}}},
        {"BBWBBWBWWBB", 2, {{0, 6}, {9, 10}}},
        {std::string(62, 'B') + "W" + std::string(5, 'B'), 0, {{0, 67}}},
        {"WWBWWWB", 0, {{2, 2}, {6, 6}}},
        {"", 0, {}},
        {"WWW", 5, {}},
    };
    for (bool vertical : {false, true})
        for (const RunCase& c : cases) {
            auto d = RowPage(c.row.empty() ? "W" : c.row, vertical);
            if (c.row.empty()) d->CreateNew(0, 0, fmt1Bit, 72, 72);
            const auto runs = Rects(detail::FindLineRuns(*d, !vertical, 1, c.maxHoles), !vertical);
            ASSERT_EQ(runs.size(), c.runs.size()) << c.row << " vertical " << vertical;
            for (size_t i = 0; i < c.runs.size(); ++i) {
                const auto [a, b] = c.runs[i];
                const TRect expected = vertical ? TRect{0, a, 0, b} : TRect{a, 0, b, 0};
                EXPECT_EQ(runs[i], expected) << c.row << " run " << i << " vertical " << vertical;
            }
        }
}

TEST(LineRuns, MatchPixelByPixelScanOnRandomPages) {
    std::mt19937 rng(7);
    struct Case {
        int32_t w, h;
        double whiteShare;
        int32_t minLength, maxHoles;
    };
    const Case cases[] = {{150, 130, 0.5, 1, 0}, {150, 130, 0.3, 3, 2}, {301, 67, 0.03, 50, 0},
                          {301, 67, 0.08, 20, 1}, {64, 64, 0.1, 5, 3}, {129, 200, 0.02, 100, 2},
                          {1, 300, 0.05, 10, 0}, {300, 1, 0.05, 10, 0}};
    for (const Case& c : cases)
        for (bool whiteFirst : {false, true}) {
            auto d = Page(c.w, c.h, whiteFirst);
            std::bernoulli_distribution white(c.whiteShare);
            for (int32_t y = 0; y < c.h; ++y)
                for (int32_t x = 0; x < c.w; ++x) d->SetPixel(x, y, white(rng) ? d->WhiteIndex() : d->BlackIndex());
            for (bool horizontal : {true, false}) {
                EXPECT_EQ(Rects(detail::FindLineRuns(*d, horizontal, c.minLength, c.maxHoles), horizontal), ReferenceRuns(*d, horizontal, c.minLength, c.maxHoles))
                    << c.w << "x" << c.h << " horizontal " << horizontal << " whiteFirst " << whiteFirst;
                EXPECT_EQ(Rects(detail::FindLineSegs(*d, horizontal, c.minLength, c.maxHoles, 2.5), horizontal),
                          ReferenceLines(*d, horizontal, c.minLength, c.maxHoles, 2.5))
                    << c.w << "x" << c.h << " horizontal " << horizontal;
            }
        }
}

TEST(LineRuns, PaddingBitsAreNotPixels) {
    // Width 70: the padding after pixel 69 is set by Fill; with black = bit 1 it would look black.
    auto d = Page(70, 3, true);
    std::memset(d->Bits, 0xFF, static_cast<size_t>(d->Stride) * 3);  // all black, padding too
    const auto runs = Rects(detail::FindLineRuns(*d, true, 1, 0), true);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0], Rect(0, 0, 69, 0));
    const auto columns = Rects(detail::FindLineRuns(*d, false, 1, 0), false);
    ASSERT_EQ(columns.size(), 70u);
    EXPECT_EQ(columns[69], Rect(69, 0, 69, 2));
}

TEST(FindLines, GroupingAndRatio) {
    auto d = Page(400, 120);
    Box(*d, 10, 10, 309, 12);    // 300 x 3: ratio 100
    Box(*d, 10, 40, 309, 79);    // 300 x 40: ratio 7.5
    Box(*d, 10, 100, 108, 101);  // 99 long: never a run of MinLength 100
    const auto lines = Rects(detail::FindLineSegs(*d, true, 100, 2, 10), true);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], Rect(10, 10, 309, 12));
    const auto loose = Rects(detail::FindLineSegs(*d, true, 100, 2, 7.5), true);  // 7.5 >= 7.5 keeps the box
    ASSERT_EQ(loose.size(), 2u);
    EXPECT_EQ(loose[1], Rect(10, 40, 309, 79));
    const auto shorter = Rects(detail::FindLineSegs(*d, true, 99, 2, 10), true);
    ASSERT_EQ(shorter.size(), 2u);
    EXPECT_EQ(shorter[1], Rect(10, 100, 108, 101));
}

TEST(FindLines, ARunJoinsOnlyTheFirstLineItTouches) {
    // Two lines side by side in rows 10 ... 11; a long run in row 12 touches both and joins the
    // first; the second is not merged into it.
    auto d = Page(500, 30);
    Box(*d, 0, 10, 149, 11);
    Box(*d, 200, 10, 349, 11);
    Box(*d, 100, 12, 250, 12);
    const auto lines = Rects(detail::FindLineSegs(*d, true, 100, 0, 1), true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Rect(0, 10, 250, 12));
    EXPECT_EQ(lines[1], Rect(200, 10, 349, 11));
}

TEST(RemoveLines, ErasesLongThinLinesOnly) {
    for (bool whiteFirst : {false, true}) {
        auto d = Page(400, 120, whiteFirst);
        Box(*d, 10, 10, 309, 12);
        Box(*d, 10, 40, 309, 79);
        EXPECT_EQ(d->RemoveHorizontalLines(100, 2, 10, false, false), 1);
        EXPECT_FALSE(IsBlack(*d, 10, 10));
        EXPECT_FALSE(IsBlack(*d, 309, 12));
        EXPECT_TRUE(IsBlack(*d, 10, 40));
        EXPECT_TRUE(IsBlack(*d, 309, 79));
    }
}

TEST(RemoveLines, ReconnectsCrossingStrokes) {
    // Line rows 20 ... 22; a stroke two columns wide crossing it from row 15 to 27; a stroke
    // coming from above and stopping at the line; a single pixel touching the line from above.
    for (bool reconnect : {false, true})
        for (bool whiteFirst : {false, true}) {
            auto d = Page(400, 40, whiteFirst);
            Box(*d, 10, 20, 309, 22);
            Box(*d, 50, 15, 51, 27);
            Box(*d, 100, 15, 101, 19);
            Box(*d, 150, 19, 150, 19);
            EXPECT_EQ(d->RemoveHorizontalLines(100, 2, 10, true, reconnect), 1);
            for (int32_t y = 20; y <= 22; ++y) {
                EXPECT_EQ(IsBlack(*d, 50, y), reconnect);
                EXPECT_EQ(IsBlack(*d, 51, y), reconnect);
                EXPECT_FALSE(IsBlack(*d, 100, y));
                EXPECT_FALSE(IsBlack(*d, 52, y));
            }
            EXPECT_TRUE(IsBlack(*d, 50, 19));
            EXPECT_TRUE(IsBlack(*d, 51, 23));
            EXPECT_TRUE(IsBlack(*d, 100, 19));   // has a black pixel above it: stays
            EXPECT_FALSE(IsBlack(*d, 150, 19));  // a one-pixel bump: cleaned
        }
}

TEST(RemoveLines, VerticalMirror) {
    // The same scene turned: line columns 20 ... 22, rows 10 ... 309.
    for (bool reconnect : {false, true}) {
        auto d = Page(40, 400);
        Box(*d, 20, 10, 22, 309);
        Box(*d, 15, 50, 27, 51);
        Box(*d, 15, 100, 19, 101);
        Box(*d, 23, 150, 23, 150);  // bump on the right side
        EXPECT_EQ(d->RemoveVerticalLines(100, 2, 10, true, reconnect), 1);
        for (int32_t x = 20; x <= 22; ++x) {
            EXPECT_EQ(IsBlack(*d, x, 50), reconnect);
            EXPECT_EQ(IsBlack(*d, x, 51), reconnect);
            EXPECT_FALSE(IsBlack(*d, x, 100));
        }
        EXPECT_TRUE(IsBlack(*d, 19, 100));
        EXPECT_FALSE(IsBlack(*d, 23, 150));
    }
}

TEST(RemoveLines, LinesAtThePageEdgeAreNotReconnected) {
    auto d = Page(400, 40);
    Box(*d, 10, 0, 309, 1);    // rows 0 ... 1
    Box(*d, 50, 0, 51, 8);     // a stroke leaving the line downwards
    Box(*d, 80, 2, 80, 2);     // one pixel below, white under it: cleaned by CleanBelow
    EXPECT_EQ(d->RemoveHorizontalLines(100, 2, 10, true, true), 1);
    EXPECT_FALSE(IsBlack(*d, 50, 0));
    EXPECT_FALSE(IsBlack(*d, 50, 1));
    EXPECT_TRUE(IsBlack(*d, 50, 2));
    EXPECT_FALSE(IsBlack(*d, 80, 2));
}

TEST(RemoveLines, BothSearchesRunBeforeAnyPainting) {
    auto make = [] {
        auto d = Page(400, 400);
        Box(*d, 10, 150, 309, 152);  // horizontal
        Box(*d, 100, 10, 102, 309);  // vertical, crossing it
        return d;
    };
    auto d = make();
    EXPECT_EQ(d->RemoveLines(100, 2, 10, 200, 0, 10, true, false), 2);
    for (int32_t y = 0; y < 400; ++y)
        for (int32_t x = 0; x < 400; ++x) ASSERT_FALSE(IsBlack(*d, x, y)) << x << "," << y;
    // One after the other, the vertical line is cut in two pieces shorter than 200 first.
    auto e = make();
    EXPECT_EQ(e->RemoveHorizontalLines(100, 2, 10, true, false), 1);
    EXPECT_EQ(e->RemoveVerticalLines(200, 0, 10, true, false), 0);
    EXPECT_TRUE(IsBlack(*e, 100, 10));
}

TEST(RemoveLines, CleanAndReconnectDirectly) {
    auto d = Page(20, 10);
    Box(*d, 3, 3, 3, 3);  // bump above row 4, white above it
    Box(*d, 5, 2, 5, 3);  // two-pixel stroke
    d->CleanAbove(0, 4, 19);
    EXPECT_FALSE(IsBlack(*d, 3, 3));
    EXPECT_TRUE(IsBlack(*d, 5, 3));
    Box(*d, 7, 0, 7, 0);
    d->CleanAbove(0, 1, 19);  // Y - 2 < 0: nothing
    EXPECT_TRUE(IsBlack(*d, 7, 0));
    Box(*d, 9, 9, 9, 9);
    d->CleanBelow(0, 8, 19);  // Y + 2 = Height: nothing
    EXPECT_TRUE(IsBlack(*d, 9, 9));
    d->CleanBelow(-50, 1, 500);  // columns outside the image are skipped
    // Reconnect needs all four pixels
    auto e = Page(20, 12);
    Box(*e, 4, 0, 4, 11);
    Box(*e, 6, 0, 6, 11);
    Box(*e, 6, 3, 6, 3, false);  // a gap just above the line
    Box(*e, 0, 5, 19, 6, false);
    e->ReconnectHorizontal(Rect(0, 5, 19, 6));
    EXPECT_TRUE(IsBlack(*e, 4, 5));
    EXPECT_TRUE(IsBlack(*e, 4, 6));
    EXPECT_FALSE(IsBlack(*e, 6, 5));
    e->ReconnectVertical(Rect(5, 5, 4, 5));  // inverted: nothing, no fault
    e->ReconnectVertical(Rect(0, 0, 3, 3));  // Left - 2 < 0: nothing
}

TEST(RemoveLines, RefusesOtherFormats) {
    TDIB d;
    d.CreateNew(10, 10, fmt8Bit, 72, 72);
    const std::string msg = "This operation requires 1 bit per pixel bitmap !";
    auto text = [](auto f) {
        try {
            f();
        } catch (const Exception& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(text([&] { d.RemoveLines(100, 2, 10, 100, 2, 10, true, true); }), msg);
    EXPECT_EQ(text([&] { d.RemoveHorizontalLines(100, 2, 10, true, true); }), msg);
    EXPECT_EQ(text([&] { d.RemoveVerticalLines(100, 2, 10, true, true); }), msg);
    EXPECT_EQ(text([&] { detail::FindLineRuns(d, false, 1, 0); }), msg);
}

}  // namespace
