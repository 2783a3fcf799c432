// The transfer's side of a batch: the outcomes waiting for its commit,
// entered in the order of the files; the question whether a file must wait
// for the commit; and an abort asked about while the commit works.

#include <algorithm>

#include "common/Host.h"
#include "common/Paths.h"
#include "run/ProgressSink.h"
#include "run/RunPhase.h"
#include "run/RunState.h"
#include "run/Transfer.h"

namespace zandrel {

void ListingTransfer::addError(const QByteArray& prefix, const QByteArray& path,
                               const QString& reason) {
    // Known at once on the panel and standard error; entered behind files
    // that wait for their names, in the order of the files.
    if (!waiting_.isEmpty()) {
        c_.host.noteFailure(prefix + path, reason);
        Deferred d;
        d.prefix = prefix;
        d.path = path;
        d.reason = reason;
        waiting_.append(d);
        ++waitingErrors_;
        showCounts();
        return;
    }
    noteError(prefix, path, reason);
    c_.host.noteFailure(c_.state.ErrorList.constLast(), reason);
}

// An entry in its place in the order of the files.
void ListingTransfer::noteError(const QByteArray& prefix, const QByteArray& path,
                                const QString& reason) {
    c_.state.ErrorList.append(prefix + path);
    c_.state.ErrorReasons.append(reason);
    showCounts();
}

// The panel counts each copy and each failure as soon as it is known; the
// run's own count waits for the copy's name.
void ListingTransfer::showCounts() {
    // Copies dropped by an abort stay counted on the panel; the report
    // tells how many were not kept.
    shownCopied_ = std::max(shownCopied_, c_.state.CopiedCount + waitingCopies_);
    c_.view.showCopiedCount(shownCopied_);
    c_.view.showErrorCount(static_cast<int>(c_.state.ErrorList.size()) + waitingErrors_);
    if (verify_)
        c_.view.showVerifiedCount(c_.state.VerifiedCount);
}

// Whether the batch's work must be done before a file goes on: a name it
// reads, replaces or links to stands for a copy or a delete still waiting
// (Any), or, for a destination name, for a delete (Delete; a waiting copy
// stands there as pending instead).
bool ListingTransfer::mustWaitFor(const fs::FileIdentity& folder, QByteArrayView name,
                                  Touch touch) const {
    if (!batch_ || batch_->empty())
        return false;
    return touch == Touch::Any ? batch_->touches(folder, name) : batch_->deletes(folder, name);
}

// Whether a copy or a delete waiting in the batch stands at a name on the
// way to the destination folder below (which cannot be reached as it is).
bool ListingTransfer::waitingInTheWay(QByteArrayView below) {
    for (qsizetype end = 0; end <= below.size(); ++end) {
        if (end < below.size() && below.at(end) != kSeparator)
            continue;
        const qsizetype start = below.lastIndexOf(kSeparator, end - 1) + 1;
        const fs::Folder* parent =
            destinations_.reach(below.first(std::max<qsizetype>(0, start - 1)));
        if (!parent)
            return false;
        if (mustWaitFor(parent->identity(), below.sliced(start, end - start), Touch::Any))
            return true;
        if (!destinations_.reach(below.first(end)))
            return false;
    }
    return false;
}

// Has the batch's copies named once their data is on the disk and the Move
// sources deleted once the names are, while the next batch is copied; each
// file's outcome is recorded in the order of the files, as a file-by-file
// run would, once that work is done. The window is never left waiting: the
// run's thread yields while the work goes on.
void ListingTransfer::commitBatch(Commit how) {
    if (!batch_)
        return;
    awaitBatch();
    settle();
    const bool onDisk = how == Commit::OnDisk;
    if (waiting_.isEmpty() && batch_->empty() && !onDisk)
        return;
    // What the run reports is on the disk; meanwhile a Copy's names may wait
    // for the next batch's flush.
    batch_->commit(onDisk ? fs::Batch::Names::Durable : fs::Batch::Names::MayWait);
    if (how == Commit::Full)
        return;
    awaitBatch();
    settle();
}

// Waits for the work under way, painting the window and answering Cancel
// (or Ctrl+C) meanwhile.
void ListingTransfer::awaitBatch() {
    while (!batch_->waitFor(10)) {
        c_.host.yield();
        abortAsked();
        dropIfAskedAgain();
    }
}

// A confirmed abort keeps what was finished: the batch goes on to flush and
// name it. Asked again, or when one flush takes longer than a few seconds,
// the copies not yet named are dropped instead (their Move sources kept).
void ListingTransfer::dropIfAskedAgain() {
    if (!abortConfirmed_ || dropping_ || !batch_)
        return;
    if (const int flushes = batch_->flushesDone(); flushes != flushesSeen_) {
        flushesSeen_ = flushes;
        keepingSince_ = clock_->now();
    }
    if (!c_.state.DropRequested && clock_->now() - keepingSince_ < kKeepAfterAbortMs)
        return;
    dropping_ = true;
    batch_->discard();
    c_.host.setStatusText(QStringLiteral("Aborting: dropping the copies not yet on the disk..."));
}

// An abort request, asked about at once: the work holds its next name
// until the answer, and an abort drops every copy not yet named.
bool ListingTransfer::abortAsked() {
    if (abortConfirmed_)
        return true;
    if (requestAnswered_ || !c_.host.abortRequested() || c_.state.AbortedByUser)
        return false;
    if (batch_)
        batch_->hold();
    abortConfirmed_ = ConfirmAbort(c_.host, c_.phase, c_.flags, c_.state);
    if (batch_) {
        batch_->resume();
        if (abortConfirmed_) {
            keepingSince_ = clock_->now();
            flushesSeen_ = batch_->flushesDone();
            c_.host.setStatusText(
                QStringLiteral("Aborting: keeping the copies already finished (click again to "
                               "drop them)..."));
        }
    }
    return abortConfirmed_;
}

// Enters, in the order of the files, what the finished work has told.
void ListingTransfer::settle() {
    // Mostly all were entered before: the table is taken whole.
    if (outcomes_.isEmpty())
        outcomes_ = batch_->take();
    else
        outcomes_.insert(batch_->take());
    while (!waiting_.isEmpty()) {
        const Deferred& d = waiting_.constFirst();
        if (d.copy && !outcomes_.contains(d.ticket))
            break;
        const Deferred front = waiting_.takeFirst();
        record(front, front.copy ? outcomes_.take(front.ticket) : fs::Batch::Outcome());
    }
}

void ListingTransfer::record(const Deferred& d, const fs::Batch::Outcome& o) {
    if (!d.copy) {
        --waitingErrors_;
        noteError(d.prefix, d.path, d.reason);
        return;
    }
    --waitingCopies_;
    if (o.copy == fs::CopyResult::Discarded) {
        // Not copied, as the files after the abort; a Move keeps its source.
        ++notKept_;
        if (placedByMove_.value(d.placedKey) == d.placed)
            placedByMove_.remove(d.placedKey);
        showCounts();
        return;
    }
    if (!o.copy.ok()) {
        if (placedByMove_.value(d.placedKey) == d.placed)
            placedByMove_.remove(d.placedKey);
        c_.host.noteFailure(kCopyFailed + d.path, o.copy.reason());
        noteError(kCopyFailed, d.path, o.copy.reason());
        return;
    }
    ++c_.state.CopiedCount;
    if (o.verified || (d.linked && verify_))
        ++c_.state.VerifiedCount;
    c_.state.CopiedAgainCount += o.copiedAgain;
    showCounts();
    if (!move_ || o.deleteDropped)
        return;
    if (o.deleteTried && o.deleted.ok()) {
        placedByMove_.remove(d.sourceKey);
        return;
    }
    const QString reason = d.deleteError != 0 ? fs::ErrorText(d.deleteError)
                           : o.changed ? QStringLiteral("the file changed after it was copied")
                                       : fs::ErrorText(o.deleted.error);
    c_.host.noteFailure(kDeleteFailed + d.path, reason);
    noteError(kDeleteFailed, d.path, reason);
    if (events_.deleteFailed)
        events_.deleteFailed(d.path);
}

}  // namespace zandrel
