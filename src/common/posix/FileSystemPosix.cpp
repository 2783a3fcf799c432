// The file layer on Linux: descriptors, *at() calls relative to open folders,
// openat2 where the kernel has it, O_TMPFILE for copies being written.

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/FileSystem.h"

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
    info.permissions = st.st_mode & 0777;
    info.ownerWritable = (st.st_mode & S_IWUSR) != 0;
    info.identity = {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
    return info;
}

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
}

qint64 Nanoseconds(const struct timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void Stamp(const struct stat& st, SourceFile& source) {
    source.modifiedNs = Nanoseconds(st.st_mtim);
    source.changedNs = Nanoseconds(st.st_ctim);
    source.allocated = qint64(st.st_blocks) * 512;
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

// Random hidden names for copies being written: made fresh for every
// attempt, so no file of the user's is ever taken for one.
const char kTemporarySuffix[] = ".zandrel-part";

QByteArray FreshTemporaryName(const char* name) {
    static std::atomic<quint64> counter{0};
    const quint64 n = counter.fetch_add(1, std::memory_order_relaxed);
    char random[40];
    std::snprintf(random, sizeof random, ".%08x%04llx", ::arc4random(),
                  static_cast<unsigned long long>(n & 0xffff));
    constexpr qsizetype kNameMax = 255;
    const qsizetype extra =
        1 + qsizetype(std::strlen(random)) + qsizetype(sizeof kTemporarySuffix) - 1;
    QByteArray base(name);
    if (base.size() + extra > kNameMax)
        base.truncate(kNameMax - extra);
    QByteArray result;
    result.reserve(base.size() + extra);
    result.append('.').append(base).append(random).append(kTemporarySuffix);
    return result;
}

// The copy being written in the destination folder. Where the file system
// allows it has no name (O_TMPFILE) until complete, so a killed run leaves
// nothing; otherwise it carries a fresh hidden name that only this object
// ever removes.
class Temporary {
  public:
    Temporary(const Folder& folder, const char* name) : folder_(folder), name_(name) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() { discard(); }

    bool create(quint32 permissions);
    int fd() const { return fd_.native(); }
    const FileIdentity& identity() const { return identity_; }
    // Puts the file in place at the name; whatever is there is replaced
    // unless it is the source itself.
    CopyResult commit(const FileIdentity* source);

  private:
    bool createNamed(quint32 permissions);
    bool linkAs(const char* name);
    CopyResult replace(const FileIdentity* source);
    void discard();
    int dir() const { return folder_.handle().native(); }

    const Folder& folder_;
    const char* name_;
    Handle fd_;
    QByteArray hidden_;  // the hidden name while the file carries one
    FileIdentity identity_;
};

bool Temporary::create(quint32 permissions) {
    fd_.reset(::openat(dir(), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, permissions & 0777));
    if (!fd_.valid() && !createNamed(permissions))
        return false;
    struct stat st {};
    if (::fstat(fd_.native(), &st) != 0)
        return false;
    identity_ = IdentityOf(st);
    return true;
}

bool Temporary::createNamed(quint32 permissions) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = FreshTemporaryName(name_);
        fd_.reset(::openat(dir(), name.constData(), kFlags, permissions & 0777));
        if (fd_.valid()) {
            hidden_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Gives the unnamed file a name. Linking by descriptor needs a capability
// on older kernels; the descriptor's /proc entry needs none.
bool Temporary::linkAs(const char* name) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd_.native(), "", dir(), name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM && errno != EACCES)
            return false;
        byDescriptor.store(false, std::memory_order_relaxed);
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_.native());
    return ::linkat(AT_FDCWD, proc, dir(), name, AT_SYMLINK_FOLLOW) == 0;
}

CopyResult Temporary::commit(const FileIdentity* source) {
    if (hidden_.isEmpty()) {
        if (linkAs(name_)) {
            if (::close(fd_.release()) == 0)
                return CopyResult::Copied;
            // Nothing was at the name before, so taking it back loses nothing.
            folder_.deleteFile(name_, identity_);
            return CopyResult::WriteFailed;
        }
        if (errno != EEXIST)
            return CopyResult::CouldNotPutInPlace;
        // Something is there: the copy takes a fresh hidden name beside it
        // and is then renamed over it.
        for (int attempt = 0; attempt < 10 && hidden_.isEmpty(); ++attempt) {
            const QByteArray name = FreshTemporaryName(name_);
            if (linkAs(name.constData()))
                hidden_ = name;
            else if (errno != EEXIST)
                return CopyResult::CouldNotPutInPlace;
        }
        if (hidden_.isEmpty())
            return CopyResult::CouldNotPutInPlace;
    }
    if (fd_.valid() && ::close(fd_.release()) != 0)
        return CopyResult::WriteFailed;
    if (::renameat2(dir(), hidden_.constData(), dir(), name_, RENAME_NOREPLACE) == 0) {
        hidden_.clear();
        return CopyResult::Copied;
    }
    // EINVAL: a file system that cannot refuse to replace.
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS)
        return CopyResult::CouldNotPutInPlace;
    return replace(source);
}

CopyResult Temporary::replace(const FileIdentity* source) {
    struct stat there {};
    if (source && ::fstatat(dir(), name_, &there, 0) == 0 && IdentityOf(there) == *source)
        return CopyResult::SameFile;
    if (::renameat(dir(), hidden_.constData(), dir(), name_) != 0)
        return CopyResult::CouldNotPutInPlace;
    hidden_.clear();
    return CopyResult::Copied;
}

// An unnamed file vanishes with its descriptor; a named one is removed, but
// only while the name is still the file made here.
void Temporary::discard() {
    fd_.reset();
    if (!hidden_.isEmpty())
        folder_.deleteFile(hidden_.constData(), identity_);
    hidden_.clear();
}

// Moves up to len bytes at offset from in to out; copy_file_range where the
// file systems allow it, otherwise read and write. Returns the bytes moved,
// 0 at the end of the file, -1 on a read failure and -2 on a write failure.
class ChunkMover {
  public:
    static constexpr ssize_t kReadFailed = -1;
    static constexpr ssize_t kWriteFailed = -2;

    ChunkMover(int in, int out, qint64 lengthAtOpen)
        : in_(in), out_(out), lengthAtOpen_(lengthAtOpen), kernelCopy_(lengthAtOpen > kSmallFile) {}

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
};

mode_t CurrentMask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

}  // namespace

// ---------------------------------------------------------------------------
// Handle and Folder

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

void Handle::reset(int native) {
    if (native_ >= 0)
        ::close(native_);
    native_ = native;
}

FileInfo InfoAt(const QByteArray& path, bool followLink) {
    struct stat st {};
    // A name never holds a NUL byte; the system would see only the text
    // before it and answer for another path.
    if (path.isEmpty() || path.contains('\0') ||
        (followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0)
        return {};
    return InfoOf(st);
}

Folder Folder::openAsNamed(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return {};
    return Folder(Handle(::open(path.constData(), kFolderFlags)));
}

FileInfo Folder::info(const char* name, bool followLink) const {
    struct stat st {};
    if (!valid() ||
        ::fstatat(handle_.native(), name, &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return InfoOf(st);
}

FileInfo Folder::info() const {
    struct stat st {};
    if (!valid() || ::fstat(handle_.native(), &st) != 0)
        return {};
    return InfoOf(st);
}

Folder Folder::child(const char* name) const {
    if (!valid())
        return {};
    return Folder(Handle(OpenChild(handle_.native(), name)));
}

bool Folder::makeChild(const char* name, quint32 permissions) const {
    return valid() && ::mkdirat(handle_.native(), name, permissions & 0777) == 0;
}

bool Folder::setPermissions(quint32 permissions) const {
    // A folder open for its path only takes a mode through its /proc entry.
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", handle_.native());
    return valid() && ::chmod(proc, permissions & 0777) == 0;
}

bool Folder::deleteFile(const char* name, const FileIdentity& expected) const {
    struct stat st {};
    if (!valid() || ::fstatat(handle_.native(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(st.st_mode) || !(IdentityOf(st) == expected))
        return false;
    return ::unlinkat(handle_.native(), name, 0) == 0;
}

bool Folder::removeFolder(const char* name) const {
    return valid() && ::unlinkat(handle_.native(), name, AT_REMOVEDIR) == 0;
}

void Folder::addOwnerWrite(const char* name, const FileInfo* seen) const {
    if (seen && (seen->kind == FileKind::Missing || seen->ownerWritable))
        return;
    struct stat st {};
    if (!valid() || ::fstatat(handle_.native(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        (st.st_mode & S_IWUSR) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return;
    // Refuses a link, should one have been put there meanwhile; a failure
    // shows in the step that needed the bit.
    if (::fchmodat(handle_.native(), name, (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) !=
        0)
        return;
}

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
    root_ = std::move(root);
    current_ = Folder();
    currentPath_.clear();
    fixups_.clear();
}

const Folder* FolderCursor::reach(QByteArrayView relative, const PermissionsFor* permissionsFor) {
    if (!root_.valid())
        return nullptr;
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
    if (current_.valid() && path.size() > currentPath_.size() && path.startsWith(currentPath_) &&
        path.at(currentPath_.size()) == '/') {
        base = current_.handle().native();
        pos = currentPath_.size() + 1;
    }

    Handle found;
    errno = ENAMETOOLONG;
    if (path.size() - pos < PATH_MAX)
        found.reset(OpenBeneath(base, path.constData() + pos));
    if (!found.valid() && (errno == ENOSYS || errno == ENAMETOOLONG || errno == EPERM ||
                           (errno == ENOENT && permissionsFor))) {
        // One name at a time, making what is missing.
        Handle step;
        int at = base;
        while (pos < path.size()) {
            qsizetype end = path.indexOf('/', pos);
            if (end < 0)
                end = path.size();
            const QByteArray name = path.mid(pos, end - pos);
            Handle next(OpenChild(at, name.constData()));
            if (!next.valid() && errno == ENOENT && permissionsFor) {
                const quint32 wanted = (*permissionsFor)(QByteArrayView(path).first(end));
                // The owner keeps full access while files go in; the
                // folder's own permissions follow at finish().
                const quint32 made = wanted | S_IRWXU;
                if (::mkdirat(at, name.constData(), made & 0777) == 0 && made != wanted)
                    fixups_.append({path.left(end), wanted});
                next.reset(OpenChild(at, name.constData()));
            }
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
        current_ = Folder();
        currentPath_.clear();
        return nullptr;
    }
    current_ = Folder(std::move(found));
    currentPath_ = path;
    return &current_;
}

void FolderCursor::finish() {
    // Deepest first, so a folder closed to its owner is not in the way of
    // those below it.
    std::sort(fixups_.begin(), fixups_.end(),
              [](const Fixup& a, const Fixup& b) { return a.path.size() > b.path.size(); });
    for (const Fixup& fixup : fixups_) {
        if (const Folder* folder = reach(fixup.path))
            folder->setPermissions(fixup.permissions);
    }
    fixups_.clear();
    current_ = Folder();
    currentPath_.clear();
}

// ---------------------------------------------------------------------------
// Source files and the block copy

bool OpenSource(const Folder& folder, const char* name, SourceFile& source) {
    source = SourceFile();
    if (!folder.valid())
        return false;
    const int dir = folder.handle().native();
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    source.handle.reset(::openat(dir, name, kFlags | O_NOFOLLOW));
    struct stat st {};
    if (!source.handle.valid()) {
        if (errno != ELOOP)
            return false;
        // A link counts as the file it points to; the link itself is what a
        // Move later deletes, so it is remembered, and must be the same one
        // after it was followed.
        struct stat link {};
        if (::fstatat(dir, name, &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode))
            return false;
        // Nor is a device opened through a link.
        struct stat target {};
        if (::fstatat(dir, name, &target, 0) != 0 || !S_ISREG(target.st_mode))
            return false;
        source.handle.reset(::openat(dir, name, kFlags));
        struct stat again {};
        if (!source.handle.valid() || ::fstatat(dir, name, &again, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(IdentityOf(again) == IdentityOf(link)))
            return false;
        source.nameIdentity = IdentityOf(link);
        source.throughLink = true;
    }
    if (::fstat(source.handle.native(), &st) != 0)
        return false;
    source.info = InfoOf(st);
    if (!source.throughLink)
        source.nameIdentity = source.info.identity;
    Stamp(st, source);
    return true;
}

void AddOwnerWrite(SourceFile& source) {
    if (source.throughLink || source.info.ownerWritable || !source.handle.valid())
        return;
    const int fd = source.handle.native();
    // The change of mode is no change of the contents.
    struct stat st {};
    if (::fchmod(fd, source.info.permissions | S_IWUSR) == 0 && ::fstat(fd, &st) == 0)
        Stamp(st, source);
}

CopyResult CopyFileBlocks(SourceFile& source, const CopyRequest& request,
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
    ChunkMover mover(in, out.fd(), length);
    qint64 position = 0;  // bytes of the source dealt with
    qint64 dataEnd = 0;   // end of the last bytes written
    // Only a file with less storage than its length can have holes.
    bool seekData = source.allocated < length;
    for (;;) {
        // Holes are passed over and stay holes, so sparse files stay small.
        if (seekData) {
            const off_t data = ::lseek(in, position, SEEK_DATA);
            if (data > position) {
                position = data;
            } else if (data < 0 && errno == ENXIO) {
                struct stat now {};
                if (::fstat(in, &now) == 0 && now.st_size > position)
                    position = now.st_size;
            } else if (data < 0) {
                seekData = false;
            }
            if (!showBlocks(position, false))
                return CopyResult::Aborted;
        }
        // One byte more than is left: a shorter answer ending at the length
        // is the end of the file, without another call to find it (a file
        // grown meanwhile fails the check below).
        const size_t ask =
            position < length ? size_t(std::min<qint64>(kChunk, length - position + 1)) : kChunk;
        const ssize_t moved = mover.move(position, ask);
        if (moved == ChunkMover::kReadFailed)
            return CopyResult::ReadFailed;
        if (moved == ChunkMover::kWriteFailed)
            return CopyResult::WriteFailed;
        if (moved == 0)
            break;  // read to the end, whatever the length was before
        position += moved;
        dataEnd = position;
        if (!showBlocks(position, false))
            return CopyResult::Aborted;
        if (size_t(moved) < ask && position == length)
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
    if (dataEnd < position && ::ftruncate(out.fd(), position) != 0)
        return CopyResult::WriteFailed;
    if (placed)
        *placed = out.identity();
    return out.commit(&source.info.identity);
}

bool PutEmptyFile(const CopyRequest& request, const FileIdentity* source, FileIdentity* placed) {
    if (request.seen.exists() && source && request.seen.identity == *source)
        return false;
    Temporary out(*request.destination, request.name);
    if (!out.create(request.permissions))
        return false;
    if (placed)
        *placed = out.identity();
    return out.commit(source) == CopyResult::Copied;
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

bool LooksWritable(const QByteArray& path) {
    QByteArray folder = path.isEmpty() ? QByteArrayLiteral(".") : path;
    for (;;) {
        if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0)
            return true;
        if (errno != ENOENT)
            return false;
        const qsizetype cut = folder.lastIndexOf('/');
        QByteArray up = cut < 0    ? QByteArrayLiteral(".")
                        : cut == 0 ? QByteArrayLiteral("/")
                                   : folder.left(cut);
        if (up == folder)
            return false;
        folder = std::move(up);
    }
}

quint32 Masked(quint32 permissions) {
    return permissions & 0777 & ~static_cast<quint32>(CurrentMask());
}

}  // namespace zandrel::fs
