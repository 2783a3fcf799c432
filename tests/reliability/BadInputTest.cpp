// Lists that no editor writes: NUL bytes, a 10 MB line, mixed line ends,
// invalid UTF-8, tokens in other capitalisation, huge filters, files that are
// no list at all. Each loads or is refused as documented, and a run over what
// loads ends with its documented behaviour: never a crash or a hang.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QProcess>

#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/ListCommands.h"
#include "listing/ListFile.h"
#include "listing/Listing.h"
#include "reliability/NoLoss.h"
#include "run/RunDriver.h"
#include "run/RunState.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

QByteArray Line(const QByteArray& action, const QByteArray& source, const QByteArray& dest,
                const QByteArray& filter = "*.*", const QByteArray& sub = "Subfolders",
                const QByteArray& flatten = "CopyFoldersAndFiles",
                const QByteArray& description = "d") {
    return action + '<' + source + '<' + dest + '<' + sub + '<' + flatten + "<Overwrite<" +
           description + "<:Specific|Types:" + filter;
}

const QByteArray kGood = Line("Copy", "/a", "/b");

struct ListCase {
    const char* name;
    QByteArray bytes;
    int rows;  // -1: refused
};

class OddLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(OddLists, LoadOrAreRefusedLeavingTheDocumentAsItWas) {
    TempTree t;
    t.write(QStringLiteral("l.bak"), GetParam().bytes);
    BackupList doc;
    doc.appendLine(QString::fromUtf8(kGood));
    FakeHost host;
    SessionFlags flags;
    ListCommands commands(doc, host, flags);
    const LoadResult result = commands.LoadBackupList(t.path(QStringLiteral("l.bak")));
    if (GetParam().rows < 0) {
        EXPECT_EQ(result, LoadResult::Refused);
        EXPECT_EQ(doc.lines(), QStringList{QString::fromUtf8(kGood)});
        return;
    }
    ASSERT_EQ(result, LoadResult::Loaded);
    EXPECT_EQ(doc.count(), GetParam().rows);
    for (const QString& line : doc.lines()) EXPECT_EQ(CountFieldSeparators(line), 7);
}

QByteArray TenMegabytes(char c) {
    return QByteArray(10 * 1024 * 1024, c);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, OddLists,
    ::testing::Values(
        ListCase{"NulInsideAField", Line("Copy", QByteArray("/a\0b", 4), "/b") + "\r\n", 1},
        ListCase{"NulInsteadOfASeparator",
                 QByteArray(kGood).replace(kGood.indexOf('<'), 1, QByteArray(1, '\0')) + "\r\n",
                 -1},
        ListCase{"OnlyNulBytes", QByteArray(4096, '\0'), -1},
        ListCase{"TenMegabyteDescription",
                 Line("Copy", "/a", "/b", "*.*", "Subfolders", "CopyFoldersAndFiles",
                      TenMegabytes('d')) +
                     "\r\n" + kGood + "\r\n",
                 2},
        ListCase{"TenMegabyteLineWithoutSeparators", TenMegabytes('x') + "\r\n", -1},
        ListCase{"TenMegabytesOfSeparators", TenMegabytes('<'), -1},
        ListCase{"MixedLineEnds", kGood + "\r\n" + kGood + "\r" + kGood + "\r\n" + kGood, 4},
        ListCase{"LineFeedsOnly", kGood + "\n" + kGood + "\n", -1},
        ListCase{"LineFeedBeforeCarriageReturn", kGood + "\n\r" + kGood + "\r\n", 2},
        ListCase{"InvalidUtf8", Line("Copy", "/caf\xE9", "/\xFF\xFE", "*.\x80") + "\r\n", 1},
        ListCase{"TruncatedUtf8Sequence", Line("Copy", "/a\xC3", "/b") + "\r\n", 1},
        ListCase{"Utf16",
                 QByteArray("\xFF\xFE"
                            "C\0o\0p\0y\0<\0",
                            12),
                 -1},
        ListCase{"ByteOrderMarkAlone", "\xEF\xBB\xBF", 0},
        ListCase{"ManyLines", kGood.repeated(1) + QByteArray("\r\n" + kGood).repeated(20000),
                 20001}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(OddListFiles, InvalidUtf8IsReadAsWindows1252) {
    FakeHost host;
    const auto lines = ParseListBytes(Line("Copy", "/caf\xE9", "/\x80") + "\r\n", host);
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(ReadListingField(lines->first(), FieldSourceFolder), QStringLiteral("/caf\u00E9"));
    EXPECT_EQ(ReadListingField(lines->first(), FieldDestinationFolder), QStringLiteral("/\u20AC"));
}

TEST(OddListFiles, WhatIsNoFileIsRefusedWithoutWaiting) {
    TempTree t;
    FakeHost host;
    const QByteArray fifo = EncodePath(t.path(QStringLiteral("pipe.bak")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    EXPECT_FALSE(ReadListFile(t.path(QStringLiteral("pipe.bak")), host).has_value());
    EXPECT_FALSE(ReadListFile(QStringLiteral("/dev/zero"), host).has_value());
    EXPECT_FALSE(ReadListFile(t.root(), host).has_value());
}

// Runs of lists that load but were not written by the editor.
class OddRuns : public ::testing::Test {
  protected:
    QByteArray path(const QString& relative) const { return EncodePath(t.path(relative)); }
    void addLine(const QByteArray& line) { doc.appendLine(DecodeListText(line)); }
    RunResult run() {
        RunDriver driver(doc, host, view, view, flags, progress);
        driver.setLogFolder(t.path(QStringLiteral("logs")));
        const RunResult r = driver.Command3_Click();
        errors = driver.state().ErrorList;
        return r;
    }
    QByteArray below(const QString& relative) const { return BelowFirstLevel(path(relative)); }

    TempTree t;
    BackupList doc;
    FakeHost host;
    HookView view;
    SessionFlags flags;
    RunProgress progress;
    QList<QByteArray> errors;
};

// Tokens are compared exactly: another capitalisation is the other choice.
TEST_F(OddRuns, TokensInOtherCapitalisationAreNotRecognised) {
    t.write(QStringLiteral("src/top.txt"), "top");
    t.write(QStringLiteral("src/sub/low.txt"), "low");
    addLine(Line("move", path(QStringLiteral("src")), path(QStringLiteral("dst")), "*.*",
                 "subfolders", "copyjustfiles"));
    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    // "move" copies, "subfolders" leaves sub-folders out, "copyjustfiles"
    // keeps the structure.
    EXPECT_EQ(t.read(QStringLiteral("src/top.txt")), "top");
    EXPECT_TRUE(QFile::exists(
        DecodePath(path(QStringLiteral("dst")) + '/' + below(QStringLiteral("src/top.txt")))));
    EXPECT_EQ(TakeSnapshot(path(QStringLiteral("dst"))).size(), 1);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(OddRuns, AFolderFieldWithANulByteIsAFolderNotFound) {
    t.write(QStringLiteral("src/a.txt"), "a");
    t.mkdir(QStringLiteral("dst"));
    addLine(Line("Move", path(QStringLiteral("src")) + QByteArray("\0/../x", 6),
                 path(QStringLiteral("dst"))));
    EXPECT_EQ(run().outcome, RunOutcome::EndedEarly);
    ASSERT_EQ(host.messages.size(), 2);
    EXPECT_EQ(host.messages[1].text, QStringLiteral("Source folder was not found"));
    EXPECT_EQ(t.read(QStringLiteral("src/a.txt")), "a");
    EXPECT_TRUE(TakeSnapshot(path(QStringLiteral("dst"))).isEmpty());
}

TEST_F(OddRuns, ALineWithoutTheMarkerSelectsNothing) {
    t.write(QStringLiteral("src/a.txt"), "a");
    addLine(Line("Copy", path(QStringLiteral("src")), path(QStringLiteral("dst")))
                .replace(":Specific|Types:", ":specific|types:"));
    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(view.copied, 0);
    EXPECT_TRUE(TakeSnapshot(path(QStringLiteral("dst"))).isEmpty());
}

// A filter of half a million patterns (a line of megabytes): the run goes
// through it, pattern by pattern, and takes only what matches.
TEST_F(OddRuns, AHugeFilterIsSearchedPatternByPattern) {
    t.write(QStringLiteral("src/keep.txt"), "k");
    t.write(QStringLiteral("src/skip.dat"), "s");
    t.write(QStringLiteral("src/drop.bmp"), "b");
    QByteArray filter;
    for (int i = 0; i < 500000; ++i) filter += "*.none" + QByteArray::number(i) + ';';
    filter += "*.TXT;*.txt;*.bmp";
    addLine(Line("Copy", path(QStringLiteral("src")), path(QStringLiteral("dst")), filter,
                 "NoSubfolders"));
    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(view.copied, 2);
    const Snapshot copied = TakeSnapshot(path(QStringLiteral("dst")));
    EXPECT_EQ(copied.size(), 2);
    EXPECT_TRUE(
        copied.contains(path(QStringLiteral("dst")) + '/' + below(QStringLiteral("src/keep.txt"))));
}

TEST_F(OddRuns, AHugeExclusionListExcludesByEverySuffix) {
    t.write(QStringLiteral("src/keep.txt"), "k");
    t.write(QStringLiteral("src/drop.bmp"), "b");
    QByteArray filter = "*.*";
    for (int i = 0; i < 200000; ++i) filter += ";-*.x" + QByteArray::number(i);
    filter += ";-*.bmp";
    addLine(Line("Copy", path(QStringLiteral("src")), path(QStringLiteral("dst")), filter,
                 "NoSubfolders"));
    EXPECT_EQ(run().outcome, RunOutcome::Finished);
    EXPECT_EQ(view.copied, 1);
    // Listed by "*.*" and again by "*.bmp": excluded, and skipped, twice.
    EXPECT_EQ(view.skipped, 2);
}

// The program itself, handed files that are no list.
struct ProgramCase {
    const char* name;
    QByteArray bytes;  // of list.bak
    int status;
    const char* says;  // on standard error
};

class OddListsInTheProgram : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(OddListsInTheProgram, ExitWithTheirStatusAndSayWhy) {
    TempTree t;
    const QString program = t.copyProgram();
    ASSERT_FALSE(program.isEmpty()) << "ZANDREL_BINARY is not set or cannot be copied";
    QByteArray bytes = GetParam().bytes;
    bytes.replace("%T", EncodePath(t.root()));
    t.write(QStringLiteral("list.bak"), bytes);

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(program, {t.path(QStringLiteral("list.bak")), QStringLiteral("-r")});
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), GetParam().status);
    const QByteArray err = p.readAllStandardError();
    EXPECT_TRUE(err.contains(GetParam().says)) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Lists, OddListsInTheProgram,
    ::testing::Values(
        ProgramCase{"Binary",
                    QByteArray("\x7f"
                               "ELF\0\0\0<<<",
                               11),
                    2, "Error notice: Invalid or corrupt list  list.bak"},
        ProgramCase{"TenMegabyteLine", TenMegabytes('<'), 2, "Invalid or corrupt list"},
        ProgramCase{"NulInTheSource", Line("Copy", QByteArray("%T/src\0", 7), "%T/dst") + "\r\n", 3,
                    "Error notice: Source folder was not found"},
        ProgramCase{"EmptyFields", "<<<<<<<\r\n", 3, "Error notice: Source folder was not found"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
