#include "common/Overlay.h"

#include "common/Disk.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <cstring>
#include "common/Paths.h"

namespace zandrel::fs {

namespace {

FileInfo Gone(int error) {
    FileInfo info;
    info.error = error;
    return info;
}

// The folder part and the last name of a path ("" and "/" stay whole).
bool SplitLast(const QByteArray& path, QByteArray& folder, QByteArray& name) {
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/') && !IsRootPath(trimmed)) trimmed.chop(1);
    const qsizetype cut = trimmed.lastIndexOf('/');
    if (trimmed.isEmpty() || IsRootPath(trimmed) || trimmed == "." || trimmed == "..")
        return false;
    // A root keeps its separator ("C:" alone is a drive's current folder).
    folder = cut < 0 ? QByteArrayLiteral(".") : RemoveTrailingSeparator(trimmed.left(cut + 1));
    name = trimmed.mid(cut + 1);
    return !name.isEmpty() && name != "." && name != "..";
}

bool IsDotName(QByteArrayView name) {
    return name == "." || name == "..";
}

bool HasDotName(const QByteArray& path) {
    const QList<QByteArray> names = path.split('/');
    return std::any_of(names.cbegin(), names.cend(),
                       [](const QByteArray& name) { return IsDotName(name); });
}

}  // namespace

QByteArray Overlay::keyOf(const FileIdentity& folder) {
    return QByteArray(reinterpret_cast<const char*>(&folder), sizeof folder);
}

const Overlay::Node* Overlay::find(const Folder& folder, const char* name) const {
    if (nodes_.isEmpty())
        return nullptr;
    const auto entries = nodes_.constFind(keyOf(folder.identity()));
    if (entries == nodes_.constEnd())
        return nullptr;
    const auto node = entries->constFind(QByteArray(name));
    return node == entries->constEnd() ? nullptr : &*node;
}

void Overlay::record(const Folder& folder, const char* name, const FileInfo& info,
                     const QByteArray& linkText) {
    const QByteArray key = keyOf(folder.identity());
    nodes_[key].insert(QByteArray(name), Node{info, linkText});
    changed_.insert(key, tick());
}

// The run's changes come one after the other, each later than the last and
// than anything on the disk before it.
qint64 Overlay::tick() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000;
    clock_ = std::max(clock_ + 1000, now);
    return clock_;
}

FileInfo Overlay::withChanges(FileInfo info) const {
    if (info.kind != FileKind::Folder)
        return info;
    const auto changed = changed_.constFind(keyOf(info.identity));
    if (changed != changed_.constEnd()) {
        info.modifiedNs = *changed;
        info.modified = *changed / 1000000000;
    }
    return info;
}

Folder Overlay::virtualFolder(const FileInfo& info) {
    Folder folder(Handle(), 0, this);
    folder.virtual_ = true;
    folder.identity_ = info.identity;
    folder.identityKnown_ = true;
    return folder;
}

FileInfo Overlay::info(const Folder& folder, const char* name, bool followLink) {
    // The folder itself and its parent: a folder only the overlay made has
    // them as any other.
    if (folder.isVirtual() && name[0] == '.' &&
        (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        return folderInfo(folder);
    if (const Node* node = find(folder, name)) {
        if (!node->info.exists())
            return Gone(error::kNotFound);
        // A folder made here is as settled since.
        if (node->info.kind == FileKind::Folder)
            return withChanges(madeFolders_.value(keyOf(node->info.identity), node->info));
        return withChanges(node->info);
    }
    if (folder.isVirtual())
        return Gone(error::kNotFound);
    return withChanges(disk::InfoIn(folder, name, followLink));
}

FileInfo Overlay::folderInfo(const Folder& folder) {
    const FileIdentity id = folder.identity();
    FileInfo info = madeFolders_.value(keyOf(id));
    info.kind = FileKind::Folder;
    info.identity = id;
    return withChanges(info);
}

Folder Overlay::child(const Folder& folder, const char* name) {
    if (const Node* node = find(folder, name)) {
        if (node->info.kind == FileKind::Folder)
            return virtualFolder(node->info);
        return Folder(Handle(), node->info.exists() ? error::kNotAFolder : error::kNotFound, this);
    }
    if (folder.isVirtual())
        return Folder(Handle(), error::kNotFound, this);
    Folder found = disk::Child(folder, name);
    found.overlay_ = this;
    return found;
}

int Overlay::readEntries(const Folder& folder, const EntryVisit& visit) {
    const auto entries = nodes_.constFind(keyOf(folder.identity()));
    const bool changed = entries != nodes_.constEnd();
    if (!folder.isVirtual()) {
        const int error =
            disk::ReadEntries(folder, [&](const char* name, std::size_t size, FileKind kind) {
                if (!changed || !entries->contains(QByteArray(name, qsizetype(size))))
                    visit(name, size, kind);
            });
        if (error != 0)
            return error;
    }
    if (changed) {
        for (auto it = entries->constBegin(); it != entries->constEnd(); ++it) {
            if (it.value().info.exists())
                visit(it.key().constData(), std::size_t(it.key().size()), it.value().info.kind);
        }
    }
    return 0;
}

int Overlay::openSource(const Folder& folder, const char* name, SourceFile& source) {
    if (const Node* node = find(folder, name)) {
        if (!node->info.exists())
            return error::kNotFound;
        if (node->info.kind == FileKind::Link)
            return error::kTooManyLinks;
        // A copy this run made: it could be read.
        source.info = node->info;
        source.nameIdentity = node->info.identity;
        source.modifiedNs = node->info.modifiedNs;
        return 0;
    }
    if (folder.isVirtual())
        return error::kNotFound;
    // Opening for reading changes nothing: the disk answers as for the run.
    return OpenSourceOnDisk(folder, name, source);
}

bool Overlay::makeChild(const Folder& folder, const char* name, quint32 permissions) {
    if (info(folder, name, false).kind != FileKind::Missing || WriteAccess(folder) != 0)
        return false;
    FileInfo made;
    made.kind = FileKind::Folder;
    made.identity = freshIdentity();
    made.permissions = Masked(permissions);
    made.ownerWritable = true;
    made.modifiedNs = tick();
    made.modified = made.modifiedNs / 1000000000;
    madeFolders_.insert(keyOf(made.identity), made);
    record(folder, name, made);
    return true;
}

Status Overlay::deleteFile(const Folder& folder, const char* name, const FileIdentity& expected) {
    const FileInfo there = info(folder, name, false);
    if (!there.exists())
        return {there.error ? there.error : error::kNotFound};
    if (there.kind == FileKind::Folder)
        return {error::kIsAFolder};
    if (!(there.identity == expected))
        return {error::kReplaced};
    if (const int error = WriteAccess(folder, IsVirtual(there.identity) ? nullptr : name))
        return {error};
    record(folder, name, Gone(error::kNotFound));
    return {};
}

Status Overlay::removeFolder(const Folder& folder, const char* name) {
    const FileInfo there = info(folder, name, false);
    if (!there.exists())
        return {error::kNotFound};
    if (there.kind != FileKind::Folder)
        return {error::kNotAFolder};
    const Folder inside = child(folder, name);
    bool empty = true;
    // A folder that cannot be read cannot be known to be empty.
    const int unread =
        inside.valid()
            ? inside.readEntries([&](const char*, std::size_t, FileKind) { empty = false; })
            : inside.openError();
    if (unread != 0 || !empty)
        return {error::kNotEmpty};
    if (const int error = WriteAccess(folder, name))
        return {error};
    record(folder, name, Gone(error::kNotFound));
    return {};
}

bool Overlay::placedLinkTarget(const Folder& folder, const QByteArray& folderPath,
                               const QByteArray& name, QByteArray& target) const {
    const Node* node = find(folder, name.constData());
    if (!node || node->info.kind != FileKind::Link || node->linkText.isEmpty())
        return false;
    target = node->linkText.startsWith('/') ? node->linkText : folderPath + '/' + node->linkText;
    return true;
}

QByteArray Overlay::linkText(const Folder& folder, const char* name) const {
    const Node* node = find(folder, name);
    return node ? node->linkText : QByteArray();
}

CopyOutcome Overlay::place(const FileInfo& what, const CopyRequest& request, FileIdentity* placed,
                           const QByteArray& linkText) {
    const Folder& folder = *request.destination;
    const FileInfo there = info(folder, request.name, false);
    if (there.exists() && what.identity.inode != 0 && there.identity == what.identity)
        return CopyResult::SameFile;
    if (there.kind == FileKind::Folder)
        return {CopyResult::CouldNotPutInPlace, error::kIsAFolder};
    if (const int error = WriteAccess(
            folder, there.exists() && !IsVirtual(there.identity) ? request.name : nullptr))
        return {CopyResult::WriteFailed, error};
    FileInfo copy = what;
    if (copy.kind != FileKind::Link)
        copy.kind = FileKind::File;
    copy.permissions = Masked(request.permissions);
    copy.ownerWritable = (copy.permissions & 0200) != 0;
    copy.identity = freshIdentity();
    copy.error = 0;
    // A copy keeps its source's time; one made without a model is new.
    if (copy.modifiedNs == 0) {
        copy.modifiedNs = tick();
        copy.modified = copy.modifiedNs / 1000000000;
    } else {
        tick();
    }
    record(folder, request.name, copy, copy.kind == FileKind::Link ? linkText : QByteArray());
    if (placed)
        *placed = copy.identity;
    return CopyResult::Copied;
}

CopyOutcome Overlay::placeLink(const Folder& from, const char* fromName,
                               const FileIdentity& expected, const CopyRequest& request,
                               FileIdentity* placed) {
    const FileInfo first = info(from, fromName, false);
    if (first.kind != FileKind::File || !(first.identity == expected))
        return {CopyResult::CouldNotPutInPlace, error::kNotFound};
    const Folder& folder = *request.destination;
    const FileInfo there = info(folder, request.name, false);
    if (there.exists() && there.identity == expected)
        return CopyResult::Copied;  // linked already
    if (there.kind == FileKind::Folder)
        return {CopyResult::CouldNotPutInPlace, error::kIsAFolder};
    if (const int error = WriteAccess(
            folder, there.exists() && !IsVirtual(there.identity) ? request.name : nullptr))
        return {CopyResult::WriteFailed, error};
    tick();
    record(folder, request.name, first);
    if (placed)
        *placed = expected;
    return CopyResult::Copied;
}

void Overlay::makeLike(const Folder& made, const FileInfo& model) {
    unsettled_.insert(keyOf(made.identity()), model);
}

void Overlay::settle() {
    for (auto it = unsettled_.cbegin(); it != unsettled_.cend(); ++it) {
        auto made = madeFolders_.find(it.key());
        if (made == madeFolders_.end())
            continue;
        made->modified = it.value().modified;
        made->modifiedNs = it.value().modifiedNs;
        changed_.remove(it.key());
    }
    unsettled_.clear();
}

int Overlay::writeAccess(const Folder& folder) const {
    const QByteArray key = keyOf(folder.identity());
    if (unsettled_.contains(key) || IsPrivileged())
        return 0;
    // The run's user owns what it made: the owner's bits decide.
    const FileInfo made = madeFolders_.value(key);
    return !madeFolders_.contains(key) || (made.permissions & 0300) == 0300 ? 0
                                                                            : error::kAccessDenied;
}

// "." and ".." resolved name by name, as the kernel does: each folder on the
// way must be there, and ".." leaves a folder only the overlay made for the
// folder it was made in. After a folder on the disk it stays for the disk to
// resolve (that folder may have been reached through a link).
int Overlay::resolveDots(const QByteArray& path, QByteArray& resolved) {
    const bool absolute = path.startsWith('/');
    QList<QByteArray> kept;
    const auto joined = [&] {
        QByteArray text = absolute ? QByteArrayLiteral("/") : QByteArray();
        for (qsizetype i = 0; i < kept.size(); ++i) {
            if (i > 0)
                text.append('/');
            text.append(kept.at(i));
        }
        return text.isEmpty() ? QByteArrayLiteral(".") : text;
    };
    for (const QByteArray& name : path.split('/')) {
        if (name.isEmpty())
            continue;
        if (!IsDotName(name)) {
            kept.append(name);
            continue;
        }
        const Folder here = openAsNamed(joined());
        if (!here.valid())
            return here.openError();
        if (name == ".")
            continue;
        if (!kept.isEmpty() && here.isVirtual() && kept.last() != "..")
            kept.removeLast();
        else if (!absolute || !kept.isEmpty())
            kept.append(name);
    }
    resolved = joined();
    return 0;
}

Folder Overlay::openAsNamed(const QByteArray& path) {
    Folder onDisk = disk::OpenFolder(path);
    if (onDisk.valid()) {
        onDisk.overlay_ = this;
        return onDisk;
    }
    if (nodes_.isEmpty())
        return Folder(Handle(), onDisk.openError(), this);
    QByteArray named = path;
    if (HasDotName(path)) {
        if (const int error = resolveDots(path, named))
            return Folder(Handle(), error, this);
        if (named != path) {
            onDisk = disk::OpenFolder(named);
            if (onDisk.valid()) {
                onDisk.overlay_ = this;
                return onDisk;
            }
        }
    }
    QByteArray parent;
    QByteArray name;
    if (!SplitLast(named, parent, name))
        return Folder(Handle(), onDisk.openError(), this);
    const Folder above = openAsNamed(parent);
    if (!above.valid())
        return Folder(Handle(), above.openError(), this);
    // A link this run placed, named on the way, is followed as the kernel
    // would follow it on the disk.
    QByteArray target;
    if (placedLinkTarget(above, parent, name, target)) {
        if (linkDepth_ >= kMaxLinkDepth)
            return Folder(Handle(), error::kTooManyLinks, this);
        ++linkDepth_;
        Folder reached = openAsNamed(target);
        --linkDepth_;
        return reached;
    }
    return child(above, name.constData());
}

FileInfo Overlay::infoAt(const QByteArray& named, bool followLink) {
    QByteArray path = named;
    if (!nodes_.isEmpty() && HasDotName(named)) {
        if (const int error = resolveDots(named, path))
            return Gone(error);
    }
    QByteArray parent;
    QByteArray name;
    if (!SplitLast(path, parent, name))
        return InfoAt(path, followLink);
    const Folder above = openAsNamed(parent);
    if (!above.valid())
        return InfoAt(path, followLink);
    FileInfo there = info(above, name.constData(), followLink);
    // A link named in a path is followed, as the user named it.
    if (followLink && there.kind == FileKind::Link && !IsVirtual(there.identity))
        return InfoAt(path, true);
    QByteArray target;
    if (followLink && placedLinkTarget(above, parent, name, target)) {
        if (linkDepth_ >= kMaxLinkDepth)
            return Gone(error::kTooManyLinks);
        ++linkDepth_;
        there = infoAt(target, true);
        --linkDepth_;
    }
    return there;
}

void Overlay::makeFolderPath(const QByteArray& path) {
    const qsizetype last = path.lastIndexOf('/');
    if (last <= 0)
        return;
    const QByteArray folder = path.left(last);
    QByteArray prefix;
    for (qsizetype i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder.at(i) != '/')
            continue;
        prefix = folder.left(i);
        if (openAsNamed(prefix).valid())
            continue;
        QByteArray parent;
        QByteArray name;
        if (!SplitLast(prefix, parent, name))
            return;
        const Folder above = openAsNamed(parent);
        if (!above.valid() || !makeChild(above, name.constData(), kDefaultFolderPermissions))
            return;
    }
}

// The run's write test makes and removes a file in the folder, which gives
// the folder the time of the test.
bool Overlay::probeWrite(const QByteArray& path) {
    const Folder open = openAsNamed(path.isEmpty() ? QByteArrayLiteral(".") : path);
    if (!open.valid() || WriteAccess(open) != 0)
        return false;
    changed_.insert(keyOf(open.identity()), tick());
    return true;
}

}  // namespace zandrel::fs
