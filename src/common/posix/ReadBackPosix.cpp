#include "common/posix/ReadBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace zandrel::fs::readback {

namespace {

// Read ahead at once for this much of each copy; a longer one is read on
// in order, with the kernel's own read-ahead.
constexpr qint64 kPrefetch = qint64(4) << 20;
constexpr std::size_t kBufferSize = std::size_t(1) << 20;

// Reads [from, to) of fd into sum; false with outcome set when it could not.
bool ReadInto(int fd, qint64 from, qint64 to, Checksum& sum, const std::atomic<bool>* stop,
              CopyOutcome& outcome) {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer = std::make_unique<char[]>(kBufferSize);
    for (qint64 at = from; at < to;) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            outcome = {CopyResult::Discarded, 0};
            return false;
        }
        const auto want = std::size_t(std::min<qint64>(qint64(kBufferSize), to - at));
        const ssize_t got = ::pread(fd, buffer.get(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // None: shorter than it was written.
            outcome = {CopyResult::VerifyFailed, got < 0 ? errno : 0};
            return false;
        }
        sum.add(buffer.get(), std::size_t(got));
        at += got;
    }
    return true;
}

}  // namespace

void Prepare(int fd, qint64 from, qint64 size) {
    ::posix_fadvise(fd, from, 0, POSIX_FADV_DONTNEED);
    if (size > from)
        ::posix_fadvise(fd, from, std::min(size - from, kPrefetch), POSIX_FADV_WILLNEED);
}

// The copy opened afresh: what the disk holds, not what the descriptor that
// wrote it remembers (a FUSE file system may answer that one from its own
// buffers, rightly or not). Where it cannot be opened again (no /proc, no
// descriptor to spare) the writer's own is read.
Handle OpenAfresh(int fd) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return Handle(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
}

CopyOutcome Compare(int fd, qint64 size, const Checksum::Value& expected,
                    const std::atomic<bool>& stop, ReadBackSoFar partial) {
    const Handle fresh = OpenAfresh(fd);
    const int from = fresh.valid() ? fresh.native() : fd;
    struct stat st {};
    if (::fstat(from, &st) != 0)
        return {CopyResult::VerifyFailed, errno};
    if (st.st_size != size || partial.done > size)
        return {CopyResult::VerifyFailed, 0};
    CopyOutcome outcome;
    if (!ReadInto(from, partial.done, size, partial.sum, &stop, outcome))
        return outcome;
    if (!(partial.sum.value() == expected))
        return {CopyResult::VerifyFailed, 0};
    return CopyResult::Copied;
}

CopyOutcome CopyAgain(int in, int out, qint64 size, const Checksum::Value& expected) {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer = std::make_unique<char[]>(kBufferSize);
    Checksum sum;
    qint64 at = 0;
    while (at < size) {
        const auto want = std::size_t(std::min<qint64>(qint64(kBufferSize), size - at));
        const ssize_t got = ::pread(in, buffer.get(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {CopyResult::ReadFailed, errno};
        if (got == 0)
            return CopyResult::SourceChanged;  // shorter than it was copied
        for (ssize_t put = 0; put < got;) {
            const ssize_t w = ::pwrite(out, buffer.get() + put, std::size_t(got - put), at + put);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return {CopyResult::WriteFailed, w < 0 ? errno : 0};
            put += w;
        }
        sum.add(buffer.get(), std::size_t(got));
        at += got;
    }
    if (!(sum.value() == expected))
        return CopyResult::SourceChanged;
    return CopyResult::Copied;
}

Follower::Follower(int fd) : fd_(fd), thread_([this] { follow(); }) {}

Follower::~Follower() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Follower::written(qint64 upTo) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        wake = upTo - written_ >= kPiece || (upTo / kPiece) != (written_ / kPiece);
        written_ = upTo;
    }
    if (wake)
        wake_.notify_one();
}

void Follower::follow() {
    for (;;) {
        qint64 to = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || written_ - read_.done >= kPiece; });
            if (stopping_)
                return;
            to = written_ / kPiece * kPiece;
        }
        // The piece written to the device, so that it is read from there.
        // (Not a flush of the device's own cache for each piece, which would
        // cost as much again: the batch's flush follows before the name.) A
        // failure is the batch's flush's to tell; the rest is read then.
        if (::sync_file_range(fd_, read_.done, to - read_.done,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0)
            return;
        ::posix_fadvise(fd_, read_.done, to - read_.done, POSIX_FADV_DONTNEED);
        if (!ReadInto(fd_, read_.done, to, read_.sum, nullptr, outcome_))
            return;
        read_.done = to;
    }
}

ReadBackSoFar Follower::finish(CopyOutcome& outcome) {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    outcome = outcome_;
    return std::move(read_);
}

}  // namespace zandrel::fs::readback
