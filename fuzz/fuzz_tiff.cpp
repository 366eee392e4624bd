// libFuzzer target: the tiff reader.
#include "fuzz_main.h"

QIL_FUZZ_TARGET(qil::fuzz::TTarget::Tiff)
