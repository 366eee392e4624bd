// Text <-> number conversions with an explicit decimal separator.
#pragma once

#include <cstdint>
#include <string>

namespace qil {

// Float to text in the general format with 15 significant digits: fixed notation when the
// decimal exponent is below 15 and the value is at least 0.00001 in magnitude, scientific
// ("1.5E20", "1E-7") otherwise; trailing zeros and a trailing separator dropped.
// 0.1f (widened) reads "0.100000001490116", 0.5 reads "0.5", 0 reads "0".
std::string FloatToStr(long double value, char decimalSeparator = '.');

// Text to float: optional surrounding blanks, an optional sign, digits with at most one
// DecimalSeparator, an optional exponent (E or e, optional sign, digits). Anything else
// raises EConvertError "'<text>' is not a valid floating point value".
long double StrToFloat(const std::string& text, char decimalSeparator = '.');
// The same, answering false instead of raising.
bool TryStrToFloat(const std::string& text, long double& value, char decimalSeparator = '.');

// Text to a signed 32-bit integer: optional leading blanks, an optional sign, decimal digits
// or hexadecimal after "$" or "0x". Anything else, or a value out of range, raises
// EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t& value);

std::string IntToStr(int64_t value);

}  // namespace qil
