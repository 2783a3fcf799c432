#pragma once
// What the Linux bodies of the file layer share: a stat as the layer tells
// it.

#include <sys/stat.h>

#include <cerrno>

#include "common/FileSystem.h"
#include "common/posix/Replica.h"

namespace zandrel::fs {

inline FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::File;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return FileKind::Other;
}

inline FileInfo InfoOf(const struct stat& st) {
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
inline FileInfo NotExamined(int error) {
    FileInfo info;
    info.kind = error == ENOENT || error == ENOTDIR ? FileKind::Missing : FileKind::Unknown;
    info.error = error;
    return info;
}

inline void Stamp(const struct stat& st, SourceFile& source) {
    source.modifiedNs = replica::Nanoseconds(st.st_mtim);
    source.changedNs = replica::Nanoseconds(st.st_ctim);
    source.accessedNs = replica::Nanoseconds(st.st_atim);
    source.allocated = qint64(st.st_blocks) * 512;
    source.owner = st.st_uid;
    source.group = st.st_gid;
    source.links = static_cast<quint32>(st.st_nlink);
}

}  // namespace zandrel::fs
