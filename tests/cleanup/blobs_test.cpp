#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "blob_fixtures.h"
#include "cleanup/blobs.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;
using namespace qil::test;

namespace {

TBlob B(int32_t l, int32_t t, int32_t r, int32_t b, int32_t tag = 0, int32_t n = 0, int32_t cx = 0, int32_t cy = 0) {
    TBlob x;
    x.SetRect(TRect{l, t, r, b});
    x.Tag = tag;
    x.PixelCount = n;
    x.CenterX = cx;
    x.CenterY = cy;
    return x;
}

std::vector<TRect> Rects(const TBlobList& list) {
    std::vector<TRect> out;
    for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Items(i).AsRect());
    return out;
}

// The list sort written out as the recursive procedure, on plain values.
template <class KeyOf>
void RecursiveQuickSort(std::vector<TBlob>& a, int32_t l, int32_t r, KeyOf key) {
    int32_t i;
    do {
        i = l;
        int32_t j = r;
        const TBlob p = a[size_t((l + r) / 2)];
        do {
            while (key(a[size_t(i)]) < key(p)) ++i;
            while (key(a[size_t(j)]) > key(p)) --j;
            if (i <= j) {
                std::swap(a[size_t(i)], a[size_t(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) RecursiveQuickSort(a, l, j, key);
        l = i;
    } while (i < r);
}

}  // namespace

// ---- TBlobList and TPointList ----

TEST(BlobList, AddDeleteItemsAndIndexErrors) {
    TBlobList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.AddBlob(TRect{1, 2, 3, 4}, 5, 6, 7), 0);
    EXPECT_EQ(list.AddRect(10, 20, 30, 40), 1);
    EXPECT_EQ(list.AddBlob(TRect{0, 0, 0, 0}, 1, 0, 0), 2);
    EXPECT_EQ(list.Items(0), B(1, 2, 3, 4, 0, 5, 6, 7));
    EXPECT_EQ(list.Items(1).AsRect(), (TRect{10, 20, 30, 40}));

    TBlob& kept = list.Items(2);
    list.Items(0).Tag = 9;  // changed in place through the reference
    EXPECT_EQ(list[0].Tag, 9);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(&list.Items(1), &kept);  // later records shift down, references stay valid

    for (int32_t bad : {-1, 2, 100}) {
        try {
            list.Items(bad);
            FAIL() << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
        }
        EXPECT_THROW(list.Delete(bad), EListError);
    }
    list.Clear();
    EXPECT_EQ(list.Count(), 0);

    TPointList pts;
    EXPECT_EQ(pts.Add(3, 4, 0), 0);
    EXPECT_EQ(pts.Add(5, 6, 1), 1);
    EXPECT_EQ(pts.Items(1).X, 5);
    EXPECT_EQ(pts.Items(1).Expanded, 1);
    EXPECT_EQ(pts.Items(0).Expanded, 0);
    EXPECT_THROW(pts.Items(2), EListError);
}

TEST(BlobList, SortsLeaveEqualKeysInQuicksortOrder) {
    // Two and three equal keys: the scans stop at equal keys and swap them.
    TBlobList two;
    two.AddBlob(TRect{5, 0, 5, 0}, 1, 0, 0);
    two.AddBlob(TRect{5, 0, 5, 0}, 2, 0, 0);
    two.SortByLeft();
    EXPECT_EQ(two[0].PixelCount, 2);
    EXPECT_EQ(two[1].PixelCount, 1);

    TBlobList three;
    for (int32_t id = 1; id <= 3; ++id) three.AddBlob(TRect{0, 7, 1, 8}, id, 0, 0);
    three.SortByTop();
    EXPECT_EQ(three[0].PixelCount, 3);
    EXPECT_EQ(three[1].PixelCount, 2);
    EXPECT_EQ(three[2].PixelCount, 1);

    TBlobList empty;
    empty.SortByLeftTop();
    EXPECT_EQ(empty.Count(), 0);
}

TEST(BlobList, SortsMatchTheRecursiveProcedureOnManyDuplicates) {
    struct Sort {
        const char* name;
        void (TBlobList::*method)();
        int64_t (*key)(const TBlob&);
    } sorts[] = {
        {"Left", &TBlobList::SortByLeft, [](const TBlob& b) { return int64_t(b.Left); }},
        {"Top", &TBlobList::SortByTop, [](const TBlob& b) { return int64_t(b.Top); }},
        {"LeftTop", &TBlobList::SortByLeftTop, [](const TBlob& b) { return int64_t(b.Left) * 100000 + b.Top; }},
        {"Center", &TBlobList::SortByCenter, [](const TBlob& b) { return int64_t(b.CenterY) * 100000 + b.CenterX; }},
    };
    std::mt19937 rng(7);
    for (const auto& s : sorts)
        for (int32_t n : {2, 3, 17, 500}) {
            std::uniform_int_distribution<int32_t> small(-3, 3);
            std::vector<TBlob> ref;
            TBlobList list;
            for (int32_t i = 0; i < n; ++i) {
                TBlob b = B(small(rng), small(rng), 50, 50, 0, i, small(rng), small(rng));
                ref.push_back(b);
                list.AddBlob(b, b.PixelCount, b.CenterX, b.CenterY);
            }
            RecursiveQuickSort(ref, 0, n - 1, s.key);
            (list.*s.method)();
            EXPECT_EQ(Records(list), ref) << s.name << " n=" << n;
        }
}

TEST(BlobList, ComputeCentersTruncates) {
    TBlobList list;
    list.AddBlob(TRect{0, 0, 5, 3}, 0, 99, 99);
    list.AddBlob(TRect{-3, -5, 0, 0}, 0, 99, 99);
    list.ComputeCenters();
    EXPECT_EQ(list[0].CenterX, 2);
    EXPECT_EQ(list[0].CenterY, 1);
    EXPECT_EQ(list[1].CenterX, -1);
    EXPECT_EQ(list[1].CenterY, -2);
}

TEST(BlobList, MergeOverlapping) {
    // A chain: A touches B, B touches C, A does not touch C.
    TBlobList chain;
    chain.AddBlob(TRect{0, 0, 4, 4}, 11, 1, 2);
    chain.AddBlob(TRect{4, 0, 8, 4}, 22, 0, 0);
    chain.AddBlob(TRect{8, 2, 12, 9}, 33, 0, 0);
    chain.Items(0).Tag = 5;
    chain.MergeOverlapping(0);
    ASSERT_EQ(chain.Count(), 1);
    EXPECT_EQ(chain[0], B(0, 0, 12, 9, 5, 11, 1, 2));  // the survivor keeps its own fields

    // Order of the chain reversed: the grown record absorbs lower j in the same pass.
    TBlobList rev;
    rev.AddBlob(TRect{0, 0, 4, 4}, 1, 0, 0);
    rev.AddBlob(TRect{50, 50, 60, 60}, 2, 0, 0);
    rev.AddBlob(TRect{8, 2, 12, 9}, 3, 0, 0);
    rev.AddBlob(TRect{4, 0, 8, 4}, 4, 0, 0);
    rev.MergeOverlapping(0);
    EXPECT_EQ(Rects(rev), (std::vector<TRect>{{0, 0, 12, 9}, {50, 50, 60, 60}}));

    // With a percentage: one shared column is no overlap at all; two give 18.18 %.
    TBlobList column;
    column.AddBlob(TRect{0, 0, 10, 10}, 0, 0, 0);
    column.AddBlob(TRect{10, 0, 20, 10}, 0, 0, 0);
    column.MergeOverlapping(0.001);
    EXPECT_EQ(column.Count(), 2);
    TBlobList pct;
    pct.AddBlob(TRect{0, 0, 10, 10}, 0, 0, 0);
    pct.AddBlob(TRect{9, 0, 20, 10}, 0, 0, 0);
    pct.MergeOverlapping(20);
    EXPECT_EQ(pct.Count(), 2);
    pct.MergeOverlapping(18);
    EXPECT_EQ(Rects(pct), (std::vector<TRect>{{0, 0, 20, 10}}));
}

TEST(BlobList, RemoveContainedDeletesOnlyLaterRecords) {
    TBlobList smallFirst;
    smallFirst.AddBlob(TRect{2, 2, 3, 3}, 0, 0, 0);
    smallFirst.AddBlob(TRect{0, 0, 10, 10}, 0, 0, 0);
    smallFirst.RemoveContained();
    EXPECT_EQ(smallFirst.Count(), 2);

    TBlobList bigFirst;
    bigFirst.AddBlob(TRect{0, 0, 10, 10}, 0, 0, 0);
    bigFirst.AddBlob(TRect{2, 2, 3, 3}, 0, 0, 0);
    bigFirst.AddBlob(TRect{0, 0, 10, 10}, 0, 0, 0);  // equal rectangles count as inside
    bigFirst.AddBlob(TRect{20, 0, 30, 10}, 0, 0, 0);
    bigFirst.RemoveContained();
    EXPECT_EQ(Rects(bigFirst), (std::vector<TRect>{{0, 0, 10, 10}, {20, 0, 30, 10}}));
}

TEST(BlobList, RemoveContainedMatchesRepeatedPasses) {
    // The passes as described, one Delete at a time, against the list's own sweep on random
    // lists: nested boxes, equal boxes, boxes far apart, negative coordinates, and lists with an
    // inverted rectangle. Records carry their original index as PixelCount.
    auto reference = [](std::vector<TRect> items) {
        std::vector<int32_t> ids(items.size());
        for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<int32_t>(i);
        bool deleted;
        do {
            deleted = false;
            const size_t c = items.size();
            for (size_t i = 0; i < c; ++i)
                for (size_t j = items.size() - 1; i < items.size() && j > i; --j)
                    if (RectInside(items[j], items[i])) {
                        items.erase(items.begin() + static_cast<ptrdiff_t>(j));
                        ids.erase(ids.begin() + static_cast<ptrdiff_t>(j));
                        deleted = true;
                    }
        } while (deleted);
        return ids;
    };
    std::mt19937 rng(21);
    for (int round = 0; round < 60; ++round) {
        const int32_t n = 1 + static_cast<int32_t>(rng() % 300), span = 20 + static_cast<int32_t>(rng() % 3000);
        std::vector<TRect> rects;
        for (int32_t i = 0; i < n; ++i) {
            if (!rects.empty() && rng() % 4 == 0) {  // inside (or equal to) an earlier box
                const TRect& o = rects[rng() % rects.size()];
                const int32_t l = o.Left + static_cast<int32_t>(rng() % 3), t = o.Top + static_cast<int32_t>(rng() % 3);
                rects.push_back(TRect{l, t, std::max(l, o.Right - static_cast<int32_t>(rng() % 3)),
                                      std::max(t, o.Bottom - static_cast<int32_t>(rng() % 3))});
                continue;
            }
            const int32_t l = static_cast<int32_t>(rng() % span) - span / 4, t = static_cast<int32_t>(rng() % span) - 10;
            const int32_t size = rng() % 10 == 0 ? span / 2 : 30;
            rects.push_back(TRect{l, t, l + static_cast<int32_t>(rng() % size), t + static_cast<int32_t>(rng() % size)});
        }
        if (round % 10 == 9) rects[rng() % rects.size()] = TRect{50, 50, 10, 60};  // inverted
        TBlobList list;
        for (size_t i = 0; i < rects.size(); ++i) list.AddBlob(rects[i], static_cast<int32_t>(i), 0, 0);
        list.RemoveContained();
        std::vector<int32_t> got;
        for (int32_t i = 0; i < list.Count(); ++i) got.push_back(list[i].PixelCount);
        ASSERT_EQ(got, reference(rects)) << "round " << round;
    }
}

TEST(BlobList, RemoveByDensityIsInclusive) {
    TBlobList list;
    list.AddBlob(TRect{0, 0, 9, 9}, 50, 0, 0);   // 50 %
    list.AddBlob(TRect{0, 0, 9, 9}, 20, 0, 0);   // 20 %
    list.AddBlob(TRect{0, 0, 9, 9}, 100, 0, 0);  // 100 %
    list.AddBlob(TRect{0, 0, 4, 0}, 3, 0, 0);    // 60 %
    list.AddBlob(TRect{0, 0, 2, 0}, 1, 0, 0);    // 33.33 %
    list.RemoveByDensity(20, 50);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].PixelCount, 100);
    EXPECT_EQ(list[1].PixelCount, 3);
}

TEST(BlobList, IndexOfContainingShrinksByTwo) {
    TBlobList list;
    list.AddBlob(TRect{13, 12, 18, 18}, 0, 0, 0);
    EXPECT_EQ(list.IndexOfContaining(TRect{10, 10, 20, 20}), -1);
    list.AddBlob(TRect{12, 12, 18, 18}, 0, 0, 0);
    list.AddBlob(TRect{0, 0, 100, 100}, 0, 0, 0);
    EXPECT_EQ(list.IndexOfContaining(TRect{10, 10, 20, 20}), 1);
    // Narrow rectangle: the shrunk (12, 12, 10, 18) is inverted and tested as it is.
    EXPECT_EQ(list.IndexOfContaining(TRect{10, 10, 12, 20}), 1);
    EXPECT_EQ(list.IndexOfContaining(TRect{10, 10, 12, 30}), 2);
    TBlobList none;
    EXPECT_EQ(none.IndexOfContaining(TRect{0, 0, 5, 5}), -1);
}

// ---- Rectangle routines ----

TEST(RectRoutines, Table) {
    struct Case {
        TRect a, b;
        bool intersect, touchV, touchH;
        double overlap;
    } cases[] = {
        {{0, 0, 10, 10}, {10, 0, 20, 10}, true, true, true, 0.0},                  // one shared column
        {{0, 0, 10, 10}, {9, 0, 20, 10}, true, true, true, 2.0 * 11 * 100 / 121},  // two columns
        {{0, 0, 10, 10}, {11, 0, 20, 10}, false, false, true, 0.0},                // adjacent columns
        {{0, 0, 10, 10}, {0, 11, 10, 20}, false, true, false, 0.0},                // adjacent rows
        {{0, 0, 10, 10}, {12, 12, 20, 20}, false, false, false, 0.0},
        {{5, 0, 5, 20}, {0, 0, 10, 10}, true, true, true, 0.0},  // one pixel wide inside: 0
        {{0, 0, 10, 10}, {2, 2, 5, 5}, true, true, true, 100.0},  // contained: I is the smaller one
        {{0, 5, 20, 6}, {5, 0, 6, 20}, true, true, true, 4 * 100.0 / 42},  // a cross
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RectsIntersect(c.a, c.b), c.intersect) << c.a.Left << "," << c.b.Left;
        EXPECT_EQ(RectsIntersect(c.b, c.a), c.intersect);
        EXPECT_EQ(TouchesVertically(c.a, c.b), c.touchV);
        EXPECT_EQ(TouchesHorizontally(c.a, c.b), c.touchH);
        EXPECT_DOUBLE_EQ(OverlapPercent(c.a, c.b), c.overlap);
    }
    EXPECT_NEAR(OverlapPercent(TRect{0, 0, 10, 10}, TRect{9, 0, 20, 10}), 18.18, 0.01);

    EXPECT_TRUE(RectsEqual(TRect{1, 2, 3, 4}, TRect{1, 2, 3, 4}));
    EXPECT_FALSE(RectsEqual(TRect{1, 2, 3, 4}, TRect{1, 2, 3, 5}));
    EXPECT_TRUE(IsZeroRect(TRect{0, 0, 0, 0}));
    EXPECT_FALSE(IsZeroRect(TRect{0, 0, 0, 1}));
    EXPECT_TRUE(RectInside(TRect{2, 2, 5, 5}, TRect{2, 2, 5, 5}));
    EXPECT_FALSE(RectInside(TRect{1, 2, 5, 5}, TRect{2, 2, 5, 5}));
    EXPECT_EQ(UnionRects(TRect{5, 1, 6, 9}, TRect{0, 3, 8, 4}), (TRect{0, 1, 8, 9}));
    EXPECT_TRUE(NearHorizontally(TRect{0, 0, 3, 3}, TRect{8, 0, 12, 3}, 10));    // reach 5
    EXPECT_FALSE(NearHorizontally(TRect{0, 0, 3, 3}, TRect{8, 0, 12, 3}, 9));    // reach 4
    EXPECT_FALSE(NearHorizontally(TRect{0, 0, 3, 3}, TRect{0, 9, 3, 12}, 100));  // other rows
    EXPECT_TRUE(NearVertically(TRect{0, 0, 3, 3}, TRect{0, 5, 3, 8}, 5));        // reach 2
    EXPECT_FALSE(NearVertically(TRect{0, 0, 3, 3}, TRect{0, 5, 3, 8}, 3));       // reach 1
    EXPECT_FALSE(NearVertically(TRect{0, 0, 3, 3}, TRect{9, 1, 12, 2}, 100));    // other columns
}

// ---- Tracers ----

TEST(FindBlobs, EmptyAndAllBlackPages) {
    for (bool eight : {true, false}) {
        auto white = BlankPage(13, 7);
        TBlobList list;
        white->FindBlobs(eight, 0, 0, 0, &list);
        EXPECT_EQ(list.Count(), 0);

        auto black = BlankPage(70, 9);
        Blacken(*black, 0, 0, 69, 8);
        black->FindBlobs(eight, 0, 0, 0, &list);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list[0], B(0, 0, 69, 8, 0, 70 * 9, 34, 4));  // 34.5 -> 34, ties to even
    }
}

TEST(FindBlobs, ConnectivitySeedOrderAndCentroids) {
    auto page = MakePage({
        "..........",
        ".#....##..",
        "..#....#..",
        ".......#..",
        "###.......",
        "......#...",
    });
    TBlobList eight, four;
    page->FindBlobs8(0, 0, 0, &eight);
    page->FindBlobs4(0, 0, 0, &four);
    // Seeds go column by column, top to bottom within a column.
    EXPECT_EQ(Records(eight), (std::vector<TBlob>{B(0, 4, 2, 4, 0, 3, 1, 4), B(1, 1, 2, 2, 0, 2, 2, 2),
                                                  B(6, 1, 7, 3, 0, 4, 7, 2), B(6, 5, 6, 5, 0, 1, 6, 5)}));
    // The corner pair (1,1)-(2,2) splits under 4-connectivity: (1,1) is seeded in column 1,
    // (2,2) in column 2 after the row-4 bar that starts in column 0.
    EXPECT_EQ(Records(four), (std::vector<TBlob>{B(0, 4, 2, 4, 0, 3, 1, 4), B(1, 1, 1, 1, 0, 1, 1, 1),
                                                 B(2, 2, 2, 2, 0, 1, 2, 2), B(6, 1, 7, 3, 0, 4, 7, 2),
                                                 B(6, 5, 6, 5, 0, 1, 6, 5)}));

    // Ties to even: (2,3)+(3,3) -> 2; (3,3)+(4,3) -> 4.
    for (auto [x0, cx] : {std::pair{2, 2}, std::pair{3, 4}}) {
        auto p = BlankPage(8, 6);
        Blacken(*p, x0, 3, x0 + 1, 3);
        TBlobList l;
        p->FindBlobs8(0, 0, 0, &l);
        ASSERT_EQ(l.Count(), 1);
        EXPECT_EQ(l[0].CenterX, cx);
        EXPECT_EQ(l[0].CenterY, 3);
    }
}

TEST(FindBlobs, AcceptanceLimits) {
    auto page = MakePage({
        "#..####...",
        "...####...",
        "........##",
        "..........",
    });
    struct Case {
        int32_t minW, minH, minN;
        std::vector<TRect> expect;
    } cases[] = {
        {0, 0, -5, {{0, 0, 0, 0}, {3, 0, 6, 1}, {8, 2, 9, 2}}},  // -5 behaves as 0
        {0, 0, 2, {{3, 0, 6, 1}, {8, 2, 9, 2}}},
        {0, 0, 3, {{3, 0, 6, 1}}},
        {2, 0, 0, {{3, 0, 6, 1}, {8, 2, 9, 2}}},
        {0, 2, 0, {{3, 0, 6, 1}}},
        {5, 0, 0, {}},
    };
    for (const auto& c : cases) {
        TBlobList l;
        page->FindBlobs8(c.minW, c.minH, c.minN, &l);
        EXPECT_EQ(Rects(l), c.expect) << c.minW << " " << c.minH << " " << c.minN;
    }

    struct RangeCase {
        int32_t minW, minH, minN, maxW, maxH, maxN;
        std::vector<TRect> expect;
    } ranges[] = {
        {0, 0, 0, 2147483647, 2147483647, 2147483647, {{0, 0, 0, 0}, {3, 0, 6, 1}, {8, 2, 9, 2}}},
        {0, 0, 0, 3, 3, 2147483647, {{0, 0, 0, 0}, {8, 2, 9, 2}}},
        {0, 0, 0, 10, 1, 2147483647, {{0, 0, 0, 0}, {8, 2, 9, 2}}},
        {0, 0, 2, 10, 10, 7, {{8, 2, 9, 2}}},
        {0, 0, 0, 10, 10, 8, {{0, 0, 0, 0}, {3, 0, 6, 1}, {8, 2, 9, 2}}},
        {2, 0, 0, 3, 10, 100, {{8, 2, 9, 2}}},
    };
    for (const auto& c : ranges) {
        TBlobList l;
        page->FindBlobsInRange(c.minW, c.minH, c.minN, c.maxW, c.maxH, c.maxN, &l);
        EXPECT_EQ(Rects(l), c.expect) << c.maxW << " " << c.maxH << " " << c.maxN;
        for (int32_t i = 0; i < l.Count(); ++i) {
            EXPECT_EQ(l[i].CenterX, 0);  // records carry no centre
            EXPECT_EQ(l[i].CenterY, 0);
            EXPECT_GT(l[i].PixelCount, 0);
        }
    }
}

TEST(FindBlobs, BlackComesFromTheColorTable) {
    const std::vector<std::string> rows = {"#...", "....", "..##"};
    // (white, black): black is value 1. (black, white): black is value 0.
    for (bool whiteBlack : {false, true}) {
        auto p = MakePage(rows, whiteBlack);
        EXPECT_EQ(p->BlackIndex(), whiteBlack ? 1 : 0);
        TBlobList l;
        p->FindBlobs8(0, 0, 0, &l);
        EXPECT_EQ(Rects(l), (std::vector<TRect>{{0, 0, 0, 0}, {2, 2, 3, 2}}));
    }
    // A table without pure black: value 1 is black.
    auto p = BlankPage(4, 3);
    p->SetPaletteEntry(0, 0x00808080);
    p->SetPaletteEntry(1, 0x00FFFFFF);
    p->Fill(0);
    p->SetPixel(1, 1, 1);
    TBlobList l;
    p->FindBlobs8(0, 0, 0, &l);
    EXPECT_EQ(Rects(l), (std::vector<TRect>{{1, 1, 1, 1}}));
}

TEST(FindBlobs, MatchesTheBreadthFirstTraceOnRandomPages) {
    struct Case {
        int32_t w, h;
        double p;
    } cases[] = {{1, 1, 0.5}, {1, 40, 0.5}, {40, 1, 0.5}, {63, 17, 0.3}, {64, 20, 0.45}, {65, 33, 0.55}, {130, 61, 0.6}};
    uint32_t seed = 1;
    for (const auto& c : cases)
        for (bool eight : {true, false}) {
            auto page = RandomPage(c.w, c.h, c.p, seed++);
            TBlobList fast, ref;
            page->FindBlobs(eight, 0, 0, 0, &fast);
            ReferenceTrace(*page, eight, ref);
            EXPECT_EQ(Records(fast), Records(ref)) << c.w << "x" << c.h << " eight=" << eight;
        }
}

TEST(FindBlobs, AppendsWithoutListOrWrongFormat) {
    auto page = MakePage({"#.#"});
    TBlobList l;
    l.AddBlob(TRect{9, 9, 9, 9}, 0, 0, 0);
    page->FindBlobs8(0, 0, 0, &l);
    EXPECT_EQ(l.Count(), 3);  // appended after the existing record
    page->FindBlobs8(0, 0, 0, nullptr);
    page->FindBlobsInRange(0, 0, 0, 9, 9, 9, nullptr);

    TDIB gray;
    gray.CreateNew(4, 4, fmt8Bit, 300, 300);
    auto expectRefused = [&](auto call) {
        try {
            call();
            FAIL();
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "This operation requires 1 bit per pixel bitmap !");
        }
        EXPECT_EQ(l.Count(), 3);
    };
    expectRefused([&] { gray.FindBlobs(true, 0, 0, 0, &l); });
    expectRefused([&] { gray.FindBlobs4(0, 0, 0, &l); });
    expectRefused([&] { gray.FindBlobsInRange(0, 0, 0, 9, 9, 9, &l); });
    expectRefused([&] { gray.FindBlobs8(0, 0, 0, nullptr); });
}

// ---- Painters ----

TEST(Painters, DrawLineWalksFromTheSecondPoint) {
    auto page = BlankPage(5, 3);
    page->DrawLine(0, 0, 3, 1, page->BlackIndex());
    EXPECT_EQ(Dump(*page), (std::vector<std::string>{"##...", "..##.", "....."}));

    auto steep = BlankPage(4, 6);
    steep->DrawLine(0, 5, 2, 0, steep->BlackIndex());  // DX = -0.4: round(-0.4 F) for F = 0..5
    EXPECT_EQ(Dump(*steep), (std::vector<std::string>{"..#.", "..#.", ".#..", ".#..", "#...", "#..."}));
}

TEST(Painters, PaintRectAnyOrderAnyFormatClipped) {
    auto page = BlankPage(8, 9);
    page->PaintRect(TRect{5, 7, 2, 3}, page->BlackIndex());
    auto rows = Dump(*page);
    for (int32_t y = 0; y < 9; ++y)
        EXPECT_EQ(rows[size_t(y)], (y >= 3 && y <= 7) ? "..####.." : "........") << y;

    // Partly and wholly outside: the outside points are skipped.
    auto big = BlankPage(70, 5);
    big->PaintRect(TRect{-10, -3, 66, 1}, big->BlackIndex());
    big->PaintRect(TRect{100, 100, 200, 200}, big->BlackIndex());
    big->DrawLine(-5, 4, 80, 4, big->BlackIndex());
    big->DrawLine(69, -5, 69, 50, big->BlackIndex());
    big->DrawLine(-3, -3, 200, 300, big->BlackIndex());
    rows = Dump(*big);
    EXPECT_EQ(rows[0], std::string(67, '#') + "..#");
    EXPECT_EQ(rows[1], std::string(67, '#') + "..#");
    EXPECT_EQ(rows[2].substr(60), std::string(9, '.') + "#");
    EXPECT_EQ(rows[4], std::string(70, '#'));

    TDIB gray;
    gray.CreateNew(6, 4, fmt8Bit, 72, 72);
    gray.PaintRect(TRect{1, 1, 3, 2}, 200);
    TDIB color;
    color.CreateNew(6, 4, fmt24Bit, 72, 72);
    color.PaintRect(TRect{4, 3, 1, 1}, 0x00123456);
    TDIB nib;
    nib.CreateNew(6, 4, fmt4Bit, 72, 72);
    nib.PaintRect(TRect{0, 0, 2, 0}, 9);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            EXPECT_EQ(gray.GetPixel(x, y), (x >= 1 && x <= 3 && y >= 1 && y <= 2) ? 200 : 0);
            EXPECT_EQ(color.GetPixel(x, y), (x >= 1 && x <= 4 && y >= 1) ? 0x00123456 : 0);
            EXPECT_EQ(nib.GetPixel(x, y), (x <= 2 && y == 0) ? 9 : 0);
        }
}

TEST(BlobList, ReSortingMovesEqualKeysByTheSamePermutation) {
    // A list already in Top order is rearranged again by every further sort (equal keys swap),
    // and each time by the same permutation of positions, since the sort only sees the keys.
    TBlobList list;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> top(0, 6);
    for (int32_t i = 0; i < 60; ++i) list.AddBlob(TRect{0, top(rng), 1, 50}, i, 0, 0);
    list.SortByTop();
    std::vector<int32_t> first, second, third;
    auto ids = [&] {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < list.Count(); ++i) v.push_back(list[i].PixelCount);
        return v;
    };
    first = ids();
    list.SortByTop();
    second = ids();
    list.SortByTop();
    third = ids();
    EXPECT_NE(first, second);
    std::vector<int32_t> perm(60);  // second[pos] = first[perm[pos]]
    for (size_t pos = 0; pos < 60; ++pos)
        perm[pos] = int32_t(std::find(first.begin(), first.end(), second[pos]) - first.begin());
    for (size_t pos = 0; pos < 60; ++pos) EXPECT_EQ(third[pos], second[size_t(perm[pos])]);
}
