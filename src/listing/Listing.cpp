#include "listing/Listing.h"

#include <QStringList>

namespace zandrel {

QString ActionToken(ListingAction action) {
    return action == ListingAction::Move ? QStringLiteral("Move") : QStringLiteral("Copy");
}

QString RuleToken(ExistingFileRule rule) {
    return RuleRow(rule).token.toString();
}

QString EncodeListingLine(const Listing& l) {
    QString filter = l.Filter;
    if (filter.isEmpty() || filter == QLatin1String("-"))
        filter = QStringLiteral("*.*");
    const QString sep(kFieldSeparator);
    return ActionToken(l.Action) + sep + l.SourceFolder + sep + l.DestinationFolder + sep +
           (l.IncludeSubfolders ? QStringLiteral("Subfolders") : QStringLiteral("NoSubfolders")) +
           sep +
           (l.CopyJustFiles ? QStringLiteral("CopyJustFiles")
                            : QStringLiteral("CopyFoldersAndFiles")) +
           sep + RuleToken(l.IfExists) + sep + l.Description + sep + kFilterMarker + filter;
}

std::optional<QString> ReadListingField(const QString& line, int n) {
    if (n >= 0 && n <= 6) {
        // Walk to piece n without splitting the whole line.
        qsizetype start = 0;
        for (int piece = 0; piece < n; ++piece) {
            const qsizetype at = line.indexOf(kFieldSeparator, start);
            if (at < 0)
                return std::nullopt;
            start = at + 1;
        }
        const qsizetype end = line.indexOf(kFieldSeparator, start);
        return line.mid(start, end < 0 ? -1 : end - start);
    }
    if (n == 7) {
        const qsizetype at = line.indexOf(kFilterMarker);
        return at < 0 ? QString() : line.mid(at);
    }
    return QString();
}

QString FilterTextOf(const QString& line) {
    return ReadListingField(line, FieldFilter).value_or(QString()).mid(kFilterMarker.size());
}

int CountFieldSeparators(const QString& line) {
    return static_cast<int>(line.count(kFieldSeparator));
}

QString ShownListingField(const QString& line, int n, qsizetype maxLength) {
    qsizetype start = 0;
    for (int piece = 0; piece < n; ++piece) {
        const qsizetype at = line.indexOf(kFieldSeparator, start);
        if (at < 0)
            return {};
        start = at + 1;
    }
    // Looks no further than one character past the bound for the field's end.
    const QStringView head = QStringView(line).mid(start, maxLength + 1);
    const qsizetype end = head.indexOf(kFieldSeparator);
    if (end >= 0)
        return head.left(end).toString();
    if (head.size() <= maxLength)
        return head.toString();
    return head.left(maxLength).toString() + QStringLiteral("...");
}

bool IsMoveAction(const QString& action) {
    return action == QLatin1String("Move");
}

ListingFields DecodeListingLine(const QString& line) {
    ListingFields f;
    f.action = ReadListingField(line, FieldAction);
    f.sourceFolder = ReadListingField(line, FieldSourceFolder);
    f.destinationFolder = ReadListingField(line, FieldDestinationFolder);
    f.description = ReadListingField(line, FieldDescription);
    if (const auto v = ReadListingField(line, FieldIncludeSubfolders)) {
        f.includeSubfolders = *v == QLatin1String("Subfolders");
        f.noSubfolders = *v == QLatin1String("NoSubfolders");
    }
    if (const auto v = ReadListingField(line, FieldCopyJustFiles))
        f.copyJustFiles = *v == QLatin1String("CopyJustFiles");
    if (const auto v = ReadListingField(line, FieldIfExists)) {
        for (const ExistingFileRuleRow& row : kExistingFileRules)
            if (*v == row.token)
                f.ifExists = row.rule;
    }
    f.filter = FilterTextOf(line);
    return f;
}

}  // namespace zandrel
