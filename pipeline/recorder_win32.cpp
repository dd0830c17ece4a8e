// The Windows side of the record files: file handles opened by their UTF-16 names, and the local
// time of the system clock.
#include <windows.h>

#include <algorithm>

#include "recorder.h"
#include "text_codec.h"

namespace kestrix {

LocalTime CurrentLocalTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

FileHandle CreateNewFile(const std::string& path, bool* exists) {
    *exists = false;
    const std::wstring wide = Utf8ToWide(path);
    if (wide.empty()) return kInvalidFile;
    // CREATE_NEW fails on a taken name instead of replacing the file.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(h);
}

bool CloseFile(FileHandle file) { return CloseHandle(reinterpret_cast<HANDLE>(file)) != 0; }

// The system's message, in UTF-8 like every other text of the pipeline.
std::string LastFileError() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", text ? n : 0);
    if (text) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) {
        wide.pop_back();
    }
    if (wide.empty()) return "error " + std::to_string(error);
    return WideToUtf8(wide);
}

bool WriteAll(FileHandle file, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), p, chunk, &written, nullptr)) return false;
        p += written;
        size -= written;
    }
    return true;
}

}  // namespace kestrix
