// FramePipeline: everything Kestrix does with the camera's byte stream, without a GUI. The SDK's
// stream thread pushes payloads into the ring buffer; one worker thread per stream start cuts
// frames out of the byte stream, checks their CRC and hands each one on: readouts, records,
// snapshots, gain control and the live picture. What the GUI does per frame goes through a
// FrameSink, which the main window implements (and the command-line tools and tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "frame_format.h"
#include "include/agc.h"
#include "recorder.h"
#include "ring_buffer.h"

namespace kestrix {

// The display picture as the render library takes it: two bytes per pixel, 0x80 then the grey.
struct DisplayFrame {
    const uint8_t* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

struct ReadoutUpdate {
    uint32_t format;  // the frame's format code
    int32_t width;
    int32_t height;
    ReadoutTexts texts;  // empty texts where the image is too small for the parameter row
};

constexpr const char* kSnapshotFinishedText = "SnapShot finished...";

// The notice at the end of a snapshot series that wrote `written` of `taken` files into `folder`:
// "SnapShot finished..." when all were written, else how many of how many, or, when none was,
// the folder that could not take them.
std::string SnapshotSeriesNotice(int32_t written, int32_t taken, const std::string& folder);

// A file that could not be created: its path and the system's reason.
struct FileFailure {
    std::string path;
    std::string reason;
};

// Called on the worker thread. None of these may wait for the GUI thread: the window's teardown
// waits for the worker without a time limit, so what goes to widgets is posted.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // After every accepted frame, whatever its format.
    virtual void UpdateReadouts(const ReadoutUpdate& update) = 0;
    // After every frame converted for display; `gray` is the gain control's 8-bit output.
    virtual void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) = 0;
    // A notice for the user, such as "SnapShot finished...".
    virtual void ShowNotice(const char* text) = 0;
    // Called on the SDK's thread, not the worker's: the stream of `playHandle` ended without
    // being stopped, because the camera went away or the SDK gave its connection up.
    virtual void StreamEnded(int32_t /*playHandle*/) {}
};

class FramePipeline {
public:
    explicit FramePipeline(FrameSink* sink);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // --- stream side ---------------------------------------------------------------------------
    // At a stream start: creates the ring buffer on first use, ends an earlier worker, empties the
    // ring and starts a new worker, which then runs until StopWorker. False, without a worker,
    // when memory or a thread cannot be had.
    bool StartWorker();
    // Creates the ring buffer on first use and empties it; no worker may be running. False when
    // the ring's memory cannot be had.
    bool PrepareRing();
    // The ring's unit for the next PrepareRing (2,000,000 bytes; the ring holds ten).
    void SetRingUnit(int32_t bytes) { m_nRingUnit = bytes; }
    // Clears the run flag and waits for the worker to end (it ends within one pass).
    void StopWorker();
    bool IsWorkerRunning() const { return m_worker.joinable(); }

    // The SDK ended the stream of `playHandle` by itself; tells the sink.
    void EndOfStream(int32_t playHandle) {
        if (m_pSink) m_pSink->StreamEnded(playHandle);
    }
    // Pushes one payload, retrying three times 10 ms apart while the ring is full; true unless
    // there is no ring. A dropped payload is not reported, only counted in m_nPayloadsDropped.
    bool PushStreamData(const uint8_t* payload, uint32_t size);
    FrameRingBuffer* Ring() { return m_pRing.get(); }
    AutoResetEvent& SpaceEvent() { return m_hEventBelowHalf; }

    // Counts the worker's passes that found nothing to do (empty ring, nothing to extract), so
    // that a feeder can tell when everything it pushed has been worked off.
    uint64_t IdlePasses() const { return m_nIdlePasses.load(std::memory_order_acquire); }

    // --- options, written by the GUI thread, read by the worker at its next frame ------------
    std::atomic<bool> m_bHighToLow{true};      // swap each pixel's bytes before the gain control
    std::atomic<bool> m_bCenterAndTemp{true};  // records are text lines, else raw images
    void SetAgcMode(int32_t mode);
    int32_t AgcMode() const { return m_nAgcMode.load(); }

    // --- recording and snapshots ---------------------------------------------------------------
    // GUI thread: opens a record file named after the local time when recording is set, else
    // lets the running recording's file go (closed as soon as no record is being written into it).
    // Returns 1 when it ended a recording, else 0.
    int32_t SwitchRecordFile();
    // Why the record file of the running recording could not be created; nothing while none runs
    // or its file is open.
    std::optional<FileFailure> RecordFileFailure();
    // Opens `path` (never replacing a file; see CreateUniqueFile) as the record file, with the
    // text header when `text`; false when it cannot be created. SwitchRecordFile's second half.
    bool OpenRecordFile(const std::string& path, bool text);
    void SetStoragePath(const std::string& path);
    std::string StoragePath();
    void MarkRecordDue() { m_bWritePending.store(true); }
    // Starts a series of `count` snapshots, replacing the rest of a running one.
    void StartSnapshots(int32_t count);
    bool SnapshotsPending() const;
    int32_t SnapshotsLeft() const;  // of the running series
    std::string RecordFileName();  // path of the open record file, empty when none

    std::atomic<bool> m_bRecording{false};  // GUI writes; worker reads before every record
    // GUI's timer sets; the worker takes it (exchange) as it writes, so a tick during a write stays
    std::atomic<bool> m_bWritePending{true};

    // Statistics for the tools' summaries (worker writes, anyone reads).
    std::atomic<uint64_t> m_nFramesAccepted{0};
    std::atomic<uint64_t> m_nCrcDrops{0};
    std::atomic<uint64_t> m_nPayloadsDropped{0};  // ring full after the retries, or over a unit
    std::atomic<uint64_t> m_nRecordsWritten{0};
    std::atomic<uint64_t> m_nSnapshotsWritten{0};
    std::atomic<uint64_t> m_nSnapshotsFailed{0};

    // --- the worker's own steps (public for the tests; worker thread only) -------------------
    void WorkerLoop();
    // One pass of the loop: pop a portion, extract and hand on at most one frame. kIdle when
    // nothing came and nothing moved; kStop when the worker cannot go on.
    enum class PassResult { kWorked, kIdle, kStop };
    PassResult RunPass();
    bool ExtractFrame();
    void UpdateReadouts();
    void ProcessFrame();
    void WriteRecord();
    void SaveSnapshot();
    bool EnsureAgc();
    // Forgets what the worker holds (assembled bytes, the last header, the gain-control context)
    // so that the next pass runs as a new worker's first. For the fuzzer, which keeps one
    // pipeline for all its inputs; never while a worker runs.
    void ResetWorkerState();

    // Worker-owned state: only the worker touches these while it runs.
    std::unique_ptr<uint8_t[]> m_pAssembly;
    int32_t m_nStart = 0;      // where the bytes held start in m_pAssembly
    int32_t m_nAssembled = 0;  // how many bytes are held
    const uint8_t* Held() const { return m_pAssembly.get() + m_nStart; }
    FrameHeaderState m_header;  // size, format and CRC of the most recent header
    // The current frame's 16-bit image byte-swapped, when "HightoLow" is ticked, for the gain
    // control; records and snapshots write the received bytes instead.
    std::unique_ptr<uint8_t[]> m_pImage;
    std::unique_ptr<uint8_t[]> m_pGray;     // 8-bit output of the gain control
    std::unique_ptr<uint8_t[]> m_pDisplay;  // display picture, two bytes per pixel
    DisplayFrame m_DisplayFrame;
    std::unique_ptr<uint8_t[]> m_pAgcMemory;  // the gain control's work block
    AgcHandle m_hAgc = nullptr;
    int32_t m_nAgcWidth = 0, m_nAgcHeight = 0;  // the size the gain control was made for
    int32_t m_nAgcModeInEffect = 0;             // the mode of the last conversion

    std::atomic<bool> m_bWorkerRun{false};  // GUI writes; the worker's loop runs while it is set

private:
    void Discard(int32_t n);
    bool OpenRecordFileLocked(const std::string& path, bool text);
    int32_t CloseRecordFileLocked();

    FrameSink* m_pSink;                       // set at construction
    std::unique_ptr<FrameRingBuffer> m_pRing;  // created by the first StartWorker (GUI thread)
    AutoResetEvent m_hEventBelowHalf;
    AutoResetEvent m_hEventAboveHalf;
    std::thread m_worker;  // GUI thread starts and joins it
    int32_t m_nRingUnit = 2000000;
    std::atomic<uint64_t> m_nIdlePasses{0};
    std::atomic<int32_t> m_nAgcMode{AGC_MODE_LINE};  // GUI writes the chosen mode

    // The snapshot series in one word, so that a press and the worker's count-down never undo each
    // other: the series' number (bits 33-63), pending (bit 32) and the count left (bits 0-31). The
    // GUI thread starts a series with a new number; the worker counts down or ends only the
    // series it read.
    std::atomic<uint64_t> m_nSnapState{0};
    uint64_t m_nSeriesSeen = 0;  // worker: the series the counts below belong to
    int32_t m_nSeriesTaken = 0, m_nSeriesWritten = 0;

    // An open record file, closed when its last holder lets it go: the worker holds it only while
    // it writes a record, outside the lock, so the GUI thread never waits for a write, and a
    // record is never written to a closed file.
    struct RecordFile {
        FileHandle file;
        explicit RecordFile(FileHandle f) : file(f) {}
        ~RecordFile();
        RecordFile(const RecordFile&) = delete;
        RecordFile& operator=(const RecordFile&) = delete;
    };
    std::mutex m_recordLock;  // guards the five below; held for moments, never for a write
    std::shared_ptr<RecordFile> m_pRecordFile;  // the running recording's file
    bool m_bRecordFailed = false;               // its file could not be created
    std::string m_strRecordName;                // its path
    FileFailure m_recordFailure;                // why it could not be created
    std::string m_strStoragePath;               // the storage folder
};

// The stream callback given to the SDK; `user` is the FramePipeline. Only data type 2 with a
// non-empty payload reaches the ring buffer; data type 3, the stream's end, goes to the sink.
void StreamDataCallback(int32_t handle, uint32_t dataType, uint8_t* payload, uint32_t size,
                        void* user);

// The thread start routine; runs the loop of the pipeline given, returns 1.
int WorkerThreadProc(FramePipeline* pipeline);

}  // namespace kestrix
