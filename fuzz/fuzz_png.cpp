// libFuzzer target: the png reader.
#include "fuzz_main.h"

QIL_FUZZ_TARGET(qil::fuzz::TTarget::Png)
