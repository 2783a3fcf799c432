// One load of a large list per process, so that the peak memory is the
// load's own:
//   bench_listload make PATH            writes a list of just under 64 MiB
//   bench_listload headless PATH        loads it as the command-line run does
//   bench_listload window PATH          loads it into the main window (offscreen)
//                                       and paints it
// Prints "ms PEAK_KB ROWS".
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstring>

#include "../SilentDialogs.h"
#include "app/MainWindow.h"
#include "common/Host.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/ListCommands.h"
#include "listing/ListFile.h"

namespace {

using zandrel::bench::SilentDialogs;

class QuietHost : public zandrel::Host {
  public:
    zandrel::Answer message(zandrel::Icon, const QString&, const QString&, zandrel::Buttons,
                            zandrel::Answer d) override {
        return d;
    }
    using Host::message;
    QString fileDialog(const zandrel::FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    void yield() override {
        if (!since_.isValid() || since_.elapsed() >= 10) {
            QCoreApplication::processEvents();
            since_.start();
        }
    }
    bool abortRequested() const override { return false; }
    void setStartCaption(const QString&) override {}
    void setStatusText(const QString&) override {}
    void clearReports() override {}
    void appendReport(const QString&) override {}

  private:
    QElapsedTimer since_;
};

int MakeList(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    qint64 written = 0;
    for (int i = 0;; ++i) {
        const QByteArray line = QStringLiteral(
                                    "Copy</data/dir%1</backup/dir%1<Subfolders<CopyFoldersAndFiles<"
                                    "Overwrite<task %1<:Specific|Types:*.*\r\n")
                                    .arg(i)
                                    .toUtf8();
        if (written + line.size() > zandrel::kMaxListFileBytes)
            break;
        f.write(line);
        written += line.size();
    }
    return 0;
}

long PeakKb() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_listload make|headless|window PATH\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (std::strcmp(argv[1], "make") == 0)
        return MakeList(path);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer t;
    int rows = 0;
    if (std::strcmp(argv[1], "headless") == 0) {
        QCoreApplication app(argc, argv);
        zandrel::BackupList doc;
        QuietHost host;
        zandrel::SessionFlags flags;
        zandrel::ListCommands commands(doc, host, flags);
        t.start();
        if (commands.LoadBackupList(path) != zandrel::LoadResult::Loaded)
            return 3;
        rows = doc.count();
    } else {
        QApplication app(argc, argv);
        SilentDialogs dialogs;
        zandrel::MainWindow window(dialogs);
        window.show();
        QCoreApplication::processEvents();
        t.start();
        // As named on the command line.
        window.startUp(QLatin1Char('"') + path + QLatin1Char('"'));
        // The rows on screen are painted before the clock stops.
        window.repaint();
        QCoreApplication::processEvents();
        rows = window.findChild<zandrel::BackupList*>()->count();
        if (rows == 0)
            return 3;
    }
    std::printf("%.1f %ld %d\n", t.nsecsElapsed() / 1e6, PeakKb(), rows);
    return 0;
}
