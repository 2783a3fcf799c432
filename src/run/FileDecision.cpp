#include "run/FileDecision.h"

#include <algorithm>

namespace zandrel {

namespace {

qint64 FloorDiv(qint64 a, qint64 b) {
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Compared in the destination's steps: FAT keeps a copy's time rounded down
// to even seconds, and its unchanged source must not look newer than it.
bool Newer(const fs::FileInfo& a, const fs::FileInfo& b, qint64 step) {
    step = std::max<qint64>(step, 1);
    return FloorDiv(a.modifiedNs, step) > FloorDiv(b.modifiedNs, step);
}

}  // namespace

FileDecision DecideFile(const FileFacts& f, std::optional<ExistingFileRule> rule) {
    using fs::FileKind;
    if (f.alreadyMoved)
        return FileDecision::PassOver;
    if (f.excluded)
        return FileDecision::Excluded;
    if (!rule)
        return f.source.kind == FileKind::Folder ? FileDecision::PassOver
                                                 : FileDecision::FailNoRule;

    // Two names the destination takes for one: never one file for both.
    if (f.destinationSpelledOtherwise && f.source.kind != FileKind::Folder)
        return FileDecision::FailClash;
    const bool exists = f.destination.exists();
    switch (*rule) {
        case ExistingFileRule::Overwrite:
            break;
        case ExistingFileRule::SkipFile:
            if (exists)
                return FileDecision::SkipExists;
            break;
        case ExistingFileRule::CopyOnlyIfNewer:
            // A source that cannot be examined goes on to fail as a copy
            // rather than vanish as a skip.
            if (exists && f.source.exists() && !Newer(f.source, f.destination, f.timeResolution))
                return FileDecision::SkipNotNewer;
            break;
    }
    // The rule says copy.
    if (f.source.kind == FileKind::Folder)
        return FileDecision::PassOver;
    if (f.source.kind == FileKind::Other)
        return FileDecision::FailNotRegular;
    if (!f.source.exists() || f.sourceOpenError != 0)
        return FileDecision::FailUnreadable;
    if (!f.destinationReachable)
        return FileDecision::FailUnreachable;
    if (exists && (f.source.identity == f.destination.identity || f.sourceLeadsToDestination))
        return FileDecision::FailSameFile;
    if (f.destination.kind == FileKind::Folder)
        return FileDecision::FailFolderInTheWay;
    if (!f.destinationWritable)
        return FileDecision::FailUnwritable;
    if (exists && f.move && f.destinationPlacedByMove)
        return FileDecision::FailClash;
    return exists ? FileDecision::Overwrite : FileDecision::Copy;
}

QString DecisionReason(FileDecision decision) {
    switch (decision) {
        case FileDecision::FailSameFile:
            return QStringLiteral("the destination is the file itself");
        case FileDecision::FailNotRegular:
            return QStringLiteral("not a regular file");
        case FileDecision::FailClash:
            return QStringLiteral("a file this run moved from elsewhere stands at the destination");
        case FileDecision::FailNoRule:
            return QStringLiteral("the listing has no existing-file rule");
        case FileDecision::FailUnreachable:
            return QStringLiteral("a link or a file stands in the destination's path");
        case FileDecision::FailUnreadableFolder:
            return QStringLiteral("the folder could not be read");
        case FileDecision::FailUnreadable:
            return QStringLiteral("the file could not be read");
        case FileDecision::FailUnwritable:
            return QStringLiteral("the destination folder cannot be written");
        case FileDecision::FailFolderInTheWay:
            return QStringLiteral("a folder stands at the destination");
        default:
            return {};
    }
}

QLatin1StringView DecisionToken(FileDecision decision) {
    switch (decision) {
        case FileDecision::PassOver:
            return QLatin1StringView("pass");
        case FileDecision::Copy:
            return QLatin1StringView("copy");
        case FileDecision::Overwrite:
            return QLatin1StringView("overwrite");
        case FileDecision::SkipExists:
            return QLatin1StringView("skip-exists");
        case FileDecision::SkipNotNewer:
            return QLatin1StringView("skip-not-newer");
        case FileDecision::Excluded:
            return QLatin1StringView("excluded");
        case FileDecision::FailSameFile:
            return QLatin1StringView("fail-same-file");
        case FileDecision::FailNotRegular:
            return QLatin1StringView("fail-not-regular");
        case FileDecision::FailClash:
            return QLatin1StringView("fail-clash");
        case FileDecision::FailNoRule:
            return QLatin1StringView("fail-no-rule");
        case FileDecision::FailUnreachable:
            return QLatin1StringView("fail-unreachable");
        case FileDecision::FailUnreadableFolder:
            return QLatin1StringView("fail-unreadable-folder");
        case FileDecision::FailUnreadable:
            return QLatin1StringView("fail-unreadable");
        case FileDecision::FailUnwritable:
            return QLatin1StringView("fail-unwritable");
        case FileDecision::FailFolderInTheWay:
            return QLatin1StringView("fail-folder-in-the-way");
    }
    return QLatin1StringView("pass");
}

}  // namespace zandrel
