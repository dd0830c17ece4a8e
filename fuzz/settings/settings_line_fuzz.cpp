// Arbitrary bytes as a settings file (the camera address or the storage folder): the first line
// as the program reads it, decoded from GB18030. The line must be well-formed UTF-8 without a line
// end, an ASCII line must come out byte for byte, and what the dialogs write back must read back
// as the same line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings_files.h"
#include "text_codec.h"

namespace {

// True for well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t n;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, cp = b & 0x07;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto line = kestrix::ParseSettingLine(bytes);
    if (!line) return 0;
    if (!IsUtf8(*line) || line->find('\n') != std::string::npos) __builtin_trap();

    std::string_view first = bytes.substr(0, bytes.find('\n'));
    if (first.ends_with('\r')) first.remove_suffix(1);
    const bool ascii = std::all_of(first.begin(), first.end(),
                                   [](char c) { return static_cast<uint8_t>(c) < 0x80; });
    if (ascii && *line != first) __builtin_trap();

    // A line ending in CR would lose it as half of a CR LF when read again; such a line is not one
    // the dialogs produce from what the user typed.
    if (line->ends_with('\r')) return 0;
    const auto stored = kestrix::Utf8ToGb18030(*line);
    if (!stored) __builtin_trap();
    const auto again = kestrix::ParseSettingLine(*stored);
    if (!again || *again != *line) __builtin_trap();
    return 0;
}
