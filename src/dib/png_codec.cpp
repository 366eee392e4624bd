#include "dib/png_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

#include "dib/dib.h"
#include "dib/image_file.h"
#include "dib/zlib_streams.h"
#include "platform/numeric.h"

namespace qil {

// ---- Messages ----

const char* const EPngInvalidHeader = "Invalid Portable Graphics Network image, it has an invalid file header.";
const char* const EPngUnknownCritical =
    "The currently being loaded image contains critical(s) chunk(s) not reconized by the decoder.";
const char* const EPngCorrupted = "Can't read the PNG image, it has corrupted data. ";
const char* const EPngIHDRNotFirst =
    "This PNG image is invalid, the IHDR chunk is either not present or it isn't the first chunk.";
const char* const EPngNoImageData = "The current image being loaded has no data and could not be loaded.";
const char* const EPngUnknownColorType = "Could not read the image because it has an unknown color type.";
const char* const EPngInvalidPalette = "The current image being loaded has an invalid palette!";
const char* const EPngPaletteMissing = "The current image requeries a palette but it is not avaliable.";
const char* const EPngUnknownFilter =
    "The image could not be loaded because it uses an unknown set of filter types.";
const char* const EPngUnknownInterlace = "The image has an unknown interlace method.";
const char* const EPngChunkIndex = "The chunk index especified is out of the range.";
const char* const EPngChunkNotInList =
    "The especified chunk is not inside the chunk list containing the method being used. The funcion could not be "
    "completed.";
const char* const EPngChunkClassIndex = "The chunk class index especified is  out of range.";
const char* const EPngPhysCorrupted = "Could not get informations on the tIME chunk because it is corrupted.";
const char* const EPngInvalidIHDR = "The image header (IHDR chunk) is corrupted.";
const char* const EPngInvalidSize = "The image header gives an invalid image size.";
const char* const EPngInvalidBitDepth = "The image header gives a bit depth that its color type does not allow.";
const char* const EPngUnknownCompression = "The image uses an unknown compression method.";
const char* const EPngTooLarge = "The image is too large to be handled.";
const char* const EPngInvalidBitmap = "The bitmap has a size or pixel format that cannot be stored as PNG.";

EPNGImageException::EPNGImageException(const std::string& text)
    : Exception(Format("Portable Network Graphics format handler error%s%s", "\r\n\r\n", text.c_str())), Text(text) {}

namespace {

[[noreturn]] void Fail(const char* text) { throw EPNGImageException(text); }

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;
// Widest filtered row accepted (bytes), whatever the bitmap would need.
constexpr uint64_t kMaxSourceRowBytes = 1ull << 28;
// Deflate cannot expand data by more than about 1032:1; a header that asks for more than the
// compressed data could possibly hold is refused before anything is allocated.
constexpr uint64_t kMaxInflateRatio = 1040;
constexpr uint64_t kInflateSlack = 64 * 1024;

uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

// Windows' MulDiv for non-negative operands: a * b / c rounded half up.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) { return static_cast<int32_t>((int64_t(a) * b + c / 2) / c); }

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

// One Adam7 pass: first column and row, column and row steps.
struct TPass {
    int32_t x0, y0, dx, dy;
};
constexpr TPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                             {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

int32_t PassExtent(int32_t size, int32_t start, int32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

uint64_t FilteredRowBytes(uint64_t width, uint32_t bitsPerPixel) { return (width * bitsPerPixel + 7) / 8; }

uint8_t PaethPredictor(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    if (pb <= pc) return static_cast<uint8_t>(b);
    return static_cast<uint8_t>(c);
}

// Reverses the filter of one row in place; Prev is the unfiltered previous row (zeros
// before the first row of a pass).
void Unfilter(uint8_t type, uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp) {
    switch (type) {
        case pfNone: break;
        case pfSub:
            for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + cur[i - bpp]);
            break;
        case pfUp:
            for (size_t i = 0; i < n; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
            break;
        case pfAverage:
            for (size_t i = 0; i < bpp && i < n; ++i) cur[i] = uint8_t(cur[i] + (prev[i] >> 1));
            for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + ((unsigned(cur[i - bpp]) + prev[i]) >> 1));
            break;
        case pfPaeth:
            for (size_t i = 0; i < bpp && i < n; ++i) cur[i] = uint8_t(cur[i] + prev[i]);
            for (size_t i = bpp; i < n; ++i) cur[i] = uint8_t(cur[i] + PaethPredictor(cur[i - bpp], prev[i], prev[i - bpp]));
            break;
        default: Fail(EPngUnknownFilter);
    }
}

// Applies a filter to one row: Out[i] = Raw[i] - predictor (the filter chosen once, outside
// the loops).
void ApplyFilter(uint8_t type, const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n, size_t bpp) {
    const size_t lead = std::min(bpp, n);
    switch (type) {
        case pfSub:
            std::memcpy(out, raw, lead);
            for (size_t i = lead; i < n; ++i) out[i] = uint8_t(raw[i] - raw[i - bpp]);
            break;
        case pfUp:
            for (size_t i = 0; i < n; ++i) out[i] = uint8_t(raw[i] - prev[i]);
            break;
        case pfAverage:
            for (size_t i = 0; i < lead; ++i) out[i] = uint8_t(raw[i] - (prev[i] >> 1));
            for (size_t i = lead; i < n; ++i) out[i] = uint8_t(raw[i] - ((unsigned(raw[i - bpp]) + prev[i]) >> 1));
            break;
        case pfPaeth:
            for (size_t i = 0; i < lead; ++i) out[i] = uint8_t(raw[i] - prev[i]);
            for (size_t i = lead; i < n; ++i) out[i] = uint8_t(raw[i] - PaethPredictor(raw[i - bpp], prev[i], prev[i - bpp]));
            break;
        default: std::memcpy(out, raw, n); break;
    }
}

// Positions k >= 4 where bytes k-4 .. k are all equal.
int64_t CountRuns(const uint8_t* p, size_t n) {
    int64_t count = 0;
    size_t run = 1;
    for (size_t k = 1; k < n; ++k) {
        run = p[k] == p[k - 1] ? run + 1 : 1;
        if (run >= 5) ++count;
    }
    return count;
}

template <class T>
std::unique_ptr<TChunk> Make(TPNGImage& owner) {
    return std::make_unique<T>(owner);
}

struct TChunkRegistry {
    std::mutex lock;
    std::vector<TChunkClass> classes;

    TChunkRegistry() {
        add("IEND", &Make<TChunkIEND>);
        add("IHDR", &Make<TChunkIHDR>);
        add("gAMA", &Make<TChunkGAMA>);
        add("IDAT", &Make<TChunkIDAT>);
        add("PLTE", &Make<TChunkPLTE>);
        add("tEXt", &Make<TChunkTEXT>);
        add("tRNS", &Make<TChunkTRNS>);
        add("tIME", &Make<TChunkTIME>);
        add("pHYs", &Make<TChunkPHYS>);
    }
    void add(const char* type, TChunkFactory f) {
        TChunkClass c{};
        std::memcpy(c.Type.data(), type, 4);
        c.Create = f;
        classes.push_back(c);
    }
};

TChunkRegistry& Registry() {
    static TChunkRegistry registry;
    return registry;
}

std::unique_ptr<TChunk> CreateChunk(TPNGImage& owner, const char type[4]) {
    int32_t index = TChunkClasses::IndexOf(type);
    if (index >= 0) {
        std::unique_ptr<TChunk> chunk = TChunkClasses::Item(index).Create(owner);
        std::memcpy(chunk->Type.data(), type, 4);
        return chunk;
    }
    return std::make_unique<TChunk>(owner, type);
}

}  // namespace

// ---- CRC ----

uint32_t UpdatePngCrc(uint32_t crc, const uint8_t* data, size_t count) {
    const auto& table = CrcTable();
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t PngChunkCrc(const char type[4], const uint8_t* data, size_t count) {
    uint32_t crc = UpdatePngCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(type), 4);
    crc = UpdatePngCrc(crc, data, count);
    return ~crc;
}

// ---- Chunk class registry ----

namespace TChunkClasses {

int32_t Count() {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return static_cast<int32_t>(r.classes.size());
}

TChunkClass Item(int32_t index) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (index < 0 || index >= static_cast<int32_t>(r.classes.size())) Fail(EPngChunkClassIndex);
    return r.classes[static_cast<size_t>(index)];
}

int32_t IndexOf(const char type[4]) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (size_t i = 0; i < r.classes.size(); ++i)
        if (std::memcmp(r.classes[i].Type.data(), type, 4) == 0) return static_cast<int32_t>(i);
    return -1;
}

void Register(const char type[4], TChunkFactory create) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto& c : r.classes)
        if (std::memcmp(c.Type.data(), type, 4) == 0) {
            c.Create = create;
            return;
        }
    TChunkClass c{};
    std::memcpy(c.Type.data(), type, 4);
    c.Create = create;
    r.classes.push_back(c);
}

}  // namespace TChunkClasses

// ---- TChunk and its descendants ----

TChunk::TChunk(TPNGImage& owner, const char* type) : Owner(owner) { std::memcpy(Type.data(), type, 4); }

void TChunk::Assign(const TChunk& source) {
    if (&source == this) return;
    Type = source.Type;
    SetData(source.DataBytes(), static_cast<size_t>(source.DataSize()));
}

bool TChunk::IsType(const char* type) const { return std::memcmp(Type.data(), type, 4) == 0; }

void TChunk::SetData(const uint8_t* bytes, size_t count) {
    Data.Clear();
    if (count) Data.WriteBuffer(bytes, static_cast<int64_t>(count));
    Data.SetPosition(0);
}

uint32_t TChunk::ReadBE32(int64_t offset) const {
    if (offset + 4 > DataSize()) return 0;
    return GetBE32(DataBytes() + offset);
}

uint16_t TChunk::ReadBE16(int64_t offset) const {
    if (offset + 2 > DataSize()) return 0;
    const uint8_t* p = DataBytes() + offset;
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void TChunk::WriteChunk(TStream& stream) {
    int64_t size = DataSize();
    if (size > int64_t(kMaxChunkLength)) Fail(EPngTooLarge);
    uint8_t head[8];
    PutBE32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, Type.data(), 4);
    uint8_t tail[4];
    PutBE32(tail, PngChunkCrc(Type.data(), DataBytes(), static_cast<size_t>(size)));
    stream.WriteBuffer(head, 8);
    stream.WriteBuffer(DataBytes(), size);
    stream.WriteBuffer(tail, 4);
}

TChunkIEND::TChunkIEND(TPNGImage& owner) : TChunk(owner, "IEND") {}

TChunkIHDR::TChunkIHDR(TPNGImage& owner) : TChunk(owner, "IHDR") {
    uint8_t zero[13] = {};
    SetData(zero, 13);
}

void TChunkIHDR::Check() const {
    if (DataSize() != 13) Fail(EPngInvalidIHDR);
}

void TChunkIHDR::Describe(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colorType, uint8_t interlace) {
    uint8_t d[13];
    PutBE32(d, width);
    PutBE32(d + 4, height);
    d[8] = bitDepth;
    d[9] = colorType;
    d[10] = 0;
    d[11] = 0;
    d[12] = interlace;
    SetData(d, 13);
}

TChunkGAMA::TChunkGAMA(TPNGImage& owner) : TChunk(owner, "gAMA") { SetGamma(1); }

uint32_t TChunkGAMA::Gamma() const { return DataSize() == 4 ? GetBE32(DataBytes()) : 0; }

void TChunkGAMA::SetGamma(uint32_t value) {
    uint8_t d[4];
    PutBE32(d, value);
    SetData(d, 4);
}

void TChunkGAMA::ApplyChunk() { Owner.BuildGammaTables(Gamma()); }

TChunkIDAT::TChunkIDAT(TPNGImage& owner) : TChunk(owner, "IDAT") {}

void TChunkIDAT::ApplyChunk() { Owner.DecodeImageData(*this); }

void TChunkIDAT::WriteChunk(TStream& stream) {
    const int64_t size = DataSize();
    if (size <= int64_t(kMaxChunkLength)) {
        TChunk::WriteChunk(stream);
        return;
    }
    constexpr int64_t piece = int64_t(1) << 30;
    for (int64_t offset = 0; offset < size; offset += piece) {
        const int64_t n = std::min(piece, size - offset);
        const uint8_t* p = DataBytes() + offset;
        uint8_t head[8];
        PutBE32(head, static_cast<uint32_t>(n));
        std::memcpy(head + 4, Type.data(), 4);
        uint8_t tail[4];
        PutBE32(tail, PngChunkCrc(Type.data(), p, static_cast<size_t>(n)));
        stream.WriteBuffer(head, 8);
        stream.WriteBuffer(p, n);
        stream.WriteBuffer(tail, 4);
    }
}

TChunkPLTE::TChunkPLTE(TPNGImage& owner) : TChunk(owner, "PLTE") {}

TChunkTEXT::TChunkTEXT(TPNGImage& owner) : TChunk(owner, "tEXt") {
    uint8_t zero[2] = {};
    SetData(zero, 2);
}

TChunkTRNS::TChunkTRNS(TPNGImage& owner) : TChunk(owner, "tRNS") {}

TChunkTIME::TChunkTIME(TPNGImage& owner) : TChunk(owner, "tIME") {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    int year = t.tm_year + 1900;
    uint8_t d[7] = {uint8_t(year >> 8), uint8_t(year), uint8_t(t.tm_mon + 1), uint8_t(t.tm_mday),
                    uint8_t(t.tm_hour),  uint8_t(t.tm_min), uint8_t(std::min(t.tm_sec, 60))};
    SetData(d, 7);
}

TChunkPHYS::TChunkPHYS(TPNGImage& owner) : TChunk(owner, "pHYs") { SetValues(3780, 3780, 1); }

void TChunkPHYS::SetValues(uint32_t ppuX, uint32_t ppuY, uint8_t unit) {
    uint8_t d[9];
    PutBE32(d, ppuX);
    PutBE32(d + 4, ppuY);
    d[8] = unit;
    SetData(d, 9);
}

void TChunkPHYS::GetResolution(int32_t& xDpi, int32_t& yDpi) const {
    if (DataSize() != 9) Fail(EPngPhysCorrupted);
    xDpi = static_cast<int32_t>(Round(static_cast<Extended>(PPUnitX()) * 0.0254L));
    yDpi = static_cast<int32_t>(Round(static_cast<Extended>(PPUnitY()) * 0.0254L));
}

// ---- TChunkList ----

TChunk* TChunkList::Item(int32_t index) const {
    if (index < 0 || index >= Count()) Fail(EPngChunkIndex);
    return items_[static_cast<size_t>(index)].get();
}

TChunk* TChunkList::Add(const char type[4]) { return Add(CreateChunk(Owner, type)); }

TChunk* TChunkList::Add(std::unique_ptr<TChunk> chunk) {
    items_.push_back(std::move(chunk));
    return items_.back().get();
}

TChunk* TChunkList::Insert(int32_t index, const char type[4]) {
    if (index < 0 || index > Count()) Fail(EPngChunkIndex);
    auto it = items_.insert(items_.begin() + index, CreateChunk(Owner, type));
    return it->get();
}

void TChunkList::Remove(TChunk* chunk) {
    int32_t index = IndexOf(chunk);
    if (index < 0) Fail(EPngChunkNotInList);
    items_.erase(items_.begin() + index);
}

void TChunkList::Move(int32_t from, int32_t to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count()) Fail(EPngChunkIndex);
    if (from == to) return;
    std::unique_ptr<TChunk> c = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(c));
}

int32_t TChunkList::IndexOf(const TChunk* chunk) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == chunk) return static_cast<int32_t>(i);
    return -1;
}

TChunk* TChunkList::Find(const char type[4]) const {
    int32_t i = FindIndex(type);
    return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

int32_t TChunkList::FindIndex(const char type[4]) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->IsType(type)) return static_cast<int32_t>(i);
    return -1;
}

// ---- TPNGImage ----

TPNGImage::TPNGImage() : Chunks(*this) { ResetGamma(); }

TPNGImage::~TPNGImage() = default;

void TPNGImage::ResetGamma() {
    for (int v = 0; v < 256; ++v) {
        GammaTable[size_t(v)] = uint8_t(v);
        InverseGammaTable[size_t(v)] = uint8_t(v);
    }
    HasGamma = false;
}

void TPNGImage::Clear() {
    Chunks.Clear();
    width_ = height_ = stride_ = rowBytes_ = 0;
    pixelFormat_ = 0;
    pixels_.clear();
    pixels_.shrink_to_fit();
    Palette.clear();
    Transparent = false;
    TransparentColor = 0;
    Interlaced = false;
    ResetGamma();
}

void TPNGImage::SetSize(int32_t width, int32_t height, uint8_t pixelFormat) {
    int32_t bits = 0;
    switch (pixelFormat) {
        case fmt1Bit: bits = 1; break;
        case fmt4Bit: bits = 4; break;
        case fmt8Bit: bits = 8; break;
        case fmt24Bit: bits = 24; break;
        default: Fail(EPngInvalidBitmap);
    }
    if (width <= 0 || height <= 0) Fail(EPngInvalidBitmap);
    int64_t stride = ((int64_t(width) * bits + 31) / 32) * 4;
    if (stride > MaxBitmapBytes || stride * height > MaxBitmapBytes) Fail(EPngTooLarge);
    pixels_.assign(static_cast<size_t>(stride * height), 0);
    width_ = width;
    height_ = height;
    pixelFormat_ = pixelFormat;
    stride_ = static_cast<int32_t>(stride);
    rowBytes_ = static_cast<int32_t>((int64_t(width) * bits + 7) / 8);
}

// GammaTable[v] = Round(255 (v / 255)^(1 / (2.2 g / 100000))). The inverse table maps each
// value the table reaches back to the largest v reaching it; values the table skips take the
// v whose corrected value is nearest (the lower one on ties), so saving never maps a color
// to 0 merely because the forward table does not reach it.
void TPNGImage::BuildGammaTables(uint32_t gamma) {
    ResetGamma();
    if (gamma == 0) return;  // not a gamma: the pixels are left as stored
    Extended exponent = 1.0L / (2.2L * static_cast<Extended>(gamma) / 100000.0L);
    std::array<int, 256> inverse;
    inverse.fill(-1);
    for (int v = 0; v < 256; ++v) {
        Extended g = 255.0L * std::pow(static_cast<Extended>(v) / 255.0L, exponent);
        int64_t r = Round(g);
        if (r < 0) r = 0;
        if (r > 255) r = 255;
        GammaTable[size_t(v)] = uint8_t(r);
        inverse[size_t(r)] = v;
    }
    for (int w = 0; w < 256; ++w) {
        if (inverse[size_t(w)] >= 0) {
            InverseGammaTable[size_t(w)] = uint8_t(inverse[size_t(w)]);
            continue;
        }
        int best = 0, bestDist = 1 << 30;
        for (int v = 0; v < 256; ++v) {
            int dist = std::abs(int(GammaTable[size_t(v)]) - w);
            if (dist < bestDist) {
                bestDist = dist;
                best = v;
            }
        }
        InverseGammaTable[size_t(w)] = uint8_t(best);
    }
    HasGamma = true;
}

void TPNGImage::LoadFromStream(TStream& stream) {
    Clear();
    try {
        uint8_t sig[8];
        if (stream.Read(sig, 8) != 8 || std::memcmp(sig, kSignature, 8) != 0) Fail(EPngInvalidHeader);

        int64_t size = stream.Size();
        int64_t pos = stream.Position();
        int64_t remaining = (size >= 0 && pos >= 0) ? std::max<int64_t>(size - pos, 0) : std::numeric_limits<int64_t>::max();

        TChunk* idat = nullptr;
        std::vector<uint8_t> data;
        for (;;) {
            uint8_t head[8];
            int64_t n = stream.Read(head, 8);
            if (n == 0) break;  // the stream is exhausted after a complete chunk
            if (n != 8) Fail(EPngCorrupted);
            remaining -= 8;
            uint32_t length = GetBE32(head);
            char type[4];
            std::memcpy(type, head + 4, 4);
            if (length > kMaxChunkLength) Fail(EPngCorrupted);
            for (char c : type)
                if (!IsLetter(c)) Fail(EPngCorrupted);
            bool registered = TChunkClasses::IndexOf(type) >= 0;
            if (!registered && !IsLower(type[0])) Fail(EPngUnknownCritical);
            if (int64_t(length) + 4 > remaining) Fail(EPngCorrupted);

            data.resize(length);
            if (length && stream.Read(data.data(), length) != int64_t(length)) Fail(EPngCorrupted);
            uint8_t crcBytes[4];
            if (stream.Read(crcBytes, 4) != 4) Fail(EPngCorrupted);
            remaining -= int64_t(length) + 4;
            if (GetBE32(crcBytes) != PngChunkCrc(type, data.data(), length)) Fail(EPngCorrupted);

            if (std::memcmp(type, "IDAT", 4) == 0 && idat) {
                idat->Data.Seek(0, TSeekOrigin::soEnd);
                if (length) idat->Data.WriteBuffer(data.data(), length);
                idat->Data.SetPosition(0);
                continue;
            }
            TChunk* chunk = Chunks.Add(type);
            chunk->SetData(data.data(), length);
            if (std::memcmp(type, "IDAT", 4) == 0) idat = chunk;
            if (std::memcmp(type, "IEND", 4) == 0) break;
        }
        data.clear();
        data.shrink_to_fit();

        if (Chunks.Count() == 0 || !Chunks.Item(0)->IsType("IHDR")) Fail(EPngIHDRNotFirst);
        if (!idat) Fail(EPngNoImageData);

        for (int32_t i = 0; i < Chunks.Count(); ++i) Chunks.Item(i)->ApplyChunk();

        auto* ihdr = static_cast<TChunkIHDR*>(Chunks.Item(0));
        TChunk* trns = Chunks.Find("tRNS");
        // tRNS of an RGB image: three 16-bit samples (the published layout); the bitmap
        // keeps their high bytes as it keeps those of 16-bit pixels.
        if (trns && ihdr->ColorType() == 2 && trns->DataSize() >= 6) {
            const uint8_t* t = trns->DataBytes();
            bool wide = ihdr->BitDepth() == 16;
            uint32_t r = wide ? t[0] : t[1], g = wide ? t[2] : t[3], b = wide ? t[4] : t[5];
            Transparent = true;
            TransparentColor = r | (g << 8) | (b << 16);
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TPNGImage::DecodeImageData(const TChunkIDAT& idat) {
    auto* ihdr = dynamic_cast<TChunkIHDR*>(Chunks.Count() ? Chunks.Item(0) : nullptr);
    if (!ihdr) Fail(EPngIHDRNotFirst);
    ihdr->Check();

    const uint8_t colorType = ihdr->ColorType();
    const uint8_t depth = ihdr->BitDepth();
    uint32_t channels = 0;
    bool depthOk = false;
    switch (colorType) {
        case 0: channels = 1; depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; break;
        case 3: channels = 1; depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8; break;
        case 4: channels = 2; depthOk = depth == 8 || depth == 16; break;
        case 2: channels = 3; depthOk = depth == 8 || depth == 16; break;
        case 6: channels = 4; depthOk = depth == 8 || depth == 16; break;
        default: Fail(EPngUnknownColorType);
    }
    if (!depthOk) Fail(EPngInvalidBitDepth);
    const uint32_t width = ihdr->Width(), height = ihdr->Height();
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) Fail(EPngInvalidSize);
    if (ihdr->CompressionMethod() != 0) Fail(EPngUnknownCompression);
    if (ihdr->FilterMethod() != 0) Fail(EPngUnknownFilter);
    const uint8_t interlace = ihdr->InterlaceMethod();
    if (interlace > 1) Fail(EPngUnknownInterlace);

    uint8_t format;
    if (colorType == 2 || colorType == 6)
        format = fmt24Bit;
    else
        format = depth == 1 ? fmt1Bit : depth <= 4 ? fmt4Bit : fmt8Bit;

    // Palette.
    std::vector<TPngColor> palette;
    if (colorType == 0 || colorType == 4) {
        int32_t entries = depth == 16 ? 256 : 1 << depth;
        for (int32_t i = 0; i < entries; ++i) {
            auto v = static_cast<uint8_t>(MulDiv(i, 255, entries - 1));
            if (HasGamma) v = GammaTable[v];
            palette.push_back({v, v, v});
        }
    } else if (colorType == 3) {
        TChunk* plte = Chunks.Find("PLTE");
        if (!plte) Fail(EPngPaletteMissing);
        int64_t n = plte->DataSize();
        if (n == 0 || n % 3 != 0 || n > 3 * 256) Fail(EPngInvalidPalette);
        const uint8_t* p = plte->DataBytes();
        for (int64_t i = 0; i < n / 3; ++i) {
            TPngColor c{p[3 * i], p[3 * i + 1], p[3 * i + 2]};
            if (HasGamma) c = {GammaTable[c.Red], GammaTable[c.Green], GammaTable[c.Blue]};
            palette.push_back(c);
        }
    }
    if (depth == 2 && !palette.empty() && palette.size() < 16) {
        // 2-bit samples v are held as 4-bit values 5 v: entry 5 v must be entry v. The rest of
        // the 16 entries repeat the palette.
        std::vector<TPngColor> full(16);
        for (size_t k = 0; k < 16; ++k) full[k] = palette[k % palette.size()];
        for (size_t v = 0; v < 4 && v < palette.size(); ++v) full[5 * v] = palette[v];
        palette = std::move(full);
    }

    // Sizes, before anything is allocated.
    const uint32_t bitsPerPixel = channels * depth;
    const size_t bpp = std::max<uint32_t>(1, bitsPerPixel / 8);
    if (FilteredRowBytes(width, bitsPerPixel) > kMaxSourceRowBytes) Fail(EPngTooLarge);
    uint64_t rawBytes = 0;
    if (interlace == 0) {
        rawBytes = uint64_t(height) * (1 + FilteredRowBytes(width, bitsPerPixel));
    } else {
        for (const TPass& p : kAdam7) {
            int32_t pw = PassExtent(int32_t(width), p.x0, p.dx), ph = PassExtent(int32_t(height), p.y0, p.dy);
            if (pw && ph) rawBytes += uint64_t(ph) * (1 + FilteredRowBytes(uint64_t(pw), bitsPerPixel));
        }
    }
    const auto compressed = static_cast<uint64_t>(idat.DataSize());
    if (rawBytes > compressed * kMaxInflateRatio + kInflateSlack) Fail(EPngCorrupted);
    CheckImageSize(width, height, FormatBitCount(format));
    SetSize(int32_t(width), int32_t(height), format);
    Palette = std::move(palette);
    Interlaced = interlace == 1;

    const bool gamma = HasGamma;
    const uint8_t* gt = GammaTable.data();
    // Stores the Count pixels of one unfiltered row at columns X0, X0 + Dx, ... of row Y.
    auto storeRow = [&](const uint8_t* src, int32_t count, int32_t y, int32_t x0, int32_t dx) {
        uint8_t* dst = Scanline(y);
        if (dx == 1 && channels == 1 && (depth == 1 || depth == 4 || depth == 8)) {
            std::memcpy(dst, src, FilteredRowBytes(uint64_t(count), depth));
            return;
        }
        if (format == fmt24Bit) {
            const size_t step = size_t(channels) * (depth / 8);
            const size_t sampleStep = depth / 8;
            for (int32_t i = 0; i < count; ++i) {
                const uint8_t* s = src + size_t(i) * step;
                uint8_t r = s[0], g = s[sampleStep], b = s[2 * sampleStep];
                if (gamma) {
                    r = gt[r];
                    g = gt[g];
                    b = gt[b];
                }
                uint8_t* d = dst + size_t(x0 + i * dx) * 3;
                d[0] = b;
                d[1] = g;
                d[2] = r;
            }
            return;
        }
        for (int32_t i = 0; i < count; ++i) {
            uint32_t s;
            if (depth < 8) {
                size_t bit = size_t(i) * depth;
                s = (src[bit >> 3] >> (8 - depth - (bit & 7))) & ((1u << depth) - 1);
            } else {
                s = src[size_t(i) * channels * (depth / 8)];  // 16 bits: the high byte
            }
            int32_t x = x0 + i * dx;
            switch (format) {
                case fmt1Bit:
                    if (s) dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
                    break;
                case fmt4Bit: {
                    uint32_t v = depth == 2 ? s * 15 / 3 : s;
                    dst[x >> 1] |= uint8_t((x & 1) ? v : v << 4);
                    break;
                }
                default: dst[x] = uint8_t(s); break;
            }
        }
    };

    TBufferStream source(idat.DataBytes(), idat.DataSize());
    TZDecompressionStream inflater(source);
    const size_t maxRow = FilteredRowBytes(width, bitsPerPixel);
    std::vector<uint8_t> prev(maxRow), cur(maxRow + 1);
    auto readRow = [&](size_t n) {
        try {
            if (inflater.Read(cur.data(), int64_t(n + 1)) != int64_t(n + 1)) Fail(EPngCorrupted);
        } catch (const EZDecompressionError&) {
            Fail(EPngCorrupted);
        }
        if (cur[0] > pfPaeth) Fail(EPngUnknownFilter);
        Unfilter(cur[0], cur.data() + 1, prev.data(), n, bpp);
    };

    const int32_t passes = interlace ? 7 : 1;
    for (int32_t pass = 0; pass < passes; ++pass) {
        TPass p = interlace ? kAdam7[pass] : TPass{0, 0, 1, 1};
        int32_t pw = PassExtent(int32_t(width), p.x0, p.dx), ph = PassExtent(int32_t(height), p.y0, p.dy);
        if (pw > 0 && ph > 0) {
            size_t n = FilteredRowBytes(uint64_t(pw), bitsPerPixel);
            std::fill(prev.begin(), prev.begin() + ptrdiff_t(n), uint8_t(0));
            for (int32_t r = 0; r < ph; ++r) {
                readRow(n);
                int32_t y = p.y0 + r * p.dy;
                storeRow(cur.data() + 1, pw, y, p.x0, p.dx);
                std::memcpy(prev.data(), cur.data() + 1, n);
                if (OnProgress && !interlace)
                    OnProgress(*this, "Drawing...", static_cast<int32_t>(int64_t(y + 1) * 100 / int64_t(height)));
            }
        }
        if (OnProgress && interlace) OnProgress(*this, "Drawing...", (pass + 1) * 100 / 7);
    }
}

void TPNGImage::PrepareChunksForSaving() {
    const bool paletted = pixelFormat_ != fmt24Bit;
    const uint8_t depth = pixelFormat_ == fmt1Bit ? 1 : pixelFormat_ == fmt4Bit ? 4 : 8;
    const uint8_t colorType = paletted ? 3 : 2;

    // IHDR first.
    int32_t ihdrIndex = Chunks.FindIndex("IHDR");
    if (ihdrIndex < 0)
        Chunks.Insert(0, "IHDR");
    else
        Chunks.Move(ihdrIndex, 0);
    auto* ihdr = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
    if (!ihdr) Fail(EPngInvalidIHDR);
    ihdr->Describe(uint32_t(width_), uint32_t(height_), depth, colorType, 0);
    Interlaced = false;

    // IEND last, one IDAT before it.
    int32_t iendIndex = Chunks.FindIndex("IEND");
    if (iendIndex < 0)
        Chunks.Add("IEND");
    else
        Chunks.Move(iendIndex, Chunks.Count() - 1);
    int32_t idatIndex = Chunks.FindIndex("IDAT");
    if (idatIndex < 0) {
        Chunks.Insert(Chunks.Count() - 1, "IDAT");
    } else {
        for (int32_t i = Chunks.Count() - 1; i > idatIndex; --i)
            if (Chunks.Item(i)->IsType("IDAT")) Chunks.Remove(Chunks.Item(i));
    }
    auto insertBeforeImageData = [this](const char* type) { return Chunks.Insert(Chunks.FindIndex("IDAT"), type); };

    const bool gamma = Chunks.Find("gAMA") != nullptr;
    if (gamma) {
        if (auto* g = Chunks.Find<TChunkGAMA>("gAMA")) BuildGammaTables(g->Gamma());
    }

    if (paletted) {
        TChunk* plte = Chunks.Find("PLTE");
        if (!plte || Chunks.IndexOf(plte) > Chunks.FindIndex("IDAT")) {
            if (plte) Chunks.Remove(plte);
            plte = insertBeforeImageData("PLTE");
        }
        // Exactly 2^depth entries: the bitmap's palette, black where it is shorter.
        const size_t entries = size_t(1) << depth;
        std::vector<uint8_t> d(entries * 3, 0);
        for (size_t i = 0; i < entries && i < Palette.size(); ++i) {
            TPngColor c = Palette[i];
            if (gamma && HasGamma) c = {InverseGammaTable[c.Red], InverseGammaTable[c.Green], InverseGammaTable[c.Blue]};
            d[3 * i] = c.Red;
            d[3 * i + 1] = c.Green;
            d[3 * i + 2] = c.Blue;
        }
        plte->SetData(d.data(), d.size());
    }

    for (TChunk* t = Chunks.Find("tRNS"); t; t = Chunks.Find("tRNS")) Chunks.Remove(t);
    if (Transparent) {
        const uint8_t r = uint8_t(TransparentColor), g = uint8_t(TransparentColor >> 8),
                      b = uint8_t(TransparentColor >> 16);
        if (!paletted) {
            // Three 16-bit samples, as the published layout has them.
            uint8_t d[6] = {0, r, 0, g, 0, b};
            insertBeforeImageData("tRNS")->SetData(d, 6);
        } else {
            // Alpha per palette entry: the first entry of the transparent color is clear.
            const size_t entries = std::min(Palette.size(), size_t(1) << depth);
            for (size_t i = 0; i < entries; ++i) {
                if (Palette[i] == TPngColor{r, g, b}) {
                    std::vector<uint8_t> alpha(i + 1, 255);
                    alpha[i] = 0;
                    insertBeforeImageData("tRNS")->SetData(alpha.data(), alpha.size());
                    break;
                }
            }
        }
    }
}

void TPNGImage::EncodeImageData(TChunk& idat) {
    const bool gamma = Chunks.Find("gAMA") != nullptr && HasGamma;
    const size_t n = static_cast<size_t>(rowBytes_);
    const size_t bpp = pixelFormat_ == fmt24Bit ? 3 : 1;
    std::vector<uint8_t> raw(n), prev(n, 0);
    std::vector<uint8_t> best(n + 1), trial(n);

    std::vector<TFilter> filters;
    for (TFilter f : {pfNone, pfSub, pfUp, pfAverage, pfPaeth})
        if (f == pfNone || (EncodeFilters & FilterBit(f))) filters.push_back(f);

    idat.Data.Clear();
    {
        TZCompressionStream deflater(idat.Data);
        for (int32_t y = 0; y < height_; ++y) {
            const uint8_t* src = Scanline(y);
            if (pixelFormat_ == fmt24Bit) {
                for (size_t x = 0; x < n; x += 3) {
                    uint8_t b = src[x], g = src[x + 1], r = src[x + 2];
                    if (gamma) {
                        r = InverseGammaTable[r];
                        g = InverseGammaTable[g];
                        b = InverseGammaTable[b];
                    }
                    raw[x] = r;
                    raw[x + 1] = g;
                    raw[x + 2] = b;
                }
            } else {
                std::memcpy(raw.data(), src, n);
                // Clear the unused low bits of the last byte.
                int32_t bits = pixelFormat_ == fmt1Bit ? 1 : pixelFormat_ == fmt4Bit ? 4 : 8;
                int64_t used = int64_t(width_) * bits % 8;
                if (used && n) raw[n - 1] &= uint8_t(0xFF << (8 - used));
            }

            best[0] = pfNone;
            std::memcpy(best.data() + 1, raw.data(), n);
            if (filters.size() > 1) {
                int64_t bestCount = CountRuns(raw.data(), n);
                for (size_t f = 1; f < filters.size(); ++f) {
                    ApplyFilter(filters[f], raw.data(), prev.data(), trial.data(), n, bpp);
                    int64_t count = CountRuns(trial.data(), n);
                    if (count > bestCount) {
                        bestCount = count;
                        best[0] = filters[f];
                        std::memcpy(best.data() + 1, trial.data(), n);
                    }
                }
            }
            deflater.WriteBuffer(best.data(), int64_t(n + 1));
            std::swap(prev, raw);
        }
        deflater.Finish();
    }
    idat.Data.SetPosition(0);
}

void TPNGImage::SaveToStream(TStream& stream) {
    if (Empty()) Fail(EPngInvalidBitmap);
    PrepareChunksForSaving();
    EncodeImageData(*Chunks.Find("IDAT"));
    stream.WriteBuffer(kSignature, 8);
    for (int32_t i = 0; i < Chunks.Count(); ++i) {
        TChunk* c = Chunks.Item(i);
        if (IsLower(c->Type[3]) && !c->IsType("pHYs")) continue;
        c->WriteChunk(stream);
    }
}

}  // namespace qil
