// Kestrix against the camera emulator with the real SDK and render library on an X display:
// connect, watch the live picture and its readouts, record, take snapshots, disconnect and exit,
// leaving no thread, descriptor or file open. With KX_SCREENSHOT_DIR set it also saves pictures of
// the main window live and of each dialog there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <optional>

#include "about_dlg.h"
#include "connect_dlg.h"
#include "dialog_layout.h"
#include "display_dlg.h"
#include "frame_format.h"
#include "kestrix_dlg.h"
#include "message_box.h"
#include "set_cap_path_dlg.h"
#include "settings_files.h"
#include "wait_for.h"

namespace {

bool HaveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

// Threads of Qt's own pool come and go with its expiry timer; they are not counted.
int CountThreads() {
    int n = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        n += !(comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Thread (pooled)"));
    }
    return n;
}

QStringList Descriptors() {
    QStringList out;
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd"))
             .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        out << fd.fileName() + "->" + fd.symLinkTarget();
    }
    return out;
}

int CountEntries(const char* folder) {
    return static_cast<int>(QDir(QString::fromLatin1(folder))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

// The emulator on a free loopback port, ended (by its PID) with the object. Started with
// posix_spawn, which also serves under ThreadSanitizer, where forking a threaded process is not.
class Emulator {
  public:
    bool Start() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        m_log = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        char program[] = KX_CAMSIM;
        char a1[] = "--address", a2[] = "127.0.0.1", a3[] = "--port", a4[] = "0", a5[] = "--fps",
             a6[] = "25";
        char* argv[] = {program, a1, a2, a3, a4, a5, a6, nullptr};
        const int spawned = posix_spawn(&m_pid, program, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0) {
            m_pid = -1;
            return false;
        }
        // The emulator names its port in its first log line.
        static const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:(\\d+)"));
        QByteArray log;
        for (int i = 0; i < 50 && m_port == 0; ++i) {
            pollfd p{m_log, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(m_log, buffer, sizeof buffer);
            if (n <= 0) break;
            log.append(buffer, n);
            const auto match = listening.match(QString::fromUtf8(log));
            if (match.hasMatch()) m_port = match.captured(1).toInt();
        }
        return m_port > 0;
    }
    ~Emulator() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) usleep(50000);
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        if (m_log >= 0) close(m_log);
    }
    int Port() const { return m_port; }
    // The camera dies at once, its connections with it.
    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    pid_t m_pid = -1;
    int m_log = -1;  // the emulator's standard error, kept open so that its log lines never fail
    int m_port = 0;
};

// The live view as it is on the screen, child windows included.
QImage GrabLiveView(CKestrixDlg& window) {
    QWidget* live = kestrix::Control<QWidget>(window.DisplayPanel(), IDC_LIVE_VIEW);
    return live->screen()
        ->grabWindow(live->winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

bool IsRed(QRgb p) {
    return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

// A thermal picture (many grey levels) with a red box around its centre.
bool ShowsPictureWithCentreBox(const QImage& image) {
    if (image.isNull()) return false;
    QRect red;
    int grays[256] = {};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (IsRed(p)) red |= QRect(x, y, 1, 1);
            if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) ++grays[qRed(p)];
        }
    }
    int levels = 0;
    for (int n : grays) levels += n > 0;
    const QPoint centre = image.rect().center();
    return levels > 32 && red.isValid() && red.contains(centre) &&
           red.width() < image.width() / 4 && red.height() < image.height() / 4 &&
           std::abs(red.center().x() - centre.x()) < 4 &&
           std::abs(red.center().y() - centre.y()) < 4;
}

void Save(const QPixmap& pixmap, const char* name) {
    const QString folder = qEnvironmentVariable("KX_SCREENSHOT_DIR");
    if (!folder.isEmpty()) pixmap.save(folder + u'/' + QString::fromLatin1(name));
}

QString ThreadNames() {
    QStringList names;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly)) names << QString::fromUtf8(comm.readAll().trimmed());
    }
    return names.join(u',');
}

QString Readout(CKestrixDlg& window, int id) {
    return kestrix::Control<QLabel>(window.DisplayPanel(), id)->text();
}

// A program folder of its own, the message boxes caught in `messages` and an emulator running.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "needs an X display";
        ASSERT_TRUE(dir.isValid());
        kestrix::SetProgramFolderForTesting(dir.path().toStdString());
        kestrix::SetMessageBoxHandlerForTesting([this](const QString& text) { messages << text; });
        ASSERT_TRUE(emulator.Start());
    }
    void TearDown() override {
        kestrix::SetMessageBoxHandlerForTesting(nullptr);
        kestrix::SetProgramFolderForTesting({});
    }

    QTemporaryDir dir;
    QStringList messages;
    Emulator emulator;
};

}  // namespace

TEST_F(EndToEnd, ConnectsShowsRecordsSnapshotsAndLeavesNothingOpen) {
    // Qt starts some threads and connections of its own on first use (the session bus among them):
    // one round of the windows without a camera brings them up before the counts are taken.
    {
        CKestrixDlg window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        (void)GrabLiveView(window);
        CConnectDlg connect(&window, &window);
        connect.show();
        (void)connect.grab();
        CSetCapPathDlg storage(&window, &window);
        storage.show();
        (void)storage.grab();
        window.close();
    }
    QTest::qWait(200);
    const int threadsBefore = CountThreads();
    const QString threadNamesBefore = ThreadNames();
    const int descriptorsBefore = CountEntries("/proc/self/fd");
    const QStringList fdsBefore = Descriptors();
    QString record;
    {
        CKestrixDlg window;
        window.SetStoragePath(dir.path().toStdString());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

        CConnectDlg connect(&window, &window);
        connect.show();
        Save(connect.grab(), "kestrix-connect.png");
        kestrix::Control<QLineEdit>(&connect, IDC_PORT)->setText(QString::number(emulator.Port()));
        connect.OnOK();
        ASSERT_EQ(connect.result(), QDialog::Accepted) << messages.join('|').toStdString();
        EXPECT_EQ(window.StatusText(), "127.0.0.1 is connecting");

        // The readouts show the emulator's parameter row.
        ASSERT_TRUE(WaitFor([&] { return !Readout(window, 1052).isEmpty(); }, 10000));
        static const QRegularExpression temperature(QString::fromUtf8("^-?\\d+\\.\\d\\d℃$"));
        for (int id : {1052, 1054, 1056}) {
            EXPECT_TRUE(temperature.match(Readout(window, id)).hasMatch()) << id;
        }
        EXPECT_TRUE(
            QRegularExpression("^-?\\d+\\.\\d\\d$").match(Readout(window, 1058)).hasMatch());
        for (int id : {1053, 1055, 1057}) {
            EXPECT_TRUE(QRegularExpression("^-?\\d+$").match(Readout(window, id)).hasMatch()) << id;
        }

        // The live view: the thermal picture with the red centre box, drawn by the render library.
        EXPECT_TRUE(
            WaitFor([&] { return ShowsPictureWithCentreBox(GrabLiveView(window)); }, 10000));

        // Two seconds of text log, one line every 500 ms.
        CDisplayDlg* panel = window.DisplayPanel();
        kestrix::Control<QLineEdit>(panel, IDC_CAPTURE_PERIOD)->setText("500");
        kestrix::Control<QPushButton>(panel, IDC_VIDEO_RECORD)->click();
        record = QString::fromStdString(window.Pipeline()->RecordFileName());
        ASSERT_FALSE(record.isEmpty());
        QTest::qWait(2000);
        Save(window.screen()->grabWindow(window.winId()), "kestrix-main-live.png");
        kestrix::Control<QPushButton>(panel, IDC_VIDEO_RECORD)->click();
        EXPECT_EQ(kestrix::Control<QPushButton>(panel, IDC_VIDEO_RECORD)->text(), "No Record");

        // Three snapshots, then the notice.
        kestrix::Control<QLineEdit>(panel, IDC_SNAP_COUNT)->setText("3");
        kestrix::Control<QPushButton>(panel, IDC_SNAP_CAP)->click();
        ASSERT_TRUE(
            WaitFor([&] { return messages == QStringList{"SnapShot finished..."}; }, 10000));

        // The snapshots hold the raw images whose parameter rows the readouts show.
        const QStringList snapshots =
            QDir(dir.path()).entryList({"snapshot_*.raw"}, QDir::Files, QDir::Name);
        ASSERT_EQ(snapshots.size(), 3);
        QFile first(dir.path() + u'/' + snapshots.first());
        ASSERT_TRUE(first.open(QIODevice::ReadOnly));
        const QByteArray image = first.readAll();
        EXPECT_EQ(image.size(), 640 * 512 * 2);
        const auto params = kestrix::ReadDeviceParams(
            reinterpret_cast<const uint8_t*>(image.constData()), 640, 512);
        ASSERT_TRUE(params.has_value());
        const double shown = Readout(window, 1052).chopped(1).toDouble();
        EXPECT_NEAR(shown, kestrix::DecodeTemperature(params->focalPlaneTemp), 1.0);

        {
            CSetCapPathDlg storage(&window, &window);
            storage.show();
            Save(storage.grab(), "kestrix-storage-path.png");
            CAboutDlg about(&window);
            about.show();
            Save(about.grab(), "kestrix-about.png");
        }

        window.OnMenuCommand(ID_CAMERA_DISCONNECT);
        EXPECT_EQ(window.StatusText(), "Disconnected..");
        window.OnMenuCommand(ID_CAMERA_EXIT);
        EXPECT_EQ(window.Pipeline(), nullptr);
    }
    QApplication::processEvents();

    // The text log: its header line and one line per period (give or take the edges).
    int lines = 0;
    {
        QFile log(record);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        lines = static_cast<int>(log.readAll().count('\n'));
    }
    EXPECT_GE(lines, 1 + 3);
    EXPECT_LE(lines, 1 + 6);

    // Worker, SDK and render threads have ended; sockets, X connections and files are closed.
    EXPECT_TRUE(WaitFor([&] { return CountThreads() == threadsBefore; }))
        << threadNamesBefore.toStdString() << " / " << ThreadNames().toStdString();
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptorsBefore)
        << fdsBefore.join(' ').toStdString() << " / " << Descriptors().join(' ').toStdString();
}

TEST_F(EndToEnd, ACameraThatDiesWhileRecordingIsSeenAndTheRecordIsClosed) {
    {
        CKestrixDlg window;
        window.SetStoragePath(dir.path().toStdString());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        CConnectDlg connect(&window, &window);
        kestrix::Control<QLineEdit>(&connect, IDC_PORT)->setText(QString::number(emulator.Port()));
        connect.OnOK();
        ASSERT_EQ(connect.result(), QDialog::Accepted) << messages.join('|').toStdString();

        CDisplayDlg* panel = window.DisplayPanel();
        kestrix::Control<QLineEdit>(panel, IDC_CAPTURE_PERIOD)->setText("100");
        kestrix::Control<QPushButton>(panel, IDC_VIDEO_RECORD)->click();
        const QString record = QString::fromStdString(window.Pipeline()->RecordFileName());
        ASSERT_FALSE(record.isEmpty());
        const auto lines = [&] {
            QFile log(record);
            return log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : -1;
        };
        ASSERT_TRUE(WaitFor([&] { return lines() >= 1 + 3; }, 10000));

        emulator.Kill();
        ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }, 10000));
        QTest::qWait(200);  // a second notice would come now
        EXPECT_EQ(messages, QStringList{"Camera connection is lost.."});
        EXPECT_EQ(window.StatusText(), "Disconnected..");
        EXPECT_EQ(kestrix::Control<QPushButton>(panel, IDC_VIDEO_RECORD)->text(), "No Record");
        EXPECT_TRUE(window.Pipeline()->RecordFileName().empty());
        // Closed, and whole: the header and complete lines only.
        const QString target = QFileInfo(record).canonicalFilePath();
        EXPECT_FALSE(Descriptors().join(' ').contains(target)) << target.toStdString();
        QFile log(record);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        EXPECT_TRUE(text.endsWith("\r\n"));
        EXPECT_GE(text.count('\n'), 1 + 3);
        window.OnMenuCommand(ID_CAMERA_EXIT);
    }
    QApplication::processEvents();
}

// LeakSanitizer: the session bus connection that Qt's X11 platform opens keeps a buffer of
// libdbus's to the end of the process.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", HaveDisplay() ? "xcb" : "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
