#include <gtest/gtest.h>

#include <QFile>

#include "listing/ListFile.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using zandrel::test::FakeHost;
using zandrel::test::TempTree;

namespace {

const QByteArray kLine =
    "Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*";

struct ValidityCase {
    const char* name;
    QByteArray bytes;
    int lines;  // -1: refused
};

class ListValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(ListValidity, AcceptsOnlySevenSeparatorsPerLine) {
    TempTree t;
    t.write(QStringLiteral("l.bak"), GetParam().bytes);
    FakeHost host;
    const auto lines = ReadListFile(t.path(QStringLiteral("l.bak")), host);
    if (GetParam().lines < 0) {
        EXPECT_FALSE(lines.has_value());
    } else {
        ASSERT_TRUE(lines.has_value());
        EXPECT_EQ(lines->size(), GetParam().lines);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ListValidity,
    ::testing::Values(
        ValidityCase{"two_lines", kLine + "\r\n" + kLine + "\r\n", 2},
        ValidityCase{"last_line_without_end", kLine + "\r\n" + kLine, 2},
        ValidityCase{"empty_file", "", 0},
        ValidityCase{"six_separators",
                     "Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite:Specific|Types:*.*\r\n",
                     -1},
        ValidityCase{
            "eight_separators",
            "Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<d<e<:Specific|Types:*.*\r\n", -1},
        ValidityCase{"blank_line", kLine + "\r\n\r\n" + kLine + "\r\n", -1},
        ValidityCase{"extra_crlf_at_end", kLine + "\r\n\r\n", -1},
        ValidityCase{"lone_cr_ends_a_line", kLine + "\r" + kLine + "\r\n", 2},
        ValidityCase{
            "lf_inside_a_line",
            "Copy</a</b<Subfolders\n<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*\r\n", 1},
        ValidityCase{"lf_joins_two_lines", kLine + "\n" + kLine + "\r\n", -1},
        ValidityCase{"nul_bytes",
                     QByteArray("Copy</a") + '\0' + "</b<S<C<O<d<:Specific|Types:*.*\r\n", 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ListFile, DecodesUtf8AndFallsBackToWindows1252) {
    EXPECT_EQ(DecodeListText(QByteArray("caf\xc3\xa9")), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(DecodeListText(QByteArray("caf\xe9 \x80 \x96")),
              QStringLiteral("caf\u00e9 \u20ac \u2013"));
}

TEST(ListFile, MissingFileAndFolderAreRefused) {
    TempTree t;
    FakeHost host;
    EXPECT_FALSE(ReadListFile(t.path(QStringLiteral("missing.bak")), host).has_value());
    EXPECT_FALSE(ReadListFile(t.root(), host).has_value());
}

TEST(ListFile, WriteThenReadGivesTheSameBytesAndLines) {
    TempTree t;
    FakeHost host;
    const QStringList lines = {
        QString::fromUtf8(kLine),
        QStringLiteral(
            "Move</\u00fcber</b<NoSubfolders<CopyJustFiles<SkipFile<<:Specific|Types:-*.bmp")};
    const QString path = t.path(QStringLiteral("out.bak"));
    ASSERT_TRUE(WriteListFile(path, lines, host));
    const QByteArray bytes = t.read(QStringLiteral("out.bak"));
    EXPECT_EQ(bytes, lines[0].toUtf8() + "\r\n" + lines[1].toUtf8() + "\r\n");
    EXPECT_EQ(ReadListFile(path, host), lines);
}

TEST(ListFile, FailedWriteKeepsThePreviousList) {
    TempTree t;
    FakeHost host;
    t.write(QStringLiteral("sub/keep.bak"), kLine + "\r\n");
    // A folder where the file should be: the rename cannot replace it.
    EXPECT_FALSE(WriteListFile(t.path(QStringLiteral("sub")), {QString::fromUtf8(kLine)}, host));
    EXPECT_EQ(t.read(QStringLiteral("sub/keep.bak")), kLine + "\r\n");
}

// The file is read in blocks of 1 MiB: a CR LF split between two blocks is
// one line end, and a Windows-1252 byte far behind the first block still
// decodes the whole list as Windows-1252.
TEST(ListFile, LinesAcrossReadBlocksDecodeAsTheWholeFile) {
    const qsizetype block = qsizetype{1} << 20;
    QByteArray first = "\xEF\xBB\xBF" + kLine;
    first += QByteArray(block - 1 - first.size(), 'x');
    const QByteArray bytes = first + "\r\n" + kLine + "\xE9\r" + kLine + "\r\n";
    TempTree t;
    t.write(QStringLiteral("l.bak"), bytes);
    FakeHost host;
    const auto lines = ReadListFile(t.path(QStringLiteral("l.bak")), host);
    ASSERT_TRUE(lines.has_value());
    ASSERT_EQ(lines->size(), 3);
    EXPECT_EQ(lines->at(0), QString::fromLatin1(first.sliced(3)));
    EXPECT_EQ(lines->at(1), QString::fromUtf8(kLine) + u'\u00e9');
    EXPECT_EQ(lines, ParseListBytes(bytes, host));
}

// Found by fuzzing: two byte order marks in front. The second one stayed in
// the first Action ("Move" no longer moved) and Save wrote it as a BOM that
// the next load dropped, so the list changed by being saved.
const QByteArray kMoveLine =
    "Move</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*";

TEST(ListFile, ByteOrderMarksInFrontAreNoText) {
    FakeHost host;
    for (const QByteArray& bom :
         {QByteArray("\xEF\xBB\xBF"), QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"),
          QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF")}) {
        const auto lines = ParseListBytes(bom + kMoveLine + "\r\n", host);
        ASSERT_TRUE(lines.has_value());
        ASSERT_EQ(lines->size(), 1);
        EXPECT_EQ(lines->first(), QString::fromUtf8(kMoveLine));

        TempTree t;
        ASSERT_TRUE(WriteListFile(t.path(QStringLiteral("l.bak")), *lines, host));
        EXPECT_EQ(ReadListFile(t.path(QStringLiteral("l.bak")), host), lines);
    }
}

TEST(ListFile, AByteOrderMarkInsideTheTextStays) {
    EXPECT_EQ(DecodeListText("a\xEF\xBB\xBF"
                             "b"),
              QStringLiteral("a\uFEFFb"));
    // A Windows-1252 list that starts with those bytes loses only them.
    EXPECT_EQ(DecodeListText("\xEF\xBB\xBF"
                             "caf\xE9"),
              QStringLiteral("caf\u00E9"));
}

// A list file is held whole in memory: one too large for any list is
// refused rather than read.
TEST(ListFile, AListFileLargerThanAnyListIsRefused) {
    TempTree t;
    t.write(QStringLiteral("huge.bak"), kMoveLine + "\r\n");
    QFile f(t.path(QStringLiteral("huge.bak")));
    ASSERT_TRUE(f.resize(kMaxListFileBytes + 1));  // sparse: nothing is written
    FakeHost host;
    EXPECT_FALSE(ReadListFile(t.path(QStringLiteral("huge.bak")), host).has_value());
    ASSERT_TRUE(f.resize(kMoveLine.size() + 2));
    EXPECT_TRUE(ReadListFile(t.path(QStringLiteral("huge.bak")), host).has_value());
}

}  // namespace
