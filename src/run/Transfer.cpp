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
// The same by the path, where the disk renumbers its files and folders.
quint64 PlacedKey(QByteArrayView path) {
    return quint64(qHash(path, 0x5a4f)) * 0x9e3779b97f4a7c15ULL ^ quint64(qHash(path, 0x2bd2));
}

// A name as a disk that ignores letter case takes it.
QByteArray Folded(QByteArrayView name) {
    return QString::fromUtf8(name).toCaseFolded().toUtf8();
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
    fs::Folder nearest;
    if (destinations_.root().isVirtual())
        nearest = NearestOnDisk(destinationBytes_);
    const fs::Folder& disk = nearest.valid() ? nearest : destinations_.root();
    timeResolution_ = fs::TimeResolution(disk);
    // A preview changes nothing on the disk, not even for a probe.
    ignoresCase_ = fs::IgnoresCase(disk, !overlay_);
    destinationKeepsNumbers_ = fs::KeepsInodeNumbers(disk);
    sourceKeepsNumbers_ = fs::KeepsInodeNumbers(sources_.root());
    sourceIgnoresCase_ = !sourceKeepsNumbers_ && fs::IgnoresCase(sources_.root());
    lastFolderChecked_ = {};
    lastFolderNoted_.clear();
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

// Known once per file system; a folder only a preview made is on the disk of
// the nearest folder that is there.
int ListingTransfer::linkRefusal(const fs::Folder& folder) {
    if (folder.isVirtual())
        return fs::LinksRefused(NearestOnDisk(destinationBytes_));
    const quint64 device = folder.identity().device;
    const auto it = linkRefusal_.constFind(device);
    if (it != linkRefusal_.constEnd())
        return *it;
    return *linkRefusal_.insert(device, fs::LinksRefused(folder));
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
    c_.host.yield();
    requestAnswered_ = false;
    if (abortAsked())
        return false;
    // Outcomes of the work that ended meanwhile, entered at once.
    if (batch_ && !waiting_.isEmpty())
        settle();
    c_.view.ShowOverallProgress(i, count);
    // The run's own descriptors for this file come before the batch's.
    if (batch_ && !batch_->empty() && !batch_->roomFor(fs::Batch::kDescriptorsPerFile))
        commitBatch(Commit::Settled);

    std::optional<FileJourney> journey;
    FileDecision decision = FileDecision::PassOver;
    for (int attempt = 0; attempt < 2; ++attempt) {
        FileJourney& j = journey.emplace(source);
        reachDestination(j);
        reachSource(j);
        // A file whose source or destination name a waiting copy or delete
        // stands for is decided on the disk as those have left it.
        if ((j.sourceFolder && mustWaitFor(j.sourceFolderId, j.sourceName, Touch::Any)) ||
            (j.destinationFolder &&
             mustWaitFor(j.destinationFolderId, j.destinationName, Touch::Delete)))
            commitBatch(Commit::Settled);
        examine(j);
        // A disk that holds no links fails a link before it is tried, so
        // that the preview foretells it.
        if (j.facts.source.kind == fs::FileKind::Link && j.destinationFolder)
            j.facts.destinationLinkError = linkRefusal(*j.destinationFolder);
        decision = decide(j);
        // A folder or a source that could not be opened for want of a
        // descriptor is tried again once the batch has let go of its own.
        const bool starved =
            fs::OutOfDescriptors(j.openError) ||
            (!j.sourceFolder && fs::OutOfDescriptors(sources_.lastError())) ||
            (!j.destinationFolder && fs::OutOfDescriptors(destinations_.lastError()));
        if (!starved || !batch_ || batch_->empty())
            break;
        commitBatch(Commit::Settled);
    }
    FileJourney& j = *journey;
    if (decision == FileDecision::SkipExists || decision == FileDecision::SkipNotNewer)
        noteSpelling(j);
    if (decision != FileDecision::PassOver && events_.decided)
        events_.decided(decision, source, j.destination);
    if (decision == FileDecision::PassOver)
        return true;
    if (IsSkip(decision)) {
        skip();
        return true;
    }
    if (IsFailure(decision) || !j.sourceFolder || !j.destinationFolder) {
        failBeforeCopying(j, decision);
        return true;
    }
    // A killed run's copies go before this run's own join them.
    leftBehind_.clearIn(*j.destinationFolder, j.destinationFolderId,
                        QByteArrayView(j.destination).chopped(j.destinationName.size()));
    carryOut(j);
    return true;
}

// Where the file goes, and that folder reached. Folders are made before any
// decision, so a skipped file's folders exist too. A destination folder that
// cannot be reached without passing a link counts as not there, and its file
// fails.
void ListingTransfer::reachDestination(FileJourney& j) {
    j.below = w_.flatten ? GetFileName(j.source) : PathBelowRoot(j.source);
    // JoinPath, built in one allocation: this runs once per file.
    j.destination.reserve(destinationBytes_.size() + 1 + j.below.size());
    j.destination.append(destinationBytes_);
    if (!j.destination.endsWith(kSeparator))
        j.destination.append(kSeparator);
    j.destination.append(j.below);
    c_.view.ShowCurrentFile(j.destination, j.source);

    const qsizetype cut = j.below.lastIndexOf(kSeparator);
    j.belowFolder = QByteArrayView(j.below).first(std::max<qsizetype>(cut, 0));
    j.destinationName = j.below.mid(cut + 1);
    const qsizetype belowStart = j.source.size() - j.below.size();
    const fs::FolderCursor::MirrorOf mirror = [&](QByteArrayView folder) {
        return mirroredFolder(j.source, belowStart, folder);
    };
    // A folder to be made where a waiting copy or delete stands is made on
    // the disk as those leave it.
    if (batch_ && !batch_->empty() && !(j.destinationFolder = destinations_.reach(j.belowFolder)) &&
        waitingInTheWay(j.belowFolder))
        commitBatch(Commit::Settled);
    if (!j.destinationFolder)
        j.destinationFolder = destinations_.reach(j.belowFolder, &mirror);
    if (j.destinationFolder)
        j.destinationFolderId = identityOf(*j.destinationFolder, j.belowFolder, true);
}

// The source below its folder, reached the same way.
void ListingTransfer::reachSource(FileJourney& j) {
    if (!j.source.startsWith(sourcePrefix_))
        return;
    const qsizetype nameAt = j.source.lastIndexOf(kSeparator) + 1;
    j.sourceName = j.source.mid(nameAt);
    j.belowTopLevel = nameAt > sourcePrefix_.size();
    j.sourceRelative = QByteArrayView(j.source).sliced(
        sourcePrefix_.size(), std::max<qsizetype>(0, nameAt - 1 - sourcePrefix_.size()));
    j.sourceFolder = sources_.reach(j.sourceRelative);
    if (j.sourceFolder)
        j.sourceFolderId = identityOf(*j.sourceFolder, j.sourceRelative, false);
}

// What the decision needs to know of both ends.
void ListingTransfer::examine(FileJourney& j) {
    FileFacts& facts = j.facts;
    facts.move = move_;
    facts.alreadyMoved = trackMoved_ && moved_.contains(j.source);
    facts.excluded = exclusionMode_ && IsExcluded(DecodePath(j.destination), exclusionSuffixes_);
    facts.timeResolution = timeResolution_;
    if (facts.alreadyMoved || facts.excluded)
        return;
    facts.destinationReachable = j.destinationFolder != nullptr;
    if (j.destinationFolder) {
        // A link is an entry of its own, at either end: never followed.
        facts.destination = j.destinationFolder->info(j.destinationName.constData(), false);
        // A copy that waits for its name stands there for every later file.
        if (batch_ && !batch_->empty()) {
            if (const fs::FileInfo* waiting =
                    batch_->pending(j.destinationFolderId, j.destinationName))
                facts.destination = *waiting;
        }
        if (ignoresCase_) {
            const auto spelled = spelled_.constFind(spellingKey(j));
            facts.destinationSpelledOtherwise =
                spelled != spelled_.constEnd() && *spelled != j.destinationName;
            facts.folderSpelledOtherwise = folderSpelledOtherwise(j);
        }
        // Where the disk renumbers its files, a name a Move filled stays
        // its own until the run itself replaces or deletes what is there.
        if (move_ && facts.destination.exists()) {
            const auto placed = placedByMove_.constFind(destinationKey(j));
            facts.destinationPlacedByMove =
                placed != placedByMove_.constEnd() &&
                (!destinationKeepsNumbers_ || *placed == facts.destination.identity);
        }
    }
    // Below the source folder the walk lists only files and links, so the
    // source is opened at once and examined through the open file; one at
    // the top may be a device, which is never opened. A file that cannot be
    // opened is examined by name, as is one the rule may well skip (an
    // unchanged tree run again opens nothing).
    const bool skipped = w_.rule != ExistingFileRule::Overwrite && facts.destination.exists();
    if (j.sourceFolder && j.belowTopLevel && !skipped) {
        j.openError = fs::OpenSource(*j.sourceFolder, j.sourceName.constData(), j.file);
        if (j.openError == 0)
            facts.source = j.file.info;
    }
    if (j.sourceFolder && !j.file.handle.valid())
        facts.source = j.sourceFolder->info(j.sourceName.constData(), false);
    else if (!j.sourceFolder)
        facts.source.error = sources_.lastError();
    if (j.sourceFolder && facts.source.kind == fs::FileKind::Link && facts.destination.exists()) {
        const fs::FileInfo target = j.sourceFolder->info(j.sourceName.constData(), true);
        facts.sourceLeadsToDestination =
            target.exists() && target.identity == facts.destination.identity;
    }
}

// What can be known without writing is decided before anything is done:
// can the source be read, can its folder take the copy.
FileDecision ListingTransfer::decide(FileJourney& j) {
    FileFacts& facts = j.facts;
    const FileDecision first = DecideFile(facts, w_.rule);
    if ((first != FileDecision::Copy && first != FileDecision::Overwrite) || !j.sourceFolder ||
        !j.destinationFolder)
        return first;
    if (facts.source.kind == fs::FileKind::File && !j.file.handle.valid() &&
        !fs::IsVirtual(j.file.info.identity) && facts.source.size > 0) {
        j.openError = fs::OpenSource(*j.sourceFolder, j.sourceName.constData(), j.file);
        if (j.openError == 0 && !(j.file.info.identity == facts.source.identity))
            j.openError = fs::error::kReplaced;  // another file took the name since
        if (j.openError == 0)
            facts.source = j.file.info;
    }
    // A link is copied as a link and an empty file made empty: neither is
    // read.
    if (facts.source.kind == fs::FileKind::File && facts.source.size > 0)
        facts.sourceOpenError = j.openError;
    // Replacing a file in a sticky folder needs its ownership too.
    facts.destinationWritable =
        writable(*j.destinationFolder) &&
        (!facts.destination.exists() ||
         fs::WriteAccess(*j.destinationFolder, j.destinationName.constData()) == 0);
    return DecideFile(facts, w_.rule);
}

void ListingTransfer::failBeforeCopying(const FileJourney& j, FileDecision decision) {
    const FileFacts& facts = j.facts;
    int error = !j.sourceFolder         ? sources_.lastError()
                : !j.destinationFolder  ? destinations_.lastError()
                : facts.sourceOpenError ? facts.sourceOpenError
                                        : facts.source.error;
    if (error == 0 && decision == FileDecision::FailUnwritable)
        error = facts.destinationLinkError ? facts.destinationLinkError
                                           : fs::WriteAccess(*j.destinationFolder);
    const bool clash = decision == FileDecision::FailClash;
    const QString reason = error                                   ? fs::ErrorText(error)
                           : clash && facts.folderSpelledOtherwise ? kFolderClashReason.toString()
                           : clash && facts.destinationSpelledOtherwise
                               ? fs::CopyOutcome(fs::CopyResult::Clash, 0).reason()
                               : DecisionReason(decision);
    addError(kCopyFailed, j.source, reason);
}

void ListingTransfer::carryOut(FileJourney& j) {
    const fs::Folder& sourceFolder = *j.sourceFolder;
    const fs::Folder& destinationFolder = *j.destinationFolder;
    const QByteArray& name = j.sourceName;
    const FileFacts& facts = j.facts;
    fs::SourceFile& file = j.file;
    fs::CopyRequest request;
    request.batch = batch_;
    request.ticket = ++tickets_;
    request.destination = &destinationFolder;
    request.name = j.destinationName.constData();
    request.seen = facts.destination;
    request.permissions = facts.source.permissions;
    request.verify = verify_ && !overlay_;

    if (batch_) {
        const int error = reserveInBatch(destinationFolder);
        if (error != 0) {
            addError(kCopyFailed, j.source, fs::ErrorText(error));
            return;
        }
    }

    fs::FileIdentity placed;
    bool linked = false;  // to an earlier copy of the file, verified with it
    fs::CopyOutcome outcome;
    const bool link = facts.source.kind == fs::FileKind::Link;
    if (link) {
        // A link takes its name at once: never before a copy waiting for it.
        if (mustWaitFor(j.destinationFolderId, j.destinationName, Touch::Any))
            commitBatch(Commit::Settled);
        outcome = fs::CopyLink(sourceFolder, name.constData(), facts.source, request, &placed);
        // Its name is made durable with the batch's.
        if (outcome.ok() && batch_)
            batch_->namedAt(request.ticket, destinationFolder);
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
            commitBatch(Commit::OnDisk);
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
                batch_->namedAt(request.ticket, destinationFolder);
        }
        const auto copy = [&] {
            if (what.kind == fs::FileKind::File && what.size == 0) {
                // An empty regular file is made at the destination rather
                // than copied; it needs no reading.
                outcome = fs::PutEmptyFile(request, &what.identity, &placed);
                return;
            }
            c_.view.BeginFileProgress(file.info.size);
            outcome = fs::CopyFileBlocks(file, request,
                                         RunBlockProgress(c_.host, c_.view, c_.progress), &placed);
            if (outcome.ok())
                c_.view.EndFileProgress();
            // The request is answered by stopping this file; the question
            // comes with the next one, as between any two files.
            requestAnswered_ = outcome == fs::CopyResult::Aborted;
        };
        if (outcome.ok() && !linked) {
            copy();
            // The copies waiting hold the descriptors this one lacked.
            if (fs::OutOfDescriptors(outcome.error) && !outcome.ok() && !batch_->empty()) {
                commitBatch(Commit::Settled);
                if (reserveInBatch(destinationFolder) == 0)
                    copy();
            }
        }
    }
    if (!outcome.ok()) {
        addError(kCopyFailed, j.source, outcome.reason());
        return;
    }
    if (!link && file.handle.valid() && file.links > 1) {
        const QByteArray key(reinterpret_cast<const char*>(&file.info.identity),
                             sizeof file.info.identity);
        if (!earlierCopies_.contains(key))
            earlierCopies_.insert(
                key, EarlierCopy{j.belowFolder.toByteArray(), j.destinationName, placed,
                                 j.destinationFolderId, file.info.size, file.modifiedNs});
    }
    noteSpelling(j);
    // A file put at a name replaces whatever a Move had put there.
    const quint64 key = destinationKey(j);
    placedByMove_.remove(key);
    if (move_)
        placedByMove_.insert(key, placed);
    if (move_ && trackMoved_)
        moved_.insert(j.source);
    const quint64 sourceKey = move_ ? this->sourceKey(j) : 0;
    if (batch_) {
        // ...and is deleted before any later copy can touch its other names.
        const bool sharedFile = move_ && file.links > 1;
        // Counted, and its source deleted, once its name is on the disk.
        Deferred d;
        d.copy = true;
        d.ticket = request.ticket;
        d.path = j.source;
        d.placedKey = key;
        d.placed = placed;
        d.linked = linked;
        if (move_) {
            d.sourceKey = sourceKey;
            // Held by nothing, the source is not deleted: the copy is made
            // all the same, and the delete fails with its reason.
            d.deleteError = batch_->deleteAfter(request.ticket, sourceFolder, name.constData(),
                                                std::move(file), facts.source);
        }
        waiting_.append(d);
        ++waitingCopies_;
        showCounts();
        if (sharedFile)
            commitBatch(Commit::OnDisk);
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
            placedByMove_.remove(sourceKey);
            return;
        }
        reason = fs::ErrorText(deleted.error);
    }
    addError(kDeleteFailed, j.source, reason);
    if (events_.deleteFailed)
        events_.deleteFailed(j.source);
}

// What a copy into folder needs of the batch, had before it is written
// (the batch had room for it before the file began); without a descriptor,
// once more after the batch's work has let go of its own.
int ListingTransfer::reserveInBatch(const fs::Folder& folder) {
    int error = batch_->reserve(folder);
    if (fs::OutOfDescriptors(error) && !batch_->empty()) {
        commitBatch(Commit::Settled);
        error = batch_->reserve(folder);
    }
    return error;
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
    if (mustWaitFor(first.folderIdentity, first.name, Touch::Any))
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

// The folder by its identity where the disk keeps it, else by its path;
// the name as the disk takes it.
QByteArray ListingTransfer::spellingKey(const FileJourney& j) const {
    QByteArray key;
    if (destinationKeepsNumbers_)
        key.append('i').append(reinterpret_cast<const char*>(&j.destinationFolderId),
                               sizeof j.destinationFolderId);
    else
        key.append('p').append(
            Folded(QByteArrayView(j.destination).chopped(j.destinationName.size())));
    return key.append(Folded(j.destinationName));
}

quint64 ListingTransfer::destinationKey(const FileJourney& j) const {
    if (destinationKeepsNumbers_)
        return PlacedKey(j.destinationFolderId, j.destinationName);
    return PlacedKey(ignoresCase_ ? Folded(j.destination) : j.destination);
}

quint64 ListingTransfer::sourceKey(const FileJourney& j) const {
    if (sourceKeepsNumbers_)
        return PlacedKey(j.sourceFolderId, j.sourceName);
    return PlacedKey(sourceIgnoresCase_ ? Folded(j.source) : j.source);
}

// The folders below the destination by their path as the disk takes it,
// below the destination folder as the Listing names it.
QByteArray ListingTransfer::folderSpellingKey(QByteArrayView below) const {
    return Folded(destinationBytes_) + kSeparator + Folded(below);
}

// Two folders of the sources that differ only in letter case are one on the
// destination: the files of the second would meet the first's.
bool ListingTransfer::folderSpelledOtherwise(const FileJourney& j) {
    if (j.belowFolder.isEmpty())
        return false;
    if (lastFolderChecked_.known && j.belowFolder == QByteArrayView(lastFolderChecked_.relative))
        return lastFolderChecked_.clash;
    bool clash = false;
    for (qsizetype end = 1; end <= j.belowFolder.size() && !clash; ++end) {
        if (end < j.belowFolder.size() && j.belowFolder.at(end) != kSeparator)
            continue;
        const QByteArrayView spelled = j.belowFolder.first(end);
        const auto it = spelledFolders_.constFind(folderSpellingKey(spelled));
        clash = it != spelledFolders_.constEnd() && *it != spelled;
    }
    lastFolderChecked_ = {true, j.belowFolder.toByteArray(), clash};
    return clash;
}

// The name and the folders of a file the run put or left in place, as
// spelled, where the destination ignores letter case.
void ListingTransfer::noteSpelling(const FileJourney& j) {
    if (!ignoresCase_)
        return;
    spelled_.insert(spellingKey(j), j.destinationName);
    if (j.belowFolder.isEmpty() || j.belowFolder == QByteArrayView(lastFolderNoted_))
        return;
    lastFolderNoted_ = j.belowFolder.toByteArray();
    for (qsizetype end = 1; end <= j.belowFolder.size(); ++end) {
        if (end == j.belowFolder.size() || j.belowFolder.at(end) == kSeparator) {
            const QByteArrayView spelled = j.belowFolder.first(end);
            spelledFolders_.insert(folderSpellingKey(spelled), spelled.toByteArray());
        }
    }
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
    // Before the folders made get their own times and permissions; after an
    // abort, what was finished is kept (unless asked to be dropped).
    commitBatch(Commit::OnDisk);
    if (abortConfirmed_)
        outcome = ListingOutcome::Aborted;
    if (notKept_ > 0) {
        AppendReportEntry(c_.host, QStringLiteral(" : ") + QString::number(notKept_) +
                                       QStringLiteral(" finished copies were not kept: the abort "
                                                      "came before they were on the disk"));
        notKept_ = 0;
    }
    destinations_.finish();
    if (const int removed = leftBehind_.takeRemoved())
        AppendReportEntry(c_.host, LeftBehindEntry(removed));
    return outcome;
}

void ListingTransfer::releaseFolders() {
    sources_.reset({});
    destinations_.reset({});
    linkFrom_.reset({});
}

}  // namespace zandrel
