// The worker loop, frame assembly and the per-frame steps of the pipeline.
#include "frame_pipeline.h"

#include <chrono>
#include <cstring>
#include <new>

#include "recorder.h"

namespace kestrix {
namespace {

constexpr int32_t kPortion = 2000;
constexpr int32_t kRingUnit = 2000000;
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

}  // namespace

FramePipeline::FramePipeline(FrameSink* sink) : m_pSink(sink) {}

FramePipeline::~FramePipeline() {
    StopWorker();
    std::lock_guard lock(m_recordLock);
    CloseRecordFileLocked();
}

void FramePipeline::PrepareRing() {
    if (!m_pRing) m_pRing = std::make_unique<FrameRingBuffer>();
    m_pRing->Init(kRingUnit, &m_hEventBelowHalf, &m_hEventAboveHalf);
}

void FramePipeline::StartWorker() {
    StopWorker();
    PrepareRing();
    m_bWorkerRun.store(true);
    m_worker = std::thread(WorkerThreadProc, this);
}

void FramePipeline::StopWorker() {
    m_bWorkerRun.store(false);
    if (m_worker.joinable()) m_worker.join();
}

bool FramePipeline::PushStreamData(const uint8_t* payload, uint32_t size) {
    if (!m_pRing) return false;
    if (size > static_cast<uint32_t>(INT32_MAX)) return true;  // larger than any unit: dropped
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_pRing->Push(payload, static_cast<int32_t>(size)) != -2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void StreamDataCallback(int32_t /*handle*/, uint32_t dataType, uint8_t* payload, uint32_t size,
                        void* user) {
    if (!user || dataType != 2 || size == 0 || !payload) return;
    static_cast<FramePipeline*>(user)->PushStreamData(payload, size);
}

int WorkerThreadProc(FramePipeline* pipeline) {
    if (pipeline) pipeline->WorkerLoop();
    return 1;
}

void FramePipeline::Discard(int32_t n) {
    m_nAssembled -= n;
    std::memmove(m_pAssembly.get(), m_pAssembly.get() + n, m_nAssembled);
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
        m_nAssembled = 0;
    }
    if (!m_pRing) return PassResult::kStop;

    const int32_t portion = std::min(kPortion, kFrameBufferSize - m_nAssembled);
    const int32_t popped = m_pRing->Pop(m_pAssembly.get() + m_nAssembled, portion);
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
    const uint8_t* base = m_pAssembly.get();
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
    if (const auto params =
            ReadDeviceParams(m_pAssembly.get(), m_header.m_nWidth, m_header.m_nHeight)) {
        FormatReadouts(*params, update.texts);
    } else {
        ClearReadouts(update.texts);
    }
    m_pSink->UpdateReadouts(update);
}

void FramePipeline::ProcessFrame() {
    if (!m_pAssembly) return;
    if (!m_pImage && !(m_pImage = AllocateFrameBuffer())) return;
    const int32_t width = m_header.m_nWidth, height = m_header.m_nHeight;
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t imageBytes = 2 * pixels;
    // The copy exchanges each sample's two bytes on the way when "HightoLow" is ticked, in the
    // same pass. Records and snapshots take the received bytes from the assembly buffer, where
    // the image stands until the next pass.
    if (m_bHighToLow.load(std::memory_order_relaxed)) {
        CopySwapped(m_pAssembly.get(), m_pImage.get(), pixels);
    } else {
        std::memcpy(m_pImage.get(), m_pAssembly.get(), imageBytes);
    }
    // The bytes behind the image stay zero; only what an earlier, larger frame left needs clearing.
    if (m_nImageBytes > imageBytes) {
        std::memset(m_pImage.get() + imageBytes, 0, m_nImageBytes - imageBytes);
    }
    m_nImageBytes = imageBytes;

    WriteRecord();
    SaveSnapshot();

    if (!m_pGray && !(m_pGray = AllocateFrameBuffer())) return;
    // Without a gain-control context the picture stays black.
    if (!EnsureAgc()) std::memset(m_pGray.get(), 0, pixels);
    AGC_Process(m_hAgc, reinterpret_cast<const uint16_t*>(m_pImage.get()), m_pGray.get());

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
    return m_hRecordFile >= 0 ? m_strRecordName : std::string();
}

void FramePipeline::StartSnapshots(int32_t count) {
    m_nSnapCount.store(count);
    m_bSnapPending.store(true);
}

int32_t FramePipeline::SwitchRecordFile() {
    std::lock_guard lock(m_recordLock);
    if (!m_bRecording.load()) return CloseRecordFileLocked();
    const bool text = m_bCenterAndTemp.load();
    OpenRecordFileLocked(m_strStoragePath + kestrix::RecordFileName(CurrentLocalTime(), text),
                         text);
    return 0;
}

bool FramePipeline::OpenRecordFile(const std::string& path, bool text) {
    std::lock_guard lock(m_recordLock);
    return OpenRecordFileLocked(path, text);
}

bool FramePipeline::OpenRecordFileLocked(const std::string& path, bool text) {
    if (m_hRecordFile >= 0) CloseFile(m_hRecordFile);
    const FileHandle file = CreateUniqueFile(path, &m_strRecordName);
    m_hRecordFile = file >= 0 ? file : kFailedRecordFile;
    if (file >= 0 && text) WriteAll(file, TextRecordHeader().data(), TextRecordHeader().size());
    return file >= 0;
}

int32_t FramePipeline::CloseRecordFileLocked() {
    if (m_hRecordFile == kNoRecordFile) return 0;
    const bool closed = m_hRecordFile < 0 || CloseFile(m_hRecordFile);
    m_hRecordFile = kNoRecordFile;
    m_strRecordName.clear();
    return closed ? 1 : 0;
}

void FramePipeline::WriteRecord() {
    if (!m_bRecording.load(std::memory_order_relaxed) ||
        !m_bWritePending.load(std::memory_order_relaxed) || !m_pAssembly) {
        return;
    }
    // The GUI thread closes the file under the same lock after clearing the recording flag, so a
    // record never goes to a file that is being or has been closed.
    std::lock_guard lock(m_recordLock);
    if (!m_bRecording.load() || m_hRecordFile == kNoRecordFile) return;
    if (m_hRecordFile >= 0) {
        const int32_t width = m_header.m_nWidth, height = m_header.m_nHeight;
        bool written;
        if (m_bCenterAndTemp.load(std::memory_order_relaxed)) {
            char line[kMaxTextRecordLine];
            const int n = FormatTextRecord(m_pAssembly.get(), width, height, line);
            written = WriteAll(m_hRecordFile, line, static_cast<size_t>(n));
        } else {
            written =
                WriteAll(m_hRecordFile, m_pAssembly.get(), 2 * static_cast<size_t>(width) * height);
        }
        if (written) m_nRecordsWritten.fetch_add(1, std::memory_order_relaxed);
    }
    m_bWritePending.store(false);
}

void FramePipeline::SaveSnapshot() {
    if (!m_bSnapPending.load(std::memory_order_relaxed)) return;
    if (m_nSnapCount.load() <= 0) {
        m_bSnapPending.store(false);
        // Handed to the GUI, never waited on: a worker held up by a message box would let the
        // ring overflow and a running recording lose its records.
        if (m_pSink) m_pSink->ShowNotice(kSnapshotFinishedText);
        return;
    }
    if (!m_pAssembly) return;
    // A snapshot that cannot be written costs that frame's file; the series goes on.
    const std::string path = StoragePath() + SnapshotFileName(CurrentLocalTime());
    const FileHandle file = CreateUniqueFile(path, nullptr);
    if (file >= 0) {
        const size_t bytes = 2 * static_cast<size_t>(m_header.m_nWidth) * m_header.m_nHeight;
        if (WriteAll(file, m_pAssembly.get(), bytes)) {
            m_nSnapshotsWritten.fetch_add(1, std::memory_order_relaxed);
        }
        CloseFile(file);
    }
    m_nSnapCount.fetch_sub(1);
}

}  // namespace kestrix
