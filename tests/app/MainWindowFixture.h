#pragma once
// The real main window on the offscreen platform with a scripted host for
// its dialogs: what the window tests share.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "app/MainWindow.h"
#include "app/MainWindowHost.h"
#include "listing/BackupList.h"
#include "support/FakeClock.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

namespace zandrel::test {

inline QString LineFor(const QString& source, const QString& description = QString()) {
    return QStringLiteral("Copy<") + source +
           QStringLiteral("</dest<Subfolders<CopyFoldersAndFiles<Overwrite<") + description +
           QStringLiteral("<:Specific|Types:*.*");
}

class MainWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.root());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.root());
        window = std::make_unique<MainWindow>(dialogs, clock);
    }
    void TearDown() override {
        // Let the window go without prompts.
        doc().setListModified(false);
        window.reset();
    }
    void addRows(int n) {
        for (int i = 1; i <= n; ++i) doc().appendLine(LineFor(QStringLiteral("/src%1").arg(i)));
    }
    template <typename T>
    T* child(const char* name) {
        return window->findChild<T*>(QLatin1String(name));
    }
    // The window as the run and the list commands see it.
    // The document the window owns and shows.
    BackupList& doc() { return *window->findChild<BackupList*>(); }
    QString statusText() { return child<QLabel>("StatusBar1Text")->text(); }
    MainWindowHost& host() { return *window->findChild<MainWindowHost*>(); }
    QTreeView* list() { return child<QTreeView>("ListView1"); }
    QTreeWidget* reports() { return child<QTreeWidget>("ListView3"); }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    QAction* action(const char* name) { return child<QAction>(name); }
    void select(std::initializer_list<int> rows, int current) {
        auto* sel = list()->selectionModel();
        sel->clearSelection();
        for (int r : rows)
            sel->select(list()->model()->index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->setCurrentIndex(list()->model()->index(current, 0), QItemSelectionModel::NoUpdate);
    }
    // Runs fn once on the modal window as soon as one is open.
    void onModal(std::function<void(QWidget*)> fn) {
        auto* timer = new QTimer(window.get());
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, window.get(), [timer, fn] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            timer->stop();
            timer->deleteLater();
            fn(modal);
        });
        timer->start();
    }
    QStringList sources() {
        QStringList s;
        for (int r = 0; r < doc().count(); ++r) s.append(doc().fieldAt(r, 1));
        return s;
    }

    TempTree settings;
    TempTree files;
    FakeHost dialogs;
    FakeClock clock;
    std::unique_ptr<MainWindow> window;
};

}  // namespace zandrel::test
