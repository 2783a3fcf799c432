// A batch's flushes on Windows, and what it may hold: the files of its
// copies flushed (each copy is also flushed on its own before its name),
// the handles it may keep open, the thread its work runs on.

#include <string>
#include <system_error>

#include "common/PendingCopy.h"
#include "common/win/Nt.h"
#include "common/win/TakeName.h"

namespace zandrel::fs {

namespace {

// The folder the file of handle is in now, by its path.
Handle FolderOf(HANDLE handle) {
    std::wstring path = win::FinalPath(handle);
    if (path.empty())
        return Handle();
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos)
        return Handle();
    path.resize(cut + 1);
    return Handle(::CreateFileW(path.c_str(), win::kFolderAccess, win::kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

namespace disk {

int LastError() {
    return win::LastError();
}

// The file of handle with its metadata, and on NTFS the file system's log,
// which holds the names made before it: a volume's own flush needs rights a
// user lacks. A copy's handle, opened before its writes, reports those that
// failed.
int FlushFileSystem(const Handle& handle) {
    if (!handle.valid())
        return ERROR_INVALID_HANDLE;
    if (::FlushFileBuffers(handle.native()))
        return 0;
    const int error = win::LastError();
    // A handle open for reading only (a Move's source) flushes nothing: a
    // new file beside it does, the log with it.
    if (error != ERROR_ACCESS_DENIED)
        return error;
    int beside = 0;
    const Handle flusher = FlusherIn(Folder(FolderOf(handle.native())), beside);
    if (!flusher.valid())
        return beside;
    return ::FlushFileBuffers(flusher.native()) ? 0 : win::LastError();
}

Handle Duplicate(const Handle& handle) {
    return win::DuplicateOf(handle.native());
}

// A new file in the folder that goes when it is closed: what flushes the
// names made there.
Handle FlusherIn(const Folder& folder, int& error) {
    win::OpenRequest request;
    request.access = GENERIC_WRITE | DELETE;
    request.share = 0;
    request.disposition = win::kCreate;
    request.options = win::kNonDirectory | 0x00001000;  // FILE_DELETE_ON_CLOSE
    request.attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY;
    error = ERROR_INVALID_HANDLE;
    if (!folder.handle().valid())
        return Handle();
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = naming::FreshTemporaryName("flush");
        Handle own(win::OpenAt(folder.handle().native(), name, request, error));
        if (own.valid())
            return own;
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    return Handle();
}

// Handles are not a scarce resource here (millions per process): the
// batch's own bounds are the limit.
int HandleBudget() {
    return 1 << 16;
}

// Console control events come on a thread of their own: no other thread
// needs shielding from them.
bool StartQuietThread(std::thread& thread, std::function<void()> work) {
    try {
        thread = std::thread(std::move(work));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace disk

}  // namespace zandrel::fs
