#pragma once
// The run's progress display: current file, per-file and overall bars, bytes
// so far, speed and the three counters, and the status bar's text while a run
// copies. Every update only records the value; the controls are set at most
// about 30 times a second (and once more shortly after the last change), so
// the window paints at that rate however fast the files go by, and the
// per-block work of a copy stays a comparison.

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
    void ShowCurrentFile(const QString& name, const QString& destination);
    void BeginFileProgress(qint64 length);
    void ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied);
    void EndFileProgress();
    void ShowCopiedCount(int copied);
    void ShowErrorCount(int errors);
    void AddSkipped();
    void ShowSpeed(const QString& text);
    // Sets the status text at once; a destination still waiting is dropped.
    void ShowStatusText(const QString& text);
    // Every element but the speed back to its idle value, at once.
    void Reset();
    // Brings every control up to date now, as before a message box.
    void Refresh();

  private:
    // A label and the text it is to show.
    struct Shown {
        QLabel* label = nullptr;
        QString text;
    };
    void set(Shown& shown, const QString& text);
    void changed();

    Shown path_;     // lblpath
    Shown percent_;  // lblpercent
    Shown sofar_;    // lblsofar
    double sofarBytes_ = 0;
    bool sofarPending_ = false;  // sofarBytes_ is not formatted into sofar_ yet
    Shown copied_;               // lblcopied
    Shown skipped_;              // lblskipped
    Shown errors_;               // lblerrors
    Shown status_;               // the status bar
    QLabel* lblspeed_;
    QProgressBar* fileBar_;     // ProgressBar2
    QProgressBar* overallBar_;  // ProgressBar1
    int fileScale_ = 1;         // the bar's range is an int; long files are scaled down
    int fileMaximum_ = 100;
    int fileValue_ = 0;
    int overallValue_ = 0;
    QElapsedTimer sinceRefresh_;
    QTimer* refreshTimer_;  // shows the last changes once the run goes quiet
};

}  // namespace zandrel
