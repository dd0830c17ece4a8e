// The main window: start-up, menu commands, the camera link's SDK calls and status line, frames
// from the SDK's thread to the panel, and the teardown.
#include <QAction>
#include <QMenuBar>
#include <QTest>
#include <cstring>

#include "app_fixture.h"
#include "display_dlg.h"
#include "frame_format.h"

namespace {

const std::string kLogin = "TLNK_Login(127.0.0.1,8000,admin,qbxwz70413)";
const std::string kRealPlay = "TLNK_RealPlay_V30(0,1,10,1,0)";  // channel 1, 10 s, blocked

// A frame of format 4 with a CRC: a 32 x 4 image whose parameter row carries `params`.
std::vector<uint8_t> MakeFrame(const uint16_t (&params)[kestrix::kDeviceParamCount]) {
    constexpr int32_t width = 32, height = 4;
    std::vector<uint8_t> image(2 * width * height, 0x10);
    std::memcpy(image.data() + 2 * width * (height - 2), params, sizeof params);
    std::vector<uint8_t> frame(kestrix::kFrameHeaderSize);
    kestrix::WriteFrameHeader(
        frame.data(), 4, width, height, true,
        kestrix::FrameCrc32(image.data(), static_cast<int32_t>(image.size())));
    frame.insert(frame.end(), image.begin(), image.end());
    return frame;
}

using sdkdouble::handed;

void Deliver(std::vector<uint8_t> bytes, int32_t type = TLNK_STREAM_DATA, int32_t handle = 0) {
    ASSERT_NE(handed.stream, nullptr);
    handed.stream(handle, type, bytes.data(), static_cast<uint32_t>(bytes.size()),
                  handed.streamUser);
}

}  // namespace

TEST_F(AppTest, StartsDisconnectedAndItsMenuItemsOpenTheirDialogs) {
    auto window = MakeMainWindow();
    EXPECT_EQ(window->windowTitle(), "Brindlecap");
    ASSERT_NE(window->DisplayPanel(), nullptr);
    // The panel fills the tab control less 10 pixels at the sides and bottom and 30 at the top.
    const QWidget* tab = kestrix::Control(window.get(), IDC_TAB);
    EXPECT_EQ(window->DisplayPanel()->geometry(), tab->rect().adjusted(10, 30, -10, -10));
    for (int id : {32775, 32776, 32778, 32782, 32784, 32786}) {
        EXPECT_EQ(ModalTitle([&] { window->OnMenuCommand(id); }), "") << id;
    }
    EXPECT_EQ(ModalTitle([&] { window->OnSysCommand(0xF060 + 1); }), "");
    EXPECT_EQ(window->StatusText(), "Disconnect..");

    const struct {
        QWidget* menu;
        int id;
        const char* text;
        const char* opens;  // the title of the dialog it opens
    } items[] = {
        {window->MenuBar(), ID_CAMERA_CONNECT, "Connect", "Camera Connect"},
        {window->MenuBar(), ID_SETTING_RAWDATAPATH, "Raw Data Path", "设置原始数据存储路径"},
        {window->SystemMenu(), IDM_ABOUTBOX, "关于 Kestrix(&A)...", "关于 Kestrix"},
        {window->MenuBar(), ID_CAMERA_DISCONNECT, "Disconnect", ""},
        {window->MenuBar(), ID_CAMERA_EXIT, "Exit", nullptr},
    };
    for (const auto& item : items) {
        auto* action = item.menu->findChild<QAction*>(QString::number(item.id));
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), QString::fromUtf8(item.text));
        if (item.opens) {
            EXPECT_EQ(ModalTitle([&] { action->trigger(); }), QString::fromUtf8(item.opens));
        }
    }
    // Cancelled dialogs connect nothing; Disconnect while disconnected and closing call nothing.
    window->show();
    window->close();
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_EQ(window->DisplayPanel(), nullptr);
    EXPECT_EQ(window->Pipeline(), nullptr);
}

// Connect, connect again, then the stream ends: the SDK's calls, the wait cursor and the notice.
TEST_F(AppTest, ConnectReconnectAndALostCamera) {
    auto window = MakeMainWindow();
    sdkdouble::script.realPlayResult = 3;
    sdkdouble::ClearCalls();
    Calls waited;  // the SDK's calls made while the wait cursor showed
    sdkdouble::SetCallObserver([&](const std::string& call) {
        const QCursor* cursor = QApplication::overrideCursor();
        if (call.rfind("TLNK_", 0) == 0 && cursor && cursor->shape() == Qt::WaitCursor) {
            waited.push_back(call.substr(0, call.find('(')));
        }
    });
    ASSERT_TRUE(PressConnectOk(*window));
    EXPECT_EQ(sdkdouble::Calls(),
              (Calls{kLogin, kRealPlay, "GLT_CreateHandle()", "GLT_Init(7,8,0,1)",
                     "GLT_AddSubPort(7,0,0)", "GLT_SetCallBack(7,0,2)"}));
    EXPECT_EQ(window->StatusText(), "127.0.0.1 is connecting");
    EXPECT_EQ(handed.streamUser, window->Pipeline());
    EXPECT_EQ(handed.overlayUser, static_cast<kestrix::KestrixLogic*>(window.get()));
    const kestrix::FrameRingBuffer* ring = window->Pipeline()->Ring();

    // Again: the old stream and login go first; the ring and the render handle stay.
    sdkdouble::ClearCalls();
    sdkdouble::script.loginResult = 5;
    ASSERT_TRUE(PressConnectOk(*window));
    EXPECT_EQ(sdkdouble::Calls(), (Calls{"TLNK_StopRealPlay(3)", "TLNK_Logout(0)", kLogin,
                                         "TLNK_RealPlay_V30(5,1,10,1,0)", "GLT_Init(7,8,0,1)",
                                         "GLT_AddSubPort(7,0,0)", "GLT_SetCallBack(7,0,2)"}));
    EXPECT_EQ(window->Pipeline()->Ring(), ring);
    EXPECT_EQ(window->RenderHandle(), 7);

    // The end of the running stream, twice, while recording; the end of another stream is no news.
    Click(window->DisplayPanel(), IDC_VIDEO_RECORD);
    ASSERT_FALSE(window->Pipeline()->RecordFileName().empty());
    Deliver({0}, TLNK_STREAM_END, 5);
    QApplication::processEvents();
    EXPECT_EQ(window->StatusText(), "127.0.0.1 is connecting");
    sdkdouble::ClearCalls();
    Deliver({0}, TLNK_STREAM_END, 3);
    Deliver({0}, TLNK_STREAM_END, 3);
    EXPECT_TRUE(WaitFor([&] { return !m_messages.isEmpty(); }));
    QApplication::processEvents();
    EXPECT_EQ(m_messages, QStringList{"Camera connection is lost.."});
    EXPECT_EQ(sdkdouble::Calls(), (Calls{"TLNK_StopRealPlay(3)", "TLNK_Logout(5)"}));
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_FALSE(window->GetRecording());
    EXPECT_TRUE(window->Pipeline()->RecordFileName().empty());
    EXPECT_EQ(Text(window->DisplayPanel(), IDC_VIDEO_RECORD), "No Record");
    EXPECT_TRUE(window->Pipeline()->IsWorkerRunning());  // kept for the next stream
    EXPECT_EQ(waited,
              (Calls{"TLNK_Login", "TLNK_RealPlay_V30", "TLNK_StopRealPlay", "TLNK_Logout",
                     "TLNK_Login", "TLNK_RealPlay_V30", "TLNK_StopRealPlay", "TLNK_Logout"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(AppTest, FailedConnectionStepKeepsTheDialogOpenAndDisconnectReleasesWhatWasTaken) {
    const struct {
        const char* step;
        sdkdouble::Script script;
        int32_t ringUnit;
        Calls calls;  // at OK
        QStringList messages;
        const char* status;
        bool worker;
        Calls disconnect;  // at the Disconnect that follows
    } cases[] = {
        // clang-format off
        {"login", {.loginResult = -1, .lastError = 4}, 2000000, {kLogin, "TLNK_GetLastError()"},
         {"Connect is failed... Err = 4 "}, "Disconnected..", false, {}},
        {"stream", {.realPlayResult = -1}, 2000000, {kLogin, kRealPlay}, {"Get Stream is failed.."},
         "127.0.0.1 is connecting", true, {"TLNK_Logout(0)"}},
        // More ring than can be had: no exception escapes, the stream is never asked for.
        {"ring memory", {}, INT32_MAX, {kLogin}, {"Get Stream is failed.."},
         "127.0.0.1 is connecting", false, {"TLNK_Logout(0)"}},
        {"render", {.initResult = 0}, 2000000,
         {kLogin, kRealPlay, "GLT_CreateHandle()", "GLT_Init(7,8,0,1)"}, {},
         "127.0.0.1 is connecting", true, {"TLNK_StopRealPlay(0)", "TLNK_Logout(0)"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        m_messages.clear();
        sdkdouble::Reset(c.script);
        auto window = MakeMainWindow();
        window->Pipeline()->SetRingUnit(c.ringUnit);
        sdkdouble::ClearCalls();
        EXPECT_FALSE(PressConnectOk(*window));
        EXPECT_EQ(sdkdouble::Calls(), c.calls);
        EXPECT_EQ(m_messages, c.messages);
        EXPECT_EQ(window->StatusText(), c.status);
        EXPECT_EQ(window->Pipeline()->IsWorkerRunning(), c.worker);
        sdkdouble::ClearCalls();
        window->OnMenuCommand(ID_CAMERA_DISCONNECT);
        EXPECT_EQ(sdkdouble::Calls(), c.disconnect);
        EXPECT_EQ(window->StatusText(), "Disconnected..");
        // The program goes on: the next try succeeds.
        m_messages.clear();
        sdkdouble::script = {};
        window->Pipeline()->SetRingUnit(2000000);
        EXPECT_TRUE(PressConnectOk(*window));
        EXPECT_TRUE(m_messages.isEmpty());
    }
}

TEST_F(AppTest, FramesReachTheReadoutsTheRendererTheOverlayAndTheSnapshots) {
    auto window = MakeMainWindow();
    ASSERT_TRUE(PressConnectOk(*window));
    Click(window->DisplayPanel(), IDC_SNAP_CAP);
    const uint16_t params[kestrix::kDeviceParamCount] = {0x2929, 2500, 0, 150, 42, 7,
                                                         0,      0,    0, 0,   0,  0xFFFF};
    for (int i = 0; i < 3; ++i) Deliver(MakeFrame(params));
    CDisplayDlg* panel = window->DisplayPanel();
    EXPECT_TRUE(WaitFor([&] { return Text(panel, 1052) == QString::fromUtf8("-23.45℃"); }));
    EXPECT_EQ(Text(panel, 1054), QString::fromUtf8("25.00℃"));
    EXPECT_EQ(Text(panel, 1053), "42");
    EXPECT_EQ(Text(panel, 1055), "7");
    EXPECT_EQ(Text(panel, 1057), "-1");
    ASSERT_TRUE(WaitFor([&] { return sdkdouble::Calls("GLT_Display(7,0,window)").size() == 3; }));
    EXPECT_EQ(sdkdouble::Calls("GLT_UpdateFrameData").front(), "GLT_UpdateFrameData(7,128,32,4,0)");
    EXPECT_TRUE(WaitFor([&] { return m_messages == QStringList{"SnapShot finished..."}; }));
    EXPECT_EQ(window->Pipeline()->m_nSnapshotsWritten.load(), 1u);

    // The render library's thread asks for the overlay: the red box over the middle tenth.
    handed.overlay(handed.overlayUser, 0, 2, 640, 512, 0);
    handed.overlay(nullptr, 0, 2, 640, 512, 0);
    EXPECT_EQ(sdkdouble::Calls("GLT_DrawRect"),
              Calls{"GLT_DrawRect(7,0.45,0.55,0.45,0.55,1.00,0.00,0.00,1.00,1)"});

    // A frame the render library refuses is not displayed.
    sdkdouble::script.updateFrameResult = 0;
    sdkdouble::ClearCalls();
    Deliver(MakeFrame({}));
    EXPECT_TRUE(WaitFor([&] { return !sdkdouble::Calls("GLT_UpdateFrameData").empty(); }));
    window->OnClose();  // the worker has ended: nothing more comes
    EXPECT_TRUE(sdkdouble::Calls("GLT_Display").empty());
}

TEST_F(AppTest, EndingWhileStreamingAndRecordingTearsDownInOrder) {
    const struct {
        const char* way;
        int key;  // reaching the window; 0: the Exit command
        QDialog::DialogCode result;
    } ways[] = {{"Exit", 0, QDialog::Rejected},
                {"Escape", Qt::Key_Escape, QDialog::Rejected},
                {"Enter", Qt::Key_Return, QDialog::Accepted}};
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        sdkdouble::Reset({.realPlayResult = 2});
        auto window = MakeMainWindow();
        ASSERT_TRUE(PressConnectOk(*window));
        Deliver(MakeFrame({}));
        QTest::mouseClick(kestrix::Control(window->DisplayPanel(), IDC_VIDEO_RECORD),
                          Qt::LeftButton);
        const QString record = QString::fromStdString(window->Pipeline()->RecordFileName());
        ASSERT_FALSE(record.isEmpty());

        // At the logout the record file is still open: it closes after the stream and the login.
        bool openAtLogout = false;
        sdkdouble::SetCallObserver([&](const std::string& call) {
            if (call.rfind("TLNK_Logout", 0) == 0) {
                openAtLogout = !window->Pipeline()->RecordFileName().empty();
            }
        });
        sdkdouble::ClearCalls();
        window->show();
        if (w.key) {
            QTest::keyClick(kestrix::Control(window.get(), IDC_TAB), Qt::Key(w.key));
        } else {
            window->OnMenuCommand(ID_CAMERA_EXIT);
        }
        sdkdouble::SetCallObserver(nullptr);
        EXPECT_TRUE(openAtLogout);
        // Frames delivered before the stop may still be displayed; the rest is in order.
        Calls calls = sdkdouble::Calls();
        std::erase_if(calls, [](const std::string& call) {
            return call.rfind("GLT_UpdateFrameData", 0) == 0 || call.rfind("GLT_Display", 0) == 0;
        });
        EXPECT_EQ(calls, (Calls{"TLNK_StopRealPlay(2)", "TLNK_Logout(0)", "GLT_DelSubPort(7,0)",
                                "GLT_DestroyHandle(7)"}));
        EXPECT_EQ(window->result(), w.result);
        EXPECT_EQ(window->Pipeline(), nullptr);
        EXPECT_EQ(window->DisplayPanel(), nullptr);
        // The record is closed whole: its header line ("焦平面..." in GB18030) and whole lines.
        const QByteArray text = ReadBytes(record);
        EXPECT_TRUE(text.startsWith("\xbd\xb9\xc6\xbd\xc3\xe6") && text.endsWith("\r\n"))
            << text.left(16).toHex().toStdString();

        // A second close finds nothing left to release.
        sdkdouble::ClearCalls();
        window->close();
        EXPECT_TRUE(sdkdouble::Calls().empty());
    }
}
