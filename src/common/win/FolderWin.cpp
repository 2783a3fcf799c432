// Folders on Windows: reached through handles and the system's opens
// relative to an open folder, one name at a time, never through a symbolic
// link or a junction.

#include <algorithm>
#include <cstdint>
#include <memory>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

namespace {

bool IsLink(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && win::IsLinkTag(tag.ReparseTag);
}

// One name as a folder, never a link; a folder that may not be traversed is
// still held, to be looked at.
Handle OpenChild(HANDLE dir, QByteArrayView name, int& error) {
    win::OpenRequest request;
    request.access = win::kFolderAccess;
    request.options = win::kDirectory;
    HANDLE handle = win::OpenNoLink(dir, name, request, error);
    if (handle == kNoHandle && error == ERROR_ACCESS_DENIED) {
        request.access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        handle = win::OpenNoLink(dir, name, request, error);
    }
    Handle folder(handle);
    if (folder.valid() && IsLink(handle)) {
        folder.reset();
        error = error::kTooManyLinks;
        ::SetLastError(DWORD(error));
    }
    return folder;
}

// The folder of dir again, opened for what access allows.
Handle Reopen(HANDLE dir, ACCESS_MASK access, int& error) {
    win::OpenRequest request;
    request.access = access;
    request.options = win::kDirectory;
    return Handle(win::OpenAt(dir, ".", request, error));
}

bool ValidPath(const QByteArray& path) {
    return !path.isEmpty() && !path.contains('\0');
}

}  // namespace

// ---------------------------------------------------------------------------
// Handle and Folder

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

void Handle::reset(NativeHandle native) {
    if (native_ != kNoHandle && native_ != nullptr)
        ::CloseHandle(native_);
    native_ = native;
}

namespace disk {

FileInfo InfoAt(const QByteArray& path, bool followLink) {
    // A name never holds a NUL; the system would see only the text before it.
    if (!ValidPath(path))
        return win::NotExamined(ERROR_FILE_NOT_FOUND);
    const Handle handle(::CreateFileW(
        win::LongPath(path).c_str(), FILE_READ_ATTRIBUTES, win::kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    win::Stat st;
    if (!handle.valid())
        return win::NotExamined(win::LastError());
    if (const int error = win::StatOf(handle.native(), st))
        return win::NotExamined(error);
    return win::InfoOf(st);
}

Folder OpenFolder(const QByteArray& path) {
    if (!ValidPath(path))
        return Folder(Handle(), ERROR_FILE_NOT_FOUND);
    // As named: links on the way, the last one too, are followed.
    const std::wstring wide = win::LongPath(path);
    Handle handle(::CreateFileW(wide.c_str(), win::kFolderAccess, win::kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // A folder that may not be traversed is still held, to be looked at.
    if (!handle.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
        handle.reset(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, win::kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid())
        return Folder(Handle(), win::LastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle.native(), &info))
        return Folder(Handle(), win::LastError());
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Folder(Handle(), error::kNotAFolder);
    return Folder(std::move(handle));
}

FileInfo InfoIn(const Folder& folder, const char* name, bool followLink) {
    if (!folder.handle().valid())
        return win::NotExamined(ERROR_INVALID_HANDLE);
    win::OpenRequest request;
    request.options = followLink ? 0 : win::kNoReparse;
    int error = 0;
    const Handle handle(win::OpenAt(folder.handle().native(), name, request, error));
    if (!handle.valid())
        return win::NotExamined(error);
    win::Stat st;
    if ((error = win::StatOf(handle.native(), st)) != 0)
        return win::NotExamined(error);
    return win::InfoOf(st);
}

FileInfo FolderInfo(const Folder& folder) {
    if (!folder.handle().valid())
        return win::NotExamined(ERROR_INVALID_HANDLE);
    win::Stat st;
    if (const int error = win::StatOf(folder.handle().native(), st))
        return win::NotExamined(error);
    return win::InfoOf(st);
}

Folder Child(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return Folder(Handle(), ERROR_INVALID_HANDLE);
    int error = 0;
    Handle handle = OpenChild(folder.handle().native(), name, error);
    return Folder(std::move(handle), handle.valid() ? 0 : error);
}

bool MakeChild(const Folder& folder, const char* name, quint32) {
    if (!folder.handle().valid())
        return false;
    win::OpenRequest request;
    request.access = FILE_LIST_DIRECTORY;
    request.disposition = win::kCreate;
    request.options = win::kDirectory;
    int error = 0;
    return Handle(win::OpenAt(folder.handle().native(), name, request, error)).valid();
}

// A folder has no permission bits of its own here; its ACL is inherited.
bool SetPermissions(const Folder& folder, quint32) {
    return folder.handle().valid();
}

Status DeleteEntry(const Folder& folder, const char* name, const FileIdentity& expected) {
    if (!folder.handle().valid())
        return {ERROR_INVALID_HANDLE};
    // Nobody may write to it between the look and the delete.
    win::OpenRequest request;
    request.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    request.share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    int error = 0;
    Handle file(win::OpenNoLink(folder.handle().native(), name, request, error));
    if (!file.valid() && error == ERROR_ACCESS_DENIED) {
        request.access = DELETE | FILE_READ_ATTRIBUTES;
        file.reset(win::OpenNoLink(folder.handle().native(), name, request, error));
    }
    if (!file.valid())
        return {error};
    win::Stat st;
    if ((error = win::StatOf(file.native(), st)) != 0)
        return {error};
    if (win::KindOf(st) == FileKind::Folder)
        return {error::kIsAFolder};
    // Another file than the one copied stands at the name now.
    if (!(win::IdentityOf(st) == expected))
        return {error::kReplaced};
    return {win::DeleteByHandle(file.native())};
}

Status RemoveFolder(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return {ERROR_INVALID_HANDLE};
    win::OpenRequest request;
    request.access = DELETE | FILE_READ_ATTRIBUTES;
    request.options = win::kDirectory;
    int error = 0;
    const Handle inside(win::OpenNoLink(folder.handle().native(), name, request, error));
    if (!inside.valid())
        return {error};
    // A link to a folder is no folder to remove.
    if (IsLink(inside.native()))
        return {error::kNotAFolder};
    return {win::DeleteByHandle(inside.native())};
}

}  // namespace disk

// Nobody here may act whatever the folders' ACLs say: an administrator is
// refused by an ACL as anyone else is.
bool IsPrivileged() {
    return false;
}

void ForgetPrivilege() {}

namespace disk {

// Asked of the system by opening for the access a change needs, which
// writes nothing.
int WriteAccess(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return ERROR_INVALID_HANDLE;
    int error = 0;
    if (!Reopen(folder.handle().native(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, error).valid())
        return error;
    if (!name)
        return 0;
    win::OpenRequest request;
    request.access = DELETE;
    const Handle entry(win::OpenNoLink(folder.handle().native(), name, request, error));
    // Held open by another program is no lack of access.
    return entry.valid() || error != ERROR_ACCESS_DENIED ? 0 : error;
}

int ReadEntries(const Folder& folder, const EntryVisit& visit) {
    if (!folder.handle().valid())
        return ERROR_INVALID_HANDLE;
    // A listing of its own, so that the folder's handle keeps no position.
    int error = 0;
    const Handle list = Reopen(folder.handle().native(), FILE_LIST_DIRECTORY, error);
    if (!list.valid())
        return error;
    constexpr ULONG kBufferSize = 64 * 1024;
    const auto buffer =
        std::make_unique_for_overwrite<std::uint64_t[]>(kBufferSize / sizeof(std::uint64_t));
    for (bool first = true;; first = false) {
        error = win::ReadDirectory(list.native(), buffer.get(), kBufferSize, first);
        // An error part way is no end of the folder.
        if (error == ERROR_NO_MORE_FILES)
            return 0;
        if (error != 0)
            return error;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
        for (ULONG pos = 0;;) {
            const auto* e = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + pos);
            const std::size_t length = e->FileNameLength / sizeof(wchar_t);
            const bool dots = (length == 1 && e->FileName[0] == L'.') ||
                              (length == 2 && e->FileName[0] == L'.' && e->FileName[1] == L'.');
            if (!dots) {
                // For a reparse point the record's EA size is its tag.
                win::Stat st;
                st.by.dwFileAttributes = e->FileAttributes;
                st.tag = e->EaSize;
                const QByteArray name = win::Utf8(e->FileName, length);
                visit(name.constData(), std::size_t(name.size()), win::KindOf(st));
            }
            if (e->NextEntryOffset == 0)
                break;
            pos += e->NextEntryOffset;
        }
    }
}

Handle OpenBelow(const Folder& from, const QByteArray& path) {
    if (!from.handle().valid())
        return Handle();
    Handle step;
    HANDLE at = from.handle().native();
    for (qsizetype pos = 0; pos < path.size();) {
        qsizetype end = path.indexOf('/', pos);
        if (end < 0)
            end = path.size();
        const QByteArrayView name = QByteArrayView(path).sliced(pos, end - pos);
        pos = end + 1;
        if (name.isEmpty() || name == ".")
            continue;
        int error = 0;
        Handle next = OpenChild(at, name, error);
        if (!next.valid())
            return Handle();
        step = std::move(next);
        at = step.native();
    }
    if (step.valid())
        return step;
    int error = 0;
    return Reopen(at, win::kFolderAccess, error);
}

}  // namespace disk

// ---------------------------------------------------------------------------
// FolderCursor

void FolderCursor::reset(Folder root) {
    root_ = std::move(root);
    current_ = Folder();
    currentPath_.clear();
    fixups_.clear();
}

const Folder* FolderCursor::reachOnDisk(const QByteArray& path, qsizetype pos, const Folder& from,
                                        const MirrorOf* mirrorOf) {
    const HANDLE base = from.handle().native();

    // One name at a time, making what is missing.
    Handle step;
    HANDLE at = base;
    int error = 0;
    while (pos < path.size()) {
        qsizetype end = path.indexOf('/', pos);
        if (end < 0)
            end = path.size();
        const QByteArray name = path.mid(pos, end - pos);
        Handle next = OpenChild(at, name, error);
        if (!next.valid() && error == error::kNotFound && mirrorOf) {
            next = makeFolder(at, name.constData(), path.left(end), *mirrorOf);
            if (!next.valid())
                error = win::LastError();
        }
        if (!next.valid())
            break;
        step = std::move(next);
        at = step.native();
        pos = end + 1;
    }
    if (pos < path.size()) {
        lastMissing_ = error == error::kNotFound;
        lastError_ = error;
        current_ = Folder();
        currentPath_.clear();
        return nullptr;
    }
    current_ = Folder(std::move(step));
    currentPath_ = path;
    return &current_;
}

// A folder made like its model: its attributes at once, its model's times at
// finish(), once the files that go in have changed them.
Handle FolderCursor::makeFolder(NativeHandle at, const char* name, const QByteArray& path,
                                const MirrorOf& mirrorOf) {
    const HANDLE dir = at;
    const Folder* model = mirrorOf(path);
    win::OpenRequest request;
    request.access = win::kFolderAccess | FILE_WRITE_ATTRIBUTES;
    request.disposition = win::kCreate;
    request.options = win::kDirectory;
    int error = 0;
    Handle made(win::OpenAt(dir, name, request, error));
    if (!made.valid())
        return error == ERROR_ALREADY_EXISTS ? OpenChild(dir, name, error) : Handle();
    win::Stat from;
    if (!model || !model->handle().valid() || win::StatOf(model->handle().native(), from) != 0 ||
        win::KindOf(from) != FileKind::Folder)
        return made;
    win::SetAttributes(made.native(), from.by.dwFileAttributes & win::kCopiedAttributes);
    fixups_.append({path, false, 0777, win::Nanoseconds(from.basic.LastAccessTime),
                    win::Nanoseconds(from.basic.LastWriteTime)});
    // Held for reaching what is below, as any other folder.
    return Reopen(made.native(), win::kFolderAccess, error);
}

void FolderCursor::finishOnDisk() {
    // Deepest first, so that setting a folder's times is not undone by what
    // is done below it.
    std::sort(fixups_.begin(), fixups_.end(),
              [](const Fixup& a, const Fixup& b) { return a.path.size() > b.path.size(); });
    for (const Fixup& fixup : fixups_) {
        const Folder* folder = reach(fixup.path);
        if (!folder)
            continue;
        int error = 0;
        const Handle writable = Reopen(folder->handle().native(), FILE_WRITE_ATTRIBUTES, error);
        if (!writable.valid())
            continue;
        FILE_BASIC_INFO basic{};
        basic.LastAccessTime = win::FileTime(fixup.accessedNs);
        basic.LastWriteTime = win::FileTime(fixup.modifiedNs);
        ::SetFileInformationByHandle(writable.native(), FileBasicInfo, &basic, sizeof basic);
    }
    fixups_.clear();
    current_ = Folder();
    currentPath_.clear();
}

// No file-creation mask here: a new file's access comes from its folder's
// inherited ACL.
quint32 Masked(quint32 permissions) {
    return permissions & 0777;
}

}  // namespace zandrel::fs
