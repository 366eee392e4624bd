// The libFuzzer entry points of one target (see targets.h for what an input goes through).
#pragma once

#include "dib/image_file.h"
#include "platform/exceptions.h"
#include "targets.h"

// Inputs of another format return -1, so that libFuzzer does not keep them in the corpus.
#define QIL_FUZZ_TARGET(target)                                                         \
    extern "C" int LLVMFuzzerInitialize(int*, char***) {                                \
        qil::SetMaxImageBytes(qil::fuzz::kFuzzMaxImageBytes);                           \
        return 0;                                                                       \
    }                                                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {           \
        return qil::fuzz::Exercise(target, data, size) == qil::fuzz::TOutcome::NotThisFormat ? -1 : 0; \
    }
