#include "cli/json.h"

#include <cmath>
#include <cstdio>

namespace qil::cli {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string JsonLatin1(const std::string& bytes) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return JsonString(utf8);
}

std::string JsonRect(const TRect& r) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
    std::string s(1, '[');
    s += std::to_string(r.Left);
    s += ',';
    s += std::to_string(r.Top);
    s += ',';
    s += std::to_string(r.Right);
    s += ',';
    s += std::to_string(r.Bottom);
    s += ']';
    return s;
}

std::string JsonRects(const std::vector<TRect>& rects) {
    std::string out = "[";
    for (size_t i = 0; i < rects.size(); ++i) {
        if (i) out += ",";
        out += JsonRect(rects[i]);
    }
    return out + "]";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

}  // namespace qil::cli
