// A small test runner for the Windows programs that run under Wine: named cases run in the order
// they are written, a failed check marks its case failed and carries on, WT_SKIP ends a case as
// skipped with its reason. The closing line is "N passed, N failed, N skipped"; the exit code is
// 0 only when nothing failed. An unhandled exception ends the process at once with exit code 3
// (no crash dialog, no debugger), so ctest sees a failure instead of a hang.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace wt {

struct Case {
    const char* name;
    void (*body)();
};

inline std::vector<Case>& Cases() {
    static std::vector<Case> cases;
    return cases;
}

struct Registrar {
    Registrar(const char* name, void (*body)()) { Cases().push_back({name, body}); }
};

struct Skipped {
    std::string reason;
};

inline int& FailureCount() {
    static int failures = 0;
    return failures;
}

inline void Fail(const char* file, int line, const std::string& what) {
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
    ++FailureCount();
}

inline std::string Hex(long long value) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%llX",
                  static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
    return text;
}

inline LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* info) {
    std::printf("unhandled exception 0x%08lX at %p: the process ends\n",
                info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Runs every case whose name contains argv[1] (all without an argument).
inline int RunAll(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&EndOnUnhandledException);
    std::set_terminate([] {
        std::printf("std::terminate: the process ends\n");
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    });
    const char* filter = argc > 1 ? argv[1] : "";
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    for (const Case& c : Cases()) {
        if (std::strstr(c.name, filter) == nullptr) continue;
        std::printf("[ RUN  ] %s\n", c.name);
        std::fflush(stdout);
        const int before = FailureCount();
        try {
            c.body();
        } catch (const Skipped& skip) {
            std::printf("[ SKIP ] %s: %s\n", c.name, skip.reason.c_str());
            ++skipped;
            continue;
        } catch (const std::exception& e) {
            Fail(__FILE__, __LINE__, std::string("exception: ") + e.what());
        }
        if (FailureCount() != before) {
            std::printf("[ FAIL ] %s\n", c.name);
            ++failed;
        } else {
            std::printf("[  OK  ] %s\n", c.name);
            ++passed;
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

}  // namespace wt

#define WT_CONCAT_(a, b) a##b
#define WT_CONCAT(a, b) WT_CONCAT_(a, b)
#define WT_TEST(name)                                                      \
    static void name();                                                    \
    static const wt::Registrar WT_CONCAT(g_register_, name){#name, &name}; \
    static void name()

#define WT_CHECK(cond)                                                 \
    do {                                                               \
        if (!(cond)) wt::Fail(__FILE__, __LINE__, "expected: " #cond); \
    } while (0)

// Compares two integral values (result codes, handles) and prints both on a mismatch.
#define WT_CHECK_EQ(actual, expected)                                                              \
    do {                                                                                           \
        const long long wt_a = static_cast<long long>(actual);                                     \
        const long long wt_e = static_cast<long long>(expected);                                   \
        if (wt_a != wt_e) {                                                                        \
            wt::Fail(__FILE__, __LINE__,                                                           \
                     std::string(#actual " is ") + wt::Hex(wt_a) + ", expected " #expected " = " + \
                         wt::Hex(wt_e));                                                           \
        }                                                                                          \
    } while (0)

#define WT_SKIP(reason) \
    throw wt::Skipped { \
        reason          \
    }

#define WT_MAIN                        \
    int main(int argc, char** argv) {  \
        return wt::RunAll(argc, argv); \
    }
