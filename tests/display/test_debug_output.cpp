// Debugger output goes to standard error only when ORVENNA_DEBUG is set. The setting is read
// once per process, so each case runs in a fresh process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/ddraw_layer.h"

namespace {

class DebugOutputTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(DebugOutputTest, WritesTheTextToStandardErrorWhenAskedTo) {
    EXPECT_EXIT(
        {
            setenv("ORVENNA_DEBUG", "1", 1);
            OutputDebugStringA("main surface blt success!\n");
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^main surface blt success!\n$");
}

TEST_F(DebugOutputTest, StaysSilentOtherwise) {
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
