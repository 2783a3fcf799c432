#pragma once
// A Listing and its one-line form: eight fields joined by "<", the filter
// after the marker ":Specific|Types:".

#include <QLatin1StringView>
#include <QString>
#include <cstddef>
#include <iterator>
#include <optional>

namespace zandrel {

enum class ListingAction { Copy, Move };
enum class ExistingFileRule { Overwrite, SkipFile, CopyOnlyIfNewer };

// Everything a rule is called, in one row, so that the list file, its reader
// and the editor cannot come to disagree about a rule.
struct ExistingFileRuleRow {
    ExistingFileRule rule;
    QLatin1StringView token;    // the IfExists field of a ListingLine, compared exactly
    QLatin1StringView option;   // the editor's option button (newfrm) that chooses it
    QLatin1StringView caption;  // what that button says
};

// In the order of the enumerators, which is the order of the editor's buttons.
inline constexpr ExistingFileRuleRow kExistingFileRules[] = {
    {ExistingFileRule::Overwrite, QLatin1StringView("Overwrite"), QLatin1StringView("Option5"),
     QLatin1StringView("Overwrite file")},
    {ExistingFileRule::SkipFile, QLatin1StringView("SkipFile"), QLatin1StringView("Option6"),
     QLatin1StringView("Skip the file")},
    {ExistingFileRule::CopyOnlyIfNewer, QLatin1StringView("CopyOnlyIfNewer"),
     QLatin1StringView("Option7"),
     QLatin1StringView("Only copy if the source file is newer than destination file "
                       "(compares the date/time)")},
};
inline constexpr std::size_t kExistingFileRuleCount = std::size(kExistingFileRules);

// A rule's row is found by its enumerator's value.
static_assert([] {
    for (std::size_t i = 0; i < kExistingFileRuleCount; ++i)
        if (kExistingFileRules[i].rule != ExistingFileRule(i))
            return false;
    return true;
}());
constexpr const ExistingFileRuleRow& RuleRow(ExistingFileRule rule) {
    return kExistingFileRules[std::size_t(rule)];
}

enum ListingFieldIndex {
    FieldAction = 0,
    FieldSourceFolder = 1,
    FieldDestinationFolder = 2,
    FieldIncludeSubfolders = 3,
    FieldCopyJustFiles = 4,
    FieldIfExists = 5,
    FieldDescription = 6,
    FieldFilter = 7,
};

inline const QString kFilterMarker = QStringLiteral(":Specific|Types:");
inline constexpr QChar kFieldSeparator = u'<';
inline constexpr int kSeparatorsPerLine = 7;

struct Listing {
    ListingAction Action = ListingAction::Copy;
    QString SourceFolder;
    QString DestinationFolder;
    bool IncludeSubfolders = true;
    bool CopyJustFiles = false;
    ExistingFileRule IfExists = ExistingFileRule::Overwrite;
    QString Description;
    QString Filter = QStringLiteral("*.*");
};

QString ActionToken(ListingAction action);
QString RuleToken(ExistingFileRule rule);

QString EncodeListingLine(const Listing& listing);

// "Move" means move; any other action text means copy.
bool IsMoveAction(const QString& action);

// A ListingLine decoded in one place: each field as read (std::nullopt when
// absent: the reader keeps its own value) and its tokens as values, compared
// exactly.
struct ListingFields {
    std::optional<QString> action;
    std::optional<QString> sourceFolder;
    std::optional<QString> destinationFolder;
    std::optional<QString> description;
    // The tokens' meanings, where the field is there.
    std::optional<bool> includeSubfolders;  // "Subfolders"
    std::optional<bool> noSubfolders;       // "NoSubfolders"
    std::optional<bool> copyJustFiles;      // "CopyJustFiles"
    // A rule only where the field holds one of the three tokens.
    std::optional<ExistingFileRule> ifExists;
    QString filter;  // the text after the marker

    bool isMove() const { return action && IsMoveAction(*action); }
};
ListingFields DecodeListingLine(const QString& line);

// Field n (0 to 7) of a line. Fields 0 to 6 are pieces between "<"; a piece
// beyond the last is absent (std::nullopt) and callers keep their own value.
// Field 7 is the text from the first marker to the end, marker included, or
// empty without a marker. Any other n gives the empty text.
std::optional<QString> ReadListingField(const QString& line, int n);

// The filter text of a line: field 7 without its 16 marker characters.
QString FilterTextOf(const QString& line);

// How many "<" a line holds; a valid line holds exactly seven.
int CountFieldSeparators(const QString& line);

// Field n (0 to 6) as a row or tooltip shows it: at most maxLength characters
// of it, "..." after a cut one. A line may hold a field of many megabytes, and
// only its beginning can ever be seen.
QString ShownListingField(const QString& line, int n, qsizetype maxLength);

}  // namespace zandrel
