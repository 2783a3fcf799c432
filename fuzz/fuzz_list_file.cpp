// A list file's bytes: decoding, line splitting and the seven-"<" test, and
// that a list that loads is saved and loaded again unchanged.

#include <QStringList>

#include "FuzzSupport.h"
#include "listing/ListFile.h"
#include "listing/Listing.h"

using namespace zandrel;
using namespace zandrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = Bytes(data, size);
    NullHost host;

    const QStringList lines = SplitListLines(DecodeListText(bytes));
    QString joined;
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\r'), Quoted(line));
        joined += line + QStringLiteral("\r\n");
    }
    FUZZ_CHECK(SplitListLines(joined) == lines, Quoted(joined));

    bool allSeven = true;
    for (const QString& line : lines) allSeven = allSeven && CountFieldSeparators(line) == 7;

    const auto parsed = ParseListBytes(bytes, host);
    FUZZ_CHECK(parsed.has_value() == allSeven, Quoted(joined));
    if (!parsed)
        return 0;
    FUZZ_CHECK(*parsed == lines, Quoted(joined));

    // What Save writes for these lines reads back as the same lines.
    QByteArray saved;
    for (const QString& line : *parsed) saved += line.toUtf8() + "\r\n";
    const auto again = ParseListBytes(saved, host);
    FUZZ_CHECK(again.has_value() && *again == *parsed, Quoted(joined));

    for (const QString& line : *parsed) {
        FUZZ_CHECK(!ShownListingField(line, FieldAction, 1024).contains(kFieldSeparator),
                   Quoted(line));
        const QString filter = FilterTextOf(line);
        FUZZ_CHECK(filter.isEmpty() || line.endsWith(filter), Quoted(line));
    }
    return 0;
}
