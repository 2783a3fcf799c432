#pragma once
// The window as the run driver sees it around a run: locking and restoring
// its controls, the Start button, the selection of Listings, the Summary, and
// the closing after a command-line run. Only the driver calls it; the
// transfer shows its progress through ProgressSink alone.

#include <QByteArray>
#include <QList>
#include <QString>

namespace zandrel {

class RunWindow {
  public:
    virtual ~RunWindow() = default;

    virtual void lockForRun() = 0;       // disables the editing controls
    virtual void RestoreAfterRun() = 0;  // enables them and resets the panel
    virtual void disableStartButton() = 0;

    // The visible list's selection, rows 0-based.
    virtual int currentRow() const = 0;  // -1 when there is none
    virtual QList<bool> selectedRows() const = 0;
    virtual void selectAll() = 0;

    virtual void closeSummary() = 0;
    // reasons: the system's reason for each entry, at the same index;
    // verifiedCount: the copies verified, -1 when the run did not verify.
    virtual void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>& reasons,
                             int copiedCount, const QString& destinationText,
                             int verifiedCount) = 0;

    // Closes the main window through its closing sequence (end of a
    // command-line run).
    virtual void closeMainWindow() = 0;
};

}  // namespace zandrel
