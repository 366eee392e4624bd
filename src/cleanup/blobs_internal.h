// Internal machinery of the component tracers, shared by cleanup/blobs.cpp and
// cleanup/despeckle.cpp. Not part of the public interface.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace qil {

class TDIB;

namespace detail {

// One connected component of the black pixels of a 1-bit image.
struct TComponent {
    int32_t Left, Top, Right, Bottom;  // inclusive bounding rectangle
    int64_t N;                         // pixel count
    uint64_t SumX, SumY;               // coordinate sums (a full page exceeds 32 bits)
};

// Labels the black pixels (raw value = BlackIndex) of a 1-bit image into 8- or 4-connected
// components and returns them in seed order: the order in which a column-major seed scan
// (columns outer, rows inner) first meets them, i.e. by leftmost column and, among
// components with the same leftmost column, by the topmost pixel in that column.
//
// Works on pixel runs with a union-find over the runs of adjacent rows; the records equal
// those of a breadth-first trace from each seed, since bounding box, count and sums do not
// depend on the order pixels are visited in. The caller checks the format.
void LabelComponents(TDIB& dib, bool eightConnected, std::vector<TComponent>& out);

// The list sort: Hoare quicksort with the middle element as pivot and both scans stopping at
// keys equal to the pivot's, so equal keys end in exactly the order this procedure leaves
// them. KeyOf maps an element to a totally ordered key. Disjoint subranges are independent,
// so an explicit stack replaces the recursion without changing the result.
template <class T, class KeyOf>
void HoareQuickSort(std::vector<T>& a, KeyOf keyOf) {
    if (a.size() < 2) return;
    std::vector<std::pair<int64_t, int64_t>> pending;
    pending.emplace_back(0, static_cast<int64_t>(a.size()) - 1);
    while (!pending.empty()) {
        auto [lo, hi] = pending.back();
        pending.pop_back();
        int64_t i;
        do {
            i = lo;
            int64_t j = hi;
            const auto pivot = keyOf(a[static_cast<size_t>((lo + hi) / 2)]);
            do {
                while (keyOf(a[static_cast<size_t>(i)]) < pivot) ++i;
                while (pivot < keyOf(a[static_cast<size_t>(j)])) --j;
                if (i <= j) {
                    std::swap(a[static_cast<size_t>(i)], a[static_cast<size_t>(j)]);
                    ++i;
                    --j;
                }
            } while (i <= j);
            if (lo < j) pending.emplace_back(lo, j);
            lo = i;
        } while (i < hi);
    }
}

// Order-preserving 64-bit keys of the sorts: one coordinate, or two compared
// lexicographically (signed).
inline int64_t Key1(int32_t a) { return a; }
inline int64_t Key2(int32_t major, int32_t minor) {
    return static_cast<int64_t>(major) * 4294967296LL + (static_cast<int64_t>(minor) + 2147483648LL);
}

}  // namespace detail
}  // namespace qil
