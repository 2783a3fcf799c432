// Stop requests on Linux: SIGINT and SIGTERM set a flag; SIGPIPE is ignored.

#include <signal.h>

#include <memory>

#include "common/StopSignals.h"

namespace zandrel {

namespace {

volatile sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int) {
    gStopRequested = 1;
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
    return gStopRequested != 0;
}

bool StopSignals::take() {
    const bool was = gStopRequested != 0;
    gStopRequested = 0;
    return was;
}

void StopSignals::endAtOnce() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
}

}  // namespace zandrel
