// The main window and its display panel: start-up, menu commands, the camera link's SDK calls and
// status line, frames from the SDK's thread to the panel, the focus press-and-hold, recording with
// its timer, snapshots, and the teardown.
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QTest>
#include <climits>
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

// A main window, shown, and its panel.
class PanelTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        m_window = MakeMainWindow();
        m_window->show();
        m_panel = m_window->DisplayPanel();
    }
    void TearDown() override {
        m_window.reset();
        AppTest::TearDown();
    }
    QWidget* Item(int id) { return kestrix::Control(m_panel, id); }
    void Click(int id) { ::Click(m_panel, id); }
    // Whether the face shows bitmap 137 to 140 of the resources.
    static bool Shows(QLabel* face, int bitmap) {
        return face->pixmap().toImage() ==
               QPixmap(QStringLiteral(":/kestrix/focus%1.png").arg(bitmap)).toImage();
    }

    std::unique_ptr<CKestrixDlg> m_window;
    CDisplayDlg* m_panel = nullptr;
};

}  // namespace

TEST_F(PanelTest, StartsDisconnectedWithItsDefaultsAndItsMenuItemsOpenTheirDialogs) {
    EXPECT_EQ(m_window->windowTitle(), "Brindlecap");
    ASSERT_NE(m_panel, nullptr);
    // The panel fills the tab control less 10 pixels at the sides and bottom and 30 at the top.
    const QWidget* tab = kestrix::Control(m_window.get(), IDC_TAB);
    EXPECT_EQ(m_panel->geometry(), tab->rect().adjusted(10, 30, -10, -10));
    // The dialog font's units are 6 x 13 pixels: x * 6 / 4 and y * 13 / 8, rounded: the live view
    // at (7, 7) sized 280 x 164.
    EXPECT_EQ(Item(IDC_LIVE_VIEW)->geometry(), QRect(11, 11, 420, 267));
    EXPECT_EQ(Item(IDC_VIDEO_RECORD)->geometry(), QRect(158, 379, 95, 23));

    EXPECT_EQ(Text(m_panel, IDC_SNAP_COUNT), "1");
    EXPECT_EQ(Text(m_panel, IDC_CAPTURE_PERIOD), "1000");
    EXPECT_TRUE(kestrix::Control<QAbstractButton>(m_panel, IDC_AGC_LINE)->isChecked());
    // The faces take the size of their bitmaps.
    EXPECT_EQ(m_panel->m_stFocusPlus->size(), QSize(97, 25));
    EXPECT_TRUE(Shows(m_panel->m_stFocusPlus, 139));
    EXPECT_TRUE(Shows(m_panel->m_stFocusMinus, 137));

    // The readouts draw the degree sign, for which the dialog face has a blank glyph.
    auto* readout = kestrix::Control<QLabel>(m_panel, 1052);
    readout->setText(QString::fromUtf8("℃"));
    const QImage image = readout->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
    }
    EXPECT_GT(dark, 4);

    // The options and the gain mode reach the pipeline.
    auto* pipeline = m_window->Pipeline();
    Click(IDC_HIGH_TO_LOW);
    Click(IDC_CENTER_AND_TEMP);
    EXPECT_FALSE(pipeline->m_bHighToLow.load() || pipeline->m_bCenterAndTemp.load());
    Click(IDC_HIGH_TO_LOW);
    EXPECT_TRUE(pipeline->m_bHighToLow.load());
    for (auto [id, mode] :
         {std::pair{IDC_AGC_HISTEQ, 2}, {IDC_AGC_SPECIAL, 3}, {IDC_AGC_LINE, 1}}) {
        Click(id);
        EXPECT_EQ(pipeline->AgcMode(), mode) << id;
    }
    for (int id : {32775, 32776, 32778, 32782, 32784, 32786}) {
        EXPECT_EQ(ModalTitle([&] { m_window->OnMenuCommand(id); }), "") << id;
    }
    EXPECT_EQ(ModalTitle([&] { m_window->OnSysCommand(0xF060 + 1); }), "");
    EXPECT_EQ(m_window->StatusText(), "Disconnect..");

    const struct {
        QWidget* menu;
        int id;
        const char* text;
        const char* opens;  // the title of the dialog it opens
    } items[] = {
        {m_window->MenuBar(), ID_CAMERA_CONNECT, "Connect", "Camera Connect"},
        {m_window->MenuBar(), ID_SETTING_RAWDATAPATH, "Raw Data Path", "设置原始数据存储路径"},
        {m_window->SystemMenu(), IDM_ABOUTBOX, "关于 Kestrix(&A)...", "关于 Kestrix"},
        {m_window->MenuBar(), ID_CAMERA_DISCONNECT, "Disconnect", ""},
        {m_window->MenuBar(), ID_CAMERA_EXIT, "Exit", nullptr},
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
    m_window->close();
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_Init()"});
    EXPECT_EQ(m_window->StatusText(), "Disconnected..");
    EXPECT_EQ(m_window->DisplayPanel(), nullptr);
    EXPECT_EQ(m_window->Pipeline(), nullptr);
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

TEST_F(PanelTest, HeldFocusFaceDrivesTheMotorUntilReleasedAndKeysCloseNothing) {
    const struct {
        QLabel* face;
        int up, down;
        std::string command;  // far 14, near 13
    } faces[] = {{m_panel->m_stFocusPlus, 139, 138, "14"},
                 {m_panel->m_stFocusMinus, 137, 140, "13"}};
    for (bool connected : {false, true}) {
        if (connected) {
            ASSERT_TRUE(PressConnectOk(*m_window));
            sdkdouble::ClearCalls();
            // Presses beside and between the faces hit neither.
            const QRect plus = faces[0].face->geometry(), minus = faces[1].face->geometry();
            for (QPoint p : {QPoint(plus.left() - 3, plus.center().y()),
                             QPoint(plus.center().x(), (plus.bottom() + minus.top()) / 2),
                             QPoint(minus.right() + 3, minus.bottom())}) {
                ASSERT_FALSE(plus.contains(p) || minus.contains(p));
                QTest::mousePress(m_panel, Qt::LeftButton, {}, p);
                QTest::mouseRelease(m_panel, Qt::LeftButton, {}, p);
            }
            EXPECT_TRUE(sdkdouble::Calls().empty());
            EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        }
        for (const auto& f : faces) {
            SCOPED_TRACE(f.command + (connected ? " connected" : " disconnected"));
            sdkdouble::ClearCalls();
            const std::string call = "TLNK_PTZControl_Other(0,1," + f.command;
            QTest::mousePress(f.face, Qt::LeftButton, {}, QPoint(40, 12));
            EXPECT_EQ(sdkdouble::Calls(), connected ? Calls{call + ",0)"} : Calls{});
            EXPECT_EQ(QWidget::mouseGrabber(), m_panel);
            EXPECT_TRUE(Shows(f.face, f.down));
            // Dragged off the face and released over the live view.
            QTest::mouseRelease(Item(IDC_LIVE_VIEW), Qt::LeftButton, {}, QPoint(5, 5));
            EXPECT_EQ(sdkdouble::Calls(),
                      connected ? (Calls{call + ",0)", call + ",1)"}) : Calls{});
            EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
            EXPECT_TRUE(Shows(f.face, f.up));
        }
    }
    // Enter and Escape on the page close nothing and press nothing.
    sdkdouble::ClearCalls();
    for (QWidget* target :
         {static_cast<QWidget*>(m_panel), Item(IDC_CAPTURE_PERIOD), Item(IDC_SNAP_CAP)}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(target, key);
    }
    ASSERT_TRUE(m_window->isVisible() && m_panel->isVisible());
    EXPECT_FALSE(m_window->Pipeline()->SnapshotsPending());
    EXPECT_TRUE(sdkdouble::Calls().empty());

    // A face still held stops before the logout and before a notice.
    QTest::mousePress(m_panel->m_stFocusPlus, Qt::LeftButton, {}, QPoint(10, 10));
    sdkdouble::ClearCalls();
    m_window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(sdkdouble::Calls(),
              (Calls{"TLNK_PTZControl_Other(0,1,14,1)", "TLNK_StopRealPlay(0)", "TLNK_Logout(0)"}));
    EXPECT_TRUE(Shows(m_panel->m_stFocusPlus, 139));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    ASSERT_TRUE(PressConnectOk(*m_window));
    QTest::mousePress(m_panel->m_stFocusMinus, Qt::LeftButton, {}, QPoint(10, 10));
    sdkdouble::ClearCalls();
    m_window->ShowNotice("SnapShot finished...");
    EXPECT_TRUE(WaitFor([&] { return m_messages == QStringList{"SnapShot finished..."}; }));
    EXPECT_EQ(sdkdouble::Calls(), Calls{"TLNK_PTZControl_Other(0,1,13,1)"});
    QTest::mouseRelease(m_panel, Qt::LeftButton, {}, QPoint(1, 1));  // sends nothing more
    EXPECT_EQ(sdkdouble::Calls().size(), 1u);
}

TEST_F(PanelTest, RecordButtonFollowsTheConnectionAndTheRecordFileAndTimesTheRecords) {
    // The caption, the timer, the period field and the record file agree.
    const auto expectState = [&](const char* caption, bool timer, bool recording) {
        EXPECT_EQ(Text(m_panel, IDC_VIDEO_RECORD), caption);
        EXPECT_EQ(m_panel->RecordTimer().isActive(), timer);
        EXPECT_EQ(Item(IDC_CAPTURE_PERIOD)->isEnabled(), !timer);
        EXPECT_EQ(m_window->GetRecording(), recording);
        EXPECT_EQ(m_window->Pipeline()->RecordFileName().empty(), !recording);
    };
    Click(IDC_VIDEO_RECORD);  // disconnected: nothing happens
    Click(IDC_SNAP_CAP);
    expectState("Video Record", false, false);
    EXPECT_FALSE(m_window->Pipeline()->SnapshotsPending());

    ASSERT_TRUE(PressConnectOk(*m_window));
    kestrix::SetControlText(m_panel, IDC_SNAP_COUNT, "-2");  // handed on unchanged
    Click(IDC_SNAP_CAP);
    EXPECT_TRUE(m_window->Pipeline()->SnapshotsPending());
    EXPECT_EQ(m_window->Pipeline()->SnapshotsLeft(), -2);
    const QString missing = m_dir.path() + "/missing";
    m_window->SetStoragePath(missing.toStdString());
    Click(IDC_VIDEO_RECORD);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith("Video Record is failed... " + missing + "/Record_") &&
                m_messages[0].endsWith(" : No such file or directory"))
        << m_messages[0].toStdString();
    expectState("Video Record", false, false);

    m_window->SetStoragePath(m_dir.path().toStdString());
    Click(IDC_VIDEO_RECORD);
    expectState("Recording", true, true);
    const QString file = QString::fromStdString(m_window->Pipeline()->RecordFileName());
    EXPECT_TRUE(file.startsWith(m_dir.path() + "/Record_") && file.endsWith(".txt"))
        << file.toStdString();
    Click(IDC_VIDEO_RECORD);
    expectState("No Record", false, false);
    EXPECT_TRUE(QFile::exists(file));

    // Disconnect ends the recording but leaves the timer running; connected again, the button
    // starts a new recording.
    Click(IDC_VIDEO_RECORD);
    m_window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    expectState("No Record", true, false);
    ASSERT_TRUE(PressConnectOk(*m_window));
    Click(IDC_VIDEO_RECORD);
    expectState("Recording", true, true);
    Click(IDC_VIDEO_RECORD);

    // The period field sets the timer; a tick marks one record due.
    const struct {
        const char* text;
        int interval;
    } cases[] = {{"250", 250}, {"10", 10}, {"3", 10}, {"0", 10}, {"-5", INT_MAX}};
    for (const auto& c : cases) {
        kestrix::SetControlText(m_panel, IDC_CAPTURE_PERIOD, c.text);
        Click(IDC_VIDEO_RECORD);
        EXPECT_EQ(m_panel->RecordTimer().interval(), c.interval) << c.text;
        Click(IDC_VIDEO_RECORD);
    }
    kestrix::SetControlText(m_panel, IDC_CAPTURE_PERIOD, "20");
    Click(IDC_VIDEO_RECORD);
    m_window->Pipeline()->m_bWritePending.store(false);
    EXPECT_TRUE(WaitFor([&] { return m_window->Pipeline()->m_bWritePending.load(); }));
}
