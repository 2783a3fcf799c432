#include "common/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <type_traits>

#include "common/Host.h"
#include "common/UniqueFd.h"

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
    if (path.size() > 1 && path.endsWith(sep<Text>())) return path.left(path.size() - 1);
    return path;
}

template <typename Text>
Text join(const Text& folder, const Text& name) {
    if (folder.endsWith(sep<Text>())) return folder + name;
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

// A name never holds a NUL byte; the system would see only the text before
// it and answer for another path.
bool statPath(const QByteArray& path, struct stat& st) {
    return !path.isEmpty() && !path.contains('\0') && ::stat(path.constData(), &st) == 0;
}

}  // namespace

bool IsRootPath(const QString& path) { return path == kSeparatorText; }

QString RemoveTrailingSeparator(const QString& path) { return removeTrailing(path); }
QByteArray RemoveTrailingSeparator(const QByteArray& path) { return removeTrailing(path); }
QString JoinPath(const QString& folder, const QString& name) { return join(folder, name); }
QByteArray JoinPath(const QByteArray& folder, const QByteArray& name) { return join(folder, name); }
QString GetFileName(const QString& path) { return fileName(path); }
QByteArray GetFileName(const QByteArray& path) { return fileName(path); }
QString GetFolderPart(const QString& path) { return folderPart(path); }
QByteArray GetFolderPart(const QByteArray& path) { return folderPart(path); }

bool FolderExists(const QByteArray& path) {
    struct stat st {};
    return statPath(path, st) && S_ISDIR(st.st_mode);
}
bool FolderExists(const QString& path) { return FolderExists(EncodePath(path)); }

bool PathExists(const QByteArray& path) {
    struct stat st {};
    return statPath(path, st);
}
bool PathExists(const QString& path) { return PathExists(EncodePath(path)); }

bool CanWriteToFolder(const QString& folderText, Host& host) {
    const QString folder = RemoveTrailingSeparator(folderText);
    const QByteArray folderBytes = EncodePath(folder);
    // A name that is not there yet, so an existing file is never appended to
    // or deleted by the test.
    QByteArray probe;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
        const QByteArray name = attempt == 0 ? QByteArrayLiteral("writetest.dat")
                                             : "writetest" + QByteArray::number(attempt) + ".dat";
        probe = JoinPath(folderBytes.isEmpty() ? QByteArray(".") : folderBytes, name);
        fd.reset(::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd.valid() && errno != EEXIST) break;
    }
    bool ok = fd.valid();
    if (ok) {
        static const char kRecord[] = "\"Write test\"\r\n";
        const ssize_t n = ::write(fd.get(), kRecord, sizeof kRecord - 1);
        ok = n == static_cast<ssize_t>(sizeof kRecord - 1);
        ok = (fd.close() == 0) && ok;
        if (!ok) ::unlink(probe.constData());
    }
    if (!ok) {
        host.message(Icon::Exclamation, QStringLiteral("Error"),
                     QStringLiteral("Could not write to the following folder:\r\n\r\n") + folder);
        return false;
    }
    host.yield();
    ::unlink(probe.constData());
    return true;
}

}  // namespace zandrel
