// What each fuzz target does with one input, shared by the libFuzzer programs and by the
// regression test that replays the inputs the fuzzers found.
//
// An input is loaded as its reader would load a file, then everything the load produced is
// checked and touched: the image's layout must lie inside its block, every pixel byte is
// read, the image must survive a Duplicate and a round trip through the bitmap writer and
// reader unchanged, and the memory blocks in use afterwards must be exactly those in use
// before. A reader that refuses the input with a library Exception is a correct outcome; a
// broken check raises TFuzzFault, and any other exception, crash or sanitizer report is a
// fault too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qil::fuzz {

enum class TTarget { Bitmap, Tiff, Png, Jpeg, Annotations };

// A check on a loaded image or annotation collection that failed.
class TFuzzFault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

enum class TOutcome {
    NotThisFormat,  // the bytes go to another reader (the fuzzer drops them)
    Loaded,
    Refused,        // the reader raised a library Exception
};

// Size limit of one image while fuzzing: large enough for every reader's paths, small
// enough that the largest image a header can claim is decoded in well under a second.
constexpr uint64_t kFuzzMaxImageBytes = uint64_t(4) << 20;

TOutcome Exercise(TTarget target, const uint8_t* data, size_t size);

// The target's name as used in directory and program names ("bitmap", "tiff", ...).
const char* TargetName(TTarget target);

}  // namespace qil::fuzz
