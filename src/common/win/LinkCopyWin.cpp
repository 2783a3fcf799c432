// Links copied as links on Windows: a symbolic link's or a junction's
// reparse data is read as it is and set on a new file or folder under a
// fresh hidden name, which then takes the real name. The link is never
// followed, so what it leads to is never read.

#include <QString>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/Disk.h"
#include "common/FileSystem.h"
#include "common/win/Nt.h"
#include "common/win/TakeName.h"

namespace zandrel::fs {

namespace {

// The reparse data's header and the two link forms' fields (ntifs.h's
// REPARSE_DATA_BUFFER, which the user-mode headers lack).
struct ReparseHeader {
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
};
struct LinkFields {
    USHORT substituteOffset;
    USHORT substituteLength;
    USHORT printOffset;
    USHORT printLength;
};

QByteArray FreshLinkName() {
    return naming::FreshTemporaryName("link");
}

// The reparse data of the link held open at handle; empty when there is none.
std::vector<unsigned char> ReparseData(HANDLE handle) {
    std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!::DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                           DWORD(data.size()), &got, nullptr) ||
        got < sizeof(ReparseHeader))
        return {};
    data.resize(got);
    return data;
}

// The text people see for a link: its print name, else its substitute name.
QByteArray LinkTextOf(const std::vector<unsigned char>& data) {
    if (data.size() < sizeof(ReparseHeader) + sizeof(LinkFields))
        return {};
    ReparseHeader header;
    LinkFields fields;
    std::memcpy(&header, data.data(), sizeof header);
    std::memcpy(&fields, data.data() + sizeof header, sizeof fields);
    // A symbolic link has a flags word before its path buffer; a junction
    // has none.
    std::size_t paths = sizeof header + sizeof fields;
    if (header.tag == IO_REPARSE_TAG_SYMLINK)
        paths += sizeof(ULONG);
    else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT)
        return {};
    const auto take = [&](USHORT offset, USHORT length) -> QByteArray {
        if (length == 0 || paths + offset + length > data.size())
            return {};
        std::vector<wchar_t> text(length / sizeof(wchar_t));
        std::memcpy(text.data(), data.data() + paths + offset, text.size() * sizeof(wchar_t));
        QByteArray utf8 = win::Utf8(text.data(), text.size());
        utf8.replace('\\', '/');
        return utf8;
    };
    QByteArray text = take(fields.printOffset, fields.printLength);
    if (text.isEmpty()) {
        text = take(fields.substituteOffset, fields.substituteLength);
        // The native form of a whole path, "\??\C:\x", as people write it.
        if (text.startsWith("/\?\?/"))
            text.remove(0, 4);
    }
    return text;
}

// A new link under a fresh hidden name in dir with the reparse data given,
// held open as itself: a folder with the data for a link to a folder, a file
// for one to a file. Without the right to set a symbolic link's data (a user
// in developer mode), the system makes it from its text by the folder's path.
Handle MakeLink(HANDLE dir, const std::vector<unsigned char>& data, bool toFolder, DWORD attributes,
                int& error) {
    win::OpenRequest make;
    make.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    make.share = 0;
    make.disposition = win::kCreate;
    make.options = toFolder ? win::kDirectory : win::kNonDirectory;
    make.attributes = attributes & win::kCopiedAttributes;
    Handle hidden;
    for (int attempt = 0; attempt < 10 && !hidden.valid(); ++attempt) {
        hidden.reset(win::OpenAt(dir, FreshLinkName(), make, error));
        if (!hidden.valid() && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return Handle();
    }
    if (!hidden.valid())
        return Handle();
    DWORD returned = 0;
    if (::DeviceIoControl(hidden.native(), FSCTL_SET_REPARSE_POINT,
                          const_cast<unsigned char*>(data.data()), DWORD(data.size()), nullptr, 0,
                          &returned, nullptr))
        return hidden;
    error = win::LastError();
    win::DeleteByHandle(hidden.native());
    hidden.reset();
    ReparseHeader header;
    std::memcpy(&header, data.data(), sizeof header);
    const QByteArray text = LinkTextOf(data);
    if (error != ERROR_PRIVILEGE_NOT_HELD || header.tag != IO_REPARSE_TAG_SYMLINK || text.isEmpty())
        return Handle();
    const std::wstring folder = win::FinalPath(dir);
    if (folder.empty()) {
        error = win::LastError();
        return Handle();
    }
    std::wstring target = win::Wide(text);
    std::replace(target.begin(), target.end(), L'/', L'\\');
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = FreshLinkName();
        if (!::CreateSymbolicLinkW((folder + L'\\' + win::Wide(name)).c_str(), target.c_str(),
                                   (toFolder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | kUnprivileged)) {
            error = win::LastError();
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                continue;
            return Handle();
        }
        // Held as itself, and only while it is the link just made.
        win::OpenRequest open;
        open.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
        open.options = win::kNoReparse;
        hidden.reset(win::OpenAt(dir, name, open, error));
        win::Stat st;
        if (hidden.valid() &&
            (win::StatOf(hidden.native(), st) != 0 || win::KindOf(st) != FileKind::Link)) {
            hidden.reset();
            error = error::kReplaced;
        }
        if (hidden.valid() && (attributes & win::kCopiedAttributes))
            win::SetAttributes(hidden.native(), attributes & win::kCopiedAttributes);
        return hidden;
    }
    return Handle();
}

}  // namespace

// A volume without reparse points (FAT, exFAT) holds no links.
int LinksRefused(const Folder& folder) {
    if (!folder.valid() || folder.isVirtual() || !folder.handle().valid())
        return 0;
    DWORD flags = 0;
    if (!::GetVolumeInformationByHandleW(folder.handle().native(), nullptr, 0, nullptr, nullptr,
                                         &flags, nullptr, 0))
        return 0;
    return (flags & FILE_SUPPORTS_REPARSE_POINTS) ? 0 : ERROR_NOT_SUPPORTED;
}

namespace disk {

QByteArray LinkText(const Folder& folder, const char* name) {
    if (!folder.handle().valid())
        return {};
    win::OpenRequest request;
    request.options = win::kNoReparse;
    int error = 0;
    const Handle link(win::OpenAt(folder.handle().native(), name, request, error));
    win::Stat st;
    if (!link.valid() || win::StatOf(link.native(), st) != 0 || win::KindOf(st) != FileKind::Link)
        return {};
    return LinkTextOf(ReparseData(link.native()));
}

CopyOutcome CopyLink(const Folder& folder, const char* name, const FileInfo& seen,
                     const CopyRequest& request, FileIdentity* placed) {
    if (!folder.valid() || !request.destination || !request.destination->valid())
        return {CopyResult::ReadFailed, ERROR_INVALID_HANDLE};
    const HANDLE to = request.destination->handle().native();
    win::OpenRequest open;
    open.options = win::kNoReparse;
    int error = 0;
    const Handle link(win::OpenAt(folder.handle().native(), name, open, error));
    if (!link.valid())
        return {CopyResult::ReadFailed, error};
    win::Stat st;
    if ((error = win::StatOf(link.native(), st)) != 0)
        return {CopyResult::ReadFailed, error};
    if (win::KindOf(st) != FileKind::Link || !(win::IdentityOf(st) == seen.identity))
        return CopyResult::SourceChanged;
    if (request.seen.exists() && request.seen.identity == seen.identity)
        return CopyResult::SameFile;
    const std::vector<unsigned char> data = ReparseData(link.native());
    if (data.empty())
        return CopyResult::ReadFailed;

    const bool toFolder = (st.by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Handle hidden = MakeLink(to, data, toFolder, st.by.dwFileAttributes, error);
    if (!hidden.valid())
        return {CopyResult::WriteFailed, error};
    const auto discard = [&](CopyOutcome outcome) {
        win::DeleteByHandle(hidden.native());
        return outcome;
    };
    win::Stat made;
    if ((error = win::StatOf(hidden.native(), made)) != 0)
        return discard({CopyResult::WriteFailed, error});
    // The link's own times; where the destination cannot keep them the link
    // is still a copy of it.
    FILE_BASIC_INFO times{};
    times.CreationTime = st.basic.CreationTime;
    times.LastAccessTime = st.basic.LastAccessTime;
    times.LastWriteTime = st.basic.LastWriteTime;
    ::SetFileInformationByHandle(hidden.native(), FileBasicInfo, &times, sizeof times);

    // The name as decided: a free one is never taken by replacing.
    const CopyOutcome taken =
        naming::TakeName(to, hidden.native(), request.name, request.seen, &seen.identity);
    if (!taken.ok())
        return discard(taken);
    if (placed)
        *placed = win::IdentityOf(made);
    return CopyResult::Copied;
}

}  // namespace disk

}  // namespace zandrel::fs
