// Numeric helpers with the exact rounding rules the algorithms rely on.
//
// Round: to nearest, ties to even (the floating-point unit's default mode).
// Trunc: toward zero. Frac: the part after Trunc, with the sign of the value.
// Extended precision is long double (80-bit x87 on x86-64).
#pragma once

#include <cmath>
#include <cstdint>

namespace qil {

using Extended = long double;

inline int64_t Round(long double v) { return std::llrint(v); }
inline int64_t Trunc(long double v) { return static_cast<int64_t>(v); }
inline long double Frac(long double v) { return v - std::trunc(v); }

}  // namespace qil
