// Names of one source file copied once: later names become hard links to
// the first copy, made through a handle of that copy under a fresh hidden
// name and then given their own name exactly as a copy takes one.

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/win/Nt.h"
#include "common/win/TakeName.h"

namespace zandrel::fs {

namespace disk {

CopyOutcome LinkToCopy(const Folder& from, const char* fromName, const FileIdentity& expected,
                       const CopyRequest& request, const FileIdentity* source,
                       FileIdentity* placed) {
    if (!from.valid() || !request.destination || !request.destination->valid())
        return {CopyResult::CouldNotPutInPlace, ERROR_INVALID_HANDLE};
    const HANDLE to = request.destination->handle().native();
    // Linked through the handle looked at: to the first copy, never to
    // something put at its name meanwhile.
    win::OpenRequest open;
    open.access = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    int error = 0;
    Handle first(win::OpenNoLink(from.handle().native(), fromName, open, error));
    if (!first.valid() && error == ERROR_ACCESS_DENIED) {
        open.access = FILE_READ_ATTRIBUTES;
        first.reset(win::OpenNoLink(from.handle().native(), fromName, open, error));
    }
    if (!first.valid())
        return {CopyResult::CouldNotPutInPlace, error};
    win::Stat st;
    if ((error = win::StatOf(first.native(), st)) != 0)
        return {CopyResult::CouldNotPutInPlace, error};
    if (win::KindOf(st) != FileKind::File || !(win::IdentityOf(st) == expected))
        return {CopyResult::CouldNotPutInPlace, error::kReplaced};
    QByteArray hidden;
    for (int attempt = 0; attempt < 10 && hidden.isEmpty(); ++attempt) {
        const QByteArray candidate = naming::FreshTemporaryName(request.name);
        error = win::LinkByHandle(first.native(), to, candidate);
        if (error == 0)
            hidden = candidate;
        else if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return {CopyResult::CouldNotPutInPlace, error};
    }
    if (hidden.isEmpty())
        return {CopyResult::CouldNotPutInPlace, error};
    // The new name held open, so that it is renamed or removed as itself.
    win::OpenRequest name;
    name.access = DELETE | FILE_READ_ATTRIBUTES;
    name.options = win::kNoReparse;
    const Handle made(win::OpenAt(to, hidden, name, error));
    win::Stat now;
    if (!made.valid() || win::StatOf(made.native(), now) != 0 ||
        !(win::IdentityOf(now) == expected))
        return {CopyResult::CouldNotPutInPlace, made.valid() ? error::kReplaced : error};
    const CopyOutcome taken =
        naming::TakeName(to, made.native(), request.name, request.seen, source);
    if (!taken.ok()) {
        win::DeleteByHandle(made.native());
        return taken;
    }
    if (placed)
        *placed = expected;
    return CopyResult::Copied;
}

}  // namespace disk

}  // namespace zandrel::fs
