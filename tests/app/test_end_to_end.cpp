// Kestrix against the camera emulator with the real SDK and render library on an X display, leaving
// nothing open; with KX_SCREENSHOT_DIR set it also saves pictures of its windows there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "about_dlg.h"
#include "common/child_process.h"
#include "connect_dlg.h"
#include "display_dlg.h"
#include "kestrix_dlg.h"
#include "message_box.h"
#include "qt_helpers.h"
#include "set_cap_path_dlg.h"
#include "settings_files.h"

namespace {

// The entries of /proc/self/`folder`: threads by name, without Qt's pool threads, which come and go
// with its expiry timer; descriptors with their targets.
QStringList Entries(const char* folder) {
    const QString path = QStringLiteral("/proc/self/") + folder;
    const bool threads = std::string_view(folder) == "task";
    QStringList out;
    for (const QFileInfo& entry :
         QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        QFile comm(entry.filePath() + "/comm");
        const QString name = threads && comm.open(QIODevice::ReadOnly)
                                 ? QString::fromUtf8(comm.readAll().trimmed())
                                 : entry.fileName() + "->" + entry.symLinkTarget();
        if (!name.startsWith("Thread (pooled)")) out << name;
    }
    return out;
}

// A thermal picture (many grey levels) on the screen with a red box around its centre.
bool ShowsPictureWithCentreBox(QWidget* live) {
    const QImage image =
        live->screen()->grabWindow(live->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    QRect red;
    QSet<int> greys;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60) red |= QRect(x, y, 1, 1);
            if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) greys << qRed(p);
        }
    }
    const QPoint offset = red.center() - image.rect().center();
    return greys.size() > 32 && red.isValid() && red.width() < image.width() / 4 &&
           red.height() < image.height() / 4 && std::abs(offset.x()) < 4 &&
           std::abs(offset.y()) < 4;
}

void Save(const QPixmap& pixmap, const char* name) {
    const QString folder = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (!folder.isEmpty()) pixmap.save(folder + u'/' + QString::fromLatin1(name));
}

}  // namespace

TEST(EndToEnd, ConnectsShowsRecordsSnapshotsAndLeavesNothingOpen) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "needs an X display";
    QTemporaryDir dir;  // the program folder
    ASSERT_TRUE(dir.isValid());
    kestrix::SetProgramFolderForTesting(dir.path().toStdString());
    QStringList messages;
    kestrix::SetMessageBoxHandlerForTesting([&](const QString& text) { messages << text; });
    kx_test::EmulatorProcess emulator;
    ASSERT_TRUE(emulator.Start(KX_CAMSIM, {"--fps", "25"}));
    const auto connect = [&](CKestrixDlg& window) {
        CConnectDlg dialog(&window, &window);
        kestrix::SetControlText(&dialog, IDC_PORT, std::to_string(emulator.Port()));
        dialog.OnOK();
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << messages.join('|').toStdString();
        EXPECT_EQ(window.StatusText(), "127.0.0.1 is connecting");
    };

    // Qt starts some threads and connections of its own on first use (the session bus among them):
    // one round of the windows without a camera, the dialogs' pictures taken there, brings them up
    // before the counts are taken.
    {
        CKestrixDlg window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        ShowsPictureWithCentreBox(kestrix::Control(window.DisplayPanel(), IDC_LIVE_VIEW));
        CConnectDlg dialog(&window, &window);
        CSetCapPathDlg storage(&window, &window);
        CAboutDlg about(&window);
        for (QWidget* shown : QWidgetList{&dialog, &storage, &about}) shown->show();
        Save(dialog.grab(), "kestrix-connect.png");
        Save(storage.grab(), "kestrix-storage-path.png");
        Save(about.grab(), "kestrix-about.png");
        window.close();
    }
    QTest::qWait(200);
    const QStringList threadsBefore = Entries("task");
    const QStringList fdsBefore = Entries("fd");
    QString record;
    {
        CKestrixDlg window;
        window.SetStoragePath(dir.path().toStdString());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        connect(window);
        CDisplayDlg* panel = window.DisplayPanel();
        // Two seconds of text log, a line every 500 ms.
        kestrix::SetControlText(panel, IDC_CAPTURE_PERIOD, "500");
        Click(panel, IDC_VIDEO_RECORD);
        record = QString::fromStdString(window.Pipeline()->RecordFileName());
        ASSERT_FALSE(record.isEmpty());
        ASSERT_TRUE(WaitFor([&] { return !Text(panel, 1052).isEmpty(); }));
        // The live view: the thermal picture with the red centre box, drawn by the render library.
        EXPECT_TRUE(WaitFor(
            [&] { return ShowsPictureWithCentreBox(kestrix::Control(panel, IDC_LIVE_VIEW)); }));

        QTest::qWait(2000);
        Save(window.screen()->grabWindow(window.winId()), "kestrix-main-live.png");
        Click(panel, IDC_VIDEO_RECORD);
        EXPECT_EQ(Text(panel, IDC_VIDEO_RECORD), "No Record");

        // Three snapshots of the raw image, then the notice.
        kestrix::SetControlText(panel, IDC_SNAP_COUNT, "3");
        Click(panel, IDC_SNAP_CAP);
        ASSERT_TRUE(WaitFor([&] { return messages == QStringList{"SnapShot finished..."}; }));
        const QFileInfoList snapshots = QDir(dir.path()).entryInfoList({"snapshot_*.raw"});
        ASSERT_EQ(snapshots.size(), 3);
        EXPECT_EQ(snapshots.first().size(), 640 * 512 * 2);

        window.OnMenuCommand(ID_CAMERA_DISCONNECT);
        EXPECT_EQ(window.StatusText(), "Disconnected..");
        connect(window);  // a second cycle, ended by Exit
        window.OnMenuCommand(ID_CAMERA_EXIT);
        EXPECT_EQ(window.Pipeline(), nullptr);
    }
    QApplication::processEvents();

    // Worker, SDK and render threads have ended; sockets, X connections and files are closed.
    EXPECT_TRUE(WaitFor([&] { return Entries("task").size() == threadsBefore.size(); }))
        << threadsBefore.join(',').toStdString() << " / "
        << Entries("task").join(',').toStdString();
    EXPECT_EQ(Entries("fd").size(), fdsBefore.size())
        << fdsBefore.join(' ').toStdString() << " / " << Entries("fd").join(' ').toStdString();
    kestrix::SetMessageBoxHandlerForTesting(nullptr);
    // The text log: its header line and one line per period (give or take the edges).
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const qsizetype lines = file.readAll().count('\n');
    EXPECT_TRUE(lines >= 1 + 3 && lines <= 1 + 6) << lines;
}

// LeakSanitizer: the session bus connection that Qt's X11 platform opens keeps a buffer of
// libdbus's to the end of the process.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
