// kestrix-replay: feeds a recorded camera stream through Kestrix's own stream callback, ring
// buffer and worker, without losing a byte, and lists the frames the worker accepts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "frame_pipeline.h"
#include "recorder.h"
#include "tool_options.h"

namespace {

using namespace kestrix;

const char kUsage[] =
    "usage: kestrix-replay [--chunk BYTES] [--agc line|histeq|special] [--no-swap]\n"
    "                      [--gray DIR] [--text-log FILE | --raw-log FILE]\n"
    "                      [--snapshots N --storage DIR] STREAM\n";

struct Options {
    int32_t chunk = 65536;
    int32_t agcMode = AGC_MODE_LINE;
    bool swap = true;
    std::string grayDir, textLog, rawLog, storage, stream;
    int32_t snapshots = 0;
    bool haveSnapshots = false;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "kestrix-replay: %s\n", message.c_str());
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--chunk") {
            if (!ParseWholeNumber(value(), 1, 2000000, &o.chunk)) Fail("--chunk takes 1 to 2000000 bytes");
        } else if (arg == "--agc") {
            if (!ParseAgcMode(value(), &o.agcMode)) Fail("--agc takes line, histeq or special");
        } else if (arg == "--no-swap") {
            o.swap = false;
        } else if (arg == "--gray") {
            o.grayDir = value();
        } else if (arg == "--text-log") {
            o.textLog = value();
        } else if (arg == "--raw-log") {
            o.rawLog = value();
        } else if (arg == "--snapshots") {
            if (!ParseWholeNumber(value(), INT32_MIN, INT32_MAX, &o.snapshots)) {
                Fail("--snapshots takes a number");
            }
            o.haveSnapshots = true;
        } else if (arg == "--storage") {
            o.storage = value();
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] == '-') {
            Fail("unknown option " + arg + "\n" + kUsage);
        } else if (o.stream.empty()) {
            o.stream = arg;
        } else {
            Fail("one stream file only");
        }
    }
    if (o.stream.empty()) Fail(std::string("no stream file given\n") + kUsage);
    if (!o.textLog.empty() && !o.rawLog.empty()) Fail("--text-log and --raw-log exclude each other");
    if (o.haveSnapshots != !o.storage.empty()) {
        Fail("--snapshots and --storage go together");
    }
    return o;
}

// Prints one line per accepted frame and writes the gray pictures; the worker calls it.
class ReplaySink : public FrameSink {
public:
    ReplaySink(const Options& options, FramePipeline*& pipeline)
        : m_options(options), m_pipeline(pipeline) {}

    void UpdateReadouts(const ReadoutUpdate& u) override {
        std::printf("%llu\t%u\t%d\t%d", static_cast<unsigned long long>(m_nFrame), u.format,
                    u.width, u.height);
        for (const auto& text : u.texts.text) std::printf("\t%s", text);
        std::putchar('\n');
        m_nFrame++;
        // Every processed frame gets a record.
        m_pipeline->MarkRecordDue();
    }

    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) override {
        if (m_options.grayDir.empty()) return;
        const std::string path =
            m_options.grayDir + "/frame_" + std::to_string(m_nFrame - 1) + ".pgm";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "kestrix-replay: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return;
        }
        std::fprintf(f, "P5\n%d %d\n255\n", frame.width, frame.height);
        std::fwrite(gray, 1, static_cast<size_t>(frame.width) * frame.height, f);
        std::fclose(f);
    }

    void ShowNotice(const char* text) override { std::fprintf(stderr, "%s\n", text); }

private:
    const Options& m_options;
    FramePipeline*& m_pipeline;
    uint64_t m_nFrame = 0;  // worker thread only
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    std::error_code ignored;
    if (std::filesystem::is_directory(options.stream, ignored)) Fail(options.stream + " is a folder");
    FILE* stream = std::fopen(options.stream.c_str(), "rb");
    if (!stream) Fail("cannot read " + options.stream + ": " + std::strerror(errno));
    if (!options.grayDir.empty()) std::filesystem::create_directory(options.grayDir, ignored);

    FramePipeline* self = nullptr;
    ReplaySink sink(options, self);
    FramePipeline pipeline(&sink);
    self = &pipeline;
    pipeline.m_bHighToLow = options.swap;
    pipeline.SetAgcMode(options.agcMode);
    if (!options.textLog.empty() || !options.rawLog.empty()) {
        const bool text = !options.textLog.empty();
        pipeline.m_bCenterAndTemp = text;
        pipeline.m_bRecording = true;
        if (!pipeline.OpenRecordFile(text ? options.textLog : options.rawLog, text)) {
            Fail("cannot create the record file");
        }
    }
    if (!options.storage.empty()) {
        pipeline.SetStoragePath(options.storage);
        pipeline.StartSnapshots(options.snapshots);
    }
    pipeline.StartWorker();

    // The tool waits for room instead of letting the ring drop a payload.
    FrameRingBuffer& ring = *pipeline.Ring();
    std::vector<uint8_t> chunk(static_cast<size_t>(options.chunk));
    uint64_t bytesRead = 0;
    for (;;) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), stream);
        if (n == 0 && std::ferror(stream)) {
            Fail("read error on " + options.stream + ": " + std::strerror(errno));
        }
        if (n == 0) break;
        bytesRead += n;
        while (static_cast<size_t>(ring.Capacity() - 1 - ring.FillLevel()) < n) {
            pipeline.SpaceEvent().Wait(std::chrono::milliseconds(10));
        }
        StreamDataCallback(0, 2, chunk.data(), static_cast<uint32_t>(n), &pipeline);
    }
    std::fclose(stream);

    // Everything pushed has been worked off once the ring is empty and a whole idle pass has
    // followed.
    while (ring.FillLevel() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t idle = pipeline.IdlePasses();
    while (pipeline.IdlePasses() < idle + 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pipeline.StopWorker();
    pipeline.m_bRecording = false;
    pipeline.SwitchRecordFile();
    std::fflush(stdout);

    std::fprintf(stderr, "kestrix-replay: %llu bytes read, %llu frames accepted",
                 static_cast<unsigned long long>(bytesRead),
                 static_cast<unsigned long long>(pipeline.m_nFramesAccepted.load()));
    if (pipeline.m_nCrcDrops.load()) {
        std::fprintf(stderr, ", %llu dropped by CRC",
                     static_cast<unsigned long long>(pipeline.m_nCrcDrops.load()));
    }
    std::fputc('\n', stderr);
    return 0;
}
