#include "targets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "annotations/annotations.h"
#include "dib/dib.h"
#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "platform/memory.h"
#include "platform/streams.h"

namespace qil::fuzz {

namespace {

void Require(bool condition, const char* what) {
    if (!condition) throw TFuzzFault(what);
}

// Bytes of the image's pixels, row by row from the top (RowBytes per row).
std::vector<uint8_t> PixelBytes(const TDIB& d) {
    std::vector<uint8_t> v;
    v.reserve(size_t(d.RowBytes) * size_t(d.Height()));
    for (uint8_t* row : d.Rows) v.insert(v.end(), row, row + d.RowBytes);
    return v;
}

std::vector<uint8_t> PaletteBytes(const TDIB& d) {
    const auto* p = reinterpret_cast<const uint8_t*>(d.Palette);
    return std::vector<uint8_t>(p, p + 4 * size_t(d.PaletteSize));
}

// Images up to this block size also go through Duplicate and a bitmap round trip.
constexpr int32_t kRoundTripBytes = 4 << 20;

void CheckImage(TDIB& d) {
    Require(d.GetHandle() != 0 && d.Header != nullptr, "a successful load left no image");
    const int32_t w = d.Width(), h = d.Height();
    Require(w > 0 && h > 0, "the image has no pixels");
    Require(d.Rows.size() == size_t(h), "the row table does not match the height");
    const int32_t bits = d.BitCount();
    Require(bits == 1 || bits == 4 || bits == 8 || bits == 24, "the image has an unsupported bit count");
    Require(d.ImageFormat == (bits == 1 ? fmt1Bit : bits == 4 ? fmt4Bit : bits == 8 ? fmt8Bit : fmt24Bit),
            "the pixel format does not match the bit count");
    Require(d.PaletteSize == (bits <= 8 ? 1 << bits : 0), "the color table size does not match the bit count");
    Require(d.RowBytes == int32_t((int64_t(w) * bits + 7) / 8), "RowBytes does not match the width");
    Require(d.Stride == int32_t((int64_t(w) * bits + 31) / 32 * 4), "Stride does not match the width");
    Require(ImageBlockBytes(uint64_t(w), uint64_t(h), bits) <= MaxImageBytes(), "the image exceeds the size limit");
    // Every row lies inside the block.
    const size_t blockSize = GlobalSize(d.GetHandle());
    const auto* start = d.Memory;
    Require(start != nullptr, "the image is not locked");
    Require(reinterpret_cast<const uint8_t*>(d.Palette) == start + 40, "the color table is misplaced");
    for (uint8_t* row : d.Rows)
        Require(row >= start + 40 + 4 * d.PaletteSize && row + d.Stride <= start + blockSize,
                "a row lies outside the block");
    // Read every pixel byte (the sanitizers see uninitialised or freed memory here).
    unsigned sum = 0;
    for (uint8_t* row : d.Rows)
        for (int32_t i = 0; i < d.RowBytes; ++i) sum += row[i];
    (void)sum;

    if (d.DIBSize > kRoundTripBytes) return;
    const std::vector<uint8_t> pixels = PixelBytes(d), palette = PaletteBytes(d);
    {
        std::unique_ptr<TDIB> copy(d.Duplicate());
        Require(PixelBytes(*copy) == pixels && PaletteBytes(*copy) == palette, "Duplicate changed the image");
    }
    TMemoryStream stream;
    d.SaveToBitmapStream(stream);
    stream.SetPosition(0);
    TDIB back;
    back.LoadFromStream(stream, 0);
    Require(back.Width() == w && back.Height() == h && back.BitCount() == bits, "the bitmap round trip changed the size");
    Require(PixelBytes(back) == pixels && PaletteBytes(back) == palette, "the bitmap round trip changed the pixels");
}

bool IsFormat(TTarget target, TStream& s) {
    const bool bmp = TDIB::IsBitmapStream(s), tif = TDIB::IsTiffStream(s), png = TDIB::IsPngStream(s);
    switch (target) {
        case TTarget::Bitmap: return bmp;
        case TTarget::Tiff: return !bmp && tif;
        case TTarget::Png: return !bmp && !tif && png;
        case TTarget::Jpeg: return !bmp && !tif && !png;
        case TTarget::Annotations: return true;
    }
    return false;
}

// Loads one page; answers whether it loaded.
bool LoadImage(const uint8_t* data, size_t size, int32_t page) {
    TBufferStream stream(data, int64_t(size));
    TDIB d;
    try {
        d.LoadFromStream(stream, page);
    } catch (const Exception&) {
        Require(d.GetHandle() == 0 && d.Header == nullptr && d.Rows.empty(), "a failed load left an image behind");
        return false;
    }
    CheckImage(d);
    return true;
}

void CheckAnnotations(const TAnnotations& a) {
    for (int32_t i = 0; i < a.Count(); ++i) {
        TGenericAnnotation* m = a.Items(i);
        Require(m->MarkType >= 1 && m->MarkType <= 12, "an annotation has an unknown mark type");
        if (auto* line = dynamic_cast<TGenericLineAnnotation*>(m)) {
            Require(line->PointsX.size() == line->PointsY.size(), "the point lists differ in length");
            int64_t sum = 0;
            for (int32_t k = 0; k < line->PointCount(); ++k) sum += line->GetPoint(k).X;
            (void)sum;
        }
        if (auto* text = dynamic_cast<TGenericTextAnnotation*>(m)) {
            unsigned sum = 0;
            for (char c : text->Text) sum += uint8_t(c);
            (void)sum;
        }
        if (auto* picture = dynamic_cast<TAnnotationImageEmbedded*>(m); picture && picture->DIBHandle) {
            const size_t n = GlobalSize(picture->DIBHandle);
            const auto* p = static_cast<const uint8_t*>(GlobalLock(picture->DIBHandle));
            Require(p != nullptr, "the picture of an annotation cannot be locked");
            unsigned sum = 0;
            for (size_t k = 0; k < n; ++k) sum += p[k];
            (void)sum;
            GlobalUnlock(picture->DIBHandle);
        }
    }
}

TOutcome LoadAnnotations(const uint8_t* data, size_t size) {
    TOutcome outcome = TOutcome::Refused;
    for (int32_t page = 0; page < 2; ++page) {
        TBufferStream stream(data, int64_t(size));
        TAnnotations a;
        try {
            a.LoadFromStream(stream, page);
            if (page == 0) outcome = TOutcome::Loaded;
        } catch (const Exception&) {
            // The annotations read before the failure stay; they must be sound as well.
        }
        CheckAnnotations(a);
    }
    return outcome;
}

TOutcome Run(TTarget target, const uint8_t* data, size_t size) {
    if (target == TTarget::Annotations) return LoadAnnotations(data, size);
    {
        TBufferStream probe(data, int64_t(size));
        if (!IsFormat(target, probe)) return TOutcome::NotThisFormat;
    }
    bool loaded = LoadImage(data, size, 0);
    if (target == TTarget::Tiff) {
        TBufferStream stream(data, int64_t(size));
        int32_t pages = 0;
        try {
            pages = TDIB::CountTiffPages(stream);
        } catch (const Exception&) {
        }
        if (pages > 1) LoadImage(data, size, 1);
    }
    return loaded ? TOutcome::Loaded : TOutcome::Refused;
}

}  // namespace

TOutcome Exercise(TTarget target, const uint8_t* data, size_t size) {
    const size_t blocks = GlobalBlockCount();
    TOutcome outcome = Run(target, data, size);
    Require(GlobalBlockCount() == blocks, "memory blocks were leaked");
    return outcome;
}

const char* TargetName(TTarget target) {
    switch (target) {
        case TTarget::Bitmap: return "bitmap";
        case TTarget::Tiff: return "tiff";
        case TTarget::Png: return "png";
        case TTarget::Jpeg: return "jpeg";
        case TTarget::Annotations: return "annotations";
    }
    return "";
}

}  // namespace qil::fuzz
