// The one place that chooses between the disk (the platform's calls, Disk.h)
// and a preview's overlay, for every call of the file layer.

#include "common/FileSystem.h"

#include "common/Batch.h"

#include <QList>

#include <algorithm>

#include "common/Disk.h"
#include "common/Overlay.h"
#include "common/Paths.h"

namespace zandrel::fs {

// The step that failed stays in the reason where the system's error alone
// would read alike for a read, a flush and a read-back ("Input/output
// error").
QString CopyOutcome::reason() const {
    if (error != 0) {
        switch (result) {
            case CopyResult::ReadFailed:
                return QStringLiteral("could not be read: ") + ErrorText(error);
            case CopyResult::FlushFailed:
                return QStringLiteral("could not be put on the disk: ") + ErrorText(error);
            case CopyResult::VerifyFailed:
                return QStringLiteral("could not be read back: ") + ErrorText(error);
            default:
                return ErrorText(error);
        }
    }
    switch (result) {
        case CopyResult::Copied:
            return {};
        case CopyResult::Aborted:
            return QStringLiteral("stopped before it was complete");
        case CopyResult::NotARegularFile:
            return QStringLiteral("not a regular file");
        case CopyResult::SameFile:
            return QStringLiteral("the destination is the file itself");
        case CopyResult::SourceChanged:
            return QStringLiteral("the file changed while it was copied");
        case CopyResult::ReadFailed:
            return QStringLiteral("could not be read");
        case CopyResult::WriteFailed:
            return QStringLiteral("could not be written");
        case CopyResult::CouldNotPutInPlace:
            return QStringLiteral("could not be put in place");
        case CopyResult::NameTaken:
            return QStringLiteral("another file took the name after the copy was decided on");
        case CopyResult::DestinationChanged:
            return QStringLiteral(
                "the file at the destination changed after the copy was decided on");
        case CopyResult::Clash:
            return QStringLiteral(
                "another file of this run has the name (the destination ignores letter case)");
        case CopyResult::Discarded:
            return QStringLiteral("the run was aborted before the copy was on the disk");
        case CopyResult::VerifyFailed:
            return QStringLiteral("the copy read back differs from its source");
        case CopyResult::FlushFailed:
            return QStringLiteral("could not be put on the disk");
    }
    return {};
}

FileInfo InfoAt(const QByteArray& path, bool followLink, Overlay* overlay) {
    return overlay ? overlay->infoAt(path, followLink) : disk::InfoAt(path, followLink);
}

Folder Folder::openAsNamed(const QByteArray& path, Overlay* overlay) {
    return overlay ? overlay->openAsNamed(path) : disk::OpenFolder(path);
}

FileInfo Folder::info(const char* name, bool followLink) const {
    return overlay_ ? overlay_->info(*this, name, followLink)
                    : disk::InfoIn(*this, name, followLink);
}

FileInfo Folder::info() const {
    return virtual_ ? overlay_->folderInfo(*this) : disk::FolderInfo(*this);
}

FileIdentity Folder::identity() const {
    if (!identityKnown_) {
        identity_ = info().identity;
        identityKnown_ = true;
    }
    return identity_;
}

Folder Folder::child(const char* name) const {
    return overlay_ ? overlay_->child(*this, name) : disk::Child(*this, name);
}

bool Folder::makeChild(const char* name, quint32 permissions) const {
    return overlay_ ? overlay_->makeChild(*this, name, permissions)
                    : disk::MakeChild(*this, name, permissions);
}

bool Folder::setPermissions(quint32 permissions) const {
    return overlay_ ? valid() : disk::SetPermissions(*this, permissions);
}

Status Folder::deleteFile(const char* name, const FileIdentity& expected) const {
    return overlay_ ? overlay_->deleteFile(*this, name, expected)
                    : disk::DeleteEntry(*this, name, expected);
}

Status Folder::removeFolder(const char* name) const {
    return overlay_ ? overlay_->removeFolder(*this, name) : disk::RemoveFolder(*this, name);
}

int Folder::readEntries(const EntryVisit& visit) const {
    return overlay_ ? overlay_->readEntries(*this, visit) : disk::ReadEntries(*this, visit);
}

int WriteAccess(const Folder& folder, const char* name) {
    return folder.isVirtual() ? folder.overlay()->writeAccess(folder)
                              : disk::WriteAccess(folder, name);
}

int OpenSource(const Folder& folder, const char* name, SourceFile& source) {
    source = SourceFile();
    if (folder.overlay())
        return folder.overlay()->openSource(folder, name, source);
    return OpenSourceOnDisk(folder, name, source);
}

CopyOutcome CopyFileBlocks(SourceFile& source, const CopyRequest& request,
                           const BlockProgress& progress, FileIdentity* placed) {
    if (request.destination && request.destination->overlay())
        return request.destination->overlay()->place(source.info, request, placed);
    if (!request.batch)
        return disk::CopyFileBlocks(source, request, progress, placed, nullptr);
    WaitingCopy waiting;
    const CopyOutcome made = disk::CopyFileBlocks(source, request, progress, placed, &waiting);
    if (!made.ok() || !waiting.file)
        return made;
    return request.batch->add(request, std::move(waiting));
}

CopyOutcome PutEmptyFile(const CopyRequest& request, const FileIdentity* source,
                         FileIdentity* placed) {
    if (request.destination && request.destination->overlay()) {
        // It keeps the time of the file it copies, where that was opened.
        FileInfo empty = request.model ? request.model->info : FileInfo();
        empty.kind = FileKind::File;
        empty.size = 0;
        if (source)
            empty.identity = *source;
        empty.permissions = request.permissions;
        return request.destination->overlay()->place(empty, request, placed);
    }
    if (!request.batch)
        return disk::PutEmptyFile(request, source, placed, nullptr);
    WaitingCopy waiting;
    const CopyOutcome made = disk::PutEmptyFile(request, source, placed, &waiting);
    if (!made.ok() || !waiting.file)
        return made;
    return request.batch->add(request, std::move(waiting));
}

CopyOutcome CopyLink(const Folder& folder, const char* name, const FileInfo& seen,
                     const CopyRequest& request, FileIdentity* placed) {
    if (request.destination && request.destination->overlay()) {
        // Its text, so that a later Listing that names it is led on.
        Overlay& overlay = *request.destination->overlay();
        QByteArray text = overlay.linkText(folder, name);
        if (text.isEmpty() && folder.valid())
            text = disk::LinkText(folder, name);
        return overlay.place(seen, request, placed, text);
    }
    return disk::CopyLink(folder, name, seen, request, placed);
}

CopyOutcome LinkToCopy(const Folder& from, const char* fromName, const FileIdentity& expected,
                       const CopyRequest& request, const FileIdentity* source,
                       FileIdentity* placed) {
    if (request.destination && request.destination->overlay())
        return request.destination->overlay()->placeLink(from, fromName, expected, request, placed);
    return disk::LinkToCopy(from, fromName, expected, request, source, placed);
}

bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving,
                Overlay* overlay) {
    if (!overlay)
        return disk::ProbeWrite(folder, beforeRemoving);
    // Nothing is written: the folder's permissions answer.
    if (beforeRemoving)
        beforeRemoving();
    return overlay->probeWrite(folder);
}

void MakeFolderPath(const QByteArray& path, Overlay* overlay) {
    if (overlay)
        overlay->makeFolderPath(path);
    else
        disk::MakeFolderPath(path);
}

// The folder, or the nearest folder above it by name that is there.
bool LooksWritable(const QByteArray& path, Overlay* overlay) {
    QByteArray folder = path.isEmpty() ? QByteArrayLiteral(".") : path;
    for (;;) {
        int error = 0;
        if (overlay) {
            const Folder open = overlay->openAsNamed(folder);
            if (open.valid())
                return WriteAccess(open) == 0;
            error = open.openError();
        } else if ((error = disk::AccessForWriting(folder)) == 0) {
            return true;
        }
        if (error != error::kNotFound)
            return false;
        const qsizetype cut = folder.lastIndexOf('/');
        // A root keeps its separator ("C:" alone is a drive's current folder).
        QByteArray up =
            cut < 0 ? QByteArrayLiteral(".") : RemoveTrailingSeparator(folder.left(cut + 1));
        if (up == folder)
            return false;
        folder = std::move(up);
    }
}

namespace {

// The components of a relative folder path with "." and empty ones dropped
// and ".." taken back; false when ".." would leave the root.
bool Normalise(QByteArrayView relative, QByteArray& out) {
    out.clear();
    QList<qsizetype> starts;
    for (qsizetype pos = 0; pos <= relative.size();) {
        qsizetype end = relative.indexOf('/', pos);
        if (end < 0)
            end = relative.size();
        const QByteArrayView part = relative.sliced(pos, end - pos);
        pos = end + 1;
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (starts.isEmpty())
                return false;
            out.truncate(std::max<qsizetype>(0, starts.takeLast() - 1));
            continue;
        }
        starts.append(out.isEmpty() ? 0 : out.size() + 1);
        if (!out.isEmpty())
            out.append('/');
        out.append(part.data(), part.size());
    }
    return true;
}

}  // namespace

const Folder* FolderCursor::reach(QByteArrayView relative, const MirrorOf* mirrorOf) {
    if (!root_.valid()) {
        lastError_ = root_.openError() ? root_.openError() : error::kBadHandle;
        return nullptr;
    }
    if (relative.isEmpty())
        return &root_;
    if (current_.valid() && relative == currentPath_)
        return &current_;
    QByteArray path;
    if (!Normalise(relative, path))
        return nullptr;
    if (path.isEmpty())
        return &root_;
    if (current_.valid() && path == currentPath_)
        return &current_;

    // From the latest folder when the new one lies below it.
    qsizetype pos = 0;
    const Folder* from = &root_;
    if (current_.valid() && path.size() > currentPath_.size() && path.startsWith(currentPath_) &&
        path.at(currentPath_.size()) == '/') {
        pos = currentPath_.size() + 1;
        from = &current_;
    }
    return root_.overlay_ ? reachInOverlay(path, pos, *from, mirrorOf)
                          : reachOnDisk(path, pos, *from, mirrorOf);
}

void FolderCursor::finish() {
    if (root_.overlay_)
        root_.overlay_->settle();
    finishOnDisk();
}

// Folders as the overlay has left them: those on the disk are reached on the
// disk, the rest one name at a time through the overlay, where missing ones
// are made.
const Folder* FolderCursor::reachInOverlay(const QByteArray& path, qsizetype pos,
                                           const Folder& from, const MirrorOf* mirrorOf) {
    if (from.handle().valid()) {
        Handle found = disk::OpenBelow(from, path.mid(pos));
        if (found.valid()) {
            current_ = Folder(std::move(found), 0, root_.overlay_);
            currentPath_ = path;
            return &current_;
        }
    }
    const Folder* at = &from;
    Folder step;
    while (pos < path.size()) {
        qsizetype end = path.indexOf('/', pos);
        if (end < 0)
            end = path.size();
        const QByteArray name = path.mid(pos, end - pos);
        Folder next = at->child(name.constData());
        if (!next.valid() && next.openError() == error::kNotFound && mirrorOf) {
            const Folder* model = (*mirrorOf)(QByteArrayView(path).first(end));
            const FileInfo like = model ? model->info() : FileInfo();
            if (at->makeChild(name.constData(),
                              model ? like.permissions : kDefaultFolderPermissions)) {
                next = at->child(name.constData());
                if (model && next.valid())
                    root_.overlay_->makeLike(next, like);
            }
        }
        if (!next.valid()) {
            lastMissing_ = next.openError() == error::kNotFound;
            lastError_ = next.openError();
            current_ = Folder();
            currentPath_.clear();
            return nullptr;
        }
        step = std::move(next);
        at = &step;
        pos = end + 1;
    }
    current_ = std::move(step);
    currentPath_ = path;
    return &current_;
}

}  // namespace zandrel::fs
