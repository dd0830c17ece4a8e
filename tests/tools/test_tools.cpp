// kestrix-replay and kestrix-capture as a user runs them: arguments, exit codes, listings and the
// files they write. kestrix-capture talks to an emulator child process on a loopback port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/child_process.h"
#include "common/wait_until.h"
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
        EXPECT_EQ(r.err.rfind("kestrix-replay: " + c.says + "\n", 0), 0u) << r.err;
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
    EXPECT_NE(lines[0].find("℃"), std::string::npos);
    EXPECT_NE(r.err.find("frames accepted"), std::string::npos);
    EXPECT_EQ(Files(dir + "/gray").size(), lines.size());
    EXPECT_EQ(std::filesystem::file_size(dir + "/gray/frame_0.pgm"),
              std::string("P5\n64 48\n255\n").size() + 64 * 48);
    EXPECT_EQ(std::filesystem::file_size(dir + "/raw"), lines.size() * 2 * 64 * 48);
    EXPECT_EQ(Files(dir + "/snaps").size(), 2u);
    EXPECT_NE(r.err.find("SnapShot finished..."), std::string::npos);

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
    EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;

    // A storage folder that is not there: nothing could be written, and why is said.
    const std::string missing = dir + "/missing";
    r = RunTool({KX_CAPTURE, "--port", port, "--seconds", "1", "--record", "raw", "--snapshots",
                 "2", "--storage", missing},
                dir);
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("cannot create the record file " + missing + "/Record_"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(": No such file or directory"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("SnapShot is failed.. cannot write to " + missing), std::string::npos)
        << r.err;

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
    EXPECT_NE(r.err.find("connection was lost"), std::string::npos) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(10));

    r = RunTool({KX_CAPTURE, "--port", port, "--seconds", "1"}, dir);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("cannot reach"), std::string::npos) << r.err;

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
    unsigned long long received, accepted, dropped, records, snapshots;
    ASSERT_EQ(std::sscanf(r.out.c_str(),
                          "frames received %llu, accepted %llu, dropped by CRC %llu, records %llu, "
                          "snapshots %llu",
                          &received, &accepted, &dropped, &records, &snapshots),
              5)
        << r.out;
    EXPECT_GT(accepted, 20u);
    EXPECT_EQ(dropped, 0u);
    EXPECT_GE(records, 4u);
    EXPECT_LE(records, 10u);
    EXPECT_EQ(snapshots, 3u);

    int txt = 0, raw = 0;
    for (const auto& f : Files(dir)) {
        txt += f.rfind("Record_", 0) == 0 && f.size() > 4 && f.substr(f.size() - 4) == ".txt";
        raw += f.rfind("snapshot_", 0) == 0;
    }
    EXPECT_EQ(txt, 1);
    EXPECT_EQ(raw, 3);

    // The centre box is red at 0.45 of the width, halfway down; the picture around it is grey.
    const Png picture = ReadPng(png);
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

}  // namespace
