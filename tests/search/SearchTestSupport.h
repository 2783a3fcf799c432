#pragma once
// Helpers shared by the search tests: readable comparisons of lists.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace zandrel::test {

inline std::vector<std::string> ToStd(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}

inline std::vector<std::string> ToStd(const QList<QByteArray>& list) {
    std::vector<std::string> out;
    for (const QByteArray& s : list) out.push_back(s.toStdString());
    return out;
}

// The texts of a table row, written with "|" between them.
inline std::vector<std::string> SplitBars(const char* text) {
    std::vector<std::string> out;
    const std::string s = text;
    if (s.empty())
        return out;
    std::string::size_type start = 0;
    while (true) {
        const auto bar = s.find('|', start);
        out.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return out;
}

// Like splitBars, for lists whose size is given: one empty text is a list of
// one piece.
inline std::vector<std::string> SplitBars(const char* text, int count) {
    if (count == 0)
        return {};
    std::vector<std::string> out = SplitBars(text);
    if (out.empty())
        out.emplace_back();
    return out;
}

}  // namespace zandrel::test
