// kestrix.exe's windows: the items at their dialog units and the menus in process, then the whole
// program driven by window messages against the camera emulator that the test's fixture started.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "connect_dlg.h"
#include "kestrix_dlg.h"
#include "set_cap_path_dlg.h"
#include "win_test.h"

namespace fs = std::filesystem;
using namespace kestrix;

namespace {

// The program's command and control IDs, as a user's tool would know them.
constexpr int kConnect = 32781, kDisconnect = 32783, kExit = 32777, kRawDataPath = 32774,
              kAbout = 0x0010;
constexpr int kTab = 1000, kStatus = 1009, kLiveView = 1005, kVideoRecord = 1008, kSnapCount = 1010,
              kSnapCap = 1043, kCapturePeriod = 1048;

// Items in template order; a bitmap static takes its bitmap's size, so only its place counts.
void CheckItems(HWND dialog, const DialogTemplate& layout) {
    ASSERT_NE(dialog, nullptr);
    HWND item = GetWindow(dialog, GW_CHILD);
    for (const ControlTemplate& t : layout.controls) {
        if (!item) {
            ADD_FAILURE() << "template " + std::to_string(layout.id) + " has too few items";
            return;
        }
        RECT expected{t.x, t.y, t.cx, t.cy};
        MapDialogRect(dialog, &expected);
        RECT actual;
        GetWindowRect(item, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        const bool image = t.kind == ControlKind::Static &&
                           (GetWindowLongPtrW(item, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
        EXPECT_TRUE((t.id == -1 || GetDlgCtrlID(item) == t.id) && actual.left == expected.left &&
                    actual.top == expected.top &&
                    (image || (actual.right - actual.left == expected.right &&
                               actual.bottom - actual.top == expected.bottom)))
            << "template " << layout.id << " item " << t.id << " (" << t.text << ")";
        item = GetWindow(item, GW_HWNDNEXT);
    }
}

TEST(KestrixGui, ItemsSitAtTheirDialogUnitsAndTheMenusCarryTheirCommands) {
    CKestrixDlg window;
    const HWND main = window.Create(nullptr);
    CheckItems(main, kTemplate102);
    CheckItems(window.DisplayPanel()->Handle(), kTemplate134);
    CConnectDlg connect(nullptr);
    CheckItems(connect.Create(nullptr), kTemplate133);
    CSetCapPathDlg storage(nullptr);
    CheckItems(storage.Create(nullptr), kTemplate132);

    // The client area is the template's size; the menu bar lies above it.
    RECT client;
    GetClientRect(main, &client);
    RECT expected{0, 0, kTemplate102.cx, kTemplate102.cy};
    MapDialogRect(main, &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);

    const HMENU menu = GetMenu(main), camera = GetSubMenu(menu, 0);
    const HMENU system = GetSystemMenu(main, FALSE);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    const struct {
        HMENU menu;
        int position;
        int id;
    } items[] = {{camera, 0, kConnect},
                 {camera, 1, kDisconnect},
                 {camera, 3, kExit},
                 {GetSubMenu(menu, 1), 0, kRawDataPath},
                 {system, GetMenuItemCount(system) - 1, kAbout}};
    for (const auto& i : items) EXPECT_EQ(GetMenuItemID(i.menu, i.position), i.id);
}

// A path of the build (a Linux path under Wine's Z: drive, or a Windows one).
fs::path BuildPath(std::string p) {
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

// Waits for the visible top-level window with `title` (and `className` when given); returns it, or
// null when it did not come. The test itself has no windows left by then.
HWND WaitForWindow(const wchar_t* title, const wchar_t* className = nullptr, int seconds = 20) {
    HWND found = nullptr;
    const auto visible = [&] {
        return (found = FindWindowW(className, title)) && IsWindowVisible(found);
    };
    return kx_test::WaitUntil(visible, std::chrono::seconds(seconds)) ? found : nullptr;
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Presses button `id` of `dialog`; true when the dialog then went.
bool Press(HWND dialog, int id) {
    Click(dialog, id);
    return kx_test::WaitUntil([&] { return !IsWindow(dialog); });
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
    bool greys[256] = {};
    int background = 0;
    RECT red{width, height, -1, -1};
    for (int y = 2; y < height - 2; ++y) {
        for (int x = 2; x < width - 2; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            if (r == g && g == b) {
                greys[r] = true;
                background += r == 190;
            }
            if (r > 200 && g < 60 && b < 60) {
                red = {std::min<LONG>(red.left, x), std::min<LONG>(red.top, y),
                       std::max<LONG>(red.right, x), std::max<LONG>(red.bottom, y)};
            }
        }
    }
    const int levels = static_cast<int>(std::count(std::begin(greys), std::end(greys), true));
    const int cx = width / 2, cy = height / 2;
    return levels > 32 && background < width * height / 2 && red.left < cx && red.right > cx &&
           red.top < cy && red.bottom > cy && red.right - red.left < width / 3;
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

// Camera -> Connect with the emulator's port, OK; true when the dialog closed.
bool Connect(HWND main, int port) {
    PostMessageW(main, WM_COMMAND, kConnect, 0);
    const HWND dialog = WaitForWindow(L"Camera Connect");
    if (!dialog) return false;
    SetDlgItemTextW(dialog, 1007, std::to_wstring(port).c_str());
    Screenshot(dialog, "kestrix-win-connect");
    return Press(dialog, IDOK);
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
    ASSERT_GT(port, 0);

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
    const HWND main = WaitForWindow(L"Brindlecap", nullptr, 30);
    ASSERT_NE(main, nullptr);
    const HWND status = GetDlgItem(main, kStatus);
    const HWND panel = FindWindowExW(GetDlgItem(main, kTab), nullptr, L"#32770", nullptr);
    const HWND live = GetDlgItem(panel, kLiveView);

    // The storage folder came from the path file; the About box hangs off the system menu.
    PostMessageW(main, WM_COMMAND, kRawDataPath, 0);
    const HWND storage = WaitForWindow(L"设置原始数据存储路径");
    EXPECT_TRUE(storage && Text(GetDlgItem(storage, 1001)) == records.wstring());
    Screenshot(storage, "kestrix-win-storage-path");
    EXPECT_TRUE(Press(storage, IDCANCEL));
    PostMessageW(main, WM_SYSCOMMAND, kAbout, 0);
    const HWND about = WaitForWindow(L"关于 Kestrix");
    Screenshot(about, "kestrix-win-about");
    EXPECT_TRUE(about && Press(about, IDOK));

    ASSERT_TRUE(Connect(main, port));
    EXPECT_TRUE(Text(status) == L"127.0.0.1 is connecting");
    EXPECT_TRUE(Content(home / "info" / "ipaddress.txt") == "127.0.0.1");

    EXPECT_TRUE(kx_test::WaitUntil([&] { return !Text(GetDlgItem(panel, 1058)).empty(); }));
    EXPECT_TRUE(kx_test::WaitUntil([&] { return ShowsPictureWithCentreBox(live); }));

    // A record with the centre temperatures, one line every half second for two seconds.
    EXPECT_EQ(SendDlgItemMessageW(panel, 1046, BM_GETCHECK, 0, 0), BST_CHECKED);
    SetDlgItemTextW(panel, kCapturePeriod, L"500");
    Click(panel, kVideoRecord);
    const HWND record = GetDlgItem(panel, kVideoRecord);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Text(record) == L"Recording"; }));
    Sleep(2000);
    Screenshot(main, "kestrix-win-main-live");
    Click(panel, kVideoRecord);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Text(record) == L"No Record"; }));
    const std::vector<fs::path> texts = FilesIn(records, L".txt");
    ASSERT_EQ(texts.size(), 1);
    const std::string content = Content(texts[0]);
    const auto lines = std::count(content.begin(), content.end(), '\n');
    EXPECT_TRUE(lines >= 1 + 3 && lines <= 1 + 6) << lines;

    SetDlgItemTextW(panel, kSnapCount, L"3");
    Click(panel, kSnapCap);
    const HWND box = WaitForWindow(L"Kestrix", L"#32770");
    EXPECT_TRUE(box && Text(GetDlgItem(box, 0xFFFF)) == L"SnapShot finished...");
    EXPECT_EQ(FilesIn(records, L".raw").size(), 3);
    EXPECT_TRUE(box && Press(box, IDOK));

    PostMessageW(main, WM_COMMAND, kDisconnect, 0);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Text(status) == L"Disconnected.."; }));
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Logouts() == 1; }));

    // Connected again, Exit is the teardown's logout.
    EXPECT_TRUE(Connect(main, port));
    PostMessageW(main, WM_COMMAND, kExit, 0);
    EXPECT_EQ(WaitForSingleObject(program.hProcess, 15000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(program.hProcess, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(kx_test::WaitUntil([&] { return Logouts() == 2; }));
}

}  // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return wt::RunAll(argc, argv);
}
