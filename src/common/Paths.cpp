#include "common/Paths.h"

#include <QDir>

#include <QFile>
#include <algorithm>
#include <type_traits>

#include "common/FileSystem.h"
#include "common/Host.h"

namespace zandrel {

namespace {

// The separator in each text type.
template <typename Text>
auto SeparatorOf() {
    if constexpr (std::is_same_v<Text, QString>)
        return QChar(u'/');
    else
        return kSeparator;
}

#ifdef Q_OS_WIN
// Windows reads "\" as a separator too; texts people type hold either.
template <typename Text>
auto BackslashOf() {
    if constexpr (std::is_same_v<Text, QString>)
        return QChar(u'\\');
    else
        return '\\';
}
#endif

template <typename Text>
bool EndsWithSeparator(const Text& path) {
#ifdef Q_OS_WIN
    if (path.endsWith(BackslashOf<Text>()))
        return true;
#endif
    return path.endsWith(SeparatorOf<Text>());
}

template <typename Text>
qsizetype LastSeparator(const Text& path) {
    const qsizetype at = path.lastIndexOf(SeparatorOf<Text>());
#ifdef Q_OS_WIN
    return std::max(at, path.lastIndexOf(BackslashOf<Text>()));
#else
    return at;
#endif
}

// A drive's root ("C:/"): without its separator it would name the drive's
// current folder instead.
template <typename Text>
bool IsDriveRoot([[maybe_unused]] const Text& path) {
#ifdef Q_OS_WIN
    return path.size() == 3 && path.at(1) == u':' && EndsWithSeparator(path);
#else
    return false;
#endif
}

template <typename Text>
Text WithoutTrailing(const Text& path) {
    if (path.size() > 1 && EndsWithSeparator(path) && !IsDriveRoot(path))
        return path.left(path.size() - 1);
    return path;
}

template <typename Text>
Text Joined(const Text& folder, const Text& name) {
    if (EndsWithSeparator(folder))
        return folder + name;
    Text result = folder;
    result += SeparatorOf<Text>();
    result += name;
    return result;
}

template <typename Text>
Text NamePart(const Text& path) {
    return path.mid(LastSeparator(path) + 1);
}

template <typename Text>
Text FolderPart(const Text& path) {
    return path.left(LastSeparator(path) + 1);
}

// Whether the path names its folder without the current folder's help.
bool IsRooted(const QByteArray& path) {
#ifdef Q_OS_WIN
    // "C:/x", and "C:x" whose folder the system takes from the drive's own
    // current folder.
    if (path.size() >= 2 && path.at(1) == ':')
        return true;
#endif
    return path.startsWith(kSeparator);
}

}  // namespace

QString RemoveTrailingSeparator(const QString& path) {
    return WithoutTrailing(path);
}
QByteArray RemoveTrailingSeparator(const QByteArray& path) {
    return WithoutTrailing(path);
}
bool IsRootPath(const QString& path) {
    return path.size() == 1 ? EndsWithSeparator(path) : IsDriveRoot(path);
}
bool IsRootPath(const QByteArray& path) {
    return path.size() == 1 ? EndsWithSeparator(path) : IsDriveRoot(path);
}
QString JoinPath(const QString& folder, const QString& name) {
    return Joined(folder, name);
}
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name) {
    return Joined(folder, name);
}
QString GetFileName(const QString& path) {
    return NamePart(path);
}
QByteArray GetFileName(const QByteArray& path) {
    return NamePart(path);
}
QString GetFolderPart(const QString& path) {
    return FolderPart(path);
}
QByteArray GetFolderPart(const QByteArray& path) {
    return FolderPart(path);
}

bool FolderExists(const QByteArray& path, fs::Overlay* overlay) {
    return fs::InfoAt(path, true, overlay).kind == fs::FileKind::Folder;
}
bool FolderExists(const QString& path) {
    return FolderExists(EncodePath(path));
}

bool PathExists(const QByteArray& path) {
    return fs::InfoAt(path).exists();
}
bool PathExists(const QString& path) {
    return PathExists(EncodePath(path));
}

bool CanWriteToFolder(const QString& folderText, Host& host, fs::Overlay* overlay) {
    const QString folder = RemoveTrailingSeparator(folderText);
    if (!fs::ProbeWrite(
            EncodePath(folder), [&host] { host.yield(); }, overlay)) {
        host.message(Icon::Exclamation, QStringLiteral("Error"),
                     QStringLiteral("Could not write to the following folder:\r\n\r\n") + folder);
        return false;
    }
    return true;
}

QByteArray EscapedName(QByteArrayView name) {
    static const char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out.append("\\\\");
        else if (c == '\t')
            out.append("\\t");
        else if (c == '\n')
            out.append("\\n");
        else if (c == '\r')
            out.append("\\r");
        else if (u < 0x20 || u == 0x7f)
            out.append("\\x").append(kHex[u >> 4]).append(kHex[u & 15]);
        else
            out.append(c);
    }
    return out;
}

QString ShownPath(const QString& path) {
#ifdef Q_OS_WIN
    return QString(path).replace(u'/', u'\\');
#else
    return path;
#endif
}
QByteArray ShownPath(const QByteArray& path) {
#ifdef Q_OS_WIN
    return QByteArray(path).replace('/', '\\');
#else
    return path;
#endif
}

bool SameFolder(const QString& a, const QString& b, fs::Overlay* overlay) {
    if (a == b)
        return true;
    const fs::FileInfo x = fs::InfoAt(EncodePath(a), true, overlay);
    const fs::FileInfo y = fs::InfoAt(EncodePath(b), true, overlay);
    return x.exists() && y.exists() && x.identity == y.identity;
}

// A relative folder from the current folder, so that the structure kept
// below the root part is the same as when it is written in full.
QByteArray FromCurrentFolder(const QString& folder) {
    QByteArray path = EncodePath(folder);
#ifdef Q_OS_WIN
    // A bare drive is its root: the drive's current folder is a property of
    // whatever process runs the list, so the run and its preview would differ.
    if (path.size() == 2 && path.at(1) == ':')
        return path + kSeparator;
#endif
    if (IsRooted(path) || path.isEmpty())
        return path;
    while (path.startsWith("./")) path.remove(0, 2);
    const QByteArray current = EncodePath(QDir::currentPath());
    if (path == ".")
        return current;
    return current.endsWith(kSeparator) ? current + path : current + kSeparator + path;
}

}  // namespace zandrel
