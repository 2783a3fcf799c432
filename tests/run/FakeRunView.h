#pragma once
// A recording stand-in for the main window's side of a run, both the
// progress it shows and the driver's window actions: every call is kept in
// one order, the selection is scripted.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "run/ProgressSink.h"
#include "run/RunWindow.h"

namespace zandrel::test {

class FakeRunView : public ProgressSink, public RunWindow {
  public:
    void ShowOverallProgress(int i, int count) override;
    void ShowCurrentFile(const QByteArray& destinationPath, const QByteArray& sourceFile) override;
    void BeginFileProgress(qint64 length) override;
    void ShowBlockProgress(qint64 position, qint64 length) override;
    void EndFileProgress() override;
    void showCopiedCount(int copiedCount) override;
    void showErrorCount(int errorCount) override;
    void addSkipped() override;
    void lockForRun() override;
    void RestoreAfterRun() override;
    void disableStartButton() override;
    int currentRow() const override { return current; }
    QList<bool> selectedRows() const override { return selected; }
    void selectAll() override;
    void closeSummary() override;
    void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>& reasons,
                     int copiedCount, const QString& destinationText, int verifiedCount) override;
    void closeMainWindow() override;

    // Script.
    int current = 0;
    QList<bool> selected;
    int rows = 0;                   // selectAll selects this many
    std::function<void()> onBlock;  // after each ShowBlockProgress is recorded
    std::function<void()> onEnd;    // after a file's copy is complete
    bool recordBlocks = true;       // off for huge files: only counted

    // Record. Events read like "block 4096/10000", "copied 2", "restore".
    QStringList events;
    int copied = 0;
    int errors = 0;
    int skipped = 0;
    int blocks = 0;
    qint64 lastBlock = 0;
    bool locked = false;
    bool summaryShown = false;
    QList<QByteArray> summaryEntries;
    int summaryCopied = -1;
    QString summaryDestination;
    int summaryVerified = -1;

    int count(const QString& event) const;
    // The events that start with prefix.
    QStringList matching(const QString& prefix) const;
};

}  // namespace zandrel::test
