#include <gtest/gtest.h>

#include <vector>

#include "SearchTestSupport.h"
#include "common/Paths.h"
#include "search/DirAndFileSearch.h"
#include "search/Filter.h"
#include "support/FakeHost.h"
#include "support/TempTree.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// --- SplitList ------------------------------------------------------------

struct SplitCase {
    QString text;
    const char* pieces;  // "|" between pieces; "" for none
    int last;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << '"' << c.text.toStdString() << '"';
}

class SplitListTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitListTable, PiecesAndLastIndex) {
    QStringList pieces{QStringLiteral("left over")};
    const int last = SplitList(GetParam().text, pieces);
    EXPECT_EQ(last, GetParam().last);
    EXPECT_EQ(ToStd(pieces), SplitBars(GetParam().pieces));
    EXPECT_EQ(last, pieces.size() - 1);
}

QString WithChar(const char* before, char16_t c, const char* after) {
    return Q(before) + QChar(c) + Q(after);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SplitListTable,
    ::testing::Values(
        SplitCase{Q("*.jpg;*.exe"), "*.jpg|*.exe", 1}, SplitCase{Q("*.jpg;"), "*.jpg", 0},
        SplitCase{Q("a;;b"), "a||b", 2}, SplitCase{Q(";*.jpg"), "|*.jpg", 1},
        SplitCase{Q("x"), "x", 0}, SplitCase{Q(";"), "", -1}, SplitCase{QString(), "", -1},
        SplitCase{Q("my file.txt"), "my file.txt", 0},
        // Every default separator splits; each alone is no piece.
        SplitCase{WithChar("a", u'\0', "b"), "a|b", 1},
        SplitCase{WithChar("a", u'\t', "b"), "a|b", 1},
        SplitCase{WithChar("a", u'\n', "b"), "a|b", 1},
        SplitCase{WithChar("a", u'\r', "b"), "a|b", 1}, SplitCase{WithChar("", u'\n', ""), "", -1},
        SplitCase{WithChar("", u'\0', ""), "", -1},
        SplitCase{WithChar("a", u'\r', "") + u'\n', "a|", 1}, SplitCase{Q(";;"), "|", 1},
        SplitCase{Q(" ; "), " | ", 1}, SplitCase{Q("a,b"), "a,b", 0}));

TEST(SplitList, DefaultSeparatorsInOrder) {
    const QString& s = ListSeparators();
    ASSERT_EQ(s.size(), 5);
    EXPECT_EQ(s.at(0), u';');
    EXPECT_EQ(s.at(1), QChar(u'\0'));
    EXPECT_EQ(s.at(2), u'\t');
    EXPECT_EQ(s.at(3), u'\n');
    EXPECT_EQ(s.at(4), u'\r');
}

TEST(SplitList, GivenSeparatorsReplaceTheDefaultOnes) {
    QStringList pieces;
    EXPECT_EQ(SplitList(Q("a;b,c"), pieces, Q(",")), 1);
    EXPECT_EQ(ToStd(pieces), SplitBars("a;b|c"));
    EXPECT_EQ(SplitList(WithChar("a", u'\t', "b;c"), pieces, Q(";")), 1);
    EXPECT_EQ(pieces.at(0), WithChar("a", u'\t', "b"));
    EXPECT_EQ(SplitList(Q(","), pieces, Q(",")), -1);
}

// --- Filter evaluation ----------------------------------------------------

struct EvalCase {
    const char* filter;
    bool exclusionMode;
    const char* searchPatterns;
    const char* suffixes;  // "|" between suffixes; "" for none
    int suffixCount;       // tells an empty list from one empty suffix
};

void PrintTo(const EvalCase& c, std::ostream* os) {
    *os << '"' << c.filter << '"';
}

class FilterEvaluationTable : public ::testing::TestWithParam<EvalCase> {};

TEST_P(FilterEvaluationTable, ModePatternsAndSuffixes) {
    const EvalCase& c = GetParam();
    const FilterEvaluation e = EvaluateFilter(Q(c.filter));
    EXPECT_EQ(e.ExclusionMode, c.exclusionMode);
    EXPECT_EQ(e.SearchPatterns.toStdString(), c.searchPatterns);
    ASSERT_EQ(e.ExclusionSuffixes.size(), c.suffixCount);
    EXPECT_EQ(ToStd(e.ExclusionSuffixes), SplitBars(c.suffixes, c.suffixCount));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FilterEvaluationTable,
    ::testing::Values(EvalCase{"*.*", false, "*.*", "", 0},
                      EvalCase{"*.jpg;*.exe", false, "*.jpg;*.exe", "", 0},
                      EvalCase{"-*.bmp;-*.exe", true, "*.bmp;*.exe", ".bmp|.exe", 2},
                      EvalCase{"*.*;-*.bmp", true, "*.*;*.bmp", ".bmp", 1},
                      EvalCase{"*.jpg; -*.bmp", true, "*.jpg; *.bmp", "", 0},
                      EvalCase{"my-file*.txt", true, "myfile*.txt", "", 0},
                      EvalCase{"-*.*", false, "-*.*", "", 0},
                      EvalCase{"-*.*;-*.bmp", false, "-*.*;-*.bmp", "", 0},
                      EvalCase{"*.jpg;-x", true, "*.jpg;x", "", 1},
                      EvalCase{"-.bmp", true, ".bmp", "bmp", 1},
                      EvalCase{"*.jpg;-", true, "*.jpg;", "", 1},
                      EvalCase{"-*.BMP;-*.a-b", true, "*.BMP;*.ab", ".BMP|.a-b", 2},
                      // "-*.*" anywhere, also inside a longer piece, turns the mode off.
                      EvalCase{"-*.X;-*.*x", false, "-*.X;-*.*x", "", 0},
                      EvalCase{"-*.X;-*,*", true, "*.X;*,*", ".X|,*", 2}));

// --- Pattern use ----------------------------------------------------------

struct UseCase {
    const char* searchPatterns;
    const char* patterns;  // "|" between them; "" for none
    int count;
};

void PrintTo(const UseCase& c, std::ostream* os) {
    *os << '"' << c.searchPatterns << '"';
}

class PatternUseTable : public ::testing::TestWithParam<UseCase> {};

TEST_P(PatternUseTable, RepeatedKeysArePassedOver) {
    const QStringList patterns = PatternsToSearch(Q(GetParam().searchPatterns));
    ASSERT_EQ(patterns.size(), GetParam().count);
    EXPECT_EQ(ToStd(patterns), SplitBars(GetParam().patterns, GetParam().count));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PatternUseTable,
    ::testing::Values(UseCase{"*.jpg;*.exe", "*.jpg|*.exe", 2}, UseCase{"*.JPG;*.jpg", "*.JPG", 1},
                      UseCase{"*.*;*.txt", "*.*|*.txt", 2},
                      UseCase{"*.jpg; *.bmp", "*.jpg|*.bmp", 2},
                      UseCase{"  *.jpg  ;*.jpg", "*.jpg", 1},
                      UseCase{"*.jpg;;*.gif", "*.jpg|*.gif", 2}, UseCase{";*.jpg", "|*.jpg", 2},
                      UseCase{";", "", 0}, UseCase{"", "", 0}, UseCase{"x*.jpg;*.jpg", "x*.jpg", 1},
                      UseCase{"*.jpg;jpg", "*.jpg", 1}, UseCase{"*.jpg;x*.jpg", "*.jpg|x*.jpg", 2},
                      UseCase{"a;A;b;B", "a|b", 2},
                      // Only blanks are trimmed; TAB splits before trimming.
                      UseCase{" a\t b ", "a|b", 2},
                      // Upper case beyond ASCII: é and É share a key.
                      UseCase{"\xC3\xA9*;\xC3\x89*", "\xC3\xA9*", 1},
                      // Keys fold as the matcher does: dotless i and i, sharp s
                      // and SS match different names, so both are searched.
                      UseCase{"\xC4\xB1*;i*", "\xC4\xB1*|i*", 2},
                      UseCase{"stra\u00DFe*;STRASSE*", "stra\u00DFe*|STRASSE*", 2}));

// --- Exclusion test -------------------------------------------------------

struct ExcludeCase {
    const char* path;
    const char* suffixes;  // "|" between them
    int suffixCount;
    bool excluded;
};

void PrintTo(const ExcludeCase& c, std::ostream* os) {
    *os << '"' << c.path << '"';
}

class ExclusionTable : public ::testing::TestWithParam<ExcludeCase> {};

TEST_P(ExclusionTable, LowerCasedSuffixTest) {
    QStringList suffixes;
    for (const std::string& s : SplitBars(GetParam().suffixes, GetParam().suffixCount))
        suffixes.append(QString::fromStdString(s));
    ASSERT_EQ(suffixes.size(), GetParam().suffixCount);
    EXPECT_EQ(IsExcluded(Q(GetParam().path), suffixes), GetParam().excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExclusionTable,
    ::testing::Values(ExcludeCase{"/d/x.bmp", ".bmp", 1, true},
                      ExcludeCase{"/d/X.BMP", ".bmp", 1, true},
                      ExcludeCase{"/d/x.bmp", ".BMP", 1, true},
                      ExcludeCase{"/d/x.bmp.txt", ".bmp", 1, false},
                      ExcludeCase{"/d/x.exe", ".bmp|.exe", 2, true},
                      ExcludeCase{"/d/x.txt", ".bmp|.exe", 2, false},
                      ExcludeCase{"/d/x.txt", "", 1, true},  // the empty suffix
                      ExcludeCase{"/d/x.txt", "", 0, false}, ExcludeCase{"/d/xbmp", "bmp", 1, true},
                      ExcludeCase{"/D/\xC3\x84RGER.TXT", "\xC3\xA4rger.txt", 1, true}));

// --- Filters on a real folder ---------------------------------------------

// The folder every filter example runs on, in byte order of the names.
const char* const kFiles[] = {"-dash.txt", "a.jpg",        "b.exe",       "c.bmp", "d.txt",
                              "e.gif",     "my-file1.txt", "myfile2.txt", "noext", "x1.jpg"};

struct FilterCase {
    const char* filter;
    const char* listed;       // names in listing order, "|" between them
    const char* transferred;  // the listed names that are not excluded
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << '"' << c.filter << '"';
}

class FilterOnFolder : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterOnFolder, ListedAndExcluded) {
    TempTree t;
    for (const char* name : kFiles) t.write(Q(name), "x");
    t.mkdir(Q("sub.jpg"));  // a folder is never listed with attribute set 3
    FakeHost host;
    const FilterEvaluation e = EvaluateFilter(Q(GetParam().filter));
    SearchResult r;
    ListFiles({EncodePath(t.root())}, e.SearchPatterns, 3, r, host);
    QStringList listed, transferred;
    for (const QByteArray& path : r.Paths) {
        ASSERT_TRUE(path.startsWith(EncodePath(t.root()) + '/'));
        const QString name = DecodePath(GetFileName(path));
        listed.append(name);
        const QString destination = Q("/backup/") + name;
        if (!(e.ExclusionMode && IsExcluded(destination, e.ExclusionSuffixes)))
            transferred.append(name);
    }
    EXPECT_EQ(ToStd(listed), SplitBars(GetParam().listed));
    EXPECT_EQ(ToStd(transferred), SplitBars(GetParam().transferred));
    EXPECT_EQ(r.Count, r.Paths.size());
}

#define ALL "-dash.txt|a.jpg|b.exe|c.bmp|d.txt|e.gif|my-file1.txt|myfile2.txt|noext|x1.jpg"

INSTANTIATE_TEST_SUITE_P(
    Examples, FilterOnFolder,
    ::testing::Values(
        FilterCase{"*.jpg;*.exe", "a.jpg|x1.jpg|b.exe", "a.jpg|x1.jpg|b.exe"},
        FilterCase{"*.JPG;*.jpg", "a.jpg|x1.jpg", "a.jpg|x1.jpg"},
        FilterCase{"*.*;*.txt", ALL "|-dash.txt|d.txt|my-file1.txt|myfile2.txt",
                   ALL "|-dash.txt|d.txt|my-file1.txt|myfile2.txt"},
        FilterCase{"-*.bmp;-*.exe", "c.bmp|b.exe", ""},
        FilterCase{"*.*;-*.bmp", ALL "|c.bmp",
                   "-dash.txt|a.jpg|b.exe|d.txt|e.gif|my-file1.txt|myfile2.txt|noext|x1.jpg"},
        FilterCase{"*.jpg; -*.bmp", "a.jpg|x1.jpg|c.bmp", "a.jpg|x1.jpg|c.bmp"},
        FilterCase{"my-file*.txt", "myfile2.txt", "myfile2.txt"},
        FilterCase{"-*.*", "-dash.txt", "-dash.txt"}, FilterCase{"*.jpg;-x", "a.jpg|x1.jpg", ""},
        FilterCase{"*.jpg;;*.gif", "a.jpg|x1.jpg|e.gif", "a.jpg|x1.jpg|e.gif"},
        FilterCase{";*.jpg", ALL "|a.jpg|x1.jpg", ALL "|a.jpg|x1.jpg"}, FilterCase{";", "", ""},
        FilterCase{"x*.jpg;*.jpg", "x1.jpg", "x1.jpg"}, FilterCase{"noext", "noext", "noext"},
        FilterCase{"NOEXT", "noext", "noext"}, FilterCase{"?.jpg", "a.jpg", "a.jpg"}));

#undef ALL

// PatternsToSearch looks keys up instead of searching the used record;
// these are the shapes where the two could part.
struct UsedRecordCase {
    const char* name;
    const char* filter;
    std::vector<const char*> patterns;
};

class UsedRecordCases : public ::testing::TestWithParam<UsedRecordCase> {};

TEST_P(UsedRecordCases, PassOverWhatTheRecordHolds) {
    QStringList expected;
    for (const char* p : GetParam().patterns) expected << QString::fromUtf8(p);
    EXPECT_EQ(PatternsToSearch(QString::fromUtf8(GetParam().filter)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, UsedRecordCases,
    ::testing::Values(UsedRecordCase{"TailOfAnEarlierKey", "x*.jpg;*.jpg;jpg;g", {"x*.jpg"}},
                      UsedRecordCase{"LongerAfterShorter", "*.jpg;x*.jpg", {"*.jpg", "x*.jpg"}},
                      UsedRecordCase{"CaseIgnored", "*.JPG;*.jpg;*.Jpg", {"*.JPG"}},
                      UsedRecordCase{"EmptyFirstThenAnyEmptyPassedOver", ";*.gif;;", {"", "*.gif"}},
                      UsedRecordCase{"EmptyAfterAPattern", "a;;b", {"a", "b"}},
                      UsedRecordCase{"BlanksTrimmed", " a ; a;b", {"a", "b"}},
                      UsedRecordCase{"WholeKeyNotAcrossSeparators", "ab;b;a", {"ab", "a"}},
                      UsedRecordCase{"FoldedAsTheMatcherFolds",
                                     "stra\u00DFe;STRASSE;asse",
                                     {"stra\u00DFe", "STRASSE"}},
                      UsedRecordCase{"OtherSeparators", "a\tb\nc\rab", {"a", "b", "c", "ab"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
