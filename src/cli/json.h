// A small JSON writer for the command-line tool's machine-readable output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rect.h"

namespace qil::cli {

// Text as a JSON string literal; Text is UTF-8.
std::string JsonString(const std::string& text);
// 8-bit text read as Latin-1, as a JSON string literal.
std::string JsonLatin1(const std::string& bytes);
// [l,t,r,b]
std::string JsonRect(const TRect& r);
// [[l,t,r,b],...]
std::string JsonRects(const std::vector<TRect>& rects);
// A double with enough digits to read back the same value; non-finite values as null.
std::string JsonNumber(double value);

}  // namespace qil::cli
