#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <map>
#include <memory>
#include <regex>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "file_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using namespace qil::testing_files;

namespace {

// A little-endian TIFF made by hand, one strip per page, so that tags can be left out or
// given values libtiff's writer would never produce.
struct Entry {
    uint16_t tag, type;
    std::vector<uint32_t> values;  // SHORT/LONG values; RATIONAL as numerator, denominator pairs
};

std::vector<uint8_t> HandTiff(std::vector<Entry> entries, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&](size_t at, uint32_t v) { f[at] = uint8_t(v); f[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i)); };
    size_t pixelAt = f.size();
    f.resize(pixelAt + pixels.size());
    if (!pixels.empty()) std::memcpy(&f[pixelAt], pixels.data(), pixels.size());
    if (f.size() & 1) f.push_back(0);
    entries.push_back({273, 4, {uint32_t(pixelAt)}});
    entries.push_back({279, 4, {uint32_t(pixels.size())}});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    // Out-of-line values first.
    std::vector<size_t> valueAt(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        size_t unit = e.type == 3 ? 2 : 4;
        size_t bytes = e.type == 5 ? 4 * e.values.size() : unit * e.values.size();
        if (bytes > 4) {
            valueAt[i] = f.size();
            f.resize(f.size() + bytes);
            for (size_t k = 0; k < e.values.size(); ++k)
                if (unit == 2 && e.type != 5) put16(valueAt[i] + 2 * k, e.values[k]); else put32(valueAt[i] + 4 * k, e.values[k]);
        }
    }
    size_t ifd = f.size();
    put32(4, uint32_t(ifd));
    f.resize(f.size() + 2 + 12 * entries.size() + 4, 0);
    put16(ifd, uint32_t(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        size_t at = ifd + 2 + 12 * i;
        put16(at, e.tag);
        put16(at + 2, e.type);
        put32(at + 4, uint32_t(e.type == 5 ? e.values.size() / 2 : e.values.size()));
        if (valueAt[i])
            put32(at + 8, uint32_t(valueAt[i]));
        else if (e.type == 3)
            for (size_t k = 0; k < e.values.size(); ++k) put16(at + 8 + 2 * k, e.values[k]);
        else
            put32(at + 8, e.values[0]);
    }
    return f;
}

void LoadTiffBytes(TDIB& d, const std::vector<uint8_t>& bytes, int32_t page = 0) {
    TBufferStream s(bytes.data(), int64_t(bytes.size()));
    d.LoadFromStream(s, page);
}

// Tags of a page as libtiff reads them back.
struct PageTags {
    uint16_t compression = 0, photometric = 0, bps = 0, spp = 0, unit = 0, planar = 0;
    uint32_t rowsPerStrip = 0, group3 = 99;
    float xres = 0, yres = 0;
    std::string software, dateTime;
    bool hasColorMap = false;
    std::vector<std::vector<uint8_t>> rows;  // raw decoded scanlines (not for JPEG pages)
};

PageTags ReadTags(const std::string& file, int page = 0) {
    PageTags t;
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    if (!tif) { ADD_FAILURE() << "libtiff cannot open " << file; return t; }
    TIFFSetDirectory(tif, tdir_t(page));
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bps);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.spp);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &t.group3);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
    char* s = nullptr;
    if (TIFFGetField(tif, TIFFTAG_SOFTWARE, &s)) t.software = s;
    if (TIFFGetField(tif, TIFFTAG_DATETIME, &s)) t.dateTime = s;
    uint16_t *r, *g, *b;
    t.hasColorMap = TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b);
    if (t.compression != COMPRESSION_JPEG) {
        uint32_t h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < h; ++y) {
            TIFFReadScanline(tif, line.data(), y, 0);
            t.rows.push_back(line);
        }
    }
    TIFFClose(tif);
    return t;
}

std::string ExpectLoadFails(const std::vector<uint8_t>& bytes, int32_t page = 0) {
    size_t blocks = GlobalBlockCount();
    TDIB d;
    d.OwnsHandle = false;  // a failed load frees its block all the same
    std::string message = "(loaded)";
    try {
        LoadTiffBytes(d, bytes, page);
    } catch (const Exception& e) {
        message = e.what();
    }
    EXPECT_EQ(d.GetHandle(), 0u);
    EXPECT_EQ(GlobalBlockCount(), blocks);
    return message;
}

std::vector<Entry> GrayEntries(uint32_t w, uint32_t h, uint32_t bps, uint32_t photometric) {
    return {{256, 4, {w}}, {257, 4, {h}}, {258, 3, {bps}}, {259, 3, {1}}, {262, 3, {photometric}}, {284, 3, {1}}};
}

}  // namespace

TEST(TiffWrite, EveryCompressionRoundTripsEveryFormat) {
    struct Case {
        uint8_t fmt;
        TTiffCompression c;
        uint16_t tag;
        int tolerance;  // 0: lossless
    } cases[] = {
        {fmt1Bit, tcNone, 1, 0},      {fmt1Bit, tcPackBits, 32773, 0}, {fmt1Bit, tcGroup3, 3, 0},
        {fmt1Bit, tcGroup3TwoD, 3, 0}, {fmt1Bit, tcGroup4, 4, 0},      {fmt1Bit, tcDeflate, 32946, 0},
        {fmt1Bit, tcLzw, 5, 0},       {fmt1Bit, tcAuto, 4, 0},          {fmt4Bit, tcNone, 1, 0},
        {fmt4Bit, tcPackBits, 32773, 0}, {fmt4Bit, tcDeflate, 32946, 0}, {fmt4Bit, tcLzw, 5, 0},
        {fmt4Bit, tcAuto, 32773, 0},  {fmt8Bit, tcNone, 1, 0},          {fmt8Bit, tcPackBits, 32773, 0},
        {fmt8Bit, tcDeflate, 32946, 0}, {fmt8Bit, tcLzw, 5, 0},         {fmt8Bit, tcJpeg, 7, 64},
        {fmt8Bit, tcAuto, 7, 64},     {fmt24Bit, tcNone, 1, 0},         {fmt24Bit, tcPackBits, 32773, 0},
        {fmt24Bit, tcDeflate, 32946, 0}, {fmt24Bit, tcLzw, 5, 0},       {fmt24Bit, tcJpeg, 7, 64},
        {fmt24Bit, tcAuto, 7, 64},    {fmt8Bit, TTiffCompression(42), 1, 0},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << int(c.fmt) << " compression " << int(c.c));
        TDIB src;
        DrawTestImage(src, 53, 37, c.fmt, 200);
        std::string file = dir / "p.tif";
        src.SaveToTiffFile(file, false, c.c, 0);
        PageTags t = ReadTags(file);
        EXPECT_EQ(t.compression, c.tag);
        EXPECT_EQ(t.software, "Quorvane Image Library");
        EXPECT_TRUE(std::regex_match(t.dateTime, std::regex(R"(\d{4}:\d\d:\d\d \d\d:\d\d:\d\d)"))) << t.dateTime;
        EXPECT_EQ(t.unit, RESUNIT_INCH);
        EXPECT_FLOAT_EQ(t.xres, 200.0f);
        EXPECT_FLOAT_EQ(t.yres, 200.0f);
        EXPECT_EQ(t.planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(t.rowsPerStrip, c.tag == 7 ? 8u : 16u);
        EXPECT_FALSE(t.hasColorMap);
        if (c.tag == 3) {
            EXPECT_EQ(t.group3, c.c == tcGroup3TwoD ? 1u : 0u);
        }

        TDIB back;
        back.LoadFromFile(file, 0);
        EXPECT_EQ(back.XResolution(), 200);
        ASSERT_EQ(back.ImageFormat, c.fmt);
        if (c.tolerance == 0)
            EXPECT_TRUE(SamePixels(src, back));
        else
            EXPECT_LE(MaxByteDifference(src, back), c.tolerance);
        if (c.fmt == fmt1Bit) {
            EXPECT_EQ(back.GetPaletteEntry(0), 0u);
            EXPECT_EQ(back.GetPaletteEntry(1), 0xFFFFFFu);
        }
    }
}

TEST(TiffWrite, BilevelPhotometricAndBytes) {
    ScratchDir dir;
    TDIB src;
    DrawTestImage(src, 24, 5, fmt1Bit);
    // Usual table (index 0 black): CCITT goes out inverted under MinIsWhite, the rest as stored
    // under MinIsBlack.
    src.SaveToTiffFile(dir / "g4.tif", false, tcAuto, 0);
    src.SaveToTiffFile(dir / "lzw.tif", false, tcLzw, 0);
    PageTags g4 = ReadTags(dir / "g4.tif"), lzw = ReadTags(dir / "lzw.tif");
    EXPECT_EQ(g4.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(lzw.photometric, PHOTOMETRIC_MINISBLACK);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(g4.rows[y][i], uint8_t(~src.Rows[y][i]));
            EXPECT_EQ(lzw.rows[y][i], src.Rows[y][i]);
        }
    // A table the other way round (index 0 white) keeps black black in the file.
    src.SetPaletteEntry(0, 0xFFFFFF);
    src.SetPaletteEntry(1, 0);
    src.SaveToTiffFile(dir / "g4w.tif", false, tcGroup4, 0);
    src.SaveToTiffFile(dir / "lzww.tif", false, tcLzw, 0);
    PageTags g4w = ReadTags(dir / "g4w.tif"), lzww = ReadTags(dir / "lzww.tif");
    EXPECT_EQ(g4w.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(lzww.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(g4w.rows[2][1], src.Rows[2][1]);
    EXPECT_EQ(lzww.rows[2][1], src.Rows[2][1]);
    TDIB back;
    back.LoadFromFile(dir / "g4w.tif", 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 24; ++x) EXPECT_EQ(back.GetPixelColor(x, y), src.GetPixelColor(x, y));
}

TEST(TiffWrite, RowsPerStripAndJpegStrips) {
    ScratchDir dir;
    TDIB src;
    DrawTestImage(src, 16, 30, fmt8Bit);
    src.SaveToTiffFile(dir / "a.tif", false, tcLzw, 7);
    EXPECT_EQ(ReadTags(dir / "a.tif").rowsPerStrip, 7u);
    src.SaveToTiffFile(dir / "b.tif", false, tcJpeg, 7);
    EXPECT_EQ(ReadTags(dir / "b.tif").rowsPerStrip, 8u);
    TDIB back;
    back.LoadFromFile(dir / "a.tif", 0);
    EXPECT_TRUE(SamePixels(src, back));
}

TEST(TiffWrite, AppendPagesCountAndSelect) {
    ScratchDir dir;
    std::string file = dir / "multi.tif";
    std::vector<std::unique_ptr<TDIB>> pages;
    for (uint8_t fmt : {fmt1Bit, fmt8Bit, fmt24Bit}) {
        pages.push_back(std::make_unique<TDIB>());
        DrawTestImage(*pages.back(), 20 + fmt, 10 + fmt, fmt);
        pages.back()->SaveToTiffFile(file, true, tcLzw, 0);  // the first append creates the file
    }
    EXPECT_EQ(TDIB::GetPageCount(file), 3);
    for (int p = 0; p < 3; ++p) {
        TDIB back;
        back.LoadFromFile(file, p);
        EXPECT_TRUE(SamePixels(*pages[p], back)) << "page " << p;
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"multi.tif"});
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    EXPECT_EQ(ExpectLoadFails(bytes, 3), "TIFFSetDirectory: Page = 3 (the file has 3 pages)");
    EXPECT_EQ(ExpectLoadFails(bytes, -1), "TIFFSetDirectory: Page = -1 (the file has 3 pages)");

    // Without Append the file holds one page again.
    pages[0]->SaveToTiffFile(file, false, tcNone, 0);
    EXPECT_EQ(TDIB::GetPageCount(file), 1);

    // A failed append leaves the file as it was.
    TDIB gray;
    DrawTestImage(gray, 8, 8, fmt8Bit);
    std::vector<uint8_t> before = ReadFileBytes(file);
    EXPECT_THROW(gray.SaveToTiffFile(file, true, tcGroup4, 0), Exception);  // CCITT needs 1 bit
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"multi.tif"});
}

TEST(TiffRead, PageCountOfOtherFormatsIsOne) {
    ScratchDir dir;
    TDIB d;
    DrawTestImage(d, 8, 8, fmt8Bit);
    d.SaveToBitmapFile(dir / "a.bmp");
    d.SaveToJpegFile(dir / "a.jpg", false, 80);
    EXPECT_EQ(TDIB::GetPageCount(dir / "a.bmp"), 1);
    EXPECT_EQ(TDIB::GetPageCount(dir / "a.jpg"), 1);
    EXPECT_THROW(TDIB::GetPageCount(dir / "missing.tif"), EFOpenError);
}

TEST(TiffRead, TagRulesOnHandMadeFiles) {
    // 4 x 3 pixels, 8 bits: MinIsWhite is inverted to 255 - v.
    std::vector<uint8_t> px = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 255};
    TDIB d;
    LoadTiffBytes(d, HandTiff(GrayEntries(4, 3, 8, 0), px));
    ASSERT_EQ(d.ImageFormat, fmt8Bit);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(d.GetPixel(i % 4, i / 4), 255 - px[i]);
    EXPECT_EQ(d.GetPaletteEntry(7), 0x070707u);

    // No RowsPerStrip: one strip for the whole page (40 rows, more than 16).
    std::vector<uint8_t> tall(4 * 40);
    for (size_t i = 0; i < tall.size(); ++i) tall[i] = uint8_t(i);
    LoadTiffBytes(d, HandTiff(GrayEntries(4, 40, 8, 1), tall));
    for (int y = 0; y < 40; ++y) EXPECT_EQ(d.GetPixel(1, y), (4 * y + 1) & 255) << y;

    // ResolutionUnit 3 with 118.11 dots per centimetre is 300 dpi; no unit means inches.
    auto withRes = GrayEntries(4, 3, 8, 1);
    withRes.push_back({282, 5, {11811, 100}});
    withRes.push_back({283, 5, {7200, 100}});
    auto cm = withRes;
    cm.push_back({296, 3, {3}});
    LoadTiffBytes(d, HandTiff(cm, px));
    EXPECT_EQ(d.XResolution(), 300);
    EXPECT_EQ(d.YResolution(), 183);  // 72 * 2.54 = 182.88
    LoadTiffBytes(d, HandTiff(withRes, px));
    EXPECT_EQ(d.XResolution(), 118);
    EXPECT_EQ(d.YResolution(), 72);

    // 4-bit MinIsBlack: the 16-gray table i * 17.
    LoadTiffBytes(d, HandTiff(GrayEntries(4, 1, 4, 1), {0x1F, 0x80}));
    ASSERT_EQ(d.ImageFormat, fmt4Bit);
    EXPECT_EQ(d.GetPixel(0, 0), 1);
    EXPECT_EQ(d.GetPixel(1, 0), 15);
    EXPECT_EQ(d.GetPaletteEntry(3), 0x333333u);

    // 1-bit MinIsWhite: inverted, table black, white.
    LoadTiffBytes(d, HandTiff(GrayEntries(8, 1, 1, 0), {0xF0}));
    ASSERT_EQ(d.ImageFormat, fmt1Bit);
    EXPECT_EQ(d.Rows[0][0], 0x0F);
    EXPECT_EQ(d.GetPaletteEntry(1), 0xFFFFFFu);
}

TEST(TiffRead, ColorMapScaling) {
    auto entries = [](std::vector<uint32_t> map) {
        auto e = GrayEntries(2, 1, 8, 3);
        e.push_back({320, 3, map});
        return e;
    };
    std::vector<uint32_t> wide(768, 0), narrow(768, 0);
    for (uint32_t i = 0; i < 256; ++i) {
        wide[i] = i * 257;             // red 0 ... 65535
        wide[256 + i] = 65535 - i * 257;
        wide[512 + i] = 1000;
        narrow[i] = i;
        narrow[256 + i] = 255 - i;
        narrow[512 + i] = 7;
    }
    TDIB d;
    LoadTiffBytes(d, HandTiff(entries(wide), {3, 200}));
    ASSERT_EQ(d.ImageFormat, fmt8Bit);
    EXPECT_EQ(d.GetPixel(1, 0), 200);
    EXPECT_EQ(d.Palette[200].rgbRed, uint8_t(200 * 257 * 255 / 65535));
    EXPECT_EQ(d.Palette[200].rgbGreen, uint8_t((65535 - 200 * 257) * 255 / 65535));
    EXPECT_EQ(d.Palette[200].rgbBlue, uint8_t(1000 * 255 / 65535));
    LoadTiffBytes(d, HandTiff(entries(narrow), {3, 200}));
    EXPECT_EQ(d.Palette[200].rgbRed, 200);
    EXPECT_EQ(d.Palette[200].rgbGreen, 55);
    EXPECT_EQ(d.Palette[200].rgbBlue, 7);

    // A 1-bit palette page is a bilevel image with the map's two colors.
    auto one = GrayEntries(8, 1, 1, 3);
    one.push_back({320, 3, {65535, 65535, 65535, 0, 65535, 65535}});
    LoadTiffBytes(d, HandTiff(one, {0xA5}));
    ASSERT_EQ(d.ImageFormat, fmt1Bit);
    EXPECT_EQ(d.Rows[0][0], 0xA5);
    EXPECT_EQ(d.GetPaletteEntry(0), 0xFFFFFFu);
    EXPECT_EQ(d.GetPaletteEntry(1), 0xFF00FFu);
}

TEST(TiffRead, MalformedFilesRaiseClearMessages) {
    std::vector<uint8_t> px(12, 9);
    auto without = [&](uint16_t tag) {
        auto e = GrayEntries(4, 3, 8, 1);
        e.erase(std::remove_if(e.begin(), e.end(), [&](const Entry& x) { return x.tag == tag; }), e.end());
        return HandTiff(e, px);
    };
    auto replaced = [&](uint16_t tag, uint32_t value, uint32_t bps = 8, uint32_t photometric = 1) {
        auto e = GrayEntries(4, 3, bps, photometric);
        for (auto& x : e)
            if (x.tag == tag) x.values = {value};
        return HandTiff(e, px);
    };
    std::vector<uint8_t> truncated = HandTiff(GrayEntries(4, 3, 8, 1), px);
    // Strip byte count larger than the file.
    auto longStrip = GrayEntries(4, 300, 8, 1);
    std::vector<uint8_t> bigStripFile = HandTiff(longStrip, px);

    auto spp2 = GrayEntries(4, 3, 4, 1);
    spp2.push_back({277, 3, {2}});
    auto noMap = GrayEntries(4, 3, 8, 3);
    
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string message;
    } cases[] = {
        {"garbage after the byte order", {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F}, "TIFFOpen"},
        {"only the byte order", {'M', 'M'}, "TIFFOpen"},
        {"no width", without(256), "TIFFOpen"},
        {"2 bits gray", replaced(258, 2, 2), "Unsupported bit count: 2"},
        {"4 bits and 2 samples", HandTiff(spp2, px), "Unsupported bit count: 8"},
        {"strip beyond the file", bigStripFile, "TIFFReadEncodedStrip"},
        {"huge page in a small file", replaced(257, 0x00FFFFF0), "TIFFReadEncodedStrip"},
        {"page too large for an image", replaced(257, 0x7FFFFFF0), "TIFFReadEncodedStrip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ExpectLoadFails(c.bytes), c.message);
    }
    // A file that is cut anywhere never crashes: it loads whole (only the link to a next
    // directory was lost) or fails, leaking nothing.
    size_t blocks = GlobalBlockCount();
    for (size_t n = 0; n < truncated.size(); ++n) {
        std::vector<uint8_t> cut(truncated.begin(), truncated.begin() + long(n));
        TDIB d;
        try {
            LoadTiffBytes(d, cut);
            EXPECT_EQ(d.GetPixel(3, 2), 9) << n;
        } catch (const Exception&) {
            EXPECT_EQ(d.GetHandle(), 0u);
        }
    }
    EXPECT_EQ(GlobalBlockCount(), blocks);

    // libtiff reads a palette page without a ColorMap as gray (with a warning); BitsPerSample
    // defaults to 1 as the TIFF standard says.
    TDIB d;
    LoadTiffBytes(d, HandTiff(noMap, px));
    EXPECT_EQ(d.ImageFormat, fmt8Bit);
    EXPECT_EQ(d.GetPixel(0, 0), 9);
    LoadTiffBytes(d, without(258));
    EXPECT_EQ(d.ImageFormat, fmt1Bit);
    EXPECT_EQ(d.Rows[1][0], 9 & 0xF0);  // bits past the 4 pixels are cleared
}

// ---- Files made by libtiff's own tools ----

class TiffTools : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp (libtiff-tools) is not installed";
    }
    ScratchDir dir;

    std::string Copy(const std::string& from, const std::string& options, const std::string& name) {
        std::string to = dir / name;
        EXPECT_EQ(Shell("tiffcp " + options + " '" + from + "' '" + to + "' 2>/dev/null"), 0) << options;
        return to;
    }
};

TEST_F(TiffTools, CompressionsStripsTilesAndPlanes) {
    struct Case {
        uint8_t fmt;
        const char* options;
        int tolerance;
        uint16_t photometric;  // 0: not checked
    } cases[] = {
        {fmt1Bit, "-c none", 0, 0},     {fmt1Bit, "-c packbits", 0, 0},   {fmt1Bit, "-c lzw", 0, 0},
        {fmt1Bit, "-c zip", 0, 0},      {fmt1Bit, "-c g3", 0, 0},         {fmt1Bit, "-c g3:2d", 0, 0},
        {fmt1Bit, "-c g4", 0, 1},       {fmt1Bit, "-c g4 -r 5", 0, 1},    {fmt1Bit, "-c lzw -t -w 16 -l 16", 0, 0},
        {fmt1Bit, "-c g4 -t -w 16 -l 16", 0, 0},
        {fmt4Bit, "-c lzw -r 3", 0, 0}, {fmt4Bit, "-c zip -t -w 16 -l 16", 0, 0},
        {fmt8Bit, "-c lzw -r 3", 0, 0}, {fmt8Bit, "-c zip -r 1", 0, 0},   {fmt8Bit, "-c lzw -t -w 16 -l 32", 0, 0},
        {fmt8Bit, "-c jpeg", -1, 0},
        {fmt24Bit, "-c lzw -r 7", 0, 0}, {fmt24Bit, "-p separate", 0, 0}, {fmt24Bit, "-t -w 32 -l 16 -c zip", 0, 0},
        {fmt24Bit, "-c jpeg", -1, PHOTOMETRIC_YCBCR}, {fmt24Bit, "-c jpeg -r 16", -1, PHOTOMETRIC_YCBCR},
        {fmt24Bit, "-c jpeg -t -w 32 -l 32", -1, PHOTOMETRIC_YCBCR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << int(c.fmt) << " tiffcp " << c.options);
        TDIB src;
        DrawTestImage(src, 61, 45, c.fmt);
        std::string plain = dir / "plain.tif";
        src.SaveToTiffFile(plain, false, tcNone, 0);
        std::string file = Copy(plain, c.options, "copy.tif");
        if (c.photometric) {
            EXPECT_EQ(ReadTags(file).photometric, c.photometric);
        }
        TDIB back;
        try {
            back.LoadFromFile(file, 0);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        ASSERT_EQ(back.ImageFormat, c.fmt);
        if (c.tolerance == 0) {
            EXPECT_TRUE(SamePixels(src, back));
        } else {
            // Lossy pages: exactly what libtiff's own tiff2rgba decodes (an uncompressed RGBA
            // file, read through the strip path), and close to the original.
            std::string ref = dir / "ref.tif";
            ASSERT_EQ(Shell("tiff2rgba -c none '" + file + "' '" + ref + "'"), 0);
            TDIB expected;
            expected.LoadFromFile(ref, 0);
            for (int32_t y = 0; y < src.Height(); ++y)
                for (int32_t x = 0; x < src.Width(); ++x)
                    ASSERT_EQ(back.GetPixel(x, y) & 0xFFFFFF, expected.GetPixel(x, y) & (c.fmt == fmt8Bit ? 0xFF : 0xFFFFFF))
                        << x << "," << y;
            EXPECT_LE(MaxByteDifference(src, back), c.fmt == fmt8Bit ? 64 : 200);
        }
    }
}

TEST_F(TiffTools, MultiPageFileFromTiffcp) {
    TDIB a, b, c;
    DrawTestImage(a, 30, 20, fmt1Bit);
    DrawTestImage(b, 31, 21, fmt8Bit);
    DrawTestImage(c, 32, 22, fmt24Bit);
    a.SaveToTiffFile(dir / "a.tif", false, tcNone, 0);
    b.SaveToTiffFile(dir / "b.tif", false, tcNone, 0);
    c.SaveToTiffFile(dir / "c.tif", false, tcNone, 0);
    std::string all = dir / "all.tif";
    ASSERT_EQ(Shell("tiffcp -c lzw '" + (dir / "a.tif") + "' '" + (dir / "b.tif") + "' '" + (dir / "c.tif") + "' '" + all + "'"), 0);
    EXPECT_EQ(TDIB::GetPageCount(all), 3);
    TDIB back;
    back.LoadFromFile(all, 2);
    EXPECT_TRUE(SamePixels(c, back));
    back.LoadFromFile(all, 0);
    EXPECT_TRUE(SamePixels(a, back));
}

// Pillow writes every bilevel TIFF from a min-is-black raster and keeps that in the tag; the
// page must not come out as a negative.
TEST(TiffPillow, BilevelPagesKeepTheirPhotometric) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    ScratchDir dir;
    TDIB src;
    DrawTestImage(src, 45, 33, fmt1Bit);
    src.SaveToBitmapFile(dir / "src.bmp");
    for (const char* compression : {"group4", "group3", "tiff_lzw", "packbits", "raw"}) {
        SCOPED_TRACE(compression);
        std::string out = dir / "pil.tif";
        std::string script = "from PIL import Image; Image.open('" + (dir / "src.bmp") + "').convert('1').save('" + out +
                             "', compression='" + compression + "')";
        ASSERT_EQ(Shell("/usr/bin/python3 -c \"" + script + "\""), 0);
        TDIB back;
        back.LoadFromFile(out, 0);
        ASSERT_EQ(back.ImageFormat, fmt1Bit);
        for (int y = 0; y < 33; ++y)
            for (int x = 0; x < 45; ++x) ASSERT_EQ(back.GetPixelColor(x, y), src.GetPixelColor(x, y)) << x << "," << y;
    }
}
