// kestrix-capture: headless capture from a camera. Logs in through Tarnlink, runs Kestrix's own
// pipeline for a while and does what the display panel would: records, snapshots, gain-control
// mode, byte order, and the last live picture with its centre box as a PNG.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_link.h"
#include "frame_pipeline.h"
#include "grey_picture.h"
#include "live_picture.h"
#include "tarnlink.h"
#include "tool_options.h"

namespace {

using namespace kestrix;

const char kUsage[] =
    "usage: kestrix-capture [--address A] [--port N] [--user U] [--password P] [--seconds S]\n"
    "                       [--record text|raw] [--period MS] [--snapshots N]\n"
    "                       [--agc line|histeq|special] [--no-swap] [--storage DIR] [--png FILE]\n"
    "Logs in to the camera (default: the built-in emulator at 127.0.0.1:8000), runs the live\n"
    "pipeline for --seconds (5) and prints a summary.\n";

struct Options {
    std::string address = "127.0.0.1";
    int32_t port = 8000;
    std::string user = "admin";
    std::string password = "qbxwz70413";
    double seconds = 5;
    std::string record;  // "", "text" or "raw"
    int32_t periodMs = 1000;
    int32_t snapshots = 0;
    bool haveSnapshots = false;
    int32_t agcMode = AGC_MODE_LINE;
    bool swap = true;
    std::string storage = ".";
    std::string png;
};

[[noreturn]] void Fail(const std::string& message, int code = 2) {
    std::fprintf(stderr, "kestrix-capture: %s\n", message.c_str());
    std::exit(code);
}

int32_t ParseInt(const std::string& option, const char* text, int64_t low, int64_t high) {
    int32_t v = 0;
    if (!ParseWholeNumber(text, low, high, &v)) {
        Fail(option + " takes a whole number from " + std::to_string(low) + " to " +
             std::to_string(high));
    }
    return v;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--address") o.address = value();
        else if (arg == "--port") o.port = ParseInt(arg, value(), 1, 65535);
        else if (arg == "--user") o.user = value();
        else if (arg == "--password") o.password = value();
        else if (arg == "--seconds") {
            char* end = nullptr;
            const char* text = value();
            o.seconds = std::strtod(text, &end);
            if (end == text || *end || !(o.seconds > 0 && o.seconds <= 86400)) {
                Fail("--seconds takes a duration from 0 to 86400");
            }
        } else if (arg == "--record") {
            o.record = value();
            if (o.record != "text" && o.record != "raw") Fail("--record takes text or raw");
        } else if (arg == "--period") o.periodMs = ParseInt(arg, value(), 1, 3600000);
        else if (arg == "--snapshots") {
            o.snapshots = ParseInt(arg, value(), 0, 1000000);
            o.haveSnapshots = true;
        } else if (arg == "--agc") {
            if (!ParseAgcMode(value(), &o.agcMode)) Fail("--agc takes line, histeq or special");
        } else if (arg == "--no-swap") o.swap = false;
        else if (arg == "--storage") o.storage = value();
        else if (arg == "--png") o.png = value();
        else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else Fail("unknown argument " + arg + "\n" + kUsage);
    }
    return o;
}

// Keeps the last live picture for the PNG; notices go to standard error.
class CaptureSink : public FrameSink {
public:
    void UpdateReadouts(const ReadoutUpdate&) override {}
    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t*) override {
        std::lock_guard lock(m_mutex);
        glintra::ExtractGrey(frame.data, frame.width, frame.height, m_grey);
    }
    void ShowNotice(const char* text) override { std::fprintf(stderr, "%s\n", text); }
    void StreamEnded(int32_t) override { m_bStreamLost.store(true); }
    std::atomic<bool> m_bStreamLost{false};

    bool WritePng(const std::string& path) {
        std::lock_guard lock(m_mutex);
        return WriteLivePicture(m_grey, path);
    }

private:
    std::mutex m_mutex;  // guards m_grey: the worker writes, the main thread reads at the end
    glintra::GreyPicture m_grey;
};

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);

    CaptureSink sink;
    FramePipeline pipeline(&sink);
    pipeline.m_bHighToLow = o.swap;
    pipeline.SetAgcMode(o.agcMode);
    pipeline.SetStoragePath(o.storage);

    TLNK_Init();
    const int32_t userId = LinkLogin(o.address, o.port, o.user, o.password);
    if (userId < 0) {
        const uint32_t error = TLNK_GetLastError();
        if (error == TLNK_E_PASSWORD) {
            Fail("the camera at " + o.address + ":" + std::to_string(o.port) +
                     " refused the user name or password",
                 4);
        }
        Fail("cannot reach the camera at " + o.address + ":" + std::to_string(o.port) +
                 " (error " + std::to_string(error) + ")",
             3);
    }

    if (!pipeline.StartWorker()) {
        TLNK_Logout(userId);
        Fail("no memory or thread for the stream's worker", 5);
    }
    const int32_t playHandle = LinkStartStream(userId, &pipeline);
    if (playHandle < 0) {
        const uint32_t error = TLNK_GetLastError();
        TLNK_Logout(userId);
        Fail("the camera did not start its stream (error " + std::to_string(error) + ")", 5);
    }

    if (!o.record.empty()) {
        pipeline.m_bCenterAndTemp = o.record == "text";
        pipeline.m_bRecording = true;
        pipeline.SwitchRecordFile();
        if (const auto failure = pipeline.RecordFileFailure()) {
            std::fprintf(stderr, "kestrix-capture: cannot create the record file %s: %s\n",
                         failure->path.c_str(), failure->reason.c_str());
        }
    }
    if (o.haveSnapshots) pipeline.StartSnapshots(o.snapshots);

    // The record timer: one record due per period, as the panel's timer marks them.
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(o.seconds);
    auto nextTick = start + std::chrono::milliseconds(o.periodMs);
    while (std::chrono::steady_clock::now() < end && !sink.m_bStreamLost.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (std::chrono::steady_clock::now() >= nextTick) {
            pipeline.MarkRecordDue();
            nextTick += std::chrono::milliseconds(o.periodMs);
        }
    }

    TLNK_StopRealPlay(playHandle);
    TLNK_Logout(userId);
    pipeline.StopWorker();
    const std::string recordFile = pipeline.RecordFileName();
    const bool recordFailed = pipeline.RecordFileFailure().has_value();
    pipeline.m_bRecording = false;
    pipeline.SwitchRecordFile();

    int status = 0;
    if (sink.m_bStreamLost.load()) {
        std::fprintf(stderr, "kestrix-capture: the camera's connection was lost\n");
        status = 1;
    }
    if (!o.png.empty()) {
        if (sink.WritePng(o.png)) {
            std::fprintf(stderr, "kestrix-capture: live picture in %s\n", o.png.c_str());
        } else {
            std::fprintf(stderr, "kestrix-capture: no live picture for %s\n", o.png.c_str());
            status = 1;
        }
    }
    if (!recordFile.empty()) std::fprintf(stderr, "kestrix-capture: record file %s\n", recordFile.c_str());
    // Asked to keep records or snapshots and none could be written: the storage failed us.
    if (status == 0 && (recordFailed || (o.snapshots > 0 && pipeline.m_nSnapshotsWritten == 0 &&
                                         pipeline.m_nSnapshotsFailed > 0))) {
        status = 6;
    }

    const uint64_t accepted = pipeline.m_nFramesAccepted.load();
    const uint64_t dropped = pipeline.m_nCrcDrops.load();
    std::printf("frames received %llu, accepted %llu, dropped by CRC %llu, records %llu, "
                "snapshots %llu\n",
                static_cast<unsigned long long>(accepted + dropped),
                static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(dropped),
                static_cast<unsigned long long>(pipeline.m_nRecordsWritten.load()),
                static_cast<unsigned long long>(pipeline.m_nSnapshotsWritten.load()));
    return status;
}
