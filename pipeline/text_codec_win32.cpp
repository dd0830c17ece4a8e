// Conversions between UTF-8 and code page 936 through UTF-16, with the system's tables.
#include <windows.h>

#include "text_codec.h"

namespace kestrix {
namespace {

std::optional<std::wstring> ToWide(UINT codePage, std::string_view in) {
    if (in.empty()) return std::wstring();
    const int size = static_cast<int>(in.size());
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, wide.data(), n);
    return wide;
}

std::optional<std::string> FromWide(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    // A character the code page lacks is an error, never a silent '?'.
    BOOL defaultUsed = FALSE;
    BOOL* pDefaultUsed = codePage == CP_UTF8 ? nullptr : &defaultUsed;
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int n =
        WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, pDefaultUsed);
    if (n <= 0 || defaultUsed) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::optional<std::string> Convert(UINT to, UINT from, std::string_view in) {
    const auto wide = ToWide(from, in);
    if (!wide) return std::nullopt;
    return FromWide(to, *wide);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
    return ToWide(CP_UTF8, utf8).value_or(std::wstring());
}

std::string WideToUtf8(std::wstring_view wide) {
    return FromWide(CP_UTF8, std::wstring(wide)).value_or(std::string());
}

std::optional<std::string> Utf8ToGb18030(std::string_view utf8) {
    return Convert(936, CP_UTF8, utf8);
}

std::optional<std::string> Gb18030ToUtf8(std::string_view gb) {
    return Convert(CP_UTF8, 936, gb);
}

}  // namespace kestrix
