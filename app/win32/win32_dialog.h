// Win32Dialog: a Win32 dialog made in memory from a template table (DLGTEMPLATEEX, real dialog
// units of the template's font), carrying one dialog's logic and answering the hooks that every
// dialog's logic asks for with the dialog's items.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dialog_hooks.h"
#include "dialog_templates.h"
#include "text_codec.h"

namespace kestrix {

// Window styles of the dialogs.
inline constexpr DWORD kTopLevelDialogStyle =
    DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
inline constexpr DWORD kChildPageStyle = DS_SETFONT | DS_FIXEDSYS | DS_CONTROL | WS_CHILD;

// `dialog` as a DLGTEMPLATEEX with `style`: the template's font and one item per control, in
// template order, with the window class and styles of its kind.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, DWORD style);

// The program's message box: modal, owned by `owner`, an OK button only, the text as given.
void ShowProgramMessageBox(HWND owner, std::string_view text);

// Turns the static item `id` into one that shows an image of `type` (SS_BITMAP, SS_ICON).
void MakeImageStatic(HWND dialog, int id, DWORD type);

// One dialog procedure for all of the front-end's dialogs; it finds the object and hands it the
// messages from WM_INITDIALOG on.
class Win32Window {
  public:
    Win32Window(const DialogTemplate& layout, DWORD style) : m_layout(layout), m_style(style) {}
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;
    HWND Handle() const { return m_hWnd; }

    // Runs the dialog's own modal loop; returns what ends it.
    INT_PTR DoModal(HWND owner);
    // Makes the dialog and returns at once (a child page, or a window for tests).
    HWND Create(HWND parent);

  protected:
    virtual ~Win32Window();
    // What a dialog procedure returns: TRUE when the message was handled.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND m_hWnd = nullptr;  // from WM_INITDIALOG to WM_NCDESTROY

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const DialogTemplate& m_layout;
    DWORD m_style;
};

template <typename Logic>
class Win32Dialog : public Win32Window, public Logic {
  public:
    template <typename... Args>
    Win32Dialog(const DialogTemplate& layout, DWORD style, Args&&... args)
        : Win32Window(layout, style), Logic(std::forward<Args>(args)...) {}

    std::string ControlText(int id) const override {
        const HWND item = GetDlgItem(m_hWnd, id);
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        text.resize(
            static_cast<size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
        return WideToUtf8(text);
    }
    void SetControlText(int id, std::string_view text) override {
        SetDlgItemTextW(m_hWnd, id, Utf8ToWide(text).c_str());
    }
    void EnableControl(int id, bool enable) override {
        EnableWindow(GetDlgItem(m_hWnd, id), enable);
    }
    bool IsChecked(int id) const override { return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) override {
        CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void ShowMessageBox(std::string_view text) override { ShowProgramMessageBox(m_hWnd, text); }
    void EndDialog(bool ok) override { ::EndDialog(m_hWnd, ok ? IDOK : IDCANCEL); }
};

}  // namespace kestrix
