// libFuzzer target: the jpeg reader.
#include "fuzz_main.h"

QIL_FUZZ_TARGET(qil::fuzz::TTarget::Jpeg)
