// The one helper that lays the dialog templates out in Qt widgets: positions and sizes are in
// dialog units, converted to pixels from the dialog font's average character width and height
// (x * width / 4, y * height / 8, rounded), as the templates were drawn.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>
#include <span>
#include <string>
#include <string_view>

#include "dialog_templates.h"

class QDialog;
class QWidget;

namespace kestrix {

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

// Makes `dialog` a top-level dialog of the template's caption and fixed client size, with its
// controls.
void LayOutTopLevel(QDialog* dialog, const DialogTemplate& layout);

// The control with the given ID below `parent`, or null.
template <typename T = QWidget>
T* Control(const QWidget* parent, int id);

// Texts and check states of the controls that carry them, whatever their kind (UTF-8).
std::string ControlText(const QWidget* parent, int id);
void SetControlText(const QWidget* parent, int id, std::string_view text);
bool IsChecked(const QWidget* parent, int id);
void SetChecked(const QWidget* parent, int id, bool checked);

}  // namespace kestrix

#include <QWidget>

template <typename T>
T* kestrix::Control(const QWidget* parent, int id) {
    return parent->findChild<T*>(QString::number(id));
}
