#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

std::unique_ptr<TDIB> Numbered(int32_t w, int32_t h, uint8_t fmt) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt, 300, 200);
    int32_t mod = fmt == fmt1Bit ? 2 : fmt == fmt4Bit ? 16 : fmt == fmt8Bit ? 256 : 0xFFFFFF;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) d->SetPixel(x, y, static_cast<int32_t>((x * 7 + y * 13 + (x * y) % 5) % mod));
    return d;
}

}  // namespace

TEST(Geometry, CropToRectKeepsTheRectangle) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit}) {
        auto d = Numbered(150, 260, fmt);
        std::unique_ptr<TDIB> orig(d->Duplicate());
        d->CropToRect(Rect(10, 20, 109, 219));
        ASSERT_EQ(d->Width(), 100);
        ASSERT_EQ(d->Height(), 200);
        EXPECT_EQ(d->XResolution(), 300);
        for (int32_t y = 0; y < 200; ++y)
            for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(d->GetPixel(x, y), orig->GetPixel(x + 10, y + 20)) << int(fmt);
    }
}

TEST(Geometry, SetSizeKeepsTopLeftAndFillsNewPixels) {
    struct Case {
        int32_t w, h;
    } sizes[] = {{30, 40}, {13, 25}, {45, 25}, {13, 60}, {31, 21}, {3, 1}};
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit})
        for (const auto& s : sizes) {
            auto d = Numbered(30, 25, fmt);
            std::unique_ptr<TDIB> orig(d->Duplicate());
            d->SetSize(s.w, s.h, 0xFF);
            ASSERT_EQ(d->Width(), s.w);
            ASSERT_EQ(d->Height(), s.h);
            EXPECT_EQ(GlobalSize(d->Handle), size_t(d->DIBSize));
            int32_t white = fmt == fmt1Bit ? 1 : fmt == fmt4Bit ? 15 : fmt == fmt8Bit ? 255 : 0xFFFFFF;
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x) {
                    int32_t expect = (x < 30 && y < 25) ? orig->GetPixel(x, y) : white;
                    ASSERT_EQ(d->GetPixel(x, y), expect) << int(fmt) << " " << s.w << "x" << s.h << " at " << x << "," << y;
                }
        }
}

TEST(Geometry, SetSizeFailureLeavesTheImageUsable) {
    auto d = Numbered(20, 20, fmt8Bit);
    std::unique_ptr<TDIB> orig(d->Duplicate());
    SetAllocationFailureCountdown(0);
    EXPECT_THROW(d->SetSize(40, 40, 0), EOSError);
    SetAllocationFailureCountdown(-1);
    ASSERT_EQ(d->Width(), 20);
    EXPECT_EQ(std::memcmp(d->Memory, orig->Memory, size_t(orig->DIBSize)), 0);
    EXPECT_THROW(d->SetSize(-1, 5, 0), Exception);
}

TEST(Geometry, ShiftLineMovesTheStoredRow) {
    // 1 bit, 10 pixels: stride 4 bytes = 32 positions including padding.
    TDIB d;
    d.CreateNew(10, 1, fmt1Bit, 300, 300);
    d.Rows[0][0] = 0xC0;  // pixels 0, 1 black... set
    d.Rows[0][3] = 0x01;  // last padding bit
    d.ShiftLine(0, 3);
    EXPECT_EQ(d.Rows[0][0], 0xF8);  // three white (1) bits then 11
    EXPECT_EQ(d.Rows[0][3], 0x00);  // the padding bit fell off the end
    d.Rows[0][3] = 0x01;
    d.ShiftLine(0, -9);  // toward lower X: the padding comes into view, white after it
    EXPECT_EQ(d.Rows[0][2], 0x03);  // old bit 31 is now bit 22
    EXPECT_EQ(d.Rows[0][3], 0xFF);
    struct Case {
        uint8_t fmt;
        int32_t count;
    } cases[] = {{fmt4Bit, 3}, {fmt4Bit, -5}, {fmt8Bit, 4}, {fmt8Bit, -2}, {fmt24Bit, 2}, {fmt24Bit, -3}, {fmt8Bit, 99}};
    for (const auto& c : cases) {
        auto img = Numbered(8, 2, c.fmt);  // row width equals stride for all of these
        std::unique_ptr<TDIB> orig(img->Duplicate());
        img->ShiftLine(1, c.count);
        int32_t white = img->WhiteIndex();
        if (c.fmt == fmt4Bit) white = 0;
        for (int32_t x = 0; x < 8; ++x) {
            int32_t from = x - c.count;
            int32_t expect = (from >= 0 && from < 8) ? orig->GetPixel(from, 1) : white;
            EXPECT_EQ(img->GetPixel(x, 1), expect) << int(c.fmt) << " " << c.count << " " << x;
            EXPECT_EQ(img->GetPixel(x, 0), orig->GetPixel(x, 0));
        }
    }
}

TEST(Geometry, ShiftRowsFillsWithWhite) {
    auto d = Numbered(20, 10, fmt1Bit);
    std::unique_ptr<TDIB> orig(d->Duplicate());
    d->ShiftRows(3);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(d->GetPixel(x, y), y < 3 ? 1 : orig->GetPixel(x, y - 3));
    d->ShiftRows(-4);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(d->GetPixel(x, y), y >= 6 ? 1 : orig->GetPixel(x, y + 1));
    d->ShiftRows(100);
    for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(d->Rows[y][0], 0xFF);
}

TEST(Geometry, QuarterTurns) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit}) {
        auto d = Numbered(37, 11, fmt);
        std::unique_ptr<TDIB> orig(d->Duplicate());
        d->Rotate90();
        ASSERT_EQ(d->Width(), 11);
        ASSERT_EQ(d->Height(), 37);
        for (int32_t y = 0; y < 11; ++y)
            for (int32_t x = 0; x < 37; ++x) ASSERT_EQ(d->GetPixel(10 - y, x), orig->GetPixel(x, y));
        d->Rotate270();
        EXPECT_EQ(std::memcmp(d->Bits, orig->Bits, size_t(orig->Height()) * orig->Stride), 0);
        d->Rotate180();
        for (int32_t y = 0; y < 11; ++y)
            for (int32_t x = 0; x < 37; ++x) ASSERT_EQ(d->GetPixel(36 - x, 10 - y), orig->GetPixel(x, y));
        EXPECT_EQ(d->XResolution(), 300);
        EXPECT_EQ(d->YResolution(), 200);
    }
    TDIB small;
    small.CreateNew(3, 2, fmt8Bit, 300, 300);
    small.SetPixel(0, 0, 9);
    small.Rotate90();
    EXPECT_EQ(small.GetPixel(1, 0), 9);  // top-left goes to the top-right corner
}

TEST(Geometry, RotateByAngle) {
    auto d = Numbered(100, 50, fmt8Bit);
    std::unique_ptr<TDIB> orig(d->Duplicate());
    d->RotateByAngle(false, 0, 0);
    EXPECT_EQ(std::memcmp(d->Memory, orig->Memory, size_t(orig->DIBSize)), 0);
    d->RotateByAngle(true, 0, 90);
    EXPECT_EQ(d->Width(), 50);
    EXPECT_EQ(d->Height(), 100);
    // Same canvas, 180 degrees about (50, 25): (x, y) comes from (100 - x, 50 - y), and the
    // column x = 0 and row y = 0 fall outside and take the fill value.
    auto e = Numbered(100, 50, fmt8Bit);
    e->RotateByAngle(false, 7, 180);
    EXPECT_EQ(e->GetPixel(10, 10), orig->GetPixel(90, 40));
    EXPECT_EQ(e->GetPixel(0, 10), 7);
}

TEST(Geometry, CopyRect) {
    auto d = Numbered(40, 30, fmt4Bit);
    d->SetPaletteEntry(3, 0x00123456);
    std::unique_ptr<TDIB> c(d->CopyRect(Rect(5, 6, 14, 26)));
    ASSERT_EQ(c->Width(), 10);
    ASSERT_EQ(c->Height(), 21);
    EXPECT_EQ(c->GetPaletteEntry(3), 0x00123456u);
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 10; ++x) ASSERT_EQ(c->GetPixel(x, y), d->GetPixel(x + 5, y + 6));
    EXPECT_THROW(d->CopyRect(Rect(5, 6, 40, 26)), Exception);
    EXPECT_THROW(d->CopyRect(Rect(5, 6, 4, 26)), Exception);
    EXPECT_THROW(d->CopyRect(Rect(-1, 0, 4, 6)), Exception);
}

TEST(Geometry, DeskewEstimatesAndRotates) {
    TDIB d;
    d.CreateNew(800, 600, fmt1Bit, 300, 300);
    d.Fill(0xFF);
    for (int32_t top = 40; top < 560; top += 30)
        for (int32_t x = 0; x < 800; ++x)
            for (int32_t k = 0; k < 3; ++k) d.SetPixel(x, top + (-20 * x) / 800 + 20 + k, 0);
    std::unique_ptr<TDIB> copy(d.Duplicate());
    double angle = d.Deskew(true, false, 5);
    EXPECT_EQ(angle, copy->EstimateSkew(0, 5, 0.1));
    EXPECT_GT(angle, 0.0);
    copy->Rotate(true, false, angle, angle);
    EXPECT_EQ(std::memcmp(d.Memory, copy->Memory, size_t(d.DIBSize)), 0);
}
