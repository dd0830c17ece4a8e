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
    WT_CHECK_EQ(exports->NumberOfFunctions, exports->NumberOfNames);  // no exports by ordinal only
    std::sort(names.begin(), names.end());
    return names;
}

// Runs after the shared cases (registration order), so they still see a fresh table.
WT_TEST(the_dll_exports_exactly_the_nine_functions_by_their_plain_names) {
    TheApi();
    const std::vector<std::string> expected = {
        "ORVD_DisplayFrame",       "ORVD_InitByDisEngine",  "ORVD_RefreshDisplay",
        "ORVD_RegisterDCCallback", "ORVD_Release",          "ORVD_SetDisplayMode",
        "ORVD_SetDisplayRect",     "ORVD_SetDisplayWindow", "ORVD_SetRotationAngle"};
    const std::vector<std::string> names = ExportedNames(Library());
    WT_CHECK(names == expected);
    for (const std::string& name : names) std::printf("  export %s\n", name.c_str());
}

}  // namespace

WT_MAIN
