// The emulator's frames: header, CRC, byte order, parameter row, focus blur, replay, options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "camera.h"
#include "dump.h"
#include "focus_motor.h"
#include "frame_format.h"
#include "options.h"
#include "param_row.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::unique_ptr<camsim::Camera> MakeCamera(const camsim::CameraOptions& o) {
    std::string error;
    auto camera = camsim::Camera::Create(o, error);
    EXPECT_TRUE(camera) << error;
    return camera;
}

uint16_t Word(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

TEST(CameraFrames, HeaderCrcAndByteOrderFollowTheOptionsWhileTheParameterRowIsLittleEndian) {
    struct Case {
        const char* name;
        bool crcBlocks;
        double errorRate;
        uint16_t format;
        bool bigEndian;
    } cases[] = {
        {"defaults", true, 0.0, 4, true},
        {"format 8", true, 0.0, 8, true},
        {"no CRC block", false, 0.0, 4, true},
        {"every CRC wrong", true, 1.0, 4, true},
        {"little-endian pixels", true, 0.0, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto camera = MakeCamera({.width = 96,
                                  .height = 64,
                                  .formatCode = c.format,
                                  .bigEndianPixels = c.bigEndian,
                                  .crcBlocks = c.crcBlocks,
                                  .crcErrorRate = c.errorRate,
                                  .log = false});
        for (uint64_t i = 0; i < 3; ++i) {
            const auto frame = camera->FrameAt(i);
            ASSERT_EQ(frame->size(), 56u + 2 * 96 * 64);
            kestrix::FrameHeaderState state;
            ASSERT_TRUE(kestrix::ParseFrameHeader(frame->data(), state));
            EXPECT_EQ(state.m_nWidth, 96);
            EXPECT_EQ(state.m_nHeight, 64);
            EXPECT_EQ(state.m_nFrameFormat, c.format);
            EXPECT_EQ(state.m_bCrcPresent, c.crcBlocks);
            if (c.crcBlocks) {
                const bool valid = kestrix::FrameCrc32(frame->data() + 56, 2 * 96 * 64) == state.m_nFrameCrc;
                EXPECT_EQ(valid, c.errorRate == 0.0);
            }
        }
        // Every pixel outside the parameter row is a 14-bit value in the chosen order; read the
        // other way round most are not.
        const auto frame = camera->FrameAt(5);
        const uint8_t* image = frame->data() + 56;
        int fits = 0, fitsSwapped = 0;
        for (int i = 0; i < 96 * 64; ++i) {
            if (i / 96 == 62 && i % 96 < 14) continue;
            fits += Word(image + 2 * i, c.bigEndian) <= 16383;
            fitsSwapped += Word(image + 2 * i, !c.bigEndian) <= 16383;
        }
        EXPECT_EQ(fits, 96 * 64 - 14);
        EXPECT_LT(fitsSwapped, 96 * 64 / 2);
        const auto params = kestrix::ReadDeviceParams(image, 96, 64);
        ASSERT_TRUE(params);
        EXPECT_NEAR(kestrix::DecodeTemperature(params->focalPlaneTemp), 30.0f, 2.0f);
        EXPECT_NEAR(kestrix::DecodeTemperature(params->cavityTemp), 33.5f, 1.5f);
        EXPECT_NEAR(kestrix::DecodeTemperature(params->pcbTemp), 41.0f, 2.5f);
        EXPECT_EQ(params->row, 64);
        EXPECT_EQ(params->column, 96);
        EXPECT_NEAR(params->bValue, 1250, 25);
        EXPECT_NEAR(params->integrationTime, 80, 7);
    }
}

TEST(CameraFrames, TemperaturesAreSignAndMagnitudeHundredths) {
    const struct {
        double celsius;
        uint16_t word;
    } cases[] = {{23.45, 0x0929}, {-23.45, 0x2929}, {0.0, 0x0000}, {81.91, 0x1FFF},
                 {120.0, 0x1FFF}, {-0.001, 0x0000}, {0.01, 0x0001}};
    for (const auto& c : cases) {
        EXPECT_EQ(camsim::EncodeTemperature(c.celsius), c.word) << c.celsius;
        EXPECT_NEAR(kestrix::DecodeTemperature(c.word), std::clamp(c.celsius, -81.91, 81.91),
                    0.006);
    }
}

// Sum of absolute differences of horizontal neighbours: falls as the picture blurs.
int64_t Sharpness(const camsim::Frame& frame, int w, int h) {
    int64_t sum = 0;
    const uint8_t* image = frame.data() + 56;
    for (int y = 0; y < h - 2; ++y) {
        for (int x = 1; x < w; ++x) {
            sum += std::abs(Word(image + 2 * (y * w + x), true) - Word(image + 2 * (y * w + x - 1), true));
        }
    }
    return sum;
}

TEST(CameraFrames, FocusMotorSharpensAndBlursThePictureMovesOnlyWhileHeldAndStopsAtItsEnds) {
    auto camera = MakeCamera({.width = 160, .height = 128, .log = false});
    camsim::FocusMotor& lens = camera->Focus();
    const auto now = Clock::now();
    const int64_t startBlur = Sharpness(*camera->FrameAt(0), 160, 128);
    // Hold "near" for exactly the time from the start position to best focus.
    const auto toBest = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(lens.Position(now) / camsim::FocusMotor::kStepsPerSecond));
    ASSERT_TRUE(lens.Command(camsim::FocusMotor::kNear, false, 1, now - toBest));
    ASSERT_TRUE(lens.Command(camsim::FocusMotor::kNear, true, 1, now));
    ASSERT_EQ(lens.Position(Clock::now()), 0);
    const int64_t sharp = Sharpness(*camera->FrameAt(1), 160, 128);
    ASSERT_TRUE(lens.Command(camsim::FocusMotor::kFar, false, 1, now - 4s));
    ASSERT_TRUE(lens.Command(camsim::FocusMotor::kFar, true, 1, now));
    const int64_t blurred = Sharpness(*camera->FrameAt(2), 160, 128);
    EXPECT_GT(sharp, startBlur);
    EXPECT_GT(startBlur, blurred);

    // A motor of its own from position 60: it moves only while held, and only to its ends.
    const auto t0 = Clock::now();
    camsim::FocusMotor motor(60);
    EXPECT_FALSE(motor.Command(12, false, 1, t0));
    ASSERT_TRUE(motor.Command(camsim::FocusMotor::kNear, false, 1, t0));
    EXPECT_EQ(motor.Position(t0 + 500ms), 30);
    ASSERT_TRUE(motor.Command(camsim::FocusMotor::kNear, true, 1, t0 + 500ms));
    EXPECT_EQ(motor.Position(t0 + 5s), 30);
    ASSERT_TRUE(motor.Command(camsim::FocusMotor::kFar, false, 2, t0 + 5s));
    motor.Release(1, t0 + 6s);  // not the holder: keeps moving
    EXPECT_EQ(motor.Position(t0 + 6s), 90);
    EXPECT_EQ(motor.Position(t0 + 60s), camsim::FocusMotor::kLimit);
    motor.Release(2, t0 + 6s);
    EXPECT_EQ(motor.Position(t0 + 60s), 90);
}

TEST(CameraFrames, ReplaySendsTheRecordedImagesVerbatimInALoopAndDumpWritesTheFrames) {
    char path[] = "/tmp/camsim-replay-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> images(3 * 2 * 20 * 10);
    for (size_t i = 0; i < images.size(); ++i) images[i] = static_cast<uint8_t>(i * 7 + i / 400);
    ASSERT_EQ(::write(fd, images.data(), images.size()), static_cast<ssize_t>(images.size()));
    ASSERT_EQ(::write(fd, "xyz", 3), 3);  // a torn last image is left out
    ::close(fd);

    camsim::CameraOptions o{.width = 20, .height = 10, .replayFile = path, .log = false};
    auto camera = MakeCamera(o);
    std::vector<uint8_t> stream;
    for (uint64_t i = 0; i < 5; ++i) {
        const auto frame = camera->FrameAt(i);
        const uint8_t* expected = images.data() + (i % 3) * 400;
        EXPECT_TRUE(std::equal(frame->begin() + 56, frame->end(), expected)) << i;
        kestrix::FrameHeaderState state;
        ASSERT_TRUE(kestrix::ParseFrameHeader(frame->data(), state));
        EXPECT_EQ(kestrix::FrameCrc32(expected, 400), state.m_nFrameCrc);
        stream.insert(stream.end(), frame->begin(), frame->end());
    }
    const std::string dump = std::string(path) + ".dump";
    std::string error;
    ASSERT_TRUE(camsim::DumpFrames(*camera, dump, 5, error)) << error;
    std::ifstream in(dump, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), stream);
    EXPECT_FALSE(camsim::DumpFrames(*camera, "/nonexistent-dir/x", 1, error));
    ::unlink(dump.c_str());

    // A recording cut short while it is replayed gives black images, not a crash.
    ASSERT_EQ(::truncate(path, 0), 0);
    const auto cut = camera->FrameAt(5);
    EXPECT_TRUE(std::all_of(cut->begin() + 56, cut->end(), [](uint8_t b) { return b == 0; }));
    o.width = 200;  // a file shorter than one image
    EXPECT_FALSE(camsim::Camera::Create(o, error));
    EXPECT_NE(error.find("no whole image"), std::string::npos);
    ::unlink(path);
}

TEST(CameraOptions, CommandLineIsCheckedWhole) {
    const struct {
        std::vector<std::string> args;
        camsim::ParseResult result;
    } cases[] = {
        {{"--help"}, camsim::ParseResult::Help},
        {{"--port", "9000", "--width=320", "--height", "256", "--fps", "60"},
         camsim::ParseResult::Run},
        {{"--chunk-min", "10", "--chunk-max", "20", "--drop-after", "3", "--seed", "9"},
         camsim::ParseResult::Run},
        {{"--dump", "/tmp/x", "--frames", "3"}, camsim::ParseResult::Run},
        {{"--dump", "/tmp/x"}, camsim::ParseResult::Error},
        {{"--port", "70000"}, camsim::ParseResult::Error},
        {{"--width", "12x"}, camsim::ParseResult::Error},
        {{"--width", "4096", "--height", "4096"}, camsim::ParseResult::Error},  // too big a frame
        {{"--fps", "0"}, camsim::ParseResult::Error},
        {{"--byte-order", "middle"}, camsim::ParseResult::Error},
        {{"--crc-error-rate", "1.5"}, camsim::ParseResult::Error},
        {{"--chunk-min", "30", "--chunk-max", "20"}, camsim::ParseResult::Error},
        {{"--chunk-max", "2000000"}, camsim::ParseResult::Error},
        {{"--port"}, camsim::ParseResult::Error},
        {{"--colour", "red"}, camsim::ParseResult::Error},
    };
    for (const auto& c : cases) {
        camsim::CameraOptions o;
        std::string error;
        EXPECT_EQ(camsim::ParseOptions(c.args, o, error), c.result)
            << ::testing::PrintToString(c.args) << error;
    }
    camsim::CameraOptions o;
    std::string error;
    ASSERT_EQ(camsim::ParseOptions({"--byte-order", "little", "--no-crc", "--crc-error-rate=0.25"},
                                   o, error),
              camsim::ParseResult::Run);
    EXPECT_FALSE(o.bigEndianPixels);
    EXPECT_FALSE(o.crcBlocks);
    EXPECT_EQ(o.crcErrorRate, 0.25);
    EXPECT_NE(camsim::HelpText().find("--crc-error-rate"), std::string::npos);
}

}  // namespace
