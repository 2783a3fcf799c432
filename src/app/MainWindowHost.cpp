#include "app/MainWindowHost.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

#include "app/ProgressPanel.h"
#include "app/SummaryWindow.h"
#include "common/FormatSize.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "run/RunDriver.h"

namespace zandrel {

namespace {
constexpr int kYieldIntervalMs = 10;
}  // namespace

MainWindowHost::MainWindowHost(Dialogs& dialogs, const BackupList& doc, SessionFlags& flags,
                               const Controls& controls)
    : QObject(controls.window), dialogs_(dialogs), doc_(doc), flags_(flags), c_(controls) {
    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, &MainWindowHost::speedTick);
    timer1_->start();
    sinceYield_.start();
}

// ---- Host ----

Answer MainWindowHost::message(Icon icon, const QString& title, const QString& text,
                               Buttons buttons, Answer defaultButton) {
    // The panel behind the box shows where the run stands.
    c_.panel->refresh();
    return dialogs_.message(icon, title, text, buttons, defaultButton);
}

QString MainWindowHost::fileDialog(const FileDialogRequest& request) {
    return dialogs_.fileDialog(request);
}

QString MainWindowHost::chooseFolder(const QString& title, const QString& startFolder) {
    return dialogs_.chooseFolder(title, startFolder);
}

void MainWindowHost::yield() {
    if (sinceYield_.elapsed() < kYieldIntervalMs)
        return;
    sinceYield_.restart();
    QCoreApplication::processEvents();
}

bool MainWindowHost::abortRequested() const {
    return driver_ && driver_->phase() == RunPhase::Aborting;
}

void MainWindowHost::setStartCaption(const QString& caption) {
    c_.command3->setText(caption);
    if (c_.window->isVisible())
        c_.command3->repaint();
}

void MainWindowHost::setStatusText(const QString& text) {
    c_.panel->showStatusText(text);
}

void MainWindowHost::clearReports() {
    c_.listView3->clear();
}

void MainWindowHost::appendReport(const QString& entry) {
    static const QIcon icon(QStringLiteral(":/report.png"));
    auto* item = new QTreeWidgetItem(c_.listView3, QStringList{entry});
    item->setIcon(0, icon);
    c_.listView3->scrollToItem(item);
}

// ---- Selection ----

int MainWindowHost::currentRow() const {
    const QModelIndex current = c_.listView1->currentIndex();
    return current.isValid() ? current.row() : -1;
}

QList<bool> MainWindowHost::selectedRows() const {
    QList<bool> selected(doc_.count(), false);
    for (const QModelIndex& index : c_.listView1->selectionModel()->selectedRows())
        if (index.row() < selected.size())
            selected[index.row()] = true;
    return selected;
}

void MainWindowHost::selectAll() {
    // One range for the whole list: selecting row by row is quadratic in the
    // selection model.
    yield();
    const int rows = doc_.count();
    if (rows > 0) {
        QAbstractItemModel* model = c_.listView1->model();
        c_.listView1->selectionModel()->select(
            QItemSelection(model->index(0, 0), model->index(rows - 1, 3)),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    c_.listView1->setFocus();
}

// ---- Progress ----

void MainWindowHost::speedTick() {
    const double d = progress_.RunBytesCopied - progress_.SpeedBaseline;
    if (!std::isfinite(d)) {
        c_.panel->showSpeed(QStringLiteral("0 bytes/sec"));
        return;
    }
    c_.panel->showSpeed(FormatSize(d) + QStringLiteral("/sec"));
    progress_.SpeedBaseline = progress_.RunBytesCopied;
}

void MainWindowHost::ShowOverallProgress(int i, int count) {
    c_.panel->ShowOverallProgress(i, count);
}

void MainWindowHost::ShowCurrentFile(const QByteArray& destinationPath,
                                     const QByteArray& sourceFile) {
    c_.panel->ShowCurrentFile(sourceFile, destinationPath);
}

void MainWindowHost::BeginFileProgress(qint64 length) {
    c_.panel->BeginFileProgress(length);
}

void MainWindowHost::ShowBlockProgress(qint64 position, qint64 length) {
    c_.panel->ShowBlockProgress(position, length, progress_.RunBytesCopied);
}

void MainWindowHost::EndFileProgress() {
    c_.panel->EndFileProgress();
}

void MainWindowHost::showCopiedCount(int copied) {
    c_.panel->showCopiedCount(copied);
}

void MainWindowHost::showErrorCount(int errors) {
    c_.panel->showErrorCount(errors);
}

void MainWindowHost::showVerifiedCount(int verified) {
    c_.panel->showVerifiedCount(verified);
}

void MainWindowHost::addSkipped() {
    c_.panel->addSkipped();
}

// ---- The window's state around a run ----

void MainWindowHost::setEditingEnabled(bool enabled) {
    c_.command1->setEnabled(enabled);
    c_.command2->setEnabled(enabled);
    c_.command5->setEnabled(enabled);
    c_.selectionMenu->menuAction()->setEnabled(enabled);
    c_.fileMenu->menuAction()->setEnabled(enabled);
    if (c_.optionsMenu)
        c_.optionsMenu->menuAction()->setEnabled(enabled);
    c_.listView1->setEnabled(enabled);
}

void MainWindowHost::lockForRun() {
    setEditingEnabled(false);
}

void MainWindowHost::RestoreAfterRun() {
    c_.command3->setEnabled(true);
    setEditingEnabled(true);
    c_.panel->reset();
}

void MainWindowHost::disableStartButton() {
    c_.command3->setEnabled(false);
}

void MainWindowHost::closeSummary() {
    if (summary_)
        summary_->close();
}

void MainWindowHost::showSummary(const QList<QByteArray>& errorEntries,
                                 const QList<QString>& reasons, int copiedCount,
                                 const QString& destinationText, int verifiedCount) {
    if (!summary_) {
        summary_ = new SummaryWindow(*this, c_.window);
        // Beside the main window, but never off the screen.
        QPoint place = c_.window->frameGeometry().topRight() + QPoint(8, 0);
        if (const QScreen* screen = c_.window->screen()) {
            const QRect area = screen->availableGeometry();
            place.setX(std::clamp(place.x(), area.left(),
                                  std::max(area.left(), area.right() - summary_->width())));
            place.setY(std::clamp(place.y(), area.top(),
                                  std::max(area.top(), area.bottom() - summary_->height())));
        }
        summary_->move(place);
    }
    summary_->showSummary(errorEntries, reasons, copiedCount, destinationText, verifiedCount);
}

void MainWindowHost::closeMainWindow() {
    c_.window->close();
}

}  // namespace zandrel
