// Builds PNG files in memory for the codec tests: chunks with zlib's own CRC, image data
// filtered and compressed by a small independent encoder.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<uint8_t>;

inline void PutBE32(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 24));
    b.push_back(uint8_t(v >> 16));
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

inline Bytes Signature() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }

inline void AddChunk(Bytes& file, const std::string& type, const Bytes& data) {
    PutBE32(file, uint32_t(data.size()));
    Bytes td(type.begin(), type.end());
    td.insert(td.end(), data.begin(), data.end());
    file.insert(file.end(), td.begin(), td.end());
    PutBE32(file, uint32_t(crc32(0, td.data(), uInt(td.size()))));
}

inline Bytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0) {
    Bytes d;
    PutBE32(d, w);
    PutBE32(d, h);
    d.push_back(depth);
    d.push_back(colorType);
    d.push_back(0);
    d.push_back(0);
    d.push_back(interlace);
    return d;
}

inline Bytes Compress(const Bytes& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    Bytes out(n);
    compress2(out.data(), &n, raw.data(), uLong(raw.size()), 6);
    out.resize(n);
    return out;
}

inline int Channels(int colorType) {
    switch (colorType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        default: return 4;
    }
}

// Samples: Samples[y][x * channels + c], each below 2^depth.
using Samples = std::vector<std::vector<uint32_t>>;

inline uint8_t Paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Packs and filters the rows of one (sub)image; row r gets filter type (r + FilterStart) % 5.
inline void EncodeRows(const Samples& s, int w, int h, int depth, int channels, int filterStart, Bytes& raw) {
    int bits = depth * channels;
    size_t rb = (size_t(w) * bits + 7) / 8, bpp = std::max(1, bits / 8);
    Bytes prev(rb, 0);
    for (int y = 0; y < h; ++y) {
        Bytes row(rb, 0);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                uint32_t v = s[size_t(y)][size_t(x * channels + c)];
                size_t i = size_t(x * channels + c);
                if (depth == 16) {
                    row[2 * i] = uint8_t(v >> 8);
                    row[2 * i + 1] = uint8_t(v);
                } else if (depth == 8) {
                    row[i] = uint8_t(v);
                } else {
                    size_t bit = i * size_t(depth);
                    row[bit / 8] |= uint8_t(v << (8 - depth - bit % 8));
                }
            }
        int f = (y + filterStart) % 5;
        raw.push_back(uint8_t(f));
        for (size_t i = 0; i < rb; ++i) {
            int a = i >= bpp ? row[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
            int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : Paeth(a, b, c);
            raw.push_back(uint8_t(row[i] - pred));
        }
        prev = row;
    }
}

// Raw (uncompressed) image data, interlaced with Adam7 when asked.
inline Bytes RawImage(const Samples& s, int w, int h, int depth, int colorType, bool interlace, int filterStart = 0) {
    int ch = Channels(colorType);
    Bytes raw;
    if (!interlace) {
        EncodeRows(s, w, h, depth, ch, filterStart, raw);
        return raw;
    }
    const int P[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (auto& p : P) {
        Samples sub;
        for (int y = p[1]; y < h; y += p[3]) {
            std::vector<uint32_t> row;
            for (int x = p[0]; x < w; x += p[2])
                for (int c = 0; c < ch; ++c) row.push_back(s[size_t(y)][size_t(x * ch + c)]);
            sub.push_back(row);
        }
        if (sub.empty() || sub[0].empty()) continue;
        EncodeRows(sub, int(sub[0].size()) / ch, int(sub.size()), depth, ch, filterStart, raw);
    }
    return raw;
}

// A complete file: IHDR, the extra chunks, IDAT, IEND.
inline Bytes MakePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, bool interlace, const Bytes& raw,
                     const std::vector<std::pair<std::string, Bytes>>& extra = {}) {
    Bytes f = Signature();
    AddChunk(f, "IHDR", Ihdr(w, h, depth, colorType, interlace ? 1 : 0));
    for (auto& [t, d] : extra) AddChunk(f, t, d);
    AddChunk(f, "IDAT", Compress(raw));
    AddChunk(f, "IEND", {});
    return f;
}

}  // namespace pngtest
