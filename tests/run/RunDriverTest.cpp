// The Start button's command: checks, confirmation, selection, the state of
// the window around a run, early ends, closing entries, the Summary, folder
// removal after Moves and the end of a command-line run.

#include <QFileInfo>
#include <QLocale>
#include <cstring>
#include <optional>

#include "common/Paths.h"
#include "run/RunFixture.h"
#include "run/RunLog.h"
#include "run/RunPhase.h"
#include "run/RunTexts.h"
#include "run/TestFiles.h"
#include "support/Mounts.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

class RunDriverTest : public RunFixture {
  protected:
    // Four Listings src1..src4 -> dst1..dst4, each with one file.
    void addFour() {
        for (int i = 1; i <= 4; ++i) {
            t.write(QStringLiteral("src%1/f%1.txt").arg(i), QByteArray::number(i));
            Listing l = listing(QStringLiteral("src%1").arg(i), QStringLiteral("dst%1").arg(i));
            l.CopyJustFiles = true;
            l.Description = QStringLiteral("L%1").arg(i);
            add(l);
        }
    }
    QString logFile(const QString& name) const { return t.path(QStringLiteral("logs/") + name); }
};

TEST_F(RunDriverTest, AnEmptyListOnlyShowsANote) {
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::NotStarted);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Note"));
    EXPECT_EQ(host.messages[0].text, QStringLiteral("No listings available to copy.\r\n\r\n"));
    EXPECT_EQ(host.messages[0].icon, Icon::Information);
    EXPECT_EQ(host.messages[0].buttons, Buttons::Ok);
    EXPECT_TRUE(view.events.isEmpty());
    EXPECT_EQ(host.caption, kCaptionIdle);
}

TEST_F(RunDriverTest, NoCurrentRowOnlyShowsANote) {
    addFour();
    view.current = -1;
    EXPECT_EQ(run().outcome, RunOutcome::NotStarted);
    EXPECT_EQ(messageTexts(),
              QStringList{QStringLiteral("Note: Select the listing you want to backup.\r\n\r\n")});
    EXPECT_TRUE(view.events.isEmpty());
}

TEST_F(RunDriverTest, WithNothingSelectedEveryRowIsSelectedAndConfirmed) {
    addFour();
    const RunResult r = run();
    EXPECT_EQ(view.count(QStringLiteral("select all")), 1);
    ASSERT_FALSE(host.messages.isEmpty());
    const RecordedMessage& confirm = host.messages[0];
    EXPECT_EQ(confirm.title, QStringLiteral("Confirm"));
    EXPECT_EQ(confirm.icon, Icon::Information);
    EXPECT_EQ(confirm.buttons, Buttons::OkCancel);
    QString expected = QStringLiteral("The following folders are selected:\r\n\r\n");
    for (int i = 1; i <= 4; ++i)
        expected += t.path(QStringLiteral("src%1").arg(i)) + QStringLiteral("\r\n");
    EXPECT_EQ(confirm.text, expected);
    EXPECT_EQ(r.copiedCount, 4);
}

TEST_F(RunDriverTest, OnlySelectedRowsRunAndTwoMakeMultipleDestinations) {
    addFour();
    view.selected = {false, true, true, false};
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src3/fifo"))).constData(), 0644), 0);
    const RunResult r = run();

    EXPECT_EQ(host.messages[0].text, QStringLiteral("The following folders are selected:\r\n\r\n") +
                                         t.path(QStringLiteral("src2")) + QStringLiteral("\r\n") +
                                         t.path(QStringLiteral("src3")) + QStringLiteral("\r\n"));
    EXPECT_FALSE(t.exists(QStringLiteral("dst1")));
    EXPECT_FALSE(t.exists(QStringLiteral("dst4")));
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral(" : Copy process initiated (L2)"),
                                      QStringLiteral(" : Copy process initiated (L3)"),
                                      QStringLiteral(" : Finished Copy process (L3)"),
                                      QStringLiteral(" : 2 files copied....1 errors.")}));
    ASSERT_TRUE(view.summaryShown);
    EXPECT_EQ(view.summaryDestination, QStringLiteral("Destination folder: Multiple destinations"));
    EXPECT_EQ(view.summaryCopied, 2);
    EXPECT_EQ(view.summaryEntries,
              QList<QByteArray>{"Copy failed: " + EncodePath(t.path(QStringLiteral("src3/fifo")))});
}

TEST_F(RunDriverTest, OneSelectedRowNamesItsDestinationInTheSummary) {
    addFour();
    view.selected = {false, false, true, false};
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src3/fifo"))).constData(), 0644), 0);
    run();
    ASSERT_TRUE(view.summaryShown);
    EXPECT_EQ(view.summaryDestination,
              QStringLiteral("Destination folder: ") + t.path(QStringLiteral("dst3")));
}

TEST_F(RunDriverTest, CancelInTheConfirmationChangesNothingButTheSummary) {
    addFour();
    host.reports = {QStringLiteral("earlier entry")};
    host.answers = {Answer::Cancel};
    EXPECT_EQ(run().outcome, RunOutcome::NotStarted);
    EXPECT_EQ(view.events,
              (QStringList{QStringLiteral("close summary"), QStringLiteral("select all")}));
    EXPECT_EQ(host.reports, QStringList{QStringLiteral("earlier entry")});
    EXPECT_FALSE(t.exists(QStringLiteral("dst1")));
    EXPECT_EQ(host.caption, kCaptionIdle);
}

TEST_F(RunDriverTest, ARunLocksTheWindowEmptiesTheReportsAndRestoresIt) {
    addFour();
    host.reports = {QStringLiteral("earlier entry")};
    QStringList captions;
    host.onYield = [&] {
        if (captions.isEmpty() || captions.last() != host.caption)
            captions << host.caption;
    };
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(captions, (QStringList{kCaptionIdle, kCaptionRunning}));
    EXPECT_EQ(host.caption, kCaptionIdle);
    EXPECT_EQ(view.events.first(), QStringLiteral("close summary"));
    EXPECT_LT(view.events.indexOf(QStringLiteral("lock")),
              view.events.indexOf(QStringLiteral("restore")));
    EXPECT_EQ(view.events.last(), QStringLiteral("restore"));
    EXPECT_FALSE(view.summaryShown);
    EXPECT_EQ(host.statusText, QStringLiteral("4 tasks"));
    EXPECT_EQ(entries().size(), 6);
    EXPECT_EQ(entries().mid(4), (QStringList{QStringLiteral(" : Finished Copy process (L4)"),
                                             QStringLiteral(" : 4 files copied....0 errors.")}));
    // The overall bar ends at 0.
    EXPECT_EQ(view.matching(QStringLiteral("overall")).last(), QStringLiteral("overall 0/1"));
    EXPECT_EQ(progress.RunBytesCopied, 4.0);
}

TEST_F(RunDriverTest, EachRunReportsItsOwnOutcome) {
    addFour();
    // Once the first Listing is done and the second lists its files (an
    // abort while the first one's copy waits for its name would drop it, and
    // a slow commit yields while it waits).
    host.onYield = [&] {
        if (!host.reports.isEmpty() && host.reports.last().endsWith(u"process initiated (L2)") &&
            host.caption == kCaptionRunning &&
            host.statusText == QStringLiteral("Creating list of files to be copied..."))
            driver.Command3_Click();
    };
    host.answers = {Answer::Ok, Answer::Yes};
    EXPECT_EQ(run().outcome, RunOutcome::Aborted);
    EXPECT_EQ(entries().mid(entries().size() - 2),
              (QStringList{QStringLiteral(" : Aborted by user (L2)"),
                           QStringLiteral(" : 1 files copied....0 errors.")}));
    EXPECT_EQ(view.events.last(), QStringLiteral("restore"));

    host.onYield = nullptr;
    view.copied = 0;
    const RunResult again = run();
    EXPECT_EQ(again.outcome, RunOutcome::Finished);
    EXPECT_FALSE(driver.state().AbortedByUser);
    EXPECT_EQ(entries().mid(entries().size() - 2),
              (QStringList{QStringLiteral(" : Finished Copy process (L4)"),
                           QStringLiteral(" : 4 files copied....0 errors.")}));
}

// ---------------------------------------------------------------------------
// Early ends

enum class EarlyEnd { SourceMissing, DeclineCreate, CannotCreate, Identical, NotWritable };

struct EarlyCase {
    EarlyEnd end;
    const char* message;  // title ": " text, empty for none
    const char* entry;    // the last report entry, empty for none
};

class EarlyEndTest : public RunDriverTest, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(EarlyEndTest, EndsTheWholeRunWithNothingAfterIt) {
    const EarlyCase c = GetParam();
    for (const bool commandLine : {false, true}) {
        SCOPED_TRACE(commandLine ? "command line" : "by hand");
        t.write(QStringLiteral("src/a.txt"), "a");
        t.write(QStringLiteral("later/b.txt"), "b");
        t.mkdir(QStringLiteral("dst"));
        Listing first = listing();
        first.Action = ListingAction::Move;
        first.Description = QStringLiteral("First");
        Listing broken = listing();
        broken.Description = QStringLiteral("Broken");
        std::optional<ScopedMount> mount;
        switch (c.end) {
            case EarlyEnd::SourceMissing:
                broken.SourceFolder = t.path(QStringLiteral("missing"));
                break;
            case EarlyEnd::DeclineCreate:
                broken.DestinationFolder = t.path(QStringLiteral("new/folder"));
                host.answers = {Answer::Ok, Answer::No};
                break;
            case EarlyEnd::CannotCreate:
                t.write(QStringLiteral("blocker"), "a file");
                broken.DestinationFolder = t.path(QStringLiteral("blocker/sub"));
                break;
            case EarlyEnd::Identical:
                // The same folder under another spelling.
                broken.DestinationFolder = t.path(QStringLiteral("src/../src"));
                break;
            case EarlyEnd::NotWritable:
                t.mkdir(QStringLiteral("frozen"));
                mount.emplace(ScopedMount::ReadOnlyBind(t.path(QStringLiteral("frozen")),
                                                        t.path(QStringLiteral("ro"))));
                if (!mount->ok())
                    GTEST_SKIP() << mount->why().toStdString();
                broken.DestinationFolder = t.path(QStringLiteral("ro"));
                break;
        }
        doc.resetLines(
            {EncodeListingLine(first), EncodeListingLine(broken),
             EncodeListingLine(listing(QStringLiteral("later"), QStringLiteral("dst3")))});
        view.rows = 3;
        view.events.clear();
        host.messages.clear();
        flags.CommandLineRun = commandLine;
        if (commandLine && c.end == EarlyEnd::DeclineCreate)
            continue;  // no question then
        QFile::remove(logFile(kLogFileName));
        const RunResult r = run();

        EXPECT_EQ(r.outcome, RunOutcome::EndedEarly);
        QString expectedMessage = QString::fromUtf8(c.message);
        expectedMessage.replace(QStringLiteral("%DST"), broken.DestinationFolder);
        QStringList messages = messageTexts();
        if (!commandLine)
            messages.removeFirst();  // the confirmation
        if (!commandLine && (c.end == EarlyEnd::DeclineCreate || c.end == EarlyEnd::CannotCreate))
            messages.removeFirst();  // the question whether to create it
        EXPECT_EQ(messages,
                  expectedMessage.isEmpty() ? QStringList{} : QStringList{expectedMessage});
        QStringList expectedEntries{QStringLiteral(" : Move process initiated (First)"),
                                    QStringLiteral(" : Copy process initiated (Broken)")};
        if (*c.entry)
            expectedEntries << QString::fromUtf8(c.entry);
        EXPECT_EQ(entries(), expectedEntries);
        // Nothing of the end of a run: no Summary, no folder removal; an
        // unattended run's logs tell what was done before the check.
        EXPECT_EQ(host.caption, kCaptionIdle);
        EXPECT_EQ(view.events.last(), QStringLiteral("restore"));
        EXPECT_EQ(view.count(QStringLiteral("restore")), 1);
        EXPECT_FALSE(view.summaryShown);
        const QByteArray summary =
            "1 files copied....0 errors  :  " + EncodePath(broken.SourceFolder) + "---->Copy---->" +
            EncodePath(broken.DestinationFolder) + "\r\n";
        EXPECT_EQ(ReadBytes(EncodePath(logFile(kLogFileName))).endsWith("-->" + summary),
                  commandLine);
        EXPECT_EQ(ReadBytes(EncodePath(logFile(kErrorsFileName))).endsWith("----->" + summary),
                  commandLine);
        QFile::remove(logFile(kErrorsFileName));
        EXPECT_EQ(view.count(QStringLiteral("close window")), 0);
        EXPECT_FALSE(flags.CommandLineRun);
        EXPECT_TRUE(QFileInfo(t.path(QStringLiteral("src"))).isDir()) << "moved folder removed";
        EXPECT_FALSE(t.exists(QStringLiteral("dst3")));
        EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.root())).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, EarlyEndTest,
    ::testing::Values(
        EarlyCase{EarlyEnd::SourceMissing, "Error notice: Source folder was not found",
                  " : Aborted (Source folder was not found)"},
        EarlyCase{EarlyEnd::DeclineCreate, "", ""},
        EarlyCase{EarlyEnd::CannotCreate, "Error notice: Destination folder could not be created.",
                  " : Aborted (Destination folder could not be created)"},
        EarlyCase{EarlyEnd::Identical, "Error notice: Source/Destination folders are identical.",
                  " : Aborted (Source/Destination folders are identical)"},
        EarlyCase{EarlyEnd::NotWritable,
                  "Error: Could not write to the following folder:\r\n\r\n%DST", ""}));

TEST_F(RunDriverTest, AMissingDestinationIsOfferedAndMade) {
    t.write(QStringLiteral("src/a.txt"), "a");
    Listing l = listing(QStringLiteral("src"), QStringLiteral("new/deeper/dst"));
    l.CopyJustFiles = true;
    add(l);
    run();
    ASSERT_EQ(host.messages.size(), 2);
    const RecordedMessage& ask = host.messages[1];
    EXPECT_EQ(ask.title, QStringLiteral("Folder not found"));
    EXPECT_EQ(ask.icon, Icon::Question);
    EXPECT_EQ(ask.buttons, Buttons::YesNo);
    EXPECT_EQ(ask.text, QStringLiteral("Destination folder was not found:\r\n") +
                            t.path(QStringLiteral("new/deeper/dst")) +
                            QStringLiteral("\r\n\r\nWould you like to create it?"));
    EXPECT_EQ(t.read(QStringLiteral("new/deeper/dst/a.txt")), "a");
}

TEST_F(RunDriverTest, ACommandLineRunMakesAMissingDestinationWithoutAsking) {
    t.write(QStringLiteral("src/a.txt"), "a");
    Listing l = listing(QStringLiteral("src"), QStringLiteral("new/dst"));
    l.CopyJustFiles = true;
    add(l);
    flags.CommandLineRun = true;
    run();
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(t.read(QStringLiteral("new/dst/a.txt")), "a");
}

TEST_F(RunDriverTest, AListingThatMatchesNothingIsDoneAndLeavesOnlyItsFolder) {
    t.write(QStringLiteral("src/a.txt"), "a");
    Listing l = listing(QStringLiteral("src"), QStringLiteral("made"));
    l.Filter = QStringLiteral("*.none");
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_TRUE(QDir(t.path(QStringLiteral("made")))
                    .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// ---------------------------------------------------------------------------
// Folder removal after Moves

TEST_F(RunDriverTest, OnlyTheLastMoveListingsFoldersAreRemoved) {
    t.write(QStringLiteral("m1/A/a.txt"), "a");
    t.write(QStringLiteral("m2/B/b.txt"), "b");
    for (const QString& name : {QStringLiteral("m1"), QStringLiteral("m2")}) {
        Listing l = listing(name, QStringLiteral("dst"));
        l.Action = ListingAction::Move;
        l.CopyJustFiles = true;
        add(l);
    }
    const RunResult r = run();
    EXPECT_EQ(r.errorCount, 0);
    EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
    EXPECT_EQ(t.read(QStringLiteral("dst/b.txt")), "b");
    EXPECT_TRUE(QFileInfo(t.path(QStringLiteral("m1/A"))).isDir());
    EXPECT_FALSE(t.exists(QStringLiteral("m2")));
}

TEST_F(RunDriverTest, AMoveFollowedByACopyRemovesNoFolder) {
    t.write(QStringLiteral("m1/A/a.txt"), "a");
    t.write(QStringLiteral("c/c.txt"), "c");
    Listing move = listing(QStringLiteral("m1"), QStringLiteral("dst"));
    move.Action = ListingAction::Move;
    add(move);
    add(listing(QStringLiteral("c"), QStringLiteral("dst2")));
    run();
    EXPECT_TRUE(QFileInfo(t.path(QStringLiteral("m1/A"))).isDir());
    EXPECT_FALSE(t.exists(QStringLiteral("m1/A/a.txt")));
}

TEST_F(RunDriverTest, ASkippedFileReportsItsFoldersAndTheImmediateOneTwice) {
    t.write(QStringLiteral("data/a.txt"), "a");
    t.write(QStringLiteral("data/B/b.txt"), "b");
    t.write(QStringLiteral("data/B/C/c.txt"), "c");
    t.write(QStringLiteral("data/B/C/keep.txt"), "k");
    t.write(QStringLiteral("data/E/e.txt"), "e");
    t.write(QStringLiteral("dst/keep.txt"), "existing");
    Listing l = listing(QStringLiteral("data"), QStringLiteral("dst"));
    l.Action = ListingAction::Move;
    l.CopyJustFiles = true;
    l.IfExists = ExistingFileRule::SkipFile;
    l.Filter = QStringLiteral("*.txt");
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.copiedCount, 4);
    const QString data = t.path(QStringLiteral("data"));
    EXPECT_EQ(errorEntries(),
              (QStringList{QStringLiteral("Delete failed: ") + data + QStringLiteral("/B/C"),
                           QStringLiteral("Delete failed: ") + data + QStringLiteral("/B"),
                           QStringLiteral("Delete failed: ") + data + QStringLiteral("/B"),
                           QStringLiteral("Delete failed: ") + data}));
    EXPECT_FALSE(t.exists(QStringLiteral("data/E")));
    EXPECT_EQ(driver.state().ErrorReasons,
              QList<QString>(4, QString::fromLocal8Bit(std::strerror(ENOTEMPTY))));
    EXPECT_EQ(entries().last(), QStringLiteral(" : 4 files copied....4 errors."));
    // The folder failures reach the Summary, not the error counter.
    EXPECT_EQ(view.summaryEntries.size(), 4);
    EXPECT_EQ(view.errors, 0);
}

// ---------------------------------------------------------------------------
// Command-line runs

TEST_F(RunDriverTest, ACommandLineRunTakesEveryRowAsksNothingWritesTheLogsAndCloses) {
    addFour();
    view.selected = {false, true, false, false};
    view.current = 1;
    flags.CommandLineRun = true;
    const RunResult r = run();

    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.copiedCount, 4);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(view.events.last(), QStringLiteral("close window"));
    EXPECT_EQ(view.count(QStringLiteral("restore")), 0);
    EXPECT_EQ(view.count(QStringLiteral("disable start")), 0);
    EXPECT_TRUE(QFile::exists(logFile(kLogFileName)));
    EXPECT_FALSE(QFile::exists(logFile(kErrorsFileName)));
    EXPECT_FALSE(flags.ClosePermitted);
}

TEST_F(RunDriverTest, ThePauseSwitchDisablesTheButtonAndWaitsBeforeClosing) {
    addFour();
    flags.CommandLineRun = true;
    flags.PauseBeforeExit = true;
    int yieldsAtFinish = -1;
    qint64 pauseStart = 0;
    host.onYield = [&] {
        if (yieldsAtFinish < 0 && view.count(QStringLiteral("disable start")) == 1) {
            yieldsAtFinish = host.yields;
            pauseStart = clock.now();
            EXPECT_TRUE(flags.ClosePermitted);
            EXPECT_EQ(host.caption, kCaptionIdle);
        }
    };
    run();
    ASSERT_GE(yieldsAtFinish, 0) << "no yield during the pause";
    EXPECT_GE(clock.now() - pauseStart, 3000);
    EXPECT_GT(host.yields - yieldsAtFinish, 10);
    EXPECT_EQ(view.events.mid(view.events.size() - 2),
              (QStringList{QStringLiteral("disable start"), QStringLiteral("close window")}));
}

TEST_F(RunDriverTest, AnAbortedCommandLineRunStaysOpenWithoutLogsAndShowsItsSummary) {
    addFour();
    t.write(QStringLiteral("logs/log.txt"), "previous log");
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src1/fifo"))).constData(), 0644), 0);
    flags.CommandLineRun = true;
    host.onYield = [&] {
        if (view.errors == 1 && view.copied == 1 && host.caption == kCaptionRunning)
            driver.Command3_Click();
    };
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::Aborted);
    EXPECT_FALSE(flags.CommandLineRun);
    EXPECT_EQ(t.read(QStringLiteral("logs/log.txt")), "previous log");
    EXPECT_FALSE(QFile::exists(logFile(kErrorsFileName)));
    EXPECT_TRUE(view.summaryShown);
    EXPECT_EQ(view.count(QStringLiteral("close window")), 0);
    EXPECT_EQ(view.events.last(), QStringLiteral("restore"));
}

// ---------------------------------------------------------------------------
// Log files

class LogFileTest : public RunDriverTest {
  protected:
    // The locale's short date, a blank and the time, then the rest; CR LF.
    static bool MatchesLine(const QString& line, const QString& rest) {
        static const QRegularExpression re(QStringLiteral("^(.+) (\\d{1,2}:\\d{2}:\\d{2})(.*)$"));
        const auto m = re.match(line);
        return m.hasMatch() &&
               QLocale::system().toDate(m.captured(1), QLocale::ShortFormat).isValid() &&
               m.captured(3) == rest;
    }
    void expectLines(const QString& file, const QStringList& rests) {
        const QByteArray bytes = t.read(QStringLiteral("logs/") + file);
        ASSERT_TRUE(bytes.endsWith("\r\n")) << bytes.toStdString();
        const QList<QByteArray> lines = bytes.chopped(2).split('\n');
        ASSERT_EQ(lines.size(), rests.size()) << bytes.toStdString();
        for (int i = 0; i < rests.size(); ++i) {
            QByteArray line = lines[i];
            if (i + 1 < lines.size()) {
                ASSERT_TRUE(line.endsWith('\r'));
                line.chop(1);
            }
            EXPECT_TRUE(MatchesLine(QString::fromUtf8(line), rests[i]))
                << line.toStdString() << "\n  expected ...." << rests[i].toStdString();
        }
    }
};

TEST_F(LogFileTest, AnErrorFreeRunWritesOneSummaryLineAndNoErrorFile) {
    addFour();
    t.write(QStringLiteral("logs/errors.txt"), "from an earlier run");
    flags.CommandLineRun = true;
    run();
    expectLines(kLogFileName, {QStringLiteral("-->4 files copied....0 errors  :  ") +
                               t.path(QStringLiteral("src4")) + QStringLiteral("---->Copy---->") +
                               t.path(QStringLiteral("dst4"))});
    EXPECT_FALSE(QFile::exists(logFile(kErrorsFileName)));
}

TEST_F(LogFileTest, ErrorsOfTheFirstListingAreListedAndTheSecondIsNamed) {
    t.write(QStringLiteral("s1/ok.txt"), "ok");
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("s1/f1"))).constData(), 0644), 0);
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("s1/f2"))).constData(), 0644), 0);
    t.write(QStringLiteral("s2/b.txt"), "b");
    add(listing(QStringLiteral("s1"), QStringLiteral("d1")));
    Listing second = listing(QStringLiteral("s2"), QStringLiteral("d2"));
    second.Action = ListingAction::Move;
    add(second);
    flags.CommandLineRun = true;
    run();
    expectLines(kLogFileName,
                {QStringLiteral("-->Copy failed: ") + t.path(QStringLiteral("s1/f1")),
                 QStringLiteral("-->Copy failed: ") + t.path(QStringLiteral("s1/f2"))});
    expectLines(kErrorsFileName, {QStringLiteral("----->2 files copied....2 errors  :  ") +
                                  t.path(QStringLiteral("s2")) + QStringLiteral("---->Move---->") +
                                  t.path(QStringLiteral("d2"))});
}

TEST_F(LogFileTest, EveryCommandLineRunReplacesTheLogsAndARunByHandLeavesThem) {
    addFour();
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src2/fifo"))).constData(), 0644), 0);
    flags.CommandLineRun = true;
    run();
    ASSERT_TRUE(QFile::exists(logFile(kErrorsFileName)));
    const QByteArray withErrors = t.read(QStringLiteral("logs/log.txt"));

    flags.CommandLineRun = false;
    run();  // by hand
    EXPECT_EQ(t.read(QStringLiteral("logs/log.txt")), withErrors);

    QFile::remove(t.path(QStringLiteral("src2/fifo")));
    flags.CommandLineRun = true;
    run();
    EXPECT_FALSE(QFile::exists(logFile(kErrorsFileName)));
    expectLines(kLogFileName, {QStringLiteral("-->4 files copied....0 errors  :  ") +
                               t.path(QStringLiteral("src4")) + QStringLiteral("---->Copy---->") +
                               t.path(QStringLiteral("dst4"))});
}

TEST_F(LogFileTest, LogLinesCarryNameBytesExactly) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray fifo = EncodePath(t.path(QStringLiteral("src"))) + "/n\xe9\xff";
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    add(listing());
    flags.CommandLineRun = true;
    run();
    const QByteArray log = t.read(QStringLiteral("logs/log.txt"));
    EXPECT_TRUE(log.endsWith("-->Copy failed: " + fifo + "\r\n")) << log.toStdString();
}

TEST_F(LogFileTest, LogLinesEscapeControlCharactersInNames) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray src = EncodePath(t.path(QStringLiteral("src")));
    const QByteArray forged = "x\n01.01.2026 00:00:00-->0 files copied....0 errors\t\r\\";
    ASSERT_EQ(::mkfifo((src + '/' + forged).constData(), 0644), 0);
    add(listing());
    flags.CommandLineRun = true;
    run();
    const QByteArray log = t.read(QStringLiteral("logs/log.txt"));
    EXPECT_EQ(log.count('\n'), 1) << log.toStdString();
    EXPECT_TRUE(log.endsWith("-->Copy failed: " + src +
                             "/x\\n01.01.2026 00:00:00-->0 files copied....0 errors\\t\\r\\\\\r\n"))
        << log.toStdString();
}

// Whatever stands at the names the logs take, and whatever fails while they
// are written, no file but the two logs is changed and a failure leaves the
// previous logs whole.
enum class Planted { LinkAtLog, LinkAtErrors, LinkAtNewFile, FolderAtNewFile, FullDisk };

class LogFileSafetyTest : public LogFileTest, public ::testing::WithParamInterface<Planted> {};

TEST_P(LogFileSafetyTest, NothingButTheLogsChangesAndNothingIsLost) {
    const Planted planted = GetParam();
    std::optional<ScopedMount> disk;
    if (planted == Planted::FullDisk) {
        disk.emplace(ScopedMount::Tmpfs(t.path(QStringLiteral("logs")), 64));
        if (!disk->ok())
            GTEST_SKIP() << disk->why().toStdString();
    }
    t.write(QStringLiteral("victim"), "not yours");
    t.write(QStringLiteral("logs/log.txt"), "previous log");
    t.write(QStringLiteral("logs/errors.txt"), "previous errors");
    const QByteArray victim = EncodePath(t.path(QStringLiteral("victim")));
    const auto plantLink = [&](const QString& name) {
        QFile::remove(logFile(name));
        ASSERT_EQ(::symlink(victim.constData(), EncodePath(logFile(name)).constData()), 0);
    };
    switch (planted) {
        case Planted::LinkAtLog:
            plantLink(kLogFileName);
            break;
        case Planted::LinkAtErrors:
            plantLink(kErrorsFileName);
            break;
        case Planted::LinkAtNewFile:
            plantLink(QStringLiteral(".zandrel-log.new"));
            break;
        case Planted::FolderAtNewFile:
            t.mkdir(QStringLiteral("logs/.zandrel-log.new"));
            break;
        case Planted::FullDisk:
            // Fills the disk: the write stops short.
            WriteBytes(EncodePath(logFile(QStringLiteral("filler"))), QByteArray(200 * 1024, 'f'));
            break;
    }
    t.mkdir(QStringLiteral("src"));
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src/pipe"))).constData(), 0644), 0);
    add(listing());
    flags.CommandLineRun = true;
    const RunResult r = run();

    EXPECT_EQ(t.read(QStringLiteral("victim")), "not yours");
    if (planted == Planted::FullDisk) {
        EXPECT_TRUE(r.logFailed);
        EXPECT_EQ(t.read(QStringLiteral("logs/log.txt")), "previous log");
        EXPECT_EQ(t.read(QStringLiteral("logs/errors.txt")), "previous errors");
        EXPECT_EQ(EntryNames(EncodePath(t.path(QStringLiteral("logs")))).size(), 3);
        return;
    }
    EXPECT_FALSE(r.logFailed);
    for (const QString& name : {kLogFileName, kErrorsFileName})
        EXPECT_TRUE(QFileInfo(logFile(name)).isFile() && !QFileInfo(logFile(name)).isSymLink());
    EXPECT_TRUE(t.read(QStringLiteral("logs/log.txt")).contains("-->Copy failed: "));
    EXPECT_TRUE(t.read(QStringLiteral("logs/errors.txt")).contains("----->0 files copied....1 "));
    EXPECT_EQ(EntryNames(EncodePath(t.path(QStringLiteral("logs")))).size(),
              planted == Planted::LinkAtNewFile || planted == Planted::FolderAtNewFile ? 3 : 2);
}

std::string PlantedName(const ::testing::TestParamInfo<Planted>& info) {
    static const char* const kNames[] = {"LinkAtLog", "LinkAtErrors", "LinkAtNewFile",
                                         "FolderAtNewFile", "FullDisk"};
    return kNames[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Cases, LogFileSafetyTest,
                         ::testing::Values(Planted::LinkAtLog, Planted::LinkAtErrors,
                                           Planted::LinkAtNewFile, Planted::FolderAtNewFile,
                                           Planted::FullDisk),
                         PlantedName);

TEST_F(LogFileTest, AnErrorFreeRunRemovesALinkAtErrorsTxtNotItsTarget) {
    addFour();
    t.write(QStringLiteral("victim"), "not yours");
    ASSERT_EQ(::symlink(EncodePath(t.path(QStringLiteral("victim"))).constData(),
                        EncodePath(logFile(kErrorsFileName)).constData()),
              0);
    flags.CommandLineRun = true;
    EXPECT_FALSE(run().logFailed);
    EXPECT_FALSE(QFileInfo(logFile(kErrorsFileName)).isSymLink());
    EXPECT_EQ(t.read(QStringLiteral("victim")), "not yours");
}

// An installed program keeps out of its folder; one of its own writes there.
struct InstalledCase {
    const char* folder;
    bool installed;
};

class InstalledFolderTest : public ::testing::TestWithParam<InstalledCase> {};

TEST_P(InstalledFolderTest, SystemFoldersAreInstalledOnes) {
    EXPECT_EQ(IsInstalledProgramFolder(QString::fromUtf8(GetParam().folder)), GetParam().installed);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstalledFolderTest,
    ::testing::Values(InstalledCase{"/usr/bin", true}, InstalledCase{"/usr/bin/", true},
                      InstalledCase{"/bin", true}, InstalledCase{"/usr/local/bin", true},
                      InstalledCase{"/usr/sbin", true}, InstalledCase{"/usr/lib/../bin", true},
                      InstalledCase{"/opt/zandrel", false},
                      InstalledCase{"/home/ann/zandrel/build", false},
                      InstalledCase{"/usr/bin/zandrel-1.0", false}));

class WaitSecondsTest : public ::testing::TestWithParam<int> {};

TEST_P(WaitSecondsTest, WaitsTheTimeAndYieldsBeforeEveryRest) {
    const int seconds = GetParam();
    FakeHost host;
    FakeClock clock;
    int restsBeforeYield = 0;
    clock.onRest = [&] { restsBeforeYield += clock.rests > host.yields ? 1 : 0; };
    const qint64 start = clock.now();
    WaitSeconds(host, clock, seconds);
    EXPECT_GE(clock.now() - start, seconds * 1000);
    EXPECT_LT(clock.now() - start, seconds * 1000 + 10);  // rests of 10 ms at most
    EXPECT_GE(host.yields, seconds * 100);
    EXPECT_EQ(host.yields, clock.rests);
    EXPECT_EQ(restsBeforeYield, 0);
}

INSTANTIATE_TEST_SUITE_P(Seconds, WaitSecondsTest, ::testing::Values(0, 1, 3));

}  // namespace

namespace {

struct ZoneCase {
    const char* format;
    const char* without;
};

class TimeFormatTest : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(TimeFormatTest, DropsTheTimeZoneAndItsBlanks) {
    EXPECT_EQ(TimeFormatWithoutZone(QString::fromUtf8(GetParam().format)),
              QString::fromUtf8(GetParam().without));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TimeFormatTest,
    ::testing::Values(ZoneCase{"HH:mm:ss t", "HH:mm:ss"}, ZoneCase{"h:mm:ss AP t", "h:mm:ss AP"},
                      ZoneCase{"t HH:mm:ss", "HH:mm:ss"}, ZoneCase{"HH:mm:ss tttt", "HH:mm:ss"},
                      ZoneCase{"H 'h' mm 'min' ss 's' t", "H 'h' mm 'min' ss 's'"},
                      ZoneCase{"HH:mm 'at' ss", "HH:mm 'at' ss"},
                      ZoneCase{"HH:mm:ss", "HH:mm:ss"}));

}  // namespace
