// Layout of the dialog templates in Qt widgets, and the texts of their controls.
#include "dialog_layout.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <cmath>

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

void LayOutTopLevel(QDialog* dialog, const DialogTemplate& layout) {
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint);
    const DialogUnits units(DialogFont(layout.pointSize));
    dialog->setWindowTitle(QString::fromUtf8(layout.caption));
    dialog->setFont(DialogFont(layout.pointSize));
    dialog->setFixedSize(units.ToPixelsX(layout.cx), units.ToPixelsY(layout.cy));
    CreateControls(dialog, layout);
}

std::string ControlText(const QWidget* parent, int id) {
    QWidget* control = Control(parent, id);
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        text = edit->text();
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        text = button->text();
    }
    return text.toStdString();
}

void SetControlText(const QWidget* parent, int id, std::string_view text) {
    QWidget* control = Control(parent, id);
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(value);
    }
}

bool IsChecked(const QWidget* parent, int id) {
    auto* button = Control<QAbstractButton>(parent, id);
    return button && button->isChecked();
}

void SetChecked(const QWidget* parent, int id, bool checked) {
    if (auto* button = Control<QAbstractButton>(parent, id)) button->setChecked(checked);
}

}  // namespace kestrix
