// Copying a file's data on Linux: copy_file_range where the file systems
// allow it, holes kept, written into a copy that waits for its name.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <optional>

#include "common/Checksum.h"
#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/posix/ReadBack.h"
#include "common/posix/Replica.h"
#include "common/posix/Stat.h"
#include "common/posix/TakeName.h"
#include "common/posix/Temporary.h"

namespace zandrel::fs {

using replica::Nanoseconds;

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

}  // namespace

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
                           const BlockProgress& progress, FileIdentity* placed,
                           WaitingCopy* waiting) {
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
    out.mirror(&source, request.permissions,
               replica::FolderGivesAcl(request.destination->handle().native(),
                                       request.destination->identity()));
    if (placed)
        *placed = out.identity();
    if (waiting) {
        *waiting = WaitingCopy::Copied(std::make_unique<Temporary>(std::move(out)), source,
                                       position, sum ? &*sum : nullptr, std::move(readSoFar));
        return CopyResult::Copied;
    }
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
                         FileIdentity* placed, WaitingCopy* waiting) {
    if (request.seen.exists() && source && request.seen.identity == *source)
        return CopyResult::SameFile;
    Temporary out(*request.destination, request.name);
    if (!out.create(request.permissions))
        return CopyResult::WriteFailed;
    out.mirror(request.model, request.permissions);
    if (placed)
        *placed = out.identity();
    if (waiting) {
        *waiting = WaitingCopy::Empty(std::make_unique<Temporary>(std::move(out)), source, request);
        return CopyResult::Copied;
    }
    return out.commit(request.seen, source);
}

}  // namespace disk

}  // namespace zandrel::fs
