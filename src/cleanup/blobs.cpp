// Blob lists, point lists, rectangle routines, the component tracers and the two painters.
#include "cleanup/blobs.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cleanup/blobs_internal.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

[[noreturn]] void RaiseIndexError(int32_t index) { throw EListError(Format("List index out of bounds (%d)", index)); }

int64_t RectArea(const TRect& r) { return (int64_t(r.Right) - r.Left + 1) * (int64_t(r.Bottom) - r.Top + 1); }

// One half of RectsIntersect: A against B, rows then columns.
bool IntersectHalf(const TRect& a, const TRect& b) {
    bool rows = (a.Top >= b.Top && a.Top <= b.Bottom) || (a.Bottom >= b.Top && a.Bottom <= b.Bottom) ||
                (a.Top <= b.Top && a.Bottom >= b.Bottom);
    if (!rows) return false;
    return (a.Left >= b.Left && a.Left <= b.Right) || (a.Right >= b.Left && a.Right <= b.Right) ||
           (a.Left <= b.Left && a.Right >= b.Right);
}

}  // namespace

// ---- TBlobList ----

TBlob& TBlobList::Items(int32_t index) {
    if (index < 0 || index >= Count()) RaiseIndexError(index);
    return *FItems[static_cast<size_t>(index)];
}

const TBlob& TBlobList::Items(int32_t index) const {
    if (index < 0 || index >= Count()) RaiseIndexError(index);
    return *FItems[static_cast<size_t>(index)];
}

void TBlobList::Delete(int32_t index) {
    if (index < 0 || index >= Count()) RaiseIndexError(index);
    FItems.erase(FItems.begin() + index);
}

int32_t TBlobList::AddRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    auto blob = std::make_unique<TBlob>();
    blob->Left = left;
    blob->Top = top;
    blob->Right = right;
    blob->Bottom = bottom;
    FItems.push_back(std::move(blob));
    return Count() - 1;
}

int32_t TBlobList::AddBlob(const TRect& rect, int32_t pixelCount, int32_t centerX, int32_t centerY) {
    auto blob = std::make_unique<TBlob>();
    blob->SetRect(rect);
    blob->Tag = 0;
    blob->PixelCount = pixelCount;
    blob->CenterX = centerX;
    blob->CenterY = centerY;
    FItems.push_back(std::move(blob));
    return Count() - 1;
}

void TBlobList::SortByLeft() {
    detail::HoareQuickSort(FItems, [](const std::unique_ptr<TBlob>& b) { return detail::Key1(b->Left); });
}

void TBlobList::SortByTop() {
    detail::HoareQuickSort(FItems, [](const std::unique_ptr<TBlob>& b) { return detail::Key1(b->Top); });
}

void TBlobList::SortByLeftTop() {
    detail::HoareQuickSort(FItems, [](const std::unique_ptr<TBlob>& b) { return detail::Key2(b->Left, b->Top); });
}

void TBlobList::SortByCenter() {
    detail::HoareQuickSort(FItems,
                           [](const std::unique_ptr<TBlob>& b) { return detail::Key2(b->CenterY, b->CenterX); });
}

void TBlobList::ComputeCenters() {
    for (auto& b : FItems) {
        b->CenterX = static_cast<int32_t>((int64_t(b->Left) + b->Right) / 2);
        b->CenterY = static_cast<int32_t>((int64_t(b->Top) + b->Bottom) / 2);
    }
}

void TBlobList::MergeOverlapping(double percent) {
    bool changed;
    do {
        changed = false;
        const int32_t c = Count();
        for (int32_t i = 0; i < c; ++i) {
            // The inner bounds are fixed when the inner loop starts; deletions only lower
            // Count, so every j visited is still a valid index.
            const int32_t jStart = Count() - 1;
            for (int32_t j = jStart; j >= i + 1; --j) {
                TBlob& a = *FItems[static_cast<size_t>(i)];
                const TBlob& b = *FItems[static_cast<size_t>(j)];
                bool qualifies = percent == 0 ? RectsIntersect(a, b) : OverlapPercent(a, b) >= percent;
                if (qualifies) {
                    a.SetRect(UnionRects(a, b));
                    Delete(j);
                    changed = true;
                }
            }
        }
    } while (changed);
}

int32_t TBlobList::IndexOfContaining(const TRect& rect) const {
    TRect s{rect.Left + 2, rect.Top + 2, rect.Right - 2, rect.Bottom - 2};
    for (int32_t i = 0; i < Count(); ++i)
        if (RectInside(s, *FItems[static_cast<size_t>(i)])) return i;
    return -1;
}

void TBlobList::RemoveByDensity(double low, double high) {
    for (int32_t i = Count() - 1; i >= 0; --i) {
        const TBlob& b = *FItems[static_cast<size_t>(i)];
        // The area is taken in 64 bits, so a rectangle of more than 2^31 pixels (or a large
        // pixel count times 100) cannot wrap around.
        const double density = static_cast<double>(static_cast<long double>(b.PixelCount) * 100.0L /
                                                   static_cast<long double>(RectArea(b)));
        if (low <= density && density <= high) Delete(i);
    }
}

// A pass of the description (for every record i in turn, delete the later records inside it)
// keeps exactly the records that no earlier kept record contains, and the next pass then
// finds nothing to delete; so one ordered sweep gives the same list. A kept record is filed
// in the cells of a coarse grid that it overlaps, and a record can only lie inside a kept one
// filed in the cell of its top-left corner, so each record is tested against a few
// candidates instead of all of them. Lists holding an inverted rectangle (Left > Right or
// Top > Bottom), for which the corner argument fails, are swept against every kept record.
void TBlobList::RemoveContained() {
    const size_t n = FItems.size();
    if (n < 2) return;
    bool upright = true;
    int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
    for (const auto& b : FItems) {
        upright = upright && b->Left <= b->Right && b->Top <= b->Bottom;
        minX = std::min<int64_t>(minX, b->Left), maxX = std::max<int64_t>(maxX, b->Right);
        minY = std::min<int64_t>(minY, b->Top), maxY = std::max<int64_t>(maxY, b->Bottom);
    }
    std::vector<uint8_t> keep(n, 0);
    if (!upright) {
        std::vector<size_t> kept;
        for (size_t k = 0; k < n; ++k) {
            bool inside = false;
            for (size_t i : kept)
                if (RectInside(*FItems[k], *FItems[i])) {
                    inside = true;
                    break;
                }
            if (!inside) kept.push_back(k), keep[k] = 1;
        }
    } else {
        constexpr int64_t kCells = 64;  // per side, at most
        const int64_t spanX = maxX - minX + 1, spanY = maxY - minY + 1;
        const int64_t cellW = (spanX + kCells - 1) / kCells, cellH = (spanY + kCells - 1) / kCells;
        const int64_t gx = (spanX + cellW - 1) / cellW, gy = (spanY + cellH - 1) / cellH;
        std::vector<std::vector<uint32_t>> grid(static_cast<size_t>(gx * gy));
        for (size_t k = 0; k < n; ++k) {
            const TBlob& r = *FItems[k];
            const auto& cell = grid[static_cast<size_t>((r.Top - minY) / cellH * gx + (r.Left - minX) / cellW)];
            bool inside = false;
            for (uint32_t i : cell)
                if (RectInside(r, *FItems[i])) {
                    inside = true;
                    break;
                }
            if (inside) continue;
            keep[k] = 1;
            for (int64_t cy = (r.Top - minY) / cellH; cy <= (r.Bottom - minY) / cellH; ++cy)
                for (int64_t cx = (r.Left - minX) / cellW; cx <= (r.Right - minX) / cellW; ++cx)
                    grid[static_cast<size_t>(cy * gx + cx)].push_back(static_cast<uint32_t>(k));
        }
    }
    size_t out = 0;
    for (size_t k = 0; k < n; ++k)
        if (keep[k]) FItems[out++] = std::move(FItems[k]);
    FItems.resize(out);
}

// ---- TPointList ----

TTracePoint& TPointList::Items(int32_t index) {
    if (index < 0 || index >= Count()) RaiseIndexError(index);
    return *FItems[static_cast<size_t>(index)];
}

int32_t TPointList::Add(int32_t x, int32_t y, uint8_t flag) {
    auto p = std::make_unique<TTracePoint>();
    p->X = x;
    p->Y = y;
    p->Expanded = flag;
    FItems.push_back(std::move(p));
    return Count() - 1;
}

// ---- Rectangle routines ----

bool RectsEqual(TRect a, TRect b) {
    return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

bool IsZeroRect(TRect a) { return a.Left == 0 && a.Top == 0 && a.Right == 0 && a.Bottom == 0; }

bool RectsIntersect(TRect a, TRect b) { return IntersectHalf(a, b) || IntersectHalf(b, a); }

bool RectInside(TRect a, TRect b) {
    return a.Left >= b.Left && a.Right <= b.Right && a.Top >= b.Top && a.Bottom <= b.Bottom;
}

bool TouchesVertically(TRect a, TRect b) {
    a.Top -= 1;
    a.Bottom += 1;
    return RectsIntersect(a, b);
}

bool TouchesHorizontally(TRect a, TRect b) {
    a.Left -= 1;
    a.Right += 1;
    return RectsIntersect(a, b);
}

TRect UnionRects(TRect a, TRect b) {
    return TRect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
                 std::max(a.Bottom, b.Bottom)};
}

double OverlapPercent(TRect a, TRect b) {
    TRect i;
    IntersectRect(i, a, b);  // exclusive edges: one shared column or row is empty
    if (IsZeroRect(i)) return 0;
    const int64_t smaller = std::min(RectArea(a), RectArea(b));
    return static_cast<double>(static_cast<long double>(RectArea(i)) * 100.0L / static_cast<long double>(smaller));
}

bool NearHorizontally(TRect a, TRect b, int32_t gap) {
    a.Left -= gap / 2;
    a.Right += gap / 2;
    return RectsIntersect(a, b);
}

bool NearVertically(TRect a, TRect b, int32_t gap) {
    a.Top -= gap / 2;
    a.Bottom += gap / 2;
    return RectsIntersect(a, b);
}

void CollectIntersecting(TRect rect, TBlobList& source, TBlobList& target) {
    source.SortByTop();
    for (int32_t i = 0; i < source.Count(); ++i) {
        const TBlob& b = source.Items(i);
        if (RectsIntersect(rect, b)) target.AddBlob(b, 0, 0, 0);
        if (b.Top > rect.Bottom) break;
    }
}

// ---- Component labelling ----

namespace detail {

void LabelComponents(TDIB& dib, bool eightConnected, std::vector<TComponent>& out) {
    out.clear();
    const int32_t w = dib.Width(), h = dib.Height();
    if (w <= 0 || h <= 0) return;
    const bool blackIsOne = dib.BlackIndex() != 0;
    const int32_t reach = eightConnected ? 1 : 0;

    // 1. Runs of black pixels, row by row. A row is loaded into 64-bit words, the leftmost
    //    pixel in the most significant bit, black as 1 and the padding beyond Width as 0.
    const size_t words = (static_cast<size_t>(w) + 63) / 64;
    const int32_t rowBytes = dib.RowBytes;
    std::vector<uint8_t> bytes(words * 8, 0);
    std::vector<uint64_t> bits(words, 0);
    const int32_t tailBits = w - static_cast<int32_t>((words - 1) * 64);
    const uint64_t tailMask = tailBits == 64 ? ~uint64_t(0) : ~uint64_t(0) << (64 - tailBits);

    std::vector<int32_t> runStart, runEnd, rowFirst(static_cast<size_t>(h) + 1, 0);
    runStart.reserve(1 << 16);
    runEnd.reserve(1 << 16);
    for (int32_t y = 0; y < h; ++y) {
        rowFirst[static_cast<size_t>(y)] = static_cast<int32_t>(runStart.size());
        std::memcpy(bytes.data(), dib.Rows[static_cast<size_t>(y)], static_cast<size_t>(rowBytes));
        for (size_t k = 0; k < words; ++k) {
            uint64_t v;
            std::memcpy(&v, bytes.data() + 8 * k, 8);
            v = __builtin_bswap64(v);
            if (!blackIsOne) v = ~v;
            bits[k] = v;
        }
        bits[words - 1] &= tailMask;

        bool inRun = false;
        int64_t start = 0;
        for (size_t k = 0; k < words; ++k) {
            const uint64_t v = bits[k];
            const int64_t base = static_cast<int64_t>(k) * 64;
            int pos = 0;
            while (pos < 64) {
                if (!inRun) {
                    const uint64_t rem = v << pos;
                    if (rem == 0) break;
                    pos += __builtin_clzll(rem);
                    start = base + pos;
                    inRun = true;
                } else {
                    const uint64_t rem = ~v << pos;
                    if (rem == 0) break;
                    pos += __builtin_clzll(rem);
                    runStart.push_back(static_cast<int32_t>(start));
                    runEnd.push_back(static_cast<int32_t>(base + pos - 1));
                    inRun = false;
                }
            }
        }
        if (inRun) {
            runStart.push_back(static_cast<int32_t>(start));
            runEnd.push_back(w - 1);
        }
    }
    rowFirst[static_cast<size_t>(h)] = static_cast<int32_t>(runStart.size());
    const size_t runs = runStart.size();
    if (runs == 0) return;

    // 2. Union-find over the runs; the root of a set is its smallest run index.
    std::vector<int32_t> parent(runs);
    for (size_t r = 0; r < runs; ++r) parent[r] = static_cast<int32_t>(r);
    auto find = [&parent](int32_t x) {
        while (parent[static_cast<size_t>(x)] != x) {
            int32_t& px = parent[static_cast<size_t>(x)];
            px = parent[static_cast<size_t>(px)];
            x = px;
        }
        return x;
    };
    for (int32_t y = 1; y < h; ++y) {
        int32_t i = rowFirst[static_cast<size_t>(y - 1)];
        const int32_t prevEnd = rowFirst[static_cast<size_t>(y)];
        const int32_t curEnd = rowFirst[static_cast<size_t>(y + 1)];
        for (int32_t r = prevEnd; r < curEnd; ++r) {
            const int32_t s = runStart[static_cast<size_t>(r)] - reach;
            const int32_t e = runEnd[static_cast<size_t>(r)] + reach;
            while (i < prevEnd && runEnd[static_cast<size_t>(i)] < s) ++i;
            for (int32_t j = i; j < prevEnd && runStart[static_cast<size_t>(j)] <= e; ++j) {
                int32_t a = find(r), b = find(j);
                if (a == b) continue;
                if (a < b) std::swap(a, b);
                parent[static_cast<size_t>(a)] = b;
            }
        }
    }

    // 3. Records. Runs are visited in index order, so a set's root comes first.
    std::vector<int32_t> label(runs);
    std::vector<TComponent> comps;
    std::vector<int32_t> seedY;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t first = rowFirst[static_cast<size_t>(y)], last = rowFirst[static_cast<size_t>(y + 1)];
        for (int32_t r = first; r < last; ++r) {
            const int32_t root = find(r);
            const int32_t s = runStart[static_cast<size_t>(r)], e = runEnd[static_cast<size_t>(r)];
            const uint64_t len = static_cast<uint64_t>(e - s + 1);
            const uint64_t sumX = (static_cast<uint64_t>(s) + static_cast<uint64_t>(e)) * len / 2;
            if (root == r) {
                label[static_cast<size_t>(r)] = static_cast<int32_t>(comps.size());
                comps.push_back(TComponent{s, y, e, y, static_cast<int64_t>(len), sumX, static_cast<uint64_t>(y) * len});
                seedY.push_back(y);
                continue;
            }
            const int32_t c = label[static_cast<size_t>(root)];
            label[static_cast<size_t>(r)] = c;
            TComponent& t = comps[static_cast<size_t>(c)];
            if (s < t.Left) {
                t.Left = s;
                seedY[static_cast<size_t>(c)] = y;  // rows come top-down: the first is the topmost
            }
            if (e > t.Right) t.Right = e;
            t.Bottom = y;
            t.N += static_cast<int64_t>(len);
            t.SumX += sumX;
            t.SumY += static_cast<uint64_t>(y) * len;
        }
    }

    // 4. Seed order: by leftmost column, then by the topmost pixel in that column.
    std::vector<std::pair<uint64_t, int32_t>> order(comps.size());
    for (size_t c = 0; c < comps.size(); ++c)
        order[c] = {(static_cast<uint64_t>(comps[c].Left) << 32) | static_cast<uint32_t>(seedY[c]),
                    static_cast<int32_t>(c)};
    std::sort(order.begin(), order.end());
    out.reserve(comps.size());
    for (const auto& o : order) out.push_back(comps[static_cast<size_t>(o.second)]);
}

}  // namespace detail

// ---- Tracers ----

namespace {

void RequireOneBit(const TDIB& dib) {
    if (dib.ImageFormat != fmt1Bit) throw Exception("This operation requires 1 bit per pixel bitmap !");
}

int32_t Centroid(uint64_t sum, int64_t n) {
    return static_cast<int32_t>(Round(static_cast<long double>(sum) / static_cast<long double>(n)));
}

// A count beyond 32 bits (only possible on a gigantic page) is stored saturated.
int32_t Saturate(int64_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

void TraceInto(TDIB& dib, bool eight, int32_t minWidth, int32_t minHeight, int32_t minPixels, TBlobList* list) {
    RequireOneBit(dib);
    if (!list) return;  // a trace without a list has no effect
    std::vector<detail::TComponent> comps;
    detail::LabelComponents(dib, eight, comps);
    const int64_t minN = std::max<int32_t>(0, minPixels);
    for (const auto& c : comps) {
        if (c.N < minN) continue;
        const int64_t width = int64_t(c.Right) - c.Left + 1, height = int64_t(c.Bottom) - c.Top + 1;
        if (width >= minWidth && height >= minHeight)
            list->AddBlob(TRect{c.Left, c.Top, c.Right, c.Bottom}, Saturate(c.N), Centroid(c.SumX, c.N),
                          Centroid(c.SumY, c.N));
    }
}

}  // namespace

void TDIB::FindBlobs(bool EightConnected, int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List) {
    if (EightConnected)
        FindBlobs8(MinWidth, MinHeight, MinPixels, List);
    else
        FindBlobs4(MinWidth, MinHeight, MinPixels, List);
}

void TDIB::FindBlobs8(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List) {
    TraceInto(*this, true, MinWidth, MinHeight, MinPixels, List);
}

void TDIB::FindBlobs4(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, TBlobList* List) {
    TraceInto(*this, false, MinWidth, MinHeight, MinPixels, List);
}

void TDIB::FindBlobsInRange(int32_t MinWidth, int32_t MinHeight, int32_t MinPixels, int32_t MaxWidth,
                            int32_t MaxHeight, int32_t MaxPixels, TBlobList* List) {
    RequireOneBit(*this);
    if (!List) return;
    std::vector<detail::TComponent> comps;
    detail::LabelComponents(*this, true, comps);
    const int64_t minN = std::max<int32_t>(0, MinPixels);
    const int64_t maxN = MaxPixels;  // already at most 2147483647
    for (const auto& c : comps) {
        if (c.N < minN || c.N > maxN) continue;
        const int64_t width = int64_t(c.Right) - c.Left + 1, height = int64_t(c.Bottom) - c.Top + 1;
        if (width >= MinWidth && width <= MaxWidth && height >= MinHeight && height <= MaxHeight)
            List->AddBlob(TRect{c.Left, c.Top, c.Right, c.Bottom}, Saturate(c.N), 0, 0);
    }
}

// ---- Painters ----

namespace {

// Sets columns x0..x1 (already inside the image) of row y to the raw value.
void FillSpan(TDIB& dib, int32_t y, int32_t x0, int32_t x1, int32_t index) {
    uint8_t* row = dib.Rows[static_cast<size_t>(y)];
    switch (dib.ImageFormat) {
        case fmt1Bit: {
            // SetPixel1 sets the bit for a value above 0 and clears it otherwise.
            const bool set = index > 0;
            int32_t x = x0;
            while (x <= x1 && (x & 7) != 0) {
                const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
                row[x >> 3] = set ? static_cast<uint8_t>(row[x >> 3] | m) : static_cast<uint8_t>(row[x >> 3] & ~m);
                ++x;
            }
            const int32_t fullEnd = (x1 + 1) & ~7;  // first column not in a whole byte
            if (x < fullEnd) {
                std::memset(row + (x >> 3), set ? 0xFF : 0x00, static_cast<size_t>((fullEnd - x) >> 3));
                x = fullEnd;
            }
            for (; x <= x1; ++x) {
                const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
                row[x >> 3] = set ? static_cast<uint8_t>(row[x >> 3] | m) : static_cast<uint8_t>(row[x >> 3] & ~m);
            }
            break;
        }
        case fmt8Bit: std::memset(row + x0, index & 255, static_cast<size_t>(x1 - x0 + 1)); break;
        default:
            for (int32_t x = x0; x <= x1; ++x) dib.SetPixel(x, y, index);
            break;
    }
}

}  // namespace

void TDIB::DrawLine(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Index) {
    const int32_t w = Width(), h = Height();
    if (w <= 0 || h <= 0) return;
    if (Y1 == Y2) {
        if (Y1 < 0 || Y1 >= h) return;
        const int32_t a = std::max(std::min(X1, X2), 0), b = std::min(std::max(X1, X2), w - 1);
        if (a <= b) FillSpan(*this, Y1, a, b, Index);
        return;
    }
    if (X1 == X2) {
        if (X1 < 0 || X1 >= w) return;
        const int32_t a = std::max(std::min(Y1, Y2), 0), b = std::min(std::max(Y1, Y2), h - 1);
        for (int32_t y = a; y <= b; ++y) SetPixel(X1, y, Index);
        return;
    }
    const int64_t dx = int64_t(X1) - X2, dy = int64_t(Y1) - Y2;
    const int64_t n = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
    const float stepX = static_cast<float>(static_cast<long double>(dx) / static_cast<long double>(n));
    const float stepY = static_cast<float>(static_cast<long double>(dy) / static_cast<long double>(n));
    for (int64_t f = 0; f <= n; ++f) {
        const int64_t x = X2 + Round(static_cast<long double>(f) * static_cast<long double>(stepX));
        const int64_t y = Y2 + Round(static_cast<long double>(f) * static_cast<long double>(stepY));
        if (x >= 0 && x < w && y >= 0 && y < h) SetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), Index);
    }
}

void TDIB::PaintRect(const TRect& Rect, int32_t Index) {
    const int32_t h = Height();
    const int32_t top = std::max(std::min(Rect.Top, Rect.Bottom), 0);
    const int32_t bottom = std::min(std::max(Rect.Top, Rect.Bottom), h - 1);
    for (int32_t y = top; y <= bottom; ++y) DrawLine(Rect.Left, y, Rect.Right, y, Index);
}

}  // namespace qil
