#pragma once
// The main window: owner of the document, the menus and buttons, the details
// panel with the report list and the progress display. The core reaches the
// user through its MainWindowHost, which drives these controls.

#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "common/Clock.h"
#include "common/SessionFlags.h"
#include "help/HelpModule.h"
#include "widgets/TwipScale.h"

class QMenu;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace zandrel {

class BackupList;
class Dialogs;
class ListCommands;
class MainWindowHost;
class ProgressPanel;
class RunDriver;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // dialogs answers every message box and file dialog; tests pass a script,
    // and a clock that makes the pause of " -rp" take no real time.
    explicit MainWindow(Dialogs& dialogs, Clock& clock = SystemClock(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence for the command line as one text. Returns false
    // when the program has already ended (a command-line run closed it).
    bool startUp(const QString& commandLine);
    // The exit status after a command-line run, 0 otherwise.
    int exitStatus() const { return exitStatus_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenus();
    void buildControls();
    // Pixels from the font in use; the smallest window size follows.
    void rescale();
    // The controls' places for the client area's size.
    void layoutControls();
    int windowHeightFor(int contentBottomTwips) const;
    void rememberSize();

    // Commands of the menus and buttons.
    void newListing();
    void editListing();
    void unselectAll();
    void moveListing(int step);
    void copyReportLine();
    void toggleDetails();
    void startClicked();
    void showAbout();
    void exportRegistry();
    // Drops the paths on the Listing list, as a file manager would.
    void dropPaths(const QStringList& paths);

    void releaseOtherWindows();
    void openEditor(int editIndex);

    BackupList* doc_;
    SessionFlags flags_;
    HelpModule help_;
    MainWindowHost* host_ = nullptr;
    std::unique_ptr<ListCommands> commands_;
    std::unique_ptr<RunDriver> driver_;
    int exitStatus_ = 0;
    TwipScale scale_{this};
    bool detailsShown_ = true;
    int reportExtra_ = 0;    // the report list's extra height while the details are hidden
    int columnsWider_ = -1;  // the extra width the columns were last sized for

    QTreeView* listView1_ = nullptr;
    QTreeWidget* listView3_ = nullptr;
    ProgressPanel* panel_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QPushButton* command5_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* selectionMenu_ = nullptr;
    QMenu* optionsMenu_ = nullptr;
    QAction* verifyAction_ = nullptr;  // verifymnu
    QMenu* listPopup_ = nullptr;       // rightclickmnu2
    QMenu* reportPopup_ = nullptr;     // rightclickmnu
    QPointer<QWidget> about_;
    QPointer<QWidget> editor_;
    QPointer<QWidget> registry_;
};

}  // namespace zandrel
