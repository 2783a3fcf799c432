#include "run/HeadlessRun.h"
#include "run/Preview.h"
#include "run/RunTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <cstdio>

#include "common/Console.h"
#include "common/Host.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "common/StopSignals.h"
#include "listing/BackupList.h"
#include "listing/CommandLine.h"
#include "listing/ListCommands.h"
#include "run/ProgressSink.h"
#include "run/RunDriver.h"
#include "run/RunLog.h"
#include "run/RunState.h"
#include "run/RunWindow.h"
#include "run/Transfer.h"

namespace zandrel {

namespace {

void PrintLine(FILE* stream, const QByteArray& line) {
    WriteText(stream, line + '\n');
}

// A message box's text on one line: its own line breaks (CR LF) become
// blanks, and whatever a name in it holds is escaped.
QByteArray OnOneLine(const QString& text) {
    const QByteArray bytes = EncodePath(text);
    QByteArray line;
    qsizetype from = 0;
    for (qsizetype at = bytes.indexOf("\r\n"); at >= 0; at = bytes.indexOf("\r\n", from)) {
        line += ShownPath(EscapedName(QByteArrayView(bytes).sliced(from, at - from))) + ' ';
        from = at + 2;
    }
    return line + ShownPath(EscapedName(QByteArrayView(bytes).sliced(from)));
}

// "Copy failed: " + path becomes "copy failed: " + the escaped path.
QByteArray FailureLine(const QByteArray& entry, const QString& reason) {
    QByteArray line = "zandrel: ";
    for (const QByteArray& kind : {kCopyFailed, kDeleteFailed}) {
        if (entry.startsWith(kind)) {
            line +=
                kind.toLower() + ShownPath(EscapedName(QByteArrayView(entry).sliced(kind.size())));
            break;
        }
    }
    if (line.size() == 9)
        line += ShownPath(EscapedName(entry));
    if (!reason.isEmpty())
        line += ": " + EscapedName(reason.toUtf8());
    return line;
}

// Report entries go to standard output, message boxes to standard error
// with their default answers.
class HeadlessHost : public Host {
  public:
    void setDriver(RunDriver* driver) { driver_ = driver; }

    Answer message(Icon, const QString& title, const QString& text, Buttons,
                   Answer defaultButton) override {
        PrintLine(stderr, title.toUtf8() + ": " + OnOneLine(text));
        return defaultButton;
    }
    using Host::message;
    QString fileDialog(const FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }

    void yield() override {
        // A stop is kept until a run is there to be stopped; then it is the
        // Cancel button's click.
        if (driver_ && driver_->phase() != RunPhase::Idle && StopSignals::take())
            driver_->Command3_Click();
        if (!sinceEvents_.isValid() || sinceEvents_.elapsed() >= 10) {
            QCoreApplication::processEvents();
            sinceEvents_.start();
        }
    }
    void setStartCaption(const QString&) override {}
    bool abortRequested() const override {
        return driver_ && driver_->phase() == RunPhase::Aborting;
    }
    void setStatusText(const QString&) override {}
    void clearReports() override {}
    void appendReport(const QString& entry) override {
        PrintLine(stdout, ShownPath(EscapedName(EncodePath(entry))));
    }
    void noteFailure(const QByteArray& entry, const QString& reason) override {
        PrintLine(stderr, FailureLine(entry, reason));
    }

  private:
    RunDriver* driver_ = nullptr;
    QElapsedTimer sinceEvents_;
};

// No window: the panel shows nothing, every Listing runs anyway.
class HeadlessView : public ProgressSink, public RunWindow {
  public:
    explicit HeadlessView(const BackupList& doc) : doc_(doc) {}
    void ShowOverallProgress(int, int) override {}
    void ShowCurrentFile(const QByteArray&, const QByteArray&) override {}
    void BeginFileProgress(qint64) override {}
    void ShowBlockProgress(qint64, qint64) override {}
    void EndFileProgress() override {}
    void showCopiedCount(int) override {}
    void showErrorCount(int) override {}
    void addSkipped() override {}
    void lockForRun() override {}
    void RestoreAfterRun() override {}
    void disableStartButton() override {}
    int currentRow() const override { return doc_.count() > 0 ? 0 : -1; }
    QList<bool> selectedRows() const override { return QList<bool>(doc_.count(), false); }
    void selectAll() override {}
    void closeSummary() override {}
    // Shown only after an abort: the window's Summary, as lines.
    // The reasons were printed as each failure happened.
    void showSummary(const QList<QByteArray>& errorEntries, const QList<QString>&, int copiedCount,
                     const QString& destinationText, int verifiedCount) override {
        PrintLine(stderr, "Summary: " + ShownPath(EscapedName(EncodePath(destinationText))));
        PrintLine(stderr, "Summary: " + QByteArray::number(copiedCount) + " files copied, " +
                              QByteArray::number(errorEntries.size()) + " errors found.");
        if (verifiedCount >= 0)
            PrintLine(stderr, "Summary: " + VerifiedText(verifiedCount).toUtf8());
        for (const QByteArray& entry : errorEntries)
            PrintLine(stderr, "Summary: " + ShownPath(EscapedName(entry)));
    }
    void closeMainWindow() override {}

  private:
    const BackupList& doc_;
};

// Every Listing decided file by file as a run would, printed line by line.
int PreviewAll(const BackupList& doc, HeadlessHost& host, HeadlessView& view) {
    // Nothing is changed, so a stop signal may simply end it.
    StopSignals::endAtOnce();
    return PreviewList(doc, host, view, [](const QByteArray& line) { PrintLine(stdout, line); });
}

}  // namespace

bool IsPreviewRequest(const QString& commandLine) {
    return commandLine.endsWith(QLatin1String(" -n"));
}

bool NoDisplayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return true;
    return !DesktopShowsWindows();
}

QByteArray UsageText() {
    return "Usage:\n"
           "  zandrel                  open the window with an empty list\n"
           "  zandrel LIST.bak         open the window with that list\n"
           "  zandrel LIST -r          run every listing of LIST at once, then quit\n"
           "  zandrel LIST -rp         the same, with a 3-second pause before quitting\n"
           "  zandrel LIST -n          print what a run would do to each file, change nothing\n"
           "  zandrel LIST -r --verify read each copy back from the disk and compare it with\n"
           "                           its source before it takes its name (also with -rp)\n"
           "  zandrel --help, -h       show this text\n"
           "  zandrel --version        show the version\n"
           "\n"
           "A run from the command line writes log.txt and errors.txt beside the program\n"
           "when it runs from a folder of its own; an installed program, or one whose\n"
#ifdef Q_OS_WIN
           "folder cannot be written, writes them in %LOCALAPPDATA%\\Zandrel\\Zandrel\\.\n"
#else
           "folder cannot be written, writes them in ~/.local/share/Zandrel/Zandrel/.\n"
#endif
#ifdef Q_OS_WIN
           "Paths are written with \\ between folders; control characters in names are\n"
           "written escaped (\\t, \\n, \\r, \\xHH) in the logs, the report and the preview.\n"
#else
           "Control characters and backslashes in names are written escaped (\\t, \\n, \\r,\n"
           "\\\\, \\xHH) in the logs, the report and the preview.\n"
#endif
           "Without a display it shows no window, prints each failure with its reason on\n"
           "standard error, and exits with:\n"
           "  0  finished, no failures\n"
           "  1  finished with failures (also when an abort came during the last file)\n"
           "  2  list not loaded, or no run asked for\n"
           "  3  a check ended the run early\n"
           "  4  aborted (Ctrl+C, SIGTERM)\n"
           "A preview (-n) runs without a window and exits as the run would (0, 1 or 3).\n"
           "It prints, per file, DECISION TAB SOURCE TAB DESTINATION; a fail-delete line\n"
           "where a Move's delete would fail; a counts line per listing; the folder\n"
           "removal's remove-folder and fail-remove-folder lines; and a total line.\n"
           "Decisions: copy, overwrite, skip-exists, skip-not-newer, excluded,\n"
           "fail-same-file, fail-not-regular, fail-clash, fail-no-rule, fail-unreachable,\n"
           "fail-unreadable-folder, fail-unreadable, fail-unwritable, fail-folder-in-the-way.\n";
}

int RunHeadless(const QString& commandLine, const NoWindowReason& noWindow) {
    const StopSignals stopSignals;
    const CommandLineRequest request =
        ParseCommandLine(commandLine, QCoreApplication::applicationDirPath(),
                         [](const QString& path) { return PathExists(path); });
    if (request.kind != CommandLineRequest::Kind::Run &&
        request.kind != CommandLineRequest::Kind::Preview) {
        const QByteArray why = noWindow.why.isEmpty()
                                   ? QByteArray("Zandrel needs a display to show its window")
                                   : noWindow.why;
        PrintLine(stderr, why + "; without one it only runs a list: zandrel LIST -r (or -rp).");
        return ExitListNotLoaded;
    }
    if (noWindow.sayForRuns && !noWindow.why.isEmpty())
        PrintLine(stderr, noWindow.why + "; the list runs without a window.");

    BackupList doc;
    HeadlessHost host;
    HeadlessView view(doc);
    SessionFlags flags;
    RunProgress progress;
    ListCommands commands(doc, host, flags);
    switch (commands.LoadBackupList(request.path)) {
        case LoadResult::Loaded:
            break;
        case LoadResult::Refused:
            commands.reportRefused(request.path);
            return ExitListNotLoaded;
        case LoadResult::NotFound:
        case LoadResult::Cancelled:
            return ExitListNotLoaded;
    }

    if (request.kind == CommandLineRequest::Kind::Preview)
        return PreviewAll(doc, host, view);

    flags.CommandLineRun = true;
    flags.PauseBeforeExit = request.pauseBeforeExit;
    RunDriver driver(doc, host, view, view, flags, progress);
    driver.setVerify(request.verify);
    host.setDriver(&driver);
    const RunResult result = driver.Command3_Click();
    const QString programFolder = QCoreApplication::applicationDirPath();
    const bool errorsFile = result.errorCount > 0 || result.outcome == RunOutcome::EndedEarly;
    const QByteArray names =
        errorsFile ? QByteArray("log.txt and errors.txt") : QByteArray("log.txt");
    const QStringList logFolders = LogFolderCandidates();
    if (result.logFailed && logFolders.isEmpty())
        PrintLine(stderr, "Zandrel could not write " + names +
                              ": its own folder cannot take them and the user has no home folder.");
    else if (result.logFailed)
        PrintLine(stderr,
                  "Zandrel could not write " + names + " in " +
                      ShownPath(EscapedName(EncodePath(logFolders.join(QStringLiteral(" or "))))) +
                      ".");
    else if (!result.logFolder.isEmpty() && result.logFolder != programFolder)
        PrintLine(stderr, "Zandrel wrote " + names + " in " +
                              ShownPath(EscapedName(EncodePath(result.logFolder))) + ".");
    return ExitStatusOf(result);
}

}  // namespace zandrel
