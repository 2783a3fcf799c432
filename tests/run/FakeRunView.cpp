#include "run/FakeRunView.h"

namespace zandrel::test {

void FakeRunView::ShowOverallProgress(int i, int count) {
    events << QStringLiteral("overall %1/%2").arg(i).arg(count);
}

void FakeRunView::ShowCurrentFile(const QByteArray& destinationPath, const QByteArray& sourceFile) {
    events << QStringLiteral("current ") + QString::fromUtf8(sourceFile) + QStringLiteral(" -> ") +
                  QString::fromUtf8(destinationPath);
}

void FakeRunView::BeginFileProgress(qint64 length) {
    events << QStringLiteral("begin %1").arg(length);
}

void FakeRunView::ShowBlockProgress(qint64 position, qint64 length) {
    ++blocks;
    lastBlock = position;
    if (recordBlocks)
        events << QStringLiteral("block %1/%2").arg(position).arg(length);
    if (onBlock)
        onBlock();
}

void FakeRunView::EndFileProgress() {
    events << QStringLiteral("end");
    if (onEnd)
        onEnd();
}

void FakeRunView::showCopiedCount(int copiedCount) {
    copied = copiedCount;
    events << QStringLiteral("copied %1").arg(copiedCount);
}

void FakeRunView::showErrorCount(int errorCount) {
    errors = errorCount;
    events << QStringLiteral("errors %1").arg(errorCount);
}

void FakeRunView::addSkipped() {
    ++skipped;
    events << QStringLiteral("skipped %1").arg(skipped);
}

void FakeRunView::lockForRun() {
    locked = true;
    events << QStringLiteral("lock");
}

void FakeRunView::RestoreAfterRun() {
    locked = false;
    events << QStringLiteral("restore");
}

void FakeRunView::disableStartButton() {
    events << QStringLiteral("disable start");
}

void FakeRunView::selectAll() {
    selected = QList<bool>(rows, true);
    events << QStringLiteral("select all");
}

void FakeRunView::closeSummary() {
    events << QStringLiteral("close summary");
}

void FakeRunView::showSummary(const QList<QByteArray>& errorEntries, const QList<QString>&,
                              int copiedCount, const QString& destinationText, int verifiedCount) {
    summaryShown = true;
    summaryVerified = verifiedCount;
    summaryEntries = errorEntries;
    summaryCopied = copiedCount;
    summaryDestination = destinationText;
    events << QStringLiteral("summary");
}

void FakeRunView::closeMainWindow() {
    events << QStringLiteral("close window");
}

int FakeRunView::count(const QString& event) const {
    return static_cast<int>(events.count(event));
}

QStringList FakeRunView::matching(const QString& prefix) const {
    QStringList out;
    for (const QString& e : events)
        if (e.startsWith(prefix))
            out << e;
    return out;
}

}  // namespace zandrel::test
