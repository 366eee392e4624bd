// Portable Network Graphics codec (the published PNG specification), over zlib.
//
// TPNGImage holds a picture as a small bitmap of its own (1, 4, 8 or 24 bits per pixel,
// rows top-down, padded to four bytes, 24-bit pixels stored blue, green, red) together with
// the list of the file's chunks. Loading reads and checks every chunk, then lets each chunk
// apply itself in list order: gAMA builds the gamma tables, IDAT decodes the picture.
// Saving rebuilds IHDR, PLTE, tRNS and IDAT from the bitmap and writes the list.
//
// Pixel formats of the bitmap, by color type and bit depth of the file:
//   gray (0), palette (3), gray + alpha (4): depth 1 -> 1 bit; 2 or 4 -> 4 bits; 8 or 16 -> 8 bits
//   RGB (2), RGBA (6), depth 8 or 16 -> 24 bits
// Gray images get a gray-ramp palette, 16-bit samples keep their high byte, alpha is dropped,
// 2-bit samples v are held as 4-bit values 5 v.
//
// Every file is untrusted: chunk lengths are checked against the bytes left in the stream,
// the header's size against what the compressed data can possibly hold and against the
// largest bitmap an image can have, and decompression stops at the size the header gives.
// Every failure raises EPNGImageException with the message
// "Portable Network Graphics format handler error\r\n\r\n<specific text>".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/streams.h"

namespace qil {

class EPNGImageException : public Exception {
public:
    // Text: the specific message; what() is the whole framed message.
    explicit EPNGImageException(const std::string& text);
    std::string Text;
};

// The specific texts of the failures.
extern const char* const EPngInvalidHeader;        // signature missing
extern const char* const EPngUnknownCritical;      // unregistered critical chunk
extern const char* const EPngCorrupted;            // bad CRC, truncated chunk, bad compressed data
extern const char* const EPngIHDRNotFirst;         // first chunk is not IHDR
extern const char* const EPngNoImageData;          // no IDAT
extern const char* const EPngUnknownColorType;     // color type not 0, 2, 3, 4, 6
extern const char* const EPngInvalidPalette;       // PLTE size not a multiple of 3 (or empty, or > 256 entries)
extern const char* const EPngPaletteMissing;       // palette image without PLTE
extern const char* const EPngUnknownFilter;        // filter type above 4, or IHDR filter method not 0
extern const char* const EPngUnknownInterlace;     // interlace method not 0 or 1
extern const char* const EPngChunkIndex;           // chunk list index out of range
extern const char* const EPngChunkNotInList;       // removing a chunk of another list
extern const char* const EPngChunkClassIndex;      // chunk class registry index out of range
extern const char* const EPngPhysCorrupted;        // pHYs data not 9 bytes
extern const char* const EPngInvalidIHDR;          // IHDR data not 13 bytes
extern const char* const EPngInvalidSize;          // width or height 0 or above 2^31 - 1
extern const char* const EPngInvalidBitDepth;      // bit depth not allowed for the color type
extern const char* const EPngUnknownCompression;   // IHDR compression method not 0
extern const char* const EPngTooLarge;             // bitmap beyond the size limits
extern const char* const EPngInvalidBitmap;        // saving or sizing a bitmap of another format

// CRC-32 of the PNG specification (the 256-entry table is built on first use). Crc is the
// running value before the final complement: start with 0xFFFFFFFF, finish with ~crc.
uint32_t UpdatePngCrc(uint32_t crc, const uint8_t* data, size_t count);
// The CRC of a chunk: over its 4 type bytes and its data.
uint32_t PngChunkCrc(const char type[4], const uint8_t* data, size_t count);

class TPNGImage;
class TChunkList;

// One chunk: a 4-byte type code (as stored) and its data.
class TChunk {
public:
    TChunk(TPNGImage& owner, const char* type);
    virtual ~TChunk() = default;
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    // Runs after the whole file has been read; nothing in the base class.
    virtual void ApplyChunk() {}
    // Copies type and data.
    virtual void Assign(const TChunk& source);
    // Writes length, type, data and CRC (big-endian numbers).
    virtual void WriteChunk(TStream& stream);

    std::string ChunkType() const { return std::string(Type.data(), 4); }
    bool IsType(const char* type) const;
    const uint8_t* DataBytes() const { return Data.Data().data(); }
    int64_t DataSize() const { return static_cast<int64_t>(Data.Data().size()); }
    void SetData(const uint8_t* bytes, size_t count);

    TPNGImage& Owner;
    std::array<char, 4> Type{};
    TMemoryStream Data;

protected:
    uint32_t ReadBE32(int64_t offset) const;
    uint16_t ReadBE16(int64_t offset) const;
};

class TChunkIEND : public TChunk {
public:
    explicit TChunkIEND(TPNGImage& owner);
};

class TChunkIHDR : public TChunk {
public:
    explicit TChunkIHDR(TPNGImage& owner);
    // Raises EPngInvalidIHDR unless the data is 13 bytes.
    void Check() const;
    uint32_t Width() const { return ReadBE32(0); }
    uint32_t Height() const { return ReadBE32(4); }
    uint8_t BitDepth() const { return DataBytes()[8]; }
    uint8_t ColorType() const { return DataBytes()[9]; }
    uint8_t CompressionMethod() const { return DataBytes()[10]; }
    uint8_t FilterMethod() const { return DataBytes()[11]; }
    uint8_t InterlaceMethod() const { return DataBytes()[12]; }
    void Describe(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType, uint8_t interlace);
};

// Gamma: GammaTable[v] = Round(255 (v / 255)^(1 / (2.2 g / 100000))), g the chunk's value.
class TChunkGAMA : public TChunk {
public:
    explicit TChunkGAMA(TPNGImage& owner);  // 4 bytes holding 1
    void ApplyChunk() override;
    // The stored value; 0 when the data is not 4 bytes long.
    uint32_t Gamma() const;
    void SetGamma(uint32_t value);
};

class TChunkIDAT : public TChunk {
public:
    explicit TChunkIDAT(TPNGImage& owner);
    // Decodes the picture into the owner's bitmap.
    void ApplyChunk() override;
    // Data beyond the largest chunk a PNG allows is written as several IDAT chunks.
    void WriteChunk(TStream& stream) override;
};

class TChunkPLTE : public TChunk {
public:
    explicit TChunkPLTE(TPNGImage& owner);
    int32_t Count() const { return static_cast<int32_t>(DataSize() / 3); }
};

class TChunkTEXT : public TChunk {
public:
    explicit TChunkTEXT(TPNGImage& owner);  // 2 zero bytes
};

class TChunkTRNS : public TChunk {
public:
    explicit TChunkTRNS(TPNGImage& owner);
};

class TChunkTIME : public TChunk {
public:
    explicit TChunkTIME(TPNGImage& owner);  // 7 bytes: the current time (UTC)
};

class TChunkPHYS : public TChunk {
public:
    explicit TChunkPHYS(TPNGImage& owner);  // 3780 pixels per metre both ways, unit 1
    uint32_t PPUnitX() const { return ReadBE32(0); }
    uint32_t PPUnitY() const { return ReadBE32(4); }
    uint8_t UnitType() const { return DataBytes()[8]; }
    void SetValues(uint32_t ppuX, uint32_t ppuY, uint8_t unit);
    // Dots per inch = pixels per unit x 0.0254, rounded (ties to even); the unit is not
    // examined. Raises EPngPhysCorrupted unless the data is 9 bytes.
    void GetResolution(int32_t& xDpi, int32_t& yDpi) const;
};

// The registry of chunk classes: type code <-> class (a factory).
using TChunkFactory = std::unique_ptr<TChunk> (*)(TPNGImage& owner);
struct TChunkClass {
    std::array<char, 4> Type;
    TChunkFactory Create;
};
namespace TChunkClasses {
int32_t Count();
// Raises EPngChunkClassIndex for an index outside the registry.
TChunkClass Item(int32_t index);
// Index of a type code, -1 when not registered.
int32_t IndexOf(const char type[4]);
// Adds (or replaces) the class of a type code.
void Register(const char type[4], TChunkFactory create);
}  // namespace TChunkClasses

// Ordered, owned chunks.
class TChunkList {
public:
    explicit TChunkList(TPNGImage& owner) : Owner(owner) {}
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // Raises EPngChunkIndex outside 0 .. Count - 1.
    TChunk* Item(int32_t index) const;
    TChunk* operator[](int32_t index) const { return Item(index); }
    // Creates a chunk of the registered class of Type (a plain TChunk when unregistered) and
    // appends it, or inserts it before Index.
    TChunk* Add(const char type[4]);
    TChunk* Insert(int32_t index, const char type[4]);
    TChunk* Add(std::unique_ptr<TChunk> chunk);
    // Raises EPngChunkNotInList when the chunk is not in this list.
    void Remove(TChunk* chunk);
    void Move(int32_t from, int32_t to);
    int32_t IndexOf(const TChunk* chunk) const;
    // First chunk of the type, nullptr when none.
    TChunk* Find(const char type[4]) const;
    int32_t FindIndex(const char type[4]) const;
    template <class T>
    T* Find(const char type[4]) const {
        return dynamic_cast<T*>(Find(type));
    }
    void Clear() { items_.clear(); }

    TPNGImage& Owner;

private:
    std::vector<std::unique_ptr<TChunk>> items_;
};

// PNG filter types, and sets of them as bit masks.
enum TFilter : uint8_t { pfNone = 0, pfSub = 1, pfUp = 2, pfAverage = 3, pfPaeth = 4 };
using TFilters = uint8_t;
constexpr TFilters FilterBit(TFilter f) { return static_cast<TFilters>(1u << f); }

// Palette entry of the bitmap.
struct TPngColor {
    uint8_t Red, Green, Blue;
    bool operator==(const TPngColor&) const = default;
};

class TPNGImage {
public:
    // Progress: stage text ("Drawing...") and percentage done.
    using TProgressEvent = std::function<void(TPNGImage& sender, const std::string& stage, int32_t percent)>;

    TPNGImage();
    ~TPNGImage();
    TPNGImage(const TPNGImage&) = delete;
    TPNGImage& operator=(const TPNGImage&) = delete;

    // Reads a whole PNG from the stream's position. A failure leaves the picture empty.
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream);

    // ---- The bitmap ----
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // fmt1Bit, fmt4Bit, fmt8Bit or fmt24Bit (0 when empty).
    uint8_t PixelFormat() const { return pixelFormat_; }
    int32_t Stride() const { return stride_; }
    int32_t RowBytes() const { return rowBytes_; }
    // Makes a blank (zeroed) bitmap; refuses other formats and sizes beyond the limits.
    void SetSize(int32_t width, int32_t height, uint8_t pixelFormat);
    uint8_t* Scanline(int32_t y) { return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(stride_); }
    const uint8_t* Scanline(int32_t y) const {
        return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(stride_);
    }
    bool Empty() const { return pixelFormat_ == 0; }
    // Resets to an empty picture with an empty chunk list.
    void Clear();

    std::vector<TPngColor> Palette;
    bool Transparent = false;
    // Red | green shl 8 | blue shl 16.
    uint32_t TransparentColor = 0;

    // ---- Codec state ----
    TChunkList Chunks;
    // Filters tried per row when saving; None is always included.
    TFilters EncodeFilters = FilterBit(pfNone) | FilterBit(pfSub) | FilterBit(pfAverage) | FilterBit(pfPaeth);
    // Set by loading an interlaced file; cleared when saving (rows are written in order).
    bool Interlaced = false;
    std::array<uint8_t, 256> GammaTable{};
    std::array<uint8_t, 256> InverseGammaTable{};
    // True once a gAMA chunk has built the tables.
    bool HasGamma = false;
    TProgressEvent OnProgress;

    // Largest bitmap (Stride x Height) the codec builds: what a TDIB block can hold.
    static constexpr int64_t MaxBitmapBytes = 0x7FFFFFFFLL - 1064;

    // Builds the gamma tables for a gAMA value (see TChunkGAMA); 0 resets to identity.
    void BuildGammaTables(uint32_t gamma);
    // Decodes the gathered image data (called by TChunkIDAT::ApplyChunk).
    void DecodeImageData(const TChunkIDAT& idat);

private:
    void ResetGamma();
    void EncodeImageData(TChunk& idat);
    void PrepareChunksForSaving();

    int32_t width_ = 0;
    int32_t height_ = 0;
    uint8_t pixelFormat_ = 0;
    int32_t stride_ = 0;
    int32_t rowBytes_ = 0;
    std::vector<uint8_t> pixels_;
};

}  // namespace qil
