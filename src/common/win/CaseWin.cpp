// What a folder's file system keeps on Windows: letter case in names (none
// tells them apart, but for a folder marked case-sensitive, as a Linux
// subsystem may mark its own), and file ids.

#include "common/FileSystem.h"
#include "common/win/Nt.h"

namespace zandrel::fs {

namespace {

// FILE_CASE_SENSITIVE_INFO, which older headers hide.
constexpr FILE_INFO_BY_HANDLE_CLASS kCaseSensitiveInfo = FILE_INFO_BY_HANDLE_CLASS(23);
constexpr ULONG kCaseSensitiveDirectory = 0x1;
struct CaseSensitive {
    ULONG flags;
};

}  // namespace

bool IgnoresCase(const Folder& folder, bool) {
    if (!folder.valid() || folder.isVirtual())
        return false;
    CaseSensitive info{0};
    // Systems that cannot mark a folder case-sensitive ignore case in all.
    if (::GetFileInformationByHandleEx(folder.handle().native(), kCaseSensitiveInfo, &info,
                                       sizeof info))
        return (info.flags & kCaseSensitiveDirectory) == 0;
    return true;
}

// NTFS and ReFS give a file one id for its life; FAT's and exFAT's come from
// where its entry lies, and others cannot be vouched for.
bool KeepsInodeNumbers(const Folder& folder) {
    if (!folder.valid() || folder.isVirtual())
        return true;
    wchar_t type[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(folder.handle().native(), nullptr, 0, nullptr, nullptr,
                                         nullptr, type, MAX_PATH + 1))
        return false;
    return ::lstrcmpiW(type, L"NTFS") == 0 || ::lstrcmpiW(type, L"ReFS") == 0;
}

}  // namespace zandrel::fs
