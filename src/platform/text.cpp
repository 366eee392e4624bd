#include "platform/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/exceptions.h"

namespace qil {

std::string FloatToStr(long double value, char decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    constexpr int precision = 15;
    // Round to 15 significant digits first; the exponent is that of the rounded value.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*Le", precision - 1, value);
    // buf: [-]d.dddddddddddddde[+-]xx
    std::string s(buf);
    bool negative = s[0] == '-';
    if (negative) s.erase(0, 1);
    size_t e = s.find('e');
    int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits;
    for (size_t i = 0; i < e; ++i)
        if (std::isdigit(static_cast<unsigned char>(s[i]))) digits += s[i];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= precision || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += '0';
        out += decimalSeparator;
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += decimalSeparator;
            out.append(digits, intDigits, std::string::npos);
        }
    }
    return out;
}

bool TryStrToFloat(const std::string& text, long double& value, char decimalSeparator) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    std::string normal;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') normal += '-';
        ++i;
    }
    bool anyDigit = false, separator = false;
    for (; i < n; ++i) {
        char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            normal += c;
            anyDigit = true;
        } else if (c == decimalSeparator && !separator) {
            normal += '.';
            separator = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) normal += text[i++];
        bool expDigit = false;
        for (; i < n && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            normal += text[i];
            expDigit = true;
        }
        if (!expDigit) return false;
    }
    if (i != n) return false;
    long double v = 0;
    auto res = std::from_chars(normal.data(), normal.data() + normal.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves v untouched on overflow/underflow; give the IEEE result.
        v = std::strtold(normal.c_str(), nullptr);
        if (std::isinf(v)) return false;
    } else if (res.ec != std::errc() || res.ptr != normal.data() + normal.size()) {
        return false;
    }
    value = v;
    return true;
}

long double StrToFloat(const std::string& text, char decimalSeparator) {
    long double v = 0;
    if (!TryStrToFloat(text, v, decimalSeparator))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return v;
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == n) return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        int c = static_cast<unsigned char>(text[i]);
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * base + d;
        if (v > int64_t(1) << 32) return false;
    }
    if (negative) v = -v;
    if (base == 16 && !negative && v <= 0xFFFFFFFFLL && v > INT32_MAX) v -= int64_t(1) << 32;  // $FFFFFFFF is -1
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

}  // namespace qil
