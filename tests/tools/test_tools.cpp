// kestrix-replay and kestrix-capture as a user runs them: arguments, exit codes, listings and the
// files they write. kestrix-capture talks to an emulator child process on a loopback port. Its
// live picture without a drawing library (the Windows build's) against Glintra's X11 picture path,
// and the encoder without libpng read back by libpng.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "camera_link.h"
#include "common/child_process.h"
#include "common/wait_until.h"
#include "live_picture.h"
#include "picture.h"
#include "png_encode.h"
#include "tool_runner.h"

namespace {

using namespace kx_tools_test;

using ToolsTest = ScratchDirTest;

TEST_F(ToolsTest, ReplayRefusesBadArgumentsAndUnreadableFiles) {
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "no stream file given"},
        {{"--chunk", "0", "x"}, "--chunk takes 1 to 2000000 bytes"},
        {{"--chunk", "2000001", "x"}, "--chunk takes 1 to 2000000 bytes"},
        {{"--agc", "bright", "x"}, "--agc takes line, histeq or special"},
        {{"--snapshots", "3", "x"}, "--snapshots and --storage go together"},
        {{"--text-log", "a", "--raw-log", "b", "x"}, "--text-log and --raw-log exclude each other"},
        {{dir + "/missing.bin"}, "cannot read " + dir + "/missing.bin: No such file or directory"},
        {{dir}, dir + " is a folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {KX_REPLAY};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunTool(args, dir);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_THAT(r.err, testing::StartsWith("kestrix-replay: " + c.says + "\n"));
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(ToolsTest, ReplayListsTheFramesAndWritesWhatThePanelWould) {
    const std::string stream = Dump({"--frames", "12", "--crc-error-rate", "0.25", "--seed", "5"});
    std::filesystem::create_directory(dir + "/snaps");
    const Result r =
        RunTool({KX_REPLAY, "--chunk", "777", "--gray", dir + "/gray", "--raw-log", dir + "/raw",
                 "--snapshots", "2", "--storage", dir + "/snaps", stream},
                dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 3u);
    ASSERT_LT(lines.size(), 12u);  // some frames carry a wrong CRC
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(std::to_string(i) + "\t4\t64\t48\t", 0), 0u) << lines[i];
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 10) << lines[i];
    }
    EXPECT_THAT(lines[0], HasSubstr("℃"));
    EXPECT_THAT(r.err, HasSubstr("frames accepted"));
    EXPECT_EQ(Files(dir + "/gray").size(), lines.size());
    EXPECT_EQ(std::filesystem::file_size(dir + "/gray/frame_0.pgm"),
              std::string("P5\n64 48\n255\n").size() + 64 * 48);
    EXPECT_EQ(std::filesystem::file_size(dir + "/raw"), lines.size() * 2 * 64 * 48);
    EXPECT_EQ(Files(dir + "/snaps").size(), 2u);
    EXPECT_THAT(r.err, HasSubstr("SnapShot finished..."));

    // The listing does not depend on how the bytes were chunked.
    const Result whole = RunTool({KX_REPLAY, "--chunk", "2000000", stream}, dir);
    EXPECT_EQ(whole.out, r.out);
}

TEST_F(ToolsTest, CaptureSaysWhatWentWrong) {
    kx_test::EmulatorProcess camera;
    ASSERT_TRUE(camera.Start(KX_CAMSIM));
    const std::string port = std::to_string(camera.Port());
    Result r = RunTool({KX_CAPTURE, "--port", port, "--password", "wrong", "--seconds", "1"}, dir);
    EXPECT_EQ(r.status, 4);
    EXPECT_THAT(r.err, HasSubstr("refused"));

    // A storage folder that is not there: nothing could be written, and why is said.
    const std::string missing = dir + "/missing";
    r = RunTool({KX_CAPTURE, "--port", port, "--seconds", "1", "--record", "raw", "--snapshots",
                 "2", "--storage", missing},
                dir);
    EXPECT_EQ(r.status, 6);
    EXPECT_THAT(r.err, HasSubstr("cannot create the record file " + missing + "/Record_"));
    EXPECT_THAT(r.err, HasSubstr(": No such file or directory"));
    EXPECT_THAT(r.err, HasSubstr("SnapShot is failed.. cannot write to " + missing));

    // The camera dies mid-run, once a snapshot shows the stream running (a fixed delay can come
    // before the stream on a loaded machine): the capture ends early with what it had and says so.
    const std::string live = dir + "/live";
    std::filesystem::create_directory(live);
    std::chrono::steady_clock::time_point killed;
    std::thread killer([&] {
        kx_test::WaitUntil([&] { return !Files(live).empty(); });
        camera.Kill();
        killed = std::chrono::steady_clock::now();
    });
    r = RunTool(
        {KX_CAPTURE, "--port", port, "--seconds", "30", "--snapshots", "1", "--storage", live},
        dir);
    killer.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("connection was lost"));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(10));

    r = RunTool({KX_CAPTURE, "--port", port, "--seconds", "1"}, dir);
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.err, HasSubstr("cannot reach"));

    EXPECT_EQ(RunTool({KX_CAPTURE, "--record", "video"}, dir).status, 2);
}

TEST_F(ToolsTest, CaptureRecordsSnapshotsAndDrawsTheLivePicture) {
    kx_test::EmulatorProcess camera;
    ASSERT_TRUE(camera.Start(KX_CAMSIM, {"--width", "160", "--height", "120", "--fps", "30"}));
    const std::string port = std::to_string(camera.Port());
    const std::string png = dir + "/live.png";
    const Result r =
        RunTool({KX_CAPTURE, "--port", port, "--seconds", "2", "--record", "text", "--period",
                 "250", "--snapshots", "3", "--storage", dir, "--png", png},
                dir);
    ASSERT_EQ(r.status, 0) << r.err;
    // More than 20 frames accepted, none dropped, 4 to 10 records of 250 ms in 2 s, 3 snapshots.
    EXPECT_THAT(r.out, testing::ContainsRegex(
                           "frames received [0-9]+, accepted (2[1-9]|[3-9][0-9]|[0-9]{3,}), "
                           "dropped by CRC 0, records ([4-9]|10), snapshots 3"));

    int txt = 0, raw = 0;
    for (const auto& f : Files(dir)) {
        txt += f.rfind("Record_", 0) == 0 && f.size() > 4 && f.substr(f.size() - 4) == ".txt";
        raw += f.rfind("snapshot_", 0) == 0;
    }
    EXPECT_EQ(txt, 1);
    EXPECT_EQ(raw, 3);

    // The centre box is red at 0.45 of the width, halfway down; the picture around it is grey.
    const Png picture = ReadPng(ReadFile(png));
    ASSERT_EQ(picture.format, PNG_FORMAT_RGB);
    ASSERT_EQ(picture.width, 160);
    auto pixel = [&](int x, int y) {
        const uint8_t* p = &picture.bytes[3 * (y * 160 + x)];
        return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
    };
    bool redEdge = false;
    for (int x = 70; x <= 74; ++x) redEdge |= pixel(x, 60) == 0xFF0000;
    EXPECT_TRUE(redEdge);
    const uint32_t outside = pixel(10, 10);
    EXPECT_EQ(outside & 0xFF, (outside >> 8) & 0xFF);
}

glintra::GreyPicture RandomGrey(int width, int height) {
    glintra::GreyPicture grey{std::vector<uint8_t>(static_cast<size_t>(width) * height), width,
                              height};
    std::mt19937 random(static_cast<uint32_t>(width * 7919 + height));
    for (auto& g : grey.pixels) g = static_cast<uint8_t>(random());
    return grey;
}

TEST(LivePicture, PlainPictureEqualsGlintrasPicturePath) {
    // 640x512 spans many stored deflate blocks; in 7x5 and 1x1 the box is all outline, so filled.
    const struct { int width, height; } sizes[] = {{640, 512}, {160, 120}, {7, 5}, {1, 1}, {33, 2}};
    const std::string path = testing::TempDir() + "live_picture_test.png";
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const glintra::GreyPicture grey = RandomGrey(size.width, size.height);
        ASSERT_TRUE(kestrix::WriteLivePicture(grey, path));
        const Png png = ReadPng(ReadFile(path));
        ASSERT_EQ(png.format, PNG_FORMAT_RGB);
        ASSERT_EQ(png.width, size.width);
        ASSERT_EQ(png.height, size.height);

        std::vector<uint32_t> argb(grey.pixels.size());
        const glintra::RgbTarget target{reinterpret_cast<uint8_t*>(argb.data()), 4 * size.width,
                                        size.width, size.height};
        std::vector<uint8_t> scratch;
        glintra::RenderGrey(grey, true, scratch, target);
        glintra::OverlayPainter painter;
        painter.Begin(target);
        painter.DrawRect(kestrix::kCentreBoxRect, kestrix::kCentreBoxColour, 1);
        painter.End();
        std::vector<uint8_t> rgb;
        for (uint32_t p : argb) {
            rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
        EXPECT_TRUE(png.bytes == rgb);
    }
    std::remove(path.c_str());
    EXPECT_FALSE(kestrix::WriteLivePicture(glintra::GreyPicture{}, path));
    EXPECT_FALSE(
        kestrix::WriteLivePicture(RandomGrey(4, 4), testing::TempDir() + "no/such/folder.png"));
}

TEST(LivePicture, StoredEncoderKeepsSixteenBitSamples) {
    std::vector<uint16_t> samples(300 * 200);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 40503u);
    std::vector<uint8_t> png;
    ASSERT_TRUE(kestrix::EncodePng(kestrix::PngPixels::kGray16, samples.data(), 300, 200, &png));
    const Png read = ReadPng(std::string(png.begin(), png.end()));
    ASSERT_EQ(read.format, PNG_FORMAT_LINEAR_Y);  // 16-bit grey, host order
    ASSERT_EQ(read.bytes.size(), 2 * samples.size());
    EXPECT_EQ(std::memcmp(read.bytes.data(), samples.data(), read.bytes.size()), 0);
}

}  // namespace
