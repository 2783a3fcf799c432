// Runs a list from the real main window (offscreen) while a 10 ms timer
// records the gaps between passes of the event loop, and presses Cancel part
// way to time how long the caption takes to read "Aborting...".
// Workloads: one large file, then many small files; both keep copying after
// the click. Then small files again with every flush slowed to 2 s (the fault
// shim, preloaded into a second run of this program): Cancel is pressed while
// a flush is under way and the abort is confirmed, to time when the run asks
// "Abort process?" and when it ends.
// Usage: bench_responsiveness [work folder]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

#include "app/MainWindow.h"
#include "common/Host.h"
#include "listing/BackupList.h"
#include "run/RunPhase.h"

namespace {

using Clock = std::chrono::steady_clock;
// When Cancel is to be pressed, or nothing yet; asked again every millisecond
// on a thread of its own, so that the moment is kept even while the window's
// thread is held up.
using WhenDue = std::function<std::optional<Clock::time_point>()>;

// Marks the run started in the second, shimmed, run of the program.
constexpr char kSlowedFlag[] = "--slowed-flushes";
constexpr long kSyncDelayUs = 2000000;
// Half way through the first slowed flush: the next batch's copies (a few
// hundred milliseconds) are made by then, so the run stands at the flush.
constexpr auto kIntoFlush = std::chrono::milliseconds(1000);

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Measure {
    double maxGapMs = 0;
    double clickToAbortingMs = -1;
    double clickToAskedMs = -1;  // until the run asks "Abort process?"
    double clickToEndMs = -1;
    double runMs = 0;
};

class AnswerDefaults : public zandrel::Dialogs {
  public:
    AnswerDefaults(zandrel::Answer abortAnswer, std::function<void()> asked)
        : abortAnswer_(abortAnswer), asked_(std::move(asked)) {}
    zandrel::Answer message(zandrel::Icon, const QString&, const QString& text, zandrel::Buttons,
                            zandrel::Answer d) override {
        if (text != QStringLiteral("Abort process?"))
            return d;
        asked_();
        return abortAnswer_;
    }
    QString fileDialog(const zandrel::FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }

  private:
    zandrel::Answer abortAnswer_;
    std::function<void()> asked_;
};

// Every time is taken from the moment the click was due, so a window slow
// to react shows in it.
Measure RunOnce(const QString& src, const QString& dst, const WhenDue& whenDue,
                zandrel::Answer abortAnswer) {
    Measure m;
    Clock::time_point due;  // written before the click is posted, read after
    bool clicked = false;
    AnswerDefaults dialogs(abortAnswer, [&] {
        if (clicked && m.clickToAskedMs < 0)
            m.clickToAskedMs = MsSince(due);
    });
    zandrel::MainWindow window(dialogs);
    window.show();
    auto& doc = *window.findChild<zandrel::BackupList*>();
    doc.appendLine(
        QStringLiteral(
            "Copy<%1<%2<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*")
            .arg(src, dst));
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        m.maxGapMs = std::max(m.maxGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    auto* start = window.findChild<QPushButton*>(QStringLiteral("Command3"));
    const auto click = [&] {
        if (start->text() != zandrel::kCaptionRunning)
            return;
        clicked = true;
        start->click();
        if (start->text() == zandrel::kCaptionAborting)
            m.clickToAbortingMs = MsSince(due);
    };
    // Events posted to it are dropped with it, should the run end first.
    QObject clickTarget;
    std::atomic<bool> runOver{false};
    std::thread watcher;
    QElapsedTimer run;
    QTimer::singleShot(0, [&] {
        ticker.start();
        sinceTick.restart();
        watcher = std::thread([&] {
            std::optional<Clock::time_point> when;
            while (!runOver && !(when = whenDue()))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            while (!runOver && Clock::now() < *when)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (runOver)
                return;
            due = *when;
            QMetaObject::invokeMethod(&clickTarget, click, Qt::QueuedConnection);
        });
        run.start();
        start->click();
        m.runMs = run.nsecsElapsed() / 1e6;
        if (clicked)
            m.clickToEndMs = MsSince(due);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    runOver = true;
    watcher.join();
    doc.setListModified(false);
    return m;
}

WhenDue After(std::chrono::milliseconds delay) {
    return [delay, from = std::optional<Clock::time_point>()]() mutable {
        if (!from)
            from = Clock::now();
        return std::optional(*from + delay);
    };
}

// Once the shim's trace shows a flush begun, kIntoFlush later.
WhenDue IntoFirstFlush(const QString& trace) {
    return [trace]() -> std::optional<Clock::time_point> {
        QFile f(trace);
        if (!f.open(QIODevice::ReadOnly) || !f.readAll().contains("sync-start"))
            return std::nullopt;
        return Clock::now() + kIntoFlush;
    };
}

bool MakeSmallFiles(const QString& root, int folders) {
    const QByteArray content(4096, 's');
    for (int d = 0; d < folders; ++d) {
        const QString folder = root + QStringLiteral("/d%1").arg(d);
        QDir().mkpath(folder);
        for (int i = 0; i < 50; ++i) {
            QFile f(folder + QStringLiteral("/f%1.txt").arg(i));
            if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
                return false;
        }
    }
    return true;
}

void Print(const char* name, const Measure& m) {
    std::printf(
        "%-22s run %.0f ms, longest event-loop gap %.1f ms (target < 50), Cancel to "
        "\"Aborting...\" %.1f ms (target < 100)\n",
        name, m.runMs, m.maxGapMs, m.clickToAbortingMs);
    std::fflush(stdout);
}

// The second run of the program, the shim preloaded.
int RunSlowed(const QString& work) {
#ifdef ZANDREL_IOFAIL_SHIM
    if (!qgetenv("LD_PRELOAD").contains(ZANDREL_IOFAIL_SHIM)) {
        std::fprintf(stderr, "%s: run without the fault shim\n", kSlowedFlag);
        return 1;
    }
#endif
    const QString trace = qEnvironmentVariable("ZANDREL_TRACE");
    QTemporaryDir dir(work + QStringLiteral("/respXXXXXX"));
    const QString small = dir.path() + QStringLiteral("/small");
    if (trace.isEmpty() || !MakeSmallFiles(small, 120))
        return 1;
    const Measure m = RunOnce(small, dir.path() + QStringLiteral("/out"), IntoFirstFlush(trace),
                              zandrel::Answer::Yes);
    std::printf(
        "6,000 files of 4 KiB, every flush slowed to %.0f s, Cancel %.1f s into the first: run "
        "%.0f ms, longest event-loop gap %.1f ms (target < 50), Cancel to \"Aborting...\" %.1f ms "
        "(target < 100), to \"Abort process?\" %.1f ms (target < 100), to the run's end %.0f ms\n",
        kSyncDelayUs / 1e6, std::chrono::duration<double>(kIntoFlush).count(), m.runMs, m.maxGapMs,
        m.clickToAbortingMs, m.clickToAskedMs, m.clickToEndMs);
    return 0;
}

// Starts this program again with the shim slowing every flush.
int StartSlowed(const QString& work, const QString& trace) {
#ifdef ZANDREL_IOFAIL_SHIM
    QString preload = QStringLiteral(ZANDREL_IOFAIL_SHIM);
#ifdef ZANDREL_ASAN_RUNTIME
    preload = QStringLiteral(ZANDREL_ASAN_RUNTIME ":") + preload;
#endif
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString earlier = env.value(QStringLiteral("LD_PRELOAD"));
    env.insert(QStringLiteral("LD_PRELOAD"),
               earlier.isEmpty() ? preload : preload + u':' + earlier);
    env.insert(QStringLiteral("ZANDREL_SYNC_DELAY_US"), QString::number(kSyncDelayUs));
    env.insert(QStringLiteral("ZANDREL_TRACE"), trace);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QCoreApplication::applicationFilePath(), {QLatin1String(kSlowedFlag), work});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return 1;
    return p.exitCode();
#else
    Q_UNUSED(work);
    Q_UNUSED(trace);
    std::printf("(slowed flushes not measured: built without the fault shim)\n");
    return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool slowed = args.removeAll(QLatin1String(kSlowedFlag)) > 0;
    const QString work = args.isEmpty() ? QDir::tempPath() : args.first();
    if (slowed)
        return RunSlowed(work);

    QTemporaryDir dir(work + QStringLiteral("/respXXXXXX"));
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
    if (!MakeSmallFiles(small, 400))
        return 1;
    for (const auto& [name, src] :
         {std::pair{"1 GiB file", big}, std::pair{"20,000 files of 4 KiB", small}}) {
        QDir(dir.path() + QStringLiteral("/out")).removeRecursively();
        // Keep copying after the click.
        Print(name, RunOnce(src, dir.path() + QStringLiteral("/out"),
                            After(std::chrono::milliseconds(300)), zandrel::Answer::No));
    }
    return StartSlowed(work, dir.path() + QStringLiteral("/trace.txt"));
}
