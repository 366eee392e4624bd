// Writing PNG files: round trips of every format, the saved chunks, the filter choice rule,
// tRNS and pHYs, and the atomic file save.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "dib/dib.h"
#include "dib/png_codec.h"
#include "dib/png_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using namespace pngtest;

namespace {

struct TParsedChunk {
    std::string Type;
    Bytes Data;
};

uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

// Splits a file into its chunks, checking each CRC with zlib's.
std::vector<TParsedChunk> ParseChunks(const std::vector<uint8_t>& f) {
    std::vector<TParsedChunk> out;
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 8), Signature());
    size_t p = 8;
    while (p + 12 <= f.size()) {
        uint32_t len = BE32(&f[p]);
        TParsedChunk c{std::string(f.begin() + ptrdiff_t(p + 4), f.begin() + ptrdiff_t(p + 8)),
                       Bytes(f.begin() + ptrdiff_t(p + 8), f.begin() + ptrdiff_t(p + 8 + len))};
        EXPECT_EQ(BE32(&f[p + 8 + len]), uint32_t(crc32(0, &f[p + 4], len + 4))) << c.Type;
        out.push_back(c);
        p += 12 + len;
    }
    EXPECT_EQ(p, f.size());
    return out;
}

std::vector<std::string> Types(const std::vector<TParsedChunk>& chunks) {
    std::vector<std::string> t;
    for (auto& c : chunks) t.push_back(c.Type);
    return t;
}

Bytes Inflate(const Bytes& z, size_t expected) {
    Bytes out(expected + 16);
    uLongf n = uLongf(out.size());
    EXPECT_EQ(uncompress(out.data(), &n, z.data(), uLong(z.size())), Z_OK);
    out.resize(n);
    return out;
}

void FillRandom(TDIB& dib, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < dib.Height(); ++y)
        for (int32_t x = 0; x < dib.RowBytes; ++x) dib.Rows[size_t(y)][x] = uint8_t(rng());
    for (int32_t i = 0; i < dib.PaletteSize; ++i) dib.SetPaletteEntry(i, rng() & 0xFFFFFF);
}

std::vector<uint8_t> SaveBytes(TDIB& dib) {
    TMemoryStream m;
    dib.SaveToPngStream(m);
    return m.Data();
}

void ExpectSamePixels(TDIB& a, TDIB& b) {
    ASSERT_EQ(a.ImageFormat, b.ImageFormat);
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x) ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << x << "," << y;
    for (int32_t i = 0; i < a.PaletteSize; ++i) ASSERT_EQ(a.GetPaletteEntry(i), b.GetPaletteEntry(i)) << i;
}

}  // namespace

TEST(PngWrite, EveryFormatRoundTripsPixelForPixel) {
    for (uint8_t fmt : {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit})
        for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 5}, std::pair{64, 3}, std::pair{101, 17}})
            for (int32_t dpi : {0, 72, 200, 300, 600}) {
                SCOPED_TRACE(testing::Message() << "format " << int(fmt) << " " << w << "x" << h << " " << dpi << " dpi");
                TDIB a;
                a.CreateNew(w, h, fmt, dpi, dpi == 200 ? 300 : dpi);
                FillRandom(a, uint32_t(w * 7 + fmt));
                std::vector<uint8_t> file = SaveBytes(a);
                TDIB b;
                TBufferStream s(file.data(), int64_t(file.size()));
                b.LoadFromPngStream(s);
                ExpectSamePixels(a, b);
                EXPECT_EQ(b.Header->biXPelsPerMeter, a.Header->biXPelsPerMeter);
                EXPECT_EQ(b.Header->biYPelsPerMeter, a.Header->biYPelsPerMeter);
                EXPECT_EQ(b.XResolution(), a.XResolution());
            }
}

TEST(PngWrite, SavedChunksDescribeTheImage) {
    struct Case {
        uint8_t fmt, depth, colorType;
        size_t plte;
    } cases[] = {{fmt1Bit, 1, 3, 6}, {fmt4Bit, 4, 3, 48}, {fmt8Bit, 8, 3, 768}, {fmt24Bit, 8, 2, 0}};
    for (const auto& c : cases) {
        TDIB a;
        a.CreateNew(9, 4, c.fmt, 300, 150);
        FillRandom(a, 3);
        auto chunks = ParseChunks(SaveBytes(a));
        if (c.plte)
            ASSERT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "pHYs", "PLTE", "IDAT", "IEND"}));
        else
            ASSERT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}));
        EXPECT_EQ(chunks[0].Data, Ihdr(9, 4, c.depth, c.colorType, 0));
        Bytes phys;
        PutBE32(phys, uint32_t(a.Header->biXPelsPerMeter));
        PutBE32(phys, uint32_t(a.Header->biYPelsPerMeter));
        phys.push_back(1);
        EXPECT_EQ(chunks[1].Data, phys);
        EXPECT_EQ(BE32(phys.data()), 11811u);
        if (c.plte) {
            ASSERT_EQ(chunks[2].Data.size(), c.plte);
            for (size_t i = 0; i < c.plte / 3; ++i) {
                uint32_t e = a.GetPaletteEntry(int32_t(i));
                EXPECT_EQ(chunks[2].Data[3 * i], uint8_t(e >> 16));
                EXPECT_EQ(chunks[2].Data[3 * i + 1], uint8_t(e >> 8));
                EXPECT_EQ(chunks[2].Data[3 * i + 2], uint8_t(e));
            }
        }
    }
    // No resolution, no pHYs.
    TDIB z;
    z.CreateNew(2, 2, fmt8Bit, 0, 0);
    EXPECT_EQ(Types(ParseChunks(SaveBytes(z))), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
}

TEST(PngWrite, FilterChoiceRule) {
    // Rows of a 24-bit image (3 bytes per pixel), 12 pixels wide:
    //  0: a gradient: Sub turns it into runs of equal bytes (Sub);
    //  1: constant: None already has runs, every filter ties at best -> None (first);
    //  2: noise; 3: the same noise: only Up would make runs, and Up is not in the default set;
    //  4: noise with no run under any filter -> None (all counts 0).
    const int w = 12;
    TDIB a;
    a.CreateNew(w, 5, fmt24Bit, 0, 0);
    std::mt19937 rng(5);
    std::vector<uint8_t> noise(size_t(w * 3));
    for (auto& v : noise) v = uint8_t(rng());
    for (int x = 0; x < w * 3; ++x) {
        a.Rows[0][x] = uint8_t(x / 3 * 10);
        a.Rows[1][x] = 77;
        a.Rows[2][x] = noise[size_t(x)];
        a.Rows[3][x] = noise[size_t(x)];
        a.Rows[4][x] = uint8_t(rng());
    }
    auto filtersOf = [&](TFilters set) {
        TPNGImage png;
        png.SetSize(w, 5, fmt24Bit);
        for (int y = 0; y < 5; ++y) std::memcpy(png.Scanline(y), a.Rows[size_t(y)], size_t(w * 3));
        png.EncodeFilters = set;
        TMemoryStream m;
        png.SaveToStream(m);
        auto chunks = ParseChunks(m.Data());
        Bytes raw = Inflate(chunks[1].Data, size_t(5 * (1 + w * 3)));
        std::vector<int> f;
        for (int y = 0; y < 5; ++y) f.push_back(raw[size_t(y * (1 + w * 3))]);
        return f;
    };
    std::vector<int> def = filtersOf(FilterBit(pfNone) | FilterBit(pfSub) | FilterBit(pfAverage) | FilterBit(pfPaeth));
    EXPECT_EQ(def[0], pfSub);
    EXPECT_EQ(def[1], pfNone);
    EXPECT_NE(def[3], pfUp);
    EXPECT_EQ(def[4], pfNone);
    std::vector<int> withUp = filtersOf(0x1F);
    EXPECT_EQ(withUp[3], pfUp);
    // Only None; None is always included even when left out.
    EXPECT_EQ(filtersOf(FilterBit(pfNone)), (std::vector<int>(5, pfNone)));
    EXPECT_EQ(filtersOf(0), (std::vector<int>(5, pfNone)));
    // Default set as constructed.
    TPNGImage fresh;
    EXPECT_EQ(fresh.EncodeFilters, FilterBit(pfNone) | FilterBit(pfSub) | FilterBit(pfAverage) | FilterBit(pfPaeth));
}

TEST(PngWrite, LoadedChunksKeptOrDroppedByTheFourthLetter) {
    Samples s = {{10, 20, 30, 40, 50, 60}};
    Bytes gama;
    PutBE32(gama, 45455);
    Bytes phys;
    PutBE32(phys, 2835);
    PutBE32(phys, 2835);
    phys.push_back(1);
    Bytes file = MakePng(2, 1, 8, 2, true, RawImage(s, 2, 1, 8, 2, true),
                         {{"gAMA", gama}, {"pHYs", phys}, {"tEXt", {'k', 0, 'v'}}, {"quRv", {1}}, {"abCD", {2}},
                          {"tIME", {7, 234, 1, 2, 3, 4, 5}}, {"tRNS", {0, 1, 0, 2, 0, 3}}});
    TPNGImage png;
    TBufferStream in(file.data(), int64_t(file.size()));
    png.LoadFromStream(in);
    EXPECT_TRUE(png.Interlaced);
    EXPECT_TRUE(png.Transparent);
    TMemoryStream out;
    png.SaveToStream(out);
    EXPECT_FALSE(png.Interlaced);
    auto chunks = ParseChunks(out.Data());
    EXPECT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "gAMA", "pHYs", "abCD", "tIME", "tRNS", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[0].Data, Ihdr(2, 1, 8, 2, 0));
    EXPECT_EQ(chunks[5].Data, (Bytes{0, 1, 0, 2, 0, 3}));

    // Not transparent: tRNS removed.
    png.Transparent = false;
    TMemoryStream out2;
    png.SaveToStream(out2);
    for (auto& c : ParseChunks(out2.Data())) EXPECT_NE(c.Type, "tRNS");

    // The rewritten file reads back to the same pixels.
    TDIB a, b;
    TBufferStream s1(file.data(), int64_t(file.size()));
    a.LoadFromPngStream(s1);
    TBufferStream s2(out2.Data().data(), int64_t(out2.Size()));
    b.LoadFromPngStream(s2);
    ExpectSamePixels(a, b);
    EXPECT_EQ(b.XResolution(), 72);
}

TEST(PngWrite, TransparentPaletteImageGetsAlphaTable) {
    TPNGImage png;
    png.SetSize(3, 1, fmt4Bit);
    png.Palette = {{0, 0, 0}, {9, 8, 7}, {1, 2, 3}, {9, 8, 7}};
    png.Transparent = true;
    png.TransparentColor = 9 | (8 << 8) | (7 << 16);
    TMemoryStream m;
    png.SaveToStream(m);
    auto chunks = ParseChunks(m.Data());
    ASSERT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[2].Data, (Bytes{255, 0}));
    EXPECT_EQ(chunks[1].Data.size(), 48u);  // padded to 16 entries
}

TEST(PngWrite, GammaIsUndoneOnSaving) {
    // Loading applies the gAMA correction to RGB samples and palettes; saving the loaded
    // image with its gAMA chunk must give a file that loads to the same picture.
    Bytes gama;
    PutBE32(gama, 100000);
    Samples rgb = {{0, 64, 128, 255, 10, 200, 30, 31, 32}};
    Samples idx = {{0, 1, 2}};
    Bytes plte = {0, 64, 128, 255, 10, 200, 30, 31, 32};
    for (const Bytes& file : {MakePng(3, 1, 8, 2, false, RawImage(rgb, 3, 1, 8, 2, false), {{"gAMA", gama}}),
                              MakePng(3, 1, 8, 3, false, RawImage(idx, 3, 1, 8, 3, false), {{"gAMA", gama}, {"PLTE", plte}})}) {
        TPNGImage png;
        TBufferStream in(file.data(), int64_t(file.size()));
        png.LoadFromStream(in);
        TMemoryStream out;
        png.SaveToStream(out);
        TDIB a, b;
        TBufferStream s1(file.data(), int64_t(file.size()));
        a.LoadFromPngStream(s1);
        TBufferStream s2(out.Data().data(), int64_t(out.Size()));
        b.LoadFromPngStream(s2);
        for (int x = 0; x < 3; ++x) EXPECT_EQ(a.GetPixelColor(x, 0), b.GetPixelColor(x, 0)) << x;
    }
}

TEST(PngWrite, EmptyImageIsRefused) {
    TDIB empty;
    TMemoryStream m;
    EXPECT_THROW(empty.SaveToPngStream(m), Exception);
    EXPECT_EQ(m.Size(), 0);
    TPNGImage png;
    EXPECT_THROW(png.SaveToStream(m), EPNGImageException);
    EXPECT_THROW(png.SetSize(0, 5, fmt8Bit), EPNGImageException);
    EXPECT_THROW(png.SetSize(5, 5, fmt16Bit), EPNGImageException);
}

TEST(PngWrite, FileSaveIsAtomic) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("qil_png_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string name = (dir / "page.png").string();

    TDIB a;
    a.CreateNew(20, 10, fmt8Bit, 300, 300);
    FillRandom(a, 9);
    a.SaveToPngFile(name);
    TDIB b;
    {
        TFileStream f(name, fmOpenRead);
        b.LoadFromPngStream(f);
    }
    ExpectSamePixels(a, b);
    auto goodSize = fs::file_size(name);

    // A failing save leaves the good file as it was and no temporary file behind.
    TDIB empty;
    EXPECT_THROW(empty.SaveToPngFile(name), Exception);
    EXPECT_EQ(fs::file_size(name), goodSize);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // Overwriting replaces the file in one step.
    TDIB c;
    c.CreateNew(3, 3, fmt1Bit, 0, 0);
    c.SaveToPngFile(name);
    TDIB d;
    {
        TFileStream f(name, fmOpenRead);
        d.LoadFromPngStream(f);
    }
    ExpectSamePixels(c, d);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    EXPECT_THROW(a.SaveToPngFile((dir / "missing" / "x.png").string()), EFCreateError);
    fs::remove_all(dir);
}
