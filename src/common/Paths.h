#pragma once
// Path texts and the folder tests. On Linux "/" is the separator; Windows
// takes "\" as well, and EncodePath makes every "\" a "/" there, so the
// paths the core handles as bytes have one separator on both. The choice of
// separator and root lives here alone.

#include <QByteArray>
#include <QString>

namespace zandrel {

namespace fs {
class Overlay;
}

class Host;

inline constexpr char kSeparator = '/';
inline const QString kSeparatorText = QStringLiteral("/");

// Removes one trailing separator; the root stays as it is (on Windows a
// drive's root too, "C:/").
QString RemoveTrailingSeparator(const QString& path);
QByteArray RemoveTrailingSeparator(const QByteArray& path);
// Whether the path is a root ("/", on Windows also a drive's "C:/" or "C:\"),
// which has no parent and keeps its separator.
bool IsRootPath(const QString& path);
bool IsRootPath(const QByteArray& path);
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
// On Windows a "\" becomes "/" on its way to the disk.
QByteArray EncodePath(const QString& path);
QString DecodePath(const QByteArray& path);

bool FolderExists(const QString& path);
bool FolderExists(const QByteArray& path, fs::Overlay* overlay = nullptr);
bool PathExists(const QString& path);
bool PathExists(const QByteArray& path);

// A name written as text (log files, report, failure and preview lines): a
// backslash and the control characters are escaped (\\ \t \n \r, \xHH in
// lower-case hex for the other bytes below 0x20 and 0x7F), so no name can add
// a field or a line and a script can undo it; other bytes stay as they are.
QByteArray EscapedName(QByteArrayView name);

// The path as the user's platform writes it, for what people read or keep
// (logs, the Summary, the status bar, the preview, a chosen folder): "\" as
// the separator on Windows; unchanged on Linux. Applied after EscapedName,
// which never makes a "/".
QString ShownPath(const QString& path);
QByteArray ShownPath(const QByteArray& path);

// Whether two folder texts name one folder, however it is written (a link,
// ".."); on Linux folders that differ in letter case are two folders.
bool SameFolder(const QString& a, const QString& b, fs::Overlay* overlay = nullptr);

// The folder's path as the run reaches it: a relative one is taken from the
// current folder.
QByteArray FromCurrentFolder(const QString& folder);

// Writes and removes a probe file in the folder. Shows "Could not write to the
// following folder:" and returns false when that fails. Never touches a file
// that was there before.
bool CanWriteToFolder(const QString& folder, Host& host, fs::Overlay* overlay = nullptr);

}  // namespace zandrel
