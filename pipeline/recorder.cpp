// Record and snapshot file names, text record lines, exclusive file creation.
#include "recorder.h"

#include <cstdio>
#include <cstring>

#include "text_codec.h"

namespace kestrix {

std::string RecordFileName(const LocalTime& t, bool text) {
    char name[64];
    std::snprintf(name, sizeof name, "%cRecord_%4d%02d%02d%02d%02d%02d%s", kPathSeparator, t.year,
                  t.month, t.day, t.hour, t.minute, t.second, text ? ".txt" : "");
    return name;
}

std::string SnapshotFileName(const LocalTime& t) {
    char name[64];
    std::snprintf(name, sizeof name, "%csnapshot_%4d%02d%02d%02d%02d%02d%02d.raw", kPathSeparator,
                  t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
    return name;
}

const std::string& TextRecordHeader() {
    static const std::string header = [] {
        const char* utf8 =
            "焦平面温度\t空腔温度\tPCB温度\t\tVITEC\t\tEOCC\t\tTEC档位\t\t冻结帧\t\tTEC渐变帧\t行"
            "\t\t列\t\t积分时间\tB值\t\t预留\t\t响应率档位\t中心灰度\r\n";
        return Utf8ToGb18030(utf8).value_or(std::string());
    }();
    return header;
}

TextRecordValues ReadTextRecordValues(const uint8_t* image, int32_t width, int32_t height) {
    TextRecordValues values{};
    if (const auto params = ReadDeviceParams(image, width, height)) {
        std::memcpy(values.words, &*params, sizeof values.words);
    }
    values.centre = CentreGrayValue(image, width, height).value_or(0);
    return values;
}

int FormatTextRecord(const uint8_t* image, int32_t width, int32_t height, char* out) {
    const TextRecordValues values = ReadTextRecordValues(image, width, height);
    int n = 0;
    for (uint16_t w : values.words) {
        n += std::snprintf(out + n, 8, "%u\t\t", static_cast<unsigned>(w));
    }
    n += std::snprintf(out + n, 14, "%d\r\n", static_cast<int>(values.centre));
    return n;
}

FileHandle CreateUniqueFile(const std::string& path, std::string* created) {
    const size_t slash = path.find_last_of(kPathSeparator == '/' ? "/" : "/\\");
    const size_t dot = path.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : std::string();

    for (int i = 0; i < 10000; ++i) {
        const std::string name = i == 0 ? path : stem + "_" + std::to_string(i) + ext;
        bool exists = false;
        const FileHandle file = CreateNewFile(name, &exists);
        if (file >= 0) {
            if (created) *created = name;
            return file;
        }
        if (!exists) break;
    }
    if (created) created->clear();
    return kInvalidFile;
}

}  // namespace kestrix
