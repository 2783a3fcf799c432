#include <gtest/gtest.h>

#include <QSet>

#include "common/Paths.h"
#include "listing/CommandLine.h"

using namespace zandrel;
using Kind = CommandLineRequest::Kind;

namespace {

struct CommandLineCase {
    const char* name;
    const char* text;
    Kind kind;
    const char* path;
    bool pause;
    bool verify = false;
};

class CommandLines : public ::testing::TestWithParam<CommandLineCase> {};

// Existing files: /lists/daily.bak, "/my lists/daily.bak", /lists/daily.txt;
// daily.bak also lies in the program's folder /opt/zandrel.
TEST_P(CommandLines, ParseAsTheStartUpDoes) {
    const QSet<QString> existing = {
        QStringLiteral("/lists/daily.bak"), QStringLiteral("/my lists/daily.bak"),
        QStringLiteral("/lists/daily.txt"), QStringLiteral("/opt/zandrel/daily.bak")};
    const auto exists = [&](const QString& p) { return existing.contains(p); };
    const CommandLineRequest r = ParseCommandLine(QString::fromUtf8(GetParam().text),
                                                  QStringLiteral("/opt/zandrel"), exists);
    EXPECT_EQ(r.kind, GetParam().kind);
    EXPECT_EQ(r.path.toStdString(), GetParam().path);
    EXPECT_EQ(r.pauseBeforeExit, GetParam().pause);
    EXPECT_EQ(r.verify, GetParam().verify);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, CommandLines,
    ::testing::Values(
        CommandLineCase{"empty", "", Kind::Empty, "", false},
        CommandLineCase{"plain", "/lists/daily.bak", Kind::Load, "/lists/daily.bak", false},
        CommandLineCase{"quoted", "\"/my lists/daily.bak\"", Kind::Load, "/my lists/daily.bak",
                        false},
        CommandLineCase{"blanks_with_switch", "/my lists/daily.bak -r", Kind::Run,
                        "/my lists/daily.bak", false},
        CommandLineCase{"switch_inside_quotes", "\"/lists/daily.bak -r\"", Kind::Run,
                        "/lists/daily.bak", false},
        CommandLineCase{"switch_after_quotes", "\"/lists/daily.bak\" -r", Kind::Run,
                        "/opt/zandrel/lists/daily.bak\"", false},
        CommandLineCase{"program_folder", "daily.bak -r", Kind::Run, "/opt/zandrel/daily.bak",
                        false},
        CommandLineCase{"program_folder_rooted", "/daily.bak -r", Kind::Run,
                        "/opt/zandrel/daily.bak", false},
        CommandLineCase{"pause", "/lists/daily.bak -rp", Kind::Run, "/lists/daily.bak", true},
        CommandLineCase{"upper_case_extension", "/lists/DAILY.BAK", Kind::Empty, "", false},
        CommandLineCase{"upper_case_switch", "/lists/daily.bak -R", Kind::Empty, "", false},
        CommandLineCase{"any_name_with_switch", "/lists/daily.txt -r", Kind::Run,
                        "/lists/daily.txt", false},
        CommandLineCase{"relative_load_is_not_completed", "daily.bak", Kind::Load, "daily.bak",
                        false},
        CommandLineCase{"switch_without_blank", "/lists/daily.bak-r", Kind::Empty, "", false},
        CommandLineCase{"lone_quote", "\"", Kind::Empty, "", false},
        CommandLineCase{"verify", "/lists/daily.bak -r --verify", Kind::Run, "/lists/daily.bak",
                        false, true},
        CommandLineCase{"verify_first", "--verify /my lists/daily.bak -rp", Kind::Run,
                        "/my lists/daily.bak", true, true},
        CommandLineCase{"verify_with_pause", "daily.bak -rp --verify", Kind::Run,
                        "/opt/zandrel/daily.bak", true, true},
        CommandLineCase{"verify_in_a_name", "/lists/x--verify -r", Kind::Run,
                        "/opt/zandrel/lists/x--verify", false, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CommandLineJoin, ArgumentsAreJoinedWithSingleBlanksAndKeepTheirBytes) {
    const char* argv[] = {"zandrel", "/my lists/d\xe9.bak", "-r"};
    const QString text = CommandLineText(3, argv);
    EXPECT_EQ(EncodePath(text), QByteArray("/my lists/d\xe9.bak -r"));
    EXPECT_EQ(CommandLineText(1, argv), QString());
}

}  // namespace
