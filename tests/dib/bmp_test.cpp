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

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) { std::memcpy(&v[at], &x, 2); }
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(&v[at], &x, 4); }

// A bitmap file made by hand from an image: the header version, the color table length, the
// row order, the gap before the pixels and the header fields can all be chosen.
struct BmpFile {
    uint32_t headerSize = 40;
    uint32_t clrUsed = 0;       // entries written (0: all 2^bits)
    bool topDown = false;
    uint32_t gap = 0;           // bytes between the table and the pixels
    bool zeroOffBits = false;   // bfOffBits written as 0
    uint32_t bfSize = 0;        // 0: the true size
    uint32_t compression = 0;
    int32_t bitsOverride = 0;

    std::vector<uint8_t> Make(const TDIB& d) const {
        int32_t bits = d.Header->biBitCount;
        uint32_t entries = d.PaletteSize == 0 ? 0 : (clrUsed ? clrUsed : uint32_t(d.PaletteSize));
        size_t tableStart = 14 + headerSize;
        size_t pixels = tableStart + 4 * entries + gap;
        size_t total = pixels + size_t(d.Height()) * d.Stride;
        std::vector<uint8_t> f(total, 0);
        f[0] = 'B';
        f[1] = 'M';
        Put32(f, 2, bfSize ? bfSize : uint32_t(total));
        Put32(f, 10, zeroOffBits ? 0 : uint32_t(pixels));
        Put32(f, 14, headerSize);
        Put32(f, 18, uint32_t(d.Width()));
        Put32(f, 22, uint32_t(topDown ? -d.Height() : d.Height()));
        Put16(f, 26, 1);
        Put16(f, 28, uint16_t(bitsOverride ? bitsOverride : bits));
        Put32(f, 30, compression);
        Put32(f, 34, uint32_t(d.Height() * d.Stride));
        Put32(f, 38, uint32_t(d.Header->biXPelsPerMeter));
        Put32(f, 42, uint32_t(d.Header->biYPelsPerMeter));
        Put32(f, 46, clrUsed);
        for (uint32_t i = 0; i < entries; ++i) {
            std::memcpy(&f[tableStart + 4 * i], &d.Palette[i], 4);
            f[tableStart + 4 * i + 3] = 0x5A;  // reserved bytes some writers fill
        }
        for (int32_t y = 0; y < d.Height(); ++y) {
            int32_t stored = topDown ? y : d.Height() - 1 - y;
            std::memcpy(&f[pixels + size_t(stored) * d.Stride], d.Rows[y], size_t(d.Stride));
        }
        return f;
    }
};

void LoadBytes(TDIB& d, const std::vector<uint8_t>& bytes) {
    TBufferStream s(bytes.data(), int64_t(bytes.size()));
    d.LoadFromBitmapStream(s);
}

}  // namespace

TEST(BitmapFile, WrittenFileHasTheBlockAfterTheFileHeaderAndReadsBackByteIdentical) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit}) {
        TDIB d;
        DrawTestImage(d, 37, 11, fmt);
        d.Header->biXPelsPerMeter = 3779;  // not a whole dpi value: must survive exactly
        TMemoryStream s;
        d.SaveToBitmapStream(s);
        ASSERT_EQ(s.Size(), d.DIBSize + 14);
        const uint8_t* b = s.Memory();
        BITMAPFILEHEADER fh;
        std::memcpy(&fh, b, 14);
        EXPECT_EQ(+fh.bfType, 0x4D42);
        EXPECT_EQ(+fh.bfSize, uint32_t(d.DIBSize + 14));
        EXPECT_EQ(+fh.bfOffBits, uint32_t(54 + 4 * d.PaletteSize));
        EXPECT_EQ(fh.bfReserved1 | fh.bfReserved2, 0);
        EXPECT_EQ(std::memcmp(b + 14, d.Memory, size_t(d.DIBSize)), 0) << int(fmt);

        TDIB back;
        s.SetPosition(0);
        back.LoadFromBitmapStream(s);
        ASSERT_EQ(back.DIBSize, d.DIBSize);
        EXPECT_EQ(std::memcmp(back.Memory, d.Memory, size_t(d.DIBSize)), 0) << int(fmt);
        EXPECT_EQ(back.Header->biXPelsPerMeter, 3779);
        EXPECT_EQ(back.ImageFormat, fmt);
        EXPECT_EQ(back.LockCount, 1);
        EXPECT_EQ(+back.FileHeader.bfOffBits, uint32_t(54 + 4 * d.PaletteSize));
    }
}

TEST(BitmapFile, SaveToFileAndLoadFromFile) {
    ScratchDir dir;
    TDIB d;
    DrawTestImage(d, 20, 9, fmt24Bit);
    d.SaveToBitmapFile(dir / "a.bmp");
    EXPECT_EQ(ReadFileBytes(dir / "a.bmp").size(), size_t(d.DIBSize + 14));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"a.bmp"});  // no temporary left behind
    TDIB back;
    TFileStream f(dir / "a.bmp", fmOpenRead);
    back.LoadFromBitmapStream(f);
    EXPECT_TRUE(SamePixels(d, back));
}

TEST(BitmapFile, VariantsOfCurrentWritersAreBroughtIntoTheImageLayout) {
    struct Case {
        const char* what;
        uint8_t fmt;
        BmpFile file;
    } cases[] = {
        {"plain 8-bit", fmt8Bit, {}},
        {"108-byte header", fmt8Bit, {.headerSize = 108}},
        {"124-byte header, 24 bits", fmt24Bit, {.headerSize = 124}},
        {"124-byte header, 1 bit", fmt1Bit, {.headerSize = 124}},
        {"52-byte header", fmt4Bit, {.headerSize = 52}},
        {"top-down 24 bits", fmt24Bit, {.topDown = true}},
        {"top-down 1 bit", fmt1Bit, {.topDown = true}},
        {"short table 8 bits", fmt8Bit, {.clrUsed = 16}},
        {"short table 4 bits, top-down, V5", fmt4Bit, {.headerSize = 124, .clrUsed = 9, .topDown = true}},
        {"gap before the pixels", fmt8Bit, {.gap = 6}},
        {"bfOffBits 0 with short table", fmt8Bit, {.clrUsed = 20, .zeroOffBits = true}},
        {"bfSize too small", fmt24Bit, {.bfSize = 20}},
        {"bfSize too large", fmt4Bit, {.bfSize = 0x7FFFFFF0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIB src;
        DrawTestImage(src, 13, 7, c.fmt);
        // Keep the pixels inside the entries the file gives, and make the table non-gray.
        uint32_t used = c.file.clrUsed ? c.file.clrUsed : uint32_t(src.PaletteSize);
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 13 && used; ++x) src.SetPixel(x, y, src.GetPixel(x, y) % int32_t(used));
        for (int32_t i = 0; i < src.PaletteSize; ++i) src.SetPaletteEntry(i, uint32_t(i * 0x030507 + 0x102030) & 0xFFFFFF);
        src.Header->biXPelsPerMeter = 2835;
        src.Header->biYPelsPerMeter = 3780;

        TDIB d;
        LoadBytes(d, c.file.Make(src));
        ASSERT_TRUE(SamePixels(src, d));
        EXPECT_EQ(d.Header->biSize, 40u);
        EXPECT_GT(d.Header->biHeight, 0);
        EXPECT_EQ(d.Header->biClrUsed, uint32_t(d.PaletteSize));
        EXPECT_EQ(d.XResolution(), 72);
        EXPECT_EQ(d.YResolution(), 96);
        EXPECT_EQ(d.Bits, d.Memory + 40 + 4 * d.PaletteSize);
        EXPECT_EQ(GlobalSize(d.Handle), size_t(d.DIBSize));
        for (int32_t i = 0; i < d.PaletteSize; ++i) {
            uint32_t expected = uint32_t(i) < used ? src.GetPaletteEntry(i) : 0u;  // missing entries black, reserved 0
            EXPECT_EQ(d.GetPaletteEntry(i), expected) << "entry " << i;
        }
        // What it reads, it writes back as a plain bitmap that reads again the same.
        TMemoryStream out;
        d.SaveToBitmapStream(out);
        TDIB again;
        out.SetPosition(0);
        again.LoadFromBitmapStream(out);
        EXPECT_EQ(std::memcmp(again.Memory, d.Memory, size_t(d.DIBSize)), 0);
    }
}

TEST(BitmapFile, RefusedFilesLeaveTheImageEmptyAndLeakNothing) {
    TDIB src8, src24;
    DrawTestImage(src8, 16, 4, fmt8Bit);
    DrawTestImage(src24, 16, 4, fmt24Bit);
    std::vector<uint8_t> good = BmpFile{}.Make(src8);

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;  // the start of the message
    };
    auto with = [](std::vector<uint8_t> v, size_t at, uint32_t value) {
        Put32(v, at, value);
        return v;
    };
    auto with16 = [](std::vector<uint8_t> v, size_t at, uint16_t value) {
        Put16(v, at, value);
        return v;
    };
    std::vector<uint8_t> truncated = good;
    truncated.resize(good.size() - 1);
    std::vector<uint8_t> notBm = good;
    notBm[1] = 'A';
    Case cases[] = {
        {"empty", {}, "Invalid bitmap file !"},
        {"shorter than the file header", {'B', 'M', 1, 2, 3}, "Invalid bitmap file !"},
        {"no signature", notBm, "Invalid bitmap file !"},
        {"ends inside the info header", std::vector<uint8_t>(good.begin(), good.begin() + 30), "Invalid bitmap: the file ends inside its header"},
        {"one pixel byte missing", truncated, "Invalid bitmap: 16 x 4 pixels at 8 bits need 1142 bytes, the file holds 1141"},
        {"run-length 8", BmpFile{.compression = 1}.Make(src8), "Unsupported bitmap: run-length compressed rows"},
        {"run-length 4", BmpFile{.compression = 2}.Make(src8), "Unsupported bitmap: run-length compressed rows"},
        {"bit fields", BmpFile{.headerSize = 124, .compression = 3}.Make(src24), "Unsupported bitmap: bit-field compressed pixels"},
        {"embedded JPEG", BmpFile{.compression = 4}.Make(src24), "Unsupported bitmap: compression 4"},
        {"16 bits", BmpFile{.bitsOverride = 16}.Make(src8), "Unsupported bitmap: 16 bits per pixel"},
        {"32 bits", BmpFile{.bitsOverride = 32}.Make(src8), "Unsupported bitmap: 32 bits per pixel"},
        {"2 bits", BmpFile{.bitsOverride = 2}.Make(src8), "Unsupported bitmap: 2 bits per pixel"},
        {"OS/2 header", with(good, 14, 12), "Unsupported bitmap: OS/2 header"},
        {"odd header size", with(good, 14, 64), "Invalid bitmap: unknown header size 64"},
        {"pixels inside the table", with(good, 10, 54 + 100), "Invalid bitmap: pixel offset 154 lies inside"},
        {"pixels past the end", with(good, 10, 0x7FFFFFFF), "Invalid bitmap: 16 x 4 pixels"},
        {"width 0", with(good, 18, 0), "Invalid bitmap size: 0 x 4"},
        {"negative width", with(good, 18, uint32_t(-5)), "Invalid bitmap size: -5 x 4"},
        {"height 0", with(good, 22, 0), "Invalid bitmap size: 16 x 0"},
        {"most negative height", with(good, 22, 0x80000000u), "Invalid bitmap size: 16 x -2147483648"},
        {"huge width in a small file", with(good, 18, 0x40000000), "Invalid bitmap: 1073741824 x 4 pixels"},
        {"huge height in a small file", with16(with(good, 22, 0x7FFFFFFF), 28, 24), "Invalid bitmap: 16 x 2147483647"},
    };
    size_t blocks = GlobalBlockCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool owns : {true, false}) {
            TDIB d;
            d.OwnsHandle = owns;
            try {
                LoadBytes(d, c.bytes);
                ADD_FAILURE() << "loaded";
            } catch (const Exception& e) {
                EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
            }
            EXPECT_EQ(d.GetHandle(), 0u);
            EXPECT_EQ(d.Width(), 0);
            EXPECT_TRUE(d.Rows.empty());
            EXPECT_EQ(d.OwnsHandle, owns);
        }
        EXPECT_EQ(GlobalBlockCount(), blocks);
    }
}

TEST(BitmapFile, ReadsFromTheStreamPosition) {
    TDIB d;
    DrawTestImage(d, 9, 5, fmt4Bit);
    TMemoryStream s;
    s.WriteBuffer("junk", 4);
    d.SaveToBitmapStream(s);
    s.SetPosition(4);
    TDIB back;
    back.LoadFromBitmapStream(s);
    EXPECT_TRUE(SamePixels(d, back));
}

TEST(BitmapFile, EmptyImageIsNotSaved) {
    TDIB d;
    TMemoryStream s;
    EXPECT_THROW(d.SaveToBitmapStream(s), Exception);
    EXPECT_EQ(s.Size(), 0);
}

TEST(FileSignatures, FirstBytesDecideAndThePositionIsKept) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool bmp, tiff, png;
    } cases[] = {
        {{'B', 'M', 0, 0}, true, false, false},
        {{'B', 'M'}, true, false, false},
        {{'M', 'B', 0, 0}, false, false, false},
        {{'I', 'I', 42, 0}, false, true, false},
        {{'M', 'M', 0, 42}, false, true, false},
        {{'I', 'M', 0, 42}, false, false, false},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0}, false, false, true},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, false, false, false},
        {{0xFF, 0xD8, 0xFF, 0xE0}, false, false, false},
        {{}, false, false, false},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = {7, 7};
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        TBufferStream s(bytes.data(), int64_t(bytes.size()));
        s.SetPosition(2);
        EXPECT_EQ(TDIB::IsBitmapStream(s), c.bmp);
        EXPECT_EQ(s.Position(), 2);
        EXPECT_EQ(TDIB::IsTiffStream(s), c.tiff);
        EXPECT_EQ(s.Position(), 2);
        EXPECT_EQ(TDIB::IsPngStream(s), c.png);
        EXPECT_EQ(s.Position(), 2);
    }
}

TEST(AtomicSave, FailedWriteLeavesTheOldFileAndNoTemporary) {
    ScratchDir dir;
    WriteFileBytes(dir / "page.bmp", {1, 2, 3});
    EXPECT_THROW(WriteFileAtomically(dir / "page.bmp", false,
                                     [](TFileStream& s) {
                                         s.WriteBuffer("half", 4);
                                         throw Exception("disk full");
                                     }),
                 Exception);
    EXPECT_EQ(ReadFileBytes(dir / "page.bmp"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"page.bmp"});

    // A new file that fails is not created at all.
    EXPECT_THROW(WriteFileAtomically(dir / "new.bmp", false, [](TFileStream&) { throw Exception("no"); }), Exception);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"page.bmp"});
}

TEST(AtomicSave, CopyOfTheExistingFileKeepsModeAndFollowsLinks) {
    ScratchDir dir;
    WriteFileBytes(dir / "a.tif", {1, 2, 3});
    ASSERT_EQ(::chmod((dir / "a.tif").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("a.tif", (dir / "link.tif").c_str()), 0);
    WriteFileAtomically(dir / "link.tif", true, [](TFileStream& s) {
        EXPECT_EQ(s.Position(), 0);
        EXPECT_EQ(s.Size(), 3);
        s.Seek(0, TSeekOrigin::soEnd);
        s.WriteBuffer("\x04", 1);
    });
    EXPECT_EQ(ReadFileBytes(dir / "a.tif"), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.tif"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a.tif").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.tif", "link.tif"}));
}

TEST(AtomicSave, UncreatableFileRaisesTheCreateError) {
    TDIB d;
    DrawTestImage(d, 4, 4, fmt8Bit);
    try {
        d.SaveToBitmapFile("/nonexistent-dir/x.bmp");
        ADD_FAILURE();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"/nonexistent-dir/x.bmp\".", 0), 0u) << e.what();
    }
}
