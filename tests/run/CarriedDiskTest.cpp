// The disks people carry: FAT and exFAT sticks through FUSE, whose files
// are numbered afresh each time the kernel lets go of them (the caches are
// dropped between files here) and whose names ignore letter case. The
// preview and the run are made on the same tree and must agree; nothing a
// Move took from one source may be replaced by another's.

#include <QProcess>

#include <optional>
#include <tuple>

#include "common/FileSystem.h"
#include "common/Paths.h"
#include "run/Preview.h"
#include "run/RunFixture.h"
#include "support/Mounts.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

using Image = ScopedMount::Image;

struct FileText {
    const char* path;
    const char* text;
};

struct CarriedCase {
    const char* name;
    ListingAction action;
    bool flatten;
    QList<FileText> sources;     // below src
    QList<FileText> there;       // below the destination, before the run
    QList<const char*> failing;  // sources that fail, each run alike
    QList<FileText> after;       // below the destination, after the run
    int runs = 1;
    // A Listing per folder of src: the first's copies are on the disk,
    // named, before the second decides.
    bool listingPerFolder = false;
    bool fromStick = false;  // the sources on the stick, the destination not
};

void PrintTo(const CarriedCase& c, std::ostream* os) {
    *os << c.name;
}

class CarriedDiskTest : public RunFixture,
                        public ::testing::WithParamInterface<std::tuple<Image, CarriedCase>> {
  protected:
    // A fresh stick with the destination folder on it; digits alone, so
    // that no name on the stick tells how it takes letter case.
    bool mountStick(Image image) {
        mount.emplace(ScopedMount::Formatted(image, t.path(QStringLiteral("stick.img")),
                                             t.path(QStringLiteral("stick")), 64));
        return mount->ok() && QDir().mkpath(t.path(QStringLiteral("stick/2024")));
    }
    // Sources whose copy failed, as the preview foretells and as the run
    // reports them; the copies each counts.
    QStringList previewFailures(int& copies) {
        QStringList failed;
        copies = 0;
        PreviewList(doc, host, view, [&](const QByteArray& line) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() == 3 && f[0].startsWith("fail-") && f[0] != kFailDelete &&
                f[0] != kFailRemoveFolder)
                failed << QString::fromUtf8(f[1]);
            copies += f.size() == 3 && (f[0] == "copy" || f[0] == "overwrite");
        });
        return failed;
    }
    QStringList runFailures() const {
        QStringList failed;
        for (const QString& e : errorEntries())
            if (e.startsWith(QStringLiteral("Copy failed: ")))
                failed << e.mid(13);
        return failed;
    }
    std::optional<ScopedMount> mount;
};

TEST_P(CarriedDiskTest, TheRunAndThePreviewAgreeAndLoseNothing) {
    const auto& [image, c] = GetParam();
    if (!mountStick(image))
        GTEST_SKIP() << mount->why().toStdString();
    const QString from = c.fromStick ? QStringLiteral("stick/src/") : QStringLiteral("src/");
    const QString to = c.fromStick ? QStringLiteral("dst") : QStringLiteral("stick/2024");
    const QString dst = t.path(to);
    const auto at = [&](const char* source) {
        const QString relative = from + QLatin1String(source);
        return c.flatten ? dst + u'/' + GetFileName(relative) : kept(dst, relative);
    };
    for (const FileText& f : c.sources) t.write(from + QLatin1String(f.path), f.text);
    for (const FileText& f : c.there) {
        const QString path = at(f.path);
        QDir().mkpath(GetFolderPart(path));
        ASSERT_TRUE(WriteBytes(EncodePath(path), f.text));
    }
    QStringList failing;
    for (const char* f : c.failing) failing << t.path(from + QLatin1String(f));
    QStringList sources;
    for (const FileText& f : c.sources) {
        const QString folder = QString::fromLatin1(f.path).section(u'/', 0, 0);
        if (c.listingPerFolder && !sources.contains(folder))
            sources << folder;
    }
    for (const QString& source : sources.isEmpty() ? QStringList{QString()} : sources) {
        Listing l = listing(from + source, to);
        l.Action = c.action;
        l.CopyJustFiles = c.flatten;
        add(l);
    }
    // Memory pressure between any two files, in the preview and the run.
    host.onYield = DropCaches;

    for (int round = 1; round <= c.runs; ++round) {
        SCOPED_TRACE(round);
        int foretold = 0;
        EXPECT_EQ(previewFailures(foretold), failing);
        const RunResult r = run();
        EXPECT_EQ(runFailures(), failing);
        EXPECT_EQ(r.copiedCount, foretold);
        EXPECT_EQ(r.copiedCount, c.sources.size() - failing.size());
        for (const FileText& f : c.after)
            EXPECT_EQ(ReadBytes(EncodePath(at(f.path))), f.text) << f.path;
        // A Move keeps the source of every file that failed, and only those.
        for (const FileText& f : c.sources) {
            const QString source = t.path(from + QLatin1String(f.path));
            EXPECT_EQ(QFile::exists(source),
                      c.action == ListingAction::Copy || failing.contains(source))
                << f.path;
        }
        EXPECT_TRUE(TemporaryLeftovers(EncodePath(dst)).isEmpty());
    }
}

const QList<FileText> kSameName = {
    {"s1/same.txt", "first"}, {"s1/b.txt", "b"}, {"s1/c.txt", "c"}, {"s2/same.txt", "second"}};
const QList<FileText> kCaseTwice = {
    {"s1/A.txt", "upper"}, {"s1/b.txt", "b"}, {"s2/a.txt", "lower"}};
const QList<FileText> kFolders = {{"Docs/x.txt", "upper"}, {"docs/x.txt", "lower"}};
const QList<FileText> kFresh = {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}};
const QList<FileText> kStale = {{"a.txt", "old"}, {"b.txt", "old"}, {"c.txt", "old"}};
const QList<FileText> kTree = {{"A/a.txt", "a"}, {"A/b.txt", "b"}, {"B/c.txt", "c"},
                               {"B/d.txt", "d"}, {"C/e.txt", "e"}, {"C/f.txt", "f"}};

using L = ListingAction;
const QList<FileText> kNone, kFirstKept = {{"s1/same.txt", "first"}},
                             kUpperKept = {{"s1/A.txt", "upper"}},
                             kDocsKept = {{"Docs/x.txt", "upper"}};
const CarriedCase kCases[] = {
    // The file a flattened Move put there stays, though renumbered.
    {"MoveKeepsWhatItMoved", L::Move, true, kSameName, kNone, {"s2/same.txt"}, kFirstKept, 1, true},
    // A file renumbered is no file changed: each is replaced as decided.
    {"ReplacesWhatItDecidedOn", L::Copy, true, kFresh, kStale, {}, kFresh},
    // A fresh stick ignores case before any name is on it.
    {"FreshStickIgnoresCase", L::Move, true, kCaseTwice, kNone, {"s2/a.txt"}, kUpperKept, 1, true},
    // Two folders that differ only in case are one there, run after run.
    {"FoldersInOtherCaseClash", L::Copy, false, kFolders, kNone, {"docs/x.txt"}, kDocsKept, 2},
    // Each source deleted as the very file copied, though renumbered since.
    {"MoveDeletesWhatItCopied", L::Move, false, kTree, kNone, {}, kTree, 1, false, true},
};

INSTANTIATE_TEST_SUITE_P(Sticks, CarriedDiskTest,
                         ::testing::Combine(::testing::Values(Image::Fat, Image::Exfat),
                                            ::testing::ValuesIn(kCases)),
                         [](const auto& p) {
                             return (std::get<0>(p.param) == Image::Fat ? "Fat" : "Exfat") +
                                    std::string(std::get<1>(p.param).name);
                         });

// What the file layer learns of a disk, in an empty folder named with digits
// alone: from its type, from the device under a FUSE mount, or, where the
// mount's name tells nothing (a FUSE driver named otherwise), from a probe of
// the run's own, which a preview may not make and which leaves nothing.
struct DiskCase {
    const char* name;
    Image image;
    const char* subtype;  // for a FAT mount named otherwise; null: as mounted
    bool ignoresCase;
    bool ignoresCaseUnprobed;
    bool keepsNumbers;
};

class DiskFactsTest : public ::testing::TestWithParam<DiskCase> {
  protected:
    TempTree t;
};

TEST_P(DiskFactsTest, AreLearntFromTheDiskNotFromItsNames) {
    const DiskCase c = GetParam();
    const QString image = t.path(QStringLiteral("stick.img"));
    const QString folder = t.path(QStringLiteral("stick"));
    std::optional<ScopedMount> mount;
    if (c.subtype) {
        QDir().mkpath(folder);
        const bool made =
            QProcess::execute(QStringLiteral("truncate"), {QStringLiteral("-s32M"), image}) == 0 &&
            QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) == 0;
        if (!made || QProcess::execute(QStringLiteral("fusefat"),
                                       {QStringLiteral("-o"),
                                        QStringLiteral("rw+,subtype=") + QLatin1String(c.subtype),
                                        image, folder}) != 0)
            GTEST_SKIP() << "fusefat refused";
    } else {
        mount.emplace(ScopedMount::Formatted(c.image, image, folder, 32));
        if (!mount->ok())
            GTEST_SKIP() << mount->why().toStdString();
    }
    QDir().mkpath(folder + QStringLiteral("/2024"));
    DropCaches();
    {
        const fs::Folder open =
            fs::Folder::openAsNamed(EncodePath(folder + QStringLiteral("/2024")));
        ASSERT_TRUE(open.valid());
        EXPECT_EQ(fs::IgnoresCase(open, false), c.ignoresCaseUnprobed);
        EXPECT_EQ(fs::IgnoresCase(open, true), c.ignoresCase);
        EXPECT_EQ(fs::KeepsInodeNumbers(open), c.keepsNumbers);
        EXPECT_TRUE(EntryNames(EncodePath(folder + QStringLiteral("/2024"))).isEmpty());
    }
    if (c.subtype) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("umount"), {folder}), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, DiskFactsTest,
    ::testing::Values(DiskCase{"Fat", Image::Fat, nullptr, true, true, false},
                      DiskCase{"Exfat", Image::Exfat, nullptr, true, true, false},
                      DiskCase{"FatUnderAnotherName", Image::Fat, "stick", true, false, false},
                      DiskCase{"Ext4", Image::Ext4NoJournal, nullptr, false, false, true}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
