// ComPtr: the one owner of a COM object reference; Release on reset and destruction.
#pragma once

#include <utility>

#include "platform/ddraw_layer.h"

namespace orvenna {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(T* object) : m_p(object) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.m_p, nullptr));
        return *this;
    }
    ~ComPtr() { Reset(); }

    // A second owner of `object`: adds a reference.
    static ComPtr Share(T* object) {
        if (object != nullptr) object->AddRef();
        return ComPtr(object);
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Releases the reference held (if any) and takes `object` without adding a reference.
    void Reset(T* object = nullptr) {
        T* old = std::exchange(m_p, object);
        if (old != nullptr) old->Release();
    }
    // For out-parameters: releases what is held and hands out the slot to fill.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &m_p;
    }

  private:
    T* m_p = nullptr;
};

}  // namespace orvenna
