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

// Clamps a resolution computed from a file to what the image keeps: whole dots per inch in
// 0 ... 65535; NaN and negative values give 0.
int32_t ClampResolution(long double dotsPerInch);

}  // namespace qil
