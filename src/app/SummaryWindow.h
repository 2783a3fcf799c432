#pragma once
// The Summary shown beside the main window after a run with failures: the
// failed files, the counts and the destination, with Save As for the list.

#include <QByteArray>
#include <QList>
#include <QWidget>

class QLabel;
class QListWidget;

namespace zandrel {

class Host;

class SummaryWindow : public QWidget {
    Q_OBJECT
  public:
    SummaryWindow(Host& host, QWidget* parent = nullptr);

    // Appends the entries (yielding per entry), each with its reason as its
    // tooltip, and sets both labels.
    // verifiedCount: the copies verified, -1 when the run did not verify.
    void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>& reasons,
                     int copiedCount, const QString& destinationText, int verifiedCount = -1);
    void showSummary(const QList<QByteArray>& errorEntries, int copiedCount,
                     const QString& destinationText) {
        showSummary(errorEntries, {}, copiedCount, destinationText);
    }
    // "&Save As...": writes the listed entries, one per line; any failure,
    // Cancel included, ends it silently.
    void saveAs();

  private:
    Host& host_;
    QLabel* label1_;
    QLabel* label2_;
    QLabel* label3_;  // what was verified, in a run that verified
    QListWidget* list_;
    QList<QByteArray> entries_;  // as recorded, so names that are not UTF-8 are saved exactly
};

}  // namespace zandrel
