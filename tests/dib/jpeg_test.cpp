#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "file_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using namespace qil::testing_files;

namespace {

std::string LoadFails(const std::vector<uint8_t>& bytes) {
    size_t blocks = GlobalBlockCount();
    TDIB d;
    d.OwnsHandle = false;
    std::string message = "(loaded)";
    try {
        TBufferStream s(bytes.data(), int64_t(bytes.size()));
        d.LoadFromStream(s, 0);
    } catch (const Exception& e) {
        message = e.what();
    }
    EXPECT_EQ(d.GetHandle(), 0u);
    EXPECT_EQ(GlobalBlockCount(), blocks);
    return message;
}

std::vector<uint8_t> JpegBytes(TDIB& d, bool progressive, uint8_t quality) {
    TMemoryStream s;
    d.SaveToJpegStream(s, progressive, quality);
    return s.Data();
}

}  // namespace

TEST(JpegFile, GrayAndColorRoundTrip) {
    // Gray widths of whole 8 x 8 blocks (64, 8) take the raw-data path of libjpeg, the others
    // its scanline path; 41 and 3 rows end in a partial block row.
    struct Case {
        uint8_t fmt;
        int32_t grayWidth, grayHeight;
    };
    const Case cases[] = {{fmt8Bit, 67, 41}, {fmt8Bit, 64, 41}, {fmt8Bit, 8, 3}, {fmt24Bit, 0, 0}};
    for (const Case& c : cases)
        for (bool progressive : {false, true}) {
            const uint8_t fmt = c.fmt;
            SCOPED_TRACE(::testing::Message() << "format " << int(fmt) << " width " << c.grayWidth << " progressive "
                                              << progressive);
            TDIB src;
            if (fmt == fmt8Bit) {
                DrawTestImage(src, c.grayWidth, c.grayHeight, fmt, 150);
            } else {
                // Four solid quadrants: the chroma subsampling of JPEG blurs thin colored lines, so
                // the color check looks at the middle of flat areas.
                src.CreateNew(64, 48, fmt24Bit, 150, 150);
                const uint32_t colors[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
                for (int32_t y = 0; y < 48; ++y)
                    for (int32_t x = 0; x < 64; ++x) src.SetPixelColor(x, y, colors[(y / 24) * 2 + x / 32]);
            }
            std::vector<uint8_t> bytes = JpegBytes(src, progressive, 100);
            ASSERT_GT(bytes.size(), 20u);
            EXPECT_EQ(bytes[0], 0xFF);
            EXPECT_EQ(bytes[1], 0xD8);
            // JFIF density in dots per inch.
            EXPECT_EQ(bytes[13], 1);
            EXPECT_EQ(bytes[14] * 256 + bytes[15], 150);
            EXPECT_EQ(bytes[16] * 256 + bytes[17], 150);
            TDIB back;
            TBufferStream s(bytes.data(), int64_t(bytes.size()));
            back.LoadFromStream(s, 0);
            ASSERT_EQ(back.ImageFormat, fmt);
            EXPECT_EQ(back.Width(), src.Width());
            EXPECT_EQ(back.Height(), src.Height());
            EXPECT_EQ(back.XResolution(), 150);
            // The reader writes the rows itself (the block is not cleared first): the bytes
            // past each row's pixels must still be zero.
            for (int32_t y = 0; y < back.Height(); ++y)
                for (int32_t i = back.RowBytes; i < back.Stride; ++i) EXPECT_EQ(back.Rows[size_t(y)][i], 0) << y;
            if (fmt == fmt8Bit) {
                EXPECT_LE(MaxByteDifference(src, back), 8);
            } else {
                const uint32_t expected[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
                for (int q = 0; q < 4; ++q) {
                    uint32_t c = back.GetPixelColor(16 + 32 * (q % 2), 12 + 24 * (q / 2));
                    for (int shift : {0, 8, 16})
                        EXPECT_NEAR(int((c >> shift) & 255), int((expected[q] >> shift) & 255), 12) << q;
                }
            }
        }
}

TEST(JpegFile, DensityUnits) {
    TDIB src;
    DrawTestImage(src, 8, 8, fmt8Bit, 72);
    std::vector<uint8_t> bytes = JpegBytes(src, false, 80);
    struct Case {
        uint8_t unit;
        uint16_t x, y;
        int32_t dpiX, dpiY;
    } cases[] = {
        {1, 300, 200, 300, 200},
        {2, 118, 40, 300, 102},   // Round(118 * 2.54) = 300, Round(101.6) = 102
        {0, 1, 1, 0, 0},          // aspect ratio only
        {1, 40000, 65535, 40000, 65535},  // 16-bit densities are unsigned
        {2, 30000, 1, 65535, 3},  // clamped to what the image keeps
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = bytes;
        b[13] = c.unit;
        b[14] = uint8_t(c.x >> 8);
        b[15] = uint8_t(c.x);
        b[16] = uint8_t(c.y >> 8);
        b[17] = uint8_t(c.y);
        TDIB d;
        TBufferStream s(b.data(), int64_t(b.size()));
        d.LoadFromJpegStream(s);
        EXPECT_EQ(d.XResolution(), c.dpiX) << int(c.unit) << " " << c.x;
        EXPECT_EQ(d.YResolution(), c.dpiY);
    }
}

TEST(JpegFile, OnlyGrayAndColorAreWritten) {
    ScratchDir dir;
    for (uint8_t fmt : {fmt1Bit, fmt4Bit}) {
        TDIB d;
        DrawTestImage(d, 8, 8, fmt);
        TMemoryStream s;
        try {
            d.SaveToJpegStream(s, false, 80);
            ADD_FAILURE();
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Invalid bit depth !");
        }
        EXPECT_THROW(d.SaveToJpegFile(dir / "x.jpg", false, 80), Exception);
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(JpegFile, LibjpegErrorsCarryLibjpegMessages) {
    TDIB src;
    DrawTestImage(src, 40, 30, fmt24Bit);
    std::vector<uint8_t> good = JpegBytes(src, false, 90);
    std::vector<uint8_t> header(good.begin(), good.begin() + 100);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"not a JPEG", {'h', 'e', 'l', 'l', 'o'}, "Not a JPEG file: starts with 0x68 0x65"},
        {"empty", {}, "Not a JPEG file: starts with 0xff 0xd9"},
        {"cut inside the header", header, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string m = LoadFails(c.bytes);
        EXPECT_NE(m, "(loaded)");
        EXPECT_FALSE(m.empty());
        if (*c.message) {
            EXPECT_EQ(m, c.message);
        }
    }
    // Cut anywhere: never a crash, never a leak; libjpeg fills a cut-off picture as it does.
    size_t blocks = GlobalBlockCount();
    for (size_t n = 0; n < good.size(); n += 7) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        TDIB d;
        try {
            TBufferStream s(cut.data(), int64_t(cut.size()));
            d.LoadFromJpegStream(s);
            EXPECT_EQ(d.Width(), 40);
        } catch (const Exception&) {
            EXPECT_EQ(d.GetHandle(), 0u);
        }
    }
    EXPECT_EQ(GlobalBlockCount(), blocks);
}

TEST(JpegFile, WriteFailureRaisesAndLeavesNoFile) {
    // A stream that refuses every write.
    struct FullStream : TMemoryStream {
        int64_t Write(const void*, int64_t) override { return 0; }
    } full;
    TDIB src;
    DrawTestImage(src, 300, 300, fmt24Bit);
    try {
        src.SaveToJpegStream(full, false, 100);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Output file write error --- out of disk space?");
    }
}

TEST(JpegFile, InteroperatesWithCjpegAndDjpeg) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg-turbo-progs is not installed";
    ScratchDir dir;
    for (uint8_t fmt : {fmt8Bit, fmt24Bit}) {
        SCOPED_TRACE(int(fmt));
        TDIB src;
        DrawTestImage(src, 50, 35, fmt);
        // Ours -> djpeg: the same decoder gives the same pixels.
        src.SaveToJpegFile(dir / "ours.jpg", false, 80);
        ASSERT_EQ(Shell("djpeg -bmp -outfile '" + (dir / "d.bmp") + "' '" + (dir / "ours.jpg") + "'"), 0);
        TDIB ours, viaDjpeg;
        ours.LoadFromFile(dir / "ours.jpg", 0);
        viaDjpeg.LoadFromFile(dir / "d.bmp", 0);
        ASSERT_EQ(viaDjpeg.Width(), ours.Width());
        for (int32_t y = 0; y < ours.Height(); ++y)
            for (int32_t x = 0; x < ours.Width(); ++x)
                ASSERT_EQ(ours.GetPixelColor(x, y) & 0xFFFFFF, viaDjpeg.GetPixelColor(x, y) & 0xFFFFFF) << x << "," << y;
        // cjpeg -> ours, progressive and baseline.
        src.SaveToBitmapFile(dir / "src.bmp");
        for (const char* options : {"-quality 95", "-quality 95 -progressive", "-quality 95 -optimize"}) {
            ASSERT_EQ(Shell(std::string("cjpeg ") + options + (fmt == fmt8Bit ? " -grayscale" : "") + " -outfile '" +
                            (dir / "c.jpg") + "' '" + (dir / "src.bmp") + "'"),
                      0);
            TDIB back, reference;
            back.LoadFromFile(dir / "c.jpg", 0);
            ASSERT_EQ(back.ImageFormat, fmt);
            if (fmt == fmt8Bit) {
                EXPECT_LE(MaxByteDifference(src, back), 12) << options;
            }
            // The same decoder from the shell gives the same pixels.
            ASSERT_EQ(Shell("djpeg -bmp -outfile '" + (dir / "c.bmp") + "' '" + (dir / "c.jpg") + "'"), 0);
            reference.LoadFromFile(dir / "c.bmp", 0);
            for (int32_t y = 0; y < back.Height(); ++y)
                for (int32_t x = 0; x < back.Width(); ++x)
                    ASSERT_EQ(back.GetPixelColor(x, y) & 0xFFFFFF, reference.GetPixelColor(x, y) & 0xFFFFFF)
                        << options << " " << x << "," << y;
        }
    }
}

TEST(ImageFileDispatch, LoadFromFileRecognisesEveryFormatBySignature) {
    ScratchDir dir;
    TDIB src;
    DrawTestImage(src, 21, 13, fmt8Bit);
    src.SaveToBitmapFile(dir / "a.tif");   // names say nothing: the first bytes decide
    src.SaveToTiffFile(dir / "b.bmp", false, tcLzw, 0);
    src.SaveToJpegFile(dir / "c.png", false, 95);
    for (const char* name : {"a.tif", "b.bmp"}) {
        TDIB d;
        d.LoadFromFile(dir / name, 0);
        EXPECT_TRUE(SamePixels(src, d)) << name;
    }
    TDIB j;
    j.LoadFromFile(dir / "c.png", 0);
    EXPECT_EQ(j.Width(), 21);
    EXPECT_LE(MaxByteDifference(src, j), 16);
    EXPECT_THROW(j.LoadFromFile(dir / "missing", 0), EFOpenError);
    EXPECT_EQ(j.GetHandle(), 0u);
}
