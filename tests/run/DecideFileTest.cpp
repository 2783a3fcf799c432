// DecideFile alone: the facts of one listed file in, its decision out, for
// every rule and every state of the destination and the source.

#include <gtest/gtest.h>

#include <QSet>
#include <optional>
#include <ostream>

#include "run/FileDecision.h"

using namespace zandrel;

namespace {

constexpr qint64 kSecond = 1'000'000'000;
constexpr auto kOverwrite = ExistingFileRule::Overwrite;
constexpr auto kSkip = ExistingFileRule::SkipFile;
constexpr auto kNewer = ExistingFileRule::CopyOnlyIfNewer;

fs::FileInfo FileAt(qint64 modifiedNs, quint64 inode = 2) {
    fs::FileInfo info;
    info.kind = fs::FileKind::File;
    info.modifiedNs = modifiedNs;
    info.identity = {1, inode};
    return info;
}

struct DecideCase {
    const char* name;
    std::optional<ExistingFileRule> rule;
    void (*change)(FileFacts&);  // from a plain source file at 10 s with nothing at the destination
    FileDecision expected;

    friend void PrintTo(const DecideCase& c, std::ostream* os) { *os << c.name; }
};

class DecideFileTest : public ::testing::TestWithParam<DecideCase> {};

TEST_P(DecideFileTest, DecidesAsTheRuleAndTheFactsSay) {
    const DecideCase& c = GetParam();
    FileFacts f;
    f.source = FileAt(10 * kSecond, 1);
    c.change(f);
    const FileDecision got = DecideFile(f, c.rule);
    EXPECT_EQ(got, c.expected) << DecisionToken(got).data();
}

// Destinations as each rule meets them; "Fat" ones are compared in the
// two-second steps of the destination's file system.
void Missing(FileFacts&) {}
void Older(FileFacts& f) {
    f.destination = FileAt(9 * kSecond);
}
void NewerDest(FileFacts& f) {
    f.destination = FileAt(11 * kSecond);
}
void SameTime(FileFacts& f) {
    f.destination = FileAt(10 * kSecond);
}
void FatSameStep(FileFacts& f) {
    f.source.modifiedNs = 11 * kSecond + 500;
    f.destination = FileAt(10 * kSecond);
    f.timeResolution = 2 * kSecond;
}
void FatNextStep(FileFacts& f) {
    f.destination = FileAt(9 * kSecond + 900);
    f.timeResolution = 2 * kSecond;
}
// Before 1970 the steps are counted down, not towards zero.
void FatSameStepBefore1970(FileFacts& f) {
    f.source.modifiedNs = -kSecond / 2;
    f.destination = FileAt(-2 * kSecond);
    f.timeResolution = 2 * kSecond;
}
void NoResolution(FileFacts& f) {
    Older(f);
    f.timeResolution = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecideFileTest,
    ::testing::Values(
        DecideCase{"OverwriteMissing", kOverwrite, Missing, FileDecision::Copy},
        DecideCase{"OverwriteOlder", kOverwrite, Older, FileDecision::Overwrite},
        DecideCase{"OverwriteNewer", kOverwrite, NewerDest, FileDecision::Overwrite},
        DecideCase{"OverwriteSameTime", kOverwrite, SameTime, FileDecision::Overwrite},
        DecideCase{"SkipMissing", kSkip, Missing, FileDecision::Copy},
        DecideCase{"SkipOlder", kSkip, Older, FileDecision::SkipExists},
        DecideCase{"SkipNewer", kSkip, NewerDest, FileDecision::SkipExists},
        DecideCase{"SkipSameTime", kSkip, SameTime, FileDecision::SkipExists},
        DecideCase{"NewerMissing", kNewer, Missing, FileDecision::Copy},
        DecideCase{"NewerOlder", kNewer, Older, FileDecision::Overwrite},
        DecideCase{"NewerNewer", kNewer, NewerDest, FileDecision::SkipNotNewer},
        DecideCase{"NewerSameTime", kNewer, SameTime, FileDecision::SkipNotNewer},
        DecideCase{"NewerFatSameStep", kNewer, FatSameStep, FileDecision::SkipNotNewer},
        DecideCase{"NewerFatNextStep", kNewer, FatNextStep, FileDecision::Overwrite},
        DecideCase{"NewerFatBefore1970", kNewer, FatSameStepBefore1970, FileDecision::SkipNotNewer},
        DecideCase{"NewerNoResolution", kNewer, NoResolution, FileDecision::Overwrite},
        // A source that cannot be examined fails rather than passing as not newer.
        DecideCase{"NewerUnexaminedSource", kNewer,
                   [](FileFacts& f) {
                       Older(f);
                       f.source.kind = fs::FileKind::Unknown;
                   },
                   FileDecision::FailUnreadable},
        DecideCase{"AlreadyMovedOutranksExcluded", kOverwrite,
                   [](FileFacts& f) { f.alreadyMoved = f.excluded = true; },
                   FileDecision::PassOver},
        DecideCase{"ExcludedWithoutRule", std::nullopt, [](FileFacts& f) { f.excluded = true; },
                   FileDecision::Excluded},
        DecideCase{"NoRule", std::nullopt, Older, FileDecision::FailNoRule},
        DecideCase{"NoRuleFolder", std::nullopt,
                   [](FileFacts& f) { f.source.kind = fs::FileKind::Folder; },
                   FileDecision::PassOver},
        DecideCase{"FolderSource", kOverwrite,
                   [](FileFacts& f) { f.source.kind = fs::FileKind::Folder; },
                   FileDecision::PassOver},
        DecideCase{"SpelledOtherwiseOutranksSkip", kSkip,
                   [](FileFacts& f) {
                       Older(f);
                       f.destinationSpelledOtherwise = true;
                   },
                   FileDecision::FailClash},
        DecideCase{"NotRegular", kOverwrite,
                   [](FileFacts& f) {
                       f.source.kind = fs::FileKind::Other;
                       f.destinationReachable = false;
                   },
                   FileDecision::FailNotRegular},
        DecideCase{"SourceMissing", kOverwrite,
                   [](FileFacts& f) { f.source.kind = fs::FileKind::Missing; },
                   FileDecision::FailUnreadable},
        DecideCase{"SourceWillNotOpen", kOverwrite,
                   [](FileFacts& f) {
                       f.sourceOpenError = 13;
                       f.destinationReachable = false;
                   },
                   FileDecision::FailUnreadable},
        DecideCase{"Unreachable", kOverwrite,
                   [](FileFacts& f) {
                       Older(f);
                       f.destination.identity = f.source.identity;
                       f.destinationReachable = false;
                   },
                   FileDecision::FailUnreachable},
        DecideCase{"SameFile", kOverwrite, [](FileFacts& f) { f.destination = f.source; },
                   FileDecision::FailSameFile},
        DecideCase{"LinkToTheDestination", kNewer,
                   [](FileFacts& f) {
                       Older(f);
                       f.sourceLeadsToDestination = true;
                   },
                   FileDecision::FailSameFile},
        DecideCase{"FolderInTheWay", kOverwrite,
                   [](FileFacts& f) {
                       f.destination.kind = fs::FileKind::Folder;
                       f.destinationWritable = false;
                   },
                   FileDecision::FailFolderInTheWay},
        DecideCase{"Unwritable", kOverwrite, [](FileFacts& f) { f.destinationWritable = false; },
                   FileDecision::FailUnwritable},
        DecideCase{"MoveOntoItsOwnMove", kOverwrite,
                   [](FileFacts& f) {
                       Older(f);
                       f.move = f.destinationPlacedByMove = true;
                   },
                   FileDecision::FailClash},
        DecideCase{"CopyOntoAMove", kOverwrite,
                   [](FileFacts& f) {
                       Older(f);
                       f.destinationPlacedByMove = true;
                   },
                   FileDecision::Overwrite},
        DecideCase{"MoveWhereAMoveLeftNothing", kOverwrite,
                   [](FileFacts& f) { f.move = f.destinationPlacedByMove = true; },
                   FileDecision::Copy}),
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
        EXPECT_EQ(IsFailure(row.decision), row.token.startsWith(QLatin1StringView("fail-")))
            << row.token.data();
    }
}

}  // namespace
