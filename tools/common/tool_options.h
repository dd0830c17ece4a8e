// Option values shared by Kestrix's command-line tools.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "include/agc.h"

namespace kestrix {

// A whole decimal number within [low, high], the whole text and nothing else.
inline bool ParseWholeNumber(const char* text, int64_t low, int64_t high, int32_t* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// "line", "histeq" or "special", as the panel's three radio buttons.
inline bool ParseAgcMode(const std::string& text, int32_t* mode) {
    if (text == "line") *mode = AGC_MODE_LINE;
    else if (text == "histeq") *mode = AGC_MODE_HISTEQ;
    else if (text == "special") *mode = AGC_MODE_SPECIAL;
    else return false;
    return true;
}

}  // namespace kestrix
