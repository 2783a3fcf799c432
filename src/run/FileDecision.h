#pragma once
// What becomes of one listed file: the run carries the decision out, the
// preview prints it. Both take it from here, so they cannot disagree.

#include <QLatin1StringView>
#include <QString>

#include <cstddef>
#include <iterator>
#include <optional>

#include "common/FileSystem.h"
#include "listing/Listing.h"

namespace zandrel {

enum class FileDecision {
    PassOver,      // a folder entry the rule would copy, or a file this Move already moved
    Copy,          // the destination is not there
    Overwrite,     // the destination is there and the rule replaces it
    SkipExists,    // "SkipFile" and the destination is there
    SkipNotNewer,  // "CopyOnlyIfNewer" and the source is not later
    Excluded,      // an exclusion of the filter; counted as skipped
    FailSameFile,  // the destination is the source itself
    FailNotRegular,
    FailClash,             // a Move would replace what it put in place from another source,
                           // or a name or a folder of the path differs only in case from one
                           // this run put there
    FailNoRule,            // no existing-file rule in force
    FailUnreachable,       // a link or a file stands in the destination's path
    FailUnreadableFolder,  // a folder of the source that could not be listed
    FailUnreadable,        // the source cannot be examined or opened for reading
    FailUnwritable,        // the destination's folder cannot take the copy
    FailFolderInTheWay,    // a folder stands at the destination's name
};

struct FileFacts {
    bool move = false;
    bool alreadyMoved = false;  // this Move Listing moved this very path before
    bool excluded = false;
    fs::FileInfo source;                   // a link as itself; Missing when it cannot be examined
    fs::FileInfo destination;              // the same
    bool destinationReachable = true;      // its folder is there or can be made, without links
    bool destinationPlacedByMove = false;  // put there by a Move of this run
    // The destination ignores letter case and this run put a file there
    // under the name spelled otherwise.
    bool destinationSpelledOtherwise = false;
    // ... or files into a folder of the path spelled otherwise.
    bool folderSpelledOtherwise = false;
    int sourceOpenError = 0;  // the system's error opening it for reading
    // The source is a link that leads to the destination itself: copied, the
    // link would take the place of the very file it leads to.
    bool sourceLeadsToDestination = false;
    bool destinationWritable = true;
    // The system's error that a link put in the destination's folder meets
    // (a disk that holds no links), for a source that is a link.
    int destinationLinkError = 0;
    // The destination file system's step for modification times, in
    // nanoseconds (fs::TimeResolution).
    qint64 timeResolution = 1;
};

FileDecision DecideFile(const FileFacts& facts, std::optional<ExistingFileRule> rule);

// What a decision amounts to for the run's counts and the Summary.
enum class DecisionKind {
    Pass,     // no decision about a file: neither told nor counted
    Copy,     // the file is copied
    Skip,     // counted as a skipped file
    Failure,  // an error entry, with its reason
};

// Everything a decision is called, in one row, so that the run, the preview
// and its counts cannot come to disagree about a decision.
struct FileDecisionRow {
    FileDecision decision;
    QLatin1StringView token;  // its word in a preview line and in the counts
    DecisionKind kind;
    QLatin1StringView reason;  // why it fails, as people read it; failures only
};

// In the order of the enumerators, which is the order the counts name them.
inline constexpr FileDecisionRow kFileDecisions[] = {
    {FileDecision::PassOver, QLatin1StringView("pass"), DecisionKind::Pass, {}},
    {FileDecision::Copy, QLatin1StringView("copy"), DecisionKind::Copy, {}},
    {FileDecision::Overwrite, QLatin1StringView("overwrite"), DecisionKind::Copy, {}},
    {FileDecision::SkipExists, QLatin1StringView("skip-exists"), DecisionKind::Skip, {}},
    {FileDecision::SkipNotNewer, QLatin1StringView("skip-not-newer"), DecisionKind::Skip, {}},
    {FileDecision::Excluded, QLatin1StringView("excluded"), DecisionKind::Skip, {}},
    {FileDecision::FailSameFile, QLatin1StringView("fail-same-file"), DecisionKind::Failure,
     QLatin1StringView("the destination is the file itself")},
    {FileDecision::FailNotRegular, QLatin1StringView("fail-not-regular"), DecisionKind::Failure,
     QLatin1StringView("not a regular file")},
    {FileDecision::FailClash, QLatin1StringView("fail-clash"), DecisionKind::Failure,
     QLatin1StringView("a file this run moved from elsewhere stands at the destination")},
    {FileDecision::FailNoRule, QLatin1StringView("fail-no-rule"), DecisionKind::Failure,
     QLatin1StringView("the listing has no existing-file rule")},
    {FileDecision::FailUnreachable, QLatin1StringView("fail-unreachable"), DecisionKind::Failure,
     QLatin1StringView("a link or a file stands in the destination's path")},
    {FileDecision::FailUnreadableFolder, QLatin1StringView("fail-unreadable-folder"),
     DecisionKind::Failure, QLatin1StringView("the folder could not be read")},
    {FileDecision::FailUnreadable, QLatin1StringView("fail-unreadable"), DecisionKind::Failure,
     QLatin1StringView("the file could not be read")},
    {FileDecision::FailUnwritable, QLatin1StringView("fail-unwritable"), DecisionKind::Failure,
     QLatin1StringView("the destination folder cannot be written")},
    {FileDecision::FailFolderInTheWay, QLatin1StringView("fail-folder-in-the-way"),
     DecisionKind::Failure, QLatin1StringView("a folder stands at the destination")},
};

// A decision's row is found by its enumerator's value.
static_assert([] {
    for (std::size_t i = 0; i < std::size(kFileDecisions); ++i)
        if (kFileDecisions[i].decision != FileDecision(i))
            return false;
    return true;
}());
constexpr const FileDecisionRow& DecisionRow(FileDecision decision) {
    return kFileDecisions[std::size_t(decision)];
}

inline bool IsSkip(FileDecision d) {
    return DecisionRow(d).kind == DecisionKind::Skip;
}
inline bool IsFailure(FileDecision d) {
    return DecisionRow(d).kind == DecisionKind::Failure;
}

// Why a clash with a folder of the path fails.
inline constexpr QLatin1StringView kFolderClashReason(
    "another folder of this run has the name of a folder on the way (the destination ignores "
    "letter case)");

// Why a failing decision fails, as people read it; empty for the others.
QString DecisionReason(FileDecision decision);

// The decision's word in a preview line.
QLatin1StringView DecisionToken(FileDecision decision);

}  // namespace zandrel
