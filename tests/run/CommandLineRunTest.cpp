// The program itself, run without a display: " -r" and " -rp" runs with
// their exit statuses, standard output and error, the log files beside the
// program, the pause, and SIGINT / SIGTERM as the Cancel button.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <functional>

#include "common/Paths.h"
#include "listing/Listing.h"
#include "run/TestFiles.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

struct Outcome {
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 milliseconds = 0;
};

class CommandLineRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program = t.copyProgram();
        ASSERT_FALSE(program.isEmpty()) << "ZANDREL_BINARY is not set or cannot be copied";
    }

    void TearDown() override { RemoveTreeContents(EncodePath(t.root())); }

    QProcess* start(const QStringList& arguments, const QString& workingFolder = {}) {
        process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), t.path(QStringLiteral("data-home")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (adjustEnvironment)
            adjustEnvironment(env);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(workingFolder.isEmpty() ? t.root() : workingFolder);
        process->start(programToRun.isEmpty() ? program : programToRun, arguments);
        EXPECT_TRUE(process->waitForStarted(30000));
        return process.get();
    }

    Outcome finish() {
        Outcome o;
        EXPECT_TRUE(process->waitForFinished(120000));
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        o.status = process->exitCode();
        o.out = process->readAllStandardOutput();
        o.err = process->readAllStandardError();
        return o;
    }

    Outcome runProgram(const QStringList& arguments, const QString& workingFolder = {}) {
        QElapsedTimer timer;
        timer.start();
        start(arguments, workingFolder);
        Outcome o = finish();
        o.milliseconds = timer.elapsed();
        return o;
    }

    Listing listing(const QString& src, const QString& dst, const QString& description) const {
        Listing l;
        l.SourceFolder = t.path(src);
        l.DestinationFolder = t.path(dst);
        l.CopyJustFiles = true;
        l.Description = description;
        return l;
    }

    void writeList(const QString& relative, const QList<Listing>& listings) const {
        QByteArray bytes;
        for (const Listing& l : listings) bytes += EncodeListingLine(l).toUtf8() + "\r\n";
        t.write(relative, bytes);
    }

    QByteArray logBytes(const QString& name) const { return t.read(QStringLiteral("bin/") + name); }

    // Lines of standard output without their time of day.
    static QStringList reportLines(const QByteArray& out) {
        static const QRegularExpression time(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}(?= : )"));
        QStringList lines;
        for (const QByteArray& line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            const QString text = QString::fromUtf8(line);
            const auto m = time.match(text);
            EXPECT_TRUE(m.hasMatch()) << line.toStdString();
            lines << text.mid(m.capturedLength());
        }
        return lines;
    }

    // One log line: the locale's short date, a blank, the time, then rest.
    static bool MatchesLogLine(const QByteArray& line, const QString& rest) {
        static const QRegularExpression re(
            QStringLiteral("^(.+) (\\d{1,2}:\\d{2}:\\d{2})(.*)\r\n$"));
        const auto m = re.match(QString::fromUtf8(line));
        return m.hasMatch() &&
               QLocale::system().toDate(m.captured(1), QLocale::ShortFormat).isValid() &&
               m.captured(3) == rest;
    }

    TempTree t;
    QString program;
    QString programToRun;  // another path to the program, when set
    std::function<void(QProcessEnvironment&)> adjustEnvironment;
    std::unique_ptr<QProcess> process;
};

TEST_F(CommandLineRunTest, ACleanRunPrintsItsEntriesWritesItsLogAndExitsZero) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.write(QStringLiteral("bin/errors.txt"), "from before");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});

    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(reportLines(o.out), (QStringList{QStringLiteral(" : Copy process initiated (Daily)"),
                                               QStringLiteral(" : Finished Copy process (Daily)"),
                                               QStringLiteral(" : 1 files copied....0 errors.")}));
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
    EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
    EXPECT_TRUE(MatchesLogLine(
        logBytes(QStringLiteral("log.txt")),
        QStringLiteral("-->1 files copied....0 errors  :  ") + t.path(QStringLiteral("src")) +
            QStringLiteral("---->Copy---->") + t.path(QStringLiteral("dst"))))
        << logBytes(QStringLiteral("log.txt")).toStdString();
    EXPECT_FALSE(t.exists(QStringLiteral("bin/errors.txt")));
}

TEST_F(CommandLineRunTest, ARunWithFailuresListsThemAndExitsOne) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray fifo = EncodePath(t.path(QStringLiteral("src"))) + "/pipe\xe9";
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    t.write(QStringLiteral("src/ok.txt"), "ok");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});

    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(reportLines(o.out).last(), QStringLiteral(" : 1 files copied....1 errors."));
    const QByteArray log = logBytes(QStringLiteral("log.txt"));
    EXPECT_TRUE(log.endsWith("-->Copy failed: " + fifo + "\r\n")) << log.toStdString();
    EXPECT_EQ(log.count("\r\n"), 1);
    EXPECT_TRUE(MatchesLogLine(
        logBytes(QStringLiteral("errors.txt")),
        QStringLiteral("----->1 files copied....1 errors  :  ") + t.path(QStringLiteral("src")) +
            QStringLiteral("---->Copy---->") + t.path(QStringLiteral("dst"))));
}

struct NotLoadedCase {
    const char* name;
    std::vector<const char*> arguments;  // "%T" stands for the temporary folder
    const char* contents;                // of %T/list.bak, or nullptr for none
    const char* says;
};

class NotLoadedTest : public CommandLineRunTest,
                      public ::testing::WithParamInterface<NotLoadedCase> {};

TEST_P(NotLoadedTest, SaysWhyOnStandardErrorAndExitsTwo) {
    const NotLoadedCase c = GetParam();
    if (c.contents)
        t.write(QStringLiteral("list.bak"), c.contents);
    QStringList arguments;
    for (const char* a : c.arguments)
        arguments << QString::fromUtf8(a).replace(QStringLiteral("%T"), t.root());
    const Outcome o = runProgram(arguments);
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
    EXPECT_TRUE(o.err.contains(c.says)) << o.err.toStdString();
    EXPECT_FALSE(t.exists(QStringLiteral("bin/log.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotLoadedTest,
    ::testing::Values(
        NotLoadedCase{"Missing", {"%T/none.bak", "-r"}, nullptr, "not found"},
        NotLoadedCase{"Invalid", {"%T/list.bak", "-rp"}, "Copy<only<three\r\n", "Invalid"},
        NotLoadedCase{"NoSwitch", {"%T/list.bak"}, "", "needs a display"},
        NotLoadedCase{"Nothing", {}, nullptr, "needs a display"},
        NotLoadedCase{"UpperCaseSwitch", {"%T/list.bak", "-R"}, "", "needs a display"}),
    [](const auto& p) { return std::string(p.param.name); });

// Start-up cases: a display that is set but not there, a list name that is
// not UTF-8, and the two information switches.
struct StartUpCase {
    const char* name;
    const char* display;                 // DISPLAY with no platform chosen; nullptr: no display
    std::vector<const char*> arguments;  // "%L": the list's path, "%B": its path in non-UTF-8 bytes
    int status;
    bool copies;
    const char* out;  // what standard output begins with, or nullptr
    const char* err;  // standard error exactly, or nullptr for anything
};

class StartUpTest : public CommandLineRunTest, public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(StartUpTest, EndsAsTheCommandLineAsks) {
    const StartUpCase c = GetParam();
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const QByteArray bytesName = EncodePath(t.root()) + "/d\xe9ja.bak";
    ASSERT_EQ(::rename(EncodePath(t.path(QStringLiteral("daily.bak"))).constData(),
                       bytesName.constData()),
              0);
    if (c.display)
        adjustEnvironment = [&c](QProcessEnvironment& env) {
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(c.display));
        };
    QStringList arguments;
    for (const char* a : c.arguments) {
        // Only a shell can hand the program bytes that are not UTF-8.
        if (QByteArray(a) == "%B")
            arguments << QStringLiteral("$(printf '%s/d\\351ja.bak' \"$1\")");
        else
            arguments << (QByteArray(a) == "%L" ? QStringLiteral("$1/d*ja.bak")
                                                : QString::fromLatin1(a));
    }
    programToRun = QStringLiteral("/bin/sh");
    const Outcome o =
        runProgram({QStringLiteral("-c"), QStringLiteral("exec \"$0\" ") + arguments.join(u' '),
                    program, t.root()});

    EXPECT_EQ(o.status, c.status) << o.err.toStdString();
    EXPECT_EQ(t.exists(QStringLiteral("dst/a.txt")), c.copies);
    if (c.out) {
        EXPECT_TRUE(o.out.startsWith(c.out)) << o.out.toStdString();
    }
    if (c.err) {
        EXPECT_EQ(o.err, c.err);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartUpTest,
    ::testing::Values(
        StartUpCase{"StaleDisplayRunsHeadless", ":99", {"%L", "-r"}, 0, true, nullptr, nullptr},
        StartUpCase{"StaleDisplayWithoutSwitch",
                    ":99",
                    {"%L"},
                    2,
                    false,
                    "",
                    "Zandrel cannot open the display :99 to show its window; without one it only "
                    "runs a list: zandrel LIST -r (or -rp).\n"},
        StartUpCase{"NonUtf8ListName", nullptr, {"%B", "-r"}, 0, true, nullptr, ""},
        StartUpCase{"Help", ":99", {"--help"}, 0, false, "Usage:\n  zandrel ", ""},
        StartUpCase{"Version", ":99", {"--version"}, 0, false, "zandrel 1.", ""},
        StartUpCase{"HelpIsTheWholeLineOnly", nullptr, {"--help", "-r"}, 2, false, "", nullptr}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CommandLineRunTest, TheMissingListMessageNamesThePathTried) {
    const Outcome o = runProgram({t.path(QStringLiteral("none.bak")), QStringLiteral("-r")});
    EXPECT_EQ(o.err, "Error notice: File was not found  " +
                         EncodePath(t.path(QStringLiteral("bin/")) +
                                    t.path(QStringLiteral("none.bak")).mid(1)) +
                         "\n");
}

TEST_F(CommandLineRunTest, AListNamedRelativelyIsLookedForInTheProgramsFolder) {
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("bin/daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    t.mkdir(QStringLiteral("elsewhere"));
    for (const QString& name : {QStringLiteral("daily.bak"), QStringLiteral("/daily.bak")}) {
        QFile::remove(t.path(QStringLiteral("dst/a.txt")));
        const Outcome o =
            runProgram({name, QStringLiteral("-r")}, t.path(QStringLiteral("elsewhere")));
        EXPECT_EQ(o.status, 0) << name.toStdString() << o.err.toStdString();
        EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
    }
}

TEST_F(CommandLineRunTest, APathWithBlanksIsJoinedFromItsArguments) {
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("My Lists/daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const QString path = t.path(QStringLiteral("My Lists/daily.bak"));
    const Outcome o =
        runProgram({path.section(u' ', 0, 0), path.section(u' ', 1), QStringLiteral("-r")});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
}

TEST_F(CommandLineRunTest, AFailedCheckEndsEarlyWithExitThreeAndNoLog) {
    t.write(QStringLiteral("bin/log.txt"), "previous log");
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("First")),
               listing(QStringLiteral("gone"), QStringLiteral("dst2"), QStringLiteral("Second")),
               listing(QStringLiteral("src"), QStringLiteral("dst3"), QStringLiteral("Third"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});

    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.err, "Error notice: Source folder was not found\n");
    EXPECT_EQ(reportLines(o.out),
              (QStringList{QStringLiteral(" : Copy process initiated (First)"),
                           QStringLiteral(" : Copy process initiated (Second)"),
                           QStringLiteral(" : Aborted (Source folder was not found)")}));
    EXPECT_EQ(logBytes(QStringLiteral("log.txt")), "previous log");
    EXPECT_FALSE(t.exists(QStringLiteral("dst3")));
}

TEST_F(CommandLineRunTest, ThePauseSwitchWaitsThreeSecondsBeforeTheEnd) {
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-rp")});
    EXPECT_EQ(o.status, 0);
    EXPECT_GE(o.milliseconds, 3000);
    EXPECT_FALSE(logBytes(QStringLiteral("log.txt")).isEmpty());
    EXPECT_EQ(reportLines(o.out).last(), QStringLiteral(" : 1 files copied....0 errors."));
}

TEST_F(CommandLineRunTest, EveryRunReplacesTheLogFiles) {
    t.mkdir(QStringLiteral("src"));
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src/pipe"))).constData(), 0644), 0);
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    EXPECT_EQ(runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")}).status, 1);
    EXPECT_TRUE(t.exists(QStringLiteral("bin/errors.txt")));
    QFile::remove(t.path(QStringLiteral("src/pipe")));
    t.write(QStringLiteral("src/a.txt"), "a");
    EXPECT_EQ(runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")}).status, 0);
    EXPECT_FALSE(t.exists(QStringLiteral("bin/errors.txt")));
    EXPECT_TRUE(logBytes(QStringLiteral("log.txt")).contains("-->1 files copied....0 errors  :  "));
    EXPECT_EQ(logBytes(QStringLiteral("log.txt")).count("\r\n"), 1);
}

TEST_F(CommandLineRunTest, AProgramFolderThatCannotBeWrittenSendsTheLogsToTheUsersDataFolder) {
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    ScopedMount frozen =
        ScopedMount::ReadOnlyBind(t.path(QStringLiteral("bin")), t.path(QStringLiteral("ro-bin")));
    if (!frozen.ok())
        GTEST_SKIP() << frozen.why().toStdString();
    programToRun = t.path(QStringLiteral("ro-bin/zandrel"));
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_FALSE(t.exists(QStringLiteral("bin/log.txt")));
    QDirIterator it(t.path(QStringLiteral("data-home")), {QStringLiteral("log.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext()) << "no log.txt in the user's data folder";
    const QByteArray log = ReadBytes(EncodePath(it.next()));
    EXPECT_TRUE(MatchesLogLine(
        log, QStringLiteral("-->1 files copied....0 errors  :  ") + t.path(QStringLiteral("src")) +
                 QStringLiteral("---->Copy---->") + t.path(QStringLiteral("dst"))))
        << log.toStdString();
}

// SIGINT and SIGTERM. The run is held at a known place: its report lines
// fill the pipe of standard output, which the test does not read until the
// signal is sent, so the run cannot have finished by then.
class StopSignalTest : public CommandLineRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, AbortsAsTheCancelButtonDoesAndExitsFour) {
    const QByteArray contents(8192 + 17, 'z');
    t.write(QStringLiteral("src/a.dat"), contents);
    t.write(QStringLiteral("bin/log.txt"), "previous log");
    QList<Listing> listings;
    for (int i = 0; i < 1000; ++i)
        listings << listing(QStringLiteral("src"), QStringLiteral("dst"),
                            QString::number(i) + QString(900, u'x'));
    writeList(QStringLiteral("many.bak"), listings);

    QProcess* p = start({t.path(QStringLiteral("many.bak")), QStringLiteral("-r")});
    ASSERT_TRUE(p->waitForReadyRead(60000));
    ASSERT_EQ(::kill(static_cast<pid_t>(p->processId()), GetParam()), 0);
    const Outcome o = finish();

    EXPECT_EQ(o.status, 4) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("Confirm: Abort process?\n")) << o.err.toStdString();
    const QStringList lines = reportLines(o.out);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.at(lines.size() - 2).startsWith(QStringLiteral(" : Aborted by user (")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral(" files copied....0 errors.")));
    EXPECT_LT(lines.size(), 1000);
    // No log after an abort, no partial file under a real name.
    EXPECT_EQ(logBytes(QStringLiteral("log.txt")), "previous log");
    if (t.exists(QStringLiteral("dst/a.dat"))) {
        EXPECT_EQ(t.read(QStringLiteral("dst/a.dat")), contents);
    }
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("dst")))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, StopSignalTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& p) {
                             return std::string(p.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
