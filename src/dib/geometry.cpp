// Geometry of a TDIB: copies of rectangles, canvas size, shifts, crop, quarter turns,
// rotation by any angle and deskewing.
//
// The shifts and SetSize move whole stored rows with block copies; the rotations go through
// the per-format pixel procedures and build their result in a temporary image that is then
// copied over this image's pixel area.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

// Sets the bits [fromBit, toBit) of a row to the bits of Pattern at the same positions
// within their bytes (Pattern repeats every byte).
void FillBitRange(uint8_t* row, int64_t fromBit, int64_t toBit, uint8_t pattern) {
    if (fromBit >= toBit) return;
    int64_t b0 = fromBit >> 3, b1 = (toBit - 1) >> 3;
    auto m0 = static_cast<uint8_t>(0xFF >> (fromBit & 7));
    auto m1 = static_cast<uint8_t>(0xFF << (7 - ((toBit - 1) & 7)));
    if (b0 == b1) {
        uint8_t m = m0 & m1;
        row[b0] = static_cast<uint8_t>((row[b0] & ~m) | (pattern & m));
        return;
    }
    row[b0] = static_cast<uint8_t>((row[b0] & ~m0) | (pattern & m0));
    if (b1 > b0 + 1) std::memset(row + b0 + 1, pattern, static_cast<size_t>(b1 - b0 - 1));
    row[b1] = static_cast<uint8_t>((row[b1] & ~m1) | (pattern & m1));
}

// Shifts a row of Bytes bytes, read as one bit string with the most significant bit of byte 0
// first, by Bits positions: toward the end of the row (higher X) when Right, else toward its
// start. Vacated positions take the bits of Fill (a byte pattern); bits pushed out are lost.
void ShiftBitString(uint8_t* row, int64_t bytes, int64_t bits, bool right, uint8_t fill) {
    if (bytes <= 0 || bits <= 0) return;
    if (bits >= bytes * 8) {
        std::memset(row, fill, static_cast<size_t>(bytes));
        return;
    }
    int64_t q = bits >> 3;
    int r = static_cast<int>(bits & 7);
    if (right) {
        if (q > 0) {
            std::memmove(row + q, row, static_cast<size_t>(bytes - q));
            std::memset(row, fill, static_cast<size_t>(q));
        }
        if (r) {
            for (int64_t i = bytes - 1; i > 0; --i)
                row[i] = static_cast<uint8_t>((row[i] >> r) | (row[i - 1] << (8 - r)));
            row[0] = static_cast<uint8_t>((row[0] >> r) | (fill << (8 - r)));
        }
    } else {
        if (q > 0) {
            std::memmove(row, row + q, static_cast<size_t>(bytes - q));
            std::memset(row + bytes - q, fill, static_cast<size_t>(q));
        }
        if (r) {
            for (int64_t i = 0; i < bytes - 1; ++i)
                row[i] = static_cast<uint8_t>((row[i] << r) | (row[i + 1] >> (8 - r)));
            row[bytes - 1] = static_cast<uint8_t>((row[bytes - 1] << r) | (fill >> (8 - r)));
        }
    }
}

// Copies the pixel area of Source (same format, same stride) over this image's pixel area.
void CopyPixelArea(TDIB& target, const TDIB& source) {
    std::memcpy(target.Bits, source.Bits, static_cast<size_t>(source.Height()) * static_cast<size_t>(source.Stride));
}

}  // namespace

uint8_t TDIB::WhiteFillByte() const {
    int32_t white = WhiteIndex();
    switch (ImageFormat) {
        case fmt1Bit: return white ? 0xFF : 0x00;
        case fmt4Bit: return static_cast<uint8_t>(((white & 15) << 4) | (white & 15));
        default: return static_cast<uint8_t>(white & 255);
    }
}

TDIB* TDIB::CopyRect(const TRect& rect) {
    if (rect.Left < 0 || rect.Top < 0 || rect.Left > rect.Right || rect.Top > rect.Bottom || rect.Right >= Width() ||
        rect.Bottom >= Height())
        throw Exception("Invalid rect !");
    int32_t w = rect.Right - rect.Left + 1, h = rect.Bottom - rect.Top + 1;
    auto result = std::make_unique<TDIB>();
    result->CreateNew(w, h, ImageFormat, XResolution(), YResolution());
    for (int32_t i = 0; i < PaletteSize; ++i) result->SetPaletteEntry(i, GetPaletteEntry(i));
    int32_t bits = FormatBitCount(ImageFormat);
    if (bits >= 8) {
        size_t bpp = static_cast<size_t>(bits / 8);
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(result->Rows[y], Rows[rect.Top + y] + bpp * static_cast<size_t>(rect.Left), bpp * static_cast<size_t>(w));
    } else {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) result->SetPixel(x, y, GetPixel(rect.Left + x, rect.Top + y));
    }
    return result.release();
}

void TDIB::SetSize(int32_t newWidth, int32_t newHeight, uint8_t fill) {
    int32_t oldWidth = Width(), oldHeight = Height();
    if (newWidth == oldWidth && newHeight == oldHeight) return;
    if (newWidth < 0 || newHeight < 0) throw Exception(Format("Invalid image size: %d x %d", newWidth, newHeight));
    int32_t bits = FormatBitCount(ImageFormat);
    if (bits == 0 || !Header) throw Exception("Bit depht not allowed");
    int64_t tableEnd = 40 + 4 * int64_t(PaletteSize);
    int64_t newStride = ((int64_t(newWidth) * bits + 31) / 32) * 4;
    int64_t newTotal = tableEnd + int64_t(newHeight) * newStride;
    if (int64_t(newWidth) * bits + 31 > INT32_MAX || newTotal > INT32_MAX)
        throw Exception(Format("Image too large: %d x %d pixels at %d bits per pixel", newWidth, newHeight, bits));
    int64_t oldStride = Stride;

    // Rows that a file load left behind a gap are first moved next to the color table, where
    // the header alone (with a cleared file header) will look for them.
    if (Bits != Memory + tableEnd) {
        std::memmove(Memory + tableEnd, Bits, static_cast<size_t>(oldHeight * oldStride));
        std::memset(&FileHeader, 0, sizeof FileHeader);
        Bits = Memory + tableEnd;
        BuildRowTable();
    }

    // Reallocation, with the block left locked and consistent when it fails.
    auto reallocate = [&](int64_t bytes) {
        UnlockAll();
        HGLOBAL h = GlobalReAlloc(Handle, static_cast<size_t>(bytes), GMEM_MOVEABLE | GMEM_ZEROINIT);
        uint32_t error = GetLastError();
        Lock();
        LoadHeaderInfo();
        BuildRowTable();
        if (h == 0) RaiseLastOSError(error);
    };
    // A growing block is enlarged first, so every move below stays inside it and a failed
    // reallocation leaves the image as it was.
    bool grownFirst = false;
    if (static_cast<size_t>(newTotal) > GlobalSize(Handle)) {
        reallocate(newTotal);
        grownFirst = true;
    }

    uint8_t* pixels = Memory + tableEnd;
    int64_t keep = std::min(newHeight, oldHeight);
    if (newHeight < oldHeight)  // the top rows are the last stored ones
        std::memmove(pixels, pixels + (oldHeight - newHeight) * oldStride, static_cast<size_t>(keep * oldStride));
    if (newStride < oldStride)
        for (int64_t i = 0; i < keep; ++i) std::memmove(pixels + i * newStride, pixels + i * oldStride, static_cast<size_t>(newStride));

    std::memset(&FileHeader, 0, sizeof FileHeader);
    Header->biWidth = newWidth;
    Header->biHeight = newHeight;
    Header->biSizeImage = static_cast<uint32_t>(newHeight * newStride);
    if (!grownFirst && GlobalSize(Handle) != static_cast<size_t>(newTotal)) {
        reallocate(newTotal);
    } else {
        LoadHeaderInfo();
        BuildRowTable();
    }
    pixels = Bits;

    if (newStride > oldStride)
        for (int64_t i = keep - 1; i >= 0; --i) {
            std::memmove(pixels + i * newStride, pixels + i * oldStride, static_cast<size_t>(oldStride));
            std::memset(pixels + i * newStride + oldStride, fill, static_cast<size_t>(newStride - oldStride));
        }
    // New columns take the Fill byte also where they reuse old padding (a stride that did not
    // grow, or the unused bits of a row's last byte).
    if (newWidth > oldWidth)
        for (int64_t i = 0; i < keep; ++i)
            FillBitRange(pixels + i * newStride, int64_t(oldWidth) * bits, newStride * 8, fill);
    if (newHeight > oldHeight) {
        int64_t added = newHeight - oldHeight;
        std::memmove(pixels + added * newStride, pixels, static_cast<size_t>(oldHeight * newStride));
        std::memset(pixels, fill, static_cast<size_t>(added * newStride));
    }
}

void TDIB::ShiftLine(int32_t row, int32_t count) {
    int32_t bits = FormatBitCount(ImageFormat);
    if (bits == 0) throw Exception("Bit depht not supported for ShiftLine !");
    if (row < 0 || row >= Height()) throw Exception(Format("ShiftLine: row %d outside the image", row));
    if (count == 0) return;
    int64_t n = count < 0 ? -int64_t(count) : int64_t(count);
    ShiftBitString(Rows[row], Stride, n * bits, count > 0, WhiteFillByte());
}

void TDIB::ShiftColumns(int32_t count) {
    int32_t bits = FormatBitCount(ImageFormat);
    if (bits == 0) throw Exception("Bit depht not supported for ShiftLine !");
    if (count == 0) return;
    int64_t n = count < 0 ? -int64_t(count) : int64_t(count);
    uint8_t white = WhiteFillByte();
    for (int32_t y = 0; y < Height(); ++y) ShiftBitString(Rows[y], Stride, n * bits, count > 0, white);
}

void TDIB::ShiftRows(int32_t count) {
    int64_t h = Height();
    if (count == 0 || h == 0) return;
    int64_t c = std::min<int64_t>(count < 0 ? -int64_t(count) : int64_t(count), h);
    size_t stride = static_cast<size_t>(Stride);
    uint8_t white = WhiteFillByte();
    // Picture row j is stored at index h - 1 - j, so moving the picture up moves the stored
    // rows toward the end of the area.
    if (count < 0) {
        std::memmove(Bits + c * Stride, Bits, static_cast<size_t>(h - c) * stride);
        std::memset(Bits, white, static_cast<size_t>(c) * stride);
    } else {
        std::memmove(Bits, Bits + c * Stride, static_cast<size_t>(h - c) * stride);
        std::memset(Bits + (h - c) * Stride, white, static_cast<size_t>(c) * stride);
    }
}

void TDIB::CropToRect(const TRect& rect) {
    if (rect.Top > 0) ShiftRows(-rect.Top);
    if (rect.Left > 0) ShiftColumns(-rect.Left);
    SetSize(rect.Right - rect.Left + 1, rect.Bottom - rect.Top + 1, 0);
}

void TDIB::Rotate90() {
    int32_t w = Width(), h = Height();
    TDIB tmp;
    tmp.CreateNew(h, w, ImageFormat, XResolution(), YResolution());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) tmp.SetPixel(h - 1 - y, x, GetPixel(x, y));
    SetSize(h, w, 0);
    CopyPixelArea(*this, tmp);
}

void TDIB::Rotate180() {
    int32_t w = Width(), h = Height();
    TDIB tmp;
    tmp.CreateNew(w, h, ImageFormat, XResolution(), YResolution());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) tmp.SetPixel(w - 1 - x, h - 1 - y, GetPixel(x, y));
    CopyPixelArea(*this, tmp);
}

void TDIB::Rotate270() {
    int32_t w = Width(), h = Height();
    TDIB tmp;
    tmp.CreateNew(h, w, ImageFormat, XResolution(), YResolution());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) tmp.SetPixel(y, w - 1 - x, GetPixel(x, y));
    SetSize(h, w, 0);
    CopyPixelArea(*this, tmp);
}

void TDIB::RotateByAngle(bool expandCanvas, int32_t fill, double angle) {
    constexpr long double pi = std::numbers::pi_v<long double>;
    int32_t w = Width(), h = Height();
    long double r = static_cast<long double>(angle) * pi / 180;
    long double c = std::cos(r), s = std::sin(r);
    int64_t cx = w / 2, cy = h / 2;
    int64_t outW = w, outH = h;
    if (expandCanvas) {
        const int64_t corners[4][2] = {{0, 0}, {0, h - 1}, {w - 1, h - 1}, {w - 1, 0}};
        int64_t minX = INT64_MAX, maxX = INT64_MIN, minY = INT64_MAX, maxY = INT64_MIN;
        for (const auto& p : corners) {
            long double dx = static_cast<long double>(p[0] - cx), dy = static_cast<long double>(p[1] - cy);
            int64_t x = Round(dx * c - dy * s + cx), y = Round(dx * s + dy * c + cy);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        outW = maxX - minX + 1;
        outH = maxY - minY + 1;
        if (outW > INT32_MAX || outH > INT32_MAX) throw Exception("Image too large");
    }
    TDIB tmp;
    tmp.CreateNew(static_cast<int32_t>(outW), static_cast<int32_t>(outH), ImageFormat, XResolution(), YResolution());
    int64_t ox = outW / 2, oy = outH / 2;
    long double c2 = std::cos(-r), s2 = std::sin(-r);
    for (int64_t i = 0; i < outH; ++i) {
        long double di = static_cast<long double>(i - oy);
        for (int64_t j = 0; j < outW; ++j) {
            long double dj = static_cast<long double>(j - ox);
            int64_t sx = Round(dj * c2 - di * s2 + cx), sy = Round(dj * s2 + di * c2 + cy);
            int32_t v = (sx >= 0 && sx < w && sy >= 0 && sy < h) ? GetPixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy)) : fill;
            tmp.SetPixel(static_cast<int32_t>(j), static_cast<int32_t>(i), v);
        }
    }
    SetSize(tmp.Width(), tmp.Height(), 0);
    CopyPixelArea(*this, tmp);
}

double TDIB::Deskew(bool fillWithWhite, bool interpolate, double range) {
    double angle = EstimateSkew(0, range, 0.1);
    Rotate(fillWithWhite, interpolate, angle, angle);
    return angle;
}

}  // namespace qil
