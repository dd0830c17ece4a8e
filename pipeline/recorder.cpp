// Record and snapshot file names, text record lines, exclusive file creation.
#include "recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "text_codec.h"

namespace kestrix {

LocalTime CurrentLocalTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
            tm.tm_min,         tm.tm_sec,     static_cast<int>(ms.count() % 1000)};
}

std::string RecordFileName(const LocalTime& t, bool text) {
    char name[64];
    std::snprintf(name, sizeof name, "/Record_%4d%02d%02d%02d%02d%02d%s", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, text ? ".txt" : "");
    return name;
}

std::string SnapshotFileName(const LocalTime& t) {
    char name[64];
    std::snprintf(name, sizeof name, "/snapshot_%4d%02d%02d%02d%02d%02d%02d.raw", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
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

int CreateUniqueFile(const std::string& path, std::string* created) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : std::string();

    for (int i = 0; i < 10000; ++i) {
        const std::string name = i == 0 ? path : stem + "_" + std::to_string(i) + ext;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (created) *created = name;
            return fd;
        }
        if (errno != EEXIST) break;
    }
    if (created) created->clear();
    return -1;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace kestrix
