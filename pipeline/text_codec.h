// Conversions between UTF-8 and the simplified-Chinese code page of the settings files and the
// text record header (GB18030, which agrees byte for byte with code page 936 where that has a
// character).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

std::optional<std::string> Utf8ToGb18030(std::string_view utf8);
std::optional<std::string> Gb18030ToUtf8(std::string_view gb);

#ifdef _WIN32
// UTF-8 and the UTF-16 of the Windows API; text that is not well formed gives an empty string.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
#endif

}  // namespace kestrix
