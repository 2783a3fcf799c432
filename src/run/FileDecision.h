#pragma once
// What becomes of one listed file: the run carries the decision out, the
// preview prints it. Both take it from here, so they cannot disagree.

#include <QLatin1StringView>
#include <QString>

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
                           // or a name differs only in case from one this run put there
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
    fs::FileInfo source;                   // links followed; Missing when it cannot be examined
    fs::FileInfo destination;              // the same
    bool destinationReachable = true;      // its folder is there or can be made, without links
    bool destinationPlacedByMove = false;  // put there by a Move of this run
    // The destination ignores letter case and this run put a file there
    // under the name spelled otherwise.
    bool destinationSpelledOtherwise = false;
    int sourceOpenError = 0;  // the system's error opening it for reading
    // The source is a link that leads to the destination itself: copied, the
    // link would take the place of the very file it leads to.
    bool sourceLeadsToDestination = false;
    bool destinationWritable = true;
    // The destination file system's step for modification times, in
    // nanoseconds (fs::TimeResolution).
    qint64 timeResolution = 1;
};

FileDecision DecideFile(const FileFacts& facts, std::optional<ExistingFileRule> rule);

// The decisions that count as skipped files.
inline bool IsSkip(FileDecision d) {
    return d == FileDecision::SkipExists || d == FileDecision::SkipNotNewer ||
           d == FileDecision::Excluded;
}
inline bool IsFailure(FileDecision d) {
    return d >= FileDecision::FailSameFile;
}

// Why a failing decision fails, as people read it.
QString DecisionReason(FileDecision decision);

// The decision's word in a preview line.
QLatin1StringView DecisionToken(FileDecision decision);

}  // namespace zandrel
