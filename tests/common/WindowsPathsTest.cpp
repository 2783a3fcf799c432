// Windows only: "\" separates folders as "/" does, and a drive's root stays
// whole.
#include <gtest/gtest.h>

#include <QDir>

#include "common/Overlay.h"
#include "common/Paths.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::TempTree;

namespace {

QString Q(const char* text) {
    return QString::fromUtf8(text);
}

// The temporary tree's path as Windows writes it.
QString Backslashed(const QString& path) {
    return QDir::toNativeSeparators(path);
}

struct SplitCase {
    const char* path;
    const char* fileName;
    const char* folderPart;
};

class WindowsPathSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(WindowsPathSplitting, EitherSeparatorEndsTheFolderPart) {
    const QString path = Q(GetParam().path);
    EXPECT_EQ(GetFileName(path).toStdString(), GetParam().fileName);
    EXPECT_EQ(GetFolderPart(path).toStdString(), GetParam().folderPart);
    EXPECT_EQ(GetFileName(path.toUtf8()).toStdString(), GetParam().fileName);
    EXPECT_EQ(GetFolderPart(path.toUtf8()).toStdString(), GetParam().folderPart);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WindowsPathSplitting,
    ::testing::Values(SplitCase{"C:\\data\\report.txt", "report.txt", "C:\\data\\"},
                      SplitCase{"C:/data\\sub/report.txt", "report.txt", "C:/data\\sub/"},
                      SplitCase{"C:\\data/sub\\report.txt", "report.txt", "C:\\data/sub\\"},
                      SplitCase{"C:\\", "", "C:\\"},
                      SplitCase{"\\\\server\\share\\a.txt", "a.txt", "\\\\server\\share\\"},
                      SplitCase{"report.txt", "report.txt", ""}));

TEST(WindowsTrailingSeparator, OneOfEitherGoesButARootStays) {
    EXPECT_EQ(RemoveTrailingSeparator(Q("C:\\data\\")), Q("C:\\data"));
    EXPECT_EQ(RemoveTrailingSeparator(Q("C:\\data\\\\")), Q("C:\\data\\"));
    EXPECT_EQ(RemoveTrailingSeparator(Q("C:\\")), Q("C:\\"));
    EXPECT_EQ(RemoveTrailingSeparator(Q("C:/")), Q("C:/"));
    EXPECT_EQ(RemoveTrailingSeparator(QByteArray("D:\\")), QByteArray("D:\\"));
    EXPECT_EQ(RemoveTrailingSeparator(Q("\\")), Q("\\"));
    EXPECT_EQ(RemoveTrailingSeparator(Q("\\\\server\\share\\")), Q("\\\\server\\share"));
}

TEST(WindowsJoin, AFolderEndingInEitherSeparatorTakesNoOther) {
    EXPECT_EQ(JoinPath(Q("C:\\data\\"), Q("a")), Q("C:\\data\\a"));
    EXPECT_EQ(JoinPath(Q("C:\\data"), Q("a")), Q("C:\\data/a"));
    EXPECT_EQ(JoinPath(Q("C:\\"), Q("a")), Q("C:\\a"));
    EXPECT_EQ(JoinPath(QByteArray("C:\\data\\"), QByteArray("a")), QByteArray("C:\\data\\a"));
}

TEST(WindowsEncode, BackslashesReachTheDiskAsSlashes) {
    EXPECT_EQ(EncodePath(Q("C:\\data\\a.txt")), QByteArray("C:/data/a.txt"));
    EXPECT_EQ(EncodePath(Q("\\\\server\\share\\x")), QByteArray("//server/share/x"));
    EXPECT_EQ(EncodePath(Q("C:\\\xC3\x84rger\\x")), QByteArray("C:/\xC3\x84rger/x"));
    // A stray byte escaped in the text still turns back into that byte.
    const QByteArray stray("C:/d\xE9/x");
    EXPECT_EQ(EncodePath(DecodePath(stray)), stray);
    EXPECT_EQ(EncodePath(DecodePath(stray).replace(u'/', u'\\')), stray);
}

TEST(WindowsCurrentFolder, RootedPathsStayAndOthersCountFromTheCurrentFolder) {
    const QByteArray current = EncodePath(QDir::currentPath());
    const QByteArray prefix = current.endsWith('/') ? current : current + '/';
    EXPECT_EQ(FromCurrentFolder(Q("C:\\x")), QByteArray("C:/x"));
    EXPECT_EQ(FromCurrentFolder(Q("D:")), QByteArray("D:/"));
    EXPECT_EQ(FromCurrentFolder(Q("\\\\server\\share")), QByteArray("//server/share"));
    EXPECT_EQ(FromCurrentFolder(Q("\\x")), QByteArray("/x"));
    EXPECT_EQ(FromCurrentFolder(Q(".\\sub\\x")), prefix + "sub/x");
    EXPECT_EQ(FromCurrentFolder(Q("sub\\x")), prefix + "sub/x");
    EXPECT_EQ(FromCurrentFolder(Q(".")), current);
}

TEST(WindowsExistence, APathWrittenWithBackslashesIsFound) {
    TempTree t;
    t.write(QStringLiteral("sub/f.txt"), "x");
    EXPECT_TRUE(FolderExists(Backslashed(t.path(QStringLiteral("sub")))));
    EXPECT_TRUE(FolderExists(Backslashed(t.path(QStringLiteral("sub"))) + u'\\'));
    EXPECT_TRUE(PathExists(Backslashed(t.path(QStringLiteral("sub/f.txt")))));
    EXPECT_FALSE(FolderExists(Backslashed(t.path(QStringLiteral("sub/f.txt")))));
    EXPECT_FALSE(PathExists(Backslashed(t.path(QStringLiteral("sub/missing")))));
}

TEST(WindowsWriteTest, AFolderWrittenWithBackslashesIsTestedAndNamedAsWritten) {
    TempTree t;
    FakeHost host;
    EXPECT_TRUE(CanWriteToFolder(Backslashed(t.root()) + u'\\', host));
    EXPECT_TRUE(host.messages.isEmpty());
    const QString missing = Backslashed(t.path(QStringLiteral("nope")));
    EXPECT_FALSE(CanWriteToFolder(missing + u'\\', host));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("Could not write to the following folder:\r\n\r\n") + missing);
}

struct ShownCase {
    const char* path;
    const char* shown;
    bool root;
};

class WindowsShownPath : public ::testing::TestWithParam<ShownCase> {};

// What people read or keep has Windows' separator; a drive's root is whole.
TEST_P(WindowsShownPath, UsesBackslashesAndKnowsARoot) {
    const ShownCase c = GetParam();
    EXPECT_EQ(ShownPath(Q(c.path)), Q(c.shown));
    EXPECT_EQ(ShownPath(QByteArray(c.path)), QByteArray(c.shown));
    EXPECT_EQ(IsRootPath(Q(c.path)), c.root);
    EXPECT_EQ(IsRootPath(QByteArray(c.path)), c.root);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WindowsShownPath,
    ::testing::Values(ShownCase{"C:/", "C:\\", true}, ShownCase{"C:\\", "C:\\", true},
                      ShownCase{"/", "\\", true}, ShownCase{"C:", "C:", false},
                      ShownCase{"C:/Users/\xC3\xA9t\xC3\xA9", "C:\\Users\\\xC3\xA9t\xC3\xA9",
                                false},
                      ShownCase{"//server/share/a", "\\\\server\\share\\a", false}));

// The run and its preview find a drive's root however the list writes it;
// "C:" alone must not become the current folder of drive C.
TEST(WindowsDriveRoot, TheRunAndThePreviewReachTheRoot) {
    fs::Overlay overlay;
    for (const char* written : {"C:", "C:\\", "C:/"}) {
        const QByteArray path = FromCurrentFolder(Q(written));
        EXPECT_EQ(path, QByteArray("C:/")) << written;
        EXPECT_TRUE(FolderExists(path)) << written;
        EXPECT_TRUE(FolderExists(path, &overlay)) << written;
        EXPECT_EQ(fs::InfoAt(path, true, &overlay).identity, fs::InfoAt(path).identity) << written;
    }
    // The ".." a search lists at the root is a folder there too (the root).
    const fs::Folder root = fs::Folder::openAsNamed("C:/");
    EXPECT_EQ(root.info("..", true).kind, fs::FileKind::Folder);
    EXPECT_EQ(root.info("..", true).identity, root.info().identity);
}

}  // namespace
