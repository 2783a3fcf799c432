#pragma once
// One Listing inside a run: preparation checks, the file list, and the file
// loop that copies, skips or fails each file and deletes moved sources.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "common/Batch.h"
#include "common/Clock.h"
#include "common/FileSystem.h"
#include "listing/Listing.h"
#include "run/FileDecision.h"
#include "run/LeftBehind.h"
#include "search/DirAndFileSearch.h"

namespace zandrel {

class BackupList;
class Host;
class RunPhaseValue;
class ProgressSink;
struct RunProgress;
struct RunState;
struct SessionFlags;

enum class ListingOutcome {
    Done,      // carried out to its end; the run goes on
    RunEnded,  // a preparation check failed; the run ends here
    Aborted,   // the user confirmed "Abort process?"
};

// Everything a run works with, owned by its caller.
struct RunContext {
    const BackupList& doc;
    Host& host;
    ProgressSink& view;
    SessionFlags& flags;
    RunProgress& progress;
    RunState& state;
    RunPhaseValue& phase;
};

// "Abort process?": Yes marks the run aborted and ends a command-line run's
// unattended mode; No puts the "&Cancel" caption back.
bool ConfirmAbort(Host& host, RunPhaseValue& phase, SessionFlags& flags, RunState& state);

// Lives for one run: the file list and the working values of a Listing are
// reused from one Listing to the next, as is the existing-file rule.
class ListingTransfer {
  public:
    explicit ListingTransfer(const RunContext& context) : c_(context) {}

    // row is 0-based.
    ListingOutcome TransferListing(int row);
    // Once the run is over, before a Move's emptied folders are removed: on
    // FAT, shares and Windows a removed folder lingers while a handle holds
    // it. Not between Listings: the handles keep FAT's numbers steady.
    void releaseFolders();

    // What happens to each file as it happens, for whoever shows it line by
    // line (the preview).
    struct Events {
        std::function<void(FileDecision decision, const QByteArray& source,
                           const QByteArray& destination)>
            decided;
        std::function<void(const QByteArray& source)> deleteFailed;
    };
    void setEvents(Events events) { events_ = std::move(events); }
    // The disk the run works on: with an overlay, the run's effects go there
    // and the disk itself is left as it is (a preview).
    void setOverlay(fs::Overlay* overlay) { overlay_ = overlay; }
    // Each copy is read back from the disk and compared with its source
    // before it takes its name.
    void setVerify(bool verify) { verify_ = verify; }
    // The time a confirmed abort gives each flush of the finished copies.
    void setClock(Clock& clock) { clock_ = &clock; }
    static constexpr qint64 kKeepAfterAbortMs = 10000;

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
    // One file on its way through the Listing: where it comes from and
    // where it goes, each folder reached and its identity taken once, what
    // was found at both ends, and the source while it is held open.
    struct FileJourney {
        explicit FileJourney(const QByteArray& path) : source(path) {}
        const QByteArray& source;  // as listed
        QByteArray destination;    // as shown, and as the exclusions see it
        QByteArray below;          // the destination below its folder
        QByteArrayView belowFolder;
        QByteArray destinationName;
        const fs::Folder* destinationFolder = nullptr;
        fs::FileIdentity destinationFolderId;
        QByteArrayView sourceRelative;  // the source's folder below the source folder
        QByteArray sourceName;
        bool belowTopLevel = false;
        const fs::Folder* sourceFolder = nullptr;
        fs::FileIdentity sourceFolderId;
        FileFacts facts;
        fs::SourceFile file;
        int openError = 0;
    };
    void reachDestination(FileJourney& j);
    void reachSource(FileJourney& j);
    void examine(FileJourney& j);
    FileDecision decide(FileJourney& j);
    void failBeforeCopying(const FileJourney& j, FileDecision decision);
    void carryOut(FileJourney& j);
    // The one question before a file reads, replaces or links to a name:
    // must the batch's work be done first?
    enum class Touch { Any, Delete };
    bool mustWaitFor(const fs::FileIdentity& folder, QByteArrayView name, Touch touch) const;
    // The first copy of a file with several names (hard links) in this
    // Listing: its later names are linked to it.
    struct EarlierCopy {
        QByteArray below;
        QByteArray name;
        fs::FileIdentity placed;
        fs::FileIdentity folderIdentity;
        qint64 size = 0;
        qint64 modifiedNs = 0;  // with the size: the same file, not a reused number
    };
    QHash<QByteArray, EarlierCopy> earlierCopies_;  // by the source's identity
    fs::FolderCursor linkFrom_;                     // reaches their folders
    bool linkToEarlierCopy(const fs::SourceFile& file, const fs::CopyRequest& request,
                           fs::FileIdentity* placed, fs::CopyOutcome& outcome);

    void readFields(const QString& line);
    bool prepare();
    bool buildFileList();
    void openRoots();
    bool transferFile(const QByteArray& source, int i, int count);
    fs::FileIdentity identityOf(const fs::Folder& folder, QByteArrayView relative,
                                bool destination);
    const fs::Folder* mirroredFolder(const QByteArray& source, qsizetype belowStart,
                                     QByteArrayView destinationFolder);
    void addError(const QByteArray& prefix, const QByteArray& path, const QString& reason);
    void noteError(const QByteArray& prefix, const QByteArray& path, const QString& reason);
    void skip();
    bool writable(const fs::Folder& folder);
    enum class Commit {
        Full,     // the batch is full: its work goes on while the next is copied
        Settled,  // a later file meets a waiting name: the work is done first
        OnDisk,   // names on the disk and deletes done (a Listing's end, or a file that needs it)
    };
    void commitBatch(Commit how);
    int reserveInBatch(const fs::Folder& folder);
    bool waitingInTheWay(QByteArrayView below);

    RunContext c_;
    Working w_;
    bool move_ = false;
    bool exclusionMode_ = false;
    QStringList exclusionSuffixes_;
    QString searchPatterns_;
    SearchResult result_;
    QByteArray sourcePrefix_;      // the source folder as listed paths begin
    QByteArray destinationBytes_;  // the destination folder as a path
    fs::FolderCursor sources_;
    fs::FolderCursor destinations_;
    qint64 timeResolution_ = 1;  // of the destination's file system
    bool ignoresCase_ = false;   // the destination's file system
    // Whether each side's file system keeps inode numbers: where it does
    // not, the run knows its names by folder path and name.
    bool destinationKeepsNumbers_ = true;
    bool sourceKeepsNumbers_ = true;
    bool sourceIgnoresCase_ = false;
    // Names this run put or left in place where case is ignored: by folder
    // and the name folded, the name as spelled.
    QHash<QByteArray, QByteArray> spelled_;
    // The same for the folders below the destination, by their path folded.
    QHash<QByteArray, QByteArray> spelledFolders_;
    struct FolderChecked {
        bool known = false;
        QByteArray relative;
        bool clash = false;
    };
    // The files of one folder come together: the last checked and noted.
    FolderChecked lastFolderChecked_;
    QByteArray lastFolderNoted_;
    QByteArray spellingKey(const FileJourney& j) const;
    QByteArray folderSpellingKey(QByteArrayView below) const;
    bool folderSpelledOtherwise(const FileJourney& j);
    void noteSpelling(const FileJourney& j);
    // Keys of placedByMove_: a name at the destination, a Move's source.
    quint64 destinationKey(const FileJourney& j) const;
    quint64 sourceKey(const FileJourney& j) const;
    // A file listed twice (by two patterns) is moved only once.
    bool trackMoved_ = false;
    QSet<QByteArray> moved_;
    // Files a Move of this run put in place, by folder and name (PlacedKey):
    // never replaced by another. A file put at the name later,
    // or deleted, is forgotten, so a new file that gets the freed identity
    // back is not taken for one.
    QHash<quint64, fs::FileIdentity> placedByMove_;
    QHash<QByteArray, fs::FileIdentity> folderIdentityOf_;  // per Listing
    struct LastIdentity {
        bool known = false;
        QByteArray relative;
        fs::FileIdentity id;
    };
    LastIdentity lastIdentity_[2];  // source, destination

    QHash<QByteArray, bool> writable_;  // per destination folder, per Listing
    LeftBehindCopies leftBehind_;       // per run
    QHash<quint64, int> linkRefusal_;   // by device, per run
    int linkRefusal(const fs::Folder& folder);
    Events events_;
    fs::Overlay* overlay_ = nullptr;
    bool verify_ = false;

    // A file copied into the batch, or an error entry behind one: recorded
    // in the order of the files once the batch's work has its outcome.
    struct Deferred {
        bool copy = false;
        int ticket = 0;
        QByteArray prefix;  // of an error entry
        QByteArray path;    // the source file
        QString reason;
        quint64 placedKey = 0;
        fs::FileIdentity placed;
        bool linked = false;    // a further name of a copy made before
        quint64 sourceKey = 0;  // a Move's source, by folder and name
        int deleteError = 0;    // why the batch could not take a Move's delete
    };
    fs::Batch ownBatch_;
    fs::Batch* batch_ = nullptr;
    int tickets_ = 0;
    QList<Deferred> waiting_;                  // in the order of the files
    QHash<int, fs::Batch::Outcome> outcomes_;  // of copies in waiting_
    int waitingCopies_ = 0;                    // copies in waiting_
    int waitingErrors_ = 0;                    // errors in waiting_, and copies known to fail
    bool abortConfirmed_ = false;
    // After a confirmed abort: since when the finished copies are being
    // kept, whether they are dropped instead, and how many were.
    qint64 keepingSince_ = -1;  // or since the last flush that ended
    int flushesSeen_ = 0;
    bool dropping_ = false;
    int notKept_ = 0;
    int shownCopied_ = 0;  // the panel's count, which never goes back
    Clock* clock_ = &SystemClock();
    void dropIfAskedAgain();
    bool requestAnswered_ = false;  // by stopping the current file's copy
    void settle();
    void awaitBatch();
    bool abortAsked();
    void record(const Deferred& d, const fs::Batch::Outcome& o);
    void showCounts();
};

}  // namespace zandrel
