// Faults injected into real runs in this process: a disk that fills up, a
// destination that turns read-only or into a file, sources that vanish or
// change, an abort in the middle of a file. After each, NoLoss's rules hold.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "reliability/NoLoss.h"
#include "run/RunDriver.h"
#include "run/RunState.h"
#include "support/FakeHost.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

QList<QByteArray> CopyFailures(const QList<QByteArray>& entries) {
    QList<QByteArray> out;
    for (const QByteArray& e : entries)
        if (e.startsWith(kCopyFailed))
            out << e;
    return out;
}

QString Lines(const QStringList& lines) {
    return lines.join(u'\n');
}

class FaultTest : public ::testing::Test, public FaultTree {
  protected:
    void addListing(ListingAction action, ExistingFileRule rule = ExistingFileRule::Overwrite) {
        Listing l;
        l.Action = action;
        l.SourceFolder = t.path(QStringLiteral("src"));
        l.DestinationFolder = t.path(QStringLiteral("dst"));
        l.IfExists = rule;
        l.Description = QStringLiteral("Fault");
        doc.appendLine(EncodeListingLine(l));
        check.move = action == ListingAction::Move;
    }

    // Takes the before-picture the checks compare with.
    void snapshot() {
        check.destinationRoot = path(QStringLiteral("dst"));
        check.sources = TakeSnapshot(path(QStringLiteral("src")));
        check.destinations = TakeSnapshot(check.destinationRoot);
    }

    RunResult run() {
        RunDriver driver(doc, host, view, view, flags, progress);
        driver.setLogFolder(t.path(QStringLiteral("logs")));
        const RunResult result = driver.Command3_Click();
        errors = driver.state().ErrorList;
        copied = driver.state().CopiedCount;
        return result;
    }

    BackupList doc;
    FakeHost host;
    HookView view;
    SessionFlags flags;
    RunProgress progress;
    NoLossCheck check;
    QList<QByteArray> errors;
    int copied = -1;
};

TEST_F(FaultTest, DiskFullInTheMiddleOfAFileFailsThatFileOnly) {
    ScopedMount disk = ScopedMount::Tmpfs(t.path(QStringLiteral("dst")), 1024);
    if (!disk.ok())
        GTEST_SKIP() << disk.why().toStdString();
    file(src("a.bin"), Pattern(100 * 1024, 'a'));
    file(src("big.bin"), Pattern(3 * 1024 * 1024, 'b'));
    file(src("c.bin"), Pattern(200 * 1024, 'c'));
    file(dst(src("big.bin")), Pattern(16 * 1024, 'o'));  // the copy of an earlier run
    addListing(ListingAction::Move);
    snapshot();

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(CopyFailures(errors), QList<QByteArray>{kCopyFailed + src("big.bin")});
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(NewCompleteCopies(check), 2);
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

TEST_F(FaultTest, DestinationTurningReadOnlyFailsTheRestAndKeepsTheirSources) {
    ScopedMount disk = ScopedMount::Tmpfs(t.path(QStringLiteral("dst")), 8192);
    if (!disk.ok())
        GTEST_SKIP() << disk.why().toStdString();
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"})
        file(src(name), Pattern(64 * 1024, name[0]));
    addListing(ListingAction::Move);
    snapshot();
    // Before the first file: a mount with a file open for writing (a copy
    // waiting for its name) cannot turn read-only.
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (source.endsWith("/a.bin")) {
            EXPECT_TRUE(disk.remount(true)) << disk.why().toStdString();
        }
    };

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(CopyFailures(errors),
              (QList<QByteArray>{kCopyFailed + src("a.bin"), kCopyFailed + src("b.bin"),
                                 kCopyFailed + src("c.bin"), kCopyFailed + src("d.bin")}));
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(view.copied, 0);
    // Folders left by the Move are counted in the list, not on the panel.
    EXPECT_EQ(view.errors, 4);
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
    disk.remount(false);
}

// What happens to the second of three sources after the list was made.
enum class Then { Copied, Failed, PassedOver };

struct SourceChange {
    const char* name;
    std::function<void(const QByteArray& path)> change;
    Then then;
};

class SourceChanges : public FaultTest, public ::testing::WithParamInterface<SourceChange> {};

TEST_P(SourceChanges, BetweenListingAndCopying) {
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        file(src(name), Pattern(300 * 1024, name[0]));
    addListing(ListingAction::Move);
    snapshot();
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (!source.endsWith("/b.bin"))
            return;
        GetParam().change(source);
        struct stat st {};
        if (::stat(source.constData(), &st) == 0 && S_ISREG(st.st_mode))
            check.sources[source] = ReadFileBytes(source);
        else
            check.sources.remove(source);
    };

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    const Then then = GetParam().then;
    const QList<QByteArray> failed =
        then == Then::Failed ? QList<QByteArray>{kCopyFailed + src("b.bin")} : QList<QByteArray>{};
    EXPECT_EQ(CopyFailures(errors), failed);
    EXPECT_EQ(copied, then == Then::Copied ? 3 : 2);
    EXPECT_EQ(NewCompleteCopies(check), copied);
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceChanges,
    ::testing::Values(
        SourceChange{"Vanishes", [](const QByteArray& p) { ::unlink(p.constData()); },
                     Then::Failed},
        SourceChange{"Shrinks", [](const QByteArray& p) { (void)::truncate(p.constData(), 1000); },
                     Then::Copied},
        SourceChange{"ShrinksToNothing",
                     [](const QByteArray& p) { (void)::truncate(p.constData(), 0); }, Then::Copied},
        SourceChange{"Grows",
                     [](const QByteArray& p) {
                         QFile f(DecodePath(p));
                         if (f.open(QIODevice::Append))
                             f.write(Pattern(5000, 'g'));
                     },
                     Then::Copied},
        SourceChange{"BecomesAFolder",
                     [](const QByteArray& p) {
                         ::unlink(p.constData());
                         ::mkdir(p.constData(), 0755);
                     },
                     // An entry that is a folder is passed over uncounted.
                     Then::PassedOver}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FaultTest, SourceShrinkingWhileItIsCopiedIsNotPassedOffAsCopied) {
    file(src("big.bin"), Pattern(4 * 1024 * 1024, 'b'));
    addListing(ListingAction::Move);
    snapshot();
    bool done = false;
    view.onBlock = [&](qint64 position, qint64) {
        if (done || position < 1024 * 1024)
            return;
        done = true;
        ASSERT_EQ(::truncate(src("big.bin").constData(), 100 * 1024), 0);
        check.sources[src("big.bin")] = check.sources[src("big.bin")].left(100 * 1024);
    };

    run();
    ASSERT_TRUE(done);
    // Either the file fails (its source kept), or what lies under its name
    // is the source as it now is.
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
}

TEST_F(FaultTest, DestinationThatIsAFileEndsTheRunAndIsLeftAlone) {
    file(src("a.bin"), "a");
    file(path(QStringLiteral("dst")), "not a folder");
    addListing(ListingAction::Move);

    EXPECT_EQ(run().outcome, RunOutcome::EndedEarly);
    ASSERT_EQ(host.messages.size(), 3);  // confirmation, the offer to create, the failure
    EXPECT_EQ(host.messages[1].title, QStringLiteral("Folder not found"));
    EXPECT_EQ(host.messages[2].text, QStringLiteral("Destination folder could not be created."));
    EXPECT_EQ(t.read(QStringLiteral("dst")), "not a folder");
    EXPECT_EQ(t.read(QStringLiteral("src/a.bin")), "a");
}

TEST_F(FaultTest, DestinationSubfolderReplacedByAFileFailsItsFiles) {
    file(src("x/a.bin"), Pattern(10000, 'a'));
    file(src("y/b.bin"), Pattern(10000, 'b'));
    file(src("y/c.bin"), Pattern(10000, 'c'));
    addListing(ListingAction::Move);
    snapshot();
    const QByteArray blocker = GetFolderPart(dst(src("y/b.bin"))).chopped(1);
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (!source.endsWith("/a.bin"))
            return;
        file(blocker, "a file of the user's");
        check.destinations.insert(blocker, "a file of the user's");
    };

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(CopyFailures(errors),
              (QList<QByteArray>{kCopyFailed + src("y/b.bin"), kCopyFailed + src("y/c.bin")}));
    EXPECT_EQ(copied, 1);
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

// The files after the swap either fail or follow the folder to where it was
// moved (when the run keeps it open); either way nothing is lost, nothing is
// written through the file now at the destination's name, and the counts say
// which happened.
TEST_F(FaultTest, DestinationFolderReplacedByAFileMidRunLosesNothing) {
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) file(src(name), Pattern(20000, name[0]));
    addListing(ListingAction::Move);
    snapshot();
    const QByteArray moved = path(QStringLiteral("dst-moved-away"));
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (!source.endsWith("/b.bin"))
            return;
        ASSERT_EQ(::rename(check.destinationRoot.constData(), moved.constData()), 0);
        file(check.destinationRoot, "now a file");
    };

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(t.read(QStringLiteral("dst")), "now a file");
    const QList<QByteArray> failed = CopyFailures(errors);
    EXPECT_EQ(copied + failed.size(), 3);
    EXPECT_FALSE(failed.contains(kCopyFailed + src("a.bin")));
    check.destinationRoot = moved;
    check.destinations.clear();
    EXPECT_EQ(NewCompleteCopies(check), copied);
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
    EXPECT_TRUE(Temporaries(moved).isEmpty());
}

TEST_F(FaultTest, AFolderUnderTheDestinationNameIsLeftAlone) {
    file(src("a.bin"), Pattern(5000, 'a'));
    file(src("b.bin"), Pattern(5000, 'b'));
    file(dst(src("b.bin")) + "/inside.txt", "the user's");
    addListing(ListingAction::Move);
    snapshot();

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(CopyFailures(errors), QList<QByteArray>{kCopyFailed + src("b.bin")});
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(ReadFileBytes(dst(src("b.bin")) + "/inside.txt"), "the user's");
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

TEST_F(FaultTest, ALinkUnderTheDestinationNameIsReplacedNotWrittenThrough) {
    file(src("a.bin"), Pattern(5000, 'a'));
    file(path(QStringLiteral("elsewhere/victim")), "must stay");
    QDir().mkpath(DecodePath(GetFolderPart(dst(src("a.bin")))));
    ASSERT_EQ(::symlink(path(QStringLiteral("elsewhere/victim")).constData(),
                        dst(src("a.bin")).constData()),
              0);
    addListing(ListingAction::Copy);

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(copied, 1);
    EXPECT_EQ(t.read(QStringLiteral("elsewhere/victim")), "must stay");
    struct stat st {};
    ASSERT_EQ(::lstat(dst(src("a.bin")).constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFileBytes(dst(src("a.bin"))), Pattern(5000, 'a'));
}

// A destination folder spelled so that every file's destination is the
// file itself: a Move must neither truncate nor delete it.
TEST_F(FaultTest, DestinationThatLeadsBackToTheSourceLosesNothing) {
    file(src("a.bin"), Pattern(70000, 'a'));
    file(src("sub/b.bin"), Pattern(70000, 'b'));
    const QByteArray root = path(QStringLiteral("src"));
    const QByteArray firstLevel = root.left(root.indexOf('/', 1));  // "/tmp", say
    ASSERT_EQ(::symlink(firstLevel.constData(), path(QStringLiteral("loop")).constData()), 0);
    Listing l;
    l.Action = ListingAction::Move;
    l.SourceFolder = t.path(QStringLiteral("src"));
    l.DestinationFolder = t.path(QStringLiteral("loop"));
    doc.appendLine(EncodeListingLine(l));

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(CopyFailures(errors),
              (QList<QByteArray>{kCopyFailed + src("sub/b.bin"), kCopyFailed + src("a.bin")}));
    EXPECT_EQ(ReadFileBytes(src("a.bin")), Pattern(70000, 'a'));
    EXPECT_EQ(ReadFileBytes(src("sub/b.bin")), Pattern(70000, 'b'));
    EXPECT_TRUE(Temporaries(root).isEmpty());
}

TEST_F(FaultTest, SourcesThatCannotBeDeletedAreCopiedAndReported) {
    for (const char* name : {"a.bin", "b.bin"})
        file(path(QStringLiteral("real/")) + name, Pattern(9000, name[0]));
    ScopedMount readOnly =
        ScopedMount::ReadOnlyBind(t.path(QStringLiteral("real")), t.path(QStringLiteral("src")));
    if (!readOnly.ok())
        GTEST_SKIP() << readOnly.why().toStdString();
    addListing(ListingAction::Move);
    snapshot();

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(NewCompleteCopies(check), 2);
    EXPECT_TRUE(CopyFailures(errors).isEmpty());
    EXPECT_TRUE(errors.contains(kDeleteFailed + src("a.bin")));
    EXPECT_TRUE(errors.contains(kDeleteFailed + src("b.bin")));
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

// The temporary copy's name is longer than the destination's; at the
// longest name a file system allows it must still be made, and go again.
TEST_F(FaultTest, TheLongestFileNameCopiesThroughItsTemporaryName) {
    const QByteArray name = QByteArray(251, 'n') + ".bin";  // 255 bytes
    file(path(QStringLiteral("src/")) + name, Pattern(50000, 'n'));
    file(path(QStringLiteral("src/")) + QByteArray(250, 'n') + ".bin", Pattern(40000, 'm'));
    addListing(ListingAction::Move);
    snapshot();

    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(copied, 2);
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
    const QStringList v = Violations(check, errors, true);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

struct AbortCase {
    const char* name;
    const char* interrupted;  // the file in whose middle the user clicks Cancel
    Answer answer;            // to "Abort process?"
    RunOutcome outcome;
    int copied;
    int questions;
};

class AbortMidFile : public FaultTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortMidFile, LeavesThePreviousCopyAndTheSource) {
    const AbortCase c = GetParam();
    file(src("a.bin"), Pattern(64 * 1024, 'a'));
    file(src("m.bin"), Pattern(8 * 1024 * 1024, 'm'));
    file(src("z.bin"), Pattern(8 * 1024 * 1024, 'z'));
    file(dst(src(c.interrupted)), Pattern(5000, 'o'));
    addListing(ListingAction::Move);
    snapshot();
    host.answers = {Answer::Ok, c.answer};  // the confirmation, then the question
    bool clicked = false;
    QByteArray current;
    view.onFile = [&](const QByteArray&, const QByteArray& source) { current = source; };
    view.onBlock = [&](qint64 position, qint64) {
        if (!clicked && current.endsWith(c.interrupted) && position >= 2 * 1024 * 1024) {
            clicked = true;
            host.caption = kCaptionAborting;
        }
    };

    EXPECT_EQ(run().outcome, c.outcome);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(CopyFailures(errors), QList<QByteArray>{kCopyFailed + src(c.interrupted)});
    EXPECT_EQ(copied, c.copied);
    int questions = 0;
    for (const RecordedMessage& m : host.messages)
        questions += m.text == QStringLiteral("Abort process?");
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(ReadFileBytes(dst(src(c.interrupted))), Pattern(5000, 'o'));
    EXPECT_TRUE(Temporaries(check.destinationRoot).isEmpty());
    const QStringList v = Violations(check, errors, c.outcome != RunOutcome::Aborted);
    EXPECT_TRUE(v.isEmpty()) << Lines(v).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbortMidFile,
    // A confirmed abort keeps a.bin's copy, finished before it.
    ::testing::Values(AbortCase{"ConfirmedAborts", "m.bin", Answer::Yes, RunOutcome::Aborted, 1, 1},
                      AbortCase{"DeclinedGoesOn", "m.bin", Answer::No, RunOutcome::Finished, 2, 1},
                      AbortCase{"InTheLastFileNoQuestion", "z.bin", Answer::Yes,
                                RunOutcome::Finished, 2, 0}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

// A copy decided on waits unnamed for its batch; meanwhile the user saves a
// file at its name. The decision is not carried out against that file.
struct StaleCase {
    const char* name;
    ListingAction action;
    ExistingFileRule rule;
    bool copyThereBefore;  // an older copy, which the rule replaces
    bool inPlace;          // the user rewrites that very file, not a new one
};

class StaleDecision : public FaultTest, public ::testing::WithParamInterface<StaleCase> {};

TEST_P(StaleDecision, KeepsWhatTheUserSavedAndTheSource) {
    const StaleCase c = GetParam();
    file(src("a/first.txt"), "the source");
    file(src("a/second.txt"), "second");
    const QByteArray target = dst(src("a/first.txt"));
    if (c.copyThereBefore) {
        file(target, "an older copy");
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, target.constData(), old, 0), 0);
    }
    addListing(c.action, c.rule);
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (!source.endsWith("second.txt"))
            return;
        if (c.inPlace) {
            QFile f(DecodePath(target));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
            f.write(" and the user's newer text");
        } else {
            QFile::remove(DecodePath(target));
            file(target, "the user's newer text");
        }
    };
    run();

    EXPECT_EQ(CopyFailures(errors), QList<QByteArray>{kCopyFailed + src("a/first.txt")});
    EXPECT_EQ(ReadFileBytes(target), c.inPlace
                                         ? QByteArray("an older copy and the user's newer text")
                                         : QByteArray("the user's newer text"));
    EXPECT_EQ(ReadFileBytes(src("a/first.txt")), "the source");
    EXPECT_EQ(copied, 1);
    EXPECT_TRUE(Temporaries(path(QStringLiteral("dst"))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StaleDecision,
    ::testing::Values(StaleCase{"FreeNameTakenUnderSkipFile", ListingAction::Move,
                                ExistingFileRule::SkipFile, false, false},
                      StaleCase{"FreeNameTakenUnderOverwrite", ListingAction::Copy,
                                ExistingFileRule::Overwrite, false, false},
                      StaleCase{"ReplacedByANewerFile", ListingAction::Move,
                                ExistingFileRule::CopyOnlyIfNewer, true, false},
                      StaleCase{"RewrittenInPlace", ListingAction::Move,
                                ExistingFileRule::Overwrite, true, true}),
    [](const auto& p) { return std::string(p.param.name); });

// Every failure reaches the panel when it happens, not when its batch is
// named: the count shown as the last file begins already holds the others.
TEST_F(FaultTest, ThePanelCountsEachFailureWhenItHappens) {
    // Files in the source folder itself, with FIFOs among them: never
    // copied, each a failure known at once.
    for (int i = 0; i < 30; ++i) {
        const QByteArray name = src((QByteArray::number(100 + i) + ".txt").constData());
        if (i % 7 == 3)
            ASSERT_EQ(::mkfifo(name.constData(), 0644), 0);
        else
            file(name, "x");
    }
    addListing(ListingAction::Copy);
    int shownAtLast = -1;
    view.onFile = [&](const QByteArray&, const QByteArray& source) {
        if (source.endsWith("129.txt"))
            shownAtLast = view.errors;
    };
    run();
    EXPECT_EQ(errors.size(), 4);
    EXPECT_EQ(shownAtLast, 4);
}

}  // namespace
