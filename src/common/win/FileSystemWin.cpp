// What the file layer on Windows leaves to no other file: the system's error
// texts, and paths by name (a probe file, folders made as "mkdir -p" makes
// them).

#include <QString>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

// ---------------------------------------------------------------------------
// Errors

namespace error {
const int kNotFound = ERROR_FILE_NOT_FOUND;
const int kNotAFolder = ERROR_DIRECTORY;
const int kIsAFolder = win::kErrorDirectoryNotSupported;
const int kNotEmpty = ERROR_DIR_NOT_EMPTY;
const int kTooManyLinks = win::kErrorStoppedOnSymlink;
const int kAccessDenied = ERROR_ACCESS_DENIED;
const int kIoError = ERROR_IO_DEVICE;
const int kReplaced = ERROR_FILE_INVALID;
const int kBadHandle = ERROR_INVALID_HANDLE;
const int kNoDescriptor = ERROR_TOO_MANY_OPEN_FILES;
const int kNoDescriptorAnywhere = ERROR_NO_SYSTEM_RESOURCES;
}  // namespace error

QString ErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result;
    if (length > 0 && text)
        result = QString::fromWCharArray(text, int(length)).trimmed();
    if (text)
        ::LocalFree(text);
    if (result.isEmpty())
        return QStringLiteral("error %1").arg(error);
    // One sentence inside a line of its own ("copy failed: path: reason").
    if (result.endsWith(QLatin1Char('.')) && !result.left(result.size() - 1).contains(u'.'))
        result.chop(1);
    return result;
}

CopyOutcome::CopyOutcome(CopyResult r) : result(r) {
    switch (r) {
        case CopyResult::ReadFailed:
        case CopyResult::WriteFailed:
        case CopyResult::CouldNotPutInPlace:
            error = win::Normalised(::GetLastError());
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Paths by name

namespace disk {

bool ProbeWrite(const QByteArray& folder, const std::function<void()>& beforeRemoving) {
    const QByteArray base = folder.isEmpty() ? QByteArrayLiteral(".") : folder;
    const QByteArray prefix = base.endsWith('/') || base.endsWith('\\') ? base : base + '/';
    // A name that is not there yet, so an existing file is never appended to
    // or deleted by the test; deleted through its own handle.
    Handle file;
    for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
        const QByteArray probe =
            prefix + (attempt == 0 ? QByteArrayLiteral("writetest.dat")
                                   : "writetest" + QByteArray::number(attempt) + ".dat");
        file.reset(::CreateFileW(win::LongPath(probe).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
        const DWORD error = ::GetLastError();
        if (!file.valid() && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (!file.valid())
        return false;
    static const char kRecord[] = "\"Write test\"\r\n";
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file.native(), kRecord, DWORD(sizeof kRecord - 1), &written, nullptr) &&
        written == sizeof kRecord - 1;
    if (ok && beforeRemoving)
        beforeRemoving();
    win::DeleteByHandle(file.native());
    return ok;
}

void MakeFolderPath(const QByteArray& path) {
    const qsizetype last = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    if (last <= 0)
        return;
    const QByteArray folder = path.left(last);
    // Usually the folder or its parent is there: one call settles it.
    if (::CreateDirectoryW(win::LongPath(folder).c_str(), nullptr) ||
        win::Normalised(::GetLastError()) != ERROR_FILE_NOT_FOUND)
        return;
    for (qsizetype i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder.at(i) == '/' || folder.at(i) == '\\') {
            // A drive ("C:") or a share's root is no folder to make.
            const QByteArray part = folder.left(i);
            if (!part.endsWith(':'))
                ::CreateDirectoryW(win::LongPath(part).c_str(), nullptr);
        }
    }
}

int AccessForWriting(const QByteArray& path) {
    // Opening for adding entries asks the folder's ACL without writing.
    const Handle folder(
        ::CreateFileW(win::LongPath(path).c_str(),
                      FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                      win::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid())
        return win::LastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder.native(), &info))
        return win::LastError();
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
}

}  // namespace disk

}  // namespace zandrel::fs
