// Reading and writing the settings files.
#include "settings_files.h"

#include <QFile>
#include <QFileInfo>
#include <string>

#include "text_codec.h"

namespace kestrix {
namespace {

QString g_strFolderForTesting;

// A settings line is short; what lies beyond this is not a line this program wrote.
constexpr qint64 kMaxLineBytes = 64 * 1024;

}  // namespace

QString ProgramFolder() {
    if (!g_strFolderForTesting.isEmpty()) return g_strFolderForTesting;
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

void SetProgramFolderForTesting(const QString& folder) {
    g_strFolderForTesting = folder;
}

QString AddressFilePath() {
    return ProgramFolder() + QStringLiteral("/info/ipaddress.txt");
}

QString StoragePathFilePath() {
    return ProgramFolder() + QStringLiteral("/info/rawdatapath.txt");
}

std::optional<QString> ReadSettingLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray line = file.readLine(kMaxLineBytes);
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    const auto utf8 = Gb18030ToUtf8(std::string_view(line.constData(), line.size()));
    if (!utf8) return std::nullopt;
    return QString::fromStdString(*utf8);
}

bool WriteSettingLine(const QString& path, const QString& line) {
    const auto gb = Utf8ToGb18030(line.toStdString());
    if (!gb) return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(gb->data(), static_cast<qint64>(gb->size())) ==
               static_cast<qint64>(gb->size()) &&
           file.flush();
}

}  // namespace kestrix
