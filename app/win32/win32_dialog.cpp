// Dialog templates in memory and the front-end's one dialog procedure.
#include "win32_dialog.h"

namespace kestrix {
namespace {

// Window class ordinals of the predefined controls in a dialog template.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

struct ItemClass {
    WORD ordinal;  // 0 when the class goes by name
    const wchar_t* name;
    DWORD style;
};

ItemClass ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Static:
            return {kStaticClass, nullptr, SS_LEFT};
        case ControlKind::StaticFramed:
            return {kStaticClass, nullptr, SS_LEFT | SS_SUNKEN};
        case ControlKind::LiveView:
            return {kStaticClass, nullptr, SS_LEFT | WS_BORDER};
        case ControlKind::Edit:
            return {kEditClass, nullptr, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
        case ControlKind::ReadOnlyEdit:
            return {kEditClass, nullptr,
                    ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
        case ControlKind::PushButton:
            return {kButtonClass, nullptr, BS_PUSHBUTTON | WS_TABSTOP};
        case ControlKind::DefPushButton:
            return {kButtonClass, nullptr, BS_DEFPUSHBUTTON | WS_TABSTOP};
        case ControlKind::CheckBox:
            return {kButtonClass, nullptr, BS_AUTOCHECKBOX | WS_TABSTOP};
        case ControlKind::RadioButton:
            return {kButtonClass, nullptr, BS_AUTORADIOBUTTON};
        case ControlKind::GroupBox:
            return {kButtonClass, nullptr, BS_GROUPBOX};
        case ControlKind::TabControl:
            return {0, L"SysTabControl32", WS_TABSTOP};
    }
    return {kStaticClass, nullptr, SS_LEFT};
}

class TemplateWriter {
  public:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
    void Text(std::wstring_view text) {
        for (wchar_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void Ordinal(WORD value) {
        Word(0xFFFF);
        Word(value);
    }
    // Items start on a DWORD boundary.
    void Align() {
        if (m_words.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_words); }

  private:
    std::vector<WORD> m_words;
};

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, DWORD style) {
    TemplateWriter w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature: DLGTEMPLATEEX
    w.Dword(0);      // helpID
    w.Dword(0);      // exStyle
    w.Dword(style);
    w.Word(static_cast<WORD>(dialog.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(dialog.cx);
    w.Short(dialog.cy);
    w.Word(0);  // no menu: the front-end sets it from the menu table
    w.Word(0);  // the dialog class
    w.Text(Utf8ToWide(dialog.caption));
    w.Word(static_cast<WORD>(dialog.pointSize));
    w.Word(FW_NORMAL);
    w.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, charset
    w.Text(Utf8ToWide(kDialogFaceName));

    bool inRadioGroup = false;
    for (const ControlTemplate& t : dialog.controls) {
        const ItemClass item = ClassOf(t.kind);
        DWORD itemStyle = WS_CHILD | WS_VISIBLE | item.style;
        // Each run of radio buttons is one group whose first button is the tab stop; every other
        // control is a group of its own.
        const bool radio = t.kind == ControlKind::RadioButton;
        if (!radio || !inRadioGroup) itemStyle |= WS_GROUP;
        if (radio && !inRadioGroup) itemStyle |= WS_TABSTOP;
        inRadioGroup = radio;

        w.Align();
        w.Dword(0);  // helpID
        w.Dword(0);  // exStyle
        w.Dword(itemStyle);
        w.Short(t.x);
        w.Short(t.y);
        w.Short(t.cx);
        w.Short(t.cy);
        w.Dword(static_cast<DWORD>(t.id));
        if (item.ordinal != 0) {
            w.Ordinal(item.ordinal);
        } else {
            w.Text(item.name);
        }
        w.Text(Utf8ToWide(t.text));
        w.Word(0);  // no creation data
    }
    return w.Take();
}

void ShowProgramMessageBox(HWND owner, std::string_view text) {
    const HWND active = GetActiveWindow();
    MessageBoxW(active ? active : owner, Utf8ToWide(text).c_str(), L"Kestrix", MB_OK);
}

void MakeImageStatic(HWND dialog, int id, DWORD type) {
    const HWND item = GetDlgItem(dialog, id);
    const LONG_PTR style = GetWindowLongPtrW(item, GWL_STYLE);
    SetWindowLongPtrW(item, GWL_STYLE, (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | type);
}

Win32Window::~Win32Window() {
    if (m_hWnd) {
        SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        DestroyWindow(m_hWnd);
    }
}

INT_PTR Win32Window::DoModal(HWND owner) {
    const std::vector<WORD> memory = BuildDialogTemplate(m_layout, m_style);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                   reinterpret_cast<LPCDLGTEMPLATEW>(memory.data()), owner,
                                   &DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND Win32Window::Create(HWND parent) {
    const std::vector<WORD> memory = BuildDialogTemplate(m_layout, m_style);
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(memory.data()), parent,
                                      &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Win32Window*>(lParam)->m_hWnd = window;
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    const INT_PTR result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

}  // namespace kestrix
