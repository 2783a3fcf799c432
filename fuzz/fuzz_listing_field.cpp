// ReadListingField against the plain reading of the line format, and the
// encoding of a Listing read back field by field.

#include <QStringList>

#include "FuzzSupport.h"
#include "listing/Listing.h"

using namespace zandrel;
using namespace zandrel::fuzz;

namespace {

std::optional<QString> ExpectedField(const QString& line, int n) {
    if (n >= 0 && n <= 6) {
        const QStringList pieces = line.split(kFieldSeparator);
        if (n >= pieces.size())
            return std::nullopt;
        return pieces.at(n);
    }
    if (n == 7) {
        const qsizetype at = line.indexOf(kFilterMarker);
        return at < 0 ? QString() : line.mid(at);
    }
    return QString();
}

// Fields as the editor lets them through: no "<", and no "|" in any field,
// so the first marker is the marker itself.
QString Clean(QString text) {
    text.remove(kFieldSeparator);
    text.remove(u'|');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange(-2, 9);
    const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();
    Listing l;
    l.Action = (flags & 1) ? ListingAction::Move : ListingAction::Copy;
    l.IncludeSubfolders = flags & 2;
    l.CopyJustFiles = flags & 4;
    l.IfExists = static_cast<ExistingFileRule>((flags >> 3) % 3);
    l.SourceFolder = Clean(TakeText(in, 64));
    l.DestinationFolder = Clean(TakeText(in, 64));
    l.Description = Clean(TakeText(in, 64));
    l.Filter = Clean(TakeText(in, 64));
    const QString raw = TakeText(in, 1 << 16);

    // Any text: the reader agrees with splitting at every "<".
    FUZZ_CHECK(ReadListingField(raw, n) == ExpectedField(raw, n), Quoted(raw));
    const auto filterField = ReadListingField(raw, FieldFilter);
    FUZZ_CHECK(filterField.has_value(), Quoted(raw));
    FUZZ_CHECK(FilterTextOf(raw) == filterField->mid(kFilterMarker.size()), Quoted(raw));
    // Shown whole when the bound allows it, else cut to the bound plus "...".
    const QString source = ExpectedField(raw, 1).value_or(QString());
    FUZZ_CHECK(ShownListingField(raw, 1, raw.size()) == source, Quoted(raw));
    FUZZ_CHECK(ShownListingField(raw, 1, 8) ==
                   (source.size() > 8 ? source.left(8) + QStringLiteral("...") : source),
               Quoted(raw));

    // An encoded Listing: seven "<", every field back as it went in.
    const QString line = EncodeListingLine(l);
    FUZZ_CHECK(CountFieldSeparators(line) == kSeparatorsPerLine, Quoted(line));
    FUZZ_CHECK(ReadListingField(line, FieldAction) == ActionToken(l.Action), Quoted(line));
    FUZZ_CHECK(ReadListingField(line, FieldSourceFolder) == l.SourceFolder, Quoted(line));
    FUZZ_CHECK(ReadListingField(line, FieldDestinationFolder) == l.DestinationFolder, Quoted(line));
    FUZZ_CHECK(ReadListingField(line, FieldIfExists) == RuleToken(l.IfExists), Quoted(line));
    FUZZ_CHECK(ReadListingField(line, FieldDescription) == l.Description, Quoted(line));
    const QString stored =
        l.Filter.isEmpty() || l.Filter == QLatin1String("-") ? QStringLiteral("*.*") : l.Filter;
    FUZZ_CHECK(FilterTextOf(line) == stored, Quoted(line));
    return 0;
}
