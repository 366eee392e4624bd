// Writes the seed corpus of every fuzz target: small files made by the library's own writers
// in each pixel format and compression, and hand-made files for the paths the writers never
// take (other header versions, tiled and planar TIFF pages, interlaced PNG images, directory
// loops, chunk floods, progressive JPEG files, every annotation record).
//
//   qil-fuzz-seeds DIRECTORY     writes DIRECTORY/<target>/<name>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "annotations/annotation_writer.h"
#include "dib/dib.h"
#include "dib/image_file.h"
#include "dib/png_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using Bytes = std::vector<uint8_t>;

namespace {

std::filesystem::path root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(root / target);
    std::ofstream f(root / target / name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Saved(const std::function<void(TStream&)>& save) {
    TMemoryStream m;
    save(m);
    return m.Data();
}

// A small deterministic picture: bands, a frame and a few dots, so that every compressor
// has runs and edges to work on.
void Draw(TDIB& d, int32_t w, int32_t h, uint8_t format) {
    d.CreateNew(w, h, format, 300, 200);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t v = (x * 9 + y * 17 + (x * y) / 3) & 255;
            bool frame = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            switch (format) {
                case fmt1Bit: d.SetPixel(x, y, frame || (x + 2 * y) % 7 < 3 ? 0 : 1); break;
                case fmt4Bit: d.SetPixel(x, y, frame ? 0 : v & 15); break;
                case fmt8Bit: d.SetPixel(x, y, frame ? 0 : v); break;
                default: d.SetPixel(x, y, frame ? 0 : v | ((x * 11) & 255) << 8 | ((y * 23 + 40) & 255) << 16); break;
            }
        }
}

const uint8_t kFormats[] = {fmt1Bit, fmt4Bit, fmt8Bit, fmt24Bit};
const char* FormatName(uint8_t f) { return f == fmt1Bit ? "1" : f == fmt4Bit ? "4" : f == fmt8Bit ? "8" : "24"; }

void Put32LE(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void Put16LE(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
uint32_t Get32LE(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Get16LE(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// ---- Bitmap ----

void BitmapSeeds() {
    for (uint8_t f : kFormats) {
        TDIB d;
        Draw(d, 19, 7, f);
        Write("bitmap", std::string("plain-") + FormatName(f) + ".bmp", Saved([&](TStream& s) { d.SaveToBitmapStream(s); }));
    }
    TDIB d;
    Draw(d, 13, 5, fmt8Bit);
    const Bytes plain = Saved([&](TStream& s) { d.SaveToBitmapStream(s); });
    // Top-down rows.
    Bytes topDown = plain;
    Put32LE(topDown, 22, uint32_t(-5));
    Write("bitmap", "top-down-8.bmp", topDown);
    // A color table of 3 entries, the pixels right after it.
    {
        Bytes shortTable(plain.begin(), plain.begin() + 54);
        Put32LE(shortTable, 46, 3);
        for (int i = 0; i < 3; ++i) shortTable.insert(shortTable.end(), {uint8_t(i * 80), 10, 200, 0});
        Put32LE(shortTable, 10, uint32_t(shortTable.size()));
        const size_t rows = size_t(5) * 16;
        for (size_t i = 0; i < rows; ++i) shortTable.push_back(uint8_t(i % 3));
        Put32LE(shortTable, 2, uint32_t(shortTable.size()));
        Write("bitmap", "short-table-8.bmp", shortTable);
    }
    // A 124-byte (version 5) info header: 84 more bytes before the table.
    {
        Bytes v5(plain.begin(), plain.begin() + 54);
        Put32LE(v5, 14, 124);
        v5.insert(v5.end(), 84, 0);
        v5.insert(v5.end(), plain.begin() + 54, plain.end());
        Put32LE(v5, 10, Get32LE(plain, 10) + 84);
        Put32LE(v5, 2, uint32_t(v5.size()));
        Write("bitmap", "v5-header-8.bmp", v5);
    }
    // Pixel offset 0 (taken as right after the table), and a file cut inside its rows.
    Bytes zeroOffset = plain;
    Put32LE(zeroOffset, 10, 0);
    Write("bitmap", "zero-offset-8.bmp", zeroOffset);
    Write("bitmap", "cut-8.bmp", Bytes(plain.begin(), plain.end() - 20));
    // Refused variants: run-length compression, 16 bits per pixel, a 12-byte OS/2 header.
    Bytes rle = plain;
    Put32LE(rle, 30, 1);
    Write("bitmap", "rle8.bmp", rle);
    Bytes bits16 = plain;
    Put16LE(bits16, 28, 16);
    Write("bitmap", "16-bit.bmp", bits16);
    Bytes os2 = plain;
    Put32LE(os2, 14, 12);
    Write("bitmap", "os2-header.bmp", os2);
}

// ---- TIFF ----

// Offsets of the directories of a little-endian classic TIFF file, in chain order.
std::vector<uint32_t> Directories(const Bytes& b) {
    std::vector<uint32_t> out;
    for (uint32_t off = Get32LE(b, 4); off != 0 && off + 2 <= b.size() && out.size() < 16;) {
        out.push_back(off);
        uint32_t n = Get16LE(b, off);
        off = Get32LE(b, off + 2 + 12 * n);
    }
    return out;
}

// A page written straight through libtiff, for the layouts the library never writes.
Bytes LibtiffPage(const std::function<void(TIFF*)>& write) {
    TMemoryStream m;
    std::string name = (root / "tmp.tif").string();
    TIFF* tif = TIFFOpen(name.c_str(), "w");
    write(tif);
    TIFFClose(tif);
    m.LoadFromFile(name);
    std::filesystem::remove(name);
    return m.Data();
}

void TiffSeeds() {
    struct Choice {
        uint8_t format;
        TTiffCompression compression;
        const char* name;
    } choices[] = {
        {fmt1Bit, tcNone, "1-none"},       {fmt1Bit, tcPackBits, "1-packbits"}, {fmt1Bit, tcGroup3, "1-g3"},
        {fmt1Bit, tcGroup3TwoD, "1-g3-2d"}, {fmt1Bit, tcGroup4, "1-g4"},         {fmt1Bit, tcDeflate, "1-deflate"},
        {fmt1Bit, tcLzw, "1-lzw"},         {fmt4Bit, tcNone, "4-none"},         {fmt4Bit, tcPackBits, "4-packbits"},
        {fmt4Bit, tcLzw, "4-lzw"},         {fmt8Bit, tcNone, "8-none"},         {fmt8Bit, tcJpeg, "8-jpeg"},
        {fmt8Bit, tcDeflate, "8-deflate"}, {fmt24Bit, tcNone, "24-none"},       {fmt24Bit, tcJpeg, "24-jpeg"},
        {fmt24Bit, tcLzw, "24-lzw"},
    };
    for (const Choice& c : choices) {
        TDIB d;
        Draw(d, 21, 11, c.format);
        Write("tiff", std::string(c.name) + ".tif",
              Saved([&](TStream& s) { d.SaveToTiffStream(s, false, c.compression, 4); }));
    }
    // Three pages of three formats.
    TMemoryStream pages;
    for (uint8_t f : {fmt1Bit, fmt8Bit, fmt24Bit}) {
        TDIB d;
        Draw(d, 9 + f, 6, f);
        d.SaveToTiffStream(pages, pages.Size() > 0, f == fmt24Bit ? tcDeflate : tcAuto, 3);
    }
    const Bytes threePages = pages.Data();
    Write("tiff", "three-pages.tif", threePages);
    // Directory loops: the last page points back to the first, and a page points to itself.
    {
        std::vector<uint32_t> dirs = Directories(threePages);
        Bytes loop = threePages;
        uint32_t last = dirs.back();
        Put32LE(loop, last + 2 + 12 * Get16LE(loop, last), dirs.front());
        Write("tiff", "loop-to-first.tif", loop);
        Bytes self = threePages;
        uint32_t first = dirs.front();
        Put32LE(self, first + 2 + 12 * Get16LE(self, first), first);
        Write("tiff", "loop-to-itself.tif", self);
    }
    // Layouts only other writers make.
    auto common = [](TIFF* tif, uint32_t w, uint32_t h, uint16_t bps, uint16_t spp, uint16_t photometric) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 118.11f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 118.11f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    };
    Write("tiff", "tiled-8.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 40, 20, 8, 1, PHOTOMETRIC_MINISBLACK);
              TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
              TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
              std::vector<uint8_t> tile(256);
              for (uint32_t y = 0; y < 20; y += 16)
                  for (uint32_t x = 0; x < 40; x += 16) {
                      for (size_t i = 0; i < tile.size(); ++i) tile[i] = uint8_t(i + x + y);
                      TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
                  }
          }));
    Write("tiff", "planar-rgb.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 12, 5, 8, 3, PHOTOMETRIC_RGB);
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
              std::vector<uint8_t> row(12);
              for (uint16_t s = 0; s < 3; ++s)
                  for (uint32_t y = 0; y < 5; ++y) {
                      for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * 20 + y * 7 + s * 50);
                      TIFFWriteScanline(tif, row.data(), y, s);
                  }
          }));
    for (uint16_t bps : {uint16_t(4), uint16_t(8)}) {
        Write("tiff", "palette-" + std::to_string(bps) + ".tif", LibtiffPage([&](TIFF* tif) {
                  common(tif, 10, 4, bps, 1, PHOTOMETRIC_PALETTE);
                  std::vector<uint16_t> r(size_t(1) << bps), g(r.size()), b(r.size());
                  for (size_t i = 0; i < r.size(); ++i) {
                      r[i] = uint16_t(i * 257 * 3);
                      g[i] = uint16_t(65535 - i * 100);
                      b[i] = uint16_t(i * i);
                  }
                  TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
                  std::vector<uint8_t> row(size_t(10 * bps / 8));
                  for (uint32_t y = 0; y < 4; ++y) {
                      for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * 37 + y);
                      TIFFWriteScanline(tif, row.data(), y, 0);
                  }
              }));
    }
    Write("tiff", "gray-16.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 7, 3, 16, 1, PHOTOMETRIC_MINISBLACK);
              std::vector<uint16_t> row(7);
              for (uint32_t y = 0; y < 3; ++y) {
                  for (size_t x = 0; x < row.size(); ++x) row[x] = uint16_t(x * 9000 + y);
                  TIFFWriteScanline(tif, row.data(), y, 0);
              }
          }));
    Write("tiff", "miniswhite-8.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 9, 4, 8, 1, PHOTOMETRIC_MINISWHITE);
              std::vector<uint8_t> row(9);
              for (uint32_t y = 0; y < 4; ++y) {
                  for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * 28 + y);
                  TIFFWriteScanline(tif, row.data(), y, 0);
              }
          }));
    Write("tiff", "cmyk.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 6, 3, 8, 4, PHOTOMETRIC_SEPARATED);
              std::vector<uint8_t> row(24);
              for (uint32_t y = 0; y < 3; ++y) {
                  for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * 10 + y * 3);
                  TIFFWriteScanline(tif, row.data(), y, 0);
              }
          }));
    Write("tiff", "rgba-4-samples.tif", LibtiffPage([&](TIFF* tif) {
              common(tif, 6, 3, 8, 4, PHOTOMETRIC_RGB);
              uint16_t extra = EXTRASAMPLE_UNASSALPHA;
              TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
              std::vector<uint8_t> row(24);
              for (uint32_t y = 0; y < 3; ++y) {
                  for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t(x * 10 + y * 3);
                  TIFFWriteScanline(tif, row.data(), y, 0);
              }
          }));
    Write("tiff", "big-endian-8.tif", [] {
        TMemoryStream m;
        std::string name = (root / "tmp-be.tif").string();
        TIFF* tif = TIFFOpen(name.c_str(), "wb");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 5u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
        uint8_t row[5] = {1, 2, 3, 4, 5};
        for (uint32_t y = 0; y < 3; ++y) TIFFWriteScanline(tif, row, y, 0);
        TIFFClose(tif);
        m.LoadFromFile(name);
        std::filesystem::remove(name);
        return m.Data();
    }());
}

// ---- PNG ----

void PngSeeds() {
    for (uint8_t f : kFormats) {
        TDIB d;
        Draw(d, 17, 6, f);
        Write("png", std::string("plain-") + FormatName(f) + ".png", Saved([&](TStream& s) { d.SaveToPngStream(s); }));
    }
    using namespace pngtest;
    auto samples = [](int w, int h, int channels, int depth) {
        Samples s(size_t(h), std::vector<uint32_t>(size_t(w * channels)));
        const uint32_t top = depth == 16 ? 65535u : (1u << depth) - 1;
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < w * channels; ++i) s[size_t(y)][size_t(i)] = uint32_t(i * 37 + y * 91) % (top + 1);
        return s;
    };
    struct Kind {
        const char* name;
        uint8_t depth, colorType;
        bool interlace;
    } kinds[] = {
        {"gray-1", 1, 0, false},         {"gray-2", 2, 0, false},          {"gray-4-interlaced", 4, 0, true},
        {"gray-16", 16, 0, false},       {"gray-alpha-8", 8, 4, false},    {"gray-alpha-16-interlaced", 16, 4, true},
        {"rgb-16", 16, 2, false},        {"rgba-8-interlaced", 8, 6, true}, {"rgba-16", 16, 6, false},
        {"rgb-8-interlaced", 8, 2, true},
    };
    for (const Kind& k : kinds) {
        const int w = 11, h = 9;
        Bytes raw = RawImage(samples(w, h, Channels(k.colorType), k.depth), w, h, k.depth, k.colorType, k.interlace, 1);
        Write("png", std::string(k.name) + ".png", MakePng(w, h, k.depth, k.colorType, k.interlace, raw));
    }
    // Palette images with gamma, transparency and resolution chunks.
    Bytes plte;
    for (int i = 0; i < 6; ++i) plte.insert(plte.end(), {uint8_t(i * 40), uint8_t(255 - i * 30), uint8_t(i * i)});
    Bytes gama = {0, 0, 0xB1, 0x8F};
    Bytes phys = {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};
    for (uint8_t depth : {uint8_t(2), uint8_t(4), uint8_t(8)}) {
        const int w = 10, h = 5;
        Samples s(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w)));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) s[size_t(y)][size_t(x)] = uint32_t(x + y) % (depth == 2 ? 4 : 6);
        Bytes raw = RawImage(s, w, h, depth, 3, false, 2);
        Write("png", "palette-" + std::to_string(depth) + ".png",
              MakePng(w, h, depth, 3, depth == 4, raw,
                      {{"gAMA", gama}, {"PLTE", plte}, {"tRNS", {0, 128}}, {"pHYs", phys}}));
    }
    const Bytes rgbRaw = RawImage(samples(8, 4, 3, 8), 8, 4, 8, 2, false, 3);
    Write("png", "rgb-trns-text.png",
          MakePng(8, 4, 8, 2, false, rgbRaw,
                  {{"tRNS", {0, 1, 0, 2, 0, 3}}, {"tEXt", {'a', 0, 'b'}}, {"zzZz", {1, 2, 3}}, {"tIME", {7, 234, 1, 2, 3, 4, 5}}}));
    // Image data split over several chunks, and no IEND.
    {
        Bytes z = Compress(rgbRaw);
        Bytes f = Signature();
        AddChunk(f, "IHDR", Ihdr(8, 4, 8, 2));
        for (size_t at = 0; at < z.size(); at += 7) AddChunk(f, "IDAT", Bytes(z.begin() + long(at), z.begin() + long(std::min(at + 7, z.size()))));
        Write("png", "split-idat-no-iend.png", f);
    }
    // A flood of small ancillary chunks before the image data.
    {
        Bytes f = Signature();
        AddChunk(f, "IHDR", Ihdr(8, 4, 8, 2));
        for (int i = 0; i < 150; ++i) AddChunk(f, "tEXt", {'k', 0, uint8_t('0' + i % 10)});
        AddChunk(f, "IDAT", Compress(rgbRaw));
        AddChunk(f, "IEND", {});
        Write("png", "chunk-flood.png", f);
    }
}

// ---- JPEG ----

void JpegSeeds() {
    for (uint8_t f : {fmt8Bit, fmt24Bit})
        for (bool progressive : {false, true}) {
            TDIB d;
            Draw(d, 23, 13, f);
            Bytes b = Saved([&](TStream& s) { d.SaveToJpegStream(s, progressive, 75); });
            Write("jpeg", std::string(progressive ? "progressive-" : "baseline-") + FormatName(f) + ".jpg", b);
            if (f == fmt24Bit && !progressive) {
                // Density per centimetre (the JFIF unit byte), and a file cut in its scan.
                Bytes cm = b;
                if (cm.size() > 13 && cm[2] == 0xFF && cm[3] == 0xE0) cm[13] = 2;
                Write("jpeg", "density-cm.jpg", cm);
                Write("jpeg", "cut.jpg", Bytes(b.begin(), b.begin() + long(b.size() * 2 / 3)));
            }
        }
}

// ---- Annotations ----

void AnnotationSeeds() {
    using namespace qil::testing;
    AnnoData data;
    data.Default("OiGroup", CStr("Revisione"))
        .Default("OiIndex", CStr("3"))
        .Default("OiHypLnk", {1, 2, 3});
    auto mark = [&](uint32_t type) {
        MarkAttrs a;
        a.markType = type;
        a.left = int32_t(type * 10);
        a.top = int32_t(type * 5);
        a.right = a.left + 40;
        a.bottom = a.top + 30;
        std::memcpy(a.logFont + 28, "Arial", 5);
        data.Mark(a);
        data.ForMark("OiGroup", CStr("g" + std::to_string(type)));
        data.ForMark("OiIndex", CStr(std::to_string(type * 2)));
    };
    for (uint32_t type = 1; type <= 12; ++type) {
        mark(type);
        switch (type) {
            case 1: {
                Bytes dib(40 + 8 + 4, 0);
                dib[0] = 40;
                dib[4] = 1;
                dib[8] = 1;
                dib[12] = 1;
                dib[14] = 1;
                data.ForMark("OiAnoDat", RotationData(0, 1000, 300, 300)).ForMark("OiDIB", dib);
                break;
            }
            case 2:
            case 11: data.ForMark("OiAnoDat", RotationData(90, 500, 200, 200)).ForMark("OiFilNam", CStr("c:\\logo.bmp")); break;
            case 3: data.ForMark("OiAnoDat", PointData({{0, 0}, {40, 30}})); break;
            case 4: data.ForMark("OiAnoDat", PointData({{0, 0}, {5, 9}, {12, 3}, {40, 30}})); break;
            case 5:
            case 6: break;
            default: data.ForMark("OiAnText", TextData(240, "Nota " + std::to_string(type))); break;
        }
    }
    // Little- and big-endian files; the annotations on the second page of a two-page file.
    Write("annotations", "all-marks-le.tif", BuildTiff(false, {{ShortTag(256, 100), AnnotationTag(data.bytes)}}).bytes);
    Write("annotations", "all-marks-be.tif", BuildTiff(true, {{AnnotationTag(data.bytes)}}).bytes);
    AnnoData small;
    small.Mark(7).ForMark("OiAnText", TextData(750, "ciao")).Raw({0});
    Write("annotations", "second-page.tif",
          BuildTiff(false, {{ShortTag(256, 1)}, {ShortTag(256, 2), AnnotationTag(small.bytes)}}).bytes);
    // A directory chain that loops back.
    TiffFile loop = BuildTiff(false, {{ShortTag(256, 1)}, {ShortTag(256, 2)}, {AnnotationTag(small.bytes)}});
    loop.SetNext(1, loop.ifdOffsets[0]);
    Write("annotations", "loop.tif", loop.bytes);
    // Refusals: old 16-bit data, a third point of a straight line, an unknown record.
    Write("annotations", "old-16-bit.tif", BuildTiff(false, {{AnnotationTag(AnnoData(0).Mark(5).bytes)}}).bytes);
    AnnoData three;
    three.Mark(3).ForMark("OiAnoDat", PointData({{0, 0}, {1, 1}, {2, 2}}));
    Write("annotations", "three-point-line.tif", BuildTiff(false, {{AnnotationTag(three.bytes)}}).bytes);
    // An image file written by the library, with annotations added to its directory.
    TDIB d;
    Draw(d, 16, 8, fmt1Bit);
    Bytes page = Saved([&](TStream& s) { d.SaveToTiffStream(s, false, tcGroup4, 8); });
    Write("annotations", "no-annotations.tif", page);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    root = argv[1];
    try {
        TIFFSetWarningHandler(nullptr);
        BitmapSeeds();
        TiffSeeds();
        PngSeeds();
        JpegSeeds();
        AnnotationSeeds();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
