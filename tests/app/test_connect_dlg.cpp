// The connection dialog: its template, the settings it hands on, the port text and the address
// file.
#include <QLineEdit>
#include <QPushButton>

#include "app_fixture.h"
#include "dialog_layout.h"

namespace {

void SetField(QDialog& dialog, int id, const QString& text) {
    kestrix::Control<QLineEdit>(&dialog, id)->setText(text);
}
QString Field(QDialog& dialog, int id) {
    return kestrix::Control<QLineEdit>(&dialog, id)->text();
}

}  // namespace

TEST_F(AppTest, ConnectDialogShowsItsDefaultsInTabOrderWithTheFocusOnOk) {
    CConnectDlg dialog(nullptr, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Camera Connect");
    EXPECT_EQ(Field(dialog, IDC_CAMERA_IP), "127.0.0.1");
    EXPECT_EQ(Field(dialog, IDC_USER_NAME), "admin");
    EXPECT_EQ(Field(dialog, IDC_PASSWORD), "qbxwz70413");
    EXPECT_EQ(Field(dialog, IDC_PORT), "8000");
    // The password is shown as it is.
    EXPECT_EQ(kestrix::Control<QLineEdit>(&dialog, IDC_PASSWORD)->echoMode(), QLineEdit::Normal);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    std::vector<QString> order;
    QWidget* w = kestrix::Control<QWidget>(&dialog, 1);
    for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
        order.push_back(w->objectName());
    }
    EXPECT_EQ(order, (std::vector<QString>{"1", "2", "1004", "1005", "1006", "1007"}));
    EXPECT_TRUE(kestrix::Control<QPushButton>(&dialog, 1)->isDefault());
}

TEST_F(AppTest, PortTextReachesTheSdkAsItsLow16Bits) {
    const struct {
        const char* text;
        int32_t stored;
        const char* login;
    } cases[] = {
        {"8000", 8000, "TLNK_Login(127.0.0.1,8000,admin,qbxwz70413)"},
        {"65536", 65536, "TLNK_Login(127.0.0.1,0,admin,qbxwz70413)"},
        {"-1", -1, "TLNK_Login(127.0.0.1,65535,admin,qbxwz70413)"},
        {"abc", 0, "TLNK_Login(127.0.0.1,0,admin,qbxwz70413)"},
        {" 8001 ", 8001, "TLNK_Login(127.0.0.1,8001,admin,qbxwz70413)"},
        {"80x", 0, "TLNK_Login(127.0.0.1,0,admin,qbxwz70413)"},
        {"99999999999", 0, "TLNK_Login(127.0.0.1,0,admin,qbxwz70413)"},
        {"", 0, "TLNK_Login(127.0.0.1,0,admin,qbxwz70413)"},
    };
    for (const auto& c : cases) {
        sdkdouble::Reset();
        auto window = MakeMainWindow();
        CConnectDlg dialog(window.get(), window.get());
        SetField(dialog, IDC_PORT, c.text);
        dialog.OnOK();
        EXPECT_EQ(dialog.m_nPortNo, c.stored) << c.text;
        EXPECT_EQ(window->Port(), c.stored) << c.text;
        EXPECT_EQ(sdkdouble::CallsStartingWith("TLNK_Login"), std::vector<std::string>{c.login})
            << c.text;
        // The next opening shows the stored number.
        CConnectDlg again(window.get(), window.get());
        EXPECT_EQ(Field(again, IDC_PORT), QString::number(c.stored)) << c.text;
    }
}

TEST_F(AppTest, OkHandsTheFieldsToTheMainWindowAndWritesTheAddressFile) {
    MakeInfoFolder();
    auto window = MakeMainWindow();
    CConnectDlg dialog(window.get(), window.get());
    SetField(dialog, IDC_CAMERA_IP, "127.0.0.2");
    SetField(dialog, IDC_USER_NAME, "operator");
    SetField(dialog, IDC_PASSWORD, "secret");
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(window->CameraIP(), "127.0.0.2");
    EXPECT_EQ(window->UserName(), "operator");
    EXPECT_EQ(window->Password(), "secret");
    EXPECT_EQ(window->StatusText(), "127.0.0.2 is connecting");
    EXPECT_EQ(ReadBytes(InfoPath("ipaddress.txt")), "127.0.0.2");  // no line end

    CConnectDlg again(window.get(), window.get());
    EXPECT_EQ(Field(again, IDC_CAMERA_IP), "127.0.0.2");
    EXPECT_EQ(Field(again, IDC_USER_NAME), "operator");
    EXPECT_EQ(Field(again, IDC_PASSWORD), "secret");
}

TEST_F(AppTest, FailedLoginStillLeavesTheNewAddressInTheFile) {
    MakeInfoFolder();
    auto window = MakeMainWindow();
    sdkdouble::Current().loginResult = -1;
    CConnectDlg dialog(window.get(), window.get());
    SetField(dialog, IDC_CAMERA_IP, "127.0.0.9");
    dialog.OnOK();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadBytes(InfoPath("ipaddress.txt")), "127.0.0.9");
    // The user's entries stay for another try.
    EXPECT_EQ(Field(dialog, IDC_CAMERA_IP), "127.0.0.9");
}

TEST_F(AppTest, WithoutInfoFolderTheDialogAlwaysShowsItsOwnDefaultAddress) {
    auto window = MakeMainWindow();
    CConnectDlg dialog(window.get(), window.get());
    SetField(dialog, IDC_CAMERA_IP, "127.0.0.5");
    SetField(dialog, IDC_PORT, "9000");
    dialog.OnOK();
    EXPECT_EQ(window->CameraIP(), "127.0.0.5");
    EXPECT_FALSE(QDir(m_dir.path() + "/info").exists());  // never created

    CConnectDlg again(window.get(), window.get());
    EXPECT_EQ(Field(again, IDC_CAMERA_IP), "127.0.0.1");
    EXPECT_EQ(Field(again, IDC_PORT), "9000");
}

TEST_F(AppTest, AddressFileFirstLineIsTheAddress) {
    const struct {
        QByteArray content;
        const char* address;
    } cases[] = {
        {"10.1.2.3", "10.1.2.3"},
        {"10.1.2.3\r\n10.9.9.9\r\n", "10.1.2.3"},
        {"10.1.2.3\n10.9.9.9", "10.1.2.3"},
        {"\n10.9.9.9\n", ""},
        {"", ""},
        {"camera-\xd6\xd0\n", "camera-中"},  // GB18030 text
    };
    MakeInfoFolder();
    for (const auto& c : cases) {
        WriteBytes(InfoPath("ipaddress.txt"), c.content);
        CConnectDlg dialog(nullptr, nullptr);
        EXPECT_EQ(Field(dialog, IDC_CAMERA_IP), QString::fromUtf8(c.address)) << c.content.data();
    }
}

TEST_F(AppTest, CancelAfterEditingChangesNothing) {
    MakeInfoFolder();
    WriteBytes(InfoPath("ipaddress.txt"), "127.0.0.3");
    auto window = MakeMainWindow();
    CConnectDlg dialog(window.get(), window.get());
    SetField(dialog, IDC_CAMERA_IP, "127.0.0.4");
    SetField(dialog, IDC_USER_NAME, "other");
    SetField(dialog, IDC_PORT, "1");
    dialog.show();
    kestrix::Control<QPushButton>(&dialog, 2)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(window->CameraIP(), "192.168.1.64");
    EXPECT_EQ(window->UserName(), "admin");
    EXPECT_EQ(window->Port(), 8000);
    EXPECT_EQ(ReadBytes(InfoPath("ipaddress.txt")), "127.0.0.3");
    EXPECT_EQ(sdkdouble::Calls(), std::vector<std::string>{"TLNK_Init()"});
}
