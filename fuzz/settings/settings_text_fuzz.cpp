// Arbitrary bytes as the text of a settings file: GB18030 to UTF-8 and back. What decodes must be
// well-formed UTF-8, and storing it again must give text that reads back the same, so that a line
// read from a settings file survives being written and read once more.
#include <cstdint>
#include <string_view>

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
    const auto text = kestrix::Gb18030ToUtf8(bytes);
    if (!text) return 0;
    if (!IsUtf8(*text)) __builtin_trap();
    const auto stored = kestrix::Utf8ToGb18030(*text);
    if (!stored) __builtin_trap();
    const auto again = kestrix::Gb18030ToUtf8(*stored);
    if (!again || *again != *text) __builtin_trap();
    return 0;
}
