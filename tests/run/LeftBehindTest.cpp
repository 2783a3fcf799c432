// What a killed run leaves on a stick and the next run clears, and nothing
// else with it; and the preview foretelling what such a disk refuses.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <memory>
#include <optional>

#include "common/Overlay.h"
#include "common/Paths.h"
#include "common/posix/TakeName.h"
#include "listing/Listing.h"
#include "run/LeftBehind.h"
#include "run/TestFiles.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

const QByteArray kEuro = "\xe2\x82\xac";

// Names of a copy's hidden form that the run itself makes, and others.
TEST(LeftBehindNames, TheRunsOwnHiddenNamesAndNoOthersHaveTheForm) {
    for (const QByteArray& name :
         {QByteArray("a.txt"), QByteArray(300, 'x'), "a" + kEuro.repeated(83),
          "ab" + QByteArray("\xf0\x9f\x98\x80").repeated(62)}) {
        const QByteArray hidden = fs::naming::FreshTemporaryName(name.constData());
        EXPECT_LE(hidden.size(), 255);
        EXPECT_TRUE(IsLeftBehindCopyName(hidden)) << hidden.constData();
        // Cut between characters, never inside one.
        EXPECT_EQ(QString::fromUtf8(hidden).toUtf8(), hidden);
        EXPECT_TRUE(name.startsWith(hidden.mid(1, hidden.size() - 27)));
    }
    for (const char* other :
         {".a.zandrel-part", ".a.0123456789AB.zandrel-part", ".a.0123456789a.zandrel-part",
          "a.0123456789ab.zandrel-part", "..0123456789ab.zandrel-part",
          ".a.0123456789ab.zandrel-part.txt", ".a-0123456789ab.zandrel-part"})
        EXPECT_FALSE(IsLeftBehindCopyName(other)) << other;
}

// Only regular files of the form go, never through a link; a preview counts
// them and leaves the disk as it is.
TEST(LeftBehindNames, OnlyRegularFilesOfTheFormAreRemoved) {
    TempTree t;
    const QByteArray d = EncodePath(t.path(QStringLiteral("d")));
    t.write(QStringLiteral("d/.a.0123456789ab.zandrel-part"), "stale");
    t.write(QStringLiteral("d/.b.00000000ffff.zandrel-part"), "stale, linked");
    t.write(QStringLiteral("outside"), "kept");
    ::link((d + "/.b.00000000ffff.zandrel-part").constData(), (d + "/b").constData());
    ::symlink(EncodePath(t.path(QStringLiteral("outside"))).constData(),
              (d + "/.c.0123456789ab.zandrel-part").constData());
    ::mkfifo((d + "/.e.0123456789ab.zandrel-part").constData(), 0600);
    t.mkdir(QStringLiteral("d/.f.0123456789ab.zandrel-part"));
    t.write(QStringLiteral("d/.g.zandrel-part"), "the user's");
    const QList<QByteArray> kept = {".c.0123456789ab.zandrel-part", ".e.0123456789ab.zandrel-part",
                                    ".f.0123456789ab.zandrel-part", ".g.zandrel-part", "b"};

    fs::Overlay overlay;
    EXPECT_EQ(RemoveLeftBehindCopies(fs::Folder::openAsNamed(d, &overlay)), 2);
    EXPECT_EQ(EntryNames(d).size(), kept.size() + 2);
    EXPECT_EQ(RemoveLeftBehindCopies(fs::Folder::openAsNamed(d)), 2);
    QList<QByteArray> left = EntryNames(d);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, kept);
    EXPECT_EQ(t.read(QStringLiteral("outside")), "kept");
    EXPECT_EQ(t.read(QStringLiteral("d/b")), "stale, linked");
}

class LeftBehindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program = t.copyProgram();
        ASSERT_FALSE(program.isEmpty()) << "ZANDREL_BINARY is not set or cannot be copied";
    }

    // FAT through FUSE gives a folder that grows by a cluster while files
    // are renamed into it a cluster of a file's (fusefat's own fault, with
    // any program that renames): an image this large has clusters that hold
    // a test's folder whole.
    bool mount(ScopedMount::Image kind, int sizeMiB = 64) {
        disk.emplace(ScopedMount::Formatted(kind, t.path(QStringLiteral("disk.img")),
                                            t.path(QStringLiteral("disk")), sizeMiB));
        return disk->ok();
    }

    QString list(ListingAction action, const QString& source, const QString& destination) {
        Listing l;
        l.Action = action;
        l.SourceFolder = source;
        l.DestinationFolder = destination;
        l.IncludeSubfolders = true;
        l.CopyJustFiles = true;
        l.Description = QStringLiteral("Stick");
        t.write(QStringLiteral("list.bak"), EncodeListingLine(l).toUtf8() + "\r\n");
        return t.path(QStringLiteral("list.bak"));
    }

    std::unique_ptr<QProcess> start(const QString& switchText) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->start(program, {t.path(QStringLiteral("list.bak")), switchText});
        EXPECT_TRUE(p->waitForStarted(30000));
        return p;
    }

    struct Ran {
        int status;
        QByteArray out, err;
    };
    Ran run(const QString& switchText) {
        const auto p = start(switchText);
        EXPECT_TRUE(p->waitForFinished(240000));
        return {p->exitCode(), p->readAllStandardOutput(), p->readAllStandardError()};
    }

    // Names of the form, regular files, in folder.
    static int LeftBehind(const QByteArray& folder) {
        int n = 0;
        for (const QByteArray& name : EntryNames(folder)) {
            struct stat st {};
            n += IsLeftBehindCopyName(name) &&
                 ::lstat((folder + '/' + name).constData(), &st) == 0 && S_ISREG(st.st_mode);
        }
        return n;
    }

    TempTree t;
    QString program;
    std::optional<ScopedMount> disk;
};

TEST_F(LeftBehindTest, AMoveKilledOnFatIsClearedByTheNextRunAndNothingElse) {
    if (!mount(ScopedMount::Image::Fat, 16384))
        GTEST_SKIP() << disk->why().toStdString();
    constexpr int kFiles = 24;
    for (int i = 0; i < kFiles; ++i)
        t.write(QStringLiteral("src/f%1.bin").arg(i), QByteArray(512 * 1024, char('a' + i % 26)));
    const QByteArray dst = EncodePath(t.path(QStringLiteral("disk/dst")));
    t.mkdir(QStringLiteral("disk/dst"));
    list(ListingAction::Move, t.path(QStringLiteral("src")), t.path(QStringLiteral("disk/dst")));

    // Killed while its copies wait, unnamed, for the batch's flush.
    {
        const auto p = start(QStringLiteral("-r"));
        QDeadlineTimer patience(120000);
        while (LeftBehind(dst) < 5 && p->state() == QProcess::Running && !patience.hasExpired())
            QThread::msleep(20);
        ASSERT_EQ(p->state(), QProcess::Running) << "the run ended before it could be killed";
        ::kill(pid_t(p->processId()), SIGKILL);
        p->waitForFinished(30000);
    }
    const int stale = LeftBehind(dst);
    ASSERT_GE(stale, 5);
    const QStringList decoys = {QStringLiteral("disk/dst/.f1.bin.zandrel-part"),
                                QStringLiteral("disk/dst/.f2.bin.0123456789AB.zandrel-part")};
    for (const QString& decoy : decoys) t.write(decoy, "the user's");
    t.mkdir(QStringLiteral("disk/dst/.f3.bin.0123456789ab.zandrel-part"));

    const QByteArray entry =
        " : Removed " + QByteArray::number(stale) + " unfinished copies left by an earlier run\n";
    const Ran preview = run(QStringLiteral("-n"));
    EXPECT_EQ(preview.status, 0) << preview.err.constData();
    EXPECT_TRUE(preview.out.contains(entry)) << preview.out.constData();
    EXPECT_EQ(LeftBehind(dst), stale);

    const Ran second = run(QStringLiteral("-r"));
    EXPECT_EQ(second.status, 0) << second.err.constData();
    EXPECT_EQ(second.out.count(entry), 1) << second.out.constData();
    EXPECT_EQ(LeftBehind(dst), 0);
    for (const QString& decoy : decoys) EXPECT_EQ(t.read(decoy), "the user's");
    EXPECT_TRUE(t.exists(QStringLiteral("disk/dst/.f3.bin.0123456789ab.zandrel-part")));
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(t.read(QStringLiteral("disk/dst/f%1.bin").arg(i)) ==
                    QByteArray(512 * 1024, char('a' + i % 26)))
            << i;
    EXPECT_FALSE(t.exists(QStringLiteral("src")));
}

// The preview says what the run then does: the same failures, the same
// folders removed, the same exit status. exFAT keeps names as UTF-16: a
// hidden name cut inside a character of a long name is refused.
using Image = ScopedMount::Image;
struct ForetoldCase {
    const char* name;
    std::optional<Image> disk;
    ListingAction action;
    const char* source;  // below the root
    QList<QByteArray> previewWords;
    friend void PrintTo(const ForetoldCase& c, std::ostream* os) { *os << c.name; }
};

class PreviewForetellsTest : public LeftBehindTest,
                             public ::testing::WithParamInterface<ForetoldCase> {};

TEST_P(PreviewForetellsTest, TheRunDoesWhatThePreviewSays) {
    const ForetoldCase& c = GetParam();
    if (c.disk && !mount(*c.disk))
        GTEST_SKIP() << disk->why().toStdString();
    t.write(QStringLiteral("a/f.txt"), "file");
    t.write(QStringLiteral("a/sub/g.txt"), "file");
    ::symlink("f.txt", EncodePath(t.path(QStringLiteral("a/sub/lnk"))).constData());
    if (c.disk == Image::Exfat)
        t.write(QString::fromUtf8("a/a" + kEuro.repeated(83)), "long");
    const QString dst = t.path(c.disk ? QStringLiteral("disk/dst") : QStringLiteral("dst"));
    QDir().mkpath(dst);
    list(c.action, t.path(QString::fromLatin1(c.source)), dst);

    const Ran preview = run(QStringLiteral("-n"));
    QList<QByteArray> words, failed;
    for (const QByteArray& line : preview.out.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            words << fields.at(0) + ' ' + GetFileName(fields.at(1));
        if (fields.size() == 3 && fields.at(0).startsWith("fail-"))
            failed << fields.at(1);
    }
    EXPECT_EQ(words, c.previewWords);
    const Ran ran = run(QStringLiteral("-r"));
    EXPECT_EQ(ran.status, preview.status) << ran.err.constData();
    QList<QByteArray> reported;
    for (const QByteArray& line : ran.err.split('\n'))
        if (line.contains(" failed: "))
            reported << line.mid(line.indexOf(" failed: ") + 9).split(':').first();
    EXPECT_EQ(reported, failed) << ran.err.constData();
    EXPECT_EQ(t.exists(QStringLiteral("a")), c.action == ListingAction::Copy);
}

const ForetoldCase kForetold[] = {
    {"LinkOntoFat",
     Image::Fat,
     ListingAction::Copy,
     "a",
     {"copy g.txt", "fail-unwritable lnk", "copy f.txt"}},
    {"LinkAndLongNameOntoExfat",
     Image::Exfat,
     ListingAction::Copy,
     "a",
     {"copy g.txt", "fail-unwritable lnk", "copy a" + kEuro.repeated(83), "copy f.txt"}},
    {"MoveFromADotSource",
     std::nullopt,
     ListingAction::Move,
     "a/.",
     {"copy g.txt", "copy lnk", "copy f.txt", "remove-folder sub", "remove-folder ."}},
};

INSTANTIATE_TEST_SUITE_P(Table, PreviewForetellsTest, ::testing::ValuesIn(kForetold),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
