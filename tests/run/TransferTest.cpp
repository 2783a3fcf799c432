// The transfer of Listings on real folders: destination paths, the
// existing-file rules, exclusions, listed folders, the zero-length rule,
// special files, names as bytes and the cases where a file maps onto itself.

#include <sys/socket.h>
#include <sys/un.h>

#include "common/Paths.h"
#include "run/FileOps.h"
#include "run/RunFixture.h"
#include "run/TestFiles.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

// ---------------------------------------------------------------------------
// Destination below the root part

struct BelowRootCase {
    const char* path;
    const char* below;
};

class PathBelowRootTest : public ::testing::TestWithParam<BelowRootCase> {};

TEST_P(PathBelowRootTest, GivesThePartBelowRootAndFirstLevel) {
    EXPECT_EQ(PathBelowRoot(QByteArray(GetParam().path)), QByteArray(GetParam().below));
}

INSTANTIATE_TEST_SUITE_P(
    LinuxAndRelative, PathBelowRootTest,
    ::testing::Values(BelowRootCase{"/L1/rest", "rest"}, BelowRootCase{"/a.txt", "a.txt"},
                      BelowRootCase{"/L1/L2/x.txt", "L2/x.txt"}, BelowRootCase{"/L1/", ""},
                      BelowRootCase{"/L1", "L1"}, BelowRootCase{"abc/d/e.txt", "e.txt"},
                      BelowRootCase{"abc/e.txt", "e.txt"}, BelowRootCase{"ab/c/e.txt", "e.txt"},
                      BelowRootCase{"a/b/c", ""}, BelowRootCase{"plain", ""},
                      BelowRootCase{"/L1/caf\xe9/x", "caf\xe9/x"}));

class TransferTest : public RunFixture {};

TEST_F(TransferTest, KeepsThePathBelowTheFirstLevelAndListsSubfoldersFirst) {
    t.write(QStringLiteral("src/a.txt"), "top");
    t.write(QStringLiteral("src/B/C/c.txt"), "deep");
    t.write(QStringLiteral("src/B/b.txt"), "mid");
    add(listing());
    const RunResult r = run();

    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.copiedCount, 3);
    const QString dst = t.path(QStringLiteral("dst"));
    EXPECT_EQ(ReadBytes(EncodePath(kept(dst, QStringLiteral("src/a.txt")))), "top");
    EXPECT_EQ(ReadBytes(EncodePath(kept(dst, QStringLiteral("src/B/b.txt")))), "mid");
    EXPECT_EQ(ReadBytes(EncodePath(kept(dst, QStringLiteral("src/B/C/c.txt")))), "deep");
    // Sub-folders' files first, in tree order, the source folder's own last.
    QStringList copiedOrder;
    for (const QString& e : view.matching(QStringLiteral("current ")))
        if (e.endsWith(QStringLiteral(".txt")))
            copiedOrder << e.section(u' ', 1, 1);
    EXPECT_EQ(copiedOrder, (QStringList{t.path(QStringLiteral("src/B/b.txt")),
                                        t.path(QStringLiteral("src/B/C/c.txt")),
                                        t.path(QStringLiteral("src/a.txt"))}));
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(dst)).isEmpty());
}

// Copies wait for their names in batches, yet the panel counts each file
// as it is done, and a Move's as well.
TEST_F(TransferTest, ThePanelCountsEachCopyAsItIsDone) {
    for (const ListingAction action : {ListingAction::Copy, ListingAction::Move}) {
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            t.write(QStringLiteral("src/") + QLatin1String(name), name);
        Listing l = listing(QStringLiteral("src"), QStringLiteral("dst"));
        l.Action = action;
        doc.resetLines({});
        add(l);
        view.events.clear();
        run();
        // Each count shows before the next file begins.
        QList<qsizetype> begins;
        for (qsizetype i = 0; i < view.events.size(); ++i) {
            if (view.events.at(i).startsWith(QStringLiteral("begin ")))
                begins << i;
        }
        ASSERT_EQ(begins.size(), 3);
        for (int k = 1; k <= 2; ++k)
            EXPECT_LT(view.events.indexOf(QStringLiteral("copied %1").arg(k)), begins.at(k)) << k;
    }
}

TEST_F(TransferTest, FlattenPutsEveryFileIntoTheDestinationFolder) {
    t.write(QStringLiteral("src/x/one.txt"), "1");
    t.write(QStringLiteral("src/y/z/two.txt"), "2");
    Listing l = listing();
    l.CopyJustFiles = true;
    l.Filter = QStringLiteral("*.txt");
    add(l);
    run();
    EXPECT_EQ(t.read(QStringLiteral("dst/one.txt")), "1");
    EXPECT_EQ(t.read(QStringLiteral("dst/two.txt")), "2");
    EXPECT_EQ(QDir(t.path(QStringLiteral("dst")))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{QStringLiteral("one.txt"), QStringLiteral("two.txt")}));
}

// ---------------------------------------------------------------------------
// Existing-file rules

enum class Existing { Missing, Older, SameSecond, Newer };

struct RuleCase {
    ExistingFileRule rule;
    Existing existing;
    bool copies;
};

class ExistingFileRuleTest : public RunFixture, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(ExistingFileRuleTest, CopiesOrSkipsByRuleAndTime) {
    const RuleCase c = GetParam();
    constexpr qint64 kSourceTime = 1700000000;
    t.write(QStringLiteral("src/f.txt"), "new contents");
    // In the same second, but later: an edit made right after a copy.
    SetMtime(t.path(QStringLiteral("src/f.txt")), kSourceTime, 800000000);
    if (c.existing != Existing::Missing) {
        t.write(QStringLiteral("dst/f.txt"), "old");
        const qint64 seconds = c.existing == Existing::Older   ? kSourceTime - 1
                               : c.existing == Existing::Newer ? kSourceTime + 1
                                                               : kSourceTime;
        SetMtime(t.path(QStringLiteral("dst/f.txt")), seconds,
                 c.existing == Existing::SameSecond ? 100000000 : 900000000);
    }
    Listing l = listing();
    l.CopyJustFiles = true;
    l.IncludeSubfolders = false;
    l.IfExists = c.rule;
    l.Filter = QStringLiteral("*.txt");
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.copiedCount, c.copies ? 1 : 0);
    EXPECT_EQ(view.skipped, c.copies ? 0 : 1);
    EXPECT_EQ(t.read(QStringLiteral("dst/f.txt")), c.copies ? "new contents" : "old");
    if (!c.copies) {
        // A skipped destination is not touched at all.
        EXPECT_EQ(view.count(QStringLiteral("begin 12")), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllRules, ExistingFileRuleTest,
    ::testing::Values(RuleCase{ExistingFileRule::Overwrite, Existing::Missing, true},
                      RuleCase{ExistingFileRule::Overwrite, Existing::Older, true},
                      RuleCase{ExistingFileRule::Overwrite, Existing::SameSecond, true},
                      RuleCase{ExistingFileRule::Overwrite, Existing::Newer, true},
                      RuleCase{ExistingFileRule::SkipFile, Existing::Missing, true},
                      RuleCase{ExistingFileRule::SkipFile, Existing::Older, false},
                      RuleCase{ExistingFileRule::SkipFile, Existing::SameSecond, false},
                      RuleCase{ExistingFileRule::SkipFile, Existing::Newer, false},
                      RuleCase{ExistingFileRule::CopyOnlyIfNewer, Existing::Missing, true},
                      RuleCase{ExistingFileRule::CopyOnlyIfNewer, Existing::Older, true},
                      RuleCase{ExistingFileRule::CopyOnlyIfNewer, Existing::SameSecond, true},
                      RuleCase{ExistingFileRule::CopyOnlyIfNewer, Existing::Newer, false}));

TEST_F(TransferTest, CopyOnlyIfNewerSkipsEverythingOnARunAfterACopy) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.write(QStringLiteral("src/S/b.txt"), "b");
    SetMtime(t.path(QStringLiteral("src/a.txt")), 1600000000, 0);
    SetMtime(t.path(QStringLiteral("src/S/b.txt")), 1600000000, 0);
    Listing l = listing();
    l.IfExists = ExistingFileRule::CopyOnlyIfNewer;
    l.Filter = QStringLiteral("*.txt");
    add(l);
    EXPECT_EQ(run().copiedCount, 2);
    // The copies carry their sources' times, so nothing is newer now.
    const RunResult again = run();
    EXPECT_EQ(again.copiedCount, 0);
    EXPECT_EQ(view.skipped, 2);
}

TEST_F(TransferTest, FlattenMeetsTheFirstCopyOfTheSameNameAsExisting) {
    t.write(QStringLiteral("src/A/x.txt"), "from A");
    t.write(QStringLiteral("src/B/x.txt"), "from B");
    Listing l = listing();
    l.CopyJustFiles = true;
    l.IfExists = ExistingFileRule::SkipFile;
    l.Filter = QStringLiteral("*.txt");
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(view.skipped, 1);
    EXPECT_EQ(t.read(QStringLiteral("dst/x.txt")), "from A");

    QDir(t.path(QStringLiteral("dst"))).removeRecursively();
    doc.replaceLine(0, [&] {
        l.IfExists = ExistingFileRule::Overwrite;
        return EncodeListingLine(l);
    }());
    EXPECT_EQ(run().copiedCount, 2);
    EXPECT_EQ(t.read(QStringLiteral("dst/x.txt")), "from B");
}

// ---------------------------------------------------------------------------
// Exclusions, listed folders

TEST_F(TransferTest, ExcludedFilesCountAsSkippedAfterTheirFoldersWereMade) {
    t.write(QStringLiteral("src/D/only.bmp"), "bmp");
    t.write(QStringLiteral("src/B/x.bmp"), "bmp");
    t.write(QStringLiteral("src/B/y.txt"), "txt");
    t.write(QStringLiteral("src/z.BMP"), "bmp");
    Listing l = listing();
    l.Filter = QStringLiteral("*.txt;-*.bmp");
    add(l);
    const RunResult r = run();

    const QString dst = t.path(QStringLiteral("dst"));
    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(view.skipped, 3);  // each .bmp listed once by "*.bmp", all excluded
    EXPECT_TRUE(QFile::exists(kept(dst, QStringLiteral("src/B/y.txt"))));
    EXPECT_FALSE(QFile::exists(kept(dst, QStringLiteral("src/B/x.bmp"))));
    EXPECT_FALSE(QFile::exists(kept(dst, QStringLiteral("src/z.BMP"))));
    // The folder of an excluded file was made all the same.
    EXPECT_TRUE(QFileInfo(kept(dst, QStringLiteral("src/D"))).isDir());
    EXPECT_FALSE(QFile::exists(kept(dst, QStringLiteral("src/D/only.bmp"))));
}

TEST_F(TransferTest, AnEmptySuffixExcludesEveryListedFile) {
    t.write(QStringLiteral("src/a.jpg"), "a");
    Listing l = listing();
    l.Filter = QStringLiteral("*.jpg;-x");
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 0);
    EXPECT_EQ(view.skipped, 1);
    EXPECT_TRUE(r.errorCount == 0);
}

TEST_F(TransferTest, ListedFoldersArePassedOverWhenCopiedAndCountedWhenSkipped) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.write(QStringLiteral("src/B/b.txt"), "b");
    Listing l = listing();
    l.IfExists = ExistingFileRule::Overwrite;
    add(l);
    RunResult r = run();
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(view.skipped, 0);
    EXPECT_EQ(r.errorCount, 0);

    // With "SkipFile" the listed folder B meets its copy made for b.txt, and
    // "." and ".." always meet an existing folder.
    QDir(t.path(QStringLiteral("dst"))).removeRecursively();
    l.IfExists = ExistingFileRule::SkipFile;
    doc.replaceLine(0, EncodeListingLine(l));
    r = run();
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(r.errorCount, 0);
    const QStringList listed = view.matching(QStringLiteral("current "));
    const bool dotsListed = listed.contains(
        QStringLiteral("current ") + t.path(QStringLiteral("src/.")) + QStringLiteral(" -> ") +
        kept(t.path(QStringLiteral("dst")), QStringLiteral("src/.")));
    EXPECT_TRUE(dotsListed) << "the walk lists \".\" and \"..\" for \"*.*\"";
    EXPECT_EQ(view.skipped, dotsListed ? 3 : 1);
}

// ---------------------------------------------------------------------------
// Zero-length files and special files

struct ZeroCase {
    ListingAction action;
    bool destinationExists;
};

class ZeroLengthTest : public RunFixture, public ::testing::WithParamInterface<ZeroCase> {};

TEST_P(ZeroLengthTest, MakesAnEmptyDestinationAndCountsItCopied) {
    t.write(QStringLiteral("src/empty.dat"), "");
    if (GetParam().destinationExists)
        t.write(QStringLiteral("dst/empty.dat"), "old contents");
    Listing l = listing();
    l.Action = GetParam().action;
    l.CopyJustFiles = true;
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(r.errorCount, 0) << errorEntries().join(u'\n').toStdString();
    EXPECT_TRUE(t.exists(QStringLiteral("dst/empty.dat")));
    EXPECT_EQ(QFileInfo(t.path(QStringLiteral("dst/empty.dat"))).size(), 0);
    // The block copy never began.
    EXPECT_TRUE(view.matching(QStringLiteral("begin")).isEmpty());
    EXPECT_EQ(t.exists(QStringLiteral("src/empty.dat")), GetParam().action == ListingAction::Copy);
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("dst")))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(CopyAndMove, ZeroLengthTest,
                         ::testing::Values(ZeroCase{ListingAction::Copy, false},
                                           ZeroCase{ListingAction::Copy, true},
                                           ZeroCase{ListingAction::Move, false},
                                           ZeroCase{ListingAction::Move, true}));

enum class Special { Fifo, Socket };

class SpecialFileTest : public RunFixture, public ::testing::WithParamInterface<Special> {};

TEST_P(SpecialFileTest, FailsAtOnceAndIsNeverTakenForAnEmptyFile) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray special = EncodePath(t.path(QStringLiteral("src/special")));
    if (GetParam() == Special::Fifo) {
        ASSERT_EQ(::mkfifo(special.constData(), 0644), 0);
    } else {
        fs::Handle s(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(special.size(), qsizetype{sizeof address.sun_path});
        std::memcpy(address.sun_path, special.constData(), special.size());
        ASSERT_EQ(::bind(s.native(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    t.write(QStringLiteral("src/plain.txt"), "plain");
    Listing l = listing();
    l.CopyJustFiles = true;
    for (const ListingAction action : {ListingAction::Copy, ListingAction::Move}) {
        l.Action = action;
        doc.resetLines({EncodeListingLine(l)});
        view.rows = 1;
        const RunResult r = run();
        EXPECT_EQ(r.outcome, RunOutcome::Finished);
        QStringList expected{QStringLiteral("Copy failed: ") + QString::fromUtf8(special)};
        // The Move's source folder still holds the special file.
        if (action == ListingAction::Move)
            expected << QStringLiteral("Delete failed: ") + t.path(QStringLiteral("src"));
        EXPECT_EQ(errorEntries(), expected);
        EXPECT_FALSE(t.exists(QStringLiteral("dst/special")));
        // A Move keeps a source that failed.
        EXPECT_TRUE(PathExists(special));
    }
}

INSTANTIATE_TEST_SUITE_P(FifoAndSocket, SpecialFileTest,
                         ::testing::Values(Special::Fifo, Special::Socket));

// ---------------------------------------------------------------------------
// Names as bytes

TEST_F(TransferTest, NamesThatAreNotUtf8AreCopiedExactly) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray src = EncodePath(t.path(QStringLiteral("src")));
    const QByteArray folder = src + "/d\xff\xfe";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_TRUE(WriteBytes(src + "/caf\xe9.txt", "latin-1 name"));
    ASSERT_TRUE(WriteBytes(folder + "/x\x80y.txt", "inside"));
    Listing l = listing();
    l.Action = ListingAction::Move;
    add(l);
    const RunResult r = run();

    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(r.errorCount, 0);
    const QByteArray dst = EncodePath(t.path(QStringLiteral("dst"))) + '/' +
                           EncodePath(below(t.path(QStringLiteral("src"))));
    EXPECT_EQ(ReadBytes(dst + "/caf\xe9.txt"), "latin-1 name");
    EXPECT_EQ(ReadBytes(dst + "/d\xff\xfe/x\x80y.txt"), "inside");
    EXPECT_FALSE(PathExists(src + "/caf\xe9.txt"));
    // The emptied folders went too.
    EXPECT_FALSE(PathExists(folder));
    EXPECT_FALSE(PathExists(src));
}

TEST_F(TransferTest, ErrorEntriesCarryTheNameBytesAsTheyAre) {
    t.mkdir(QStringLiteral("src"));
    const QByteArray fifo = EncodePath(t.path(QStringLiteral("src"))) + "/p\xe9";
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    add(listing());
    run();
    ASSERT_EQ(driver.state().ErrorList.size(), 1);
    EXPECT_EQ(driver.state().ErrorList.first(), "Copy failed: " + fifo);
}

// ---------------------------------------------------------------------------
// A destination that is the source itself

enum class SelfSpelling { FirstLevel, LinkToFirstLevel, FlattenIntoDot };

struct SelfCase {
    SelfSpelling spelling;
    ListingAction action;
};

class SelfCopyTest : public RunFixture, public ::testing::WithParamInterface<SelfCase> {};

TEST_P(SelfCopyTest, NeverTruncatesReplacesOrDeletesTheSource) {
    const SelfCase c = GetParam();
    t.write(QStringLiteral("src/keep.txt"), "precious");
    t.write(QStringLiteral("src/empty.txt"), "");
    const QString firstLevel = u'/' + t.root().section(u'/', 1, 1);
    Listing l = listing();
    l.Action = c.action;
    l.IncludeSubfolders = false;
    l.Filter = QStringLiteral("*.txt");
    switch (c.spelling) {
        case SelfSpelling::FirstLevel:
            l.DestinationFolder = firstLevel;
            break;
        case SelfSpelling::LinkToFirstLevel:
            ASSERT_TRUE(QFile::link(firstLevel, t.path(QStringLiteral("level"))));
            l.DestinationFolder = t.path(QStringLiteral("level"));
            break;
        case SelfSpelling::FlattenIntoDot:
            l.CopyJustFiles = true;
            l.DestinationFolder = t.path(QStringLiteral("src/."));
            break;
    }
    add(l);
    const RunResult r = run();

    EXPECT_EQ(t.read(QStringLiteral("src/keep.txt")), "precious");
    if (c.spelling == SelfSpelling::FlattenIntoDot) {
        // The same folder under another spelling: refused before any file.
        EXPECT_EQ(r.outcome, RunOutcome::EndedEarly);
        return;
    }
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.copiedCount, 0);
    EXPECT_TRUE(t.exists(QStringLiteral("src/empty.txt")));
    QStringList expected{QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/empty.txt")),
                         QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/keep.txt"))};
    QStringList got = errorEntries();
    // A Move also tries to remove its source folder, which still holds files.
    got.removeAll(QStringLiteral("Delete failed: ") + t.path(QStringLiteral("src")));
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(TemporaryLeftovers(EncodePath(t.path(QStringLiteral("src")))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, SelfCopyTest,
    ::testing::Values(SelfCase{SelfSpelling::FirstLevel, ListingAction::Copy},
                      SelfCase{SelfSpelling::FirstLevel, ListingAction::Move},
                      SelfCase{SelfSpelling::LinkToFirstLevel, ListingAction::Copy},
                      SelfCase{SelfSpelling::LinkToFirstLevel, ListingAction::Move},
                      SelfCase{SelfSpelling::FlattenIntoDot, ListingAction::Copy},
                      SelfCase{SelfSpelling::FlattenIntoDot, ListingAction::Move}));

TEST_F(TransferTest, AHardLinkAtTheDestinationIsTheSameFile) {
    t.write(QStringLiteral("src/f.txt"), "one inode");
    t.mkdir(QStringLiteral("dst"));
    ASSERT_EQ(::link(EncodePath(t.path(QStringLiteral("src/f.txt"))).constData(),
                     EncodePath(t.path(QStringLiteral("dst/f.txt"))).constData()),
              0);
    Listing l = listing();
    l.Action = ListingAction::Move;
    l.CopyJustFiles = true;
    add(l);
    run();
    EXPECT_EQ(t.read(QStringLiteral("src/f.txt")), "one inode");
    EXPECT_TRUE(errorEntries().contains(QStringLiteral("Copy failed: ") +
                                        t.path(QStringLiteral("src/f.txt"))));
}

// ---------------------------------------------------------------------------
// Move

TEST_F(TransferTest, MoveDeletesEachSourceAfterItsCopy) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.write(QStringLiteral("src/S/b.txt"), "b");
    Listing l = listing();
    l.Action = ListingAction::Move;
    l.CopyJustFiles = true;
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(r.errorCount, 0);
    EXPECT_EQ(t.read(QStringLiteral("dst/a.txt")), "a");
    EXPECT_EQ(t.read(QStringLiteral("dst/b.txt")), "b");
    EXPECT_FALSE(t.exists(QStringLiteral("src")));
}

TEST_F(TransferTest, NeitherTheSourceNorTheFileItReplacesIsReModed) {
    const mode_t modes[] = {0444, 04555, 02550};
    Listing l = listing();
    l.CopyJustFiles = true;
    add(l);
    for (const mode_t mode : modes) {
        const QString name = QString::number(mode, 8) + QStringLiteral(".txt");
        t.write(QStringLiteral("src/") + name, "new");
        t.write(QStringLiteral("dst/") + name, "old");
        ASSERT_EQ(::chmod(EncodePath(t.path(QStringLiteral("src/") + name)).constData(), mode), 0);
    }
    EXPECT_EQ(run().copiedCount, 3);
    for (const mode_t mode : modes) {
        const QString name = QString::number(mode, 8) + QStringLiteral(".txt");
        struct stat st {};
        ASSERT_EQ(::stat(EncodePath(t.path(QStringLiteral("src/") + name)).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(t.read(QStringLiteral("dst/") + name), "new");
    }
}

TEST_F(TransferTest, ARuleThatCannotBeReadKeepsTheRuleOfTheListingBefore) {
    t.write(QStringLiteral("src/a.txt"), "new");
    t.write(QStringLiteral("dst/a.txt"), "old");
    t.write(QStringLiteral("src2/b.txt"), "new");
    t.write(QStringLiteral("dst2/b.txt"), "old");
    Listing first = listing();
    first.CopyJustFiles = true;
    first.IfExists = ExistingFileRule::SkipFile;
    first.Filter = QStringLiteral("*.txt");
    add(first);
    Listing second = listing(QStringLiteral("src2"), QStringLiteral("dst2"));
    second.CopyJustFiles = true;
    second.Filter = QStringLiteral("*.txt");
    addLine(EncodeListingLine(second).replace(QStringLiteral("<Overwrite<"),
                                              QStringLiteral("<Sometimes<")));
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 0);
    EXPECT_EQ(view.skipped, 2);
    EXPECT_EQ(t.read(QStringLiteral("dst2/b.txt")), "old");
}

TEST_F(TransferTest, ARuleThatCannotBeReadInTheFirstListingFailsItsFiles) {
    t.write(QStringLiteral("src/a.txt"), "new");
    Listing l = listing();
    l.CopyJustFiles = true;
    addLine(
        EncodeListingLine(l).replace(QStringLiteral("<Overwrite<"), QStringLiteral("<Sometimes<")));
    const RunResult r = run();
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.copiedCount, 0);
    EXPECT_EQ(view.skipped, 0);
    // Reported, not passed off as a clean run; the listed folders ("." and
    // "..") are passed over as in any run.
    EXPECT_EQ(r.errorCount, 1);
    EXPECT_EQ(r.errorCount, view.errors);
    EXPECT_FALSE(t.exists(QStringLiteral("dst/a.txt")));
}

}  // namespace

namespace {

TEST_F(TransferTest, FoldersDifferingOnlyInCaseAreTwoFolders) {
    t.write(QStringLiteral("src/a.txt"), "a");
    Listing l = listing(QStringLiteral("src"), QStringLiteral("SRC"));
    l.CopyJustFiles = true;
    add(l);
    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(t.read(QStringLiteral("SRC/a.txt")), "a");
}

}  // namespace
