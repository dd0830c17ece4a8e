// The files of recordings and snapshot series: their names, the text record's header line and
// data lines, and exclusive creation that never replaces an earlier file. The calls that differ
// between POSIX and Windows (file handles, the clock) live in recorder_posix.cpp and
// recorder_win32.cpp; names and text are shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_format.h"

namespace kestrix {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime CurrentLocalTime();

// A file open for writing: a descriptor, or a Windows HANDLE's value; negative when there is none.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Creates `path` for writing only when no file of that name exists. `exists` tells a taken name
// apart from other failures. Paths are UTF-8.
FileHandle CreateNewFile(const std::string& path, bool* exists);
bool CloseFile(FileHandle file);
// The system's words for why the last file call of this thread failed.
std::string LastFileError();

// "/Record_YYYYMMDDhhmmss", with ".txt" for a text record; "/snapshot_YYYYMMDDhhmmssmm.raw" with
// the millisecond in at least two digits; the leading separator is the platform's.
std::string RecordFileName(const LocalTime& t, bool text);
std::string SnapshotFileName(const LocalTime& t);

// The 118-byte header line of a text record, in code page 936.
const std::string& TextRecordHeader();

// The numbers of one data line: the fourteen parameter words and the centre gray value, each 0
// where the image is too small to hold it.
struct TextRecordValues {
    uint16_t words[kDeviceParamCount];
    int32_t centre;
};
TextRecordValues ReadTextRecordValues(const uint8_t* image, int32_t width, int32_t height);

// One data line: the fourteen parameter words as unsigned numbers, each followed by two tabs, then
// the centre gray value, then CR LF. Parts the image is too small for are written as 0. Returns the
// line's length in `out` (which holds at least kMaxTextRecordLine bytes).
constexpr int kMaxTextRecordLine = 14 * 7 + 12 + 2;
int FormatTextRecord(const uint8_t* image, int32_t width, int32_t height, char* out);

// Creates `path` for writing without replacing anything: when the name is taken, "_1", "_2", ...
// go in front of the extension. Returns the file (or kInvalidFile) and the name used in `created`.
FileHandle CreateUniqueFile(const std::string& path, std::string* created);

// Writes all of `size` bytes, going on after short writes; false on an error.
bool WriteAll(FileHandle file, const void* data, size_t size);

}  // namespace kestrix
