#pragma once
// The Start button's command: starts a run over the selected Listings, or,
// while one runs, turns into the abort request. The caption in the Host is
// the run's state: "&Start now -->" idle, "&Cancel" running, "Aborting..."
// abort requested.

#include <QString>

#include "run/RunState.h"

namespace zandrel {

class BackupList;
class Host;
class RunView;
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
};

// Waits seconds of elapsed time, yielding all the while.
void WaitSeconds(Host& host, int seconds);

class RunDriver {
  public:
    RunDriver(const BackupList& doc, Host& host, RunView& view, SessionFlags& flags,
              RunProgress& progress)
        : doc_(doc), host_(host), view_(view), flags_(flags), progress_(progress) {}

    // Where a command-line run writes log.txt and errors.txt; empty (the
    // default) means DefaultLogFolder().
    void setLogFolder(const QString& folder) { logFolder_ = folder; }

    RunResult Command3_Click();

    // The record of the latest run started, kept after it ended.
    const RunState& state() const { return state_; }

  private:
    bool checksAndConfirmation();
    RunResult finish(bool aborted);

    const BackupList& doc_;
    Host& host_;
    RunView& view_;
    SessionFlags& flags_;
    RunProgress& progress_;
    QString logFolder_;
    RunState state_;
    QString confirmation_;
    bool multipleDestinations_ = false;
};

}  // namespace zandrel
