#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "SearchTestSupport.h"
#include "common/FileSystem.h"
#include "common/Paths.h"
#include "run/RunPhase.h"
#include "search/DirAndFileSearch.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Listed paths relative to the tree, so expectations read like the tree.
std::vector<std::string> Relative(const TempTree& t, const SearchResult& r) {
    const QByteArray prefix = EncodePath(t.root()) + '/';
    std::vector<std::string> out;
    for (const QByteArray& p : r.Paths)
        out.push_back(p.startsWith(prefix) ? p.mid(prefix.size()).toStdString()
                                           : "OUTSIDE:" + p.toStdString());
    return out;
}

QByteArray Bytes(const TempTree& t, const char* rel = "") {
    return EncodePath(t.path(Q(rel)));
}

void MakeFifo(const TempTree& t, const char* rel) {
    ASSERT_EQ(::mkfifo(Bytes(t, rel).constData(), 0644), 0);
}

void MakeLink(const TempTree& t, const QByteArray& target, const char* rel) {
    ASSERT_EQ(::symlink(target.constData(), Bytes(t, rel).constData()), 0);
}

// The example tree: Data holds a.txt and B; B holds b.txt and C; C holds c.txt.
void ExampleTree(const TempTree& t) {
    t.write(Q("a.txt"), "a");
    t.write(Q("B/b.txt"), "b");
    t.write(Q("B/C/c.txt"), "c");
}

// --- Order ----------------------------------------------------------------

class SourceFolderText : public ::testing::TestWithParam<const char*> {};

TEST_P(SourceFolderText, WithSubfoldersTheirFilesComeFirst) {
    TempTree t;
    ExampleTree(t);
    FakeHost host;
    const QByteArray source = Bytes(t) + GetParam();
    SearchResult r;
    ListFilesBelow(source, Q("*.*"), 23, 3, r, host);
    EXPECT_EQ(r.Count, 2);
    ListFiles({source}, Q("*.*"), 23, r, host);
    EXPECT_EQ(Relative(t, r),
              (std::vector<std::string>{"B/b.txt", "B/C/c.txt", ".", "..", "B", "a.txt"}));
    EXPECT_EQ(r.Count, 6);
}

TEST_P(SourceFolderText, WithoutSubfoldersOnlyTheFolderItself) {
    TempTree t;
    ExampleTree(t);
    FakeHost host;
    SearchResult r;
    ListFiles({Bytes(t) + GetParam()}, Q("*.*"), 23, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{".", "..", "B", "a.txt"}));
    EXPECT_EQ(r.Count, 4);
}

// "Data" and "Data/" give the same paths.
INSTANTIATE_TEST_SUITE_P(WithAndWithoutSeparator, SourceFolderText, ::testing::Values("", "/"));

TEST(FolderTree, DepthFirstPreOrderWithSiblingsInByteOrder) {
    TempTree t;
    for (const char* d : {"a/a2", "a/a1/deep", "B", "a/a1/also", "c"}) t.mkdir(Q(d));
    t.write(Q("a/file.txt"), "x");
    FakeHost host;
    SearchResult r;
    ListFolderTree(Bytes(t), 22, r, host);
    EXPECT_EQ(Relative(t, r),
              (std::vector<std::string>{"B", "a", "a/a1", "a/a1/also", "a/a1/deep", "a/a2", "c"}));
    EXPECT_EQ(r.Count, 7);
}

TEST(Subfolders, OnlyTheImmediateOnesOfEachListedFolder) {
    TempTree t;
    for (const char* d : {"x/one", "x/two/below", "y/three", "z"}) t.mkdir(Q(d));
    t.write(Q("x/file"), "f");
    FakeHost host;
    SearchResult r;
    ListSubfolders({Bytes(t, "x"), Bytes(t, "y/"), Bytes(t, "z")}, 22, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"x/one", "x/two", "y/three"}));
    EXPECT_EQ(r.Count, 3);
}

TEST(Files, PatternByPatternWithinEachFolder) {
    TempTree t;
    for (const char* f : {"one/b.exe", "one/a.jpg", "one/c.jpg", "two/d.jpg", "two/e.exe"})
        t.write(Q(f), "x");
    FakeHost host;
    SearchResult r;
    ListFiles({Bytes(t, "one"), Bytes(t, "two")}, Q("*.jpg;*.exe"), 3, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"one/a.jpg", "one/c.jpg", "one/b.exe",
                                                        "two/d.jpg", "two/e.exe"}));
    EXPECT_EQ(host.yields, 4);  // once per folder and pattern
}

TEST(Files, PathsAreAppendedToWhatTheResultHolds) {
    TempTree t;
    t.write(Q("f.txt"), "x");
    FakeHost host;
    SearchResult r;
    r.Paths = {QByteArrayLiteral("/earlier/entry")};
    r.Count = 0;
    ListFiles({Bytes(t)}, Q("*.txt"), 3, r, host);
    ASSERT_EQ(r.Paths.size(), 2);
    EXPECT_EQ(r.Paths.at(0), QByteArrayLiteral("/earlier/entry"));
    EXPECT_EQ(r.Paths.at(1), Bytes(t, "f.txt"));
    EXPECT_EQ(r.Count, 2);
}

// --- Nothing to list ------------------------------------------------------

TEST(NothingToList, CountIsStillSetToThePathsHeld) {
    TempTree t;
    t.mkdir(Q("empty"));
    FakeHost host;
    const QByteArray missing = Bytes(t, "missing");
    const std::vector<FolderList> lists = {
        {}, {QByteArray()}, {QByteArray(), QByteArray()}, {missing}, {Bytes(t, "empty")}};
    for (const FolderList& folders : lists) {
        SearchResult r;
        r.Paths = {QByteArrayLiteral("/kept")};
        ListSubfolders(folders, 22, r, host);
        EXPECT_EQ(r.Count, 1);
        ListFiles(folders, Q("*.*"), 3, r, host);
        EXPECT_EQ(r.Paths, QList<QByteArray>{QByteArrayLiteral("/kept")});
    }
    SearchResult r;
    ListFolderTree(Bytes(t, "empty"), 22, r, host);
    ListFolderTree(missing, 22, r, host);
    ListFolderTree(QByteArray(), 22, r, host);  // never the root
    ListFilesBelow(QByteArray(), Q("*.*"), 23, 3, r, host);
    ListFilesBelow(Bytes(t, "empty"), Q("*.*"), 23, 3, r, host);
    EXPECT_TRUE(r.Paths.isEmpty());
    EXPECT_EQ(r.Count, 0);
    ListFiles({Bytes(t, "empty")}, Q("*.*"), 23, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"empty/.", "empty/.."}));
}

// --- Entry properties -----------------------------------------------------

// One folder with an entry of every kind.
void EveryKind(const TempTree& t) {
    t.write(Q("k/file"), "x");
    t.write(Q("k/.hidden"), "x");
    t.write(Q("k/readonly"), "x");
    ::chmod(Bytes(t, "k/readonly").constData(), 0444);
    t.mkdir(Q("k/dir"));
    t.mkdir(Q("k/.hiddendir"));
    MakeFifo(t, "k/fifo");
    MakeLink(t, "file", "k/tofile");
    MakeLink(t, "dir", "k/todir");
    MakeLink(t, "nowhere", "k/dangling");
}

struct KeepCase {
    int attributes;
    const char* kept;  // names in listing order, "|" between them
};

void PrintTo(const KeepCase& c, std::ostream* os) {
    *os << "attributes " << c.attributes;
}

class AttributeSets : public ::testing::TestWithParam<KeepCase> {};

TEST_P(AttributeSets, KeepEntriesWhosePropertiesAreAllInTheSet) {
    TempTree t;
    EveryKind(t);
    FakeHost host;
    SearchResult r;
    ListFiles({Bytes(t, "k")}, Q("*.*"), GetParam().attributes, r, host);
    std::vector<std::string> names;
    for (const QByteArray& p : r.Paths) names.push_back(GetFileName(p).toStdString());
    EXPECT_EQ(names, SplitBars(GetParam().kept));
}

// Below a folder the same entries are kept: the folder listings read while
// collecting the folders (with 23) serve the file listing's attribute set.
TEST_P(AttributeSets, TheSameBelowAFolder) {
    TempTree t;
    EveryKind(t);
    FakeHost host;
    SearchResult r;
    ListFilesBelow(Bytes(t), Q("*.*"), 23, GetParam().attributes, r, host);
    std::vector<std::string> names;
    for (const QByteArray& p : r.Paths)
        if (GetFolderPart(p) == Bytes(t, "k/"))
            names.push_back(GetFileName(p).toStdString());
    EXPECT_EQ(names, SplitBars(GetParam().kept));
}

// Hidden: a leading "."; system: a FIFO, socket or device; a link is an
// entry of its own, neither folder nor system, wherever it leads; read-only
// keeps nothing out.
INSTANTIATE_TEST_SUITE_P(
    Linux, AttributeSets,
    ::testing::Values(
        KeepCase{0, "dangling|file|readonly|todir|tofile"},
        KeepCase{1, "dangling|file|readonly|todir|tofile"},
        KeepCase{2, ".hidden|dangling|file|readonly|todir|tofile"},
        KeepCase{3, ".hidden|dangling|file|readonly|todir|tofile"},
        KeepCase{4, "dangling|fifo|file|readonly|todir|tofile"},
        KeepCase{16, ".|..|dangling|dir|file|readonly|todir|tofile"},
        KeepCase{18, ".|..|.hidden|.hiddendir|dangling|dir|file|readonly|todir|tofile"},
        KeepCase{22, ".|..|.hidden|.hiddendir|dangling|dir|fifo|file|readonly|todir|tofile"},
        KeepCase{23, ".|..|.hidden|.hiddendir|dangling|dir|fifo|file|readonly|todir|tofile"}));

TEST(EntryProperties, HiddenAndSystemSubfoldersAreWalkedButSystemFilesOnlyListedAtTheTop) {
    TempTree t;
    t.write(Q("sub/plain.txt"), "x");
    t.write(Q("sub/.h.txt"), "x");
    MakeFifo(t, "sub/pipe");
    t.write(Q(".hiddendir/y.txt"), "x");
    t.write(Q("top.txt"), "x");
    MakeFifo(t, "toppipe");
    FakeHost host;
    SearchResult r;
    ListFilesBelow(Bytes(t), Q("*.*"), 23, 3, r, host);
    ListFiles({Bytes(t)}, Q("*.*"), 23, r, host);
    EXPECT_EQ(Relative(t, r),
              (std::vector<std::string>{".hiddendir/y.txt", "sub/.h.txt", "sub/plain.txt", ".",
                                        "..", ".hiddendir", "sub", "top.txt", "toppipe"}));
}

// --- Folder lists ---------------------------------------------------------

TEST(FolderLists, TheSameFolderTwiceIsListedOnce) {
    TempTree t;
    t.write(Q("A/f.txt"), "x");
    t.mkdir(Q("A/sub"));
    FakeHost host;
    const FolderList twice = {Bytes(t, "A"), Bytes(t, "A/")};
    SearchResult files, folders;
    ListFiles(twice, Q("*.txt"), 3, files, host);
    EXPECT_EQ(Relative(t, files), std::vector<std::string>{"A/f.txt"});
    ListSubfolders(twice, 22, folders, host);
    EXPECT_EQ(Relative(t, folders), std::vector<std::string>{"A/sub"});
}

TEST(FolderLists, FoldersDifferingOnlyInCaseAreTwoFolders) {
    TempTree t;
    t.write(Q("Photos/big.jpg"), "x");
    t.write(Q("photos/small.jpg"), "x");
    t.mkdir(Q("Photos/2020"));
    t.mkdir(Q("photos/2021"));
    FakeHost host;
    SearchResult r;
    ListFilesBelow(Bytes(t), Q("*.JPG"), 23, 3, r, host);
    ListFiles({Bytes(t, "Photos"), Bytes(t, "photos")}, Q("*.jpg"), 3, r, host);
    ListSubfolders({Bytes(t, "Photos"), Bytes(t, "photos")}, 22, r, host);
    EXPECT_EQ(Relative(t, r),
              (std::vector<std::string>{"Photos/big.jpg", "photos/small.jpg", "Photos/big.jpg",
                                        "photos/small.jpg", "Photos/2020", "photos/2021"}));
}

TEST(FolderLists, ANameWithSeparatorsStaysOneFolder) {
    TempTree t;
    t.write(Q("a;b/inside.txt"), "x");
    t.write(Q("a/wrong.txt"), "x");
    t.write(Q("b/wrong.txt"), "x");
    t.write(Q("tab\there/tab.txt"), "x");
    FakeHost host;
    SearchResult r;
    ListFiles({Bytes(t, "a;b"), Bytes(t, "tab\there")}, Q("*.txt"), 3, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"a;b/inside.txt", "tab\there/tab.txt"}));
    SearchResult below;
    ListFilesBelow(Bytes(t), Q("inside.txt"), 23, 3, below, host);
    EXPECT_EQ(Relative(t, below), std::vector<std::string>{"a;b/inside.txt"});
}

// --- Links ----------------------------------------------------------------

TEST(Links, ALoopIsNotFollowed) {
    TempTree t;
    t.write(Q("d/f.txt"), "x");
    MakeLink(t, "..", "d/up");
    MakeLink(t, Bytes(t, "d"), "self");
    FakeHost host;
    SearchResult tree;
    ListFolderTree(Bytes(t), 22, tree, host);
    EXPECT_EQ(Relative(t, tree), std::vector<std::string>{"d"});
    SearchResult r;
    ListFilesBelow(Bytes(t), Q("*.*"), 23, 3, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"d/f.txt", "d/up"}));
    // In a file listing the links are entries of their own.
    ListFiles({Bytes(t, "d")}, Q("*.*"), 23, r, host);
    EXPECT_EQ(Relative(t, r),
              (std::vector<std::string>{"d/f.txt", "d/up", "d/.", "d/..", "d/f.txt", "d/up"}));
}

TEST(Links, ALinkDoesNotLeadOutOfTheSourceFolder) {
    TempTree outside;
    outside.write(Q("secret.txt"), "x");
    outside.mkdir(Q("deeper"));
    TempTree t;
    t.write(Q("in/mine.txt"), "x");
    MakeLink(t, Bytes(outside), "in/out");
    MakeLink(t, Bytes(outside, "secret.txt"), "in/file-link.txt");
    FakeHost host;
    SearchResult r;
    ListFolderTree(Bytes(t), 22, r, host);
    ListSubfolders({Bytes(t, "in")}, 22, r, host);
    EXPECT_EQ(Relative(t, r), std::vector<std::string>{"in"});
    SearchResult files;
    ListFilesBelow(Bytes(t), Q("*.*"), 23, 3, files, host);
    // Both links are listed as entries (to be copied as links), neither walked.
    EXPECT_EQ(Relative(t, files),
              (std::vector<std::string>{"in/file-link.txt", "in/mine.txt", "in/out"}));
}

// --- Names and depth ------------------------------------------------------

TEST(Names, BytesThatAreNotUtf8AreListedExactly) {
    TempTree t;
    const QByteArray name("caf\xe9\xff.TXT");  // Latin-1 bytes, not UTF-8
    const QByteArray folder = Bytes(t, "d");
    t.mkdir(Q("d"));
    const QByteArray path = folder + '/' + name;
    fs::Handle fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd.valid());
    // The temporary folder's own clean-up cannot remove such a name.
    struct Unlink {
        QByteArray path;
        ~Unlink() { ::unlink(path.constData()); }
    } unlinkLater{path};
    FakeHost host;
    // ";x": the empty piece matches every entry.
    for (const char* pattern : {"*.txt", "caf??.txt", "*.*", ";x"}) {
        SearchResult r;
        ListFilesBelow(Bytes(t), Q(pattern), 23, 3, r, host);
        ASSERT_EQ(r.Paths.size(), 1) << pattern;
        EXPECT_EQ(r.Paths.at(0), path) << pattern;
    }
    SearchResult none;
    ListFiles({folder}, Q("cafe*"), 3, none, host);
    EXPECT_TRUE(none.Paths.isEmpty());
}

// A chain of nested folders far deeper than a path the system accepts at
// once; created and removed through descriptors for the same reason.
class DeepChain {
  public:
    DeepChain(const QByteArray& root, int depth) : root_(root), depth_(depth) {
        fs::Handle fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (int i = 0; i < depth && fd.valid(); ++i) {
            if (::mkdirat(fd.native(), "a", 0755) != 0)
                return;
            fd = fs::Handle(::openat(fd.native(), "a", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ++made_;
        }
        if (fd.valid())
            fs::Handle(::openat(fd.native(), "end.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    ~DeepChain() {
        // Down to the bottom, then back up through ".." removing each level.
        fs::Handle fd(::open(root_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (int i = 0; i < made_ && fd.valid(); ++i)
            fd = fs::Handle(::openat(fd.native(), "a", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ::unlinkat(fd.native(), "end.txt", 0);
        for (int i = 0; i < made_ && fd.valid(); ++i) {
            fs::Handle parent(::openat(fd.native(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ::unlinkat(parent.native(), "a", AT_REMOVEDIR);
            fd = std::move(parent);
        }
    }
    int made() const { return made_; }

  private:
    QByteArray root_;
    int depth_;
    int made_ = 0;
};

TEST(Depth, TenThousandNestedFolders) {
    TempTree t;
    const QByteArray root = Bytes(t);
    constexpr int kDepth = 10000;
    DeepChain chain(root, kDepth);
    ASSERT_EQ(chain.made(), kDepth);
    FakeHost host;
    SearchResult r;
    ListFolderTree(root, 22, r, host);
    ASSERT_EQ(r.Count, kDepth);
    QByteArray expected = root;
    for (int i = 0; i < kDepth; ++i) {
        expected += "/a";
        if (r.Paths.at(i) != expected) {
            ADD_FAILURE() << "folder " << i << " out of order";
            break;
        }
    }
    r = SearchResult();
    ListFilesBelow(root, Q("*.txt"), 22, 3, r, host);
    ASSERT_EQ(r.Count, 1);
    EXPECT_EQ(r.Paths.at(0), expected + "/end.txt");
}

// --- Yields and abort -----------------------------------------------------

TEST(Yields, OncePerEntryWhileLookingForSubfolders) {
    TempTree t;
    t.write(Q("f1"), "x");
    t.write(Q("f2"), "x");
    t.mkdir(Q("d"));
    FakeHost host;
    SearchResult r;
    ListSubfolders({Bytes(t)}, 22, r, host);
    EXPECT_EQ(host.yields, 5);  // ".", "..", d, f1, f2
    host.yields = 0;
    ListSubfolders({Bytes(t)}, 0, r, host);
    EXPECT_EQ(host.yields, 2);  // only the plain files are returned by the search
    EXPECT_EQ(Relative(t, r), std::vector<std::string>{"d"});
}

// Starts with a result that already holds one path and a known Count, so
// that what an aborted operation left is visible.
SearchResult StartedResult() {
    SearchResult r;
    r.Paths = {QByteArrayLiteral("/before")};
    r.Count = 1;
    return r;
}

void AbortWhen(FakeHost& host, std::function<bool()> condition) {
    host.onYield = [&host, condition] {
        if (condition())
            host.caption = kCaptionAborting;
    };
}

TEST(Abort, RequestedBeforehandListsNothing) {
    TempTree t;
    ExampleTree(t);
    FakeHost host;
    host.caption = kCaptionAborting;
    EXPECT_TRUE(AbortRequested(host));
    SearchResult r = StartedResult();
    ListSubfolders({Bytes(t)}, 22, r, host);
    ListFolderTree(Bytes(t), 22, r, host);
    ListFiles({Bytes(t)}, Q("*.*"), 23, r, host);
    ListFilesBelow(Bytes(t), Q("*.*"), 23, 3, r, host);
    EXPECT_EQ(r.Paths, QList<QByteArray>{QByteArrayLiteral("/before")});
    EXPECT_EQ(r.Count, 1);
    EXPECT_EQ(host.yields, 0);
}

TEST(Abort, OnlyTheAbortingCaptionCounts) {
    FakeHost host;
    for (const QString& caption :
         {kCaptionIdle, kCaptionRunning, Q("Aborting"), Q("aborting...")}) {
        host.caption = caption;
        EXPECT_FALSE(AbortRequested(host)) << caption.toStdString();
    }
}

TEST(Abort, WhileListFilesBelowCollectsFoldersNoFileIsListed) {
    TempTree t;
    ExampleTree(t);
    for (int yieldNo : {1, 3, 6, 8}) {
        FakeHost host;
        AbortWhen(host, [&host, yieldNo] { return host.yields == yieldNo; });
        SearchResult r = StartedResult();
        ListFilesBelow(Bytes(t), Q("*.*"), 23, 3, r, host);
        EXPECT_EQ(r.Paths, QList<QByteArray>{QByteArrayLiteral("/before")}) << yieldNo;
        EXPECT_EQ(r.Count, 1) << yieldNo;
    }
}

TEST(Abort, InsideListFilesTheEarlierFoldersEntriesStay) {
    TempTree t;
    for (const char* f : {"1/a.txt", "2/b.txt", "3/c.txt", "4/d.txt"}) t.write(Q(f), "x");
    FakeHost host;
    SearchResult r = StartedResult();
    // Pressed during the second folder's search: the listing ends at the
    // next folder, after the entries of the second.
    AbortWhen(host, [&r] { return r.Paths.size() == 2; });
    ListFilesBelow(Bytes(t), Q("*.txt"), 23, 3, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"OUTSIDE:/before", "1/a.txt", "2/b.txt"}));
    EXPECT_EQ(r.Count, 1);
}

TEST(Abort, ListFilesStopsAtTheNextFolder) {
    TempTree t;
    for (const char* f : {"1/a.txt", "1/b.txt", "2/c.txt"}) t.write(Q(f), "x");
    FakeHost host;
    AbortWhen(host, [] { return true; });
    SearchResult r = StartedResult();
    ListFiles({Bytes(t, "1"), Bytes(t, "2")}, Q("a*;b*"), 3, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"OUTSIDE:/before", "1/a.txt", "1/b.txt"}));
    EXPECT_EQ(r.Count, 1);
    EXPECT_EQ(host.yields, 2);
}

TEST(Abort, FolderTreeStopsAtTheNextSubfolder) {
    TempTree t;
    for (const char* d : {"a/a1", "a/a2", "b/b1", "c"}) t.mkdir(Q(d));
    FakeHost host;
    SearchResult r = StartedResult();
    AbortWhen(host, [&r] { return r.Paths.size() == 3; });
    ListFolderTree(Bytes(t), 22, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"OUTSIDE:/before", "a", "a/a1"}));
    EXPECT_EQ(r.Count, 1);
}

TEST(Abort, ListSubfoldersStopsAtTheNextFolderOfTheList) {
    TempTree t;
    for (const char* d : {"x/x1", "x/x2", "y/y1"}) t.mkdir(Q(d));
    FakeHost host;
    AbortWhen(host, [] { return true; });
    SearchResult r = StartedResult();
    ListSubfolders({Bytes(t, "x"), Bytes(t, "y")}, 22, r, host);
    EXPECT_EQ(Relative(t, r), (std::vector<std::string>{"OUTSIDE:/before", "x/x1", "x/x2"}));
    EXPECT_EQ(r.Count, 1);
}

}  // namespace
