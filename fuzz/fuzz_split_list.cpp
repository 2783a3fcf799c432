// SplitList against a plain reading of its rules, with the default and with
// given separator sets.

#include <QStringList>

#include "FuzzSupport.h"
#include "search/Filter.h"

using namespace zandrel;
using namespace zandrel::fuzz;

namespace {

QStringList Expected(QString text, QString separators) {
    if (separators.isEmpty())
        separators = ListSeparators();
    if (!text.isEmpty() && !separators.contains(text.back()))
        text += separators.front();
    if (text.isEmpty() || (text.size() == 1 && separators.contains(text.front())))
        return {};
    QStringList pieces;
    QString piece;
    for (const QChar c : text) {
        if (separators.contains(c)) {
            pieces.append(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const QString separators = TakeText(in, 8);
    const QString text = TakeText(in, 1 << 16);

    QStringList pieces = {QStringLiteral("stale")};
    const int last = SplitList(text, pieces, separators);
    const QStringList want = Expected(text, separators);
    FUZZ_CHECK(pieces == want, Quoted(text) + QStringLiteral(" by ") + Quoted(separators));
    FUZZ_CHECK(last == want.size() - 1, Quoted(text));

    QStringList byDefault;
    SplitList(text, byDefault);
    FUZZ_CHECK(byDefault == Expected(text, QString()), Quoted(text));
    for (const QString& piece : byDefault)
        for (const QChar c : ListSeparators()) FUZZ_CHECK(!piece.contains(c), Quoted(piece));
    return 0;
}
