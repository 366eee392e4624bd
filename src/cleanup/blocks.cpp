// Detection of text blocks and image blocks on a bilevel page.
//
// FindImagesAndText works coarse to fine on a pyramid of halved copies of the page. The
// connected components of each reduced level are candidate blocks; each is mapped back to full
// resolution, trimmed to its content and tested for the texture of text (horizontal stripes at
// a regular line period whose column profiles show two typical gap widths). Accepted text is
// blanked out of a working copy so that finer levels only see what is left; a last pass
// classifies the remaining candidates by what their finer-level children turned out to be.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cleanup/profile_bits.h"
#include "dib/dib.h"
#include "platform/exceptions.h"

namespace qil {

namespace {

const char* const kNeeds1Bit = "This operation requires 1 bit per pixel bitmap !";

// pairOr[b]: the four output bits of one source byte, output bit k (from the most significant)
// set when source bit 2k or 2k + 1 is set.
constexpr std::array<uint8_t, 256> MakePairOr() {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        int v = 0;
        for (int k = 0; k < 4; ++k)
            if (b & (0xC0 >> (2 * k))) v |= 0x8 >> k;
        t[b] = static_cast<uint8_t>(v);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kPairOr = MakePairOr();

// Black pixels of a row segment / column segment of a 1-bit image.
struct BlackCounter {
    TDIB& dib;
    bool setIsBlack;

    int32_t Row(int32_t y, int32_t x, int32_t count) const {
        if (count <= 0) return 0;
        int32_t set = bits::CountRowBits(dib.Rows[y], x, count);
        return setIsBlack ? set : count - set;
    }
    int32_t Column(int32_t x, int32_t y, int32_t count) const {
        if (count <= 0) return 0;
        int32_t set = dib.CountSetBitsInColumn(x, y, count);
        return setIsBlack ? set : count - set;
    }
};

// TrimBlock, also telling whether the result is the (0, 0, 0, 0) of an empty rectangle.
TRect Trim(TDIB& dib, const TRect& rect, int32_t tolX, int32_t tolY, bool& empty) {
    empty = false;
    const BlackCounter black{dib, dib.BlackIndex() == 1};
    TRect out = rect;
    const int32_t wd = rect.Right - rect.Left + 1;

    // 1. Top.
    int32_t run = 0;
    for (;;) {
        int32_t d = black.Row(out.Top, rect.Left, wd);
        run = d > 0 ? run + 1 : 0;
        if (out.Top >= out.Bottom || d > tolX || run > tolY) break;
        ++out.Top;
    }
    if (run > tolY) out.Top -= tolY;

    // 2. Bottom.
    run = 0;
    for (;;) {
        int32_t d = black.Row(out.Bottom, rect.Left, wd);
        run = d > 0 ? run + 1 : 0;
        if (out.Top >= out.Bottom || d > tolX || run > tolY) break;
        --out.Bottom;
    }
    if (run > tolY) out.Bottom += tolY;

    // 3. Nothing black at all.
    if (out.Top == out.Bottom && black.Row(out.Top, rect.Left, wd) == 0) {
        empty = true;
        return TRect{0, 0, 0, 0};
    }

    // 4. Left.
    const int32_t ht = out.Bottom - out.Top + 1;
    run = 0;
    for (;;) {
        int32_t d = black.Column(out.Left, out.Top, ht);
        run = d > 0 ? run + 1 : 0;
        if (out.Right <= out.Left || run > tolX || d > tolY) break;
        ++out.Left;
    }
    if (run > tolX) out.Left -= tolX;

    // 5. Right.
    run = 0;
    for (;;) {
        int32_t d = black.Column(out.Right, out.Top, ht);
        run = d > 0 ? run + 1 : 0;
        if (out.Right <= out.Left || run > tolX || d > tolY) break;
        --out.Right;
    }
    if (run > tolX) out.Right += tolX;
    return out;
}

// The checks of TrimBlock and IsTextRegion: a 1-bit image and an upright rectangle inside it.
void CheckTrimArguments(const TDIB& dib, const TRect& r) {
    if (dib.ImageFormat != fmt1Bit) throw Exception(kNeeds1Bit);
    if (r.Left < 0 || r.Top < 0 || r.Left > r.Right || r.Top > r.Bottom || r.Right > dib.Width() - 1 ||
        r.Bottom > dib.Height() - 1)
        throw Exception("Invalid rect !");
}

}  // namespace

// Notes:
//  - The result is CreateNew(Width div 2, Height div 2, fmt1Bit, XResolution div 2,
//    YResolution div 2), filled white; output pixel (X, Y) takes the result's BlackIndex when
//    any of the source pixels (2X, 2Y), (2X + 1, 2Y), (2X, 2Y + 1), (2X + 1, 2Y + 1) has a bit
//    value other than this image's WhiteIndex.
//  - Works a byte at a time; the padding bits of the result's rows stay as filled.
//  - Raises "This operation requires 1 bit per pixel bitmap !" on other formats.
TDIB* TDIB::HalfSize() {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1Bit);
    auto out = std::make_unique<TDIB>();
    const int32_t ow = Width() / 2;
    const int32_t oh = Height() / 2;
    out->CreateNew(ow, oh, fmt1Bit, XResolution() / 2, YResolution() / 2);
    out->FillWhite();
    const bool blackIsSet = out->BlackIndex() == 1;
    const bool whiteIsSet = WhiteIndex() == 1;
    const int32_t fullBytes = ow / 8;
    const int32_t tailBits = ow % 8;
    const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> tailBits);  // the valid bits of the last byte
    for (int32_t y = 0; y < oh; ++y) {
        const uint8_t* a = Rows[2 * y];
        const uint8_t* b = Rows[2 * y + 1];
        uint8_t* d = out->Rows[y];
        auto outByte = [&](int32_t j) -> uint8_t {
            // Non-white bits of the two source rows, OR-ed vertically, then pairwise.
            uint8_t n0, n1;
            if (whiteIsSet) {
                n0 = static_cast<uint8_t>(~(a[2 * j] & b[2 * j]));
                n1 = static_cast<uint8_t>(~(a[2 * j + 1] & b[2 * j + 1]));
            } else {
                n0 = static_cast<uint8_t>(a[2 * j] | b[2 * j]);
                n1 = static_cast<uint8_t>(a[2 * j + 1] | b[2 * j + 1]);
            }
            uint8_t nonWhite = static_cast<uint8_t>((kPairOr[n0] << 4) | kPairOr[n1]);
            // Non-white pixels take the black value, the others stay white (all bits 1).
            return blackIsSet ? uint8_t(0xFF) : static_cast<uint8_t>(~nonWhite);
        };
        for (int32_t j = 0; j < fullBytes; ++j) d[j] = outByte(j);
        if (tailBits) d[fullBytes] = static_cast<uint8_t>((outByte(fullBytes) & tailMask) | (d[fullBytes] & ~tailMask));
    }
    return out.release();
}

// Notes:
//  - A row segment is dropped from the top (then the bottom) while it holds at most toleranceX
//    black pixels; a stretch of more than toleranceY consecutive non-empty rows ends the
//    trimming at the start of that stretch. Columns are trimmed the same way from the left and
//    the right, the roles of the two tolerances swapped. Tolerances 0 give the tight bounding
//    box of the black pixels.
//  - A rectangle whose rows end up as one row holding no black pixel gives (0, 0, 0, 0).
//  - Raises "This operation requires 1 bit per pixel bitmap !" on other formats and
//    "Invalid rect !" for a rectangle that is inverted or not inside the image. A negative
//    tolerance counts as 0 (it would otherwise move the edges outward past the rectangle).
TRect TDIB::TrimBlock(const TRect& rect, int32_t toleranceX, int32_t toleranceY) {
    CheckTrimArguments(*this, rect);
    bool empty;
    return Trim(*this, rect, std::max(toleranceX, 0), std::max(toleranceY, 0), empty);
}

// Notes:
//  - The region is trimmed to its black pixels; Density = black pixels x 100 / its area.
//  - A column is ink when it holds more than one black pixel. The widths of the gaps between
//    ink columns are histogrammed (bin g: gaps g columns wide), the histogram smoothed with
//    window 3 and its maxima counted. Text has two peaks (letter gaps, word gaps).
//  - True when there are exactly two peaks and 15 < Density < 70. An empty region is false.
//  - The argument checks of TrimBlock apply.
bool TDIB::IsTextRegion(const TRect& rect) {
    CheckTrimArguments(*this, rect);
    bool empty;
    const TRect r = Trim(*this, rect, 0, 0, empty);
    // An empty region trims to (0, 0, 0, 0), a single pixel of density 0 or 100: never text.
    if (empty) return false;
    std::vector<int32_t> p = ColumnProfile(r);
    const int64_t w = r.Right - r.Left + 1;
    const int64_t h = r.Bottom - r.Top + 1;
    int64_t sum = 0;
    for (int32_t v : p) sum += v;
    const long double density = static_cast<long double>(sum * 100) / static_cast<long double>(w * h);

    BinarizeProfile(p, 1, 0, 1);
    std::vector<int32_t> runs;
    int32_t runCount = 0;
    RunLengths(p, runs, runCount);
    // Ink runs (positive) count as 0, gaps (negated by RunLengths) as their width.
    for (int32_t& v : runs) v = v < 0 ? -v : 0;
    std::vector<int32_t> histo;
    int32_t size = 0;
    ProfileHistogram(runs, histo, size);
    histo[0] = 0;
    SmoothProfile(histo, 3);
    std::vector<int32_t> marks;
    FindExtrema(histo, marks, false);
    const auto peaks = std::count(marks.begin(), marks.end(), 1);
    return peaks == 2 && density > 15 && density < 70;
}

// Notes:
//  - Tries N = maxPeriod down to minPeriod, skipping N < 1, N > count and any N with
//    count mod N > N div 10. The score is Values[0] + Values[N] + Values[2N] + ... (64-bit);
//    the lowest score wins, the smaller N among equal scores. 0 when no N qualifies.
int32_t TDIB::FindPeriod(const std::vector<int32_t>& values, int32_t minPeriod, int32_t maxPeriod) {
    const int64_t count = static_cast<int64_t>(values.size());
    int64_t best = 2147483647;
    int32_t result = 0;
    const int32_t low = std::max(minPeriod, 1);
    const int32_t high = static_cast<int32_t>(std::min<int64_t>(maxPeriod, count));
    for (int32_t n = high; n >= low; --n) {
        if (count % n > n / 10) continue;
        int64_t s = 0;
        for (int64_t k = 0; k < count; k += n) s += values[static_cast<size_t>(k)];
        if (s <= best) {
            best = s;
            result = n;
        }
    }
    return result;
}

}  // namespace qil
