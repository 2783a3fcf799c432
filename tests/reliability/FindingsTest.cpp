// Inputs that fuzzing found to break a rule, kept as regression cases, and
// the rules they broke.

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QStringList>
#include <cmath>
#include <limits>
#include <vector>

#include "common/FormatSize.h"
#include "common/Paths.h"
#include "listing/ListFile.h"
#include "search/Filter.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

const QByteArray kLine =
    "Move</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<d<:Specific|Types:*.*";

// fuzz_list_file: two byte order marks in front. The second one stayed in
// the first Action ("Move" no longer moved) and Save wrote it as a BOM that
// the next load dropped, so the list changed by being saved.
TEST(FuzzFindings, ByteOrderMarksInFrontAreNoText) {
    FakeHost host;
    for (const QByteArray& bom :
         {QByteArray("\xEF\xBB\xBF"), QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"),
          QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF")}) {
        const auto lines = ParseListBytes(bom + kLine + "\r\n", host);
        ASSERT_TRUE(lines.has_value());
        ASSERT_EQ(lines->size(), 1);
        EXPECT_EQ(lines->first(), QString::fromUtf8(kLine));

        TempTree t;
        ASSERT_TRUE(WriteListFile(t.path(QStringLiteral("l.bak")), *lines, host));
        EXPECT_EQ(ReadListFile(t.path(QStringLiteral("l.bak")), host), lines);
    }
}

TEST(FuzzFindings, AByteOrderMarkInsideTheTextStays) {
    EXPECT_EQ(DecodeListText("a\xEF\xBB\xBF"
                             "b"),
              QStringLiteral("a\uFEFFb"));
    // A Windows-1252 list that starts with those bytes loses only them.
    EXPECT_EQ(DecodeListText("\xEF\xBB\xBF"
                             "caf\xE9"),
              QStringLiteral("caf\u00E9"));
}

// fuzz_format_size: a number far below zero was cast to an integer that
// cannot hold it (undefined behaviour, caught by UBSan).
struct SizeCase {
    double bytes;
    const char* text;
};

class FormatSizeExtremes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatSizeExtremes, HaveADefinedText) {
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(FormatSize(GetParam().bytes), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatSizeExtremes,
    ::testing::Values(SizeCase{-8.91495e+303, "-8.91495e+303 bytes"},
                      SizeCase{-std::numeric_limits<double>::infinity(), "-inf bytes"},
                      SizeCase{std::numeric_limits<double>::quiet_NaN(), "0 bytes"},
                      SizeCase{-9.5e18, "-9.5e+18 bytes"},
                      SizeCase{-4.0e18, "-4000000000000000000 bytes"}, SizeCase{-5, "-5 bytes"},
                      SizeCase{-0.4, "0 bytes"}));

// FormatSizeNumber wrote a negative value's fraction with its own sign.
TEST(FuzzFindings, NegativeScaledNumbersKeepOneSignInFront) {
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(FormatSizeNumber(-0.05), QStringLiteral("-0.05"));
    EXPECT_EQ(FormatSizeNumber(-12.5), QStringLiteral("-12.50"));
    EXPECT_EQ(FormatSizeNumber(-250), QStringLiteral("-250.00"));
    EXPECT_EQ(FormatSizeNumber(0.05), QStringLiteral("0.05"));
}

// PatternsToSearch now looks keys up instead of searching the used record;
// these are the shapes where the two could part.
struct PatternCase {
    const char* name;
    const char* filter;
    std::vector<const char*> patterns;
};

class UsedRecordCases : public ::testing::TestWithParam<PatternCase> {};

TEST_P(UsedRecordCases, PassOverWhatTheRecordHolds) {
    QStringList expected;
    for (const char* p : GetParam().patterns) expected << QString::fromUtf8(p);
    EXPECT_EQ(PatternsToSearch(QString::fromUtf8(GetParam().filter)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, UsedRecordCases,
    ::testing::Values(PatternCase{"TailOfAnEarlierKey", "x*.jpg;*.jpg;jpg;g", {"x*.jpg"}},
                      PatternCase{"LongerAfterShorter", "*.jpg;x*.jpg", {"*.jpg", "x*.jpg"}},
                      PatternCase{"CaseIgnored", "*.JPG;*.jpg;*.Jpg", {"*.JPG"}},
                      PatternCase{"EmptyFirstThenAnyEmptyPassedOver", ";*.gif;;", {"", "*.gif"}},
                      PatternCase{"EmptyAfterAPattern", "a;;b", {"a", "b"}},
                      PatternCase{"BlanksTrimmed", " a ; a;b", {"a", "b"}},
                      PatternCase{"WholeKeyNotAcrossSeparators", "ab;b;a", {"ab", "a"}},
                      PatternCase{"FoldedAsTheMatcherFolds",
                                  "stra\u00DFe;STRASSE;asse",
                                  {"stra\u00DFe", "STRASSE"}},
                      PatternCase{"OtherSeparators", "a\tb\nc\rab", {"a", "b", "c", "ab"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A list file is held whole in memory: one too large for any list is
// refused rather than read.
TEST(FuzzFindings, AListFileLargerThanAnyListIsRefused) {
    TempTree t;
    t.write(QStringLiteral("huge.bak"), kLine + "\r\n");
    QFile f(t.path(QStringLiteral("huge.bak")));
    ASSERT_TRUE(f.resize(kMaxListFileBytes + 1));  // sparse: nothing is written
    FakeHost host;
    EXPECT_FALSE(ReadListFile(t.path(QStringLiteral("huge.bak")), host).has_value());
    ASSERT_TRUE(f.resize(kLine.size() + 2));
    EXPECT_TRUE(ReadListFile(t.path(QStringLiteral("huge.bak")), host).has_value());
}

// A NUL byte ends a path for the system, so a folder field holding one was
// found under the text before it.
TEST(FuzzFindings, APathHoldingANulByteNamesNothing) {
    TempTree t;
    t.mkdir(QStringLiteral("real"));
    const QString withNul = t.path(QStringLiteral("real")) + QChar(u'\0') + QStringLiteral("x");
    EXPECT_TRUE(FolderExists(t.path(QStringLiteral("real"))));
    EXPECT_FALSE(FolderExists(withNul));
    EXPECT_FALSE(PathExists(withNul));
    EXPECT_FALSE(PathExists(EncodePath(t.path(QStringLiteral("real"))) + '\0'));
}

}  // namespace
