// Tables shared by the local thresholds.
#pragma once

#include <array>
#include <cstdint>

namespace qil {

// Integer square roots: entry v = floor(sqrt(v)) for v = 0 ... 16641 (for i = 0 ... 128 the
// entries i^2 ... (i + 1)^2 - 1 hold i). Every window variance of 8-bit values that
// AdvancedDynamicThreshold computes is at most 16511, so its lookups stay inside the table.
// Built at compile time, so it is ready before any code runs and needs no release.
constexpr int32_t kSqrtTableSize = 16642;
extern const std::array<int32_t, kSqrtTableSize> SqrtTable;

}  // namespace qil
