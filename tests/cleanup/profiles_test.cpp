#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "failure_of.h"

using namespace qil;
using qil::testing::failureOf;
using V = std::vector<int32_t>;

namespace {

// A 1-bit page with random black pixels. whiteFirst puts white at index 0 and black at 1.
void MakeRandomPage(TDIB& d, int32_t w, int32_t h, bool whiteFirst, uint32_t seed) {
    d.CreateNew(w, h, fmt1Bit, 300, 300);
    if (whiteFirst) {
        d.SetPaletteEntry(0, 0xFFFFFF);
        d.SetPaletteEntry(1, 0x000000);
    }
    std::mt19937 rng(seed);
    // Garbage in every byte, padding included, so the routines must mask correctly.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < d.Stride; ++i) d.Rows[y][i] = static_cast<uint8_t>(rng());
}

}  // namespace

TEST(Profiles, OneBitProfilesAreRelativeToTheRectangle) {
    // The tall rectangles pass the 255-row batches of the column counter.
    const TRect rects[] = {{0, 0, 36, 20}, {3, 2, 3, 9},    {5, 4, 29, 4},     {7, 1, 8, 19},
                           {0, 0, 0, 0},   {9, 3, 33, 17},  {0, 0, 36, 599},   {6, 5, 31, 590}};
    for (bool whiteFirst : {false, true}) {
        TDIB d;
        MakeRandomPage(d, 37, 600, whiteFirst, 7);
        ASSERT_EQ(d.BlackIndex(), whiteFirst ? 1 : 0);
        for (const TRect& r : rects) {
            V col = d.ColumnProfile(r), row = d.RowProfile(r);
            ASSERT_EQ(col.size(), size_t(r.Right - r.Left + 1));
            ASSERT_EQ(row.size(), size_t(r.Bottom - r.Top + 1));
            V wantCol(col.size(), 0), wantRow(row.size(), 0);
            for (int32_t y = r.Top; y <= r.Bottom; ++y)
                for (int32_t x = r.Left; x <= r.Right; ++x)
                    if (d.GetPixel(x, y) == d.BlackIndex()) {
                        ++wantCol[x - r.Left];
                        ++wantRow[y - r.Top];
                    }
            EXPECT_EQ(col, wantCol) << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
            EXPECT_EQ(row, wantRow) << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
        }
    }
}

TEST(Profiles, OneBitRectangleOutsideTheImageIsRefused) {
    TDIB d;
    MakeRandomPage(d, 10, 8, false, 1);
    for (const TRect& r : {TRect{-1, 0, 5, 5}, TRect{0, -1, 5, 5}, TRect{0, 0, 10, 5}, TRect{0, 0, 5, 8}}) {
        EXPECT_EQ(failureOf([&] { d.ColumnProfile(r); }), "Invalid rect !");
        EXPECT_EQ(failureOf([&] { d.RowProfile(r); }), "Invalid rect !");
    }
}

TEST(Profiles, EightAndTwentyFourBitProfilesAreAbsolute) {
    // 8-bit gray ramp: BlackIndex 0, so values 0 ... 127 are dark.
    TDIB g;
    g.CreateNew(5, 4, fmt8Bit, 300, 300);
    const uint8_t rows[4][5] = {{0, 127, 128, 255, 10}, {200, 0, 0, 0, 0}, {127, 128, 127, 128, 127}, {255, 255, 255, 255, 255}};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) g.Rows[y][x] = rows[y][x];
    ASSERT_EQ(g.BlackIndex(), 0);
    // Columns over rows 1 ... 2, the whole width whatever Left and Right say.
    EXPECT_EQ(g.ColumnProfile(TRect{3, 1, 3, 2}), (V{1, 1, 2, 1, 2}));
    // Rows over columns 1 ... 3, every row.
    EXPECT_EQ(g.RowProfile(TRect{1, 3, 3, 0}), (V{1, 3, 1, 0}));

    // An inverted gray table makes 128 ... 255 dark.
    for (int32_t i = 0; i < 256; ++i) g.SetPaletteEntry(i, uint32_t(255 - i) * 0x010101u);
    ASSERT_NE(g.BlackIndex(), 0);
    EXPECT_EQ(g.RowProfile(TRect{0, 0, 4, 0}), (V{2, 1, 2, 5}));

    // 24-bit: the mean of the three bytes; the column profile has RowBytes entries.
    TDIB c;
    c.CreateNew(3, 2, fmt24Bit, 300, 300);
    const uint8_t px[2][9] = {{0, 0, 255, 127, 128, 128, 200, 200, 0}, {255, 255, 255, 0, 0, 0, 128, 127, 128}};
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t i = 0; i < 9; ++i) c.Rows[y][i] = px[y][i];
    // Means: row 0: 85, 127, 133; row 1: 255, 0, 127.
    V col = c.ColumnProfile(TRect{0, 0, 0, 1});
    ASSERT_EQ(col.size(), size_t(c.RowBytes));
    EXPECT_EQ(col, (V{1, 2, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.RowProfile(TRect{1, 0, 2, 0}), (V{1, 2}));
}

TEST(Profiles, EightBitRangeFailures) {
    TDIB g;
    g.CreateNew(6, 4, fmt8Bit, 300, 300);
    struct Case {
        bool column;
        TRect r;
        const char* message;
    } cases[] = {
        {true, {0, 4, 0, 4}, "Invalid start line"},
        {true, {0, 1, 0, 4}, "Invalid end line"},
        {true, {0, -1, 0, 2}, "Invalid start line"},
        {false, {6, 0, 6, 0}, "Invalid start column"},
        {false, {1, 0, 6, 0}, "Invalid end column"},
        {false, {-1, 0, 2, 0}, "Invalid start column"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureOf([&] { c.column ? g.ColumnProfile(c.r) : g.RowProfile(c.r); }), c.message);
    // In range, the rows / columns outside the image in the other direction are not looked at.
    EXPECT_EQ(g.ColumnProfile(TRect{-50, 0, 99, 3}).size(), 6u);
    EXPECT_EQ(g.RowProfile(TRect{0, -50, 5, 99}).size(), 4u);
}

TEST(Profiles, FourBitGivesNoProfile) {
    TDIB d;
    d.CreateNew(4, 4, fmt4Bit, 300, 300);
    EXPECT_TRUE(d.ColumnProfile(TRect{0, 0, 3, 3}).empty());
    EXPECT_TRUE(d.RowProfile(TRect{0, 0, 3, 3}).empty());
}

TEST(Profiles, CountSetBitsInColumn) {
    TDIB d;
    d.CreateNew(12, 6, fmt1Bit, 300, 300);
    d.SetPixel(9, 0, 1);
    d.SetPixel(9, 2, 1);
    d.SetPixel(9, 5, 1);
    d.SetPixel(8, 1, 1);
    EXPECT_EQ(d.CountSetBitsInColumn(9, 0, 6), 3);
    EXPECT_EQ(d.CountSetBitsInColumn(9, 1, 2), 1);
    EXPECT_EQ(d.CountSetBitsInColumn(8, 0, 6), 1);
    EXPECT_EQ(d.CountSetBitsInColumn(9, 0, 0), 0);
    EXPECT_EQ(d.CountSetBitsInColumn(9, 0, -3), 0);
    // Rows and columns outside the image count nothing.
    EXPECT_EQ(d.CountSetBitsInColumn(9, -4, 100), 3);
    EXPECT_EQ(d.CountSetBitsInColumn(40, 0, 6), 0);
    TDIB g;
    g.CreateNew(4, 4, fmt8Bit, 300, 300);
    EXPECT_EQ(failureOf([&] { g.CountSetBitsInColumn(0, 0, 4); }), "This operation requires 1 bit per pixel bitmap !");
}

TEST(Profiles, FreeProfileReleases) {
    V v{1, 2, 3};
    TDIB::FreeProfile(v);
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.capacity(), 0u);
}

TEST(ProfileToolkit, SmoothProfile) {
    struct Case {
        V in;
        int32_t window;
        V out;
    } cases[] = {
        {{5, 5, 5, 5, 5}, 3, {5, 5, 5, 5, 5}},
        {{9, 0, 0, 0, 9}, 3, {0, 0, 0, 0, 0}},
        {{0, 3, 6, 9, 0}, 0, {3, 4, 6, 7, 9}},
        {{0, 3, 6, 9, 0}, 1, {3, 4, 6, 7, 9}},
        {{0, 3, 6, 9, 0}, 2, {3, 4, 6, 7, 9}},
        {{0, 3, 6, 9, 0}, 3, {3, 4, 6, 7, 9}},
        {{0, 3, 6, 9, 0}, 4, {4, 6, 6, 6, 7}},
        {{0, 3, 6, 9, 0}, 5, {4, 6, 6, 6, 7}},
        {{0, -3, -4, 0}, 3, {-3, -3, -3, -4}},  // truncation toward zero: -7 div 2 = -3
        {{7}, 3, {0}},
        {{7, 8}, 3, {0, 0}},
        {{}, 3, {}},
    };
    for (auto c : cases) {
        TDIB::SmoothProfile(c.in, c.window);
        EXPECT_EQ(c.in, c.out) << "window " << c.window;
    }
}

TEST(ProfileToolkit, SmoothProfileWeighted) {
    // Entries 1 ... 5 contribute. Entry 0: offsets 1 ... 4 -> (7*10 + 5*20 + 3*30 + 1*40) / 16.
    V v{1000, 10, 20, 30, 40, 50, 1000};
    TDIB::SmoothProfileWeighted(v);
    EXPECT_EQ(v[0], (70 + 100 + 90 + 40) / 16);
    // Entry 3: offsets -2 ... 2 -> (5*10 + 7*20 + 9*30 + 7*40 + 5*50) / 33.
    EXPECT_EQ(v[3], (50 + 140 + 270 + 280 + 250) / 33);
    // Entry 6: offsets -4 ... -1 -> entries 2 ... 5.
    EXPECT_EQ(v[6], (1 * 20 + 3 * 30 + 5 * 40 + 7 * 50) / 16);
    V one{5};
    TDIB::SmoothProfileWeighted(one);
    EXPECT_EQ(one, V{0});
    V flat(20, 7);
    TDIB::SmoothProfileWeighted(flat);
    EXPECT_EQ(flat, V(20, 7));
}

TEST(ProfileToolkit, MeanMaxMin) {
    EXPECT_EQ(TDIB::ProfileMean({1, 2}), 1);
    EXPECT_EQ(TDIB::ProfileMean({-3}), -3);
    EXPECT_EQ(TDIB::ProfileMean({-3, -4}), -3);
    EXPECT_EQ(TDIB::ProfileMean({2147483647, 2147483647, 2147483645}), 2147483646);
    EXPECT_EQ(TDIB::ProfileMax({3, -1, 9, 2}), 9);
    EXPECT_EQ(TDIB::ProfileMin({3, -1, 9, 2}), -1);
    for (auto f : {&TDIB::ProfileMean, &TDIB::ProfileMax, &TDIB::ProfileMin})
        EXPECT_EQ(failureOf([&] { f(V{}); }), "Invalid histo size");
}

TEST(ProfileToolkit, BinarizeProfile) {
    V v{0, 1, 2, 3, -5, 100};
    TDIB::BinarizeProfile(v, 1, 0, 1);
    EXPECT_EQ(v, (V{0, 0, 1, 1, 0, 1}));
    V w{5, 6};
    TDIB::BinarizeProfile(w, 5, 7, -7);
    EXPECT_EQ(w, (V{7, -7}));
}

TEST(ProfileToolkit, ProfileHistogram) {
    V histo{99};
    int32_t size = -1;
    TDIB::ProfileHistogram({3, 0, 3, 1}, histo, size);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(histo, (V{1, 1, 0, 2}));
    TDIB::ProfileHistogram({0}, histo, size);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(histo, V{1});
    EXPECT_EQ(failureOf([&] { TDIB::ProfileHistogram({}, histo, size); }), "Invalid histo size");
    EXPECT_EQ(failureOf([&] { TDIB::ProfileHistogram({2, -1}, histo, size); }), "Invalid negative histo value !");
    EXPECT_EQ(failureOf([&] { TDIB::ProfileHistogram({2147483647}, histo, size); }), "Invalid histo size");
}

TEST(ProfileToolkit, RunLengths) {
    struct Case {
        V in, runs;
    } cases[] = {
        {{0, 0, 3, 3, 3, 0, 1}, {-2, 3, -1, 1}},
        {{0}, {-1}},
        {{4}, {1}},
        {{}, {}},
        {{1, 1, 2, 2, -1}, {2, 2, 1}},
    };
    for (const auto& c : cases) {
        V runs{42};
        int32_t count = -1;
        TDIB::RunLengths(c.in, runs, count);
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(count, int32_t(c.runs.size()));
    }
}

TEST(ProfileToolkit, FindExtrema) {
    struct Case {
        V in;
        bool useMean;
        V marks;
    } cases[] = {
        {{0, 3, 9, 3, 0, 2, 8, 2, 0}, false, {-1, 0, 1, 0, -1, 0, 1, 0, -1}},
        {{1, 2, 3, 4, 5, 4, 3, 2, 1}, false, {-1, 0, 0, 0, 1, 0, 0, 0, -1}},
        {{0, 5, 0, 5, 0, 5, 0}, false, {0, 0, 0, 0, 0, 0, 0}},
        {{4, 9}, false, {0, 0}},
        {{}, false, {}},
        // Three values: position 1 lacks the neighbours two places away and is never marked.
        {{5, 0, 9}, false, {0, 0, 1}},
        {{0, 9, 5}, false, {-1, 0, 0}},
        // A plateau of two maxima keeps the later one.
        {{0, 4, 9, 9, 4, 0}, false, {-1, 0, 0, 1, 0, -1}},
        // Two maxima with no minimum between: the first smallest value between them becomes one.
        {{0, 9, 1, 2, 1, 9, 0}, false, {-1, 1, -1, 0, 0, 1, -1}},
        {{0, 1, 5, 4, 4, 5, 1, 0}, false, {-1, 0, 1, -1, 0, 1, 0, -1}},
        // With the mean (4) the minimum 6 is dropped, then restored by the alternation walk.
        {{0, 2, 9, 8, 6, 8, 9, 2, 0}, true, {-1, 0, 1, 0, -1, 0, 1, 0, -1}},
        // With the mean (5) the maximum 3 at position 2 is dropped; the minima at 0 and 4 are
        // then two of a kind, and the larger value between them (3) becomes a maximum again.
        {{0, 1, 3, 1, 0, 2, 40, 2, 0}, true, {-1, 0, 1, 0, -1, 0, 1, 0, -1}},
    };
    for (const auto& c : cases) {
        V marks{5, 5};
        TDIB::FindExtrema(c.in, marks, c.useMean);
        EXPECT_EQ(marks, c.marks) << ::testing::PrintToString(c.in);
    }
}
