// A test fixture that puts a fresh fake DirectDraw backend under the library and checks, when
// the test ends, that releasing everything leaves no DirectDraw object alive.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ddraw_engine.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/fake_backend.h"

namespace orvenna {

class FakeDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pFake = std::make_shared<platform::FakeBackend>();
        testing::UseBackendForTesting(m_pFake);
    }
    void TearDown() override {
        testing::ResetLibraryForTesting();
        EXPECT_EQ(m_pFake->LiveObjects(), 0) << "DirectDraw objects left after the release";
        testing::UseBackendForTesting(nullptr);
    }

    platform::FakeBackend& Fake() { return *m_pFake; }

    // A new handle with a DirectDraw engine.
    int32_t NewHandle() {
        int32_t handle = -1;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        return handle;
    }
    static DDrawDisplayEngine* EngineOf(int32_t handle) {
        return dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    }

    std::shared_ptr<platform::FakeBackend> m_pFake;
};

}  // namespace orvenna
