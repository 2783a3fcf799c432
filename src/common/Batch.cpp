#include "common/Batch.h"

#include <QSet>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace zandrel::fs {

// Batches: copies on the disk before their names, names before the deletes
//
// The run's thread gathers a batch (work) and hands it to commit(); the
// work thread (one for the run) then owns that Work alone, and writes back
// only workOutcomes and workUnflushed, which the run's thread reads once it
// is idle again. pending,
// deleting, their copies for the work under way (pendingThere,
// deletingThere), folders and the counts are the run's thread's alone. The
// control of an abort and working are shared, under the mutex.

namespace {

using SharedHandle = std::shared_ptr<const Handle>;

SharedHandle Shared(Handle handle) {
    return handle.valid() ? std::make_shared<const Handle>(std::move(handle)) : SharedHandle();
}

// 0, or why the file system could not be flushed. A copy's own handle,
// opened before its writes, also reports the writes that failed in the
// background meanwhile.
int Flush(const SharedHandle& handle, std::atomic<int>& flushes) {
    static const Handle none;
    const int error = disk::FlushFileSystem(handle ? *handle : none);
    flushes.fetch_add(1, std::memory_order_relaxed);
    return error;
}

// A name in a folder, as the batch looks things up: the folder's identity
// and the name's bytes, shared with whoever holds them (a lookup borrows
// the caller's, with nothing allocated).
struct NameKey {
    FileIdentity folder;
    QByteArray name;
    friend bool operator==(const NameKey&, const NameKey&) = default;
};

NameKey Borrowed(const FileIdentity& folder, QByteArrayView name) {
    return {folder, QByteArray::fromRawData(name.data(), name.size())};
}

size_t qHash(const NameKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.folder.device, key.folder.inode, key.name);
}

}  // namespace

// Found by the hash tables keyed by a folder's identity.
static size_t qHash(const FileIdentity& id, size_t seed = 0) {
    return qHashMulti(seed, id.device, id.inode);
}

struct Batch::Impl {
    struct Copy {
        int ticket;
        std::unique_ptr<PendingCopy> file;
        FileIdentity source;
        FileInfo seen;  // what stood at the name when it was decided on
        bool failed = false;
        bool verify = false;
        Checksum::Value sum;  // of what was read from the source
        qint64 size = 0;
        ReadBackSoFar readSoFar;  // while it was written
        Handle from;              // the source, to copy once more if it reads back wrong
    };
    struct Delete {
        int ticket;
        std::shared_ptr<const Folder> folder;  // one per folder, shared by its deletes
        bool renumbered;  // its disk numbers a file afresh once no handle holds it
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
        // Its steps, in this order.
        struct Names {
            std::set<quint64> devices;
            std::vector<std::pair<int, quint64>> tickets;  // and their devices
        };
        void flushData(Impl& b, QHash<int, Outcome>& outcomes);
        Names nameCopies(Impl& b, QHash<int, Outcome>& outcomes);
        void leaveToNextFlush(const Names& names, QHash<int, Outcome>& outcomes, Unflushed& left);
        void flushNames(Impl& b, const Names& names, QHash<int, Outcome>& outcomes);
        bool deleteSources(QHash<int, Outcome>& outcomes);
        void flushEarlier(const std::map<quint64, int>& flushed, QHash<int, Outcome>& outcomes);
        void verify(const Impl& b, QHash<int, Outcome>& outcomes);
    };

    Work work;                                  // being gathered
    QHash<NameKey, FileInfo> pending;           // by folder identity and name
    QSet<NameKey> deleting;                     // the same
    QHash<FileIdentity, SharedHandle> folders;  // copies' folders
    struct SourceFolder {
        std::shared_ptr<const Folder> folder;
        bool renumbered = false;  // asked once per folder
    };
    QHash<FileIdentity, SourceFolder> sourceFolders;  // Move sources' folders
    Flushers sourceFlushers;  // Move sources' devices since the last durable commit
    bool deletedSinceDurable = false;
    Unflushed unflushed;
    qint64 bytes = 0;
    int descriptors = 0;
    int budget = 0;

    // One thread for the whole run, started with the first commit, given
    // each commit's work in turn.
    std::thread worker;
    std::shared_ptr<Work> next;  // handed to it, under the mutex
    bool stopping = false;       // under the mutex
    bool collected = true;       // what the last work gave has been taken
    QHash<NameKey, FileInfo> pendingThere;
    QSet<NameKey> deletingThere;
    QHash<int, Outcome> workOutcomes;  // the worker's, read once it is idle
    Unflushed workUnflushed;           // the same
    QHash<int, Outcome> done;          // outcomes not yet taken
    int workerDescriptors = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool working = false;
    Control control = Control::Go;
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> discarding{false};  // stops a read-back under way
    std::atomic<int> flushes{0};          // done so far, for those who wait on them

    ~Impl() {
        {
            const std::lock_guard lock(mutex);
            if (control == Control::Hold)
                control = Control::Discard;
        }
        changed.notify_all();
        collect();
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (worker.joinable())
            worker.join();
    }
    int heldDescriptors() const;
    void serve() {
        for (;;) {
            std::shared_ptr<Work> w;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [this] { return next || stopping; });
                if (!next)
                    return;
                w = std::move(next);
            }
            w->run(*this, workOutcomes, workUnflushed);
            w.reset();  // its descriptors closed before the run's thread is told
            {
                const std::lock_guard lock(mutex);
                working = false;
            }
            changed.notify_all();
        }
    }
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
    // Waits for the work under way, and takes what it gave.
    void collect() {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return !working; });
        }
        if (!collected) {
            unflushed = std::exchange(workUnflushed, {});
            collected = true;
        }
        for (const Outcome& o : std::as_const(workOutcomes))
            deletedSinceDurable = deletedSinceDurable || (o.deleteTried && o.deleted.ok());
        if (done.isEmpty())
            done = std::exchange(workOutcomes, {});
        else
            done.insert(std::exchange(workOutcomes, {}));
        pendingThere.clear();
        deletingThere.clear();
        workerDescriptors = 0;
    }

    // A descriptor through which device can be flushed: one on it already,
    // else the folder itself where it may be read, else an unnamed file made
    // in it: 0, or why none could be had.
    int flusherFor(const Folder& folder) {
        const quint64 device = folder.identity().device;
        if (work.flushers.count(device))
            return 0;
        int error = 0;
        Handle own = disk::FlusherIn(folder, error);
        if (!own.valid())
            return error;
        work.flushers[device] = std::make_shared<const Handle>(std::move(own));
        ++descriptors;
        return 0;
    }

    CopyOutcome keep(const CopyRequest& request, WaitingCopy&& waiting) {
        std::unique_ptr<PendingCopy>& kept = waiting.file;
        const qint64 size = waiting.size;
        const Folder& in = *request.destination;
        const FileIdentity folder = in.identity();
        SharedHandle& shared = folders[folder];
        if (!shared) {
            shared = Shared(kept->duplicateFolder());
            if (!shared) {
                folders.remove(folder);
                return {CopyResult::CouldNotPutInPlace, disk::LastError()};
            }
            ++descriptors;
        }
        // The first copy on a device flushes it (unless reserve() found a
        // flusher): opened before its writes, it reports those that fail.
        SharedHandle& flusher = work.flushers[kept->device()];
        if (!flusher) {
            flusher = Shared(kept->duplicate());
            if (!flusher) {
                work.flushers.erase(kept->device());
                return {CopyResult::CouldNotPutInPlace, disk::LastError()};
            }
            ++descriptors;
        }
        kept->shareFolder(shared);
        ++descriptors;
        // It has its source's time already, and gets its name as it is.
        FileInfo info = waiting.like;
        info.kind = FileKind::File;
        info.size = size;
        info.identity = kept->identity();
        pending.insert(NameKey{folder, kept->name()}, info);
        Copy copy{request.ticket,
                  std::move(kept),
                  waiting.source,
                  request.seen,
                  false,
                  false,
                  {},
                  0,
                  {},
                  {}};
        if (waiting.verify) {
            copy.verify = true;
            copy.sum = waiting.sum;
            copy.size = size;
            bytes += size - waiting.readSoFar.done;  // read once more
            copy.readSoFar = std::move(waiting.readSoFar);
            if (size > 0 && request.model && request.model->handle.valid()) {
                copy.from = disk::Duplicate(request.model->handle);
                descriptors += copy.from.valid();
            }
        }
        work.copies.push_back(std::move(copy));
        bytes += size;
        return CopyResult::Copied;
    }
};

// Names flushed now that an earlier commit left unflushed get their
// outcomes: failed where the flush failed.
void Batch::Impl::Work::flushEarlier(const std::map<quint64, int>& flushed,
                                     QHash<int, Outcome>& outcomes) {
    std::vector<std::pair<int, quint64>> still;
    for (const auto& [ticket, device] : earlier.tickets) {
        const auto it = flushed.find(device);
        if (it == flushed.end()) {
            still.emplace_back(ticket, device);
            continue;
        }
        Outcome o = earlier.outcomes.take(ticket);
        if (it->second != 0)
            o.copy = {CopyResult::FlushFailed, it->second};
        outcomes.insert(ticket, o);
    }
    earlier.tickets = std::move(still);
}

// The flushed copies to be verified read back from the device: all asked for
// first, then compared one by one. One that reads back wrong is copied once
// more (a cable or a cache may fail once); one that differs again fails and
// is never named. An abort that drops the copies stops at once.
void Batch::Impl::Work::verify(const Impl& b, QHash<int, Outcome>& outcomes) {
    for (const Copy& c : copies)
        if (c.verify && !c.failed)
            c.file->prepareReadBack(c.readSoFar.done, c.size);
    for (Copy& c : copies) {
        if (!c.verify || c.failed)
            continue;
        CopyOutcome read =
            c.file->compareReadBack(c.size, c.sum, b.discarding, std::move(c.readSoFar));
        if (read == CopyResult::VerifyFailed && c.from.valid()) {
            read = c.file->copyAgain(c.from, c.size, c.sum, b.discarding);
            outcomes[c.ticket].copiedAgain = true;
        }
        c.from.reset();
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

// The copies' data on the disk before any takes its name: a flush that
// failed vouches for none of the copies it was to make durable (a copy's
// own flush answering well afterwards proves nothing: the failed
// writeback's error is reported once, and the file system's own records
// went with it).
void Batch::Impl::Work::flushData(Impl& b, QHash<int, Outcome>& outcomes) {
    std::map<quint64, int> flushed;  // device: 0, or the flush's error
    for (const auto& [device, fd] : flushers) flushed[device] = Flush(fd, b.flushes);
    for (const auto& [device, fd] : earlier.flushers) {
        if (!flushed.count(device))
            flushed[device] = Flush(fd, b.flushes);
    }
    for (Copy& c : copies) {
        if (const int error = flushed[c.file->device()]; error != 0) {
            outcomes[c.ticket].copy = {CopyResult::FlushFailed, error};
            c.failed = true;
        }
    }
    flushEarlier(flushed, outcomes);
}

// Each copy takes its name as decided, unless an abort drops it first; the
// links named at once join them.
Batch::Impl::Work::Names Batch::Impl::Work::nameCopies(Impl& b, QHash<int, Outcome>& outcomes) {
    Names names;
    QSet<FileIdentity> namedHere;
    for (Copy& c : copies) {
        if (c.failed)
            continue;
        Outcome& o = outcomes[c.ticket];
        if (b.gate() == Control::Discard) {
            o.copy = {CopyResult::Discarded, 0};
            continue;
        }
        o.copy = c.file->takeName(c.seen, c.source.inode ? &c.source : nullptr);
        // Taken by another copy of this run: a name the file system does
        // not tell from it (letter case).
        if (o.copy == CopyResult::NameTaken && namedHere.contains(c.file->identityAtName()))
            o.copy = {CopyResult::Clash, 0};
        if (o.copy.ok()) {
            namedHere.insert(c.file->identity());
            names.devices.insert(c.file->device());
            names.tickets.emplace_back(c.ticket, c.file->device());
        }
    }
    copies.clear();  // closes what did not take its name
    for (const Named& n : named) {
        if (const auto it = noFlusher.find(n.device); it != noFlusher.end())
            outcomes[n.ticket].copy = {CopyResult::FlushFailed, it->second};
        else
            names.devices.insert(n.device);
        names.tickets.emplace_back(n.ticket, n.device);
    }
    return names;
}

// A Copy's names may wait for the next batch's flush: their outcomes wait
// with them.
void Batch::Impl::Work::leaveToNextFlush(const Names& names, QHash<int, Outcome>& outcomes,
                                         Unflushed& left) {
    left = std::move(earlier);
    for (const quint64 device : names.devices) left.flushers.emplace(device, flushers[device]);
    for (const auto& [ticket, device] : names.tickets) {
        left.tickets.emplace_back(ticket, device);
        left.outcomes.insert(ticket, outcomes.take(ticket));
    }
}

// A name that may not be on the disk: the copy stays, but counts as
// failed, and a Move keeps its source.
void Batch::Impl::Work::flushNames(Impl& b, const Names& names, QHash<int, Outcome>& outcomes) {
    std::map<quint64, int> flushed;
    for (const quint64 device : names.devices) flushed[device] = Flush(flushers[device], b.flushes);
    for (const auto& [device, fd] : earlier.flushers) {
        if (!flushed.count(device))
            flushed[device] = Flush(fd, b.flushes);
    }
    for (const auto& [ticket, device] : names.tickets) {
        const int error = flushed.count(device) ? flushed[device] : 0;
        Outcome& o = outcomes[ticket];
        if (error != 0 && o.copy.ok())
            o.copy = {CopyResult::FlushFailed, error};
    }
    flushEarlier(flushed, outcomes);
}

// Each Move source only once its copy is named and on the disk, and only
// while it is the file copied, unchanged. Whether any was deleted.
bool Batch::Impl::Work::deleteSources(QHash<int, Outcome>& outcomes) {
    bool deleted = false;
    for (Delete& d : deletes) {
        Outcome& o = outcomes[d.ticket];
        if (!o.copy.ok())
            continue;
        o.deleteTried = true;
        const Folder& folder = *d.folder;
        if (!StillAsDecided(folder, d.name.constData(), d.source, d.decided)) {
            o.deleted = {kChangedSinceCopied};
            o.changed = true;
            continue;
        }
        // A disk that numbers a file afresh once it leaves the cache keeps
        // the number of one held open: the name is checked while it is, and
        // the file let go just before its delete (FUSE keeps an open file's
        // delete under a hidden name).
        const bool heldThere =
            d.renumbered && folder.info(d.name.constData(), false).identity == d.decided.identity;
        d.source.handle.reset();
        o.deleted = folder.deleteFile(
            d.name.constData(),
            heldThere ? folder.info(d.name.constData(), false).identity : d.decided.identity);
        d.folder.reset();
        deleted = deleted || o.deleted.ok();
    }
    return deleted;
}

// The data first, so that no name can ever show a short file; the names
// next, so that no moved file is lost with its source (copies alone may
// leave theirs to the next flush); the deletes last, themselves on the disk
// before the run says it is finished (a flush that fails there loses
// nothing: a source may come back).
void Batch::Impl::Work::run(Impl& b, QHash<int, Outcome>& outcomes, Unflushed& left) {
    outcomes.reserve(qsizetype(copies.size() + named.size()));
    if (!copies.empty()) {
        flushData(b, outcomes);
        verify(b, outcomes);
    }
    const Names names = nameCopies(b, outcomes);
    if (namesMayWait && deletes.empty() && named.empty()) {
        leaveToNextFlush(names, outcomes, left);
        return;
    }
    flushNames(b, names, outcomes);
    const bool deleted = deleteSources(outcomes) || deletedBefore;
    if (deleted)
        for (const auto& [device, fd] : sourceFlushers) Flush(fd, b.flushes);
}

Batch::Batch() : impl_(std::make_unique<Impl>()) {
    impl_->budget = disk::HandleBudget();
}
Batch::~Batch() = default;

bool Batch::empty() const {
    const Impl::Work& w = impl_->work;
    // Names waiting only for a flush are on the disk for every decision.
    return w.copies.empty() && w.deletes.empty() && w.named.empty() && impl_->collected;
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
    const NameKey key = Borrowed(folder, name);
    // The later copy first.
    for (const QHash<NameKey, FileInfo>* map : {&impl_->pending, &impl_->pendingThere}) {
        const auto it = map->constFind(key);
        if (it != map->constEnd())
            return &*it;
    }
    return nullptr;
}

bool Batch::touches(const FileIdentity& folder, QByteArrayView name) const {
    const NameKey key = Borrowed(folder, name);
    return impl_->pending.contains(key) || impl_->deleting.contains(key) ||
           impl_->pendingThere.contains(key) || impl_->deletingThere.contains(key);
}

bool Batch::deletes(const FileIdentity& folder, QByteArrayView name) const {
    if (impl_->deleting.isEmpty() && impl_->deletingThere.isEmpty())
        return false;
    const NameKey key = Borrowed(folder, name);
    return impl_->deleting.contains(key) || impl_->deletingThere.contains(key);
}

int Batch::deleteAfter(int ticket, const Folder& folder, const char* name, SourceFile&& source,
                       const FileInfo& decided) {
    Impl& b = *impl_;
    const FileIdentity key = folder.identity();
    Impl::SourceFolder& shared = b.sourceFolders[key];
    if (!shared.folder) {
        Handle again = disk::Duplicate(folder.handle());
        if (!again.valid()) {
            const int error = disk::LastError();
            b.sourceFolders.remove(key);
            return error;
        }
        shared.folder = std::make_shared<const Folder>(std::move(again));
        shared.renumbered = !KeepsInodeNumbers(folder);
        ++b.descriptors;
    }
    // The deletes are flushed through a source's own file system; without a
    // descriptor to spare, through a later file's.
    if (source.handle.valid()) {
        const quint64 device = source.info.identity.device;
        if (!b.sourceFlushers.count(device)) {
            if (SharedHandle flusher = Shared(disk::Duplicate(source.handle))) {
                b.sourceFlushers[device] = std::move(flusher);
                ++b.descriptors;
            }
        }
    }
    ++b.descriptors;  // the source, held open
    const QByteArray owned(name);
    b.deleting.insert(NameKey{key, owned});
    Impl::Delete d{ticket, shared.folder, shared.renumbered, owned, std::move(source), decided};
    b.work.deletes.push_back(std::move(d));
    return 0;
}

int Batch::reserve(const Folder& destination) {
    Impl& b = *impl_;
    const FileIdentity folder = destination.identity();
    SharedHandle& shared = b.folders[folder];
    if (!shared) {
        shared = Shared(disk::Duplicate(destination.handle()));
        if (!shared) {
            const int error = disk::LastError();
            b.folders.remove(folder);
            return error;
        }
        ++b.descriptors;
    }
    // A flusher opened before the copy's writes, which it will report.
    return b.flusherFor(destination);
}

bool Batch::roomFor(int more) const {
    return impl_->heldDescriptors() + more <= impl_->budget;
}

void Batch::namedAt(int ticket, const Folder& folder) {
    // Without a flusher its name cannot be made durable: it fails then.
    if (const int error = impl_->flusherFor(folder))
        impl_->work.noFlusher[folder.identity().device] = error;
    impl_->work.named.push_back({ticket, folder.identity().device});
}

void Batch::commit(Names names) {
    Impl& b = *impl_;
    b.collect();  // at once: the caller waited for idle()
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
    b.sourceFolders.clear();
    b.bytes = 0;
    b.descriptors = 0;
    if (work.empty()) {
        b.unflushed = std::move(work.earlier);
        return;
    }
    auto handed = std::make_shared<Impl::Work>(std::move(work));
    b.collected = false;
    if (!b.worker.joinable() && !disk::StartQuietThread(b.worker, [&b] { b.serve(); })) {
        handed->run(b, b.workOutcomes, b.workUnflushed);  // no thread to be had: done here
        return;
    }
    {
        const std::lock_guard lock(b.mutex);
        b.working = true;
        b.next = std::move(handed);
    }
    b.changed.notify_all();
}

int Batch::flushesDone() const {
    return impl_->flushes.load(std::memory_order_relaxed);
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
    impl_->collect();
    return std::exchange(impl_->done, {});
}

QHash<int, Batch::Outcome> Batch::finish() {
    impl_->collect();
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
        b.discarding.store(true, std::memory_order_relaxed);  // a read-back under way too
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
    b.sourceFolders.clear();
    b.bytes = 0;
    b.descriptors = 0;
}

CopyOutcome Batch::add(const CopyRequest& request, WaitingCopy&& copy) {
    return impl_->keep(request, std::move(copy));
}

}  // namespace zandrel::fs
