#include "common/Paths.h"

#include <QDir>

#include <QFile>
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

template <typename Text>
Text WithoutTrailing(const Text& path) {
    if (path.size() > 1 && path.endsWith(SeparatorOf<Text>()))
        return path.left(path.size() - 1);
    return path;
}

template <typename Text>
Text Joined(const Text& folder, const Text& name) {
    if (folder.endsWith(SeparatorOf<Text>()))
        return folder + name;
    Text result = folder;
    result += SeparatorOf<Text>();
    result += name;
    return result;
}

template <typename Text>
Text NamePart(const Text& path) {
    return path.mid(path.lastIndexOf(SeparatorOf<Text>()) + 1);
}

template <typename Text>
Text FolderPart(const Text& path) {
    return path.left(path.lastIndexOf(SeparatorOf<Text>()) + 1);
}

}  // namespace

QString RemoveTrailingSeparator(const QString& path) {
    return WithoutTrailing(path);
}
QByteArray RemoveTrailingSeparator(const QByteArray& path) {
    return WithoutTrailing(path);
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
    if (path.startsWith(kSeparator) || path.isEmpty())
        return path;
    while (path.startsWith("./")) path.remove(0, 2);
    const QByteArray current = EncodePath(QDir::currentPath());
    if (path == ".")
        return current;
    return current.endsWith(kSeparator) ? current + path : current + kSeparator + path;
}

}  // namespace zandrel
