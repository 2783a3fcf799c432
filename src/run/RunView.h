#pragma once
// What a run shows and asks of the window beyond the Host: the progress
// panel, the locked state, the Summary and the selection. The main window
// implements it; the headless command-line run and the tests have their own.

#include <QByteArray>
#include <QList>
#include <QString>

namespace zandrel {

// Run-wide numbers shared by the copy and the one-second speed timer.
struct RunProgress {
    double RunBytesCopied = 0;
    double SpeedBaseline = 0;
};

class RunView {
  public:
    virtual ~RunView() = default;

    // Progress panel.
    virtual void ShowOverallProgress(int i, int count) = 0;  // i of count, 1-based; 0 resets
    virtual void ShowCurrentFile(const QByteArray& destinationPath,
                                 const QByteArray& sourceFile) = 0;
    virtual void BeginFileProgress(qint64 length) = 0;
    virtual void ShowBlockProgress(qint64 position, qint64 length) = 0;
    virtual void EndFileProgress() = 0;
    virtual void showCopiedCount(int copied) = 0;
    virtual void showErrorCount(int errors) = 0;
    virtual void addSkipped() = 0;

    // Window state around a run.
    virtual void lockForRun() = 0;       // disables the editing controls
    virtual void RestoreAfterRun() = 0;  // enables them and resets the panel
    virtual void disableStartButton() = 0;

    // The visible list's selection, rows 0-based.
    virtual int currentRow() const = 0;  // -1 when there is none
    virtual QList<bool> selectedRows() const = 0;
    virtual void selectAll() = 0;

    // Summary window.
    virtual void closeSummary() = 0;
    // reasons: the system's reason for each entry, at the same index.
    virtual void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>& reasons,
                             int copiedCount, const QString& destinationText) = 0;

    // Closes the main window through its closing sequence (end of a
    // command-line run).
    virtual void closeMainWindow() = 0;
};

}  // namespace zandrel
