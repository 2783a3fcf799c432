#pragma once
// The main window: owner of the document, the menus and buttons, the details
// panel with the report list and the progress display. It is the Host and
// RunView of the core: the run and the list commands reach the user only
// through it.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "common/Host.h"
#include "common/SessionFlags.h"
#include "help/ContextIDs.h"
#include "listing/ListCommands.h"
#include "run/RunView.h"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;
class QTreeWidget;

namespace zandrel {

class BackupList;
class ProgressPanel;
class RunDriver;

class MainWindow : public QMainWindow, public Host, public RunView {
    Q_OBJECT
  public:
    // dialogs answers every message box and file dialog; tests pass a script.
    explicit MainWindow(Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence for the command line as one text. Returns false
    // when the program has already ended (a command-line run closed it).
    bool StartUp(const QString& commandLine);
    // The exit status after a command-line run, 0 otherwise.
    int exitStatus() const { return exitStatus_; }

    BackupList& document() { return *doc_; }
    SessionFlags& flags() { return flags_; }
    RunProgress& runProgress() { return progress_; }
    ListCommands& listCommands() { return commands_; }
    HelpModule& help() { return help_; }
    QString statusText() const;
    bool detailsShown() const;
    // Drops the paths on the Listing list, as a file manager would.
    void DropPaths(const QStringList& paths);

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

    // RunView
    void ShowOverallProgress(int i, int count) override;
    void ShowCurrentFile(const QByteArray& destinationPath, const QByteArray& sourceFile) override;
    void BeginFileProgress(qint64 length) override;
    void ShowBlockProgress(qint64 position, qint64 length) override;
    void EndFileProgress() override;
    void ShowCopiedCount(int copied) override;
    void ShowErrorCount(int errors) override;
    void AddSkipped() override;
    void LockForRun() override;
    void RestoreAfterRun() override;
    void DisableStartButton() override;
    int currentRow() const override;
    QList<bool> selectedRows() const override;
    void SelectAll() override;
    void CloseSummary() override;
    void ShowSummary(const QList<QByteArray>& errorEntries, int copiedCount,
                     const QString& destinationText) override;
    void CloseMainWindow() override;

    // Commands of the menus and buttons.
    void NewListing();
    void EditListing();
    void UnselectAll();
    void MoveListingUp();
    void MoveListingDown();
    void CopyReportLine();
    void ToggleDetails();
    void StartClicked();
    RunDriver& runDriver() { return *driver_; }
    void ShowAbout();
    void ExportRegistry();
    // The speed timer's tick.
    void SpeedTick();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenus();
    void buildControls();
    void setWindowHeightTwips(int twips);
    void moveListing(int step);
    void setEditingEnabled(bool enabled);
    void releaseOtherWindows();
    void openEditor(int editIndex);

    Dialogs& dialogs_;
    BackupList* doc_;
    SessionFlags flags_;
    RunProgress progress_;
    ListCommands commands_;
    HelpModule help_;
    std::unique_ptr<RunDriver> driver_;
    int exitStatus_ = 0;
    QElapsedTimer sinceYield_;

    QTreeView* listView1_ = nullptr;
    QTreeWidget* listView3_ = nullptr;
    ProgressPanel* panel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QPushButton* command5_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* selectionMenu_ = nullptr;
    QMenu* listPopup_ = nullptr;    // rightclickmnu2
    QMenu* reportPopup_ = nullptr;  // rightclickmnu
    QTimer* timer1_ = nullptr;
    QPointer<QWidget> about_;
    QPointer<QWidget> summary_;
    QPointer<QWidget> editor_;
    QPointer<QWidget> registry_;
};

}  // namespace zandrel
