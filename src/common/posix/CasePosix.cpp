// What a folder's file system keeps on Linux: whether it tells names apart
// by letter case (FAT and exFAT do not, nor ext4 folders made case-folding,
// nor many network shares), and whether its inode numbers outlive the
// kernel's cache. Both are learnt from the disk: its type, the device under
// a FUSE mount, or a probe of our own, never from the user's names alone.

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QSet>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/FileSystem.h"
#include "common/posix/TakeName.h"

namespace zandrel::fs {

namespace {

constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kFuseMagic = 0x65735546;
#ifndef FS_CASEFOLD_FL
constexpr long FS_CASEFOLD_FL = 0x40000000;
#endif

// Linux's own file systems: they tell every name apart (case-folding is a
// folder's flag), and a file keeps its number for its life.
constexpr long kLinuxOwn[] = {
    0xEF53,      // ext2, ext3, ext4
    0x9123683E,  // btrfs
    0x58465342,  // xfs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0xF2F52010,  // f2fs
    0x794C7630,  // overlayfs
    0x2FC12FC1,  // zfs
    0xCA451A4E,  // bcachefs
    0x52654973,  // reiserfs
    0x3434,      // nilfs
    0x73717368,  // squashfs
};
// Others that keep their numbers, whatever they make of case: NFS's file
// ids last as long as the file, and JFS may fold case at its making.
constexpr long kKeepNumbersToo[] = {0x6969, 0x3153464a};

template <std::size_t N>
bool In(long type, const long (&list)[N]) {
    for (const long t : list)
        if (t == type)
            return true;
    return false;
}

char SwapCase(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80 || !std::isalpha(u))
        return c;
    return char(std::islower(u) ? std::toupper(u) : std::tolower(u));
}

// A name of the folder with a letter, looked up with its letters swapped:
// found, though the folder lists no such name (some FUSE file systems give
// each lookup a new inode number), the file system ignores case. Only a
// hint: an empty folder, or one of digits alone, tells nothing.
bool FoundInOtherCase(int readable) {
    const int again = ::dup(readable);
    if (again < 0)
        return false;
    DIR* dir = ::fdopendir(again);
    if (!dir) {
        ::close(again);
        return false;
    }
    QSet<QByteArray> listed;
    QByteArray lettered;
    bool complete = false;
    while (listed.size() < 100000) {
        const dirent* e = ::readdir(dir);
        if (!e) {
            complete = true;
            break;
        }
        listed.insert(QByteArray(e->d_name));
        if (!lettered.isEmpty())
            continue;
        for (const char c : QByteArrayView(e->d_name)) {
            if (SwapCase(c) != c)
                lettered = e->d_name;
        }
    }
    ::closedir(dir);
    if (lettered.isEmpty())
        return false;
    QByteArray swapped = lettered;
    for (char& c : swapped) c = SwapCase(c);
    struct stat named {
    }, other{};
    if (::fstatat(readable, lettered.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(readable, swapped.constData(), &other, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return (other.st_ino == named.st_ino && other.st_dev == named.st_dev) ||
           (complete && !listed.contains(swapped));
}

struct Mount {
    QByteArray type;    // "fuse.fusefat", "fuseblk", ...
    QByteArray source;  // the device or what the mount names in its place
};

// The mount of device, from the mount table; empty when unknown.
Mount MountOf(dev_t device) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wanted =
        QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 2 && fields.at(2) == wanted && dash > 0 && dash + 2 < fields.size())
            return {fields.at(dash + 1), fields.at(dash + 2)};
    }
    return {};
}

// The file system on a block device as udev recorded it when the device
// came (readable by everyone), else as its first sector says (the device
// must be readable: root, or the disk group).
QByteArray DeviceType(dev_t device, const QByteArray& source) {
    QFile udev(QStringLiteral("/run/udev/data/b%1:%2").arg(major(device)).arg(minor(device)));
    if (udev.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : udev.readAll().split('\n'))
            if (line.startsWith("E:ID_FS_TYPE="))
                return line.mid(13);
    }
    const Handle fd(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    unsigned char sector[512] = {};
    if (!fd.valid() || ::fstat(fd.native(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != device || ::pread(fd.native(), sector, sizeof sector, 0) != sizeof sector)
        return {};
    const auto at = [&](int offset, const char* text) {
        return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
    };
    if (at(3, "EXFAT   "))
        return "exfat";
    if (at(3, "NTFS    "))
        return "ntfs";
    if (sector[510] == 0x55 && sector[511] == 0xAA && (at(54, "FAT1") || at(82, "FAT32")))
        return "vfat";
    return {};
}

enum class Known { Yes, No, Unknown };

// What the mount of a FUSE folder tells: its driver's name, or the file
// system on its device.
Known CaseOfFuse(dev_t device) {
    const Mount mount = MountOf(device);
    QByteArray type = mount.type;
    if (type == "fuseblk")
        type = DeviceType(device, mount.source);
    else if (type.startsWith("fuse."))
        type = type.mid(5);
    if (type == "fusefat" || type == "exfat" || type == "fatfs" || type == "vfat" ||
        type == "msdos" || type == "exfat-fuse")
        return Known::Yes;
    // ntfs-3g keeps names apart as Linux does.
    if (type == "ntfs" || type == "ntfs-3g" || type == "ntfs3")
        return Known::No;
    return Known::Unknown;
}

// A hidden name of our own in lower case, looked up in upper case, and
// removed again.
Known Probed(int folder) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        char lower[64];
        std::snprintf(lower, sizeof lower, ".zandrel-case-%08x", ::arc4random());
        const Handle made(
            ::openat(folder, lower, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!made.valid()) {
            if (errno == EEXIST)
                continue;
            return Known::Unknown;
        }
        QByteArray upper(lower);
        for (char& c : upper) c = SwapCase(c);
        struct stat mine {
        }, other{};
        const bool found = ::fstatat(folder, upper.constData(), &other, AT_SYMLINK_NOFOLLOW) == 0;
        const int why = errno;
        // Only the very file made here goes: held open, its number stays.
        if (::fstat(made.native(), &mine) == 0 &&
            ::fstatat(folder, lower, &other, AT_SYMLINK_NOFOLLOW) == 0 &&
            naming::IdentityOf(other) == naming::IdentityOf(mine))
            ::unlinkat(folder, lower, 0);
        return found ? Known::Yes : why == ENOENT ? Known::No : Known::Unknown;
    }
    return Known::Unknown;
}

}  // namespace

bool IgnoresCase(const Folder& folder, bool mayProbe) {
    if (!folder.valid() || folder.isVirtual())
        return false;
    const int fd = folder.handle().native();
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    const long type = long(fs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic)
        return true;
    const Handle readable(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable.valid())
        return false;
    long flags = 0;
    if (::ioctl(readable.native(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL))
        return true;
    if (In(type, kLinuxOwn))
        return false;
    struct stat st {};
    if (type == kFuseMagic && ::fstat(readable.native(), &st) == 0) {
        const Known fuse = CaseOfFuse(st.st_dev);
        if (fuse != Known::Unknown)
            return fuse == Known::Yes;
    }
    if (mayProbe) {
        const Known probed = Probed(readable.native());
        if (probed != Known::Unknown)
            return probed == Known::Yes;
    }
    // An empty folder tells nothing: its parents on the same file system
    // may (a new folder on a stick).
    Handle at(::dup(readable.native()));
    for (int up = 0; up < 16 && at.valid(); ++up) {
        if (FoundInOtherCase(at.native()))
            return true;
        struct stat here {
        }, parent{};
        Handle next(::openat(at.native(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!next.valid() || ::fstat(at.native(), &here) != 0 ||
            ::fstat(next.native(), &parent) != 0 || parent.st_dev != here.st_dev ||
            parent.st_ino == here.st_ino)
            break;
        at = std::move(next);
    }
    return false;
}

namespace naming {

bool KeepsNumbers(int folder) {
    struct statfs fs {};
    if (::fstatfs(folder, &fs) != 0)
        return false;
    const long type = long(fs.f_type);
    return In(type, kLinuxOwn) || In(type, kKeepNumbersToo);
}

}  // namespace naming

bool KeepsInodeNumbers(const Folder& folder) {
    // A folder only a preview made is on the disk of the folder it is in,
    // which the caller asks instead.
    if (!folder.valid() || folder.isVirtual())
        return true;
    return naming::KeepsNumbers(folder.handle().native());
}

}  // namespace zandrel::fs
