#include "annotations/tiff_decoder.h"

#include <gtest/gtest.h>

#include <functional>

#include "annotations/annotation_writer.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {
namespace {

using namespace qil::testing;

// Three pages, each with a width tag and a tag 32932 of its own bytes.
TiffFile threePages(bool bigEndian) {
    std::vector<std::vector<TiffTag>> pages;
    for (uint8_t p = 0; p < 3; ++p)
        pages.push_back({ShortTag(256, static_cast<uint16_t>(100 + p)), AnnotationTag(Bytes{p, 0xA0, 0xB0, 0xC0, 0xD0})});
    return BuildTiff(bigEndian, pages);
}

TEST(TiffDecoderTest, HeaderInBothByteOrders) {
    for (bool be : {false, true}) {
        TiffFile f = threePages(be);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TTiffDecoder d(s);
        EXPECT_TRUE(d.IsValid());
        EXPECT_EQ(d.BigEndian, be);
        EXPECT_EQ(d.ByteOrder, be ? 0x4D4D : 0x4949);
        EXPECT_EQ(d.FirstIFDOffset, f.ifdOffsets[0]);
        EXPECT_EQ(d.BasePosition, 0);
        EXPECT_EQ(d.Entries, nullptr);
        EXPECT_EQ(s.Position(), 8);  // only the header is read
    }
}

TEST(TiffDecoderTest, InvalidHeaders) {
    const std::vector<Bytes> cases = {
        {'B', 'M', 0, 0, 8, 0, 0, 0},  // a bitmap
        {0xFF, 0xD8, 0xFF, 0xE0},       // a JPEG
        {'I', 'M', 42, 0, 8, 0, 0, 0},  // mixed byte order
        {'I'},                          // shorter than the header
        {},
    };
    for (const Bytes& b : cases) {
        TBufferStream s(b.data(), static_cast<int64_t>(b.size()));
        TTiffDecoder d(s);
        EXPECT_FALSE(d.IsValid());
    }
}

TEST(TiffDecoderTest, Swaps) {
    Bytes le{'I', 'I', 42, 0, 8, 0, 0, 0}, be{'M', 'M', 0, 42, 0, 0, 0, 8};
    TBufferStream s1(le.data(), 8), s2(be.data(), 8);
    TTiffDecoder dl(s1), db(s2);
    EXPECT_EQ(dl.Swap16(0x1234), 0x1234);
    EXPECT_EQ(dl.Swap32(0x12345678u), 0x12345678u);
    EXPECT_EQ(db.Swap16(0x1234), 0x3412);
    EXPECT_EQ(db.Swap32(0x12345678u), 0x78563412u);
    EXPECT_EQ(db.FirstIFDOffset, 8u);
}

TEST(TiffDecoderTest, SelectsEveryPageInBothByteOrders) {
    for (bool be : {false, true}) {
        TiffFile f = threePages(be);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TTiffDecoder d(s);
        for (int32_t page : {2, 0, 1}) {
            d.SelectPage(page);
            ASSERT_EQ(d.EntryCount, 2);
            EXPECT_EQ(d.Entries[0].Tag, 256);
            EXPECT_EQ(d.Entries[0].FieldType, 3);
            EXPECT_EQ(d.Entries[0].Count, 1u);
            EXPECT_EQ(d.Entries[0].Value, static_cast<uint32_t>(100 + page));
            EXPECT_EQ(d.IndexOfTag(TIFFTAG_ANNOTATION), 1);
            EXPECT_EQ(d.IndexOfTag(257), -1);
            EXPECT_EQ(d.GetTagLength(TIFFTAG_ANNOTATION), 5u);
            uint8_t buf[5] = {};
            EXPECT_EQ(d.ReadTag(TIFFTAG_ANNOTATION, buf), 5u);
            EXPECT_EQ(buf[0], page);
            EXPECT_EQ(buf[4], 0xD0);
            // Without a buffer the stream is left at the data.
            EXPECT_EQ(d.ReadTag(TIFFTAG_ANNOTATION), 5u);
            EXPECT_EQ(s.Position(), d.Entries[1].Value);
        }
    }
}

TEST(TiffDecoderTest, FirstMatchingEntryWins) {
    TiffFile f = BuildTiff(false, {{ShortTag(300, 1), ShortTag(301, 2), ShortTag(300, 3)}});
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    d.SelectPage(0);
    EXPECT_EQ(d.IndexOfTag(300), 0);
    EXPECT_EQ(d.IndexOfTag(301), 1);
}

TEST(TiffDecoderTest, OffsetsAreRelativeToTheStartPosition) {
    TiffFile f = threePages(true);
    TMemoryStream s;
    Bytes junk(100, 0x55);
    s.WriteBuffer(junk.data(), 100);
    s.WriteBuffer(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    s.SetPosition(100);
    TTiffDecoder d(s);
    EXPECT_EQ(d.BasePosition, 100);
    d.SelectPage(1);
    uint8_t buf[5] = {};
    d.ReadTag(TIFFTAG_ANNOTATION, buf);
    EXPECT_EQ(buf[0], 1);
}

TEST(TiffDecoderTest, PageOutOfRange) {
    TiffFile f = threePages(false);
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    for (int32_t page : {3, 100, -1}) {
        EXPECT_EQ(failureOf([&] { d.SelectPage(page); }), "Invalid TIFF Page Number") << page;
        EXPECT_EQ(d.Entries, nullptr);
    }
}

TEST(TiffDecoderTest, MissingTagNamesTheTag) {
    TiffFile f = BuildTiff(false, {{ShortTag(256, 1)}});
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    d.SelectPage(0);
    EXPECT_EQ(failureOf([&] { d.GetTagLength(TIFFTAG_ANNOTATION); }), "TIFF Tag Not Found: 32932");
    EXPECT_EQ(failureOf([&] { d.ReadTag(65535); }), "TIFF Tag Not Found: 65535");
}

// Chains that come back on themselves end at the first directory seen again.
TEST(TiffDecoderTest, LoopsInTheChainEndIt) {
    struct Case {
        const char* what;
        size_t from;  // page whose next offset is rewritten
        size_t to;    // page it then points to
    };
    const Case cases[] = {{"self", 2, 2}, {"back to first", 2, 0}, {"back to middle", 2, 1}, {"first to itself", 0, 0}};
    for (const Case& c : cases) {
        TiffFile f = threePages(true);
        f.SetNext(c.from, f.ifdOffsets[c.to]);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TTiffDecoder d(s);
        for (size_t page = 0; page <= c.from; ++page) EXPECT_NO_THROW(d.SelectPage(static_cast<int32_t>(page))) << c.what;
        EXPECT_EQ(failureOf([&] { d.SelectPage(static_cast<int32_t>(c.from) + 1); }), "Invalid TIFF Page Number")
            << c.what;
    }
}

TEST(TiffDecoderTest, DirectoryOutsideTheFileEndsTheChain) {
    for (uint32_t next : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFFFu}) {
        TiffFile f = threePages(false);
        f.SetNext(0, next);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TTiffDecoder d(s);
        EXPECT_NO_THROW(d.SelectPage(0));
        EXPECT_EQ(failureOf([&] { d.SelectPage(1); }), "Invalid TIFF Page Number") << next;
    }
    // A first directory offset just past the end, and one whose count word straddles it.
    for (int cut : {0, 1}) {
        TiffFile f = threePages(false);
        f.patch32(4, static_cast<uint32_t>(f.bytes.size()) - cut);
        TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
        TTiffDecoder d(s);
        EXPECT_EQ(failureOf([&] { d.SelectPage(0); }), "Invalid TIFF Page Number");
    }
}

TEST(TiffDecoderTest, EntryCountLargerThanTheFileIsCut) {
    TiffFile f = BuildTiff(false, {{ShortTag(256, 7), ShortTag(257, 8)}});
    f.patch16(f.ifdOffsets[0], 0xFFFF);
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    d.SelectPage(0);
    // Two real entries plus the 4 bytes of the next offset: only whole entries are kept.
    EXPECT_EQ(d.EntryCount, 2);
    EXPECT_EQ(d.Entries[1].Value, 8u);
    // Walking past a directory whose entries run off the end ends the chain.
    EXPECT_EQ(failureOf([&] { d.SelectPage(1); }), "Invalid TIFF Page Number");
}

TEST(TiffDecoderTest, EmptyDirectoryIsAPageWithoutTags) {
    TiffFile f = BuildTiff(false, {{}, {ShortTag(256, 1)}});
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    d.SelectPage(0);
    EXPECT_NE(d.Entries, nullptr);
    EXPECT_EQ(d.EntryCount, 0);
    EXPECT_EQ(failureOf([&] { d.GetTagLength(TIFFTAG_ANNOTATION); }), "TIFF Tag Not Found: 32932");
    d.SelectPage(1);
    EXPECT_EQ(d.EntryCount, 1);
}

TEST(TiffDecoderTest, ReadTagNeverReadsPastTheStream) {
    TiffFile f = BuildTiff(false, {{TiffTag{TIFFTAG_ANNOTATION, 7, 1000, 8, {}}}});
    TBufferStream s(f.bytes.data(), static_cast<int64_t>(f.bytes.size()));
    TTiffDecoder d(s);
    d.SelectPage(0);
    std::vector<uint8_t> buf(1000);
    EXPECT_THROW(d.ReadTag(TIFFTAG_ANNOTATION, buf.data()), EReadError);
    uint8_t small[4] = {};
    EXPECT_EQ(d.ReadTag(TIFFTAG_ANNOTATION, small, 4), 1000u);  // answers the stored count
    EXPECT_EQ(small[0], f.bytes[8]);
}

}  // namespace
}  // namespace qil
