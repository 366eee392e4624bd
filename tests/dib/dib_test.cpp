#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

TEST(DIBLayout, CreateNewLayoutPerFormat) {
    struct Case {
        int32_t w, h;
        uint8_t fmt;
        int32_t stride, rowBytes, dibSize, paletteSize, offBits;
    } cases[] = {
        {10, 3, fmt1Bit, 4, 2, 60, 2, 62},
        {33, 2, fmt24Bit, 100, 99, 240, 0, 54},
        {5, 2, fmt4Bit, 4, 3, 112, 16, 118},
        {7, 3, fmt8Bit, 8, 7, 1088, 256, 1078},
        {32, 1, fmt1Bit, 4, 4, 52, 2, 62},
        {33, 1, fmt1Bit, 8, 5, 56, 2, 62},
        {0, 0, fmt8Bit, 0, 0, 1064, 256, 1078},
    };
    for (const auto& c : cases) {
        TDIB d;
        d.CreateNew(c.w, c.h, c.fmt, 300, 300);
        EXPECT_EQ(d.Stride, c.stride) << c.w << " " << int(c.fmt);
        EXPECT_EQ(d.RowBytes, c.rowBytes);
        EXPECT_EQ(d.DIBSize, c.dibSize);
        EXPECT_EQ(d.PaletteSize, c.paletteSize);
        EXPECT_EQ(+d.FileHeader.bfOffBits, uint32_t(c.offBits));
        EXPECT_EQ(+d.FileHeader.bfType, 0x4D42);
        EXPECT_EQ(+d.FileHeader.bfSize, uint32_t(c.dibSize));
        EXPECT_EQ(GlobalSize(d.Handle), size_t(c.dibSize));
        EXPECT_EQ(d.Header->biSize, 40u);
        EXPECT_EQ(d.Header->biSizeImage, uint32_t(c.h * c.stride));
        EXPECT_EQ(d.Header->biClrUsed, uint32_t(c.paletteSize));
        EXPECT_EQ(d.Header->biClrImportant, uint32_t(c.paletteSize));
        EXPECT_EQ(d.Header->biXPelsPerMeter, 11811);
        EXPECT_EQ(d.ImageFormat, c.fmt);
        EXPECT_EQ(d.LockCount, 1);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(d.Palette), d.Memory + 40);
        EXPECT_EQ(d.Bits, d.Memory + 40 + 4 * c.paletteSize);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) EXPECT_EQ(d.GetPixel(x, y), 0);
        int32_t s = -1, rb = -1, total = -1;
        CalcLayout(c.w, c.h, c.fmt, s, rb, total);
        EXPECT_EQ(s, c.stride);
        EXPECT_EQ(rb, c.rowBytes);
        EXPECT_EQ(total, c.dibSize);
    }
}

TEST(DIBLayout, CalcLayoutLeavesOutputsForUnknownFormat) {
    int32_t s = 7, rb = 8, total = 9;
    CalcLayout(10, 10, 5, s, rb, total);
    EXPECT_EQ(s, 7);
    EXPECT_EQ(rb, 8);
    EXPECT_EQ(total, 9);
}

TEST(DIBLayout, CreateNewColorTables) {
    TDIB d1, d4, d8;
    d1.CreateNew(1, 1, fmt1Bit, 0, 0);
    EXPECT_EQ(d1.GetPaletteEntry(0), 0u);
    EXPECT_EQ(d1.GetPaletteEntry(1), 0x00FFFFFFu);
    EXPECT_EQ(d1.BlackIndex(), 0);
    EXPECT_EQ(d1.WhiteIndex(), 1);
    d4.CreateNew(1, 1, fmt4Bit, 0, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(d4.GetPaletteEntry(i), uint32_t(16 * i) * 0x010101u);
    d8.CreateNew(1, 1, fmt8Bit, 0, 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(d8.GetPaletteEntry(i), uint32_t(i) * 0x010101u);
    EXPECT_EQ(d8.WhiteIndex(), 255);
    EXPECT_EQ(d8.BlackIndex(), 0);
}

TEST(DIBLayout, CreateNewRefusals) {
    TDIB d;
    d.CreateNew(4, 4, fmt8Bit, 0, 0);
    for (uint8_t f : {0, 4, 5, 7, 200}) {
        try {
            d.CreateNew(4, 4, f, 0, 0);
            FAIL();
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Bit depht not allowed");
        }
        EXPECT_EQ(d.GetHandle(), 0u);
        EXPECT_EQ(d.Width(), 0);
    }
    EXPECT_THROW(d.CreateNew(-1, 4, fmt8Bit, 0, 0), Exception);
    EXPECT_THROW(d.CreateNew(4, -1, fmt8Bit, 0, 0), Exception);
    EXPECT_THROW(d.CreateNew(100000, 100000, fmt24Bit, 0, 0), Exception);
    EXPECT_THROW(d.CreateNew(INT32_MAX, 1, fmt1Bit, 0, 0), Exception);
    EXPECT_EQ(d.GetHandle(), 0u);
}

TEST(DIBResolution, ExtendedPrecisionTiesToEven) {
    struct Case {
        int32_t dpi, ppm;
    } toPpm[] = {{72, 2835}, {96, 3780}, {300, 11811}, {50, 1968}, {150, 5906}, {0, 0}, {600, 23622}, {200, 7874}};
    for (const auto& c : toPpm) {
        EXPECT_EQ(DpiToPelsPerMeter(c.dpi), c.ppm) << c.dpi;
        EXPECT_EQ(PelsPerMeterToDpi(c.ppm), c.dpi) << c.ppm;
    }
    EXPECT_EQ(PelsPerMeterToDpi(3779), 96);
    TDIB d;
    d.CreateNew(2, 2, fmt1Bit, 50, 150);
    EXPECT_EQ(d.Header->biXPelsPerMeter, 1968);
    EXPECT_EQ(d.Header->biYPelsPerMeter, 5906);
    d.SetXResolution(96);
    d.SetYResolution(72);
    EXPECT_EQ(d.Header->biXPelsPerMeter, 3780);
    EXPECT_EQ(d.XResolution(), 96);
    EXPECT_EQ(d.YResolution(), 72);
}

TEST(DIBPixels, RowsAddressTopRowAtTheEnd) {
    TDIB d;
    d.CreateNew(3, 4, fmt8Bit, 0, 0);
    d.SetPixel(0, 0, 7);
    EXPECT_EQ(d.Bits[(4 - 1) * d.Stride], 7);
    d.SetPixel(2, 3, 0x1FF);
    EXPECT_EQ(d.Bits[2], 0xFF);
}

TEST(DIBPixels, PerFormatReadersAndWriters) {
    TDIB d1;
    d1.CreateNew(16, 1, fmt1Bit, 0, 0);
    d1.SetPixel(0, 0, 1);
    d1.SetPixel(9, 0, 5);
    EXPECT_EQ(d1.Rows[0][0], 0x80);
    EXPECT_EQ(d1.Rows[0][1], 0x40);
    EXPECT_EQ(d1.GetPixel(9, 0), 1);
    d1.SetPixel(9, 0, -1);
    EXPECT_EQ(d1.GetPixel(9, 0), 0);
    d1.SetPixel(0, 0, 0);
    EXPECT_EQ(d1.Rows[0][0], 0);

    TDIB d4;
    d4.CreateNew(3, 1, fmt4Bit, 0, 0);
    d4.SetPixel(0, 0, 0x1A);
    d4.SetPixel(1, 0, 5);
    EXPECT_EQ(d4.Rows[0][0], 0xA5);
    d4.SetPixel(0, 0, 3);
    EXPECT_EQ(d4.Rows[0][0], 0x35);
    EXPECT_EQ(d4.GetPixel(1, 0), 5);

    TDIB d24;
    d24.CreateNew(2, 1, fmt24Bit, 0, 0);
    uint8_t* p = d24.Rows[0] + 3;
    p[0] = 0x10;
    p[1] = 0x20;
    p[2] = 0x30;
    EXPECT_EQ(d24.GetPixelColor(1, 0), 0x302010u);
    EXPECT_EQ(d24.GetPixel(1, 0), 0x102030);
    d24.SetPixel(0, 0, 0x0A0B0C);  // red 0C, green 0B, blue 0A
    EXPECT_EQ(d24.Rows[0][0], 0x0A);
    EXPECT_EQ(d24.Rows[0][2], 0x0C);
    d24.SetPixelColor(0, 0, 0x112233);  // red 11, green 22, blue 33
    EXPECT_EQ(d24.Rows[0][0], 0x33);
    EXPECT_EQ(d24.Rows[0][2], 0x11);
}

TEST(DIBPixels, NearestPaletteEntryKeepsTheFirstOfEqualDistances) {
    TDIB d;
    d.CreateNew(1, 1, fmt4Bit, 0, 0);
    // Entries 3 and 5 at equal distance from gray 64; entry 4 pushed far away.
    d.SetPaletteEntry(3, 0x303030);
    d.SetPaletteEntry(4, 0xFF00FF);
    d.SetPaletteEntry(5, 0x505050);
    for (int i : {0, 1, 2, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}) d.SetPaletteEntry(i, 0xFFFFFF);
    d.SetPixelColor(0, 0, 0x404040);
    EXPECT_EQ(d.GetPixel(0, 0), 3);
    EXPECT_EQ(d.GetPixelColor(0, 0), 0x303030u);
    // An exact match wins even with an earlier near one.
    d.SetPixelColor(0, 0, 0x505050);
    EXPECT_EQ(d.GetPixel(0, 0), 5);

    TDIB g;
    g.CreateNew(1, 1, fmt8Bit, 0, 0);
    g.SetPixelColor(0, 0, 0x00FF0000);  // pure red: nearest gray by squared distance
    EXPECT_EQ(g.GetPixel(0, 0), 85);
}

TEST(DIBPixels, BlackAndWhiteIndexFollowTheTable) {
    TDIB d;
    d.CreateNew(1, 1, fmt1Bit, 0, 0);
    d.SetPaletteEntry(0, 0xFFFFFF);
    d.SetPaletteEntry(1, 0);
    EXPECT_EQ(d.BlackIndex(), 1);
    EXPECT_EQ(d.WhiteIndex(), 0);
    d.SetPaletteEntry(1, 0x101010);
    EXPECT_EQ(d.BlackIndex(), 1);
    d.SetPaletteEntry(0, 0xF0F0F0);
    EXPECT_EQ(d.WhiteIndex(), 0);
    TDIB c;
    c.CreateNew(1, 1, fmt24Bit, 0, 0);
    EXPECT_EQ(c.WhiteIndex(), 0x00FFFFFF);
    EXPECT_EQ(c.BlackIndex(), 0);
    TDIB g;
    g.CreateNew(1, 1, fmt8Bit, 0, 0);
    g.SetPaletteEntry(255, 0x10);
    g.SetPaletteEntry(0, 0x10);
    EXPECT_EQ(g.WhiteIndex(), 255);
    EXPECT_EQ(g.BlackIndex(), 0);
}

TEST(DIBPixels, LogPaletteEntries) {
    TDIB d;
    d.CreateNew(1, 1, fmt4Bit, 0, 0);
    TLogPalette lp;
    lp.palNumEntries = 2;
    lp.palPalEntry[0] = {1, 2, 3, 9};
    lp.palPalEntry[1] = {4, 5, 6, 9};
    d.SetPaletteFromLogPalette(lp);
    EXPECT_EQ(d.GetPaletteEntry(0), 0x010203u);
    EXPECT_EQ(d.GetPaletteEntry(1), 0x040506u);
    EXPECT_EQ(d.GetPaletteEntry(2), 0x202020u);
}

TEST(DIBWhole, FillAndInvertKeepPaddingAndTable) {
    TDIB d;
    d.CreateNew(5, 3, fmt8Bit, 0, 0);  // RowBytes 5, Stride 8
    d.Fill(0x12);
    for (int32_t i = 0; i < 3 * 8; ++i) EXPECT_EQ(d.Bits[i], 0x12);
    d.Rows[1][6] = 0x77;
    d.Invert();
    EXPECT_EQ(d.Rows[1][0], 0xED);
    EXPECT_EQ(d.Rows[1][4], 0xED);
    EXPECT_EQ(d.Rows[1][5], 0x12);
    EXPECT_EQ(d.Rows[1][6], 0x77);
    EXPECT_EQ(d.GetPaletteEntry(0), 0u);
    d.Invert();
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(d.Rows[y][0], 0x12);
    d.FillWhite();
    EXPECT_EQ(d.Rows[2][7], 0xFF);
}

TEST(DIBWhole, DuplicateKeepsExactPelsPerMeterAndOwnsItsBlock) {
    TDIB d;
    d.CreateNew(9, 2, fmt24Bit, 96, 96);
    d.Header->biXPelsPerMeter = 3779;
    d.SetPixel(8, 1, 0x123456);
    std::unique_ptr<TDIB> c(d.Duplicate());
    EXPECT_NE(c->Handle, d.Handle);
    EXPECT_TRUE(c->OwnsHandle);
    EXPECT_EQ(c->Header->biXPelsPerMeter, 3779);
    EXPECT_EQ(c->GetPixel(8, 1), 0x123456);
    EXPECT_EQ(c->LockCount, 1);
    EXPECT_EQ(d.LockCount, 1);
    EXPECT_EQ(std::memcmp(c->Memory, d.Memory, size_t(d.DIBSize)), 0);
    EXPECT_EQ(+c->FileHeader.bfOffBits, 54u);
}

TEST(DIBBlock, ClearWithoutOwnershipLeavesTheBlockUsable) {
    size_t before = GlobalBlockCount();
    HGLOBAL h;
    {
        TDIB d;
        d.CreateNew(4, 4, fmt8Bit, 0, 0);
        d.SetPixel(1, 1, 42);
        h = d.GetHandle();
        d.OwnsHandle = false;
        d.Clear();
        EXPECT_EQ(d.GetHandle(), 0u);
        EXPECT_EQ(d.Width(), 0);
        EXPECT_EQ(d.Height(), 0);
        EXPECT_TRUE(d.Rows.empty());
        EXPECT_EQ(+d.FileHeader.bfType, 0);
        EXPECT_EQ(GlobalLockCount(h), 0u);
        EXPECT_EQ(GlobalSize(h), 1064u + 16u);
    }
    TDIB other;
    other.SetHandle(h);
    EXPECT_EQ(other.GetPixel(1, 1), 42);
    EXPECT_EQ(other.Width(), 4);
    EXPECT_EQ(other.ImageFormat, fmt8Bit);
    EXPECT_EQ(other.DIBSize, 1080);
    other.Clear();
    EXPECT_EQ(GlobalBlockCount(), before);
}

TEST(DIBBlock, EmptyImage) {
    TDIB d;
    EXPECT_EQ(d.Width(), 0);
    EXPECT_EQ(d.Height(), 0);
    EXPECT_EQ(d.GetHandle(), 0u);
    EXPECT_TRUE(d.OwnsHandle);
    EXPECT_EQ(d.ImageFormat, fmt8Bit);
    d.SetHandle(0);
    EXPECT_EQ(d.GetHandle(), 0u);
    d.UnlockAll();
    d.Clear();
}

TEST(DIBBlock, LockNestsAndUnlockAllReleases) {
    TDIB d;
    d.CreateNew(2, 2, fmt1Bit, 0, 0);
    uint8_t* m = d.Lock();
    EXPECT_EQ(m, d.Memory);
    EXPECT_EQ(d.LockCount, 2);
    EXPECT_EQ(GlobalLockCount(d.Handle), 1u);
    d.UnlockAll();
    EXPECT_EQ(d.LockCount, 0);
    EXPECT_EQ(d.Memory, nullptr);
    EXPECT_EQ(GlobalLockCount(d.Handle), 0u);
    EXPECT_EQ(d.GetHandle(), d.Handle);
}

namespace {

// A block with a header written by hand.
HGLOBAL makeBlock(size_t size, int32_t w, int32_t h, uint16_t bits, uint32_t biSize = 40, uint32_t compression = 0) {
    HGLOBAL blk = GlobalAlloc(GHND, size);
    auto* p = static_cast<BITMAPINFOHEADER*>(GlobalLock(blk));
    if (size >= 40) {
        p->biSize = biSize;
        p->biWidth = w;
        p->biHeight = h;
        p->biPlanes = 1;
        p->biBitCount = bits;
        p->biCompression = compression;
    }
    GlobalUnlock(blk);
    return blk;
}

}  // namespace

TEST(DIBBlock, SetHandleRefusesBlocksThatDoNotFit) {
    size_t before = GlobalBlockCount();
    struct Case {
        const char* what;
        size_t size;
        int32_t w, h;
        uint16_t bits;
        uint32_t biSize, compression;
    } bad[] = {
        {"smaller than a header", 20, 1, 1, 8, 40, 0},
        {"rows past the end", 1064 + 4 * 9, 4, 10, 8, 40, 0},
        {"color table past the end", 60, 1, 1, 8, 40, 0},
        {"bit count 16", 4000, 4, 4, 16, 40, 0},
        {"bit count 32", 4000, 4, 4, 32, 40, 0},
        {"bit count 0", 4000, 4, 4, 0, 40, 0},
        {"top-down", 4000, 4, -4, 8, 40, 0},
        {"negative width", 4000, -4, 4, 8, 40, 0},
        {"header 108", 4000, 4, 4, 8, 108, 0},
        {"run-length", 4000, 4, 4, 8, 40, 1},
        {"32-bit overflow", 4000, 70000, 70000, 24, 40, 0},
    };
    for (const auto& c : bad) {
        HGLOBAL blk = makeBlock(c.size, c.w, c.h, c.bits, c.biSize, c.compression);
        TDIB d;
        d.CreateNew(2, 2, fmt1Bit, 0, 0);
        EXPECT_THROW(d.SetHandle(blk), Exception) << c.what;
        EXPECT_EQ(d.GetHandle(), 0u) << c.what;
        EXPECT_EQ(d.Width(), 0);
        EXPECT_TRUE(d.Rows.empty());
        EXPECT_EQ(GlobalLockCount(blk), 0u) << c.what;
        d.Clear();  // owns nothing: must not free the refused block
        EXPECT_EQ(GlobalSize(blk), c.size) << c.what;
        GlobalFree(blk);
    }
    EXPECT_EQ(GlobalBlockCount(), before);

    // Exactly large enough, and larger than needed, are accepted.
    for (size_t extra : {0, 100}) {
        HGLOBAL blk = makeBlock(1064 + 4 * 10 + extra, 4, 10, 8);
        TDIB d;
        d.SetHandle(blk);
        EXPECT_EQ(d.Height(), 10);
        EXPECT_EQ(d.DIBSize, 1064 + 40);
    }
}

TEST(DIBBlock, PixelOffsetFromTheFileHeaderIsChecked) {
    HGLOBAL blk = makeBlock(1064 + 16 + 100, 4, 4, 8);
    TDIB d;
    d.Handle = blk;
    d.FileHeader.bfOffBits = 14 + 1064 + 100;
    d.Lock();
    d.LoadHeaderInfo();
    EXPECT_EQ(d.Bits, d.Memory + 1164);
    d.FileHeader.bfOffBits = 14 + 1064 + 101;
    EXPECT_THROW(d.LoadHeaderInfo(), Exception);
    d.FileHeader.bfOffBits = 14 + 100;  // inside the color table
    EXPECT_THROW(d.LoadHeaderInfo(), Exception);
    d.Clear();
}

TEST(DIBBlock, TwoImagesShareABlockOneOwnsIt) {
    size_t before = GlobalBlockCount();
    auto a = std::make_unique<TDIB>();
    a->CreateNew(3, 3, fmt24Bit, 0, 0);
    TDIB b;
    b.SetHandle(a->GetHandle());
    a->OwnsHandle = false;
    a.reset();
    EXPECT_EQ(b.Width(), 3);
    b.Clear();
    EXPECT_EQ(GlobalBlockCount(), before);
}
