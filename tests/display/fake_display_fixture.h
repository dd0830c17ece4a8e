// A test fixture that puts a fresh fake DirectDraw backend under the library and checks, when
// the test ends, that releasing everything leaves no DirectDraw object alive.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

#include "ddraw_engine.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "pixel_formats.h"
#include "platform/fake_backend.h"

// Rectangles compared and printed in expectations.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& os, const RECT& r) {
    return os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace orvenna {

class FakeDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override { UseNewFake(); }
    void TearDown() override {
        ReleaseAll();
        testing::UseBackendForTesting(nullptr);
    }
    void ReleaseAll() {
        testing::ResetLibraryForTesting();
        EXPECT_EQ(m_pFake->LiveObjects(), 0) << "DirectDraw objects left after the release";
    }
    // Starts again from an empty library on a fresh fake backend (for one row of a table).
    void UseNewFake() {
        if (m_pFake) ReleaseAll();
        m_pFake = std::make_shared<platform::FakeBackend>();
        testing::UseBackendForTesting(m_pFake);
    }

    platform::FakeBackend& Fake() { return *m_pFake; }

    // A new handle with a DirectDraw engine.
    int32_t NewHandle() {
        int32_t handle = -1;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        return handle;
    }
    // A new handle on a new window whose client area is `client` on the screen.
    int32_t NewHandleOn(RECT client, HWND* window = nullptr) {
        const HWND hwnd = Fake().AddWindow(client);
        const int32_t handle = NewHandle();
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, hwnd), ORVD_OK);
        if (window != nullptr) *window = hwnd;
        return handle;
    }
    // Shows a frame of bytes without a period that a row length could hide a shifted row behind.
    int32_t Show(int32_t handle, unsigned format, uint32_t width, uint32_t height) {
        m_frameBytes.assign(std::max<size_t>(FrameByteCount(format, width, height), 1), 0);
        for (size_t i = 0; i < m_frameBytes.size(); ++i) {
            m_frameBytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
        }
        tagORVD_FRAME frame{m_frameBytes.data(), 0, format, width, height};
        return ORVD_DisplayFrame(handle, &frame);
    }
    static DDrawDisplayEngine* EngineOf(int32_t handle) {
        return dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    }

    std::shared_ptr<platform::FakeBackend> m_pFake;
    std::vector<uint8_t> m_frameBytes;
};

}  // namespace orvenna
