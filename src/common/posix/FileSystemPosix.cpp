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

#include "common/Checksum.h"
#include "common/FileSystem.h"
#include "common/Overlay.h"
#include "common/posix/ReadBack.h"
#include "common/posix/Replica.h"
#include "common/posix/TakeName.h"

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

// The copy being written in the destination folder. Where the file system
// allows it has no name (O_TMPFILE) until complete, so a killed run leaves
// nothing; otherwise it carries a fresh hidden name that only this object
// ever removes.
class Temporary {
  public:
    Temporary(const Folder& folder, const char* name)
        : dir_(folder.handle().native()), nameBytes_(name), name_(nameBytes_.constData()) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    Temporary(Temporary&& other) noexcept
        : dir_(other.dir_),
          ownDir_(std::move(other.ownDir_)),
          nameBytes_(std::move(other.nameBytes_)),
          name_(nameBytes_.constData()),
          fd_(std::move(other.fd_)),
          hidden_(std::move(other.hidden_)),
          identity_(other.identity_),
          made_(other.made_),
          createdNamed_(other.createdNamed_) {
        times_[0] = other.times_[0];
        times_[1] = other.times_[1];
        other.hidden_.clear();
    }
    ~Temporary() { discard(); }

    bool create(quint32 permissions);
    int fd() const { return fd_.native(); }
    // Makes the finished file a replica of model (see CopyFileBlocks) with
    // these permissions before the file-creation mask; without a model it
    // gets the permissions only.
    void mirror(const SourceFile* model, quint32 permissions);
    const FileIdentity& identity() const { return identity_; }
    // Puts the file in place at the name as decided: seen is what stood
    // there then (Missing: a free name, which is taken without replacing
    // anything); the source itself is never replaced.
    CopyOutcome commit(const FileInfo& seen, const FileIdentity* source);
    quint64 device() const { return quint64(made_.st_dev); }
    // What stands at the name now (nothing: a zero identity).
    FileIdentity identityAtName() const;
    // Holds a folder descriptor of its own (shared with the other copies
    // waiting in that folder), so that it can wait for its name after the
    // caller's folder is closed.
    void detach(std::shared_ptr<const Handle> folder) {
        dir_ = folder->native();
        ownDir_ = std::move(folder);
    }
    int folderDescriptor() const { return dir_; }
    const QByteArray& name() const { return nameBytes_; }

  private:
    bool createNamed();
    bool linkAs(const char* name);
    CopyResult renamed();
    void discard();
    int dir() const { return dir_; }
    void unlinkIfMine(const char* name);

    int dir_;
    std::shared_ptr<const Handle> ownDir_;
    QByteArray nameBytes_;
    const char* name_;
    Handle fd_;
    QByteArray hidden_;  // the hidden name while the file carries one
    FileIdentity identity_;
    struct stat made_ {};
    bool createdNamed_ = false;
    struct timespec times_[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
};

// An unnamed file cannot be opened by anyone, so it may have its final
// permissions at once; a named one is its owner's alone until it is like
// its source. Both are open for reading too, to be read back.
bool Temporary::create(quint32 permissions) {
    fd_.reset(::openat(dir(), ".", O_RDWR | O_TMPFILE | O_CLOEXEC, permissions & 0777));
    if (!fd_.valid() && !createNamed())
        return false;
    if (::fstat(fd_.native(), &made_) != 0)
        return false;
    identity_ = IdentityOf(made_);
    return true;
}

void Temporary::mirror(const SourceFile* model, quint32 permissions) {
    const replica::Node copy{fd_.native(), false};
    if (!model || !model->handle.valid()) {
        if ((made_.st_mode & 0777) != Masked(permissions))
            ::fchmod(fd_.native(), Masked(permissions));
        // Known by name only (an empty file that could not be opened): its
        // modification time still holds.
        if (model && model->modifiedNs != 0) {
            const struct timespec times[2] = {{0, UTIME_NOW}, replica::Timespec(model->modifiedNs)};
            if (::futimens(fd_.native(), times) == 0) {
                times_[0] = times[0];
                times_[1] = times[1];
            }
        }
        return;
    }
    replica::MirrorAttributes({model->handle.native(), false}, model->owner, model->group, copy,
                              made_, permissions);
    // After the last write and the last change of attributes.
    if (replica::SetTimes(copy, model->accessedNs, model->modifiedNs)) {
        times_[0] = replica::Timespec(model->accessedNs);
        times_[1] = replica::Timespec(model->modifiedNs);
    }
}

bool Temporary::createNamed() {
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = FreshTemporaryName(name_);
        fd_.reset(::openat(dir(), name.constData(), kFlags, 0600));
        if (fd_.valid()) {
            hidden_ = name;
            createdNamed_ = true;
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

CopyOutcome Temporary::commit(const FileInfo& seen, const FileIdentity* source) {
    if (hidden_.isEmpty()) {
        // Linking never replaces: a free name is taken at once.
        if (!seen.exists()) {
            if (linkAs(name_)) {
                if (::close(fd_.release()) == 0)
                    return CopyResult::Copied;
                // Nothing was at the name before, so taking it back loses nothing.
                unlinkIfMine(name_);
                return CopyResult::WriteFailed;
            }
            return errno == EEXIST ? CopyOutcome(CopyResult::NameTaken, 0)
                                   : CopyOutcome(CopyResult::CouldNotPutInPlace);
        }
        // A file to replace: the copy takes a fresh hidden name beside it.
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
    const CopyOutcome taken = naming::TakeName(dir(), hidden_.constData(), name_, seen, source);
    if (!taken.ok())
        return taken;
    renamed();
    return CopyResult::Copied;
}

FileIdentity Temporary::identityAtName() const {
    struct stat st {};
    if (::fstatat(dir_, name_, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    return IdentityOf(st);
}

// Some file systems without unnamed files (FUSE ones) give a renamed file
// the time of the rename: it gets its source's again, never through a link.
CopyResult Temporary::renamed() {
    hidden_.clear();
    if (createdNamed_ && times_[1].tv_nsec != UTIME_OMIT)
        ::utimensat(dir(), name_, times_, AT_SYMLINK_NOFOLLOW);
    return CopyResult::Copied;
}

// An unnamed file vanishes with its descriptor; a named one is removed, but
// only while the name is still the file made here.
void Temporary::discard() {
    fd_.reset();
    if (!hidden_.isEmpty())
        unlinkIfMine(hidden_.constData());
    hidden_.clear();
}

void Temporary::unlinkIfMine(const char* name) {
    struct stat st {};
    if (::fstatat(dir(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
        IdentityOf(st) == identity_)
        ::unlinkat(dir(), name, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Batches: copies on the disk before their names, names before the deletes
//
// The run's thread gathers a batch (work) and hands it to commit(); the
// work thread then owns that Work alone, and writes back only workOutcomes
// and unflushed, which the run's thread reads after joining it. pending,
// deleting, their copies for the work under way (pendingThere,
// deletingThere), folders and the counts are the run's thread's alone. The
// control of an abort and working are shared, under the mutex.

namespace {

using SharedHandle = std::shared_ptr<const Handle>;

// 0, or why the file system of fd could not be flushed. A descriptor opened
// before the writes it stands for (a copy's own) also reports the writes
// that failed in the background meanwhile.
int FlushFileSystem(const SharedHandle& fd) {
    if (!fd || !fd->valid())
        return EBADF;
    return ::syncfs(fd->native()) == 0 ? 0 : errno;
}

SharedHandle Duplicate(int fd) {
    auto own = std::make_shared<Handle>(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    return own->valid() ? own : SharedHandle();
}

// Descriptors a batch may hold: what the process may still open, after the
// soft limit is raised as far as the hard one allows, less room for the
// run's own work on each file. A process allowed few gets small batches,
// down to one file at a time, rather than copies that fail for want of one.
int DescriptorBudget() {
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
    // The walk, the logs, the window and one file's copy.
    const int room = std::clamp(allowed / 8, 16, 256);
    return std::max(6, allowed - open - room);
}

QByteArray IdentityKey(const FileIdentity& id) {
    return QByteArray(reinterpret_cast<const char*>(&id), sizeof id);
}

}  // namespace

struct Batch::Impl {
    struct Copy {
        int ticket;
        std::unique_ptr<Temporary> file;
        FileIdentity source;
        FileInfo seen;  // what stood at the name when it was decided on
        bool failed = false;
        bool verify = false;
        Checksum::Value sum;  // of what was read from the source
        qint64 size = 0;
        readback::Partial readSoFar;  // while it was written
    };
    struct Delete {
        int ticket;
        Handle folder;
        QByteArray name;
        SourceFile source;  // held open: it must be unchanged at the delete
        FileInfo decided;
    };
    struct Named {  // a link that took its name at once
        int ticket;
        quint64 device;
    };
    using Flushers = std::map<quint64, SharedHandle>;  // by device
    // Names made whose flush was left to the next commit: their outcomes
    // wait for it.
    struct Unflushed {
        Flushers flushers;
        std::vector<std::pair<int, quint64>> tickets;  // and their devices
        QHash<int, Outcome> outcomes;
        bool empty() const { return tickets.empty(); }
    };
    enum class Control { Go, Hold, Discard };

    // What one commit does, on a thread of its own.
    struct Work {
        std::vector<Copy> copies;
        std::vector<Delete> deletes;
        std::vector<Named> named;
        Flushers flushers;                 // a flushable descriptor per device
        std::map<quint64, int> noFlusher;  // devices without one, and why
        Flushers sourceFlushers;           // flushed after the deletes, when durable
        bool deletedBefore = false;        // by an earlier commit, not yet flushed
        Unflushed earlier;
        bool namesMayWait = false;
        bool empty() const {
            return copies.empty() && deletes.empty() && named.empty() &&
                   (sourceFlushers.empty() || !deletedBefore) && (namesMayWait || earlier.empty());
        }
        void run(Impl& b, QHash<int, Outcome>& outcomes, Unflushed& left);
        void flushEarlier(const std::map<quint64, int>& flushed, const QSet<quint64>& pinpointed,
                          QHash<int, Outcome>& outcomes);
        void verify(const Impl& b, QHash<int, Outcome>& outcomes);
    };

    Work work;                            // being gathered
    QHash<QByteArray, FileInfo> pending;  // by folder identity and name
    QSet<QByteArray> deleting;            // the same
    QHash<QByteArray, SharedHandle> folders;
    Flushers sourceFlushers;  // Move sources' devices since the last durable commit
    bool deletedSinceDurable = false;
    Unflushed unflushed;
    qint64 bytes = 0;
    int descriptors = 0;
    int budget = 0;

    std::thread worker;
    QHash<QByteArray, FileInfo> pendingThere;
    QSet<QByteArray> deletingThere;
    QHash<int, Outcome> workOutcomes;  // the worker's, read once it is joined
    Unflushed workUnflushed;           // the same
    QHash<int, Outcome> done;          // outcomes not yet taken
    int workerDescriptors = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool working = false;
    Control control = Control::Go;
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> discarding{false};  // stops a read-back under way

    ~Impl() {
        {
            const std::lock_guard lock(mutex);
            if (control == Control::Hold)
                control = Control::Discard;
        }
        changed.notify_all();
        join();
    }
    int heldDescriptors() const;
    // Before each name: whether it may be made, waiting while held.
    Control gate() {
        if (!stopAsked.load(std::memory_order_acquire))
            return Control::Go;
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return control != Control::Hold; });
        return control;
    }
    void setControl(Control c) {
        {
            const std::lock_guard lock(mutex);
            if (control == Control::Discard)
                return;
            control = c;
            stopAsked.store(c != Control::Go, std::memory_order_release);
            discarding.store(c == Control::Discard, std::memory_order_relaxed);
        }
        changed.notify_all();
    }
    void join() {
        if (worker.joinable()) {
            worker.join();
            unflushed = std::exchange(workUnflushed, {});
        }
        for (const Outcome& o : std::as_const(workOutcomes))
            deletedSinceDurable = deletedSinceDurable || (o.deleteTried && o.deleted.ok());
        done.insert(std::exchange(workOutcomes, {}));
        pendingThere.clear();
        deletingThere.clear();
        workerDescriptors = 0;
    }

    static QByteArray keyOf(const FileIdentity& folder, QByteArrayView name) {
        QByteArray key = IdentityKey(folder);
        key.append(name.data(), name.size());
        return key;
    }

    // A descriptor through which device can be flushed: one on it already,
    // else the folder itself where it may be read, else an unnamed file made
    // in it; without one its names fail.
    void flusherFor(const Folder& folder) {
        const quint64 device = folder.identity().device;
        if (work.flushers.count(device) || work.noFlusher.count(device))
            return;
        const int fd = folder.handle().native();
        auto own = std::make_shared<Handle>(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!own->valid())
            own->reset(::openat(fd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
        if (!own->valid()) {
            work.noFlusher[device] = errno;
            return;
        }
        work.flushers[device] = std::move(own);
        ++descriptors;
    }

    // sum: what was read from the source, when the copy is to be read back;
    // readSoFar: what was read back of it already.
    CopyOutcome keep(const CopyRequest& request, Temporary& out, const FileIdentity& source,
                     const FileInfo& like, qint64 size, const Checksum* sum,
                     readback::Partial readSoFar = {}) {
        const Folder& in = *request.destination;
        const FileIdentity folder = in.identity();
        SharedHandle& shared = folders[IdentityKey(folder)];
        if (!shared) {
            shared = Duplicate(out.folderDescriptor());
            if (!shared)
                return CopyResult::CouldNotPutInPlace;
            ++descriptors;
        }
        // The first copy on a device flushes it: opened before its writes,
        // it reports those that fail.
        SharedHandle& flusher = work.flushers[out.device()];
        if (!flusher) {
            flusher = Duplicate(out.fd());
            if (!flusher)
                return CopyResult::CouldNotPutInPlace;
            ++descriptors;
        }
        auto kept = std::make_unique<Temporary>(std::move(out));
        kept->detach(shared);
        ++descriptors;
        // It has its source's time already, and gets its name as it is.
        FileInfo info = like;
        info.kind = FileKind::File;
        info.size = size;
        info.identity = kept->identity();
        pending.insert(keyOf(folder, kept->name()), info);
        Copy copy{request.ticket, std::move(kept), source, request.seen, false, false, {}, 0, {}};
        if (sum) {
            copy.verify = true;
            copy.sum = sum->value();
            copy.size = size;
            bytes += size - readSoFar.done;  // read once more
            copy.readSoFar = std::move(readSoFar);
        }
        work.copies.push_back(std::move(copy));
        bytes += size;
        return CopyResult::Copied;
    }
};

// Names flushed now that an earlier commit left unflushed get their
// outcomes: failed where the flush failed and no copy of this one was found
// to be the cause.
void Batch::Impl::Work::flushEarlier(const std::map<quint64, int>& flushed,
                                     const QSet<quint64>& pinpointed,
                                     QHash<int, Outcome>& outcomes) {
    std::vector<std::pair<int, quint64>> still;
    for (const auto& [ticket, device] : earlier.tickets) {
        const auto it = flushed.find(device);
        if (it == flushed.end()) {
            still.emplace_back(ticket, device);
            continue;
        }
        Outcome o = earlier.outcomes.take(ticket);
        if (it->second != 0 && !pinpointed.contains(device))
            o.copy = {CopyResult::WriteFailed, it->second};
        outcomes.insert(ticket, o);
    }
    earlier.tickets = std::move(still);
}

// The flushed copies to be verified read back from the device: all asked for
// first, then compared one by one. One that differs fails and is never named;
// an abort confirmed meanwhile leaves the rest to be discarded.
void Batch::Impl::Work::verify(const Impl& b, QHash<int, Outcome>& outcomes) {
    for (const Copy& c : copies)
        if (c.verify && !c.failed)
            readback::Prepare(c.file->fd(), c.readSoFar.done, c.size);
    for (Copy& c : copies) {
        if (!c.verify || c.failed)
            continue;
        const CopyOutcome read =
            readback::Compare(c.file->fd(), c.size, c.sum, b.discarding, std::move(c.readSoFar));
        if (read == CopyResult::Discarded)
            return;
        if (!read.ok()) {
            outcomes[c.ticket].copy = read;
            c.failed = true;
        } else {
            outcomes[c.ticket].verified = true;
        }
    }
}

// The data first, so that no name can ever show a short file; the names
// next, so that no moved file is lost with its source (copies alone may
// leave theirs to the next flush); the deletes last.
void Batch::Impl::Work::run(Impl& b, QHash<int, Outcome>& outcomes, Unflushed& left) {
    std::map<quint64, int> flushed;  // device: 0, or the flush's error
    QSet<quint64> pinpointed;        // where a copy's own flush found the failure
    if (!copies.empty()) {
        for (const auto& [device, fd] : flushers) flushed[device] = FlushFileSystem(fd);
        for (const auto& [device, fd] : earlier.flushers) {
            if (!flushed.count(device))
                flushed[device] = FlushFileSystem(fd);
        }
        for (Copy& c : copies) {
            if (flushed[c.file->device()] != 0 && ::fdatasync(c.file->fd()) != 0) {
                outcomes[c.ticket].copy = {CopyResult::WriteFailed, errno};
                c.failed = true;
                pinpointed.insert(c.file->device());
            }
        }
        for (Copy& c : copies) {
            const int error = flushed[c.file->device()];
            if (error != 0 && !c.failed && !pinpointed.contains(c.file->device())) {
                outcomes[c.ticket].copy = {CopyResult::WriteFailed, error};
                c.failed = true;
            }
        }
        flushEarlier(flushed, pinpointed, outcomes);
        verify(b, outcomes);
    }

    QSet<QByteArray> namedHere;
    std::set<quint64> namedDevices;
    std::vector<std::pair<int, quint64>> namedTickets;
    for (Copy& c : copies) {
        if (c.failed)
            continue;
        Outcome& o = outcomes[c.ticket];
        if (b.gate() == Control::Discard) {
            o.copy = {CopyResult::Discarded, 0};
            continue;
        }
        o.copy = c.file->commit(c.seen, c.source.inode ? &c.source : nullptr);
        // Taken by another copy of this run: a name the file system does
        // not tell from it (letter case).
        if (o.copy == CopyResult::NameTaken &&
            namedHere.contains(IdentityKey(c.file->identityAtName())))
            o.copy = {CopyResult::Clash, 0};
        if (o.copy.ok()) {
            namedHere.insert(IdentityKey(c.file->identity()));
            namedDevices.insert(c.file->device());
            namedTickets.emplace_back(c.ticket, c.file->device());
        }
    }
    copies.clear();  // closes what did not take its name
    for (const Named& n : named) {
        if (const auto it = noFlusher.find(n.device); it != noFlusher.end())
            outcomes[n.ticket].copy = {CopyResult::WriteFailed, it->second};
        else
            namedDevices.insert(n.device);
        namedTickets.emplace_back(n.ticket, n.device);
    }

    if (namesMayWait && deletes.empty() && named.empty()) {
        left = std::move(earlier);
        for (const quint64 device : namedDevices) left.flushers.emplace(device, flushers[device]);
        for (const auto& [ticket, device] : namedTickets) {
            left.tickets.emplace_back(ticket, device);
            left.outcomes.insert(ticket, outcomes.take(ticket));
        }
        return;
    }
    std::map<quint64, int> namesFlushed;
    for (const quint64 device : namedDevices)
        namesFlushed[device] = FlushFileSystem(flushers[device]);
    for (const auto& [device, fd] : earlier.flushers) {
        if (!namesFlushed.count(device))
            namesFlushed[device] = FlushFileSystem(fd);
    }
    // A name that may not be on the disk: the copy stays, but counts as
    // failed, and a Move keeps its source.
    for (const auto& [ticket, device] : namedTickets) {
        const int error = namesFlushed.count(device) ? namesFlushed[device] : 0;
        Outcome& o = outcomes[ticket];
        if (error != 0 && o.copy.ok())
            o.copy = {CopyResult::WriteFailed, error};
    }
    flushEarlier(namesFlushed, {}, outcomes);

    bool deleted = deletedBefore;
    if (!deletes.empty()) {
        // Each only once its copy is named and on the disk.
        for (Delete& d : deletes) {
            Outcome& o = outcomes[d.ticket];
            if (!o.copy.ok())
                continue;
            o.deleteTried = true;
            Folder folder(std::move(d.folder));
            if (!StillAsDecided(folder, d.name.constData(), d.source, d.decided)) {
                o.deleted = {EBUSY};
                o.changed = true;
                continue;
            }
            d.source.handle.reset();
            o.deleted = folder.deleteFile(d.name.constData(), d.decided.identity);
            deleted = deleted || o.deleted.ok();
        }
    }
    // The deletes on the disk before the run says it is finished; a flush
    // that fails here loses nothing (a source may come back).
    if (deleted)
        for (const auto& [device, fd] : sourceFlushers) FlushFileSystem(fd);
}

Batch::Batch() : impl_(std::make_unique<Impl>()) {
    impl_->budget = DescriptorBudget();
}
Batch::~Batch() = default;

bool Batch::empty() const {
    const Impl::Work& w = impl_->work;
    // Names waiting only for a flush are on the disk for every decision.
    return w.copies.empty() && w.deletes.empty() && w.named.empty() && !impl_->worker.joinable();
}

// Descriptors held now: the batch's, the work's, and the flushers kept
// between commits.
int Batch::Impl::heldDescriptors() const {
    return descriptors + workerDescriptors + int(sourceFlushers.size() + unflushed.flushers.size());
}

bool Batch::full() const {
    const Impl& b = *impl_;
    return b.work.copies.size() + b.work.deletes.size() >= kMaxFiles || b.bytes >= kMaxBytes ||
           b.heldDescriptors() >= b.budget;
}

bool Batch::overfull() const {
    const Impl& b = *impl_;
    return b.work.copies.size() + b.work.deletes.size() >= kGrowth * kMaxFiles ||
           b.bytes >= kGrowth * kMaxBytes || b.heldDescriptors() >= b.budget;
}

const FileInfo* Batch::pending(const FileIdentity& folder, QByteArrayView name) const {
    if (impl_->pending.isEmpty() && impl_->pendingThere.isEmpty())
        return nullptr;
    const QByteArray key = Impl::keyOf(folder, name);
    // The later copy first.
    for (const QHash<QByteArray, FileInfo>* map : {&impl_->pending, &impl_->pendingThere}) {
        const auto it = map->constFind(key);
        if (it != map->constEnd())
            return &*it;
    }
    return nullptr;
}

bool Batch::touches(const FileIdentity& folder, QByteArrayView name) const {
    const QByteArray key = Impl::keyOf(folder, name);
    return impl_->pending.contains(key) || impl_->deleting.contains(key) ||
           impl_->pendingThere.contains(key) || impl_->deletingThere.contains(key);
}

bool Batch::deletes(const FileIdentity& folder, QByteArrayView name) const {
    if (impl_->deleting.isEmpty() && impl_->deletingThere.isEmpty())
        return false;
    const QByteArray key = Impl::keyOf(folder, name);
    return impl_->deleting.contains(key) || impl_->deletingThere.contains(key);
}

void Batch::deleteAfter(int ticket, const Folder& folder, const char* name, SourceFile&& source,
                        const FileInfo& decided) {
    Impl& b = *impl_;
    if (source.handle.valid()) {
        SharedHandle& flusher = b.sourceFlushers[source.info.identity.device];
        if (!flusher && (flusher = Duplicate(source.handle.native())))
            ++b.descriptors;
    }
    b.descriptors += 2;
    b.deleting.insert(Impl::keyOf(folder.identity(), name));
    Impl::Delete d{ticket, Handle(::fcntl(folder.handle().native(), F_DUPFD_CLOEXEC, 0)),
                   QByteArray(name), std::move(source), decided};
    b.work.deletes.push_back(std::move(d));
}

void Batch::namedAt(int ticket, const Folder& folder) {
    impl_->flusherFor(folder);
    impl_->work.named.push_back({ticket, folder.identity().device});
}

void Batch::commit(Names names) {
    Impl& b = *impl_;
    b.join();  // at once: the caller waited for idle()
    Impl::Work work = std::exchange(b.work, {});
    work.earlier = std::exchange(b.unflushed, {});
    work.namesMayWait = names == Names::MayWait;
    if (!work.namesMayWait) {
        work.sourceFlushers = std::exchange(b.sourceFlushers, {});
        work.deletedBefore = std::exchange(b.deletedSinceDurable, false);
    }
    b.pendingThere = std::exchange(b.pending, {});
    b.deletingThere = std::exchange(b.deleting, {});
    b.workerDescriptors = b.descriptors;
    b.folders.clear();
    b.bytes = 0;
    b.descriptors = 0;
    if (work.empty()) {
        b.unflushed = std::move(work.earlier);
        return;
    }
    {
        const std::lock_guard lock(b.mutex);
        b.working = true;
    }
    auto run = [&b, work = std::make_shared<Impl::Work>(std::move(work))]() mutable {
        work->run(b, b.workOutcomes, b.workUnflushed);
        work.reset();  // its descriptors closed before the run's thread is told
        {
            const std::lock_guard lock(b.mutex);
            b.working = false;
        }
        b.changed.notify_all();
    };
    // Stop signals go to the run's thread, never to this one.
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    try {
        b.worker = std::thread(std::move(run));
    } catch (const std::system_error&) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        run();  // no thread to be had: done here, meanwhile
        b.unflushed = std::exchange(b.workUnflushed, {});
        return;
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool Batch::idle() const {
    const std::lock_guard lock(impl_->mutex);
    return !impl_->working;
}

bool Batch::waitFor(int milliseconds) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [this] { return !impl_->working; });
}

QHash<int, Batch::Outcome> Batch::take() {
    if (!idle())
        return {};
    impl_->join();
    return std::exchange(impl_->done, {});
}

QHash<int, Batch::Outcome> Batch::finish() {
    impl_->join();
    return std::exchange(impl_->done, {});
}

void Batch::hold() {
    impl_->setControl(Impl::Control::Hold);
}

void Batch::resume() {
    impl_->setControl(Impl::Control::Go);
}

void Batch::discard() {
    Impl& b = *impl_;
    {
        const std::lock_guard lock(b.mutex);
        b.control = Impl::Control::Discard;
        b.stopAsked.store(true, std::memory_order_release);
    }
    b.changed.notify_all();
    // What was gathered goes at once: unnamed copies vanish with their
    // descriptors, and no source is deleted. Links already named stay.
    for (const Impl::Copy& c : b.work.copies) b.done[c.ticket].copy = {CopyResult::Discarded, 0};
    for (const Impl::Named& n : b.work.named) b.done[n.ticket].deleteDropped = true;
    b.work.copies.clear();
    b.work.deletes.clear();
    b.work.named.clear();
    b.pending.clear();
    b.deleting.clear();
    b.folders.clear();
    b.bytes = 0;
    b.descriptors = 0;
}

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

FileInfo InfoAt(const QByteArray& path, bool followLink, Overlay* overlay) {
    if (overlay)
        return overlay->infoAt(path, followLink);
    struct stat st {};
    // A name never holds a NUL byte; the system would see only the text
    // before it and answer for another path.
    if (path.isEmpty() || path.contains('\0'))
        return NotExamined(ENOENT);
    if ((followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

Folder Folder::openAsNamed(const QByteArray& path, Overlay* overlay) {
    if (overlay)
        return overlay->openAsNamed(path);
    return openOnDisk(path);
}

Folder Folder::openOnDisk(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return Folder(Handle(), ENOENT);
    Handle handle(::open(path.constData(), kFolderFlags));
    const int error = handle.valid() ? 0 : errno;
    return Folder(std::move(handle), error);
}

FileInfo Folder::info(const char* name, bool followLink) const {
    if (overlay_)
        return overlay_->info(*this, name, followLink);
    return infoOnDisk(name, followLink);
}

FileInfo Folder::infoOnDisk(const char* name, bool followLink) const {
    struct stat st {};
    if (!valid())
        return NotExamined(EBADF);
    if (::fstatat(handle_.native(), name, &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

FileInfo Folder::info() const {
    if (virtual_)
        return overlay_->folderInfo(*this);
    struct stat st {};
    if (!valid())
        return NotExamined(EBADF);
    if (::fstat(handle_.native(), &st) != 0)
        return NotExamined(errno);
    return InfoOf(st);
}

FileIdentity Folder::identity() const {
    if (!identityKnown_) {
        identity_ = info().identity;
        identityKnown_ = true;
    }
    return identity_;
}

Folder Folder::child(const char* name) const {
    if (overlay_)
        return overlay_->child(*this, name);
    return childOnDisk(name);
}

Folder Folder::childOnDisk(const char* name) const {
    if (!valid())
        return Folder(Handle(), EBADF);
    Handle handle(OpenChild(handle_.native(), name));
    const int error = handle.valid() ? 0 : errno;
    return Folder(std::move(handle), error);
}

bool Folder::makeChild(const char* name, quint32 permissions) const {
    if (overlay_)
        return overlay_->makeChild(*this, name, permissions);
    return valid() && ::mkdirat(handle_.native(), name, permissions & 0777) == 0;
}

bool Folder::setPermissions(quint32 permissions) const {
    if (overlay_)
        return valid();
    // A folder open for its path only takes a mode through its /proc entry.
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", handle_.native());
    return valid() && ::chmod(proc, permissions & 0777) == 0;
}

Status Folder::deleteFile(const char* name, const FileIdentity& expected) const {
    if (overlay_)
        return overlay_->deleteFile(*this, name, expected);
    struct stat st {};
    if (!valid())
        return {EBADF};
    if (::fstatat(handle_.native(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno};
    if (S_ISDIR(st.st_mode))
        return {EISDIR};
    // Another file than the one copied stands at the name now.
    if (!(IdentityOf(st) == expected))
        return {ESTALE};
    return {::unlinkat(handle_.native(), name, 0) == 0 ? 0 : errno};
}

Status Folder::removeFolder(const char* name) const {
    if (overlay_)
        return overlay_->removeFolder(*this, name);
    if (!valid())
        return {EBADF};
    return {::unlinkat(handle_.native(), name, AT_REMOVEDIR) == 0 ? 0 : errno};
}

int Folder::readEntries(const EntryVisit& visit) const {
    if (overlay_)
        return overlay_->readEntries(*this, visit);
    return readEntriesOnDisk(visit);
}

bool IsPrivileged() {
    static const bool root = ::geteuid() == 0;  // asked for every file
    return root;
}

int WriteAccess(const Folder& folder, const char* name) {
    if (folder.isVirtual())
        return folder.overlay()->writeAccess(folder);
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

int Folder::readEntriesOnDisk(const EntryVisit& visit) const {
    if (!valid())
        return EBADF;
    // The folder is held for its path only; reading needs it open for
    // reading, which "." of it gives without looking its name up again.
    const Handle fd(::openat(handle_.native(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

// Folders as the overlay has left them: those on the disk are reached on the
// disk, the rest one name at a time through the overlay, where missing ones
// are made.
const Folder* FolderCursor::reachInOverlay(const QByteArray& path, qsizetype pos,
                                           const Folder& from, const MirrorOf* mirrorOf) {
    if (from.handle().valid() && path.size() - pos < PATH_MAX) {
        Handle found(OpenBeneath(from.handle().native(), path.constData() + pos));
        if (found.valid()) {
            current_ = Folder(std::move(found), 0, root_.overlay_);
            currentPath_ = path;
            return &current_;
        }
    }
    const Folder* at = &from;
    Folder step;
    while (pos < path.size()) {
        qsizetype end = path.indexOf('/', pos);
        if (end < 0)
            end = path.size();
        const QByteArray name = path.mid(pos, end - pos);
        Folder next = at->child(name.constData());
        if (!next.valid() && next.openError() == ENOENT && mirrorOf) {
            const Folder* model = (*mirrorOf)(QByteArrayView(path).first(end));
            const FileInfo like = model ? model->info() : FileInfo();
            if (at->makeChild(name.constData(),
                              model ? like.permissions : kDefaultFolderPermissions)) {
                next = at->child(name.constData());
                if (model && next.valid())
                    root_.overlay_->makeLike(next, like);
            }
        }
        if (!next.valid()) {
            lastMissing_ = next.openError() == ENOENT;
            lastError_ = next.openError();
            current_ = Folder();
            currentPath_.clear();
            return nullptr;
        }
        step = std::move(next);
        at = &step;
        pos = end + 1;
    }
    current_ = std::move(step);
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

void FolderCursor::finish() {
    if (root_.overlay_)
        root_.overlay_->settle();
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

int OpenSource(const Folder& folder, const char* name, SourceFile& source) {
    source = SourceFile();
    if (folder.overlay())
        return folder.overlay()->openSource(folder, name, source);
    return OpenSourceOnDisk(folder, name, source);
}

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

CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed) {
    if (request.destination && request.destination->overlay())
        return request.destination->overlay()->place(source.info, request, placed);
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
    readback::Partial readSoFar;
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
        return request.batch->impl_->keep(request, out, source.info.identity, source.info, position,
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
    if (request.destination && request.destination->overlay()) {
        // It keeps the time of the file it copies, where that was opened.
        FileInfo empty = request.model ? request.model->info : FileInfo();
        empty.kind = FileKind::File;
        empty.size = 0;
        if (source)
            empty.identity = *source;
        empty.permissions = request.permissions;
        return request.destination->overlay()->place(empty, request, placed);
    }
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
        return request.batch->impl_->keep(request, out, source ? *source : FileIdentity(),
                                          request.model ? request.model->info : FileInfo(), 0,
                                          request.verify ? &nothing : nullptr);
    return out.commit(request.seen, source);
}

// ---------------------------------------------------------------------------
// Paths by name

bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving,
                Overlay* overlay) {
    if (overlay) {
        // Nothing is written: the folder's permissions answer.
        if (beforeRemoving)
            beforeRemoving();
        return overlay->probeWrite(folder);
    }
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

void MakeFolderPath(const QByteArray& path, Overlay* overlay) {
    if (overlay) {
        overlay->makeFolderPath(path);
        return;
    }
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

// The folder, or the nearest folder above it by name that is there.
bool LooksWritable(const QByteArray& path, Overlay* overlay) {
    QByteArray folder = path.isEmpty() ? QByteArrayLiteral(".") : path;
    for (;;) {
        int error = 0;
        if (overlay) {
            const Folder open = overlay->openAsNamed(folder);
            if (open.valid())
                return WriteAccess(open) == 0;
            error = open.openError();
        } else if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0) {
            return true;
        } else {
            error = errno;
        }
        if (error != ENOENT)
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
