#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/posix/Stat.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs::naming {

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
}

// Random hidden names for copies being written: made fresh for every
// attempt, so no file of the user's is ever taken for one.
constexpr char kTemporarySuffix[] = ".zandrel-part";

QByteArray FreshTemporaryName(const char* name) {
    static std::atomic<quint64> counter{0};
    const quint64 n = counter.fetch_add(1, std::memory_order_relaxed);
    char random[40];
    std::snprintf(random, sizeof random, ".%08x%04llx", ::arc4random(),
                  static_cast<unsigned long long>(n & 0xffff));
    constexpr qsizetype kNameMax = 255;
    const qsizetype extra =
        1 + qsizetype(std::strlen(random)) + qsizetype(sizeof kTemporarySuffix) - 1;
    QByteArray base(name);
    if (base.size() + extra > kNameMax) {
        // Cut between characters: a disk that keeps names as UTF-16 refuses
        // half of one.
        qsizetype cut = kNameMax - extra;
        for (int back = 0; back < 3 && cut > 0 && (quint8(base.at(cut)) & 0xC0) == 0x80; ++back)
            --cut;
        base.truncate(cut);
    }
    QByteArray result;
    result.reserve(base.size() + extra);
    result.append('.').append(base).append(random).append(kTemporarySuffix);
    return result;
}

namespace {

bool Unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

// Takes a free name: a rename that refuses to replace, or, where the file
// system has none, a hard link (which never replaces) and the hidden name's
// removal. Where neither exists only a look at the name is left between the
// check and the rename.
CopyOutcome TakeFree(int dir, const char* hidden, const char* name) {
    if (::renameat2(dir, hidden, dir, name, RENAME_NOREPLACE) == 0)
        return CopyResult::Copied;
    if (errno == EEXIST)
        return {CopyResult::NameTaken, 0};
    if (!Unsupported(errno))
        return CopyResult::CouldNotPutInPlace;
    if (::linkat(dir, hidden, dir, name, 0) == 0) {
        ::unlinkat(dir, hidden, 0);
        return CopyResult::Copied;
    }
    if (errno == EEXIST)
        return {CopyResult::NameTaken, 0};
    if (!Unsupported(errno) && errno != EMLINK)
        return CopyResult::CouldNotPutInPlace;
    struct stat there {};
    if (::fstatat(dir, name, &there, AT_SYMLINK_NOFOLLOW) == 0)
        return {CopyResult::NameTaken, 0};
    if (errno != ENOENT)
        return CopyResult::CouldNotPutInPlace;
    if (::renameat(dir, hidden, dir, name) != 0)
        return CopyResult::CouldNotPutInPlace;
    return CopyResult::Copied;
}

}  // namespace

bool StillSeen(const struct stat& there, const FileInfo& seen, bool byNumber) {
    if (byNumber ? !(IdentityOf(there) == seen.identity) : KindOf(there.st_mode) != seen.kind)
        return false;
    return there.st_size == seen.size &&
           qint64(there.st_mtim.tv_sec) * 1000000000 + there.st_mtim.tv_nsec == seen.modifiedNs;
}

CopyOutcome TakeName(int dir, const char* hidden, const char* name, const FileInfo& seen,
                     const FileIdentity* source) {
    struct stat there {};
    if (!seen.exists())
        return TakeFree(dir, hidden, name);
    if (::fstatat(dir, name, &there, AT_SYMLINK_NOFOLLOW) != 0) {
        // Gone meanwhile: the name is free, and taking it replaces nothing.
        return errno == ENOENT ? TakeFree(dir, hidden, name) : CopyResult::CouldNotPutInPlace;
    }
    if (source && IdentityOf(there) == *source)
        return CopyResult::SameFile;
    if (S_ISDIR(there.st_mode))
        return {CopyResult::CouldNotPutInPlace, EISDIR};
    const bool byNumber = KeepsNumbers(dir);
    if (!StillSeen(there, seen, byNumber))
        return {CopyResult::DestinationChanged, 0};
    // Exchanged, the file replaced is still at hand: it goes only when it is
    // the one decided on, and otherwise comes back.
    if (::renameat2(dir, hidden, dir, name, RENAME_EXCHANGE) == 0) {
        struct stat out {};
        if (::fstatat(dir, hidden, &out, AT_SYMLINK_NOFOLLOW) == 0 &&
            StillSeen(out, seen, byNumber)) {
            ::unlinkat(dir, hidden, 0);
            return CopyResult::Copied;
        }
        if (::renameat2(dir, hidden, dir, name, RENAME_EXCHANGE) != 0)
            return CopyResult::CouldNotPutInPlace;
        return {CopyResult::DestinationChanged, 0};
    }
    if (!Unsupported(errno))
        return CopyResult::CouldNotPutInPlace;
    if (::renameat(dir, hidden, dir, name) != 0)
        return CopyResult::CouldNotPutInPlace;
    return CopyResult::Copied;
}

bool MakeUnderHiddenName(const std::function<QByteArray(int attempt)>& nameFor,
                         const std::function<bool(const char* name)>& make, QByteArray& hidden,
                         int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const QByteArray name = nameFor(attempt);
        if (make(name.constData())) {
            hidden = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool LinkUnnamed(int fd, int dir, const char* name) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM && errno != EACCES)
            return false;
        byDescriptor.store(false, std::memory_order_relaxed);
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc, dir, name, AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace zandrel::fs::naming
