// iconv-based conversions between UTF-8 and GB18030.
#include "text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace kestrix {
namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);

    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());  // iconv's interface is not const-correct
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return std::nullopt;
    if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

}  // namespace

std::optional<std::string> Utf8ToGb18030(std::string_view utf8) {
    return Convert("GB18030", "UTF-8", utf8);
}

std::optional<std::string> Gb18030ToUtf8(std::string_view gb) {
    return Convert("UTF-8", "GB18030", gb);
}

}  // namespace kestrix
