// The main window: start-up, menu commands, the camera link's SDK calls and status line, frames
// from the SDK's thread to the panel, and the teardown.
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <vector>

#include "about_dlg.h"
#include "app_fixture.h"
#include "display_dlg.h"
#include "frame_format.h"
#include "set_cap_path_dlg.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kLogin = "TLNK_Login(127.0.0.1,8000,admin,qbxwz70413)";
const Calls kRenderSetUp = {"GLT_Init(7,8,0,1)", "GLT_AddSubPort(7,0,0)", "GLT_SetCallBack(7,0,2)"};

Calls Join(std::initializer_list<Calls> parts) {
    Calls out;
    for (const Calls& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

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

void Deliver(const std::vector<uint8_t>& bytes) {
    TLNK_StreamCallback callback = sdkdouble::StreamCallback();
    ASSERT_NE(callback, nullptr);
    std::vector<uint8_t> copy = bytes;
    callback(0, TLNK_STREAM_DATA, copy.data(), static_cast<uint32_t>(copy.size()),
             sdkdouble::StreamUser());
}

QString Readout(CKestrixDlg& window, int id) {
    return kestrix::Control<QLabel>(window.DisplayPanel(), id)->text();
}

}  // namespace

TEST_F(AppTest, StartsDisconnectedHavingOnlyInitialisedTheSdk) {
    auto window = MakeMainWindow();
    EXPECT_EQ(window->windowTitle(), "Brindlecap");
    EXPECT_EQ(window->StatusText(), "Disconnect..");
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
    ASSERT_NE(window->DisplayPanel(), nullptr);

    // The panel fills the tab control less 10 pixels at the sides and bottom and 30 at the top.
    const QWidget* tab = kestrix::Control<QWidget>(window.get(), IDC_TAB);
    EXPECT_EQ(window->DisplayPanel()->geometry(), tab->rect().adjusted(10, 30, -10, -10));
}

TEST_F(AppTest, MenuCarriesItsCommandIdsAndTheWindowMenuTheAboutItem) {
    auto window = MakeMainWindow();
    const struct {
        int id;
        const char* text;
    } items[] = {{ID_CAMERA_CONNECT, "Connect"},
                 {ID_CAMERA_DISCONNECT, "Disconnect"},
                 {ID_CAMERA_EXIT, "Exit"},
                 {ID_SETTING_RAWDATAPATH, "Raw Data Path"}};
    for (const auto& item : items) {
        auto* action = window->MenuBar()->findChild<QAction*>(QString::number(item.id));
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), item.text);
    }
    auto* about = window->SystemMenu()->findChild<QAction*>(QString::number(IDM_ABOUTBOX));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QString::fromUtf8("关于 Kestrix(&A)..."));
}

TEST_F(AppTest, MenuCommandsOpenTheirDialogs) {
    auto window = MakeMainWindow();
    EXPECT_TRUE(OpensModal<CConnectDlg>([&] { window->OnMenuCommand(ID_CAMERA_CONNECT); }));
    EXPECT_TRUE(OpensModal<CSetCapPathDlg>([&] { window->OnMenuCommand(ID_SETTING_RAWDATAPATH); }));
    EXPECT_TRUE(OpensModal<CAboutDlg>([&] { window->OnSysCommand(IDM_ABOUTBOX); },
                                      [](CAboutDlg* about) {
                                          EXPECT_EQ(about->windowTitle(),
                                                    QString::fromUtf8("关于 Kestrix"));
                                      }));
    // Cancelling the connection dialog connects nothing.
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
    EXPECT_EQ(window->StatusText(), "Disconnect..");
}

TEST_F(AppTest, UnusedCommandIdsDoNothing) {
    auto window = MakeMainWindow();
    for (int id : {32775, 32776, 32778, 32782, 32784, 32786}) {
        EXPECT_FALSE(OpensModal<QDialog>([&] { window->OnMenuCommand(id); })) << id;
    }
    EXPECT_FALSE(OpensModal<QDialog>([&] { window->OnSysCommand(0xF060 + 1); }));
    EXPECT_EQ(window->StatusText(), "Disconnect..");
    EXPECT_NE(window->Pipeline(), nullptr);
}

TEST_F(AppTest, DisconnectWhileDisconnectedCallsNothingAndSaysDisconnected) {
    auto window = MakeMainWindow();
    window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
}

TEST_F(AppTest, ConnectLogsInStartsTheStreamAndSetsUpTheRenderer) {
    auto window = MakeMainWindow();
    sdkdouble::ClearCalls();
    EXPECT_TRUE(PressConnectOk(*window));
    EXPECT_EQ(sdkdouble::Calls(),
              Join({{kLogin, "TLNK_RealPlay_V30(0,0)", "GLT_CreateHandle()"}, kRenderSetUp}));
    EXPECT_EQ(window->StatusText(), "127.0.0.1 is connecting");
    EXPECT_TRUE(sdkdouble::LastDeviceInfoWasZero());
    const PreviewInfo preview = sdkdouble::LastPreview();
    EXPECT_EQ(preview.channel, 1);
    EXPECT_EQ(preview.waitSeconds, 10);
    EXPECT_EQ(preview.blocked, 1);
    EXPECT_EQ(sdkdouble::LastPreviewName(), "");
    EXPECT_EQ(sdkdouble::StreamUser(), window->Pipeline());
    EXPECT_EQ(sdkdouble::OverlayUser(), static_cast<kestrix::KestrixLogic*>(window.get()));
    EXPECT_TRUE(window->Pipeline()->IsWorkerRunning());
}

TEST_F(AppTest, CameraCallsRunUnderTheWaitCursor) {
    auto window = MakeMainWindow();
    Calls waited;  // the SDK's calls made while the wait cursor showed
    sdkdouble::SetCallObserver([&](const std::string& call) {
        const QCursor* cursor = QApplication::overrideCursor();
        if (call.rfind("TLNK_", 0) == 0 && cursor && cursor->shape() == Qt::WaitCursor) {
            waited.push_back(call.substr(0, call.find('(')));
        }
    });
    ASSERT_TRUE(PressConnectOk(*window));
    window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    sdkdouble::SetCallObserver(nullptr);
    EXPECT_EQ(waited,
              (Calls{"TLNK_Login", "TLNK_RealPlay_V30", "TLNK_StopRealPlay", "TLNK_Logout"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(AppTest, LostCameraDisconnectsEndsTheRecordingAndSaysSoOnce) {
    auto window = MakeMainWindow();
    ASSERT_TRUE(PressConnectOk(*window));
    kestrix::Control<QPushButton>(window->DisplayPanel(), kestrix::IDC_VIDEO_RECORD)->click();
    const std::string record = window->Pipeline()->RecordFileName();
    ASSERT_FALSE(record.empty());
    const auto end = [](int32_t handle) {
        uint8_t marker = 0;
        sdkdouble::StreamCallback()(handle, TLNK_STREAM_END, &marker, 0, sdkdouble::StreamUser());
    };
    end(5);  // a stream that is no longer the running one
    QApplication::processEvents();
    EXPECT_EQ(window->StatusText(), "127.0.0.1 is connecting");
    sdkdouble::ClearCalls();
    end(0);
    end(0);
    EXPECT_TRUE(WaitFor([&] { return !m_messages.isEmpty(); }));
    QApplication::processEvents();
    EXPECT_EQ(m_messages, QStringList{"Camera connection is lost.."});
    EXPECT_EQ(sdkdouble::Calls(), (Calls{"TLNK_StopRealPlay(0)", "TLNK_Logout(0)"}));
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_FALSE(window->GetRecording());
    EXPECT_TRUE(window->Pipeline()->RecordFileName().empty());
    EXPECT_EQ(
        kestrix::Control<QPushButton>(window->DisplayPanel(), kestrix::IDC_VIDEO_RECORD)->text(),
        "No Record");
}

TEST_F(AppTest, ReconnectStopsAndLogsOutFirstAndKeepsTheRenderHandle) {
    auto window = MakeMainWindow();
    sdkdouble::Current().realPlayResult = 3;
    ASSERT_TRUE(PressConnectOk(*window));
    const kestrix::FrameRingBuffer* ring = window->Pipeline()->Ring();
    sdkdouble::ClearCalls();
    sdkdouble::Current().loginResult = 5;
    ASSERT_TRUE(PressConnectOk(*window));
    EXPECT_EQ(sdkdouble::Calls(),
              Join({{"TLNK_StopRealPlay(3)", "TLNK_Logout(0)", kLogin, "TLNK_RealPlay_V30(5,0)"},
                    kRenderSetUp}));
    EXPECT_EQ(window->Pipeline()->Ring(), ring);
    EXPECT_EQ(window->RenderHandle(), 7);

    sdkdouble::ClearCalls();
    window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(sdkdouble::Calls(), (Calls{"TLNK_StopRealPlay(3)", "TLNK_Logout(5)"}));
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    // The worker stays for the next stream.
    EXPECT_TRUE(window->Pipeline()->IsWorkerRunning());
}

TEST_F(AppTest, FailedLoginShowsTheErrorCodeAndLeavesTheDialogOpen) {
    auto window = MakeMainWindow();
    sdkdouble::Current().loginResult = -1;
    sdkdouble::Current().lastError = 4;
    sdkdouble::ClearCalls();
    EXPECT_FALSE(PressConnectOk(*window));
    EXPECT_EQ(m_messages, QStringList{"Connect is failed... Err = 4 "});
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_EQ(sdkdouble::Calls(), (Calls{kLogin, "TLNK_GetLastError()"}));
    // The stored id is negative: a later Disconnect logs nothing out.
    sdkdouble::ClearCalls();
    window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_TRUE(sdkdouble::Calls().empty());
}

TEST_F(AppTest, FailedStreamStartKeepsTheLoginUntilDisconnect) {
    auto window = MakeMainWindow();
    sdkdouble::Current().realPlayResult = -1;
    EXPECT_FALSE(PressConnectOk(*window));
    EXPECT_EQ(m_messages, QStringList{"Get Stream is failed.."});
    EXPECT_EQ(window->StatusText(), "127.0.0.1 is connecting");
    EXPECT_TRUE(sdkdouble::CallsStartingWith("GLT_").empty());
    sdkdouble::ClearCalls();
    window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Logout(0)"});
    EXPECT_EQ(window->StatusText(), "Disconnected..");
}

TEST_F(AppTest, StreamStartWithoutMemoryForTheRingFailsAndTheProgramGoesOn) {
    auto window = MakeMainWindow();
    window->Pipeline()->SetRingUnit(INT32_MAX);  // more than can be had
    EXPECT_FALSE(PressConnectOk(*window));
    EXPECT_EQ(m_messages, QStringList{"Get Stream is failed.."});
    EXPECT_TRUE(sdkdouble::CallsStartingWith("TLNK_RealPlay").empty());
    EXPECT_FALSE(window->Pipeline()->IsWorkerRunning());
    window->Pipeline()->SetRingUnit(2000000);
    m_messages.clear();
    EXPECT_TRUE(PressConnectOk(*window));
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(AppTest, FailedRenderSetUpLeavesTheStreamRunningAndTheDialogOpen) {
    auto window = MakeMainWindow();
    sdkdouble::Current().initResult = 0;
    EXPECT_FALSE(PressConnectOk(*window));
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(window->RealPlayHandle(), 0);
    EXPECT_TRUE(sdkdouble::CallsStartingWith("GLT_AddSubPort").empty());
}

TEST_F(AppTest, FramesFromTheStreamReachTheReadoutsTheRendererAndTheOverlay) {
    auto window = MakeMainWindow();
    ASSERT_TRUE(PressConnectOk(*window));
    const uint16_t params[kestrix::kDeviceParamCount] = {0x2929, 2500, 0, 150, 42, 7,
                                                         0,      0,    0, 0,   0,  0xFFFF};
    const auto frame = MakeFrame(params);
    Deliver(frame);
    Deliver(frame);
    EXPECT_TRUE(WaitFor([&] { return Readout(*window, 1052) == QString::fromUtf8("-23.45℃"); }));
    EXPECT_EQ(Readout(*window, 1054), QString::fromUtf8("25.00℃"));
    EXPECT_EQ(Readout(*window, 1053), "42");
    EXPECT_EQ(Readout(*window, 1055), "7");
    EXPECT_EQ(Readout(*window, 1057), "-1");
    EXPECT_TRUE(
        WaitFor([&] { return !sdkdouble::CallsStartingWith("GLT_Display(7,0,window)").empty(); }));
    EXPECT_EQ(sdkdouble::CallsStartingWith("GLT_UpdateFrameData").front(),
              "GLT_UpdateFrameData(7,128,32,4,0)");

    // The render library's thread asks for the overlay: the red box over the middle tenth.
    sdkdouble::OverlayCallback()(sdkdouble::OverlayUser(), 0, 2, 640, 512, 0);
    sdkdouble::OverlayCallback()(nullptr, 0, 2, 640, 512, 0);
    EXPECT_EQ(sdkdouble::CallsStartingWith("GLT_DrawRect"),
              Calls{"GLT_DrawRect(7,0.45,0.55,0.45,0.55,1.00,0.00,0.00,1.00,1)"});
}

TEST_F(AppTest, RefusedFrameIsNotDisplayed) {
    auto window = MakeMainWindow();
    sdkdouble::Current().updateFrameResult = 0;
    ASSERT_TRUE(PressConnectOk(*window));
    const uint16_t params[kestrix::kDeviceParamCount] = {};
    Deliver(MakeFrame(params));
    EXPECT_TRUE(
        WaitFor([&] { return !sdkdouble::CallsStartingWith("GLT_UpdateFrameData").empty(); }));
    window->OnClose();  // the worker has ended: nothing more comes
    EXPECT_TRUE(sdkdouble::CallsStartingWith("GLT_Display").empty());
}

TEST_F(AppTest, ClosingBeforeAnyConnectionReleasesOnlyWhatExists) {
    auto window = MakeMainWindow();
    window->show();
    window->close();
    EXPECT_EQ(window->StatusText(), "Disconnected..");
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
    EXPECT_EQ(window->DisplayPanel(), nullptr);
    EXPECT_EQ(window->Pipeline(), nullptr);
}

TEST_F(AppTest, ExitWhileStreamingAndRecordingTearsDownInOrder) {
    auto window = MakeMainWindow();
    sdkdouble::Current().realPlayResult = 2;
    ASSERT_TRUE(PressConnectOk(*window));
    Deliver(MakeFrame({}));
    QTest::mouseClick(kestrix::Control<QWidget>(window->DisplayPanel(), IDC_VIDEO_RECORD),
                      Qt::LeftButton);
    const std::string record = window->Pipeline()->RecordFileName();
    ASSERT_FALSE(record.empty());

    // At the logout the record file is still open: it closes after the stream and the login.
    bool openAtLogout = false;
    sdkdouble::SetCallObserver([&](const std::string& call) {
        if (call.rfind("TLNK_Logout", 0) == 0) {
            openAtLogout = !window->Pipeline()->RecordFileName().empty();
        }
    });
    sdkdouble::ClearCalls();
    window->show();
    window->OnMenuCommand(ID_CAMERA_EXIT);
    sdkdouble::SetCallObserver(nullptr);
    EXPECT_TRUE(openAtLogout);
    // Frames delivered before the stop may still be displayed; the rest is in order.
    Calls calls;
    for (const std::string& call : sdkdouble::Calls()) {
        if (call.rfind("GLT_UpdateFrameData", 0) != 0 && call.rfind("GLT_Display", 0) != 0) {
            calls.push_back(call);
        }
    }
    EXPECT_EQ(calls, (Calls{"TLNK_StopRealPlay(2)", "TLNK_Logout(0)", "GLT_DelSubPort(7,0)",
                            "GLT_DestroyHandle(7)"}));
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(window->Pipeline(), nullptr);
    EXPECT_EQ(window->DisplayPanel(), nullptr);
    EXPECT_TRUE(ReadBytes(QString::fromStdString(record)).startsWith(QByteArray()));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(record)));

    // A second close finds nothing left to release.
    sdkdouble::ClearCalls();
    window->close();
    EXPECT_TRUE(sdkdouble::Calls().empty());
}

TEST_F(AppTest, EnterAndEscapeReachingTheMainWindowRunTheTeardown) {
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        sdkdouble::Reset();
        auto window = MakeMainWindow();
        ASSERT_TRUE(PressConnectOk(*window));
        window->show();
        QWidget* tab = kestrix::Control<QWidget>(window.get(), IDC_TAB);
        QTest::keyClick(tab, static_cast<Qt::Key>(key));
        EXPECT_EQ(window->Pipeline(), nullptr) << key;
        EXPECT_EQ(sdkdouble::CallsStartingWith("GLT_DestroyHandle").size(), 1u) << key;
        EXPECT_EQ(sdkdouble::CallsStartingWith("TLNK_Logout").size(), 1u) << key;
    }
}

TEST_F(AppTest, SnapshotSeriesEndsWithTheNotice) {
    auto window = MakeMainWindow();
    ASSERT_TRUE(PressConnectOk(*window));
    window->StartSnapshots(1);
    const auto frame = MakeFrame({});
    for (int i = 0; i < 3; ++i) Deliver(frame);
    EXPECT_TRUE(WaitFor([&] { return m_messages == QStringList{"SnapShot finished..."}; }));
    EXPECT_EQ(window->Pipeline()->m_nSnapshotsWritten.load(), 1u);
}
