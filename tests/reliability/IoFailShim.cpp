// Preloaded into the headless program to make its file I/O fail or crawl on
// purpose. Only calls on descriptors whose path contains ZANDREL_FAIL_MATCH
// count:
//   ZANDREL_FAIL_OP=read|write  ZANDREL_FAIL_NTH=N   the Nth such call fails
//   ZANDREL_FAIL_OP=delete                           the Nth delete of such a
//                                                    name fails
//   ZANDREL_FAIL_OP=readdir                          the Nth reading of folder
//                                                    entries fails; each reading
//                                                    then returns a few entries
//   ZANDREL_FAIL_OP=syncfs                           the Nth flush of such a
//                                                    descriptor fails, flushing
//                                                    nothing
//   ZANDREL_FAIL_OP=readback                         the Nth reading back of
//                                                    such a copy (the reads after
//                                                    its pages are dropped) sees
//                                                    its first byte flipped
//   ZANDREL_FAIL_NTH=all                             every such call fails
//   ZANDREL_FAIL_ERRNO=5                             with this errno (EIO)
//   ZANDREL_DELAY_US=N                               each such call waits, and
//                                                    each name or delete of such
//                                                    a name
//   ZANDREL_SYNC_DELAY_US=N                          each syncfs waits before it
//                                                    flushes, as on a slow stick:
//                                                    every one without
//                                                    ZANDREL_FAIL_MATCH, else
//                                                    those of such descriptors
//   ZANDREL_NO_COPY_FILE_RANGE=1                     copy_file_range: ENOSYS
//   ZANDREL_TRACE=FILE       syncfs, and links, renames and deletes of names
//                            containing ZANDREL_FAIL_MATCH, one line each, in
//                            the order they happen: "sync", "sync-failed",
//                            "name N", "delete N"; a syncfs made to wait also
//                            writes "sync-start" before it waits
// copy_file_range counts as a read of its source and a write of its target.
// A copy is written into an unnamed file (O_TMPFILE) first: such a file counts
// when the source opened just before it matched, except for syncfs, which goes
// by the descriptor's own path ("/dst/folder/#1234 (deleted)" for such a file).

// Both the plain and the 64-bit entry points are defined here, so the
// declarations must not map one onto the other.
#undef _FILE_OFFSET_BITS

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long kEvery = -1;

struct Config {
    const char* match = nullptr;
    bool failReads = false;
    bool failWrites = false;
    bool failReaddir = false;
    bool failDeletes = false;
    bool failSyncs = false;
    bool flipReadback = false;
    long nth = 0;  // kEvery: every such call
    int error = EIO;
    long delayMicroseconds = 0;
    long syncDelayMicroseconds = 0;
    bool noCopyFileRange = false;
};

const Config& config() {
    static const Config loaded = [] {
        Config c;
        c.match = std::getenv("ZANDREL_FAIL_MATCH");
        if (const char* op = std::getenv("ZANDREL_FAIL_OP")) {
            c.failReads = std::strcmp(op, "read") == 0;
            c.failWrites = std::strcmp(op, "write") == 0;
            c.failReaddir = std::strcmp(op, "readdir") == 0;
            c.failDeletes = std::strcmp(op, "delete") == 0;
            c.failSyncs = std::strcmp(op, "syncfs") == 0;
            c.flipReadback = std::strcmp(op, "readback") == 0;
        }
        if (const char* n = std::getenv("ZANDREL_FAIL_NTH"))
            c.nth = std::strcmp(n, "all") == 0 ? kEvery : std::atol(n);
        if (const char* e = std::getenv("ZANDREL_FAIL_ERRNO"))
            c.error = std::atoi(e);
        if (const char* d = std::getenv("ZANDREL_DELAY_US"))
            c.delayMicroseconds = std::atol(d);
        if (const char* d = std::getenv("ZANDREL_SYNC_DELAY_US"))
            c.syncDelayMicroseconds = std::atol(d);
        c.noCopyFileRange = std::getenv("ZANDREL_NO_COPY_FILE_RANGE") != nullptr;
        return c;
    }();
    return loaded;
}

std::atomic<long> gReads{0};
std::atomic<long> gWrites{0};
std::atomic<long> gReaddirs{0};
std::atomic<long> gDeletes{0};
std::atomic<long> gSyncs{0};
std::atomic<long> gReadbacks{0};
std::atomic<bool> gLastOpenMatched{false};
constexpr int kMaxFd = 65536;
std::atomic<bool> gUnnamedMatches[kMaxFd];
std::atomic<bool> gFlipNext[kMaxFd];  // the next read at offset 0 is a read-back's

bool nameMatches(const char* path) {
    const Config& c = config();
    return c.match && path && std::strstr(path, c.match) != nullptr;
}

// Called after every open: an unnamed file belongs to the source file
// opened before it.
int opened(int fd, const char* path, int flags) {
    if (fd < 0 || fd >= kMaxFd)
        return fd;
    int again = -1;
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        gUnnamedMatches[fd] = gLastOpenMatched.load();
    } else if (path && std::sscanf(path, "/proc/self/fd/%d", &again) == 1 && again >= 0 &&
               again < kMaxFd) {
        // The same file opened afresh (a read-back): it counts as that one.
        gUnnamedMatches[fd] = gUnnamedMatches[again].load();
        gFlipNext[fd] = gFlipNext[again].exchange(false);
    } else if ((flags & O_DIRECTORY) == 0) {
        gUnnamedMatches[fd] = false;
        gLastOpenMatched = nameMatches(path);
    } else {
        gUnnamedMatches[fd] = false;  // a folder opened between a source and its copy
    }
    return fd;
}

// The next call counted by counter is the one to fail.
bool due(std::atomic<long>& counter) {
    const long n = ++counter;
    return config().nth == kEvery || n == config().nth;
}

bool pathMatches(int fd) {
    const Config& c = config();
    if (!c.match || fd < 0)
        return false;
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return false;
    path[n] = '\0';
    return std::strstr(path, c.match) != nullptr;
}

bool matches(int fd) {
    if (!config().match || fd < 0)
        return false;
    if (fd < kMaxFd && gUnnamedMatches[fd])
        return true;
    return pathMatches(fd);
}

void sleepFor(long us) {
    if (us <= 0)
        return;
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void crawl() {
    sleepFor(config().delayMicroseconds);
}

// True when this call is to fail; errno is set then.
bool injected(bool isRead, int fd) {
    if (!matches(fd))
        return false;
    crawl();
    const Config& c = config();
    std::atomic<long>& counter = isRead ? gReads : gWrites;
    const bool armed = isRead ? c.failReads : c.failWrites;
    if (armed && due(counter)) {
        errno = c.error;
        return true;
    }
    return false;
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// The mode an open passes only when it creates a file.
mode_t modeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

}  // namespace

extern "C" {

int openat64(int dir, const char* path, int flags, ...) {
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat64");
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(real(dir, path, flags, mode), path, flags);
}

int openat(int dir, const char* path, int flags, ...) {
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(real(dir, path, flags, mode), path, flags);
}

int open64(const char* path, int flags, ...) {
    static const auto real = next<int (*)(const char*, int, ...)>("open64");
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(real(path, flags, mode), path, flags);
}

int open(const char* path, int flags, ...) {
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return opened(real(path, flags, mode), path, flags);
}

ssize_t read(int fd, void* buf, size_t n) {
    static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    return injected(true, fd) ? -1 : real(fd, buf, n);
}

ssize_t pread64(int fd, void* buf, size_t n, off64_t offset) {
    static const auto real = next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    if (injected(true, fd))
        return -1;
    const ssize_t got = real(fd, buf, n, offset);
    if (got > 0 && offset == 0 && fd >= 0 && fd < kMaxFd && gFlipNext[fd].exchange(false))
        static_cast<unsigned char*>(buf)[0] ^= 0x01;
    return got;
}

// Dropping a file's cached pages marks the reading back of a copy.
int posix_fadvise64(int fd, off64_t offset, off64_t length, int advice) {
    static const auto real = next<int (*)(int, off64_t, off64_t, int)>("posix_fadvise64");
    struct stat st {};
    if (advice == POSIX_FADV_DONTNEED && config().flipReadback && fd >= 0 && fd < kMaxFd &&
        matches(fd) && ::fstat(fd, &st) == 0 && st.st_size > 0 && due(gReadbacks))
        gFlipNext[fd] = true;
    return real(fd, offset, length, advice);
}

int posix_fadvise(int fd, off_t offset, off_t length, int advice) {
    return posix_fadvise64(fd, offset, length, advice);
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    return pread64(fd, buf, n, offset);
}

ssize_t write(int fd, const void* buf, size_t n) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return injected(false, fd) ? -1 : real(fd, buf, n);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t offset) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    return injected(false, fd) ? -1 : real(fd, buf, n, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    return pwrite64(fd, buf, n, offset);
}

ssize_t copy_file_range(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t n,
                        unsigned flags) {
    static const auto real =
        next<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned)>("copy_file_range");
    if (config().noCopyFileRange) {
        errno = ENOSYS;
        return -1;
    }
    if (injected(true, in) || injected(false, out))
        return -1;
    return real(in, inOffset, out, outOffset, n, flags);
}

ssize_t getdents64(int fd, void* buf, size_t n) {
    static const auto real = next<ssize_t (*)(int, void*, size_t)>("getdents64");
    const Config& c = config();
    if (c.failReaddir && matches(fd)) {
        // A few entries at a time, so the failure comes part way.
        n = std::min<size_t>(n, 512);
        if (due(gReaddirs)) {
            errno = c.error;
            return -1;
        }
    }
    return real(fd, buf, n);
}

namespace {

void Trace(const char* what, const char* name) {
    static const char* file = std::getenv("ZANDREL_TRACE");
    if (!file || (name && !nameMatches(name)))
        return;
    if (FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, name ? "%s %s\n" : "%s\n", what, name);
        std::fclose(f);
    }
}

}  // namespace

int syncfs(int fd) {
    static const auto real = next<int (*)(int)>("syncfs");
    const Config& c = config();
    const bool counts = pathMatches(fd);
    if (c.syncDelayMicroseconds > 0 && (!c.match || counts)) {
        Trace("sync-start", nullptr);
        sleepFor(c.syncDelayMicroseconds);
    }
    if (c.failSyncs && counts && due(gSyncs)) {
        Trace("sync-failed", nullptr);
        errno = c.error;
        return -1;
    }
    const int r = real(fd);
    Trace(r == 0 ? "sync" : "sync-failed", nullptr);
    return r;
}

int linkat(int from, const char* path, int to, const char* name, int flags) {
    static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
    if (config().match && nameMatches(name))
        crawl();
    const int r = real(from, path, to, name, flags);
    if (r == 0)
        Trace("name", name);
    return r;
}

int renameat2(int from, const char* path, int to, const char* name, unsigned flags) {
    static const auto real =
        next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    if (config().match && nameMatches(name))
        crawl();
    const int r = real(from, path, to, name, flags);
    if (r == 0)
        Trace("name", name);
    return r;
}

int unlinkat(int dir, const char* name, int flags) {
    static const auto real = next<int (*)(int, const char*, int)>("unlinkat");
    if (config().match && nameMatches(name)) {
        crawl();
        if (config().failDeletes && !(flags & AT_REMOVEDIR) && due(gDeletes)) {
            errno = config().error;
            return -1;
        }
    }
    const int r = real(dir, name, flags);
    if (r == 0 && !(flags & AT_REMOVEDIR))
        Trace("delete", name);
    return r;
}

}  // extern "C"
