// libFuzzer target: the bitmap reader.
#include "fuzz_main.h"

QIL_FUZZ_TARGET(qil::fuzz::TTarget::Bitmap)
