// Whole files on Windows: new files that take their name when complete, and
// files read from the start.

#include <QRandomGenerator>

#include <algorithm>

#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

bool NewFile::create() {
    win::OpenRequest request;
    request.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    request.share = FILE_SHARE_READ;
    request.disposition = win::kCreate;
    request.options = win::kNonDirectory;
    request.attributes = FILE_ATTRIBUTE_HIDDEN;
    const HANDLE dir = folder_.handle().native();
    if (!folder_.handle().valid() || !withHiddenName([&](const char* name) {
            int error = 0;
            handle_.reset(win::OpenAt(dir, name, request, error));
            return handle_.valid();
        }))
        return false;
    win::Stat st;
    if (win::StatOf(handle_.native(), st) != 0)
        return false;
    identity_ = win::IdentityOf(st);
    return true;
}

bool NewFile::write(QByteArrayView bytes) {
    for (qsizetype done = 0; ok_ && done < bytes.size();) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(bytes.size() - done, qsizetype(1) << 30));
        ok_ = ::WriteFile(handle_.native(), bytes.data() + done, chunk, &n, nullptr) && n > 0;
        done += n;
    }
    return ok_;
}

// Kept open past its flush: it is renamed through its handle, so that the
// name given is this file's whatever was planted at the hidden one.
bool NewFile::finish() {
    return ok_ && handle_.valid() && ::FlushFileBuffers(handle_.native());
}

bool NewFile::renameTo(const char* name) {
    if (!handle_.valid() || hidden_.isEmpty())
        return false;
    win::SetAttributes(handle_.native(), FILE_ATTRIBUTE_ARCHIVE);
    // A file or a link at the name is replaced, never written through.
    if (win::RenameByHandle(handle_.native(), folder_.handle().native(), name, true) != 0) {
        win::SetAttributes(handle_.native(), FILE_ATTRIBUTE_HIDDEN);
        return false;
    }
    hidden_.clear();
    handle_.reset();
    return true;
}

bool NewFile::withHiddenName(const std::function<bool(const char*)>& make) {
    // The first name is fixed so that tests can plant something there.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QByteArray name = ".zandrel-log.new";
        if (attempt > 0)
            name += '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        if (make(name.constData())) {
            hidden_ = name;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// Removed through its own handle while it has one; else only while the
// hidden name is still the file made here.
void NewFile::discard() {
    if (handle_.valid() && !hidden_.isEmpty())
        win::DeleteByHandle(handle_.native());
    else if (!hidden_.isEmpty())
        folder_.deleteFile(hidden_.constData(), identity_);
    handle_.reset();
    hidden_.clear();
}

int ReadOnlyFile::open(const QByteArray& path) {
    if (path.isEmpty() || path.contains('\0'))
        return ERROR_FILE_NOT_FOUND;
    handle_.reset(::CreateFileW(win::LongPath(path).c_str(), GENERIC_READ, win::kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle_.valid())
        return win::LastError();
    // A pipe or a device given by mistake is refused, not waited on.
    if (::GetFileType(handle_.native()) != FILE_TYPE_DISK)
        return ERROR_INVALID_PARAMETER;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_.native(), &size))
        return win::LastError();
    size_ = size.QuadPart;
    return 0;
}

qint64 ReadOnlyFile::read(char* buffer, qint64 length) {
    DWORD n = 0;
    const DWORD chunk = DWORD(std::min<qint64>(length, qint64(1) << 30));
    if (!::ReadFile(handle_.native(), buffer, chunk, &n, nullptr))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return n;
}

bool ReadOnlyFile::rewind() {
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(handle_.native(), start, nullptr, FILE_BEGIN) != 0;
}

}  // namespace zandrel::fs
