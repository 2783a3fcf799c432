#pragma once
// What every fault test checks after a run: no destination name holds
// anything but complete source bytes, no moved source is gone without its
// complete copy, and the error entries tell the truth. Also a small view that
// lets a test act at a chosen file or block.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QStringList>
#include <functional>

#include "common/Paths.h"
#include "run/ProgressSink.h"
#include "run/RunWindow.h"
#include "support/TempTree.h"

namespace zandrel::test {

// Regular files below root (recursively), by absolute byte path.
using Snapshot = QMap<QByteArray, QByteArray>;
Snapshot TakeSnapshot(const QByteArray& root);
// A file's bytes; empty when it cannot be read.
QByteArray ReadFileBytes(const QByteArray& path);

// The part of an absolute path below "/" and its first folder level, which
// is what a destination rebuilds when the structure is kept.
QByteArray BelowFirstLevel(const QByteArray& absolute);

bool IsTemporaryName(const QByteArray& path);

struct NoLossCheck {
    QByteArray destinationRoot;
    bool move = false;
    bool flatten = false;
    Snapshot sources;       // as they are meant to be now (a test that changes one says so)
    Snapshot destinations;  // what lay below destinationRoot before the run
};

// Where the run puts a source file.
QByteArray DestinationOf(const NoLossCheck& check, const QByteArray& source);

// Every breach of the rules above, as readable lines; empty when none.
// allAttempted: the run went over every file (not aborted), so a Move's
// source that is still there must be named by an error entry.
QStringList Violations(const NoLossCheck& check, const QList<QByteArray>& errorEntries,
                       bool allAttempted);

// Destination files that now hold their source's bytes and did not before.
int NewCompleteCopies(const NoLossCheck& check);

QList<QByteArray> Temporaries(const QByteArray& root);

// A source tree "src" and its destination "dst" in a temporary folder, by
// byte paths, for the fault fixtures.
class FaultTree {
  protected:
    QByteArray path(const QString& relative) const { return EncodePath(t.path(relative)); }
    QByteArray src(const char* name) const { return path(QStringLiteral("src/")) + name; }
    // Where the kept structure puts a source file below dst.
    QByteArray dst(const QByteArray& source) const {
        return path(QStringLiteral("dst")) + '/' + BelowFirstLevel(source);
    }
    // Writes the file, making its folders.
    void file(const QByteArray& at, const QByteArray& bytes) const {
        QDir().mkpath(DecodePath(GetFolderPart(at)));
        QFile f(DecodePath(at));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    TempTree t;
};

// Bytes that differ from block to block, so a misplaced block shows.
QByteArray Pattern(qint64 size, char seed);

class HookView : public ProgressSink, public RunWindow {
  public:
    void ShowOverallProgress(int, int) override {}
    void ShowCurrentFile(const QByteArray& destination, const QByteArray& source) override {
        ++files;
        if (onFile)
            onFile(destination, source);
    }
    void BeginFileProgress(qint64) override {}
    void ShowBlockProgress(qint64 position, qint64 length) override {
        if (onBlock)
            onBlock(position, length);
    }
    void EndFileProgress() override {}
    void showCopiedCount(int n) override { copied = n; }
    void showErrorCount(int n) override { errors = n; }
    void addSkipped() override { ++skipped; }
    void lockForRun() override {}
    void RestoreAfterRun() override {}
    void disableStartButton() override {}
    int currentRow() const override { return 0; }
    QList<bool> selectedRows() const override { return QList<bool>(rows, true); }
    void selectAll() override {}
    void closeSummary() override {}
    void showSummary(const QList<QByteArray>& entries, const QList<QString>&, int, const QString&,
                     int) override {
        summary = entries;
    }
    void closeMainWindow() override {}

    int rows = 1;
    std::function<void(const QByteArray&, const QByteArray&)> onFile;
    std::function<void(qint64, qint64)> onBlock;
    int files = 0;
    int copied = 0;
    int errors = 0;
    int skipped = 0;
    QList<QByteArray> summary;
};

}  // namespace zandrel::test
