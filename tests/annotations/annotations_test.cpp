#include "annotations/annotations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "annotations/annotation_writer.h"
#include "annotations/tiff_decoder.h"
#include "platform/exceptions.h"
#include "platform/memory.h"

namespace qil {
namespace {

using namespace qil::testing;

void load(TAnnotations& a, const AnnoData& d) {
    a.LoadFromBuffer(d.bytes.data(), static_cast<int32_t>(d.bytes.size()));
}

std::string loadFailure(TAnnotations& a, const AnnoData& d) {
    return failureOf([&] { load(a, d); });
}

TEST(AnnotationsTest, NewCollection) {
    TAnnotations a;
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.DefaultGroup, "[Senza Nome]");
    EXPECT_EQ(a.RawData.Size(), 0);
}

TEST(AnnotationsTest, AddAnnotationCreatesTheClassOfTheCode) {
    struct Case {
        uint8_t code;
        const char* className;
        const char* family;
    };
    const Case cases[] = {
        {1, "TAnnotationImageEmbedded", "image"},   {2, "TAnnotationImageReference", "image"},
        {3, "TAnnotationStraightLine", "line"},     {4, "TAnnotationFreeHandLine", "line"},
        {5, "TAnnotationHollowRectangle", "plain"}, {6, "TAnnotationFilledRectangle", "plain"},
        {7, "TAnnotationTypedRectangle", "text"},   {8, "TAnnotationTextFromFile", "text"},
        {9, "TAnnotationTextStamp", "text"},        {10, "TAnnotationAttachANote", "text"},
        {11, "TAnnotationForm", "image"},           {12, "TAnnotationatOCRRegion", "text"},
    };
    TAnnotations a;
    a.DefaultGroup = "G";
    for (const Case& c : cases) {
        TGenericAnnotation* m = a.AddAnnotation(c.code);
        EXPECT_STREQ(m->ClassName(), c.className);
        EXPECT_EQ(m->MarkType, c.code);
        EXPECT_EQ(m->Index, a.Count());
        EXPECT_EQ(m->Group, "G");
        std::string family = dynamic_cast<TGenericImageAnnotation*>(m)  ? "image"
                             : dynamic_cast<TGenericLineAnnotation*>(m) ? "line"
                             : dynamic_cast<TGenericTextAnnotation*>(m) ? "text"
                                                                        : "plain";
        EXPECT_EQ(family, c.family) << c.className;
        EXPECT_EQ(a.Items(a.Count() - 1), m);
    }
    for (uint8_t bad : {0, 13, 255})
        EXPECT_EQ(failureOf([&] { a.AddAnnotation(bad); }), "Unsupported annotation type");
    EXPECT_EQ(a.Count(), 12);
}

TEST(AnnotationsTest, DeleteAndItems) {
    TAnnotations a;
    a.AddAnnotation(5);
    TGenericAnnotation* second = a.AddAnnotation(6);
    a.AddAnnotation(7);
    a.Delete(0);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Items(0), second);
    EXPECT_THROW(a.Items(2), EListError);
    EXPECT_THROW(a.Items(-1), EListError);
    EXPECT_THROW(a.Delete(2), EListError);
    a.Clear();
    EXPECT_EQ(a.Count(), 0);
}

TEST(AnnotationsTest, MarkAttributesAreCopied) {
    MarkAttrs m;
    m.markType = 0xABCD0006;  // only the low byte counts
    m.left = -5;
    m.top = 7;
    m.right = 1000;
    m.bottom = 2000;
    m.highlighting = 2;
    m.transparent = 0;
    m.lineSize = 9;
    m.visible = 0;
    m.time = 0xFEDCBA98;
    for (int i = 0; i < 60; ++i) m.logFont[i] = static_cast<uint8_t>(i + 1);
    TAnnotations a;
    load(a, AnnoData().Mark(m));
    ASSERT_EQ(a.Count(), 1);
    TGenericAnnotation* g = a.Items(0);
    EXPECT_STREQ(g->ClassName(), "TAnnotationFilledRectangle");
    EXPECT_EQ(g->MarkType, 6);
    EXPECT_EQ(g->Bounds, (TRect{-5, 7, 1000, 2000}));
    EXPECT_EQ(g->Color1.rgbBlue, 1);
    EXPECT_EQ(g->Color1.rgbGreen, 2);
    EXPECT_EQ(g->Color1.rgbRed, 3);
    EXPECT_EQ(g->Color2.rgbRed, 6);
    EXPECT_TRUE(g->Highlighting);
    EXPECT_FALSE(g->Transparent);
    EXPECT_FALSE(g->Visible);
    EXPECT_EQ(g->LineSize, 9);
    EXPECT_EQ(g->Time, 0xFEDCBA98u);
    EXPECT_EQ(g->Index, 1);
    EXPECT_EQ(g->Group, "[Senza Nome]");
    // All 60 font bytes survive as read.
    EXPECT_EQ(std::memcmp(&g->LogFont, m.logFont, 60), 0);
    EXPECT_EQ(g->LogFont.lfHeight, 0x04030201);
    EXPECT_EQ(g->LogFont.lfWeight, 0x14131211);
    EXPECT_EQ(g->LogFont.lfItalic, 21);
    EXPECT_EQ(g->LogFont.lfStrikeOut, 23);
    EXPECT_EQ(static_cast<uint8_t>(g->LogFont.lfFaceName[0]), 29);
}

TEST(AnnotationsTest, RecordSizeDecidesWhereTheNextRecordStarts) {
    TAnnotations a;
    // A mark record with 36 extra bytes after its attributes, then a second mark.
    load(a, AnnoData().Mark(MarkAttrs{}, 200).Mark(7));
    ASSERT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Items(1)->MarkType, 7);
    EXPECT_EQ(a.Items(1)->Index, 2);
    // A named block whose head is larger than 12 bytes: its data still start at offset 20,
    // the next record after head and data.
    load(a, AnnoData().Mark(7).Block(6, "OiAnText", TextData(240, "abc"), 16).Mark(5));
    ASSERT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Items(1)->MarkType, 5);
}

TEST(AnnotationsTest, Failures) {
    struct Case {
        const char* what;
        AnnoData data;
        const char* message;
        int32_t kept;
    };
    std::vector<Case> cases;
    cases.push_back({"16-bit data", AnnoData(0).Mark(5), "Old 16 bit annotation data", 0});
    cases.push_back({"format 2", AnnoData(2).Mark(5), "Old 16 bit annotation data", 0});
    cases.push_back({"bad record", AnnoData().Mark(5).Raw({3, 0, 0, 0, 0, 0, 0, 0}), "Invalid annotation data", 1});
    cases.push_back({"bad mark type", AnnoData().Mark(5).Mark(13), "Unsupported annotation type", 1});
    for (const char* name : {"OiAnoDat", "OiAnText", "OiDIB", "OiFilNam"}) {
        cases.push_back({name, AnnoData().Mark(5).Default(name, {0}), "Invalid default named block type", 1});
        cases.push_back({name, AnnoData().ForMark(name, {0}), "Invalid default named block type", 0});
    }
    cases.push_back({"points on a rectangle", AnnoData().Mark(5).ForMark("OiAnoDat", PointData({{1, 1}})),
                     "Invalid named block type", 1});
    cases.push_back({"points on a text", AnnoData().Mark(7).ForMark("OiAnoDat", PointData({{1, 1}})),
                     "Invalid named block type", 1});
    cases.push_back({"text on a line", AnnoData().Mark(3).ForMark("OiAnText", TextData(1, "a")),
                     "Invalid named block type", 1});
    cases.push_back({"text on an image", AnnoData().Mark(2).ForMark("OiAnText", TextData(1, "a")),
                     "Invalid named block type", 1});
    cases.push_back({"file name on a text", AnnoData().Mark(9).ForMark("OiFilNam", CStr("x.tif")),
                     "Invalid named block type", 1});
    cases.push_back({"file name on a line", AnnoData().Mark(4).ForMark("OiFilNam", CStr("x.tif")),
                     "Invalid named block type", 1});
    cases.push_back({"third point", AnnoData().Mark(5).Mark(3).ForMark("OiAnoDat", PointData({{1, 2}, {3, 4}, {5, 6}})),
                     "Only 2 points allowed for line annotation", 2});
    TAnnotations a;
    for (const Case& c : cases) {
        EXPECT_EQ(loadFailure(a, c.data), c.message) << c.what;
        EXPECT_EQ(a.Count(), c.kept) << c.what;
    }
}

TEST(AnnotationsTest, StraightLineKeepsTwoPoints) {
    TAnnotations a;
    EXPECT_EQ(loadFailure(a, AnnoData().Mark(3).ForMark("OiAnoDat", PointData({{1, 2}, {3, 4}, {5, 6}}))),
              "Only 2 points allowed for line annotation");
    auto* line = dynamic_cast<TGenericLineAnnotation*>(a.Items(0));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->PointCount(), 2);
    EXPECT_EQ(line->GetPoint(1), (TPoint{3, 4}));
    EXPECT_THROW(line->GetPoint(2), EListError);
}

TEST(AnnotationsTest, FreeHandPointsInStoredOrder) {
    TAnnotations a;
    std::vector<std::pair<int32_t, int32_t>> pts;
    for (int i = 0; i < 50; ++i) pts.push_back({i, -i * 2});
    load(a, AnnoData().Mark(4).ForMark("OiAnoDat", PointData(pts)));
    auto* line = dynamic_cast<TGenericLineAnnotation*>(a.Items(0));
    ASSERT_EQ(line->PointCount(), 50);
    EXPECT_EQ(line->PointsX.size(), line->PointsY.size());
    EXPECT_EQ(line->GetPoint(49), (TPoint{49, -98}));
}

TEST(AnnotationsTest, PointCountIsCutToTheBlock) {
    struct Case {
        int64_t storedCount;
        int32_t expected;
    };
    for (Case c : {Case{3, 3}, Case{1, 1}, Case{1000000, 3}, Case{0x7FFFFFFF, 3}, Case{-1, 0}, Case{0, 0}}) {
        TAnnotations a;
        load(a, AnnoData().Mark(4).ForMark("OiAnoDat", PointData({{1, 1}, {2, 2}, {3, 3}}, c.storedCount)).Mark(5));
        EXPECT_EQ(dynamic_cast<TGenericLineAnnotation*>(a.Items(0))->PointCount(), c.expected) << c.storedCount;
        EXPECT_EQ(a.Count(), 2);
    }
    // A block too short even for its count holds no points.
    TAnnotations a;
    load(a, AnnoData().Mark(4).ForMark("OiAnoDat", Bytes{0, 0, 0, 0, 5}));
    EXPECT_EQ(dynamic_cast<TGenericLineAnnotation*>(a.Items(0))->PointCount(), 0);
}

TEST(AnnotationsTest, TextBlocks) {
    struct Case {
        int32_t scale;
        int32_t resolution;
    };
    for (Case c : {Case{750, 96}, Case{0, 96}, Case{240, 300}, Case{72000, 1}, Case{48000, 2}, Case{16000, 4},
                   Case{-240, -300}}) {
        TAnnotations a;
        load(a, AnnoData().Mark(10).ForMark("OiAnText", TextData(c.scale, "Hi")));
        auto* t = dynamic_cast<TGenericTextAnnotation*>(a.Items(0));
        EXPECT_EQ(t->CreationResolution, c.resolution) << c.scale;
        EXPECT_EQ(t->Text, "Hi");
    }
    // Two blocks concatenate; a length beyond the block is cut; a negative length is empty.
    TAnnotations a;
    load(a, AnnoData()
                .Mark(7)
                .ForMark("OiAnText", TextData(750, "Hello "))
                .ForMark("OiAnText", TextData(750, "world", 1000))
                .Mark(8)
                .ForMark("OiAnText", TextData(750, "xyz", -5)));
    EXPECT_EQ(dynamic_cast<TGenericTextAnnotation*>(a.Items(0))->Text, "Hello world");
    EXPECT_EQ(dynamic_cast<TGenericTextAnnotation*>(a.Items(1))->Text, "");
    // Text with embedded NUL bytes is kept as stored.
    load(a, AnnoData().Mark(9).ForMark("OiAnText", TextData(750, std::string("a\0b", 3))));
    EXPECT_EQ(dynamic_cast<TGenericTextAnnotation*>(a.Items(0))->Text, std::string("a\0b", 3));
}

TEST(AnnotationsTest, GroupBlocks) {
    TAnnotations a;
    load(a, AnnoData()
                .Mark(5)
                .Default("OiGroup", CStr("Team"))
                .Mark(6)
                .Mark(7)
                .ForMark("OiGroup", CStr("Own"))
                .Default("OiGroup", Bytes{'N', 'o', 'N', 'u', 'l'}));  // text up to the block end
    EXPECT_EQ(a.Items(0)->Group, "[Senza Nome]");
    EXPECT_EQ(a.Items(1)->Group, "Team");
    EXPECT_EQ(a.Items(2)->Group, "Own");
    EXPECT_EQ(a.DefaultGroup, "NoNul");
    // The default group survives the next load.
    load(a, AnnoData().Mark(5));
    EXPECT_EQ(a.Items(0)->Group, "NoNul");
    // Before the first mark, a mark's group block is ignored.
    TAnnotations b;
    load(b, AnnoData().ForMark("OiGroup", CStr("X")).ForMark("OiIndex", CStr("3")).Mark(5));
    EXPECT_EQ(b.Items(0)->Group, "[Senza Nome]");
    EXPECT_EQ(b.Items(0)->Index, 1);
}

TEST(AnnotationsTest, IndexBlocks) {
    struct Case {
        std::string text;
        int32_t index;
    };
    for (const Case& c : {Case{"7", 7}, Case{"x7", 0}, Case{"", 0}, Case{"-12", -12}, Case{"99999999999", 0}}) {
        TAnnotations a;
        load(a, AnnoData().Mark(5).Mark(5).ForMark("OiIndex", CStr(c.text)).Mark(5).Default("OiIndex", CStr("5")));
        EXPECT_EQ(a.Items(0)->Index, 1);
        EXPECT_EQ(a.Items(1)->Index, c.index) << c.text;
        EXPECT_EQ(a.Items(2)->Index, 3);
    }
}

TEST(AnnotationsTest, ImageBlocks) {
    size_t blocksBefore = GlobalBlockCount();
    {
        Bytes picture(60, 0);
        for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 3);
        TAnnotations a;
        load(a, AnnoData()
                    .Mark(1)
                    .ForMark("OiAnoDat", RotationData(90, 1000, 200, 300))
                    .ForMark("OiDIB", picture)
                    .ForMark("OiFilNam", CStr("C:\\scan.bmp"))
                    .Mark(2)
                    .ForMark("OiDIB", picture)  // skipped for a reference
                    .ForMark("OiFilNam", CStr("ref.tif"))
                    .Mark(11)
                    .ForMark("OiAnoDat", RotationData(-1, 2, 3, 4))
                    .Mark(5)
                    .ForMark("OiDIB", picture));  // skipped for a rectangle
        ASSERT_EQ(a.Count(), 4);
        auto* e = dynamic_cast<TAnnotationImageEmbedded*>(a.Items(0));
        EXPECT_EQ(e->Rotation, 90);
        EXPECT_EQ(e->Scale, 1000);
        EXPECT_EQ(e->SourceXResolution, 200);
        EXPECT_EQ(e->SourceYResolution, 300);
        EXPECT_EQ(e->FileName, "C:\\scan.bmp");
        ASSERT_NE(e->DIBHandle, 0u);
        EXPECT_EQ(GlobalSize(e->DIBHandle), picture.size());
        auto* bytes = static_cast<uint8_t*>(GlobalLock(e->DIBHandle));
        EXPECT_EQ(Bytes(bytes, bytes + picture.size()), picture);
        GlobalUnlock(e->DIBHandle);
        EXPECT_EQ(dynamic_cast<TGenericImageAnnotation*>(a.Items(1))->FileName, "ref.tif");
        EXPECT_EQ(dynamic_cast<TGenericImageAnnotation*>(a.Items(2))->SourceYResolution, 4);
        EXPECT_EQ(GlobalBlockCount(), blocksBefore + 1);
        // A second picture block replaces the first without leaking it.
        load(a, AnnoData().Mark(1).ForMark("OiDIB", picture).ForMark("OiDIB", Bytes{1, 2}));
        EXPECT_EQ(GlobalSize(dynamic_cast<TAnnotationImageEmbedded*>(a.Items(0))->DIBHandle), 2u);
        EXPECT_EQ(GlobalBlockCount(), blocksBefore + 1);
        a.Clear();
        EXPECT_EQ(GlobalBlockCount(), blocksBefore);
        load(a, AnnoData().Mark(1).ForMark("OiDIB", picture));
        a.Delete(0);
        EXPECT_EQ(GlobalBlockCount(), blocksBefore);
        load(a, AnnoData().Mark(1).ForMark("OiDIB", picture));
    }
    EXPECT_EQ(GlobalBlockCount(), blocksBefore);  // freed with the collection
}

TEST(AnnotationsTest, SkippedBlocksAndTrailingByte) {
    TAnnotations a;
    load(a, AnnoData()
                .Default("OiHypLnk", Bytes(30, 7))
                .Default("Whatever", Bytes(5, 1))
                .Mark(5)
                .ForMark("OiHypLnk", Bytes(9, 3))
                .ForMark("OiGroupX", CStr("not a group"))
                .ForMark("Unknown", Bytes{})
                .Mark(6)
                .Raw({0x42}));
    ASSERT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Items(0)->Group, "[Senza Nome]");
    EXPECT_EQ(a.DefaultGroup, "[Senza Nome]");
}

// Malformed data never makes the reader look past its end.
TEST(AnnotationsTest, TruncatedRecords) {
    struct Case {
        const char* what;
        Bytes data;
        const char* message;
        int32_t kept;
    };
    auto truncated = [](AnnoData d, size_t drop) {
        d.bytes.resize(d.bytes.size() - drop);
        return d.bytes;
    };
    std::vector<Case> cases = {
        {"empty", {}, "Invalid annotation data", 0},
        {"short header", {0, 0, 0, 0, 1, 0, 0}, "Invalid annotation data", 0},
        {"half record head", truncated(AnnoData().Mark(5).Mark(5), 164 + 4), "Invalid annotation data", 1},
        {"short attributes", truncated(AnnoData().Mark(5).Mark(5), 1), "Invalid annotation data", 1},
        {"short block head", truncated(AnnoData().Mark(5).ForMark("OiGroup", {}), 2), "Invalid annotation data", 1},
        {"block data past the end", AnnoData().Mark(3).Block(6, "OiAnoDat", PointData({{1, 1}}), 12, 1 << 30).bytes,
         "Invalid annotation data", 1},
        {"picture past the end", AnnoData().Mark(1).Block(6, "OiDIB", Bytes(10, 0), 12, 0xFFFFFFFF).bytes,
         "Invalid annotation data", 1},
        {"group past the end", AnnoData().Mark(5).Block(2, "OiGroup", CStr("abc"), 12, 5).bytes,
         "Invalid annotation data", 1},
    };
    TAnnotations a;
    for (const Case& c : cases) {
        EXPECT_EQ(failureOf([&] { a.LoadFromBuffer(c.data.data(), static_cast<int32_t>(c.data.size())); }), c.message)
            << c.what;
        EXPECT_EQ(a.Count(), c.kept) << c.what;
    }
    EXPECT_EQ(a.DefaultGroup, "[Senza Nome]");
}

TEST(AnnotationsTest, HugeSizesEndTheData) {
    TAnnotations a;
    // A skipped block or a mark record whose size runs past the end simply ends the data; a
    // size that would be negative as a signed value moves forward, never back.
    load(a, AnnoData().Mark(5).Block(2, "OiHypLnk", Bytes(4, 0), 12, 0xFFFFFFF0).Mark(6));
    EXPECT_EQ(a.Count(), 1);
    load(a, AnnoData().Mark(MarkAttrs{}, 0xFFFFFFF8).Mark(6));
    EXPECT_EQ(a.Count(), 1);
    load(a, AnnoData().Mark(5).Block(6, "OiHypLnk", Bytes{}, 0xFFFFFFF4).Mark(6));
    EXPECT_EQ(a.Count(), 1);
}

TEST(AnnotationsTest, ZeroRecordSizeStillMovesForward) {
    // A mark record of stored size 0: the next record starts at its attribute bytes. Mark type
    // 5 then reads as a record type 5 whose size (Left) is 0 again, and that record's mark
    // type (Top = 20) is no mark type at all.
    TAnnotations a;
    MarkAttrs m;
    m.markType = 5;
    m.left = 0;
    m.top = 20;
    EXPECT_EQ(loadFailure(a, AnnoData().Mark(m, 0).Mark(5)), "Unsupported annotation type");
    EXPECT_EQ(a.Count(), 1);
}

// ---- Loading from TIFF files ----

TiffFile annotatedFile(bool bigEndian) {
    AnnoData page0 = AnnoData().Mark(5).Default("OiGroup", CStr("P0")).Mark(7).ForMark("OiAnText", TextData(240, "one"));
    AnnoData page2 = AnnoData().Mark(3).ForMark("OiAnoDat", PointData({{1, 2}, {300, 400}}));
    return BuildTiff(bigEndian, {{ShortTag(256, 10), AnnotationTag(page0.bytes), ShortTag(259, 4)},
                                 {ShortTag(256, 10)},
                                 {AnnotationTag(page2.bytes)}});
}

TEST(AnnotationsTest, LoadFromStreamInBothByteOrders) {
    for (bool be : {false, true}) {
        TiffFile f = annotatedFile(be);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TAnnotations a;
        a.LoadFromStream(s, 0);
        ASSERT_EQ(a.Count(), 2);
        EXPECT_EQ(a.Items(1)->Group, "P0");
        EXPECT_EQ(dynamic_cast<TGenericTextAnnotation*>(a.Items(1))->Text, "one");
        EXPECT_EQ(dynamic_cast<TGenericTextAnnotation*>(a.Items(1))->CreationResolution, 300);

        s.SetPosition(0);
        EXPECT_EQ(failureOf([&] { a.LoadFromStream(s, 1); }), "TIFF Tag Not Found: 32932");
        EXPECT_EQ(a.Count(), 0);

        s.SetPosition(0);
        a.LoadFromStream(s, 2);
        ASSERT_EQ(a.Count(), 1);
        auto* line = dynamic_cast<TAnnotationStraightLine*>(a.Items(0));
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->GetPoint(1), (TPoint{300, 400}));  // little-endian inside a big-endian file
        EXPECT_EQ(a.Items(0)->Group, "P0");                 // the default group of the earlier load

        s.SetPosition(0);
        EXPECT_EQ(failureOf([&] { a.LoadFromStream(s, 3); }), "Invalid TIFF Page Number");
        EXPECT_EQ(a.Count(), 0);
    }
}

TEST(AnnotationsTest, LoadFromStreamRejectsOtherFiles) {
    Bytes bmp{'B', 'M', 60, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    TBufferStream s(bmp.data(), static_cast<int64_t>(bmp.size()));
    TAnnotations a;
    EXPECT_EQ(failureOf([&] { a.LoadFromStream(s, 0); }), "Invalid TIFF Data");
}

TEST(AnnotationsTest, TagDataOutsideTheFile) {
    // The stored count runs past the end of the file: only the bytes present are read.
    AnnoData d = AnnoData().Mark(5).Mark(6);
    TiffFile f = BuildTiff(false, {{TiffTag{TIFFTAG_ANNOTATION, 7, 0xFFFFFFFF, 0, {}}}});
    uint32_t at = static_cast<uint32_t>(f.bytes.size());
    append(f.bytes, d.bytes);
    f.patch32(f.ifdOffsets[0] + 2 + 8, at);
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TAnnotations a;
    a.LoadFromStream(s, 0);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.RawData.Size(), static_cast<int64_t>(d.bytes.size()));
    // The data offset lies beyond the file: there are no annotation data.
    f.patch32(f.ifdOffsets[0] + 2 + 8, 0xFFFFFF00);
    TBufferStream s2(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    EXPECT_EQ(failureOf([&] { a.LoadFromStream(s2, 0); }), "Invalid annotation data");
    EXPECT_EQ(a.Count(), 0);
}

TEST(AnnotationsTest, LoadFromFile) {
    TiffFile f = annotatedFile(true);
    std::string name = ::testing::TempDir() + "annotations_test.tif";
    {
        TMemoryStream m;
        m.WriteBuffer(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        m.SaveToFile(name);
    }
    TAnnotations a;
    a.LoadFromFile(name, 2);
    EXPECT_EQ(a.Count(), 1);
    std::remove(name.c_str());
    EXPECT_THROW(a.LoadFromFile(name, 0), EFOpenError);
    EXPECT_EQ(a.Count(), 0);
}

// Every truncation and many random corruptions of a valid file end in a clean exception or a
// successful load, never in a read outside the data (the sanitizer build checks the reads).
TEST(AnnotationsTest, CorruptedFilesNeverCrash) {
    Bytes picture(64, 0x5A);
    AnnoData d = AnnoData()
                     .Default("OiGroup", CStr("G"))
                     .Mark(1)
                     .ForMark("OiAnoDat", RotationData(1, 2, 3, 4))
                     .ForMark("OiDIB", picture)
                     .Mark(4)
                     .ForMark("OiAnoDat", PointData({{1, 2}, {3, 4}, {5, 6}}))
                     .ForMark("OiIndex", CStr("12"))
                     .Mark(10)
                     .ForMark("OiAnText", TextData(750, "note"));
    for (bool be : {false, true}) {
        TiffFile f = BuildTiff(be, {{ShortTag(256, 1)}, {ShortTag(256, 1), AnnotationTag(d.bytes)}});
        TAnnotations a;
        auto tryLoad = [&](const Bytes& bytes) {
            TBufferStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
            try {
                a.LoadFromStream(s, 1);
            } catch (const Exception&) {
            }
        };
        for (size_t len = 0; len <= f.bytes.size(); ++len) tryLoad(Bytes(f.bytes.begin(), f.bytes.begin() + len));
        uint32_t seed = 12345;
        auto next = [&] { return seed = seed * 1103515245u + 12345u; };
        for (int round = 0; round < 3000; ++round) {
            Bytes bytes = f.bytes;
            for (int k = 0; k < 1 + round % 4; ++k) bytes[(next() >> 8) % bytes.size()] = static_cast<uint8_t>(next() >> 16);
            tryLoad(bytes);
        }
        tryLoad(f.bytes);
        EXPECT_EQ(a.Count(), 3);
    }
}

}  // namespace
}  // namespace qil
