#include <gtest/gtest.h>

#include "listing/BackupList.h"
#include "listing/Listing.h"

using namespace zandrel;

namespace {

TEST(EncodeListingLine, DefaultsGiveTheDocumentedLine) {
    Listing l;
    l.SourceFolder = QStringLiteral("/data");
    l.DestinationFolder = QStringLiteral("/backup");
    l.Description = QStringLiteral("my written documents");
    EXPECT_EQ(EncodeListingLine(l),
              QStringLiteral("Copy</data</backup<Subfolders<CopyFoldersAndFiles<Overwrite<"
                             "my written documents<:Specific|Types:*.*"));
}

struct EncodeCase {
    ListingAction action;
    bool subfolders;
    bool flat;
    ExistingFileRule rule;
    const char* description;
    const char* filter;
    const char* line;
};

class EncodeCases : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeCases, TokensDescriptionAndFilter) {
    const EncodeCase& c = GetParam();
    Listing l;
    l.Action = c.action;
    l.SourceFolder = QStringLiteral("/s");
    l.DestinationFolder = QStringLiteral("/d");
    l.IncludeSubfolders = c.subfolders;
    l.CopyJustFiles = c.flat;
    l.IfExists = c.rule;
    l.Description = QString::fromUtf8(c.description);
    l.Filter = QString::fromUtf8(c.filter);
    EXPECT_EQ(EncodeListingLine(l).toStdString(), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodeCases,
    ::testing::Values(
        EncodeCase{ListingAction::Move, false, true, ExistingFileRule::SkipFile, "", "",
                   "Move</s</d<NoSubfolders<CopyJustFiles<SkipFile<<:Specific|Types:*.*"},
        EncodeCase{
            ListingAction::Copy, true, false, ExistingFileRule::CopyOnlyIfNewer, "x", "-",
            "Copy</s</d<Subfolders<CopyFoldersAndFiles<CopyOnlyIfNewer<x<:Specific|Types:*.*"},
        EncodeCase{
            ListingAction::Copy, true, false, ExistingFileRule::Overwrite, "", "-*.bmp;-*.exe",
            "Copy</s</d<Subfolders<CopyFoldersAndFiles<Overwrite<<:Specific|Types:-*.bmp;-*.exe"}));

// A rule is read only from a field that holds its token exactly; any other
// field leaves the reader's own rule in force.
TEST(DecodeListingLine, RuleOnlyFromAnExactToken) {
    const struct {
        const char* field;
        std::optional<ExistingFileRule> rule;
    } cases[] = {
        {"Overwrite", ExistingFileRule::Overwrite},
        {"SkipFile", ExistingFileRule::SkipFile},
        {"CopyOnlyIfNewer", ExistingFileRule::CopyOnlyIfNewer},
        {"skipfile", std::nullopt},
        {"SkipFile ", std::nullopt},
        {"CopyOnlyIfNewerX", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const QString line = QStringLiteral("Copy</s</d<Subfolders<CopyFoldersAndFiles<") +
                             QLatin1StringView(c.field) + QStringLiteral("<x<:Specific|Types:*.*");
        EXPECT_EQ(DecodeListingLine(line).ifExists, c.rule) << c.field;
    }
    EXPECT_FALSE(DecodeListingLine(QStringLiteral("Copy</s</d<Subfolders<x")).ifExists);
}

TEST(ReadListingField, PiecesMarkerAndAbsentFields) {
    const QString line =
        QStringLiteral("Move</s</d<NoSubfolders<CopyJustFiles<SkipFile<<:Specific|Types:*.jpg<x");
    EXPECT_EQ(ReadListingField(line, 0), QStringLiteral("Move"));
    EXPECT_EQ(ReadListingField(line, 1), QStringLiteral("/s"));
    EXPECT_EQ(ReadListingField(line, 5), QStringLiteral("SkipFile"));
    EXPECT_EQ(ReadListingField(line, 6), QString());  // empty description
    EXPECT_TRUE(ReadListingField(line, 6).has_value());
    // Field 7 by marker search keeps a "<" inside the filter.
    EXPECT_EQ(ReadListingField(line, 7), QStringLiteral(":Specific|Types:*.jpg<x"));
    EXPECT_EQ(FilterTextOf(line), QStringLiteral("*.jpg<x"));
    EXPECT_EQ(ReadListingField(line, 8), QString());
    EXPECT_EQ(ReadListingField(line, -1), QString());

    const QString shortLine = QStringLiteral("Copy</s");
    EXPECT_FALSE(ReadListingField(shortLine, 2).has_value());
    EXPECT_EQ(ReadListingField(shortLine, 7), QString());
    EXPECT_EQ(FilterTextOf(shortLine), QString());
}

TEST(BackupListModel, VisibleRowsDeriveFromTheLines) {
    BackupList doc;
    doc.appendLine(QStringLiteral(
        "Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<desc<:Specific|Types:*.*"));
    doc.appendLine(
        QStringLiteral("move</c</d<Subfolders<CopyFoldersAndFiles<Overwrite<<:Specific|Types:*.*"));
    ASSERT_EQ(doc.rowCount(), 2);
    EXPECT_EQ(doc.data(doc.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("Copy"));
    EXPECT_EQ(doc.data(doc.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("/a"));
    EXPECT_EQ(doc.data(doc.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("/b"));
    EXPECT_EQ(doc.data(doc.index(0, 3), Qt::DisplayRole).toString(), QStringLiteral("desc"));
    EXPECT_EQ(doc.data(doc.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("move"));
    doc.swapLines(0, 1);
    EXPECT_EQ(doc.data(doc.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("/c"));
    EXPECT_EQ(doc.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Description"));
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - Untitled.bak"));
    doc.setCurrentListPath(QStringLiteral("/x/daily.bak"));
    EXPECT_EQ(doc.title(), QStringLiteral("Zandrel - daily.bak"));

    // A huge description is shown and tooltipped by its beginning; the line
    // keeps all of it.
    const QString huge(5'000'000, u'x');
    doc.replaceLine(0, QStringLiteral("Copy</a</b<Subfolders<CopyFoldersAndFiles<Overwrite<") +
                           huge + QStringLiteral("<:Specific|Types:*.*"));
    for (const int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
        const QString shown = doc.data(doc.index(0, 3), role).toString();
        EXPECT_LT(shown.size(), 2000);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("xxx")) &&
                    shown.endsWith(QStringLiteral("...")));
    }
    EXPECT_EQ(doc.fieldAt(0, 6), huge);
}

}  // namespace
