#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "failure_of.h"

using namespace qil;
using qil::testing::failureOf;

namespace {

// A bilevel page, all white. The default color table is (black, white); with `whiteFirst`
// the table is (white, black), so white is bit 0.
std::unique_ptr<TDIB> Bilevel(int32_t w, int32_t h, bool whiteFirst = false, int32_t dpi = 300) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, dpi, dpi);
    if (whiteFirst) {
        d->SetPaletteEntry(0, 0x00FFFFFF);
        d->SetPaletteEntry(1, 0);
    }
    d->Fill(whiteFirst ? 0x00 : 0xFF);
    return d;
}

void PaintColumns(TDIB& d, int32_t x0, int32_t x1, int32_t value) {
    for (int32_t y = 0; y < d.Height(); ++y)
        for (int32_t x = x0; x <= x1; ++x) d.SetPixel(x, y, value);
}

TEST(BorderCountOnes, RowCountExcludesPaddingBits) {
    auto d = Bilevel(13, 3);  // white = 1; Fill set the three padding bits of every row too
    EXPECT_EQ(d->CountRowOnes(0), 13);
    d->SetPixel(12, 1, 0);
    d->SetPixel(0, 1, 0);
    EXPECT_EQ(d->CountRowOnes(1), 11);
    auto e = Bilevel(16, 1);
    EXPECT_EQ(e->CountRowOnes(0), 16);  // a full last byte
    auto f = Bilevel(200, 1);           // several whole words
    f->SetPixel(150, 0, 0);
    EXPECT_EQ(f->CountRowOnes(0), 199);
}

TEST(BorderCountOnes, ColumnCount) {
    auto d = Bilevel(13, 5);
    d->SetPixel(9, 0, 0);
    d->SetPixel(9, 4, 0);
    EXPECT_EQ(d->CountColumnOnes(9), 3);
    EXPECT_EQ(d->CountColumnOnes(8), 5);
}

TEST(BorderCountOnes, RefuseOtherFormats) {
    TDIB d;
    d.CreateNew(4, 4, fmt8Bit, 72, 72);
    EXPECT_EQ(failureOf([&] { d.CountRowOnes(0); }), "This operation requires 1 bit per pixel bitmap !");
    EXPECT_EQ(failureOf([&] { d.CountColumnOnes(0); }), "This operation requires 1 bit per pixel bitmap !");
}

TEST(FindBlackBorder, LeftBandOnBilevelPage) {
    for (bool whiteFirst : {false, true}) {
        auto d = Bilevel(1000, 1000, whiteFirst);
        PaintColumns(*d, 0, 19, d->BlackIndex());
        TRect r;
        d->FindBlackBorder(0, r, 1);
        EXPECT_EQ(r, Rect(20, 0, 999, 999)) << whiteFirst;
    }
}

TEST(FindBlackBorder, NoBorderGivesWholeImageAndClearLeavesItAlone) {
    auto d = Bilevel(64, 40);
    d->SetPixel(30, 20, 0);
    std::unique_ptr<TDIB> before(d->Duplicate());
    TRect r;
    d->FindBlackBorder(0, r, 1);
    EXPECT_EQ(r, Rect(0, 0, 63, 39));
    d->ClearOutsideRect(r);
    EXPECT_EQ(0, std::memcmp(d->Bits, before->Bits, static_cast<size_t>(d->Stride) * 40));
}

TEST(FindBlackBorder, AllBorderStaysOnTheEdges) {
    auto d = Bilevel(50, 30);
    PaintColumns(*d, 0, 49, 0);
    TRect r;
    d->FindBlackBorder(0, r, 1);
    EXPECT_EQ(r, Rect(0, 0, 49, 29));
}

TEST(FindBlackBorder, ContentNeedsMoreThanTheRoundedShare) {
    // 1000 rows, Percent 1: a column with 10 light pixels is border, with 11 content.
    for (int32_t lights : {10, 11}) {
        auto d = Bilevel(100, 1000);
        PaintColumns(*d, 0, 29, 0);
        for (int32_t y = 0; y < lights; ++y) d->SetPixel(5, y * 7, 1);
        TRect r;
        d->FindBlackBorder(0, r, 1);
        EXPECT_EQ(r.Left, lights == 10 ? 30 : 5) << lights;
    }
    // 250 rows, Percent 1: 2.5 rounds to 2 (ties to even), so 3 light pixels make content.
    auto d = Bilevel(100, 250);
    PaintColumns(*d, 0, 29, 0);
    for (int32_t y = 0; y < 3; ++y) d->SetPixel(5, y, 1);
    TRect r;
    d->FindBlackBorder(0, r, 1);
    EXPECT_EQ(r.Left, 5);
}

TEST(FindBlackBorder, MinRunSkipsAScratch) {
    struct Case {
        int32_t minRun, dpi, left;
    };
    // Band 0 ... 29 with a light scratch column 10. Negative MinRun: round(50 / 25) = 2,
    // round(12 / 25) = 0, round(24 / 25) = 1.
    for (Case c : {Case{0, 300, 10}, Case{2, 300, 30}, Case{-1, 50, 30}, Case{-1, 12, 10}, Case{-1, 24, 30}}) {
        auto d = Bilevel(100, 100, false, c.dpi);
        PaintColumns(*d, 0, 29, 0);
        PaintColumns(*d, 10, 10, 1);
        TRect r;
        d->FindBlackBorder(c.minRun, r, 1);
        EXPECT_EQ(r.Left, c.left) << c.minRun << " " << c.dpi;
        EXPECT_EQ(r.Right, 99);
    }
}

TEST(FindBlackBorder, ShortStretchesGiveTheLastContentLine) {
    // Only columns 5, 6 and 40 are light, MinRun 5: no stretch of 6 content columns, so the left
    // scan ends on the last content column it met (40) and the right scan on 5.
    auto d = Bilevel(60, 20);
    PaintColumns(*d, 0, 59, 0);
    PaintColumns(*d, 5, 6, 1);
    PaintColumns(*d, 40, 40, 1);
    TRect r;
    d->FindBlackBorder(5, r, 1);
    EXPECT_EQ(r.Left, 40);
    EXPECT_EQ(r.Right, 5);
    EXPECT_EQ(r.Top, 0);  // every row is content (3 light of 60 > round(0.6) = 1)
    EXPECT_EQ(r.Bottom, 19);
    d->FindBlackBorder(1, r, 1);  // stretches of two: 5 ... 6 from both sides
    EXPECT_EQ(r.Left, 5);
    EXPECT_EQ(r.Right, 6);  // the stretch 6, 5 seen from the right
}

TEST(FindBlackBorder, AllFourSidesOnGrayAndColor) {
    for (uint8_t format : {fmt8Bit, fmt24Bit}) {
        TDIB d;
        d.CreateNew(120, 90, format, 300, 300);  // all pixels 0: black
        const int32_t white = format == fmt8Bit ? 255 : 0x00FFFFFF;
        for (int32_t y = 7; y <= 80; ++y)
            for (int32_t x = 11; x <= 100; ++x) d.SetPixel(x, y, white);
        TRect r;
        d.FindBlackBorder(0, r, 1);
        EXPECT_EQ(r, Rect(11, 7, 100, 80)) << int(format);
    }
}

TEST(FindBlackBorder, GrayLightLevels) {
    // One column per gray value; the image is 1 row high, Percent 0: a column is content when
    // its one pixel is light.
    struct Case {
        bool whiteAt255;
        int value;
        bool light;
    };
    for (Case c : {Case{true, 128, true}, Case{true, 127, false}, Case{true, 255, true}, Case{false, 128, true},
                   Case{false, 129, false}, Case{false, 0, true}}) {
        TDIB d;
        d.CreateNew(3, 1, fmt8Bit, 72, 72);
        if (!c.whiteAt255) {  // white at index 0: the light range is 0 ... 128
            d.SetPaletteEntry(0, 0x00FFFFFF);
            d.SetPaletteEntry(255, 0);
        }
        const int dark = c.whiteAt255 ? 0 : 255;
        d.SetPixel(0, 0, dark);
        d.SetPixel(1, 0, c.value);
        d.SetPixel(2, 0, dark);
        TRect r;
        d.FindBlackBorder(0, r, 0);
        EXPECT_EQ(r.Left == 1 && r.Right == 1, c.light) << c.whiteAt255 << " " << c.value;
    }
}

TEST(FindBlackBorder, ColorLightness) {
    // raw = red | green << 8 | blue << 16
    struct Case {
        int32_t raw;
        bool light;
    };
    for (Case c : {Case{0x0000FF, false}, Case{0xFF0000, false}, Case{0x00FF00, true}, Case{0x808080, true},
                   Case{0x7F7F7F, false}}) {
        TDIB d;
        d.CreateNew(3, 1, fmt24Bit, 72, 72);
        d.SetPixel(1, 0, c.raw);
        TRect r;
        d.FindBlackBorder(0, r, 0);
        EXPECT_EQ(r.Left == 1 && r.Right == 1, c.light) << std::hex << c.raw;
    }
}

TEST(FindBlackBorder, ColorLightnessMatchesTheFormulaForEveryColor) {
    // Columns 0 ... 255 hold red 0 ... 255 on a fixed blue and green, column 256 is black, so
    // the left side is the first light red and the right side the last light one (the sum only
    // grows with red); none light leaves (0, 256).
    TDIB d;
    d.CreateNew(257, 1, fmt24Bit, 72, 72);
    int mismatches = 0;
    for (int b = 0; b < 256; ++b)
        for (int g = 0; g < 256; ++g) {
            for (int r = 0; r < 256; ++r) d.SetPixel(r, 0, r | g << 8 | b << 16);
            int first = -1;
            for (int r = 0; r < 256 && first < 0; ++r) {
                long double gray = 0.3L * b + 0.59L * g + 0.11L * r;
                if (Trunc(gray) >= 128) first = r;
            }
            TRect rect;
            d.FindBlackBorder(0, rect, 0);
            const TRect expected = first < 0 ? Rect(0, 0, 256, 0) : Rect(first, 0, 255, 0);
            mismatches += !(rect == expected);
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(FindBlackBorder, OtherFormatsGiveTheWholeImage) {
    TDIB d;
    d.CreateNew(30, 20, fmt4Bit, 72, 72);
    TRect r{5, 5, 5, 5};
    d.FindBlackBorder(0, r, 1);
    EXPECT_EQ(r, Rect(0, 0, 29, 19));
    TDIB empty;
    empty.FindBlackBorder(-1, r, 1);
    EXPECT_EQ(r, Rect(0, 0, -1, -1));
}

TEST(FindBlackBorder, OutOfRangePercentages) {
    auto d = Bilevel(40, 40);
    PaintColumns(*d, 0, 9, 0);
    TRect r;
    d->FindBlackBorder(0, r, 1e300);  // no line can be content
    EXPECT_EQ(r, Rect(0, 0, 39, 39));
    d->FindBlackBorder(0, r, -1e300);  // every line is content
    EXPECT_EQ(r, Rect(0, 0, 39, 39));
    d->FindBlackBorder(0, r, 50);
    EXPECT_EQ(r, Rect(10, 0, 39, 39));
}

TEST(BackgroundIndex, ByFormat) {
    auto bilevel = Bilevel(8, 8, true);
    EXPECT_EQ(bilevel->BackgroundIndex(), bilevel->WhiteIndex());

    TDIB gray;
    gray.CreateNew(10, 10, fmt8Bit, 72, 72);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) gray.SetPixel(x, y, y < 6 ? 240 : (y < 9 ? 20 : 250));
    EXPECT_EQ(gray.BackgroundIndex(), 240);

    // 0.3 * 240 + 0.59 * 240 + 0.11 * 240 in extended precision lands just below 240.
    EXPECT_EQ(Trunc(0.3L * 240 + 0.59L * 240 + 0.11L * 240), 239);
    TDIB color;
    color.CreateNew(10, 10, fmt24Bit, 72, 72);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) color.SetPixel(x, y, y < 6 ? 0xF0F0F0 : 0x101010);
    EXPECT_EQ(color.BackgroundIndex(), 0xEFEFEF);
}

TEST(BackgroundIndex, TiesAndTheRangeOfDarkWhite) {
    struct Case {
        int a, countA, b, countB, count255;
        bool whiteAt0;
        int expected;
    };
    for (Case c : {Case{200, 5, 210, 5, 1, false, 200},  // equal counts: the lower level
                   Case{200, 5, 210, 6, 1, false, 210},  // the larger count
                   Case{200, 5, 210, 3, 5, false, 255},  // 255 keeps its place unless exceeded
                   Case{100, 5, 30, 7, 2, false, 255},   // both below the range
                   Case{100, 5, 30, 7, 2, true, 30},     // white at index 0: range 0 ... 128
                   Case{100, 5, 130, 9, 7, true, 255}}) {  // 255 outside the range still wins ties
        TDIB d;
        d.CreateNew(30, 1, fmt8Bit, 72, 72);
        if (c.whiteAt0) {
            d.SetPaletteEntry(0, 0x00FFFFFF);
            d.SetPaletteEntry(255, 0x00FEFEFE);
        }
        // Histogram of a non-gray palette is by blue byte; keep the palette gray where it counts.
        int x = 0;
        for (int i = 0; i < c.countA; ++i) d.SetPixel(x++, 0, c.a);
        for (int i = 0; i < c.countB; ++i) d.SetPixel(x++, 0, c.b);
        for (int i = 0; i < c.count255; ++i) d.SetPixel(x++, 0, 255);
        while (x < 30) d.SetPixel(x++, 0, 60);  // filler at 60, 9 or more pixels
        if (c.whiteAt0) {
            // bins by blue byte: index 0 is blue 255 now, index 255 blue 254
            THistogram h;
            d.GetHistogram(h);
            int expected = 255;
            for (int v = 0; v <= 128; ++v)
                if (h[v] > h[expected]) expected = v;
            EXPECT_EQ(d.BackgroundIndex(), expected);
            continue;
        }
        EXPECT_EQ(d.BackgroundIndex(), c.expected) << c.a << " " << c.b;
    }
}

TEST(BackgroundIndex, FourBitRaises) {
    TDIB d;
    d.CreateNew(4, 4, fmt4Bit, 72, 72);
    EXPECT_EQ(failureOf([&] { d.BackgroundIndex(); }), "This operation requires 8 bit per pixel bitmap !");
    std::unique_ptr<TDIB> before(d.Duplicate());
    EXPECT_EQ(failureOf([&] { d.ClearOutsideRect(Rect(1, 1, 2, 2)); }),
              "This operation requires 8 bit per pixel bitmap !");
    EXPECT_EQ(0, std::memcmp(d.Bits, before->Bits, static_cast<size_t>(d.Stride) * 4));
}

TEST(ClearOutsideRect, PaintsTheFourBandsOnly) {
    for (uint8_t format : {fmt1Bit, fmt8Bit, fmt24Bit}) {
        TDIB d;
        d.CreateNew(21, 9, format, 72, 72);  // all 0 (black)
        const int32_t white = d.WhiteIndex();
        // light content inside (3, 2, 17, 6), except one dark pixel inside to see it survive
        for (int32_t y = 2; y <= 6; ++y)
            for (int32_t x = 3; x <= 17; ++x) d.SetPixel(x, y, white);
        d.SetPixel(5, 4, 0);
        const int32_t v = d.BackgroundIndex();
        d.ClearOutsideRect(Rect(3, 2, 17, 6));
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 21; ++x) {
                const bool inside = x >= 3 && x <= 17 && y >= 2 && y <= 6;
                const int32_t expected = inside ? (x == 5 && y == 4 ? 0 : white) : v;
                ASSERT_EQ(d.GetPixel(x, y), expected) << int(format) << " " << x << "," << y;
            }
        if (format == fmt1Bit) {
            EXPECT_EQ(d.Rows[0][2] & 0x07, 0);  // padding bits after pixel 20 untouched
        }
    }
}

TEST(ClearOutsideRect, RectBeyondTheImageIsClipped) {
    TDIB d;
    d.CreateNew(10, 10, fmt8Bit, 72, 72);
    d.Fill(255);
    d.SetPixel(0, 0, 7);
    d.ClearOutsideRect(Rect(-5, -5, 20, 20));
    EXPECT_EQ(d.GetPixel(0, 0), 7);
    d.ClearOutsideRect(Rect(4, 30, 3, -10));  // nothing of the image is inside
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x) ASSERT_EQ(d.GetPixel(x, y), 255);
}

}  // namespace
