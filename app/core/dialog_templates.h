// The program's resources as data: the dialog templates as tables in dialog units, the control,
// command, bitmap and timer IDs, and the texts that more than one front-end shows. Both front-ends
// lay out their windows from these tables; nothing here knows a toolkit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kestrix {

enum class ControlKind {
    Static,        // text label
    StaticFramed,  // label with a sunken border
    LiveView,      // bordered native child window that the render library draws into
    Edit,          // single-line edit with a border, horizontal auto-scroll
    ReadOnlyEdit,
    PushButton,
    DefPushButton,  // the dialog's default button
    CheckBox,       // auto check box
    RadioButton,    // auto radio button; the first one of the group starts it
    GroupBox,       // a frame with a caption, a sibling of what it frames
    TabControl,
};

struct ControlTemplate {
    int id;  // -1 for controls that nobody addresses
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
    int id;
    const char* caption;  // UTF-8; empty for a child page without caption or border
    int pointSize;
    int cx, cy;  // client size in dialog units
    std::span<const ControlTemplate> controls;
};

extern const DialogTemplate kTemplate100;  // the About box
extern const DialogTemplate kTemplate102;  // the main window
extern const DialogTemplate kTemplate132;  // the storage path dialog
extern const DialogTemplate kTemplate133;  // the connection dialog
extern const DialogTemplate kTemplate134;  // the display panel

// The face that every template names ("MS Shell Dlg").
inline constexpr const char* kDialogFaceName = "MS Shell Dlg";

// Command IDs of menu 131 and of the system menu.
enum : int {
    IDM_ABOUTBOX = 0x0010,
    ID_SETTING_RAWDATAPATH = 32774,
    ID_CAMERA_EXIT = 32777,
    ID_CAMERA_CONNECT = 32781,
    ID_CAMERA_DISCONNECT = 32783,
    ID_COMMAND_FIRST = 32774,
    ID_COMMAND_LAST = 32786,
};
inline constexpr int IDR_MENU = 131;
inline constexpr int IDR_MAINFRAME = 128;  // the program icon
// String 101, the system menu's About item.
inline constexpr const char* kAboutMenuText = "关于 Kestrix(&A)...";

// Template 102.
inline constexpr int IDC_TAB = 1000;
inline constexpr int IDC_STATUS = 1009;

// Template 100.
inline constexpr int IDC_ABOUT_ICON = 1100;

// Template 133.
enum : int {
    IDC_CAMERA_IP = 1004,
    IDC_USER_NAME = 1005,
    IDC_PASSWORD = 1006,
    IDC_PORT = 1007,
};

// Template 132.
enum : int {
    IDC_STORAGE_PATH = 1001,
    IDC_BROWSE = 1002,
};

// Template 134.
enum : int {
    IDC_LIVE_VIEW = 1005,
    IDC_VIDEO_RECORD = 1008,
    IDC_SNAP_COUNT = 1010,
    IDC_FOCUS_PLUS = 1011,
    IDC_FOCUS_MINUS = 1012,
    IDC_SNAP_CAP = 1043,
    IDC_HIGH_TO_LOW = 1045,
    IDC_CENTER_AND_TEMP = 1046,
    IDC_CAPTURE_PERIOD = 1048,
    IDC_AGC_LINE = 1049,
    IDC_AGC_HISTEQ = 1050,
    IDC_AGC_SPECIAL = 1051,
};

// The focus faces' bitmaps.
enum : int {
    IDB_FOCUS_MINUS = 137,       // "Focus -" released
    IDB_FOCUS_PLUS_DOWN = 138,   // "Focus +" pressed
    IDB_FOCUS_PLUS = 139,        // "Focus +" released
    IDB_FOCUS_MINUS_DOWN = 140,  // "Focus -" pressed
};

inline constexpr int kRecordTimerId = 1;
inline constexpr uint32_t kFocusNearCommand = 13;  // "Focus -"
inline constexpr uint32_t kFocusFarCommand = 14;   // "Focus +"

// The live view's background, behind the picture.
inline constexpr uint8_t kLiveViewGrey = 190;

// Integer text as the dialogs read it: optional blanks, an optional minus, decimal digits and
// optional trailing blanks; anything else, or a value outside 32 bits, reads as 0.
int32_t ParseDialogInt(std::string_view text);

}  // namespace kestrix
