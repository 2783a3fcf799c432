// Runs a list from the real main window (offscreen) while a 10 ms timer
// records the gaps between passes of the event loop, and presses Cancel at a
// random moment to time how long the caption takes to read "Aborting...".
// Workloads: one large file, then many small files.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/MainWindow.h"
#include "common/Host.h"
#include "listing/BackupList.h"
#include "run/RunPhase.h"

namespace {

class AnswerDefaults : public zandrel::Dialogs {
  public:
    zandrel::Answer message(zandrel::Icon, const QString&, const QString& text, zandrel::Buttons,
                            zandrel::Answer d) override {
        // Keep copying after the timed click.
        return text == QStringLiteral("Abort process?") ? zandrel::Answer::No : d;
    }
    QString fileDialog(const zandrel::FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};

struct Measure {
    double maxGapMs = 0;
    double clickToAbortingMs = -1;
    double runMs = 0;
};

Measure RunOnce(const QString& src, const QString& dst) {
    AnswerDefaults dialogs;
    zandrel::MainWindow window(dialogs);
    window.show();
    auto& doc = *window.findChild<zandrel::BackupList*>();
    doc.appendLine(
        QStringLiteral(
            "Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*")
            .arg(src, dst));
    Measure m;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        m.maxGapMs = std::max(m.maxGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    auto* start = window.findChild<QPushButton*>(QStringLiteral("Command3"));
    QElapsedTimer clickClock;
    QTimer clicker;
    clicker.setSingleShot(true);
    clicker.setInterval(300);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (start->text() != zandrel::kCaptionRunning)
            return;
        clickClock.start();
        start->click();
        if (start->text() == zandrel::kCaptionAborting)
            m.clickToAbortingMs = clickClock.nsecsElapsed() / 1e6;
    });
    // The click is measured from the moment the timer was due.
    QElapsedTimer due;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (m.clickToAbortingMs >= 0)
            m.clickToAbortingMs = std::max(0.0, due.nsecsElapsed() / 1e6 - 300);
    });
    QTimer::singleShot(0, [&] {
        ticker.start();
        due.start();
        clicker.start();
    });
    QElapsedTimer run;
    QTimer::singleShot(1, [&] {
        sinceTick.restart();
        run.start();
        start->click();
        m.runMs = run.nsecsElapsed() / 1e6;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    doc.setListModified(false);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/respXXXXXX")
                               : QDir::tempPath() + QStringLiteral("/respXXXXXX"));
    const QString big = dir.path() + QStringLiteral("/big");
    const QString small = dir.path() + QStringLiteral("/small");
    QDir().mkpath(big);
    {
        QFile f(big + QStringLiteral("/one.bin"));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1 << 20, 'b');
        for (int i = 0; i < 1024; ++i) f.write(block);
    }
    const QByteArray content(4096, 's');
    for (int d = 0; d < 400; ++d) {
        const QString folder = small + QStringLiteral("/d%1").arg(d);
        QDir().mkpath(folder);
        for (int i = 0; i < 50; ++i) {
            QFile f(folder + QStringLiteral("/f%1.txt").arg(i));
            if (!f.open(QIODevice::WriteOnly))
                return 1;
            f.write(content);
        }
    }
    for (const auto& [name, src] :
         {std::pair{"1 GiB file", big}, std::pair{"20,000 files of 4 KiB", small}}) {
        QDir(dir.path() + QStringLiteral("/out")).removeRecursively();
        const Measure m = RunOnce(src, dir.path() + QStringLiteral("/out"));
        std::printf(
            "%-22s run %.0f ms, longest event-loop gap %.1f ms (target < 50), Cancel to "
            "\"Aborting...\" %.1f ms (target < 100)\n",
            name, m.runMs, m.maxGapMs, m.clickToAbortingMs);
    }
    return 0;
}
