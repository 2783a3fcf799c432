#include "run/RunDriver.h"

#include <algorithm>

#include "common/Host.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "run/FolderRemoval.h"
#include "run/ProgressSink.h"
#include "run/RunLog.h"
#include "run/RunTexts.h"
#include "run/RunWindow.h"
#include "run/Transfer.h"

namespace zandrel {

void WaitSeconds(Host& host, Clock& clock, int seconds) {
    const qint64 end = clock.now() + qint64{seconds} * 1000;
    for (qint64 left = end - clock.now(); left > 0; left = end - clock.now()) {
        host.yield();
        // The pause is idle time: let the processor rest between yields.
        clock.rest(std::min<qint64>(left, 10));
    }
}

bool RunDriver::checksAndConfirmation() {
    if (doc_.count() == 0) {
        host_.message(Icon::Information, QStringLiteral("Note"),
                      QStringLiteral("No listings available to copy.\r\n\r\n"));
        return false;
    }
    if (window_.currentRow() < 0) {
        host_.message(Icon::Information, QStringLiteral("Note"),
                      QStringLiteral("Select the listing you want to backup.\r\n\r\n"));
        return false;
    }
    window_.closeSummary();
    for (;;) {
        confirmation_.clear();
        multipleDestinations_ = false;
        const QList<bool> selected = window_.selectedRows();
        int selectedSoFar = 0;
        for (int row = 0; row < doc_.count(); ++row) {
            host_.yield();
            if (!selected.value(row))
                continue;
            confirmation_ += doc_.fieldAt(row, FieldSourceFolder) + QStringLiteral("\r\n");
            if (++selectedSoFar == 2)
                multipleDestinations_ = true;
        }
        if (flags_.CommandLineRun)
            return true;
        if (!confirmation_.isEmpty())
            break;
        window_.selectAll();
    }
    const Answer answer =
        host_.message(Icon::Information, QStringLiteral("Confirm"),
                      QStringLiteral("The following folders are selected:\r\n\r\n") + confirmation_,
                      Buttons::OkCancel);
    return answer == Answer::Ok;
}

RunResult RunDriver::Command3_Click() {
    if (phase_.get() == RunPhase::Running) {
        phase_.set(RunPhase::Aborting);
        return {};
    }
    if (phase_.get() == RunPhase::Aborting) {
        // Once the abort is confirmed, the run keeps the copies it finished;
        // asked again, it drops those not yet on the disk.
        if (state_.AbortedByUser)
            state_.DropRequested = true;
        return {};
    }
    if (!checksAndConfirmation())
        return {};

    phase_.set(RunPhase::Running);
    state_ = RunState{};
    state_.MultipleDestinations = multipleDestinations_;
    state_.Verified = verify_;
    progress_.RunBytesCopied = 0;
    progress_.SpeedBaseline = 0;
    window_.lockForRun();
    host_.clearReports();

    const bool commandLineRun = flags_.CommandLineRun;
    ListingTransfer transfer(RunContext{doc_, host_, sink_, flags_, progress_, state_, phase_});
    transfer.setVerify(verify_);
    transfer.setClock(*clock_);
    sink_.showVerifiedCount(verify_ ? 0 : -1);
    const int rows = doc_.count();
    const QList<bool> selected = window_.selectedRows();
    for (int row = 0; row < rows; ++row) {
        host_.yield();
        if (!flags_.CommandLineRun && !selected.value(row))
            continue;
        switch (transfer.TransferListing(row)) {
            case ListingOutcome::Done:
                break;
            case ListingOutcome::RunEnded: {
                giveBackIdleState();
                RunResult result;
                result.outcome = RunOutcome::EndedEarly;
                result.copiedCount = state_.CopiedCount;
                result.errorCount = static_cast<int>(state_.ErrorList.size());
                // The idle state cleared the flag; the unattended user
                // still learns what was done before the check.
                if (commandLineRun)
                    writeLogFiles(result, true);
                return result;
            }
            case ListingOutcome::Aborted:
                transfer.releaseFolders();
                return finish(true);
        }
    }
    transfer.releaseFolders();
    return finish(false);
}

void RunDriver::removeMovedFolders() {
    const LastListingInfo& last = state_.LastListing;
    // A request that came during the last file has been answered by
    // stopping that file; only a new one may stop the removal.
    if (host_.abortRequested())
        phase_.set(RunPhase::Running);
    QList<QString> reasons;
    const QList<QByteArray> failures =
        RemoveMovedFolders(last.sourceFolder, last.includeSubfolders, host_, nullptr, {}, &reasons,
                           [this] { return ConfirmAbort(host_, phase_, flags_, state_); });
    state_.ErrorReasons.resize(state_.ErrorList.size());
    for (qsizetype i = 0; i < failures.size(); ++i) {
        state_.ErrorList.append(failures.at(i));
        state_.ErrorReasons.append(reasons.value(i));
    }
}

void RunDriver::writeLogFiles(RunResult& result, bool withErrorsFile) {
    const LogWriteOutcome log =
        WriteLogFiles(logFolder_.isEmpty() ? LogFolderCandidates() : QStringList{logFolder_},
                      state_, host_, withErrorsFile);
    result.logFailed = !log.written;
    result.logFolder = log.folder;
}

// The caption, the controls and the panel as before the run, and the end of
// a command-line run's unattended mode.
void RunDriver::giveBackIdleState() {
    phase_.set(RunPhase::Idle);
    window_.RestoreAfterRun();
    LeaveUnattendedMode(flags_);
}

RunResult RunDriver::finish(bool aborted) {
    const LastListingInfo& last = state_.LastListing;
    if (!aborted && IsMoveAction(last.action)) {
        removeMovedFolders();
        aborted = state_.AbortedByUser;
    }

    sink_.ShowOverallProgress(0, 1);
    host_.setStatusText(TasksText(doc_.count()));
    if (!flags_.CommandLineRun && !state_.ErrorList.isEmpty()) {
        const QString destination =
            state_.MultipleDestinations
                ? QStringLiteral("Destination folder: Multiple destinations")
                : QStringLiteral("Destination folder: ") + last.destinationFolder;
        window_.showSummary(state_.ErrorList, state_.ErrorReasons, state_.CopiedCount, destination,
                            state_.Verified ? state_.VerifiedCount : -1);
    }
    RunResult result;
    result.outcome = aborted ? RunOutcome::Aborted : RunOutcome::Finished;
    result.copiedCount = state_.CopiedCount;
    result.errorCount = static_cast<int>(state_.ErrorList.size());
    if (flags_.CommandLineRun)
        writeLogFiles(result, false);

    if (state_.AbortedByUser)
        AppendReportEntry(host_, QStringLiteral(" : Aborted by user (") + last.description + u')');
    else
        AppendReportEntry(host_, QStringLiteral(" : Finished ") + last.action +
                                     QStringLiteral(" process (") + last.description + u')');
    AppendReportEntry(host_, QStringLiteral(" : ") + QString::number(state_.CopiedCount) +
                                 QStringLiteral(" files copied....") +
                                 QString::number(state_.ErrorList.size()) +
                                 QStringLiteral(" errors."));
    if (state_.Verified)
        AppendReportEntry(host_, QStringLiteral(" : ") + VerifiedText(state_.VerifiedCount));
    if (state_.CopiedAgainCount > 0)
        AppendReportEntry(host_, QStringLiteral(" : ") + QString::number(state_.CopiedAgainCount) +
                                     QStringLiteral(" copies read back wrong at first and were "
                                                    "copied again"));
    phase_.set(RunPhase::Idle);

    if (flags_.CommandLineRun) {
        if (flags_.PauseBeforeExit) {
            window_.disableStartButton();
            flags_.ClosePermitted = true;
            WaitSeconds(host_, *clock_, 3);
        }
        window_.closeMainWindow();
    } else {
        giveBackIdleState();
    }
    return result;
}

}  // namespace zandrel
