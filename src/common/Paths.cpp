#include "common/Paths.h"

#include <QFile>
#include <type_traits>

#include "common/FileSystem.h"
#include "common/Host.h"

namespace zandrel {

namespace {

// The separator in each text type.
template <typename Text>
auto sep() {
    if constexpr (std::is_same_v<Text, QString>)
        return QChar(u'/');
    else
        return kSeparator;
}

template <typename Text>
Text removeTrailing(const Text& path) {
    if (path.size() > 1 && path.endsWith(sep<Text>()))
        return path.left(path.size() - 1);
    return path;
}

template <typename Text>
Text join(const Text& folder, const Text& name) {
    if (folder.endsWith(sep<Text>()))
        return folder + name;
    Text result = folder;
    result += sep<Text>();
    result += name;
    return result;
}

template <typename Text>
Text fileName(const Text& path) {
    return path.mid(path.lastIndexOf(sep<Text>()) + 1);
}

template <typename Text>
Text folderPart(const Text& path) {
    return path.left(path.lastIndexOf(sep<Text>()) + 1);
}

}  // namespace

QString RemoveTrailingSeparator(const QString& path) {
    return removeTrailing(path);
}
QByteArray RemoveTrailingSeparator(const QByteArray& path) {
    return removeTrailing(path);
}
QString JoinPath(const QString& folder, const QString& name) {
    return join(folder, name);
}
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name) {
    return join(folder, name);
}
QString GetFileName(const QString& path) {
    return fileName(path);
}
QByteArray GetFileName(const QByteArray& path) {
    return fileName(path);
}
QString GetFolderPart(const QString& path) {
    return folderPart(path);
}
QByteArray GetFolderPart(const QByteArray& path) {
    return folderPart(path);
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
