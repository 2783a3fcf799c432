// What a run must never do to files, tried as an unprivileged user where the
// test runs as root: grant wider access, write or re-mode through a link,
// delete a file it did not copy, lose one of two same-name files, pass over
// an unreadable folder, or stop at the path limit.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>

#include "common/FileSystem.h"
#include "common/Paths.h"
#include "run/RunFixture.h"
#include "run/TestFiles.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

constexpr uid_t kNobody = 65534;

// The run as an unprivileged owner of the whole tree, where the test is
// root: permissions then mean what they mean to users.
class AsNobody {
  public:
    explicit AsNobody(const QString& root) {
        if (::geteuid() != 0)
            return;
        own(EncodePath(root));
        active_ = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
        fs::ForgetPrivilege();  // the run asks anew who it is
    }
    ~AsNobody() {
        if (active_) {
            [[maybe_unused]] const int a = ::seteuid(0);
            [[maybe_unused]] const int b = ::setegid(0);
            fs::ForgetPrivilege();
        }
    }

  private:
    static void own(const QByteArray& path) {
        [[maybe_unused]] const int r = ::lchown(path.constData(), kNobody, kNobody);
        QDirIterator it(QFile::decodeName(path),
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            [[maybe_unused]] const int s =
                ::lchown(EncodePath(it.next()).constData(), kNobody, kNobody);
    }
    bool active_ = false;
};

mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::lstat(EncodePath(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void Chmod(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(EncodePath(path).constData(), mode), 0);
}

class SafetyTest : public RunFixture {
  protected:
    QString dstOf(const QString& srcRelative) const {
        return kept(t.path(QStringLiteral("dst")), srcRelative);
    }
};

// ---------------------------------------------------------------------------
// Access rights: a copy never grants more than its source

struct ModeCase {
    const char* path;  // below src; a trailing "/" names a folder
    mode_t mode;
};

TEST_F(SafetyTest, CopiesAndTheFoldersMadeForThemKeepTheirSourcesPermissions) {
    const ModeCase cases[] = {
        {"key.pem", 0600},       {"script.sh", 0750},  {"setuid", 04755},   {"readonly", 0444},
        {"private/", 0700},      {"shared/", 0755},    {"sticky/", 01777},  {"closed/", 0555},
        {"closed/inside", 0640}, {"private/in", 0644}, {"shared/in", 0664}, {"sticky/in", 0604},
    };
    for (const ModeCase& c : cases) {
        const QString rel = QStringLiteral("src/") + QLatin1String(c.path);
        if (rel.endsWith(u'/'))
            t.mkdir(rel);
        else
            t.write(rel, "data");
    }
    for (const ModeCase& c : cases)
        Chmod(t.path(QStringLiteral("src/") + QLatin1String(c.path)), c.mode);
    Listing l = listing();
    l.Action = ListingAction::Move;
    add(l);
    {
        AsNobody nobody(t.root());
        run();
    }
    EXPECT_EQ(errorEntries().filter(QStringLiteral("Copy failed")), QStringList());
    for (const ModeCase& c : cases) {
        const QString copy = dstOf(QStringLiteral("src/") + QLatin1String(c.path));
        EXPECT_EQ(ModeOf(copy), fs::Masked(c.mode & 0777)) << c.path;
    }
}

// ---------------------------------------------------------------------------
// Links: never written, deleted or re-moded through, below the folders named

enum class LinkPlace { BelowDestination, AtDestinationName, SourceFileLink, DestinationIsLink };

struct LinkCase {
    LinkPlace place;
    bool copied;  // whether the file reaches its destination
};

class LinkTest : public SafetyTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkTest, NothingOutsideTheFoldersNamedIsTouched) {
    const LinkCase c = GetParam();
    t.write(QStringLiteral("outside/f.txt"), "not yours");
    Chmod(t.path(QStringLiteral("outside/f.txt")), 0444);
    Listing l = listing();
    switch (c.place) {
        case LinkPlace::BelowDestination:
            t.write(QStringLiteral("src/sub/f.txt"), "new");
            QDir().mkpath(GetFolderPart(dstOf(QStringLiteral("src/x"))));
            ASSERT_TRUE(
                QFile::link(t.path(QStringLiteral("outside")), dstOf(QStringLiteral("src/sub"))));
            break;
        case LinkPlace::AtDestinationName:
            t.write(QStringLiteral("src/f.txt"), "new");
            QDir().mkpath(GetFolderPart(dstOf(QStringLiteral("src/f.txt"))));
            ASSERT_TRUE(QFile::link(t.path(QStringLiteral("outside/f.txt")),
                                    dstOf(QStringLiteral("src/f.txt"))));
            break;
        case LinkPlace::SourceFileLink:
            t.mkdir(QStringLiteral("src"));
            ASSERT_TRUE(QFile::link(t.path(QStringLiteral("outside/f.txt")),
                                    t.path(QStringLiteral("src/f.txt"))));
            l.CopyJustFiles = true;
            break;
        case LinkPlace::DestinationIsLink:
            t.write(QStringLiteral("src/f.txt"), "new");
            t.mkdir(QStringLiteral("real"));
            ASSERT_TRUE(QFile::link(t.path(QStringLiteral("real")), t.path(QStringLiteral("dst"))));
            l.CopyJustFiles = true;
            break;
    }
    add(l);
    run();
    EXPECT_EQ(t.read(QStringLiteral("outside/f.txt")), "not yours");
    EXPECT_EQ(ModeOf(t.path(QStringLiteral("outside/f.txt"))), 0444u);
    EXPECT_EQ(QDir(t.path(QStringLiteral("outside"))).entryList(QDir::Files).size(), 1);
    const QStringList failed = errorEntries();
    EXPECT_EQ(failed.isEmpty(), c.copied) << failed.join(u'\n').toStdString();
    if (c.place == LinkPlace::DestinationIsLink) {
        EXPECT_EQ(t.read(QStringLiteral("real/f.txt")), "new");
    }
    if (c.place == LinkPlace::AtDestinationName) {
        EXPECT_FALSE(QFileInfo(dstOf(QStringLiteral("src/f.txt"))).isSymLink());
        EXPECT_EQ(ReadBytes(EncodePath(dstOf(QStringLiteral("src/f.txt")))), "new");
    }
}

INSTANTIATE_TEST_SUITE_P(Places, LinkTest,
                         ::testing::Values(LinkCase{LinkPlace::BelowDestination, false},
                                           LinkCase{LinkPlace::AtDestinationName, true},
                                           LinkCase{LinkPlace::SourceFileLink, true},
                                           LinkCase{LinkPlace::DestinationIsLink, true}));

// A source folder renamed and replaced by a link while its file is copied:
// the Move deletes the file it copied, never the one the link leads to.
TEST_F(SafetyTest, AMoveDeletesOnlyTheFileItCopiedWhenItsFolderIsSwapped) {
    t.write(QStringLiteral("src/sub/big"), QByteArray(64 * 1024, 'c'));
    t.write(QStringLiteral("elsewhere/big"), "must stay");
    Listing l = listing();
    l.Action = ListingAction::Move;
    add(l);
    bool swapped = false;
    view.onBlock = [&] {
        if (swapped)
            return;
        swapped = true;
        ASSERT_TRUE(
            QFile::rename(t.path(QStringLiteral("src/sub")), t.path(QStringLiteral("src/moved"))));
        ASSERT_TRUE(
            QFile::link(t.path(QStringLiteral("elsewhere")), t.path(QStringLiteral("src/sub"))));
    };
    run();
    ASSERT_TRUE(swapped);
    EXPECT_EQ(t.read(QStringLiteral("elsewhere/big")), "must stay");
    EXPECT_FALSE(t.exists(QStringLiteral("src/moved/big")));  // the one copied, gone
    EXPECT_EQ(ReadBytes(EncodePath(dstOf(QStringLiteral("src/sub/big")))),
              QByteArray(64 * 1024, 'c'));
}

// ---------------------------------------------------------------------------
// A Move never loses a file to another, nor reports one it moved as failed

struct MoveCase {
    const char* name;
    ListingAction action;
    const char* filter;
    int copied;
    QStringList failed;     // below src
    QStringList stayInSrc;  // below src
};

class MoveTest : public SafetyTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTest, EveryFileIsAtItsDestinationOrInItsSource) {
    const MoveCase c = GetParam();
    t.write(QStringLiteral("src/X/n.txt"), "X");
    t.write(QStringLiteral("src/Y/n.txt"), "Y");
    t.write(QStringLiteral("src/n.txt"), "top");
    t.write(QStringLiteral("dst/.n.txt.zandrel-part"), "the user's");
    Listing l = listing();
    l.Action = c.action;
    l.CopyJustFiles = true;
    l.Filter = QLatin1String(c.filter);
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, c.copied);
    QStringList expected;
    for (const QString& f : c.failed) expected << QStringLiteral("Copy failed: ") + t.path(f);
    EXPECT_EQ(errorEntries().filter(QStringLiteral("Copy failed")), expected);
    for (const QString& f : c.stayInSrc) EXPECT_TRUE(t.exists(f)) << f.toStdString();
    EXPECT_EQ(t.read(QStringLiteral("dst/n.txt")), c.action == ListingAction::Move ? "X" : "top");
    EXPECT_EQ(t.read(QStringLiteral("dst/.n.txt.zandrel-part")), "the user's");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveTest,
    ::testing::Values(
        MoveCase{"flat move",
                 ListingAction::Move,
                 "*.*",
                 1,
                 {QStringLiteral("src/Y/n.txt"), QStringLiteral("src/n.txt")},
                 {QStringLiteral("src/Y/n.txt"), QStringLiteral("src/n.txt")}},
        MoveCase{"flat copy", ListingAction::Copy, "*.*", 3, {}, {QStringLiteral("src/X/n.txt")}}),
    [](const auto& p) {
        return QString::fromLatin1(p.param.name).replace(u' ', u'_').toStdString();
    });

TEST_F(SafetyTest, AFileListedTwiceIsMovedOnceWithoutAnError) {
    t.write(QStringLiteral("src/a.txt"), "a");
    Listing l = listing();
    l.Action = ListingAction::Move;
    l.Filter = QStringLiteral("*.*;*.txt");
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(errorEntries(), QStringList());
    EXPECT_EQ(ReadBytes(EncodePath(dstOf(QStringLiteral("src/a.txt")))), "a");
}

// ---------------------------------------------------------------------------
// Unreadable folders and the path limit

TEST_F(SafetyTest, AFolderThatCannotBeReadIsAFailureNotASilentGap) {
    t.write(QStringLiteral("src/open/a.txt"), "a");
    t.write(QStringLiteral("src/locked/b.txt"), "b");
    Chmod(t.path(QStringLiteral("src/locked")), 0);
    add(listing());
    RunResult r;
    {
        AsNobody nobody(t.root());
        r = run();
    }
    Chmod(t.path(QStringLiteral("src/locked")), 0755);
    if (::geteuid() == 0 && errorEntries().isEmpty())
        GTEST_SKIP() << "privileges could not be dropped";
    EXPECT_EQ(errorEntries(),
              QStringList{QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/locked"))});
    EXPECT_EQ(r.copiedCount, 1);
}

TEST_F(SafetyTest, FilesBeyondThePathLimitAreCopiedAndMoved) {
    QString deep = QStringLiteral("src");
    for (int i = 0; i < 150; ++i) deep += u'/' + QString(43, QChar(u'a' + i % 26));
    ASSERT_GT(EncodePath(t.path(deep)).size(), 4096);
    // Made one level at a time, as no single call takes the whole path.
    {
        const QString root = t.path(QString());
        ASSERT_EQ(::chdir(EncodePath(root).constData()), 0);
        for (const QString& part : deep.split(u'/')) {
            ::mkdir(EncodePath(part).constData(), 0755);
            ASSERT_EQ(::chdir(EncodePath(part).constData()), 0);
        }
        ASSERT_TRUE(WriteBytes("deep.txt", "bottom"));
        ASSERT_EQ(::chdir("/"), 0);
    }
    Listing l = listing();
    l.Action = ListingAction::Move;
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(errorEntries(), QStringList());
    // Read back one level at a time.
    const QByteArray destination = EncodePath(dstOf(deep + QStringLiteral("/deep.txt")));
    fs::FolderCursor cursor;
    cursor.reset(fs::Folder::openAsNamed(EncodePath(t.path(QStringLiteral("dst")))));
    const QByteArray rest = destination.mid(EncodePath(t.path(QStringLiteral("dst/"))).size());
    const fs::Folder* folder = cursor.reach(QByteArrayView(rest).chopped(9));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->info("deep.txt", false).size, 6);
    EXPECT_FALSE(QFileInfo::exists(t.path(QStringLiteral("src"))));
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), t.path(QStringLiteral("dst"))});
}

}  // namespace

// ---------------------------------------------------------------------------
// Never act on what was not examined, never report what did not happen

TEST_F(SafetyTest, AFolderSwappedForALinkAfterItWasListedIsNeverWalkedThrough) {
    t.write(QStringLiteral("src/a/ok.txt"), "ok");
    t.write(QStringLiteral("private/secret.txt"), "secret");
    add(listing());
    bool swapped = false;
    host.onYield = [&] {
        // src is read to its end before it is searched: a is listed as a
        // folder, then becomes a link before it is read.
        if (swapped || !host.statusText.startsWith(QLatin1String("Creating")))
            return;
        swapped = true;
        ASSERT_TRUE(QDir().rename(t.path(QStringLiteral("src/a")), t.path(QStringLiteral("a2"))));
        ASSERT_TRUE(
            QFile::link(t.path(QStringLiteral("private")), t.path(QStringLiteral("src/a"))));
    };
    run();
    ASSERT_TRUE(swapped);
    EXPECT_EQ(errorEntries(),
              QStringList{QStringLiteral("Copy failed: ") + t.path(QStringLiteral("src/a"))});
    // At most the link itself is copied, as a link.
    QDirIterator it(t.path(QStringLiteral("dst")), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) EXPECT_FALSE(it.next().endsWith(QLatin1String("secret.txt")));
}

// Names that lead to one file: the run's own changes to one name are not
// changes of the file under another.
struct SharedFileCase {
    const char* name;
    ListingAction action;
    std::function<void(const TempTree&, const QString& dst)> prepare;  // src/a.txt exists
    QStringList sourcesLeft;
};

class SharedFileTest : public SafetyTest, public ::testing::WithParamInterface<SharedFileCase> {};

TEST_P(SharedFileTest, EveryNameIsCopiedAndAMoveDeletesIt) {
    const SharedFileCase c = GetParam();
    t.write(QStringLiteral("src/a.txt"), "one file");
    Listing l = listing();
    l.Action = c.action;
    l.IncludeSubfolders = false;
    l.CopyJustFiles = true;
    add(l);
    t.mkdir(QStringLiteral("dst"));
    c.prepare(t, t.path(QStringLiteral("dst")));
    const RunResult r = run();
    EXPECT_EQ(errorEntries(), QStringList());
    QStringList left = QDir(t.path(QStringLiteral("src")))
                           .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    EXPECT_EQ(left, c.sourcesLeft);
    for (const QString& name :
         QDir(t.path(QStringLiteral("dst"))).entryList(QDir::Files | QDir::System)) {
        EXPECT_FALSE(QFileInfo(t.path(QStringLiteral("dst/")) + name).isSymLink())
            << name.toStdString();
        EXPECT_EQ(t.read(QStringLiteral("dst/") + name), QByteArray("one file"));
    }
    EXPECT_GE(r.copiedCount, 1);
}

void HardLink(const QString& from, const QString& to) {
    ASSERT_EQ(::link(EncodePath(from).constData(), EncodePath(to).constData()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SharedFileTest,
    ::testing::Values(SharedFileCase{"two names moved",
                                     ListingAction::Move,
                                     [](const TempTree& tree, const QString&) {
                                         HardLink(tree.path(QStringLiteral("src/a.txt")),
                                                  tree.path(QStringLiteral("src/b.txt")));
                                     },
                                     {}},
                      SharedFileCase{"its other name replaced",
                                     ListingAction::Move,
                                     [](const TempTree& tree, const QString& dst) {
                                         HardLink(tree.path(QStringLiteral("src/a.txt")),
                                                  dst + QStringLiteral("/h.txt"));
                                         tree.write(QStringLiteral("src/h.txt"), "one file");
                                     },
                                     {}},
                      SharedFileCase{"a link to it at the destination",
                                     ListingAction::Copy,
                                     [](const TempTree& tree, const QString& dst) {
                                         ASSERT_TRUE(
                                             QFile::link(tree.path(QStringLiteral("src/a.txt")),
                                                         dst + QStringLiteral("/a.txt")));
                                     },
                                     {QStringLiteral("a.txt")}}),
    [](const auto& p) {
        return QString::fromLatin1(p.param.name).replace(u' ', u'_').toStdString();
    });

struct ChangedSourceCase {
    const char* name;
    std::function<void(const TempTree&)> duringMove;  // once the copy is complete
    QByteArray sourceAfter;                           // "" when it must be gone
};

class ChangedSourceTest : public SafetyTest,
                          public ::testing::WithParamInterface<ChangedSourceCase> {};

TEST_P(ChangedSourceTest, AMoveDeletesOnlyTheFileItCopiedAsItCopiedIt) {
    const ChangedSourceCase c = GetParam();
    t.write(QStringLiteral("src/sub/f.log"), QByteArray(10000, 'a'));
    Listing l = listing();
    l.Action = ListingAction::Move;
    add(l);
    view.onEnd = [&] { c.duringMove(t); };
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 1);
    EXPECT_EQ(ReadBytes(EncodePath(dstOf(QStringLiteral("src/sub/f.log")))),
              QByteArray(10000, 'a'));
    if (c.sourceAfter.isEmpty()) {
        EXPECT_FALSE(t.exists(QStringLiteral("src/sub/f.log")));
        EXPECT_EQ(errorEntries(), QStringList());
    } else {
        EXPECT_EQ(t.read(QStringLiteral("src/sub/f.log")), c.sourceAfter);
        // The folders it leaves are reported after it.
        EXPECT_EQ(errorEntries().value(0),
                  QStringLiteral("Delete failed: ") + t.path(QStringLiteral("src/sub/f.log")));
        EXPECT_TRUE(errorEntries().filter(QStringLiteral("Copy failed")).isEmpty());
        EXPECT_FALSE(driver.state().ErrorReasons.value(0).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangedSourceTest,
    ::testing::Values(
        ChangedSourceCase{"unchanged", [](const TempTree&) {}, {}},
        ChangedSourceCase{"a line appended",
                          [](const TempTree& tree) {
                              QFile f(tree.path(QStringLiteral("src/sub/f.log")));
                              ASSERT_TRUE(f.open(QIODevice::Append));
                              f.write("late line\n");
                          },
                          QByteArray(10000, 'a') + "late line\n"},
        ChangedSourceCase{
            "another file renamed over it",
            [](const TempTree& tree) {
                tree.write(QStringLiteral("src/other"), "not copied");
                ASSERT_EQ(
                    ::rename(EncodePath(tree.path(QStringLiteral("src/other"))).constData(),
                             EncodePath(tree.path(QStringLiteral("src/sub/f.log"))).constData()),
                    0);
            },
            "not copied"}),
    [](const auto& p) {
        return QString::fromLatin1(p.param.name).replace(u' ', u'_').toStdString();
    });

TEST_F(SafetyTest, AFileACopyPutOverAMovedOneIsNotTakenForTheMovedOne) {
    for (const char* folder : {"m1", "c", "m2"})
        t.write(QString::fromLatin1(folder) + QStringLiteral("/sub/f.txt"), folder);
    for (const char* folder : {"m1", "c", "m2"}) {
        Listing l = listing(QString::fromLatin1(folder), QStringLiteral("flat"));
        l.CopyJustFiles = true;
        l.Action = folder[0] == 'm' ? ListingAction::Move : ListingAction::Copy;
        add(l);
    }
    const RunResult r = run();
    EXPECT_EQ(errorEntries(), QStringList());
    EXPECT_EQ(r.copiedCount, 3);
    EXPECT_EQ(t.read(QStringLiteral("flat/f.txt")), "m2");
}

TEST_F(SafetyTest, ARelativeSourceFolderIsTheFolderInTheCurrentFolder) {
    t.write(QStringLiteral("src/sub/a.txt"), "a");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(t.root()));
    for (const char* source : {"src", "./src"}) {
        Listing l = listing();
        l.SourceFolder = QLatin1String(source);
        add(l);
    }
    const RunResult r = run();
    QDir::setCurrent(previous);
    EXPECT_EQ(errorEntries(), QStringList());
    EXPECT_EQ(r.copiedCount, 2);
    EXPECT_EQ(ReadBytes(EncodePath(dstOf(QStringLiteral("src/sub/a.txt")))), "a");
}

TEST_F(SafetyTest, AFileThatCannotBeReadFailsWithItsReason) {
    t.write(QStringLiteral("src/sub/closed.txt"), "x");
    Chmod(t.path(QStringLiteral("src/sub/closed.txt")), 0);
    add(listing());
    {
        AsNobody nobody(t.root());
        run();
    }
    if (::geteuid() == 0 && errorEntries().isEmpty())
        GTEST_SKIP() << "privileges could not be dropped";
    EXPECT_EQ(errorEntries(), QStringList{QStringLiteral("Copy failed: ") +
                                          t.path(QStringLiteral("src/sub/closed.txt"))});
    EXPECT_EQ(driver.state().ErrorReasons, QList<QString>{fs::ErrorText(EACCES)});
}

struct LinkCopyCase {
    const char* name;
    ListingAction action;
};

class LinkCopyTest : public SafetyTest, public ::testing::WithParamInterface<LinkCopyCase> {};

TEST_P(LinkCopyTest, ALinkIsCopiedAsALinkWhereverItLeads) {
    t.write(QStringLiteral("target/private.txt"), "root's");
    const QStringList texts{t.path(QStringLiteral("target/private.txt")),
                            t.path(QStringLiteral("target")), QStringLiteral("../nowhere")};
    const QStringList names{QStringLiteral("src/sub/to-file"), QStringLiteral("src/sub/to-folder"),
                            QStringLiteral("src/dangling")};
    for (qsizetype i = 0; i < names.size(); ++i) {
        t.mkdir(GetFolderPart(names[i]));
        ASSERT_EQ(
            ::symlink(EncodePath(texts[i]).constData(), EncodePath(t.path(names[i])).constData()),
            0);
    }
    Listing l = listing();
    l.Action = GetParam().action;
    add(l);
    const RunResult r = run();
    EXPECT_EQ(r.copiedCount, 3);
    EXPECT_TRUE(errorEntries().filter(QStringLiteral("Copy failed")).isEmpty());
    for (qsizetype i = 0; i < names.size(); ++i) {
        char text[4096];
        const ssize_t n =
            ::readlink(EncodePath(dstOf(names[i])).constData(), text, sizeof text - 1);
        EXPECT_EQ(QByteArray(text, std::max<ssize_t>(n, 0)), EncodePath(texts[i]));
        EXPECT_EQ(QFileInfo(t.path(names[i])).isSymLink(), l.Action == ListingAction::Copy);
    }
    EXPECT_EQ(t.read(QStringLiteral("target/private.txt")), "root's");
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkCopyTest,
                         ::testing::Values(LinkCopyCase{"Copy", ListingAction::Copy},
                                           LinkCopyCase{"Move", ListingAction::Move}),
                         [](const auto& p) { return std::string(p.param.name); });
