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
};

class FramePipeline {
public:
    explicit FramePipeline(FrameSink* sink);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // --- stream side ---------------------------------------------------------------------------
    // At a stream start: creates the ring buffer on first use, ends an earlier worker, empties the
    // ring and starts a new worker, which then runs until StopWorker.
    void StartWorker();
    // Creates the ring buffer on first use and empties it; no worker may be running.
    void PrepareRing();
    // Clears the run flag and waits for the worker to end (it ends within one pass).
    void StopWorker();
    bool IsWorkerRunning() const { return m_worker.joinable(); }

    // Pushes one payload, retrying three times 10 ms apart while the ring is full; true unless
    // there is no ring (a dropped payload is not reported).
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
    // closes the open one. Returns 0 (or the close's result when it closes a file).
    int32_t SwitchRecordFile();
    // Opens `path` (never replacing a file; see CreateUniqueFile) as the record file, with the
    // text header when `text`; false when it cannot be created. SwitchRecordFile's second half.
    bool OpenRecordFile(const std::string& path, bool text);
    void SetStoragePath(const std::string& path);
    std::string StoragePath();
    void MarkRecordDue() { m_bWritePending.store(true); }
    void StartSnapshots(int32_t count);
    std::string RecordFileName();  // path of the open record file, empty when none

    std::atomic<bool> m_bRecording{false};    // GUI writes; worker reads before every record
    std::atomic<bool> m_bWritePending{true};  // GUI's timer sets; worker clears
    std::atomic<bool> m_bSnapPending{false};  // GUI sets; worker clears at the series' end
    std::atomic<int32_t> m_nSnapCount{0};     // GUI sets; worker counts down

    // Statistics for the tools' summaries (worker writes, anyone reads).
    std::atomic<uint64_t> m_nFramesAccepted{0};
    std::atomic<uint64_t> m_nCrcDrops{0};
    std::atomic<uint64_t> m_nRecordsWritten{0};
    std::atomic<uint64_t> m_nSnapshotsWritten{0};

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

    // Worker-owned state: only the worker touches these while it runs.
    std::unique_ptr<uint8_t[]> m_pAssembly;  // bytes held always start at its first byte
    int32_t m_nAssembled = 0;
    FrameHeaderState m_header;  // size, format and CRC of the most recent header
    // The current frame's 16-bit image as the gain control reads it: byte-swapped when
    // "HightoLow" is ticked. Records and snapshots write the received bytes instead.
    std::unique_ptr<uint8_t[]> m_pImage;
    std::unique_ptr<uint8_t[]> m_pGray;     // 8-bit output of the gain control
    std::unique_ptr<uint8_t[]> m_pDisplay;  // display picture, two bytes per pixel
    DisplayFrame m_DisplayFrame;
    size_t m_nImageBytes = 0;  // image bytes of the last frame copied into m_pImage
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
    std::atomic<uint64_t> m_nIdlePasses{0};
    std::atomic<int32_t> m_nAgcMode{AGC_MODE_LINE};  // GUI writes the chosen mode

    static constexpr FileHandle kNoRecordFile = -1;      // no recording
    static constexpr FileHandle kFailedRecordFile = -2;  // its file could not be created
    std::mutex m_recordLock;       // serialises WriteRecord with SwitchRecordFile; guards below
    FileHandle m_hRecordFile = kNoRecordFile;  // open record file, or one of the two values above
    std::string m_strRecordName;   // its path
    std::string m_strStoragePath;  // the storage folder
};

// The stream callback given to the SDK; `user` is the FramePipeline. Only data type 2 with a
// non-empty payload reaches the ring buffer.
void StreamDataCallback(int32_t handle, uint32_t dataType, uint8_t* payload, uint32_t size,
                        void* user);

// The thread start routine; runs the loop of the pipeline given, returns 1.
int WorkerThreadProc(FramePipeline* pipeline);

}  // namespace kestrix
