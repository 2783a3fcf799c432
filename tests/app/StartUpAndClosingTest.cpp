#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QPushButton>

#include "run/RunLog.h"

#include "app/MainWindowFixture.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

const QString kPrompt =
    QStringLiteral("The listing has been modified.\r\n\r\nDo you want to save the changes?");

class StartUpTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        files.write(
            QStringLiteral("daily.bak"),
            (LineFor(QStringLiteral("/a"), QStringLiteral("A")) + QStringLiteral("\r\n")).toUtf8());
        files.write(QStringLiteral("broken.bak"), "not a list\r\n");
    }
    // A run started by hand asks first; one from the command line would not.
    bool startAsksFirst() {
        select({0}, 0);
        dialogs.messages.clear();
        dialogs.answers = {Answer::Cancel};
        button("Command3")->click();
        return !dialogs.messages.isEmpty() &&
               dialogs.messages.last().title == QStringLiteral("Confirm");
    }
};

TEST_F(StartUpTest, ListNamedOnTheCommandLineIsLoaded) {
    EXPECT_TRUE(window->startUp(files.path(QStringLiteral("daily.bak"))));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zandrel - daily.bak"));
    EXPECT_EQ(statusText(), QStringLiteral("1 tasks"));
    EXPECT_EQ(doc().count(), 1);
    EXPECT_TRUE(startAsksFirst());
}

TEST_F(StartUpTest, QuotedPathWithBlanksIsLoaded) {
    files.write(QStringLiteral("my lists/daily.bak"), files.read(QStringLiteral("daily.bak")));
    EXPECT_TRUE(window->startUp(QStringLiteral("\"") +
                                files.path(QStringLiteral("my lists/daily.bak")) +
                                QStringLiteral("\"")));
    EXPECT_EQ(doc().count(), 1);
}

TEST_F(StartUpTest, InvalidListStartsUntitledWithoutAMessage) {
    EXPECT_TRUE(window->startUp(files.path(QStringLiteral("broken.bak"))));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zandrel - Untitled.bak"));
    EXPECT_EQ(doc().count(), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(StartUpTest, MissingListIsReportedAndAnUpperCaseExtensionIgnored) {
    EXPECT_TRUE(window->startUp(files.path(QStringLiteral("nope.bak"))));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("File was not found\r\n\r\n") +
                                            files.path(QStringLiteral("nope.bak")));
    dialogs.messages.clear();
    EXPECT_TRUE(window->startUp(files.path(QStringLiteral("DAILY.BAK"))));
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(doc().count(), 0);
}

TEST_F(StartUpTest, RunSwitchWithAMissingListLeavesTheProgramOpen) {
    EXPECT_TRUE(window->startUp(files.path(QStringLiteral("nope.bak")) + QStringLiteral(" -r")));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Error notice"));
    EXPECT_EQ(doc().count(), 0);
    addRows(1);
    EXPECT_TRUE(startAsksFirst());
}

struct CloseCase {
    const char* name;
    bool titled;
    QList<Answer> answers;
    QStringList saveAs;
    bool closes;
    bool written;
};

class ClosingCases : public MainWindowFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingCases, SaveChangesPromptDecides) {
    const CloseCase& c = GetParam();
    addRows(1);
    const QString path = files.path(QStringLiteral("list.bak"));
    if (c.titled)
        doc().setCurrentListPath(path);
    doc().setListModified(true);
    dialogs.answers = c.answers;
    for (const QString& s : c.saveAs)
        dialogs.fileDialogAnswers.append(s.isEmpty() ? s : files.path(s));
    window->show();
    window->close();
    EXPECT_EQ(!window->isVisible(), c.closes);
    ASSERT_FALSE(dialogs.messages.isEmpty());
    EXPECT_EQ(dialogs.messages[0].text, kPrompt);
    EXPECT_EQ(dialogs.messages[0].title,
              c.titled ? QStringLiteral("list.bak") : QStringLiteral("Untitled.bak"));
    EXPECT_EQ(QFile::exists(path), c.written);
    // A save made while closing shows no "Saved successfully" note.
    EXPECT_EQ(dialogs.messages.size(), 1);
    if (!c.closes) {
        // A refused close leaves saving as it was: a Save says so again.
        dialogs.fileDialogAnswers = {path};
        action("savemnu")->trigger();
        EXPECT_EQ(dialogs.messages.last().text, QStringLiteral("Saved successfully"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClosingCases,
    ::testing::Values(
        CloseCase{"cancel_keeps_it_open", true, {Answer::Cancel}, {}, false, false},
        CloseCase{"no_closes_without_writing", true, {Answer::No}, {}, true, false},
        CloseCase{"yes_saves_and_closes", true, {Answer::Yes}, {}, true, true},
        CloseCase{
            "untitled_yes_then_cancel_save_as", false, {Answer::Yes}, {QString()}, false, false},
        CloseCase{"untitled_yes_then_save_as",
                  false,
                  {Answer::Yes},
                  {QStringLiteral("list.bak")},
                  true,
                  true}),
    [](const auto& p) { return std::string(p.param.name); });

// The pause of a command-line run permits the close past the disabled button
// (CommandLineRunInWindow below).
TEST_F(MainWindowFixture, DisabledStartButtonRefusesTheClose) {
    window->show();
    host().disableStartButton();
    window->close();
    EXPECT_TRUE(window->isVisible());
}

}  // namespace

namespace {

struct CommandLineRunCase {
    const char* name;
    bool withFailure;
    const char* switchText;
    int exitStatus;
    bool errorsFile;
};

class CommandLineRunInWindow : public MainWindowFixture,
                               public ::testing::WithParamInterface<CommandLineRunCase> {};

TEST_P(CommandLineRunInWindow, RunsEverythingWritesTheLogsAndCloses) {
    const CommandLineRunCase& c = GetParam();
    files.write(QStringLiteral("src/a.txt"), "aaa");
    files.mkdir(QStringLiteral("dst"));
    if (c.withFailure) {
        ASSERT_EQ(
            ::mkfifo(QFile::encodeName(files.path(QStringLiteral("src/pipe"))).constData(), 0644),
            0);
    }
    // Two Listings, neither selected: a command-line run takes them all.
    const QString line =
        QStringLiteral("Copy<%1<%2<Subfolders<CopyJustFiles<Overwrite<cli<:Specific|Types:*.*")
            .arg(files.path(QStringLiteral("src")), files.path(QStringLiteral("dst")));
    files.write(QStringLiteral("run.bak"),
                (line + QStringLiteral("\r\n") + line + QStringLiteral("\r\n")).toUtf8());
    // The logs go beside the program, as the real one writes them; one case
    // at a time.
    QLockFile lock(QDir::temp().filePath(QStringLiteral("zandrel-window-logs.lock")));
    ASSERT_TRUE(lock.lock());
    const QString logs = DefaultLogFolder();
    const qint64 start = clock.now();
    bool startDisabledDuringPause = false;
    clock.onRest = [&] {
        if (!button("Command3")->isEnabled())
            startDisabledDuringPause = true;
    };
    const bool stillOpen =
        window->startUp(files.path(QStringLiteral("run.bak")) + QString::fromUtf8(c.switchText));
    EXPECT_FALSE(stillOpen);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->exitStatus(), c.exitStatus);
    EXPECT_TRUE(dialogs.messages.isEmpty());  // no confirmation, no Summary box
    EXPECT_EQ(files.read(QStringLiteral("dst/a.txt")), QByteArray("aaa"));
    EXPECT_TRUE(QFile::remove(logs + QStringLiteral("/log.txt")));
    EXPECT_EQ(QFile::remove(logs + QStringLiteral("/errors.txt")), c.errorsFile);
    if (QByteArray(c.switchText) == " -rp") {
        EXPECT_GE(clock.now() - start, 3000);
        EXPECT_TRUE(startDisabledDuringPause);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineRunInWindow,
                         ::testing::Values(CommandLineRunCase{"clean", false, " -r", 0, false},
                                           CommandLineRunCase{"with_errors", true, " -r", 1, true},
                                           CommandLineRunCase{"pause", false, " -rp", 0, false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
