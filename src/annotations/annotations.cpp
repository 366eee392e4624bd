#include "annotations/annotations.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "annotations/tiff_decoder.h"
#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/text.h"

namespace qil {

namespace {

int32_t getInt(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
uint32_t getUInt(const uint8_t* p) { return static_cast<uint32_t>(getInt(p)); }

RGBQUAD getColor(const uint8_t* p) { return RGBQUAD{p[0], p[1], p[2], p[3]}; }

TLogFontA getLogFont(const uint8_t* p) {
    TLogFontA f;
    f.lfHeight = getInt(p);
    f.lfWidth = getInt(p + 4);
    f.lfEscapement = getInt(p + 8);
    f.lfOrientation = getInt(p + 12);
    f.lfWeight = getInt(p + 16);
    f.lfItalic = p[20];
    f.lfUnderline = p[21];
    f.lfStrikeOut = p[22];
    f.lfCharSet = p[23];
    f.lfOutPrecision = p[24];
    f.lfClipPrecision = p[25];
    f.lfQuality = p[26];
    f.lfPitchAndFamily = p[27];
    std::memcpy(f.lfFaceName, p + 28, sizeof f.lfFaceName);
    return f;
}

// Text of a block: up to the first NUL byte or the end of the block.
std::string blockText(const uint8_t* data, uint32_t n) {
    const void* nul = std::memchr(data, 0, n);
    size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : n;
    return std::string(reinterpret_cast<const char*>(data), len);
}

// The fixed head of a block, padded with zero bytes when the block is shorter than the head.
template <size_t N>
std::array<uint8_t, N> blockHead(const uint8_t* data, uint32_t n) {
    std::array<uint8_t, N> head{};
    std::memcpy(head.data(), data, std::min<size_t>(N, n));
    return head;
}

bool sameName(const uint8_t* stored, const char (&name)[9]) { return std::memcmp(stored, name, 8) == 0; }

constexpr char kGroup[9] = {'O', 'i', 'G', 'r', 'o', 'u', 'p', 0, 0};
constexpr char kIndex[9] = {'O', 'i', 'I', 'n', 'd', 'e', 'x', 0, 0};
constexpr char kAnoDat[9] = "OiAnoDat";
constexpr char kAnText[9] = "OiAnText";
constexpr char kDIB[9] = {'O', 'i', 'D', 'I', 'B', 0, 0, 0, 0};
constexpr char kFilNam[9] = "OiFilNam";

constexpr int64_t kAttributesSize = 164;
constexpr int64_t kBlockHeadSize = 20;  // record head, name, data size

[[noreturn]] void invalidData() { throw Exception("Invalid annotation data"); }

// Line marks: ignored word, point count, then X/Y pairs relative to the top-left of Bounds.
void readPoints(TGenericLineAnnotation& mark, const uint8_t* data, uint32_t n) {
    auto head = blockHead<8>(data, n);
    int64_t k = getInt(head.data() + 4);
    int64_t room = n >= 8 ? (static_cast<int64_t>(n) - 8) / 8 : 0;
    k = std::clamp<int64_t>(k, 0, room);
    for (int64_t i = 0; i < k; ++i) {
        const uint8_t* p = data + 8 + 8 * i;
        mark.AddPoint(TPoint{getInt(p), getInt(p + 4)});
    }
}

// Image marks: rotation, scale, 8 skipped bytes, source resolutions, the rest skipped.
void readRotation(TGenericImageAnnotation& mark, const uint8_t* data, uint32_t n) {
    auto head = blockHead<24>(data, n);
    mark.Rotation = getInt(head.data());
    mark.Scale = getInt(head.data() + 4);
    mark.SourceXResolution = getInt(head.data() + 16);
    mark.SourceYResolution = getInt(head.data() + 20);
}

// Text marks: 8 skipped bytes, creation scale, text length, the text (appended).
void readText(TGenericTextAnnotation& mark, const uint8_t* data, uint32_t n) {
    auto head = blockHead<16>(data, n);
    int32_t scale = getInt(head.data() + 8);
    int64_t len = getInt(head.data() + 12);
    mark.CreationResolution = scale == 0 ? 96 : static_cast<int32_t>(Round(72000.0L / scale));
    int64_t room = n >= 16 ? static_cast<int64_t>(n) - 16 : 0;
    len = std::clamp<int64_t>(len, 0, room);
    mark.Text.append(reinterpret_cast<const char*>(data) + 16, static_cast<size_t>(len));
}

void readPicture(TAnnotationImageEmbedded& mark, const uint8_t* data, uint32_t n) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n);
    if (!h) RaiseLastOSError();
    void* p = GlobalLock(h);
    if (!p) {
        uint32_t code = GetLastError();
        GlobalFree(h);
        RaiseLastOSError(code);
    }
    if (n) std::memcpy(p, data, n);
    GlobalUnlock(h);
    // A second picture block replaces the first one.
    if (mark.DIBHandle) GlobalFree(mark.DIBHandle);
    mark.DIBHandle = h;
}

}  // namespace

// ---- Annotation classes ----

TAnnotationImageEmbedded::~TAnnotationImageEmbedded() {
    if (DIBHandle) GlobalFree(DIBHandle);
}

void TGenericLineAnnotation::AddPoint(const TPoint& point) {
    PointsX.push_back(point.X);
    PointsY.push_back(point.Y);
}

TPoint TGenericLineAnnotation::GetPoint(int32_t index) const {
    if (index < 0 || index >= PointCount()) throw EListError(Format("List index out of bounds (%d)", index));
    return TPoint{PointsX[static_cast<size_t>(index)], PointsY[static_cast<size_t>(index)]};
}

void TAnnotationStraightLine::AddPoint(const TPoint& point) {
    if (PointCount() >= 2) throw Exception("Only 2 points allowed for line annotation");
    TGenericLineAnnotation::AddPoint(point);
}

// ---- TAnnotations ----

TAnnotations::TAnnotations() : DefaultGroup("[Senza Nome]") {}

TAnnotations::~TAnnotations() { Clear(); }

void TAnnotations::Clear() {
    RawData.Clear();
    while (!items_.empty()) items_.pop_back();
}

void TAnnotations::LoadFromFile(const std::string& fileName, int32_t page) {
    Clear();
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(file, page);
}

void TAnnotations::LoadFromStream(TStream& stream, int32_t page) {
    Clear();
    TTiffDecoder decoder(stream);
    if (!decoder.IsValid()) throw Exception("Invalid TIFF Data");
    decoder.SelectPage(page);
    uint32_t length = decoder.GetTagLength(TIFFTAG_ANNOTATION);
    // The count comes from the file: take no more than the stream holds past the data offset.
    const TTiffDirEntry& entry = decoder.Entries[decoder.IndexOfTag(TIFFTAG_ANNOTATION)];
    int64_t room = stream.Size() - (decoder.BasePosition + entry.Value);
    int64_t size = std::clamp<int64_t>(room, 0, std::min<int64_t>(length, std::numeric_limits<int32_t>::max()));
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    decoder.ReadTag(TIFFTAG_ANNOTATION, buffer.data(), static_cast<uint32_t>(size));
    LoadFromBuffer(buffer.data(), static_cast<int32_t>(size));
}

void TAnnotations::LoadFromBuffer(const void* buffer, int32_t size) {
    Clear();
    if (size > 0) RawData.WriteBuffer(buffer, size);
    ParseRawData();
}

void TAnnotations::ParseRawData() {
    RawData.SetPosition(0);
    const uint8_t* data = RawData.Memory();
    const int64_t size = RawData.Size();
    if (size < 8) invalidData();
    if (getInt(data + 4) != 1) throw Exception("Old 16 bit annotation data");
    TGenericAnnotation* current = nullptr;
    int64_t pos = 8;
    // Sizes are unsigned, so every record moves the position forward by at least its head.
    while (pos < size - 1) {
        const int64_t p = pos;
        if (size - p < 8) invalidData();
        const uint32_t type = getUInt(data + p);
        const uint32_t s = getUInt(data + p + 4);
        if (type == 5) {
            if (size - p - 8 < kAttributesSize) invalidData();
            const uint8_t* a = data + p + 8;
            pos = p + 8 + s;
            current = AddAnnotation(a[0]);
            current->Bounds = TRect{getInt(a + 4), getInt(a + 8), getInt(a + 12), getInt(a + 16)};
            current->Color1 = getColor(a + 20);
            current->Color2 = getColor(a + 24);
            current->Highlighting = getInt(a + 28) != 0;
            current->Transparent = getInt(a + 32) != 0;
            current->LineSize = getInt(a + 36);
            current->LogFont = getLogFont(a + 48);
            current->Time = getUInt(a + 112);
            current->Visible = getInt(a + 116) != 0;
        } else if (type == 2 || type == 6) {
            if (size - p < kBlockHeadSize) invalidData();
            const uint8_t* name = data + p + 8;
            const uint32_t n = getUInt(data + p + 16);
            const uint8_t* block = data + p + kBlockHeadSize;
            // The block's data, checked to lie inside the annotation data before it is read.
            auto used = [&]() -> const uint8_t* {
                if (n > size - p - kBlockHeadSize) invalidData();
                return block;
            };
            const bool markData = sameName(name, kAnoDat) || sameName(name, kAnText) || sameName(name, kDIB) ||
                                  sameName(name, kFilNam);
            if (type == 2 || !current) {
                if (markData) throw Exception("Invalid default named block type");
                if (type == 2 && sameName(name, kGroup)) DefaultGroup = blockText(used(), n);
                // "OiIndex" as a default block, "OiGroup"/"OiIndex" before the first mark,
                // "OiHypLnk" and unknown names: nothing to do.
            } else if (sameName(name, kGroup)) {
                current->Group = blockText(used(), n);
            } else if (sameName(name, kIndex)) {
                int32_t value = 0;
                current->Index = TryStrToInt(blockText(used(), n), value) ? value : 0;
            } else if (sameName(name, kAnoDat)) {
                if (auto* line = dynamic_cast<TGenericLineAnnotation*>(current))
                    readPoints(*line, used(), n);
                else if (auto* image = dynamic_cast<TGenericImageAnnotation*>(current))
                    readRotation(*image, used(), n);
                else
                    throw Exception("Invalid named block type");
            } else if (sameName(name, kAnText)) {
                auto* text = dynamic_cast<TGenericTextAnnotation*>(current);
                if (!text) throw Exception("Invalid named block type");
                readText(*text, used(), n);
            } else if (sameName(name, kDIB)) {
                if (auto* embedded = dynamic_cast<TAnnotationImageEmbedded*>(current))
                    readPicture(*embedded, used(), n);
            } else if (sameName(name, kFilNam)) {
                auto* image = dynamic_cast<TGenericImageAnnotation*>(current);
                if (!image) throw Exception("Invalid named block type");
                image->FileName = blockText(used(), n);
            }
            // "OiHypLnk" and unknown names are skipped.
            pos = p + 8 + static_cast<int64_t>(s) + n;
        } else {
            invalidData();
        }
        RawData.SetPosition(std::min(pos, size));
    }
}

TGenericAnnotation* TAnnotations::AddAnnotation(uint8_t markType) {
    std::unique_ptr<TGenericAnnotation> a;
    switch (markType) {
        case amtImageEmbedded: a = std::make_unique<TAnnotationImageEmbedded>(); break;
        case amtImageReference: a = std::make_unique<TAnnotationImageReference>(); break;
        case amtStraightLine: a = std::make_unique<TAnnotationStraightLine>(); break;
        case amtFreeHandLine: a = std::make_unique<TAnnotationFreeHandLine>(); break;
        case amtHollowRectangle: a = std::make_unique<TAnnotationHollowRectangle>(); break;
        case amtFilledRectangle: a = std::make_unique<TAnnotationFilledRectangle>(); break;
        case amtTypedRectangle: a = std::make_unique<TAnnotationTypedRectangle>(); break;
        case amtTextFromFile: a = std::make_unique<TAnnotationTextFromFile>(); break;
        case amtTextStamp: a = std::make_unique<TAnnotationTextStamp>(); break;
        case amtAttachANote: a = std::make_unique<TAnnotationAttachANote>(); break;
        case amtForm: a = std::make_unique<TAnnotationForm>(); break;
        case amtOCRRegion: a = std::make_unique<TAnnotationatOCRRegion>(); break;
        default: throw Exception("Unsupported annotation type");
    }
    a->MarkType = markType;
    a->Group = DefaultGroup;
    a->Index = Count() + 1;
    items_.push_back(std::move(a));
    return items_.back().get();
}

void TAnnotations::Delete(int32_t index) {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    items_.erase(items_.begin() + index);
}

TGenericAnnotation* TAnnotations::Items(int32_t index) const {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    return items_[static_cast<size_t>(index)].get();
}

}  // namespace qil
