// " -n": the preview of a run changes nothing, and every decision it prints is
// what the real run that follows does to the same tree.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>

#include "common/Paths.h"
#include "listing/Listing.h"
#include "run/TestFiles.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

// Every entry below root with its kind, mode, time and contents.
QStringList Manifest(const QString& root) {
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(EncodePath(path).constData(), &st);
        QByteArray hash;
        if (S_ISREG(st.st_mode))
            hash = QCryptographicHash::hash(ReadBytes(EncodePath(path)), QCryptographicHash::Sha256)
                       .toHex();
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(path)
                     .arg(st.st_mode, 0, 8)
                     .arg(st.st_mtime)
                     .arg(QString::fromLatin1(hash));
    }
    lines.sort();
    return lines;
}

struct PreviewCase {
    const char* name;
    ListingAction action;
    ExistingFileRule rule;
    bool flatten;
    const char* filter;
    const char* destination;  // below the root: "src" maps files onto themselves
};

class PreviewTest : public ::testing::TestWithParam<PreviewCase> {
  protected:
    struct Result {
        int status;
        QList<QByteArray> lines;
    };
    Result zandrel(const QString& switchText) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), t.path(QStringLiteral("home")));
        p.setProcessEnvironment(env);
        p.start(program, {t.path(QStringLiteral("list.bak")), switchText});
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), p.readAllStandardOutput().split('\n')};
    }
    TempTree t;
    QString program = t.copyProgram();
};

TEST_P(PreviewTest, ChangesNothingAndForetellsTheRun) {
    const PreviewCase c = GetParam();
    ASSERT_FALSE(program.isEmpty());
    t.write(QStringLiteral("src/X/n.txt"), "X");
    t.write(QStringLiteral("src/Y/n.txt"), "Y");
    t.write(QStringLiteral("src/old.txt"), "old");
    t.write(QStringLiteral("src/new.txt"), "new");
    t.write(QStringLiteral("src/skip.tmp"), "tmp");
    ASSERT_EQ(::mkfifo(EncodePath(t.path(QStringLiteral("src/fifo"))).constData(), 0644), 0);
    t.setMtime(QStringLiteral("src/old.txt"), 1000000000);
    t.setMtime(QStringLiteral("src/new.txt"), 2000000000);
    // What the destination already holds (flat or below the first level).
    // "/FIRST" is the first folder level, where every file maps onto itself.
    const QString dst = QLatin1String(c.destination) == QLatin1String("/FIRST")
                            ? u'/' + t.root().section(u'/', 1, 1)
                            : t.path(QLatin1String(c.destination));
    const auto there = [&](const QString& srcRelative) {
        return c.flatten ? dst + u'/' + GetFileName(srcRelative)
                         : dst + u'/' + t.path(srcRelative).section(u'/', 2);
    };
    if (QLatin1String(c.destination) == QLatin1String("dst")) {
        for (const char* f : {"src/old.txt", "src/new.txt"}) {
            QDir().mkpath(GetFolderPart(there(QLatin1String(f))));
            ASSERT_TRUE(WriteBytes(EncodePath(there(QLatin1String(f))), "was there"));
            SetMtime(there(QLatin1String(f)), 1500000000, 0);
        }
    }
    Listing l;
    l.Action = c.action;
    l.SourceFolder = t.path(QStringLiteral("src"));
    l.DestinationFolder = dst;
    l.IncludeSubfolders = true;
    l.CopyJustFiles = c.flatten;
    l.IfExists = c.rule;
    l.Description = QStringLiteral("Preview");
    l.Filter = QLatin1String(c.filter);
    t.write(QStringLiteral("list.bak"), EncodeListingLine(l).toUtf8() + "\r\n");

    const QString root = t.root();
    const QStringList before = Manifest(root);
    const Result preview = zandrel(QStringLiteral("-n"));
    EXPECT_EQ(Manifest(root), before) << "the preview changed the tree";

    // The run, then each decision checked against its effect, and every
    // failure the preview foretold against the run's log, in order.
    const Result run = zandrel(QStringLiteral("-r"));
    EXPECT_EQ(preview.status, run.status);
    QMap<QString, QString> was, is;
    for (const QString& line : before) was[line.section(u' ', 0, 0)] = line;
    for (const QString& line : Manifest(root)) is[line.section(u' ', 0, 0)] = line;
    QList<QByteArray> logged;
    for (const QByteArray& line :
         ReadBytes(EncodePath(GetFolderPart(program) + QStringLiteral("log.txt"))).split('\n')) {
        const qsizetype at = line.indexOf("-->");
        if (at >= 0 && line.contains(" failed: "))
            logged << line.mid(at + 3).chopped(line.endsWith('\r') ? 1 : 0);
    }
    QList<QByteArray> foretold;
    int copies = 0;
    bool counted = false;
    for (const QByteArray& line : preview.lines) {
        const QList<QByteArray> f = line.split('\t');
        if (f.first() == "counts" || f.first() == "total") {
            counted = true;
            continue;
        }
        if (f.size() != 3)
            continue;
        const QByteArray& decision = f[0];
        const QString source = QString::fromUtf8(f[1]);
        const QString destination = QString::fromUtf8(f[2]);
        SCOPED_TRACE(line.toStdString());
        if (decision == "fail-delete" || decision == "fail-remove-folder")
            foretold << "Delete failed: " + f[1];
        else if (decision.startsWith("fail-"))
            foretold << "Copy failed: " + f[1];
        if (decision == "copy" || decision == "overwrite") {
            ++copies;
            EXPECT_TRUE(QFileInfo::exists(destination));
        } else if (decision == "remove-folder") {
            EXPECT_FALSE(QFileInfo::exists(source));
        } else if (!decision.startsWith("fail-")) {
            EXPECT_TRUE(QFileInfo::exists(source));
        }
        // A folder the run made for the structure may stand at a skipped
        // folder entry's name.
        if ((decision.startsWith("skip") || decision == "excluded") &&
            !QFileInfo(destination).isDir()) {
            EXPECT_EQ(is.value(destination), was.value(destination));
        }
    }
    EXPECT_EQ(foretold, logged);
    EXPECT_TRUE(counted);
    EXPECT_TRUE(run.lines.join('\n').contains(" " + QByteArray::number(copies) + " files copied"))
        << run.lines.join('\n').toStdString();
}

// A later Listing meets what an earlier one left, in the preview as in the
// run: a folder made for the structure, settled to its model's time, and a
// link placed and then named as a destination.
TEST_F(PreviewTest, ALaterListingMeetsWhatAnEarlierOneLeftAsTheRunDoes) {
    ASSERT_FALSE(program.isEmpty());
    const auto path = [this](const char* relative) { return t.path(QLatin1String(relative)); };
    const auto listing = [](const QString& from, const QString& to, const char* fields) {
        return QStringLiteral("Copy<%1<%2<%3<:Specific|Types:*.*\r\n")
            .arg(from, to, QLatin1String(fields));
    };
    const auto both = [&](const QString& list, const QByteArray& foretold) {
        t.write(QStringLiteral("list.bak"), list.toUtf8());
        const Result preview = zandrel(QStringLiteral("-n"));
        EXPECT_TRUE(preview.lines.join('\n').contains(foretold)) << foretold.constData();
        EXPECT_EQ(preview.status, zandrel(QStringLiteral("-r")).status) << foretold.constData();
    };

    t.write(QStringLiteral("S/x/f"), "f");
    t.write(QStringLiteral("T/x"), "a file where the copy has a folder");
    t.setMtime(QStringLiteral("S/x"), 1000000000);
    t.setMtime(QStringLiteral("T/x"), 1500000000);
    const QString made = path("D/") + path("S").section(u'/', 2);
    both(listing(path("S"), path("D"), "Subfolders<CopyFoldersAndFiles<Overwrite<d1") +
             listing(path("T"), made, "NoSubfolders<CopyJustFiles<CopyOnlyIfNewer<d2"),
         "fail-folder-in-the-way\t" + EncodePath(path("T/x")));

    t.mkdir(QStringLiteral("B"));
    t.write(QStringLiteral("C/c.txt"), "c");
    t.mkdir(QStringLiteral("A"));
    ASSERT_TRUE(QFile::link(QStringLiteral("../B"), path("A/l")));
    both(listing(path("A"), path("E"), "NoSubfolders<CopyJustFiles<Overwrite<L1") +
             listing(path("C"), path("E/l"), "NoSubfolders<CopyJustFiles<Overwrite<L2"),
         "copy\t" + EncodePath(path("C/c.txt")) + '\t' + EncodePath(path("E/l/c.txt")));
    EXPECT_EQ(t.read(QStringLiteral("B/c.txt")), QByteArray("c"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreviewTest,
    ::testing::Values(PreviewCase{"overwrite", ListingAction::Copy, ExistingFileRule::Overwrite,
                                  false, "*.*", "dst"},
                      PreviewCase{"skip", ListingAction::Copy, ExistingFileRule::SkipFile, false,
                                  "*.*", "dst"},
                      PreviewCase{"newer", ListingAction::Move, ExistingFileRule::CopyOnlyIfNewer,
                                  false, "*.*", "dst"},
                      PreviewCase{"exclusion", ListingAction::Copy, ExistingFileRule::Overwrite,
                                  false, "*.*;-*.tmp", "dst"},
                      PreviewCase{"flat_copy", ListingAction::Copy, ExistingFileRule::Overwrite,
                                  true, "*.*", "dst"},
                      PreviewCase{"flat_move", ListingAction::Move, ExistingFileRule::Overwrite,
                                  true, "*.*", "dst"},
                      PreviewCase{"twice_listed", ListingAction::Move, ExistingFileRule::Overwrite,
                                  false, "*.*;*.txt", "dst"},
                      PreviewCase{"missing_destination", ListingAction::Copy,
                                  ExistingFileRule::SkipFile, false, "*.*", "new/dst"},
                      PreviewCase{"same_file", ListingAction::Copy, ExistingFileRule::Overwrite,
                                  false, "*.txt", "/FIRST"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
