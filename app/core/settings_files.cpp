// Reading and writing the settings files.
#include "settings_files.h"

#include <cstdlib>
#include <fstream>

#include "text_codec.h"

namespace kestrix {
namespace {

std::filesystem::path g_folderForTesting;

// A settings line is short; what lies beyond this is not a line this program wrote.
constexpr std::streamsize kMaxLineBytes = 64 * 1024 - 1;

}  // namespace

void SetProgramFolderForTesting(const std::filesystem::path& folder) {
    g_folderForTesting = folder;
}

std::filesystem::path AddressFilePath() {
    return ProgramFolder() / "info" / "ipaddress.txt";
}

std::filesystem::path StoragePathFilePath() {
    return ProgramFolder() / "info" / "rawdatapath.txt";
}

std::optional<std::string> ParseSettingLine(std::string_view bytes) {
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    if (line.ends_with('\r')) line.remove_suffix(1);
    return Gb18030ToUtf8(line);
}

std::optional<std::string> ReadSettingLine(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes(static_cast<size_t>(kMaxLineBytes), '\0');
    file.read(bytes.data(), kMaxLineBytes);
    if (file.bad()) return std::nullopt;
    bytes.resize(static_cast<size_t>(file.gcount()));
    return ParseSettingLine(bytes);
}

bool WriteSettingLine(const std::filesystem::path& path, std::string_view line) {
    const auto gb = Utf8ToGb18030(line);
    if (!gb) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(gb->data(), static_cast<std::streamsize>(gb->size()));
    file.flush();
    return static_cast<bool>(file);
}

#ifndef _WIN32

std::filesystem::path ProgramFolder() {
    if (!g_folderForTesting.empty()) return g_folderForTesting;
    std::error_code error;
    return std::filesystem::canonical("/proc/self/exe", error).parent_path();
}

std::string DefaultStoragePath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "/";
    std::string path = std::filesystem::path(home).lexically_normal().string();
    if (path.size() > 1 && path.ends_with('/')) path.pop_back();
    return path;
}

#endif

}  // namespace kestrix
