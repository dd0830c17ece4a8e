// The display panel: its template, the focus press-and-hold, Enter and Escape, recording with its
// timer, snapshots and the options it hands to the pipeline.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <limits>

#include "app_fixture.h"
#include "dialog_layout.h"
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
    template <typename T = QWidget>
    T* Item(int id) {
        return kestrix::Control<T>(m_panel, id);
    }
    QString RecordCaption() { return Item<QPushButton>(IDC_VIDEO_RECORD)->text(); }
    static bool Shows(QLabel* face, const QPixmap& pixmap) {
        return face->pixmap().toImage() == pixmap.toImage();
    }
    std::vector<std::string> FocusCalls() {
        return sdkdouble::CallsStartingWith("TLNK_PTZControl_Other");
    }

    std::unique_ptr<CKestrixDlg> m_window;
    CDisplayDlg* m_panel = nullptr;
};

}  // namespace

TEST_F(PanelTest, DialogUnitsOfTheDialogFontAreSixByThirteen) {
    const kestrix::DialogUnits units(kestrix::DialogFont(8));
    EXPECT_EQ(units.BaseX(), 6);
    EXPECT_EQ(units.BaseY(), 13);
    // x * 6 / 4 and y * 13 / 8, rounded: the live view at (7, 7) sized 280 x 164.
    EXPECT_EQ(Item(IDC_LIVE_VIEW)->geometry(), QRect(11, 11, 420, 267));
    EXPECT_EQ(Item(IDC_VIDEO_RECORD)->geometry(), QRect(158, 379, 95, 23));
}

TEST_F(PanelTest, StartsWithItsDefaults) {
    EXPECT_EQ(Item<QLineEdit>(IDC_SNAP_COUNT)->text(), "1");
    EXPECT_EQ(Item<QLineEdit>(IDC_CAPTURE_PERIOD)->text(), "1000");
    EXPECT_TRUE(Item<QCheckBox>(IDC_HIGH_TO_LOW)->isChecked());
    EXPECT_TRUE(Item<QCheckBox>(IDC_CENTER_AND_TEMP)->isChecked());
    EXPECT_TRUE(Item<QRadioButton>(IDC_AGC_LINE)->isChecked());
    EXPECT_EQ(RecordCaption(), "Video Record");
    for (int id : kestrix::kReadoutControlIds) EXPECT_EQ(Item<QLabel>(id)->text(), "") << id;
    EXPECT_EQ(Item<QLabel>(1059)->text(), QString::fromUtf8("焦平面"));
    // The faces take the size of their bitmaps.
    EXPECT_EQ(m_panel->m_stFocusPlus->size(), QSize(97, 25));
    EXPECT_EQ(m_panel->m_bmpFocusMinusDown.size(), QSize(97, 25));
    EXPECT_TRUE(Shows(m_panel->m_stFocusPlus, m_panel->m_bmpFocusPlus));
    EXPECT_TRUE(Shows(m_panel->m_stFocusMinus, m_panel->m_bmpFocusMinus));
}

TEST_F(PanelTest, ReadoutsDrawTheDegreeSign) {
    auto* readout = Item<QLabel>(1052);
    readout->setText(QString::fromUtf8("℃"));
    const QImage image = readout->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
    }
    EXPECT_GT(dark, 4);
}

TEST_F(PanelTest, HoldingAFocusFaceDrivesTheMotorUntilReleasedAnywhere) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    const struct {
        int face;
        std::string start, stop;
    } cases[] = {
        {IDC_FOCUS_PLUS, "TLNK_PTZControl_Other(0,1,14,0)", "TLNK_PTZControl_Other(0,1,14,1)"},
        {IDC_FOCUS_MINUS, "TLNK_PTZControl_Other(0,1,13,0)", "TLNK_PTZControl_Other(0,1,13,1)"},
    };
    for (const auto& c : cases) {
        sdkdouble::ClearCalls();
        auto* face = Item<QLabel>(c.face);
        const bool plus = c.face == IDC_FOCUS_PLUS;
        QTest::mousePress(face, Qt::LeftButton, {}, QPoint(40, 12));
        EXPECT_EQ(FocusCalls(), std::vector<std::string>{c.start});
        EXPECT_EQ(QWidget::mouseGrabber(), m_panel);
        EXPECT_TRUE(Shows(face, plus ? m_panel->m_bmpFocusPlusDown : m_panel->m_bmpFocusMinusDown));
        // Dragged off the face and released over the live view.
        QTest::mouseRelease(Item(IDC_LIVE_VIEW), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(FocusCalls(), (std::vector<std::string>{c.start, c.stop}));
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        EXPECT_TRUE(Shows(face, plus ? m_panel->m_bmpFocusPlus : m_panel->m_bmpFocusMinus));
        EXPECT_FALSE(m_panel->m_bFocusPlusDown || m_panel->m_bFocusMinusDown);
    }
}

TEST_F(PanelTest, HeldFocusStopsBeforeTheLogoutAndBeforeANotice) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    QTest::mousePress(m_panel->m_stFocusPlus, Qt::LeftButton, {}, QPoint(10, 10));
    sdkdouble::ClearCalls();
    m_window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(sdkdouble::Calls(),
              (std::vector<std::string>{"TLNK_PTZControl_Other(0,1,14,1)", "TLNK_StopRealPlay(0)",
                                        "TLNK_Logout(0)"}));
    EXPECT_TRUE(Shows(m_panel->m_stFocusPlus, m_panel->m_bmpFocusPlus));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    ASSERT_TRUE(PressConnectOk(*m_window));
    QTest::mousePress(m_panel->m_stFocusMinus, Qt::LeftButton, {}, QPoint(10, 10));
    sdkdouble::ClearCalls();
    m_window->ShowNotice("SnapShot finished...");
    EXPECT_TRUE(WaitFor([&] { return m_messages == QStringList{"SnapShot finished..."}; }));
    EXPECT_EQ(FocusCalls(), std::vector<std::string>{"TLNK_PTZControl_Other(0,1,13,1)"});
    // The release that follows sends nothing more.
    QTest::mouseRelease(m_panel, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(FocusCalls().size(), 1u);
}

TEST_F(PanelTest, PressOutsideBothFacesSendsNothing) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    sdkdouble::ClearCalls();
    const QRect plus = m_panel->m_stFocusPlus->geometry();
    const QRect minus = m_panel->m_stFocusMinus->geometry();
    for (QPoint p : {QPoint(plus.left() - 3, plus.center().y()),
                     QPoint(plus.center().x(), (plus.bottom() + minus.top()) / 2 + 0),
                     QPoint(minus.right() + 3, minus.bottom())}) {
        if (plus.contains(p) || minus.contains(p)) continue;
        QTest::mousePress(m_panel, Qt::LeftButton, {}, p);
        QTest::mouseRelease(m_panel, Qt::LeftButton, {}, p);
    }
    EXPECT_TRUE(FocusCalls().empty());
    EXPECT_FALSE(m_panel->m_bFocusPlusDown || m_panel->m_bFocusMinusDown);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(PanelTest, FocusWhileDisconnectedMovesTheFaceButSendsNothing) {
    QTest::mousePress(m_panel->m_stFocusMinus, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(Shows(m_panel->m_stFocusMinus, m_panel->m_bmpFocusMinusDown));
    QTest::mouseRelease(m_panel, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_TRUE(Shows(m_panel->m_stFocusMinus, m_panel->m_bmpFocusMinus));
    EXPECT_TRUE(FocusCalls().empty());
}

TEST_F(PanelTest, EnterAndEscapeOnThePageCloseNothing) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    sdkdouble::ClearCalls();
    for (QWidget* target :
         {static_cast<QWidget*>(m_panel), Item(IDC_CAPTURE_PERIOD), Item(IDC_SNAP_CAP)}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(target, key);
        }
    }
    EXPECT_TRUE(m_panel->isVisible());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_NE(m_window->Pipeline(), nullptr);
    EXPECT_EQ(m_window->Pipeline()->SnapshotsPending(), false);  // SnapCap not pressed
    EXPECT_TRUE(sdkdouble::Calls().empty());
}

TEST_F(PanelTest, RecordAndSnapshotClicksWhileDisconnectedDoNothing) {
    auto* pipeline = m_window->Pipeline();
    Item<QPushButton>(IDC_VIDEO_RECORD)->click();
    Item<QPushButton>(IDC_SNAP_CAP)->click();
    EXPECT_EQ(RecordCaption(), "Video Record");
    EXPECT_FALSE(m_panel->RecordTimer().isActive());
    EXPECT_TRUE(Item(IDC_CAPTURE_PERIOD)->isEnabled());
    EXPECT_FALSE(pipeline->m_bRecording.load());
    EXPECT_FALSE(pipeline->SnapshotsPending());
    EXPECT_TRUE(pipeline->RecordFileName().empty());
}

TEST_F(PanelTest, RecordButtonTogglesRecordingTimerAndCaption) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    auto* pipeline = m_window->Pipeline();
    auto* record = Item<QPushButton>(IDC_VIDEO_RECORD);
    record->click();
    EXPECT_EQ(RecordCaption(), "Recording");
    EXPECT_TRUE(m_panel->RecordTimer().isActive());
    EXPECT_EQ(m_panel->RecordTimer().interval(), 1000);
    EXPECT_FALSE(Item(IDC_CAPTURE_PERIOD)->isEnabled());
    const QString file = QString::fromStdString(pipeline->RecordFileName());
    EXPECT_TRUE(file.startsWith(m_dir.path() + "/Record_")) << file.toStdString();
    EXPECT_TRUE(file.endsWith(".txt"));

    record->click();
    EXPECT_EQ(RecordCaption(), "No Record");
    EXPECT_FALSE(m_panel->RecordTimer().isActive());
    EXPECT_TRUE(Item(IDC_CAPTURE_PERIOD)->isEnabled());
    EXPECT_TRUE(pipeline->RecordFileName().empty());
    EXPECT_TRUE(QFile::exists(file));
}

TEST_F(PanelTest, RecordFileThatCannotBeCreatedIsNamedAndNoRecordingStarts) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    const std::string missing = m_dir.path().toStdString() + "/missing";
    m_window->SetStoragePath(missing);
    const QString caption = RecordCaption();
    Item<QPushButton>(IDC_VIDEO_RECORD)->click();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith(
        QString::fromStdString("Video Record is failed... " + missing + "/Record_")))
        << m_messages[0].toStdString();
    EXPECT_TRUE(m_messages[0].endsWith(" : No such file or directory"))
        << m_messages[0].toStdString();
    EXPECT_EQ(RecordCaption(), caption);
    EXPECT_FALSE(m_window->GetRecording());
    EXPECT_FALSE(m_panel->RecordTimer().isActive());
    EXPECT_TRUE(Item(IDC_CAPTURE_PERIOD)->isEnabled());
}

TEST_F(PanelTest, CapturePeriodTextSetsTheTimer) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    const struct {
        const char* text;
        int interval;
    } cases[] = {{"250", 250}, {"10", 10}, {"0", 10},
                 {"abc", 10},  {"3", 10},  {"-5", std::numeric_limits<int>::max()}};
    auto* record = Item<QPushButton>(IDC_VIDEO_RECORD);
    for (const auto& c : cases) {
        Item<QLineEdit>(IDC_CAPTURE_PERIOD)->setText(c.text);
        record->click();
        EXPECT_EQ(m_panel->RecordTimer().interval(), c.interval) << c.text;
        record->click();
    }
}

TEST_F(PanelTest, TimerTickMarksOneRecordDue) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    auto* pipeline = m_window->Pipeline();
    Item<QLineEdit>(IDC_CAPTURE_PERIOD)->setText("20");
    Item<QPushButton>(IDC_VIDEO_RECORD)->click();
    pipeline->m_bWritePending.store(false);
    EXPECT_TRUE(WaitFor([&] { return pipeline->m_bWritePending.load(); }));
}

TEST_F(PanelTest, DisconnectEndsTheRecordingButLeavesTheTimerRunning) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    Item<QPushButton>(IDC_VIDEO_RECORD)->click();
    m_window->OnMenuCommand(ID_CAMERA_DISCONNECT);
    EXPECT_EQ(RecordCaption(), "No Record");
    EXPECT_TRUE(m_window->Pipeline()->RecordFileName().empty());
    EXPECT_TRUE(m_panel->RecordTimer().isActive());
    EXPECT_FALSE(Item(IDC_CAPTURE_PERIOD)->isEnabled());

    // Connected again, the button starts a new recording with the period then in the field.
    ASSERT_TRUE(PressConnectOk(*m_window));
    Item<QPushButton>(IDC_VIDEO_RECORD)->click();
    EXPECT_EQ(RecordCaption(), "Recording");
    EXPECT_FALSE(m_window->Pipeline()->RecordFileName().empty());
}

TEST_F(PanelTest, SnapshotCountIsHandedOnUnchanged) {
    ASSERT_TRUE(PressConnectOk(*m_window));
    auto* pipeline = m_window->Pipeline();
    for (const char* count : {"3", "0", "-2", "x"}) {
        Item<QLineEdit>(IDC_SNAP_COUNT)->setText(count);
        Item<QPushButton>(IDC_SNAP_CAP)->click();
        EXPECT_TRUE(pipeline->SnapshotsPending()) << count;
        EXPECT_EQ(pipeline->SnapshotsLeft(), kestrix::ParseDialogInt(count)) << count;
    }
}

TEST_F(PanelTest, OptionsAndGainModeReachThePipeline) {
    auto* pipeline = m_window->Pipeline();
    Item<QCheckBox>(IDC_HIGH_TO_LOW)->click();
    Item<QCheckBox>(IDC_CENTER_AND_TEMP)->click();
    EXPECT_FALSE(pipeline->m_bHighToLow.load());
    EXPECT_FALSE(pipeline->m_bCenterAndTemp.load());
    EXPECT_FALSE(m_panel->m_bHighToLow);
    Item<QCheckBox>(IDC_HIGH_TO_LOW)->click();
    EXPECT_TRUE(pipeline->m_bHighToLow.load());
    const struct {
        int id, mode;
    } modes[] = {{IDC_AGC_HISTEQ, 2}, {IDC_AGC_SPECIAL, 3}, {IDC_AGC_LINE, 1}};
    for (const auto& m : modes) {
        Item<QRadioButton>(m.id)->click();
        EXPECT_EQ(pipeline->AgcMode(), m.mode) << m.id;
    }
}
