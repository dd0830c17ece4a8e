// Reference counting for the backends' COM-style objects: Release deletes at zero.
#pragma once

#include <atomic>
#include <cstring>

#include "platform/ddraw_layer.h"

namespace orvenna::platform {

// Implements IUnknown for `Interface`; the concrete class derives from ComObject<Interface>.
template <typename Interface>
class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_nRefs;
        if (left == 0) Destroy();
        return left;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    virtual void Destroy() { delete this; }

  private:
    std::atomic<ULONG> m_nRefs{1};  // any thread; the library lock serialises callers anyway
};

inline bool IsZeroGuid(const GUID* guid) {
    static const GUID kZero{};
    return guid == nullptr || std::memcmp(guid, &kZero, sizeof(GUID)) == 0;
}

}  // namespace orvenna::platform
