#pragma once
// One Listing inside a run: preparation checks, the file list, and the file
// loop that copies, skips or fails each file and deletes moved sources.

#include <sys/stat.h>
#include <QString>
#include <QStringList>

#include <optional>

#include "listing/Listing.h"
#include "run/FileOps.h"
#include "search/DirAndFileSearch.h"

namespace zandrel {

class BackupList;
class Host;
class RunPhaseValue;
class RunView;
struct RunProgress;
struct RunState;
struct SessionFlags;

enum class ListingOutcome {
    Done,      // carried out to its end; the run goes on
    RunEnded,  // a preparation check failed; the window is idle again
    Aborted,   // the user confirmed "Abort process?"
};

// Everything a run works with, owned by its caller.
struct RunContext {
    const BackupList& doc;
    Host& host;
    RunView& view;
    SessionFlags& flags;
    RunProgress& progress;
    RunState& state;
    RunPhaseValue& phase;
};

// "Abort process?": Yes marks the run aborted and ends a command-line run's
// unattended mode; No puts the "&Cancel" caption back.
bool ConfirmAbort(Host& host, RunPhaseValue& phase, SessionFlags& flags, RunState& state);

// Gives the window back its idle state: caption, controls, panel, and the end
// of a command-line run's unattended mode.
void GiveBackIdleState(RunPhaseValue& phase, RunView& view, SessionFlags& flags);

// Lives for one run: the file list and the working values of a Listing are
// reused from one Listing to the next, as is the existing-file rule.
class ListingTransfer {
  public:
    explicit ListingTransfer(const RunContext& context) : c_(context) {}

    // row is 0-based.
    ListingOutcome TransferListing(int row);

  private:
    struct Working {
        QString action;
        QString description;
        QString sourceFolder;
        QString destinationFolder;
        bool includeSubfolders = false;
        bool flatten = false;
        std::optional<ExistingFileRule> rule;  // kept from earlier Listings when unreadable
    };

    void readFields(const QString& line);
    bool prepare();
    bool buildFileList();
    bool transferFile(const QByteArray& source, int i, int count);
    void copyFile(const QByteArray& source, const QByteArray& destination,
                  const struct stat* destinationStat);
    void addError(const QByteArray& prefix, const QByteArray& path);
    void skip();

    RunContext c_;
    Working w_;
    QString filterText_;
    bool exclusionMode_ = false;
    QStringList exclusionSuffixes_;
    QString searchPatterns_;
    SearchResult result_;
    QByteArray lastFolderMade_;
    QByteArray destinationBytes_;  // the destination folder as a path
    OpenFolder sourceFolder_;
    OpenFolder destinationFolder_;
};

}  // namespace zandrel
