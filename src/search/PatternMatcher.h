#pragma once
// Name patterns as a directory search applies them: "*" any run, "?" one
// character, letters compared case-folded. Compiled once per search, then
// matched against many names.

#include <QString>
#include <cstddef>
#include <string>

namespace zandrel {

// The case folding the matcher compares names with: two patterns with the
// same folded text match the same names.
QString FoldForMatching(const QString& text);

class PatternMatcher {
  public:
    explicit PatternMatcher(const QString& pattern);

    bool matches(const QString& name) const;
    // A file name as bytes; names that are not valid UTF-8 are decoded with
    // replacement characters, which cannot fail.
    bool matches(const char* name, std::size_t size) const;

  private:
    bool matchFolded(const std::u32string& name) const;

    std::u32string pattern_;  // case-folded
    // A trailing ".*" also matches a name without that part, as on Windows:
    // "*.*" matches names without a dot, "report.*" matches "report".
    bool dotStarOptional_ = false;
    bool everything_ = false;
    mutable std::u32string name_;  // reused buffer for the folded name
};

}  // namespace zandrel
