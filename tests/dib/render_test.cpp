#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/raster.h"

using namespace qil;

namespace {

// Black (0) and white (1) 1-bit page with a checkerboard of 2 x 2 cells.
std::unique_ptr<TDIB> Checker(int32_t w, int32_t h) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, 300, 300);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) d->SetPixel(x, y, ((x / 2) + (y / 2)) & 1);
    return d;
}

}  // namespace

TEST(Render, ScaleToGrayQuarterOfA1BitPage) {
    TDIB d;
    d.CreateNew(800, 600, fmt1Bit, 300, 300);
    // Box (0, 0) gets 8 white pixels, box (1, 0) 16, the rest none.
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x) d.SetPixel(x, y, 1);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 4; x < 8; ++x) d.SetPixel(x, y, 1);
    std::unique_ptr<TDIB> g(d.ScaleToGray(16, 25));
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Width(), 200);
    EXPECT_EQ(g->Height(), 150);
    EXPECT_EQ(g->ImageFormat, fmt4Bit);
    EXPECT_EQ(g->GetPixel(0, 0), 7);
    EXPECT_EQ(g->GetPixel(1, 0), 15);
    EXPECT_EQ(g->GetPixel(2, 0), 0);
    EXPECT_EQ(g->GetPaletteEntry(1), 0x00111111u);
    EXPECT_EQ(g->GetPaletteEntry(15), 0x00FFFFFFu);
}

TEST(Render, ScaleToGrayMatchesBoxCounts) {
    struct Case {
        int32_t levels, zoom;
    } cases[] = {{16, 25}, {16, 33}, {256, 10}, {4, 50}, {17, 7}, {16, 150}, {1, 0}, {256, 25}};
    // Widths on both sides of whole bytes and of whole 4-pixel boxes; heights with partial boxes.
    struct Size {
        int32_t w, h;
    } sizes[] = {{123, 77}, {128, 64}, {130, 33}, {132, 6}, {5, 9}};
    std::mt19937 rng(2);
    for (const auto& size : sizes) {
        const int32_t w = size.w, h = size.h;
        auto d = Checker(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t i = 0; i < d->RowBytes; ++i) d->Rows[y][i] ^= static_cast<uint8_t>(rng() & rng());
        for (const auto& c : cases) {
            std::unique_ptr<TDIB> g(d->ScaleToGray(c.levels, c.zoom));
            ASSERT_TRUE(g);
            int32_t zoom = std::clamp(c.zoom, 1, 100), levels = std::clamp(c.levels, 4, 256);
            long double step = 100.0L / zoom;
            int32_t box = static_cast<int32_t>(std::min<long long>(static_cast<long long>(step + 0.5L), 8));
            ASSERT_EQ(g->Width(), static_cast<int32_t>(std::nearbyint(zoom * (static_cast<long double>(w) / 100))));
            EXPECT_EQ(g->ImageFormat, levels > 16 ? fmt8Bit : fmt4Bit);
            for (int32_t y = 0; y < g->Height(); ++y)
                for (int32_t x = 0; x < g->Width(); ++x) {
                    // Both limits are computed from the unclamped start, then each is lowered.
                    int32_t xa = std::min<int32_t>(std::llrint(x * step), w - 1), xb = std::min<int32_t>(std::llrint(x * step) + box - 1, w - 1);
                    int32_t ya = std::min<int32_t>(std::llrint(y * step), h - 1), yb = std::min<int32_t>(std::llrint(y * step) + box - 1, h - 1);
                    int32_t n = 0;
                    for (int32_t sy = ya; sy <= yb; ++sy)
                        for (int32_t sx = xa; sx <= xb; ++sx) n += d->GetPixel(sx, sy);
                    int32_t level = 0;
                    while (!(n <= static_cast<long double>(level + 1) * box * box / levels)) ++level;
                    ASSERT_EQ(g->GetPixel(x, y), level) << w << "x" << h << " " << c.levels << " " << c.zoom << " at " << x << "," << y;
                }
            if (g->ImageFormat == fmt4Bit && (g->Width() & 1)) {  // the unused low nibble of a row's last byte
                for (int32_t y = 0; y < g->Height(); ++y) ASSERT_EQ(g->Rows[y][g->Width() / 2] & 0x0F, 0);
            }
        }
    }
    TDIB gray;
    gray.CreateNew(4, 4, fmt8Bit, 300, 300);
    EXPECT_THROW(gray.ScaleToGray(16, 25), Exception);
}

TEST(Render, ScaleToGrayComplementsAWhiteFirstTable) {
    auto d = Checker(16, 16);
    d->SetPaletteEntry(0, 0x00FFFFFF);
    d->SetPaletteEntry(1, 0);
    std::unique_ptr<TDIB> g(d->ScaleToGray(16, 50));
    ASSERT_TRUE(g);
    EXPECT_EQ(g->GetPaletteEntry(0), 0x00FFFFFFu);
    EXPECT_EQ(g->GetPaletteEntry(15), 0u);
}

TEST(Render, DrawStretchModes) {
    // A 4 x 2 1-bit image: columns 0 and 2 white, 1 and 3 black; drawn at half width.
    TDIB d;
    d.CreateNew(4, 2, fmt1Bit, 300, 300);
    for (int32_t y = 0; y < 2; ++y) {
        d.SetPixel(0, y, 1);
        d.SetPixel(2, y, 1);
    }
    struct Case {
        int32_t mode;
        uint32_t expect;
    } cases[] = {{0, 0x00FFFFFF}, {1, 0x000000}, {2, 0x00FFFFFF}, {3, 0x00808080}};
    for (const auto& c : cases) {
        TRasterDevice dev(10, 10, 0x00123456);
        SetStretchBltMode(&dev, WHITEONBLACK);
        SetBrushOrgEx(&dev, 5, 6, nullptr);
        d.Draw(&dev, 3, 4, 2, 1, c.mode);
        EXPECT_EQ(dev.Pixel(3, 4), c.expect) << c.mode;
        EXPECT_EQ(dev.Pixel(4, 4), c.expect) << c.mode;
        EXPECT_EQ(dev.Pixel(2, 4), 0x00123456u);
        EXPECT_EQ(dev.Pixel(3, 5), 0x00123456u);
        EXPECT_EQ(GetStretchBltMode(&dev), WHITEONBLACK);
        EXPECT_EQ(dev.BrushOrigin, (TPoint{5, 6}));
    }
}

TEST(Render, DrawEnlargesThroughTheColorTableAndClips) {
    TDIB d;
    d.CreateNew(2, 2, fmt8Bit, 300, 300);
    d.SetPaletteEntry(1, 0x00FF0000);  // red
    d.SetPaletteEntry(2, 0x0000FF00);
    d.SetPixel(0, 0, 1);  // top-left red
    d.SetPixel(1, 1, 2);  // bottom-right green
    TRasterDevice dev(5, 5, 0x00FFFFFF);
    d.Draw(&dev, -1, 1, 6, 6, 0);
    EXPECT_EQ(dev.Pixel(0, 1), 0x00FF0000u);
    EXPECT_EQ(dev.Pixel(1, 3), 0x00FF0000u);
    EXPECT_EQ(dev.Pixel(2, 1), 0u);  // top-right black (index 0)
    EXPECT_EQ(dev.Pixel(4, 4), 0x0000FF00u);
    EXPECT_EQ(dev.Pixel(0, 0), 0x00FFFFFFu);
    // 24 bits: stored blue, green, red.
    TDIB c;
    c.CreateNew(1, 1, fmt24Bit, 300, 300);
    c.Rows[0][0] = 0x10;
    c.Rows[0][1] = 0x20;
    c.Rows[0][2] = 0x30;
    c.Draw(&dev, 0, 0, 1, 1, 3);
    EXPECT_EQ(dev.Pixel(0, 0), 0x00302010u);
    EXPECT_EQ(GetStretchBltMode(&dev), BLACKONWHITE);
}

TEST(Render, StretchDIBitsRefusesBadArguments) {
    TDIB d;
    d.CreateNew(4, 4, fmt8Bit, 300, 300);
    TRasterDevice dev(4, 4);
    EXPECT_EQ(StretchDIBits(&dev, 0, 0, 4, 4, 0, 0, 4, 4, d.Bits, d.Header, DIB_RGB_COLORS, SRCCOPY), 4);
    EXPECT_EQ(StretchDIBits(&dev, 0, 0, 4, 4, 1, 0, 4, 4, d.Bits, d.Header, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(&dev, 0, 0, 0, 4, 0, 0, 4, 4, d.Bits, d.Header, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(nullptr, 0, 0, 4, 4, 0, 0, 4, 4, d.Bits, d.Header, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(SetStretchBltMode(&dev, 9), 0);
    EXPECT_EQ(GetStretchBltMode(&dev), BLACKONWHITE);
    // The bottom-up source origin: YSrc 0, height 1 is the bottom row.
    d.SetPixel(0, 3, 200);
    TRasterDevice one(1, 1);
    StretchDIBits(&one, 0, 0, 1, 1, 0, 0, 1, 1, d.Bits, d.Header, DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(one.Pixel(0, 0), 0x00C8C8C8u);
}
