// Symbolic links copied as links on Linux: the text is read with readlinkat
// and written with symlinkat under a fresh hidden name, which then takes the
// real name. The link is never followed, so what it leads to is never read.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

namespace {

QByteArray FreshLinkName() {
    static std::atomic<quint64> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, ".%08x%04llx.zandrel-link", ::arc4random(),
                  static_cast<unsigned long long>(counter.fetch_add(1) & 0xffff));
    return name;
}

// The link's text, however long.
bool ReadLinkText(int dir, const char* name, qint64 sizeHint, QByteArray& text) {
    std::vector<char> buffer(static_cast<std::size_t>(std::max<qint64>(sizeHint, 255)) + 1);
    for (;;) {
        const ssize_t n = ::readlinkat(dir, name, buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            text = QByteArray(buffer.data(), n);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The link's own extended attributes (security labels, trusted.*), as
// `cp -a` keeps them: set where the process and the destination may,
// passed over where not. A link has no descriptor to reach them by; its
// folder's /proc entry leads to it without following it.
void CopyLinkAttributes(int from, const char* name, int to, const char* hidden) {
    const QByteArray in = "/proc/self/fd/" + QByteArray::number(from) + '/' + name;
    const QByteArray out = "/proc/self/fd/" + QByteArray::number(to) + '/' + hidden;
    QByteArray names;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = ::llistxattr(in.constData(), nullptr, 0);
        if (size <= 0)
            return;
        names.resize(size);
        const ssize_t got = ::llistxattr(in.constData(), names.data(), size_t(size));
        if (got >= 0) {
            names.truncate(got);
            break;
        }
        if (errno != ERANGE)
            return;
        names.clear();
    }
    for (qsizetype at = 0; at < names.size();) {
        const char* attribute = names.constData() + at;
        at += qsizetype(std::strlen(attribute)) + 1;
        const ssize_t size = ::lgetxattr(in.constData(), attribute, nullptr, 0);
        if (size < 0)
            continue;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got = ::lgetxattr(in.constData(), attribute, value.data(), size_t(size));
        if (got >= 0)
            ::lsetxattr(out.constData(), attribute, value.constData(), size_t(got), 0);
    }
}

constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kFuseMagic = 0x65735546;

// A field of the mount table, its blanks and backslashes unescaped (\040).
QByteArray Unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int c = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(c));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return out;
}

// The type and source of the file system mounted as device.
bool MountOf(dev_t device, QByteArray& type, QByteArray& source) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted =
        QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 2 && fields.at(2) == wanted && dash > 0 && dash + 2 < fields.size()) {
            type = fields.at(dash + 1);
            source = Unescaped(fields.at(dash + 2));
            return true;
        }
    }
    return false;
}

// Whether the block device holds FAT or exFAT: as udev recorded it (which
// anyone may read), else from its first sector (where the process may read
// the device).
bool HoldsFat(const QByteArray& source) {
    struct stat st {};
    if (::stat(source.constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    QFile recorded(
        QStringLiteral("/run/udev/data/b%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev)));
    if (recorded.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : recorded.readAll().split('\n')) {
            if (line.startsWith("E:ID_FS_TYPE="))
                return line == "E:ID_FS_TYPE=vfat" || line == "E:ID_FS_TYPE=exfat";
        }
    }
    const Handle device(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    unsigned char sector[512];
    if (!device.valid() || ::pread(device.native(), sector, sizeof sector, 0) != sizeof sector)
        return false;
    const auto at = [&](int offset, const char* text) {
        return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
    };
    return at(3, "EXFAT   ") ||
           (sector[510] == 0x55 && sector[511] == 0xAA && (at(54, "FAT1") || at(82, "FAT32")));
}

}  // namespace

// The kernel's FAT and exFAT refuse a link (EPERM); FAT and exFAT through
// FUSE have no call for one (ENOSYS). A FUSE stick is known by its mount's
// type, or, mounted from a block device (fuseblk), by what the device holds.
int LinksRefused(const Folder& folder) {
    if (!folder.valid() || folder.isVirtual() || !folder.handle().valid())
        return 0;
    struct statfs fs {};
    if (::fstatfs(folder.handle().native(), &fs) != 0)
        return 0;
    if (long(fs.f_type) == kMsdosMagic || long(fs.f_type) == kExfatMagic)
        return EPERM;
    struct stat st {};
    QByteArray type, source;
    if (long(fs.f_type) != kFuseMagic || ::fstat(folder.handle().native(), &st) != 0 ||
        !MountOf(st.st_dev, type, source))
        return 0;
    if (type == "fuse.fusefat" || type == "fuse.exfat" || type == "fuse.fatfs" ||
        type == "fuse.vfat" || (type == "fuseblk" && HoldsFat(source)))
        return ENOSYS;
    return 0;
}

namespace disk {

QByteArray LinkText(const Folder& folder, const char* name) {
    QByteArray text;
    struct stat link {};
    if (folder.handle().valid() &&
        ::fstatat(folder.handle().native(), name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode))
        ReadLinkText(folder.handle().native(), name, link.st_size, text);
    return text;
}

CopyOutcome CopyLink(const Folder& folder, const char* name, const FileInfo& seen,
                     const CopyRequest& request, FileIdentity* placed) {
    if (!folder.valid() || !request.destination || !request.destination->valid())
        return {CopyResult::ReadFailed, EBADF};
    const int from = folder.handle().native();
    const int to = request.destination->handle().native();
    struct stat link {};
    if (::fstatat(from, name, &link, AT_SYMLINK_NOFOLLOW) != 0)
        return CopyResult::ReadFailed;
    if (!S_ISLNK(link.st_mode) || !(naming::IdentityOf(link) == seen.identity))
        return CopyResult::SourceChanged;
    if (request.seen.exists() && request.seen.identity == seen.identity)
        return CopyResult::SameFile;
    QByteArray text;
    if (!ReadLinkText(from, name, link.st_size, text))
        return CopyResult::ReadFailed;

    QByteArray hidden;
    if (!naming::MakeUnderHiddenName([](int) { return FreshLinkName(); },
                                     [&](const char* candidate) {
                                         return ::symlinkat(text.constData(), to, candidate) == 0;
                                     },
                                     hidden))
        return CopyResult::WriteFailed;
    struct stat made {};
    if (::fstatat(to, hidden.constData(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        ::unlinkat(to, hidden.constData(), 0);
        return {CopyResult::WriteFailed, error};
    }
    // Only this link is ever taken back.
    const auto discard = [&](CopyResult result, int error) {
        struct stat now {};
        if (::fstatat(to, hidden.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            naming::IdentityOf(now) == naming::IdentityOf(made))
            ::unlinkat(to, hidden.constData(), 0);
        return CopyOutcome(result, error);
    };
    // Owner and time are the link's own; where the destination cannot keep
    // them the link is still a copy of it.
    if (IsPrivileged() &&
        ::fchownat(to, hidden.constData(), link.st_uid, link.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        // A destination without owners keeps the link as the run's.
    }
    CopyLinkAttributes(from, name, to, hidden.constData());
    const struct timespec times[2] = {link.st_atim, link.st_mtim};
    ::utimensat(to, hidden.constData(), times, AT_SYMLINK_NOFOLLOW);

    // The name as decided: a free one is never taken by replacing.
    const CopyOutcome taken =
        naming::TakeName(to, hidden.constData(), request.name, request.seen, &seen.identity);
    if (!taken.ok())
        return discard(taken.result, taken.error);
    if (placed)
        *placed = naming::IdentityOf(made);
    return CopyResult::Copied;
}

}  // namespace disk

}  // namespace zandrel::fs
