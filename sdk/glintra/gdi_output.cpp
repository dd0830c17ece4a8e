// Glintra on Windows: the child window inside the window given to GLT_Display, the grey picture
// scaled into a memory bitmap with StretchDIBits, the overlay drawn there with GDI, and the bitmap
// copied into the child on every picture and on WM_PAINT.
#include "output.h"

#include <pthread.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace glintra {

namespace {

constexpr wchar_t kClassName[] = L"GlintraView";

// How often an attached drawing thread looks at its parent's size and existence: a child on
// another thread hears of neither.
constexpr DWORD kParentPollMs = 50;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

BYTE Byte(double channel) {
    return static_cast<BYTE>(std::lround(channel * 255.0));
}

// GLT_DrawRect on the memory bitmap's device context: solid fills, blended ones for a colour
// that is not opaque.
class GdiPainter : public OverlayCanvas {
  public:
    GdiPainter() = default;
    ~GdiPainter() override {
        if (m_dot) {
            SelectObject(m_dot, m_dotOld);
            DeleteDC(m_dot);
        }
        if (m_dotBitmap) DeleteObject(m_dotBitmap);
    }
    GdiPainter(const GdiPainter&) = delete;
    GdiPainter& operator=(const GdiPainter&) = delete;

    void Begin(HDC dc, int width, int height) {
        m_dc = dc;
        m_width = width;
        m_height = height;
    }

    bool DrawRect(const float rect[4], const float colour[4], int lineWidth) override {
        PlacedRect box;
        if (!PlaceRect(rect, colour, lineWidth, m_width, m_height, box)) return false;
        Band bands[4];
        const int count = BoxBands(box, bands);
        for (int i = 0; i < count; ++i) {
            if (!Fill(box, bands[i].x0, bands[i].y0, bands[i].x1, bands[i].y1)) return false;
        }
        return true;
    }

  private:
    bool Fill(const PlacedRect& box, long x0, long y0, long x1, long y1) {
        // Clipped here: GDI coordinates are 27 bits at best.
        RECT r = {static_cast<LONG>(std::clamp(x0, 0L, static_cast<long>(m_width))),
                  static_cast<LONG>(std::clamp(y0, 0L, static_cast<long>(m_height))),
                  static_cast<LONG>(std::clamp(x1, 0L, static_cast<long>(m_width))),
                  static_cast<LONG>(std::clamp(y1, 0L, static_cast<long>(m_height)))};
        if (r.left >= r.right || r.top >= r.bottom || box.alpha <= 0.0) return true;
        const COLORREF rgb = RGB(Byte(box.red), Byte(box.green), Byte(box.blue));
        if (box.alpha >= 1.0) {
            HBRUSH brush = CreateSolidBrush(rgb);
            if (!brush) return false;
            FillRect(m_dc, &r, brush);
            DeleteObject(brush);
            return true;
        }
        // A one-pixel bitmap of the colour, stretched over the box with constant alpha.
        if (!m_dot && !MakeDot()) return false;
        SetPixelV(m_dot, 0, 0, rgb);
        const BLENDFUNCTION blend = {AC_SRC_OVER, 0, Byte(box.alpha), 0};
        return GdiAlphaBlend(m_dc, r.left, r.top, r.right - r.left, r.bottom - r.top, m_dot, 0, 0,
                             1, 1, blend) != FALSE;
    }

    bool MakeDot() {
        m_dot = CreateCompatibleDC(m_dc);
        m_dotBitmap = CreateCompatibleBitmap(m_dc, 1, 1);
        if (!m_dot || !m_dotBitmap) return false;
        m_dotOld = SelectObject(m_dot, m_dotBitmap);
        return true;
    }

    HDC m_dc = nullptr;
    int m_width = 0;
    int m_height = 0;
    HDC m_dot = nullptr;
    HBITMAP m_dotBitmap = nullptr;
    HGDIOBJ m_dotOld = nullptr;
};

// An 8-bit DIB header whose palette maps index g to RGB(g, g, g).
struct GreyBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD palette[256];
};

class GdiOutput : public Output {
  public:
    explicit GdiOutput(HANDLE wakeEvent) : m_wakeEvent(wakeEvent) {
        std::memset(&m_info, 0, sizeof m_info);
        m_info.header.biSize = sizeof(BITMAPINFOHEADER);
        m_info.header.biPlanes = 1;
        m_info.header.biBitCount = 8;
        m_info.header.biCompression = BI_RGB;
        m_info.header.biClrUsed = 256;
        for (int g = 0; g < 256; ++g) {
            const auto level = static_cast<BYTE>(g);
            m_info.palette[g] = {level, level, level, 0};
        }
    }
    ~GdiOutput() override {
        Detach();
        PumpMessages();  // the child's last messages
    }
    GdiOutput(const GdiOutput&) = delete;
    GdiOutput& operator=(const GdiOutput&) = delete;

    static bool RegisterClassOnce() {
        static std::mutex lock;
        static bool registered = false;
        std::lock_guard guard(lock);
        if (registered) return true;
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &GdiOutput::WindowProc;
        wc.hInstance = ThisModule();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kClassName;
        if (!RegisterClassExW(&wc) && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
            // Left behind by an earlier load of this DLL, with its window procedure.
            UnregisterClassW(kClassName, wc.hInstance);
            if (!RegisterClassExW(&wc)) return false;
        }
        registered = true;
        return true;
    }

    Events Dispatch() override {
        PumpMessages();
        Events events;
        if (!m_parent) return events;
        if (!IsWindow(m_parent) || !m_child) {
            events.goneParent = reinterpret_cast<uint64_t>(m_parent);
            Detach();
            return events;
        }
        RECT client = {};
        GetClientRect(m_parent, &client);
        const int width = std::max<int>(client.right, 1);
        const int height = std::max<int>(client.bottom, 1);
        if (width != m_width || height != m_height) {
            m_width = width;
            m_height = height;
            SetWindowPos(m_child, nullptr, 0, 0, width, height,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
            events.resized = true;
        }
        return events;
    }
    bool Lost() const override { return false; }  // GDI has no connection to lose

    uint64_t Parent() const override { return reinterpret_cast<uint64_t>(m_parent); }

    bool Attach(uint64_t parent) override {
        Detach();
        const HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(parent));
        RECT client = {};
        if (!IsWindow(hwnd) || !GetClientRect(hwnd, &client)) return false;
        m_width = std::max<int>(client.right, 1);
        m_height = std::max<int>(client.bottom, 1);
        // Disabled: clicks belong to the parent. No parent notification: the parent's thread may
        // be waiting for this one (a GLT_DestroyHandle joining it), and must not be sent to.
        m_child = CreateWindowExW(WS_EX_NOPARENTNOTIFY, kClassName, L"",
                                  WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_CLIPSIBLINGS, 0, 0,
                                  m_width, m_height, hwnd, nullptr, ThisModule(), this);
        if (!m_child) return false;
        m_parent = hwnd;
        return true;
    }

    void Detach() override {
        if (m_child) DestroyWindow(m_child);  // WM_NCDESTROY clears m_child
        m_child = nullptr;
        m_parent = nullptr;
        ReleaseBitmap();
    }

    bool Ready() const override { return m_child != nullptr; }

    bool RenderedAtWindowSize() const override {
        return m_bitmap && m_bitmapWidth == m_width && m_bitmapHeight == m_height;
    }

    bool Render(const GreyPicture& picture, bool bilinear, const OverlayRunner& overlay) override {
        if (!RenderedAtWindowSize() && !MakeBitmap()) return false;
        // DIB rows start on 4-byte boundaries: pictures of other widths are copied with padding.
        const uint8_t* rows = picture.pixels.data();
        const int stride = (picture.width + 3) & ~3;
        if (stride != picture.width) {
            m_padded.resize(static_cast<size_t>(stride) * static_cast<size_t>(picture.height));
            for (int y = 0; y < picture.height; ++y) {
                std::memcpy(&m_padded[static_cast<size_t>(y) * stride],
                            &picture.pixels[static_cast<size_t>(y) * picture.width],
                            static_cast<size_t>(picture.width));
            }
            rows = m_padded.data();
        }
        m_info.header.biWidth = picture.width;
        m_info.header.biHeight = -picture.height;  // top-down, like the picture
        SetStretchBltMode(m_memory, bilinear ? HALFTONE : COLORONCOLOR);
        SetBrushOrgEx(m_memory, 0, 0, nullptr);  // as HALFTONE asks
        if (StretchDIBits(m_memory, 0, 0, m_bitmapWidth, m_bitmapHeight, 0, 0, picture.width,
                          picture.height, rows, reinterpret_cast<const BITMAPINFO*>(&m_info),
                          DIB_RGB_COLORS, SRCCOPY) == 0) {
            return false;
        }
        m_painter.Begin(m_memory, m_bitmapWidth, m_bitmapHeight);
        // GDI handles carry 32 significant bits, so the device context fits the callback's
        // 32-bit argument; the callback sign-extends it back.
        overlay(m_painter, m_bitmapWidth, m_bitmapHeight,
                static_cast<int32_t>(reinterpret_cast<intptr_t>(m_memory)));
        Present();
        return true;
    }

    void Repaint() override { Present(); }

    void Wait() override {
        GdiFlush();
        const DWORD timeout = m_parent ? kParentPollMs : INFINITE;
        MsgWaitForMultipleObjectsEx(1, &m_wakeEvent, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<GdiOutput*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (message) {
            case WM_ERASEBKGND:
                return 1;  // the picture covers the whole child
            case WM_PAINT: {
                PAINTSTRUCT paint;
                HDC dc = BeginPaint(hwnd, &paint);
                if (self && self->m_bitmap) {
                    BitBlt(dc, 0, 0, self->m_bitmapWidth, self->m_bitmapHeight, self->m_memory, 0,
                           0, SRCCOPY);
                } else {
                    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                }
                EndPaint(hwnd, &paint);
                return 0;
            }
            case WM_NCDESTROY:
                // Also when the parent is destroyed with the child in it.
                if (self && self->m_child == hwnd) self->m_child = nullptr;
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                break;
            default:
                break;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    static void PumpMessages() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    void Present() {
        if (!m_child || !m_bitmap) return;
        GdiFlush();
        HDC dc = GetDC(m_child);
        if (!dc) return;
        BitBlt(dc, 0, 0, m_bitmapWidth, m_bitmapHeight, m_memory, 0, 0, SRCCOPY);
        ReleaseDC(m_child, dc);
        ValidateRect(m_child, nullptr);  // what WM_PAINT would draw is there now
    }

    bool MakeBitmap() {
        ReleaseBitmap();
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = m_width;
        info.bmiHeader.biHeight = -m_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_memory = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!m_memory || !m_bitmap) {
            ReleaseBitmap();
            return false;
        }
        m_oldBitmap = SelectObject(m_memory, m_bitmap);
        m_bitmapWidth = m_width;
        m_bitmapHeight = m_height;
        return true;
    }

    void ReleaseBitmap() {
        if (m_memory && m_oldBitmap) SelectObject(m_memory, m_oldBitmap);
        if (m_bitmap) DeleteObject(m_bitmap);
        if (m_memory) DeleteDC(m_memory);
        m_memory = nullptr;
        m_bitmap = nullptr;
        m_oldBitmap = nullptr;
        m_bitmapWidth = 0;
        m_bitmapHeight = 0;
    }

    HANDLE m_wakeEvent;
    HWND m_parent = nullptr;  // the window given to GLT_Display
    HWND m_child = nullptr;   // ours, inside it; cleared by its WM_NCDESTROY
    int m_width = 1;          // the child's size: the parent's client area
    int m_height = 1;
    HDC m_memory = nullptr;  // holds m_bitmap: the last picture with its overlay
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
    int m_bitmapWidth = 0;
    int m_bitmapHeight = 0;
    GreyBitmapInfo m_info;
    std::vector<uint8_t> m_padded;  // the picture's rows on 4-byte boundaries
    GdiPainter m_painter;
};

}  // namespace

Wakeup::Wakeup() {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event) m_native = reinterpret_cast<intptr_t>(event);
}

Wakeup::~Wakeup() {
    if (Usable()) CloseHandle(reinterpret_cast<HANDLE>(m_native));
}

void Wakeup::Signal() {
    SetEvent(reinterpret_cast<HANDLE>(m_native));
}

// GDI needs no connection: there is always one to the window system of this desktop.
std::unique_ptr<Connection> OpenConnection() {
    return std::make_unique<Connection>();
}

std::unique_ptr<Output> MakeOutput(std::unique_ptr<Connection>, Wakeup& wakeup, bool) {
    if (!GdiOutput::RegisterClassOnce()) return nullptr;
    return std::make_unique<GdiOutput>(reinterpret_cast<HANDLE>(wakeup.Native()));
}

void JoinDrawer(std::thread& drawer) {
    // DestroyWindow of the child sends to the parent's thread before it returns.
    HANDLE thread = static_cast<HANDLE>(pthread_gethandle(drawer.native_handle()));
    while (thread && MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
                         WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    drawer.join();
}

}  // namespace glintra
