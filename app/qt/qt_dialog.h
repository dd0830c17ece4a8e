// QtDialog: a QDialog that carries one dialog's logic and answers the hooks that every dialog's
// logic asks for, with the controls that CreateControls made (found by their IDs).
#pragma once

#include <QDialog>
#include <utility>

#include "dialog_layout.h"
#include "message_box.h"

namespace kestrix {

template <typename Logic>
class QtDialog : public QDialog, public Logic {
  public:
    template <typename... Args>
    explicit QtDialog(QWidget* parent, Args&&... args)
        : QDialog(parent), Logic(std::forward<Args>(args)...) {}

    std::string ControlText(int id) const override { return kestrix::ControlText(this, id); }
    void SetControlText(int id, std::string_view text) override {
        kestrix::SetControlText(this, id, text);
    }
    void EnableControl(int id, bool enable) override {
        if (QWidget* control = Control(this, id)) control->setEnabled(enable);
    }
    bool IsChecked(int id) const override { return kestrix::IsChecked(this, id); }
    void SetChecked(int id, bool checked) override { kestrix::SetChecked(this, id, checked); }
    void ShowMessageBox(std::string_view text) override {
        kestrix::ShowMessageBox(
            this, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    void EndDialog(bool ok) override { QDialog::done(ok ? Accepted : Rejected); }
};

}  // namespace kestrix
