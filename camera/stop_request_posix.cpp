// The stop request on POSIX: SIGINT and SIGTERM, taken by sigwait on the main thread only.
#include "stop_request.h"

#include <pthread.h>
#include <signal.h>

namespace camsim {
namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void PrepareStopRequest() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopRequest() {
    const sigset_t set = StopSignals();
    int signal = 0;
    sigwait(&set, &signal);
}

}  // namespace camsim
