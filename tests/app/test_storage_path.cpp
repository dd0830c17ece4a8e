// The storage path: the path file read at start-up, the dialog and its folder chooser.
#include <QLineEdit>
#include <QTest>

#include "app_fixture.h"
#include "set_cap_path_dlg.h"

namespace {

// A chooser that answers with `answer` and remembers what it was asked.
struct ScriptedChooser {
    std::optional<QString> answer;
    QStringList asked;  // title and start folder of each call
    explicit ScriptedChooser(std::optional<QString> a) : answer(std::move(a)) {
        CSetCapPathDlg::SetFolderChooserForTesting(
            [this](QWidget*, const QString& t, const QString& s) {
                asked << t << s;
                return answer;
            });
    }
    ~ScriptedChooser() { CSetCapPathDlg::SetFolderChooserForTesting(nullptr); }
};

}  // namespace

TEST_F(AppTest, StoragePathComesFromTheFirstLineOfThePathFile) {
    const struct {
        const char* content;  // null: no info folder
        QString expected;
    } cases[] = {
        {nullptr, QDir::homePath()},
        {"/data/\xd4\xad\xca\xbc\xca\xfd\xbe\xdd\r\n/other\r\n",
         QString::fromUtf8("/data/原始数据")},
        {"", QDir::homePath()},  // an empty file names no folder
        {"\n/other", QDir::homePath()},
        {"/", "/"},
    };
    for (const auto& c : cases) {
        SetInfoFile("rawdatapath.txt", c.content);
        CKestrixDlg window;
        EXPECT_EQ(window.StoragePath(), c.expected.toStdString())
            << (c.content ? c.content : "none");
        EXPECT_EQ(window.Pipeline()->StoragePath(), c.expected.toStdString());
    }
    // An info folder without the file.
    SetInfoFile("other.txt", "");
    EXPECT_EQ(CKestrixDlg().StoragePath(), QDir::homePath().toStdString());
}

TEST_F(AppTest, BrowseSetsTheFolderEverywhereAndKeepsItInThePathFile) {
    const QString home = QDir::homePath(), chinese = QString::fromUtf8("/data/原始数据");
    const QByteArray gbChinese("/data/\xd4\xad\xca\xbc\xca\xfd\xbe\xdd");  // in GB18030
    const struct {
        const char* scenario;
        bool infoFolder;
        std::optional<QString> answer;
        QStringList messages;
        QString path;     // the folder then shown and used
        QByteArray file;  // rawdatapath.txt after
        QString next;     // the folder of the next start
    } cases[] = {
        {"chosen", true, chinese, {}, chinese, gbChinese, chinese},
        {"chosen without info folder", false, "/chosen", {}, "/chosen", "<missing>", home},
        {"cancelled", true, std::nullopt, {}, "/kept", "/kept", "/kept"},
        {"empty", true, QString(), {"Please select the true path!"}, "/kept", "/kept", "/kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        m_messages.clear();
        SetInfoFile("rawdatapath.txt", c.infoFolder ? "/kept" : nullptr);
        CKestrixDlg window;
        const QString start = c.infoFolder ? "/kept" : home;
        ScriptedChooser chooser(c.answer);
        CSetCapPathDlg dialog(&window, &window);
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("设置原始数据存储路径"));
        EXPECT_EQ(Text(&dialog, IDC_STORAGE_PATH), start);
        Click(&dialog, IDC_BROWSE);
        EXPECT_EQ(chooser.asked, (QStringList{"Please select raw data path:", start}));
        EXPECT_EQ(m_messages, c.messages);
        EXPECT_EQ(Text(&dialog, IDC_STORAGE_PATH), c.path);
        EXPECT_EQ(window.StoragePath(), c.path.toStdString());
        EXPECT_EQ(window.Pipeline()->StoragePath(), c.path.toStdString());
        EXPECT_EQ(ReadBytes(InfoPath("rawdatapath.txt")), c.file);
        EXPECT_EQ(CKestrixDlg().StoragePath(), c.next.toStdString());
    }
}

TEST_F(AppTest, StorageDialogEndsOnEnterUnlessTheBrowseButtonHasTheFocus) {
    ScriptedChooser chooser(std::nullopt);
    CSetCapPathDlg dialog(nullptr, nullptr);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget* browse = kestrix::Control(&dialog, IDC_BROWSE);
    browse->setFocus();
    QTest::keyClick(browse, Qt::Key_Return);
    EXPECT_EQ(chooser.asked.size(), 2);
    EXPECT_TRUE(dialog.isVisible());
    auto* field = kestrix::Control<QLineEdit>(&dialog, IDC_STORAGE_PATH);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(chooser.asked.size(), 2);
    EXPECT_TRUE(field->isReadOnly());
}
