#include "search/PatternMatcher.h"

#include <QList>

namespace zandrel {

namespace {

void FoldInto(const QString& text, std::u32string& out) {
    const QList<uint> units = FoldForMatching(text).toUcs4();
    out.assign(units.begin(), units.end());
}

// Greedy matching with one backtrack point (the last "*"): at most
// pattern length times name length steps, never exponential.
bool WildMatch(const char32_t* p, std::size_t pn, const char32_t* s, std::size_t sn) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t pi = 0, si = 0, starP = kNone, starS = 0;
    while (si < sn) {
        if (pi < pn && p[pi] == U'*') {
            starP = pi++;
            starS = si;
        } else if (pi < pn && (p[pi] == U'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (starP != kNone) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < pn && p[pi] == U'*') ++pi;
    return pi == pn;
}

bool OnlyStars(const std::u32string& p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != U'*')
            return false;
    return true;
}

}  // namespace

QString FoldForMatching(const QString& text) {
    return text.toCaseFolded();
}

PatternMatcher::PatternMatcher(const QString& pattern) {
    FoldInto(pattern, pattern_);
    const std::size_t n = pattern_.size();
    dotStarOptional_ = n >= 2 && pattern_[n - 2] == U'.' && pattern_[n - 1] == U'*';
    everything_ =
        OnlyStars(pattern_, n) || (dotStarOptional_ && n > 2 && OnlyStars(pattern_, n - 2));
}

bool PatternMatcher::matchFolded(const std::u32string& name) const {
    const char32_t* p = pattern_.data();
    if (WildMatch(p, pattern_.size(), name.data(), name.size()))
        return true;
    return dotStarOptional_ && WildMatch(p, pattern_.size() - 2, name.data(), name.size());
}

bool PatternMatcher::matches(const QString& name) const {
    if (everything_)
        return true;
    FoldInto(name, name_);
    return matchFolded(name_);
}

bool PatternMatcher::matches(const char* name, std::size_t size) const {
    if (everything_)
        return true;
    name_.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80) {
            // Not plain ASCII: decode and fold the whole name the Unicode way.
            FoldInto(QString::fromUtf8(name, static_cast<qsizetype>(size)), name_);
            return matchFolded(name_);
        }
        name_[i] = (c >= 'A' && c <= 'Z') ? char32_t(c - 'A' + 'a') : char32_t(c);
    }
    return matchFolded(name_);
}

}  // namespace zandrel
