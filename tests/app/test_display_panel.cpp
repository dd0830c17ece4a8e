// The display panel: its template, the focus press-and-hold, Enter and Escape, recording with its
// timer, snapshots and the options it hands to the pipeline.
#include <QLabel>
#include <QTest>
#include <climits>

#include "app_fixture.h"
#include "display_dlg.h"

namespace {

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

TEST_F(PanelTest, StartsWithItsDefaultsDrawsTheDegreeSignAndHandsOnItsOptions) {
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
    EXPECT_EQ(Text(m_panel, IDC_VIDEO_RECORD), "No Record");
    EXPECT_TRUE(m_panel->RecordTimer().isActive());
    EXPECT_TRUE(m_window->Pipeline()->RecordFileName().empty());
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
