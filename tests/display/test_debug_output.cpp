// Debugger output stays off standard error unless ORVENNA_DEBUG is set (the texts with it set are
// checked where they are written, in test_presentation.cpp). The setting is read once per
// process, so the case runs in a fresh process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/ddraw_layer.h"

namespace {

TEST(DebugOutput, StaysSilentUnlessAskedFor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("ORVENNA_DEBUG");
            OutputDebugStringA("main surface blt fail!\n");
            OutputDebugStringA(nullptr);
            std::fputs("end", stderr);
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^end$");
}

}  // namespace
