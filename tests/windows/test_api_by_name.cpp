// The exports found by name in orvenna.dll loaded at run time, and the DLL's export table: the nine
// names, undecorated, and nothing else.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "api_cases.h"

namespace {

HMODULE Library() {
    static const HMODULE module = LoadLibraryW(L"orvenna.dll");
    return module;
}

template <typename Function>
void Bind(Function* function, const char* name) {
    *function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(Library(), name)));
    if (*function == nullptr) {
        std::printf("orvenna.dll has no export %s\n", name);
        std::fflush(stdout);
        std::exit(2);
    }
}

const Api& TheApi() {
    static const Api api = [] {
        if (Library() == nullptr) {
            std::printf("LoadLibrary(orvenna.dll) failed: %lu\n", GetLastError());
            std::fflush(stdout);
            std::exit(2);
        }
        Api bound = {};
        Bind(&bound.InitByDisEngine, "ORVD_InitByDisEngine");
        Bind(&bound.SetDisplayWindow, "ORVD_SetDisplayWindow");
        Bind(&bound.SetDisplayRect, "ORVD_SetDisplayRect");
        Bind(&bound.DisplayFrame, "ORVD_DisplayFrame");
        Bind(&bound.RefreshDisplay, "ORVD_RefreshDisplay");
        Bind(&bound.Release, "ORVD_Release");
        Bind(&bound.SetRotationAngle, "ORVD_SetRotationAngle");
        Bind(&bound.RegisterDCCallback, "ORVD_RegisterDCCallback");
        Bind(&bound.SetDisplayMode, "ORVD_SetDisplayMode");
        return bound;
    }();
    return api;
}

// The names in the export directory of the loaded image.
std::vector<std::string> ExportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.Size == 0) return names;
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* name_rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + name_rvas[i]));
    }
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);  // no exports by ordinal only
    std::sort(names.begin(), names.end());
    return names;
}

// Runs after the shared cases (registration order), so they still see a fresh table.
TEST(OrvennaByName, the_dll_exports_exactly_the_nine_functions_by_their_plain_names) {
    TheApi();
    const std::vector<std::string> expected = {
        "ORVD_DisplayFrame",       "ORVD_InitByDisEngine",  "ORVD_RefreshDisplay",
        "ORVD_RegisterDCCallback", "ORVD_Release",          "ORVD_SetDisplayMode",
        "ORVD_SetDisplayRect",     "ORVD_SetDisplayWindow", "ORVD_SetRotationAngle"};
    const std::vector<std::string> names = ExportedNames(Library());
    EXPECT_TRUE(names == expected);
    for (const std::string& name : names) std::printf("  export %s\n", name.c_str());
}

// Ends the process when `body` has not returned within `milliseconds`: a hang fails the case
// instead of waiting for ctest's timeout.
void WithinTime(DWORD milliseconds, const char* what, void (*body)()) {
    struct Watch {
        HANDLE done;
        DWORD milliseconds;
        const char* what;
    } watch = {CreateEventW(nullptr, TRUE, FALSE, nullptr), milliseconds, what};
    HANDLE watcher = CreateThread(
        nullptr, 0,
        [](LPVOID context) -> DWORD {
            const auto* w = static_cast<const Watch*>(context);
            if (WaitForSingleObject(w->done, w->milliseconds) == WAIT_TIMEOUT) {
                std::printf("  %s did not return within %lu ms\n", w->what, w->milliseconds);
                std::printf("0 passed, 1 failed\n");
                std::fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 4);
            }
            return 0;
        },
        &watch, 0, nullptr);
    body();
    SetEvent(watch.done);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    CloseHandle(watch.done);
}

// The last case: it unloads the library that the others use.
TEST(OrvennaByName, unloading_with_live_handles_releases_everything_and_loading_again_starts_afresh) {
    static wt::TestWindow* window = nullptr;
    wt::TestWindow shown(300, 300, 160, 120);
    window = &shown;
    WithinTime(10000, "showing a frame and unloading orvenna.dll", [] {
        const Api& api = TheApi();
        int32_t handle = -1;
        EXPECT_EQ(api.InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        EXPECT_EQ(api.SetDisplayWindow(handle, window->Handle()), ORVD_OK);
        EXPECT_EQ(api.RegisterDCCallback(handle, &IgnoreDC, 0), ORVD_OK);
        std::vector<uint8_t> pixels(160 * 120 * 2, 0x80);
        tagORVD_FRAME frame = {pixels.data(), 0, ORVD_FORMAT_UYVY, 160, 120};
        const int32_t shown_result = api.DisplayFrame(handle, &frame);
        EXPECT_TRUE(shown_result == ORVD_OK || shown_result == ORVD_E_UNSUPPORTED);
        // Handle left live on purpose: unloading releases its surfaces and the devices.
        EXPECT_TRUE(FreeLibrary(Library()));
        EXPECT_TRUE(GetModuleHandleW(L"orvenna.dll") == nullptr);
    });
    WithinTime(10000, "loading orvenna.dll again", [] {
        HMODULE again = LoadLibraryW(L"orvenna.dll");
        EXPECT_TRUE(again != nullptr);
        if (again == nullptr) return;
        auto init = reinterpret_cast<decltype(&ORVD_InitByDisEngine)>(
            reinterpret_cast<void (*)()>(GetProcAddress(again, "ORVD_InitByDisEngine")));
        auto release = reinterpret_cast<decltype(&ORVD_Release)>(
            reinterpret_cast<void (*)()>(GetProcAddress(again, "ORVD_Release")));
        int32_t handle = -1;
        EXPECT_EQ(init(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        EXPECT_EQ(handle, 0);  // a fresh table
        release(handle);
        EXPECT_TRUE(FreeLibrary(again));
    });
}

}  // namespace

WT_MAIN
