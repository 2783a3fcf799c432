// Filter evaluation, the de-duplicated pattern list, the pattern matcher and
// the exclusion test, each against a plain reading of its rules.

#include <QList>
#include <QStringList>
#include <vector>

#include "FuzzSupport.h"
#include "search/Filter.h"
#include "search/PatternMatcher.h"

using namespace zandrel;
using namespace zandrel::fuzz;

namespace {

std::u32string Folded(const QString& text) {
    const QList<uint> units = text.toCaseFolded().toUcs4();
    return std::u32string(units.begin(), units.end());
}

// Plain dynamic programming over the rules: "*" any run, "?" one character.
bool Wild(const std::u32string& p, const std::u32string& s) {
    std::vector<char> row(s.size() + 1, 0), next(s.size() + 1, 0);
    row[0] = 1;
    for (std::size_t j = 1; j <= s.size(); ++j) row[j] = 0;
    for (const char32_t c : p) {
        next.assign(s.size() + 1, 0);
        if (c == U'*') {
            char seen = 0;
            for (std::size_t j = 0; j <= s.size(); ++j) next[j] = seen = seen || row[j];
        } else {
            for (std::size_t j = 1; j <= s.size(); ++j)
                next[j] = row[j - 1] && (c == U'?' || c == s[j - 1]);
        }
        row.swap(next);
    }
    return row[s.size()];
}

bool ExpectedMatch(const QString& pattern, const QString& name) {
    const std::u32string p = Folded(pattern), s = Folded(name);
    if (p.empty() || Wild(p, s))
        return true;
    // A closing ".*" may also match nothing: "*.*" every name, "a.*" "a".
    return p.size() >= 2 && p.substr(p.size() - 2) == U".*" && Wild(p.substr(0, p.size() - 2), s);
}

FilterEvaluation ExpectedEvaluation(const QString& filter) {
    FilterEvaluation e;
    e.ExclusionMode = filter.contains(u'-') && !filter.contains(QStringLiteral("-*.*"));
    e.SearchPatterns = filter;
    if (!e.ExclusionMode)
        return e;
    for (const QString& piece : filter.split(u';'))
        if (piece.startsWith(u'-'))
            e.ExclusionSuffixes.append(piece.mid(2));
    e.SearchPatterns.remove(u'-');
    return e;
}

QStringList ExpectedPatterns(const QString& searchPatterns) {
    QStringList pieces;
    SplitList(searchPatterns, pieces);
    QString used;
    QStringList out;
    for (QString piece : pieces) {
        while (piece.startsWith(u' ')) piece.remove(0, 1);
        while (piece.endsWith(u' ')) piece.chop(1);
        const QString key = piece.toUpper() + u';';
        if (used.contains(key))
            continue;
        used += key;
        out.append(piece);
    }
    return out;
}

bool ExpectedExcluded(const QString& path, const QStringList& suffixes) {
    for (const QString& suffix : suffixes)
        if (path.toLower().endsWith(suffix.toLower()))
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const QString filter = TakeText(in, 512);
    const QString destination = TakeText(in, 128);
    const std::string nameBytes = in.ConsumeRemainingBytesAsString();
    const QString name =
        QString::fromUtf8(nameBytes.data(), static_cast<qsizetype>(nameBytes.size()));

    const FilterEvaluation got = EvaluateFilter(filter);
    const FilterEvaluation want = ExpectedEvaluation(filter);
    FUZZ_CHECK(got.ExclusionMode == want.ExclusionMode, Quoted(filter));
    FUZZ_CHECK(got.SearchPatterns == want.SearchPatterns, Quoted(filter));
    FUZZ_CHECK(got.ExclusionSuffixes == want.ExclusionSuffixes, Quoted(filter));
    FUZZ_CHECK(IsExcluded(destination, got.ExclusionSuffixes) ==
                   ExpectedExcluded(destination, got.ExclusionSuffixes),
               Quoted(filter) + QStringLiteral(" / ") + Quoted(destination));

    const QStringList patterns = PatternsToSearch(got.SearchPatterns);
    FUZZ_CHECK(patterns == ExpectedPatterns(got.SearchPatterns), Quoted(got.SearchPatterns));

    int tried = 0;
    for (const QString& pattern : patterns) {
        if (++tried > 8)
            break;
        const PatternMatcher matcher(pattern);
        const bool viaText = matcher.matches(name);
        FUZZ_CHECK(viaText == ExpectedMatch(pattern, name),
                   Quoted(pattern) + QStringLiteral(" ~ ") + Quoted(name));
        FUZZ_CHECK(matcher.matches(nameBytes.data(), nameBytes.size()) == viaText,
                   Quoted(pattern) + QStringLiteral(" ~ bytes ") + Quoted(name));
        FUZZ_CHECK(MatchPattern(pattern, name) == viaText, Quoted(pattern));
    }
    return 0;
}
