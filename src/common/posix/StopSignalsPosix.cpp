// Stop requests on Linux: SIGINT and SIGTERM set a flag; SIGPIPE is ignored.

#include <signal.h>

#include <atomic>
#include <memory>

#include "common/StopSignals.h"

namespace zandrel {

namespace {

// Written by the handler on whichever thread takes the signal and read or
// cleared by the main thread: only a lock-free atomic is both safe in a
// handler and free of a data race. The flag carries no other data, so
// relaxed order is enough.
std::atomic<int> gStopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    gStopRequested.store(1, std::memory_order_relaxed);
}

}  // namespace

struct StopSignals::Saved {
    struct sigaction interrupt {};
    struct sigaction terminate {};
    struct sigaction pipe {};
};

StopSignals::StopSignals() : saved_(std::make_unique<Saved>()) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &saved_->interrupt);
    ::sigaction(SIGTERM, &action, &saved_->terminate);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &saved_->pipe);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &saved_->interrupt, nullptr);
    ::sigaction(SIGTERM, &saved_->terminate, nullptr);
    ::sigaction(SIGPIPE, &saved_->pipe, nullptr);
}

bool StopSignals::pending() {
    return gStopRequested.load(std::memory_order_relaxed) != 0;
}

bool StopSignals::take() {
    // One step, so that a stop arriving between a read and a clear is not lost.
    return gStopRequested.exchange(0, std::memory_order_relaxed) != 0;
}

void StopSignals::endAtOnce() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
}

}  // namespace zandrel
