// The nine exports found by name in orvenna.dll loaded at run time (test_display.cpp links the
// import library): the DLL's export table, the handle table and the setters through the exports
// (their rules in full are tested on Linux, in tests/display), and unloading with live handles.
// Cases run in the order written and each releases what it takes, so the first sees a fresh table.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orvenna.h"
#include "win_test.h"

namespace {

HMODULE Library() {
    static const HMODULE module = LoadLibraryW(L"orvenna.dll");
    return module;
}

// The export `name` of `module`, typed as the header declares it; the program ends without it.
template <typename Function>
Function Export(const char* name, HMODULE module = Library()) {
    const FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    if (found == nullptr) {
        std::printf("orvenna.dll or its export %s is missing: %lu\n", name, GetLastError());
        std::fflush(stdout);
        std::exit(2);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
#define ORVD(name) Export<decltype(&ORVD_##name)>("ORVD_" #name)

void ORVD_CALL IgnoreDC(int32_t, ORVD_HDC, intptr_t) {}

int32_t NewHandle() {
    int32_t handle = -1;
    EXPECT_EQ(ORVD(InitByDisEngine)(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    return handle;
}

// Each export's arguments and results cross the DLL boundary: the handle, the pointers, the window.
TEST(OrvennaByName, the_exports_answer_through_the_dll_as_the_handle_table_rules) {
    for (const int32_t handle : {-1, ORVD_MAX_HANDLES, INT32_MIN}) {
        EXPECT_EQ(ORVD(SetDisplayWindow)(handle, GetDesktopWindow()), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(SetDisplayRect)(handle, nullptr), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(DisplayFrame)(handle, nullptr), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(RefreshDisplay)(handle), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(Release)(handle), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(SetRotationAngle)(handle, 0), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(RegisterDCCallback)(handle, &IgnoreDC, 0), ORVD_E_HANDLE);
        EXPECT_EQ(ORVD(SetDisplayMode)(handle, 0), ORVD_E_HANDLE);
    }
    wt::TestWindow window(40, 40, 64, 64);
    int32_t handle = 4321;
    EXPECT_EQ(ORVD(InitByDisEngine)(&handle, ORVD_ENGINE_KIND1), ORVD_E_UNSUPPORTED);
    EXPECT_EQ(handle, 4321);
    handle = NewHandle();
    EXPECT_EQ(handle, 0);
    tagRECT rect = {0, 0, 100, 100};
    EXPECT_EQ(ORVD(SetDisplayRect)(handle, &rect), ORVD_OK);
    tagRECT negative = {0, 0, 10, INT32_MIN};
    EXPECT_EQ(ORVD(SetDisplayRect)(handle, &negative), ORVD_E_PARAM);
    EXPECT_EQ(ORVD(SetRotationAngle)(handle, 90), ORVD_E_UNSUPPORTED);
    EXPECT_EQ(ORVD(SetDisplayWindow)(handle, nullptr), ORVD_E_PARAM);
    EXPECT_EQ(ORVD(SetDisplayWindow)(handle, reinterpret_cast<HWND>(0x7FFF1234)), ORVD_E_PARAM);
    EXPECT_EQ(ORVD(DisplayFrame)(handle, nullptr), ORVD_E_PARAM);
    // No window yet, then a real one.
    std::vector<uint8_t> pixels(64 * 64 * 4, 0x80);
    tagORVD_FRAME frame = {pixels.data(), 0, ORVD_FORMAT_RGB32, 64, 64};
    EXPECT_EQ(ORVD(DisplayFrame)(handle, &frame), ORVD_E_NOT_READY);
    EXPECT_EQ(ORVD(SetDisplayWindow)(handle, window.Handle()), ORVD_OK);
    EXPECT_EQ(ORVD(SetDisplayMode)(handle, 2), ORVD_OK);
    EXPECT_EQ(ORVD(RegisterDCCallback)(handle, &IgnoreDC, 0), ORVD_OK);
    EXPECT_EQ(ORVD(DisplayFrame)(handle, &frame), ORVD_OK);
    EXPECT_EQ(ORVD(RefreshDisplay)(handle), ORVD_OK);
    EXPECT_EQ(ORVD(Release)(handle), ORVD_OK);
    EXPECT_EQ(ORVD(RefreshDisplay)(handle), ORVD_E_NOT_READY);
    EXPECT_EQ(NewHandle(), handle);
    ORVD(Release)(handle);
}

// The names in the export directory of the loaded image: the nine, undecorated, and nothing else.
TEST(OrvennaByName, the_dll_exports_exactly_the_nine_functions_by_their_plain_names) {
    const auto* base = reinterpret_cast<const uint8_t*>(Library());
    EXPECT_TRUE(base != nullptr);
    if (base == nullptr) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.Size != 0) {
        const auto* exports =
            reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
        const auto* name_rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            names.emplace_back(reinterpret_cast<const char*>(base + name_rvas[i]));
        }
        EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);  // none by ordinal only
    }
    std::sort(names.begin(), names.end());
    EXPECT_TRUE(names ==
                (std::vector<std::string>{
                    "ORVD_DisplayFrame", "ORVD_InitByDisEngine", "ORVD_RefreshDisplay",
                    "ORVD_RegisterDCCallback", "ORVD_Release", "ORVD_SetDisplayMode",
                    "ORVD_SetDisplayRect", "ORVD_SetDisplayWindow", "ORVD_SetRotationAngle"}));
    for (const std::string& name : names) std::printf("  export %s\n", name.c_str());
}

// The last case: it unloads the library that the others use (a hang is ctest's timeout).
TEST(OrvennaByName,
     unloading_with_live_handles_releases_everything_and_loading_again_starts_afresh) {
    wt::TestWindow window(300, 300, 160, 120);
    int32_t handle = -1;
    EXPECT_EQ(ORVD(InitByDisEngine)(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    EXPECT_EQ(ORVD(SetDisplayWindow)(handle, window.Handle()), ORVD_OK);
    EXPECT_EQ(ORVD(RegisterDCCallback)(handle, &IgnoreDC, 0), ORVD_OK);
    std::vector<uint8_t> pixels(160 * 120 * 2, 0x80);
    tagORVD_FRAME frame = {pixels.data(), 0, ORVD_FORMAT_UYVY, 160, 120};
    const int32_t shown = ORVD(DisplayFrame)(handle, &frame);
    EXPECT_TRUE(shown == ORVD_OK || shown == ORVD_E_UNSUPPORTED);
    // Handle left live on purpose: unloading releases its surfaces and the devices.
    EXPECT_TRUE(FreeLibrary(Library()));
    EXPECT_TRUE(GetModuleHandleW(L"orvenna.dll") == nullptr);

    const HMODULE again = LoadLibraryW(L"orvenna.dll");
    handle = -1;
    EXPECT_EQ(Export<decltype(&ORVD_InitByDisEngine)>("ORVD_InitByDisEngine", again)(
                  &handle, ORVD_ENGINE_DDRAW),
              ORVD_OK);
    EXPECT_EQ(handle, 0);  // a fresh table
    Export<decltype(&ORVD_Release)>("ORVD_Release", again)(handle);
    EXPECT_TRUE(FreeLibrary(again));
}

}  // namespace

WT_MAIN
