// The worker loop, frame assembly and the per-frame steps of the pipeline.
#include "frame_pipeline.h"

#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "recorder.h"

namespace kestrix {
namespace {

constexpr int32_t kPortion = 2000;
// How long the worker rests on an empty ring before it looks at its run flag again.
constexpr std::chrono::milliseconds kIdleWait{5};

std::atomic<bool> g_bAgcReady{false};  // set once any gain-control context has been made

std::unique_ptr<uint8_t[]> AllocateFrameBuffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kFrameBufferSize]);
}

// dst = src with the two bytes of each of the `samples` 16-bit samples exchanged.
void CopySwapped(const uint8_t* src, uint8_t* dst, size_t samples) {
    for (size_t i = 0; i < samples; ++i) {
        uint16_t sample;
        std::memcpy(&sample, src + 2 * i, sizeof sample);
        sample = __builtin_bswap16(sample);
        std::memcpy(dst + 2 * i, &sample, sizeof sample);
    }
}

constexpr uint64_t kSnapPending = uint64_t{1} << 32;
constexpr int kSnapSeriesShift = 33;

int32_t SnapCount(uint64_t state) {
    return static_cast<int32_t>(static_cast<uint32_t>(state));
}
uint64_t SnapSeries(uint64_t state) {
    return state >> kSnapSeriesShift;
}

}  // namespace

std::string SnapshotSeriesNotice(int32_t written, int32_t taken, const std::string& folder) {
    if (written == taken) return kSnapshotFinishedText;
    if (written == 0) {
        return "SnapShot is failed.. cannot write to " + (folder.empty() ? "/" : folder);
    }
    return "SnapShot finished... " + std::to_string(written) + " of " + std::to_string(taken) +
           " written";
}

FramePipeline::FramePipeline(FrameSink* sink) : m_pSink(sink) {}

FramePipeline::~FramePipeline() {
    StopWorker();
    std::lock_guard lock(m_recordLock);
    CloseRecordFileLocked();
}

bool FramePipeline::PrepareRing() {
    if (!m_pRing) m_pRing.reset(new (std::nothrow) FrameRingBuffer);
    return m_pRing && m_pRing->Init(m_nRingUnit, &m_hEventBelowHalf, &m_hEventAboveHalf) == 0;
}

void FramePipeline::ResetWorkerState() {
    m_nStart = 0;
    m_nAssembled = 0;
    m_header = {};
    m_hAgc = nullptr;
}

bool FramePipeline::StartWorker() {
    StopWorker();
    if (!PrepareRing()) return false;
    m_bWorkerRun.store(true);
    try {
        m_worker = std::thread(WorkerThreadProc, this);
    } catch (const std::system_error&) {
        m_bWorkerRun.store(false);
        return false;
    }
    return true;
}

void FramePipeline::StopWorker() {
    m_bWorkerRun.store(false);
    if (m_worker.joinable()) m_worker.join();
}

bool FramePipeline::PushStreamData(const uint8_t* payload, uint32_t size) {
    if (!m_pRing) return false;
    for (int attempt = 0; attempt < 3 && size <= static_cast<uint32_t>(INT32_MAX); ++attempt) {
        const int32_t result = m_pRing->Push(payload, static_cast<int32_t>(size));
        if (result >= 0) return true;
        if (result != -2) break;  // larger than a unit: dropped at once
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_nPayloadsDropped.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void StreamDataCallback(int32_t handle, uint32_t dataType, uint8_t* payload, uint32_t size,
                        void* user) {
    constexpr uint32_t kStreamEnd = 3;
    if (user && dataType == kStreamEnd) static_cast<FramePipeline*>(user)->EndOfStream(handle);
    if (!user || dataType != 2 || size == 0 || !payload) return;
    static_cast<FramePipeline*>(user)->PushStreamData(payload, size);
}

int WorkerThreadProc(FramePipeline* pipeline) {
    if (pipeline) pipeline->WorkerLoop();
    return 1;
}

void FramePipeline::Discard(int32_t n) {
    m_nStart += n;
    m_nAssembled -= n;
    // A few bytes left go to the front at once, for little; an image stays where it stands, since
    // the frame's steps read it in place.
    if (m_nAssembled <= kPortion) {
        std::memmove(m_pAssembly.get(), Held(), m_nAssembled);
        m_nStart = 0;
    }
}

void FramePipeline::WorkerLoop() {
    while (m_bWorkerRun.load(std::memory_order_relaxed)) {
        const PassResult result = RunPass();
        if (result == PassResult::kStop) return;
        if (result == PassResult::kIdle) {
            // Nothing came and nothing moved: rest until the stream brings more, briefly, so that
            // a cleared run flag still ends the thread within one pass.
            m_nIdlePasses.fetch_add(1, std::memory_order_release);
            m_pRing->WaitForData(kIdleWait);
        }
    }
}

FramePipeline::PassResult FramePipeline::RunPass() {
    if (!m_pAssembly) {
        m_pAssembly = AllocateFrameBuffer();
        if (!m_pAssembly) return PassResult::kStop;
    }
    // A buffer full of bytes that hold no frame is emptied; the worker goes on.
    if (m_nAssembled == kFrameBufferSize) {
        std::memset(m_pAssembly.get(), 0, kFrameBufferSize);
        m_nAssembled = m_nStart = 0;
    }
    if (!m_pRing) return PassResult::kStop;

    const int32_t portion = std::min(kPortion, kFrameBufferSize - m_nAssembled);
    // The held bytes move to the front only when the next portion would not fit behind them.
    if (m_nStart + m_nAssembled + portion > kFrameBufferSize) {
        std::memmove(m_pAssembly.get(), Held(), m_nAssembled);
        m_nStart = 0;
    }
    const int32_t popped = m_pRing->Pop(m_pAssembly.get() + m_nStart + m_nAssembled, portion);
    if (popped > 0) m_nAssembled += popped;

    const int32_t before = m_nAssembled;
    const int64_t frameBytes =
        2 * static_cast<int64_t>(m_header.m_nWidth) * m_header.m_nHeight + kFrameHeaderSize;
    if (m_nAssembled >= frameBytes && ExtractFrame()) {
        m_nFramesAccepted.fetch_add(1, std::memory_order_relaxed);
        UpdateReadouts();
        if (m_header.m_nFrameFormat == 4 || m_header.m_nFrameFormat == 8) {
            ProcessFrame();
            if (m_pDisplay && m_pSink) m_pSink->ShowLiveFrame(m_DisplayFrame, m_pGray.get());
        }
        return PassResult::kWorked;
    }
    return popped <= 0 && m_nAssembled == before ? PassResult::kIdle : PassResult::kWorked;
}

bool FramePipeline::ExtractFrame() {
    if (!m_pAssembly || m_nAssembled == 0) return false;
    const uint8_t* base = Held();
    const int32_t last = m_nAssembled - kFrameHeaderSize;  // last position a header can start at

    // Only a position holding the first magic byte can start a header, so memchr skips the rest.
    int32_t p = 0;
    bool found = false;
    while (p <= last) {
        const void* hit = std::memchr(base + p, 0x78, static_cast<size_t>(last - p + 1));
        if (!hit) break;
        p = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - base);
        if (ParseFrameHeader(base + p, m_header)) {
            found = true;
            break;
        }
        ++p;
    }
    if (!found) {
        // The last 55 bytes may hold the beginning of a header and stay.
        if (last >= 0) Discard(last + 1);
        return false;
    }

    const int32_t n = 2 * m_header.m_nWidth * m_header.m_nHeight;
    if (m_nAssembled - p - kFrameHeaderSize < n) {
        Discard(p);
        return false;
    }
    if (m_header.m_bCrcPresent &&
        FrameCrc32(base + p + kFrameHeaderSize, n) != m_header.m_nFrameCrc) {
        m_nCrcDrops.fetch_add(1, std::memory_order_relaxed);
        Discard(p + kFrameHeaderSize + n);
        return false;
    }
    Discard(p + kFrameHeaderSize);
    return true;
}

void FramePipeline::UpdateReadouts() {
    if (!m_pAssembly || m_header.m_nWidth <= 0 || m_header.m_nHeight <= 0 || !m_pSink) return;
    ReadoutUpdate update{m_header.m_nFrameFormat, m_header.m_nWidth, m_header.m_nHeight, {}};
    if (const auto params = ReadDeviceParams(Held(), m_header.m_nWidth, m_header.m_nHeight)) {
        FormatReadouts(*params, update.texts);
    } else {
        ClearReadouts(update.texts);
    }
    m_pSink->UpdateReadouts(update);
}

void FramePipeline::ProcessFrame() {
    if (!m_pAssembly) return;
    const int32_t width = m_header.m_nWidth, height = m_header.m_nHeight;
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t imageBytes = 2 * pixels;
    // Records and snapshots take the received bytes where the image stands in the assembly
    // buffer, until the next pass. The gain control reads them there too, unless "HightoLow" asks
    // for each sample's two bytes exchanged (a copy that swaps on the way) or the image stands at
    // an odd address.
    const uint8_t* held = Held();
    const uint16_t* samples = reinterpret_cast<const uint16_t*>(held);
    const bool swap = m_bHighToLow.load(std::memory_order_relaxed);
    if (swap || reinterpret_cast<uintptr_t>(held) % alignof(uint16_t) != 0) {
        if (!m_pImage && !(m_pImage = AllocateFrameBuffer())) return;
        if (swap) {
            CopySwapped(held, m_pImage.get(), pixels);
        } else {
            std::memcpy(m_pImage.get(), held, imageBytes);
        }
        samples = reinterpret_cast<const uint16_t*>(m_pImage.get());
    }

    WriteRecord();
    SaveSnapshot();

    if (!m_pGray && !(m_pGray = AllocateFrameBuffer())) return;
    // Without a gain-control context the picture stays black.
    if (!EnsureAgc()) std::memset(m_pGray.get(), 0, pixels);
    AGC_Process(m_hAgc, samples, m_pGray.get());

    if (!m_pDisplay && !(m_pDisplay = AllocateFrameBuffer())) return;
    uint8_t* out = m_pDisplay.get();
    const uint8_t* gray = m_pGray.get();
    for (size_t i = 0; i < pixels; ++i) {
        out[2 * i] = 0x80;
        out[2 * i + 1] = gray[i];
    }
    m_DisplayFrame = {m_pDisplay.get(), width, height};
}

bool FramePipeline::EnsureAgc() {
    const int32_t width = m_header.m_nWidth, height = m_header.m_nHeight;
    // The context is made for one frame size; a frame of another size (a new camera) gets a new
    // one, in the mode chosen last.
    if (!m_hAgc || width != m_nAgcWidth || height != m_nAgcHeight) {
        AgcParams params{width, height};
        int32_t size = 0;
        if (AGC_GetMemSize(&params, &size) != 0) return false;
        if (!m_pAgcMemory) {
            m_pAgcMemory.reset(new (std::nothrow) uint8_t[size]);
            if (!m_pAgcMemory) return false;
        }
        m_hAgc = nullptr;
        AgcHandle handle = nullptr;
        if (AGC_Create(&params, m_pAgcMemory.get(), size, &handle) != 0) return false;
        m_hAgc = handle;
        m_nAgcWidth = width;
        m_nAgcHeight = height;
        m_nAgcModeInEffect = AGC_MODE_LINE;
        g_bAgcReady.store(true);
    }
    // A mode chosen on the GUI thread takes effect here, between two conversions.
    const int32_t mode = m_nAgcMode.load(std::memory_order_relaxed);
    if (mode != m_nAgcModeInEffect && AGC_SetMode(m_hAgc, mode) == 0) m_nAgcModeInEffect = mode;
    return true;
}

void FramePipeline::SetAgcMode(int32_t mode) {
    if (mode < AGC_MODE_LINE || mode > AGC_MODE_SPECIAL) return;
    m_nAgcMode.store(mode);
}

void FramePipeline::SetStoragePath(const std::string& path) {
    std::lock_guard lock(m_recordLock);
    m_strStoragePath = path;
}

std::string FramePipeline::StoragePath() {
    std::lock_guard lock(m_recordLock);
    return m_strStoragePath;
}

std::string FramePipeline::RecordFileName() {
    std::lock_guard lock(m_recordLock);
    return m_pRecordFile ? m_strRecordName : std::string();
}

void FramePipeline::StartSnapshots(int32_t count) {
    uint64_t state = m_nSnapState.load();
    uint64_t next;
    do {
        next = ((SnapSeries(state) + 1) << kSnapSeriesShift) | kSnapPending |
               static_cast<uint32_t>(count);
    } while (!m_nSnapState.compare_exchange_weak(state, next));
}

bool FramePipeline::SnapshotsPending() const {
    return (m_nSnapState.load() & kSnapPending) != 0;
}

int32_t FramePipeline::SnapshotsLeft() const {
    return SnapCount(m_nSnapState.load());
}

int32_t FramePipeline::SwitchRecordFile() {
    std::lock_guard lock(m_recordLock);
    if (!m_bRecording.load()) return CloseRecordFileLocked();
    const bool text = m_bCenterAndTemp.load();
    OpenRecordFileLocked(m_strStoragePath + kestrix::RecordFileName(CurrentLocalTime(), text),
                         text);
    return 0;
}

std::optional<FileFailure> FramePipeline::RecordFileFailure() {
    std::lock_guard lock(m_recordLock);
    if (!m_bRecordFailed) return std::nullopt;
    return m_recordFailure;
}

bool FramePipeline::OpenRecordFile(const std::string& path, bool text) {
    std::lock_guard lock(m_recordLock);
    return OpenRecordFileLocked(path, text);
}

FramePipeline::RecordFile::~RecordFile() {
    CloseFile(file);
}

bool FramePipeline::OpenRecordFileLocked(const std::string& path, bool text) {
    m_pRecordFile.reset();
    const FileHandle file = CreateUniqueFile(path, &m_strRecordName);
    m_bRecordFailed = file < 0;
    if (file < 0) {
        m_recordFailure = {path, LastFileError()};
        return false;
    }
    m_pRecordFile = std::make_shared<RecordFile>(file);
    if (text) WriteAll(file, TextRecordHeader().data(), TextRecordHeader().size());
    return true;
}

int32_t FramePipeline::CloseRecordFileLocked() {
    if (!m_pRecordFile && !m_bRecordFailed) return 0;
    // Closed here, or by the worker when it is writing its last record into it.
    m_pRecordFile.reset();
    m_bRecordFailed = false;
    m_strRecordName.clear();
    return 1;
}

void FramePipeline::WriteRecord() {
    if (!m_bRecording.load(std::memory_order_relaxed) ||
        !m_bWritePending.load(std::memory_order_relaxed) || !m_pAssembly) {
        return;
    }
    // The GUI thread clears the recording flag before it lets the file go, and the file stays
    // open while this holds it.
    std::shared_ptr<RecordFile> file;
    {
        std::lock_guard lock(m_recordLock);
        if (!m_bRecording.load() || (!m_pRecordFile && !m_bRecordFailed)) return;
        // Taken before the write, so that a tick landing during it is due for the next frame.
        if (!m_bWritePending.exchange(false)) return;
        file = m_pRecordFile;
    }
    if (!file) return;  // the file could not be created: the record is lost
    const int32_t width = m_header.m_nWidth, height = m_header.m_nHeight;
    bool written;
    if (m_bCenterAndTemp.load(std::memory_order_relaxed)) {
        char line[kMaxTextRecordLine];
        const int n = FormatTextRecord(Held(), width, height, line);
        written = WriteAll(file->file, line, static_cast<size_t>(n));
    } else {
        written = WriteAll(file->file, Held(), 2 * static_cast<size_t>(width) * height);
    }
    if (written) m_nRecordsWritten.fetch_add(1, std::memory_order_relaxed);
}

void FramePipeline::SaveSnapshot() {
    uint64_t state = m_nSnapState.load();
    if (!(state & kSnapPending)) return;
    if (SnapSeries(state) != m_nSeriesSeen) {
        m_nSeriesSeen = SnapSeries(state);
        m_nSeriesTaken = m_nSeriesWritten = 0;
    }
    if (SnapCount(state) <= 0) {
        // Only the series read ends: a press in between has started a new one, which stays.
        if (!m_nSnapState.compare_exchange_strong(state, state & ~kSnapPending)) return;
        // Handed to the GUI, never waited on: a worker held up by a message box would let the
        // ring overflow and a running recording lose its records.
        if (m_pSink) {
            m_pSink->ShowNotice(
                SnapshotSeriesNotice(m_nSeriesWritten, m_nSeriesTaken, StoragePath()).c_str());
        }
        return;
    }
    if (!m_pAssembly) return;
    // A snapshot that cannot be written costs that frame's file; the series goes on and its end
    // notice says so.
    const std::string path = StoragePath() + SnapshotFileName(CurrentLocalTime());
    const FileHandle file = CreateUniqueFile(path, nullptr);
    bool written = false;
    if (file >= 0) {
        const size_t bytes = 2 * static_cast<size_t>(m_header.m_nWidth) * m_header.m_nHeight;
        written = WriteAll(file, Held(), bytes);
        written = CloseFile(file) && written;
    }
    ++m_nSeriesTaken;
    if (written) ++m_nSeriesWritten;
    (written ? m_nSnapshotsWritten : m_nSnapshotsFailed).fetch_add(1, std::memory_order_relaxed);
    // Counts down the series read; one a press has replaced meanwhile keeps its whole count.
    m_nSnapState.compare_exchange_strong(state, state - 1);
}

}  // namespace kestrix
