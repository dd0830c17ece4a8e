// Waiting in the GUI tests: the common wait, serving the event loop between polls.
#pragma once

#include <QCoreApplication>

#include "common/wait_until.h"

inline bool WaitFor(const std::function<bool()>& done) {
    return kx_test::WaitUntil(done, std::chrono::seconds(20),
                              [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}
