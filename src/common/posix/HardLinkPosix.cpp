// Names of one source file copied once: later names become hard links to
// the first copy, made under a fresh hidden name and then given their own
// name exactly as a copy takes one.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

using naming::IdentityOf;

namespace disk {

CopyOutcome LinkToCopy(const Folder& from, const char* fromName, const FileIdentity& expected,
                       const CopyRequest& request, const FileIdentity* source,
                       FileIdentity* placed) {
    if (!from.valid() || !request.destination || !request.destination->valid())
        return {CopyResult::CouldNotPutInPlace, EBADF};
    const int at = from.handle().native();
    const int to = request.destination->handle().native();
    struct stat first {};
    if (::fstatat(at, fromName, &first, AT_SYMLINK_NOFOLLOW) != 0)
        return CopyResult::CouldNotPutInPlace;
    if (!S_ISREG(first.st_mode) || !(IdentityOf(first) == expected))
        return {CopyResult::CouldNotPutInPlace, ESTALE};
    QByteArray hidden;
    for (int attempt = 0; attempt < 10 && hidden.isEmpty(); ++attempt) {
        const QByteArray candidate = naming::FreshTemporaryName(request.name);
        if (::linkat(at, fromName, to, candidate.constData(), 0) == 0)
            hidden = candidate;
        else if (errno != EEXIST)
            return CopyResult::CouldNotPutInPlace;
    }
    if (hidden.isEmpty())
        return CopyResult::CouldNotPutInPlace;
    // The hidden name still the first copy: linked to nothing else.
    struct stat made {};
    if (::fstatat(to, hidden.constData(), &made, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(IdentityOf(made) == expected)) {
        return {CopyResult::CouldNotPutInPlace, ESTALE};
    }
    const CopyOutcome taken =
        naming::TakeName(to, hidden.constData(), request.name, request.seen, source);
    if (!taken.ok()) {
        struct stat now {};
        if (::fstatat(to, hidden.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            IdentityOf(now) == expected)
            ::unlinkat(to, hidden.constData(), 0);
        return taken;
    }
    if (placed)
        *placed = expected;
    return CopyResult::Copied;
}

}  // namespace disk

}  // namespace zandrel::fs
