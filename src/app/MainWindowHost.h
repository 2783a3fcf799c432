#pragma once
// The main window as the core sees it: the Host (message boxes and dialogs,
// the event loop, the Start button's caption, the status bar, the report
// list), the ProgressSink (progress panel, speed timer) and the RunWindow
// (locked state, selection, Summary window), over the window's own controls. The window
// builds the controls and owns this object; the run and the list commands
// reach the user only through it.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include "common/Host.h"
#include "run/ProgressSink.h"
#include "run/RunWindow.h"

class QMainWindow;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;
class QTreeWidget;

namespace zandrel {

class BackupList;
class ProgressPanel;
class RunDriver;
class SummaryWindow;
struct SessionFlags;

class MainWindowHost : public QObject, public Host, public ProgressSink, public RunWindow {
    Q_OBJECT
  public:
    // The controls it drives; all of them belong to the window.
    struct Controls {
        QMainWindow* window = nullptr;
        QTreeView* listView1 = nullptr;
        QTreeWidget* listView3 = nullptr;
        ProgressPanel* panel = nullptr;
        QPushButton* command1 = nullptr;
        QPushButton* command2 = nullptr;
        QPushButton* command3 = nullptr;
        QPushButton* command5 = nullptr;
        QMenu* fileMenu = nullptr;
        QMenu* selectionMenu = nullptr;
        QMenu* optionsMenu = nullptr;  // a run keeps the options it started with
    };

    // A child of controls.window. dialogs answers every message box and
    // file dialog.
    MainWindowHost(Dialogs& dialogs, const BackupList& doc, SessionFlags& flags,
                   const Controls& controls);

    // The run whose phase is the abort request.
    void followRun(const RunDriver& driver) { driver_ = &driver; }
    // The run-wide byte counts that the copy raises and the speed timer reads.
    RunProgress& progress() { return progress_; }
    // The speed timer's tick.
    void speedTick();

    // Host
    Answer message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Answer defaultButton) override;
    using Host::message;
    QString fileDialog(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;
    void yield() override;
    void setStartCaption(const QString& caption) override;
    bool abortRequested() const override;
    void setStatusText(const QString& text) override;
    void clearReports() override;
    void appendReport(const QString& entry) override;

    // ProgressSink
    void ShowOverallProgress(int i, int count) override;
    void ShowCurrentFile(const QByteArray& destinationPath, const QByteArray& sourceFile) override;
    void BeginFileProgress(qint64 length) override;
    void ShowBlockProgress(qint64 position, qint64 length) override;
    void EndFileProgress() override;
    void showCopiedCount(int copied) override;
    void showErrorCount(int errors) override;
    void showVerifiedCount(int verified) override;
    void addSkipped() override;

    // RunWindow
    void lockForRun() override;
    void RestoreAfterRun() override;
    void disableStartButton() override;
    int currentRow() const override;
    QList<bool> selectedRows() const override;
    void selectAll() override;
    void closeSummary() override;
    void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>& reasons,
                     int copiedCount, const QString& destinationText, int verifiedCount) override;
    void closeMainWindow() override;

  private:
    void setEditingEnabled(bool enabled);

    Dialogs& dialogs_;
    const BackupList& doc_;
    SessionFlags& flags_;
    const Controls c_;
    const RunDriver* driver_ = nullptr;
    RunProgress progress_;
    QElapsedTimer sinceYield_;
    QTimer* timer1_ = nullptr;
    QPointer<SummaryWindow> summary_;
};

}  // namespace zandrel
