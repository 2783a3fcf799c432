#include "search/Filter.h"

#include <algorithm>
#include <set>
#include <string>

#include "search/PatternMatcher.h"

namespace zandrel {

namespace {

// Blanks are the space character only; other white space separates pieces.
QString TrimBlanks(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == u' ') ++begin;
    while (end > begin && text.at(end - 1) == u' ') --end;
    return text.mid(begin, end - begin);
}

}  // namespace

const QString& ListSeparators() {
    static const QString separators = [] {
        QString s;
        s += u';';
        s += QChar(u'\0');
        s += u'\t';
        s += u'\n';
        s += u'\r';
        return s;
    }();
    return separators;
}

int SplitList(const QString& text, QStringList& pieces, const QString& separators) {
    const QString& seps = separators.isEmpty() ? ListSeparators() : separators;
    pieces.clear();
    if (text.isEmpty())
        return -1;
    if (text.size() == 1 && seps.contains(text.at(0)))
        return -1;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (seps.contains(text.at(i))) {
            pieces.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    // The text without a closing separator ends as if the first one followed.
    if (start < text.size())
        pieces.append(text.mid(start));
    return static_cast<int>(pieces.size()) - 1;
}

FilterEvaluation EvaluateFilter(const QString& filterText) {
    FilterEvaluation result;
    result.ExclusionMode =
        filterText.contains(u'-') && !filterText.contains(QStringLiteral("-*.*"));
    if (!result.ExclusionMode) {
        result.SearchPatterns = filterText;
        return result;
    }
    QStringList pieces;
    SplitList(filterText, pieces, QStringLiteral(";"));
    for (const QString& piece : pieces) {
        if (piece.startsWith(u'-'))
            result.ExclusionSuffixes.append(piece.mid(2));
    }
    result.SearchPatterns = filterText;
    result.SearchPatterns.remove(u'-');
    return result;
}

QStringList PatternsToSearch(const QString& searchPatterns) {
    QStringList pieces;
    SplitList(searchPatterns, pieces);
    // The used record is the handled keys, each a piece folded as the matcher
    // folds names, and ";".
    // As a key holds no other ";", it occurs in the record exactly when its
    // piece is the tail of a handled piece (the empty piece: of any). The
    // handled pieces are kept reversed and sorted, so that test is a prefix
    // lookup rather than a search of an ever longer record, which made a
    // filter of many thousand patterns take minutes.
    std::set<std::u16string> usedReversed;
    QStringList patterns;
    for (const QString& raw : pieces) {
        const QString piece = TrimBlanks(raw);
        const QString key = FoldForMatching(piece);
        std::u16string reversed(reinterpret_cast<const char16_t*>(key.utf16()),
                                static_cast<std::size_t>(key.size()));
        std::reverse(reversed.begin(), reversed.end());
        const auto next = usedReversed.lower_bound(reversed);
        if (next != usedReversed.end() && next->starts_with(reversed))
            continue;
        usedReversed.insert(std::move(reversed));
        patterns.append(piece);
    }
    return patterns;
}

bool MatchPattern(const QString& pattern, const QString& name) {
    return PatternMatcher(pattern).matches(name);
}

bool IsExcluded(const QString& destinationPath, const QStringList& suffixes) {
    if (suffixes.isEmpty())
        return false;
    const QString path = destinationPath.toLower();
    for (const QString& suffix : suffixes) {
        if (path.endsWith(suffix.toLower()))
            return true;
    }
    return false;
}

}  // namespace zandrel
