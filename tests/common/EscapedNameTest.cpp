// Names written as text: every control byte escaped, nothing else changed,
// and the text turns back into exactly the bytes it came from.

#include <gtest/gtest.h>

#include "common/Paths.h"

using namespace zandrel;

namespace {

// What a script reading the logs would do to get the name back.
QByteArray Unescaped(const QByteArray& text) {
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '\\') {
            bytes += text.at(i);
            continue;
        }
        const char c = text.at(++i);
        if (c == 'x') {
            bytes += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            bytes += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
    }
    return bytes;
}

struct EscapeCase {
    QByteArray name;
    QByteArray text;
};

class EscapedNameTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapedNameTest, EscapesControlBytesOnlyAndCanBeUndone) {
    const EscapeCase c = GetParam();
    EXPECT_EQ(EscapedName(c.name), c.text);
    EXPECT_EQ(Unescaped(EscapedName(c.name)), c.name);
    EXPECT_FALSE(EscapedName(c.name).contains('\n'));
    EXPECT_FALSE(EscapedName(c.name).contains('\r'));
    EXPECT_FALSE(EscapedName(c.name).contains('\t'));
}

INSTANTIATE_TEST_SUITE_P(
    Names, EscapedNameTest,
    ::testing::Values(EscapeCase{"/data/plain name.txt", "/data/plain name.txt"},
                      EscapeCase{"a\tb\nc\rd", "a\\tb\\nc\\rd"},
                      EscapeCase{"back\\slash\\t", "back\\\\slash\\\\t"},
                      EscapeCase{QByteArray("n\0l\x1b\x7f\x1f", 6), "n\\x00l\\x1b\\x7f\\x1f"},
                      EscapeCase{"caf\xc3\xa9 d\xe9j\xe0", "caf\xc3\xa9 d\xe9j\xe0"},
                      EscapeCase{"x\n12/02/2026 10:00:00-->0 errors",
                                 "x\\n12/02/2026 10:00:00-->0 errors"}));

}  // namespace
