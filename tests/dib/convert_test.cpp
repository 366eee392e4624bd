#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

// Independent formulas of the gray conversions, written the long way.
int weightedGrayAllChannels(int b, int g, int r) {
    volatile float tb = static_cast<float>(0.3L * b);
    volatile float tg = static_cast<float>(0.59L * g);
    volatile float tr = static_cast<float>(0.11L * r);
    long double sum = static_cast<long double>(tr) + static_cast<long double>(tg) + static_cast<long double>(tb);
    return static_cast<int>(std::llrint(sum));
}

TDIB* make24(int w, int h, uint32_t seed) {
    auto* d = new TDIB;
    d->CreateNew(w, h, fmt24Bit, 200, 100);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < d->RowBytes; ++i) d->Rows[y][i] = static_cast<uint8_t>(rng());
    return d;
}

void expectRowsFollowTable(TDIB& d) {
    EXPECT_EQ(d.Bits, d.Memory + 40 + 4 * d.PaletteSize);
    EXPECT_EQ(+d.FileHeader.bfOffBits, 0u);
    EXPECT_EQ(d.DIBSize, 40 + 4 * d.PaletteSize + d.Height() * d.Stride);
    EXPECT_EQ(GlobalSize(d.Handle), size_t(d.DIBSize));
    EXPECT_EQ(d.Header->biSizeImage, uint32_t(d.Height() * d.Stride));
    EXPECT_EQ(d.Header->biClrUsed, uint32_t(d.PaletteSize));
    EXPECT_EQ(d.LockCount, 1);
}

}  // namespace

TEST(ConvertToFormat, SameFormatDoesNothingUnknownTargetRefused) {
    TDIB d;
    d.CreateNew(3, 3, fmt8Bit, 0, 0);
    d.SetPixel(1, 1, 9);
    HGLOBAL h = d.Handle;
    d.ConvertToFormat(fmt8Bit);
    EXPECT_EQ(d.Handle, h);
    EXPECT_EQ(+d.FileHeader.bfType, 0x4D42);  // untouched
    for (uint8_t t : {0, 4, 5, 7}) {
        try {
            d.ConvertToFormat(t);
            FAIL();
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Function not available :-(");
        }
    }
    EXPECT_EQ(d.GetPixel(1, 1), 9);
    EXPECT_EQ(d.ImageFormat, fmt8Bit);
}

TEST(ConvertToFormat, EightToOneKeepsOnlyZeroBlack) {
    TDIB d;
    d.CreateNew(5, 2, fmt8Bit, 300, 300);
    const uint8_t vals[2][5] = {{0, 255, 1, 0, 128}, {255, 0, 0, 255, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) d.SetPixel(x, y, vals[y][x]);
    d.ConvertToFormat(fmt1Bit);
    EXPECT_EQ(d.ImageFormat, fmt1Bit);
    EXPECT_EQ(d.Stride, 4);
    EXPECT_EQ(d.RowBytes, 1);
    expectRowsFollowTable(d);
    EXPECT_EQ(d.Rows[0][0], 0b01101000);
    EXPECT_EQ(d.Rows[1][0], 0b10010000);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(d.Rows[0][i], 0);
    EXPECT_EQ(d.GetPaletteEntry(0), 0u);
    EXPECT_EQ(d.GetPaletteEntry(1), 0xFFFFFFu);
    EXPECT_EQ(d.XResolution(), 300);
}

// Every step of the matrix, on widths that end inside a byte, checked pixel by pixel.
TEST(ConvertToFormat, WholeMatrixPixelByPixel) {
    const int widths[] = {1, 4, 5, 8, 9, 16, 23, 33};
    for (int w : widths) {
        const int h = 3;
        std::mt19937 rng(w);
        // Source images of each format with known values.
        auto src8 = [&] {
            auto* d = new TDIB;
            d->CreateNew(w, h, fmt8Bit, 0, 0);
            // Zeros, single bits (1 ... 128) and any value, mixed.
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    d->SetPixel(x, y, rng() % 4 == 0 ? 0 : (rng() % 2 ? 1 << (rng() % 8) : int(rng() & 255)));
            return d;
        };
        auto src4 = [&] {
            auto* d = new TDIB;
            d->CreateNew(w, h, fmt4Bit, 0, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) d->SetPixel(x, y, rng() & 15);
            return d;
        };
        auto src1 = [&] {
            auto* d = new TDIB;
            d->CreateNew(w, h, fmt1Bit, 0, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) d->SetPixel(x, y, rng() & 1);
            return d;
        };
        struct Step {
            std::function<TDIB*()> make;
            uint8_t target;
            std::function<uint32_t(TDIB&, int, int)> expect;  // from the source image, raw result
        };
        std::vector<Step> steps = {
            {src8, fmt1Bit, [](TDIB& s, int x, int y) { return s.GetPixel(x, y) > 0 ? 1u : 0u; }},
            {src4, fmt1Bit, [](TDIB& s, int x, int y) { return s.GetPixel(x, y) > 0 ? 1u : 0u; }},
            {src8, fmt4Bit, [](TDIB& s, int x, int y) { return uint32_t(s.GetPixel(x, y)) >> 4; }},
            {src1, fmt8Bit, [](TDIB& s, int x, int y) { return s.GetPixel(x, y) ? 255u : 0u; }},
            {src1, fmt4Bit, [](TDIB& s, int x, int y) { return s.GetPixel(x, y) ? 15u : 0u; }},
            {src4, fmt8Bit, [](TDIB& s, int x, int y) {  // CreateNew's 16 x i ramp, div 3 of the sum
                 uint32_t c = s.GetPixelColor(x, y);
                 return ((c & 255) + ((c >> 8) & 255) + ((c >> 16) & 255)) / 3;
             }},
            {src8, fmt24Bit, [](TDIB& s, int x, int y) { return uint32_t(s.GetPixel(x, y)) * 0x010101u; }},
            {src4, fmt24Bit, [](TDIB& s, int x, int y) { return uint32_t(s.GetPixel(x, y)) * 16u * 0x010101u; }},
            {src1, fmt24Bit, [](TDIB& s, int x, int y) { return s.GetPixel(x, y) ? 0xFFFFFFu : 0u; }},
        };
        for (size_t i = 0; i < steps.size(); ++i) {
            std::unique_ptr<TDIB> src(steps[i].make());
            std::unique_ptr<TDIB> d(src->Duplicate());
            d->ConvertToFormat(steps[i].target);
            ASSERT_EQ(d->ImageFormat, steps[i].target);
            EXPECT_EQ(d->Width(), w);
            EXPECT_EQ(d->Height(), h);
            expectRowsFollowTable(*d);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(uint32_t(d->GetPixel(x, y)), steps[i].expect(*src, x, y)) << "step " << i << " w " << w << " x " << x;
                // Bits after the last pixel and row padding are zero.
                int usedBits = w * d->BitCount();
                for (int b = usedBits; b < d->Stride * 8; ++b)
                    ASSERT_EQ((d->Rows[y][b / 8] >> (7 - b % 8)) & 1, 0) << "step " << i << " w " << w << " bit " << b;
            }
        }
    }
}

TEST(ConvertToFormat, ResultTables) {
    TDIB d;
    d.CreateNew(2, 2, fmt8Bit, 0, 0);
    d.ConvertToFormat(fmt4Bit);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(d.GetPaletteEntry(i), uint32_t(17 * i) * 0x010101u);
    d.ConvertToFormat(fmt8Bit);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(d.GetPaletteEntry(i), uint32_t(i) * 0x010101u);
    EXPECT_EQ(d.GetPixel(0, 0), 0);
}

TEST(ConvertToFormat, OneBitIgnoresItsColorTableGoingTo24) {
    TDIB d;
    d.CreateNew(3, 1, fmt1Bit, 0, 0);
    d.SetPaletteEntry(0, 0x123456);
    d.SetPaletteEntry(1, 0x654321);
    d.SetPixel(1, 0, 1);
    d.ConvertToFormat(fmt24Bit);
    EXPECT_EQ(d.GetPixelColor(0, 0), 0u);
    EXPECT_EQ(d.GetPixelColor(1, 0), 0xFFFFFFu);
}

TEST(RGBToGray, ChannelAndWeightingCombinations) {
    struct Case {
        uint8_t b, g, r;
        bool weighted, red, green, blue;
        int gray;
    } cases[] = {
        {200, 100, 0, true, true, true, true, 119},
        {200, 100, 0, true, true, true, false, 59},
        {10, 20, 31, false, true, true, true, 20},
        {0, 0, 201, false, true, false, false, 201},
        {7, 0, 0, false, false, false, true, 7},
        {0, 0, 255, true, true, false, false, 0},     // red alone weighs 0.3: set below
        {255, 255, 255, true, true, true, true, 255},
        {1, 2, 0, false, true, true, true, 1},         // 3 / 3
        {1, 0, 0, false, true, true, true, 0},         // Round(1/3)
        {0, 1, 0, false, false, true, true, 0},        // Round(0.5) = 0
        {0, 3, 0, false, false, true, true, 2},        // Round(1.5) = 2
    };
    // Round(0.3 x 255) lands next to 76.5 in extended precision; take it from the formula.
    cases[5].gray = static_cast<int>(std::llrint(0.3L * 255.0f));
    for (const auto& c : cases) {
        TDIB d;
        d.CreateNew(1, 1, fmt24Bit, 0, 0);
        d.Rows[0][0] = c.b;
        d.Rows[0][1] = c.g;
        d.Rows[0][2] = c.r;
        d.RGBToGray(c.weighted, c.red, c.green, c.blue);
        EXPECT_EQ(d.ImageFormat, fmt8Bit);
        EXPECT_EQ(d.GetPixel(0, 0), c.gray) << int(c.b) << "," << int(c.g) << "," << int(c.r) << " w" << c.weighted << c.red << c.green << c.blue;
        EXPECT_TRUE(d.IsGrayPalette());
    }
}

TEST(RGBToGray, AllChannelsMatchesTheSingleRoundedFormulaEverywhere) {
    // Every blue and green value against a sweep of reds, through one wide image.
    TDIB d;
    d.CreateNew(256 * 256, 1, fmt24Bit, 0, 0);
    std::vector<int> expect(256 * 256);
    for (int reds = 0; reds < 256; reds += 17) {
        for (int i = 0; i < 256 * 256; ++i) {
            int b = i & 255, g = i >> 8, r = (reds + i) & 255;
            d.Rows[0][3 * i] = static_cast<uint8_t>(b);
            d.Rows[0][3 * i + 1] = static_cast<uint8_t>(g);
            d.Rows[0][3 * i + 2] = static_cast<uint8_t>(r);
            expect[i] = weightedGrayAllChannels(b, g, r);
        }
        std::unique_ptr<TDIB> c(d.Duplicate());
        c->RGBToGray(true, true, true, true);
        for (int i = 0; i < 256 * 256; ++i) ASSERT_EQ(c->Rows[0][i], expect[i]) << i << " " << reds;
    }
}

TEST(RGBToGray, Failures) {
    TDIB d;
    d.CreateNew(2, 2, fmt8Bit, 0, 0);
    try {
        d.RGBToGray(true, true, true, true);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "This operation requires 24 bit per pixel bitmap !");
    }
    TDIB c;
    c.CreateNew(2, 2, fmt24Bit, 0, 0);
    c.SetPixel(1, 1, 0x010203);
    for (bool w : {true, false}) {
        try {
            c.RGBToGray(w, false, false, false);
            FAIL();
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Unable to convert RGB to Gray without one channel selected !");
        }
    }
    EXPECT_EQ(c.ImageFormat, fmt24Bit);
    EXPECT_EQ(c.GetPixel(1, 1), 0x010203);
}

TEST(RGBToGray, ColorPageThroughConvertToFormat) {
    std::unique_ptr<TDIB> src(make24(37, 11, 5));
    std::unique_ptr<TDIB> d(src->Duplicate());
    d->ConvertToFormat(fmt8Bit);
    expectRowsFollowTable(*d);
    EXPECT_EQ(d->XResolution(), 200);
    EXPECT_EQ(d->YResolution(), 100);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint8_t* p = src->Rows[y] + 3 * x;
            ASSERT_EQ(d->GetPixel(x, y), weightedGrayAllChannels(p[0], p[1], p[2]));
        }
    // 24 -> 1 passes through gray: only gray 0 stays black.
    std::unique_ptr<TDIB> b(src->Duplicate());
    b->ConvertToFormat(fmt1Bit);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(b->GetPixel(x, y), d->GetPixel(x, y) > 0 ? 1 : 0);
}

TEST(ConvertToFormat, FailedReallocationLeavesTheImageIntact) {
    TDIB d;
    d.CreateNew(64, 64, fmt1Bit, 0, 0);
    d.SetPixel(3, 5, 1);
    SetAllocationFailureCountdown(0);
    EXPECT_THROW(d.ConvertToFormat(fmt24Bit), EOSError);
    SetAllocationFailureCountdown(-1);
    EXPECT_EQ(d.ImageFormat, fmt1Bit);
    EXPECT_EQ(d.GetPixel(3, 5), 1);
    EXPECT_EQ(d.GetPixel(4, 5), 0);
    EXPECT_EQ(d.LockCount, 1);
    d.ConvertToFormat(fmt24Bit);
    EXPECT_EQ(d.GetPixelColor(3, 5), 0xFFFFFFu);
}

TEST(Histogram, PerFormat) {
    THistogram h;
    h.fill(7);
    TDIB c;
    c.CreateNew(4, 3, fmt24Bit, 0, 0);
    c.FillWhite();
    c.GetHistogram(h);
    EXPECT_EQ(h[255], 12u);
    EXPECT_EQ(h[254], 0u);

    TDIB b;
    b.CreateNew(10, 3, fmt1Bit, 0, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) b.SetPixel(x, y, 1);
    b.GetHistogram(h);
    EXPECT_EQ(h[1], 30u);
    EXPECT_EQ(h[0], 0u);
    EXPECT_EQ(h[255], 0u);
    b.SetPixel(0, 0, 0);
    b.GetHistogram(h);
    EXPECT_EQ(h[1], 29u);
    EXPECT_EQ(h[0], 1u);

    TDIB g;
    g.CreateNew(3, 2, fmt8Bit, 0, 0);
    g.SetPixel(0, 0, 5);
    g.SetPixel(1, 1, 5);
    g.Rows[0][3] = 5;  // padding is not counted
    g.GetHistogram(h);
    EXPECT_EQ(h[5], 2u);
    EXPECT_EQ(h[0], 4u);
}

TEST(Histogram, EightBitCountsEveryPixelOnce) {
    // Widths around the four-pixel groups of the counter, skewed content (long runs of one
    // level and scattered others), garbage in the row padding.
    std::mt19937 rng(11);
    for (int32_t w : {1, 3, 4, 5, 37, 1001}) {
        TDIB g;
        g.CreateNew(w, 9, fmt8Bit, 0, 0);
        THistogram expect{};
        for (int32_t y = 0; y < 9; ++y) {
            for (int32_t i = 0; i < g.Stride; ++i) g.Rows[y][i] = static_cast<uint8_t>(rng());
            for (int32_t x = 0; x < w; ++x) {
                const auto v = static_cast<uint8_t>(rng() % 4 ? 250 : rng());
                g.Rows[y][x] = v;
                ++expect[v];
            }
        }
        THistogram h;
        h.fill(3);
        g.GetHistogram(h);
        EXPECT_EQ(h, expect) << w;
    }
}

TEST(Histogram, TwentyFourBitTruncatesTheExtendedSum) {
    TDIB c;
    c.CreateNew(256, 3, fmt24Bit, 0, 0);
    std::mt19937 rng(3);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < c.RowBytes; ++i) c.Rows[y][i] = static_cast<uint8_t>(rng());
    THistogram h, expect{};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint8_t* p = c.Rows[y] + 3 * x;
            volatile long double v = 0.3L * p[0];
            v = v + 0.59L * p[1];
            v = v + 0.11L * p[2];
            ++expect[static_cast<int>(std::trunc(v))];
        }
    c.GetHistogram(h);
    EXPECT_EQ(h, expect);
}

TEST(Histogram, ByPaletteUsesTheBlueComponent) {
    TDIB g;
    g.CreateNew(2, 2, fmt8Bit, 0, 0);
    g.SetPaletteEntry(0, 0xFFFFFF);
    g.SetPaletteEntry(255, 0);
    g.SetPixel(1, 1, 255);
    EXPECT_FALSE(g.IsGrayPalette());
    THistogram h;
    g.GetHistogram(h);
    EXPECT_EQ(h[255], 3u);
    EXPECT_EQ(h[0], 1u);

    TDIB f;
    f.CreateNew(2, 2, fmt4Bit, 0, 0);
    h.fill(3);
    try {
        f.GetHistogram(h);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "This operation requires 8 bit per pixel bitmap !");
    }
    EXPECT_EQ(h[0], 3u);
}

TEST(IsGrayPalette, Tables) {
    TDIB b;
    b.CreateNew(1, 1, fmt1Bit, 0, 0);
    EXPECT_FALSE(b.IsGrayPalette());
    b.SetPaletteEntry(0, 0xFFFFFF);
    b.SetPaletteEntry(1, 0);
    EXPECT_TRUE(b.IsGrayPalette());
    b.SetPaletteEntry(0, 0xFFFFFFFF);  // reserved byte is not examined
    EXPECT_TRUE(b.IsGrayPalette());
    TDIB g;
    g.CreateNew(1, 1, fmt8Bit, 0, 0);
    EXPECT_TRUE(g.IsGrayPalette());
    g.SetPaletteEntry(128, 0x808081);
    EXPECT_FALSE(g.IsGrayPalette());
    TDIB f, c;
    f.CreateNew(1, 1, fmt4Bit, 0, 0);
    c.CreateNew(1, 1, fmt24Bit, 0, 0);
    EXPECT_TRUE(f.IsGrayPalette());
    EXPECT_TRUE(c.IsGrayPalette());
}
