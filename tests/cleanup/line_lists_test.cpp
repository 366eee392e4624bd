#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cleanup/blobs.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

using namespace qil;

namespace {

std::unique_ptr<TDIB> Page(int32_t w, int32_t h) {
    auto d = std::make_unique<TDIB>();
    d->CreateNew(w, h, fmt1Bit, 300, 300);
    d->Fill(0xFF);  // (black, white) table: bit 1 is white
    return d;
}

void Box(TDIB& d, int32_t l, int32_t t, int32_t r, int32_t b) {
    for (int32_t y = t; y <= b; ++y)
        for (int32_t x = l; x <= r; ++x) d.SetPixel(x, y, d.BlackIndex());
}

std::vector<TRect> Rects(TBlobList& list) {
    std::vector<TRect> out;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const TBlob& b = list.Items(i);
        out.push_back(TRect{b.Left, b.Top, b.Right, b.Bottom});
    }
    return out;
}

TEST(LineLists, RunsAreAppendedInScanOrder) {
    auto d = Page(14, 3);
    Box(*d, 0, 0, 2, 0);
    Box(*d, 5, 0, 9, 0);
    Box(*d, 13, 0, 13, 0);
    Box(*d, 4, 2, 13, 2);
    TBlobList runs;
    runs.AddRect(7, 7, 7, 7);
    EXPECT_EQ(d->FindHorizontalRuns(4, 0, runs), 3);  // appended after the record already there
    EXPECT_EQ(Rects(runs), (std::vector<TRect>{Rect(7, 7, 7, 7), Rect(5, 0, 9, 0), Rect(4, 2, 13, 2)}));
    TBlobList columns;
    EXPECT_EQ(d->FindVerticalRuns(1, 1, columns), 13);
    EXPECT_EQ(Rects(columns)[0], Rect(0, 0, 0, 0));
    EXPECT_EQ(Rects(columns)[3], Rect(4, 2, 4, 2));
    EXPECT_EQ(Rects(columns)[4], Rect(5, 0, 5, 2));  // black, white, black bridges one hole
}

TEST(LineLists, LinesAreBlobsWithZeroFields) {
    auto d = Page(400, 60);
    Box(*d, 10, 10, 309, 12);
    Box(*d, 10, 30, 309, 45);  // ratio 300 / 16 < 20
    Box(*d, 20, 50, 22, 59);
    TBlobList lines;
    ASSERT_EQ(d->FindHorizontalLines(100, 2, 20, lines), 1);
    EXPECT_EQ(Rects(lines)[0], Rect(10, 10, 309, 12));
    EXPECT_EQ(lines.Items(0).Tag, 0);
    EXPECT_EQ(lines.Items(0).PixelCount, 0);
    TBlobList vertical;
    EXPECT_EQ(d->FindVerticalLines(5, 0, 3, vertical), 1);  // columns 20 ... 22 of rows 50 ... 59
    EXPECT_EQ(Rects(vertical)[0], Rect(20, 50, 22, 59));
}

TEST(LineLists, RecordsAlreadyInTheListTakePart) {
    auto d = Page(300, 20);
    Box(*d, 0, 5, 199, 5);
    TBlobList lines;
    lines.AddBlob(Rect(50, 4, 60, 4), 9, 1, 2);
    lines.AddBlob(Rect(0, 15, 3, 18), 0, 0, 0);  // too short: deleted by the ratio filter
    ASSERT_EQ(d->FindHorizontalLines(100, 0, 10, lines), 1);
    EXPECT_EQ(Rects(lines)[0], Rect(0, 4, 199, 5));
    EXPECT_EQ(lines.Items(0).PixelCount, 9);
}

TEST(LineLists, RefuseOtherFormats) {
    TDIB d;
    d.CreateNew(10, 10, fmt24Bit, 72, 72);
    TBlobList list;
    for (int i = 0; i < 4; ++i) {
        std::string text;
        try {
            if (i == 0) d.FindHorizontalRuns(1, 0, list);
            if (i == 1) d.FindVerticalRuns(1, 0, list);
            if (i == 2) d.FindHorizontalLines(1, 0, 1, list);
            if (i == 3) d.FindVerticalLines(1, 0, 1, list);
        } catch (const Exception& e) {
            text = e.what();
        }
        EXPECT_EQ(text, "This operation requires 1 bit per pixel bitmap !") << i;
    }
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
