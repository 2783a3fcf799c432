// Copies as replicas on Linux: extended attributes by descriptor, ACLs as
// their extended attribute (the layout of linux/posix_acl_xattr.h), owner
// by fchown, and the time resolution of a destination file system.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/FileSystem.h"
#include "common/posix/Replica.h"

namespace zandrel::fs {

namespace replica {

namespace {

constexpr char kAclAccess[] = "system.posix_acl_access";
constexpr char kAclDefault[] = "system.posix_acl_default";

// The ACL's extended-attribute layout: a version, then entries of a tag, the
// permissions and an id, all little-endian.
constexpr quint32 kAclVersion = 2;
constexpr quint16 kUserObj = 0x01;
constexpr quint16 kGroupObj = 0x04;
constexpr quint16 kMask = 0x10;
constexpr quint16 kOther = 0x20;
constexpr qsizetype kAclHeader = 4;
constexpr qsizetype kAclEntry = 8;

quint16 Le16(const char* p) {
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}

quint32 Le32(const char* p) {
    return quint32(Le16(p)) | quint32(Le16(p + 2)) << 16;
}

class ProcPath {
  public:
    explicit ProcPath(int fd) { std::snprintf(text_, sizeof text_, "/proc/self/fd/%d", fd); }
    const char* get() const { return text_; }

  private:
    char text_[40];
};

ssize_t List(const Node& n, char* buffer, size_t size) {
    return n.pathOnly ? ::listxattr(ProcPath(n.fd).get(), buffer, size)
                      : ::flistxattr(n.fd, buffer, size);
}

ssize_t Get(const Node& n, const char* name, void* buffer, size_t size) {
    return n.pathOnly ? ::getxattr(ProcPath(n.fd).get(), name, buffer, size)
                      : ::fgetxattr(n.fd, name, buffer, size);
}

bool Set(const Node& n, const char* name, const QByteArray& value) {
    return (n.pathOnly
                ? ::setxattr(ProcPath(n.fd).get(), name, value.constData(), size_t(value.size()), 0)
                : ::fsetxattr(n.fd, name, value.constData(), size_t(value.size()), 0)) == 0;
}

void Remove(const Node& n, const char* name) {
    if (n.pathOnly)
        ::removexattr(ProcPath(n.fd).get(), name);
    else
        ::fremovexattr(n.fd, name);
}

// The names of the source's extended attributes, NUL-separated; empty when
// it has none or they cannot be listed.
QByteArray Names(const Node& n) {
    char small[1024];
    ssize_t got = List(n, small, sizeof small);
    if (got >= 0)
        return QByteArray(small, got);
    for (int attempt = 0; attempt < 3 && errno == ERANGE; ++attempt) {
        const ssize_t size = List(n, nullptr, 0);
        if (size <= 0)
            break;
        QByteArray names(size, Qt::Uninitialized);
        got = List(n, names.data(), size_t(size));
        if (got >= 0)
            return names.first(got);
    }
    return {};
}

bool Listed(const QByteArray& names, const char* name) {
    for (qsizetype at = 0; at < names.size();
         at += qsizetype(std::strlen(names.constData() + at)) + 1) {
        if (std::strcmp(names.constData() + at, name) == 0)
            return true;
    }
    return false;
}

bool Value(const Node& n, const char* name, QByteArray& out) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = Get(n, name, nullptr, 0);
        if (size < 0)
            return false;
        out.resize(size);
        const ssize_t got = Get(n, name, out.data(), size_t(size));
        if (got >= 0) {
            out.truncate(got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

// The owning group's entry of an ACL set to nothing, for a copy that belongs
// to another group.
void ClearOwningGroup(QByteArray& acl) {
    for (qsizetype at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
        if (Le16(acl.constData() + at) == kGroupObj) {
            acl[at + 2] = 0;
            acl[at + 3] = 0;
        }
    }
}

bool ChangeOwner(const Node& n, uid_t owner, gid_t group) {
    return n.pathOnly ? ::fchownat(n.fd, "", owner, group, AT_EMPTY_PATH) == 0
                      : ::fchown(n.fd, owner, group) == 0;
}

bool ChangeMode(const Node& n, mode_t mode) {
    return n.pathOnly ? ::chmod(ProcPath(n.fd).get(), mode) == 0 : ::fchmod(n.fd, mode) == 0;
}

}  // namespace

qint64 Nanoseconds(const struct timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool AclPermissions(const QByteArray& acl, quint32* mode, quint32* owningGroup) {
    if (acl.size() < kAclHeader || (acl.size() - kAclHeader) % kAclEntry != 0 ||
        Le32(acl.constData()) != kAclVersion)
        return false;
    int owner = -1, group = -1, mask = -1, other = -1;
    for (qsizetype at = kAclHeader; at < acl.size(); at += kAclEntry) {
        const int perm = Le16(acl.constData() + at + 2) & 07;
        switch (Le16(acl.constData() + at)) {
            case kUserObj:
                owner = perm;
                break;
            case kGroupObj:
                group = perm;
                break;
            case kMask:
                mask = perm;
                break;
            case kOther:
                other = perm;
                break;
            default:
                break;
        }
    }
    if (owner < 0 || group < 0 || other < 0)
        return false;
    *mode = quint32(owner << 6 | (mask >= 0 ? mask : group) << 3 | other);
    *owningGroup = quint32(mask >= 0 ? group & mask : group);
    return true;
}

namespace {
// The folder last asked; forgotten whenever a folder's attributes are set,
// which may give it a default ACL.
thread_local FileIdentity gLastAsked;
thread_local bool gLastGives = true;
}  // namespace

bool FolderGivesAcl(int folder, const FileIdentity& identity) {
    FileIdentity& last = gLastAsked;
    bool& gives = gLastGives;
    if (identity == FileIdentity() || !(identity == last)) {
        // The handle may be one for paths only: its folder through /proc.
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", folder);
        gives = ::getxattr(path, kAclDefault, nullptr, 0) >= 0 ||
                (errno != ENODATA && errno != ENOTSUP);
        last = identity;
    }
    return gives;
}

quint32 MirrorAttributes(const Node& source, uid_t owner, gid_t group, const Node& copy,
                         const struct stat& made, quint32 wanted, quint32 extra, bool inherits) {
    const bool folder = S_ISDIR(made.st_mode);
    if (folder)
        gLastAsked = FileIdentity();
    gid_t copyGroup = made.st_gid;
    // Only root may give a file away; chown would also drop file
    // capabilities, so it comes before the attributes.
    if (IsPrivileged() && (made.st_uid != owner || made.st_gid != group) &&
        ChangeOwner(copy, owner, group))
        copyGroup = group;
    const bool otherGroup = copyGroup != group;

    QByteArray acl;
    bool hadDefault = false;
    const QByteArray names = Names(source);
    QByteArray value;
    for (qsizetype at = 0; at < names.size();) {
        const char* name = names.constData() + at;
        at += qsizetype(std::strlen(name)) + 1;
        const bool isAccess = std::strcmp(name, kAclAccess) == 0;
        const bool isDefault = std::strcmp(name, kAclDefault) == 0;
        if ((isDefault && !folder) || !Value(source, name, value))
            continue;
        if (isAccess) {
            acl = value;
            continue;
        }
        hadDefault = hadDefault || isDefault;
        Set(copy, name, value);  // not kept there: no failure of the copy
    }

    quint32 mode = made.st_mode & 0777;
    bool aclSet = false;
    quint32 aclMode = 0;
    quint32 aclGroup = 07;
    const bool aclRead = !acl.isEmpty() && AclPermissions(acl, &aclMode, &aclGroup);
    if (aclRead) {
        if (otherGroup) {
            ClearOwningGroup(acl);
            AclPermissions(acl, &aclMode, &aclGroup);
        }
        aclSet = Set(copy, kAclAccess, acl);
        if (aclSet)
            mode = aclMode;
    } else if (inherits && Listed(Names(copy), kAclAccess)) {
        // One inherited from the destination folder's default ACL would grant
        // what the source does not. (Looking costs less than removing.)
        Remove(copy, kAclAccess);
    }
    if (folder && !hadDefault)
        Remove(copy, kAclDefault);

    // An ACL that could be set is the source's own access, kept exactly;
    // otherwise the permission bits are what is left of it.
    quint32 permitted = aclMode;
    if (!aclSet) {
        permitted = Masked(wanted);
        if (aclRead)
            permitted &= ~(07u << 3) | aclGroup << 3;
        if (otherGroup)
            permitted &= ~(07u << 3);
    }
    const quint32 during = permitted | (extra & 0777);
    if (during != mode)
        ChangeMode(copy, mode_t(during | (made.st_mode & S_ISGID)));
    return permitted;
}

bool SetMode(const Node& node, quint32 mode) {
    return ChangeMode(node, mode_t(mode & 07777));
}

struct timespec Timespec(qint64 ns) {
    struct timespec t {};
    t.tv_sec = time_t(ns / 1000000000);
    t.tv_nsec = long(ns % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
}

bool SetTimes(const Node& node, qint64 accessedNs, qint64 modifiedNs) {
    const struct timespec times[2] = {Timespec(accessedNs), Timespec(modifiedNs)};
    return node.pathOnly ? ::utimensat(AT_FDCWD, ProcPath(node.fd).get(), times, 0) == 0
                         : ::futimens(node.fd, times) == 0;
}

}  // namespace replica

namespace {

constexpr long kExfatMagic = 0x2011BAB0;
constexpr qint64 kSecond = 1000000000;

// Writes a time with every digit set on an unnamed file and reads back what
// the file system kept; 0 when it allows no unnamed file.
qint64 ProbedResolution(int folder) {
    Handle probe(::openat(folder, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
    if (!probe.valid())
        return 0;
    constexpr qint64 kProbe = 1000000001 * kSecond + 123456789;  // 2001, odd second
    struct stat st {};
    if (!replica::SetTimes({probe.native(), false}, kProbe, kProbe) ||
        ::fstat(probe.native(), &st) != 0)
        return 0;
    const qint64 kept = replica::Nanoseconds(st.st_mtim);
    const qint64 off = kept > kProbe ? kept - kProbe : kProbe - kept;
    for (const qint64 step : {qint64(1), qint64(1000), qint64(1000000), qint64(10000000),
                              qint64(100000000), kSecond, 2 * kSecond}) {
        if (off < step)
            return step;
    }
    return 0;
}

}  // namespace

qint64 TimeResolution(const Folder& folder) {
    if (!folder.valid())
        return 1;
    const int fd = folder.handle().native();
    if (const qint64 probed = ProbedResolution(fd))
        return probed;
    // File systems without unnamed files: FAT and exFAT are known; others
    // (network shares, FUSE) may keep as little as FAT does.
    struct statfs fs {};
    if (::fstatfs(fd, &fs) == 0 && long(fs.f_type) == kExfatMagic)
        return kSecond;
    return 2 * kSecond;
}

}  // namespace zandrel::fs
