// Connected-component records and the rectangle routines the cleanup algorithms share.
//
// Rectangles are TRect records in pixel coordinates (row 0 at the top) whose Right and Bottom
// are INCLUSIVE: a rectangle covers columns Left..Right and rows Top..Bottom, so its width is
// Right - Left + 1. The one routine that follows the windowing system's exclusive convention
// is OverlapPercent (see there).
//
// The tracers that fill a TBlobList (TDIB::FindBlobs, FindBlobs8, FindBlobs4,
// FindBlobsInRange) and the painters (TDIB::DrawLine, PaintRect, PaintBlobs) are TDIB methods,
// declared in dib/dib.h and defined in cleanup/blobs.cpp (PaintBlobs in cleanup/despeckle.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/rect.h"

namespace qil {

// One record of a TBlobList: the inclusive rectangle (inherited, so a TBlob passes wherever a
// TRect is taken) followed by Tag, PixelCount, CenterX and CenterY, all signed 32-bit.
//   Tag        free marker of the owning algorithm; 0 when added by AddBlob.
//   PixelCount black pixels of the traced component (0 for untraced rectangles).
//   CenterX/Y  the traced centroid or 0 as given to AddBlob; the rectangle centre after
//              TBlobList::ComputeCenters.
struct TBlob : TRect {
    int32_t Tag = 0;
    int32_t PixelCount = 0;
    int32_t CenterX = 0;
    int32_t CenterY = 0;

    // The rectangle part alone, and replacing it (the record's other fields stay).
    const TRect& AsRect() const { return *this; }
    void SetRect(const TRect& r) { static_cast<TRect&>(*this) = r; }

    friend bool operator==(const TBlob&, const TBlob&) = default;
};

// An owning, ordered list of TBlob records. Each record is a separate heap object: the
// reference Items hands out stays valid until that record is deleted or the list is cleared
// or destroyed, and callers change records in place through it. Sorting and deleting move
// references, not records. Order is insertion order until a sort or a deletion changes it;
// Delete shifts the later records down by one index.
class TBlobList {
public:
    TBlobList() = default;
    ~TBlobList() = default;
    TBlobList(const TBlobList&) = delete;
    TBlobList& operator=(const TBlobList&) = delete;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }

    // The record at Index (0-based). An index outside 0..Count-1 raises EListError
    // "List index out of bounds (%d)".
    TBlob& Items(int32_t index);
    const TBlob& Items(int32_t index) const;
    TBlob& operator[](int32_t index) { return Items(index); }
    const TBlob& operator[](int32_t index) const { return Items(index); }

    // Frees every record.
    void Clear() { FItems.clear(); }
    // Frees the record at Index and removes it (EListError for a bad index).
    void Delete(int32_t index);

    // Appends a record holding the four coordinates; Tag, PixelCount and the centre are 0.
    // Returns its index.
    int32_t AddRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Appends a record: the rectangle of Rect, Tag 0, and the three values. Returns its index.
    int32_t AddBlob(const TRect& rect, int32_t pixelCount, int32_t centerX, int32_t centerY);

    // Sorts. All four use the same Hoare quicksort (middle pivot record, both scans stopping at
    // equal keys), so records with equal keys end in the order that sort leaves them in; the
    // order is part of the result.
    void SortByLeft();     // ascending Left
    void SortByTop();      // ascending Top
    void SortByLeftTop();  // ascending Left, then Top
    void SortByCenter();   // ascending CenterY, then CenterX

    // CenterX := (Left + Right) div 2, CenterY := (Top + Bottom) div 2 (truncating) for every record.
    void ComputeCenters();

    // Merges records pairwise until no pair qualifies. A pair (i, j), i < j, qualifies when
    // Percent = 0 and RectsIntersect(i, j), or Percent <> 0 and OverlapPercent(i, j) >= Percent.
    // Passes run i upwards over the count at the start of the pass and j downwards from the
    // last record to i + 1; a qualifying j is united into i (i keeps Tag, PixelCount and its
    // centre) and deleted, so lower j are tested against the grown rectangle. Passes repeat
    // until one changes nothing.
    void MergeOverlapping(double percent);

    // Index of the first record containing Rect shrunk by 2 on every side, or -1. The shrunk
    // rectangle is used as it is even when that inverts it (Rect narrower or lower than 5).
    int32_t IndexOfContaining(const TRect& rect) const;

    // Deletes (from the last record down) every record whose density
    // PixelCount * 100 / (width * height), held as a double, lies in [Low, High].
    void RemoveByDensity(double low, double high);

    // Deletes every record lying inside an earlier one (RectInside(later, earlier)), in passes
    // repeated until a pass deletes nothing. An earlier record inside a later one stays.
    void RemoveContained();

private:
    std::vector<std::unique_ptr<TBlob>> FItems;
};

// One entry of a TPointList.
struct TTracePoint {
    int32_t X = 0;
    int32_t Y = 0;
    uint8_t Expanded = 0;  // 0 when added, 1 once the point's neighbours have been examined
};

// The growing point queue of a breadth-first trace: append and read by index, no deletion.
// Each record is a separate heap object, so references from Items stay valid while the list
// lives.
class TPointList {
public:
    TPointList() = default;
    ~TPointList() = default;
    TPointList(const TPointList&) = delete;
    TPointList& operator=(const TPointList&) = delete;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    // EListError "List index out of bounds (%d)" outside 0..Count-1.
    TTracePoint& Items(int32_t index);
    // Appends (X, Y) with Expanded = Flag; returns its index.
    int32_t Add(int32_t x, int32_t y, uint8_t flag);

private:
    std::vector<std::unique_ptr<TTracePoint>> FItems;
};

// ---- Rectangle routines (arguments by value; inclusive rectangles) ----

// All four coordinates equal.
bool RectsEqual(TRect a, TRect b);
// A = (0, 0, 0, 0).
bool IsZeroRect(TRect a);
// True when the inclusive rectangles share at least one pixel. Evaluated as two halves, A
// against B then B against A; each half accepts when, for the rows and then for the columns,
// an end of the first range lies inside the second range or the first range covers the
// second. For rectangles with Left <= Right and Top <= Bottom this is exactly the
// shared-pixel test; inverted rectangles are answered by the same formula.
bool RectsIntersect(TRect a, TRect b);
// A lies inside B: A.Left >= B.Left, A.Right <= B.Right, A.Top >= B.Top, A.Bottom <= B.Bottom.
bool RectInside(TRect a, TRect b);
// RectsIntersect(A grown by one row above and below, B).
bool TouchesVertically(TRect a, TRect b);
// RectsIntersect(A grown by one column left and right, B).
bool TouchesHorizontally(TRect a, TRect b);
// (min Left, min Top, max Right, max Bottom).
TRect UnionRects(TRect a, TRect b);
// Intersection area in percent of the smaller of the two (inclusive) areas, as a double.
// Note: the intersection is the windowing system's IntersectRect, which treats Right and
// Bottom as EXCLUSIVE: it is empty (result 0) when its Left >= Right or Top >= Bottom, so two
// rectangles sharing exactly one column or row, or a rectangle one pixel wide or high, give 0.
// A non-empty intersection's area is then counted inclusively. Callers rely on this.
double OverlapPercent(TRect a, TRect b);

// ---- Proximity and collection routines of despeckling ----

// RectsIntersect(A with Left - (Gap div 2) and Right + (Gap div 2), B).
bool NearHorizontally(TRect a, TRect b, int32_t gap);
// RectsIntersect(A with Top - (Gap div 2) and Bottom + (Gap div 2), B).
bool NearVertically(TRect a, TRect b, int32_t gap);
// Source.SortByTop; then, scanning Source in order, Target.AddBlob(record, 0, 0, 0) for every
// record intersecting Rect, stopping after the first record whose Top > Rect.Bottom.
void CollectIntersecting(TRect rect, TBlobList& source, TBlobList& target);

}  // namespace qil
