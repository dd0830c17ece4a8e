// kestrix.exe end to end, driven by window messages as a user would drive it: against the camera
// emulator (started by the test's fixture) it connects, shows the live picture with its centre box
// and the readouts, records, takes snapshots, disconnects and ends, logging out. The program runs
// from a folder of its own whose info\rawdatapath.txt (code page 936) sends the files to a folder
// with a Chinese name.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "win_test.h"

namespace fs = std::filesystem;

namespace {

constexpr int kConnect = 32781, kDisconnect = 32783, kExit = 32777, kRawDataPath = 32774,
              kAbout = 0x0010;
constexpr int kTab = 1000, kStatus = 1009, kLiveView = 1005, kVideoRecord = 1008, kSnapCount = 1010,
              kSnapCap = 1043, kCapturePeriod = 1048;

// A path of the build (a Linux path under Wine's Z: drive, or a Windows one).
fs::path BuildPath(const char* path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    std::replace(p.begin(), p.end(), '/', '\\');
    return fs::path(p);
}

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    // WM_GETTEXT with a time limit: a hung program fails the test instead of hanging it.
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        5000, &length);
    return text;
}

// Waits for the visible top-level window of process `pid` with `title` (and `className` when
// given); returns it, or null when it did not come.
HWND WaitForWindow(DWORD pid, const wchar_t* title, const wchar_t* className = nullptr,
                   std::chrono::seconds limit = std::chrono::seconds(20)) {
    struct Search {
        DWORD pid;
        const wchar_t* title;
        const wchar_t* className;
        HWND found;
    } search{pid, title, className, nullptr};
    const auto find = [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner != s->pid || !IsWindowVisible(window) || Text(window) != s->title ||
            (s->className && std::wstring(name) != s->className))
            return TRUE;
        s->found = window;
        return FALSE;
    };
    kx_test::WaitUntil(
        [&] {
            EnumWindows(find, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        limit);
    return search.found;
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Command(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

// The screen inside `window`, as 32-bit pixels, top row first.
std::vector<uint32_t> Grab(HWND window, int& width, int& height) {
    RECT r;
    GetWindowRect(window, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::memcpy(pixels.data(), bits, pixels.size() * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Keeps a picture of `window` as a BMP in KX_SCREENSHOT_DIR, where that is set.
void Screenshot(HWND window, const char* name) {
    const char* folder = std::getenv("KX_SCREENSHOT_DIR");
    if (!folder || !window) return;
    int width = 0, height = 0;
    const std::vector<uint32_t> pixels = Grab(window, width, height);
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    BITMAPINFOHEADER header{sizeof(header), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
    std::ofstream out(BuildPath(folder) / (std::string(name) + ".bmp"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(pixels.data()),
              static_cast<std::streamsize>(pixels.size() * 4));
}

// The emulator's picture: many grey levels, not the live view's grey 190 background, and a red
// box around the centre.
bool ShowsPictureWithCentreBox(HWND live) {
    int width = 0, height = 0;
    const std::vector<uint32_t> pixels = Grab(live, width, height);
    if (width < 16 || height < 16) return false;
    bool greys[256] = {};
    int background = 0;
    int redLeft = width, redRight = -1, redTop = height, redBottom = -1;
    for (int y = 2; y < height - 2; ++y) {
        for (int x = 2; x < width - 2; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            if (r == g && g == b) {
                greys[r] = true;
                background += r == 190;
            }
            if (r > 200 && g < 60 && b < 60) {
                redLeft = std::min(redLeft, x);
                redRight = std::max(redRight, x);
                redTop = std::min(redTop, y);
                redBottom = std::max(redBottom, y);
            }
        }
    }
    const int levels = static_cast<int>(std::count(std::begin(greys), std::end(greys), true));
    const int cx = width / 2, cy = height / 2;
    return levels > 32 && background < width * height / 2 && redRight >= 0 && redLeft < cx &&
           redRight > cx && redTop < cy && redBottom > cy && redRight - redLeft < width / 3;
}

std::string Content(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The logouts in the log of the emulator that the test's fixture started.
int Logouts() {
    const std::string log = Content("gui-camsim.log");
    int n = 0;
    for (size_t at = 0; (at = log.find("logged out", at)) != std::string::npos; ++at) ++n;
    return n;
}

// Opens a dialog with `open`, finds it by `title`, pictures it, lets `check` see it and closes it
// with `close`; true when it came and went.
bool VisitDialog(DWORD pid, const std::function<void()>& open, const wchar_t* title,
                 const char* picture, const std::function<void(HWND)>& check, int close) {
    open();
    const HWND dialog = WaitForWindow(pid, title);
    if (!dialog) return false;
    Screenshot(dialog, picture);
    check(dialog);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(close, BN_CLICKED), 0);
    return kx_test::WaitUntil([&] { return !IsWindow(dialog); });
}

// Camera -> Connect, the four fields, OK; true when the dialog closed.
bool Connect(DWORD pid, HWND main, int port) {
    Command(main, kConnect);
    const HWND dialog = WaitForWindow(pid, L"Camera Connect");
    if (!dialog) return false;
    SetDlgItemTextW(dialog, 1004, L"127.0.0.1");
    SetDlgItemTextW(dialog, 1005, L"admin");
    SetDlgItemTextW(dialog, 1006, L"qbxwz70413");
    SetDlgItemTextW(dialog, 1007, std::to_wstring(port).c_str());
    Screenshot(dialog, "kestrix-win-connect");
    Click(dialog, IDOK);
    return kx_test::WaitUntil([&] { return !IsWindow(dialog); });
}

// The program's process and folder, ended and removed with the object.
struct ProgramRun {
    PROCESS_INFORMATION process{};
    fs::path home;
    ~ProgramRun() {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        std::error_code error;
        fs::remove_all(home, error);
    }
};

std::vector<fs::path> FilesIn(const fs::path& folder, const std::wstring& extension) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension().wstring() == extension) found.push_back(entry.path());
    }
    return found;
}

TEST(KestrixGui, ConnectsShowsRecordsSnapshotsDisconnectsAndEnds) {
    // The port of the emulator that the test's fixture started.
    const int port = std::atoi(Content("gui-camsim.port").c_str());
    EXPECT_TRUE(port > 0);
    if (port <= 0) return;

    // The program in a folder of its own, its info folder beside it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ProgramRun run;
    run.home = fs::path(temp) / ("kestrix-gui-" + std::to_string(GetCurrentProcessId()));
    const fs::path& home = run.home;
    const fs::path records = home / L"记录";
    fs::create_directories(home / "info");
    fs::create_directories(records);
    for (const char* file : {KX_KESTRIX, KX_TARNLINK, KX_GLINTRA}) {
        const fs::path from = BuildPath(file);
        fs::copy_file(from, home / from.filename(), fs::copy_options::overwrite_existing);
    }
    {
        const std::wstring path = records.wstring();
        char line[MAX_PATH * 2] = {};
        const int n = WideCharToMultiByte(936, 0, path.c_str(), static_cast<int>(path.size()), line,
                                          sizeof(line), nullptr, nullptr);
        std::ofstream(home / "info" / "rawdatapath.txt", std::ios::binary).write(line, n);
    }

    STARTUPINFOW start{};
    start.cb = sizeof(start);
    PROCESS_INFORMATION& program = run.process;
    std::wstring command = L"\"" + (home / "kestrix.exe").wstring() + L"\"";
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            home.wstring().c_str(), &start, &program));
    const DWORD pid = program.dwProcessId;
    const HWND main = WaitForWindow(pid, L"Brindlecap", nullptr, std::chrono::seconds(30));
    EXPECT_TRUE(main != nullptr);
    if (!main) return;
    const HWND status = GetDlgItem(main, kStatus);
    const HWND panel = FindWindowExW(GetDlgItem(main, kTab), nullptr, L"#32770", nullptr);
    const HWND live = GetDlgItem(panel, kLiveView);

    // The storage folder came from the path file; the About box hangs off the system menu.
    EXPECT_TRUE(VisitDialog(
        pid, [&] { Command(main, kRawDataPath); }, L"设置原始数据存储路径",
        "kestrix-win-storage-path",
        [&](HWND dialog) { EXPECT_TRUE(Text(GetDlgItem(dialog, 1001)) == records.wstring()); },
        IDCANCEL));
    EXPECT_TRUE(VisitDialog(
        pid, [&] { PostMessageW(main, WM_SYSCOMMAND, kAbout, 0); }, L"关于 Kestrix",
        "kestrix-win-about", [](HWND) {}, IDOK));

    const bool connected = Connect(pid, main, port);
    EXPECT_TRUE(connected);
    if (!connected) return;
    EXPECT_TRUE(Text(status) == L"127.0.0.1 is connecting");
    EXPECT_TRUE(Content(home / "info" / "ipaddress.txt") == "127.0.0.1");

    EXPECT_TRUE(kx_test::WaitUntil([&] {
        for (int id = 1052; id <= 1058; ++id) {
            if (Text(GetDlgItem(panel, id)).empty()) return false;
        }
        return true;
    }));
    EXPECT_TRUE(kx_test::WaitUntil([&] { return ShowsPictureWithCentreBox(live); }));

    // A record with the centre temperatures, one line every half second for two seconds.
    EXPECT_EQ(SendDlgItemMessageW(panel, 1046, BM_GETCHECK, 0, 0), BST_CHECKED);
    SetDlgItemTextW(panel, kCapturePeriod, L"500");
    Click(panel, kVideoRecord);
    EXPECT_TRUE(
        kx_test::WaitUntil([&] { return Text(GetDlgItem(panel, kVideoRecord)) == L"Recording"; }));
    Sleep(2000);
    Screenshot(main, "kestrix-win-main-live");
    Click(panel, kVideoRecord);
    EXPECT_TRUE(
        kx_test::WaitUntil([&] { return Text(GetDlgItem(panel, kVideoRecord)) == L"No Record"; }));
    const std::vector<fs::path> texts = FilesIn(records, L".txt");
    EXPECT_EQ(texts.size(), 1);
    if (texts.size() == 1) {
        const std::string content = Content(texts[0]);
        const auto lines = std::count(content.begin(), content.end(), '\n');
        EXPECT_TRUE(lines >= 1 + 3 && lines <= 1 + 6);
    }

    SetDlgItemTextW(panel, kSnapCount, L"3");
    Click(panel, kSnapCap);
    const HWND box = WaitForWindow(pid, L"Kestrix", L"#32770");
    EXPECT_TRUE(box && Text(GetDlgItem(box, 0xFFFF)) == L"SnapShot finished...");
    EXPECT_EQ(FilesIn(records, L".raw").size(), 3);
    if (box) Click(box, IDOK);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return !IsWindow(box); }));

    Command(main, kDisconnect);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Text(status) == L"Disconnected.."; }));
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Logouts() == 1; }));

    // Connected again, Exit is the teardown's logout.
    EXPECT_TRUE(Connect(pid, main, port));
    Command(main, kExit);
    EXPECT_EQ(WaitForSingleObject(program.hProcess, 15000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(program.hProcess, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Logouts() == 2; }));
}

}  // namespace

WT_MAIN
