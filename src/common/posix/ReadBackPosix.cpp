#include "common/posix/ReadBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace zandrel::fs::readback {

namespace {

// Read ahead at once for this much of each copy; a longer one is read on
// in order, with the kernel's own read-ahead.
constexpr qint64 kPrefetch = qint64(4) << 20;
constexpr std::size_t kBufferSize = std::size_t(1) << 20;

}  // namespace

void Prepare(int fd, qint64 size) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (size > 0)
        ::posix_fadvise(fd, 0, std::min(size, kPrefetch), POSIX_FADV_WILLNEED);
}

CopyOutcome Compare(int fd, qint64 size, const Checksum::Value& expected,
                    const std::atomic<bool>& stop) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {CopyResult::VerifyFailed, errno};
    if (st.st_size != size)
        return {CopyResult::VerifyFailed, 0};
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer = std::make_unique<char[]>(kBufferSize);
    Checksum sum;
    for (qint64 at = 0; at < size;) {
        if (stop.load(std::memory_order_relaxed))
            return {CopyResult::Discarded, 0};
        const auto want = std::size_t(std::min<qint64>(qint64(kBufferSize), size - at));
        const ssize_t got = ::pread(fd, buffer.get(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {CopyResult::VerifyFailed, errno};
        if (got == 0)
            return {CopyResult::VerifyFailed, 0};  // shorter than it was written
        sum.add(buffer.get(), std::size_t(got));
        at += got;
    }
    if (!(sum.value() == expected))
        return {CopyResult::VerifyFailed, 0};
    return CopyResult::Copied;
}

}  // namespace zandrel::fs::readback
