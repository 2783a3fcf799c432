#pragma once
// What the transfer shows while it copies: the progress panel's bars and
// labels, the counts and the skipped files. The main window draws them; the
// headless run and the preview drop them; tests record them. The transfer
// reaches nothing else of the window.

#include <QByteArray>
#include <QtGlobal>

namespace zandrel {

// Run-wide numbers shared by the copy and the one-second speed timer.
struct RunProgress {
    double RunBytesCopied = 0;
    double SpeedBaseline = 0;
};

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;

    virtual void ShowOverallProgress(int i, int count) = 0;  // i of count, 1-based; 0 resets
    virtual void ShowCurrentFile(const QByteArray& destinationPath,
                                 const QByteArray& sourceFile) = 0;
    virtual void BeginFileProgress(qint64 length) = 0;
    virtual void ShowBlockProgress(qint64 position, qint64 length) = 0;
    virtual void EndFileProgress() = 0;
    virtual void showCopiedCount(int copied) = 0;
    virtual void showErrorCount(int errors) = 0;
    virtual void addSkipped() = 0;
    // The copies verified so far, in a run that verifies them (-1: a run
    // that does not).
    virtual void showVerifiedCount(int verified) { (void)verified; }
};

}  // namespace zandrel
