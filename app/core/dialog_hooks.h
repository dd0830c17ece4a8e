// What every dialog's logic asks of the front-end that shows it. Controls are addressed by their
// template IDs and texts are UTF-8; all of it runs on the GUI thread.
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

class DialogHooks {
  public:
    virtual ~DialogHooks() = default;

    // The control's text; empty when the dialog has no such control.
    virtual std::string ControlText(int id) const = 0;
    // Sets the control's text; does nothing when the dialog has no such control.
    virtual void SetControlText(int id, std::string_view text) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    // Check boxes and radio buttons.
    virtual bool IsChecked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // The program's message box: modal, owned by the active window, an OK button only, the text as
    // given. Returns when it is closed.
    virtual void ShowMessageBox(std::string_view text) = 0;
    // Ends the dialog's modal loop with OK (true) or Cancel (false).
    virtual void EndDialog(bool ok) = 0;
};

}  // namespace kestrix
