#pragma once
// The run's progress display: current file, per-file and overall bars, bytes
// so far, speed and the three counters. Labels are rewritten only when their
// text changes and repainted at most about 30 times a second, so the per-block
// work of a copy stays a comparison.

#include <QElapsedTimer>
#include <QFrame>
#include <QTimer>

class QLabel;
class QProgressBar;

namespace zandrel {

class ProgressPanel : public QFrame {
    Q_OBJECT
  public:
    explicit ProgressPanel(QWidget* parent = nullptr);

    void ShowOverallProgress(int i, int count);
    void ShowCurrentFileName(const QString& name);
    void BeginFileProgress(qint64 length);
    void ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied);
    void EndFileProgress();
    void ShowCopiedCount(int copied);
    void ShowErrorCount(int errors);
    void AddSkipped();
    void ShowSpeed(const QString& text);
    // Every element but the speed back to its idle value.
    void Reset();

  private:
    void setLabel(QLabel* label, const QString& text);
    void flush();
    void setBars(int fileValue, int overallValue);
    void applyBars();

    QLabel* lblpath_;
    QLabel* lblpercent_;
    QLabel* lblsofar_;
    QLabel* lblspeed_;
    QLabel* lblcopied_;
    QLabel* lblskipped_;
    QLabel* lblerrors_;
    QProgressBar* fileBar_;     // ProgressBar2
    QProgressBar* overallBar_;  // ProgressBar1
    qint64 fileLength_ = 0;
    int fileScale_ = 1;  // the bar's range is an int; long files are scaled down
    QElapsedTimer sinceRepaint_;
    // A progress bar repaints itself (and the panel under it) at once on
    // every change; the values go to the bars once per pass instead.
    QTimer* applyTimer_;
    int fileValue_ = 0;
    int overallValue_ = 0;
};

}  // namespace zandrel
