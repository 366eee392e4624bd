// Builders of annotation data (the bytes of tag 32932) and of small TIFF files that carry them,
// for the annotation tests. Annotation integers are always little-endian; the TIFF header and
// directories follow the chosen byte order.
#pragma once

#include <cstdint>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "failure_of.h"

namespace qil::testing {

using Bytes = std::vector<uint8_t>;

inline void put32le(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// The 164 attribute bytes of a mark record.
struct MarkAttrs {
    uint32_t markType = 5;  // the whole stored word; only its low byte names the class
    int32_t left = 10, top = 20, right = 110, bottom = 220;
    uint8_t color1[4] = {1, 2, 3, 0};
    uint8_t color2[4] = {4, 5, 6, 0};
    uint32_t highlighting = 0, transparent = 0;
    int32_t lineSize = 3;
    uint8_t logFont[60] = {};
    uint32_t time = 0x12345678;
    uint32_t visible = 1;

    Bytes Encode() const {
        Bytes b;
        put32le(b, markType);
        put32le(b, static_cast<uint32_t>(left));
        put32le(b, static_cast<uint32_t>(top));
        put32le(b, static_cast<uint32_t>(right));
        put32le(b, static_cast<uint32_t>(bottom));
        b.insert(b.end(), color1, color1 + 4);
        b.insert(b.end(), color2, color2 + 4);
        put32le(b, highlighting);
        put32le(b, transparent);
        put32le(b, static_cast<uint32_t>(lineSize));
        b.insert(b.end(), 8, 0xEE);  // skipped
        b.insert(b.end(), logFont, logFont + 60);
        b.insert(b.end(), 4, 0xEE);  // skipped
        put32le(b, time);
        put32le(b, visible);
        b.insert(b.end(), 44, 0xEE);  // skipped
        return b;
    }
};

// Annotation data built record by record.
struct AnnoData {
    static constexpr uint32_t kMaxPad = 1u << 20;
    Bytes bytes;

    explicit AnnoData(uint32_t integerFormat = 1) {
        put32le(bytes, 0xDEADBEEF);  // ignored word
        put32le(bytes, integerFormat);
    }
    // A mark-attributes record; RecordSize defaults to the 164 attribute bytes. Extra bytes
    // beyond the attributes (when RecordSize is larger, up to 1 MiB) are filled with Filler;
    // larger sizes are stored without the bytes they claim.
    AnnoData& Mark(const MarkAttrs& attrs, uint32_t recordSize = 164, uint8_t filler = 0xCC) {
        put32le(bytes, 5);
        put32le(bytes, recordSize);
        append(bytes, attrs.Encode());
        if (recordSize > 164 && recordSize <= kMaxPad) bytes.insert(bytes.end(), recordSize - 164, filler);
        return *this;
    }
    AnnoData& Mark(uint32_t markType) {
        MarkAttrs a;
        a.markType = markType;
        return Mark(a);
    }
    // A named block (record type 2 or 6) with its name NUL-padded to 8 bytes. HeadSize is the
    // stored record size (normally the 12 bytes of name and data size); DataSize defaults to
    // the size of Data.
    AnnoData& Block(uint32_t recordType, const std::string& name, const Bytes& data, uint32_t headSize = 12,
                    int64_t dataSize = -1) {
        put32le(bytes, recordType);
        put32le(bytes, headSize);
        char n[8] = {};
        std::memcpy(n, name.data(), name.size() < 8 ? name.size() : 8);
        bytes.insert(bytes.end(), n, n + 8);
        put32le(bytes, dataSize < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(dataSize));
        if (headSize > 12 && headSize <= kMaxPad) bytes.insert(bytes.end(), headSize - 12, 0xAB);
        append(bytes, data);
        return *this;
    }
    AnnoData& Default(const std::string& name, const Bytes& data) { return Block(2, name, data); }
    AnnoData& ForMark(const std::string& name, const Bytes& data) { return Block(6, name, data); }
    AnnoData& Raw(const Bytes& more) {
        append(bytes, more);
        return *this;
    }
};

// NUL-terminated text.
inline Bytes CStr(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

// "OiAnoDat" of a line mark; StoredCount defaults to the number of points.
inline Bytes PointData(const std::vector<std::pair<int32_t, int32_t>>& points, int64_t storedCount = INT64_MIN) {
    Bytes b;
    put32le(b, 0);
    put32le(b, static_cast<uint32_t>(storedCount == INT64_MIN ? static_cast<int64_t>(points.size()) : storedCount));
    for (auto [x, y] : points) {
        put32le(b, static_cast<uint32_t>(x));
        put32le(b, static_cast<uint32_t>(y));
    }
    return b;
}

// "OiAnText" of a text mark; StoredLength defaults to the text's length.
inline Bytes TextData(int32_t creationScale, const std::string& text, int64_t storedLength = INT64_MIN) {
    Bytes b;
    put32le(b, 0);
    put32le(b, 0);
    put32le(b, static_cast<uint32_t>(creationScale));
    put32le(b, static_cast<uint32_t>(storedLength == INT64_MIN ? static_cast<int64_t>(text.size()) : storedLength));
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

// "OiAnoDat" of an image mark.
inline Bytes RotationData(int32_t rotation, int32_t scale, int32_t xres, int32_t yres) {
    Bytes b;
    put32le(b, static_cast<uint32_t>(rotation));
    put32le(b, static_cast<uint32_t>(scale));
    put32le(b, 0x11111111);
    put32le(b, 0x22222222);
    put32le(b, static_cast<uint32_t>(xres));
    put32le(b, static_cast<uint32_t>(yres));
    b.insert(b.end(), 8, 0);
    return b;
}

// One directory entry to write. With Data non-empty the bytes are stored in the file and Value
// is their offset; otherwise Value is written as given.
struct TiffTag {
    uint16_t tag = 0;
    uint16_t type = 7;  // UNDEFINED
    uint32_t count = 0;
    uint32_t value = 0;
    Bytes data;
};

inline TiffTag AnnotationTag(const Bytes& data) { return TiffTag{32932, 7, static_cast<uint32_t>(data.size()), 0, data}; }
inline TiffTag ShortTag(uint16_t tag, uint16_t value) { return TiffTag{tag, 3, 1, value, {}}; }

// A TIFF file of one directory per page (no image data: only the directory walk matters).
struct TiffFile {
    Bytes bytes;
    bool bigEndian = false;
    std::vector<uint32_t> ifdOffsets;      // offset of each page's directory
    std::vector<uint32_t> nextFieldAt;     // where each directory's next offset is stored
    std::vector<uint32_t> dataOffsets;     // per page, per entry: offset of its data (0 if inline)

    void put16(uint16_t v) {
        if (bigEndian) {
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v));
        } else {
            bytes.push_back(static_cast<uint8_t>(v));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    void put32(uint32_t v) {
        if (bigEndian) {
            put16(static_cast<uint16_t>(v >> 16));
            put16(static_cast<uint16_t>(v));
        } else {
            put16(static_cast<uint16_t>(v));
            put16(static_cast<uint16_t>(v >> 16));
        }
    }
    void patch32(uint32_t at, uint32_t v) {
        TiffFile tmp;
        tmp.bigEndian = bigEndian;
        tmp.put32(v);
        std::memcpy(bytes.data() + at, tmp.bytes.data(), 4);
    }
    void patch16(uint32_t at, uint16_t v) {
        TiffFile tmp;
        tmp.bigEndian = bigEndian;
        tmp.put16(v);
        std::memcpy(bytes.data() + at, tmp.bytes.data(), 2);
    }
    // Points the next-directory field of Page at Offset.
    void SetNext(size_t page, uint32_t offset) { patch32(nextFieldAt[page], offset); }
};

inline TiffFile BuildTiff(bool bigEndian, const std::vector<std::vector<TiffTag>>& pages) {
    TiffFile f;
    f.bigEndian = bigEndian;
    const char* order = bigEndian ? "MM" : "II";
    f.bytes.push_back(static_cast<uint8_t>(order[0]));
    f.bytes.push_back(static_cast<uint8_t>(order[1]));
    f.put16(42);
    f.put32(0);  // patched below
    uint32_t previousNext = 4;
    for (const auto& tags : pages) {
        std::vector<uint32_t> offsets;
        for (const auto& t : tags) {
            if (t.data.empty()) {
                offsets.push_back(0);
                continue;
            }
            if (f.bytes.size() % 2) f.bytes.push_back(0);
            offsets.push_back(static_cast<uint32_t>(f.bytes.size()));
            append(f.bytes, t.data);
        }
        if (f.bytes.size() % 2) f.bytes.push_back(0);
        uint32_t ifd = static_cast<uint32_t>(f.bytes.size());
        f.patch32(previousNext, ifd);
        f.ifdOffsets.push_back(ifd);
        f.put16(static_cast<uint16_t>(tags.size()));
        for (size_t i = 0; i < tags.size(); ++i) {
            f.put16(tags[i].tag);
            f.put16(tags[i].type);
            f.put32(tags[i].count);
            f.put32(tags[i].data.empty() ? tags[i].value : offsets[i]);
            f.dataOffsets.push_back(offsets[i]);
        }
        previousNext = static_cast<uint32_t>(f.bytes.size());
        f.nextFieldAt.push_back(previousNext);
        f.put32(0);
    }
    return f;
}

}  // namespace qil::testing
