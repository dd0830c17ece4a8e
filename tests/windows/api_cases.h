// The handle table and the setters through the nine exports of orvenna.dll, shared by the program
// that links the import library and the one that finds the exports by name. Cases run in the
// order written and each releases what it takes, so the first one sees a fresh table.
#pragma once

#include <windows.h>

#include <vector>

#include "orvenna.h"
#include "win_test.h"

namespace {

struct Api {
    decltype(&ORVD_InitByDisEngine) InitByDisEngine;
    decltype(&ORVD_SetDisplayWindow) SetDisplayWindow;
    decltype(&ORVD_SetDisplayRect) SetDisplayRect;
    decltype(&ORVD_DisplayFrame) DisplayFrame;
    decltype(&ORVD_RefreshDisplay) RefreshDisplay;
    decltype(&ORVD_Release) Release;
    decltype(&ORVD_SetRotationAngle) SetRotationAngle;
    decltype(&ORVD_RegisterDCCallback) RegisterDCCallback;
    decltype(&ORVD_SetDisplayMode) SetDisplayMode;
};

// Provided by the program: the exports, bound one way or the other.
const Api& TheApi();

void ORVD_CALL IgnoreDC(int32_t, ORVD_HDC, intptr_t) {}

int32_t NewHandle() {
    int32_t handle = -1;
    WT_CHECK_EQ(TheApi().InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    return handle;
}

WT_TEST(handles_are_handed_out_lowest_first_and_reused) {
    const Api& api = TheApi();
    WT_CHECK_EQ(NewHandle(), 0);
    WT_CHECK_EQ(NewHandle(), 1);
    WT_CHECK_EQ(api.Release(0), ORVD_OK);
    WT_CHECK_EQ(NewHandle(), 0);
    api.Release(0);
    api.Release(1);
}

WT_TEST(handles_outside_the_table_are_refused_before_anything_else) {
    const Api& api = TheApi();
    tagRECT rect = {0, 0, 10, 10};
    for (const int32_t handle : {-1, ORVD_MAX_HANDLES, INT32_MIN, INT32_MAX}) {
        WT_CHECK_EQ(api.SetDisplayWindow(handle, GetDesktopWindow()), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.SetDisplayRect(handle, &rect), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.RefreshDisplay(handle), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.Release(handle), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.SetRotationAngle(handle, 0), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.RegisterDCCallback(handle, &IgnoreDC, 0), ORVD_E_HANDLE);
        WT_CHECK_EQ(api.SetDisplayMode(handle, 0), ORVD_E_HANDLE);
    }
    // The last index is in range: it is filled on demand and stays occupied until released.
    WT_CHECK_EQ(api.SetDisplayMode(ORVD_MAX_HANDLES - 1, 1), ORVD_OK);
    WT_CHECK_EQ(api.RefreshDisplay(ORVD_MAX_HANDLES - 1), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.Release(ORVD_MAX_HANDLES - 1), ORVD_OK);
}

WT_TEST(refused_engine_kinds_leave_the_handle_unwritten_and_the_index_free) {
    const Api& api = TheApi();
    struct Kind {
        int32_t kind;
        int32_t expected;
    };
    for (const Kind k : {Kind{1, ORVD_E_UNSUPPORTED}, Kind{2, ORVD_E_UNSUPPORTED},
                         Kind{3, ORVD_E_FAIL}, Kind{-1, ORVD_E_FAIL}}) {
        int32_t handle = 1234;
        WT_CHECK_EQ(api.InitByDisEngine(&handle, static_cast<tagORVD_ENGINE>(k.kind)), k.expected);
        WT_CHECK_EQ(handle, 1234);
    }
    WT_CHECK_EQ(api.InitByDisEngine(nullptr, ORVD_ENGINE_DDRAW), ORVD_E_PARAM);
    WT_CHECK_EQ(NewHandle(), 0);  // the refused index is handed out again
    api.Release(0);
}

WT_TEST(an_index_used_before_it_is_handed_out_stays_occupied_until_released) {
    const Api& api = TheApi();
    wt::TestWindow window(40, 40, 64, 64);
    WT_CHECK_EQ(api.SetDisplayWindow(7, window.Handle()), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.SetDisplayMode(7, 2), ORVD_OK);
    WT_CHECK_EQ(api.RegisterDCCallback(7, &IgnoreDC, 5), ORVD_OK);
    WT_CHECK_EQ(api.RegisterDCCallback(7, nullptr, 0), ORVD_OK);
    std::vector<int32_t> handles;
    for (int i = 0; i < 8; ++i) handles.push_back(NewHandle());
    WT_CHECK_EQ(handles[6], 6);
    WT_CHECK_EQ(handles[7], 8);  // 7 is skipped
    WT_CHECK_EQ(api.Release(7), ORVD_OK);
    WT_CHECK_EQ(NewHandle(), 7);
    handles.push_back(7);
    for (const int32_t handle : handles) api.Release(handle);
}

WT_TEST(setters_check_their_arguments_and_keep_the_old_value_on_refusal) {
    const Api& api = TheApi();
    wt::TestWindow window(40, 40, 64, 64);
    const int32_t handle = NewHandle();
    tagRECT rect = {0, 0, 100, 100};
    WT_CHECK_EQ(api.SetDisplayRect(handle, &rect), ORVD_OK);
    WT_CHECK_EQ(api.SetDisplayRect(handle, nullptr), ORVD_OK);
    for (const tagRECT bad : {tagRECT{-1, 0, 10, 10}, tagRECT{0, -1, 10, 10},
                              tagRECT{0, 0, -10, 10}, tagRECT{0, 0, 10, INT32_MIN}}) {
        tagRECT copy = bad;
        WT_CHECK_EQ(api.SetDisplayRect(handle, &copy), ORVD_E_PARAM);
    }
    for (const uint32_t angle : {0u, 90u, 180u, 270u}) {
        WT_CHECK_EQ(api.SetRotationAngle(handle, angle), ORVD_E_UNSUPPORTED);
    }
    WT_CHECK_EQ(api.SetDisplayWindow(handle, nullptr), ORVD_E_PARAM);
    WT_CHECK_EQ(api.SetDisplayWindow(handle, reinterpret_cast<HWND>(0x7FFF1234)), ORVD_E_PARAM);
    WT_CHECK_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_PARAM);
    // No window yet, then a real one.
    std::vector<uint8_t> pixels(64 * 64 * 4, 0x80);
    tagORVD_FRAME frame = {pixels.data(), 0, ORVD_FORMAT_RGB32, 64, 64};
    WT_CHECK_EQ(api.DisplayFrame(handle, &frame), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.SetDisplayWindow(handle, window.Handle()), ORVD_OK);
    WT_CHECK_EQ(api.DisplayFrame(handle, &frame), ORVD_OK);
    tagORVD_FRAME no_bytes = {nullptr, 0, ORVD_FORMAT_RGB32, 64, 64};
    WT_CHECK_EQ(api.DisplayFrame(handle, &no_bytes), ORVD_E_PARAM);
    api.Release(handle);
}

WT_TEST(a_released_handle_answers_as_a_slot_without_engine_until_handed_out_again) {
    const Api& api = TheApi();
    const int32_t handle = NewHandle();
    WT_CHECK_EQ(api.Release(handle), ORVD_OK);
    WT_CHECK_EQ(api.SetDisplayWindow(handle, GetDesktopWindow()), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.RefreshDisplay(handle), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.SetRotationAngle(handle, 90), ORVD_E_NOT_READY);
    WT_CHECK_EQ(api.SetDisplayMode(handle, 1), ORVD_OK);
    WT_CHECK_EQ(api.RegisterDCCallback(handle, &IgnoreDC, 0), ORVD_OK);
    WT_CHECK_EQ(api.Release(handle), ORVD_OK);
    WT_CHECK_EQ(NewHandle(), handle);  // released, not occupied by the calls in between
    api.Release(handle);
}

WT_TEST(a_full_table_refuses_the_next_engine_without_writing_the_handle) {
    const Api& api = TheApi();
    std::vector<int32_t> handles;
    for (int i = 0; i < ORVD_MAX_HANDLES; ++i) {
        int32_t handle = -1;
        if (api.InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK) break;
        handles.push_back(handle);
    }
    WT_CHECK_EQ(handles.size(), ORVD_MAX_HANDLES);
    WT_CHECK_EQ(handles.back(), ORVD_MAX_HANDLES - 1);
    int32_t handle = 4321;
    WT_CHECK_EQ(api.InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    WT_CHECK_EQ(handle, 4321);
    for (const int32_t h : handles) WT_CHECK_EQ(api.Release(h), ORVD_OK);
    WT_CHECK_EQ(NewHandle(), 0);
    api.Release(0);
}

}  // namespace
