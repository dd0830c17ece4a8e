// What the GUI tests share with the end-to-end test: waiting while serving the event loop, and the
// texts of controls.
#pragma once

#include <QAbstractButton>
#include <QCoreApplication>

#include "common/wait_until.h"
#include "dialog_layout.h"

inline bool WaitFor(const std::function<bool()>& done) {
    return kx_test::WaitUntil(done, std::chrono::seconds(20),
                              [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

// The text of the line edit, label or button `id` below `parent`.
inline QString Text(const QWidget* parent, int id) {
    return kestrix::Control(parent, id)->property("text").toString();
}
inline void Click(const QWidget* parent, int id) {
    kestrix::Control<QAbstractButton>(parent, id)->click();
}
