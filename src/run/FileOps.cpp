#include "run/FileOps.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "run/RunView.h"

namespace zandrel {

QByteArray PathBelowRoot(const QByteArray& path) {
    // Linux: the root "/" stands for the drive, so "/L1/" is the root part.
    if (path.startsWith('/')) {
        const qsizetype p2 = path.indexOf('/', 1);
        return p2 >= 0 ? path.mid(p2 + 1) : path.mid(1);
    }
    // The general rule: a first separator beyond the second character ends
    // the first level, the next one the root part.
    const qsizetype p1 = path.indexOf('/');
    if (p1 >= 2) {
        const qsizetype p2 = path.indexOf('/', p1 + 1);
        return p2 >= 0 ? path.mid(p2 + 1) : path.mid(p1 + 1);
    }
    return {};
}

void MakeSureDirectoryPathExists(const QByteArray& path) {
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

namespace {

void AddOwnerWrite(const QByteArray& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0)
        return;
    if ((st.st_mode & S_IWUSR) == 0)
        ::chmod(path.constData(), (st.st_mode & 07777) | S_IWUSR);
}

// A 64-bit FNV-1a hash, to shorten over-long temporary names repeatably.
quint64 NameHash(const QByteArray& bytes) {
    quint64 h = 14695981039346656037ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

// The copy being written, in the destination's folder. Where the file system
// allows, it has no name at all (O_TMPFILE) until it is complete and linked
// in place, so a killed run leaves nothing behind; otherwise, and to replace
// a file that is there, it carries the hidden temporary name.
class TemporaryFile {
  public:
    TemporaryFile(FileAt destination) : destination_(destination) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() { discard(); }

    bool create();
    int fd() const { return fd_.get(); }
    // Puts the complete copy in place. A file already there is replaced, its
    // attributes set to normal first, unless it is source itself.
    bool commit(const struct stat* source);

  private:
    bool createNamed();
    bool linkTo(const char* name);
    bool replace(const struct stat* source);
    void discard();

    FileAt destination_;
    UniqueFd fd_;
    QByteArray name_;  // the hidden name while the copy carries one
};

bool TemporaryFile::create() {
    // The folder of the destination, as O_TMPFILE needs it.
    QByteArray folder = QByteArrayLiteral(".");
    if (destination_.folder == AT_FDCWD) {
        const char* slash = std::strrchr(destination_.name, '/');
        if (slash)
            folder =
                QByteArray(destination_.name, std::max<qsizetype>(1, slash - destination_.name));
    }
    fd_.reset(
        ::openat(destination_.folder, folder.constData(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666));
    return fd_.valid() || createNamed();
}

// A leftover of an earlier run under the hidden name is removed and the
// creation tried again; O_EXCL never follows a link planted under that name.
bool TemporaryFile::createNamed() {
    name_ = TemporaryCopyName(QByteArray(destination_.name));
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    const int folder = destination_.folder;
    fd_.reset(::openat(folder, name_.constData(), kFlags, 0666));
    if (!fd_.valid() && errno == EEXIST && ::unlinkat(folder, name_.constData(), 0) == 0)
        fd_.reset(::openat(folder, name_.constData(), kFlags, 0666));
    if (!fd_.valid())
        name_.clear();
    return fd_.valid();
}

// Gives the unnamed file a name. Linking by descriptor needs a capability
// on older kernels; the descriptor's /proc entry needs none.
bool TemporaryFile::linkTo(const char* name) {
    static bool byDescriptor = true;
    if (byDescriptor) {
        if (::linkat(fd_.get(), "", destination_.folder, name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM && errno != EACCES)
            return false;
        byDescriptor = false;
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_.get());
    return ::linkat(AT_FDCWD, proc, destination_.folder, name, AT_SYMLINK_FOLLOW) == 0;
}

bool TemporaryFile::commit(const struct stat* source) {
    const int folder = destination_.folder;
    if (name_.isEmpty()) {
        if (linkTo(destination_.name)) {
            if (fd_.close() == 0)
                return true;
            ::unlinkat(folder, destination_.name, 0);  // it was not there before
            return false;
        }
        if (errno != EEXIST)
            return false;
        // Something is there: the copy takes the hidden name beside it first.
        name_ = TemporaryCopyName(QByteArray(destination_.name));
        ::unlinkat(folder, name_.constData(), 0);
        if (!linkTo(name_.constData())) {
            name_.clear();
            return false;
        }
        return fd_.close() == 0 && replace(source);
    }
    if (fd_.close() != 0)
        return false;
    if (::renameat2(folder, name_.constData(), folder, destination_.name, RENAME_NOREPLACE) == 0) {
        name_.clear();
        return true;
    }
    // EINVAL: a file system that cannot refuse to replace.
    return (errno == EEXIST || errno == EINVAL || errno == ENOSYS) && replace(source);
}

bool TemporaryFile::replace(const struct stat* source) {
    const int folder = destination_.folder;
    struct stat there {};
    const bool exists = ::fstatat(folder, destination_.name, &there, 0) == 0;
    if (exists && source && SameFile(there, *source))
        return false;
    if (exists && (there.st_mode & S_IWUSR) == 0)
        ::fchmodat(folder, destination_.name, (there.st_mode & 07777) | S_IWUSR, 0);
    if (::renameat(folder, name_.constData(), folder, destination_.name) != 0)
        return false;
    name_.clear();
    return true;
}

// An unnamed copy vanishes with its descriptor; a named one is removed.
void TemporaryFile::discard() {
    fd_.reset();
    if (!name_.isEmpty())
        ::unlinkat(destination_.folder, name_.constData(), 0);
    name_.clear();
}

// Moves up to len bytes at offset from in to out; copy_file_range where the
// file systems allow it, otherwise read and write. Returns the bytes moved,
// 0 at the end of the file, -1 on failure.
class ChunkMover {
  public:
    ChunkMover(int in, int out, qint64 lengthAtOpen)
        : in_(in), out_(out), lengthAtOpen_(lengthAtOpen) {}

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
                if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
                    errno != EBADF && errno != ETXTBSY)
                    return -1;
                break;
            }
            // Reading tells a true end of file from a kernel that declined.
            kernelCopy_ = false;
        }
        if (!buffer_)
            buffer_ = std::make_unique<char[]>(kBufferSize);
        const size_t want = std::min(len, kBufferSize);
        ssize_t got;
        do {
            got = ::pread(in_, buffer_.get(), want, offset);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return got;
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::pwrite(out_, buffer_.get() + put, got - put, offset + put);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return -1;
            put += n;
        }
        return got;
    }

  private:
    static constexpr size_t kBufferSize = 1 << 20;
    int in_;
    int out_;
    qint64 lengthAtOpen_;
    bool kernelCopy_ = true;
    std::unique_ptr<char[]> buffer_;
};

}  // namespace

void ClearAttributes(const QByteArray& first, const QByteArray& second) {
    AddOwnerWrite(first);
    AddOwnerWrite(second);
}

QByteArray TemporaryCopyName(const QByteArray& destination) {
    const qsizetype cut = destination.lastIndexOf('/') + 1;
    QByteArrayView name = QByteArrayView(destination).sliced(cut);
    constexpr qsizetype kNameMax = 255;
    const qsizetype extra = 1 + kTemporarySuffix.size();
    QByteArray hash;
    if (name.size() + extra > kNameMax) {
        hash = '~' + QByteArray::number(NameHash(name.toByteArray()), 16).rightJustified(16, '0');
        name = name.first(kNameMax - extra - hash.size());
    }
    QByteArray temporary;
    temporary.reserve(cut + 1 + name.size() + hash.size() + kTemporarySuffix.size());
    temporary.append(QByteArrayView(destination).first(cut));
    temporary.append('.');
    temporary.append(name);
    temporary.append(hash);
    temporary.append(kTemporarySuffix);
    return temporary;
}

bool EnsureFileExists(const QByteArray& path) {
    TemporaryFile empty(FileAt{AT_FDCWD, path.constData()});
    if (!empty.create() || !empty.commit(nullptr))
        return false;
    return PathExists(path);
}

FileAt OpenFolder::locate(const QByteArray& path) {
    const qsizetype cut = path.lastIndexOf('/') + 1;
    if (cut <= 0 || cut == path.size())
        return {AT_FDCWD, path.constData()};
    if (folder_.size() != cut || !path.startsWith(folder_)) {
        folder_ = path.left(cut);
        fd_.reset(::open(folder_.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd_.valid())
        return {AT_FDCWD, path.constData()};
    return {fd_.get(), path.constData() + cut};
}

bool OpenFolder::stat(const QByteArray& path, struct stat& st) {
    const FileAt at = locate(path);
    return ::fstatat(at.folder, at.name, &st, 0) == 0;
}

void OpenFolder::forget() {
    folder_.clear();
    fd_.reset();
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool CopyFileBlocks(const QByteArray& source, const QByteArray& destination, Host& host,
                    RunView& view, RunProgress& progress) {
    struct stat st {};
    if (::stat(source.constData(), &st) != 0)
        return false;
    return CopyFileBlocks(FileAt{AT_FDCWD, source.constData()}, st,
                          FileAt{AT_FDCWD, destination.constData()}, nullptr, host, view, progress);
}

bool CopyFileBlocks(FileAt source, const struct stat& sourceStat, FileAt destination,
                    const struct stat* destinationStat, Host& host, RunView& view,
                    RunProgress& progress) {
    // A FIFO, socket or device is never opened for copying, and an empty
    // file is left to the caller's zero-length rule.
    if (!S_ISREG(sourceStat.st_mode) || sourceStat.st_size == 0)
        return false;
    const qint64 length = sourceStat.st_size;
    view.BeginFileProgress(length);

    UniqueFd in(::openat(source.folder, source.name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (!in.valid() || ::fstat(in.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return false;
    // Both names may lead to the one file; never replace it by itself (a
    // destination not looked at yet is checked when the copy is put in place).
    if (destinationStat && SameFile(opened, *destinationStat))
        return false;

    TemporaryFile out(destination);
    if (!out.create())
        return false;
    // Whatever was written goes with the temporary file.
    const auto fail = [] { return false; };

    // The view sees 4096-byte blocks whatever size the chunks below have.
    qint64 shown = 0;
    const auto showBlocks = [&](qint64 upTo, bool final) {
        while (upTo - shown >= kCopyBlockSize || (final && upTo > shown)) {
            host.yield();
            if (host.abortRequested())
                return false;
            const qint64 block = std::min(kCopyBlockSize, upTo - shown);
            shown += block;
            progress.RunBytesCopied += static_cast<double>(block);
            view.ShowBlockProgress(shown, std::max(length, shown));
        }
        return true;
    };

    constexpr size_t kChunk = 1 << 20;
    ChunkMover mover(in.get(), out.fd(), opened.st_size);
    qint64 position = 0;  // bytes of the source dealt with
    qint64 dataEnd = 0;   // end of the last bytes written
    // Only a file with fewer blocks than its length can have holes.
    bool seekData = static_cast<qint64>(opened.st_blocks) * 512 < opened.st_size;
    for (;;) {
        // Holes are passed over and stay holes, so sparse files stay small.
        if (seekData) {
            const off_t data = ::lseek(in.get(), position, SEEK_DATA);
            if (data > position) {
                position = data;
            } else if (data < 0 && errno == ENXIO) {
                struct stat now {};
                if (::fstat(in.get(), &now) == 0 && now.st_size > position)
                    position = now.st_size;
            } else if (data < 0) {
                seekData = false;
            }
            if (!showBlocks(position, false))
                return fail();
        }
        const ssize_t moved = mover.move(position, kChunk);
        if (moved < 0)
            return fail();
        if (moved == 0)
            break;  // read to the end, whatever the length was before
        position += moved;
        dataEnd = position;
        if (!showBlocks(position, false))
            return fail();
    }
    if (!showBlocks(position, true))
        return fail();
    // A source written to while it was read gives a copy that is neither the
    // old file nor the new one: fail it, so a Move keeps the source.
    struct stat after {};
    if (::fstat(in.get(), &after) != 0 || after.st_size != position ||
        after.st_mtim.tv_sec != opened.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != opened.st_mtim.tv_nsec ||
        after.st_ctim.tv_sec != opened.st_ctim.tv_sec ||
        after.st_ctim.tv_nsec != opened.st_ctim.tv_nsec)
        return fail();
    if (dataEnd < position && ::ftruncate(out.fd(), position) != 0)
        return fail();
    if (!out.commit(&opened))
        return false;
    view.EndFileProgress();
    return true;
}

}  // namespace zandrel
