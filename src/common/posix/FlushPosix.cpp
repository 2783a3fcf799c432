// A batch's flushes on Linux, and what it may hold: the file systems of its
// copies flushed, the descriptors it may keep open, the thread its work
// runs on.

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/PendingCopy.h"

namespace zandrel::fs {

namespace disk {

// A handle opened before the writes it stands for (a copy's own) also
// reports the writes that failed in the background meanwhile.
int FlushFileSystem(const Handle& handle) {
    if (!handle.valid())
        return EBADF;
    return ::syncfs(handle.native()) == 0 ? 0 : errno;
}

Handle Duplicate(const Handle& handle) {
    return Handle(::fcntl(handle.native(), F_DUPFD_CLOEXEC, 0));
}

int LastError() {
    return errno;
}

// The folder itself where it may be read, else an unnamed file made in it
// (a drop box: write and search only).
Handle FlusherIn(const Folder& folder, int& error) {
    const int fd = folder.handle().native();
    Handle own(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!own.valid())
        own.reset(::openat(fd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
    error = own.valid() ? 0 : errno;
    return own;
}

// Descriptors a batch may hold: what the process may still open, after the
// soft limit is raised as far as the hard one allows, less room for the
// run's own work on each file. A process allowed few gets small batches,
// down to one file at a time, rather than copies that fail for want of one.
int HandleBudget() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 64;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 1 << 16);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    int open = 0;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(fds)) open += e->d_name[0] != '.';
        ::closedir(fds);
        --open;  // the listing's own
    } else {
        open = 32;
    }
    const int allowed = int(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
    // The run's own: the folders it has reached at both ends, one file's
    // source and copy, a read-back, the logs. What is left may be none: then
    // each file's batch is done before the next file.
    const int room = std::clamp(allowed / 8, 10, 256);
    return std::max(0, allowed - open - room);
}

bool StartQuietThread(std::thread& thread, std::function<void()> work) {
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    bool started = true;
    try {
        thread = std::thread(std::move(work));
    } catch (const std::system_error&) {
        started = false;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

}  // namespace disk

}  // namespace zandrel::fs
