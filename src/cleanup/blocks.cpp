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
#include <cstring>
#include <memory>
#include <vector>

#include "cleanup/blobs.h"
#include "cleanup/profile_bits.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

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
//  - Works eight source bytes at a time; the padding bits of the result's rows stay as filled.
//  - Raises "This operation requires 1 bit per pixel bitmap !" on other formats.
TDIB* TDIB::HalfSize() {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1Bit);
    auto out = std::make_unique<TDIB>();
    const int32_t ow = Width() / 2;
    const int32_t oh = Height() / 2;
    out->CreateNew(ow, oh, fmt1Bit, XResolution() / 2, YResolution() / 2);
    const bool blackIsSet = out->BlackIndex() == 1;
    // The rows are written whole below: only the bits after the last pixel and the row padding
    // keep the white fill, and they get it there. (With a black-is-set table the fill comes
    // first, as the rows then keep it.)
    if (blackIsSet) out->FillWhite();
    const size_t padding = static_cast<size_t>(out->Stride - out->RowBytes);
    const bool whiteIsSet = WhiteIndex() == 1;
    const int32_t fullBytes = ow / 8;
    const int32_t tailBits = ow % 8;
    const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> tailBits);  // the valid bits of the last byte
    for (int32_t y = oh - 1; y >= 0; --y) {  // storage order: bottom rows first
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
        int32_t j = 0;
        if (!blackIsSet) {
            // Four result bytes from eight bytes of each source row: the non-white bits as one
            // 64-bit value, leftmost pixel in the top bit, each pair OR-ed, then the 32 pair
            // bits squeezed together.
            for (; j + 4 <= fullBytes; j += 4) {
                uint64_t va, vb;
                std::memcpy(&va, a + 2 * j, 8);
                std::memcpy(&vb, b + 2 * j, 8);
                uint64_t t = __builtin_bswap64(whiteIsSet ? ~(va & vb) : (va | vb));
                t = (t | (t << 1)) & 0xAAAAAAAAAAAAAAAAull;  // pair k's OR at bit 63 - 2k
                t = (t | (t << 1)) & 0xCCCCCCCCCCCCCCCCull;
                t = (t | (t << 2)) & 0xF0F0F0F0F0F0F0F0ull;
                t = (t | (t << 4)) & 0xFF00FF00FF00FF00ull;
                t = (t | (t << 8)) & 0xFFFF0000FFFF0000ull;
                t = (t | (t << 16)) & 0xFFFFFFFF00000000ull;  // pair k at bit 63 - k
                const uint32_t bytes = __builtin_bswap32(~static_cast<uint32_t>(t >> 32));
                std::memcpy(d + j, &bytes, 4);
            }
        }
        for (; j < fullBytes; ++j) d[j] = outByte(j);
        if (tailBits) {
            const uint8_t kept = blackIsSet ? d[fullBytes] : uint8_t(0xFF);
            d[fullBytes] = static_cast<uint8_t>((outByte(fullBytes) & tailMask) | (kept & ~tailMask));
        }
        if (!blackIsSet && padding) std::memset(d + out->RowBytes, 0xFF, padding);
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

TDIB::TBlockSizes TDIB::BlockSizes(int32_t xResolution, int32_t yResolution) {
    const Extended x = xResolution, y = yResolution;
    auto size = [](Extended v) { return static_cast<int32_t>(std::max<int64_t>(Round(v), 0)); };
    return TBlockSizes{size(x / 100), size(y / 100), size(x / 50), size(y / 50), size(y * 0.08L), size(y * 0.3L)};
}

namespace {

// Sets every pixel of the inclusive rectangle (inside the image) of a 1-bit image to the bit
// value `value`: PaintRect a byte at a time.
void FillRect1(TDIB& dib, const TRect& r, int32_t value) {
    const int32_t firstByte = r.Left >> 3, lastByte = r.Right >> 3;
    const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (r.Left & 7));
    const uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> ((r.Right & 7) + 1));
    const uint8_t fill = value ? 0xFF : 0x00;
    auto put = [&](uint8_t& b, uint8_t mask) { b = static_cast<uint8_t>((b & ~mask) | (fill & mask)); };
    for (int32_t y = r.Top; y <= r.Bottom; ++y) {
        uint8_t* row = dib.Rows[y];
        if (firstByte == lastByte) {
            put(row[firstByte], static_cast<uint8_t>(headMask & tailMask));
            continue;
        }
        put(row[firstByte], headMask);
        if (lastByte - firstByte > 1) std::memset(row + firstByte + 1, fill, static_cast<size_t>(lastByte - firstByte - 1));
        put(row[lastByte], tailMask);
    }
}

int64_t Area(const TRect& r) { return int64_t(r.Right - r.Left + 1) * int64_t(r.Bottom - r.Top + 1); }

// The candidate lists of the pyramid (index = level; level 0 has none) and the classification
// of a candidate by its finer-level children.
class Classifier {
public:
    explicit Classifier(std::vector<std::unique_ptr<TBlobList>>& lists) : lists_(lists), memo_(lists.size()) {
        for (size_t l = 0; l < lists.size(); ++l)
            if (lists[l]) memo_[l].assign(static_cast<size_t>(lists[l]->Count()), -1);
    }

    // A candidate already decided keeps its Tag; an undecided one of level 1 becomes an image
    // (Tag 2). Otherwise the finer candidates overlapping it by more than 80 % are classified
    // in turn: text (1) when the image children cover less than 5 % of its area, image (2)
    // when the text children do, undecided (0) otherwise or when there are no finer
    // candidates. That verdict is not stored in the candidate (it is remembered here only to
    // avoid classifying a candidate again; it cannot change during the pass).
    int32_t ClassifyBlob(int32_t q, int32_t lvl) {
        TBlob& blob = lists_[lvl]->Items(q);
        if (blob.Tag != 0 || lvl < 2) {
            if (blob.Tag == 0) blob.Tag = 2;
            return blob.Tag;
        }
        int8_t& known = memo_[lvl][static_cast<size_t>(q)];
        if (known >= 0) return known;
        const int64_t limit = Area(blob) / 20;
        int64_t textArea = 0, imageArea = 0;
        int32_t v = 0;
        TBlobList& children = *lists_[lvl - 1];
        for (int32_t c = 0; c < children.Count(); ++c) {
            const TBlob& child = children.Items(c);
            if (OverlapPercent(child, blob) > 80) {
                const int64_t area = Area(child);
                const int32_t kind = ClassifyBlob(c, lvl - 1);
                if (kind == 1) textArea += area;
                else if (kind == 2) imageArea += area;
            }
            v = imageArea < limit ? 1 : textArea < limit ? 2 : 0;
        }
        known = static_cast<int8_t>(v);
        return v;
    }

private:
    std::vector<std::unique_ptr<TBlobList>>& lists_;
    std::vector<std::vector<int8_t>> memo_;
};

}  // namespace

// Notes:
//  - Pyramid: level 0 is a Duplicate of the page (the working copy), level k the HalfSize of
//    level k - 1, one level per halving of (Width, Height) done while both exceed 100.
//  - Text pass, from the top level down to 1: the 4-connected components of the level image,
//    less those at most 5 % black and those inside an earlier one, are the candidates; each
//    (from the last) is mapped to full resolution, clipped to the page, trimmed on the page
//    with the tolerances and stored back. Candidates below the minimum block size are skipped;
//    those inside an accepted text block are text (Tag 1). The others are cut into strips one
//    line period high (the period of the smoothed row profile, or the block height); the block
//    is text when at most one strip fails IsTextRegion (the test stops at the third failure)
//    or the whole block passes it; text is recorded, blanked in the working copy and tagged.
//    The pass ends after the first level where no candidate was rejected.
//  - Classification pass, from the top level down, candidates in index order: ClassifyBlob
//    (see Classifier); a text or image verdict adds the rectangle to its list unless a block
//    of either list already contains it (shrunk by 2).
//  - Each list then gets MergeOverlapping(50), ComputeCenters and SortByCenter.
//  - A resolution below 7 dpi gives a minimum period of 0, which is never tried (the block
//    height serves as the period). A candidate whose trimmed rectangle holds no black pixel is
//    never examined or classified (it only matters when the minimum block size is 1 or less).
//  - onProgress, when given, gets the index of every candidate about to be examined.
void TDIB::FindImagesAndText(TBlobList& textBlocks, TBlobList& imageBlocks, const TProgressEvent& onProgress) {
    if (ImageFormat != fmt1Bit) throw Exception(kNeeds1Bit);
    imageBlocks.Clear();
    textBlocks.Clear();
    const TBlockSizes sz = BlockSizes(XResolution(), YResolution());
    const int32_t pageW = Width();
    const int32_t pageH = Height();

    // 1. The pyramid.
    std::vector<std::unique_ptr<TDIB>> levels;
    levels.emplace_back(Duplicate());
    for (int32_t w = pageW, h = pageH; w > 100 && h > 100; w /= 2, h /= 2) levels.emplace_back(levels.back()->HalfSize());
    const int32_t top = static_cast<int32_t>(levels.size()) - 1;
    std::vector<std::unique_ptr<TBlobList>> lists(levels.size());
    std::vector<std::vector<bool>> emptyCandidate(levels.size());
    for (int32_t l = 1; l <= top; ++l) lists[l] = std::make_unique<TBlobList>();
    TDIB& work = *levels[0];

    auto bigEnough = [&](const TRect& r) {
        return r.Right - r.Left + 1 >= sz.MinBlockWidth && r.Bottom - r.Top + 1 >= sz.MinBlockHeight;
    };

    // 2. Text pass.
    for (int32_t lvl = top; lvl >= 1; --lvl) {
        bool done = true;
        TBlobList& list = *lists[lvl];
        levels[lvl]->FindBlobs(false, 0, 0, 0, &list);
        list.RemoveByDensity(0, 5);
        list.RemoveContained();
        emptyCandidate[lvl].assign(static_cast<size_t>(list.Count()), false);
        const int32_t scale = int32_t(1) << lvl;
        for (int32_t q = list.Count() - 1; q >= 0; --q) {
            if (onProgress) onProgress(q);
            TBlob& cand = list.Items(q);
            TRect r{cand.Left * scale, cand.Top * scale, (cand.Right + 1) * scale - 1, (cand.Bottom + 1) * scale - 1};
            r.Right = std::min(r.Right, pageW - 1);
            r.Bottom = std::min(r.Bottom, pageH - 1);
            bool empty;
            r = Trim(*this, r, sz.ToleranceX, sz.ToleranceY, empty);
            cand.SetRect(r);
            if (empty) {
                emptyCandidate[lvl][static_cast<size_t>(q)] = true;
                continue;
            }
            if (!bigEnough(r)) continue;
            if (textBlocks.IndexOfContaining(r) >= 0) {
                cand.Tag = 1;
                continue;
            }
            std::vector<int32_t> profile = work.RowProfile(r);
            const int32_t hb = r.Bottom - r.Top + 1;
            SmoothProfileWeighted(profile);
            int32_t period = FindPeriod(profile, sz.MinPeriod, sz.MaxPeriod);
            if (period == 0) period = hb;
            const int32_t strips = hb / period;
            int32_t passed = 0;
            for (int32_t i = 0; i < strips; ++i) {
                const TRect strip{r.Left, r.Top + i * period, r.Right, r.Top + i * period + period - 1};
                if (work.IsTextRegion(strip)) ++passed;
                if (i - 1 > passed) break;
            }
            if (passed >= strips - 1 || work.IsTextRegion(r)) {
                textBlocks.AddBlob(r, 0, 0, 0);
                FillRect1(work, r, work.WhiteIndex());  // PaintRect(r, WhiteIndex), a byte at a time
                cand.Tag = 1;
            } else {
                done = false;
            }
        }
        if (done) break;
    }

    // 3. Classification pass.
    textBlocks.Clear();
    Classifier classifier(lists);
    for (int32_t lvl = top; lvl >= 1; --lvl) {
        TBlobList& list = *lists[lvl];
        for (int32_t q = 0; q < list.Count(); ++q) {
            const TBlob& cand = list.Items(q);
            if (!bigEnough(cand) || emptyCandidate[lvl][static_cast<size_t>(q)]) continue;
            const int32_t v = classifier.ClassifyBlob(q, lvl);
            if (v != 1 && v != 2) continue;
            const TRect r = cand.AsRect();
            if (imageBlocks.IndexOfContaining(r) >= 0 || textBlocks.IndexOfContaining(r) >= 0) continue;
            (v == 1 ? textBlocks : imageBlocks).AddBlob(r, 0, 0, 0);
        }
    }

    // 4. Reading order.
    for (TBlobList* result : {&textBlocks, &imageBlocks}) {
        result->MergeOverlapping(50);
        result->ComputeCenters();
        result->SortByCenter();
    }
}

// Notes:
//  - The four edges (Left, Top)-(Right, Top), (Left, Bottom)-(Right, Bottom),
//    (Left, Top)-(Left, Bottom), (Right, Top)-(Right, Bottom) through DrawLine.
//  - Points outside the image are skipped: each edge is clipped to the image first (frames
//    grown around blocks at the page edge reach outside it).
void TDIB::DrawBlobFrame(const TRect& rect, int32_t index) {
    const int32_t w = Width(), h = Height();
    auto horizontal = [&](int32_t y, int32_t x1, int32_t x2) {
        if (x1 > x2) std::swap(x1, x2);
        x1 = std::max(x1, 0);
        x2 = std::min(x2, w - 1);
        if (y >= 0 && y < h && x1 <= x2) DrawLine(x1, y, x2, y, index);
    };
    auto vertical = [&](int32_t x, int32_t y1, int32_t y2) {
        if (y1 > y2) std::swap(y1, y2);
        y1 = std::max(y1, 0);
        y2 = std::min(y2, h - 1);
        if (x >= 0 && x < w && y1 <= y2) DrawLine(x, y1, x, y2, index);
    };
    horizontal(rect.Top, rect.Left, rect.Right);
    horizontal(rect.Bottom, rect.Left, rect.Right);
    vertical(rect.Left, rect.Top, rect.Bottom);
    vertical(rect.Right, rect.Top, rect.Bottom);
}

void TDIB::DrawBlobFrames(TBlobList& list, int32_t index) {
    for (int32_t i = 0; i < list.Count(); ++i) DrawBlobFrame(list.Items(i), index);
}

}  // namespace qil
