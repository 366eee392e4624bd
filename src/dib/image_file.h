// Image files: the TIFF compression choice and the helpers the bitmap, TIFF and JPEG file code
// share (format signatures are TDIB::Is*Stream, declared in dib/dib.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qil {

class TFileStream;

// Compression of a TIFF page being written. tcAuto picks by pixel format: 1 bit -> Group 4,
// 4 bits -> PackBits, 8 and 24 bits -> JPEG. Any value outside the list writes uncompressed.
enum TTiffCompression : uint8_t {
    tcAuto = 0,
    tcNone = 1,
    tcPackBits = 2,
    tcGroup3 = 3,
    tcGroup3TwoD = 4,
    tcGroup4 = 5,
    tcDeflate = 6,
    tcJpeg = 7,
    tcLzw = 8,
};

// Writes a file so that it is replaced only when complete.
//
// Write is called with a stream over a new temporary file in the target's directory (when
// StartFromExisting is set and the target exists, the temporary file first receives a copy
// of the target and the stream is positioned at 0). When Write returns, the data is flushed
// to the disk and the temporary file is renamed over the target (a symbolic link is followed,
// so the file it names is replaced). When anything fails, the temporary file is removed and
// the exception passes on; the target is untouched. A new file gets the mode 0666 less the
// process umask, a replaced one keeps its mode.
//
// Failures to create the temporary file raise EFCreateError naming the target; failures to
// read the existing file raise EFOpenError; a failed rename raises EFCreateError.
void WriteFileAtomically(const std::string& fileName, bool startFromExisting,
                         const std::function<void(TFileStream& stream)>& write);

class TDIB;

// Ends a load that failed: clears the image and frees the block the load allocated even when
// OwnsHandle is false (every load starts with Clear, so no one else can hold that block).
void DiscardFailedLoad(TDIB& image);

// Raises "The image is empty" when the image holds no block (saving needs one).
void RequireImage(const TDIB& image);

// True when the path names an existing file (following links).
bool FileExists(const std::string& fileName);

// ---- The size limit of one image ----
//
// CreateNew and every file reader refuse an image whose block (header, color table and
// padded rows) would need more bytes than this limit, before anything is allocated for it.
// The default is 2 GiB; the readers check the sizes their file's header claims, so a small
// file cannot make the library allocate more than the limit for one image.
constexpr uint64_t kDefaultMaxImageBytes = uint64_t(2) << 30;
void SetMaxImageBytes(uint64_t bytes);
uint64_t MaxImageBytes();

// Bytes of the block of a Width x Height image of Bits per pixel: the 40-byte header, the
// color table of 1, 4 and 8 bits, and the rows padded to four bytes (other bit counts size
// working rasters, e.g. 32 for RGBA). Computed without overflow: the result saturates at
// UINT64_MAX.
uint64_t ImageBlockBytes(uint64_t width, uint64_t height, int32_t bits);

// Raises "Image too large: W x H pixels at B bits per pixel need N bytes, more than the
// limit of L bytes" when ImageBlockBytes exceeds MaxImageBytes.
void CheckImageSize(uint64_t width, uint64_t height, int32_t bits);

// Clamps a resolution computed from a file to what the image keeps: whole dots per inch in
// 0 ... 65535; NaN and negative values give 0.
int32_t ClampResolution(long double dotsPerInch);

}  // namespace qil
