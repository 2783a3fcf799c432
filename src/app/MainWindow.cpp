#include "app/MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>

#include "app/MainWindowHost.h"
#include "app/ProgressPanel.h"
#include "common/Paths.h"
#include "editor/ListingEditor.h"
#include "help/AboutWindow.h"
#include "listing/BackupList.h"
#include "listing/CommandLine.h"
#include "listing/ListCommands.h"
#include "regexport/RegistryExport.h"
#include "run/ExitStatus.h"
#include "run/RunDriver.h"
#include "widgets/ValueLabel.h"

namespace zandrel {

void InitResources();

namespace {

// Adds the small icon in front of each row; the rows themselves come from
// the document.
class RowIconModel : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DecorationRole && index.column() == 0)
            return icon_;
        return QIdentityProxyModel::data(index, role);
    }

  private:
    QIcon icon_{QStringLiteral(":/row.png")};
};

// The designed layout, in twips.
constexpr int kClientWidth = 9135;
constexpr int kListHeight = 3375;    // ListView1
constexpr int kReportHeight = 2325;  // ListView3
constexpr int kButtonTop = 3480;
constexpr int kButtonHeight = 375;
constexpr int kButtonWidth = 1335;
constexpr int kStartWidth = 1455;
constexpr int kDetailsTop = 3960;
constexpr int kPanelLeft = 4560;
constexpr int kPanelTop = 3975;
constexpr int kPanelWidth = 4545;
constexpr int kPanelHeight = 2295;
// Bottom of the lowest control with the details panel shown and hidden; the
// window's outer heights (7245 and 4840 twips) are these plus title bar, menu
// bar and status bar.
constexpr int kContentBottomShown = 6330;
constexpr int kContentBottomHidden = 3900;

// The window's size between starts, as it is with the details shown.
const QString kSizeKey = QStringLiteral("MainWindow/Size");
const QString kVerifyKey = QStringLiteral("Options/VerifyCopies");

const QString kDetailsShownCaption = QStringLiteral("<< &Details");
const QString kDetailsHiddenCaption = QStringLiteral("&Details >>");

}  // namespace

MainWindow::MainWindow(Dialogs& dialogs, Clock& clock, QWidget* parent)
    : QMainWindow(parent), doc_(new BackupList(this)) {
    InitResources();
    setObjectName(QStringLiteral("mainfrm"));
    setWindowIcon(QIcon(QStringLiteral(":/zandrel.png")));
    setWindowTitle(doc_->title());
    connect(doc_, &BackupList::titleChanged, this, &QWidget::setWindowTitle);
    buildMenus();
    buildControls();
    host_ = new MainWindowHost(dialogs, *doc_, flags_,
                               {this, listView1_, listView3_, panel_, command1_, command2_,
                                command3_, command5_, fileMenu_, selectionMenu_, optionsMenu_});
    commands_ = std::make_unique<ListCommands>(*doc_, *host_, flags_);
    driver_ = std::make_unique<RunDriver>(*doc_, *host_, *host_, *host_, flags_, host_->progress());
    driver_->setClock(clock);
    driver_->setVerify(verifyAction_->isChecked());
    host_->followRun(*driver_);
    connect(command5_, &QPushButton::clicked, host_, &MainWindowHost::selectAll);
    host_->setStatusText(TasksText(0));
    help_.InitHelp(this);

    rescale();
    QSize size = QSettings(QSettings::defaultFormat(), QSettings::UserScope,
                           QStringLiteral("Zandrel"), QStringLiteral("Zandrel"))
                     .value(kSizeKey)
                     .toSize()
                     .expandedTo(minimumSize());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        size = size.boundedTo(area.size()).expandedTo(minimumSize());
        resize(size);
        move(area.center() - QPoint(width() / 2, height() / 2));
    } else {
        resize(size);
    }
    layoutControls();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    auto action = [this](QMenu* menu, const char* name, const QString& text, auto slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu_->setObjectName(QStringLiteral("filemnu"));
    // The keys people expect; the menus show them beside the captions.
    action(fileMenu_, "openmnu", QStringLiteral("Open..."), [this] {
        commands_->open();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    action(fileMenu_, "savemnu", QStringLiteral("&Save"), [this] {
        commands_->save();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    action(fileMenu_, "saveasmnu", QStringLiteral("Save &As..."), [this] {
        commands_->saveAs();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    fileMenu_->addSeparator()->setObjectName(QStringLiteral("sepmnu2"));
    action(fileMenu_, "exportregmnu", QStringLiteral("Export registry..."),
           [this] { exportRegistry(); });
    fileMenu_->addSeparator()->setObjectName(QStringLiteral("sepmnu"));
    action(fileMenu_, "exitmnu", QStringLiteral("E&xit"), [this] {
        close();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    selectionMenu_ = menuBar()->addMenu(QStringLiteral("&Rearrange"));
    selectionMenu_->setObjectName(QStringLiteral("selectionmnu"));
    action(selectionMenu_, "moveupmnu", QStringLiteral("Move up"), [this] { moveListing(-1); });
    action(selectionMenu_, "movedownmnu", QStringLiteral("Move down"), [this] { moveListing(+1); });

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpmnu"));
    action(helpMenu, "helptopicsmnu", QStringLiteral("Help topics"), [this] {
        help_.ShowHelpTopic();
    })->setShortcut(QKeySequence(Qt::Key_F1));
    action(helpMenu, "aboutmnu", QStringLiteral("About..."), [this] { showAbout(); });

    // Kept between starts; a command-line run verifies only when told to.
    optionsMenu_ = menuBar()->addMenu(QStringLiteral("&Options"));
    optionsMenu_->setObjectName(QStringLiteral("optionsmnu"));
    verifyAction_ = optionsMenu_->addAction(QStringLiteral("Verify copies"));
    verifyAction_->setObjectName(QStringLiteral("verifymnu"));
    verifyAction_->setCheckable(true);
    verifyAction_->setChecked(QSettings(QSettings::defaultFormat(), QSettings::UserScope,
                                        QStringLiteral("Zandrel"), QStringLiteral("Zandrel"))
                                  .value(kVerifyKey)
                                  .toBool());
    connect(verifyAction_, &QAction::toggled, this, [this](bool on) {
        QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Zandrel"),
                  QStringLiteral("Zandrel"))
            .setValue(kVerifyKey, on);
        if (!flags_.CommandLineRun)
            driver_->setVerify(on);
    });

    reportPopup_ = new QMenu(this);
    reportPopup_->setObjectName(QStringLiteral("rightclickmnu"));
    action(reportPopup_, "copymnu", QStringLiteral("Copy"), [this] { copyReportLine(); });
    listPopup_ = new QMenu(this);
    listPopup_->setObjectName(QStringLiteral("rightclickmnu2"));
    // Ctrl+A works with the pop-up closed too: the window holds the item as well.
    QAction* selectAll = action(listPopup_, "selectallmnu", QStringLiteral("Select all"), [this] {
        if (command5_->isEnabled())
            host_->selectAll();
    });
    selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    addAction(selectAll);
    action(listPopup_, "unselectmnu", QStringLiteral("Unselect all"), [this] { unselectAll(); });
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("client"));
    setCentralWidget(central);
    listView1_ = new QTreeView(central);
    listView1_->setObjectName(QStringLiteral("ListView1"));
    listView1_->setAccessibleName(QStringLiteral("Listings"));
    auto* rows = new RowIconModel(listView1_);
    rows->setSourceModel(doc_);
    listView1_->setModel(rows);
    listView1_->setRootIsDecorated(false);
    listView1_->setUniformRowHeights(true);
    listView1_->setAllColumnsShowFocus(true);
    listView1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView1_->header()->setStretchLastSection(false);
    listView1_->setAcceptDrops(true);
    listView1_->viewport()->setAcceptDrops(true);
    listView1_->setDragDropMode(QAbstractItemView::DropOnly);
    listView1_->viewport()->installEventFilter(this);
    listView1_->installEventFilter(this);  // Enter edits the current Listing
    connect(listView1_, &QTreeView::doubleClicked, this, [this] { editListing(); });
    // A list with rows always has a current one (the first, not selected),
    // as a list control gives its first item focus.
    auto ensureCurrent = [this] {
        if (doc_->count() > 0 && !listView1_->currentIndex().isValid())
            listView1_->selectionModel()->setCurrentIndex(listView1_->model()->index(0, 0),
                                                          QItemSelectionModel::NoUpdate);
    };
    connect(doc_, &QAbstractItemModel::modelReset, this, ensureCurrent);
    connect(doc_, &QAbstractItemModel::rowsInserted, this, ensureCurrent);
    connect(doc_, &QAbstractItemModel::rowsRemoved, this, ensureCurrent);

    auto button = [&](const char* name, const QString& text) {
        auto* b = new QPushButton(text, central);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    command1_ = button("Command1", QStringLiteral("&New listing"));
    command2_ = button("Command2", QStringLiteral("&Edit listing"));
    command5_ = button("Command5", QStringLiteral("Select &all"));
    command4_ = button("Command4", kDetailsShownCaption);
    command4_->setAccessibleName(QStringLiteral("Show or hide details"));
    command3_ = button("Command3", kCaptionIdle);
    // Ctrl+N has no menu item to show it; the button's tip does.
    auto* newKey = new QAction(this);
    newKey->setObjectName(QStringLiteral("newlistingkey"));
    newKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addAction(newKey);
    connect(newKey, &QAction::triggered, this, [this] {
        if (command1_->isEnabled())
            command1_->click();
    });
    command1_->setToolTip(newKey->shortcut().toString(QKeySequence::NativeText));
    command5_->setToolTip(QKeySequence(Qt::CTRL | Qt::Key_A).toString(QKeySequence::NativeText));
    // The light grey face keeps dark text, whatever the desktop's palette.
    command3_->setStyleSheet(QStringLiteral(
        "QPushButton#Command3 { background-color: rgb(224,224,224); color: black; }"));
    connect(command1_, &QPushButton::clicked, this, &MainWindow::newListing);
    connect(command2_, &QPushButton::clicked, this, &MainWindow::editListing);
    connect(command4_, &QPushButton::clicked, this, &MainWindow::toggleDetails);
    connect(command3_, &QPushButton::clicked, this, &MainWindow::startClicked);
    setTabOrder(command1_, command2_);
    setTabOrder(command2_, command5_);
    setTabOrder(command5_, command4_);
    setTabOrder(command4_, command3_);

    listView3_ = new QTreeWidget(central);
    listView3_->setObjectName(QStringLiteral("ListView3"));
    listView3_->setAccessibleName(QStringLiteral("Reports"));
    listView3_->setHeaderLabels({QStringLiteral("Reports")});
    listView3_->setRootIsDecorated(false);
    listView3_->setUniformRowHeights(true);
    listView3_->viewport()->installEventFilter(this);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    auto* statusLabel = new ValueLabel(QString(), TasksText(0), statusBar());
    statusLabel->setObjectName(QStringLiteral("StatusBar1Text"));
    // A path per file must not relayout the window.
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    statusBar()->addWidget(statusLabel, 1);

    // The panel sets the status text too: a run shows each file's destination there.
    panel_ = new ProgressPanel(central, statusLabel);
    central->installEventFilter(this);  // its size places the controls
}

void MainWindow::rescale() {
    scale_ = TwipScale(this);
    const std::pair<QPushButton*, int> buttons[] = {{command1_, kButtonWidth},
                                                    {command2_, kButtonWidth},
                                                    {command5_, kButtonWidth},
                                                    {command4_, kButtonWidth},
                                                    {command3_, kStartWidth}};
    for (const auto& [b, width] : buttons) {
        // Every caption the button can show must fit, the run's included.
        QSize needed = b->sizeHint();
        const QString shown = b->text();
        const QStringList captions =
            b == command4_   ? QStringList{kDetailsShownCaption, kDetailsHiddenCaption}
            : b == command3_ ? QStringList{kCaptionIdle, kCaptionRunning, kCaptionAborting}
                             : QStringList{};
        for (const QString& caption : captions) {
            b->setText(caption);
            needed = needed.expandedTo(b->sizeHint());
        }
        b->setText(shown);
        scale_.fit(needed, width, kButtonHeight);
    }
    scale_.fit(panel_->minimumSizeHint(), kPanelWidth, kPanelHeight);

    columnsWider_ = -1;  // the columns take the new scale at the next layout
    setMinimumSize(scale_(kClientWidth),
                   windowHeightFor(detailsShown_ ? kContentBottomShown : kContentBottomHidden));
}

int MainWindow::windowHeightFor(int contentBottomTwips) const {
    // Sized from the content so the layout holds whatever the title bar's
    // height under the desktop's window manager.
    return scale_(contentBottomTwips) + menuBar()->sizeHint().height() +
           statusBar()->sizeHint().height();
}

void MainWindow::layoutControls() {
    const QSize client = centralWidget()->size();
    const int wider = std::max(0, client.width() - scale_(kClientWidth));
    const int bottom = detailsShown_ ? kContentBottomShown : kContentBottomHidden;
    const int taller = std::max(0, client.height() - scale_(bottom));
    // The two lists share the extra height as they share the designed one.
    const int listTaller =
        detailsShown_ ? taller * kListHeight / (kListHeight + kReportHeight) : taller;
    const int reportTaller = taller - listTaller;
    // Everything below the Listing list moves down with its bottom; the
    // Details and Start buttons and the progress panel keep to the right edge.
    auto place = [this](QWidget* w, int left, int top, int width, int height, QPoint moved,
                        QSize grown) {
        w->setGeometry(scale_.rect(left, top, width, height)
                           .translated(moved)
                           .adjusted(0, 0, grown.width(), grown.height()));
    };
    place(listView1_, 0, 0, kClientWidth, kListHeight, {}, {wider, listTaller});
    place(command1_, 120, kButtonTop, kButtonWidth, kButtonHeight, {0, listTaller}, {});
    place(command2_, 1560, kButtonTop, kButtonWidth, kButtonHeight, {0, listTaller}, {});
    place(command5_, 3000, kButtonTop, kButtonWidth, kButtonHeight, {0, listTaller}, {});
    place(command4_, 6120, kButtonTop, kButtonWidth, kButtonHeight, {wider, listTaller}, {});
    place(command3_, 7560, kButtonTop, kStartWidth, kButtonHeight, {wider, listTaller}, {});
    place(listView3_, 0, kDetailsTop, kPanelLeft - 15, kReportHeight, {0, listTaller},
          {wider, reportTaller});
    place(panel_, kPanelLeft, kPanelTop, kPanelWidth, kPanelHeight, {wider, listTaller}, {});

    // A wider window shows more of the paths and descriptions; columns the
    // user has sized keep their widths until the window's width changes.
    if (wider != columnsWider_) {
        columnsWider_ = wider;
        listView1_->setColumnWidth(0, scale_(1440));
        for (int c = 1; c < 4; ++c) listView1_->setColumnWidth(c, scale_(3600) + wider / 3);
        listView3_->setColumnWidth(0, scale_(4200) + wider);
    }
}

void MainWindow::toggleDetails() {
    // The report list's extra height goes with the panel and comes back with it,
    // so that twice gives the first height again.
    const int details = scale_(kContentBottomShown) - scale_(kContentBottomHidden);
    if (command4_->text() != kDetailsHiddenCaption) {
        command4_->setText(kDetailsHiddenCaption);
        reportExtra_ = std::max(0, listView3_->height() - scale_(kReportHeight));
        const int height = this->height() - details - reportExtra_;
        detailsShown_ = false;
        setMinimumSize(scale_(kClientWidth), windowHeightFor(kContentBottomHidden));
        resize(width(), height);
        listView3_->hide();
        panel_->hide();
    } else {
        const int height = this->height() + details + reportExtra_;
        detailsShown_ = true;
        setMinimumSize(scale_(kClientWidth), windowHeightFor(kContentBottomShown));
        resize(width(), height);
        command4_->setText(kDetailsShownCaption);
        listView3_->show();
        panel_->show();
    }
    layoutControls();
}

void MainWindow::rememberSize() {
    QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
    if (!detailsShown_)
        size.rheight() += scale_(kContentBottomShown) - scale_(kContentBottomHidden) + reportExtra_;
    QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Zandrel"),
              QStringLiteral("Zandrel"))
        .setValue(kSizeKey, size);
}

void MainWindow::changeEvent(QEvent* event) {
    // A new desktop font: the layout follows it.
    if (event->type() == QEvent::FontChange && panel_) {
        rescale();
        resize(size().expandedTo(minimumSize()));
        layoutControls();
    }
    QMainWindow::changeEvent(event);
}

// ---- Selection and rearranging ----

void MainWindow::unselectAll() {
    host_->yield();
    listView1_->selectionModel()->clearSelection();
    listView1_->setFocus();
}

void MainWindow::moveListing(int step) {
    const int rows = doc_->count();
    if (rows == 0)
        return;
    const int i = host_->currentRow();
    if (i < 0 || i >= rows) {
        host_->message(
            Icon::Exclamation, QStringLiteral("Error"),
            QStringLiteral(
                "An unexpected error occurred while attempting to rearrange your "
                "listings.\r\n\r\nIt is recommended that you do not save this session."));
        return;
    }
    if (step > 0 && i == rows - 1) {
        host_->message(Icon::Information, QStringLiteral("Note"),
                       QStringLiteral("This is already the last item on the list.\r\n\r\n"));
        return;
    }
    if (step < 0 && i == 0) {
        host_->message(Icon::Information, QStringLiteral("Note"),
                       QStringLiteral("This is already the first item on the list.\r\n\r\n"));
        return;
    }
    const int j = i + step;
    doc_->swapLines(i, j);
    QItemSelectionModel* selection = listView1_->selectionModel();
    QAbstractItemModel* model = listView1_->model();
    selection->select(model->index(i, 0),
                      QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    selection->setCurrentIndex(model->index(j, 0),
                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
    doc_->setListModified(true);
}

void MainWindow::copyReportLine() {
    if (listView3_->topLevelItemCount() == 0)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (const QTreeWidgetItem* item = listView3_->currentItem())
        clipboard->setText(item->text(0));
}

void MainWindow::dropPaths(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    const QString path = paths.first();
    if (path.isEmpty() || FolderExists(path))
        return;
    if (commands_->LoadBackupList(path) == LoadResult::Refused)
        commands_->reportRefused(path);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        layoutControls();
    } else if (watched == listView1_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && listView1_->isEnabled()) {
            editListing();
            return true;
        }
    } else if (watched == listView1_->viewport()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() == Qt::RightButton && command5_->isEnabled() &&
                    doc_->count() > 1)
                    listPopup_->popup(mouse->globalPosition().toPoint());
                break;
            }
            case QEvent::MouseButtonDblClick: {
                // A row's double click comes through doubleClicked; the blank
                // area below the rows acts the same.
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() == Qt::LeftButton &&
                    !listView1_->indexAt(mouse->position().toPoint()).isValid()) {
                    editListing();
                    return true;
                }
                break;
            }
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                if (drag->mimeData()->hasUrls() && listView1_->isEnabled()) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                QStringList paths;
                for (const QUrl& url : drop->mimeData()->urls())
                    if (url.isLocalFile())
                        paths.append(url.toLocalFile());
                drop->acceptProposedAction();
                dropPaths(paths);
                return true;
            }
            default:
                break;
        }
    } else if (watched == listView3_->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton && listView3_->topLevelItemCount() > 0)
            reportPopup_->popup(mouse->globalPosition().toPoint());
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Editor, About, registry export ----

void MainWindow::newListing() {
    openEditor(-1);
}

void MainWindow::editListing() {
    if (doc_->count() == 0) {
        host_->message(Icon::Information, QStringLiteral("Note"),
                       QStringLiteral("No listings available to edit.\r\n\r\n"));
        return;
    }
    const int row = host_->currentRow();
    if (row < 0)
        return;  // rows but no current one: nothing to edit
    openEditor(row + 1);
}

void MainWindow::openEditor(int editIndex) {
    auto* editor = new ListingEditor(*doc_, *host_, editIndex, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor_ = editor;
    editor->exec();
}

void MainWindow::showAbout() {
    auto* about = new AboutWindow(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about_ = about;
    about->exec();
}

void MainWindow::exportRegistry() {
    auto* window = new RegistryExport(*host_, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    registry_ = window;
    window->exec();
}

// ---- Run ----

void MainWindow::startClicked() {
    const bool commandLine = flags_.CommandLineRun;
    const RunResult result = driver_->Command3_Click();
    // A click during the run (the abort request) reports nothing of its own.
    if (commandLine && result.outcome != RunOutcome::NotStarted)
        exitStatus_ = ExitStatusOf(result);
}

// ---- Start-up and closing ----

bool MainWindow::startUp(const QString& commandLine) {
    // The help hook-up came with the window's creation.
    const CommandLineRequest request =
        ParseCommandLine(commandLine, QCoreApplication::applicationDirPath(),
                         [](const QString& p) { return PathExists(p); });
    flags_.PauseBeforeExit = request.pauseBeforeExit;
    switch (request.kind) {
        case CommandLineRequest::Kind::Empty:
            return true;
        case CommandLineRequest::Kind::Load:
            commands_->LoadBackupList(request.path);
            return true;
        case CommandLineRequest::Kind::Run:
            break;
        case CommandLineRequest::Kind::Preview:
            return true;  // handled before any window
    }
    if (commands_->LoadBackupList(request.path) != LoadResult::Loaded)
        return true;
    flags_.CommandLineRun = true;
    driver_->setVerify(request.verify);
    show();
    repaint();
    startClicked();
    driver_->setVerify(verifyAction_->isChecked());
    // The run ends the program by closing the window, unless that was refused.
    return isVisible();
}

void MainWindow::releaseOtherWindows() {
    host_->closeSummary();
    for (QWidget* w : {about_.data(), editor_.data(), registry_.data()})
        if (w)
            w->close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (!command3_->isEnabled() && !flags_.ClosePermitted)
        return;
    if (driver_->phase() != RunPhase::Idle) {
        startClicked();
        return;
    }
    help_.CloseHelp();
    flags_.ClosingDown = true;
    bool refused = false;
    if (doc_->listModified() && !commands_->saveChangesPrompt()) {
        flags_.ClosingDown = false;
        refused = true;
    }
    releaseOtherWindows();
    if (!refused) {
        rememberSize();
        event->accept();
    }
}

}  // namespace zandrel
