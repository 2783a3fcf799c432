#pragma once
// How a command-line run or a preview exits: the statuses, and the one a run's result gives.

namespace zandrel {

struct RunResult;

// Exit statuses of an unattended run.
enum ExitStatus {
    ExitFinishedClean = 0,   // finished without error entries
    ExitFinishedErrors = 1,  // finished with error entries
    ExitListNotLoaded = 2,   // not found, invalid, or no run asked for
    ExitEndedEarly = 3,      // a preparation check ended the run
    ExitAborted = 4,         // aborted (SIGINT, SIGTERM)
};

// The exit status for the outcome of a command-line run; a run that never
// started counts as ended early.
int ExitStatusOf(const RunResult& result);

}  // namespace zandrel
