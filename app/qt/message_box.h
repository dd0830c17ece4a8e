// The program's message box: modal, owned by the active window, an OK button only, the text as
// given. Tests take the texts instead of showing them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace kestrix {

void ShowMessageBox(QWidget* owner, const QString& text);

// While set, ShowMessageBox hands the text to `handler` and shows nothing.
void SetMessageBoxHandlerForTesting(std::function<void(const QString&)> handler);

}  // namespace kestrix
