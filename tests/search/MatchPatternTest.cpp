#include <gtest/gtest.h>

#include <cstring>

#include "search/Filter.h"
#include "search/PatternMatcher.h"

using namespace zandrel;

namespace {

struct MatchCase {
    const char* pattern;  // UTF-8
    const char* name;     // UTF-8
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << '"' << c.pattern << "\" vs \"" << c.name << '"';
}

class MatchPatternTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchPatternTable, AsText) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(MatchPattern(QString::fromUtf8(c.pattern), QString::fromUtf8(c.name)), c.matches);
}

// The walk matches the bytes of a name; the answer must be the same.
TEST_P(MatchPatternTable, AsNameBytes) {
    const MatchCase& c = GetParam();
    const PatternMatcher matcher(QString::fromUtf8(c.pattern));
    EXPECT_EQ(matcher.matches(c.name, std::strlen(c.name)), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MatchPatternTable,
    ::testing::Values(
        // "*" any run, also none; "?" exactly one character.
        MatchCase{"*", "anything.txt", true}, MatchCase{"a*", "a", true},
        MatchCase{"a*c", "abbbc", true}, MatchCase{"a*c", "abbbcd", false},
        MatchCase{"a*b*c", "aXbYc", true}, MatchCase{"a*b*c", "acb", false},
        MatchCase{"?.txt", "a.txt", true}, MatchCase{"?.txt", "ab.txt", false},
        MatchCase{"?.txt", ".txt", false}, MatchCase{"a?", "a", false},
        MatchCase{"*.jpg", "x.jpg.exe", false}, MatchCase{"*.jpg", "x.exe.jpg", true},
        MatchCase{"*.txt", "a.txt.bak", false},
        // Case is ignored.
        MatchCase{"*.TXT", "a.txt", true}, MatchCase{"*.txt", "A.TXT", true},
        MatchCase{"ReAdMe", "README", true},
        // "*.*" matches every name, with or without a dot, and "." and "..".
        MatchCase{"*.*", "noext", true}, MatchCase{"*.*", "a.b.c", true},
        MatchCase{"*.*", ".", true}, MatchCase{"*.*", "..", true},
        MatchCase{"*.*", ".hidden", true},
        // A trailing ".*" may also match nothing.
        MatchCase{"report.*", "report", true}, MatchCase{"report.*", "report.txt", true},
        MatchCase{"report.*", "reports", false},
        // Without wildcards: exactly that name.
        MatchCase{"report", "report", true}, MatchCase{"report", "report1", false},
        MatchCase{"report", "report.txt", false}, MatchCase{"report", "my report", false},
        MatchCase{"[ab]", "[ab]", true}, MatchCase{"[ab]", "a", false},
        MatchCase{"-*.*", "-x.txt", true}, MatchCase{"-*.*", "x-.txt", false},
        // The empty pattern matches every entry.
        MatchCase{"", "anything", true}, MatchCase{"", ".", true},
        // A name never holds "/", so such a pattern never matches.
        MatchCase{"sub/*.txt", "a.txt", false},
        // Letters beyond ASCII are compared case-folded.
        MatchCase{"\xC3\x84RGER.TXT", "\xC3\xA4rger.txt", true},                       // Ä ä
        MatchCase{"\xC3\xA4*", "\xC3\x84rger", true},                                  // ä Ä
        MatchCase{"\xD0\x96\xD0\xA3\xD0\xA0*", "\xD0\xB6\xD1\x83\xD1\x80.doc", true},  // ЖУР журн
        MatchCase{"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x9F\xCE\xA3",
                  "\xCF\x83\xCE\xBF\xCF\x86\xCE\xBF\xCF\x82", true},  // ΣΟΦΟΣ σοφος (final sigma)
        MatchCase{"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},  // été ÉTÉ
        MatchCase{"\xC3\xA9t\xC3\xA9", "ete", false},               // no accent folding
        MatchCase{"K", "\xE2\x84\xAA", true},                       // Kelvin sign folds to k
        // "?" is one character, also outside the BMP or beyond ASCII.
        MatchCase{"?.txt", "\xC3\xA9.txt", true}, MatchCase{"?.txt", "\xF0\x9F\x98\x80.txt", true},
        MatchCase{"??.txt", "\xF0\x9F\x98\x80.txt", false}));

TEST(MatchPattern, InvalidUtf8NamesMatchThroughReplacementCharacters) {
    const char name[] = "\xff\xfe.TXT";
    const std::size_t size = sizeof name - 1;
    EXPECT_TRUE(PatternMatcher(QStringLiteral("*.txt")).matches(name, size));
    EXPECT_TRUE(PatternMatcher(QStringLiteral("*.*")).matches(name, size));
    EXPECT_FALSE(PatternMatcher(QStringLiteral("*.jpg")).matches(name, size));
    EXPECT_FALSE(PatternMatcher(QStringLiteral("ab.txt")).matches(name, size));
}

// Patterns taken as "every name" must really take every name, bytes that
// are not UTF-8 included, and the near misses must not be taken for them.
TEST(MatchPattern, EverythingPatternsTakeEveryNameAndNearMissesDoNot) {
    const char* const names[] = {"x", "a.b", ".hidden", "\xff\xfe"};
    for (const char* p : {"", "*", "**", "*.*", "**.*"})
        for (const char* name : names)
            EXPECT_TRUE(PatternMatcher(QString::fromUtf8(p)).matches(name, std::strlen(name)))
                << p << " ~ " << name;
    for (const char* p : {".*", "*.", "*.txt", "?", "a*"})
        EXPECT_FALSE(PatternMatcher(QString::fromUtf8(p)).matches("xy", 2)) << p;
}

// Patterns that make naive backtracking take exponential time: a
// recursive matcher would not finish these within the test's lifetime.
TEST(MatchPattern, PathologicalPatternsFinish) {
    const QString many = QString(20000, u'a');
    QString pattern;
    for (int i = 0; i < 40; ++i) pattern += QStringLiteral("*a");
    EXPECT_FALSE(MatchPattern(pattern + u'b', many));
    EXPECT_TRUE(MatchPattern(pattern, many));
    EXPECT_TRUE(MatchPattern(pattern + u'*', many + u'b'));
    const QByteArray bytes = many.toUtf8();
    EXPECT_FALSE(
        PatternMatcher(pattern + QStringLiteral("?b")).matches(bytes.constData(), bytes.size()));
}

}  // namespace
