// libFuzzer target: the annotations reader.
#include "fuzz_main.h"

QIL_FUZZ_TARGET(qil::fuzz::TTarget::Annotations)
