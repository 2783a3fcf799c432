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
using K = fs::FileKind;
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
    f.source = {.kind = K::File, .modifiedNs = 10 * kS, .identity = {1, 1}};
    if (c.destinationNs != kNone)
        f.destination = {.kind = K::File, .modifiedNs = c.destinationNs, .identity = {1, 2}};
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

const DecideCase kCases[] = {
    {"OverwriteMissing", kOverwrite, kNone, nullptr, D::Copy},
    {"OverwriteOlder", kOverwrite, 9 * kS, nullptr, D::Overwrite},
    {"OverwriteNewer", kOverwrite, 11 * kS, nullptr, D::Overwrite},
    {"SkipMissing", kSkip, kNone, nullptr, D::Copy},
    {"SkipOlder", kSkip, 9 * kS, nullptr, D::SkipExists},
    {"SkipNewer", kSkip, 11 * kS, nullptr, D::SkipExists},
    {"NewerMissing", kNewer, kNone, nullptr, D::Copy},
    {"NewerOlder", kNewer, 9 * kS, nullptr, D::Overwrite},
    {"NewerNewer", kNewer, 11 * kS, nullptr, D::SkipNotNewer},
    {"NewerSameTime", kNewer, 10 * kS, nullptr, D::SkipNotNewer},
    {"NewerSameStep", kNewer, 8 * kS + kS / 2, FatSteps, D::SkipNotNewer},
    {"NewerStepBefore", kNewer, 7 * kS + 9 * kS / 10, FatSteps, D::Overwrite},
    {"NewerSameStepBefore1970", kNewer, -2 * kS, Before1970, D::SkipNotNewer},
    {"NewerNoStep", kNewer, 9 * kS, [](auto& f) { f.timeResolution = 0; }, D::Overwrite},
    // Not examined, the source fails as a copy rather than vanish as not newer.
    {"NewerUnexamined", kNewer, 9 * kS, [](auto& f) { f.source.kind = K::Unknown; },
     D::FailUnreadable},
    {"MovedExcluded", kSkip, kNone, [](auto& f) { f.alreadyMoved = f.excluded = true; },
     D::PassOver},
    {"ExcludedNoRule", std::nullopt, kNone, [](auto& f) { f.excluded = true; }, D::Excluded},
    {"NoRule", std::nullopt, 9 * kS, nullptr, D::FailNoRule},
    {"NoRuleFolder", std::nullopt, kNone, [](auto& f) { f.source.kind = K::Folder; }, D::PassOver},
    {"Folder", kOverwrite, 9 * kS, [](auto& f) { f.source.kind = K::Folder; }, D::PassOver},
    {"SpelledOtherwise", kSkip, 9 * kS, [](auto& f) { f.destinationSpelledOtherwise = true; },
     D::FailClash},
    {"NotRegular", kOverwrite, kNone, [](auto& f) { f.source.kind = K::Other; }, D::FailNotRegular},
    {"SourceGone", kOverwrite, kNone, [](auto& f) { f.source.kind = K::Missing; },
     D::FailUnreadable},
    {"WillNotOpen", kOverwrite, kNone, [](auto& f) { f.sourceOpenError = 13; }, D::FailUnreadable},
    {"UnreachableSameFile", kOverwrite, 9 * kS,
     [](auto& f) {
         f.destination.identity = f.source.identity;
         f.destinationReachable = false;
     },
     D::FailUnreachable},
    {"SameFile", kOverwrite, 9 * kS, [](auto& f) { f.destination.identity = f.source.identity; },
     D::FailSameFile},
    {"LinkToItself", kNewer, 9 * kS, [](auto& f) { f.sourceLeadsToDestination = true; },
     D::FailSameFile},
    {"FolderInTheWayUnwritable", kOverwrite, 9 * kS,
     [](auto& f) {
         f.destination.kind = K::Folder;
         f.destinationWritable = false;
     },
     D::FailFolderInTheWay},
    {"Unwritable", kOverwrite, kNone, [](auto& f) { f.destinationWritable = false; },
     D::FailUnwritable},
    // A disk that holds no links fails a link, not a file, and skips it as any.
    {"LinkOntoNoLinks", kOverwrite, kNone,
     [](auto& f) {
         f.source.kind = K::Link;
         f.destinationLinkError = 38;
     },
     D::FailUnwritable},
    {"FileOntoNoLinks", kOverwrite, 9 * kS, [](auto& f) { f.destinationLinkError = 38; },
     D::Overwrite},
    {"SkippedLinkOntoNoLinks", kSkip, 9 * kS,
     [](auto& f) {
         f.source.kind = K::Link;
         f.destinationLinkError = 38;
     },
     D::SkipExists},
    {"MoveOntoItsMove", kOverwrite, 9 * kS,
     [](auto& f) { f.move = f.destinationPlacedByMove = true; }, D::FailClash},
    {"CopyOntoAMove", kOverwrite, 9 * kS, [](auto& f) { f.destinationPlacedByMove = true; },
     D::Overwrite},
};

INSTANTIATE_TEST_SUITE_P(Table, DecideFileTest, ::testing::ValuesIn(kCases),
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
