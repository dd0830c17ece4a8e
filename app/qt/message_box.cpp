// The program's OK-only message box.
#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace kestrix {
namespace {

std::function<void(const QString&)>& Handler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text) {
    if (Handler()) {
        Handler()(text);
        return;
    }
    QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : owner;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Kestrix"), text, QMessageBox::Ok, parent);
    box.exec();
}

void SetMessageBoxHandlerForTesting(std::function<void(const QString&)> handler) {
    Handler() = std::move(handler);
}

}  // namespace kestrix
