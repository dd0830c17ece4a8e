// The storage path: the path file read at start-up, the dialog and its folder chooser.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app_fixture.h"
#include "dialog_layout.h"
#include "set_cap_path_dlg.h"

namespace {

// A chooser that answers with `answer` and remembers what it was asked.
struct ScriptedChooser {
    std::optional<QString> answer;
    QString title, start;
    int calls = 0;
    void Install() {
        CSetCapPathDlg::SetFolderChooserForTesting(
            [this](QWidget*, const QString& t, const QString& s) {
                ++calls;
                title = t;
                start = s;
                return answer;
            });
    }
    ~ScriptedChooser() { CSetCapPathDlg::SetFolderChooserForTesting(nullptr); }
};

QString PathField(QDialog& dialog) {
    return kestrix::Control<QLineEdit>(&dialog, IDC_STORAGE_PATH)->text();
}

}  // namespace

TEST_F(AppTest, StoragePathComesFromTheFirstLineOfThePathFile) {
    const struct {
        bool folder;
        QByteArray content;
        QString expected;
    } cases[] = {
        {false, {}, QDir::homePath()},
        {true, "<none>", QDir::homePath()},
        {true, "/data/\xd4\xad\xca\xbc\xca\xfd\xbe\xdd\r\n/other\r\n",
         QString::fromUtf8("/data/原始数据")},
        {true, "", QDir::homePath()},  // an empty file names no folder
        {true, "\n/other", QDir::homePath()},
        {true, "/", "/"},
    };
    for (const auto& c : cases) {
        QDir(m_dir.path() + "/info").removeRecursively();
        if (c.folder) {
            MakeInfoFolder();
            if (c.content != "<none>") WriteBytes(InfoPath("rawdatapath.txt"), c.content);
        }
        CKestrixDlg window;
        EXPECT_EQ(window.StoragePath(), c.expected.toStdString()) << c.content.data();
        EXPECT_EQ(window.Pipeline()->StoragePath(), c.expected.toStdString());
    }
}

TEST_F(AppTest, BrowseSetsTheFolderEverywhereAndWritesItInGb18030) {
    MakeInfoFolder();
    auto window = MakeMainWindow();
    window->SetStoragePath("/start/here");
    ScriptedChooser chooser{QString::fromUtf8("/data/原始数据")};
    chooser.Install();
    CSetCapPathDlg dialog(window.get(), window.get());
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("设置原始数据存储路径"));
    EXPECT_EQ(PathField(dialog), "/start/here");
    kestrix::Control<QPushButton>(&dialog, IDC_BROWSE)->click();
    EXPECT_EQ(chooser.title, "Please select raw data path:");
    EXPECT_EQ(chooser.start, "/start/here");
    EXPECT_EQ(PathField(dialog), QString::fromUtf8("/data/原始数据"));
    EXPECT_EQ(window->StoragePath(), "/data/原始数据");
    EXPECT_EQ(window->Pipeline()->StoragePath(), "/data/原始数据");
    EXPECT_EQ(ReadBytes(InfoPath("rawdatapath.txt")),
              QByteArray("/data/\xd4\xad\xca\xbc\xca\xfd\xbe\xdd"));

    // The next start reads it back unchanged.
    CKestrixDlg next;
    EXPECT_EQ(next.StoragePath(), "/data/原始数据");
}

TEST_F(AppTest, CancelledOrEmptyChoiceChangesNothing) {
    MakeInfoFolder();
    WriteBytes(InfoPath("rawdatapath.txt"), "/kept");
    auto window = std::make_unique<CKestrixDlg>();
    const struct {
        std::optional<QString> answer;
        QStringList messages;
    } cases[] = {{std::nullopt, {}}, {QString(), {"Please select the true path!"}}};
    for (const auto& c : cases) {
        m_messages.clear();
        ScriptedChooser chooser{c.answer};
        chooser.Install();
        CSetCapPathDlg dialog(window.get(), window.get());
        kestrix::Control<QPushButton>(&dialog, IDC_BROWSE)->click();
        EXPECT_EQ(chooser.calls, 1);
        EXPECT_EQ(m_messages, c.messages);
        EXPECT_EQ(PathField(dialog), "/kept");
        EXPECT_EQ(window->StoragePath(), "/kept");
        EXPECT_EQ(ReadBytes(InfoPath("rawdatapath.txt")), "/kept");
    }
}

TEST_F(AppTest, WithoutInfoFolderAChosenFolderHoldsForThisRunOnly) {
    auto window = MakeMainWindow();
    ScriptedChooser chooser{QStringLiteral("/chosen")};
    chooser.Install();
    CSetCapPathDlg dialog(window.get(), window.get());
    kestrix::Control<QPushButton>(&dialog, IDC_BROWSE)->click();
    EXPECT_EQ(window->StoragePath(), "/chosen");
    EXPECT_FALSE(QDir(m_dir.path() + "/info").exists());
    CKestrixDlg next;
    EXPECT_EQ(next.StoragePath(), QDir::homePath().toStdString());
}

TEST_F(AppTest, StorageDialogEndsOnEnterUnlessTheBrowseButtonHasTheFocus) {
    auto window = MakeMainWindow();
    ScriptedChooser chooser{std::nullopt};
    chooser.Install();
    CSetCapPathDlg dialog(window.get(), window.get());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* browse = kestrix::Control<QPushButton>(&dialog, IDC_BROWSE);
    browse->setFocus();
    QTest::keyClick(browse, Qt::Key_Return);
    EXPECT_EQ(chooser.calls, 1);
    EXPECT_TRUE(dialog.isVisible());
    auto* field = kestrix::Control<QLineEdit>(&dialog, IDC_STORAGE_PATH);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(chooser.calls, 1);
    EXPECT_TRUE(field->isReadOnly());
}
