#include "run/Preview.h"

#include <QMap>

#include "common/Host.h"
#include "common/Overlay.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "run/ExitStatus.h"
#include "run/FileDecision.h"
#include "run/FolderRemoval.h"
#include "run/ProgressSink.h"
#include "run/RunDriver.h"
#include "run/RunState.h"
#include "run/Transfer.h"

namespace zandrel {

namespace {

// The host as the run has it, but a predicted failure is no failure yet:
// it is told in the preview's own lines.
class PreviewHost : public Host {
  public:
    explicit PreviewHost(Host& host) : host_(host) {}
    Answer message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Answer defaultButton) override {
        return host_.message(icon, title, text, buttons, defaultButton);
    }
    using Host::message;
    QString fileDialog(const FileDialogRequest& request) override {
        return host_.fileDialog(request);
    }
    QString chooseFolder(const QString& title, const QString& start) override {
        return host_.chooseFolder(title, start);
    }
    void yield() override { host_.yield(); }
    void setStartCaption(const QString& caption) override { host_.setStartCaption(caption); }
    bool abortRequested() const override { return host_.abortRequested(); }
    void setStatusText(const QString& text) override { host_.setStatusText(text); }
    void clearReports() override { host_.clearReports(); }
    void appendReport(const QString& entry) override { host_.appendReport(entry); }

  private:
    Host& host_;
};

// Counts by word, named in one fixed order.
class Counts {
  public:
    void add(const QByteArray& word) { ++counts_[word]; }
    void clear() { counts_.clear(); }
    void addAll(const Counts& other) {
        for (auto it = other.counts_.cbegin(); it != other.counts_.cend(); ++it)
            counts_[it.key()] += it.value();
    }
    QByteArray line(const char* head) const {
        QByteArray out(head);
        for (const QByteArray& word : Words())
            out += '\t' + word + ' ' + QByteArray::number(counts_.value(word));
        return out;
    }

  private:
    static const QList<QByteArray>& Words() {
        static const QList<QByteArray> words = [] {
            QList<QByteArray> w;
            for (const FileDecisionRow& row : kFileDecisions)
                if (row.kind != DecisionKind::Pass)
                    w << QByteArray(row.token.data(), row.token.size());
            w << kFailDelete << kRemoveFolder << kFailRemoveFolder;
            return w;
        }();
        return words;
    }
    QMap<QByteArray, int> counts_;
};

}  // namespace

int PreviewList(const BackupList& doc, Host& outer, ProgressSink& view,
                const std::function<void(const QByteArray& line)>& print) {
    PreviewHost host(outer);
    SessionFlags flags;
    flags.CommandLineRun = true;  // no questions, as in an unattended run
    RunProgress progress;
    RunState state;
    RunPhaseValue phase(host);
    phase.set(RunPhase::Running);
    fs::Overlay overlay;
    ListingTransfer transfer(RunContext{doc, host, view, flags, progress, state, phase});
    transfer.setOverlay(&overlay);

    Counts listing;
    Counts total;
    const auto line = [&](const QByteArray& word, const QByteArray& first,
                          const QByteArray& second) {
        listing.add(word);
        print(word + '\t' + ShownPath(EscapedName(first)) + '\t' + ShownPath(EscapedName(second)));
    };
    ListingTransfer::Events events;
    events.decided = [&](FileDecision d, const QByteArray& source, const QByteArray& destination) {
        line(DecisionToken(d).toString().toLatin1(), source, destination);
    };
    events.deleteFailed = [&](const QByteArray& source) { line(kFailDelete, source, {}); };
    transfer.setEvents(events);

    if (doc.count() == 0)
        return ExitEndedEarly;
    for (int row = 0; row < doc.count(); ++row) {
        listing.clear();
        switch (transfer.TransferListing(row)) {
            case ListingOutcome::Done:
                break;
            case ListingOutcome::RunEnded:
                return ExitEndedEarly;
            case ListingOutcome::Aborted:
                return ExitAborted;
        }
        print(listing.line("counts"));
        total.addAll(listing);
    }
    // The folder removal after the last Listing, when it is a Move.
    listing.clear();
    const LastListingInfo& last = state.LastListing;
    if (IsMoveAction(last.action))
        state.ErrorList +=
            RemoveMovedFolders(last.sourceFolder, last.includeSubfolders, host, &overlay,
                               [&](const QByteArray& folder, bool removed) {
                                   line(removed ? kRemoveFolder : kFailRemoveFolder, folder, {});
                               });
    total.addAll(listing);
    print(total.line("total"));
    return state.ErrorList.isEmpty() ? ExitFinishedClean : ExitFinishedErrors;
}

}  // namespace zandrel
