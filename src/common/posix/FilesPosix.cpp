// Whole files on Linux: new files that take their name when complete, and
// files read from the start, never blocking.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>

#include "common/FileSystem.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

bool NewFile::create() {
    const int dir = folder_.handle().native();
    handle_.reset(::openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644));
    if (!handle_.valid() && errno != EOPNOTSUPP && errno != EISDIR)
        return false;
    if (!handle_.valid() && !withHiddenName([&](const char* name) {
            handle_.reset(
                ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
            return handle_.valid();
        }))
        return false;
    struct stat st {};
    if (::fstat(handle_.native(), &st) != 0)
        return false;
    identity_ = {quint64(st.st_dev), quint64(st.st_ino)};
    return true;
}

bool NewFile::write(QByteArrayView bytes) {
    for (qsizetype done = 0; ok_ && done < bytes.size();) {
        const ssize_t n = ::write(handle_.native(), bytes.data() + done,
                                  static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok_ = n > 0;
        done += n;
    }
    return ok_;
}

bool NewFile::finish() {
    if (!ok_ || ::fsync(handle_.native()) != 0)
        return false;
    const int dir = folder_.handle().native();
    if (hidden_.isEmpty() && !withHiddenName([&](const char* name) {
            return naming::LinkUnnamed(handle_.native(), dir, name);
        }))
        return false;
    return ::close(handle_.release()) == 0;
}

bool NewFile::renameTo(const char* name) {
    const int dir = folder_.handle().native();
    if (::renameat(dir, hidden_.constData(), dir, name) != 0)
        return false;
    hidden_.clear();
    return true;
}

bool NewFile::withHiddenName(const std::function<bool(const char*)>& make) {
    // The first name is fixed so that tests can plant something there.
    const auto nameFor = [](int attempt) {
        QByteArray name = ".zandrel-log.new";
        if (attempt > 0)
            name += '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        return name;
    };
    return naming::MakeUnderHiddenName(nameFor, make, hidden_, 20);
}

// A hidden name is removed only while it is still the file made here.
void NewFile::discard() {
    handle_.reset();
    if (!hidden_.isEmpty())
        folder_.deleteFile(hidden_.constData(), identity_);
    hidden_.clear();
}

int ReadOnlyFile::open(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return ENOENT;
    handle_.reset(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!handle_.valid() || ::fstat(handle_.native(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    size_ = st.st_size;
    return 0;
}

qint64 ReadOnlyFile::read(char* buffer, qint64 length) {
    for (;;) {
        const ssize_t n = ::read(handle_.native(), buffer, static_cast<size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool ReadOnlyFile::rewind() {
    return ::lseek(handle_.native(), 0, SEEK_SET) == 0;
}

}  // namespace zandrel::fs
