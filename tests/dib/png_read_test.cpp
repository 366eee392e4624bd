// Reading PNG files: every color type and depth, filters, Adam7, palettes, gamma, pHYs,
// chunk handling and every failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <typeinfo>
#include <memory>

#include "dib/dib.h"
#include "dib/png_codec.h"
#include "dib/png_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using namespace pngtest;

namespace {

uint32_t Color(uint32_t r, uint32_t g, uint32_t b) { return b | (g << 8) | (r << 16); }

// A deterministic pattern of samples below 2^depth.
Samples Pattern(int w, int h, int depth, int channels, uint32_t seed = 1) {
    Samples s(size_t(h), std::vector<uint32_t>(size_t(w * channels)));
    uint32_t max = depth == 16 ? 65535 : (1u << depth) - 1;
    uint32_t v = seed;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * channels; ++i) {
            v = v * 1103515245u + 12345u;
            // Runs of equal values as well as noise, so every filter has work to do.
            s[size_t(y)][size_t(i)] = ((i / 3 + y) % 4 == 0) ? max : (v >> 8) % (max + 1);
        }
    return s;
}

void LoadBytes(TDIB& dib, const Bytes& file) {
    TBufferStream s(file.data(), int64_t(file.size()));
    dib.LoadFromPngStream(s);
}

std::string FramedMessage(const char* text) {
    return std::string("Portable Network Graphics format handler error\r\n\r\n") + text;
}

// The message of the exception a load raises ("" when it succeeds).
std::string LoadError(const Bytes& file) {
    TDIB dib;
    try {
        LoadBytes(dib, file);
    } catch (const EPNGImageException& e) {
        EXPECT_EQ(dib.Handle, 0u);
        EXPECT_TRUE(dib.Rows.empty());
        return e.what();
    }
    return "";
}

Bytes Plte(int n) {
    Bytes p;
    for (int i = 0; i < n; ++i) {
        p.push_back(uint8_t(i * 7 + 1));
        p.push_back(uint8_t(255 - i * 3));
        p.push_back(uint8_t(i * 11));
    }
    return p;
}

}  // namespace

TEST(PngRead, EveryColorTypeAndDepthPixelForPixel) {
    struct Case {
        uint8_t colorType, depth, format;
    } cases[] = {
        {0, 1, fmt1Bit}, {0, 2, fmt4Bit}, {0, 4, fmt4Bit}, {0, 8, fmt8Bit}, {0, 16, fmt8Bit},
        {3, 1, fmt1Bit}, {3, 2, fmt4Bit}, {3, 4, fmt4Bit}, {3, 8, fmt8Bit},
        {4, 8, fmt8Bit}, {4, 16, fmt8Bit}, {2, 8, fmt24Bit}, {2, 16, fmt24Bit}, {6, 8, fmt24Bit}, {6, 16, fmt24Bit},
    };
    for (bool interlace : {false, true})
        for (const auto& c : cases)
            for (auto [w, h] : {std::pair{13, 11}, std::pair{1, 1}, std::pair{3, 9}, std::pair{33, 2}}) {
                SCOPED_TRACE(testing::Message() << "type " << int(c.colorType) << " depth " << int(c.depth) << " "
                                                << w << "x" << h << (interlace ? " interlaced" : ""));
                int ch = Channels(c.colorType);
                Samples s = Pattern(w, h, c.depth, ch, uint32_t(w * 31 + c.depth));
                std::vector<std::pair<std::string, Bytes>> extra;
                int entries = 1 << std::min<int>(c.depth, 8);
                if (c.colorType == 3) extra.push_back({"PLTE", Plte(entries)});
                TDIB dib;
                LoadBytes(dib, MakePng(w, h, c.depth, c.colorType, interlace, RawImage(s, w, h, c.depth, c.colorType, interlace), extra));
                ASSERT_EQ(dib.ImageFormat, c.format);
                ASSERT_EQ(dib.Width(), w);
                ASSERT_EQ(dib.Height(), h);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const auto& row = s[size_t(y)];
                        if (c.format == fmt24Bit) {
                            uint32_t r = row[size_t(x * ch)], g = row[size_t(x * ch + 1)], b = row[size_t(x * ch + 2)];
                            if (c.depth == 16) r >>= 8, g >>= 8, b >>= 8;
                            ASSERT_EQ(dib.GetPixelColor(x, y), Color(r, g, b)) << x << "," << y;
                            continue;
                        }
                        uint32_t v = row[size_t(x * ch)];
                        if (c.depth == 16) v >>= 8;
                        uint32_t stored = c.depth == 2 ? v * 5 : v;
                        ASSERT_EQ(uint32_t(dib.GetPixel(x, y)), stored) << x << "," << y;
                        uint32_t expected;
                        if (c.colorType == 3) {
                            Bytes p = Plte(entries);
                            expected = Color(p[3 * v], p[3 * v + 1], p[3 * v + 2]);
                        } else {
                            uint32_t g = c.depth == 16 ? v : v * 255 / ((1u << c.depth) - 1);
                            expected = Color(g, g, g);
                        }
                        ASSERT_EQ(dib.GetPixelColor(x, y), expected) << x << "," << y;
                    }
            }
}

TEST(PngRead, EveryFilterTypeOnEveryRowPosition) {
    // Each start shifts which filter each row gets; RGB8 (3 bytes per pixel) and gray 1-bit
    // (bytes per pixel rounded up to 1) cover both predictor distances.
    for (int start = 0; start < 5; ++start)
        for (auto [type, depth] : {std::pair{2, 8}, std::pair{0, 1}, std::pair{6, 16}}) {
            Samples s = Pattern(17, 10, depth, Channels(type), uint32_t(start + 7));
            TDIB dib;
            LoadBytes(dib, MakePng(17, 10, uint8_t(depth), uint8_t(type), false, RawImage(s, 17, 10, depth, type, false, start)));
            int ch = Channels(type);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 17; ++x) {
                    const auto& row = s[size_t(y)];
                    if (type == 0) {
                        ASSERT_EQ(uint32_t(dib.GetPixel(x, y)), row[size_t(x)]);
                    } else {
                        int sh = depth == 16 ? 8 : 0;
                        ASSERT_EQ(dib.GetPixelColor(x, y),
                                  Color(row[size_t(x * ch)] >> sh, row[size_t(x * ch + 1)] >> sh, row[size_t(x * ch + 2)] >> sh));
                    }
                }
        }
}

TEST(PngRead, TwoBitGrayHoldsFourGrayLevelsAsFourBitValues) {
    Samples s = {{0, 1, 2, 3}};
    TDIB dib;
    LoadBytes(dib, MakePng(4, 1, 2, 0, false, RawImage(s, 4, 1, 2, 0, false)));
    ASSERT_EQ(dib.ImageFormat, fmt4Bit);
    const uint32_t gray[4] = {0, 85, 170, 255};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(dib.GetPixel(x, 0), x * 5);
        EXPECT_EQ(dib.GetPixelColor(x, 0), Color(gray[x], gray[x], gray[x]));
    }
    // The 4-entry ramp repeated to 16 entries.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dib.GetPaletteEntry(i), Color(gray[i % 4], gray[i % 4], gray[i % 4]));
}

TEST(PngRead, TwoBitPaletteShorterThanFourEntriesKeepsItsColors) {
    // A 3-entry palette repeated to 16 would put entry 2 at index 5 and entry 1 at index 10;
    // entry v must sit at index 5 v.
    Samples s = {{0, 1, 2, 1}};
    TDIB dib;
    LoadBytes(dib, MakePng(4, 1, 2, 3, false, RawImage(s, 4, 1, 2, 3, false), {{"PLTE", Plte(3)}}));
    Bytes p = Plte(3);
    for (int x = 0; x < 4; ++x) {
        uint32_t v = s[0][size_t(x)];
        EXPECT_EQ(dib.GetPixelColor(x, 0), Color(p[3 * v], p[3 * v + 1], p[3 * v + 2])) << x;
    }
}

TEST(PngRead, PaletteCopiedUpToItsLength) {
    Samples s = {{0, 1, 2}};
    TDIB dib;
    LoadBytes(dib, MakePng(3, 1, 8, 3, false, RawImage(s, 3, 1, 8, 3, false), {{"PLTE", Plte(3)}}));
    Bytes p = Plte(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dib.GetPaletteEntry(i), Color(p[3 * i], p[3 * i + 1], p[3 * i + 2]));
    // Entries past the file's palette keep the blank image's table.
    TDIB blank;
    blank.CreateNew(1, 1, fmt8Bit, 0, 0);
    for (int i = 3; i < 256; ++i) EXPECT_EQ(dib.GetPaletteEntry(i), blank.GetPaletteEntry(i));
}

TEST(PngRead, SixteenBitRgbKeepsHighBytes) {
    Samples s = {{0x1234, 0xABCD, 0xFF01, 0x00FF, 0x8000, 0x7FFF}};
    TDIB dib;
    LoadBytes(dib, MakePng(2, 1, 16, 2, false, RawImage(s, 2, 1, 16, 2, false)));
    ASSERT_EQ(dib.ImageFormat, fmt24Bit);
    EXPECT_EQ(dib.GetPixel(0, 0), int32_t(0x12 | (0xAB << 8) | (0xFF << 16)));
    EXPECT_EQ(dib.GetPixel(1, 0), int32_t(0x00 | (0x80 << 8) | (0x7F << 16)));
}

TEST(PngRead, GammaCorrectsRgbSamplesAndPalettes) {
    // g = 100000 (linear): exponent 1 / 2.2.
    Bytes gama;
    PutBE32(gama, 100000);
    auto expect = [](uint32_t v) {
        return uint32_t(std::llrint(255.0L * std::pow((long double)v / 255.0L, 1.0L / (2.2L * 100000 / 100000.0L))));
    };
    Samples rgb = {{0, 64, 128, 255, 10, 200}};
    TDIB a;
    LoadBytes(a, MakePng(2, 1, 8, 2, false, RawImage(rgb, 2, 1, 8, 2, false), {{"gAMA", gama}}));
    EXPECT_EQ(a.GetPixelColor(0, 0), Color(expect(0), expect(64), expect(128)));
    EXPECT_EQ(a.GetPixelColor(1, 0), Color(expect(255), expect(10), expect(200)));

    Samples gray = {{0, 1, 2, 3}};
    TDIB b;
    LoadBytes(b, MakePng(4, 1, 2, 0, false, RawImage(gray, 4, 1, 2, 0, false), {{"gAMA", gama}}));
    EXPECT_EQ(b.GetPixelColor(1, 0), Color(expect(85), expect(85), expect(85)));

    // 45455 is the usual sRGB-like value: 2.2 x 0.45455 is about 1, the table stays identity.
    Bytes srgb;
    PutBE32(srgb, 45455);
    TDIB c;
    LoadBytes(c, MakePng(2, 1, 8, 2, false, RawImage(rgb, 2, 1, 8, 2, false), {{"gAMA", srgb}}));
    EXPECT_EQ(c.GetPixelColor(0, 0), Color(0, 64, 128));

    // A zero gamma is no gamma: pixels as stored.
    Bytes zero;
    PutBE32(zero, 0);
    TDIB d;
    LoadBytes(d, MakePng(2, 1, 8, 2, false, RawImage(rgb, 2, 1, 8, 2, false), {{"gAMA", zero}}));
    EXPECT_EQ(d.GetPixelColor(0, 0), Color(0, 64, 128));
}

TEST(PngRead, InverseGammaTableCoversEveryValue) {
    TPNGImage png;
    png.BuildGammaTables(100000);
    // Values the forward table reaches map back to the largest v reaching them; every other
    // value maps to the v whose corrected value is nearest (never to 0 by default).
    for (int w = 0; w < 256; ++w) {
        int best = 256;
        for (int v = 0; v < 256; ++v) best = std::min(best, std::abs(int(png.GammaTable[size_t(v)]) - w));
        EXPECT_EQ(std::abs(int(png.GammaTable[png.InverseGammaTable[size_t(w)]]) - w), best) << w;
    }
    EXPECT_EQ(png.InverseGammaTable[255], 255);
    EXPECT_GT(png.InverseGammaTable[200], 100);
    for (int w = 1; w < 256; ++w) EXPECT_GE(png.InverseGammaTable[size_t(w)], png.InverseGammaTable[size_t(w - 1)]);
}

TEST(PngRead, ResolutionFromPhys) {
    struct Case {
        uint32_t ppuX, ppuY;
        uint8_t unit;
        int32_t dpiX, dpiY;
    } cases[] = {{2835, 2835, 1, 72, 72}, {11811, 3780, 1, 300, 96}, {11811, 11811, 0, 300, 300}, {0, 0, 1, 0, 0},
                 {0xFFFFFFFFu, 100, 1, 65535, 3}};
    for (const auto& c : cases) {
        Bytes phys;
        PutBE32(phys, c.ppuX);
        PutBE32(phys, c.ppuY);
        phys.push_back(c.unit);
        Samples s = {{1}};
        TDIB dib;
        LoadBytes(dib, MakePng(1, 1, 8, 0, false, RawImage(s, 1, 1, 8, 0, false), {{"pHYs", phys}}));
        EXPECT_EQ(dib.XResolution(), c.dpiX) << c.ppuX;
        EXPECT_EQ(dib.YResolution(), c.dpiY) << c.ppuY;
    }
    Samples s = {{1}};
    TDIB none;
    LoadBytes(none, MakePng(1, 1, 8, 0, false, RawImage(s, 1, 1, 8, 0, false)));
    EXPECT_EQ(none.XResolution(), 0);
    EXPECT_EQ(none.YResolution(), 0);
}

TEST(PngRead, ChunkHandlingEdgeCases) {
    Samples s = Pattern(9, 7, 8, 3);
    Bytes raw = RawImage(s, 9, 7, 8, 2, false);
    Bytes z = Compress(raw);

    // No IEND: the file ends after a complete chunk.
    Bytes noEnd = Signature();
    AddChunk(noEnd, "IHDR", Ihdr(9, 7, 8, 2));
    AddChunk(noEnd, "IDAT", z);
    TDIB a;
    LoadBytes(a, noEnd);
    EXPECT_EQ(a.GetPixelColor(8, 6), Color(s[6][24], s[6][25], s[6][26]));

    // The data split over three IDAT chunks (with an ancillary chunk before them), and
    // garbage after IEND.
    Bytes split = Signature();
    AddChunk(split, "IHDR", Ihdr(9, 7, 8, 2));
    AddChunk(split, "quRv", {1, 2, 3});
    size_t third = z.size() / 3;
    AddChunk(split, "IDAT", Bytes(z.begin(), z.begin() + ptrdiff_t(third)));
    AddChunk(split, "IDAT", Bytes(z.begin() + ptrdiff_t(third), z.begin() + ptrdiff_t(2 * third)));
    AddChunk(split, "IDAT", Bytes(z.begin() + ptrdiff_t(2 * third), z.end()));
    AddChunk(split, "IEND", {});
    split.push_back(0x42);
    TBufferStream st(split.data(), int64_t(split.size()));
    TPNGImage png;
    png.LoadFromStream(st);
    ASSERT_EQ(png.Chunks.Count(), 4);
    EXPECT_EQ(png.Chunks[0]->ChunkType(), "IHDR");
    EXPECT_EQ(png.Chunks[1]->ChunkType(), "quRv");
    EXPECT_EQ(typeid(*png.Chunks[1]), typeid(TChunk));
    EXPECT_EQ(png.Chunks[1]->DataSize(), 3);
    EXPECT_EQ(png.Chunks[2]->ChunkType(), "IDAT");
    EXPECT_EQ(png.Chunks[2]->DataSize(), int64_t(z.size()));
    EXPECT_NE(dynamic_cast<TChunkIDAT*>(png.Chunks[2]), nullptr);
    EXPECT_EQ(png.Chunks[3]->ChunkType(), "IEND");
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint8_t* p = png.Scanline(y) + 3 * x;
            ASSERT_EQ(p[2], s[size_t(y)][size_t(3 * x)]);
            ASSERT_EQ(p[1], s[size_t(y)][size_t(3 * x + 1)]);
            ASSERT_EQ(p[0], s[size_t(y)][size_t(3 * x + 2)]);
        }
}

TEST(PngRead, TransparentColorOfRgbImages) {
    Samples s = {{1, 2, 3}};
    TPNGImage png;
    Bytes file = MakePng(1, 1, 8, 2, false, RawImage(s, 1, 1, 8, 2, false), {{"tRNS", {0, 10, 0, 20, 0, 30}}});
    TBufferStream st(file.data(), int64_t(file.size()));
    png.LoadFromStream(st);
    EXPECT_TRUE(png.Transparent);
    EXPECT_EQ(png.TransparentColor, 10u | (20u << 8) | (30u << 16));

    // A palette image's tRNS is only held.
    Bytes pal = MakePng(1, 1, 8, 3, false, RawImage(s, 1, 1, 8, 0, false), {{"PLTE", Plte(2)}, {"tRNS", {0}}});
    TBufferStream sp(pal.data(), int64_t(pal.size()));
    png.LoadFromStream(sp);
    EXPECT_FALSE(png.Transparent);
    EXPECT_NE(png.Chunks.Find("tRNS"), nullptr);
}

TEST(PngRead, ProgressAfterEachRowOrPass) {
    Samples s = Pattern(5, 4, 8, 1);
    for (bool interlace : {false, true}) {
        Bytes file = MakePng(5, 4, 8, 0, interlace, RawImage(s, 5, 4, 8, 0, interlace));
        TPNGImage png;
        std::vector<int32_t> seen;
        png.OnProgress = [&](TPNGImage&, const std::string& stage, int32_t percent) {
            EXPECT_EQ(stage, "Drawing...");
            seen.push_back(percent);
        };
        TBufferStream st(file.data(), int64_t(file.size()));
        png.LoadFromStream(st);
        if (interlace)
            EXPECT_EQ(seen, (std::vector<int32_t>{14, 28, 42, 57, 71, 85, 100}));
        else
            EXPECT_EQ(seen, (std::vector<int32_t>{25, 50, 75, 100}));
    }
}

TEST(PngRead, EveryFailureHasItsMessage) {
    Samples s = Pattern(4, 3, 8, 1);
    Bytes raw = RawImage(s, 4, 3, 8, 0, false);
    Bytes good = MakePng(4, 3, 8, 0, false, raw);
    ASSERT_EQ(LoadError(good), "");

    auto withIhdr = [&](Bytes ihdr, const Bytes& r, std::vector<std::pair<std::string, Bytes>> extra = {}) {
        Bytes f = Signature();
        AddChunk(f, "IHDR", ihdr);
        for (auto& [t, d] : extra) AddChunk(f, t, d);
        AddChunk(f, "IDAT", Compress(r));
        AddChunk(f, "IEND", {});
        return f;
    };
    Bytes badSig = good;
    badSig[1] = 'Q';
    Bytes badCrc = good;
    badCrc[8 + 8 + 13] ^= 1;  // the IHDR CRC
    Bytes critical = Signature();
    AddChunk(critical, "IHDR", Ihdr(4, 3, 8, 0));
    AddChunk(critical, "QUAK", {1});
    AddChunk(critical, "IDAT", Compress(raw));
    Bytes notFirst = Signature();
    AddChunk(notFirst, "gAMA", {0, 0, 0, 1});
    AddChunk(notFirst, "IHDR", Ihdr(4, 3, 8, 0));
    AddChunk(notFirst, "IDAT", Compress(raw));
    Bytes noData = Signature();
    AddChunk(noData, "IHDR", Ihdr(4, 3, 8, 0));
    AddChunk(noData, "IEND", {});
    Bytes badFilter = raw;
    badFilter[5] = 5;  // filter byte of row 1
    Bytes truncatedChunk(good.begin(), good.end() - 20);
    Bytes shortData(raw.begin(), raw.end() - 1);
    Bytes garbageZ = Signature();
    AddChunk(garbageZ, "IHDR", Ihdr(4, 3, 8, 0));
    AddChunk(garbageZ, "IDAT", {1, 2, 3, 4, 5, 6, 7, 8});
    Bytes hugeLength = Signature();
    AddChunk(hugeLength, "IHDR", Ihdr(4, 3, 8, 0));
    PutBE32(hugeLength, 0x7FFFFFF0u);
    hugeLength.insert(hugeLength.end(), {'I', 'D', 'A', 'T', 0, 0});
    Bytes overLimit = hugeLength;
    overLimit[8 + 25] = 0x80;
    Bytes badType = Signature();
    AddChunk(badType, "IHDR", Ihdr(4, 3, 8, 0));
    AddChunk(badType, "a1b2", {});
    AddChunk(badType, "IDAT", Compress(raw));
    Bytes shortIhdr = Signature();
    AddChunk(shortIhdr, "IHDR", Bytes(12, 1));
    AddChunk(shortIhdr, "IDAT", Compress(raw));
    Bytes ihdrCompression = Ihdr(4, 3, 8, 0);
    ihdrCompression[10] = 1;
    Bytes ihdrFilter = Ihdr(4, 3, 8, 0);
    ihdrFilter[11] = 1;
    // A header promising 60000 x 60000 RGBA pixels over a few bytes of data: refused before
    // anything is allocated.
    Bytes bomb = withIhdr(Ihdr(60000, 60000, 8, 6), Bytes(100, 0));
    Bytes wide = withIhdr(Ihdr(0x7FFFFFFF, 1, 16, 6), Bytes(100, 0));
    Bytes physShort = withIhdr(Ihdr(4, 3, 8, 0), raw, {{"pHYs", Bytes(8, 0)}});

    struct Case {
        const char* name;
        Bytes file;
        const char* text;
    } cases[] = {
        {"signature", badSig, EPngInvalidHeader},
        {"too short for a signature", Bytes{0x89, 'P'}, EPngInvalidHeader},
        {"crc", badCrc, EPngCorrupted},
        {"unknown critical chunk", critical, EPngUnknownCritical},
        {"IHDR not first", notFirst, EPngIHDRNotFirst},
        {"no chunks", Signature(), EPngIHDRNotFirst},
        {"no IDAT", noData, EPngNoImageData},
        {"color type 5", withIhdr(Ihdr(4, 3, 8, 5), raw), EPngUnknownColorType},
        {"color type 1", withIhdr(Ihdr(4, 3, 8, 1), raw), EPngUnknownColorType},
        {"palette size", withIhdr(Ihdr(4, 3, 8, 3), raw, {{"PLTE", Bytes(7, 0)}}), EPngInvalidPalette},
        {"empty palette", withIhdr(Ihdr(4, 3, 8, 3), raw, {{"PLTE", {}}}), EPngInvalidPalette},
        {"palette of 257 entries", withIhdr(Ihdr(4, 3, 8, 3), raw, {{"PLTE", Bytes(771, 0)}}), EPngInvalidPalette},
        {"palette missing", withIhdr(Ihdr(4, 3, 8, 3), raw), EPngPaletteMissing},
        {"filter type 5", withIhdr(Ihdr(4, 3, 8, 0), badFilter), EPngUnknownFilter},
        {"filter method 1", withIhdr(ihdrFilter, raw), EPngUnknownFilter},
        {"interlace 2", withIhdr(Ihdr(4, 3, 8, 0, 2), raw), EPngUnknownInterlace},
        {"truncated chunk", truncatedChunk, EPngCorrupted},
        {"image data one byte short", withIhdr(Ihdr(4, 3, 8, 0), shortData), EPngCorrupted},
        {"not zlib data", garbageZ, EPngCorrupted},
        {"chunk length beyond the file", hugeLength, EPngCorrupted},
        {"chunk length above 2^31 - 1", overLimit, EPngCorrupted},
        {"chunk type not letters", badType, EPngCorrupted},
        {"IHDR of 12 bytes", shortIhdr, EPngInvalidIHDR},
        {"width 0", withIhdr(Ihdr(0, 3, 8, 0), raw), EPngInvalidSize},
        {"height above 2^31 - 1", withIhdr(Ihdr(4, 0x80000000u, 8, 0), raw), EPngInvalidSize},
        {"gray depth 3", withIhdr(Ihdr(4, 3, 3, 0), raw), EPngInvalidBitDepth},
        {"rgb depth 4", withIhdr(Ihdr(4, 3, 4, 2), raw), EPngInvalidBitDepth},
        {"palette depth 16", withIhdr(Ihdr(4, 3, 16, 3), raw, {{"PLTE", Plte(2)}}), EPngInvalidBitDepth},
        {"compression method 1", withIhdr(ihdrCompression, raw), EPngUnknownCompression},
        {"decompression bomb", bomb, EPngCorrupted},
        {"row wider than any bitmap", wide, EPngTooLarge},
        {"pHYs of 8 bytes", physShort, EPngPhysCorrupted},
    };
    for (const auto& c : cases) EXPECT_EQ(LoadError(c.file), FramedMessage(c.text)) << c.name;
}

TEST(PngRead, FailedLoadEmptiesTheImage) {
    TDIB dib;
    dib.CreateNew(5, 5, fmt8Bit, 72, 72);
    Bytes bad = Signature();
    EXPECT_THROW(LoadBytes(dib, bad), EPNGImageException);
    EXPECT_EQ(dib.Handle, 0u);
    EXPECT_EQ(dib.Header, nullptr);
}

TEST(PngChunks, ListAndRegistry) {
    TPNGImage png;
    TChunk* a = png.Chunks.Add("gAMA");
    EXPECT_NE(dynamic_cast<TChunkGAMA*>(a), nullptr);
    EXPECT_EQ(static_cast<TChunkGAMA*>(a)->Gamma(), 1u);
    auto* phys = dynamic_cast<TChunkPHYS*>(png.Chunks.Add("pHYs"));
    ASSERT_NE(phys, nullptr);
    int32_t x = 0, y = 0;
    phys->GetResolution(x, y);
    EXPECT_EQ(x, 96);
    EXPECT_EQ(y, 96);
    EXPECT_EQ(phys->UnitType(), 1);
    EXPECT_EQ(png.Chunks.Add("tEXt")->DataSize(), 2);
    TChunk* time = png.Chunks.Add("tIME");
    EXPECT_EQ(time->DataSize(), 7);
    EXPECT_GE((time->DataBytes()[0] << 8) | time->DataBytes()[1], 2024);
    EXPECT_EQ(typeid(*png.Chunks.Add("abcD")), typeid(TChunk));

    auto msg = [](auto fn) {
        try {
            fn();
        } catch (const EPNGImageException& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(msg([&] { png.Chunks.Item(5); }), FramedMessage(EPngChunkIndex));
    EXPECT_EQ(msg([&] { png.Chunks.Item(-1); }), FramedMessage(EPngChunkIndex));
    TPNGImage other;
    TChunk* foreign = other.Chunks.Add("IEND");
    EXPECT_EQ(msg([&] { png.Chunks.Remove(foreign); }), FramedMessage(EPngChunkNotInList));
    EXPECT_EQ(msg([&] { TChunkClasses::Item(TChunkClasses::Count()); }), FramedMessage(EPngChunkClassIndex));
    EXPECT_EQ(msg([&] { TChunkClasses::Item(-1); }), FramedMessage(EPngChunkClassIndex));

    const char* registered[] = {"IEND", "IHDR", "gAMA", "IDAT", "PLTE", "tEXt", "tRNS", "tIME", "pHYs"};
    for (const char* t : registered) EXPECT_GE(TChunkClasses::IndexOf(t), 0) << t;
    EXPECT_EQ(TChunkClasses::IndexOf("zzzz"), -1);

    TChunk copy(png, "xxxx");
    copy.Assign(*a);
    EXPECT_EQ(copy.ChunkType(), "gAMA");
    EXPECT_EQ(copy.DataSize(), 4);
    png.Chunks.Remove(a);
    EXPECT_EQ(png.Chunks.Find("gAMA"), nullptr);
}

TEST(PngChunks, CrcMatchesThePublishedCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(~UpdatePngCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
    // The IEND chunk's well-known CRC.
    EXPECT_EQ(PngChunkCrc("IEND", nullptr, 0), 0xAE426082u);
}

TEST(PngRead, MutatedFilesFailCleanly) {
    // Random byte changes inside chunks, with the CRC made right again so the damage reaches
    // the decoder: every load either succeeds or raises EPNGImageException.
    Samples s = Pattern(11, 9, 8, 3);
    Bytes plte = Plte(16);
    std::vector<Bytes> seeds = {
        MakePng(11, 9, 8, 2, true, RawImage(s, 11, 9, 8, 2, true)),
        MakePng(11, 9, 4, 3, false, RawImage(Pattern(11, 9, 4, 1), 11, 9, 4, 3, false), {{"PLTE", plte}}),
        MakePng(11, 9, 16, 4, true, RawImage(Pattern(11, 9, 16, 2), 11, 9, 16, 4, true)),
    };
    uint32_t rng = 12345;
    auto next = [&rng] { return rng = rng * 1664525u + 1013904223u; };
    int failures = 0, successes = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        Bytes f = seeds[size_t(iter) % seeds.size()];
        // Pick a chunk, change 1-3 bytes of its length, type-free data, then fix its CRC.
        std::vector<size_t> starts;
        for (size_t p = 8; p + 12 <= f.size();) {
            starts.push_back(p);
            p += 12 + ((size_t(f[p]) << 24) | (size_t(f[p + 1]) << 16) | (size_t(f[p + 2]) << 8) | f[p + 3]);
        }
        size_t c = starts[next() % starts.size()];
        uint32_t len = (uint32_t(f[c]) << 24) | (f[c + 1] << 16) | (f[c + 2] << 8) | f[c + 3];
        int edits = 1 + int(next() % 3);
        for (int e = 0; e < edits; ++e) {
            if (len > 0 && next() % 8 != 0)
                f[c + 8 + next() % len] = uint8_t(next() >> 24);
            else
                f[c + 3 - next() % 2] = uint8_t(next() >> 24);  // the length itself
        }
        uint32_t newLen = (uint32_t(f[c]) << 24) | (f[c + 1] << 16) | (f[c + 2] << 8) | f[c + 3];
        if (newLen == len) {
            uint32_t crc = uint32_t(crc32(0, &f[c + 4], len + 4));
            f[c + 8 + len] = uint8_t(crc >> 24);
            f[c + 9 + len] = uint8_t(crc >> 16);
            f[c + 10 + len] = uint8_t(crc >> 8);
            f[c + 11 + len] = uint8_t(crc);
        }
        if (next() % 4 == 0) f.resize(next() % f.size());
        TDIB dib;
        try {
            LoadBytes(dib, f);
            ++successes;
            ASSERT_GT(dib.Width(), 0);
        } catch (const EPNGImageException&) {
            ++failures;
            ASSERT_EQ(dib.Handle, 0u);
        }
    }
    EXPECT_GT(failures, 100);
    EXPECT_GT(successes, 10);
}
