// DecideFile alone: the facts of one listed file in, its decision out, for
// every rule and every state of the destination and the source.

#include <gtest/gtest.h>

#include <QSet>
#include <limits>
#include <optional>
#include <ostream>

#include "run/FileDecision.h"

using namespace zandrel;

namespace {

using D = FileDecision;
constexpr qint64 kS = 1'000'000'000;  // a second in nanoseconds
constexpr qint64 kNone = std::numeric_limits<qint64>::min();
constexpr auto kOverwrite = ExistingFileRule::Overwrite;
constexpr auto kSkip = ExistingFileRule::SkipFile;
constexpr auto kNewer = ExistingFileRule::CopyOnlyIfNewer;

struct DecideCase {
    const char* name;
    std::optional<ExistingFileRule> rule;
    qint64 destinationNs;        // a file's time there, the source's being 10 s; kNone: nothing
    void (*change)(FileFacts&);  // the other facts, from a readable file and a writable folder
    D expected;

    friend void PrintTo(const DecideCase& c, std::ostream* os) { *os << c.name; }
};

class DecideFileTest : public ::testing::TestWithParam<DecideCase> {};

TEST_P(DecideFileTest, DecidesAsTheRuleAndTheFactsSay) {
    const DecideCase& c = GetParam();
    FileFacts f;
    f.source = {.kind = fs::FileKind::File, .modifiedNs = 10 * kS, .identity = {1, 1}};
    if (c.destinationNs != kNone)
        f.destination = {
            .kind = fs::FileKind::File, .modifiedNs = c.destinationNs, .identity = {1, 2}};
    if (c.change)
        c.change(f);
    const D got = DecideFile(f, c.rule);
    EXPECT_EQ(got, c.expected) << DecisionToken(got).data();
}

// Steps of 4 s, as FAT's 2 s but wider: 8.5 s and 10 s share one, 7.9 s is a step before.
void FatSteps(FileFacts& f) {
    f.timeResolution = 4 * kS;
}
// Before 1970 the steps count down, not towards zero: -0.5 s and -2 s share one.
void Before1970(FileFacts& f) {
    f.source.modifiedNs = -kS / 2;
    f.timeResolution = 2 * kS;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecideFileTest,
    ::
        testing::Values(DecideCase{"OverwriteMissing", kOverwrite, kNone, nullptr, D::Copy},
                        DecideCase{"OverwriteOlder", kOverwrite, 9 * kS, nullptr, D::Overwrite},
                        DecideCase{"OverwriteNewer", kOverwrite, 11 * kS, nullptr, D::Overwrite},
                        DecideCase{"SkipMissing", kSkip, kNone, nullptr, D::Copy},
                        DecideCase{"SkipOlder", kSkip, 9 * kS, nullptr, D::SkipExists},
                        DecideCase{"SkipNewer", kSkip, 11 * kS, nullptr, D::SkipExists},
                        DecideCase{"NewerMissing", kNewer, kNone, nullptr, D::Copy},
                        DecideCase{"NewerOlder", kNewer, 9 * kS, nullptr, D::Overwrite},
                        DecideCase{"NewerNewer", kNewer, 11 * kS, nullptr, D::SkipNotNewer},
                        DecideCase{"NewerSameTime", kNewer, 10 * kS, nullptr, D::SkipNotNewer},
                        DecideCase{"NewerSameStep", kNewer, 8 * kS + kS / 2, FatSteps,
                                   D::SkipNotNewer},
                        DecideCase{"NewerStepBefore", kNewer, 7 * kS + 9 * kS / 10, FatSteps,
                                   D::Overwrite},
                        DecideCase{"NewerSameStepBefore1970", kNewer, -2 * kS, Before1970,
                                   D::SkipNotNewer},
                        DecideCase{"NewerNoStep", kNewer, 9 * kS,
                                   [](FileFacts& f) { f.timeResolution = 0; }, D::Overwrite},
                        // Not examined, the source fails as a copy rather than vanish as not newer.
                        DecideCase{"NewerUnexaminedSource", kNewer, 9 * kS,
                                   [](FileFacts& f) { f.source.kind = fs::FileKind::Unknown; },
                                   D::FailUnreadable},
                        DecideCase{"AlreadyMovedExcluded", kOverwrite, kNone,
                                   [](FileFacts& f) { f.alreadyMoved = f.excluded = true; },
                                   D::PassOver},
                        DecideCase{"ExcludedWithoutRule", std::nullopt, kNone,
                                   [](FileFacts& f) { f.excluded = true; }, D::Excluded},
                        DecideCase{"NoRule", std::nullopt, 9 * kS, nullptr, D::FailNoRule},
                        DecideCase{"NoRuleFolder", std::nullopt, kNone,
                                   [](FileFacts& f) { f.source.kind = fs::FileKind::Folder; },
                                   D::PassOver},
                        DecideCase{"Folder", kOverwrite, 9 * kS,
                                   [](FileFacts& f) { f.source.kind = fs::FileKind::Folder; },
                                   D::PassOver},
                        DecideCase{"SpelledOtherwiseBeforeSkip", kSkip, 9 * kS,
                                   [](FileFacts& f) { f.destinationSpelledOtherwise = true; },
                                   D::FailClash},
                        DecideCase{"NotRegular", kOverwrite, kNone,
                                   [](FileFacts& f) { f.source.kind = fs::FileKind::Other; },
                                   D::FailNotRegular},
                        DecideCase{
                            "SourceGone", kOverwrite, kNone,
                            [](FileFacts& f) { f.source.kind = fs::FileKind::Missing; },
                            D::FailUnreadable},
                        DecideCase{"SourceWillNotOpen",
                                   kOverwrite, kNone, [](FileFacts& f) { f.sourceOpenError = 13; },
                                   D::FailUnreadable},
                        DecideCase{"UnreachableBeforeSameFile", kOverwrite, 9 * kS,
                                   [](FileFacts& f) {
                                       f.destination.identity = f.source.identity;
                                       f.destinationReachable = false;
                                   },
                                   D::FailUnreachable},
                        DecideCase{"SameFile", kOverwrite, 9 * kS,
                                   [](FileFacts& f) { f.destination.identity = f.source.identity; },
                                   D::FailSameFile},
                        DecideCase{"LinkToTheDestination", kNewer, 9 * kS,
                                   [](FileFacts& f) { f.sourceLeadsToDestination = true; },
                                   D::FailSameFile},
                        DecideCase{"FolderInTheWayBeforeUnwritable", kOverwrite, 9 * kS,
                                   [](FileFacts& f) {
                                       f.destination.kind = fs::FileKind::Folder;
                                       f.destinationWritable = false;
                                   },
                                   D::FailFolderInTheWay},
                        DecideCase{"Unwritable", kOverwrite, kNone,
                                   [](FileFacts& f) { f.destinationWritable = false; },
                                   D::FailUnwritable},
                        DecideCase{"MoveOntoItsOwnMove", kOverwrite, 9 * kS,
                                   [](FileFacts& f) { f.move = f.destinationPlacedByMove = true; },
                                   D::FailClash},
                        DecideCase{"CopyOntoAMove", kOverwrite, 9 * kS,
                                   [](FileFacts& f) { f.destinationPlacedByMove = true; },
                                   D::Overwrite}),
    [](const auto& p) { return std::string(p.param.name); });

// Two decisions sharing a word would be counted as one, and a failure
// without a reason would leave an error entry that says nothing.
TEST(FileDecisionTable, WordsAreDistinctAndEveryFailureHasAReason) {
    QSet<QLatin1StringView> tokens;
    for (const FileDecisionRow& row : kFileDecisions) {
        EXPECT_FALSE(tokens.contains(row.token)) << row.token.data();
        tokens.insert(row.token);
        EXPECT_EQ(IsFailure(row.decision), !DecisionReason(row.decision).isEmpty())
            << row.token.data();
    }
}

}  // namespace
