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
    if ((f.destinationSpelledOtherwise || f.folderSpelledOtherwise) &&
        f.source.kind != FileKind::Folder)
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
    if (!f.destinationWritable || (f.source.kind == FileKind::Link && f.destinationLinkError != 0))
        return FileDecision::FailUnwritable;
    if (exists && f.move && f.destinationPlacedByMove)
        return FileDecision::FailClash;
    return exists ? FileDecision::Overwrite : FileDecision::Copy;
}

QString DecisionReason(FileDecision decision) {
    const QLatin1StringView reason = DecisionRow(decision).reason;
    return reason.isEmpty() ? QString() : reason.toString();
}

QLatin1StringView DecisionToken(FileDecision decision) {
    return DecisionRow(decision).token;
}

}  // namespace zandrel
