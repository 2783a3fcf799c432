// What the file layer on Linux leaves to no other file: the system's error
// texts, and paths by name (a probe file, folders made as "mkdir -p" makes
// them).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Disk.h"
#include "common/FileSystem.h"

namespace zandrel::fs {

// ---------------------------------------------------------------------------
// Errors

namespace error {
const int kNotFound = ENOENT;
const int kNotAFolder = ENOTDIR;
const int kIsAFolder = EISDIR;
const int kNotEmpty = ENOTEMPTY;
const int kTooManyLinks = ELOOP;
const int kAccessDenied = EACCES;
const int kIoError = EIO;
const int kReplaced = ESTALE;
const int kBadHandle = EBADF;
const int kNoDescriptor = EMFILE;
const int kNoDescriptorAnywhere = ENFILE;
}  // namespace error

QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

CopyOutcome::CopyOutcome(CopyResult r) : result(r) {
    switch (r) {
        case CopyResult::ReadFailed:
        case CopyResult::WriteFailed:
        case CopyResult::CouldNotPutInPlace:
            error = errno;
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Paths by name

namespace disk {

bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving) {
    const QByteArray base = folder.isEmpty() ? QByteArrayLiteral(".") : folder;
    const QByteArray prefix = base.endsWith('/') ? base : base + '/';
    // A name that is not there yet, so an existing file is never appended to
    // or deleted by the test.
    QByteArray probe;
    Handle fd;
    for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
        probe = prefix + (attempt == 0 ? QByteArrayLiteral("writetest.dat")
                                       : "writetest" + QByteArray::number(attempt) + ".dat");
        fd.reset(
            ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd.valid() && errno != EEXIST)
            break;
    }
    if (!fd.valid())
        return false;
    static const char kRecord[] = "\"Write test\"\r\n";
    const ssize_t n = ::write(fd.native(), kRecord, sizeof kRecord - 1);
    const bool ok = n == static_cast<ssize_t>(sizeof kRecord - 1) && ::close(fd.release()) == 0;
    if (ok && beforeRemoving)
        beforeRemoving();
    ::unlink(probe.constData());
    return ok;
}

void MakeFolderPath(const QByteArray& path) {
    const qsizetype last = path.lastIndexOf('/');
    if (last <= 0)
        return;
    const QByteArray folder = path.left(last);
    // Usually the folder or its parent is there: one call settles it.
    if (::mkdir(folder.constData(), 0777) == 0 || errno != ENOENT)
        return;
    for (qsizetype i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder.at(i) == '/')
            ::mkdir(folder.left(i).constData(), 0777);
    }
}

int AccessForWriting(const QByteArray& path) {
    return ::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

}  // namespace disk

}  // namespace zandrel::fs
