// Pixel-format conversions and histograms.
//
// Every conversion rewrites the pixel rows inside the image's own block and reallocates it
// once, so a page needs no second block of its size. The block is first grown (if the new
// rows need more room than the old ones), the rows are rewritten in place at the old pixel
// offset (ascending when the new rows are narrower, descending when they are wider, so no
// row is overwritten before it is read), moved behind the new color table, and the block is
// finally trimmed to its new size. The only allocation that can fail comes before any pixel
// is changed, so a failed conversion leaves the image as it was.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

constexpr const char* kNeeds24 = "This operation requires 24 bit per pixel bitmap !";
constexpr const char* kNeeds8 = "This operation requires 8 bit per pixel bitmap !";

}  // namespace

void TDIB::WriteConversionPalette(uint8_t format) {
    switch (format) {
        case fmt1Bit:
            Palette[0] = RGBQUAD{0, 0, 0, 0};
            Palette[1] = RGBQUAD{255, 255, 255, 0};
            break;
        case fmt4Bit:
            for (int i = 0; i < 16; ++i) {
                auto v = static_cast<uint8_t>(17 * i);
                Palette[i] = RGBQUAD{v, v, v, 0};
            }
            break;
        case fmt8Bit:
            for (int i = 0; i < 256; ++i) {
                auto v = static_cast<uint8_t>(i);
                Palette[i] = RGBQUAD{v, v, v, 0};
            }
            break;
        default: break;
    }
}

template <class RowFn>
void TDIB::ConvertRows(uint8_t newFormat, RowFn rowFn) {
    const int32_t w = Width(), h = Height();
    int32_t newStride = 0, newRowBytes = 0, newTotal = 0;
    CalcLayout(w, h, newFormat, newStride, newRowBytes, newTotal);
    const int32_t bits = FormatBitCount(newFormat);
    const int32_t newPaletteSize = bits <= 8 ? 1 << bits : 0;
    const size_t newOffset = 40 + 4 * static_cast<size_t>(newPaletteSize);
    const size_t oldOffset = static_cast<size_t>(Bits - Memory);
    const size_t oldStride = static_cast<size_t>(Stride);
    const size_t oldRowBytes = static_cast<size_t>(RowBytes);
    const size_t rows = static_cast<size_t>(h);
    const size_t nStride = static_cast<size_t>(newStride);
    const size_t nRowBytes = static_cast<size_t>(newRowBytes);

    auto resize = [this](size_t bytes) {
        UnlockAll();
        bool ok = GlobalReAlloc(Handle, bytes, GMEM_MOVEABLE | GMEM_ZEROINIT) != 0;
        uint32_t err = GetLastError();
        Lock();
        Header = reinterpret_cast<BITMAPINFOHEADER*>(Memory);
        Palette = reinterpret_cast<RGBQUAD*>(Memory + 40);
        if (!ok) {
            LoadHeaderInfo();
            BuildRowTable();
            RaiseLastOSError(err);
        }
    };

    // One allocation up front, before anything changes.
    const size_t oldSize = GlobalSize(Handle);
    const size_t workSize = std::max({oldSize, oldOffset + rows * nStride, static_cast<size_t>(newTotal)});
    if (workSize > oldSize) resize(workSize);

    std::vector<uint8_t> temp(oldRowBytes + 8);
    auto convertRow = [&](size_t k) {
        std::memcpy(temp.data(), Memory + oldOffset + k * oldStride, oldRowBytes);
        uint8_t* dst = Memory + oldOffset + k * nStride;
        rowFn(temp.data(), dst, w);
        if (nStride > nRowBytes) std::memset(dst + nRowBytes, 0, nStride - nRowBytes);
    };
    if (nStride <= oldStride) {
        for (size_t k = 0; k < rows; ++k) convertRow(k);
    } else {
        for (size_t k = rows; k-- > 0;) convertRow(k);
    }
    if (rows * nStride > 0) std::memmove(Memory + newOffset, Memory + oldOffset, rows * nStride);

    std::memset(&FileHeader, 0, sizeof FileHeader);
    Header = reinterpret_cast<BITMAPINFOHEADER*>(Memory);
    Palette = reinterpret_cast<RGBQUAD*>(Memory + 40);
    WriteConversionPalette(newFormat);
    Header->biSizeImage = static_cast<uint32_t>(rows * nStride);
    Header->biBitCount = static_cast<uint16_t>(bits);
    Header->biClrUsed = static_cast<uint32_t>(newPaletteSize);
    Header->biClrImportant = static_cast<uint32_t>(newPaletteSize);

    if (workSize > static_cast<size_t>(newTotal)) resize(static_cast<size_t>(newTotal));
    LoadHeaderInfo();
    BuildRowTable();
}

// ---- The conversion matrix ----

void TDIB::ConvertToFormat(uint8_t target) {
    const uint8_t f = ImageFormat;
    if (target == f) return;
    switch (target) {
        case fmt1Bit:
            if (f == fmt24Bit) RGBToGray(true, true, true, true);
            if (ImageFormat == fmt8Bit) Convert8To1();
            else if (ImageFormat == fmt4Bit) Convert4To1();
            break;
        case fmt4Bit:
            if (f == fmt24Bit) RGBToGray(true, true, true, true);
            if (ImageFormat == fmt8Bit) Convert8To4();
            else if (ImageFormat == fmt1Bit) Convert1To4();
            break;
        case fmt8Bit:
            if (f == fmt24Bit) RGBToGray(true, true, true, true);
            if (ImageFormat == fmt1Bit) Convert1To8();
            else if (ImageFormat == fmt4Bit) Convert4To8();
            break;
        case fmt24Bit:
            if (f == fmt1Bit) Convert1To8();
            if (ImageFormat == fmt4Bit) Convert4To24();
            else if (ImageFormat == fmt8Bit) Convert8To24();
            break;
        default: throw Exception("Function not available :-(");
    }
}

// ---- The steps ----

namespace {

// Packs Width values, each already 0 or 1, eight to a byte with the leftmost pixel in the
// most significant bit; the unused low bits of the last byte stay 0.
template <class Get>
inline void pack1(uint8_t* dst, int32_t w, Get get) {
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        uint8_t b = 0;
        for (int i = 0; i < 8; ++i) b = static_cast<uint8_t>((b << 1) | get(x + i));
        *dst++ = b;
    }
    if (x < w) {
        uint8_t b = 0;
        int n = w - x;
        for (int i = 0; i < n; ++i) b = static_cast<uint8_t>(b | (get(x + i) << (7 - i)));
        *dst = b;
    }
}

// Packs Width nibbles two to a byte, even x in the high nibble.
template <class Get>
inline void pack4(uint8_t* dst, int32_t w, Get get) {
    int32_t x = 0;
    for (; x + 2 <= w; x += 2) *dst++ = static_cast<uint8_t>((get(x) << 4) | get(x + 1));
    if (x < w) *dst = static_cast<uint8_t>(get(x) << 4);
}

inline int bit1(const uint8_t* src, int32_t x) { return (src[x >> 3] >> (7 - (x & 7))) & 1; }
inline int nib4(const uint8_t* src, int32_t x) { return (x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4); }

}  // namespace

void TDIB::Convert8To1() {
    ConvertRows(fmt1Bit, [](const uint8_t* s, uint8_t* d, int32_t w) { pack1(d, w, [s](int32_t x) { return s[x] > 0 ? 1 : 0; }); });
}

void TDIB::Convert4To1() {
    ConvertRows(fmt1Bit, [](const uint8_t* s, uint8_t* d, int32_t w) {
        pack1(d, w, [s](int32_t x) { return nib4(s, x) > 0 ? 1 : 0; });
    });
}

void TDIB::Convert8To4() {
    ConvertRows(fmt4Bit, [](const uint8_t* s, uint8_t* d, int32_t w) { pack4(d, w, [s](int32_t x) { return s[x] >> 4; }); });
}

void TDIB::Convert1To8() {
    ConvertRows(fmt8Bit, [](const uint8_t* s, uint8_t* d, int32_t w) {
        for (int32_t x = 0; x < w; ++x) d[x] = bit1(s, x) ? 255 : 0;
    });
}

void TDIB::Convert1To4() {
    ConvertRows(fmt4Bit, [](const uint8_t* s, uint8_t* d, int32_t w) { pack4(d, w, [s](int32_t x) { return bit1(s, x) ? 15 : 0; }); });
}

void TDIB::Convert4To8() {
    // The only step that reads the source color table: gray = (blue + green + red) div 3.
    uint8_t gray[16];
    for (int v = 0; v < 16; ++v) gray[v] = static_cast<uint8_t>((Palette[v].rgbBlue + Palette[v].rgbGreen + Palette[v].rgbRed) / 3);
    ConvertRows(fmt8Bit, [&gray](const uint8_t* s, uint8_t* d, int32_t w) {
        for (int32_t x = 0; x < w; ++x) d[x] = gray[nib4(s, x)];
    });
}

void TDIB::Convert8To24() {
    ConvertRows(fmt24Bit, [](const uint8_t* s, uint8_t* d, int32_t w) {
        for (int32_t x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    });
}

void TDIB::Convert4To24() {
    ConvertRows(fmt24Bit, [](const uint8_t* s, uint8_t* d, int32_t w) {
        for (int32_t x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = static_cast<uint8_t>(16 * nib4(s, x));
    });
}

// ---- RGBToGray ----

void TDIB::RGBToGray(bool weighted, bool red, bool green, bool blue) {
    if (ImageFormat != fmt24Bit) throw Exception(kNeeds24);
    if (weighted && red && green && blue) {
        // Round(0.3 * B + 0.59 * G + 0.11 * R): each product rounded to single precision, the
        // three summed (red, green, blue term) in extended precision and rounded ties to even.
        // The sum of three singles below 256 is exact in double, so double gives the same sum.
        float tr[256], tg[256], tb[256];
        for (int v = 0; v < 256; ++v) {
            tr[v] = static_cast<float>(0.11L * v);
            tg[v] = static_cast<float>(0.59L * v);
            tb[v] = static_cast<float>(0.3L * v);
        }
        ConvertRows(fmt8Bit, [&](const uint8_t* s, uint8_t* d, int32_t w) {
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* p = s + 3 * x;
                double sum = static_cast<double>(tr[p[2]]) + static_cast<double>(tg[p[1]]) + static_cast<double>(tb[p[0]]);
                d[x] = static_cast<uint8_t>(std::llrint(sum));
            }
        });
        return;
    }
    if (!weighted && red && green && blue) {
        uint8_t avg[766];
        for (int v = 0; v < 766; ++v) avg[v] = static_cast<uint8_t>(Round(static_cast<long double>(v) / 3.0L));
        ConvertRows(fmt8Bit, [&avg](const uint8_t* s, uint8_t* d, int32_t w) {
            for (int32_t x = 0; x < w; ++x) d[x] = avg[s[3 * x] + s[3 * x + 1] + s[3 * x + 2]];
        });
        return;
    }
    const int count = int(red) + int(green) + int(blue);
    if (count == 0) throw Exception("Unable to convert RGB to Gray without one channel selected !");
    ConvertRows(fmt8Bit, [=](const uint8_t* s, uint8_t* d, int32_t w) {
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* p = s + 3 * x;
            float r = red ? p[2] : 0, g = green ? p[1] : 0, b = blue ? p[0] : 0;
            long double v;
            if (weighted)
                v = 0.3L * r + 0.59L * g + 0.11L * b;
            else
                v = (static_cast<long double>(r) + g + b) / count;
            d[x] = static_cast<uint8_t>(Round(v));
        }
    });
}

// ---- Histograms ----

bool TDIB::IsGrayPalette() const {
    switch (ImageFormat) {
        case fmt1Bit:
            return Palette[0].rgbBlue == 255 && Palette[0].rgbGreen == 255 && Palette[0].rgbRed == 255 &&
                   Palette[1].rgbBlue == 0 && Palette[1].rgbGreen == 0 && Palette[1].rgbRed == 0;
        case fmt8Bit:
            for (int i = 0; i < 256; ++i)
                if (Palette[i].rgbBlue != i || Palette[i].rgbGreen != i || Palette[i].rgbRed != i) return false;
            return true;
        default: return true;
    }
}

void TDIB::GetHistogram(THistogram& histogram) {
    if (ImageFormat == fmt1Bit || ImageFormat == fmt24Bit || (ImageFormat == fmt8Bit && IsGrayPalette()))
        GetHistogramDirect(histogram);
    else
        GetHistogramByPalette(histogram);
}

void TDIB::GetHistogramDirect(THistogram& histogram) {
    histogram.fill(0);
    const int32_t w = Width(), h = Height();
    switch (ImageFormat) {
        case fmt1Bit: {
            // Set bits of the RowBytes bytes of every row (the unused bits of the last byte
            // count too) go to bin 1; bin 0 is the rest of Width x Height, never below zero.
            uint64_t ones = 0;
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* p = Rows[y];
                int32_t i = 0;
                for (; i + 8 <= RowBytes; i += 8) {
                    uint64_t word;
                    std::memcpy(&word, p + i, 8);
                    ones += static_cast<uint64_t>(std::popcount(word));
                }
                for (; i < RowBytes; ++i) ones += static_cast<uint64_t>(std::popcount(p[i]));
            }
            uint64_t total = uint64_t(w) * uint64_t(h);
            histogram[1] = ones;
            histogram[0] = total > ones ? total - ones : 0;
            break;
        }
        case fmt8Bit: {
            // Four interleaved 32-bit counters per level, so that runs of one level (the
            // paper) do not wait on one counter. They go into the 64-bit bins before they can
            // overflow: after at most 2^31 pixels, and at the end.
            std::vector<uint32_t> partial(4 * 256);
            uint32_t* c0 = partial.data();
            uint32_t* c1 = c0 + 256;
            uint32_t* c2 = c1 + 256;
            uint32_t* c3 = c2 + 256;
            const int64_t rowsPerFlush = std::max<int64_t>(1, (int64_t(1) << 31) / std::max(w, 1));
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* p = Rows[h - 1 - y];  // in storage order, bottom row first
                int32_t x = 0;
                for (; x + 8 <= w; x += 8) {  // eight pixels per load
                    uint64_t v;
                    std::memcpy(&v, p + x, 8);
                    ++c0[v & 0xFF];
                    ++c1[(v >> 8) & 0xFF];
                    ++c2[(v >> 16) & 0xFF];
                    ++c3[(v >> 24) & 0xFF];
                    ++c0[(v >> 32) & 0xFF];
                    ++c1[(v >> 40) & 0xFF];
                    ++c2[(v >> 48) & 0xFF];
                    ++c3[v >> 56];
                }
                for (; x < w; ++x) ++c0[p[x]];
                if ((y + 1) % rowsPerFlush != 0 && y + 1 < h) continue;
                for (int32_t v = 0; v < 256; ++v) {
                    histogram[static_cast<size_t>(v)] += uint64_t(c0[v]) + c1[v] + c2[v] + c3[v];
                    c0[v] = c1[v] = c2[v] = c3[v] = 0;
                }
            }
            break;
        }
        case fmt24Bit:
            // bin Trunc(0.3 * B + 0.59 * G + 0.11 * R), in extended precision.
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* p = Rows[y];
                for (int32_t x = 0; x < w; ++x, p += 3) {
                    long double g = 0.3L * p[0] + 0.59L * p[1] + 0.11L * p[2];
                    ++histogram[static_cast<size_t>(Trunc(g))];
                }
            }
            break;
        default: break;
    }
}

void TDIB::GetHistogramByPalette(THistogram& histogram) {
    if (ImageFormat != fmt8Bit) throw Exception(kNeeds8);
    histogram.fill(0);
    uint8_t blue[256];
    for (int i = 0; i < 256; ++i) blue[i] = Palette[i].rgbBlue;
    const int32_t h = Height();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = Rows[y];
        for (int32_t x = 0; x < RowBytes; ++x) ++histogram[blue[p[x]]];
    }
}

}  // namespace qil
