// Windows bitmap files: reading into the image's own packed layout, and writing it out.
//
// The image keeps one layout only (a 40-byte header, a full color table, bottom-up rows), so
// the reader does not adopt the file's bytes as they stand: it checks every size and offset
// of the headers against the real length of the file, then copies the parts into a fresh
// image. That brings the variants current tools write (larger info headers, a color table
// shorter than 2^bits, top-down rows) into that layout, and refuses what it cannot represent
// (compressed rows, bit counts other than 1, 4, 8, 24) with a message saying why.
#include <algorithm>
#include <bit>
#include <cstring>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

static_assert(std::endian::native == std::endian::little, "bitmap headers are read and written in place");

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

void LoadBitmap(TDIB& image, TStream& stream) {
    const int64_t base = stream.Position();
    const int64_t fileSize = stream.Size() - base;

    BITMAPFILEHEADER fileHeader{};
    if (stream.Read(&fileHeader, 14) != 14 || fileHeader.bfType != 0x4D42) throw Exception("Invalid bitmap file !");

    uint32_t headerSize = 0;
    if (stream.Read(&headerSize, 4) != 4) throw Exception("Invalid bitmap: the file ends inside its header");
    if (headerSize == 12) throw Exception("Unsupported bitmap: OS/2 header of 12 bytes");
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        throw Exception(Format("Invalid bitmap: unknown header size %u", headerSize));
    if (fileSize < 14 + int64_t(headerSize)) throw Exception("Invalid bitmap: the file ends inside its header");

    // The first 40 bytes have the same layout in every header version.
    BITMAPINFOHEADER info{};
    info.biSize = headerSize;
    stream.ReadBuffer(reinterpret_cast<uint8_t*>(&info) + 4, 36);

    switch (info.biCompression) {
        case BI_RGB: break;
        case BI_RLE8:
        case BI_RLE4: throw Exception(Format("Unsupported bitmap: run-length compressed rows (compression %u)", info.biCompression));
        case BI_BITFIELDS:
        case BI_ALPHABITFIELDS: throw Exception(Format("Unsupported bitmap: bit-field compressed pixels (compression %u)", info.biCompression));
        default: throw Exception(Format("Unsupported bitmap: compression %u", info.biCompression));
    }
    const int32_t bits = info.biBitCount;
    uint8_t format;
    switch (bits) {
        case 1: format = fmt1Bit; break;
        case 4: format = fmt4Bit; break;
        case 8: format = fmt8Bit; break;
        case 24: format = fmt24Bit; break;
        default: throw Exception(Format("Unsupported bitmap: %d bits per pixel (1, 4, 8 and 24 are supported)", bits));
    }
    if (info.biWidth <= 0 || info.biHeight == 0 || info.biHeight == INT32_MIN)
        throw Exception(Format("Invalid bitmap size: %d x %d", info.biWidth, info.biHeight));
    const bool topDown = info.biHeight < 0;
    const int32_t height = topDown ? -info.biHeight : info.biHeight;
    const int32_t width = info.biWidth;

    // Color table: biClrUsed entries (0 means all 2^bits); a 24-bit file may carry one too,
    // which only moves the pixels.
    const int64_t fullTable = bits <= 8 ? (int64_t(1) << bits) : 0;
    const int64_t declaredEntries = info.biClrUsed == 0 ? fullTable : int64_t(info.biClrUsed);
    const int64_t tableEntries = std::min(declaredEntries, fullTable);
    const int64_t tableStart = 14 + int64_t(headerSize);
    const int64_t tableEnd = tableStart + 4 * tableEntries;

    int64_t pixelOffset = fileHeader.bfOffBits;
    if (pixelOffset == 0) pixelOffset = tableStart + 4 * declaredEntries;
    if (pixelOffset < tableEnd)
        throw Exception(Format("Invalid bitmap: pixel offset %lld lies inside the header or the color table",
                               static_cast<long long>(pixelOffset)));

    // The rows a header can claim may need more bytes than 64 bits count.
    const int64_t stride = ((int64_t(width) * bits + 31) / 32) * 4;
    using Wide = unsigned __int128;
    const Wide needed = Wide(pixelOffset) + Wide(height) * Wide(stride);
    if (needed > Wide(std::max<int64_t>(fileSize, 0)))
        throw Exception(Format("Invalid bitmap: %d x %d pixels at %d bits need %llu bytes, the file holds %lld", width,
                               height, bits, static_cast<unsigned long long>(std::min(needed, Wide(UINT64_MAX))),
                               static_cast<long long>(fileSize)));

    image.CreateNew(width, height, format, 0, 0);
    image.Header->biXPelsPerMeter = info.biXPelsPerMeter;
    image.Header->biYPelsPerMeter = info.biYPelsPerMeter;

    if (image.PaletteSize > 0) {
        std::vector<RGBQUAD> table(static_cast<size_t>(tableEntries));
        if (stream.Seek(base + tableStart, TSeekOrigin::soBeginning) < 0) throw EReadError("Stream read error");
        stream.ReadBuffer(table.data(), 4 * tableEntries);
        // Entries the file does not give are black; no pixel of a valid file uses them.
        std::memset(image.Palette, 0, 4 * static_cast<size_t>(image.PaletteSize));
        for (int64_t i = 0; i < tableEntries; ++i) {
            image.Palette[i] = table[static_cast<size_t>(i)];
            image.Palette[i].rgbReserved = 0;
        }
    }

    if (stream.Seek(base + pixelOffset, TSeekOrigin::soBeginning) < 0) throw EReadError("Stream read error");
    if (topDown) {
        for (int32_t y = 0; y < height; ++y) stream.ReadBuffer(image.Rows[static_cast<size_t>(y)], stride);
    } else {
        stream.ReadBuffer(image.Bits, int64_t(height) * stride);
    }

    image.FileHeader.bfType = 0x4D42;
    image.FileHeader.bfSize = static_cast<uint32_t>(image.DIBSize + 14);
    image.FileHeader.bfReserved1 = 0;
    image.FileHeader.bfReserved2 = 0;
    image.FileHeader.bfOffBits = static_cast<uint32_t>(54 + 4 * image.PaletteSize);
}

}  // namespace

void TDIB::LoadFromBitmapStream(TStream& stream) {
    Clear();
    try {
        LoadBitmap(*this, stream);
    } catch (...) {
        DiscardFailedLoad(*this);
        throw;
    }
}

void TDIB::SaveToBitmapStream(TStream& stream) {
    RequireImage(*this);
    std::memset(&FileHeader, 0, sizeof FileHeader);
    FileHeader.bfType = 0x4D42;
    FileHeader.bfSize = static_cast<uint32_t>(DIBSize + 14);
    FileHeader.bfOffBits = static_cast<uint32_t>(54 + 4 * PaletteSize);
    stream.WriteBuffer(&FileHeader, 14);
    // Header and color table, then the rows from the first stored one.
    const int32_t tableEnd = 40 + 4 * PaletteSize;
    stream.WriteBuffer(Memory, tableEnd);
    stream.WriteBuffer(Bits, int64_t(DIBSize) - tableEnd);
}

void TDIB::SaveToBitmapFile(const std::string& fileName) {
    RequireImage(*this);
    WriteFileAtomically(fileName, false, [this](TFileStream& stream) { SaveToBitmapStream(stream); });
}

}  // namespace qil
