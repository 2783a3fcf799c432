#pragma once
// Path texts and the folder tests. On Linux "/" is the separator; the choice
// of separator and root lives here alone.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace zandrel {

class Host;

inline constexpr char kSeparator = '/';
inline const QString kSeparatorText = QStringLiteral("/");

// Removes one trailing separator; the root stays as it is.
QString RemoveTrailingSeparator(const QString& path);
QByteArray RemoveTrailingSeparator(const QByteArray& path);
// folder + separator + name, without doubling a separator the folder ends in.
QString JoinPath(const QString& folder, const QString& name);
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name);

// The text after the last separator (the whole path when it has none).
QString GetFileName(const QString& path);
QByteArray GetFileName(const QByteArray& path);
// Everything up to and including the last separator.
QString GetFolderPart(const QString& path);
QByteArray GetFolderPart(const QByteArray& path);

// File names are bytes; these convert at the edge between people and disk.
QByteArray EncodePath(const QString& path);
QString DecodePath(const QByteArray& path);

// A name or path as it is written into a line of text (log files, report
// and preview lines): a backslash becomes "\\", tab, line feed and carriage
// return "\t", "\n" and "\r", every other byte below 0x20 and 0x7F
// "\xHH" (two lower-case hex digits), so that no name can split or forge a
// line and a script can undo it. All other bytes, UTF-8 or not, stay.
QByteArray EscapedName(QByteArrayView name);

bool FolderExists(const QString& path);
bool FolderExists(const QByteArray& path);
bool PathExists(const QString& path);
bool PathExists(const QByteArray& path);

// Writes and removes a probe file in the folder. Shows "Could not write to the
// following folder:" and returns false when that fails. Never touches a file
// that was there before.
bool CanWriteToFolder(const QString& folder, Host& host);

}  // namespace zandrel
