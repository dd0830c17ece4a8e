// Record files and snapshot series written by the worker, and the gain-control glue.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "frame_pipeline.h"
#include "recorder.h"
#include "stream_builder.h"
#include "text_codec.h"

namespace kestrix {
namespace {

using testing::Append;
using testing::MakeFrame;
using testing::MakeImage;
using testing::RecordingSink;
using testing::RunStream;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kestrix-test-XXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempDir() {
        for (const auto& f : Files()) unlink((m_path + "/" + f).c_str());
        rmdir(m_path.c_str());
    }
    const std::string& path() const { return m_path; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_path.c_str())) {
            while (dirent* e = readdir(d)) {
                if (e->d_name[0] != '.') names.emplace_back(e->d_name);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::vector<uint16_t> kWords = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xFFFF, 13, 14};

struct Harness {
    RecordingSink sink;
    FramePipeline pipeline{&sink};
    TempDir dir;
    Harness() {
        pipeline.PrepareRing();
        pipeline.SetStoragePath(dir.path());
    }
    // Feeds frames of 16 x 8 pixels, each with a record marked due before it.
    void Feed(int frames, uint32_t seed = 0) {
        for (int i = 0; i < frames; ++i) {
            pipeline.MarkRecordDue();
            RunStream(pipeline, MakeFrame({}, MakeImage(16, 8, seed + i, kWords)), 4096);
        }
    }
};

TEST(TextRecord, HeaderLineIsTheExact118BytesInCodePage936) {
    const std::string& header = TextRecordHeader();
    ASSERT_EQ(header.size(), 118u);
    EXPECT_EQ(header.substr(0, 2), "\xBD\xB9");  // 焦
    EXPECT_EQ(header.substr(116), "\r\n");
    EXPECT_EQ(std::count(header.begin(), header.end(), '\t'), 23);
    EXPECT_EQ(Gb18030ToUtf8(header)->substr(0, 15), "焦平面温度");
}

TEST(TextRecord, DataLineHasFifteenNumbersAndTwentyEightTabs) {
    std::vector<uint8_t> image = MakeImage(16, 12, 1, kWords);
    for (int y = 4; y <= 8; ++y) {  // centre block of a 16 x 12 image: rows 4..8, columns 6..10
        for (int x = 6; x <= 10; ++x) image[(y * 16 + x) * 2] = image[(y * 16 + x) * 2 + 1] = 0xFF;
    }
    char line[kMaxTextRecordLine];
    const int n = FormatTextRecord(image.data(), 16, 12, line);
    EXPECT_EQ(
        std::string(line, n),
        "1\t\t2\t\t3\t\t4\t\t5\t\t6\t\t7\t\t8\t\t9\t\t10\t\t11\t\t65535\t\t13\t\t14\t\t-1\r\n");

    // Too small for the parameter row and the centre block: zeros, nothing read outside.
    const std::vector<uint8_t> tiny(2 * 3 * 3, 0x7F);
    const int m = FormatTextRecord(tiny.data(), 3, 3, line);
    EXPECT_EQ(std::string(line, m),
              "0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\r\n");
}

TEST(FileNames, RecordAndSnapshotNames) {
    const LocalTime t{2026, 3, 7, 9, 5, 2, 7};
    EXPECT_EQ(RecordFileName(t, false), "/Record_20260307090502");
    EXPECT_EQ(RecordFileName(t, true), "/Record_20260307090502.txt");
    EXPECT_EQ(SnapshotFileName(t), "/snapshot_2026030709050207.raw");
    EXPECT_EQ(SnapshotFileName({2026, 3, 7, 9, 5, 2, 123}), "/snapshot_20260307090502123.raw");
}

TEST(Recording, TextRecordGetsTheHeaderAndOneLinePerDueRecord) {
    Harness h;
    h.pipeline.m_bRecording = true;
    ASSERT_EQ(h.pipeline.SwitchRecordFile(), 0);
    const std::string path = h.pipeline.RecordFileName();
    EXPECT_EQ(path.substr(path.size() - 4), ".txt");
    h.Feed(3);
    RunStream(h.pipeline, MakeFrame({}, MakeImage(16, 8, 9, kWords)), 4096);  // not due: no line
    h.pipeline.m_bRecording = false;
    EXPECT_EQ(h.pipeline.SwitchRecordFile(), 1);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.substr(0, 118), TextRecordHeader());
    EXPECT_EQ(std::count(text.begin() + 118, text.end(), '\n'), 3);
    EXPECT_EQ(h.pipeline.m_nRecordsWritten.load(), 3u);
}

TEST(Recording, RawRecordSnapshotAndStreamHoldTheSameBytesWhileSwapping) {
    Harness h;
    h.pipeline.m_bHighToLow = true;
    h.pipeline.m_bCenterAndTemp = false;
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    const std::string path = h.pipeline.RecordFileName();
    EXPECT_EQ(path.find('.', path.rfind('/')), std::string::npos);
    h.pipeline.StartSnapshots(1);
    const auto image = MakeImage(16, 8, 4, kWords);
    h.pipeline.MarkRecordDue();
    RunStream(h.pipeline, MakeFrame({}, image), 100);
    h.pipeline.MarkRecordDue();
    RunStream(h.pipeline, MakeFrame({}, image), 100);
    h.pipeline.m_bRecording = false;
    h.pipeline.SwitchRecordFile();

    const std::string expected(image.begin(), image.end());
    EXPECT_EQ(ReadFile(path), expected + expected);
    std::string snapshot;
    for (const auto& f : h.dir.Files()) {
        if (f.rfind("snapshot_", 0) == 0) snapshot = ReadFile(h.dir.path() + "/" + f);
    }
    EXPECT_EQ(snapshot, expected);
}

TEST(Recording, TwoRecordingsInOneSecondKeepBothFiles) {
    Harness h;
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    const std::string first = h.pipeline.RecordFileName();
    h.Feed(1);
    h.pipeline.m_bRecording = false;
    h.pipeline.SwitchRecordFile();
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    const std::string second = h.pipeline.RecordFileName();
    h.pipeline.m_bRecording = false;
    h.pipeline.SwitchRecordFile();
    EXPECT_NE(first, second);
    const std::string kept = ReadFile(first);  // the header and one line, not replaced
    EXPECT_EQ(kept.substr(0, 118), TextRecordHeader());
    EXPECT_EQ(std::count(kept.begin() + 118, kept.end(), '\n'), 1);
    EXPECT_EQ(ReadFile(second).size(), 118u);
}

TEST(Recording, NothingIsWrittenAfterTheRecordingStopped) {
    Harness h;
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    const std::string path = h.pipeline.RecordFileName();
    h.pipeline.m_bRecording = false;
    h.Feed(2);
    h.pipeline.SwitchRecordFile();
    EXPECT_EQ(ReadFile(path).size(), 118u);
}

// The record file is swapped for a full pipe, so that the worker's next record stays in its write
// until the test drains the pipe: stopping the recording meanwhile must not wait for it, and the
// file closes once that last record is written.
TEST(Recording, StoppingNeverWaitsForARecordBeingWritten) {
    Harness h;
    h.pipeline.m_bCenterAndTemp = false;
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    h.Feed(1);
    const std::string name = h.pipeline.RecordFileName();
    int recordFd = -1;
    for (int fd = 3; fd < 1024 && recordFd < 0; ++fd) {
        char target[4096];
        const ssize_t n =
            readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == name) recordFd = fd;
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
    h.pipeline.m_bRecording = false;
    h.pipeline.SwitchRecordFile();
    stopped = true;
    drain.join();  // the pipe's end came: the file is closed
    worker.join();
    close(pipeFds[0]);
    EXPECT_FALSE(drainedFirst) << "stopping waited for the write";
    EXPECT_EQ(drained, filled + 2u * 16 * 8);  // the whole record, then the end: closed
}

TEST(Recording, AMissingStorageFolderIsReportedWithPathAndReason) {
    Harness h;
    const std::string missing = h.dir.path() + "/missing";
    h.pipeline.SetStoragePath(missing);
    h.pipeline.m_bRecording = true;
    EXPECT_EQ(h.pipeline.SwitchRecordFile(), 0);
    const auto failure = h.pipeline.RecordFileFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->path.rfind(missing + "/Record_", 0), 0u) << failure->path;
    EXPECT_EQ(failure->reason, std::strerror(ENOENT));
    h.Feed(2);
    h.pipeline.m_bRecording = false;
    EXPECT_EQ(h.pipeline.SwitchRecordFile(), 1);
    EXPECT_FALSE(h.pipeline.RecordFileFailure());
    EXPECT_TRUE(h.dir.Files().empty());
}

TEST(Snapshots, SeriesOfThreeThenOneNotice) {
    Harness h;
    h.pipeline.StartSnapshots(3);
    h.Feed(5);
    const auto files = h.dir.Files();
    ASSERT_EQ(files.size(), 3u);  // distinct names even within one millisecond
    for (const auto& f : files) EXPECT_EQ(ReadFile(h.dir.path() + "/" + f).size(), 2u * 16 * 8);
    EXPECT_EQ(h.sink.notices, std::vector<std::string>{kSnapshotFinishedText});
}

TEST(Snapshots, TheEndNoticeSaysHowManyFilesCouldBeWritten) {
    struct Case {
        int count, writable;  // frames of the series, of which the first `writable` can be written
        const char* notice;   // "<missing>" stands for the folder that could not take any
    };
    const Case cases[] = {
        {0, 0, "SnapShot finished..."},  // nothing asked, nothing failed
        {4, 2, "SnapShot finished... 2 of 4 written"},
        {2, 0, "SnapShot is failed.. cannot write to <missing>"},
    };
    for (const Case& c : cases) {
        Harness h;
        const std::string missing = h.dir.path() + "/missing";
        h.pipeline.StartSnapshots(c.count);
        h.Feed(c.writable);
        h.pipeline.SetStoragePath(missing);
        h.Feed(c.count - c.writable + 2);
        std::string expected = c.notice;
        if (const size_t at = expected.find("<missing>"); at != std::string::npos) {
            expected.replace(at, 9, missing);
        }
        EXPECT_EQ(h.sink.notices, std::vector<std::string>{expected}) << c.count;
        EXPECT_EQ(h.dir.Files().size(), static_cast<size_t>(c.writable));
        EXPECT_EQ(h.pipeline.m_nSnapshotsFailed.load(),
                  static_cast<uint64_t>(c.count - c.writable));
    }
}

// The GUI thread presses SnapCap and the record timer ticks while the worker writes and counts
// down: each press and each tick must be served exactly once, however the two threads interleave.
TEST(Requests, NoPressAndNoTickIsLostWhileTheWorkerServesTheLastOne) {
    Harness h;
    h.pipeline.m_bRecording = true;
    h.pipeline.SwitchRecordFile();
    h.Feed(1);  // the frame the worker's steps below write again and again
    const uint64_t records = h.pipeline.m_nRecordsWritten.load();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done.load()) {
            h.pipeline.WriteRecord();
            h.pipeline.SaveSnapshot();
        }
    });
    const auto served = [](const std::atomic<uint64_t>& counter, uint64_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (counter.load() < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    };
    // Each request is made the moment the one before has been served, into the worker's
    // count-down that follows.
    constexpr uint64_t kRequests = 200;
    uint64_t ticks = 0, presses = 0;
    while (ticks < kRequests) {
        h.pipeline.MarkRecordDue();
        if (!served(h.pipeline.m_nRecordsWritten, records + ++ticks)) break;
    }
    while (presses < kRequests) {
        h.pipeline.StartSnapshots(1);
        if (!served(h.pipeline.m_nSnapshotsWritten, ++presses)) break;
    }
    done = true;
    worker.join();
    EXPECT_EQ(h.pipeline.m_nRecordsWritten.load(), records + kRequests) << "a tick was lost";
    EXPECT_EQ(h.pipeline.m_nSnapshotsWritten.load(), kRequests) << "a press was lost";
    h.pipeline.m_bRecording = false;
    h.pipeline.SwitchRecordFile();
}

TEST(GainControlGlue, ModeChosenBeforeTheFirstFrameIsTheFirstConversionsMode) {
    Harness h;
    h.pipeline.SetAgcMode(AGC_MODE_HISTEQ);
    h.Feed(1);
    EXPECT_EQ(h.pipeline.m_nAgcModeInEffect, AGC_MODE_HISTEQ);
    h.pipeline.SetAgcMode(7);  // not a mode: ignored
    h.pipeline.SetAgcMode(AGC_MODE_SPECIAL);
    h.Feed(1);
    EXPECT_EQ(h.pipeline.m_nAgcModeInEffect, AGC_MODE_SPECIAL);
}

TEST(GainControlGlue, ANewFrameSizeGetsANewContextInTheSameMode) {
    Harness h;
    h.pipeline.SetAgcMode(AGC_MODE_SPECIAL);
    h.Feed(1);
    // A bigger camera: with the first frame's size the lower part would stay black.
    std::vector<uint8_t> image(2 * 32 * 16);
    for (size_t i = 0; i < image.size(); i += 2) image[i + 1] = static_cast<uint8_t>(0x10 + i % 7);
    RunStream(h.pipeline, MakeFrame({.width = 32, .height = 16}, image), 4096);
    EXPECT_EQ(h.pipeline.m_nAgcWidth, 32);
    EXPECT_EQ(h.pipeline.m_nAgcModeInEffect, AGC_MODE_SPECIAL);
    ASSERT_EQ(h.sink.lastGray.size(), 32u * 16);
    const auto nonBlack = std::count_if(h.sink.lastGray.begin() + 32 * 12, h.sink.lastGray.end(),
                                        [](uint8_t g) { return g != 0; });
    EXPECT_GT(nonBlack, 0);
    // The display picture is 0x80 then the grey, pixel by pixel.
    EXPECT_EQ(h.sink.lastDisplay[0], 0x80);
    EXPECT_EQ(h.sink.lastDisplay[1], h.sink.lastGray[0]);
}

TEST(GainControlGlue, ConvertsTheSamplesSwappedOnlyWhileHighToLowIsTicked) {
    // Samples sent high byte first, as the camera does: only the swapped reading is a scene.
    std::vector<uint8_t> image(2 * 16 * 8);
    std::vector<uint16_t> asSent(16 * 8), swapped(16 * 8);
    for (size_t i = 0; i < swapped.size(); ++i) {
        swapped[i] = static_cast<uint16_t>(7000 + (i * 37) % 400);
        image[2 * i] = static_cast<uint8_t>(swapped[i] >> 8);
        image[2 * i + 1] = static_cast<uint8_t>(swapped[i]);
        std::memcpy(&asSent[i], &image[2 * i], 2);
    }
    for (bool highToLow : {true, false}) {
        SCOPED_TRACE(highToLow ? "ticked" : "unticked");
        Harness h;
        h.pipeline.m_bHighToLow = highToLow;
        RunStream(h.pipeline, MakeFrame({}, image), 4096);

        std::vector<uint64_t> block(AGC_MEM_SIZE / sizeof(uint64_t));
        const AgcParams params{16, 8};
        AgcHandle agc = nullptr;
        ASSERT_EQ(AGC_Create(&params, block.data(), AGC_MEM_SIZE, &agc), AGC_OK);
        std::vector<uint8_t> want(16 * 8);
        AGC_Process(agc, highToLow ? swapped.data() : asSent.data(), want.data());
        EXPECT_EQ(h.sink.lastGray, want);
    }
}

}  // namespace
}  // namespace kestrix
