// The Windows file layer on real files: names taken exactly as decided,
// deletes only of the file decided on, folders never reached through a link,
// paths past 260 characters, times to 100 ns, and Windows' own error texts.

#include <gtest/gtest.h>

#include <QByteArray>

#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "common/Batch.h"
#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/StopSignals.h"
#include "common/UserHome.h"
#include "common/win/Nt.h"
#include "common/win/TakeName.h"

using namespace zandrel::fs;

namespace {

std::wstring W(const QByteArray& utf8) {
    return QString::fromUtf8(utf8).toStdWString();
}

class FileLayerWinTest : public ::testing::Test {
  public:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        root_ = QString::fromWCharArray(temp).toUtf8().replace('\\', '/') + "zandrel-test-" +
                QByteArray::number(QRandomGenerator::system()->generate(), 16);
        MakeFolderPath(path("src/x"));
        MakeFolderPath(path("dst/x"));
        src = Folder::openAsNamed(path("src"));
        dst = Folder::openAsNamed(path("dst"));
        ASSERT_TRUE(src.valid());
        ASSERT_TRUE(dst.valid());
    }
    void TearDown() override {
        src = Folder();
        dst = Folder();
        // Past 260 characters too, read-only files as well.
        const std::filesystem::path top(win::LongPath(root_));
        std::error_code ignored;
        for (std::filesystem::recursive_directory_iterator it(top, ignored), end; it != end;
             it.increment(ignored))
            ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(top, ignored);
    }

    QByteArray path(const QByteArray& relative) const { return root_ + '/' + relative; }
    void write(const QByteArray& relative, QByteArrayView bytes) const {
        const HANDLE h = ::CreateFileW(W(path(relative)).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
        ::CloseHandle(h);
    }
    QByteArray read(const QByteArray& relative) const {
        const HANDLE h = ::CreateFileW(W(path(relative)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        QByteArray out(1 << 23, '\0');
        DWORD n = 0;
        ::ReadFile(h, out.data(), DWORD(out.size()), &n, nullptr);
        ::CloseHandle(h);
        out.truncate(n);
        return out;
    }
    static QList<QByteArray> names(const Folder& folder) {
        QList<QByteArray> found;
        EXPECT_EQ(folder.readEntries([&](const char* name, std::size_t size, FileKind) {
            found.append(QByteArray(name, qsizetype(size)));
        }),
                  0);
        std::sort(found.begin(), found.end());
        return found;
    }
    // Copies src/name to dst/as, through a batch when one is given.
    CopyOutcome copy(const char* name, const char* as, const FileInfo& seen = {},
                     Batch* batch = nullptr, int ticket = 0, bool verify = false) {
        SourceFile source;
        EXPECT_EQ(OpenSource(src, name, source), 0);
        CopyRequest request;
        request.destination = &dst;
        request.name = as;
        request.seen = seen;
        request.batch = batch;
        request.ticket = ticket;
        request.verify = verify;
        return CopyFileBlocks(source, request, [](qint64, qint64) { return true; });
    }

    QByteArray root_;
    Folder src;
    Folder dst;
};

// ---------------------------------------------------------------------------
// A copy takes its name exactly as decided

struct NameCase {
    const char* title;
    bool thereWhenDecided;  // dst/f.txt existed when the copy was decided
    std::function<void(FileLayerWinTest&)> meanwhile;  // between the decision and the name
    CopyResult expected;
    const char* left;  // what dst/f.txt holds afterwards
};

class TakeNameTest : public FileLayerWinTest, public ::testing::WithParamInterface<int> {};

const NameCase kNameCases[] = {
    {"FreeNameIsTaken", false, {}, CopyResult::Copied, "new"},
    {"FreeNameTakenMeanwhileIsKept", false,
     [](FileLayerWinTest& t) { t.write("dst/f.txt", "planted"); }, CopyResult::NameTaken,
     "planted"},
    {"DecidedFileIsReplaced", true, {}, CopyResult::Copied, "new"},
    {"DecidedFileRewrittenIsKept", true,
     [](FileLayerWinTest& t) { t.write("dst/f.txt", "rewritten meanwhile"); },
     CopyResult::DestinationChanged, "rewritten meanwhile"},
    {"DecidedFileGoneFreesTheName", true,
     [](FileLayerWinTest& t) { ::DeleteFileW(W(t.path("dst/f.txt")).c_str()); }, CopyResult::Copied,
     "new"},
    {"FolderPutThereIsKept", true,
     [](FileLayerWinTest& t) {
         ::DeleteFileW(W(t.path("dst/f.txt")).c_str());
         ::CreateDirectoryW(W(t.path("dst/f.txt")).c_str(), nullptr);
     },
     CopyResult::CouldNotPutInPlace, "<missing>"},
};

TEST_P(TakeNameTest, AsDecided) {
    const NameCase& c = kNameCases[GetParam()];
    write("src/f.txt", "new");
    if (c.thereWhenDecided)
        write("dst/f.txt", "old one");
    const FileInfo seen = dst.info("f.txt", false);
    Batch batch;
    ASSERT_TRUE(copy("f.txt", "f.txt", seen, &batch, 1).ok());
    // Nothing is named before the commit.
    EXPECT_EQ(read("dst/f.txt"), c.thereWhenDecided ? "old one" : "<missing>");
    if (c.meanwhile)
        c.meanwhile(*this);
    batch.commit();
    const CopyOutcome outcome = batch.finish().value(1).copy;
    EXPECT_EQ(outcome.result, c.expected) << outcome.reason().toStdString();
    EXPECT_EQ(read("dst/f.txt"), c.left);
    // Neither the copy nor a file moved aside stays under a hidden name.
    for (const QByteArray& name : names(dst))
        EXPECT_FALSE(name.endsWith(".zandrel-part")) << name.constData();
}

INSTANTIATE_TEST_SUITE_P(Cases, TakeNameTest, ::testing::Range(0, int(std::size(kNameCases))),
                         [](const auto& p) { return kNameCases[p.param].title; });

TEST_F(FileLayerWinTest, AFileIsNeverCopiedOntoItself) {
    write("src/f.txt", "self");
    const FileInfo seen = src.info("f.txt", false);
    SourceFile source;
    ASSERT_EQ(OpenSource(src, "f.txt", source), 0);
    CopyRequest request;
    request.destination = &src;
    request.name = "f.txt";
    request.seen = seen;
    EXPECT_EQ(CopyFileBlocks(source, request, [](qint64, qint64) { return true; }).result,
              CopyResult::SameFile);
    EXPECT_EQ(read("src/f.txt"), "self");
}

TEST_F(FileLayerWinTest, ACopyKeepsContentTimeAndAttributes) {
    const QByteArray bytes = QByteArray(3 << 20, 'x') + "tail";
    write("src/a.bin", bytes);
    FILETIME odd{};
    odd.dwLowDateTime = 0x12345677;  // not on a second: the 100 ns digits are kept
    odd.dwHighDateTime = 0x01d00000;
    const HANDLE h = ::CreateFileW(W(path("src/a.bin")).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &odd));
    ::CloseHandle(h);
    ::SetFileAttributesW(W(path("src/a.bin")).c_str(),
                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Batch batch;
    ASSERT_TRUE(copy("a.bin", "a.bin", {}, &batch, 1, true).ok());
    batch.commit();
    const Batch::Outcome o = batch.finish().value(1);
    EXPECT_TRUE(o.copy.ok()) << o.copy.reason().toStdString();
    EXPECT_TRUE(o.verified);
    EXPECT_EQ(read("dst/a.bin"), bytes);
    const FileInfo copied = dst.info("a.bin", false);
    EXPECT_EQ(copied.modifiedNs, src.info("a.bin", false).modifiedNs);
    EXPECT_EQ(copied.modifiedNs % 1000000000, win::Nanoseconds(odd) % 1000000000);
    EXPECT_FALSE(copied.ownerWritable);
    const DWORD attributes = ::GetFileAttributesW(W(path("dst/a.bin")).c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FileLayerWinTest, AnAbortDropsTheCopiesNotYetNamed) {
    write("src/e.txt", "e");
    {
        Batch batch;
        ASSERT_TRUE(copy("e.txt", "e.txt", {}, &batch, 1).ok());
        batch.discard();
        EXPECT_EQ(batch.finish().value(1).copy.result, CopyResult::Discarded);
        EXPECT_EQ(dst.info("e.txt", false).kind, FileKind::Missing);
    }
    // Gone once the batch lets go of it (at once where deletes are POSIX's).
    EXPECT_TRUE(names(dst).isEmpty());
}

TEST_F(FileLayerWinTest, ANameDifferingOnlyInCaseIsAClash) {
    write("src/one.txt", "one");
    write("src/two.txt", "two");
    Batch batch;
    ASSERT_TRUE(copy("one.txt", "Case.txt", {}, &batch, 1).ok());
    ASSERT_TRUE(copy("two.txt", "cASE.TXT", {}, &batch, 2).ok());
    batch.commit();
    const auto outcomes = batch.finish();
    EXPECT_TRUE(outcomes.value(1).copy.ok());
    EXPECT_EQ(outcomes.value(2).copy.result, CopyResult::Clash);
    EXPECT_EQ(read("dst/case.txt"), "one");
    EXPECT_TRUE(IgnoresCase(dst));
}

TEST_F(FileLayerWinTest, ALaterCopyOfTheBatchReplacesAnEarlierOne) {
    write("src/f1.txt", "first");
    write("src/f2.txt", "second");
    Batch batch;
    ASSERT_TRUE(copy("f1.txt", "f.txt", {}, &batch, 1).ok());
    const FileInfo* pending = batch.pending(dst.identity(), "f.txt");
    ASSERT_NE(pending, nullptr);
    ASSERT_TRUE(copy("f2.txt", "f.txt", *pending, &batch, 2).ok());
    batch.commit();
    const auto outcomes = batch.finish();
    EXPECT_TRUE(outcomes.value(1).copy.ok());
    EXPECT_TRUE(outcomes.value(2).copy.ok()) << outcomes.value(2).copy.reason().toStdString();
    EXPECT_EQ(read("dst/f.txt"), "second");
}

TEST_F(FileLayerWinTest, ANameIsNeverAStreamOfAnotherFile) {
    write("src/f.txt", "data");
    write("dst/x.txt", "kept");
    EXPECT_EQ(dst.info("x.txt:s", false).kind, FileKind::Missing);
    const CopyOutcome o = copy("f.txt", "x.txt:s");
    EXPECT_EQ(o.result, CopyResult::WriteFailed);
    EXPECT_EQ(o.error, ERROR_INVALID_NAME);
    EXPECT_EQ(dst.child("x.txt:s").openError(), ERROR_INVALID_NAME);
    EXPECT_EQ(read("dst/x.txt"), "kept");
    EXPECT_EQ(names(dst), QList<QByteArray>{"x.txt"});
}

// ---------------------------------------------------------------------------
// A Move deletes only the file decided on

TEST_F(FileLayerWinTest, AMoveDeletesItsSourceOnceTheCopyIsNamed) {
    write("src/m.txt", "move me");
    write("src/ro.txt", "read-only");
    ::SetFileAttributesW(W(path("src/ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
    Batch batch;
    int ticket = 0;
    for (const char* name : {"m.txt", "ro.txt"}) {
        SourceFile source;
        ASSERT_EQ(OpenSource(src, name, source), 0);
        const FileInfo decided = source.info;
        CopyRequest request;
        request.destination = &dst;
        request.name = name;
        request.batch = &batch;
        request.ticket = ++ticket;
        ASSERT_TRUE(CopyFileBlocks(source, request, [](qint64, qint64) { return true; }).ok());
        batch.deleteAfter(ticket, src, name, std::move(source), decided);
    }
    batch.commit();
    const auto outcomes = batch.finish();
    for (int t = 1; t <= ticket; ++t) {
        EXPECT_TRUE(outcomes.value(t).deleted.ok())
            << ErrorText(outcomes.value(t).deleted.error).toStdString();
    }
    EXPECT_TRUE(names(src).isEmpty());
    EXPECT_EQ(read("dst/m.txt"), "move me");
}

struct DeleteCase {
    const char* title;
    bool folder;         // a folder stands at the name
    bool wrongIdentity;  // the identity decided on is another file's
    const int* error;    // the layer's error expected, none when deleted
};

const DeleteCase kDeleteCases[] = {
    {"TheFileDecidedOn", false, false, nullptr},
    {"AnotherFileIsKept", false, true, &error::kReplaced},
    {"AFolderIsKept", true, false, &error::kIsAFolder},
};

class DeleteTest : public FileLayerWinTest, public ::testing::WithParamInterface<int> {};

TEST_P(DeleteTest, OnlyWhatWasDecided) {
    const DeleteCase& c = kDeleteCases[GetParam()];
    if (c.folder)
        ASSERT_TRUE(src.makeChild("d", 0777));
    else
        write("src/d", "d");
    const FileIdentity identity =
        c.wrongIdentity ? FileIdentity{1, 2} : src.info("d", false).identity;
    const Status status = src.deleteFile("d", identity);
    EXPECT_EQ(status.error, c.error ? *c.error : 0) << ErrorText(status.error).toStdString();
    EXPECT_EQ(src.info("d", false).exists(), c.error != nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeleteTest, ::testing::Range(0, int(std::size(kDeleteCases))),
                         [](const auto& p) { return kDeleteCases[p.param].title; });

// ---------------------------------------------------------------------------
// Folders

TEST_F(FileLayerWinTest, FoldersAreMadeListedAndRemovedByHandle) {
    FolderCursor cursor;
    cursor.reset(Folder::openAsNamed(path("dst")));
    const FolderCursor::MirrorOf none = [](QByteArrayView) -> const Folder* { return nullptr; };
    const Folder* deep = cursor.reach("sub/deeper", &none);
    ASSERT_NE(deep, nullptr);
    // Enough entries for several reads of the folder, in more than one script.
    for (int i = 0; i < 600; ++i) write("dst/sub/deeper/f" + QByteArray::number(i), "");
    write("dst/sub/deeper/\xc3\xa9t\xc3\xa9 \xe6\x97\xa5.txt", "u");
    const QList<QByteArray> listed = names(*deep);
    EXPECT_EQ(listed.size(), 601);
    EXPECT_TRUE(listed.contains("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5.txt"));
    cursor.finish();

    const Folder sub = dst.child("sub");
    ASSERT_TRUE(sub.valid());
    // "." and ".." are the folder itself and its parent.
    EXPECT_EQ(sub.info(".", false).identity, sub.identity());
    EXPECT_EQ(sub.info("..", false).identity, dst.identity());
    EXPECT_EQ(sub.child("..").identity(), dst.identity());
    EXPECT_EQ(sub.removeFolder("deeper").error, error::kNotEmpty);
    std::filesystem::remove_all(W(path("dst/sub/deeper")));
    EXPECT_EQ(sub.removeFolder("nothing").error, error::kNotFound);
    write("dst/sub/file", "");
    EXPECT_EQ(sub.child("file").openError(), error::kNotAFolder);
    EXPECT_EQ(sub.child("nothing").openError(), error::kNotFound);
}

TEST_F(FileLayerWinTest, PathsPast260CharactersWork) {
    QByteArray longPath = path("dst");
    for (char c = 'a'; c < 'm'; ++c) longPath += '/' + QByteArray(30, c);
    ASSERT_GT(longPath.size(), 300);
    MakeFolderPath(longPath + "/file");
    EXPECT_EQ(InfoAt(longPath).kind, FileKind::Folder);
    const Folder distant = Folder::openAsNamed(longPath);
    ASSERT_TRUE(distant.valid());
    EXPECT_TRUE(ProbeWrite(longPath));
    EXPECT_TRUE(LooksWritable(longPath + "/not/yet"));
    EXPECT_TRUE(names(distant).isEmpty());  // the probe file went again
}

// ---------------------------------------------------------------------------
// Links

TEST_F(FileLayerWinTest, LaterNamesOfAFileBecomeHardLinksToItsCopy) {
    write("src/h.txt", "hard");
    SourceFile source;
    ASSERT_EQ(OpenSource(src, "h.txt", source), 0);
    CopyRequest request;
    request.destination = &dst;
    request.name = "h1.txt";
    FileIdentity placed;
    ASSERT_TRUE(CopyFileBlocks(
                    source, request, [](qint64, qint64) { return true; }, &placed)
                    .ok());
    request.name = "h2.txt";
    EXPECT_TRUE(LinkToCopy(dst, "h1.txt", placed, request, &source.info.identity).ok());
    EXPECT_EQ(dst.info("h2.txt", false).identity, placed);
    // Never to another file at the first name.
    request.name = "h3.txt";
    EXPECT_FALSE(LinkToCopy(dst, "h1.txt", FileIdentity{1, 2}, request, nullptr).ok());
    EXPECT_EQ(dst.info("h3.txt", false).kind, FileKind::Missing);
}

TEST_F(FileLayerWinTest, ALinkIsCopiedAsALinkAndNeverWalkedInto) {
    const std::wstring link = W(path("src/link"));
    if (!::CreateSymbolicLinkW(
            link.c_str(), W(path("dst")).c_str(),
            SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    const FileInfo seen = src.info("link", false);
    EXPECT_EQ(seen.kind, FileKind::Link);
    EXPECT_EQ(src.info("link", true).kind, FileKind::Folder);
    EXPECT_EQ(src.child("link").openError(), error::kTooManyLinks);
    EXPECT_FALSE(disk::LinkText(src, "link").isEmpty());
    CopyRequest request;
    request.destination = &dst;
    request.name = "link";
    const CopyOutcome o = CopyLink(src, "link", seen, request);
    EXPECT_TRUE(o.ok()) << o.reason().toStdString();
    EXPECT_EQ(dst.info("link", false).kind, FileKind::Link);
    EXPECT_EQ(disk::LinkText(dst, "link"), disk::LinkText(src, "link"));
}

// ---------------------------------------------------------------------------
// Whole files

TEST_F(FileLayerWinTest, ALogFileReplacesThePreviousOneWhole) {
    write("dst/log.txt", "old log");
    {
        NewFile log(dst);
        ASSERT_TRUE(log.create());
        ASSERT_TRUE(log.write("new log"));
        ASSERT_TRUE(log.finish());
        EXPECT_EQ(read("dst/log.txt"), "old log");
        ASSERT_TRUE(log.renameTo("log.txt"));
    }
    {
        NewFile unfinished(dst);
        ASSERT_TRUE(unfinished.create());
    }
    EXPECT_EQ(names(dst), QList<QByteArray>{"log.txt"});
    ReadOnlyFile file;
    ASSERT_EQ(file.open(path("dst/log.txt")), 0);
    char buffer[16];
    EXPECT_EQ(file.read(buffer, sizeof buffer), 7);
    EXPECT_EQ(file.read(buffer, sizeof buffer), 0);
    ASSERT_TRUE(file.rewind());
    EXPECT_EQ(file.read(buffer, sizeof buffer), 7);
    EXPECT_EQ(file.open(path("dst/none")), error::kNotFound);
}

// ---------------------------------------------------------------------------
// A source that changes is never taken for the file copied

struct ChangeCase {
    const char* title;
    const char* rewrite;  // written over the source meanwhile, or none
    bool touch;           // its modification time set meanwhile
    bool unchanged;
};

const ChangeCase kChangeCases[] = {
    {"Untouched", nullptr, false, true},
    {"Rewritten", "other bytes", false, false},
    {"TimeSet", nullptr, true, false},
};

class SourceChangeTest : public FileLayerWinTest, public ::testing::WithParamInterface<int> {};

TEST_P(SourceChangeTest, IsSeenThroughTheOpenFile) {
    const ChangeCase& c = kChangeCases[GetParam()];
    write("src/s.txt", "source bytes");
    SourceFile source;
    ASSERT_EQ(OpenSource(src, "s.txt", source), 0);
    const FileInfo decided = source.info;
    if (c.rewrite) {
        const HANDLE h = ::CreateFileW(W(path("src/s.txt")).c_str(), GENERIC_WRITE, win::kShareAll,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD n = 0;
        ::WriteFile(h, c.rewrite, DWORD(std::strlen(c.rewrite)), &n, nullptr);
        ::CloseHandle(h);
    }
    if (c.touch) {
        const HANDLE h = ::CreateFileW(W(path("src/s.txt")).c_str(), FILE_WRITE_ATTRIBUTES,
                                       win::kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME old{0x10000000, 0x01c00000};
        ::SetFileTime(h, nullptr, nullptr, &old);
        ::CloseHandle(h);
    }
    EXPECT_EQ(SourceUnchanged(source), c.unchanged);
    EXPECT_EQ(StillAsDecided(src, "s.txt", source, decided), c.unchanged);
    CopyRequest request;
    request.destination = &dst;
    request.name = "s.txt";
    const CopyOutcome o = CopyFileBlocks(source, request, [](qint64, qint64) { return true; });
    EXPECT_EQ(o.result, c.unchanged ? CopyResult::Copied : CopyResult::SourceChanged);
    EXPECT_EQ(dst.info("s.txt", false).exists(), c.unchanged);
    // Taken as it is now, it is unchanged again.
    ASSERT_TRUE(Restamp(source));
    EXPECT_TRUE(SourceUnchanged(source));
}

INSTANTIATE_TEST_SUITE_P(Cases, SourceChangeTest, ::testing::Range(0, int(std::size(kChangeCases))),
                         [](const auto& p) { return kChangeCases[p.param].title; });

TEST_F(FileLayerWinTest, ACopyStoppedPartWayLeavesNothing) {
    write("src/long.bin", QByteArray(3 << 20, 'l'));
    SourceFile source;
    ASSERT_EQ(OpenSource(src, "long.bin", source), 0);
    CopyRequest request;
    request.destination = &dst;
    request.name = "long.bin";
    qint64 seen = 0;
    const CopyOutcome o = CopyFileBlocks(source, request, [&](qint64 done, qint64 total) {
        EXPECT_EQ(total, 3 << 20);
        EXPECT_EQ(done, seen + kBlockSize);
        seen = done;
        return done < (1 << 20);
    });
    EXPECT_EQ(o.result, CopyResult::Aborted);
    EXPECT_EQ(seen, 1 << 20);
    EXPECT_TRUE(names(dst).isEmpty());
}

TEST_F(FileLayerWinTest, AnEmptyFileTakesItsModelsTime) {
    write("src/empty", "");
    SourceFile model;
    ASSERT_EQ(OpenSource(src, "empty", model), 0);
    write("dst/empty", "previous");
    CopyRequest request;
    request.destination = &dst;
    request.name = "empty";
    request.seen = dst.info("empty", false);
    request.model = &model;
    EXPECT_TRUE(PutEmptyFile(request, &model.info.identity).ok());
    EXPECT_EQ(read("dst/empty"), "");
    EXPECT_EQ(dst.info("empty", false).modifiedNs, model.info.modifiedNs);
}

TEST_F(FileLayerWinTest, AMoveSourcesFileSystemIsFlushedThroughItsReadHandle) {
    write("src/r.txt", "r");
    SourceFile source;
    ASSERT_EQ(OpenSource(src, "r.txt", source), 0);
    const Handle flusher = disk::Duplicate(source.handle);
    ASSERT_TRUE(flusher.valid());
    EXPECT_EQ(disk::FlushFileSystem(flusher), 0);
    // Through a new file that went again.
    EXPECT_EQ(names(src), QList<QByteArray>{"r.txt"});
}

// ---------------------------------------------------------------------------
// Folders made for the structure

TEST_F(FileLayerWinTest, AFolderMadeLikeItsModelTakesItsAttributesAndTime) {
    ASSERT_TRUE(src.makeChild("model", 0777));
    const std::wstring model = W(path("src/model"));
    ::SetFileAttributesW(model.c_str(), FILE_ATTRIBUTE_HIDDEN);
    const HANDLE h = ::CreateFileW(model.c_str(), FILE_WRITE_ATTRIBUTES, win::kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME old{0x10000000, 0x01c00000};
    ::SetFileTime(h, nullptr, nullptr, &old);
    ::CloseHandle(h);
    const Folder modelFolder = src.child("model");
    ASSERT_TRUE(modelFolder.valid());

    FolderCursor cursor;
    cursor.reset(Folder::openAsNamed(path("dst")));
    const FolderCursor::MirrorOf like = [&](QByteArrayView) { return &modelFolder; };
    const Folder* made = cursor.reach("copy", &like);
    ASSERT_NE(made, nullptr);
    write("dst/copy/inside.txt", "changes the folder's time");
    cursor.finish();
    EXPECT_TRUE(::GetFileAttributesW(W(path("dst/copy")).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(dst.info("copy", false).modifiedNs, win::Nanoseconds(old));
    // Reached again without making anything.
    cursor.reset(Folder::openAsNamed(path("dst")));
    EXPECT_NE(cursor.reach("copy"), nullptr);
    EXPECT_EQ(cursor.reach("none/deeper"), nullptr);
    EXPECT_TRUE(cursor.lastWasMissing());
    EXPECT_EQ(cursor.reach(".."), nullptr);  // never above the root
}

TEST_F(FileLayerWinTest, WriteAccessIsJudgedWithoutWriting) {
    write("dst/w.txt", "w");
    EXPECT_EQ(WriteAccess(dst), 0);
    EXPECT_EQ(WriteAccess(dst, "w.txt"), 0);
    EXPECT_EQ(names(dst), QList<QByteArray>{"w.txt"});
    EXPECT_EQ(disk::AccessForWriting(path("dst")), 0);
    EXPECT_EQ(disk::AccessForWriting(path("none")), error::kNotFound);
    EXPECT_EQ(disk::AccessForWriting(path("dst/w.txt")), error::kNotAFolder);
    EXPECT_FALSE(LooksWritable(path("dst/w.txt")));
}

// ---------------------------------------------------------------------------
// The process

TEST(WinProcess, CtrlCIsAStopRequest) {
    const zandrel::StopSignals stops;
    EXPECT_FALSE(zandrel::StopSignals::take());
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        GTEST_SKIP() << "no console to send the event to";
    for (int i = 0; i < 100 && !zandrel::StopSignals::pending(); ++i) ::Sleep(10);
    EXPECT_TRUE(zandrel::StopSignals::take());
    EXPECT_FALSE(zandrel::StopSignals::pending());
}

TEST(WinProcess, AMissingProfileIsTakenFromTheSystem) {
    const QByteArray before = qgetenv("USERPROFILE");
    ::_wputenv_s(L"USERPROFILE", L"");
    zandrel::TakeHomeFromUserDatabase();
    const QString profile = qEnvironmentVariable("USERPROFILE");
    EXPECT_FALSE(profile.isEmpty());
    EXPECT_EQ(InfoAt(profile.toUtf8()).kind, FileKind::Folder);
    ::_wputenv_s(L"USERPROFILE", QString::fromUtf8(before).toStdWString().c_str());
}

TEST(WinProcess, AFlusherIsANewFileThatGoesWhenClosed) {
    wchar_t path[MAX_PATH];
    ::GetTempPathW(MAX_PATH, path);
    const Folder temp = Folder::openAsNamed(QString::fromWCharArray(path).toUtf8());
    ASSERT_TRUE(temp.valid());
    int error = -1;
    {
        const Handle flusher = disk::FlusherIn(temp, error);
        ASSERT_TRUE(flusher.valid());
        EXPECT_EQ(error, 0);
        EXPECT_EQ(disk::FlushFileSystem(flusher), 0);
        EXPECT_TRUE(disk::Duplicate(flusher).valid());
    }
    EXPECT_EQ(disk::FlushFileSystem(Handle()), ERROR_INVALID_HANDLE);
    EXPECT_GT(disk::HandleBudget(), 1000);
}

// ---------------------------------------------------------------------------
// Pieces

TEST(WinPieces, TimesRoundTripTo100Nanoseconds) {
    for (const qint64 ns : {qint64(0), qint64(100), qint64(1700000000123456700), qint64(-100),
                            qint64(-86400) * 1000000000 - 500}) {
        const qint64 rounded = ns >= 0 ? ns / 100 * 100 : -((-ns + 99) / 100) * 100;
        EXPECT_EQ(win::Nanoseconds(win::FileTime(ns)), rounded) << ns;
    }
}

TEST(WinPieces, LongPathsAreWholeAndPrefixed) {
    const struct {
        QByteArray in;
        std::wstring out;
    } cases[] = {
        {"C:/a/b", LR"(\\?\C:\a\b)"},
        {"C:/a/../b/./c", LR"(\\?\C:\b\c)"},
        {"//server/share/x", LR"(\\?\UNC\server\share\x)"},
        {R"(\\?\C:\x\..)", LR"(\\?\C:\x\..)"},
    };
    for (const auto& c : cases) EXPECT_EQ(win::LongPath(c.in), c.out) << c.in.constData();
}

TEST(WinPieces, HiddenNamesAreFreshAndFit) {
    const QByteArray a = naming::FreshTemporaryName("f.txt");
    EXPECT_NE(a, naming::FreshTemporaryName("f.txt"));
    EXPECT_TRUE(a.startsWith(".f.txt.") && a.endsWith(".zandrel-part")) << a.constData();
    // 255 UTF-16 units at most, cut between characters.
    QByteArray wide;
    for (int i = 0; i < 200; ++i) wide += "\xf0\x9f\x98\x80";  // two units each
    const QString cut = QString::fromUtf8(naming::FreshTemporaryName(wide.constData()));
    EXPECT_LE(cut.size(), 255);
    EXPECT_TRUE(cut.endsWith(QStringLiteral(".zandrel-part")));
    EXPECT_FALSE(cut.contains(QChar(0xFFFD)));
}

TEST(WinPieces, ErrorsAreWindowsOwnAndMissingIsMissing) {
    for (const int error : {error::kNotFound, error::kNotAFolder, error::kIsAFolder,
                            error::kNotEmpty, error::kAccessDenied, error::kReplaced}) {
        const QString text = ErrorText(error);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('.')))
            << text.toStdString();
    }
    EXPECT_EQ(win::Normalised(ERROR_PATH_NOT_FOUND), error::kNotFound);
    EXPECT_EQ(InfoAt("C:/no/such/folder/x").kind, FileKind::Missing);
    EXPECT_EQ(win::NotExamined(ERROR_ACCESS_DENIED).kind, FileKind::Unknown);
}

}  // namespace
