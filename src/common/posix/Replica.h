#pragma once
// What a copy or a folder made for the structure takes from its source
// besides the data: owner, extended attributes, ACLs, permissions and times.
// Everything is set through descriptors before the copy has its name, and
// what the destination cannot keep is passed over. Linux only.

#include <sys/stat.h>

#include <QByteArray>
#include <QtGlobal>

namespace zandrel::fs::replica {

// An open file or folder. A descriptor opened for its path only (O_PATH)
// reaches its attributes through its /proc entry.
struct Node {
    int fd = -1;
    bool pathOnly = false;
};

// Gives copy, made by this process and not yet named, the source's owner and
// group (owner, group: root only), extended attributes and ACLs (a folder's
// default ACL too; an ACL is kept exactly, the owning group's entry emptied
// when the copy's group is not the source's). Without an ACL the copy gets
// the permissions wanted, limited by the file-creation mask, by what the
// source's ACL gives its owning group, and without group permissions when
// its group is not the source's.
// made is the copy as created. The copy is left with the final permissions
// plus extra (access kept while files go in) and a set-group-ID bit it
// inherited; returns the final permissions.
// inherits: whether the copy may have taken an access ACL from its folder's
// default ACL (which is then looked for, and removed where the source has
// none).
quint32 MirrorAttributes(const Node& source, uid_t owner, gid_t group, const Node& copy,
                         const struct stat& made, quint32 wanted, quint32 extra = 0,
                         bool inherits = true);

// Whether new files in the folder (an open handle of any kind, with its
// identity) take an access ACL from a default ACL of the folder's: asked of
// the disk once per folder in a row.
bool FolderGivesAcl(int folder, const FileIdentity& identity);

// Sets the permission bits and the set-ID and sticky bits.
bool SetMode(const Node& node, quint32 mode);

// Sets the access and modification times, in nanoseconds since the epoch.
bool SetTimes(const Node& node, qint64 accessedNs, qint64 modifiedNs);

qint64 Nanoseconds(const struct timespec& t);
struct timespec Timespec(qint64 ns);

// The permissions an ACL in its extended-attribute form gives the owner, the
// group class and others (as the mode shows them), and its owning group's
// own entry; false when it cannot be read.
bool AclPermissions(const QByteArray& acl, quint32* mode, quint32* owningGroup);

}  // namespace zandrel::fs::replica
