#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "blob_fixtures.h"
#include "cleanup/blobs.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

using namespace qil;
using namespace qil::test;

namespace {

// SmartDespeckle written out step by step on blob lists, as first described.
int32_t ReferenceSmartDespeckle(TDIB& d, int32_t maxW, int32_t maxH, bool pruneRuns) {
    int32_t result = 0;
    int32_t gap = static_cast<int32_t>(Round(static_cast<long double>(d.XResolution()) / 2.54L)) / 2;
    if (gap == 0) gap = 20;
    if (maxW <= 0) maxW = static_cast<int32_t>(Round(d.XResolution() / 2.54L / 10));
    if (maxW == 0) maxW = 4;
    if (maxH <= 0) maxH = static_cast<int32_t>(Round(d.YResolution() / 2.54L / 10));
    if (maxH == 0) maxH = 4;
    TBlobList all;
    ReferenceTrace(d, true, all);
    all.SortByLeftTop();
    TBlobList lines;
    for (int32_t i = 0; i < all.Count(); ++i) {
        const TBlob& b = all[i];
        bool joined = false;
        for (int32_t p = 0; p < lines.Count() && !joined; ++p)
            if (NearHorizontally(b, lines[p], gap)) {
                lines[p].SetRect(UnionRects(lines[p], b));
                joined = true;
            }
        if (!joined) lines.AddBlob(b, 0, 0, 0);
    }
    const int32_t white = d.WhiteIndex();
    auto big = [&](const TBlob& b) { return (b.Right - b.Left) > maxW || (b.Bottom - b.Top) > maxH; };
    for (int32_t p = 0; p < lines.Count(); ++p) {
        const int32_t mid = (lines[p].Top + lines[p].Bottom) / 2;
        TBlobList m;
        CollectIntersecting(lines[p], all, m);
        m.SortByLeftTop();
        bool anyBig = false;
        for (int32_t i = 0; i < m.Count(); ++i) anyBig = anyBig || big(m[i]);
        if (!anyBig) {
            result += d.PaintBlobs(m, 0, m.Count() - 1, white);
            continue;
        }
        if (!pruneRuns) continue;
        int32_t j = 0;
        while (j < m.Count()) {
            if (big(m[j])) {
                m[j].Tag = 0;
                ++j;
                continue;
            }
            m[j].Tag = m[j].Top < mid ? 1 : 2;
            bool merged = false;
            const int32_t c = m.Count();
            for (int32_t k = 0; k < c; ++k) {
                if (k == j || !NearVertically(m[j], m[k], gap / 2)) continue;
                m[k].SetRect(UnionRects(m[k], m[j]));
                m.Delete(j);
                merged = true;
                break;
            }
            if (!merged) ++j;
        }
        m.SortByLeft();
        int32_t lower = 0, upper = 0;
        for (int32_t k = 0; k < m.Count(); ++k) {
            const int32_t tag = m[k].Tag;
            if (tag == 1) {
                ++upper;
                if (lower > 3) result += d.PaintBlobs(m, k - (lower - 3), k - 1, white);
                lower = 0;
            } else if (tag == 2) {
                ++lower;
                if (upper > 2) result += d.PaintBlobs(m, k - (upper - 2), k - 1, white);
                upper = 0;
            } else {
                if (lower > 3) result += d.PaintBlobs(m, k - (lower - 3), k - 1, white);
                if (upper > 2) result += d.PaintBlobs(m, k - (upper - 2), k - 1, white);
                lower = upper = 0;
            }
        }
    }
    return result;
}

// A page of random filled rectangles, mostly specks, some letter-sized, on a coarse grid so
// that equal Lefts and Tops are common.
std::unique_ptr<TDIB> RandomMarks(int32_t w, int32_t h, int32_t marks, int32_t dpi, uint32_t seed) {
    auto d = BlankPage(w, h, dpi);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> gx(0, (w - 1) / 2), gy(0, (h - 1) / 2), size(0, 9), big(4, 14);
    for (int32_t i = 0; i < marks; ++i) {
        const int32_t x = 2 * gx(rng), y = 2 * gy(rng);
        const bool letter = size(rng) == 0;
        const int32_t sw = letter ? big(rng) : size(rng) / 4, sh = letter ? big(rng) : size(rng) / 5;
        Blacken(*d, x, y, std::min(x + sw, w - 1), std::min(y + sh, h - 1));
    }
    return d;
}

// A text line: two big letters with ten small marks between them, below the middle.
std::unique_ptr<TDIB> LineWithTenLowerMarks() {
    auto d = BlankPage(120, 40, 300);
    Blacken(*d, 2, 5, 11, 25);     // big letter
    for (int32_t i = 0; i < 10; ++i) Blacken(*d, 15 + 8 * i, 22, 16 + 8 * i, 23);
    Blacken(*d, 100, 5, 109, 25);  // big letter
    return d;
}

}  // namespace

TEST(Despeckle, ErasesComponentsWithinTheLimits) {
    auto page = MakePage({
        "###.....####....",
        "###...........#.",
        "###...........#.",
        "..........#.....",
        "...####...#.....",
        "..........#.....",
        "..........#.....",
    });
    EXPECT_EQ(page->Despeckle(3, 3), 2);  // the 3 x 3 and the 1 x 2; not 4 x 1 or 1 x 4
    EXPECT_EQ(Dump(*page), (std::vector<std::string>{
                               "........####....",
                               "................",
                               "................",
                               "..........#.....",
                               "...####...#.....",
                               "..........#.....",
                               "..........#.....",
                           }));

    auto none = BlankPage(30, 20);
    EXPECT_EQ(none->Despeckle(3, 3), 0);
    EXPECT_EQ(none->SmartDespeckle(3, 3, true), 0);
    EXPECT_EQ(Dump(*none), Dump(*BlankPage(30, 20)));
}

TEST(Despeckle, PaintsTheWholeBoundingRectangle) {
    // The diagonal speck's box covers the first pixel of the bar, which it does not touch.
    auto page = MakePage({
        "#...#########",
        ".#...........",
        "..#..........",
        "...#.........",
        "....#........",
    });
    EXPECT_EQ(page->Despeckle(8, 1), 0);
    EXPECT_EQ(page->Despeckle(5, 5), 1);
    EXPECT_EQ(Dump(*page), (std::vector<std::string>{".....########", ".............", ".............",
                                                     ".............", "............."}));
}

TEST(Despeckle, DefaultLimitsFromResolution) {
    struct Case {
        int32_t dpi, side;
        bool erased;
    } cases[] = {
        {300, 6, true},  // round(300 / 2.54 / 20) = 6
        {300, 7, false},
        {0, 2, true},  // 0 dpi: fallback 2
        {0, 3, false},
        {72, 1, true},  // round(1.417) = 1
        {72, 2, false},
    };
    for (const auto& c : cases) {
        auto page = BlankPage(20, 20, c.dpi);
        Blacken(*page, 5, 5, 5 + c.side - 1, 5 + c.side - 1);
        EXPECT_EQ(page->Despeckle(0, -1), c.erased ? 1 : 0) << c.dpi << " " << c.side;
    }
}

TEST(Despeckle, RefusesOtherFormats) {
    for (uint8_t fmt : {fmt4Bit, fmt8Bit, fmt24Bit}) {
        TDIB d;
        d.CreateNew(5, 5, fmt, 300, 300);
        for (int which = 0; which < 2; ++which) {
            try {
                if (which == 0)
                    d.Despeckle(3, 3);
                else
                    d.SmartDespeckle(3, 3, true);
                FAIL();
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "This operation requires 1 bit per pixel bitmap !");
            }
        }
    }
}

TEST(SmartDespeckle, SparesMarksOnTextLines) {
    // 300 dpi: Gap = round(118.11) div 2 = 59, components join a line within 29 columns.
    auto page = BlankPage(300, 80, 300);
    Blacken(*page, 10, 10, 19, 29);   // a letter
    Blacken(*page, 40, 27, 41, 29);   // a full stop 20 columns after it: kept
    Blacken(*page, 150, 10, 151, 11);  // isolated specks, each its own line: erased
    Blacken(*page, 250, 10, 251, 11);
    Blacken(*page, 150, 60, 150, 60);
    Blacken(*page, 49, 40, 52, 40);   // 4 wide (extent 3) is small; far below: its own line
    auto before = Dump(*page);
    EXPECT_EQ(page->SmartDespeckle(3, 3, false), 4);
    auto after = Dump(*page);
    EXPECT_EQ(after[10].substr(10, 10), std::string(10, '#'));
    EXPECT_EQ(after[28].substr(40, 2), "##");
    EXPECT_EQ(after[10].substr(150), std::string(150, '.'));
    EXPECT_EQ(after[60], std::string(300, '.'));
    EXPECT_EQ(after[40], std::string(300, '.'));

    // A 5-wide mark (extent 4) is big: its line is kept.
    auto wide = BlankPage(100, 30, 300);
    Blacken(*wide, 10, 10, 14, 10);
    EXPECT_EQ(wide->SmartDespeckle(3, 3, false), 0);
    EXPECT_EQ(Dump(*wide)[10].substr(10, 5), "#####");
}

TEST(SmartDespeckle, LineOfSpecksTouchingABigComponentIsKept) {
    // The specks chain into one line that steps down into the rows of a big component of
    // another line; that component is then also a member of the specks' line.
    for (bool withBig : {true, false}) {
        auto page = BlankPage(200, 60, 300);
        Blacken(*page, 60, 10, 61, 13);
        Blacken(*page, 80, 12, 81, 15);
        Blacken(*page, 100, 14, 101, 17);
        Blacken(*page, 120, 16, 121, 19);
        Blacken(*page, 140, 18, 141, 21);
        if (withBig) Blacken(*page, 100, 20, 115, 50);
        EXPECT_EQ(page->SmartDespeckle(3, 3, false), withBig ? 0 : 5);
        EXPECT_EQ(Dump(*page)[21][140], withBig ? '#' : '.');
    }
}

TEST(SmartDespeckle, PruneRunsKeepsTheFirstThreeLowerMarks) {
    auto page = LineWithTenLowerMarks();
    EXPECT_EQ(page->SmartDespeckle(3, 3, true), 7);
    auto rows = Dump(*page);
    for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(rows[22][size_t(15 + 8 * i)], i < 3 ? '#' : '.') << i;
    EXPECT_EQ(rows[10].substr(2, 10), std::string(10, '#'));

    auto untouched = LineWithTenLowerMarks();
    EXPECT_EQ(untouched->SmartDespeckle(3, 3, false), 0);
}

TEST(SmartDespeckle, MatchesTheListProcedureOnRandomPages) {
    struct Case {
        int32_t w, h, marks, dpi, maxW, maxH;
    } cases[] = {
        {200, 120, 300, 40, 3, 3}, {200, 120, 300, 40, 0, 0}, {160, 90, 500, 72, 2, 1},
        {300, 200, 900, 30, 3, 3}, {120, 300, 400, 0, 3, 3},  {250, 80, 200, 100, 5, 2},
    };
    uint32_t seed = 11;
    for (const auto& c : cases)
        for (bool prune : {false, true}) {
            auto page = RandomMarks(c.w, c.h, c.marks, c.dpi, seed++);
            auto ref = MakePage(Dump(*page), false, c.dpi);
            const int32_t got = page->SmartDespeckle(c.maxW, c.maxH, prune);
            const int32_t want = ReferenceSmartDespeckle(*ref, c.maxW, c.maxH, prune);
            EXPECT_EQ(got, want) << c.w << "x" << c.h << " dpi " << c.dpi << " prune " << prune;
            EXPECT_EQ(Dump(*page), Dump(*ref));
        }
}

TEST(SmartDespeckle, NegativeResolutionUsesTheSameRules) {
    // A page claiming negative pixels per metre gives a negative Gap.
    auto page = RandomMarks(150, 100, 300, 40, 99);
    page->Header->biXPelsPerMeter = -1575;
    auto ref = MakePage(Dump(*page), false, 40);
    ref->Header->biXPelsPerMeter = -1575;
    for (bool prune : {false, true}) {
        EXPECT_EQ(page->SmartDespeckle(3, 3, prune), ReferenceSmartDespeckle(*ref, 3, 3, prune));
        EXPECT_EQ(Dump(*page), Dump(*ref));
    }
}

TEST(DespeckleRoutines, CollectIntersectingAndPaintBlobs) {
    TBlobList source, target;
    source.AddBlob(TRect{0, 30, 5, 35}, 7, 1, 1);
    source.AddBlob(TRect{0, 0, 5, 5}, 7, 1, 1);
    source.AddBlob(TRect{50, 9, 55, 9}, 7, 1, 1);
    source.AddBlob(TRect{3, 8, 8, 12}, 7, 1, 1);
    source.AddBlob(TRect{4, 20, 6, 40}, 7, 1, 1);
    target.AddBlob(TRect{1, 1, 1, 1}, 0, 0, 0);
    CollectIntersecting(TRect{4, 4, 10, 20}, source, target);
    EXPECT_EQ(source[0].Top, 0);  // sorted by Top
    EXPECT_EQ(source[4].Top, 30);
    ASSERT_EQ(target.Count(), 4);  // appended
    EXPECT_EQ(target[1], (TBlob{{0, 0, 5, 5}, 0, 0, 0, 0}));
    EXPECT_EQ(target[2], (TBlob{{3, 8, 8, 12}, 0, 0, 0, 0}));
    EXPECT_EQ(target[3], (TBlob{{4, 20, 6, 40}, 0, 0, 0, 0}));

    auto page = BlankPage(12, 12);
    EXPECT_EQ(page->PaintBlobs(target, 0, 1, page->BlackIndex()), 2);
    EXPECT_EQ(page->PaintBlobs(target, 0, -1, page->BlackIndex()), 0);
    auto rows = Dump(*page);
    EXPECT_EQ(rows[1], "######......");
    EXPECT_EQ(rows[5], "######......");
    EXPECT_EQ(rows[6], "............");
    EXPECT_THROW(page->PaintBlobs(target, 3, 4, 0), EListError);
}
