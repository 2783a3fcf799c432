#pragma once
// The ".bak" file: one ListingLine per line, each ended by CR LF, UTF-8.
// Lists written on Windows (Windows-1252) are read too.

#include <QByteArray>
#include <QStringList>
#include <optional>

namespace zandrel {

class Host;

// UTF-8 when the bytes are valid UTF-8, otherwise Windows-1252.
QString DecodeListText(const QByteArray& bytes);
// Lines end at CR LF or at a lone CR; a LF alone belongs to the line.
QStringList SplitListLines(const QString& text);
// The lines of a valid list, or nothing when any line holds other than seven
// "<" (a blank line included) or the file cannot be read.
std::optional<QStringList> ReadListFile(const QString& path, Host& host);
// Writes through a temporary file renamed into place, so a failed save never
// loses the previous list.
bool WriteListFile(const QString& path, const QStringList& lines, Host& host);

}  // namespace zandrel
