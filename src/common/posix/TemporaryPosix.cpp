#include "common/posix/Temporary.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "common/posix/ReadBack.h"
#include "common/posix/Replica.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

using naming::FreshTemporaryName;
using naming::IdentityOf;

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

void Temporary::mirror(const SourceFile* model, quint32 permissions, bool inherits) {
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
                              made_, permissions, 0, inherits);
    // After the last write and the last change of attributes.
    if (replica::SetTimes(copy, model->accessedNs, model->modifiedNs)) {
        times_[0] = replica::Timespec(model->accessedNs);
        times_[1] = replica::Timespec(model->modifiedNs);
    }
}

QByteArray Temporary::freshName(int) const {
    return FreshTemporaryName(name_);
}

bool Temporary::createNamed() {
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    createdNamed_ = naming::MakeUnderHiddenName([this](int attempt) { return freshName(attempt); },
                                                [this](const char* name) {
                                                    fd_.reset(::openat(dir(), name, kFlags, 0600));
                                                    return fd_.valid();
                                                },
                                                hidden_);
    return createdNamed_;
}

bool Temporary::linkAs(const char* name) {
    return naming::LinkUnnamed(fd_.native(), dir(), name);
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
        if (!naming::MakeUnderHiddenName([this](int attempt) { return freshName(attempt); },
                                         [this](const char* name) { return linkAs(name); },
                                         hidden_))
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

Handle Temporary::duplicateFolder() const {
    return Handle(::fcntl(dir_, F_DUPFD_CLOEXEC, 0));
}

Handle Temporary::duplicate() const {
    return Handle(::fcntl(fd_.native(), F_DUPFD_CLOEXEC, 0));
}

int Temporary::syncData() {
    return ::fdatasync(fd_.native()) == 0 ? 0 : errno;
}

void Temporary::prepareReadBack(qint64 from, qint64 size) {
    readback::Prepare(fd_.native(), from, size);
}

CopyOutcome Temporary::compareReadBack(qint64 size, const Checksum::Value& expected,
                                       const std::atomic<bool>& stop, ReadBackSoFar soFar) {
    return readback::Compare(fd_.native(), size, expected, stop, std::move(soFar));
}

CopyOutcome Temporary::copyAgain(const Handle& from, qint64 size, const Checksum::Value& expected,
                                 const std::atomic<bool>& stop) {
    const CopyOutcome written = readback::CopyAgain(from.native(), fd_.native(), size, expected);
    if (!written.ok())
        return written;
    // Written anew: its source's time again, as the first copy had it.
    if (times_[1].tv_nsec != UTIME_OMIT)
        ::futimens(fd_.native(), times_);
    if (::fdatasync(fd_.native()) != 0)
        return {CopyResult::WriteFailed, errno};
    readback::Prepare(fd_.native(), 0, size);
    return readback::Compare(fd_.native(), size, expected, stop);
}

}  // namespace zandrel::fs
