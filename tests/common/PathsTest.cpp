#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "common/Paths.h"
#include "support/FakeHost.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::ScopedMount;
using zandrel::test::TempTree;

namespace {

struct SplitCase {
    const char* path;
    const char* fileName;
    const char* folderPart;
};

class PathSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PathSplitting, NameAndFolderPart) {
    const QString path = QString::fromUtf8(GetParam().path);
    EXPECT_EQ(GetFileName(path).toStdString(), GetParam().fileName);
    EXPECT_EQ(GetFolderPart(path).toStdString(), GetParam().folderPart);
    // The byte forms agree with the text forms.
    EXPECT_EQ(GetFileName(path.toUtf8()).toStdString(), GetParam().fileName);
    EXPECT_EQ(GetFolderPart(path.toUtf8()).toStdString(), GetParam().folderPart);
}

INSTANTIATE_TEST_SUITE_P(Examples, PathSplitting,
                         ::testing::Values(SplitCase{"/data/report.txt", "report.txt", "/data/"},
                                           SplitCase{"report.txt", "report.txt", ""},
                                           SplitCase{"/data/", "", "/data/"},
                                           SplitCase{"/", "", "/"},
                                           SplitCase{"/a.txt", "a.txt", "/"},
                                           SplitCase{"", "", ""}));

TEST(TrailingSeparator, OneIsRemovedButTheRootStays) {
    EXPECT_EQ(RemoveTrailingSeparator(QStringLiteral("/data/")), QStringLiteral("/data"));
    EXPECT_EQ(RemoveTrailingSeparator(QStringLiteral("/data//")), QStringLiteral("/data/"));
    EXPECT_EQ(RemoveTrailingSeparator(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(JoinPath(QStringLiteral("/"), QStringLiteral("a")), QStringLiteral("/a"));
    EXPECT_EQ(JoinPath(QStringLiteral("/x"), QStringLiteral("a")), QStringLiteral("/x/a"));
}

TEST(Existence, FileIsAPathButNotAFolder) {
    TempTree t;
    t.write(QStringLiteral("f.txt"), "x");
    EXPECT_TRUE(PathExists(t.path(QStringLiteral("f.txt"))));
    EXPECT_FALSE(FolderExists(t.path(QStringLiteral("f.txt"))));
    EXPECT_TRUE(FolderExists(t.root()));
    EXPECT_TRUE(FolderExists(t.root() + u'/'));
    EXPECT_TRUE(FolderExists(QStringLiteral("/")));
    EXPECT_FALSE(PathExists(t.path(QStringLiteral("missing"))));
    EXPECT_FALSE(FolderExists(QString()));
    EXPECT_FALSE(PathExists(QString()));
}

TEST(WriteTest, LeavesNothingBehindAndShowsNothing) {
    TempTree t;
    FakeHost host;
    EXPECT_TRUE(CanWriteToFolder(t.root() + u'/', host));
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_TRUE(
        QDir(t.root()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST(WriteTest, NeverTouchesAnExistingProbeName) {
    TempTree t;
    t.write(QStringLiteral("writetest.dat"), "precious");
    FakeHost host;
    EXPECT_TRUE(CanWriteToFolder(t.root(), host));
    EXPECT_EQ(t.read(QStringLiteral("writetest.dat")), QByteArray("precious"));
    EXPECT_EQ(QDir(t.root()).entryList(QDir::Files).size(), 1);
}

TEST(WriteTest, MissingFolderFailsWithTheMessage) {
    TempTree t;
    FakeHost host;
    const QString missing = t.path(QStringLiteral("nope"));
    EXPECT_FALSE(CanWriteToFolder(missing + u'/', host));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Error"));
    EXPECT_EQ(host.messages[0].icon, Icon::Exclamation);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("Could not write to the following folder:\r\n\r\n") + missing);
}

TEST(WriteTest, ReadOnlyFolderFails) {
    TempTree t;
    auto mount = ScopedMount::Tmpfs(t.path(QStringLiteral("ro")), 64, true);
    if (!mount.ok())
        GTEST_SKIP() << mount.why().toStdString();
    FakeHost host;
    EXPECT_FALSE(CanWriteToFolder(t.path(QStringLiteral("ro")), host));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].text.endsWith(t.path(QStringLiteral("ro"))));
}

TEST(WriteTest, FullDiskFailsAndRemovesItsProbe) {
    TempTree t;
    const QString full = t.path(QStringLiteral("full"));
    auto mount = ScopedMount::Tmpfs(full, 4);
    if (!mount.ok())
        GTEST_SKIP() << mount.why().toStdString();
    {
        QFile filler(full + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    FakeHost host;
    EXPECT_FALSE(CanWriteToFolder(full, host));
    EXPECT_EQ(QDir(full).entryList(QDir::Files).size(), 1);
}

// Found by fuzzing: a NUL byte ends a path for the system, so a folder
// field holding one was found under the text before it.
TEST(Existence, APathHoldingANulByteNamesNothing) {
    TempTree t;
    t.mkdir(QStringLiteral("real"));
    const QString withNul = t.path(QStringLiteral("real")) + QChar(u'\0') + QStringLiteral("x");
    EXPECT_TRUE(FolderExists(t.path(QStringLiteral("real"))));
    EXPECT_FALSE(FolderExists(withNul));
    EXPECT_FALSE(PathExists(withNul));
    EXPECT_FALSE(PathExists(EncodePath(t.path(QStringLiteral("real"))) + '\0'));
}

}  // namespace
