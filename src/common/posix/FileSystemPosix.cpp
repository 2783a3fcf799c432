// The file layer on Linux: descriptors, *at() calls relative to open folders,
// openat2 where the kernel has it, O_TMPFILE for copies being written.

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QList>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "common/Batch.h"
#include "common/Checksum.h"
#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/posix/ReadBack.h"
#include "common/posix/Replica.h"
#include "common/posix/TakeName.h"
#include "common/posix/Temporary.h"

namespace zandrel::fs {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::File;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return FileKind::Other;
}

FileInfo InfoOf(const struct stat& st) {
    FileInfo info;
    info.kind = KindOf(st.st_mode);
    info.size = st.st_size;
    info.modified = st.st_mtim.tv_sec;
    info.modifiedNs = replica::Nanoseconds(st.st_mtim);
    info.changedNs = replica::Nanoseconds(st.st_ctim);
    info.permissions = st.st_mode & 0777;
    info.ownerWritable = (st.st_mode & S_IWUSR) != 0;
    info.identity = {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
    return info;
}

// Nothing there, or something that could not be examined: the two must not
// be confused, since a run acts on "nothing there".
FileInfo NotExamined(int error) {
    FileInfo info;
    info.kind = error == ENOENT || error == ENOTDIR ? FileKind::Missing : FileKind::Unknown;
    info.error = error;
    return info;
}

using naming::FreshTemporaryName;
using naming::IdentityOf;
using replica::Nanoseconds;

void Stamp(const struct stat& st, SourceFile& source) {
    source.modifiedNs = Nanoseconds(st.st_mtim);
    source.changedNs = Nanoseconds(st.st_ctim);
    source.accessedNs = Nanoseconds(st.st_atim);
    source.allocated = qint64(st.st_blocks) * 512;
    source.owner = st.st_uid;
    source.group = st.st_gid;
    source.links = static_cast<quint32>(st.st_nlink);
}

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

}  // namespace

namespace {

// Moves up to len bytes at offset from in to out; copy_file_range where the
// file systems allow it, otherwise read and write. Returns the bytes moved,
// 0 at the end of the file, -1 on a read failure and -2 on a write failure.
// With a checksum every byte passes through here, and is added to it as read
// (the holes passed over as zeros).
class ChunkMover {
  public:
    static constexpr ssize_t kReadFailed = -1;
    static constexpr ssize_t kWriteFailed = -2;

    ChunkMover(int in, int out, qint64 lengthAtOpen, Checksum* sum)
        : in_(in),
          out_(out),
          lengthAtOpen_(lengthAtOpen),
          kernelCopy_(lengthAtOpen > kSmallFile && !sum),
          sum_(sum) {}

    // The bytes up to length that no chunk moved: holes.
    void end(qint64 length) {
        if (sum_ && length > summed_)
            sum_->addZeros(length - summed_);
    }

    ssize_t move(off_t offset, size_t len) {
        if (kernelCopy_) {
            for (;;) {
                loff_t inOff = offset;
                loff_t outOff = offset;
                const ssize_t n = ::copy_file_range(in_, &inOff, out_, &outOff, len, 0);
                if (n > 0)
                    return n;
                if (n == 0 && offset >= lengthAtOpen_)
                    return 0;
                if (n == 0)
                    break;  // a file system that moves nothing
                if (errno == EINTR)
                    continue;
                if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
                    return kWriteFailed;
                if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
                    errno != EBADF && errno != ETXTBSY)
                    return kReadFailed;
                break;
            }
            // Reading tells a true end of file from a kernel that declined.
            kernelCopy_ = false;
        }
        // One buffer for all copies of the thread: most files are small and
        // would otherwise each pay for one.
        thread_local std::unique_ptr<char[]> buffer;
        if (!buffer)
            buffer = std::make_unique<char[]>(kBufferSize);
        const size_t want = std::min(len, kBufferSize);
        ssize_t got;
        do {
            got = ::pread(in_, buffer.get(), want, offset);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return kReadFailed;
        if (got == 0)
            return 0;
        if (sum_) {
            end(offset);
            sum_->add(buffer.get(), size_t(got));
            summed_ = offset + got;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::pwrite(out_, buffer.get() + put, got - put, offset + put);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return kWriteFailed;
            put += n;
        }
        return got;
    }

  private:
    // Up to this size one read and one write cost less than the kernel's
    // copy, which goes through a pipe for every call.
    static constexpr qint64 kSmallFile = 64 * 1024;
    static constexpr size_t kBufferSize = 1 << 20;
    int in_;
    int out_;
    qint64 lengthAtOpen_;
    bool kernelCopy_;
    Checksum* sum_;
    qint64 summed_ = 0;
};

// The file-creation mask, read again when a Listing starts (FolderCursor::
// reset) rather than for every file: reading it means setting it twice.
std::atomic<int> g_mask{-1};

mode_t ReadMask() {
    const mode_t m = ::umask(022);
    ::umask(m);
    g_mask.store(int(m), std::memory_order_relaxed);
    return m;
}

// A hole at the end written out, where the file system cannot lengthen a
// file (FAT through FUSE).
bool WriteZeros(int fd, qint64 from, qint64 to) {
    static const char kZeros[65536] = {};
    while (from < to) {
        const ssize_t n =
            ::pwrite(fd, kZeros, size_t(std::min<qint64>(sizeof kZeros, to - from)), from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
    }
    return true;
}

mode_t CurrentMask() {
    const int m = g_mask.load(std::memory_order_relaxed);
    return m >= 0 ? mode_t(m) : ReadMask();
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors

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

QString CopyOutcome::reason() const {
    if (error != 0)
        return ErrorText(error);
    switch (result) {
        case CopyResult::Copied:
            return {};
        case CopyResult::Aborted:
            return QStringLiteral("stopped before it was complete");
        case CopyResult::NotARegularFile:
            return QStringLiteral("not a regular file");
        case CopyResult::SameFile:
            return QStringLiteral("the destination is the file itself");
        case CopyResult::SourceChanged:
            return QStringLiteral("the file changed while it was copied");
        case CopyResult::ReadFailed:
            return QStringLiteral("could not be read");
        case CopyResult::WriteFailed:
            return QStringLiteral("could not be written");
        case CopyResult::CouldNotPutInPlace:
            return QStringLiteral("could not be put in place");
        case CopyResult::NameTaken:
            return QStringLiteral("another file took the name after the copy was decided on");
        case CopyResult::DestinationChanged:
            return QStringLiteral(
                "the file at the destination changed after the copy was decided on");
        case CopyResult::Clash:
            return QStringLiteral(
                "another file of this run has the name (the destination ignores letter case)");
        case CopyResult::Discarded:
            return QStringLiteral("the run was aborted before the copy was on the disk");
        case CopyResult::VerifyFailed:
            return QStringLiteral("the copy read back differs from its source");
    }
    return {};
}

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

Status DeleteFile(const Folder& folder, const char* name, const FileIdentity& expected) {
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

namespace {

// The components of a relative folder path with "." and empty ones dropped
// and ".." taken back; false when ".." would leave the root.
bool Normalise(QByteArrayView relative, QByteArray& out) {
    out.clear();
    QList<qsizetype> starts;
    for (qsizetype pos = 0; pos <= relative.size();) {
        qsizetype end = relative.indexOf('/', pos);
        if (end < 0)
            end = relative.size();
        const QByteArrayView part = relative.sliced(pos, end - pos);
        pos = end + 1;
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (starts.isEmpty())
                return false;
            out.truncate(std::max<qsizetype>(0, starts.takeLast() - 1));
            continue;
        }
        starts.append(out.isEmpty() ? 0 : out.size() + 1);
        if (!out.isEmpty())
            out.append('/');
        out.append(part.data(), part.size());
    }
    return true;
}

}  // namespace

void FolderCursor::reset(Folder root) {
    ReadMask();
    root_ = std::move(root);
    current_ = Folder();
    currentPath_.clear();
    fixups_.clear();
}

const Folder* FolderCursor::reach(QByteArrayView relative, const MirrorOf* mirrorOf) {
    if (!root_.valid()) {
        lastError_ = root_.openError() ? root_.openError() : EBADF;
        return nullptr;
    }
    if (relative.isEmpty())
        return &root_;
    if (current_.valid() && relative == currentPath_)
        return &current_;
    QByteArray path;
    if (!Normalise(relative, path))
        return nullptr;
    if (path.isEmpty())
        return &root_;
    if (current_.valid() && path == currentPath_)
        return &current_;

    // From the latest folder when the new one lies below it.
    int base = root_.handle().native();
    qsizetype pos = 0;
    const Folder* from = &root_;
    if (current_.valid() && path.size() > currentPath_.size() && path.startsWith(currentPath_) &&
        path.at(currentPath_.size()) == '/') {
        base = current_.handle().native();
        pos = currentPath_.size() + 1;
        from = &current_;
    }
    if (root_.overlay_)
        return reachInOverlay(path, pos, *from, mirrorOf);

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
Handle FolderCursor::makeFolder(int at, const char* name, const QByteArray& path,
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

// ---------------------------------------------------------------------------
// Source files and the block copy

int OpenSourceOnDisk(const Folder& folder, const char* name, SourceFile& source) {
    source = SourceFile();
    if (!folder.valid())
        return EBADF;
    const int dir = folder.handle().native();
    // A link is copied as a link, never opened.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
    source.handle.reset(::openat(dir, name, kFlags));
    struct stat st {};
    if (!source.handle.valid())
        return errno;
    if (::fstat(source.handle.native(), &st) != 0)
        return errno;
    source.info = InfoOf(st);
    source.nameIdentity = source.info.identity;
    Stamp(st, source);
    return 0;
}

bool Restamp(SourceFile& source) {
    struct stat now {};
    if (IsVirtual(source.info.identity))
        return true;
    if (!source.handle.valid() || ::fstat(source.handle.native(), &now) != 0)
        return false;
    source.info = InfoOf(now);
    Stamp(now, source);
    return true;
}

bool SourceUnchanged(const SourceFile& source) {
    if (IsVirtual(source.info.identity))
        return true;
    struct stat now {};
    return source.handle.valid() && ::fstat(source.handle.native(), &now) == 0 &&
           now.st_size == source.info.size && Nanoseconds(now.st_mtim) == source.modifiedNs &&
           Nanoseconds(now.st_ctim) == source.changedNs;
}

bool StillAsDecided(const Folder& folder, const char* name, const SourceFile& source,
                    const FileInfo& decided) {
    if (source.handle.valid())
        return SourceUnchanged(source);
    const FileInfo now = folder.info(name, false);
    return now.identity == decided.identity && now.size == decided.size &&
           now.modifiedNs == decided.modifiedNs && now.changedNs == decided.changedNs;
}

namespace disk {

CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed) {
    if (!source.handle.valid() || source.info.kind != FileKind::File)
        return CopyResult::NotARegularFile;
    // Both names may lead to the one file; never replace it by itself (a
    // destination not looked at is checked when the copy is put in place).
    if (request.seen.exists() && request.seen.identity == source.info.identity)
        return CopyResult::SameFile;
    const int in = source.handle.native();
    Temporary out(*request.destination, request.name);
    if (!out.create(request.permissions))
        return CopyResult::WriteFailed;

    // The caller sees blocks of kBlockSize whatever size the chunks have.
    const qint64 length = source.info.size;
    qint64 shown = 0;
    const auto showBlocks = [&](qint64 upTo, bool final) {
        while (upTo - shown >= kBlockSize || (final && upTo > shown)) {
            shown += std::min(kBlockSize, upTo - shown);
            if (!progress(shown, std::max(length, shown)))
                return false;
        }
        return true;
    };

    constexpr size_t kChunk = 1 << 20;
    std::optional<Checksum> sum;
    if (request.verify)
        sum.emplace();
    ChunkMover mover(in, out.fd(), length, sum ? &*sum : nullptr);
    // A long copy is read back as it is written, the rest after the flush.
    std::optional<readback::Follower> follower;
    if (sum && length >= 2 * readback::Follower::kPiece)
        follower.emplace(out.fd());
    qint64 position = 0;  // bytes of the source dealt with
    qint64 dataEnd = 0;   // end of the last bytes written
    // Only a file with less storage than its length can have holes.
    bool seekHoles = source.allocated < length;
    qint64 runEnd = -1;  // where the data at position stops (a hole), when known
    constexpr qint64 kWriteBackStep = qint64(8) << 20;
    qint64 writtenBack = 0;  // the bytes sent to the disk so far
    for (;;) {
        // Holes are passed over and stay holes, so sparse files stay small:
        // each chunk ends where the data does, since copying on would write
        // the hole out as zeros.
        if (seekHoles && position >= runEnd) {
            const off_t data = ::lseek(in, position, SEEK_DATA);
            const off_t hole = data >= 0 ? ::lseek(in, data, SEEK_HOLE) : -1;
            if (data >= position && hole > data) {
                position = data;
                runEnd = hole;
            } else if (data < 0 && errno == ENXIO) {
                struct stat now {};
                if (::fstat(in, &now) == 0 && now.st_size > position)
                    position = now.st_size;
                runEnd = -1;
            } else {
                seekHoles = false;
                runEnd = -1;
            }
            if (!showBlocks(position, false))
                return CopyResult::Aborted;
        }
        // Within a run of data, up to its end; otherwise one byte more than
        // is left: a shorter answer ending at the length is the end of the
        // file, without another call to find it (a file grown meanwhile
        // fails the check below).
        const bool inRun = position < runEnd && runEnd < length;
        const size_t ask = inRun ? size_t(std::min<qint64>(kChunk, runEnd - position))
                           : position < length
                               ? size_t(std::min<qint64>(kChunk, length - position + 1))
                               : kChunk;
        const ssize_t moved = mover.move(position, ask);
        if (moved == ChunkMover::kReadFailed)
            return CopyResult::ReadFailed;
        if (moved == ChunkMover::kWriteFailed)
            return CopyResult::WriteFailed;
        if (moved == 0)
            break;  // read to the end, whatever the length was before
        position += moved;
        dataEnd = position;
        // A long file is sent on its way to the disk as it is written, so
        // that the batch's flush finds little left to write (and a copy to
        // be read back is on the device sooner).
        if (position - writtenBack >= kWriteBackStep) {
            ::sync_file_range(out.fd(), writtenBack, position - writtenBack, SYNC_FILE_RANGE_WRITE);
            writtenBack = position;
        }
        if (follower)
            follower->written(dataEnd);
        if (!showBlocks(position, false))
            return CopyResult::Aborted;
        if (!inRun && size_t(moved) < ask && position == length)
            break;
    }
    if (!showBlocks(position, true))
        return CopyResult::Aborted;
    // A source written to while it was read gives a copy that is neither the
    // old file nor the new one: fail it, so a Move keeps the source.
    struct stat after {};
    if (::fstat(in, &after) != 0 || after.st_size != position ||
        Nanoseconds(after.st_mtim) != source.modifiedNs ||
        Nanoseconds(after.st_ctim) != source.changedNs)
        return CopyResult::SourceChanged;
    if (dataEnd < position && ::ftruncate(out.fd(), position) != 0 &&
        !WriteZeros(out.fd(), dataEnd, position))
        return CopyResult::WriteFailed;
    mover.end(position);
    ReadBackSoFar readSoFar;
    if (follower) {
        CopyOutcome read;
        readSoFar = follower->finish(read);
        if (!read.ok())
            return read;
    }
    out.mirror(&source, request.permissions);
    if (placed)
        *placed = out.identity();
    if (request.batch)
        return request.batch->keep(request, std::make_unique<Temporary>(std::move(out)),
                                   source.info.identity, source.info, position,
                                   sum ? &*sum : nullptr, std::move(readSoFar));
    if (sum) {
        if (::fdatasync(out.fd()) != 0)
            return CopyResult::WriteFailed;
        readback::Prepare(out.fd(), readSoFar.done, position);
        static const std::atomic<bool> never{false};
        if (const CopyOutcome read =
                readback::Compare(out.fd(), position, sum->value(), never, std::move(readSoFar));
            !read.ok())
            return read;
    }
    return out.commit(request.seen, &source.info.identity);
}

CopyOutcome PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                         FileIdentity* placed) {
    if (request.seen.exists() && source && request.seen.identity == *source)
        return CopyResult::SameFile;
    Temporary out(*request.destination, request.name);
    if (!out.create(request.permissions))
        return CopyResult::WriteFailed;
    out.mirror(request.model, request.permissions);
    if (placed)
        *placed = out.identity();
    const Checksum nothing;
    if (request.batch)
        return request.batch->keep(request, std::make_unique<Temporary>(std::move(out)),
                                   source ? *source : FileIdentity(),
                                   request.model ? request.model->info : FileInfo(), 0,
                                   request.verify ? &nothing : nullptr, {});
    return out.commit(request.seen, source);
}

// ---------------------------------------------------------------------------
// Paths by name

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

quint32 Masked(quint32 permissions) {
    return permissions & 0777 & ~static_cast<quint32>(CurrentMask());
}

}  // namespace zandrel::fs
