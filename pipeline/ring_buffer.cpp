// FrameRingBuffer: storage of ten units, split copies at the end of the storage, half-full events.
#include "ring_buffer.h"

#include <cstring>
#include <new>

namespace kestrix {

int32_t FrameRingBuffer::Init(int32_t unit, AutoResetEvent* spaceEvent,
                              AutoResetEvent* dataEvent) {
    if (unit <= 0 || !spaceEvent || !dataEvent) return -1;
    if (static_cast<int64_t>(unit) * 10 > INT32_MAX) return -1;
    const int32_t capacity = unit * 10;

    std::lock_guard lock(m_csLock);
    m_pData.reset();
    m_nUnit = m_nCapacity = m_nWritePos = m_nReadPos = 0;
    m_pData.reset(new (std::nothrow) uint8_t[capacity]);
    if (!m_pData) return -3;
    std::memset(m_pData.get(), 0, capacity);
    m_nUnit = unit;
    m_nCapacity = capacity;
    m_hSpaceEvent = spaceEvent;
    m_hDataEvent = dataEvent;
    return 0;
}

int32_t FrameRingBuffer::Push(const void* source, int32_t length) {
    if (!source || length < 0) return -1;
    std::unique_lock lock(m_csLock);
    if (length > m_nUnit) return -1;
    if (length > m_nCapacity - 1 - FillLocked()) return -2;

    const auto* src = static_cast<const uint8_t*>(source);
    const int32_t first = std::min(length, m_nCapacity - m_nWritePos);
    std::memcpy(m_pData.get() + m_nWritePos, src, first);
    std::memcpy(m_pData.get(), src + first, length - first);
    m_nWritePos = first < length ? length - first : m_nWritePos + length;
    if (m_nWritePos == m_nCapacity) m_nWritePos = 0;

    if (FillLocked() > 5 * m_nUnit) m_hDataEvent->Set();
    const bool wake = m_nDataWaiters > 0 && length > 0;
    lock.unlock();
    if (wake) m_cvData.notify_one();
    return length;
}

int32_t FrameRingBuffer::Pop(void* destination, int32_t wanted) {
    if (!destination || wanted < 0) return -1;
    std::lock_guard lock(m_csLock);
    if (wanted > m_nUnit) return -1;
    if (!m_pData) return 0;

    auto* dst = static_cast<uint8_t*>(destination);
    int32_t first, second = 0;
    if (m_nReadPos <= m_nWritePos) {
        first = std::min(wanted, m_nWritePos - m_nReadPos);
    } else if (m_nReadPos + wanted <= m_nCapacity) {
        first = wanted;
    } else {
        first = m_nCapacity - m_nReadPos;
        second = std::min(wanted - first, m_nWritePos);
    }
    std::memcpy(dst, m_pData.get() + m_nReadPos, first);
    if (second > 0) std::memcpy(dst + first, m_pData.get(), second);
    m_nReadPos = second > 0 ? second : m_nReadPos + first;
    if (m_nReadPos == m_nCapacity) m_nReadPos = 0;

    // An uninitialised buffer has no unit and so refuses every non-empty pop above; an empty pop
    // of it has no event to signal.
    if (m_hSpaceEvent && FillLocked() < 5 * m_nUnit) m_hSpaceEvent->Set();
    return first + second;
}

int32_t FrameRingBuffer::Release() {
    std::lock_guard lock(m_csLock);
    if (m_nCapacity == 0) return -1;
    m_pData.reset();
    m_nCapacity = m_nUnit = m_nWritePos = m_nReadPos = 0;
    m_hSpaceEvent = m_hDataEvent = nullptr;
    return 0;
}

bool FrameRingBuffer::WaitForData(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_csLock);
    ++m_nDataWaiters;
    const bool ready = m_cvData.wait_for(lock, timeout, [this] { return FillLocked() > 0; });
    --m_nDataWaiters;
    return ready;
}

int32_t FrameRingBuffer::FillLevel() {
    std::lock_guard lock(m_csLock);
    return FillLocked();
}

int32_t FrameRingBuffer::Capacity() {
    std::lock_guard lock(m_csLock);
    return m_nCapacity;
}

}  // namespace kestrix
