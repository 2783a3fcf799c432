#include "run/Transfer.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "run/FileOps.h"
#include "run/RunDriver.h"
#include "run/RunState.h"
#include "run/RunTexts.h"
#include "run/RunView.h"
#include "search/Filter.h"

namespace zandrel {

namespace {

// Attribute sets of the walk: everything with folders, and files without
// system entries below the source folder.
constexpr int kFoldersAndAll = AttrReadOnly | AttrHidden | AttrSystem | AttrFolder;
constexpr int kOrdinaryFiles = AttrReadOnly | AttrHidden;

std::optional<ExistingFileRule> RuleFromToken(const QString& token) {
    if (token == QLatin1String("Overwrite"))
        return ExistingFileRule::Overwrite;
    if (token == QLatin1String("SkipFile"))
        return ExistingFileRule::SkipFile;
    if (token == QLatin1String("CopyOnlyIfNewer"))
        return ExistingFileRule::CopyOnlyIfNewer;
    return std::nullopt;
}

bool StatPath(const QByteArray& path, struct stat& st) {
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0;
}

void AddOwnerWrite(const QByteArray& path, const struct stat& st) {
    if ((st.st_mode & S_IWUSR) == 0)
        ::chmod(path.constData(), (st.st_mode & 07777) | S_IWUSR);
}

}  // namespace

bool ConfirmAbort(Host& host, RunPhaseValue& phase, SessionFlags& flags, RunState& state) {
    const Answer answer = host.message(Icon::Question, QStringLiteral("Confirm"),
                                       QStringLiteral("Abort process?"), Buttons::YesNo);
    if (answer == Answer::Yes) {
        state.AbortedByUser = true;
        flags.CommandLineRun = false;
        return true;
    }
    phase.set(RunPhase::Running);
    return false;
}

void GiveBackIdleState(RunPhaseValue& phase, RunView& view, SessionFlags& flags) {
    phase.set(RunPhase::Idle);
    view.RestoreAfterRun();
    flags.CommandLineRun = false;
}

void ListingTransfer::readFields(const QString& line) {
    // An absent field keeps the value of the Listing before.
    const auto read = [&](int n, QString& into) {
        if (const auto value = ReadListingField(line, n))
            into = *value;
    };
    read(FieldAction, w_.action);
    read(FieldDescription, w_.description);
    c_.state.LastListing.action = w_.action;
    c_.state.LastListing.description = w_.description;
    AppendReportEntry(c_.host, QStringLiteral(" : ") + w_.action +
                                   QStringLiteral(" process initiated (") + w_.description + u')');

    read(FieldSourceFolder, w_.sourceFolder);
    read(FieldDestinationFolder, w_.destinationFolder);
    if (const auto v = ReadListingField(line, FieldIncludeSubfolders))
        w_.includeSubfolders = *v == QLatin1String("Subfolders");
    if (const auto v = ReadListingField(line, FieldCopyJustFiles))
        w_.flatten = *v == QLatin1String("CopyJustFiles");
    if (const auto v = ReadListingField(line, FieldIfExists)) {
        if (const auto rule = RuleFromToken(*v))
            w_.rule = rule;
    }
    c_.state.LastListing.sourceFolder = w_.sourceFolder;
    c_.state.LastListing.destinationFolder = w_.destinationFolder;
    c_.state.LastListing.includeSubfolders = w_.includeSubfolders;

    const FilterEvaluation filter = EvaluateFilter(FilterTextOf(line));
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
        GiveBackIdleState(c_.phase, c_.view, c_.flags);
        return false;
    };

    if (!FolderExists(w_.sourceFolder))
        return endRun(QStringLiteral("Source folder was not found"),
                      QStringLiteral(" : Aborted (Source folder was not found)"));

    if (!FolderExists(w_.destinationFolder)) {
        if (!c_.flags.CommandLineRun) {
            const Answer answer = host.message(
                Icon::Question, QStringLiteral("Folder not found"),
                QStringLiteral("Destination folder was not found:\r\n") + w_.destinationFolder +
                    QStringLiteral("\r\n\r\nWould you like to create it?"),
                Buttons::YesNo);
            if (answer != Answer::Yes)
                return endRun({}, {});
        }
        MakeSureDirectoryPathExists(EncodePath(w_.destinationFolder) + kSeparator);
        if (!FolderExists(w_.destinationFolder))
            return endRun(QStringLiteral("Destination folder could not be created."),
                          QStringLiteral(" : Aborted (Destination folder could not be created)"));
    }

    if (!CanWriteToFolder(w_.destinationFolder, host))
        return endRun({}, {});

    if (w_.sourceFolder.toLower() == w_.destinationFolder.toLower())
        return endRun(QStringLiteral("Source/Destination folders are identical."),
                      QStringLiteral(" : Aborted (Source/Destination folders are identical)"));
    return true;
}

bool ListingTransfer::buildFileList() {
    Host& host = c_.host;
    host.setStatusText(QStringLiteral("Creating list of files to be copied..."));
    const QByteArray source = EncodePath(w_.sourceFolder);
    for (;;) {
        result_.Paths.clear();
        if (w_.includeSubfolders)
            ListFilesBelow(source, searchPatterns_, kFoldersAndAll, kOrdinaryFiles, result_, host);
        ListFiles(FolderList{source}, searchPatterns_, kFoldersAndAll, result_, host);
        if (!host.abortRequested())
            return true;
        if (ConfirmAbort(host, c_.phase, c_.flags, c_.state))
            return false;
    }
}

void ListingTransfer::addError(const QByteArray& prefix, const QByteArray& path) {
    c_.state.ErrorList.append(prefix + path);
    c_.view.ShowErrorCount(static_cast<int>(c_.state.ErrorList.size()));
}

void ListingTransfer::skip() {
    c_.view.AddSkipped();
}

void ListingTransfer::copyFile(const QByteArray& source, const QByteArray& destination,
                               const struct stat* destinationStat) {
    struct stat sourceStat {};
    const bool sourceKnown = sourceFolder_.stat(source, sourceStat);
    // A folder in the list is passed over uncounted.
    if (sourceKnown && S_ISDIR(sourceStat.st_mode))
        return;

    // The destination may be the source itself under another spelling: it is
    // neither replaced by its own copy nor deleted by a Move. One not looked
    // at yet is checked when the copy is put in place.
    if (sourceKnown && destinationStat && SameFile(sourceStat, *destinationStat)) {
        addError(kCopyFailed, source);
        return;
    }

    // Attributes to normal (ClearAttributes), with the stats already at hand.
    if (sourceKnown)
        AddOwnerWrite(source, sourceStat);
    if (destinationStat)
        AddOwnerWrite(destination, *destinationStat);
    bool ok = sourceKnown && CopyFileBlocks(sourceFolder_.locate(source), sourceStat,
                                            destinationFolder_.locate(destination), destinationStat,
                                            c_.host, c_.view, c_.progress);
    // An empty regular file is made at the destination rather than copied.
    if (!ok) {
        struct stat now {};
        struct stat there {};
        if (StatPath(source, now) && S_ISREG(now.st_mode) && now.st_size == 0)
            ok = !(StatPath(destination, there) && SameFile(now, there)) &&
                 EnsureFileExists(destination);
    }
    if (!ok) {
        addError(kCopyFailed, source);
        return;
    }
    ++c_.state.CopiedCount;
    c_.view.ShowCopiedCount(c_.state.CopiedCount);
    if (w_.action == QLatin1String("Move") && ::unlink(source.constData()) != 0)
        addError(kDeleteFailed, source);
}

bool ListingTransfer::transferFile(const QByteArray& source, int i, int count) {
    Host& host = c_.host;
    host.yield();
    if (host.abortRequested() && ConfirmAbort(host, c_.phase, c_.flags, c_.state))
        return false;
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
    // too. Consecutive files mostly share their folder.
    const QByteArray folder = GetFolderPart(destination);
    if (folder != lastFolderMade_) {
        MakeSureDirectoryPathExists(destination);
        lastFolderMade_ = folder;
    }

    if (exclusionMode_ && IsExcluded(DecodePath(destination), exclusionSuffixes_)) {
        skip();
        return true;
    }
    if (!w_.rule) {
        // No rule of its own nor from an earlier Listing: the file cannot be
        // decided, and a run that copied nothing must not read as a success.
        if (!FolderExists(source))
            addError(kCopyFailed, source);
        return true;
    }

    struct stat destinationStat {};
    switch (*w_.rule) {
        case ExistingFileRule::Overwrite:
            copyFile(source, destination, nullptr);
            break;
        case ExistingFileRule::SkipFile:
            if (destinationFolder_.stat(destination, destinationStat))
                skip();
            else
                copyFile(source, destination, nullptr);
            break;
        case ExistingFileRule::CopyOnlyIfNewer: {
            if (!destinationFolder_.stat(destination, destinationStat)) {
                copyFile(source, destination, nullptr);
                break;
            }
            // Whole seconds; a source that cannot be examined goes on to fail
            // as a copy rather than vanish as a skip.
            struct stat sourceStat {};
            if (!sourceFolder_.stat(source, sourceStat) ||
                sourceStat.st_mtim.tv_sec > destinationStat.st_mtim.tv_sec)
                copyFile(source, destination, &destinationStat);
            else
                skip();
            break;
        }
    }
    return true;
}

ListingOutcome ListingTransfer::TransferListing(int row) {
    readFields(c_.doc.lineAt(row));
    if (!prepare())
        return ListingOutcome::RunEnded;
    if (!buildFileList())
        return ListingOutcome::Aborted;

    lastFolderMade_.clear();
    destinationBytes_ = EncodePath(w_.destinationFolder);
    sourceFolder_.forget();
    destinationFolder_.forget();
    const int count = result_.Count;
    for (int i = 1; i <= count && i <= result_.Paths.size(); ++i) {
        if (!transferFile(result_.Paths.at(i - 1), i, count))
            return ListingOutcome::Aborted;
    }
    return ListingOutcome::Done;
}

}  // namespace zandrel
