// Speck removal: Despeckle (every small component) and SmartDespeckle (small components only
// where a whole text line consists of them, with optional thinning of runs of marks).
//
// Defaults from the resolution (dots per inch, 2.54 cm per inch, extended precision, round
// ties to even, div truncating), used when an argument is <= 0:
//   Despeckle       MaxWidth  = round(XResolution / 2.54 / 20) (half a millimetre), 2 if that is 0
//                   MaxHeight = round(YResolution / 2.54 / 20), 2 if 0
//   SmartDespeckle  MaxWidth  = round(XResolution / 2.54 / 10) (one millimetre), 4 if 0
//                   MaxHeight = round(YResolution / 2.54 / 10), 4 if 0
//                   Gap       = round(XResolution / 2.54) div 2 (always), 20 if 0
#include <algorithm>
#include <climits>

#include "cleanup/blobs.h"
#include "cleanup/blobs_internal.h"
#include "dib/dib.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"

namespace qil {

namespace {

void RequireOneBit(const TDIB& dib) {
    if (dib.ImageFormat != fmt1Bit) throw Exception("This operation requires 1 bit per pixel bitmap !");
}

int32_t ResolutionDefault(int32_t dpi, long double divisor, int32_t fallback) {
    const int32_t v = static_cast<int32_t>(Round(static_cast<long double>(dpi) / 2.54L / divisor));
    return v == 0 ? fallback : v;
}

TRect RectOf(const detail::TComponent& c) { return TRect{c.Left, c.Top, c.Right, c.Bottom}; }

// Whether a member of a line counts as big: its extent (one less than its pixel size)
// exceeds a limit.
bool IsBig(const TRect& r, int32_t maxWidth, int32_t maxHeight) {
    return int64_t(r.Right) - r.Left > maxWidth || int64_t(r.Bottom) - r.Top > maxHeight;
}

// Groups the components (sorted by Left, then Top) into lines: each joins the first line
// (by creation) it is NearHorizontally to, else starts a new line.
//
// For a reach Gap div 2 >= 0 a line is tested only while it can still be reached: a line's
// Left is that of its first component, never more than the current one's, so the component
// is near the line exactly when their rows overlap and line.Right >= Left - reach. As Left
// never decreases and a line only grows by taking a component, a line that once fails the
// second test never passes it again and is dropped from the candidates; the candidates stay
// in creation order, so the first hit is the first line overall.
std::vector<TRect> ClusterLines(const std::vector<TRect>& all, int32_t gap) {
    std::vector<TRect> lines;
    const int32_t reach = gap / 2;
    if (reach < 0) {
        for (const TRect& b : all) {
            bool joined = false;
            for (TRect& line : lines)
                if (NearHorizontally(b, line, gap)) {
                    line = UnionRects(line, b);
                    joined = true;
                    break;
                }
            if (!joined) lines.push_back(b);
        }
        return lines;
    }
    std::vector<int32_t> live;  // indexes of lines still reachable, ascending
    for (const TRect& b : all) {
        const int64_t reachLeft = int64_t(b.Left) - reach;
        int32_t hit = -1;
        size_t keep = 0;
        size_t k = 0;
        for (; k < live.size(); ++k) {
            const int32_t p = live[k];
            const TRect& line = lines[static_cast<size_t>(p)];
            if (line.Right < reachLeft) continue;  // out of reach for good
            live[keep++] = p;
            if (line.Top <= b.Bottom && line.Bottom >= b.Top) {
                hit = p;
                ++k;
                break;
            }
        }
        for (; k < live.size(); ++k) live[keep++] = live[k];
        live.resize(keep);
        if (hit >= 0) {
            TRect& line = lines[static_cast<size_t>(hit)];
            line = UnionRects(line, b);
        } else {
            live.push_back(static_cast<int32_t>(lines.size()));
            lines.push_back(b);
        }
    }
    return lines;
}

// The component list as the line loop sees it. Every line re-sorts the list by Top with the
// list sort; after the first sort the keys are in order, and the sort's rearrangement
// depends only on the key sequence, so each later sort applies the same permutation R of
// positions (it moves records only among equal Tops). The list seen by line p (0-based) is
// therefore First[R^p(pos)], answered in constant time from the cycles of R.
class TopSortedView {
public:
    explicit TopSortedView(std::vector<TRect> all) : first_(std::move(all)) {
        detail::HoareQuickSort(first_, [](const TRect& r) { return detail::Key1(r.Top); });
        const size_t n = first_.size();
        std::vector<int32_t> perm(n);
        for (size_t i = 0; i < n; ++i) perm[i] = static_cast<int32_t>(i);
        detail::HoareQuickSort(perm, [this](int32_t i) { return detail::Key1(first_[static_cast<size_t>(i)].Top); });
        // Cycles of R: cycles_ holds each cycle as pos, R(pos), R(R(pos)), ...
        cycleOf_.assign(n, -1);
        offset_.assign(n, 0);
        cycles_.reserve(n);
        for (size_t s = 0; s < n; ++s) {
            if (cycleOf_[s] >= 0) continue;
            const int32_t id = static_cast<int32_t>(cycleStart_.size());
            cycleStart_.push_back(static_cast<int32_t>(cycles_.size()));
            int32_t pos = static_cast<int32_t>(s), k = 0;
            while (cycleOf_[static_cast<size_t>(pos)] < 0) {
                cycleOf_[static_cast<size_t>(pos)] = id;
                offset_[static_cast<size_t>(pos)] = k++;
                cycles_.push_back(pos);
                pos = perm[static_cast<size_t>(pos)];
            }
        }
        cycleStart_.push_back(static_cast<int32_t>(cycles_.size()));
        // Per position: the largest Bottom up to the end of its block of equal Tops (the same
        // after every re-sort), for skipping the records above a line.
        tops_.resize(n);
        reachBottom_.resize(n);
        int32_t maxBottom = INT32_MIN;
        for (size_t i = 0; i < n; ++i) {
            tops_[i] = first_[i].Top;
            maxBottom = std::max(maxBottom, first_[i].Bottom);
            reachBottom_[i] = maxBottom;
        }
        for (size_t i = n; i-- > 0;)
            if (i + 1 < n && tops_[i + 1] == tops_[i]) reachBottom_[i] = reachBottom_[i + 1];
    }

    // The records intersecting Line, in the order the list holds them at line number p.
    void Collect(const TRect& line, int64_t p, std::vector<TRect>& out) const {
        out.clear();
        const auto lo = std::lower_bound(reachBottom_.begin(), reachBottom_.end(), line.Top) - reachBottom_.begin();
        const auto hi = std::upper_bound(tops_.begin(), tops_.end(), line.Bottom) - tops_.begin();
        for (auto pos = lo; pos < hi; ++pos) {
            const TRect& r = first_[static_cast<size_t>(At(static_cast<int32_t>(pos), p))];
            if (RectsIntersect(line, r)) out.push_back(r);
        }
    }

private:
    int32_t At(int32_t pos, int64_t p) const {
        const int32_t c = cycleOf_[static_cast<size_t>(pos)];
        const int32_t start = cycleStart_[static_cast<size_t>(c)];
        const int32_t len = cycleStart_[static_cast<size_t>(c) + 1] - start;
        if (len == 1) return pos;
        return cycles_[static_cast<size_t>(start + (offset_[static_cast<size_t>(pos)] + p) % len)];
    }

    std::vector<TRect> first_;
    std::vector<int32_t> cycleOf_, offset_, cycles_, cycleStart_;
    std::vector<int32_t> tops_, reachBottom_;
};

}  // namespace

int32_t TDIB::PaintBlobs(TBlobList& List, int32_t First, int32_t Last, int32_t Index) {
    for (int32_t i = First; i <= Last; ++i) PaintRect(List.Items(i), Index);
    return Last - First + 1;
}

// Notes:
//  - All components are found on the unchanged page before anything is painted.
//  - Limits compare the pixel width Right - Left + 1 (SmartDespeckle compares the extent).
int32_t TDIB::Despeckle(int32_t MaxWidth, int32_t MaxHeight) {
    RequireOneBit(*this);
    if (MaxWidth <= 0) MaxWidth = ResolutionDefault(XResolution(), 20, 2);
    if (MaxHeight <= 0) MaxHeight = ResolutionDefault(YResolution(), 20, 2);
    std::vector<detail::TComponent> comps;
    detail::LabelComponents(*this, true, comps);
    const int32_t white = WhiteIndex();
    int32_t count = 0;
    for (const auto& c : comps) {
        const int64_t width = int64_t(c.Right) - c.Left + 1, height = int64_t(c.Bottom) - c.Top + 1;
        if (width <= MaxWidth && height <= MaxHeight && c.N <= INT32_MAX) {
            PaintRect(RectOf(c), white);
            ++count;
        }
    }
    return count;
}

// Steps:
//  1. Every 8-connected component, sorted by Left then Top.
//  2. Lines: each component joins the first line it is NearHorizontally (Gap) to, else starts
//     one; lines only grow.
//  3. Per line, in creation order: its members are the components intersecting it (the
//     component list re-sorted by Top, then the members sorted by Left, Top). A member is big
//     when its extent exceeds a limit. No big member: every member rectangle is erased. A big
//     member and no PruneRuns: nothing. A big member and PruneRuns: small members are tagged
//     upper (Top < the line's middle row) or lower and merged into the first other member
//     NearVertically (Gap div 2) to them; then, left to right, of every run of lower marks
//     longer than three the marks after the third are erased, of every run of upper marks
//     longer than two those after the second, a run ending at a mark of the other kind or a
//     big member (a run open at the end of the line is kept).
int32_t TDIB::SmartDespeckle(int32_t MaxWidth, int32_t MaxHeight, bool PruneRuns) {
    RequireOneBit(*this);
    int32_t result = 0;
    int32_t gap = static_cast<int32_t>(Round(static_cast<long double>(XResolution()) / 2.54L)) / 2;
    if (gap == 0) gap = 20;
    if (MaxWidth <= 0) MaxWidth = ResolutionDefault(XResolution(), 10, 4);
    if (MaxHeight <= 0) MaxHeight = ResolutionDefault(YResolution(), 10, 4);

    std::vector<detail::TComponent> comps;
    detail::LabelComponents(*this, true, comps);
    if (comps.empty()) return 0;
    std::vector<TRect> all;
    all.reserve(comps.size());
    for (const auto& c : comps) all.push_back(RectOf(c));
    comps = {};
    detail::HoareQuickSort(all, [](const TRect& r) { return detail::Key2(r.Left, r.Top); });

    const std::vector<TRect> lines = ClusterLines(all, gap);
    const TopSortedView view(std::move(all));
    const int32_t white = WhiteIndex();

    std::vector<TRect> found;
    std::vector<TBlob> members;
    for (size_t p = 0; p < lines.size(); ++p) {
        const TRect& line = lines[p];
        view.Collect(line, static_cast<int64_t>(p), found);
        bool anyBig = false;
        for (const TRect& r : found)
            if (IsBig(r, MaxWidth, MaxHeight)) {
                anyBig = true;
                break;
            }
        if (!anyBig) {
            for (const TRect& r : found) PaintRect(r, white);
            result += static_cast<int32_t>(found.size());
            continue;
        }
        if (!PruneRuns) continue;

        const int32_t mid = static_cast<int32_t>((int64_t(line.Top) + line.Bottom) / 2);
        members.clear();
        for (const TRect& r : found) {
            TBlob b;
            b.SetRect(r);
            members.push_back(b);
        }
        detail::HoareQuickSort(members, [](const TBlob& b) { return detail::Key2(b.Left, b.Top); });

        // Classification and merging.
        size_t j = 0;
        while (j < members.size()) {
            TBlob& m = members[j];
            if (IsBig(m, MaxWidth, MaxHeight)) {
                m.Tag = 0;
                ++j;
                continue;
            }
            m.Tag = m.Top < mid ? 1 : 2;
            bool merged = false;
            for (size_t k = 0; k < members.size(); ++k) {
                if (k == j || !NearVertically(members[j], members[k], gap / 2)) continue;
                members[k].SetRect(UnionRects(members[k], members[j]));
                members.erase(members.begin() + static_cast<std::ptrdiff_t>(j));
                merged = true;
                break;
            }
            if (!merged) ++j;
        }

        // Run pruning.
        detail::HoareQuickSort(members, [](const TBlob& b) { return detail::Key1(b.Left); });
        auto paint = [&](int32_t first, int32_t last) {
            for (int32_t i = first; i <= last; ++i) PaintRect(members[static_cast<size_t>(i)], white);
            result += last - first + 1;
        };
        int32_t lower = 0, upper = 0;
        for (int32_t k = 0; k < static_cast<int32_t>(members.size()); ++k) {
            switch (members[static_cast<size_t>(k)].Tag) {
                case 1:
                    ++upper;
                    if (lower > 3) paint(k - (lower - 3), k - 1);
                    lower = 0;
                    break;
                case 2:
                    ++lower;
                    if (upper > 2) paint(k - (upper - 2), k - 1);
                    upper = 0;
                    break;
                default:
                    if (lower > 3) paint(k - (lower - 3), k - 1);
                    if (upper > 2) paint(k - (upper - 2), k - 1);
                    lower = 0;
                    upper = 0;
                    break;
            }
        }
    }
    return result;
}

}  // namespace qil
