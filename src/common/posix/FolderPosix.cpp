// Folders on Linux: reached through descriptors and *at() calls relative to
// open folders, with openat2 where the kernel has it, never through a link.

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/posix/Replica.h"
#include "common/posix/Stat.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// openat2 resolves a whole path without links in one call; kernels before
// 5.6 (or a filter that forbids it) get the walk one name at a time.
std::atomic<bool> g_haveOpenat2{true};

int OpenBeneath(int folder, const char* path) {
    if (!g_haveOpenat2.load(std::memory_order_relaxed)) {
        errno = ENOSYS;
        return -1;
    }
    struct open_how how {};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, folder, path, &how, sizeof how);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM))
        g_haveOpenat2.store(false, std::memory_order_relaxed);
    return static_cast<int>(fd);
}

// One name, never a link: O_DIRECTORY refuses the link that O_NOFOLLOW
// would otherwise open as itself.
int OpenChild(int folder, const char* name) {
    return ::openat(folder, name, kFolderFlags | O_NOFOLLOW);
}

// The file-creation mask, read again when a Listing starts (FolderCursor::
// reset) rather than for every file: reading it means setting it twice.
std::atomic<int> g_mask{-1};

mode_t ReadMask() {
    const mode_t m = ::umask(022);
    ::umask(m);
    g_mask.store(int(m), std::memory_order_relaxed);
    return m;
}

mode_t CurrentMask() {
    const int m = g_mask.load(std::memory_order_relaxed);
    return m >= 0 ? mode_t(m) : ReadMask();
}

using naming::IdentityOf;

}  // namespace

// ---------------------------------------------------------------------------
// Handle and Folder

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

void Handle::reset(NativeHandle native) {
    if (native_ >= 0)
        ::close(native_);
    native_ = native;
}

namespace disk {

FileInfo InfoAt(const QByteArray& path, bool followLink) {
    struct stat st {};
    // A name never holds a NUL byte; the system would see only the text
    // before it and answer for another path.
    if (path.isEmpty() || path.contains('\0'))
        return NotExamined(ENOENT);
    if ((followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

Folder OpenFolder(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return Folder(Handle(), ENOENT);
    Handle handle(::open(path.constData(), kFolderFlags));
    const int error = handle.valid() ? 0 : errno;
    return Folder(std::move(handle), error);
}

FileInfo InfoIn(const Folder& folder, const char* name, bool followLink) {
    struct stat st {};
    if (!folder.handle().valid())
        return NotExamined(EBADF);
    if (::fstatat(folder.handle().native(), name, &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

FileInfo FolderInfo(const Folder& folder) {
    struct stat st {};
    if (!folder.handle().valid())
        return NotExamined(EBADF);
    if (::fstat(folder.handle().native(), &st) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

Folder Child(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return Folder(Handle(), EBADF);
    Handle handle(OpenChild(folder.handle().native(), name));
    const int error = handle.valid() ? 0 : errno;
    return Folder(std::move(handle), error);
}

bool MakeChild(const Folder& folder, const char* name, quint32 permissions) {
    return folder.handle().valid() &&
           ::mkdirat(folder.handle().native(), name, permissions & 0777) == 0;
}

bool SetPermissions(const Folder& folder, quint32 permissions) {
    // A folder open for its path only takes a mode through its /proc entry.
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", folder.handle().native());
    return folder.handle().valid() && ::chmod(proc, permissions & 0777) == 0;
}

Status DeleteEntry(const Folder& folder, const char* name, const FileIdentity& expected) {
    struct stat st {};
    if (!folder.handle().valid())
        return {EBADF};
    if (::fstatat(folder.handle().native(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno};
    if (S_ISDIR(st.st_mode))
        return {EISDIR};
    // Another file than the one copied stands at the name now.
    if (!(IdentityOf(st) == expected))
        return {ESTALE};
    return {::unlinkat(folder.handle().native(), name, 0) == 0 ? 0 : errno};
}

Status RemoveFolder(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return {EBADF};
    return {::unlinkat(folder.handle().native(), name, AT_REMOVEDIR) == 0 ? 0 : errno};
}

}  // namespace disk

// Asked for every file, so known once; a test that changes the process's
// user forgets it.
std::atomic<int> g_privileged{-1};

bool IsPrivileged() {
    int known = g_privileged.load(std::memory_order_relaxed);
    if (known < 0) {
        known = ::geteuid() == 0 ? 1 : 0;
        g_privileged.store(known, std::memory_order_relaxed);
    }
    return known == 1;
}

void ForgetPrivilege() {
    g_privileged.store(-1, std::memory_order_relaxed);
}

namespace disk {

int WriteAccess(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return EBADF;
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", folder.handle().native());
    if (::faccessat(AT_FDCWD, proc, W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    if (!name)
        return 0;
    // In a sticky folder only the owner of the entry or of the folder (or
    // root) may delete it.
    struct stat dir {};
    struct stat entry {};
    if (IsPrivileged() || ::fstat(folder.handle().native(), &dir) != 0 || !(dir.st_mode & S_ISVTX))
        return 0;
    if (::fstatat(folder.handle().native(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return entry.st_uid == ::geteuid() || dir.st_uid == ::geteuid() ? 0 : EPERM;
}

int ReadEntries(const Folder& folder, const EntryVisit& visit) {
    if (!folder.handle().valid())
        return EBADF;
    // The folder is held for its path only; reading needs it open for
    // reading, which "." of it gives without looking its name up again.
    const Handle fd(::openat(folder.handle().native(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    constexpr std::size_t kBufferSize = 64 * 1024;
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer = std::make_unique<char[]>(kBufferSize);
    for (;;) {
        const ssize_t n = ::getdents64(fd.native(), buffer.get(), kBufferSize);
        if (n < 0 && errno == EINTR)
            continue;
        // An error part way is no end of the folder.
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (ssize_t pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer.get() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            const std::size_t size = std::strlen(name);
            if (name[0] == '.' && (size == 1 || (size == 2 && name[1] == '.')))
                continue;
            FileKind kind;
            switch (d->d_type) {
                case DT_REG:
                    kind = FileKind::File;
                    break;
                case DT_DIR:
                    kind = FileKind::Folder;
                    break;
                case DT_LNK:
                    kind = FileKind::Link;
                    break;
                case DT_UNKNOWN: {
                    struct stat st {};
                    kind = ::fstatat(fd.native(), name, &st, AT_SYMLINK_NOFOLLOW) == 0
                               ? KindOf(st.st_mode)
                               : FileKind::Unknown;
                    break;
                }
                default:
                    kind = FileKind::Other;
                    break;
            }
            visit(name, size, kind);
        }
    }
}

Handle OpenBelow(const Folder& from, const QByteArray& path) {
    if (!from.handle().valid() || path.size() >= PATH_MAX)
        return Handle();
    return Handle(OpenBeneath(from.handle().native(), path.constData()));
}

}  // namespace disk

// ---------------------------------------------------------------------------
// FolderCursor

void FolderCursor::reset(Folder root) {
    ReadMask();
    root_ = std::move(root);
    current_ = Folder();
    currentPath_.clear();
    fixups_.clear();
}

const Folder* FolderCursor::reachOnDisk(const QByteArray& path, qsizetype pos, const Folder& from,
                                        const MirrorOf* mirrorOf) {
    const int base = from.handle().native();

    Handle found;
    errno = ENAMETOOLONG;
    if (path.size() - pos < PATH_MAX)
        found.reset(OpenBeneath(base, path.constData() + pos));
    if (!found.valid() && (errno == ENOSYS || errno == ENAMETOOLONG || errno == EPERM ||
                           (errno == ENOENT && mirrorOf))) {
        // One name at a time, making what is missing.
        Handle step;
        int at = base;
        while (pos < path.size()) {
            qsizetype end = path.indexOf('/', pos);
            if (end < 0)
                end = path.size();
            const QByteArray name = path.mid(pos, end - pos);
            Handle next(OpenChild(at, name.constData()));
            if (!next.valid() && errno == ENOENT && mirrorOf)
                next = makeFolder(at, name.constData(), path.left(end), *mirrorOf);
            if (!next.valid())
                break;
            step = std::move(next);
            at = step.native();
            pos = end + 1;
        }
        if (pos >= path.size())
            found = std::move(step);
    }
    if (!found.valid()) {
        lastMissing_ = errno == ENOENT;
        lastError_ = errno;
        current_ = Folder();
        currentPath_.clear();
        return nullptr;
    }
    current_ = Folder(std::move(found));
    currentPath_ = path;
    return &current_;
}

// A folder made like its model: the owner keeps full access while files go
// in, and the folder gets its own permissions and its model's times at
// finish(). Root's is closed to others until it has its owner; a user's gets
// its permissions from mkdir, since a later change would drop a set-group-ID
// bit inherited from a folder of a group the user is not in.
Handle FolderCursor::makeFolder(NativeHandle at, const char* name, const QByteArray& path,
                                const MirrorOf& mirrorOf) {
    const Folder* model = mirrorOf(path);
    struct stat from {};
    if (!model || ::fstat(model->handle().native(), &from) != 0 || !S_ISDIR(from.st_mode)) {
        ::mkdirat(at, name, kDefaultFolderPermissions);
        return Handle(OpenChild(at, name));
    }
    quint32 atCreation = S_IRWXU;
    if (!IsPrivileged()) {
        struct stat parent {};
        const gid_t group =
            ::fstat(at, &parent) == 0 && (parent.st_mode & S_ISGID) ? parent.st_gid : ::getegid();
        atCreation |= Masked(from.st_mode & 0777) & (group == from.st_gid ? 0777u : ~070u);
    }
    const bool made = ::mkdirat(at, name, atCreation) == 0;
    Handle folder(OpenChild(at, name));
    struct stat st {};
    if (!made || !folder.valid() || ::fstat(folder.native(), &st) != 0)
        return folder;
    const quint32 permissions =
        replica::MirrorAttributes({model->handle().native(), true}, from.st_uid, from.st_gid,
                                  {folder.native(), true}, st, from.st_mode & 0777, S_IRWXU);
    // A set-group-ID bit inherited from the destination stays: it is the
    // destination's rule for the groups of what is made in it.
    fixups_.append({path, (permissions & S_IRWXU) != S_IRWXU, permissions | (st.st_mode & S_ISGID),
                    replica::Nanoseconds(from.st_atim), replica::Nanoseconds(from.st_mtim)});
    return folder;
}

void FolderCursor::finishOnDisk() {
    // Deepest first, so a folder closed to its owner is not in the way of
    // those below it.
    std::sort(fixups_.begin(), fixups_.end(),
              [](const Fixup& a, const Fixup& b) { return a.path.size() > b.path.size(); });
    for (const Fixup& fixup : fixups_) {
        const Folder* folder = reach(fixup.path);
        if (!folder)
            continue;
        const replica::Node node{folder->handle().native(), true};
        if (fixup.setPermissions)
            replica::SetMode(node, fixup.permissions);
        replica::SetTimes(node, fixup.accessedNs, fixup.modifiedNs);
    }
    fixups_.clear();
    current_ = Folder();
    currentPath_.clear();
}

quint32 Masked(quint32 permissions) {
    return permissions & 0777 & ~static_cast<quint32>(CurrentMask());
}

}  // namespace zandrel::fs
