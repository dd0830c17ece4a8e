// FrameRingBuffer: the single-producer, single-consumer byte ring between the SDK's stream thread
// and the worker. It moves opaque bytes first in, first out, never more than one unit at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "auto_reset_event.h"

namespace kestrix {

class FrameRingBuffer {
public:
    FrameRingBuffer() = default;
    ~FrameRingBuffer() { Release(); }
    FrameRingBuffer(const FrameRingBuffer&) = delete;
    FrameRingBuffer& operator=(const FrameRingBuffer&) = delete;

    // 0; -1 for a unit that is not positive, a storage size past 32 bits or a null event; -3 when
    // the storage cannot be allocated. A second Init drops the earlier storage and starts empty.
    int32_t Init(int32_t unit, AutoResetEvent* spaceEvent, AutoResetEvent* dataEvent);
    // Bytes stored (the length); -1 for a null source or a length outside 0..unit; -2 when the
    // free space is too small (nothing is stored).
    int32_t Push(const void* source, int32_t length);
    // Bytes copied out, 0 (empty) up to `wanted`; -1 for a null destination or `wanted` outside
    // 0..unit.
    int32_t Pop(void* destination, int32_t wanted);
    // 0; -1 when never initialised or already released.
    int32_t Release();

    // Waits until the buffer holds a byte or the timeout passes; true when data is there. Lets the
    // consumer rest on an empty ring instead of spinning.
    bool WaitForData(std::chrono::milliseconds timeout);

    int32_t FillLevel();
    int32_t Capacity();

private:
    int32_t FillLocked() const {
        return m_nWritePos >= m_nReadPos ? m_nWritePos - m_nReadPos
                                         : m_nWritePos - m_nReadPos + m_nCapacity;
    }

    // All fields are guarded by m_csLock; the producer and the consumer hold it for each call.
    std::unique_ptr<uint8_t[]> m_pData;
    int32_t m_nCapacity = 0;
    int32_t m_nUnit = 0;
    int32_t m_nWritePos = 0;
    int32_t m_nReadPos = 0;
    AutoResetEvent* m_hSpaceEvent = nullptr;  // borrowed; set after a pop leaves it below half
    AutoResetEvent* m_hDataEvent = nullptr;   // borrowed; set after a push leaves it above half
    std::mutex m_csLock;
    std::condition_variable m_cvData;  // notified by a push while the consumer waits
    int m_nDataWaiters = 0;            // consumers inside WaitForData
};

}  // namespace kestrix
