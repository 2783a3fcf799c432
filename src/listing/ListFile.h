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
// The lines of a valid list held in bytes, or nothing when any line holds
// other than seven "<" (a blank line included).
std::optional<QStringList> ParseListBytes(const QByteArray& bytes, Host& host);
// The same for a file; nothing also when it cannot be read, is not a regular
// file, or is larger than any list (so a wrong file cannot exhaust memory).
inline constexpr qint64 kMaxListFileBytes = qint64{64} * 1024 * 1024;
std::optional<QStringList> ReadListFile(const QString& path, Host& host);
// Writes through a temporary file renamed into place, so a failed save never
// loses the previous list.
bool WriteListFile(const QString& path, const QStringList& lines, Host& host);

}  // namespace zandrel
