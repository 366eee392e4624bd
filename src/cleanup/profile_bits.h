// Bit counting over packed 1-bit rows, shared by the profile and block routines.
//
// Pixels are packed most significant bit first; pixel x of a row lives in byte x / 8 under the
// mask 0x80 >> (x % 8). The routines read only the bytes that hold the requested pixels.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qil::bits {

// Set bits among pixels x ... x + count - 1 of one packed row; 0 when count <= 0.
inline int32_t CountRowBits(const uint8_t* row, int32_t x, int32_t count) {
    if (count <= 0) return 0;
    int32_t last = x + count - 1;
    int32_t firstByte = x >> 3;
    int32_t lastByte = last >> 3;
    uint8_t headMask = static_cast<uint8_t>(0xFFu >> (x & 7));
    uint8_t tailMask = static_cast<uint8_t>(0xFF00u >> ((last & 7) + 1));
    if (firstByte == lastByte) return std::popcount(static_cast<unsigned>(row[firstByte] & headMask & tailMask));
    int32_t total = std::popcount(static_cast<unsigned>(row[firstByte] & headMask)) +
                    std::popcount(static_cast<unsigned>(row[lastByte] & tailMask));
    int32_t i = firstByte + 1;
    for (; i + 8 <= lastByte; i += 8) {
        uint64_t w;
        std::memcpy(&w, row + i, 8);
        total += std::popcount(w);
    }
    for (; i < lastByte; ++i) total += std::popcount(static_cast<unsigned>(row[i]));
    return total;
}

}  // namespace qil::bits
