// The dialog templates, readable like a resource script, and the dialogs' integer reading.
#include "dialog_templates.h"

#include <limits>

namespace kestrix {
namespace {

using K = ControlKind;

// Template 100: "关于 Kestrix", MS Shell Dlg 8, 170 x 62.
constexpr ControlTemplate kControls100[] = {
    {IDC_ABOUT_ICON, K::Static, "", 14, 14, 21, 20},
    {-1, K::Static, "Kestrix，1.0 版", 42, 14, 114, 8},
    {1, K::DefPushButton, "确定", 113, 41, 50, 14},
};

// Template 102: "Brindlecap", MS Shell Dlg 9, 354 x 301, menu 131.
constexpr ControlTemplate kControls102[] = {
    {IDC_TAB, K::TabControl, "", 7, 7, 333, 275},
    {IDC_STATUS, K::Static, "Disconnect..", 7, 287, 106, 8},
};

// Template 132: "设置原始数据存储路径", MS Shell Dlg 8, 377 x 91.
constexpr ControlTemplate kControls132[] = {
    {-1, K::Static, "存储路径：", 26, 38, 44, 12},
    {IDC_STORAGE_PATH, K::ReadOnlyEdit, "", 79, 35, 219, 14},
    {IDC_BROWSE, K::PushButton, "浏览", 307, 35, 50, 14},
};

// Template 133: "Camera Connect", MS Shell Dlg 8, 226 x 167; listed in tab order.
constexpr ControlTemplate kControls133[] = {
    {1, K::DefPushButton, "OK", 43, 146, 50, 14},
    {2, K::PushButton, "Cancel", 122, 146, 50, 14},
    {-1, K::GroupBox, "Connect Information", 15, 19, 196, 120},
    {-1, K::Static, "Camera IP:", 35, 36, 37, 8},
    {-1, K::Static, "User Name:", 33, 60, 38, 8},
    {-1, K::Static, "Password:", 37, 86, 34, 8},
    {-1, K::Static, "Port:", 55, 113, 17, 8},
    {IDC_CAMERA_IP, K::Edit, "", 81, 34, 108, 14},
    {IDC_USER_NAME, K::Edit, "", 81, 59, 108, 14},
    {IDC_PASSWORD, K::Edit, "", 81, 84, 108, 14},
    {IDC_PORT, K::Edit, "", 81, 109, 108, 14},
};

// Template 134: a child page without caption or border, MS Shell Dlg 8, 420 x 290.
constexpr ControlTemplate kControls134[] = {
    {IDC_LIVE_VIEW, K::LiveView, "", 7, 7, 280, 164},
    {1059, K::Static, "焦平面", 14, 178, 26, 8},
    {1052, K::Static, "", 47, 179, 46, 8},
    {-1, K::Static, "空腔", 100, 178, 17, 8},
    {1054, K::Static, "", 122, 178, 53, 8},
    {-1, K::Static, "PCB", 186, 178, 14, 8},
    {1056, K::Static, "", 204, 178, 63, 8},
    {-1, K::Static, "VITEC", 272, 178, 20, 8},
    {1058, K::Static, "", 298, 178, 58, 8},
    {-1, K::Static, "EOCC", 14, 195, 20, 8},
    {1053, K::Static, "", 43, 195, 50, 8},
    {-1, K::Static, "TEC", 100, 195, 14, 8},
    {1055, K::Static, "", 121, 195, 52, 8},
    {-1, K::Static, "B-value", 186, 195, 25, 8},
    {1057, K::Static, "", 214, 195, 56, 8},
    {IDC_HIGH_TO_LOW, K::CheckBox, "HightoLow", 308, 33, 49, 10},
    {-1, K::GroupBox, "AgcProcMode", 301, 61, 60, 83},
    {IDC_AGC_LINE, K::RadioButton, "Line", 308, 81, 29, 10},
    {IDC_AGC_HISTEQ, K::RadioButton, "Histeq", 308, 100, 46, 10},
    {IDC_AGC_SPECIAL, K::RadioButton, "Special", 308, 119, 47, 10},
    {-1, K::GroupBox, "Image Controller", 7, 215, 391, 61},
    {IDC_VIDEO_RECORD, K::PushButton, "Video Record", 105, 233, 63, 14},
    {IDC_SNAP_COUNT, K::Edit, "", 180, 233, 34, 14},
    {IDC_SNAP_CAP, K::PushButton, "SnapCap", 229, 233, 50, 14},
    {IDC_FOCUS_PLUS, K::Static, "Focus +", 300, 223, 27, 8},
    {IDC_FOCUS_MINUS, K::Static, "Focus -", 302, 241, 27, 8},
    {IDC_CENTER_AND_TEMP, K::CheckBox, "CenterAndTemp", 26, 236, 68, 10},
    {-1, K::Static, "CaptureFrequence(ms)", 17, 256, 76, 14},
    {IDC_CAPTURE_PERIOD, K::Edit, "", 109, 254, 46, 14},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

const DialogTemplate kTemplate100{100, "关于 Kestrix", 8, 170, 62, kControls100};
const DialogTemplate kTemplate102{102, "Brindlecap", 9, 354, 301, kControls102};
const DialogTemplate kTemplate132{132, "设置原始数据存储路径", 8, 377, 91, kControls132};
const DialogTemplate kTemplate133{133, "Camera Connect", 8, 226, 167, kControls133};
const DialogTemplate kTemplate134{134, "", 8, 420, 290, kControls134};

int32_t ParseDialogInt(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.empty()) return 0;
    const bool negative = text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return 0;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

}  // namespace kestrix
