// The connection and storage path dialogs: their templates, the settings they hand on, the port
// text, the folder chooser and the two settings files.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app_fixture.h"

TEST_F(AppTest, ConnectDialogHandsOnItsFieldsAndKeepsTheAddressFile) {
    const QStringList entered = {"127.0.0.2", "operator", "secret", "9000"};
    const QStringList initial = {"192.168.1.64", "admin", "qbxwz70413", "8000"};
    const QStringList fromFile = {"127.0.0.3", "admin", "qbxwz70413", "8000"};
    const QStringList ownDefault = {"127.0.0.1", "operator", "secret", "9000"};
    const struct {
        const char* scenario;
        const char* file;  // ipaddress.txt before; null: no info folder
        int32_t login;
        int button;  // 1 OK, 2 Cancel
        QDialog::DialogCode result;
        QStringList window;  // address, user, password and port the main window then holds
        const char* status;
        QByteArray fileAfter;
        QStringList reopened;  // what the next opening shows
    } cases[] = {
        {"OK", "127.0.0.3", 0, 1, QDialog::Accepted, entered, "127.0.0.2 is connecting",
         "127.0.0.2", entered},  // no line end in the file
        // The new address is written before the login, and the entries stay for another try.
        {"failed login", "127.0.0.3", -1, 1, QDialog::Rejected, entered, "Disconnected..",
         "127.0.0.2", entered},
        // The folder is never created; the next opening shows the dialog's own default address.
        {"no info folder", nullptr, 0, 1, QDialog::Accepted, entered, "127.0.0.2 is connecting",
         "<missing>", ownDefault},
        {"Cancel", "127.0.0.3", 0, 2, QDialog::Rejected, initial, "Disconnect..", "127.0.0.3",
         fromFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        SetInfoFile("ipaddress.txt", c.file);
        sdkdouble::Reset({.loginResult = c.login});
        auto window = MakeMainWindow();
        CConnectDlg dialog(window.get(), window.get());
        const int ids[] = {IDC_CAMERA_IP, IDC_USER_NAME, IDC_PASSWORD, IDC_PORT};
        for (int i = 0; i < 4; ++i)
            kestrix::SetControlText(&dialog, ids[i], entered[i].toStdString());
        dialog.show();
        // The password shows as it is; the tab order starts at OK, the default button.
        EXPECT_EQ(kestrix::Control<QLineEdit>(&dialog, IDC_PASSWORD)->echoMode(),
                  QLineEdit::Normal);
        EXPECT_TRUE(kestrix::Control<QPushButton>(&dialog, 1)->isDefault());
        QStringList order;
        QWidget* w = kestrix::Control(&dialog, 1);
        for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
            while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
            order << w->objectName();
        }
        EXPECT_EQ(order, (QStringList{"1", "2", "1004", "1005", "1006", "1007"}));
        Click(&dialog, c.button);
        EXPECT_EQ(dialog.result(), c.result);
        EXPECT_EQ((QStringList{QString::fromStdString(window->CameraIP()),
                               QString::fromStdString(window->UserName()),
                               QString::fromStdString(window->Password()),
                               QString::number(window->Port())}),
                  c.window);
        EXPECT_EQ(window->StatusText(), c.status);
        EXPECT_EQ(ReadBytes(InfoPath("ipaddress.txt")), c.fileAfter);
        EXPECT_EQ(QDir(m_dir.path() + "/info").exists(), c.file != nullptr);
        EXPECT_EQ(sdkdouble::Calls("TLNK_Login").size(), c.button == 1 ? 1u : 0u);
        EXPECT_EQ(Text(&dialog, IDC_CAMERA_IP), entered[0]);  // kept for another try
        CConnectDlg again(window.get(), window.get());
        QStringList shown;
        for (int id : ids) shown << Text(&again, id);
        EXPECT_EQ(shown, c.reopened);
    }
}

TEST_F(AppTest, PortTextReachesTheSdkAsItsLow16Bits) {
    const struct {
        const char* text;
        int32_t stored;
        const char* onWire;
    } cases[] = {
        {"8000", 8000, "8000"},   {"65536", 65536, "0"}, {"-1", -1, "65535"},     {"abc", 0, "0"},
        {" 8001 ", 8001, "8001"}, {"80x", 0, "0"},       {"99999999999", 0, "0"}, {"", 0, "0"},
    };
    auto window = MakeMainWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sdkdouble::ClearCalls();
        CConnectDlg dialog(window.get(), window.get());
        kestrix::SetControlText(&dialog, IDC_PORT, c.text);
        dialog.OnOK();
        EXPECT_EQ(window->Port(), c.stored);
        EXPECT_EQ(sdkdouble::Calls("TLNK_Login"),
                  Calls{"TLNK_Login(127.0.0.1," + std::string(c.onWire) + ",admin,qbxwz70413)"});
        CConnectDlg again(window.get(), window.get());
        EXPECT_EQ(Text(&again, IDC_PORT), QString::number(c.stored));
    }
}

// Both files give their first line; an empty path names no folder, an empty address is shown.
TEST_F(AppTest, SettingsFilesGiveTheirFirstLine) {
    const QString home = QDir::homePath(), chinese = QString::fromUtf8("/data/原始数据");
    const struct {
        const char* content;
        QString address, storage;
    } cases[] = {
        {"/", "/", "/"},
        {"10.1.2.3\r\n10.9.9.9\r\n", "10.1.2.3", "10.1.2.3"},
        {"10.1.2.3\n10.9.9.9", "10.1.2.3", "10.1.2.3"},
        {"\n10.9.9.9\n", "", home},
        {"", "", home},
        {"/data/\xd4\xad\xca\xbc\xca\xfd\xbe\xdd\r\n", chinese, chinese},  // GB18030 text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        SetInfoFile("ipaddress.txt", c.content);
        ASSERT_TRUE(QFile::copy(InfoPath("ipaddress.txt"), InfoPath("rawdatapath.txt")));
        CKestrixDlg window;
        CConnectDlg dialog(&window, &window);
        EXPECT_EQ(Text(&dialog, IDC_CAMERA_IP), c.address);
        EXPECT_EQ(window.StoragePath(), c.storage.toStdString());
        EXPECT_EQ(window.Pipeline()->StoragePath(), c.storage.toStdString());
    }
}

TEST_F(AppTest, BrowseSetsTheFolderEverywhereKeepsItInThePathFileAndEnterEndsTheDialog) {
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
        QStringList asked;  // title and start folder of each call
        CSetCapPathDlg::SetFolderChooserForTesting(
            [&](QWidget*, const QString& t, const QString& s) {
                asked << t << s;
                return c.answer;
            });
        CSetCapPathDlg dialog(&window, &window);
        EXPECT_EQ(Text(&dialog, IDC_STORAGE_PATH), start);
        Click(&dialog, IDC_BROWSE);
        EXPECT_EQ(asked, (QStringList{"Please select raw data path:", start}));
        EXPECT_EQ(m_messages, c.messages);
        EXPECT_EQ(Text(&dialog, IDC_STORAGE_PATH), c.path);
        EXPECT_EQ(window.StoragePath(), c.path.toStdString());
        EXPECT_EQ(window.Pipeline()->StoragePath(), c.path.toStdString());
        EXPECT_EQ(ReadBytes(InfoPath("rawdatapath.txt")), c.file);
        EXPECT_EQ(CKestrixDlg().StoragePath(), c.next.toStdString());
    }

    // Enter browses on the Browse button and ends the dialog elsewhere.
    int asked = 0;
    CSetCapPathDlg::SetFolderChooserForTesting([&](QWidget*, const QString&, const QString&) {
        ++asked;
        return std::optional<QString>();
    });
    CSetCapPathDlg dialog(nullptr, nullptr);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget* browse = kestrix::Control(&dialog, IDC_BROWSE);
    browse->setFocus();
    QTest::keyClick(browse, Qt::Key_Return);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dialog.isVisible());
    auto* field = kestrix::Control<QLineEdit>(&dialog, IDC_STORAGE_PATH);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(field->isReadOnly());
}
