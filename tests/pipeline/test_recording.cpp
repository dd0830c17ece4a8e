// The record files and snapshots that the worker writes, and the gain control's conversion of each
// frame.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "agc/agc_harness.h"
#include "pipeline_rig.h"
#include "recorder.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// A text record's first line: the 118 bytes of the column names in code page 936.
const std::string kHeader =
    "\xBD\xB9\xC6\xBD\xC3\xE6\xCE\xC2\xB6\xC8\t\xBF\xD5\xC7\xBB\xCE\xC2\xB6\xC8\tPCB"
    "\xCE\xC2\xB6\xC8\t\tVITEC\t\tEOCC\t\tTEC\xB5\xB5\xCE\xBB\t\t\xB6\xB3\xBD\xE1\xD6\xA1\t"
    "\tTEC\xBD\xA5\xB1\xE4\xD6\xA1\t\xD0\xD0\t\t\xC1\xD0\t\t\xBB\xFD\xB7\xD6\xCA\xB1\xBC"
    "\xE4\tB\xD6\xB5\t\t\xD4\xA4\xC1\xF4\t\t\xCF\xEC\xD3\xA6\xC2\xCA\xB5\xB5\xCE\xBB\t"
    "\xD6\xD0\xD0\xC4\xBB\xD2\xB6\xC8\r\n";

// A data line has fifteen numbers and twenty-eight tabs; the centre value is truncated towards zero
// (24 pixels of -1 and one of -2 give -1), and what the image is too small for reads as 0.
TEST(Recorder, DataLinesAndFileNames) {
    const auto line = [](int32_t width, int32_t height) {
        std::vector<uint16_t> image(size_t(width) * height, 0xFFFF);
        image[(height / 2 - 2) * width + width / 2 - 2] = 0xFFFE;
        if (width >= 14) std::copy(kWords.begin(), kWords.end(), &image[(height - 2) * width]);
        char text[kMaxTextRecordLine];
        const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
        return std::string(text, FormatTextRecord(bytes, width, height, text));
    };
    const std::string words =
        "1\t\t2\t\t3\t\t4\t\t5\t\t6\t\t7\t\t8\t\t9\t\t10\t\t11\t\t65535\t\t13\t\t14\t\t";
    std::string zeros;
    for (int i = 0; i < 14; ++i) zeros += "0\t\t";
    EXPECT_EQ(line(16, 12), words + "-1\r\n");
    EXPECT_EQ(line(14, 4), words + "0\r\n");
    EXPECT_EQ(line(13, 5), zeros + "-1\r\n");
    EXPECT_EQ(line(4, 5), zeros + "0\r\n");

    const LocalTime t{2026, 3, 7, 9, 5, 2, 7};
    EXPECT_EQ(RecordFileName(t, false), "/Record_20260307090502");
    EXPECT_EQ(RecordFileName(t, true), "/Record_20260307090502.txt");
    EXPECT_EQ(SnapshotFileName(t), "/snapshot_2026030709050207.raw");
    EXPECT_EQ(SnapshotFileName({2026, 3, 7, 9, 5, 2, 123}), "/snapshot_20260307090502123.raw");
}

// One line per due record; with "CenterAndTemp" unticked in between, the raw image goes into the
// same file; nothing once the recording has stopped. All of it from the bytes as they arrived,
// though "HightoLow" swaps them for the picture. A second recording within the second keeps the
// first file; one into a missing folder says which file and why, and its stop clears that.
TEST(Recording, EachFileHoldsWhatEachDueFrameAskedFor) {
    Rig h;
    h.pipeline.m_bHighToLow = true;
    h.Record(true);
    const std::string path = h.pipeline.RecordFileName();
    EXPECT_EQ(path.substr(path.size() - 4), ".txt");
    const auto image = [](uint32_t seed) { return MakeImage(16, 8, seed, kWords); };
    const auto line = [&](uint32_t seed) {  // the data line's form is tested on its own
        char text[kMaxTextRecordLine];
        return std::string(text, FormatTextRecord(image(seed).data(), 16, 8, text));
    };
    h.Feed(2);
    RunStream(h.pipeline, MakeFrame({}, image(9)), 4096);  // not due
    h.pipeline.m_bCenterAndTemp = false;
    h.Feed(1, 5);
    h.pipeline.m_bCenterAndTemp = true;
    h.Feed(1, 6);
    const auto raw = image(5);
    const std::string want =
        kHeader + line(0) + line(1) + std::string(raw.begin(), raw.end()) + line(6);
    h.pipeline.m_bRecording = false;
    h.Feed(2);
    EXPECT_EQ(h.pipeline.SwitchRecordFile(), 1);
    EXPECT_EQ(h.pipeline.m_nRecordsWritten.load(), 4u);

    h.Record(true);
    EXPECT_NE(h.pipeline.RecordFileName(), path);
    const std::string missing = h.dir + "/missing";
    h.pipeline.SetStoragePath(missing);
    h.Record(true);
    const auto failure = h.pipeline.RecordFileFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->path.rfind(missing + "/Record_", 0), 0u) << failure->path;
    EXPECT_EQ(failure->reason, std::strerror(ENOENT));
    h.Feed(2);
    h.pipeline.m_bRecording = false;
    EXPECT_EQ(h.pipeline.SwitchRecordFile(), 1);
    EXPECT_FALSE(h.pipeline.RecordFileFailure());
    EXPECT_EQ(h.Contents(), (std::multiset<std::string>{want, kHeader}));
}

// Each SnapCap press and record tick, made the moment the one before has been served (into the
// worker's count-down that follows), is served exactly once. Then, the record file swapped for a
// full pipe that holds the worker in its write, stopping must not wait for it, and the file closes
// once that record is written.
TEST(Recording, NoRequestIsLostAndStoppingNeverWaitsForARecordBeingWritten) {
    Rig h;
    h.pipeline.m_bCenterAndTemp = false;
    h.Record(true);
    h.Feed(1);  // the frame the worker's steps below write again and again
    const std::string name = h.pipeline.RecordFileName();
    EXPECT_EQ(fs::path(name).extension(), "") << "a raw record has no extension";
    std::atomic<bool> done{false};
    std::thread serving([&] {
        while (!done.load()) {
            h.pipeline.WriteRecord();
            h.pipeline.SaveSnapshot();
        }
    });
    constexpr uint64_t kRequests = 200;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (uint64_t n = 1; n <= kRequests && std::chrono::steady_clock::now() < deadline; ++n) {
        h.pipeline.MarkRecordDue();
        h.pipeline.StartSnapshots(1);
        while ((h.pipeline.m_nRecordsWritten.load() < 1 + n ||
                h.pipeline.m_nSnapshotsWritten.load() < n) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    done = true;
    serving.join();
    EXPECT_EQ(h.pipeline.m_nRecordsWritten.load(), 1 + kRequests) << "a tick was lost";
    EXPECT_EQ(h.pipeline.m_nSnapshotsWritten.load(), kRequests) << "a press was lost";

    int recordFd = -1;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;  // the iterator's own descriptor
        if (fs::read_symlink(fd, gone) == name) recordFd = std::stoi(fd.path().filename());
    }
    ASSERT_GE(recordFd, 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    size_t filled = 0;
    for (char junk[4096]; write(pipeFds[1], junk, sizeof junk) > 0;) filled += sizeof junk;
    fcntl(pipeFds[1], F_SETFL, 0);
    ASSERT_EQ(dup2(pipeFds[1], recordFd), recordFd);
    close(pipeFds[1]);

    h.pipeline.MarkRecordDue();
    std::thread worker([&] { h.pipeline.WriteRecord(); });
    while (h.pipeline.m_bWritePending.load()) std::this_thread::yield();  // taken: now writing
    // The drain waits up to 5 s for the stop; a stop that waits for the write waits for it.
    std::atomic<bool> stopped{false};
    bool drainedFirst = false;
    size_t drained = 0;
    std::thread drain([&] {
        for (int i = 0; i < 500 && !stopped; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        drainedFirst = !stopped;
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            drained += static_cast<size_t>(n);
    });
    h.Record(false);
    stopped = true;
    drain.join();  // the pipe's end came: the file is closed
    worker.join();
    close(pipeFds[0]);
    EXPECT_FALSE(drainedFirst) << "stopping waited for the write";
    EXPECT_EQ(drained, filled + 2u * 16 * 8);  // the whole record, then the end: closed
}

TEST(Snapshots, TheEndNoticeSaysHowManyFilesCouldBeWritten) {
    struct Case {
        int count, writable;  // frames of the series, of which the first `writable` can be written
        const char* notice;   // when none could be written, followed by the missing folder
    } const cases[] = {
        {3, 3, "SnapShot finished..."},
        {0, 0, "SnapShot finished..."},  // nothing asked, nothing failed
        {4, 2, "SnapShot finished... 2 of 4 written"},
        {2, 0, "SnapShot is failed.. cannot write to "},
    };
    for (const Case& c : cases) {
        Rig h;
        h.pipeline.m_bHighToLow = true;  // snapshots hold the bytes as they arrived
        const std::string missing = h.dir + "/missing";
        h.pipeline.StartSnapshots(c.count);
        h.Feed(c.writable);
        h.pipeline.SetStoragePath(missing);
        h.Feed(c.count - c.writable + 2);
        const std::string notice = c.notice + (c.count > 0 && c.writable == 0 ? missing : "");
        EXPECT_EQ(h.sink.notices, std::vector<std::string>{notice}) << c.count;
        std::multiset<std::string> want;  // distinct names even within one millisecond
        for (int i = 0; i < c.writable; ++i) {
            const auto image = MakeImage(16, 8, i, kWords);
            want.emplace(image.begin(), image.end());
        }
        EXPECT_EQ(h.Contents(), want);
        EXPECT_EQ(h.pipeline.m_nSnapshotsFailed.load(), uint64_t(c.count - c.writable));
    }
}

// Each grey picture is the gain control's conversion in the mode chosen last, by a context of the
// frame's size, of the samples swapped only while "HightoLow" is ticked (the camera sends them high
// byte first); the display picture is 0x80 then the grey, pixel by pixel.
TEST(GainControlGlue, EachFrameIsConvertedAsChosenForIt) {
    struct Step {
        int32_t mode, width, height;
        bool highToLow;
    } const steps[] = {
        {AGC_MODE_HISTEQ, 16, 8, true},  // chosen before the first frame
        {7, 16, 8, false},               // not a mode: ignored
        {AGC_MODE_SPECIAL, 16, 8, true},
        {AGC_MODE_SPECIAL, 32, 16, true},  // a bigger camera: the old context leaves rows black
        {AGC_MODE_LINE, 32, 16, false},
    };
    Rig h;
    int32_t mode = AGC_MODE_LINE;
    for (const Step& s : steps) {
        SCOPED_TRACE(std::to_string(s.mode) + " " + std::to_string(s.width));
        h.pipeline.SetAgcMode(s.mode);
        if (s.mode <= AGC_MODE_SPECIAL) mode = s.mode;
        h.pipeline.m_bHighToLow = s.highToLow;
        const auto image = MakeImage(s.width, s.height, 3);
        RunStream(h.pipeline, MakeFrame({.width = s.width, .height = s.height}, image), 4096);

        const auto samples = Words(image, s.highToLow);
        const auto gray = kx::agc::testing::Block(s.width, s.height, mode).Process(samples);
        std::vector<uint8_t> display;
        for (uint8_t g : gray) display.insert(display.end(), {0x80, g});
        EXPECT_EQ(h.sink.lastGray, gray);
        EXPECT_EQ(h.sink.lastDisplay, display);
    }
}

// A mode chosen on one thread while another converts frames takes effect between two
// conversions: every picture is wholly one mode's picture.
TEST(GainControl, ModeChangesFallBetweenConversions) {
    const std::vector<uint16_t> image = Words(MakeImage(96, 64, 1));
    std::vector<std::vector<uint8_t>> pictures;
    for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL})
        pictures.push_back(kx::agc::testing::Block(96, 64, mode).Process(image));
    ASSERT_NE(pictures[0], pictures[1]);
    ASSERT_NE(pictures[1], pictures[2]);
    kx::agc::testing::Block block(96, 64);
    std::atomic<bool> done{false};
    std::thread chooser([&] {
        for (int32_t i = 0; !done.load(); ++i) AGC_SetMode(block.handle, 1 + i % 3);
    });
    int mixed = 0;
    for (int frame = 0; frame < 300; ++frame) {
        const std::vector<uint8_t> gray = block.Process(image);
        mixed += gray != pictures[0] && gray != pictures[1] && gray != pictures[2];
    }
    done = true;
    chooser.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
}  // namespace kestrix
