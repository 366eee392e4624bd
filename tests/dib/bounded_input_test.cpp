// Structures in a file that could repeat without end: directory chains of TIFF files that
// loop, PNG files of many chunks, JPEG files of many scans. Each ends after a bounded amount
// of work, in a load or in a refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dib/dib.h"
#include "dib/file_test_util.h"
#include "dib/image_file.h"
#include "dib/png_test_util.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

using namespace qil;
using qil::testing_files::DrawTestImage;
using Bytes = std::vector<uint8_t>;

namespace {

std::string LoadError(const Bytes& file, int32_t page = 0) {
    TBufferStream s(file.data(), int64_t(file.size()));
    TDIB d;
    try {
        d.LoadFromStream(s, page);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Where the next-directory offset of each directory of a little-endian TIFF file is stored.
std::vector<size_t> NextFields(const Bytes& b) {
    std::vector<size_t> fields;
    for (uint32_t off = Get32(b, 4); off != 0 && fields.size() < 10;) {
        size_t at = off + 2 + 12 * size_t(b[off] | b[off + 1] << 8);
        fields.push_back(at);
        off = Get32(b, at);
    }
    return fields;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST(BoundedInput, TiffDirectoryLoopsEndTheChain) {
    TMemoryStream file;
    for (uint8_t f : {fmt1Bit, fmt8Bit, fmt24Bit}) {
        TDIB d;
        DrawTestImage(d, 12, 5, f);
        d.SaveToTiffStream(file, file.Size() > 0, tcLzw, 4);
    }
    const Bytes pages = file.Data();
    std::vector<size_t> next = NextFields(pages);
    ASSERT_EQ(next.size(), 3u);
    const uint32_t first = Get32(pages, 4);
    struct Case {
        const char* name;
        size_t from;     // the directory whose next offset is replaced
        uint32_t to;     // by this offset
        int32_t pages;   // directories before the loop
    } cases[] = {
        {"last back to the first", 2, first, 3},
        {"second back to the first", 1, first, 2},
        {"first to itself", 0, first, 1},
        {"last to the second", 2, Get32(pages, next[0]), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes loop = pages;
        Put32(loop, next[c.from], c.to);
        TBufferStream s(loop.data(), int64_t(loop.size()));
        EXPECT_EQ(TDIB::CountTiffPages(s), c.pages);
        EXPECT_EQ(LoadError(loop, c.pages - 1), "");
        EXPECT_NE(LoadError(loop, c.pages), "");
        EXPECT_NE(LoadError(loop, 1000), "");
    }
}

TEST(BoundedInput, PngOfManyChunksLoads) {
    using namespace pngtest;
    Samples s(3, std::vector<uint32_t>(4 * 3, 200));
    Bytes raw = RawImage(s, 4, 3, 8, 2, false);
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(4, 3, 8, 2));
    for (int i = 0; i < 20000; ++i) AddChunk(f, i % 2 ? "tEXt" : "zzZz", {'k', 0, 'v'});
    Bytes z = Compress(raw);
    for (uint8_t b : z) AddChunk(f, "IDAT", {b});  // one byte of image data per chunk
    AddChunk(f, "IEND", {});
    TBufferStream stream(f.data(), int64_t(f.size()));
    TDIB d;
    d.LoadFromStream(stream, 0);
    EXPECT_EQ(d.Width(), 4);
    EXPECT_EQ(d.GetPixel(3, 2), 200 | 200 << 8 | 200 << 16);
}

TEST(BoundedInput, JpegOfTooManyScansIsRefused) {
    TDIB d;
    DrawTestImage(d, 16, 16, fmt8Bit);
    TMemoryStream m;
    d.SaveToJpegStream(m, true, 90);
    const Bytes file = m.Data();
    // The last scan: from its SOS marker to the end-of-image marker.
    size_t sos = 0;
    for (size_t i = 2; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA) sos = i;
    ASSERT_GT(sos, 0u);
    ASSERT_EQ(file[file.size() - 2], 0xFF);
    ASSERT_EQ(file[file.size() - 1], 0xD9);
    const Bytes scan(file.begin() + long(sos), file.end() - 2);
    auto withExtraScans = [&](int n) {
        Bytes b(file.begin(), file.end() - 2);
        for (int i = 0; i < n; ++i) b.insert(b.end(), scan.begin(), scan.end());
        b.insert(b.end(), {0xFF, 0xD9});
        return b;
    };
    // libjpeg only warns about the repeated refinement scans; a file of a few loads.
    EXPECT_EQ(LoadError(withExtraScans(20)), "");
    EXPECT_EQ(LoadError(withExtraScans(300)), "The JPEG file has more than 256 scans");
}
