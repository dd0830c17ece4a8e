// Layout of the dialog templates.
#include "dialog_template.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <cmath>
#include <limits>

namespace kestrix {
namespace {

// Rounded a * b / c, as the Windows helper that the conversion rule is defined with.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

QWidget* CreateControl(QWidget* parent, const ControlTemplate& t) {
    const QString text = QString::fromUtf8(t.text);
    switch (t.kind) {
        case ControlKind::Static:
            return new QLabel(text, parent);
        case ControlKind::StaticFramed: {
            auto* label = new QLabel(text, parent);
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            return label;
        }
        case ControlKind::LiveView: {
            auto* frame = new QFrame(parent);
            frame->setFrameStyle(QFrame::Box | QFrame::Plain);
            frame->setAttribute(Qt::WA_NativeWindow);
            return frame;
        }
        case ControlKind::Edit:
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(t.kind == ControlKind::ReadOnlyEdit);
            return edit;
        }
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(t.kind == ControlKind::DefPushButton);
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::RadioButton:
            return new QRadioButton(text, parent);
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(text, parent);
            box->setFocusPolicy(Qt::NoFocus);
            return box;
        }
        case ControlKind::TabControl:
            return new QTabWidget(parent);
    }
    return nullptr;
}

}  // namespace

QFont DialogFont(int pointSize) {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(MulDiv(pointSize, 96, 72));
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (width / 26 + 1) / 2;
    m_nBaseY = metrics.ascent() + metrics.descent();
    if (m_nBaseX <= 0) m_nBaseX = 1;
    if (m_nBaseY <= 0) m_nBaseY = 1;
}

int DialogUnits::ToPixelsX(int x) const {
    return MulDiv(x, m_nBaseX, 4);
}
int DialogUnits::ToPixelsY(int y) const {
    return MulDiv(y, m_nBaseY, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int cx, int cy) const {
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(cx), ToPixelsY(cy));
}

void CreateControls(QWidget* parent, const DialogTemplate& dialog, QPoint origin) {
    const QFont font = DialogFont(dialog.pointSize);
    const DialogUnits units(font);
    for (const ControlTemplate& t : dialog.controls) {
        QWidget* control = CreateControl(parent, t);
        if (t.id != -1) control->setObjectName(QString::number(t.id));
        control->setFont(font);
        control->setGeometry(units.ToPixels(t.x, t.y, t.cx, t.cy).translated(origin));
        control->show();
    }
}

int32_t ParseDialogInt(const QString& text) {
    const QString s = text.trimmed();
    if (s.isEmpty()) return 0;
    int i = 0;
    const bool negative = s[0] == u'-';
    if (negative) ++i;
    if (i == s.size()) return 0;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') return 0;
        value = value * 10 + (s[i].unicode() - u'0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

}  // namespace kestrix
