// The one-line settings files in the folder "info" beside the program: the last camera address and
// the storage folder. They hold text in code page 936 (GB18030); the program reads their first
// line and writes one line without a line end, and never creates the folder. Texts are UTF-8.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// The folder that holds the program file.
std::filesystem::path ProgramFolder();
// Tests point the settings files somewhere of their own; an empty folder restores the default.
void SetProgramFolderForTesting(const std::filesystem::path& folder);

std::filesystem::path AddressFilePath();      // <program folder>/info/ipaddress.txt
std::filesystem::path StoragePathFilePath();  // <program folder>/info/rawdatapath.txt

// Where records go until the path file or the user says otherwise.
std::string DefaultStoragePath();

// The first line of a settings file's bytes (without its LF or CR LF); empty bytes give an empty
// line. Nothing when the line is not code page 936 text.
std::optional<std::string> ParseSettingLine(std::string_view bytes);
// The first line of the file; nothing when it cannot be opened or its line does not parse.
std::optional<std::string> ReadSettingLine(const std::filesystem::path& path);
// Creates or empties the file and writes `line` without a line end. False when the file cannot be
// created (a missing "info" folder among the causes) or the text cannot be stored.
bool WriteSettingLine(const std::filesystem::path& path, std::string_view line);

}  // namespace kestrix
