// Whether a folder's file system tells names apart by letter case on Linux:
// FAT and exFAT do not, nor ext4 folders made case-folding; FUSE file
// systems (FAT and exFAT sticks through FUSE) are asked by looking a name up
// in the other case.

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

#include "common/FileSystem.h"

namespace zandrel::fs {

namespace {

constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kFuseMagic = 0x65735546;
#ifndef FS_CASEFOLD_FL
constexpr long FS_CASEFOLD_FL = 0x40000000;
#endif

// A name of the folder with a letter, looked up with its letters swapped:
// found, though the folder lists no such name (some FUSE file systems give
// each lookup a new inode number), the file system ignores case.
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
            if (std::isalpha(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
                lettered = e->d_name;
        }
    }
    ::closedir(dir);
    if (lettered.isEmpty())
        return false;
    QByteArray swapped = lettered;
    for (char& c : swapped) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u) && u < 0x80)
            c = char(std::islower(u) ? std::toupper(u) : std::tolower(u));
    }
    struct stat named {
    }, other{};
    if (::fstatat(readable, lettered.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(readable, swapped.constData(), &other, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return (other.st_ino == named.st_ino && other.st_dev == named.st_dev) ||
           (complete && !listed.contains(swapped));
}

// The type of the file system mounted as device, from the mount table
// ("fuse.fusefat" for a FAT image through FUSE); empty when unknown.
QByteArray MountedType(dev_t device) {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wanted =
        QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 2 && fields.at(2) == wanted && dash > 0 && dash + 1 < fields.size())
            return fields.at(dash + 1);
    }
    return {};
}

}  // namespace

bool IgnoresCase(const Folder& folder) {
    if (!folder.valid() || folder.isVirtual())
        return false;
    const int fd = folder.handle().native();
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    if (long(fs.f_type) == kMsdosMagic || long(fs.f_type) == kExfatMagic)
        return true;
    const Handle readable(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable.valid())
        return false;
    long flags = 0;
    if (::ioctl(readable.native(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL))
        return true;
    if (long(fs.f_type) != kFuseMagic)
        return false;
    struct stat st {};
    if (::fstat(readable.native(), &st) == 0) {
        const QByteArray type = MountedType(st.st_dev);
        if (type == "fuse.fusefat" || type == "fuse.exfat" || type == "fuse.fatfs" ||
            type == "fuse.vfat")
            return true;
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

}  // namespace zandrel::fs
