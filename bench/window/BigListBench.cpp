// Opens a list of 100,000 Listings in the real main window and selects them
// all; prints the median of five runs of each and the peak memory.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "../SilentDialogs.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "common/Host.h"
#include "listing/BackupList.h"

namespace {

using zandrel::bench::SilentDialogs;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/big.bak");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < rows; ++i)
            f.write(QStringLiteral(
                        "Copy</data/folder%1</backup/folder%1<Subfolders<CopyFoldersAndFiles<"
                        "Overwrite<task number %1<:Specific|Types:*.*\r\n")
                        .arg(i)
                        .toUtf8());
    }
    SilentDialogs dialogs;
    std::vector<double> open, selectAll;
    for (int run = 0; run < 5; ++run) {
        zandrel::MainWindow window(dialogs);
        window.show();
        QElapsedTimer t;
        t.start();
        // As named on the command line.
        window.startUp(QLatin1Char('"') + path + QLatin1Char('"'));
        QCoreApplication::processEvents();
        open.push_back(t.nsecsElapsed() / 1e6);
        if (window.findChild<zandrel::BackupList*>()->count() != rows)
            return 2;
        t.restart();
        window.findChild<QPushButton*>(QStringLiteral("Command5"))->click();
        QCoreApplication::processEvents();
        selectAll.push_back(t.nsecsElapsed() / 1e6);
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "list of %d Listings: open median %.1f ms, select all median %.1f ms, peak memory %.1f "
        "MB\n",
        rows, Median(open), Median(selectAll), usage.ru_maxrss / 1024.0);
    return 0;
}
