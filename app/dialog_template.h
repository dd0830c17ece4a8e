// Dialog templates as tables, and the one helper that lays them out: positions and sizes are in
// dialog units, converted to pixels from the dialog font's average character width and height
// (x * width / 4, y * height / 8, rounded), as the templates were drawn.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>
#include <span>

class QWidget;

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
    const char* caption;  // UTF-8
    int pointSize;
    int cx, cy;  // client size in dialog units
    std::span<const ControlTemplate> controls;
};

// The dialog font: the face every template names stands in for, at the template's size, with the
// pixel height that size has at 96 dots per inch, whatever the screen says.
QFont DialogFont(int pointSize);

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }
    int ToPixelsX(int x) const;
    int ToPixelsY(int y) const;
    QRect ToPixels(int x, int y, int cx, int cy) const;

  private:
    int m_nBaseX;
    int m_nBaseY;
};

// Creates the template's controls on `parent` at `origin`, in template order, which is also their
// tab order. Each control's objectName is its ID; the font is the template's.
void CreateControls(QWidget* parent, const DialogTemplate& dialog, QPoint origin = {});

// The control with the given ID below `parent`, or null.
template <typename T = QWidget>
T* Control(const QWidget* parent, int id);

// Integer text as the dialogs read it: optional blanks, an optional minus, decimal digits and
// optional trailing blanks; anything else, or a value outside 32 bits, reads as 0.
int32_t ParseDialogInt(const QString& text);

}  // namespace kestrix

#include <QWidget>

template <typename T>
T* kestrix::Control(const QWidget* parent, int id) {
    return parent->findChild<T*>(QString::number(id));
}
