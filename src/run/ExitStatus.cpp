#include "run/ExitStatus.h"

#include "run/RunDriver.h"

namespace zandrel {

int ExitStatusOf(const RunResult& result) {
    switch (result.outcome) {
        case RunOutcome::Finished:
            return result.errorCount == 0 ? ExitFinishedClean : ExitFinishedErrors;
        case RunOutcome::Aborted:
            return ExitAborted;
        case RunOutcome::EndedEarly:
        case RunOutcome::NotStarted:
            return ExitEndedEarly;
    }
    return ExitEndedEarly;
}

}  // namespace zandrel
