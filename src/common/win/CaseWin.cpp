// Whether a folder's file system tells names apart by letter case on
// Windows: none does, but for a folder marked case-sensitive (as a Linux
// subsystem may mark its own).

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

bool IgnoresCase(const Folder& folder) {
    if (!folder.valid() || folder.isVirtual())
        return false;
    CaseSensitive info{0};
    // Systems that cannot mark a folder case-sensitive ignore case in all.
    if (::GetFileInformationByHandleEx(folder.handle().native(), kCaseSensitiveInfo, &info,
                                       sizeof info))
        return (info.flags & kCaseSensitiveDirectory) == 0;
    return true;
}

}  // namespace zandrel::fs
