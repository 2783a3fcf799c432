#pragma once
// The record of one run, made new when the run starts and read by its end.

#include <QByteArray>
#include <QList>
#include <QString>

namespace zandrel {

// The values of the Listing that the run most recently began.
struct LastListingInfo {
    QString action;
    QString description;
    QString sourceFolder;
    QString destinationFolder;
    bool includeSubfolders = false;
};

struct RunState {
    qint32 CopiedCount = 0;
    // Copies read back from the disk and found as their sources gave them
    // (a run that verifies), with further names linked to such a copy.
    qint32 VerifiedCount = 0;
    bool Verified = false;  // the run verified its copies
    // Copies that read back wrong at first and right once copied again: a
    // disk or a cable to keep an eye on.
    qint32 CopiedAgainCount = 0;
    // "Copy failed: " or "Delete failed: " followed by the path's bytes, so
    // log lines carry names exactly; windows decode them for display.
    QList<QByteArray> ErrorList;
    // The system's reason for each entry of ErrorList, at the same index
    // (empty where there is none to tell).
    QList<QString> ErrorReasons;
    bool AbortedByUser = false;
    // Asked for again after the abort was confirmed: the copies not yet on
    // the disk are dropped instead of kept.
    bool DropRequested = false;
    bool MultipleDestinations = false;
    LastListingInfo LastListing;
};

inline const QByteArray kCopyFailed = QByteArrayLiteral("Copy failed: ");
inline const QByteArray kDeleteFailed = QByteArrayLiteral("Delete failed: ");

}  // namespace zandrel
