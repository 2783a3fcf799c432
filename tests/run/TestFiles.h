#pragma once
// Small file-system helpers for the run's tests: byte paths, nanosecond
// times, and the search for temporary copies left behind.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <ostream>

#include "common/FileSystem.h"
#include "support/TempTree.h"

// Readable failure messages for Qt's texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}
QT_END_NAMESPACE

namespace zandrel::test {

inline bool WriteBytes(const QByteArray& path, const QByteArray& bytes) {
    fs::Handle fd(::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    return fd.valid() && ::write(fd.native(), bytes.constData(), bytes.size()) == bytes.size();
}

inline QByteArray ReadBytes(const QByteArray& path) {
    fs::Handle fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QByteArray out;
    if (!fd.valid())
        return out;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd.native(), buf, sizeof buf)) > 0;) out.append(buf, n);
    return out;
}

inline void SetMtime(const QString& path, qint64 seconds, long nanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
    ::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0);
}

inline qint64 MtimeSeconds(const QString& path) {
    struct stat st {};
    ::stat(path.toUtf8().constData(), &st);
    return st.st_mtim.tv_sec;
}

// Every name below folder that ends in the temporary suffix.
inline QList<QByteArray> TemporaryLeftovers(const QByteArray& folder) {
    QList<QByteArray> found;
    for (const QByteArray& name : EntryNames(folder)) {
        const QByteArray path = folder + '/' + name;
        if (name.endsWith(".zandrel-part"))
            found << path;
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            found += TemporaryLeftovers(path);
    }
    return found;
}

// Removes everything below folder by byte names, never following a link;
// Qt's own removal cannot name entries that are not valid UTF-8.
inline void RemoveTreeContents(const QByteArray& folder) {
    for (const QByteArray& name : EntryNames(folder)) {
        const QByteArray path = folder + '/' + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            ::chmod(path.constData(), 0755);
            RemoveTreeContents(path);
            ::rmdir(path.constData());
        } else {
            ::unlink(path.constData());
        }
    }
}

}  // namespace zandrel::test
