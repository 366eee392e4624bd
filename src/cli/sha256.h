// SHA-256 (FIPS 180-4) of a byte range, as lowercase hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qil::cli {
std::string Sha256Hex(const uint8_t* data, size_t size);
}
