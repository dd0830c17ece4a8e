// The one-line settings files in the folder "info" beside the program: the last camera address and
// the storage folder. They hold text in GB18030; the program reads their first line and writes one
// line without a line end, and never creates the folder.
#pragma once

#include <QString>
#include <optional>

namespace kestrix {

// The folder that holds the program file (no trailing slash).
QString ProgramFolder();
// Tests point the settings files somewhere of their own; an empty folder restores the default.
void SetProgramFolderForTesting(const QString& folder);

QString AddressFilePath();      // <program folder>/info/ipaddress.txt
QString StoragePathFilePath();  // <program folder>/info/rawdatapath.txt

// The first line (without its LF or CR LF); an empty file gives an empty line. Nothing when the
// file cannot be opened or does not hold GB18030 text.
std::optional<QString> ReadSettingLine(const QString& path);
// Creates or empties the file and writes `line` without a line end. False when the file cannot be
// created (a missing "info" folder among the causes) or the text cannot be stored.
bool WriteSettingLine(const QString& path, const QString& line);

}  // namespace kestrix
