// The block copy inside a run: the per-block sequence the view sees, exact
// bytes through a temporary file, large and sparse files, aborts inside a
// file, and the faults of a real file system (full, read-only).

#include <QRandomGenerator>

#include "common/Paths.h"
#include "run/RunFixture.h"
#include "run/RunPhase.h"
#include "run/TestFiles.h"
#include "support/Mounts.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i) bytes[i] = static_cast<char>(generator.generate() & 0xff);
    return bytes;
}

// ---------------------------------------------------------------------------
// The block sequence, as a run shows it

class BlockCopyTest : public RunFixture, public ::testing::WithParamInterface<qint64> {};

TEST_P(BlockCopyTest, ShowsEachBlockOf4096AfterAYieldAndCopiesExactly) {
    const qint64 size = GetParam();
    const QByteArray bytes = RandomBytes(size, static_cast<quint32>(size));
    t.write(QStringLiteral("src/in.bin"), bytes);
    Listing l = listing();
    l.CopyJustFiles = true;
    add(l);
    // The yields while a file's progress is shown: one before each block.
    int yieldsInFile = 0;
    host.onYield = [&] {
        if (!view.events.isEmpty() && (view.events.last().startsWith(QStringLiteral("begin ")) ||
                                       view.events.last().startsWith(QStringLiteral("block "))))
            ++yieldsInFile;
    };
    ASSERT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(t.read(QStringLiteral("dst/in.bin")), bytes);

    QStringList expected{QStringLiteral("begin %1").arg(size)};
    for (qint64 position = 0; position < size;) {
        position = std::min(position + 4096, size);
        expected << QStringLiteral("block %1/%2").arg(position).arg(size);
    }
    expected << QStringLiteral("end");
    const qsizetype first = view.events.indexOf(expected.first());
    ASSERT_GE(first, 0);
    EXPECT_EQ(view.events.mid(first, expected.size()), expected);
    EXPECT_EQ(yieldsInFile, (size + 4095) / 4096);
    EXPECT_EQ(progress.RunBytesCopied, static_cast<double>(size));
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("dst")))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockCopyTest,
                         ::testing::Values(1, 4095, 4096, 4097, 10000, 3 * 4096 + 1, (1 << 20) + 5,
                                           3 * (1 << 20) - 4096));

// Single files through a run; the Listing puts them straight into dst.
class CopyFileTest : public RunFixture {
  protected:
    QByteArray path(const QString& relative) const { return EncodePath(t.path(relative)); }
    RunResult copyAll() {
        Listing l = listing();
        l.CopyJustFiles = true;
        add(l);
        return run();
    }
};

TEST_F(CopyFileTest, AnEmptyFileIsMadeWithoutShowingProgress) {
    t.write(QStringLiteral("src/empty"), "");
    t.write(QStringLiteral("dst/empty"), "previous");
    EXPECT_EQ(copyAll().copiedCount, 1);
    EXPECT_TRUE(view.matching(QStringLiteral("begin")).isEmpty());
    EXPECT_TRUE(view.matching(QStringLiteral("block")).isEmpty());
    EXPECT_EQ(t.read(QStringLiteral("dst/empty")), "");
}

TEST_F(CopyFileTest, ALinkIsNeverOpenedWhereverItLeadsNorAFifoWaitedOn) {
    t.write(QStringLiteral("file"), "data");
    ASSERT_EQ(::mkfifo(path(QStringLiteral("fifo")).constData(), 0644), 0);
    const fs::Folder folder = fs::Folder::openAsNamed(path(QString()));
    fs::SourceFile fifo;  // returns at once, never taken for a file
    const int error = fs::OpenSource(folder, "fifo", fifo);
    EXPECT_TRUE(error != 0 || fifo.info.kind != fs::FileKind::File);
    for (const char* target : {"file", "fifo", "missing"}) {
        const QByteArray link = QByteArray("to-") + target;
        ASSERT_EQ(::symlink(target, (path(QString()) + '/' + link).constData()), 0);
        fs::SourceFile source;
        EXPECT_EQ(fs::OpenSource(folder, link.constData(), source), ELOOP) << target;
    }
}

TEST_F(CopyFileTest, ReplacesTheDestinationWholeAndLeavesNoTemporaryFile) {
    t.write(QStringLiteral("src/in"), "short");
    t.write(QStringLiteral("dst/in"), "a much longer previous destination");
    EXPECT_EQ(copyAll().copiedCount, 1);
    EXPECT_EQ(t.read(QStringLiteral("dst/in")), "short");
    EXPECT_TRUE(TemporaryLeftovers(path(QStringLiteral("dst"))).isEmpty());
}

TEST_F(CopyFileTest, AUserFileNamedLikeATemporaryIsNeverTakenForOne) {
    t.write(QStringLiteral("src/in.txt"), "complete contents");
    t.write(QStringLiteral("dst/in.txt"), "previous");
    t.write(QStringLiteral("dst/.in.txt.zandrel-part"), "the user's own");
    EXPECT_EQ(copyAll().copiedCount, 1);
    EXPECT_EQ(t.read(QStringLiteral("dst/in.txt")), "complete contents");
    EXPECT_EQ(t.read(QStringLiteral("dst/.in.txt.zandrel-part")), "the user's own");
    EXPECT_EQ(TemporaryLeftovers(path(QStringLiteral("dst"))).size(), 1);
}

TEST_F(CopyFileTest, TheLongestNamesCopyAndReplace) {
    const QString name(255, u'a');
    t.write(QStringLiteral("src/") + name, "long name");
    Listing l = listing();
    l.CopyJustFiles = true;
    add(l);
    for (int round = 0; round < 2; ++round) {  // new, then over the first copy
        ASSERT_EQ(run().copiedCount, 1);
        EXPECT_EQ(t.read(QStringLiteral("dst/") + name), "long name");
    }
    EXPECT_TRUE(TemporaryLeftovers(path(QStringLiteral("dst"))).isEmpty());
}

TEST_F(CopyFileTest, ReadsToTheEndAndNeverPlacesACopyOfAFileWrittenMeanwhile) {
    t.write(QStringLiteral("in"), QByteArray(9000, 'y'));
    const fs::Folder folder = fs::Folder::openAsNamed(path(QString()));
    fs::SourceFile source;
    ASSERT_EQ(fs::OpenSource(folder, "in", source), 0);
    source.info.size = 5000;  // a length taken before the file grew
    fs::CopyRequest request{&folder, "out", {}, 0644};
    qint64 last = 0;
    const auto onBlock = [&](qint64 done, qint64) { return (last = done); };
    EXPECT_EQ(fs::CopyFileBlocks(source, request, onBlock), fs::CopyResult::Copied);
    EXPECT_EQ(t.read(QStringLiteral("out")), QByteArray(9000, 'y'));
    EXPECT_EQ(last, 9000);

    // Written after it was opened: the copy would be neither old nor new.
    ASSERT_EQ(fs::OpenSource(folder, "in", source), 0);
    ASSERT_TRUE(WriteBytes(path(QStringLiteral("in")), QByteArray(12000, 'z')));
    request.name = "out2";
    EXPECT_EQ(fs::CopyFileBlocks(source, request, onBlock), fs::CopyResult::SourceChanged);
    EXPECT_FALSE(t.exists(QStringLiteral("out2")));
}

// Every spelling of the source folder as the destination.
class OntoItselfTest : public RunFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(OntoItselfTest, AFileIsNeverCopiedOntoItself) {
    t.write(QStringLiteral("src/in"), "itself");
    t.mkdir(QStringLiteral("sub"));
    add(listing(QStringLiteral("src"), QString::fromLatin1(GetParam())));
    EXPECT_EQ(run().outcome, RunOutcome::EndedEarly);
    EXPECT_EQ(t.read(QStringLiteral("src/in")), "itself");
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("src")))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Spellings, OntoItselfTest,
                         ::testing::Values("src", "sub/../src", "./src", "src/."));

TEST_F(CopyFileTest, AFileOver4GiBCopiesExactlyAndStaysSparse) {
    constexpr qint64 kSize = (qint64{1} << 32) + 12345;
    const QByteArray source = path(QStringLiteral("src/big.sparse"));
    const QByteArray destination = path(QStringLiteral("dst/big.sparse"));
    t.mkdir(QStringLiteral("src"));
    struct Piece {
        qint64 at;
        QByteArray bytes;
    };
    const QList<Piece> pieces{{0, RandomBytes(7000, 1)},
                              {(qint64{1} << 32) - 3000, RandomBytes(6000, 2)},
                              {kSize - 100, RandomBytes(100, 3)}};
    {
        fs::Handle fd(::open(source.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        ASSERT_TRUE(fd.valid());
        ASSERT_EQ(::ftruncate(fd.native(), kSize), 0);
        for (const Piece& p : pieces)
            ASSERT_EQ(::pwrite(fd.native(), p.bytes.constData(), p.bytes.size(), p.at),
                      p.bytes.size());
    }
    view.recordBlocks = false;
    ASSERT_EQ(copyAll().copiedCount, 1);

    EXPECT_EQ(view.blocks, (kSize + 4095) / 4096);
    EXPECT_EQ(view.lastBlock, kSize);
    EXPECT_EQ(progress.RunBytesCopied, static_cast<double>(kSize));
    struct stat st {};
    ASSERT_EQ(::stat(destination.constData(), &st), 0);
    EXPECT_EQ(st.st_size, kSize);
    EXPECT_LT(st.st_blocks * 512, qint64{64} << 20) << "holes were written out";
    // Byte for byte, holes included.
    fs::Handle a(::open(source.constData(), O_RDONLY));
    fs::Handle b(::open(destination.constData(), O_RDONLY));
    QByteArray bufA(8 << 20, Qt::Uninitialized), bufB(8 << 20, Qt::Uninitialized);
    qint64 compared = 0;
    for (;;) {
        const ssize_t na = ::read(a.native(), bufA.data(), bufA.size());
        const ssize_t nb = ::read(b.native(), bufB.data(), na > 0 ? na : 1);
        ASSERT_EQ(na, nb) << "at " << compared;
        if (na <= 0)
            break;
        ASSERT_EQ(std::memcmp(bufA.constData(), bufB.constData(), na), 0) << "at " << compared;
        compared += na;
    }
    EXPECT_EQ(compared, kSize);
}

// ---------------------------------------------------------------------------
// Aborts during a run

enum class AbortAt { FileList, BetweenFiles, InsideBlock };

struct AbortCase {
    AbortAt at;
    bool confirm;
};

class AbortTest : public RunFixture, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTest, AsksOnceAndStopsOnYesOrCarriesOnOnNo) {
    const AbortCase c = GetParam();
    const QByteArray big = RandomBytes(10000, 7);
    t.write(QStringLiteral("src/a.dat"), big);
    t.write(QStringLiteral("src/b.txt"), "b");
    t.write(QStringLiteral("dst/a.dat"), "previous a");
    Listing l = listing();
    l.CopyJustFiles = true;
    l.IncludeSubfolders = true;
    add(l);

    bool pressed = false;
    host.onYield = [&] {
        if (pressed || host.caption != kCaptionRunning)
            return;
        const bool now =
            (c.at == AbortAt::FileList &&
             host.statusText == QStringLiteral("Creating list of files to be copied...")) ||
            (c.at == AbortAt::BetweenFiles && view.count(QStringLiteral("end")) == 1) ||
            (c.at == AbortAt::InsideBlock && view.blocks == 1);
        if (now) {
            pressed = true;
            driver.Command3_Click();  // the Cancel button, clicked during a yield
            EXPECT_EQ(host.caption, kCaptionAborting);
            driver.Command3_Click();  // a second click changes nothing
            EXPECT_EQ(host.caption, kCaptionAborting);
        }
    };
    // The confirmation of the run, then the abort question.
    host.answers = {Answer::Ok, c.confirm ? Answer::Yes : Answer::No};
    QStringList captionsAfterQuestion;
    host.onMessage = [&](const RecordedMessage& m) {
        if (m.text == QStringLiteral("Abort process?")) {
            EXPECT_EQ(m.title, QStringLiteral("Confirm"));
            EXPECT_EQ(m.icon, Icon::Question);
            EXPECT_EQ(m.buttons, Buttons::YesNo);
        }
    };
    const RunResult r = run();

    ASSERT_TRUE(pressed);
    EXPECT_EQ(messageTexts().count(QStringLiteral("Confirm: Abort process?")), 1);
    EXPECT_EQ(host.caption, kCaptionIdle);
    const bool interruptedA = c.at == AbortAt::InsideBlock;
    // An interrupted file is a failure and keeps its previous destination; a
    // confirmed abort keeps the copies finished before it.
    const bool finishedA = !interruptedA && (c.at != AbortAt::FileList || !c.confirm);
    EXPECT_EQ(t.read(QStringLiteral("dst/a.dat")), finishedA ? big : QByteArray("previous a"));
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("dst")))).isEmpty());
    if (interruptedA)
        EXPECT_EQ(errorEntries(), QStringList{QStringLiteral("Copy failed: ") +
                                              t.path(QStringLiteral("src/a.dat"))});
    else
        EXPECT_TRUE(errorEntries().isEmpty());

    if (c.confirm) {
        EXPECT_EQ(r.outcome, RunOutcome::Aborted);
        EXPECT_TRUE(driver.state().AbortedByUser);
        EXPECT_FALSE(t.exists(QStringLiteral("dst/b.txt")));
        EXPECT_EQ(entries().mid(1).first(), QStringLiteral(" : Aborted by user (Test)"));
        EXPECT_EQ(entries().last(), QStringLiteral(" : %1 files copied....%2 errors.")
                                        .arg(finishedA ? 1 : 0)
                                        .arg(interruptedA ? 1 : 0));
    } else {
        EXPECT_EQ(r.outcome, RunOutcome::Finished);
        EXPECT_FALSE(driver.state().AbortedByUser);
        EXPECT_EQ(t.read(QStringLiteral("dst/b.txt")), "b");
        EXPECT_EQ(entries().mid(1).first(), QStringLiteral(" : Finished Copy process (Test)"));
        EXPECT_EQ(r.copiedCount, interruptedA ? 1 : 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, AbortTest,
                         ::testing::Values(AbortCase{AbortAt::FileList, true},
                                           AbortCase{AbortAt::FileList, false},
                                           AbortCase{AbortAt::BetweenFiles, true},
                                           AbortCase{AbortAt::BetweenFiles, false},
                                           AbortCase{AbortAt::InsideBlock, true},
                                           AbortCase{AbortAt::InsideBlock, false}));

class LastFileTest : public RunFixture {};

TEST_F(LastFileTest, AnInterruptedLastFileEndsTheRunAsFinishedWithoutAQuestion) {
    t.write(QStringLiteral("src/a.dat"), RandomBytes(10000, 9));
    add(listing());
    host.onYield = [&] {
        if (view.blocks == 1 && host.caption == kCaptionRunning)
            driver.Command3_Click();
    };
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.errorCount, 1);
    EXPECT_FALSE(messageTexts().contains(QStringLiteral("Confirm: Abort process?")));
    EXPECT_EQ(entries().at(1), QStringLiteral(" : Finished Copy process (Test)"));
    EXPECT_EQ(host.caption, kCaptionIdle);
    EXPECT_TRUE(view.summaryShown);
}

// ---------------------------------------------------------------------------
// File-system faults

class FaultTest : public RunFixture {};

TEST_F(FaultTest, ADiskThatFillsUpFailsTheFileAndKeepsThePreviousCopy) {
    const QString dst = t.path(QStringLiteral("dst"));
    ScopedMount small = ScopedMount::Tmpfs(dst, 256);
    if (!small.ok())
        GTEST_SKIP() << small.why().toStdString();
    t.write(QStringLiteral("src/big.dat"), RandomBytes(1 << 20, 11));
    t.write(QStringLiteral("src/small.txt"), "fits");
    t.write(QStringLiteral("dst/big.dat"), "previous");
    Listing l = listing();
    l.CopyJustFiles = true;
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(errorEntries(),
              QStringList{QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/big.dat"))});
    EXPECT_EQ(t.read(QStringLiteral("dst/big.dat")), "previous");
    EXPECT_EQ(t.read(QStringLiteral("dst/small.txt")), "fits");
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(dst)).isEmpty());
}

TEST_F(FaultTest, AMoveThatCannotCopyKeepsItsSource) {
    const QString dst = t.path(QStringLiteral("dst"));
    ScopedMount small = ScopedMount::Tmpfs(dst, 256);
    if (!small.ok())
        GTEST_SKIP() << small.why().toStdString();
    const QByteArray bytes = RandomBytes(1 << 20, 12);
    t.write(QStringLiteral("src/big.dat"), bytes);
    Listing l = listing();
    l.Action = ListingAction::Move;
    l.CopyJustFiles = true;
    add(l);
    run();
    EXPECT_EQ(t.read(QStringLiteral("src/big.dat")), bytes);
    EXPECT_FALSE(t.exists(QStringLiteral("dst/big.dat")));
}

TEST_F(FaultTest, AFolderThatCannotBeWrittenFailsItsFilesOnly) {
    t.write(QStringLiteral("src/ro/x.txt"), "x");
    t.write(QStringLiteral("src/ok.txt"), "ok");
    const QString dst = t.path(QStringLiteral("dst"));
    t.mkdir(QStringLiteral("frozen"));
    ScopedMount frozen = ScopedMount::ReadOnlyBind(t.path(QStringLiteral("frozen")),
                                                   kept(dst, QStringLiteral("src/ro")));
    if (!frozen.ok())
        GTEST_SKIP() << frozen.why().toStdString();
    Listing l = listing();
    l.Filter = QStringLiteral("*.txt");
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(errorEntries(), QStringList{QStringLiteral("Copy failed: ") +
                                          t.path(QStringLiteral("src/ro/x.txt"))});
    EXPECT_EQ(ReadBytes(EncodePath(kept(dst, QStringLiteral("src/ok.txt")))), "ok");
}

TEST_F(FaultTest, ASourceThatCannotBeDeletedIsCopiedAndReportedForItsDeletion) {
    t.write(QStringLiteral("data/a.txt"), "a");
    ScopedMount frozen =
        ScopedMount::ReadOnlyBind(t.path(QStringLiteral("data")), t.path(QStringLiteral("src")));
    if (!frozen.ok())
        GTEST_SKIP() << frozen.why().toStdString();
    Listing l = listing();
    l.Action = ListingAction::Move;
    l.CopyJustFiles = true;
    l.IncludeSubfolders = false;
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
    EXPECT_EQ(errorEntries(),
              (QStringList{QStringLiteral("Delete failed: ") + t.path(QStringLiteral("src/a.txt")),
                           QStringLiteral("Delete failed: ") + t.path(QStringLiteral("src"))}));
}

}  // namespace
