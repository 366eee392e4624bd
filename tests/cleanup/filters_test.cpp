#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "blob_fixtures.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;
using namespace qil::test;

namespace {

// Repair pixel by pixel on a saved copy of the page.
int32_t ReferenceRepair(TDIB& d, int32_t aggr) {
    std::unique_ptr<TDIB> orig(d.Duplicate());
    int32_t count = 0;
    for (int32_t y = 1; y <= d.Height() - 2; ++y)
        for (int32_t x = 1; x <= d.Width() - 2; ++x) {
            const int32_t v = orig->GetPixel(x, y);
            const int32_t s = (orig->GetPixel(x, y - 1) == v) + (orig->GetPixel(x, y + 1) == v) +
                              (orig->GetPixel(x - 1, y) == v) + (orig->GetPixel(x + 1, y) == v);
            const int32_t c = (orig->GetPixel(x - 1, y - 1) == v) + (orig->GetPixel(x + 1, y - 1) == v) +
                              (orig->GetPixel(x - 1, y + 1) == v) + (orig->GetPixel(x + 1, y + 1) == v);
            if (s == 0 && c <= aggr) {
                d.SetPixel1(x, y, 1 - v);
                ++count;
            }
        }
    return count;
}

std::unique_ptr<TDIB> Color(int32_t w, int32_t h) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt24Bit, 300, 300);
    return d;
}

uint32_t Rgb(int32_t r, int32_t g, int32_t b) { return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16; }

}  // namespace

// ---- DropColoredInk ----

TEST(DropColoredInk, RulesByChannelSelection) {
    struct Case {
        bool r, g, b;
        int32_t threshold;
        uint32_t in;
        int32_t out;
    } cases[] = {
        {true, false, false, 255, Rgb(200, 40, 40), 200},   // red stamp turns light
        {true, false, false, 255, Rgb(20, 20, 20), 20},     // 6 + 12 + 2
        {true, false, false, 255, Rgb(128, 128, 128), 128}, // 38 + 76 + 14
        {true, false, false, 255, Rgb(255, 255, 255), 254}, // 76 + 150 + 28
        {true, false, false, 255, Rgb(200, 40, 200), 106},  // red does not dominate blue: 60 + 24 + 22
        {true, false, false, 0, Rgb(255, 0, 0), 28},         // margin 255: nothing dominates
        {true, false, false, 99, Rgb(200, 40, 40), 200},     // margin 156: 160 > 156
        {true, false, false, 95, Rgb(200, 40, 40), 58},      // margin 160: 12 + 24 + 22
        {false, true, false, 255, Rgb(10, 90, 20), 90},
        {false, false, true, 255, Rgb(10, 20, 90), 90},
        {false, true, true, 255, Rgb(10, 80, 90), 90},       // blue and green over red
        {true, false, true, 255, Rgb(70, 10, 60), 70},       // blue and red over green
        {true, true, false, 255, Rgb(70, 60, 10), 70},       // green and red over blue
        {false, true, true, 255, Rgb(100, 80, 90), 85},      // red not below both: 27 + 47 + 11
        {true, true, true, 255, Rgb(200, 40, 40), 58},       // all three: luminance
        {false, false, false, 255, Rgb(200, 40, 40), 58},    // none: luminance
        {true, false, false, 255 + 256, Rgb(200, 40, 40), 200},  // used as a byte
    };
    for (auto& c : cases) {
        auto d = Color(3, 2);
        d->SetPixelColor(1, 1, c.in);
        d->DropColoredInk(c.r, c.g, c.b, c.threshold);
        const int32_t want = c.out;
        EXPECT_EQ(d->GetPixelColor(1, 1), Rgb(want, want, want)) << std::hex << c.in << std::dec << " " << c.threshold;
        EXPECT_EQ(d->GetPixelColor(0, 0), Rgb(0, 0, 0));  // black stays black
    }
}

TEST(DropColoredInk, LeavesOtherFormatsAlone) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit}) {
        TDIB d;
        d.CreateNew(4, 4, fmt, 300, 300);
        d.SetPixel(1, 1, 1);
        EXPECT_NO_THROW(d.DropColoredInk(true, false, false, 255));
        EXPECT_EQ(d.GetPixel(1, 1), 1);
        EXPECT_EQ(d.GetPixel(0, 0), 0);
    }
    TDIB empty;
    EXPECT_NO_THROW(empty.DropColoredInk(true, true, true, 0));
}

// ---- Repair ----

TEST(Repair, FlipsIsolatedPixels) {
    auto one = MakePage({".....", "..#..", ".....", "....."});
    EXPECT_EQ(one->Repair(0), 1);
    EXPECT_EQ(Dump(*one), Dump(*BlankPage(5, 4)));

    // Two diagonal pixels: each has one equal corner neighbour.
    for (auto [aggr, count] : {std::pair{0, 0}, std::pair{1, 2}}) {
        auto diag = MakePage({"......", ".#....", "..#...", "......"});
        EXPECT_EQ(diag->Repair(aggr), count);
        EXPECT_EQ(Dump(*diag)[1][1], count ? '.' : '#');
    }
    // A pinhole in black is treated alike.
    auto hole = MakePage({"####", "#.##", "####"});
    EXPECT_EQ(hole->Repair(0), 1);
    EXPECT_EQ(Dump(*hole)[1], "####");
    // Border pixels never change; a 2-pixel-high page is left alone.
    auto edge = MakePage({"#...", "...#", "...."});
    EXPECT_EQ(edge->Repair(4), 0);
    auto low = MakePage({"..#..", "....."});
    EXPECT_EQ(low->Repair(4), 0);
    EXPECT_EQ(Dump(*low)[0], "..#..");
}

TEST(Repair, MatchesPixelByPixelOnRandomPages) {
    uint32_t seed = 5;
    for (auto [w, h] : {std::pair{3, 3}, std::pair{64, 5}, std::pair{65, 9}, std::pair{130, 40}, std::pair{200, 3}})
        for (int32_t aggr = -1; aggr <= 5; ++aggr) {
            auto page = RandomPage(w, h, 0.4, seed++);
            auto ref = MakePage(Dump(*page));
            const int32_t got = page->Repair(aggr);
            EXPECT_EQ(got, ReferenceRepair(*ref, aggr)) << w << "x" << h << " aggr " << aggr;
            EXPECT_EQ(Dump(*page), Dump(*ref));
        }
}

TEST(Repair, RefusesOtherFormats) {
    TDIB gray;
    gray.CreateNew(5, 5, fmt8Bit, 300, 300);
    try {
        gray.Repair(2);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "This operation requires 1 bit per pixel bitmap !");
    }
}

// ---- RemoveDither ----

TEST(RemoveDither, RemovesOnePixelThickStrokes) {
    auto page = MakePage({
        "#.....#....",
        "......#.##.",
        "#.....#.##.",
        "...........",
        ".####......",
        "...........",
    });
    page->RemoveDither();
    EXPECT_EQ(Dump(*page), (std::vector<std::string>{
                               "#..........",  // column 0, row 0: no horizontal test, no vertical test
                               "........##.",
                               "........##.",  // the 2 x 2 square stays
                               "...........",
                               "...........",
                               "...........",
                           }));

    // The (white, black) table: white is value 0 there.
    auto flipped = MakePage({"...", ".#.", "..."}, true);
    flipped->RemoveDither();
    EXPECT_EQ(Dump(*flipped)[1], "...");
}

TEST(RemoveDither, OneBitMatchesTheRawValueRuleAndOtherFormats) {
    uint32_t seed = 21;
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 7}, std::pair{64, 4}, std::pair{67, 13}, std::pair{129, 20}}) {
        auto page = RandomPage(w, h, 0.5, seed++);
        // The same page as 8 bits: indexes 0 (black) and 255 (white) compared raw.
        TDIB gray;
        gray.CreateNew(w, h, fmt8Bit, 300, 300);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) gray.SetPixel(x, y, page->GetPixel(x, y) == page->WhiteIndex() ? 255 : 0);
        page->RemoveDither();
        gray.RemoveDither();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                ASSERT_EQ(page->GetPixel(x, y) == page->WhiteIndex(), gray.GetPixel(x, y) == 255) << x << "," << y;
    }
    // 24 bits: white is 0x00FFFFFF; any other color counts as ink.
    auto c = Color(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) c->SetPixel(x, y, 0x00FFFFFF);
    c->SetPixel(1, 1, 0x00FFFFFE);
    c->SetPixel(0, 0, 0x00123456);
    c->RemoveDither();
    EXPECT_EQ(c->GetPixel(1, 1), 0x00FFFFFF);
    EXPECT_EQ(c->GetPixel(0, 0), 0x00123456);
}
