#include "run/Transfer.h"

#include <QDir>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "run/FileOps.h"
#include "run/ProgressSink.h"
#include "run/RunPhase.h"
#include "run/RunState.h"
#include "run/RunTexts.h"
#include "search/Filter.h"

namespace zandrel {

namespace {

// Attribute sets of the walk: everything with folders, and files without
// system entries below the source folder.
constexpr int kFoldersAndAll = AttrReadOnly | AttrHidden | AttrSystem | AttrFolder;
constexpr int kOrdinaryFiles = AttrReadOnly | AttrHidden;

// The nearest folder of path that is on the disk (a preview's destination
// may not be there yet): it tells what the destination's disk keeps.
fs::Folder NearestOnDisk(QByteArray path) {
    for (;;) {
        fs::Folder folder = fs::Folder::openAsNamed(path);
        const qsizetype cut = path.lastIndexOf(kSeparator);
        if (folder.valid() || cut <= 0)
            return folder.valid() ? std::move(folder) : fs::Folder::openAsNamed("/");
        path.truncate(cut);
    }
}

// A folder and a name as one number: a run keeps one per file a Move put
// in place, so it must be small. Two names meeting on one number could only
// make a file fail as a clash, never lose one.
quint64 PlacedKey(const fs::FileIdentity& folder, QByteArrayView name) {
    const size_t h = qHashMulti(0x5a4e, folder.device, folder.inode, qHash(name));
    return quint64(h) * 0x9e3779b97f4a7c15ULL ^ quint64(qHash(name, 0x2bd1));
}

}  // namespace

bool ConfirmAbort(Host& host, RunPhaseValue& phase, SessionFlags& flags, RunState& state) {
    const Answer answer = host.message(Icon::Question, QStringLiteral("Confirm"),
                                       QStringLiteral("Abort process?"), Buttons::YesNo);
    if (answer == Answer::Yes) {
        state.AbortedByUser = true;
        // An aborted command-line run ends as one started by hand.
        LeaveUnattendedMode(flags);
        return true;
    }
    phase.set(RunPhase::Running);
    return false;
}

void ListingTransfer::readFields(const QString& line) {
    // An absent field keeps the value of the Listing before.
    const ListingFields f = DecodeListingLine(line);
    w_.action = f.action.value_or(w_.action);
    w_.description = f.description.value_or(w_.description);
    c_.state.LastListing.action = w_.action;
    c_.state.LastListing.description = w_.description;
    AppendReportEntry(c_.host, QStringLiteral(" : ") + w_.action +
                                   QStringLiteral(" process initiated (") + w_.description + u')');

    w_.sourceFolder = f.sourceFolder.value_or(w_.sourceFolder);
    w_.destinationFolder = f.destinationFolder.value_or(w_.destinationFolder);
    w_.includeSubfolders = f.includeSubfolders.value_or(w_.includeSubfolders);
    w_.flatten = f.copyJustFiles.value_or(w_.flatten);
    if (f.ifExists)
        w_.rule = f.ifExists;
    c_.state.LastListing.sourceFolder = w_.sourceFolder;
    c_.state.LastListing.destinationFolder = w_.destinationFolder;
    c_.state.LastListing.includeSubfolders = w_.includeSubfolders;

    const FilterEvaluation filter = EvaluateFilter(f.filter);
    exclusionMode_ = filter.ExclusionMode;
    exclusionSuffixes_ = filter.ExclusionSuffixes;
    searchPatterns_ = filter.SearchPatterns;
}

bool ListingTransfer::prepare() {
    Host& host = c_.host;
    const auto endRun = [&](const QString& message, const QString& entry) {
        if (!message.isEmpty())
            host.message(Icon::Exclamation, QStringLiteral("Error notice"), message);
        if (!entry.isEmpty())
            AppendReportEntry(host, entry);
        return false;
    };

    const QByteArray source = FromCurrentFolder(w_.sourceFolder);
    const QByteArray destination = FromCurrentFolder(w_.destinationFolder);
    if (!FolderExists(source, overlay_))
        return endRun(QStringLiteral("Source folder was not found"),
                      QStringLiteral(" : Aborted (Source folder was not found)"));

    if (!FolderExists(destination, overlay_)) {
        if (!c_.flags.CommandLineRun) {
            const Answer answer = host.message(
                Icon::Question, QStringLiteral("Folder not found"),
                QStringLiteral("Destination folder was not found:\r\n") + w_.destinationFolder +
                    QStringLiteral("\r\n\r\nWould you like to create it?"),
                Buttons::YesNo);
            if (answer != Answer::Yes)
                return endRun({}, {});
        }
        fs::MakeFolderPath(destination + kSeparator, overlay_);
        if (!FolderExists(destination, overlay_))
            return endRun(QStringLiteral("Destination folder could not be created."),
                          QStringLiteral(" : Aborted (Destination folder could not be created)"));
    }

    if (!CanWriteToFolder(DecodePath(destination), host, overlay_))
        return endRun({}, {});

    if (SameFolder(DecodePath(source), DecodePath(destination), overlay_))
        return endRun(QStringLiteral("Source/Destination folders are identical."),
                      QStringLiteral(" : Aborted (Source/Destination folders are identical)"));
    return true;
}

bool ListingTransfer::buildFileList() {
    Host& host = c_.host;
    host.setStatusText(QStringLiteral("Creating list of files to be copied..."));
    const QByteArray source = FromCurrentFolder(w_.sourceFolder);
    for (;;) {
        result_.Paths.clear();
        result_.UnreadableFolders.clear();
        if (w_.includeSubfolders)
            ListFilesBelow(source, searchPatterns_, kFoldersAndAll, kOrdinaryFiles, result_, host,
                           overlay_);
        ListFiles(FolderList{source}, searchPatterns_, kFoldersAndAll, result_, host, overlay_);
        if (!host.abortRequested())
            break;
        if (ConfirmAbort(host, c_.phase, c_.flags, c_.state))
            return false;
    }
    // Files in a folder that could not be read were never listed: the run
    // must not read as complete.
    QSet<QByteArray> reported;
    for (qsizetype k = 0; k < result_.UnreadableFolders.size(); ++k) {
        const QByteArray path = RemoveTrailingSeparator(result_.UnreadableFolders.at(k));
        if (!reported.contains(path)) {
            reported.insert(path);
            addError(kCopyFailed, path, result_.UnreadableReasons.value(k));
            if (events_.decided)
                events_.decided(FileDecision::FailUnreadableFolder, path, {});
        }
    }
    return true;
}

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
    c_.view.showCopiedCount(c_.state.CopiedCount + waitingCopies_);
    c_.view.showErrorCount(static_cast<int>(c_.state.ErrorList.size()) + waitingErrors_);
    if (verify_)
        c_.view.showVerifiedCount(c_.state.VerifiedCount);
}

void ListingTransfer::skip() {
    c_.view.addSkipped();
}

// The source and destination folders as named, once per Listing; below them
// no link is ever followed.
void ListingTransfer::openRoots() {
    const QByteArray source = FromCurrentFolder(w_.sourceFolder);
    sourcePrefix_ = source.endsWith(kSeparator) ? source : source + kSeparator;
    destinationBytes_ = FromCurrentFolder(w_.destinationFolder);
    sources_.reset(fs::Folder::openAsNamed(source, overlay_));
    destinations_.reset(fs::Folder::openAsNamed(destinationBytes_, overlay_));
    linkFrom_.reset(fs::Folder::openAsNamed(destinationBytes_, overlay_));
    earlierCopies_.clear();
    if (destinations_.root().isVirtual()) {
        const fs::Folder nearest = NearestOnDisk(destinationBytes_);
        timeResolution_ = fs::TimeResolution(nearest);
        ignoresCase_ = fs::IgnoresCase(nearest);
    } else {
        timeResolution_ = fs::TimeResolution(destinations_.root());
        ignoresCase_ = fs::IgnoresCase(destinations_.root());
    }
    // The disk itself takes its copies in batches; an overlay takes them as
    // they come.
    batch_ = overlay_ ? nullptr : &ownBatch_;
    move_ = IsMoveAction(w_.action);
    trackMoved_ = move_ && PatternsToSearch(searchPatterns_).size() > 1;
    moved_.clear();
    folderIdentityOf_.clear();
    lastIdentity_[0] = lastIdentity_[1] = {};
    writable_.clear();
}

// Whether copies can be put into the folder, judged once per folder.
bool ListingTransfer::writable(const fs::Folder& folder) {
    const fs::FileIdentity id = folder.identity();
    const QByteArray key(reinterpret_cast<const char*>(&id), sizeof id);
    const auto it = writable_.constFind(key);
    if (it != writable_.constEnd())
        return *it;
    const bool ok = fs::WriteAccess(folder) == 0;
    writable_.insert(key, ok);
    return ok;
}

// The identity of the folder the cursor reached for this relative path;
// looked at once per folder.
fs::FileIdentity ListingTransfer::identityOf(const fs::Folder& folder, QByteArrayView relative,
                                             bool destination) {
    // The files of one folder come one after the other: the last answer
    // for each side is kept at hand.
    LastIdentity& last = lastIdentity_[destination ? 1 : 0];
    if (last.known && relative == QByteArrayView(last.relative))
        return last.id;
    QByteArray key(destination ? "d" : "s");
    key.append(relative.data(), relative.size());
    const auto it = folderIdentityOf_.constFind(key);
    fs::FileIdentity id;
    if (it != folderIdentityOf_.constEnd()) {
        id = *it;
    } else {
        id = folder.info().identity;
        folderIdentityOf_.insert(key, id);
    }
    last = {true, relative.toByteArray(), id};
    return id;
}

// A destination folder made for the structure mirrors its source folder; one
// above the source folder is made as mkdir makes it.
const fs::Folder* ListingTransfer::mirroredFolder(const QByteArray& source, qsizetype belowStart,
                                                  QByteArrayView destinationFolder) {
    QByteArray mirrored = source.left(belowStart);
    mirrored.append(destinationFolder.data(), destinationFolder.size());
    mirrored.append(kSeparator);
    if (!mirrored.startsWith(sourcePrefix_))
        return nullptr;
    const QByteArrayView relative =
        QByteArrayView(mirrored).sliced(sourcePrefix_.size()).chopped(1);
    return sources_.reach(relative);
}

bool ListingTransfer::transferFile(const QByteArray& source, int i, int count) {
    Host& host = c_.host;
    host.yield();
    requestAnswered_ = false;
    if (abortAsked())
        return false;
    // Outcomes of the work that ended meanwhile, entered at once.
    if (batch_ && !waiting_.isEmpty())
        settle();
    c_.view.ShowOverallProgress(i, count);

    const QByteArray below = w_.flatten ? GetFileName(source) : PathBelowRoot(source);
    // JoinPath, built in one allocation: this runs once per file.
    QByteArray destination;
    destination.reserve(destinationBytes_.size() + 1 + below.size());
    destination.append(destinationBytes_);
    if (!destination.endsWith(kSeparator))
        destination.append(kSeparator);
    destination.append(below);
    c_.view.ShowCurrentFile(destination, source);

    // Folders are made before any decision, so a skipped file's folders exist
    // too. A destination folder that cannot be reached without passing a
    // link counts as not there, and its file fails.
    const qsizetype cut = below.lastIndexOf(kSeparator);
    const QByteArrayView belowFolder = QByteArrayView(below).first(std::max<qsizetype>(cut, 0));
    const QByteArray destinationName = below.mid(cut + 1);
    const qsizetype belowStart = source.size() - below.size();
    const fs::FolderCursor::MirrorOf mirror = [&](QByteArrayView folder) {
        return mirroredFolder(source, belowStart, folder);
    };
    // A folder to be made where a waiting copy or delete stands is made on
    // the disk as those leave it.
    const fs::Folder* destinationFolder = nullptr;
    if (batch_ && !batch_->empty() && !(destinationFolder = destinations_.reach(belowFolder)) &&
        waitingInTheWay(belowFolder))
        commitBatch(Commit::Settled);
    if (!destinationFolder)
        destinationFolder = destinations_.reach(belowFolder, &mirror);

    FileFacts facts;
    facts.move = move_;
    facts.alreadyMoved = trackMoved_ && moved_.contains(source);
    facts.excluded = exclusionMode_ && IsExcluded(DecodePath(destination), exclusionSuffixes_);
    facts.timeResolution = timeResolution_;

    // The source below its folder, reached the same way.
    const fs::Folder* sourceFolder = nullptr;
    QByteArray sourceName;
    bool belowTopLevel = false;
    QByteArrayView sourceRelative;
    if (source.startsWith(sourcePrefix_)) {
        const qsizetype nameAt = source.lastIndexOf(kSeparator) + 1;
        sourceName = source.mid(nameAt);
        belowTopLevel = nameAt > sourcePrefix_.size();
        sourceRelative = QByteArrayView(source).sliced(
            sourcePrefix_.size(), std::max<qsizetype>(0, nameAt - 1 - sourcePrefix_.size()));
        sourceFolder = sources_.reach(sourceRelative);
    }
    // A file whose source or destination name a waiting copy or delete
    // stands for is decided on the disk as those have left it.
    if (batch_ && !batch_->empty() &&
        ((sourceFolder &&
          batch_->touches(identityOf(*sourceFolder, sourceRelative, false), sourceName)) ||
         (destinationFolder &&
          batch_->deletes(identityOf(*destinationFolder, belowFolder, true), destinationName))))
        commitBatch(Commit::Settled);
    fs::SourceFile file;
    int openError = 0;
    if (!facts.alreadyMoved && !facts.excluded) {
        facts.destinationReachable = destinationFolder != nullptr;
        // A link is an entry of its own, at either end: never followed.
        if (destinationFolder)
            facts.destination = destinationFolder->info(destinationName.constData(), false);
        // A copy that waits for its name stands there for every later file.
        if (destinationFolder && batch_ && !batch_->empty()) {
            if (const fs::FileInfo* waiting = batch_->pending(
                    identityOf(*destinationFolder, belowFolder, true), destinationName))
                facts.destination = *waiting;
        }
        if (ignoresCase_ && destinationFolder) {
            const auto spelled = spelled_.constFind(
                spellingKey(identityOf(*destinationFolder, belowFolder, true), destinationName));
            facts.destinationSpelledOtherwise =
                spelled != spelled_.constEnd() && *spelled != destinationName;
        }
        if (move_ && facts.destination.exists() && destinationFolder) {
            const auto placed = placedByMove_.constFind(
                PlacedKey(identityOf(*destinationFolder, belowFolder, true), destinationName));
            facts.destinationPlacedByMove =
                placed != placedByMove_.constEnd() && *placed == facts.destination.identity;
        }
        // Below the source folder the walk lists only files and links, so
        // the source is opened at once and examined through the open file;
        // one at the top may be a device, which is never opened. A file that
        // cannot be opened is examined by name, as is one the rule may well
        // skip (an unchanged tree run again opens nothing).
        const bool skipped = w_.rule != ExistingFileRule::Overwrite && facts.destination.exists();
        if (sourceFolder && belowTopLevel && !skipped) {
            openError = fs::OpenSource(*sourceFolder, sourceName.constData(), file);
            if (openError == 0)
                facts.source = file.info;
        }
        if (sourceFolder && !file.handle.valid())
            facts.source = sourceFolder->info(sourceName.constData(), false);
        else if (!sourceFolder)
            facts.source.error = sources_.lastError();
        if (sourceFolder && facts.source.kind == fs::FileKind::Link && facts.destination.exists()) {
            const fs::FileInfo target = sourceFolder->info(sourceName.constData(), true);
            facts.sourceLeadsToDestination =
                target.exists() && target.identity == facts.destination.identity;
        }
    }

    FileDecision decision = DecideFile(facts, w_.rule);
    // What can be known without writing is decided before anything is done:
    // can the source be read, can its folder take the copy.
    if ((decision == FileDecision::Copy || decision == FileDecision::Overwrite) && sourceFolder &&
        destinationFolder) {
        if (facts.source.kind == fs::FileKind::File && !file.handle.valid() &&
            !fs::IsVirtual(file.info.identity) && facts.source.size > 0) {
            openError = fs::OpenSource(*sourceFolder, sourceName.constData(), file);
            if (openError == 0 && !(file.info.identity == facts.source.identity))
                openError =
                    fs::error::kReplaced;  // another file took the name since it was examined
            if (openError == 0)
                facts.source = file.info;
        }
        // A link is copied as a link and an empty file made empty: neither
        // is read.
        if (facts.source.kind == fs::FileKind::File && facts.source.size > 0)
            facts.sourceOpenError = openError;
        // Replacing a file in a sticky folder needs its ownership too.
        facts.destinationWritable =
            writable(*destinationFolder) &&
            (!facts.destination.exists() ||
             fs::WriteAccess(*destinationFolder, destinationName.constData()) == 0);
        decision = DecideFile(facts, w_.rule);
    }
    if (decision != FileDecision::PassOver && events_.decided)
        events_.decided(decision, source, destination);
    if (decision == FileDecision::PassOver)
        return true;
    if (IsSkip(decision)) {
        skip();
        return true;
    }
    if (IsFailure(decision) || !sourceFolder || !destinationFolder) {
        int error = !sourceFolder           ? sources_.lastError()
                    : !destinationFolder    ? destinations_.lastError()
                    : facts.sourceOpenError ? facts.sourceOpenError
                                            : facts.source.error;
        if (error == 0 && decision == FileDecision::FailUnwritable)
            error = fs::WriteAccess(*destinationFolder);
        const QString reason =
            error ? fs::ErrorText(error)
            : decision == FileDecision::FailClash && facts.destinationSpelledOtherwise
                ? fs::CopyOutcome(fs::CopyResult::Clash, 0).reason()
                : DecisionReason(decision);
        addError(kCopyFailed, source, reason);
        return true;
    }
    Placement place{*destinationFolder, destinationName,
                    identityOf(*destinationFolder, belowFolder, true), belowFolder};
    carryOut(*sourceFolder, sourceName, sourceRelative, file, facts, place, source);
    return true;
}

void ListingTransfer::carryOut(const fs::Folder& sourceFolder, const QByteArray& name,
                               QByteArrayView sourceRelative, fs::SourceFile& file,
                               const FileFacts& facts, const Placement& place,
                               const QByteArray& source) {
    fs::CopyRequest request;
    request.batch = batch_;
    request.ticket = ++tickets_;
    request.destination = &place.folder;
    request.name = place.name.constData();
    request.seen = facts.destination;
    request.permissions = facts.source.permissions;
    request.verify = verify_ && !overlay_;

    fs::FileIdentity placed;
    bool linked = false;  // to an earlier copy of the file, verified with it
    fs::CopyOutcome outcome;
    const bool link = facts.source.kind == fs::FileKind::Link;
    if (link) {
        // A link takes its name at once: never before a copy waiting for it.
        if (batch_ && batch_->touches(place.folderIdentity, place.name))
            commitBatch(Commit::Settled);
        outcome = fs::CopyLink(sourceFolder, name.constData(), facts.source, request, &placed);
        // Its name is made durable with the batch's.
        if (outcome.ok() && batch_)
            batch_->namedAt(request.ticket, place.folder);
    } else {
        if (!file.handle.valid()) {
            const int error = fs::OpenSource(sourceFolder, name.constData(), file);
            // The file decided on, not one put at its name since.
            if (error == 0 && !(file.info.identity == facts.source.identity))
                outcome = fs::CopyResult::SourceChanged;
            else if (error != 0 &&
                     !(facts.source.kind == fs::FileKind::File && facts.source.size == 0))
                outcome = fs::CopyOutcome(fs::CopyResult::ReadFailed, error);
        }
        // Another name of a Move's file may be replaced or deleted by a copy
        // or delete waiting in the batch, which changes the file's change
        // time: those go first, and the file is taken as they leave it.
        if (move_ && batch_ && !batch_->empty() && file.handle.valid() && file.links > 1) {
            commitBatch(Commit::Last);
            fs::Restamp(file);
        }
        // A copy never grants more than its source did.
        if (file.handle.valid())
            request.permissions = file.info.permissions;
        // An empty file that could not be opened is made empty all the same,
        // with the time it was examined with.
        if (!file.handle.valid() && !fs::IsVirtual(file.info.identity) &&
            facts.source.kind == fs::FileKind::File && facts.source.size == 0) {
            file.info = facts.source;
            file.modifiedNs = facts.source.modifiedNs;
        }
        request.model = file.handle.valid() || file.info.modifiedNs != 0 ? &file : nullptr;
        const fs::FileInfo& what = file.handle.valid() ? file.info : facts.source;
        if (outcome.ok() && file.handle.valid() && what.kind == fs::FileKind::File) {
            linked = linkToEarlierCopy(file, request, &placed, outcome);
            if (linked && outcome.ok() && batch_)
                batch_->namedAt(request.ticket, place.folder);
        }
        if (!outcome.ok() || linked) {
        } else if (what.kind == fs::FileKind::File && what.size == 0) {
            // An empty regular file is made at the destination rather than
            // copied; it needs no reading.
            outcome = fs::PutEmptyFile(request, &what.identity, &placed);
        } else {
            c_.view.BeginFileProgress(file.info.size);
            outcome = fs::CopyFileBlocks(file, request,
                                         RunBlockProgress(c_.host, c_.view, c_.progress), &placed);
            if (outcome.ok())
                c_.view.EndFileProgress();
            // The request is answered by stopping this file; the question
            // comes with the next one, as between any two files.
            requestAnswered_ = outcome == fs::CopyResult::Aborted;
        }
    }
    if (!outcome.ok()) {
        addError(kCopyFailed, source, outcome.reason());
        return;
    }
    if (!link && file.handle.valid() && file.links > 1) {
        const QByteArray key(reinterpret_cast<const char*>(&file.info.identity),
                             sizeof file.info.identity);
        if (!earlierCopies_.contains(key))
            earlierCopies_.insert(
                key, EarlierCopy{place.below.toByteArray(), place.name, placed,
                                 place.folderIdentity, file.info.size, file.modifiedNs});
    }
    if (ignoresCase_)
        spelled_.insert(spellingKey(place.folderIdentity, place.name), place.name);
    // A file put at a name replaces whatever a Move had put there.
    const quint64 key = PlacedKey(place.folderIdentity, place.name);
    placedByMove_.remove(key);
    if (move_)
        placedByMove_.insert(key, placed);
    if (move_ && trackMoved_)
        moved_.insert(source);
    if (batch_) {
        // ...and is deleted before any later copy can touch its other names.
        const bool sharedFile = move_ && file.links > 1;
        // Counted, and its source deleted, once its name is on the disk.
        Deferred d;
        d.copy = true;
        d.ticket = request.ticket;
        d.path = source;
        d.placedKey = key;
        d.placed = placed;
        d.linked = linked;
        if (move_) {
            d.sourceKey = PlacedKey(identityOf(sourceFolder, sourceRelative, false), name);
            batch_->deleteAfter(request.ticket, sourceFolder, name.constData(), std::move(file),
                                facts.source);
        }
        waiting_.append(d);
        ++waitingCopies_;
        showCounts();
        if (sharedFile)
            commitBatch(Commit::Last);
        else if (batch_->full() && (batch_->overfull() || batch_->idle()))
            commitBatch(Commit::Full);
        return;
    }
    ++c_.state.CopiedCount;
    c_.view.showCopiedCount(c_.state.CopiedCount);
    if (!move_)
        return;
    // Only the very file that was decided on and copied is deleted, and only
    // while it is as it was copied: a line added since would be lost.
    QString reason;
    if (!fs::StillAsDecided(sourceFolder, name.constData(), file, facts.source))
        reason = QStringLiteral("the file changed after it was copied");
    file.handle.reset();
    if (reason.isEmpty()) {
        const fs::Status deleted = sourceFolder.deleteFile(name.constData(), facts.source.identity);
        if (deleted.ok()) {
            placedByMove_.remove(PlacedKey(identityOf(sourceFolder, sourceRelative, false), name));
            return;
        }
        reason = fs::ErrorText(deleted.error);
    }
    addError(kDeleteFailed, source, reason);
    if (events_.deleteFailed)
        events_.deleteFailed(source);
}

// A later name of a file this Listing copied before becomes a hard link to
// that copy, as `cp -a` makes one: true when that was done or the name could
// not be taken; false when the file is copied on its own (no earlier copy,
// or it failed, was skipped or changed).
bool ListingTransfer::linkToEarlierCopy(const fs::SourceFile& file, const fs::CopyRequest& request,
                                        fs::FileIdentity* placed, fs::CopyOutcome& outcome) {
    if (earlierCopies_.isEmpty())
        return false;
    const auto it = earlierCopies_.constFind(
        QByteArray(reinterpret_cast<const char*>(&file.info.identity), sizeof file.info.identity));
    if (it == earlierCopies_.constEnd())
        return false;
    const EarlierCopy first = *it;
    if (first.size != file.info.size || first.modifiedNs != file.modifiedNs)
        return false;
    // The earlier copy must have its name first.
    if (batch_ && batch_->touches(first.folderIdentity, first.name))
        commitBatch(Commit::Settled);
    const fs::Folder* from = linkFrom_.reach(first.below);
    if (!from)
        return false;
    const fs::CopyOutcome linked = fs::LinkToCopy(*from, first.name.constData(), first.placed,
                                                  request, &file.info.identity, placed);
    if (linked.ok() || linked == fs::CopyResult::NameTaken ||
        linked == fs::CopyResult::DestinationChanged || linked == fs::CopyResult::SameFile) {
        outcome = linked;
        return true;
    }
    return false;
}

QByteArray ListingTransfer::spellingKey(const fs::FileIdentity& folder,
                                        const QByteArray& name) const {
    QByteArray key(reinterpret_cast<const char*>(&folder), sizeof folder);
    key.append(QString::fromUtf8(name).toCaseFolded().toUtf8());
    return key;
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
        if (batch_->touches(parent->identity(), below.sliced(start, end - start)))
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
    const bool last = how == Commit::Last;
    if (waiting_.isEmpty() && batch_->empty() && !last)
        return;
    // What the run reports is on the disk; meanwhile a Copy's names may wait
    // for the next batch's flush.
    batch_->commit(last ? fs::Batch::Names::Durable : fs::Batch::Names::MayWait);
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
    }
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
        if (abortConfirmed_)
            batch_->discard();
        else
            batch_->resume();
    }
    return abortConfirmed_;
}

// Enters, in the order of the files, what the finished work has told.
void ListingTransfer::settle() {
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
    showCounts();
    if (!move_ || o.deleteDropped)
        return;
    if (o.deleteTried && o.deleted.ok()) {
        placedByMove_.remove(d.sourceKey);
        return;
    }
    const QString reason = o.changed ? QStringLiteral("the file changed after it was copied")
                                     : fs::ErrorText(o.deleted.error);
    c_.host.noteFailure(kDeleteFailed + d.path, reason);
    noteError(kDeleteFailed, d.path, reason);
    if (events_.deleteFailed)
        events_.deleteFailed(d.path);
}

ListingOutcome ListingTransfer::TransferListing(int row) {
    readFields(c_.doc.lineAt(row));
    if (!prepare())
        return ListingOutcome::RunEnded;
    if (!buildFileList())
        return ListingOutcome::Aborted;

    openRoots();
    const int count = result_.Count;
    ListingOutcome outcome = ListingOutcome::Done;
    for (int i = 1; i <= count && i <= result_.Paths.size(); ++i) {
        // Each path is let go once done: a Move's placements take its room.
        const QByteArray source = std::exchange(result_.Paths[i - 1], QByteArray());
        if (!transferFile(source, i, count) || abortConfirmed_) {
            outcome = ListingOutcome::Aborted;
            break;
        }
    }
    // Before the folders made get their own times and permissions.
    commitBatch(Commit::Last);
    if (abortConfirmed_)
        outcome = ListingOutcome::Aborted;
    destinations_.finish();
    return outcome;
}

}  // namespace zandrel
