// The handle table and the setters through the nine exports of orvenna.dll, shared by the program
// that links the import library and the one that finds the exports by name (the handle table's
// rules in full are tested on Linux, in tests/display). Cases run in the order written and each
// releases what it takes, so the first one sees a fresh table.
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
    EXPECT_EQ(TheApi().InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    return handle;
}

TEST(OrvennaApi, handles_outside_the_table_are_refused_before_anything_else) {
    const Api& api = TheApi();
    tagRECT rect = {0, 0, 10, 10};
    for (const int32_t handle : {-1, ORVD_MAX_HANDLES, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(api.SetDisplayWindow(handle, GetDesktopWindow()), ORVD_E_HANDLE);
        EXPECT_EQ(api.SetDisplayRect(handle, &rect), ORVD_E_HANDLE);
        EXPECT_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_HANDLE);
        EXPECT_EQ(api.RefreshDisplay(handle), ORVD_E_HANDLE);
        EXPECT_EQ(api.Release(handle), ORVD_E_HANDLE);
        EXPECT_EQ(api.SetRotationAngle(handle, 0), ORVD_E_HANDLE);
        EXPECT_EQ(api.RegisterDCCallback(handle, &IgnoreDC, 0), ORVD_E_HANDLE);
        EXPECT_EQ(api.SetDisplayMode(handle, 0), ORVD_E_HANDLE);
    }
    // The last index is in range: it is filled on demand and stays occupied until released.
    EXPECT_EQ(api.SetDisplayMode(ORVD_MAX_HANDLES - 1, 1), ORVD_OK);
    EXPECT_EQ(api.RefreshDisplay(ORVD_MAX_HANDLES - 1), ORVD_E_NOT_READY);
    EXPECT_EQ(api.Release(ORVD_MAX_HANDLES - 1), ORVD_OK);
}

TEST(OrvennaApi, setters_check_their_arguments_and_keep_the_old_value_on_refusal) {
    const Api& api = TheApi();
    wt::TestWindow window(40, 40, 64, 64);
    const int32_t handle = NewHandle();
    tagRECT rect = {0, 0, 100, 100};
    EXPECT_EQ(api.SetDisplayRect(handle, &rect), ORVD_OK);
    EXPECT_EQ(api.SetDisplayRect(handle, nullptr), ORVD_OK);
    tagRECT negative = {0, 0, 10, INT32_MIN};
    EXPECT_EQ(api.SetDisplayRect(handle, &negative), ORVD_E_PARAM);
    EXPECT_EQ(api.SetRotationAngle(handle, 90), ORVD_E_UNSUPPORTED);
    EXPECT_EQ(api.SetDisplayWindow(handle, nullptr), ORVD_E_PARAM);
    EXPECT_EQ(api.SetDisplayWindow(handle, reinterpret_cast<HWND>(0x7FFF1234)), ORVD_E_PARAM);
    EXPECT_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_PARAM);
    // No window yet, then a real one.
    std::vector<uint8_t> pixels(64 * 64 * 4, 0x80);
    tagORVD_FRAME frame = {pixels.data(), 0, ORVD_FORMAT_RGB32, 64, 64};
    EXPECT_EQ(api.DisplayFrame(handle, &frame), ORVD_E_NOT_READY);
    EXPECT_EQ(api.SetDisplayWindow(handle, window.Handle()), ORVD_OK);
    EXPECT_EQ(api.DisplayFrame(handle, &frame), ORVD_OK);
    tagORVD_FRAME no_bytes = {nullptr, 0, ORVD_FORMAT_RGB32, 64, 64};
    EXPECT_EQ(api.DisplayFrame(handle, &no_bytes), ORVD_E_PARAM);
    api.Release(handle);
}

TEST(OrvennaApi, a_released_handle_answers_as_a_slot_without_engine_until_handed_out_again) {
    const Api& api = TheApi();
    const int32_t handle = NewHandle();
    EXPECT_EQ(api.Release(handle), ORVD_OK);
    EXPECT_EQ(api.SetDisplayWindow(handle, GetDesktopWindow()), ORVD_E_NOT_READY);
    EXPECT_EQ(api.DisplayFrame(handle, nullptr), ORVD_E_NOT_READY);
    EXPECT_EQ(api.RefreshDisplay(handle), ORVD_E_NOT_READY);
    EXPECT_EQ(api.SetRotationAngle(handle, 90), ORVD_E_NOT_READY);
    EXPECT_EQ(api.SetDisplayMode(handle, 1), ORVD_OK);
    EXPECT_EQ(api.RegisterDCCallback(handle, &IgnoreDC, 0), ORVD_OK);
    EXPECT_EQ(api.Release(handle), ORVD_OK);
    EXPECT_EQ(NewHandle(), handle);  // released, not occupied by the calls in between
    api.Release(handle);
}

TEST(OrvennaApi, a_full_table_refuses_the_next_engine_without_writing_the_handle) {
    const Api& api = TheApi();
    std::vector<int32_t> handles;
    for (int i = 0; i < ORVD_MAX_HANDLES; ++i) {
        int32_t handle = -1;
        if (api.InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK) break;
        handles.push_back(handle);
    }
    EXPECT_EQ(handles.size(), ORVD_MAX_HANDLES);
    EXPECT_EQ(handles.back(), ORVD_MAX_HANDLES - 1);
    int32_t handle = 4321;
    EXPECT_EQ(api.InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    EXPECT_EQ(handle, 4321);
    for (const int32_t h : handles) EXPECT_EQ(api.Release(h), ORVD_OK);
    EXPECT_EQ(NewHandle(), 0);
    api.Release(0);
}

}  // namespace
