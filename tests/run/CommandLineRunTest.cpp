// The program itself, run without a display: " -r" and " -rp" runs with
// their exit statuses, standard output and error, the log files beside the
// program, the pause, and SIGINT / SIGTERM as the Cancel button.

#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
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
        if (!stderrFile.isEmpty())
            process->setStandardErrorFile(stderrFile);
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
    QString stderrFile;    // where standard error goes instead of a pipe, when set
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
    const char* out;                 // what standard output begins with, or nullptr
    const char* err;                 // standard error exactly, or nullptr for anything
    const char* platform = nullptr;  // QT_QPA_PLATFORM chosen by hand
    bool errIsPrefix = false;        // err is how standard error begins
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
    // ":99" stands for a display with no server: the first number from 99 on
    // with no X socket (another program may have one at 99).
    QByteArray display = c.display;
    for (int n = 99; QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)); ++n)
        display = ':' + QByteArray::number(n + 1);
    if (c.display)
        adjustEnvironment = [&c, display](QProcessEnvironment& env) {
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            if (c.platform)
                env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(c.platform));
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
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
    if (c.err && c.errIsPrefix) {
        EXPECT_TRUE(o.err.startsWith(c.err)) << o.err.toStdString();
        EXPECT_EQ(o.err.count('\n'), 1) << o.err.toStdString();
    } else if (c.err) {
        EXPECT_EQ(o.err, QByteArray(c.err).replace(":99", display));
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
        StartUpCase{"ShortHelp", ":99", {"-h"}, 0, false, "Usage:\n  zandrel ", ""},
        // A platform chosen by hand that cannot start says why in one line.
        StartUpCase{"UnstartablePlatformRunsHeadless",
                    ":99",
                    {"%L", "-r"},
                    0,
                    true,
                    nullptr,
                    "Zandrel cannot start the display platform xcb (",
                    "xcb",
                    true},
        StartUpCase{"UnstartablePlatformPreview", ":99", {"%L", "-n"}, 0, false, "", "", "xcb"},
        StartUpCase{"UnstartablePlatformWithoutSwitch",
                    ":99",
                    {"%L"},
                    2,
                    false,
                    "",
                    "Zandrel cannot start the display platform xcb (",
                    "xcb",
                    true},
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

TEST_F(CommandLineRunTest, AFailedCheckEndsEarlyWithExitThreeAndLogsWhatWasDone) {
    t.write(QStringLiteral("bin/log.txt"), "previous log");
    t.write(QStringLiteral("src/a.txt"), "a");
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src/pipe"))).constData(), 0644), 0);
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("First")),
               listing(QStringLiteral("gone"), QStringLiteral("dst2"), QStringLiteral("Second")),
               listing(QStringLiteral("src"), QStringLiteral("dst3"), QStringLiteral("Third"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});

    EXPECT_EQ(o.status, 3);
    EXPECT_TRUE(o.err.endsWith("Error notice: Source folder was not found\n"))
        << o.err.toStdString();
    EXPECT_EQ(reportLines(o.out),
              (QStringList{QStringLiteral(" : Copy process initiated (First)"),
                           QStringLiteral(" : Copy process initiated (Second)"),
                           QStringLiteral(" : Aborted (Source folder was not found)")}));
    const QByteArray log = logBytes(QStringLiteral("log.txt"));
    EXPECT_TRUE(
        log.endsWith("-->Copy failed: " + EncodePath(t.path(QStringLiteral("src/pipe"))) + "\r\n"))
        << log.toStdString();
    EXPECT_EQ(log.count("\r\n"), 1);
    EXPECT_TRUE(MatchesLogLine(
        logBytes(QStringLiteral("errors.txt")),
        QStringLiteral("----->1 files copied....1 errors  :  ") + t.path(QStringLiteral("gone")) +
            QStringLiteral("---->Copy---->") + t.path(QStringLiteral("dst2"))));
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

// Names holding a tab, a line feed or a carriage return forge no line in
// the preview, the report, standard error or log.txt.
TEST_F(CommandLineRunTest, ControlCharactersInNamesForgeNoLine) {
    const QByteArray src = EncodePath(t.path(QStringLiteral("src")));
    const QByteArray forged = "\n10:00:00 : 0 files copied....0 errors.\r\tcounts";
    t.mkdir(QStringLiteral("src"));
    ASSERT_EQ(::mkfifo((src + "/p" + forged + ".txt").constData(), 0644), 0);
    ASSERT_EQ(::mkdir((src + "/d" + forged).constData(), 0755), 0);
    ASSERT_TRUE(WriteBytes(src + "/d" + forged + "/keep.dat", "k"));
    ASSERT_TRUE(WriteBytes(src + "/f" + forged + ".txt", "f"));
    Listing l = listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Tab\there"));
    l.Action = ListingAction::Move;
    l.IncludeSubfolders = true;
    l.Filter = QStringLiteral("*.txt");
    writeList(QStringLiteral("daily.bak"), {l});
    const QByteArray escaped = "\\n10:00:00 : 0 files copied....0 errors.\\r\\tcounts";

    const Outcome preview = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-n")});
    EXPECT_EQ(preview.status, 1) << preview.err.toStdString();
    // One report line, the rest "word TAB source TAB destination" or the
    // counts: a forged line would begin with a time or a word of its own.
    const QList<QByteArray> lines = preview.out.trimmed().split('\n');
    EXPECT_TRUE(lines.first().endsWith("process initiated (Tab\\there)"));
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split('\t');
        const bool counts = fields.first() == "counts" || fields.first() == "total";
        EXPECT_TRUE(counts || (fields.size() == 3 && fields.at(1).startsWith(src)))
            << line.toStdString();
    }
    EXPECT_TRUE(preview.out.contains("fail-not-regular\t" + src + "/p" + escaped + ".txt\t"))
        << preview.out.toStdString();

    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});
    EXPECT_EQ(o.status, 1) << o.err.toStdString();
    EXPECT_EQ(reportLines(o.out).size(), 3);  // each line has its time of day
    for (const QByteArray& line : o.err.trimmed().split('\n'))
        EXPECT_TRUE(line.startsWith("zandrel: ")) << line.toStdString();
    EXPECT_TRUE(o.err.contains("zandrel: delete failed: " + src + "/d" + escaped + ": "))
        << o.err.toStdString();
    const QByteArray log = logBytes(QStringLiteral("log.txt"));
    EXPECT_TRUE(log.contains("-->Copy failed: " + src + "/p" + escaped + ".txt\r\n"));
    EXPECT_TRUE(log.contains("-->Delete failed: " + src + "/d" + escaped + "\r\n"));
    EXPECT_EQ(log.count('\n'), 4) << log.toStdString();  // the fifo, the folder twice, src
}

// Whatever stands beside the program (a link at a log's name or at the new
// file's, a leftover probe), the logs go there and nothing else changes.
TEST_F(CommandLineRunTest, PlantedLinksAndLeftoversNeitherRedirectNorMoveTheLogs) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.write(QStringLiteral("victim"), "not yours");
    const QByteArray victim = EncodePath(t.path(QStringLiteral("victim")));
    for (const char* name : {"log.txt", "errors.txt", ".zandrel-log.new"})
        ASSERT_EQ(::symlink(victim.constData(),
                            (EncodePath(t.path(QStringLiteral("bin"))) + '/' + name).constData()),
                  0);
    t.mkdir(QStringLiteral("bin/.zandrel-log-probe"));
    t.mkdir(QStringLiteral("bin/writetest.dat"));
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    const Outcome o = runProgram({t.path(QStringLiteral("daily.bak")), QStringLiteral("-r")});

    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
    EXPECT_EQ(t.read(QStringLiteral("victim")), "not yours");
    EXPECT_FALSE(QFileInfo(t.path(QStringLiteral("bin/log.txt"))).isSymLink());
    EXPECT_TRUE(logBytes(QStringLiteral("log.txt")).contains("-->1 files copied....0 errors"));
    EXPECT_FALSE(QFileInfo::exists(t.path(QStringLiteral("bin/errors.txt"))));
    EXPECT_FALSE(QFileInfo::exists(t.path(QStringLiteral("data-home"))));
}

// An installed program, even root's, keeps out of its folder and says where
// the logs went. The program is put at /usr/local/bin in a mount namespace of
// its own, so that nothing is installed on the machine.
TEST_F(CommandLineRunTest, AnInstalledProgramWritesItsLogsInTheUsersDataFolder) {
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    programToRun = QStringLiteral("unshare");
    const Outcome o = runProgram(
        {QStringLiteral("--mount"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         QStringLiteral(
             "mount --bind \"$0\" /usr/local/bin && exec /usr/local/bin/zandrel \"$1\" -r"),
         t.path(QStringLiteral("bin")), t.path(QStringLiteral("daily.bak"))});
    if (o.err.startsWith("unshare:") || o.err.startsWith("mount:"))
        GTEST_SKIP() << o.err.toStdString();
    const QString data = t.path(QStringLiteral("data-home/Zandrel/Zandrel"));
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.err, "Zandrel wrote log.txt in " + EncodePath(data) + ".\n");
    EXPECT_FALSE(t.exists(QStringLiteral("bin/log.txt")));
    EXPECT_TRUE(t.read(QStringLiteral("data-home/Zandrel/Zandrel/log.txt"))
                    .contains("-->1 files copied....0 errors"));
}

// Without HOME (env -i, some cron set-ups) the per-user folder is in the
// user database's home, never under the root folder. A folder of the test's
// stands in for that home inside the mount namespace.
TEST_F(CommandLineRunTest, WithoutHomeTheLogsGoToTheUserDatabasesHome) {
    const struct passwd* entry = ::getpwuid(::geteuid());
    const QString home = entry ? QString::fromLocal8Bit(entry->pw_dir) : QString();
    if (!QFileInfo(home).isDir() || t.root().startsWith(home + u'/'))
        GTEST_SKIP() << "no home folder apart from the test's own";
    t.write(QStringLiteral("src/a.txt"), "a");
    writeList(QStringLiteral("daily.bak"),
              {listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Daily"))});
    t.mkdir(QStringLiteral("home"));
    programToRun = QStringLiteral("unshare");
    const Outcome o =
        runProgram({QStringLiteral("--mount"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                    QStringLiteral("mount --bind \"$0\" /usr/local/bin && mount --bind \"$2\" "
                                   "\"$3\" && exec env -i /usr/local/bin/zandrel \"$1\" -r"),
                    t.path(QStringLiteral("bin")), t.path(QStringLiteral("daily.bak")),
                    t.path(QStringLiteral("home")), home});
    if (o.err.startsWith("unshare:") || o.err.startsWith("mount:"))
        GTEST_SKIP() << o.err.toStdString();
    const QString data = home + QStringLiteral("/.local/share/Zandrel/Zandrel");
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.err, "Zandrel wrote log.txt in " + EncodePath(data) + ".\n");
    EXPECT_TRUE(t.read(QStringLiteral("home/.local/share/Zandrel/Zandrel/log.txt"))
                    .contains("-->1 files copied....0 errors"));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/.local/share/Zandrel")));
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
    // The file being copied when the request is seen fails, if there is one.
    static const QRegularExpression counts(
        QStringLiteral(" files copied\\.\\.\\.\\.[01] errors\\.$"));
    EXPECT_TRUE(counts.match(lines.last()).hasMatch()) << lines.last().toStdString();
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

// Ctrl+C while the folders of a Move are removed. Every folder keeps a file,
// so each fails and is told on standard error; the test reads it from a FIFO
// only once the first line is there, so the removal, which has much more to
// tell than the FIFO holds, is still going when the signal comes.
TEST_F(CommandLineRunTest, CtrlCDuringTheFolderRemovalAbortsTheRun) {
    constexpr int kFolders = 2000;
    const QByteArray src = EncodePath(t.path(QStringLiteral("src")));
    t.mkdir(QStringLiteral("src"));
    for (int i = 0; i < kFolders; ++i) {
        const QByteArray folder = src + "/folder" + QByteArray::number(i);
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        ASSERT_TRUE(WriteBytes(folder + "/keep.dat", "k"));
    }
    t.write(QStringLiteral("bin/log.txt"), "previous log");
    Listing l = listing(QStringLiteral("src"), QStringLiteral("dst"), QStringLiteral("Slow"));
    l.Action = ListingAction::Move;
    l.IncludeSubfolders = true;
    l.Filter = QStringLiteral("*.txt");
    writeList(QStringLiteral("move.bak"), {l});
    const QByteArray fifo = EncodePath(t.path(QStringLiteral("stderr")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    fs::Handle errors(::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(errors.valid());
    QByteArray err;
    const auto drain = [&] {
        char buf[65536];
        for (ssize_t n; (n = ::read(errors.native(), buf, sizeof buf)) > 0;) err.append(buf, n);
    };

    stderrFile = t.path(QStringLiteral("stderr"));
    QProcess* p = start({t.path(QStringLiteral("move.bak")), QStringLiteral("-r")});
    pollfd ready{errors.native(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 120000), 1);
    ASSERT_EQ(::kill(static_cast<pid_t>(p->processId()), SIGINT), 0);
    while (!p->waitForFinished(20)) drain();
    drain();
    const Outcome o{p->exitCode(), p->readAllStandardOutput(), err, 0};

    EXPECT_EQ(o.status, 4) << o.err.right(300).toStdString();
    EXPECT_TRUE(o.err.contains("\nConfirm: Abort process?\n"));
    const qsizetype told = o.err.count("zandrel: delete failed: ");
    EXPECT_GT(told, 0);
    EXPECT_LT(told, 2 * kFolders);
    EXPECT_EQ(reportLines(o.out),
              (QStringList{QStringLiteral(" : Move process initiated (Slow)"),
                           QStringLiteral(" : Aborted by user (Slow)"),
                           QStringLiteral(" : 0 files copied....") + QString::number(told) +
                               QStringLiteral(" errors.")}));
    EXPECT_EQ(logBytes(QStringLiteral("log.txt")), "previous log");
    EXPECT_FALSE(t.exists(QStringLiteral("bin/errors.txt")));
}

}  // namespace
