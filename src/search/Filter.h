#pragma once
// Filter texts: ";"-separated patterns, exclusions introduced by "-".

#include <QString>
#include <QStringList>

namespace zandrel {

// ";", NUL, TAB, LF, CR: the default separators of SplitList, ";" first.
const QString& ListSeparators();

// Splits text at any separator character (the default set when separators is
// empty) into pieces; returns the index of the last piece, -1 for none.
int SplitList(const QString& text, QStringList& pieces, const QString& separators = QString());

struct FilterEvaluation {
    bool ExclusionMode = false;
    QString SearchPatterns;         // a list in SplitList form for the walk
    QStringList ExclusionSuffixes;  // in filter order; may hold the empty text
};

FilterEvaluation EvaluateFilter(const QString& filterText);

// The patterns a folder is searched with: split, blanks trimmed, repeated
// keys (folded as the matcher folds names + ";", substring test on the used
// record) passed over.
QStringList PatternsToSearch(const QString& searchPatterns);

// "*" any run, "?" one character, case-insensitive, "*.*" every name, the
// empty pattern every entry. Linear time, no backtracking blow-up.
bool MatchPattern(const QString& pattern, const QString& name);

// True when the lower-cased path ends with one of the lower-cased suffixes.
bool IsExcluded(const QString& destinationPath, const QStringList& suffixes);

}  // namespace zandrel
