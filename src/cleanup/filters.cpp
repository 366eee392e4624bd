// Small page filters: colored-ink dropout, repair of isolated pixels, dither removal.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

// A 1-bit row as 64-bit words, the leftmost pixel in the most significant bit, with one zero
// guard word on each side so that neighbours across word boundaries need no tests. The
// padding bits after the last pixel are loaded as they are.
class BitRow {
public:
    explicit BitRow(int32_t width)
        : words_((static_cast<size_t>(width) + 63) / 64), data_(words_ + 2, 0), bytes_(words_ * 8, 0) {}

    size_t Words() const { return words_; }
    uint64_t operator[](size_t k) const { return data_[k + 1]; }  // k may be -1 ... Words()
    uint64_t Left(size_t k) const { return (data_[k + 1] >> 1) | (data_[k] << 63); }     // pixel x - 1
    uint64_t Right(size_t k) const { return (data_[k + 1] << 1) | (data_[k + 2] >> 63); }  // pixel x + 1

    void Load(const uint8_t* row, int32_t rowBytes) {
        std::memcpy(bytes_.data(), row, static_cast<size_t>(rowBytes));
        for (size_t k = 0; k < words_; ++k) {
            uint64_t v;
            std::memcpy(&v, bytes_.data() + 8 * k, 8);
            data_[k + 1] = __builtin_bswap64(v);
        }
    }

    // Flips the bits of Mask in Row (bytes beyond RowBytes are not touched).
    static void ApplyXor(uint8_t* row, int32_t rowBytes, const std::vector<uint64_t>& mask) {
        for (size_t k = 0; k < mask.size(); ++k) {
            if (mask[k] == 0) continue;
            uint8_t b[8];
            const uint64_t v = __builtin_bswap64(mask[k]);
            std::memcpy(b, &v, 8);
            const int32_t first = static_cast<int32_t>(8 * k);
            const int32_t n = std::min(8, rowBytes - first);
            for (int32_t i = 0; i < n; ++i) row[first + i] ^= b[i];
        }
    }

private:
    size_t words_;
    std::vector<uint64_t> data_;
    std::vector<uint8_t> bytes_;
};

// Per word, the bits of the columns first ... last (inclusive); empty when first > last.
std::vector<uint64_t> ColumnMask(int32_t width, int32_t first, int32_t last) {
    std::vector<uint64_t> mask((static_cast<size_t>(width) + 63) / 64, 0);
    for (int32_t x = std::max(first, 0); x <= last && x < width; ++x) mask[static_cast<size_t>(x >> 6)] |= uint64_t(1) << (63 - (x & 63));
    return mask;
}

}  // namespace

// Notes:
//  - Works on the stored bytes (blue, green, red) of each pixel, which is what the color
//    value of GetPixelColor / SetPixelColor holds; each pixel depends only on itself.
//  - InkMargin M = 255 - Threshold as a byte; channel c dominates d when c - d > M.
//  - The rule is chosen by the exact set of selected channels: one channel must dominate both
//    others (g = that channel); two channels must both dominate the third (g = the larger of
//    the two); otherwise, and always with none or all three selected, g is the luminance
//    (Round(0.3 B) + Round(0.59 G) + Round(0.11 R)) mod 256 from tables (white gives 254).
void TDIB::DropColoredInk(bool Red, bool Green, bool Blue, int32_t Threshold) {
    std::array<uint8_t, 256> tb{}, tg{}, tr{};
    for (int32_t i = 0; i < 256; ++i) {
        tb[static_cast<size_t>(i)] = static_cast<uint8_t>(Round(0.3L * i));
        tg[static_cast<size_t>(i)] = static_cast<uint8_t>(Round(0.59L * i));
        tr[static_cast<size_t>(i)] = static_cast<uint8_t>(Round(0.11L * i));
    }
    if (!Header || BitCount() != 24) return;
    const int32_t margin = static_cast<uint8_t>(255 - Threshold);
    const int32_t mode = (Red ? 4 : 0) | (Green ? 2 : 0) | (Blue ? 1 : 0);
    const int32_t w = Width(), h = Height();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = Rows[static_cast<size_t>(y)];
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const int32_t b = p[0], g = p[1], r = p[2];
            int32_t v = -1;
            switch (mode) {
                case 4: if (r - b > margin && r - g > margin) v = r; break;
                case 2: if (g - b > margin && g - r > margin) v = g; break;
                case 1: if (b - g > margin && b - r > margin) v = b; break;
                case 3: if (b - r > margin && g - r > margin) v = std::max(b, g); break;
                case 5: if (b - g > margin && r - g > margin) v = std::max(b, r); break;
                case 6: if (g - b > margin && r - b > margin) v = std::max(g, r); break;
                default: break;
            }
            if (v < 0) v = (tb[static_cast<size_t>(b)] + tg[static_cast<size_t>(g)] + tr[static_cast<size_t>(r)]) & 255;
            p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
        }
    }
}

// Notes:
//  - Rows 1 ... Height - 2 top to bottom, columns 1 ... Width - 2; every neighbour is read as
//    it was before the call. S = edge neighbours equal to the pixel, D = corner neighbours
//    equal to it; S = 0 and D <= Aggressivity flips the pixel. Border rows and columns stay.
//  - Evaluated 64 pixels at a time: the previous and current rows are kept as they were, the
//    next row is not yet changed.
int32_t TDIB::Repair(int32_t Aggressivity) {
    if (ImageFormat != fmt1Bit) throw Exception("This operation requires 1 bit per pixel bitmap !");
    const int32_t w = Width(), h = Height();
    if (w < 3 || h < 3 || Aggressivity < 0) return 0;
    const std::vector<uint64_t> inner = ColumnMask(w, 1, w - 2);
    BitRow up(w), cur(w), down(w);
    up.Load(Rows[0], RowBytes);
    cur.Load(Rows[1], RowBytes);
    std::vector<uint64_t> flip(up.Words());
    int64_t count = 0;
    for (int32_t y = 1; y <= h - 2; ++y) {
        down.Load(Rows[static_cast<size_t>(y + 1)], RowBytes);
        for (size_t k = 0; k < flip.size(); ++k) {
            const uint64_t c = cur[k];
            const uint64_t edgesDiffer = (up[k] ^ c) & (down[k] ^ c) & (cur.Left(k) ^ c) & (cur.Right(k) ^ c);
            uint64_t ok = edgesDiffer & inner[k];
            if (ok != 0 && Aggressivity < 4) {
                const uint64_t e1 = ~(up.Left(k) ^ c), e2 = ~(up.Right(k) ^ c);
                const uint64_t e3 = ~(down.Left(k) ^ c), e4 = ~(down.Right(k) ^ c);
                // Bit-sliced sum of the four corner matches: s0 + 2 s1 + 4 s2.
                const uint64_t a0 = e1 ^ e2, a1 = e1 & e2, b0 = e3 ^ e4, b1 = e3 & e4;
                const uint64_t s0 = a0 ^ b0, carry = a0 & b0;
                const uint64_t s1 = a1 ^ b1 ^ carry;
                const uint64_t s2 = (a1 & b1) | (a1 & carry) | (b1 & carry);
                uint64_t atMost;
                switch (Aggressivity) {
                    case 0: atMost = ~(s0 | s1 | s2); break;
                    case 1: atMost = ~(s1 | s2); break;
                    case 2: atMost = ~(s2 | (s1 & s0)); break;
                    default: atMost = ~s2; break;
                }
                ok &= atMost;
            }
            flip[k] = ok;
            count += __builtin_popcountll(ok);
        }
        BitRow::ApplyXor(Rows[static_cast<size_t>(y)], RowBytes, flip);
        std::swap(up, cur);  // the unchanged copy of row y becomes the row above
        std::swap(cur, down);
    }
    return static_cast<int32_t>(count);
}

// Notes:
//  - Tests are made on the page as it was: a non-white pixel (raw value <> WhiteIndex) is
//    whitened when its left and right neighbours are white (columns 1 ... Width - 2) or its
//    upper and lower neighbours are (rows 1 ... Height - 2). A stroke two pixels thick in
//    both directions survives.
//  - 1-bit pages are done 64 pixels at a time from saved rows; other formats compare raw
//    values of a duplicate.
void TDIB::RemoveDither() {
    const int32_t w = Width(), h = Height();
    if (w <= 0 || h <= 0) return;
    const int32_t white = WhiteIndex();
    if (ImageFormat == fmt1Bit) {
        const uint64_t invert = white != 0 ? ~uint64_t(0) : 0;  // to "non-white" bits
        const std::vector<uint64_t> inner = ColumnMask(w, 1, w - 2), all = ColumnMask(w, 0, w - 1);
        BitRow up(w), cur(w), down(w);
        cur.Load(Rows[0], RowBytes);
        std::vector<uint64_t> clear(cur.Words());
        for (int32_t y = 0; y < h; ++y) {
            const bool vertical = y >= 1 && y <= h - 2;
            if (y + 1 < h) down.Load(Rows[static_cast<size_t>(y + 1)], RowBytes);
            for (size_t k = 0; k < clear.size(); ++k) {
                const uint64_t n = cur[k] ^ invert;
                uint64_t c = n & ~(cur.Left(k) ^ invert) & ~(cur.Right(k) ^ invert) & inner[k];
                if (vertical) c |= n & ~(up[k] ^ invert) & ~(down[k] ^ invert) & all[k];
                clear[k] = c;
            }
            BitRow::ApplyXor(Rows[static_cast<size_t>(y)], RowBytes, clear);
            std::swap(up, cur);
            std::swap(cur, down);
        }
        return;
    }
    std::unique_ptr<TDIB> copy(Duplicate());
    for (int32_t x = 1; x <= w - 2; ++x)
        for (int32_t y = 0; y < h; ++y)
            if (copy->GetPixel(x, y) != white && copy->GetPixel(x - 1, y) == white && copy->GetPixel(x + 1, y) == white)
                SetPixel(x, y, white);
    for (int32_t y = 1; y <= h - 2; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (copy->GetPixel(x, y) != white && copy->GetPixel(x, y - 1) == white && copy->GetPixel(x, y + 1) == white)
                SetPixel(x, y, white);
}

}  // namespace qil
