#include "run/FileOps.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Creates the temporary file afresh: a leftover is removed and the creation
// tried again; O_EXCL never follows a link planted under that name.
UniqueFd CreateTemporary(const QByteArray& temporary) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    UniqueFd fd(::open(temporary.constData(), kFlags, 0666));
    if (!fd.valid() && errno == EEXIST && ::unlink(temporary.constData()) == 0)
        fd.reset(::open(temporary.constData(), kFlags, 0666));
    return fd;
}

// Closes and renames the finished temporary file over destination.
bool Commit(UniqueFd& out, const QByteArray& temporary, const QByteArray& destination) {
    if (out.close() != 0 || ::rename(temporary.constData(), destination.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
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
    const QByteArray folder = GetFolderPart(destination);
    QByteArray name = GetFileName(destination);
    constexpr qsizetype kNameMax = 255;
    const qsizetype extra = 1 + kTemporarySuffix.size();
    if (name.size() + extra > kNameMax) {
        const QByteArray hash = QByteArray::number(NameHash(name), 16).rightJustified(16, '0');
        name = name.left(kNameMax - extra - 1 - hash.size()) + '~' + hash;
    }
    return folder + '.' + name + kTemporarySuffix;
}

bool EnsureFileExists(const QByteArray& path) {
    const QByteArray temporary = TemporaryCopyName(path);
    UniqueFd out = CreateTemporary(temporary);
    if (!out.valid() || !Commit(out, temporary, path))
        return false;
    return PathExists(path);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool CopyFileBlocks(const QByteArray& source, const QByteArray& destination, Host& host,
                    RunView& view, RunProgress& progress) {
    struct stat st {};
    if (::stat(source.constData(), &st) != 0)
        return false;
    struct stat target {};
    const bool targetThere = ::stat(destination.constData(), &target) == 0;
    return CopyFileBlocks(source, st, destination, targetThere ? &target : nullptr, host, view,
                          progress);
}

bool CopyFileBlocks(const QByteArray& source, const struct stat& sourceStat,
                    const QByteArray& destination, const struct stat* destinationStat, Host& host,
                    RunView& view, RunProgress& progress) {
    // A FIFO, socket or device is never opened for copying, and an empty
    // file is left to the caller's zero-length rule.
    if (!S_ISREG(sourceStat.st_mode) || sourceStat.st_size == 0)
        return false;
    const qint64 length = sourceStat.st_size;
    view.BeginFileProgress(length);

    UniqueFd in(::open(source.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (!in.valid() || ::fstat(in.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return false;
    // Both names may lead to the one file; never replace it by itself.
    if (destinationStat && SameFile(opened, *destinationStat))
        return false;

    const QByteArray temporary = TemporaryCopyName(destination);
    UniqueFd out = CreateTemporary(temporary);
    if (!out.valid())
        return false;
    const auto fail = [&] {
        out.reset();
        ::unlink(temporary.constData());
        return false;
    };

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
    ChunkMover mover(in.get(), out.get(), opened.st_size);
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
    if (dataEnd < position && ::ftruncate(out.get(), position) != 0)
        return fail();
    if (!Commit(out, temporary, destination))
        return false;
    view.EndFileProgress();
    return true;
}

}  // namespace zandrel
