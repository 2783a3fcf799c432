#include "common/Paths.h"

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

bool FolderExists(const QByteArray& path) {
    return fs::InfoAt(path).kind == fs::FileKind::Folder;
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

bool CanWriteToFolder(const QString& folderText, Host& host) {
    const QString folder = RemoveTrailingSeparator(folderText);
    if (!fs::ProbeWrite(EncodePath(folder), [&host] { host.yield(); })) {
        host.message(Icon::Exclamation, QStringLiteral("Error"),
                     QStringLiteral("Could not write to the following folder:\r\n\r\n") + folder);
        return false;
    }
    return true;
}

}  // namespace zandrel
