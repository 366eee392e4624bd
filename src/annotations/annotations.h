// Annotation records of a TIFF page (tag 32932, the Wang imaging annotation layout).
//
// TAnnotations reads the records of one page into typed annotation objects: a mark-attributes
// record creates an annotation of the class of its mark type, and the named blocks that follow
// give it its group, index, points, text, file name or picture. The collection only reads;
// nothing writes annotations back.
//
// All integers of the annotation data are little-endian 32-bit values, whatever the byte order
// of the TIFF file. The data come from the file and are not trusted: no count, length or size
// read from them makes the reader look past the end of the data (see ParseRawData).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dib/dib.h"
#include "platform/memory.h"
#include "platform/rect.h"
#include "platform/streams.h"

namespace qil {

// The 60-byte logical font record stored with every mark (LOGFONTA).
struct TLogFontA {
    int32_t lfHeight = 0;
    int32_t lfWidth = 0;
    int32_t lfEscapement = 0;
    int32_t lfOrientation = 0;
    int32_t lfWeight = 0;
    uint8_t lfItalic = 0;
    uint8_t lfUnderline = 0;
    uint8_t lfStrikeOut = 0;
    uint8_t lfCharSet = 0;
    uint8_t lfOutPrecision = 0;
    uint8_t lfClipPrecision = 0;
    uint8_t lfQuality = 0;
    uint8_t lfPitchAndFamily = 0;
    char lfFaceName[32] = {};  // NUL-terminated as stored (not forced: all 32 bytes are kept)
};
static_assert(sizeof(TLogFontA) == 60);

// Mark type codes of the mark-attributes record.
enum TAnnotationMarkType : uint8_t {
    amtImageEmbedded = 1,
    amtImageReference = 2,
    amtStraightLine = 3,
    amtFreeHandLine = 4,
    amtHollowRectangle = 5,
    amtFilledRectangle = 6,
    amtTypedRectangle = 7,
    amtTextFromFile = 8,
    amtTextStamp = 9,
    amtAttachANote = 10,
    amtForm = 11,
    amtOCRRegion = 12,
};

// Base of every annotation: the fields of the mark-attributes record.
class TGenericAnnotation {
public:
    TGenericAnnotation() = default;
    virtual ~TGenericAnnotation() = default;
    TGenericAnnotation(const TGenericAnnotation&) = delete;
    TGenericAnnotation& operator=(const TGenericAnnotation&) = delete;

    // The class name, e.g. "TAnnotationStraightLine".
    virtual const char* ClassName() const { return "TGenericAnnotation"; }

    uint8_t MarkType = 0;   // 1..12
    int32_t Index = 0;      // position in the collection + 1 at creation, or an "OiIndex" value
    TRect Bounds{};         // image pixels as stored
    RGBQUAD Color1{};       // main color
    RGBQUAD Color2{};       // secondary color
    bool Highlighting = false;
    bool Transparent = false;
    bool Visible = false;
    int32_t LineSize = 0;   // image pixels
    TLogFontA LogFont{};
    uint32_t Time = 0;      // as stored; not interpreted
    std::string Group;      // the collection's DefaultGroup at creation, or an "OiGroup" text
};

// Marks that show a picture.
class TGenericImageAnnotation : public TGenericAnnotation {
public:
    const char* ClassName() const override { return "TGenericImageAnnotation"; }

    std::string FileName;
    int32_t Rotation = 0;
    int32_t Scale = 0;
    int32_t SourceXResolution = 0;
    int32_t SourceYResolution = 0;
};

// A picture stored with the mark as a packed device-independent bitmap.
class TAnnotationImageEmbedded : public TGenericImageAnnotation {
public:
    ~TAnnotationImageEmbedded() override;
    const char* ClassName() const override { return "TAnnotationImageEmbedded"; }

    // Movable memory block with the picture (info header, color table, bottom-up rows);
    // owned: released with the annotation. 0 while the mark has no picture.
    HGLOBAL DIBHandle = 0;
};

// A picture referred to by FileName.
class TAnnotationImageReference : public TGenericImageAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationImageReference"; }
};

class TAnnotationForm : public TGenericImageAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationForm"; }
};

// Marks made of points. Point i is (PointsX[i], PointsY[i]), in image pixels relative to the
// top-left corner of Bounds; the two lists always have the same length.
class TGenericLineAnnotation : public TGenericAnnotation {
public:
    const char* ClassName() const override { return "TGenericLineAnnotation"; }

    // Appends a point.
    virtual void AddPoint(const TPoint& point);
    int32_t PointCount() const { return static_cast<int32_t>(PointsX.size()); }
    // Point Index (0-based); raises EListError "List index out of bounds (%d)" outside the list.
    TPoint GetPoint(int32_t index) const;

    std::vector<int32_t> PointsX;
    std::vector<int32_t> PointsY;
};

// A line of exactly two points: AddPoint raises Exception "Only 2 points allowed for line
// annotation" when the mark already holds two.
class TAnnotationStraightLine : public TGenericLineAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationStraightLine"; }
    void AddPoint(const TPoint& point) override;
};

class TAnnotationFreeHandLine : public TGenericLineAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationFreeHandLine"; }
};

class TAnnotationHollowRectangle : public TGenericAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationHollowRectangle"; }
};

class TAnnotationFilledRectangle : public TGenericAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationFilledRectangle"; }
};

// Marks that show text.
class TGenericTextAnnotation : public TGenericAnnotation {
public:
    const char* ClassName() const override { return "TGenericTextAnnotation"; }

    std::string Text;                // 8-bit text as stored, empty at creation
    int32_t CreationResolution = 0;  // dots per inch
};

class TAnnotationTypedRectangle : public TGenericTextAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationTypedRectangle"; }
};

class TAnnotationTextFromFile : public TGenericTextAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationTextFromFile"; }
};

class TAnnotationTextStamp : public TGenericTextAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationTextStamp"; }
};

class TAnnotationAttachANote : public TGenericTextAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationAttachANote"; }
};

class TAnnotationatOCRRegion : public TGenericTextAnnotation {
public:
    const char* ClassName() const override { return "TAnnotationatOCRRegion"; }
};

// The annotations of one page, in creation order, each owned by the collection.
//
// Every failure raises Exception with a fixed message (or the stream's own exceptions for a
// file that cannot be opened or read); the annotations created before the failure stay in
// the collection.
class TAnnotations {
public:
    TAnnotations();
    ~TAnnotations();
    TAnnotations(const TAnnotations&) = delete;
    TAnnotations& operator=(const TAnnotations&) = delete;

    // Empties RawData and frees every annotation (last first). DefaultGroup is kept.
    void Clear();
    // Clear, then read the annotations of the 0-based page of the file (opened read-only,
    // shared with everybody).
    void LoadFromFile(const std::string& fileName, int32_t page);
    // Clear, then read the annotations of the 0-based page of the TIFF file that starts at the
    // stream's current position.
    void LoadFromStream(TStream& stream, int32_t page);
    // Clear, copy Size bytes of annotation data into RawData and parse them.
    void LoadFromBuffer(const void* buffer, int32_t size);
    // Reads the annotations from RawData: an 8-byte data header (its second integer must be
    // 1), then records back to back until at most one byte is left.
    //
    // Notes:
    //  - Record and block sizes are unsigned: every record moves the reading position forward,
    //    and a size running past the end simply ends the data.
    //  - A record head, the 164 attribute bytes of a mark record, or a name block head that
    //    does not fit in the data, and a block whose data are used but run past the end, fail
    //    with "Invalid annotation data"; so does data shorter than its 8-byte header.
    //  - Point counts and text lengths are cut to what their block holds (a negative one reads
    //    as 0); a block shorter than its fixed head reads as if padded with zero bytes.
    void ParseRawData();

    // Creates the annotation class of the mark type code, or raises "Unsupported annotation
    // type"; sets MarkType, Group := DefaultGroup, Index := Count + 1; appends and answers it.
    TGenericAnnotation* AddAnnotation(uint8_t markType);
    // Frees and removes the annotation at Index (EListError outside the list).
    void Delete(int32_t index);
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // The annotation at Index, 0-based (EListError outside the list).
    TGenericAnnotation* Items(int32_t index) const;

    TMemoryStream RawData;              // the bytes of tag 32932 of the loaded page
    std::string DefaultGroup;           // "[Senza Nome]" until a default "OiGroup" block

private:
    std::vector<std::unique_ptr<TGenericAnnotation>> items_;
};

}  // namespace qil
