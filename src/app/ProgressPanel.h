#pragma once
// The run's progress display: current file, per-file and overall bars, bytes
// so far, speed and the three counters, and the status bar's text while a run
// copies. Every update only records the value; the controls are set at most
// about 30 times a second (and once more shortly after the last change), so
// the window paints at that rate however fast the files go by, and the
// per-block work of a copy stays a few stores.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFrame>
#include <QString>

class QLabel;
class QProgressBar;
class QTimer;

namespace zandrel {

class ProgressPanel : public QFrame {
    Q_OBJECT
  public:
    // statusText: the window's status bar text, which a run sets per file.
    explicit ProgressPanel(QWidget* parent = nullptr, QLabel* statusText = nullptr);

    void ShowOverallProgress(int i, int count);
    // sourceFile and destination as the file system names them.
    void ShowCurrentFile(const QByteArray& sourceFile, const QByteArray& destination);
    void BeginFileProgress(qint64 length);
    void ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied);
    void EndFileProgress();
    void showCopiedCount(int copied);
    void showErrorCount(int errors);
    void addSkipped();
    // -1 hides the count: a run that does not verify.
    void showVerifiedCount(int verified);
    void showSpeed(const QString& text);
    // Sets the status text at once; a destination still waiting is dropped.
    void showStatusText(const QString& text);
    // Every element but the speed back to its idle value, at once.
    void reset();
    // Brings every control up to date now, as before a message box.
    void refresh();

  private:
    void changed();

    // What the controls are to show; texts are made only when shown.
    struct Values {
        QByteArray sourceFile;  // null: no file yet
        QByteArray destination;
        bool destinationWaiting = false;  // not yet in the status bar
        long long percent = 0;
        double runBytesCopied = 0;
        int copied = 0;
        int skipped = 0;
        int errors = 0;
        int verified = -1;
        int fileMaximum = 100;
        int fileValue = 0;
        int overallValue = 0;
    };
    Values v_;

    QLabel* lblpath_;
    QLabel* lblpercent_;
    QLabel* lblsofar_;
    QLabel* lblspeed_;
    QLabel* lblcopied_;
    QLabel* lblskipped_;
    QLabel* lblerrors_;
    QLabel* verifiedCaption_;
    QLabel* lblverified_;
    QLabel* statusText_;
    QProgressBar* fileBar_;     // ProgressBar2
    QProgressBar* overallBar_;  // ProgressBar1
    int fileScale_ = 1;         // the bar's range is an int; long files are scaled down
    QElapsedTimer sinceRefresh_;
    QTimer* refreshTimer_;  // shows the last changes once the run goes quiet
};

}  // namespace zandrel
