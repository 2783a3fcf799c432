// Stop requests on Windows: Ctrl+C, Ctrl+Break and the console's closing
// set a flag, through the console's control handler.

#include <windows.h>

#include <atomic>
#include <memory>

#include "common/StopSignals.h"

namespace zandrel {

namespace {

// Set on the thread the system starts for the event and read or cleared by
// the main thread: a lock-free atomic is free of a data race. The flag
// carries no other data, so relaxed order is enough.
std::atomic<int> gStopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI OnStopEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            gStopRequested.store(1, std::memory_order_relaxed);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

struct StopSignals::Saved {
    bool installed = false;
};

StopSignals::StopSignals() : saved_(std::make_unique<Saved>()) {
    saved_->installed = ::SetConsoleCtrlHandler(OnStopEvent, TRUE) != 0;
}

StopSignals::~StopSignals() {
    if (saved_->installed)
        ::SetConsoleCtrlHandler(OnStopEvent, FALSE);
}

bool StopSignals::pending() {
    return gStopRequested.load(std::memory_order_relaxed) != 0;
}

bool StopSignals::take() {
    // One step, so that a stop arriving between a read and a clear is not lost.
    return gStopRequested.exchange(0, std::memory_order_relaxed) != 0;
}

void StopSignals::endAtOnce() {
    // The system's own handling again: the process ends.
    ::SetConsoleCtrlHandler(OnStopEvent, FALSE);
}

}  // namespace zandrel
