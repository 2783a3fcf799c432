#pragma once
// The Start button's command: starts a run over the selected Listings, or,
// while one runs, turns into the abort request. The driver holds the run's
// phase (idle, running, aborting); the Start button's caption follows it.

#include <QString>

#include "common/Clock.h"
#include "common/Host.h"
#include "run/RunPhase.h"
#include "run/RunState.h"

namespace zandrel {

class BackupList;
class Host;
class ProgressSink;
class RunWindow;
struct RunProgress;
struct SessionFlags;

enum class RunOutcome {
    NotStarted,  // a note, a Cancel in the confirmation, or a click during a run
    Finished,    // every Listing done (or the last file interrupted)
    EndedEarly,  // a preparation check ended the run
    Aborted,     // the user confirmed "Abort process?"
};

struct RunResult {
    RunOutcome outcome = RunOutcome::NotStarted;
    int copiedCount = 0;
    int errorCount = 0;
    bool logFailed = false;  // a command-line run's log files could not be written
    QString logFolder;       // where they went, when written
};

// Waits seconds of the clock's time, yielding all the while.
void WaitSeconds(Host& host, Clock& clock, int seconds);

class RunDriver {
  public:
    // sink shows the transfer's progress; window is the rest of the window
    // around a run. One object may be both.
    RunDriver(const BackupList& doc, Host& host, ProgressSink& sink, RunWindow& window,
              SessionFlags& flags, RunProgress& progress)
        : doc_(doc),
          host_(host),
          sink_(sink),
          window_(window),
          flags_(flags),
          progress_(progress),
          phase_(host) {}

    // Where a command-line run writes log.txt and errors.txt; empty (the
    // default) means the first of LogFolderCandidates() that takes them.
    void setLogFolder(const QString& folder) { logFolder_ = folder; }
    // The clock of the pause before a command-line run closes the window;
    // the system's unless told.
    void setClock(Clock& clock) { clock_ = &clock; }
    // Whether the runs started from now on read back and compare each copy.
    void setVerify(bool verify) { verify_ = verify; }
    bool verify() const { return verify_; }

    RunResult Command3_Click();

    RunPhase phase() const { return phase_.get(); }

    // The record of the latest run started, kept after it ended.
    const RunState& state() const { return state_; }

  private:
    bool checksAndConfirmation();
    RunResult finish(bool aborted);
    void giveBackIdleState();
    void removeMovedFolders();
    void writeLogFiles(RunResult& result, bool withErrorsFile);

    const BackupList& doc_;
    Host& host_;
    ProgressSink& sink_;
    RunWindow& window_;
    SessionFlags& flags_;
    RunProgress& progress_;
    QString logFolder_;
    Clock* clock_ = &SystemClock();
    RunPhaseValue phase_;
    RunState state_;
    QString confirmation_;
    bool multipleDestinations_ = false;
    bool verify_ = false;
};

}  // namespace zandrel
