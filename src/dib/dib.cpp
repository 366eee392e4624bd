#include "dib/dib.h"

#include <cstring>
#include <memory>

#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

// Header and color table bytes of each format.
int32_t HeaderAndTableSize(uint8_t format) {
    switch (format) {
        case fmt1Bit: return 48;
        case fmt4Bit: return 104;
        case fmt8Bit: return 1064;
        case fmt24Bit: return 40;
        default: return -1;
    }
}

}  // namespace

int32_t FormatBitCount(uint8_t format) {
    switch (format) {
        case fmt1Bit: return 1;
        case fmt4Bit: return 4;
        case fmt8Bit: return 8;
        case fmt24Bit: return 24;
        default: return 0;
    }
}

void CalcLayout(int32_t width, int32_t height, uint8_t format, int32_t& stride, int32_t& rowBytes, int32_t& totalSize) {
    int32_t bits = FormatBitCount(format);
    if (bits == 0) return;
    stride = ((width * bits + 31) / 32) * 4;
    rowBytes = (width * bits + 7) / 8;
    totalSize = height * stride + HeaderAndTableSize(format);
}

int32_t DpiToPelsPerMeter(int32_t dpi) { return static_cast<int32_t>(Round(static_cast<long double>(dpi) * 39.37L)); }

int32_t PelsPerMeterToDpi(int32_t pelsPerMeter) {
    return static_cast<int32_t>(Round(static_cast<long double>(pelsPerMeter) / 39.37L));
}

// ---- Object life and the block ----

TDIB::~TDIB() { Clear(); }

uint8_t* TDIB::Lock() {
    if (LockCount == 0) {
        void* p = GlobalLock(Handle);
        if (!p) RaiseLastOSError();
        Memory = static_cast<uint8_t*>(p);
    }
    ++LockCount;
    return Memory;
}

void TDIB::Unlock() {
    if (LockCount <= 0) return;
    --LockCount;
    if (LockCount == 0) {
        GlobalUnlock(Handle);
        Memory = nullptr;
    }
}

void TDIB::UnlockAll() {
    if (Handle != 0)
        while (LockCount > 0) Unlock();
}

void TDIB::Clear() {
    Rows.clear();
    Rows.shrink_to_fit();
    UnlockAll();
    if (Handle != 0 && OwnsHandle) GlobalFree(Handle);
    Handle = 0;
    LockCount = 0;
    Memory = nullptr;
    Header = nullptr;
    Palette = nullptr;
    Bits = nullptr;
    std::memset(&FileHeader, 0, sizeof FileHeader);
}

void TDIB::CreateNew(int32_t width, int32_t height, uint8_t format, int32_t xResolution, int32_t yResolution) {
    Allocate(width, height, format, xResolution, yResolution, true);
}

void TDIB::CreateNewForOverwrite(int32_t width, int32_t height, uint8_t format, int32_t xResolution,
                                 int32_t yResolution) {
    Allocate(width, height, format, xResolution, yResolution, false);
}

void TDIB::Allocate(int32_t width, int32_t height, uint8_t format, int32_t xResolution, int32_t yResolution,
                    bool clearRows) {
    Clear();
    int32_t bits = FormatBitCount(format);
    if (bits == 0) throw Exception("Bit depht not allowed");
    if (width < 0 || height < 0) throw Exception(Format("Invalid image size: %d x %d", width, height));
    CheckImageSize(uint64_t(width), uint64_t(height), bits);
    int32_t paletteSize = bits <= 8 ? 1 << bits : 0;
    int32_t headerSize = HeaderAndTableSize(format);
    int64_t stride = ((int64_t(width) * bits + 31) / 32) * 4;
    int64_t total = int64_t(height) * stride + headerSize;
    if (int64_t(width) * bits + 31 > INT32_MAX || total > INT32_MAX)
        throw Exception(Format("Image too large: %d x %d pixels at %d bits per pixel", width, height, bits));

    Stride = static_cast<int32_t>(stride);
    RowBytes = static_cast<int32_t>((int64_t(width) * bits + 7) / 8);
    DIBSize = static_cast<int32_t>(total);
    PaletteSize = paletteSize;
    ImageFormat = format;
    switch (format) {
        case fmt1Bit: GetPixelProc = &TDIB::GetPixel1; SetPixelProc = &TDIB::SetPixel1; break;
        case fmt4Bit: GetPixelProc = &TDIB::GetPixel4; SetPixelProc = &TDIB::SetPixel4; break;
        case fmt8Bit: GetPixelProc = &TDIB::GetPixel8; SetPixelProc = &TDIB::SetPixel8; break;
        default: GetPixelProc = &TDIB::GetPixel24; SetPixelProc = &TDIB::SetPixel24; break;
    }

    // The header and the color table are written in full below; the rows only when asked.
    HGLOBAL h = GlobalAlloc(clearRows ? GMEM_MOVEABLE | GMEM_ZEROINIT : GMEM_MOVEABLE, static_cast<size_t>(DIBSize));
    if (h == 0) RaiseLastOSError();
    Handle = h;
    try {
        Lock();
    } catch (...) {
        GlobalFree(Handle);
        Handle = 0;
        throw;
    }

    FileHeader.bfType = 0x4D42;
    FileHeader.bfSize = static_cast<uint32_t>(DIBSize);
    FileHeader.bfReserved1 = 0;
    FileHeader.bfReserved2 = 0;
    FileHeader.bfOffBits = static_cast<uint32_t>(54 + 4 * PaletteSize);

    Header = reinterpret_cast<BITMAPINFOHEADER*>(Memory);
    Header->biSize = 40;
    Header->biWidth = width;
    Header->biHeight = height;
    Header->biPlanes = 1;
    Header->biBitCount = static_cast<uint16_t>(bits);
    Header->biCompression = 0;
    Header->biSizeImage = static_cast<uint32_t>(int64_t(height) * Stride);
    Header->biXPelsPerMeter = DpiToPelsPerMeter(xResolution);
    Header->biYPelsPerMeter = DpiToPelsPerMeter(yResolution);
    Header->biClrUsed = static_cast<uint32_t>(PaletteSize);
    Header->biClrImportant = static_cast<uint32_t>(PaletteSize);

    Palette = reinterpret_cast<RGBQUAD*>(Memory + 40);
    if (PaletteSize == 2) {
        Palette[0] = RGBQUAD{0, 0, 0, 0};
        Palette[1] = RGBQUAD{255, 255, 255, 0};
    } else {
        for (int32_t i = 0; i < PaletteSize; ++i) {
            auto v = static_cast<uint8_t>(Round(256.0L / PaletteSize * i));
            Palette[i] = RGBQUAD{v, v, v, 0};
        }
    }
    Bits = Memory + 40 + 4 * PaletteSize;
    BuildRowTable();
    if (!clearRows && Stride > RowBytes)
        for (uint8_t* row : Rows) std::memset(row + RowBytes, 0, static_cast<size_t>(Stride - RowBytes));
}

void TDIB::SetHandle(HGLOBAL block) {
    Clear();
    Handle = block;
    if (block == 0) return;
    DIBSize = static_cast<int32_t>(std::min<size_t>(GlobalSize(block), INT32_MAX));
    try {
        Lock();
        LoadHeaderInfo();
        BuildRowTable();
    } catch (...) {
        // Refused: the block is not adopted, so the image owns nothing.
        Rows.clear();
        UnlockAll();
        Handle = 0;
        LockCount = 0;
        Memory = nullptr;
        Header = nullptr;
        Palette = nullptr;
        Bits = nullptr;
        throw;
    }
}

HGLOBAL TDIB::GetHandle() const {
    if (Handle != 0) return Handle;
    if (Memory) return GlobalHandle(Memory);
    return 0;
}

void TDIB::LoadHeaderInfo() {
    // The header comes from whoever made the block; check everything derived from it against
    // the block's real size before any address is derived.
    size_t blockSize = GlobalSize(Handle);
    if (blockSize < sizeof(BITMAPINFOHEADER))
        throw Exception(Format("Invalid bitmap: the block holds %zu bytes, less than its 40-byte header", blockSize));
    const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(Memory);
    if (h->biSize != 40) throw Exception(Format("Unsupported bitmap: header size %u (40 required)", h->biSize));
    if (h->biCompression != 0) throw Exception(Format("Unsupported bitmap: compression %u", h->biCompression));
    int32_t bits = h->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        throw Exception(Format("Unsupported bitmap: %d bits per pixel", bits));
    if (h->biWidth < 0) throw Exception(Format("Invalid bitmap: width %d", h->biWidth));
    if (h->biHeight < 0) throw Exception("Unsupported bitmap: rows stored top-down");
    int32_t paletteSize = bits <= 8 ? 1 << bits : 0;
    int64_t tableEnd = 40 + 4 * int64_t(paletteSize);
    int64_t stride = ((int64_t(h->biWidth) * bits + 31) / 32) * 4;
    int64_t offset = FileHeader.bfOffBits > 0 ? int64_t(FileHeader.bfOffBits) - 14 : tableEnd;
    if (offset < tableEnd)
        throw Exception(Format("Invalid bitmap: pixel offset %lld overlaps the color table", static_cast<long long>(offset)));
    int64_t needed = offset + int64_t(h->biHeight) * stride;
    if (int64_t(h->biWidth) * bits + 31 > INT32_MAX || needed > INT32_MAX || needed > static_cast<int64_t>(blockSize))
        throw Exception(Format("Invalid bitmap: %d x %d pixels at %d bits need %lld bytes, the block holds %zu",
                               h->biWidth, h->biHeight, bits, static_cast<long long>(needed), blockSize));

    Header = reinterpret_cast<BITMAPINFOHEADER*>(Memory);
    PaletteSize = paletteSize;
    Palette = reinterpret_cast<RGBQUAD*>(Memory + 40);
    Bits = Memory + offset;
    Stride = static_cast<int32_t>(stride);
    RowBytes = static_cast<int32_t>((int64_t(h->biWidth) * bits + 7) / 8);
    switch (bits) {
        case 1: GetPixelProc = &TDIB::GetPixel1; SetPixelProc = &TDIB::SetPixel1; ImageFormat = fmt1Bit; break;
        case 4: GetPixelProc = &TDIB::GetPixel4; SetPixelProc = &TDIB::SetPixel4; ImageFormat = fmt4Bit; break;
        case 8: GetPixelProc = &TDIB::GetPixel8; SetPixelProc = &TDIB::SetPixel8; ImageFormat = fmt8Bit; break;
        default: GetPixelProc = &TDIB::GetPixel24; SetPixelProc = &TDIB::SetPixel24; ImageFormat = fmt24Bit; break;
    }
    DIBSize = static_cast<int32_t>(tableEnd + int64_t(h->biHeight) * stride);
}

void TDIB::BuildRowTable() {
    Rows.clear();
    int32_t h = Height();
    Rows.resize(static_cast<size_t>(h));
    for (int32_t i = 0; i < h; ++i) Rows[static_cast<size_t>(i)] = Bits + static_cast<ptrdiff_t>(h - 1 - i) * Stride;
}

// ---- Queries and simple setters ----

int32_t TDIB::XResolution() const { return PelsPerMeterToDpi(Header->biXPelsPerMeter); }
int32_t TDIB::YResolution() const { return PelsPerMeterToDpi(Header->biYPelsPerMeter); }
void TDIB::SetXResolution(int32_t value) { Header->biXPelsPerMeter = DpiToPelsPerMeter(value); }
void TDIB::SetYResolution(int32_t value) { Header->biYPelsPerMeter = DpiToPelsPerMeter(value); }

uint32_t TDIB::GetPaletteEntry(int32_t index) const {
    uint32_t v;
    std::memcpy(&v, &Palette[index], 4);
    return v;
}

void TDIB::SetPaletteEntry(int32_t index, uint32_t value) { std::memcpy(&Palette[index], &value, 4); }

void TDIB::SetPaletteFromLogPalette(const TLogPalette& palette) {
    int32_t n = palette.palNumEntries;
    if (n > 256) n = 256;
    for (int32_t i = 0; i < n; ++i) {
        const PALETTEENTRY& e = palette.palPalEntry[i];
        Palette[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
    }
}

void TDIB::Fill(uint8_t value) {
    if (Bits) std::memset(Bits, value, static_cast<size_t>(Height()) * static_cast<size_t>(Stride));
}

int32_t TDIB::WhiteIndex() const {
    for (int32_t i = 0; i < PaletteSize; ++i)
        if (Palette[i].rgbBlue == 255 && Palette[i].rgbGreen == 255 && Palette[i].rgbRed == 255) return i;
    if (ImageFormat == fmt8Bit) return 255;
    if (ImageFormat == fmt24Bit) return 0x00FFFFFF;
    return 0;
}

int32_t TDIB::BlackIndex() const {
    for (int32_t i = 0; i < PaletteSize; ++i)
        if (Palette[i].rgbBlue == 0 && Palette[i].rgbGreen == 0 && Palette[i].rgbRed == 0) return i;
    if (ImageFormat == fmt8Bit || ImageFormat == fmt24Bit) return 0;
    return 1;
}

// ---- Pixel access ----

int32_t TDIB::GetPixel1(int32_t x, int32_t y) { return (Rows[y][x >> 3] & (0x80 >> (x & 7))) ? 1 : 0; }

int32_t TDIB::GetPixel4(int32_t x, int32_t y) {
    uint8_t b = Rows[y][x >> 1];
    return (x & 1) ? (b & 0x0F) : (b >> 4);
}

int32_t TDIB::GetPixel8(int32_t x, int32_t y) { return Rows[y][x]; }

int32_t TDIB::GetPixel24(int32_t x, int32_t y) {
    const uint8_t* p = Rows[y] + 3 * x;
    return p[2] | (p[1] << 8) | (p[0] << 16);
}

void TDIB::SetPixel1(int32_t x, int32_t y, int32_t value) {
    uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
    if (value > 0)
        Rows[y][x >> 3] |= mask;
    else
        Rows[y][x >> 3] &= static_cast<uint8_t>(~mask);
}

void TDIB::SetPixel4(int32_t x, int32_t y, int32_t value) {
    uint8_t& b = Rows[y][x >> 1];
    uint8_t v = static_cast<uint8_t>(value & 15);
    b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | v) : static_cast<uint8_t>((b & 0x0F) | (v << 4));
}

void TDIB::SetPixel8(int32_t x, int32_t y, int32_t value) { Rows[y][x] = static_cast<uint8_t>(value & 255); }

void TDIB::SetPixel24(int32_t x, int32_t y, int32_t value) {
    uint8_t* p = Rows[y] + 3 * x;
    p[0] = static_cast<uint8_t>(value >> 16);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value);
}

uint32_t TDIB::GetPixelColor(int32_t x, int32_t y) {
    if (Header->biBitCount == 24) {
        const uint8_t* p = Rows[y] + 3 * x;
        return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    }
    return GetPaletteEntry(GetPixel(x, y));
}

void TDIB::SetPixelColor(int32_t x, int32_t y, uint32_t color) {
    int32_t r = (color >> 16) & 255, g = (color >> 8) & 255, b = color & 255;
    if (Header->biBitCount == 24) {
        SetPixel(x, y, static_cast<int32_t>(r | (g << 8) | (b << 16)));
        return;
    }
    int32_t best = 0;
    int64_t bestD = -1;
    for (int32_t i = 0; i < PaletteSize; ++i) {
        int32_t dr = Palette[i].rgbRed - r, dg = Palette[i].rgbGreen - g, db = Palette[i].rgbBlue - b;
        int64_t d = int64_t(dr) * dr + int64_t(dg) * dg + int64_t(db) * db;
        if (bestD < 0 || d < bestD) {
            best = i;
            bestD = d;
            if (d == 0) break;
        }
    }
    SetPixel(x, y, best);
}

// ---- Whole-image operations ----

void TDIB::Invert() {
    // The row length in a local: stores through the row pointer could otherwise alias it.
    const int32_t h = Height(), n = RowBytes;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = Rows[y];
        for (int32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
    }
}

TDIB* TDIB::Duplicate() {
    auto copy = std::make_unique<TDIB>();
    copy->CreateNew(Width(), Height(), ImageFormat, XResolution(), YResolution());
    if (copy->DIBSize != DIBSize) throw Exception("DIB Duplicate error !");
    Lock();
    copy->Lock();
    // Header and color table, then the pixel rows (which follow the table in both blocks).
    int32_t tableEnd = 40 + 4 * PaletteSize;
    std::memcpy(copy->Memory, Memory, static_cast<size_t>(tableEnd));
    std::memcpy(copy->Memory + tableEnd, Bits, static_cast<size_t>(DIBSize - tableEnd));
    copy->Unlock();
    Unlock();
    return copy.release();
}

}  // namespace qil
